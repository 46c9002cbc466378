// The block entry every process routine passes through, and the two routine templates built
// on it. Each shape's pair of routines is instantiated in a file of its own
// (routines_<shape>.cpp), so that no routine's code depends on how much else its file holds.
#pragma once

#include <stdint.h>

#include "active_source.h"
#include "dsp/frame.h"
#include "module.h"
#include "sdk/fp_environment.h"

namespace fourwave {

// The one block entry of all ten routines: the module's floating-point environment for the
// block, whoever installed the routine.
template <class Shape, class Mod>
int32_t runBlock(Module &m, int32_t blockOffset, int32_t sampleCount) {
    const FloatEnvironmentGuard environment; // the host calls the routines directly
    if (!m.buffersBound()) return 0;
    const dsp::FrameBuffers buffers = m.frameBuffers();
    dsp::FrameState state{m.loadOscillator(), dsp::EdgeMemory{m.lastPulseSign, m.lastRampValue}};
    PinActiveSource active{m.getPin(ACTIVE_INPUT)};
    dsp::runFrame<Shape, Mod>(buffers, state, active, blockOffset, sampleCount);
    m.storeOscillator(state.oscillator);
    m.lastPulseSign = state.memory.lastPulseSign;
    m.lastRampValue = state.memory.lastRampValue;
    return 0;
}

// A plain routine: the shape's frame with the pitch followed once per block.
template <class Shape>
int32_t processPlain(void *object, int32_t blockOffset, int32_t sampleCount) {
    return runBlock<Shape, dsp::NoModulation>(*static_cast<Module *>(object), blockOffset,
                                              sampleCount);
}

// A modulation routine: the settings are constant during a block, so the variant is chosen
// here, once, and the sample loop is the frame instantiated for it. An FM setting other than
// Enable or Half follows the pitch per block, and PM is on only at Enable.
template <class Shape>
int32_t processModulated(void *object, int32_t blockOffset, int32_t sampleCount) {
    using dsp::FollowPitch, dsp::Modulation;
    Module &m = *static_cast<Module *>(object);
    const bool pm = m.pmMode == PM_ENABLE;
    switch (m.fmMode) {
    case FM_ENABLE:
        return pm ? runBlock<Shape, Modulation<FollowPitch::EverySample, true>>(m, blockOffset,
                                                                                sampleCount)
                  : runBlock<Shape, Modulation<FollowPitch::EverySample, false>>(m, blockOffset,
                                                                                 sampleCount);
    case FM_HALF:
        return pm ? runBlock<Shape, Modulation<FollowPitch::EveryPair, true>>(m, blockOffset,
                                                                              sampleCount)
                  : runBlock<Shape, Modulation<FollowPitch::EveryPair, false>>(m, blockOffset,
                                                                               sampleCount);
    default:
        return pm ? runBlock<Shape, Modulation<FollowPitch::PerBlock, true>>(m, blockOffset,
                                                                             sampleCount)
                  : runBlock<Shape, dsp::NoModulation>(m, blockOffset, sampleCount);
    }
}

} // namespace fourwave
