// The crash-time output: a descriptor behind a 256-byte buffer with an optional byte limit, and
// the protocol-buffers field encoder that writes through it. Async-signal-safe.
#pragma once

#include <cstddef>
#include <cstdint>

struct zvcrash_async_file_t {
    int fd;
    uint64_t limit_bytes;  // 0 = unlimited
    uint64_t total_bytes;  // bytes accepted so far
    size_t buflen;         // bytes held in the buffer
    bool refused;          // a write was refused: every later one is too, so no length prefix lies
    bool failed;           // the descriptor failed a write: every later write is refused and close
                           // answers false, so a damaged report is never reported as written
    uint8_t buffer[256];
};

void zvcrash_async_file_init(zvcrash_async_file_t* file, int fd, uint64_t limit_bytes);
bool zvcrash_async_file_write(zvcrash_async_file_t* file, const void* data, size_t length);
bool zvcrash_async_file_flush(zvcrash_async_file_t* file);
// Flushes and closes the descriptor; false when any write or flush of the file failed.
bool zvcrash_async_file_close(zvcrash_async_file_t* file);

// Field type codes (protobuf-c's numbering).
enum zvcrash_field_type : int {
    ZVCRASH_FIELD_INT32 = 0,
    ZVCRASH_FIELD_SINT32 = 1,
    ZVCRASH_FIELD_SFIXED32 = 2,
    ZVCRASH_FIELD_INT64 = 3,
    ZVCRASH_FIELD_SINT64 = 4,
    ZVCRASH_FIELD_SFIXED64 = 5,
    ZVCRASH_FIELD_UINT32 = 6,
    ZVCRASH_FIELD_FIXED32 = 7,
    ZVCRASH_FIELD_UINT64 = 8,
    ZVCRASH_FIELD_FIXED64 = 9,
    ZVCRASH_FIELD_FLOAT = 10,
    ZVCRASH_FIELD_DOUBLE = 11,
    ZVCRASH_FIELD_BOOL = 12,
    ZVCRASH_FIELD_ENUM = 13,
    ZVCRASH_FIELD_STRING = 14,
    ZVCRASH_FIELD_BYTES = 15,
    ZVCRASH_FIELD_MESSAGE = 16,
};

// A length and the bytes it counts.
struct zvcrash_data_pair {
    size_t len;
    const void* data;
};

// Encodes one field. `value` points at the field's value: the integer of the type's width, a
// NUL-terminated string (14), a zvcrash_data_pair (15), or the body's uint32_t length (16, only the
// tag and the length are written). Returns the encoded size; with no file only the size is computed.
size_t zvcrash_writer_pack(zvcrash_async_file_t* file, uint32_t field_id, int type, const void* value);
