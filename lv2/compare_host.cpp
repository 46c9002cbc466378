// A small LV2 host of the project's own: loads the fourwave.lv2 bundle with lilv and renders
// patches through both of its plug-ins, and compares the four waveform outputs, sample for
// sample, with the fourwave CLI's render of the same patch on the native SSE plug-in (its
// render loop, the engine's runner, cut into the same blocks):
//   - the modular plug-in with every input that moves fed to its CV port at audio rate (its
//     control at 0 V), or with every CV port connected to silence as real hosts do;
//   - the instrument played from MIDI: notes, legato, pitch bend, all notes off, a drone, at
//     48 and 44.1 kHz; its main output must be the sum of the four waveforms times the fade
//     its documentation gives, on the left and the right alike;
//   - the boundary: a NaN or an infinity on any control or CV port plays as the port's last
//     finite value, a subnormal as 0.
//
// Each LV2 render runs in a child process under seccomp's strict mode, where any system call
// but read, write and exit kills the process: run() makes none. The heap calls made inside
// run() are counted with the stand-in host's counters (this program links host/, which
// replaces the allocator), and must be none.
//
//   fourwave_lv2_compare --bundle DIR/fourwave.lv2 --plugin DIR/fourwave_sse.so
//
// One line per case; the last line is the verdict, and the exit status is 1 when any failed.
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/atom/util.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/midi/midi.h>
#include <lv2/options/options.h>
#include <lv2/urid/urid.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/patch.h"
#include "engine/runner.h"
#include "host/checks.h"
#include "host/host.h"
#include "host/note_player.h"
#include "sdk/host_scale.h"
#include "ports.h"

using namespace fourwave;

namespace {

constexpr int kChannels = lv2::kOutputCount;
constexpr int kMainChannel = kChannels; // the instrument's main left, then right

// How the modular plug-in gets a patch's inputs.
enum class CvUse {
    Moving,       // the inputs that move on their CV ports (controls at 0 V), the rest on controls
    Every,        // every input on its CV port
    SilentPorts,  // every input on its control, every CV port connected to zeros
    Disconnected, // every input on its control, the CV ports left unconnected
};

// A MIDI message at a time in seconds.
struct Midi {
    double seconds;
    uint8_t bytes[3];
};
constexpr uint8_t kOn = 0x90, kOff = 0x80, kBend = 0xE0, kControl = 0xB0;

// The CLI's render of a patch, and the block sizes it was cut into.
struct Render {
    std::vector<float> channels[kChannels];
    std::vector<int32_t> blocks;
    size_t sleeps = 0;
};

Render renderWithCli(const host::PluginLibrary &library, const engine::Patch &patch,
                     size_t changeAfterBlocks = 0, const engine::Patch *changed = nullptr) {
    Render render;
    engine::PatchRunner runner(library.entries(), patch);
    if (!runner.created()) throw std::runtime_error("the native plug-in made no instance");
    for (int32_t count; (count = runner.renderBlock()) > 0;) {
        render.blocks.push_back(count);
        for (int c = 0; c < kChannels; ++c)
            render.channels[c].insert(render.channels[c].end(), runner.outputs()[c],
                                      runner.outputs()[c] + count);
        if (changed != nullptr && render.blocks.size() == changeAfterBlocks)
            runner.update(*changed);
    }
    if (!runner.failure().empty()) throw std::runtime_error(runner.failure());
    render.sleeps = runner.summary().sleepFrames.size();
    return render;
}

engine::Patch patchOf(const std::string &json, const std::string &source, double seconds = 0.5) {
    engine::Patch patch = engine::defaultPatch();
    patch.seconds = seconds;
    // The engine returns a refusal as a value; here it is a fault of this program's tables.
    if (const engine::Error error = engine::applyPatchJson(patch, json, source))
        throw std::runtime_error(error.message());
    return patch;
}

// The URID map the options feature and MIDI need.
struct UridMap {
    std::map<std::string, LV2_URID> ids;
    static LV2_URID map(LV2_URID_Map_Handle handle, const char *uri) {
        auto &ids = static_cast<UridMap *>(handle)->ids;
        auto found = ids.find(uri);
        if (found != ids.end()) return found->second;
        const LV2_URID id = static_cast<LV2_URID>(ids.size() + 1);
        ids.emplace(uri, id);
        return id;
    }
};

// One instance of a plug-in of the bundle, with the inputs of a patch laid out in full: on
// controls (constants) and CV ports, or for the instrument on controls and MIDI events.
class Lv2Render {
public:
    Lv2Render(const LilvPlugin *plugin, const lv2::PluginInfo &info, const engine::Patch &patch,
              CvUse cvUse = CvUse::Moving)
        : info_(info), frames_(patch.frames()) {
        mapFeature_ = {&urids_, UridMap::map};
        blockLength_ = patch.blockFrames;
        const LV2_URID intType = UridMap::map(&urids_, LV2_ATOM__Int);
        options_[0] = {
            LV2_OPTIONS_INSTANCE, 0,       UridMap::map(&urids_, LV2_BUF_SIZE__nominalBlockLength),
            sizeof(int32_t),      intType, &blockLength_};
        options_[1] = {
            LV2_OPTIONS_INSTANCE, 0,       UridMap::map(&urids_, LV2_BUF_SIZE__maxBlockLength),
            sizeof(int32_t),      intType, &blockLength_};
        options_[2] = {LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr};
        features_[0] = {LV2_URID__map, &mapFeature_};
        features_[1] = {LV2_OPTIONS__options, options_};
        const LV2_Feature *features[] = {&features_[0], &features_[1], nullptr};
        instance_ = lilv_plugin_instantiate(plugin, patch.sampleRateHz, features);
        if (instance_ == nullptr)
            throw std::runtime_error("lilv could not instantiate the plug-in");
        sequenceType_ = UridMap::map(&urids_, LV2_ATOM__Sequence);
        midiType_ = UridMap::map(&urids_, LV2_MIDI__MidiEvent);

        for (int s = 0; s < lv2::kSettingCount; ++s)
            for (const engine::PatchSetting &setting : engine::kPatchSettings)
                if (setting.plug == lv2::kSettings[s]) controls_[s] = patch.*setting.choice;
        for (int k = 0; k < lv2::kInputCount; ++k) {
            const Plug input = lv2::kInputs[k];
            const engine::Signal &signal = patch.input(input);
            float &control = controls_[info.firstControl + k];
            if (info.instrument) { // Pitch and Active come from the notes
                const bool fromNotes = input == PITCH_INPUT || input == ACTIVE_INPUT;
                control = fromNotes ? lv2::defaultVolts(info, input)
                                    : static_cast<float>(signal.voltsAt(0, patch.sampleRateHz, 0));
                continue;
            }
            const bool onCv =
                cvUse == CvUse::Every ||
                (cvUse == CvUse::Moving && signal.kind() != engine::Signal::Kind::Constant);
            control = onCv ? 0.0f : static_cast<float>(signal.voltsAt(0, patch.sampleRateHz, 0));
            if (cvUse == CvUse::Disconnected) continue;
            // As the CLI fills its buffers: volts, divided by 10 in double precision.
            cv_[k].assign(static_cast<size_t>(frames_), 0.0f);
            for (int64_t i = 0; onCv && i < frames_; ++i)
                cv_[k][static_cast<size_t>(i)] =
                    static_cast<float>(signal.voltsAt(i, patch.sampleRateHz, patch.seconds) /
                                       static_cast<double>(kVoltsPerUnit));
        }
        if (info.instrument) controls_[info.bendRange] = lv2::kBendRange.defaultValue;
        for (int p = 0; p < info.portCount; ++p)
            if (p < lv2::kSettingCount + lv2::kInputCount || p == info.bendRange)
                lilv_instance_connect_port(instance_, static_cast<uint32_t>(p), &controls_[p]);
        if (info.instrument)
            lilv_instance_connect_port(instance_, static_cast<uint32_t>(info.midiIn), sequence_);
        for (auto &channel : output_) channel.assign(static_cast<size_t>(frames_), 0.0f);
    }
    ~Lv2Render() { lilv_instance_free(instance_); }
    Lv2Render(const Lv2Render &) = delete;
    Lv2Render &operator=(const Lv2Render &) = delete;

