// A host that calls the plug-in with its stack 0, 4, 8 or 12 bytes off a 16-byte boundary, as
// hosts built by other compilers do (the 32-bit Windows ABI promises 4-byte alignment only).
// Every entry — getModuleProperties, makeModule, and each instance's dispatcher, eventHandler
// and process — is reached through the assembly thunk of stack_thunk.S: the stand-in host is
// handed a binding record of our own whose entries forward through the thunk to the
// instance's. The same scripted sessions of all ten routines run at every offset and must give
// bit-identical outputs. The host callback, which the instance calls on whatever stack it has,
// realigns before it reaches the stand-in host.
//
//   fourwave_stack_host --plugin FILE      sessions of the ten routines at the four offsets
//   fourwave_stack_host --probe FILE --offset N
//                                          calls FILE's makeModule at offset N once; says
//                                          "returned", or "FAULT" when the call traps
// The last line is the verdict ("stack: N passed, M failed"); the exit status is 0 only when
// all passed.
#include <stdint.h>

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
#include <dlfcn.h>
#include <unistd.h>
#endif

#include "host/host.h"
#include "sdk/abi.h"
#include "testkit/entry_proxy.h"
#include "testkit/scripted_session.h"

extern "C" uint32_t fourwaveCallAtStackOffset(const void *function, const uint32_t *arguments,
                                              int32_t count, int32_t offset);
extern "C" uint32_t fourwaveStackAtCall(void);

namespace fourwave::platform {
namespace {

constexpr int32_t kOffsets[] = {0, 4, 8, 12};
constexpr int kSessionsPerRoutine = 2;

int32_t stackOffset = 0;

template <typename T>
uint32_t word(T value) {
    static_assert(sizeof(T) == 4, "one stack word");
    uint32_t bits;
    std::memcpy(&bits, &value, 4);
    return bits;
}

template <size_t N>
uint32_t callShifted(const void *function, const uint32_t (&arguments)[N]) {
    return fourwaveCallAtStackOffset(function, arguments, static_cast<int32_t>(N), stackOffset);
}

// Every call into the plug-in through the thunk, with the stack at the offset under test.
struct ShiftedCalls {
    template <class R, class F, class... A>
    static R call(const char *, F function, A... arguments) {
        const uint32_t words[] = {word(arguments)...};
        [[maybe_unused]] const uint32_t result =
            callShifted(reinterpret_cast<const void *>(function), words);
        if constexpr (std::is_pointer_v<R>)
            return reinterpret_cast<R>(result);
        else if constexpr (!std::is_void_v<R>)
            return static_cast<R>(result);
    }

