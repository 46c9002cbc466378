// Loading and unloading the plug-in library the way a host does as patches open and close:
// 1,000 times, each time creating, running and closing instances of it. Nothing may crash,
// memory in use may not grow, and nothing of the library may stay behind once it is unloaded
// (Linux: no mapping of the file, no extra file descriptor; Windows: GetModuleHandle finds no
// module of that name, and the process's handle count is back where it was).
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#ifdef _WIN32
#include <windows.h>
#include <psapi.h>
#else
#include <dirent.h>
#include <unistd.h>
#include <fstream>
#endif

#include "host/host.h"
#include "session.h"

namespace fourwave::platform {
namespace {

constexpr int kLoads = 1000;
constexpr int kWarmUpLoads = 20; // the loader's own first-use allocations settle here
// Growth allowed over the 1,000 loads: a leak of one small block per load would already pass
// 16 KiB; 64 KiB leaves room for the loader's caches of the process, not for a leak.
constexpr int64_t kMemoryGrowthLimitBytes = 64 * 1024;
constexpr int64_t kLiveBlockGrowthLimit = 0;

std::string fileName(const std::string &path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

#ifdef _WIN32
int64_t privateBytes() {
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(),
                              reinterpret_cast<PROCESS_MEMORY_COUNTERS *>(&counters),
                              sizeof counters))
        return -1;
    return static_cast<int64_t>(counters.PrivateUsage);
}
int64_t handleCount() {
    DWORD count = 0;
    return GetProcessHandleCount(GetCurrentProcess(), &count) ? static_cast<int64_t>(count) : -1;
}
bool moduleStillLoaded(const std::string &path) {
    return GetModuleHandleA(fileName(path).c_str()) != nullptr;
}
#else
int64_t privateBytes() {
    // Resident set, in pages, from /proc/self/statm (second field).
    std::ifstream statm("/proc/self/statm");
    int64_t size = 0, resident = 0;
    if (!(statm >> size >> resident)) return -1;
    return resident * static_cast<int64_t>(sysconf(_SC_PAGESIZE));
}
int64_t handleCount() {
    DIR *dir = opendir("/proc/self/fd");
    if (dir == nullptr) return -1;
    int64_t count = 0;
    while (readdir(dir) != nullptr) ++count;
    closedir(dir);
    return count;
}
bool moduleStillLoaded(const std::string &path) {
    std::ifstream maps("/proc/self/maps");
    const std::string name = fileName(path);
    for (std::string line; std::getline(maps, line);)
        if (line.find(name) != std::string::npos) return true;
    return false;
}
#endif

struct Snapshot {
    int64_t memoryBytes, handles, liveBlocks;
};
Snapshot snapshot() { return {privateBytes(), handleCount(), host::liveHeapBlocks()}; }

// One load: the library, two instances of routines that change with the load number, run
// through a short session each, closed, and the library unloaded.
void loadRunAndUnload(int load) {
    std::string error;
    auto library = host::PluginLibrary::load(FOURWAVE_PLUGIN_FILE, &error);
    ASSERT_NE(library, nullptr) << "load " << load << ": " << error;
    SessionOptions options;
    options.blocks = 4;
    for (int instance = 0; instance < 2; ++instance) {
        const SessionResult result = runSession(library->entries(), (load + 5 * instance) % 10,
                                                static_cast<uint32_t>(load), options);
        ASSERT_EQ(result.failure, "") << "load " << load;
        ASSERT_FALSE(result.outputs.empty());
    }
}

TEST(Reload, ThousandLoadsLeaveNoMemoryAndNoHandleBehind) {
    const std::string path = FOURWAVE_PLUGIN_FILE;
    for (int load = 0; load < kWarmUpLoads; ++load) {
        loadRunAndUnload(load);
        if (HasFatalFailure()) return;
    }
    ASSERT_FALSE(moduleStillLoaded(path)) << "still loaded after the warm-up";
    const Snapshot before = snapshot();
    ASSERT_GE(before.memoryBytes, 0);
    ASSERT_GE(before.handles, 0);
    for (int load = 0; load < kLoads; ++load) {
        loadRunAndUnload(load);
        if (HasFatalFailure()) return;
    }
    const Snapshot after = snapshot();
    std::printf("reload: %d loads; memory %lld -> %lld bytes (%+lld), handles %lld -> %lld, "
                "live heap blocks %lld -> %lld\n",
                kLoads, static_cast<long long>(before.memoryBytes),
                static_cast<long long>(after.memoryBytes),
                static_cast<long long>(after.memoryBytes - before.memoryBytes),
                static_cast<long long>(before.handles), static_cast<long long>(after.handles),
                static_cast<long long>(before.liveBlocks),
                static_cast<long long>(after.liveBlocks));
    EXPECT_FALSE(moduleStillLoaded(path)) << fileName(path) << " is still loaded";
    EXPECT_EQ(after.handles, before.handles);
    EXPECT_LE(after.liveBlocks - before.liveBlocks, kLiveBlockGrowthLimit);
    EXPECT_LE(after.memoryBytes - before.memoryBytes, kMemoryGrowthLimitBytes);
}

// The checks above can see a library left loaded: while one load is held, they report it.
TEST(Reload, AHeldLibraryIsSeenAsLoaded) {
    const std::string path = FOURWAVE_PLUGIN_FILE;
    const Snapshot before = snapshot();
    std::string error;
    auto held = host::PluginLibrary::load(path, &error);
    ASSERT_NE(held, nullptr) << error;
    EXPECT_TRUE(moduleStillLoaded(path));
    held.reset();
    EXPECT_FALSE(moduleStillLoaded(path));
    EXPECT_EQ(snapshot().handles, before.handles);
}

} // namespace
} // namespace fourwave::platform
