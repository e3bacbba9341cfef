#include "crashreporter/task_memory.h"

#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>

#include <atomic>

// The main thread's stack top as the loader found it (exported by the dynamic loader).
extern "C" void* __libc_stack_end;

namespace {

uint16_t same16(uint16_t v) { return v; }
uint32_t same32(uint32_t v) { return v; }
uint64_t same64(uint64_t v) { return v; }
uint16_t swap16(uint16_t v) { return __builtin_bswap16(v); }
uint32_t swap32(uint32_t v) { return __builtin_bswap32(v); }
uint64_t swap64(uint64_t v) { return __builtin_bswap64(v); }

const zvcrash_async_byteorder kDirect{&same16, &same32, &same64};
const zvcrash_async_byteorder kSwapped{&swap16, &swap32, &swap64};

zvcrash_error_t mapKernelResult(kernel::kern_return_t kr) {
    switch (kr) {
        case kernel::KERN_SUCCESS:
            return ZVCRASH_ESUCCESS;
        case kernel::KERN_INVALID_ADDRESS:
            return ZVCRASH_ENOTFOUND;
        case kernel::KERN_PROTECTION_FAILURE:
            return ZVCRASH_EACCESS;
        default:
            return ZVCRASH_EUNKNOWN;
    }
}

kernel::kern_return_t readBuffer(const kernel::Task* task, uint64_t address, void* dest, size_t length) {
    const auto* self = reinterpret_cast<const zvcrash_buffer_task*>(task);
    if (address < self->base) return kernel::KERN_INVALID_ADDRESS;
    const uint64_t offset = address - self->base;
    if (offset > self->size || length > self->size - offset) return kernel::KERN_INVALID_ADDRESS;
    zvcrash_async_memcpy(dest, self->bytes + offset, length);
    return kernel::KERN_SUCCESS;
}

}  // namespace

kernel::kern_return_t zvcrash_async_task_cache_read(const kernel::Task* task, uint64_t address, void* dest,
                                                    size_t length) {
    auto* cache = reinterpret_cast<zvcrash_async_task_cache*>(const_cast<kernel::Task*>(task));
    if (const void* local = zvcrash_async_task_cache_in_place(task, address, length)) {
        zvcrash_async_memcpy(dest, local, length);
        return kernel::KERN_SUCCESS;
    }
    constexpr uint64_t kPage = sizeof cache->bytes;
    auto hit = [&] {
        return cache->valid > 0 && address >= cache->base && length <= cache->valid &&
               address - cache->base <= cache->valid - length;
    };
    if (!hit()) {
        const uint64_t page = address & ~(kPage - 1);
        if (address + length > page + kPage || address + length < address) {
            return kernel::vm_read_overwrite(cache->backing, address, length, dest);
        }
        if (kernel::vm_read_overwrite(cache->backing, page, kPage, cache->bytes) == kernel::KERN_SUCCESS) {
            cache->base = page;
            cache->valid = kPage;
        } else {
            return kernel::vm_read_overwrite(cache->backing, address, length, dest);
        }
    }
    zvcrash_async_memcpy(dest, cache->bytes + (address - cache->base), length);
    return kernel::KERN_SUCCESS;
}

namespace {

// The stretch of this thread's own stack that an earlier check found it on, [low, top). Every
// address in it stays mapped while the thread lives (a stack does not give pages back above its
// deepest frame), so a walk from inside it may read in place up to top without asking the
// kernel again; wherever an alternate signal stack lies, a walk from it reads only mapped memory
// in that case. Initial-exec, so that a signal handler reads it without the loader's help; a
// new thread starts with it empty.
struct OwnStack {
    uint64_t low;
    uint64_t top;
};
__attribute__((tls_model("initial-exec"))) thread_local OwnStack ownStack{0, 0};

}  // namespace

bool zvcrash_async_own_stack_above(uint64_t from, uint64_t* top) {
    if (ownStack.low != 0 && from >= ownStack.low && from < ownStack.top) {
        *top = ownStack.top;
        return true;
    }
    // On an alternate signal stack (a crash) the extent of the interrupted stack is not known here.
    stack_t alt{};
    if (::sigaltstack(nullptr, &alt) != 0 || (alt.ss_flags & SS_ONSTACK)) return false;
    // A thread's stack ends at its control block; the main thread's where the loader found it.
    // Both lie above every live frame, on the same mapping, within a bounded distance; a stack
    // larger than the bound (or one the program switched to itself) is read through copies.
    constexpr uint64_t kLargestStack = 64ULL << 20;
    const uint64_t candidates[] = {static_cast<uint64_t>(reinterpret_cast<uintptr_t>(pthread_self())),
                                   static_cast<uint64_t>(reinterpret_cast<uintptr_t>(__libc_stack_end))};
    for (uint64_t candidate : candidates) {
        if (candidate > from && candidate - from <= kLargestStack) {
            *top = candidate;
            // Remembered for the next walk: a handler that interrupts these stores on this thread
            // sees low 0 (no stretch) until both are written.
            if (ownStack.top != candidate) {
                ownStack.low = 0;
                std::atomic_signal_fence(std::memory_order_seq_cst);
                ownStack.top = candidate;
                std::atomic_signal_fence(std::memory_order_seq_cst);
                ownStack.low = from;
            } else if (ownStack.low == 0 || from < ownStack.low) {
                ownStack.low = from;
            }
            return true;
        }
    }
    return false;
}

