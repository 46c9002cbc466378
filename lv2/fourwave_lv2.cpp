// Fourwave as two LV2 plug-ins (ports.h): an instrument played from MIDI, for DAWs, and a
// modular plug-in with CV inputs. The module is linked in and driven through its binding
// record, exactly as the fourwave CLI drives it, by the stand-in host's core (host/host.cpp)
// acting as a tiny host inside the plug-in, and by the same host driving loop as the CLI's
// render engine (host/driver.h): it announces settings and Active, splits calls at Active's
// steps (and, for notes, at Pitch's), and holds the outputs while the module sleeps. So the
// four waveform outputs equal `fourwave render` of the same inputs, cut into the same blocks,
// to the bit.
//
// What the wrapper does besides:
//   - every control and CV value passes the boundary (boundary.h): a NaN or an infinity is
//     replaced by the port's last finite value, a subnormal by 0;
//   - the modular plug-in fills each input's buffer with its control's volts on the module's
//     scale plus its CV port, so that a CV port a host connects but leaves unpatched (0) keeps
//     the control;
//   - the instrument fills Pitch and Active from its notes (host/note_player.h), each MIDI
//     event at its frame, and the other inputs from their controls;
//   - the module asks to sleep, which LV2 cannot grant: the driver stops calling it, and the
//     outputs hold their last values (zeros, since Active is 0) until Active or a setting
//     changes;
//   - blocks longer than the host buffers (kMaxCallFrames) run as several calls;
//   - the instrument's main output is the sum of the four waveforms times the note player's
//     gain, the same on the left and the right.
//
// run() allocates nothing, takes no lock and makes no system call.
#include <lv2/atom/atom.h>
#include <lv2/atom/util.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/core/lv2.h>
#include <lv2/midi/midi.h>
#include <lv2/options/options.h>
#include <lv2/urid/urid.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "boundary.h"
#include "host/driver.h"
#include "host/host.h"
#include "host/note_player.h"
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

LV2_URID_Map *uridMap(const LV2_Feature *const *features) {
    for (int i = 0; features != nullptr && features[i] != nullptr; ++i)
        if (std::strcmp(features[i]->URI, LV2_URID__map) == 0)
            return static_cast<LV2_URID_Map *>(features[i]->data);
    return nullptr;
}

