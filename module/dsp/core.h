// The oscillator core shared by all ten process routines: level limiting, the pitch conversion
// with octave folding, the phase accumulator (pitch update, sync edge, advance and wrap) and the
// modulated phase. Plain floats (and the lane types of lanes.h where a value is computed for
// several samples at once); it knows nothing of pins, buffers or the host.
//
// All sample arithmetic is single precision, written in the order the results are defined in:
// the outputs are bit-exact with that order, so no expression here may be regrouped.
#pragma once

#include <stdint.h>

#include <cmath>

#include "lanes.h"

namespace fourwave::dsp {

// Levels are limited to +-2.0 (+-20 V); a NaN passes through.
constexpr float kLevelLimit = 2.0f;

// The four level inputs of one read, limited, and the Pulse Level as read.
struct LevelSet {
    float pulse;
    float ramp;
    float saw;
    float triangle;
    float rawPulse;
};

// v limited to +-limit (a NaN passes through), one sample or a lane type's.
template <class T>
FOURWAVE_DSP_INLINE T clip(T v, float limit) {
    return select(v > T(limit), T(limit), select(v < T(-limit), T(-limit), v));
}

// The level limit: +-2, a NaN passing through. One read's four levels (makeLevelSet) take the
// scalar form, written with branches; clampLevel<T> is the same limit as selections, for the
// samples of a lane type (Perfect 2's levels read per lane), and for one sample where that code
// is written once over its value type. Both give the same bits; GCC makes different code of
// them, and each keeps the code it was measured with.
inline float clampLevel(float v) {
    if (v > kLevelLimit) return kLevelLimit;
    if (v < -kLevelLimit) return -kLevelLimit;
    return v;
}
template <class T>
FOURWAVE_DSP_INLINE T clampLevel(T v) {
    return clip(v, kLevelLimit);
}

inline LevelSet makeLevelSet(float pulse, float ramp, float saw, float triangle) {
    return LevelSet{clampLevel(pulse), clampLevel(ramp), clampLevel(saw), clampLevel(triangle),
                    pulse};
}

// 1 V/oct: 0.5 (5 V) is 440 Hz. 1 V/kHz: 0.1 (1 V) is 1000 Hz.
constexpr double kReferenceHz = 440.0;
constexpr double kReferencePitchOctaves = 5.0; // 10 x 0.5
constexpr double kOctavesPerUnit = 10.0;
constexpr float kHzPerUnitAtVoltPerKhz = 10000.0f;

// Pitch value (1.0 = 10 V) to Hz. Only the exponential is evaluated in double precision.
inline float pitchToFrequency(float v, int16_t freqScale) {
    if (freqScale != 0) return v * kHzPerUnitAtVoltPerKhz;
    const double exponent = kOctavesPerUnit * static_cast<double>(v) - kReferencePitchOctaves;
    return static_cast<float>(kReferenceHz * std::pow(2.0, exponent));
}

// Octaves folded down below the ceiling, at most four; beyond that the ceiling itself.
constexpr int kMaxFoldOctaves = 4;

inline float foldFrequency(float f, float maxFrequency) {
    for (int octave = 0; octave < kMaxFoldOctaves && f >= maxFrequency; ++octave) f *= 0.5f;
    return f >= maxFrequency ? maxFrequency : f;
}

// A phase this large has no fractional part left in single precision, so the one-subtraction
// wrap can never bring it back; such a phase, or a non-finite one, restarts the cycle at 0.
constexpr float kLostPhaseMagnitude = 16777216.0f; // 2^24

inline float restartIfLost(float phase) {
    return std::fabs(phase) < kLostPhaseMagnitude ? phase : 0.0f;
}

// The phase handed to the waveform under phase modulation: phase - depth x signal, brought
// into [0, 1] by whole cycles (a result of exactly 1.0 stays 1.0). Reducing a large offset to
// its fractional part first gives what adding or subtracting 1.0 repeatedly gives, without a
// loop whose length depends on the input; an offset beyond what single precision can wrap
// (infinite, NaN, or too large to have a fraction) leaves the waveform at phase 0. After the
// reduction the value lies in [-1, 2], so one cycle added or taken off brings it into [0, 1].
template <class T>
FOURWAVE_DSP_INLINE T modulatePhase(T phase, T signal, T depth) {
    return choose(
        signal == T(0.0f), [&] { return phase; },
        [&] {
            const T t = phase - depth * signal;
            return choose(
                magnitude(t) < T(kLostPhaseMagnitude),
                [&] {
                    // Whole cycles off, exactly (a float's fraction is a float). Counting down from
                    // above stops at 1.0, not 0.0, when the offset is a whole number of cycles.
                    T u = choose(
                        t > T(2.0f),
                        [&] {
                            const T fraction = t - truncate(t);
                            return select(fraction == T(0.0f), T(1.0f), fraction);
                        },
                        [&] {
                            return choose(
                                t < T(-1.0f), [&] { return T(t - truncate(t)); },
                                [&] { return t; });
                        });
                    u = choose(
                        u < T(0.0f), [&] { return T(u + 1.0f); }, [&] { return u; });
                    return choose(
                        u > T(1.0f), [&] { return T(u - 1.0f); }, [&] { return u; });
                },
                [&] { return T(0.0f); });
        });
}

// The running state of the phase accumulator, held in locals for the length of a block and
// written back to the module at its end.
struct Oscillator {
    float phase;          // one cycle per 1.0, nominally in [0, 1)
    float lastPitch;      // the pitch value phaseIncrement was computed from
    float phaseIncrement; // cycles per sample
    float invSampleRate;
    float maxFrequency; // Hz; frequencies fold below it
    int16_t freqScale;  // 0: 1 V/oct, otherwise 1 V/kHz
    bool syncArmed;

