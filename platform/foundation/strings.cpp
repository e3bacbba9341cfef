#include "platform/foundation/strings.h"

#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/regex.h>
#include <unicode/uchar.h>
#include <unicode/uloc.h>
#include <unicode/uniset.h>
#include <unicode/unistr.h>
#include <unicode/uscript.h>

#include <algorithm>
#include <limits>
#include <map>

#include "platform/foundation/icu_text.h"

namespace foundation {

// ---- UTF-8 / UTF-16

char32_t decodeUtf8(std::string_view s, size_t i, size_t* length) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) {
        *length = 1;
        return b0;
    }
    size_t need;
    char32_t cp;
    char32_t min;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        need = 1, cp = b0 & 0x1F, min = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        need = 2, cp = b0 & 0x0F, min = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        need = 3, cp = b0 & 0x07, min = 0x10000;
    } else {
        *length = 1;
        return 0xFFFD;
    }
    if (s.size() - i <= need) {
        *length = 1;
        return 0xFFFD;
    }
    for (size_t k = 1; k <= need; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) {
            *length = 1;
            return 0xFFFD;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        *length = 1;
        return 0xFFFD;
    }
    *length = need + 1;
    return cp;
}

void appendUtf8(std::string& out, char32_t cp) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

bool isValidUtf8(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        if (static_cast<unsigned char>(s[i]) < 0x80) {
            ++i;
            continue;
        }
        size_t len;
        if (decodeUtf8(s, i, &len) == 0xFFFD && len == 1) {
            // U+FFFD itself is three bytes long, so length 1 means malformed input.
            return false;
        }
        i += len;
    }
    return true;
}

std::optional<std::string> stringFromUtf8(std::string_view bytes) {
    if (!isValidUtf8(bytes)) return std::nullopt;
    return std::string(bytes);
}

std::string utf8Repaired(std::string_view bytes, size_t* replaced) {
    std::string out;
    out.reserve(bytes.size() + 8);
    size_t count = 0;
    for (size_t i = 0, length = 0; i < bytes.size(); i += length) {
        if (static_cast<unsigned char>(bytes[i]) < 0x80) {
            out.push_back(bytes[i]);
            length = 1;
            continue;
        }
        const char32_t cp = decodeUtf8(bytes, i, &length);
        // U+FFFD itself is three bytes long, so a length of 1 means a malformed byte.
        if (cp == 0xFFFD && length == 1) ++count;
        appendUtf8(out, cp);
    }
    if (replaced) *replaced = count;
    return out;
}

