/*
 * The contract between the host application and a plug-in library, byte for byte.
 *
 * Everything that crosses the boundary is declared here and nowhere else: the records the host
 * and the module exchange, the entry-point signatures, and the numeric codes (opcodes, datatypes,
 * pin states, event types, flags). It is plain C so that a host written in any language or with
 * any compiler can read it. It says nothing about how the module works inside.
 *
 * Layout: on 32-bit targets every record is a sequence of 32-bit little-endian words at the
 * offsets checked in abi_checks.h. On 64-bit targets the fields keep their order; a field that
 * holds an address or an entry is pointer-sized, every other field stays 32-bit, with natural
 * alignment. Results that may carry an address (the dispatcher's and the host callback's) are
 * intptr_t, which is the 32-bit word of the contract on 32-bit targets.
 */
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Every entry point, in both directions, is a plain cdecl function. On 32-bit x86 a calling-
 * convention mismatch corrupts the stack silently, so the convention is spelled out. */
#if defined(_WIN32) && defined(__i386__)
#define SE_ABI __cdecl
#else
#define SE_ABI
#endif

/* ----------------------------------------------------------------------------------------- */
/* Identity                                                                                  */

/* 'SEPL' (bytes 4C 50 45 53 in memory): first word of an instance's BindingRecord. */
#define SE_MODULE_RECORD_MAGIC 0x5345504Cu
/* 'SEPM' (bytes 4D 50 45 53 in memory): first word of an editor's GuiBindingRecord. */
#define SE_GUI_RECORD_MAGIC 0x5345504Du
/* Written into ModuleProperties.interfaceRevision by getModuleProperties, for every index. */
#define SE_INTERFACE_REVISION 2230
/* BindingRecord.recordVersion and GuiBindingRecord.recordVersion. */
#define SE_RECORD_VERSION 1
/* makeModule's objectKind for the audio-processing module object (the only kind made here). */
#define SE_OBJECT_KIND_MODULE 1

/* ----------------------------------------------------------------------------------------- */
/* Entry-point types                                                                         */

/* The host's one callback. `record` is the caller's BindingRecord (or, for an editor, its
 * GuiBindingRecord). Opcodes: the HOST_OP_* constants below. [any thread the host drives the
 * instance from; must not be re-entered into the same instance] */
typedef intptr_t(SE_ABI *HostCallback)(void *record, int32_t opcode, int32_t index, int32_t value,
                                       void *pointer, float opt);

struct BindingRecord;
struct GuiBindingRecord;
struct HostEvent;

/* The module's dispatcher: host requests by MODULE_OP_* opcode. [host thread; may allocate
 * only on open] */
typedef intptr_t(SE_ABI *ModuleDispatcher)(struct BindingRecord *record, int32_t opcode,
                                           int32_t index, int32_t value, void *pointer, float opt);

/* Produces one block: `sampleCount` samples starting at index `blockOffset` of every plug
 * buffer. `object` is BindingRecord.object, not the record. [audio thread; never allocates] */
typedef int32_t(SE_ABI *ProcessRoutine)(void *object, int32_t blockOffset, int32_t sampleCount);

/* Delivers one HostEvent; `object` is BindingRecord.object. [audio thread; never allocates] */
typedef void(SE_ABI *EventHandler)(void *object, struct HostEvent *event);

/* A module operation carried by an EVENT_CALL event: a plain function of the instance. */
typedef void(SE_ABI *ModuleCallRoutine)(void *object);

/* The editor's dispatcher (EDITOR_OP_* opcodes are the host's own; see GuiBindingRecord). */
typedef intptr_t(SE_ABI *GuiDispatcher)(struct GuiBindingRecord *record, int32_t opcode,
                                        int32_t index, int32_t value, void *pointer, float opt);

/* ----------------------------------------------------------------------------------------- */
/* Records                                                                                   */

/* Filled by getModuleProperties. Owned by the host; the module writes name, description,
 * about and interfaceRevision and leaves the two reserved words as the host set them. */
