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

// One block: buffer positions blockOffset to blockOffset + sampleCount - 1.
template <class Shape, class Mod, class ActiveSource>
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

    for (int32_t i = blockOffset; i < end; ++i) {
        const int32_t remaining = end - i;
        if constexpr (Shape::kLevelsEverySample) levels = Shape::take(readLevels(b, i));

        const float active = activeSource.read(i);
        if (active == 0.0f) {
            b.ramp[i] = 0.0f;
            b.saw[i] = 0.0f;
            b.pulse[i] = 0.0f;
            b.triangle[i] = 0.0f;
            osc.advancePhase();
            continue;
        }

        if constexpr (!Shape::kLevelsEverySample)
            if (isLevelRefreshSample(remaining)) levels = Shape::take(readLevels(b, i));
        Mod::frequencyStep(osc, b.pitch, pitchPosition, remaining);
        osc.processSyncEdge(b.sync[i], syncThreshold, syncAdvance);
        const float t = Mod::waveformPhase(osc.phase, b.phase, b.phaseMod, phasePosition);

        // The crossfade pitch is the value the increment in force was computed from.
        const Outputs out =
            Shape::step(levels, memory, t, b.width[i], osc.lastPitch, osc.phaseIncrement);
        b.ramp[i] = out.ramp;
        b.saw[i] = out.saw;
        b.pulse[i] = out.pulse;
        b.triangle[i] = out.triangle;
        osc.advancePhase();
    }

    state.oscillator = osc;
    state.memory = memory;
}

} // namespace fourwave::dsp
