// The message lists' row: what it shows for a conversation (name, count, blocked mark, message or
// call summary, status, writing direction, hint) as tables of cases, how it looks (read look,
// colours, star, dimming, the shared date width), the contact picture's late answer, and the rows
// in a list on phone and tablet as outlines and pictures.
#include <gtest/gtest.h>

#include <map>

#include "model/cache.h"
#include "model/message_store.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/files.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/user_defaults.h"
#include "platform/graphics/hxc_font.h"
#include "platform/graphics/image_operations.h"
#include "platform/graphics/named_images.h"
#include "platform/graphics/text_layout.h"
#include "platform/store/context.h"
#include "platform/store/coordinator.h"
#include "platform/toolkit/table_view_controller.h"
#include "platform/toolkit/testing/harness.h"
#include "platform/toolkit/text_metrics.h"
#include "platform/toolkit/window.h"
#include "tests/support/goldens.h"
#include "tests/support/phone_fonts.h"
#include "tests/support/screen_fixture.h"
#include "tests/support/system_version.h"
#include "tests/support/test_support.h"
#include "ui/messages/message_list_table_view_cell.h"
#include "ui/widgets/default_contact_image.h"

using foundation::Value;
using toolkit::Color;

namespace {

const std::string kNBSP = "\xC2\xA0";
const std::string kRLI = "\xE2\x81\xA7";  // right-to-left isolate
const std::string kBlocked = " \xF0\x9F\x93\xB5";
const std::string kLRI = "\xE2\x81\xA6";                                  // left-to-right isolate
const std::string kPDI = "\xE2\x81\xA9";                                  // its end
const std::string kShalom = "\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D";           // Hebrew "shalom"
const std::string kMarhaba = "\xD9\x85\xD8\xB1\xD8\xAD\xD8\xA8\xD8\xA7";  // Arabic "marhaba"
const std::string kOlam = "\xD7\xA2\xD7\x95\xD7\x9C\xD7\x9D";             // Hebrew "olam"

using Fields = std::map<std::string, Value>;

using hxtest::SystemVersion;

// A fresh app home with a message store: conversations are made in its main context.
class RowStore {
public:
    RowStore() {
        hxtest::useAppHome(home.path());
        auto coordinator = store::Coordinator::create(HXMessageStore::managedObjectModel());
        EXPECT_TRUE(
            coordinator->addPersistentStore((home / "rows.sqlite").string(), HXMessageStore::storeOptions(0)).ok());
        context = store::Context::create(store::ConcurrencyType::MainQueue);
        context->setPersistentStoreCoordinator(coordinator);
    }
    store::ManagedObjectPtr conversation(const Fields& fields) {
        auto c = context->insertNewObject("HX_Conversation").value();
        EXPECT_TRUE(c->setValue("conversationID", "c" + std::to_string(++made)).ok());
        EXPECT_TRUE(c->setValue("phoneNumber", "+15550000" + std::to_string(made)).ok());
        EXPECT_TRUE(c->setValue("formattedNumber", "(555) 000-0" + std::to_string(100 + made)).ok());
        EXPECT_TRUE(c->setValue("isRead", true).ok());
        for (const auto& [k, v] : fields) EXPECT_TRUE(c->setValue(k, v).ok()) << k;
        return c;
    }
    hxtest::TempDir home;
    store::ContextPtr context;
    int made = 0;
};

void showCounts(bool on) { foundation::UserDefaults::standardUserDefaults()->setBool(on, "showMessageCounts"); }

}  // namespace

TEST(MessageListRow, NameTakesTheContactBeforeItsLabelTheNumberTheBlockedMarkAndTheCount) {
    RowStore rows;
    struct Case {
        Fields fields;
        bool counts;
        bool oneLine;
        std::string name;
    };
    const Case cases[] = {
        {{{"ABName", "Ann Lee" + kNBSP + "(mobile)"}, {"sender", "+15550001"}}, false, false, "Ann Lee"},
        // Only the last label is cut, and only before a no-break space.
        {{{"ABName", "A" + kNBSP + "(B)" + kNBSP + "(home)"}}, false, false, "A" + kNBSP + "(B)"},
        {{{"ABName", "Ann (mobile)"}}, false, false, "Ann (mobile)"},
        {{{"ABName", "Ann, Ben" + kNBSP + "(x)"}, {"sender", "Group Message"}},
         false,
         false,
         "Ann, Ben" + kNBSP + "(x)"},
        {{{"sender", "Carl"}}, false, false, "Carl"},
        {{}, false, false, ""},
        {{{"sender", "+15551234567"}, {"phoneNumber", "+15551234567"}, {"formattedNumber", "(555) 123-4567"}},
         false,
         false,
         "(555) 123-4567"},
        {{{"sender", "Unknown"}, {"phoneNumber", "Unknown"}, {"formattedNumber", ""}}, false, false, "Unknown"},
        {{{"ABName", "Ann"}, {"isSenderBlocked", true}}, false, false, "Ann" + kBlocked},
        {{{"ABName", "Ann"}, {"numberOfMessages", 12}}, true, false, "Ann (12)"},
        {{{"ABName", "Ann"}, {"numberOfMessages", 1234}}, true, false, "Ann (1,234)"},
        {{{"ABName", "Ann"}, {"numberOfMessages", 1}}, true, false, "Ann"},
        {{{"ABName", "Ann"}, {"numberOfMessages", 12}}, false, false, "Ann"},
        {{{"ABName", "Ann"}, {"numberOfMessages", 12}, {"isSenderBlocked", true}},
         true,
         false,
         "Ann" + kBlocked + " (12)"},
        // History: texts and voicemails are counted, calls are not.
        {{{"ABName", "Ann"}, {"numberOfMessages", 12}, {"type", 10}}, true, true, "Ann (12)"},
        {{{"ABName", "Ann"}, {"numberOfMessages", 12}, {"type", 2}}, true, true, "Ann (12)"},
        {{{"ABName", "Ann"}, {"numberOfMessages", 12}, {"type", 0}}, true, true, "Ann"},
        // A label that was cut short leaves nothing behind the name.
        {{{"ABName", "Ann" + kNBSP + "("}}, false, false, "Ann"},
    };
    for (const Case& c : cases) {
        showCounts(c.counts);
        auto conversation = rows.conversation(c.fields);
        EXPECT_EQ(presentMessageListRow(*conversation, c.oneLine, {}).name, c.name) << c.name;
    }
}

