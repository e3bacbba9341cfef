// A row's options and previews against the service on either side of version 13: before it a long
// press shows the options popover with the titles the conversation's state calls for, and where
// the window senses firm presses a row peeks and pops instead; from 13 the context menu's preview
// commits into the conversation screen, and its menu offers the list's actions, whose choice reaches
// the service.
#include <gtest/gtest.h>

#include "app/screens.h"
#include "platform/foundation/strings.h"
#include "platform/toolkit/menu_panel.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/previewing.h"
#include "platform/toolkit/window.h"
#include "tests/ui/messages/list_fixture.h"
#include "ui/conversation/conversation_table_view_cell.h"
#include "ui/conversation/vc_conversation.h"
#include "ui/widgets/hxc_popover_view.h"

namespace {

using hxtest::DeviceForm;
using toolkit::IndexPath;

template <int Version>
struct RowsAt : hxtest::ListFixture<HX_ConnectAppDelegate_iPhone> {
    RowsAt() : ListFixture(DeviceForm::phone, Version) {}
    void SetUp() override {
        ListFixture::SetUp();
        useAccount({.smsThreads = 12, .spamThreads = 0, .archivedThreads = 2});
    }
    toolkit::Point centreOfRow(VC_Messages& l, long row) {
        auto table = l.tableView();
        const auto r = table->rectForRow({0, row});
        return table->convertPointTo({r.midX() - 60, r.midY()}, nullptr);
    }
    std::vector<std::string> popoverTitles() {
        std::vector<std::string> titles;
        auto found = harness.findAll("HXCPopoverView");
        if (found.empty()) return titles;
        for (const auto& v : dynamic_cast<HXCPopoverView*>(found.back())->subviewsArray())
            titles.push_back(dynamic_cast<toolkit::Button&>(*v).titleForState(toolkit::kStateNormal).value_or(""));
        return titles;
    }
    // The titles a text conversation seen from its list offers, from its stored state.
    std::vector<std::string> expectedTitles(const store::ManagedObjectPtr& c) {
        auto flag = [&](const char* key) { return c->value(key).boolValue(); };
        std::vector<std::string> titles;
        const std::string number = c->value("phoneNumber").stringValue();
        const bool person = number != "Unknown" && c->value("sender").stringValue() != "Group Message";
        if (person) titles.push_back("Call");
        titles.push_back(flag("isArchived") ? "Move to Inbox" : "Archive");
        titles.push_back(flag("isRead") ? "Mark as unread" : "Mark as read");
        if (app->canSendMail()) titles.push_back("Forward as Email");
        if (person) titles.push_back(flag("isSenderBlocked") ? "Unblock Contact" : "Block Contact");
        titles.push_back(flag("isSpam") ? "Remove from Spam" : "Mark as Spam");
        titles.push_back("Delete");
        return titles;
    }
    void choose(VC_Messages& l, long row) {
        l.didSelectRow(*l.navBarMenu(), row, 0);
        harness.settle();
    }
    HXConversationScreen* topScreen(VC_Messages& l) {
        return dynamic_cast<HXConversationScreen*>(l.navigationController()->topViewController());
    }
};
using RowsAt12 = RowsAt<12>;
using RowsAt15 = RowsAt<15>;

}  // namespace

