// The LV2 plug-in's ports, one table for the wrapper (fourwave_lv2.cpp) and for the program
// that writes the bundle's Turtle (make_ttl.cpp), so that the two cannot disagree.
//
// Index order: the four settings, the twelve inputs as controls in volts, the same twelve as
// optional CV ports on the module's scale (1.0 = 10 V), then the four outputs. The inputs are
// in the order of the fourwave CLI's options.
#pragma once

#include <stdint.h>

#include "module/plugs.h"

namespace fourwave::lv2 {

inline constexpr const char *kPluginUri = "https://tovik.example/plugins/fourwave";

struct ScalePoint {
    float value;
    const char *label;
};

struct PortGroup {
    const char *symbol;
    const char *label;
    bool output;
};

inline constexpr PortGroup kGroups[] = {
    {"settings", "Settings", false},
    {"oscillator", "Oscillator", false},
    {"levels", "Levels", false},
    {"sync", "Sync", false},
    {"phase_modulation", "Phase Modulation", false},
    {"cv", "CV Inputs", false},
    {"outputs", "Outputs", true},
};
enum GroupIndex {
    kSettingsGroup,
    kOscillatorGroup,
    kLevelsGroup,
    kSyncGroup,
    kPhaseGroup,
    kCvGroup,
    kOutputsGroup
};

inline constexpr ScalePoint kShapes[] = {
    {0, "Perfect"}, {1, "Perfect 2"}, {2, "Bright"}, {3, "Medium"}, {4, "Dark"}};
inline constexpr ScalePoint kFreqScales[] = {{0, "1V/8ve"}, {1, "1V/KHz"}};
inline constexpr ScalePoint kFmModes[] = {{0, "Disable"}, {1, "Enable"}, {2, "Half"}};
inline constexpr ScalePoint kPmModes[] = {{0, "Disable"}, {1, "Enable"}};

// The twelve inputs: symbol, name, range and default in volts (the defaults sound at once),
// and a line for a host's tooltip.
struct InputInfo {
    int32_t plug;
    const char *symbol;
    const char *name;
    float minimum, maximum, defaultValue;
    int group;
    const char *comment;
};
inline constexpr InputInfo kInputs[] = {
    {PITCH_INPUT, "pitch", "Pitch", -10, 10, 5, kOscillatorGroup,
     "1 V per octave, 5 V = 440 Hz; or 1 V per kHz (Freq Scale)"},
    {WIDTH_INPUT, "width", "Width", 0, 10, 5, kOscillatorGroup,
     "Pulse width, 0-10 V: 5 V is a square"},
    {RAMP_LEVEL_INPUT, "ramp_level", "Ramp Level", -10, 10, 5, kLevelsGroup,
     "Level of Ramp Out, -10-10 V: 5 V swings it between -0.5 and 0.5"},
    {SAW_LEVEL_INPUT, "saw_level", "Saw Level", -10, 10, 5, kLevelsGroup,
     "Level of Saw Out, -10-10 V"},
    {PULSE_LEVEL_INPUT, "pulse_level", "Pulse Level", -10, 10, 5, kLevelsGroup,
     "Level of Pulse Out, -10-10 V"},
    {TRIANGLE_LEVEL_INPUT, "triangle_level", "Triangle Level", -10, 10, 5, kLevelsGroup,
     "Level of Triangle Out, -10-10 V"},
    {SYNC_INPUT, "sync", "Sync", -10, 10, 0, kSyncGroup,
     "Sync source: every rise above 0 V is an edge"},
    {SYNC_THRESHOLD_INPUT, "sync_threshold", "Sync Threshold", 0, 10, 0, kSyncGroup,
     "0 V hard sync, 2-8 V soft sync, 10 V no sync"},
    {SYNC_ADVANCE_INPUT, "sync_advance", "Sync Advance", -20, 20, 0, kSyncGroup,
     "Phase after a sync edge per 10 V of Sync, -20-20 V (typical: 0, 5, 10, 20 V)"},
    {PHASE_INPUT, "phase", "Phase", 0, 10, 0, kPhaseGroup,
     "Phase modulation signal, 0-10 V (with Phase Modulation on)"},
    {PHASE_MOD_INPUT, "phase_mod", "Phase Mod", 0, 10, 5, kPhaseGroup,
     "Phase modulation depth, 0-10 V (with Phase Modulation on)"},
    {ACTIVE_INPUT, "active", "Active", 0, 10, 10, kOscillatorGroup,
     "Gate: 0 V silences the outputs and lets the oscillator rest"},
};
inline constexpr int kInputCount = static_cast<int>(sizeof kInputs / sizeof kInputs[0]);

struct OutputInfo {
    int32_t plug;
    const char *symbol;
    const char *name;
};
// In the order of the CLI's channels.
inline constexpr OutputInfo kOutputs[] = {{RAMP_OUTPUT, "ramp_out", "Ramp Out"},
                                          {SAW_OUTPUT, "saw_out", "Saw Out"},
                                          {PULSE_OUTPUT, "pulse_out", "Pulse Out"},
                                          {TRIANGLE_OUTPUT, "triangle_out", "Triangle Out"}};
inline constexpr int kOutputCount = 4;

// The settings, integer controls with one scale point per choice: named as the module's
// about text names them, except that "Phase Mod" is already the name of an input, so that
// setting takes its plug's name, "Phase Modulation".
struct SettingInfo {
    int32_t plug;
    const char *symbol;
    const char *name;
    int16_t defaultChoice;
    const ScalePoint *choices;
    int choiceCount;
};
inline constexpr SettingInfo kSettings[] = {
    {SHAPE_SETTING, "shape", "Shape", SHAPE_PERFECT2, kShapes, 5},
    {FREQ_SCALE_SETTING, "freq_scale", "Freq Scale", FREQ_SCALE_VOLT_PER_OCTAVE, kFreqScales, 2},
    {FM_MODE_SETTING, "fm", "FM", FM_DISABLE, kFmModes, 3},
    {PM_MODE_SETTING, "pm", "Phase Modulation", PM_DISABLE, kPmModes, 2},
};
inline constexpr int kSettingCount = 4;

// Port indices.
inline constexpr int kFirstControlPort = kSettingCount;
inline constexpr int kFirstCvPort = kFirstControlPort + kInputCount;
inline constexpr int kFirstOutputPort = kFirstCvPort + kInputCount;
inline constexpr int kPortCount = kFirstOutputPort + kOutputCount;

// The module's scale: 1.0 stands for 10 V.
inline float plugValueOfVolts(float volts) {
    return static_cast<float>(static_cast<double>(volts) / static_cast<double>(kVoltsPerUnit));
}

} // namespace fourwave::lv2
