// Counts the program's heap calls for the stand-in host's real-time check: a call made while
// the host is inside a process call or an event delivery (and not answering a callback of its
// own) is one the instance made in its audio path, which it must never do.
//
// Three ways in, one per kind of build:
//   - AddressSanitizer owns malloc and operator new; its allocator hooks see every call.
//   - glibc: malloc, calloc, realloc, free and the aligned forms are replaced here and forward
//     to glibc's own entries (__libc_malloc ...), which is the documented way to interpose them;
//     valgrind still sees every block, because it replaces the __libc_ entries.
//   - elsewhere (MinGW): operator new and delete only; the C allocator is not replaced.
// operator new and delete are replaced wherever the sanitizer does not own them, so that a
// library loaded with dlopen is counted too (the program's definitions win the lookup).
//
// Nothing here allocates, locks or logs; the counters are thread-local or atomic.
#include "host.h"
#include "heap_count.h"

#include <atomic>
#include <cstdlib>
#include <new>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define FOURWAVE_HEAP_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) && !defined(FOURWAVE_HEAP_SANITIZER)
#define FOURWAVE_HEAP_SANITIZER 1
#endif

#if defined(FOURWAVE_HEAP_SANITIZER)
#include <sanitizer/allocator_interface.h>
#elif defined(__GLIBC__)
#define FOURWAVE_HEAP_GLIBC 1
#include <malloc.h>
#endif

namespace fourwave::host {

namespace {
std::atomic<int64_t> liveBlocks{0};
} // namespace

FOURWAVE_HEAP_TLS thread_local int64_t heapCallsInAudio = 0;
FOURWAVE_HEAP_TLS thread_local bool heapCountingAudio = false;

inline void noteHeapCall(int64_t liveChange) {
    if (liveChange != 0) liveBlocks.fetch_add(liveChange, std::memory_order_relaxed);
    if (heapCountingAudio) ++heapCallsInAudio;
}

int64_t audioCallHeapCalls() { return heapCallsInAudio; }
int64_t liveHeapBlocks() { return liveBlocks.load(std::memory_order_relaxed); }

int64_t heapBytesInUse() {
#if defined(FOURWAVE_HEAP_SANITIZER)
    return static_cast<int64_t>(__sanitizer_get_current_allocated_bytes());
#elif defined(FOURWAVE_HEAP_GLIBC)
    return static_cast<int64_t>(mallinfo2().uordblks);
#else
    return 0;
#endif
}

const char *heapCountingScope() {
#if defined(FOURWAVE_HEAP_SANITIZER)
    return "sanitizer allocator hooks (malloc/free and new/delete)";
#elif defined(FOURWAVE_HEAP_GLIBC)
    return "replaced malloc/calloc/realloc/free and new/delete";
#else
    return "replaced new/delete";
#endif
}

} // namespace fourwave::host

using fourwave::host::noteHeapCall;

#if defined(FOURWAVE_HEAP_SANITIZER)

namespace {
void mallocHook(const volatile void *, size_t) { noteHeapCall(1); }
void freeHook(const volatile void *pointer) {
    if (pointer != nullptr) noteHeapCall(-1);
}
// Installed before main; the hooks run for every allocator call from then on.
[[maybe_unused]] const int hooksInstalled =
    __sanitizer_install_malloc_and_free_hooks(mallocHook, freeHook);
} // namespace

#else // the replacements

#if defined(FOURWAVE_HEAP_GLIBC)
extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
void __libc_free(void *);
void *__libc_memalign(size_t, size_t);

