#include "scripted_session.h"

#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <utility>

#include "module/plugs.h"
#include "session.h"

namespace fourwave::platform {
namespace {

// A small deterministic generator (xorshift32): the same numbers everywhere, integers only.
class Numbers {
public:
    explicit Numbers(uint32_t seed) : state_(seed * 2654435761u + 0x9E3779B9u) {
        if (state_ == 0) state_ = 1;
    }
    uint32_t next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return state_;
    }
    // Uniform in [0, 1) with 24 bits: exact in a float, so no rounding differs between builds.
    float unit() { return static_cast<float>(next() >> 8) * (1.0f / 16777216.0f); }

private:
    uint32_t state_;
};

constexpr int32_t kBlockCounts[] = {64, 17, 128, 1, 100, 64, 33, 0, 96};
constexpr float kSampleRates[] = {44100.0f, 48000.0f, 96000.0f, 22050.0f};
constexpr int32_t kWindDownLimit = 64; // blocks after Active 0 before the session gives up

void fillBlock(host::Host &host, Numbers &numbers, float pitch, int32_t count) {
    float *pitchIn = host.buffer(PITCH_INPUT);
    float *widthIn = host.buffer(WIDTH_INPUT);
    float *syncIn = host.buffer(SYNC_INPUT);
    float *phaseIn = host.buffer(PHASE_INPUT);
    float *phaseModIn = host.buffer(PHASE_MOD_INPUT);
    const uint32_t syncPeriod = 40 + numbers.next() % 200;
    for (int32_t i = 0; i < count; ++i) {
        pitchIn[i] = pitch + 0.01f * numbers.unit();
        widthIn[i] = 0.2f + 0.5f * numbers.unit();
        syncIn[i] = (static_cast<uint32_t>(host.clock() + i) % syncPeriod) < 3 ? 0.5f : 0.0f;
        phaseIn[i] = 0.25f * numbers.unit();
        phaseModIn[i] = numbers.unit() - 0.5f;
    }
}

// What a faulty upstream module sends. None is 0, so that Active stays on where it gets one.
constexpr float kHostileValues[] = {std::numeric_limits<float>::quiet_NaN(),
                                    std::numeric_limits<float>::infinity(),
                                    -std::numeric_limits<float>::infinity(),
                                    1e-40f,
                                    -1e-40f,
                                    1.4e-45f,
                                    3e38f,
                                    -3e38f};
constexpr int kHostileSamplesPerInput = 2;

// Puts hostile values into a few samples of every input plug of the block, remembering what
// they replaced.
void injectHostile(host::Host &host, Numbers &numbers, int32_t count, bool activeOn,
                   std::vector<std::pair<float *, float>> &replaced) {
    if (count <= 0) return;
    for (int32_t plug = PITCH_INPUT; plug <= ACTIVE_INPUT; ++plug) {
        if (plug == ACTIVE_INPUT && !activeOn) continue;
        float *data = host.buffer(plug);
        for (int k = 0; k < kHostileSamplesPerInput; ++k) {
            float &sample = data[numbers.next() % static_cast<uint32_t>(count)];
            replaced.emplace_back(&sample, sample);
            sample = kHostileValues[numbers.next() % (sizeof kHostileValues / sizeof(float))];
        }
    }
}

// Enough digits to tell any two floats apart.
std::string exactText(float value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
    return text;
}

} // namespace

const char *routineLabel(int routine) {
    return routine >= 0 && routine < kRoutineCount ? test::kRoutineTable[routine].name : "?";
}