    void activate() { lilv_instance_activate(instance_); }
    void deactivate() { lilv_instance_deactivate(instance_); }

    // The instrument's MIDI messages, in time order, at the patch's rate.
    void setMidi(const std::vector<Midi> &messages, int32_t rateHz) {
        events_.clear();
        for (const Midi &m : messages)
            events_.push_back(
                {std::llround(m.seconds * rateHz), {m.bytes[0], m.bytes[1], m.bytes[2]}});
    }

    // Runs the blocks from the first frame on, the buffers connected anew at every block as a
    // host's ring of buffers would be, the block's MIDI events in the sequence. Starts at block
    // `firstBlock` of the list (the earlier ones were run before). Returns the heap calls made
    // inside run().
    int64_t run(const std::vector<int32_t> &blocks, size_t firstBlock = 0) {
        int64_t heapCalls = 0;
        int64_t at = 0;
        size_t event = 0;
        for (size_t b = 0; b < blocks.size(); ++b) {
            const int32_t count = blocks[b];
            if (at + count > frames_) break;
            if (b >= firstBlock) {
                for (int k = 0; !info_.instrument && k < lv2::kInputCount; ++k)
                    lilv_instance_connect_port(instance_, info_.firstCv + k,
                                               cv_[k].empty() ? nullptr : cv_[k].data() + at);
                for (int c = 0; c < kChannels; ++c)
                    lilv_instance_connect_port(instance_, info_.firstOutput + c,
                                               output_[c].data() + at);
                for (int side = 0; info_.instrument && side < 2; ++side)
                    lilv_instance_connect_port(instance_, info_.mainLeft + side,
                                               output_[kMainChannel + side].data() + at);
            }
            writeSequence(event, at, at + count);
            if (b >= firstBlock) {
                host::AudioCallScope scope;
                lilv_instance_run(instance_, static_cast<uint32_t>(count));
                heapCalls += scope.heapCalls();
            }
            at += count;
        }
        return heapCalls;
    }

