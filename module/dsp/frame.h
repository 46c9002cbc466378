// The one per-sample frame that all ten process routines run: block-start reads, the Active
// test, the 16-sample level refresh, the frequency step, the sync edge, the (modulated)
// waveform phase, the shape's waveform step and the phase advance, in that order. The shape
// and the modulation variant are compile-time policies, so a routine's loop carries no test of
// a setting; the modulation routines pick their variant once per block.
#pragma once

#include "module/module.h"
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

template <class Shape, class Mod>
int32_t runBlock(Module &m, int32_t blockOffset, int32_t sampleCount) {
    if (!m.buffersBound()) return 0;

    typename Shape::Levels levels{};
    if constexpr (!Shape::kLevelsEverySample) levels = Shape::take(m.readLevels(blockOffset));
    Oscillator osc = m.loadOscillator();
    if constexpr (Mod::kPitchAtBlockStart) osc.updatePitch(m.pitchIn[blockOffset]);
    if (sampleCount <= 0) {
        m.storeOscillator(osc);
        return 0;
    }

    const float syncThreshold = m.syncThresholdIn[blockOffset];
    const float syncAdvance = m.syncAdvanceIn[blockOffset];
    SEPin *const activePin = m.getPin(fourwave::ACTIVE_INPUT);
    // The host binds the buffers before it processes and never during a process call, so
    // their addresses are read once here: read through the module inside the loop, they
    // would be reloaded after every sample's host calls, which may (as far as the compiler
    // knows) have changed the module.
    float *const rampOut = m.rampOut;
    float *const sawOut = m.sawOut;
    float *const pulseOut = m.pulseOut;
    float *const triangleOut = m.triangleOut;
    const float *const pitchIn = m.pitchIn;
    const float *const widthIn = m.widthIn;
    const float *const syncIn = m.syncIn;
    const float *const phaseIn = m.phaseIn;
    const float *const phaseModIn = m.phaseModIn;
    EdgeMemory memory{m.lastPulseSign, m.lastRampValue};
    int32_t pitchPosition = blockOffset;
    int32_t phasePosition = blockOffset;
    const int32_t end = blockOffset + sampleCount;

    for (int32_t i = blockOffset; i < end; ++i) {
        const int32_t remaining = end - i;
        if constexpr (Shape::kLevelsEverySample) levels = Shape::take(m.readLevels(i));

        // A missing Active pin reads as 0: the instance stays silent rather than crash.
        const float active = activePin != nullptr ? activePin->getValue() : 0.0f;
        if (active == 0.0f) {
            rampOut[i] = 0.0f;
            sawOut[i] = 0.0f;
            pulseOut[i] = 0.0f;
            triangleOut[i] = 0.0f;
            osc.advancePhase();
            continue;
        }

        if constexpr (!Shape::kLevelsEverySample)
            if (isLevelRefreshSample(remaining)) levels = Shape::take(m.readLevels(i));
        Mod::frequencyStep(osc, pitchIn, pitchPosition, remaining);
        osc.processSyncEdge(syncIn[i], syncThreshold, syncAdvance);
        const float t = Mod::waveformPhase(osc.phase, phaseIn, phaseModIn, phasePosition);

        // The crossfade pitch is the value the increment in force was computed from.
        const Outputs out =
            Shape::step(levels, memory, t, widthIn[i], osc.lastPitch, osc.phaseIncrement);
        rampOut[i] = out.ramp;
        sawOut[i] = out.saw;
        pulseOut[i] = out.pulse;
        triangleOut[i] = out.triangle;
        osc.advancePhase();
    }

    m.storeOscillator(osc);
    m.lastPulseSign = memory.lastPulseSign;
    m.lastRampValue = memory.lastRampValue;
    return 0;
}

// A plain routine: the shape's frame with the pitch followed once per block.
template <class Shape>
int32_t SE_ABI processPlain(void *object, int32_t blockOffset, int32_t sampleCount) {
    return runBlock<Shape, NoModulation>(*static_cast<Module *>(object), blockOffset, sampleCount);
}

// A modulation routine: the settings are constant during a block, so the variant is chosen
// here, once, and the sample loop is the frame instantiated for it. An FM setting other than
// Enable or Half follows the pitch per block, and PM is on only at Enable.
template <class Shape>
int32_t SE_ABI processModulated(void *object, int32_t blockOffset, int32_t sampleCount) {
    Module &m = *static_cast<Module *>(object);
    const bool pm = m.pmMode == fourwave::PM_ENABLE;
    switch (m.fmMode) {
    case fourwave::FM_ENABLE:
        return pm ? runBlock<Shape, Modulation<FollowPitch::EverySample, true>>(m, blockOffset,
                                                                                 sampleCount)
                  : runBlock<Shape, Modulation<FollowPitch::EverySample, false>>(m, blockOffset,
                                                                                  sampleCount);
    case fourwave::FM_HALF:
        return pm ? runBlock<Shape, Modulation<FollowPitch::EveryPair, true>>(m, blockOffset,
                                                                               sampleCount)
                  : runBlock<Shape, Modulation<FollowPitch::EveryPair, false>>(m, blockOffset,
                                                                                sampleCount);
    default:
        return pm ? runBlock<Shape, Modulation<FollowPitch::PerBlock, true>>(m, blockOffset,
                                                                              sampleCount)
                  : runBlock<Shape, NoModulation>(m, blockOffset, sampleCount);
    }
}

} // namespace fourwave::dsp
