// Opening and checking a plug-in library.
#include "plugin.h"

#include <cstring>

#include <unistd.h>

#include "module/plugs.h"

namespace fourwave::engine {

namespace {

bool fileExists(const std::string &path) { return access(path.c_str(), F_OK) == 0; }

} // namespace

Error loadPlugin(const std::string &path, const std::string &where,
                 std::unique_ptr<host::PluginLibrary> *library) {
    if (!fileExists(path)) return Error(where + ": '" + path + "': no such file");
    // dlopen searches the library path for a bare name; a user means the file they named.
    const std::string loadPath = path.find('/') == std::string::npos ? "./" + path : path;
    std::string error;
    std::unique_ptr<host::PluginLibrary> loaded = host::PluginLibrary::load(loadPath, &error);
    if (!loaded) return Error(where + ": " + error);

    ModuleProperties properties = {};
    if (loaded->entries().getModuleProperties(0, &properties) == 0 || properties.name == nullptr)
        return Error(where + ": '" + path + "' describes no module at index 0");
    host::HostOptions options;
    options.bufferFrames = 1;
    options.logCalls = false;
    host::Host probe(loaded->entries(), options);
    if (!probe.create()) return Error(where + ": '" + path + "' refused to create an instance");
    const auto &descriptions = probe.descriptions();
    for (int32_t plug = 0; plug < NUM_PLUGS; ++plug) {
        const char *name = plug < static_cast<int32_t>(descriptions.size())
                               ? descriptions[static_cast<size_t>(plug)].name
                               : nullptr;
        // The names this program relies on are the plug table's: a library whose plugs differ
        // is not the module this host was written for.
        const char *expected = kPlugs[plug].name;
        if (name == nullptr || std::strcmp(name, expected) != 0)
            return Error(where + ": '" + path + "' (" + properties.name +
                         ") is not the four-waveform oscillator: plug " + std::to_string(plug) +
                         " is " + (name != nullptr ? "'" + std::string(name) + "'" : "missing") +
                         ", not '" + expected + "'");
    }
    *library = std::move(loaded);
    return {};
}

} // namespace fourwave::engine
