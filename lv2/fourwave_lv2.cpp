// Fourwave as an LV2 plug-in. The module is linked in and driven through its binding record,
// exactly as the fourwave CLI drives it (the render engine's runner), by the stand-in host's core
// (host/host.cpp) acting as a tiny host inside the plug-in: it binds the plugs to its own
// buffers and answers the module's callbacks. So a render in an LV2 host equals
// `fourwave render` of the same inputs, cut into the same blocks, to the bit.
//
// What the wrapper does in the host's place:
//   - each input's buffer is filled from its CV port while that is connected, else with its
//     control's volts on the module's scale;
//   - a change of Active (control or CV) is announced with a plug-state event at that sample,
//     the call split there, as the CLI does at every step of a gate; the first sample after
//     activate announces it too;
//   - a changed setting is written into the module and announced with a plug-state event at
//     the start of the block, so that the module selects its routine anew;
//   - when the module asks to sleep, which LV2 cannot grant, the wrapper stops calling it: the
//     outputs hold their last values (zeros, since Active is 0) until Active or a setting
//     changes;
//   - blocks longer than the host buffers (kMaxCallFrames) run as several calls.
//
// run() allocates nothing, takes no lock and makes no system call.
#include <lv2/buf-size/buf-size.h>
#include <lv2/core/lv2.h>
#include <lv2/options/options.h>
#include <lv2/urid/urid.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "host/host.h"
#include "module/exports.h"
#include "ports.h"

namespace fourwave::lv2 {

namespace {

constexpr int32_t kMaxCallFrames = 8192;

host::HostOptions wrapperHostOptions() {
    host::HostOptions options;
    options.bufferFrames = kMaxCallFrames;
    options.checkBlocks = false; // the checks copy whole buffers: they are for the test hosts
    options.logCalls = false;
    return options;
}

// The host's block length from the options feature: the nominal one, else the largest; 0
// when the host gives neither (the module keeps its default).
int32_t blockLengthOption(const LV2_Feature *const *features) {
    const LV2_Options_Option *options = nullptr;
    LV2_URID_Map *map = nullptr;
    for (int i = 0; features != nullptr && features[i] != nullptr; ++i) {
        if (std::strcmp(features[i]->URI, LV2_OPTIONS__options) == 0)
            options = static_cast<const LV2_Options_Option *>(features[i]->data);
        else if (std::strcmp(features[i]->URI, LV2_URID__map) == 0)
            map = static_cast<LV2_URID_Map *>(features[i]->data);
    }
    if (options == nullptr || map == nullptr) return 0;
    const LV2_URID intType = map->map(map->handle, "http://lv2plug.in/ns/ext/atom#Int");
    const LV2_URID nominal = map->map(map->handle, LV2_BUF_SIZE__nominalBlockLength);
    const LV2_URID largest = map->map(map->handle, LV2_BUF_SIZE__maxBlockLength);
    int32_t nominalValue = 0, largestValue = 0;
    for (const LV2_Options_Option *o = options; o->key != 0; ++o) {
        if (o->context != LV2_OPTIONS_INSTANCE || o->type != intType || o->value == nullptr ||
            o->size != sizeof(int32_t))
            continue;
        const int32_t value = *static_cast<const int32_t *>(o->value);
        if (o->key == nominal) nominalValue = value;
        if (o->key == largest) largestValue = value;
    }
    return nominalValue > 0 ? nominalValue : std::max(largestValue, 0);
}

class Plugin {
public:
    Plugin(double sampleRate, int32_t blockLength)
        : host_(host::PluginEntries{getModuleProperties, makeModule}, wrapperHostOptions()),
          sampleRate_(static_cast<float>(sampleRate)), blockLength_(blockLength) {}

    bool create() {
        if (!host_.create()) return false;
        for (int k = 0; k < kInputCount; ++k) inputs_[k] = host_.buffer(kInputs[k].plug);
        for (int c = 0; c < kOutputCount; ++c) outputs_[c] = host_.buffer(kOutputs[c].plug);
        for (int s = 0; s < kSettingCount; ++s) {
            choices_[s] = kSettings[s].defaultChoice;
            host_.setChoice(kSettings[s].plug, choices_[s]);
        }
        for (int k = 0; k < kInputCount; ++k)
            if (kInputs[k].plug == ACTIVE_INPUT) activeInput_ = k;
        host_.setSampleRate(sampleRate_);
        if (blockLength_ > 0) host_.setBlockSize(blockLength_);
        return true;
    }

    void connect(uint32_t port, void *data) {
        if (port < static_cast<uint32_t>(kPortCount)) ports_[port] = static_cast<float *>(data);
    }

    // A new open: the oscillator starts again, and the next sample announces Active.
    void activate() {
        host_.open();
        started_ = false;
        asleep_ = false;
        sleepRequestsSeen_ = host_.sleepRequests();
    }

