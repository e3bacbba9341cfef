#include "app/connect_app_delegate.h"

#include <gtest/gtest.h>

#include "model/phone_extensions.h"
#include "model/phone_format.h"
#include "tests/support/test_support.h"

#include <fstream>

namespace {

using namespace PhoneExtensions;

TEST(HX_ConnectAppDelegate, JSONStringFromStringEscapesLikeJSON) {
    HX_ConnectAppDelegate app;
    const std::string text = "say \"hi\"\nback\\slash\ttab \x01 caf\xC3\xA9 a/b";
    const std::string escaped = app.JSONStringFromString(text);
    EXPECT_NE(escaped.find("\\\"hi\\\""), std::string::npos);
    EXPECT_NE(escaped.find("\\n"), std::string::npos);
    EXPECT_EQ(escaped.find('\n'), std::string::npos);
    EXPECT_EQ(app.JSONStringFromString(""), "");
    if (!hxtest::haveProgram("/usr/bin/python3")) GTEST_SKIP() << "no python3";
    // Independent check: python's JSON reader turns the escaped text back into the original.
    hxtest::TempDir dir;
    { std::ofstream(dir / "in", std::ios::binary) << escaped; }
    std::string back;
    ASSERT_EQ(hxtest::runCommand("/usr/bin/python3 -c \"import json,sys; sys.stdout.buffer.write(json.loads('\\\"' + "
                                 "open(sys.argv[1], encoding='utf-8').read() + '\\\"').encode())\" '" +
                                     (dir / "in").string() + "'",
                                 &back),
              0);
    EXPECT_EQ(back, text);
}

TEST(PhoneExtensions, SharedFormatterIsTakenAndGivenBack) {
    HX_ConnectAppDelegate::setSharedDelegate(nullptr);
    EXPECT_EQ(formattedPhoneNumberFromString("5551234567"), "5551234567");  // no application object

    // The formatter reads the rule file from the main bundle's resources.
    auto app = std::make_shared<HX_ConnectAppDelegate>();
    HX_ConnectAppDelegate::setSharedDelegate(app);
    EXPECT_EQ(formattedPhoneNumberFromString("5551234567"), "(555) 123-4567");
    EXPECT_EQ(app->phoneFormatterAccessCount(), 0u);

    // A use that is out keeps the formatter through a memory warning; a released one goes.
    auto held = app->phoneFormatter();
    EXPECT_FALSE(app->releasePhoneFormatterIfUnused());
    EXPECT_EQ(app->phoneFormatter(), held);
    app->decreasePhoneFormatterAccessCount();
    app->decreasePhoneFormatterAccessCount();
    app->decreasePhoneFormatterAccessCount();  // one too many: the count stays at 0
    EXPECT_EQ(app->phoneFormatterAccessCount(), 0u);
    EXPECT_TRUE(app->releasePhoneFormatterIfUnused());
    EXPECT_NE(app->phoneFormatter(), held);
    app->decreasePhoneFormatterAccessCount();
    HX_ConnectAppDelegate::setSharedDelegate(nullptr);
}

}  // namespace
