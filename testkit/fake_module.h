// A deliberately broken module for the detector self-tests: the real oscillator with one fault
// switched on per flag, so that each check of the stand-in host, the soak and the fuzz target
// can be shown to fire. A check that never fails proves nothing.
#pragma once

#include <stdint.h>

#include <memory>
#include <string>

#include "host/host.h"

namespace fourwave::reliability {

enum FakeFault : uint32_t {
    FAULT_ALLOCATES = 1u << 0,           // a heap allocation in every process call and event
    FAULT_LEAKS = 1u << 1,               // a block per instance that nothing frees
    FAULT_OVERRUNS_ODD = 1u << 2,        // one sample past the block when the count is odd
    FAULT_LEAVES_UNWRITTEN = 1u << 3,    // the block's first Ramp Out sample left as it was
    FAULT_WRITES_INPUT = 1u << 4,        // the block's first Pitch sample changed
    FAULT_STICKY_NAN = 1u << 5,          // after a non-finite input, NaN on Saw Out for good
    FAULT_HANGS = 1u << 6,               // a process call with a count of 7 never returns
    FAULT_READS_UNINITIALISED = 1u << 7, // a branch on a member nothing ever set
};

// The faults that instances made from now on get ("alloc,leak,overrun,unwritten,input,nan,
// hang,uninit" or "none"); false for an unknown name.
bool setFakeFaults(const std::string &names);
void setFakeFaults(uint32_t faults);
uint32_t fakeFaults();

// The two exports of the broken module (the real oscillator inside).
host::PluginEntries fakeEntries();

// An instance of the broken module with `faults`, created, opened with a steady tone and sent
// Active's plug-state event; instances made afterwards are healthy again.
std::unique_ptr<host::Host> openBroken(uint32_t faults);

// The blocks lost by FAULT_LEAKS are kept where a leak checker cannot see them; this frees
// them, so that a test that proved the leak is found can leave a clean heap behind.
void releaseLeakedBlocks();

} // namespace fourwave::reliability
