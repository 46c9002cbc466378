// The host-interface layer seen from the host: the binding record, the dispatcher, process
// routines, pins and events, driven through the stand-in host with a recording module.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "host/host.h"
#include "sdk/module_base.h"

using fourwave::host::Host;
using fourwave::host::HostOptions;
using fourwave::host::PluginEntries;

namespace {

// A module whose plug descriptions a test sets, and which records every virtual it reaches.
struct RecordingModule : SEModule_base {
    static std::vector<PlugDescription> plugs; // what describePlug answers
    static std::vector<std::string> calls;
    static int destroyed;

    RecordingModule(HostCallback callback, void *hostData) : SEModule_base(callback, hostData) {}
    ~RecordingModule() override { ++destroyed; }

    int32_t onPlugStateChange(SEPin *pin) override {
        calls.push_back("stateChange " + std::to_string(pin->number) + " " +
                        std::to_string(pin->state));
        return 7;
    }
    bool describePlug(int32_t number, PlugDescription *description) override {
        calls.push_back("describe " + std::to_string(number));
        if (number < 0 || number >= static_cast<int32_t>(plugs.size())) return false;
        *description = plugs[static_cast<size_t>(number)];
        return true;
    }
    void close() override { calls.push_back("close"); }
    void onOpcode8() override { calls.push_back("op8"); }
    void onOpcode8Index(int32_t index) override { calls.push_back("op8 " + std::to_string(index)); }
    void onOpcode12(int32_t value, int32_t index, void *pointer) override {
        calls.push_back("op12 " + std::to_string(value) + " " + std::to_string(index) + " " +
                        std::to_string(reinterpret_cast<intptr_t>(pointer)));
    }
    void onEventType2(int32_t timeStamp, int32_t value, uint16_t extra) override {
        calls.push_back("event2 " + std::to_string(timeStamp) + " " + std::to_string(value) + " " +
                        std::to_string(extra));
    }

    using SEModule_base::pinCount;
    using SEModule_base::pins;
};
std::vector<PlugDescription> RecordingModule::plugs;
std::vector<std::string> RecordingModule::calls;
int RecordingModule::destroyed = 0;

BindingRecord *SE_ABI makeRecordingModule(int32_t, int32_t, HostCallback callback, void *data) {
    return (new RecordingModule(callback, data))->getBindingRecord();
}

int32_t SE_ABI otherRoutine(void *, int32_t, int32_t) { return 5; }

PluginEntries recordingEntries() {
    PluginEntries entries;
    entries.makeModule = makeRecordingModule;
    return entries;
}

RecordingModule &moduleOf(Host &host) {
    return *static_cast<RecordingModule *>(host.record()->object);
}

PlugDescription audioPlug(void *variable, int32_t flags = 0) {
    PlugDescription description = {};
    description.variable = variable;
    description.datatype = DT_AUDIO;
    description.flags = flags;
    return description;
}

class ModuleBase : public ::testing::Test {
protected:
    void SetUp() override {
        RecordingModule::plugs.clear();
        RecordingModule::calls.clear();
        RecordingModule::destroyed = 0;
    }
};

} // namespace

TEST_F(ModuleBase, FreshRecordReadsMagicVersionHostValueObjectAndEntries) {
    Host host(recordingEntries());
    ASSERT_TRUE(host.create());
    const BindingRecord *record = host.record();
    EXPECT_EQ(record->magic, 0x5345504Cu);
    EXPECT_EQ(std::memcmp(record, "LPES", 4), 0); // 'SEPL' as little-endian bytes
    EXPECT_EQ(record->recordVersion, 1);
    EXPECT_EQ(record->hostData, &host);
    EXPECT_EQ(record->object, static_cast<SEModule_base *>(&moduleOf(host)));
    EXPECT_EQ(record->reserved16, 0);
    EXPECT_NE(record->dispatcher, nullptr);
    EXPECT_NE(record->process, nullptr);
    EXPECT_NE(record->eventHandler, nullptr);
    for (int32_t word : record->reserved32) EXPECT_EQ(word, 0);
    EXPECT_EQ(host.log().size(), 0u) << "construction makes no host call";
}

