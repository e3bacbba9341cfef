// JSON to and from `Value`. Parsing never crashes on bad input: it returns an error with the
// byte offset. Integers keep their 64 bits exactly; "/" is written unescaped.
//
// This header is the contract the rest of the system codes against; the implementation may
// add to it but keeps these declarations.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "platform/foundation/error.h"
#include "platform/foundation/value.h"

namespace foundation {

inline constexpr int64_t kJSONReadCorruptError = 3840;
// The most a parse holds decoded at once, by an estimate of each value's slot, entry and string
// bytes (elements of a streamed array count only until they are handed over). Small values cost
// many times their text (a 3-byte "{}," takes about 100 bytes as a value), so a reply within the
// network's 32 MB cap could otherwise take gigabytes; beyond this the parse fails ("Too large to
// decode", code 3840) before it holds much more.
inline constexpr size_t kJSONMaximumDecodedBytes = size_t{64} << 20;

struct JSONWriteOptions {
    bool pretty = false;      // two-space indentation and ": " separators
    bool sortedKeys = false;  // keys in byte order instead of insertion order
};

// Parses UTF-8 JSON text (a top-level scalar is accepted). Fails with code 3840 and the offset
// under "NSJSONSerializationErrorIndex".
Result<Value> parseJSON(std::string_view text);
// Receives a streamed array: begin at its '[' (again for a repeated member, of which the last
// counts), then each element as soon as it is parsed (it may be moved from).
struct JSONArraySink {
    std::function<void()> begin;
    std::function<void(Value& element)> element;
};
// Parses text as above, except that the elements of the array under member of a top-level object
// go to sink as each is parsed, and that member is left an empty array: a very large list is
// never held whole. Elements handed over before a syntax error further on stay handed over; the
// error is returned all the same.
Result<Value> parseJSON(std::string_view text, std::string_view member, const JSONArraySink& sink);
// Serialises a value made of null, bool, numbers, strings, arrays and string-keyed dictionaries.
// Data, dates, non-finite doubles and number keys are not JSON: they fail with code 3840.
Result<std::string> toJSON(const Value& value, JSONWriteOptions options = {});

}  // namespace foundation
