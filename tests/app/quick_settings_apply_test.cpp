// Applying a quick setting and the location events that switch to one, on a launched phone form
// signed in to the loopback service, with a settings screen that logs what it is asked.
#include <gtest/gtest.h>

#include <map>

#include "app/connect_app_delegate_iphone.h"
#include "app/settings_screen.h"
#include "emulator/emulator.h"
#include "model/account.h"
#include "model/quick_setting.h"
#include "platform/foundation/application.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/user_defaults.h"
#include "platform/services/location_manager.h"
#include "platform/services/user_notifications.h"
#include "platform/toolkit/view_controller.h"
#include "service/request_machinery.h"
#include "tests/support/screen_fixture.h"
#include "tests/support/shell_recorder.h"

namespace {

using services::LocationAuthorization;
using services::LocationFeed;

// View 4's root as the settings screen: rows by tag in sections of their own, and a log of the
// busy rows, reloads and setter calls.
class LoggingSettingsScreen : public toolkit::ViewController, public HXSettingsScreen {
public:
    std::vector<std::string> log;
    long sectionForTag(int tag) override { return tag == 103 ? 2 : tag == 114 ? 3 : tag - 90; }
    toolkit::IndexPath indexPathForTag(int tag) override { return toolkit::IndexPath{sectionForTag(tag), 0}; }
    void markRowBusy(const toolkit::IndexPath& p) override {
        log.push_back("busy " + std::to_string(p.section) + "." + std::to_string(p.row));
    }
    void reloadTableCellForTag(int tag) override { log.push_back("reload tag " + std::to_string(tag)); }
    void reloadSection(long section) override { log.push_back("reload " + std::to_string(section)); }
    void updateQuickSetting() override {}
    void enableForwardingForNumber(long index, bool status, HXSettingsCompletion) override {
        log.push_back("forward " + std::to_string(index) + " " + std::to_string(status));
    }
    void setServiceSetting(HXServiceSetting setting, bool on, HXSettingsCompletion) override {
        static const std::map<HXServiceSetting, std::string> kNames{
            {HXServiceSetting::MissedCallsEmailNotification, "missed"},
            {HXServiceSetting::SMSEmailNotification, "sms"},
            {HXServiceSetting::VMEmailNotification, "vm"},
            {HXServiceSetting::CallOptions, "options"},
            {HXServiceSetting::DirectConnect, "direct"},
            {HXServiceSetting::VMtranscription, "transcribe"},
            {HXServiceSetting::HXasCID, "cid"},
            {HXServiceSetting::DND, "dnd"},
            {HXServiceSetting::GlobalSpamFiltering, "spam"},
        };
        log.push_back(kNames.at(setting) + " " + std::to_string(on));
    }
    void setVMGreeting(const std::string& id, HXSettingsCompletion) override { log.push_back("greeting " + id); }
};

class SettingsRootScreens : public HXScreens {
public:
    std::shared_ptr<LoggingSettingsScreen> settings = std::make_shared<LoggingSettingsScreen>();
    std::shared_ptr<toolkit::ViewController> makeRootScreen(int index, const HXScreenRoles&) override {
        return index == 4 ? settings : nullptr;
    }
};

using Phone = hxtest::RecordedApp<HX_ConnectAppDelegate_iPhone>;

// Nearly two kilometres apart; each preset's region 200 m round.
constexpr services::Coordinate kHome{48.2082, 16.3738};
constexpr services::Coordinate kWork{48.2250, 16.3738};
constexpr services::Coordinate kBetween{48.2166, 16.3738};

struct QuickSettingsApply : hxtest::ScreenFixture<Phone> {
    QuickSettingsApply() : QuickSettingsApply(std::make_shared<SettingsRootScreens>()) {}
    explicit QuickSettingsApply(std::shared_ptr<SettingsRootScreens> s)
        : ScreenFixture({.screens = s, .emulator = true, .signedIn = true}), screens(std::move(s)) {}
    std::shared_ptr<SettingsRootScreens> screens;

