// The five waveform steps, as stateless policies of the one per-sample frame (frame.h).
//
// A shape answers "the four outputs at this phase": from the waveform phase t, the Width W of
// the current sample, the crossfade pitch p (a Pitch value, 1.0 = 10 V, compared before any
// conversion) and the increment in force. It also says how often the frame must read the
// level inputs and what it keeps of a read (`take`), so that per-read work such as the pulse
// multiples is done at the read and not per sample.
//
// Every output whose level is zero is written as exactly 0.0 without its formula. The
// expressions are grouped exactly as the waveforms are defined; do not regroup them.
//
// A step is written once over its value type T (lanes.h): `float` for one sample, a lane type
// for several consecutive ones. The level flags are the same for every lane (the levels of one
// read), except Perfect 2's where its levels move within the lanes (masks then); what depends
// on the phase, the width or the pitch is a mask and a `select`, and a branch that only saves
// work is taken when no lane needs it. Perfect 2 takes the pitch and increment as one float
// where every lane has the same ones (its pitch tests are then branches).
#pragma once

#include "core.h"

namespace fourwave::dsp {

template <class T>
struct LaneOutputs {
    T ramp;
    T saw;
    T pulse;
    T triangle;
};
using Outputs = LaneOutputs<float>;

// Perfect 2's one-sample memories; the other shapes leave them alone.
struct EdgeMemory {
    float lastPulseSign;
    float lastRampValue;
};

// Width outside (0, 1), NaN included, silences the pulse.
template <class T>
FOURWAVE_DSP_INLINE auto widthInRange(T width) {
    return (width > T(0.0f)) & (width < T(1.0f));
}

// The unit triangle of phase t: 0 at t = 0, +0.5 at 0.25, 0 at 0.5, -0.5 at 0.75.
template <class T>
FOURWAVE_DSP_INLINE T unitTriangle(T t) {
    const T u = 2.0f * t;
    return select(u <= T(0.5f), u, select(u <= T(1.5f), 1.0f - u, u - 2.0f));
}

// What a shape's step uses of a read: the four limited levels with, for each, whether it is not
// zero (a NaN is not zero), and the multiples of the Pulse Level as read that a shape forms at
// the read (Perfect its half; Bright, Medium and Dark its half and its 10 and 20 times; Perfect
// 2 none). The shapes that hold a read settle the flags once per read: each sample then tests a
// flag instead of comparing a float, whose operand would have to be reloaded after every
// sample's host calls (no floating-point register survives a call). Perfect 2, reading its
// levels at every sample, holds them per lane where they move: the flags are then masks.
template <class T>
struct Levels {
    T ramp, saw, pulse, triangle;
    MaskOf<T> rampOn, sawOn, pulseOn, triangleOn;
    float halfPulse, pulse10, pulse20; // only those its shape forms are set
};

template <class T>
FOURWAVE_DSP_INLINE Levels<T> levelValues(T pulse, T ramp, T saw, T triangle) {
    Levels<T> l; // the multiples are the shape's to set
    l.ramp = ramp;
    l.saw = saw;
    l.pulse = pulse;
    l.triangle = triangle;
    l.rampOn = ramp != T(0.0f);
    l.sawOn = saw != T(0.0f);
    l.pulseOn = pulse != T(0.0f);
    l.triangleOn = triangle != T(0.0f);
    return l;
}

inline Levels<float> levelValues(const LevelSet &l) {
    return levelValues(l.pulse, l.ramp, l.saw, l.triangle);
}

// The four level inputs as read, limited as makeLevelSet limits them.
template <class T>
FOURWAVE_DSP_INLINE Levels<T> limitedLevels(T pulse, T ramp, T saw, T triangle) {
    return levelValues(clampLevel<T>(pulse), clampLevel<T>(ramp), clampLevel<T>(saw),
                       clampLevel<T>(triangle));
}

// The pitch band of Perfect 2 and the soft shapes: from Band::kLow up the clipped triangle
// (clipped at +-Band::kTriangleClip) is computed whatever the Triangle Level; inside the band
// pulse, saw and ramp crossfade into it with weights a = p - kLow and b = kHigh - p times
// Band::kGain; in the top branch (from kHigh, or above it where Band::kTopIncludesHigh is
// false) they are the clipped triangle times their levels.
template <class Band>
struct CrossfadeBand {
    // Writes the triangle output and answers the clipped triangle (0.0 where it is not needed).
    template <class T, class L, class P>
    FOURWAVE_DSP_INLINE static T triangle(LaneOutputs<T> &out, const L &l, T t, P p) {
        const auto needed = l.triangleOn | (p >= P(Band::kLow));
        if (!anyLane(needed)) {
            out.triangle = 0.0f;
            return 0.0f;
        }
        const T clipped = clip(unitTriangle(t), Band::kTriangleClip);
        out.triangle = select(needed, clipped * l.triangle, T(0.0f));
        return select(needed, clipped, T(0.0f));
    }

