#include "regression_patches.h"

#include <cmath>
#include <limits>

#include "entries.h"
#include "module/module.h"
#include "module/plugs.h"

namespace fourwave::regression {
namespace {

constexpr int32_t kFrames = 6000;
constexpr int32_t kBufferFrames = 1024;
// Irregular block sizes, used cyclically: 1 and 2 (a refresh never falls in them), odd counts
// (Half's first sample keeps the increment) and the host's usual sizes.
constexpr int32_t kBlocks[] = {64, 1, 17, 256, 7, 128, 2, 33, 1024, 5, 16, 511};

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
    case PitchSignal::Sweep: return sweep;
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
    if ((n / 300 + k) % 5 == 0) return 0.0f;       // the output switched off
    if (k == 2 && (n / 700) % 4 == 1) return 3.0f; // beyond the limit
    if (k == 1 && (n / 900) % 5 == 3) return -2.5f;
    if (patch.hostileInputs && k == 3 && (n / 250) % 9 == 4) return kNaN;
    if (patch.hostileInputs && k == 0 && (n / 250) % 9 == 6) return kInf;
    if (patch.hostileInputs && k == 2 && (n / 250) % 9 == 2) return 1.0e30f; // absurd pulse
    if (patch.hostileInputs && k == 2 && (n / 250) % 9 == 8) return -kInf;
    return kBase[k] * (1.0f + 0.5f * ramp01(n, 64));
}

float widthAt(const RegressionPatch &patch, int32_t n) {
    if (patch.hostileInputs && n % 1000 < 5) return kNaN;
    if (n % 2000 < 30) return 0.0f; // the limits themselves
    if (n % 2000 >= 1820 && n % 2000 < 1850) return 1.0f;
    if (n % 2000 < 200) return 0.03f; // overlapping edge zones
    if (n % 2000 > 1850) return 0.97f;
    return -0.1f + 1.2f * triangle01(n, 1024); // in and outside (0, 1)
}

float syncAt(const RegressionPatch &patch, int32_t n) {
    if (!patch.sync) return 0.0f;
    const int32_t k = n % 37;
    if (k < 2) return 0.8f; // two samples: one edge
    if (k == 20) return -0.2f;
    if (k == 27) return 0.3f; // an edge without a re-arm
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
    if (n % 600 < 50) return 0.0f; // t is the phase exactly
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

using test::kInputPlugs;

} // namespace

Rendered render(int16_t shape, const RegressionPatch &patch, const test::BlockStep &take) {
    Rendered result;
    result.key = std::string(kShapeChoices[shape].key) + "/" + patch.name;

    host::HostOptions options;
    options.bufferFrames = kBufferFrames;
    options.logCalls = false;
    host::Host host(test::linkedEntries(), options);
    if (!test::createInstance(host, {patch.sampleRate, kBlocks[0], shape, patch.fmMode,
                                     patch.pmMode, patch.freqScale})) {
        result.violations.push_back("makeModule refused");
        return result;
    }
    for (const int32_t plug : kInputPlugs) host.buffer(plug)[0] = inputAt(patch, plug, 0);
    host.open();

    test::Fnv1a outputs[4];
    float lastActive = 1.0f;
    const auto fill = [&](host::Host &, int32_t done, int32_t count) {
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
    };
    const auto hash = [&](host::Host &, int32_t done, int32_t count) {
        for (int k = 0; k < 4; ++k) {
            const float *data = host.buffer(test::kOutputPlugs[k]);
            for (int32_t j = 0; j < count; ++j) outputs[k].add(data[j]);
        }
        if (take) take(host, done, count);
    };
    test::runBlocks(host, kFrames, kBlocks, fill, hash);

    const Module &m = *static_cast<const Module *>(host.record()->object);
    test::Fnv1a state;
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

} // namespace fourwave::regression
