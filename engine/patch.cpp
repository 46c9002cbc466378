// Patches: defaults, the patch-file reader and the one setter shared with the command line.
#include "patch.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

namespace fourwave::engine {

using nlohmann::json;

namespace {

constexpr int32_t kMinRateHz = 1000;
constexpr int32_t kMaxRateHz = 768000;
constexpr double kMaxSeconds = 3600.0;
// The stand-in host's buffers are allocated once; this bounds them.
constexpr int32_t kMaxBlockFrames = 4096;
// `--block random` draws sizes up to this many frames, as a host splitting its blocks at
// events does; the module is told this as its block size.
constexpr int32_t kRandomBlockFrames = 1024;

// Where the built-in patch departs from the module's own defaults: a sweep from 2 V to 9 V
// through Perfect 2's crossfade band, every level at 5 V so that all four outputs sound, and
// Active on.
struct InputDefault {
    Plug plug;
    const char *signal;
};
constexpr InputDefault kBuiltInInputs[] = {{PITCH_INPUT, "2:9"},        {RAMP_LEVEL_INPUT, "5"},
                                           {SAW_LEVEL_INPUT, "5"},      {PULSE_LEVEL_INPUT, "5"},
                                           {TRIANGLE_LEVEL_INPUT, "5"}, {ACTIVE_INPUT, "10"}};
constexpr const char *kBuiltInComment =
    "Pitch sweep from 2 V to 9 V through Perfect 2's crossfade band";

const char *builtInSignal(Plug plug) {
    for (const InputDefault &input : kBuiltInInputs)
        if (input.plug == plug) return input.signal;
    return plugInfo(plug).defaultText;
}

// A value as the user wrote it, for messages.
std::string shown(const json &value) {
    return value.is_string() ? "'" + value.get<std::string>() + "'" : value.dump();
}

Error textOf(const json &value, const std::string &where, const char *expected, std::string *text) {
    if (value.is_string()) {
        *text = value.get<std::string>();
    } else if (value.is_number()) {
        *text = value.dump();
    } else {
        return Error(where + ": expected " + expected + ", not " + shown(value));
    }
    return {};
}

Error choice(Plug setting, const json &value, const std::string &where, int16_t *chosen) {
    std::string text;
    if (Error error = textOf(value, where, choiceList(setting, " or ").c_str(), &text))
        return error;
    if (parseChoice(setting, text, chosen)) return {};
    return Error(where + ": '" + text + "' is not one of " + choiceList(setting));
}

Error numberOf(const json &value, const std::string &where, double *number) {
    if (value.is_number()) {
        *number = value.get<double>();
        return {};
    }
    std::string text;
    if (Error error = textOf(value, where, "a number", &text)) return error;
    if (!parseNumber(text, number)) return Error(where + ": '" + text + "' is not a number");
    return {};
}

Error wholeNumberOf(const json &value, const std::string &where, int64_t lo, int64_t hi,
                    const char *unit, int64_t *whole) {
    double number = 0.0;
    if (Error error = numberOf(value, where, &number)) return error;
    if (number != std::floor(number) || number < static_cast<double>(lo) ||
        number > static_cast<double>(hi))
        return Error(where + ": " + shown(value) + " is not a whole number" + unit + " from " +
                     std::to_string(lo) + " to " + std::to_string(hi));
    *whole = static_cast<int64_t>(number);
    return {};
}

// nlohmann's own tree builder, keeping a parse error's message rather than throwing it.
class TreeBuilder : public nlohmann::detail::json_sax_dom_parser<json> {
public:
    explicit TreeBuilder(json &root) : json_sax_dom_parser(root, false) {}
    bool parse_error(size_t, const std::string &, const nlohmann::detail::exception &error) {
        message = error.what();
        return false;
    }
    std::string message;
};

} // namespace

int64_t Patch::frames() const {
    return static_cast<int64_t>(std::llround(seconds * static_cast<double>(sampleRateHz)));
}

Error checkLength(const Patch &patch, const std::string &where) {
    const int64_t frames = patch.frames();
    if (frames >= 1 && frames < INT32_MAX) return {};
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f s", patch.seconds);
    return Error(where + ": " + seconds + " at " + std::to_string(patch.sampleRateHz) + " Hz is " +
                 (frames < 1 ? "not one frame" : "more frames than a host clock counts"));
}

const std::vector<std::string> kSettingKeys = [] {
    std::vector<std::string> keys;
    for (const PatchSetting &setting : kPatchSettings) keys.push_back(plugInfo(setting.plug).key);
    for (const char *key : {"rate", "block", "seconds", "seed"}) keys.push_back(key);
    return keys;
}();

const char *choiceKey(Plug setting, int16_t choice) {
    const PlugInfo &info = plugInfo(setting);
    return choice >= 0 && choice < info.choiceCount ? info.choices[choice].key : "";
}

const char *shapeName(int16_t shape) {
    return choiceKey(SHAPE_SETTING,
                     shape >= SHAPE_PERFECT && shape < SHAPE_DARK ? shape : int16_t{SHAPE_DARK});
}

std::string choiceList(Plug setting, const char *lastSeparator) {
    const PlugInfo &info = plugInfo(setting);
    std::string list;
    for (int32_t c = 0; c < info.choiceCount; ++c)
        list += std::string(c == 0                     ? ""
                            : c + 1 < info.choiceCount ? ", "
                                                       : lastSeparator) +
                info.choices[c].key;
    return list;
}

bool parseChoice(Plug setting, const std::string &key, int16_t *choice) {
    const PlugInfo &info = plugInfo(setting);
    for (int32_t c = 0; c < info.choiceCount; ++c)
        if (key == info.choices[c].key) {
            *choice = static_cast<int16_t>(c);
            return true;
        }
    return false;
}

nlohmann::json plugTableJson() {
    const Patch defaults = defaultPatch();
    json plugs = json::array();
    for (const Plug plug : kPanelOrder) {
        const PlugInfo &info = plugInfo(plug);
        const PlugKind kind = kindOf(info);
        json row = {{"number", plug},
                    {"key", info.key},
                    {"name", info.name},
                    {"kind", kind == PlugKind::Input    ? "input"
                             : kind == PlugKind::Output ? "output"
                                                        : "setting"},
                    {"default", info.defaultText},
                    {"help", info.help}};
        if (const char *unit = unitOf(info)) row["unit"] = unit;
        if (kind == PlugKind::Input) {
            row["minimum"] = info.minimum;
            row["maximum"] = info.maximum;
            row["patchDefault"] = defaults.input(plug).text();
        }
        if (kind == PlugKind::Setting) {
            json choices = json::array();
            for (int32_t c = 0; c < info.choiceCount; ++c)
                choices.push_back({{"key", info.choices[c].key}, {"label", info.choices[c].label}});
            row["choices"] = choices;
            row["listText"] = info.listText;
            for (const PatchSetting &setting : kPatchSettings)
                if (setting.plug == plug)
                    row["patchDefault"] = choiceKey(plug, defaults.*setting.choice);
        }
        plugs.push_back(row);
    }
    return plugs;
}

Error applySetting(Patch &patch, const std::string &key, const json &value,
                   const std::string &where) {
    for (size_t i = 0; i < kPatchInputs.size(); ++i) {
        if (key != plugInfo(kPatchInputs[i]).key) continue;
        if (value.is_number()) {
            patch.inputs[i] = Signal::constant(value.get<double>());
            return {};
        }
        std::string text;
        if (Error error = textOf(value, where, "volts or a signal", &text)) return error;
        return Signal::parse(text, where, &patch.inputs[i]);
    }
    for (const PatchSetting &setting : kPatchSettings)
        if (key == plugInfo(setting.plug).key)
            return choice(setting.plug, value, where, &(patch.*setting.choice));
    int64_t whole = 0;
    if (key == "rate") {
        if (Error error = wholeNumberOf(value, where, kMinRateHz, kMaxRateHz, " of hertz", &whole))
            return error;
        patch.sampleRateHz = static_cast<int32_t>(whole);
    } else if (key == "block") {
        if (value.is_string() && value.get<std::string>() == "random") {
            patch.randomBlocks = true;
            patch.blockFrames = kRandomBlockFrames;
            return {};
        }
        if (Error error =
                wholeNumberOf(value, where, 1, kMaxBlockFrames, " of frames (or 'random')", &whole))
            return error;
        patch.randomBlocks = false;
        patch.blockFrames = static_cast<int32_t>(whole);
    } else if (key == "seed") {
        if (Error error = wholeNumberOf(value, where, 0, UINT32_MAX, "", &whole)) return error;
        patch.seed = static_cast<uint32_t>(whole);
    } else if (key == "seconds") {
        double seconds = 0.0;
        if (Error error = numberOf(value, where, &seconds)) return error;
        if (!(seconds > 0.0) || seconds > kMaxSeconds)
            return Error(where + ": " + shown(value) + " is not a length above 0 s and at most " +
                         std::to_string(static_cast<int>(kMaxSeconds)) + " s");
        patch.seconds = seconds;
    } else {
        return Error(where + ": unknown setting");
    }
    return {};
}

Patch defaultPatch() {
    Patch patch;
    // Every built-in signal reads (the CLI's tests render the built-in patch).
    for (size_t i = 0; i < kPatchInputs.size(); ++i)
        static_cast<void>(
            Signal::parse(builtInSignal(kPatchInputs[i]), "the built-in patch", &patch.inputs[i]));
    return patch;
}

const std::string &defaultPatchJson() {
    static const std::string text = [] {
        const Patch patch = defaultPatch();
        std::ostringstream out;
        out << "{\n  \"comment\": \"" << kBuiltInComment << "\"";
        for (const PatchSetting &setting : kPatchSettings)
            out << ",\n  \"" << plugInfo(setting.plug).key << "\": \""
                << choiceKey(setting.plug, patch.*setting.choice) << "\"";
        out << ",\n  \"rate\": " << patch.sampleRateHz << ",\n  \"block\": " << patch.blockFrames
            << ",\n  \"seconds\": " << patch.seconds;
        for (size_t i = 0; i < kPatchInputs.size(); ++i) {
            const std::string &signal = patch.inputs[i].text();
            double volts = 0.0;
            const bool number = parseNumber(signal, &volts);
            out << ",\n  \"" << plugInfo(kPatchInputs[i]).key << "\": " << (number ? "" : "\"")
                << signal << (number ? "" : "\"");
        }
        out << "\n}";
        return out.str();
    }();
    return text;
}

Error applyPatchJson(Patch &patch, const std::string &text, const std::string &source) {
    json root;
    TreeBuilder builder(root);
    if (!json::sax_parse(text, &builder)) {
        // nlohmann's text is "[json.exception.parse_error.101] parse error at line 3, column 5:
        // ..."; the part after the bracket says where and what.
        std::string what = builder.message;
        const size_t bracket = what.find("] ");
        if (bracket != std::string::npos) what = what.substr(bracket + 2);
        return Error(source + ": malformed JSON: " + what);
    }
    if (!root.is_object())
        return Error(source + ": a patch is a JSON object of settings, not " +
                     std::string(root.type_name()));
    for (const auto &[key, value] : root.items()) {
        const std::string where = source + ", key \"" + key + "\"";
        if (key == "comment") continue;
        bool known = false;
        for (const Plug input : kPatchInputs) known = known || key == plugInfo(input).key;
        for (const std::string &setting : kSettingKeys) known = known || key == setting;
        if (!known) return Error(where + ": unknown key");
        if (Error error = applySetting(patch, key, value, where)) return error;
    }
    return {};
}

Error applyPatchFile(Patch &patch, const std::string &path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return Error(path + ": cannot read the patch file");
    std::ostringstream text;
    text << file.rdbuf();
    return applyPatchJson(patch, text.str(), path);
}

} // namespace fourwave::engine
