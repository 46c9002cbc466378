// A small LV2 host of the project's own: loads the fourwave.lv2 bundle with lilv and renders
// patches through it, with every input that moves fed to its CV port at audio rate, and
// compares the outputs, sample for sample, with the fourwave CLI's render of the same patch on
// the native SSE plug-in (its render loop, the engine's runner, cut into the same blocks).
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
#include <lv2/buf-size/buf-size.h>
#include <lv2/options/options.h>
#include <lv2/urid/urid.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/patch.h"
#include "engine/runner.h"
#include "host/checks.h"
#include "host/host.h"
#include "ports.h"

using namespace fourwave;

namespace {

constexpr int kChannels = lv2::kOutputCount;

struct Case {
    const char *name;
    const char *patch;   // JSON over the CLI's default patch
    bool everyInputOnCv; // constants on their CV ports too
};

// All ten routines (five shapes, with and without modulation), with sweeps, LFOs, sync
// pulses, phase modulation and gates (the module winds down and sleeps between them).
const Case kCases[] = {
    {"perfect, exponential sweep, gated", R"({"shape":"perfect","pitch":"exp:1:9",
      "active":"gate:0.05-0.2,0.3-0.45","block":"random","seed":3})",
     false},
    {"perfect, FM on, sine on pitch", R"({"shape":"perfect","fm":"on","pitch":"sine:7:3:7",
      "block":"random","seed":4})",
     false},
    {"perfect2, hard sync from a pulse train", R"({"pitch":"2:6","sync":"pulse:110",
      "block":"random","seed":5})",
     false},
    {"perfect2, phase modulation, Active stepping between 3 V and 10 V", R"({"pm":"on",
      "phase":"sine:220:0:10","phase-mod":"sine:2:0:10","active":"square:31:3:10",
      "block":"random","seed":6})",
     false},
    {"bright, soft sync with advance", R"({"shape":"bright","sync":"pulse:97:10:0.3",
      "sync-threshold":5,"sync-advance":"square:5:0:10","block":"random","seed":7})",
     false},
    {"bright, FM half, gated", R"({"shape":"bright","fm":"half","pitch":"sine:300:4:6",
      "active":"square:9:0:10","block":"random","seed":8})",
     false},
    {"medium, width and level sweeps", R"({"shape":"medium","width":"0:10",
      "ramp-level":"sine:30:-10:10","pulse-level":"square:13:-5:9","block":"random","seed":9})",
     false},
    {"medium, FM and PM", R"({"shape":"medium","fm":"on","pm":"on","pitch":"exp:3:8",
      "phase":"sine:1000:0:10","block":"random","seed":10})",
     false},
    {"dark, 1 V/kHz, gated, fixed blocks of 4096", R"({"shape":"dark","freq-scale":"khz",
      "pitch":"0.2:3","active":"gate:0.1-0.4","block":4096})",
     false},
    {"dark, PM, gated, fixed blocks of 1", R"({"shape":"dark","pm":"on","phase":"sine:50:0:10",
      "active":"gate:0.01-0.02,0.03-0.05","block":1,"seconds":0.08})",
     false},
    {"every input on its CV port", R"({"shape":"bright","pitch":3.5,"width":2.5,
      "ramp-level":-4,"saw-level":6,"pulse-level":7.5,"triangle-level":-2,"sync":"pulse:50",
      "sync-threshold":2,"sync-advance":10,"phase":1,"phase-mod":3,"active":"gate:0.1-0.3",
      "fm":"on","pm":"on","block":"random","seed":12})",
     true},
    {"every input on its control", R"({"shape":"bright","pitch":3.5,"width":2.5,
      "ramp-level":-4,"saw-level":6,"pulse-level":7.5,"triangle-level":-2,"sync":0,
      "sync-threshold":2,"sync-advance":10,"phase":1,"phase-mod":3,"active":10,
      "fm":"on","pm":"on","block":"random","seed":12})",
     false},
};

// A case's JSON over a patch. The engine returns a refusal as a value; here it is a fault of
// this program's own table.
void applyPatch(engine::Patch &patch, const std::string &json, const std::string &source) {
    if (const engine::Error error = engine::applyPatchJson(patch, json, source))
        throw std::runtime_error(error.message());
}

// The CLI's render of a patch, and the block sizes it was cut into.
struct Render {
    std::vector<float> channels[kChannels];
    std::vector<int32_t> blocks;
    size_t sleeps = 0;
};

Render renderWithCli(const host::PluginLibrary &library, const engine::Patch &patch) {
    Render render;
    engine::PatchRunner runner(library.entries(), patch);
    if (!runner.created()) throw std::runtime_error("the native plug-in made no instance");
    for (int32_t count; (count = runner.renderBlock()) > 0;) {
        render.blocks.push_back(count);
        for (int c = 0; c < kChannels; ++c)
            render.channels[c].insert(render.channels[c].end(), runner.outputs()[c],
                                      runner.outputs()[c] + count);
    }
    if (!runner.failure().empty()) throw std::runtime_error(runner.failure());
    render.sleeps = runner.summary().sleepFrames.size();
    return render;
}