    void setControl(int port, float value) { controls_[port] = value; }
    std::vector<float> &cv(int k) { return cv_[k]; }
    int channelCount() const { return info_.instrument ? kChannels + 2 : kChannels; }
    const std::vector<float> &output(int c) const { return output_[c]; }
    std::vector<float> &output(int c) { return output_[c]; }

private:
    struct Event {
        int64_t frame;
        uint8_t bytes[3];
    };

    // The events of frames [from, to) into the sequence, at offsets within the block.
    void writeSequence(size_t &event, int64_t from, int64_t to) {
        auto *sequence = reinterpret_cast<LV2_Atom_Sequence *>(sequence_);
        sequence->atom.type = sequenceType_;
        sequence->atom.size = sizeof(LV2_Atom_Sequence_Body);
        sequence->body.unit = 0;
        sequence->body.pad = 0;
        for (; event < events_.size() && events_[event].frame < to; ++event) {
            auto *e = reinterpret_cast<LV2_Atom_Event *>(reinterpret_cast<char *>(&sequence->body) +
                                                         sequence->atom.size);
            e->time.frames = std::max<int64_t>(events_[event].frame - from, 0);
            e->body.type = midiType_;
            e->body.size = 3;
            std::memcpy(e + 1, events_[event].bytes, 3);
            sequence->atom.size += sizeof(LV2_Atom_Event) + lv2_atom_pad_size(3);
        }
    }

