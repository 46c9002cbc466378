// The randomized soak: seeded host sessions, each driving two instances of the oscillator with
// the same inputs, interleaved, through the stand-in host, the way a host runs a patch for
// hours. Sample rates, block sizes, settings and Active change within a session, with the
// plug-state events a host sends; now and then an input carries NaN, an infinity or a huge
// value.
//
// Invariants, checked on every process call:
//   - the stand-in host's block checks: every requested sample written, nothing written
//     outside the block or its guard zones, no input changed, no heap call;
//   - no call runs over its time bound (the watchdog ends the program, naming the session);
//   - no non-finite output sample while every input sample of the block is finite;
//   - the sleep request (opcode 10) comes exactly when the countdown says: after a plug-state
//     change that finds Active at 0, once the block size's worth of samples has been
//     processed, and at every block after that;
//   - the two instances' outputs are bit-identical.
//
//   fourwave_soak [--sessions N] [--seed S] [--session K] [--plugin FILE] [--fake FAULTS]
//                 [--time-limit SECONDS]
//
// A failure prints the seed and the session number; --seed S --session K replays just it.
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "host/host.h"
#include "module/plugs.h"
#include "testkit/checks.h"
#include "testkit/fake_module.h"
#include "testkit/session.h"

using namespace fourwave;
using fourwave::host::Host;
using fourwave::host::HostOptions;

namespace {

constexpr float kSampleRates[] = {8000.0f,  22050.0f,  44100.0f,  48000.0f,  88200.0f,
                                  96000.0f, 192000.0f, 384000.0f, 768000.0f, 12345.678f};
constexpr int32_t kBlockCounts[] = {0,  1,  2,   3,   7,   15,   16,   17,   31,  63,
                                    64, 65, 127, 128, 511, 1023, 1024, 2027, 4096};
constexpr int32_t kSpareFrames = 64; // room for block offsets
constexpr int32_t kBufferFrames = 4096 + kSpareFrames;

// splitmix64: the same numbers on every platform and compiler.
struct Rng {
    uint64_t state;
    uint64_t next() {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    uint32_t below(uint32_t n) { return static_cast<uint32_t>(next() % n); }
    float uniform(float lo, float hi) {
        const float unit = static_cast<float>(next() >> 40) / static_cast<float>(1 << 24);
        return lo + (hi - lo) * unit;
    }
    bool chance(double p) { return static_cast<double>(next() >> 11) * 0x1.0p-53 < p; }
};

// One input plug's signal for a session.
struct Signal {
    enum Kind { Constant, Ramp, Noise, Pulses } kind = Constant;
    float base = 0.0f, amount = 0.0f;
    int32_t period = 100;

    float at(int64_t clock, Rng &rng) const {
        switch (kind) {
        case Ramp: return base + amount * static_cast<float>(clock % 4096) / 4096.0f;
        case Noise: return base + rng.uniform(-amount, amount);
        case Pulses: return clock % period < period / 4 ? base + amount : base - amount;
        default: return base;
        }
    }
};

float hostileValue(Rng &rng) {
    constexpr float values[] = {std::numeric_limits<float>::quiet_NaN(),
                                std::numeric_limits<float>::infinity(),
                                -std::numeric_limits<float>::infinity(),
                                1e30f,
                                -1e30f,
                                std::numeric_limits<float>::denorm_min(),
                                -1e-40f,
                                3.0e38f};
    return values[rng.below(sizeof values / sizeof values[0])];
}

double callTimeLimitSeconds = 30.0; // generous: valgrind and wine are slow

struct Totals {
    int64_t sessions = 0, processCalls = 0, samples = 0, events = 0, hostileBlocks = 0;
    int64_t sleepRequests = 0;
    int64_t routineSessions[10] = {};
};

struct Failure {
    std::string what;
};

class Session {
public:
    Session(const host::PluginEntries &entries, uint64_t seed, Totals &totals)
        : rng_{seed}, totals_(totals) {
        HostOptions options;
        options.bufferFrames = kBufferFrames;
        options.logCalls = false;
        a_ = std::make_unique<Host>(entries, options);
        b_ = std::make_unique<Host>(entries, options);
    }

