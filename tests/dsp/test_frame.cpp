// The per-sample frame driven directly: plain arrays for the buffers, a scripted Active source,
// the oscillator state in a record. One typed suite over the ten (shape, modulation) pairs of
// the routine table; a modulation pair runs the frame with FM Enable and PM Enable (both read
// positions in use) unless a test names another variant.
#include <gtest/gtest.h>

#include <stdint.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include "module/dsp/frame.h"
#include "testkit/routines.h"

using namespace fourwave;
using namespace fourwave::dsp;

namespace {

constexpr int32_t kFrames = 256;
constexpr float kSampleRate = 48000.0f;

bool sameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The Active input as a script: buffer index to value. Counts its reads.
struct ScriptedActive {
    std::vector<float> values = std::vector<float>(kFrames, 1.0f);
    int32_t reads = 0;
    float read(int32_t i) {
        ++reads;
        return values[static_cast<size_t>(i)];
    }
};

// Every buffer of one instance as plain arrays, steady inputs by default: a 220 Hz tone with
// every level in use.
struct Signals {
    std::vector<float> pitch = std::vector<float>(kFrames, 0.4f);
    std::vector<float> width = std::vector<float>(kFrames, 0.3f);
    std::vector<float> sync = std::vector<float>(kFrames, 0.0f);
    std::vector<float> syncThreshold = std::vector<float>(kFrames, 0.0f);
    std::vector<float> syncAdvance = std::vector<float>(kFrames, 0.0f);
    std::vector<float> phase = std::vector<float>(kFrames, 0.0f);
    std::vector<float> phaseMod = std::vector<float>(kFrames, 0.5f);
    std::vector<float> pulseLevel = std::vector<float>(kFrames, 0.9f);
    std::vector<float> rampLevel = std::vector<float>(kFrames, 0.5f);
    std::vector<float> sawLevel = std::vector<float>(kFrames, -0.7f);
    std::vector<float> triangleLevel = std::vector<float>(kFrames, 1.2f);
    // Outputs start as a NaN no routine writes, so that an unwritten sample shows.
    std::vector<float> ramp = std::vector<float>(kFrames, -std::nanf("1"));
    std::vector<float> saw = ramp, pulse = ramp, triangle = ramp;

    FrameBuffers buffers() {
        return FrameBuffers{pitch.data(),         width.data(),         sync.data(),
                            syncThreshold.data(), syncAdvance.data(),   phase.data(),
                            phaseMod.data(),      pulseLevel.data(),    rampLevel.data(),
                            sawLevel.data(),      triangleLevel.data(), ramp.data(),
                            saw.data(),           pulse.data(),         triangle.data()};
    }
    const std::vector<float> &output(int k) const {
        return k == 0 ? ramp : k == 1 ? saw : k == 2 ? pulse : triangle;
    }
    // Every buffer `frames` long, holding its first value.
    void resize(int32_t frames) {
        for (std::vector<float> *v :
             {&pitch, &width, &sync, &syncThreshold, &syncAdvance, &phase, &phaseMod, &pulseLevel,
              &rampLevel, &sawLevel, &triangleLevel, &ramp, &saw, &pulse, &triangle})
            v->assign(static_cast<size_t>(frames), v->front());
    }
};

// The state open leaves: phase 0, increment 0.1, a last pitch no input has.
FrameState openState(int16_t freqScale = 0) {
    return FrameState{
        Oscillator{0.0f, 20.0f, 0.1f, 1.0f / kSampleRate, kSampleRate * 0.25f, freqScale, true},
        EdgeMemory{0.0f, 0.0f}};
}

using EnableEnable = Modulation<FollowPitch::EverySample, true>;
using HalfOnly = Modulation<FollowPitch::EveryPair, false>;

// The modulation variant a pair runs by default.
template <class Pair>
using DefaultMod = std::conditional_t<Pair::kModulated, EnableEnable, NoModulation>;

// Runs the frame over consecutive blocks of the given sizes from buffer index `start`.
template <class Pair, class Mod = DefaultMod<Pair>>
FrameState run(Signals &s, ScriptedActive &active, const std::vector<int32_t> &blocks,
               int32_t start = 0, FrameState state = openState()) {
    const FrameBuffers buffers = s.buffers();
    int32_t offset = start;
    for (const int32_t n : blocks) {
        runFrame<typename Pair::Shape, Mod>(buffers, state, active, offset, n);
        offset += n;
    }
    return state;
}

// The first buffer index in [from, to) where any output of a and b differs in its bits, or -1.
int32_t firstDifference(const Signals &a, const Signals &b, int32_t from = 0,
                        int32_t to = kFrames) {
    for (int32_t i = from; i < to; ++i)
        for (int k = 0; k < 4; ++k)
            if (!sameBits(a.output(k)[static_cast<size_t>(i)], b.output(k)[static_cast<size_t>(i)]))
                return i;
    return -1;
}

void expectSameState(const FrameState &a, const FrameState &b) {
    EXPECT_TRUE(sameBits(a.oscillator.phase, b.oscillator.phase));
    EXPECT_TRUE(sameBits(a.oscillator.phaseIncrement, b.oscillator.phaseIncrement));
    EXPECT_TRUE(sameBits(a.oscillator.lastPitch, b.oscillator.lastPitch));
    EXPECT_EQ(a.oscillator.syncArmed, b.oscillator.syncArmed);
    EXPECT_TRUE(sameBits(a.memory.lastPulseSign, b.memory.lastPulseSign));
    EXPECT_TRUE(sameBits(a.memory.lastRampValue, b.memory.lastRampValue));
}

// A pitch and a Phase input that move at every sample (used where a pair reads them per
// sample): the pitch stays below every crossfade band, the Phase input mid-cycle.
void moveInputs(Signals &s) {
    for (int32_t i = 0; i < kFrames; ++i) {
        s.pitch[static_cast<size_t>(i)] = 0.38f + 0.0001f * static_cast<float>(i);
        s.phase[static_cast<size_t>(i)] = 0.1f + 0.003f * static_cast<float>(i % 50);
    }
}

template <class Pair>
class Frame : public ::testing::Test {};

struct PairNames {
    template <class Pair>
    static std::string GetName(int) {
        return Pair::row().name;
    }
};

using Pairs = test::RoutinePairs<::testing::Types>;
TYPED_TEST_SUITE(Frame, Pairs, PairNames);

} // namespace

