// UTF-8 text to and from ICU's strings, for the code that calls ICU directly. Kept out of the
// public headers so that ICU's stay out of every other translation unit.
#pragma once

#include <unicode/unistr.h>

#include <string>
#include <string_view>

namespace foundation {

inline icu::UnicodeString toICU(std::string_view s) {
    return icu::UnicodeString::fromUTF8(icu::StringPiece(s.data(), static_cast<int32_t>(s.size())));
}

inline std::string fromICU(const icu::UnicodeString& u) {
    std::string out;
    u.toUTF8String(out);
    return out;
}

}  // namespace foundation
