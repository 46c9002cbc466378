// The fuzzed host: libFuzzer's input bytes become one host session, driven through the
// stand-in host against the directly linked oscillator (or, in the self-test build, against the
// deliberately broken module named by FOURWAVE_FAKE_FAULTS).
//
// The bytes are read front to back (a missing byte reads 0), so seeds can be written by hand:
//   header  pin count (u8, 0..25), flags (u8: 0xA5 = no host callback), sample rate (value),
//           block size (i32), shape, FM, PM, freq scale (setting values), the twelve inputs'
//           first values (value each), open (u8: 0x0F = process before open)
//   then up to kMaxOps operations, each an opcode byte (mod 10) and its arguments:
//     0 process      offset u16, count u16 (both brought inside the buffers)
//     1 plug state   pin i8, state i8, event offset u16
//     2 raw event    type i32, pointer i32, intValue i32, extra i32, event offset u16
//     3 dispatch     opcode i32, index i32, value i32, opt (value), pointer kind u8
//     4 input region plug u8, start u16, length u16, value, step (value)
//     5 setting      which u8, value (setting value)
//     6 clock        frames u16
//     7 sample rate  value (opcode 2)
//     8 block size   i32 (opcode 3)
//     9 open again
// A value is a selector byte: below 32 one of the special values (NaN, infinities, denormals,
// extremes, thresholds), below 64 a raw float (4 more bytes), otherwise a plain value in
// [-2, 2]. A setting value is a byte: below 0xF0 it is taken mod 6, otherwise an i16 follows.
//
// It fails (abort, so libFuzzer keeps the input) on: any block-check violation of the host
// (unwritten sample, write outside the block or into a guard zone, changed input, heap call in
// a process call or event delivery); a non-finite output while every input sample of the block
// is finite; a close that does not answer 1. Crashes, sanitizer reports and hangs (-timeout)
// are libFuzzer's own.
#include <stdint.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>

#include "host/host.h"
#include "module/plugs.h"
#include "testkit/checks.h"
#if defined(FOURWAVE_FUZZ_FAKE)
#include "testkit/fake_module.h"
#endif

using namespace fourwave;

