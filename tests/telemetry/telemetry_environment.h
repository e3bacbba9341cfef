// A clean SDK environment per test: an empty set of user defaults, a private keychain file and
// the system random source.
#pragma once

#include <gtest/gtest.h>

#include "RurIdurev/RurIdurev/Internals/Util/network_requests_allowed.h"
#include "RurIdurev/RurIdurev/Internals/Util/platform_adapters.h"
#include "RurIdurev/RurIdurev/Internals/Util/rur_idurev_user_defaults.h"
#include "platform/security/keychain.h"
#include "platform/security/random.h"
#include "tests/support/test_support.h"

class TelemetryTest : public ::testing::Test {
protected:
    void SetUp() override {
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
    }
    static void clearDefaults() {
        for (const auto& key : zivo_platform::defaultsKeys()) zivo_platform::removeDefaultsObject(key);
    }

    hxtest::TempDir dir;
};