std::optional<std::string> stringFromUtf8(const Data& bytes) {
    return stringFromUtf8(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

std::u16string toUtf16(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        size_t len;
        char32_t cp = decodeUtf8(s, i, &len);
        i += len;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

std::string fromUtf16(std::u16string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        char32_t u = s[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            u = 0x10000 + ((u - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        }
        appendUtf8(out, u);
    }
    return out;
}

std::u32string toCodePoints(std::string_view s) {
    std::u32string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        size_t len;
        out.push_back(decodeUtf8(s, i, &len));
        i += len;
    }
    return out;
}

namespace {

size_t unitsOf(char32_t cp) { return cp >= 0x10000 ? 2 : 1; }

}  // namespace

size_t utf16Length(std::string_view s) {
    size_t units = 0;
    size_t i = 0;
    while (i < s.size()) {
        const auto b = static_cast<unsigned char>(s[i]);
        if (b < 0x80) {
            ++units;
            ++i;
            continue;
        }
        size_t len;
        units += unitsOf(decodeUtf8(s, i, &len));
        i += len;
    }
    return units;
}

size_t utf16Offset(std::string_view s, size_t byteOffset) {
    size_t units = 0;
    size_t i = 0;
    while (i < s.size()) {
        size_t len;
        const char32_t cp = decodeUtf8(s, i, &len);
        if (byteOffset < i + len) return units;  // inside (or at the start of) this sequence
        units += unitsOf(cp);
        i += len;
    }
    return units;
}

size_t utf8Offset(std::string_view s, size_t offset) {
    size_t units = 0;
    size_t i = 0;
    while (i < s.size()) {
        size_t len;
        const char32_t cp = decodeUtf8(s, i, &len);
        const size_t next = units + unitsOf(cp);
        if (offset < next) return i;  // at the start of, or between the halves of, this code point
        units = next;
        i += len;
    }
    return s.size();
}

std::string substringUtf16(std::string_view s, Range range) {
    if (!range.found()) return {};
    const size_t begin = utf8Offset(s, range.location);
    const size_t endUnits = range.length > std::numeric_limits<size_t>::max() - range.location
                                ? std::numeric_limits<size_t>::max()
                                : range.end();
    // The end widens to the end of a code point it falls inside.
    size_t units = 0;
    size_t i = 0;
    size_t end = s.size();
    while (i < s.size()) {
        if (units >= endUnits) {
            end = i;
            break;
        }
        size_t len;
        units += unitsOf(decodeUtf8(s, i, &len));
        i += len;
    }
    if (end <= begin) return {};
    return std::string(s.substr(begin, end - begin));
}

std::string truncateUtf16(std::string_view s, size_t maxUnits) {
    size_t units = 0;
    size_t i = 0;
    while (i < s.size()) {
        size_t len;
        const size_t next = units + unitsOf(decodeUtf8(s, i, &len));
        if (next > maxUnits) break;
        units = next;
        i += len;
    }
    return std::string(s.substr(0, i));
}

// ---- Case and comparison

namespace {

// The text folded for comparison: code points plus, for each, the UTF-16 range of the source code
// point it came from (so matches map back to the original text).
struct Folded {
    std::u32string cps;
    std::vector<size_t> srcStart;
    std::vector<size_t> srcEnd;
};

bool isNonSpacingMark(char32_t cp) { return u_charType(static_cast<UChar32>(cp)) == U_NON_SPACING_MARK; }

void foldCodePoint(char32_t cp, unsigned options, std::u32string& out) {
    if (cp < 0x80) {
        if ((options & kCaseInsensitive) && cp >= 'A' && cp <= 'Z') cp += 'a' - 'A';
        out.push_back(cp);
        return;
    }
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfd = icu::Normalizer2::getNFDInstance(status);
    icu::UnicodeString decomposed;
    if (U_FAILURE(status) || !nfd->getDecomposition(static_cast<UChar32>(cp), decomposed)) {
        decomposed = icu::UnicodeString(static_cast<UChar32>(cp));
    }
    auto stripMarks = [&](const icu::UnicodeString& in) {
        icu::UnicodeString kept;
        for (int32_t k = 0; k < in.length();) {
            const UChar32 c = in.char32At(k);
            if (!(options & kDiacriticInsensitive) || !isNonSpacingMark(static_cast<char32_t>(c))) kept.append(c);
            k += U16_LENGTH(c);
        }
        return kept;
    };
    icu::UnicodeString result = stripMarks(decomposed);
    if (options & kCaseInsensitive) {
        result.foldCase();
        // Folding can decompose (U+0130 gives "i" and a combining dot), so marks are dropped again.
        result = stripMarks(result);
    }
    for (int32_t k = 0; k < result.length();) {
        const UChar32 c = result.char32At(k);
        out.push_back(static_cast<char32_t>(c));
        k += U16_LENGTH(c);
    }
}

Folded fold(std::string_view s, unsigned options) {
    Folded f;
    f.cps.reserve(s.size());
    f.srcStart.reserve(s.size());
    f.srcEnd.reserve(s.size());
    size_t units = 0;
    size_t i = 0;
    std::u32string piece;
    while (i < s.size()) {
        size_t len;
        const char32_t cp = decodeUtf8(s, i, &len);
        i += len;
        const size_t next = units + unitsOf(cp);
        piece.clear();
        if (options == kCompareLiteral) {
            piece.push_back(cp);
        } else {
            foldCodePoint(cp, options, piece);
        }
        for (char32_t c : piece) {
            f.cps.push_back(c);
            f.srcStart.push_back(units);
            f.srcEnd.push_back(next);
        }
        units = next;
    }
    return f;
}

bool isAscii(std::string_view s) {
    for (char c : s) {
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    }
    return true;
}

char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; }

std::u32string foldOnly(std::string_view s, unsigned options) {
    if (options == kCompareLiteral) return toCodePoints(s);
    std::u32string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        size_t len;
        const char32_t cp = decodeUtf8(s, i, &len);
        i += len;
        foldCodePoint(cp, options, out);
    }
    return out;
}

}  // namespace

std::string lowercase(std::string_view s) {
    icu::UnicodeString u = toICU(s);
    u.toLower(icu::Locale::getRoot());
    return fromICU(u);
}

std::string asciiLowercase(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = asciiLower(c);
    return out;
}

std::string uppercase(std::string_view s) {
    icu::UnicodeString u = toICU(s);
    u.toUpper(icu::Locale::getRoot());
    return fromICU(u);
}

int compare(std::string_view a, std::string_view b, unsigned options) {
    if (options == kCompareLiteral) {
        // UTF-8 byte order is code-point order for well-formed text.
        const int c = a.compare(b);
        return c < 0 ? -1 : (c > 0 ? 1 : 0);
    }
    if (isAscii(a) && isAscii(b)) {
        const size_t n = std::min(a.size(), b.size());
        for (size_t k = 0; k < n; ++k) {
            const char x = (options & kCaseInsensitive) ? asciiLower(a[k]) : a[k];
            const char y = (options & kCaseInsensitive) ? asciiLower(b[k]) : b[k];
            if (x != y) return x < y ? -1 : 1;
        }
        return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
    }
    const std::u32string fa = foldOnly(a, options);
    const std::u32string fb = foldOnly(b, options);
    const int c = fa.compare(fb);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

bool equals(std::string_view a, std::string_view b, unsigned options) { return compare(a, b, options) == 0; }

Range rangeOf(std::string_view haystack, std::string_view needle, unsigned options) {
    if (needle.empty()) return {};
    if (options == kCompareLiteral) {
        const size_t pos = haystack.find(needle);
        if (pos == std::string_view::npos) return {};
        const size_t start = utf16Offset(haystack, pos);
        return {start, utf16Length(needle)};
    }
    const Folded h = fold(haystack, options);
    const std::u32string n = foldOnly(needle, options);
    if (n.empty() || n.size() > h.cps.size()) return {};
    const auto it = std::search(h.cps.begin(), h.cps.end(), n.begin(), n.end());
    if (it == h.cps.end()) return {};
    const size_t first = static_cast<size_t>(it - h.cps.begin());
    const size_t last = first + n.size() - 1;
    return {h.srcStart[first], h.srcEnd[last] - h.srcStart[first]};
}

bool contains(std::string_view haystack, std::string_view needle, unsigned options) {
    if (needle.empty()) return false;
    if (options == kCompareLiteral) return haystack.find(needle) != std::string_view::npos;
    if (isAscii(haystack) && isAscii(needle)) {
        // Plain ASCII folds byte by byte and has no marks: search in place, no allocation.
        const auto eq = [&](char a, char b) {
            return (options & kCaseInsensitive) ? asciiLower(a) == asciiLower(b) : a == b;
        };
        return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end(), eq) != haystack.end();
    }
    // Only the answer is needed, not where: skip the offset bookkeeping of rangeOf.
    const std::u32string h = foldOnly(haystack, options);
    const std::u32string n = foldOnly(needle, options);
    return !n.empty() && std::search(h.begin(), h.end(), n.begin(), n.end()) != h.end();
}

bool hasPrefix(std::string_view s, std::string_view prefix, unsigned options) {
    if (options == kCompareLiteral) return s.starts_with(prefix);
    if (isAscii(s) && isAscii(prefix))
        return s.size() >= prefix.size() && compare(s.substr(0, prefix.size()), prefix, options) == 0;
    const std::u32string fs = foldOnly(s, options);
    const std::u32string fp = foldOnly(prefix, options);
    return fs.size() >= fp.size() && fs.compare(0, fp.size(), fp) == 0;
}

bool hasSuffix(std::string_view s, std::string_view suffix, unsigned options) {
    if (options == kCompareLiteral) return s.ends_with(suffix);
    const std::u32string fs = foldOnly(s, options);
    const std::u32string fx = foldOnly(suffix, options);
    return fs.size() >= fx.size() && fs.compare(fs.size() - fx.size(), fx.size(), fx) == 0;
}

// ---- Character sets

struct CharacterSet::Impl {
    icu::UnicodeSet set;
};

CharacterSet::CharacterSet() : impl_(std::make_shared<const Impl>()) {}
CharacterSet::CharacterSet(std::shared_ptr<const Impl> impl) : impl_(std::move(impl)) {}

namespace {

std::shared_ptr<const CharacterSet::Impl> frozen(icu::UnicodeSet set) {
    auto impl = std::make_shared<CharacterSet::Impl>();
    impl->set = std::move(set);
    impl->set.freeze();
    return impl;
}

icu::UnicodeSet fromPattern(const char* pattern) {
    UErrorCode status = U_ZERO_ERROR;
    icu::UnicodeSet set(icu::UnicodeString(pattern, -1, US_INV), status);
    if (U_FAILURE(status)) return {};
    return set;
}

icu::UnicodeSet urlSet(const char* punctuation) {
    icu::UnicodeSet set;
    set.add('a', 'z');
    set.add('A', 'Z');
    set.add('0', '9');
    for (const char* p = punctuation; *p; ++p) set.add(static_cast<UChar32>(*p));
    return set;
}

}  // namespace

CharacterSet CharacterSet::alphanumeric() {
    static const CharacterSet s(frozen(fromPattern("[[:L:][:M:][:N:]]")));
    return s;
}
CharacterSet CharacterSet::letters() {
    static const CharacterSet s(frozen(fromPattern("[[:L:][:M:]]")));
    return s;
}
CharacterSet CharacterSet::decimalDigits() {
    static const CharacterSet s(frozen(fromPattern("[:Nd:]")));
    return s;
}
CharacterSet CharacterSet::whitespaceAndNewline() {
    static const CharacterSet s(frozen(fromPattern("[:White_Space:]")));
    return s;
}
CharacterSet CharacterSet::whitespace() {
    static const CharacterSet s(frozen(fromPattern("[[:White_Space:]-[:Zl:]-[:Zp:]-[:Cc:]\\u0009]")));
    return s;
}
CharacterSet CharacterSet::newlines() {
    static const CharacterSet s(frozen(fromPattern("[\\u000A-\\u000D\\u0085\\u2028\\u2029]")));
    return s;
}
CharacterSet CharacterSet::punctuation() {
    static const CharacterSet s(frozen(fromPattern("[:P:]")));
    return s;
}
CharacterSet CharacterSet::fromCharacters(std::string_view characters) {
    icu::UnicodeSet set;
    size_t i = 0;
    while (i < characters.size()) {
        size_t len;
        set.add(static_cast<UChar32>(decodeUtf8(characters, i, &len)));
        i += len;
    }
    return CharacterSet(frozen(std::move(set)));
}
CharacterSet CharacterSet::fromRange(char32_t first, char32_t last) {
    icu::UnicodeSet set;
    if (first <= last && first <= 0x10FFFF)
        set.add(static_cast<UChar32>(first), static_cast<UChar32>(std::min<char32_t>(last, 0x10FFFF)));
    return CharacterSet(frozen(std::move(set)));
}

CharacterSet CharacterSet::urlUserAllowed() {
    static const CharacterSet s(frozen(urlSet("-._~!$&'()*+,;=")));
    return s;
}
CharacterSet CharacterSet::urlPasswordAllowed() {
    static const CharacterSet s(frozen(urlSet("-._~!$&'()*+,;=")));
    return s;
}
CharacterSet CharacterSet::urlHostAllowed() {
    static const CharacterSet s(frozen(urlSet("-._~!$&'()*+,;=:[]")));
    return s;
}
CharacterSet CharacterSet::urlPathAllowed() {
    static const CharacterSet s(frozen(urlSet("-._~!$&'()*+,=:@/")));
    return s;
}
CharacterSet CharacterSet::urlQueryAllowed() {
    static const CharacterSet s(frozen(urlSet("-._~!$&'()*+,;=:@/?")));
    return s;
}
CharacterSet CharacterSet::urlFragmentAllowed() {
    static const CharacterSet s(frozen(urlSet("-._~!$&'()*+,;=:@/?")));
    return s;
}

bool CharacterSet::contains(char32_t cp) const { return impl_->set.contains(static_cast<UChar32>(cp)); }

CharacterSet CharacterSet::inverted() const {
    std::unique_ptr<icu::UnicodeSet> thawed(impl_->set.cloneAsThawed());
    icu::UnicodeSet& set = *thawed;
    set.complement();
    return CharacterSet(frozen(set));
}

CharacterSet CharacterSet::unionWith(const CharacterSet& other) const {
    std::unique_ptr<icu::UnicodeSet> thawed(impl_->set.cloneAsThawed());
    icu::UnicodeSet& set = *thawed;
    set.addAll(other.impl_->set);
    return CharacterSet(frozen(std::move(set)));
}

CharacterSet CharacterSet::subtracting(const CharacterSet& other) const {
    std::unique_ptr<icu::UnicodeSet> thawed(impl_->set.cloneAsThawed());
    icu::UnicodeSet& set = *thawed;
    set.removeAll(other.impl_->set);
    return CharacterSet(frozen(std::move(set)));
}

namespace {

std::string filter(std::string_view s, const CharacterSet& set, bool keep) {
    std::string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        size_t len;
        const char32_t cp = decodeUtf8(s, i, &len);
        if (set.contains(cp) == keep) out.append(s.substr(i, len));
        i += len;
    }
    return out;
}

}  // namespace

