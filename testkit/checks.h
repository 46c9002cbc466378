// Checks shared by the reliability tests, the soak and the fuzz target, on top of the block
// checks the stand-in host makes itself: finiteness of a block's inputs and outputs, and a
// watchdog that ends the program when a call into the instance does not return in time.
#pragma once

#include <stdint.h>

#include <atomic>
#include <string>
#include <thread>

#include "entries.h"
#include "host/host.h"
#include "session.h"

// The AddressSanitizer build's leak checker, for the tests that ask it directly.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define FOURWAVE_TEST_LSAN 1
#include <sanitizer/lsan_interface.h>
#endif
#endif

namespace fourwave::reliability {

using test::kInputPlugs;
using test::kOutputPlugs;

// Whether every input sample of [offset, offset + count) is finite.
bool blockInputsFinite(host::Host &host, int32_t offset, int32_t count);
// The first output sample of the block that is not finite, as "plug P sample I = V", or "".
// `skipPlug` (an output plug number) is left out of the search.
std::string firstNonFiniteOutput(host::Host &host, int32_t offset, int32_t count,
                                 int32_t skipPlug = -1);

// Aborts the program, naming what was under way, when an armed call lasts longer than the
// limit. One thread, started on the first use; arming and disarming are two atomic stores.
class Watchdog {
public:
    static Watchdog &instance();
    void arm(const char *what, double limitSeconds);
    void disarm();

private:
    Watchdog();
    void watch();
    std::atomic<int64_t> deadlineMs_{0}; // 0: disarmed
    std::atomic<const char *> what_{""};
    std::thread thread_;
};

// Arms the watchdog for the scope's lifetime.
class WatchdogScope {
public:
    WatchdogScope(const char *what, double limitSeconds) {
        Watchdog::instance().arm(what, limitSeconds);
    }
    ~WatchdogScope() { Watchdog::instance().disarm(); }
};

} // namespace fourwave::reliability
