// Result codes and the small routines the crash-time code uses: nothing here takes a lock or
// allocates. Everything here is async-signal-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <sys/types.h>

#include "platform/kernel/mach.h"

enum zvcrash_error_t : int {
    ZVCRASH_ESUCCESS = 0,
    ZVCRASH_EUNKNOWN = 1,
    ZVCRASH_OUTPUT_ERR = 2,
    ZVCRASH_ENOMEM = 3,
    ZVCRASH_ENOTSUP = 4,
    ZVCRASH_EINVAL = 5,
    ZVCRASH_EINTERNAL = 6,
    ZVCRASH_EACCESS = 7,
    ZVCRASH_ENOTFOUND = 8,
    ZVCRASH_EINVALID_DATA = 9,
};

const char* zvcrash_async_strerror(zvcrash_error_t error);

kernel::thread_t zvcrash_async_mach_thread_self();

// False when address + offset would wrap past either end of the address space.
bool zvcrash_async_address_apply_offset(uint64_t address, int64_t offset, uint64_t* result);

void* zvcrash_async_memcpy(void* dest, const void* source, size_t n);
void* zvcrash_async_memset(void* dest, uint8_t value, size_t n);
int zvcrash_async_strncmp(const char* a, const char* b, size_t n);
size_t zvcrash_async_strlen(const char* s);

// Writes "#" and the decimal value into `out` (NUL-terminated; `size` of at least 13 holds any
// int32). Stands in for snprintf, which is not async-signal-safe.
void zvcrash_async_format_hash_int(char* out, size_t size, int32_t value);

// Writes every byte, retrying on EINTR; -1 on failure.
ssize_t zvcrash_async_writen(int fd, const void* data, size_t length);
