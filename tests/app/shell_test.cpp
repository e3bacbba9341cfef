// The shell: the launch sequence, the phone's tab bar, alerts, refresh scheduling and the
// platform services it drives.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "RurIdurevCrashes/RurIdurevCrashes/crashes.h"
#include "app/connect_app_delegate_iphone.h"
#include "app/dial_pad_screen.h"
#include "app/hxc_passcode_lock.h"
#include "app/views.h"
#include "emulator/emulator.h"
#include "emulator/ingestion_service.h"
#include "model/account.h"
#include "model/message_store.h"
#include "model/phone.h"
#include "model/quick_setting.h"
#include "platform/dispatch/internal.h"
#include "platform/foundation/application.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/files.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/property_list.h"
#include "platform/foundation/strings.h"
#include "platform/foundation/url.h"
#include "platform/foundation/user_defaults.h"
#include "platform/graphics/hxc_font.h"
#include "platform/security/keychain.h"
#include "platform/services/contacts.h"
#include "platform/services/device.h"
#include "platform/services/search_index.h"
#include "platform/toolkit/alert_controller.h"
#include "platform/toolkit/appearance.h"
#include "platform/toolkit/bars.h"
#include "platform/toolkit/controls.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/testing/harness.h"
#include "service/custom_cookie_jar.h"
#include "service/message_list_model.h"
#include "service/request_machinery.h"
#include "tests/service/web_client_fixture.h"
#include "tests/support/headless_run.h"
#include "tests/support/screen_fixture.h"
#include "tests/support/shell_recorder.h"
#include "tests/support/signed_in_account.h"
#include "tests/support/test_support.h"

