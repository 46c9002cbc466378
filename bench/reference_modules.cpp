// The floor and naive reference routines (reference_modules.h).
#include "reference_modules.h"

#include <cmath>
#include <new>

#include "module/module.h"
#include "module/plugs.h"

namespace fourwave::bench {
namespace {

// The oscillator's Module, binding and all, running a reference routine instead of its own.
class ReferenceModule : public Module {
public:
    ReferenceModule(HostCallback callback, void *hostData, ProcessRoutine routine)
        : Module(callback, hostData), routine_(routine) {}

    void open() override {
        Module::open();
        setProcessRoutine(routine_, 0, 0, 0);
    }
    // A reference never winds down: it keeps its routine whatever the Active input says.
    int32_t onPlugStateChange(SEPin *) override {
        setProcessRoutine(routine_, 0, 0, 0);
        return 0;
    }

    // SEPin::getValue's two host calls, in its order, straight through the callback.
    float activeDirect(SEPin *pin) {
        const float *const *address = static_cast<const float *const *>(pin->storage);
        if (address == nullptr || *address == nullptr || hostCallback == nullptr) return 0.0f;
        const intptr_t start = hostCallback(&bindingRecord, HOST_OP_GET_BUFFER_START_CLOCK,
                                            pin->number, 0, nullptr, 0.0f);
        const intptr_t now = static_cast<int32_t>(
            hostCallback(&bindingRecord, HOST_OP_GET_SAMPLE_CLOCK, 0, 0, nullptr, 0.0f));
        return (*address)[now - start];
    }

private:
    ProcessRoutine routine_;
};

// Phase state through a block, as any accumulator keeps it.
struct Accumulator {
    float phase;
    float increment;
    void advance() {
        phase += increment;
        if (phase >= 1.0f) phase -= 1.0f;
    }
};

int32_t SE_ABI floorRoutine(void *object, int32_t blockOffset, int32_t sampleCount) {
    Module &m = *static_cast<Module *>(object);
    SEPin *const activePin = m.getPin(ACTIVE_INPUT);
    float *const ramp = m.rampOut;
    float *const saw = m.sawOut;
    float *const pulse = m.pulseOut;
    float *const triangle = m.triangleOut;
    Accumulator acc{m.phase, m.phaseIncrement};
    const int32_t end = blockOffset + sampleCount;
    for (int32_t i = blockOffset; i < end; ++i) {
        const float active = activePin != nullptr ? activePin->getValue() : 0.0f;
        if (active == 0.0f) {
            ramp[i] = saw[i] = pulse[i] = triangle[i] = 0.0f;
        } else {
            ramp[i] = saw[i] = pulse[i] = triangle[i] = acc.phase;
        }
        acc.advance();
    }
    m.phase = acc.phase;
    return 0;
}

int32_t SE_ABI directRoutine(void *object, int32_t blockOffset, int32_t sampleCount) {
    ReferenceModule &m = *static_cast<ReferenceModule *>(object);
    SEPin *const activePin = m.getPin(ACTIVE_INPUT);
    float *const ramp = m.rampOut;
    float *const saw = m.sawOut;
    float *const pulse = m.pulseOut;
    float *const triangle = m.triangleOut;
    Accumulator acc{m.phase, m.phaseIncrement};
    const int32_t end = blockOffset + sampleCount;
    for (int32_t i = blockOffset; i < end; ++i) {
        const float active = activePin != nullptr ? m.activeDirect(activePin) : 0.0f;
        if (active == 0.0f) {
            ramp[i] = saw[i] = pulse[i] = triangle[i] = 0.0f;
        } else {
            ramp[i] = saw[i] = pulse[i] = triangle[i] = acc.phase;
        }
        acc.advance();
    }
    m.phase = acc.phase;
    return 0;
}

// The increment from the Pitch input at the block's first sample, as a simple oscillator
// computes it: once per block, only when the pitch moved.
float naiveIncrement(Module &m, float pitch) {
    if (pitch != m.lastPitch) {
        m.lastPitch = pitch;
        const float hz = static_cast<float>(440.0 * std::pow(2.0, 10.0 * pitch - 5.0));
        m.phaseIncrement = hz * m.invSampleRate;
    }
    return m.phaseIncrement;
}

int32_t SE_ABI naiveRoutine(void *object, int32_t blockOffset, int32_t sampleCount) {
    Module &m = *static_cast<Module *>(object);
    if (sampleCount <= 0) return 0;
    SEPin *const activePin = m.getPin(ACTIVE_INPUT);
    float *const rampOut = m.rampOut;
    float *const sawOut = m.sawOut;
    float *const pulseOut = m.pulseOut;
    float *const triangleOut = m.triangleOut;
    const float *const width = m.widthIn;
    const float rampLevel = m.rampLevelIn[blockOffset];
    const float sawLevel = m.sawLevelIn[blockOffset];
    const float pulseLevel = m.pulseLevelIn[blockOffset];
    const float triangleLevel = m.triangleLevelIn[blockOffset];
    Accumulator acc{m.phase, naiveIncrement(m, m.pitchIn[blockOffset])};
    const int32_t end = blockOffset + sampleCount;
    for (int32_t i = blockOffset; i < end; ++i) {
        const float active = activePin != nullptr ? activePin->getValue() : 0.0f;
        if (active == 0.0f) {
            rampOut[i] = sawOut[i] = pulseOut[i] = triangleOut[i] = 0.0f;
        } else {
            const float t = acc.phase;
            rampOut[i] = (0.5f - t) * rampLevel;
            sawOut[i] = (t - 0.5f) * sawLevel;
            pulseOut[i] = (t < width[i] ? 0.5f : -0.5f) * pulseLevel;
            const float u = 2.0f * t;
            triangleOut[i] = (u <= 0.5f ? u : u <= 1.5f ? 1.0f - u : u - 2.0f) * triangleLevel;
        }
        acc.advance();
    }
    m.phase = acc.phase;
    return 0;
}

template <Reference R>
BindingRecord *SE_ABI makeReference(int32_t, int32_t, HostCallback callback, void *hostData) {
    ProcessRoutine routine = R == Reference::Floor   ? floorRoutine
                             : R == Reference::Naive ? naiveRoutine
                                                     : directRoutine;
    auto *module = new (std::nothrow) ReferenceModule(callback, hostData, routine);
    return module != nullptr ? module->getBindingRecord() : nullptr;
}

int32_t SE_ABI referenceProperties(int32_t, ModuleProperties *) { return 0; }

} // namespace

const char *referenceName(Reference reference) {
    switch (reference) {
    case Reference::Floor: return "floor";
    case Reference::Naive: return "naive";
    default: return "direct";
    }
}

host::PluginEntries referenceEntries(Reference reference) {
    host::PluginEntries entries;
    entries.getModuleProperties = referenceProperties;
    switch (reference) {
    case Reference::Floor: entries.makeModule = makeReference<Reference::Floor>; break;
    case Reference::Naive: entries.makeModule = makeReference<Reference::Naive>; break;
    default: entries.makeModule = makeReference<Reference::Direct>; break;
    }
    return entries;
}

} // namespace fourwave::bench