std::string keepingOnly(std::string_view s, const CharacterSet& set) { return filter(s, set, true); }
std::string removingCharacters(std::string_view s, const CharacterSet& set) { return filter(s, set, false); }

std::string trim(std::string_view s, const CharacterSet& set) {
    size_t begin = 0;
    size_t end = 0;
    bool seen = false;
    size_t i = 0;
    while (i < s.size()) {
        size_t len;
        const char32_t cp = decodeUtf8(s, i, &len);
        if (!set.contains(cp)) {
            if (!seen) begin = i;
            seen = true;
            end = i + len;
        }
        i += len;
    }
    if (!seen) return {};
    return std::string(s.substr(begin, end - begin));
}

std::vector<std::string> split(std::string_view s, std::string_view separator) {
    std::vector<std::string> out;
    if (separator.empty()) {
        out.emplace_back(s);
        return out;
    }
    size_t start = 0;
    while (true) {
        const size_t pos = s.find(separator, start);
        if (pos == std::string_view::npos) {
            out.emplace_back(s.substr(start));
            return out;
        }
        out.emplace_back(s.substr(start, pos - start));
        start = pos + separator.size();
    }
}

std::vector<std::string> split(std::string_view s, const CharacterSet& separators) {
    std::vector<std::string> out;
    size_t start = 0;
    size_t i = 0;
    while (i < s.size()) {
        size_t len;
        const char32_t cp = decodeUtf8(s, i, &len);
        if (separators.contains(cp)) {
            out.emplace_back(s.substr(start, i - start));
            start = i + len;
        }
        i += len;
    }
    out.emplace_back(s.substr(start));
    return out;
}

