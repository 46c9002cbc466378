// The ten process routines end to end through the host: what every routine shares (block
// partitioning, period, modulation that modulates nothing), the level refresh positions, and the
// frequency step of FM Enable and Half. The frame itself is tested directly in dsp/.
#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <string>
#include <vector>

#include "module/routines.h"
#include "testkit/fixture.h"
#include "testkit/routines.h"

using namespace fourwave;

namespace {

using RoutineCase = test::RoutineRow;
const auto &kRoutines = test::kRoutineTable;

// A steady tone with every output and input in use. The modulation routines run with phase
// modulation on but a Phase input of 0, which modulates nothing.
test::Patch tonePatch(const RoutineCase &c, float pitch = 0.5f) {
    test::Patch patch;
    patch.shape = c.shape;
    patch.pmMode = c.modulated ? PM_ENABLE : PM_DISABLE;
    patch.inputs = {{PITCH_INPUT, pitch},      {WIDTH_INPUT, 0.3f},
                    {RAMP_LEVEL_INPUT, 0.5f},  {SAW_LEVEL_INPUT, -0.7f},
                    {PULSE_LEVEL_INPUT, 0.9f}, {TRIANGLE_LEVEL_INPUT, 1.2f},
                    {PHASE_INPUT, 0.0f},       {PHASE_MOD_INPUT, 0.5f}};
    return patch;
}

void expectSameBits(const test::Outputs &a, const test::Outputs &b, const char *what) {
    for (int32_t plug : {RAMP_OUTPUT, SAW_OUTPUT, PULSE_OUTPUT, TRIANGLE_OUTPUT}) {
        ASSERT_EQ(a[plug].size(), b[plug].size());
        for (size_t i = 0; i < a[plug].size(); ++i)
            ASSERT_TRUE(test::sameBits(a[plug][i], b[plug][i]))
                << what << ": plug " << plug << " sample " << i << ": " << a[plug][i] << " vs "
                << b[plug][i];
    }
}

// Frequency of a signal from its rising zero crossings, interpolated.
double frequencyOf(const std::vector<float> &signal, double sampleRate) {
    double first = -1, last = -1;
    int crossings = 0;
    for (size_t i = 1; i < signal.size(); ++i) {
        if (signal[i - 1] < 0.0f && signal[i] >= 0.0f) {
            const double at = static_cast<double>(i) - signal[i] / (signal[i] - signal[i - 1]);
            if (first < 0) first = at;
            last = at;
            ++crossings;
        }
    }
    return crossings < 2 ? 0.0 : sampleRate * (crossings - 1) / (last - first);
}

class EveryRoutine : public ::testing::TestWithParam<RoutineCase> {};

} // namespace

TEST_P(EveryRoutine, RunsTheRoutineItIsNamedFor) {
    auto host = test::openHost(tonePatch(GetParam()));
    EXPECT_EQ(host->record()->process, GetParam().routine);
}

TEST_P(EveryRoutine, SteadyInputsGiveTheSameSignalWhateverTheBlockSizes) {
    auto whole = test::openHost(tonePatch(GetParam()));
    auto chunked = test::openHost(tonePatch(GetParam()));
    const auto a = test::render(*whole, 3000, 3000);
    const auto b = test::renderBlocks(*chunked, 3000, {1, 7, 16, 17, 64, 3, 250, 2});
    expectSameBits(a, b, "one block vs odd chunks");
}

TEST_P(EveryRoutine, ToneHasThePitchsFrequencyAndNoOffset) {
    auto host = test::openHost(tonePatch(GetParam(), 0.4f)); // 220 Hz, below every band
    const auto out = test::render(*host, 44100, 512);
    EXPECT_NEAR(frequencyOf(out.triangle, 44100.0), 220.0, 0.05);
    // Whole cycles only, so that the mean is the offset.
    const size_t cycles = static_cast<size_t>(44100.0 / (44100.0 / 220.0)) - 1;
    const size_t length = static_cast<size_t>(cycles * 44100.0 / 220.0);
    for (int32_t plug : {RAMP_OUTPUT, SAW_OUTPUT, TRIANGLE_OUTPUT}) {
        const auto &s = out[plug];
        const double mean = std::accumulate(s.begin(), s.begin() + length, 0.0) / length;
        EXPECT_NEAR(mean, 0.0, 2e-3) << "plug " << plug;
    }
    // Bright and Medium keep a residual step at the pulse edges, and with it a small offset.
    if (GetParam().shape == SHAPE_BRIGHT || GetParam().shape == SHAPE_MEDIUM) return;
    const auto &pulse = out.pulse;
    const double mean = std::accumulate(pulse.begin(), pulse.begin() + length, 0.0) / length;
    EXPECT_NEAR(mean, 0.0, 5e-3) << "the width term removes the pulse's average";
}

