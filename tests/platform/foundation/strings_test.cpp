#include "platform/foundation/strings.h"

#include <gtest/gtest.h>

#include <set>

using namespace foundation;

namespace {
// "a😀b": the emoji takes four UTF-8 bytes and two UTF-16 units.
const std::string kEmoji = "a\xF0\x9F\x98\x80"
                           "b";
}  // namespace

TEST(Utf16, LengthsAndOffsetsAroundSurrogatePairs) {
    EXPECT_EQ(utf16Length(kEmoji), 4u);
    EXPECT_EQ(utf16Length("\xC3\xA9t\xC3\xA9"), 3u);  // été
    EXPECT_EQ(utf16Offset(kEmoji, 0), 0u);
    EXPECT_EQ(utf16Offset(kEmoji, 1), 1u);
    EXPECT_EQ(utf16Offset(kEmoji, 3), 1u);  // inside the 4-byte sequence: its start
    EXPECT_EQ(utf16Offset(kEmoji, 5), 3u);
    EXPECT_EQ(utf16Offset(kEmoji, 99), 4u);
    EXPECT_EQ(utf8Offset(kEmoji, 1), 1u);
    EXPECT_EQ(utf8Offset(kEmoji, 2), 1u);  // between the halves: back to the pair's start
    EXPECT_EQ(utf8Offset(kEmoji, 3), 5u);
    EXPECT_EQ(utf8Offset(kEmoji, 40), 6u);
}

TEST(Utf16, SubstringAndTruncateNeverSplitACharacter) {
    EXPECT_EQ(substringUtf16(kEmoji, {1, 2}), "\xF0\x9F\x98\x80");
    EXPECT_EQ(substringUtf16(kEmoji, {2, 1}), "\xF0\x9F\x98\x80");   // starts inside the pair
    EXPECT_EQ(substringUtf16(kEmoji, {0, 2}), kEmoji.substr(0, 5));  // ends inside the pair
    EXPECT_EQ(substringUtf16(kEmoji, {3, 100}), "b");
    EXPECT_EQ(substringUtf16(kEmoji, {9, 1}), "");
    EXPECT_EQ(substringUtf16(kEmoji, Range{}), "");
    EXPECT_EQ(truncateUtf16(kEmoji, 2), "a");
    EXPECT_EQ(truncateUtf16(kEmoji, 3), kEmoji.substr(0, 5));
    EXPECT_EQ(truncateUtf16(kEmoji, 0), "");
    EXPECT_EQ(truncateUtf16("\xC3\xA9t\xC3\xA9", 1), "\xC3\xA9");
    // Every truncation of a mixed text is valid UTF-8 and within the limit.
    const std::string mixed = "x\xF0\x9F\x91\x8D\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z";
    for (size_t n = 0; n <= utf16Length(mixed) + 1; ++n) {
        const std::string t = truncateUtf16(mixed, n);
        EXPECT_TRUE(isValidUtf8(t)) << n;
        EXPECT_LE(utf16Length(t), n);
        EXPECT_GE(utf16Length(t) + 1, std::min(n, utf16Length(mixed)));
    }
}