    // Where p is in the top branch.
    template <class T>
    FOURWAVE_DSP_INLINE static auto inTop(T p) {
        if constexpr (Band::kTopIncludesHigh)
            return p >= T(Band::kHigh);
        else
            return p > T(Band::kHigh);
    }

    // The top branch's outputs; the triangle is already written.
    template <class T, class L>
    FOURWAVE_DSP_INLINE static void writeTop(LaneOutputs<T> &out, const L &l, T clipped) {
        out.pulse = clipped * l.pulse;
        out.saw = clipped * l.saw;
        out.ramp = clipped * l.ramp;
    }

    // The same, taken only in the lanes of `top`.
    template <class T, class L, class Mask>
    FOURWAVE_DSP_INLINE static void takeTop(LaneOutputs<T> &out, const L &l, T clipped, Mask top) {
        LaneOutputs<T> topOut = out;
        writeTop(topOut, l, clipped);
        out.pulse = select(top, topOut.pulse, out.pulse);
        out.saw = select(top, topOut.saw, out.saw);
        out.ramp = select(top, topOut.ramp, out.ramp);
    }

    // Inside the band (above kLow), the crossfade of the outputs already written; an output
    // whose level is zero stays exactly 0.0.
    template <class T, class L, class P>
    FOURWAVE_DSP_INLINE static void fade(LaneOutputs<T> &out, const L &l, T clipped, P p) {
        const auto inBand = p > P(Band::kLow);
        if (!anyLane(inBand)) return;
        const T a = p - Band::kLow;
        const T b = Band::kHigh - p;
        if (anyLane(l.pulseOn))
            out.pulse = select(inBand & l.pulseOn,
                               T((a * clipped * l.pulse + b * out.pulse) * Band::kGain), out.pulse);
        if (anyLane(l.sawOn))
            out.saw = select(inBand & l.sawOn, T((a * clipped * l.saw + b * out.saw) * Band::kGain),
                             out.saw);
        if (anyLane(l.rampOn))
            out.ramp = select(inBand & l.rampOn,
                              T((b * out.ramp - a * clipped * l.ramp) * Band::kGain), out.ramp);
    }
};

// ---------------------------------------------------------------------------------------------
// Perfect: the ideal waveforms, nothing rounded off.
struct PerfectShape {
    static constexpr bool kLevelsEverySample = false;

    // Half the Pulse Level as read, before the limit.
    static Levels<float> take(const LevelSet &l) {
        Levels<float> levels = levelValues(l);
        levels.halfPulse = 0.5f * l.rawPulse;
        return levels;
    }

