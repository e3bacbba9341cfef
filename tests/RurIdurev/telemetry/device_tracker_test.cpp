#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "RurIdurev/RurIdurev/Internals/Context/Device/device_tracker.h"
#include "RurIdurev/RurIdurev/Internals/Util/archiver_util.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/dates.h"
#include "platform/foundation/json.h"
#include "platform/kernel/sysctl.h"
#include "tests/RurIdurev/telemetry/telemetry_environment.h"

namespace {

// Pins everything the descriptor reads from the machine and the environment.
class DeviceTracker : public TelemetryTest {
protected:
    void SetUp() override {
        TelemetryTest::SetUp();
        if (const char* language = std::getenv("LANGUAGE")) savedLanguage = language;
        ::unsetenv("LANGUAGE");
        ZIVOArchiverUtil::addAllowedRurIdurevModuleClasses();
        foundation::setCurrentLocaleIdentifier("de_AT");
        foundation::setDefaultTimeZone("America/New_York");
        ZIVODeviceTracker::setSystemInfoForTesting(
            ZIVOSystemInfo{"x86_64", "Debian GNU/Linux", "12", "6.1.0-18-amd64"});
        zivo_platform::setInfoValueForTesting("CFBundleShortVersionString", "3.1");
        zivo_platform::setInfoValueForTesting("CFBundleVersion", "310");
        ZIVODeviceTracker::resetSharedInstance();
    }
    void TearDown() override {
        ZIVODeviceTracker::resetSharedInstance();
        ZIVODeviceTracker::setMainScreenProvider(nullptr);
        ZIVODeviceTracker::setSystemInfoForTesting(std::nullopt);
        zivo_platform::setInfoValueForTesting("CFBundleShortVersionString", {});
        zivo_platform::setInfoValueForTesting("CFBundleVersion", {});
        foundation::setCurrentLocaleIdentifier("");
        foundation::setDefaultTimeZone("");
        if (savedLanguage) ::setenv("LANGUAGE", savedLanguage->c_str(), 1);
        TelemetryTest::TearDown();
    }
    // A new launch: the process-wide values and the tracker start over, the store stays.
    std::shared_ptr<ZIVODeviceTracker> launch() {
        ZIVODeviceTracker::resetSharedInstance();
        return ZIVODeviceTracker::sharedInstance();
    }

