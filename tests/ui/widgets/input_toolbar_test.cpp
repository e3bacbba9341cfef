// The reply bar as a user meets it: typing through the focused field (reached by a tap), the bar
// growing upward line by line and stopping at its maximum, Send on touch-down, the return and
// change rules of the field's delegate, the inner view's insets while scrolled, the controls in a
// landscape safe area, the bottom padding, and how it looks in light and dark.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "platform/toolkit/animation.h"
#include "platform/toolkit/renderer.h"
#include "platform/toolkit/text_metrics.h"
#include "platform/toolkit/view_controller.h"
#include "tests/support/goldens.h"
#include "ui/widgets/hxc_input_toolbar.h"

namespace {

using toolkit::Rect;

// Records what the bar tells its owner.
struct Owner : HXCInputToolbarDelegate {
    std::vector<std::string> sent;
    std::vector<double> heights;
    int cameraTaps = 0;
    int changes = 0;
    std::vector<std::string> asked;  // replacements the bar asked about
    bool refuse = false;
    void inputToolbarButtonPressed(HXCInputToolbar& toolbar, const std::string& text) override {
        // Sent before the field is cleared: the field still shows what went.
        EXPECT_EQ(toolbar.textView()->text(), text);
        sent.push_back(text);
    }
    void inputToolbarCameraButtonPressed(HXCInputToolbar&, toolkit::Button&) override { ++cameraTaps; }
    void inputToolbarHeightChanged(HXCInputToolbar&, double height) override { heights.push_back(height); }
    bool inputToolbarTextViewShouldChangeTextInRange(HXCInputToolbar&, toolkit::Range,
                                                     const std::string& text) override {
        asked.push_back(text);
        return !refuse;
    }
    void inputToolbarTextViewDidChange(HXCInputToolbar&, HXCExpandingTextView&) override { ++changes; }
};

struct InputToolbar : ::testing::Test {
    std::unique_ptr<toolkit::testing::Harness> harness;
    std::shared_ptr<toolkit::ViewController> screen;
    std::shared_ptr<HXCInputToolbar> toolbar;
    std::shared_ptr<Owner> owner = std::make_shared<Owner>();
    double bottom = 0;  // where the bar ends: it grows upward from there

    void start(bool camera = false, const toolkit::ScreenProfile& profile = toolkit::ScreenProfile::iPhone8()) {
        harness = std::make_unique<toolkit::testing::Harness>(profile);
        screen = std::make_shared<toolkit::ViewController>();
        harness->setRoot(screen);
        const Rect b = screen->view()->bounds();
        bottom = b.height() - 216;  // above where the keyboard comes
        toolbar = HXCInputToolbar::make({0, bottom - 44, b.width(), 44}, HXCInputToolbar::defaultButtonFont(),
                                        toolkit::Color::systemBlue(), camera);
        toolbar->setInputDelegate(owner);
        screen->view()->addSubview(toolbar);
        harness->settle();
    }
    HXCExpandingTextView& field() { return *toolbar->textView(); }
    double line() const { return toolkit::textMeasurer().lineHeight(toolbar->textView()->font()); }
    // Taps the field (through hit-testing) and types.
    void type(const std::string& text) {
        if (!field().isFirstResponder()) {
            ASSERT_TRUE(harness->tap(field()));
        }
        ASSERT_TRUE(field().isFirstResponder());
        ASSERT_TRUE(harness->typeText(text));
    }
};

}  // namespace

