// Reference outputs: a fixed set of patches, rendered through every routine of this build's
// flavour, must give the outputs recorded in reference_<flavour>.txt to the last bit.
//
// This is what keeps optimisations of the sample loops honest: each patch's four outputs and
// its final oscillator state are hashed (FNV-1a, 64 bits, over the float bit patterns, every
// NaN as one canonical value) and compared with the recorded hashes. It says nothing about
// whether the outputs are right; the unit tests do that. The patches drive every branch the routines have: levels that step,
// vanish and exceed the limit, widths in and outside (0, 1), pitches below, inside and above
// the crossfade bands (thresholds exactly), per-sample and per-pair pitch, phase modulation
// with ordinary and absurd depths, sync edges, inactive samples inside blocks, winding down
// through plug-state events, 1 V/kHz with negative frequencies, NaN and infinite inputs, and
// block sizes from 1 to 1024 in an irregular order.
//
//   fourwave_regression                          compare with the recorded references
//   fourwave_regression --write-references FILE record this build's outputs instead
#include <gtest/gtest.h>

#include <stdint.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "host/host.h"
#include "module/module.h"
#include "module/plugs.h"

#include "module/exports.h"

namespace fourwave::regression {
namespace {

// What a patch feeds the inputs with; each is a fixed function of the sample's clock.
enum class PitchSignal {
    Sweep,      // 0.15 to 0.95 and back, held for 3 samples at a time, crossing every band
    Thresholds, // the sweep, with stretches held exactly at each shape's band limits
    Khz,        // -0.3 to 0.5 at 1 V/kHz: negative increments too
    Hostile,    // the sweep with NaN, infinite and huge stretches
};

struct RegressionPatch {
    const char *name;
    int16_t fmMode;
    int16_t pmMode;
    int16_t freqScale;
    float sampleRate;
    PitchSignal pitch;
    bool sync;          // sync pulses (otherwise Sync stays 0)
    bool phaseSignal;   // a Phase input that moves (otherwise 0)
    bool hostileInputs; // NaN, infinities and absurd depths on the other inputs too
    bool windDown;      // Active switched off and on with plug-state events
};

constexpr RegressionPatch kPatches[] = {
    // name            fm pm  scale  rate     pitch                    sync   phase  hostile wind
    {"plain",          0, 0, 0, 44100.0f, PitchSignal::Thresholds, true,  false, false, false},
    {"plain-khz",      0, 0, 1, 48000.0f, PitchSignal::Khz,        true,  false, false, false},
    {"fm-enable",      1, 0, 0, 44100.0f, PitchSignal::Thresholds, true,  false, false, false},
    {"fm-half",        2, 0, 0, 48000.0f, PitchSignal::Sweep,      false, false, false, false},
    {"pm",             0, 1, 0, 44100.0f, PitchSignal::Thresholds, false, true,  false, false},
    {"fm-enable-pm",   1, 1, 0, 48000.0f, PitchSignal::Sweep,      true,  true,  false, false},
    {"fm-half-pm",     2, 1, 1, 44100.0f, PitchSignal::Khz,        true,  true,  false, false},
    {"wind-down",      0, 0, 0, 44100.0f, PitchSignal::Sweep,      true,  false, false, true},
    {"wind-down-fm",   1, 1, 0, 44100.0f, PitchSignal::Thresholds, false, true,  false, true},
    {"hostile",        1, 1, 0, 44100.0f, PitchSignal::Hostile,    true,  true,  true,  false},
    {"hostile-plain",  0, 0, 0, 48000.0f, PitchSignal::Hostile,    true,  false, true,  false},
};

constexpr const char *kShapeNames[] = {"perfect", "perfect2", "bright", "medium", "dark"};
constexpr int16_t kShapeCount = 5;

constexpr int32_t kFrames = 6000;
constexpr int32_t kBufferFrames = 1024;
// Irregular block sizes, used cyclically: 1 and 2 (a refresh never falls in them), odd counts
// (Half's first sample keeps the increment) and the host's usual sizes.
const std::vector<int32_t> kBlocks = {64, 1, 17, 256, 7, 128, 2, 33, 1024, 5, 16, 511};

// ----------------------------------------------------------------------------------------------
// Input signals. Periods are powers of two so that the ramps are exact in single precision.

float ramp01(int32_t n, int32_t period) {
    return static_cast<float>(n & (period - 1)) / static_cast<float>(period);
}

float triangle01(int32_t n, int32_t period) {
    const float x = ramp01(n, period);
    return x < 0.5f ? 2.0f * x : 2.0f - 2.0f * x;
}

constexpr float kInf = std::numeric_limits<float>::infinity();
const float kNaN = std::numeric_limits<float>::quiet_NaN();

// Each shape's crossfade limits and their neighbours, held for a stretch each.
constexpr float kThresholdValues[] = {0.45f, 0.55f, 0.6f, 0.75f, 0.8f, 0.85f, 0.5f, 0.95f};

float pitchAt(const RegressionPatch &patch, int32_t n) {
    const int32_t held = n - n % 3;
    const float sweep = 0.15f + 0.8f * triangle01(held, 4096);
    switch (patch.pitch) {
    case PitchSignal::Sweep:
        return sweep;
    case PitchSignal::Thresholds:
        if (n % 512 < 70) return kThresholdValues[(n / 512) % 8];
        return sweep;
    case PitchSignal::Khz:
        if (n % 1000 >= 800) return 0.0f; // increment 0: a frozen phase that sync moves
        return -0.3f + 0.8f * triangle01(held, 2048);
    case PitchSignal::Hostile:
        switch ((n / 400) % 8) {
        case 2: return n % 400 < 3 ? kNaN : sweep;
        case 4: return n % 400 < 40 ? kInf : sweep;
        case 5: return n % 400 < 40 ? -kInf : sweep;
        case 6: return n % 400 < 40 ? 1.0e30f : sweep;
        default: return sweep;
        }
    }
    return sweep;
}

float levelAt(const RegressionPatch &patch, int32_t plug, int32_t n) {
    const int32_t k = plug - RAMP_LEVEL_INPUT; // 0 ramp, 1 saw, 2 pulse, 3 triangle
    static constexpr float kBase[] = {0.8f, -0.6f, 1.1f, 0.7f};
    if ((n / 300 + k) % 5 == 0) return 0.0f;                   // the output switched off
    if (k == 2 && (n / 700) % 4 == 1) return 3.0f;              // beyond the limit
    if (k == 1 && (n / 900) % 5 == 3) return -2.5f;
    if (patch.hostileInputs && k == 3 && (n / 250) % 9 == 4) return kNaN;
    if (patch.hostileInputs && k == 0 && (n / 250) % 9 == 6) return kInf;
    if (patch.hostileInputs && k == 2 && (n / 250) % 9 == 2) return 1.0e30f; // absurd pulse
    if (patch.hostileInputs && k == 2 && (n / 250) % 9 == 8) return -kInf;
    return kBase[k] * (1.0f + 0.5f * ramp01(n, 64));
}

float widthAt(const RegressionPatch &patch, int32_t n) {
    if (patch.hostileInputs && n % 1000 < 5) return kNaN;
    if (n % 2000 < 30) return 0.0f;                             // the limits themselves
    if (n % 2000 >= 1820 && n % 2000 < 1850) return 1.0f;
    if (n % 2000 < 200) return 0.03f;                           // overlapping edge zones
    if (n % 2000 > 1850) return 0.97f;
    return -0.1f + 1.2f * triangle01(n, 1024);                  // in and outside (0, 1)
}

float syncAt(const RegressionPatch &patch, int32_t n) {
    if (!patch.sync) return 0.0f;
    const int32_t k = n % 37;
    if (k < 2) return 0.8f;                                     // two samples: one edge
    if (k == 20) return -0.2f;
    if (k == 27) return 0.3f;                                   // an edge without a re-arm
    return 0.0f;
}

// The third value is the phase an edge of 0.8 leaves with an advance of 0.3: with a frozen
// phase, the next edge meets a phase exactly at the threshold.
float syncThresholdAt(int32_t n) {
    static constexpr float kThresholds[] = {0.0f, 0.4f, 0.0f, 0.3f * 0.8f};
    return kThresholds[(n / 500) % 4];
}

float syncAdvanceAt(const RegressionPatch &patch, int32_t n) {
    if (patch.hostileInputs && (n / 1000) % 3 == 2) return 3.0e7f; // a phase beyond 2^24
    static constexpr float kAdvances[] = {0.0f, 0.3f, -0.7f};      // negative: phase below 0
    return kAdvances[(n / 1500) % 3];
}

float phaseAt(const RegressionPatch &patch, int32_t n) {
    if (!patch.phaseSignal) return 0.0f;
    if (n % 600 < 50) return 0.0f;                              // t is the phase exactly
    return -1.5f + 3.0f * triangle01(n, 256);
}

float phaseModAt(const RegressionPatch &patch, int32_t n) {
    if (patch.hostileInputs) {
        switch ((n / 300) % 6) {
        case 1: return 1.0e3f;
        case 3: return 1.0e9f;
        case 4: return kInf;
        case 5: return kNaN;
        default: break;
        }
    }
    return (n / 800) % 2 == 0 ? 0.5f : -0.75f;
}

// Inactive stretches inside blocks; winding-down patches switch off for long stretches.
float activeAt(const RegressionPatch &patch, int32_t n) {
    if (patch.windDown) return (n / 1200) % 2 == 1 ? 0.0f : 1.0f;
    return n % 1500 >= 700 && n % 1500 < 760 ? 0.0f : 1.0f;
}

float inputAt(const RegressionPatch &patch, int32_t plug, int32_t n) {
    switch (plug) {
    case PITCH_INPUT: return pitchAt(patch, n);
    case WIDTH_INPUT: return widthAt(patch, n);
    case SYNC_INPUT: return syncAt(patch, n);
    case PHASE_INPUT: return phaseAt(patch, n);
    case PHASE_MOD_INPUT: return phaseModAt(patch, n);
    case RAMP_LEVEL_INPUT:
    case SAW_LEVEL_INPUT:
    case PULSE_LEVEL_INPUT:
    case TRIANGLE_LEVEL_INPUT: return levelAt(patch, plug, n);
    case SYNC_THRESHOLD_INPUT: return syncThresholdAt(n);
    case SYNC_ADVANCE_INPUT: return syncAdvanceAt(patch, n);
    case ACTIVE_INPUT: return activeAt(patch, n);
    default: return 0.0f;
    }
}

constexpr int32_t kInputPlugs[] = {
    PITCH_INPUT,          WIDTH_INPUT,       SYNC_INPUT,           PHASE_INPUT,
    PHASE_MOD_INPUT,      RAMP_LEVEL_INPUT,  SAW_LEVEL_INPUT,      PULSE_LEVEL_INPUT,
    TRIANGLE_LEVEL_INPUT, SYNC_THRESHOLD_INPUT, SYNC_ADVANCE_INPUT, ACTIVE_INPUT};
constexpr int32_t kOutputPlugs[] = {RAMP_OUTPUT, SAW_OUTPUT, PULSE_OUTPUT, TRIANGLE_OUTPUT};

// ----------------------------------------------------------------------------------------------
// Rendering and hashing.

class Fnv1a {
public:
    static constexpr uint32_t kCanonicalNaN = 0x7FC00000u;

