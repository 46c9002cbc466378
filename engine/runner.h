// The render loop of a patch on the stand-in host, one block at a time, as the host
// application drives an instance: one instance is created, bound, set up and opened, and then
// run block by block. Platform-neutral and exception-free, so that the command-line host and
// the WebAssembly build share it: the CLI renders a patch whole (renderPatch), the web host a
// runner's blocks as its audio quanta ask for them.
//
// What a host does around the blocks is done here too:
//   - the inputs' buffers are filled from the patch's signals, block by block;
//   - the Active input's state is announced with a plug-state event at the start and at every
//     step of a stepped signal (gate, square, pulse), and a block is split there so that the
//     module reads Active at exactly that sample;
//   - when the instance asks to sleep it is no longer processed: its outputs hold their last
//     values until the next plug-state event wakes it.
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

#include "host/host.h"
#include "patch.h"

namespace fourwave::engine {

constexpr int kOutputCount = 4;
// Ramp, Saw, Pulse, Triangle: the order of the channels of a render.
inline constexpr int32_t kOutputPlugs[kOutputCount] = {RAMP_OUTPUT, SAW_OUTPUT, PULSE_OUTPUT,
                                                       TRIANGLE_OUTPUT};
inline constexpr const char *kOutputNames[kOutputCount] = {"ramp", "saw", "pulse", "triangle"};

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
    // The outputs of the last block, in kOutputPlugs order (plug scale).
    const float *const *outputs() const { return outputBuffers_; }
    // Empty while every block check holds; else what broke, with the frame.
    const std::string &failure() const { return failure_; }

    // The inputs and settings of `patch` from the next block on. Its rate, block size, seed and
    // length are not taken over (a new runner is needed for those).
    void update(const Patch &patch);

    bool asleep() const { return asleep_; }
    int64_t frame() const { return frame_; }
    int64_t totalFrames() const { return total_; }
    const Patch &patch() const { return patch_; }
    const RenderSummary &summary(); // frames, sleep requests and process calls so far
    host::Host &host() { return *host_; }

private:
    void runSpan(int32_t begin, int32_t end);

    Patch patch_;
    bool loop_;
    bool created_ = false;
    std::unique_ptr<host::Host> host_;
    float *inputBuffers_[kInputKeys.size()] = {};
    float *outputBuffers_[kOutputCount] = {};
    size_t activeIndex_ = 0;
    int32_t initialActiveState_ = 0;
    std::mt19937 random_;
    RenderSummary summary_;
    std::string failure_;
    bool asleep_ = false;
    float held_[kOutputCount] = {};
    int64_t frame_ = 0;
    int64_t total_ = 0;
    int64_t sleepRequestsSeen_ = 0;
    float previousActive_ = 0.0f;
    std::vector<int32_t> events_;
    std::vector<int32_t> pendingSettings_; // plugs whose setting changed, announced next block
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