typedef struct ModuleProperties {
    const char *name;          /* display name, NUL-terminated, library-owned constant text */
    const char *description;   /* one-line description, library-owned */
    const char *about;         /* multi-line about text, lines separated by 0x0A, library-owned */
    int32_t reserved12;        /* the host's; never read or written by the module */
    int32_t reserved16;        /* the host's; never read or written by the module */
    int32_t interfaceRevision; /* SE_INTERFACE_REVISION, written for every index */
} ModuleProperties;

/* Embedded in every module instance; makeModule returns its address, and the host reaches the
 * instance only through its three entries from then on. Valid until dispatcher opcode 1. */
typedef struct BindingRecord {
    uint32_t magic;              /* SE_MODULE_RECORD_MAGIC */
    int32_t recordVersion;       /* SE_RECORD_VERSION */
    void *hostData;              /* makeModule's fourth argument; stored, never read */
    void *object;                /* the instance: first argument of process and eventHandler */
    int32_t reserved16;          /* 0, never written */
    ModuleDispatcher dispatcher; /* [host thread] MODULE_OP_* requests */
    ProcessRoutine process;      /* [audio thread] the current routine; changes are announced
                                    with HOST_OP_PROCESS_ROUTINE_CHANGED */
    EventHandler eventHandler;   /* [audio thread] HostEvent delivery */
    int32_t reserved32[4];       /* 0, never written */
} BindingRecord;

/* What describePlug fills. The asker clears it to zero first; the module fills what it needs. */
typedef struct PlugDescription {
    void *variable;          /* module variable the host writes the plug's value into, or null:
                                a buffer address (DT_AUDIO) or the value itself (settings) */
    int32_t direction;       /* PLUG_DIRECTION_*; other values are the host's to interpret */
    int32_t datatype;        /* DT_* */
    const char *name;        /* plug name, library-owned */
    const char *defaultText; /* default value as text, library-owned */
    const char *listText;    /* choices of a DT_ENUM plug, for the host to parse; or null */
    int32_t flags;           /* PLUG_* bits; the layer acts on the three named below */
    int32_t reserved28;      /* stays 0 */
} PlugDescription;

/* An event, delivered through BindingRecord.eventHandler or queued with HOST_OP_ADD_EVENT. The
 * module's own events live only for the duration of the call; the host copies what it keeps. */
typedef struct HostEvent {
    int32_t timeStamp; /* sample clock at which the event applies */
    int32_t type;      /* EVENT_* */
    int32_t intValue;  /* EVENT_PLUG_STATE: the plug's new STATE_* */
    int32_t extra;     /* type 2: its low 16 bits are passed on */
    void *pointer;     /* EVENT_PLUG_STATE: the pin number, as an integer; EVENT_CALL: the
                          ModuleCallRoutine to run on the instance */
    void *link;        /* 0 in every event the module builds; the host's own use */
} HostEvent;

/* The current process routine with three words of the host's; the module stores zeros. */
typedef struct ProcessDescriptor {
    ProcessRoutine routine;
    int32_t word1;
    int32_t word2;
    int32_t word3;
} ProcessDescriptor;

/* The answer to dispatcher opcode 13: one process-wide record, rewritten by every request. */
typedef struct ProcessRoutineInfo {
    int32_t one;                   /* 1 */
    int32_t descriptorSize;        /* 16: the size of a ProcessDescriptor on the 32-bit ABI */
    ProcessDescriptor *descriptor; /* the asking instance's descriptor */
    int32_t zero;                  /* 0 */
} ProcessRoutineInfo;

/* An editor object's record. Note the order differs from BindingRecord: the dispatcher comes
 * before the host value and the object address. */
typedef struct GuiBindingRecord {
    uint32_t magic;           /* SE_GUI_RECORD_MAGIC */
    int32_t recordVersion;    /* SE_RECORD_VERSION */
    GuiDispatcher dispatcher; /* editor requests */
    void *hostData;           /* stored, never read */
    void *object;             /* the owning editor object */
    int32_t reserved20[5];    /* 0, never written */
} GuiBindingRecord;

/* ----------------------------------------------------------------------------------------- */
/* Codes                                                                                     */

/* Plug value types. */
enum {
    DT_ENUM = 0,  /* 16-bit choice number */
    DT_BOOL = 4,  /* 8-bit value */
    DT_AUDIO = 5, /* address of a float sample buffer, one value per sample (1.0 = 10 V) */
    DT_FLOAT = 6, /* 32-bit float */
    DT_INT = 8    /* 32-bit integer */
};