TEST_F(RowsAt12, ALongPressShowsTheOptionsTheRowsStateCallsFor) {
    auto& l = launchAndShow(1);
    EXPECT_FALSE(l.hasRegisteredForForceTouch());
    ASSERT_GE(rows(1), 3);
    // One row read, one unread, one with its sender blocked: each offers its own titles.
    auto unread = l.conversationAtIndexPath({0, 0});
    (void)unread->setValue("isRead", false);
    auto blocked = l.conversationAtIndexPath({0, 2});
    (void)blocked->setValue("isRead", true);
    (void)blocked->setValue("isSenderBlocked", true);
    harness.settle();
    for (long row : {0L, 2L}) {
        auto c = l.conversationAtIndexPath({0, row});
        harness.longPress(centreOfRow(l, row), 0.8);
        harness.advance(0.5);
        const auto titles = popoverTitles();
        EXPECT_EQ(titles, expectedTitles(c)) << "row " << row;
        EXPECT_EQ(l.tableView()->indexPathForSelectedRow(), (IndexPath{0, row})) << "the pressed row stays selected";
        // Touching outside closes it, with nothing sent.
        service->clearRequests();
        harness.tap({5, 620});
        harness.advance(0.5);
        EXPECT_TRUE(popoverTitles().empty());
        EXPECT_EQ(service->requestCount(), 0u);
    }
    // The "Mark as read" of the unread row reaches the service for that conversation.
    harness.longPress(centreOfRow(l, 0), 0.8);
    harness.advance(0.5);
    auto found = harness.findAll("HXCPopoverView");
    ASSERT_FALSE(found.empty());
    toolkit::View* markRead = nullptr;
    for (const auto& v : dynamic_cast<HXCPopoverView*>(found.back())->subviewsArray())
        if (dynamic_cast<toolkit::Button&>(*v).titleForState(toolkit::kStateNormal) == "Mark as read")
            markRead = v.get();
    ASSERT_TRUE(markRead);
    service->clearRequests();
    ASSERT_TRUE(harness.tap(*markRead));
    ASSERT_TRUE(settleUntil([&] { return !bodies("thread/updateattributes").empty(); }));
    EXPECT_NE(bodies("thread/updateattributes").front().find(unread->value("conversationID").stringValue()),
              std::string::npos);
}

TEST_F(RowsAt12, AFirmPressPeeksAtTheRowAndPressingOnPopsItIntoTheList) {
    auto& l = launchAndShow(1);
    harness.setForceTouchAvailable(true);
    EXPECT_TRUE(l.hasRegisteredForForceTouch());
    // A long press no longer shows the options: the lifted finger opens the row as a tap does.
    harness.longPress(centreOfRow(l, 0), 0.8);
    harness.advance(0.5);
    EXPECT_TRUE(popoverTitles().empty());
    ASSERT_TRUE(topScreen(l));
    l.navigationController()->popViewController(false);
    harness.settle();

    const std::string id = l.conversationAtIndexPath({0, 1})->value("conversationID").stringValue();
    service->clearRequests();
    auto peek = harness.forcePress(centreOfRow(l, 1));
    ASSERT_TRUE(peek);
    EXPECT_TRUE(peek->isShowing());
    auto* previewed = dynamic_cast<HXConversationScreen*>(&peek->controller());
    ASSERT_TRUE(previewed);
    EXPECT_TRUE(previewed->isPeeking());
    EXPECT_EQ(previewed->setup().conversationID, id);
    EXPECT_EQ(peek->context().sourceRect, l.tableView()->rectForRow({0, 1})) << "the preview grows from the row";
    // Lifting the finger lets it go; nothing was pushed.
    peek->dismiss();
    harness.settle();
    EXPECT_FALSE(topScreen(l));

    peek = harness.forcePress(centreOfRow(l, 1));
    ASSERT_TRUE(peek);
    peek->pop();
    harness.advance(1);
    auto* pushed = topScreen(l);
    ASSERT_TRUE(pushed);
    EXPECT_FALSE(pushed->isPeeking());
    EXPECT_EQ(pushed->setup().conversationID, id);
    l.navigationController()->popViewController(false);
    harness.settle();

    // Below the rows (the more row) there is nothing to peek at.
    const auto more = l.tableView()->rectForRow({1, 0});
    EXPECT_FALSE(harness.forcePress(l.tableView()->convertPointTo({more.midX(), more.midY()}, nullptr)));

    // Without firm presses the long press comes back.
    harness.setForceTouchAvailable(false);
    EXPECT_FALSE(l.hasRegisteredForForceTouch());
    harness.longPress(centreOfRow(l, 0), 0.8);
    harness.advance(0.5);
    EXPECT_FALSE(popoverTitles().empty());
}

