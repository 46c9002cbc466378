// Real-time safety and instance lifetime: no heap call from inside a process call or an event
// delivery, in any routine, and 10,000 instances created, opened, run and closed leave the
// heap exactly where it was.
//
// The stand-in host counts heap calls itself (host/heap_count.cpp) and reports any made during
// an audio call as a block-check violation; these tests drive the situations in which a module
// would be tempted to allocate (opening, re-opening, every routine, routine changes, the sleep
// countdown, plug-state events) and also read the counter directly.
#include <gtest/gtest.h>

#include <string>

#include "host/host.h"
#include "module/plugs.h"
#include "testkit/checks.h"

namespace fourwave {
namespace {

using host::Host;
using host::HostOptions;

TEST(RealtimeSafety, NoHeapCallInAnyProcessCallOrEventDelivery) {
    const int64_t heapCallsBefore = host::audioCallHeapCalls();
    int64_t processCalls = 0, events = 0;
    for (int16_t shape = 0; shape < 6; ++shape) {
        for (int16_t fm = 0; fm < 3; ++fm) {
            for (int16_t pm = 0; pm < 2; ++pm) {
                for (float rate : {8000.0f, 44100.0f, 768000.0f}) {
                    Host host(test::linkedEntries());
                    ASSERT_TRUE(test::createInstance(host, {rate, 100, shape, fm, pm}));
                    host.fill(PITCH_INPUT, 0.6f);
                    host.fill(PULSE_LEVEL_INPUT, 0.5f);
                    host.fill(PHASE_INPUT, 0.2f);
                    host.fill(ACTIVE_INPUT, 1.0f);
                    host.open();
                    for (int32_t block = 0; block < 12; ++block) {
                        // Active off, on, and every setting changed, each with its event.
                        host.fill(ACTIVE_INPUT, block % 4 == 2 ? 0.0f : 1.0f);
                        host.sendPlugState(ACTIVE_INPUT, STATE_ONE_OFF, block);
                        host.setChoice(SHAPE_SETTING, static_cast<int16_t>((shape + block) % 5));
                        host.sendPlugState(SHAPE_SETTING, STATE_ONE_OFF, block);
                        host.sendPlugState(1000, STATE_RUNNING);
                        events += 3;
                        host.process(block, 17 + block * 31);
                        host.run(64);
                        processCalls += 2;
                    }
                    EXPECT_TRUE(host.violations().empty()) << host.violations().front();
                }
            }
        }
    }
    EXPECT_EQ(host::audioCallHeapCalls() - heapCallsBefore, 0)
        << "heap calls in " << processCalls << " process calls and " << events << " events";
    RecordProperty("process_calls", static_cast<int>(processCalls));
    RecordProperty("events", static_cast<int>(events));
}

// Creating, opening, running and closing instance after instance leaves nothing behind.
TEST(RealtimeSafety, TenThousandInstancesLeaveTheHeapAsItWas) {
    constexpr int kInstances = 10000;
    HostOptions options;
    options.bufferFrames = 64;
    options.logCalls = false;
    auto lifetime = [&](int k) {
        Host host(test::linkedEntries(), options);
        ASSERT_TRUE(host.create());
        host.setSampleRate(k % 2 ? 48000.0f : 44100.0f);
        host.setChoice(SHAPE_SETTING, static_cast<int16_t>(k % 5));
        host.setChoice(FM_MODE_SETTING, static_cast<int16_t>(k % 3));
        host.fill(ACTIVE_INPUT, 1.0f);
        host.open();
        if (k % 7 == 0) host.open(); // a second open releases the first pins
        host.sendPlugState(ACTIVE_INPUT, STATE_RUNNING);
        host.run(64);
        EXPECT_EQ(host.close(), 1);
    };
    lifetime(0); // first-use allocations of the libraries, before the baseline
    const int64_t blocksBefore = host::liveHeapBlocks();
    const int64_t bytesBefore = host::heapBytesInUse();
    for (int k = 1; k <= kInstances; ++k) lifetime(k);
    EXPECT_EQ(host::liveHeapBlocks() - blocksBefore, 0) << host::heapCountingScope();
    EXPECT_EQ(host::heapBytesInUse() - bytesBefore, 0);
#if defined(FOURWAVE_TEST_LSAN)
    EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0);
#endif
    RecordProperty("instances", kInstances);
}

} // namespace
} // namespace fourwave
