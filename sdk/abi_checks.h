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

#if UINTPTR_MAX == 0xFFFFFFFFu

SE_STATIC_ASSERT(sizeof(void *) == 4 && sizeof(intptr_t) == 4, "32-bit target");

SE_STATIC_ASSERT(offsetof(ModuleProperties, name) == 0, "ModuleProperties.name");
SE_STATIC_ASSERT(offsetof(ModuleProperties, description) == 4, "ModuleProperties.description");
SE_STATIC_ASSERT(offsetof(ModuleProperties, about) == 8, "ModuleProperties.about");
SE_STATIC_ASSERT(offsetof(ModuleProperties, reserved12) == 12, "ModuleProperties word 12");
SE_STATIC_ASSERT(offsetof(ModuleProperties, reserved16) == 16, "ModuleProperties word 16");
SE_STATIC_ASSERT(offsetof(ModuleProperties, interfaceRevision) == 20, "interfaceRevision");
SE_STATIC_ASSERT(sizeof(ModuleProperties) == 24, "ModuleProperties size");

SE_STATIC_ASSERT(offsetof(BindingRecord, magic) == 0, "BindingRecord.magic");
SE_STATIC_ASSERT(offsetof(BindingRecord, recordVersion) == 4, "BindingRecord.recordVersion");
SE_STATIC_ASSERT(offsetof(BindingRecord, hostData) == 8, "BindingRecord.hostData");
SE_STATIC_ASSERT(offsetof(BindingRecord, object) == 12, "BindingRecord.object");
SE_STATIC_ASSERT(offsetof(BindingRecord, reserved16) == 16, "BindingRecord word 16");
SE_STATIC_ASSERT(offsetof(BindingRecord, dispatcher) == 20, "BindingRecord.dispatcher");
SE_STATIC_ASSERT(offsetof(BindingRecord, process) == 24, "BindingRecord.process");
SE_STATIC_ASSERT(offsetof(BindingRecord, eventHandler) == 28, "BindingRecord.eventHandler");
SE_STATIC_ASSERT(offsetof(BindingRecord, reserved32) == 32, "BindingRecord words 32-47");
SE_STATIC_ASSERT(sizeof(BindingRecord) == 48, "BindingRecord size");

SE_STATIC_ASSERT(offsetof(PlugDescription, variable) == 0, "PlugDescription.variable");
SE_STATIC_ASSERT(offsetof(PlugDescription, direction) == 4, "PlugDescription.direction");
SE_STATIC_ASSERT(offsetof(PlugDescription, datatype) == 8, "PlugDescription.datatype");
SE_STATIC_ASSERT(offsetof(PlugDescription, name) == 12, "PlugDescription.name");
SE_STATIC_ASSERT(offsetof(PlugDescription, defaultText) == 16, "PlugDescription.defaultText");
SE_STATIC_ASSERT(offsetof(PlugDescription, listText) == 20, "PlugDescription.listText");
SE_STATIC_ASSERT(offsetof(PlugDescription, flags) == 24, "PlugDescription.flags");
SE_STATIC_ASSERT(offsetof(PlugDescription, reserved28) == 28, "PlugDescription word 28");
SE_STATIC_ASSERT(sizeof(PlugDescription) == 32, "PlugDescription size");

SE_STATIC_ASSERT(offsetof(HostEvent, timeStamp) == 0, "HostEvent.timeStamp");
SE_STATIC_ASSERT(offsetof(HostEvent, type) == 4, "HostEvent.type");
SE_STATIC_ASSERT(offsetof(HostEvent, intValue) == 8, "HostEvent.intValue");
SE_STATIC_ASSERT(offsetof(HostEvent, extra) == 12, "HostEvent.extra");
SE_STATIC_ASSERT(offsetof(HostEvent, pointer) == 16, "HostEvent.pointer");
SE_STATIC_ASSERT(offsetof(HostEvent, link) == 20, "HostEvent.link");
SE_STATIC_ASSERT(sizeof(HostEvent) == 24, "HostEvent size");

SE_STATIC_ASSERT(offsetof(ProcessDescriptor, routine) == 0, "ProcessDescriptor.routine");
SE_STATIC_ASSERT(offsetof(ProcessDescriptor, word1) == 4, "ProcessDescriptor.word1");
SE_STATIC_ASSERT(offsetof(ProcessDescriptor, word2) == 8, "ProcessDescriptor.word2");
SE_STATIC_ASSERT(offsetof(ProcessDescriptor, word3) == 12, "ProcessDescriptor.word3");
SE_STATIC_ASSERT(sizeof(ProcessDescriptor) == 16, "ProcessDescriptor size");

