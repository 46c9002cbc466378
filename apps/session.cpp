// The render loop on the stand-in host.
#include "session.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>
#include <vector>

#include <unistd.h>

#include "errors.h"

namespace fourwave::apps {

namespace {

constexpr const char *kSsePluginFile = "fourwave_sse.so";
#ifndef FOURWAVE_SIBLING_PLUGIN
#define FOURWAVE_SIBLING_PLUGIN "fourwave_sse.so"
#endif

// The plug names this program relies on, by plug number: a library whose plugs differ is not
// the module this host was written for.
constexpr const char *kExpectedPlugNames[NUM_PLUGS] = {
    "Pitch",      "Width",       "Sync",           "Phase",          "Phase Mod",
    "Ramp Level", "Saw Level",   "Pulse Level",    "Triangle Level", "Sync Threshold",
    "Sync Advance", "Active",    "Audio Rate Frequency Modulation", "Phase Modulation",
    "Shape",      "Ramp Out",    "Saw Out",        "Pulse Out",      "Triangle Out",
    "Freq Scale"};

std::string executableDirectory() {
    std::vector<char> path(4096);
    const ssize_t length = readlink("/proc/self/exe", path.data(), path.size() - 1);
    if (length <= 0) return ".";
    std::string text(path.data(), static_cast<size_t>(length));
    const size_t slash = text.rfind('/');
    return slash == std::string::npos ? "." : text.substr(0, slash);
}

bool fileExists(const std::string &path) { return access(path.c_str(), F_OK) == 0; }

// Host-scale value of a signal at frame `frame`.
float plugValueAt(const Signal &signal, int64_t frame, double rateHz, double seconds) {
    return static_cast<float>(signal.voltsAt(frame, rateHz, seconds) /
                              static_cast<double>(kVoltsPerUnit));
}

} // namespace

std::string defaultPluginPath() {
    const std::string directory = executableDirectory();
    const std::string sse = directory + "/" + kSsePluginFile;
    if (fileExists(sse)) return sse;
    const std::string sibling = directory + "/" + FOURWAVE_SIBLING_PLUGIN;
    if (fileExists(sibling)) return sibling;
    return sse; // the load names the missing file
}

std::unique_ptr<host::PluginLibrary> loadPlugin(const std::string &path, const std::string &where) {
    if (!fileExists(path)) throw UsageError(where + ": '" + path + "': no such file");
    // dlopen searches the library path for a bare name; a user means the file they named.
    const std::string loadPath = path.find('/') == std::string::npos ? "./" + path : path;
    std::string error;
    std::unique_ptr<host::PluginLibrary> library = host::PluginLibrary::load(loadPath, &error);
    if (!library) throw UsageError(where + ": " + error);

    ModuleProperties properties = {};
    if (library->entries().getModuleProperties(0, &properties) == 0 || properties.name == nullptr)
        throw UsageError(where + ": '" + path + "' describes no module at index 0");
    host::HostOptions options;
    options.bufferFrames = 1;
    options.logCalls = false;
    host::Host probe(library->entries(), options);
    if (!probe.create())
        throw UsageError(where + ": '" + path + "' refused to create an instance");
    const auto &descriptions = probe.descriptions();
    for (int32_t plug = 0; plug < NUM_PLUGS; ++plug) {
        const char *name = plug < static_cast<int32_t>(descriptions.size())
                               ? descriptions[static_cast<size_t>(plug)].name
                               : nullptr;
        if (name == nullptr || std::strcmp(name, kExpectedPlugNames[plug]) != 0)
            throw UsageError(where + ": '" + path + "' (" + properties.name +
                             ") is not the four-waveform oscillator: plug " +
                             std::to_string(plug) + " is " +
                             (name != nullptr ? "'" + std::string(name) + "'" : "missing") +
                             ", not '" + kExpectedPlugNames[plug] + "'");
    }
    return library;
}

RenderSummary renderPatch(const host::PluginLibrary &library, const Patch &patch,
                          const BlockSink &sink, const ProgressCallback &progress) {
    const auto started = std::chrono::steady_clock::now();
    const double rateHz = patch.sampleRateHz;
    const int64_t total = patch.frames();

    host::HostOptions options;
    options.bufferFrames = patch.blockFrames; // the checks copy whole buffers: keep them short
    options.logCalls = false;
    host::Host host(library.entries(), options);
    if (!host.create()) throw RunError("the plug-in refused to create an instance");
    host.setSampleRate(static_cast<float>(rateHz));
    host.setBlockSize(patch.blockFrames);
    host.setChoice(SHAPE_SETTING, patch.shape);
    host.setChoice(FREQ_SCALE_SETTING, patch.freqScale);
    host.setChoice(FM_MODE_SETTING, patch.fmMode);
    host.setChoice(PM_MODE_SETTING, patch.pmMode);
    host.open();

    float *inputBuffers[kInputKeys.size()];
    for (size_t i = 0; i < kInputKeys.size(); ++i) inputBuffers[i] = host.buffer(kInputKeys[i].plug);
    float *outputBuffers[kOutputCount];
    for (int c = 0; c < kOutputCount; ++c) outputBuffers[c] = host.buffer(kOutputPlugs[c]);

    size_t activeIndex = 0;
    while (kInputKeys[activeIndex].plug != ACTIVE_INPUT) ++activeIndex;
    const Signal &active = patch.inputs[activeIndex];
    // A host announces a connected input's state when the patch starts: static for a
    // constant, one-off steps for a stepped signal, running for a continuous one.
    const int32_t initialActiveState = active.kind() == Signal::Kind::Constant ? STATE_STATIC
                                       : active.stepped()                     ? STATE_ONE_OFF
                                                                              : STATE_RUNNING;

    std::mt19937 random(patch.seed);
    std::uniform_int_distribution<int32_t> randomBlock(1, patch.blockFrames);

    RenderSummary summary;
    bool asleep = false;
    float held[kOutputCount] = {};
    int64_t frame = 0;
    int64_t sleepRequestsSeen = 0;
    std::vector<int32_t> events;
    float previousActive = 0.0f;

    // One process call over [begin, end) of the current buffers, or the held outputs while
    // the instance sleeps.
    auto runSpan = [&](int32_t begin, int32_t end) {
        if (end <= begin) return;
        if (asleep) {
            for (int c = 0; c < kOutputCount; ++c)
                std::fill(outputBuffers[c] + begin, outputBuffers[c] + end, held[c]);
            return;
        }
        host.process(begin, end - begin);
        ++summary.processCalls;
        if (!host.violations().empty())
            throw RunError("the plug-in broke the host's block checks at frame " +
                           std::to_string(frame + begin) + ": " + host.violations().front());
        if (host.sleepRequests() > sleepRequestsSeen) {
            sleepRequestsSeen = host.sleepRequests();
            asleep = true;
            summary.sleepFrames.push_back(frame + end);
            for (int c = 0; c < kOutputCount; ++c) held[c] = outputBuffers[c][end - 1];
        }
    };

    auto lastProgress = started;
    while (frame < total) {
        int32_t count = patch.randomBlocks ? randomBlock(random) : patch.blockFrames;
        count = static_cast<int32_t>(std::min<int64_t>(count, total - frame));

        for (size_t i = 0; i < kInputKeys.size(); ++i)
            for (int32_t j = 0; j < count; ++j)
                inputBuffers[i][j] = plugValueAt(patch.inputs[i], frame + j, rateHz, patch.seconds);

        events.clear();
        const float *activeValues = inputBuffers[activeIndex];
        for (int32_t j = 0; j < count; ++j) {
            const bool start = frame + j == 0;
            if (start || (active.stepped() && activeValues[j] != previousActive)) events.push_back(j);
            previousActive = activeValues[j];
        }

        int32_t begin = 0;
        for (const int32_t at : events) {
            runSpan(begin, at);
            host.sendPlugState(ACTIVE_INPUT, frame + at == 0 ? initialActiveState : STATE_ONE_OFF,
                               at);
            asleep = false;
            begin = at;
        }
        runSpan(begin, count);

        const float *channels[kOutputCount] = {outputBuffers[0], outputBuffers[1],
                                               outputBuffers[2], outputBuffers[3]};
        sink(channels, count);
        host.advanceClock(count);
        frame += count;

        if (progress) {
            const auto now = std::chrono::steady_clock::now();
            if (now - lastProgress > std::chrono::milliseconds(100) || frame == total) {
                progress(frame, total);
                lastProgress = now;
            }
        }
    }

    summary.frames = frame;
    summary.sleepRequests = host.sleepRequests();
    summary.wallSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return summary;
}

} // namespace fourwave::apps
