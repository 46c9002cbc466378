// The oscillator core: pitch conversion and folding, the phase accumulator, the sync edge and
// phase modulation. Pure functions are called directly; the frame's behaviour is observed
// through the host with real buffers.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "module/dsp/core.h"
#include "module/dsp/lanes.h"
#include "testkit/fixture.h"

using namespace fourwave;
using namespace fourwave::dsp;

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// Phase modulation exactly as the loops define it, for ordinary depths.
float modulatePhaseByLoops(float phase, float signal, float depth) {
    if (signal == 0.0f) return phase;
    float t = phase - depth * signal;
    while (t < 0.0f) t = t + 1.0f;
    while (t > 1.0f) t = t - 1.0f;
    return t;
}

Oscillator oscillatorAt(float phase, float increment) {
    return Oscillator{phase, 0.0f, increment, 1.0f / 44100.0f, 11025.0f, 0, true};
}

} // namespace

TEST(PitchConversion, VoltPerOctaveAndVoltPerKilohertz) {
    struct Case {
        float pitch;
        int16_t scale;
        float hz;
    };
    // Pitch values whose octave offset is exact in single precision give exact frequencies.
    const Case exact[] = {{0.5f, 0, 440.0f},        {0.0f, 0, 13.75f},  {1.0f, 0, 14080.0f},
                          {0.75f, 0, 2489.015869f}, {0.1f, 1, 1000.0f}, {-0.1f, 1, -1000.0f},
                          {0.0f, 1, 0.0f}};
    for (const Case &c : exact) EXPECT_FLAVOUR_EQ(c.hz, pitchToFrequency(c.pitch, c.scale));
    // 0.6f and 0.4f are a hair off 6 V and 4 V.
    EXPECT_NEAR(pitchToFrequency(0.6f, 0), 880.0f, 880.0f * 1e-6f);
    EXPECT_NEAR(pitchToFrequency(0.4f, 0), 220.0f, 220.0f * 1e-6f);
    EXPECT_EQ(pitchToFrequency(0.1f, 5), 0.1f * 10000.0f) << "any non-zero scale is 1 V/kHz";
}

TEST(PitchConversion, FoldingHalvesByOctavesBelowTheCeiling) {
    const float m = 11025.0f;
    struct Case {
        float in, out;
    };
    const Case cases[] = {{m, m / 2},
                          {1.5f * m, 0.75f * m},
                          {3.0f * m, 0.75f * m},
                          {4.0f * m, m / 2},
                          {15.9f * m, 15.9f * m / 16},
                          {16.0f * m, m},
                          {1e30f, m},
                          {kInf, m},
                          {m - 1.0f, m - 1.0f},
                          {0.0f, 0.0f},
                          {-5000.0f, -5000.0f}};
    for (const Case &c : cases) EXPECT_EQ(foldFrequency(c.in, m), c.out) << c.in;
}

TEST(PitchUpdate, FirstBlockComputesTheIncrementFromItsFirstPitch) {
    test::Patch patch;
    patch.inputs[PITCH_INPUT] = 0.5f;
    auto host = test::openHost(patch);
    host->run(16);
    const Module &m = test::moduleOf(*host);
    EXPECT_EQ(m.lastPitch, 0.5f);
    EXPECT_FLAVOUR_EQ(440.0f * (1.0f / 44100.0f), m.phaseIncrement);
}

TEST(PitchUpdate, APitchOfExactlyTwentyKeepsTheOpenIncrement) {
    test::Patch patch;
    patch.inputs[PITCH_INPUT] = 20.0f;
    auto host = test::openHost(patch);
    host->run(16);
    EXPECT_EQ(test::moduleOf(*host).phaseIncrement, 0.1f);
}

TEST(PitchUpdate, PlainRoutinesSeeAPitchChangeOnlyAtTheNextBlock) {
    test::Patch patch;
    patch.inputs[PITCH_INPUT] = 0.5f;
    auto host = test::openHost(patch);
    host->buffer(PITCH_INPUT)[10] = 0.7f;
    host->run(32);
    EXPECT_EQ(test::moduleOf(*host).lastPitch, 0.5f);
    host->buffer(PITCH_INPUT)[0] = 0.7f;
    host->run(32);
    EXPECT_EQ(test::moduleOf(*host).lastPitch, 0.7f);
}