// Steady levels (their refresh positions count from each block's end) and, for a modulation
// pair, a pitch and Phase input read at every sample: how the samples are split into blocks,
// empty blocks included, changes no bit, and the Active source is asked once a sample.
TYPED_TEST(Frame, BlockPartitionsGiveTheSameBits) {
    using Pair = TypeParam;
    const std::vector<std::vector<int32_t>> partitions = {
        {1, 255}, {16, 16, 16, 16, 64, 128}, {7, 50, 3, 196}, {100, 0, 156}, {255, 1}};
    Signals whole;
    if (Pair::kModulated) moveInputs(whole);
    ScriptedActive wholeActive;
    const FrameState wholeState = run<Pair>(whole, wholeActive, {kFrames});
    EXPECT_EQ(wholeActive.reads, kFrames);
    ASSERT_TRUE(std::isfinite(whole.ramp.back()));
    for (const auto &blocks : partitions) {
        Signals split;
        if (Pair::kModulated) moveInputs(split);
        ScriptedActive active;
        const FrameState state = run<Pair>(split, active, blocks);
        EXPECT_EQ(active.reads, kFrames);
        EXPECT_EQ(firstDifference(whole, split), -1) << "first block " << blocks[0];
        expectSameState(wholeState, state);
    }
}

// Inactive samples write +0.0 to every output and let the phase run on; they neither read the
// levels nor move the read positions, so with steady inputs the tone after the stretch is the
// tone of a run without one (from the second active sample on: Perfect 2's memories skip the
// stretch).
TYPED_TEST(Frame, InactiveStretchesAreSilentWhileThePhaseRunsOn) {
    using Pair = TypeParam;
    Signals all;
    ScriptedActive allActive;
    const FrameState allState = run<Pair>(all, allActive, {kFrames});

    for (const float off : {0.0f, -0.0f}) {
        Signals gapped;
        ScriptedActive active;
        for (int32_t i = 40; i < 90; ++i) active.values[static_cast<size_t>(i)] = off;
        const FrameState state = run<Pair>(gapped, active, {kFrames});
        for (int32_t i = 40; i < 90; ++i)
            for (int k = 0; k < 4; ++k)
                ASSERT_TRUE(sameBits(gapped.output(k)[static_cast<size_t>(i)], 0.0f))
                    << "sample " << i << " output " << k;
        EXPECT_EQ(firstDifference(all, gapped, 0, 40), -1);
        EXPECT_EQ(firstDifference(all, gapped, 91), -1);
        EXPECT_TRUE(sameBits(state.oscillator.phase, allState.oscillator.phase));
    }
    // Any other Active value, a NaN included, is on.
    Signals odd;
    ScriptedActive oddActive;
    for (int32_t i = 0; i < kFrames; ++i)
        oddActive.values[static_cast<size_t>(i)] = i % 2 ? -3.0f : std::nanf("");
    run<Pair>(odd, oddActive, {kFrames});
    EXPECT_EQ(firstDifference(all, odd), -1);
}