TEST(Utf16, MalformedBytesCountOnceAndSurviveConversions) {
    const std::string bad = "a\xFF\xC3"
                            "b";  // stray byte, truncated sequence
    EXPECT_FALSE(isValidUtf8(bad));
    EXPECT_FALSE(isValidUtf8("\xED\xA0\x80"));  // encoded surrogate
    EXPECT_FALSE(isValidUtf8("\xC0\xAF"));      // overlong
    EXPECT_FALSE(stringFromUtf8(Data{0x61, 0xF8}).has_value());
    EXPECT_EQ(stringFromUtf8(Data{0x61, 0x62}), "ab");
    EXPECT_EQ(utf16Length(bad), 4u);
    EXPECT_EQ(truncateUtf16(bad, 2), "a\xFF");
    EXPECT_EQ(toUtf16(kEmoji), u"a\U0001F600b");
    EXPECT_EQ(fromUtf16(u"a\U0001F600b"), kEmoji);
    EXPECT_EQ(fromUtf16(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

TEST(Compare, CaseAndDiacriticInsensitive) {
    const unsigned cd = kCaseInsensitive | kDiacriticInsensitive;
    EXPECT_TRUE(contains("Ren\xC3\xA9 M\xC3\xBCller", "muller", cd));
    EXPECT_FALSE(contains("Ren\xC3\xA9 M\xC3\xBCller", "muller", kCaseInsensitive));
    EXPECT_FALSE(contains("Ren\xC3\xA9 M\xC3\xBCller", "muller", kDiacriticInsensitive));
    EXPECT_TRUE(hasPrefix("\xC3\x89LODIE", "elo", cd));
    EXPECT_TRUE(hasPrefix("e\xCC\x81lan", "\xC3\xA9", kCaseInsensitive));  // canonical equivalence
    EXPECT_TRUE(equals("STRASSE",
                       "stra\xC3\x9F"
                       "e",
                       kCaseInsensitive));  // full folding of ß
    EXPECT_TRUE(hasSuffix("caf\xC3\x89", "E", cd));
    EXPECT_LT(compare("apple", "Banana", kCaseInsensitive), 0);
    EXPECT_GT(compare("apple", "Banana"), 0);
    EXPECT_FALSE(contains("abc", "", cd));
    EXPECT_FALSE(hasPrefix("ab", "abc", cd));
}

TEST(Compare, AsciiShortcutAgreesWithTheUnicodePath) {
    // Appending a non-ASCII character sends the same comparison through the Unicode folding.
    const std::string tail = "\xC3\xA9";
    const std::vector<std::string> words = {"",    "a",     "A",       "ab",   "aB",  "b",
                                            "Zed", "zebra", "main st", "MAIN", "x-y", "X_Y"};
    for (const auto& a : words) {
        for (const auto& b : words) {
            for (unsigned o : std::initializer_list<unsigned>{kCaseInsensitive, kDiacriticInsensitive,
                                                              kCaseInsensitive | kDiacriticInsensitive}) {
                if (a.size() == b.size() || compare(a, b, o) == 0) {
                    EXPECT_EQ(compare(a, b, o), compare(a + tail, b + tail, o)) << a << " / " << b << " / " << o;
                }
                EXPECT_EQ(contains(a, b, o), contains(a + tail, b, o)) << a << " / " << b;
                EXPECT_EQ(hasPrefix(a, b, o), hasPrefix(a + tail, b, o)) << a << " / " << b;
            }
        }
    }
}

TEST(Compare, RangeOfMapsBackToTheOriginalText) {
    const std::string text = "\xF0\x9F\x98\x80 Jos\xC3\xA9 ";  // emoji, space, José
    const Range r = rangeOf(text, "JOSE", kCaseInsensitive | kDiacriticInsensitive);
    EXPECT_EQ(r, (Range{3, 4}));
    EXPECT_EQ(substringUtf16(text, r), "Jos\xC3\xA9");
    EXPECT_EQ(rangeOf(text, "Jos"), (Range{3, 3}));
    EXPECT_FALSE(rangeOf(text, "x").found());
}

TEST(Case, UnicodeMapping) {
    EXPECT_EQ(lowercase("\xC3\x89T\xC3\x89 ABC"), "\xC3\xA9t\xC3\xA9 abc");
    EXPECT_EQ(uppercase("stra\xC3\x9F"
                        "e"),
              "STRASSE");
}

TEST(CharacterSets, ClassesFilterTrimAndSplit) {
    EXPECT_TRUE(CharacterSet::alphanumeric().contains(U'\u00E9'));
    EXPECT_TRUE(CharacterSet::alphanumeric().contains(U'\u0661'));  // Arabic-Indic one
    EXPECT_FALSE(CharacterSet::alphanumeric().contains(U'-'));
    EXPECT_TRUE(CharacterSet::decimalDigits().contains(U'\u0661'));
    EXPECT_TRUE(CharacterSet::whitespaceAndNewline().contains(U'\u00A0'));
    EXPECT_TRUE(CharacterSet::whitespaceAndNewline().contains(U'\u2028'));
    EXPECT_FALSE(CharacterSet::whitespaceAndNewline().contains(U'\u200B'));
    EXPECT_FALSE(CharacterSet::whitespaceAndNewline().contains(U'\u200D'));
    EXPECT_FALSE(CharacterSet::whitespace().contains(U'\n'));
    EXPECT_TRUE(CharacterSet::whitespace().contains(U'\t'));

    EXPECT_EQ(keepingOnly("(555) 123-4567", CharacterSet::decimalDigits()), "5551234567");
    EXPECT_EQ(removingCharacters("a-b c\xF0\x9F\x98\x80", CharacterSet::fromCharacters("- \xF0\x9F\x98\x80")), "abc");
    EXPECT_EQ(keepingOnly("x+1 (2)", CharacterSet::decimalDigits().unionWith(CharacterSet::fromCharacters("+"))),
              "+12");
    EXPECT_EQ(removingCharacters("abc123", CharacterSet::decimalDigits().inverted()), "123");
    EXPECT_EQ(trim(" \t\n\xC2\xA0hi there\r\n"), "hi there");
    EXPECT_EQ(trim("\xE2\x80\x8Bhi"), "\xE2\x80\x8Bhi");
    EXPECT_EQ(trim(" \n "), "");
    EXPECT_EQ(trim("--x--", CharacterSet::fromCharacters("-")), "x");

    EXPECT_EQ(split("a,,b", ","), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_EQ(split("", ","), (std::vector<std::string>{""}));
    EXPECT_EQ(split("a<>b<>", "<>"), (std::vector<std::string>{"a", "b", ""}));
    EXPECT_EQ(split("a b\nc", CharacterSet::whitespaceAndNewline()), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(join({"a", "b"}, ", "), "a, b");
    EXPECT_EQ(replaceAll("aaa", "aa", "b"), "ba");
    EXPECT_EQ(replaceAll("x.y.z", ".", "::"), "x::y::z");
    EXPECT_EQ(replaceAll("abc", "", "z"), "abc");
}

TEST(Strings, LeadingInteger) {
    EXPECT_EQ(parseLeadingInteger("  42abc"), 42);
    EXPECT_EQ(parseLeadingInteger("-17 x"), -17);
    EXPECT_EQ(parseLeadingInteger("+5"), 5);
    EXPECT_EQ(parseLeadingInteger("abc"), std::nullopt);
    EXPECT_EQ(parseLeadingInteger("-"), std::nullopt);
    EXPECT_EQ(parseLeadingInteger(""), std::nullopt);
    EXPECT_EQ(parseLeadingInteger("99999999999999999999"), INT64_MAX);
    EXPECT_EQ(parseLeadingInteger("-9223372036854775808"), INT64_MIN);
    EXPECT_EQ(parseLeadingInteger("-99999999999999999999"), INT64_MIN);
    EXPECT_EQ(parseLeadingInteger("9223372036854775807"), INT64_MAX);
}

TEST(Regex, MatchGroupsReplaceAndErrors) {
    auto re = Regex::make("(\\d+)-(x)?(\\w+)");
    ASSERT_TRUE(re.ok());
    EXPECT_EQ(re->numberOfCaptureGroups(), 3u);
    const std::string text = "\xF0\x9F\x98\x80 12-ab";
    auto m = re->firstMatch(text);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->range(), (Range{3, 5}));  // UTF-16 offsets: the emoji counts two
    EXPECT_EQ(m->groups[1], "12");
    EXPECT_FALSE(m->ranges[2].found());
    EXPECT_EQ(m->groups[3], "ab");
    EXPECT_EQ(substringUtf16(text, m->range()), "12-ab");

    auto ci = Regex::make("hello", Regex::kCaseInsensitive);
    ASSERT_TRUE(ci.ok());
    EXPECT_EQ(ci->replaceAll("Hello HELLO x", "[$0]"), "[Hello] [HELLO] x");
    EXPECT_EQ(ci->numberOfMatches("hello hello"), 2u);

    auto dotall = Regex::make("<b>(.*?)</b>", Regex::kDotMatchesLineSeparators);
    ASSERT_TRUE(dotall.ok());
    EXPECT_EQ(dotall->firstMatch("<b>a\nb</b>")->groups[1], "a\nb");
    auto noDotall = Regex::make("<b>(.*?)</b>");
    EXPECT_FALSE(noDotall->matches("<b>a\nb</b>"));

    auto look = Regex::make("\\d(?=px)");
    EXPECT_EQ(look->allMatches("1px 2em 3px").size(), 2u);
    EXPECT_TRUE(Regex::make("^\\d+$")->matchesEntirely("123"));
    EXPECT_FALSE(Regex::make("\\d+")->matchesEntirely("123a"));

    auto bad = Regex::make("(unclosed");
    ASSERT_FALSE(bad.ok());
    EXPECT_EQ(bad.error().code, kRegexPatternError);

    auto literal = Regex::make(Regex::escapedPattern("a.b*(c)"));
    EXPECT_TRUE(literal->matches("xa.b*(c)y"));
    EXPECT_FALSE(literal->matches("aXbbc"));
    EXPECT_EQ(Regex::make("x")->replaceAll("x", Regex::escapedTemplate("$1\\")), "$1\\");
}

TEST(Language, BestLanguageAndDirection) {
    EXPECT_EQ(bestStringLanguage("\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D 123"), "he");              // שלום
    EXPECT_EQ(bestStringLanguage("\xD9\x85\xD8\xB1\xD8\xAD\xD8\xA8\xD8\xA7 ok"), "ar");       // مرحبا
    EXPECT_EQ(bestStringLanguage("\xE6\x97\xA5\xE6\x9C\xAC\xE3\x81\xA7\xE3\x81\x99"), "ja");  // 日本です
    EXPECT_EQ(bestStringLanguage("\xE4\xB8\xAD\xE6\x96\x87"), "zh");
    EXPECT_EQ(bestStringLanguage("\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"), "ru");
    EXPECT_EQ(bestStringLanguage("Hello there"), std::nullopt);
    EXPECT_EQ(bestStringLanguage("Hello \xD7\xA9"), std::nullopt);  // mostly Latin
    EXPECT_EQ(bestStringLanguage("123 !?"), std::nullopt);
    EXPECT_EQ(bestStringLanguage(""), std::nullopt);
    EXPECT_TRUE(isRightToLeftLanguage("he"));
    EXPECT_TRUE(isRightToLeftLanguage("ar"));
    EXPECT_TRUE(isRightToLeftLanguage("fa-IR"));
    EXPECT_FALSE(isRightToLeftLanguage("en"));
    EXPECT_FALSE(isRightToLeftLanguage("ja"));
    EXPECT_FALSE(isRightToLeftLanguage(""));
}

TEST(Hash, StableFnv1a64) {
    // Published FNV-1a 64 test vectors.
    EXPECT_EQ(stableHash64(""), 0xcbf29ce484222325ULL);
    EXPECT_EQ(stableHash64("a"), 0xaf63dc4c8601ec8cULL);
    EXPECT_EQ(stableHash64("foobar"), 0x85944171f73967e8ULL);
}

TEST(Compare, AsciiLowercaseTouchesOnlyAsciiLetters) {
    // Protocol tokens: other bytes, malformed UTF-8 included, must come out as they went in,
    // where the Unicode lowercase would fold or replace them.
    const std::string bytes("Content-TYPE \xC3\x89\xFF\x80@[`{Z\0A", 22);
    EXPECT_EQ(asciiLowercase(bytes), std::string("content-type \xC3\x89\xFF\x80@[`{z\0a", 22));
    EXPECT_NE(lowercase("\xC3\x89"), asciiLowercase("\xC3\x89"));
    for (int c = 0; c < 256; ++c) {
        const std::string one(1, static_cast<char>(c));
        const char want = c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : static_cast<char>(c);
        EXPECT_EQ(asciiLowercase(one), std::string(1, want)) << c;
    }
}