TEST_F(RowsAt15, TheContextMenusPreviewCommitsIntoTheConversationScreen) {
    auto& l = launchAndShow(1);
    EXPECT_FALSE(l.hasRegisteredForForceTouch()) << "context menus, not peeks";
    const std::string id = l.conversationAtIndexPath({0, 1})->value("conversationID").stringValue();
    auto session = harness.openContextMenu(*l.tableView(), {0, 1});
    ASSERT_TRUE(session);
    auto* preview = dynamic_cast<HXConversationScreen*>(session->preview.get());
    ASSERT_TRUE(preview);
    EXPECT_TRUE(preview->isPeeking());
    EXPECT_EQ(preview->setup().conversationID, id);
    l.tableView()->commitContextMenuPreview();
    harness.advance(1);
    auto* pushed = topScreen(l);
    ASSERT_TRUE(pushed);
    EXPECT_EQ(pushed, preview) << "the preview itself is pushed";
    EXPECT_FALSE(pushed->isPeeking());
    EXPECT_EQ(l.tableView()->contextMenuSession(), nullptr);
}

TEST_F(RowsAt15, TheContextMenuOffersTheListsActionsAndTheirChoiceReachesTheService) {
    auto& l = launchAndShow(1);
    choose(l, 1);  // Inbox
    auto c = l.conversationAtIndexPath({0, 0});
    (void)c->setValue("isRead", false);
    harness.settle();
    const std::string id = c->value("conversationID").stringValue();
    auto session = harness.openContextMenu(*l.tableView(), {0, 0});
    ASSERT_TRUE(session);
    // The list's actions in the order of the conversation's codes; Delete alone in its own part.
    std::vector<std::string> expected = {"Call", "Archive", "Mark as read"};
    if (app->canSendMail()) expected.push_back("Forward as Email");
    expected.insert(expected.end(), {"Block Contact", "-", "Delete"});
    EXPECT_EQ(session->menu->displayTitles(), expected);
    service->clearRequests();
    ASSERT_TRUE(l.tableView()->performContextMenuAction("Archive"));
    ASSERT_TRUE(settleUntil([&] { return !bodies("thread/updateattributes").empty(); }));
    EXPECT_NE(bodies("thread/updateattributes").front().find(id), std::string::npos);
    ASSERT_TRUE(settleUntil([&] {
        const auto ids = rowIDs(l);
        return std::find(ids.begin(), ids.end(), id) == ids.end();
    })) << "the archived row leaves the inbox";
}

namespace {

// The pictures of a row's preview: the bundled fonts, a newest thread of many messages.
struct PreviewLooks : hxtest::ListFixture<HX_ConnectAppDelegate_iPhone> {
    PreviewLooks() : ListFixture(DeviceForm::phone, 15, true) {}
    void SetUp() override {
        ListFixture::SetUp();
        useAccount({.smsThreads = 6, .spamThreads = 0, .archivedThreads = 0});
        service->withAccount([](emulator::Account& a) {
            emulator::Thread* newest = nullptr;
            for (auto& t : a.threads)
                if (t.isText() && (!newest || t.lastTimeMs() > newest->lastTimeMs())) newest = &t;
            if (!newest) return 0;
            const std::string from = newest->numbers.empty() ? std::string("+15550100") : newest->numbers.front();
            int64_t at = newest->lastTimeMs();
            for (int i = 1; i <= 24; ++i) {
                at += 20 * 60 * 1000;
                newest->items.push_back(
                    {.id = "long" + std::to_string(i),
                     .startTimeMs = at,
                     .text = "Message " + std::to_string(i) +
                             (i % 3 ? " just a line" : " that runs on over two lines of the bubble"),
                     .fromNumber = i % 2 ? from : std::string(),
                     .type = i % 2 ? "smsIn" : "smsOut"});
            }
            return 0;
        });
    }
};

}  // namespace