    template <class T, class P>
    FOURWAVE_DSP_INLINE static LaneOutputs<T> step(const Levels<float> &l, EdgeMemory &, T t,
                                                   T width, P, P) {
        LaneOutputs<T> out;
        out.ramp = !l.rampOn ? T(0.0f) : (0.5f - t) * l.ramp;
        out.saw = !l.sawOn ? T(0.0f) : -((0.5f - t) * l.saw);
        if (l.pulseOn) {
            const T high = select(t <= width, T(l.halfPulse), T(-l.halfPulse));
            out.pulse = select(widthInRange(width), high - (width - 0.5f) * l.pulse, T(0.0f));
        } else {
            out.pulse = 0.0f;
        }
        out.triangle = l.triangleOn ? unitTriangle(t) * l.triangle : T(0.0f);
        return out;
    }
};

// ---------------------------------------------------------------------------------------------
// Perfect 2: levels at audio rate, the ramp and pulse jumps softened on the sample they happen
// (with one-sample memories), a triangle clipped at +-0.45 and, as the pitch rises, a crossfade
// of pulse, saw and ramp into that clipped triangle.
struct Perfect2Band {
    static constexpr float kLow = 0.45f;  // pitch value: 311.1 Hz at 1 V/oct
    static constexpr float kHigh = 0.75f; // 2489.0 Hz at 1 V/oct
    static constexpr bool kTopIncludesHigh = true;
    static constexpr float kGain = 3.334f; // about 1 / (0.75 - 0.45)
    static constexpr float kTriangleClip = 0.45f;
};

// Each sample's memories are what the previous sample left; a sample updates them only where
// its own levels, width and pitch call for the edge (below the top branch, the output on), and
// on lanes the memory moves from lane to lane (`previousTaken`). The levels are per lane (L's
// flags masks) where they move within the samples, else one read for all of them.
struct Perfect2Shape {
    static constexpr bool kLevelsEverySample = true;
    using Band = CrossfadeBand<Perfect2Band>;

    static Levels<float> take(const LevelSet &l) { return levelValues(l); }

    template <class T, class L, class P>
    FOURWAVE_DSP_INLINE static LaneOutputs<T> step(const L &l, EdgeMemory &memory, T t, T width,
                                                   P p, P increment) {
        LaneOutputs<T> out;
        const T clipped = Band::triangle(out, l, t, p);
        const auto top = Band::inTop(p);
        if (allLanes(top)) {
            Band::writeTop(out, l, clipped);
            return out;
        }
        const auto below = !top;

        // The ramp half a sample late; a rise over the previous value (the wrap) is shaped
        // to land in the middle of the jump.
        const auto rampEdge = below & l.rampOn;
        if (anyLane(rampEdge)) {
            const T v = (0.5f - t - 0.5f * increment) * l.ramp;
            const T previous = previousTaken(v, rampEdge, memory.lastRampValue);
            out.ramp = select(rampEdge,
                              choose(
                                  v > previous,
                                  [&] { return T((0.5f - (increment - t + v + t)) * l.ramp); },
                                  [&] { return v; }),
                              T(0.0f));
        } else {
            out.ramp = 0.0f;
        }

        out.saw = choose(
            l.sawOn, [&] { return T(-((0.5f - t) * l.saw)); }, [&] { return T(0.0f); });

        const auto pulseEdge = below & l.pulseOn & widthInRange(width);
        if (anyLane(pulseEdge)) {
            const T level = select(t <= width, T(0.5f), T(-0.5f));
            const T previous = previousTaken(level, pulseEdge, memory.lastPulseSign);
            const T sign = choose(
                level != previous,
                [&] {
                    return choose(
                        previous > level, [&] { return T(width - increment - 0.5f); },
                        [&] { return T(t - 0.5f); });
                },
                [&] { return level; });
            out.pulse = select(pulseEdge, T((sign - (width - 0.5f)) * l.pulse), T(0.0f));
        } else {
            out.pulse = 0.0f;
        }

        Band::fade(out, l, clipped, p);
        if (anyLane(top)) Band::takeTop(out, l, clipped, top);
        return out;
    }
};

// ---------------------------------------------------------------------------------------------
// Bright, Medium and Dark: the ramp's wrap and both pulse edges replaced by short slopes with
// a residual step (largest for Bright, none for Dark), a triangle clipped at +-0.46, and a
// crossfade into it across a pitch band. The shapes differ only in the constants and edge
// formulas of `Edges`.

constexpr float kOneThird = 0.33333334f;

// What the three soft shapes share of their band.
struct SoftBand {
    static constexpr float kGain = 4.0f; // 1 / (kHigh - kLow)
    static constexpr float kTriangleClip = 0.46f;
};

// Bright's and Medium's edges, each a third of the way: a rise across the wrap with the slope
// and residual step `Rise` picks from the levels, and the falling edge they share, a slope of
// 20 x the Pulse Level through the edge with a residual step of half of it.
template <class Rise>
struct SteppedEdges {
    template <class L, class T>
    FOURWAVE_DSP_INLINE static T riseLate(const L &l, T t) {
        return (Rise::slope(l) * t + Rise::step(l)) * kOneThird;
    }
    template <class L, class T>
    FOURWAVE_DSP_INLINE static T riseEarly(const L &l, T t) {
        return (Rise::slope(l) * (t - 1.0f) - Rise::step(l)) * kOneThird;
    }
    template <class L, class T>
    FOURWAVE_DSP_INLINE static T fall(const L &l, T t, T width) {
        return -(l.pulse20 * (t - width) + l.halfPulse) * kOneThird;
    }
};

// Bright rises at 10 x the Pulse Level with a step of the (limited) level itself.
struct BrightRise {
    template <class L>
    static float slope(const L &l) {
        return l.pulse10;
    }
    template <class L>
    static float step(const L &l) {
        return l.pulse;
    }
};

// Medium rises at 20 x the Pulse Level with a step of half of it.
struct MediumRise {
    template <class L>
    static float slope(const L &l) {
        return l.pulse20;
    }
    template <class L>
    static float step(const L &l) {
        return l.halfPulse;
    }
};

struct BrightEdges : SoftBand, SteppedEdges<BrightRise> {
    static constexpr float kLow = 0.55f, kHigh = 0.8f;
    static constexpr bool kTopIncludesHigh = true;
    static constexpr float kRampZoneLow = 0.02f, kRampZoneHigh = 0.98f;
    static constexpr float kRampArgMin = 0.02f, kRampArgMax = 0.98f;
};

struct MediumEdges : SoftBand, SteppedEdges<MediumRise> {
    static constexpr float kLow = 0.55f, kHigh = 0.8f;
    static constexpr bool kTopIncludesHigh = false;
    static constexpr float kRampZoneLow = 0.03f, kRampZoneHigh = 0.97f;
    static constexpr float kRampArgMin = 0.04f, kRampArgMax = 0.96f;
};

struct DarkEdges : SoftBand {
    static constexpr float kLow = 0.6f, kHigh = 0.85f;
    static constexpr bool kTopIncludesHigh = true;
    static constexpr float kRampZoneLow = 0.05f, kRampZoneHigh = 0.95f;
    static constexpr float kRampArgMin = 0.06f, kRampArgMax = 0.94f;
    template <class L, class T>
    FOURWAVE_DSP_INLINE static T riseLate(const L &l, T t) {
        return l.pulse10 * t;
    }
    template <class L, class T>
    FOURWAVE_DSP_INLINE static T riseEarly(const L &l, T t) {
        return l.pulse10 * (t - 1.0f);
    }
    template <class L, class T>
    FOURWAVE_DSP_INLINE static T fall(const L &l, T t, T width) {
        return -(l.pulse10 * (t - width));
    }
};

template <class Edges>
struct SoftShape {
    static constexpr bool kLevelsEverySample = false;
    static constexpr float kRampSlope = 10.0f;      // per unit of phase, at unit level
    static constexpr float kPulseHalfWidth = 0.05f; // of a period, either side of an edge
    static constexpr float kRiseLateEnd = 0.05f;    // the rising edge spans the wrap:
    static constexpr float kRiseEarlyStart = 0.95f; // t > 0.95 and t < 0.05
    using Band = CrossfadeBand<Edges>;

