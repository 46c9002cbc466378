/*
 * A plug-in entry built the way the deliverables must not be: with SSE, and assuming that the
 * caller's stack is 16-byte aligned (-mincoming-stack-boundary=4 instead of the deliverables'
 * =2), so that a 16-byte SSE value on its stack is stored with an aligned move (movaps). Called
 * with a stack 4 bytes off a 16-byte boundary it faults; called aligned it returns. The stack
 * host uses it to show that its offsets would catch an entry that is not safe on a 4-byte-
 * aligned stack, and the SSE scan uses it to show that it finds SSE code.
 */
#include <stdint.h>

#include <xmmintrin.h>

#include "sdk/abi.h"

#ifdef _WIN32
#define PROBE_EXPORT __declspec(dllexport)
#else
#define PROBE_EXPORT __attribute__((visibility("default")))
#endif

/* Keeps the value in memory: its address escapes into an asm statement the compiler cannot see
 * through. */
static void keepInMemory(__m128 *value) { __asm__ volatile("" : : "r"(value) : "memory"); }

PROBE_EXPORT BindingRecord *SE_ABI makeModule(int32_t index, int32_t objectKind,
                                               HostCallback hostCallback, void *hostData) {
    (void)hostCallback;
    (void)hostData;
    __m128 value = _mm_set_ps((float)index, (float)objectKind, 1.0f, 2.0f);
    keepInMemory(&value);
    value = _mm_add_ps(value, value);
    keepInMemory(&value);
    return (BindingRecord *)0;
}

PROBE_EXPORT int32_t SE_ABI getModuleProperties(int32_t index, ModuleProperties *properties) {
    (void)index;
    (void)properties;
    return 0;
}
