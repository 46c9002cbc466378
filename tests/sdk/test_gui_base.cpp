// The editor base: its record, its dispatcher and the pin references' host calls.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "sdk/gui_base.h"

namespace {

struct EditorCall {
    void *record;
    int32_t opcode, index, value;
    void *pointer;
    float opt;
};
std::vector<EditorCall> editorCalls;
const char kHostText[] = "host text";
const char16_t kHostWide[] = u"wide";

intptr_t SE_ABI editorCallback(void *record, int32_t opcode, int32_t index, int32_t value,
                               void *pointer, float opt) {
    editorCalls.push_back({record, opcode, index, value, pointer, opt});
    switch (opcode) {
    case EDITOR_OP_READ_VALUE:
        *static_cast<int32_t *>(pointer) = 0x40490FDB; // pi as a float
        return 0x40490FDB;
    case EDITOR_OP_READ_TEXT: return reinterpret_cast<intptr_t>(kHostText);
    case EDITOR_OP_READ_WIDE_TEXT:
        if (pointer != nullptr) std::memcpy(pointer, kHostWide, sizeof kHostWide);
        return 5;
    case 20: return 1;
    default: return 0;
    }
}

struct RecordingEditor : SEGUI_base {
    using SEGUI_base::SEGUI_base;
    std::vector<std::string> calls;
    static int destroyed;
    ~RecordingEditor() override { ++destroyed; }
    void onGuiOp0(bool indexIsOne) override {
        calls.push_back(indexIsOne ? "op0 true" : "op0 false");
    }
    void onGuiOp3(void *, int32_t optBits, int32_t index, int32_t value) override {
        calls.push_back("op3 " + std::to_string(optBits) + " " + std::to_string(index) + " " +
                        std::to_string(value));
    }
    void onGuiOp7(GuiPinRef *pin) override {
        calls.push_back("op7 " + std::to_string(pin->pinNumber) +
                        (pin->editor == this ? " me" : ""));
    }
    bool onGuiOp10() override { return true; }
};
int RecordingEditor::destroyed = 0;

intptr_t dispatch(SEGUI_base &editor, int32_t opcode, int32_t index = 0, int32_t value = 0,
                  float opt = 0.0f) {
    GuiBindingRecord *record = editor.getBindingRecord();
    return record->dispatcher(record, opcode, index, value, nullptr, opt);
}

} // namespace

TEST(GuiBase, FreshRecordReadsMagicVersionDispatcherHostValueObject) {
    SEGUI_base editor(editorCallback, reinterpret_cast<void *>(0x1234));
    const GuiBindingRecord *record = editor.getBindingRecord();
    EXPECT_EQ(record->magic, 0x5345504Du);
    EXPECT_EQ(std::memcmp(record, "MPES", 4), 0);
    EXPECT_EQ(record->recordVersion, 1);
    EXPECT_NE(record->dispatcher, nullptr);
    EXPECT_EQ(record->hostData, reinterpret_cast<void *>(0x1234));
    EXPECT_EQ(record->object, &editor);
    for (int32_t word : record->reserved20) EXPECT_EQ(word, 0);
}

TEST(GuiBase, DispatcherRoutesOpcodesAndAnswersByTheTable) {
    RecordingEditor editor(editorCallback, nullptr);
    EXPECT_EQ(dispatch(editor, 0, 1), 0);
    EXPECT_EQ(dispatch(editor, 0, 2), 0);
    EXPECT_EQ(dispatch(editor, 3, 4, 5, 1.0f), 0);
    EXPECT_EQ(dispatch(editor, 7, 9), 0);
    EXPECT_EQ(dispatch(editor, 10), 1);
    const std::vector<std::string> expected = {"op0 true", "op0 false", "op3 1065353216 4 5",
                                               "op7 9 me"};
    EXPECT_EQ(editor.calls, expected);
    for (int32_t opcode : {13, 100, -1}) EXPECT_EQ(dispatch(editor, opcode), 0);
    EXPECT_EQ(editor.calls.size(), expected.size());
}

