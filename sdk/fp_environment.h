// The module's own floating-point environment, set on every entry from the host and the host's
// given back on the way out. Hosts leave the unit in many states: exceptions unmasked (some
// Pascal runtimes: x87 0x1332, MXCSR 0x1900), 24-bit x87 precision (Direct3D), flush-to-zero and
// denormals-are-zero (audio threads), a directed rounding mode. The module's arithmetic is
// defined in one environment only; FloatEnvironmentGuard, declared first in an entry, puts the
// module in it for the entry's extent:
//
//   x87 control word 0x037F: every exception masked, round to nearest, 64-bit precision. A
//     process's default on Linux and in a MinGW-built program; both flavours' outputs are
//     defined in it, since the 32-bit builds' pitch exponential (the maths library's pow) runs
//     on the x87 unit at its working precision, and the x87 flavour's float arithmetic rounds
//     every result it stores to single precision.
//   MXCSR 0x1F80: every exception masked, round to nearest, no flush-to-zero, no
//     denormals-are-zero. Handled only in builds that may execute SSE (__SSE__). The 32-bit x87
//     plug-ins contain no SSE instruction at all (a scan checks each build): the MXCSR cannot
//     touch their arithmetic, they cannot raise a flag in it, and they leave it alone, so they
//     still run on processors without SSE.
//
// On the way out the exception flags the module raised are cleared and the host's control word,
// status flags and MXCSR are back exactly as they were, flags the host had raised included. A
// host callback the module makes inside an entry (the per-sample clock queries, the sleep
// request) runs in the module's environment: switching back and forth around each of them would
// double the cost of the per-sample Active read, and masked exceptions with round-to-nearest
// are the safest place for a host's answer to run.
//
// The work is a few instructions per entry: each register is loaded only when the host's
// differs from the module's, and the flags are cleared only when the module raised one the
// host had not. Compiles to nothing where there is no such unit (WebAssembly, other
// processors), and where FOURWAVE_WITHOUT_FP_GUARD is defined: a test-only build that shows
// what the guard prevents.
#pragma once

#include <stdint.h>

#if !defined(FOURWAVE_WITHOUT_FP_GUARD) && !defined(__EMSCRIPTEN__) && \
    (defined(__i386__) || defined(__x86_64__))
#define FOURWAVE_FP_GUARD_X87 1
#if defined(__SSE__)
#define FOURWAVE_FP_GUARD_MXCSR 1
#endif
#endif

namespace fp_environment {

constexpr uint16_t kModuleX87Control = 0x037F;  // all masked, nearest, 64-bit precision
constexpr uint16_t kX87ExceptionFlags = 0x007F; // IE DE ZE OE UE PE and the stack fault
constexpr uint32_t kModuleMxcsr = 0x1F80;       // all masked, nearest, no FTZ, no DAZ
constexpr uint32_t kMxcsrExceptionFlags = 0x003F;

#if defined(FOURWAVE_FP_GUARD_X87)
// Clears the x87 flags raised since `hostStatus` was read and keeps those the host had.
// Out of line: the common cases (nothing new, or a host with no flag of its own) are inline.
__attribute__((noinline, cold)) inline void restoreX87Flags(uint16_t hostStatus) {
    // The 28-byte environment of FNSTENV (the same layout in 32- and 64-bit mode).
    uint32_t environment[7];
    __asm__ volatile("fnstenv %0" : "=m"(environment));
    // Only the exception flags, error summary and busy bits change; TOP and C0-C3 stay.
    environment[1] = (environment[1] & ~uint32_t{0x80FF}) | (hostStatus & kX87ExceptionFlags);
    __asm__ volatile("fldenv %0" : : "m"(environment) : "memory");
}
#endif

} // namespace fp_environment

class FloatEnvironmentGuard {
public:
#if defined(FOURWAVE_FP_GUARD_X87)
    FloatEnvironmentGuard() {
        __asm__ volatile("fnstcw %0" : "=m"(hostControl_) : : "memory");
        __asm__ volatile("fnstsw %0" : "=m"(hostStatus_) : : "memory");
        if (hostControl_ != fp_environment::kModuleX87Control)
            loadX87Control(fp_environment::kModuleX87Control);
#if defined(FOURWAVE_FP_GUARD_MXCSR)
        __asm__ volatile("stmxcsr %0" : "=m"(hostMxcsr_) : : "memory");
        if ((hostMxcsr_ & ~fp_environment::kMxcsrExceptionFlags) != fp_environment::kModuleMxcsr)
            loadMxcsr(fp_environment::kModuleMxcsr);
#endif
    }

    ~FloatEnvironmentGuard() {
        uint16_t status;
        __asm__ volatile("fnstsw %0" : "=m"(status) : : "memory");
        // Before the host's control word comes back: a flag left raised under an exception the
        // host unmasks would be a pending exception, raised at its next x87 instruction.
        if (status & ~hostStatus_ & fp_environment::kX87ExceptionFlags) {
            if ((hostStatus_ & fp_environment::kX87ExceptionFlags) == 0)
                __asm__ volatile("fnclex" : : : "memory");
            else
                fp_environment::restoreX87Flags(hostStatus_);
        }
        if (hostControl_ != fp_environment::kModuleX87Control) loadX87Control(hostControl_);
#if defined(FOURWAVE_FP_GUARD_MXCSR)
        // The host's MXCSR word as it was, its flags included: the module's flags go with it.
        uint32_t mxcsr;
        __asm__ volatile("stmxcsr %0" : "=m"(mxcsr) : : "memory");
        if (mxcsr != hostMxcsr_) loadMxcsr(hostMxcsr_);
#endif
    }
#else
    // No such unit, or the test-only build without the guard.
    FloatEnvironmentGuard() {}
    ~FloatEnvironmentGuard() {}
#endif

    FloatEnvironmentGuard(const FloatEnvironmentGuard &) = delete;
    FloatEnvironmentGuard &operator=(const FloatEnvironmentGuard &) = delete;

private:
#if defined(FOURWAVE_FP_GUARD_X87)
    // "memory": no load or store of the entry's work may move across a switch.
    static void loadX87Control(uint16_t control) {
        __asm__ volatile("fldcw %0" : : "m"(control) : "memory");
    }
    uint16_t hostControl_;
    uint16_t hostStatus_;
#endif
#if defined(FOURWAVE_FP_GUARD_MXCSR)
    static void loadMxcsr(uint32_t mxcsr) {
        __asm__ volatile("ldmxcsr %0" : : "m"(mxcsr) : "memory");
    }
    uint32_t hostMxcsr_;
#endif
};
