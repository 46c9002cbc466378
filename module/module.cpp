// Module: plug table, lifecycle and routine selection.
#include "module.h"

#include <cmath>
#include <cstddef>
#include <iterator>
#include <limits>

#include "dsp/frame.h"
#include "routines.h"
#include "sdk/fp_environment.h"

using namespace fourwave;

namespace {

// Where the host writes each plug's value: the member of Module its description names, one
// row per plug in plug-number order, the kind of member following the plug's kind in the plug
// table. An audio plug the frame reads or writes also names the field of the frame's buffer
// record that it fills (Active is read through its pin, so it fills none).
struct PlugBinding {
    Plug plug;
    const float *Module::*input;
    float *Module::*output;
    int16_t Module::*setting;
    const float *dsp::FrameBuffers::*frameInput;
    float *dsp::FrameBuffers::*frameOutput;
};

constexpr PlugBinding input(Plug plug, const float *Module::*member,
                            const float *dsp::FrameBuffers::*field = nullptr) {
    return {plug, member, nullptr, nullptr, field, nullptr};
}
constexpr PlugBinding output(Plug plug, float *Module::*member, float *dsp::FrameBuffers::*field) {
    return {plug, nullptr, member, nullptr, nullptr, field};
}
constexpr PlugBinding setting(Plug plug, int16_t Module::*member) {
    return {plug, nullptr, nullptr, member, nullptr, nullptr};
}

using dsp::FrameBuffers;
constexpr PlugBinding kBindings[] = {
    input(PITCH_INPUT, &Module::pitchIn, &FrameBuffers::pitch),
    input(WIDTH_INPUT, &Module::widthIn, &FrameBuffers::width),
    input(SYNC_INPUT, &Module::syncIn, &FrameBuffers::sync),
    input(PHASE_INPUT, &Module::phaseIn, &FrameBuffers::phase),
    input(PHASE_MOD_INPUT, &Module::phaseModIn, &FrameBuffers::phaseMod),
    input(RAMP_LEVEL_INPUT, &Module::rampLevelIn, &FrameBuffers::rampLevel),
    input(SAW_LEVEL_INPUT, &Module::sawLevelIn, &FrameBuffers::sawLevel),
    input(PULSE_LEVEL_INPUT, &Module::pulseLevelIn, &FrameBuffers::pulseLevel),
    input(TRIANGLE_LEVEL_INPUT, &Module::triangleLevelIn, &FrameBuffers::triangleLevel),
    input(SYNC_THRESHOLD_INPUT, &Module::syncThresholdIn, &FrameBuffers::syncThreshold),
    input(SYNC_ADVANCE_INPUT, &Module::syncAdvanceIn, &FrameBuffers::syncAdvance),
    input(ACTIVE_INPUT, &Module::activeIn),
    setting(FM_MODE_SETTING, &Module::fmMode),
    setting(PM_MODE_SETTING, &Module::pmMode),
    setting(SHAPE_SETTING, &Module::shape),
    output(RAMP_OUTPUT, &Module::rampOut, &FrameBuffers::ramp),
    output(SAW_OUTPUT, &Module::sawOut, &FrameBuffers::saw),
    output(PULSE_OUTPUT, &Module::pulseOut, &FrameBuffers::pulse),
    output(TRIANGLE_OUTPUT, &Module::triangleOut, &FrameBuffers::triangle),
    setting(FREQ_SCALE_SETTING, &Module::freqScale),
};

// A row out of place, a member of the wrong kind for its plug, or a field of the frame's buffer
// record filled twice or not at all fails the build.
constexpr bool bindingsFollowThePlugTable() {
    if (std::size(kBindings) != std::size(kPlugs)) return false;
    size_t frameFields = 0;
    for (size_t i = 0; i < std::size(kBindings); ++i) {
        const PlugBinding &row = kBindings[i];
        const PlugKind kind = kindOf(kPlugs[i]);
        if (row.plug != kPlugs[i].plug) return false;
        if ((row.input != nullptr) != (kind == PlugKind::Input) ||
            (row.output != nullptr) != (kind == PlugKind::Output) ||
            (row.setting != nullptr) != (kind == PlugKind::Setting))
            return false;
        frameFields += (row.frameInput != nullptr ? 1 : 0) + (row.frameOutput != nullptr ? 1 : 0);
        for (size_t j = 0; j < i; ++j)
            if ((row.frameInput != nullptr && row.frameInput == kBindings[j].frameInput) ||
                (row.frameOutput != nullptr && row.frameOutput == kBindings[j].frameOutput))
                return false;
    }
    return frameFields == sizeof(FrameBuffers) / sizeof(float *);
}
static_assert(bindingsFollowThePlugTable(),
              "each plug binds one member of its kind, and each frame buffer field one plug");

// The order in which open announces the outputs, and the order of a plug-state change's sends.
constexpr int32_t kOutputsAtOpen[] = {RAMP_OUTPUT, TRIANGLE_OUTPUT, SAW_OUTPUT, PULSE_OUTPUT};
constexpr int32_t kOutputsAtStateChange[] = {PULSE_OUTPUT, SAW_OUTPUT, RAMP_OUTPUT,
                                             TRIANGLE_OUTPUT};

// open's initial oscillator state.
constexpr float kMaxFrequencyPerSampleRate = 0.25f;
constexpr float kInitialLastPitch = 20.0f; // no real pitch: the first block recomputes
constexpr float kInitialPhaseIncrement = 0.1f;

} // namespace

