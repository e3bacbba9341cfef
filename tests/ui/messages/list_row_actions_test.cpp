// What a list's rows offer and do, row by row, through roles that record every call: the swipe
// actions of each kind of row signed in and out, the star, the screen a tap opens and the request
// it sends, the long-press menu of a list and of the history, and the voicemail prefetch a shown
// row starts.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/connect_app_delegate.h"
#include "model/account.h"
#include "model/contacts.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/user_defaults.h"
#include "platform/store/context.h"
#include "platform/store/managed_object.h"
#include "platform/toolkit/menu.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/table_view.h"
#include "platform/toolkit/traits.h"
#include "service/message_list_model.h"
#include "tests/support/screen_fixture.h"
#include "tests/support/signed_in_account.h"
#include "tests/ui/messages/stored_threads.h"
#include "ui/messages/message_list_table_view_cell.h"
#include "ui/messages/vc_messages.h"

namespace {

constexpr const char* kBase = "https://voice.test/voice/";

// The lists' role: each view type's own settings (the history with texts and voicemail too).
struct ListLoadingSpy : HXListLoadingRole {
    std::weak_ptr<HXApplicationWebClient> app;
    std::shared_ptr<HXMessageListModel> makeMessageList(int viewType) override {
        auto settings = viewType == 1   ? HXMessageListModel::smsViewSettings(kBase)
                        : viewType == 2 ? HXMessageListModel::voicemailViewSettings(kBase)
                                        : HXMessageListModel::historyViewSettings(kBase, true);
        return std::make_shared<HXMessageListModel>(app, settings);
    }
    void refreshMessageList(int) override {}
};

// Every role a row reaches, recording what it is asked to do; action titles are "#code".
struct Recorder : HXListActionsRole,
                  HXConversationOperationsRole,
                  HXConversationActionsRole,
                  HXConversationOptionsRole,
                  HXAlertsRole {
    bool signedIn = true;
    bool online = false;
    std::vector<int> options;
    std::vector<std::string> calls;
    std::vector<HXConversationSetup> opened;

    std::shared_ptr<HX_Account> account() const override { return nullptr; }
    bool connectionAvailable() const override { return online; }
    bool isABAccessRestricted() override { return false; }
    void presentAlert(const HXAlert&) override {}
    void presentAlert(const std::shared_ptr<toolkit::AlertController>&, toolkit::ViewController*) override {}
    bool isInBackground() const override { return false; }
    bool isSignedIn() const override { return signedIn; }
    void refreshContactName(const std::string&) override {}
    std::vector<int> messageOptionsForConversation(const std::shared_ptr<store::ManagedObject>&) override {
        return options;
    }
    std::optional<std::string> titleForConversationAction(int code) override { return "#" + std::to_string(code); }
    std::optional<std::string> imageForConversationAction(int) override { return std::nullopt; }
    void deleteConversationWithID(const std::string& id) override { calls.push_back("delete " + id); }
    void changeArchiveStateForConversationWithID(const std::string& id) override { calls.push_back("archive " + id); }
    void changeReadStatusForConversationWithID(const std::string& id) override { calls.push_back("read " + id); }
    std::optional<std::string> markConversation(const std::string& id, bool read) override {
        calls.push_back(std::string(read ? "mark read " : "mark unread ") + id);
        return std::nullopt;
    }
    void blockContact(bool block, const std::string& id) override {
        calls.push_back(std::string(block ? "block " : "unblock ") + id);
    }
    void createEmailForConversationWithID(const std::string& id) override { calls.push_back("email " + id); }
    // The list's conversation maker.
    std::shared_ptr<toolkit::ViewController> conversationScreen(const HXConversationSetup& setup) {
        opened.push_back(setup);
        return std::make_shared<HXConversationScreen>(setup);
    }
    void placeCallTo(const std::string& number) override { calls.push_back("call " + number); }
    void newMessageToNumber(const std::string& numbers, const std::string&, const std::string&) override {
        calls.push_back("text " + numbers);
    }
    void showOptionsForConversation(const std::string& id, graphics::Point, toolkit::View&) override {
        calls.push_back("options " + id);
    }
};

struct Row {
    const char* id;
    int type;
    bool read;
    const char* number;
    bool archived;
};
// Newest first in every list that shows them.
const Row kRows[] = {
    {"text-unread", 10, false, "+15550001", false}, {"text-read-archived", 11, true, "+15550002", true},
    {"text-unknown", 10, true, "Unknown", false},   {"call-missed", 0, false, "+15550003", false},
    {"call-unknown", 1, true, "Unknown", false},    {"call-placed", 7, true, "+15550004", false},
    {"voicemail", 2, false, "+15550005", false},
};

struct RowActions : hxtest::ScreenFixture<HX_ConnectAppDelegate> {
    std::shared_ptr<ListLoadingSpy> lists = std::make_shared<ListLoadingSpy>();
    std::shared_ptr<Recorder> roles = std::make_shared<Recorder>();