TEST_F(InputToolbar, ANewBarHasAnEmptyOneLineFieldWithItsPlaceholderAndSendDisabled) {
    start();
    field().setPlaceholder("Text Message");
    EXPECT_EQ(field().minimumNumberOfLines(), 1);
    EXPECT_EQ(field().maximumNumberOfLines(), 13);
    EXPECT_EQ(field().font().pointSize(), 15);
    EXPECT_EQ(field().minimumHeight(), std::ceil(line()));
    // The probe of 13 lines is 13 lines high.
    EXPECT_NEAR(field().maximumHeight(), 13 * line(), 1);
    EXPECT_EQ(field().frame().size.height, field().minimumHeight() + 6);
    EXPECT_EQ(field().frame().origin, (toolkit::Point{7, 7}));
    EXPECT_EQ(field().frame().size.width, toolbar->bounds().width() - 91);
    EXPECT_EQ(field().placeholderLabel()->alpha(), 1);
    EXPECT_EQ(field().internalTextView()->accessibilityLabel(), "Text Message");
    EXPECT_FALSE(toolbar->inputButton()->isEnabled());
    EXPECT_EQ(toolbar->cameraButton(), nullptr);
    EXPECT_EQ(toolbar->infoLabel()->alpha(), 0);
    EXPECT_EQ(toolbar->frame().maxY(), bottom);
    // Focusing hides the placeholder.
    type("");
    toolbar->setFrame(toolbar->frame());
    EXPECT_EQ(field().placeholderLabel()->alpha(), 0);
}

TEST_F(InputToolbar, TheBarGrowsUpwardLineByLineUpToItsMaximumThenTheTextScrolls) {
    start();
    struct Step {
        const char* typed;
        int lines;  // the field's height in lines afterwards
    };
    const Step steps[] = {
        {"Hi", 1},                 // one line
        {"\n", 2},                 // a line end at the end counts the empty line after it
        {"there", 2},              // the second line filled
        {"\n\n\n", 5},             // three lines at once
        {"\n\n\n\n\n\n\n\n", 13},  // up to the maximum
        {"\nmore", 13},            // past the maximum the height stays
        {"\n\n\nend", 13},         // and stays
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.typed);
        const size_t eventsBefore = owner->heights.size();
        const double heightBefore = toolbar->frame().size.height;
        type(s.typed);
        const double fieldHeight = std::ceil(s.lines * line()) + 6;
        EXPECT_NEAR(field().frame().size.height, fieldHeight, 1);
        // The bar grew by as much as the field, upward: its bottom stays.
        EXPECT_NEAR(toolbar->frame().size.height, 44 + field().frame().size.height - (field().minimumHeight() + 6),
                    0.001);
        EXPECT_EQ(toolbar->frame().maxY(), bottom);
        // The owner heard each new height once, the last one being the bar's.
        if (toolbar->frame().size.height != heightBefore) {
            ASSERT_GT(owner->heights.size(), eventsBefore);
            EXPECT_EQ(owner->heights.back(), toolbar->frame().size.height);
        } else {
            EXPECT_EQ(owner->heights.size(), eventsBefore);
        }
        for (size_t i = 1; i < owner->heights.size(); ++i) EXPECT_NE(owner->heights[i], owner->heights[i - 1]);
        EXPECT_EQ(toolbar->infoLabel()->alpha(), s.lines > 1 ? 1 : 0);
        EXPECT_TRUE(toolbar->inputButton()->isEnabled());
        // The caret stays in sight of the inner view.
        auto& inner = *field().internalTextView();
        const Rect caret = inner.caretRectForPosition(inner.endOfDocument());
        EXPECT_GE(caret.maxY(), inner.bounds().minY()) << "caret above the visible text";
        EXPECT_LE(caret.minY(), inner.bounds().maxY()) << "caret below the visible text";
    }
    EXPECT_GT(field().internalTextView()->contentOffset().y, 0);
    // Deleting back to one line shrinks the bar again.
    ASSERT_TRUE(harness->pressBackspace(static_cast<int>(field().internalTextView()->text().size()) - 2));
    EXPECT_EQ(field().text(), "Hi");
    EXPECT_EQ(field().frame().size.height, field().minimumHeight() + 6);
    EXPECT_EQ(toolbar->frame().size.height, 44);
    EXPECT_EQ(toolbar->frame().maxY(), bottom);
    EXPECT_EQ(toolbar->infoLabel()->alpha(), 0);
}

