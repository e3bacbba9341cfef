// Text helpers over UTF-8 `std::string`. Wherever the app counts characters (limits, caret
// positions, ranges) it counts UTF-16 code units, so the measuring and cutting functions here
// speak UTF-16 offsets and never split a surrogate pair or a UTF-8 sequence. Comparison, case
// mapping, character classes and regular expressions use ICU's Unicode data.
//
// Malformed UTF-8 is never rejected by the measuring functions: each byte that does not start a
// well-formed sequence counts as one U+FFFD (one UTF-16 unit) and is kept byte for byte when cut.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/foundation/value.h"

namespace foundation {

// ---- Ranges in UTF-16 units

inline constexpr size_t kNotFound = static_cast<size_t>(-1);

struct Range {
    size_t location = kNotFound;
    size_t length = 0;

    size_t end() const { return location + length; }
    bool found() const { return location != kNotFound; }
    friend bool operator==(const Range&, const Range&) = default;
};

// ---- UTF-8 / UTF-16

// Decodes the code point starting at byte i (i < s.size()). Sets length to the bytes consumed;
// a malformed sequence yields U+FFFD with length 1.
char32_t decodeUtf8(std::string_view s, size_t i, size_t* length);
void appendUtf8(std::string& out, char32_t cp);

bool isValidUtf8(std::string_view s);
// The bytes as text when they are well-formed UTF-8, else nothing.
std::optional<std::string> stringFromUtf8(const Data& bytes);
std::optional<std::string> stringFromUtf8(std::string_view bytes);
// The bytes as text, each byte that does not start a well-formed sequence read as U+FFFD (an
// overlong form, an encoded surrogate, a sequence cut short); replaced counts them.
std::string utf8Repaired(std::string_view bytes, size_t* replaced = nullptr);

std::u16string toUtf16(std::string_view utf8);
// Unpaired surrogates become U+FFFD.
std::string fromUtf16(std::u16string_view utf16);

// Number of UTF-16 code units the text occupies.
size_t utf16Length(std::string_view s);
// The UTF-16 offset of a UTF-8 byte offset. A byte offset inside a sequence counts as the start
// of that sequence; past the end gives utf16Length(s).
size_t utf16Offset(std::string_view s, size_t byteOffset);
// The UTF-8 byte offset of a UTF-16 offset. An offset between the two halves of a surrogate pair
// moves back to the start of the pair; past the end gives s.size().
size_t utf8Offset(std::string_view s, size_t utf16Offset);
// The text of a UTF-16 range, widened to whole code points (a range that starts or ends inside a
// surrogate pair takes the whole pair). Out-of-range parts are clipped.
std::string substringUtf16(std::string_view s, Range range);
// The longest prefix of at most maxUnits UTF-16 units that ends on a code-point boundary.
std::string truncateUtf16(std::string_view s, size_t maxUnits);
// The code points of the text.
std::u32string toCodePoints(std::string_view s);

// ---- Case and comparison

enum CompareOptions : unsigned {
    kCompareLiteral = 0,
    kCaseInsensitive = 1u << 0,
    kDiacriticInsensitive = 1u << 1,
};

std::string lowercase(std::string_view s);
std::string uppercase(std::string_view s);
// A-Z to a-z and every other byte as it is: for protocol tokens (header, attribute and scheme
// names, hosts, region codes), which ignore ASCII case only and must keep their other bytes.
std::string asciiLowercase(std::string_view s);

// Negative, zero or positive, comparing code points after the folding the options ask for.
int compare(std::string_view a, std::string_view b, unsigned options = kCompareLiteral);
bool equals(std::string_view a, std::string_view b, unsigned options);
bool contains(std::string_view haystack, std::string_view needle, unsigned options = kCompareLiteral);
bool hasPrefix(std::string_view s, std::string_view prefix, unsigned options = kCompareLiteral);
bool hasSuffix(std::string_view s, std::string_view suffix, unsigned options = kCompareLiteral);
// The UTF-16 range in haystack of the first match of needle, or a not-found range. An empty needle
// is never found.
Range rangeOf(std::string_view haystack, std::string_view needle, unsigned options = kCompareLiteral);

// ---- Character sets

// An immutable set of code points, cheap to copy and safe to share between threads.
class CharacterSet {
public:
    // An empty set.
    CharacterSet();

    // Letters, marks and numbers (Unicode categories L*, M*, N*).
    static CharacterSet alphanumeric();
    static CharacterSet letters();
    // Decimal digits in every script (category Nd).
    static CharacterSet decimalDigits();
    // Unicode White_Space (which leaves out U+200B and U+200D).
    static CharacterSet whitespaceAndNewline();
    // White_Space without the line and paragraph separators and controls.
    static CharacterSet whitespace();
    static CharacterSet newlines();
    static CharacterSet punctuation();
    // Exactly the code points of the text.
    static CharacterSet fromCharacters(std::string_view characters);
    // Code points first..last inclusive.
    static CharacterSet fromRange(char32_t first, char32_t last);

