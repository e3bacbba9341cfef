// A text of one long unbroken word in a thread, laid out with the bundled fonts: the row is
// measured and the bubble drawn from one layout in one room (the layouts made and the bytes shaped
// are counted); its lines break at that room as greedy breaking between characters means (the
// outline of a 2,000-character word is as it was); and selection, the caret and copying in the
// bubble stand on the stored text, unchanged.
#include "platform/graphics/text_layout.h"
#include "platform/toolkit/font_text_measurer.h"
#include "tests/support/goldens.h"
#include "tests/ui/conversation/conversation_support.h"
#include "ui/conversation/conversation_table_view_cell.h"

namespace {

// Letters cycled, with no break opportunity in them.
std::string word(size_t length) {
    std::string out;
    for (size_t i = 0; i < length; ++i) out += static_cast<char>('a' + (i * 7 + i / 26) % 26);
    return out;
}

// A measurer of the bundled fonts that has laid nothing out yet, so what a screen lays out is
// counted.
struct CountingMeasurer {
    toolkit::FontTextMeasurer measurer;
    CountingMeasurer() { toolkit::setTextMeasurer(&measurer); }
    ~CountingMeasurer() { toolkit::setTextMeasurer(nullptr); }
};

struct ConversationLongWord : hxtest::ConversationFixture {
    // The thread: a short text, then the newest, from this side.
    VC_Conversation& openEndingIn(const std::string& text, const std::string& id = "t1") {
        auto c = storeConversation(id, 10);
        storeMessages(c, {{.id = id + "a", .number = 1'700'000'000'000, .text = "Here it comes"},
                          {.id = id + "b", .number = 1'700'000'060'000, .text = text, .outgoing = true}});
        auto& s = open(id);
        s.tableView().scrollToRow({1, 0}, toolkit::ScrollPosition::Top, false);
        harness.settle();
        return s;
    }
    ConversationTableViewCell* bubble(VC_Conversation& s) {
        return dynamic_cast<ConversationTableViewCell*>(s.tableView().cellForRow({1, 0}).get());
    }
};

}  // namespace

// The lines of the bubble: put together they are the text, each fits the room the row was
// measured in, none could have taken the next line's first character, and the row is as high as
// they are.
TEST_F(ConversationLongWord, AWordOfTwoThousandCharactersBreaksBetweenCharactersAtTheMeasuredRoom) {
    CountingMeasurer fonts;
    const std::string text = word(2'000);
    auto& s = openEndingIn(text);
    expectOutline("conversation_long_word_phone");
    auto* cell = bubble(s);
    ASSERT_NE(cell, nullptr);
    const toolkit::TextView& view = cell->messageView();
    // A one-to-one thread's bubble text has the table's width less 110 points.
    const double room = s.tableView().bounds().width() - 110;
    ASSERT_GT(room, 0);
    const auto& lines = view.textBox().lines;
    ASSERT_GT(lines.size(), 20u);
    const graphics::Font font = lines[0].content.runs().at(0).attributes.font;
    std::string joined;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string& shown = lines[i].content.string();
        EXPECT_EQ(shown, text.substr(lines[i].start, shown.size())) << "line " << i;
        joined += shown;
        EXPECT_LE(graphics::sizeOfText(shown, font).width, room) << "line " << i;
        if (i + 1 < lines.size()) {
            EXPECT_GT(graphics::sizeOfText(shown + text[lines[i + 1].start], font).width, room)
                << "line " << i << " could have held one more character";
        }
    }
    EXPECT_EQ(joined, text);
    // The bubble's text view is as high as its lines, inside the row measured for them.
    EXPECT_GE(cell->frame().height(), view.textBox().size.height);
}

// The row's measure and the bubble share one layout of the long text: opening the thread lays
// out at most one more text than the same thread ending in a short one (not one for the row and
// one for the bubble in a room a few points wider), and shapes about as many of the text's bytes
// as there are in it, not twice.
TEST_F(ConversationLongWord, ALongWordIsLaidOutOnceForItsRowAndItsBubble) {
    const std::string text = word(20'000);
    size_t shortLayouts = 0;
    {
        CountingMeasurer fonts;
        openEndingIn("See you there", "t0");
        shortLayouts = fonts.measurer.layoutsMade();
    }
    harness.setRoot(nullptr);
    harness.settle();
    CountingMeasurer fonts;
    graphics::resetTextWork();
    auto& s = openEndingIn(text);
    ASSERT_NE(bubble(s), nullptr);
    EXPECT_LE(fonts.measurer.layoutsMade(), shortLayouts + 1);
    EXPECT_LT(graphics::textWork().bytes, text.size() * 3 / 2);
}

// Selecting, the caret and copying in the bubble: offsets are the stored text's (no break
// opportunity added for the layout shows in them), and copying gives the word back whole.
TEST_F(ConversationLongWord, SelectionAndCaretInALongWordStandOnTheStoredText) {
    CountingMeasurer fonts;
    const std::string text = word(5'000);
    auto& s = openEndingIn(text);
    auto* cell = bubble(s);
    ASSERT_NE(cell, nullptr);
    toolkit::TextView& view = cell->messageView();
    EXPECT_EQ(view.text(), text);
    const auto& lines = view.textBox().lines;
    ASSERT_GT(lines.size(), 10u);
    for (size_t i : {size_t{1}, size_t{7}, lines.size() - 1}) {
        const toolkit::TextLine& line = lines[i];
        EXPECT_EQ(line.content.string().find("\u200B"), std::string::npos) << "line " << i;
        // The caret a few characters into the line stands on it; a point there finds that offset.
        const toolkit::Rect caret = view.caretRectForPosition({line.start + 3});
        EXPECT_NEAR(caret.minY(), view.textContainerInset().top + line.frame.minY(), 0.01) << "line " << i;
        const toolkit::TextPosition found = view.closestPositionToPoint({caret.minX() + 0.5, caret.midY()});
        EXPECT_EQ(found.offset, line.start + 3) << "line " << i;
    }
    // A selection across two lines covers the characters selected, and copies them as stored.
    const size_t from = lines[2].start + 5, to = lines[3].start + 5;
    view.setSelectedRange({from, to - from});
    EXPECT_EQ(view.selectionRectsForRange(view.selectedRange()).size(), 2u);
    EXPECT_EQ(cell->candidateText(), text.substr(from, to - from));
    view.setSelectedRange({0, text.size()});
    EXPECT_EQ(cell->candidateText(), text);
}
