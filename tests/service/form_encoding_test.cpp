// Form encoding of dictionaries, checked against known encodings and decoded again by an
// independent form parser.
#include <gtest/gtest.h>

#include "service/http_extensions.h"
#include "tests/support/test_support.h"

using foundation::Array;
using foundation::Dictionary;
using foundation::Value;

TEST(FormEncoding, KeepsDictionaryOrderExpandsCollectionsAndEscapesOnlyTheNine) {
    Dictionary d{{"a", Value("x y")}, {"b", Value(Array{Value("1"), Value("2")})}};
    EXPECT_EQ(formatForHTTP(d), "a=x y&b=1&b=2");
    EXPECT_EQ(formatForHTTP(Dictionary{{"k", Value("a=b&c")}}), "k=a%3Db%26c");
    EXPECT_EQ(formatForHTTP(Dictionary{}), "");
    EXPECT_EQ(formatForHTTP(Dictionary{{"k;:@&=/+%?", Value(";:@&=/+%?")}}),
              "k%3B%3A%40%26%3D%2F%2B%25%3F=%3B%3A%40%26%3D%2F%2B%25%3F");
    EXPECT_EQ(formatForHTTP(Dictionary{{"n", Value(42)}, {"t", Value(true)}, {"e", Value(Array{})}}), "n=42&t=1");
    EXPECT_EQ(formatForHTTP(Dictionary{{"u", Value("é€")}}), "u=%C3%A9%E2%82%AC");
    EXPECT_EQ(formatForHTTP(Dictionary{{"d", Value(Dictionary{{"x", Value("1")}, {"y", Value("2")}})}}), "d=1&d=2");
    std::vector<foundation::Key> ordering{"b", "a"};
    EXPECT_EQ(formatForHTTPUsingEncoding(d, StringEncoding::UTF8, ordering), "b=1&b=2&a=x y");
}

TEST(FormEncoding, ControlCharactersCannotBreakARequestLine) {
    EXPECT_EQ(formatForHTTP(Dictionary{{"k", Value("a\r\nX: 1")}}), "k=a%0D%0AX%3A 1");
}

TEST(FormEncoding, AnIndependentParserReadsBackTheSameFields) {
    if (!hxtest::haveProgram("python3")) GTEST_SKIP() << "python3 not installed";
    Dictionary d{{"continue", Value("https://s.test/voice/?a=1&b=2")},
                 {"name", Value("Zoë & co; 100% +1")},
                 {"multi", Value(Array{Value("x/y"), Value("p:q")})}};
    std::string body = formatForHTTPUsingEncoding(d, StringEncoding::UTF8);
    hxtest::TempDir dir;
    std::string script = (dir / "parse.py").string();
    FILE* f = fopen(script.c_str(), "w");
    fputs("import sys, urllib.parse\n"
          "for k, v in urllib.parse.parse_qsl(sys.stdin.read().replace(' ', '%20'), keep_blank_values=True):\n"
          "    print(k + '\\t' + v)\n",
          f);
    fclose(f);
    std::string bodyFile = (dir / "body").string();
    f = fopen(bodyFile.c_str(), "w");
    fputs(body.c_str(), f);
    fclose(f);
    std::string out;
    ASSERT_EQ(hxtest::runCommand("python3 " + script + " < " + bodyFile, &out), 0);
    EXPECT_EQ(out, "continue\thttps://s.test/voice/?a=1&b=2\n"
                   "name\tZoë & co; 100% +1\n"
                   "multi\tx/y\n"
                   "multi\tp:q\n");
}