TEST(MessageListRow, HistoryRowsShowTheirKindAndACallSummary) {
    RowStore rows;
    struct Case {
        Fields fields;
        bool notes;
        std::string status, image, message;
    };
    const std::string contact = "Ann" + kNBSP + "(mobile)";
    const Case cases[] = {
        {{{"type", 0}, {"ABName", contact}, {"lastMessageLength", "0:42"}, {"cost", "$0.01"}},
         false,
         "Missed call",
         "call_missed",
         "(555) 000-0101 - mobile (0:42, $0.01)"},
        {{{"type", 1}, {"ABName", "Ann"}, {"lastMessageLength", "1:05"}},
         false,
         "Incoming call",
         "call_received",
         "(555) 000-0102 (1:05)"},
        {{{"type", 1}, {"lastMessageText", "  hello \n"}}, false, "Incoming call", "call_received", "hello"},
        // A recording shows its text even with a contact.
        {{{"type", 4}, {"ABName", contact}, {"lastMessageText", "Recording"}},
         false,
         "Recorded call",
         "call_recorded",
         "Recording"},
        {{{"type", 7}, {"ABName", "Ann"}}, false, "Outgoing call", "call_placed", "(555) 000-0105"},
        {{{"type", 16}}, false, "Outgoing call", "call_placed", ""},
        {{{"type", 17}, {"lastMessageLength", "0:01"}, {"cost", ""}}, false, "Outgoing call", "call_placed", "(0:01)"},
        {{{"type", 10}, {"ABName", "Ann"}, {"lastMessageText", "two\nlines"}},
         false,
         "SMS Conversation",
         "message_sms",
         "two lines"},
        {{{"type", 11}, {"lastMessageText", "x"}}, false, "SMS Conversation", "message_sms", "x"},
        {{{"type", 2}, {"lastMessageText", "call me\r\nback"}}, false, "Voicemail", "message_vm", "call me back"},
        {{{"type", 3}, {"lastMessageText", "?"}}, false, "", "", "?"},
        {{{"type", 0},
          {"ABName", "Ann"},
          {
              "note",
              " ring\nback ",
          },
          {"lastMessageLength", "0:42"}},
         true,
         "Missed call",
         "call_missed",
         "ring back"},
        {{{"type", 0}, {"ABName", "Ann"}, {"note", "ring back"}},
         false,
         "Missed call",
         "call_missed",
         "(555) 000-0113"},
        // A label cut short leaves the number alone.
        {{{"type", 0}, {"ABName", "Ann" + kNBSP + "("}}, false, "Missed call", "call_missed", "(555) 000-0114"},
    };
    for (const Case& c : cases) {
        auto conversation = rows.conversation(c.fields);
        const auto row = presentMessageListRow(*conversation, true, {.showNotesInMessageLists = c.notes});
        EXPECT_EQ(row.statusText, c.status) << c.message;
        EXPECT_EQ(row.statusImage, c.image) << c.message;
        EXPECT_EQ(row.message, c.message);
    }
}

TEST(MessageListRow, MessageTextUsesTheNoteOnOneLineWithEmoticons) {
    RowStore rows;
    auto c = rows.conversation({{"type", 10}, {"lastMessageText", "hi :)\nthere"}, {"note", "my\u2028note"}});
    EXPECT_EQ(presentMessageListRow(*c, false, {.graphicalEmoticons = false}).message, "hi :) there");
    const std::string emoticons = presentMessageListRow(*c, false, {.graphicalEmoticons = true}).message;
    EXPECT_EQ(emoticons.find(":)"), std::string::npos) << emoticons;
    EXPECT_EQ(emoticons.find('\n'), std::string::npos);
    EXPECT_EQ(presentMessageListRow(*c, false, {.showNotesInMessageLists = true}).message, "my note");
    auto noNote = rows.conversation({{"type", 10}, {"lastMessageText", "text"}, {"note", ""}});
    EXPECT_EQ(presentMessageListRow(*noNote, false, {.showNotesInMessageLists = true}).message, "text");
}

