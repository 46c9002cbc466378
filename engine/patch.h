// A patch: the module's four settings, the render's rate, block sizes and length, and one
// signal per input. It comes from three layers, each overriding the one before: the built-in
// default patch, an optional patch file (JSON) and the command line. Both of the last two use
// the same keys (the long option names without their dashes) and the same value syntax.
#pragma once

#include <stdint.h>

#include <array>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "error.h"
#include "module/plugs.h"
#include "signal.h"

namespace fourwave::engine {

// One input of the module as a patch names it.
struct InputKey {
    const char *key;  // patch key and long option name
    int32_t plug;     // module plug number
    const char *help; // one line for --help
};

// In the order the help lists them.
inline constexpr std::array<InputKey, 12> kInputKeys = {{
    {"pitch", PITCH_INPUT, "Pitch: 1 V/octave, 5 V = 440 Hz (or 1 V/kHz)"},
    {"width", WIDTH_INPUT, "Pulse width, 0-10 V (5 V: a square)"},
    {"ramp-level", RAMP_LEVEL_INPUT, "Ramp Out level, -10-10 V"},
    {"saw-level", SAW_LEVEL_INPUT, "Saw Out level, -10-10 V"},
    {"pulse-level", PULSE_LEVEL_INPUT, "Pulse Out level, -10-10 V"},
    {"triangle-level", TRIANGLE_LEVEL_INPUT, "Triangle Out level, -10-10 V"},
    {"sync", SYNC_INPUT, "Sync: every rise above 0 V is an edge"},
    {"sync-threshold", SYNC_THRESHOLD_INPUT, "0 V hard sync, 2-8 V soft sync, 10 V none"},
    {"sync-advance", SYNC_ADVANCE_INPUT, "Phase after an edge, per 10 V of Sync, -20-20 V"},
    {"phase", PHASE_INPUT, "Phase modulation signal, 0-10 V (with --pm on)"},
    {"phase-mod", PHASE_MOD_INPUT, "Phase modulation depth, 0-10 V (with --pm on)"},
    {"active", ACTIVE_INPUT, "Gate: 0 V silences the module, which then sleeps"},
}};

// The settings' keys: shape, freq-scale, fm, pm, rate, block, seconds, seed.
extern const std::vector<std::string> kSettingKeys;

struct Patch {
    int16_t shape = SHAPE_PERFECT2;
    int16_t freqScale = FREQ_SCALE_VOLT_PER_OCTAVE;
    int16_t fmMode = FM_DISABLE;
    int16_t pmMode = PM_DISABLE;
    int32_t sampleRateHz = 48000;
    int32_t blockFrames = 64;  // the fixed block size, or the largest with randomBlocks
    bool randomBlocks = false; // block sizes drawn from 1 to blockFrames
    uint32_t seed = 1;         // of the random block sizes
    double seconds = 2.0;
    std::array<Signal, kInputKeys.size()> inputs; // in kInputKeys order

    int64_t frames() const;
};

// The built-in default patch: a 2-second Pitch sweep from 2 V to 9 V, shape Perfect 2,
// 48 kHz, blocks of 64, all four levels and Width at 5 V, Active on (10 V).
Patch defaultPatch();
extern const char *const kDefaultPatchJson;

// Sets `key` from a JSON value (a number or a string). `where` names the place in the error's
// message ("option --pitch", "patch.json, key \"pitch\"").
Error applySetting(Patch &patch, const std::string &key, const nlohmann::json &value,
                   const std::string &where);
// Reads a patch file over `patch`; an error names the file (and the key).
Error applyPatchFile(Patch &patch, const std::string &path);
// The object form of a JSON patch text, applied over `patch`; `source` names it in messages.
// On an error `patch` may have taken the keys before the one named.
Error applyPatchJson(Patch &patch, const std::string &text, const std::string &source);

// A patch renders whole only from one frame up to what a host clock counts (below 2^31); the
// error names `where` ("option --seconds") and the length at the patch's rate.
Error checkLength(const Patch &patch, const std::string &where);

// Names for messages and tables.
const char *shapeName(int16_t shape);
// Parses a shape name (perfect, perfect2, bright, medium, dark); false if it is none.
bool parseShape(const std::string &name, int16_t *shape);

} // namespace fourwave::engine