// The URID map the options feature needs.
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

// One instance of the bundle's plug-in, with the inputs of a patch laid out in full.
class Lv2Render {
public:
    Lv2Render(const LilvPlugin *plugin, const engine::Patch &patch, bool everyInputOnCv)
        : patch_(patch), frames_(patch.frames()) {
        mapFeature_ = {&urids_, UridMap::map};
        blockLength_ = patch.blockFrames;
        const LV2_URID intType = UridMap::map(&urids_, "http://lv2plug.in/ns/ext/atom#Int");
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

        const int16_t settings[lv2::kSettingCount] = {patch.shape, patch.freqScale, patch.fmMode,
                                                      patch.pmMode};
        for (int s = 0; s < lv2::kSettingCount; ++s) controls_[s] = settings[s];
        for (int k = 0; k < lv2::kInputCount; ++k) {
            const engine::Signal &signal = inputSignal(lv2::kInputs[k].plug);
            const bool onCv = everyInputOnCv || signal.kind() != engine::Signal::Kind::Constant;
            controls_[lv2::kFirstControlPort + k] =
                onCv ? lv2::kInputs[k].defaultValue
                     : static_cast<float>(signal.voltsAt(0, patch.sampleRateHz, patch.seconds));
            if (!onCv) continue;
            // As the CLI fills its buffers: volts, divided by 10 in double precision.
            cv_[k].resize(static_cast<size_t>(frames_));
            for (int64_t i = 0; i < frames_; ++i)
                cv_[k][static_cast<size_t>(i)] =
                    static_cast<float>(signal.voltsAt(i, patch.sampleRateHz, patch.seconds) /
                                       static_cast<double>(kVoltsPerUnit));
        }
        for (int p = 0; p < lv2::kFirstCvPort; ++p)
            lilv_instance_connect_port(instance_, static_cast<uint32_t>(p), &controls_[p]);
        for (auto &channel : output_) channel.assign(static_cast<size_t>(frames_), 0.0f);
    }
    ~Lv2Render() { lilv_instance_free(instance_); }
    Lv2Render(const Lv2Render &) = delete;
    Lv2Render &operator=(const Lv2Render &) = delete;

    void activate() { lilv_instance_activate(instance_); }
    void deactivate() { lilv_instance_deactivate(instance_); }

    // Runs the blocks from the first frame on, the buffers connected anew at every block as a
    // host's ring of buffers would be. Returns the heap calls made inside run().
    // Starts at block `firstBlock` of the list (the earlier ones were run before).
    int64_t run(const std::vector<int32_t> &blocks, size_t firstBlock = 0) {
        int64_t heapCalls = 0;
        int64_t at = 0;
        for (size_t b = 0; b < blocks.size(); ++b) {
            const int32_t count = blocks[b];
            if (b < firstBlock) {
                at += count;
                continue;
            }
            if (at + count > frames_) break;
            for (int k = 0; k < lv2::kInputCount; ++k)
                lilv_instance_connect_port(instance_, lv2::kFirstCvPort + k,
                                           cv_[k].empty() ? nullptr : cv_[k].data() + at);
            for (int c = 0; c < kChannels; ++c)
                lilv_instance_connect_port(instance_, lv2::kFirstOutputPort + c,
                                           output_[c].data() + at);
            host::AudioCallScope scope;
            lilv_instance_run(instance_, static_cast<uint32_t>(count));
            heapCalls += scope.heapCalls();
            at += count;
        }
        return heapCalls;
    }

    void setControl(int port, float value) { controls_[port] = value; }
    const std::vector<float> &output(int c) const { return output_[c]; }
    std::vector<float> &output(int c) { return output_[c]; }

private:
    const engine::Signal &inputSignal(int32_t plug) const {
        size_t i = 0;
        while (engine::kInputKeys[i].plug != plug) ++i;
        return patch_.inputs[i];
    }

    engine::Patch patch_;
    int64_t frames_;
    UridMap urids_;
    LV2_URID_Map mapFeature_{};
    int32_t blockLength_ = 0;
    LV2_Options_Option options_[3]{};
    LV2_Feature features_[2]{};
    LilvInstance *instance_ = nullptr;
    float controls_[lv2::kFirstCvPort] = {};
    std::vector<float> cv_[lv2::kInputCount];
    std::vector<float> output_[kChannels];
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
        for (int c = 0; c < kChannels && ok; ++c)
            ok = writeAll(pipeEnds[1], render.output(c).data(),
                          render.output(c).size() * sizeof(float));
        syscall(SYS_exit, ok ? 0 : 4); // exit_group is not allowed in strict mode
    }
    close(pipeEnds[1]);
    bool ok = readAll(pipeEnds[0], heapCalls, sizeof *heapCalls);
    for (int c = 0; c < kChannels && ok; ++c)
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

