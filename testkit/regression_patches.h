// The reference-output patches: a fixed set, rendered through every routine of the build's
// flavour, each render's four outputs and final oscillator state hashed. The regression test
// compares the hashes with the recorded ones; the web build's reference dump records every
// sample of the same renders, to compare a WebAssembly build with a native one.
//
// The patches drive every branch the routines have: levels that step, vanish and exceed the
// limit, widths in and outside (0, 1), pitches below, inside and above the crossfade bands
// (thresholds exactly), per-sample and per-pair pitch, phase modulation with ordinary and absurd
// depths, sync edges, inactive samples inside blocks, winding down through plug-state events,
// 1 V/kHz with negative frequencies, NaN and infinite inputs, and block sizes from 1 to 1024 in
// an irregular order.
#pragma once

#include <stdint.h>

#include <iterator>
#include <string>
#include <vector>

#include "session.h"

namespace fourwave::regression {

// What a patch feeds the inputs with; each is a fixed function of the sample's clock.
enum class PitchSignal {
    Sweep,      // 0.15 to 0.95 and back, held for 3 samples at a time, crossing every band
    Thresholds, // the sweep, with stretches held exactly at each shape's band limits
    Khz,        // -0.3 to 0.5 at 1 V/kHz: negative increments too
    Hostile,    // the sweep with NaN, infinite and huge stretches
};

struct RegressionPatch {
    const char *name;
    int16_t fmMode;
    int16_t pmMode;
    int16_t freqScale;
    float sampleRate;
    PitchSignal pitch;
    bool sync;          // sync pulses (otherwise Sync stays 0)
    bool phaseSignal;   // a Phase input that moves (otherwise 0)
    bool hostileInputs; // NaN, infinities and absurd depths on the other inputs too
    bool windDown;      // Active switched off and on with plug-state events
};

constexpr RegressionPatch kPatches[] = {
    // name            fm pm  scale  rate     pitch                    sync   phase  hostile wind
    {"plain", 0, 0, 0, 44100.0f, PitchSignal::Thresholds, true, false, false, false},
    {"plain-khz", 0, 0, 1, 48000.0f, PitchSignal::Khz, true, false, false, false},
    {"fm-enable", 1, 0, 0, 44100.0f, PitchSignal::Thresholds, true, false, false, false},
    {"fm-half", 2, 0, 0, 48000.0f, PitchSignal::Sweep, false, false, false, false},
    {"pm", 0, 1, 0, 44100.0f, PitchSignal::Thresholds, false, true, false, false},
    {"fm-enable-pm", 1, 1, 0, 48000.0f, PitchSignal::Sweep, true, true, false, false},
    {"fm-half-pm", 2, 1, 1, 44100.0f, PitchSignal::Khz, true, true, false, false},
    {"wind-down", 0, 0, 0, 44100.0f, PitchSignal::Sweep, true, false, false, true},
    {"wind-down-fm", 1, 1, 0, 44100.0f, PitchSignal::Thresholds, false, true, false, true},
    {"hostile", 1, 1, 0, 44100.0f, PitchSignal::Hostile, true, true, true, false},
    {"hostile-plain", 0, 0, 0, 48000.0f, PitchSignal::Hostile, true, false, true, false},
};

constexpr int16_t kShapeCount = static_cast<int16_t>(std::size(kShapeChoices));

struct Rendered {
    std::string key;    // shape/patch
    uint64_t hashes[5]; // ramp, saw, pulse, triangle, final state
    std::vector<std::string> violations;
};

constexpr const char *kOutputNames[] = {"Ramp Out", "Saw Out", "Pulse Out", "Triangle Out",
                                        "final state"};

// One patch through one shape, with the linked module; `take` sees every block's outputs after
// they were hashed.
Rendered render(int16_t shape, const RegressionPatch &patch, const test::BlockStep &take = {});

} // namespace fourwave::regression
