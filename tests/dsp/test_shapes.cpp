// The five waveform steps at chosen phases, pitches and widths. The frame never lets a test
// pick the phase, so these call the shape policies directly; the values are the shapes'
// defining examples.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "module/dsp/shapes.h"

using namespace fourwave::dsp;

namespace {

constexpr float kTol = 2e-6f;
constexpr float kLowPitch = 0.3f; // below every crossfade band

template <class Shape>
Outputs stepAt(float t, float width = 0.5f, float p = kLowPitch, float ramp = 1.0f,
               float saw = 1.0f, float pulse = 1.0f, float triangle = 1.0f) {
    EdgeMemory memory{0.0f, 0.0f};
    return Shape::step(Shape::take(makeLevelSet(pulse, ramp, saw, triangle)), memory, t, width, p,
                       0.0f);
}

struct ValueCase {
    float t;
    float expected;
};

} // namespace

// ---------------------------------------------------------------------------------------------
// Perfect

TEST(Perfect, OneCycleOfEachOutput) {
    const ValueCase ramp[] = {{0.0f, 0.5f}, {0.25f, 0.25f}, {0.5f, 0.0f}, {0.75f, -0.25f}};
    for (const auto &c : ramp) {
        EXPECT_NEAR(stepAt<PerfectShape>(c.t).ramp, c.expected, kTol) << c.t;
        EXPECT_NEAR(stepAt<PerfectShape>(c.t).saw, -c.expected, kTol) << c.t;
    }
    const ValueCase triangle[] = {{0.0f, 0.0f}, {0.25f, 0.5f}, {0.5f, 0.0f}, {0.75f, -0.5f}};
    for (const auto &c : triangle)
        EXPECT_NEAR(stepAt<PerfectShape>(c.t).triangle, c.expected, kTol);
}

TEST(Perfect, PulseLevelsAndWidths) {
    struct Case {
        float width, pulseLevel, t, expected;
    };
    const Case cases[] = {
        {0.5f, 1.0f, 0.2f, 0.5f},         {0.5f, 1.0f, 0.5f, 0.5f},    {0.5f, 1.0f, 0.7f, -0.5f},
        {0.25f, 1.0f, 0.1f, 0.75f},       {0.25f, 1.0f, 0.25f, 0.75f}, {0.25f, 1.0f, 0.6f, -0.25f},
        {0.5f, 3.0f, 0.1f, 1.5f},         {0.5f, 3.0f, 0.9f, -1.5f}, // H = 1.5, limited level 2
        {0.25f, 3.0f, 0.1f, 2.0f},        {0.25f, 3.0f, 0.9f, -1.0f},  {0.0f, 1.0f, 0.1f, 0.0f},
        {1.0f, 1.0f, 0.1f, 0.0f},         {-0.2f, 1.0f, 0.1f, 0.0f},   {1.3f, 1.0f, 0.1f, 0.0f},
        {std::nanf(""), 1.0f, 0.1f, 0.0f}};
    for (const Case &c : cases)
        EXPECT_NEAR(stepAt<PerfectShape>(c.t, c.width, kLowPitch, 1, 1, c.pulseLevel).pulse,
                    c.expected, kTol)
            << "W " << c.width << " level " << c.pulseLevel << " t " << c.t;
}

TEST(Perfect, ZeroLevelIsExactlyZeroWhateverThePhaseAndNegativeInverts) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const Outputs out = stepAt<PerfectShape>(nan, 0.5f, kLowPitch, 0.0f, -0.0f, 0.0f, 0.0f);
    for (float v : {out.ramp, out.saw, out.pulse, out.triangle}) {
        EXPECT_EQ(v, 0.0f);
        EXPECT_FALSE(std::signbit(v));
    }
    const Outputs inverted = stepAt<PerfectShape>(0.25f, 0.5f, kLowPitch, -1, -1, -1, -1);
    EXPECT_NEAR(inverted.ramp, -0.25f, kTol);
    EXPECT_NEAR(inverted.triangle, -0.5f, kTol);
}

// ---------------------------------------------------------------------------------------------
// Bright, Medium, Dark

struct SoftCase {
    float t;
    float ramp;
};

