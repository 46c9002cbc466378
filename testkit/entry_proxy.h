// A plug-in's two entries with every call into the plug-in passed through a host of the test's
// own: getModuleProperties, makeModule, and each instance's dispatcher, process routine and
// event handler. The stand-in host is handed a binding record of the proxy's whose three entries
// forward to the instance's, and the instance is given the test's host callback, which forwards
// to the stand-in host's. The platform hosts use it to call the plug-in in a floating-point
// environment, or on a stack, of their choosing.
//
// `Calls` supplies, as static members:
//   template <class R, class F, class... A> R call(const char *entry, F function, A... arguments)
//       calls `function(arguments...)` the test's way; `entry` names it for reports
//   intptr_t SE_ABI hostCallback(void *, int32_t, int32_t, int32_t, void *, float)
//       what the instance calls; forwards to EntryProxy<Calls>::standInCallback
// One proxy per `Calls`: the entries are process-wide, as the plug-in's are.
#pragma once

#include <stdint.h>

#include "host/host.h"
#include "sdk/abi.h"

namespace fourwave::test {

template <class Calls>
class EntryProxy {
public:
    // The proxy's entries for the plug-in's `entries`.
    static host::PluginEntries wrap(const host::PluginEntries &entries) {
        plugin_ = entries;
        return {getModuleProperties, makeModule};
    }
    // The stand-in host's callback, given to the last instance made.
    static inline HostCallback standInCallback = nullptr;

private:
    struct ProxyRecord {
        BindingRecord record; // first, so that the record's address is the proxy's
        BindingRecord *instance;
    };
    static BindingRecord *instanceOf(void *address) {
        return static_cast<ProxyRecord *>(address)->instance;
    }

    static intptr_t SE_ABI dispatcher(BindingRecord *record, int32_t opcode, int32_t index,
                                      int32_t value, void *pointer, float opt) {
        BindingRecord *instance = instanceOf(record);
        const intptr_t result = Calls::template call<intptr_t>(
            "the dispatcher", instance->dispatcher, instance, opcode, index, value, pointer, opt);
        if (opcode == MODULE_OP_CLOSE) delete reinterpret_cast<ProxyRecord *>(record);
        return result;
    }
    static int32_t SE_ABI process(void *object, int32_t blockOffset, int32_t sampleCount) {
        BindingRecord *instance = instanceOf(object);
        return Calls::template call<int32_t>("process", instance->process, instance->object,
                                             blockOffset, sampleCount);
    }
    static void SE_ABI eventHandler(void *object, HostEvent *event) {
        BindingRecord *instance = instanceOf(object);
        Calls::template call<void>("the event handler", instance->eventHandler, instance->object,
                                   event);
    }
    static int32_t SE_ABI getModuleProperties(int32_t index, ModuleProperties *properties) {
        return Calls::template call<int32_t>("getModuleProperties", plugin_.getModuleProperties,
                                             index, properties);
    }
    static BindingRecord *SE_ABI makeModule(int32_t index, int32_t objectKind,
                                            HostCallback callback, void *hostData) {
        standInCallback = callback;
        const HostCallback passed = callback != nullptr ? Calls::hostCallback : nullptr;
        BindingRecord *instance = Calls::template call<BindingRecord *>(
            "makeModule", plugin_.makeModule, index, objectKind, passed, hostData);
        if (instance == nullptr) return nullptr;
        auto *proxy = new ProxyRecord{*instance, instance};
        proxy->record.object = proxy;
        proxy->record.dispatcher = dispatcher;
        proxy->record.process = process;
        proxy->record.eventHandler = eventHandler;
        return &proxy->record;
    }

    static inline host::PluginEntries plugin_;
};

} // namespace fourwave::test
