// A host that leaves the floating-point unit in the states real hosts leave it in, and sets that
// state again before every call into the plug-in: getModuleProperties, makeModule, and each
// instance's dispatcher, event handler and process routine (the stand-in host is handed a
// binding record of this host's own whose entries do that, then forward to the instance's).
// For every environment, the scripted sessions of all ten routines (48 kHz, 44.1 kHz and a
// sample rate of 0; ordinary inputs, then hostile ones on every input) must give the outputs,
// sleep requests and routine changes of the same sessions in the default environment, bit for
// bit; after every call the x87 control word and MXCSR must be exactly as set, and the x87 and
// MXCSR exception flags exactly as before the call (none raised by the module); and every host
// callback the instance makes must run in the module's own environment. A trap ends the
// program with the environment and the entry named.
//
//   fourwave_fp_environment_host --plugin FILE [--environment NAME]
//
// The first line gives the default environment the program started in; then one line per
// environment; the last line is the verdict ("fp-environment: N passed, M failed"), and the
// exit status is 0 only when all passed (3 after a trap).
//
// MXCSR is set and checked where the processor has one (CPUID), so that the x87 suites still
// run on a processor without SSE; there the x87 part of every environment is still tested.
#include <stdint.h>

#include <cpuid.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "host/host.h"
#include "sdk/abi.h"
#include "testkit/entry_proxy.h"
#include "testkit/scripted_session.h"

namespace fourwave::platform {
namespace {

// --- the unit's state, read and set directly ----------------------------------------------------

constexpr uint16_t kX87Flags = 0x007F; // IE DE ZE OE UE PE and the stack fault
// The control word's defined bits: bit 6 and bits 13 to 15 are reserved (the processor reads
// bit 6 as 1, so 0x1332 reads back as 0x1372).
constexpr uint16_t kX87ControlBits = 0x1F3F;
constexpr uint32_t kMxcsrFlags = 0x003F;
constexpr uint16_t kModuleX87Control = 0x037F; // what the module runs in (README)
constexpr uint32_t kModuleMxcsr = 0x1F80;

bool haveMxcsr = false;

struct Environment {
    const char *name;
    uint16_t x87Control;
    uint32_t mxcsr;    // with the flags that are to be raised when the call starts
    uint16_t x87Flags; // x87 exception flags raised when the call starts
};

struct State {
    uint16_t x87Control = 0;
    uint16_t x87Flags = 0;
    uint32_t mxcsr = 0;
};

State readState() {
    State state;
    uint16_t status = 0;
    __asm__ volatile("fnstcw %0" : "=m"(state.x87Control) : : "memory");
    __asm__ volatile("fnstsw %0" : "=m"(status) : : "memory");
    state.x87Flags = status & kX87Flags;
    if (haveMxcsr) __asm__ volatile("stmxcsr %0" : "=m"(state.mxcsr) : : "memory");
    return state;
}

// noinline: nothing of the caller's floating-point work is scheduled between it and the call.
__attribute__((noinline)) void setState(uint16_t x87Control, uint16_t x87Flags, uint32_t mxcsr) {
    if (haveMxcsr) __asm__ volatile("ldmxcsr %0" : : "m"(mxcsr) : "memory");
    uint32_t environment[7]; // FNSTENV's 28 bytes: control word, status word, ...
    __asm__ volatile("fnclex\n\tfnstenv %0" : "=m"(environment) : : "memory");
    // The flags first, under the masked control word FNSTENV leaves; then the control word.
    environment[1] = (environment[1] & ~uint32_t{0x80FF}) | x87Flags;
    __asm__ volatile("fldenv %0" : : "m"(environment) : "memory");
    __asm__ volatile("fldcw %0" : : "m"(x87Control) : "memory");
}

State defaultState;
const Environment *current = nullptr; // set before every call into the plug-in
const char *currentEntry = "";

__attribute__((noinline)) void enter(const char *entry) {
    currentEntry = entry;
    setState(current->x87Control, current->x87Flags, current->mxcsr);
}

std::string hex(uint32_t value, int digits = 4) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

std::string describe(const State &state) {
    return "x87 " + hex(state.x87Control) + " flags " + hex(state.x87Flags) +
           (haveMxcsr ? ", MXCSR " + hex(state.mxcsr) : "");
}

// What went wrong in one environment, counted over all its calls.
struct Findings {
    int64_t calls = 0;
    int64_t callbacks = 0;
    int64_t changed = 0;   // control word or MXCSR modes not as set
    int64_t flagsLeft = 0; // exception flags not as before the call
    int64_t callbackEnvironment = 0;
    std::string firstChanged, firstFlags, firstCallback;
};
Findings findings;

// Reads the state after a call, compares it with what was set, and puts the default back.
__attribute__((noinline)) void leave() {
    const State after = readState();
    ++findings.calls;
    const bool modesKept =
        (after.x87Control & kX87ControlBits) == (current->x87Control & kX87ControlBits) &&
        (!haveMxcsr || (after.mxcsr & ~kMxcsrFlags) == (current->mxcsr & ~kMxcsrFlags));
    const bool flagsKept =
        after.x87Flags == current->x87Flags &&
        (!haveMxcsr || (after.mxcsr & kMxcsrFlags) == (current->mxcsr & kMxcsrFlags));
    if (!modesKept && findings.changed++ == 0)
        findings.firstChanged = std::string(currentEntry) + " left " + describe(after);
    if (!flagsKept && findings.flagsLeft++ == 0)
        findings.firstFlags = std::string(currentEntry) + " left " + describe(after);
    setState(defaultState.x87Control, defaultState.x87Flags, defaultState.mxcsr);
}

// --- the host's side of every entry ----------------------------------------------------------

// Every call into the plug-in in the environment under test, and the state checked after it.
struct EnvironmentCalls {
    template <class R, class F, class... A>
    static R call(const char *entry, F function, A... arguments) {
        enter(entry);
        if constexpr (std::is_void_v<R>) {
            function(arguments...);
            leave();
        } else {
            const R result = function(arguments...);
            leave();
            return result;
        }
    }