// A level change is seen from the block's first sample, at every sample where the remaining
// count (block end minus index) is 8 mod 16 (Perfect 2: at every sample), and nowhere else.
TYPED_TEST(Frame, LevelsAreReadAtTheBlockStartAndTheRefreshPositions) {
    using Pair = TypeParam;
    constexpr int32_t kStart = 5, kCount = 100, kEnd = kStart + kCount;
    Signals plain;
    ScriptedActive plainActive;
    run<Pair>(plain, plainActive, {kCount}, kStart);
    for (int32_t j = kStart; j < kEnd; ++j) {
        Signals changed;
        changed.pulseLevel[static_cast<size_t>(j)] = 0.6f;
        ScriptedActive active;
        run<Pair>(changed, active, {kCount}, kStart);
        const bool read = Pair::Shape::kLevelsEverySample || j == kStart || (kEnd - j) % 16 == 8;
        EXPECT_EQ(firstDifference(plain, changed, kStart, kEnd), read ? j : -1) << "index " << j;
    }
}

// A level that steps to a new value and holds it: from the first sample that reads it (Perfect
// 2: its own; the others: the next refresh position) the outputs are those of a run with the
// new value throughout, before it those of the old. The Pulse Level moves no memory.
TYPED_TEST(Frame, ALevelStepHoldsFromTheSampleThatReadsIt) {
    using Pair = TypeParam;
    for (const int32_t step : {37, 48, 200}) {
        Signals before, after, stepped;
        after.pulseLevel.assign(kFrames, 0.6f);
        std::fill(stepped.pulseLevel.begin() + step, stepped.pulseLevel.end(), 0.6f);
        ScriptedActive a, b, c;
        run<Pair>(before, a, {kFrames});
        run<Pair>(after, b, {kFrames});
        run<Pair>(stepped, c, {kFrames});
        int32_t read = step;
        if (!Pair::Shape::kLevelsEverySample)
            while (!isLevelRefreshSample(kFrames - read)) ++read;
        EXPECT_EQ(firstDifference(before, stepped), read) << "step at " << step;
        EXPECT_EQ(firstDifference(after, stepped, read), -1) << "step at " << step;
    }
}

// Hard sync: a rising Sync edge restarts the cycle at the advance (0 here), so the samples
// after an edge repeat the block's first samples; a threshold the phase never passes makes the
// edges change nothing; an edge on an inactive sample is not seen.
TYPED_TEST(Frame, SyncEdgesRestartTheCycleOnlyPastTheThreshold) {
    using Pair = TypeParam;
    const int32_t edges[] = {60, 137, 200};
    Signals synced;
    for (const int32_t e : edges) synced.sync[static_cast<size_t>(e)] = 1.0f;
    ScriptedActive active;
    run<Pair>(synced, active, {kFrames});
    for (size_t k = 0; k < 3; ++k) {
        const int32_t e = edges[k], next = k + 1 < 3 ? edges[k + 1] : kFrames;
        for (int32_t n = 1; e + n < next && n < edges[0]; ++n)
            for (int c = 0; c < 4; ++c)
                ASSERT_TRUE(sameBits(synced.output(c)[static_cast<size_t>(e + n)],
                                     synced.output(c)[static_cast<size_t>(n)]))
                    << "edge " << e << " + " << n << " output " << c;
    }

    // The reset comes before the waveform: the edge's own sample is at the new phase.
    Signals unsynced;
    ScriptedActive unsyncedActive;
    run<Pair>(unsynced, unsyncedActive, {kFrames});
    EXPECT_EQ(firstDifference(unsynced, synced), edges[0]);

    Signals unreached = synced;
    unreached.syncThreshold.assign(kFrames, 2.0f);
    ScriptedActive unreachedActive;
    run<Pair>(unreached, unreachedActive, {kFrames});
    EXPECT_EQ(firstDifference(unsynced, unreached), -1);

    // The edges fall on inactive samples: the tone runs on as without them.
    Signals hidden = synced;
    ScriptedActive hiddenActive;
    for (const int32_t e : edges) hiddenActive.values[static_cast<size_t>(e)] = 0.0f;
    run<Pair>(hidden, hiddenActive, {kFrames});
    EXPECT_EQ(firstDifference(unsynced, hidden, edges[0] + 2, edges[1]), -1);
}

