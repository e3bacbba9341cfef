// The shell answers from its own state: the loading overlay, whether a list is the visible screen,
// the mail composer and the location switch; it hands screens roles rather than itself, builds the
// phone's tabs from the screen library's root screens, and its background work outlives it safely.
#include <gtest/gtest.h>

#include <chrono>
#include <future>

#include "app/connect_app_delegate_ipad.h"
#include "app/connect_app_delegate_iphone.h"
#include "app/roles/message_list_host.h"
#include "model/account.h"
#include "model/quick_setting.h"
#include "platform/foundation/application.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/user_defaults.h"
#include "platform/graphics/hxc_font.h"
#include "platform/mail/mail_compose_controller.h"
#include "platform/services/device.h"
#include "platform/toolkit/navigation_controller.h"
#include "service/message_list_model.h"
#include "tests/service/web_client_fixture.h"
#include "tests/support/screen_fixture.h"
#include "tests/support/shell_recorder.h"
#include "tests/support/signed_in_account.h"

namespace {

using Phone = hxtest::RecordedApp<HX_ConnectAppDelegate_iPhone>;
using TabletApp = hxtest::RecordedApp<HX_ConnectAppDelegate_iPad>;

struct ShellState : hxtest::ScreenFixture<Phone> {
    toolkit::NavigationController& tab(int index) {
        return dynamic_cast<toolkit::NavigationController&>(*app->tabBarController()->viewControllers().at(index));
    }
};

TEST_F(ShellState, AListIsShowingOnlyWhileItIsOnTopOfTheCurrentView) {
    ASSERT_TRUE(launch());
    struct Case {
        int view;
        bool pushed;
        bool showing;
    };
    for (const Case& c : {Case{1, false, true}, Case{2, false, true}, Case{3, false, true}, Case{0, false, false},
                          Case{4, false, false}, Case{1, true, false}, Case{3, true, false}}) {
        app->selectViewForIndex(c.view);
        if (c.pushed) tab(c.view).pushViewController(std::make_shared<toolkit::ViewController>(), false);
        harness.settle();
        EXPECT_EQ(app->currentViewIndex(), c.view);
        EXPECT_EQ(app->messageListIsShowing(), c.showing) << c.view << (c.pushed ? " under a pushed screen" : "");
        if (c.pushed) tab(c.view).popViewController(false);
        harness.settle();
    }
    // The list shows again once the screen over it is gone.
    EXPECT_TRUE(app->messageListIsShowing());
}

TEST_F(ShellState, TheOverlayFlagFollowsItsRequestsFromAnyThreadAndMailFollowsTheComposer) {
    // Not launched: nothing else of the shell (the sign-in panel's request) takes the overlay down.
    EXPECT_FALSE(app->loadingOverlayShown());
    app->showLoadingOverlay("Loading settings\u2026");
    EXPECT_TRUE(app->loadingOverlayShown());
    app->removeLoadingOverlay();
    EXPECT_FALSE(app->loadingOverlayShown());
    // A reply queue's request is answered at once, before its view work reaches the main thread.
    std::promise<bool> shownThere;
    auto answered = shownThere.get_future();
    dispatch::Queue::global(dispatch::Priority::Default)->async([app = app, &shownThere] {
        app->showLoadingOverlay("Loading settings\u2026");
        shownThere.set_value(app->loadingOverlayShown());
    });
    ASSERT_EQ(answered.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_TRUE(answered.get());
    harness.settle();
    EXPECT_TRUE(app->loadingOverlayShown());
    app->removeLoadingOverlay();
    EXPECT_FALSE(app->loadingOverlayShown());

    for (bool can : {false, true}) {
        mail::MailComposeViewController::setCanSendMail(can);
        EXPECT_EQ(app->canSendMail(), can);
    }
}

// A screen library that stands its own screen at one view and keeps the placeholders elsewhere.
class OneRootScreens : public HXScreens {
public:
    explicit OneRootScreens(int index) : index_(index) {}
    std::shared_ptr<toolkit::ViewController> makeRootScreen(int index, const HXScreenRoles& roles) override {
        asked.push_back(index);
        this->roles = roles;
        if (index != index_) return nullptr;
        made = std::make_shared<toolkit::ViewController>();
        return made;
    }
    std::vector<int> asked;
    HXScreenRoles roles;
    std::shared_ptr<toolkit::ViewController> made;

private:
    int index_;
};

TEST(ShellRoots, ThePhoneBuildsItsTabsAtSetUpFromTheScreensHandedOverAfterConstruction) {
    hxtest::TempDir home;
    hxtest::useAppHome(home.path());
    toolkit::testing::Harness harness(hxtest::profileOf(hxtest::DeviceForm::phone));
    auto app = std::make_shared<Phone>();
    EXPECT_TRUE(app->tabBarController()->viewControllers().empty()) << "no tabs before the screens are known";
    auto screens = std::make_shared<OneRootScreens>(2);
    app->setScreens(screens);
    app->setWindow(&harness.window());
    app->setupInterface();
    EXPECT_EQ(screens->asked, (std::vector<int>{0, 1, 2, 3, 4}));
    const auto& tabs = app->tabBarController()->viewControllers();
    ASSERT_EQ(tabs.size(), 5u);
    // The library's screen stands at its view, titled as the view; the others keep placeholders,
    // the lists' among them being the lists' hosts.
    EXPECT_EQ(app->viewControllerForIndex(2), screens->made);
    EXPECT_EQ(screens->made->title(), "Voicemail");
    for (int index : {0, 1, 3, 4}) {
        auto root = app->viewControllerForIndex(index);
        ASSERT_TRUE(root) << index;
        EXPECT_EQ(root->className(), kHXViews[index].screen);
        EXPECT_EQ(dynamic_cast<HXMessageListHost*>(root.get()) != nullptr, index == 1 || index == 3) << index;
    }
    // A view whose root holds no list has none to route replies to.
    EXPECT_FALSE(app->messageListForViewIndex(2));
    EXPECT_TRUE(app->messageListForViewIndex(1));
    // A second set-up keeps the tabs it built.
    app->setupInterface();
    EXPECT_EQ(app->tabBarController()->viewControllers().front(), tabs.front());
    EXPECT_EQ(screens->asked.size(), 5u);
    // The roles the maker got are the application object's, and they go with it.
    auto routing = screens->roles.routing.lock();
    ASSERT_TRUE(routing);
    EXPECT_FALSE(routing->iPad());
    EXPECT_TRUE(screens->roles.lists.lock());
    EXPECT_FALSE(screens->roles.splitView.lock()) << "the phone has no split view";
    routing.reset();
    app.reset();
    EXPECT_TRUE(screens->roles.routing.expired());
    EXPECT_TRUE(screens->roles.signIn.expired());
}

TEST(ShellRoots, TheTabletAddsItsSplitViewRoleAndAnUnownedObjectHasNoRoles) {
    hxtest::TempDir home;
    hxtest::useAppHome(home.path());
    auto tablet = std::make_shared<TabletApp>();
    auto roles = tablet->screenRoles();
    auto split = roles.splitView.lock();
    ASSERT_TRUE(split);
    EXPECT_EQ(split->unreadSMSCount(), 0);
    ASSERT_TRUE(roles.routing.lock());
    EXPECT_TRUE(roles.routing.lock()->iPad());
    // An application object that no shared pointer owns cannot be kept weakly: its screens get
    // no roles rather than a pointer that may dangle.
    HX_ConnectAppDelegate_iPhone local;
    auto none = local.screenRoles();
    EXPECT_TRUE(none.signIn.expired());
    EXPECT_TRUE(none.routing.expired());
    EXPECT_TRUE(none.lists.expired());
}

// The message fonts are the process's. A tablet's set-up makes them larger, and a text size can be
// left behind; a screen made in the next fresh home, without a launch of its own, has a phone's
// reply font at the standard size again, not the tablet's.
TEST(ShellRoots, AFreshHomeGivesTheMessageFontsBackToAPhonesWhateverATabletLeft) {
    {
        hxtest::TempDir home;
        hxtest::useAppHome(home.path());
        toolkit::testing::Harness harness(hxtest::profileOf(hxtest::DeviceForm::tablet));
        auto tablet = std::make_shared<TabletApp>();
        tablet->setWindow(&harness.window());
        tablet->setupInterface();
        ASSERT_TRUE(graphics::HXCFont::HXCFontForType(5));
        EXPECT_EQ(graphics::HXCFont::HXCFontForType(5)->pointSize(), 17) << "15 x 1.15 on the tablet";
        graphics::HXCFont::setContentSizeCategory(graphics::ContentSizeCategory::accessibilityLarge);
        tablet.reset();
        hxtest::leaveAppHome();
    }
    hxtest::TempDir home;
    hxtest::useAppHome(home.path());
    toolkit::testing::Harness harness(hxtest::profileOf(hxtest::DeviceForm::phone));
    auto phone = std::make_shared<Phone>();
    EXPECT_FALSE(graphics::HXCFont::iPad());
    EXPECT_EQ(graphics::HXCFont::contentSizeCategory(), graphics::ContentSizeCategory::large);
    ASSERT_TRUE(graphics::HXCFont::HXCFontForType(5));
    EXPECT_EQ(graphics::HXCFont::HXCFontForType(5)->pointSize(), 15);
    phone.reset();
    hxtest::leaveAppHome();
}

// The application object alone in a home of its own, on the harness's virtual clock.
struct Preload : ::testing::Test {
    hxtest::TempDir home;
    toolkit::testing::Harness harness{hxtest::profileOf(hxtest::DeviceForm::phone)};
    std::shared_ptr<Phone> app;
    void SetUp() override {
        hxtest::useAppHome(home.path());
        services::KeyValueStore::shared().setAvailable(true);
        app = std::make_shared<Phone>();
    }
    void TearDown() override { services::KeyValueStore::shared().setAvailable(false); }
    // The store reports a change of key from the server, as the platform does.
    static void storeChanged(const std::string& key, foundation::Value value) {
        services::KeyValueStore::shared().setObject(key, std::move(value));
        foundation::NotificationCenter::defaultCenter().post(
            services::kKeyValueStoreDidChangeExternallyNotification, nullptr,
            foundation::Dictionary{
                {services::kKeyValueStoreChangeReasonKey,
                 foundation::Value(static_cast<int64_t>(services::KeyValueStoreServerChange))},
                {services::kKeyValueStoreChangedKeysKey, foundation::Array{foundation::Value(key)}}});
    }
};

TEST_F(Preload, ItsBackgroundPartRunsOnSafelyAfterTheApplicationObjectHasGone) {
    services::LocationServices::shared().setAuthorizationStatus(services::LocationAuthorization::Always);
    foundation::UserDefaults::standardUserDefaults()->setBool(true, "useQSLocation");
    // The application object goes while its preload may still be under way on the background
    // queue (registering a preset's region with the location manager it holds).
    auto account = std::make_shared<HX_Account>();
    account->setUsername("user@example.test");
    HX_QuickSetting preset;
    preset.setRegion(std::make_shared<services::CircularRegion>(services::Coordinate{1, 2}, 100, "Office"));
    account->quickSettings()["Office"] = preset.archived().value();
    app->setAccount(account);
    app->applicationDidFinishLaunchingWithOptions();
    ASSERT_TRUE(app->screenRoles().quickSettings.lock()->locationManager());
    app->preload();
    std::weak_ptr<HX_ConnectAppDelegate> gone = app;
    app.reset();
    ASSERT_TRUE(gone.expired());
    harness.settle();
    // Nothing observes the key-value store for it: a change is mirrored by no one.
    const auto before = foundation::UserDefaults::standardUserDefaults()->objectForKey("badgeType");
    storeChanged("badgeType", foundation::Value(int64_t{2}));
    EXPECT_EQ(foundation::UserDefaults::standardUserDefaults()->objectForKey("badgeType"), before);
}

TEST_F(Preload, ALivingApplicationObjectMirrorsTheKeyValueStoreAfterIt) {
    app->preload();
    harness.settle();
    storeChanged("badgeType", foundation::Value(int64_t{2}));
    EXPECT_EQ(foundation::UserDefaults::standardUserDefaults()->integerForKey("badgeType"), 2);
}

struct LocationSwitch : WebClientFixture {
    void SetUp() override {
        WebClientFixture::SetUp();
        auto account =
            hxtest::signedInAccount("user@example.test", hxtest::bearerToken("T", clock->wallNow() + 3600, "h"));
        // Each preset turns message sounds on, which the app has off.
        HX_QuickSetting sounds;
        sounds.setMessageSounds(2);
        account->quickSettings()["Home"] = sounds.archived().value();
        account->quickSettings()["Office"] = sounds.archived().value();
        app->setAccount(account);
        app->setNewMessageAlert(false);
    }
    size_t settingsRequests() {
        size_t n = 0;
        for (const auto& r : service.requests()) n += r.path.find("/account/get") != std::string::npos;
        return n;
    }
    static void expireTasks() { foundation::Application::shared().expireBackgroundTasks(); }
    // The base form's own answers, under the recorded form's script.
    bool running() { return app->HX_ConnectAppDelegate::locationSwitchTaskRunning(); }
    std::optional<std::string> pending() { return app->HX_ConnectAppDelegate::pendingLocationSwitch(); }
};

TEST_F(LocationSwitch, ASwitchHoldsATaskAndItsQuickSettingUntilFreshSettingsApplyIt) {
    auto& platform = foundation::Application::shared();
    const size_t tasks = platform.activeBackgroundTaskCount();
    EXPECT_FALSE(running());
    EXPECT_FALSE(pending());
    // A settings load marked as running does not hold the switch's own load back.
    app->setSettingsLoading(true);
    service.script("/voice/v1/voiceclient/account/get", {.hold = true});
    app->switchToLocation("Office");
    EXPECT_TRUE(running());
    EXPECT_EQ(pending(), "Office");
    EXPECT_EQ(platform.activeBackgroundTaskCount(), tasks + 1);
    ASSERT_TRUE(runUntil([&] { return settingsRequests() == 1; }));
    // A second switch before the settings came replaces the first: one task, the newer name.
    app->switchToLocation("Home");
    EXPECT_EQ(platform.activeBackgroundTaskCount(), tasks + 1);
    EXPECT_EQ(pending(), "Home");
    service.releaseHeld();
    ASSERT_TRUE(runUntil([&] { return inFlight() == 0; }));
    // Fresh settings apply the newer quick setting once and clear it; with no request of its
    // own under way the switch's task ends at once, so later offline requests alert again.
    foundation::NotificationCenter::defaultCenter().post("kSettingsUpdateNotification");
    EXPECT_TRUE(app->newMessageAlert());
    app->setNewMessageAlert(false);
    foundation::NotificationCenter::defaultCenter().post("kSettingsUpdateNotification");
    EXPECT_FALSE(app->newMessageAlert()) << "applied once";
    EXPECT_FALSE(pending());
    EXPECT_FALSE(running());
    EXPECT_EQ(platform.activeBackgroundTaskCount(), tasks);
}

TEST_F(LocationSwitch, APendingSwitchIsTriedAgainInTheForegroundAndAfterARescheduleOnlyOnce) {
    service.script("/voice/v1/voiceclient/account/get", {.hold = true}, -1);
    app->switchToLocation("Office");
    ASSERT_TRUE(runUntil([&] { return settingsRequests() == 1; }));
    expireTasks();
    EXPECT_FALSE(running());
    EXPECT_EQ(pending(), "Office");
    app->applicationDidEnterBackground();
    app->applicationWillEnterForeground();
    EXPECT_TRUE(running()) << "the foreground starts the remembered switch again";
    EXPECT_EQ(pending(), "Office");
    ASSERT_TRUE(runUntil([&] { return settingsRequests() == 2; }));
    // Fresh settings apply the quick setting, and nothing waits any more.
    service.releaseHeld();
    ASSERT_TRUE(runUntil([&] { return inFlight() == 0; }));
    foundation::NotificationCenter::defaultCenter().post("kSettingsUpdateNotification");
    EXPECT_FALSE(pending());
    EXPECT_TRUE(app->newMessageAlert());
    expireTasks();
    // Two reschedules of the same quick setting make one switch, a minute after the later one:
    // the earlier one's minute has passed without a switch.
    app->rescheduleSwitchToLocation("Office", 60);
    clock->advance(30);
    app->rescheduleSwitchToLocation("Office", 60);
    clock->advance(59);
    EXPECT_FALSE(running());
    EXPECT_FALSE(pending());
    clock->advance(2);
    EXPECT_TRUE(running());
    EXPECT_EQ(pending(), "Office");
    service.releaseHeld();
}

}  // namespace