    void SetUp() override {
        ScreenFixture::SetUp();
        ASSERT_TRUE(hxtest::signInWithEmptyStore(*app, "rows@example.test"));
        // A token that holds for the test: requests of the service's API go out at once.
        app->account()->setOAuthDict(hxtest::bearerToken("token", dispatch::wallNow() + 3600));
        lists->app = app;
        auto context = app->managedObjectContext();
        ASSERT_TRUE(context);
        context->performAndWait([&] {
            double date = 1700000000;
            for (const Row& r : kRows) {
                auto c = context->insertNewObject("HX_Conversation").value();
                (void)c->setValue("conversationID", r.id);
                (void)c->setValue("sender", std::string("Sender ") + r.id);
                (void)c->setValue("phoneNumber", r.number);
                (void)c->setValue("type", r.type);
                (void)c->setValue("isRead", r.read);
                (void)c->setValue("isArchived", r.archived);
                (void)c->setValue("lastdate", foundation::Date{date -= 60});
            }
            ASSERT_TRUE(context->save().ok());
        });
    }
    // A list of a view type on screen, in a navigation controller, with its rows fetched.
    std::shared_ptr<VC_Messages> show(int viewType) {
        auto screen =
            std::make_shared<VC_Messages>(VC_Messages::Roles{.lists = lists,
                                                             .listActions = roles,
                                                             .conversationOperations = roles,
                                                             .conversations = roles,
                                                             .options = roles,
                                                             .alerts = roles},
                                          VC_Messages::Makers{.conversation =
                                                                  [r = roles.get()](const HXConversationSetup& setup) {
                                                                      return r->conversationScreen(setup);
                                                                  }},
                                          viewType);
        harness.setRoot(std::make_shared<toolkit::NavigationController>(screen));
        harness.settle();
        EXPECT_TRUE(harness.clock().runUntil(
            [&] { return screen->tableView()->numberOfSections() > 0 && screen->tableView()->numberOfRows(0) > 0; }, 5))
            << viewType;
        harness.settle();
        return screen;
    }
    static std::optional<toolkit::IndexPath> rowOf(VC_Messages& screen, const std::string& id) {
        auto table = screen.tableView();
        const long n = table->numberOfSections() > 0 ? table->numberOfRows(0) : 0;
        for (long r = 0; r < n; ++r)
            if (auto c = screen.rowAt({0, r}); c && c->conversationID() == id) return toolkit::IndexPath{0, r};
        return std::nullopt;
    }
    // The codes of a swipe's actions, in order, and what running each of them asked for.
    struct Swipe {
        std::vector<std::string> titles;
        std::vector<std::string> calls;
    };
    Swipe swipe(VC_Messages& screen, toolkit::IndexPath at, bool leading) {
        auto& table = *screen.tableView();
        auto config = leading ? screen.leadingSwipeActions(table, at) : screen.trailingSwipeActions(table, at);
        Swipe out;
        if (!config || !*config) return out;
        EXPECT_FALSE((*config)->performsFirstActionWithFullSwipe);
        roles->calls.clear();
        for (const auto& action : (*config)->actions) {
            out.titles.push_back(action->title);
            action->handler(*action, table, nullptr);
        }
        out.calls = roles->calls;
        return out;
    }
};

using Strings = std::vector<std::string>;

}  // namespace