// The host's block length from the options feature: the nominal one, else the largest; 0
// when the host gives neither (the module keeps its default).
int32_t blockLengthOption(const LV2_Feature *const *features, LV2_URID_Map *map) {
    const LV2_Options_Option *options = nullptr;
    for (int i = 0; features != nullptr && features[i] != nullptr; ++i)
        if (std::strcmp(features[i]->URI, LV2_OPTIONS__options) == 0)
            options = static_cast<const LV2_Options_Option *>(features[i]->data);
    if (options == nullptr || map == nullptr) return 0;
    const LV2_URID intType = map->map(map->handle, LV2_ATOM__Int);
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

// The MIDI events of one run() call, read in order and within bounds: a host's sequence is
// trusted no further than its own size says.
class MidiEvents {
public:
    void begin(const LV2_Atom_Sequence *sequence, LV2_URID sequenceType, LV2_URID midiType) {
        next_ = end_ = nullptr;
        midiType_ = midiType;
        if (sequence == nullptr || midiType == 0 || sequence->atom.type != sequenceType ||
            sequence->atom.size < sizeof(LV2_Atom_Sequence_Body))
            return;
        next_ = reinterpret_cast<const uint8_t *>(lv2_atom_sequence_begin(&sequence->body));
        end_ = reinterpret_cast<const uint8_t *>(&sequence->body) + sequence->atom.size;
    }
    // The next event's frame, or `none` when there is none left.
    int64_t nextFrame(int64_t none) const { return fits() ? event()->time.frames : none; }
    // The next event's MIDI message (null for an event of another type), then moves on.
    const uint8_t *take(uint32_t *size) {
        const LV2_Atom_Event *e = event();
        const uint8_t *message =
            e->body.type == midiType_ ? reinterpret_cast<const uint8_t *>(e + 1) : nullptr;
        *size = e->body.size;
        next_ += sizeof(LV2_Atom_Event) + lv2_atom_pad_size(e->body.size);
        return message;
    }

private:
    const LV2_Atom_Event *event() const { return reinterpret_cast<const LV2_Atom_Event *>(next_); }
    bool fits() const {
        return next_ != nullptr && next_ + sizeof(LV2_Atom_Event) <= end_ &&
               event()->body.size <= static_cast<size_t>(end_ - next_) - sizeof(LV2_Atom_Event);
    }
    const uint8_t *next_ = nullptr;
    const uint8_t *end_ = nullptr;
    LV2_URID midiType_ = 0;
};

class Plugin {
public:
    Plugin(const PluginInfo &info, double sampleRate, const LV2_Feature *const *features)
        : info_(info),
          host_(host::PluginEntries{getModuleProperties, makeModule}, wrapperHostOptions()),
          driver_(host_), sampleRate_(static_cast<float>(sampleRate)), notes_(sampleRate) {
        LV2_URID_Map *map = uridMap(features);
        blockLength_ = blockLengthOption(features, map);
        if (map != nullptr) {
            sequenceType_ = map->map(map->handle, LV2_ATOM__Sequence);
            midiType_ = map->map(map->handle, LV2_MIDI__MidiEvent);
        }
    }

    bool create() {
        if (!host_.create()) return false;
        for (int k = 0; k < kInputCount; ++k) {
            inputs_[k] = host_.buffer(kInputs[k]);
            controlVolts_[k] = defaultVolts(info_, kInputs[k]);
            if (kInputs[k] == ACTIVE_INPUT) activeInput_ = k;
            if (kInputs[k] == PITCH_INPUT) pitchInput_ = k;
        }
        for (int s = 0; s < kSettingCount; ++s) {
            choices_[s] = defaultChoice(kSettings[s]);
            settingValues_[s] = choices_[s];
            driver_.setSetting(kSettings[s], choices_[s]);
        }
        host_.setSampleRate(sampleRate_);
        if (blockLength_ > 0) host_.setBlockSize(blockLength_);
        return true;
    }

    void connect(uint32_t port, void *data) {
        if (port < static_cast<uint32_t>(info_.portCount)) ports_[port] = data;
    }

    // A new open: the oscillator starts again, no note is held, and the next sample announces
    // Active.
    void activate() {
        host_.open();
        host::Driver::Start how;
        how.notePitch = info_.instrument;
        driver_.start(how);
        notes_.reset();
        std::fill(std::begin(cvLastFinite_), std::end(cvLastFinite_), 0.0f);
    }

    void run(uint32_t frames) {
        readControls();
        if (info_.instrument)
            midi_.begin(static_cast<const LV2_Atom_Sequence *>(ports_[info_.midiIn]), sequenceType_,
                        midiType_);
        for (uint32_t done = 0; done < frames;) {
            const int32_t count =
                static_cast<int32_t>(std::min<uint32_t>(frames - done, kMaxCallFrames));
            runCall(done, count);
            done += static_cast<uint32_t>(count);
        }
    }

private:
    const float *port(int index) const {
        return index >= 0 ? static_cast<const float *>(ports_[index]) : nullptr;
    }
    float *outputPort(int index) const {
        return index >= 0 ? static_cast<float *>(ports_[index]) : nullptr;
    }

    // The controls and settings, once per run() (a control port holds one value per call).
    void readControls() {
        for (int k = 0; k < kInputCount; ++k)
            if (const float *control = port(info_.firstControl + k))
                controlVolts_[k] = boundaryValue(*control, controlVolts_[k]);

        for (int s = 0; s < kSettingCount; ++s) {
            if (const float *setting = port(s))
                settingValues_[s] = boundaryValue(*setting, settingValues_[s]);
            const int16_t choice = choiceOf(s);
            if (choice == choices_[s]) continue;
            choices_[s] = choice;
            driver_.setSetting(kSettings[s], choice);
        }

        if (info_.instrument) {
            if (const float *range = port(info_.bendRange))
                bendRange_ = boundaryValue(*range, bendRange_);
            host::NotePlayer::Controls controls;
            controls.pitchVolts = controlVolts_[pitchInput_];
            controls.kiloHertz = choices_[kFreqScaleSetting] == FREQ_SCALE_VOLT_PER_KHZ;
            controls.bendRangeSemitones =
                std::clamp(bendRange_, kBendRange.minimum, kBendRange.maximum);
            controls.drone = controlVolts_[activeInput_] != 0.0f;
            notes_.setControls(controls);
        }
    }

    // Frames [from, from + count) of the host's buffers, as one block of the driver's.
    void runCall(uint32_t from, int32_t count) {
        fillInputs(from, count);
        if (info_.instrument) driver_.playNotes(notes_, midi_, from, count, gain_);
        driver_.runBlock(count);

        for (int c = 0; c < kOutputCount; ++c)
            if (float *out = outputPort(info_.firstOutput + c))
                std::copy(driver_.output(c), driver_.output(c) + count, out + from);
        if (info_.instrument) writeMain(from, count);
    }

    void fillInputs(uint32_t from, int32_t count) {
        for (int k = 0; k < kInputCount; ++k) {
            if (info_.instrument && (k == pitchInput_ || k == activeInput_)) continue;
            const float control = plugValueOfVolts(controlVolts_[k]);
            float *input = inputs_[k];
            const float *cv = info_.instrument ? nullptr : port(info_.firstCv + k);
            if (cv == nullptr) {
                std::fill(input, input + count, control);
                continue;
            }
            cv += from;
            if (allPassUnchanged(cv, count)) {
                std::copy(cv, cv + count, input);
                if (count > 0) cvLastFinite_[k] = cv[count - 1];
            } else {
                copyBoundaryValues(cv, input, count, cvLastFinite_[k]);
            }
            // A control at 0 V leaves the CV's bits as they are (also a -0.0).
            if (control != 0.0f)
                for (int32_t i = 0; i < count; ++i) input[i] += control;
        }
    }

    void writeMain(uint32_t from, int32_t count) {
        float *left = outputPort(info_.mainLeft), *right = outputPort(info_.mainLeft + 1);
        float *main = left != nullptr ? left + from : right != nullptr ? right + from : nullptr;
        if (main == nullptr) return;
        const float *ramp = driver_.output(0), *saw = driver_.output(1), *pulse = driver_.output(2),
                    *triangle = driver_.output(3);
        for (int32_t i = 0; i < count; ++i)
            main[i] = (ramp[i] + saw[i] + pulse[i] + triangle[i]) * gain_[i];
        if (left != nullptr && right != nullptr) std::copy(main, main + count, right + from);
    }

    // A setting's control as a choice number: rounded and kept within the choices.
    int16_t choiceOf(int s) const {
        const float last = static_cast<float>(plugInfo(kSettings[s]).choiceCount - 1);
        const float value = std::clamp(settingValues_[s], 0.0f, last);
        return static_cast<int16_t>(value + 0.5f);
    }

    const PluginInfo &info_;
    host::Host host_;
    host::Driver driver_;
    float sampleRate_;
    int32_t blockLength_ = 0;
    LV2_URID sequenceType_ = 0, midiType_ = 0;
    void *ports_[kMaxPortCount] = {};
    float *inputs_[kInputCount] = {};
    float controlVolts_[kInputCount] = {}; // the controls' last finite values
    float cvLastFinite_[kInputCount] = {};
    float settingValues_[kSettingCount] = {};
    float bendRange_ = kBendRange.defaultValue;
    int16_t choices_[kSettingCount] = {};
    int activeInput_ = 0, pitchInput_ = 0;
    host::NotePlayer notes_;
    MidiEvents midi_;
    float gain_[kMaxCallFrames] = {};
};

template <const PluginInfo &info>
LV2_Handle instantiate(const LV2_Descriptor *, double sampleRate, const char *,
                       const LV2_Feature *const *features) {
    Plugin *plugin = nullptr;
    try {
        plugin = new Plugin(info, sampleRate, features);
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

const LV2_Descriptor kDescriptors[] = {
    {kInstrument.uri, instantiate<kInstrument>, connectPort, activate, run, deactivate, cleanup,
     extensionData},
    {kModular.uri, instantiate<kModular>, connectPort, activate, run, deactivate, cleanup,
     extensionData},
};
static_assert(std::size(kDescriptors) == kPluginCount);

} // namespace

} // namespace fourwave::lv2

extern "C" LV2_SYMBOL_EXPORT const LV2_Descriptor *lv2_descriptor(uint32_t index) {
    return index < fourwave::lv2::kPluginCount ? &fourwave::lv2::kDescriptors[index] : nullptr;
}
