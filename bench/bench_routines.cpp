// The cost of the ten process routines per sample (all four outputs), driven through the
// stand-in host's real callback as a host drives them, beside the floor and the naive
// oscillator (reference_modules.h) measured in the same run.
//
// Benchmarks, by name:
//   routine/<flavour>/<routine>/<case>/block:<n>    one instance, one process call per block
//   reference/<floor|naive>/<case>/block:<n>        the yardsticks, same host, same inputs
//   scale/<flavour|ref>/<routine>/instances:<n>     n instances with buffers of their own,
//                                                   processed block by block (64 samples)
//   pitch/updatePitch                               the pitch conversion alone, a new value
//                                                   every call (the FM Enable worst case)
//   lean/<flavour|ref>/<routine>/<case>/block:<n>   the same behind a minimal host callback
//                                                   (blocks 64 and 256)
//   patch/<flavour>/<in-turn|alone>/block:64        the ten routines as a patch: ten instances,
//                                                   one per routine, behind the minimal
//                                                   callback, called in turn block by block,
//                                                   or each for a run of blocks on its own
// Each reports the items (samples) processed; ns per sample is the inverse of the rate.
// scripts/bench turns the JSON output into the table.
//
// The flavours are the plug-in files themselves, loaded through their two exports: by default
// the one this build made, beside the executable; `--plugin=PATH` (repeatable) names others,
// so that one run measures the SSE and the x87 flavour side by side.
#include <benchmark/benchmark.h>

#include <stdint.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "host/host.h"
#include "module/dsp/core.h"
#include "module/plugs.h"
#include "reference_modules.h"
#include "testkit/routines.h"

