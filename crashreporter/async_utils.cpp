#include "crashreporter/async_utils.h"

#include <cerrno>
#include <cstring>
#include <sys/syscall.h>
#include <unistd.h>

const char* zvcrash_async_strerror(zvcrash_error_t error) {
    switch (error) {
        case ZVCRASH_ESUCCESS:
            return "No error";
        case ZVCRASH_EUNKNOWN:
            return "Unknown error";
        case ZVCRASH_OUTPUT_ERR:
            return "Output file can not be opened (or written to)";
        case ZVCRASH_ENOMEM:
            return "No memory available";
        case ZVCRASH_ENOTSUP:
            return "Operation not supported";
        case ZVCRASH_EINVAL:
            return "Invalid argument";
        case ZVCRASH_EINTERNAL:
            return "Internal error";
        case ZVCRASH_EACCESS:
            return "Access denied";
        case ZVCRASH_ENOTFOUND:
            return "Not found";
        case ZVCRASH_EINVALID_DATA:
            return "The input data is in an unknown or invalid format.";
    }
    return "Unhandled error code";
}

kernel::thread_t zvcrash_async_mach_thread_self() { return kernel::thread_self(); }

bool zvcrash_async_address_apply_offset(uint64_t address, int64_t offset, uint64_t* result) {
    if (offset >= 0) {
        uint64_t add = static_cast<uint64_t>(offset);
        if (address > UINT64_MAX - add) return false;
        *result = address + add;
    } else {
        uint64_t sub = static_cast<uint64_t>(-(offset + 1)) + 1;
        if (address < sub) return false;
        *result = address - sub;
    }
    return true;
}

// memcpy and memset are on the list of async-signal-safe functions (they take no lock), and a
// byte loop costs a microsecond per register state copied; the stack walk copies several a frame.
void* zvcrash_async_memcpy(void* dest, const void* source, size_t n) {
    if (n > 0) std::memcpy(dest, source, n);
    return dest;
}

void* zvcrash_async_memset(void* dest, uint8_t value, size_t n) {
    if (n > 0) std::memset(dest, value, n);
    return dest;
}

int zvcrash_async_strncmp(const char* a, const char* b, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        auto ca = static_cast<unsigned char>(a[i]);
        auto cb = static_cast<unsigned char>(b[i]);
        if (ca != cb) return ca < cb ? -1 : 1;
        if (ca == 0) return 0;
    }
    return 0;
}

size_t zvcrash_async_strlen(const char* s) {
    size_t n = 0;
    while (s[n]) ++n;
    return n;
}

void zvcrash_async_format_hash_int(char* out, size_t size, int32_t value) {
    char digits[12];
    size_t count = 0;
    int64_t v = value;
    bool negative = v < 0;
    if (negative) v = -v;
    do {
        digits[count++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v > 0);
    size_t at = 0;
    if (at + 1 < size) out[at++] = '#';
    if (negative && at + 1 < size) out[at++] = '-';
    while (count > 0 && at + 1 < size) out[at++] = digits[--count];
    if (size > 0) out[at] = '\0';
}

ssize_t zvcrash_async_writen(int fd, const void* data, size_t length) {
    const auto* p = static_cast<const uint8_t*>(data);
    size_t left = length;
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) continue;
            return -1;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(length);
}
