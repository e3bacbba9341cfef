// The message lists against the service: the rows are the newest threads in order, a pull ends
// with the date of the load, the more row pages back until the service has no older page, Spam
// and Archive load their own lists, a search asks the service only from its row, and the views'
// roots, search bar and pops are the real screens'.
#include <gtest/gtest.h>

#include <map>

#include "model/conversation.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/files.h"
#include "platform/foundation/notification_center.h"
#include "platform/net/transport.h"
#include "tests/ui/messages/list_fixture.h"
#include "ui/messages/message_list_table_view_cell.h"
#include "ui/messages/vc_history.h"
#include "ui/messages/vc_sms.h"
#include "ui/messages/vc_vm.h"

namespace {

using hxtest::DeviceForm;
using toolkit::IndexPath;

struct Lists : hxtest::ListFixture<HX_ConnectAppDelegate_iPhone> {
    Lists() : ListFixture(DeviceForm::phone, 15) {}
    void SetUp() override {
        ListFixture::SetUp();
        useAccount({});
    }
    bool isText(const emulator::Thread& t) { return t.isText(); }
    std::vector<std::string> inbox() {
        return serviceIDs([](const emulator::Thread& t) { return t.isText() && !t.spam && !t.archived; });
    }
    // The text threads of "All": the archived ones too (the account's first data stored them).
    std::vector<std::string> stored() {
        return serviceIDs([](const emulator::Thread& t) { return t.isText() && !t.spam; });
    }
    // Selects a dropdown row as the user's choice would.
    void choose(VC_Messages& l, long row) {
        l.didSelectRow(*l.navBarMenu(), row, 0);
        harness.settle();
    }
    bool tapMoreRow(VC_Messages& l) {
        auto table = l.tableView();
        if (table->numberOfSections() < 2) return false;
        return harness.selectRow(*table, IndexPath{1, 0});
    }
};

TEST_F(Lists, TheViewsHoldTheListScreensAndTheirSettings) {
    ASSERT_TRUE(launch());
    harness.settle();
    struct Case {
        int view;
        const char* className;
        int64_t mask;
        const char* title;
        std::vector<std::string> scopes;
        long dropdownRows;
    };
    const Case cases[] = {{1, "VC_SMS", 3072, "SMS", {"Contact", "Message", "Note"}, 6},
                          {2, "VC_VM", 20, "Voicemail", {"Contact", "Message", "Note"}, 6},
                          {3, "VC_History", 242067, "History", {"Contact", "Note"}, 7}};
    for (const auto& c : cases) {
        app->selectViewForIndex(c.view);
        harness.settle();
        auto& l = list(c.view);
        EXPECT_EQ(l.className(), c.className);
        ASSERT_TRUE(l.model()) << c.view;
        EXPECT_EQ(l.model()->viewSettings().get("typeMask").int64Value(), c.mask) << c.view;
        EXPECT_EQ(l.searchBar()->scopeButtonTitles(), c.scopes) << c.view;
        EXPECT_EQ(l.searchBar()->placeholder(), std::string("Search ") + c.title) << c.view;
        EXPECT_EQ(l.navBarMenu()->numberOfRowsInComponent(0), c.dropdownRows) << c.view;
        EXPECT_EQ(l.navigationItem().titleView, l.navBarMenu()) << "the dropdown is the title";
        EXPECT_TRUE(app->messageListIsShowing()) << c.view;
        // Shown for the first time, before any row: the search bar just hidden under the bars,
        // not the first rows with it.
        auto table = l.tableView();
        EXPECT_EQ(table->contentOffset().y, l.searchBar()->frame().height() - table->adjustedContentInset().top)
            << c.view;
    }
    // Only the SMS list composes, on the phone.
    EXPECT_TRUE(list(1).navigationItem().rightBarButtonItem());
    EXPECT_FALSE(list(2).navigationItem().rightBarButtonItem());
}

TEST_F(Lists, TheDropdownNamesTheFilterItsOwnListShows) {
    ASSERT_TRUE(launch());
    harness.settle();
    auto shownTitle = [](VC_Messages& l) -> std::string {
        const auto& buttons = l.navBarMenu()->buttons();
        if (buttons.empty()) return "(no button)";
        auto* title = dynamic_cast<toolkit::Button*>(buttons.front()->currentCustomView().get());
        return title ? title->currentTitle().value_or("") : "(no title)";
    };
    app->selectViewForIndex(3);
    harness.settle();
    auto& history = list(3);
    long missed = -1;
    for (long row = 0; row < history.navBarMenu()->numberOfRowsInComponent(0); ++row)
        if (history.titleForRow(*history.navBarMenu(), row, 0) == "Missed") missed = row;
    ASSERT_GT(missed, 0);
    choose(history, missed);
    EXPECT_EQ(shownTitle(history), "Missed");
    // Each list picks its own stored filter as it appears, and its title says which.
    for (int view : {1, 3}) {
        app->selectViewForIndex(view);
        harness.settle();
        EXPECT_EQ(shownTitle(list(view)), view == 1 ? "All" : "Missed") << view;
    }
}

TEST_F(Lists, RowsAreTheNewestThreadsInOrderAndAPullEndsWithTheDate) {
    auto& l = launchAndShow(1);
    const auto expected = stored();
    const auto shown = rowIDs(l);
    ASSERT_GE(shown.size(), 20u);
    // The first page holds the service's 20 newest text threads, newest first.
    EXPECT_EQ(std::vector<std::string>(shown.begin(), shown.begin() + 20),
              std::vector<std::string>(expected.begin(), expected.begin() + 20));
    ASSERT_FALSE(bodies("api2thread/list").empty());
    EXPECT_EQ(bodies("api2thread/list").front(), "[2,20,15,null,null,[null,true,true]]");

    // A pull asks for the first page again and ends with the date of that load.
    service->clearRequests();
    l.refreshControl()->attributedTitle = "";
    // From the top of the list, the search bar showing.
    l.tableView()->setContentOffset({0, -l.tableView()->adjustedContentInset().top});
    harness.pullToRefresh(*l.tableView());
    ASSERT_TRUE(settleUntil([&] { return !l.refreshControl()->isRefreshing(); }));
    EXPECT_EQ(bodies("api2thread/list").size(), 1u);
    EXPECT_EQ(l.refreshControl()->attributedTitle.rfind("Last Updated: ", 0), 0u)
        << l.refreshControl()->attributedTitle;
    // The list goes back to its top with the search bar hidden under the bars again.
    harness.settle();
    EXPECT_EQ(l.tableView()->contentOffset().y,
              l.searchBar()->frame().height() - l.tableView()->adjustedContentInset().top);
}

namespace {
// The lists as the program runs them: the application object is the process's, so numbers are
// formatted with its phone formatter.
struct ListsWithFormatter : hxtest::ListFixture<HX_ConnectAppDelegate_iPhone> {
    ListsWithFormatter() : ListFixture(DeviceForm::phone, 15, false, true) {}
    void SetUp() override {
        ListFixture::SetUp();
        useAccount({});
    }
};
}  // namespace

TEST_F(ListsWithFormatter, RowsOfNumbersWithoutANameShowTheFormattedNumber) {
    auto& l = launchAndShow(1);
    // The service's names by thread: none for about half of them.
    std::map<std::string, std::pair<std::string, std::vector<std::string>>> party;
    service->withAccount([&](emulator::Account& a) {
        for (const auto& t : a.threads) party[t.id] = {t.contactName, t.numbers};
        return 0;
    });
    auto digits = [](const std::string& s) {
        std::string d;
        for (char c : s)
            if (c >= '0' && c <= '9') d += c;
        return d;
    };
    int unnamed = 0;
    for (long r = 0; r < l.tableView()->numberOfRows(0); ++r) {
        auto conversation = l.conversationAtIndexPath({0, r});
        ASSERT_TRUE(conversation);
        const auto& [name, numbers] = party.at(conversation->value("conversationID").stringValue());
        if (numbers.size() != 1 || !conversation->value("ABName").stringValue().empty()) continue;
        auto cell = std::dynamic_pointer_cast<MessageListTableViewCell>(l.cellForRow(*l.tableView(), {0, r}));
        ASSERT_TRUE(cell);
        cell->setFrame(toolkit::Rect(0, 0, 320, 57));
        cell->layoutIfNeeded();
        const std::string title = cell->titleLabel().text();
        if (!name.empty()) {
            EXPECT_EQ(title.rfind(name, 0), 0u) << title;
            continue;
        }
        ++unnamed;
        // The number in its display form (the service names the party by its number), never an
        // empty name before the count.
        const std::string formatted = HX_Conversation(conversation).formattedNumber();
        ASSERT_FALSE(formatted.empty());
        EXPECT_NE(formatted, numbers[0]) << "shown as formatted";
        EXPECT_TRUE(digits(numbers[0]).ends_with(digits(formatted).substr(digits(formatted).size() - 10)));
        EXPECT_EQ(title.rfind(formatted, 0), 0u) << "row " << r << ": \"" << title << "\"";
    }
    EXPECT_GT(unnamed, 3) << "the account has threads of numbers without a name";
}

TEST_F(Lists, TheMoreRowSendsTheNextPageUntilTheMarkerIsZero) {
    auto& l = launchAndShow(1);
    ASSERT_EQ(l.tableView()->numberOfSections(), 2) << "older threads follow";
    EXPECT_EQ(l.cellForRow(*l.tableView(), IndexPath{1, 0})->textLabel().text(), "Load older messages…");
    service->clearRequests();
    size_t pages = 0;
    while (pages < 10 && tapMoreRow(l)) {
        ++pages;
        ASSERT_TRUE(settleUntil([&] { return bodies("api2thread/list").size() == pages && !loading(1); }));
        harness.settle();
    }
    EXPECT_EQ(l.model()->reloadPage(), 0u);
    const auto sent = bodies("api2thread/list");
    // 45 threads in pages of 20: at least two older pages, until a reply without "response" >
    // "conversation"; then no further request.
    ASSERT_GE(sent.size(), 2u) << foundation::join(sent, " ; ");
    ASSERT_LE(sent.size(), 3u) << foundation::join(sent, " ; ");
    int64_t previous = INT64_MAX;
    for (const auto& text : sent) {
        auto body = foundation::parseJSON(text);
        ASSERT_TRUE(body.ok()) << text;
        EXPECT_EQ(body.value().asArray().at(0).int64Value(), 2) << text;
        // The page token is the older bound in milliseconds of a whole second, in quotes.
        const auto& token = body.value().asArray().at(3);
        ASSERT_TRUE(token.isString()) << text;
        ASSERT_EQ(token.asString().size(), 13u) << text;
        EXPECT_EQ(token.asString().substr(10), "000") << text;
        const int64_t bound = std::stoll(token.asString());
        EXPECT_LT(bound, previous) << "each page is older";
        previous = bound;
    }
    EXPECT_EQ(l.model()->reloadPage(), 0u);
    EXPECT_EQ(l.tableView()->numberOfSections(), 1);
    EXPECT_EQ(rowIDs(l), stored()) << "every thread, newest first";
}

TEST_F(Lists, SpamAndArchiveLoadTheirOwnListsFromTheirMoreRow) {
    auto& l = launchAndShow(1);
    struct Case {
        long row;
        const char* prefix;
        bool spam;
    };
    for (const Case& c : {Case{5, "[5,20,15,", true}, Case{4, "[6,20,15,", false}}) {
        choose(l, c.row);
        service->clearRequests();
        ASSERT_TRUE(tapMoreRow(l)) << c.row;
        ASSERT_TRUE(settleUntil([&] { return !bodies("api2thread/list").empty(); })) << c.row;
        EXPECT_EQ(bodies("api2thread/list").front().rfind(c.prefix, 0), 0u) << bodies("api2thread/list").front();
        // The page marker of the list shown goes to 0 when the service's list has ended.
        ASSERT_TRUE(settleUntil([&] { return (c.spam ? l.model()->spamPage() : l.model()->archivePage()) == 0; }))
            << c.row;
        const auto wanted = serviceIDs(
            [&](const emulator::Thread& t) { return t.isText() && (c.spam ? t.spam : (t.archived && !t.spam)); });
        auto shown = rowIDs(l);
        std::sort(shown.begin(), shown.end());
        auto sorted = wanted;
        std::sort(sorted.begin(), sorted.end());
        EXPECT_EQ(shown, sorted) << "the rows of row " << c.row;
        EXPECT_EQ(l.tableView()->numberOfSections(), 1) << "no more row after the end";
    }
}

TEST_F(Lists, ASearchSendsNothingUntilItsRowIsChosen) {
    auto& l = launchAndShow(1);
    service->clearRequests();
    ASSERT_TRUE(l.enterSearch());
    EXPECT_TRUE(l.searchBar()->showsScopeBar());
    ASSERT_TRUE(harness.typeText("zz\"q%"));
    harness.settle();
    EXPECT_TRUE(bodies("api2thread/search").empty());
    EXPECT_TRUE(bodies("api2thread/list").empty());
    ASSERT_EQ(l.tableView()->numberOfSections(), 2) << "the search row shows with text";
    EXPECT_EQ(l.cellForRow(*l.tableView(), IndexPath{1, 0})->textLabel().text(), "Search all online messages…");
    ASSERT_TRUE(tapMoreRow(l));
    ASSERT_TRUE(settleUntil([&] { return !bodies("api2thread/search").empty(); }));
    // The text goes into the body as a JSON string: python3 reads it back as typed.
    const auto body = bodies("api2thread/search").front();
    if (hxtest::haveProgram("/usr/bin/python3")) {
        const auto file = home.path() / "search_body.json";
        ASSERT_TRUE(foundation::files::writeAtomically(file, body.data(), body.size()).ok());
        std::string out;
        ASSERT_EQ(hxtest::runCommand("/usr/bin/python3 -c 'import json,sys; b=json.load(open(sys.argv[1])); "
                                     "print(b[0]+\"|\"+str(b[1]))' " +
                                         file.string(),
                                     &out),
                  0)
            << body;
        EXPECT_EQ(out, "zz\"q%|200\n");
    }
    // Cancel clears the text and the row.
    l.searchBarCancelButtonClicked(*l.searchBar());
    harness.settle();
    EXPECT_EQ(l.searchBar()->text(), "");
    EXPECT_FALSE(l.searchBar()->showsScopeBar());
}

TEST_F(Lists, TheShellsSearchAndPopsReachTheListScreens) {
    auto& l = launchAndShow(1);
    // A row opens the titled conversation screen.
    auto* nav = l.navigationController();
    ASSERT_TRUE(nav);
    ASSERT_TRUE(harness.selectRow(*l.tableView(), IndexPath{0, 0}));
    harness.settle();
    ASSERT_EQ(nav->viewControllers().size(), 2u);
    EXPECT_EQ(nav->topViewController()->className(), "VC_Conversation");
    EXPECT_FALSE(app->messageListIsShowing());
    // The app's URL for the SMS list pops to the list.
    EXPECT_TRUE(app->applicationOpenURL("hxconnect://sms"));
    harness.settle();
    EXPECT_EQ(nav->viewControllers().size(), 1u);
    EXPECT_TRUE(app->messageListIsShowing());

    // "vm" pops one level of the voicemail view.
    app->selectViewForIndex(2);
    harness.settle();
    auto& vm = list(2);
    vm.navigationController()->pushViewController(std::make_shared<toolkit::ViewController>(), false);
    vm.navigationController()->pushViewController(std::make_shared<toolkit::ViewController>(), false);
    harness.settle();
    EXPECT_TRUE(app->applicationOpenURL("hxconnect://vm"));
    harness.settle();
    EXPECT_EQ(vm.navigationController()->viewControllers().size(), 2u);

    // Search from the shell: the SMS list at the top of its view with its search bar in focus.
    app->selectViewForIndex(1);
    harness.settle();
    ASSERT_TRUE(harness.selectRow(*l.tableView(), IndexPath{0, 1}));
    harness.settle();
    app->enterSearch(1);
    harness.settle();
    EXPECT_EQ(app->currentViewIndex(), 1);
    EXPECT_EQ(nav->viewControllers().size(), 1u);
    EXPECT_TRUE(l.searchBar()->isFirstResponder());
}

TEST_F(Lists, ALoadThatSendsNothingEndsItsSpinnerAndWaitsForTheSignIn) {
    auto& l = launchAndShow(1);
    auto account = app->account();
    const auto token = account->authV2();
    account->setAuthV2(std::nullopt);
    service->clearRequests();
    l.model()->loadMessages(HXMessageListModel::Sender::None);
    harness.settle();
    EXPECT_FALSE(l.refreshControl()->isRefreshing()) << "no request: no spinner left turning";
    EXPECT_FALSE(l.model()->isLoadingMessages());
    EXPECT_TRUE(bodies("api2thread/list").empty());
    // The sign-in observer stayed: a completed sign-in runs the load.
    account->setAuthV2(token);
    foundation::NotificationCenter::defaultCenter().post("kLoginNotification");
    ASSERT_TRUE(settleUntil([&] { return !bodies("api2thread/list").empty(); }));
}

// A token request that fails (a reply nothing can be taken from, wrongly typed, an error status,
// a cut connection) leaves the lists unasked for: the spinner ends, its "Refreshing data..." title
// with it, and the user hears that the data could not be had, once per failure, where the failure
// used to pass in silence. First at the launch, then at pulls with a token run out.
TEST_F(Lists, AFailedTokenRequestEndsTheSpinnerAndSaysSo) {
    // The no-connection alert asked for, since the shell's record was last cleared.
    auto told = [&] { return app->shell().count("alertNoConnection"); };
    emulator::ScriptedReply malformed;
    malformed.body = "{\"access_token\":";
    service->script("/o/oauth2/tokenrpc?action=issueToken", malformed, 100);
    foundation::UserDefaults::standardUserDefaults()->setInteger(1, "tabBarIndex");
    ASSERT_TRUE(launch());
    harness.settle();
    EXPECT_TRUE(settleUntil([&] { return told() > 0; }));
    auto& l = list(1);
    // The load's title went with its spinner: the list never loaded, so its first title is back.
    auto titleLeft = [&] { return l.refreshControl()->attributedTitle; };
    EXPECT_FALSE(l.refreshControl()->isRefreshing());
    EXPECT_EQ(titleLeft(), "Pull down to Refresh\u2026");
    EXPECT_FALSE(l.model()->isLoadingMessages());
    EXPECT_TRUE(bodies("api2thread/list").empty());
    EXPECT_EQ(told(), 1u);
    // The launch's loads a second later ask for a token again when the first request failed
    // before they ran: that request ends here, and its alert with the first, not inside a pull
    // (where the alert standing over the list would keep the pull from reaching it).
    auto quiet = [&] { return HXWebClientOf(*app).requests.empty(); };
    harness.advance(2);
    ASSERT_TRUE(settleUntil(quiet));
    ASSERT_TRUE(harness.tapAlertAction("Dismiss"));
    harness.settle();

    struct Case {
        const char* what;
        emulator::ScriptedReply reply;
    } cases[] = {
        {"wrongly typed", {.body = R"({"access_token":7,"token_type":"Bearer","expires_in":60})"}},
        {"error status", {.status = 500, .body = R"({"error":"backendError"})"}},
        {"cut", {.body = std::string(2000, ' ') + "{}", .dropMidBody = true}},
    };
    for (const auto& c : cases) {
        auto account = app->account();
        auto dict = account->oAuthDict().value_or(foundation::Dictionary{});
        dict.set("login_hint", foundation::Value("hint"));
        dict.set("expirationDate", foundation::Value(foundation::Date{dispatch::wallNow() - 1}));
        account->setOAuthDict(dict);
        service->clearScripts();
        service->script("/o/oauth2/tokenrpc?action=issueToken", c.reply, 100);
        app->shell().clear();
        l.tableView()->setContentOffset({0, -l.tableView()->adjustedContentInset().top});
        harness.pullToRefresh(*l.tableView());
        EXPECT_TRUE(settleUntil([&] { return told() > 0; })) << c.what;
        harness.advance(5);
        EXPECT_FALSE(l.refreshControl()->isRefreshing()) << c.what;
        EXPECT_EQ(titleLeft(), "Pull down to Refresh\u2026") << c.what;
        EXPECT_FALSE(l.model()->isLoadingMessages()) << c.what;
        EXPECT_GE(told(), 1u) << c.what;
        ASSERT_TRUE(settleUntil(quiet)) << c.what;
        ASSERT_TRUE(harness.tapAlertAction("Dismiss")) << c.what;
        harness.settle();
    }
}

TEST_F(Lists, APullWithAnExpiredTokenEndsItsSpinnerAndTheNextPullLoads) {
    auto& l = launchAndShow(1);
    // The token has run out: the pull asks for a new one and sends no list.
    auto account = app->account();
    auto token = account->oAuthDict().value();
    token.set("expirationDate", foundation::Value(foundation::Date{dispatch::wallNow() - 1}));
    account->setOAuthDict(token);
    service->clearRequests();
    l.refreshControl()->attributedTitle = "";
    l.tableView()->setContentOffset({0, -l.tableView()->adjustedContentInset().top});
    harness.pullToRefresh(*l.tableView());
    harness.settle();
    EXPECT_FALSE(l.refreshControl()->isRefreshing()) << "no list request: no spinner left turning";
    EXPECT_FALSE(l.model()->isLoadingMessages());
    EXPECT_TRUE(bodies("api2thread/list").empty());
    ASSERT_TRUE(settleUntil([&] {
        const auto t = app->account()->oAuthDict();
        const auto* expiry = t ? t->find("expirationDate") : nullptr;
        return expiry && expiry->isDate() && expiry->ifDate()->secondsSince1970 > dispatch::wallNow();
    })) << "the token came back";
    EXPECT_TRUE(bodies("api2thread/list").empty()) << "the list stays as stored until the next pull";
    // With the token, the next pull loads the list and ends with its date.
    l.tableView()->setContentOffset({0, -l.tableView()->adjustedContentInset().top});
    harness.pullToRefresh(*l.tableView());
    ASSERT_TRUE(settleUntil([&] { return !l.refreshControl()->isRefreshing() && !bodies("api2thread/list").empty(); }));
    EXPECT_EQ(bodies("api2thread/list").size(), 1u);
    EXPECT_EQ(l.refreshControl()->attributedTitle.rfind("Last Updated: ", 0), 0u)
        << l.refreshControl()->attributedTitle;
}

// A list left a little below its top comes back at its top; "Last Updated" tells only the time
// of the shown account's own last load.
TEST_F(Lists, AListComesBackAtItsTopWithItsAccountsLastUpdate) {
    auto& l = launchAndShow(1);
    auto table = l.tableView();
    const double top = l.searchBar()->frame().height() - table->adjustedContentInset().top;
    table->setContentOffset({0, top + 4});
    app->selectViewForIndex(2);
    harness.settle();
    EXPECT_FALSE(l.model()->lastUpdate()) << "forgotten off screen";
    app->selectViewForIndex(1);
    harness.settle();
    EXPECT_EQ(table->contentOffset().y, top);
    ASSERT_TRUE(settleUntil([&] { return !loading(1); }));

    // Another account, which kept its own time of the list's last load.
    ASSERT_TRUE(l.model()->lastUpdate());
    const double kept = 1700000000;
    app->account()->refreshDates().set("SMS", foundation::Date{kept});
    foundation::NotificationCenter::defaultCenter().post("kAccountSelectedNotification");
    EXPECT_EQ(l.model()->lastUpdate(), kept);
}

TEST_F(Lists, TurningShowFullHistoryOnAddsTextsAndVoicemailWithoutAReload) {
    auto& history = launchAndShow(1);
    (void)history;
    app->selectViewForIndex(3);
    harness.settle();
    auto& h = list(3);
    const long calls = h.tableView()->numberOfRows(0);
    service->clearRequests();
    foundation::UserDefaults::standardUserDefaults()->setBool(true, "showFullHistory");
    foundation::NotificationCenter::defaultCenter().post("kHistoryItemsSettingDidChangeNotification");
    harness.settle();
    EXPECT_EQ(h.model()->viewSettings().get("typeMask").int64Value(), 245143);
    EXPECT_GT(h.tableView()->numberOfRows(0), calls) << "the stored texts join the history";
    EXPECT_TRUE(bodies("api2thread/list").empty());
    // A text row of the full history opens a text conversation and reloads it.
    long textRow = -1;
    for (long r = 0; r < h.tableView()->numberOfRows(0) && textRow < 0; ++r)
        if (h.conversationAtIndexPath({0, r})->value("type").int64Value() >= 10) textRow = r;
    ASSERT_GE(textRow, 0);
    const auto id = h.conversationAtIndexPath({0, textRow})->value("conversationID").stringValue();
    ASSERT_TRUE(harness.selectRow(*h.tableView(), IndexPath{0, textRow}));
    harness.settle();
    auto* screen = dynamic_cast<HXConversationScreen*>(h.navigationController()->topViewController());
    ASSERT_TRUE(screen);
    EXPECT_EQ(screen->setup().conversationType, 1);
    EXPECT_EQ(screen->setup().conversationID, id);
    EXPECT_TRUE(settleUntil([&] { return !bodies("api2thread/get").empty(); }));
}

}  // namespace

