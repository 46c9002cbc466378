// Reference outputs: a fixed set of patches, rendered through every routine of this build's
// flavour, must give the outputs recorded in reference_<flavour>.txt to the last bit.
//
// This is what keeps optimisations of the sample loops honest: each patch's four outputs and
// its final oscillator state are hashed (FNV-1a, 64 bits, over the float bit patterns, every
// NaN as one canonical value) and compared with the recorded hashes. It says nothing about
// whether the outputs are right; the unit tests do that. The patches and the render are
// support/regression_patches.h.
//
//   fourwave_regression                          compare with the recorded references
//   fourwave_regression --write-references FILE record this build's outputs instead
#include <gtest/gtest.h>

#include <stdint.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "testkit/regression_patches.h"

namespace fourwave::regression {
namespace {

std::string hex(uint64_t value) {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
    return text;
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
                             return std::string(kShapeChoices[info.param].key);
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