TEST_F(InputToolbar, SendOnTouchDownHandsOverTheWholeTextThenEmptiesTheField) {
    start();
    type("Hello\nworld");
    ASSERT_TRUE(toolbar->inputButton()->isEnabled());
    ASSERT_TRUE(harness->tap(*toolbar->inputButton()));
    EXPECT_EQ(owner->sent, std::vector<std::string>{"Hello\nworld"});
    EXPECT_EQ(field().text(), "");
    EXPECT_FALSE(toolbar->inputButton()->isEnabled());
    EXPECT_EQ(toolbar->frame().size.height, 44);
    EXPECT_EQ(toolbar->frame().maxY(), bottom);
    // Disabled, the button no longer sends.
    harness->tap(*toolbar->inputButton());
    EXPECT_EQ(owner->sent.size(), 1u);
    // Without an owner the field is emptied all the same.
    toolbar->setInputDelegate({});
    type("again");
    ASSERT_TRUE(harness->tap(*toolbar->inputButton()));
    EXPECT_EQ(field().text(), "");
}

TEST_F(InputToolbar, TheCameraActsOnTouchDownAndMovesTheFieldRight) {
    start(true);
    ASSERT_NE(toolbar->cameraButton(), nullptr);
    EXPECT_EQ(field().frame().origin.x, 51);
    EXPECT_EQ(field().frame().size.width, toolbar->bounds().width() - 135);
    EXPECT_EQ(toolbar->cameraButton()->accessibility().hint, "Attaches images to message");
    ASSERT_TRUE(harness->tap(*toolbar->cameraButton()));
    EXPECT_EQ(owner->cameraTaps, 1);
}

