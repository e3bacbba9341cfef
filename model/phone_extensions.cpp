#include "model/phone_extensions.h"

#include <unicode/utf8.h>

#include <array>
#include <exception>

#include "model/application_model.h"
#include "model/entities_converter.h"
#include "model/phone_format.h"

namespace PhoneExtensions {

namespace {

// Calls f(start, length, codePoint) for every character; an ill-formed byte is one character
// of its own (code point U+FFFD) so nothing is skipped.
template <typename F>
void forEachCharacter(std::string_view s, F f) {
    int32_t i = 0;
    const auto n = int32_t(s.size());
    const auto* bytes = reinterpret_cast<const uint8_t*>(s.data());
    while (i < n) {
        const int32_t start = i;
        UChar32 c;
        U8_NEXT(bytes, i, n, c);
        f(size_t(start), size_t(i - start), c < 0 ? char32_t(0xFFFD) : char32_t(c));
    }
}

bool startsWithIgnoringCase(std::string_view s, size_t at, std::string_view pattern) {
    if (s.size() - at < pattern.size()) return false;
    for (size_t k = 0; k < pattern.size(); ++k) {
        char a = s[at + k], b = pattern[k];
        if (a >= 'A' && a <= 'Z') a = char(a - 'A' + 'a');
        if (b >= 'A' && b <= 'Z') b = char(b - 'A' + 'a');
        if (a != b) return false;
    }
    return true;
}

std::string replaceAll(std::string_view s, std::string_view pattern, std::string_view replacement, bool anyCase) {
    std::string out;
    size_t i = 0;
    while (i < s.size()) {
        const bool hit = anyCase ? startsWithIgnoringCase(s, i, pattern) : s.substr(i, pattern.size()) == pattern;
        if (hit) {
            out.append(replacement);
            i += pattern.size();
        } else {
            out.push_back(s[i++]);
        }
    }
    return out;
}

}  // namespace

std::string extractCharactersFromStringUsingCharset(std::string_view s, const foundation::CharacterSet& charset) {
    std::string out;
    forEachCharacter(s, [&](size_t start, size_t length, char32_t c) {
        if (charset.contains(c)) out.append(s.substr(start, length));
    });
    return out;
}

std::shared_ptr<HXCPhoneFormat> sharedFormatter() {
    auto app = HXApplicationModel::sharedDelegate();
    if (!app) return nullptr;
    auto formatter = app->phoneFormatter();
    app->decreasePhoneFormatterAccessCount();
    return formatter;
}

std::string formattedPhoneNumberFromString(std::string_view s) {
    auto formatter = sharedFormatter();
    return formatter ? formattedPhoneNumberFromStringWithFormatter(s, *formatter) : std::string(s);
}

std::string formattedPhoneNumberFromStringWithFormatter(std::string_view s, const HXCPhoneFormat& f) {
    try {
        const size_t comma = s.find(',');
        if (comma == std::string_view::npos) return f.format(s);
        if (comma == 0) return std::string(s);
        return f.format(s.substr(0, comma)) + std::string(s.substr(comma));
    } catch (const std::exception&) {
        return std::string(s);
    }
}

std::string phoneNumberFromLetters(std::string_view s) {
    // Each character is mapped on its own, so a letter whose lower case has another length
    // cannot shift the walk.
    static constexpr char kKeypad[26] = {'2', '2', '2', '3', '3', '3', '4', '4', '4', '5', '5', '5', '6',
                                         '6', '6', '7', '7', '7', '7', '8', '8', '8', '9', '9', '9', '9'};
    std::string out(s);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z')
            c = kKeypad[c - 'a'];
        else if (c >= 'A' && c <= 'Z')
            c = kKeypad[c - 'A'];
    }
    return out;
}

std::string localizedString(std::string_view key) {
    // The user-interface framework's string table is not part of this platform: the key is
    // its own translation, as when that bundle is not found.
    return std::string(key);
}

std::string stringByUnescapingEntities(std::string_view s) {
    if (s.find('&') == std::string_view::npos) return std::string(s);
    // A lone "&" (no ";" after it, or a blank before the ";") is taken literally.
    std::string text;
    text.reserve(s.size() + 16);
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '&') {
            text.push_back(s[i]);
            continue;
        }
        const size_t semicolon = s.find(';', i);
        const size_t blank = s.find(' ', i);
        if (semicolon == std::string_view::npos || (blank != std::string_view::npos && blank < semicolon)) {
            text.append("&amp;");
        } else {
            text.push_back('&');
        }
    }
    std::string escaped;
    escaped.reserve(text.size());
    for (char c : text) {
        if (c == '<')
            escaped.append("&lt;");
        else if (c == '>')
            escaped.append("&gt;");
        else
            escaped.push_back(c);
    }
    MREntitiesConverter converter;
    return converter.convertEntiesInString(escaped);
}

std::string stringByUsingGraphicalEmoticons(std::string_view s) {
    struct Emoticon {
        std::string_view ascii;
        std::string_view emoji;
        bool anyCase;
    };
    static constexpr std::array<Emoticon, 19> kEmoticons = {{
        {":-)", "\xEE\x90\x95", false},  {":)", "\xEE\x90\x95", false},   {";-)", "\xEE\x90\x85", false},
        {";)", "\xEE\x90\x85", false},   {":-p", "\xEE\x90\x89", true},   {";-p", "\xEE\x84\x85", true},
        {">:-(", "\xEE\x90\x87", false}, {":-(", "\xEE\x81\x98", false},  {":(", "\xEE\x81\x98", false},
        {":-D", "\xEE\x81\x97", false},  {":D", "\xEE\x81\x97", false},   {":-*", "\xEE\x90\x97", false},
        {":'-(", "\xEE\x90\x93", false}, {":-<>", "\xEE\x84\x87", false}, {":-o", "\xEE\x90\x8B", false},
        {":-||", "\xEE\x81\x99", false}, {":-x", "\xEE\x90\x98", false},  {"<3", "\xEE\x80\xA2", false},
        {":-/", "\xEE\x90\x82", false},
    }};
    std::string out(s);
    for (const auto& e : kEmoticons) {
        const bool present = e.anyCase ? replaceAll(out, e.ascii, "", true).size() != out.size()
                                       : out.find(e.ascii) != std::string::npos;
        if (present) out = replaceAll(out, e.ascii, e.emoji, e.anyCase);
    }
    return out;
}

}  // namespace PhoneExtensions

#include "platform/security/digest.h"

namespace PhoneExtensions {

std::string md5(std::string_view s) { return security::digestHex(security::DigestAlgorithm::MD5, s); }
std::string sha1(std::string_view s) { return security::digestHex(security::DigestAlgorithm::SHA1, s); }
std::string sha224(std::string_view s) { return security::digestHex(security::DigestAlgorithm::SHA224, s); }
std::string sha256(std::string_view s) { return security::digestHex(security::DigestAlgorithm::SHA256, s); }
std::string sha384(std::string_view s) { return security::digestHex(security::DigestAlgorithm::SHA384, s); }
std::string sha512(std::string_view s) { return security::digestHex(security::DigestAlgorithm::SHA512, s); }

}  // namespace PhoneExtensions
