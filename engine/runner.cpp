// The render loop on the stand-in host, one block at a time, and the render of a whole patch.
#include "runner.h"

#include <algorithm>
#include <chrono>
#include <random>

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

struct SettingPlug {
    int32_t plug;
    int16_t Patch::*value;
};
constexpr SettingPlug kSettingPlugs[] = {{SHAPE_SETTING, &Patch::shape},
                                         {FREQ_SCALE_SETTING, &Patch::freqScale},
                                         {FM_MODE_SETTING, &Patch::fmMode},
                                         {PM_MODE_SETTING, &Patch::pmMode}};

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
    host.setSampleRate(static_cast<float>(patch.sampleRateHz));
    host.setBlockSize(patch.blockFrames);
    for (const SettingPlug &setting : kSettingPlugs)
        host.setChoice(setting.plug, patch.*setting.value);
    host.open();

    for (size_t i = 0; i < kInputKeys.size(); ++i)
        inputBuffers_[i] = host.buffer(kInputKeys[i].plug);
    for (int c = 0; c < kOutputCount; ++c) outputBuffers_[c] = host.buffer(kOutputPlugs[c]);
    while (kInputKeys[activeIndex_].plug != ACTIVE_INPUT) ++activeIndex_;
    const Signal &active = patch.inputs[activeIndex_];
    // A host announces a connected input's state when the patch starts: static for a
    // constant, one-off steps for a stepped signal, running for a continuous one.
    initialActiveState_ = active.kind() == Signal::Kind::Constant ? STATE_STATIC
                          : active.stepped()                      ? STATE_ONE_OFF
                                                                  : STATE_RUNNING;
    random_.seed(patch.seed);
    events_.reserve(static_cast<size_t>(patch.blockFrames) + 1);
    pendingSettings_.reserve(std::size(kSettingPlugs));
}

void PatchRunner::update(const Patch &patch) {
    for (const SettingPlug &setting : kSettingPlugs)
        if (patch.*setting.value != patch_.*setting.value &&
            std::find(pendingSettings_.begin(), pendingSettings_.end(), setting.plug) ==
                pendingSettings_.end())
            pendingSettings_.push_back(setting.plug);
    patch_.shape = patch.shape;
    patch_.freqScale = patch.freqScale;
    patch_.fmMode = patch.fmMode;
    patch_.pmMode = patch.pmMode;
    patch_.inputs = patch.inputs;
}

const RenderSummary &PatchRunner::summary() {
    summary_.frames = frame_;
    summary_.sleepRequests = created_ ? host_->sleepRequests() : 0;
    return summary_;
}

// One process call over [begin, end) of the current buffers, or the held outputs while the
// instance sleeps.
void PatchRunner::runSpan(int32_t begin, int32_t end) {
    if (end <= begin || !failure_.empty()) return;
    if (asleep_) {
        for (int c = 0; c < kOutputCount; ++c)
            std::fill(outputBuffers_[c] + begin, outputBuffers_[c] + end, held_[c]);
        return;
    }
    host::Host &host = *host_;
    host.process(begin, end - begin);
    ++summary_.processCalls;
    if (!host.violations().empty()) {
        failure_ = "the plug-in broke the host's block checks at frame " +
                   std::to_string(frame_ + begin) + ": " + host.violations().front();
        return;
    }
    if (host.sleepRequests() > sleepRequestsSeen_) {
        sleepRequestsSeen_ = host.sleepRequests();
        asleep_ = true;
        summary_.sleepFrames.push_back(frame_ + end);
        for (int c = 0; c < kOutputCount; ++c) held_[c] = outputBuffers_[c][end - 1];
    }
}

int32_t PatchRunner::renderBlock() {
    if (!created_ || !failure_.empty() || total_ < 1) return 0;
    if (!loop_ && frame_ >= total_) return 0;
    host::Host &host = *host_;
    const double rateHz = patch_.sampleRateHz;
    int32_t count = patch_.randomBlocks
                        ? drawBlockSize(random_, static_cast<uint32_t>(patch_.blockFrames))
                        : patch_.blockFrames;
    if (!loop_) count = static_cast<int32_t>(std::min<int64_t>(count, total_ - frame_));

    // The patch's own time: the frame, or in a looping runner the frame within the loop.
    const int64_t start = loop_ ? frame_ % total_ : frame_;
    for (size_t i = 0; i < kInputKeys.size(); ++i) {
        const Signal &signal = patch_.inputs[i];
        float *buffer = inputBuffers_[i];
        for (int32_t j = 0; j < count; ++j) {
            int64_t t = start + j;
            if (loop_ && t >= total_) t -= total_;
            buffer[j] = plugValueAt(signal, t, rateHz, patch_.seconds);
        }
    }

    // Settings changed since the last block are announced at its first sample.
    for (const int32_t plug : pendingSettings_) {
        for (const SettingPlug &setting : kSettingPlugs)
            if (setting.plug == plug) host.setChoice(plug, patch_.*setting.value);
        host.sendPlugState(plug, STATE_STATIC, 0);
        asleep_ = false;
    }
    pendingSettings_.clear();

    events_.clear();
    const Signal &active = patch_.inputs[activeIndex_];
    const float *activeValues = inputBuffers_[activeIndex_];
    for (int32_t j = 0; j < count; ++j) {
        const bool first = frame_ + j == 0;
        if (first || (active.stepped() && activeValues[j] != previousActive_)) events_.push_back(j);
        previousActive_ = activeValues[j];
    }

    int32_t begin = 0;
    for (const int32_t at : events_) {
        runSpan(begin, at);
        host.sendPlugState(ACTIVE_INPUT, frame_ + at == 0 ? initialActiveState_ : STATE_ONE_OFF,
                           at);
        asleep_ = false;
        begin = at;
    }
    runSpan(begin, count);
    if (!failure_.empty()) return 0;

    host.advanceClock(count);
    frame_ += count;
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
