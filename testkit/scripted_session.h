// A scripted host session for the platform tests: one instance of one of the ten routines,
// driven through the stand-in host with inputs that move every block, plug-state events
// (settings, Active off until the instance asks to sleep, Active on again), opcode 13 and a
// changing block size, then closed. The same session number gives the same calls and the same
// inputs on every platform and thread, so its outputs can be compared bit for bit.
//
// No test framework here: the stack-offset host and the floating-point environment host link it
// too.
#pragma once

#include <stdint.h>

#include <optional>
#include <string>
#include <vector>

#include "host/host.h"
#include "routines.h"

namespace fourwave::platform {

// Routines are rows of the shared routine table (support/routines.h), 0 to kRoutineCount - 1.
constexpr int kRoutineCount = static_cast<int>(test::kRoutineCount);
const char *routineLabel(int routine);

struct SessionResult {
    std::vector<float> outputs; // the four outputs of every block, in order
    int64_t sleepRequests = 0;
    int64_t routineChanges = 0;
    std::string failure; // empty when the host saw no violation and creation worked
};

struct SessionOptions {
    int32_t blocks = 12;             // process calls, before and after the Active-off stretch
    bool askRoutineInfo = true;      // opcode 13 between blocks (the process-wide record)
    bool checkBlocks = true;         // the host's block checks (heap counting included)
    std::optional<float> sampleRate; // instead of the session's own (0 included)
    // In every block, a few samples of every input (Active only while it is on) replaced by
    // what a faulty upstream module sends: NaN, infinities, denormals, +-3e38.
    bool hostileInputs = false;
};

SessionResult runSession(const host::PluginEntries &entries, int routine, uint32_t session,
                         const SessionOptions &options = {});

// The first difference between two results as text, or "" when they are bit-identical.
std::string compareResults(const SessionResult &expected, const SessionResult &actual);

} // namespace fourwave::platform
