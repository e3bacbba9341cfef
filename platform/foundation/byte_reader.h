// A bounded little-endian (or, asked for, big-endian) reader over a byte span with a sticky first error: once a read
// would pass the end, it and every later read answer 0 (or an empty span), and the reader keeps what was being read and
// where, so a caller checks once after a run of reads and can say what was wrong.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace foundation {

class ByteReader {
public:
    // The first failure: the field being read (static text) and the offset it was read at.
    struct Fault {
        const char* field = nullptr;
        size_t offset = 0;
    };

    explicit ByteReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}
    ByteReader(std::span<const uint8_t> bytes, size_t offset) : bytes_(bytes) { seek(offset, "offset"); }

    bool ok() const { return fault_.field == nullptr; }
    const Fault& fault() const { return fault_; }
    size_t position() const { return pos_; }
    size_t size() const { return bytes_.size(); }
    size_t remaining() const { return bytes_.size() - pos_; }
    bool atEnd() const { return pos_ == bytes_.size(); }

    // Records a failure at the current position (only the first one stays).
    void fail(const char* field) { failAt(field, pos_); }

    void seek(size_t offset, const char* field = "offset") {
        if (!ok()) return;
        if (offset > bytes_.size()) return failAt(field, offset);
        pos_ = offset;
    }
    void skip(size_t n, const char* field = "skipped bytes") {
        if (take(n, field)) pos_ += n;
    }

    uint8_t u8(const char* field = "byte") {
        if (!take(1, field)) return 0;
        return bytes_[pos_++];
    }
    uint16_t u16le(const char* field = "16-bit value") { return static_cast<uint16_t>(little(2, field)); }
    uint32_t u32le(const char* field = "32-bit value") { return static_cast<uint32_t>(little(4, field)); }
    uint64_t u64le(const char* field = "64-bit value") { return little(8, field); }
    uint16_t u16be(const char* field = "16-bit value") { return static_cast<uint16_t>(big(2, field)); }
    uint32_t u32be(const char* field = "32-bit value") { return static_cast<uint32_t>(big(4, field)); }
    uint64_t u64be(const char* field = "64-bit value") { return big(8, field); }

    // A base-128 varint of at most ten bytes (protocol buffers, LEB128).
    uint64_t varint(const char* field = "varint") {
        const size_t start = pos_;
        uint64_t v = 0;
        for (int shift = 0; shift < 70 && ok(); shift += 7) {
            if (pos_ >= bytes_.size()) break;
            const uint8_t b = bytes_[pos_++];
            if (shift < 64) v |= static_cast<uint64_t>(b & 0x7f) << shift;
            if (!(b & 0x80)) return v;
        }
        if (ok()) failAt(field, start);
        return 0;
    }

    std::span<const uint8_t> bytes(size_t n, const char* field = "bytes") {
        if (!take(n, field)) return {};
        auto out = bytes_.subspan(pos_, n);
        pos_ += n;
        return out;
    }

    // True when the next bytes are `literal`; anything else is a failure of `field`.
    bool expect(std::string_view literal, const char* field) {
        const size_t start = pos_;
        auto got = bytes(literal.size(), field);
        if (!ok()) return false;
        if (std::string_view(reinterpret_cast<const char*>(got.data()), got.size()) != literal) {
            failAt(field, start);
            return false;
        }
        return true;
    }

    // Text up to a NUL (consumed), at most `limit` bytes, never past the end: a string cut by the
    // end of the bytes is returned as far as it goes, which formats that pad with zeros rely on.
    std::string_view cstring(size_t limit = SIZE_MAX) {
        if (!ok()) return {};
        const size_t start = pos_;
        while (pos_ < bytes_.size() && pos_ - start < limit && bytes_[pos_] != 0) ++pos_;
        std::string_view out(reinterpret_cast<const char*>(bytes_.data()) + start, pos_ - start);
        if (pos_ < bytes_.size() && bytes_[pos_] == 0) ++pos_;
        return out;
    }

private:
    bool take(size_t n, const char* field) {
        if (!ok()) return false;
        if (n > bytes_.size() - pos_) {
            failAt(field, pos_);
            return false;
        }
        return true;
    }
    uint64_t little(size_t n, const char* field) {
        if (!take(n, field)) return 0;
        uint64_t v = 0;
        for (size_t i = 0; i < n; ++i) v |= static_cast<uint64_t>(bytes_[pos_ + i]) << (8 * i);
        pos_ += n;
        return v;
    }
    uint64_t big(size_t n, const char* field) {
        if (!take(n, field)) return 0;
        uint64_t v = 0;
        for (size_t i = 0; i < n; ++i) v = (v << 8) | bytes_[pos_ + i];
        pos_ += n;
        return v;
    }
    void failAt(const char* field, size_t offset) {
        if (!ok()) return;
        fault_ = Fault{field, offset};
    }

    std::span<const uint8_t> bytes_;
    size_t pos_ = 0;
    Fault fault_;
};

}  // namespace foundation