namespace {

TEST_F(Lists, SwipeActionsReachTheServiceAndTheRowMovesLists) {
    auto& l = launchAndShow(1);
    choose(l, 1);  // Inbox
    auto table = l.tableView();
    ASSERT_GT(table->numberOfRows(0), 2);
    // Trailing: Delete, Archive, Call for a row with a number; leading: the read toggle.
    auto titles = harness.swipeRow(*table, IndexPath{0, 0}, toolkit::SwipeEdge::Trailing);
    ASSERT_EQ(titles.size(), 3u) << foundation::join(titles, ",");
    const auto archivedID = l.conversationAtIndexPath({0, 0})->value("conversationID").stringValue();
    service->clearRequests();
    ASSERT_TRUE(harness.tapSwipeAction(titles[1]));
    ASSERT_TRUE(settleUntil([&] { return !bodies("thread/updateattributes").empty(); }));
    EXPECT_NE(bodies("thread/updateattributes").front().find(archivedID), std::string::npos)
        << bodies("thread/updateattributes").front();
    ASSERT_TRUE(settleUntil([&] {
        auto ids = rowIDs(l);
        return std::find(ids.begin(), ids.end(), archivedID) == ids.end();
    })) << "the archived row leaves the inbox";
    choose(l, 4);  // Archive
    auto ids = rowIDs(l);
    EXPECT_NE(std::find(ids.begin(), ids.end(), archivedID), ids.end()) << "and shows in the archive";

    choose(l, 1);
    const auto deletedID = l.conversationAtIndexPath({0, 0})->value("conversationID").stringValue();
    titles = harness.swipeRow(*table, IndexPath{0, 0}, toolkit::SwipeEdge::Trailing);
    ASSERT_FALSE(titles.empty());
    service->clearRequests();
    ASSERT_TRUE(harness.tapSwipeAction(titles[0]));
    ASSERT_TRUE(settleUntil([&] { return !bodies("thread/delete").empty(); }));
    EXPECT_NE(bodies("thread/delete").front().find(deletedID), std::string::npos) << bodies("thread/delete").front();

    // A full swipe never runs the first action.
    service->clearRequests();
    harness.swipeRow(*table, IndexPath{0, 0}, toolkit::SwipeEdge::Trailing, true);
    harness.settle();
    EXPECT_TRUE(bodies("thread/delete").empty());
}

TEST_F(Lists, TheStarIsTheDevicesOwnAndUnstarringLeavesTheStarredList) {
    auto& l = launchAndShow(1);
    auto conversation = l.conversationAtIndexPath({0, 0});
    ASSERT_FALSE(conversation->value("isStarred").boolValue());
    service->clearRequests();
    l.accessoryButtonTapped(*l.tableView(), IndexPath{0, 0});
    harness.settle();
    EXPECT_TRUE(conversation->value("isStarred").boolValue());
    choose(l, 3);  // Starred
    ASSERT_EQ(rowIDs(l).size(), 1u);
    l.accessoryButtonTapped(*l.tableView(), IndexPath{0, 0});
    harness.settle();
    EXPECT_TRUE(rowIDs(l).empty()) << "the unstarred row leaves at once";
    EXPECT_EQ(service->requestCount(), 0u) << "no request for a star";
}

// A logout starts every list over for the next account: no data, not loading, every page marker
// at the first page, the voicemails asked for forgotten and no unread count on the tabs; the
// next account's unread items being in then loads the list again.
TEST_F(Lists, ALogoutStartsEveryListOverUntilTheNextAccountsUnreadItems) {
    auto& texts = launchAndShow(1);
    app->selectViewForIndex(2);
    harness.settle();
    auto& voicemail = list(2);
    ASSERT_TRUE(voicemail.model());
    voicemail.model()->prefetchVM("vm-kept");
    app->selectViewForIndex(1);
    harness.settle();
    auto badge = [&](int view) { return app->tabBarController()->viewControllers().at(view)->tabBarItem().badgeValue; };
    ASSERT_TRUE(texts.model()->initialLoadDone());
    ASSERT_NE(texts.model()->reloadPage(), 1u) << "the marker moved with the first page";
    ASSERT_FALSE(voicemail.model()->vmPrefetchList().empty());
    app->setUnreadCount(4, 1);
    app->setUnreadCount(2, 2);
    harness.settle();
    ASSERT_EQ(badge(1), "4");

    foundation::NotificationCenter::defaultCenter().post("kLogoutNotification");
    harness.settle();
    for (VC_Messages* l : {&texts, &voicemail}) {
        const auto& m = *l->model();
        const auto view = m.viewType();
        EXPECT_FALSE(m.initialLoadDone()) << view;
        EXPECT_FALSE(m.isLoadingMessages()) << view;
        EXPECT_EQ(m.reloadPage(), 1u) << view;
        EXPECT_EQ(m.spamPage(), 1u) << view;
        EXPECT_EQ(m.archivePage(), 1u) << view;
        EXPECT_FALSE(badge(static_cast<int>(view))) << view;
    }
    EXPECT_TRUE(voicemail.model()->vmPrefetchList().empty());

    service->clearRequests();
    foundation::NotificationCenter::defaultCenter().post("kUnreadItemsProcessedNotification");
    ASSERT_TRUE(settleUntil([&] { return !bodies("api2thread/list").empty(); }));
    EXPECT_EQ(bodies("api2thread/list").front().rfind("[2,", 0), 0u) << bodies("api2thread/list").front();
}

}  // namespace
