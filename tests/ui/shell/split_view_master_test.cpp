// The tablet's master list with the screen library: rows and badges, selection and the detail it
// shows, key commands, popovers, the header and the sign-in panel; and the pictures of the split
// view (both orientations) and of the phone's tab bar.
#include <gtest/gtest.h>

#include <functional>

#include "app/connect_app_delegate_ipad.h"
#include "app/connect_app_delegate_iphone.h"
#include "emulator/emulator.h"
#include "model/account.h"
#include "model/message_store.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/files.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/user_defaults.h"
#include "platform/net/transport.h"
#include "platform/security/keychain.h"
#include "platform/services/device.h"
#include "platform/store/context.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/presentation.h"
#include "platform/toolkit/renderer.h"
#include "platform/toolkit/split_view_controller.h"
#include "platform/toolkit/testing/harness.h"
#include "service/message_list_model.h"
#include "service/request_machinery.h"
#include "tests/support/screen_fixture.h"
#include "tests/support/shell_recorder.h"
#include "tests/support/signed_in_account.h"
#include "tests/support/test_support.h"
#include "ui/messages/message_list_table_view_cell.h"
#include "ui/messages/vc_messages.h"
#include "ui/shell/split_view_master.h"
#include "ui/shell/ui_screens.h"
#include "ui/widgets/master_table_view_cell.h"