TEST(SoftShapes, RampNearTheWrap) {
    const SoftCase bright[] = {{0.0f, 0.0f},     {0.01f, 0.1f},  {0.02f, 0.2f},
                               {0.025f, 0.475f}, {0.98f, -0.2f}, {0.99f, -0.1f}};
    for (const auto &c : bright) {
        EXPECT_NEAR(stepAt<BrightShape>(c.t).ramp, c.ramp, kTol) << "Bright " << c.t;
        EXPECT_NEAR(stepAt<BrightShape>(c.t).saw, -c.ramp, kTol) << "Bright " << c.t;
    }
    const SoftCase medium[] = {{0.03f, 0.3f}, {0.035f, 0.46f}, {0.965f, -0.46f}, {0.97f, -0.3f}};
    for (const auto &c : medium) EXPECT_NEAR(stepAt<MediumShape>(c.t).ramp, c.ramp, kTol) << c.t;
    const SoftCase dark[] = {{0.05f, 0.44f}, {0.955f, -0.44f}, {0.96f, -0.4f}, {0.5f, 0.0f}};
    for (const auto &c : dark) EXPECT_NEAR(stepAt<DarkShape>(c.t).ramp, c.ramp, kTol) << c.t;
}

TEST(SoftShapes, PulseEdges) {
    const float third = 1.0f / 3, sixth = 1.0f / 6;
    const SoftCase bright[] = {{0.0f, third},  {0.025f, 5.0f / 12}, {0.45f, sixth},
                               {0.5f, -sixth}, {0.525f, -third},    {0.3f, 0.5f},
                               {0.7f, -0.5f},  {0.95f, -0.5f}};
    for (const auto &c : bright) EXPECT_NEAR(stepAt<BrightShape>(c.t).pulse, c.ramp, kTol) << c.t;
    const SoftCase medium[] = {{0.0f, sixth}, {0.975f, -third}, {0.45f, sixth}};
    for (const auto &c : medium) EXPECT_NEAR(stepAt<MediumShape>(c.t).pulse, c.ramp, kTol) << c.t;
    const SoftCase dark[] = {{0.0f, 0.0f}, {0.475f, 0.25f}, {0.5f, 0.0f}, {0.975f, -0.25f}};
    for (const auto &c : dark) EXPECT_NEAR(stepAt<DarkShape>(c.t).pulse, c.ramp, kTol) << c.t;
}

TEST(SoftShapes, OverlappingEdgeZonesAtANarrowWidth) {
    // W = 0.03: up to W the late rising edge, then the falling edge, past 0.95 the early rise.
    const float w = 0.03f;
    auto pulse = [&](float t) { return stepAt<DarkShape>(t, w).pulse; };
    const float widthTerm = -(w - 0.5f);
    EXPECT_NEAR(pulse(0.02f), 10.0f * 0.02f + widthTerm, kTol);
    EXPECT_NEAR(pulse(0.05f), -(10.0f * (0.05f - w)) + widthTerm, kTol);
    EXPECT_NEAR(pulse(0.97f), 10.0f * (0.97f - 1.0f) + widthTerm, kTol);
}

