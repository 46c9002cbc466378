// The ten process routines: the frame (dsp/frame.h) instantiated for each shape and modulation
// variant, run on the module's buffers and state with the Active input read through its pin;
// and the table that selects among them.
#include "routines.h"

#include "active_source.h"
#include "dsp/frame.h"
#include "module.h"
#include "sdk/fp_environment.h"

namespace fourwave {

using namespace dsp;

namespace {

FrameBuffers buffersOf(const Module &m) { return m.frameBuffers(); }

template <class Shape, class Mod>
int32_t runBlock(Module &m, int32_t blockOffset, int32_t sampleCount) {
    const FloatEnvironmentGuard environment; // the host calls the routines directly
    if (!m.buffersBound()) return 0;
    const FrameBuffers buffers = buffersOf(m);
    FrameState state{m.loadOscillator(), EdgeMemory{m.lastPulseSign, m.lastRampValue}};
    PinActiveSource active{m.getPin(ACTIVE_INPUT)};
    runFrame<Shape, Mod>(buffers, state, active, blockOffset, sampleCount);
    m.storeOscillator(state.oscillator);
    m.lastPulseSign = state.memory.lastPulseSign;
    m.lastRampValue = state.memory.lastRampValue;
    return 0;
}

// A plain routine: the shape's frame with the pitch followed once per block.
template <class Shape>
int32_t processPlain(void *object, int32_t blockOffset, int32_t sampleCount) {
    return runBlock<Shape, NoModulation>(*static_cast<Module *>(object), blockOffset, sampleCount);
}

// A modulation routine: the settings are constant during a block, so the variant is chosen
// here, once, and the sample loop is the frame instantiated for it. An FM setting other than
// Enable or Half follows the pitch per block, and PM is on only at Enable.
template <class Shape>
int32_t processModulated(void *object, int32_t blockOffset, int32_t sampleCount) {
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
                  : runBlock<Shape, NoModulation>(m, blockOffset, sampleCount);
    }
}

} // namespace

int32_t SE_ABI processPerfect(void *o, int32_t b, int32_t n) { return processPlain<PerfectShape>(o, b, n); }
int32_t SE_ABI processPerfectMod(void *o, int32_t b, int32_t n) { return processModulated<PerfectShape>(o, b, n); }
int32_t SE_ABI processPerfect2(void *o, int32_t b, int32_t n) { return processPlain<Perfect2Shape>(o, b, n); }
int32_t SE_ABI processPerfect2Mod(void *o, int32_t b, int32_t n) { return processModulated<Perfect2Shape>(o, b, n); }
int32_t SE_ABI processBright(void *o, int32_t b, int32_t n) { return processPlain<BrightShape>(o, b, n); }
int32_t SE_ABI processBrightMod(void *o, int32_t b, int32_t n) { return processModulated<BrightShape>(o, b, n); }
int32_t SE_ABI processMedium(void *o, int32_t b, int32_t n) { return processPlain<MediumShape>(o, b, n); }
int32_t SE_ABI processMediumMod(void *o, int32_t b, int32_t n) { return processModulated<MediumShape>(o, b, n); }
int32_t SE_ABI processDark(void *o, int32_t b, int32_t n) { return processPlain<DarkShape>(o, b, n); }
int32_t SE_ABI processDarkMod(void *o, int32_t b, int32_t n) { return processModulated<DarkShape>(o, b, n); }

namespace {

constexpr int kShapeCount = 5;
// [shape][modulated]
constexpr ProcessRoutine kRoutines[kShapeCount][2] = {
    {processPerfect, processPerfectMod},
    {processPerfect2, processPerfect2Mod},
    {processBright, processBrightMod},
    {processMedium, processMediumMod},
    {processDark, processDarkMod},
};

} // namespace

ProcessRoutine routineFor(int16_t shape, bool modulated) {
    const int row = shape >= SHAPE_PERFECT && shape < SHAPE_DARK ? int{shape} : int{SHAPE_DARK};
    return kRoutines[row][modulated ? 1 : 0];
}

} // namespace fourwave