    // The instance calls the host from inside an entry: it must find the module's environment.
    static intptr_t SE_ABI hostCallback(void *record, int32_t opcode, int32_t index, int32_t value,
                                        void *pointer, float opt) {
        const State inside = readState();
        ++findings.callbacks;
        const bool moduleEnvironment =
            (inside.x87Control & kX87ControlBits) == (kModuleX87Control & kX87ControlBits)
#if defined(__SSE__)
            // Only a build that may execute SSE sets MXCSR; the x87 plug-ins leave it as it is.
            && (!haveMxcsr || (inside.mxcsr & ~kMxcsrFlags) == kModuleMxcsr)
#endif
            ;
        if (!moduleEnvironment && findings.callbackEnvironment++ == 0)
            findings.firstCallback = "opcode " + std::to_string(opcode) + " from " + currentEntry +
                                     " ran in " + describe(inside);
        return test::EntryProxy<EnvironmentCalls>::standInCallback(record, opcode, index, value,
                                                                   pointer, opt);
    }
};

// --- traps -----------------------------------------------------------------------------------

#ifdef _WIN32
LONG WINAPI reportTrap(EXCEPTION_POINTERS *info) {
    std::printf("TRAP 0x%08lX in environment %s, during %s\n",
                static_cast<unsigned long>(info->ExceptionRecord->ExceptionCode),
                current ? current->name : "?", currentEntry);
    std::fflush(stdout);
    ExitProcess(3);
}
#else
void reportTrap(int signal) {
    char line[160];
    const int length =
        std::snprintf(line, sizeof line, "TRAP signal %d in environment %s, during %s\n", signal,
                      current ? current->name : "?", currentEntry);
    if (write(1, line, static_cast<size_t>(length)) < 0) _exit(4);
    _exit(3);
}
#endif

// --- the sessions ----------------------------------------------------------------------------

// The environments hosts leave. MXCSR 0x1F80 and x87 0x037F are the masked, round-to-nearest
// defaults; 0x0C00 / 0x6000 round toward zero, 0x0800 / 0x4000 up, 0x0400 / 0x2000 down.
const Environment kEnvironments[] = {
    {"unmasked", 0x1332, 0x1900, 0}, // invalid, zero-divide, overflow unmasked
    {"precision-24", 0x007F, 0x1F80, 0},
    {"precision-53", 0x027F, 0x1F80, 0},
    {"toward-zero", 0x0F7F, 0x7F80, 0},
    {"upward", 0x0B7F, 0x5F80, 0},
    {"downward", 0x077F, 0x3F80, 0},
    {"ftz-daz", 0x037F, 0x9FC0, 0},
    // Unmasked, 24-bit, toward zero, FTZ and DAZ, with the host's own inexact flags raised.
    {"all-at-once", 0x1C32, 0xF960, 0x0020},
};

constexpr float kSampleRates[] = {48000.0f, 44100.0f, 0.0f};

struct SessionPlan {
    int routine;
    uint32_t number;
    SessionOptions options;
};

std::vector<SessionPlan> plans() {
    std::vector<SessionPlan> list;
    for (int routine = 0; routine < kRoutineCount; ++routine)
        for (float rate : kSampleRates)
            for (bool hostile : {false, true}) {
                SessionPlan plan{routine, static_cast<uint32_t>(300 + list.size()), {}};
                plan.options.sampleRate = rate;
                plan.options.hostileInputs = hostile;
                list.push_back(plan);
            }
    return list;
}

std::vector<SessionResult> runAll(const host::PluginEntries &proxyEntries,
                                  const std::vector<SessionPlan> &list) {
    std::vector<SessionResult> results;
    for (const SessionPlan &plan : list) {
        ModuleProperties properties = {};
        SessionResult result;
        if (proxyEntries.getModuleProperties(0, &properties) != 1 || properties.name == nullptr)
            result.failure = "getModuleProperties answered no module";
        else
            result = runSession(proxyEntries, plan.routine, plan.number, plan.options);
        results.push_back(std::move(result));
    }
    return results;
}

int64_t differingSamples(const SessionResult &a, const SessionResult &b) {
    if (a.outputs.size() != b.outputs.size())
        return static_cast<int64_t>(std::max(a.outputs.size(), b.outputs.size()));
    int64_t count = 0;
    for (size_t i = 0; i < a.outputs.size(); ++i)
        count += std::memcmp(&a.outputs[i], &b.outputs[i], sizeof(float)) != 0;
    return count;
}

// One line for an environment: "pass" when nothing went wrong, else every kind of fault.
bool report(const Environment &environment, bool isReference, const std::string &outputs,
            int64_t samples, size_t sessions) {
    std::string problems = outputs;
    if (findings.changed > 0)
        problems += "; environment changed after " + std::to_string(findings.changed) +
                    " calls (first: " + findings.firstChanged + ")";
    if (findings.flagsLeft > 0)
        problems += "; flags left raised after " + std::to_string(findings.flagsLeft) +
                    " calls (first: " + findings.firstFlags + ")";
    if (findings.callbackEnvironment > 0)
        problems += "; host callbacks outside the module's environment: " +
                    std::to_string(findings.callbackEnvironment) +
                    " (first: " + findings.firstCallback + ")";
    const std::string what = "x87 " + hex(environment.x87Control) +
                             (haveMxcsr ? ", MXCSR " + hex(environment.mxcsr) : "");
    if (problems.empty())
        std::printf("pass  %s (%s): %zu sessions, %lld calls, %lld callbacks, %lld samples%s; "
                    "environment and flags as set after every call\n",
                    environment.name, what.c_str(), sessions,
                    static_cast<long long>(findings.calls),
                    static_cast<long long>(findings.callbacks), static_cast<long long>(samples),
                    isReference ? " (the reference)" : " identical to the default environment's");
    else
        std::printf("FAIL  %s (%s)%s\n", environment.name, what.c_str(), problems.c_str());
    std::fflush(stdout);
    return problems.empty();
}

int run(const std::string &path, const std::string &only) {
    std::string error;
    auto library = host::PluginLibrary::load(path, &error);
    if (library == nullptr) {
        std::printf("cannot load %s: %s\nfp-environment: 0 passed, 1 failed\n", path.c_str(),
                    error.c_str());
        return 1;
    }
    const host::PluginEntries proxyEntries =
        test::EntryProxy<EnvironmentCalls>::wrap(library->entries());
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    haveMxcsr = __get_cpuid(1, &eax, &ebx, &ecx, &edx) && (edx & bit_SSE) != 0;
    defaultState = readState();
    std::printf("default environment: %s%s\n", describe(defaultState).c_str(),
                haveMxcsr ? "" : " (no SSE: MXCSR neither set nor checked)");

    // The reference: the same sessions, calls and checks in the environment the program
    // started in.
    const Environment reference = {"default", defaultState.x87Control, defaultState.mxcsr,
                                   defaultState.x87Flags};
    const std::vector<SessionPlan> list = plans();
    current = &reference;
    findings = Findings{};
    const std::vector<SessionResult> expected = runAll(proxyEntries, list);
    int64_t samples = 0;
    std::string referenceFailure;
    for (const SessionResult &result : expected) {
        samples += static_cast<int64_t>(result.outputs.size());
        if (!result.failure.empty() && referenceFailure.empty())
            referenceFailure = "; a session failed: " + result.failure;
    }
    int passed = 0, failed = 0;
    (report(reference, true, referenceFailure, samples, list.size()) ? passed : failed) += 1;

    for (const Environment &environment : kEnvironments) {
        if (!only.empty() && only != environment.name) continue;
        current = &environment;
        findings = Findings{};
        const std::vector<SessionResult> results = runAll(proxyEntries, list);
        int64_t differing = 0;
        std::string firstDifference;
        for (size_t i = 0; i < list.size(); ++i) {
            differing += differingSamples(expected[i], results[i]);
            const std::string difference = compareResults(expected[i], results[i]);
            if (!difference.empty() && firstDifference.empty())
                firstDifference = std::string(routineLabel(list[i].routine)) + " session " +
                                  std::to_string(list[i].number) + ": " + difference;
        }
        const std::string outputs = firstDifference.empty()
                                        ? ""
                                        : "; outputs: " + std::to_string(differing) + " of " +
                                              std::to_string(samples) +
                                              " samples differ (first: " + firstDifference + ")";
        (report(environment, false, outputs, samples, list.size()) ? passed : failed) += 1;
    }
    if (!only.empty() && passed + failed == 1) {
        std::printf("no environment named '%s'\n", only.c_str());
        ++failed;
    }
    std::printf("fp-environment: %d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}

} // namespace
} // namespace fourwave::platform

int main(int argc, char **argv) {
    std::string pluginPath, environment;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--plugin")
            pluginPath = argv[i + 1];
        else if (option == "--environment")
            environment = argv[i + 1];
    }
    if (pluginPath.empty()) {
        std::fprintf(stderr, "usage: %s --plugin FILE [--environment NAME]\n", argv[0]);
        return 2;
    }
#ifdef _WIN32
    SetUnhandledExceptionFilter(fourwave::platform::reportTrap);
#else
    std::signal(SIGFPE, fourwave::platform::reportTrap);
#endif
    return fourwave::platform::run(pluginPath, environment);
}