TEST(MessageListRow, RightToLeftTextIsIsolatedOnEveryLine) {
    RowStore rows;
    struct Case {
        Fields fields;
        bool oneLine;
        bool rtl;
        std::string message;
    };
    const std::string latin100(100, 'a');
    const Case cases[] = {
        // Numbers keep their own direction inside the line.
        {{{"type", 10}, {"lastMessageText", kShalom + " 123"}},
         false,
         true,
         kRLI + kShalom + " " + kLRI + "123" + kPDI + kPDI},
        {{{"type", 4}, {"lastMessageText", kShalom}, {"lastMessageLength", "3:10"}},
         true,
         true,
         kRLI + kShalom + " " + kLRI + "(3:10)" + kPDI + kPDI},
        {{{"type", 4}, {"lastMessageText", kShalom}, {"lastMessageLength", "0:42"}, {"cost", "$0.01"}},
         true,
         true,
         kRLI + kShalom + " (" + kLRI + "0:42" + kPDI + ", $" + kLRI + "0.01" + kPDI + ")" + kPDI},
        {{{"type", 10}, {"lastMessageText", kShalom + " +1 (555) 107-1271."}},
         false,
         true,
         kRLI + kShalom + " " + kLRI + "+1 (555) 107-1271" + kPDI + "." + kPDI},
        {{{"type", 10}, {"lastMessageText", kMarhaba}}, false, true, kRLI + kMarhaba + kPDI},
        {{{"type", 10}, {"lastMessageText", kShalom + "\n" + kOlam}}, false, true, kRLI + kShalom + " " + kOlam + kPDI},
        // A call summary keeps its line breaks: each line is isolated.
        {{{"type", 4}, {"lastMessageText", kShalom + "\n" + kOlam}},
         true,
         true,
         kRLI + kShalom + kPDI + "\n" + kRLI + kOlam + kPDI},
        {{{"type", 10}, {"lastMessageText", "Hello"}}, false, false, "Hello"},
        // Only the first hundred characters decide.
        {{{"type", 10}, {"lastMessageText", latin100 + kShalom + kShalom + kShalom}},
         false,
         false,
         latin100 + kShalom + kShalom + kShalom},
        {{{"type", 10}, {"lastMessageText", ""}}, false, false, ""},
    };
    for (const Case& c : cases) {
        auto conversation = rows.conversation(c.fields);
        const auto row = presentMessageListRow(*conversation, c.oneLine, {});
        EXPECT_EQ(row.rightToLeft, c.rtl) << c.message;
        EXPECT_EQ(row.message, c.message);
    }
}

// As drawn, the digits of a right-to-left row's duration and number still read left to right.
TEST(MessageListRow, RightToLeftRowsShowTheirNumbersInReadingOrder) {
    RowStore rows;
    hxtest::UsingFonts fonts;
    struct Case {
        Fields fields;
        bool oneLine;
        std::string number;
    };
    const Case cases[] = {
        {{{"type", 4}, {"lastMessageText", kShalom + " " + kOlam}, {"lastMessageLength", "3:10"}}, true, "3:10"},
        {{{"type", 10}, {"lastMessageText", kShalom + " 555-0142"}}, false, "555-0142"},
        {{{"type", 10}, {"lastMessageText", kMarhaba + " +44 20 7946 0958 " + kMarhaba}}, false, "+44 20 7946 0958"},
        {{{"type", 10}, {"lastMessageText", kMarhaba + " 10"}}, false, "10"},
    };
    for (const auto& c : cases) {
        const auto row = presentMessageListRow(*rows.conversation(c.fields), c.oneLine, {});
        ASSERT_TRUE(row.rightToLeft) << c.number;
        graphics::TextLayoutOptions options;
        options.maximumLines = 1;
        const graphics::TextLayout layout(graphics::AttributedString(row.message, {}), options);
        ASSERT_EQ(layout.lines().size(), 1u);
        const auto& line = layout.lines().front().content;
        const size_t at = line.string().find(c.number);
        ASSERT_NE(at, std::string::npos) << c.number;
        // Each character stands left of the next one (the caret before the first one sits where the
        // number meets the right-to-left text, on either side of it: not compared).
        double previous = -1;
        for (size_t i = 1; i < c.number.size(); ++i) {
            const double x = graphics::caretOffsetInLine(line, at + i);
            EXPECT_GT(x, previous) << c.number << ": character " << i << " is out of order";
            previous = x;
        }
    }
}

TEST(MessageListRow, HintSaysKindUnreadStarredAndNoteInThatOrder) {
    RowStore rows;
    struct Case {
        Fields fields;
        bool oneLine;
        std::string hint;
        bool looksRead;
    };
    const Case cases[] = {
        {{{"type", 10}}, false, "", true},
        {{{"type", 10}, {"isRead", false}}, false, "Unread", false},
        {{{"type", 10}, {"isRead", false}, {"isStarred", true}, {"note", "n"}}, false, "Unread, Starred, Note", false},
        {{{"type", 10}, {"isStarred", true}}, false, "Starred", true},
        {{{"type", 10}, {"isRead", false}, {"isStarred", true}, {"note", "n"}},
         true,
         "SMS Conversation, Unread, Starred, Note",
         false},
        // Calls in the history always look read; voicemails do not.
        {{{"type", 0}, {"isRead", false}}, true, "Missed call", true},
        {{{"type", 7}, {"isRead", false}, {"note", "n"}}, true, "Outgoing call, Note", true},
        {{{"type", 2}, {"isRead", false}}, true, "Voicemail, Unread", false},
        {{{"type", 0}, {"isRead", false}}, false, "Unread", false},
        {{{"type", 3}, {"isRead", false}}, true, "Unread", false},
    };
    for (const Case& c : cases) {
        auto conversation = rows.conversation(c.fields);
        const auto row = presentMessageListRow(*conversation, c.oneLine, {});
        EXPECT_EQ(row.accessibilityHint, c.hint);
        EXPECT_EQ(row.looksRead, c.looksRead) << c.hint;
    }
}

