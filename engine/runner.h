// The render loop of a patch on the stand-in host, one block at a time, as the host
// application drives an instance: one instance is created, bound, set up and opened, and then
// run block by block. Platform-neutral and exception-free, so that the command-line host and
// the WebAssembly build share it: the CLI renders a patch whole (renderPatch), the web host a
// runner's blocks as its audio quanta ask for them.
//
// The runner fills the inputs' buffers from the patch's signals, block by block, and hands each
// block to the host driving loop (host/driver.h), which does what a host does around the
// blocks: the Active input's state is announced with a plug-state event at the start (static
// for a constant, one-off for a stepped signal, running for a continuous one) and at every step
// of a stepped signal (gate, square, pulse), the block split there; a sleeping instance is no
// longer processed and its outputs hold.
//
// A looping runner (the web page's live play) never ends: its signals start again from the
// patch's time 0 every `seconds`, while the host's clock runs on. A patch can be changed while
// it runs (update): the inputs follow at the next block, and a changed setting is written and
// announced to the instance with a plug-state event for its plug.
#pragma once

#include <stdint.h>

#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "host/driver.h"
#include "host/host.h"
#include "patch.h"

namespace fourwave::engine {

// The channels of a render: the outputs in panel order (Ramp, Saw, Pulse, Triangle), each
// named by its key in the plug table.
inline constexpr int kOutputCount = static_cast<int>(kPanelOutputs.size());
inline const char *outputName(int channel) { return plugInfo(kPanelOutputs[channel]).key; }

struct RenderSummary {
    int64_t frames = 0;
    double wallSeconds = 0.0;
    int64_t sleepRequests = 0;        // every request, including repeats while asleep
    std::vector<int64_t> sleepFrames; // where the instance fell asleep (end of the block)
    int64_t processCalls = 0;
    std::string failure; // renderPatch: empty when every frame was rendered
};

class PatchRunner {
public:
    // Creates the instance and opens it. `checkBlocks` as in host::HostOptions.
    PatchRunner(const host::PluginEntries &entries, const Patch &patch, bool checkBlocks = true,
                bool loop = false);
    PatchRunner(const PatchRunner &) = delete;
    PatchRunner &operator=(const PatchRunner &) = delete;

    // False when the library refused to create an instance.
    bool created() const { return created_; }
    // Renders the next block and returns its frames: 0 once a render that does not loop is
    // done, or after a failure.
    int32_t renderBlock();
    // The outputs of the last block, in kPanelOutputs order (plug scale).
    const float *const *outputs() const { return outputBuffers_; }
    // Empty while every block check holds; else what broke, with the frame.
    const std::string &failure() const;

    // The inputs and settings of `patch` from the next block on. Its rate, block size, seed and
    // length are not taken over (a new runner is needed for those).
    void update(const Patch &patch);

    bool asleep() const { return driver_ && driver_->asleep(); }
    int64_t frame() const { return driver_ ? driver_->frame() : 0; }
    int64_t totalFrames() const { return total_; }
    const Patch &patch() const { return patch_; }
    const RenderSummary &summary(); // frames, sleep requests and process calls so far
    host::Host &host() { return *host_; }

private:
    Patch patch_;
    bool loop_;
    bool created_ = false;
    std::unique_ptr<host::Host> host_;
    std::unique_ptr<host::Driver> driver_;
    float *inputBuffers_[kPatchInputs.size()] = {};
    const float *outputBuffers_[kOutputCount] = {};
    std::mt19937 random_;
    RenderSummary summary_;
    int64_t total_ = 0;
};

// Receives every block of output, as four channel pointers of `count` frames each (plug scale).
using BlockSink = std::function<void(const float *const channels[kOutputCount], int32_t count)>;
// Called now and then with (frames done, frames in all).
using ProgressCallback = std::function<void(int64_t, int64_t)>;

// Renders the whole patch on a new instance of `entries`, every block checked, and hands the
// blocks to `sink`. The summary's `failure` says why a render stopped early: the library
// refused to create an instance, or a block check broke.
RenderSummary renderPatch(const host::PluginEntries &entries, const Patch &patch,
                          const BlockSink &sink, const ProgressCallback &progress = {});

} // namespace fourwave::engine
