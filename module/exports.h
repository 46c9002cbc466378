// The library's two exports, declared once: for the definitions in exports.cpp, and for the
// programs that link the module directly instead of loading the plug-in file.
#pragma once

#include <stdint.h>

#include "sdk/abi.h"

extern "C" int32_t SE_ABI getModuleProperties(int32_t index, ModuleProperties *properties);
extern "C" BindingRecord *SE_ABI makeModule(int32_t index, int32_t objectKind,
                                            HostCallback hostCallback, void *hostData);
