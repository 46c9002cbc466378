// The two exports of the directly linked oscillator, as the stand-in host takes them: the one
// definition shared by the GoogleTest suites, the reliability tools, the fuzz target and the
// platform tests (no test framework needed).
#pragma once

#include "host/host.h"
#include "module/exports.h"

namespace fourwave::test {

inline host::PluginEntries linkedEntries() {
    host::PluginEntries entries;
    entries.getModuleProperties = getModuleProperties;
    entries.makeModule = makeModule;
    return entries;
}

} // namespace fourwave::test
