// What a plug-in takes from its host's control and CV ports before the module sees it. A NaN
// or an infinity would run through the module into every sample of an output (and from there
// into a DAW's whole mix), and a subnormal costs several times a normal value's time in every
// multiplication: so a non-finite value is replaced by the port's last finite value (its
// default until it had one), and a subnormal by a zero of its sign. Every finite value that is
// normal or zero passes bit for bit.
#pragma once

#include <cfloat>
#include <cmath>
#include <stdint.h>

namespace fourwave::lv2 {

// `value` as the module may take it; `lastFinite` is what replaces a NaN or an infinity.
inline float boundaryValue(float value, float lastFinite) {
    const float magnitude = std::fabs(value);
    if (magnitude <= FLT_MAX) return magnitude < FLT_MIN ? std::copysign(0.0f, value) : value;
    return lastFinite;
}

// True when every sample passes unchanged (finite, and normal or zero): one branch-free pass
// that the compiler vectorises, so that a clean buffer is copied rather than checked sample by
// sample.
inline bool allPassUnchanged(const float *samples, int32_t count) {
    int32_t faults = 0;
    for (int32_t i = 0; i < count; ++i) {
        const float magnitude = std::fabs(samples[i]);
        faults += (magnitude > FLT_MAX) | (magnitude != magnitude) |
                  ((magnitude < FLT_MIN) & (magnitude != 0.0f));
    }
    return faults == 0;
}

// Copies a CV buffer through boundaryValue, sample by sample; `lastFinite` carries the last
// finite sample from one call to the next.
inline void copyBoundaryValues(const float *from, float *to, int32_t count, float &lastFinite) {
    for (int32_t i = 0; i < count; ++i) {
        to[i] = boundaryValue(from[i], lastFinite);
        lastFinite = to[i];
    }
}

} // namespace fourwave::lv2
