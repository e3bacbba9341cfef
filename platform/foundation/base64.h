// Base64 (RFC 4648 standard alphabet with padding), written without line breaks.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/value.h"

namespace foundation {

enum class Base64Decoding {
    // Only the alphabet, with "=" padding to a multiple of four; anything else fails.
    Strict,
    // Characters outside the alphabet (line breaks, spaces, stray punctuation) are skipped; missing
    // padding is tolerated. A "=" ends the data: only padding and skipped characters may follow.
    IgnoreUnknownCharacters,
};

std::string base64Encode(const uint8_t* bytes, size_t length);
inline std::string base64Encode(const Data& data) { return base64Encode(data.data(), data.size()); }
inline std::string base64Encode(std::string_view text) {
    return base64Encode(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

// The bytes, or nothing when the text is not valid in the chosen mode (including a final group of
// a single character, which cannot carry a whole byte).
std::optional<Data> base64Decode(std::string_view text, Base64Decoding mode = Base64Decoding::Strict);

}  // namespace foundation
