// The one per-sample frame that all ten process routines run: block-start reads, the Active
// test, the 16-sample level refresh, the frequency step, the sync edge, the (modulated)
// waveform phase, the shape's waveform step and the phase advance, in that order for every
// sample. It runs them in stretches of samples, each in two passes (below): what is serial
// first, then the waveform steps, several samples at a time where the shape allows.
//
// The frame is a template on the shape, the modulation variant and the Active source, so a
// routine's loop carries no test of a setting. It runs on plain buffers and the oscillator
// state and knows nothing of pins, modules or the host: the Active source is whatever answers
// `read(i)` with the Active value of buffer index i (the module's source asks the host, a test's
// reads a script).
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <array>
#include <type_traits>

#include "shapes.h"

namespace fourwave::dsp {

// The refresh reads the levels where the remaining count r is 8 mod 16 (r = 8, 24, 40, ...):
// "audio rate/16" amplitude modulation.
constexpr int32_t kLevelRefreshPeriod = 16;
constexpr int32_t kLevelRefreshPhase = 8;

// How many samples from the one with `remaining` samples left to the next refresh sample: 0 on
// a refresh sample (two's complement: a negative difference still gives its residue).
FOURWAVE_DSP_INLINE int32_t samplesToLevelRefresh(int32_t remaining) {
    return (remaining - kLevelRefreshPhase) & (kLevelRefreshPeriod - 1);
}
inline bool isLevelRefreshSample(int32_t remaining) {
    return samplesToLevelRefresh(remaining) == 0;
}

// How a routine follows the Pitch input and which phase the waveform sees.
//   FollowPitch: Disable (once per block, at its first sample), Enable (every active sample),
//   Half (every second active sample, as the average of a pair).
//   PhaseModulated: the waveform phase is phase - Phase Mod x Phase, wrapped into [0, 1].
enum class FollowPitch { PerBlock, EverySample, EveryPair };

template <FollowPitch Follow, bool PhaseModulated>
struct Modulation {
    static constexpr FollowPitch kFollow = Follow;
    static constexpr bool kPhaseModulated = PhaseModulated;
    static constexpr bool kPitchAtBlockStart = Follow == FollowPitch::PerBlock;

    // Read positions move only on active samples.
    static void frequencyStep(Oscillator &osc, const float *pitch, int32_t &position,
                              int32_t remaining) {
        if constexpr (Follow == FollowPitch::EverySample) {
            osc.updatePitch(pitch[position]);
            ++position;
        } else if constexpr (Follow == FollowPitch::EveryPair) {
            // Pairs start on even remaining counts, so a pair never reaches past the block.
            if (remaining % 2 == 0) {
                osc.updatePitch((pitch[position] + pitch[position + 1]) * 0.5f);
                position += 2;
            }
        }
    }

