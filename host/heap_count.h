// The stand-in host's private view of the heap counters kept by heap_count.cpp.
#pragma once

#include <stdint.h>

#if defined(__linux__)
// Initial-exec: reaching the counters from inside malloc must never itself allocate.
#define FOURWAVE_HEAP_TLS __attribute__((tls_model("initial-exec")))
#else
#define FOURWAVE_HEAP_TLS
#endif

namespace fourwave::host {

// Heap calls counted while heapCountingAudio is set, on this thread.
extern FOURWAVE_HEAP_TLS thread_local int64_t heapCallsInAudio;
// Set inside a process call or an event delivery, cleared while the host answers a callback.
extern FOURWAVE_HEAP_TLS thread_local bool heapCountingAudio;

} // namespace fourwave::host
