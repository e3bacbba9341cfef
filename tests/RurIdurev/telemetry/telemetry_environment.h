// A clean SDK environment per test: a scratch app home with its own user defaults, a main bundle
// whose Info names "com.hxconnect.test", a private keychain file and the system random source.
#pragma once

#include <gtest/gtest.h>

#include "RurIdurev/RurIdurev/Internals/Util/network_requests_allowed.h"
#include "RurIdurev/RurIdurev/Internals/Util/platform_adapters.h"
#include "RurIdurev/RurIdurev/Internals/Util/rur_idurev_user_defaults.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/files.h"
#include "platform/foundation/property_list.h"
#include "platform/foundation/user_defaults.h"
#include "platform/security/keychain.h"
#include "platform/security/random.h"
#include "tests/support/test_support.h"

class TelemetryTest : public ::testing::Test {
protected:
    void SetUp() override {
        foundation::setHomeDirectory(dir / "home");
        zivo_platform::setStandardUserDefaults(std::make_shared<foundation::UserDefaults>(dir / "preferences.plist"));
        std::filesystem::create_directories(dir / "resources");
        ASSERT_TRUE(
            foundation::writePropertyListFile(foundation::Dictionary{{"CFBundleIdentifier", "com.hxconnect.test"}},
                                              dir / "resources/Info.plist")
                .ok());
        foundation::Bundle::main().setResourcesDirectory(dir / "resources");
        clearDefaults();
        security::Keychain::setDefaultPath(dir / "keychain.json");
        security::setRandomSourceForTesting(nullptr);
        ZIVORurIdurevUserDefaults::resetSharedInstance();
        ZIVONetworkRequestsAllowed::reset();
    }
    void TearDown() override {
        security::setRandomSourceForTesting(nullptr);
        clearDefaults();
        ZIVONetworkRequestsAllowed::reset();
        foundation::Bundle::main().setResourcesDirectory({});
        foundation::setHomeDirectory({});
    }
    // An Info whose versions every log's device carries (a device without them is not valid).
    void writeVersionedInfo() {
        ASSERT_TRUE(
            foundation::writePropertyListFile(foundation::Dictionary{{"CFBundleIdentifier", "com.hxconnect.test"},
                                                                     {"CFBundleShortVersionString", "1.2"},
                                                                     {"CFBundleVersion", "34"}},
                                              dir / "resources/Info.plist")
                .ok());
    }
    static void clearDefaults() {
        for (const auto& key : zivo_platform::defaultsKeys()) zivo_platform::removeDefaultsObject(key);
    }

    hxtest::TempDir dir;
};
