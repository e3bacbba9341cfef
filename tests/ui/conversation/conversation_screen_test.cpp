// The conversation screen as a user meets it: the reply it sends answers by completion and moves
// the progress bar, the key command keeps the text, the screen pops itself when its conversation
// goes to the trash, it opens what its makers give, and the note editor saves, cancels, keeps its
// text between popovers and points at the foot of the last message on the tablet.
#include "platform/foundation/notification_center.h"
#include "platform/toolkit/presentation.h"
#include "platform/toolkit/text_input.h"
#include "tests/ui/conversation/conversation_support.h"
#include "ui/conversation/conversation_table_view_cell.h"
#include "ui/conversation/vc_note_edit.h"
#include "ui/shell/ui_screens.h"

namespace {

using hxtest::StoredMessage;

struct ConversationScreen : hxtest::ConversationFixture {};

}  // namespace

TEST_F(ConversationScreen, AReplysProgressEndsWhenThePageBringingItsBubbleIsIn) {
    auto c = storeConversation("t1", 10);
    storeMessages(c, {{.id = "m1", .number = 1, .text = "hi"}});
    auto& s = open("t1");
    s.sendReply("hello there");
    ASSERT_EQ(spy->smsSent, std::vector<std::string>{"hello there"});
    ASSERT_TRUE(spy->lastCompletion);
    EXPECT_TRUE(s.isSendingReply());
    EXPECT_EQ(VC_Conversation::sendingProgress(), 0);
    spy->lastCompletion({.kind = HXSendAnswer::Kind::Progress});
    spy->lastCompletion({.kind = HXSendAnswer::Kind::Progress});
    EXPECT_EQ(VC_Conversation::sendingProgress(), 30) << "15 % a step for a text";
    // Sent: the bar stays until the page that brings the new bubble is in.
    spy->lastCompletion({.kind = HXSendAnswer::Kind::Sent, .conversationID = "t1"});
    ASSERT_EQ(spy->newestPages, std::vector<std::string>{"t1"});
    EXPECT_TRUE(s.isSendingReply());
    EXPECT_NE(nav->navigationBar().viewWithTag(VC_Conversation::kProgressBarTag), nullptr);
    storeMessages(c, {{.id = "m2", .number = 2, .text = "hello there", .outgoing = true}});
    spy->pageAnswers.back()({.conversationID = "t1", .parsed = true, .newer = 1});
    EXPECT_FALSE(s.isSendingReply());
    EXPECT_EQ(nav->navigationBar().viewWithTag(VC_Conversation::kProgressBarTag), nullptr);
}

// Other loads post names that sound like this screen's own answers: a conversation page's end says
// "remove the reply's progress" and every list save says "older messages are in". Neither moves the
// bar of a reply on its way or ends a pull: the screen ends each on the answer it was handed.
TEST_F(ConversationScreen, OnlyItsOwnSendAndItsOwnPageEndTheBarAndThePull) {
    auto c = storeConversation("t1", 10);
    (void)c->setValue("paginationToken", "page2");
    storeMessages(c, {{.id = "m1", .number = 1, .text = "hi"}});
    auto& s = open("t1");
    ASSERT_TRUE(s.refreshControl());
    s.sendReply("hello there");
    ASSERT_TRUE(spy->lastCompletion);
    spy->lastCompletion({.kind = HXSendAnswer::Kind::Progress});
    s.refreshControl()->beginRefreshing();
    s.getOlderMessages();
    ASSERT_EQ(spy->pageAnswers.size(), 1u);
    auto& center = foundation::NotificationCenter::defaultCenter();
    center.post("kRemoveSMSReplySendingProgressNotification");
    center.post("kOlderConversationMessagesLoadedNotification");
    harness.settle();
    EXPECT_TRUE(s.isSendingReply());
    EXPECT_EQ(VC_Conversation::sendingProgress(), 15);
    EXPECT_NE(nav->navigationBar().viewWithTag(VC_Conversation::kProgressBarTag), nullptr);
    EXPECT_TRUE(s.refreshControl()->isRefreshing()) << "another load ended the pull";

    spy->pageAnswers.front()({.conversationID = "t1", .parsed = true, .more = true});
    EXPECT_FALSE(s.refreshControl()->isRefreshing());
    EXPECT_TRUE(s.isSendingReply()) << "the page was not the reply's";
    spy->lastCompletion({.kind = HXSendAnswer::Kind::Failed});
    EXPECT_FALSE(s.isSendingReply());
    EXPECT_EQ(nav->navigationBar().viewWithTag(VC_Conversation::kProgressBarTag), nullptr);
}

