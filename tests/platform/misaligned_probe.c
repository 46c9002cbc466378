/*
 * A plug-in entry built the way the deliverables must not be: with SSE, and assuming that the
 * caller's stack is 16-byte aligned (-mincoming-stack-boundary=4 instead of the deliverables'
 * =2), so that a 16-byte block on its stack is written with an aligned store (movaps). Called
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

/* Keeps the block in memory: its address escapes into an asm statement the compiler cannot see
 * through. */
static void keepInMemory(float *block) { __asm__ volatile("" : : "r"(block) : "memory"); }

PROBE_EXPORT BindingRecord *SE_ABI makeModule(int32_t index, int32_t objectKind,
                                              HostCallback hostCallback, void *hostData) {
    (void)hostCallback;
    (void)hostData;
    /* 16-byte aligned as far as the compiler knows (it trusts the caller's alignment, so it does
     * not realign), and written with movaps, which faults on an address that is not. The store
     * is spelled out: left to itself, the compiler may pick movups, which never faults. */
    __m128 block[1];
    __m128 value = _mm_set_ps((float)index, (float)objectKind, 1.0f, 2.0f);
    value = _mm_add_ps(value, value);
    __asm__ volatile("movaps %1, %0" : "=m"(block[0]) : "x"(value));
    keepInMemory((float *)block);
    return (BindingRecord *)0;
}

PROBE_EXPORT int32_t SE_ABI getModuleProperties(int32_t index, ModuleProperties *properties) {
    (void)index;
    (void)properties;
    return 0;
}