SE_STATIC_ASSERT(offsetof(ProcessRoutineInfo, one) == 0, "ProcessRoutineInfo word 0");
SE_STATIC_ASSERT(offsetof(ProcessRoutineInfo, descriptorSize) == 4, "ProcessRoutineInfo word 4");
SE_STATIC_ASSERT(offsetof(ProcessRoutineInfo, descriptor) == 8, "ProcessRoutineInfo word 8");
SE_STATIC_ASSERT(offsetof(ProcessRoutineInfo, zero) == 12, "ProcessRoutineInfo word 12");
SE_STATIC_ASSERT(sizeof(ProcessRoutineInfo) == 16, "ProcessRoutineInfo size");

SE_STATIC_ASSERT(offsetof(GuiBindingRecord, magic) == 0, "GuiBindingRecord.magic");
SE_STATIC_ASSERT(offsetof(GuiBindingRecord, recordVersion) == 4, "GuiBindingRecord.version");
SE_STATIC_ASSERT(offsetof(GuiBindingRecord, dispatcher) == 8, "GuiBindingRecord.dispatcher");
SE_STATIC_ASSERT(offsetof(GuiBindingRecord, hostData) == 12, "GuiBindingRecord.hostData");
SE_STATIC_ASSERT(offsetof(GuiBindingRecord, object) == 16, "GuiBindingRecord.object");
SE_STATIC_ASSERT(offsetof(GuiBindingRecord, reserved20) == 20, "GuiBindingRecord words 20-39");
SE_STATIC_ASSERT(sizeof(GuiBindingRecord) == 40, "GuiBindingRecord size");


#elif UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu /* x86-64: the same order, pointer-sized addresses */

/* Both 64-bit conventions (LP64 and LLP64) give these layouts: only addresses and entries are
 * 8 bytes, every other field is a 32-bit word, and each field sits at its natural alignment, so
 * a 32-bit word before an address leaves 4 bytes of padding. */
SE_STATIC_ASSERT(sizeof(void *) == 8 && sizeof(intptr_t) == 8, "64-bit target");

SE_STATIC_ASSERT(offsetof(ModuleProperties, name) == 0, "ModuleProperties.name");
SE_STATIC_ASSERT(offsetof(ModuleProperties, description) == 8, "ModuleProperties.description");
SE_STATIC_ASSERT(offsetof(ModuleProperties, about) == 16, "ModuleProperties.about");
SE_STATIC_ASSERT(offsetof(ModuleProperties, reserved12) == 24, "ModuleProperties word 12");
SE_STATIC_ASSERT(offsetof(ModuleProperties, reserved16) == 28, "ModuleProperties word 16");
SE_STATIC_ASSERT(offsetof(ModuleProperties, interfaceRevision) == 32, "interfaceRevision");
SE_STATIC_ASSERT(sizeof(ModuleProperties) == 40, "ModuleProperties size");

SE_STATIC_ASSERT(offsetof(BindingRecord, magic) == 0, "BindingRecord.magic");
SE_STATIC_ASSERT(offsetof(BindingRecord, recordVersion) == 4, "BindingRecord.recordVersion");
SE_STATIC_ASSERT(offsetof(BindingRecord, hostData) == 8, "BindingRecord.hostData");
SE_STATIC_ASSERT(offsetof(BindingRecord, object) == 16, "BindingRecord.object");
SE_STATIC_ASSERT(offsetof(BindingRecord, reserved16) == 24, "BindingRecord word 16");
SE_STATIC_ASSERT(offsetof(BindingRecord, dispatcher) == 32, "BindingRecord.dispatcher");
SE_STATIC_ASSERT(offsetof(BindingRecord, process) == 40, "BindingRecord.process");
SE_STATIC_ASSERT(offsetof(BindingRecord, eventHandler) == 48, "BindingRecord.eventHandler");
SE_STATIC_ASSERT(offsetof(BindingRecord, reserved32) == 56, "BindingRecord words 32-47");
SE_STATIC_ASSERT(sizeof(BindingRecord) == 72, "BindingRecord size");