TEST(GuiBase, CloseDeletesTheEditor) {
    RecordingEditor::destroyed = 0;
    auto *editor = new RecordingEditor(editorCallback, nullptr);
    EXPECT_EQ(dispatch(*editor, 1), 1);
    EXPECT_EQ(RecordingEditor::destroyed, 1);
}

TEST(GuiBase, PinReferenceIsSharedAndRewrittenByEachGetPin) {
    SEGUI_base first(editorCallback, nullptr), second(editorCallback, nullptr);
    GuiPinRef *a = first.getPin(3);
    GuiPinRef *b = second.getPin(8);
    EXPECT_EQ(a, b);
    EXPECT_EQ(b->pinNumber, 8);
    EXPECT_EQ(b->editor, &second);
}

TEST(GuiBase, PinReferenceReadsAndWritesThroughTheEditorCallback) {
    SEGUI_base editor(editorCallback, nullptr);
    GuiPinRef pin = {4, &editor};
    editorCalls.clear();
    EXPECT_EQ(pin.readInt(), 0x40490FDB);
    EXPECT_FLOAT_EQ(pin.readFloat(), 3.14159265f);
    pin.writeFloat(0.25f);
    pin.writeInt(-3);
    pin.writeText("abc");
    EXPECT_EQ(pin.readText(), "host text");
    EXPECT_EQ(pin.readWideText(), u"wide");
    ASSERT_EQ(editorCalls.size(), 8u);
    EXPECT_EQ(editorCalls[0].opcode, EDITOR_OP_READ_VALUE);
    EXPECT_EQ(editorCalls[0].index, 4);
    EXPECT_EQ(editorCalls[0].record, editor.getBindingRecord());
    EXPECT_EQ(editorCalls[2].opcode, EDITOR_OP_WRITE_VALUE);
    EXPECT_EQ(editorCalls[2].opt, 0.25f);
    EXPECT_EQ(editorCalls[3].value, -3);
    EXPECT_EQ(editorCalls[4].opcode, EDITOR_OP_WRITE_TEXT);
    EXPECT_STREQ(static_cast<const char *>(editorCalls[4].pointer), "abc");
    EXPECT_EQ(editorCalls[6].opcode, EDITOR_OP_READ_WIDE_TEXT);
    EXPECT_EQ(editorCalls[6].pointer, nullptr);
    EXPECT_EQ(editorCalls[7].value, 5);
    EXPECT_NE(editorCalls[7].pointer, nullptr);
}

TEST(GuiBase, EditorRequestsPassTheirArgumentsThrough) {
    SEGUI_base editor(editorCallback, nullptr);
    editorCalls.clear();
    int target = 0;
    editor.request18(&target);
    editor.request19(&target);
    EXPECT_TRUE(editor.query20(&target));
    editor.request8(2, 3, &target);
    ASSERT_EQ(editorCalls.size(), 4u);
    EXPECT_EQ(editorCalls[0].opcode, 18);
    EXPECT_EQ(editorCalls[1].opcode, 19);
    EXPECT_EQ(editorCalls[2].opcode, 20);
    EXPECT_EQ(editorCalls[3].opcode, 8);
    EXPECT_EQ(editorCalls[3].index, 2);
    EXPECT_EQ(editorCalls[3].value, 3);
    for (const auto &call : editorCalls) EXPECT_EQ(call.pointer, &target);
}

TEST(GuiBase, WithoutAnEditorCallbackEveryHostCallAnswersZero) {
    SEGUI_base editor(nullptr, nullptr);
    GuiPinRef pin = {1, &editor};
    EXPECT_EQ(pin.readInt(), 0);
    EXPECT_EQ(pin.readText(), "");
    EXPECT_EQ(pin.readWideText(), u"");
    EXPECT_FALSE(editor.query20(nullptr));
    pin.writeFloat(1.0f);
}