    const lv2::PluginInfo &info_;
    int64_t frames_;
    UridMap urids_;
    LV2_URID_Map mapFeature_{};
    LV2_URID sequenceType_ = 0, midiType_ = 0;
    int32_t blockLength_ = 0;
    LV2_Options_Option options_[3]{};
    LV2_Feature features_[2]{};
    LilvInstance *instance_ = nullptr;
    float controls_[lv2::kMaxPortCount] = {};
    std::vector<float> cv_[lv2::kInputCount];
    std::vector<float> output_[kChannels + 2];
    std::vector<Event> events_;
    alignas(8) uint8_t sequence_[1 << 14] = {};
};

bool writeAll(int fd, const void *data, size_t size) {
    const char *bytes = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t written = write(fd, bytes, size);
        if (written <= 0) return false;
        bytes += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}
bool readAll(int fd, void *data, size_t size) {
    char *bytes = static_cast<char *>(data);
    while (size > 0) {
        const ssize_t got = read(fd, bytes, size);
        if (got <= 0) return false;
        bytes += got;
        size -= static_cast<size_t>(got);
    }
    return true;
}

// Runs the blocks in a child process under seccomp's strict mode and reads back the outputs
// and the heap-call count. Empty string, or what went wrong.
std::string runWithoutSystemCalls(Lv2Render &render, const std::vector<int32_t> &blocks,
                                  int64_t *heapCalls) {
    std::fflush(nullptr);
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) return "no pipe";
    const pid_t child = fork();
    if (child < 0) return "no fork";
    if (child == 0) {
        close(pipeEnds[0]);
        if (prctl(PR_SET_SECCOMP, SECCOMP_MODE_STRICT) != 0) syscall(SYS_exit, 3);
        const int64_t calls = render.run(blocks);
        bool ok = writeAll(pipeEnds[1], &calls, sizeof calls);
        for (int c = 0; c < render.channelCount() && ok; ++c)
            ok = writeAll(pipeEnds[1], render.output(c).data(),
                          render.output(c).size() * sizeof(float));
        syscall(SYS_exit, ok ? 0 : 4); // exit_group is not allowed in strict mode
    }
    close(pipeEnds[1]);
    bool ok = readAll(pipeEnds[0], heapCalls, sizeof *heapCalls);
    for (int c = 0; c < render.channelCount() && ok; ++c)
        ok = readAll(pipeEnds[0], render.output(c).data(), render.output(c).size() * sizeof(float));
    close(pipeEnds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (WIFSIGNALED(status))
        return "run() was killed by signal " + std::to_string(WTERMSIG(status)) +
               (WTERMSIG(status) == SIGKILL ? " (a system call under seccomp)" : "");
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return "the child exited with status " + std::to_string(WEXITSTATUS(status));
    return ok ? "" : "the outputs did not come back";
}

// Samples whose bits differ between two sets of channels, and the first frame that does.
int64_t differingSamples(const std::vector<float> *a, const std::vector<float> *b, int channels,
                         int64_t *first) {
    int64_t differing = 0;
    *first = -1;
    for (int c = 0; c < channels; ++c)
        for (size_t i = 0; i < a[c].size(); ++i)
            if (i >= b[c].size() || std::memcmp(&a[c][i], &b[c][i], sizeof(float)) != 0) {
                if (*first < 0 || static_cast<int64_t>(i) < *first)
                    *first = static_cast<int64_t>(i);
                ++differing;
            }
    return differing;
}
int64_t differingSamples(const Render &reference, const Lv2Render &render, int64_t *first) {
    std::vector<float> outputs[kChannels];
    for (int c = 0; c < kChannels; ++c) outputs[c] = render.output(c);
    return differingSamples(reference.channels, outputs, kChannels, first);
}

std::string framesText(int64_t differing, int64_t first) {
    return std::to_string(differing) + " samples different" +
           (first >= 0 ? " (first at frame " + std::to_string(first) + ")" : "");
}

// --- the instrument ------------------------------------------------------------------------

// A case for the instrument: the patch the CLI renders (its Pitch the notes' pitches, its
// Active built from `gates`), the MIDI messages the instrument gets, and the gate spans they
// should give: from a note's start to its release, or -1 for a drone from the first frame.
struct NoteCase {
    const char *name;
    const char *patch;
    std::vector<Midi> midi;
    std::vector<std::pair<double, double>> gates; // seconds: start, release
    float pitchVolts = 5.0f, activeVolts = 0.0f, bendRange = 2.0f;
};

// The module reads its Pitch while it winds down and sleeps too, so a case's Pitch signal
// must be the instrument's pitch at every frame: Pitch (note 69) before the first note, then
// the notes'.
const NoteCase kNoteCases[] = {
    {"instrument, its defaults: note 69 twice, random blocks",
     R"({"pitch":5,"ramp-level":0,"saw-level":0,"triangle-level":0,"block":"random","seed":31})",
     {{0.1, {kOn, 69, 100}}, {0.3, {kOff, 69, 0}}, {0.5, {kOn, 69, 90}}, {0.7, {kOn, 69, 0}}},
     {{0.1, 0.3}, {0.5, 0.7}}},
    {"instrument, dark, FM half: notes 69 and 57",
     R"({"shape":"dark","fm":"half","pitch":"square:1.25:4:5","block":"random","seed":32})",
     {{0.1, {kOn, 69, 100}}, {0.3, {kOff, 69, 64}}, {0.5, {kOn, 57, 100}}, {0.7, {kOff, 57, 0}}},
     {{0.1, 0.3}, {0.5, 0.7}}},
    {"instrument, legato 69-72-69 at block boundaries, FM off, blocks of 64",
     R"({"shape":"bright","pitch":"square:5:5.25:5","block":64})",
     {{0.04, {kOn, 69, 100}}, {0.1, {kOn, 72, 100}}, {0.2, {kOff, 72, 0}}, {0.25, {kOff, 69, 0}}},
     {{0.04, 0.25}}},
    {"instrument, legato 69-72-69 mid-block, FM on",
     R"({"shape":"perfect","fm":"on","pitch":"square:5:5.25:5","block":"random","seed":33})",
     {{0.04, {kOn, 69, 100}}, {0.1, {kOn, 72, 100}}, {0.2, {kOff, 72, 0}}, {0.25, {kOff, 69, 0}}},
     {{0.04, 0.25}}},
    {"instrument, pitch bend: note 63 bent up 6 semitones (range 12) is note 69",
     R"({"shape":"medium","pitch":5,"block":"random","seed":34})",
     {{0.1, {kOn, 63, 100}}, {0.1, {kBend, 0, 96}}, {0.3, {kOff, 63, 0}}},
     {{0.1, 0.3}},
     5.0f,
     0.0f,
     12.0f},
    {"instrument, all notes off releases notes 72 and 69 (the last, 69, sounds)",
     R"({"pm":"on","phase":3,"phase-mod":7,"pitch":5,"block":"random","seed":35})",
     {{0.1, {kOn, 72, 100}}, {0.1, {kOn, 69, 100}}, {0.3, {kControl, 123, 0}}},
     {{0.1, 0.3}}},
    {"instrument, a drone: Active at 10 V, Pitch at 3 V, no note",
     R"({"shape":"perfect","pitch":3,"width":2,"pulse-level":7,"block":"random","seed":36})",
     {},
     {{-1, 1e9}},
     3.0f,
     10.0f},
    {"instrument, 1 V/kHz: Pitch 0.5 V, note 69 plays 500 Hz and note 81 1 kHz",
     R"({"freq-scale":"khz","pitch":"square:1.25:1:0.5","block":"random","seed":37})",
     {{0.1, {kOn, 69, 100}}, {0.2, {kOff, 69, 0}}, {0.4, {kOn, 81, 100}}, {0.6, {kOff, 81, 0}}},
     {{0.1, 0.2}, {0.4, 0.6}},
     0.5f},
    {"instrument, 44.1 kHz: Pitch 4 V, note 69 (a fade of 221 frames)",
     R"({"rate":44100,"pitch":4,"block":"random","seed":38})",
     {{0.1, {kOn, 69, 100}}, {0.3, {kOff, 69, 0}}},
     {{0.1, 0.3}},
     4.0f},
};

// The gates of a case as the CLI's Active signal, in frames: open from the note's start to
// its release plus the fade.
std::string gateText(const NoteCase &c, int32_t rateHz, int32_t fade) {
    std::string text;
    char span[96];
    for (const auto &[start, release] : c.gates) {
        const int64_t on = start < 0 ? 0 : std::llround(start * rateHz);
        const int64_t off = std::llround(release * rateHz) + fade;
        std::snprintf(span, sizeof span, "%s%.17g-%.17g", text.empty() ? "gate:" : ",",
                      static_cast<double>(on) / rateHz, static_cast<double>(off) / rateHz);
        text += span;
    }
    return text.empty() ? "0" : text;
}

// The main output's gain at every frame, as documented: a smoothstep over the fade after each
// start and each release, 1 in between, 0 after.
std::vector<float> documentedGain(const NoteCase &c, int32_t rateHz, int32_t fade, int64_t frames) {
    auto smoothstep = [fade](int32_t step) {
        if (step >= fade) return 1.0f;
        const float x = static_cast<float>(step) / static_cast<float>(fade);
        return x * x * (3.0f - 2.0f * x);
    };
    std::vector<float> gain(static_cast<size_t>(frames), 0.0f);
    for (const auto &[start, release] : c.gates) {
        const int64_t on = start < 0 ? 0 : std::llround(start * rateHz);
        const int64_t off = std::min<int64_t>(std::llround(release * rateHz), frames);
        for (int64_t i = on; i < off; ++i)
            gain[static_cast<size_t>(i)] = smoothstep(static_cast<int32_t>(i - on + 1));
        for (int64_t i = off; i < std::min(off + fade, frames); ++i)
            gain[static_cast<size_t>(i)] = smoothstep(static_cast<int32_t>(fade - 1 - (i - off)));
    }
    return gain;
}

// What is wrong with the main output of an instrument render, or an empty string.
std::string mainOutputFault(const Lv2Render &render, const std::vector<float> &gain) {
    const std::vector<float> &left = render.output(kMainChannel),
                             &right = render.output(kMainChannel + 1);
    if (std::memcmp(left.data(), right.data(), left.size() * sizeof(float)) != 0)
        return "the main output's left and right differ";
    int64_t differing = 0, first = -1, sounding = 0;
    for (size_t i = 0; i < left.size(); ++i) {
        const float sum =
            render.output(0)[i] + render.output(1)[i] + render.output(2)[i] + render.output(3)[i];
        const float expected = sum * gain[i];
        sounding += left[i] != 0.0f;
        if (std::memcmp(&expected, &left[i], sizeof(float)) != 0) {
            if (first < 0) first = static_cast<int64_t>(i);
            ++differing;
        }
    }
    if (differing > 0)
        return "the main output is not the documented sum: " + framesText(differing, first);
    if (sounding == 0) return "the main output is silent";
    return "";
}

// --- the boundary ----------------------------------------------------------------------------

int controlPort(const lv2::PluginInfo &info, int32_t plug) {
    int k = 0;
    while (lv2::kInputs[k] != plug) ++k;
    return info.firstControl + k;
}

// The ports that take a value from the host, by index, for a plug-in.
std::vector<int> valuePorts(const lv2::PluginInfo &info) {
    std::vector<int> ports;
    for (int p = 0; p < lv2::kSettingCount + lv2::kInputCount; ++p) ports.push_back(p);
    if (info.instrument) ports.push_back(info.bendRange);
    return ports;
}

} // namespace

