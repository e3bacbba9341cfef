#include "model/phone_extensions.h"

#include <gtest/gtest.h>

#include <fstream>

#include "app/connect_app_delegate.h"
#include "model/entities_converter.h"
#include "model/phone_format.h"
#include "tests/support/test_support.h"

namespace {

using namespace PhoneExtensions;

std::string u8(const char8_t* s) { return std::string(reinterpret_cast<const char*>(s)); }

TEST(PhoneExtensions, EntityDecodingOfTheCasesTheAppMeets) {
    EXPECT_EQ(stringByUnescapingEntities("fish &amp; chips"), "fish & chips");
    EXPECT_EQ(stringByUnescapingEntities("a &amp; b"), "a & b");
    EXPECT_EQ(stringByUnescapingEntities("&#233;t&#xE9;"), u8(u8"\u00e9t\u00e9"));
    EXPECT_EQ(stringByUnescapingEntities("x < y & z"), "x < y & z");
    EXPECT_EQ(stringByUnescapingEntities("no entities at all"), "no entities at all");
    // A lone "&": no ";" after it, or a blank before the ";".
    EXPECT_EQ(stringByUnescapingEntities("Tom & Jerry; friends"), "Tom & Jerry; friends");
    EXPECT_EQ(stringByUnescapingEntities("R&D"), "R&D");
    EXPECT_EQ(stringByUnescapingEntities("&lt;b&gt; &quot;q&quot; &apos;s"), "<b> \"q\" 's");
}

TEST(PhoneExtensions, EntityDecodingNeverDropsTheRestOfTheText) {
    // HTML names, unknown names, invalid references and controls: decoded or kept as typed,
    // and the text after them is always there.
    EXPECT_EQ(stringByUnescapingEntities("caf&eacute; &copy; 2024&nbsp;end"), u8(u8"caf\u00e9 \u00a9 2024\u00a0end"));
    EXPECT_EQ(stringByUnescapingEntities("AT&T; rocks"), "AT&T; rocks");
    EXPECT_EQ(stringByUnescapingEntities("bad &#0; and &#xD800; and &#1114112; tail"),
              "bad &#0; and &#xD800; and &#1114112; tail");
    EXPECT_EQ(stringByUnescapingEntities("ctl \x01 &amp; tail"), "ctl \x01 & tail");
    EXPECT_EQ(stringByUnescapingEntities("emoji &#128512;!"), u8(u8"emoji \U0001F600!"));
    EXPECT_EQ(stringByUnescapingEntities("&;&#;&#x;&amp"), "&;&#;&#x;&amp");
    // Multi-character HTML values.
    EXPECT_EQ(MREntitiesConverter::namedEntity("nvlt"), u8(u8"<\u20d2"));
    EXPECT_EQ(MREntitiesConverter::namedEntity("amp"), "&");
    EXPECT_EQ(MREntitiesConverter::namedEntity("nosuch"), "");
}

TEST(PhoneExtensions, EntityTableAgreesWithPython) {
    if (!hxtest::haveProgram("/usr/bin/python3")) GTEST_SKIP() << "no python3";
    // A sample of names decoded here and by python3's own HTML unescaper.
    const std::string text = "&hearts;&Aring;&frac12;&NotEqualTilde;&zwnj;&fjlig;&bne;&ThickSpace;";
    std::string expected;
    ASSERT_EQ(
        hxtest::runCommand("/usr/bin/python3 -c \"import html,sys; sys.stdout.write(html.unescape('" + text + "'))\"",
                           &expected),
        0);
    EXPECT_EQ(stringByUnescapingEntities(text), expected);
}

TEST(PhoneExtensions, KeypadLettersAndCharacterFiltering) {
    EXPECT_EQ(phoneNumberFromLetters("555-HELP"), "555-4357");
    EXPECT_EQ(phoneNumberFromLetters("abc"), "222");
    EXPECT_EQ(phoneNumberFromLetters("1-800-FLOWERS"), "1-800-3569377");
    EXPECT_EQ(phoneNumberFromLetters("pqrs tuv wxyz +#*"), "7777 888 9999 +#*");
    // Letters whose lower case has another length leave the walk in step.
    EXPECT_EQ(phoneNumberFromLetters(u8(u8"\u0130ABC\u00e9")), u8(u8"\u0130222\u00e9"));
    EXPECT_EQ(extractCharactersFromStringUsingCharset("(555) 123-4567",
                                                      foundation::CharacterSet::fromCharacters("0123456789")),
              "5551234567");
    EXPECT_EQ(extractCharactersFromStringUsingCharset(u8(u8"caf\u00e9 bar"),
                                                      foundation::CharacterSet::fromCharacters(u8(u8"\u00e9a"))),
              u8(u8"a\u00e9a"));
    EXPECT_EQ(
        extractCharactersFromStringUsingCharset(u8(u8"J\u00fcrgen-99 x"), foundation::CharacterSet::alphanumeric()),
        u8(u8"J\u00fcrgen99x"));
    EXPECT_EQ(localizedString("Cancel"), "Cancel");
}

TEST(PhoneExtensions, EmoticonsInTheirOrder) {
    EXPECT_EQ(stringByUsingGraphicalEmoticons(">:-("), u8(u8"\ue407"));
    EXPECT_EQ(stringByUsingGraphicalEmoticons("hi :-) :) ;-) ;)"), u8(u8"hi \ue415 \ue415 \ue405 \ue405"));
    EXPECT_EQ(stringByUsingGraphicalEmoticons(":-P ;-P :-p"), u8(u8"\ue409 \ue105 \ue409"));
    EXPECT_EQ(stringByUsingGraphicalEmoticons(":-D :D :-* :'-( :-<> :-o :-|| :-x <3 :-/"),
              u8(u8"\ue057 \ue057 \ue417 \ue413 \ue107 \ue40b \ue059 \ue418 \ue022 \ue402"));
    EXPECT_EQ(stringByUsingGraphicalEmoticons(":-O stays"), ":-O stays");  // only ":-p" rows ignore case
}

TEST(PhoneExtensions, FormattingKeepsPausesAndExtensions) {
    const std::string rules = std::string(HX_RESOURCES_DIR) + "/PhoneFormats.dat";
    std::ifstream in(rules, std::ios::binary);
    foundation::Data bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    HXCPhoneFormat f(bytes, "us");
    EXPECT_EQ(formattedPhoneNumberFromStringWithFormatter("555-1234,,99", f), "555-1234,,99");
    EXPECT_EQ(formattedPhoneNumberFromStringWithFormatter("5551234567,,99#", f), "(555) 123-4567,,99#");
    EXPECT_EQ(formattedPhoneNumberFromStringWithFormatter(",5551234567", f), ",5551234567");
    EXPECT_EQ(formattedPhoneNumberFromStringWithFormatter("+447400123456", f), "+44 7400 123456");
}

TEST(PhoneExtensions, DigestsAgreeWithCoreutils) {
    const std::string text = u8(u8"HX Connect \u00e9\U0001F600");
    const struct {
        std::string (*digest)(std::string_view);
        const char* tool;
        size_t length;
    } cases[] = {{md5, "md5sum", 32},       {sha1, "sha1sum", 40},     {sha224, "sha224sum", 56},
                 {sha256, "sha256sum", 64}, {sha384, "sha384sum", 96}, {sha512, "sha512sum", 128}};
    hxtest::TempDir dir;
    { std::ofstream(dir / "in", std::ios::binary) << text; }
    for (const auto& c : cases) {
        const std::string ours = c.digest(text);
        EXPECT_EQ(ours.size(), c.length);
        std::string theirs;
        if (!hxtest::haveProgram(c.tool)) continue;
        ASSERT_EQ(hxtest::runCommand(std::string(c.tool) + " '" + (dir / "in").string() + "'", &theirs), 0);
        EXPECT_EQ(ours, theirs.substr(0, c.length)) << c.tool;
    }
    EXPECT_EQ(md5(""), "d41d8cd98f00b204e9800998ecf8427e");
}

}  // namespace
