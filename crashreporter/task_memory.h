// Checked access to a task's memory: a copy call, byte orders, and memory objects (bounded
// read-only windows copied into private pages, every access checked against the window).
// Async-signal-safe: the private pages come straight from the kernel.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crashreporter/async_utils.h"
#include "platform/kernel/mach.h"

struct zvcrash_async_byteorder {
    uint16_t (*swap16)(uint16_t);
    uint32_t (*swap32)(uint32_t);
    uint64_t (*swap64)(uint64_t);
};

const zvcrash_async_byteorder* zvcrash_async_byteorder_direct();
const zvcrash_async_byteorder* zvcrash_async_byteorder_swapped();

zvcrash_error_t zvcrash_async_task_memcpy(const kernel::Task* task, uint64_t address, int64_t offset, void* dest,
                                          size_t length);
zvcrash_error_t zvcrash_async_task_read_uint32(const kernel::Task* task, const zvcrash_async_byteorder* order,
                                               uint64_t address, int64_t offset, uint32_t* result);
zvcrash_error_t zvcrash_async_task_read_uint64(const kernel::Task* task, const zvcrash_async_byteorder* order,
                                               uint64_t address, int64_t offset, uint64_t* result);

struct zvcrash_async_mobject {
    const kernel::Task* task;
    uintptr_t address;     // local address of the first requested byte
    uint64_t target;       // the requested address in the task
    size_t length;         // bytes usable from `address`
    int64_t delta;         // target - local
    uintptr_t vm_address;  // the private mapping
    size_t vm_length;
};

// Maps [address, address + length) of the task. With `require_full` a window that is not wholly
// readable fails with "No memory available"; without, the window ends at the first unreadable page.
zvcrash_error_t zvcrash_async_mobject_init(zvcrash_async_mobject* mobj, const kernel::Task* task, uint64_t address,
                                           uint64_t length, bool require_full);
uint64_t zvcrash_async_mobject_base_address(const zvcrash_async_mobject* mobj);
uint64_t zvcrash_async_mobject_length(const zvcrash_async_mobject* mobj);
const kernel::Task* zvcrash_async_mobject_task(const zvcrash_async_mobject* mobj);
bool zvcrash_async_mobject_verify_local_pointer(const zvcrash_async_mobject* mobj, uintptr_t address, int64_t offset,
                                                size_t length);
// The local pointer for a target range inside the window, or null.
const void* zvcrash_async_mobject_remap_address(const zvcrash_async_mobject* mobj, uint64_t address, int64_t offset,
                                                size_t length);
zvcrash_error_t zvcrash_async_mobject_read_uint8(const zvcrash_async_mobject* mobj, uint64_t address, int64_t offset,
                                                 uint8_t* result);
zvcrash_error_t zvcrash_async_mobject_read_uint16(const zvcrash_async_mobject* mobj,
                                                  const zvcrash_async_byteorder* order, uint64_t address,
                                                  int64_t offset, uint16_t* result);
zvcrash_error_t zvcrash_async_mobject_read_uint32(const zvcrash_async_mobject* mobj,
                                                  const zvcrash_async_byteorder* order, uint64_t address,
                                                  int64_t offset, uint32_t* result);
zvcrash_error_t zvcrash_async_mobject_read_uint64(const zvcrash_async_mobject* mobj,
                                                  const zvcrash_async_byteorder* order, uint64_t address,
                                                  int64_t offset, uint64_t* result);
void zvcrash_async_mobject_free(zvcrash_async_mobject* mobj);

// A task over a buffer that stands at `base` in its address space (tests and fuzzers).
struct zvcrash_buffer_task {
    kernel::Task task;
    uint64_t base;
    const uint8_t* bytes;
    size_t size;
};
void zvcrash_buffer_task_init(zvcrash_buffer_task* task, uint64_t base, const void* bytes, size_t size);

// A one-page read cache in front of a task, for one stack walk: consecutive frame records mostly
// sit on the same page, so a walk costs a copy per page instead of one per record. Valid only while
// the memory behind it holds still (a stopped thread's stack).
//
// A walk of this process from the calling thread's own stack (not a signal's alternate stack)
// reads the part of that stack above the caller directly: it is mapped for as long as the walk
// runs. Everything else (other threads, crash time) goes through checked copies.
struct zvcrash_async_task_cache {
    kernel::Task task;  // reads through the cache
    const kernel::Task* backing;
    uint64_t base;
    size_t valid;
    uint64_t direct_low;  // [direct_low, direct_high) is read in place; empty when low == high
    uint64_t direct_high;
    uint8_t bytes[4096];
};
void zvcrash_async_task_cache_init(zvcrash_async_task_cache* cache, const kernel::Task* backing);
kernel::kern_return_t zvcrash_async_task_cache_read(const kernel::Task* task, uint64_t address, void* dest,
                                                    size_t length);

// Where [address, address + length) can be read in place through `task`, when `task` is a cache
// that reads that range in place; null otherwise (read through the task then).
inline const void* zvcrash_async_task_cache_in_place(const kernel::Task* task, uint64_t address, size_t length) {
    if (task->read != &zvcrash_async_task_cache_read) return nullptr;
    const auto* cache = static_cast<const zvcrash_async_task_cache*>(task->context);
    if (address < cache->direct_low || length > cache->direct_high - cache->direct_low ||
        address - cache->direct_low > cache->direct_high - cache->direct_low - length)
        return nullptr;
    return reinterpret_cast<const void*>(static_cast<uintptr_t>(address));
}

// The calling thread's stack from `from` (an address on it) to its top, when the thread runs on
// its own stack; false on a signal's alternate stack or a stack of unknown extent. A start inside
// the stretch an earlier call of this thread confirmed needs no system call. Async-signal-safe.
bool zvcrash_async_own_stack_above(uint64_t from, uint64_t* top);
