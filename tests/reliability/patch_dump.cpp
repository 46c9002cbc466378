// Renders a fixed set of patches, covering every routine, through a plug-in file loaded the way
// the host loads it, and writes every output sample to a dump; or compares two dumps sample by
// sample. scripts/test renders with each Windows DLL under wine and with the 32-bit Linux
// build of the same flavour, then compares:
//   - SSE flavour: bit-identical (any two NaNs count as equal), except in patches where the
//     platforms' pow differs for a pitch the patch uses (those samples are counted and shown);
//   - x87 flavour: every sample within the oscillator tests' last-bit tolerance.
// The dump also holds the platform's own pow result for every pitch value a patch can convert
// (each sample and each average of two neighbours), which is how the comparison tells a pow
// difference from any other.
//
//   fourwave_patch_dump --plugin FILE --out DUMP
//   fourwave_patch_dump --compare LINUX_DUMP WINDOWS_DUMP --flavour sse|x87
#include <algorithm>
#include <cinttypes>
#include <cstdlib>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "host/host.h"
#include "module/plugs.h"
#include "testkit/session.h"

using namespace fourwave;

namespace {

constexpr int32_t kFrames = 4096;
constexpr int32_t kBlocks[] = {64, 17, 128, 1, 255, 32, 3, 500, 16, 96};
constexpr int kUlpTolerance = 4; // the oscillator tests' x87 tolerance
constexpr char kMagic[8] = {'F', 'W', 'D', 'U', 'M', 'P', '1', '\n'};

struct PatchSpec {
    std::string name;
    int16_t shape, fm, pm, freqScale;
    int kind; // 0 pitch sweep, 1 sync and volts per kHz, 2 phase modulation
};

std::vector<PatchSpec> patchSet() {
    std::vector<PatchSpec> patches;
    for (int16_t shape = 0; shape < static_cast<int16_t>(std::size(kShapeChoices)); ++shape) {
        for (int mod = 0; mod < 2; ++mod) {
            const std::string base = std::string(kShapeChoices[shape].key) + (mod ? "-mod" : "");
            patches.push_back({base + "-sweep", shape, static_cast<int16_t>(mod ? 1 : 0), 0, 0, 0});
            patches.push_back(
                {base + "-sync-vkhz", shape, static_cast<int16_t>(mod ? 2 : 0), 0, 1, 1});
            patches.push_back({base + "-pm", shape, 0, static_cast<int16_t>(mod ? 1 : 0), 0, 2});
        }
    }
    return patches;
}

// Integer-derived inputs: the same floats on every platform.
float inputAt(int32_t plug, int kind, int32_t i) {
    const float x = static_cast<float>(i) / static_cast<float>(kFrames); // exact
    switch (plug) {
    case PITCH_INPUT:
        if (kind == 1) return 0.02f + 0.3f * x;
        if (kind == 2) return 0.45f + 0.05f * static_cast<float>(i % 97) / 97.0f;
        return -0.2f + 1.4f * x + 0.01f * static_cast<float>(i % 13);
    case WIDTH_INPUT: return 0.2f + 0.6f * x;
    case SYNC_INPUT: return kind == 1 && i % 137 < 9 ? 0.8f : 0.0f;
    case SYNC_THRESHOLD_INPUT: return 0.3f;
    case SYNC_ADVANCE_INPUT: return 0.2f;
    case PHASE_INPUT: return kind == 2 ? static_cast<float>(i % 61) / 30.0f - 1.0f : 0.0f;
    case PHASE_MOD_INPUT: return 0.7f;
    case RAMP_LEVEL_INPUT: return 0.8f;
    case SAW_LEVEL_INPUT: return -0.6f;
    case PULSE_LEVEL_INPUT: return 0.5f + 0.25f * x;
    case TRIANGLE_LEVEL_INPUT: return 1.1f;
    case ACTIVE_INPUT: return 1.0f;
    default: return 0.0f;
    }
}

// The 1 V/oct conversion's pow, as this platform computes it.
float platformPow(float v) {
    return static_cast<float>(440.0 * std::pow(2.0, 10.0 * static_cast<double>(v) - 5.0));
}

bool writeAll(FILE *file, const void *data, size_t size) {
    return std::fwrite(data, 1, size, file) == size;
}

int render(const std::string &pluginPath, const std::string &outPath) {
    std::string error;
    auto library = host::PluginLibrary::load(pluginPath, &error);
    if (!library) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 2;
    }
    FILE *out = std::fopen(outPath.c_str(), "wb");
    if (out == nullptr) {
        std::fprintf(stderr, "cannot write %s\n", outPath.c_str());
        return 2;
    }
    const std::vector<PatchSpec> patches = patchSet();
    writeAll(out, kMagic, sizeof kMagic);
    const uint32_t patchCount = static_cast<uint32_t>(patches.size());
    writeAll(out, &patchCount, sizeof patchCount);
    int violations = 0;
    for (const PatchSpec &p : patches) {
        host::Host h(library->entries());
        if (!test::createInstance(h, {44100.0f, 128, p.shape, p.fm, p.pm, p.freqScale})) {
            std::fprintf(stderr, "makeModule refused\n");
            return 2;
        }
        h.open();
        std::vector<float> samples;
        std::vector<float> pitches;
        const auto fill = [&](host::Host &, int32_t done, int32_t count) {
            for (int32_t plug = 0; plug <= ACTIVE_INPUT; ++plug)
                for (int32_t i = 0; i < count; ++i)
                    h.buffer(plug)[i] = inputAt(plug, p.kind, done + i);
            if (done == 0) h.sendPlugState(ACTIVE_INPUT, STATE_RUNNING);
        };
        const auto take = [&](host::Host &, int32_t, int32_t count) {
            for (int32_t i = 0; i < count; ++i)
                for (int32_t plug : test::kOutputPlugs) samples.push_back(h.buffer(plug)[i]);
            for (int32_t i = 0; i < count; ++i) {
                pitches.push_back(h.buffer(PITCH_INPUT)[i]);
                if (i + 1 < count)
                    pitches.push_back((h.buffer(PITCH_INPUT)[i] + h.buffer(PITCH_INPUT)[i + 1]) *
                                      0.5f);
            }
        };
        test::runBlocks(h, kFrames, kBlocks, fill, take);
        violations += static_cast<int>(h.violations().size());
        for (const std::string &v : h.violations())
            std::fprintf(stderr, "%s: %s\n", p.name.c_str(), v.c_str());

        const uint32_t nameLength = static_cast<uint32_t>(p.name.size());
        writeAll(out, &nameLength, sizeof nameLength);
        writeAll(out, p.name.data(), p.name.size());
        const uint32_t sampleCount = static_cast<uint32_t>(samples.size());
        writeAll(out, &sampleCount, sizeof sampleCount);
        writeAll(out, samples.data(), samples.size() * sizeof(float));
        // pow table: only the 1 V/oct patches convert with pow.
        std::vector<float> table;
        if (p.freqScale == 0)
            for (float v : pitches) {
                table.push_back(v);
                table.push_back(platformPow(v));
            }
        const uint32_t tableCount = static_cast<uint32_t>(table.size() / 2);
        writeAll(out, &tableCount, sizeof tableCount);
        writeAll(out, table.data(), table.size() * sizeof(float));
    }
    std::fclose(out);
    std::printf("%s: %u patches of %d samples x 4 outputs written to %s\n", pluginPath.c_str(),
                patchCount, kFrames, outPath.c_str());
    return violations == 0 ? 0 : 1;
}

