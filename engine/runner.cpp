// The render loop on the stand-in host, one block at a time, and the render of a whole patch.
#include "runner.h"

#include <algorithm>
#include <chrono>
#include <random>

#include "sdk/host_scale.h"

namespace fourwave::engine {

namespace {

// Host-scale value of a signal at frame `frame`.
float plugValueAt(const Signal &signal, int64_t frame, double rateHz, double seconds) {
    return static_cast<float>(signal.voltsAt(frame, rateHz, seconds) /
                              static_cast<double>(kVoltsPerUnit));
}

// A block size from 1 to `largest`, drawn from the 32-bit Mersenne Twister (whose sequence
// the C++ standard fixes) by Lemire's nearly divisionless method: the draw libstdc++'s
// uniform_int_distribution makes, spelled out so that every standard library (the
// WebAssembly build's is another) gives the same sizes for a seed.
int32_t drawBlockSize(std::mt19937 &random, uint32_t largest) {
    uint64_t product = static_cast<uint64_t>(static_cast<uint32_t>(random())) * largest;
    uint32_t low = static_cast<uint32_t>(product);
    if (low < largest) {
        const uint32_t threshold = (0u - largest) % largest;
        while (low < threshold) {
            product = static_cast<uint64_t>(static_cast<uint32_t>(random())) * largest;
            low = static_cast<uint32_t>(product);
        }
    }
    return static_cast<int32_t>(product >> 32) + 1;
}

} // namespace

PatchRunner::PatchRunner(const host::PluginEntries &entries, const Patch &patch, bool checkBlocks,
                         bool loop)
    : patch_(patch), loop_(loop), total_(patch.frames()) {
    host::HostOptions options;
    options.bufferFrames = patch.blockFrames; // the checks copy whole buffers: keep them short
    options.logCalls = false;
    options.checkBlocks = checkBlocks;
    host_ = std::make_unique<host::Host>(entries, options);
    if (!host_->create()) return;
    created_ = true;
    host::Host &host = *host_;
    driver_ = std::make_unique<host::Driver>(host);
    driver_->keepSleepFrames(&summary_.sleepFrames);
    host.setSampleRate(static_cast<float>(patch.sampleRateHz));
    host.setBlockSize(patch.blockFrames);
    for (const PatchSetting &setting : kPatchSettings)
        driver_->setSetting(setting.plug, patch.*setting.choice);
    host.open();

    for (size_t i = 0; i < kPatchInputs.size(); ++i)
        inputBuffers_[i] = host.buffer(kPatchInputs[i]);
    const Signal &active = patch.input(ACTIVE_INPUT);
    // A host announces a connected input's state when the patch starts: static for a
    // constant, one-off steps for a stepped signal, running for a continuous one.
    host::Driver::Start how;
    how.firstActiveState = active.kind() == Signal::Kind::Constant ? STATE_STATIC
                           : active.stepped()                      ? STATE_ONE_OFF
                                                                   : STATE_RUNNING;
    how.activeSteps = active.stepped();
    driver_->start(how);
    for (int c = 0; c < kOutputCount; ++c) outputBuffers_[c] = driver_->output(c);
    random_.seed(patch.seed);
}

void PatchRunner::update(const Patch &patch) {
    for (const PatchSetting &setting : kPatchSettings)
        if (patch.*setting.choice != patch_.*setting.choice)
            driver_->setSetting(setting.plug, patch.*setting.choice);
    patch_.shape = patch.shape;
    patch_.freqScale = patch.freqScale;
    patch_.fmMode = patch.fmMode;
    patch_.pmMode = patch.pmMode;
    patch_.inputs = patch.inputs;
}

const std::string &PatchRunner::failure() const {
    static const std::string kNone;
    return driver_ ? driver_->failure() : kNone;
}

const RenderSummary &PatchRunner::summary() {
    summary_.frames = frame();
    summary_.sleepRequests = created_ ? host_->sleepRequests() : 0;
    summary_.processCalls = driver_ ? driver_->processCalls() : 0;
    return summary_;
}

int32_t PatchRunner::renderBlock() {
    if (!created_ || !failure().empty() || total_ < 1) return 0;
    const int64_t frame = driver_->frame();
    if (!loop_ && frame >= total_) return 0;
    const double rateHz = patch_.sampleRateHz;
    int32_t count = patch_.randomBlocks
                        ? drawBlockSize(random_, static_cast<uint32_t>(patch_.blockFrames))
                        : patch_.blockFrames;
    if (!loop_) count = static_cast<int32_t>(std::min<int64_t>(count, total_ - frame));

    // The patch's own time: the frame, or in a looping runner the frame within the loop.
    const int64_t start = loop_ ? frame % total_ : frame;
    for (size_t i = 0; i < kPatchInputs.size(); ++i) {
        const Signal &signal = patch_.inputs[i];
        float *buffer = inputBuffers_[i];
        for (int32_t j = 0; j < count; ++j) {
            int64_t t = start + j;
            if (loop_ && t >= total_) t -= total_;
            buffer[j] = plugValueAt(signal, t, rateHz, patch_.seconds);
        }
    }

    driver_->setActiveSteps(patch_.input(ACTIVE_INPUT).stepped());
    if (!driver_->runBlock(count)) return 0;
    host_->advanceClock(count);
    return count;
}

RenderSummary renderPatch(const host::PluginEntries &entries, const Patch &patch,
                          const BlockSink &sink, const ProgressCallback &progress) {
    const auto started = std::chrono::steady_clock::now();
    PatchRunner runner(entries, patch);
    if (!runner.created()) {
        RenderSummary refused;
        refused.failure = "the plug-in refused to create an instance";
        return refused;
    }
    const int64_t total = runner.totalFrames();

    auto lastProgress = started;
    for (;;) {
        const int32_t count = runner.renderBlock();
        if (count == 0) break;
        sink(runner.outputs(), count);

        if (progress) {
            const auto now = std::chrono::steady_clock::now();
            if (now - lastProgress > std::chrono::milliseconds(100) || runner.frame() == total) {
                progress(runner.frame(), total);
                lastProgress = now;
            }
        }
    }

    RenderSummary summary = runner.summary();
    summary.failure = runner.failure();
    summary.wallSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return summary;
}

} // namespace fourwave::engine
