#include "checks.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace fourwave::reliability {

bool blockInputsFinite(host::Host &host, int32_t offset, int32_t count) {
    for (int32_t plug : kInputPlugs) {
        const float *data = host.buffer(plug);
        if (data == nullptr) continue;
        for (int32_t i = offset; i < offset + count; ++i)
            if (!std::isfinite(data[i])) return false;
    }
    return true;
}

std::string firstNonFiniteOutput(host::Host &host, int32_t offset, int32_t count,
                                 int32_t skipPlug) {
    for (int32_t plug : kOutputPlugs) {
        if (plug == skipPlug) continue;
        const float *data = host.buffer(plug);
        if (data == nullptr) continue;
        for (int32_t i = offset; i < offset + count; ++i)
            if (!std::isfinite(data[i]))
                return "plug " + std::to_string(plug) + " sample " + std::to_string(i) + " = " +
                       std::to_string(data[i]);
    }
    return "";
}

namespace {
int64_t nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
} // namespace

Watchdog &Watchdog::instance() {
    // Never destroyed: the thread runs until the program ends.
    static Watchdog *watchdog = new Watchdog();
    return *watchdog;
}

Watchdog::Watchdog() : thread_([this] { watch(); }) { thread_.detach(); }

void Watchdog::arm(const char *what, double limitSeconds) {
    what_.store(what);
    deadlineMs_.store(nowMs() + static_cast<int64_t>(limitSeconds * 1000.0));
}

void Watchdog::disarm() { deadlineMs_.store(0); }

void Watchdog::watch() {
    for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const int64_t deadline = deadlineMs_.load();
        if (deadline != 0 && nowMs() > deadline) {
            std::fprintf(stderr, "HANG: %s did not return within its time bound\n", what_.load());
            std::fflush(stderr);
            std::_Exit(86);
        }
    }
}

} // namespace fourwave::reliability