namespace {

using foundation::Dictionary;
using toolkit::IndexPath;

// Counts the appearances of the screen on top of a detail, which a replaced detail repeats.
class AppearanceSpy : public toolkit::ViewController {
public:
    int appearances = 0;
    void viewWillAppear(bool) override { ++appearances; }
};

// The screen library with a sign-in panel, as it will come.
class ScreensWithLoginPanel : public HXUIScreens {
public:
    int made = 0;
    std::shared_ptr<toolkit::ViewController> makeLoginPanel(const HXScreenRoles&) override {
        ++made;
        return std::make_shared<HXPlaceholderScreen>("VC_LoginPanel");
    }
};

std::shared_ptr<foundation::UserDefaults> prefs() { return foundation::UserDefaults::standardUserDefaults(); }

struct MasterList : hxtest::ScreenFixture<hxtest::RecordedApp<HX_ConnectAppDelegate_iPad>> {
    std::shared_ptr<ScreensWithLoginPanel> screens = std::make_shared<ScreensWithLoginPanel>();
    MasterList() : ScreenFixture({.form = hxtest::DeviceForm::tablet}) {}
    explicit MasterList(const hxtest::ScreenSetup& setup) : ScreenFixture(setup) {}
    void SetUp() override {
        ScreenFixture::SetUp();
        app->setScreens(screens);
    }
    void launch() {
        ASSERT_TRUE(app->applicationDidFinishLaunchingWithOptions());
        harness.settle();
    }
    // A launch without an account opens the sign-in panel; these tests close it to reach the list.
    void launchAndCloseSignIn() {
        launch();
        app->dismissPopoverAnimated(false);
        app->closeLoginPanel();
    }
    // Starts the service and makes current a signed-in account with a valid token of it.
    void signInAt(std::unique_ptr<emulator::Emulator> started) {
        service = std::move(started);
        // Requests go to this service, not to the fixture's scripted transport.
        net::Transport::setShared(nullptr);
        ASSERT_TRUE(service->start().ok());
        // The fixture began without a service and so with a transport that answers nothing; the
        // service on the loopback is reached through the real one.
        net::Transport::setShared(nullptr);
        HXWebClientOf(*app).endpoints = HXEndpoints::allAt(service->origin());
        app->setAccount(hxtest::signedInAccount(
            "user@example.test", hxtest::bearerToken(service->issueAccessToken(), dispatch::wallNow() + 3600),
            "session"));
    }
    VC_SplitView_Master& master() { return dynamic_cast<VC_SplitView_Master&>(*app->masterList()); }
    toolkit::TableView& table() { return *master().tableView(); }
    MasterTableViewCell& cell(long row) {
        auto c = std::dynamic_pointer_cast<MasterTableViewCell>(table().cellForRow(IndexPath{0, row}));
        EXPECT_TRUE(c) << row;
        return *c;
    }
    std::optional<long> selectedRow() {
        auto ip = table().indexPathForSelectedRow();
        return ip ? std::optional<long>(ip->row) : std::nullopt;
    }
    toolkit::ViewController* detail() { return app->splitViewController()->viewControllers().back().get(); }
    toolkit::ViewController* presented() { return app->splitViewController()->presentedViewController(); }
    std::string presentedRoot() {
        auto* nav = dynamic_cast<toolkit::NavigationController*>(presented());
        return nav ? nav->viewControllers().front()->className() : "";
    }
};

TEST_F(MasterList, FourRowsWithBadgesOnTheFirstTwo) {
    launchAndCloseSignIn();
    ASSERT_TRUE(app->masterList());
    EXPECT_EQ(table().numberOfRows(0), 4);
    EXPECT_EQ(table().rowHeight(), 60.0);
    EXPECT_FALSE(table().isScrollEnabled());
    EXPECT_EQ(table().separatorStyle(), toolkit::SeparatorStyle::None);
    const char* titles[] = {"SMS", "Voicemail", "History", "Settings"};
    const char* images[] = {"SMS", "VM", "Recents", "Settings"};
    for (long row = 0; row < 4; ++row) {
        EXPECT_EQ(cell(row).reuseIdentifier(), "MasterTableCell");
        EXPECT_EQ(cell(row).cellLabel.lock()->text(), titles[row]);
        auto image = cell(row).cellImage.lock()->image();
        ASSERT_TRUE(image);
        EXPECT_EQ(image->name(), images[row]);
        EXPECT_EQ(image->renderingMode(), graphics::RenderingMode::alwaysTemplate);
        EXPECT_EQ(cell(row).badgeValue, 0);
    }

    prefs()->setInteger(2, "badgeType");
    app->setUnreadCount(3, 1);
    app->setUnreadCount(12, 2);
    harness.settle();
    EXPECT_EQ(cell(0).badgeValue, 3);
    EXPECT_EQ(cell(1).badgeValue, 12);
    EXPECT_EQ(services::AppBadge::shared().badgeNumber(), 15);
    // History and settings never show a count.
    for (int index : {3, 4, 0}) app->setUnreadCount(8, index);
    harness.settle();
    EXPECT_EQ(cell(2).badgeValue, 0);
    EXPECT_EQ(cell(3).badgeValue, 0);
    EXPECT_EQ(services::AppBadge::shared().badgeNumber(), 15);
    app->setUnreadCount(0, 1);
    harness.settle();
    EXPECT_EQ(cell(0).badgeValue, 0);
    EXPECT_TRUE(cell(0).badgeView.lock()->isHidden());
}

TEST_F(MasterList, TouchingARowShowsItsViewOnceAndRemembersIt) {
    launchAndCloseSignIn();
    EXPECT_EQ(selectedRow(), 3) << "settings at a fresh installation";
    EXPECT_EQ(detail(), app->viewControllerForViewType(4).get());

    ASSERT_TRUE(harness.selectRow(table(), IndexPath{0, 2}));
    EXPECT_EQ(prefs()->integerForKey("tabBarIndex"), 3);
    EXPECT_EQ(detail(), app->viewControllerForViewType(3).get());
    EXPECT_EQ(selectedRow(), 2);

    // Selecting the row of the view already shown leaves the detail alone.
    auto spy = std::make_shared<AppearanceSpy>();
    app->viewControllerForViewType(3)->pushViewController(spy, false);
    harness.settle();
    const int appearances = spy->appearances;
    ASSERT_TRUE(harness.selectRow(table(), IndexPath{0, 2}));
    master().selectRow(3);
    app->selectViewForIndex(3);
    harness.settle();
    EXPECT_EQ(spy->appearances, appearances);
    EXPECT_EQ(app->viewControllerForViewType(3)->topViewController(), spy.get());

    // Settings reloads the account's settings from the service.
    ASSERT_TRUE(harness.selectRow(table(), IndexPath{0, 3}));
    EXPECT_EQ(detail(), app->viewControllerForViewType(4).get());
    // Rows that do not exist select nothing.
    for (int index : {0, 5, -1}) master().selectRow(index);
    EXPECT_EQ(selectedRow(), 3);
    EXPECT_EQ(detail(), app->viewControllerForViewType(4).get());
}

TEST_F(MasterList, RefreshKeepsTheCurrentRowAndRotationSelectsItAgain) {
    launchAndCloseSignIn();
    app->selectViewForIndex(2);
    table().deselectRow(IndexPath{0, 1}, false);
    foundation::NotificationCenter::defaultCenter().post("kUnreadVMCountChangedNotification", nullptr);
    EXPECT_EQ(selectedRow(), 1);

    table().deselectRow(IndexPath{0, 1}, false);
    harness.rotate(toolkit::Orientation::LandscapeLeft);
    harness.settle();
    EXPECT_EQ(selectedRow(), 1);
}

TEST_F(MasterList, KeyCommandsFollowTheCurrentView) {
    launchAndCloseSignIn();
    auto inputs = [&] {
        std::vector<std::string> out;
        for (const auto& k : master().keyCommands()) out.push_back(k.input + ":" + k.discoverabilityTitle);
        return out;
    };
    const std::vector<std::string> always{"1:SMS",  "2:Voicemail",   "3:History", "4:Settings",
                                          "c:Call", "n:New Message", "a:Accounts"};
    auto withSearch = always;
    withSearch.insert(withSearch.end(), {"f:Search", "r:Refresh"});
    const std::pair<int, std::vector<std::string>> cases[] = {
        {1, withSearch}, {2, withSearch}, {3, withSearch}, {4, always}};
    for (const auto& [view, expected] : cases) {
        app->selectViewForIndex(view);
        EXPECT_EQ(inputs(), expected) << view;
    }

    // The screens hand the keyboard back to the list; its commands then drive it. The refresh
    // reloads the shown list from the service's first page.
    signInAt(std::make_unique<emulator::Emulator>());
    // An account without threads: the shown list stays empty once its first page is stored.
    service->withAccount([](emulator::Account& account) {
        account.threads.clear();
        return 0;
    });
    app->setFirstResponder();
    EXPECT_TRUE(master().isFirstResponder());
    EXPECT_TRUE(harness.pressKey("2", toolkit::kModifierCommand));
    EXPECT_EQ(detail(), app->viewControllerForViewType(2).get());
    auto listRequests = [&] {
        std::vector<std::string> bodies;
        for (const auto& r : service->requests())
            if (r.path.ends_with("api2thread/list")) bodies.push_back(r.body);
        return bodies;
    };
    EXPECT_TRUE(listRequests().empty());
    EXPECT_TRUE(harness.pressKey("r", toolkit::kModifierCommand));
    ASSERT_TRUE(harness.clock().runUntil([&] { return !listRequests().empty(); }, 5));
    // The voicemail list (code 4), its first page.
    EXPECT_EQ(listRequests().front().rfind("[4,20,15,", 0), 0u) << listRequests().front();
    // Command-F reaches the shown list's search bar, which an empty list keeps from editing (the
    // lists' own tests search in a list with rows).
    auto* list = dynamic_cast<VC_Messages*>(app->viewControllerForViewType(2)->viewControllers().front().get());
    ASSERT_TRUE(list);
    ASSERT_EQ(list->tableView()->numberOfRows(0), 0);
    EXPECT_TRUE(harness.pressKey("f", toolkit::kModifierCommand));
    EXPECT_FALSE(list->searchBar()->isFirstResponder());
    EXPECT_EQ(app->currentViewIndex(), 2);
    EXPECT_FALSE(harness.pressKey("c", toolkit::kModifierCommand)) << "Call is Control-C";
    EXPECT_TRUE(harness.pressKey("c", toolkit::kModifierControl));
    harness.settle();
    EXPECT_EQ(presented(), app->viewControllerForViewType(0).get());
}

// The list's commands work from the start and after the sign-in panel, without a screen first
// handing the keyboard back: the desktop's keys reach them with nothing else focused.
TEST_F(MasterList, KeyCommandsWorkFromTheStartAndAfterTheSignInPanel) {
    launch();
    EXPECT_TRUE(master().isFirstResponder()) << "the list holds the keyboard from the start";
    app->dismissPopoverAnimated(false);
    app->closeLoginPanel();
    harness.settle();
    EXPECT_TRUE(master().isFirstResponder()) << "and again once the panel is closed";
    signInAt(std::make_unique<emulator::Emulator>());
    EXPECT_TRUE(harness.pressKey("1", toolkit::kModifierCommand));
    EXPECT_EQ(detail(), app->viewControllerForViewType(1).get());
    size_t before = 0;
    for (const auto& r : service->requests()) before += r.path.ends_with("api2thread/list");
    EXPECT_TRUE(harness.pressKey("r", toolkit::kModifierCommand));
    ASSERT_TRUE(harness.clock().runUntil(
        [&] {
            size_t n = 0;
            for (const auto& r : service->requests()) n += r.path.ends_with("api2thread/list");
            return n > before;
        },
        5));
}

// Closing the new message and ending a search (Cancel or the search key) give the keyboard back
// to the list, so its commands keep working.
TEST_F(MasterList, ClosingTheNewMessageOrASearchGivesTheKeysBackToTheList) {
    launchAndCloseSignIn();
    signInAt(std::make_unique<emulator::Emulator>());
    ASSERT_TRUE(app->resetPersistentStore().ok());
    master().showSMSPopup();
    harness.settle();
    ASSERT_EQ(presentedRoot(), "VC_NewMessage");
    EXPECT_FALSE(master().isFirstResponder()) << "the new message holds the keyboard";
    presented()->dismiss(false);
    harness.settle();
    EXPECT_TRUE(master().isFirstResponder()) << "after the new message";

    ASSERT_TRUE(harness.pressKey("1", toolkit::kModifierCommand));
    ASSERT_TRUE(harness.pressKey("r", toolkit::kModifierCommand));
    auto* list = dynamic_cast<VC_Messages*>(app->viewControllerForViewType(1)->viewControllers().front().get());
    ASSERT_TRUE(list);
    ASSERT_TRUE(harness.clock().runUntil([&] { return list->tableView()->numberOfRows(0) > 0; }, 5));
    auto& bar = *list->searchBar();
    const std::pair<const char*, std::function<void()>> endings[] = {
        {"Cancel", [&] { list->searchBarCancelButtonClicked(bar); }},
        {"Search", [&] { list->searchBarSearchButtonClicked(bar); }}};
    for (const auto& [name, end] : endings) {
        ASSERT_TRUE(harness.pressKey("f", toolkit::kModifierCommand)) << name;
        harness.settle();
        ASSERT_TRUE(bar.isFirstResponder()) << name;
        end();
        harness.settle();
        EXPECT_TRUE(master().isFirstResponder()) << "after " << name;
        EXPECT_TRUE(harness.pressKey("2", toolkit::kModifierCommand)) << name;
        EXPECT_EQ(detail(), app->viewControllerForViewType(2).get()) << name;
        ASSERT_TRUE(harness.pressKey("1", toolkit::kModifierCommand)) << name;
        harness.settle();
    }
}

// The shown list's dropdown opens beside the master column while both columns show and over the
// whole width once the split view collapses; the rows keep their place under the bars.
TEST_F(MasterList, TheListsDropdownFollowsTheSplitViewAcrossSizes) {
    launchAndCloseSignIn();
    signInAt(std::make_unique<emulator::Emulator>());
    ASSERT_TRUE(app->resetPersistentStore().ok());
    ASSERT_TRUE(harness.pressKey("1", toolkit::kModifierCommand));
    ASSERT_TRUE(harness.pressKey("r", toolkit::kModifierCommand));
    auto* list = dynamic_cast<VC_Messages*>(app->viewControllerForViewType(1)->viewControllers().front().get());
    ASSERT_TRUE(list);
    ASSERT_TRUE(harness.clock().runUntil([&] { return list->tableView()->numberOfRows(0) > 0; }, 5));
    harness.settle();
    auto table = list->tableView();
    auto belowBars = [&] { return table->contentOffset().y + table->adjustedContentInset().top; };
    const struct {
        toolkit::ScreenProfile profile;
        bool collapsed;
        double left, right;
    } sizes[] = {{toolkit::ScreenProfile::iPhone8(), true, 0, 0},
                 {toolkit::ScreenProfile::iPadLandscape(), false, 318, 60},
                 {toolkit::ScreenProfile::iPhoneX(), true, 0, 0},
                 {toolkit::ScreenProfile::iPad(), false, 318, 60}};
    for (const auto& s : sizes) {
        const double before = belowBars();
        harness.window().setProfile(s.profile);
        harness.settle();
        ASSERT_EQ(app->isSplitViewCollapsed(), s.collapsed) << s.profile.name;
        EXPECT_EQ(list->navBarMenu()->fullScreenInsetLeft, s.left) << s.profile.name;
        EXPECT_EQ(list->navBarMenu()->fullScreenInsetRight, s.right) << s.profile.name;
        EXPECT_EQ(belowBars(), before) << s.profile.name;
    }
}

// Each row's icon and title sit on the row's middle.
TEST_F(MasterList, RowIconsAndTitlesAreCentredInTheirRows) {
    launchAndCloseSignIn();
    for (long row = 0; row < 4; ++row) {
        auto& c = cell(row);
        const auto rowFrame = c.convertRectTo(c.bounds(), nullptr);
        const auto label = c.cellLabel.lock();
        const auto image = c.cellImage.lock();
        ASSERT_TRUE(label && image);
        EXPECT_NEAR(label->convertRectTo(label->bounds(), nullptr).midY(), rowFrame.midY(), 0.5) << row;
        EXPECT_NEAR(image->convertRectTo(image->bounds(), nullptr).midY(), rowFrame.midY(), 0.5) << row;
    }
}

TEST_F(MasterList, EachPopoverClosesTheOneBefore) {
    launchAndCloseSignIn();
    master().showAccounts();
    harness.settle();
    EXPECT_EQ(presentedRoot(), "VC_Accounts");
    EXPECT_EQ(app->shell().count("updateAccountPrefs"), 1u);
    auto* accounts = presented();
    EXPECT_EQ(accounts->presentationStyleInUse(), toolkit::ModalPresentationStyle::Popover);
    EXPECT_EQ(accounts->popoverPresentationController()->barButtonItem.lock(),
              master().navigationItem().rightBarButtonItem());

    master().showCallPopup();
    harness.settle();
    auto dialPad = app->viewControllerForViewType(0);
    EXPECT_EQ(presented(), dialPad.get());
    auto* popover = dialPad->popoverPresentationController();
    EXPECT_EQ(popover->barButtonItem.lock(), master().navigationItem().leftBarButtonItems.at(0));
    EXPECT_EQ(popover->permittedArrowDirections, static_cast<unsigned>(toolkit::kArrowUp));
    EXPECT_EQ(dialPad->view()->frame().size, (toolkit::Size{320, 411}));

    master().infoButtonClicked();
    harness.settle();
    EXPECT_EQ(presentedRoot(), "VC_Help");
    EXPECT_EQ(presented()->view()->frame().size, (toolkit::Size{320, 514}));
    EXPECT_EQ(presented()->popoverPresentationController()->permittedArrowDirections,
              static_cast<unsigned>(toolkit::kArrowLeft));

    master().showSMSPopup();
    harness.settle();
    // The new message closes the popover and comes up as a form sheet over the split view.
    EXPECT_EQ(presentedRoot(), "VC_NewMessage");
    EXPECT_EQ(presented()->modalPresentationStyle, toolkit::ModalPresentationStyle::FormSheet);
    EXPECT_EQ(app->shell().count("presentNewMessage"), 0u);
    presented()->dismiss(false);
    harness.settle();

    // The bar buttons are the same operations.
    ASSERT_TRUE(master().navigationItem().leftBarButtonItems.at(0)->tap());
    harness.settle();
    EXPECT_EQ(presented(), dialPad.get());
    EXPECT_EQ(master().navigationItem().leftBarButtonItems.at(0)->accessibilityLabel, "Call");
    app->dismissPopoverAnimated(false);
    ASSERT_TRUE(harness.tap(*harness.find("About 'HX Connect'")));
    harness.settle();
    EXPECT_EQ(presentedRoot(), "VC_Help");
}

// Every Command-R asks the service for the shown list again, and every reply reaches the store:
// a reply that never reached its list would leave it loading and drop each later refresh.
TEST_F(MasterList, EachRefreshCommandReloadsTheShownListIntoTheStore) {
    launchAndCloseSignIn();
    signInAt(std::make_unique<emulator::Emulator>(
        emulator::generateAccount({.seed = 5, .smsThreads = 3, .itemsPerThread = 2})));
    ASSERT_TRUE(app->resetPersistentStore().ok());
    app->setFirstResponder();
    ASSERT_TRUE(harness.pressKey("1", toolkit::kModifierCommand));
    auto listRequests = [&] {
        size_t n = 0;
        for (const auto& r : service->requests()) n += r.path.ends_with("api2thread/list");
        return n;
    };
    auto stored = [&] {
        auto context = app->managedObjectContext();
        size_t n = 0;
        context->performAndWait([&] {
            auto rows = context->fetch(store::FetchRequest(HXMessageStore::kConversationEntity));
            n = rows.ok() ? rows.value().size() : 0;
        });
        return n;
    };
    auto list = std::dynamic_pointer_cast<HXMessageListModel>(app->messageListForViewIndex(1));
    ASSERT_TRUE(list);
    for (const size_t conversations : {3u, 5u}) {
        const size_t before = listRequests();
        ASSERT_TRUE(harness.pressKey("r", toolkit::kModifierCommand)) << conversations;
        ASSERT_TRUE(harness.clock().runUntil(
            [&] {
                return listRequests() > before && stored() == conversations && !list->isLoadingMessages() &&
                       app->isIdle();
            },
            20))
            << listRequests() << " request(s), " << stored() << " stored, expected " << conversations;
        // The service has two threads more for the next refresh.
        service->withAccount([](emulator::Account& a) { emulator::addGeneratedTextThreads(a, 9, 2, 2); });
    }
}

TEST_F(MasterList, HeaderShowsTheAccountOnlyWhenThereIsOne) {
    launchAndCloseSignIn();
    auto header = master().headerView();
    EXPECT_EQ(header->frame().size, (toolkit::Size{258, 220}));
    auto text = [&](int tag) { return dynamic_cast<toolkit::Label*>(header->viewWithTag(tag))->text(); };
    EXPECT_EQ(text(VC_SplitView_Master::kUserNameTag), "");
    EXPECT_EQ(text(VC_SplitView_Master::kNumberTag), "");

    auto account = std::make_shared<HX_Account>();
    account->setUsername("ann@example.test");
    account->setHXnumber("2025550123");
    app->setAccount(account);
    HXApplicationModel::setSharedDelegate(app);
    master().headerView();
    HXApplicationModel::setSharedDelegate(nullptr);
    EXPECT_EQ(text(VC_SplitView_Master::kUserNameTag), "ann@example.test");
    EXPECT_EQ(text(VC_SplitView_Master::kNumberTag), "(202) 555-0123");

    account->setUsername("");
    master().headerView();
    EXPECT_EQ(text(VC_SplitView_Master::kUserNameTag), "");
    EXPECT_EQ(text(VC_SplitView_Master::kNumberTag), "");
}

TEST_F(MasterList, SignInPanelIsAPopoverThatDoesNotStack) {
    launch();
    // The launch without an account asked for the panel.
    ASSERT_EQ(presentedRoot(), "VC_LoginPanel");
    auto* panel = presented();
    EXPECT_TRUE(panel->isModalInPresentation);
    EXPECT_EQ(panel->presentationStyleInUse(), toolkit::ModalPresentationStyle::Popover);
    EXPECT_EQ(panel->popoverPresentationController()->barButtonItem.lock(),
              master().navigationItem().rightBarButtonItem());
    const auto asked = app->shell().count("displayLogin");
    app->displayLogin();
    harness.settle();
    EXPECT_EQ(presented(), panel);
    EXPECT_EQ(app->shell().count("displayLogin"), asked);

    // Over another popover it shows in that popover's context, and the overlay goes.
    app->dismissPopoverAnimated(false);
    master().showAccounts();
    harness.settle();
    auto* accounts = presented();
    app->displayLogin();
    harness.settle();
    EXPECT_EQ(presented(), accounts);
    ASSERT_TRUE(accounts->presentedViewController());
    EXPECT_EQ(accounts->presentedViewController()->modalPresentationStyle,
              toolkit::ModalPresentationStyle::CurrentContext);
    EXPECT_GE(app->shell().count("removeLoadingOverlay"), 1u);
    app->displayLogin();
    harness.settle();
    EXPECT_FALSE(accounts->presentedViewController()->presentedViewController()) << "not stacked";

    // The sign-in's end closes the panel and what it was shown over, and the overlay goes.
    const auto removed = app->shell().count("removeLoadingOverlay");
    app->closeLoginPanel();
    harness.settle();
    EXPECT_FALSE(presented());
    EXPECT_GT(app->shell().count("removeLoadingOverlay"), removed);
    app->displayLogin();
    harness.settle();
    EXPECT_EQ(presentedRoot(), "VC_LoginPanel") << "asked again once closed";
    app->closeLoginPanel();
    harness.settle();
    EXPECT_FALSE(presented());
}

TEST_F(MasterList, AListTheWindowKeepsLongerNoLongerReachesTheApplicationObject) {
    launchAndCloseSignIn();
    std::shared_ptr<HXSplitViewMaster> list = app->masterList();
    // Work the list posted before the application object went away.
    ASSERT_TRUE(harness.selectRow(table(), IndexPath{0, 3}));
    app.reset();
    for (const char* name : {"kLogoutNotification", "kUnreadSMSCountChangedNotification"})
        foundation::NotificationCenter::defaultCenter().post(name, nullptr);
    harness.settle();
    EXPECT_EQ(list->tableView()->numberOfRows(0), 4);
}

// Waits until the SMS list shows the service's threads and the account's first loads are over,
// then lets the list's end-of-load scroll finish and lays it out where the picture is taken.
template <typename Fixture>
void settleWithRows(Fixture& f) {
    // The rows' date width is measured once per process: anew for this device's fonts.
    makeMessageTableCell()->resetDateLabelWidth();
    auto rows = [&] {
        auto* list = dynamic_cast<VC_Messages*>(f.app->viewControllerForIndex(1).get());
        if (!list || !list->isViewLoaded() || list->tableView()->numberOfSections() == 0) return 0L;
        return list->tableView()->numberOfRows(0);
    };
    EXPECT_TRUE(f.harness.clock().runUntil([&] { return rows() > 0 && HXWebClientOf(*f.app).requests.empty(); }, 20))
        << "the SMS list never showed the service's threads";
    f.harness.advance(1);
    f.harness.settle();
    f.harness.settle();
}

struct MasterListPicture : MasterList {
    // Pictures are compared with the bundled fonts; the lists show the service's threads.
    MasterListPicture()
        : MasterList({.form = hxtest::DeviceForm::tablet, .emulator = true, .signedIn = true, .fonts = true}) {}
};

TEST_F(MasterListPicture, SplitViewPictureInBothOrientations) {
    prefs()->setInteger(1, "tabBarIndex");
    ASSERT_TRUE(ScreenFixtureBase::launch());
    settleWithRows(*this);
    HXApplicationModel::setSharedDelegate(app);
    app->setUnreadCount(3, 1);
    app->setUnreadCount(12, 2);
    harness.settle();
    table().reloadData();
    master().refreshTable();
    harness.settle();
    expectOutline("split_portrait");
    expectSnapshot("split_portrait");
    harness.rotate(toolkit::Orientation::LandscapeLeft);
    harness.settle();
    EXPECT_EQ(harness.window().bounds().size, (toolkit::Size{1024, 768}));
    expectOutline("split_landscape");
    expectSnapshot("split_landscape");
    HXApplicationModel::setSharedDelegate(nullptr);
}

struct PhoneTabBar : hxtest::ScreenFixture<HX_ConnectAppDelegate_iPhone> {
    PhoneTabBar()
        : ScreenFixture(
              {.screens = std::make_shared<HXUIScreens>(), .emulator = true, .signedIn = true, .fonts = true}) {}
};

TEST_F(PhoneTabBar, PictureInPortrait) {
    prefs()->setInteger(1, "tabBarIndex");
    ASSERT_TRUE(launch());
    // The loads count the unread conversations; the counts pictured come after them.
    settleWithRows(*this);
    app->setUnreadCount(3, 1);
    app->setUnreadCount(1, 2);
    harness.settle();
    expectOutline("tab_bar_phone");
    expectSnapshot("tab_bar_phone");
}

}  // namespace
