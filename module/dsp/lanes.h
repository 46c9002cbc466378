// The value types a shape's waveform step is written over, once: `float`, one sample (the x87
// and browser builds, and whatever is left over), and `F32x4`, four consecutive samples in one
// SSE2 register (the SSE builds).
//
// Every F32x4 operation is the IEEE single-precision operation of the scalar code on each lane,
// with the operands in the same order, so a step gives the same bits either way. A branch of
// the scalar code becomes a comparison that answers a mask and a `select` of two values, which
// both types offer; comparisons keep the scalar code's direction, so that a NaN takes the same
// side. There is no min or max: x86's minps and maxps answer their second operand when either
// is NaN, which is not what the scalar code's comparisons do.
#pragma once

#include <stdint.h>
#include <string.h>

#include <cmath>

// For the per-sample steps, which belong inlined into the frame's loop whatever the compiler's
// size heuristics say: a call there spills and reloads the loop's state at every sample.
// FOURWAVE_DSP_INLINE_LAMBDA does the same for a lambda that is a loop's body.
#if defined(__GNUC__)
#define FOURWAVE_DSP_INLINE inline __attribute__((always_inline))
#define FOURWAVE_DSP_INLINE_LAMBDA __attribute__((always_inline))
#else
#define FOURWAVE_DSP_INLINE inline
#define FOURWAVE_DSP_INLINE_LAMBDA
#endif

#if defined(FOURWAVE_FLAVOUR_SSE) && defined(__SSE2__) && !defined(__EMSCRIPTEN__)
#define FOURWAVE_DSP_LANES 1
#include <emmintrin.h>
#else
#define FOURWAVE_DSP_LANES 0
#endif

