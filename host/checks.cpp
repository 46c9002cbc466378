// The stand-in host's block checks: the audio-call scopes behind the heap check, and the
// marker, guard-zone and input checks around every process call.
#include "host.h"
#include "checks.h"
#include "heap_count.h"

#include <cstring>
#include <string>

namespace fourwave::host {

namespace {

thread_local bool audioCallUnderWay = false;

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

} // namespace

bool inAudioCall() { return audioCallUnderWay; }

AudioCallScope::AudioCallScope()
    : previous_(audioCallUnderWay), previousCounting_(heapCountingAudio),
      heapCallsBefore_(audioCallHeapCalls()) {
    audioCallUnderWay = true;
    heapCountingAudio = true;
}

AudioCallScope::~AudioCallScope() {
    audioCallUnderWay = previous_;
    heapCountingAudio = previousCounting_;
}

int64_t AudioCallScope::heapCalls() const { return audioCallHeapCalls() - heapCallsBefore_; }

HostAnswerScope::HostAnswerScope() : previous_(heapCountingAudio) { heapCountingAudio = false; }
HostAnswerScope::~HostAnswerScope() { heapCountingAudio = previous_; }

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

void Host::verifyChecks(int32_t offset, int32_t count, int64_t heapCalls) {
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
    if (heapCalls > 0)
        violations_.push_back("block at " + std::to_string(offset) + "+" + std::to_string(count) +
                              ": " + std::to_string(heapCalls) +
                              " heap calls during the process call");
}

} // namespace fourwave::host