    // Empty on success, otherwise what failed.
    std::string run() {
        sampleRate_ = kSampleRates[rng_.below(10)];
        blockSize_ = kBlockCounts[1 + rng_.below(18)];
        currentBlockSize_ = blockSize_;
        shape_ =
            static_cast<int16_t>(rng_.chance(0.05) ? (rng_.chance(0.5) ? 5 : -1) : rng_.below(5));
        // Half the sessions on a plain routine, half on a modulation routine.
        const int modulation = rng_.chance(0.5) ? 0 : 1 + static_cast<int>(rng_.below(5));
        fmMode_ = static_cast<int16_t>(modulation % 3);
        pmMode_ = static_cast<int16_t>(modulation / 3);
        freqScale_ = static_cast<int16_t>(rng_.below(2));
        const test::InstanceSettings settings{sampleRate_, blockSize_, shape_,
                                              fmMode_,     pmMode_,    freqScale_};
        if (!test::createInstance(*a_, settings) || !test::createInstance(*b_, settings))
            return "makeModule refused";
        const int routine =
            (shape_ >= 0 && shape_ < 4 ? shape_ : 4) * 2 + (fmMode_ != 0 || pmMode_ != 0 ? 1 : 0);
        ++totals_.routineSessions[routine];
        chooseSignals();
        active_ = rng_.chance(0.8) ? 1.0f : 0.0f;
        both([](Host &h) { h.open(); });

        const int blocks = 1 + static_cast<int>(rng_.below(24));
        for (int block = 0; block < blocks; ++block) {
            std::string failure = runBlock(block);
            if (!failure.empty()) return "block " + std::to_string(block) + ": " + failure;
        }
        ++totals_.sessions;
        return "";
    }

private:
    template <class F>
    void both(F f) {
        f(*a_);
        f(*b_);
    }

    void applySettings() {
        both([&](Host &h) {
            h.setChoice(SHAPE_SETTING, shape_);
            h.setChoice(FM_MODE_SETTING, fmMode_);
            h.setChoice(PM_MODE_SETTING, pmMode_);
            h.setChoice(FREQ_SCALE_SETTING, freqScale_);
        });
    }

    void chooseSignals() {
        for (int32_t plug : reliability::kInputPlugs) {
            Signal &s = signals_[plug];
            s.kind = static_cast<Signal::Kind>(rng_.below(4));
            s.period = 8 + static_cast<int32_t>(rng_.below(400));
            switch (plug) {
            case PITCH_INPUT:
                s.base = freqScale_ == 0 ? rng_.uniform(-0.3f, 1.3f) : rng_.uniform(-0.2f, 2.5f);
                s.amount = rng_.uniform(0.0f, 0.3f);
                break;
            case WIDTH_INPUT:
                s.base = rng_.uniform(-0.1f, 1.1f);
                s.amount = 0.2f;
                break;
            case SYNC_INPUT:
                s.base = 0.0f;
                s.amount = rng_.uniform(0.0f, 1.0f);
                break;
            case SYNC_THRESHOLD_INPUT: s.base = rng_.uniform(-0.1f, 1.1f); break;
            case SYNC_ADVANCE_INPUT: s.base = rng_.uniform(-2.0f, 2.0f); break;
            case PHASE_INPUT:
                s.base = rng_.uniform(-1.0f, 1.0f);
                s.amount = 0.5f;
                break;
            case PHASE_MOD_INPUT:
                s.base = rng_.uniform(-1.0f, 1.0f);
                s.amount = 0.5f;
                break;
            default: s.base = rng_.uniform(-2.5f, 2.5f); s.amount = rng_.uniform(0.0f, 1.0f);
            }
        }
    }

    void fillInputs(int32_t offset, int32_t count) {
        std::vector<float> values(static_cast<size_t>(count));
        for (int32_t plug : reliability::kInputPlugs) {
            if (plug == ACTIVE_INPUT) {
                values.assign(static_cast<size_t>(count), active_);
            } else {
                for (int32_t i = 0; i < count; ++i)
                    values[static_cast<size_t>(i)] =
                        signals_[plug].at(static_cast<int64_t>(a_->clock()) + offset + i, rng_);
            }
            if (count > 0 && rng_.chance(0.005)) {
                ++hostile_;
                const int32_t first =
                    static_cast<int32_t>(rng_.below(static_cast<uint32_t>(count)));
                const int32_t last =
                    first + static_cast<int32_t>(rng_.below(static_cast<uint32_t>(count - first))) +
                    1;
                const float bad = hostileValue(rng_);
                for (int32_t i = first; i < last; ++i) values[static_cast<size_t>(i)] = bad;
            }
            both([&](Host &h) {
                std::memcpy(h.buffer(plug) + offset, values.data(), values.size() * sizeof(float));
            });
        }
    }