SessionResult runSession(const host::PluginEntries &entries, int routine, uint32_t session,
                         const SessionOptions &options) {
    SessionResult result;
    if (routine < 0 || routine >= kRoutineCount) {
        result.failure = "no routine " + std::to_string(routine);
        return result;
    }
    host::HostOptions hostOptions;
    hostOptions.checkBlocks = options.checkBlocks;
    hostOptions.bufferFrames = 512;
    host::Host host(entries, hostOptions);
    const test::RoutineRow &row = test::kRoutineTable[routine];
    const bool modulated = row.modulated;
    test::InstanceSettings settings;
    settings.sampleRate = options.sampleRate ? *options.sampleRate : kSampleRates[session % 4];
    settings.blockSize = 64 + 32 * static_cast<int32_t>(session % 3);
    settings.shape = row.shape;
    settings.fmMode = modulated ? (session % 2 ? FM_ENABLE : FM_HALF) : FM_DISABLE;
    settings.pmMode = modulated ? PM_ENABLE : PM_DISABLE;
    settings.freqScale = session % 5 == 0 ? FREQ_SCALE_VOLT_PER_KHZ : FREQ_SCALE_VOLT_PER_OCTAVE;
    if (!test::createInstance(host, settings)) {
        result.failure = "makeModule refused";
        return result;
    }
    Numbers numbers(session * 16u + static_cast<uint32_t>(routine));
    host.fill(ACTIVE_INPUT, 1.0f);
    host.fill(RAMP_LEVEL_INPUT, 0.5f);
    host.fill(SAW_LEVEL_INPUT, 0.4f);
    host.fill(PULSE_LEVEL_INPUT, 0.3f);
    host.fill(TRIANGLE_LEVEL_INPUT, 0.6f);
    host.fill(SYNC_THRESHOLD_INPUT, 0.1f);
    host.fill(SYNC_ADVANCE_INPUT, 0.05f * static_cast<float>(session % 3));
    host.open();
    for (int32_t pin = PITCH_INPUT; pin <= ACTIVE_INPUT; ++pin)
        host.sendPlugState(pin, STATE_RUNNING);

    const float pitch = 0.3f + 0.4f * numbers.unit();
    volatile intptr_t routineSeen = 0;
    bool activeOn = true;
    std::vector<std::pair<float *, float>> replaced;
    auto runBlock = [&](int32_t count) {
        fillBlock(host, numbers, pitch, count);
        if (options.hostileInputs) injectHostile(host, numbers, count, activeOn, replaced);
        host.run(count);
        // The next block starts from the session's own values again.
        for (auto it = replaced.rbegin(); it != replaced.rend(); ++it) *it->first = it->second;
        replaced.clear();
        for (int32_t plug : test::kOutputPlugs) {
            const float *data = host.buffer(plug);
            result.outputs.insert(result.outputs.end(), data, data + count);
        }
    };

    for (int32_t block = 0; block < options.blocks; ++block) {
        const int32_t count = kBlockCounts[(session + static_cast<uint32_t>(block)) %
                                           (sizeof kBlockCounts / sizeof kBlockCounts[0])];
        if (block == options.blocks / 3) {
            // A level changes once, and the host says so at a sample inside the block.
            host.fill(SAW_LEVEL_INPUT, -0.7f);
            host.sendPlugState(SAW_LEVEL_INPUT, STATE_ONE_OFF, count / 2);
            host.setBlockSize(48);
        }
        if (block == options.blocks / 2) {
            // Active off: the instance winds down and asks to sleep; then it is woken again.
            host.fill(ACTIVE_INPUT, 0.0f);
            activeOn = false;
            host.sendPlugState(ACTIVE_INPUT, STATE_STATIC);
            const int64_t sleeps = host.sleepRequests();
            for (int32_t i = 0; i < kWindDownLimit && host.sleepRequests() == sleeps; ++i)
                runBlock(32);
            host.fill(ACTIVE_INPUT, 1.0f);
            activeOn = true;
            host.sendPlugState(ACTIVE_INPUT, STATE_RUNNING);
        }
        if (options.askRoutineInfo && block % 4 == 0) {
            // Opcode 13's record is shared by every instance of the process: read it at once.
            const auto *info = reinterpret_cast<const ProcessRoutineInfo *>(
                host.dispatch(MODULE_OP_PROCESS_ROUTINE_INFO));
            if (info == nullptr || info->one != 1 || info->descriptor == nullptr) {
                result.failure = "opcode 13 answered no valid record";
                break;
            }
            routineSeen = reinterpret_cast<intptr_t>(info->descriptor);
        }
        runBlock(count);
    }
    (void)routineSeen;
    result.sleepRequests = host.sleepRequests();
    result.routineChanges = host.routineChanges();
    if (result.failure.empty() && !host.violations().empty())
        result.failure = host.violations().front();
    host.close();
    return result;
}

std::string compareResults(const SessionResult &expected, const SessionResult &actual) {
    if (!actual.failure.empty()) return "failed: " + actual.failure;
    if (!expected.failure.empty()) return "reference failed: " + expected.failure;
    if (expected.sleepRequests != actual.sleepRequests)
        return "sleep requests " + std::to_string(actual.sleepRequests) + ", expected " +
               std::to_string(expected.sleepRequests);
    if (expected.routineChanges != actual.routineChanges)
        return "routine changes " + std::to_string(actual.routineChanges) + ", expected " +
               std::to_string(expected.routineChanges);
    if (expected.outputs.size() != actual.outputs.size())
        return "output count " + std::to_string(actual.outputs.size()) + ", expected " +
               std::to_string(expected.outputs.size());
    for (size_t i = 0; i < expected.outputs.size(); ++i)
        if (std::memcmp(&expected.outputs[i], &actual.outputs[i], sizeof(float)) != 0)
            return "output sample " + std::to_string(i) + " = " + exactText(actual.outputs[i]) +
                   ", expected " + exactText(expected.outputs[i]);
    return "";
}

} // namespace fourwave::platform
