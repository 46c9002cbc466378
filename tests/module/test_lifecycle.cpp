// Open, plug-state changes, routine selection and the sleep countdown, as the host sees them.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <tuple>
#include <vector>

#include "module/routines.h"
#include "testkit/fixture.h"

using namespace fourwave;
using fourwave::host::HostCall;

namespace {

std::vector<HostCall> callsWith(const std::vector<HostCall> &log, std::initializer_list<int> ops) {
    std::vector<HostCall> result;
    for (const HostCall &call : log)
        for (int op : ops)
            if (call.opcode == op) result.push_back(call);
    return result;
}

} // namespace

TEST(Lifecycle, OpenInstallsTheRoutineThenCountsPinsThenAnnouncesTheOutputs) {
    auto host = test::openHost({});
    const auto &log = host->log();
    ASSERT_EQ(log.size(), 10u);
    EXPECT_EQ(log[0].opcode, HOST_OP_PROCESS_ROUTINE_CHANGED);
    EXPECT_EQ(log[1].opcode, HOST_OP_GET_PIN_COUNT);
    const int32_t outputs[] = {RAMP_OUTPUT, TRIANGLE_OUTPUT, SAW_OUTPUT, PULSE_OUTPUT};
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(log[2 + 2 * k].opcode, HOST_OP_GET_SAMPLE_CLOCK);
        EXPECT_EQ(log[3 + 2 * k].opcode, HOST_OP_SEND_STATE);
        EXPECT_EQ(log[3 + 2 * k].index, outputs[k]);
        EXPECT_EQ(log[3 + 2 * k].value, STATE_RUNNING);
    }
    EXPECT_EQ(host->record()->process, processPerfect);
}

TEST(Lifecycle, OpenResetsTheOscillatorFromTheSampleRate) {
    test::Patch patch;
    patch.sampleRate = 48000.0f;
    auto host = test::openHost(patch);
    const Module &m = test::moduleOf(*host);
    EXPECT_EQ(m.invSampleRate, 1.0f / 48000.0f);
    EXPECT_EQ(m.maxFrequency, 12000.0f);
    EXPECT_EQ(m.lastPitch, 20.0f);
    EXPECT_EQ(m.phase, 0.0f);
    EXPECT_EQ(m.phaseIncrement, 0.1f);
    EXPECT_TRUE(m.syncArmed);
    EXPECT_EQ(m.sleepCountdown, 0);
    EXPECT_EQ(m.lastPulseSign, 0.0f);
    EXPECT_EQ(m.lastRampValue, 0.0f);
}

TEST(Lifecycle, ASampleRateOfZeroStopsTheOscillatorWithoutDividing) {
    for (float rate : {0.0f, -0.0f}) {
        test::Patch patch;
        patch.sampleRate = rate;
        patch.inputs = {{PITCH_INPUT, 0.5f}, {RAMP_LEVEL_INPUT, 1.0f}};
        auto host = test::openHost(patch);
        const auto out = test::render(*host, 128, 64);
        EXPECT_EQ(test::moduleOf(*host).phaseIncrement, 0.0f);
        for (float v : out.ramp) EXPECT_TRUE(std::isfinite(v));
    }
}

TEST(Lifecycle, DefaultSampleRateIs44100) {
    host::Host host(test::linkedEntries());
    ASSERT_TRUE(host.create());
    host.open();
    EXPECT_EQ(test::moduleOf(host).maxFrequency, 11025.0f);
}

using Selection = std::tuple<int16_t, int16_t, int16_t, ProcessRoutine>;
class RoutineSelection : public ::testing::TestWithParam<Selection> {};