TEST(MessageListRow, PhoneLabelDropsOnlyTheClosingCharacter) {
    EXPECT_EQ(messageListPhoneLabel("Ann" + kNBSP + "(mobile)"), "mobile");
    EXPECT_EQ(messageListPhoneLabel("Ann" + kNBSP + "(\xD7\xA0\xD7\x99)"), "\xD7\xA0\xD7\x99");
    // The closing character is one whole character, however many bytes it takes.
    EXPECT_EQ(messageListPhoneLabel("Ann" + kNBSP + "(home\xF0\x9F\x93\xB5"), "home");
    EXPECT_EQ(messageListPhoneLabel("Ann" + kNBSP + "("), "");
    EXPECT_EQ(messageListPhoneLabel("Ann (mobile)"), "");
}

// ---- the cell

namespace {
struct CellTest : ::testing::Test {
    dispatch::ScopedVirtualClock clock;
    RowStore rows;
    void SetUp() override { makeMessageTableCell()->resetDateLabelWidth(); }
    std::shared_ptr<MessageListTableViewCell> laidOut(std::shared_ptr<MessageListTableViewCell> cell,
                                                      const store::ManagedObjectPtr& conversation,
                                                      MessageListCellOptions options = {}) {
        cell->configure(conversation, {0, 0}, "Yesterday", options);
        cell->layoutIfNeeded();
        return cell;
    }
    void TearDown() override {
        MessageListTableViewCell::setContactImageCache(nullptr);
        clock->runUntilIdle();
    }
};
}  // namespace

TEST_F(CellTest, ReadLookSetsBackgroundsFontsAndColoursOnEitherSideOfVersion13) {
    struct Case {
        int version;
        bool history;
        int type;
        bool read;
        Color background, message;
    };
    const Color oldUnread = Color::rgb(0.8, 0.8706, 0.9569, 1);
    const Case cases[] = {
        {15, false, 10, true, Color::systemBackground(), Color::secondaryLabel()},
        {15, false, 10, false, Color::tertiarySystemGroupedBackground(), Color::systemBlue()},
        {15, true, 10, false, Color::tertiarySystemGroupedBackground(), Color::systemBlue()},
        {15, true, 0, false, Color::systemBackground(), Color::secondaryLabel()},
        {12, false, 10, true, Color::whiteColor(), Color::gray()},
        {12, false, 10, false, oldUnread, Color::systemBlue()},
        {12, true, 1, false, Color::whiteColor(), Color::gray()},
    };
    for (const Case& c : cases) {
        SystemVersion version(c.version);
        auto cell = laidOut(c.history ? makeHistoryTableCell() : makeMessageTableCell(),
                            rows.conversation({{"type", c.type}, {"isRead", c.read}, {"ABName", "Ann"}}));
        const std::string what = std::to_string(c.version) + (c.history ? " history " : " list ") +
                                 std::to_string(c.type) + (c.read ? " read" : " unread");
        EXPECT_EQ(cell->backgroundColor(), c.background) << what;
        EXPECT_EQ(cell->titleLabel().backgroundColor(), c.background) << what;
        EXPECT_EQ(cell->dateLabel().backgroundColor(), c.background) << what;
        EXPECT_EQ(cell->messageLabel().textColor(), c.message) << what;
        const bool looksRead = c.message != Color::systemBlue();
        EXPECT_EQ(cell->messageLabel().font(), *graphics::HXCFont::HXCFontForType(looksRead ? 0 : 1)) << what;
        EXPECT_EQ(cell->titleLabel().font(), *graphics::HXCFont::HXCFontForType(2));
        EXPECT_EQ(cell->dateLabel().font(), *graphics::HXCFont::HXCFontForType(3));
        EXPECT_EQ(cell->titleLabel().textColor(), c.version >= 13 ? Color::label() : Color::black());
        // A highlighted or selected row lets the selection show through.
        cell->setHighlighted(true);
        cell->layoutIfNeeded();
        EXPECT_EQ(cell->backgroundColor(), Color::clear()) << what;
        cell->setHighlighted(false);
        cell->setSelected(true);
        cell->layoutIfNeeded();
        EXPECT_EQ(cell->messageLabel().backgroundColor(), Color::clear()) << what;
    }
    auto spam = laidOut(makeMessageTableCell(), rows.conversation({{"type", 10}, {"isSpam", true}}));
    EXPECT_EQ(spam->titleLabel().textColor(), Color::rgb(0.6, 0.4, 0.2));
}