int main(int argc, char **argv) {
    std::string bundle, pluginPath;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--bundle") == 0) bundle = argv[i + 1];
        if (std::strcmp(argv[i], "--plugin") == 0) pluginPath = argv[i + 1];
    }
    if (bundle.empty() || pluginPath.empty()) {
        std::fprintf(stderr, "usage: fourwave_lv2_compare --bundle DIR/fourwave.lv2 --plugin "
                             "DIR/fourwave_sse.so\n");
        return 2;
    }
    if (bundle.back() != '/') bundle += '/';

    std::string error;
    const auto library = host::PluginLibrary::load(pluginPath, &error);
    if (!library) {
        std::fprintf(stderr, "fourwave_lv2_compare: %s\n", error.c_str());
        return 2;
    }
    LilvWorld *world = lilv_world_new();
    LilvNode *bundleUri = lilv_new_file_uri(world, nullptr, bundle.c_str());
    lilv_world_load_bundle(world, bundleUri);
    const LilvPlugin *plugins[lv2::kPluginCount] = {};
    for (int p = 0; p < lv2::kPluginCount; ++p) {
        LilvNode *uri = lilv_new_uri(world, lv2::kPlugins[p]->uri);
        plugins[p] = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), uri);
        lilv_node_free(uri);
        if (plugins[p] == nullptr) {
            std::fprintf(stderr, "fourwave_lv2_compare: no %s in %s\n", lv2::kPlugins[p]->uri,
                         bundle.c_str());
            return 2;
        }
    }
    const LilvPlugin *instrument = plugins[0], *modular = plugins[1];

    int passed = 0, failed = 0;
    auto report = [&](bool ok, const std::string &line) {
        ok ? ++passed : ++failed;
        std::printf("%s  %s\n", ok ? "ok  " : "FAIL", line.c_str());
    };
    // A render in a child under seccomp against the CLI's: the line for the report, and
    // whether it passed.
    auto compareRun = [&](Lv2Render &render, const Render &reference, const std::string &name,
                          bool *ok) {
        render.activate();
        int64_t heapCalls = 0, first = -1;
        const std::string fault = runWithoutSystemCalls(render, reference.blocks, &heapCalls);
        const int64_t differing = fault.empty() ? differingSamples(reference, render, &first) : -1;
        char line[512];
        std::snprintf(line, sizeof line,
                      "%s: %zu frames in %zu blocks, %zu sleeps: %s, %lld heap calls in run()%s%s",
                      name.c_str(), reference.channels[0].size(), reference.blocks.size(),
                      reference.sleeps, framesText(differing, first).c_str(),
                      static_cast<long long>(heapCalls), fault.empty() ? "" : ", ", fault.c_str());
        *ok = fault.empty() && differing == 0 && heapCalls == 0;
        return std::string(line);
    };

    // The modular plug-in: all ten routines (five shapes, with and without modulation), with
    // sweeps, LFOs, sync pulses, phase modulation and gates on the CV ports (the module winds
    // down and sleeps between them).
    struct ModularCase {
        const char *name;
        const char *patch;
        CvUse cvUse;
    };
    const ModularCase modularCases[] = {
        {"perfect, exponential sweep, gated", R"({"shape":"perfect","pitch":"exp:1:9",
          "active":"gate:0.05-0.2,0.3-0.45","block":"random","seed":3})",
         CvUse::Moving},
        {"perfect, FM on, sine on pitch", R"({"shape":"perfect","fm":"on","pitch":"sine:7:3:7",
          "block":"random","seed":4})",
         CvUse::Moving},
        {"perfect2, hard sync from a pulse train", R"({"pitch":"2:6","sync":"pulse:110",
          "block":"random","seed":5})",
         CvUse::Moving},
        {"perfect2, phase modulation, Active stepping between 3 V and 10 V", R"({"pm":"on",
          "phase":"sine:220:0:10","phase-mod":"sine:2:0:10","active":"square:31:3:10",
          "block":"random","seed":6})",
         CvUse::Moving},
        {"bright, soft sync with advance", R"({"shape":"bright","sync":"pulse:97:10:0.3",
          "sync-threshold":5,"sync-advance":"square:5:0:10","block":"random","seed":7})",
         CvUse::Moving},
        {"bright, FM half, gated", R"({"shape":"bright","fm":"half","pitch":"sine:300:4:6",
          "active":"square:9:0:10","block":"random","seed":8})",
         CvUse::Moving},
        {"medium, width and level sweeps", R"({"shape":"medium","width":"0:10",
          "ramp-level":"sine:30:-10:10","pulse-level":"square:13:-5:9","block":"random","seed":9})",
         CvUse::Moving},
        {"medium, FM and PM", R"({"shape":"medium","fm":"on","pm":"on","pitch":"exp:3:8",
          "phase":"sine:1000:0:10","block":"random","seed":10})",
         CvUse::Moving},
        {"dark, 1 V/kHz, gated, fixed blocks of 4096", R"({"shape":"dark","freq-scale":"khz",
          "pitch":"0.2:3","active":"gate:0.1-0.4","block":4096})",
         CvUse::Moving},
        {"dark, PM, gated, fixed blocks of 1", R"({"shape":"dark","pm":"on",
          "phase":"sine:50:0:10","active":"gate:0.01-0.02,0.03-0.05","block":1,"seconds":0.08})",
         CvUse::Moving},
        {"every input on its CV port", R"({"shape":"bright","pitch":3.5,"width":2.5,
          "ramp-level":-4,"saw-level":6,"pulse-level":7.5,"triangle-level":-2,"sync":"pulse:50",
          "sync-threshold":2,"sync-advance":10,"phase":1,"phase-mod":3,"active":"gate:0.1-0.3",
          "fm":"on","pm":"on","block":"random","seed":12})",
         CvUse::Every},
        {"every input on its control, every CV port connected to silence (as hosts do)",
         R"({"shape":"bright","pitch":3.5,"width":2.5,"ramp-level":-4,"saw-level":6,
          "pulse-level":7.5,"triangle-level":-2,"sync":0,"sync-threshold":2,"sync-advance":10,
          "phase":1,"phase-mod":3,"active":10,"fm":"on","pm":"on","block":"random","seed":12})",
         CvUse::SilentPorts},
        {"every input on its control, the CV ports unconnected",
         R"({"shape":"bright","pitch":3.5,"width":2.5,"ramp-level":-4,"saw-level":6,
          "pulse-level":7.5,"triangle-level":-2,"sync":0,"sync-threshold":2,"sync-advance":10,
          "phase":1,"phase-mod":3,"active":10,"fm":"on","pm":"on","block":"random","seed":12})",
         CvUse::Disconnected},
    };
    for (const ModularCase &c : modularCases) {
        try {
            const engine::Patch patch = patchOf(c.patch, c.name);
            const Render reference = renderWithCli(*library, patch);
            Lv2Render render(modular, lv2::kModular, patch, c.cvUse);
            bool ok = false;
            const std::string line = compareRun(render, reference, c.name, &ok);
            report(ok, "modular, " + line);
        } catch (const std::exception &e) {
            report(false, std::string(c.name) + ": " + e.what());
        }
    }

    // A CV port adds to its control: Pitch 5 V and -0.125 on Pitch CV play as Pitch 3.75 V.
    try {
        const engine::Patch patch = patchOf(R"({"pitch":3.75,"block":"random","seed":13})", "sum");
        const Render reference = renderWithCli(*library, patch);
        Lv2Render render(modular, lv2::kModular, patch, CvUse::SilentPorts);
        render.setControl(lv2::kModular.firstControl, 5.0f);
        std::fill(render.cv(0).begin(), render.cv(0).end(), -0.125f);
        bool ok = false;
        report(ok, compareRun(render, reference,
                              "modular, Pitch 5 V plus -0.125 on Pitch CV plays as 3.75 V", &ok));
    } catch (const std::exception &e) {
        report(false, std::string("CV sum: ") + e.what());
    }

    // The instrument from MIDI against the CLI's render of the same pitches and gates, and its
    // main output against the documented sum and fade.
    for (const NoteCase &c : kNoteCases) {
        try {
            engine::Patch patch = patchOf(c.patch, c.name, 0.8);
            const int32_t fade = static_cast<int32_t>(
                std::lround(patch.sampleRateHz * host::NotePlayer::kFadeSeconds));
            const std::string gates = gateText(c, patch.sampleRateHz, fade);
            if (const engine::Error e =
                    engine::applyPatchJson(patch, "{\"active\":\"" + gates + "\"}", "gates"))
                throw std::runtime_error(e.message());
            const Render reference = renderWithCli(*library, patch);
            Lv2Render render(instrument, lv2::kInstrument, patch);
            render.setControl(controlPort(lv2::kInstrument, PITCH_INPUT), c.pitchVolts);
            render.setControl(controlPort(lv2::kInstrument, ACTIVE_INPUT), c.activeVolts);
            render.setControl(lv2::kInstrument.bendRange, c.bendRange);
            render.setMidi(c.midi, patch.sampleRateHz);
            bool ok = false;
            const std::string line = compareRun(render, reference, c.name, &ok);
            const std::string fault =
                ok ? mainOutputFault(render,
                                     documentedGain(c, patch.sampleRateHz, fade, patch.frames()))
                   : "";
            report(ok && fault.empty(),
                   line + (!ok             ? ""
                           : fault.empty() ? "; main output = the sum times the fade"
                                           : "; " + fault));
        } catch (const std::exception &e) {
            report(false, std::string(c.name) + ": " + e.what());
        }
    }

    // activate restarts the oscillator as a new open does: a render after a deactivate and
    // activate mid-way equals a fresh one. And a block longer than the wrapper's calls
    // (8192 frames) equals the same frames in blocks that fit.
    try {
        const engine::Patch patch = patchOf(modularCases[0].patch, "restart");
        const Render reference = renderWithCli(*library, patch);
        Lv2Render render(modular, lv2::kModular, patch);
        render.activate();
        render.run(
            {reference.blocks.begin(), reference.blocks.begin() + reference.blocks.size() / 2});
        render.deactivate();
        for (auto channel = 0; channel < kChannels; ++channel)
            std::fill(render.output(channel).begin(), render.output(channel).end(), 0.0f);
        render.activate();
        render.run(reference.blocks);
        int64_t first = -1;
        const int64_t differing = differingSamples(reference, render, &first);
        report(differing == 0, "after deactivate and activate mid-render the render starts "
                               "again as a new one: " +
                                   framesText(differing, first));

        Lv2Render whole(modular, lv2::kModular, patch), pieces(modular, lv2::kModular, patch);
        whole.activate();
        pieces.activate();
        const int32_t frames = static_cast<int32_t>(patch.frames());
        whole.run({frames});
        std::vector<int32_t> fitting(static_cast<size_t>(frames / 8192), 8192);
        fitting.push_back(frames % 8192);
        pieces.run(fitting);
        int64_t differingBig = 0;
        for (int ch = 0; ch < kChannels; ++ch)
            differingBig += std::memcmp(whole.output(ch).data(), pieces.output(ch).data(),
                                        whole.output(ch).size() * sizeof(float)) != 0;
        report(differingBig == 0, "one block of " + std::to_string(frames) +
                                      " frames equals the same frames in blocks of 8192: " +
                                      (differingBig == 0 ? "equal" : "different"));
    } catch (const std::exception &e) {
        report(false, std::string("restart and long blocks: ") + e.what());
    }

    // A setting changed while the plug-in runs takes effect as the CLI's runner makes it do
    // (a plug-state event at the next block): shape Perfect to Dark with FM on, half-way.
    try {
        const engine::Patch before =
            patchOf(R"({"shape":"perfect","block":"random","seed":21})", "settings");
        engine::Patch after = before;
        after.shape = SHAPE_DARK;
        after.fmMode = FM_ENABLE;
        const Render reference = renderWithCli(*library, before, 20, &after);
        Lv2Render render(modular, lv2::kModular, before);
        render.activate();
        int64_t heapCalls = render.run({reference.blocks.begin(), reference.blocks.begin() + 20});
        render.setControl(lv2::kShapeSetting, SHAPE_DARK);
        render.setControl(lv2::kFmSetting, FM_ENABLE);
        heapCalls += render.run(reference.blocks, 20);
        int64_t first = -1;
        const int64_t differing = differingSamples(reference, render, &first);
        report(differing == 0 && heapCalls == 0,
               "shape and FM changed after 20 blocks take effect as in the CLI's runner: " +
                   framesText(differing, first) + ", " + std::to_string(heapCalls) +
                   " heap calls in run()");
    } catch (const std::exception &e) {
        report(false, std::string("settings: ") + e.what());
    }

    // The boundary, on both plug-ins: from block 10 on, each control port in turn holds a
    // NaN, an infinity or a subnormal. A non-finite value must play as the port's last finite
    // value (the render equals the untouched one, and no output is NaN); a subnormal as 0 (the
    // render equals one with 0 there). And a NaN or a subnormal in a CV port's samples.
    try {
        const engine::Patch patch = patchOf(
            R"({"pitch":"sine:3:3:6","active":"gate:0.02-0.45","block":"random","seed":41})",
            "boundary", 0.25);
        const float bad[] = {std::numeric_limits<float>::quiet_NaN(),
                             std::numeric_limits<float>::infinity(),
                             -std::numeric_limits<float>::infinity(), 1e-39f, -1e-39f};
        const std::vector<Midi> notes = {{0.02, {kOn, 60, 100}}, {0.2, {kOff, 60, 0}}};
        const std::vector<int32_t> blocks = renderWithCli(*library, patch).blocks;
        const std::vector<int32_t> firstBlocks(blocks.begin(), blocks.begin() + 10);
        for (int p = 0; p < lv2::kPluginCount; ++p) {
            const lv2::PluginInfo &info = *lv2::kPlugins[p];
            // The outputs with `value` on `port` from block 10 on (none for a port of -1).
            auto rendered = [&](int port, float value, std::vector<float> *out) {
                Lv2Render render(plugins[p], info, patch);
                render.setMidi(notes, patch.sampleRateHz);
                render.activate();
                render.run(firstBlocks);
                if (port >= 0) render.setControl(port, value);
                render.run(blocks, 10);
                for (int c = 0; c < render.channelCount(); ++c) out[c] = render.output(c);
                return render.channelCount();
            };
            std::vector<float> untouched[kChannels + 2];
            const int channels = rendered(-1, 0, untouched);
            int64_t faults = 0, nonFinite = 0;
            std::string firstFault;
            for (int port : valuePorts(info)) {
                for (float value : bad) {
                    std::vector<float> got[kChannels + 2], expected[kChannels + 2];
                    rendered(port, value, got);
                    const bool subnormal = std::isfinite(value);
                    if (subnormal) rendered(port, 0.0f, expected);
                    int64_t first = -1;
                    const int64_t differing =
                        differingSamples(subnormal ? expected : untouched, got, channels, &first);
                    for (int c = 0; c < channels; ++c)
                        for (float sample : got[c]) nonFinite += !std::isfinite(sample);
                    char where[64];
                    std::snprintf(where, sizeof where, "port %d at %g: ", port,
                                  static_cast<double>(value));
                    if (differing > 0 && faults++ == 0)
                        firstFault = where + framesText(differing, first);
                }
            }
            report(faults == 0 && nonFinite == 0,
                   std::string(info.instrument ? "instrument" : "modular") +
                       ": NaN, +-inf and +-1e-39 on each of " +
                       std::to_string(valuePorts(info).size()) +
                       " control ports play as the last finite value and as 0: " +
                       std::to_string(faults) + " renders different, " + std::to_string(nonFinite) +
                       " non-finite samples" + (firstFault.empty() ? "" : " (" + firstFault + ")"));
        }

        // CV: a NaN and an infinity among Pitch CV's samples play as the sample before; a
        // subnormal on Saw Level CV as 0.
        Lv2Render clean(modular, lv2::kModular, patch, CvUse::Every),
            dirty(modular, lv2::kModular, patch, CvUse::Every);
        for (size_t i = 3000; i < 3100; ++i) {
            dirty.cv(0)[i] = i % 2 ? std::numeric_limits<float>::quiet_NaN()
                                   : std::numeric_limits<float>::infinity();
            clean.cv(0)[i] = clean.cv(0)[2999];
        }
        for (size_t i = 5000; i < 5200; ++i) {
            dirty.cv(3)[i] = 1e-39f;
            clean.cv(3)[i] = 0.0f;
        }
        clean.activate();
        dirty.activate();
        clean.run(blocks);
        int64_t heapCalls = 0;
        const std::string fault = runWithoutSystemCalls(dirty, blocks, &heapCalls);
        std::vector<float> cleanOutputs[kChannels], dirtyOutputs[kChannels];
        for (int c = 0; c < kChannels; ++c) {
            cleanOutputs[c] = clean.output(c);
            dirtyOutputs[c] = dirty.output(c);
        }
        int64_t first = -1;
        const int64_t differing =
            fault.empty() ? differingSamples(cleanOutputs, dirtyOutputs, kChannels, &first) : -1;
        report(fault.empty() && differing == 0 && heapCalls == 0,
               "modular: NaN and inf samples on Pitch CV play as the sample before, subnormal "
               "samples on Saw Level CV as 0: " +
                   framesText(differing, first) + (fault.empty() ? "" : ", " + fault));
    } catch (const std::exception &e) {
        report(false, std::string("boundary: ") + e.what());
    }

    lilv_node_free(bundleUri);
    lilv_world_free(world);
    std::printf("lv2 host: %d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
