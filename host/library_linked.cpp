// "Loading" where the platform has no loader (the WebAssembly build): the one plug-in is linked
// into the program, and PluginLibrary::load hands out its two exports for whatever path a
// program names, so that the tools written against the loader run unchanged.
#include "host.h"

#include "module/exports.h"

namespace fourwave::host {

std::unique_ptr<PluginLibrary> PluginLibrary::load(const std::string &path, std::string *) {
    return std::unique_ptr<PluginLibrary>(
        new PluginLibrary(nullptr, PluginEntries{getModuleProperties, makeModule}, path));
}

PluginLibrary::~PluginLibrary() { static_cast<void>(handle_); } // nothing was loaded

} // namespace fourwave::host