TEST_F(CellTest, LayoutsDifferInMessageLinesAndKindIcon) {
    auto list = laidOut(makeMessageTableCell(), rows.conversation({{"type", 10}, {"lastMessageText", "hi"}}));
    auto history = laidOut(makeHistoryTableCell(), rows.conversation({{"type", 0}, {"ABName", "Ann"}}));
    EXPECT_EQ(list->reuseIdentifier(), "MessageTableCell");
    EXPECT_EQ(history->reuseIdentifier(), "HistoryTableCell");
    EXPECT_NE(list->messageLabel().numberOfLines(), 1);
    EXPECT_EQ(history->messageLabel().numberOfLines(), 1);
    EXPECT_FALSE(list->statusImage());
    ASSERT_TRUE(history->statusImage());
    ASSERT_TRUE(history->statusImage()->image());
    EXPECT_EQ(history->statusImage()->image()->name(), "call_missed");
    EXPECT_TRUE(history->statusImage()->accessibility().ignoresInvertColors);
    EXPECT_EQ(history->accessibility().hint, "Missed call");
    // The message label wraps at its own width.
    EXPECT_EQ(list->messageLabel().preferredMaxLayoutWidth(), list->messageLabel().frame().width());
    EXPECT_GT(list->messageLabel().frame().width(), 100);
    // The note marker shows only with a note.
    EXPECT_TRUE(list->noteImage().isHidden());
    auto noted = laidOut(makeMessageTableCell(), rows.conversation({{"type", 10}, {"note", "x"}}));
    EXPECT_FALSE(noted->noteImage().isHidden());
    EXPECT_LE(noted->noteImage().frame().maxX(), noted->dateLabel().frame().minX());
    EXPECT_LE(noted->titleLabel().frame().maxX(), noted->noteImage().frame().minX());
}

TEST_F(CellTest, CountsTheMessagesOnceWhenTheCountIsUnset) {
    showCounts(true);
    auto conversation = rows.conversation({{"type", 10}, {"ABName", "Ann"}});
    for (int i = 0; i < 3; ++i) {
        auto m = rows.context->insertNewObject("HX_Message").value();
        ASSERT_TRUE(conversation->addObject("Messages", m).ok());
    }
    auto cell = laidOut(makeMessageTableCell(), conversation);
    EXPECT_EQ(conversation->value("numberOfMessages").int64Value(), 3);
    EXPECT_EQ(cell->titleLabel().text(), "Ann (3)");
    // A call row of the history is not counted.
    auto call = rows.conversation({{"type", 0}, {"ABName", "Bo"}});
    ASSERT_TRUE(call->addObject("Messages", rows.context->insertNewObject("HX_Message").value()).ok());
    laidOut(makeHistoryTableCell(), call);
    EXPECT_EQ(call->value("numberOfMessages").int64Value(), 0);
}

TEST_F(CellTest, StarFollowsTheConversationOnEitherSideOfVersion13) {
    for (int v : {12, 15}) {
        SystemVersion version(v);
        auto cell = makeMessageTableCell();
        EXPECT_EQ(cell->accessoryView().get(), &cell->starButton());
        for (bool starred : {true, false, true}) {
            laidOut(cell, rows.conversation({{"type", 10}, {"isStarred", starred}}));
            auto image = cell->starButton().imageForState(toolkit::kStateNormal);
            ASSERT_TRUE(image);
            EXPECT_EQ(image->name(), v >= 13 ? (starred ? "star.fill" : "star") : (starred ? "star_on" : "star_off"));
            EXPECT_EQ(image->isSymbol(), v >= 13);
        }
    }
}

TEST_F(CellTest, TheStarSaysWhatATapDoes) {
    auto cell = makeMessageTableCell();
    for (bool starred : {false, true, false}) {
        laidOut(cell, rows.conversation({{"type", 10}, {"isStarred", starred}}));
        EXPECT_EQ(cell->starButton().accessibilityLabel(), starred ? "Remove Star" : "Add Star");
    }
}

// A thread without a name shows its whole number and count beside a short date: the title takes
// the room the date's text leaves in its column.
TEST_F(CellTest, AnUnnamedThreadsNumberAndCountAreNotCutBesideAShortDate) {
    hxtest::UsingFonts fonts;
    makeMessageTableCell()->resetDateLabelWidth();
    showCounts(true);
    auto cell = makeMessageTableCell();
    cell->setFrame(toolkit::Rect(0, 0, 375, 76));
    cell->configure(rows.conversation({{"type", 10},
                                       {"sender", "+15551071271"},
                                       {"phoneNumber", "+15551071271"},
                                       {"formattedNumber", "+1 (555) 107-1271"},
                                       {"numberOfMessages", 3}}),
                    {0, 0}, "10:42 AM", {});
    cell->layoutIfNeeded();
    const auto& title = cell->titleLabel();
    ASSERT_EQ(title.text(), "+1 (555) 107-1271 (3)");
    const double needed = toolkit::textMeasurer().lineWidth(title.text(), title.font());
    EXPECT_GE(title.frame().width(), needed) << "the title is cut";
    const auto& date = cell->dateLabel();
    const double dateText = toolkit::textMeasurer().lineWidth(date.text(), date.font());
    EXPECT_LE(title.frame().maxX(), date.frame().maxX() - dateText) << "the title runs into the date";
    EXPECT_EQ(date.frame().width(), MessageListTableViewCell::sharedDateLabelWidth()) << "the column keeps its width";
    showCounts(false);
}