    static float waveformPhase(float phase, const float *signal, const float *depth,
                               int32_t &position) {
        if constexpr (PhaseModulated) {
            const float t = modulatePhase(phase, signal[position], depth[position]);
            ++position;
            return t;
        } else {
            return phase;
        }
    }
};

using NoModulation = Modulation<FollowPitch::PerBlock, false>;

// The buffers of one instance, indexed by the block's buffer positions: the twelve inputs the
// frame reads (Active is read through the Active source) and the four outputs.
struct FrameBuffers {
    const float *pitch;
    const float *width;
    const float *sync;
    const float *syncThreshold;
    const float *syncAdvance;
    const float *phase;
    const float *phaseMod;
    const float *pulseLevel;
    const float *rampLevel;
    const float *sawLevel;
    const float *triangleLevel;
    float *ramp;
    float *saw;
    float *pulse;
    float *triangle;
};

// What the frame carries from block to block.
struct FrameState {
    Oscillator oscillator;
    EdgeMemory memory;
};

// The four level inputs at buffer index i, limited.
inline LevelSet readLevels(const FrameBuffers &b, int32_t i) {
    return makeLevelSet(b.pulseLevel[i], b.rampLevel[i], b.sawLevel[i], b.triangleLevel[i]);
}

// The four level inputs as they come, in the order pulse, ramp, saw, triangle, for the samples
// of a lane type from buffer index i on (before the limit: what Perfect 2 compares).
template <class T>
FOURWAVE_DSP_INLINE std::array<T, 4> loadLevelInputs(const FrameBuffers &b, int32_t i) {
    std::array<T, 4> in;
    loadLanes(in[0], b.pulseLevel + i);
    loadLanes(in[1], b.rampLevel + i);
    loadLanes(in[2], b.sawLevel + i);
    loadLanes(in[3], b.triangleLevel + i);
    return in;
}

// The bits of the four level inputs at buffer index i, in the same order.
inline std::array<uint32_t, 4> levelInputBits(const FrameBuffers &b, int32_t i) {
    return {bitsAt(b.pulseLevel + i), bitsAt(b.rampLevel + i), bitsAt(b.sawLevel + i),
            bitsAt(b.triangleLevel + i)};
}

// Where the level inputs of the samples of a lane type from buffer index i on have the bits
// `held`.
template <class T>
FOURWAVE_DSP_INLINE auto sameLevelInputs(const FrameBuffers &b, int32_t i,
                                         const std::array<uint32_t, 4> &held) {
    const auto pulse = sameBits(b.pulseLevel + i, held[0], T());
    const auto ramp = sameBits(b.rampLevel + i, held[1], T());
    const auto saw = sameBits(b.sawLevel + i, held[2], T());
    const auto triangle = sameBits(b.triangleLevel + i, held[3], T());
    return pulse & ramp & saw & triangle;
}

// The same limited, each lane its own.
template <class T>
FOURWAVE_DSP_INLINE Levels<T> readLaneLevels(const FrameBuffers &b, int32_t i) {
    const std::array<T, 4> in = loadLevelInputs<T>(b, i);
    return limitedLevels(in[0], in[1], in[2], in[3]);
}

// A block runs in stretches of up to kStretchSamples samples. Each stretch has two passes: a
// serial one that makes every sample's Active test (the host sees its calls in the same
// order), the frequency step, the sync edge, the waveform phase and the phase advance, and
// collects the waveform phases; then the waveform pass, which runs the shape's step over each
// run of active samples, several samples at a time where the shape allows, in segments of at
// most 16 samples: for the shapes that hold their levels, from one level refresh to the next
// (an active refresh sample takes the levels), for Perfect 2 16 samples from the stretch's
// start (where its level inputs hold, it takes them once).
//
// Each routine's frame is whole: the serial pass hands each run to the shape's waveform pass,
// inlined. Sharing the serial pass between the shapes (through a pointer per run) made the
// routines' code in a patch smaller, but every routine alone dearer.
constexpr int32_t kStretchSamples = 32;
constexpr int32_t kSegmentSamples = kLevelRefreshPeriod;

// What the serial pass collects, by offset in the stretch: the waveform phase, the crossfade
// pitch and the increment (where FM moves them within the stretch), and the Active values.
struct Stretch {
    alignas(16) float phase[kStretchSamples];
    alignas(16) float pitch[kStretchSamples];
    alignas(16) float increment[kStretchSamples];
    alignas(16) float active[kStretchSamples]; // the stretch's Active values, read first
    // Written before read, sample by sample: not cleared at every block.
    Stretch() {}
};

// One run of active samples of a stretch, as the serial pass hands it to the waveform pass.
struct StretchRun {
    int32_t first;     // the stretch's first buffer index
    int32_t remaining; // the block's samples from there on (the refresh samples follow from it)
    int32_t from, to;  // the run: offsets from .. to - 1
    float pitch;       // the crossfade pitch and increment of the whole stretch, where they hold
    float increment;
};

// Levels read at every sample: whether this stretch's move (then read per lane), and the inputs
// the held levels were last taken from.
struct LevelHold {
    bool move;
    bool taken;
    std::array<uint32_t, 4> inputs; // their bits
    LevelHold() : move(false), taken(false), inputs{} {}
};

// The shape's part of a block: its levels, Perfect 2's memories, and the waveform pass.
template <class Shape, class Lane>
struct ShapePass {
    Levels<float> levels;
    LevelHold held;
    EdgeMemory memory;

    explicit ShapePass(const EdgeMemory &m) : levels{}, held(), memory(m) {}

