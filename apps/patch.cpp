// Patches: defaults, the patch-file reader and the one setter shared with the command line.
#include "patch.h"

#include <cmath>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "errors.h"

namespace fourwave::apps {

using nlohmann::json;

const std::vector<std::string> kSettingKeys = {"shape", "freq-scale", "fm",   "pm",
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

constexpr Choice kShapes[] = {{"perfect", SHAPE_PERFECT}, {"perfect2", SHAPE_PERFECT2},
                              {"bright", SHAPE_BRIGHT},   {"medium", SHAPE_MEDIUM},
                              {"dark", SHAPE_DARK}};
constexpr Choice kFreqScales[] = {{"oct", FREQ_SCALE_VOLT_PER_OCTAVE},
                                  {"khz", FREQ_SCALE_VOLT_PER_KHZ}};
constexpr Choice kFmModes[] = {{"off", FM_DISABLE}, {"on", FM_ENABLE}, {"half", FM_HALF}};
constexpr Choice kPmModes[] = {{"off", PM_DISABLE}, {"on", PM_ENABLE}};

template <size_t N>
int16_t choice(const Choice (&choices)[N], const std::string &text, const std::string &where) {
    std::string names;
    for (const Choice &c : choices) {
        if (text == c.name) return c.value;
        names += names.empty() ? "" : ", ";
        names += c.name;
    }
    throw UsageError(where + ": '" + text + "' is not one of " + names);
}

// A value as the user wrote it, for messages.
std::string shown(const json &value) {
    return value.is_string() ? "'" + value.get<std::string>() + "'" : value.dump();
}

std::string textOf(const json &value, const std::string &where, const char *expected) {
    if (value.is_string()) return value.get<std::string>();
    if (value.is_number()) return value.dump();
    throw UsageError(where + ": expected " + expected + ", not " + shown(value));
}

double numberOf(const json &value, const std::string &where) {
    if (value.is_number()) return value.get<double>();
    const std::string text = textOf(value, where, "a number");
    double number = 0.0;
    if (!parseNumber(text, &number)) throw UsageError(where + ": '" + text + "' is not a number");
    return number;
}

int64_t wholeNumberOf(const json &value, const std::string &where, int64_t lo, int64_t hi,
                      const char *unit) {
    const double number = numberOf(value, where);
    if (number != std::floor(number) || number < static_cast<double>(lo) ||
        number > static_cast<double>(hi))
        throw UsageError(where + ": " + shown(value) + " is not a whole number" + unit + " from " +
                         std::to_string(lo) + " to " + std::to_string(hi));
    return static_cast<int64_t>(number);
}

} // namespace

int64_t Patch::frames() const {
    return static_cast<int64_t>(std::llround(seconds * static_cast<double>(sampleRateHz)));
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

void applySetting(Patch &patch, const std::string &key, const json &value,
                  const std::string &where) {
    for (size_t i = 0; i < kInputKeys.size(); ++i) {
        if (key != kInputKeys[i].key) continue;
        if (value.is_number()) {
            patch.inputs[i] = Signal::constant(value.get<double>());
        } else {
            patch.inputs[i] = Signal::parse(textOf(value, where, "volts or a signal"), where);
        }
        return;
    }
    if (key == "shape") {
        patch.shape = choice(kShapes, textOf(value, where, "a shape name"), where);
    } else if (key == "freq-scale") {
        patch.freqScale = choice(kFreqScales, textOf(value, where, "oct or khz"), where);
    } else if (key == "fm") {
        patch.fmMode = choice(kFmModes, textOf(value, where, "off, on or half"), where);
    } else if (key == "pm") {
        patch.pmMode = choice(kPmModes, textOf(value, where, "off or on"), where);
    } else if (key == "rate") {
        patch.sampleRateHz =
            static_cast<int32_t>(wholeNumberOf(value, where, kMinRateHz, kMaxRateHz, " of hertz"));
    } else if (key == "block") {
        if (value.is_string() && value.get<std::string>() == "random") {
            patch.randomBlocks = true;
            patch.blockFrames = kRandomBlockFrames;
        } else {
            patch.randomBlocks = false;
            patch.blockFrames = static_cast<int32_t>(
                wholeNumberOf(value, where, 1, kMaxBlockFrames, " of frames (or 'random')"));
        }
    } else if (key == "seed") {
        patch.seed = static_cast<uint32_t>(wholeNumberOf(value, where, 0, UINT32_MAX, ""));
    } else if (key == "seconds") {
        const double seconds = numberOf(value, where);
        if (!(seconds > 0.0) || seconds > kMaxSeconds)
            throw UsageError(where + ": " + shown(value) + " is not a length above 0 s and at most " +
                             std::to_string(static_cast<int>(kMaxSeconds)) + " s");
        patch.seconds = seconds;
    } else {
        throw UsageError(where + ": unknown setting");
    }
}

Patch defaultPatch() {
    Patch patch;
    applyPatchJson(patch, kDefaultPatchJson, "the built-in default patch");
    return patch;
}

void applyPatchJson(Patch &patch, const std::string &text, const std::string &source) {
    json root;
    try {
        root = json::parse(text);
    } catch (const json::parse_error &error) {
        // nlohmann's text is "[json.exception.parse_error.101] parse error at line 3, column 5:
        // ..."; the part after the bracket says where and what.
        std::string what = error.what();
        const size_t bracket = what.find("] ");
        if (bracket != std::string::npos) what = what.substr(bracket + 2);
        throw UsageError(source + ": malformed JSON: " + what);
    }
    if (!root.is_object())
        throw UsageError(source + ": a patch is a JSON object of settings, not " +
                         std::string(root.type_name()));
    for (const auto &[key, value] : root.items()) {
        const std::string where = source + ", key \"" + key + "\"";
        if (key == "comment") continue;
        bool known = false;
        for (const InputKey &input : kInputKeys) known = known || key == input.key;
        for (const std::string &setting : kSettingKeys) known = known || key == setting;
        if (!known) throw UsageError(where + ": unknown key");
        applySetting(patch, key, value, where);
    }
}

void applyPatchFile(Patch &patch, const std::string &path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw UsageError(path + ": cannot read the patch file");
    std::ostringstream text;
    text << file.rdbuf();
    applyPatchJson(patch, text.str(), path);
}

} // namespace fourwave::apps