// A row's preview is the conversation's newest messages at the height it asks for (its bubbles
// plus a margin, never more than the screen), inside its frame, light and dark.
TEST_F(PreviewLooks, ARowsPreviewShowsTheNewestMessagesAtItsPreferredHeight) {
    auto& l = launchAndShow(1);
    // The first press loads the thread; the second shows it as stored.
    auto session = harness.openContextMenu(*l.tableView(), {0, 0});
    ASSERT_TRUE(session);
    ASSERT_TRUE(settleRequests());
    l.tableView()->dismissContextMenu();
    harness.settle();
    session = harness.openContextMenu(*l.tableView(), {0, 0});
    ASSERT_TRUE(session);
    harness.settle();
    auto* preview = dynamic_cast<VC_Conversation*>(session->preview.get());
    ASSERT_TRUE(preview);
    EXPECT_TRUE(preview->isVisible()) << "the preview went through its appearance";
    const toolkit::Size wanted = preview->preferredContentSize();
    EXPECT_EQ(wanted.width, 0);
    auto& table = preview->tableView();
    EXPECT_GT(table.contentSize().height, 400) << "a long thread";
    auto* panel = toolkit::MenuPanel::shown(&harness.window());
    ASSERT_TRUE(panel);
    const toolkit::Rect frame = panel->previewFrame();
    EXPECT_NEAR(wanted.height, std::min(table.contentSize().height + 8, harness.window().bounds().height()), 0.5);
    EXPECT_LE(frame.height(), wanted.height + 0.5) << "the height it asked for, within the room";
    EXPECT_GT(frame.height(), 200);
    EXPECT_NEAR(frame.width(), harness.window().bounds().width() - 2 * frame.minX(), 16) << "as wide as the room";
    // Scrolled to its end: the newest message is in view.
    EXPECT_NEAR(table.contentOffset().y + table.bounds().height(),
                table.contentSize().height + table.contentInset().bottom, 1);
    const long last = table.numberOfSections() - 1;
    ASSERT_GE(last, 0);
    const toolkit::Rect newest = table.rectForRow({last, table.numberOfRows(last) - 1});
    EXPECT_GE(newest.minY(), table.contentOffset().y);
    EXPECT_LE(newest.maxY(), table.contentOffset().y + table.bounds().height() + 0.5);
    // Each bubble's text sits inside its bubble as it does on the conversation screen, though the
    // preview is drawn by the menu panel rather than from a window.
    int texts = 0;
    for (const auto& row : table.visibleCells()) {
        auto* cell = dynamic_cast<ConversationTableViewCell*>(row.get());
        if (!cell || !cell->backgroundView()) continue;
        toolkit::View* bubble = cell->backgroundView()->viewWithTag(1);
        auto& text = cell->messageView();
        if (!bubble || text.text().empty()) continue;
        toolkit::Rect lines;
        for (const auto& r : text.selectionRectsForRange({0, foundation::utf16Length(text.text())}))
            lines = lines.isEmpty() ? r : lines.unionWith(r);
        ASSERT_FALSE(lines.isEmpty()) << text.text();
        const toolkit::Rect inBubble = text.convertRectTo(lines, bubble);
        const toolkit::Rect b = bubble->bounds();
        EXPECT_GE(inBubble.minY(), b.minY() + 2) << text.text() << ": the text's top in its bubble";
        EXPECT_LE(inBubble.maxY(), b.maxY() - 2) << text.text() << ": the text's bottom in its bubble";
        EXPECT_NEAR(inBubble.minY() - b.minY(), b.maxY() - inBubble.maxY(), 4) << text.text() << ": centred";
        ++texts;
    }
    EXPECT_GE(texts, 3);
    expectSnapshot("list_preview_phone", {.lightAndDark = true});
    l.tableView()->dismissContextMenu();
    harness.settle();
    EXPECT_FALSE(preview->isVisible()) << "and disappeared with the menu";
}
