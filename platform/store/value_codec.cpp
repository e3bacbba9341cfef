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

}  // namespace store
