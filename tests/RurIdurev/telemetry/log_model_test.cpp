#include <gtest/gtest.h>

#include <fstream>

#include "RurIdurev/RurIdurev/Internals/Model/CommonSchema/common_schema_log.h"
#include "RurIdurev/RurIdurev/Internals/Model/log_container.h"
#include "RurIdurev/RurIdurev/Internals/Model/log_with_properties.h"
#include "RurIdurev/RurIdurev/Internals/Model/start_service_log.h"
#include "RurIdurev/RurIdurev/Internals/Model/typed_property.h"
#include "platform/foundation/json.h"
#include "tests/RurIdurev/telemetry/log_capture.h"
#include "tests/RurIdurev/telemetry/model_test_support.h"
#include "tests/support/test_support.h"

using telemetrytest::canonicalJSON;
using telemetrytest::validDevice;

TEST(Device, RequiredFieldsOnlyGiveExactlyEightKeys) {
    auto d = validDevice();
    EXPECT_TRUE(d->isValid());
    auto json = foundation::toJSON(d->serializeToDictionary());
    ASSERT_TRUE(json.ok());
    EXPECT_EQ(canonicalJSON(*json),
              R"({"appBuild":"34","appVersion":"1.2","locale":"en_US","osName":"Debian GNU/Linux","osVersion":"12",)"
              R"("sdkName":"ruridurev.ios","sdkVersion":"5.0.5","timeZoneOffset":-300})");
}

TEST(Device, ValidityNamesTheFirstMissingField) {
    LogCapture capture;
    auto d = validDevice();
    d->setAppBuild(std::nullopt);
    EXPECT_FALSE(d->isValid());
    d->setLocale(std::nullopt);
    EXPECT_FALSE(d->isValid());
    EXPECT_EQ(
        capture.messages(ZIVOLogLevelVerbose),
        (std::vector<std::string>{"ZIVODevice: \"appBuild\" is not valid.", "ZIVODevice: \"locale\" is not valid."}));
    auto empty = validDevice();
    empty->setOsVersion(std::string());
    EXPECT_TRUE(empty->isValid());
}

TEST(Device, EqualityCoversWrapperFields) {
    auto a = validDevice(), b = validDevice();
    EXPECT_TRUE(a->isEqual(*b));
    b->setLiveUpdatePackageHash(std::string("h"));
    EXPECT_FALSE(a->isEqual(*b));
    EXPECT_TRUE(ZIVODevice().isEqual(ZIVODevice()));
    // A plain wrapper SDK is not a device.
    ZIVOWrapperSdk wrapper;
    EXPECT_FALSE(ZIVODevice().isEqual(wrapper));
    EXPECT_TRUE(wrapper.isEqual(ZIVODevice()));
}

TEST(AbstractLog, MinimalValidLogHasExactlyThreeKeys) {
    ZIVOStartServiceLog log;  // any concrete log; services unset
    log.setTimestamp(foundation::Date{1709647629.123});
    log.setDevice(validDevice());
    EXPECT_TRUE(log.isValid());
    auto dict = log.serializeToDictionary();
    EXPECT_EQ(dict.size(), 3u);
    auto text = log.serializeLogWithPrettyPrinting(false);
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(canonicalJSON(*text),
              R"({"device":{"appBuild":"34","appVersion":"1.2","locale":"en_US","osName":"Debian GNU/Linux",)"
              R"("osVersion":"12","sdkName":"ruridurev.ios","sdkVersion":"5.0.5","timeZoneOffset":-300},)"
              R"("timestamp":"2024-03-05T14:07:09.123Z","type":"startService"})");
}

