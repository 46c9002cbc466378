// The two yardsticks the routines are measured against, as instances the stand-in host
// creates, binds and calls exactly as it does the oscillator:
//
//   floor: what the per-sample contract makes unavoidable and nothing else: the Active test
//          through the pin (SEPin::getValue, two host calls) and four output writes, with a
//          trivial phase accumulator as the value written;
//   naive: the floor plus the four ideal waveforms (ramp, saw, pulse, triangle) computed the
//          way a simple oscillator computes them, levels read once per block;
//   direct: the contract floor: the floor with the Active test's two host calls made straight
//          through the host callback, as the cheapest code making the same two calls would;
//          the targets are ratios to it. Beside it, the floor shows what reading the Active
//          input through SEPin::getValue (inline in module_base.h) costs.
//
// Both are the oscillator's own Module class with the process routine swapped, so the plugs,
// buffers, pins and host calls are the oscillator's to the byte. They are not oscillators
// anyone should use; they only bound what the routines can cost.
#pragma once

#include "host/host.h"

namespace fourwave::bench {

enum class Reference { Floor, Naive, Direct };

const char *referenceName(Reference reference);

// makeModule/getModuleProperties pairs that create the reference instance.
host::PluginEntries referenceEntries(Reference reference);

} // namespace fourwave::bench