namespace {

using foundation::Dictionary;
using foundation::Value;

struct Shell : hxtest::ScreenFixture<hxtest::RecordedApp<HX_ConnectAppDelegate_iPhone>> {
    explicit Shell(const hxtest::ScreenSetup& setup = {}) : ScreenFixture(setup) {}
    void TearDown() override {
        ScreenFixture::TearDown();
        foundation::NotificationCenter::defaultCenter().removeObserver(this);
    }
    std::shared_ptr<foundation::UserDefaults> prefs() { return foundation::UserDefaults::standardUserDefaults(); }
    void storeAccounts(const std::vector<std::string>& users) {
        Dictionary infos;
        for (const auto& user : users) {
            HX_Account account;
            account.setUsername(user);
            auto archive = account.archived();
            ASSERT_TRUE(archive.ok());
            infos.set(user, archive.value());
        }
        ASSERT_TRUE(prefs()->setObject(infos, "accountInfo").ok());
    }
    void launch() {
        ASSERT_TRUE(app->applicationDidFinishLaunchingWithOptions());
        harness.settle();
    }
    std::optional<std::string> badge(int index) {
        return app->tabBarController()->viewControllers()[index]->tabBarItem().badgeValue;
    }
};

TEST_F(Shell, LaunchRunsItsStepsInOrder) {
    launch();
    // The order the start-up is specified in, one name per step.
    const std::vector<std::string> expected{
        "startTelemetry",
        "messageParsingQueue",
        "isPhone",
        "passcodeDefaults",
        "registerDefaults",
        "cacheCleanUp",
        "readMirrors",
        "requestTable",
        "appearance",
        "setupInterface",
        "selectFirstView",
        "lookupNumbers",
        "observeReachability",
        "selectAccount",
        "shortcuts",
        "notificationCenterRegistration",
        "observeLifeCycle",
        "postDidFinishLaunching",
        "isInBackground",
        "passcodeAppearance",
        "showPasscodeLockIfNeededForStartup",
        "locationManager",
        "observeContentSize",
        "backgroundRefreshStatus",
    };
    EXPECT_EQ(app->launchSteps(), expected);
    ASSERT_TRUE(app->messageParsingQueue());
    // The telemetry start is asked for before anything else reaches the shell.
    ASSERT_FALSE(app->shell().calls().empty());
    EXPECT_EQ(app->shell().calls().front(), "startTelemetry");
    // The formatter stays lazy: the launch does not build it.
    EXPECT_EQ(app->phoneFormatterAccessCount(), 0u);
}

// The launch's look: navigation bars tinted system blue, switches on in system blue at 0.8 and
// search fields on system grey 5; views given their own colours keep them.
TEST_F(Shell, LaunchSetsTheAppsLooks) {
    toolkit::Appearance::reset();
    launch();
    auto onOff = std::make_shared<toolkit::Switch>();
    auto own = std::make_shared<toolkit::Switch>();
    own->onTintColor = toolkit::Color::green();
    auto search = std::make_shared<toolkit::SearchBar>();
    for (auto v : std::initializer_list<std::shared_ptr<toolkit::View>>{onOff, own, search})
        harness.window().addSubview(v);
    EXPECT_EQ(onOff->onTintColor, toolkit::Color::systemBlue().withAlphaComponent(0.8));
    EXPECT_EQ(own->onTintColor, toolkit::Color::green());
    EXPECT_EQ(search->searchTextField().backgroundColor(), toolkit::Color::systemGray5());
    auto* nav = dynamic_cast<toolkit::NavigationController*>(app->tabBarController()->viewControllers()[4].get());
    ASSERT_TRUE(nav);
    EXPECT_EQ(nav->navigationBar().tintColor(), toolkit::Color::systemBlue());
    toolkit::Appearance::reset();
}

// The launch's steps do their work, not only say their names: the service host's reports reach
// the app, and a launch in the background marks the app as in the background.
TEST_F(Shell, LaunchWatchesTheServiceHostAndMarksABackgroundLaunch) {
    foundation::Application::shared().setApplicationState(foundation::ApplicationState::Background);
    launch();
    foundation::Application::shared().setApplicationState(foundation::ApplicationState::Active);
    EXPECT_TRUE(app->isInBackground());
    app->setConnectionAvailable(true);
    // A report of the host (none reachable) arrives through the observer the launch installed.
    foundation::NotificationCenter::defaultCenter().post("kNetworkReachabilityChangedNotification");
    EXPECT_FALSE(app->connectionAvailable());
    EXPECT_EQ(app->shell().count("stopReachabilityNotifier"), 0u);

    auto foreground = std::make_shared<HX_ConnectAppDelegate_iPhone>();
    foreground->setWindow(&harness.window());
    ASSERT_TRUE(foreground->applicationDidFinishLaunchingWithOptions());
    EXPECT_FALSE(foreground->isInBackground());
    foreground.reset();
}

// Resigning and becoming active again: the pair of observers re-arm each other, each return
// counts a launch, and entering the background dismisses the alert shown through presentAlert but
// leaves one that carries a tag.
TEST_F(Shell, ResignAndResumeCountLaunchesAndTheBackgroundDismissesOnlyUntaggedAlerts) {
    // The host's network as the test sets it.
    reachability = std::make_shared<net::FakeReachabilityBackend>();
    net::ReachabilityBackend::setShared(reachability);
    launch();
    auto& center = foundation::NotificationCenter::defaultCenter();
    const int64_t launches = prefs()->integerForKey("launchCount");
    // The host's reports arrive only while the app is active: the notifier stops on resigning.
    int reports = 0;
    center.addObserver(this, "kNetworkReachabilityChangedNotification",
                       [&reports](const foundation::Notification&) { ++reports; });
    auto flip = [&] {
        reachability->setFlags(0);
        harness.settle();
        reachability->setFlags(net::kReachabilityReachable);
        harness.settle();
    };
    center.post(foundation::kApplicationWillResignActiveNotification);
    flip();
    EXPECT_EQ(reports, 0);
    center.post(foundation::kApplicationDidBecomeActiveNotification);
    EXPECT_EQ(prefs()->integerForKey("launchCount"), launches + 1);
    // Started again, the notifier reports where the host stands, then each change.
    flip();
    EXPECT_EQ(reports, 3);
    center.post(foundation::kApplicationDidBecomeActiveNotification);  // not armed without a resign
    EXPECT_EQ(prefs()->integerForKey("launchCount"), launches + 1);
    center.post(foundation::kApplicationWillResignActiveNotification);
    flip();
    EXPECT_EQ(reports, 3);
    center.post(foundation::kApplicationDidBecomeActiveNotification);
    EXPECT_EQ(prefs()->integerForKey("launchCount"), launches + 2);
    center.removeObserver(this, "kNetworkReachabilityChangedNotification");
    net::ReachabilityBackend::setShared(nullptr);

    app->presentAlert(HXAlert{"Untagged", "shown by the app", {{"OK", HXAlertAction::Style::Default, {}}}, {}});
    harness.settle();
    ASSERT_TRUE(harness.visibleAlert());
    app->applicationDidEnterBackground();
    harness.settle();
    EXPECT_FALSE(harness.visibleAlert());
    app->applicationWillEnterForeground();
    auto tagged = toolkit::AlertController::make(std::string("Tagged"), std::string("kept"),
                                                 toolkit::AlertControllerStyle::Alert);
    ASSERT_TRUE(tagged->addAction(toolkit::AlertAction::make("OK", toolkit::AlertActionStyle::Default)).ok());
    tagged->view()->setTag(4);
    app->presentAlert(tagged, nullptr);
    harness.settle();
    ASSERT_TRUE(harness.visibleAlert());
    app->applicationDidEnterBackground();
    harness.settle();
    ASSERT_TRUE(harness.visibleAlert());
    EXPECT_EQ(harness.visibleAlert()->alertTitle(), "Tagged");
    app->applicationWillEnterForeground();
}

// Without the emulator the app's requests go to the fixture's scripted transport: recorded as they
// would have gone out, never resolved or sent.
TEST_F(Shell, WithoutTheServiceRequestsStayOnTheMachine) {
    ASSERT_TRUE(transport);
    launch();
    app->setAccount(
        hxtest::signedInAccount("ann@example.test", hxtest::bearerToken("T", harness.clock().wallNow() + 3600)));
    app->setConnectionAvailable(true);
    app->loadUnreadMessages();
    harness.clock().runUntilIdle();
    // The unread list, the counts and the token the session needs: recorded, all still waiting.
    std::set<std::string> paths;
    for (const auto& r : transport->requests()) {
        EXPECT_TRUE(r.url.starts_with(HXWebClientOf(*app).endpoints.api + "/") ||
                    r.url.starts_with(HXWebClientOf(*app).endpoints.signIn + "/"))
            << r.url;
        paths.insert(r.url.substr(0, r.url.find('?')));
    }
    EXPECT_TRUE(paths.count(HXWebClientOf(*app).endpoints.api + "/voice/v1/voiceclient/api2thread/list"));
    EXPECT_TRUE(paths.count(HXWebClientOf(*app).endpoints.api + "/voice/v1/voiceclient/threadinginfo/get"));
    EXPECT_EQ(HXWebClientOf(*app).requests.size(), transport->requestCount());
    app->cancelRequests([](const std::string&) { return true; });
}

TEST_F(Shell, FreshInstallationShowsSettingsWithoutPasscodeAndRegistersOnce) {
    // A passcode left in the keychain by an earlier installation does not lock a fresh one.
    HXCPasscodeLock::sharedLock().setPasscodeRequired(true);
    launch();
    EXPECT_EQ(app->currentViewIndex(), 4);
    EXPECT_EQ(app->tabBarController()->selectedIndex(), 4u);
    EXPECT_FALSE(HXCPasscodeLock::sharedLock().passcodeRequired());
    EXPECT_FALSE(app->lockShown);
    HXCPasscodeLock::sharedLock().forgetKeptValues();
    EXPECT_FALSE(HXCPasscodeLock::sharedLock().passcodeRequired()) << "stored as off";
    EXPECT_TRUE(prefs()->boolForKey("notificationCenterRegistration"));
    EXPECT_EQ(services::AppBadge::shared().updates(), 1);
    const std::vector<services::ShortcutItem> shortcuts{{"com.hxconnect.shortcut_call", "Place Call", "phone"},
                                                        {"com.hxconnect.shortcut_sms", "New SMS", "compose"}};
    EXPECT_EQ(services::ShortcutItems::shared().shortcutItems(), shortcuts);
    // Registered defaults, with a stored value winning.
    EXPECT_EQ(prefs()->integerForKey("badgeType"), 2);
    EXPECT_EQ(prefs()->integerForKey("notificationTypes"), 7);
    EXPECT_TRUE(app->autoRefresh());
    EXPECT_FALSE(app->newMessageAlert());

    // A second launch does not post the registration notification again.
    auto again = std::make_shared<hxtest::RecordedApp<HX_ConnectAppDelegate_iPhone>>();
    again->setWindow(&harness.window());
    ASSERT_TRUE(again->applicationDidFinishLaunchingWithOptions());
    EXPECT_EQ(services::AppBadge::shared().updates(), 1);
    again.reset();
}

TEST_F(Shell, IsPhoneNeedsTheTelSchemeAndACarrier) {
    struct Case {
        bool tel;
        std::optional<std::string> carrier;
        bool isPhone;
    } cases[] = {
        {true, "HX Mobile", true}, {true, std::nullopt, false}, {true, "", false}, {false, "HX Mobile", false}};
    for (const auto& c : cases) {
        services::Telephony::shared().setSchemeOpens("tel", c.tel);
        services::Telephony::shared().setCarrierName(c.carrier);
        auto form = std::make_shared<hxtest::RecordedApp<HX_ConnectAppDelegate_iPhone>>();
        ASSERT_TRUE(form->applicationDidFinishLaunchingWithOptions());
        EXPECT_EQ(form->isPhone(), c.isPhone) << c.tel << " " << c.carrier.value_or("(none)");
    }
}

TEST_F(Shell, CacheCleanUpRunsOncePerInstallation) {
    const auto caches = foundation::cachesDirectory();
    std::ofstream(caches / "+stale") << "x";
    std::filesystem::create_directories(caches / "+folder" / "inner");
    std::ofstream(caches / "kept") << "x";
    launch();
    harness.clock().runUntilIdle();
    EXPECT_FALSE(std::filesystem::exists(caches / "+stale"));
    EXPECT_FALSE(std::filesystem::exists(caches / "+folder"));
    EXPECT_TRUE(std::filesystem::exists(caches / "kept"));
    EXPECT_TRUE(prefs()->boolForKey("CIcleaned"));

    std::ofstream(caches / "+later") << "x";
    auto again = std::make_shared<hxtest::RecordedApp<HX_ConnectAppDelegate_iPhone>>();
    ASSERT_TRUE(again->applicationDidFinishLaunchingWithOptions());
    harness.clock().runUntilIdle();
    EXPECT_TRUE(std::filesystem::exists(caches / "+later"));
    // Its requests are never answered here: end them so that their connections go with it.
    again->cancelRequests([](const std::string&) { return true; });
}

TEST_F(Shell, LaunchRepairsTheAccountChoiceAndOpensTheStoredTab) {
    storeAccounts({"", "bob@example.test", "carol@example.test"});
    ASSERT_TRUE(prefs()->setObject(Value("gone@example.test"), "username").ok());
    prefs()->setInteger(1, "tabBarIndex");
    launch();
    auto infos = prefs()->dictionaryForKey("accountInfo");
    ASSERT_TRUE(infos);
    EXPECT_FALSE(infos->contains(std::string()));
    EXPECT_EQ(prefs()->stringForKey("username"), "bob@example.test");
    ASSERT_TRUE(app->account());
    EXPECT_EQ(app->account()->username(), "bob@example.test");
    EXPECT_EQ(app->currentViewIndex(), 1);
}

TEST_F(Shell, TabBarHasFiveNavigationControllersWithTheirTitles) {
    launch();
    const auto& tabs = app->tabBarController()->viewControllers();
    ASSERT_EQ(tabs.size(), 5u);
    const char* titles[] = {"Call", "SMS", "Voicemail", "History", "Settings"};
    const char* screens[] = {"VC_Call", "VC_SMS", "VC_VM", "VC_History", "VC_Settings"};
    for (int i = 0; i < 5; ++i) {
        EXPECT_TRUE(dynamic_cast<toolkit::NavigationController*>(tabs[i].get())) << i;
        EXPECT_EQ(tabs[i]->tabBarItem().title, titles[i]);
        ASSERT_TRUE(app->viewControllerForIndex(i));
        EXPECT_EQ(app->viewControllerForIndex(i)->className(), screens[i]);
    }
    EXPECT_FALSE(app->viewControllerForIndex(5));
    app->setUnreadCount(3, 1);
    harness.settle();
    expectOutline("phone_tab_bar");

    // A tap on a tab selects it and is remembered at termination.
    app->tabBarController()->userSelect(2);
    EXPECT_EQ(app->currentViewIndex(), 2);
    app->applicationWillTerminate();
    EXPECT_EQ(prefs()->integerForKey("tabBarIndex"), 2);
}

TEST_F(Shell, ListViewsCarryTheirMessageListsAndAScriptedListStandsInForThem) {
    launch();
    const std::string base = HXWebClientOf(*app).endpoints.servicePageBase();
    const std::pair<int, const char*> lists[] = {
        {1, "inbox/recent/sms/"}, {2, "inbox/recent/voicemail/"}, {3, "inbox/recent/all/"}};
    for (const auto& [index, path] : lists) {
        auto list = std::dynamic_pointer_cast<HXMessageListModel>(app->messageListForViewIndex(index));
        ASSERT_TRUE(list) << index;
        EXPECT_EQ(list->viewType(), index);
        EXPECT_EQ(list->viewSettings().get("URL").stringValue(), base + path);
        // One list per view, kept.
        EXPECT_EQ(app->messageListForViewIndex(index), list);
    }
    EXPECT_FALSE(app->messageListForViewIndex(0));
    EXPECT_FALSE(app->messageListForViewIndex(4));
    EXPECT_FALSE(app->messageListForViewIndex(7));

    // Only the list on screen loads: it follows its tab.
    auto sms = std::dynamic_pointer_cast<HXMessageListModel>(app->messageListForViewIndex(1));
    app->selectViewForIndex(1);
    harness.settle();
    EXPECT_TRUE(sms->isShownScreen());
    app->selectViewForIndex(3);
    harness.settle();
    EXPECT_FALSE(sms->isShownScreen());

    auto scripted = std::make_shared<HXMessageListStandIn>();
    app->shell().changeScript([&](HXShellRecorder::Script& s) { s.messageLists[1] = scripted; });
    EXPECT_EQ(app->messageListForViewIndex(1), scripted);
}

TEST_F(Shell, AccountPrefsSaveEachAccountBesideTheOthersAndSelectingItRestoresThem) {
    // Without a user name nothing is written.
    app->setAccount(std::make_shared<HX_Account>());
    app->updateAccountPrefs();
    for (const char* key : {"accountInfo", "cookies", "lastNotification"})
        EXPECT_FALSE(prefs()->dictionaryForKey(key).has_value()) << key;

    storeAccounts({"first@example.test"});
    auto account = std::make_shared<HX_Account>();
    account->setUsername("second@example.test");
    account->setHXnumber(std::string("+15550100"));
    app->setAccount(account);
    app->setCookieJar(std::make_shared<CustomCookieJar>(
        std::vector<net::Cookie>{net::Cookie{.name = "SID", .value = "s2", .domain = "127.0.0.1"}}));
    app->setLastNotification(1'700'000'123);
    app->updateAccountPrefs();
    for (const char* key : {"accountInfo", "cookies", "lastNotification"})
        EXPECT_TRUE(prefs()->dictionaryForKey(key).value_or(Dictionary{}).contains("second@example.test")) << key;
    EXPECT_TRUE(prefs()->dictionaryForKey("accountInfo")->contains("first@example.test"));

    // A later application object finds the account as it was saved.
    auto later = std::make_shared<hxtest::RecordedApp<HX_ConnectAppDelegate_iPhone>>();
    later->selectAccountForUserName("second@example.test");
    harness.settle();
    ASSERT_TRUE(later->account());
    EXPECT_EQ(later->account()->username(), "second@example.test");
    EXPECT_EQ(later->account()->HXnumber(), std::optional<std::string>("+15550100"));
    EXPECT_EQ(later->lastNotification(), 1'700'000'123);
    ASSERT_TRUE(later->cookieJar());
    const auto cookies = later->cookieJar()->_cookies();
    ASSERT_EQ(cookies.size(), 1u);
    EXPECT_EQ(cookies[0].value, "s2");
}

TEST_F(Shell, UnreadBadgesOnTabsAndAppIcon) {
    launch();
    struct Case {
        int badgeType;
        int64_t sms, vm;
        long icon;
    } cases[] = {{0, 5, 2, 5}, {1, 5, 2, 2}, {2, 5, 2, 7}, {3, 5, 2, 0}, {2, 0, 4, 4}};
    for (const auto& c : cases) {
        prefs()->setInteger(c.badgeType, "badgeType");
        app->setUnreadCount(c.vm, 2);
        app->setUnreadCount(c.sms, 1);
        harness.clock().runUntilIdle();
        EXPECT_EQ(services::AppBadge::shared().badgeNumber(), c.icon) << c.badgeType << " " << c.sms << " " << c.vm;
        // A count of 0 removes the badge instead of showing "0".
        EXPECT_EQ(badge(1), c.sms ? std::optional<std::string>(std::to_string(c.sms)) : std::nullopt);
        EXPECT_EQ(badge(2), std::to_string(c.vm));
    }
    // Another index changes no tab and gives the icon no count.
    app->setUnreadCount(9, 3);
    harness.clock().runUntilIdle();
    EXPECT_EQ(services::AppBadge::shared().badgeNumber(), 0);
}

TEST_F(Shell, AnAlertReplacesTheOneShownBefore) {
    launch();
    int tapped = 0;
    app->presentAlert(HXAlert{"First", "one", {{"OK", HXAlertAction::Style::Default, [&] { tapped = 1; }}}, {}});
    harness.settle();
    ASSERT_TRUE(harness.visibleAlert());
    EXPECT_EQ(harness.visibleAlert()->alertTitle(), "First");
    app->presentAlert(HXAlert{"Second", "two", {{"OK", HXAlertAction::Style::Default, [&] { tapped = 2; }}}, {}});
    harness.settle();
    ASSERT_TRUE(harness.visibleAlert());
    EXPECT_EQ(harness.visibleAlert()->alertTitle(), "Second");
    EXPECT_TRUE(harness.tapAlertAction("OK"));
    harness.settle();
    EXPECT_EQ(tapped, 2);
    EXPECT_FALSE(harness.visibleAlert());
}

TEST_F(Shell, ConnectionAlertsDoNotStack) {
    launch();
    int failed = 0;
    foundation::NotificationCenter::defaultCenter().addObserver(this, "kNetworkConnectionFailedNotification",
                                                                [&](const foundation::Notification&) { ++failed; });
    app->alertNoConnection();
    app->alertNoConnection();
    harness.settle();
    EXPECT_EQ(app->shell().alerts().size(), 1u);
    EXPECT_EQ(app->connectionAlertState(), 3);
    ASSERT_TRUE(harness.visibleAlert());
    EXPECT_EQ(harness.visibleAlert()->alertTitle(), "No Network Connection");
    EXPECT_TRUE(harness.tapAlertAction("Dismiss"));
    harness.settle();
    EXPECT_EQ(failed, 1);
    EXPECT_EQ(app->connectionAlertState(), -1);

    app->alertSlowConnection();
    app->alertSlowConnection();
    EXPECT_EQ(app->shell().alerts().size(), 2u);
    EXPECT_EQ(app->shell().alerts().back().title, "Slow Network Connection");
    // Nothing while in the background.
    EXPECT_TRUE(harness.tapAlertAction("Dismiss"));
    app->setIsInBackground(true);
    app->alertNoConnection();
    app->alertSlowConnection();
    EXPECT_EQ(app->shell().alerts().size(), 2u);
}

TEST_F(Shell, ConnectionAlertsSpeakTheBundlesLanguage) {
    launch();
    hxtest::TempDir resources;
    std::filesystem::create_directories(resources / "en.lproj");
    std::ofstream(resources / "en.lproj/Localizable.strings")
        << "\"No Network Connection\" = \"Offline\";\n\"Slow Network Connection\" = \"Slow\";\n"
           "\"Dismiss\" = \"Close\";\n";
    auto& main = foundation::Bundle::main();
    const auto kept = main.resourcesDirectory();
    main.setResourcesDirectory(resources.path());
    app->alertNoConnection();
    harness.settle();
    ASSERT_TRUE(harness.visibleAlert());
    EXPECT_EQ(harness.visibleAlert()->alertTitle(), "Offline");
    EXPECT_TRUE(harness.tapAlertAction("Close"));
    harness.settle();
    app->alertSlowConnection();
    harness.settle();
    ASSERT_TRUE(harness.visibleAlert());
    EXPECT_EQ(harness.visibleAlert()->alertTitle(), "Slow");
    EXPECT_TRUE(harness.tapAlertAction("Close"));
    main.setResourcesDirectory(kept);
}

TEST_F(Shell, BackgroundFetchIntervalFollowsAutoRefreshAndTheRefreshStatus) {
    launch();
    using services::BackgroundRefreshStatus;
    auto& fetch = services::BackgroundFetch::shared();
    EXPECT_EQ(fetch.minimumBackgroundFetchInterval(), services::kBackgroundFetchIntervalMinimum);
    struct Case {
        bool autoRefresh;
        BackgroundRefreshStatus status;
        double interval;
    } cases[] = {{true, BackgroundRefreshStatus::Denied, services::kBackgroundFetchIntervalNever},
                 {true, BackgroundRefreshStatus::Available, services::kBackgroundFetchIntervalMinimum},
                 {true, BackgroundRefreshStatus::Restricted, services::kBackgroundFetchIntervalNever},
                 {false, BackgroundRefreshStatus::Available, services::kBackgroundFetchIntervalNever}};
    for (const auto& c : cases) {
        app->setAutoRefresh(c.autoRefresh);
        // The change notification alone re-applies the interval.
        fetch.setBackgroundRefreshStatus(c.status);
        if (!c.autoRefresh) app->setBackgroundRefreshStatus();
        EXPECT_EQ(fetch.minimumBackgroundFetchInterval(), c.interval) << c.autoRefresh << static_cast<int>(c.status);
    }
}

TEST_F(Shell, NotificationCategoriesReplaceTheRegisteredOnes) {
    services::NotificationSettings::shared().setNotificationCategories({{"old"}});
    app->registerForUserNotifications();
    auto categories = services::NotificationSettings::shared().notificationCategories();
    ASSERT_EQ(categories.size(), 2u);
    EXPECT_EQ(categories[0].identifier, "com.hxconnect.markRead");
    ASSERT_EQ(categories[0].actions.size(), 1u);
    EXPECT_EQ(categories[0].actions[0].title, "Mark as read");
    EXPECT_EQ(categories[1].identifier, "com.hxconnect.composeReply");
    ASSERT_EQ(categories[1].actions.size(), 2u);
    const auto& reply = categories[1].actions[0];
    EXPECT_TRUE(reply.textInput);
    EXPECT_EQ(reply.identifier, "com.hxconnect.composeReply");
    EXPECT_EQ(reply.title, "Reply");
    EXPECT_EQ(reply.textInputButtonTitle, "Send");
    EXPECT_EQ(reply.textInputPlaceholder, "Text Message");
    EXPECT_EQ(categories[1].actions[1].identifier, "com.hxconnect.markRead");
    for (const auto& c : categories) {
        EXPECT_EQ(c.hiddenPreviewsBodyPlaceholder, "HIDDEN_BODY_SUMMARY");
        EXPECT_EQ(c.categorySummaryFormat, "NOTIFICATION_SUMMARY");
        EXPECT_TRUE(c.intentIdentifiers.empty());
    }
}

TEST_F(Shell, KeyValueStoreChangesFromTheServerReachThePreferences) {
    foundation::NotificationCenter::defaultCenter().addObserver(
        this, services::kKeyValueStoreDidChangeExternallyNotification,
        [&](const foundation::Notification& n) { app->updateKVStoreItems(n); });
    struct Case {
        int reason;
        bool copied;
    } cases[] = {{services::KeyValueStoreServerChange, true},
                 {services::KeyValueStoreInitialSyncChange, true},
                 {services::KeyValueStoreQuotaViolationChange, false},
                 {services::KeyValueStoreAccountChange, false}};
    for (const auto& c : cases) {
        const std::string key = "kv" + std::to_string(c.reason);
        services::KeyValueStore::shared().receiveExternalChange(c.reason, Dictionary{{key, "v"}});
        EXPECT_EQ(prefs()->stringForKey(key).has_value(), c.copied) << c.reason;
    }
}

TEST_F(Shell, MemoryWarningDropsTheVersionTextAndAnUnusedFormatter) {
    HX_ConnectAppDelegate::setSharedDelegate(app);
    const std::string version = app->versionString();
    EXPECT_TRUE(app->hasVersionString());
    auto held = app->phoneFormatter();
    app->applicationDidReceiveMemoryWarning();
    EXPECT_FALSE(app->hasVersionString());
    EXPECT_EQ(app->phoneFormatter(), held);  // still in use: kept
    app->decreasePhoneFormatterAccessCount();
    app->decreasePhoneFormatterAccessCount();
    app->applicationDidReceiveMemoryWarning();
    EXPECT_NE(app->phoneFormatter(), held);
    app->decreasePhoneFormatterAccessCount();
    EXPECT_EQ(app->versionString(), version);
    HX_ConnectAppDelegate::setSharedDelegate(nullptr);
}

TEST(ShellTypes, TypesForMaskListsTheSetBitsInOrder) {
    EXPECT_EQ(HX_ConnectAppDelegate::typesForMask(0), std::vector<int>{});
    EXPECT_EQ(HX_ConnectAppDelegate::typesForMask(3072), (std::vector<int>{10, 11}));
    EXPECT_EQ(HX_ConnectAppDelegate::typesForMask(4), std::vector<int>{2});
    EXPECT_EQ(HX_ConnectAppDelegate::typesForMask(uint64_t{1} << 63 | 1), (std::vector<int>{0, 63}));
}

// The unread refresh against the emulated service, on the virtual clock.
struct ShellRefresh : WebClientFixture {
    void SetUp() override {
        WebClientFixture::SetUp();
        services::resetDeviceServices();
        app->setAccount(hxtest::signedInAccount("alice@example.test",
                                                hxtest::bearerToken("TOK", clock->wallNow() + 36000, "hint")));
        net::Cookie cookie{"SID", "s", "127.0.0.1"};
        app->cookieJar()->set_cookies({cookie});
    }
    size_t unreadLoads() {
        size_t n = 0;
        for (const auto& r : service.requests())
            if (r.target.find("threadinginfo/get") != std::string::npos) ++n;
        return n;
    }
};

TEST_F(ShellRefresh, NextUnreadLoadAfterOneMinuteOrFiveInLowPowerMode) {
    struct Case {
        bool lowPower;
        double delay;
    } cases[] = {{false, 60.0}, {true, 300.0}};
    service.script("/voice/v1/voiceclient/threadinginfo/get", {.body = R"({"info":{"viewInfo":[]}})"}, -1);
    service.script("/voice/v1/voiceclient/api2thread/list", {.body = ""}, -1);
    for (const auto& c : cases) {
        services::PowerState::shared().setLowPowerModeEnabled(c.lowPower);
        const size_t before = unreadLoads();
        app->queueRefresh();
        app->queueRefresh();  // a second request replaces the first
        clock->advance(c.delay - 1);
        clock->runUntilIdle();
        EXPECT_EQ(unreadLoads(), before) << c.lowPower;
        // The load's own reply schedules the next one; only the first is counted here.
        ASSERT_TRUE(runUntil([&] { return unreadLoads() == before + 1 && inFlight() == 0; }, 2)) << c.lowPower;
        dispatch::RunLoop::main().cancelPerforms(app.get());
    }
}

// A notification action keeps the platform's completion until its own request ends: other
// requests that end or fail meanwhile leave it alone, and it is answered exactly once.
TEST_F(ShellRefresh, NotificationActionsAreAnsweredOnceByTheirOwnRequest) {
    const std::string id = service.withAccount([](emulator::Account& a) {
        a.threads.front().read = false;
        return a.threads.front().id;
    });
    const std::string mark = "/voice/v1/voiceclient/thread/updateattributes";
    // Held replies wait only once they have arrived: a release must follow the arrival.
    auto marks = [&] {
        size_t n = 0;
        for (const auto& r : service.requests()) n += r.path == mark;
        return n;
    };
    app->account()->setOAuthDict(hxtest::bearerToken(service.issueAccessToken(), clock->wallNow() + 36000, "hint"));
    int first = 0;
    service.script(mark, {.hold = true, .passThrough = true}, 1);
    app->didReceiveNotificationResponse("com.hxconnect.markRead", Dictionary{{"id", id}}, std::nullopt,
                                        [&] { ++first; });
    ASSERT_TRUE(app->completionHandler());
    const std::string tag = app->completionHandlerTag();
    EXPECT_TRUE(app->requestInFlight(tag));
    // Another request fails, another one succeeds: neither is the mark.
    service.inject(emulator::Fault::Drop, "/voice/v1/voiceclient/threadinginfo/get");
    app->loadUnreadMessages();
    service.script("/voice/v1/voiceclient/api2thread/list", {.body = R"({"thread":[]})"});
    app->loadSpam();
    ASSERT_TRUE(runUntil([&] { return inFlight() == 1 && marks() == 1; }));
    EXPECT_EQ(first, 0);
    service.releaseHeld();
    ASSERT_TRUE(runUntil([&] { return first == 1 && inFlight() == 0; }));
    clock->runUntilIdle();
    EXPECT_EQ(first, 1);
    EXPECT_FALSE(app->completionHandler());
    EXPECT_TRUE(service.withAccount([&](emulator::Account& a) { return a.thread(id)->read; }));

    // A second action while one waits: the first is answered then, the second by its own end; a
    // request cancelled (as on entering the background) has ended too.
    int second = 0, third = 0;
    service.script(mark, {.hold = true}, 2);
    app->didReceiveNotificationResponse("com.hxconnect.composeReply",
                                        Dictionary{{"id", id}, {"phoneNumber", "+15550103000"}},
                                        std::string("on my way"), [&] { ++second; });
    EXPECT_EQ(second, 0);
    app->didReceiveNotificationResponse("com.hxconnect.markRead", Dictionary{{"id", "other"}}, std::nullopt,
                                        [&] { ++third; });
    EXPECT_EQ(second, 1);
    EXPECT_EQ(third, 0);
    app->cancelRequests(std::vector<std::string>{app->completionHandlerTag()});
    EXPECT_EQ(third, 1);
    ASSERT_TRUE(runUntil([&] { return marks() >= 2; }));  // the reply's mark waits at the service
    service.releaseHeld();
    ASSERT_TRUE(runUntil([&] { return inFlight() == 0; })) << [&] {
        std::string tags;
        for (const auto& t : HXWebClientOf(*app).requests.tags()) tags += " " + t;
        return tags;
    }();
    clock->runUntilIdle();
    EXPECT_EQ(second, 1);
    EXPECT_EQ(third, 1);
    EXPECT_TRUE(service.withAccount([](emulator::Account& a) {
        return std::any_of(a.sent.begin(), a.sent.end(), [](const auto& m) { return m.text == "on my way"; });
    }));
}

struct ShellFetch : ShellRefresh {
    std::shared_ptr<HXMessageListStandIn> history = std::make_shared<HXMessageListStandIn>();
    std::vector<int> answers;
    void SetUp() override {
        ShellRefresh::SetUp();
        app->shell().changeScript([this](HXShellRecorder::Script& s) { s.messageLists = {{3, history}}; });
    }
    void fetch() {
        app->applicationPerformFetchWithCompletionHandler([this](int result) { answers.push_back(result); });
    }
    bool answered() {
        return runUntil([&] { return !answers.empty() && inFlight() == 0; }, 30);
    }
    static std::string countsReply(int sms, int vm) {
        return R"({"info":{"viewInfo":[{"view":"textThreads","unreadThreadCount":)" + std::to_string(sms) +
               R"(},{"view":"voicemailAndRecordingThreads","unreadThreadCount":)" + std::to_string(vm) + "}]}}";
    }
};

TEST_F(ShellFetch, AnsweredExactlyOnceWithNewDataNoDataOrFailed) {
    struct Case {
        const char* name;
        bool cookies;
        std::string counts;
        emulator::ScriptedReply list;
        int parseResult;
        int expected;
        const char* badges;  // the counts set for views 1 and 2, if any
    } cases[] = {
        {"no cookies", false, countsReply(1, 0), {.body = "{}"}, 0, HXApplicationModel::BackgroundFetchNoData, ""},
        {"nothing unread",
         true,
         countsReply(0, 0),
         {.body = "{}"},
         0,
         HXApplicationModel::BackgroundFetchNoData,
         "0 0"},
        {"new messages",
         true,
         countsReply(2, 1),
         {.body = R"({"thread":[{"read":false,"item":[{"startTime":"9000000000"}]}]})"},
         HXApplicationModel::BackgroundFetchNewData,
         HXApplicationModel::BackgroundFetchNewData,
         "2 1"},
        // The list says the session is gone: the sign-in panel is asked for, and the fetch is
        // answered as failed instead of never.
        {"signed out",
         true,
         countsReply(0, 3),
         {.body = R"({"error":{"code":401}})"},
         0,
         HXApplicationModel::BackgroundFetchFailed,
         "0 3"},
        {"connection lost",
         true,
         countsReply(4, 0),
         {.body = "{\"thread\":[]}", .dropMidBody = true},
         0,
         HXApplicationModel::BackgroundFetchFailed,
         "4 0"},
    };
    // With a passcode every ending covers the app first.
    HXCPasscodeLock::sharedLock().setPasscodeRequired(true);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        answers.clear();
        app->shell().clear();
        if (!c.cookies) app->cookieJar()->set_cookies({});
        // Each scripted reply waits for its request: the list only when something is unread.
        if (c.cookies) service.script("/voice/v1/voiceclient/threadinginfo/get", {.body = c.counts});
        if (c.cookies && std::string(c.badges) != "0 0")
            service.script("/voice/v1/voiceclient/api2thread/list", c.list);
        history->fetchResult = c.parseResult;
        fetch();
        ASSERT_TRUE(answered());
        clock->advance(1);
        clock->runUntilIdle();
        EXPECT_EQ(answers, std::vector<int>{c.expected});
        std::string badges;
        for (const auto& call : app->shell().calls())
            if (call.starts_with("setUnreadCount "))
                badges += (badges.empty() ? "" : " ") + call.substr(15, call.find(' ', 15) - 15);
        EXPECT_EQ(badges, c.badges);
        // The lock covers the app before each answer.
        EXPECT_TRUE(app->lockShown);
        app->lockShown = false;
        if (!c.cookies) app->cookieJar()->set_cookies({net::Cookie{"SID", "s", "127.0.0.1"}});
    }
}

TEST_F(ShellRefresh, EnteringTheBackgroundKeepsOnlyMessageSends) {
    service.script("/voice/inbox/recent/all/", {.hold = true});
    service.script("/voice/sms/send/", {.hold = true});
    const std::string list = page() + "inbox/recent/all/";
    const std::string send = page() + "sms/send/k1";
    app->startAsyncLoadWithRequest(net::URLRequest(list), list);
    app->startAsyncLoadWithRequest(net::URLRequest(page() + "sms/send/"), send);
    ASSERT_EQ(inFlight(), 2u);
    HXWebClientOf(*app).firstReachabilityHandled = true;
    app->applicationDidEnterBackground();
    EXPECT_TRUE(app->isInBackground());
    EXPECT_FALSE(app->requestInFlight(list));
    EXPECT_TRUE(app->requestInFlight(send));
    EXPECT_FALSE(HXWebClientOf(*app).firstReachabilityHandled);
    EXPECT_EQ(services::BackgroundFetch::shared().minimumBackgroundFetchInterval(),
              services::kBackgroundFetchIntervalMinimum);
    service.releaseHeld();
}

TEST_F(ShellRefresh, ForegroundLoadsOnlyWithAUserNameThatIsSet) {
    struct Case {
        std::optional<std::string> storedUsername;
        size_t logins;
    } cases[] = {{std::nullopt, 1}, {"", 0}, {"alice@example.test", 0}};
    for (const auto& c : cases) {
        app->shell().clear();
        if (c.storedUsername)
            ASSERT_TRUE(prefs()->setObject(Value(*c.storedUsername), "username").ok());
        else
            prefs()->removeObjectForKey("username");
        app->applicationWillEnterForeground();
        EXPECT_FALSE(app->isInBackground());
        EXPECT_EQ(app->shell().count("displayLogin"), c.logins) << c.storedUsername.value_or("(missing)");
    }
}

TEST_F(ShellRefresh, LosingTheConnectionBeforeTheFirstReportWarnsOnceAfterASecond) {
    app->reachabilityChanged(0);
    app->reachabilityChanged(0);
    clock->advance(0.9);
    EXPECT_TRUE(app->shell().alerts().empty());
    clock->advance(0.2);
    ASSERT_EQ(app->shell().alerts().size(), 1u);
    EXPECT_NE(app->shell().alerts()[0].message.find("read-only access"), std::string::npos);
    // The connection came back within the second: no alert.
    ASSERT_TRUE(app->shell().tap("Dismiss"));
    app->reachabilityChanged(0);
    clock->advance(0.5);
    app->setConnectionAvailable(true);
    clock->advance(1);
    EXPECT_EQ(app->shell().alerts().size(), 1u);
    // The first reachable report with a session loads the data and starts the refresh.
    app->reachabilityChanged(1);
    EXPECT_TRUE(HXWebClientOf(*app).firstReachabilityHandled);
    clock->runUntilIdle();
    EXPECT_EQ(app->shell().count("queueRefresh"), 1u);
    EXPECT_EQ(app->shell().count("sendQueuedSMS"), 1u);
}

// Entry points on the phone form, after the first reachability report.
// The dial pad as the shell drives it, telling what it is asked.
struct FakeDialPad : toolkit::ViewController, HXDialPadScreen {
    std::vector<std::string>* log = nullptr;
    void showDialedNumber(const std::string& n) override { log->push_back("dialPadNumber " + n); }
    void updateContactLabelForNumber(const std::string& n) override { log->push_back("updateContactLabel " + n); }
    void setCallButtonState() override { log->push_back("setCallButtonState"); }
    void startUpdates() override { log->push_back("startUpdates"); }
    void openFavorites() override { log->push_back("openFavorites"); }
    void proposeCallMethod(int64_t id) override { log->push_back("proposeCallMethod " + std::to_string(id)); }
};

// A conversation screen that tells what it was made for and which message it was asked to show.
struct FakeConversation : HXConversationScreen {
    using HXConversationScreen::HXConversationScreen;
    std::vector<std::string>* log = nullptr;
    void scrollToMessage(long number) override { log->push_back("scrollToMessage " + std::to_string(number)); }
};

struct FakeDialPadScreens : HXScreens {
    std::vector<std::string> log;
    std::shared_ptr<toolkit::ViewController> makeRootScreen(int index, const HXScreenRoles&) override {
        if (index != 0) return nullptr;
        auto pad = std::make_shared<FakeDialPad>();
        pad->log = &log;
        return pad;
    }
    std::shared_ptr<HXConversationScreen> makeConversationScreen(const HXScreenRoles&,
                                                                 const HXConversationSetup& setup) override {
        log.push_back("makeConversationScreen " + setup.conversationID + "|" + setup.title + "|" +
                      std::to_string(setup.conversationType));
        auto screen = std::make_shared<FakeConversation>(setup);
        screen->log = &log;
        return screen;
    }
};

struct ShellEntry : Shell {
    ShellEntry() : ShellEntry(std::make_shared<FakeDialPadScreens>()) {}
    explicit ShellEntry(std::shared_ptr<FakeDialPadScreens> screens)
        : Shell({.screens = screens}), padScreens(std::move(screens)) {}
    void SetUp() override {
        Shell::SetUp();
        storeAccounts({"alice@example.test", "bob@example.test"});
        launch();
        HXWebClientOf(*app).firstReachabilityHandled = true;
        app->shell().clear();
        padScreens->log.clear();
        // A call placed for an account without a session ends at once with the call key's update.
        foundation::NotificationCenter::defaultCenter().addObserver(
            this, "kCallButtonUpdateNotification", [this](const foundation::Notification&) { ++callsPlaced; });
        foundation::NotificationCenter::defaultCenter().addObserver(
            this, "kFocusSMSReplyFieldNotification",
            [this](const foundation::Notification& n) { focused.push_back(n.userInfo); });
    }
    std::vector<std::string> asked(std::string_view prefix) {
        std::vector<std::string> out;
        for (const auto& c : app->shell().calls())
            if (c.starts_with(prefix)) out.push_back(c);
        for (const auto& c : padScreens->log)
            if (c.starts_with(prefix)) out.push_back(c);
        return out;
    }
    // A conversation in the store of the current account, with messages numbered from 0.
    void storeConversation(const std::string& id, int64_t type = 10, const std::string& sender = "+15550188",
                           const std::string& abName = "", int messages = 1) {
        auto context = app->managedObjectContext();
        ASSERT_TRUE(context);
        auto c = context->insertNewObject(HXMessageStore::kConversationEntity).value();
        (void)c->setValue("conversationID", id);
        (void)c->setValue("type", type);
        (void)c->setValue("phoneNumber", "+15550188");
        (void)c->setValue("sender", sender);
        if (!abName.empty()) (void)c->setValue("ABName", abName);
        for (int i = 0; i < messages; ++i) {
            auto m = context->insertNewObject(HXMessageStore::kMessageEntity).value();
            (void)m->setValue("id", id + "-" + std::to_string(i));
            (void)m->setValue("number", int64_t{i});
            (void)m->setObject("Conversation", c);
        }
        ASSERT_TRUE(context->save().ok());
    }
    // The reply texts the shell handed the open conversation (none: no user information).
    std::vector<std::string> focusedReplies() {
        std::vector<std::string> out;
        for (const auto& info : focused) out.push_back(info.get("messageText").stringValue());
        return out;
    }
    std::shared_ptr<FakeDialPadScreens> padScreens;
    int callsPlaced = 0;
    std::vector<Dictionary> focused;
};

TEST_F(ShellEntry, URLHostsRouteToTheirViews) {
    struct Case {
        const char* url;
        bool answer;
        int view;  // -1: unchanged
    } cases[] = {
        {"hxconnect://vm", true, 2},
        {"hxconnect://history", true, 3},
        {"hxconnect://settings", true, 4},
        {"hxconnect://sms", true, 1},
        {"hxconnect://call?number=FAVORITES", true, 0},
        {"hxconnect://VM", false, -1},
        {"hxconnect://elsewhere", false, -1},
        {"hxconnect:", false, -1},
        {"hxconnect://quicksetting?", false, -1},
    };
    for (const auto& c : cases) {
        app->selectViewForIndex(3 == c.view ? 4 : 3);
        const int before = app->currentViewIndex();
        EXPECT_EQ(app->applicationOpenURL(c.url), c.answer) << c.url;
        EXPECT_EQ(app->currentViewIndex(), c.view < 0 ? before : c.view) << c.url;
    }
    EXPECT_EQ(asked("openFavorites").size(), 1u);
    EXPECT_TRUE(asked("dialPadNumber").empty());  // "FAVORITES" is never formatted or dialled
    // The quick setting named by the decoded query is applied (here: message sounds on).
    HX_QuickSetting sounds;
    sounds.setMessageSounds(2);
    app->account()->quickSettings()["Office Hours"] = sounds.archived().value();
    app->setNewMessageAlert(false);
    EXPECT_TRUE(app->applicationOpenURL("hxconnect://quicksetting?Office"));
    EXPECT_FALSE(app->newMessageAlert()) << "no such quick setting";
    EXPECT_TRUE(app->applicationOpenURL("hxconnect://quicksetting?Office%20Hours"));
    EXPECT_TRUE(app->newMessageAlert());
}

TEST_F(ShellEntry, SMSURLNumbers) {
    std::string many;
    for (int i = 1; i <= 25; ++i) many += (i > 1 ? "," : "") + std::to_string(5550100 + i);
    std::string first20;
    for (int i = 1; i <= 20; ++i) first20 += (i > 1 ? ";" : "") + std::to_string(5550100 + i);
    struct Case {
        std::string url;
        std::string asked;
    } cases[] = {
        // The new-message screen gets the numbers as separate recipients.
        {"hxconnect://sms?5551234,5556789", "presentNewMessage 5551234;5556789||"},
        {"hxconnect://sms?number=" + many, "presentNewMessage " + first20 + "||"},
        {"hxconnect://sms?number=1800FLOWERS&message=hi%2520there&conversationID=c7",
         "presentNewMessage 18003569377|hi there|c7"},
        {"hxconnect://sms?message=only", "presentNewMessage |only|"},
    };
    for (const auto& c : cases) {
        app->shell().clear();
        EXPECT_TRUE(app->applicationOpenURL(c.url));
        EXPECT_EQ(asked("presentNewMessage"), std::vector<std::string>{c.asked}) << c.url;
        EXPECT_EQ(app->currentViewIndex(), 1);
    }
}

TEST_F(ShellEntry, PendingURLsWhileTheAppCannotAct) {
    // Before the first reachability report every URL waits, the latest one winning.
    HXWebClientOf(*app).firstReachabilityHandled = false;
    EXPECT_TRUE(app->applicationOpenURL("hxconnect://nowhere"));
    EXPECT_TRUE(app->applicationOpenURL("hxconnect://vm"));
    EXPECT_EQ(app->pendingURL(), "hxconnect://vm");
    HXWebClientOf(*app).firstReachabilityHandled = true;
    app->reprocessURL();
    EXPECT_EQ(app->currentViewIndex(), 2);
    EXPECT_FALSE(app->pendingURL());

    // With the lock up: the first "sms" stays pending, the second is dropped...
    app->lockShown = true;
    EXPECT_TRUE(app->applicationOpenURL("hxconnect://sms?111"));
    EXPECT_TRUE(app->applicationOpenURL("hxconnect://sms?222"));
    EXPECT_EQ(app->pendingURL(), "hxconnect://sms?111");
    // ...while a "reply" replaces what is pending.
    EXPECT_FALSE(app->applicationOpenURL("hxconnect://reply?conversationID=a"));
    EXPECT_FALSE(app->applicationOpenURL("hxconnect://reply?conversationID=b"));
    EXPECT_EQ(app->pendingURL(), "hxconnect://reply?conversationID=b");
    EXPECT_TRUE(asked("presentNewMessage").empty());
    storeConversation("a");
    storeConversation("b");
    app->lockShown = false;
    app->reprocessURL();
    EXPECT_EQ(asked("makeConversationScreen"), std::vector<std::string>{"makeConversationScreen b||1"});
    harness.advance(0.31);
    ASSERT_EQ(focused.size(), 1u) << "a reply without a message number focuses the field";
    EXPECT_TRUE(focused[0].empty()) << "and hands it no text";
}

// The app can act only with a window and without the lock: a "call" waits behind the lock on the
// view it was on, and without a window on the dial pad's view; the first one waiting is kept. An
// activity switches accounts only when the app can act; the URL it leaves carries the account.
TEST_F(ShellEntry, EntryPointsWaitWithoutAWindowOrBehindTheLock) {
    const std::string call = "hxconnect://call?number=5551234567";
    app->selectViewForIndex(3);
    app->lockShown = true;
    EXPECT_TRUE(app->applicationOpenURL(call));
    EXPECT_TRUE(app->applicationOpenURL("hxconnect://call?number=5559999999"));
    EXPECT_EQ(app->currentViewIndex(), 3);
    EXPECT_EQ(app->pendingURL(), call);
    EXPECT_TRUE(app->continueUserActivity("com.hxconnect.activity_sms",
                                          Dictionary{{"number", "5550103000"}, {"account", "bob@example.test"}}));
    EXPECT_EQ(app->account()->username(), "alice@example.test");
    EXPECT_EQ(app->pendingURL(), "hxconnect://sms?number=5550103000&message=&conversationID=&account=bob@example.test");
    app->lockShown = false;

    app->setWindow(nullptr);
    app->reprocessURL();
    EXPECT_EQ(app->account()->username(), "bob@example.test");  // the URL's account, switched to
    EXPECT_TRUE(asked("presentNewMessage").empty());
    EXPECT_TRUE(app->pendingURL().has_value());
    HXWebClientOf(*app).firstReachabilityHandled = true;  // the new account's first report
    EXPECT_TRUE(app->applicationOpenURL(call));
    EXPECT_EQ(app->currentViewIndex(), 0);
    EXPECT_TRUE(asked("dialPadNumber").empty());

    app->setWindow(&harness.window());
    app->reprocessURL();
    EXPECT_EQ(asked("presentNewMessage"), std::vector<std::string>{"presentNewMessage 5550103000||"});
    EXPECT_FALSE(app->pendingURL());
    EXPECT_TRUE(app->applicationOpenURL(call));
    EXPECT_EQ(asked("dialPadNumber").size(), 1u);
}

TEST_F(ShellEntry, ReplyFocusesTheFieldOrScrollsToTheMessage) {
    storeConversation("c1", 10, "+15550188", "", 5);
    EXPECT_FALSE(app->applicationOpenURL("hxconnect://reply?conversationID=c1&messageNum=3"));
    EXPECT_FALSE(app->focusReply());
    harness.advance(0.49);
    EXPECT_TRUE(asked("scrollToMessage").empty());
    harness.advance(0.02);
    EXPECT_EQ(asked("scrollToMessage"), std::vector<std::string>{"scrollToMessage 3"});
    harness.advance(1);
    EXPECT_TRUE(focused.empty());
    EXPECT_FALSE(app->applicationOpenURL("hxconnect://reply?conversationID=c1&messageText=see%20you"));
    EXPECT_TRUE(app->focusReply());
    harness.advance(0.29);
    EXPECT_TRUE(focused.empty());
    harness.advance(0.02);
    ASSERT_EQ(focused.size(), 1u);
    EXPECT_EQ(focused[0].get("messageText").stringValue(), "see you");
    EXPECT_FALSE(app->focusReply());
}

// A conversation opens on the view of its kind with the title its names give, above the list at
// that view's root (what was pushed there before goes); a search
// result's message is shown only when the conversation holds it; an id the store does not hold
// opens nothing.
TEST_F(ShellEntry, AConversationOpensOnTheViewOfItsKindWithItsTitle) {
    struct Case {
        int64_t type;
        std::string sender, abName;
        int view;
        std::string title;
    } cases[] = {
        {10, "+15550188", "", 1, ""},
        {11, "Ann Smith", "", 1, "Ann Smith"},
        {2, "+15550188", "Ann\u00A0(mobile)", 2, "Ann"},
        {0, "Group Message", "Ann", 3, "Group Message"},
        {4, "(555) 018-8#", "", 3, ""},
        {12, "+1 555", "Bo (work)\u00A0(home)", 3, "Bo (work)"},
        {11, "+15550188", "Cy\u00A0(mobile)", 1, "Cy"},
    };
    int n = 0;
    for (const auto& c : cases) {
        const std::string id = "k" + std::to_string(n++);
        SCOPED_TRACE(id);
        storeConversation(id, c.type, c.sender, c.abName);
        padScreens->log.clear();
        app->selectViewForIndex(4);
        EXPECT_FALSE(app->applicationOpenURL("hxconnect://reply?conversationID=" + id + "&messageNum=0"));
        EXPECT_EQ(app->currentViewIndex(), c.view);
        EXPECT_EQ(asked("makeConversationScreen"), std::vector<std::string>{"makeConversationScreen " + id + "|" +
                                                                            c.title + "|" + std::to_string(c.view)});
        auto* nav = app->viewControllerForIndex(c.view)->navigationController();
        ASSERT_NE(nav, nullptr);
        auto* top = dynamic_cast<FakeConversation*>(nav->topViewController());
        ASSERT_NE(top, nullptr);
        EXPECT_EQ(top->setup().conversationID, id);
        EXPECT_TRUE(top->hidesBottomBarWhenPushed);
        EXPECT_EQ(nav->viewControllers().size(), 2u) << "the list's stack starts at its root";
        harness.advance(0.51);
        EXPECT_EQ(asked("scrollToMessage"), std::vector<std::string>{"scrollToMessage 0"});
    }

    // Message numbers the conversation does not hold scroll nowhere.
    storeConversation("five", 10, "+15550188", "", 5);
    for (const std::string query : {"messageNum=5", "messageNum=-2"}) {
        padScreens->log.clear();
        EXPECT_FALSE(app->applicationOpenURL("hxconnect://reply?conversationID=five&" + query));
        harness.advance(1);
        EXPECT_EQ(asked("makeConversationScreen").size(), 1u) << query;
        EXPECT_TRUE(asked("scrollToMessage").empty()) << query;
    }
    padScreens->log.clear();
    EXPECT_FALSE(app->applicationOpenURL("hxconnect://reply?conversationID=five&messageNum=4"));
    harness.advance(1);
    EXPECT_EQ(asked("scrollToMessage"), std::vector<std::string>{"scrollToMessage 4"});

    padScreens->log.clear();
    focused.clear();
    const auto before = app->viewControllerForIndex(1)->navigationController()->viewControllers().size();
    EXPECT_FALSE(app->applicationOpenURL("hxconnect://reply?conversationID=nowhere&messageText=hi"));
    harness.advance(1);
    EXPECT_TRUE(asked("makeConversationScreen").empty());
    EXPECT_TRUE(focused.empty());
    EXPECT_EQ(app->viewControllerForIndex(1)->navigationController()->viewControllers().size(), before);
}

TEST_F(ShellEntry, CallMethodsAndTheDialPad) {
    // Numbers are formatted through the application's shared formatter.
    HX_ConnectAppDelegate::setSharedDelegate(app);
    auto phone = std::make_shared<HX_Phone>();
    phone->setName("Work");
    phone->setNumber("+15550001111");
    app->account()->phones()[7] = phone;
    // The method a URL names is shown on the pad as chosen (0: none); from outside the app, no
    // call is placed and the account's method stays until the user presses Call.
    struct Case {
        const char* url;
        bool isPhone;
        int64_t forwarding;
    } cases[] = {
        {"hxconnect://call?number=5551234567&callmethod=Work", false, 7},
        {"hxconnect://call?number=5551234567&callmethod=DirectCall", false, 0},
        {"hxconnect://call?number=5551234567&callmethod=DirectCall", true, -1},
        {"hxconnect://call?number=5551234567&callmethod=iPhoneDialer", true, -2},
        {"hxconnect://call?number=5551234567&callmethod=Pigeon", true, 0},
        {"hxconnect://call?5551234567", true, 0},
    };
    for (const auto& c : cases) {
        app->shell().clear();
        padScreens->log.clear();
        callsPlaced = 0;
        // The token request a call of the case before left in flight (cancelled, so that its
        // connection ends with it).
        app->cancelRequests(std::vector<std::string>{"OAuth_listSessions"});
        app->account()->setForwardingPhoneID(0);
        app->setIsPhone(c.isPhone);
        app->selectViewForIndex(4);
        EXPECT_TRUE(app->applicationOpenURL(c.url));
        // A direct call asks for its token at once, before the call is placed (offline here, so
        // the request is refused with the no-connection alert).
        EXPECT_EQ(asked("alertNoConnection").size(), c.forwarding == -1 ? 1u : 0u) << c.url;
        harness.advance(0.1);
        EXPECT_EQ(app->currentViewIndex(), 0) << c.url;
        EXPECT_EQ(app->account()->forwardingPhoneID(), 0) << c.url;
        EXPECT_EQ(asked("proposeCallMethod"),
                  c.forwarding ? std::vector<std::string>{"proposeCallMethod " + std::to_string(c.forwarding)}
                               : std::vector<std::string>{})
            << c.url;
        EXPECT_EQ(asked("dialPadNumber"), std::vector<std::string>{"dialPadNumber (555) 123-4567"}) << c.url;
        EXPECT_EQ(callsPlaced, 0) << c.url;
        // The pad was filled, refreshed and asked to name the number.
        EXPECT_EQ(asked("updateContactLabel"), std::vector<std::string>{"updateContactLabel (555) 123-4567"}) << c.url;
        EXPECT_EQ(asked("setCallButtonState").size(), 1u) << c.url;
        EXPECT_EQ(asked("startUpdates").size(), 1u) << c.url;
    }
    HX_ConnectAppDelegate::setSharedDelegate(nullptr);
}

// The index can hold items of messages the store never got (a run killed after handing a save's
// items over and before its write): a hit on one opens what the store holds of it and withdraws
// the item; a hit on a stored message keeps its item.
TEST_F(ShellEntry, ASearchHitNamingNoStoredMessageIsWithdrawn) {
    auto index = services::SearchableIndex::defaultSearchableIndex();
    index->deleteAllSearchableItems();
    const std::string user = foundation::queryItemEncoded(app->account()->username());
    storeConversation("held", 10, "+15550188", "", 3);
    const std::vector<std::string> ids{"held.2." + user, "held.7." + user, "gone.2." + user};
    std::vector<services::SearchableItem> items;
    for (const auto& id : ids) items.push_back({id, "d", {services::kContentTypeMessage, "", "SMS", "jam", false}});
    index->indexSearchableItems(items);
    const std::vector<std::string> opens{"makeConversationScreen held||1", "makeConversationScreen held||1", ""};
    for (size_t i = 0; i < ids.size(); ++i) {
        SCOPED_TRACE(ids[i]);
        padScreens->log.clear();
        EXPECT_TRUE(app->continueUserActivity(services::kSearchableItemActionType,
                                              Dictionary{{services::kSearchableItemActivityIdentifier, ids[i]}}));
        harness.advance(1);
        const auto made = asked("makeConversationScreen");
        EXPECT_EQ(made.empty() ? "" : made.front(), opens[i]);
        // The stored message's place among the conversation's; a number it lacks scrolls nowhere.
        EXPECT_EQ(asked("scrollToMessage"),
                  i == 0 ? std::vector<std::string>{"scrollToMessage 2"} : std::vector<std::string>{});
        std::vector<std::string> left;
        for (const auto& item : index->search("jam", 10)) left.push_back(item.uniqueIdentifier);
        EXPECT_EQ(std::count(left.begin(), left.end(), ids[i]), i == 0 ? 1 : 0);
    }
    index->deleteAllSearchableItems();
}

TEST_F(ShellEntry, ShortcutsAndUserActivities) {
    app->selectViewForIndex(4);
    EXPECT_TRUE(app->performActionForShortcutItem("com.hxconnect.shortcut_call"));
    EXPECT_EQ(app->currentViewIndex(), 0);
    EXPECT_TRUE(app->performActionForShortcutItem("com.hxconnect.shortcut_sms"));
    EXPECT_EQ(asked("presentNewMessage"), std::vector<std::string>{"presentNewMessage ||"});
    EXPECT_FALSE(app->performActionForShortcutItem("com.hxconnect.other"));
    app->lockShown = true;
    EXPECT_TRUE(app->performActionForShortcutItem("com.hxconnect.shortcut_sms"));
    EXPECT_EQ(app->pendingURL(), "hxconnect://sms?number=");

    // Activities that cannot run now become URLs that carry everything, the account included.
    EXPECT_TRUE(app->continueUserActivity(
        "com.hxconnect.activity_sms", Dictionary{{"number", "555 1234"}, {"messageText", "a&b"}, {"account", "bob"}}));
    EXPECT_EQ(app->pendingURL(), "hxconnect://sms?number=555%25201234&message=a%252526b&conversationID=&account=bob");
    EXPECT_TRUE(app->continueUserActivity(
        services::kSearchableItemActionType,
        Dictionary{{services::kSearchableItemActivityIdentifier, "c9.4.bob%40example.test"}}));
    EXPECT_EQ(app->pendingURL(), "hxconnect://reply?conversationID=c9&messageNum=4&account=bob@example.test");
    // An id with dots of its own stays whole: the number is the first integer part after it.
    EXPECT_TRUE(app->continueUserActivity(
        services::kSearchableItemActionType,
        Dictionary{{services::kSearchableItemActivityIdentifier, "t.+15550100.1700000060000.bob%40example.test"}}));
    EXPECT_EQ(app->pendingURL(),
              "hxconnect://reply?conversationID=t.%252B15550100&messageNum=1700000060000&account=bob@example.test");
    app->lockShown = false;

    // A search result switches to its account, even the current one, and opens the message.
    app->shell().clear();
    // The result's account keeps its store across the switch.
    app->logout();
    app->selectAccountForUserName("bob@example.test");
    harness.settle();
    storeConversation("c9", 4, "+15550188", "Ann\u00A0(mobile)", 6);
    padScreens->log.clear();
    EXPECT_TRUE(app->continueUserActivity(
        services::kSearchableItemActionType,
        Dictionary{{services::kSearchableItemActivityIdentifier, "c9.4.bob%40example.test"}}));
    EXPECT_EQ(app->account()->username(), "bob@example.test");
    EXPECT_EQ(asked("makeConversationScreen"), std::vector<std::string>{"makeConversationScreen c9|Ann|3"});
    harness.advance(0.51);
    EXPECT_EQ(asked("scrollToMessage"), std::vector<std::string>{"scrollToMessage 4"});
    EXPECT_TRUE(focused.empty());
    EXPECT_FALSE(app->continueUserActivity(services::kSearchableItemActionType,
                                           Dictionary{{services::kSearchableItemActivityIdentifier, "c9.4"}}));
    EXPECT_FALSE(app->continueUserActivity("com.hxconnect.activity_other", {}));
}

// Texts that hold the query's own separators survive the trip through the pending URL.
TEST_F(ShellEntry, PendingActivitiesKeepTheirTextsWhole) {
    app->lockShown = true;
    EXPECT_TRUE(app->continueUserActivity(
        "com.hxconnect.activity_sms", Dictionary{{"number", "5550103000"}, {"messageText", "Tom & Jerry = 2+2 #1"}}));
    app->lockShown = false;
    app->reprocessURL();
    EXPECT_EQ(asked("presentNewMessage"),
              std::vector<std::string>{"presentNewMessage 5550103000|Tom & Jerry = 2+2 #1|"});
    // Texts (and ids) that hold escapes of their own come back as typed, not decoded again.
    for (const std::string text : {"100%41 off", "a%2Bb", "x%25y", "50% off"}) {
        app->shell().clear();
        app->lockShown = true;
        EXPECT_TRUE(app->continueUserActivity(
            "com.hxconnect.activity_sms",
            Dictionary{{"number", "5550103000"}, {"messageText", text}, {"conversationID", "c" + text}}));
        app->lockShown = false;
        app->reprocessURL();
        EXPECT_EQ(asked("presentNewMessage"),
                  std::vector<std::string>{"presentNewMessage 5550103000|" + text + "|c" + text});
        app->lockShown = true;
        EXPECT_TRUE(app->continueUserActivity("com.hxconnect.activity_reply",
                                              Dictionary{{"conversationID", "c" + text}, {"messageText", text}}));
        storeConversation("c" + text);
        focused.clear();
        padScreens->log.clear();
        app->lockShown = false;
        app->reprocessURL();
        EXPECT_EQ(asked("makeConversationScreen"), std::vector<std::string>{"makeConversationScreen c" + text + "||1"});
        harness.advance(0.31);
        EXPECT_EQ(focusedReplies(), std::vector<std::string>{text});
    }
    app->shell().clear();
    app->lockShown = true;
    EXPECT_TRUE(app->continueUserActivity("com.hxconnect.activity_reply",
                                          Dictionary{{"conversationID", "c&d=e"}, {"messageText", "a=b&c=d"}}));
    storeConversation("c&d=e");
    focused.clear();
    padScreens->log.clear();
    app->lockShown = false;
    app->reprocessURL();
    EXPECT_EQ(asked("makeConversationScreen"), std::vector<std::string>{"makeConversationScreen c&d=e||1"});
    harness.advance(0.31);
    EXPECT_EQ(focusedReplies(), std::vector<std::string>{"a=b&c=d"});
}

TEST_F(ShellEntry, NotificationResponsesWithoutARequestAreAnsweredAtOnce) {
    int completed = 0;
    auto done = [&] { ++completed; };
    app->didReceiveNotificationResponse(services::kNotificationDismissActionIdentifier, Dictionary{{"id", "c1"}},
                                        std::nullopt, done);
    EXPECT_EQ(completed, 1);
    EXPECT_TRUE(app->shell().calls().empty());
    app->didReceiveNotificationResponse(services::kNotificationDefaultActionIdentifier,
                                        Dictionary{{"quicksetting", "Office"}}, std::nullopt, done);
    EXPECT_EQ(app->currentViewIndex(), 4);
    EXPECT_EQ(completed, 2);
    // No text typed, and no session to mark anything with: nothing to wait for.
    app->didReceiveNotificationResponse("com.hxconnect.composeReply", Dictionary{{"id", "c1"}}, std::nullopt, done);
    EXPECT_EQ(completed, 3);
    app->didReceiveNotificationResponse("com.hxconnect.markRead", Dictionary{{"id", "c1"}}, std::nullopt, done);
    EXPECT_EQ(completed, 4);
    EXPECT_FALSE(app->completionHandler());
}

TEST_F(Shell, ReTappingARootTabWithTwoAccountsOpensTheAccountList) {
    struct Case {
        std::vector<std::string> accounts;
        bool pushed;
        bool opens;
    } cases[] = {
        {{"a@x.test", "b@x.test"}, false, true}, {{"a@x.test", "b@x.test"}, true, false}, {{"a@x.test"}, false, false}};
    // The account list as the screen library makes it.
    struct AccountListScreens : HXScreens {
        std::shared_ptr<toolkit::ViewController> makeAccountList(const HXScreenRoles&) override {
            return std::make_shared<HXPlaceholderScreen>("VC_Accounts");
        }
    };
    auto listShown = [](toolkit::TabBarController& tabs) {
        auto* nav = dynamic_cast<toolkit::NavigationController*>(tabs.presentedViewController());
        return nav && nav->topViewController() && nav->topViewController()->className() == "VC_Accounts";
    };
    for (const auto& c : cases) {
        storeAccounts(c.accounts);
        auto form = std::make_shared<hxtest::RecordedApp<HX_ConnectAppDelegate_iPhone>>();
        form->setScreens(std::make_shared<AccountListScreens>());
        form->setWindow(&harness.window());
        ASSERT_TRUE(form->applicationDidFinishLaunchingWithOptions());
        form->selectViewForIndex(1);
        harness.settle();
        auto* nav = dynamic_cast<toolkit::NavigationController*>(form->tabBarController()->viewControllers()[1].get());
        ASSERT_TRUE(nav);
        if (c.pushed) nav->pushViewController(std::make_shared<toolkit::ViewController>(), false);
        form->tabBarController()->userSelect(1);
        harness.settle();
        EXPECT_EQ(listShown(*form->tabBarController()), c.opens) << c.accounts.size() << c.pushed;
        EXPECT_EQ(form->shell().count("updateAccountPrefs"), c.opens ? 1u : 0u);
        if (auto* shown = form->tabBarController()->presentedViewController()) shown->dismiss(false);
        harness.settle();
        // Selecting another tab never opens it.
        form->tabBarController()->userSelect(0);
        harness.settle();
        EXPECT_FALSE(listShown(*form->tabBarController()));
        form->cancelRequests([](const std::string&) { return true; });
    }
}

TEST_F(Shell, TheSettingsTabShowsTheOverlayUntilTheServiceNumberIsKnown) {
    storeAccounts({"a@x.test"});
    launch();
    app->shell().clear();
    app->selectViewForIndex(4);
    harness.settle();
    // Without a service number the settings tab shows the progress overlay while it loads.
    app->tabBarController()->userSelect(3);
    app->tabBarController()->userSelect(4);
    EXPECT_EQ(app->shell().count("showLoadingOverlay Loading settings\u2026"), 1u);
    app->account()->setHXnumber(std::string("+15550100"));
    app->tabBarController()->userSelect(3);
    app->tabBarController()->userSelect(4);
    EXPECT_EQ(app->shell().count("showLoadingOverlay"), 1u);
}

TEST_F(Shell, CrashPromptAsksAndAlwaysSendIsRemembered) {
    launch();
    auto handler = ZIVOCrashes::userConfirmationHandler();
    ASSERT_TRUE(handler);
    EXPECT_TRUE(handler({}));
    harness.settle();
    auto* alert = harness.visibleAlert();
    ASSERT_TRUE(alert);
    const std::string name = foundation::Bundle::main().displayName();
    ASSERT_FALSE(name.empty());  // the bundle has no display name key: its name stands in
    EXPECT_EQ(alert->alertTitle(), name + "\nQuit Unexpectedly");
    std::vector<std::pair<std::string, toolkit::AlertActionStyle>> buttons;
    for (const auto& action : alert->actions()) buttons.emplace_back(action->title(), action->style());
    const std::vector<std::pair<std::string, toolkit::AlertActionStyle>> expected{
        {"Don't Send", toolkit::AlertActionStyle::Cancel},
        {"Send", toolkit::AlertActionStyle::Default},
        {"Always Send", toolkit::AlertActionStyle::Default}};
    EXPECT_EQ(buttons, expected);
    EXPECT_FALSE(ZIVOCrashes::sharedInstance()->shouldAlwaysSend());
    EXPECT_TRUE(harness.tapAlertAction("Always Send"));
    EXPECT_TRUE(ZIVOCrashes::sharedInstance()->shouldAlwaysSend());
    ZIVOCrashes::resetSharedInstance();
}

TEST_F(Shell, AppInfoAttachmentDescribesTheAccount) {
    storeAccounts({"a@x.test", "b@x.test"});
    launch();
    app->account()->setAuthV2(std::string("12345"));
    app->account()->phones()[1] = std::make_shared<HX_Phone>();
    app->account()->quickSettings()["Office"] = foundation::Data{1};
    const std::string text = app->appInfoText();
    auto lines = foundation::split(text, "\n");
    ASSERT_EQ(lines.size(), 8u) << text;
    EXPECT_TRUE(lines[0].starts_with("CNContactStore authorizationStatus: "));
    EXPECT_TRUE(lines[1].starts_with("cachedContacts: "));
    EXPECT_TRUE(lines[2].starts_with("allContacts: "));
    EXPECT_EQ(lines[3], "2 Account(s)");
    EXPECT_EQ(lines[4], "1 Linked Numbers");
    EXPECT_EQ(lines[5], "AuthV2: 5 chars");
    EXPECT_EQ(lines[6], "1 Quick Settings");
    EXPECT_EQ(lines[7], app->versionString());
    app->waitForContactsLoad(10);
}

// The crash service asks for the attachment on its own queue: the text is made on the main thread,
// so it waits for the main thread's next turn and sees the account as the main thread left it.
TEST_F(Shell, AppInfoAttachmentIsMadeOnTheMainThread) {
    storeAccounts({"a@x.test"});
    launch();
    app->account()->setAuthV2(std::string("123"));
    harness.clock().runUntilIdle();
    std::atomic<bool> done{false};
    std::string text;
    std::thread sdk([&] {
        text = app->appInfoText();
        done = true;
    });
    // The main thread has work from the asking thread before it changes anything.
    bool asked = false;
    for (int spins = 0; spins < 2'000'000 && !asked && !done; ++spins) {
        asked = dispatch::detail::mainHasReadyWork();
        if (!asked) std::this_thread::yield();
    }
    EXPECT_TRUE(asked) << "the text was made off the main thread";
    app->account()->setAuthV2(std::string("1234567"));
    // The asking thread finishes on its own after the main thread answered it, so wait for it in
    // real time (bounded) while the main thread keeps serving.
    auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done && std::chrono::steady_clock::now() < giveUp) {
        harness.clock().runUntilIdle();
        std::this_thread::yield();
    }
    EXPECT_TRUE(done.load());
    sdk.join();
    EXPECT_NE(text.find("AuthV2: 7 chars"), std::string::npos) << text;
    app->waitForContactsLoad(10);
}

// A memory warning lets go of the contacts read from the cache file: the next use reads it again.
TEST_F(Shell, AMemoryWarningDropsTheCachedContacts) {
    launch();
    // The launch read the cache file (there is none yet) and loaded the contacts; a memory warning
    // lets the file be read again.
    ASSERT_TRUE(app->waitForContactsLoad(10));
    app->applicationDidReceiveMemoryWarning();
    auto writeCache = [](const std::vector<std::string>& numbers) {
        foundation::Array list;
        for (const auto& n : numbers) list.emplace_back(Dictionary{{"number", Value(n)}, {"recordID", Value("r" + n)}});
        (void)foundation::files::createDirectory(foundation::cachesDirectory());
        ASSERT_TRUE(
            foundation::writePropertyListFile(Value(list), foundation::cachesDirectory() / "contactsCache").ok());
    };
    writeCache({"+15550100"});
    EXPECT_EQ(app->cachedContacts().size(), 1u);
    writeCache({"+15550100", "+15550101"});
    EXPECT_EQ(app->cachedContacts().size(), 1u);  // read once
    app->applicationDidReceiveMemoryWarning();
    EXPECT_EQ(app->cachedContacts().size(), 2u);
}

TEST(AppProgram, HeadlessRunWritesASnapshotAndAnOutlineOfEachView) {
    if (!std::filesystem::exists(hxtest::connectProgram())) GTEST_SKIP() << "hx_connect is not built";
    emulator::Emulator service;
    ASSERT_TRUE(service.start().ok());
    emulator::IngestionService ingestion;
    hxtest::TempDir home, out;
    std::string printed;
    const int rc =
        hxtest::runHeadless(home.path(), "--service " + service.origin() + " --ingestion " + ingestion.baseURL(),
                            out.path(), &printed, /*outputOnly=*/true);
    ASSERT_EQ(rc, 0) << printed;
    EXPECT_EQ(printed, out.path().string() + "\n");
    // The program started the telemetry SDK and its crash reporter, both inside the app's home.
    EXPECT_TRUE(std::filesystem::exists(home / "Library/Application Support/com.dorazadav.ruridurev/Logs.sqlite"));
    EXPECT_TRUE(std::filesystem::is_directory(home / "Library/Caches/com.zivo.crashreporter.data"));
    const char* names[] = {"0-call", "1-sms", "2-voicemail", "3-history", "4-settings"};
    const char* titles[] = {"Call", "SMS", "Voicemail", "History", "Settings"};
    for (int i = 0; i < 5; ++i) {
        std::ifstream outline(out / (std::string(names[i]) + ".txt"));
        std::string text((std::istreambuf_iterator<char>(outline)), std::istreambuf_iterator<char>());
        // The view's tab is the selected one (a list's tab may carry its unread count after the title).
        const auto tab = text.find(std::string("\"*") + titles[i]);
        ASSERT_NE(tab, std::string::npos) << names[i] << "\n" << text;
        const char after = text[tab + 2 + std::string(titles[i]).size()];
        EXPECT_TRUE(after == '"' || after == ' ') << names[i] << "\n" << text;
        if (!hxtest::haveProgram("/usr/bin/python3")) continue;
        // An independent reader opens the picture at the screen's pixel size.
        std::string size;
        ASSERT_EQ(hxtest::runCommand("/usr/bin/python3 -c \"import sys; from PIL import Image; "
                                     "print(*Image.open(sys.argv[1]).size)\" '" +
                                         (out / (std::string(names[i]) + ".png")).string() + "'",
                                     &size),
                  0);
        EXPECT_EQ(size, "750 1334\n") << names[i];
    }
    // The bundle's drawings were there: the untitled keys and every tab show their icons.
    if (hxtest::haveProgram("/usr/bin/python3")) {
        std::string missing;
        EXPECT_EQ(hxtest::runCommand("/usr/bin/python3 '" +
                                         (hxtest::sourceDir() / "tools/run/icons_check.py").string() + "' '" +
                                         out.path().string() + "' 2>&1",
                                     &missing),
                  0)
            << missing;
    }
}

TEST_F(Shell, PreloadAfterLaunchCountsUnreadLoadsTheTabsAndMirrorsTheKeyValueStore) {
    storeAccounts({"a@x.test"});
    prefs()->setInteger(2, "tabBarIndex");
    ASSERT_TRUE(app->applicationDidFinishLaunchingWithOptions());
    // Nothing before the next turn of the main run loop (view 3 is never shown before).
    EXPECT_FALSE(app->viewControllerForIndex(3)->isViewLoaded());
    EXPECT_EQ(services::KeyValueStore::shared().synchronizeCount(), 0);
    harness.advance(0.1);
    harness.clock().runUntilIdle();
    for (int i = 0; i < 5; ++i) EXPECT_TRUE(app->viewControllerForIndex(i)->isViewLoaded()) << i;
    EXPECT_EQ(services::KeyValueStore::shared().synchronizeCount(), 1);
    // The store's counts reach the badges (an empty store: none), and the child context is given back.
    EXPECT_EQ(services::AppBadge::shared().badgeNumber(), 0);
    EXPECT_EQ(app->mocAccessCount(), 0u);
    services::KeyValueStore::shared().receiveExternalChange(services::KeyValueStoreServerChange,
                                                            Dictionary{{"shakeRefresh", true}});
    EXPECT_TRUE(prefs()->boolForKey("shakeRefresh"));
}

TEST_F(Shell, NoPreloadWithoutAnAccount) {
    launch();
    harness.advance(0.1);
    EXPECT_EQ(services::KeyValueStore::shared().synchronizeCount(), 0);
    EXPECT_FALSE(app->viewControllerForIndex(3)->isViewLoaded());
}

}  // namespace

