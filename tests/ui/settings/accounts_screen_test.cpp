// The account list as the settings screen's "Accounts" button opens it: switching warns about
// the queued texts of the account being left, deleting the active account makes the first
// remaining one active, deleting the last shows the sign-in panel with the passcode off, and
// editing adds the row that opens the panel for a new account.
#include <gtest/gtest.h>

#include "app/connect_app_delegate_ipad.h"
#include "app/connect_app_delegate_iphone.h"
#include "app/hxc_passcode_lock.h"
#include "model/account.h"
#include "platform/foundation/user_defaults.h"
#include "platform/toolkit/alert_controller.h"
#include "platform/toolkit/bar_item_view.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/outline.h"
#include "service/custom_cookie_jar.h"
#include "tests/support/screen_fixture.h"
#include "tests/support/shell_recorder.h"
#include "ui/settings/vc_accounts.h"
#include "ui/settings/vc_settings.h"
#include "ui/shell/ui_screens.h"
#include "ui/signin/login_panel.h"

namespace {

const char* kOther = "bob@example.test";
const char* kThird = "carol@example.test";

// Two more accounts beside the signed-in one.
void storeTwoMoreAccounts() {
    auto defaults = foundation::UserDefaults::standardUserDefaults();
    auto infos = defaults->dictionaryForKey("accountInfo").value_or(foundation::Dictionary{});
    for (const auto& [name, number] : {std::pair{kOther, "2025550177"}, std::pair{kThird, "2025550188"}}) {
        HX_Account a;
        a.setUsername(name);
        a.setHXnumber(std::string(number));
        infos.set(name, foundation::Value(a.archived().value()));
    }
    (void)defaults->setObject(foundation::Value(infos), "accountInfo");
}

class AccountsScreen : public hxtest::ScreenFixture<hxtest::RecordedApp<HX_ConnectAppDelegate_iPhone>> {
protected:
    AccountsScreen()
        : ScreenFixture({.form = hxtest::DeviceForm::phone,
                         .screens = std::make_shared<HXUIScreens>(),
                         .signedIn = true,
                         .fonts = true}) {}

    std::shared_ptr<foundation::UserDefaults> defaults() { return foundation::UserDefaults::standardUserDefaults(); }

    void SetUp() override {
        ScreenFixture::SetUp();
        storeTwoMoreAccounts();
        ASSERT_TRUE(launch());
        app->selectViewForIndex(4);
        harness.settle();
        settings = std::dynamic_pointer_cast<VC_Settings>(app->viewControllerForIndex(4));
        ASSERT_TRUE(settings);
        ASSERT_TRUE(harness.tapBarButton("Accounts"));
        harness.settle();
        auto* nav = dynamic_cast<toolkit::NavigationController*>(presented());
        ASSERT_TRUE(nav) << toolkit::outline(harness.window());
        list = dynamic_cast<VC_Accounts*>(nav->topViewController());
        ASSERT_TRUE(list);
    }
    // What the settings' navigation controller presented (the tab bar presents it).
    toolkit::ViewController* presented() {
        if (auto* shown = settings->navigationController()->presentedViewController()) return shown;
        return app->tabBarController()->presentedViewController();
    }
    std::string active() { return defaults()->stringForKey("username").value_or(""); }
    long rowOf(const std::string& user) {
        const auto entries = VC_Accounts::storedAccounts();
        for (size_t i = 0; i < entries.size(); ++i)
            if (entries[i].username == user) return static_cast<long>(i);
        return -1;
    }
    bool listShown() { return presented() != nullptr; }

