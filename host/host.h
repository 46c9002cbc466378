// A stand-in for the host application: loads a plug-in library through its two exports (or
// takes them from a directly linked module), creates an instance, binds every plug the way the
// host does (writing buffer addresses and choice numbers into the variables the descriptions
// name), answers the host-callback opcodes, and drives sample rate, block size, open,
// plug-state events, process calls and close.
//
// Every process call is checked, unless the options turn it off (benchmarks): the samples the
// instance was asked for are pre-filled with a marker NaN and must all be written; nothing
// outside them, guard zones around every buffer included, may change; no input may change; and
// the instance may not allocate or free heap memory, neither in a process call nor in an event
// delivery (the host's own answers to its callbacks do not count).
//
// The heap check works because this library replaces the program's allocation functions: every
// program that links it counts its heap calls (operator new and delete everywhere; malloc,
// calloc, realloc and free as well on glibc; under AddressSanitizer through its allocator
// hooks instead of a replacement). The counts are cheap and change no allocation.
//
// Shared by the tests, the `fourwave` command-line host and the benchmarks.
#pragma once

#include <stdint.h>

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sdk/abi.h"

namespace fourwave::host {

struct PluginEntries {
    GetModulePropertiesFunction getModuleProperties = nullptr;
    MakeModuleFunction makeModule = nullptr;
};

// A plug-in library loaded by path (dlopen, or LoadLibrary on Windows), unloaded on destruction.
class PluginLibrary {
public:
    // Null on failure, with the reason in `error`: the file does not load or lacks an export.
    static std::unique_ptr<PluginLibrary> load(const std::string &path, std::string *error);
    ~PluginLibrary();
    PluginLibrary(const PluginLibrary &) = delete;
    PluginLibrary &operator=(const PluginLibrary &) = delete;

    const PluginEntries &entries() const { return entries_; }
    const std::string &path() const { return path_; }

private:
    PluginLibrary(void *handle, PluginEntries entries, std::string path)
        : handle_(handle), entries_(entries), path_(std::move(path)) {}
    void *handle_;
    PluginEntries entries_;
    std::string path_;
};

// One host callback as the instance made it.
struct HostCall {
    int32_t opcode;
    int32_t index;
    int32_t value;
    intptr_t pointer;
    float opt;
};

struct HostOptions {
    intptr_t pinCount = 20;      // the answer to opcode 14
    int32_t bufferFrames = 4096; // samples per plug buffer
    bool checkBlocks = true;     // marker, guard-zone, input and heap checks on every call
    bool logCalls = true;        // keep HostCall records (per-sample clock queries excepted)
    intptr_t sleepAnswer = 0;    // the answer to a sleep request (opcode 10)
    bool nullCallback = false;   // create the instance without a host callback
};

// True on the calling thread while the host is inside a process call or an event delivery:
// the window in which an instance must not allocate.
bool inAudioCall();

// Heap calls (allocations and frees) made by the calling thread inside audio calls, outside
// the host's own callback answers, since the program started.
int64_t audioCallHeapCalls();
// Heap blocks allocated and not yet freed, by any thread, since the program started.
int64_t liveHeapBlocks();
// Bytes of heap in use as the allocator reports them (0 where it reports nothing).
int64_t heapBytesInUse();
// Which allocation functions the counts see, in words, for reports.
const char *heapCountingScope();

class Host {
public:
    static constexpr int32_t kGuardFrames = 16;
    static constexpr uint32_t kUnwrittenMarkerBits = 0x7FC5F00Du; // a quiet NaN of our own
    static constexpr size_t kLogCapacity = 1 << 16;
    static constexpr int kMaxPins = 4096;

    explicit Host(PluginEntries entries, HostOptions options = {});
    ~Host(); // closes the instance if it is still there
    Host(const Host &) = delete;
    Host &operator=(const Host &) = delete;

