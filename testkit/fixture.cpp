#include "fixture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace fourwave::test {

std::unique_ptr<host::Host> openHost(const Patch &patch, host::HostOptions options) {
    auto host = std::make_unique<host::Host>(linkedEntries(), options);
    if (!createInstance(*host, patch)) {
        ADD_FAILURE() << "makeModule refused";
        return host;
    }
    host->fill(ACTIVE_INPUT, 1.0f);
    for (const auto &[plug, value] : patch.inputs) host->fill(plug, value);
    host->open();
    return host;
}

Module &moduleOf(host::Host &host) { return *static_cast<Module *>(host.record()->object); }

std::vector<float> &Outputs::operator[](int32_t plug) {
    switch (plug) {
    case RAMP_OUTPUT: return ramp;
    case SAW_OUTPUT: return saw;
    case PULSE_OUTPUT: return pulse;
    default: return triangle;
    }
}

Outputs renderBlocks(host::Host &host, int32_t frames, const std::vector<int32_t> &blocks,
                     const BlockInputs &inputs) {
    Outputs out;
    const auto fill = [&](host::Host &, int32_t, int32_t count) {
        if (inputs) inputs(host, host.clock(), count);
    };
    const auto take = [&](host::Host &, int32_t, int32_t count) {
        for (int32_t plug : kOutputPlugs) {
            const float *data = host.buffer(plug);
            out[plug].insert(out[plug].end(), data, data + count);
        }
    };
    runBlocks(host, frames, blocks.data(), blocks.size(), fill, take);
    EXPECT_TRUE(host.violations().empty()) << host.violations().front();
    return out;
}

Outputs render(host::Host &host, int32_t frames, int32_t block, const BlockInputs &inputs) {
    return renderBlocks(host, frames, {block}, inputs);
}

bool sameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

::testing::AssertionResult nearlyEqual(float expected, float actual, int ulps) {
    if (sameBits(expected, actual)) return ::testing::AssertionSuccess();
    if (std::isnan(expected) || std::isnan(actual))
        return ::testing::AssertionFailure() << "expected " << expected << ", got " << actual;
    float step = expected;
    for (int i = 0; i < ulps; ++i) step = std::nextafter(step, actual);
    const bool within = expected < actual ? actual <= step : actual >= step;
    if (within) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "expected " << expected << ", got " << actual
                                         << " (more than " << ulps << " ulps apart)";
}

} // namespace fourwave::test
