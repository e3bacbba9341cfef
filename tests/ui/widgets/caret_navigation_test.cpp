// Caret moves by letter and by word in UTF-16 units: selections collapse, letters are what a
// reader sees as one character (marks, modifiers and joined emoji included), emoji stay whole,
// words start after spaces and tabs (a repeated word or a word inside another is no jump target).
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/foundation/strings.h"
#include "platform/toolkit/testing/harness.h"
#include "platform/toolkit/text_input.h"
#include "ui/widgets/caret_navigation.h"

namespace {

struct Case {
    const char* text;  // UTF-8; offsets below are UTF-16 units
    HXCTextRange selection;
    size_t forward, back;
};

std::u16string u16(const char* s) { return foundation::toUtf16(s); }

}  // namespace

TEST(CaretNavigation, Letters) {
    // "a😀b": the emoji is two units.
    const Case cases[] = {
        {"abc", {0, 0}, 1, 0},
        {"abc", {3, 0}, 3, 2},
        {"abc", {1, 1}, 2, 1},
        {"abc", {0, 3}, 3, 0},
        {"", {0, 0}, 0, 0},
        {"a😀b", {1, 0}, 3, 0},
        {"a😀b", {3, 0}, 4, 1},
        {"a😀b", {2, 0}, 3, 0},         // a caret inside the pair is taken to its start
        {"e\xcc\x81x", {0, 0}, 2, 0},  // a letter with its combining mark is one
        {"e\xcc\x81x", {2, 0}, 3, 0},
        {"e\xcc\x81x", {3, 0}, 3, 2},
        {"a\xcc\x81\xcc\xa7", {3, 0}, 3, 0},  // two marks on one letter
        {"👍🏽!", {0, 0}, 4, 0},          // a skin tone stays with its emoji
        {"x👨‍👩‍👧", {1, 0}, 9, 0},
        {"x👨‍👩‍👧", {9, 0}, 9, 1},  // a joined family is one letter
        {"🇫🇷🇩🇪", {0, 0}, 4, 0},
        {"🇫🇷🇩🇪", {8, 0}, 8, 4},  // flags, pair by pair
        {"\r\n", {0, 0}, 2, 0},  // a line end of two units
        {"abc", {9, 4}, 3, 2},
        {"abc", {2, 99}, 3, 2},
        {"😀", {0, 0}, 2, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " @" + std::to_string(c.selection.location) + "+" +
                     std::to_string(c.selection.length));
        EXPECT_EQ(hxcCaretAdvancingOneLetter(u16(c.text), c.selection), c.forward);
        EXPECT_EQ(hxcCaretBackOneLetter(u16(c.text), c.selection), c.back);
    }
}

TEST(CaretNavigation, WordsMoveToWordStarts) {
    const Case cases[] = {
        // Three words: inside the second -> start of the third; inside the third -> the end, back
        // to its start; from the start of the third back to the second.
        {"one two six", {5, 0}, 8, 4},
        {"one two six", {9, 0}, 11, 8},
        {"one two six", {8, 0}, 11, 4},
        {"one two six", {0, 0}, 4, 0},
        {"one two six", {11, 0}, 11, 8},
        // A selection collapses to its end going forward and to its start going back.
        {"one two six", {1, 5}, 6, 1},
        // A word that repeats is still a stop, and a word inside an earlier word is not.
        {"go go go", {0, 0}, 3, 0},
        {"go go go", {3, 0}, 6, 0},
        {"go go go", {7, 0}, 8, 6},
        {"abc b", {0, 0}, 4, 0},
        {"abc b", {5, 0}, 5, 4},
        // Runs of spaces and tabs separate; line ends do not.
        {"a  \tb", {1, 0}, 4, 0},
        {"a\nb c", {0, 0}, 4, 0},
        {"  lead", {0, 0}, 2, 0},
        {"  lead", {4, 0}, 6, 2},
        {"trail  ", {2, 0}, 7, 0},
        // Emoji words, in units.
        {"😀 😀😀 x", {0, 0}, 3, 0},
        {"😀 😀😀 x", {3, 0}, 8, 0},
        {"😀 😀😀 x", {8, 0}, 9, 3},
        {"", {0, 0}, 0, 0},
        {"   ", {1, 0}, 3, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " @" + std::to_string(c.selection.location) + "+" +
                     std::to_string(c.selection.length));
        EXPECT_EQ(hxcCaretAdvancingOneWord(u16(c.text), c.selection), c.forward);
        EXPECT_EQ(hxcCaretBackOneWord(u16(c.text), c.selection), c.back);
    }
}