TEST_F(ConversationScreen, TheKeyCommandSendsAndKeepsTheTextAndANumberlessConversationSendsNothing) {
    auto c = storeConversation("t1", 10);
    storeMessages(c, {{.id = "m1", .number = 1, .text = "hi"}});
    auto& s = open("t1");
    s.sendMessageKeystroke();
    EXPECT_TRUE(spy->smsSent.empty()) << "an empty reply is not sent";
    s.setReplyText("again");
    EXPECT_TRUE(s.perform("sendMessageKeystroke", nullptr));
    EXPECT_EQ(spy->smsSent, std::vector<std::string>{"again"});
    EXPECT_EQ(s.replyText(), "again");

    (void)c->setValue("phoneNumber", "");
    s.sendReply("lost");
    EXPECT_EQ(spy->smsSent.size(), 1u);
}

TEST_F(ConversationScreen, AConversationMovedToTheTrashClosesItsScreen) {
    auto c = storeConversation("t1", 10);
    storeMessages(c, {{.id = "m1", .number = 1, .text = "hi"}});
    open("t1");
    ASSERT_EQ(nav->topViewController(), screen.get());
    (void)c->setValue("isTrash", true);
    harness.settle();
    EXPECT_NE(nav->topViewController(), screen.get());
}

// Shown in full, an unread conversation is reported on appearing and each time it turns unread
// again, never when it turns read; shown as a preview it is never reported, and the preview is as
// high as its bubbles (at most the screen).
TEST_F(ConversationScreen, AnUnreadConversationIsReportedOnlyInFullAndOnlyWhenItTurnsUnread) {
    std::vector<std::string> reported;
    foundation::NotificationCenter::defaultCenter().addObserver(
        this, "kSMSActiveConversationMessageReceived", [&](const foundation::Notification& n) {
            reported.push_back(*std::static_pointer_cast<std::string>(n.object));
        });
    for (const bool peeking : {false, true}) {
        SCOPED_TRACE(peeking ? "preview" : "in full");
        const std::string id = peeking ? "t2" : "t1";
        auto c = storeConversation(id, 10);
        (void)c->setValue("isRead", false);
        storeMessages(c, {{.id = id + "m", .number = 1, .text = "hi"}});
        reported.clear();
        auto roles = app->screenRoles();
        screen = std::dynamic_pointer_cast<VC_Conversation>(app->screens().makeConversationScreen(
            roles, {.conversationID = id, .title = "Ann", .conversationType = 1, .peeking = peeking}));
        ASSERT_TRUE(screen);
        nav = std::make_shared<toolkit::NavigationController>(std::make_shared<toolkit::ViewController>());
        harness.setRoot(nav);
        nav->pushViewController(screen, false);
        harness.settle();
        const std::vector<std::string> once{id}, none;
        EXPECT_EQ(reported, peeking ? none : once);
        (void)c->setValue("isRead", true);
        harness.settle();
        EXPECT_EQ(reported, peeking ? none : once) << "reported as it turned read";
        (void)c->setValue("isRead", false);
        harness.settle();
        EXPECT_EQ(reported, peeking ? none : (std::vector<std::string>{id, id}));
        if (peeking) {
            const double content = screen->tableView().contentSize().height;
            EXPECT_GT(content, 0);
            EXPECT_EQ(screen->preferredContentSize(),
                      (toolkit::Size{0, std::min(content + 8, screen->view()->bounds().height())}));
        }
    }
    foundation::NotificationCenter::defaultCenter().removeObserver(this);
}

