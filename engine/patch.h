// A patch: the module's four settings, the render's rate, block sizes and length, and one
// signal per input. It comes from three layers, each overriding the one before: the built-in
// default patch, an optional patch file (JSON) and the command line. Both of the last two use
// the same keys (the long option names without their dashes) and the same value syntax.
#pragma once

#include <stdint.h>

#include <array>
#include <iterator>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "error.h"
#include "module/plugs.h"
#include "signal.h"

namespace fourwave::engine {

// The module's inputs in a patch, in panel order (the order of the help): the signal
// `Patch::inputs[i]` drives the plug `kPatchInputs[i]`, and the plug table gives its key.
inline constexpr auto kPatchInputs = kPanelInputs;

// The index of an input plug in kPatchInputs (and Patch::inputs).
constexpr size_t inputIndex(Plug plug) {
    size_t i = 0;
    while (i + 1 < kPatchInputs.size() && kPatchInputs[i] != plug) ++i;
    return i;
}

// Every key a patch may hold besides the inputs': the four settings' (in panel order), then
// the render's own: rate, block, seconds, seed.
extern const std::vector<std::string> kSettingKeys;

// A patch starts with the module's own defaults: its settings' choices here, its inputs at 0 V
// (defaultPatch() gives them the built-in patch's values).
struct Patch {
    int16_t shape = defaultChoice(SHAPE_SETTING);
    int16_t freqScale = defaultChoice(FREQ_SCALE_SETTING);
    int16_t fmMode = defaultChoice(FM_MODE_SETTING);
    int16_t pmMode = defaultChoice(PM_MODE_SETTING);
    int32_t sampleRateHz = 48000;
    int32_t blockFrames = 64;  // the fixed block size, or the largest with randomBlocks
    bool randomBlocks = false; // block sizes drawn from 1 to blockFrames
    uint32_t seed = 1;         // of the random block sizes
    double seconds = 2.0;
    std::array<Signal, kPatchInputs.size()> inputs; // in kPatchInputs order

    int64_t frames() const;
    Signal &input(Plug plug) { return inputs[inputIndex(plug)]; }
    const Signal &input(Plug plug) const { return inputs[inputIndex(plug)]; }
};

// Which member of a patch holds each setting's choice, in panel order.
struct PatchSetting {
    Plug plug;
    int16_t Patch::*choice;
};
inline constexpr PatchSetting kPatchSettings[] = {{SHAPE_SETTING, &Patch::shape},
                                                  {FREQ_SCALE_SETTING, &Patch::freqScale},
                                                  {FM_MODE_SETTING, &Patch::fmMode},
                                                  {PM_MODE_SETTING, &Patch::pmMode}};
static_assert(std::size(kPatchSettings) == kPanelSettings.size() &&
              kPatchSettings[0].plug == kPanelSettings[0] &&
              kPatchSettings[1].plug == kPanelSettings[1] &&
              kPatchSettings[2].plug == kPanelSettings[2] &&
              kPatchSettings[3].plug == kPanelSettings[3]);

// The built-in default patch: the module's own defaults, except where the CLI deliberately
// departs from them (patch.cpp: a Pitch sweep, the four levels up, Active on), so that it
// sounds at once on all four outputs; and its text, as a patch file would hold it.
Patch defaultPatch();
const std::string &defaultPatchJson();

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

// A setting's choice as patches name it: its key in the plug table ("perfect2"), or "" for a
// number outside the table. shapeName names any Shape as the module plays it, so from 4 on it
// is "dark".
const char *choiceKey(Plug setting, int16_t choice);
const char *shapeName(int16_t shape);
// Parses a setting's choice key; false if it is none.
bool parseChoice(Plug setting, const std::string &key, int16_t *choice);
// The keys of a setting's choices, separated by ", " and the last by `lastSeparator`.
std::string choiceList(Plug setting, const char *lastSeparator = ", ");

// The plug table as JSON, for the page and the guide: one object per plug in panel order, with
// its number, key, name, kind ("input", "output", "setting"), unit, range, the module's default
// (as the module describes it), the built-in patch's value, the choices (key and label), the
// list text and the help line.
nlohmann::json plugTableJson();

} // namespace fourwave::engine