// Samples whose bits differ, over all four channels.
int64_t differingSamples(const Render &reference, const Lv2Render &render, int64_t *first) {
    int64_t differing = 0;
    *first = -1;
    for (int c = 0; c < kChannels; ++c) {
        const std::vector<float> &a = reference.channels[c];
        const std::vector<float> &b = render.output(c);
        for (size_t i = 0; i < a.size(); ++i)
            if (i >= b.size() || std::memcmp(&a[i], &b[i], sizeof(float)) != 0) {
                if (*first < 0 || static_cast<int64_t>(i) < *first)
                    *first = static_cast<int64_t>(i);
                ++differing;
            }
    }
    return differing;
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
    LilvNode *pluginUri = lilv_new_uri(world, lv2::kModular.uri);
    const LilvPlugin *plugin =
        lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), pluginUri);
    if (plugin == nullptr) {
        std::fprintf(stderr, "fourwave_lv2_compare: no %s in %s\n", lv2::kModular.uri,
                     bundle.c_str());
        return 2;
    }

    int passed = 0, failed = 0;
    auto report = [&](bool ok, const std::string &line) {
        ok ? ++passed : ++failed;
        std::printf("%s  %s\n", ok ? "ok  " : "FAIL", line.c_str());
    };

    for (const Case &c : kCases) {
        try {
            engine::Patch patch = engine::defaultPatch();
            patch.seconds = 0.5;
            applyPatch(patch, c.patch, c.name);
            const Render reference = renderWithCli(*library, patch);
            Lv2Render render(plugin, patch, c.everyInputOnCv);
            render.activate();
            int64_t heapCalls = 0, first = -1;
            const std::string fault = runWithoutSystemCalls(render, reference.blocks, &heapCalls);
            const int64_t differing =
                fault.empty() ? differingSamples(reference, render, &first) : -1;
            char line[512];
            std::snprintf(
                line, sizeof line,
                "%s: %zu frames in %zu blocks, %zu sleeps: %lld samples different%s, "
                "%lld heap calls in run()%s%s",
                c.name, reference.channels[0].size(), reference.blocks.size(), reference.sleeps,
                static_cast<long long>(differing),
                first >= 0 ? (" (first at frame " + std::to_string(first) + ")").c_str() : "",
                static_cast<long long>(heapCalls), fault.empty() ? "" : ", ", fault.c_str());
            report(fault.empty() && differing == 0 && heapCalls == 0, line);
        } catch (const std::exception &e) {
            report(false, std::string(c.name) + ": " + e.what());
        }
    }

    // activate restarts the oscillator as a new open does: a render after a deactivate and
    // activate mid-way equals a fresh one. And a block longer than the wrapper's calls
    // (8192 frames) equals the same frames in blocks that fit.
    try {
        engine::Patch patch = engine::defaultPatch();
        applyPatch(patch, kCases[0].patch, "restart");
        const Render reference = renderWithCli(*library, patch);
        Lv2Render render(plugin, patch, false);
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
                                   std::to_string(differing) + " samples different");

        Lv2Render whole(plugin, patch, false), pieces(plugin, patch, false);
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
        engine::Patch before = engine::defaultPatch(), after;
        applyPatch(before, R"({"shape":"perfect","block":"random","seed":21,
                                         "seconds":0.5})",
                   "settings");
        after = before;
        after.shape = SHAPE_DARK;
        after.fmMode = FM_ENABLE;
        engine::PatchRunner runner(library->entries(), before);
        Render reference;
        for (int32_t count; (count = runner.renderBlock()) > 0;) {
            reference.blocks.push_back(count);
            for (int c = 0; c < kChannels; ++c)
                reference.channels[c].insert(reference.channels[c].end(), runner.outputs()[c],
                                             runner.outputs()[c] + count);
            if (reference.blocks.size() == 20) runner.update(after);
        }
        Lv2Render render(plugin, before, false);
        render.activate();
        int64_t heapCalls = render.run({reference.blocks.begin(), reference.blocks.begin() + 20});
        render.setControl(0, SHAPE_DARK);
        render.setControl(2, FM_ENABLE);
        heapCalls += render.run(reference.blocks, 20);
        int64_t first = -1;
        const int64_t differing = differingSamples(reference, render, &first);
        report(differing == 0 && heapCalls == 0,
               "shape and FM changed after 20 blocks take effect as in the CLI's runner: " +
                   std::to_string(differing) + " samples different, " + std::to_string(heapCalls) +
                   " heap calls in run()");
    } catch (const std::exception &e) {
        report(false, std::string("settings: ") + e.what());
    }

    lilv_node_free(pluginUri);
    lilv_node_free(bundleUri);
    lilv_world_free(world);
    std::printf("lv2 host: %d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