// Links and numbers are found in the bubbles only once the list the conversation was opened from
// has its messages: not while it loads, nor over a screen that shows no list.
TEST_F(ConversationScreen, BubblesFindLinksOnlyOverAListThatHasLoaded) {
    struct Lists : HXListLoadingRole {
        std::optional<bool> loading;
        std::shared_ptr<HXMessageListModel> makeMessageList(int) override { return nullptr; }
        void refreshMessageList(int) override {}
        std::optional<bool> isLoadingMessages(toolkit::ViewController&) override { return loading; }
    };
    auto lists = std::make_shared<Lists>();
    auto c = storeConversation("t1", 10);
    storeMessages(c, {{.id = "m1", .number = 1, .text = "see https://example.com or call 555-010-4477"}});
    const std::pair<std::optional<bool>, unsigned> cases[] = {{std::nullopt, toolkit::kDataDetectorNone},
                                                              {true, toolkit::kDataDetectorNone},
                                                              {false, toolkit::kDataDetectorAll}};
    for (const auto& [loading, detectors] : cases) {
        SCOPED_TRACE(loading ? (*loading ? "loading" : "loaded") : "no list");
        lists->loading = loading;
        auto roles = app->screenRoles();
        roles.lists = lists;
        screen = std::dynamic_pointer_cast<VC_Conversation>(app->screens().makeConversationScreen(
            roles, {.conversationID = "t1", .title = "Ann", .conversationType = 1}));
        nav = std::make_shared<toolkit::NavigationController>(std::make_shared<toolkit::ViewController>());
        harness.setRoot(nav);
        nav->pushViewController(screen, false);
        harness.settle();
        auto cell = std::dynamic_pointer_cast<ConversationTableViewCell>(screen->tableView().cellForRow({0, 0}));
        ASSERT_TRUE(cell);
        EXPECT_EQ(cell->messageView().dataDetectorTypes(), detectors);
    }
}

namespace {

// A screen library whose note editor and group details are titled stand-ins that note what each
// was made for.
struct RecordingScreens : HXUIScreens {
    std::vector<std::string> notes, groups;
    std::shared_ptr<toolkit::ViewController> makeNoteEditScreen(const HXScreenRoles&,
                                                                const std::string& conversationID) override {
        notes.push_back(conversationID);
        return std::make_shared<HXPlaceholderScreen>("NoteFromMaker");
    }
    std::shared_ptr<toolkit::ViewController> makeGroupDetails(const HXScreenRoles&,
                                                              const std::string& numberString) override {
        groups.push_back(numberString);
        return std::make_shared<HXPlaceholderScreen>("GroupFromMaker");
    }
};

}  // namespace

// The screen opens the screen its maker gives, not one of its own making, and hands the maker
// what names it: the note editor the conversation's id, the group details the group's numbers.
TEST_F(ConversationScreen, ItOpensWhatItsMakersGiveForItsConversationAndNumbers) {
    auto screens = std::make_shared<RecordingScreens>();
    app->setScreens(screens);
    auto c = storeConversation("t1", 10);
    storeMessages(c, {{.id = "m1", .number = 1, .text = "hi"}});
    auto g = storeConversation("g1", 10, "Group Message");
    (void)g->setValue("phoneNumber", "+12025550111|+13035550177");
    storeMessages(g, {{.id = "m2", .number = 1, .text = "all"}});

    open("t1").editNote();
    harness.settle();
    EXPECT_EQ(screens->notes, std::vector<std::string>{"t1"});
    auto* shown = dynamic_cast<toolkit::NavigationController*>(nav->presentedViewController());
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->viewControllers().front()->className(), "NoteFromMaker");

    auto& group = open("g1");
    auto* title = dynamic_cast<toolkit::Button*>(group.navigationItem().titleView.get());
    ASSERT_NE(title, nullptr);
    title->sendActionsForControlEvents(toolkit::kTouchUpInside);
    harness.settle();
    EXPECT_EQ(screens->groups, std::vector<std::string>{"+12025550111|+13035550177"});
    ASSERT_TRUE(harness.topPresented());
    EXPECT_EQ(harness.topPresented()->className(), "GroupFromMaker");
    EXPECT_EQ(screens->notes.size(), 1u) << "opening a conversation opens no note";
}

