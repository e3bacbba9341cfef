#include "platform/store/value_codec.h"

#include <cstring>

namespace store {
namespace {

constexpr uint8_t kMagic = 0xB1;
constexpr int kMaxDepth = 128;

enum Tag : uint8_t { Null, False, True, Int, Double, String, Bytes, Date, Array, Dictionary, IntKey, StringKey };

void putVarint(foundation::Data& out, uint64_t v) {
    while (v >= 0x80) {
        out.push_back(static_cast<uint8_t>(v | 0x80));
        v >>= 7;
    }
    out.push_back(static_cast<uint8_t>(v));
}

void put64(foundation::Data& out, uint64_t v) {
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void putBytes(foundation::Data& out, const void* p, size_t n) {
    putVarint(out, n);
    auto b = static_cast<const uint8_t*>(p);
    out.insert(out.end(), b, b + n);
}

void encode(foundation::Data& out, const foundation::Value& v) {
    using T = foundation::Value::Type;
    switch (v.type()) {
        case T::Null:
            out.push_back(Null);
            break;
        case T::Bool:
            out.push_back(*v.ifBool() ? True : False);
            break;
        case T::Int:
            out.push_back(Int);
            put64(out, static_cast<uint64_t>(*v.ifInt()));
            break;
        case T::Double: {
            out.push_back(Double);
            uint64_t bits;
            std::memcpy(&bits, v.ifDouble(), 8);
            put64(out, bits);
            break;
        }
        case T::String:
            out.push_back(String);
            putBytes(out, v.ifString()->data(), v.ifString()->size());
            break;
        case T::Data:
            out.push_back(Bytes);
            putBytes(out, v.ifData()->data(), v.ifData()->size());
            break;
        case T::Date: {
            out.push_back(Date);
            uint64_t bits;
            std::memcpy(&bits, &v.ifDate()->secondsSince1970, 8);
            put64(out, bits);
            break;
        }
        case T::Array:
            out.push_back(Array);
            putVarint(out, v.ifArray()->size());
            for (const auto& e : *v.ifArray()) encode(out, e);
            break;
        case T::Dictionary:
            out.push_back(Dictionary);
            putVarint(out, v.ifDictionary()->size());
            for (const auto& [key, value] : *v.ifDictionary()) {
                if (key.isNumber()) {
                    out.push_back(IntKey);
                    put64(out, static_cast<uint64_t>(key.number()));
                } else {
                    out.push_back(StringKey);
                    putBytes(out, key.string().data(), key.string().size());
                }
                encode(out, value);
            }
            break;
    }
}

struct Reader {
    std::span<const uint8_t> in;
    size_t pos = 0;

    bool byte(uint8_t& b) {
        if (pos >= in.size()) return false;
        b = in[pos++];
        return true;
    }
    bool varint(uint64_t& v) {
        v = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            uint8_t b;
            if (!byte(b)) return false;
            v |= static_cast<uint64_t>(b & 0x7f) << shift;
            if (!(b & 0x80)) return true;
        }
        return false;
    }
    bool fixed64(uint64_t& v) {
        if (in.size() - pos < 8) return false;
        v = 0;
        for (int i = 0; i < 8; ++i) v |= static_cast<uint64_t>(in[pos + i]) << (8 * i);
        pos += 8;
        return true;
    }
    bool bytes(std::span<const uint8_t>& out) {
        uint64_t n;
        if (!varint(n) || n > in.size() - pos) return false;
        out = in.subspan(pos, n);
        pos += n;
        return true;
    }
    // A count of elements that each take at least one byte, so a forged count cannot make us
    // reserve more than the input could hold.
    bool count(uint64_t& n) { return varint(n) && n <= in.size() - pos; }

    bool value(foundation::Value& out, int depth) {
        if (depth > kMaxDepth) return false;
        uint8_t tag;
        if (!byte(tag)) return false;
        switch (tag) {
            case Null:
                out = foundation::Value();
                return true;
            case False:
                out = false;
                return true;
            case True:
                out = true;
                return true;
            case Int: {
                uint64_t v;
                if (!fixed64(v)) return false;
                out = static_cast<int64_t>(v);
                return true;
            }
            case Double:
            case Date: {
                uint64_t bits;
                if (!fixed64(bits)) return false;
                double d;
                std::memcpy(&d, &bits, 8);
                if (tag == Double)
                    out = d;
                else
                    out = foundation::Date{d};
                return true;
            }
            case String:
            case Bytes: {
                std::span<const uint8_t> b;
                if (!bytes(b)) return false;
                if (tag == String)
                    out = std::string(b.begin(), b.end());
                else
                    out = foundation::Data(b.begin(), b.end());
                return true;
            }
            case Array: {
                uint64_t n;
                if (!count(n)) return false;
                foundation::Array a;
                a.reserve(n);
                for (uint64_t i = 0; i < n; ++i) {
                    foundation::Value e;
                    if (!value(e, depth + 1)) return false;
                    a.push_back(std::move(e));
                }
                out = std::move(a);
                return true;
            }
            case Dictionary: {
                uint64_t n;
                if (!count(n)) return false;
                foundation::Dictionary d;
                for (uint64_t i = 0; i < n; ++i) {
                    uint8_t keyTag;
                    if (!byte(keyTag)) return false;
                    std::optional<foundation::Key> key;
                    if (keyTag == IntKey) {
                        uint64_t k;
                        if (!fixed64(k)) return false;
                        key.emplace(static_cast<int64_t>(k));
                    } else if (keyTag == StringKey) {
                        std::span<const uint8_t> b;
                        if (!bytes(b)) return false;
                        key.emplace(std::string(b.begin(), b.end()));
                    } else {
                        return false;
                    }
                    foundation::Value e;
                    if (!value(e, depth + 1)) return false;
                    d.set(*key, std::move(e));
                }
                out = std::move(d);
                return true;
            }
            default:
                return false;
        }
    }
};

}  // namespace

foundation::Data encodeValue(const foundation::Value& value) {
    foundation::Data out;
    out.push_back(kMagic);
    encode(out, value);
    return out;
}

foundation::Result<foundation::Value> decodeValue(std::span<const uint8_t> bytes) {
    Reader r{bytes};
    uint8_t magic;
    foundation::Value v;
    if (!r.byte(magic) || magic != kMagic || !r.value(v, 0) || r.pos != bytes.size()) {
        return foundation::Error::withDescription(foundation::kCocoaErrorDomain, 4864, "The stored value is damaged.");
    }
    return v;
}

// ---------------------------------------------------------------- packed rows

namespace {

using ValueType = foundation::Value::Type;

uint32_t read32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

void write32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

// The payload of v as packed: its bytes, a number's in scalar, or (for an array or a dictionary)
// its byte form in encoded; the caller keeps both until the payload is copied.
std::string_view payloadOf(const foundation::Value& v, foundation::Data& encoded, uint8_t (&scalar)[8]) {
    switch (v.type()) {
        case ValueType::Null:
            return {};
        case ValueType::Bool:
            scalar[0] = *v.ifBool() ? 1 : 0;
            return {reinterpret_cast<const char*>(scalar), 1};
        case ValueType::Int:
            std::memcpy(scalar, v.ifInt(), 8);
            return {reinterpret_cast<const char*>(scalar), 8};
        case ValueType::Double:
            std::memcpy(scalar, v.ifDouble(), 8);
            return {reinterpret_cast<const char*>(scalar), 8};
        case ValueType::Date:
            std::memcpy(scalar, &v.ifDate()->secondsSince1970, 8);
            return {reinterpret_cast<const char*>(scalar), 8};
        case ValueType::String:
            return *v.ifString();
        case ValueType::Data:
            return {reinterpret_cast<const char*>(v.ifData()->data()), v.ifData()->size()};
        case ValueType::Array:
        case ValueType::Dictionary:
            encoded = encodeValue(v);
            return {reinterpret_cast<const char*>(encoded.data()), encoded.size()};
    }
    return {};
}

}  // namespace

PackedValues PackedValues::pack(std::span<const foundation::Value* const> values) {
    const size_t count = values.size();
    const size_t header = 4 + 4 * (count + 1) + count;
    // Written in one pass into a buffer this thread keeps (a list packs thousands of rows in a
    // row), then copied into a block of its exact size.
    thread_local std::vector<uint8_t> scratch;
    scratch.resize(header);
    write32(scratch.data(), static_cast<uint32_t>(count));
    uint8_t scalar[8];
    foundation::Data encoded;
    for (size_t i = 0; i < count; ++i) {
        write32(scratch.data() + 4 + 4 * i, static_cast<uint32_t>(scratch.size()));
        const foundation::Value* v = values[i];
        scratch[4 + 4 * (count + 1) + i] = static_cast<uint8_t>(v ? v->type() : ValueType::Null);
        if (!v) continue;
        const std::string_view payload = payloadOf(*v, encoded, scalar);
        scratch.insert(scratch.end(), payload.begin(), payload.end());
    }
    write32(scratch.data() + 4 + 4 * count, static_cast<uint32_t>(scratch.size()));
    PackedValues packed;
    packed.data_ = std::make_unique_for_overwrite<uint8_t[]>(scratch.size());
    std::memcpy(packed.data_.get(), scratch.data(), scratch.size());
    // A row of a large value does not leave its room here.
    if (scratch.capacity() > 64 * 1024) std::vector<uint8_t>().swap(scratch);
    return packed;
}

PackedValues PackedValues::pack(std::span<const foundation::Value> values) {
    std::vector<const foundation::Value*> pointers(values.size());
    for (size_t i = 0; i < values.size(); ++i) pointers[i] = &values[i];
    return pack(pointers);
}

PackedValues::PackedValues(const PackedValues& other) { *this = other; }

PackedValues& PackedValues::operator=(const PackedValues& other) {
    if (this == &other) return *this;
    if (!other.data_) {
        data_.reset();
        return *this;
    }
    const size_t n = other.bytes();
    data_ = std::make_unique_for_overwrite<uint8_t[]>(n);
    std::memcpy(data_.get(), other.data_.get(), n);
    return *this;
}

size_t PackedValues::size() const { return data_ ? read32(data_.get()) : 0; }

size_t PackedValues::bytes() const { return data_ ? read32(data_.get() + 4 + 4 * size()) : 0; }

PackedValues::View PackedValues::view(size_t i) const {
    View v;
    const size_t count = size();
    if (i >= count) return v;
    const uint8_t* block = data_.get();
    const uint32_t from = read32(block + 4 + 4 * i), to = read32(block + 4 + 4 * (i + 1));
    v.type = static_cast<ValueType>(block[4 + 4 * (count + 1) + i]);
    v.bytes = {reinterpret_cast<const char*>(block + from), to - from};
    switch (v.type) {
        case ValueType::Bool:
            v.integer = block[from];
            break;
        case ValueType::Int:
            std::memcpy(&v.integer, block + from, 8);
            break;
        case ValueType::Double:
        case ValueType::Date:
            std::memcpy(&v.real, block + from, 8);
            break;
        default:
            break;
    }
    return v;
}

foundation::Value PackedValues::at(size_t i) const {
    const View v = view(i);
    switch (v.type) {
        case ValueType::Null:
            return {};
        case ValueType::Bool:
            return v.integer != 0;
        case ValueType::Int:
            return v.integer;
        case ValueType::Double:
            return v.real;
        case ValueType::Date:
            return foundation::Date{v.real};
        case ValueType::String:
            return std::string(v.bytes);
        case ValueType::Data:
            return foundation::Data(v.bytes.begin(), v.bytes.end());
        case ValueType::Array:
        case ValueType::Dictionary: {
            // Encoded here from a value: it reads back whole.
            auto decoded = decodeValue({reinterpret_cast<const uint8_t*>(v.bytes.data()), v.bytes.size()});
            return decoded ? std::move(decoded.value()) : foundation::Value();
        }
    }
    return {};
}

std::vector<foundation::Value> PackedValues::unpack() const {
    std::vector<foundation::Value> values;
    const size_t count = size();
    values.reserve(count);
    for (size_t i = 0; i < count; ++i) values.push_back(at(i));
    return values;
}

bool PackedValues::setInPlace(size_t i, const foundation::Value& value) {
    if (i >= size()) return false;
    const View old = view(i);
    if (old.type != value.type()) return false;
    uint8_t scalar[8];
    foundation::Data unused;
    switch (value.type()) {
        case ValueType::Bool:
        case ValueType::Int:
        case ValueType::Double:
        case ValueType::Date: {
            const std::string_view payload = payloadOf(value, unused, scalar);
            std::memcpy(const_cast<char*>(old.bytes.data()), payload.data(), payload.size());
            return true;
        }
        default:
            return false;
    }
}

}  // namespace store