std::string join(const std::vector<std::string>& pieces, std::string_view separator) {
    std::string out;
    for (size_t k = 0; k < pieces.size(); ++k) {
        if (k) out.append(separator);
        out.append(pieces[k]);
    }
    return out;
}

std::string replaceAll(std::string_view s, std::string_view target, std::string_view replacement) {
    if (target.empty()) return std::string(s);
    std::string out;
    out.reserve(s.size());
    size_t start = 0;
    while (true) {
        const size_t pos = s.find(target, start);
        if (pos == std::string_view::npos) break;
        out.append(s.substr(start, pos - start));
        out.append(replacement);
        start = pos + target.size();
    }
    out.append(s.substr(start));
    return out;
}

std::optional<int64_t> parseLeadingInteger(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        size_t len;
        const char32_t cp = decodeUtf8(s, i, &len);
        if (!CharacterSet::whitespaceAndNewline().contains(cp)) break;
        i += len;
    }
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }
    if (i >= s.size() || s[i] < '0' || s[i] > '9') return std::nullopt;
    // Accumulate negatively so INT64_MIN is reachable.
    int64_t value = 0;
    bool saturated = false;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        const int digit = s[i] - '0';
        if (!saturated) {
            if (value < (std::numeric_limits<int64_t>::min() + digit) / 10) {
                saturated = true;
            } else {
                value = value * 10 - digit;
            }
        }
    }
    if (saturated) return negative ? std::numeric_limits<int64_t>::min() : std::numeric_limits<int64_t>::max();
    if (negative) return value;
    if (value == std::numeric_limits<int64_t>::min()) return std::numeric_limits<int64_t>::max();
    return -value;
}