TEST(PitchUpdate, ZeroPitchAtVoltPerKilohertzFreezesThePhase) {
    test::Patch patch;
    patch.freqScale = FREQ_SCALE_VOLT_PER_KHZ;
    patch.inputs[PITCH_INPUT] = 0.0f;
    auto host = test::openHost(patch);
    host->run(64);
    EXPECT_EQ(test::moduleOf(*host).phaseIncrement, 0.0f);
    const float phase = test::moduleOf(*host).phase;
    host->run(64);
    EXPECT_EQ(test::moduleOf(*host).phase, phase);
}

TEST(PitchUpdate, AnIncrementThatCannotBeFollowedStopsTheOscillator) {
    struct Case {
        float pitch;
        float increment;
    };
    // An infinite pitch folds to the ceiling like any other beyond sixteen times it.
    const Case cases[] = {{kNaN, 0.0f}, {kInf, 0.25f}, {-kInf, 0.0f}};
    for (const Case &c : cases) {
        Oscillator osc = oscillatorAt(0.3f, 0.01f);
        osc.updatePitch(c.pitch);
        EXPECT_EQ(osc.phaseIncrement, c.increment) << c.pitch;
    }
    Oscillator zeroRate{0.0f, 0.0f, 0.1f, kInf, 0.0f, 0, true}; // what a sample rate of 0 leaves
    zeroRate.updatePitch(0.5f);
    EXPECT_EQ(zeroRate.phaseIncrement, 0.0f);
}

TEST(PhaseAdvance, WrapsOnceFromAboveAndForNegativeIncrementsFromBelow) {
    struct Case {
        float phase, increment, expected;
    };
    const Case cases[] = {
        {0.5f, 0.25f, 0.75f},     {0.875f, 0.25f, 0.125f},
        {1.5f, 0.25f, 0.75f},     {2.5f, 0.25f, 1.75f},   // one subtraction per sample, no loop
        {0.125f, -0.25f, 0.875f}, {-0.5f, 0.25f, -0.25f}, // climbs back with a positive one
        {0.25f, 0.0f, 0.25f},
    };
    for (const Case &c : cases) {
        Oscillator osc = oscillatorAt(c.phase, c.increment);
        osc.advancePhase();
        EXPECT_EQ(osc.phase, c.expected) << c.phase << " + " << c.increment;
    }
}

TEST(PhaseAdvance, ALostPhaseRestartsAtZero) {
    for (float phase : {kNaN, kInf, -kInf, 3e7f, -3e7f, 1e30f}) {
        Oscillator osc = oscillatorAt(phase, 0.01f);
        osc.advancePhase();
        EXPECT_EQ(osc.phase, 0.0f) << phase;
    }
}

TEST(SyncEdge, FiresOncePerRiseAndResetsOnlyPastTheThreshold) {
    Oscillator osc = oscillatorAt(0.3f, 0.01f);
    osc.processSyncEdge(1.0f, 0.5f, 0.0f); // consumed, phase not past the threshold
    EXPECT_EQ(osc.phase, 0.3f);
    EXPECT_FALSE(osc.syncArmed);
    osc.phase = 0.7f;
    osc.processSyncEdge(1.0f, 0.5f, 0.0f); // still high: no edge
    EXPECT_EQ(osc.phase, 0.7f);
    osc.processSyncEdge(-0.5f, 0.5f, 0.0f); // re-arms
    EXPECT_TRUE(osc.syncArmed);
    osc.processSyncEdge(0.8f, 0.5f, 0.5f);
    EXPECT_EQ(osc.phase, 0.5f * 0.8f);
    osc.processSyncEdge(0.0f, 0.0f, 0.0f);
    EXPECT_TRUE(osc.syncArmed);

    Oscillator atZero = oscillatorAt(0.0f, 0.01f); // 0.0 is not past a threshold of 0.0
    atZero.processSyncEdge(1.0f, 0.0f, 0.5f);
    EXPECT_EQ(atZero.phase, 0.0f);
    EXPECT_FALSE(atZero.syncArmed);

    Oscillator huge = oscillatorAt(0.5f, 0.01f);
    huge.processSyncEdge(1e30f, 0.0f, 1e30f); // an advance beyond any cycle restarts it
    EXPECT_EQ(huge.phase, 0.0f);
}