    dispatch::ScopedVirtualClock clock{1'700'000'000.0};  // 2023-11-14, New York on standard time
    std::optional<std::string> savedLanguage;
};

}  // namespace

TEST_F(DeviceTracker, DescriptorFieldsFromPinnedFacts) {
    auto device = ZIVODeviceTracker::sharedInstance()->device();
    ASSERT_TRUE(device);
    EXPECT_TRUE(device->isValid());
    auto json = foundation::toJSON(device->serializeToDictionary(), {.sortedKeys = true});
    ASSERT_TRUE(json.ok());
    EXPECT_EQ(*json, "{\"appBuild\":\"310\",\"appNamespace\":\"com.hxconnect.test\",\"appVersion\":\"3.1\",\"locale\":"
                     "\"de_AT\",\"model\":\"x86_64\",\"oemName\":\"Apple\","
                     "\"osBuild\":\"6.1.0-18-amd64\",\"osName\":\"Debian GNU/Linux\",\"osVersion\":\"12\","
                     "\"sdkName\":\"ruridurev.ios\",\"sdkVersion\":\"5.0.5\",\"timeZoneOffset\":-300}");
    // The same descriptor until something in it changes.
    EXPECT_EQ(ZIVODeviceTracker::sharedInstance()->device(), device);
}

TEST_F(DeviceTracker, LocaleForms) {
    // The preferred language without a region takes the current locale's region.
    ::setenv("LANGUAGE", "fr", 1);
    foundation::setCurrentLocaleIdentifier("de_CH");
    EXPECT_EQ(ZIVODeviceTracker::locale(), "fr_CH");
    ::setenv("LANGUAGE", "zh_TW:en_US", 1);
    EXPECT_EQ(ZIVODeviceTracker::locale(), "zh_TW");
    ::setenv("LANGUAGE", "zh_Hant_TW", 1);
    EXPECT_EQ(ZIVODeviceTracker::locale(), "zh-Hant_TW");
    ::unsetenv("LANGUAGE");
    // From the environment alone: the first preferred language with the locale categories' region.
    struct Env {
        const char *language, *lcAll, *lang;
        const char* locale;
    } environments[] = {
        {"fr:de", nullptr, "en_GB.UTF-8", "fr_GB"},
        {"fr", "de_CH.UTF-8", "en_GB.UTF-8", "fr_CH"},
        {"pt_BR:en", nullptr, "en_GB.UTF-8", "pt_BR"},
        {"zh_Hant", nullptr, "zh_TW.UTF-8", "zh-Hant_TW"},
        {"fr", "C", "en_GB.UTF-8", "fr"},
        {nullptr, nullptr, "en_GB.UTF-8", "en_GB"},
    };
    foundation::setCurrentLocaleIdentifier("");
    std::optional<std::string> saved[3];
    const char* names[3] = {"LC_ALL", "LC_MESSAGES", "LANG"};
    for (int i = 0; i < 3; ++i)
        if (const char* v = std::getenv(names[i])) saved[i] = v;
    for (const auto& e : environments) {
        SCOPED_TRACE(e.locale);
        auto set = [](const char* name, const char* value) { value ? ::setenv(name, value, 1) : ::unsetenv(name); };
        set("LANGUAGE", e.language);
        set("LC_ALL", e.lcAll);
        set("LC_MESSAGES", nullptr);
        set("LANG", e.lang);
        EXPECT_EQ(ZIVODeviceTracker::locale(), e.locale);
    }
    for (int i = 0; i < 3; ++i) saved[i] ? ::setenv(names[i], saved[i]->c_str(), 1) : ::unsetenv(names[i]);
    ::unsetenv("LANGUAGE");
    // No region anywhere: the language alone, never a placeholder region.
    foundation::setCurrentLocaleIdentifier("de");
    EXPECT_EQ(ZIVODeviceTracker::locale(), "de");
    // The C locale reads as US English.
    foundation::setCurrentLocaleIdentifier("C");
    EXPECT_EQ(ZIVODeviceTracker::locale(), "en_US");
}

TEST_F(DeviceTracker, TimeZoneOffsetsInMinutes) {
    EXPECT_EQ(ZIVODeviceTracker::timeZoneOffset(), -300);
    foundation::setDefaultTimeZone("Asia/Kolkata");
    EXPECT_EQ(ZIVODeviceTracker::timeZoneOffset(), 330);
    foundation::setDefaultTimeZone("America/St_Johns");
    EXPECT_EQ(ZIVODeviceTracker::timeZoneOffset(), -210);
    foundation::setDefaultTimeZone("UTC");
    EXPECT_EQ(ZIVODeviceTracker::timeZoneOffset(), 0);
}

TEST_F(DeviceTracker, ScreenSizeOnlyWhenTheToolkitSuppliesOne) {
    EXPECT_EQ(ZIVODeviceTracker::screenSize(), std::nullopt);
    ZIVODeviceTracker::setMainScreenProvider([] { return ZIVOScreenMetrics{390, 844, 3}; });
    EXPECT_EQ(ZIVODeviceTracker::screenSize(), "2532x1170");
    EXPECT_EQ(ZIVODeviceTracker::sharedInstance()->device()->screenSize(), "2532x1170");
}

TEST_F(DeviceTracker, HistoryKeepsFiveLaunchesAndAnswersByTime) {
    std::vector<double> stamps;
    for (int i = 0; i < 7; ++i) {
        zivo_platform::setInfoValueForTesting("CFBundleVersion", std::to_string(i));
        stamps.push_back(dispatch::wallNow());
        launch();
        clock->advance(100);
    }
    auto tracker = launch();  // an eighth launch, stamped after the loop's last advance
    auto history = tracker->deviceHistory();
    ASSERT_EQ(history.size(), 5u);
    // Records for builds 3, 4, 5, 6 and the current one (build 6 again).
    EXPECT_EQ(history[0]->device()->appBuild(), "3");
    EXPECT_EQ(history[0]->timestamp()->secondsSince1970, stamps[3]);

    EXPECT_EQ(tracker->deviceForTimestamp(foundation::Date{stamps[0]})->appBuild(), "3");  // before the oldest
    EXPECT_EQ(tracker->deviceForTimestamp(foundation::Date{stamps[4]})->appBuild(), "3");  // exactly the second
    EXPECT_EQ(tracker->deviceForTimestamp(foundation::Date{stamps[4] + 1})->appBuild(), "4");
    EXPECT_EQ(tracker->deviceForTimestamp(foundation::Date{stamps[6] + 1e6})->appBuild(), "6");
    EXPECT_EQ(tracker->deviceForTimestamp(std::nullopt), tracker->device());

    tracker->clearDevices();
    ASSERT_EQ(tracker->deviceHistory().size(), 1u);
    tracker->clearDevices();
    EXPECT_EQ(launch()->deviceHistory().size(), 2u);
}

TEST_F(DeviceTracker, WrapperSdkReplacesTheNewestRecordAndCountryAddsOne) {
    auto tracker = ZIVODeviceTracker::sharedInstance();
    clock->advance(10);
    tracker = launch();
    ASSERT_EQ(tracker->deviceHistory().size(), 2u);
    clock->advance(10);
    tracker->setWrapperSdk(std::make_shared<ZIVOWrapperSdk>(std::string("1.0"), std::string("wrap"), std::nullopt,
                                                            std::nullopt, std::nullopt, std::string("hash")));
    auto history = tracker->deviceHistory();
    ASSERT_EQ(history.size(), 2u);
    EXPECT_EQ(history.back()->device()->wrapperSdkName(), "wrap");
    EXPECT_EQ(history.back()->device()->liveUpdatePackageHash(), "hash");
    EXPECT_EQ(history.back()->timestamp()->secondsSince1970, dispatch::wallNow());

    tracker->setCountryCode(std::string("at"));
    EXPECT_EQ(tracker->deviceHistory().size(), 2u);  // nothing until the next descriptor
    EXPECT_EQ(tracker->device()->carrierCountry(), "at");
    EXPECT_EQ(tracker->deviceHistory().size(), 3u);
    EXPECT_FALSE(tracker->device()->carrierName().has_value());
}

TEST(DeviceFacts, OsReleaseAndCarrierRules) {
    auto fields = ZIVOSystemInfo::parseOsRelease(
        "# comment\nNAME=\"Debian GNU/Linux\"\nVERSION_ID='12'\nID=debian\nPRETTY_NAME=\"A \\\"quoted\\\" "
        "name\"\n\nBAD\n");
    EXPECT_EQ(fields["NAME"], "Debian GNU/Linux");
    EXPECT_EQ(fields["VERSION_ID"], "12");
    EXPECT_EQ(fields["ID"], "debian");
    EXPECT_EQ(fields["PRETTY_NAME"], "A \"quoted\" name");
    EXPECT_FALSE(fields.contains("BAD"));

    hxtest::TempDir dir;
    {
        std::ofstream out(dir / "os-release");
        out << "NAME=TestOS\nVERSION_ID=\"9.9\"\n";
    }
    auto info = ZIVOSystemInfo::current((dir / "os-release").string());
    EXPECT_EQ(info.osName, "TestOS");
    EXPECT_EQ(info.osVersion, "9.9");
    EXPECT_FALSE(info.machine.empty());
    auto missing = ZIVOSystemInfo::current((dir / "none").string());
    EXPECT_EQ(missing.osName, "Linux");
    // The OS build is the one the crash reports name ("kern.osversion"), not the release.
    char build[512] = {};
    size_t length = sizeof build;
    ASSERT_EQ(kernel::sysctlbyname("kern.osversion", build, &length), 0);
    EXPECT_EQ(info.osBuild, std::string(build));

    for (const char* bad : {"", "carrier", "Carrier", "CARRIER", "--"})
        EXPECT_FALSE(ZIVODeviceTracker::isCarrierNameValid(std::string(bad))) << bad;
    EXPECT_FALSE(ZIVODeviceTracker::isCarrierNameValid(std::nullopt));
    EXPECT_TRUE(ZIVODeviceTracker::isCarrierNameValid(std::string("Net")));
    EXPECT_FALSE(ZIVODeviceTracker::isCarrierCountyValid(std::string("--")));
    EXPECT_FALSE(ZIVODeviceTracker::isCarrierCountyValid(std::string("")));
    EXPECT_TRUE(ZIVODeviceTracker::isCarrierCountyValid(std::string("at")));
}
