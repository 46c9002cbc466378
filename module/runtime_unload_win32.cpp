// Linked into the Windows plug-in only. The unwinder's frame registration, run from the
// library's start-up and unload code, takes a runtime lock that is created on first use and
// never closed: one kernel handle (and with the posix thread model a thread record and a TLS
// slot) left behind at every load and unload. Registration and deregistration run under the
// loader lock, when no other thread can reach the library's code, so they need no lock: with
// the runtime's multi-thread flag cleared around them the unwinder takes none and creates none.
extern "C" int _CRT_MT;
extern "C" void __real___register_frame_info(const void *frames, void *object);
extern "C" void *__real___deregister_frame_info(const void *frames);

extern "C" void __wrap___register_frame_info(const void *frames, void *object) {
    const int multiThreaded = _CRT_MT;
    _CRT_MT = 0;
    __real___register_frame_info(frames, object);
    _CRT_MT = multiThreaded;
}

extern "C" void *__wrap___deregister_frame_info(const void *frames) {
    const int multiThreaded = _CRT_MT;
    _CRT_MT = 0;
    void *const object = __real___deregister_frame_info(frames);
    _CRT_MT = multiThreaded;
    return object;
}