class ModulationRoutine : public EveryRoutine {};

TEST_P(ModulationRoutine, FollowingASteadyPitchPerSampleChangesNothing) {
    auto plain = test::openHost(tonePatch(GetParam()));
    for (int16_t fm : {FM_ENABLE, FM_HALF}) {
        test::Patch patch = tonePatch(GetParam());
        patch.fmMode = fm;
        auto following = test::openHost(patch);
        // Even block counts, so that Half's pairs start at each block's first sample.
        expectSameBits(test::render(*following, 2000, 64), test::render(*plain, 2000, 64),
                       fm == FM_ENABLE ? "Enable" : "Half");
        plain = test::openHost(tonePatch(GetParam()));
    }
}

TEST_P(EveryRoutine, InactiveBlocksAreSilentAndSkippedBuffersAreRejected) {
    auto host = test::openHost(tonePatch(GetParam()));
    host->fill(ACTIVE_INPUT, 0.0f);
    const auto out = test::render(*host, 256, 64);
    for (int32_t plug : {RAMP_OUTPUT, SAW_OUTPUT, PULSE_OUTPUT, TRIANGLE_OUTPUT})
        for (float v : out[plug]) ASSERT_EQ(v, 0.0f);
}

INSTANTIATE_TEST_SUITE_P(Ten, EveryRoutine, ::testing::ValuesIn(kRoutines),
                         [](const auto &info) { return std::string(info.param.name); });
