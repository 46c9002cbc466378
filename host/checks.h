// The stand-in host's block checks, apart from its platform-neutral core (host.cpp): the scopes
// that mark an audio call for the heap counters (heap_count.cpp), and the marker, guard-zone
// and input checks around a process call (Host::prepareChecks and Host::verifyChecks, in
// checks.cpp). Private to host/.
#pragma once

#include <stdint.h>

namespace fourwave::host {

// Marks the calling thread as inside an audio call (a process call or an event delivery) for
// the scope's lifetime; the heap calls made meanwhile are counted.
class AudioCallScope {
public:
    AudioCallScope();
    ~AudioCallScope();
    AudioCallScope(const AudioCallScope &) = delete;
    AudioCallScope &operator=(const AudioCallScope &) = delete;
    // Heap calls counted since the scope began.
    int64_t heapCalls() const;

private:
    bool previous_;
    bool previousCounting_;
    int64_t heapCallsBefore_;
};

// The host's own answers to callbacks are not the instance's work: not counted.
class HostAnswerScope {
public:
    HostAnswerScope();
    ~HostAnswerScope();
    HostAnswerScope(const HostAnswerScope &) = delete;
    HostAnswerScope &operator=(const HostAnswerScope &) = delete;

private:
    bool previous_;
};

// Guard zones of input buffers hold a pattern of their own, distinct from the output marker.
constexpr float kInputGuardValue = -12345.678f;

} // namespace fourwave::host
