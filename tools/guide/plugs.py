"""The module's plug table and about text, read from a built plug-in library through its two
exports, as a host reads them: getModuleProperties for the identity texts, makeModule for an
instance whose dispatcher describes each plug (opcode 6), then closes it (opcode 1).

The guide's plug drawing and its statements about defaults are made from what this returns,
so that they follow the built module rather than a copy of its table.
"""

import ctypes

DESCRIBE_PLUG = 6
CLOSE = 1
OBJECT_KIND_MODULE = 1
DIRECTIONS = {0: "input", 1: "output", 3: "setting"}
DT_ENUM = 0


class ModuleProperties(ctypes.Structure):
    _fields_ = [("name", ctypes.c_char_p), ("description", ctypes.c_char_p),
                ("about", ctypes.c_char_p), ("reserved12", ctypes.c_int32),
                ("reserved16", ctypes.c_int32), ("interfaceRevision", ctypes.c_int32)]


class PlugDescription(ctypes.Structure):
    _fields_ = [("variable", ctypes.c_void_p), ("direction", ctypes.c_int32),
                ("datatype", ctypes.c_int32), ("name", ctypes.c_char_p),
                ("defaultText", ctypes.c_char_p), ("listText", ctypes.c_char_p),
                ("flags", ctypes.c_int32), ("reserved28", ctypes.c_int32)]


HostCallback = ctypes.CFUNCTYPE(ctypes.c_ssize_t, ctypes.c_void_p, ctypes.c_int32,
                                ctypes.c_int32, ctypes.c_int32, ctypes.c_void_p, ctypes.c_float)
Dispatcher = ctypes.CFUNCTYPE(ctypes.c_ssize_t, ctypes.c_void_p, ctypes.c_int32, ctypes.c_int32,
                              ctypes.c_int32, ctypes.c_void_p, ctypes.c_float)


class BindingRecord(ctypes.Structure):
    _fields_ = [("magic", ctypes.c_uint32), ("recordVersion", ctypes.c_int32),
                ("hostData", ctypes.c_void_p), ("object", ctypes.c_void_p),
                ("reserved16", ctypes.c_int32), ("dispatcher", Dispatcher),
                ("process", ctypes.c_void_p), ("eventHandler", ctypes.c_void_p),
                ("reserved32", ctypes.c_int32 * 4)]


def text(value):
    return value.decode("latin-1") if value is not None else None


def read_module(library_path):
    """{"name", "about", "plugs": [{"number", "name", "kind", "default", "choices"}]}, kind
    being "input", "output" or "setting"."""
    library = ctypes.CDLL(library_path)
    library.getModuleProperties.argtypes = [ctypes.c_int32, ctypes.POINTER(ModuleProperties)]
    library.makeModule.argtypes = [ctypes.c_int32, ctypes.c_int32, HostCallback, ctypes.c_void_p]
    library.makeModule.restype = ctypes.POINTER(BindingRecord)

    properties = ModuleProperties()
    if library.getModuleProperties(0, ctypes.byref(properties)) != 1:
        raise RuntimeError(f"{library_path}: getModuleProperties(0) refused")
    quiet_host = HostCallback(lambda *arguments: 0)
    record = library.makeModule(0, OBJECT_KIND_MODULE, quiet_host, None)
    if not record:
        raise RuntimeError(f"{library_path}: makeModule made no instance")
    plugs = []
    try:
        dispatcher = record.contents.dispatcher
        while True:
            description = PlugDescription()
            if not dispatcher(record, DESCRIBE_PLUG, len(plugs), 0, ctypes.byref(description),
                              0.0):
                break
            choices = None
            if description.datatype == DT_ENUM and description.listText:
                # "Perfect=0, Perfect 2 = 1": the names, without their numbers.
                choices = [item.split("=")[0].strip()
                           for item in text(description.listText).split(",")]
            # The four choice plugs are settings, whatever direction the host is told.
            kind = ("setting" if description.datatype == DT_ENUM
                    else DIRECTIONS.get(description.direction, "other"))
            plugs.append({"number": len(plugs), "name": text(description.name), "kind": kind,
                          "default": text(description.defaultText), "choices": choices})
    finally:
        record.contents.dispatcher(record, CLOSE, 0, 0, None, 0.0)
    return {"name": text(properties.name), "about": text(properties.about), "plugs": plugs}


def about_ranges(about):
    """The about text's "Name: range" help lines, by plug name: the four levels share the
    "Levels" line, and the threshold's line is spelled "Synth Threshold" there."""
    ranges = {}
    for line in about.split("\n"):
        key, colon, value = line.partition(": ")
        if not colon:
            continue
        key = key.split(" (")[0].strip()
        ranges.setdefault({"Synth Threshold": "Sync Threshold"}.get(key, key), value.strip())
    return ranges


def plug_range(plug, ranges):
    if plug["name"].endswith(" Level"):
        return ranges.get("Levels")
    return ranges.get(plug["name"])