TEST_F(CellTest, DimmedTintGreysTheDateAndHalvesThePicture) {
    auto cell = laidOut(makeMessageTableCell(), rows.conversation({{"type", 10}}));
    EXPECT_EQ(cell->dateLabel().textColor(), Color::systemBlue());
    cell->setTintAdjustmentMode(toolkit::TintAdjustmentMode::Dimmed);
    EXPECT_EQ(cell->dateLabel().textColor(), cell->tintColor());
    EXPECT_NE(cell->dateLabel().textColor(), Color::systemBlue());
    EXPECT_DOUBLE_EQ(cell->contactImage().alpha(), 0.5);
    cell->setTintAdjustmentMode(toolkit::TintAdjustmentMode::Normal);
    EXPECT_EQ(cell->dateLabel().textColor(), Color::systemBlue());
    EXPECT_DOUBLE_EQ(cell->contactImage().alpha(), 1);
    // Selection keeps the labels' own colours.
    EXPECT_EQ(cell->dateLabel().highlightedTextColor(), Color::systemBlue());
}

TEST_F(CellTest, DateWidthIsMeasuredOnceForAllRowsAndAgainAfterATextSizeChange) {
    auto first = laidOut(makeMessageTableCell(), rows.conversation({{"type", 10}}));
    const auto width = [] {
        return std::ceil(toolkit::textMeasurer().lineWidth("Wednesday", *graphics::HXCFont::HXCFontForType(3))) + 1;
    };
    EXPECT_EQ(MessageListTableViewCell::sharedDateLabelWidth(), width());
    ASSERT_TRUE(first->dateLabelWidthConstraint());
    EXPECT_TRUE(first->dateLabelConstraintsUpdated());
    EXPECT_EQ(first->dateLabelWidthConstraint()->constant(), width());
    EXPECT_EQ(first->dateLabelWidthConstraint()->firstAttribute(), toolkit::LayoutAttribute::Width);
    EXPECT_EQ(first->dateLabel().frame().width(), width());
    EXPECT_EQ(first->dateLabel().constraints().size(), 1u);
    // Layout again adds nothing.
    first->setNeedsLayout();
    first->layoutIfNeeded();
    EXPECT_EQ(first->dateLabel().constraints().size(), 1u);

    graphics::HXCFont::setContentSizeCategory(toolkit::ContentSizeCategory::accessibilityLarge);
    graphics::HXCFont::clearFontCache();
    foundation::NotificationCenter::defaultCenter().post("UIContentSizeCategoryDidChangeNotification", nullptr);
    EXPECT_EQ(MessageListTableViewCell::sharedDateLabelWidth(), 0);
    EXPECT_FALSE(first->dateLabelWidthConstraint());
    EXPECT_TRUE(first->dateLabel().constraints().empty());
    first->setNeedsLayout();
    first->layoutIfNeeded();
    EXPECT_GT(width(), 0);
    EXPECT_EQ(MessageListTableViewCell::sharedDateLabelWidth(), width());
    EXPECT_EQ(first->dateLabel().frame().width(), width());
    // With no row alive the change still reaches the shared width.
    first.reset();
    ASSERT_GT(MessageListTableViewCell::sharedDateLabelWidth(), 0);
    graphics::HXCFont::setContentSizeCategory(toolkit::ContentSizeCategory::large);
    graphics::HXCFont::clearFontCache();
    foundation::NotificationCenter::defaultCenter().post("UIContentSizeCategoryDidChangeNotification", nullptr);
    EXPECT_EQ(MessageListTableViewCell::sharedDateLabelWidth(), 0);
    auto next = laidOut(makeMessageTableCell(), rows.conversation({{"type", 10}}));
    EXPECT_EQ(next->dateLabel().frame().width(), width());
}

TEST_F(CellTest, CachedPictureAppliesOnlyWhileTheRowStillShowsItsConversation) {
    auto cache = HXCCache::create("RowPictures", rows.home.path());
    ASSERT_TRUE(cache);
    MessageListTableViewCell::setContactImageCache(cache);
    auto photo = graphics::imageTintedWithColor(toolkit::makeImage("photo", {40, 40}), Color::red());
    auto ann = rows.conversation({{"type", 10}, {"ABName", "Ann"}, {"formattedNumber", "(555) 111-1111"}});
    auto ben = rows.conversation({{"type", 10}, {"ABName", "Ben"}, {"formattedNumber", "(555) 222-2222"}});
    cache->setObject(HXCCachedObject::withImage(photo), "(555) 111-1111");
    auto isPhoto = [&](const graphics::ImagePtr& image) {
        return image && image->size() == photo->size() && image->name().empty() &&
               graphics::pngRepresentation(image) == graphics::pngRepresentation(graphics::makeRoundImage(photo));
    };
    auto settle = [&] { clock->runUntilIdle(); };

    // Its own answer shows, ignoring colour inversion.
    auto cell = laidOut(makeMessageTableCell(), ann);
    ASSERT_TRUE(cell->contactImage().image());
    EXPECT_FALSE(isPhoto(cell->contactImage().image())) << "the default picture until the cache answers";
    settle();
    EXPECT_TRUE(isPhoto(cell->contactImage().image()));
    EXPECT_TRUE(isPhoto(cell->contactImage().highlightedImage()));
    EXPECT_TRUE(cell->contactImage().accessibility().ignoresInvertColors);

    // Reused for Ben before Ann's answer arrives: Ann's picture never shows on Ben's row.
    auto reused = laidOut(makeMessageTableCell(), ann);  // asks for Ann
    reused->configure(ben, {0, 1}, "", {});
    settle();
    EXPECT_FALSE(isPhoto(reused->contactImage().image()));
    reused->layoutIfNeeded();
    settle();
    EXPECT_FALSE(isPhoto(reused->contactImage().image())) << "Ben has no picture";
    EXPECT_FALSE(reused->contactImage().accessibility().ignoresInvertColors);
    // And back to Ann: her picture returns.
    reused->configure(ann, {0, 3}, "", {});
    reused->layoutIfNeeded();
    settle();
    EXPECT_TRUE(isPhoto(reused->contactImage().image()));
}

