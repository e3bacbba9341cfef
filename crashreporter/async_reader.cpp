#include "crashreporter/async_reader.h"

void zvcrash_async_line_cache_init(zvcrash_async_line_cache* cache) {
    for (int i = 0; i < zvcrash_async_line_cache::kLines; ++i) {
        cache->line_base[i] = 0;
        cache->line_len[i] = 0;
    }
    cache->victim = 0;
}

void zvcrash_async_reader_init_mobject(zvcrash_async_reader* reader, const zvcrash_async_mobject* mobj,
                                       const zvcrash_async_byteorder* order) {
    reader->task = mobj->task;
    reader->start = mobj->target;
    reader->end = mobj->target + mobj->length;
    reader->pos = mobj->target;
    reader->local = reinterpret_cast<const uint8_t*>(mobj->address);
    reader->cache = nullptr;
    reader->order = order;
    zvcrash_async_fault_clear(&reader->fault);
}

void zvcrash_async_reader_init_task(zvcrash_async_reader* reader, const kernel::Task* task, uint64_t start,
                                    uint64_t end, zvcrash_async_line_cache* cache,
                                    const zvcrash_async_byteorder* order) {
    reader->task = task;
    reader->start = start;
    reader->end = end < start ? start : end;
    reader->pos = start;
    reader->local = nullptr;
    reader->cache = cache;
    reader->order = order;
    zvcrash_async_fault_clear(&reader->fault);
}

void zvcrash_async_reader_seek(zvcrash_async_reader* reader, uint64_t address, const char* field) {
    if (!zvcrash_async_reader_ok(reader)) return;
    if (address < reader->start || address > reader->end) {
        zvcrash_async_fault_set(&reader->fault, ZVCRASH_EINVAL, field, address);
        return;
    }
    reader->pos = address;
}

void zvcrash_async_reader_skip(zvcrash_async_reader* reader, uint64_t count, const char* field) {
    if (!zvcrash_async_reader_ok(reader)) return;
    if (count > reader->end - reader->pos) {
        zvcrash_async_reader_fail(reader, ZVCRASH_EINVAL, field);
        return;
    }
    reader->pos += count;
}

namespace {

// Copies [address, address + length) of the task through the line cache.
zvcrash_error_t copyCached(zvcrash_async_reader* reader, uint64_t address, void* dest, size_t length) {
    zvcrash_async_line_cache* cache = reader->cache;
    if (!cache) return zvcrash_async_task_memcpy(reader->task, address, 0, dest, length);
    for (int i = 0; i < zvcrash_async_line_cache::kLines; ++i) {
        const uint64_t base = cache->line_base[i];
        if (cache->line_len[i] && address >= base && address - base <= cache->line_len[i] &&
            length <= cache->line_len[i] - (address - base)) {
            zvcrash_async_memcpy(dest, cache->lines[i] + (address - base), length);
            return ZVCRASH_ESUCCESS;
        }
    }
    if (length > zvcrash_async_line_cache::kLineSize)
        return zvcrash_async_task_memcpy(reader->task, address, 0, dest, length);
    const uint32_t slot = cache->victim;
    cache->victim = (cache->victim + 1) % zvcrash_async_line_cache::kLines;
    uint64_t fill = reader->end - address;
    if (fill > zvcrash_async_line_cache::kLineSize) fill = zvcrash_async_line_cache::kLineSize;
    // A line never crosses into the next page unless it must: the page after may be unmapped.
    const uint64_t page = kernel::vm_page_size();
    const uint64_t toPage = page - (address & (page - 1));
    if (fill > toPage && length <= toPage) fill = toPage;
    cache->line_len[slot] = 0;
    if (zvcrash_async_task_memcpy(reader->task, address, 0, cache->lines[slot], fill) != ZVCRASH_ESUCCESS) {
        return zvcrash_async_task_memcpy(reader->task, address, 0, dest, length);
    }
    cache->line_base[slot] = address;
    cache->line_len[slot] = static_cast<uint32_t>(fill);
    zvcrash_async_memcpy(dest, cache->lines[slot], length);
    return ZVCRASH_ESUCCESS;
}

}  // namespace

