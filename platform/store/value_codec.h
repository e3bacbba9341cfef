// The byte form of a Transformable attribute: any foundation::Value (attachment lists carry
// nested dictionaries, arrays and numbers) in a compact tagged encoding. Decoding checks every
// length against the buffer, since a store file may be damaged.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/foundation/value.h"

namespace store {

foundation::Data encodeValue(const foundation::Value& value);
foundation::Result<foundation::Value> decodeValue(std::span<const uint8_t> bytes);

// A row's attribute values in one block of bytes: each value's type and its payload (a flag, a
// number, a text's or data's bytes, an array's or dictionary's byte form above), found by an
// offset. A row of values as Values takes 40 bytes a value plus a block of its own for each longer
// text; a row kept for a long time (a large import's new rows, waiting for their save) takes what
// its values need instead. Values read back are what was packed, type for type.
class PackedValues {
public:
    PackedValues() = default;
    // values[i] is the value at i; a null pointer packs a null value.
    static PackedValues pack(std::span<const foundation::Value* const> values);
    static PackedValues pack(std::span<const foundation::Value> values);
    PackedValues(const PackedValues& other);
    PackedValues& operator=(const PackedValues& other);
    PackedValues(PackedValues&&) noexcept = default;
    PackedValues& operator=(PackedValues&&) noexcept = default;

    explicit operator bool() const { return data_ != nullptr; }
    size_t size() const;
    // Bytes the block takes.
    size_t bytes() const;

    // The value at i read in place: its type, and its number or its bytes (a text's, a data's, or
    // an array's or dictionary's byte form).
    struct View {
        foundation::Value::Type type = foundation::Value::Type::Null;
        int64_t integer = 0;  // a flag (0 or 1) or an integer
        double real = 0;      // a double or a date's seconds
        std::string_view bytes;
    };
    View view(size_t i) const;
    foundation::Value at(size_t i) const;
    std::vector<foundation::Value> unpack() const;
    // Writes value over the one at i where it takes the same room (a flag over a flag, a number
    // over a number of its type); false, and nothing changes, otherwise.
    bool setInPlace(size_t i, const foundation::Value& value);

private:
    // [count][offsets: count + 1][types: count][payloads], offsets and count as uint32_t.
    std::unique_ptr<uint8_t[]> data_;
};

}  // namespace store