TEST_F(CellTest, DefaultPictureIsTintedByReadLookAndGroup) {
    MessageListTableViewCell::setContactImageCache(HXCCache::create("RowPictures", rows.home.path()));
    struct Case {
        int version;
        bool read;
        std::string sender;
        Color tint;
    };
    const Case cases[] = {
        {15, true, "x", Color::systemGray4()},
        {15, false, "x", Color::systemBlue()},
        {15, true, "Group Message", Color::systemGray4()},
        {12, true, "x", Color::white(0.85)},
        {12, false, "x", Color::systemBlue().withAlphaComponent(0.7)},
    };
    for (const Case& c : cases) {
        SystemVersion version(c.version);
        auto cell = laidOut(
            makeMessageTableCell(),
            rows.conversation({{"type", 10}, {"isRead", c.read}, {"sender", c.sender}, {"formattedNumber", ""}}));
        auto image = cell->contactImage().image();
        ASSERT_TRUE(image);
        auto source = c.sender == "Group Message" ? graphics::imageNamed("defaultGroupImage") : defaultContactImage();
        const auto expected = graphics::imageTintedWithColor(source, c.tint);
        EXPECT_EQ(graphics::pngRepresentation(image), graphics::pngRepresentation(expected))
            << c.version << " " << c.read << " " << c.sender;
        EXPECT_EQ(graphics::pngRepresentation(cell->contactImage().highlightedImage()),
                  graphics::pngRepresentation(graphics::imageTintedWithColor(source, Color::whiteColor())));
    }
}

TEST_F(CellTest, DefaultPictureTurnsDarkGreyWithTheAppearance) {
    MessageListTableViewCell::setContactImageCache(HXCCache::create("RowPictures", rows.home.path()));
    toolkit::Window window(toolkit::ScreenProfile::iPhone8());
    auto cell = makeMessageTableCell();
    window.addSubview(cell);
    laidOut(cell, rows.conversation({{"type", 10}, {"formattedNumber", ""}}));
    auto tinted = [](toolkit::InterfaceStyle style) {
        return graphics::pngRepresentation(graphics::imageTintedWithColor(
            defaultContactImage(), Color::dynamic(Color::systemGray4(), Color::systemGray2()).resolved(style)));
    };
    EXPECT_EQ(graphics::pngRepresentation(cell->contactImage().image()), tinted(toolkit::InterfaceStyle::light));
    window.setInterfaceStyle(toolkit::InterfaceStyle::dark);
    cell->layoutIfNeeded();
    EXPECT_EQ(graphics::pngRepresentation(cell->contactImage().image()), tinted(toolkit::InterfaceStyle::dark));
    ASSERT_TRUE(cell->noteImage().image());
    EXPECT_EQ(cell->noteImage().image()->name(), "note");
}

// ---- rows in a list