namespace fourwave::dsp {

// ---------------------------------------------------------------------------------------------
// One lane: the scalar code itself.
FOURWAVE_DSP_INLINE float select(bool mask, float whenTrue, float whenFalse) {
    return mask ? whenTrue : whenFalse;
}
// A condition that is the same for every lane (a level's flag) picks whole values.
template <class T>
FOURWAVE_DSP_INLINE T select(bool mask, T whenTrue, T whenFalse) {
    return mask ? whenTrue : whenFalse;
}
// A select whose values are computed only where needed: one sample, or a condition the same
// for every lane, computes the value its mask picks (the x87 flavour pays for every operation
// it skips), lanes compute both.
template <class Then, class Else>
FOURWAVE_DSP_INLINE auto choose(bool mask, Then whenTrue, Else whenFalse) -> decltype(whenTrue()) {
    return mask ? whenTrue() : whenFalse();
}
FOURWAVE_DSP_INLINE bool anyLane(bool mask) { return mask; }
FOURWAVE_DSP_INLINE bool allLanes(bool mask) { return mask; }

// A value's bits, read as an integer (the x87 flavour would load a float to copy it).
FOURWAVE_DSP_INLINE uint32_t bitsAt(const float *p) {
    uint32_t bits;
    memcpy(&bits, p, sizeof bits);
    return bits;
}
// Whether the value at p has the bits `held` (a NaN is itself, -0.0 is not +0.0).
FOURWAVE_DSP_INLINE bool sameBits(const float *p, uint32_t held, float) {
    return bitsAt(p) == held;
}

// A one-sample memory across consecutive samples: answers the value each sample sees as the
// previous one, which is the latest earlier sample's `value` where `takes` held, else `carried`
// (what the samples before left); `carried` becomes the value the last of them leaves.
FOURWAVE_DSP_INLINE float previousTaken(float value, bool takes, float &carried) {
    const float previous = carried;
    if (takes) carried = value;
    return previous;
}

template <class T>
struct LaneCount;
template <>
struct LaneCount<float> {
    static constexpr int32_t value = 1;
};

FOURWAVE_DSP_INLINE float magnitude(float v) { return std::fabs(v); }
FOURWAVE_DSP_INLINE float truncate(float v) { return std::trunc(v); }

FOURWAVE_DSP_INLINE void loadLanes(float &v, const float *p) { v = *p; }
FOURWAVE_DSP_INLINE void storeLanes(float *p, float v) { *p = v; }

// Bit 0 set where the value at p is zero, of either sign (not a NaN): the comparison with 0.0f,
// made on the bits, so that the x87 flavour does not store and reload the value to compare it.
FOURWAVE_DSP_INLINE uint32_t zeroBits(const float *p, float) {
    return (bitsAt(p) << 1) == 0 ? 1u : 0u;
}

#if FOURWAVE_DSP_LANES
// ---------------------------------------------------------------------------------------------
// Four lanes. A float operand is broadcast to all four (the implicit constructor), so that a
// step's constants and per-read levels mix with lanes as they do with floats.
struct M32x4 {
    __m128 bits; // all ones in a lane where the comparison holds
};

struct F32x4 {
    __m128 v;
    F32x4() = default;
    FOURWAVE_DSP_INLINE F32x4(float x) : v(_mm_set1_ps(x)) {}
    FOURWAVE_DSP_INLINE explicit F32x4(__m128 x) : v(x) {}
};

template <>
struct LaneCount<F32x4> {
    static constexpr int32_t value = 4;
};

FOURWAVE_DSP_INLINE void loadLanes(F32x4 &v, const float *p) { v = F32x4(_mm_loadu_ps(p)); }
#if defined(__GNUC__)
// Four floats at any float's alignment. A store through this type writes floats only, where
// _mm_storeu_ps may write any type as far as the compiler knows: after it, every pointer,
// count and flag the loop holds in memory would be loaded again.
typedef float UnalignedFloats __attribute__((vector_size(16), aligned(4)));
FOURWAVE_DSP_INLINE void storeLanes(float *p, F32x4 v) {
    *reinterpret_cast<UnalignedFloats *>(p) = reinterpret_cast<UnalignedFloats>(v.v);
}
#else
FOURWAVE_DSP_INLINE void storeLanes(float *p, F32x4 v) { _mm_storeu_ps(p, v.v); }
#endif

// Bits 0 to 3 set where the four values from p are zero.
FOURWAVE_DSP_INLINE uint32_t zeroBits(const float *p, F32x4) {
    return static_cast<uint32_t>(_mm_movemask_ps(_mm_cmpeq_ps(_mm_loadu_ps(p), _mm_setzero_ps())));
}

FOURWAVE_DSP_INLINE F32x4 operator+(F32x4 a, F32x4 b) { return F32x4(_mm_add_ps(a.v, b.v)); }
FOURWAVE_DSP_INLINE F32x4 operator-(F32x4 a, F32x4 b) { return F32x4(_mm_sub_ps(a.v, b.v)); }
FOURWAVE_DSP_INLINE F32x4 operator*(F32x4 a, F32x4 b) { return F32x4(_mm_mul_ps(a.v, b.v)); }
FOURWAVE_DSP_INLINE F32x4 operator/(F32x4 a, F32x4 b) { return F32x4(_mm_div_ps(a.v, b.v)); }
// The sign bit flipped, NaN included, as the scalar negation does.
FOURWAVE_DSP_INLINE F32x4 operator-(F32x4 a) { return F32x4(_mm_xor_ps(a.v, _mm_set1_ps(-0.0f))); }
FOURWAVE_DSP_INLINE F32x4 magnitude(F32x4 a) {
    return F32x4(_mm_andnot_ps(_mm_set1_ps(-0.0f), a.v));
}
// Exact for magnitudes below 2^31 only (SSE2 has no rounding instruction): callers select it
// only where the value is below 2^24.
FOURWAVE_DSP_INLINE F32x4 truncate(F32x4 a) {
    return F32x4(_mm_cvtepi32_ps(_mm_cvttps_epi32(a.v)));
}

// Ordered comparisons are false on a NaN lane, != is true there, as in C++.
FOURWAVE_DSP_INLINE M32x4 operator<(F32x4 a, F32x4 b) { return M32x4{_mm_cmplt_ps(a.v, b.v)}; }
FOURWAVE_DSP_INLINE M32x4 operator<=(F32x4 a, F32x4 b) { return M32x4{_mm_cmple_ps(a.v, b.v)}; }
FOURWAVE_DSP_INLINE M32x4 operator>(F32x4 a, F32x4 b) { return M32x4{_mm_cmpgt_ps(a.v, b.v)}; }
FOURWAVE_DSP_INLINE M32x4 operator>=(F32x4 a, F32x4 b) { return M32x4{_mm_cmpge_ps(a.v, b.v)}; }
FOURWAVE_DSP_INLINE M32x4 operator==(F32x4 a, F32x4 b) { return M32x4{_mm_cmpeq_ps(a.v, b.v)}; }
FOURWAVE_DSP_INLINE M32x4 operator!=(F32x4 a, F32x4 b) { return M32x4{_mm_cmpneq_ps(a.v, b.v)}; }

FOURWAVE_DSP_INLINE M32x4 operator&(M32x4 a, M32x4 b) { return M32x4{_mm_and_ps(a.bits, b.bits)}; }
FOURWAVE_DSP_INLINE M32x4 operator|(M32x4 a, M32x4 b) { return M32x4{_mm_or_ps(a.bits, b.bits)}; }
// A uniform condition (a level's flag) widened to every lane.
FOURWAVE_DSP_INLINE M32x4 operator|(bool a, M32x4 b) {
    return a ? M32x4{_mm_castsi128_ps(_mm_set1_epi32(-1))} : b;
}
FOURWAVE_DSP_INLINE M32x4 operator|(M32x4 a, bool b) { return b | a; }
FOURWAVE_DSP_INLINE M32x4 operator&(M32x4 a, bool b) { return b ? a : M32x4{_mm_setzero_ps()}; }
FOURWAVE_DSP_INLINE M32x4 operator&(bool a, M32x4 b) { return b & a; }
FOURWAVE_DSP_INLINE M32x4 operator!(M32x4 a) {
    return M32x4{_mm_xor_ps(a.bits, _mm_castsi128_ps(_mm_set1_epi32(-1)))};
}

FOURWAVE_DSP_INLINE F32x4 select(M32x4 mask, F32x4 whenTrue, F32x4 whenFalse) {
    return F32x4(
        _mm_or_ps(_mm_and_ps(mask.bits, whenTrue.v), _mm_andnot_ps(mask.bits, whenFalse.v)));
}
template <class Then, class Else>
FOURWAVE_DSP_INLINE F32x4 choose(M32x4 mask, Then whenTrue, Else whenFalse) {
    return select(mask, whenTrue(), whenFalse());
}
FOURWAVE_DSP_INLINE bool anyLane(M32x4 mask) { return _mm_movemask_ps(mask.bits) != 0; }
FOURWAVE_DSP_INLINE bool allLanes(M32x4 mask) { return _mm_movemask_ps(mask.bits) == 0xF; }

FOURWAVE_DSP_INLINE M32x4 sameBits(const float *p, uint32_t held, F32x4) {
    const __m128i values = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
    return M32x4{
        _mm_castsi128_ps(_mm_cmpeq_epi32(values, _mm_set1_epi32(static_cast<int32_t>(held))))};
}

// Lanes moved up by `Count`, the lowest ones taken from `fill`'s (the lane before the first).
template <int Count>
FOURWAVE_DSP_INLINE __m128 shiftLanesUp(__m128 v, __m128 fill) {
    if constexpr (Count == 1)
        return _mm_move_ss(_mm_castsi128_ps(_mm_slli_si128(_mm_castps_si128(v), 4)), fill);
    else
        return _mm_shuffle_ps(fill, v, _MM_SHUFFLE(1, 0, 0, 0)); // fill, fill, v0, v1
}

// The same memory on four consecutive samples: each lane's latest taking lane at or below it
// (a scan in two doubling steps), then that moved up a lane, the first taking `carried`.
FOURWAVE_DSP_INLINE F32x4 previousTaken(F32x4 value, M32x4 takes, float &carried) {
    const __m128 before = _mm_set1_ps(carried);
    __m128 latest = value.v;
    if (!allLanes(takes)) {
        latest = select(takes, value, F32x4(before)).v;
        __m128 found = takes.bits;
        latest = select(M32x4{found}, F32x4(latest), F32x4(shiftLanesUp<1>(latest, before))).v;
        found = _mm_or_ps(found, shiftLanesUp<1>(found, _mm_setzero_ps()));
        latest = select(M32x4{found}, F32x4(latest), F32x4(shiftLanesUp<2>(latest, before))).v;
    }
    carried = _mm_cvtss_f32(_mm_shuffle_ps(latest, latest, _MM_SHUFFLE(3, 3, 3, 3)));
    return F32x4(shiftLanesUp<1>(latest, before));
}

// The same where every lane takes or none does.
FOURWAVE_DSP_INLINE F32x4 previousTaken(F32x4 value, bool takes, float &carried) {
    return previousTaken(value, takes | M32x4{_mm_setzero_ps()}, carried);
}

// The lane type of the waveform pass.
using WideLane = F32x4;
#else
using WideLane = float;
#endif

// The mask a comparison of T answers: bool for one sample.
template <class T>
using MaskOf = decltype(T() < T());

// Runs body(k, lane) over offsets from .. to - 1: with a value of the lane type for offsets
// k .. k + lanes - 1, a lane's width at a time, then with a float for one offset at a time.
// The body is written once over the value type (a generic lambda).
template <class Lane, class Body>
FOURWAVE_DSP_INLINE void forLanes(int32_t from, int32_t to, Body body) {
    constexpr int32_t kLanes = LaneCount<Lane>::value;
    int32_t k = from;
    if constexpr (kLanes > 1) {
        for (; k + kLanes <= to; k += kLanes) body(k, Lane());
    }
    for (; k < to; ++k) body(k, 0.0f);
}

// Whether `test` holds anywhere in offsets 0 .. count - 1, called as forLanes calls its body.
template <class Lane, class Test>
FOURWAVE_DSP_INLINE bool anyOffset(int32_t count, Test test) {
    bool hit = false;
    forLanes<Lane>(0, count, [&](int32_t k, auto lane) FOURWAVE_DSP_INLINE_LAMBDA {
        hit |= anyLane(test(k, lane));
    });
    return hit;
}

// Bit k set where the k-th of the `count` (at most 32) values from p is zero.
template <class Lane>
FOURWAVE_DSP_INLINE uint32_t zeroMask(const float *p, int32_t count) {
    uint32_t mask = 0;
    forLanes<Lane>(0, count, [&](int32_t k, auto lane) FOURWAVE_DSP_INLINE_LAMBDA {
        mask |= zeroBits(p + k, lane) << k;
    });
    return mask;
}

// The lowest `count` bits (count 1 to 32).
FOURWAVE_DSP_INLINE uint32_t lowBits(int32_t count) { return ~0u >> (32 - count); }

// The number of trailing zero bits of a non-zero mask.
FOURWAVE_DSP_INLINE int32_t trailingZeros(uint32_t mask) {
#if defined(__GNUC__)
    return __builtin_ctz(mask);
#else
    int32_t n = 0;
    for (; (mask & 1u) == 0; mask >>= 1) ++n;
    return n;
#endif
}

// Whether any of the `count` values from p passes `test`, a comparison written once over the
// value type.
template <class Lane, class Test>
FOURWAVE_DSP_INLINE bool anyValue(const float *p, int32_t count, Test test) {
    return anyOffset<Lane>(count, [p, test](int32_t k, auto lane) FOURWAVE_DSP_INLINE_LAMBDA {
        decltype(lane) v;
        loadLanes(v, p + k);
        return test(v);
    });
}

} // namespace fourwave::dsp
