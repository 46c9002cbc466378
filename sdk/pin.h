// One plug of an instance as the module sees it: the plug's number, where its value lives, and
// the host calls that belong to a single plug (state sends, the audio value at the host's
// sample clock). Pins are created and bound once, by SEModule_base::open, from the module's
// plug descriptions; they do not copy plug values, which the host writes into the module's
// variables itself.
#pragma once

#include <stdint.h>

#include "abi.h"

class SEModule_base;

class SEPin {
public:
    SEPin() = default;
    SEPin(const SEPin &) = delete;
    SEPin &operator=(const SEPin &) = delete;
    virtual ~SEPin() = default;

    // Binds the pin. With a variable the value lives there; without one the pin gets internal
    // storage of its datatype (a DT_AUDIO pin asks the host for its buffer address, once).
    void setup(SEModule_base *owner, int32_t pinNumber, int32_t pinDatatype, void *variable);

    // Tells the host this output's new STATE_* from the given sample clock on.
    intptr_t sendState(intptr_t timeStamp, int32_t newState);
    // The same message under the host's opcode 4; nothing in this module uses it.
    intptr_t sendStateAlternate(intptr_t timeStamp, int32_t newState);
    // Asks the host opcode 1 about this pin; true when it answers non-zero. Unused here.
    bool queryHost();

    // Runs the owner's onPlugStateChange with `state` visible on this pin; a STATE_ONE_OFF
    // pin reads STATE_STATIC again once the notification has returned.
    int32_t notifyStateChange(int32_t newState);

    // The DT_AUDIO value at the host's current sample clock: element (clock - buffer start)
    // of the buffer whose address the pin's storage holds. Two host calls, nothing cached.
    // A pin without a bound buffer reads 0.0. Defined inline in module_base.h (it needs the
    // owner's callHost), so that a sample loop that reads a pin has no call of its own to pay.
    inline float getValue();

    void *storage = nullptr;         // the module's variable, &internalValue, or null
    SEModule_base *module = nullptr; // the owning instance
    int32_t number = 0;              // pin number = plug number used with the host
    int32_t state = 0;               // the state being notified while onPlugStateChange runs
    int32_t datatype = 0;            // DT_*

    // Storage for a pin whose description names no variable. Pointer-sized because a DT_AUDIO
    // pin keeps a buffer address in it.
    union InternalValue {
        intptr_t word;
        void *address;
        float floatValue;
        int32_t intValue;
        int16_t choice;
        int8_t boolValue;
    } internalValue = {0};
};
