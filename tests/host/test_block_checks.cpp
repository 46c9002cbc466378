// The stand-in host's block checks, each against the fault it is there to find: the oscillator
// broken on purpose (support/fake_module.h), one fault at a time, must be reported by the check
// meant for it, and the healthy one by none. A check that never fires proves nothing.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "host/host.h"
#include "module/plugs.h"
#include "testkit/fake_module.h"

namespace fourwave {
namespace {

using host::Host;

bool reported(const Host &host, const std::string &words) {
    for (const std::string &violation : host.violations())
        if (violation.find(words) != std::string::npos) return true;
    return false;
}

struct CheckCase {
    const char *name;
    uint32_t fault;
    std::function<void(Host &)> calls; // made after every violation of the set-up is cleared
    const char *report;                // words of the expected violation; null: none at all
};

const CheckCase kChecks[] = {
    {"HealthyModulePassesEveryCheck", 0,
     [](Host &h) {
         for (int32_t count : {7, 8, 64}) h.process(0, count);
         h.process(4096 - 7, 7);
     },
     nullptr},
    {"AllocationInProcess", reliability::FAULT_ALLOCATES, [](Host &h) { h.process(0, 64); },
     "heap calls during the process call"},
    {"AllocationInEventDelivery", reliability::FAULT_ALLOCATES,
     [](Host &h) { h.sendPlugState(ACTIVE_INPUT, STATE_RUNNING); },
     "heap calls during the delivery"},
    {"OverrunOnAnOddCount", reliability::FAULT_OVERRUNS_ODD, [](Host &h) { h.process(0, 7); },
     "written outside the block"},
    {"OverrunIntoTheGuardZoneBehindTheBuffer", reliability::FAULT_OVERRUNS_ODD,
     [](Host &h) { h.process(4096 - 7, 7); }, "written outside the block"},
    {"UnwrittenSample", reliability::FAULT_LEAVES_UNWRITTEN, [](Host &h) { h.process(10, 20); },
     "plug 15, block at 10+20: 1 samples unwritten"},
    {"InputOverwrite", reliability::FAULT_WRITES_INPUT, [](Host &h) { h.process(0, 16); },
     "plug 0, block at 0+16: 1 input samples changed"},
};

void PrintTo(const CheckCase &c, std::ostream *os) { *os << c.name; }

class BlockChecks : public ::testing::TestWithParam<CheckCase> {};

TEST_P(BlockChecks, EachFaultIsReportedByItsCheck) {
    const CheckCase &c = GetParam();
    auto host = reliability::openBroken(c.fault);
    ASSERT_TRUE(host->created());
    // The healthy module passes create, open and the Active delivery too; a fault's own report
    // is looked for in its calls alone.
    if (c.report == nullptr) {
        EXPECT_TRUE(host->violations().empty()) << host->violations().front();
    }
    host->clearViolations();
    c.calls(*host);
    if (c.report == nullptr)
        EXPECT_TRUE(host->violations().empty()) << host->violations().front();
    else
        EXPECT_TRUE(reported(*host, c.report));
}

INSTANTIATE_TEST_SUITE_P(Faults, BlockChecks, ::testing::ValuesIn(kChecks),
                         [](const auto &info) { return std::string(info.param.name); });

// An odd count is what the overrun fault needs: an even one passes.
TEST(BlockChecks, AnEvenCountOfTheOverrunningModulePasses) {
    auto host = reliability::openBroken(reliability::FAULT_OVERRUNS_ODD);
    host->process(0, 64);
    EXPECT_TRUE(host->violations().empty());
}

// The heap counter itself: a heap call inside the host's audio window is seen, one outside is
// not.
TEST(HeapCounter, SeesOnlyTheAudioWindow) {
    const int64_t before = host::audioCallHeapCalls();
    delete new int(3);
    EXPECT_EQ(host::audioCallHeapCalls(), before);
    EXPECT_NE(std::string(host::heapCountingScope()), "");
}

} // namespace
} // namespace fourwave
