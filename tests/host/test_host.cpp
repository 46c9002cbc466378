// The stand-in host itself, through what a plug-in sees of it: the answer to each callback
// opcode, its count and log of the calls, the buffers it binds and hands out, and the report of
// a plug-in file that does not load. The instance is the linked module; the tests call the host
// callback it was given, as the module would.
#include <gtest/gtest.h>

#include <string>

#include "host/host.h"
#include "module/exports.h"
#include "module/plugs.h"

namespace fourwave {
namespace {

HostCallback givenCallback = nullptr;

BindingRecord *SE_ABI capturingMakeModule(int32_t index, int32_t objectKind, HostCallback callback,
                                          void *hostData) {
    givenCallback = callback;
    return makeModule(index, objectKind, callback, hostData);
}

constexpr intptr_t kPinCount = 23;
constexpr intptr_t kSleepAnswer = 5;
constexpr int32_t kClock = 1000;

class StandInHost : public ::testing::Test {
protected:
    StandInHost() : host_({getModuleProperties, capturingMakeModule}, options()) {}
    static host::HostOptions options() {
        host::HostOptions options;
        options.pinCount = kPinCount;
        options.sleepAnswer = kSleepAnswer;
        return options;
    }
    void SetUp() override {
        ASSERT_TRUE(host_.create());
        host_.advanceClock(kClock);
        host_.clearLog();
    }
    intptr_t call(int32_t opcode, int32_t index = 0, int32_t value = 0, void *pointer = nullptr) {
        return givenCallback(host_.record(), opcode, index, value, pointer, 0.25f);
    }
    host::Host host_;
};

struct AnswerCase {
    const char *name;
    int32_t opcode;
    int32_t index;
    intptr_t answer;
};

const AnswerCase kAnswers[] = {
    {"PinCountIsTheOption", HOST_OP_GET_PIN_COUNT, 0, kPinCount},
    {"SleepRequestIsTheOption", HOST_OP_REQUEST_SLEEP, 0, kSleepAnswer},
    {"SampleClockOutsideADeliveryIsTheBufferStart", HOST_OP_GET_SAMPLE_CLOCK, 0, kClock},
    {"BufferStartClockIsTheClock", HOST_OP_GET_BUFFER_START_CLOCK, 3, kClock},
    {"SendStateAnswersZero", HOST_OP_SEND_STATE, 7, 0},
    {"QueryPinAnswersZero", HOST_OP_QUERY_PIN, 2, 0},
    {"UnknownOpcodeAnswersZero", 999, 0, 0},
    {"NegativeOpcodeAnswersZero", -4, 0, 0},
};

void PrintTo(const AnswerCase &c, std::ostream *os) { *os << c.name; }

class Answers : public StandInHost, public ::testing::WithParamInterface<AnswerCase> {};

TEST_P(Answers, EachOpcodeIsAnsweredCountedAndLoggedWithItsArguments) {
    const AnswerCase &c = GetParam();
    const int64_t before = host_.callCount(c.opcode);
    int marker = 0;
    EXPECT_EQ(call(c.opcode, c.index, 3, &marker), c.answer);
    EXPECT_EQ(host_.callCount(c.opcode), before + 1);
    ASSERT_EQ(host_.log().size(), 1u);
    const host::HostCall &logged = host_.log().front();
    EXPECT_EQ(logged.opcode, c.opcode);
    EXPECT_EQ(logged.index, c.index);
    EXPECT_EQ(logged.value, 3);
    EXPECT_EQ(logged.pointer, reinterpret_cast<intptr_t>(&marker));
    EXPECT_EQ(logged.opt, 0.25f);
}

INSTANTIATE_TEST_SUITE_P(Opcodes, Answers, ::testing::ValuesIn(kAnswers),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(StandInHost, SentStatesAndPinBuffersAreKeptPerPinWithinTheTable) {
    call(HOST_OP_SEND_STATE, 7, STATE_ONE_OFF);
    call(HOST_OP_SEND_STATE, host::Host::kMaxPins, STATE_RUNNING);
    EXPECT_EQ(host_.outputState(7), STATE_ONE_OFF);
    EXPECT_EQ(host_.outputState(8), 0);
    EXPECT_EQ(host_.outputState(host::Host::kMaxPins), -1);

    const intptr_t buffer = call(HOST_OP_GET_BUFFER_ADDRESS, 3);
    EXPECT_NE(buffer, 0);
    EXPECT_EQ(call(HOST_OP_GET_BUFFER_ADDRESS, 3), buffer);
    EXPECT_NE(call(HOST_OP_GET_BUFFER_ADDRESS, 4), buffer);
    EXPECT_EQ(call(HOST_OP_GET_BUFFER_ADDRESS, -1), 0);
    EXPECT_EQ(call(HOST_OP_GET_BUFFER_ADDRESS, host::Host::kMaxPins), 0);
}

TEST_F(StandInHost, AddedEventsAreQueuedAsCopies) {
    HostEvent event = {};
    event.type = EVENT_PLUG_STATE;
    event.intValue = 42;
    call(HOST_OP_ADD_EVENT, 0, 0, &event);
    event.intValue = 0;
    call(HOST_OP_ADD_EVENT); // no event: nothing queued
    ASSERT_EQ(host_.queuedEvents().size(), 1u);
    EXPECT_EQ(host_.queuedEvents().front().intValue, 42);
}

TEST_F(StandInHost, AnOverrideAnswersInsteadAndTheCallIsStillCounted) {
    host_.answerOverride = [](const host::HostCall &c, intptr_t &answer) {
        answer = 77;
        return c.opcode == HOST_OP_GET_PIN_COUNT;
    };
    EXPECT_EQ(call(HOST_OP_GET_PIN_COUNT), 77);
    EXPECT_EQ(call(HOST_OP_REQUEST_SLEEP), kSleepAnswer);
    EXPECT_EQ(host_.callCount(HOST_OP_GET_PIN_COUNT), 1);
}

// Defaults are given in volts; an audio buffer holds plug scale (10 V = 1.0).
TEST_F(StandInHost, PlugsAreBoundToBuffersWithTheirDefaultsAndToChoices) {
    const auto &descriptions = host_.descriptions();
    ASSERT_EQ(descriptions.size(), static_cast<size_t>(NUM_PLUGS));
    const float *width = host_.buffer(WIDTH_INPUT);
    EXPECT_EQ(*static_cast<float **>(descriptions[WIDTH_INPUT].variable), width);
    EXPECT_EQ(width[0], 0.5f);
    EXPECT_EQ(width[host_.options().bufferFrames - 1], 0.5f);
    for (int32_t notAudio : {-1, int32_t{SHAPE_SETTING}, int32_t{NUM_PLUGS}})
        EXPECT_EQ(host_.buffer(notAudio), nullptr) << notAudio;
    const auto *shape = static_cast<const int16_t *>(descriptions[SHAPE_SETTING].variable);
    EXPECT_EQ(*shape, SHAPE_PERFECT2);
    host_.setChoice(SHAPE_SETTING, SHAPE_DARK);
    EXPECT_EQ(*shape, SHAPE_DARK);
}

TEST(PluginLibrary, AMissingFileIsReported) {
    std::string error;
    EXPECT_EQ(host::PluginLibrary::load("no-such-plugin-file", &error), nullptr);
    EXPECT_FALSE(error.empty());
}

} // namespace
} // namespace fourwave
