// The session driver every test program shares: an instance made through the stand-in host from
// a plug-in's two entries (the linked module, a loaded plug-in file, or a proxy of either) and
// set up with a sample rate, a block size and its four settings; blocks run one after another
// with a fill before and a take after each; and the one output hash (FNV-1a 64 over the float
// bit patterns, every NaN as one canonical value).
//
// No test framework here: the GoogleTest suites, the platform hosts under wine, the soak, the
// patch dump and the WebAssembly programs all link it.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <cmath>
#include <cstring>
#include <functional>

#include "host/host.h"
#include "module/plugs.h"

namespace fourwave::test {

// The host's setup of an instance before open: opcodes 2 and 3, then the four setting choices.
struct InstanceSettings {
    float sampleRate = 44100.0f;
    int32_t blockSize = 1024;
    int16_t shape = SHAPE_PERFECT;
    int16_t fmMode = FM_DISABLE;
    int16_t pmMode = PM_DISABLE;
    int16_t freqScale = FREQ_SCALE_VOLT_PER_OCTAVE;
};

// makeModule and the binding of every plug, then the settings. False when the plug-in refuses to
// create an instance; nothing is set then.
bool createInstance(host::Host &host, const InstanceSettings &settings);

// The twelve audio inputs, and the four outputs in the order every dump and hash takes them.
constexpr int32_t kInputPlugs[] = {PITCH_INPUT,          WIDTH_INPUT,        SYNC_INPUT,
                                   PHASE_INPUT,          PHASE_MOD_INPUT,    RAMP_LEVEL_INPUT,
                                   SAW_LEVEL_INPUT,      PULSE_LEVEL_INPUT,  TRIANGLE_LEVEL_INPUT,
                                   SYNC_THRESHOLD_INPUT, SYNC_ADVANCE_INPUT, ACTIVE_INPUT};
constexpr auto kOutputPlugs = kPanelOutputs;

// (host, samples run before this block, the block's count)
using BlockStep = std::function<void(host::Host &, int32_t, int32_t)>;

// Runs `frames` samples in blocks of the sizes `blocks` gives, used cyclically (the last block
// shorter): `fill` writes the block's inputs from sample 0 of the buffers, Host::run processes it
// and moves the clock on, and `take` reads its outputs. Either may be empty.
void runBlocks(host::Host &host, int32_t frames, const int32_t *blocks, size_t blockCount,
               const BlockStep &fill, const BlockStep &take);
template <size_t N>
void runBlocks(host::Host &host, int32_t frames, const int32_t (&blocks)[N], const BlockStep &fill,
               const BlockStep &take) {
    runBlocks(host, frames, blocks, N, fill, take);
}

// FNV-1a, 64 bits, over 32-bit words taken low byte first.
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

} // namespace fourwave::test