TEST_F(InputToolbar, BackspaceInAnEmptyFieldAsksNobodyAndARefusedChangeIsNotMade) {
    start();
    type("");
    ASSERT_TRUE(harness->pressBackspace(3));
    EXPECT_TRUE(owner->asked.empty());
    EXPECT_EQ(owner->changes, 0);
    // The field's own rule: nothing replaced by nothing in an empty field is refused.
    EXPECT_FALSE(field().shouldChangeTextInRange(*field().internalTextView(), {0, 0}, ""));
    owner->refuse = true;
    type("ab");
    EXPECT_EQ(owner->asked, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(field().text(), "");
    EXPECT_FALSE(toolbar->inputButton()->isEnabled());
}

namespace {

// A field's delegate that implements only what a case asks for.
struct FieldOwner : HXCExpandingTextViewDelegate {
    std::optional<bool> change;      // the answer to should-change; nothing: not implemented
    std::optional<bool> returnKey;   // the answer to should-return; nothing: not implemented
    std::vector<float> willHeights;  // heights announced
    std::vector<float> didHeights;   // heights reported after the change
    std::optional<bool> expandingTextViewShouldChangeTextInRange(HXCExpandingTextView&, toolkit::Range,
                                                                 const std::string&) override {
        return change;
    }
    std::optional<bool> expandingTextViewShouldReturn(HXCExpandingTextView&) override { return returnKey; }
    void expandingTextViewWillChangeHeight(HXCExpandingTextView&, float h) override { willHeights.push_back(h); }
    void expandingTextViewDidChangeHeight(HXCExpandingTextView&, float h) override { didHeights.push_back(h); }
};

struct ExpandingField : ::testing::Test {
    toolkit::testing::Harness harness;
    std::shared_ptr<toolkit::ViewController> screen = std::make_shared<toolkit::ViewController>();
    std::shared_ptr<HXCExpandingTextView> field = HXCExpandingTextView::make({20, 100, 280, 26});
    std::shared_ptr<FieldOwner> owner = std::make_shared<FieldOwner>();
    void SetUp() override {
        harness.setRoot(screen);
        screen->view()->addSubview(field);
        field->setDelegate(owner);
        harness.settle();
        ASSERT_TRUE(harness.tap(*field));
    }
    double line() const { return toolkit::textMeasurer().lineHeight(field->font()); }
};

}  // namespace

TEST_F(ExpandingField, ReturnEndsEditingOnlyWhenAskedAndTheChangeQuestionDecidesAlone) {
    struct Case {
        const char* name;
        std::optional<bool> change, returnKey;
        bool inserted;
        bool stillEditing;
    };
    const Case cases[] = {
        {"no answers", std::nullopt, std::nullopt, true, true},
        {"return answers yes", std::nullopt, true, false, false},
        {"return answers no", std::nullopt, false, true, true},
        {"change answers yes, return yes", true, true, true, true},
        {"change answers no", false, true, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        field->setText("a");
        owner->change = c.change;
        owner->returnKey = c.returnKey;
        if (!field->isFirstResponder()) {
            ASSERT_TRUE(harness.tap(*field));
        }
        field->setSelectedRange({1, 0});
        ASSERT_TRUE(harness.pressReturn());
        EXPECT_EQ(field->text(), c.inserted ? "a\n" : "a");
        EXPECT_EQ(field->isFirstResponder(), c.stillEditing);
    }
    // Without a delegate a line end is plain text.
    field->setDelegate({});
    field->setText("b");
    if (!field->isFirstResponder()) {
        ASSERT_TRUE(harness.tap(*field));
    }
    field->setSelectedRange({1, 0});
    harness.pressReturn();
    EXPECT_EQ(field->text(), "b\n");
}

TEST_F(ExpandingField, ANewMaximumReappliesTheHeightWithoutTyping) {
    field->setMaximumNumberOfLines(3);
    ASSERT_TRUE(harness.typeText("1\n2\n3\n4\n5"));
    // Stopped at three lines.
    EXPECT_NEAR(field->frame().size.height, 3 * line() + 6, 1);
    owner->willHeights.clear();
    owner->didHeights.clear();
    field->setMaximumNumberOfLines(8);
    EXPECT_NEAR(field->frame().size.height, 5 * line() + 6, 1);
    ASSERT_EQ(owner->willHeights.size(), 1u);
    EXPECT_EQ(owner->willHeights, owner->didHeights);
    // The same maximum again measures the same height: nothing to re-apply.
    field->setMaximumNumberOfLines(8);
    EXPECT_EQ(owner->willHeights.size(), 1u);
    EXPECT_EQ(field->maximumNumberOfLines(), 8);
}

TEST_F(ExpandingField, AnimatedGrowthReportsTheNewHeightWhenTheAnimationEnds) {
    toolkit::Animations::setTimed(true);
    field->setAnimateHeightChange(true);
    ASSERT_TRUE(harness.typeText("1\n2"));
    const float two = static_cast<float>(std::ceil(2 * line()) + 6);
    ASSERT_FALSE(owner->willHeights.empty());
    EXPECT_EQ(owner->willHeights.back(), two);
    EXPECT_TRUE(owner->didHeights.empty() || owner->didHeights.back() != two);
    harness.advance(HXCExpandingTextView::kHeightAnimationDuration + 0.01);
    ASSERT_FALSE(owner->didHeights.empty());
    EXPECT_EQ(owner->didHeights.back(), two);
    toolkit::Animations::setTimed(false);
}

TEST(ExpandingFieldInner, TheTopInsetIsFixedAndALargeBottomIsCapped) {
    struct Case {
        toolkit::EdgeInsets given, kept;
    };
    const Case cases[] = {
        {{0, 0, 0, 0}, {-4, 0, 0, 0}},   {{20, 3, 12, 5}, {-4, 3, 12, 5}}, {{-4, 0, 12.5, 0}, {-4, 0, 4, 0}},
        {{8, 0, 300, 0}, {-4, 0, 4, 0}}, {{0, 0, -4, 0}, {-4, 0, -4, 0}},
    };
    auto made = std::make_shared<HXCExpandingTextViewInternal>(Rect(0, 0, 200, 60));
    HXCExpandingTextViewInternal& inner = *made;
    for (const Case& c : cases) {
        inner.setContentInset(c.given);
        EXPECT_EQ(inner.contentInset(), c.kept) << c.given.top << " " << c.given.bottom;
        // Through the scroll view's own setter as well.
        static_cast<toolkit::ScrollView&>(inner).setContentInset(c.given);
        EXPECT_EQ(inner.contentInset(), c.kept);
    }
}

TEST_F(ExpandingField, TheBottomInsetOpensWhileTheUserScrollsAndClosesAfter) {
    ASSERT_TRUE(harness.typeText("1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n11\n12\n13\n14\n15\n16\n17\n18"));
    auto& inner = *field->internalTextView();
    EXPECT_EQ(inner.contentInset().bottom, -4);
    // A fling leaves the content gliding: the bottom is open meanwhile.
    harness.fling(inner, {0, -60});
    ASSERT_TRUE(inner.isDecelerating());
    harness.advance(0.02);
    EXPECT_EQ(inner.contentInset(), (toolkit::EdgeInsets{-4, 0, 0, 0}));
    harness.advance(5);
    ASSERT_FALSE(inner.isDecelerating());
    // A move in code above the end closes it again.
    inner.setContentOffset({0, 0});
    EXPECT_EQ(inner.contentInset(), (toolkit::EdgeInsets{-4, 0, -4, 0}));
}

TEST_F(InputToolbar, InLandscapeTheControlsKeepToTheSafeArea) {
    for (bool camera : {false, true}) {
        SCOPED_TRACE(camera ? "camera" : "no camera");
        start(camera, toolkit::ScreenProfile::iPhoneX());
        harness->rotate(toolkit::Orientation::LandscapeLeft);
        const Rect b = screen->view()->bounds();
        // High enough that the keyboard leaves it free.
        toolbar->setFrame({0, 100, b.width(), toolbar->frame().size.height});
        harness->settle();
        const toolkit::EdgeInsets safe = toolbar->safeAreaInsets();
        ASSERT_GT(safe.left + safe.right, 0) << "the profile has no side insets in landscape";
        EXPECT_EQ(toolbar->inputButton()->frame().maxX(), b.width() - safe.right - 20);
        EXPECT_EQ(field().frame().minX(), safe.left + (camera ? 51 : 7));
        EXPECT_EQ(field().frame().maxX(), b.width() - safe.right - 84);
        if (camera) {
            EXPECT_EQ(toolbar->cameraButton()->frame().minX(), safe.left + 6);
        }
        // A tap on the field in landscape still reaches it.
        type("x");
        EXPECT_EQ(field().text(), "x");
    }
}

TEST_F(InputToolbar, BottomPaddingGrowsTheBarUpwardAndBack) {
    start(true);
    owner->heights.clear();
    const double top = toolbar->frame().minY();
    toolbar->setBottomPadding(20);
    EXPECT_EQ(toolbar->frame().minY(), top - 20);
    EXPECT_EQ(toolbar->frame().maxY(), bottom);
    // The controls stay above the padding.
    EXPECT_EQ(toolbar->inputButton()->frame().maxY(), toolbar->bounds().height() - 20 - 6);
    EXPECT_EQ(toolbar->cameraButton()->frame().maxY(), toolbar->bounds().height() - 20);
    toolbar->setBottomPadding(0);
    EXPECT_EQ(toolbar->frame().minY(), top);
    EXPECT_EQ(owner->heights, (std::vector<double>{64, 44}));
    EXPECT_EQ(toolbar->bottomPadding(), 0);
}

TEST_F(InputToolbar, PicturesOfTheBarEmptyAndAtThreeLinesInLightAndDark) {
    hxtest::UsingFonts fonts;
    start(true);
    field().setPlaceholder("Text Message");
    harness->settle();
    hxtest::expectSnapshotInLightAndDark(
        "input_toolbar_empty",
        [&](toolkit::InterfaceStyle style) {
            harness->setInterfaceStyle(style);
            return toolbar.get();
        },
        2);
    type("Three lines of reply\nwith a second\nand a third");
    toolbar->infoLabel()->setText("58/160");
    harness->setInterfaceStyle(toolkit::InterfaceStyle::light);
    harness->settle();
    hxtest::expectOutline(*harness, "input_toolbar");
    hxtest::expectSnapshotInLightAndDark(
        "input_toolbar_three_lines",
        [&](toolkit::InterfaceStyle style) {
            harness->setInterfaceStyle(style);
            return toolbar.get();
        },
        2);
}

namespace {

// What the field's text paints near the top edge of its picture: the bar is drawn once as it is and
// once with the text in a clear colour, and the pixels that differ across the field's width are
// counted from the bar's top down through the field's one-point edge, and in the four points below.
struct InkAtTheEdge {
    int onOrAbove = 0;
    int justInside = 0;
    std::string first;  // where the first pixel on or above the edge lies
};

InkAtTheEdge inkAtTheTopEdge(HXCInputToolbar& toolbar, HXCExpandingTextView& field) {
    constexpr double scale = 2;
    auto& inner = *field.internalTextView();
    const toolkit::Color colour = inner.textColor();
    const auto withText = toolkit::snapshot(toolbar, scale);
    inner.setTextColor(toolkit::Color::clear());
    const auto withoutText = toolkit::snapshot(toolbar, scale);
    inner.setTextColor(colour);
    InkAtTheEdge ink;
    if (!withText || !withoutText) {
        ink.first = "the bar could not be drawn";
        ++ink.onOrAbove;
        return ink;
    }
    const Rect f = field.frame();
    const int x0 = static_cast<int>(f.minX() * scale), x1 = static_cast<int>(f.maxX() * scale);
    const int edgeEnd = static_cast<int>((f.minY() + 1) * scale), below = edgeEnd + static_cast<int>(4 * scale);
    for (int y = 0; y < below; ++y) {
        for (int x = x0; x < x1; ++x) {
            if (withText->row(y)[x] == withoutText->row(y)[x]) continue;
            if (y >= edgeEnd) {
                ++ink.justInside;
            } else if (ink.onOrAbove++ == 0) {
                ink.first = "pixel (" + std::to_string(x) + ", " + std::to_string(y) + "), the edge ending at row " +
                            std::to_string(edgeEnd);
            }
        }
    }
    return ink;
}

}  // namespace

// A reply longer than the field's lines scrolls inside it; wherever it stands, the line half
// scrolled away at the top is cut inside the field's edge (nothing of it on the edge or above),
// in portrait (from six lines) and in landscape (from four), and its lower part still shows.
TEST_F(InputToolbar, TheLineScrolledHalfAwayIsCutInsideTheFieldsEdge) {
    hxtest::UsingFonts fonts;
    struct Case {
        const char* name;
        toolkit::ScreenProfile profile;
        bool landscape;
        int maximumLines;
        const char* text;
    };
    const Case cases[] = {
        {"portrait", toolkit::ScreenProfile::iPhone8(), false, 5, "jumpy gypsy\ntwo\nthree\nfour\nfive\nsix"},
        {"landscape", toolkit::ScreenProfile::iPhoneX(), true, 3, "jumpy gypsy\ntwo\nthree\nfour"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        start(true, c.profile);
        if (c.landscape) {
            harness->rotate(toolkit::Orientation::LandscapeLeft);
            toolbar->setFrame({0, 100, screen->view()->bounds().width(), toolbar->frame().size.height});
            harness->settle();
        }
        field().setMaximumNumberOfLines(c.maximumLines);
        type(c.text);
        harness->settle();
        auto& inner = *field().internalTextView();
        const double end = inner.contentOffset().y;
        ASSERT_GT(end, 0) << "the text does not scroll";
        // Where typing left it, the first line's descenders show just inside the edge.
        const InkAtTheEdge atEnd = inkAtTheTopEdge(*toolbar, field());
        EXPECT_EQ(atEnd.onOrAbove, 0) << atEnd.first;
        EXPECT_GT(atEnd.justInside, 0) << "the half line is not shown";
        // Then half a line further up at each step, back to the top.
        for (double offset = end - line() / 2; offset > 0; offset -= line() / 2) {
            inner.setContentOffset({0, offset});
            harness->settle();
            const InkAtTheEdge ink = inkAtTheTopEdge(*toolbar, field());
            EXPECT_EQ(ink.onOrAbove, 0) << "scrolled to " << offset << ": " << ink.first;
        }
    }
    // How it looks scrolled to the end in portrait: the first line's lower part under the edge.
    start(true);
    field().setMaximumNumberOfLines(5);
    type("jumpy gypsy\ntwo\nthree\nfour\nfive\nsix");
    toolbar->infoLabel()->setText("32/160");
    harness->settle();
    hxtest::expectSnapshotInLightAndDark(
        "input_toolbar_scrolled",
        [&](toolkit::InterfaceStyle style) {
            harness->setInterfaceStyle(style);
            return toolbar.get();
        },
        2);
}

// A user types six lines, the caret at the end of the last, and turns the phone: the field takes
// the new orientation's maximum (five lines upright, three on its side) as the conversation screen
// gives it on a turn, with the text taken out and put back, or straight. Whichever way it turns,
// the line being typed shows whole inside the field, and goes on showing as the user types on,
// from the line end that opens a new line.
TEST_F(InputToolbar, AfterATurnTheLineBeingTypedShowsWholeInTheField) {
    struct Case {
        const char* name;
        toolkit::Orientation from, to;
        int fromLines, toLines;
        bool remeasured;  // the text taken out and put back around the new maximum
    };
    const Case cases[] = {
        {"portrait to landscape", toolkit::Orientation::Portrait, toolkit::Orientation::LandscapeLeft, 5, 3, true},
        {"landscape to portrait", toolkit::Orientation::LandscapeLeft, toolkit::Orientation::Portrait, 3, 5, true},
        {"portrait to landscape, maximum only", toolkit::Orientation::Portrait, toolkit::Orientation::LandscapeLeft, 5,
         3, false},
        {"landscape to portrait, maximum only", toolkit::Orientation::LandscapeLeft, toolkit::Orientation::Portrait, 3,
         5, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        start(true);
        const auto turn = [&](toolkit::Orientation to) {
            harness->rotate(to);
            // High enough that the keyboard leaves it free.
            toolbar->setFrame({0, 100, screen->view()->bounds().width(), toolbar->frame().size.height});
            harness->settle();
        };
        if (c.from != toolkit::Orientation::Portrait) turn(c.from);
        field().setMaximumNumberOfLines(c.fromLines);
        type("one\ntwo\nthree\nfour\nfive\nsix");
        harness->settle();
        auto& inner = *field().internalTextView();
        const auto caretShowsWhole = [&](const char* when) {
            SCOPED_TRACE(when);
            ASSERT_TRUE(field().isFirstResponder());
            ASSERT_EQ(inner.selectedRange(), (toolkit::Range{inner.endOfDocument().offset, 0}));
            const Rect caret = inner.caretRectForPosition(inner.endOfDocument());
            const Rect seen = inner.bounds();
            EXPECT_GE(caret.minY(), seen.minY()) << "the caret's line is cut at the top";
            EXPECT_LE(caret.maxY(), seen.maxY()) << "the caret's line is cut at the bottom";
        };
        caretShowsWhole("typed");

        turn(c.to);
        if (c.remeasured) {
            const std::string text = field().text();
            field().clearText();
            field().setMaximumNumberOfLines(c.toLines);
            field().setText(text);
        } else {
            field().setMaximumNumberOfLines(c.toLines);
        }
        harness->settle();
        caretShowsWhole("turned");
        if (c.remeasured) {
            EXPECT_NEAR(field().frame().size.height, std::ceil(c.toLines * line()) + 6, 1);
        }
        // A new line, then its first word.
        type("\n");
        caretShowsWhole("a line end typed");
        type("seven");
        caretShowsWhole("typing on");
    }
}