// ---- Regular expressions

struct Regex::Impl {
    std::unique_ptr<icu::RegexPattern> pattern;
};

Result<Regex> Regex::make(std::string_view pattern, unsigned options) {
    uint32_t flags = 0;
    if (options & kCaseInsensitive) flags |= UREGEX_CASE_INSENSITIVE;
    if (options & kDotMatchesLineSeparators) flags |= UREGEX_DOTALL;
    if (options & kAnchorsMatchLines) flags |= UREGEX_MULTILINE;
    if (options & kIgnoreMetacharacters) flags |= UREGEX_LITERAL;
    UParseError parseError{};
    UErrorCode status = U_ZERO_ERROR;
    auto impl = std::make_shared<Impl>();
    impl->pattern.reset(icu::RegexPattern::compile(toICU(pattern), flags, parseError, status));
    if (U_FAILURE(status) || !impl->pattern) {
        return Error::withDescription(kCocoaErrorDomain, kRegexPatternError,
                                      std::string("The value \xE2\x80\x9C") + std::string(pattern) +
                                          "\xE2\x80\x9D is invalid (" + u_errorName(status) + " at offset " +
                                          std::to_string(parseError.offset) + ").");
    }
    return Regex(std::move(impl), std::string(pattern));
}

namespace {

RegexMatch matchFrom(icu::RegexMatcher& m, const icu::UnicodeString& input) {
    RegexMatch match;
    UErrorCode status = U_ZERO_ERROR;
    const int32_t groups = m.groupCount();
    for (int32_t g = 0; g <= groups; ++g) {
        const int32_t start = m.start(g, status);
        const int32_t end = m.end(g, status);
        if (U_FAILURE(status) || start < 0) {
            match.ranges.push_back(Range{});
            match.groups.emplace_back();
            status = U_ZERO_ERROR;
            continue;
        }
        match.ranges.push_back(Range{static_cast<size_t>(start), static_cast<size_t>(end - start)});
        match.groups.push_back(fromICU(input.tempSubStringBetween(start, end)));
    }
    return match;
}

}  // namespace

