// SEPin: binding, the host calls of one plug, and the state-change notification.
#include "pin.h"

#include "module_base.h"

void SEPin::setup(SEModule_base *owner, int32_t pinNumber, int32_t pinDatatype, void *variable) {
    module = owner;
    number = pinNumber;
    datatype = pinDatatype;
    storage = variable;
    state = STATE_STATIC;
    internalValue.word = 0;
    if (variable != nullptr) return;

    switch (pinDatatype) {
    case DT_ENUM: internalValue.choice = 0; break;
    case DT_BOOL: internalValue.boolValue = 0; break;
    case DT_AUDIO:
        // Asked once, at open, and not refreshed.
        internalValue.word = owner->callHost(HOST_OP_GET_BUFFER_ADDRESS, number, 0, nullptr, 0.0f);
        break;
    case DT_FLOAT: internalValue.floatValue = 0.0f; break;
    case DT_INT: internalValue.intValue = 0; break;
    default: return; // no storage of its own: such a pin serves only plugs the module never reads
    }
    storage = &internalValue;
}

intptr_t SEPin::sendState(intptr_t timeStamp, int32_t newState) {
    return module->callHost(HOST_OP_SEND_STATE, number, newState,
                            reinterpret_cast<void *>(timeStamp), 0.0f);
}

intptr_t SEPin::sendStateAlternate(intptr_t timeStamp, int32_t newState) {
    return module->callHost(HOST_OP_SEND_STATE_ALTERNATE, number, newState,
                            reinterpret_cast<void *>(timeStamp), 0.0f);
}

bool SEPin::queryHost() {
    return module->callHost(HOST_OP_QUERY_PIN, number, 0, nullptr, 0.0f) != 0;
}

int32_t SEPin::notifyStateChange(int32_t newState) {
    state = newState;
    const int32_t result = module->onPlugStateChange(this);
    if (newState == STATE_ONE_OFF) state = STATE_STATIC;
    return result;
}