    // Beyond 1e29 (1e30 V) the edge slopes, times the largest phase the oscillator keeps
    // (2^24), would overflow single precision; no real Pulse Level comes near it.
    static constexpr float kLargestPulseLevel = 1e29f;

    // The Pulse Level as read, limited to the largest above, times 10, 20 and a half.
    static Levels<float> take(const LevelSet &l) {
        const float p = clip(l.rawPulse, kLargestPulseLevel);
        Levels<float> levels = levelValues(l);
        levels.pulse10 = 10.0f * p;
        levels.pulse20 = 20.0f * p;
        levels.halfPulse = 0.5f * p;
        return levels;
    }

    // The ramp's argument is its phase but in the zones either side of the wrap, where it turns
    // back with a slope of 10; either way it is clamped to the zone's range.
    template <class T>
    FOURWAVE_DSP_INLINE static T clampArgument(T x) {
        return select(x > T(Edges::kRampArgMax), T(Edges::kRampArgMax),
                      select(x < T(Edges::kRampArgMin), T(Edges::kRampArgMin), x));
    }
    template <class T>
    FOURWAVE_DSP_INLINE static auto inRampZone(T t) {
        return (t <= T(Edges::kRampZoneLow)) | (t >= T(Edges::kRampZoneHigh));
    }
    template <class T>
    FOURWAVE_DSP_INLINE static T rampArgument(T t) {
        return clampArgument(choose(
            t <= T(Edges::kRampZoneLow), [&] { return T((1.0f - kRampSlope * t) - 0.5f); },
            [&] {
                return choose(
                    t >= T(Edges::kRampZoneHigh),
                    [&] { return T((t - 1.0f) * (-kRampSlope) + 0.5f); }, [&] { return t; });
            }));
    }

