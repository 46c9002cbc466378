// The stand-in host's heap counters for its copy inside the plug-in, without the allocator
// replacements of host/heap_count.cpp: a plug-in must never replace its host's allocator. A
// test host that loads the plug-in counts the plug-in's heap calls with its own replacements.
#include "host/heap_count.h"
#include "host/host.h"

namespace fourwave::host {

FOURWAVE_HEAP_TLS thread_local int64_t heapCallsInAudio = 0;
FOURWAVE_HEAP_TLS thread_local bool heapCountingAudio = false;

int64_t audioCallHeapCalls() { return heapCallsInAudio; }

} // namespace fourwave::host
