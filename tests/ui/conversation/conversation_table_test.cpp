// The bubble table: a section per message with its text and attachment rows, the date lines, the
// call-history row, new and older messages as section changes (the bubbles in view stay put), and
// a swipe deleting one message.
#include <array>

#include "model/cache.h"
#include "platform/foundation/json.h"
#include "platform/graphics/bitmap_compare.h"
#include "platform/graphics/hxc_font.h"
#include "platform/toolkit/animation.h"
#include "platform/toolkit/font_text_measurer.h"
#include "platform/toolkit/raster_cache.h"
#include "platform/toolkit/renderer.h"
#include "tests/support/goldens.h"
#include "tests/ui/compose/compose_support.h"
#include "tests/ui/conversation/conversation_support.h"
#include "ui/conversation/conversation_table_view_cell.h"

namespace {

using foundation::Array;
using foundation::Dictionary;
using foundation::Value;
using hxtest::StoredMessage;

Value attachment(const std::string& id, const std::string& mime) {
    return Value(Dictionary{{"id", id}, {"mimeType", mime}});
}

struct ConversationTable : hxtest::ConversationFixture {
    // Sixty texts in thread "t1": the four given in turn, each numbered, a minute apart, every
    // third one sent.
    void storeSixtyTexts(const std::array<const char*, 4>& texts) {
        auto c = storeConversation("t1", 10);
        std::vector<StoredMessage> messages;
        for (int i = 0; i < 60; ++i)
            messages.push_back({.id = "m" + std::to_string(i),
                                .number = 1'700'000'000'000 + int64_t{60'000} * i,
                                .text = std::string(texts[static_cast<size_t>(i % 4)]) + " #" + std::to_string(i),
                                .outgoing = i % 3 == 0});
        storeMessages(c, messages);
    }
};

// The window laid out and drawn at 2x in its appearance.
std::shared_ptr<graphics::Bitmap> drawnAt2x(toolkit::Window& window) {
    window.layoutIfNeeded();
    auto context =
        graphics::GraphicsContext::image({window.bounds().width(), window.bounds().height()}, true, 2).value();
    context->setUserInterfaceStyle(window.traitCollection().style);
    toolkit::renderView(window, *context);
    return graphics::GraphicsContext::finishBitmap(std::move(context));
}

}  // namespace

TEST_F(ConversationTable, EachMessageIsASectionOfItsTextAndAttachmentRows) {
    auto c = storeConversation("t1", 10);
    const Array three{attachment("p1", "image/png"), attachment("v1", "video/mp4"), attachment("c1", "text/x-vcard")};
    storeMessages(c, {
                         {.id = "m1", .number = 1'700'000'000'000, .text = "plain"},
                         {.id = "m2", .number = 1'700'000'060'000, .text = "with three", .attachments = three},
                         {.id = "m3", .number = 1'700'000'120'000, .text = "", .attachments = Array{}},
                         {.id = "m4", .number = 1'700'000'180'000, .text = "", .attachments = three},
                     });
    auto& s = open("t1");
    auto& table = s.tableView();
    ASSERT_EQ(table.numberOfSections(), 4);
    // The text first, then the attachments in their stored order; an empty list and no text give
    // no row at all.
    EXPECT_EQ(table.numberOfRows(0), 1);
    EXPECT_EQ(table.numberOfRows(1), 4);
    EXPECT_EQ(table.numberOfRows(2), 0);
    EXPECT_EQ(table.numberOfRows(3), 3);
    EXPECT_FALSE(s.attachmentAt({1, 0}));
    ASSERT_TRUE(s.attachmentAt({1, 1}));
    EXPECT_EQ(s.attachmentAt({1, 1})->id, "p1");
    EXPECT_EQ(s.attachmentAt({3, 0})->id, "p1");
    EXPECT_EQ(s.attachmentAt({3, 2})->id, "c1");
    EXPECT_FALSE(s.attachmentAt({3, 3}));
}

TEST_F(ConversationTable, WithoutASignedInAccountEveryMessageIsOneRow) {
    auto c = storeConversation("t1", 10);
    storeMessages(c, {{.id = "m1",
                       .number = 1,
                       .text = "",
                       .attachments = Array{attachment("p", "image/png"), attachment("q", "image/png")}}});
    app->account()->setAuthV2(std::nullopt);
    auto& s = open("t1");
    EXPECT_EQ(s.tableView().numberOfRows(0), 1);
}

TEST_F(ConversationTable, TheDateLineShowsOncePerRunOfEqualDatesAndNamesAGroupsSenders) {
    auto c = storeConversation("t1", 10);
    // Three messages within a minute format to the same text; the fourth is a day later.
    storeMessages(c, {
                         {.id = "a", .number = 1'700'000'000'000, .text = "one"},
                         {.id = "b", .number = 1'700'000'001'000, .text = "two", .outgoing = true},
                         {.id = "c", .number = 1'700'000'002'000, .text = "three"},
                         {.id = "d", .number = 1'700'086'400'000, .text = "four"},
                     });
    auto& s = open("t1");
    const std::string first = s.dateLineForRow({0, 0});
    EXPECT_FALSE(first.empty());
    EXPECT_EQ(s.dateLineForRow({1, 0}), "");
    EXPECT_EQ(s.dateLineForRow({2, 0}), "");
    EXPECT_NE(s.dateLineForRow({3, 0}), "");
    EXPECT_NE(s.dateLineForRow({3, 0}), first);
}

TEST_F(ConversationTable, AGroupShowsEveryIncomingSenderBeforeTheDate) {
    auto c = storeConversation("g1", 10, "Group Message");
    storeMessages(
        c,
        {
            {.id = "a", .number = 1'700'000'000'000, .text = "one", .senderName = "Ann", .senderNumber = "+15550001"},
            {.id = "b", .number = 1'700'000'001'000, .text = "two", .senderNumber = "+15550002"},
            {.id = "c", .number = 1'700'000'002'000, .text = "three", .outgoing = true},
        });
    auto& s = open("g1", 1, "Group Message");
    const std::string date = s.dateLabelForRow({0, 0});
    EXPECT_EQ(s.dateLineForRow({0, 0}), "Ann \u2013 " + date);
    EXPECT_EQ(s.dateLineForRow({1, 0}), "+15550002 \u2013 " + date);
    // An own message after them is compared with the date alone above it, so it shows none.
    EXPECT_EQ(s.dateLineForRow({2, 0}), "");
}

TEST_F(ConversationTable, ACallRowNamesEveryCallTypeTheListsCount) {
    struct Case {
        int64_t type;
        const char* text;
    };
    // 16 and 17 are placed calls too (the mask of placed calls), not an empty row.
    const Case cases[] = {{0, "Missed call"},
                          {1, "Incoming call"},
                          {4, "Recorded call"},
                          {7, "Outgoing call"},
                          {8, "Outgoing call"},
                          {12, "Outgoing call"},
                          {13, "Outgoing call"},
                          {15, "Outgoing call"},
                          {16, "Outgoing call"},
                          {17, "Outgoing call"},
                          {2, ""},
                          {10, ""}};
    int n = 0;
    for (const auto& k : cases) {
        const std::string id = "h" + std::to_string(n++);
        auto c = storeConversation(id, k.type);
        (void)c->setValue("lastMessageLength", "0:42");
        auto& s = open(id, 3);
        const auto cells = s.tableView().visibleCells();
        ASSERT_EQ(cells.size(), 1u);
        auto* row = dynamic_cast<ConversationTableViewCell*>(cells.front().get());
        ASSERT_TRUE(row);
        EXPECT_EQ(row->messageView().text(), std::string(k.text) + "\nLength: 0:42") << "type " << k.type;
        EXPECT_EQ(s.tableView().numberOfSections(), 1);
    }
}

TEST_F(ConversationTable, ANewMessageIsASectionAddedAtTheEndAndTheOthersAreNotAskedAgain) {
    auto c = storeConversation("t1", 10);
    std::vector<StoredMessage> first;
    for (int i = 0; i < 3; ++i)
        first.push_back(
            {.id = "m" + std::to_string(i), .number = 1'700'000'000'000 + int64_t{i} * 1000, .text = "hello"});
    storeMessages(c, first);
    auto& s = open("t1");
    ASSERT_EQ(s.tableView().numberOfSections(), 3);
    const size_t shownBefore = s.tableView().cellsShown(0);
    storeMessages(c, {{.id = "m9", .number = 1'700'000'100'000, .text = "new one", .outgoing = true}});
    ASSERT_EQ(s.tableView().numberOfSections(), 4);
    EXPECT_EQ(s.messageAt(3)->messageID(), "m9");
    EXPECT_EQ(s.tableView().cellsShown(0), shownBefore) << "the table was read whole again";
}

TEST_F(ConversationTable, AnOlderPageGoesAboveAndTheBubblesInViewStayWhereTheyWere) {
    auto c = storeConversation("t1", 10);
    (void)c->setValue("paginationToken", "page2");
    std::vector<StoredMessage> newest;
    for (int i = 0; i < 30; ++i)
        newest.push_back({.id = "n" + std::to_string(i),
                          .number = 1'700'000'000'000 + int64_t{i} * 86'400'000,
                          .text = "message " + std::to_string(i)});
    storeMessages(c, newest);
    auto& s = open("t1");
    ASSERT_TRUE(s.refreshControl()) << "a conversation with older pages offers the pull";
    auto& table = s.tableView();
    const auto visible = table.indexPathsForVisibleRows();
    ASSERT_FALSE(visible.empty());
    const toolkit::IndexPath top = visible.front();
    const double yBefore = table.rectForRow(top).minY() - table.contentOffset().y;
    const std::string topID = s.messageAt(top.section)->messageID();

    s.getOlderMessages();
    ASSERT_EQ(spy->olderPages.size(), 1u);
    EXPECT_EQ(spy->olderPages[0], (std::pair<std::string, std::string>{"t1", "page2"}));
    std::vector<StoredMessage> older;
    for (int i = 0; i < 10; ++i)
        older.push_back({.id = "o" + std::to_string(i),
                         .number = 1'600'000'000'000 + int64_t{i} * 86'400'000,
                         .text = "older " + std::to_string(i)});
    (void)c->setValue("paginationToken", foundation::Value());
    storeMessages(c, older);
    s.olderMessageReceived();
    harness.settle();
    ASSERT_EQ(table.numberOfSections(), 40);
    const long now = top.section + 10;
    EXPECT_EQ(s.messageAt(now)->messageID(), topID);
    EXPECT_NEAR(table.rectForRow({now, 0}).minY() - table.contentOffset().y, yBefore, 0.5);
    EXPECT_FALSE(s.refreshControl()) << "nothing older remains";
}

TEST_F(ConversationTable, ASwipeDeletesTheWholeMessageOfItsRowAndOneMessageCannotBeSwiped) {
    auto c = storeConversation("t1", 10);
    storeMessages(c, {{.id = "only", .number = 1, .text = "alone"}});
    auto& single = open("t1");
    EXPECT_FALSE(single.canEditRow(single.tableView(), {0, 0}));

    storeMessages(c, {{.id = "x\"y", .number = 2, .text = "pic", .attachments = Array{attachment("p", "image/png")}}});
    auto& s = open("t1");
    ASSERT_TRUE(s.canEditRow(s.tableView(), {1, 1}));
    auto actions = s.editActionsForRow(s.tableView(), {1, 1});
    ASSERT_TRUE(actions && actions->size() == 1);
    EXPECT_EQ((*actions)[0]->title, "       ");
    EXPECT_EQ((*actions)[0]->accessibilityLabel, "Delete");
    (*actions)[0]->handler(*(*actions)[0], {1, 1});
    ASSERT_EQ(spy->deleted.size(), 1u);
    EXPECT_EQ(spy->deleted[0], (std::pair<std::string, std::string>{"t1", "x\"y"}));
}

// A picture's thumbnail and a video's preview picture are asked for once while the screen shows:
// a reply that is no picture is thrown away, and every reload its arrival starts asked again.
TEST_F(ConversationTable, APictureOrVideoMissingItsPictureIsAskedForOncePerAppearance) {
    for (const char* mime : {"image/png", "video/mp4"}) {
        SCOPED_TRACE(mime);
        const std::string id = std::string("t") + mime;
        auto c = storeConversation(id, 10);
        storeMessages(c, {{.id = id + "m", .number = 1, .text = "", .attachments = Array{attachment("pic", mime)}}});
        // What the service answered is no picture: it is thrown away, and asked for once more.
        app->screenRoles().media.lock()->mediaCache()->setObject(
            HXCCachedObject::withData(foundation::Data{'n', 'o', 'p', 'e'}), "pic");
        spy->thumbnails.clear(), spy->previews.clear();
        auto& asked = std::string(mime) == "video/mp4" ? spy->previews : spy->thumbnails;
        open(id);
        EXPECT_EQ(asked, std::vector<std::string>{"pic"});
        EXPECT_EQ(app->screenRoles().media.lock()->mediaCache()->objectForKey("pic"), nullptr);
        for (int i = 0; i < 3; ++i) {
            app->screenRoles().media.lock()->mediaCache()->setObject(
                HXCCachedObject::withData(foundation::Data{'n', 'o', 'p', 'e'}), "pic");
            screen->tableView().reloadData();
            harness.settle();
        }
        EXPECT_EQ(asked.size(), 1u) << "each reload asked again";
        // Another screen pushed over this one and popped: the next appearance asks once more.
        nav->pushViewController(std::make_shared<toolkit::ViewController>(), false);
        harness.settle();
        nav->popViewController(false);
        harness.settle();
        EXPECT_EQ(asked, (std::vector<std::string>{"pic", "pic"})) << "a failed picture is never asked for again";
    }
}

// A thumbnail that arrives (the web client keeps it, then names its id) redraws the one row that
// shows it; the reload the web client also announces reads nothing again here.
TEST_F(ConversationTable, AnArrivingThumbnailRedrawsItsOwnRowAndNothingElse) {
    auto c = storeConversation("t1", 10);
    std::vector<StoredMessage> messages;
    for (int i = 0; i < 4; ++i)
        messages.push_back({.id = "m" + std::to_string(i),
                            .number = 1'700'000'000'000 + int64_t{i} * 1000,
                            .text = "text " + std::to_string(i)});
    messages.push_back({.id = "mp",
                        .number = 1'700'000'010'000,
                        .text = "look",
                        .attachments = Array{attachment("pic", "image/png")}});
    storeMessages(c, messages);
    auto& s = open("t1");
    ASSERT_EQ(spy->thumbnails, std::vector<std::string>{"pic"});
    auto& table = s.tableView();
    const size_t whole = table.wholeReloads(), rows = table.rowReloads(), shown = table.cellsShown(4);
    app->screenRoles().media.lock()->mediaCache()->setObject(
        HXCCachedObject::withData(hxtest::pngOf(8, 6, 0xff0000ffu)), "pic");
    auto& center = foundation::NotificationCenter::defaultCenter();
    center.post("kMessageReloadingCompleteNotification");
    center.post("pic");
    harness.settle();
    EXPECT_EQ(table.wholeReloads(), whole) << "the table was read whole again";
    EXPECT_EQ(table.rowReloads(), rows + 1) << "the picture's row, and only it";
    EXPECT_EQ(table.cellsShown(4), shown + 1);
    // Later posts of the id (another screen's request) do not reach this screen again.
    center.post("pic");
    harness.settle();
    EXPECT_EQ(table.rowReloads(), rows + 1);
}

// Size variants that come along with any kind of attachment size the bubble of a picture (or a
// video) only: a document's row ("[Unsupported Attachment]"), a sound's and a missing contact
// card's are as high as their text, with the variants or without them.
TEST_F(ConversationTable, SizeVariantsSizePicturesAndNotTheRowsThatShowAText) {
    auto c = storeConversation("t1", 10);
    const Array variants{Value(Dictionary{{"sizeSpec", "s128"}, {"width", 128}, {"height", 96}}),
                         Value(Dictionary{{"sizeSpec", "s512"}, {"width", 512}, {"height", 384}})};
    auto sized = [&](const std::string& id, const std::string& mime) {
        return Value(Dictionary{{"id", id}, {"mimeType", mime}, {"imageMetaData", Value(variants)}});
    };
    const char* kinds[] = {"application/pdf", "audio/amr", "text/x-vcard"};
    std::vector<StoredMessage> messages;
    int64_t when = 1'700'000'000'000;
    for (const char* mime : kinds) {
        messages.push_back({.id = std::string("with ") + mime,
                            .number = when += 60'000,
                            .text = "",
                            .attachments = Array{sized(std::string("a") + mime, mime)}});
        messages.push_back({.id = std::string("without ") + mime,
                            .number = when += 60'000,
                            .text = "",
                            .attachments = Array{attachment(std::string("b") + mime, mime)}});
    }
    messages.push_back(
        {.id = "picture", .number = when += 60'000, .text = "", .attachments = Array{sized("p", "image/png")}});
    storeMessages(c, messages);
    auto& s = open("t1");
    auto& table = s.tableView();
    ASSERT_EQ(table.numberOfSections(), 7);
    const double picture = table.rectForRow({6, 0}).height();
    for (long k = 0; k < 3; ++k) {
        SCOPED_TRACE(kinds[k]);
        const double with = table.rectForRow({2 * k, 0}).height(), without = table.rectForRow({2 * k + 1, 0}).height();
        EXPECT_EQ(with, without) << "the variants made the row a picture's size";
        EXPECT_LT(with, 100);
    }
    // 512 x 384 fitted to the phone's width less 110: 265 x 198.
    EXPECT_GT(picture, 198);
}

// The saved paging offset belongs to the request that set it: a screen that appears later (this
// conversation again or another one) starts without it, so its store changes do not move its
// bubbles to where an earlier page request pointed.
TEST_F(ConversationTable, AnOlderPageAskedForEarlierMovesNoScreenThatAppearsLater) {
    std::vector<StoredMessage> many;
    for (int i = 0; i < 30; ++i)
        many.push_back({.id = "x" + std::to_string(i),
                        .number = 1'700'000'000'000 + int64_t{i} * 86'400'000,
                        .text = "message " + std::to_string(i)});
    for (const std::string id : {"t1", "t2"}) {
        auto c = storeConversation(id, 10);
        (void)c->setValue("paginationToken", "page2");
        for (auto& m : many) m.id = id + m.id;
        storeMessages(c, many);
    }
    auto& first = open("t1");
    first.tableView().setContentOffset({0, 300}, false);
    first.getOlderMessages();
    ASSERT_GT(first.savedPagingOffset(), 0);
    const auto kept = screen;
    auto& second = open("t2");
    EXPECT_EQ(second.savedPagingOffset(), 0);
    EXPECT_EQ(second.conversation()->conversationID(), "t2");
    EXPECT_GT(kept->savedPagingOffset(), 0) << "each screen keeps its own";
}

// A stack whose first screen is the conversation, shown in a room narrower than the screen: laying
// the stack out while the screen builds its footer sizes the screen's view before its table is
// inside it, and the table must still follow, or no bubble finds the size measured for its width.
TEST_F(ConversationTable, AsTheFirstScreenOfANarrowStackTheTableAndItsBubblesTakeTheStacksWidth) {
    auto c = storeConversation("t1", 10);
    storeMessages(c, {{.id = "m1", .number = 1'700'000'000'000, .text = "sent from here", .outgoing = true},
                      {.id = "m2", .number = 1'700'000'060'000, .text = "and an answer"}});
    auto roles = app->screenRoles();
    screen = std::dynamic_pointer_cast<VC_Conversation>(
        app->screens().makeConversationScreen(roles, {.conversationID = "t1", .title = "Ann", .conversationType = 1}));
    ASSERT_TRUE(screen);
    nav = std::make_shared<toolkit::NavigationController>(screen);
    auto holder = std::make_shared<toolkit::ViewController>();
    harness.setRoot(holder);
    const double width = holder->view()->bounds().width() - 75;
    holder->addChild(nav);
    nav->view()->setFrame({0, 0, width, holder->view()->bounds().height()});
    holder->view()->addSubview(nav->view());
    harness.settle();
    auto& table = screen->tableView();
    EXPECT_EQ(screen->view()->bounds().width(), width);
    EXPECT_EQ(table.frame().width(), width);
    for (long section : {0L, 1L}) {
        auto cell = std::dynamic_pointer_cast<ConversationTableViewCell>(table.cellForRow({section, 0}));
        ASSERT_TRUE(cell) << section;
        // The text lies in the room measured for it (width + 16), inside the row.
        const toolkit::Size measured = screen->messageSizeForRow({section, 0});
        EXPECT_EQ(cell->messageView().frame().width(), measured.width + 16) << section;
        EXPECT_LE(cell->messageView().frame().maxX(), cell->contentView().bounds().width() + 8) << section;
    }
    // The sent bubble ends 10 points from the row's right edge (its tail included).
    auto sent = std::dynamic_pointer_cast<ConversationTableViewCell>(table.cellForRow({0, 0}));
    auto* bubble = sent->backgroundView()->viewWithTag(1);
    ASSERT_TRUE(bubble);
    EXPECT_EQ(bubble->frame().maxX(), width - 10);
}

// A picture or a video takes its bubble's shape: the bubble's drawing masks it, sized with the
// bubble as the cell lays it out. Sounds, documents and text rows draw the bubble itself, unmasked.
TEST_F(ConversationTable, PicturesAndVideosAreMaskedByTheirBubbleAndOtherRowsAreNot) {
    auto c = storeConversation("t1", 10);
    struct Row {
        const char* mime;
        bool outgoing;
        bool masked;
    };
    const Row rows[] = {{"image/png", true, true},  {"image/png", false, true},        {"video/mp4", false, true},
                        {"audio/amr", true, false}, {"application/pdf", false, false}, {"", true, false}};
    std::vector<StoredMessage> messages;
    int64_t when = 1'700'000'000'000;
    int n = 0;
    for (const auto& r : rows) {
        const std::string id = "m" + std::to_string(n++);
        StoredMessage m{.id = id, .number = when += 60'000, .text = *r.mime ? "" : "words", .outgoing = r.outgoing};
        if (*r.mime) m.attachments = Array{attachment("a" + id, r.mime)};
        messages.push_back(m);
    }
    storeMessages(c, messages);
    auto& s = open("t1");
    auto& table = s.tableView();
    ASSERT_EQ(table.numberOfSections(), static_cast<long>(std::size(rows)));
    for (long k = 0; k < static_cast<long>(std::size(rows)); ++k) {
        SCOPED_TRACE(rows[k].mime);
        table.scrollToRow({k, 0}, toolkit::ScrollPosition::Middle, false);
        harness.settle();
        auto cell = std::dynamic_pointer_cast<ConversationTableViewCell>(table.cellForRow({k, 0}));
        ASSERT_TRUE(cell);
        auto* bubble = cell->backgroundView()->viewWithTag(1);
        ASSERT_TRUE(bubble);
        const auto& mask = bubble->maskView();
        EXPECT_EQ(static_cast<bool>(mask), rows[k].masked);
        if (mask) {
            EXPECT_EQ(mask->frame(), (toolkit::Rect{0, 0, bubble->frame().width(), bubble->frame().height()}));
            auto* shape = dynamic_cast<toolkit::ImageView*>(mask.get());
            ASSERT_TRUE(shape && shape->image());
            EXPECT_EQ(shape->image()->renderingMode() == graphics::RenderingMode::alwaysTemplate, !rows[k].outgoing)
                << "a sent bubble masks in its own colours";
        }
    }
}

// Bubble rows that only scroll are copied from the pixels they were drawn with, and the screen
// shows what the same screen opened anew at that place shows (every row drawn anew), in light and
// dark: received and faded sent bubbles, date lines and text with a number in it.
TEST_F(ConversationTable, RowsCopiedFromTheirPixelsWhileScrollingShowWhatDrawingThemAnewShows) {
    hxtest::UsingFonts fonts;
    auto c = storeConversation("t1", 10);
    const char* const texts[] = {"On my way", "Call me on 555 0188 when you land, please",
                                 "See you tomorrow at the station, bring the tickets please", "Sure"};
    std::vector<StoredMessage> messages;
    for (int i = 0; i < 24; ++i)
        messages.push_back({.id = "m" + std::to_string(i),
                            .number = 1'700'000'000'000 + int64_t{600'000} * i,
                            .text = texts[i % 4],
                            .outgoing = i % 3 == 0});
    storeMessages(c, messages);
    auto& window = harness.window();
    auto draw = [&] { return drawnAt2x(window); };
    constexpr int kSteps = 12;
    for (auto style : {toolkit::InterfaceStyle::light, toolkit::InterfaceStyle::dark}) {
        SCOPED_TRACE(style == toolkit::InterfaceStyle::light ? "light" : "dark");
        window.setInterfaceStyle(style);
        // Up by 8 points a frame from the newest message, as a finger moves it.
        const double bottom = open("t1").tableView().contentOffset().y;
        const uint64_t before = toolkit::rasterCopies();
        std::vector<std::shared_ptr<graphics::Bitmap>> kept;
        for (int step = 0; step < kSteps; ++step) {
            screen->tableView().setContentOffset({0, bottom - 8 * step}, false);
            kept.push_back(draw());
        }
        EXPECT_GT(toolkit::rasterCopies() - before, uint64_t{kSteps} * 3) << "the rows in view are copied";
        for (int step = 0; step < kSteps; ++step) {
            open("t1").tableView().setContentOffset({0, bottom - 8 * step}, false);
            const auto anew = draw();
            const auto compared = graphics::compareBitmaps(*kept[static_cast<size_t>(step)], *anew, 0);
            ASSERT_TRUE(compared.sameSize);
            EXPECT_EQ(compared.differingPixels, 0) << "step " << step;
        }
    }
}

// Cells taken back from rows far away show what the same screen opened anew at that place shows:
// jumping more than a screen a step down a thread and back up, every row in view is a reused cell
// that showed another row before (sent or received, one line or several, text or attachment).
TEST_F(ConversationTable, ReusedCellsShowWhatTheScreenOpenedAnewAtThatPlaceShows) {
    hxtest::UsingFonts fonts;
    auto c = storeConversation("t1", 10);
    const char* const texts[] = {"On my way", "Call me on 555 0188 when you land, please",
                                 "See you tomorrow at the station, bring the tickets please and the map of "
                                 "the old town, we will need both",
                                 "Sure",
                                 "Can you call the office before five? They asked about the invoice from last week "
                                 "and whether the delivery address changed. Tell them the new one is on the card."};
    std::vector<StoredMessage> messages;
    for (int i = 0; i < 90; ++i) {
        StoredMessage m{.id = "m" + std::to_string(i),
                        .number = 1'700'000'000'000 + int64_t{60'000} * i,
                        .text = texts[i % 5],
                        .outgoing = i % 3 == 0};
        if (i % 7 == 3) m.attachments = Array{attachment("a" + std::to_string(i), "audio/amr")};
        if (i % 11 == 5) m.attachments = Array{attachment("p" + std::to_string(i), "image/png")}, m.text = "";
        messages.push_back(m);
    }
    storeMessages(c, messages);
    auto& window = harness.window();
    auto draw = [&] { return drawnAt2x(window); };
    for (auto style : {toolkit::InterfaceStyle::light, toolkit::InterfaceStyle::dark}) {
        SCOPED_TRACE(style == toolkit::InterfaceStyle::light ? "light" : "dark");
        window.setInterfaceStyle(style);
        auto& table = open("t1").tableView();
        const double top = -table.adjustedContentInset().top;
        const double bottom =
            table.contentSize().height - table.bounds().height() + table.adjustedContentInset().bottom;
        const double jump = table.bounds().height() * 1.3;
        ASSERT_GT(bottom - top, 4 * jump) << "the thread is several jumps long";
        // Down from the top and back up, on whole pixels.
        std::vector<double> offsets;
        for (double y = top; y < bottom; y += jump) offsets.push_back(y);
        for (double y = bottom; y > top; y -= jump) offsets.push_back(y);
        std::vector<std::shared_ptr<graphics::Bitmap>> kept;
        for (double y : offsets) {
            table.setContentOffset({0, std::round(y * 2) / 2}, false);
            kept.push_back(draw());
        }
        for (size_t step = 0; step < offsets.size(); ++step) {
            open("t1").tableView().setContentOffset({0, std::round(offsets[step] * 2) / 2}, false);
            const auto anew = draw();
            const auto compared = graphics::compareBitmaps(*kept[step], *anew, 0);
            ASSERT_TRUE(compared.sameSize);
            EXPECT_EQ(compared.differingPixels, 0) << "step " << step << " at " << offsets[step];
        }
    }
}

namespace {

// The bundled fonts' measurer, counting the layouts asked of it in one font (or in any) by text.
struct LayoutsInFont : toolkit::TextMeasurer {
    std::optional<graphics::Font> font;
    mutable std::map<std::string, int> byText;
    explicit LayoutsInFont(std::optional<graphics::Font> counted) : font(std::move(counted)) {
        toolkit::setTextMeasurer(this);
    }
    ~LayoutsInFont() override { toolkit::setTextMeasurer(nullptr); }
    const toolkit::TextMeasurer& fonts() const { return toolkit::FontTextMeasurer::shared(); }
    double lineHeight(const graphics::Font& f) const override { return fonts().lineHeight(f); }
    double lineWidth(const std::string& text, const graphics::Font& f) const override {
        return fonts().lineWidth(text, f);
    }
    std::vector<std::string> lines(const std::string& text, const graphics::Font& f, double width, int maxLines,
                                   graphics::LineBreakMode mode) const override {
        return fonts().lines(text, f, width, maxLines, mode);
    }
    toolkit::TextBox layout(const graphics::AttributedString& text,
                            const graphics::TextLayoutOptions& options) const override {
        if (!text.runs().empty() && (!font || text.runs().front().attributes.font == *font)) ++byText[text.string()];
        return fonts().layout(text, options);
    }
    double caretOffset(const graphics::AttributedString& line, size_t offset) const override {
        return fonts().caretOffset(line, offset);
    }
    size_t offsetAt(const graphics::AttributedString& line, double x) const override {
        return fonts().offsetAt(line, x);
    }
};

}  // namespace

// A cell taken back for a row far away lays the row's text out once, from its dequeue to the
// frame that draws it: not the text emptied first, nor again for the frame the row gives it.
TEST_F(ConversationTable, AReusedCellLaysItsNewTextOutOnceFromDequeueToDrawing) {
    hxtest::UsingFonts fonts;
    storeSixtyTexts({"On my way", "See you tomorrow at the station, bring the tickets please", "Sure",
                     "Can you call the office before five? They asked about the invoice from last week "
                     "and whether the delivery address changed."});
    auto& window = harness.window();
    auto& table = open("t1").tableView();
    const double top = -table.adjustedContentInset().top;
    table.setContentOffset({0, top}, false);
    (void)drawnAt2x(window);
    auto bubbleFont = graphics::HXCFont::HXCFontForType(4);
    ASSERT_TRUE(bubbleFont);
    const double jump = std::round(table.bounds().height() * 1.3);
    for (int step = 1; step <= 3; ++step) {
        SCOPED_TRACE("jump " + std::to_string(step));
        LayoutsInFont counted(*bubbleFont);
        table.setContentOffset({0, top + jump * step}, false);
        (void)drawnAt2x(window);
        std::vector<std::string> shown;
        for (const auto& cell : table.visibleCells())
            if (auto* bubble = dynamic_cast<ConversationTableViewCell*>(cell.get()))
                shown.push_back(bubble->messageView().text());
        ASSERT_GE(shown.size(), 3u);
        for (const std::string& text : shown) EXPECT_EQ(counted.byText[text], 1) << text;
        // Emptied first, each reused cell would lay an empty text out (a blank line) as well; a
        // cell made anew (or the reply bar's field) may lay one out, as a few are at the first jump.
        EXPECT_LE(counted.byText[" "], 2) << "empty texts laid out";
    }
}

// Rows brought into view by a jump: each looks its message up once (and the one above it once,
// for its date line), the layout looks only at the sections in view, and a text's language is
// told the first time its row is shown, not again when the row comes back; a right-to-left text
// comes back aligned right all the same.
TEST_F(ConversationTable, ARowShownAgainReadsWhatItsMessageGaveTheFirstTime) {
    hxtest::UsingFonts fonts;
    storeSixtyTexts({"On my way", "See you tomorrow at the station, bring the tickets please",
                     "\u05e9\u05dc\u05d5\u05dd, \u05de\u05d4 \u05e9\u05dc\u05d5\u05de\u05da \u05d4\u05d9\u05d5\u05dd?",
                     "Can you call the office before five? They asked about the invoice."});
    auto& window = harness.window();
    auto& s = open("t1");
    auto& table = s.tableView();
    const double top = -table.adjustedContentInset().top;
    table.setContentOffset({0, top}, false);
    (void)drawnAt2x(window);
    const auto dequeued = [&] {
        size_t n = 0;
        for (long section = 0; section < table.numberOfSections(); ++section) n += table.cellsShown(section);
        return n;
    };
    const double jump = std::round(table.bounds().height() * 1.3);
    for (int pass = 0; pass < 2; ++pass) {
        for (int step = 1; step <= 3; ++step) {
            SCOPED_TRACE("pass " + std::to_string(pass) + ", jump " + std::to_string(step));
            const size_t shownBefore = dequeued(), lookedUpBefore = s.rowTexts().messagesLookedUp(),
                         toldBefore = s.rowTexts().languagesDetected();
            table.setContentOffset({0, top + jump * step}, false);
            (void)drawnAt2x(window);
            const size_t shown = dequeued() - shownBefore;
            ASSERT_GE(shown, 3u);
            EXPECT_LE(s.rowTexts().messagesLookedUp() - lookedUpBefore, 2 * shown)
                << "messages looked up for " << shown << " rows";
            // The frame's layout looks for footers in the sections in view, not in all 60.
            EXPECT_LE(table.sectionsLookedAt(), table.visibleCells().size() + 1);
            // The first pass shows each row for the first time.
            EXPECT_EQ(s.rowTexts().languagesDetected() - toldBefore, pass == 0 ? shown : 0);
            size_t rightToLeft = 0;
            for (const auto& cell : table.visibleCells()) {
                auto* bubble = dynamic_cast<ConversationTableViewCell*>(cell.get());
                if (!bubble || bubble->messageView().text().find("\u05e9") == std::string::npos) continue;
                ++rightToLeft;
                EXPECT_EQ(bubble->messageView().textAlignment(), toolkit::TextAlignment::right);
                EXPECT_NE(bubble->messageView().text(), bubble->candidateText()) << "shown in its isolates";
            }
            EXPECT_GE(rightToLeft, 1u);
        }
    }
}

// A row's accessibility label, put together only when asked for, says what the row shows then:
// asked after its cell was taken back for rows far away, it names the new row's way, text, date
// line and place, not what the cell said for a row before (asked then or not).
TEST_F(ConversationTable, ARowsAccessibilityLabelSaysWhatTheRowShowsWhenAskedAfterItsCellWasReused) {
    hxtest::UsingFonts fonts;
    const std::array<const char*, 4> texts{"On my way", "See you tomorrow at the station", "Sure",
                                           "Can you call the office before five?"};
    storeSixtyTexts(texts);
    auto& window = harness.window();
    auto& s = open("t1");
    auto& table = s.tableView();
    const double top = -table.adjustedContentInset().top;
    const double jump = std::round(table.bounds().height() * 1.3);
    for (int step = 0; step <= 4; ++step) {
        SCOPED_TRACE("jump " + std::to_string(step));
        table.setContentOffset({0, top + jump * step}, false);
        (void)drawnAt2x(window);
        // Rows left unasked at the odd jumps: their cells are asked only after their next reuse.
        if (step % 2 == 1) continue;
        size_t asked = 0;
        for (const auto& shown : table.visibleCells()) {
            auto* cell = dynamic_cast<ConversationTableViewCell*>(shown.get());
            if (!cell || !cell->indexPath()) continue;
            // The newest messages are shown, oldest first.
            const long section = cell->indexPath()->section, count = table.numberOfSections();
            const long i = 60 - count + section;
            const std::string expected = std::string(i % 3 == 0 ? "Outgoing: " : "Incoming: ") +
                                         texts[static_cast<size_t>(i % 4)] + " #" + std::to_string(i) + "\n" +
                                         s.dateLineForRow({section, 0}) + " (message " + std::to_string(section + 1) +
                                         " of " + std::to_string(count) + ")";
            EXPECT_EQ(cell->accessibilityLabel(), expected);
            // The outline reads the same label.
            EXPECT_EQ(cell->accessibility().label, expected);
            ++asked;
        }
        EXPECT_GE(asked, 3u);
    }
}

// A frame drawn after the thread scrolled a little lays out no label it drew before: the reply
// bar's placeholder and the date lines that stay in view read the lines they were laid out in.
TEST_F(ConversationTable, AFrameLaysOutNoLabelThatItDrewUnchangedBefore) {
    hxtest::UsingFonts fonts;
    auto c = storeConversation("t1", 10);
    std::vector<StoredMessage> messages;
    for (int i = 0; i < 30; ++i)
        messages.push_back({.id = "m" + std::to_string(i),
                            .number = 1'700'000'000'000 + int64_t{600'000} * i,
                            .text = "Text #" + std::to_string(i),
                            .outgoing = i % 2 == 0});
    storeMessages(c, messages);
    auto& window = harness.window();
    auto& s = open("t1");
    auto& table = s.tableView();
    ASSERT_TRUE(s.inputToolbar());
    const std::string placeholder = s.inputToolbar()->textView()->placeholder();
    ASSERT_FALSE(placeholder.empty());
    const double top = -table.adjustedContentInset().top;
    LayoutsInFont counted(std::nullopt);
    table.setContentOffset({0, top + 40}, false);
    (void)drawnAt2x(window);
    counted.byText.clear();
    for (int frame = 1; frame <= 4; ++frame) {
        table.setContentOffset({0, top + 40 + 4 * frame}, false);
        (void)drawnAt2x(window);
    }
    EXPECT_EQ(counted.byText[placeholder], 0) << "the placeholder laid out again";
    for (const auto& cell : table.visibleCells()) {
        auto* bubble = dynamic_cast<ConversationTableViewCell*>(cell.get());
        if (!bubble || bubble->dateLabel().text().empty()) continue;
        EXPECT_EQ(counted.byText[bubble->dateLabel().text()], 0) << bubble->dateLabel().text();
    }
}

// ---- what a thumbnail, a new message and a page answer change

namespace {

// Keeps the arrival callbacks of the thumbnails the rows ask for, so that a test says when each
// picture arrives.
struct ArrivalSpy : hxtest::ConversationSpy {
    std::map<std::string, std::function<void()>> arrivals;
    void whenMediaArrives(const std::string& id, std::function<void()> arrived) override {
        arrivals[id] = std::move(arrived);
    }
};

// The scroll animations logged since the log was cleared.
size_t scrollAnimations() {
    size_t n = 0;
    for (const auto& r : toolkit::Animations::log())
        n += r.duration == toolkit::ScrollView::kSettleDuration && !r.spring && r.delay == 0;
    return n;
}

}  // namespace

// With several pictures in view, a thumbnail that arrives draws its own row again and no other.
TEST_F(ConversationTable, AnArrivingThumbnailReloadsOnlyItsOwnRow) {
    auto arrivals = std::make_shared<ArrivalSpy>();
    spy = arrivals;
    auto c = storeConversation("t1", 10);
    storeMessages(c, {{.id = "m1",
                       .number = 1'700'000'000'000,
                       .text = "",
                       .attachments = Array{attachment("p1", "image/png"), attachment("p2", "image/png")}},
                      {.id = "m2",
                       .number = 1'700'000'060'000,
                       .text = "and one more",
                       .attachments = Array{attachment("p3", "image/jpeg")}}});
    auto& s = open("t1");
    auto& table = s.tableView();
    harness.settle();
    ASSERT_EQ(arrivals->arrivals.size(), 3u) << "each picture row asked for its thumbnail";
    const auto visible = table.indexPathsForVisibleRows();
    ASSERT_EQ(visible.size(), 4u) << "every row in view";
    struct Case {
        const char* id;
        toolkit::IndexPath row;
    } cases[] = {{"p2", {0, 1}}, {"p3", {1, 1}}, {"p1", {0, 0}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id);
        const size_t reloads = table.rowReloads(), whole = table.wholeReloads();
        const size_t shown[] = {table.cellsShown(0), table.cellsShown(1)};
        arrivals->arrivals.at(c.id)();
        harness.settle();
        EXPECT_EQ(table.wholeReloads(), whole);
        EXPECT_EQ(table.rowReloads(), reloads + 1);
        for (long section = 0; section < 2; ++section)
            EXPECT_EQ(table.cellsShown(section), shown[section] + (section == c.row.section)) << "section " << section;
    }
}

// A message arriving at the end is scrolled to at once; while an older page's offset is kept the
// scroll is animated. The pull control goes by what the page answer says, not by the stored token.
TEST_F(ConversationTable, TheNewestIsScrolledToAnimatedOnlyWithASavedOffsetAndThePullFollowsTheAnswer) {
    auto c = storeConversation("t1", 10);
    (void)c->setValue("paginationToken", "page2");
    storeMessages(c, hxtest::dailyTexts("n", 30, 1'700'000'000'000, "message"));
    auto& s = open("t1");
    auto& table = s.tableView();
    ASSERT_TRUE(s.refreshControl());
    auto atBottom = [&] {
        const auto last = table.rectForRow({table.numberOfSections() - 1, 0});
        return last.maxY() <= table.contentOffset().y + table.bounds().height() + 0.5;
    };
    int64_t next = 1'700'000'000'000 + int64_t{40} * 86'400'000;
    auto arrive = [&](const std::string& id) {
        toolkit::Animations::clearLog();
        storeMessages(c, {{.id = id, .number = next += 60'000, .text = "newest " + id, .outgoing = true}});
        harness.settle();
    };
    arrive("a");
    EXPECT_EQ(scrollAnimations(), 0u) << "without a saved offset the newest is shown at once";
    EXPECT_TRUE(atBottom());

    // The pull asked for an older page; the newest arrives before the answer.
    s.getOlderMessages();
    ASSERT_GT(s.savedPagingOffset(), 0);
    ASSERT_EQ(spy->pageAnswers.size(), 1u);
    arrive("b");
    EXPECT_EQ(scrollAnimations(), 1u) << "with the saved offset the scroll is animated";
    harness.advance(1);
    harness.settle();
    EXPECT_TRUE(atBottom());

    // The answer says more pages remain though the token is gone: the control stays.
    (void)c->setValue("paginationToken", foundation::Value());
    spy->pageAnswers.back()(HXPageAnswer{.conversationID = "t1", .parsed = true, .more = true});
    harness.settle();
    EXPECT_TRUE(s.refreshControl()) << "the answer, not the token, says more remain";
    // And says none remain though a token is still stored: the control goes.
    (void)c->setValue("paginationToken", "page3");
    s.getOlderMessages();
    ASSERT_EQ(spy->pageAnswers.size(), 2u);
    spy->pageAnswers.back()(HXPageAnswer{.conversationID = "t1", .parsed = true, .more = false});
    harness.settle();
    EXPECT_FALSE(s.refreshControl()) << "the answer says the thread is whole";
}