namespace {

constexpr int32_t kFrames = 512;
constexpr int kMaxOps = 256;

class Reader {
public:
    Reader(const uint8_t *data, size_t size) : data_(data), size_(size) {}
    bool done() const { return position_ >= size_; }
    uint8_t u8() { return position_ < size_ ? data_[position_++] : 0; }
    uint16_t u16() { return static_cast<uint16_t>(u8() | (u8() << 8)); }
    uint32_t u32() { return u16() | (static_cast<uint32_t>(u16()) << 16); }
    int32_t i32() { return static_cast<int32_t>(u32()); }
    float f32() {
        uint32_t bits = u32();
        // The host marks unwritten output samples with a NaN of its own; a level carrying that
        // very NaN to an output would look unwritten, so inputs never hold it.
        if (bits == host::Host::kUnwrittenMarkerBits) bits ^= 1u;
        float value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }
    float value() {
        static const float specials[32] = {0.0f,
                                           -0.0f,
                                           1.0f,
                                           -1.0f,
                                           0.5f,
                                           std::numeric_limits<float>::quiet_NaN(),
                                           std::numeric_limits<float>::infinity(),
                                           -std::numeric_limits<float>::infinity(),
                                           std::numeric_limits<float>::denorm_min(),
                                           -std::numeric_limits<float>::denorm_min(),
                                           std::numeric_limits<float>::min(),
                                           std::numeric_limits<float>::max(),
                                           -std::numeric_limits<float>::max(),
                                           1e30f,
                                           -1e30f,
                                           1e-30f,
                                           16777216.0f,
                                           16777218.0f,
                                           0.45f,
                                           0.75f,
                                           0.55f,
                                           0.8f,
                                           0.85f,
                                           0.6f,
                                           2.0f,
                                           -2.0f,
                                           10.0f,
                                           1e9f,
                                           3e38f,
                                           0.99999994f,
                                           1.0000001f,
                                           -1e-40f};
        const uint8_t selector = u8();
        if (selector < 32) return specials[selector];
        if (selector < 64) return f32();
        return static_cast<float>(selector - 64) / 191.0f * 4.0f - 2.0f;
    }
    int16_t setting() {
        const uint8_t selector = u8();
        if (selector < 0xF0) return static_cast<int16_t>(selector % 6);
        return static_cast<int16_t>(u16());
    }

private:
    const uint8_t *data_;
    size_t size_;
    size_t position_ = 0;
};

[[noreturn]] void fail(const std::string &what) {
    std::fprintf(stderr, "FUZZ CHECK FAILED: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

host::PluginEntries entriesUnderTest() {
#if defined(FOURWAVE_FUZZ_FAKE)
    static const bool configured = [] {
        const char *faults = std::getenv("FOURWAVE_FAKE_FAULTS");
        return reliability::setFakeFaults(faults != nullptr ? faults : "none");
    }();
    (void)configured;
    return reliability::fakeEntries();
#else
    return test::linkedEntries();
#endif
}

extern "C" void SE_ABI harmlessCall(void *) {}

// FOURWAVE_FUZZ_VERBOSE=1 prints the session as it is decoded, for reports of a finding.
bool verbose() {
    static const bool on = std::getenv("FOURWAVE_FUZZ_VERBOSE") != nullptr;
    return on;
}
#define TRACE(...)                                        \
    do {                                                  \
        if (verbose()) std::fprintf(stderr, __VA_ARGS__); \
    } while (0)

void checkBlock(host::Host &h, int32_t offset, int32_t count, bool opened) {
    if (!opened) {
        // The empty routine before open writes nothing: only unwritten samples are expected.
        for (const std::string &v : h.violations())
            if (v.find("unwritten") == std::string::npos) fail(v);
        h.clearViolations();
        return;
    }
    if (!h.violations().empty()) fail(h.violations().front());
    if (count > 0 && reliability::blockInputsFinite(h, offset, count)) {
        const std::string bad = reliability::firstNonFiniteOutput(h, offset, count);
        if (!bad.empty())
            fail("non-finite output from finite inputs, block at " + std::to_string(offset) + "+" +
                 std::to_string(count) + ": " + bad);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Reader in(data, size);
    host::HostOptions options;
    options.pinCount = in.u8() % 26;
    options.nullCallback = in.u8() == 0xA5;
    options.bufferFrames = kFrames;
    options.logCalls = false;
    host::Host h(entriesUnderTest(), options);
    if (!h.create()) fail("makeModule refused");

    const float rate = in.value();
    const int32_t blockSize = in.i32();
    TRACE("sample rate %g, block size %d\n", rate, blockSize);
    h.setSampleRate(rate);
    h.setBlockSize(blockSize);
    const int16_t shape = in.setting(), fm = in.setting(), pm = in.setting();
    const int16_t freqScale = in.setting();
    h.setChoice(SHAPE_SETTING, shape);
    h.setChoice(FM_MODE_SETTING, fm);
    h.setChoice(PM_MODE_SETTING, pm);
    h.setChoice(FREQ_SCALE_SETTING, freqScale);
    for (int32_t plug : reliability::kInputPlugs) h.fill(plug, in.value());
    TRACE("pins %d, callback %s, shape %d, fm %d, pm %d, freq scale %d\n",
          static_cast<int>(options.pinCount), options.nullCallback ? "none" : "yes", shape, fm, pm,
          freqScale);
    for (int32_t plug : reliability::kInputPlugs)
        TRACE("input %d = %g\n", plug, static_cast<double>(h.buffer(plug)[0]));
    bool opened = false;
    if (in.u8() != 0x0F) {
        h.open();
        opened = true;
    }

    const int32_t settings[] = {SHAPE_SETTING, FM_MODE_SETTING, PM_MODE_SETTING,
                                FREQ_SCALE_SETTING};
    for (int op = 0; op < kMaxOps && !in.done(); ++op) {
        switch (in.u8() % 10) {
        case 0: {
            const int32_t offset = in.u16() % kFrames;
            const int32_t count = in.u16() % (kFrames - offset + 1);
            TRACE("process %d+%d\n", offset, count);
            h.process(offset, count);
            checkBlock(h, offset, count, opened);
            break;
        }
        case 1: {
            const int32_t pin = static_cast<int8_t>(in.u8());
            const int32_t state = static_cast<int8_t>(in.u8());
            const int32_t offset = in.u16() % kFrames;
            TRACE("plug state pin %d state %d at %d\n", pin, state, offset);
            h.sendPlugState(pin, state, offset);
            break;
        }
        case 2: {
            HostEvent event = {};
            event.type = in.i32();
            const intptr_t pointer = in.i32();
            event.intValue = in.i32();
            event.extra = in.i32();
            event.timeStamp = h.clock();
            // A call event carries a routine of the module's; a host never sends another.
            event.pointer = event.type == EVENT_CALL
                                ? (pointer & 1 ? reinterpret_cast<void *>(harmlessCall) : nullptr)
                                : reinterpret_cast<void *>(pointer);
            const int32_t offset = in.u16() % kFrames;
            TRACE("event type %d pointer %ld value %d extra %d at %d\n", event.type,
                  static_cast<long>(pointer), event.intValue, event.extra, offset);
            h.deliverEvent(event, offset);
            break;
        }
        case 3: {
            const int32_t opcode = in.i32(), index = in.i32(), value = in.i32();
            const float opt = in.value();
            const uint8_t pointerKind = in.u8() % 3;
            if (opcode == MODULE_OP_CLOSE) {
                if (h.close() != 1) fail("close did not answer 1");
                return 0;
            }
            PlugDescription description = {};
            int32_t scratch[32] = {};
            void *pointer = pointerKind == 0   ? nullptr
                            : pointerKind == 1 ? static_cast<void *>(scratch)
                                               : static_cast<void *>(&description);
            TRACE("dispatch %d index %d value %d opt %g pointer kind %d\n", opcode, index, value,
                  opt, pointerKind);
            h.dispatch(opcode, index, value, pointer, opt);
            if (opcode == MODULE_OP_OPEN) opened = true;
            if (!h.violations().empty()) fail(h.violations().front());
            break;
        }
        case 4: {
            const int32_t plug = reliability::kInputPlugs[in.u8() % 12];
            const int32_t start = in.u16() % kFrames;
            const int32_t length = in.u16() % (kFrames - start + 1);
            float value = in.value();
            const float step = in.value();
            TRACE("input %d [%d, %d) = %g step %g\n", plug, start, start + length, value, step);
            float *data = h.buffer(plug);
            for (int32_t i = start; i < start + length; ++i) {
                data[i] = value;
                value = value + step;
            }
            break;
        }
        case 5: {
            const int32_t plug = settings[in.u8() % 4];
            const int16_t value = in.setting();
            TRACE("setting %d = %d\n", plug, value);
            h.setChoice(plug, value);
            break;
        }
        case 6: h.advanceClock(in.u16()); break;
        case 7: {
            const float rate = in.value();
            TRACE("sample rate %g\n", rate);
            h.setSampleRate(rate);
            break;
        }
        case 8: {
            const int32_t size = in.i32();
            TRACE("block size %d\n", size);
            h.setBlockSize(size);
            break;
        }
        default:
            TRACE("open\n");
            h.open();
            opened = true;
            break;
        }
        if (!h.violations().empty()) fail(h.violations().front());
    }
    return 0;
}