TEST_F(ModuleBase, ProcessBeforeOpenDoesNothing) {
    Host host(recordingEntries());
    ASSERT_TRUE(host.create());
    EXPECT_EQ(host.record()->process(host.record()->object, 0, 64), 0);
    EXPECT_EQ(host.log().size(), 0u);
}

TEST_F(ModuleBase, OpcodesOutsideTheTableAnswerZeroAndChangeNothing) {
    Host host(recordingEntries());
    ASSERT_TRUE(host.create());
    BindingRecord before = *host.record();
    RecordingModule::calls.clear(); // the host's plug descriptions at creation
    for (int32_t opcode : {4, 5, 7, 9, 10, 11, 14, 22, 4096, -1, INT32_MIN, INT32_MAX}) {
        EXPECT_EQ(host.dispatch(opcode, 3, 4, nullptr, 1.5f), 0) << "opcode " << opcode;
    }
    EXPECT_EQ(std::memcmp(&before, host.record(), sizeof before), 0);
    EXPECT_TRUE(RecordingModule::calls.empty());
    EXPECT_TRUE(host.log().empty());
}

TEST_F(ModuleBase, OpcodesReachTheirVirtuals) {
    Host host(recordingEntries());
    ASSERT_TRUE(host.create());
    RecordingModule::calls.clear();
    EXPECT_EQ(host.dispatch(MODULE_OP_8, 0), 0);
    EXPECT_EQ(host.dispatch(MODULE_OP_8, 3), 0);
    EXPECT_EQ(host.dispatch(MODULE_OP_12, 9, 8, reinterpret_cast<void *>(7)), 0);
    const std::vector<std::string> expected = {"op8", "op8", "op8 3", "op12 8 9 7"};
    EXPECT_EQ(RecordingModule::calls, expected);

    host.dispatch(MODULE_OP_SET_SAMPLE_RATE, 0, 0, nullptr, 96000.0f);
    host.dispatch(MODULE_OP_SET_BLOCK_SIZE, 0, 333);
    EXPECT_EQ(moduleOf(host).getSampleRate(), 96000.0f);
    EXPECT_EQ(moduleOf(host).getBlockSize(), 333);
}

TEST_F(ModuleBase, DescribePlugPassesTheHostRecordOnAndAnswersWhetherThePlugExists) {
    float *variable = nullptr; // the host writes a buffer address here
    RecordingModule::plugs = {audioPlug(&variable)};
    Host host(recordingEntries());
    ASSERT_TRUE(host.create());
    PlugDescription description = {};
    description.reserved28 = 99; // not cleared by the dispatcher
    EXPECT_EQ(host.dispatch(MODULE_OP_DESCRIBE_PLUG, 0, 0, &description), 1);
    EXPECT_EQ(description.variable, &variable);
    EXPECT_EQ(host.dispatch(MODULE_OP_DESCRIBE_PLUG, 1, 0, &description), 0);
    EXPECT_EQ(host.dispatch(MODULE_OP_DESCRIBE_PLUG, 0, 0, nullptr), 0);
}

TEST_F(ModuleBase, CloseAnswersOneAndDeletesTheInstance) {
    Host host(recordingEntries());
    ASSERT_TRUE(host.create());
    EXPECT_EQ(host.close(), 1);
    EXPECT_EQ(RecordingModule::destroyed, 1);
    EXPECT_EQ(RecordingModule::calls.back(), "close");
}

TEST_F(ModuleBase, ProcessRoutineInfoIsSharedAndPointsAtTheAskingInstance) {
    Host first(recordingEntries()), second(recordingEntries());
    ASSERT_TRUE(first.create());
    ASSERT_TRUE(second.create());
    const intptr_t a = first.dispatch(MODULE_OP_PROCESS_ROUTINE_INFO);
    const auto *info = reinterpret_cast<const ProcessRoutineInfo *>(a);
    EXPECT_EQ(info->descriptor->routine, first.record()->process);
    const intptr_t b = second.dispatch(MODULE_OP_PROCESS_ROUTINE_INFO);
    EXPECT_EQ(a, b);
    EXPECT_EQ(info->one, 1);
    EXPECT_EQ(info->descriptorSize, static_cast<int32_t>(sizeof(ProcessDescriptor)));
    EXPECT_EQ(info->zero, 0);
    moduleOf(second).setProcessRoutine(otherRoutine, 0, 0, 0);
    EXPECT_EQ(info->descriptor->routine, otherRoutine) << "third word points into the second";
}