    // The stand-in host is compiled for an aligned stack; the instance may call it on any.
    __attribute__((force_align_arg_pointer)) static intptr_t SE_ABI hostCallback(
        void *record, int32_t opcode, int32_t index, int32_t value, void *pointer, float opt) {
        return test::EntryProxy<ShiftedCalls>::standInCallback(record, opcode, index, value,
                                                               pointer, opt);
    }
};

host::PluginEntries shiftedEntries;

// The thunk itself: the callee sees the stack at the offset asked for.
bool thunkHonoursOffset(int32_t offset) {
    const uint32_t esp = fourwaveCallAtStackOffset(
        reinterpret_cast<const void *>(fourwaveStackAtCall), nullptr, 0, offset);
    return esp % 16 == static_cast<uint32_t>(offset);
}

std::string identity() {
    ModuleProperties properties = {};
    if (shiftedEntries.getModuleProperties(0, &properties) == 0 || properties.name == nullptr)
        return "";
    return std::string(properties.name) + " / " + std::to_string(properties.interfaceRevision);
}

int runSessions(const std::string &path) {
    std::string error;
    auto library = host::PluginLibrary::load(path, &error);
    if (library == nullptr) {
        std::printf("cannot load %s: %s\nstack: 0 passed, 1 failed\n", path.c_str(), error.c_str());
        return 1;
    }
    shiftedEntries = test::EntryProxy<ShiftedCalls>::wrap(library->entries());
    int passed = 0, failed = 0;
    std::vector<SessionResult> reference;
    std::string referenceIdentity;
    for (int32_t offset : kOffsets) {
        stackOffset = offset;
        if (!thunkHonoursOffset(offset)) {
            std::printf("offset %d: the thunk does not place the stack there\n", offset);
            ++failed;
            continue;
        }
        const std::string name = identity();
        if (offset == 0) referenceIdentity = name;
        if (name.empty() || name != referenceIdentity) {
            std::printf("offset %d: getModuleProperties answered '%s'\n", offset, name.c_str());
            ++failed;
        }
        int64_t samples = 0;
        for (int routine = 0; routine < kRoutineCount; ++routine) {
            for (int s = 0; s < kSessionsPerRoutine; ++s) {
                const size_t slot = static_cast<size_t>(routine * kSessionsPerRoutine + s);
                SessionResult result =
                    runSession(shiftedEntries, routine, static_cast<uint32_t>(100 + slot));
                samples += static_cast<int64_t>(result.outputs.size());
                std::string difference;
                if (offset == 0) {
                    difference = result.failure.empty() ? "" : "failed: " + result.failure;
                    reference.push_back(std::move(result));
                } else {
                    difference = compareResults(reference[slot], result);
                }
                if (difference.empty()) {
                    ++passed;
                } else {
                    ++failed;
                    std::printf("offset %d, %s session %d: %s\n", offset, routineLabel(routine), s,
                                difference.c_str());
                }
            }
        }
        std::printf("offset %2d: %s, %d sessions of the ten routines, %lld output samples%s\n",
                    offset, name.c_str(), kRoutineCount * kSessionsPerRoutine,
                    static_cast<long long>(samples),
                    offset == 0 ? " (the reference)" : ", compared bit for bit");
    }
    std::printf("stack: %d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}

#ifdef _WIN32
LONG WINAPI reportFault(EXCEPTION_POINTERS *info) {
    std::printf("FAULT 0x%08lX at stack offset %d\n",
                static_cast<unsigned long>(info->ExceptionRecord->ExceptionCode), stackOffset);
    std::fflush(stdout);
    ExitProcess(3);
}
#else
void reportFault(int signal) {
    char line[64];
    const int length = std::snprintf(line, sizeof line, "FAULT signal %d at stack offset %d\n",
                                     signal, stackOffset);
    if (write(1, line, static_cast<size_t>(length)) < 0) _exit(4);
    _exit(3);
}
#endif

int runProbe(const std::string &path, int32_t offset) {
#ifdef _WIN32
    SetUnhandledExceptionFilter(reportFault);
    HMODULE library = LoadLibraryA(path.c_str());
    void *makeModule =
        library ? reinterpret_cast<void *>(GetProcAddress(library, "makeModule")) : nullptr;
#else
    std::signal(SIGSEGV, reportFault);
    std::signal(SIGBUS, reportFault);
    void *library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    void *makeModule = library ? dlsym(library, "makeModule") : nullptr;
#endif
    if (makeModule == nullptr) {
        std::printf("cannot load makeModule from %s\n", path.c_str());
        return 1;
    }
    stackOffset = offset;
    std::fflush(stdout);
    callShifted(makeModule, {word(int32_t{0}), word(int32_t{1}), word(nullptr), word(nullptr)});
    std::printf("returned at stack offset %d\n", offset);
    return 0;
}

} // namespace
} // namespace fourwave::platform

int main(int argc, char **argv) {
    std::string pluginPath, probePath;
    int32_t offset = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--plugin")
            pluginPath = argv[i + 1];
        else if (option == "--probe")
            probePath = argv[i + 1];
        else if (option == "--offset")
            offset = std::atoi(argv[i + 1]);
    }
    if (!probePath.empty()) return fourwave::platform::runProbe(probePath, offset);
    if (!pluginPath.empty()) return fourwave::platform::runSessions(pluginPath);
    std::fprintf(stderr, "usage: %s --plugin FILE | --probe FILE --offset N\n", argv[0]);
    return 2;
}