#if FOURWAVE_DSP_LANES
// Four samples at a time, a group whose lanes are all away from the edges skips the zones'
// formulas. Groups of phases at, just below and just above every zone edge (each lane its own,
// so that some groups fall in one zone and some straddle an edge), widths inside, at and beyond
// 0 and 1, levels on, zero and negative zero, below and inside the band: every lane has the
// bits of the same sample stepped alone.
template <class Shape, class Edges>
void expectLanesAtEveryEdgeMatchOneSample() {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (const float width : {0.5f, 0.3f, 0.03f, 0.97f, 0.0f, 1.0f, -0.1f, 1.5f, nan})
        for (const float pulse : {0.9f, 0.0f, -0.0f})
            for (const float p : {kLowPitch, 0.65f}) {
                std::vector<float> phases;
                for (const float edge :
                     {0.0f, Edges::kRampZoneLow, Edges::kRampZoneHigh, Shape::kRiseLateEnd,
                      Shape::kRiseEarlyStart, width - Shape::kPulseHalfWidth, width,
                      width + Shape::kPulseHalfWidth, 0.5f, 1.0f}) {
                    float t = edge;
                    for (int k = 0; k < 3; ++k) t = std::nextafter(t, -1.0f);
                    for (int k = 0; k < 7; ++k, t = std::nextafter(t, 2.0f))
                        if (t >= 0.0f && t <= 1.0f) phases.push_back(t);
                }
                const Levels<float> levels = Shape::take(makeLevelSet(pulse, 0.5f, -0.7f, 1.2f));
                EdgeMemory memory{0.0f, 0.0f};
                for (size_t i = 0; i + 4 <= phases.size(); ++i) {
                    F32x4 t, w(width);
                    loadLanes(t, &phases[i]);
                    const LaneOutputs<F32x4> lanes = Shape::step(levels, memory, t, w, p, 0.0f);
                    float out[4][4];
                    storeLanes(out[0], lanes.ramp);
                    storeLanes(out[1], lanes.saw);
                    storeLanes(out[2], lanes.pulse);
                    storeLanes(out[3], lanes.triangle);
                    for (size_t k = 0; k < 4; ++k) {
                        const Outputs one =
                            Shape::step(levels, memory, phases[i + k], width, p, 0.0f);
                        const float expected[4] = {one.ramp, one.saw, one.pulse, one.triangle};
                        for (int o = 0; o < 4; ++o)
                            ASSERT_EQ(std::memcmp(&out[o][k], &expected[o], sizeof(float)), 0)
                                << "t " << phases[i + k] << " width " << width << " pulse " << pulse
                                << " pitch " << p << " output " << o;
                    }
                }
            }
}

TEST(SoftShapes, LanesAtEveryZoneEdgeGiveTheOneSampleBits) {
    expectLanesAtEveryEdgeMatchOneSample<BrightShape, BrightEdges>();
    expectLanesAtEveryEdgeMatchOneSample<MediumShape, MediumEdges>();
    expectLanesAtEveryEdgeMatchOneSample<DarkShape, DarkEdges>();
}
#endif

TEST(SoftShapes, ClippedTriangle) {
    const SoftCase triangle[] = {{0.2f, 0.4f}, {0.25f, 0.46f}, {0.75f, -0.46f}, {0.5f, 0.0f}};
    for (const auto &c : triangle) {
        EXPECT_NEAR(stepAt<BrightShape>(c.t).triangle, c.ramp, kTol) << c.t;
        EXPECT_NEAR(stepAt<DarkShape>(c.t).triangle, c.ramp, kTol) << c.t;
    }
}

TEST(SoftShapes, PulseLevelBeyondTheLimitUsesTheRawValueForTheEdges) {
    // Pc = 2 serves the rising edge's offset and the width term; the plateau is 0.5 x 4.
    EXPECT_NEAR(stepAt<BrightShape>(0.0f, 0.5f, kLowPitch, 1, 1, 4.0f).pulse, 2.0f / 3, kTol);
    EXPECT_NEAR(stepAt<BrightShape>(0.25f, 0.5f, kLowPitch, 1, 1, 4.0f).pulse, 2.0f, kTol);
}

TEST(SoftShapes, AnAbsurdPulseLevelStillGivesFiniteEdges) {
    // The slopes are multiples of the Pulse Level as read; even far beyond any voltage, and at
    // a phase left far outside the cycle by a sync advance, they stay finite.
    for (float level : {1.7e38f, -3.4e38f, 1e30f}) {
        for (float t : {0.0f, 0.02f, 0.47f, 0.52f, 0.97f, 1.6e7f}) {
            EXPECT_TRUE(std::isfinite(stepAt<BrightShape>(t, 0.5f, kLowPitch, 1, 1, level).pulse));
            EXPECT_TRUE(std::isfinite(stepAt<MediumShape>(t, 0.5f, 0.7f, 1, 1, level).pulse));
            EXPECT_TRUE(std::isfinite(stepAt<DarkShape>(t, 0.5f, kLowPitch, 1, 1, level).pulse));
        }
    }
    // Ordinary levels beyond the limit of 2 keep their raw multiples.
    EXPECT_NEAR(stepAt<DarkShape>(0.02f, 0.5f, kLowPitch, 1, 1, 4.0f).pulse, 40.0f * 0.02f, kTol);
}