struct Patch {
    std::string name;
    std::vector<float> samples;
    std::vector<float> table; // (pitch, pow) pairs
};

bool readAll(FILE *file, void *data, size_t size) {
    return std::fread(data, 1, size, file) == size;
}

bool load(const std::string &path, std::vector<Patch> &patches) {
    FILE *in = std::fopen(path.c_str(), "rb");
    if (in == nullptr) return false;
    char magic[8];
    uint32_t count = 0;
    bool ok = readAll(in, magic, 8) && std::memcmp(magic, kMagic, 8) == 0 && readAll(in, &count, 4);
    for (uint32_t k = 0; ok && k < count; ++k) {
        Patch p;
        uint32_t n = 0;
        ok = readAll(in, &n, 4);
        p.name.resize(n);
        ok = ok && readAll(in, &p.name[0], n) && readAll(in, &n, 4);
        p.samples.resize(n);
        ok = ok && readAll(in, p.samples.data(), n * sizeof(float)) && readAll(in, &n, 4);
        p.table.resize(2 * size_t{n});
        ok = ok && readAll(in, p.table.data(), p.table.size() * sizeof(float));
        patches.push_back(std::move(p));
    }
    std::fclose(in);
    return ok;
}

uint32_t bits(float v) {
    uint32_t b;
    std::memcpy(&b, &v, 4);
    return b;
}

