// The crash-time bounded reader: a cursor over a window of a task's memory with a sticky first
// error. A window is either addressable here (a memory object's private copy, or an image of this
// process read in place) or copied from the task on demand through a small line cache. Once a read
// fails, it and every later read answer 0 and keep the first failure: its result code, the field
// that was being read and where, so callers check once after a run of reads and can say why.
// No heap, no locks: async-signal-safe.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crashreporter/async_utils.h"
#include "crashreporter/task_memory.h"

// The first failure of a read: result code, the field being read (static text), and the task
// address it was read at.
struct zvcrash_async_fault {
    zvcrash_error_t code;
    const char* field;
    uint64_t address;
};

inline void zvcrash_async_fault_clear(zvcrash_async_fault* fault) {
    fault->code = ZVCRASH_ESUCCESS;
    fault->field = nullptr;
    fault->address = 0;
}

// Keeps only the first failure.
inline void zvcrash_async_fault_set(zvcrash_async_fault* fault, zvcrash_error_t code, const char* field,
                                    uint64_t address) {
    if (fault->code != ZVCRASH_ESUCCESS) return;
    fault->code = code;
    fault->field = field;
    fault->address = address;
}

// A few lines of task memory copied at a time: call-frame data is read a few bytes at a time, and
// one copy per line keeps that from costing a system call per byte.
struct zvcrash_async_line_cache {
    static constexpr int kLines = 4;
    static constexpr uint32_t kLineSize = 1024;
    uint64_t line_base[kLines];
    uint32_t line_len[kLines];
    uint32_t victim;
    uint8_t lines[kLines][kLineSize];
};

void zvcrash_async_line_cache_init(zvcrash_async_line_cache* cache);

struct zvcrash_async_reader {
    const kernel::Task* task;
    uint64_t start;                   // task address of the window's first byte
    uint64_t end;                     // one past its last
    uint64_t pos;                     // task address of the next byte
    const uint8_t* local;             // when set, task address a lies at local + (a - start)
    zvcrash_async_line_cache* cache;  // otherwise copied through this, or straight when null
    const zvcrash_async_byteorder* order;
    zvcrash_async_fault fault;
};

// Over a memory object's window (the whole of it), positioned at its start.
void zvcrash_async_reader_init_mobject(zvcrash_async_reader* reader, const zvcrash_async_mobject* mobj,
                                       const zvcrash_async_byteorder* order);
// Over [start, end) of a task, copied on demand through `cache` (may be null).
void zvcrash_async_reader_init_task(zvcrash_async_reader* reader, const kernel::Task* task, uint64_t start,
                                    uint64_t end, zvcrash_async_line_cache* cache,
                                    const zvcrash_async_byteorder* order);

inline bool zvcrash_async_reader_ok(const zvcrash_async_reader* reader) {
    return reader->fault.code == ZVCRASH_ESUCCESS;
}
inline zvcrash_error_t zvcrash_async_reader_error(const zvcrash_async_reader* reader) { return reader->fault.code; }

// Records a failure of `field` at the current position (only the first failure stays).
inline void zvcrash_async_reader_fail(zvcrash_async_reader* reader, zvcrash_error_t code, const char* field) {
    zvcrash_async_fault_set(&reader->fault, code, field, reader->pos);
}

// Moves to a task address inside the window (its end included); outside -> "Invalid argument".
void zvcrash_async_reader_seek(zvcrash_async_reader* reader, uint64_t address, const char* field);
// Moves by `count` bytes, which must stay inside the window.
void zvcrash_async_reader_skip(zvcrash_async_reader* reader, uint64_t count, const char* field);

// Copies `length` bytes at the position and moves past them. Outside the window -> "Invalid
// argument"; unreadable task memory -> the task's error. On failure `dest` is zeroed.
bool zvcrash_async_reader_copy(zvcrash_async_reader* reader, void* dest, size_t length, const char* field);

uint8_t zvcrash_async_reader_u8_copied(zvcrash_async_reader* reader, const char* field);
// Inline for bytes read in place: call-frame programs are read a byte at a time.
inline uint8_t zvcrash_async_reader_u8(zvcrash_async_reader* reader, const char* field) {
    if (reader->local && reader->pos < reader->end && zvcrash_async_reader_ok(reader))
        return reader->local[reader->pos++ - reader->start];
    return zvcrash_async_reader_u8_copied(reader, field);
}
uint16_t zvcrash_async_reader_u16(zvcrash_async_reader* reader, const char* field);
uint32_t zvcrash_async_reader_u32(zvcrash_async_reader* reader, const char* field);
uint64_t zvcrash_async_reader_u64(zvcrash_async_reader* reader, const char* field);
// An unsigned value of 1, 2, 4 or 8 bytes; another width -> "Invalid argument".
uint64_t zvcrash_async_reader_uint(zvcrash_async_reader* reader, int width, const char* field);
// LEB128 of at most ten bytes; a longer run of continuation bytes -> "Operation not supported".
uint64_t zvcrash_async_reader_uleb128(zvcrash_async_reader* reader, const char* field);
int64_t zvcrash_async_reader_sleb128(zvcrash_async_reader* reader, const char* field);