TEST(AbstractLog, SlashesAreNotEscapedAndEveryFieldIsWritten) {
    ZIVOLogWithProperties log;
    log.setType(std::string("custom"));
    log.setTimestamp(foundation::Date{0});
    log.setSid(std::string("s-1"));
    log.setDistributionGroupId(std::string("g"));
    log.setUserId(std::string("a/b"));
    log.setDataResidencyRegion(std::string("eu"));
    log.setProperties(foundation::Dictionary{{"k", "v/w"}});
    auto text = log.serializeLogWithPrettyPrinting(false);
    ASSERT_TRUE(text.has_value());
    EXPECT_NE(text->find("\"a/b\""), std::string::npos);
    EXPECT_EQ(text->find("\\/"), std::string::npos);
    EXPECT_EQ(canonicalJSON(*text),
              R"({"dataResidencyRegion":"eu","distributionGroupId":"g","properties":{"k":"v/w"},"sid":"s-1",)"
              R"("timestamp":"1970-01-01T00:00:00.000Z","type":"custom","userId":"a/b"})");
    // Pretty text says the same.
    EXPECT_EQ(canonicalJSON(*log.serializeLogWithPrettyPrinting(true)), canonicalJSON(*text));

    log.setProperties(foundation::Dictionary{});
    EXPECT_FALSE(log.serializeToDictionary().contains("properties"));
}

TEST(AbstractLog, ValidityReportsTheFirstFailingField) {
    LogCapture capture;
    ZIVOLogWithProperties log;
    EXPECT_FALSE(log.isValid());
    log.setType(std::string());  // the empty type is present
    EXPECT_FALSE(log.isValid());
    log.setTimestamp(foundation::Date{1});
    auto device = validDevice();
    device->setAppBuild(std::nullopt);
    log.setDevice(device);
    EXPECT_FALSE(log.isValid());
    EXPECT_EQ(capture.messages(ZIVOLogLevelVerbose),
              (std::vector<std::string>{
                  "ZIVOLogWithProperties: \"type\" is not valid.", "ZIVOLogWithProperties: \"timestamp\" is not valid.",
                  "ZIVODevice: \"appBuild\" is not valid.", "ZIVOLogWithProperties: \"device\" is not valid."}));
}

TEST(AbstractLog, EqualityIgnoresTokensButNotTag) {
    ZIVOLogWithProperties a, b;
    for (auto* log : {&a, &b}) {
        log->setType(std::string("t"));
        log->setTimestamp(foundation::Date{5});
        log->setDevice(validDevice());
    }
    a.addTransmissionTargetToken("x");
    EXPECT_TRUE(a.isEqual(b));
    b.setTag("marker");
    EXPECT_FALSE(a.isEqual(b));
    a.setTag("marker");
    EXPECT_TRUE(a.isEqual(b));
    a.setProperties(foundation::Dictionary{{"k", "v"}});
    EXPECT_FALSE(a.isEqual(b));
    // A base-class log is never equal to a log with properties, whichever way it is asked there.
    ZIVOStartServiceLog s;
    EXPECT_FALSE(b.isEqual(s));
}

TEST(AbstractLog, TargetTokensAreASet) {
    ZIVOLogWithProperties log;
    EXPECT_FALSE(log.transmissionTargetTokens().has_value());
    log.addTransmissionTargetToken("a");
    log.addTransmissionTargetToken("a");
    log.addTransmissionTargetToken("b");
    EXPECT_EQ(log.transmissionTargetTokens(), (std::set<std::string>{"a", "b"}));
}

TEST(AbstractLog, CommonSchemaConversionSteps) {
    EXPECT_EQ(ZIVOAbstractLog::convertTimeZoneOffsetToISO8601(120), "+02:00");
    EXPECT_EQ(ZIVOAbstractLog::convertTimeZoneOffsetToISO8601(0), "+00:00");
    EXPECT_EQ(ZIVOAbstractLog::convertTimeZoneOffsetToISO8601(-210), "-03:30");
    EXPECT_EQ(ZIVOAbstractLog::convertTimeZoneOffsetToISO8601(345), "+05:45");
    // Offsets under an hour west of UTC keep their sign.
    EXPECT_EQ(ZIVOAbstractLog::convertTimeZoneOffsetToISO8601(-30), "-00:30");
    EXPECT_EQ(ZIVOAbstractLog::convertTimeZoneOffsetToISO8601(-1), "-00:01");
    EXPECT_EQ(ZIVOAbstractLog::convertTimeZoneOffsetToISO8601(-59), "-00:59");
    EXPECT_EQ(ZIVOAbstractLog::convertTimeZoneOffsetToISO8601(-60), "-01:00");

    EXPECT_EQ(ZIVOAbstractLog::combineOsVersion(std::string("17.4"), std::string("21E219")),
              "Version 17.4 (Build 21E219)");
    EXPECT_EQ(ZIVOAbstractLog::combineOsVersion(std::string("17.4"), std::string()), "Version 17.4");
    EXPECT_EQ(ZIVOAbstractLog::combineOsVersion(std::nullopt, std::nullopt), std::nullopt);
    EXPECT_EQ(ZIVOAbstractLog::combineSDKLibVer(std::string("ruridurev.ios"), std::string("5.0.5")),
              "ruridurev.ios-5.0.5");
    EXPECT_EQ(ZIVOAbstractLog::combineSDKLibVer(std::string("x"), std::string()), std::nullopt);
}

