// The host driving loop (host/driver.h) that the render engine and the LV2 plug-ins share, on
// the linked module: what it announces and when. Its renders against the CLI's are compared
// end to end elsewhere (the CLI, web and LV2 stages); here are the orderings a render of one
// patch cannot show.
#include <gtest/gtest.h>

#include <algorithm>

#include "host/driver.h"
#include "host/host.h"
#include "testkit/entries.h"

namespace fourwave {
namespace {

constexpr int32_t kBlock = 64;

// A setting changed after a block in which Active rose from 0 V is announced at the next
// block's first sample with that block's Active in view: the module keeps running. Announced
// before the block's inputs were filled, it would read the 0 V left at sample 0 of the buffer,
// wind down and ask to sleep while Active is on.
TEST(Driver, AnnouncesASettingWithTheBlocksOwnActive) {
    host::Host host(test::linkedEntries());
    ASSERT_TRUE(host.create());
    host.setSampleRate(48000.0f);
    host.setBlockSize(kBlock);
    host.fill(PULSE_LEVEL_INPUT, 0.5f);
    host::Driver driver(host);
    host.open();
    driver.start({});

    float *active = host.buffer(ACTIVE_INPUT);
    std::fill(active, active + kBlock, 1.0f);
    active[0] = 0.0f; // off at the first sample, on from the second
    ASSERT_TRUE(driver.runBlock(kBlock));

    driver.setSetting(SHAPE_SETTING, SHAPE_DARK);
    const int64_t announcedBefore = host.callCount(HOST_OP_SEND_STATE);
    for (int block = 0; block < 4; ++block) {
        std::fill(active, active + kBlock, 1.0f);
        ASSERT_TRUE(driver.runBlock(kBlock));
    }
    // The setting's event went out once (the module answers it with its four outputs' states).
    EXPECT_EQ(host.callCount(HOST_OP_SEND_STATE) - announcedBefore, 4);
    EXPECT_EQ(host.sleepRequests(), 0);
    EXPECT_FALSE(driver.asleep());
    const float *pulse = host.buffer(PULSE_OUTPUT);
    EXPECT_TRUE(std::any_of(pulse, pulse + kBlock, [](float v) { return v != 0.0f; }));
    EXPECT_TRUE(host.violations().empty());
}

} // namespace
} // namespace fourwave