    void SetUp() override {
        ScreenFixture::SetUp();
        services::LocationServices::shared().setAuthorizationStatus(LocationAuthorization::Always);
        defaults()->setBool(true, "useQSLocation");
    }
    void TearDown() override {
        ScreenFixture::TearDown();
        services::resetDeviceServices();
    }
    void start() {
        ASSERT_TRUE(launch());
        ASSERT_TRUE(harness.clock().runUntil([&] { return !app->account()->phones().empty() && app->isIdle(); }, 30));
        HXWebClientOf(*app).firstReachabilityHandled = true;
        harness.settle();
        screens->settings->log.clear();
        app->shell().clear();
    }
    static std::shared_ptr<foundation::UserDefaults> defaults() {
        return foundation::UserDefaults::standardUserDefaults();
    }
    HXQuickSettingsRole& role() { return *app->screenRoles().quickSettings.lock(); }
    // Stores the current settings, changed by change, as the preset name.
    void store(const std::string& name, const std::function<void(HX_QuickSetting&)>& change) {
        auto preset = role().currentSettings();
        change(*preset);
        app->account()->quickSettings()[name] = preset->archived().value();
    }
    std::vector<std::string>& log() { return screens->settings->log; }
    size_t settingsRequests() {
        size_t n = 0;
        for (const auto& r : service->requests()) n += r.path.find("/account/get") != std::string::npos;
        return n;
    }
    static void at(services::Coordinate c) { LocationFeed::fix({.coordinate = c}); }
    std::vector<std::string> notifications() {
        std::vector<std::string> bodies;
        for (const auto& r :
             services::UserNotificationCenter::currentNotificationCenter()->pendingNotificationRequests())
            bodies.push_back(r.content.title + " " + r.content.body);
        return bodies;
    }
};

TEST_F(QuickSettingsApply, ServiceFieldsThatDifferAreSetInTheirOrderEachRowBusyFirst) {
    start();
    auto account = app->account();
    const auto sorted = account->sortedPhones();
    ASSERT_GE(sorted.size(), 2u);
    ASSERT_GE(account->vmGreetings().size(), 2u);
    std::string otherGreeting;
    for (const auto& [id, text] : account->vmGreetings())
        if (id.string() != account->currentVmGreetingId()) otherGreeting = id.string();
    store("Everything", [&](HX_QuickSetting& q) {
        auto phones = q.phones();
        auto flipped = std::make_shared<HX_Phone>(*phones.at(sorted[1]->phoneId()));
        flipped->setForwarded(!flipped->forwarded());
        phones[sorted[1]->phoneId()] = flipped;
        q.setPhones(phones);
        q.setEmailNotificationMissedCalls(!q.emailNotificationMissedCalls());
        q.setEmailNotificationSMS(!q.emailNotificationSMS());
        q.setEmailNotificationVM(!q.emailNotificationVM());
        q.setCallOptions(!q.callOptions());
        q.setDirectConnect(!q.directConnect());
        q.setVMtranscription(!q.VMtranscription());
        q.setUseHXasCID(!q.useHXasCID());
        q.setCurrentVmGreetingId(otherGreeting);
        q.setForwardingPhoneID(-1);
        q.setDndEnabled(!q.dndEnabled());
    });
    const auto b = [](bool v) { return std::to_string(v); };
    const std::vector<std::string> expected{
        "busy 3.1",
        "forward 1 " + b(!sorted[1]->forwarded()),
        "busy 22.0",
        "missed " + b(!account->emailNotificationMissedCalls()),
        "busy 21.0",
        "sms " + b(!account->emailNotificationSMS()),
        "busy 20.0",
        "vm " + b(!account->emailNotificationVM()),
        "busy 32.0",
        "options " + b(!account->callOptions()),
        "busy 11.0",
        "direct " + b(!account->directConnect()),
        "busy 14.0",
        "transcribe " + b(!account->VMtranscription()),
        "busy 12.0",
        "cid " + b(!account->useHXasCID()),
        "busy 25.0",
        "greeting " + otherGreeting,
        "reload 2",
        "busy 10.0",
        "dnd " + b(!account->dndEnabled()),
    };
    role().selectQuickSettingWithName("Everything");
    EXPECT_EQ(log(), expected);
    // The callback choice is the app's own: set and saved, no request.
    EXPECT_EQ(account->forwardingPhoneID(), -1);
    EXPECT_EQ(app->shell().count("updateAccountPrefs"), 1u);
}

TEST_F(QuickSettingsApply, WhatNoLongerExistsOrAlreadyMatchesIsLeftAlone) {
    start();
    auto account = app->account();
    struct Case {
        const char* name;
        std::function<void(HX_QuickSetting&)> change;
        std::vector<std::string> log;
    } cases[] = {
        {"Same", [](HX_QuickSetting&) {}, {}},
        {"Gone greeting", [](HX_QuickSetting& q) { q.setCurrentVmGreetingId("no-such-greeting"); }, {}},
        {"Gone callback phone", [](HX_QuickSetting& q) { q.setForwardingPhoneID(987654); }, {}},
        {"Gone forwarding phone",
         [](HX_QuickSetting& q) {
             auto phones = q.phones();
             auto gone = std::make_shared<HX_Phone>();
             gone->setPhoneId(424242);
             gone->setForwarded(true);
             phones[424242] = gone;
             q.setPhones(phones);
         },
         {}},
        {"Sounds only", [](HX_QuickSetting& q) { q.setMessageSounds(q.messageSounds() == 2 ? 1 : 2); }, {}},
    };
    for (const auto& c : cases) {
        store(c.name, c.change);
        const int64_t callback = account->forwardingPhoneID();
        role().selectQuickSettingWithName(c.name);
        EXPECT_EQ(log(), c.log) << c.name;
        EXPECT_EQ(account->forwardingPhoneID(), callback) << c.name;
        log().clear();
    }
    EXPECT_EQ(app->shell().count("updateAccountPrefs"), 0u);
    // A name that is not stored does nothing.
    role().selectQuickSettingWithName("Nothing by this name");
    EXPECT_TRUE(log().empty());
}

TEST_F(QuickSettingsApply, AppPreferencesFollowTheTriStatesAndStayAppliedOffline) {
    start();
    struct Case {
        int64_t autoRefresh, messageSounds, prefetchVM;
        bool refreshBefore, soundsBefore, prefetchBefore;
        bool refreshAfter, soundsAfter, prefetchAfter;
    } cases[] = {
        {0, 0, 1, true, false, true, true, false, false},  // 0 leaves a preference as it is
        {1, 2, 2, true, false, false, false, true, true},
        {2, 1, 0, false, true, true, true, false, true},
    };
    app->setConnectionAvailable(false);
    int n = 0;
    for (const auto& c : cases) {
        const std::string name = "Prefs " + std::to_string(n++);
        app->setAutoRefresh(c.refreshBefore);
        app->setNewMessageAlert(c.soundsBefore);
        defaults()->setBool(c.prefetchBefore, "VMprefetch");
        // The service fields differ too, which offline changes nothing of.
        store(name, [&](HX_QuickSetting& q) {
            q.setAutoRefresh(c.autoRefresh);
            q.setMessageSounds(c.messageSounds);
            q.setPrefetchVM(c.prefetchVM);
            q.setDndEnabled(!q.dndEnabled());
        });
        app->shell().clear();
        role().selectQuickSettingWithName(name);
        EXPECT_EQ(app->autoRefresh(), c.refreshAfter) << name;
        EXPECT_EQ(app->newMessageAlert(), c.soundsAfter) << name;
        EXPECT_EQ(defaults()->boolForKey("VMprefetch"), c.prefetchAfter) << name;
        EXPECT_EQ(app->shell().count("alertNoConnection"), 1u) << name;
        EXPECT_TRUE(log().empty()) << name;
    }
    // A preset equal to the current settings changes nothing at all, not even a preference.
    store("Now", [](HX_QuickSetting&) {});
    app->shell().clear();
    role().selectQuickSettingWithName("Now");
    EXPECT_EQ(app->shell().count("alertNoConnection"), 0u);
}

TEST_F(QuickSettingsApply, ARouteThroughTwoRegionsSwitchesOnFreshSettingsAndBackToTheDefault) {
    defaults()->setBool(true, "sendQSLocationChangeNotifications");
    // Stored before the launch, so the launch registers the regions.
    start();
    auto account = app->account();
    store("Home", [](HX_QuickSetting& q) {
        q.setDndEnabled(!q.dndEnabled());
        q.setRegion(std::make_shared<services::CircularRegion>(kHome, 200, "Home"));
    });
    store("Work", [](HX_QuickSetting& q) {
        q.setCallOptions(!q.callOptions());
        q.setRegion(std::make_shared<services::CircularRegion>(kWork, 200, "Work"));
    });
    store("Default", [](HX_QuickSetting& q) { q.setVMtranscription(!q.VMtranscription()); });
    account->setDefaultQS(std::string("Default"));
    app->preload();
    ASSERT_TRUE(harness.clock().runUntil([&] { return role().locationManager()->monitoredRegions().size() == 2; }, 30));
    for (const auto& region : role().locationManager()->monitoredRegions()) EXPECT_TRUE(region->notifyOnExit());

    const size_t before = settingsRequests();
    at(kBetween);
    harness.settle();
    EXPECT_TRUE(log().empty());
    // Entering: a fresh account load first, then the preset against what the service has.
    at(kHome);
    ASSERT_TRUE(harness.clock().runUntil([&] { return settingsRequests() == before + 1 && app->isIdle(); }, 30));
    harness.settle();
    EXPECT_EQ(log(), (std::vector<std::string>{"busy 10.0", "dnd " + std::to_string(!account->dndEnabled())}));
    EXPECT_EQ(notifications(), std::vector<std::string>{"📍Location Awareness Changing to QuickSetting 'Home'"});
    EXPECT_FALSE(app->locationSwitchTaskRunning());
    log().clear();
    // Leaving: the default preset.
    at(kBetween);
    ASSERT_TRUE(harness.clock().runUntil([&] { return settingsRequests() == before + 2 && app->isIdle(); }, 30));
    harness.settle();
    EXPECT_EQ(log(),
              (std::vector<std::string>{"busy 14.0", "transcribe " + std::to_string(!account->VMtranscription())}));
    EXPECT_EQ(notifications().back(),
              "📍Location Awareness Leaving region 'Home' and changing to default QuickSetting 'Default'");
    log().clear();
    // The second region's switch waits for its settings.
    service->script("/voice/v1/voiceclient/account/get", {.hold = true, .passThrough = true});
    at(kWork);
    ASSERT_TRUE(harness.clock().runUntil([&] { return settingsRequests() == before + 3; }, 30));
    EXPECT_EQ(app->pendingLocationSwitch(), "Work");
    service->releaseHeld();
    ASSERT_TRUE(harness.clock().runUntil([&] { return app->isIdle(); }, 30));
    harness.settle();
    EXPECT_EQ(log(), (std::vector<std::string>{"busy 32.0", "options " + std::to_string(!account->callOptions())}));
}

// Leaving two regions at once asks for the default preset once: the second exit finds its switch
// already waiting for fresh settings and starts nothing more.
TEST_F(QuickSettingsApply, LeavingASecondRegionWhileTheDefaultIsPendingStartsNothingMore) {
    defaults()->setBool(true, "sendQSLocationChangeNotifications");
    start();
    store("Home", [](HX_QuickSetting& q) {
        q.setDndEnabled(!q.dndEnabled());
        q.setRegion(std::make_shared<services::CircularRegion>(kHome, 200, "Home"));
    });
    store("Garden", [](HX_QuickSetting& q) {
        q.setCallOptions(!q.callOptions());
        q.setRegion(std::make_shared<services::CircularRegion>(kHome, 150, "Garden"));
    });
    store("Default", [](HX_QuickSetting& q) { q.setVMtranscription(!q.VMtranscription()); });
    app->account()->setDefaultQS(std::string("Default"));
    role().monitorQuickSettingRegions();
    at(kHome);
    ASSERT_TRUE(harness.clock().runUntil([&] { return !app->pendingLocationSwitch() && app->isIdle(); }, 30));
    harness.settle();
    const size_t before = settingsRequests();
    const size_t announced = notifications().size();
    service->script("/voice/v1/voiceclient/account/get", {.hold = true, .passThrough = true});
    at(kBetween);
    ASSERT_TRUE(harness.clock().runUntil([&] { return settingsRequests() > before; }, 30));
    harness.advance(1);
    EXPECT_EQ(app->pendingLocationSwitch(), "Default");
    EXPECT_EQ(settingsRequests(), before + 1) << "one reload for the default";
    EXPECT_EQ(notifications().size(), announced + 1) << "one announcement";
    service->releaseHeld();
    ASSERT_TRUE(harness.clock().runUntil([&] { return !app->pendingLocationSwitch() && app->isIdle(); }, 30));
}

TEST_F(QuickSettingsApply, AFailedReloadTriesTheSwitchAgainAMinuteLater) {
    start();
    store("Home", [](HX_QuickSetting& q) {
        q.setDndEnabled(!q.dndEnabled());
        q.setRegion(std::make_shared<services::CircularRegion>(kHome, 200, "Home"));
    });
    role().monitorQuickSettingRegions();
    const size_t before = settingsRequests();
    // The reply breaks off: the load fails.
    service->script("/voice/v1/voiceclient/account/get", {.body = std::string(4000, 'x'), .dropMidBody = true});
    at(kHome);
    ASSERT_TRUE(harness.clock().runUntil([&] { return settingsRequests() == before + 1 && app->isIdle(); }, 30));
    harness.settle();
    EXPECT_TRUE(log().empty());
    EXPECT_EQ(app->pendingLocationSwitch(), "Home");
    harness.advance(59);
    EXPECT_EQ(settingsRequests(), before + 1);
    harness.advance(2);
    ASSERT_TRUE(harness.clock().runUntil([&] { return settingsRequests() == before + 2 && app->isIdle(); }, 30));
    harness.settle();
    EXPECT_EQ(log().size(), 2u);
    EXPECT_FALSE(app->pendingLocationSwitch());
}

TEST_F(QuickSettingsApply, TheSwitchsTaskEndsWithItsRequestsSoLaterOfflineRequestsAlert) {
    start();
    store("Home", [](HX_QuickSetting& q) { q.setDndEnabled(!q.dndEnabled()); });
    app->switchToLocation("Home");
    // A request is still under way when the preset has been applied.
    service->script("/voice/slow", {.hold = true});
    app->startAsyncLoadWithRequest(net::URLRequest(service->origin() + "/voice/slow"), "slow");
    ASSERT_TRUE(harness.clock().runUntil([&] { return log().size() == 2; }, 30));
    EXPECT_TRUE(app->locationSwitchTaskRunning()) << "its requests still run";
    service->releaseHeld();
    ASSERT_TRUE(harness.clock().runUntil([&] { return app->isIdle(); }, 30));
    harness.settle();
    EXPECT_FALSE(app->locationSwitchTaskRunning());
    // Offline now, a request alerts again.
    app->setConnectionAvailable(false);
    app->shell().clear();
    app->loadPhoneSettings();
    harness.settle();
    EXPECT_EQ(app->shell().count("alertNoConnection"), 1u);
}

TEST_F(QuickSettingsApply, AccessOtherThanAlwaysTurnsAwarenessOffAndStopsEveryRegion) {
    start();
    auto manager = role().locationManager();
    ASSERT_TRUE(manager);
    EXPECT_EQ(manager->distanceFilter(), 100);
    manager->startMonitoringForRegion(services::CircularRegion(kHome, 200, "Home"));
    manager->startMonitoringForRegion(services::BeaconRegion("E2C56DB5-DFFB-48D2-B060-D0F5A71096E0", 1, 2, "Desk"));
    manager->startUpdatingLocation();
    int received = 0, changed = 0;
    auto& center = foundation::NotificationCenter::defaultCenter();
    center.addObserver(this, "kLocationAuthorizationReceivedNotification", [&](const auto&) { ++received; });
    center.addObserver(this, "kLocationAuthorizationStatusChangedNotification", [&](const auto&) { ++changed; });
    LocationFeed::changeAuthorization(LocationAuthorization::Always);
    harness.settle();
    EXPECT_EQ(received, 1);
    EXPECT_EQ(changed, 1);
    EXPECT_EQ(manager->monitoredRegions().size(), 2u);
    LocationFeed::changeAuthorization(LocationAuthorization::WhenInUse);
    harness.settle();
    EXPECT_EQ(received, 1);
    EXPECT_EQ(changed, 2);
    EXPECT_FALSE(defaults()->boolForKey("useQSLocation"));
    EXPECT_TRUE(manager->monitoredRegions().empty());
    EXPECT_FALSE(manager->isUpdatingLocation());
    center.removeObserver(this);
}

TEST_F(QuickSettingsApply, ALaunchWithoutAlwaysAccessStartsWithAwarenessOff) {
    services::LocationServices::shared().setAuthorizationStatus(LocationAuthorization::WhenInUse);
    start();
    EXPECT_FALSE(defaults()->boolForKey("useQSLocation"));
}

TEST_F(QuickSettingsApply, RangedBeaconsAndErrorsAndSignOut) {
    start();
    auto manager = role().locationManager();
    services::BeaconRegion desk("E2C56DB5-DFFB-48D2-B060-D0F5A71096E0", 7, std::nullopt, "Desk");
    manager->startRangingBeaconsInRegion(desk);
    std::vector<double> distances;
    foundation::NotificationCenter::defaultCenter().addObserver(
        this, "kBeaconRangingInformationReceivedNotification", [&](const foundation::Notification& n) {
            distances.push_back(std::static_pointer_cast<services::Beacon>(n.object)->accuracy);
        });
    LocationFeed::sightings({});
    LocationFeed::sightings({{"E2C56DB5-DFFB-48D2-B060-D0F5A71096E0", 7, 1, 2.5}});
    harness.settle();
    EXPECT_EQ(distances, std::vector<double>{2.5});  // an empty ranging posts nothing
    foundation::NotificationCenter::defaultCenter().removeObserver(this);
    // Only a denial stops location updates.
    manager->startUpdatingLocation();
    LocationFeed::fail(foundation::Error(services::kLocationErrorDomain, services::kLocationErrorNetwork));
    harness.settle();
    EXPECT_TRUE(manager->isUpdatingLocation());
    LocationFeed::fail(foundation::Error(services::kLocationErrorDomain, services::kLocationErrorDenied));
    harness.settle();
    EXPECT_FALSE(manager->isUpdatingLocation());
    // Signing out stops monitoring.
    manager->startMonitoringForRegion(services::CircularRegion(kHome, 200, "Home"));
    app->logout();
    EXPECT_TRUE(manager->monitoredRegions().empty());
}

}  // namespace
