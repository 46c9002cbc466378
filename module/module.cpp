// Module: plug table, lifecycle and routine selection.
#include "module.h"

#include <cmath>
#include <limits>

#include "routines.h"
#include "sdk/fp_environment.h"

using namespace fourwave;

namespace {

// One row per plug, in plug-number order; `variable` names the member the host writes into.
struct PlugRow {
    const char *name;
    int32_t direction;
    int32_t datatype;
    void *(*variable)(Module &);
    const char *defaultText;
    const char *listText;
};

constexpr int32_t kInput = 0, kOutput = 1, kSetting = 3; // "Freq Scale" alone uses 3

const PlugRow kPlugTable[NUM_PLUGS] = {
    {"Pitch", kInput, DT_AUDIO, [](Module &m) -> void * { return &m.pitchIn; }, "1", nullptr},
    {"Width", kInput, DT_AUDIO, [](Module &m) -> void * { return &m.widthIn; }, "5", nullptr},
    {"Sync", kInput, DT_AUDIO, [](Module &m) -> void * { return &m.syncIn; }, "0", nullptr},
    {"Phase", kInput, DT_AUDIO, [](Module &m) -> void * { return &m.phaseIn; }, "0", nullptr},
    {"Phase Mod", kInput, DT_AUDIO, [](Module &m) -> void * { return &m.phaseModIn; }, "5",
     nullptr},
    {"Ramp Level", kInput, DT_AUDIO, [](Module &m) -> void * { return &m.rampLevelIn; }, "0",
     nullptr},
    {"Saw Level", kInput, DT_AUDIO, [](Module &m) -> void * { return &m.sawLevelIn; }, "0",
     nullptr},
    {"Pulse Level", kInput, DT_AUDIO, [](Module &m) -> void * { return &m.pulseLevelIn; }, "5",
     nullptr},
    {"Triangle Level", kInput, DT_AUDIO,
     [](Module &m) -> void * { return &m.triangleLevelIn; }, "0", nullptr},
    {"Sync Threshold", kInput, DT_AUDIO,
     [](Module &m) -> void * { return &m.syncThresholdIn; }, "0", nullptr},
    {"Sync Advance", kInput, DT_AUDIO, [](Module &m) -> void * { return &m.syncAdvanceIn; },
     "0", nullptr},
    {"Active", kInput, DT_AUDIO, [](Module &m) -> void * { return &m.activeIn; }, "0", nullptr},
    {"Audio Rate Frequency Modulation", kInput, DT_ENUM,
     [](Module &m) -> void * { return &m.fmMode; }, "0", "Disable=0,Enable=1,Half=2"},
    {"Phase Modulation", kInput, DT_ENUM, [](Module &m) -> void * { return &m.pmMode; }, "0",
     "Disable,Enable"},
    {"Shape", kInput, DT_ENUM, [](Module &m) -> void * { return &m.shape; }, "1",
     "Perfect=0, Perfect 2 = 1, Bright=2, Medium=3, Dark=4"},
    {"Ramp Out", kOutput, DT_AUDIO, [](Module &m) -> void * { return &m.rampOut; }, "0",
     nullptr},
    {"Saw Out", kOutput, DT_AUDIO, [](Module &m) -> void * { return &m.sawOut; }, "0", nullptr},
    {"Pulse Out", kOutput, DT_AUDIO, [](Module &m) -> void * { return &m.pulseOut; }, "0",
     nullptr},
    {"Triangle Out", kOutput, DT_AUDIO, [](Module &m) -> void * { return &m.triangleOut; }, "0",
     nullptr},
    {"Freq Scale", kSetting, DT_ENUM, [](Module &m) -> void * { return &m.freqScale; }, "0",
     "1 Volt/Octave,1 Volt/kHz"},
};

// The order in which open announces the outputs, and the order of a plug-state change's sends.
constexpr int32_t kOutputsAtOpen[] = {RAMP_OUTPUT, TRIANGLE_OUTPUT, SAW_OUTPUT, PULSE_OUTPUT};
constexpr int32_t kOutputsAtStateChange[] = {PULSE_OUTPUT, SAW_OUTPUT, RAMP_OUTPUT,
                                             TRIANGLE_OUTPUT};

// open's initial oscillator state.
constexpr float kMaxFrequencyPerSampleRate = 0.25f;
constexpr float kInitialLastPitch = 20.0f; // no real pitch: the first block recomputes
constexpr float kInitialPhaseIncrement = 0.1f;

} // namespace

Module::Module(HostCallback callback, void *hostData)
    : SEModule_base(callback, hostData), freqScale(0), fmMode(0), pmMode(0), phase(0.0f),
      lastPitch(0.0f), phaseIncrement(0.0f), invSampleRate(0.0f), maxFrequency(0.0f),
      pitchIn(nullptr), pulseOut(nullptr), rampOut(nullptr), sawOut(nullptr),
      triangleOut(nullptr), pulseLevelIn(nullptr), rampLevelIn(nullptr), sawLevelIn(nullptr),
      triangleLevelIn(nullptr), widthIn(nullptr), syncIn(nullptr), syncThresholdIn(nullptr),
      syncAdvanceIn(nullptr), phaseIn(nullptr), shape(0), activeIn(nullptr),
      phaseModIn(nullptr), syncArmed(false), sleepCountdown(0), lastPulseSign(0.0f),
      lastRampValue(0.0f) {}

Module::~Module() = default;

bool Module::describePlug(int32_t number, PlugDescription *description) {
    if (number < 0 || number >= NUM_PLUGS || description == nullptr) return false;
    const PlugRow &row = kPlugTable[number];
    description->variable = row.variable(*this);
    description->direction = row.direction;
    description->datatype = row.datatype;
    description->name = row.name;
    description->defaultText = row.defaultText;
    if (row.listText != nullptr) description->listText = row.listText;
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
    m.sleepCountdown = countdown < INT32_MIN ? INT32_MIN
                       : countdown > INT32_MAX ? INT32_MAX
                                               : static_cast<int32_t>(countdown);
    m.lastPulseSign = 0.0f;
    m.lastRampValue = 0.0f;

    if (m.sleepCountdown <= 0)
        return static_cast<int32_t>(m.callHost(HOST_OP_REQUEST_SLEEP, 0, 0, nullptr, 0.0f));
    return result;
}

bool Module::buffersBound() const {
    const void *const buffers[] = {pitchIn,      pulseOut,        rampOut,        sawOut,
                                   triangleOut,  pulseLevelIn,    rampLevelIn,    sawLevelIn,
                                   triangleLevelIn, widthIn,      syncIn,         syncThresholdIn,
                                   syncAdvanceIn, phaseIn,        activeIn,       phaseModIn};
    for (const void *buffer : buffers)
        if (buffer == nullptr) return false;
    return true;
}