// The pitch and the Phase input are read at positions that move only on active samples: the
// k-th active sample of a block reads index blockOffset + k. A plain pair reads the pitch at
// the block's first index only, and never the Phase input.
TYPED_TEST(Frame, PitchAndPhaseReadPositionsMoveOnlyOnActiveSamples) {
    using Pair = TypeParam;
    constexpr int32_t kStart = 3, kCount = 120, kEnd = kStart + kCount;
    ScriptedActive script;
    for (int32_t i = 30; i < 50; ++i) script.values[static_cast<size_t>(i)] = 0.0f;
    for (int32_t i = 70; i < 73; ++i) script.values[static_cast<size_t>(i)] = 0.0f;
    std::vector<int32_t> activeSamples;
    for (int32_t i = kStart; i < kEnd; ++i)
        if (script.values[static_cast<size_t>(i)] != 0.0f) activeSamples.push_back(i);

    Signals base;
    moveInputs(base);
    ScriptedActive baseActive = script;
    run<Pair>(base, baseActive, {kCount}, kStart);

    for (size_t k = 0; k < activeSamples.size(); k += 7) {
        const int32_t position = kStart + static_cast<int32_t>(k);
        const int32_t reader = activeSamples[k];
        const int32_t nextActive = k + 1 < activeSamples.size() ? activeSamples[k + 1] : kEnd;

        Signals phaseChanged;
        moveInputs(phaseChanged);
        phaseChanged.phase[static_cast<size_t>(position)] += 0.03f;
        ScriptedActive a = script;
        run<Pair>(phaseChanged, a, {kCount}, kStart);
        EXPECT_EQ(firstDifference(base, phaseChanged, kStart, kEnd), Pair::kModulated ? reader : -1)
            << "Phase input at " << position;

        Signals pitchChanged;
        moveInputs(pitchChanged);
        pitchChanged.pitch[static_cast<size_t>(position)] += 0.02f;
        ScriptedActive b = script;
        run<Pair>(pitchChanged, b, {kCount}, kStart);
        const int32_t first = firstDifference(base, pitchChanged, kStart, kEnd);
        if (!Pair::kModulated) {
            // Read at the block start only: it changes the whole block's increment, seen at
            // the first sample (Perfect 2's ramp) or from the second on.
            if (position == kStart) {
                EXPECT_GE(first, kStart);
                EXPECT_LE(first, kStart + 1);
            } else {
                EXPECT_EQ(first, -1) << "pitch at " << position;
            }
        } else {
            // The sample that reads it may show it (a crossfade or Perfect 2's ramp uses it);
            // the next active sample shows the advance it made.
            EXPECT_GE(first, reader) << "pitch at " << position;
            EXPECT_LE(first, nextActive) << "pitch at " << position;
        }
    }
}

// FM Half: a new pitch, the average of a pair, at every sample whose remaining count is even,
// so an odd block's first sample keeps the increment in force and its last pitch is never read.
template <class Pair>
class ModulationFrame : public ::testing::Test {};
using ModulationPairs = test::ModulationPairs<::testing::Types>;
TYPED_TEST_SUITE(ModulationFrame, ModulationPairs, PairNames);

TYPED_TEST(ModulationFrame, HalfReadsPairsAtEvenRemainingCounts) {
    using Pair = TypeParam;
    // A moving pitch, and a steady one (whose unchanged stretches the frame runs without a
    // frequency step, counting the pairs instead).
    for (const bool moving : {true, false})
        for (const int32_t count : {64, 63}) {
            Signals base;
            if (moving) moveInputs(base);
            ScriptedActive baseActive;
            const FrameState baseState = run<Pair, HalfOnly>(base, baseActive, {count});
            for (int32_t j = 0; j < count; ++j) {
                Signals changed;
                if (moving) moveInputs(changed);
                changed.pitch[static_cast<size_t>(j)] += 0.02f;
                ScriptedActive active;
                const FrameState state = run<Pair, HalfOnly>(changed, active, {count});
                const int32_t first = firstDifference(base, changed, 0, count);
                const int32_t odd = count % 2;
                if (odd && j == count - 1) {
                    EXPECT_EQ(first, -1) << "never read";
                    EXPECT_TRUE(sameBits(state.oscillator.phase, baseState.oscillator.phase));
                    continue;
                }
                const int32_t reader = odd + (j / 2) * 2; // the pair's first sample
                EXPECT_GE(first, reader) << "count " << count << " pitch at " << j;
                EXPECT_LE(first, reader + 1) << "count " << count << " pitch at " << j;
            }
        }
}