    void add(uint32_t word) {
        for (int byte = 0; byte < 4; ++byte) {
            hash_ ^= (word >> (8 * byte)) & 0xFFu;
            hash_ *= 0x100000001B3ull;
        }
    }
    // Every NaN hashes as one canonical quiet NaN: the module defines no NaN sign or payload,
    // and which operand's NaN an add or multiply passes on follows the compiler's operand
    // order, which moves between translation units and vector and scalar code.
    void add(float value) {
        uint32_t bits = kCanonicalNaN;
        if (!std::isnan(value)) std::memcpy(&bits, &value, sizeof bits);
        add(bits);
    }
    uint64_t value() const { return hash_; }

private:
    uint64_t hash_ = 0xCBF29CE484222325ull;
};

struct Rendered {
    std::string key;       // shape/patch
    uint64_t hashes[5];    // ramp, saw, pulse, triangle, final state
    std::vector<std::string> violations;
};

std::string hex(uint64_t value) {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
    return text;
}

Rendered render(int16_t shape, const RegressionPatch &patch) {
    Rendered result;
    result.key = std::string(kShapeNames[shape]) + "/" + patch.name;

    host::HostOptions options;
    options.bufferFrames = kBufferFrames;
    options.logCalls = false;
    host::Host host({getModuleProperties, makeModule}, options);
    if (!host.create()) {
        result.violations.push_back("makeModule refused");
        return result;
    }
    host.setSampleRate(patch.sampleRate);
    host.setBlockSize(kBlocks.front());
    host.setChoice(SHAPE_SETTING, shape);
    host.setChoice(FM_MODE_SETTING, patch.fmMode);
    host.setChoice(PM_MODE_SETTING, patch.pmMode);
    host.setChoice(FREQ_SCALE_SETTING, patch.freqScale);
    for (const int32_t plug : kInputPlugs) host.buffer(plug)[0] = inputAt(patch, plug, 0);
    host.open();

    Fnv1a outputs[4];
    float lastActive = 1.0f;
    size_t next = 0;
    for (int32_t done = 0; done < kFrames;) {
        int32_t count = kBlocks[next++ % kBlocks.size()];
        if (count > kFrames - done) count = kFrames - done;
        for (const int32_t plug : kInputPlugs) {
            float *data = host.buffer(plug);
            for (int32_t j = 0; j < count; ++j) data[j] = inputAt(patch, plug, done + j);
        }
        // A winding-down patch tells the instance when its Active input changes, at the
        // block's first sample, as the host does for a plug whose value moved.
        if (patch.windDown && activeAt(patch, done) != lastActive) {
            lastActive = activeAt(patch, done);
            host.sendPlugState(ACTIVE_INPUT, STATE_RUNNING);
        }
        host.run(count);
        for (int k = 0; k < 4; ++k) {
            const float *data = host.buffer(kOutputPlugs[k]);
            for (int32_t j = 0; j < count; ++j) outputs[k].add(data[j]);
        }
        done += count;
    }

    const Module &m = *static_cast<const Module *>(host.record()->object);
    Fnv1a state;
    state.add(m.phase);
    state.add(m.phaseIncrement);
    state.add(m.lastPitch);
    state.add(m.lastPulseSign);
    state.add(m.lastRampValue);
    state.add(static_cast<uint32_t>(m.syncArmed ? 1 : 0));
    state.add(static_cast<uint32_t>(m.sleepCountdown));
    state.add(static_cast<uint32_t>(host.sleepRequests()));
    for (int k = 0; k < 4; ++k) result.hashes[k] = outputs[k].value();
    result.hashes[4] = state.value();
    result.violations = host.violations();
    return result;
}

std::vector<Rendered> renderAll() {
    std::vector<Rendered> all;
    for (int16_t shape = 0; shape < kShapeCount; ++shape)
        for (const RegressionPatch &patch : kPatches) all.push_back(render(shape, patch));
    return all;
}

// ----------------------------------------------------------------------------------------------
// The reference file: comment lines start with '#'; each other line is a key and five hashes.

const char *const kFileHeader =
    "# Reference outputs of the regression test, one line per shape/patch: FNV-1a 64 hashes of\n"
    "# Ramp Out, Saw Out, Pulse Out, Triangle Out and the final oscillator state (every NaN\n"
    "# hashed as the quiet NaN 0x7fc00000).\n"
    "# Written by: fourwave_regression --write-references <this file>\n";

constexpr const char *kOutputNames[] = {"Ramp Out", "Saw Out", "Pulse Out", "Triangle Out",
                                        "final state"};

bool writeReferences(const std::string &path) {
    std::ofstream file(path);
    if (!file) return false;
    file << kFileHeader;
    for (const Rendered &r : renderAll()) {
        file << r.key;
        for (const uint64_t hash : r.hashes) file << ' ' << hex(hash);
        file << '\n';
    }
    return static_cast<bool>(file);
}

std::map<std::string, std::vector<std::string>> readReferences(const std::string &path) {
    std::map<std::string, std::vector<std::string>> references;
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream words(line);
        std::string key, hash;
        words >> key;
        while (words >> hash) references[key].push_back(hash);
    }
    return references;
}

class ReferenceOutputs : public ::testing::TestWithParam<int16_t> {};

TEST_P(ReferenceOutputs, EveryPatchMatchesItsRecordedHashes) {
    const int16_t shape = GetParam();
    const auto references = readReferences(FOURWAVE_REFERENCE_FILE);
    ASSERT_FALSE(references.empty())
        << "no references in " << FOURWAVE_REFERENCE_FILE
        << "; write them with: fourwave_regression --write-references " << FOURWAVE_REFERENCE_FILE;
    for (const RegressionPatch &patch : kPatches) {
        const Rendered r = render(shape, patch);
        EXPECT_TRUE(r.violations.empty()) << r.key << ": " << r.violations.front();
        const auto found = references.find(r.key);
        if (found == references.end() || found->second.size() != 5) {
            ADD_FAILURE() << r.key << ": no reference line";
            continue;
        }
        for (int k = 0; k < 5; ++k)
            EXPECT_EQ(found->second[static_cast<size_t>(k)], hex(r.hashes[k]))
                << r.key << ": " << kOutputNames[k] << " differs from the reference";
    }
}

INSTANTIATE_TEST_SUITE_P(AllShapes, ReferenceOutputs, ::testing::Range<int16_t>(0, kShapeCount),
                         [](const ::testing::TestParamInfo<int16_t> &info) {
                             return std::string(kShapeNames[info.param]);
                         });

} // namespace
} // namespace fourwave::regression

int main(int argc, char **argv) {
    if (argc == 3 && std::strcmp(argv[1], "--write-references") == 0) {
        if (!fourwave::regression::writeReferences(argv[2])) {
            std::fprintf(stderr, "cannot write %s\n", argv[2]);
            return 1;
        }
        std::printf("references written to %s\n", argv[2]);
        return 0;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
