#include <gtest/gtest.h>

#include "RurIdurev/RurIdurev/Internals/Util/utility.h"
#include "tests/RurIdurev/telemetry/log_capture.h"

using foundation::Dictionary;

TEST(SecretParsing, Grammar) {
    struct Case {
        std::optional<std::string> input;
        std::optional<std::string> secret;
        std::optional<std::string> token;
    } cases[] = {
        {"1b5d4a2c-3f4e-4c1a-9b8d-0e7f6a5b4c3d", "1b5d4a2c-3f4e-4c1a-9b8d-0e7f6a5b4c3d", std::nullopt},
        {"appsecret=A1;target=B2", "A1", "B2"},
        {"target=B2", std::nullopt, "B2"},
        {"appsecret=", std::nullopt, std::nullopt},
        {"appsecret=A1;", "A1", std::nullopt},
        {"bare;ios=Y", "Y", std::nullopt},
        {"ios=Y;android=Z", "Y", std::nullopt},
        {"android=Z;ios=Y;target=T", "Y", "T"},
        {"target=;target=T2", std::nullopt, "T2"},
        {"key=value", "key=value", std::nullopt},
        {";;abc", "abc", std::nullopt},
        {"", std::nullopt, std::nullopt},
        {std::nullopt, std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        const std::string label = c.input.value_or("<nil>");
        EXPECT_EQ(ZIVOUtility::appSecretFrom(c.input), c.secret) << label;
        EXPECT_EQ(ZIVOUtility::transmissionTargetTokenFrom(c.input), c.token) << label;
    }
}

TEST(SecretParsing, TargetKeys) {
    EXPECT_EQ(ZIVOUtility::targetKeyFromTargetToken("abc-def-1"), "abc");
    EXPECT_EQ(ZIVOUtility::targetKeyFromTargetToken("whole"), "whole");
    EXPECT_EQ(ZIVOUtility::targetKeyFromTargetToken("-abc"), std::nullopt);
    EXPECT_EQ(ZIVOUtility::iKeyFromTargetToken("abc-def"), "o:abc");
    EXPECT_EQ(ZIVOUtility::iKeyFromTargetToken("-x"), std::nullopt);
}

TEST(Dates, TelemetryFormatRoundTripsAndTruncatesMilliseconds) {
    // 2024-03-05T14:07:09.123Z
    const foundation::Date date{1709647629.123};
    EXPECT_EQ(ZIVOUtility::dateToISO8601(date), "2024-03-05T14:07:09.123Z");
    auto back = ZIVOUtility::dateFromISO8601("2024-03-05T14:07:09.123Z");
    ASSERT_TRUE(back.has_value());
    EXPECT_NEAR(back->secondsSince1970, 1709647629.123, 1e-6);
    // Never rounded up into the next second (nor to "60.000").
    EXPECT_EQ(ZIVOUtility::dateToISO8601({1709647629.9996}), "2024-03-05T14:07:09.999Z");
    EXPECT_EQ(ZIVOUtility::dateToISO8601({0}), "1970-01-01T00:00:00.000Z");
    EXPECT_EQ(ZIVOUtility::dateToISO8601({-0.5}), "1969-12-31T23:59:59.500Z");
    for (const char* bad : {"", "2024-03-05", "2024-03-05T14:07:09Z", "2024-02-30T00:00:00.000Z",
                            "2024-13-01T00:00:00.000Z", "2024-03-05T14:07:09.12xZ", "2024-03-05 14:07:09.123Z"})
        EXPECT_FALSE(ZIVOUtility::dateFromISO8601(bad).has_value()) << bad;
}

TEST(Sha256, HexOfText) {
    EXPECT_EQ(ZIVOUtility::sha256("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(PropertyValidation, LimitsCountAndLogsOnce) {
    LogCapture capture;
    Dictionary props;
    for (int i = 0; i < 21; ++i) props.set("k" + std::to_string(i), "v");
    auto valid = ZIVOUtility::validateProperties(props, "MyLog", "Log");
    EXPECT_EQ(valid.size(), 20u);
    EXPECT_FALSE(valid.contains("k20"));
    auto warnings = capture.messages(ZIVOLogLevelWarning);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0], "Log 'MyLog' : properties cannot contain more than 20 items. Skipping other properties.");

    // Twenty valid ones followed by an invalid one: the limit is still met at the 21st.
    capture.clear();
    Dictionary more;
    for (int i = 0; i < 20; ++i) more.set("k" + std::to_string(i), "v");
    more.set("bad", 5);
    EXPECT_EQ(ZIVOUtility::validateProperties(more, "MyLog", "Log").size(), 20u);
    EXPECT_EQ(capture.messages(ZIVOLogLevelWarning).size(), 1u);
}

TEST(PropertyValidation, SkipsAndTruncates) {
    LogCapture capture;
    Dictionary props;
    props.set("num", 3);                 // not a string: skipped silently
    props.set(foundation::Key(7), "x");  // number key: skipped silently
    props.set("", "empty key");
    props.set(std::string(125, 'k'), std::string(125, 'v'));
    props.set(std::string(126, 'K'), std::string(126, 'V'));
    auto valid = ZIVOUtility::validateProperties(props, "N", "T");
    ASSERT_EQ(valid.size(), 2u);
    EXPECT_EQ(valid.get(std::string(125, 'k')).asString(), std::string(125, 'v'));
    EXPECT_EQ(valid.get(std::string(125, 'K')).asString(), std::string(125, 'V'));
    auto warnings = capture.messages(ZIVOLogLevelWarning);
    ASSERT_EQ(warnings.size(), 3u);
    EXPECT_EQ(warnings[0], "T 'N' : a property key cannot be null or empty. Property will be skipped.");
    EXPECT_EQ(warnings[1], "T 'N' : property " + std::string(126, 'K') +
                               " : property key length cannot be longer than 125 characters. Property key will be "
                               "truncated.");
    EXPECT_EQ(warnings[2], "T 'N' : property '" + std::string(125, 'K') +
                               "' : property value cannot be longer than 125 characters. Property value will be "
                               "truncated.");
}

TEST(PropertyValidation, CutsOnACodePointBoundary) {
    // 124 ASCII units, then an emoji of two UTF-16 units: 126 units in all. Cutting at 125 must
    // not split the surrogate pair, so the emoji goes whole.
    const std::string emoji = "\xF0\x9F\x98\x80";
    Dictionary props;
    props.set("key", std::string(124, 'a') + emoji);
    auto valid = ZIVOUtility::validateProperties(props, "N", "T");
    EXPECT_EQ(valid.get("key").asString(), std::string(124, 'a'));
    // Exactly 125 units with the pair at the end stays whole.
    props.set("key", std::string(123, 'a') + emoji);
    EXPECT_EQ(ZIVOUtility::validateProperties(props, "N", "T").get("key").asString(), std::string(123, 'a') + emoji);
}

TEST(PrettyPrintJson, RewritesJsonAndPassesOtherText) {
    std::string json = R"({"a":"x/y","b":[1,2]})";
    auto pretty = ZIVOUtility::prettyPrintJson(foundation::Data(json.begin(), json.end()));
    ASSERT_TRUE(pretty.has_value());
    EXPECT_NE(pretty->find("\"x/y\""), std::string::npos);
    EXPECT_NE(pretty->find('\n'), std::string::npos);
    std::string text = "not json";
    EXPECT_EQ(ZIVOUtility::prettyPrintJson(foundation::Data(text.begin(), text.end())), "not json");
    EXPECT_EQ(ZIVOUtility::prettyPrintJson(std::nullopt), std::nullopt);
}