TEST(PhaseModulation, ExampleValues) {
    struct Case {
        float phase, signal, depth, expected;
    };
    const Case cases[] = {{0.2f, 1.0f, 0.5f, 0.7f},   {0.8f, -1.0f, 0.5f, 0.3f},
                          {0.5f, 1.0f, -0.5f, 1.0f},  {0.5f, 0.0f, 123.0f, 0.5f},
                          {0.25f, 0.0f, kNaN, 0.25f}, {0.5f, 3.0f, -0.5f, 1.0f},
                          {0.5f, 3.0f, 0.5f, 0.0f}};
    for (const Case &c : cases)
        EXPECT_NEAR(modulatePhase(c.phase, c.signal, c.depth), c.expected, 1e-6)
            << c.phase << " " << c.signal << " " << c.depth;
}

TEST(PhaseModulation, EqualsTheLoopsBitForBitForOrdinaryDepths) {
    std::mt19937 random(12345);
    std::uniform_real_distribution<float> phase(0.0f, 1.0f), value(-40.0f, 40.0f);
    for (int i = 0; i < 200000; ++i) {
        const float p = phase(random), x = value(random), d = value(random);
        const float expected = modulatePhaseByLoops(p, x, d);
        const float actual = modulatePhase(p, x, d);
        ASSERT_TRUE(test::sameBits(expected, actual))
            << p << " " << x << " " << d << ": " << expected << " vs " << actual;
    }
    // Whole numbers of cycles, where counting down stops at 1.0 and counting up at 0.0.
    for (float offset : {-7.0f, -3.0f, 2.0f, 3.0f, 5.0f, 1000.0f})
        EXPECT_EQ(modulatePhase(0.0f, offset, -1.0f), modulatePhaseByLoops(0.0f, offset, -1.0f));
}

TEST(PhaseModulation, HugeOrInfiniteDepthsEndInsideTheCycle) {
    for (float signal : {1e30f, -1e30f, kInf, -kInf, kNaN, 3e38f}) {
        for (float depth : {0.5f, 1e30f, -kInf, 0.0f}) {
            const float t = modulatePhase(0.3f, signal, depth);
            EXPECT_TRUE(t >= 0.0f && t <= 1.0f) << signal << " x " << depth << " -> " << t;
        }
    }
}

TEST(Levels, LimitedToTwentyVoltsWithTheRawPulseKept) {
    const LevelSet levels = makeLevelSet(3.0f, -5.0f, 1.5f, kNaN);
    EXPECT_EQ(levels.pulse, 2.0f);
    EXPECT_EQ(levels.ramp, -2.0f);
    EXPECT_EQ(levels.saw, 1.5f);
    EXPECT_TRUE(std::isnan(levels.triangle));
    EXPECT_EQ(levels.rawPulse, 3.0f);
}

// ---------------------------------------------------------------------------------------------
// The sync edge inside the frame: 1 V/kHz at 10 kHz, so a Pitch value is the increment.

namespace {

test::Patch syncPatch(float increment, float threshold, float advance) {
    test::Patch patch;
    patch.sampleRate = 10000.0f;
    patch.freqScale = FREQ_SCALE_VOLT_PER_KHZ;
    patch.inputs[PITCH_INPUT] = increment;
    patch.inputs[RAMP_LEVEL_INPUT] = 1.0f;
    patch.inputs[SYNC_THRESHOLD_INPUT] = threshold;
    patch.inputs[SYNC_ADVANCE_INPUT] = advance;
    return patch;
}

// Samples at which Perfect's ramp (0.5 - t) jumped up: where the phase was reset or wrapped.
std::vector<int> resets(const std::vector<float> &ramp) {
    std::vector<int> result;
    for (size_t i = 1; i < ramp.size(); ++i)
        if (ramp[i] > ramp[i - 1]) result.push_back(static_cast<int>(i));
    return result;
}

} // namespace

TEST(SyncInTheFrame, HardSyncRestartsTheCycleAtEveryRisingEdge) {
    auto host = test::openHost(syncPatch(0.01f, 0.0f, 0.0f));
    std::vector<float> sync(200, 0.0f);
    for (int edge : {30, 90, 150}) std::fill(sync.begin() + edge, sync.begin() + edge + 5, 1.0f);
    std::copy(sync.begin(), sync.end(), host->buffer(SYNC_INPUT));
    const auto out = test::render(*host, 200, 200);
    EXPECT_EQ(resets(out.ramp), (std::vector<int>{30, 90, 150}));
    EXPECT_EQ(out.ramp[30], 0.5f);
}

