// Rendering a patch through a plug-in library, as the host application drives an instance:
// the library is loaded through its two exports, one instance is created, bound, set up and
// opened, and then run block by block on the stand-in host with every block checked.
//
// What a host does around the blocks is done here too:
//   - the inputs' buffers are filled from the patch's signals, block by block;
//   - the Active input's state is announced with a plug-state event at the start and at every
//     step of a stepped signal (gate, square, pulse), and a block is split there so that the
//     module reads Active at exactly that sample;
//   - when the instance asks to sleep it is no longer processed: its outputs hold their last
//     values until the next plug-state event wakes it.
#pragma once

#include <stdint.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/host.h"
#include "patch.h"

namespace fourwave::apps {

constexpr int kOutputCount = 4;
// Ramp, Saw, Pulse, Triangle: the order of the channels of a render.
inline constexpr int32_t kOutputPlugs[kOutputCount] = {RAMP_OUTPUT, SAW_OUTPUT, PULSE_OUTPUT,
                                                       TRIANGLE_OUTPUT};
inline constexpr const char *kOutputNames[kOutputCount] = {"ramp", "saw", "pulse", "triangle"};

// The library the CLI uses when no --plugin is given: the SSE build next to the executable,
// else the build of the flavour the executable was built with (also next to it).
std::string defaultPluginPath();
// Loads and checks a library: it loads, has both exports, creates an instance, and describes
// the plugs this program drives. Throws UsageError naming `where` (the option or "default").
std::unique_ptr<host::PluginLibrary> loadPlugin(const std::string &path, const std::string &where);

struct RenderSummary {
    int64_t frames = 0;
    double wallSeconds = 0.0;
    int64_t sleepRequests = 0;          // every request, including repeats while asleep
    std::vector<int64_t> sleepFrames;   // where the instance fell asleep (end of the block)
    int64_t processCalls = 0;
};

// Receives every block of output, as four channel pointers of `count` frames each (plug scale).
using BlockSink = std::function<void(const float *const channels[kOutputCount], int32_t count)>;
// Called now and then with (frames done, frames in all).
using ProgressCallback = std::function<void(int64_t, int64_t)>;

// Renders the patch. Throws RunError when a block check of the stand-in host fails.
RenderSummary renderPatch(const host::PluginLibrary &library, const Patch &patch,
                          const BlockSink &sink, const ProgressCallback &progress = {});

} // namespace fourwave::apps
