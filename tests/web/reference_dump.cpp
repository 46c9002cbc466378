// The reference-output test's renders, every sample of them: the regression test's own patches
// and render (support/regression_patches.h), with each block's outputs recorded, so that a native
// build and the WebAssembly build can be compared sample by sample (the recorded hashes say only
// whether a render differs, not where or how).
//
//   fourwave_reference_dump > DUMP      (the WebAssembly build: through tests/web/run-wasm.mjs)
//
// The dump: "FWREF1\n", a count of renders, then per render its key (length, bytes) and five
// streams (count, 32-bit words): Ramp Out, Saw Out, Pulse Out and Triangle Out as the test
// hashes them, and the test's hash of the final oscillator state (two words).
#include <stdint.h>

#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "testkit/regression_patches.h"

namespace {

void put(const void *data, size_t size) { std::fwrite(data, 1, size, stdout); }
void putWord(uint32_t word) { put(&word, sizeof word); }

} // namespace

int main() {
    using namespace fourwave::regression;
    put("FWREF1\n", 7);
    putWord(static_cast<uint32_t>(kShapeCount * std::size(kPatches)));
    int failures = 0;
    std::vector<uint32_t> recordedOutputs[4]; // in the test's hashing order
    const auto record = [&](fourwave::host::Host &host, int32_t, int32_t count) {
        for (int k = 0; k < 4; ++k) {
            const float *data = host.buffer(fourwave::test::kOutputPlugs[k]);
            for (int32_t j = 0; j < count; ++j) {
                uint32_t bits;
                std::memcpy(&bits, &data[j], sizeof bits);
                recordedOutputs[k].push_back(bits);
            }
        }
    };
    for (int16_t shape = 0; shape < kShapeCount; ++shape) {
        for (const RegressionPatch &patch : kPatches) {
            for (auto &stream : recordedOutputs) stream.clear();
            const Rendered r = render(shape, patch, record);
            // The recording must be what the test hashed, with the test's own hash (every NaN
            // as one canonical value).
            for (int k = 0; k < 4; ++k) {
                fourwave::test::Fnv1a hash;
                for (const uint32_t word : recordedOutputs[k]) {
                    float value;
                    std::memcpy(&value, &word, sizeof value);
                    hash.add(value);
                }
                if (hash.value() != r.hashes[k]) {
                    std::fprintf(stderr, "%s: the recorded %s is not what the test hashed\n",
                                 r.key.c_str(), kOutputNames[k]);
                    ++failures;
                }
            }
            if (!r.violations.empty()) {
                std::fprintf(stderr, "%s: %s\n", r.key.c_str(), r.violations.front().c_str());
                ++failures;
            }
            putWord(static_cast<uint32_t>(r.key.size()));
            put(r.key.data(), r.key.size());
            for (const auto &stream : recordedOutputs) {
                putWord(static_cast<uint32_t>(stream.size()));
                put(stream.data(), stream.size() * sizeof(uint32_t));
            }
            putWord(2);
            putWord(static_cast<uint32_t>(r.hashes[4]));
            putWord(static_cast<uint32_t>(r.hashes[4] >> 32));
        }
    }
    std::fflush(stdout);
    return failures == 0 ? 0 : 1;
}