TEST(SyncInTheFrame, ASyncHeldHighIsOneEdge) {
    auto host = test::openHost(syncPatch(0.01f, 0.0f, 0.0f));
    std::fill(host->buffer(SYNC_INPUT) + 20, host->buffer(SYNC_INPUT) + 120, 1.0f);
    const auto out = test::render(*host, 110, 110);
    EXPECT_EQ(resets(out.ramp), std::vector<int>{20});
}

TEST(SyncInTheFrame, SoftSyncResetsOnlyLateEdges) {
    auto host = test::openHost(syncPatch(0.01f, 0.5f, 0.0f));
    float *sync = host->buffer(SYNC_INPUT);
    sync[30] = 1.0f; // phase 0.3: consumed, no reset
    sync[70] = 1.0f; // phase 0.7: reset
    const auto out = test::render(*host, 100, 100);
    EXPECT_EQ(resets(out.ramp), std::vector<int>{70});
}

TEST(SyncInTheFrame, AdvanceScaledByTheEdgeValueStartsTheCycleFurtherOn) {
    auto host = test::openHost(syncPatch(0.01f, 0.0f, 0.5f));
    host->buffer(SYNC_INPUT)[40] = 0.8f;
    const auto out = test::render(*host, 50, 50);
    EXPECT_FLOAT_EQ(out.ramp[40], 0.5f - 0.4f) << "the edge sample already uses the new phase";
}

TEST(SyncInTheFrame, ThresholdAndAdvanceAreReadAtTheBlockStart) {
    auto host = test::openHost(syncPatch(0.01f, 0.0f, 0.5f));
    std::fill(host->buffer(SYNC_ADVANCE_INPUT) + 1, host->buffer(SYNC_ADVANCE_INPUT) + 64, 0.0f);
    host->buffer(SYNC_INPUT)[40] = 1.0f;
    const auto out = test::render(*host, 64, 64);
    EXPECT_FLOAT_EQ(out.ramp[40], 0.0f) << "advance 0.5 from sample 0, not 0.0 from sample 40";
}

TEST(SyncInTheFrame, InactiveBlocksNeitherSeeNorLoseEdges) {
    auto host = test::openHost(syncPatch(0.01f, 0.0f, 0.0f));
    // Block 1 active, block 2 inactive with a whole sync pulse, block 3 starts with sync high.
    const auto out = test::render(*host, 96, 32, [](host::Host &h, int32_t clock, int32_t count) {
        h.fill(ACTIVE_INPUT, clock == 32 ? 0.0f : 1.0f);
        h.fill(SYNC_INPUT, 0.0f);
        if (clock == 32) std::fill(h.buffer(SYNC_INPUT) + 5, h.buffer(SYNC_INPUT) + 10, 1.0f);
        if (clock == 64) std::fill(h.buffer(SYNC_INPUT), h.buffer(SYNC_INPUT) + count, 1.0f);
    });
    for (int i = 32; i < 64; ++i) EXPECT_EQ(out.ramp[static_cast<size_t>(i)], 0.0f);
    EXPECT_EQ(out.ramp[64], 0.5f) << "still high at the first active sample: an edge";
    // The phase ran on through the silent block: sample 31 is at 0.31.
    EXPECT_NEAR(out.ramp[31], 0.5f - 0.31f, 1e-5);
}

TEST(InactiveSamples, WriteZerosWhileThePhaseRunsOn) {
    test::Patch patch;
    patch.inputs[PITCH_INPUT] = 0.5f;
    patch.inputs[RAMP_LEVEL_INPUT] = 1.0f;
    auto gated = test::openHost(patch);
    auto open = test::openHost(patch);
    gated->fill(ACTIVE_INPUT, 0.0f);
    const auto silent = test::render(*gated, 64, 64);
    test::render(*open, 64, 64);
    for (float v : silent.ramp) EXPECT_EQ(v, 0.0f);
    EXPECT_EQ(test::moduleOf(*gated).phase, test::moduleOf(*open).phase);
}