TEST_F(RowActions, EachKindOfRowSwipesToItsOwnActionsAndEachDoesWhatItSays) {
    struct Case {
        int view;
        const char* id;
        bool signedIn;
        Strings leading, leadingCalls, trailing, trailingCalls;
    };
    const Case cases[] = {
        // Texts: read state on the left; delete, archive, call on the right.
        {1,
         "text-unread",
         true,
         {"#5"},
         {"mark read text-unread"},
         {"#0", "#3", "#1"},
         {"delete text-unread", "archive text-unread", "call +15550001"}},
        {1,
         "text-read-archived",
         true,
         {"#6"},
         {"mark unread text-read-archived"},
         {"#0", "#4", "#1"},
         {"delete text-read-archived", "archive text-read-archived", "call +15550002"}},
        // No number to call.
        {1,
         "text-unknown",
         true,
         {"#6"},
         {"mark unread text-unknown"},
         {"#0", "#3"},
         {"delete text-unknown", "archive text-unknown"}},
        // Signed out, a text's actions stay.
        {1,
         "text-unread",
         false,
         {"#5"},
         {"mark read text-unread"},
         {"#0", "#3", "#1"},
         {"delete text-unread", "archive text-unread", "call +15550001"}},
        {2,
         "voicemail",
         true,
         {"#5"},
         {"mark read voicemail"},
         {"#0", "#3", "#1"},
         {"delete voicemail", "archive voicemail", "call +15550005"}},
        // History calls: nothing on the left; delete, text, call on the right, and nothing at
        // all signed out.
        {3,
         "call-missed",
         true,
         {},
         {},
         {"#0", "#2", "#1"},
         {"delete call-missed", "text +15550003", "call +15550003"}},
        {3,
         "call-placed",
         true,
         {},
         {},
         {"#0", "#2", "#1"},
         {"delete call-placed", "text +15550004", "call +15550004"}},
        {3, "call-unknown", true, {}, {}, {"#0"}, {"delete call-unknown"}},
        {3, "call-missed", false, {}, {}, {}, {}},
        // Texts and voicemail in the history keep their own actions.
        {3,
         "text-unread",
         true,
         {"#5"},
         {"mark read text-unread"},
         {"#0", "#3", "#1"},
         {"delete text-unread", "archive text-unread", "call +15550001"}},
        {3,
         "voicemail",
         false,
         {"#5"},
         {"mark read voicemail"},
         {"#0", "#3", "#1"},
         {"delete voicemail", "archive voicemail", "call +15550005"}},
    };
    for (const Case& c : cases) {
        const std::string which = std::to_string(c.view) + " " + c.id + (c.signedIn ? "" : " signed out");
        roles->signedIn = c.signedIn;
        auto screen = show(c.view);
        auto at = rowOf(*screen, c.id);
        ASSERT_TRUE(at) << which;
        const Swipe left = swipe(*screen, *at, true), right = swipe(*screen, *at, false);
        EXPECT_EQ(left.titles, c.leading) << which;
        EXPECT_EQ(left.calls, c.leadingCalls) << which;
        EXPECT_EQ(right.titles, c.trailing) << which;
        EXPECT_EQ(right.calls, c.trailingCalls) << which;
    }
}

TEST_F(RowActions, TheStarTogglesOnlyForASignedInAccount) {
    auto screen = show(1);
    auto at = rowOf(*screen, "text-unread");
    ASSERT_TRUE(at);
    struct Case {
        bool signedIn;
        bool starredAfter;
    };
    const Case cases[] = {{false, false}, {true, true}, {false, true}, {true, false}};
    for (const Case& c : cases) {
        roles->signedIn = c.signedIn;
        screen->accessoryButtonTapped(*screen->tableView(), *at);
        harness.settle();
        EXPECT_EQ(screen->rowAt(*at)->isStarred(), c.starredAfter) << c.signedIn;
    }
}

// A star's tap is shown on its own row by the row model, and a change of the contacts' names asks
// again for the rows in view: neither reads the whole list again, and the selected row stays so.
TEST_F(RowActions, AStarAndTheContactsNamesShowRowsAgainAndNotTheWholeList) {
    auto screen = show(1);
    auto& table = *screen->tableView();
    auto at = rowOf(*screen, "text-unread");
    ASSERT_TRUE(at);
    auto star = [&] {
        auto cell = std::dynamic_pointer_cast<MessageListTableViewCell>(table.cellForRow(*at));
        return cell ? cell->starButton().accessibilityLabel() : std::string("no cell");
    };
    ASSERT_EQ(star(), "Add Star");
    const size_t whole = table.wholeReloads();
    screen->accessoryButtonTapped(table, *at);
    harness.settle();
    EXPECT_EQ(star(), "Remove Star");
    EXPECT_EQ(table.wholeReloads(), whole) << "the star read the whole list again";

    const size_t shown = table.cellsShown(0);
    const auto visible = table.indexPathsForVisibleRows();
    const auto rows = std::count_if(visible.begin(), visible.end(), [](auto ip) { return ip.section == 0; });
    ASSERT_GT(rows, 1);
    const toolkit::IndexPath selected{0, rows - 1};
    table.selectRow(selected, false);
    foundation::NotificationCenter::defaultCenter().post(kContactsCacheUpdatedNotification);
    harness.settle();
    EXPECT_EQ(table.wholeReloads(), whole) << "the names read the whole list again";
    EXPECT_EQ(table.cellsShown(0), shown + static_cast<size_t>(rows)) << "the rows in view, and only they";
    EXPECT_EQ(table.indexPathForSelectedRow(), selected);
}

