// The frequency the module plays for a constant Pitch value, for the tools that look for its
// harmonics (`fourwave analyze`, the page's alias-to-signal table).
#pragma once

#include <stdint.h>

namespace fourwave::engine {

// `pitch` in plug scale (1.0 = 10 V). The oscillator core's own pitch update (conversion,
// octave folding, phase increment) in single precision, so that the harmonics are looked for
// where they are.
double moduleFrequencyHz(float pitch, bool voltPerKhz, int32_t sampleRateHz);

} // namespace fourwave::engine