    void run(uint32_t frames) {
        for (uint32_t done = 0; done < frames;) {
            const int32_t count =
                static_cast<int32_t>(std::min<uint32_t>(frames - done, kMaxCallFrames));
            runCall(done, count);
            done += static_cast<uint32_t>(count);
        }
    }

private:
    // Frames [from, from + count) of the host's buffers, through one span of the module's.
    void runCall(uint32_t from, int32_t count) {
        for (int k = 0; k < kInputCount; ++k) {
            const float *cv = ports_[kFirstCvPort + k];
            const float *control = ports_[kFirstControlPort + k];
            if (cv != nullptr)
                std::copy(cv + from, cv + from + count, inputs_[k]);
            else
                std::fill(inputs_[k], inputs_[k] + count,
                          control != nullptr ? plugValueOfVolts(*control)
                                             : plugValueOfVolts(kInputs[k].defaultValue));
        }

        for (int s = 0; s < kSettingCount; ++s) {
            const int16_t choice = choiceOf(s);
            if (choice == choices_[s]) continue;
            choices_[s] = choice;
            host_.setChoice(kSettings[s].plug, choice);
            // Before the first announcement of Active the choice is simply in place.
            if (started_) {
                host_.sendPlugState(kSettings[s].plug, STATE_STATIC, 0);
                asleep_ = false;
            }
        }

        const float *active = inputs_[activeInput_];
        int32_t begin = 0;
        for (int32_t j = 0; j < count; ++j) {
            if (!started_ || active[j] != previousActive_) {
                runSpan(begin, j);
                host_.sendPlugState(ACTIVE_INPUT, STATE_ONE_OFF, j);
                asleep_ = false;
                started_ = true;
                begin = j;
            }
            previousActive_ = active[j];
        }
        runSpan(begin, count);

        for (int c = 0; c < kOutputCount; ++c)
            if (float *out = ports_[kFirstOutputPort + c])
                std::copy(outputs_[c], outputs_[c] + count, out + from);
    }

    // One process call over [begin, end) of the module's buffers, or the held outputs while
    // the module sleeps.
    void runSpan(int32_t begin, int32_t end) {
        if (end <= begin) return;
        if (asleep_) {
            for (int c = 0; c < kOutputCount; ++c)
                std::fill(outputs_[c] + begin, outputs_[c] + end, held_[c]);
            return;
        }
        host_.process(begin, end - begin);
        if (host_.sleepRequests() > sleepRequestsSeen_) {
            sleepRequestsSeen_ = host_.sleepRequests();
            asleep_ = true;
            for (int c = 0; c < kOutputCount; ++c) held_[c] = outputs_[c][end - 1];
        }
    }

    // A setting's control as a choice number: rounded and kept within the choices.
    int16_t choiceOf(int s) const {
        const SettingInfo &setting = kSettings[s];
        const float *port = ports_[s];
        if (port == nullptr || !(*port == *port)) return setting.defaultChoice; // NaN too
        const float last = setting.choices[setting.choiceCount - 1].value;
        const float value = std::clamp(*port, setting.choices[0].value, last);
        return static_cast<int16_t>(value + 0.5f);
    }

    host::Host host_;
    float sampleRate_;
    int32_t blockLength_;
    float *ports_[kPortCount] = {};
    float *inputs_[kInputCount] = {};
    float *outputs_[kOutputCount] = {};
    int16_t choices_[kSettingCount] = {};
    int activeInput_ = 0;
    bool started_ = false;
    bool asleep_ = false;
    float previousActive_ = 0.0f;
    float held_[kOutputCount] = {};
    int64_t sleepRequestsSeen_ = 0;
};

LV2_Handle instantiate(const LV2_Descriptor *, double sampleRate, const char *,
                       const LV2_Feature *const *features) {
    Plugin *plugin = nullptr;
    try {
        plugin = new Plugin(sampleRate, blockLengthOption(features));
        if (plugin->create()) return plugin;
    } catch (...) { // nothing C++ crosses into the host: a failure is a null handle
    }
    delete plugin;
    return nullptr;
}

void connectPort(LV2_Handle handle, uint32_t port, void *data) {
    static_cast<Plugin *>(handle)->connect(port, data);
}
void activate(LV2_Handle handle) { static_cast<Plugin *>(handle)->activate(); }
void run(LV2_Handle handle, uint32_t frames) { static_cast<Plugin *>(handle)->run(frames); }
void deactivate(LV2_Handle) {}
void cleanup(LV2_Handle handle) { delete static_cast<Plugin *>(handle); }
const void *extensionData(const char *) { return nullptr; }

const LV2_Descriptor kDescriptor = {kPluginUri, instantiate, connectPort, activate,
                                    run,        deactivate,  cleanup,     extensionData};

} // namespace

} // namespace fourwave::lv2

extern "C" LV2_SYMBOL_EXPORT const LV2_Descriptor *lv2_descriptor(uint32_t index) {
    return index == 0 ? &fourwave::lv2::kDescriptor : nullptr;
}
