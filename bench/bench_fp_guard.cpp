// What the floating-point environment guard (sdk/fp_environment.h) costs a process call, in
// instructions: every routine's steady case at blocks of 64 and of 1 sample, through the
// stand-in host with its checks off, in two host environments: the module's own (x87 0x037F,
// MXCSR 0x1F80: nothing to load) and a foreign one, round toward zero in both units (x87
// 0x0F7F, MXCSR 0x7F80: both registers loaded and restored on every call). Callgrind models the
// rounding fields only (not precision, flush-to-zero or the exception flags), so a rounding mode
// is the foreign environment it can see, and the flag clearing that follows the module's
// inexact results on a real processor (an FNCLEX, a second LDMXCSR) is not in its counts.
//
//   bench/fp_guard_cost.py BENCH GUARDED-PLUGIN UNGUARDED-PLUGIN
//
// Each measurement is collected and dumped on its own through callgrind's client requests,
// named "<plug-in>/<routine>/host:<env>/block:<n>"; fp_guard_cost.py runs this program under
// callgrind on the plug-in and on the same plug-in built without the guard (tests/platform
// builds it) and prints the difference per process call. Run natively it only checks that every
// measurement runs.
//
//   fourwave_fp_guard_bench --plugin FILE [--plugin FILE ...] [--calls N]
#include <stdint.h>

#include <valgrind/callgrind.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "host/host.h"
#include "module/plugs.h"
#include "testkit/routines.h"

namespace {

using namespace fourwave;

struct HostEnvironment {
    const char *name;
    uint16_t x87Control;
    uint32_t mxcsr;
};
constexpr HostEnvironment kHostEnvironments[] = {{"module", 0x037F, 0x1F80},
                                                 {"foreign", 0x0F7F, 0x7F80}};
constexpr int32_t kBlocks[] = {64, 1};

void setEnvironment(const HostEnvironment &environment) {
    __asm__ volatile("fnclex\n\tfldcw %0" : : "m"(environment.x87Control) : "memory");
#if defined(__SSE__)
    __asm__ volatile("ldmxcsr %0" : : "m"(environment.mxcsr) : "memory");
#endif
}

// The loop callgrind counts: `calls` process calls of `block` samples.
__attribute__((noinline)) void processCalls(host::Host &host, int32_t block, int calls) {
    for (int i = 0; i < calls; ++i) host.process(0, block);
}

bool measure(const std::string &plugin, const host::PluginEntries &entries, int calls) {
    host::HostOptions options;
    options.checkBlocks = false;
    options.logCalls = false;
    options.bufferFrames = 64;
    for (const HostEnvironment &environment : kHostEnvironments)
        for (const test::RoutineRow &row : test::kRoutineTable)
            for (const int32_t block : kBlocks) {
                host::Host host(entries, options);
                if (!host.create()) return false;
                host.setSampleRate(48000.0f);
                host.setChoice(SHAPE_SETTING, row.shape);
                host.setChoice(FM_MODE_SETTING, row.modulated ? FM_ENABLE : FM_DISABLE);
                host.fill(PITCH_INPUT, 0.4f);
                host.fill(WIDTH_INPUT, 0.3f);
                for (int32_t level :
                     {RAMP_LEVEL_INPUT, SAW_LEVEL_INPUT, PULSE_LEVEL_INPUT, TRIANGLE_LEVEL_INPUT})
                    host.fill(level, 0.5f);
                host.fill(ACTIVE_INPUT, 1.0f);
                host.open();
                setEnvironment(environment);
                processCalls(host, block, 16); // warm: the pitch is computed once
                const std::string name = plugin + "/" + row.name + "/host:" + environment.name +
                                         "/block:" + std::to_string(block);
                CALLGRIND_TOGGLE_COLLECT;
                processCalls(host, block, calls);
                CALLGRIND_TOGGLE_COLLECT;
                CALLGRIND_DUMP_STATS_AT(name.c_str());
                setEnvironment(kHostEnvironments[0]);
                std::printf("%s: %d calls\n", name.c_str(), calls);
            }
    return true;
}

} // namespace

int main(int argc, char **argv) {
    std::vector<std::string> plugins;
    int calls = 1000;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--plugin") == 0)
            plugins.emplace_back(argv[i + 1]);
        else if (std::strcmp(argv[i], "--calls") == 0)
            calls = std::atoi(argv[i + 1]);
    }
    if (plugins.empty()) {
        std::fprintf(stderr, "usage: %s --plugin FILE [--plugin FILE ...] [--calls N]\n", argv[0]);
        return 2;
    }
    for (const std::string &path : plugins) {
        std::string error;
        auto library = host::PluginLibrary::load(path, &error);
        if (library == nullptr) {
            std::fprintf(stderr, "%s: %s\n", path.c_str(), error.c_str());
            return 1;
        }
        const std::string name = path.substr(path.find_last_of('/') + 1);
        if (!measure(name, library->entries(), calls)) return 1;
    }
    return 0;
}
