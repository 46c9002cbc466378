// Alias-to-signal ratio and DC offset of a steady tone.
#include "analysis.h"

#include <algorithm>
#include <cmath>

#include <fftw3.h>

namespace fourwave::apps {

namespace {

constexpr double kTwoPi = 6.283185307179586;
// Blackman-Harris, 4 terms: the main lobe spans +-4 bins. A harmonic owns +-kHarmonicBins
// around its predicted bin, which also absorbs the phase accumulator's tiny frequency drift.
constexpr double kWindow[4] = {0.35875, 0.48829, 0.14128, 0.01168};
constexpr int32_t kHarmonicBins = 8;
constexpr double kSilentEnergy = 1e-20;

} // namespace

ToneAnalyser::ToneAnalyser() : window_(kAnalysisFrames) {
    for (int32_t i = 0; i < kAnalysisFrames; ++i) {
        const double x = kTwoPi * i / kAnalysisFrames;
        window_[static_cast<size_t>(i)] = kWindow[0] - kWindow[1] * std::cos(x) +
                                          kWindow[2] * std::cos(2 * x) -
                                          kWindow[3] * std::cos(3 * x);
    }
    in_ = fftw_alloc_real(kAnalysisFrames);
    fftw_complex *out = fftw_alloc_complex(kAnalysisFrames / 2 + 1);
    out_ = out;
    plan_ = fftw_plan_dft_r2c_1d(kAnalysisFrames, in_, out, FFTW_ESTIMATE);
}

ToneAnalyser::~ToneAnalyser() {
    fftw_destroy_plan(static_cast<fftw_plan>(plan_));
    fftw_free(out_);
    fftw_free(in_);
}

ToneMeasurement ToneAnalyser::measure(const float *samples, double fundamentalHz,
                                      double sampleRateHz) {
    ToneMeasurement result;
    double weighted = 0.0, weights = 0.0;
    for (int32_t i = 0; i < kAnalysisFrames; ++i) {
        const double w = window_[static_cast<size_t>(i)];
        weighted += w * samples[i];
        weights += w;
    }
    const double mean = weighted / weights;
    result.dcVolts = mean * 10.0;

    // The mean goes before the FFT so that a DC offset's window lobe does not count.
    for (int32_t i = 0; i < kAnalysisFrames; ++i)
        in_[i] = (samples[i] - mean) * window_[static_cast<size_t>(i)];
    fftw_execute(static_cast<fftw_plan>(plan_));
    const fftw_complex *out = static_cast<const fftw_complex *>(out_);

    const int32_t bins = kAnalysisFrames / 2 + 1;
    std::vector<bool> harmonic(static_cast<size_t>(bins), false);
    const double binHz = sampleRateHz / kAnalysisFrames;
    for (double f = fundamentalHz; f < sampleRateHz / 2 && fundamentalHz > 0; f += fundamentalHz) {
        const int32_t centre = static_cast<int32_t>(std::lround(f / binHz));
        for (int32_t k = centre - kHarmonicBins; k <= centre + kHarmonicBins; ++k)
            if (k > kHarmonicBins && k < bins) harmonic[static_cast<size_t>(k)] = true;
    }
    double harmonicEnergy = 0.0, aliasEnergy = 0.0;
    for (int32_t k = kHarmonicBins + 1; k < bins; ++k) {
        const double energy = out[k][0] * out[k][0] + out[k][1] * out[k][1];
        (harmonic[static_cast<size_t>(k)] ? harmonicEnergy : aliasEnergy) += energy;
    }
    if (harmonicEnergy < kSilentEnergy) {
        result.silent = true;
        return result;
    }
    // An alias floor of exactly nothing would be -inf; the float signal cannot get there
    // anyway, but keep the table printable.
    result.aliasToSignalDb = 10.0 * std::log10(std::max(aliasEnergy, 1e-30) / harmonicEnergy);
    return result;
}

} // namespace fourwave::apps