    std::shared_ptr<VC_Settings> settings;
    VC_Accounts* list = nullptr;
};

TEST_F(AccountsScreen, LeavingAnAccountWithQueuedTextsWarnsAndSwitches) {
    expectOutline("accounts_phone");
    expectSnapshot("accounts_phone", {.scale = 1, .lightAndDark = true});
    foundation::Dictionary queue{{"k1", foundation::Value(foundation::Dictionary{{"text", foundation::Value("hi")}})}};
    (void)defaults()->setObject(
        foundation::Value(foundation::Dictionary{{hxtest::kSignedInUser, foundation::Value(queue)}}), "smsQueue");
    // The session being left ends first: its cookies are kept for it and go from the jar in use.
    auto jar = app->cookieJar();
    ASSERT_TRUE(jar);
    net::Cookie session;
    session.name = "SID";
    session.value = "ann-session";
    session.domain = ".example.test";
    jar->set_cookies({session});
    ASSERT_TRUE(harness.selectRow(*list->tableView(), {0, rowOf(kOther)}));
    harness.settle();
    EXPECT_EQ(jar->numberOfCookies(), 0u) << "nothing of the session left goes with the next";
    auto kept = defaults()->dictionaryForKey("cookies").value_or(foundation::Dictionary{});
    const auto* archive = kept.find(hxtest::kSignedInUser);
    ASSERT_TRUE(archive && archive->isData());
    auto cookies = CustomCookieJar::cookiesFromArchive(archive->asData());
    ASSERT_TRUE(cookies.ok());
    ASSERT_EQ(cookies.value().size(), 1u);
    EXPECT_EQ(cookies.value()[0].value, "ann-session") << "kept for switching back";
    EXPECT_EQ(active(), kOther);
    EXPECT_EQ(app->account()->username(), kOther);
    bool warned = false;
    for (const auto& alert : app->shell().alerts())
        warned |= alert.title == "Queued SMS Messages" &&
                  alert.message.find(std::string("'") + hxtest::kSignedInUser + "'") != std::string::npos;
    EXPECT_TRUE(warned);
}

TEST_F(AccountsScreen, TappingTheActiveAccountClosesTheListAndKeepsTheSession) {
    ASSERT_TRUE(harness.selectRow(*list->tableView(), {0, rowOf(hxtest::kSignedInUser)}));
    harness.settle();
    EXPECT_FALSE(listShown());
    EXPECT_EQ(active(), hxtest::kSignedInUser);
    EXPECT_EQ(app->account()->username(), hxtest::kSignedInUser);
}

TEST_F(AccountsScreen, DeletingTheActiveAccountSelectsTheFirstRemainingAndTheLastShowsThePanel) {
    list->setEditingMode(true, false);
    harness.settle();
    EXPECT_EQ(list->tableView()->numberOfRows(0), 4);
    expectOutline("accounts_editing_phone");
    auto remove = [&](const std::string& user) {
        list->commitEditingStyle(*list->tableView(), toolkit::CellEditingStyle::Delete, {0, rowOf(user)});
        harness.settle();
    };
    remove(hxtest::kSignedInUser);
    const auto first = VC_Accounts::storedAccounts().front().username;
    EXPECT_EQ(active(), first);
    EXPECT_EQ(app->account()->username(), first);
    // A non-active one: the active account stays.
    const std::string other = first == kOther ? kThird : kOther;
    remove(other);
    EXPECT_EQ(active(), first);
    auto& lock = HXCPasscodeLock::sharedLock();
    lock.setPasscodeRequired(true);
    const size_t panels = app->shell().count("displayLogin");
    auto editButton = list->editButton();
    auto cancelButton = list->cancelButton();
    remove(first);
    EXPECT_TRUE(VC_Accounts::storedAccounts().empty());
    EXPECT_FALSE(lock.passcodeRequired());
    EXPECT_FALSE(editButton->enabled);
    EXPECT_FALSE(cancelButton->enabled);
    EXPECT_GT(app->shell().count("displayLogin"), panels);
    // The panel itself is up, on screen, in place of the emptied list.
    auto* shown = dynamic_cast<toolkit::NavigationController*>(app->tabBarController()->presentedViewController());
    ASSERT_TRUE(shown) << toolkit::outline(harness.window());
    ASSERT_TRUE(dynamic_cast<VC_LoginPanel*>(shown->topViewController())) << toolkit::outline(harness.window());
    EXPECT_TRUE(shown->topViewController()->view()->window());
}

TEST_F(AccountsScreen, TheAddRowComesWithEditingAndOpensAnEmptySignIn) {
    EXPECT_EQ(list->tableView()->numberOfRows(0), 3);
    // Edit turns into Done, laid out as wide as it is drawn and saying what it is.
    ASSERT_TRUE(harness.tapBarButton("Edit"));
    harness.settle();
    ASSERT_TRUE(list->isEditing());
    auto* done = dynamic_cast<toolkit::BarItemView*>(list->editButton()->view().get());
    ASSERT_TRUE(done);
    EXPECT_EQ(done->accessibilityLabel(), "Done");
    EXPECT_EQ(done->frame().width(), toolkit::barItemWidth(*done));
    ASSERT_EQ(list->tableView()->numberOfRows(0), 4);
    ASSERT_TRUE(harness.selectRow(*list->tableView(), {0, 3}));
    harness.settle();
    auto* nav = dynamic_cast<toolkit::NavigationController*>(list->navigationController()->presentedViewController());
    ASSERT_TRUE(nav);
    auto* panel = dynamic_cast<VC_LoginPanel*>(nav->topViewController());
    ASSERT_TRUE(panel);
    EXPECT_EQ(panel->_username(), "") << "the form is not filled with the active account";
    nav->dismiss(false);
    harness.settle();
    list->setEditingMode(false, false);
    harness.settle();
    EXPECT_EQ(list->tableView()->numberOfRows(0), 3);
}

class TabletAccounts : public hxtest::ScreenFixture<hxtest::RecordedApp<HX_ConnectAppDelegate_iPad>> {
protected:
    TabletAccounts()
        : ScreenFixture({.form = hxtest::DeviceForm::tablet,
                         .screens = std::make_shared<HXUIScreens>(),
                         .signedIn = true,
                         .fonts = true}) {}
};

// On the tablet the master list's "Accounts" opens the list in a popover as tall as its rows, and
// taller by a row while editing.
TEST_F(TabletAccounts, TheListOpensInAPopoverSizedByItsRows) {
    storeTwoMoreAccounts();
    ASSERT_TRUE(launch());
    harness.settle();
    ASSERT_TRUE(harness.tapBarButton("Accounts"));
    harness.settle();
    auto* nav =
        dynamic_cast<toolkit::NavigationController*>(harness.window().rootViewController()->presentedViewController());
    ASSERT_TRUE(nav) << toolkit::outline(harness.window());
    auto* list = dynamic_cast<VC_Accounts*>(nav->topViewController());
    ASSERT_TRUE(list);
    EXPECT_EQ(list->tableView()->numberOfRows(0), 3);
    EXPECT_EQ(nav->preferredContentSize(), (toolkit::Size{320, 210 + 44 * 3}));
    expectOutline("accounts_tablet");
    expectSnapshot("accounts_tablet", {.scale = 1, .lightAndDark = true});
    list->setEditingMode(true, false);
    harness.settle();
    EXPECT_EQ(list->tableView()->numberOfRows(0), 4);
    EXPECT_EQ(nav->preferredContentSize(), (toolkit::Size{320, 210 + 44 * 4}));
    expectOutline("accounts_editing_tablet");
}

}  // namespace
