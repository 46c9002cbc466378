// What a host sees before it runs anything: the exports, the identity texts and the twenty plug
// descriptions, through the linked module and through the built plug-in file.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "testkit/fixture.h"

using namespace fourwave;
using fourwave::test::linkedEntries;

namespace {

#if defined(FOURWAVE_FLAVOUR_SSE)
const std::string kSuffix = " SSE";
#else
const std::string kSuffix = "";
#endif

std::vector<std::string> lines(const std::string &text) {
    std::vector<std::string> result;
    std::string line;
    std::istringstream in(text);
    while (std::getline(in, line)) result.push_back(line);
    return result;
}

struct PlugRow {
    const char *name;
    int32_t direction;
    int32_t datatype;
    const char *defaultText;
    const char *listText;
};

const PlugRow kExpectedPlugs[NUM_PLUGS] = {
    {"Pitch", 0, DT_AUDIO, "1", nullptr},
    {"Width", 0, DT_AUDIO, "5", nullptr},
    {"Sync", 0, DT_AUDIO, "0", nullptr},
    {"Phase", 0, DT_AUDIO, "0", nullptr},
    {"Phase Mod", 0, DT_AUDIO, "5", nullptr},
    {"Ramp Level", 0, DT_AUDIO, "0", nullptr},
    {"Saw Level", 0, DT_AUDIO, "0", nullptr},
    {"Pulse Level", 0, DT_AUDIO, "5", nullptr},
    {"Triangle Level", 0, DT_AUDIO, "0", nullptr},
    {"Sync Threshold", 0, DT_AUDIO, "0", nullptr},
    {"Sync Advance", 0, DT_AUDIO, "0", nullptr},
    {"Active", 0, DT_AUDIO, "0", nullptr},
    {"Audio Rate Frequency Modulation", 0, DT_ENUM, "0", "Disable=0,Enable=1,Half=2"},
    {"Phase Modulation", 0, DT_ENUM, "0", "Disable,Enable"},
    {"Shape", 0, DT_ENUM, "1", "Perfect=0, Perfect 2 = 1, Bright=2, Medium=3, Dark=4"},
    {"Ramp Out", 1, DT_AUDIO, "0", nullptr},
    {"Saw Out", 1, DT_AUDIO, "0", nullptr},
    {"Pulse Out", 1, DT_AUDIO, "0", nullptr},
    {"Triangle Out", 1, DT_AUDIO, "0", nullptr},
    {"Freq Scale", 3, DT_ENUM, "0", "1 Volt/Octave,1 Volt/kHz"},
};

void expectPlugTable(const std::vector<PlugDescription> &descriptions) {
    ASSERT_EQ(descriptions.size(), static_cast<size_t>(NUM_PLUGS));
    for (int32_t plug = 0; plug < NUM_PLUGS; ++plug) {
        const PlugDescription &d = descriptions[static_cast<size_t>(plug)];
        const PlugRow &row = kExpectedPlugs[plug];
        SCOPED_TRACE(row.name);
        EXPECT_STREQ(d.name, row.name);
        EXPECT_EQ(d.direction, row.direction);
        EXPECT_EQ(d.datatype, row.datatype);
        EXPECT_STREQ(d.defaultText, row.defaultText);
        if (row.listText != nullptr)
            EXPECT_STREQ(d.listText, row.listText);
        else
            EXPECT_EQ(d.listText, nullptr);
        EXPECT_EQ(d.flags, 0);
        EXPECT_EQ(d.reserved28, 0);
        EXPECT_NE(d.variable, nullptr);
    }
}

void expectIdentity(const ModuleProperties &properties) {
    EXPECT_EQ(std::string(properties.name), "Tovik Fourwave" + kSuffix);
    EXPECT_EQ(std::string(properties.description).rfind("Tovik Fourwave" + kSuffix, 0), 0u);
    EXPECT_EQ(std::string(properties.description).find('\n'), std::string::npos);
    const std::string about = properties.about;
    EXPECT_NE(about.back(), '\n');
    const std::vector<std::string> aboutLines = lines(about);
    ASSERT_EQ(aboutLines.size(), 28u);
    EXPECT_EQ(aboutLines[0], "Tovik Fourwave v" FOURWAVE_VERSION_TEXT + kSuffix);
    EXPECT_EQ(aboutLines[2], "Based on Fourwave module V1.1");
    for (int blank : {7, 19, 23, 26}) EXPECT_EQ(aboutLines[static_cast<size_t>(blank)], "");
    EXPECT_EQ(aboutLines[8], "Pitch: Volts");
    EXPECT_EQ(aboutLines[14], "Levels: -10 - 10V");
    EXPECT_EQ(aboutLines[15],
              "Synth Threshold: 0-10V (0V = Hard Sync, 2-8V = Soft Sync, 10V = No Sync) ");
    EXPECT_EQ(aboutLines[16], "Sync Advance (Jitter correction when synced as slave): -20-20V "
                              "(typical: 0, 5, 10, 20)");
    EXPECT_EQ(aboutLines[18], "Shape: Dark, Medium, Bright, Perfect, Perfect 2");
    EXPECT_EQ(aboutLines[21],
              "FM: Disable (default), Enable (audio rate modulation), Half (half audio rate)");
    EXPECT_EQ(aboutLines[25], "except for \"Perfect 2\" which uses audio rate.");
    EXPECT_EQ(aboutLines[27], "\"Perfect\" shape is not suitable for audio-path use: it can "
                              "generate sharp peaks that may cause damage at high level.");
    // The lines naming the maker and its addresses.
    EXPECT_NE(about.find("https://tovik.example"), std::string::npos);
    EXPECT_NE(about.find("info@tovik.example"), std::string::npos);
}

ModuleProperties poisoned() {
    ModuleProperties properties;
    std::memset(&properties, 0xA5, sizeof properties);
    return properties;
}

} // namespace

