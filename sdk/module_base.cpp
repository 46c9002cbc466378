// SEModule_base: the binding record's three entries, the dispatcher, pin creation and event
// routing. All casting between the host's view (records, integers) and the object lives here.
#include "module_base.h"

#include <new>

#include "abi_checks.h"
#include "fp_environment.h"

namespace {

// Shared by all instances and rewritten by every opcode-13 request, whichever instance asks:
// the host reads it before it asks again.
ProcessRoutineInfo processRoutineInfo;

extern "C" intptr_t SE_ABI dispatcherEntry(BindingRecord *record, int32_t opcode, int32_t index,
                                           int32_t value, void *pointer, float opt) {
    const FloatEnvironmentGuard environment;
    return SEModule_base::fromObject(record->object)->dispatch(opcode, index, value, pointer, opt);
}

extern "C" void SE_ABI eventHandlerEntry(void *object, HostEvent *event) {
    const FloatEnvironmentGuard environment;
    SEModule_base::fromObject(object)->handleEvent(event);
}

// Installed until open chooses a routine: a host that processes early gets no effect.
extern "C" int32_t SE_ABI emptyRoutine(void *, int32_t, int32_t) { return 0; }

bool producesPin(int32_t flags) { return !(flags & PLUG_SKIP_PIN) || (flags & PLUG_KEEP_PIN); }

} // namespace

SEModule_base::SEModule_base(HostCallback callback, void *hostData)
    : hostCallback(callback), bindingRecord(), sampleRate(44100.0f), blockSize(1024), pins(nullptr),
      pinCount(0), processDescriptor{emptyRoutine, 0, 0, 0} {
    bindingRecord.magic = SE_MODULE_RECORD_MAGIC;
    bindingRecord.recordVersion = SE_RECORD_VERSION;
    bindingRecord.hostData = hostData;
    bindingRecord.object = this;
    bindingRecord.dispatcher = dispatcherEntry;
    bindingRecord.process = processDescriptor.routine;
    bindingRecord.eventHandler = eventHandlerEntry;
}

SEModule_base::~SEModule_base() { releasePins(); }

int32_t SEModule_base::onPlugStateChange(SEPin *) { return 0; }

void SEModule_base::handleEvent(HostEvent *event) {
    if (event == nullptr) return;
    switch (event->type) {
    case EVENT_PLUG_STATE: {
        // A pin number outside the pin array, or of a pin never bound, is a host slip;
        // ignore it rather than crash.
        const intptr_t number = reinterpret_cast<intptr_t>(event->pointer);
        if (number < 0 || number >= pinCount) return;
        if (SEPin *pin = getPin(static_cast<int32_t>(number)))
            pin->notifyStateChange(event->intValue);
        return;
    }
    case EVENT_TYPE_2:
        onEventType2(event->timeStamp, event->intValue, static_cast<uint16_t>(event->extra));
        return;
    case EVENT_CALL:
        if (event->pointer != nullptr) reinterpret_cast<ModuleCallRoutine>(event->pointer)(this);
        return;
    default: return;
    }
}

intptr_t SEModule_base::dispatch(int32_t opcode, int32_t index, int32_t value, void *pointer,
                                 float opt) {
    // Tested unsigned, so negative opcodes fall through to the default.
    switch (static_cast<uint32_t>(opcode)) {
    case MODULE_OP_OPEN: open(); return 0;
    case MODULE_OP_CLOSE:
        close();
        delete this;
        return 1;
    case MODULE_OP_SET_SAMPLE_RATE: setSampleRate(opt); return 0;
    case MODULE_OP_SET_BLOCK_SIZE: setBlockSize(value); return 0;
    case MODULE_OP_DESCRIBE_PLUG:
        // The host's record is passed on as it is, not cleared; a missing record is no plug.
        if (pointer == nullptr) return 0;
        return describePlug(index, static_cast<PlugDescription *>(pointer)) ? 1 : 0;
    case MODULE_OP_8:
        onOpcode8();
        if (index > 0) onOpcode8Index(index);
        return 0;
    case MODULE_OP_12: onOpcode12(value, index, pointer); return 0;
    case MODULE_OP_PROCESS_ROUTINE_INFO:
        processRoutineInfo.one = 1;
        processRoutineInfo.descriptorSize = static_cast<int32_t>(sizeof(ProcessDescriptor));
        processRoutineInfo.descriptor = &processDescriptor;
        processRoutineInfo.zero = 0;
        return reinterpret_cast<intptr_t>(&processRoutineInfo);
    default: return 0;
    }
}

