// The app on the run's device (app/run_device.h: its contacts, pictures and places) against the
// loopback service holding an account generated as the run's service generates it, with the
// playback media: the home of the run's story tests.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "app/connect_app_delegate_iphone.h"
#include "app/run_device.h"
#include "emulator/playback_media.h"
#include "model/account.h"
#include "model/quick_setting.h"
#include "platform/services/contacts.h"
#include "platform/services/geocoder.h"
#include "platform/services/photos.h"
#include "tests/support/screen_fixture.h"
#include "ui/settings/quick_setting_location.h"
#include "ui/shell/ui_screens.h"

namespace hxtest {

struct RunHomeFixture : ScreenFixture<HX_ConnectAppDelegate_iPhone> {
    RunHomeFixture()
        : ScreenFixture({.screens = std::make_shared<HXUIScreens>(), .emulator = true, .signedIn = true}) {}

    // The service's account: the generator's threads and media for these options, with the
    // playback media; then the device's home furnished and its places loaded.
    ::testing::AssertionResult furnishRunHome(const emulator::GeneratorOptions& options) {
        service->withAccount([&](emulator::Account& a) {
            auto generated = emulator::generateAccount(options);
            a.threads = generated.threads;
            a.media = generated.media;
            emulator::addPlaybackMedia(a);
            return 0;
        });
        if (auto furnished = hxrun::furnishHome(); !furnished)
            return ::testing::AssertionFailure() << furnished.error().localizedDescription();
        const auto places = hxrun::demoPlacemarks();
        if (auto loaded = services::Geocoder::loadPlacemarks(foundation::Data(places.begin(), places.end())); !loaded)
            return ::testing::AssertionFailure() << loaded.error().localizedDescription();
        return ::testing::AssertionSuccess();
    }
    // The settings tab shown, with a quick setting "Work" stored from the current settings.
    ::testing::AssertionResult settingsWithAWorkPlace() {
        app->selectViewForIndex(4);
        harness.settle();
        if (!settleRequests()) return ::testing::AssertionFailure() << "requests still out";
        auto account = app->account();
        auto preset = app->screenRoles().quickSettings.lock()->currentSettings();
        if (!account || !preset || !storeQuickSetting(*account, "Work", *preset))
            return ::testing::AssertionFailure() << "the quick setting was not stored";
        return ::testing::AssertionSuccess();
    }
    void TearDown() override {
        ScreenFixture::TearDown();
        services::Geocoder::reset();
        services::PhotoLibrary::reset();
        services::ContactStore::setAuthorizationStatus(services::AuthorizationStatus::NotDetermined);
    }
};

}  // namespace hxtest