    // The shape's step on the stretch's samples k .. k + lanes - 1 (buffer index first + k on),
    // with the levels l. Where the stretch has one pitch and increment, the step has them as
    // one value, and its tests of them are branches.
    template <class T, bool PerSamplePitch, class L>
    FOURWAVE_DSP_INLINE void stepWith(const L &l, const FrameBuffers &b, const Stretch &s,
                                      const StretchRun &r, int32_t k) {
        using Pitch = std::conditional_t<PerSamplePitch, T, float>;
        T t, width;
        Pitch p, increment;
        loadLanes(t, s.phase + k);
        loadLanes(width, b.width + r.first + k);
        if constexpr (PerSamplePitch) {
            loadLanes(p, s.pitch + k);
            loadLanes(increment, s.increment + k);
        } else {
            p = r.pitch;
            increment = r.increment;
        }
        const LaneOutputs<T> out = Shape::step(l, memory, t, width, p, increment);
        const int32_t i = r.first + k;
        storeLanes(b.ramp + i, out.ramp);
        storeLanes(b.saw + i, out.saw);
        storeLanes(b.pulse + i, out.pulse);
        storeLanes(b.triangle + i, out.triangle);
    }

    template <class T, bool PerSamplePitch>
    FOURWAVE_DSP_INLINE void step(const FrameBuffers &b, const Stretch &s, const StretchRun &r,
                                  int32_t k) {
        if constexpr (Shape::kLevelsEverySample) {
            if (held.move) {
                stepWith<T, PerSamplePitch>(readLaneLevels<T>(b, r.first + k), b, s, r, k);
                return;
            }
        }
        stepWith<T, PerSamplePitch>(levels, b, s, r, k);
    }

    // Levels read at every sample: a segment whose level inputs hold their bits throughout
    // takes them once, for every lane (unless they are the ones taken last); any other reads
    // them per sample.
    FOURWAVE_DSP_INLINE void holdLevels(const FrameBuffers &b, int32_t first, int32_t count) {
        const std::array<uint32_t, 4> inputs = levelInputBits(b, first);
        held.move = anyOffset<Lane>(count, [&](int32_t k, auto lane) FOURWAVE_DSP_INLINE_LAMBDA {
            return !sameLevelInputs<decltype(lane)>(b, first + k, inputs);
        });
        if (held.move || (held.taken && inputs == held.inputs)) return;
        levels = Shape::take(readLevels(b, first));
        held.inputs = inputs;
        held.taken = true;
    }

    // The waveform pass over one run of a stretch's active samples, segment by segment.
    template <bool PerSamplePitch>
    FOURWAVE_DSP_INLINE void run(const FrameBuffers &b, const Stretch &s, const StretchRun &r) {
        for (int32_t k = r.from; k < r.to;) {
            int32_t stop;
            if constexpr (Shape::kLevelsEverySample) {
                stop = (k / kSegmentSamples + 1) * kSegmentSamples;
                if (stop > r.to) stop = r.to;
                holdLevels(b, r.first + k, stop - k);
            } else {
                const int32_t toRefresh = samplesToLevelRefresh(r.remaining - k);
                if (toRefresh == 0) levels = Shape::take(readLevels(b, r.first + k));
                stop = k + (toRefresh == 0 ? kLevelRefreshPeriod : toRefresh);
                if (stop > r.to) stop = r.to;
            }
            forLanes<Lane>(k, stop, [&](int32_t j, auto lane) FOURWAVE_DSP_INLINE_LAMBDA {
                step<decltype(lane), PerSamplePitch>(b, s, r, j);
            });
            k = stop;
        }
    }
};

// An Active source as small as a pointer (the module's) is copied into the serial pass, so
// that its loop keeps it in a register across the host calls; any other is used in place.
template <class ActiveSource>
using HeldSource = std::conditional_t<std::is_trivially_copyable_v<ActiveSource> &&
                                          sizeof(ActiveSource) <= sizeof(void *),
                                      ActiveSource, ActiveSource &>;

// The block's serial pass: the buffers, the oscillator in locals, the read positions, the
// stretch's arrays; each stretch's waveforms through the shape's pass, inlined.
template <class Shape, class Mod, class ActiveSource, class Lane>
struct SerialRun {
    static constexpr bool kPitchVaries = !Mod::kPitchAtBlockStart;

    const FrameBuffers b;
    HeldSource<ActiveSource> activeSource;
    // The shape's pass by value, so that its levels are the block record's and the compiler
    // keeps them as it keeps the oscillator.
    ShapePass<Shape, Lane> pass;
    Oscillator osc;
    const float syncThreshold;
    const float syncAdvance;
    int32_t pitchPosition;
    int32_t phasePosition;
    const int32_t end;
    Stretch stretch;

    FOURWAVE_DSP_INLINE void silence(int32_t i) {
        b.ramp[i] = 0.0f;
        b.saw[i] = 0.0f;
        b.pulse[i] = 0.0f;
        b.triangle[i] = 0.0f;
    }