TEST(CaretNavigation, RepeatedMovesVisitEveryWordStartOnceInOrder) {
    const std::u16string text = u16("if\tit is, it is 😀 ok\nnow");
    std::vector<size_t> forward{0}, back{text.size()};
    // At most one move per letter: a move that sticks ends the walk instead of growing it for good.
    while (forward.back() < text.size() && forward.size() <= text.size())
        forward.push_back(hxcCaretAdvancingOneWord(text, {forward.back(), 0}));
    while (back.back() > 0 && back.size() <= text.size()) back.push_back(hxcCaretBackOneWord(text, {back.back(), 0}));
    // Word starts, then the end.
    EXPECT_EQ(forward, (std::vector<size_t>{0, 3, 6, 10, 13, 16, 19, text.size()}));
    std::vector<size_t> reversed(back.rbegin(), back.rend());
    EXPECT_EQ(reversed, (std::vector<size_t>{0, 3, 6, 10, 13, 16, 19, text.size()}));
}

// ---- the swipes on real text inputs, through the harness

namespace {

class Form : public toolkit::ViewController {
public:
    std::shared_ptr<toolkit::TextField> field = std::make_shared<toolkit::TextField>(toolkit::Rect(20, 100, 300, 30));
    std::shared_ptr<toolkit::TextView> note = std::make_shared<toolkit::TextView>(toolkit::Rect(20, 200, 300, 120));
    void viewDidLoad() override {
        view()->addSubview(field);
        view()->addSubview(note);
    }
};

struct Gestures : ::testing::Test {
    toolkit::testing::Harness harness;
    std::shared_ptr<Form> form = std::make_shared<Form>();
    void SetUp() override {
        harness.setRoot(form);
        harness.settle();
    }
    // A swipe of n fingers across the screen's middle, away from both inputs' own scrolling.
    void swipe(int fingers, bool right) {
        const double y = 400;
        harness.swipe({right ? 60.0 : 300.0, y}, {right ? 300.0 : 60.0, y}, fingers);
    }
};

}  // namespace

TEST_F(Gestures, SwipesMoveTheCaretOfTheInputByLettersWordsAndToTheEnds) {
    ASSERT_TRUE(hxcAddGestureNavigationToTextInput(*form->field, *form->view()));
    form->field->setText("hi 👍🏽 go e\xcc\x81t");  // units: h i ␠ 👍🏽(4) ␠ g o ␠ e ◌́ t = 14
    hxcSetSelectedRange({0, 0}, *form->field);
    struct Step {
        int fingers;
        bool right;
        HXCTextRange after;
    };
    const Step steps[] = {
        {2, true, {3, 0}},                        // to the emoji word
        {1, true, {7, 0}},                        // the emoji and its skin tone are one letter
        {2, true, {8, 0}},                        // "go"
        {2, true, {11, 0}},                       // "e\u0301t"
        {1, true, {13, 0}},                       // the letter with its mark
        {1, false, {11, 0}},                      // and back over it whole
        {3, true, {14, 0}},                       // the end
        {1, true, {14, 0}},                       // nothing beyond it
        {2, false, {11, 0}},                      // word starts going back
        {2, false, {8, 0}},  {3, false, {0, 0}},  // the beginning
        {1, false, {0, 0}},
    };
    for (const auto& s : steps) {
        swipe(s.fingers, s.right);
        EXPECT_EQ(hxcSelectedRange(*form->field), s.after) << s.fingers << (s.right ? " right" : " left");
    }
    // A selection collapses to its end going forward and to its start going back.
    hxcSetSelectedRange({3, 4}, *form->field);
    swipe(1, true);
    EXPECT_EQ(hxcSelectedRange(*form->field), (HXCTextRange{7, 0}));
    hxcSetSelectedRange({3, 4}, *form->field);
    swipe(2, false);
    EXPECT_EQ(hxcSelectedRange(*form->field), (HXCTextRange{3, 0}));
}

TEST_F(Gestures, TheTextViewGetsThemOnItsSuperviewAndTheFieldIsLeftAlone) {
    ASSERT_TRUE(hxcAddGestureNavigation(*form->note));
    EXPECT_TRUE(form->note->gestureRecognizers().empty() ||
                std::none_of(form->note->gestureRecognizers().begin(), form->note->gestureRecognizers().end(),
                             [](const auto& r) { return r->className() == "SwipeGestureRecognizer"; }));
    size_t swipes = 0;
    for (const auto& r : form->view()->gestureRecognizers()) swipes += r->className() == "SwipeGestureRecognizer";
    EXPECT_EQ(swipes, 6u);
    form->note->setText("one two\nthree");
    form->field->setText("field");
    hxcSetSelectedRange({5, 0}, *form->note);
    hxcSetSelectedRange({2, 0}, *form->field);
    swipe(2, true);
    EXPECT_EQ(hxcSelectedRange(*form->note), (HXCTextRange{13, 0})) << "a line end does not start a word";
    swipe(2, false);
    EXPECT_EQ(hxcSelectedRange(*form->note), (HXCTextRange{4, 0}));
    EXPECT_EQ(hxcSelectedRange(*form->field), (HXCTextRange{2, 0}));
    // An input without a superview has nowhere to put them.
    toolkit::TextField loose;
    EXPECT_FALSE(hxcAddGestureNavigation(loose));
}
