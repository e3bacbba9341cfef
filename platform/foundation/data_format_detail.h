// Small helpers shared by the data-format readers and writers of the foundation layer (JSON,
// property lists, keyed archives). Not part of the public interface.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string_view>

#include "platform/foundation/error.h"
#include "platform/foundation/value.h"

namespace foundation::detail {

// Length of the well-formed UTF-8 sequence at s (1-4), or 0 when it is malformed: overlong forms,
// surrogate code points and values above U+10FFFF are rejected, as is a sequence cut by the end.
inline size_t utf8SequenceLength(const unsigned char* s, const unsigned char* end) {
    const unsigned char c = s[0];
    if (c < 0x80) return 1;
    const size_t avail = static_cast<size_t>(end - s);
    auto cont = [](unsigned char b) { return (b & 0xC0) == 0x80; };
    if (c >= 0xC2 && c <= 0xDF) return avail >= 2 && cont(s[1]) ? 2 : 0;
    if (c >= 0xE0 && c <= 0xEF) {
        if (avail < 3 || !cont(s[1]) || !cont(s[2])) return 0;
        if (c == 0xE0 && s[1] < 0xA0) return 0;   // overlong
        if (c == 0xED && s[1] >= 0xA0) return 0;  // UTF-16 surrogate
        return 3;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        if (avail < 4 || !cont(s[1]) || !cont(s[2]) || !cont(s[3])) return 0;
        if (c == 0xF0 && s[1] < 0x90) return 0;   // overlong
        if (c == 0xF4 && s[1] >= 0x90) return 0;  // above U+10FFFF
        return 4;
    }
    return 0;
}

inline bool isValidUTF8(std::string_view text) {
    auto* s = reinterpret_cast<const unsigned char*>(text.data());
    auto* end = s + text.size();
    while (s < end) {
        // Skip ASCII eight bytes at a time: most text is plain ASCII.
        while (end - s >= 8) {
            uint64_t word;
            __builtin_memcpy(&word, s, 8);
            if (word & 0x8080808080808080ULL) break;
            s += 8;
        }
        if (s >= end) break;
        size_t n = utf8SequenceLength(s, end);
        if (n == 0) return false;
        s += n;
    }
    return true;
}

// Seconds from 1970-01-01 to 2001-01-01, the epoch of property-list dates.
inline constexpr double kSecondsFrom1970To2001 = 978307200.0;

// Writes bytes to a temporary file beside path, flushes it to disk and renames it over path.
// Defined in property_list.cpp.
Status writeFileAtomically(const std::filesystem::path& path, const Data& bytes, mode_t permissions = 0644);

}  // namespace foundation::detail
