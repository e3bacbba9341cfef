// A list screen sees only the roles it is handed: with fake ones it asks them for its model and
// for the screen a row opens, and once their owner is gone a tap does nothing.
#include <gtest/gtest.h>

#include <map>

#include "app/connect_app_delegate.h"
#include "platform/foundation/user_defaults.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/table_view.h"
#include "service/message_list_model.h"
#include "tests/support/screen_fixture.h"
#include "tests/ui/messages/stored_threads.h"
#include "ui/messages/message_list_table_view_cell.h"
#include "ui/messages/vc_sms.h"

namespace {

// The lists' role: a model over the fixture's application object, made for the view types asked.
struct FakeLists : HXListLoadingRole {
    std::weak_ptr<HXApplicationWebClient> app;
    std::vector<int> made;
    std::vector<int> refreshed;
    std::shared_ptr<HXMessageListModel> makeMessageList(int viewType) override {
        made.push_back(viewType);
        return std::make_shared<HXMessageListModel>(app,
                                                    HXMessageListModel::smsViewSettings("https://voice.test/voice/"));
    }
    void refreshMessageList(int view) override { refreshed.push_back(view); }
};

// The rows' role: signed in (offline, with no alerts role); the list's maker opens the stand-in
// conversation screen.
struct FakeRowActions : HXListActionsRole, HXConversationOperationsRole {
    std::vector<HXConversationSetup> opened;
    std::shared_ptr<toolkit::ViewController> lastScreen;
    bool isInBackground() const override { return false; }
    bool isSignedIn() const override { return true; }
    void refreshContactName(const std::string&) override {}
    std::vector<int> messageOptionsForConversation(const std::shared_ptr<store::ManagedObject>&) override { return {}; }
    std::optional<std::string> titleForConversationAction(int) override { return std::nullopt; }
    std::optional<std::string> imageForConversationAction(int) override { return std::nullopt; }
    void deleteConversationWithID(const std::string&) override {}
    void changeArchiveStateForConversationWithID(const std::string&) override {}
    void changeReadStatusForConversationWithID(const std::string&) override {}
    std::optional<std::string> markConversation(const std::string&, bool) override { return std::nullopt; }
    void blockContact(bool, const std::string&) override {}
    void createEmailForConversationWithID(const std::string&) override {}
    std::shared_ptr<toolkit::ViewController> conversationScreen(const HXConversationSetup& setup) {
        opened.push_back(setup);
        lastScreen = std::make_shared<HXConversationScreen>(setup);
        return lastScreen;
    }
};

struct ListRoles : hxtest::ScreenFixture<HX_ConnectAppDelegate> {};

}  // namespace

TEST_F(ListRoles, AListScreenAsksOnlyTheRolesItWasHanded) {
    ASSERT_TRUE(hxtest::signInWithEmptyStore(*app, "roles@example.test"));

    auto lists = std::make_shared<FakeLists>();
    lists->app = app;
    auto actions = std::make_shared<FakeRowActions>();
    auto screen = std::make_shared<VC_SMS>(
        VC_Messages::Roles{.lists = lists, .listActions = actions, .conversationOperations = actions},
        VC_Messages::Makers{
            .conversation = [weak = std::weak_ptr<FakeRowActions>(actions)](
                                const HXConversationSetup& setup) -> std::shared_ptr<toolkit::ViewController> {
                auto fake = weak.lock();
                return fake ? fake->conversationScreen(setup) : nullptr;
            }},
        1);
    auto navigation = std::make_shared<toolkit::NavigationController>(screen);
    harness.setRoot(navigation);
    harness.settle();
    // The model comes from the lists' role, once, for the screen's view type.
    EXPECT_EQ(lists->made, std::vector<int>{1});
    ASSERT_TRUE(screen->model());

    ASSERT_TRUE(hxtest::storeTwoThreads(*screen->model(), harness));
    ASSERT_EQ(screen->tableView()->numberOfRows(0), 2);

    // A tap on the newest row opens what the rows' role makes (the thread's newest page is the
    // list model's own request, answered to it).
    auto row = [&](long index) { return screen->tableView()->cellForRow(toolkit::IndexPath{0, index}); };
    ASSERT_TRUE(row(0));
    ASSERT_TRUE(harness.tap(*row(0)));
    harness.settle();
    ASSERT_EQ(actions->opened.size(), 1u);
    EXPECT_EQ(actions->opened[0].conversationID, "b");
    EXPECT_EQ(actions->opened[0].conversationType, 1);
    EXPECT_FALSE(actions->opened[0].peeking);
    EXPECT_EQ(navigation->topViewController(), actions->lastScreen.get());
    navigation->popViewController(false);
    harness.settle();

    // With the roles' owner gone the screen finds nothing to ask: a tap opens nothing.
    actions.reset();
    ASSERT_TRUE(row(1));
    ASSERT_TRUE(harness.tap(*row(1)));
    harness.settle();
    EXPECT_EQ(navigation->topViewController(), screen.get());
    EXPECT_EQ(lists->made, std::vector<int>{1}) << "the model is made once";
}