bool zvcrash_async_reader_copy(zvcrash_async_reader* reader, void* dest, size_t length, const char* field) {
    if (zvcrash_async_reader_ok(reader)) {
        const uint64_t at = reader->pos;
        if (length > reader->end - at) {
            zvcrash_async_reader_fail(reader, ZVCRASH_EINVAL, field);
        } else if (reader->local) {
            const uint8_t* from = reader->local + (at - reader->start);
            auto* to = static_cast<uint8_t*>(dest);
            for (size_t i = 0; i < length; ++i) to[i] = from[i];
            reader->pos += length;
            return true;
        } else {
            const zvcrash_error_t err = copyCached(reader, at, dest, length);
            if (err == ZVCRASH_ESUCCESS) {
                reader->pos += length;
                return true;
            }
            zvcrash_async_reader_fail(reader, err, field);
        }
    }
    zvcrash_async_memset(dest, 0, length);
    return false;
}

uint8_t zvcrash_async_reader_u8_copied(zvcrash_async_reader* reader, const char* field) {
    uint8_t v;
    zvcrash_async_reader_copy(reader, &v, 1, field);
    return v;
}

namespace {

// A fixed-width value at the position; in place (this process's own bytes) without the copy loop.
template <typename T>
T readFixed(zvcrash_async_reader* reader, const char* field, T (*swap)(T)) {
    T v;
    if (reader->local && sizeof(T) <= reader->end - reader->pos && zvcrash_async_reader_ok(reader)) {
        __builtin_memcpy(&v, reader->local + (reader->pos - reader->start), sizeof v);
        reader->pos += sizeof v;
        return swap(v);
    }
    return zvcrash_async_reader_copy(reader, &v, sizeof v, field) ? swap(v) : 0;
}

}  // namespace

uint16_t zvcrash_async_reader_u16(zvcrash_async_reader* reader, const char* field) {
    return readFixed<uint16_t>(reader, field, reader->order->swap16);
}

uint32_t zvcrash_async_reader_u32(zvcrash_async_reader* reader, const char* field) {
    return readFixed<uint32_t>(reader, field, reader->order->swap32);
}

uint64_t zvcrash_async_reader_u64(zvcrash_async_reader* reader, const char* field) {
    return readFixed<uint64_t>(reader, field, reader->order->swap64);
}

uint64_t zvcrash_async_reader_uint(zvcrash_async_reader* reader, int width, const char* field) {
    switch (width) {
        case 1:
            return zvcrash_async_reader_u8(reader, field);
        case 2:
            return zvcrash_async_reader_u16(reader, field);
        case 4:
            return zvcrash_async_reader_u32(reader, field);
        case 8:
            return zvcrash_async_reader_u64(reader, field);
        default:
            zvcrash_async_reader_fail(reader, ZVCRASH_EINVAL, field);
            return 0;
    }
}

namespace {

// Both LEB128 forms: the low bits, how many bits were shifted in, and the last byte (whose 0x40
// bit carries the sign of the signed form).
uint64_t readLeb128(zvcrash_async_reader* reader, const char* field, unsigned* shifted, uint8_t* last) {
    const uint64_t start = reader->pos;
    uint64_t result = 0;
    unsigned shift = 0;
    for (int i = 0; i < 10; ++i) {
        const uint8_t byte = zvcrash_async_reader_u8(reader, field);
        if (!zvcrash_async_reader_ok(reader)) return 0;
        if (shift < 64) result |= static_cast<uint64_t>(byte & 0x7F) << shift;
        shift += 7;
        if (!(byte & 0x80)) {
            *shifted = shift;
            *last = byte;
            return result;
        }
    }
    zvcrash_async_fault_set(&reader->fault, ZVCRASH_ENOTSUP, field, start);
    return 0;
}

}  // namespace

uint64_t zvcrash_async_reader_uleb128(zvcrash_async_reader* reader, const char* field) {
    unsigned shift;
    uint8_t last;
    return readLeb128(reader, field, &shift, &last);
}

int64_t zvcrash_async_reader_sleb128(zvcrash_async_reader* reader, const char* field) {
    unsigned shift = 0;
    uint8_t last = 0;
    uint64_t result = readLeb128(reader, field, &shift, &last);
    if (!zvcrash_async_reader_ok(reader)) return 0;
    if (shift < 64 && (last & 0x40)) result |= ~0ULL << shift;
    return static_cast<int64_t>(result);
}