    // The waveform pass over the stretch's active samples, run by run between the silent ones
    // (at once where none is silent): one place that hands a run on, so that the waveform pass
    // is inlined once per pitch kind.
    template <bool PerSamplePitch>
    FOURWAVE_DSP_INLINE void waveforms(int32_t first, int32_t count, uint32_t silent) {
        StretchRun r{first, end - first, 0, count, osc.lastPitch, osc.phaseIncrement};
        uint32_t sounding = ~silent & lowBits(count);
        for (;;) {
            if (silent != 0) {
                r.from = trailingZeros(sounding);
                r.to = r.from + trailingZeros(~(sounding >> r.from));
                sounding &= ~lowBits(r.to);
            }
            pass.template run<PerSamplePitch>(b, stretch, r);
            if (sounding == 0 || r.to == count) return;
        }
    }

    // A stretch sample by sample, as the block frame defines it (its Active values read).
    FOURWAVE_DSP_INLINE void general(int32_t first, int32_t stop, uint32_t silent) {
        for (int32_t i = first; i < stop; ++i) {
            const int32_t k = i - first;
            if ((silent >> k) & 1u) {
                silence(i);
                osc.advancePhase();
                continue;
            }
            Mod::frequencyStep(osc, b.pitch, pitchPosition, end - i);
            osc.processSyncEdge(b.sync[i], syncThreshold, syncAdvance);
            stretch.phase[k] = Mod::waveformPhase(osc.phase, b.phase, b.phaseMod, phasePosition);
            // The crossfade pitch is the value the increment in force was computed from.
            if constexpr (kPitchVaries) {
                stretch.pitch[k] = osc.lastPitch;
                stretch.increment[k] = osc.phaseIncrement;
            }
            osc.advancePhase();
        }
    }

    // Whether in this stretch, whichever of its samples are active, no sync edge can come or
    // re-arm the detector, no frequency step can change the increment, and the phase advances
    // in range: then the phases do not depend on the Active values and every sample has the
    // same increment and crossfade pitch.
    FOURWAVE_DSP_INLINE bool steady(int32_t first, int32_t stop) const {
        const int32_t count = stop - first;
        if (!osc.advancesInRange()) return false;
        const bool syncMoves = osc.syncArmed
                                   ? anyValue<Lane>(b.sync + first, count,
                                                    [](auto s) { return s > decltype(s)(0.0f); })
                                   : anyValue<Lane>(b.sync + first, count,
                                                    [](auto s) { return s <= decltype(s)(0.0f); });
        if (syncMoves) return false;
        const float lastPitch = osc.lastPitch;
        const auto differs = [lastPitch](auto v) { return v != decltype(v)(lastPitch); };
        if constexpr (Mod::kFollow == FollowPitch::EverySample) {
            return !anyValue<Lane>(b.pitch + pitchPosition, count, differs);
        } else if constexpr (Mod::kFollow == FollowPitch::EveryPair) {
            // Pairs of the held value average to it unless their sum overflows; a stretch's
            // pairs read at most one value past its length, and never past the block.
            const int32_t reach = pitchPosition + count + 1 < end ? count + 1 : end - pitchPosition;
            return (lastPitch + lastPitch) * 0.5f == lastPitch &&
                   !anyValue<Lane>(b.pitch + pitchPosition, reach, differs);
        }
        return true;
    }

