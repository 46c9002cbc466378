// The module's plugs: their numbers, and the one table of every plug's facts (name, kind, key,
// range, default, choices, a line of help). The module's plug descriptions are filled from it,
// and every host of ours reads it: the render engine's patch keys, defaults and choices, the
// CLI's help, the LV2 plug-ins' ports and Turtle, the web page's controls (through the wasm
// module) and the guide (through `fourwave plugs --json`). A host whose default deliberately
// differs from the module's (one that should sound at once) says so in an override of its own,
// next to its code; the module's defaults stand here alone.
//
// The plug numbers are the pin numbers the host wires patches by and saves in them: never
// renumber one.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <array>
#include <type_traits>

#include "sdk/abi.h"

namespace fourwave {

enum Plug : int32_t {
    PITCH_INPUT = 0,
    WIDTH_INPUT = 1,
    SYNC_INPUT = 2,
    PHASE_INPUT = 3,
    PHASE_MOD_INPUT = 4,
    RAMP_LEVEL_INPUT = 5,
    SAW_LEVEL_INPUT = 6,
    PULSE_LEVEL_INPUT = 7,
    TRIANGLE_LEVEL_INPUT = 8,
    SYNC_THRESHOLD_INPUT = 9,
    SYNC_ADVANCE_INPUT = 10,
    ACTIVE_INPUT = 11,
    FM_MODE_SETTING = 12,
    PM_MODE_SETTING = 13,
    SHAPE_SETTING = 14,
    RAMP_OUTPUT = 15,
    SAW_OUTPUT = 16,
    PULSE_OUTPUT = 17,
    TRIANGLE_OUTPUT = 18,
    FREQ_SCALE_SETTING = 19,
    NUM_PLUGS = 20
};

// Choice numbers of the settings.
enum ShapeChoice : int16_t {
    SHAPE_PERFECT = 0,
    SHAPE_PERFECT2 = 1,
    SHAPE_BRIGHT = 2,
    SHAPE_MEDIUM = 3,
    SHAPE_DARK = 4
};
enum FmModeChoice : int16_t { FM_DISABLE = 0, FM_ENABLE = 1, FM_HALF = 2 };
enum PmModeChoice : int16_t { PM_DISABLE = 0, PM_ENABLE = 1 };
enum FreqScaleChoice : int16_t { FREQ_SCALE_VOLT_PER_OCTAVE = 0, FREQ_SCALE_VOLT_PER_KHZ = 1 };

// ---------------------------------------------------------------------------------------------
// The table

enum class PlugKind { Input, Output, Setting };

// One choice of a setting, at its choice number.
struct Choice {
    const char *key;   // in patches and on the command line: "perfect2"
    const char *label; // the name the module's list text gives it: "Perfect 2"
};

struct PlugInfo {
    Plug plug;
    // The patch key and long option of an input or setting ("ramp-level"), the channel name of
    // an output ("ramp"). The LV2 port symbols are these with '_' for '-'.
    const char *key;
    // The fields of the plug's description, as the module hands them to the host: the name,
    // direction and datatype, the default text (volts for an audio plug, a choice number for a
    // setting) and a setting's list text, which hosts parse and which must stay as it is.
    const char *name;
    int32_t direction;
    int32_t datatype;
    const char *defaultText;
    const char *listText;
    // The range in volts a host offers for an input's control (the module takes any value).
    float minimum, maximum;
    const Choice *choices; // a setting's, by choice number; null otherwise
    int32_t choiceCount;
    const char *help; // one line: what the plug does
};

inline constexpr Choice kShapeChoices[] = {{"perfect", "Perfect"},
                                           {"perfect2", "Perfect 2"},
                                           {"bright", "Bright"},
                                           {"medium", "Medium"},
                                           {"dark", "Dark"}};
inline constexpr Choice kFmModeChoices[] = {{"off", "Disable"}, {"on", "Enable"}, {"half", "Half"}};
inline constexpr Choice kPmModeChoices[] = {{"off", "Disable"}, {"on", "Enable"}};
inline constexpr Choice kFreqScaleChoices[] = {{"oct", "1 Volt/Octave"}, {"khz", "1 Volt/kHz"}};

namespace plug_rows {

constexpr PlugInfo row(Plug plug, const char *key, const char *name, int32_t direction,
                       int32_t datatype, const char *defaultText, const char *help) {
    PlugInfo info{};
    info.plug = plug;
    info.key = key;
    info.name = name;
    info.direction = direction;
    info.datatype = datatype;
    info.defaultText = defaultText;
    info.help = help;
    return info;
}
constexpr PlugInfo input(Plug plug, const char *key, const char *name, const char *defaultText,
                         float minimum, float maximum, const char *help) {
    PlugInfo info = row(plug, key, name, PLUG_DIRECTION_INPUT, DT_AUDIO, defaultText, help);
    info.minimum = minimum;
    info.maximum = maximum;
    return info;
}
constexpr PlugInfo output(Plug plug, const char *key, const char *name, const char *help) {
    return row(plug, key, name, PLUG_DIRECTION_OUTPUT, DT_AUDIO, "0", help);
}
template <size_t N>
constexpr PlugInfo setting(Plug plug, const char *key, const char *name, const char *defaultText,
                           const char *listText, const Choice (&choices)[N], const char *help,
                           int32_t direction = PLUG_DIRECTION_INPUT) {
    PlugInfo info = row(plug, key, name, direction, DT_ENUM, defaultText, help);
    info.listText = listText;
    info.choices = choices;
    info.choiceCount = static_cast<int32_t>(N);
    return info;
}

} // namespace plug_rows

// One row per plug, in plug-number order.
inline constexpr PlugInfo kPlugs[] = {
    plug_rows::input(PITCH_INPUT, "pitch", "Pitch", "1", -10, 10,
                     "1 V per octave, 5 V = 440 Hz; or 1 V per kHz (Freq Scale)"),
    plug_rows::input(WIDTH_INPUT, "width", "Width", "5", 0, 10, "Pulse width: 5 V is a square"),
    plug_rows::input(SYNC_INPUT, "sync", "Sync", "0", -10, 10,
                     "Sync source: every rise above 0 V is an edge"),
    plug_rows::input(PHASE_INPUT, "phase", "Phase", "0", 0, 10,
                     "Phase modulation signal (with Phase Modulation on)"),
    plug_rows::input(PHASE_MOD_INPUT, "phase-mod", "Phase Mod", "5", 0, 10,
                     "Phase modulation depth (with Phase Modulation on)"),
    plug_rows::input(RAMP_LEVEL_INPUT, "ramp-level", "Ramp Level", "0", -10, 10,
                     "Level of Ramp Out"),
    plug_rows::input(SAW_LEVEL_INPUT, "saw-level", "Saw Level", "0", -10, 10, "Level of Saw Out"),
    plug_rows::input(PULSE_LEVEL_INPUT, "pulse-level", "Pulse Level", "5", -10, 10,
                     "Level of Pulse Out"),
    plug_rows::input(TRIANGLE_LEVEL_INPUT, "triangle-level", "Triangle Level", "0", -10, 10,
                     "Level of Triangle Out"),
    plug_rows::input(SYNC_THRESHOLD_INPUT, "sync-threshold", "Sync Threshold", "0", 0, 10,
                     "0 V hard sync, 2-8 V soft sync, 10 V no sync"),
    plug_rows::input(SYNC_ADVANCE_INPUT, "sync-advance", "Sync Advance", "0", -20, 20,
                     "Phase after a sync edge, per 10 V of Sync (typical: 0, 5, 10, 20 V)"),
    plug_rows::input(ACTIVE_INPUT, "active", "Active", "0", 0, 10,
                     "Gate: 0 V silences the outputs and lets the oscillator rest"),
    plug_rows::setting(FM_MODE_SETTING, "fm", "Audio Rate Frequency Modulation", "0",
                       "Disable=0,Enable=1,Half=2", kFmModeChoices,
                       "Pitch followed at the audio rate, or at half of it, not once per block"),
    plug_rows::setting(PM_MODE_SETTING, "pm", "Phase Modulation", "0", "Disable,Enable",
                       kPmModeChoices, "The waveform's phase shifted by Phase times Phase Mod"),
    plug_rows::setting(SHAPE_SETTING, "shape", "Shape", "1",
                       "Perfect=0, Perfect 2 = 1, Bright=2, Medium=3, Dark=4", kShapeChoices,
                       "The waveform algorithm"),
    plug_rows::output(RAMP_OUTPUT, "ramp", "Ramp Out", "The falling ramp"),
    plug_rows::output(SAW_OUTPUT, "saw", "Saw Out", "The rising saw"),
    plug_rows::output(PULSE_OUTPUT, "pulse", "Pulse Out", "The pulse, as wide as Width says"),
    plug_rows::output(TRIANGLE_OUTPUT, "triangle", "Triangle Out", "The triangle"),
    plug_rows::setting(FREQ_SCALE_SETTING, "freq-scale", "Freq Scale", "0",
                       "1 Volt/Octave,1 Volt/kHz", kFreqScaleChoices,
                       "How Pitch is read: 1 V per octave or 1 V per kHz", PLUG_DIRECTION_SETTING),
};

// The order in which our hosts present the plugs: the settings, the inputs, the outputs. It is
// the order of the CLI's options and of the page's rows, and the LV2 plug-ins' port indices
// follow it, which saved sessions rely on.
inline constexpr Plug kPanelOrder[] = {
    SHAPE_SETTING,      FREQ_SCALE_SETTING,   FM_MODE_SETTING,  PM_MODE_SETTING,
    PITCH_INPUT,        WIDTH_INPUT,          RAMP_LEVEL_INPUT, SAW_LEVEL_INPUT,
    PULSE_LEVEL_INPUT,  TRIANGLE_LEVEL_INPUT, SYNC_INPUT,       SYNC_THRESHOLD_INPUT,
    SYNC_ADVANCE_INPUT, PHASE_INPUT,          PHASE_MOD_INPUT,  ACTIVE_INPUT,
    RAMP_OUTPUT,        SAW_OUTPUT,           PULSE_OUTPUT,     TRIANGLE_OUTPUT};

// ---------------------------------------------------------------------------------------------
// Reading the table

constexpr const PlugInfo &plugInfo(Plug plug) { return kPlugs[plug]; }

constexpr PlugKind kindOf(const PlugInfo &info) {
    return info.datatype == DT_ENUM                  ? PlugKind::Setting
           : info.direction == PLUG_DIRECTION_OUTPUT ? PlugKind::Output
                                                     : PlugKind::Input;
}

// Every audio plug carries volts on the host's scale; a setting carries a choice number.
constexpr const char *unitOf(const PlugInfo &info) {
    return info.datatype == DT_AUDIO ? "V" : nullptr;
}

namespace plug_text {

constexpr bool isDigit(char c) { return c >= '0' && c <= '9'; }

// A plain decimal number ("5", "-0.5"), or false when `text` is none.
constexpr bool parseDecimal(const char *text, float *value) {
    const bool negative = *text == '-';
    if (negative) ++text;
    if (!isDigit(*text)) return false;
    double number = 0.0, scale = 1.0;
    bool fraction = false;
    for (; *text != '\0'; ++text) {
        if (*text == '.' && !fraction) {
            fraction = true;
            continue;
        }
        if (!isDigit(*text)) return false;
        if (fraction) scale /= 10.0;
        number = number * (fraction ? 1.0 : 10.0) + (*text - '0') * scale;
    }
    *value = static_cast<float>(negative ? -number : number);
    return true;
}

constexpr bool equal(const char *a, const char *b) {
    for (; *a != '\0' || *b != '\0'; ++a, ++b)
        if (*a != *b) return false;
    return true;
}

constexpr bool isSpace(char c) { return c == ' '; }

// Whether the list text `list` names `choices` in order: its comma-separated items, each the
// label with an optional "=number" after it, blanks around either part allowed.
constexpr bool listNames(const char *list, const Choice *choices, int32_t count) {
    for (int32_t c = 0; c < count; ++c) {
        while (isSpace(*list)) ++list;
        const char *label = choices[c].label;
        while (*label != '\0')
            if (*list++ != *label++) return false;
        while (isSpace(*list)) ++list;
        if (*list == '=') {
            ++list;
            while (*list != ',' && *list != '\0') ++list;
        }
        if (*list != (c + 1 < count ? ',' : '\0')) return false;
        if (*list == ',') ++list;
    }
    return true;
}

} // namespace plug_text

// The module's default as a number: volts for an audio plug, the choice number of a setting.
constexpr float defaultValue(const PlugInfo &info) {
    float value = 0.0f;
    plug_text::parseDecimal(info.defaultText, &value);
    return value;
}
constexpr int16_t defaultChoice(Plug setting) {
    return static_cast<int16_t>(defaultValue(plugInfo(setting)));
}

// The plugs of one kind, in panel order.
template <PlugKind Kind>
constexpr size_t plugCount() {
    size_t count = 0;
    for (const PlugInfo &info : kPlugs) count += kindOf(info) == Kind ? 1 : 0;
    return count;
}
template <PlugKind Kind>
constexpr std::array<Plug, plugCount<Kind>()> inPanelOrder() {
    std::array<Plug, plugCount<Kind>()> plugs{};
    size_t n = 0;
    for (const Plug plug : kPanelOrder)
        if (kindOf(plugInfo(plug)) == Kind) plugs[n++] = plug;
    return plugs;
}
inline constexpr auto kPanelSettings = inPanelOrder<PlugKind::Setting>();
inline constexpr auto kPanelInputs = inPanelOrder<PlugKind::Input>();
inline constexpr auto kPanelOutputs = inPanelOrder<PlugKind::Output>();

// ---------------------------------------------------------------------------------------------
// What the build checks of the table

// The rows fill PlugDescription's fields as they are.
static_assert(std::is_same_v<decltype(PlugInfo::direction), decltype(PlugDescription::direction)>);
static_assert(std::is_same_v<decltype(PlugInfo::datatype), decltype(PlugDescription::datatype)>);
static_assert(std::is_same_v<decltype(PlugInfo::name), decltype(PlugDescription::name)>);
static_assert(
    std::is_same_v<decltype(PlugInfo::defaultText), decltype(PlugDescription::defaultText)>);
static_assert(std::is_same_v<decltype(PlugInfo::listText), decltype(PlugDescription::listText)>);

namespace plug_checks {

constexpr bool rowsInPlugOrder() {
    if (std::size(kPlugs) != NUM_PLUGS) return false;
    for (size_t i = 0; i < std::size(kPlugs); ++i)
        if (kPlugs[i].plug != static_cast<int32_t>(i)) return false;
    return true;
}

// An audio plug is an input or an output with no choices; a setting is a DT_ENUM plug whose
// list text names its choices; every default reads as a number within the plug's range.
constexpr bool rowConsistent(const PlugInfo &info) {
    float value = 0.0f;
    if (!plug_text::parseDecimal(info.defaultText, &value)) return false;
    switch (kindOf(info)) {
    case PlugKind::Input:
        return info.datatype == DT_AUDIO && info.direction == PLUG_DIRECTION_INPUT &&
               info.listText == nullptr && info.choices == nullptr && info.minimum < info.maximum &&
               info.minimum <= value && value <= info.maximum;
    case PlugKind::Output:
        return info.datatype == DT_AUDIO && info.listText == nullptr && info.choices == nullptr;
    case PlugKind::Setting:
        return (info.direction == PLUG_DIRECTION_INPUT ||
                info.direction == PLUG_DIRECTION_SETTING) &&
               info.choices != nullptr && info.listText != nullptr &&
               plug_text::listNames(info.listText, info.choices, info.choiceCount) &&
               value == static_cast<float>(static_cast<int32_t>(value)) && value >= 0 &&
               value < static_cast<float>(info.choiceCount);
    }
    return false;
}

constexpr bool rowsConsistent() {
    for (const PlugInfo &info : kPlugs)
        if (!rowConsistent(info)) return false;
    return true;
}

constexpr bool keysUnique() {
    for (size_t i = 0; i < std::size(kPlugs); ++i)
        for (size_t j = i + 1; j < std::size(kPlugs); ++j)
            if (plug_text::equal(kPlugs[i].key, kPlugs[j].key)) return false;
    for (const PlugInfo &info : kPlugs)
        for (int32_t a = 0; a < info.choiceCount; ++a)
            for (int32_t b = a + 1; b < info.choiceCount; ++b)
                if (plug_text::equal(info.choices[a].key, info.choices[b].key)) return false;
    return true;
}

// Every plug once, the settings first, then the inputs, then the outputs.
constexpr bool panelOrderComplete() {
    if (std::size(kPanelOrder) != NUM_PLUGS) return false;
    bool seen[NUM_PLUGS] = {};
    int previousKind = 0;
    for (const Plug plug : kPanelOrder) {
        if (plug < 0 || plug >= NUM_PLUGS || seen[plug]) return false;
        seen[plug] = true;
        const PlugKind kind = kindOf(plugInfo(plug));
        const int rank = kind == PlugKind::Setting ? 0 : kind == PlugKind::Input ? 1 : 2;
        if (rank < previousKind) return false;
        previousKind = rank;
    }
    return true;
}

} // namespace plug_checks

static_assert(plug_checks::rowsInPlugOrder(), "the plug table's rows must be in plug order");
static_assert(plug_checks::rowsConsistent(),
              "a plug's kind, default, range, choices and list text must agree");
static_assert(plug_checks::keysUnique(), "every plug key and choice key must be unique");
static_assert(plug_checks::panelOrderComplete(),
              "the panel order must hold every plug once: settings, inputs, outputs");
// The choice enums above name the table's choices.
static_assert(std::size(kShapeChoices) == SHAPE_DARK + 1 &&
              std::size(kFmModeChoices) == FM_HALF + 1 &&
              std::size(kPmModeChoices) == PM_ENABLE + 1 &&
              std::size(kFreqScaleChoices) == FREQ_SCALE_VOLT_PER_KHZ + 1);

} // namespace fourwave