TEST(Exports, PropertiesForIndexZeroFillTheTextsAndKeepTheHostWords) {
    ModuleProperties properties = poisoned();
    const ModuleProperties before = properties;
    EXPECT_EQ(linkedEntries().getModuleProperties(0, &properties), 1);
    EXPECT_EQ(properties.interfaceRevision, 2230);
    EXPECT_EQ(properties.reserved12, before.reserved12);
    EXPECT_EQ(properties.reserved16, before.reserved16);
    expectIdentity(properties);
}

TEST(Exports, PropertiesForAnotherIndexSetOnlyTheRevision) {
    for (int32_t index : {1, -1, 7}) {
        ModuleProperties properties = poisoned();
        ModuleProperties expected = properties;
        expected.interfaceRevision = 2230;
        EXPECT_EQ(linkedEntries().getModuleProperties(index, &properties), 0);
        EXPECT_EQ(std::memcmp(&properties, &expected, sizeof properties), 0) << index;
    }
}

TEST(Exports, MakeModuleRefusesOtherIndexesAndKinds) {
    for (auto [index, kind] : {std::pair{0, 2}, std::pair{1, 1}, std::pair{0, 0}, std::pair{-1, 1}})
        EXPECT_EQ(linkedEntries().makeModule(index, kind, nullptr, nullptr), nullptr);
}

TEST(Exports, EachInstanceHasItsOwnRecordAndCreationCallsNoHost) {
    host::Host first(linkedEntries()), second(linkedEntries());
    ASSERT_TRUE(first.create());
    ASSERT_TRUE(second.create());
    EXPECT_NE(first.record(), second.record());
    EXPECT_EQ(first.record()->magic, SE_MODULE_RECORD_MAGIC);
    EXPECT_EQ(first.record()->hostData, &first);
    // Binding asks only for descriptions, which is the dispatcher, not the callback.
    EXPECT_TRUE(first.log().empty());
}

TEST(Plugs, DescriptionsMatchTheTable) {
    host::Host host(linkedEntries());
    ASSERT_TRUE(host.create());
    expectPlugTable(host.descriptions());
}