void zvcrash_async_task_cache_init(zvcrash_async_task_cache* cache, const kernel::Task* backing) {
    cache->task.read = &zvcrash_async_task_cache_read;
    cache->task.context = cache;
    cache->backing = backing;
    cache->base = 0;
    cache->valid = 0;
    cache->direct_low = 0;
    cache->direct_high = 0;
    if (backing == kernel::task_self()) {
        // Every frame of this thread from this one up stays mapped while the caller walks.
        const uint64_t here = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(__builtin_frame_address(0)));
        uint64_t top;
        if (zvcrash_async_own_stack_above(here, &top)) {
            cache->direct_low = here;
            cache->direct_high = top;
        }
    }
}

const zvcrash_async_byteorder* zvcrash_async_byteorder_direct() { return &kDirect; }
const zvcrash_async_byteorder* zvcrash_async_byteorder_swapped() { return &kSwapped; }

zvcrash_error_t zvcrash_async_task_memcpy(const kernel::Task* task, uint64_t address, int64_t offset, void* dest,
                                          size_t length) {
    uint64_t target;
    if (!zvcrash_async_address_apply_offset(address, offset, &target)) return ZVCRASH_ENOMEM;
    return mapKernelResult(kernel::vm_read_overwrite(task, target, length, dest));
}

zvcrash_error_t zvcrash_async_task_read_uint32(const kernel::Task* task, const zvcrash_async_byteorder* order,
                                               uint64_t address, int64_t offset, uint32_t* result) {
    uint32_t raw = 0;
    zvcrash_error_t err = zvcrash_async_task_memcpy(task, address, offset, &raw, sizeof raw);
    *result = order->swap32(raw);
    return err;
}

zvcrash_error_t zvcrash_async_task_read_uint64(const kernel::Task* task, const zvcrash_async_byteorder* order,
                                               uint64_t address, int64_t offset, uint64_t* result) {
    uint64_t raw = 0;
    zvcrash_error_t err = zvcrash_async_task_memcpy(task, address, offset, &raw, sizeof raw);
    *result = order->swap64(raw);
    return err;
}

zvcrash_error_t zvcrash_async_mobject_init(zvcrash_async_mobject* mobj, const kernel::Task* task, uint64_t address,
                                           uint64_t length, bool require_full) {
    zvcrash_async_memset(mobj, 0, sizeof *mobj);
    const uint64_t page = kernel::vm_page_size();
    if (length == 0 || address + length < address) return ZVCRASH_EINVAL;
    const uint64_t pageStart = address & ~(page - 1);
    const uint64_t end = address + length;
    if (end > UINT64_MAX - page) return ZVCRASH_EINVAL;
    const uint64_t mapLength = ((end - pageStart) + page - 1) & ~(page - 1);
    if (mapLength > (1ULL << 40)) return ZVCRASH_ENOMEM;

    void* mapping = ::mmap(nullptr, mapLength, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping == MAP_FAILED) return ZVCRASH_EINTERNAL;
    auto* local = static_cast<uint8_t*>(mapping);

    // Page by page, so that a window over a partly readable range keeps its readable prefix.
    // Only the requested bytes of each page are read: the rest may lie outside the task.
    uint64_t covered = 0;
    for (uint64_t from = pageStart; from < end; from += page) {
        const uint64_t lo = from < address ? address : from;
        const uint64_t hi = end - from < page ? end : from + page;
        if (kernel::vm_read_overwrite(task, lo, hi - lo, local + (lo - pageStart)) != kernel::KERN_SUCCESS) break;
        covered = hi - pageStart;
    }
    const bool complete = pageStart + covered >= end;
    if ((require_full && !complete) || pageStart + covered <= address) {
        ::munmap(mapping, mapLength);
        return ZVCRASH_ENOMEM;
    }
    ::mprotect(mapping, mapLength, PROT_READ);
    mobj->task = task;
    mobj->vm_address = reinterpret_cast<uintptr_t>(mapping);
    mobj->vm_length = mapLength;
    mobj->address = reinterpret_cast<uintptr_t>(local + (address - pageStart));
    const uint64_t available = pageStart + covered - address;
    mobj->length = static_cast<size_t>(available < length ? available : length);
    mobj->target = address;
    mobj->delta = static_cast<int64_t>(address - static_cast<uint64_t>(mobj->address));
    return ZVCRASH_ESUCCESS;
}