INSTANTIATE_TEST_SUITE_P(Five, ModulationRoutine,
                         ::testing::Values(kRoutines[1], kRoutines[3], kRoutines[5], kRoutines[7],
                                           kRoutines[9]),
                         [](const auto &info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// Level refresh: with the phase frozen at 0, Perfect's Saw Out is -0.5 x the level last read.

namespace {

std::vector<int> levelReadPositions(int16_t shape, int16_t fm, int32_t block) {
    test::Patch patch;
    patch.shape = shape;
    patch.fmMode = fm;
    patch.freqScale = FREQ_SCALE_VOLT_PER_KHZ;
    patch.inputs[PITCH_INPUT] = 0.0f;
    auto host = test::openHost(patch);
    float *level = host->buffer(SAW_LEVEL_INPUT);
    for (int32_t i = 0; i < block; ++i) level[i] = 0.01f * static_cast<float>(i + 1);
    const auto out = test::render(*host, block, block);
    std::vector<int> reads;
    for (int32_t i = 0; i < block; ++i) {
        const float expected = -(0.5f * level[i]);
        if (out.saw[static_cast<size_t>(i)] == expected) reads.push_back(i);
    }
    return reads;
}

} // namespace

TEST(LevelRefresh, EverySixteenSamplesCountedFromTheBlockEnd) {
    struct Case {
        int32_t block;
        std::vector<int> reads;
    };
    const Case cases[] = {{64, {0, 8, 24, 40, 56}},
                          {32, {0, 8, 24}},
                          {16, {0, 8}},
                          {10, {0, 2}},
                          {8, {0}},
                          {7, {0}},
                          {1, {0}}};
    for (const Case &c : cases) {
        EXPECT_EQ(levelReadPositions(SHAPE_PERFECT, FM_DISABLE, c.block), c.reads) << c.block;
        EXPECT_EQ(levelReadPositions(SHAPE_PERFECT, FM_ENABLE, c.block), c.reads) << c.block;
        EXPECT_EQ(levelReadPositions(SHAPE_PERFECT, FM_HALF, c.block), c.reads) << c.block;
    }
}

// ---------------------------------------------------------------------------------------------
// FM Enable and Half

namespace {

float incrementFor(float pitch, const Module &m) {
    return m.invSampleRate * dsp::foldFrequency(dsp::pitchToFrequency(pitch, 0), m.maxFrequency);
}

std::unique_ptr<host::Host> fmHost(int16_t fm) {
    test::Patch patch;
    patch.fmMode = fm;
    patch.inputs[SAW_LEVEL_INPUT] = 1.0f;
    return test::openHost(patch);
}

} // namespace

TEST(FrequencyModulation, EnableUsesEachSamplesPitchForItsOwnAdvance) {
    auto host = fmHost(FM_ENABLE);
    const std::vector<float> pitch = {0.3f, 0.35f, 0.5f, 0.62f, 0.41f, 0.47f};
    std::copy(pitch.begin(), pitch.end(), host->buffer(PITCH_INPUT));
    const Module &m = test::moduleOf(*host);
    float phase = m.phase;
    host->run(static_cast<int32_t>(pitch.size()));
    for (float p : pitch) {
        phase = incrementFor(p, m) + phase;
        if (phase >= 1.0f) phase -= 1.0f;
    }
    EXPECT_EQ(m.lastPitch, pitch.back());
    EXPECT_FLAVOUR_EQ(incrementFor(pitch.back(), m), m.phaseIncrement);
    EXPECT_FLAVOUR_EQ(phase, m.phase);
}

TEST(FrequencyModulation, HalfAveragesPairsAndAnOddBlockStartsWithTheOldIncrement) {
    // Five samples: sample 0 keeps the open increment 0.1; (p0 + p1) / 2 from sample 1 on,
    // (p2 + p3) / 2 from sample 3 on; p4 is never read.
    auto host = fmHost(FM_HALF);
    const float p[] = {0.3f, 0.4f, 0.5f, 0.6f, std::nanf("")};
    std::copy(std::begin(p), std::end(p), host->buffer(PITCH_INPUT));
    const Module &m = test::moduleOf(*host);
    host->run(5);
    const float first = (p[0] + p[1]) * 0.5f, second = (p[2] + p[3]) * 0.5f;
    float phase = 0.1f;
    phase = incrementFor(first, m) + phase;
    phase = incrementFor(first, m) + phase;
    phase = incrementFor(second, m) + phase;
    phase = incrementFor(second, m) + phase;
    EXPECT_EQ(m.lastPitch, second);
    EXPECT_FLAVOUR_EQ(phase, m.phase);

    // Four samples: pairs taken at samples 0 and 2.
    auto even = fmHost(FM_HALF);
    std::copy(std::begin(p), std::begin(p) + 4, even->buffer(PITCH_INPUT));
    even->run(4);
    const Module &e = test::moduleOf(*even);
    float evenPhase = 0.0f;
    for (float pair : {first, first, second, second}) evenPhase = incrementFor(pair, e) + evenPhase;
    EXPECT_FLAVOUR_EQ(evenPhase, e.phase);
}

TEST(FrequencyModulation, CrossfadeFollowsThePitchSampleBySample) {
    // Perfect 2 under Enable: the sample whose own pitch reaches 0.75 is pure clipped triangle.
    test::Patch patch;
    patch.shape = SHAPE_PERFECT2;
    patch.fmMode = FM_ENABLE;
    patch.inputs = {{SAW_LEVEL_INPUT, 1.0f}, {TRIANGLE_LEVEL_INPUT, 1.0f}};
    auto host = test::openHost(patch);
    float *pitch = host->buffer(PITCH_INPUT);
    for (int i = 0; i < 32; ++i) pitch[i] = i < 20 ? 0.3f : 0.8f;
    const auto out = test::render(*host, 32, 32);
    EXPECT_NE(out.saw[19], out.triangle[19]);
    for (int i = 20; i < 32; ++i)
        EXPECT_EQ(out.saw[static_cast<size_t>(i)], out.triangle[static_cast<size_t>(i)]);
}

TEST(PhaseModulationInTheFrame, ShiftsTheWaveformAndTakesTheSyncResetFirst) {
    test::Patch patch;
    patch.pmMode = PM_ENABLE;
    patch.sampleRate = 10000.0f;
    patch.freqScale = FREQ_SCALE_VOLT_PER_KHZ;
    patch.inputs = {{PITCH_INPUT, 0.01f},
                    {RAMP_LEVEL_INPUT, 1.0f},
                    {PHASE_INPUT, 0.25f},
                    {PHASE_MOD_INPUT, 1.0f}};
    auto host = test::openHost(patch);
    host->buffer(SYNC_INPUT)[40] = 1.0f;
    const auto out = test::render(*host, 50, 50);
    EXPECT_FLOAT_EQ(out.ramp[0], 0.5f - 0.75f) << "phase 0 delayed by a quarter cycle";
    EXPECT_FLOAT_EQ(out.ramp[40], 0.5f - 0.75f) << "reset to 0, then modulated";
}
