// Hostile host values, grouped and table-driven: what a host or a patch can hand the module
// that no ordinary patch does. Every case runs through the stand-in host, so every process
// call is also checked for unwritten samples, writes outside the block, touched inputs and
// heap calls; the watchdog ends the program on a call that does not return.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <iterator>
#include <cmath>
#include <initializer_list>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "host/host.h"
#include "module/plugs.h"
#include "testkit/checks.h"
#include "testkit/routines.h"

namespace fourwave {
namespace {

using host::Host;
using host::HostOptions;
using reliability::WatchdogScope;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr double kCallLimitSeconds = 10.0;

// The ten routines, as rows of the shared table: a shape and whether the modulation routine
// runs.
using Routine = test::RoutineRow;
const auto &kRoutines = test::kRoutineTable;

std::string routineName(const Routine &r) { return r.name; }

// A patch with every input doing something: pitch near A4, sync pulses, phase modulation on.
std::unique_ptr<Host> openPatched(const Routine &r, float sampleRate = 44100.0f,
                                  HostOptions options = {}) {
    auto host = std::make_unique<Host>(test::linkedEntries(), options);
    if (!test::createInstance(*host, {sampleRate, 64, r.shape, r.modulated ? FM_ENABLE : FM_DISABLE,
                                      r.modulated ? PM_ENABLE : PM_DISABLE}))
        return host;
    host->fill(PITCH_INPUT, 0.55f);
    host->fill(WIDTH_INPUT, 0.3f);
    host->fill(PHASE_INPUT, 0.25f);
    host->fill(PHASE_MOD_INPUT, 0.5f);
    for (int32_t plug :
         {RAMP_LEVEL_INPUT, SAW_LEVEL_INPUT, PULSE_LEVEL_INPUT, TRIANGLE_LEVEL_INPUT})
        host->fill(plug, 0.5f);
    host->fill(SYNC_THRESHOLD_INPUT, 0.2f);
    host->fill(SYNC_ADVANCE_INPUT, 0.1f);
    host->fill(ACTIVE_INPUT, 1.0f);
    float *sync = host->buffer(SYNC_INPUT);
    for (int32_t i = 0; i < options.bufferFrames; ++i) sync[i] = i % 50 < 5 ? 1.0f : 0.0f;
    host->open();
    host->sendPlugState(ACTIVE_INPUT, STATE_RUNNING);
    return host;
}

// Runs `count` samples at `offset` under the watchdog; expects every host check to hold.
void processChecked(Host &host, int32_t offset, int32_t count) {
    {
        WatchdogScope watchdog("a process call", kCallLimitSeconds);
        host.process(offset, count);
    }
    EXPECT_TRUE(host.violations().empty()) << host.violations().front();
    host.clearViolations();
}

void expectFiniteOutputs(Host &host, int32_t offset, int32_t count, const std::string &what) {
    const std::string bad = reliability::firstNonFiniteOutput(host, offset, count);
    EXPECT_EQ(bad, "") << what;
}

// Blocks `first` to `last` - 1 of `count` samples each, every one checked and finite.
void expectFiniteBlocks(Host &host, int32_t first, int32_t last, int32_t count,
                        const std::string &what) {
    for (int32_t block = first; block < last; ++block) {
        processChecked(host, block * count, count);
        expectFiniteOutputs(host, block * count, count, what);
    }
}

// Block `block` of 64 samples run on both, with bit-identical outputs.
void expectSameBlock(Host &reference, Host &probed, int32_t block, const std::string &what) {
    processChecked(reference, block * 64, 64);
    processChecked(probed, block * 64, 64);
    for (int32_t plug : reliability::kOutputPlugs)
        EXPECT_EQ(std::memcmp(reference.buffer(plug) + block * 64, probed.buffer(plug) + block * 64,
                              64 * sizeof(float)),
                  0)
            << what << ", plug " << plug;
}

bool isLevelPlug(int32_t plug) {
    return plug == RAMP_LEVEL_INPUT || plug == SAW_LEVEL_INPUT || plug == PULSE_LEVEL_INPUT ||
           plug == TRIANGLE_LEVEL_INPUT;
}

// ---------------------------------------------------------------------------------------------
// NaN and infinities on every input plug, for every routine: only a level may carry them to
// an output, and only while it holds them; the block after is finite again.

TEST(HostileInputs, NonFiniteOnEveryInputPlugRecoversAtTheNextFiniteBlock) {
    for (const Routine &r : kRoutines) {
        for (int32_t plug : reliability::kInputPlugs) {
            for (float bad : {kNaN, kInf, -kInf}) {
                const std::string what = routineName(r) + ", plug " + std::to_string(plug) +
                                         ", value " + std::to_string(bad);
                auto host = openPatched(r);
                processChecked(*host, 0, 64);
                expectFiniteOutputs(*host, 0, 64, what + ", before");

                std::vector<float> saved(host->buffer(plug), host->buffer(plug) + 128);
                for (int32_t i = 64; i < 128; ++i) host->buffer(plug)[i] = bad;
                if (plug == ACTIVE_INPUT) host->sendPlugState(ACTIVE_INPUT, STATE_RUNNING, 64);
                processChecked(*host, 64, 64);
                if (!isLevelPlug(plug)) expectFiniteOutputs(*host, 64, 64, what + ", during");

                std::copy(saved.begin(), saved.end(), host->buffer(plug));
                if (plug == ACTIVE_INPUT) host->sendPlugState(ACTIVE_INPUT, STATE_RUNNING, 128);
                expectFiniteBlocks(*host, 2, 6, 64, what + ", after");
            }
        }
    }
}

// A single bad sample inside a block, on a level: from the next block on, all finite.
TEST(HostileInputs, OneNonFiniteLevelSampleDoesNotStick) {
    for (const Routine &r : kRoutines) {
        for (int32_t plug :
             {RAMP_LEVEL_INPUT, SAW_LEVEL_INPUT, PULSE_LEVEL_INPUT, TRIANGLE_LEVEL_INPUT}) {
            auto host = openPatched(r);
            host->buffer(plug)[8] = kNaN; // the sample a 16-sample refresh of a 16-block reads
            processChecked(*host, 0, 16);
            host->buffer(plug)[8] = 0.5f;
            expectFiniteBlocks(*host, 1, 8, 16, routineName(r));
        }
    }
}

// Finite but huge levels: the limit of +-2 keeps every output finite.
TEST(HostileInputs, HugeFiniteLevelsGiveFiniteOutputs) {
    for (const Routine &r : kRoutines) {
        for (int32_t plug :
             {RAMP_LEVEL_INPUT, SAW_LEVEL_INPUT, PULSE_LEVEL_INPUT, TRIANGLE_LEVEL_INPUT}) {
            for (float level : {1e30f, -1e30f, 3.4e38f, -3.4e38f}) {
                auto host = openPatched(r);
                host->fill(plug, level);
                expectFiniteBlocks(*host, 0, 8, 100,
                                   routineName(r) + ", plug " + std::to_string(plug) + " = " +
                                       std::to_string(level));
            }
        }
    }
}

// The soft shapes form their edge slopes from multiples of the Pulse Level as read, before its
// limit; a finite Pulse Level near the float range once overflowed them to infinities.
TEST(HostileInputs, HugeFinitePulseLevelGivesFiniteOutputs) {
    for (const Routine &r : kRoutines) {
        for (float level : {1.7e38f, -1.7e38f, 3.4e38f}) {
            auto host = openPatched(r);
            host->fill(PULSE_LEVEL_INPUT, level);
            expectFiniteBlocks(*host, 0, 8, 128,
                               routineName(r) + ", Pulse Level " + std::to_string(level));
        }
    }
}

// Within a block: Perfect 2 reads its levels at every sample, so a NaN level reaches only that
// sample's output; the other shapes hold a level read until the next 16-sample refresh (in a
// 64-sample block at samples 0, 8, 24, 40 and 56), so a NaN read at sample 8 is gone from
// sample 24 on.
TEST(HostileInputs, NonFiniteLevelReachesOnlyTheSamplesThatUseIt) {
    for (const Routine &r : kRoutines) {
        for (int32_t plug :
             {RAMP_LEVEL_INPUT, SAW_LEVEL_INPUT, PULSE_LEVEL_INPUT, TRIANGLE_LEVEL_INPUT}) {
            auto host = openPatched(r);
            host->buffer(plug)[8] = kNaN;
            processChecked(*host, 0, 64);
            const int32_t lastAffected = r.shape == SHAPE_PERFECT2 ? 8 : 23;
            for (int32_t output : reliability::kOutputPlugs) {
                for (int32_t i = 0; i < 64; ++i) {
                    if (i >= 8 && i <= lastAffected) continue;
                    EXPECT_TRUE(std::isfinite(host->buffer(output)[i]))
                        << routineName(r) << ", level plug " << plug << ", output " << output
                        << ", sample " << i;
                }
            }
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Sample rates a host should never send: no crash, finite outputs.

void expectFiniteAtRates(std::initializer_list<float> rates) {
    for (const Routine &r : kRoutines) {
        for (float rate : rates) {
            auto host = openPatched(r, rate);
            expectFiniteBlocks(*host, 0, 8, 64,
                               routineName(r) + " at rate " + std::to_string(rate));
        }
    }
}

// Once a division by zero in open, which the sanitizer build reported. Short enough to run on
// the emulated processor without SSE too, where the other rates are left out.
TEST(HostileInputs, SampleRateZeroGivesFiniteOutputs) { expectFiniteAtRates({0.0f, -0.0f}); }

TEST(HostileInputs, SampleRatesGiveFiniteOutputs) {
    expectFiniteAtRates({-1.0f, kNaN, kInf, -kInf, 1e9f, 1e-30f, 1e-45f, 3e38f});
}

// ---------------------------------------------------------------------------------------------
// Block sizes 0 and negative: a plug-state change with Active off counts down from them, so
// the sleep request comes at the first block.

TEST(HostileInputs, BlockSizeZeroAndNegativeAskToSleepAtOnce) {
    for (int32_t size : {0, -1, -4096, INT32_MIN}) {
        for (const Routine &r : kRoutines) {
            auto host = openPatched(r);
            host->setBlockSize(size);
            host->fill(ACTIVE_INPUT, 0.0f);
            host->sendPlugState(ACTIVE_INPUT, STATE_ONE_OFF);
            const int64_t before = host->sleepRequests();
            processChecked(*host, 0, 64);
            EXPECT_EQ(host->sleepRequests() - before, 1) << "block size " << size;
            processChecked(*host, 64, 0);
            EXPECT_EQ(host->sleepRequests() - before, 2) << "block size " << size;
            expectFiniteOutputs(*host, 0, 64, "block size " + std::to_string(size));
        }
    }
}

// A huge block size never wraps the countdown round.
TEST(HostileInputs, BlockSizeMaximumNeverAsksToSleep) {
    auto host = openPatched(kRoutines[0]);
    host->setBlockSize(INT32_MAX);
    host->fill(ACTIVE_INPUT, 0.0f);
    host->sendPlugState(ACTIVE_INPUT, STATE_ONE_OFF);
    for (int32_t block = 0; block < 16; ++block) processChecked(*host, block * 256, 256);
    EXPECT_EQ(host->sleepRequests(), 0);
}

// ---------------------------------------------------------------------------------------------
// Pin counts the host may report, and no host callback at all: open, events and process.

TEST(HostileInputs, PinCountsAndNullCallbackAreSurvived) {
    struct Case {
        intptr_t pinCount;
        bool nullCallback;
    };
    const Case cases[] = {{0, false},  {1, false},  {11, false}, {12, false}, {15, false},
                          {19, false}, {20, false}, {25, false}, {-5, false}, {20, true}};
    for (const Case &c : cases) {
        for (const Routine &r : kRoutines) {
            HostOptions options;
            options.pinCount = c.pinCount;
            options.nullCallback = c.nullCallback;
            auto host = openPatched(r, 44100.0f, options);
            const std::string what = routineName(r) + ", " + std::to_string(c.pinCount) + " pins" +
                                     (c.nullCallback ? ", no callback" : "");
            for (int32_t pin = -1; pin < 27; ++pin)
                host->sendPlugState(pin, pin % 3, static_cast<int32_t>(pin & 63));
            expectFiniteBlocks(*host, 0, 4, 100, what);
            // Without an Active pin (fewer than 12 pins, or none at all) the outputs are silent.
            if (c.nullCallback || c.pinCount <= ACTIVE_INPUT) {
                for (int32_t plug : reliability::kOutputPlugs)
                    EXPECT_EQ(host->buffer(plug)[350], 0.0f) << what;
            }
        }
    }
}

// A host that counts more pins than the module describes gets pins 20 and up created but never
// bound. A plug-state event for one of them is ignored (it once reached onPlugStateChange
// through the pin's null owner: a crash).
TEST(HostileInputs, PlugStateEventForAnUnboundPinIsIgnored) {
    for (const Routine &r : kRoutines) {
        HostOptions options;
        options.pinCount = 25;
        auto host = openPatched(r, 44100.0f, options);
        for (int32_t pin = NUM_PLUGS; pin < 25; ++pin) host->sendPlugState(pin, STATE_ONE_OFF);
        processChecked(*host, 0, 64);
        expectFiniteOutputs(*host, 0, 64, routineName(r));
    }
}

// ---------------------------------------------------------------------------------------------
// Opcodes outside the table answer 0, call nothing and change nothing.

TEST(HostileInputs, UnknownOpcodesAnswerZeroAndChangeNothing) {
    const int32_t opcodes[] = {-1, 4,  5,  7,   9,    10,        11,       14,
                               15, 21, 22, 255, 4096, INT32_MIN, INT32_MAX};
    for (const Routine &r : kRoutines) {
        auto reference = openPatched(r);
        auto probed = openPatched(r);
        for (int32_t block = 0; block < 8; ++block) {
            for (int32_t opcode : opcodes) {
                for (int32_t value : {0, -1, INT32_MAX}) {
                    probed->clearLog();
                    int32_t scratch[16] = {};
                    EXPECT_EQ(probed->dispatch(opcode, value, value, scratch, 1e30f), 0)
                        << "opcode " << opcode;
                    EXPECT_EQ(probed->dispatch(opcode, -value, value, nullptr, kNaN), 0)
                        << "opcode " << opcode;
                    EXPECT_TRUE(probed->log().empty()) << "opcode " << opcode;
                    for (int32_t word : scratch) EXPECT_EQ(word, 0) << "opcode " << opcode;
                }
            }
            expectSameBlock(*reference, *probed, block, routineName(r));
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Plug-state events for pins that do not exist, and event types the module does not know.

TEST(HostileInputs, StrayEventsAreIgnored) {
    const intptr_t pins[] = {-1, 20, 21, 25, 1000, INT32_MAX, INT32_MIN};
    const int32_t types[] = {1, 3, 4, 20, 22, 100, -1, INT32_MIN, INT32_MAX};
    for (const Routine &r : kRoutines) {
        auto reference = openPatched(r);
        auto probed = openPatched(r);
        for (int32_t block = 0; block < 6; ++block) {
            probed->clearLog();
            for (intptr_t pin : pins) {
                HostEvent event = {};
                event.type = EVENT_PLUG_STATE;
                event.intValue = STATE_ONE_OFF;
                event.pointer = reinterpret_cast<void *>(pin);
                probed->deliverEvent(event, 3);
            }
            for (int32_t type : types) {
                HostEvent event = {};
                event.type = type;
                event.intValue = 7;
                event.extra = -1;
                event.pointer = reinterpret_cast<void *>(intptr_t{11});
                probed->deliverEvent(event, 5);
            }
            EXPECT_TRUE(probed->log().empty()) << routineName(r);
            EXPECT_TRUE(probed->violations().empty()) << probed->violations().front();
            expectSameBlock(*reference, *probed, block, routineName(r));
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Phase modulation and sync advance far beyond any patch: bounded work, finite outputs.

TEST(HostileInputs, HugePhaseModulationAndSyncAdvanceStayBoundedAndFinite) {
    struct Case {
        int32_t plug;
        float value;
    };
    const Case cases[] = {
        {PHASE_MOD_INPUT, 1e30f},    {PHASE_MOD_INPUT, -1e30f},   {PHASE_MOD_INPUT, kInf},
        {PHASE_MOD_INPUT, -kInf},    {PHASE_INPUT, 1e30f},        {PHASE_INPUT, -1e30f},
        {PHASE_INPUT, kInf},         {PHASE_INPUT, -kInf},        {PHASE_MOD_INPUT, 3e7f},
        {PHASE_INPUT, -16777217.0f}, {SYNC_ADVANCE_INPUT, 1e30f}, {SYNC_ADVANCE_INPUT, -1e30f},
        {SYNC_ADVANCE_INPUT, 3e38f}, {SYNC_ADVANCE_INPUT, -3e38f}};
    for (const Routine &r : kRoutines) {
        for (const Case &c : cases) {
            auto host = openPatched(r);
            host->fill(c.plug, c.value);
            if (c.plug == SYNC_ADVANCE_INPUT) host->fill(SYNC_THRESHOLD_INPUT, 0.0f);
            const std::string what = routineName(r) + ", plug " + std::to_string(c.plug) + " = " +
                                     std::to_string(c.value);
            for (int32_t block = 0; block < 16; ++block) {
                processChecked(*host, block * 256, 256);
                if (std::isfinite(c.value)) expectFiniteOutputs(*host, block * 256, 256, what);
            }
            // Back to ordinary values: finite at once.
            host->fill(c.plug, 0.3f);
            processChecked(*host, 0, 256);
            expectFiniteOutputs(*host, 0, 256, what + ", after");
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Process calls out of the usual order.

TEST(HostileInputs, ProcessBeforeOpenHasNoEffect) {
    Host host(test::linkedEntries());
    ASSERT_TRUE(host.create());
    for (int32_t plug : reliability::kInputPlugs) host.fill(plug, 0.5f);
    {
        WatchdogScope watchdog("a process call before open", kCallLimitSeconds);
        EXPECT_EQ(host.process(0, 64), 0);
        EXPECT_EQ(host.process(10, 0), 0);
    }
    // The empty routine writes nothing at all: every requested sample keeps the host's
    // marker, and nothing else is reported.
    for (const std::string &violation : host.violations())
        EXPECT_NE(violation.find("unwritten"), std::string::npos) << violation;
    EXPECT_EQ(host.violations().size(), std::size(reliability::kOutputPlugs));
    EXPECT_TRUE(host.log().empty());
}

TEST(HostileInputs, ProcessAfterASecondOpenAndWithACountOfZero) {
    for (const Routine &r : kRoutines) {
        auto host = openPatched(r);
        processChecked(*host, 0, 64);
        host->open();
        host->sendPlugState(ACTIVE_INPUT, STATE_RUNNING);
        processChecked(*host, 64, 64);
        expectFiniteOutputs(*host, 64, 64, routineName(r));
        host->open(); // a third time, straight into a block of nothing
        const std::vector<float> before(host->buffer(RAMP_OUTPUT), host->buffer(RAMP_OUTPUT) + 256);
        for (int32_t offset : {0, 17, 4095}) processChecked(*host, offset, 0);
        EXPECT_TRUE(std::equal(before.begin(), before.end(), host->buffer(RAMP_OUTPUT)));
    }
}

} // namespace
} // namespace fourwave
