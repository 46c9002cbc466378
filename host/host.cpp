// The stand-in host: callback answers, plug binding, checked process calls.
#include "host.h"
#include "heap_count.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace fourwave::host {

namespace {

thread_local bool audioCallUnderWay = false;

// Marks the calling thread as inside an audio call for the scope's lifetime; its heap calls
// are counted meanwhile (heap_count.cpp).
class AudioCallScope {
public:
    AudioCallScope() : previous_(audioCallUnderWay), previousCounting_(heapCountingAudio) {
        audioCallUnderWay = true;
        heapCountingAudio = true;
    }
    ~AudioCallScope() {
        audioCallUnderWay = previous_;
        heapCountingAudio = previousCounting_;
    }

private:
    bool previous_;
    bool previousCounting_;
};

// The host's own answers to callbacks are not the instance's work: not counted.
class HostAnswerScope {
public:
    HostAnswerScope() : previous_(heapCountingAudio) { heapCountingAudio = false; }
    ~HostAnswerScope() { heapCountingAudio = previous_; }

private:
    bool previous_;
};

constexpr size_t kEventQueueCapacity = 256;

uint32_t bitsOf(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

float markerValue() {
    float value;
    const uint32_t bits = Host::kUnwrittenMarkerBits;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// Guard zones of input buffers hold a pattern of their own, distinct from the output marker.
constexpr float kInputGuardValue = -12345.678f;

} // namespace

bool inAudioCall() { return audioCallUnderWay; }

// ---------------------------------------------------------------------------------------------
// PluginLibrary

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
        return fail("'" + path + "' is not a plug-in: it lacks the export " +
                    (entries.getModuleProperties == nullptr ? "getModuleProperties"
                                                            : "makeModule"));
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

// ---------------------------------------------------------------------------------------------
// Host

Host::Host(PluginEntries entries, HostOptions options) : entries_(entries), options_(options) {
    if (options_.logCalls) log_.reserve(kLogCapacity);
    queued_.reserve(kEventQueueCapacity);
}

Host::~Host() {
    if (record_ != nullptr) close();
}

bool Host::create(int32_t index, int32_t objectKind) {
    if (entries_.makeModule == nullptr) return false;
    record_ = entries_.makeModule(index, objectKind, options_.nullCallback ? nullptr : callback,
                                  this);
    if (record_ == nullptr) return false;
    bindPlugs();
    return true;
}

intptr_t Host::dispatch(int32_t opcode, int32_t index, int32_t value, void *pointer, float opt) {
    if (record_ == nullptr) return 0;
    return record_->dispatcher(record_, opcode, index, value, pointer, opt);
}

intptr_t Host::close() {
    const intptr_t result = dispatch(MODULE_OP_CLOSE);
    record_ = nullptr;
    return result;
}

Host::Buffer Host::makeBuffer(bool isOutput) const {
    Buffer buffer;
    const size_t size = static_cast<size_t>(options_.bufferFrames) + 2 * kGuardFrames;
    buffer.storage.assign(size, isOutput ? 0.0f : kInputGuardValue);
    std::fill(buffer.storage.begin() + kGuardFrames, buffer.storage.end() - kGuardFrames, 0.0f);
    buffer.snapshot.assign(size, 0.0f);
    buffer.isOutput = isOutput;
    return buffer;
}

void Host::bindPlugs() {
    descriptions_.clear();
    buffers_.clear();
    for (int32_t plug = 0;; ++plug) {
        PlugDescription description = {};
        if (dispatch(MODULE_OP_DESCRIBE_PLUG, plug, 0, &description) == 0) break;
        descriptions_.push_back(description);
        buffers_.emplace_back();
        if (description.variable == nullptr) continue;
        if (description.datatype == DT_AUDIO) {
            buffers_.back() = makeBuffer(description.direction == 1);
            Buffer &buffer = buffers_.back();
            *static_cast<float **>(description.variable) = buffer.data();
            // An unconnected input holds its default, given in volts.
            if (description.direction != 1 && description.defaultText != nullptr)
                fill(plug, static_cast<float>(std::atof(description.defaultText)) / 10.0f);
        } else if (description.datatype == DT_ENUM) {
            const int choice = description.defaultText != nullptr ? std::atoi(description.defaultText) : 0;
            *static_cast<int16_t *>(description.variable) = static_cast<int16_t>(choice);
        }
    }
}

float *Host::buffer(int32_t plug) {
    if (plug < 0 || plug >= static_cast<int32_t>(buffers_.size())) return nullptr;
    Buffer &buffer = buffers_[static_cast<size_t>(plug)];
    return buffer.storage.empty() ? nullptr : buffer.data();
}

void Host::fill(int32_t plug, float value) {
    float *data = buffer(plug);
    if (data == nullptr) return;
    std::fill(data, data + options_.bufferFrames, value);
}

void Host::setChoice(int32_t plug, int16_t choice) {
    if (plug < 0 || plug >= static_cast<int32_t>(descriptions_.size())) return;
    const PlugDescription &description = descriptions_[static_cast<size_t>(plug)];
    if (description.variable != nullptr && description.datatype == DT_ENUM)
        *static_cast<int16_t *>(description.variable) = choice;
}

void Host::sendPlugState(int32_t pin, int32_t state, int32_t offset) {
    HostEvent event = {};
    event.timeStamp = bufferStartClock_ + offset;
    event.type = EVENT_PLUG_STATE;
    event.intValue = state;
    event.pointer = reinterpret_cast<void *>(static_cast<intptr_t>(pin));
    deliverEvent(event, offset);
}

void Host::deliverEvent(HostEvent event, int32_t offset) {
    if (record_ == nullptr) return;
    currentOffset_ = offset;
    const int64_t heapCallsBefore = audioCallHeapCalls();
    {
        AudioCallScope scope;
        record_->eventHandler(record_->object, &event);
    }
    currentOffset_ = 0;
    const int64_t heapCalls = audioCallHeapCalls() - heapCallsBefore;
    if (options_.checkBlocks && heapCalls > 0)
        violations_.push_back("event of type " + std::to_string(event.type) + ": " +
                              std::to_string(heapCalls) + " heap calls during the delivery");
}

void Host::deliverQueuedEvents() {
    std::vector<HostEvent> events;
    events.swap(queued_);
    queued_.reserve(kEventQueueCapacity);
    for (const HostEvent &event : events) deliverEvent(event);
}

int32_t Host::process(int32_t offset, int32_t count) {
    if (record_ == nullptr) return 0;
    if (options_.checkBlocks) prepareChecks(offset, count);
    currentOffset_ = offset;
    inProcess_ = true;
    const int64_t heapCallsBefore = audioCallHeapCalls();
    int32_t result;
    {
        AudioCallScope scope;
        result = record_->process(record_->object, offset, count);
    }
    const int64_t heapCalls = audioCallHeapCalls() - heapCallsBefore;
    inProcess_ = false;
    currentOffset_ = 0;
    if (options_.checkBlocks) {
        verifyChecks(offset, count);
        if (heapCalls > 0)
            violations_.push_back("block at " + std::to_string(offset) + "+" +
                                  std::to_string(count) + ": " + std::to_string(heapCalls) +
                                  " heap calls during the process call");
    }
    return result;
}

int32_t Host::run(int32_t count) {
    const int32_t result = process(0, count);
    advanceClock(count);
    return result;
}

void Host::prepareChecks(int32_t offset, int32_t count) {
    const float marker = markerValue();
    for (Buffer &buffer : buffers_) {
        if (buffer.storage.empty()) continue;
        buffer.snapshot = buffer.storage;
        if (!buffer.isOutput) continue;
        for (int32_t i = offset; i < offset + count && i < options_.bufferFrames; ++i)
            if (i >= 0) buffer.data()[i] = marker;
    }
}

void Host::verifyChecks(int32_t offset, int32_t count) {
    const int32_t begin = offset + kGuardFrames;
    const int32_t end = begin + (count > 0 ? count : 0);
    for (size_t plug = 0; plug < buffers_.size(); ++plug) {
        Buffer &buffer = buffers_[plug];
        if (buffer.storage.empty()) continue;
        const std::string where = "plug " + std::to_string(plug) + ", block at " +
                                  std::to_string(offset) + "+" + std::to_string(count);
        int32_t unwritten = 0, changedOutside = 0, changedInput = 0;
        for (int32_t j = 0; j < static_cast<int32_t>(buffer.storage.size()); ++j) {
            const uint32_t now = bitsOf(buffer.storage[static_cast<size_t>(j)]);
            const uint32_t before = bitsOf(buffer.snapshot[static_cast<size_t>(j)]);
            if (!buffer.isOutput) {
                if (now != before) ++changedInput;
            } else if (j >= begin && j < end) {
                if (now == kUnwrittenMarkerBits) ++unwritten;
            } else if (now != before) {
                ++changedOutside;
            }
        }
        if (unwritten > 0)
            violations_.push_back(where + ": " + std::to_string(unwritten) + " samples unwritten");
        if (changedOutside > 0)
            violations_.push_back(where + ": " + std::to_string(changedOutside) +
                                  " samples written outside the block");
        if (changedInput > 0)
            violations_.push_back(where + ": " + std::to_string(changedInput) +
                                  " input samples changed");
    }
}

int64_t Host::callCount(int32_t opcode) const {
    if (opcode < 0 || opcode >= static_cast<int32_t>(callCounts_.size())) return otherCallCount_;
    return callCounts_[static_cast<size_t>(opcode)];
}

int32_t Host::outputState(int32_t pin) const {
    if (pin < 0 || pin >= kMaxPins) return -1;
    return outputStates_[static_cast<size_t>(pin)];
}

intptr_t SE_ABI Host::callback(void *record, int32_t opcode, int32_t index, int32_t value,
                               void *pointer, float opt) {
    Host *host = static_cast<Host *>(static_cast<BindingRecord *>(record)->hostData);
    HostAnswerScope scope;
    return host->answer(opcode, index, value, pointer, opt);
}

intptr_t Host::answer(int32_t opcode, int32_t index, int32_t value, void *pointer, float opt) {
    if (opcode >= 0 && opcode < static_cast<int32_t>(callCounts_.size()))
        ++callCounts_[static_cast<size_t>(opcode)];
    else
        ++otherCallCount_;

    const HostCall call = {opcode, index, value, reinterpret_cast<intptr_t>(pointer), opt};
    // The per-sample Active test's clock queries stay out of the log.
    const bool perSampleQuery = inProcess_ && (opcode == HOST_OP_GET_SAMPLE_CLOCK ||
                                               opcode == HOST_OP_GET_BUFFER_START_CLOCK);
    if (options_.logCalls && !perSampleQuery && log_.size() < kLogCapacity) log_.push_back(call);

    intptr_t result = 0;
    if (answerOverride && answerOverride(call, result)) return result;

    switch (opcode) {
    case HOST_OP_SEND_STATE:
        if (index >= 0 && index < kMaxPins) outputStates_[static_cast<size_t>(index)] = value;
        return 0;
    case HOST_OP_GET_SAMPLE_CLOCK:
        return bufferStartClock_ + currentOffset_;
    case HOST_OP_GET_BUFFER_START_CLOCK:
        return bufferStartClock_;
    case HOST_OP_GET_BUFFER_ADDRESS: {
        if (index < 0 || index >= kMaxPins) return 0;
        if (pinBuffers_.size() <= static_cast<size_t>(index))
            pinBuffers_.resize(static_cast<size_t>(index) + 1);
        auto &slot = pinBuffers_[static_cast<size_t>(index)];
        if (!slot) slot = std::make_unique<Buffer>(makeBuffer(false));
        return reinterpret_cast<intptr_t>(slot->data());
    }
    case HOST_OP_REQUEST_SLEEP:
        return options_.sleepAnswer;
    case HOST_OP_GET_PIN_COUNT:
        return options_.pinCount;
    case HOST_OP_ADD_EVENT:
        if (pointer != nullptr && queued_.size() < kEventQueueCapacity)
            queued_.push_back(*static_cast<const HostEvent *>(pointer));
        return 0;
    default:
        return 0;
    }
}

} // namespace fourwave::host
