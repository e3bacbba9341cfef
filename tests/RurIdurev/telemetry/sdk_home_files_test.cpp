// What the SDK reads from the app's home and bundle: its preference file (the new name wins over
// the one earlier builds used, which is taken over only when it is alone) and the app locale a
// common-schema log carries (the bundle's first preferred localisation).
#include <gtest/gtest.h>

#include "RurIdurev/RurIdurev/Internals/Model/CommonSchema/common_schema_log.h"
#include "RurIdurev/RurIdurev/Internals/Model/start_service_log.h"
#include "tests/RurIdurev/telemetry/model_test_support.h"
#include "tests/RurIdurev/telemetry/telemetry_environment.h"

using SdkHomeFiles = TelemetryTest;

TEST_F(SdkHomeFiles, TheNewPreferenceFileWinsAndTheOldOneIsTakenOverOnlyAlone) {
    const auto preferences = foundation::preferencesDirectory();
    const auto fresh = preferences / "com.hxconnect.test.RurIdurev.plist";
    const auto earlier = preferences / "hxconnect.plist";
    struct Case {
        const char* what;
        bool withFresh, withEarlier;
        const char* installId;
        bool earlierLeft;
    };
    const Case cases[] = {
        {"both files", true, true, "new-install", true},
        {"only the earlier file", false, true, "old-install", false},
        {"only the new file", true, false, "new-install", false},
    };
    auto write = [](const std::filesystem::path& file, const char* id) {
        ASSERT_TRUE(foundation::writePropertyListFile(foundation::Dictionary{{"ZVRurIdurevInstallId", id}}, file).ok());
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove(fresh);
        std::filesystem::remove(earlier);
        if (c.withFresh) write(fresh, "new-install");
        if (c.withEarlier) write(earlier, "old-install");
        // Two launches: the install id the first reads, the second reads again.
        for (int launch = 0; launch < 2; ++launch) {
            zivo_platform::setStandardUserDefaults(nullptr);
            EXPECT_EQ(zivo_platform::defaultsObject("ZVRurIdurevInstallId"), foundation::Value(c.installId))
                << "launch " << launch;
        }
        EXPECT_TRUE(std::filesystem::exists(fresh));
        EXPECT_EQ(std::filesystem::exists(earlier), c.earlierLeft);
    }
    zivo_platform::setStandardUserDefaults(std::make_shared<foundation::UserDefaults>(dir / "preferences.plist"));
}

TEST_F(SdkHomeFiles, ACommonSchemaLogCarriesTheBundlesFirstLocalisationAsTheAppLocale) {
    // A bundle localised only in German: whatever the process's languages, that is the one.
    std::filesystem::create_directories(dir / "resources/de.lproj");
    foundation::Bundle::main().setResourcesDirectory(dir / "resources");
    ASSERT_EQ(foundation::Bundle::main().preferredLocalizations(), std::vector<std::string>{"de"});
    ZIVOStartServiceLog log;
    log.setType("startService");
    log.setTimestamp(foundation::Date{1700000000.25});
    log.setDevice(telemetrytest::validDevice());
    log.addTransmissionTargetToken("abc-one");
    const auto converted = log.toCommonSchemaLogsWithFlags(1);
    ASSERT_EQ(converted.size(), 1u);
    ASSERT_TRUE(converted[0]->ext && converted[0]->ext->appExt);
    EXPECT_EQ(converted[0]->ext->appExt->locale(), "de");
    EXPECT_EQ(converted[0]->ext->userExt->locale(), "en-US") << "the device's locale stays the user's";
}