TEST_F(RowActions, ATapOpensTheRowsScreenAndAsksForItsMessagesUnlessItIsACallOrSignedOut) {
    struct Case {
        int view;
        const char* id;
        bool signedIn;
        int conversationType;
        bool asksForMessages;
    };
    const Case cases[] = {
        {1, "text-unread", true, 1, true},  {1, "text-unread", false, 1, false},
        {2, "voicemail", true, 2, true},    {3, "call-missed", true, 3, false},
        {3, "call-placed", true, 3, false}, {3, "text-read-archived", true, 1, true},
        {3, "voicemail", true, 2, true},
    };
    for (const Case& c : cases) {
        const std::string which = std::to_string(c.view) + " " + c.id + (c.signedIn ? "" : " signed out");
        roles->signedIn = c.signedIn;
        roles->opened.clear();
        auto screen = show(c.view);
        auto at = rowOf(*screen, c.id);
        ASSERT_TRUE(at) << which;
        const size_t before = transport->requests().size();
        screen->didSelectRow(*screen->tableView(), *at);
        harness.settle();
        ASSERT_EQ(roles->opened.size(), 1u) << which;
        EXPECT_EQ(roles->opened[0].conversationID, c.id) << which;
        EXPECT_EQ(roles->opened[0].conversationType, c.conversationType) << which;
        EXPECT_FALSE(roles->opened[0].peeking) << which;
        EXPECT_EQ(screen->model()->openConversationID(), c.id) << which;
        size_t asked = 0;
        const auto requests = transport->requests();
        for (size_t i = before; i < requests.size(); ++i)
            asked += requests[i].bodyText().find(c.id) != std::string::npos;
        EXPECT_EQ(asked > 0, c.asksForMessages) << which;
    }
}

TEST_F(RowActions, TheLongPressMenuOffersTheConversationsOptionsAndTheHistoryNoReadState) {
    roles->options = {1, 2, 3, 9, 10, 0};
    struct Case {
        int view;
        const char* id;
        Strings titles;
        Strings calls;
    };
    const Case cases[] = {
        {1,
         "text-unread",
         {"#1", "#2", "#3", "#5", "#9", "#10", "-", "#0"},
         {"call +15550001", "text +15550001", "archive text-unread", "read text-unread", "email text-unread",
          "block text-unread", "delete text-unread"}},
        {1,
         "text-read-archived",
         {"#1", "#2", "#3", "#6", "#9", "#10", "-", "#0"},
         {"call +15550002", "text +15550002", "archive text-read-archived", "read text-read-archived",
          "email text-read-archived", "block text-read-archived", "delete text-read-archived"}},
        {3,
         "call-missed",
         {"#1", "#2", "#3", "#9", "#10", "-", "#0"},
         {"call +15550003", "text +15550003", "archive call-missed", "email call-missed", "block call-missed",
          "delete call-missed"}},
    };
    for (const Case& c : cases) {
        const std::string which = std::to_string(c.view) + " " + c.id;
        auto screen = show(c.view);
        auto at = rowOf(*screen, c.id);
        ASSERT_TRUE(at) << which;
        auto config = screen->contextMenuConfiguration(*screen->tableView(), *at, {});
        ASSERT_TRUE(config) << which;
        EXPECT_EQ(config->identifier, c.id) << which;
        auto menu = config->actionProvider({});
        ASSERT_TRUE(menu) << which;
        EXPECT_EQ(menu->displayTitles(), c.titles) << which;
        roles->calls.clear();
        for (const auto& title : c.titles)
            if (title != "-") {
                auto action = menu->findChoosableAction(title);
                ASSERT_TRUE(action) << which << " " << title;
                EXPECT_TRUE(action->perform()) << which << " " << title;
            }
        EXPECT_EQ(roles->calls, c.calls) << which;
    }
    // Before system version 13 a long press shows the options popover instead.
    toolkit::Device::current().setSystemVersion(12);
    auto screen = show(1);
    EXPECT_FALSE(screen->contextMenuConfiguration(*screen->tableView(), {0, 0}, {}));
    toolkit::Device::current().reset();
}

TEST_F(RowActions, AShownVoicemailRowIsPrefetchedOnlyOnlineWithThePreference) {
    struct Case {
        int view;
        bool online;
        bool preference;
        bool prefetched;
    };
    const Case cases[] = {
        {2, true, true, true},
        {2, false, true, false},
        {2, true, false, false},
        {3, true, true, false},
    };
    for (const Case& c : cases) {
        const std::string which =
            std::to_string(c.view) + (c.online ? " online" : " offline") + (c.preference ? " VMprefetch" : "");
        roles->online = c.online;
        foundation::UserDefaults::standardUserDefaults()->setBool(c.preference, "VMprefetch");
        auto screen = show(c.view);
        auto at = rowOf(*screen, "voicemail");
        ASSERT_TRUE(at) << which;
        screen->model()->clearVMPrefetchList();
        (void)screen->cellForRow(*screen->tableView(), *at);
        harness.clock().runUntil([&] { return !screen->model()->vmPrefetchList().empty(); }, 2);
        EXPECT_EQ(screen->model()->vmPrefetchList(), c.prefetched ? Strings{"voicemail"} : Strings{}) << which;
    }
}