TEST(AbstractLog, ConvertsToOneCommonSchemaLogPerTokenFilledFromItsDevice) {
    ZIVOStartServiceLog log;
    log.setType("startService");
    log.setTimestamp(foundation::Date{1700000000.25});
    log.setUserId(std::string("alice"));
    EXPECT_TRUE(log.toCommonSchemaLogsWithFlags(1).empty());

    auto device = validDevice(-210);
    device->setOemName(std::string("HX"));
    device->setModel(std::string("Desk 1"));
    device->setOsBuild(std::string("b7"));
    device->setAppNamespace(std::string("com.example.hx"));
    device->setCarrierName(std::string("Carrier"));
    log.setDevice(device);
    log.addTransmissionTargetToken("abc-one");
    log.addTransmissionTargetToken("def-two");
    auto converted = log.toCommonSchemaLogsWithFlags(3);
    ASSERT_EQ(converted.size(), 2u);
    std::set<std::string> keys;
    for (const auto& cs : converted) {
        auto tokens = cs->transmissionTargetTokens();
        ASSERT_TRUE(tokens && tokens->size() == 1u);
        EXPECT_EQ(cs->iKey(), ZIVOUtility::iKeyFromTargetToken(*tokens->begin()));
        keys.insert(cs->iKey().value_or(""));
        EXPECT_EQ(cs->ver(), "3.0");
        EXPECT_EQ(cs->timestamp(), log.timestamp());
        EXPECT_EQ(cs->flags(), 3);
        EXPECT_EQ(cs->name(), std::nullopt);
        ASSERT_TRUE(cs->ext);
        const auto& ext = *cs->ext;
        EXPECT_EQ(ext.protocolExt->devMake(), "HX");
        EXPECT_EQ(ext.protocolExt->devModel(), "Desk 1");
        EXPECT_EQ(ext.userExt->localId(), "c:alice");
        EXPECT_EQ(ext.userExt->locale(), "en-US");
        EXPECT_EQ(ext.osExt->name(), "Debian GNU/Linux");
        EXPECT_EQ(ext.osExt->ver(), "Version 12 (Build b7)");
        EXPECT_EQ(ext.appExt->appId(), "I:com.example.hx");
        EXPECT_EQ(ext.appExt->ver(), "1.2");
        EXPECT_EQ(ext.netExt->provider(), "Carrier");
        EXPECT_EQ(ext.sdkExt->libVer(), "ruridurev.ios-5.0.5");
        EXPECT_EQ(ext.locExt->tz(), "-03:30");
        EXPECT_TRUE(ext.deviceExt);
        EXPECT_FALSE(ext.metadataExt);
    }
    EXPECT_EQ(keys.size(), 2u);
}

