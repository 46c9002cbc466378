// The render loop on the stand-in host.
#include "session.h"

#include <algorithm>
#include <chrono>
#include <cstring>
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
    PatchRunner runner(library.entries(), patch);
    if (!runner.created()) throw RunError("the plug-in refused to create an instance");
    const int64_t total = runner.totalFrames();

    auto lastProgress = started;
    for (;;) {
        const int32_t count = runner.renderBlock();
        if (!runner.failure().empty()) throw RunError(runner.failure());
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
    summary.wallSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return summary;
}

} // namespace fourwave::apps
