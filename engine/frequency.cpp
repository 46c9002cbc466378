// The played frequency, from the oscillator core.
#include "frequency.h"

#include <limits>

#include "module/dsp/core.h"
#include "module/plugs.h"

namespace fourwave::engine {

double moduleFrequencyHz(float pitch, bool voltPerKhz, int32_t sampleRateHz) {
    const float rate = static_cast<float>(sampleRateHz);
    dsp::Oscillator oscillator = {};
    oscillator.invSampleRate = 1.0f / rate;
    oscillator.maxFrequency = rate * 0.25f; // a quarter of the rate, as the module sets it
    oscillator.freqScale = voltPerKhz ? FREQ_SCALE_VOLT_PER_KHZ : FREQ_SCALE_VOLT_PER_OCTAVE;
    oscillator.lastPitch = std::numeric_limits<float>::quiet_NaN(); // so that the update runs
    oscillator.updatePitch(pitch);
    return static_cast<double>(oscillator.phaseIncrement) * sampleRateHz;
}

} // namespace fourwave::engine