namespace {

class RowList : public toolkit::TableViewController {
public:
    RowList(std::vector<store::ManagedObjectPtr> rows, bool history) : rows_(std::move(rows)), history_(history) {}
    void viewDidLoad() override {
        toolkit::TableViewController::viewDidLoad();
        tableView()->setRowHeight(toolkit::TableView::kAutomaticDimension);
    }
    long numberOfRows(toolkit::TableView&, long) override { return static_cast<long>(rows_.size()); }
    toolkit::TableViewCellPtr cellForRow(toolkit::TableView& table, toolkit::IndexPath indexPath) override {
        auto cell = std::dynamic_pointer_cast<MessageListTableViewCell>(
            table.dequeueReusableCell(history_ ? kHistoryTableCellIdentifier : kMessageTableCellIdentifier));
        if (!cell) cell = history_ ? makeHistoryTableCell() : makeMessageTableCell();
        cell->configure(rows_[static_cast<size_t>(indexPath.row)], indexPath,
                        indexPath.row < 2 ? "10:42 AM" : "Wednesday",
                        {.showNotesInMessageLists = true, .graphicalEmoticons = false});
        return cell;
    }

private:
    std::vector<store::ManagedObjectPtr> rows_;
    bool history_;
};

std::vector<store::ManagedObjectPtr> sampleRows(RowStore& rows, bool history) {
    const std::string label = kNBSP + "(mobile)";
    if (history)
        return {
            rows.conversation({{"type", 0},
                               {"isRead", false},
                               {"ABName", "Ann Lee" + label},
                               {"lastMessageLength", "0:42"},
                               {"cost", "$0.01"}}),
            rows.conversation({{"type", 10},
                               {"isRead", false},
                               {"ABName", "Ben Ode"},
                               {"numberOfMessages", 12},
                               {"lastMessageText", "Lunch at noon?"}}),
            rows.conversation({{"type", 2},
                               {"ABName", "Cy Park"},
                               {"lastMessageText", "Call me back about the order"},
                               {"isStarred", true}}),
            rows.conversation({{"type", 7}, {"ABName", "Dee" + label}, {"isSenderBlocked", true}}),
            rows.conversation({{"type", 4}, {"lastMessageText", kShalom + " " + kOlam}, {"lastMessageLength", "3:10"}}),
            rows.conversation(
                {{"type", 1}, {"sender", "Group Message"}, {"ABName", "Ann, Ben"}, {"note", "Team call"}}),
        };
    return {
        rows.conversation(
            {{"type", 10},
             {"isRead", false},
             {"ABName", "Ann Lee" + label},
             {"numberOfMessages", 12},
             {"lastMessageText", "Are we still on for lunch today? I booked the table by the window :)"}}),
        rows.conversation({{"type", 10},
                           {"ABName", "Ben Ode"},
                           {"isSenderBlocked", true},
                           {"lastMessageText", "Stop texting me"},
                           {"isSpam", true}}),
        rows.conversation({{"type", 10},
                           {"ABName", "Cy Park"},
                           {"note", "Owes me $20"},
                           {"isStarred", true},
                           {"lastMessageText", "ok"}}),
        rows.conversation({{"type", 11},
                           {"sender", "Group Message"},
                           {"ABName", "Ann, Ben, Cy"},
                           {"numberOfMessages", 3},
                           {"lastMessageText", "See you all there"}}),
        rows.conversation(
            {{"type", 10}, {"ABName", "Dana"}, {"lastMessageText", kShalom + " " + kOlam + "\n" + kShalom}}),
        rows.conversation({{"type", 10}, {"lastMessageText", "Your code is 123456"}}),
    };
}

struct RowGoldens : ::testing::Test {
    RowStore rows;
    hxtest::UsingFonts fonts;
    // The shared date width is measured anew with these fonts.
    void SetUp() override { makeMessageTableCell()->resetDateLabelWidth(); }
    void TearDown() override {
        MessageListTableViewCell::setContactImageCache(nullptr);
        hxtest::resetToPhoneMessageFonts();
    }
    void show(toolkit::testing::Harness& harness, bool history, toolkit::ContentSizeCategory size, bool iPad) {
        MessageListTableViewCell::setContactImageCache(HXCCache::create("RowPictures", rows.home.path()));
        showCounts(true);
        graphics::HXCFont::setIPad(iPad);
        graphics::HXCFont::setContentSizeCategory(size);
        graphics::HXCFont::clearFontCache();
        makeMessageTableCell()->resetDateLabelWidth();  // the tablet's fonts are larger
        harness.setContentSizeCategory(size);
        auto list = std::make_shared<RowList>(sampleRows(rows, history), history);
        harness.setRoot(list);
        harness.clock().runUntilIdle();
        harness.settle();
    }
};

}  // namespace

TEST_F(RowGoldens, OutlinesOnPhoneAndTabletAtDefaultAndAccessibilitySizes) {
    struct Case {
        const char* name;
        bool tablet;
        bool history;
        toolkit::ContentSizeCategory size;
    };
    const Case cases[] = {
        {"rows_phone_sms", false, false, toolkit::ContentSizeCategory::large},
        {"rows_phone_history", false, true, toolkit::ContentSizeCategory::large},
        {"rows_phone_sms_ax", false, false, toolkit::ContentSizeCategory::accessibilityExtraLarge},
        {"rows_phone_history_ax", false, true, toolkit::ContentSizeCategory::accessibilityExtraLarge},
        {"rows_tablet_sms", true, false, toolkit::ContentSizeCategory::large},
        {"rows_tablet_history_ax", true, true, toolkit::ContentSizeCategory::accessibilityExtraLarge},
    };
    for (const Case& c : cases) {
        toolkit::testing::Harness harness(c.tablet ? toolkit::ScreenProfile::iPad()
                                                   : toolkit::ScreenProfile::iPhone8());
        show(harness, c.history, c.size, c.tablet);
        hxtest::expectOutline(harness, c.name);
    }
}

TEST_F(RowGoldens, LookInLightAndDark) {
    for (bool history : {false, true}) {
        std::unique_ptr<toolkit::testing::Harness> harness;
        hxtest::expectSnapshotInLightAndDark(history ? "rows_history" : "rows_sms", [&](toolkit::InterfaceStyle style) {
            harness.reset();  // one harness (and clock) at a time
            harness = std::make_unique<toolkit::testing::Harness>(toolkit::ScreenProfile::iPhone8());
            harness->setInterfaceStyle(style);
            show(*harness, history, toolkit::ContentSizeCategory::large, false);
            return &harness->window();
        });
    }
}

TEST_F(RowGoldens, LookAtAnAccessibilitySize) {
    toolkit::testing::Harness harness(toolkit::ScreenProfile::iPhone8());
    show(harness, false, toolkit::ContentSizeCategory::accessibilityExtraLarge, false);
    hxtest::expectSnapshot(harness.window(), "rows_sms_ax");
}