TEST_F(ModuleBase, SetProcessRoutineNotifiesExactlyWhenTheRoutineChanges) {
    Host host(recordingEntries());
    ASSERT_TRUE(host.create());
    SEModule_base &module = moduleOf(host);
    const ProcessRoutine empty = host.record()->process;

    module.setProcessRoutine(empty, 0, 0, 0);
    EXPECT_EQ(host.routineChanges(), 0);
    module.setProcessRoutine(otherRoutine, 0, 0, 0);
    EXPECT_EQ(host.routineChanges(), 1);
    EXPECT_EQ(host.record()->process, otherRoutine);
    EXPECT_EQ(host.record()->process(host.record()->object, 0, 1), 5);
    module.setProcessRoutine(otherRoutine, 0, 0, 0);
    EXPECT_EQ(host.routineChanges(), 1);
    module.setProcessRoutine(otherRoutine, 0, 1, 0);
    EXPECT_EQ(host.routineChanges(), 2);
    EXPECT_EQ(module.getProcessRoutine().word2, 1);
}

TEST_F(ModuleBase, WithoutAHostCallbackEveryHostCallAnswersZero) {
    float *variable = nullptr; // the host writes a buffer address here
    RecordingModule::plugs = {audioPlug(&variable)};
    RecordingModule module(nullptr, nullptr);
    module.setProcessRoutine(otherRoutine, 0, 0, 0);
    EXPECT_EQ(module.getBindingRecord()->process, otherRoutine);
    EXPECT_EQ(module.callHost(HOST_OP_GET_PIN_COUNT, 0, 0, nullptr, 0.0f), 0);
    EXPECT_EQ(module.getSampleClock(), 0);
    module.open();
    EXPECT_EQ(module.getPinCount(), 0);
    EXPECT_EQ(module.getPin(0), nullptr);
}

// ---------------------------------------------------------------------------------------------
// Pin creation from the descriptions and the host's pin count.

struct PinCase {
    const char *name;
    std::vector<int32_t> flags; // one described plug per entry (DT_AUDIO, with a variable)
    intptr_t hostPinCount;
    // For each pin: the description it was bound to, -1 for an internal buffer from opcode 7,
    // -2 for an unbound pin.
    std::vector<int> expected;
};

void PrintTo(const PinCase &c, std::ostream *os) { *os << c.name; }

class PinCreation : public ModuleBase, public ::testing::WithParamInterface<PinCase> {};

TEST_P(PinCreation, BindsPinsFromTheDescriptions) {
    const PinCase &c = GetParam();
    std::vector<float *> variables(c.flags.size(), nullptr);
    for (size_t i = 0; i < c.flags.size(); ++i)
        RecordingModule::plugs.push_back(audioPlug(&variables[i], c.flags[i]));
    HostOptions options;
    options.pinCount = c.hostPinCount;
    Host host(recordingEntries(), options);
    ASSERT_TRUE(host.create());
    host.open();

    RecordingModule &module = moduleOf(host);
    ASSERT_EQ(module.getPinCount(), static_cast<int32_t>(c.expected.size()));
    for (size_t j = 0; j < c.expected.size(); ++j) {
        const SEPin *pin = module.getPin(static_cast<int32_t>(j));
        if (c.expected[j] == -2) {
            EXPECT_EQ(pin, nullptr) << "pin " << j << " stays unbound";
            EXPECT_EQ(module.pins[j].module, nullptr);
            continue;
        }
        ASSERT_NE(pin, nullptr);
        if (c.expected[j] >= 0) {
            EXPECT_EQ(pin->storage, &variables[static_cast<size_t>(c.expected[j])]) << "pin " << j;
            EXPECT_EQ(pin->number, static_cast<int32_t>(j));
            EXPECT_EQ(pin->datatype, DT_AUDIO);
        } else {
            EXPECT_EQ(pin->storage, &pin->internalValue) << "pin " << j;
            EXPECT_NE(pin->internalValue.address, nullptr) << "buffer from opcode 7";
        }
    }
    int64_t bufferRequests = 0;
    for (const auto &call : host.log()) bufferRequests += call.opcode == HOST_OP_GET_BUFFER_ADDRESS;
    EXPECT_EQ(bufferRequests, std::count(c.expected.begin(), c.expected.end(), -1));
}

