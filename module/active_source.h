// The Active source of the module's routines: the Active input read through its pin, at the
// host's sample clock, two host calls a sample. The frame (dsp/frame.h) asks it once per sample.
#pragma once

#include <stdint.h>

#include "sdk/module_base.h"

namespace fourwave {

struct PinActiveSource {
    SEPin *pin; // null when the host left the Active plug without a pin

    // The buffer index is the frame's; the pin finds its element from the host's clocks. A
    // missing Active pin reads as 0: the instance stays silent rather than crash.
    float read(int32_t) const { return pin != nullptr ? pin->getValue() : 0.0f; }
};

} // namespace fourwave
