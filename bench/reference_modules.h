// The two yardsticks the routines are measured against, as instances the stand-in host
// creates, binds and calls exactly as it does the oscillator:
//
//   floor: what the per-sample contract makes unavoidable and nothing else: the Active test
//          through the pin (SEPin::getValue, two host calls) and four output writes, with a
//          trivial phase accumulator as the value written;
//   naive: the floor plus the four ideal waveforms (ramp, saw, pulse, triangle) computed the
//          way a simple oscillator computes them, levels read once per block;
//   direct: the floor with the Active test's two host calls made straight through the host
//          callback instead of through SEPin::getValue and callHost: not a floor the
//          routines can reach (they read the pin as the contract says), but the measure of
//          what the SDK's out-of-line wrappers cost per sample.
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
