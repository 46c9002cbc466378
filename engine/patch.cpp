// Patches: defaults, the patch-file reader and the one setter shared with the command line.
#include "patch.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

namespace fourwave::engine {

using nlohmann::json;

const std::vector<std::string> kSettingKeys = {"shape", "freq-scale", "fm",      "pm",
                                               "rate",  "block",      "seconds", "seed"};

const char *const kDefaultPatchJson = R"({
  "comment": "Pitch sweep from 2 V to 9 V through Perfect 2's crossfade band",
  "shape": "perfect2",
  "freq-scale": "oct",
  "fm": "off",
  "pm": "off",
  "rate": 48000,
  "block": 64,
  "seconds": 2,
  "pitch": "2:9",
  "width": 5,
  "ramp-level": 5,
  "saw-level": 5,
  "pulse-level": 5,
  "triangle-level": 5,
  "sync": 0,
  "sync-threshold": 0,
  "sync-advance": 0,
  "phase": 0,
  "phase-mod": 5,
  "active": 10
})";

namespace {

constexpr int32_t kMinRateHz = 1000;
constexpr int32_t kMaxRateHz = 768000;
constexpr double kMaxSeconds = 3600.0;
// The stand-in host's buffers are allocated once; this bounds them.
constexpr int32_t kMaxBlockFrames = 4096;
// `--block random` draws sizes up to this many frames, as a host splitting its blocks at
// events does; the module is told this as its block size.
constexpr int32_t kRandomBlockFrames = 1024;

struct Choice {
    const char *name;
    int16_t value;
};

constexpr Choice kShapes[] = {{"perfect", SHAPE_PERFECT},
                              {"perfect2", SHAPE_PERFECT2},
                              {"bright", SHAPE_BRIGHT},
                              {"medium", SHAPE_MEDIUM},
                              {"dark", SHAPE_DARK}};
constexpr Choice kFreqScales[] = {{"oct", FREQ_SCALE_VOLT_PER_OCTAVE},
                                  {"khz", FREQ_SCALE_VOLT_PER_KHZ}};
constexpr Choice kFmModes[] = {{"off", FM_DISABLE}, {"on", FM_ENABLE}, {"half", FM_HALF}};
constexpr Choice kPmModes[] = {{"off", PM_DISABLE}, {"on", PM_ENABLE}};

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

template <size_t N>
Error choice(const Choice (&choices)[N], const json &value, const std::string &where,
             const char *expected, int16_t *chosen) {
    std::string text;
    if (Error error = textOf(value, where, expected, &text)) return error;
    std::string names;
    for (const Choice &c : choices) {
        if (text == c.name) {
            *chosen = c.value;
            return {};
        }
        names += names.empty() ? "" : ", ";
        names += c.name;
    }
    return Error(where + ": '" + text + "' is not one of " + names);
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

const char *shapeName(int16_t shape) {
    for (const Choice &c : kShapes)
        if (c.value == shape) return c.name;
    return "dark";
}

bool parseShape(const std::string &name, int16_t *shape) {
    for (const Choice &c : kShapes)
        if (name == c.name) {
            *shape = c.value;
            return true;
        }
    return false;
}

Error applySetting(Patch &patch, const std::string &key, const json &value,
                   const std::string &where) {
    for (size_t i = 0; i < kInputKeys.size(); ++i) {
        if (key != kInputKeys[i].key) continue;
        if (value.is_number()) {
            patch.inputs[i] = Signal::constant(value.get<double>());
            return {};
        }
        std::string text;
        if (Error error = textOf(value, where, "volts or a signal", &text)) return error;
        return Signal::parse(text, where, &patch.inputs[i]);
    }
    if (key == "shape") return choice(kShapes, value, where, "a shape name", &patch.shape);
    if (key == "freq-scale")
        return choice(kFreqScales, value, where, "oct or khz", &patch.freqScale);
    if (key == "fm") return choice(kFmModes, value, where, "off, on or half", &patch.fmMode);
    if (key == "pm") return choice(kPmModes, value, where, "off or on", &patch.pmMode);
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
    // The built-in text is a valid patch (the CLI's tests render it), so this reads it whole.
    static_cast<void>(applyPatchJson(patch, kDefaultPatchJson, "the built-in default patch"));
    return patch;
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
        for (const InputKey &input : kInputKeys) known = known || key == input.key;
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
