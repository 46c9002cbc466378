// The LV2 plug-ins' ports, one table for the wrapper (fourwave_lv2.cpp), the program that
// writes the bundle's Turtle (make_ttl.cpp) and our lilv test host, so that they cannot
// disagree.
//
// The bundle holds two plug-ins on one module:
//   - the instrument, for DAWs: the four settings, the twelve inputs as controls in volts, a
//     pitch-bend range, a MIDI input, a stereo main output (the sum of the four waveforms)
//     and the four waveforms as outputs of their own;
//   - the modular plug-in, for hosts that patch CV: the four settings, the twelve controls, the
//     same twelve as CV inputs on the module's scale (1.0 = 10 V) added to their controls, and
//     the four waveforms.
// The inputs are in the order of the fourwave CLI's options.
#pragma once

#include <stdint.h>

#include "module/plugs.h"

namespace fourwave::lv2 {

// Both plug-ins' URIs, and the prefix of the bundle's own resources (port groups, the unit).
inline constexpr const char *kBundleUri = "https://tovik.example/plugins/fourwave";

struct ScalePoint {
    float value;
    const char *label;
};

enum class GroupKind { Input, Output, MainStereoOutput };
struct PortGroup {
    const char *symbol;
    const char *label;
    GroupKind kind;
};

inline constexpr PortGroup kGroups[] = {
    {"settings", "Settings", GroupKind::Input},
    {"oscillator", "Oscillator", GroupKind::Input},
    {"levels", "Levels", GroupKind::Input},
    {"sync", "Sync", GroupKind::Input},
    {"phase_modulation", "Phase Modulation", GroupKind::Input},
    {"cv", "CV Inputs", GroupKind::Input},
    {"notes", "Notes", GroupKind::Input},
    {"main", "Main", GroupKind::MainStereoOutput},
    {"outputs", "Outputs", GroupKind::Output},
};
enum GroupIndex {
    kSettingsGroup,
    kOscillatorGroup,
    kLevelsGroup,
    kSyncGroup,
    kPhaseGroup,
    kCvGroup,
    kNotesGroup,
    kMainGroup,
    kOutputsGroup
};

inline constexpr ScalePoint kShapes[] = {
    {0, "Perfect"}, {1, "Perfect 2"}, {2, "Bright"}, {3, "Medium"}, {4, "Dark"}};
inline constexpr ScalePoint kFreqScales[] = {{0, "1V/8ve"}, {1, "1V/KHz"}};
inline constexpr ScalePoint kFmModes[] = {{0, "Disable"}, {1, "Enable"}, {2, "Half"}};
inline constexpr ScalePoint kPmModes[] = {{0, "Disable"}, {1, "Enable"}};

// The twelve inputs: symbol, name, range and defaults in volts, and a line for a host's
// tooltip. The modular plug-in's defaults sound at once on all four outputs. The instrument
// waits for notes (Active 0 V), and its main output, the sum of the four waveforms, is at
// first Pulse Out alone, as the module's own levels are (Pulse 5 V, the others 0 V): a pair
// of waveforms at equal levels cancels somewhere (Ramp is Saw upside down; in Perfect 2, Saw
// and Triangle lose three quarters of their fundamental at 110 Hz, Ramp and Triangle more
// than half at 1760 Hz), while the pulse keeps its fundamental at every pitch.
struct InputInfo {
    int32_t plug;
    const char *symbol;
    const char *name;
    float minimum, maximum;
    float modularDefault, instrumentDefault;
    int group;
    const char *comment;
    const char *instrumentComment; // null: the same as `comment`
};
inline constexpr InputInfo kInputs[] = {
    {PITCH_INPUT, "pitch", "Pitch", -10, 10, 5, 5, kOscillatorGroup,
     "1 V per octave, 5 V = 440 Hz; or 1 V per kHz (Freq Scale)",
     "The pitch of MIDI note 69 (A4), which the other notes follow: 1 V per octave, 5 V = "
     "440 Hz; or 1 V per kHz (Freq Scale)"},
    {WIDTH_INPUT, "width", "Width", 0, 10, 5, 5, kOscillatorGroup,
     "Pulse width, 0-10 V: 5 V is a square", nullptr},
    {RAMP_LEVEL_INPUT, "ramp_level", "Ramp Level", -10, 10, 5, 0, kLevelsGroup,
     "Level of Ramp Out, -10-10 V: 5 V swings it between -0.25 and 0.25 (10 V: -0.5 to 0.5)",
     nullptr},
    {SAW_LEVEL_INPUT, "saw_level", "Saw Level", -10, 10, 5, 0, kLevelsGroup,
     "Level of Saw Out, -10-10 V", nullptr},
    {PULSE_LEVEL_INPUT, "pulse_level", "Pulse Level", -10, 10, 5, 5, kLevelsGroup,
     "Level of Pulse Out, -10-10 V", nullptr},
    {TRIANGLE_LEVEL_INPUT, "triangle_level", "Triangle Level", -10, 10, 5, 0, kLevelsGroup,
     "Level of Triangle Out, -10-10 V", nullptr},
    {SYNC_INPUT, "sync", "Sync", -10, 10, 0, 0, kSyncGroup,
     "Sync source: every rise above 0 V is an edge", nullptr},
    {SYNC_THRESHOLD_INPUT, "sync_threshold", "Sync Threshold", 0, 10, 0, 0, kSyncGroup,
     "0 V hard sync, 2-8 V soft sync, 10 V no sync", nullptr},
    {SYNC_ADVANCE_INPUT, "sync_advance", "Sync Advance", -20, 20, 0, 0, kSyncGroup,
     "Phase after a sync edge per 10 V of Sync, -20-20 V (typical: 0, 5, 10, 20 V)", nullptr},
    {PHASE_INPUT, "phase", "Phase", 0, 10, 0, 0, kPhaseGroup,
     "Phase modulation signal, 0-10 V (with Phase Modulation on)", nullptr},
    {PHASE_MOD_INPUT, "phase_mod", "Phase Mod", 0, 10, 5, 5, kPhaseGroup,
     "Phase modulation depth, 0-10 V (with Phase Modulation on)", nullptr},
    {ACTIVE_INPUT, "active", "Active", 0, 10, 10, 0, kOscillatorGroup,
     "Gate: 0 V silences the outputs and lets the oscillator rest",
     "0 V: the notes open and close the gate; above 0 V the oscillator also sounds without a "
     "note (a drone)"},
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

// The instrument's main output, left and right: both carry the same mono sum.
inline constexpr OutputInfo kMainOutputs[] = {{-1, "main_left", "Main Left"},
                                              {-1, "main_right", "Main Right"}};

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
enum SettingIndex { kShapeSetting, kFreqScaleSetting, kFmSetting, kPmSetting };

// The instrument's pitch-bend range, in semitones either way.
struct BendRangeInfo {
    const char *symbol = "bend_range";
    const char *name = "Bend Range";
    float minimum = 0, maximum = 24, defaultValue = 2;
    const char *comment = "How far the pitch wheel bends, in semitones either way";
};
inline constexpr BendRangeInfo kBendRange{};

// The two plug-ins and their port indices: the settings, the controls, then what each has of
// its own, then the four waveform outputs. A port a plug-in lacks has index -1.
struct PluginInfo {
    const char *uri;
    const char *name;
    bool instrument; // MIDI, bend range and main output; else the CV inputs
    int firstControl, bendRange, midiIn, firstCv, mainLeft, firstOutput, portCount;
};
inline constexpr PluginInfo kInstrument{"https://tovik.example/plugins/fourwave-instrument",
                                        "Tovik Fourwave",
                                        true,
                                        kSettingCount,
                                        kSettingCount + kInputCount,
                                        kSettingCount + kInputCount + 1,
                                        -1,
                                        kSettingCount + kInputCount + 2,
                                        kSettingCount + kInputCount + 4,
                                        kSettingCount + kInputCount + 4 + kOutputCount};
// The modular plug-in keeps the URI and the ports the bundle's first plug-in had.
inline constexpr PluginInfo kModular{kBundleUri,
                                     "Tovik Fourwave CV",
                                     false,
                                     kSettingCount,
                                     -1,
                                     -1,
                                     kSettingCount + kInputCount,
                                     -1,
                                     kSettingCount + 2 * kInputCount,
                                     kSettingCount + 2 * kInputCount + kOutputCount};
inline constexpr const PluginInfo *kPlugins[] = {&kInstrument, &kModular};
inline constexpr int kPluginCount = 2;
inline constexpr int kMaxPortCount = kModular.portCount;

inline float defaultVolts(const PluginInfo &plugin, const InputInfo &input) {
    return plugin.instrument ? input.instrumentDefault : input.modularDefault;
}

// The module's scale: 1.0 stands for 10 V.
inline float plugValueOfVolts(float volts) {
    return static_cast<float>(static_cast<double>(volts) / static_cast<double>(kVoltsPerUnit));
}

} // namespace fourwave::lv2