    // --- lifecycle --------------------------------------------------------------------------
    // makeModule, then the plug descriptions and the binding of every plug. False when the
    // library refuses to create an instance.
    bool create(int32_t index = 0, int32_t objectKind = SE_OBJECT_KIND_MODULE);
    intptr_t dispatch(int32_t opcode, int32_t index = 0, int32_t value = 0, void *pointer = nullptr,
                      float opt = 0.0f);
    void setSampleRate(float rate) { dispatch(MODULE_OP_SET_SAMPLE_RATE, 0, 0, nullptr, rate); }
    void setBlockSize(int32_t size) { dispatch(MODULE_OP_SET_BLOCK_SIZE, 0, size); }
    void open() { dispatch(MODULE_OP_OPEN); }
    intptr_t close(); // opcode 1; the instance is gone afterwards
    bool created() const { return record_ != nullptr; }
    BindingRecord *record() const { return record_; }

    // --- plugs ------------------------------------------------------------------------------
    const std::vector<PlugDescription> &descriptions() const { return descriptions_; }
    // The host's buffer of an audio plug (bufferFrames samples), or null.
    float *buffer(int32_t plug);
    void fill(int32_t plug, float value);         // a constant on an audio plug
    void setChoice(int32_t plug, int16_t choice); // a setting's choice number
    // Plug-state event for `pin`, applying at sample `offset` of the current buffer: during the
    // delivery the clock answers point there, so the instance reads its inputs at that sample.
    void sendPlugState(int32_t pin, int32_t state, int32_t offset = 0);
    void deliverEvent(HostEvent event, int32_t offset = 0);
    void deliverQueuedEvents(); // the events the instance queued with opcode 19

    // --- processing -------------------------------------------------------------------------
    // One process call on the current buffers, checked. The clock does not move.
    int32_t process(int32_t offset, int32_t count);
    // process(0, count), then the buffers move on by `count` samples of the clock.
    int32_t run(int32_t count);
    void advanceClock(int32_t frames) { bufferStartClock_ += frames; }
    int32_t clock() const { return bufferStartClock_; }

    // --- what the host saw ------------------------------------------------------------------
    const std::vector<HostCall> &log() const { return log_; }
    void clearLog() { log_.clear(); }
    int64_t callCount(int32_t opcode) const;
    int64_t sleepRequests() const { return callCount(HOST_OP_REQUEST_SLEEP); }
    int64_t routineChanges() const { return callCount(HOST_OP_PROCESS_ROUTINE_CHANGED); }
    int32_t outputState(int32_t pin) const;
    // Block-check failures so far, one line each; empty while everything holds.
    const std::vector<std::string> &violations() const { return violations_; }
    void clearViolations() { violations_.clear(); }
    const std::vector<HostEvent> &queuedEvents() const { return queued_; }

    // Lets a test answer a host call itself: return true and set the answer to override.
    std::function<bool(const HostCall &, intptr_t &answer)> answerOverride;

    HostOptions &options() { return options_; }

private:
    struct Buffer {
        std::vector<float> storage;  // guard, frames, guard
        std::vector<float> snapshot; // the storage before the call
        bool isOutput = false;
        float *data() { return storage.data() + kGuardFrames; }
    };

    static intptr_t SE_ABI callback(void *record, int32_t opcode, int32_t index, int32_t value,
                                    void *pointer, float opt);
    intptr_t answer(int32_t opcode, int32_t index, int32_t value, void *pointer, float opt);
    void bindPlugs();
    Buffer makeBuffer(bool isOutput) const;
    void prepareChecks(int32_t offset, int32_t count);
    // Also reports the heap calls the instance made during the call (counted by the caller).
    void verifyChecks(int32_t offset, int32_t count, int64_t heapCalls);

    PluginEntries entries_;
    HostOptions options_;
    BindingRecord *record_ = nullptr;
    std::vector<PlugDescription> descriptions_;
    std::vector<Buffer> buffers_;                     // by plug number; empty for settings
    std::vector<std::unique_ptr<Buffer>> pinBuffers_; // opcode 7 answers, by pin number
    std::array<int32_t, kMaxPins> outputStates_{};
    std::array<int64_t, 32> callCounts_{};
    int64_t otherCallCount_ = 0;
    std::vector<HostCall> log_;
    std::vector<HostEvent> queued_;
    std::vector<std::string> violations_;
    int32_t bufferStartClock_ = 0;
    int32_t currentOffset_ = 0;
    bool inProcess_ = false;
};

} // namespace fourwave::host
