// fourwave: the command-line host of the Fourwave oscillator. It loads a plug-in library
// through its two exports, as the host application does, and either renders a patch to a
// WAV file or measures steady tones of every shape (see --help).
//
// Exit status: 0 done; 1 a render failed (a block check or a write); 2 bad input (an option,
// a patch file, a plug-in library), with one line on stderr naming the problem and its place.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "analysis.h"
#include "engine/frequency.h"
#include "engine/patch.h"
#include "engine/plugin.h"
#include "engine/runner.h"
#include "errors.h"
#include "sdk/host_scale.h"
#include "wav_file.h"

using namespace fourwave;
using namespace fourwave::apps;
using namespace fourwave::engine;

namespace {

constexpr const char *kVersion = "fourwave " FOURWAVE_VERSION_TEXT;
constexpr double kProgressAfterSeconds = 1.0;

// The engine returns what is wrong with the user's input as a value; here it is bad input.
void throwIfBadInput(const Error &error) {
    if (error) throw UsageError(error.message());
}

// A render that stopped early (the library refused an instance, a block check broke).
RenderSummary throwIfStopped(RenderSummary summary) {
    if (!summary.failure.empty()) throw RunError(summary.failure);
    return summary;
}

// ---------------------------------------------------------------------------------------------
// Command-line values, kept as text until the patch layers are applied in order.

struct RenderOptions {
    std::string patchPath;
    std::string outputPath;
    std::string pluginPath;
    bool split = false;
    bool quiet = false;
    std::map<std::string, std::string> values; // by patch key
    std::map<std::string, CLI::Option *> options;
};

struct PlugsOptions {
    bool json = false;
    std::string pluginPath;
    CLI::Option *pluginOption = nullptr;
};

struct AnalyzeOptions {
    std::string shapes = "perfect,perfect2,bright,medium,dark";
    std::string pitches = "2,5,7,8,9";
    std::string rate = "48000";
    std::string csvPath;
    std::string pluginPath;
    CLI::Option *pluginOption = nullptr;
};

// The render's own options, beside the plugs': key, value name, help.
const char *const kRenderSettingsHelp[][3] = {
    {"rate", "HZ", "Sample rate (default 48000)"},
    {"block", "N|random", "Frames per process call, 1-4096 (default 64); random: 1-1024"},
    {"seed", "N", "Seed of the random block sizes (default 1)"},
    {"seconds", "S", "Length of the render (default 2)"},
};

// "-10", "0.5": a number of the plug table as the help writes it.
std::string shortNumber(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

// "off|on|half": a setting's value name in the help.
std::string choiceAlternatives(Plug setting) {
    const PlugInfo &info = plugInfo(setting);
    std::string names;
    for (int32_t c = 0; c < info.choiceCount; ++c)
        names += std::string(c == 0 ? "" : "|") + info.choices[c].key;
    return names;
}

// A plug's option help: its line in the plug table, then its range and the built-in patch's
// value.
std::string plugOptionHelp(Plug plug, const Patch &defaults) {
    const PlugInfo &info = plugInfo(plug);
    if (kindOf(info) == PlugKind::Setting) {
        for (const PatchSetting &setting : kPatchSettings)
            if (setting.plug == plug)
                return std::string(info.help) + " [default " +
                       choiceKey(plug, defaults.*setting.choice) + "]";
    }
    return std::string(info.help) + " [" + shortNumber(info.minimum) + " to " +
           shortNumber(info.maximum) + " V, default " + defaults.input(plug).text() + "]";
}

std::string splitPath(const std::string &path, const char *outputName) {
    const size_t slash = path.rfind('/');
    const size_t dot = path.rfind('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
        return path.substr(0, dot) + "-" + outputName + path.substr(dot);
    return path + "-" + outputName + ".wav";
}

// ---------------------------------------------------------------------------------------------
// Progress and summaries

class ProgressBar {
public:
    explicit ProgressBar(bool enabled) : enabled_(enabled && isatty(STDERR_FILENO) == 1) {}
    void update(int64_t done, int64_t total) {
        if (!enabled_) return;
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
        if (elapsed < kProgressAfterSeconds && !shown_) return;
        if (done >= total) {
            finish();
            return;
        }
        constexpr int kWidth = 40;
        const double fraction = total > 0 ? static_cast<double>(done) / total : 1.0;
        const int filled = static_cast<int>(fraction * kWidth);
        std::fprintf(stderr, "\r[%s%s] %3d%%  %.0f s left", std::string(filled, '#').c_str(),
                     std::string(kWidth - filled, '.').c_str(), static_cast<int>(fraction * 100),
                     fraction > 0 ? elapsed * (1 - fraction) / fraction : 0.0);
        std::fflush(stderr);
        shown_ = true;
    }
    void finish() {
        if (!shown_) return;
        std::fprintf(stderr, "\r\033[K");
        std::fflush(stderr);
        shown_ = false;
    }

private:
    bool enabled_;
    bool shown_ = false;
    std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
};

std::string formatSeconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", seconds);
    return text;
}

// Writes `content` to `path` through a temporary file in the same folder.
void writeTextAtomically(const std::string &path, const std::string &content) {
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    std::string temporary = (slash == std::string::npos ? std::string("./") : folder) + "." +
                            path.substr(slash == std::string::npos ? 0 : slash + 1) + ".XXXXXX";
    const int fd = mkstemp(temporary.data());
    if (fd < 0)
        throw UsageError(path + ": cannot write in the folder '" + folder +
                         "': " + std::strerror(errno));
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    const bool written =
        ::write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size());
    if (close(fd) != 0 || !written || std::rename(temporary.c_str(), path.c_str()) != 0) {
        unlink(temporary.c_str());
        throw RunError(path + ": cannot write the file");
    }
}

// The library used when no --plugin is given: the SSE build next to the executable, else the
// build of the flavour the executable was built with (also next to it).
std::string defaultPluginPath() {
    std::vector<char> executable(4096);
    const ssize_t length = readlink("/proc/self/exe", executable.data(), executable.size() - 1);
    std::string directory = ".";
    if (length > 0) {
        const std::string text(executable.data(), static_cast<size_t>(length));
        const size_t slash = text.rfind('/');
        if (slash != std::string::npos) directory = text.substr(0, slash);
    }
    const std::string sse = directory + "/fourwave_sse.so";
    if (access(sse.c_str(), F_OK) == 0) return sse;
    const std::string sibling = directory + "/" + FOURWAVE_SIBLING_PLUGIN;
    if (access(sibling.c_str(), F_OK) == 0) return sibling;
    return sse; // the load names the missing file
}

std::unique_ptr<host::PluginLibrary> pluginFrom(const std::string &path, bool given) {
    const char *where = given ? "option --plugin"
                              : "the default plug-in (build it, or give one with --plugin PATH)";
    std::unique_ptr<host::PluginLibrary> library;
    throwIfBadInput(loadPlugin(given ? path : defaultPluginPath(), where, &library));
    return library;
}

// ---------------------------------------------------------------------------------------------
// render

int runRender(const RenderOptions &options, bool pluginGiven) {
    Patch patch = defaultPatch();
    if (!options.patchPath.empty()) throwIfBadInput(applyPatchFile(patch, options.patchPath));
    for (const auto &[key, option] : options.options)
        if (option->count() > 0)
            throwIfBadInput(applySetting(patch, key, nlohmann::json(options.values.at(key)),
                                         "option --" + key));
    throwIfBadInput(checkLength(patch, "option --seconds"));

    const std::unique_ptr<host::PluginLibrary> library =
        pluginFrom(options.pluginPath, pluginGiven);

    std::vector<std::unique_ptr<WavWriter>> writers;
    if (options.split) {
        for (int c = 0; c < kOutputCount; ++c)
            writers.push_back(std::make_unique<WavWriter>(
                splitPath(options.outputPath, outputName(c)), 1, patch.sampleRateHz));
    } else {
        writers.push_back(
            std::make_unique<WavWriter>(options.outputPath, kOutputCount, patch.sampleRateHz));
    }

    std::vector<float> interleaved;
    const BlockSink sink = [&](const float *const channels[kOutputCount], int32_t count) {
        if (options.split) {
            for (int c = 0; c < kOutputCount; ++c)
                writers[static_cast<size_t>(c)]->write(channels[c], count);
            return;
        }
        interleaved.resize(static_cast<size_t>(count) * kOutputCount);
        for (int32_t i = 0; i < count; ++i)
            for (int c = 0; c < kOutputCount; ++c)
                interleaved[static_cast<size_t>(i) * kOutputCount + c] = channels[c][i];
        writers.front()->write(interleaved.data(), count);
    };
    ProgressBar bar(!options.quiet);
    const ProgressCallback progress = [&](int64_t done, int64_t total) { bar.update(done, total); };
    const RenderSummary summary =
        throwIfStopped(renderPatch(library->entries(), patch, sink, progress));
    bar.finish();
    for (auto &writer : writers) writer->commit();

    if (!options.quiet) {
        const double audioSeconds = static_cast<double>(summary.frames) / patch.sampleRateHz;
        std::string files = writers.front()->path();
        if (writers.size() > 1)
            files += " (and the " + std::to_string(writers.size() - 1) + " other outputs)";
        std::string sleep = "no sleep request";
        constexpr size_t kListedSleeps = 4;
        for (size_t i = 0; i < summary.sleepFrames.size() && i < kListedSleeps; ++i)
            sleep = (i == 0 ? "asked to sleep at " : sleep + ", ") +
                    formatSeconds(static_cast<double>(summary.sleepFrames[i]) / patch.sampleRateHz);
        if (summary.sleepFrames.size() > kListedSleeps)
            sleep += " and " + std::to_string(summary.sleepFrames.size() - kListedSleeps) +
                     " more times";
        char line[512];
        std::snprintf(line, sizeof line,
                      "fourwave: %s: %lld frames (%.3f s at %d Hz, shape %s) rendered in %.3f s, "
                      "%.1fx real time; %s\n",
                      files.c_str(), static_cast<long long>(summary.frames), audioSeconds,
                      patch.sampleRateHz, shapeName(patch.shape), summary.wallSeconds,
                      summary.wallSeconds > 0 ? audioSeconds / summary.wallSeconds : 0.0,
                      sleep.c_str());
        std::fputs(line, stderr);
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------
// analyze

std::vector<std::string> splitList(const std::string &text) {
    std::vector<std::string> items;
    std::istringstream stream(text);
    for (std::string item; std::getline(stream, item, ',');) items.push_back(item);
    if (items.empty()) items.emplace_back();
    return items;
}

int runAnalyze(const AnalyzeOptions &options) {
    std::vector<int16_t> shapes;
    for (const std::string &name : splitList(options.shapes)) {
        int16_t shape = 0;
        if (!parseChoice(SHAPE_SETTING, name, &shape))
            throw UsageError("option --shapes: '" + name + "' is not one of " +
                             choiceList(SHAPE_SETTING));
        shapes.push_back(shape);
    }
    std::vector<double> pitches;
    for (const std::string &text : splitList(options.pitches)) {
        double volts = 0.0;
        if (!parseNumber(text, &volts))
            throw UsageError("option --pitches: '" + text + "' is not a number of volts");
        pitches.push_back(volts);
    }
    Patch base = defaultPatch();
    throwIfBadInput(applySetting(base, "rate", nlohmann::json(options.rate), "option --rate"));
    base.seconds = static_cast<double>(kAnalysisSettleFrames + kAnalysisFrames) / base.sampleRateHz;

    const std::unique_ptr<host::PluginLibrary> library =
        pluginFrom(options.pluginPath, options.pluginOption->count() > 0);

    std::printf("Steady tones at %d Hz, all four levels and Width at 5 V. Alias to signal: the "
                "energy off\nthe harmonics against the energy on them (lower is cleaner). DC "
                "offset: the mean.\n\n",
                base.sampleRateHz);
    std::printf("%-9s %6s %9s | %-31s | %s\n", "", "", "", "alias to signal, dB", "DC offset, V");
    std::printf("%-9s %6s %9s | %7s %7s %7s %7s | %7s %7s %7s %7s\n", "shape", "pitch", "freq Hz",
                "ramp", "saw", "pulse", "tri", "ramp", "saw", "pulse", "tri");

    std::ostringstream csv;
    csv << "shape,pitch_v,frequency_hz,output,alias_db,dc_v\n";
    ToneAnalyser analyser;
    for (const int16_t shape : shapes) {
        for (const double volts : pitches) {
            Patch patch = base;
            patch.shape = shape;
            patch.input(PITCH_INPUT) = Signal::constant(volts);
            std::vector<float> channels[kOutputCount];
            const BlockSink collect = [&](const float *const block[kOutputCount], int32_t count) {
                for (int c = 0; c < kOutputCount; ++c)
                    channels[c].insert(channels[c].end(), block[c], block[c] + count);
            };
            throwIfStopped(renderPatch(library->entries(), patch, collect));
            const double hz = moduleFrequencyHz(static_cast<float>(volts / kVoltsPerUnit), false,
                                                patch.sampleRateHz);
            ToneMeasurement m[kOutputCount];
            for (int c = 0; c < kOutputCount; ++c)
                m[c] = analyser.measure(channels[c].data() + kAnalysisSettleFrames, hz,
                                        patch.sampleRateHz);

            std::printf("%-9s %4.1f V %9.2f |", shapeName(shape), volts, hz);
            for (const ToneMeasurement &x : m) {
                if (x.silent)
                    std::printf(" %7s", "silent");
                else
                    std::printf(" %7.1f", x.aliasToSignalDb);
            }
            std::printf(" |");
            // Below the last printed digit a mean is 0, not "-0.000".
            for (const ToneMeasurement &x : m)
                std::printf(" %+7.3f", std::fabs(x.dcVolts) < 0.0005 ? 0.0 : x.dcVolts);
            std::printf("\n");

            for (int c = 0; c < kOutputCount; ++c) {
                char row[160];
                std::snprintf(row, sizeof row, "%s,%g,%.4f,%s,%s,%.6f\n", shapeName(shape), volts,
                              hz, outputName(c),
                              m[c].silent ? "" : std::to_string(m[c].aliasToSignalDb).c_str(),
                              m[c].dcVolts);
                csv << row;
            }
        }
    }
    std::fflush(stdout);
    if (!options.csvPath.empty()) writeTextAtomically(options.csvPath, csv.str());
    return 0;
}

// ---------------------------------------------------------------------------------------------
// plugs

int runPlugs(const PlugsOptions &options) {
    const std::unique_ptr<host::PluginLibrary> library =
        pluginFrom(options.pluginPath, options.pluginOption->count() > 0);
    ModuleProperties properties = {};
    library->entries().getModuleProperties(0, &properties); // loadPlugin checked that it answers
    if (options.json) {
        const nlohmann::json module = {
            {"name", properties.name},
            {"about", properties.about != nullptr ? properties.about : ""},
            {"plugs", plugTableJson()}};
        std::printf("%s\n", module.dump(2).c_str());
        return 0;
    }
    std::printf("%s: %d plugs, as a host lists them\n", properties.name,
                static_cast<int>(NUM_PLUGS));
    for (const Plug plug : kPanelOrder) {
        const PlugInfo &info = plugInfo(plug);
        std::string values;
        switch (kindOf(info)) {
        case PlugKind::Setting:
            for (int32_t c = 0; c < info.choiceCount; ++c)
                values += std::string(c == 0 ? "" : ", ") + info.choices[c].key +
                          (c == defaultChoice(plug) ? " (default)" : "");
            break;
        case PlugKind::Input:
            values = shortNumber(info.minimum) + " to " + shortNumber(info.maximum) +
                     " V, default " + info.defaultText + " V";
            break;
        case PlugKind::Output: values = "output"; break;
        }
        std::printf("%3d  %-15s %-32s %s\n     %s\n", static_cast<int>(plug), info.key, info.name,
                    values.c_str(), info.help);
    }
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    CLI::App app{"fourwave: hear, see and measure the Fourwave oscillator without its host "
                 "application.\nIt loads the plug-in library through its two exports and "
                 "drives it as the host does.",
                 "fourwave"};
    app.set_version_flag("--version", kVersion);
    app.require_subcommand(1);
    app.get_formatter()->column_width(30);
    app.footer("Run 'fourwave render --help', 'fourwave analyze --help' or 'fourwave plugs --help' "
               "for their\noptions.\n\n"
               "Examples:\n"
               "  fourwave render -o out/a440.wav --pitch 5          440 Hz, shape Perfect 2\n"
               "  fourwave render examples/hard-sync.json -o out/sync.wav\n"
               "  fourwave analyze --pitches 5,8,9 --csv out/alias.csv\n"
               "  /usr/bin/python3 tools/plot.py out/a440.wav -o out/a440.png\n\n"
               "Exit status: 0 done; 1 a render failed; 2 bad input (an option, a patch file, a "
               "plug-in).");

    // --- render ---------------------------------------------------------------------------
    RenderOptions render;
    CLI::App *renderCommand = app.add_subcommand(
        "render", "Render a patch to a 4-channel float WAV (Ramp, Saw, Pulse, Triangle)");
    renderCommand
        ->add_option("patch", render.patchPath,
                     "Patch file: JSON, keys as the long options (default: the "
                     "built-in patch)")
        ->type_name("PATCH.json");
    const Patch defaults = defaultPatch();
    for (const Plug setting : kPanelSettings) {
        const std::string key = plugInfo(setting).key;
        render.options[key] =
            renderCommand
                ->add_option("--" + key, render.values[key], plugOptionHelp(setting, defaults))
                ->type_name(choiceAlternatives(setting))
                ->group("Settings");
    }
    for (const auto &[key, valueName, help] : kRenderSettingsHelp)
        render.options[key] =
            renderCommand->add_option(std::string("--") + key, render.values[key], help)
                ->type_name(valueName)
                ->group("Settings");
    for (const Plug input : kPatchInputs) {
        const std::string key = plugInfo(input).key;
        render.options[key] =
            renderCommand
                ->add_option("--" + key, render.values[key], plugOptionHelp(input, defaults))
                ->type_name("SIGNAL")
                ->group("Inputs (volts, or a SIGNAL)");
    }
    renderCommand
        ->add_option("-o,--output", render.outputPath, "WAV file to write (whole, or not at all)")
        ->required()
        ->type_name("OUT.wav")
        ->group("Output");
    renderCommand
        ->add_flag("--split", render.split,
                   "Four mono files instead: OUT-ramp.wav ... OUT-triangle.wav")
        ->group("Output");
    CLI::Option *renderPlugin =
        renderCommand
            ->add_option("--plugin", render.pluginPath,
                         "Plug-in library, either flavour (default: fourwave_sse.so "
                         "beside this program)")
            ->type_name("PATH")
            ->group("Output");
    renderCommand->add_flag("-q,--quiet", render.quiet, "No progress bar, no summary line")
        ->group("Output");
    renderCommand->footer(
        std::string("A SIGNAL is one of\n"
                    "  5                    a constant, in volts\n"
                    "  2:9, exp:2:9         a linear or exponential sweep over the whole render\n"
                    "  sine:HZ:LO:HI        a sine LFO between LO and HI volts\n"
                    "  square:HZ:LO:HI      a square LFO, HI for the first half of each period\n"
                    "  pulse:HZ[:V[:DUTY]]  a pulse train for Sync: V volts (10) for DUTY (0.5) "
                    "of each period\n"
                    "  gate:T0-T1[,...]     10 V between the times (seconds), 0 V elsewhere\n"
                    "Write a value that starts with '-' as --pitch=-2:2.\n\n"
                    "The defaults above make the built-in patch; a patch file and then the "
                    "options override it.\nValues outside the ranges are passed on: the module "
                    "limits levels beyond +-20 V and\nwidths outside 0-10 V.\n\n"
                    "Active: like a host, the tool sends the module a plug-state event at the "
                    "start and at every\nstep of a gate, square or pulse on Active. At 0 V the "
                    "module winds down for one block and\nasks to sleep; it is then no longer "
                    "processed, and its outputs hold, until Active steps again.\nThe summary "
                    "line on stderr gives the frames, the real-time factor and the sleep "
                    "requests.\n\n"
                    "Examples:\n"
                    "  fourwave render -o out/a440.wav --pitch 5 --shape dark\n"
                    "  fourwave render examples/gated-note.json -o out/gate.wav --block random"));

    // --- analyze --------------------------------------------------------------------------
    AnalyzeOptions analyze;
    CLI::App *analyzeCommand = app.add_subcommand(
        "analyze", "Measure aliasing and DC offset of steady tones, by shape and pitch");
    analyzeCommand->add_option("--shapes", analyze.shapes, "Shapes to measure (default: all five)")
        ->type_name("NAME,...");
    analyzeCommand
        ->add_option("--pitches", analyze.pitches,
                     "Pitches in volts, 1 V/octave (default 2,5,7,8,9)")
        ->type_name("V,...");
    analyzeCommand->add_option("--rate", analyze.rate, "Sample rate (default 48000)")
        ->type_name("HZ");
    analyzeCommand
        ->add_option("--csv", analyze.csvPath,
                     "Also write the measurements as CSV, one row per output")
        ->type_name("OUT.csv");
    analyze.pluginOption = analyzeCommand
                               ->add_option("--plugin", analyze.pluginPath,
                                            "Plug-in library (default: fourwave_sse.so beside this "
                                            "program)")
                               ->type_name("PATH");
    analyzeCommand->footer(
        "Each tone has all four levels and Width at 5 V; 4096 frames settle, then 65536 are "
        "measured.\n"
        "Alias dB: the energy away from the harmonics of the fundamental (what folds back from "
        "above\nhalf the sample rate) against the energy on them, from a Blackman-Harris "
        "windowed FFT;\nlower is cleaner. DC V: the mean, in volts.\n\n"
        "Examples:\n"
        "  fourwave analyze\n"
        "  fourwave analyze --shapes perfect,dark --pitches 6,8 --csv out/alias.csv\n"
        "  /usr/bin/python3 tools/plot.py out/alias.csv -o out/alias.png");

    // --- plugs ----------------------------------------------------------------------------
    PlugsOptions plugs;
    CLI::App *plugsCommand = app.add_subcommand(
        "plugs", "List the module's plugs: number, key, name, range, default, what each does");
    plugsCommand->add_flag("--json", plugs.json,
                           "As JSON, with the plug-in's name and about text (the guide's input)");
    plugs.pluginOption = plugsCommand
                             ->add_option("--plugin", plugs.pluginPath,
                                          "Plug-in library (default: fourwave_sse.so beside this "
                                          "program)")
                             ->type_name("PATH");
    plugsCommand->footer("The keys are the options of 'fourwave render' and the keys of a patch "
                         "file; the defaults\nare the module's own, which a host gives an "
                         "unconnected input (the built-in patch sets\nsome otherwise: see "
                         "'fourwave render --help').");

    // A value given twice counts as its last, as in most command lines.
    for (CLI::App *command : {renderCommand, analyzeCommand, plugsCommand})
        for (CLI::Option *option : command->get_options())
            if (option->get_expected_min() == 1 && option->get_expected_max() == 1)
                option->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp &e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp &e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion &e) {
        return app.exit(e);
    } catch (const CLI::ParseError &e) {
        std::string command = "fourwave";
        for (CLI::App *sub : app.get_subcommands()) command += " " + sub->get_name();
        std::cerr << "fourwave: " << e.what() << " (see '" << command << " --help')\n";
        return kExitUsageError;
    }

    try {
        if (renderCommand->parsed()) return runRender(render, renderPlugin->count() > 0);
        if (plugsCommand->parsed()) return runPlugs(plugs);
        return runAnalyze(analyze);
    } catch (const UsageError &e) {
        std::cerr << "fourwave: " << e.what() << "\n";
        return kExitUsageError;
    } catch (const RunError &e) {
        std::cerr << "fourwave: " << e.what() << "\n";
        return kExitRunError;
    }
}