    // The pulse away from its edges: half the Pulse Level up to W, minus half past it.
    template <class T>
    FOURWAVE_DSP_INLINE static T plateau(const Levels<float> &l, T t, T width) {
        return select(t <= width, T(l.halfPulse), T(-l.halfPulse));
    }
    // Where pulseEdge answers something else than the plateau: the zones it tests, in its order.
    template <class T>
    FOURWAVE_DSP_INLINE static auto inPulseZone(T t, T width) {
        const auto upToWidth = t <= width;
        return (upToWidth & ((t < T(kRiseLateEnd)) | (t >= width - kPulseHalfWidth))) |
               ((!upToWidth) & ((t > T(kRiseEarlyStart)) | (t < width + kPulseHalfWidth)));
    }

    // The first matching zone wins: up to W the late rise over the fall, past W the early rise.
    template <class T>
    FOURWAVE_DSP_INLINE static T pulseEdge(const Levels<float> &l, T t, T width) {
        const auto upToWidth = [&] {
            return choose(
                t < T(kRiseLateEnd), [&] { return Edges::riseLate(l, t); },
                [&] {
                    return select(t >= width - kPulseHalfWidth, Edges::fall(l, t, width),
                                  T(l.halfPulse));
                });
        };
        const auto pastWidth = [&] {
            return choose(
                t > T(kRiseEarlyStart), [&] { return Edges::riseEarly(l, t); },
                [&] {
                    return select(t < width + kPulseHalfWidth, Edges::fall(l, t, width),
                                  T(-l.halfPulse));
                });
        };
        return choose(t <= width, upToWidth, pastWidth);
    }

    // The pitch on every lane, one stretch's pitch or not: its tests stay masks here.
    template <class T, class P>
    FOURWAVE_DSP_INLINE static LaneOutputs<T> step(const Levels<float> &l, EdgeMemory &, T t,
                                                   T width, P pitch, P) {
        const T p = pitch;
        LaneOutputs<T> out;
        const T clipped = Band::triangle(out, l, t, p);
        const auto top = Band::inTop(p);
        if (allLanes(top)) {
            Band::writeTop(out, l, clipped);
            return out;
        }

        // On lanes, where no lane is near an edge (most groups: the zones take a fifth of the
        // cycle), the zones' formulas are skipped: the ramp's argument is the clamped phase and
        // the pulse is on its plateau, the values the zones' selections give there. One sample
        // computes only its own zone's formula anyway.
        bool plateaus = false;
        if constexpr (LaneCount<T>::value > 1)
            plateaus = !anyLane(inRampZone(t) | (l.pulseOn & inPulseZone(t, width)));
        T x, edge;
        if (plateaus) {
            x = clampArgument(t);
            edge = l.pulseOn ? plateau(l, t, width) : T(0.0f);
        } else {
            x = rampArgument(t);
            edge = l.pulseOn ? pulseEdge(l, t, width) : T(0.0f);
        }
        out.ramp = !l.rampOn ? T(0.0f) : (0.5f - x) * l.ramp;
        out.saw = !l.sawOn ? T(0.0f) : -((0.5f - x) * l.saw);
        out.pulse = l.pulseOn
                        ? select(widthInRange(width), edge - (width - 0.5f) * l.pulse, T(0.0f))
                        : T(0.0f);

        Band::fade(out, l, clipped, p);
        if (anyLane(top)) Band::takeTop(out, l, clipped, top);
        return out;
    }
};

using BrightShape = SoftShape<BrightEdges>;
using MediumShape = SoftShape<MediumEdges>;
using DarkShape = SoftShape<DarkEdges>;

} // namespace fourwave::dsp