/* PlugDescription.direction. */
enum {
    PLUG_DIRECTION_INPUT = 0,
    PLUG_DIRECTION_OUTPUT = 1,
    PLUG_DIRECTION_SETTING = 3 /* the module's "Freq Scale" alone; what it means is the host's */
};

/* Pin states exchanged with the host (HOST_OP_SEND_STATE and EVENT_PLUG_STATE). */
enum {
    STATE_STATIC = 0,  /* the value is not changing */
    STATE_ONE_OFF = 1, /* the value changes once, then holds */
    STATE_RUNNING = 2  /* the value changes continuously */
};

/* PlugDescription.flags bits that the pin layer acts on. */
enum {
    PLUG_REPEAT_LAST = 0x8, /* last description: further host pins get its datatype */
    PLUG_SKIP_PIN = 0x400,  /* the description produces no pin ... */
    PLUG_KEEP_PIN = 0x8000  /* ... unless this bit is also set */
};

/* HostEvent.type */
enum {
    EVENT_PLUG_STATE = 0, /* a plug's state changed: pointer = pin number, intValue = state */
    EVENT_TYPE_2 = 2,     /* routed to onEventType2; the module gives it no meaning */
    EVENT_CALL = 21       /* pointer = a ModuleCallRoutine to run on the instance */
};

/* Dispatcher opcodes (BindingRecord.dispatcher). Every other opcode answers 0. */
enum {
    MODULE_OP_OPEN = 0,
    MODULE_OP_CLOSE = 1,           /* the instance deletes itself; answers 1 */
    MODULE_OP_SET_SAMPLE_RATE = 2, /* opt = rate in Hz */
    MODULE_OP_SET_BLOCK_SIZE = 3,  /* value = samples */
    MODULE_OP_DESCRIBE_PLUG = 6,   /* index = plug number, pointer = PlugDescription */
    MODULE_OP_8 = 8,
    MODULE_OP_12 = 12,
    MODULE_OP_PROCESS_ROUTINE_INFO = 13 /* answers the address of the ProcessRoutineInfo */
};

/* Host callback opcodes, as the module uses them. */
enum {
    HOST_OP_SEND_STATE = 0,             /* index pin, value state, pointer time stamp */
    HOST_OP_QUERY_PIN = 1,              /* index pin; non-zero is true */
    HOST_OP_GET_SAMPLE_CLOCK = 3,       /* the current sample clock */
    HOST_OP_SEND_STATE_ALTERNATE = 4,   /* as HOST_OP_SEND_STATE */
    HOST_OP_GET_BUFFER_ADDRESS = 7,     /* index pin: address of the pin's float buffer */
    HOST_OP_GET_BUFFER_START_CLOCK = 8, /* index pin: clock of the buffer's first sample */
    HOST_OP_REQUEST_SLEEP = 10,         /* outputs have settled; no further process calls */
    HOST_OP_GET_PIN_COUNT = 14,
    HOST_OP_ADD_EVENT = 19,              /* pointer: a HostEvent valid during the call */
    HOST_OP_PROCESS_ROUTINE_CHANGED = 22 /* call BindingRecord.process from now on */
};

/* Editor host-callback opcodes used by GuiPinRef. */
enum {
    EDITOR_OP_WRITE_TEXT = 6,
    EDITOR_OP_READ_TEXT = 7,
    EDITOR_OP_READ_VALUE = 14,
    EDITOR_OP_WRITE_VALUE = 15,
    EDITOR_OP_READ_WIDE_TEXT = 17
};

/* ----------------------------------------------------------------------------------------- */
/* Library exports (by undecorated name; ordinals 1 and 2 in the Windows DLL)                */

typedef int32_t(SE_ABI *GetModulePropertiesFunction)(int32_t index, ModuleProperties *properties);
typedef BindingRecord *(SE_ABI *MakeModuleFunction)(int32_t index, int32_t objectKind,
                                                    HostCallback hostCallback, void *hostData);

#ifdef __cplusplus
}
#endif
