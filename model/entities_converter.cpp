#include "model/entities_converter.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

namespace {

struct NamedEntity {
    std::string_view name;
    std::string_view value;
};

constexpr NamedEntity kNamedEntities[] = {
#include "model/html_entities.inc"
};

void appendUTF8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(char(cp));
    } else if (cp < 0x800) {
        out.push_back(char(0xC0 | (cp >> 6)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(char(0xE0 | (cp >> 12)));
        out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(char(0xF0 | (cp >> 18)));
        out.push_back(char(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    }
}

// A character reference the text may carry: a Unicode scalar value that XML 1.0 allows as a
// character (no NUL or other C0 controls but tab, line feed and carriage return).
bool isAllowedCodePoint(uint32_t cp) {
    if (cp == 0x9 || cp == 0xA || cp == 0xD) return true;
    if (cp < 0x20) return false;
    if (cp >= 0xD800 && cp <= 0xDFFF) return false;
    if (cp == 0xFFFE || cp == 0xFFFF) return false;
    return cp <= 0x10FFFF;
}

bool isAlnum(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Decodes the entity that starts at s[i] == '&'; on success appends its text and returns the
// length consumed, else 0.
size_t decodeAt(std::string_view s, size_t i, std::string& out) {
    constexpr size_t kLongestName = 40;
    size_t j = i + 1;
    if (j < s.size() && s[j] == '#') {
        ++j;
        const bool hex = j < s.size() && (s[j] == 'x' || s[j] == 'X');
        if (hex) ++j;
        const size_t digitsStart = j;
        uint64_t cp = 0;
        while (j < s.size() && j - digitsStart < 10) {
            const char c = s[j];
            int d = -1;
            if (c >= '0' && c <= '9')
                d = c - '0';
            else if (hex && c >= 'a' && c <= 'f')
                d = c - 'a' + 10;
            else if (hex && c >= 'A' && c <= 'F')
                d = c - 'A' + 10;
            if (d < 0) break;
            cp = cp * (hex ? 16 : 10) + uint64_t(d);
            ++j;
        }
        if (j == digitsStart || j >= s.size() || s[j] != ';' || cp > 0x10FFFF || !isAllowedCodePoint(uint32_t(cp)))
            return 0;
        appendUTF8(out, uint32_t(cp));
        return j + 1 - i;
    }
    while (j < s.size() && j - i <= kLongestName && isAlnum(s[j])) ++j;
    if (j == i + 1 || j >= s.size() || s[j] != ';') return 0;
    std::string_view value = MREntitiesConverter::namedEntity(s.substr(i + 1, j - i - 1));
    if (value.empty()) return 0;
    out.append(value);
    return j + 1 - i;
}

}  // namespace

std::string_view MREntitiesConverter::namedEntity(std::string_view name) {
    auto it = std::lower_bound(std::begin(kNamedEntities), std::end(kNamedEntities), name,
                               [](const NamedEntity& e, std::string_view n) { return e.name < n; });
    if (it == std::end(kNamedEntities) || it->name != name) return {};
    return it->value;
}

std::string MREntitiesConverter::convertEntiesInString(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        const size_t amp = s.find('&', i);
        if (amp == std::string_view::npos) {
            out.append(s.substr(i));
            break;
        }
        out.append(s.substr(i, amp - i));
        if (size_t used = decodeAt(s, amp, out)) {
            i = amp + used;
        } else {
            out.push_back('&');
            i = amp + 1;
        }
    }
    resultString_.append(out);
    return resultString_;
}
