// The render engine's patch reader returns its errors as values, and the CLI and the page show
// those messages as they stand: every refusal must come back as an error (not as a patch read
// in part), with its exact message, and every valid value must be read.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "engine/frequency.h"
#include "engine/patch.h"

namespace fourwave::engine {
namespace {

struct Refusal {
    const char *patch;
    const char *message; // after "p.json"
};

constexpr const char *kSignalSyntaxMessage =
    " is not a number or a signal (V (constant), A:B (linear sweep), exp:A:B, sine:HZ:LO:HI, "
    "square:HZ:LO:HI, pulse:HZ[:V[:DUTY]], gate:T0-T1[,T2-T3...])";

const Refusal kRefusals[] = {
    {R"({"pich": 5})", R"(, key "pich": unknown key)"},
    {R"({"pitch": 5,)", ": malformed JSON: parse error at line 1, column 13: syntax error while "
                        "parsing object key - unexpected end of input; expected string literal"},
    {"[1]", ": a patch is a JSON object of settings, not array"},
    {R"({"shape": 3})",
     R"(, key "shape": '3' is not one of perfect, perfect2, bright, medium, dark)"},
    {R"({"shape": true})",
     R"(, key "shape": expected perfect, perfect2, bright, medium or dark, not true)"},
    {R"({"pm": "maybe"})", R"(, key "pm": 'maybe' is not one of off, on)"},
    {R"({"rate": 44100.5})",
     R"(, key "rate": 44100.5 is not a whole number of hertz from 1000 to 768000)"},
    {R"({"rate": "fast"})", R"(, key "rate": 'fast' is not a number)"},
    {R"({"block": 0})",
     R"(, key "block": 0 is not a whole number of frames (or 'random') from 1 to 4096)"},
    {R"({"seed": -1})", R"(, key "seed": -1 is not a whole number from 0 to 4294967295)"},
    {R"({"seconds": "1e9"})",
     R"(, key "seconds": '1e9' is not a length above 0 s and at most 3600 s)"},
    {R"({"width": [5]})", R"(, key "width": expected volts or a signal, not [5])"},
    {R"({"pitch": null})", R"(, key "pitch": expected volts or a signal, not null)"},
    {R"({"pitch": "lin:1"})", R"(, key "pitch": 'lin:1' needs two ends: lin:A:B)"},
    {R"({"pitch": "exp:0:1"})", R"(, key "pitch": 'exp:0:1' is an exponential sweep whose ends )"
                                "are zero or of opposite signs"},
    {R"({"pitch": "sine:0:1:2"})", R"(, key "pitch": 'sine:0:1:2' needs a rate above 0 Hz)"},
    // The first part that is not a number is named, before any other problem.
    {R"({"pitch": "pulse:a:b:c"})",
     R"(, key "pitch": 'pulse:a:b:c' has a rate that is not a number ('a'))"},
    {R"({"sync": "pulse:100:10:1.5"})", R"(, key "sync": 'pulse:100:10:1.5' needs a duty cycle )"
                                        "between 0 and 1 (exclusive)"},
    {R"({"active": "gate:1"})", R"(, key "active": 'gate:1' has a gate '1' without T0-T1)"},
    {R"({"active": "gate:0.1-x"})",
     R"(, key "active": 'gate:0.1-x' has a gate end that is not a number ('x'))"},
    {R"({"active": "gate:0.5-0.2"})", R"(, key "active": 'gate:0.5-0.2' has a gate '0.5-0.2' )"
                                      "that does not run forward from 0 s or later"},
};

TEST(PatchReader, RefusesEachBadPatchWithItsMessage) {
    for (const Refusal &refusal : kRefusals) {
        Patch patch;
        const Error error = applyPatchJson(patch, refusal.patch, "p.json");
        EXPECT_EQ(error.message(), std::string("p.json") + refusal.message) << refusal.patch;
    }
    Patch patch;
    EXPECT_EQ(applySetting(patch, "pitch", nlohmann::json("0x10"), "option --pitch").message(),
              std::string("option --pitch: '0x10'") + kSignalSyntaxMessage);
}

TEST(PatchReader, RefusesALengthThatIsNoFrameOrBeyondTheHostClock) {
    Patch patch;
    patch.sampleRateHz = 1000;
    patch.seconds = 0.0001;
    EXPECT_EQ(checkLength(patch, "option --seconds").message(),
              "option --seconds: 0.000 s at 1000 Hz is not one frame");
    patch.sampleRateHz = 768000;
    patch.seconds = 3600;
    EXPECT_EQ(checkLength(patch, "option --seconds").message(),
              "option --seconds: 3600.000 s at 768000 Hz is more frames than a host clock counts");
    patch.seconds = 2;
    EXPECT_FALSE(checkLength(patch, "option --seconds"));
}

TEST(PatchReader, ReadsEveryKindOfValue) {
    Patch patch;
    const Error error = applyPatchJson(patch, R"({"comment": "x", "shape": "dark", "fm": "half",
        "rate": 44100, "block": "random", "seed": 7, "seconds": "1.5", "pitch": "exp:2:9",
        "sync": "pulse:310:10:0.1", "active": "gate:0.1-0.4,0.7-0.9", "width": 2.5})",
                                       "p.json");
    ASSERT_FALSE(error) << error.message();
    EXPECT_EQ(patch.shape, SHAPE_DARK);
    EXPECT_EQ(patch.fmMode, FM_HALF);
    EXPECT_EQ(patch.sampleRateHz, 44100);
    EXPECT_TRUE(patch.randomBlocks);
    EXPECT_EQ(patch.seed, 7u);
    EXPECT_EQ(patch.seconds, 1.5);
    EXPECT_EQ(patch.input(PITCH_INPUT).kind(), Signal::Kind::ExponentialSweep);
    EXPECT_EQ(patch.input(WIDTH_INPUT).voltsAt(0, 44100, 1.5), 2.5);
    EXPECT_EQ(patch.input(SYNC_INPUT).kind(), Signal::Kind::Pulse);
    // At 0.25 s, within the first gate; at 0.5 s, between them.
    EXPECT_EQ(patch.input(ACTIVE_INPUT).voltsAt(44100 / 4, 44100, 1.5), 10.0);
    EXPECT_EQ(patch.input(ACTIVE_INPUT).voltsAt(44100 / 2, 44100, 1.5), 0.0);
}

// The frequency the CLI's analysis and the page look for: the core's conversion, folded below
// a quarter of the rate, as the phase increment carries it.
TEST(ModuleFrequency, FollowsTheCoreAndFoldsOctaves) {
    EXPECT_NEAR(moduleFrequencyHz(0.5f, false, 48000), 440.0, 1e-3);
    EXPECT_NEAR(moduleFrequencyHz(1.0f, false, 48000), 7040.0, 1e-2);  // 14080 Hz folded once
    EXPECT_NEAR(moduleFrequencyHz(0.1f, true, 48000), 1000.0, 1e-2);   // 1 V/kHz
    EXPECT_NEAR(moduleFrequencyHz(2.0f, false, 48000), 12000.0, 1e-2); // beyond four octaves
}

} // namespace
} // namespace fourwave::engine