    // A plug-state event as the host sends it; the module re-reads Active at `offset`.
    void plugState(int32_t pin, int32_t state, int32_t offset) {
        both([&](Host &h) { h.sendPlugState(pin, state, offset); });
        ++totals_.events;
        const float active = a_->buffer(ACTIVE_INPUT)[offset];
        windingDown_ = active == 0.0f;
        if (windingDown_) countdown_ = currentBlockSize_;
    }

    std::string runBlock(int block) {
        const int32_t count = kBlockCounts[rng_.below(19)];
        const int32_t offset =
            rng_.chance(0.3)
                ? static_cast<int32_t>(rng_.below(static_cast<uint32_t>(kBufferFrames - count + 1)))
                : 0;
        hostile_ = 0;
        if (block > 0 && rng_.chance(0.15)) active_ = rng_.chance(0.5) ? 0.0f : 1.0f;
        if (block > 0 && rng_.chance(0.02)) active_ = rng_.chance(0.5) ? -0.0f : 0.37f;
        fillInputs(offset, count > 0 ? count : 1);
        if (hostile_ > 0) ++totals_.hostileBlocks;

        // Between blocks: what a host does when the user edits the patch.
        if (block > 0 && rng_.chance(0.1)) {
            switch (rng_.below(4)) {
            case 0: shape_ = static_cast<int16_t>(rng_.below(5)); break;
            case 1: fmMode_ = static_cast<int16_t>(rng_.below(3)); break;
            case 2: pmMode_ = static_cast<int16_t>(rng_.below(2)); break;
            default: freqScale_ = static_cast<int16_t>(rng_.below(2)); break;
            }
            applySettings();
            plugState(SHAPE_SETTING, STATE_ONE_OFF, offset);
        }
        if (block > 0 && rng_.chance(0.05)) {
            currentBlockSize_ = kBlockCounts[1 + rng_.below(18)];
            both([&](Host &h) { h.setBlockSize(currentBlockSize_); });
        }
        if (block == 0 || rng_.chance(0.2))
            plugState(ACTIVE_INPUT, rng_.chance(0.5) ? STATE_ONE_OFF : STATE_RUNNING, offset);
        if (rng_.chance(0.05)) a_->dispatch(MODULE_OP_PROCESS_ROUTINE_INFO);

        const int64_t sleepsA = a_->sleepRequests(), sleepsB = b_->sleepRequests();
        {
            reliability::WatchdogScope watchdog("a process call", callTimeLimitSeconds);
            a_->process(offset, count);
            b_->process(offset, count);
        }
        ++totals_.processCalls;
        totals_.samples += count;

        for (Host *h : {a_.get(), b_.get()})
            if (!h->violations().empty()) return "block check: " + h->violations().front();

        int64_t expectedSleeps = 0;
        if (windingDown_) {
            countdown_ -= count;
            expectedSleeps = countdown_ <= 0 ? 1 : 0;
        }
        const int64_t sleeps = a_->sleepRequests() - sleepsA;
        totals_.sleepRequests += sleeps;
        if (sleeps != expectedSleeps || b_->sleepRequests() - sleepsB != expectedSleeps)
            return "sleep requests " + std::to_string(sleeps) + ", expected " +
                   std::to_string(expectedSleeps) + " (countdown " + std::to_string(countdown_) +
                   ", count " + std::to_string(count) + ")";

        if (count > 0 && reliability::blockInputsFinite(*a_, offset, count)) {
            const std::string bad = reliability::firstNonFiniteOutput(*a_, offset, count);
            if (!bad.empty()) return "non-finite output from finite inputs: " + bad;
        }
        for (int32_t plug : reliability::kOutputPlugs) {
            const float *x = a_->buffer(plug) + offset;
            const float *y = b_->buffer(plug) + offset;
            if (std::memcmp(x, y, static_cast<size_t>(count) * sizeof(float)) != 0)
                return "the two instances differ on plug " + std::to_string(plug);
        }
        both([&](Host &h) { h.advanceClock(offset + count); });
        return "";
    }

