// The library's two exports and its load notification. A host finds the module through
// getModuleProperties and creates instances with makeModule; everything after creation goes
// through the instance's binding record.
#include "exports.h"

#include <new>

#include "module.h"
#include "sdk/fp_environment.h"

#if defined(_WIN32)
#define SE_EXPORT
#else
#define SE_EXPORT __attribute__((visibility("default")))
#endif

namespace {
constexpr int32_t kModuleIndex = 0; // the library holds exactly one module type
}

extern "C" SE_EXPORT int32_t SE_ABI getModuleProperties(int32_t index,
                                                        ModuleProperties *properties) {
    const FloatEnvironmentGuard environment;
    if (properties == nullptr) return 0;
    // Written first and for every index, including those then refused.
    properties->interfaceRevision = SE_INTERFACE_REVISION;
    if (index != kModuleIndex) return 0;
    Module::fillProperties(properties);
    return 1;
}

extern "C" SE_EXPORT BindingRecord *SE_ABI makeModule(int32_t index, int32_t objectKind,
                                                      HostCallback hostCallback, void *hostData) {
    const FloatEnvironmentGuard environment;
    if (index != kModuleIndex || objectKind != SE_OBJECT_KIND_MODULE) return nullptr;
    Module *const module = new (std::nothrow) Module(hostCallback, hostData);
    return module != nullptr ? module->getBindingRecord() : nullptr;
}

#if defined(_WIN32)
#include <windows.h>

// The C++ runtime linked into the library allocates its exception emergency pool when the
// library loads and frees it only on request: without that request every load and unload
// leaves about 19 KiB behind.
namespace __gnu_cxx {
void __freeres();
}

// No per-process or per-thread initialisation: every notification succeeds. On an unload by
// FreeLibrary (a null reserved pointer; not at process exit, when the process's memory goes
// anyway) the runtime's pool is freed.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_DETACH && reserved == nullptr) __gnu_cxx::__freeres();
    return TRUE;
}
#endif
