#include <gtest/gtest.h>

#include "tests/RurIdurev/telemetry/log_capture.h"
#include "tests/RurIdurev/telemetry/telemetry_environment.h"

using foundation::Value;

namespace {

// The facade's table of old keys.
ZIVOUserDefaultsMigration facadeMigration() {
    return {
        {"ZVRurIdurevChannelStartTimer", ZIVOUserDefaultsPrefixKey("ZVChannelStartTimer")},
        {"ZVRurIdurevPastDevices", std::string("pastDevicesKey")},
        {"ZVRurIdurevInstallId", std::string("ZVInstallId")},
        {"ZVRurIdurevRurIdurevIsEnabled", std::string("ZVRurIdurevIsEnabled")},
        {"ZVRurIdurevEncryptionKeyMetadata", std::string("ZVEncryptionKeyMetadata")},
        {"ZVRurIdurevSessionIdHistory", std::string("SessionIdHistory")},
        {"ZVRurIdurevUserIdHistory", std::string("UserIdHistory")},
    };
}

}  // namespace

using PreferenceStore = TelemetryTest;

TEST_F(PreferenceStore, KeysCarryThePrefix) {
    auto store = ZIVORurIdurevUserDefaults::shared();
    zivo_platform::setDefaultsObject("ZVRurIdurevInstallId", "u-1");
    EXPECT_EQ(store->objectForKey("InstallId"), Value("u-1"));
    store->setObject(false, "RurIdurevIsEnabled");
    EXPECT_EQ(zivo_platform::defaultsObject("ZVRurIdurevRurIdurevIsEnabled"), Value(false));
    store->removeObjectForKey("RurIdurevIsEnabled");
    EXPECT_TRUE(zivo_platform::defaultsObject("ZVRurIdurevRurIdurevIsEnabled").isNull());
    EXPECT_TRUE(store->objectForKey("Missing").isNull());
    EXPECT_EQ(ZIVORurIdurevUserDefaults::shared(), store);
}

TEST_F(PreferenceStore, MigratesOldKeysOnceWithPrefixEntries) {
    LogCapture capture;
    zivo_platform::setDefaultsObject("ZVInstallId", "old-install");
    zivo_platform::setDefaultsObject("ZVChannelStartTimer:Crashes", foundation::Date{100});
    zivo_platform::setDefaultsObject("ZVChannelStartTimer:RurIdurev", foundation::Date{200});
    zivo_platform::setDefaultsObject("ZVRurIdurevIsEnabled", false);
    // An existing value under a new key is overwritten.
    zivo_platform::setDefaultsObject("ZVRurIdurevRurIdurevIsEnabled", true);
    // The new key of an absent old key is left alone.
    zivo_platform::setDefaultsObject("ZVRurIdurevUserIdHistory", "kept");
    zivo_platform::setDefaultsObject("AppOwnKey", 1);

    auto store = ZIVORurIdurevUserDefaults::shared();
    store->migrateKeys(facadeMigration(), "RurIdurev");

    EXPECT_EQ(store->objectForKey("InstallId"), Value("old-install"));
    EXPECT_TRUE(zivo_platform::defaultsObject("ZVInstallId").isNull());
    EXPECT_EQ(zivo_platform::defaultsObject("ZVRurIdurevChannelStartTimer:Crashes"), Value(foundation::Date{100}));
    EXPECT_EQ(zivo_platform::defaultsObject("ZVRurIdurevChannelStartTimer:RurIdurev"), Value(foundation::Date{200}));
    EXPECT_TRUE(zivo_platform::defaultsObject("ZVChannelStartTimer:Crashes").isNull());
    EXPECT_EQ(store->objectForKey("RurIdurevIsEnabled"), Value(false));
    EXPECT_EQ(store->objectForKey("UserIdHistory"), Value("kept"));
    EXPECT_EQ(zivo_platform::defaultsObject("AppOwnKey"), Value(1));
    EXPECT_EQ(store->objectForKey("310RurIdurevUserDefaultsMigratedKey"), Value(true));
    EXPECT_TRUE(capture.contains("Migrating the old NSDefaults keys to new ones."));
    EXPECT_TRUE(capture.contains("Migrating key ZVInstallId -> ZVRurIdurevInstallId"));

    // The marker stops any further migration, even when old keys reappear.
    zivo_platform::setDefaultsObject("ZVInstallId", "newer");
    store->migrateKeys(facadeMigration(), "RurIdurev");
    EXPECT_EQ(store->objectForKey("InstallId"), Value("old-install"));
    EXPECT_EQ(zivo_platform::defaultsObject("ZVInstallId"), Value("newer"));
    // Another service migrates on its own marker.
    store->migrateKeys({{"ZVRurIdurevInstallId", std::string("ZVInstallId")}}, "Crashes");
    EXPECT_EQ(store->objectForKey("InstallId"), Value("newer"));
}

TEST_F(PreferenceStore, NetworkRequestsAllowedIsPersistedAndCached) {
    EXPECT_TRUE(ZIVONetworkRequestsAllowed::isAllowed());
    ZIVONetworkRequestsAllowed::set(false);
    EXPECT_FALSE(ZIVONetworkRequestsAllowed::isAllowed());
    EXPECT_EQ(zivo_platform::defaultsObject("ZVRurIdurevNetworkRequestsAllowed"), Value(false));
    // A new launch reads the stored value.
    ZIVONetworkRequestsAllowed::reset();
    EXPECT_FALSE(ZIVONetworkRequestsAllowed::isAllowed());
    ZIVONetworkRequestsAllowed::set(true);
    ZIVONetworkRequestsAllowed::reset();
    EXPECT_TRUE(ZIVONetworkRequestsAllowed::isAllowed());
}