namespace fourwave::bench {
namespace {

// ----------------------------------------------------------------------------------------------
// What is measured.

struct Flavour {
    std::string name; // "sse", "x87": from the plug-in file's name
    std::unique_ptr<host::PluginLibrary> library;
};

std::vector<Flavour> &flavours() {
    static std::vector<Flavour> all;
    return all;
}

// The ten routines: the table the tests use too.
using Routine = test::RoutineRow;
const auto &kRoutines = test::kRoutineTable;

// The situations that matter to users. The modulation routines run under FM Enable with a
// steady pitch wherever the case does not name another setting: that is their cheapest
// per-sample pitch path that still follows the input (one comparison per sample).
enum class Case {
    Steady,
    Steady440,
    ThreeZero,
    Band,
    FmSweep,
    HalfSweep,
    PhaseMod,
    PhaseMod440,
    Sync,
    Inactive
};

struct CaseInfo {
    Case id;
    const char *name;
    bool plain;     // measured for the plain routines
    bool modulated; // measured for the modulation routines
};

constexpr CaseInfo kCases[] = {
    {Case::Steady, "steady", true, true},         // all levels non-zero, pitch 0.4 (220 Hz)
    {Case::Steady440, "steady-440", true, true},  // the same at pitch 0.5 (440 Hz), Width 5 V
    {Case::ThreeZero, "three-zero", true, true},  // Ramp, Saw, Triangle levels 0; Pulse on
    {Case::Band, "band", true, true},             // pitch 0.65: inside every crossfade band
    {Case::FmSweep, "fm-sweep", false, true},     // FM Enable, a new pitch every sample
    {Case::HalfSweep, "half-sweep", false, true}, // FM Half, a new pair average every 2
    {Case::PhaseMod, "pm", false, true},          // PM Enable, a moving Phase input, FM off
    {Case::PhaseMod440, "pm-440", false, true},   // the same at 440 Hz, Width 5 V
    {Case::Sync, "sync", true, true},             // a hard-sync edge every 8 samples (6 kHz)
    {Case::Inactive, "inactive", true, true},     // Active 0: winding down, then asking to sleep
};

constexpr int32_t kBlockSizes[] = {16, 64, 256, 1024};
constexpr int32_t kBufferFrames = 1024;
constexpr float kSampleRate = 48000.0f;
constexpr float kSteadyPitch = 0.4f; // 4 V: 220 Hz, below every crossfade band
constexpr float kBandPitch = 0.65f;  // 6.5 V: 1245 Hz, inside the bands of all four shapes
constexpr float kPitch440 = 0.5f;    // 5 V: 440 Hz, inside Perfect 2's band only
constexpr float kLevel = 0.5f;       // 5 V
constexpr int32_t kSyncPeriod = 8;

// The inputs and settings of a case, before open; the events after it.
void configure(host::Host &host, int16_t shape, bool modulated, Case c, int32_t frames) {
    host.setSampleRate(kSampleRate);
    host.setBlockSize(frames);
    host.setChoice(SHAPE_SETTING, shape);
    int16_t fm = modulated ? FM_ENABLE : FM_DISABLE;
    int16_t pm = PM_DISABLE;
    if (c == Case::HalfSweep) fm = FM_HALF;
    const bool phaseMod = c == Case::PhaseMod || c == Case::PhaseMod440;
    const bool at440 = c == Case::Steady440 || c == Case::PhaseMod440;
    if (phaseMod) {
        fm = FM_DISABLE;
        pm = PM_ENABLE;
    }
    host.setChoice(FM_MODE_SETTING, fm);
    host.setChoice(PM_MODE_SETTING, pm);
    host.setChoice(FREQ_SCALE_SETTING, FREQ_SCALE_VOLT_PER_OCTAVE);

    host.fill(PITCH_INPUT, c == Case::Band ? kBandPitch : at440 ? kPitch440 : kSteadyPitch);
    host.fill(WIDTH_INPUT, at440 ? 0.5f : 0.3f);
    host.fill(SYNC_INPUT, 0.0f);
    host.fill(SYNC_THRESHOLD_INPUT, 0.0f);
    host.fill(SYNC_ADVANCE_INPUT, 0.0f);
    host.fill(PHASE_INPUT, 0.0f);
    host.fill(PHASE_MOD_INPUT, 0.5f);
    const bool three = c == Case::ThreeZero;
    host.fill(RAMP_LEVEL_INPUT, three ? 0.0f : kLevel);
    host.fill(SAW_LEVEL_INPUT, three ? 0.0f : kLevel);
    host.fill(PULSE_LEVEL_INPUT, kLevel);
    host.fill(TRIANGLE_LEVEL_INPUT, three ? 0.0f : kLevel);
    host.fill(ACTIVE_INPUT, c == Case::Inactive ? 0.0f : 1.0f);

    if (c == Case::FmSweep || c == Case::HalfSweep) {
        // Every sample differs from the one before, across block boundaries too.
        float *pitch = host.buffer(PITCH_INPUT);
        for (int32_t i = 0; i < frames; ++i)
            pitch[i] = 0.3f + 0.1f * static_cast<float>(i) / static_cast<float>(frames);
    }
    if (phaseMod) {
        float *signal = host.buffer(PHASE_INPUT);
        for (int32_t i = 0; i < frames; ++i)
            signal[i] = 0.1f + 0.8f * static_cast<float>(i % 97) / 97.0f;
    }
    if (c == Case::Sync) {
        float *sync = host.buffer(SYNC_INPUT);
        for (int32_t i = 0; i < frames; ++i) sync[i] = i % kSyncPeriod == 0 ? 1.0f : 0.0f;
    }
}

host::HostOptions timingOptions(int32_t frames) {
    host::HostOptions options;
    options.bufferFrames = frames;
    options.checkBlocks = false;
    options.logCalls = false;
    return options;
}

// One opened instance of a routine or reference, its case applied; null if creation failed.
std::unique_ptr<host::Host> openInstance(const host::PluginEntries &entries, int16_t shape,
                                         bool modulated, Case c, int32_t frames) {
    auto host = std::make_unique<host::Host>(entries, timingOptions(frames));
    if (!host->create()) return nullptr;
    configure(*host, shape, modulated, c, frames);
    host->open();
    // The host tells the instance of the Active input's state, as it does after open.
    host->sendPlugState(ACTIVE_INPUT, STATE_RUNNING);
    return host;
}

void reportSamples(benchmark::State &state, int64_t samplesPerIteration) {
    const int64_t samples = static_cast<int64_t>(state.iterations()) * samplesPerIteration;
    state.SetItemsProcessed(samples); // items_per_second, from CPU time: 1e9 / it is ns/sample
}

// The same instance is called on the same buffers, as a host calls a module whose inputs hold
// still; the outputs land in host memory the benchmark never reads, through a function
// pointer the compiler cannot see through, so no work can be optimised away.
void runBlocks(benchmark::State &state, const host::PluginEntries &entries, int16_t shape,
               bool modulated, Case c) {
    const int32_t block = static_cast<int32_t>(state.range(0));
    auto host = openInstance(entries, shape, modulated, c, kBufferFrames);
    if (!host) {
        state.SkipWithError("the instance could not be created");
        return;
    }
    for (int warm = 0; warm < 4; ++warm) host->process(0, block);
    for (auto _ : state) host->process(0, block);
    benchmark::DoNotOptimize(host->buffer(PULSE_OUTPUT)[block - 1]);
    reportSamples(state, block);
}

constexpr int32_t kScaleBlock = 64;
constexpr int32_t kScaleInstances[] = {1, 16, 256, 2048};

void runScale(benchmark::State &state, const host::PluginEntries &entries, int16_t shape) {
    const int32_t count = static_cast<int32_t>(state.range(0));
    std::vector<std::unique_ptr<host::Host>> hosts;
    hosts.reserve(static_cast<size_t>(count));
    for (int32_t k = 0; k < count; ++k) {
        hosts.push_back(openInstance(entries, shape, false, Case::Steady, kScaleBlock));
        if (!hosts.back()) {
            state.SkipWithError("an instance could not be created");
            return;
        }
    }
    for (auto &host : hosts) host->process(0, kScaleBlock);
    for (auto _ : state)
        for (auto &host : hosts) host->process(0, kScaleBlock);
    reportSamples(state, static_cast<int64_t>(count) * kScaleBlock);
}

// The pitch conversion alone, as FM Enable runs it when the pitch moves every sample.
void runPitchConversion(benchmark::State &state) {
    constexpr int32_t kValues = 1024;
    std::vector<float> pitch(kValues);
    for (int32_t i = 0; i < kValues; ++i)
        pitch[static_cast<size_t>(i)] = 0.3f + 0.1f * static_cast<float>(i) / kValues;
    dsp::Oscillator osc{0.0f, 20.0f, 0.1f, 1.0f / kSampleRate, kSampleRate * 0.25f, 0, true};
    for (auto _ : state) {
        for (const float v : pitch) {
            osc.updatePitch(v);
            benchmark::DoNotOptimize(osc.phaseIncrement);
        }
    }
    reportSamples(state, kValues);
}

// ----------------------------------------------------------------------------------------------
// The same instances behind a minimal host callback: the stand-in host's callback counts and
// logs every call, so its two calls per sample cost far more than a lean host's would. These
// runs answer the same opcodes with the same values (pin count 20, clocks 0 in a block at
// offset 0) and nothing else, to show the routines against a floor whose host calls are as
// cheap as they get. The stand-in host still creates, binds and drives the instance.

intptr_t SE_ABI leanCallback(void *, int32_t opcode, int32_t, int32_t, void *, float) {
    return opcode == HOST_OP_GET_PIN_COUNT ? 20 : 0;
}

constexpr int kLeanSlots = 16;
MakeModuleFunction leanTargets[kLeanSlots];
int leanSlotsUsed = 0;

template <int K>
BindingRecord *SE_ABI makeLean(int32_t index, int32_t kind, HostCallback, void *hostData) {
    return leanTargets[K](index, kind, leanCallback, hostData);
}

template <int... K>
MakeModuleFunction leanMaker(int slot, std::integer_sequence<int, K...>) {
    constexpr MakeModuleFunction makers[] = {makeLean<K>...};
    return makers[slot];
}

// The entries with makeModule routed through a lean callback; null when the slots run out.
bool leanEntries(const host::PluginEntries &entries, host::PluginEntries *lean) {
    if (leanSlotsUsed == kLeanSlots) return false;
    const int slot = leanSlotsUsed++;
    leanTargets[slot] = entries.makeModule;
    *lean = entries;
    lean->makeModule = leanMaker(slot, std::make_integer_sequence<int, kLeanSlots>{});
    return true;
}

constexpr int32_t kLeanBlocks[] = {64, 256};

// ----------------------------------------------------------------------------------------------
// A patch: a host runs its modules one after another, block by block, so each routine's code
// and branch history must survive the nine others between two of its blocks. Ten instances,
// one per routine (the modulation routines under FM Enable with a steady pitch), behind the
// minimal callback. "in-turn" calls them as a host does, each once per block; "alone" makes the
// same calls grouped, each instance for kPatchRounds blocks in a row. Both do the same work on
// the same instances, so their ratio is what the turn-taking costs.
constexpr int32_t kPatchBlock = 64;
constexpr int32_t kPatchRounds = 32;

void runPatch(benchmark::State &state, const host::PluginEntries &entries, bool inTurn) {
    std::vector<std::unique_ptr<host::Host>> hosts;
    for (const Routine &routine : kRoutines) {
        hosts.push_back(
            openInstance(entries, routine.shape, routine.modulated, Case::Steady, kPatchBlock));
        if (!hosts.back()) {
            state.SkipWithError("an instance could not be created");
            return;
        }
    }
    for (auto &host : hosts) host->process(0, kPatchBlock);
    for (auto _ : state) {
        if (inTurn) {
            for (int32_t round = 0; round < kPatchRounds; ++round)
                for (auto &host : hosts) host->process(0, kPatchBlock);
        } else {
            for (auto &host : hosts)
                for (int32_t round = 0; round < kPatchRounds; ++round)
                    host->process(0, kPatchBlock);
        }
    }
    reportSamples(state, static_cast<int64_t>(hosts.size()) * kPatchRounds * kPatchBlock);
}

// ----------------------------------------------------------------------------------------------
// Registration.

// FOURWAVE_BENCH_ITERATIONS=n fixes every benchmark's iteration count (no calibration runs),
// for counting instructions per sample under callgrind rather than timing.
void fixIterations(benchmark::internal::Benchmark *b) {
    const char *text = std::getenv("FOURWAVE_BENCH_ITERATIONS");
    if (text != nullptr && std::atoll(text) > 0) b->Iterations(std::atoll(text));
}

// One benchmark per block size in `blocks`, named `name`, for the given instance and case.
template <size_t N>
void registerBlocks(const std::string &name, const host::PluginEntries &entries, int16_t shape,
                    bool modulated, Case c, const int32_t (&blocks)[N]) {
    auto *b = benchmark::RegisterBenchmark(name.c_str(),
                                           [entries, shape, modulated, c](benchmark::State &state) {
                                               runBlocks(state, entries, shape, modulated, c);
                                           });
    for (const int32_t block : blocks) b->Arg(block);
    b->ArgName("block");
    fixIterations(b);
}

// The references and every routine's cases behind one host: `prefix` "reference/" and
// "routine/" for the stand-in host, "lean/" for the minimal callback (`lean` true).
template <size_t N>
void registerSeries(bool lean, const int32_t (&blocks)[N]) {
    const std::string refs = lean ? "lean/ref/" : "reference/";
    const std::string routines = lean ? "lean/" : "routine/";
    auto host = [lean](const host::PluginEntries &entries, host::PluginEntries *out) {
        if (!lean) {
            *out = entries;
            return true;
        }
        return leanEntries(entries, out);
    };
    for (const Reference r : {Reference::Floor, Reference::Naive, Reference::Direct}) {
        host::PluginEntries entries;
        if (!host(referenceEntries(r), &entries)) continue;
        registerBlocks(refs + referenceName(r) + "/steady", entries, SHAPE_PERFECT, false,
                       Case::Steady, blocks);
    }
    for (const Flavour &flavour : flavours()) {
        host::PluginEntries entries;
        if (!host(flavour.library->entries(), &entries)) continue;
        for (const Routine &routine : kRoutines)
            for (const CaseInfo &info : kCases)
                if (routine.modulated ? info.modulated : info.plain)
                    registerBlocks(routines + flavour.name + "/" + routine.name + "/" + info.name,
                                   entries, routine.shape, routine.modulated, info.id, blocks);
    }
}

void registerAll() {
    fixIterations(benchmark::RegisterBenchmark("pitch/updatePitch", runPitchConversion));
    registerSeries(false, kBlockSizes);
    registerSeries(true, kLeanBlocks);

    for (const Flavour &flavour : flavours()) {
        host::PluginEntries entries;
        if (!leanEntries(flavour.library->entries(), &entries)) continue;
        for (const bool inTurn : {true, false}) {
            const std::string name =
                "patch/" + flavour.name + (inTurn ? "/in-turn" : "/alone") + "/block:64";
            fixIterations(benchmark::RegisterBenchmark(
                name.c_str(),
                [entries, inTurn](benchmark::State &state) { runPatch(state, entries, inTurn); }));
        }
    }

    for (const Reference r : {Reference::Floor, Reference::Naive}) {
        const std::string name = std::string("scale/ref/") + referenceName(r);
        auto *b = benchmark::RegisterBenchmark(name.c_str(), [r](benchmark::State &state) {
            runScale(state, referenceEntries(r), SHAPE_PERFECT);
        });
        for (const int32_t n : kScaleInstances) b->Arg(n);
        b->ArgName("instances");
        fixIterations(b);
    }
    for (const Flavour &flavour : flavours()) {
        const host::PluginEntries entries = flavour.library->entries();
        for (const Routine &routine : kRoutines) {
            if (routine.modulated) continue;
            const std::string name = "scale/" + flavour.name + "/" + routine.name;
            auto *b = benchmark::RegisterBenchmark(name.c_str(),
                                                   [entries, routine](benchmark::State &state) {
                                                       runScale(state, entries, routine.shape);
                                                   });
            for (const int32_t n : kScaleInstances) b->Arg(n);
            b->ArgName("instances");
            fixIterations(b);
        }
    }
}

std::string directoryOfExecutable() {
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return ".";
    path[length] = '\0';
    std::string text(path);
    const size_t slash = text.rfind('/');
    return slash == std::string::npos ? "." : text.substr(0, slash);
}

// "…/fourwave_x87.so" → "x87".
std::string flavourName(const std::string &path) {
    std::string base = path.substr(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1);
    const size_t dot = base.find('.');
    if (dot != std::string::npos) base = base.substr(0, dot);
    const std::string prefix = "fourwave_";
    return base.compare(0, prefix.size(), prefix) == 0 ? base.substr(prefix.size()) : base;
}

bool loadFlavour(const std::string &path) {
    std::string error;
    auto library = host::PluginLibrary::load(path, &error);
    if (!library) {
        std::fprintf(stderr, "fourwave_bench: %s\n", error.c_str());
        return false;
    }
    flavours().push_back(Flavour{flavourName(path), std::move(library)});
    return true;
}

} // namespace
} // namespace fourwave::bench

int main(int argc, char **argv) {
    // Our own options are taken out before the benchmark library sees the rest.
    std::vector<std::string> plugins;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        const char *const option = "--plugin=";
        if (std::strncmp(argv[i], option, std::strlen(option)) == 0)
            plugins.emplace_back(argv[i] + std::strlen(option));
        else
            argv[kept++] = argv[i];
    }
    argc = kept;
    if (plugins.empty())
        plugins.push_back(fourwave::bench::directoryOfExecutable() + "/" FOURWAVE_PLUGIN_FILE);
    for (const std::string &path : plugins)
        if (!fourwave::bench::loadFlavour(path)) return 1;

    fourwave::bench::registerAll();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