// Distance in units in the last place (same-sign finite values), or a large number. Two NaNs
// are the same sample whatever their signs and payloads, which the module does not define.
int64_t ulps(float a, float b) {
    if (bits(a) == bits(b) || (std::isnan(a) && std::isnan(b))) return 0;
    if (std::isnan(a) || std::isnan(b) || (a < 0) != (b < 0)) return a == b ? 0 : INT64_MAX;
    return std::llabs(static_cast<int64_t>(bits(a) & 0x7FFFFFFF) -
                      static_cast<int64_t>(bits(b) & 0x7FFFFFFF));
}

int compare(const std::string &linuxPath, const std::string &windowsPath,
            const std::string &flavour) {
    std::vector<Patch> lin, win;
    if (!load(linuxPath, lin) || !load(windowsPath, win) || lin.size() != win.size()) {
        std::fprintf(stderr, "cannot read the dumps %s and %s\n", linuxPath.c_str(),
                     windowsPath.c_str());
        return 2;
    }
    const char *outputs[] = {"ramp", "saw", "pulse", "triangle"};
    int64_t totalSamples = 0, totalDiffering = 0, powSamples = 0, failures = 0, maxUlps = 0;
    int64_t powCompared = 0, powDiffering = 0;
    for (size_t k = 0; k < lin.size(); ++k) {
        const Patch &l = lin[k], &w = win[k];
        if (l.name != w.name || l.samples.size() != w.samples.size()) {
            std::printf("%s: the dumps hold different patches\n", l.name.c_str());
            return 2;
        }
        int64_t powDiffers = 0;
        for (size_t i = 0; i + 1 < l.table.size() && i + 1 < w.table.size(); i += 2)
            if (bits(l.table[i + 1]) != bits(w.table[i + 1])) ++powDiffers;
        powCompared += static_cast<int64_t>(std::min(l.table.size(), w.table.size()) / 2);
        powDiffering += powDiffers;
        int64_t differing = 0, patchMax = 0, shown = 0;
        for (size_t i = 0; i < l.samples.size(); ++i) {
            const int64_t d = ulps(l.samples[i], w.samples[i]);
            if (d == 0) continue;
            ++differing;
            patchMax = std::max(patchMax, d);
            if (shown++ < 3)
                std::printf("  %s sample %zu %s: linux %.9g (0x%08" PRIx32 "), windows %.9g "
                            "(0x%08" PRIx32 ")\n",
                            l.name.c_str(), i / 4, outputs[i % 4], l.samples[i], bits(l.samples[i]),
                            w.samples[i], bits(w.samples[i]));
        }
        totalSamples += static_cast<int64_t>(l.samples.size());
        totalDiffering += differing;
        maxUlps = std::max(maxUlps, patchMax);
        bool ok;
        if (flavour == "sse") {
            ok = differing == 0 || powDiffers > 0;
            if (differing > 0 && powDiffers > 0) powSamples += differing;
        } else {
            ok = patchMax <= kUlpTolerance;
        }
        if (differing > 0 || powDiffers > 0 || !ok)
            std::printf("%s: %" PRId64 " of %zu samples differ (at most %" PRId64 " ulps); pow "
                        "differs for %" PRId64 " pitch values%s\n",
                        l.name.c_str(), differing, l.samples.size(), patchMax, powDiffers,
                        ok ? "" : "  <-- FAIL");
        if (!ok) ++failures;
    }
    std::printf("%s flavour: %zu patches, %" PRId64 " samples compared, %" PRId64
                " differ (%" PRId64 " in patches where pow differs), at most %" PRId64
                " ulps; pow differs for %" PRId64 " of %" PRId64 " pitch conversions: %s\n",
                flavour.c_str(), lin.size(), totalSamples, totalDiffering, powSamples, maxUlps,
                powDiffering, powCompared, failures == 0 ? "PASS" : "FAIL");
    return failures == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char **argv) {
    std::map<std::string, std::string> args;
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--", 0) == 0 && i + 1 < argc && arg != "--compare")
            args[arg] = argv[++i];
        else if (arg == "--compare")
            args[arg] = "1";
        else
            positional.push_back(arg);
    }
    if (args.count("--compare") && positional.size() == 2)
        return compare(positional[0], positional[1],
                       args.count("--flavour") ? args["--flavour"] : "sse");
    if (args.count("--plugin") && args.count("--out"))
        return render(args["--plugin"], args["--out"]);
    std::fprintf(stderr, "usage: fourwave_patch_dump --plugin FILE --out DUMP\n"
                         "       fourwave_patch_dump --compare LINUX_DUMP WINDOWS_DUMP "
                         "--flavour sse|x87\n");
    return 2;
}
