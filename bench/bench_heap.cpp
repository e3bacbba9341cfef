// The allocation entry points of the C library and of C++, replaced in the program: each forwards
// to the allocator's own calls (jemalloc's extended ones, which take and return sizes) and, while
// a window is open, adds or takes off the block's usable size. The dynamic linker binds every
// library's calls (SQLite, the text shaper, libstdc++) to these before the allocator's own.
#include "bench/bench_heap.h"

#include <errno.h>
#include <jemalloc/jemalloc.h>

#include <atomic>
#include <cstddef>
#include <fstream>
#include <new>
#include <string>
#include <string_view>

namespace {

std::atomic<bool> counting{false};
std::atomic<int64_t> net{0};
std::atomic<int64_t> highest{0};

void added(void* p) {
    if (!p || !counting.load(std::memory_order_relaxed)) return;
    const auto size = static_cast<int64_t>(sallocx(p, 0));
    const int64_t now = net.fetch_add(size, std::memory_order_relaxed) + size;
    int64_t seen = highest.load(std::memory_order_relaxed);
    while (now > seen && !highest.compare_exchange_weak(seen, now, std::memory_order_relaxed)) {}
}

void removed(void* p) {
    if (p && counting.load(std::memory_order_relaxed))
        net.fetch_sub(static_cast<int64_t>(sallocx(p, 0)), std::memory_order_relaxed);
}

int alignFlags(size_t alignment) { return MALLOCX_ALIGN(alignment); }

void* allocate(size_t size, int flags) {
    void* p = mallocx(size == 0 ? 1 : size, flags);
    added(p);
    return p;
}

void release(void* p) {
    if (!p) return;
    removed(p);
    dallocx(p, 0);
}

void* allocateOrThrow(size_t size, int flags) {
    if (void* p = allocate(size, flags)) return p;
    throw std::bad_alloc();
}

bool powerOfTwo(size_t n) { return n != 0 && (n & (n - 1)) == 0; }

}  // namespace

namespace hxbench {

void openHeapWindow() {
    net.store(0);
    highest.store(0);
    counting.store(true);
}

int64_t closeHeapWindow() {
    counting.store(false);
    return highest.load();
}

bool heapCounted() { return true; }

double statusMiB(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0) return std::stod(line.substr(std::string_view(field).size())) / 1024.0;
    return 0;
}

}  // namespace hxbench

extern "C" {

void* malloc(size_t size) noexcept { return allocate(size, 0); }

void* calloc(size_t count, size_t size) noexcept {
    if (size != 0 && count > SIZE_MAX / size) {
        errno = ENOMEM;
        return nullptr;
    }
    return allocate(count * size, MALLOCX_ZERO);
}

void free(void* p) noexcept { release(p); }

void* realloc(void* p, size_t size) noexcept {
    if (!p) return allocate(size, 0);
    if (size == 0) {
        release(p);
        return nullptr;
    }
    removed(p);
    void* moved = rallocx(p, size, 0);
    added(moved ? moved : p);  // on failure the old block stays
    return moved;
}

int posix_memalign(void** out, size_t alignment, size_t size) noexcept {
    if (!powerOfTwo(alignment) || alignment % sizeof(void*) != 0) return EINVAL;
    void* p = allocate(size, alignFlags(alignment));
    if (!p) return ENOMEM;
    *out = p;
    return 0;
}

void* aligned_alloc(size_t alignment, size_t size) noexcept {
    return powerOfTwo(alignment) ? allocate(size, alignFlags(alignment)) : nullptr;
}

void* memalign(size_t alignment, size_t size) noexcept { return aligned_alloc(alignment, size); }

void* valloc(size_t size) noexcept { return allocate(size, alignFlags(4096)); }

void* pvalloc(size_t size) noexcept { return allocate((size + 4095) & ~size_t{4095}, alignFlags(4096)); }

}  // extern "C"

void* operator new(size_t size) { return allocateOrThrow(size, 0); }
void* operator new[](size_t size) { return allocateOrThrow(size, 0); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return allocate(size, 0); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return allocate(size, 0); }
void* operator new(size_t size, std::align_val_t a) { return allocateOrThrow(size, alignFlags(size_t(a))); }
void* operator new[](size_t size, std::align_val_t a) { return allocateOrThrow(size, alignFlags(size_t(a))); }
void* operator new(size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
    return allocate(size, alignFlags(size_t(a)));
}
void* operator new[](size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
    return allocate(size, alignFlags(size_t(a)));
}
void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, size_t) noexcept { release(p); }
void operator delete[](void* p, size_t) noexcept { release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { release(p); }
void operator delete(void* p, std::align_val_t) noexcept { release(p); }
void operator delete[](void* p, std::align_val_t) noexcept { release(p); }
void operator delete(void* p, size_t, std::align_val_t) noexcept { release(p); }
void operator delete[](void* p, size_t, std::align_val_t) noexcept { release(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { release(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { release(p); }
