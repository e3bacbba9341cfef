#include "crashreporter/async_file.h"

#include <unistd.h>

#include "crashreporter/async_utils.h"

void zvcrash_async_file_init(zvcrash_async_file_t* file, int fd, uint64_t limit_bytes) {
    file->fd = fd;
    file->limit_bytes = limit_bytes;
    file->total_bytes = 0;
    file->buflen = 0;
    file->refused = false;
    file->failed = false;
}

bool zvcrash_async_file_write(zvcrash_async_file_t* file, const void* data, size_t length) {
    if (file->refused || file->failed) return false;
    if (file->limit_bytes != 0 && file->total_bytes + length > file->limit_bytes) {
        // Accepting a later, smaller write would leave the stream with a length prefix that no
        // longer matches what follows it; once one write is refused, the output ends here.
        file->refused = true;
        return false;
    }
    file->total_bytes += length;
    if (file->buflen + length > sizeof file->buffer) {
        if (!zvcrash_async_file_flush(file)) return false;
    }
    if (length > sizeof file->buffer) {
        if (zvcrash_async_writen(file->fd, data, length) >= 0) return true;
        file->failed = true;
        return false;
    }
    zvcrash_async_memcpy(file->buffer + file->buflen, data, length);
    file->buflen += length;
    return true;
}

bool zvcrash_async_file_flush(zvcrash_async_file_t* file) {
    if (file->failed) return false;
    if (file->buflen == 0) return true;
    ssize_t n = zvcrash_async_writen(file->fd, file->buffer, file->buflen);
    file->buflen = 0;
    if (n < 0) file->failed = true;
    return n >= 0;
}

bool zvcrash_async_file_close(zvcrash_async_file_t* file) {
    bool flushed = zvcrash_async_file_flush(file);
    bool closed = ::close(file->fd) == 0;
    return flushed && closed;
}

namespace {

size_t putVarint(uint8_t* out, uint64_t value) {
    size_t n = 0;
    while (value >= 0x80) {
        out[n++] = static_cast<uint8_t>(value | 0x80);
        value >>= 7;
    }
    out[n++] = static_cast<uint8_t>(value);
    return n;
}

size_t putFixed(uint8_t* out, uint64_t value, size_t width) {
    for (size_t i = 0; i < width; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
    return width;
}

template <typename T>
T load(const void* p) {
    T v;
    zvcrash_async_memcpy(&v, p, sizeof v);
    return v;
}

}  // namespace

size_t zvcrash_writer_pack(zvcrash_async_file_t* file, uint32_t field_id, int type, const void* value) {
    uint8_t scratch[32];
    uint32_t wire = 0;
    switch (type) {
        case ZVCRASH_FIELD_SFIXED32:
        case ZVCRASH_FIELD_FIXED32:
        case ZVCRASH_FIELD_FLOAT:
            wire = 5;
            break;
        case ZVCRASH_FIELD_SFIXED64:
        case ZVCRASH_FIELD_FIXED64:
        case ZVCRASH_FIELD_DOUBLE:
            wire = 1;
            break;
        case ZVCRASH_FIELD_STRING:
        case ZVCRASH_FIELD_BYTES:
        case ZVCRASH_FIELD_MESSAGE:
            wire = 2;
            break;
        default:
            wire = 0;
            break;
    }
    size_t n = putVarint(scratch, (static_cast<uint64_t>(field_id) << 3) | wire);
    const void* payload = nullptr;
    size_t payloadLength = 0;
    switch (type) {
        case ZVCRASH_FIELD_INT32: {
            int32_t v = load<int32_t>(value);
            n += putVarint(scratch + n, static_cast<uint64_t>(static_cast<int64_t>(v)));
            break;
        }
        case ZVCRASH_FIELD_SINT32: {
            int32_t v = load<int32_t>(value);
            n += putVarint(scratch + n, (static_cast<uint32_t>(v) << 1) ^ static_cast<uint32_t>(v >> 31));
            break;
        }
        case ZVCRASH_FIELD_SINT64: {
            int64_t v = load<int64_t>(value);
            n += putVarint(scratch + n, (static_cast<uint64_t>(v) << 1) ^ static_cast<uint64_t>(v >> 63));
            break;
        }
        case ZVCRASH_FIELD_UINT32:
        case ZVCRASH_FIELD_ENUM:
            n += putVarint(scratch + n, load<uint32_t>(value));
            break;
        case ZVCRASH_FIELD_INT64:
        case ZVCRASH_FIELD_UINT64:
            n += putVarint(scratch + n, load<uint64_t>(value));
            break;
        case ZVCRASH_FIELD_SFIXED32:
        case ZVCRASH_FIELD_FIXED32:
        case ZVCRASH_FIELD_FLOAT:
            n += putFixed(scratch + n, load<uint32_t>(value), 4);
            break;
        case ZVCRASH_FIELD_SFIXED64:
        case ZVCRASH_FIELD_FIXED64:
        case ZVCRASH_FIELD_DOUBLE:
            n += putFixed(scratch + n, load<uint64_t>(value), 8);
            break;
        case ZVCRASH_FIELD_BOOL:
            scratch[n++] = load<uint8_t>(value);
            break;
        case ZVCRASH_FIELD_STRING: {
            const char* s = static_cast<const char*>(value);
            payloadLength = zvcrash_async_strlen(s);
            payload = s;
            n += putVarint(scratch + n, payloadLength);
            break;
        }
        case ZVCRASH_FIELD_BYTES: {
            auto pair = load<zvcrash_data_pair>(value);
            payloadLength = static_cast<uint32_t>(pair.len);
            payload = pair.data;
            n += putVarint(scratch + n, static_cast<uint32_t>(pair.len));
            break;
        }
        case ZVCRASH_FIELD_MESSAGE:
            n += putVarint(scratch + n, load<uint32_t>(value));
            break;
        default:
            return 0;
    }
    if (file) {
        zvcrash_async_file_write(file, scratch, n);
        if (payloadLength > 0) zvcrash_async_file_write(file, payload, payloadLength);
    }
    return n + payloadLength;
}