TEST_P(RoutineSelection, ShapeAndModulationSettingsPickTheRoutine) {
    const auto [shape, fm, pm, expected] = GetParam();
    test::Patch patch;
    patch.shape = shape;
    patch.fmMode = fm;
    patch.pmMode = pm;
    auto host = test::openHost(patch);
    EXPECT_EQ(host->record()->process, expected);
    EXPECT_EQ(test::moduleOf(*host).selectRoutine(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RoutineSelection,
    ::testing::Values(Selection{0, 0, 0, processPerfect}, Selection{0, 1, 0, processPerfectMod},
                      Selection{1, 0, 0, processPerfect2}, Selection{1, 0, 1, processPerfect2Mod},
                      Selection{2, 0, 0, processBright}, Selection{2, 2, 0, processBrightMod},
                      Selection{3, 0, 0, processMedium}, Selection{3, 2, 1, processMediumMod},
                      Selection{4, 0, 0, processDark}, Selection{4, 0, 1, processDarkMod},
                      Selection{5, 0, 0, processDark}, Selection{-1, 0, 0, processDark},
                      Selection{5, 0, 1, processDarkMod},
                      Selection{SHRT_MAX, 1, 1, processDarkMod}));

TEST(Lifecycle, ActiveZeroWindsDownWithOneTimeStampAndSleepsWhenTheCountdownRunsOut) {
    test::Patch patch;
    patch.blockSize = 256;
    auto host = test::openHost(patch);
    host->run(64);
    host->fill(ACTIVE_INPUT, 0.0f);
    host->clearLog();
    host->sendPlugState(ACTIVE_INPUT, STATE_RUNNING);

    const auto sends = callsWith(host->log(), {HOST_OP_SEND_STATE});
    ASSERT_EQ(sends.size(), 4u);
    const int32_t order[] = {PULSE_OUTPUT, SAW_OUTPUT, RAMP_OUTPUT, TRIANGLE_OUTPUT};
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(sends[static_cast<size_t>(k)].index, order[k]);
        EXPECT_EQ(sends[static_cast<size_t>(k)].value, STATE_ONE_OFF);
        EXPECT_EQ(sends[static_cast<size_t>(k)].pointer, host->clock());
    }
    EXPECT_EQ(host->record()->process, Module::processUntilSleep);
    EXPECT_EQ(test::moduleOf(*host).sleepCountdown, 256);

    for (int call = 1; call <= 6; ++call) {
        host->run(64);
        EXPECT_EQ(host->sleepRequests(), call < 4 ? 0 : call - 3) << "after call " << call;
        for (int32_t plug : {RAMP_OUTPUT, SAW_OUTPUT, PULSE_OUTPUT, TRIANGLE_OUTPUT})
            EXPECT_EQ(host->buffer(plug)[0], 0.0f);
        EXPECT_EQ(test::moduleOf(*host).lastPulseSign, 0.0f);
        EXPECT_EQ(test::moduleOf(*host).lastRampValue, 0.0f);
    }
    EXPECT_TRUE(host->violations().empty());
}

TEST(Lifecycle, SleepRequestAnswerBecomesTheRoutineResult) {
    test::Patch patch;
    patch.blockSize = 32;
    host::HostOptions options;
    options.sleepAnswer = 42;
    auto host = test::openHost(patch, options);
    host->fill(ACTIVE_INPUT, 0.0f);
    host->sendPlugState(ACTIVE_INPUT, STATE_ONE_OFF);
    EXPECT_EQ(host->run(16), 0);
    EXPECT_EQ(host->run(16), 42);
}

TEST(Lifecycle, NegativeZeroActiveCountsAsOff) {
    auto host = test::openHost({});
    host->fill(ACTIVE_INPUT, -0.0f);
    host->sendPlugState(ACTIVE_INPUT, STATE_RUNNING);
    EXPECT_EQ(host->outputState(PULSE_OUTPUT), STATE_ONE_OFF);
    EXPECT_EQ(host->record()->process, Module::processUntilSleep);
}

TEST(Lifecycle, ActiveOnWhileRunningResendsRunningWithoutARoutineChange) {
    auto host = test::openHost({});
    host->fill(ACTIVE_INPUT, 0.03f);
    const int64_t changes = host->routineChanges();
    host->clearLog();
    host->sendPlugState(ACTIVE_INPUT, STATE_RUNNING);
    const auto sends = callsWith(host->log(), {HOST_OP_SEND_STATE});
    ASSERT_EQ(sends.size(), 4u);
    for (const auto &send : sends) EXPECT_EQ(send.value, STATE_RUNNING);
    EXPECT_EQ(host->routineChanges(), changes);
}

TEST(Lifecycle, SettingsTakeEffectAtTheNextPlugStateChange) {
    auto host = test::openHost({});
    host->setChoice(SHAPE_SETTING, SHAPE_MEDIUM);
    host->run(16);
    EXPECT_EQ(host->record()->process, processPerfect);
    host->sendPlugState(SHAPE_SETTING, STATE_ONE_OFF);
    EXPECT_EQ(host->record()->process, processMedium);
    host->setChoice(FM_MODE_SETTING, FM_HALF);
    host->sendPlugState(FM_MODE_SETTING, STATE_ONE_OFF);
    EXPECT_EQ(host->record()->process, processMediumMod);
}

TEST(Lifecycle, WindingDownFollowsTheSettingsAtEveryBlock) {
    test::Patch patch;
    patch.inputs[RAMP_LEVEL_INPUT] = 0.5f;
    auto host = test::openHost(patch);
    // Active read at the event is 0; the blocks themselves read 1 and so produce sound.
    host->fill(ACTIVE_INPUT, 0.0f);
    host->sendPlugState(ACTIVE_INPUT, STATE_RUNNING);
    host->fill(ACTIVE_INPUT, 1.0f);
    host->setChoice(SHAPE_SETTING, SHAPE_DARK);
    host->run(32);
    // At phase 0 Perfect's ramp is at its peak, 0.5 x level; Dark's passes through 0 there.
    const Module &m = test::moduleOf(*host);
    EXPECT_EQ(host->record()->process, Module::processUntilSleep);
    EXPECT_EQ(m.selectRoutine(), processDark);
    EXPECT_EQ(host->buffer(RAMP_OUTPUT)[0], 0.0f);
    EXPECT_GT(host->buffer(RAMP_OUTPUT)[31], 0.0f);
}

TEST(Lifecycle, RateAfterOpenWaitsForTheNextOpenAndBlockSizeForTheNextWindDown) {
    auto host = test::openHost({});
    host->setSampleRate(96000.0f);
    EXPECT_EQ(test::moduleOf(*host).maxFrequency, 11025.0f);
    host->setBlockSize(100);
    host->fill(ACTIVE_INPUT, 0.0f);
    host->sendPlugState(ACTIVE_INPUT, STATE_RUNNING);
    EXPECT_EQ(test::moduleOf(*host).sleepCountdown, 100);
    host->open();
    EXPECT_EQ(test::moduleOf(*host).maxFrequency, 24000.0f);
}

TEST(Lifecycle, ActiveChangeBackToOnReselectsTheRoutine) {
    auto host = test::openHost({});
    host->fill(ACTIVE_INPUT, 0.0f);
    host->sendPlugState(ACTIVE_INPUT, STATE_RUNNING);
    host->run(2000);
    EXPECT_GE(host->sleepRequests(), 1);
    host->fill(ACTIVE_INPUT, 0.8f);
    host->sendPlugState(ACTIVE_INPUT, STATE_RUNNING);
    EXPECT_EQ(host->record()->process, processPerfect);
    EXPECT_EQ(host->outputState(RAMP_OUTPUT), STATE_RUNNING);
}

// Hosts that count fewer pins, or give no callback at all, must not crash the module.
class FewPins : public ::testing::TestWithParam<intptr_t> {};

TEST_P(FewPins, OpenEventsAndProcessStillWork) {
    host::HostOptions options;
    options.pinCount = GetParam();
    auto host = test::openHost({}, options);
    host->sendPlugState(ACTIVE_INPUT, STATE_RUNNING);
    host->sendPlugState(3, STATE_RUNNING);
    host->run(64);
    EXPECT_TRUE(host->violations().empty());
    // Without an Active pin the module reads Active as 0: silence.
    if (GetParam() <= ACTIVE_INPUT) {
        EXPECT_EQ(host->buffer(PULSE_OUTPUT)[5], 0.0f);
    }
}

INSTANTIATE_TEST_SUITE_P(PinCounts, FewPins, ::testing::Values(0, 1, 11, 12, 15, 19, 25));

TEST(Lifecycle, WithoutAHostCallbackNothingCrashes) {
    Module module(nullptr, nullptr);
    module.open();
    EXPECT_EQ(module.getBindingRecord()->process, processPerfect);
    HostEvent event = {0,      EVENT_PLUG_STATE, STATE_RUNNING, 0, reinterpret_cast<void *>(11),
                       nullptr};
    module.getBindingRecord()->eventHandler(&module, &event);
    // Buffers were never bound: the block is skipped.
    EXPECT_EQ(module.getBindingRecord()->process(&module, 0, 64), 0);
}

TEST(Lifecycle, ConstructionZeroesTheState) {
    Module module(nullptr, nullptr);
    EXPECT_EQ(module.pitchIn, nullptr);
    EXPECT_EQ(module.activeIn, nullptr);
    EXPECT_EQ(module.phase, 0.0f);
    EXPECT_EQ(module.shape, 0);
    EXPECT_FALSE(module.buffersBound());
}
