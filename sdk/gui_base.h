// The base class of a module's editor object, the counterpart of SEModule_base for modules that
// come with an editor: its own host callback and GuiBindingRecord, a dispatcher that turns the
// host's editor requests into virtual operations, and pin references through which an editor
// reads and writes plug values. This library's module has no editor (makeModule refuses every
// object kind but the module), so nothing here is instantiated by the plug-in itself.
#pragma once

#include <stdint.h>

#include <string>

#include "abi.h"

class SEGUI_base;

// A plug of an editor: the pin number and the editor whose callback answers for it. Layout-
// compatible with the ABI's GuiPinRef, whose address the host receives.
class GuiPinRef {
public:
    int32_t pinNumber;
    SEGUI_base *editor;

    int32_t readInt();
    float readFloat();
    void writeFloat(float value);
    void writeInt(int32_t value);
    void writeText(const char *text);
    // Copies the host-owned text; an empty string when the host answers with no text.
    std::string readText();
    // Asks the length (in 16-bit units, terminator included), then the text itself.
    std::u16string readWideText();
};

class SEGUI_base {
public:
    // Stores the callback and fills the record. Makes no host call. A null callback makes
    // every editor host call answer 0.
    SEGUI_base(HostCallback editorCallback, void *hostData);
    SEGUI_base(const SEGUI_base &) = delete;
    SEGUI_base &operator=(const SEGUI_base &) = delete;

    // The virtual operations, in the order of the table of virtual operations.
    virtual ~SEGUI_base();
    // Opcode 1 closes and deletes the object (answers 1); opcode 10 answers onGuiOp10; every
    // other opcode up to 12 answers 0 after its call; higher ones (tested unsigned) do nothing.
    virtual intptr_t dispatch(int32_t opcode, int32_t index, int32_t value, void *pointer,
                              float opt);
    virtual void onGuiOp0(bool indexIsOne);
    virtual void close();
    virtual void onGuiOp2(int32_t index, void *pointer);
    virtual void onGuiOp3(void *pointer, int32_t optBits, int32_t index, int32_t value);
    virtual void onGuiOp4(void *pointer, int32_t optBits, int32_t index, int32_t value);
    virtual void onGuiOp5(void *pointer, int32_t optBits, int32_t index, int32_t value);
    virtual void onGuiOp8(void *pointer);
    virtual void onGuiOp9(void *pointer);
    virtual bool onGuiOp10();
    virtual void onGuiOp11(int32_t index);
    virtual void onGuiOp12(int32_t index);
    virtual void onGuiOp6(int32_t value, int32_t index, void *pointer);
    virtual void onGuiOp7(GuiPinRef *pin);

    // Editor requests to the host; meaning is the host's.
    intptr_t request18(void *pointer);
    intptr_t request19(void *pointer);
    bool query20(void *pointer);
    intptr_t request8(int32_t index, int32_t value, void *pointer);

    // Fills the one process-wide pin reference and returns it: the next call, from any
    // editor, overwrites it.
    GuiPinRef *getPin(int32_t index);

    intptr_t callHost(int32_t opcode, int32_t index, int32_t value, void *pointer, float opt);
    GuiBindingRecord *getBindingRecord() { return &bindingRecord; }

protected:
    HostCallback hostCallback;
    GuiBindingRecord bindingRecord;
};