    Rng rng_;
    Totals &totals_;
    std::unique_ptr<Host> a_, b_;
    Signal signals_[12];
    float sampleRate_ = 44100.0f;
    int32_t blockSize_ = 1024;
    int32_t currentBlockSize_ = 1024; // the block size last set
    int16_t shape_ = 0, fmMode_ = 0, pmMode_ = 0, freqScale_ = 0;
    float active_ = 1.0f;
    bool windingDown_ = false;
    int64_t countdown_ = 0;
    int hostile_ = 0;
};

uint64_t sessionSeed(uint64_t seed, int64_t session) {
    Rng mix{seed ^ (static_cast<uint64_t>(session) * 0xD1B54A32D192ED03ull)};
    mix.next();
    return mix.next();
}

} // namespace

int main(int argc, char **argv) {
    int64_t sessions = 10000;
    int64_t onlySession = -1;
    uint64_t seed = 20261208;
    std::string plugin, fake;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char *value = i + 1 < argc ? argv[i + 1] : "";
        if (arg == "--sessions")
            sessions = std::atoll(value), ++i;
        else if (arg == "--seed")
            seed = std::strtoull(value, nullptr, 0), ++i;
        else if (arg == "--session")
            onlySession = std::atoll(value), ++i;
        else if (arg == "--plugin")
            plugin = value, ++i;
        else if (arg == "--fake")
            fake = value, ++i;
        else if (arg == "--time-limit")
            callTimeLimitSeconds = std::atof(value), ++i;
        else {
            std::fprintf(stderr, "usage: fourwave_soak [--sessions N] [--seed S] [--session K] "
                                 "[--plugin FILE] [--fake FAULTS] [--time-limit SECONDS]\n");
            return 2;
        }
    }

    host::PluginEntries entries = test::linkedEntries();
    std::unique_ptr<host::PluginLibrary> library;
    if (!fake.empty()) {
        if (!reliability::setFakeFaults(fake)) {
            std::fprintf(stderr, "unknown fault in '%s'\n", fake.c_str());
            return 2;
        }
        entries = reliability::fakeEntries();
    } else if (!plugin.empty()) {
        std::string error;
        library = host::PluginLibrary::load(plugin, &error);
        if (!library) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 2;
        }
        entries = library->entries();
    }

    Totals totals;
    const auto started = std::chrono::steady_clock::now();
    const int64_t first = onlySession >= 0 ? onlySession : 0;
    const int64_t last = onlySession >= 0 ? onlySession + 1 : sessions;
    reliability::Watchdog::instance(); // its thread lives as long as the program
    const int64_t heapBefore = host::liveHeapBlocks();
    int failures = 0;
    for (int64_t k = first; k < last; ++k) {
        std::string failure;
        {
            Session session(entries, sessionSeed(seed, k), totals);
            failure = session.run();
        }
        if (!failure.empty()) {
            std::printf("FAIL seed %" PRIu64 " session %" PRId64 ": %s\n"
                        "  replay: fourwave_soak --seed %" PRIu64 " --session %" PRId64 "%s%s\n",
                        seed, k, failure.c_str(), seed, k, fake.empty() ? "" : " --fake ",
                        fake.c_str());
            if (++failures >= 5) break;
        }
    }
    const int64_t heapAfter = host::liveHeapBlocks();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (heapAfter != heapBefore && failures == 0) {
        std::printf("FAIL seed %" PRIu64 ": %" PRId64 " heap blocks left after the sessions\n",
                    seed, heapAfter - heapBefore);
        ++failures;
    }
    reliability::releaseLeakedBlocks();

    std::printf("soak%s%s%s seed %" PRIu64 ": %" PRId64 " sessions passed, %" PRId64
                " process calls, %" PRId64 " samples, %" PRId64 " plug-state events, %" PRId64
                " blocks with hostile values, %" PRId64 " sleep requests, %.1f s\n",
                fake.empty() ? "" : " (broken module: ", fake.c_str(), fake.empty() ? "" : ")",
                seed, totals.sessions, totals.processCalls, totals.samples, totals.events,
                totals.hostileBlocks, totals.sleepRequests, seconds);
    std::printf("sessions per routine (shape x plain/mod):");
    for (int64_t n : totals.routineSessions) std::printf(" %" PRId64, n);
    std::printf("\n");
    return failures == 0 ? 0 : 1;
}