Module::~Module() = default;

bool Module::describePlug(int32_t number, PlugDescription *description) {
    if (number < 0 || number >= NUM_PLUGS || description == nullptr) return false;
    const PlugInfo &info = kPlugs[number];
    const PlugBinding &row = kBindings[number];
    description->variable = row.input != nullptr    ? static_cast<void *>(&(this->*row.input))
                            : row.output != nullptr ? static_cast<void *>(&(this->*row.output))
                                                    : static_cast<void *>(&(this->*row.setting));
    description->direction = info.direction;
    description->datatype = info.datatype;
    description->name = info.name;
    description->defaultText = info.defaultText;
    if (info.listText != nullptr) description->listText = info.listText;
    return true;
}

ProcessRoutine Module::selectRoutine() const {
    return routineFor(shape, fmMode != FM_DISABLE || pmMode != PM_DISABLE);
}

void Module::open() {
    setProcessRoutine(selectRoutine(), 0, 0, 0);

    // A rate of 0 is a host fault; its reciprocal is the infinity that stops the oscillator,
    // spelled out rather than divided.
    invSampleRate = sampleRate != 0.0f
                        ? 1.0f / sampleRate
                        : std::copysign(std::numeric_limits<float>::infinity(), sampleRate);
    maxFrequency = sampleRate * kMaxFrequencyPerSampleRate;
    lastPitch = kInitialLastPitch;
    phase = 0.0f;
    syncArmed = true;
    phaseIncrement = kInitialPhaseIncrement;
    lastPulseSign = 0.0f;
    lastRampValue = 0.0f;
    sleepCountdown = 0;

    SEModule_base::open();

    // Until the first plug-state change the instance runs as if Active were on.
    for (const int32_t output : kOutputsAtOpen)
        if (SEPin *pin = getPin(output)) pin->sendState(getSampleClock(), STATE_RUNNING);
}

int32_t Module::onPlugStateChange(SEPin *) {
    SEPin *const activePin = getPin(ACTIVE_INPUT);
    const float active = activePin != nullptr ? activePin->getValue() : 0.0f;
    const int32_t outputState = active == 0.0f ? STATE_ONE_OFF : STATE_RUNNING;

    const int32_t clock = getSampleClock();
    for (const int32_t output : kOutputsAtStateChange)
        if (SEPin *pin = getPin(output)) pin->sendState(clock, outputState);

    ProcessRoutine routine;
    if (outputState == STATE_ONE_OFF) {
        sleepCountdown = getBlockSize();
        routine = processUntilSleep;
    } else {
        routine = selectRoutine();
    }
    setProcessRoutine(routine, 0, 0, 0);
    return 0;
}

int32_t SE_ABI Module::processUntilSleep(void *object, int32_t blockOffset, int32_t sampleCount) {
    const FloatEnvironmentGuard environment;
    Module &m = *static_cast<Module *>(object);
    const int32_t result = m.selectRoutine()(object, blockOffset, sampleCount);

    // Saturating, so that no count a host passes can wrap the countdown round.
    const int64_t countdown = static_cast<int64_t>(m.sleepCountdown) - sampleCount;
    m.sleepCountdown = countdown < INT32_MIN   ? INT32_MIN
                       : countdown > INT32_MAX ? INT32_MAX
                                               : static_cast<int32_t>(countdown);
    m.lastPulseSign = 0.0f;
    m.lastRampValue = 0.0f;

    if (m.sleepCountdown <= 0)
        return static_cast<int32_t>(m.callHost(HOST_OP_REQUEST_SLEEP, 0, 0, nullptr, 0.0f));
    return result;
}

// The loops below run once per block: unrolled over the constant table, each is a row of plain
// loads.
bool Module::buffersBound() const {
    bool bound = true;
#pragma GCC unroll 32
    for (const PlugBinding &row : kBindings) {
        if (row.input != nullptr) bound = bound && this->*row.input != nullptr;
        if (row.output != nullptr) bound = bound && this->*row.output != nullptr;
    }
    return bound;
}

dsp::FrameBuffers Module::frameBuffers() const {
    dsp::FrameBuffers buffers;
#pragma GCC unroll 32
    for (const PlugBinding &row : kBindings) {
        if (row.frameInput != nullptr) buffers.*row.frameInput = this->*row.input;
        if (row.frameOutput != nullptr) buffers.*row.frameOutput = this->*row.output;
    }
    return buffers;
}
