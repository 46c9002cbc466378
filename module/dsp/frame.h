// The one per-sample frame that all ten process routines run: block-start reads, the Active
// test, the 16-sample level refresh, the frequency step, the sync edge, the (modulated)
// waveform phase, the shape's waveform step and the phase advance, in that order.
//
// The frame is a template on the shape, the modulation variant and the Active source, so a
// routine's loop carries no test of a setting. It runs on plain buffers and the oscillator
// state and knows nothing of pins, modules or the host: the Active source is whatever answers
// `read(i)` with the Active value of buffer index i (the module's source asks the host, a test's
// reads a script).
#pragma once

#include <stdint.h>

#include "shapes.h"

namespace fourwave::dsp {

// The refresh reads the levels where the remaining count r is 8 mod 16 (r = 8, 24, 40, ...):
// "audio rate/16" amplitude modulation.
constexpr int32_t kLevelRefreshPeriod = 16;
constexpr int32_t kLevelRefreshPhase = 8;

inline bool isLevelRefreshSample(int32_t remaining) {
    return remaining % kLevelRefreshPeriod == kLevelRefreshPhase;
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

// A block runs in chunks of up to kChunkSamples consecutive active samples that share one
// level read. A serial pass makes each sample's Active test (the host sees its calls in
// order), the level refresh, the frequency step, the sync edge, the waveform phase and the
// phase advance, and collects what the waveform needs; the waveform pass then runs the
// shape's step over the chunk, several samples at a time where the shape allows it.
constexpr int32_t kChunkSamples = 16;

// What the serial pass collects: per sample, the waveform phase; where they can move within a
// block (FM), the crossfade pitch and the increment; for Perfect 2, the levels.
template <class Shape, bool PitchVaries>
struct Chunk {
    static constexpr int32_t kVarying = PitchVaries ? kChunkSamples : 1;
    static constexpr int32_t kLevelSlots = Shape::kLevelsEverySample ? kChunkSamples : 1;
    alignas(16) float phase[kChunkSamples];
    alignas(16) float pitch[kVarying];
    alignas(16) float increment[kVarying];
    typename Shape::Levels levels[kLevelSlots];
    int32_t count = 0;
};

// The shape's step on the collected samples k .. k + lanes - 1, buffer index first + k on.
template <class Lane, class Shape, bool PitchVaries>
FOURWAVE_DSP_INLINE void waveformLanes(const FrameBuffers &b, const Chunk<Shape, PitchVaries> &c,
                                       const typename Shape::Levels &heldLevels,
                                       EdgeMemory &memory, float blockPitch, float blockIncrement,
                                       int32_t first, int32_t k) {
    Lane t, width, p, increment;
    loadLanes(t, c.phase + k);
    loadLanes(width, b.width + first + k);
    if constexpr (PitchVaries) {
        loadLanes(p, c.pitch + k);
        loadLanes(increment, c.increment + k);
    } else {
        p = blockPitch;
        increment = blockIncrement;
    }
    const typename Shape::Levels &levels = Shape::kLevelsEverySample ? c.levels[k] : heldLevels;
    const LaneOutputs<Lane> out = Shape::step(levels, memory, t, width, p, increment);
    storeLanes(b.ramp + first + k, out.ramp);
    storeLanes(b.saw + first + k, out.saw);
    storeLanes(b.pulse + first + k, out.pulse);
    storeLanes(b.triangle + first + k, out.triangle);
}

// The waveform pass over a chunk whose last sample is buffer index end - 1; empties it.
template <class Lane, class Shape, bool PitchVaries>
FOURWAVE_DSP_INLINE void waveformPass(const FrameBuffers &b, Chunk<Shape, PitchVaries> &c,
                                      const typename Shape::Levels &heldLevels,
                                      EdgeMemory &memory, const Oscillator &osc, int32_t end) {
    const int32_t first = end - c.count;
    int32_t k = 0;
    if constexpr (Shape::kLaneStep && LaneCount<Lane>::value > 1) {
        constexpr int32_t kLanes = LaneCount<Lane>::value;
        for (; k + kLanes <= c.count; k += kLanes)
            waveformLanes<Lane>(b, c, heldLevels, memory, osc.lastPitch, osc.phaseIncrement,
                                first, k);
    }
    for (; k < c.count; ++k)
        waveformLanes<float>(b, c, heldLevels, memory, osc.lastPitch, osc.phaseIncrement, first,
                             k);
    c.count = 0;
}

// One block: buffer positions blockOffset to blockOffset + sampleCount - 1. Lane is the value
// type of the waveform pass (float: one sample at a time).
template <class Shape, class Mod, class ActiveSource, class Lane = WideLane>
void runFrame(const FrameBuffers &buffers, FrameState &state, ActiveSource &activeSource,
              int32_t blockOffset, int32_t sampleCount) {
    typename Shape::Levels levels{};
    if constexpr (!Shape::kLevelsEverySample) levels = Shape::take(readLevels(buffers, blockOffset));
    Oscillator osc = state.oscillator;
    if constexpr (Mod::kPitchAtBlockStart) osc.updatePitch(buffers.pitch[blockOffset]);
    if (sampleCount <= 0) {
        state.oscillator = osc;
        return;
    }

    const float syncThreshold = buffers.syncThreshold[blockOffset];
    const float syncAdvance = buffers.syncAdvance[blockOffset];
    // The addresses are locals of the block: read through a record inside the loop, they might
    // be reloaded after every sample's Active read, which may (as far as the compiler knows)
    // have changed the record.
    const FrameBuffers b = buffers;
    EdgeMemory memory = state.memory;
    int32_t pitchPosition = blockOffset;
    int32_t phasePosition = blockOffset;
    const int32_t end = blockOffset + sampleCount;
    constexpr bool kPitchVaries = !Mod::kPitchAtBlockStart;
    Chunk<Shape, kPitchVaries> chunk;

    for (int32_t i = blockOffset; i < end; ++i) {
        const int32_t remaining = end - i;
        if constexpr (Shape::kLevelsEverySample)
            chunk.levels[chunk.count] = Shape::take(readLevels(b, i));

        const float active = activeSource.read(i);
        if (active == 0.0f) {
            waveformPass<Lane>(b, chunk, levels, memory, osc, i);
            b.ramp[i] = 0.0f;
            b.saw[i] = 0.0f;
            b.pulse[i] = 0.0f;
            b.triangle[i] = 0.0f;
            osc.advancePhase();
            continue;
        }

        if constexpr (!Shape::kLevelsEverySample) {
            if (isLevelRefreshSample(remaining)) {
                waveformPass<Lane>(b, chunk, levels, memory, osc, i);
                levels = Shape::take(readLevels(b, i));
            }
        }
        Mod::frequencyStep(osc, b.pitch, pitchPosition, remaining);
        osc.processSyncEdge(b.sync[i], syncThreshold, syncAdvance);
        chunk.phase[chunk.count] = Mod::waveformPhase(osc.phase, b.phase, b.phaseMod, phasePosition);
        // The crossfade pitch is the value the increment in force was computed from.
        if constexpr (kPitchVaries) {
            chunk.pitch[chunk.count] = osc.lastPitch;
            chunk.increment[chunk.count] = osc.phaseIncrement;
        }
        ++chunk.count;
        osc.advancePhase();
        if (chunk.count == kChunkSamples) waveformPass<Lane>(b, chunk, levels, memory, osc, i + 1);
    }
    waveformPass<Lane>(b, chunk, levels, memory, osc, end);

    state.oscillator = osc;
    state.memory = memory;
}

} // namespace fourwave::dsp