    // A steady stretch (its Active values read): the phase recurrence in a loop of its own;
    // then what the active samples still move, the read positions (the frequency step changes
    // nothing else there) and the modulated phases, four at a time where every sample is active
    // (the usual case), else sample by sample.
    FOURWAVE_DSP_INLINE void steadyStretch(int32_t first, int32_t stop, uint32_t silent) {
        const int32_t count = stop - first;
        // The phase and increment in locals: the stores to the stretch's phases might, as far
        // as the compiler knows, change the oscillator's, which it would then load again.
        float phase = osc.phase;
        const float increment = osc.phaseIncrement;
#pragma GCC unroll 4
        for (int32_t k = 0; k < count; ++k) {
            stretch.phase[k] = phase;
            phase = Oscillator::advancedInRange(phase, increment);
        }
        osc.phase = phase;
        if (silent == 0) {
            if constexpr (Mod::kPhaseModulated) {
                // The k-th sample reads the Phase input at the k-th position from here.
                const float *signal = b.phase + phasePosition, *depth = b.phaseMod + phasePosition;
                forLanes<Lane>(0, count, [&](int32_t k, auto lane) FOURWAVE_DSP_INLINE_LAMBDA {
                    using T = decltype(lane);
                    T t, s, d;
                    loadLanes(t, stretch.phase + k);
                    loadLanes(s, signal + k);
                    loadLanes(d, depth + k);
                    storeLanes(stretch.phase + k, modulatePhase(t, s, d));
                });
                phasePosition += count;
            }
            if constexpr (Mod::kFollow == FollowPitch::EverySample) {
                pitchPosition += count;
            } else if constexpr (Mod::kFollow == FollowPitch::EveryPair) {
                // A pair at each even remaining count: half the stretch, and its first sample
                // too when the stretch is odd and starts on an even count.
                pitchPosition += 2 * ((count + ((end - first) % 2 == 0 ? 1 : 0)) / 2);
            }
        } else {
            for (int32_t k = 0; k < count; ++k) {
                if ((silent >> k) & 1u) {
                    silence(first + k);
                    continue;
                }
                if constexpr (!Mod::kPitchAtBlockStart)
                    Mod::frequencyStep(osc, b.pitch, pitchPosition, end - (first + k));
                if constexpr (Mod::kPhaseModulated)
                    stretch.phase[k] =
                        Mod::waveformPhase(stretch.phase[k], b.phase, b.phaseMod, phasePosition);
            }
        }
    }

    // Each stretch's Active values are read first, in a loop with nothing else in it: the host
    // sees the same calls in the same order (nothing else of the frame calls it), and no state
    // is live across them. A stretch with no active sample is silent and only advances. Any
    // other runs its serial pass, steady or sample by sample, then its waveforms: where the
    // pitch can move within a stretch, those of a steady stretch with the stretch's one pitch.
    FOURWAVE_DSP_INLINE void run(int32_t blockOffset) {
        for (int32_t first = blockOffset; first < end;) {
            const int32_t stop = end - first <= kStretchSamples ? end : first + kStretchSamples;
            const int32_t count = stop - first;
            for (int32_t k = 0; k < count; ++k) stretch.active[k] = activeSource.read(first + k);
            // Bit k: the stretch's k-th sample is silent (its Active value is zero).
            const uint32_t silent = zeroMask<Lane>(stretch.active, count);
            if (silent == lowBits(count)) {
                for (int32_t i = first; i < stop; ++i) {
                    silence(i);
                    osc.advancePhase();
                }
                first = stop;
                continue;
            }
            const bool steadyHere = steady(first, stop);
            if (steadyHere)
                steadyStretch(first, stop, silent);
            else
                general(first, stop, silent);
            if (kPitchVaries && !steadyHere)
                waveforms<true>(first, count, silent);
            else
                waveforms<false>(first, count, silent);
            first = stop;
        }
    }
};

// One block: buffer positions blockOffset to blockOffset + sampleCount - 1. Lane is the value
// type of the waveform pass (float: one sample at a time).
template <class Shape, class Mod, class ActiveSource, class Lane = WideLane>
void runFrame(const FrameBuffers &buffers, FrameState &state, ActiveSource &activeSource,
              int32_t blockOffset, int32_t sampleCount) {
    Oscillator osc = state.oscillator;
    if constexpr (Mod::kPitchAtBlockStart) osc.updatePitch(buffers.pitch[blockOffset]);
    if (sampleCount <= 0) {
        state.oscillator = osc;
        return;
    }

    // The addresses are copied into the block's record: read through the caller's record
    // inside the loop, they might be reloaded after every sample's Active read, which may (as
    // far as the compiler knows) have changed it.
    SerialRun<Shape, Mod, ActiveSource, Lane> block{buffers,
                                                    activeSource,
                                                    ShapePass<Shape, Lane>(state.memory),
                                                    osc,
                                                    buffers.syncThreshold[blockOffset],
                                                    buffers.syncAdvance[blockOffset],
                                                    blockOffset,
                                                    blockOffset,
                                                    blockOffset + sampleCount,
                                                    Stretch()};
    if constexpr (!Shape::kLevelsEverySample)
        block.pass.levels = Shape::take(readLevels(buffers, blockOffset));
    block.run(blockOffset);
    state.oscillator = block.osc;
    state.memory = block.pass.memory;
}

} // namespace fourwave::dsp