void SEModule_base::open() {
    // A second open replaces the pins of the first instead of leaking them.
    releasePins();
    const intptr_t count = callHost(HOST_OP_GET_PIN_COUNT, 0, 0, nullptr, 0.0f);
    createPins(count > INT32_MAX ? INT32_MAX : static_cast<int32_t>(count));

    PlugDescription description = {};
    int32_t descriptionNumber = 0;
    int32_t pinNumber = 0;
    if (describePlug(0, &description)) {
        while (pinNumber < pinCount) {
            if (producesPin(description.flags)) {
                pins[pinNumber].setup(this, pinNumber, description.datatype, description.variable);
                ++pinNumber;
            }
            description = PlugDescription{};
            ++descriptionNumber;
            if (!describePlug(descriptionNumber, &description)) break;
        }
    }

    // The last description decides whether further host pins are bound, with its datatype.
    description = PlugDescription{};
    describePlug(descriptionNumber - 1, &description);
    if (!producesPin(description.flags) || !(description.flags & PLUG_REPEAT_LAST)) return;
    for (; pinNumber < pinCount; ++pinNumber)
        pins[pinNumber].setup(this, pinNumber, description.datatype, nullptr);
}

void SEModule_base::close() {}
void SEModule_base::reservedOp(int32_t, int32_t) {}
void SEModule_base::setSampleRate(float rate) { sampleRate = rate; }
void SEModule_base::setBlockSize(int32_t size) { blockSize = size; }
float SEModule_base::getSampleRate() { return sampleRate; }
int32_t SEModule_base::getBlockSize() { return blockSize; }
bool SEModule_base::describePlug(int32_t, PlugDescription *) { return false; }
bool SEModule_base::reservedQueryA(int32_t) { return false; }
bool SEModule_base::reservedQueryB(int32_t) { return false; }
void SEModule_base::onOpcode8() {}
void SEModule_base::onOpcode8Index(int32_t) {}
void SEModule_base::onEventType2(int32_t, int32_t, uint16_t) {}
void SEModule_base::onOpcode12(int32_t, int32_t, void *) {}

void SEModule_base::setProcessRoutine(ProcessRoutine routine, int32_t word1, int32_t word2,
                                      int32_t word3) {
    const ProcessDescriptor &current = processDescriptor;
    if (routine == current.routine &&
        (current.routine == nullptr ||
         (word1 == current.word1 && word2 == current.word2 && word3 == current.word3)))
        return;
    processDescriptor = ProcessDescriptor{routine, word1, word2, word3};
    bindingRecord.process = routine;
    if (hostCallback != nullptr) callHost(HOST_OP_PROCESS_ROUTINE_CHANGED, 0, 0, nullptr, 0.0f);
}

SEPin *SEModule_base::getPin(int32_t number) {
    if (number < 0 || number >= pinCount) return nullptr;
    // Pins beyond the described plugs stay unbound when the last description does not repeat.
    SEPin *pin = &pins[number];
    return pin->module != nullptr ? pin : nullptr;
}

intptr_t SEModule_base::addEvent(int32_t timeStamp, int32_t type, int32_t intValue, int32_t extra,
                                 void *pointer) {
    HostEvent event = {timeStamp, type, intValue, extra, pointer, nullptr};
    return callHost(HOST_OP_ADD_EVENT, 0, 0, &event, 0.0f);
}

intptr_t SEModule_base::addCallEvent(int32_t timeStamp, ModuleCallRoutine routine) {
    return addEvent(timeStamp, EVENT_CALL, 0, 0, reinterpret_cast<void *>(routine));
}

void SEModule_base::createPins(int32_t count) {
    if (count <= 0) return;
    // A failed allocation leaves the instance without pins: it opens, but its pins read as
    // missing, which every caller of getPin tolerates.
    pins = new (std::nothrow) SEPin[static_cast<size_t>(count)];
    pinCount = pins != nullptr ? count : 0;
}

void SEModule_base::releasePins() {
    delete[] pins;
    pins = nullptr;
    pinCount = 0;
}