namespace {

template <typename App>
struct NoteEditorOf : hxtest::ConversationFixtureOf<App> {
    explicit NoteEditorOf(hxtest::DeviceForm form = hxtest::DeviceForm::phone)
        : hxtest::ConversationFixtureOf<App>(form) {}
    std::shared_ptr<VC_NoteEdit> editor;
    std::shared_ptr<toolkit::NavigationController> editorNav;
    void present(const std::string& id) {
        auto roles = this->app->screenRoles();
        roles.conversation = hxtest::spyOn(roles.conversation, *this->spy);
        roles.alerts = hxtest::alertsSpyOn(roles.alerts, *this->spy);
        roles.noteDraft = hxtest::standIn<HXNoteDraftRole>(roles.noteDraft, *this->spy);
        editor = std::dynamic_pointer_cast<VC_NoteEdit>(this->app->screens().makeNoteEditScreen(roles, id));
        ASSERT_TRUE(editor);
        editorNav = std::make_shared<toolkit::NavigationController>(editor);
        this->nav->topViewController()->present(editorNav, false);
        this->harness.settle();
    }
};

struct NoteEditor : NoteEditorOf<HX_ConnectAppDelegate_iPhone> {};

}  // namespace

TEST_F(NoteEditor, SavingAChangedNoteStoresItAndAnUnchangedOneSendsNothing) {
    auto c = storeConversation("t1", 10);
    (void)c->setValue("note", "buy milk");
    storeMessages(c, {{.id = "m1", .number = 1, .text = "hi"}});
    open("t1");
    present("t1");
    EXPECT_EQ(editor->note().text(), "buy milk");
    editor->save();
    harness.settle();
    EXPECT_TRUE(spy->notes.empty());
    EXPECT_EQ(editorNav->presentingViewController(), nullptr) << "saving closes the editor";

    present("t1");
    editor->note().setText("");
    editor->save();
    harness.settle();
    ASSERT_EQ(spy->notes.size(), 1u);
    EXPECT_EQ(spy->notes[0], std::optional<std::string>(""));
    EXPECT_EQ(HX_ConversationFields(*c).note(), "");
    EXPECT_TRUE(spy->cache == std::nullopt) << "the phone keeps no popover cache";
}

TEST_F(NoteEditor, TheKeyCommandsAreCancelAndSave) {
    auto c = storeConversation("t1", 10);
    storeMessages(c, {{.id = "m1", .number = 1, .text = "hi"}});
    open("t1");
    present("t1");
    const auto commands = editor->keyCommands();
    ASSERT_EQ(commands.size(), 3u);
    EXPECT_EQ(commands[0].action, "cancel:");
    EXPECT_EQ(commands[1].action, "cancel:");
    EXPECT_EQ(commands[2].action, "save:");
    EXPECT_TRUE(editor->perform("cancel:", nullptr));
    harness.settle();
    EXPECT_EQ(editorNav->presentingViewController(), nullptr);
    EXPECT_TRUE(spy->notes.empty());
}

// On a phone the note ends where the keyboard begins, whatever lies above the note's view.
TEST_F(NoteEditor, OnAPhoneTheNoteEndsAtTheKeyboard) {
    auto c = storeConversation("t1", 10);
    storeMessages(c, {{.id = "m1", .number = 1, .text = "hi"}});
    open("t1");
    present("t1");
    const auto& keyboard = toolkit::Keyboard::shared();
    ASSERT_TRUE(keyboard.isVisible());
    ASSERT_TRUE(editor->note().isFirstResponder());
    const auto& v = *editor->view();
    const auto inWindow = v.superview()->convertRectTo(v.frame(), nullptr);
    EXPECT_NEAR(inWindow.maxY(), keyboard.frame().minY(), 0.5) << "no gap above the keyboard, nothing under it";
    EXPECT_GT(inWindow.height(), 0);
}

namespace {

struct TabletNoteEditor : NoteEditorOf<HX_ConnectAppDelegate_iPad> {
    TabletNoteEditor() : NoteEditorOf(hxtest::DeviceForm::tablet) {}
};

}  // namespace

