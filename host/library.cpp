// Loading a plug-in library by path: dlopen, or LoadLibrary on Windows. The only part of the
// stand-in host that depends on the platform's loader; a host that links the module directly
// (the WebAssembly build) does without it.
#include "host.h"

#include <string>
#include <utility>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace fourwave::host {

std::unique_ptr<PluginLibrary> PluginLibrary::load(const std::string &path, std::string *error) {
    auto fail = [&](std::string message) -> std::unique_ptr<PluginLibrary> {
        if (error != nullptr) *error = std::move(message);
        return nullptr;
    };
#if defined(_WIN32)
    HMODULE handle = LoadLibraryA(path.c_str());
    if (handle == nullptr)
        return fail("cannot load '" + path + "' (error " + std::to_string(GetLastError()) + ")");
    auto symbol = [&](const char *name) {
        return reinterpret_cast<void *>(GetProcAddress(handle, name));
    };
    auto unload = [&] { FreeLibrary(handle); };
#else
    void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char *reason = dlerror();
        return fail("cannot load '" + path + "': " + (reason != nullptr ? reason : "unknown"));
    }
    auto symbol = [&](const char *name) { return dlsym(handle, name); };
    auto unload = [&] { dlclose(handle); };
#endif
    PluginEntries entries;
    entries.getModuleProperties =
        reinterpret_cast<GetModulePropertiesFunction>(symbol("getModuleProperties"));
    entries.makeModule = reinterpret_cast<MakeModuleFunction>(symbol("makeModule"));
    if (entries.getModuleProperties == nullptr || entries.makeModule == nullptr) {
        unload();
        return fail(
            "'" + path + "' is not a plug-in: it lacks the export " +
            (entries.getModuleProperties == nullptr ? "getModuleProperties" : "makeModule"));
    }
    return std::unique_ptr<PluginLibrary>(
        new PluginLibrary(reinterpret_cast<void *>(handle), entries, path));
}

PluginLibrary::~PluginLibrary() {
#if defined(_WIN32)
    FreeLibrary(static_cast<HMODULE>(handle_));
#else
    dlclose(handle_);
#endif
}

} // namespace fourwave::host
