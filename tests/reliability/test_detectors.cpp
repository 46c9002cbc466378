// The reliability checks themselves, against a module broken on purpose
// (support/fake_module.h): each fault must be reported by the check meant for it. A check that
// never fires proves nothing. The stand-in host's own block checks are tests/host's; the soak
// and the fuzz target are shown to fire by ctest entries of their own.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

#include "host/host.h"
#include "module/plugs.h"
#include "testkit/checks.h"
#include "testkit/fake_module.h"

namespace fourwave {
namespace {

using host::Host;
using reliability::FakeFault;

TEST(Detectors, StickyNaNIsReported) {
    auto host = reliability::openBroken(reliability::FAULT_STICKY_NAN);
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
        auto host = reliability::openBroken(reliability::FAULT_LEAKS);
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
    auto host = reliability::openBroken(reliability::FAULT_HANGS);
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
