// Steady-tone measurements: how far each output is from a clean periodic signal.
//
// The alias-to-signal ratio compares the energy away from the harmonics of the fundamental
// (aliases folded back from above half the sample rate, and any other spurious tone) with the
// energy on the harmonics, from one 4-term Blackman-Harris windowed FFT (side lobes below
// -92 dB, so leakage of the harmonics does not pass for aliasing). The DC offset is the
// window-weighted mean.
#pragma once

#include <stdint.h>

#include <vector>

namespace fourwave::apps {

// The FFT length of a measurement, and the frames a render skips before it (the first block's
// pitch update and the wrap of the initial phase).
constexpr int32_t kAnalysisFrames = 1 << 16;
constexpr int32_t kAnalysisSettleFrames = 4096;

struct ToneMeasurement {
    bool silent = false;          // no energy on the harmonics
    double aliasToSignalDb = 0.0; // 10 log10(alias energy / harmonic energy)
    double dcVolts = 0.0;
};

// Measures `samples` (plug scale, kAnalysisFrames long) of a tone at `fundamentalHz`.
class ToneAnalyser {
public:
    ToneAnalyser();
    ~ToneAnalyser();
    ToneAnalyser(const ToneAnalyser &) = delete;
    ToneAnalyser &operator=(const ToneAnalyser &) = delete;

    ToneMeasurement measure(const float *samples, double fundamentalHz, double sampleRateHz);

private:
    std::vector<double> window_;
    double *in_;
    void *out_; // fftw_complex[kAnalysisFrames / 2 + 1]
    void *plan_;
};

} // namespace fourwave::apps