bool Regex::matches(std::string_view s) const {
    const icu::UnicodeString input = toICU(s);
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexMatcher> m(impl_->pattern->matcher(input, status));
    if (U_FAILURE(status)) return false;
    const bool found = m->find(status);
    return U_SUCCESS(status) && found;
}

bool Regex::matchesEntirely(std::string_view s) const {
    const icu::UnicodeString input = toICU(s);
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexMatcher> m(impl_->pattern->matcher(input, status));
    if (U_FAILURE(status)) return false;
    const bool found = m->matches(status);
    return U_SUCCESS(status) && found;
}

std::optional<RegexMatch> Regex::firstMatch(std::string_view s) const {
    const icu::UnicodeString input = toICU(s);
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexMatcher> m(impl_->pattern->matcher(input, status));
    if (U_FAILURE(status)) return std::nullopt;
    if (!m->find(status) || U_FAILURE(status)) return std::nullopt;
    return matchFrom(*m, input);
}

std::vector<RegexMatch> Regex::allMatches(std::string_view s) const {
    std::vector<RegexMatch> out;
    const icu::UnicodeString input = toICU(s);
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexMatcher> m(impl_->pattern->matcher(input, status));
    if (U_FAILURE(status)) return out;
    while (m->find(status) && U_SUCCESS(status)) out.push_back(matchFrom(*m, input));
    return out;
}

size_t Regex::numberOfMatches(std::string_view s) const {
    const icu::UnicodeString input = toICU(s);
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexMatcher> m(impl_->pattern->matcher(input, status));
    if (U_FAILURE(status)) return 0;
    size_t n = 0;
    while (m->find(status) && U_SUCCESS(status)) ++n;
    return n;
}

