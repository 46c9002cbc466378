// SEGUI_base: the editor record, its dispatcher and the pin references' host calls.
#include "gui_base.h"

#include <cstddef>
#include <cstring>
#include <vector>

#include "abi_checks.h"

// The host receives GuiPinRef addresses: two words, the pin number then the editor.
static_assert(offsetof(GuiPinRef, pinNumber) == 0, "GuiPinRef.pinNumber");
static_assert(offsetof(GuiPinRef, editor) == sizeof(void *), "GuiPinRef.editor");
static_assert(sizeof(GuiPinRef) == 2 * sizeof(void *), "GuiPinRef size");

namespace {

GuiPinRef sharedPinRef;

extern "C" intptr_t SE_ABI guiDispatcherEntry(GuiBindingRecord *record, int32_t opcode,
                                              int32_t index, int32_t value, void *pointer,
                                              float opt) {
    return static_cast<SEGUI_base *>(record->object)->dispatch(opcode, index, value, pointer, opt);
}

int32_t bitsOf(float value) {
    int32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

} // namespace

SEGUI_base::SEGUI_base(HostCallback editorCallback, void *hostData)
    : hostCallback(editorCallback), bindingRecord() {
    bindingRecord.magic = SE_GUI_RECORD_MAGIC;
    bindingRecord.recordVersion = SE_RECORD_VERSION;
    bindingRecord.dispatcher = guiDispatcherEntry;
    bindingRecord.hostData = hostData;
    bindingRecord.object = this;
}

SEGUI_base::~SEGUI_base() = default;

intptr_t SEGUI_base::dispatch(int32_t opcode, int32_t index, int32_t value, void *pointer,
                              float opt) {
    switch (static_cast<uint32_t>(opcode)) {
    case 0: onGuiOp0(index == 1); return 0;
    case 1:
        close();
        delete this;
        return 1;
    case 2: onGuiOp2(index, pointer); return 0;
    case 3: onGuiOp3(pointer, bitsOf(opt), index, value); return 0;
    case 4: onGuiOp4(pointer, bitsOf(opt), index, value); return 0;
    case 5: onGuiOp5(pointer, bitsOf(opt), index, value); return 0;
    case 6: onGuiOp6(value, index, pointer); return 0;
    case 7: {
        GuiPinRef pin = {index, this};
        onGuiOp7(&pin);
        return 0;
    }
    case 8: onGuiOp8(pointer); return 0;
    case 9: onGuiOp9(pointer); return 0;
    case 10: return onGuiOp10() ? 1 : 0;
    case 11: onGuiOp11(index); return 0;
    case 12: onGuiOp12(index); return 0;
    default: return 0;
    }
}

void SEGUI_base::onGuiOp0(bool) {}
void SEGUI_base::close() {}
void SEGUI_base::onGuiOp2(int32_t, void *) {}
void SEGUI_base::onGuiOp3(void *, int32_t, int32_t, int32_t) {}
void SEGUI_base::onGuiOp4(void *, int32_t, int32_t, int32_t) {}
void SEGUI_base::onGuiOp5(void *, int32_t, int32_t, int32_t) {}
void SEGUI_base::onGuiOp8(void *) {}
void SEGUI_base::onGuiOp9(void *) {}
bool SEGUI_base::onGuiOp10() { return false; }
void SEGUI_base::onGuiOp11(int32_t) {}
void SEGUI_base::onGuiOp12(int32_t) {}
void SEGUI_base::onGuiOp6(int32_t, int32_t, void *) {}
void SEGUI_base::onGuiOp7(GuiPinRef *) {}

intptr_t SEGUI_base::callHost(int32_t opcode, int32_t index, int32_t value, void *pointer,
                              float opt) {
    if (hostCallback == nullptr) return 0;
    return hostCallback(&bindingRecord, opcode, index, value, pointer, opt);
}

intptr_t SEGUI_base::request18(void *pointer) { return callHost(18, 0, 0, pointer, 0.0f); }
intptr_t SEGUI_base::request19(void *pointer) { return callHost(19, 0, 0, pointer, 0.0f); }
bool SEGUI_base::query20(void *pointer) { return callHost(20, 0, 0, pointer, 0.0f) != 0; }
intptr_t SEGUI_base::request8(int32_t index, int32_t value, void *pointer) {
    return callHost(8, index, value, pointer, 0.0f);
}

GuiPinRef *SEGUI_base::getPin(int32_t index) {
    sharedPinRef.pinNumber = index;
    sharedPinRef.editor = this;
    return &sharedPinRef;
}

int32_t GuiPinRef::readInt() {
    int32_t result = 0;
    editor->callHost(EDITOR_OP_READ_VALUE, pinNumber, 0, &result, 0.0f);
    return result;
}

float GuiPinRef::readFloat() {
    int32_t bits = readInt();
    float result;
    std::memcpy(&result, &bits, sizeof result);
    return result;
}

void GuiPinRef::writeFloat(float value) {
    editor->callHost(EDITOR_OP_WRITE_VALUE, pinNumber, 0, nullptr, value);
}

void GuiPinRef::writeInt(int32_t value) {
    editor->callHost(EDITOR_OP_WRITE_VALUE, pinNumber, value, nullptr, 0.0f);
}

void GuiPinRef::writeText(const char *text) {
    editor->callHost(EDITOR_OP_WRITE_TEXT, pinNumber, 0, const_cast<char *>(text), 0.0f);
}

std::string GuiPinRef::readText() {
    const intptr_t address = editor->callHost(EDITOR_OP_READ_TEXT, pinNumber, 0, nullptr, 0.0f);
    const char *text = reinterpret_cast<const char *>(address);
    return text != nullptr ? std::string(text) : std::string();
}

std::u16string GuiPinRef::readWideText() {
    const intptr_t length = editor->callHost(EDITOR_OP_READ_WIDE_TEXT, pinNumber, 0, nullptr, 0.0f);
    if (length <= 0) return std::u16string();
    std::vector<char16_t> buffer(static_cast<size_t>(length), u'\0');
    editor->callHost(EDITOR_OP_READ_WIDE_TEXT, pinNumber, static_cast<int32_t>(length),
                     buffer.data(), 0.0f);
    buffer.back() = u'\0'; // the text ends within the buffer whatever the host wrote
    return std::u16string(buffer.data());
}
