// The base class of an audio-processing module object: owns the host callback, the binding
// record the host drives the instance through, the sample rate and block size, the pins and
// the current process routine. It turns dispatcher requests and host events into calls of the
// virtual operations below, whose defaults do nothing; a module class overrides what it needs.
// It knows nothing about what the module computes.
#pragma once

#include <stdint.h>

#include "abi.h"
#include "pin.h"

class SEModule_base {
public:
    // Stores the callback and fills the binding record. Makes no host call.
    SEModule_base(HostCallback hostCallback, void *hostData);
    SEModule_base(const SEModule_base &) = delete;
    SEModule_base &operator=(const SEModule_base &) = delete;

    // The virtual operations, in the order of the table of virtual operations.

    // Reached from dispatcher opcode 1 (after close): destroys the pins.
    virtual ~SEModule_base();
    // A pin's state changed (EVENT_PLUG_STATE); `pin->state` holds the new state meanwhile.
    virtual int32_t onPlugStateChange(SEPin *pin);
    // Routes one host event: EVENT_PLUG_STATE, type 2 and EVENT_CALL; other types are ignored.
    virtual void handleEvent(HostEvent *event);
    // The dispatcher's opcode table; unknown opcodes, negative ones included, answer 0.
    virtual intptr_t dispatch(int32_t opcode, int32_t index, int32_t value, void *pointer,
                              float opt);
    // Dispatcher opcode 0: creates and binds the pins from describePlug.
    virtual void open();
    // Dispatcher opcode 1, just before the instance deletes itself.
    virtual void close();
    virtual void reservedOp(int32_t, int32_t);
    // Dispatcher opcodes 2 and 3: stored only; a module reads them in its open.
    virtual void setSampleRate(float rate);
    virtual void setBlockSize(int32_t size);
    virtual float getSampleRate();
    virtual int32_t getBlockSize();
    // Fills the description of plug `number` and answers true, or false for no such plug.
    virtual bool describePlug(int32_t number, PlugDescription *description);
    virtual bool reservedQueryA(int32_t);
    virtual bool reservedQueryB(int32_t);
    // Dispatcher opcode 8; onOpcode8Index follows when the index is above 0.
    virtual void onOpcode8();
    virtual void onOpcode8Index(int32_t index);
    // Host events of type 2: the time stamp, the value and the low 16 bits of `extra`.
    virtual void onEventType2(int32_t timeStamp, int32_t value, uint16_t extra);
    // Dispatcher opcode 12.
    virtual void onOpcode12(int32_t value, int32_t index, void *pointer);

    // Installs the current process routine. The host hears HOST_OP_PROCESS_ROUTINE_CHANGED
    // exactly when the routine changes; installing the same routine again is silent.
    void setProcessRoutine(ProcessRoutine routine, int32_t word1, int32_t word2, int32_t word3);
    ProcessDescriptor getProcessRoutine() const { return processDescriptor; }

    // The pin with that number, or null when the instance has no such pin or left it unbound.
    SEPin *getPin(int32_t number);
    int32_t getPinCount() const { return pinCount; }

    // Every host call goes through here: answers 0 without calling when there is no callback.
    // Inline, with getSampleClock and SEPin::getValue, so that the per-sample pin read of a
    // process routine compiles to the two callback calls themselves.
    intptr_t callHost(int32_t opcode, int32_t index, int32_t value, void *pointer, float opt) {
        if (hostCallback == nullptr) return 0;
        return hostCallback(&bindingRecord, opcode, index, value, pointer, opt);
    }
    int32_t getSampleClock() {
        return static_cast<int32_t>(callHost(HOST_OP_GET_SAMPLE_CLOCK, 0, 0, nullptr, 0.0f));
    }

    // Queues an event with the host (HOST_OP_ADD_EVENT); the host copies it during the call.
    intptr_t addEvent(int32_t timeStamp, int32_t type, int32_t intValue, int32_t extra,
                      void *pointer);
    // Queues an EVENT_CALL: when delivered, `routine` runs on this instance.
    intptr_t addCallEvent(int32_t timeStamp, ModuleCallRoutine routine);

    BindingRecord *getBindingRecord() { return &bindingRecord; }
    // The instance that owns a binding record (for the entry functions).
    static SEModule_base *fromObject(void *object) { return static_cast<SEModule_base *>(object); }

protected:
    HostCallback hostCallback;
    BindingRecord bindingRecord;
    float sampleRate;
    int32_t blockSize;
    SEPin *pins;
    int32_t pinCount;
    ProcessDescriptor processDescriptor;

private:
    void releasePins();
    void createPins(int32_t count);
};

// SEPin::getValue needs the owner's callHost, so it is defined here, after the class.
inline float SEPin::getValue() {
    const float *const *bufferAddress = static_cast<const float *const *>(storage);
    if (bufferAddress == nullptr || *bufferAddress == nullptr) return 0.0f;
    // Clocks are 32-bit sample counts that wrap. A 64-bit host may sign- or zero-extend its
    // answers, so only their low 32 bits count, and the offset is their difference in 32-bit
    // wrapping arithmetic: the same element on every target, also once the clock passes 2^31.
    const uint32_t bufferStart = static_cast<uint32_t>(
        module->callHost(HOST_OP_GET_BUFFER_START_CLOCK, number, 0, nullptr, 0.0f));
    const uint32_t now = static_cast<uint32_t>(module->getSampleClock());
    // The host keeps (now - bufferStart) inside the buffer for the whole of a process call.
    return (*bufferAddress)[static_cast<int32_t>(now - bufferStart)];
}