// A NaN Width has no row of its own in the pulse's edge table: it counts as a Width outside
// (0, 1). Below the crossfade band Pulse Out is exactly 0; in and above it only the clipped
// triangle's share is left, as for a Width of 1.
template <class Shape>
void expectNaNWidthActsAsWidthOutOfRange(float bandPitch) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (float t : {0.0f, 0.02f, 0.2f, 0.5f, 0.97f}) {
        EXPECT_EQ(stepAt<Shape>(t, nan).pulse, 0.0f) << t;
        EXPECT_EQ(stepAt<Shape>(t, nan).ramp, stepAt<Shape>(t, 0.5f).ramp) << t;
        EXPECT_EQ(stepAt<Shape>(t, nan, bandPitch).pulse, stepAt<Shape>(t, 1.0f, bandPitch).pulse)
            << t;
    }
    EXPECT_NE(stepAt<Shape>(0.2f, nan, bandPitch).pulse, 0.0f) << "the triangle's share";
}

TEST(SoftShapes, NaNWidthSilencesThePulseBelowTheBandAndLeavesTheTriangleInIt) {
    expectNaNWidthActsAsWidthOutOfRange<BrightShape>(0.7f);
    expectNaNWidthActsAsWidthOutOfRange<MediumShape>(0.7f);
    expectNaNWidthActsAsWidthOutOfRange<DarkShape>(0.7f);
}

TEST(SoftShapes, CrossfadeBandAndTopBranch) {
    const float t = 0.2f; // A = 0.4
    // At the lower threshold the triangle is computed but nothing is crossfaded.
    EXPECT_EQ(stepAt<BrightShape>(t, 0.5f, 0.55f).ramp, stepAt<BrightShape>(t, 0.5f, 0.3f).ramp);
    // Bright at exactly 0.8 is in the top branch: every output is A x its level.
    const Outputs top = stepAt<BrightShape>(t, 0.5f, 0.8f, 0.5f, 0.5f, 0.5f, 0.0f);
    EXPECT_NEAR(top.ramp, 0.2f, kTol);
    EXPECT_NEAR(top.saw, 0.2f, kTol);
    EXPECT_NEAR(top.pulse, 0.2f, kTol);
    EXPECT_EQ(top.triangle, 0.0f) << "A x 0, though A drives the others";
    // Medium at exactly 0.8 stays in the band with b = 0: the ramp enters inverted.
    const Outputs edge = stepAt<MediumShape>(t, 0.5f, 0.8f, 0.5f, 0.5f, 0.5f, 0.0f);
    EXPECT_NEAR(edge.ramp, -0.2f, 1e-5);
    EXPECT_NEAR(edge.saw, 0.2f, 1e-5);
    EXPECT_NEAR(edge.pulse, 0.2f, 1e-5);
    // Dark's band is 0.6 to 0.85.
    EXPECT_NEAR(stepAt<DarkShape>(t, 0.5f, 0.85f, 1, 1, 1, 1).ramp, 0.4f, kTol);
    // Width outside (0, 1) in the band and in the top branch.
    EXPECT_NEAR(stepAt<BrightShape>(t, 0.0f, 0.65f).pulse, 4.0f * (0.65f - 0.55f) * 0.4f, 1e-5);
    EXPECT_NEAR(stepAt<BrightShape>(t, 1.5f, 0.9f).pulse, 0.4f, kTol);
    // Halfway through the band each waveform weighs half.
    const Outputs half = stepAt<BrightShape>(0.3f, 0.5f, 0.675f, 1, 1, 1, 1);
    EXPECT_NEAR(half.saw, 0.5f * 0.4f + 0.5f * -0.2f, 1e-5); // A = 0.4 at t = 0.3
}

// ---------------------------------------------------------------------------------------------
// Perfect 2

namespace {

Outputs perfect2At(EdgeMemory &memory, float t, float width, float p, float increment,
                   float ramp = 1.0f, float saw = 1.0f, float pulse = 1.0f, float triangle = 1.0f) {
    return Perfect2Shape::step(Perfect2Shape::take(makeLevelSet(pulse, ramp, saw, triangle)),
                               memory, t, width, p, increment);
}

} // namespace