std::string Regex::replaceAll(std::string_view s, std::string_view replacementTemplate) const {
    const icu::UnicodeString input = toICU(s);
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexMatcher> m(impl_->pattern->matcher(input, status));
    if (U_FAILURE(status)) return std::string(s);
    const icu::UnicodeString out = m->replaceAll(toICU(replacementTemplate), status);
    // A template naming a group the pattern lacks leaves the text as it was.
    if (U_FAILURE(status)) return std::string(s);
    return fromICU(out);
}

size_t Regex::numberOfCaptureGroups() const {
    UErrorCode status = U_ZERO_ERROR;
    const icu::UnicodeString empty;
    std::unique_ptr<icu::RegexMatcher> m(impl_->pattern->matcher(empty, status));
    if (U_FAILURE(status)) return 0;
    return static_cast<size_t>(m->groupCount());
}

std::string Regex::escapedPattern(std::string_view text) {
    static const std::string_view meta = "\\^$.|?*+()[]{}";
    std::string out;
    for (char c : text) {
        if (meta.find(c) != std::string_view::npos) out.push_back('\\');
        out.push_back(c);
    }
    return out;
}

std::string Regex::escapedTemplate(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == '$' || c == '\\') out.push_back('\\');
        out.push_back(c);
    }
    return out;
}

// ---- Language of a text

std::optional<std::string> bestStringLanguage(std::string_view text) {
    static const std::map<UScriptCode, const char*> languages = {
        {USCRIPT_ARABIC, "ar"},   {USCRIPT_HEBREW, "he"},     {USCRIPT_CYRILLIC, "ru"}, {USCRIPT_GREEK, "el"},
        {USCRIPT_HAN, "zh"},      {USCRIPT_HIRAGANA, "ja"},   {USCRIPT_KATAKANA, "ja"}, {USCRIPT_HANGUL, "ko"},
        {USCRIPT_THAI, "th"},     {USCRIPT_DEVANAGARI, "hi"}, {USCRIPT_SYRIAC, "syr"},  {USCRIPT_THAANA, "dv"},
        {USCRIPT_ARMENIAN, "hy"}, {USCRIPT_GEORGIAN, "ka"},   {USCRIPT_LATIN, nullptr},
    };
    std::map<std::string, size_t> votes;
    size_t latin = 0;
    bool kana = false;
    size_t i = 0;
    while (i < text.size()) {
        size_t len;
        const char32_t cp = decodeUtf8(text, i, &len);
        i += len;
        if (!u_isalpha(static_cast<UChar32>(cp))) continue;
        UErrorCode status = U_ZERO_ERROR;
        const UScriptCode script = uscript_getScript(static_cast<UChar32>(cp), &status);
        if (U_FAILURE(status)) continue;
        if (script == USCRIPT_LATIN) {
            ++latin;
            continue;
        }
        const auto it = languages.find(script);
        if (it == languages.end() || !it->second) continue;
        if (script == USCRIPT_HIRAGANA || script == USCRIPT_KATAKANA) kana = true;
        ++votes[it->second];
    }
    // Japanese mixes kanji with kana: any kana makes the Han letters Japanese.
    if (kana && votes.count("zh")) {
        votes["ja"] += votes["zh"];
        votes.erase("zh");
    }
    const std::string* best = nullptr;
    size_t most = 0;
    for (const auto& [language, count] : votes) {
        if (count > most) {
            most = count;
            best = &language;
        }
    }
    if (!best || most < latin) return std::nullopt;
    return *best;
}

bool isRightToLeftLanguage(std::string_view language) {
    std::string id(language);
    for (char& c : id) {
        if (c == '-') c = '_';
    }
    return !id.empty() && uloc_isRightToLeft(id.c_str());
}

// ---- Hashing

uint64_t stableHash64(std::string_view s) {
    uint64_t h = 0xcbf29ce484222325ULL;
    for (unsigned char c : s) {
        h ^= c;
        h *= 0x100000001b3ULL;
    }
    return h;
}

std::string htmlEscaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        switch (ch) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += ch;
        }
    }
    return out;
}

}  // namespace foundation