TEST(Plugs, NumbersOutsideTheTableLeaveTheRecordUntouched) {
    Module module(nullptr, nullptr);
    for (int32_t number : {20, -1, 1000}) {
        PlugDescription description;
        std::memset(&description, 0x5A, sizeof description);
        const PlugDescription before = description;
        EXPECT_FALSE(module.describePlug(number, &description));
        EXPECT_EQ(std::memcmp(&before, &description, sizeof description), 0);
    }
}

TEST(Plugs, EachPlugIsBoundToItsOwnMember) {
    auto host = test::openHost({});
    Module &m = test::moduleOf(*host);
    const std::pair<int32_t, const void *> audio[] = {{PITCH_INPUT, m.pitchIn},
                                                      {WIDTH_INPUT, m.widthIn},
                                                      {SYNC_INPUT, m.syncIn},
                                                      {PHASE_INPUT, m.phaseIn},
                                                      {PHASE_MOD_INPUT, m.phaseModIn},
                                                      {RAMP_LEVEL_INPUT, m.rampLevelIn},
                                                      {SAW_LEVEL_INPUT, m.sawLevelIn},
                                                      {PULSE_LEVEL_INPUT, m.pulseLevelIn},
                                                      {TRIANGLE_LEVEL_INPUT, m.triangleLevelIn},
                                                      {SYNC_THRESHOLD_INPUT, m.syncThresholdIn},
                                                      {SYNC_ADVANCE_INPUT, m.syncAdvanceIn},
                                                      {ACTIVE_INPUT, m.activeIn},
                                                      {RAMP_OUTPUT, m.rampOut},
                                                      {SAW_OUTPUT, m.sawOut},
                                                      {PULSE_OUTPUT, m.pulseOut},
                                                      {TRIANGLE_OUTPUT, m.triangleOut}};
    for (const auto &[plug, member] : audio) EXPECT_EQ(member, host->buffer(plug)) << plug;

    const std::pair<int32_t, const int16_t *> settings[] = {{FM_MODE_SETTING, &m.fmMode},
                                                            {PM_MODE_SETTING, &m.pmMode},
                                                            {SHAPE_SETTING, &m.shape},
                                                            {FREQ_SCALE_SETTING, &m.freqScale}};
    int16_t choice = 11;
    for (const auto &[plug, member] : settings) {
        host->setChoice(plug, choice);
        EXPECT_EQ(*member, choice) << plug;
        ++choice;
    }
    for (int32_t pin = 0; pin < NUM_PLUGS; ++pin)
        EXPECT_EQ(m.getPin(pin)->storage, host->descriptions()[static_cast<size_t>(pin)].variable);
}

// The built plug-in file, loaded through its exports as the host application loads it.
TEST(PluginFile, LoadsAndHoldsTheModule) {
    std::string error;
    auto library = host::PluginLibrary::load(FOURWAVE_PLUGIN_FILE, &error);
    ASSERT_NE(library, nullptr) << error;

    ModuleProperties properties = poisoned();
    EXPECT_EQ(library->entries().getModuleProperties(0, &properties), 1);
    EXPECT_EQ(properties.interfaceRevision, 2230);
    expectIdentity(properties);

    host::Host host(library->entries());
    ASSERT_TRUE(host.create());
    EXPECT_EQ(host.record()->magic, SE_MODULE_RECORD_MAGIC);
    expectPlugTable(host.descriptions());
    host.setSampleRate(48000.0f);
    host.fill(ACTIVE_INPUT, 1.0f);
    host.fill(RAMP_LEVEL_INPUT, 0.5f);
    host.open();
    EXPECT_EQ(host.routineChanges(), 1);
    host.run(64);
    EXPECT_TRUE(host.violations().empty());
    EXPECT_NE(host.buffer(RAMP_OUTPUT)[10], 0.0f);
    EXPECT_EQ(host.close(), 1);
}
