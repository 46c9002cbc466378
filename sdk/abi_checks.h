/*
 * Layout assertions for every record of abi.h: the exact offset of every field and the size of
 * every record, on 32-bit targets (the contract's words) and on x86-64 (the same fields in the
 * same order, addresses and entries pointer-sized, natural alignment).
 * Included by the layer's sources so that a build for any target fails on a layout slip.
 */
#pragma once

#include <stddef.h>

#include "abi.h"

#ifdef __cplusplus
#define SE_STATIC_ASSERT static_assert
#else
#define SE_STATIC_ASSERT _Static_assert
#endif

SE_STATIC_ASSERT(SE_MODULE_RECORD_MAGIC == 0x5345504Cu, "'SEPL'");
SE_STATIC_ASSERT(SE_GUI_RECORD_MAGIC == 0x5345504Du, "'SEPM'");
SE_STATIC_ASSERT(sizeof(float) == 4, "plug values are 32-bit floats");

/* Each field's offset and each record's size, as (32-bit, x86-64). On x86-64 both conventions
 * (LP64 and LLP64) give the second column: only addresses and entries are 8 bytes, every other
 * field is a 32-bit word, and each field sits at its natural alignment (a word before an
 * address leaves 4 bytes of padding). */
#if UINTPTR_MAX == 0xFFFFFFFFu
SE_STATIC_ASSERT(sizeof(void *) == 4 && sizeof(intptr_t) == 4, "32-bit target");
#define SE_LAYOUT(bits32, bits64) (bits32)
#elif UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu
SE_STATIC_ASSERT(sizeof(void *) == 8 && sizeof(intptr_t) == 8, "64-bit target");
#define SE_LAYOUT(bits32, bits64) (bits64)
#else
#error "abi.h's layouts are checked for 32-bit and 64-bit targets only"
#endif
#define SE_OFFSET(record, field, at32, at64) \
    SE_STATIC_ASSERT(offsetof(record, field) == SE_LAYOUT(at32, at64), #record "." #field)
#define SE_SIZE(record, size32, size64) \
    SE_STATIC_ASSERT(sizeof(record) == SE_LAYOUT(size32, size64), #record " size")

SE_OFFSET(ModuleProperties, name, 0, 0);
SE_OFFSET(ModuleProperties, description, 4, 8);
SE_OFFSET(ModuleProperties, about, 8, 16);
SE_OFFSET(ModuleProperties, reserved12, 12, 24);
SE_OFFSET(ModuleProperties, reserved16, 16, 28);
SE_OFFSET(ModuleProperties, interfaceRevision, 20, 32);
SE_SIZE(ModuleProperties, 24, 40);

SE_OFFSET(BindingRecord, magic, 0, 0);
SE_OFFSET(BindingRecord, recordVersion, 4, 4);
SE_OFFSET(BindingRecord, hostData, 8, 8);
SE_OFFSET(BindingRecord, object, 12, 16);
SE_OFFSET(BindingRecord, reserved16, 16, 24);
SE_OFFSET(BindingRecord, dispatcher, 20, 32);
SE_OFFSET(BindingRecord, process, 24, 40);
SE_OFFSET(BindingRecord, eventHandler, 28, 48);
SE_OFFSET(BindingRecord, reserved32, 32, 56);
SE_SIZE(BindingRecord, 48, 72);

SE_OFFSET(PlugDescription, variable, 0, 0);
SE_OFFSET(PlugDescription, direction, 4, 8);
SE_OFFSET(PlugDescription, datatype, 8, 12);
SE_OFFSET(PlugDescription, name, 12, 16);
SE_OFFSET(PlugDescription, defaultText, 16, 24);
SE_OFFSET(PlugDescription, listText, 20, 32);
SE_OFFSET(PlugDescription, flags, 24, 40);
SE_OFFSET(PlugDescription, reserved28, 28, 44);
SE_SIZE(PlugDescription, 32, 48);

SE_OFFSET(HostEvent, timeStamp, 0, 0);
SE_OFFSET(HostEvent, type, 4, 4);
SE_OFFSET(HostEvent, intValue, 8, 8);
SE_OFFSET(HostEvent, extra, 12, 12);
SE_OFFSET(HostEvent, pointer, 16, 16);
SE_OFFSET(HostEvent, link, 20, 24);
SE_SIZE(HostEvent, 24, 32);

SE_OFFSET(ProcessDescriptor, routine, 0, 0);
SE_OFFSET(ProcessDescriptor, word1, 4, 8);
SE_OFFSET(ProcessDescriptor, word2, 8, 12);
SE_OFFSET(ProcessDescriptor, word3, 12, 16);
SE_SIZE(ProcessDescriptor, 16, 24);

SE_OFFSET(ProcessRoutineInfo, one, 0, 0);
SE_OFFSET(ProcessRoutineInfo, descriptorSize, 4, 4);
SE_OFFSET(ProcessRoutineInfo, descriptor, 8, 8);
SE_OFFSET(ProcessRoutineInfo, zero, 12, 16);
SE_SIZE(ProcessRoutineInfo, 16, 24);

SE_OFFSET(GuiBindingRecord, magic, 0, 0);
SE_OFFSET(GuiBindingRecord, recordVersion, 4, 4);
SE_OFFSET(GuiBindingRecord, dispatcher, 8, 8);
SE_OFFSET(GuiBindingRecord, hostData, 12, 16);
SE_OFFSET(GuiBindingRecord, object, 16, 24);
SE_OFFSET(GuiBindingRecord, reserved20, 20, 32);
SE_SIZE(GuiBindingRecord, 40, 56);

#undef SE_OFFSET
#undef SE_SIZE
#undef SE_LAYOUT

/* Whatever the target, every non-address word is 32-bit. */
SE_STATIC_ASSERT(sizeof(((BindingRecord *)0)->magic) == 4, "32-bit words");
SE_STATIC_ASSERT(sizeof(((HostEvent *)0)->timeStamp) == 4, "32-bit words");
SE_STATIC_ASSERT(sizeof(((PlugDescription *)0)->flags) == 4, "32-bit words");
