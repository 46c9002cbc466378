// A plug-in library opened as the host application opens one: loaded through its two exports,
// asked for an instance, and checked to describe the plugs the runner drives. Native builds
// only (the WebAssembly build links the module in).
#pragma once

#include <memory>
#include <string>

#include "error.h"
#include "host/host.h"

namespace fourwave::engine {

// Loads and checks the library at `path` into `library`: it loads, has both exports, creates
// an instance, and describes the plugs the runner drives. An error names `where` (the option,
// or the default plug-in) first.
Error loadPlugin(const std::string &path, const std::string &where,
                 std::unique_ptr<host::PluginLibrary> *library);

} // namespace fourwave::engine
