// Shared test support: the module linked directly behind the stand-in host, opened with a
// patch, and rendered block by block with every block checked by the host.
#pragma once

#include <stdint.h>

#include <functional>
#include <map>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "entries.h"
#include "session.h"
#include "host/host.h"
#include "module/module.h"
#include "module/plugs.h"

namespace fourwave::test {

// Settings and constant inputs (plug scale, 1.0 = 10 V) of an instance under test.
struct Patch : InstanceSettings {
    std::map<int32_t, float> inputs; // Active defaults to 1.0 here, on
};

// Created, bound, set up and opened; no plug-state event sent yet.
std::unique_ptr<host::Host> openHost(const Patch &patch, host::HostOptions options = {});
Module &moduleOf(host::Host &host);

struct Outputs {
    std::vector<float> ramp, saw, pulse, triangle;
    std::vector<float> &operator[](int32_t plug);
    const std::vector<float> &operator[](int32_t plug) const {
        return const_cast<Outputs &>(*this)[plug];
    }
};

// Fills the inputs of one block: (host, first sample's clock, count).
using BlockInputs = std::function<void(host::Host &, int32_t, int32_t)>;

// Runs `frames` samples in blocks of `block` (the last one shorter) and collects the outputs.
// Fails the current test on any block-check violation.
Outputs render(host::Host &host, int32_t frames, int32_t block, const BlockInputs &inputs = {});
// The same with a block-size sequence used cyclically.
Outputs renderBlocks(host::Host &host, int32_t frames, const std::vector<int32_t> &blocks,
                     const BlockInputs &inputs = {});

// Bit equality of two floats (NaNs with equal payloads compare equal).
bool sameBits(float a, float b);

// The flavours differ in the last bits (x87 keeps intermediates at extended precision); the
// SSE flavour is compared exactly, the x87 flavour within this many units in the last place.
constexpr int kX87UlpTolerance = 4;
#if defined(FOURWAVE_FLAVOUR_SSE)
constexpr bool kExactFlavour = true;
#else
constexpr bool kExactFlavour = false;
#endif
::testing::AssertionResult nearlyEqual(float expected, float actual, int ulps = kX87UlpTolerance);

} // namespace fourwave::test

// Compares exactly on the SSE flavour and within kX87UlpTolerance on the x87 flavour.
#define EXPECT_FLAVOUR_EQ(expected, actual)                                                    \
    EXPECT_TRUE(::fourwave::test::kExactFlavour                                                \
                    ? ::testing::AssertionResult(::fourwave::test::sameBits(expected, actual)) \
                          << "expected " << (expected) << ", got " << (actual)                 \
                    : ::fourwave::test::nearlyEqual(expected, actual))