TEST(Perfect2, ClippedTriangleFlatAtFortyFiveHundredths) {
    EdgeMemory memory{0, 0};
    for (float t : {0.225f, 0.25f, 0.275f})
        EXPECT_NEAR(perfect2At(memory, t, 0.5f, kLowPitch, 0.01f).triangle, 0.45f, kTol) << t;
    for (float t : {0.725f, 0.75f, 0.775f})
        EXPECT_NEAR(perfect2At(memory, t, 0.5f, kLowPitch, 0.01f).triangle, -0.45f, kTol) << t;
    EXPECT_EQ(perfect2At(memory, 0.25f, 0.5f, kLowPitch, 0.01f, 1, 1, 1, 0).triangle, 0.0f);
}

TEST(Perfect2, PulseEdgesAreSoftenedOnTheSampleTheyHappen) {
    EdgeMemory memory{0.5f, 0.0f}; // high before
    const float inc = 0.01f;
    auto pulse = [&](float t) { return perfect2At(memory, t, 0.5f, kLowPitch, inc, 0, 0).pulse; };
    EXPECT_NEAR(pulse(0.49f), 0.5f, kTol);
    EXPECT_NEAR(pulse(0.505f), -inc, kTol) << "falling: W - inc - 0.5 - (W - 0.5)";
    EXPECT_NEAR(pulse(0.6f), -0.5f, kTol);
    EXPECT_NEAR(pulse(0.004f), 0.004f - 0.5f, kTol) << "rising after the wrap: t - 0.5";
    EXPECT_NEAR(pulse(0.014f), 0.5f, kTol);

    EdgeMemory fresh{0.0f, 0.0f}; // after open the first pulse sample is an edge
    EXPECT_NEAR(perfect2At(fresh, 0.2f, 0.5f, kLowPitch, inc, 0, 0).pulse, 0.2f - 0.5f, kTol);
    EXPECT_EQ(fresh.lastPulseSign, 0.5f);
}

TEST(Perfect2, RampJumpLandsInTheMiddle) {
    EdgeMemory memory{0.0f, -0.49f};
    const float inc = 0.01f;
    auto ramp = [&](float t) { return perfect2At(memory, t, 0.5f, kLowPitch, inc, 1, 0, 0).ramp; };
    EXPECT_NEAR(ramp(0.995f), -0.5f, kTol);
    EXPECT_NEAR(ramp(0.005f), 0.0f, kTol);
    EXPECT_NEAR(ramp(0.015f), 0.48f, kTol);

    // A negative level makes v rise every sample: shaped everywhere but after the wrap.
    EdgeMemory rising{0.0f, -10.0f};
    const float t = 0.4f;
    EXPECT_NEAR(perfect2At(rising, t, 0.5f, kLowPitch, inc, -1, 0, 0).ramp, t + 1.5f * inc - 1.0f,
                kTol);
}

TEST(Perfect2, CrossfadeIntoTheClippedTriangle) {
    const float t = 0.1f, inc = 0.001f; // B = 0.2
    EdgeMemory a{0.5f, 0.5f}, b{0.5f, 0.5f};
    // At exactly 0.45 the triangle is computed but not crossfaded.
    EXPECT_EQ(perfect2At(a, t, 0.5f, 0.45f, inc).saw, perfect2At(b, t, 0.5f, 0.3f, inc).saw);
    EdgeMemory m{0.5f, 0.5f};
    const Outputs top = perfect2At(m, t, 0.5f, 0.75f, inc, 0.5f, 0.5f, 0.5f, 0.0f);
    EXPECT_NEAR(top.pulse, 0.1f, kTol);
    EXPECT_NEAR(top.ramp, 0.1f, kTol);
    EXPECT_EQ(m.lastPulseSign, 0.5f) << "memories untouched in the top range";
    EXPECT_EQ(m.lastRampValue, 0.5f);
    const Outputs half = perfect2At(m, t, 0.5f, 0.6f, inc);
    EXPECT_NEAR(half.saw, (0.15f * 0.2f + 0.15f * -0.4f) * 3.334f, 1e-5);
    EXPECT_NEAR(perfect2At(m, t, 1.0f, 0.6f, inc).pulse, 0.15f * 0.2f * 3.334f, 1e-5)
        << "width outside (0, 1): only the triangle's share";
}
