// The detectors themselves, against a module broken on purpose (support/fake_module.h): each
// fault must be reported by the check meant for it. A check that never fires proves nothing.
// The soak and the fuzz target are shown to fire by ctest entries of their own.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

#include "host/host.h"
#include "module/plugs.h"
#include "support/checks.h"
#include "support/fake_module.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define FOURWAVE_TEST_LSAN 1
#include <sanitizer/lsan_interface.h>
#endif
#endif

namespace fourwave {
namespace {

using host::Host;
using reliability::FakeFault;

std::unique_ptr<Host> openBroken(uint32_t faults) {
    reliability::setFakeFaults(faults);
    auto host = std::make_unique<Host>(reliability::fakeEntries());
    if (!host->create()) return host;
    host->fill(PITCH_INPUT, 0.5f);
    host->fill(RAMP_LEVEL_INPUT, 0.5f);
    host->fill(SAW_LEVEL_INPUT, 0.5f);
    host->fill(ACTIVE_INPUT, 1.0f);
    host->open();
    host->sendPlugState(ACTIVE_INPUT, STATE_RUNNING);
    reliability::setFakeFaults(0u);
    return host;
}

bool reported(const Host &host, const std::string &words) {
    for (const std::string &violation : host.violations())
        if (violation.find(words) != std::string::npos) return true;
    return false;
}

TEST(Detectors, TheHealthyModulePassesEveryCheck) {
    auto host = openBroken(0);
    for (int32_t count : {7, 8, 64}) host->process(0, count);
    host->process(4096 - 7, 7);
    EXPECT_TRUE(host->violations().empty()) << host->violations().front();
}

TEST(Detectors, AllocationInProcessIsReported) {
    auto host = openBroken(reliability::FAULT_ALLOCATES);
    host->process(0, 64);
    EXPECT_TRUE(reported(*host, "heap calls during the process call"));
}

TEST(Detectors, AllocationInEventDeliveryIsReported) {
    auto host = openBroken(reliability::FAULT_ALLOCATES);
    host->clearViolations();
    host->sendPlugState(ACTIVE_INPUT, STATE_RUNNING);
    EXPECT_TRUE(reported(*host, "heap calls during the delivery"));
}

TEST(Detectors, OverrunOnOddCountsIsReported) {
    auto host = openBroken(reliability::FAULT_OVERRUNS_ODD);
    host->process(0, 64);
    EXPECT_TRUE(host->violations().empty());
    host->process(0, 7);
    EXPECT_TRUE(reported(*host, "written outside the block"));
    host->clearViolations();
    host->process(4096 - 7, 7); // into the guard zone behind the buffer
    EXPECT_TRUE(reported(*host, "written outside the block"));
}

TEST(Detectors, UnwrittenSampleIsReported) {
    auto host = openBroken(reliability::FAULT_LEAVES_UNWRITTEN);
    host->process(10, 20);
    EXPECT_TRUE(reported(*host, "plug 15, block at 10+20: 1 samples unwritten"));
}

TEST(Detectors, InputOverwriteIsReported) {
    auto host = openBroken(reliability::FAULT_WRITES_INPUT);
    host->process(0, 16);
    EXPECT_TRUE(reported(*host, "plug 0, block at 0+16: 1 input samples changed"));
}

TEST(Detectors, StickyNaNIsReported) {
    auto host = openBroken(reliability::FAULT_STICKY_NAN);
    host->fill(PITCH_INPUT, std::numeric_limits<float>::quiet_NaN());
    host->run(32);
    host->fill(PITCH_INPUT, 0.5f);
    host->run(32);
    ASSERT_TRUE(reliability::blockInputsFinite(*host, 0, 32));
    EXPECT_NE(reliability::firstNonFiniteOutput(*host, 0, 32), "");
    EXPECT_TRUE(host->violations().empty());
}

TEST(Detectors, LeakPerInstanceIsReported) {
    // Everything is measured first and compared afterwards: a failed expectation allocates.
    reliability::releaseLeakedBlocks();
    const int64_t blocksBefore = host::liveHeapBlocks();
    for (int k = 0; k < 10; ++k) {
        auto host = openBroken(reliability::FAULT_LEAKS);
        host->run(16);
    }
    const int64_t leaked = host::liveHeapBlocks() - blocksBefore;
#if defined(FOURWAVE_TEST_LSAN)
    std::fprintf(stderr, "The leak report that follows is this test's, and expected:\n");
    const int leakCheckFired = __lsan_do_recoverable_leak_check();
#endif
    reliability::releaseLeakedBlocks();
    const int64_t left = host::liveHeapBlocks() - blocksBefore;
    EXPECT_GE(leaked, 10); // ten lost blocks (and the list that hides them)
    EXPECT_EQ(left, 0);
#if defined(FOURWAVE_TEST_LSAN)
    EXPECT_NE(leakCheckFired, 0);
#endif
}

#if GTEST_HAS_DEATH_TEST && !defined(_WIN32)
TEST(DetectorsDeathTest, HangIsReported) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto host = openBroken(reliability::FAULT_HANGS);
    EXPECT_EXIT(
        {
            reliability::WatchdogScope watchdog("a process call of 7 samples", 0.5);
            host->process(0, 7);
        },
        ::testing::ExitedWithCode(86), "HANG: a process call of 7 samples");
}
#endif

} // namespace
} // namespace fourwave