uint64_t zvcrash_async_mobject_base_address(const zvcrash_async_mobject* mobj) { return mobj->target; }
uint64_t zvcrash_async_mobject_length(const zvcrash_async_mobject* mobj) { return mobj->length; }
const kernel::Task* zvcrash_async_mobject_task(const zvcrash_async_mobject* mobj) { return mobj->task; }

bool zvcrash_async_mobject_verify_local_pointer(const zvcrash_async_mobject* mobj, uintptr_t address, int64_t offset,
                                                size_t length) {
    uint64_t start;
    if (!zvcrash_async_address_apply_offset(address, offset, &start)) return false;
    uint64_t end;
    if (!zvcrash_async_address_apply_offset(start, static_cast<int64_t>(length), &end)) return false;
    if (length > static_cast<size_t>(INT64_MAX)) return false;
    return start >= mobj->address && end <= mobj->address + mobj->length;
}

const void* zvcrash_async_mobject_remap_address(const zvcrash_async_mobject* mobj, uint64_t address, int64_t offset,
                                                size_t length) {
    if (address < mobj->target || address - mobj->target > mobj->length) return nullptr;
    uintptr_t local = mobj->address + static_cast<uintptr_t>(address - mobj->target);
    if (!zvcrash_async_mobject_verify_local_pointer(mobj, local, offset, length)) return nullptr;
    uint64_t result;
    zvcrash_async_address_apply_offset(local, offset, &result);
    return reinterpret_cast<const void*>(static_cast<uintptr_t>(result));
}

namespace {
template <typename T>
zvcrash_error_t readValue(const zvcrash_async_mobject* mobj, uint64_t address, int64_t offset, T* out) {
    const void* p = zvcrash_async_mobject_remap_address(mobj, address, offset, sizeof(T));
    if (!p) return ZVCRASH_EINVAL;
    zvcrash_async_memcpy(out, p, sizeof(T));
    return ZVCRASH_ESUCCESS;
}
}  // namespace

zvcrash_error_t zvcrash_async_mobject_read_uint8(const zvcrash_async_mobject* mobj, uint64_t address, int64_t offset,
                                                 uint8_t* result) {
    return readValue(mobj, address, offset, result);
}

zvcrash_error_t zvcrash_async_mobject_read_uint16(const zvcrash_async_mobject* mobj,
                                                  const zvcrash_async_byteorder* order, uint64_t address,
                                                  int64_t offset, uint16_t* result) {
    zvcrash_error_t err = readValue(mobj, address, offset, result);
    if (err == ZVCRASH_ESUCCESS) *result = order->swap16(*result);
    return err;
}

zvcrash_error_t zvcrash_async_mobject_read_uint32(const zvcrash_async_mobject* mobj,
                                                  const zvcrash_async_byteorder* order, uint64_t address,
                                                  int64_t offset, uint32_t* result) {
    zvcrash_error_t err = readValue(mobj, address, offset, result);
    if (err == ZVCRASH_ESUCCESS) *result = order->swap32(*result);
    return err;
}

zvcrash_error_t zvcrash_async_mobject_read_uint64(const zvcrash_async_mobject* mobj,
                                                  const zvcrash_async_byteorder* order, uint64_t address,
                                                  int64_t offset, uint64_t* result) {
    zvcrash_error_t err = readValue(mobj, address, offset, result);
    if (err == ZVCRASH_ESUCCESS) *result = order->swap64(*result);
    return err;
}

void zvcrash_async_mobject_free(zvcrash_async_mobject* mobj) {
    if (mobj->vm_address) ::munmap(reinterpret_cast<void*>(mobj->vm_address), mobj->vm_length);
    mobj->vm_address = 0;
    mobj->vm_length = 0;
    mobj->length = 0;
}

void zvcrash_buffer_task_init(zvcrash_buffer_task* task, uint64_t base, const void* bytes, size_t size) {
    task->task.read = &readBuffer;
    task->task.context = task;
    task->base = base;
    task->bytes = static_cast<const uint8_t*>(bytes);
    task->size = size;
}