// The table's rows as the module knows them: the routine each pair must install.
TYPED_TEST(Frame, TheTableRowIsTheModulesRoutine) {
    const test::RoutineRow &row = TypeParam::row();
    EXPECT_EQ(routineFor(row.shape, row.modulated), row.routine) << row.name;
    EXPECT_EQ(row.modulated, TypeParam::kModulated);
}

// ----------------------------------------------------------------------------------------------
// The waveform pass four samples at a time against one at a time.

namespace {

bool sameSample(float a, float b) { return sameBits(a, b) || (std::isnan(a) && std::isnan(b)); }

// Inputs that hold a value for a random stretch (1 to 300 samples), then draw another from a
// pool of ordinary and hostile values: NaN, infinities, zeros of both signs, levels beyond +-2,
// widths outside 0 to 1, pitches inside and beyond every band (negative at 1 V/kHz), sync
// pulses, absurd phase-modulation depths, silent Active stretches. A pool's "moving" entry
// draws a new value every sample, its "flickering" entry every sample either 0 or such a value
// (levels and outputs switching on and off within four samples, widths and pitches crossing
// their limits and bands). Long quiet stretches take the frame's steady path, the rest its
// sample-by-sample path.
void drawHostileInputs(Signals &s, ScriptedActive &active, std::mt19937 &rng, int32_t frames) {
    constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
    constexpr float kInf = std::numeric_limits<float>::infinity();
    constexpr float kMoving = 12345.0f;     // the pool entry that draws per sample
    constexpr float kFlickering = 54321.0f; // the one that draws 0 or a moving value
    struct Input {
        std::vector<float> *buffer;
        std::vector<float> pool;
        float low, high; // the range of the moving entry
    };
    s.resize(frames);
    active.values.assign(static_cast<size_t>(frames), 1.0f);
    const std::vector<Input> inputs = {
        {&s.pitch,
         {0.4f, 0.5f, 0.45f, 0.55f, 0.6f, 0.75f, 0.8f, 0.85f, 0.95f, 0.65f, -0.3f, 0.0f, kNaN, kInf,
          -kInf, 1e30f, kMoving, kFlickering},
         -0.4f,
         1.1f},
        {&s.width,
         {0.3f, 0.5f, 0.03f, 0.97f, 0.0f, 1.0f, -0.1f, 1.5f, kNaN, kMoving, kFlickering},
         -0.2f,
         1.2f},
        {&s.sync, {0.0f, 0.0f, 0.0f, 1.0f, -0.5f, 0.7f, kNaN, kMoving}, -1.0f, 1.0f},
        {&s.syncThreshold, {0.0f, 0.5f, 2.0f, kNaN}, 0.0f, 0.0f},
        {&s.syncAdvance, {0.0f, 0.3f, 1.5f, -0.4f, 3e7f, kNaN}, 0.0f, 0.0f},
        {&s.phase, {0.0f, 0.3f, -1.0f, 1e9f, kNaN, kInf, kMoving}, -1.5f, 1.5f},
        {&s.phaseMod, {0.5f, -0.5f, 1e3f, 0.0f, kInf, kMoving}, -2.0f, 2.0f},
        {&s.pulseLevel,
         {0.9f, 0.0f, -0.0f, 3.0f, -5.0f, 1e30f, -kInf, kNaN, kMoving, kFlickering},
         -2.5f,
         2.5f},
        {&s.rampLevel, {0.5f, 0.0f, -2.5f, kInf, kNaN, kMoving, kFlickering}, -2.5f, 2.5f},
        {&s.sawLevel, {-0.7f, 0.0f, 2.5f, kNaN, kMoving, kFlickering}, -2.5f, 2.5f},
        {&s.triangleLevel, {1.2f, 0.0f, -0.0f, 4.0f, kNaN, kMoving, kFlickering}, -2.5f, 2.5f},
        {&active.values, {1.0f, 1.0f, 1.0f, 0.0f, -0.0f, kNaN, -3.0f}, 0.0f, 0.0f},
    };
    std::uniform_int_distribution<int32_t> length(1, 300);
    std::bernoulli_distribution zero(0.5);
    for (const Input &in : inputs) {
        std::uniform_int_distribution<size_t> pick(0, in.pool.size() - 1);
        std::uniform_real_distribution<float> moving(in.low, in.high);
        const auto draw = [&](float value) {
            if (value == kFlickering) return zero(rng) ? 0.0f : moving(rng);
            return value == kMoving ? moving(rng) : value;
        };
        for (int32_t i = 0; i < frames;) {
            const float value = in.pool[pick(rng)];
            for (const int32_t stop = std::min(frames, i + length(rng)); i < stop; ++i)
                (*in.buffer)[static_cast<size_t>(i)] = draw(value);
        }
    }
}

// The same blocks through the frame with a one-sample and a wide waveform pass: every output
// and the final state bit for bit, a NaN's sign and payload aside.
template <class Shape, class Mod>
void expectWideMatchesOneSample(uint32_t seed, int16_t freqScale) {
    constexpr int32_t kInputFrames = 6000;
    std::mt19937 rng(seed);
    Signals inputs;
    ScriptedActive script;
    drawHostileInputs(inputs, script, rng, kInputFrames);
    std::vector<int32_t> blocks;
    const int32_t start = std::uniform_int_distribution<int32_t>(0, 40)(rng);
    std::uniform_int_distribution<int32_t> blockSize(1, 1024);
    for (int32_t left = kInputFrames - start; left > 0;) {
        const int32_t n = std::min(left, blockSize(rng));
        blocks.push_back(n);
        left -= n;
    }

    Signals one = inputs, wide = inputs;
    ScriptedActive oneActive = script, wideActive = script;
    FrameState oneState = openState(freqScale), wideState = openState(freqScale);
    int32_t offset = start;
    for (const int32_t n : blocks) {
        runFrame<Shape, Mod, ScriptedActive, float>(one.buffers(), oneState, oneActive, offset, n);
        runFrame<Shape, Mod, ScriptedActive, WideLane>(wide.buffers(), wideState, wideActive,
                                                       offset, n);
        offset += n;
    }
    ASSERT_EQ(oneActive.reads, wideActive.reads);
    for (int32_t i = 0; i < kInputFrames; ++i)
        for (int k = 0; k < 4; ++k)
            ASSERT_TRUE(sameSample(one.output(k)[static_cast<size_t>(i)],
                                   wide.output(k)[static_cast<size_t>(i)]))
                << "seed " << seed << " scale " << freqScale << " sample " << i << " output " << k
                << ": " << one.output(k)[static_cast<size_t>(i)] << " against "
                << wide.output(k)[static_cast<size_t>(i)];
    EXPECT_TRUE(sameSample(oneState.oscillator.phase, wideState.oscillator.phase));
    EXPECT_TRUE(
        sameSample(oneState.oscillator.phaseIncrement, wideState.oscillator.phaseIncrement));
    EXPECT_TRUE(sameSample(oneState.oscillator.lastPitch, wideState.oscillator.lastPitch));
    EXPECT_EQ(oneState.oscillator.syncArmed, wideState.oscillator.syncArmed);
    EXPECT_TRUE(sameSample(oneState.memory.lastPulseSign, wideState.memory.lastPulseSign));
    EXPECT_TRUE(sameSample(oneState.memory.lastRampValue, wideState.memory.lastRampValue));
}

} // namespace

// Random and hostile inputs, random blocks of 1 to 1024 samples from a random offset, both
// clocks, every modulation variant of a modulation pair.
TYPED_TEST(Frame, TheWideWaveformPassGivesTheOneSamplePassBits) {
    using Shape = typename TypeParam::Shape;
    for (uint32_t seed = 1; seed <= 6; ++seed) {
        const int16_t freqScale = seed % 2 ? 0 : 1;
        if constexpr (TypeParam::kModulated) {
            expectWideMatchesOneSample<Shape, EnableEnable>(seed, freqScale);
            expectWideMatchesOneSample<Shape, Modulation<FollowPitch::EverySample, false>>(
                seed, freqScale);
            expectWideMatchesOneSample<Shape, Modulation<FollowPitch::EveryPair, true>>(seed,
                                                                                        freqScale);
            expectWideMatchesOneSample<Shape, HalfOnly>(seed, freqScale);
            expectWideMatchesOneSample<Shape, Modulation<FollowPitch::PerBlock, true>>(seed,
                                                                                       freqScale);
        } else {
            expectWideMatchesOneSample<Shape, NoModulation>(seed, freqScale);
        }
    }
}