TEST_F(Shell, ATextSizeChangeRebuildsTheMessageFontsAtTheNewSize) {
    launch();
    const auto before = graphics::HXCFont::HXCFontForType(4);
    const auto capped = graphics::HXCFont::HXCFontForType(5);
    ASSERT_TRUE(before && capped);
    harness.setContentSizeCategory(graphics::ContentSizeCategory::accessibilityExtraExtraExtraLarge);
    const auto after = graphics::HXCFont::HXCFontForType(4);
    ASSERT_TRUE(after);
    // A new font object at the larger size, not the cached one of the old size.
    EXPECT_NE(after.get(), before.get());
    EXPECT_GT(after->pointSize(), before->pointSize());
    EXPECT_EQ(graphics::HXCFont::contentSizeCategory(),
              graphics::ContentSizeCategory::accessibilityExtraExtraExtraLarge);
    // The reply-bar type stays at its 34-point ceiling however large the text gets.
    EXPECT_EQ(graphics::HXCFont::HXCFontForType(5)->pointSize(), 34);
    // Back to the default size: the fonts follow again.
    harness.setContentSizeCategory(graphics::ContentSizeCategory::large);
    EXPECT_EQ(graphics::HXCFont::HXCFontForType(4)->pointSize(), before->pointSize());
    EXPECT_EQ(graphics::HXCFont::HXCFontForType(5)->pointSize(), capped->pointSize());
}