SE_STATIC_ASSERT(offsetof(PlugDescription, variable) == 0, "PlugDescription.variable");
SE_STATIC_ASSERT(offsetof(PlugDescription, direction) == 8, "PlugDescription.direction");
SE_STATIC_ASSERT(offsetof(PlugDescription, datatype) == 12, "PlugDescription.datatype");
SE_STATIC_ASSERT(offsetof(PlugDescription, name) == 16, "PlugDescription.name");
SE_STATIC_ASSERT(offsetof(PlugDescription, defaultText) == 24, "PlugDescription.defaultText");
SE_STATIC_ASSERT(offsetof(PlugDescription, listText) == 32, "PlugDescription.listText");
SE_STATIC_ASSERT(offsetof(PlugDescription, flags) == 40, "PlugDescription.flags");
SE_STATIC_ASSERT(offsetof(PlugDescription, reserved28) == 44, "PlugDescription word 28");
SE_STATIC_ASSERT(sizeof(PlugDescription) == 48, "PlugDescription size");

SE_STATIC_ASSERT(offsetof(HostEvent, timeStamp) == 0, "HostEvent.timeStamp");
SE_STATIC_ASSERT(offsetof(HostEvent, type) == 4, "HostEvent.type");
SE_STATIC_ASSERT(offsetof(HostEvent, intValue) == 8, "HostEvent.intValue");
SE_STATIC_ASSERT(offsetof(HostEvent, extra) == 12, "HostEvent.extra");
SE_STATIC_ASSERT(offsetof(HostEvent, pointer) == 16, "HostEvent.pointer");
SE_STATIC_ASSERT(offsetof(HostEvent, link) == 24, "HostEvent.link");
SE_STATIC_ASSERT(sizeof(HostEvent) == 32, "HostEvent size");

SE_STATIC_ASSERT(offsetof(ProcessDescriptor, routine) == 0, "ProcessDescriptor.routine");
SE_STATIC_ASSERT(offsetof(ProcessDescriptor, word1) == 8, "ProcessDescriptor.word1");
SE_STATIC_ASSERT(offsetof(ProcessDescriptor, word2) == 12, "ProcessDescriptor.word2");
SE_STATIC_ASSERT(offsetof(ProcessDescriptor, word3) == 16, "ProcessDescriptor.word3");
SE_STATIC_ASSERT(sizeof(ProcessDescriptor) == 24, "ProcessDescriptor size");

/* descriptorSize still says 16, the size of a ProcessDescriptor on the 32-bit ABI. */
SE_STATIC_ASSERT(offsetof(ProcessRoutineInfo, one) == 0, "ProcessRoutineInfo word 0");
SE_STATIC_ASSERT(offsetof(ProcessRoutineInfo, descriptorSize) == 4, "ProcessRoutineInfo word 4");
SE_STATIC_ASSERT(offsetof(ProcessRoutineInfo, descriptor) == 8, "ProcessRoutineInfo word 8");
SE_STATIC_ASSERT(offsetof(ProcessRoutineInfo, zero) == 16, "ProcessRoutineInfo word 12");
SE_STATIC_ASSERT(sizeof(ProcessRoutineInfo) == 24, "ProcessRoutineInfo size");

SE_STATIC_ASSERT(offsetof(GuiBindingRecord, magic) == 0, "GuiBindingRecord.magic");
SE_STATIC_ASSERT(offsetof(GuiBindingRecord, recordVersion) == 4, "GuiBindingRecord.version");
SE_STATIC_ASSERT(offsetof(GuiBindingRecord, dispatcher) == 8, "GuiBindingRecord.dispatcher");
SE_STATIC_ASSERT(offsetof(GuiBindingRecord, hostData) == 16, "GuiBindingRecord.hostData");
SE_STATIC_ASSERT(offsetof(GuiBindingRecord, object) == 24, "GuiBindingRecord.object");
SE_STATIC_ASSERT(offsetof(GuiBindingRecord, reserved20) == 32, "GuiBindingRecord words 20-39");
SE_STATIC_ASSERT(sizeof(GuiBindingRecord) == 56, "GuiBindingRecord size");

#else
#error "abi.h's layouts are checked for 32-bit and 64-bit targets only"
#endif

/* Whatever the target, every non-address word is 32-bit. */
SE_STATIC_ASSERT(sizeof(((BindingRecord *)0)->magic) == 4, "32-bit words");
SE_STATIC_ASSERT(sizeof(((HostEvent *)0)->timeStamp) == 4, "32-bit words");
SE_STATIC_ASSERT(sizeof(((PlugDescription *)0)->flags) == 4, "32-bit words");
