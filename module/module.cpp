// Module: plug table, lifecycle and routine selection.
#include "module.h"

#include <cmath>
#include <cstddef>
#include <cstring>
#include <iterator>
#include <limits>
#include <type_traits>
#include <utility>

#include "dsp/frame.h"
#include "routines.h"
#include "sdk/fp_environment.h"

using namespace fourwave;

namespace {

// One row per plug, in plug-number order. `variable` gives the address of the member the host
// writes into (a function rather than a pointer to member, so that the table stays plain data);
// `frameSlot` says which field of the frame's buffer record an audio plug fills, or kNotInFrame
// (Active is read through its pin, the settings are choice numbers).
struct PlugRow {
    Plug plug;
    const char *name;
    int32_t direction;
    int32_t datatype;
    void *(*variable)(Module &);
    const char *defaultText;
    const char *listText;
    size_t frameSlot;
};

constexpr size_t kNotInFrame = SIZE_MAX;
#define FRAME_SLOT(field) offsetof(dsp::FrameBuffers, field)

constexpr int32_t kIn = PLUG_DIRECTION_INPUT, kOut = PLUG_DIRECTION_OUTPUT;

constexpr PlugRow kPlugTable[] = {
    {PITCH_INPUT, "Pitch", kIn, DT_AUDIO, [](Module &m) -> void * { return &m.pitchIn; }, "1",
     nullptr, FRAME_SLOT(pitch)},
    {WIDTH_INPUT, "Width", kIn, DT_AUDIO, [](Module &m) -> void * { return &m.widthIn; }, "5",
     nullptr, FRAME_SLOT(width)},
    {SYNC_INPUT, "Sync", kIn, DT_AUDIO, [](Module &m) -> void * { return &m.syncIn; }, "0", nullptr,
     FRAME_SLOT(sync)},
    {PHASE_INPUT, "Phase", kIn, DT_AUDIO, [](Module &m) -> void * { return &m.phaseIn; }, "0",
     nullptr, FRAME_SLOT(phase)},
    {PHASE_MOD_INPUT, "Phase Mod", kIn, DT_AUDIO, [](Module &m) -> void * { return &m.phaseModIn; },
     "5", nullptr, FRAME_SLOT(phaseMod)},
    {RAMP_LEVEL_INPUT, "Ramp Level", kIn, DT_AUDIO,
     [](Module &m) -> void * { return &m.rampLevelIn; }, "0", nullptr, FRAME_SLOT(rampLevel)},
    {SAW_LEVEL_INPUT, "Saw Level", kIn, DT_AUDIO, [](Module &m) -> void * { return &m.sawLevelIn; },
     "0", nullptr, FRAME_SLOT(sawLevel)},
    {PULSE_LEVEL_INPUT, "Pulse Level", kIn, DT_AUDIO,
     [](Module &m) -> void * { return &m.pulseLevelIn; }, "5", nullptr, FRAME_SLOT(pulseLevel)},
    {TRIANGLE_LEVEL_INPUT, "Triangle Level", kIn, DT_AUDIO,
     [](Module &m) -> void * { return &m.triangleLevelIn; }, "0", nullptr,
     FRAME_SLOT(triangleLevel)},
    {SYNC_THRESHOLD_INPUT, "Sync Threshold", kIn, DT_AUDIO,
     [](Module &m) -> void * { return &m.syncThresholdIn; }, "0", nullptr,
     FRAME_SLOT(syncThreshold)},
    {SYNC_ADVANCE_INPUT, "Sync Advance", kIn, DT_AUDIO,
     [](Module &m) -> void * { return &m.syncAdvanceIn; }, "0", nullptr, FRAME_SLOT(syncAdvance)},
    {ACTIVE_INPUT, "Active", kIn, DT_AUDIO, [](Module &m) -> void * { return &m.activeIn; }, "0",
     nullptr, kNotInFrame},
    {FM_MODE_SETTING, "Audio Rate Frequency Modulation", kIn, DT_ENUM,
     [](Module &m) -> void * { return &m.fmMode; }, "0", "Disable=0,Enable=1,Half=2", kNotInFrame},
    {PM_MODE_SETTING, "Phase Modulation", kIn, DT_ENUM,
     [](Module &m) -> void * { return &m.pmMode; }, "0", "Disable,Enable", kNotInFrame},
    {SHAPE_SETTING, "Shape", kIn, DT_ENUM, [](Module &m) -> void * { return &m.shape; }, "1",
     "Perfect=0, Perfect 2 = 1, Bright=2, Medium=3, Dark=4", kNotInFrame},
    {RAMP_OUTPUT, "Ramp Out", kOut, DT_AUDIO, [](Module &m) -> void * { return &m.rampOut; }, "0",
     nullptr, FRAME_SLOT(ramp)},
    {SAW_OUTPUT, "Saw Out", kOut, DT_AUDIO, [](Module &m) -> void * { return &m.sawOut; }, "0",
     nullptr, FRAME_SLOT(saw)},
    {PULSE_OUTPUT, "Pulse Out", kOut, DT_AUDIO, [](Module &m) -> void * { return &m.pulseOut; },
     "0", nullptr, FRAME_SLOT(pulse)},
    {TRIANGLE_OUTPUT, "Triangle Out", kOut, DT_AUDIO,
     [](Module &m) -> void * { return &m.triangleOut; }, "0", nullptr, FRAME_SLOT(triangle)},
    {FREQ_SCALE_SETTING, "Freq Scale", PLUG_DIRECTION_SETTING, DT_ENUM,
     [](Module &m) -> void * { return &m.freqScale; }, "0", "1 Volt/Octave,1 Volt/kHz",
     kNotInFrame},
};
#undef FRAME_SLOT

// The plug numbers are the rows' positions, and every field of the frame's buffer record is
// filled by exactly one audio plug's row: a row out of place, or a field added to the record
// without a row, fails the build.
constexpr bool rowsInPlugOrder() {
    if (std::size(kPlugTable) != NUM_PLUGS) return false;
    for (size_t i = 0; i < std::size(kPlugTable); ++i)
        if (kPlugTable[i].plug != static_cast<int32_t>(i)) return false;
    return true;
}
static_assert(rowsInPlugOrder(), "the plug table's rows must be in plug-number order");

constexpr bool framePerFieldOneRow() {
    constexpr size_t kFields = sizeof(dsp::FrameBuffers) / sizeof(float *);
    bool filled[kFields] = {};
    for (const PlugRow &row : kPlugTable) {
        if (row.frameSlot == kNotInFrame) continue;
        const size_t field = row.frameSlot / sizeof(float *);
        if (row.datatype != DT_AUDIO || field >= kFields || filled[field]) return false;
        filled[field] = true;
    }
    for (const bool field : filled)
        if (!field) return false;
    return true;
}
static_assert(framePerFieldOneRow(),
              "each field of the frame's buffer record needs exactly one audio plug's row");

// The rows, each as a compile-time constant, so that the loops below unroll into plain loads.
template <class Visit, size_t... Row>
void forEachRow(Visit &&visit, std::index_sequence<Row...>) {
    (visit(std::integral_constant<size_t, Row>{}), ...);
}
template <class Visit>
void forEachRow(Visit &&visit) {
    forEachRow(visit, std::make_index_sequence<NUM_PLUGS>{});
}

// The buffer address held in an audio plug's member. The accessor only takes the member's
// address, so a const instance can lend itself to it.
template <size_t Row>
const void *bufferOf(const Module &m) {
    const void *address;
    std::memcpy(&address, kPlugTable[Row].variable(const_cast<Module &>(m)), sizeof address);
    return address;
}

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
      pitchIn(nullptr), pulseOut(nullptr), rampOut(nullptr), sawOut(nullptr), triangleOut(nullptr),
      pulseLevelIn(nullptr), rampLevelIn(nullptr), sawLevelIn(nullptr), triangleLevelIn(nullptr),
      widthIn(nullptr), syncIn(nullptr), syncThresholdIn(nullptr), syncAdvanceIn(nullptr),
      phaseIn(nullptr), shape(0), activeIn(nullptr), phaseModIn(nullptr), syncArmed(false),
      sleepCountdown(0), lastPulseSign(0.0f), lastRampValue(0.0f) {}

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
    m.sleepCountdown = countdown < INT32_MIN   ? INT32_MIN
                       : countdown > INT32_MAX ? INT32_MAX
                                               : static_cast<int32_t>(countdown);
    m.lastPulseSign = 0.0f;
    m.lastRampValue = 0.0f;

    if (m.sleepCountdown <= 0)
        return static_cast<int32_t>(m.callHost(HOST_OP_REQUEST_SLEEP, 0, 0, nullptr, 0.0f));
    return result;
}

bool Module::buffersBound() const {
    bool bound = true;
    forEachRow([&](auto row) {
        if constexpr (kPlugTable[row].datatype == DT_AUDIO)
            bound = bound && bufferOf<row>(*this) != nullptr;
    });
    return bound;
}

dsp::FrameBuffers Module::frameBuffers() const {
    dsp::FrameBuffers buffers;
    forEachRow([&](auto row) {
        if constexpr (kPlugTable[row].frameSlot != kNotInFrame) {
            const void *const address = bufferOf<row>(*this);
            std::memcpy(reinterpret_cast<unsigned char *>(&buffers) + kPlugTable[row].frameSlot,
                        &address, sizeof address);
        }
    });
    return buffers;
}