// After a plain launch New Message's search finds a contact by name: the search reads the contacts
// (it used to read a list nothing had loaded, and found nobody until the app next became active),
// and after resetContacts() the next search reads them again.
TEST_F(Shell, AFreshLaunchFindsAContactByNameAndAResetReadsThemAgain) {
    services::ContactStore::setAuthorizationStatus(services::AuthorizationStatus::Authorized);
    auto contacts = std::make_shared<services::ContactStore>();
    services::Contact rosa;
    rosa.identifier = "rosa";
    rosa.givenName = "Rosa";
    rosa.familyName = "Diaz";
    rosa.phoneNumbers = {{"mobile", "+15550107767", ""}};
    contacts->addContact(rosa);
    app->setContactStore(contacts);
    launch();
    auto compose = app->screenRoles().compose.lock();
    ASSERT_TRUE(compose);
    std::vector<std::string> found;
    auto search = [&] {
        compose->searchContactsMatchingName("Ros", [&](HXApplicationModel::ContactList hits) {
            for (const auto& h : hits) found.push_back(h->get("name").stringValue());
        });
    };
    search();
    ASSERT_TRUE(app->waitForContactsLoad(10));
    harness.settle();
    found.clear();
    search();  // as "kContactsCacheUpdatedNotification" has the screen search again
    harness.settle();
    ASSERT_TRUE(harness.clock().runUntil([&] { return !found.empty(); }, 5));
    EXPECT_EQ(found, std::vector<std::string>{"Rosa Diaz"});

    app->resetContacts();
    EXPECT_TRUE(HXContactListSnapshot(*app).empty());
    search();
    ASSERT_TRUE(app->waitForContactsLoad(10));
    harness.settle();
    EXPECT_EQ(HXContactListSnapshot(*app).size(), 1u) << "the search after a reset reads the contacts again";
    app->waitForContactsLoad(10);
}