void *malloc(size_t size) {
    void *pointer = __libc_malloc(size);
    noteHeapCall(pointer != nullptr ? 1 : 0);
    return pointer;
}
void *calloc(size_t count, size_t size) {
    void *pointer = __libc_calloc(count, size);
    noteHeapCall(pointer != nullptr ? 1 : 0);
    return pointer;
}
void *realloc(void *old, size_t size) {
    void *pointer = __libc_realloc(old, size);
    const int64_t change = old == nullptr ? (pointer != nullptr ? 1 : 0)
                           : (size == 0 && pointer == nullptr) ? -1
                                                               : 0;
    noteHeapCall(change);
    return pointer;
}
void free(void *pointer) {
    if (pointer == nullptr) return;
    noteHeapCall(-1);
    __libc_free(pointer);
}
void *memalign(size_t alignment, size_t size) {
    void *pointer = __libc_memalign(alignment, size);
    noteHeapCall(pointer != nullptr ? 1 : 0);
    return pointer;
}
void *aligned_alloc(size_t alignment, size_t size) { return memalign(alignment, size); }
int posix_memalign(void **result, size_t alignment, size_t size) {
    if (alignment < sizeof(void *) || (alignment & (alignment - 1)) != 0) return 22; // EINVAL
    void *pointer = memalign(alignment, size);
    if (pointer == nullptr) return 12; // ENOMEM
    *result = pointer;
    return 0;
}
void *valloc(size_t size) { return memalign(4096, size); }
void *pvalloc(size_t size) { return memalign(4096, (size + 4095) & ~size_t{4095}); }
} // extern "C"

// With the C allocator counted, operator new and delete count through it.
namespace {
void *allocate(size_t size) { return std::malloc(size != 0 ? size : 1); }
void *allocateAligned(size_t size, size_t alignment) {
    return memalign(alignment, size != 0 ? size : 1);
}
void release(void *pointer) { std::free(pointer); }
} // namespace
#else
namespace {
void *allocate(size_t size) {
    void *pointer = std::malloc(size != 0 ? size : 1);
    noteHeapCall(pointer != nullptr ? 1 : 0);
    return pointer;
}
void release(void *pointer) {
    if (pointer == nullptr) return;
    noteHeapCall(-1);
    std::free(pointer);
}
} // namespace
#endif

void *operator new(size_t size) {
    void *pointer = allocate(size);
    if (pointer == nullptr) throw std::bad_alloc();
    return pointer;
}
void *operator new[](size_t size) { return operator new(size); }
void *operator new(size_t size, const std::nothrow_t &) noexcept { return allocate(size); }
void *operator new[](size_t size, const std::nothrow_t &) noexcept { return allocate(size); }
void operator delete(void *pointer) noexcept { release(pointer); }
void operator delete[](void *pointer) noexcept { release(pointer); }
void operator delete(void *pointer, size_t) noexcept { release(pointer); }
void operator delete[](void *pointer, size_t) noexcept { release(pointer); }
void operator delete(void *pointer, const std::nothrow_t &) noexcept { release(pointer); }
void operator delete[](void *pointer, const std::nothrow_t &) noexcept { release(pointer); }

#if defined(FOURWAVE_HEAP_GLIBC)
// Over-aligned forms (glibc builds only: MinGW's aligned blocks need their own free).
void *operator new(size_t size, std::align_val_t alignment) {
    void *pointer = allocateAligned(size, static_cast<size_t>(alignment));
    if (pointer == nullptr) throw std::bad_alloc();
    return pointer;
}
void *operator new[](size_t size, std::align_val_t alignment) {
    return operator new(size, alignment);
}
void *operator new(size_t size, std::align_val_t alignment, const std::nothrow_t &) noexcept {
    return allocateAligned(size, static_cast<size_t>(alignment));
}
void *operator new[](size_t size, std::align_val_t alignment, const std::nothrow_t &) noexcept {
    return allocateAligned(size, static_cast<size_t>(alignment));
}
void operator delete(void *pointer, std::align_val_t) noexcept { release(pointer); }
void operator delete[](void *pointer, std::align_val_t) noexcept { release(pointer); }
void operator delete(void *pointer, size_t, std::align_val_t) noexcept { release(pointer); }
void operator delete[](void *pointer, size_t, std::align_val_t) noexcept { release(pointer); }
void operator delete(void *pointer, std::align_val_t, const std::nothrow_t &) noexcept {
    release(pointer);
}
void operator delete[](void *pointer, std::align_val_t, const std::nothrow_t &) noexcept {
    release(pointer);
}
#endif

#endif