    // The exponential runs only when the pitch value changes (a NaN always counts as a change).
    void updatePitch(float v) {
        if (v == lastPitch) return;
        lastPitch = v;
        const float increment =
            invSampleRate * foldFrequency(pitchToFrequency(v, freqScale), maxFrequency);
        // A pitch or sample rate the oscillator cannot follow (NaN, infinite) stops it rather
        // than poisoning the phase.
        phaseIncrement = std::isfinite(increment) ? increment : 0.0f;
    }

    // An edge is a Sync value above 0 while armed; any value at or below 0 re-arms. The phase
    // is reset only once it has passed the threshold, to the advance scaled by the edge value.
    void processSyncEdge(float sync, float threshold, float advance) {
        if (syncArmed && sync > 0.0f) {
            syncArmed = false;
            if (phase > threshold) phase = restartIfLost(advance * sync);
        }
        if (sync <= 0.0f) syncArmed = true;
    }

    // One subtraction at most, so a phase above 1 left by a sync comes back a cycle a sample.
    // A negative increment wraps from below in the same way.
    void advancePhase() {
        phase = phaseIncrement + phase;
        if (phase >= 1.0f)
            phase = phase - 1.0f;
        else if (phase < 0.0f && phaseIncrement < 0.0f)
            phase = phase + 1.0f;
        phase = restartIfLost(phase);
    }

    // Whether advancePhase reduces to advancedInRange: a phase in [0, 1) and an increment in
    // [0, 1) sum to less than 2, so one subtraction wraps it back into [0, 1), where nothing is
    // lost, and the next sample starts in range again.
    bool advancesInRange() const {
        return phase >= 0.0f && phase < 1.0f && phaseIncrement >= 0.0f && phaseIncrement < 1.0f;
    }
    static float advancedInRange(float phase, float increment) {
        phase = increment + phase;
        return phase >= 1.0f ? phase - 1.0f : phase;
    }
};

} // namespace fourwave::dsp