namespace {

// The phone's application object noting what it hears during the launch (its interface set up,
// a view selected, a shell operation, a notification) under the step named last, with what the
// earlier steps have left by then: the parsing queue (q), the phone flag (p), the registered
// defaults (d), the stored refresh preference (off) read into its mirror (m) and the looks (a).
struct LaunchWitness : hxtest::RecordedApp<HX_ConnectAppDelegate_iPhone> {
    using Base = hxtest::RecordedApp<HX_ConnectAppDelegate_iPhone>;
    std::vector<std::string> heard;
    void note(const std::string& what) {
        std::string state;
        state += messageParsingQueue() ? 'q' : '-';
        state += isPhone() ? 'p' : '-';
        state += foundation::UserDefaults::standardUserDefaults()->objectForKey("useQSLocation").isNull() ? '-' : 'd';
        state += autoRefresh() ? '-' : 'm';
        state += toolkit::Appearance::empty() ? '-' : 'a';
        heard.push_back((launchSteps().empty() ? std::string("-") : launchSteps().back()) + " [" + state + "] " + what);
    }
    void setupInterface() override {
        note("setupInterface");
        Base::setupInterface();
    }
    void selectViewForIndex(int index) override {
        note("selectViewForIndex " + std::to_string(index));
        Base::selectViewForIndex(index);
    }
};

struct ShellCallWitness : HXShellObserver {
    LaunchWitness* app = nullptr;
    void shellCall(const std::string& call) override { app->note(call); }
    void shellAlert(const HXAlert& alert) override { app->note("alert " + alert.title); }
};

struct LaunchSteps : hxtest::ScreenFixture<LaunchWitness> {
    void TearDown() override {
        foundation::NotificationCenter::defaultCenter().removeObserver(this);
        ScreenFixture::TearDown();
    }
};

}  // namespace

// A launch step's name and the work it runs go together: each step's work is heard under its own
// name, after the work of the steps before it.
TEST_F(LaunchSteps, EachStepRunsItsOwnWorkInItsTurn) {
    auto witness = std::make_shared<ShellCallWitness>();
    witness->app = app.get();
    app->setShellObserver(witness);
    foundation::NotificationCenter::defaultCenter().addObserver(
        this, "", [&](const foundation::Notification& n) { app->note("post " + n.name); });
    foundation::UserDefaults::standardUserDefaults()->setBool(false, "autoRefresh");
    ASSERT_TRUE(app->autoRefresh());
    ASSERT_TRUE(app->applicationDidFinishLaunchingWithOptions());
    foundation::NotificationCenter::defaultCenter().removeObserver(this);
    const std::vector<std::string> expected{
        "startTelemetry [-----] startTelemetry",
        "setupInterface [qpdma] setupInterface",
        "selectFirstView [qpdma] selectViewForIndex 4",
        "selectAccount [qpdma] post kLogoutNotification",
        "selectAccount [qpdma] post kAccountSelectedNotification",
        "postDidFinishLaunching [qpdma] post kDidFinishLaunchingNotification",
    };
    EXPECT_EQ(app->heard, expected);
}