namespace {

// The alerts role of a list: offline, with no account; a preference set here is answered from
// here, the others as stored.
struct FakeAlerts : HXAlertsRole {
    std::map<HXPreference, bool> preferences;
    bool preference(HXPreference preference) const override {
        const auto it = preferences.find(preference);
        return it != preferences.end() ? it->second : HXAlertsRole::preference(preference);
    }
    std::shared_ptr<HX_Account> account() const override { return nullptr; }
    bool connectionAvailable() const override { return false; }
    bool isABAccessRestricted() override { return false; }
    void presentAlert(const HXAlert&) override {}
    void presentAlert(const std::shared_ptr<toolkit::AlertController>&, toolkit::ViewController*) override {}
};

}  // namespace

// The rows count a conversation's messages as the list's alerts role says, whatever is stored.
TEST_F(ListRoles, TheRowsCountTheMessagesAsTheAlertsRoleSays) {
    ASSERT_TRUE(hxtest::signInWithEmptyStore(*app, "counts@example.test"));
    auto lists = std::make_shared<FakeLists>();
    lists->app = app;
    auto actions = std::make_shared<FakeRowActions>();
    auto alerts = std::make_shared<FakeAlerts>();
    auto screen = std::make_shared<VC_SMS>(
        VC_Messages::Roles{.lists = lists, .listActions = actions, .conversationOperations = actions, .alerts = alerts},
        VC_Messages::Makers{}, 1);
    harness.setRoot(std::make_shared<toolkit::NavigationController>(screen));
    harness.settle();
    ASSERT_TRUE(screen->model());
    int saved = 0;
    foundation::NotificationCenter::defaultCenter().addObserver(&saved, "kOlderConversationMessagesLoadedNotification",
                                                                [&](const foundation::Notification&) { ++saved; });
    const std::string reply = R"({"thread":[{"id":"c","contact":[{"phoneNumber":"+15550003","name":"Cy"}],"item":[
        {"id":"c1","type":"smsIn","startTime":"1700000003000","messageText":"x"},
        {"id":"c2","type":"smsIn","startTime":"1700000002000","messageText":"y"},
        {"id":"c3","type":"smsOut","startTime":"1700000001000","messageText":"z"}]}]})";
    screen->model()->parseMessagesFromData_v2(std::make_shared<foundation::Data>(reply.begin(), reply.end()), 0, {});
    ASSERT_TRUE(harness.clock().runUntil([&] { return saved > 0; }, 5));
    foundation::NotificationCenter::defaultCenter().removeObserver(&saved);
    harness.settle();
    ASSERT_EQ(screen->tableView()->numberOfRows(0), 1);
    for (const bool counts : {true, false}) {
        SCOPED_TRACE(counts);
        foundation::UserDefaults::standardUserDefaults()->setBool(!counts, "showMessageCounts");
        alerts->preferences[HXPreference::ShowMessageCounts] = counts;
        screen->tableView()->reloadData();
        harness.settle();
        auto row = std::dynamic_pointer_cast<MessageListTableViewCell>(
            screen->tableView()->cellForRow(toolkit::IndexPath{0, 0}));
        ASSERT_TRUE(row);
        row->layoutIfNeeded();
        EXPECT_EQ(row->titleLabel().text(), counts ? "Cy (3)" : "Cy");
    }
    foundation::UserDefaults::standardUserDefaults()->removeObjectForKey("showMessageCounts");
}
