#include "platform/foundation/base64.h"

#include <gtest/gtest.h>

#include "tests/support/bytes.h"
#include "tests/support/test_support.h"

using namespace foundation;

namespace {
using hxtest::bytes;
}  // namespace

TEST(Base64, Rfc4648Vectors) {
    const std::pair<const char*, const char*> vectors[] = {{"", ""},
                                                           {"f", "Zg=="},
                                                           {"fo", "Zm8="},
                                                           {"foo", "Zm9v"},
                                                           {"foob", "Zm9vYg=="},
                                                           {"fooba", "Zm9vYmE="},
                                                           {"foobar", "Zm9vYmFy"}};
    for (auto [plain, encoded] : vectors) {
        EXPECT_EQ(base64Encode(std::string_view(plain)), encoded);
        EXPECT_EQ(base64Decode(encoded), bytes(plain)) << encoded;
        EXPECT_EQ(base64Decode(encoded, Base64Decoding::IgnoreUnknownCharacters), bytes(plain)) << encoded;
    }
}

TEST(Base64, StrictAndLenientDecoding) {
    EXPECT_FALSE(base64Decode("Zm9v\nYmFy"));
    EXPECT_EQ(base64Decode("Zm9v\r\nYm Fy!", Base64Decoding::IgnoreUnknownCharacters), bytes("foobar"));
    EXPECT_FALSE(base64Decode("Zm8"));  // strict needs padding
    EXPECT_EQ(base64Decode("Zm8", Base64Decoding::IgnoreUnknownCharacters), bytes("fo"));
    EXPECT_FALSE(base64Decode("Z", Base64Decoding::IgnoreUnknownCharacters));  // half a byte
    EXPECT_FALSE(base64Decode("Zg==Zg=="));
    EXPECT_FALSE(base64Decode("Zg==Zg==", Base64Decoding::IgnoreUnknownCharacters));
    EXPECT_FALSE(base64Decode("Zm9v===="));
    EXPECT_FALSE(base64Decode("Zg=a"));
    EXPECT_FALSE(base64Decode("===="));
}

TEST(Base64, LongBinaryAgreesWithCoreutils) {
    if (!hxtest::haveProgram("base64")) GTEST_SKIP();
    Data data;
    for (int i = 0; i < 1000; ++i) data.push_back(static_cast<uint8_t>(i * 37 + 11));
    const std::string encoded = base64Encode(data);
    EXPECT_EQ(encoded.find('\n'), std::string::npos);
    std::string out;
    ASSERT_EQ(hxtest::runCommand("printf '%s' '" + encoded + "' | base64 -d | od -An -v -tu1 | tr -s ' \\n' ' '", &out),
              0);
    std::string expected;
    for (uint8_t b : data) expected += " " + std::to_string(b);
    EXPECT_EQ(out, expected + " ");
    EXPECT_EQ(base64Decode(encoded), data);
}
