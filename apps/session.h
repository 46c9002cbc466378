// Rendering a patch through a plug-in library, as the host application drives an instance:
// the library is loaded through its two exports, one instance is created, bound, set up and
// opened, and then run block by block on the stand-in host with every block checked.
//
// The loop itself is apps/runner.h, shared with the WebAssembly build.
#pragma once

#include <stdint.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/host.h"
#include "patch.h"
#include "runner.h"

namespace fourwave::apps {

// The library the CLI uses when no --plugin is given: the SSE build next to the executable,
// else the build of the flavour the executable was built with (also next to it).
std::string defaultPluginPath();
// Loads and checks a library: it loads, has both exports, creates an instance, and describes
// the plugs this program drives. Throws UsageError naming `where` (the option or "default").
std::unique_ptr<host::PluginLibrary> loadPlugin(const std::string &path, const std::string &where);

// Receives every block of output, as four channel pointers of `count` frames each (plug scale).
using BlockSink = std::function<void(const float *const channels[kOutputCount], int32_t count)>;
// Called now and then with (frames done, frames in all).
using ProgressCallback = std::function<void(int64_t, int64_t)>;

// Renders the patch. Throws RunError when a block check of the stand-in host fails.
RenderSummary renderPatch(const host::PluginLibrary &library, const Patch &patch,
                          const BlockSink &sink, const ProgressCallback &progress = {});

} // namespace fourwave::apps