const int kSkip = PLUG_SKIP_PIN, kKeep = PLUG_KEEP_PIN, kRepeat = PLUG_REPEAT_LAST;

INSTANTIATE_TEST_SUITE_P(
    Table, PinCreation,
    ::testing::Values(
        PinCase{"TwentyPlainPlugs", std::vector<int32_t>(20, 0), 20, {0,  1,  2,  3,  4,  5,  6,
                                                                      7,  8,  9,  10, 11, 12, 13,
                                                                      14, 15, 16, 17, 18, 19}},
        PinCase{"HostCountCapsThePins",
                std::vector<int32_t>(20, 0),
                15,
                {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}},
        PinCase{"ExtraPinsStayUnboundWithoutRepeat", {0, 0, 0}, 5, {0, 1, 2, -2, -2}},
        PinCase{"SkippedDescriptionGivesItsNumberToTheNext", {0, kSkip, 0}, 2, {0, 2}},
        PinCase{"KeepCancelsSkip", {0, kSkip | kKeep, 0}, 3, {0, 1, 2}},
        PinCase{"RepeatLastBindsExtraPinsWithItsDatatype", {0, kRepeat}, 5, {0, 1, -1, -1, -1}},
        PinCase{"RepeatOnASkippedLastDoesNothing", {0, kSkip | kRepeat}, 3, {0, -2, -2}},
        PinCase{"NoPinsWhenTheHostCountsNone", {0, 0}, 0, {}},
        PinCase{"NegativeCountMeansNone", {0}, -4, {}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(ModuleBase, InternalStorageFollowsTheDatatype) {
    for (int32_t datatype : std::vector<int32_t>{DT_ENUM, DT_BOOL, DT_FLOAT, DT_INT, 1, 2, 3, 7}) {
        PlugDescription description = {};
        description.datatype = datatype;
        description.flags = PLUG_REPEAT_LAST;
        RecordingModule::plugs = {description};
        HostOptions options;
        options.pinCount = 2;
        Host host(recordingEntries(), options);
        ASSERT_TRUE(host.create());
        host.open();
        const SEPin *pin = moduleOf(host).getPin(1);
        const bool hasStorage = datatype == DT_ENUM || datatype == DT_BOOL ||
                                datatype == DT_FLOAT || datatype == DT_INT;
        EXPECT_EQ(pin->storage, hasStorage ? &pin->internalValue : nullptr) << datatype;
        EXPECT_EQ(pin->internalValue.word, 0);
    }
}

TEST_F(ModuleBase, SecondOpenReplacesThePins) {
    std::vector<float *> variables(3, nullptr);
    for (auto &v : variables) RecordingModule::plugs.push_back(audioPlug(&v));
    HostOptions options;
    options.pinCount = 3;
    Host host(recordingEntries(), options);
    ASSERT_TRUE(host.create());
    host.open();
    host.options().pinCount = 2;
    host.open(); // a leak here shows under the sanitizers
    EXPECT_EQ(moduleOf(host).getPinCount(), 2);
}

// ---------------------------------------------------------------------------------------------
// Pins and events

class PinsAndEvents : public ModuleBase {
protected:
    void SetUp() override {
        ModuleBase::SetUp();
        for (auto &v : variables) RecordingModule::plugs.push_back(audioPlug(&v));
        HostOptions options;
        options.pinCount = 12;
        host = std::make_unique<Host>(recordingEntries(), options);
        ASSERT_TRUE(host->create());
        host->open();
        RecordingModule::calls.clear();
    }
    std::vector<float *> variables = std::vector<float *>(12, nullptr);
    std::unique_ptr<Host> host;
};

TEST_F(PinsAndEvents, PlugStateEventReachesTheModuleWithThePinInThatState) {
    host->sendPlugState(11, STATE_RUNNING);
    ASSERT_EQ(RecordingModule::calls, std::vector<std::string>{"stateChange 11 2"});
    EXPECT_EQ(moduleOf(*host).getPin(11)->state, STATE_RUNNING);
}

TEST_F(ModuleBase, EventsForUnboundPinsAreIgnored) {
    std::vector<float *> variables(3, nullptr);
    for (auto &v : variables) RecordingModule::plugs.push_back(audioPlug(&v));
    HostOptions options;
    options.pinCount = 6; // pins 3 to 5 exist but are never bound
    Host host(recordingEntries(), options);
    ASSERT_TRUE(host.create());
    host.open();
    RecordingModule::calls.clear();
    for (int32_t pin = 3; pin < 6; ++pin) {
        EXPECT_EQ(moduleOf(host).getPin(pin), nullptr);
        host.sendPlugState(pin, STATE_RUNNING);
    }
    EXPECT_TRUE(RecordingModule::calls.empty());
    host.sendPlugState(2, STATE_RUNNING);
    EXPECT_EQ(RecordingModule::calls.size(), 1u);
}

TEST_F(PinsAndEvents, OneOffStateIsVisibleDuringTheNotificationOnly) {
    SEPin *pin = moduleOf(*host).getPin(3);
    EXPECT_EQ(pin->notifyStateChange(STATE_ONE_OFF), 7);
    EXPECT_EQ(RecordingModule::calls, std::vector<std::string>{"stateChange 3 1"});
    EXPECT_EQ(pin->state, STATE_STATIC);
}

TEST_F(PinsAndEvents, EventsOfOtherTypesOrPinsOutsideTheArrayAreIgnored) {
    for (intptr_t pin : {intptr_t{-1}, intptr_t{12}, intptr_t{20}, intptr_t{1000}}) {
        HostEvent event = {
            0, EVENT_PLUG_STATE, STATE_RUNNING, 0, reinterpret_cast<void *>(pin), nullptr};
        host->deliverEvent(event);
    }
    for (int32_t type : {1, 3, 5, 20, 22, -1}) {
        HostEvent event = {0, type, 2, 0, reinterpret_cast<void *>(intptr_t{1}), nullptr};
        host->deliverEvent(event);
    }
    EXPECT_TRUE(RecordingModule::calls.empty());
}

TEST_F(PinsAndEvents, TypeTwoPassesTheLowSixteenBitsOfExtra) {
    HostEvent event = {44, EVENT_TYPE_2, 5, 0x12345678, nullptr, nullptr};
    host->deliverEvent(event);
    EXPECT_EQ(RecordingModule::calls, std::vector<std::string>{"event2 44 5 22136"});
}

namespace {
int callEventRuns = 0;
void *callEventObject = nullptr;
void SE_ABI callEventRoutine(void *object) {
    ++callEventRuns;
    callEventObject = object;
}
} // namespace

TEST_F(PinsAndEvents, QueuedEventsReachTheHostAndCallEventsRunOnTheInstance) {
    SEModule_base &module = moduleOf(*host);
    module.addEvent(10, EVENT_TYPE_2, 3, 4, nullptr);
    module.addCallEvent(20, callEventRoutine);
    ASSERT_EQ(host->queuedEvents().size(), 2u);
    const HostEvent &call = host->queuedEvents()[1];
    EXPECT_EQ(call.timeStamp, 20);
    EXPECT_EQ(call.type, EVENT_CALL);
    EXPECT_EQ(call.intValue, 0);
    EXPECT_EQ(call.extra, 0);
    EXPECT_EQ(call.link, nullptr);
    callEventRuns = 0;
    host->deliverQueuedEvents();
    EXPECT_EQ(callEventRuns, 1);
    EXPECT_EQ(callEventObject, static_cast<void *>(&module));
    EXPECT_EQ(RecordingModule::calls, std::vector<std::string>{"event2 10 3 4"});
}

TEST_F(PinsAndEvents, GetValueReadsTheElementTheHostClockPointsAt) {
    std::vector<float> buffer = {0.0f, 1.0f, 2.0f, 3.5f, 4.0f};
    variables[2] = buffer.data();
    host->answerOverride = [](const fourwave::host::HostCall &call, intptr_t &answer) {
        if (call.opcode == HOST_OP_GET_BUFFER_START_CLOCK)
            answer = 1000;
        else if (call.opcode == HOST_OP_GET_SAMPLE_CLOCK)
            answer = 1003;
        else
            return false;
        return true;
    };
    EXPECT_EQ(moduleOf(*host).getPin(2)->getValue(), 3.5f);
    const auto &log = host->log();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2].opcode, HOST_OP_GET_BUFFER_START_CLOCK);
    EXPECT_EQ(log[log.size() - 2].index, 2);
    EXPECT_EQ(log.back().opcode, HOST_OP_GET_SAMPLE_CLOCK);
}

// The host's clocks are 32-bit sample counts that wrap; a 64-bit host may hand them over
// sign- or zero-extended. Whatever the extension, every sample of a block must read its own
// element, also when the clock passes 2^31 or wraps past 2^32 inside the block.
struct ClockCase {
    const char *name;
    uint32_t bufferStart;
    bool signExtended;
};

TEST_F(PinsAndEvents, GetValueTakesTheClocksAsWrapping32BitCounts) {
    constexpr int32_t kBlock = 64;
    const ClockCase cases[] = {
        {"start at 0", 0u, false},
        {"start below 2^31, zero-extended", 0x7FFFFFE0u, false},
        {"start below 2^31, sign-extended", 0x7FFFFFE0u, true},
        {"start below 2^32, zero-extended", 0xFFFFFFE0u, false},
        {"start below 2^32, sign-extended", 0xFFFFFFE0u, true},
        {"start at 2^31 exactly, sign-extended", 0x80000000u, true},
    };
    std::vector<float> buffer(kBlock);
    for (int32_t k = 0; k < kBlock; ++k) buffer[static_cast<size_t>(k)] = 100.0f + k;
    variables[2] = buffer.data();
    SEPin *pin = moduleOf(*host).getPin(2);
    ASSERT_NE(pin, nullptr);

    for (const ClockCase &c : cases) {
        SCOPED_TRACE(c.name);
        const auto extend = [&c](uint32_t clock) {
            return c.signExtended ? static_cast<intptr_t>(static_cast<int32_t>(clock))
                                  : static_cast<intptr_t>(clock);
        };
        for (int32_t k = 0; k < kBlock; ++k) {
            const uint32_t now = c.bufferStart + static_cast<uint32_t>(k); // wraps like the host
            host->answerOverride = [&](const fourwave::host::HostCall &call, intptr_t &answer) {
                if (call.opcode == HOST_OP_GET_BUFFER_START_CLOCK)
                    answer = extend(c.bufferStart);
                else if (call.opcode == HOST_OP_GET_SAMPLE_CLOCK)
                    answer = extend(now);
                else
                    return false;
                return true;
            };
            ASSERT_EQ(pin->getValue(), 100.0f + k) << "sample " << k;
        }
    }
}

TEST_F(PinsAndEvents, PinSendsAndQueryCarryThePinNumber) {
    SEPin *pin = moduleOf(*host).getPin(5);
    host->clearLog();
    pin->sendState(77, STATE_RUNNING);
    pin->sendStateAlternate(78, STATE_ONE_OFF);
    host->answerOverride = [](const fourwave::host::HostCall &call, intptr_t &answer) {
        answer = call.opcode == HOST_OP_QUERY_PIN ? 9 : 0;
        return call.opcode == HOST_OP_QUERY_PIN;
    };
    EXPECT_TRUE(pin->queryHost());
    const auto &log = host->log();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].opcode, HOST_OP_SEND_STATE);
    EXPECT_EQ(log[0].index, 5);
    EXPECT_EQ(log[0].value, STATE_RUNNING);
    EXPECT_EQ(log[0].pointer, 77);
    EXPECT_EQ(log[1].opcode, HOST_OP_SEND_STATE_ALTERNATE);
    EXPECT_EQ(log[1].pointer, 78);
    EXPECT_EQ(log[2].opcode, HOST_OP_QUERY_PIN);
    EXPECT_EQ(log[2].index, 5);
    EXPECT_EQ(host->outputState(5), STATE_RUNNING);
}
