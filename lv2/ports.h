// The LV2 plug-ins' ports, made from the module's plug table (module/plugs.h) for the wrapper
// (fourwave_lv2.cpp), the program that writes the bundle's Turtle (make_ttl.cpp) and our lilv
// test host, so that they cannot disagree.
//
// The bundle holds two plug-ins on one module:
//   - the instrument, for DAWs: the four settings, the twelve inputs as controls in volts, a
//     pitch-bend range, a MIDI input, a stereo main output (the sum of the four waveforms)
//     and the four waveforms as outputs of their own;
//   - the modular plug-in, for hosts that patch CV: the four settings, the twelve controls, the
//     same twelve as CV inputs on the module's scale (1.0 = 10 V) added to their controls, and
//     the four waveforms.
// The settings, inputs and outputs are in the plug table's panel order, as the fourwave CLI's
// options are.
#pragma once

#include <stdint.h>

#include <iterator>
#include <string>

#include "module/plugs.h"
#include "sdk/host_scale.h"

namespace fourwave::lv2 {

// Both plug-ins' URIs, and the prefix of the bundle's own resources (port groups, the unit).
inline constexpr const char *kBundleUri = "https://tovik.example/plugins/fourwave";

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

// The module's plugs as ports, in panel order (module/plugs.h): the four settings as integer
// controls with a scale point per choice, the twelve inputs as controls in volts, the four
// waveform outputs. Names, ranges, choices and help come from the plug table. A port's symbol
// is its plug's key with '_' for '-', an output's with "_out" after it (ramp_out), as its name
// ends in Out.
inline constexpr auto kSettings = kPanelSettings;
inline constexpr auto kInputs = kPanelInputs;
inline constexpr auto kOutputs = kPanelOutputs;
inline constexpr int kSettingCount = static_cast<int>(kSettings.size());
inline constexpr int kInputCount = static_cast<int>(kInputs.size());
inline constexpr int kOutputCount = static_cast<int>(kOutputs.size());
enum SettingIndex { kShapeSetting, kFreqScaleSetting, kFmSetting, kPmSetting };
static_assert(kSettings[kShapeSetting] == SHAPE_SETTING &&
              kSettings[kFreqScaleSetting] == FREQ_SCALE_SETTING &&
              kSettings[kFmSetting] == FM_MODE_SETTING && kSettings[kPmSetting] == PM_MODE_SETTING);

inline std::string portSymbol(Plug plug) {
    std::string symbol = plugInfo(plug).key;
    for (char &c : symbol)
        if (c == '-') c = '_';
    return kindOf(plugInfo(plug)) == PlugKind::Output ? symbol + "_out" : symbol;
}

// The plug's name, except the FM setting's: the about text's short name, "FM". (The about text
// also calls the phase modulation setting "Phase Mod", but that is already the name of an
// input, so that setting keeps its plug's name.)
inline const char *portName(Plug plug) {
    return plug == FM_MODE_SETTING ? "FM" : plugInfo(plug).name;
}

inline constexpr int groupOf(Plug input) {
    switch (input) {
    case RAMP_LEVEL_INPUT:
    case SAW_LEVEL_INPUT:
    case PULSE_LEVEL_INPUT:
    case TRIANGLE_LEVEL_INPUT: return kLevelsGroup;
    case SYNC_INPUT:
    case SYNC_THRESHOLD_INPUT:
    case SYNC_ADVANCE_INPUT: return kSyncGroup;
    case PHASE_INPUT:
    case PHASE_MOD_INPUT: return kPhaseGroup;
    default: return kOscillatorGroup;
    }
}

// Where a plug-in's controls deliberately start elsewhere than the module's defaults. Both
// start Pitch at 5 V, note 69 at 440 Hz. The modular plug-in sounds at once on all four outputs
// (every level 5 V, Active 10 V). The instrument waits for notes (the module's Active, 0 V),
// and its main output, the sum of the four waveforms, is at first Pulse Out alone, as the
// module's own levels are (Pulse 5 V, the others 0 V): a pair of waveforms at equal levels
// cancels somewhere (Ramp is Saw upside down; in Perfect 2, Saw and Triangle lose three
// quarters of their fundamental at 110 Hz, Ramp and Triangle more than half at 1760 Hz), while
// the pulse keeps its fundamental at every pitch.
struct DefaultOverride {
    Plug plug;
    float volts;
};
inline constexpr DefaultOverride kInstrumentDefaults[] = {{PITCH_INPUT, 5}};
inline constexpr DefaultOverride kModularDefaults[] = {
    {PITCH_INPUT, 5},       {RAMP_LEVEL_INPUT, 5},     {SAW_LEVEL_INPUT, 5},
    {PULSE_LEVEL_INPUT, 5}, {TRIANGLE_LEVEL_INPUT, 5}, {ACTIVE_INPUT, 10}};

// The instrument's own words for the two inputs its notes drive.
struct CommentOverride {
    Plug plug;
    const char *comment;
};
inline constexpr CommentOverride kInstrumentComments[] = {
    {PITCH_INPUT, "The pitch of MIDI note 69 (A4), which the other notes follow: 1 V per "
                  "octave, 5 V = 440 Hz; or 1 V per kHz (Freq Scale)"},
    {ACTIVE_INPUT, "0 V: the notes open and close the gate; above 0 V the oscillator also "
                   "sounds without a note (a drone)"},
};

// The instrument's main output, left and right: both carry the same mono sum.
struct MainOutputInfo {
    const char *symbol;
    const char *name;
};
inline constexpr MainOutputInfo kMainOutputs[] = {{"main_left", "Main Left"},
                                                  {"main_right", "Main Right"}};

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
    const DefaultOverride *defaults;
    int defaultCount;
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
                                        kSettingCount + kInputCount + 4 + kOutputCount,
                                        kInstrumentDefaults,
                                        static_cast<int>(std::size(kInstrumentDefaults))};
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
                                     kSettingCount + 2 * kInputCount + kOutputCount,
                                     kModularDefaults,
                                     static_cast<int>(std::size(kModularDefaults))};
inline constexpr const PluginInfo *kPlugins[] = {&kInstrument, &kModular};
inline constexpr int kPluginCount = 2;
inline constexpr int kMaxPortCount = kModular.portCount;

// An input control's default in a plug-in: its override, else the module's own.
inline float defaultVolts(const PluginInfo &plugin, Plug input) {
    for (int i = 0; i < plugin.defaultCount; ++i)
        if (plugin.defaults[i].plug == input) return plugin.defaults[i].volts;
    return defaultValue(plugInfo(input));
}

// A control's comment in a plug-in: the plug table's help, or the instrument's own words.
inline const char *commentOf(const PluginInfo &plugin, Plug plug) {
    for (const CommentOverride &own : kInstrumentComments)
        if (plugin.instrument && own.plug == plug) return own.comment;
    return plugInfo(plug).help;
}

// The module's scale: 1.0 stands for 10 V.
inline float plugValueOfVolts(float volts) {
    return static_cast<float>(static_cast<double>(volts) / static_cast<double>(kVoltsPerUnit));
}

} // namespace fourwave::lv2