    // The URL component sets: which characters may appear unescaped in each part.
    static CharacterSet urlUserAllowed();
    static CharacterSet urlPasswordAllowed();
    static CharacterSet urlHostAllowed();
    static CharacterSet urlPathAllowed();
    static CharacterSet urlQueryAllowed();
    static CharacterSet urlFragmentAllowed();

    bool contains(char32_t cp) const;
    CharacterSet inverted() const;
    CharacterSet unionWith(const CharacterSet& other) const;
    CharacterSet subtracting(const CharacterSet& other) const;

    struct Impl;  // opaque

private:
    explicit CharacterSet(std::shared_ptr<const Impl> impl);
    std::shared_ptr<const Impl> impl_;
};

// The text with only the characters of set kept / with them removed.
std::string keepingOnly(std::string_view s, const CharacterSet& set);
std::string removingCharacters(std::string_view s, const CharacterSet& set);
// The text without leading and trailing characters of set.
std::string trim(std::string_view s, const CharacterSet& set = CharacterSet::whitespaceAndNewline());

// Splits at every occurrence of separator (a non-empty separator; empty pieces are kept, so
// "a,,b" gives three pieces and "" gives one empty piece).
std::vector<std::string> split(std::string_view s, std::string_view separator);
// Splits at every character of set (empty pieces kept).
std::vector<std::string> split(std::string_view s, const CharacterSet& separators);
std::string join(const std::vector<std::string>& pieces, std::string_view separator);
// The text with "&", "<", ">", '"' and "'" written as character references, so that it stays
// text inside an HTML element or a quoted attribute.
std::string htmlEscaped(std::string_view text);

// Replaces every non-overlapping occurrence, left to right. An empty target changes nothing.
std::string replaceAll(std::string_view s, std::string_view target, std::string_view replacement);

// Reads an integer at the start of the text after optional white space: an optional sign, then
// decimal digits, stopping at the first other character. Nothing when no digit is there;
// saturates at the int64 limits.
std::optional<int64_t> parseLeadingInteger(std::string_view s);

// ---- Regular expressions (ICU syntax and semantics)

inline constexpr int64_t kRegexPatternError = 2048;

struct RegexMatch {
    // Group 0 is the whole match; a group that did not take part has a not-found range and an
    // empty text. Ranges are UTF-16 offsets into the searched text.
    std::vector<Range> ranges;
    std::vector<std::string> groups;

    Range range() const { return ranges.empty() ? Range{} : ranges[0]; }
    const std::string& text() const { return groups[0]; }
};

class Regex {
public:
    enum Options : unsigned {
        kNone = 0,
        kCaseInsensitive = 1u << 0,
        kDotMatchesLineSeparators = 1u << 1,
        kAnchorsMatchLines = 1u << 2,
        kIgnoreMetacharacters = 1u << 3,
    };

    // Compiles pattern; a bad pattern fails with code 2048 and ICU's reason in the description.
    static Result<Regex> make(std::string_view pattern, unsigned options = kNone);

    bool matches(std::string_view s) const;  // true when the pattern is found anywhere
    bool matchesEntirely(std::string_view s) const;
    std::optional<RegexMatch> firstMatch(std::string_view s) const;
    std::vector<RegexMatch> allMatches(std::string_view s) const;
    size_t numberOfMatches(std::string_view s) const;
    // Replaces every match with the template ("$1" refers to a group, "\$" is a dollar sign).
    std::string replaceAll(std::string_view s, std::string_view replacementTemplate) const;
    size_t numberOfCaptureGroups() const;
    const std::string& pattern() const { return pattern_; }

    // Escapes the text so it matches itself literally in a pattern.
    static std::string escapedPattern(std::string_view text);
    // Escapes "$" and "\" so the text is used literally as a replacement template.
    static std::string escapedTemplate(std::string_view text);

private:
    struct Impl;
    Regex(std::shared_ptr<const Impl> impl, std::string pattern)
        : impl_(std::move(impl)), pattern_(std::move(pattern)) {}
    std::shared_ptr<const Impl> impl_;
    std::string pattern_;
};

// ---- Language of a text

// The language a text is most likely written in, judged by the script most of its letters use
// (Arabic "ar", Hebrew "he", Cyrillic "ru", Greek "el", Han "zh", kana "ja", Hangul "ko", Thai
// "th", Devanagari "hi", Syriac "syr", Thaana "dv", Armenian "hy", Georgian "ka"). Latin and
// other scripts shared by many languages give nothing, as does a text without letters.
std::optional<std::string> bestStringLanguage(std::string_view text);
// True when the language ("ar", "he", "fa_IR") is written right to left.
bool isRightToLeftLanguage(std::string_view language);

// ---- Hashing

// A 64-bit hash that never changes between runs, builds or machines, for keys that are
// persisted: FNV-1a (offset basis 0xcbf29ce484222325, prime 0x100000001b3) over the UTF-8 bytes.
uint64_t stableHash64(std::string_view s);

}  // namespace foundation