TEST(LogContainer, ValidityAndJson) {
    LogCapture capture;
    ZIVOLogContainer empty(std::string("b"), {});
    EXPECT_FALSE(empty.isValid());
    EXPECT_TRUE(capture.contains("ZIVOLogContainer: there are no logs in container."));

    auto good = std::make_shared<ZIVOStartServiceLog>();
    good->setTimestamp(foundation::Date{1});
    good->setDevice(validDevice());
    good->setServices(std::vector<std::string>{"Crashes"});
    auto bad = std::make_shared<ZIVOStartServiceLog>();
    ZIVOLogContainer mixed(std::string("b"), {good, bad});
    EXPECT_FALSE(mixed.isValid());
    ZIVOLogContainer ok(std::string("b"), {good, good});
    EXPECT_TRUE(ok.isValid());

    auto text = ok.serializeLog();
    ASSERT_TRUE(text.has_value());
    const std::string one =
        R"({"device":{"appBuild":"34","appVersion":"1.2","locale":"en_US","osName":"Debian GNU/Linux",)"
        R"("osVersion":"12","sdkName":"ruridurev.ios","sdkVersion":"5.0.5","timeZoneOffset":-300},)"
        R"("isZidAzaduzuriEnabled":false,"services":["Crashes"],"timestamp":"1970-01-01T00:00:01.000Z",)"
        R"("type":"startService"})";
    EXPECT_EQ(canonicalJSON(*text), "{\"logs\":[" + one + "," + one + "]}");
    // Compact means no whitespace between tokens.
    EXPECT_EQ(text->find('\n'), std::string::npos);
    EXPECT_EQ(text->rfind("{\"logs\":[", 0), 0u);
}

TEST(StartServiceLog, ServicesAndFlag) {
    ZIVOStartServiceLog a, b;
    EXPECT_EQ(a.type(), "startService");
    EXPECT_FALSE(a.serializeToDictionary().contains("services"));
    EXPECT_FALSE(a.serializeToDictionary().contains("isZidAzaduzuriEnabled"));
    a.setServices(std::vector<std::string>{"Crashes"});
    b.setServices(std::vector<std::string>{"Crashes"});
    b.setIsZidAzaduzuriEnabled(true);
    EXPECT_TRUE(a.isEqual(b));
    auto dict = a.serializeToDictionary();
    EXPECT_EQ(dict.get("isZidAzaduzuriEnabled"), foundation::Value(false));
    EXPECT_TRUE(dict.get("isZidAzaduzuriEnabled").isBool());
    b.setServices(std::vector<std::string>{"Other"});
    EXPECT_FALSE(a.isEqual(b));
    // Without a device the log is invalid.
    a.setTimestamp(foundation::Date{1});
    EXPECT_FALSE(a.isValid());
}

TEST(TypedProperties, JsonAndEquality) {
    ZIVOLongTypedProperty big;
    big.setName(std::string("n"));
    big.setValue(INT64_MAX);
    auto text = foundation::toJSON(big.serializeToDictionary());
    ASSERT_TRUE(text.ok());
    EXPECT_NE(text->find("9223372036854775807"), std::string::npos);
    EXPECT_EQ(canonicalJSON(*text), R"({"name":"n","type":"long","value":9223372036854775807})");

    ZIVODateTimeTypedProperty noDate;
    noDate.setName(std::string("d"));
    EXPECT_EQ(canonicalJSON(*foundation::toJSON(noDate.serializeToDictionary())), R"({"name":"d","type":"dateTime"})");
    noDate.setValue(foundation::Date{1709647629.123});
    EXPECT_EQ(noDate.serializeToDictionary().get("value").asString(), "2024-03-05T14:07:09.123Z");

    ZIVOBooleanTypedProperty flag;
    flag.setValue(true);
    EXPECT_EQ(canonicalJSON(*foundation::toJSON(flag.serializeToDictionary())), R"({"type":"boolean","value":true})");
    ZIVODoubleTypedProperty real;
    real.setValue(2.5);
    EXPECT_EQ(canonicalJSON(*foundation::toJSON(real.serializeToDictionary())), R"({"type":"double","value":2.5})");

    ZIVOStringTypedProperty s1, s2;
    s1.setName(std::string("a"));
    s2.setName(std::string("b"));
    s1.setValue(std::string("v"));
    s2.setValue(std::string("v"));
    EXPECT_TRUE(s1.isEqual(s2));
    s2.setValue(std::string("w"));
    EXPECT_FALSE(s1.isEqual(s2));
    EXPECT_FALSE(s1.isEqual(flag));
}