// On the tablet an unsaved note waits in the popover cache for the next editor of the same
// conversation; any other cache is emptied when an editor appears, and a cancel discards it.
TEST_F(TabletNoteEditor, AnUnsavedNoteWaitsForTheSameConversationOnly) {
    auto c = storeConversation("t1", 10);
    (void)c->setValue("note", "stored");
    storeMessages(c, {{.id = "m1", .number = 1, .text = "hi"}});
    open("t1");
    using foundation::Dictionary;
    struct Case {
        std::optional<Dictionary> cache;
        std::string shown;
        bool emptied;
    } cases[] = {
        {std::nullopt, "stored", true},
        {Dictionary{{"type", "VC_NoteEdit"}, {"conversationID", "t1"}, {"note", "draft"}}, "draft", false},
        {Dictionary{{"type", "VC_NoteEdit"}, {"conversationID", "t2"}, {"note", "draft"}}, "stored", true},
        {Dictionary{{"type", "VC_Other"}, {"conversationID", "t1"}, {"note", "draft"}}, "stored", true},
        {Dictionary{{"type", "VC_NoteEdit"}, {"conversationID", "t1"}}, "stored", true},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(n++);
        spy->cache = c.cache;
        present("t1");
        EXPECT_EQ(editor->note().text(), c.shown);
        if (c.emptied) {
            ASSERT_TRUE(spy->cache.has_value());
            EXPECT_TRUE(spy->cache->empty());
        }
        // Closed by a tap beside the popover: what was typed waits.
        editor->note().setText(c.shown + " more");
        editorNav->presentingViewController()->dismiss(false);
        harness.settle();
        ASSERT_TRUE(spy->cache.has_value());
        EXPECT_EQ(spy->cache->get("type").stringValue(), "VC_NoteEdit");
        EXPECT_EQ(spy->cache->get("conversationID").stringValue(), "t1");
        EXPECT_EQ(spy->cache->get("note").stringValue(), c.shown + " more");
    }
    // Cancel discards the draft: the next editor shows the stored note.
    present("t1");
    EXPECT_EQ(editor->note().text(), "stored more") << "the last case's draft";
    editor->cancel();
    harness.settle();
    present("t1");
    EXPECT_EQ(editor->note().text(), "stored");
    EXPECT_TRUE(spy->notes.empty()) << "nothing was saved";
}

// The tablet's editor points (arrow right, passing touches to the table) at the foot of the last
// message, where the table shows it after its top inset, not that far higher up.
TEST_F(TabletNoteEditor, TheEditorPointsAtTheFootOfTheLastMessage) {
    auto c = storeConversation("t1", 10);
    storeMessages(c, {{.id = "m1", .number = 1'700'000'000'000, .text = "hi"},
                      {.id = "m2", .number = 1'700'000'060'000, .text = "there", .outgoing = true}});
    auto& s = open("t1");
    s.editNote();
    harness.settle();
    auto* shown = nav->presentedViewController();
    ASSERT_TRUE(shown);
    auto* popover = shown->popoverPresentationController();
    ASSERT_TRUE(popover);
    EXPECT_EQ(popover->arrowDirection(), toolkit::kArrowRight);
    auto last = s.tableView().cellForRow({1, 0});
    ASSERT_TRUE(last);
    const toolkit::Rect row = last->convertRectTo(last->bounds(), nullptr);
    const toolkit::Rect anchor = popover->anchorInWindow();
    EXPECT_NEAR(anchor.midY(), row.maxY(), 0.5) << "the arrow points at the last message's foot";
    EXPECT_GE(anchor.minX(), s.view()->convertRectTo(s.view()->bounds(), nullptr).minX());
}

// A saved note is in the store's file, as the sqlite3 tool reads it.
TEST_F(NoteEditor, ASavedNoteIsInTheStoreFile) {
    if (!hxtest::haveProgram("sqlite3")) GTEST_SKIP() << "sqlite3 CLI missing";
    auto c = storeConversation("t1", 10);
    storeMessages(c, {{.id = "m1", .number = 1, .text = "hi"}});
    open("t1");
    present("t1");
    editor->note().setText("Gate code 4711 \u2013 it's \"round the back\"");
    editor->save();
    harness.settle();
    ASSERT_TRUE(app->managedObjectContext()->save().ok());
    const std::string path = HX_ConnectAppDelegate::storePathForAccount("conversation@example.test");
    std::string out;
    ASSERT_EQ(hxtest::runCommand(
                  "sqlite3 '" + path + "' \"SELECT note FROM HX_Conversation WHERE conversationID='t1';\"", &out),
              0);
    EXPECT_EQ(out, "Gate code 4711 \u2013 it's \"round the back\"\n");
}
