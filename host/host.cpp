// The stand-in host's platform-neutral core: plug binding, the callback answers, event
// delivery and process calls (the loop that runs blocks around them is driver.cpp). Loading a
// library by path (library.cpp) and the block checks (checks.cpp, heap_count.cpp) stand apart,
// so that a host which links the module directly (the WebAssembly build) shares this part
// unchanged.
#include "host.h"
#include "checks.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "sdk/host_scale.h"

namespace fourwave::host {

namespace {

constexpr size_t kEventQueueCapacity = 256;

} // namespace

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
    record_ =
        entries_.makeModule(index, objectKind, options_.nullCallback ? nullptr : callback, this);
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
            buffers_.back() = makeBuffer(description.direction == PLUG_DIRECTION_OUTPUT);
            Buffer &buffer = buffers_.back();
            *static_cast<float **>(description.variable) = buffer.data();
            // An unconnected input holds its default, given in volts.
            if (description.direction != PLUG_DIRECTION_OUTPUT &&
                description.defaultText != nullptr)
                fill(plug, static_cast<float>(std::atof(description.defaultText)) / kVoltsPerUnit);
        } else if (description.datatype == DT_ENUM) {
            const int choice =
                description.defaultText != nullptr ? std::atoi(description.defaultText) : 0;
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
    int64_t heapCalls;
    {
        AudioCallScope scope;
        record_->eventHandler(record_->object, &event);
        heapCalls = scope.heapCalls();
    }
    currentOffset_ = 0;
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
    int32_t result;
    int64_t heapCalls;
    {
        AudioCallScope scope;
        result = record_->process(record_->object, offset, count);
        heapCalls = scope.heapCalls();
    }
    inProcess_ = false;
    currentOffset_ = 0;
    if (options_.checkBlocks) verifyChecks(offset, count, heapCalls);
    return result;
}

int32_t Host::run(int32_t count) {
    const int32_t result = process(0, count);
    advanceClock(count);
    return result;
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
    case HOST_OP_GET_SAMPLE_CLOCK: return bufferStartClock_ + currentOffset_;
    case HOST_OP_GET_BUFFER_START_CLOCK: return bufferStartClock_;
    case HOST_OP_GET_BUFFER_ADDRESS: {
        if (index < 0 || index >= kMaxPins) return 0;
        if (pinBuffers_.size() <= static_cast<size_t>(index))
            pinBuffers_.resize(static_cast<size_t>(index) + 1);
        auto &slot = pinBuffers_[static_cast<size_t>(index)];
        if (!slot) slot = std::make_unique<Buffer>(makeBuffer(false));
        return reinterpret_cast<intptr_t>(slot->data());
    }
    case HOST_OP_REQUEST_SLEEP: return options_.sleepAnswer;
    case HOST_OP_GET_PIN_COUNT: return options_.pinCount;
    case HOST_OP_ADD_EVENT:
        if (pointer != nullptr && queued_.size() < kEventQueueCapacity)
            queued_.push_back(*static_cast<const HostEvent *>(pointer));
        return 0;
    default: return 0;
    }
}

} // namespace fourwave::host
