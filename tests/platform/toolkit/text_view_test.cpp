// The text view as a scroll view over its text, the text positions of both text inputs, the caret
// and selection on screen, links and numbers found in text, the text field's side views, and the
// text controls' setters marking layout and display.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

#include "platform/foundation/strings.h"
#include "platform/services/url_opener.h"
#include "platform/toolkit/font_text_measurer.h"
#include "platform/toolkit/renderer.h"
#include "platform/toolkit/testing/harness.h"
#include "platform/toolkit/text_input.h"
#include "platform/toolkit/window.h"
#include "tests/platform/toolkit/snapshot_support.h"
#include "tests/platform/toolkit/text_box_support.h"

using namespace toolkit;
using toolkit_snapshots::UsingFonts;

namespace {

using Pixel = std::array<uint8_t, 4>;

// Clearly the tint (system blue): blue well above red and green.
bool isTint(const Pixel& p) { return p[2] > 180 && p[0] < 120 && p[2] - p[1] > 40; }
// A light blue wash (the selection over white).
bool isWash(const Pixel& p) { return p[2] > 230 && p[0] < 225 && p[0] > 120 && p[2] - p[0] > 20; }

int countIn(const graphics::Bitmap& b, const std::function<bool(const Pixel&)>& test, Rect area) {
    int n = 0;
    for (int y = std::max(0, static_cast<int>(area.minY())); y < std::min<int>(b.height(), area.maxY()); ++y) {
        for (int x = std::max(0, static_cast<int>(area.minX())); x < std::min<int>(b.width(), area.maxX()); ++x) {
            n += test(b.rgbaAt(x, y));
        }
    }
    return n;
}

struct Focused {
    UsingFonts fonts;
    std::unique_ptr<toolkit::testing::Harness> harness =
        std::make_unique<toolkit::testing::Harness>(ScreenProfile::iPhone8());
    std::shared_ptr<View> panel = View::make(Rect(0, 0, 300, 200));
    Focused() {
        panel->setBackgroundColor(Color::whiteColor());
        harness->window().addSubview(panel);
    }
    ~Focused() { panel->removeFromSuperview(); }
    std::shared_ptr<graphics::Bitmap> pixels() {
        harness->settle();
        return snapshot(*panel, 1);
    }
};

}  // namespace

TEST(TextPositions, OffsetsCountUtf16UnitsAndStayInTheText) {
    auto view = std::make_shared<TextView>();
    view->setText("a😀b");  // 1 + 2 + 1 units
    EXPECT_EQ(view->endOfDocument().offset, 4u);
    struct Case {
        size_t from;
        long by;
        std::optional<size_t> to;
    } cases[] = {{0, 0, 0},
                 {0, 4, 4},
                 {1, 2, 3},
                 {4, -4, 0},
                 {4, 1, std::nullopt},
                 {0, -1, std::nullopt},
                 {5, -1, std::nullopt}};
    for (const Case& c : cases) {
        const auto p = view->positionFromPosition({c.from}, c.by);
        EXPECT_EQ(p ? std::optional<size_t>(p->offset) : std::nullopt, c.to) << c.from << " by " << c.by;
    }
    EXPECT_EQ(view->offsetFromPosition({3}, {1}), -2);
    // A range comes out ordered, and none reaches outside the text.
    ASSERT_TRUE(view->textRangeFromPosition({3}, {1}));
    EXPECT_EQ(*view->textRangeFromPosition({3}, {1}), (TextRange{{1}, {3}}));
    EXPECT_FALSE(view->textRangeFromPosition({0}, {9}));
    EXPECT_EQ(view->textInRange({{1}, {3}}), "😀");
    // A selection that would split the emoji takes all of it.
    view->setSelectedTextRange({{2}, {2}});
    EXPECT_EQ(view->selectedTextRange(), (TextRange{{1}, {1}}));
    view->setSelectedTextRange({{3}, {1}});
    EXPECT_EQ(view->selectedRange(), (Range{1, 2}));

    // The field answers the same positions over its own text.
    auto field = std::make_shared<TextField>();
    field->setText("héllo");
    field->setSelectedTextRange({{1}, {4}});
    EXPECT_EQ(field->selectedRange(), (Range{1, 3}));
    EXPECT_EQ(field->textInRange(field->selectedTextRange()), "éll");
}

TEST(TextViewScrolling, ContentSizeFollowsTheTextAndTypingKeepsTheCaretInView) {
    Focused f;
    auto view = std::make_shared<TextView>(Rect(0, 0, 200, 80));
    view->setFont(Font::system(14));
    f.panel->addSubview(view);
    view->setText("one");
    f.harness->settle();
    const double oneLine = view->contentSize().height;
    EXPECT_NEAR(oneLine, view->textBox().size.height + 16, 1e-9);
    std::string many;
    for (int i = 0; i < 12; ++i) many += "line " + std::to_string(i) + "\n";
    view->setText(many + "end");
    f.harness->settle();
    EXPECT_GT(view->contentSize().height, 200);
    EXPECT_EQ(view->contentSize().width, 200);
    // Typing at the end scrolls the caret into view.
    ASSERT_TRUE(view->becomeFirstResponder());
    view->setSelectedRange({view->endOfDocument().offset, 0});
    view->insertText("!");
    const Rect caret = view->caretRectForPosition(view->endOfDocument());
    EXPECT_GT(view->contentOffset().y, 0);
    EXPECT_GE(caret.minY(), view->bounds().minY());
    EXPECT_LE(caret.maxY(), view->bounds().maxY());
    // And back to the top on request.
    view->scrollRangeToVisible({0, 0});
    EXPECT_EQ(view->contentOffset().y, 0);
    // The content inset is the scroll view's own, apart from the text container's.
    view->setContentInset({10, 0, 0, 0});
    EXPECT_EQ(view->textContainerInset().top, 8);
}

TEST(TextViewCaret, CaretAndSelectionAreDrawnWhereTheTextIs) {
    Focused f;
    auto view = std::make_shared<TextView>(Rect(0, 0, 300, 60));
    view->setFont(Font::system(17));
    view->setText("Hello world");
    f.panel->addSubview(view);
    ASSERT_TRUE(view->becomeFirstResponder());
    view->setSelectedRange({5, 0});
    const Rect caret = view->caretRectForPosition({5});
    // The caret sits after "Hello", as wide as the text before it.
    EXPECT_NEAR(caret.minX() - view->textOrigin().x, graphics::sizeOfText("Hello", Font::system(17)).width, 0.5);
    auto atFive = f.pixels();
    ASSERT_TRUE(atFive);
    EXPECT_GT(countIn(*atFive, isTint, caret.insetBy(-1, 0)), 10);
    view->setSelectedRange({0, 0});
    auto atZero = f.pixels();
    EXPECT_EQ(countIn(*atZero, isTint, caret.insetBy(-1, 0)), 0) << "the caret moved away";
    EXPECT_GT(countIn(*atZero, isTint, view->caretRectForPosition({0}).insetBy(-1, 0)), 10);

    // A selection washes the selected characters and nothing else; no caret with a selection.
    view->setSelectedRange({6, 5});
    const auto rects = view->selectionRectsForRange({6, 5});
    ASSERT_EQ(rects.size(), 1u);
    EXPECT_NEAR(rects[0].width(), graphics::sizeOfText("world", Font::system(17)).width, 1.0);
    auto selected = f.pixels();
    EXPECT_GT(countIn(*selected, isWash, rects[0]), 50);
    EXPECT_EQ(countIn(*selected, isWash, Rect(0, 0, rects[0].minX() - 1, 60)), 0);
    EXPECT_EQ(countIn(*selected, isTint, Rect(0, 0, 300, 60)), 0);

    // Without the focus there is no caret at all.
    view->setSelectedRange({3, 0});
    view->resignFirstResponder();
    auto unfocused = f.pixels();
    EXPECT_EQ(countIn(*unfocused, isTint, Rect(0, 0, 300, 60)), 0);
}

TEST(TextViewCaret, ATapPutsTheCaretUnderTheFinger) {
    Focused f;
    auto view = std::make_shared<TextView>(Rect(0, 0, 300, 80));
    view->setFont(Font::system(17));
    view->setText("first line\nsecond line");
    f.panel->addSubview(view);
    f.harness->settle();
    const Rect second = view->caretRectForPosition({11 + 6});  // after "second"
    const TextPosition hit = view->closestPositionToPoint({second.minX() + 1, second.midY()});
    EXPECT_EQ(hit.offset, 17u);
    // Above the text: the first line; below it: the end.
    EXPECT_EQ(view->closestPositionToPoint({view->textOrigin().x - 3, -5}).offset, 0u);
    EXPECT_EQ(view->closestPositionToPoint({10, 79}).offset, view->endOfDocument().offset);
    f.harness->tap(Point{second.minX() + 1, second.midY()});
    EXPECT_TRUE(view->isFirstResponder());
    EXPECT_EQ(view->selectedRange(), (Range{17, 0}));
}

TEST(TextFieldCaret, TheFieldDrawsItsCaretAfterTheText) {
    Focused f;
    auto field = std::make_shared<TextField>(Rect(0, 0, 240, 40));
    field->setFont(Font::system(17));
    field->setText("Ada");
    f.panel->addSubview(field);
    ASSERT_TRUE(field->becomeFirstResponder());
    const Rect caret = field->caretRectForPosition({3});
    EXPECT_NEAR(caret.minX(), graphics::sizeOfText("Ada", Font::system(17)).width, 0.5);
    auto pixels = f.pixels();
    ASSERT_TRUE(pixels);
    EXPECT_GT(countIn(*pixels, isTint, caret.insetBy(-1, 0)), 10);
    field->resignFirstResponder();
    EXPECT_EQ(countIn(*f.pixels(), isTint, Rect(0, 0, 240, 40)), 0);
}

TEST(DataDetectors, LinksAndNumbersAreFoundWhereAsked) {
    struct Case {
        std::string text;
        unsigned types;
        std::vector<DetectedLink> links;
    } cases[] = {
        {"see https://example.com/a?b=1.", kDataDetectorLink, {{{4, 25}, "https://example.com/a?b=1"}}},
        {"go to www.example.org now", kDataDetectorLink, {{{6, 15}, "http://www.example.org"}}},
        {"call (555) 010-4477 today", kDataDetectorPhoneNumber, {{{5, 14}, "tel:5550104477"}}},
        {"or +1 555 010 4477", kDataDetectorPhoneNumber, {{{3, 15}, "tel:+15550104477"}}},
        {"code 1234 is short", kDataDetectorAll, {}},
        {"order A5550104477", kDataDetectorAll, {}},
        {"😀 www.example.org", kDataDetectorAll, {{{3, 15}, "http://www.example.org"}}},
        {"https://example.com and 555-010-4477",
         kDataDetectorAll,
         {{{0, 19}, "https://example.com"}, {{24, 12}, "tel:5550104477"}}},
        {"https://example.com 555-010-4477", kDataDetectorPhoneNumber, {{{20, 12}, "tel:5550104477"}}},
        {"https://example.com", kDataDetectorNone, {}},
        {"nohttp://example.com", kDataDetectorLink, {}},
    };
    for (const Case& c : cases) EXPECT_EQ(detectLinks(c.text, c.types), c.links) << c.text;
}

// A link never carries a mark or embedding that changes which way text reads: it could then read
// as another address than the one it opens. Each control ends it, and one before it (a line
// wrapped in an isolate) is no part of it either.
TEST(DataDetectors, LinksAndNumbersEndAtEveryDirectionControl) {
    const char* const controls[] = {"\u200E", "\u200F", "\u202A", "\u202B", "\u202C", "\u202D",
                                    "\u202E", "\u2066", "\u2067", "\u2068", "\u2069"};
    for (const char* control : controls) {
        const std::string c = control;
        EXPECT_EQ(detectLinks("https://example.com/a" + c + "gro.live", kDataDetectorLink),
                  (std::vector<DetectedLink>{{{0, 21}, "https://example.com/a"}}))
            << "after U+" << std::hex << static_cast<uint32_t>(foundation::toCodePoints(c)[0]);
        EXPECT_EQ(detectLinks(c + "www.example.org" + c, kDataDetectorAll),
                  (std::vector<DetectedLink>{{{1, 15}, "http://www.example.org"}}))
            << "around U+" << std::hex << static_cast<uint32_t>(foundation::toCodePoints(c)[0]);
        EXPECT_EQ(detectLinks(c + "555-010-4477" + c, kDataDetectorPhoneNumber),
                  (std::vector<DetectedLink>{{{1, 12}, "tel:5550104477"}}))
            << "number around U+" << std::hex << static_cast<uint32_t>(foundation::toCodePoints(c)[0]);
    }
    // The right-to-left line as a bubble wraps it: the link inside the isolate, the rest outside.
    EXPECT_EQ(detectLinks("\u2067\u05E9\u05DC\u05D5\u05DD https://example.com/\u05D0\u2069", kDataDetectorLink),
              (std::vector<DetectedLink>{{{6, 21}, "https://example.com/\u05D0"}}));
}

// A link ends at a line or paragraph separator (one link used to run over a line break) and at
// every character that shows nothing, which would hide where the address ends; one before it is
// no part of it either.
TEST(DataDetectors, LinksEndAtSeparatorsAndCharactersThatShowNothing) {
    const char32_t ends[] = {0x061C, 0x2028, 0x2029, 0x200B, 0x200C, 0x200D, 0x2060, 0xFEFF, 0x00AD};
    for (const char32_t code : ends) {
        std::string c;
        foundation::appendUtf8(c, code);
        EXPECT_EQ(detectLinks("https://example.com/a" + c + "gro.live", kDataDetectorLink),
                  (std::vector<DetectedLink>{{{0, 21}, "https://example.com/a"}}))
            << "after U+" << std::hex << static_cast<uint32_t>(code);
        EXPECT_EQ(detectLinks("see" + c + "www.example.org" + c + "x", kDataDetectorLink),
                  (std::vector<DetectedLink>{{{4, 15}, "http://www.example.org"}}))
            << "around U+" << std::hex << static_cast<uint32_t>(code);
    }
}

// A text view keeps the links it found while its text and the kinds it looks for stay: after each
// change it has the links a fresh look at its text finds, and draws them.
TEST(DataDetectors, LinksKeptByATextViewFollowEachChangeOfItsTextAndKinds) {
    Focused f;
    auto view = std::make_shared<TextView>(Rect(0, 0, 300, 60));
    view->setFont(Font::system(17));
    f.panel->addSubview(view);
    struct Case {
        const char* what;
        std::function<void(TextView&)> change;
        size_t links;
    };
    const std::vector<Case> cases{
        {"a number", [](TextView& v) { v.setText("call 555-010-4477"); }, 0},
        {"numbers looked for", [](TextView& v) { v.setDataDetectorTypes(kDataDetectorAll); }, 1},
        {"another text", [](TextView& v) { v.setText("call 555-010-4477 or www.example.org"); }, 2},
        {"only links looked for", [](TextView& v) { v.setDataDetectorTypes(kDataDetectorLink); }, 1},
        {"an attributed text", [](TextView& v) { v.setAttributedText(AttributedString("see www.example.com/x", {})); },
         1},
        {"typed over",
         [](TextView& v) {
             EXPECT_TRUE(v.becomeFirstResponder());
             v.selectAll();
             v.insertText("no link");
         },
         0},
        {"typed on", [](TextView& v) { v.insertText(" www.example.net"); }, 1},
        {"a letter taken back", [](TextView& v) { v.deleteBackward(); }, 1},
        {"nothing looked for", [](TextView& v) { v.setDataDetectorTypes(kDataDetectorNone); }, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.change(*view);
        f.harness->settle();
        (void)f.pixels();
        const auto found = detectLinks(view->text(), view->dataDetectorTypes());
        EXPECT_EQ(found.size(), c.links);
        EXPECT_EQ(view->detectedLinks(), found);
        // The text as drawn: the links in their look, the rest as set.
        size_t underlined = 0;
        const AttributedString shown = view->displayedText();
        for (const auto& run : shown.runs()) underlined += run.attributes.underline ? 1 : 0;
        EXPECT_EQ(underlined, found.size());
    }
}

TEST(DataDetectors, ATapOnALinkOpensItOnlyWhereTheTextCannotBeEdited) {
    Focused f;
    services::URLOpener::setShared(nullptr);
    auto view = std::make_shared<TextView>(Rect(0, 0, 300, 60));
    view->setFont(Font::system(17));
    view->setText("call 555-010-4477");
    view->setDataDetectorTypes(kDataDetectorAll);
    view->setEditable(false);
    f.panel->addSubview(view);
    f.harness->settle();
    const Rect on = view->caretRectForPosition({9});
    // The number draws in the tint colour.
    EXPECT_GT(countIn(*f.pixels(), isTint, Rect(on.minX() - 20, 0, 40, 60)), 10);
    f.harness->tap(Point{on.minX(), on.midY()});
    EXPECT_EQ(services::URLOpener::shared()->openedURLs(), std::vector<std::string>{"tel:5550104477"});
    // Editable, the same tap only places the caret.
    view->setEditable(true);
    f.harness->tap(Point{on.minX(), on.midY()});
    EXPECT_EQ(services::URLOpener::shared()->openedURLs().size(), 1u);
    EXPECT_TRUE(view->isFirstResponder());
    services::URLOpener::setShared(nullptr);
}

TEST(TextFieldSideViews, RectanglesFollowTheModesAndTheEditingState) {
    toolkit::testing::Harness harness(ScreenProfile::iPhone8());
    auto field = std::make_shared<TextField>(Rect(0, 0, 200, 40));
    harness.window().addSubview(field);
    auto left = View::make(Rect(0, 0, 30, 20));
    auto right = View::make(Rect(0, 0, 24, 24));
    field->setLeftView(left);
    field->setRightView(right);
    field->setLeftViewMode(ViewMode::Always);
    field->setRightViewMode(ViewMode::WhileEditing);
    EXPECT_EQ(left->superview(), field.get());
    EXPECT_EQ(field->leftViewRectForBounds(field->bounds()), Rect(0, 10, 30, 20));
    EXPECT_EQ(field->rightViewRectForBounds(field->bounds()), Rect(176, 8, 24, 24));
    struct Case {
        bool editing;
        bool leftShown, rightShown;
        Rect text;
    } cases[] = {{false, true, false, Rect(30, 0, 170, 40)}, {true, true, true, Rect(30, 0, 146, 40)}};
    for (const Case& c : cases) {
        if (c.editing) {
            ASSERT_TRUE(field->becomeFirstResponder());
        }
        harness.settle();
        EXPECT_EQ(field->isLeftViewShown(), c.leftShown);
        EXPECT_EQ(field->isRightViewShown(), c.rightShown);
        EXPECT_EQ(left->isHidden(), !c.leftShown);
        EXPECT_EQ(right->isHidden(), !c.rightShown);
        EXPECT_EQ(field->textRectForBounds(field->bounds()), c.text) << c.editing;
        if (c.rightShown) {
            EXPECT_EQ(right->frame(), Rect(176, 8, 24, 24));
        }
    }
    // A new side view replaces the old one on screen.
    auto other = View::make(Rect(0, 0, 10, 10));
    field->setLeftView(other);
    EXPECT_EQ(left->superview(), nullptr);
    EXPECT_EQ(other->superview(), field.get());
    field->resignFirstResponder();
}

// Every size- or look-affecting property of the text controls marks what it changes.
TEST(TextControlSetters, SizeAndLookPropertiesMarkLayoutAndDisplay) {
    auto parent = View::make(Rect(0, 0, 300, 300));
    auto label = std::make_shared<Label>(Rect(0, 0, 100, 20));
    label->setText("Some text");
    parent->addSubview(label);
    struct Case {
        const char* name;
        std::function<void()> set;
        bool affectsSize;
    } cases[] = {
        {"font", [&] { label->setFont(Font::system(30)); }, true},
        {"numberOfLines", [&] { label->setNumberOfLines(0); }, true},
        {"lineBreakMode", [&] { label->setLineBreakMode(LineBreakMode::charWrap); }, true},
        {"preferredMaxLayoutWidth", [&] { label->setPreferredMaxLayoutWidth(50); }, true},
        {"adjustsFontSizeToFitWidth", [&] { label->setAdjustsFontSizeToFitWidth(true); }, true},
        {"minimumScaleFactor", [&] { label->setMinimumScaleFactor(0.5); }, true},
        {"text", [&] { label->setText("Other"); }, true},
        {"attributedText", [&] { label->setAttributedText(AttributedString("Run", {})); }, true},
        {"textColor", [&] { label->setTextColor(Color::red()); }, false},
        {"textAlignment", [&] { label->setTextAlignment(TextAlignment::center); }, false},
        {"highlightedTextColor", [&] { label->setHighlightedTextColor(Color::blue()); }, false},
        {"highlighted", [&] { label->setHighlighted(true); }, false},
        {"enabled", [&] { label->setEnabled(false); }, false},
    };
    for (const Case& c : cases) {
        parent->layoutIfNeeded();
        ASSERT_FALSE(parent->needsLayout());
        const uint64_t before = label->displayGeneration();
        c.set();
        EXPECT_GT(label->displayGeneration(), before) << c.name;
        EXPECT_EQ(parent->needsLayout(), c.affectsSize) << c.name;
    }
    // Setting what is already there changes nothing.
    parent->layoutIfNeeded();
    const uint64_t before = label->displayGeneration();
    label->setFont(Font::system(30));
    label->setNumberOfLines(0);
    EXPECT_EQ(label->displayGeneration(), before);
    EXPECT_FALSE(parent->needsLayout());

    // A button's insets change its size (content) or where its parts sit (title, image).
    auto button = std::make_shared<Button>(ButtonType::System);
    button->setTitle("Call", kStateNormal);
    parent->addSubview(button);
    parent->layoutIfNeeded();
    const double narrow = button->sizeThatFits({}).width;
    button->setContentEdgeInsets({0, 10, 0, 10});
    EXPECT_TRUE(parent->needsLayout());
    EXPECT_EQ(button->sizeThatFits({}).width, narrow + 20);
    parent->layoutIfNeeded();
    button->setTitleEdgeInsets({0, 4, 0, 0});
    EXPECT_TRUE(button->needsLayout());
    parent->layoutIfNeeded();
    button->setImageEdgeInsets({1, 1, 1, 1});
    EXPECT_TRUE(button->needsLayout());

    // The field and the text view mark their display for their look.
    auto field = std::make_shared<TextField>();
    auto view = std::make_shared<TextView>();
    std::function<void()> looks[] = {
        [&] { field->setFont(Font::system(20)); },
        [&] { field->setTextColor(Color::red()); },
        [&] { field->setPlaceholder("Name"); },
        [&] { field->setBorderStyle(TextBorderStyle::Line); },
        [&] { field->setSecureTextEntry(true); },
        [&] { field->setTextAlignment(TextAlignment::right); },
        [&] { view->setFont(Font::system(20)); },
        [&] { view->setTextColor(Color::red()); },
        [&] { view->setTextAlignment(TextAlignment::center); },
        [&] {
            view->setTextContainerInset({1, 1, 1, 1});
        },
        [&] { view->setLineFragmentPadding(0); },
        [&] { view->setDataDetectorTypes(kDataDetectorAll); },
    };
    for (size_t i = 0; i < std::size(looks); ++i) {
        const uint64_t f0 = field->displayGeneration(), v0 = view->displayGeneration();
        looks[i]();
        EXPECT_GT(field->displayGeneration() + view->displayGeneration(), f0 + v0) << i;
    }
}

TEST(TextViewAttributes, TypedTextContinuesTheRunBeforeIt) {
    toolkit::testing::Harness harness(ScreenProfile::iPhone8());
    auto view = std::make_shared<TextView>(Rect(0, 0, 200, 100));
    harness.window().addSubview(view);
    TextAttributes bold;
    bold.font = Font::boldSystem(14);
    bold.color = Color::red();
    AttributedString text("Bold", bold);
    TextAttributes plain;
    plain.font = Font::system(14);
    text.append(" plain", plain);
    view->setAttributedText(text);
    ASSERT_TRUE(view->becomeFirstResponder());
    view->setSelectedRange({4, 0});
    view->insertText("er");
    EXPECT_EQ(view->text(), "Bolder plain");
    ASSERT_EQ(view->attributedText().runs().size(), 2u);
    EXPECT_EQ(view->attributedText().runs()[0].length, 6u);
    EXPECT_EQ(view->attributedText().runs()[0].attributes, bold);
    // Deleting across the runs keeps what is left of each.
    view->setSelectedRange({3, 5});
    view->deleteBackward();
    EXPECT_EQ(view->text(), "Bollain");
    ASSERT_EQ(view->attributedText().runs().size(), 2u);
    EXPECT_EQ(view->attributedText().runs()[1].attributes, plain);
    // A font for the view applies to all of its text.
    view->setFont(Font::system(20));
    for (const auto& run : view->attributedText().runs()) EXPECT_EQ(run.attributes.font, Font::system(20));
    view->resignFirstResponder();
}

namespace {

// The view's lines laid out directly by the measurer in use, as the view lays them out with nothing
// kept.
TextBox laidOutAnew(const TextView& view) {
    TextLayoutOptions options;
    options.width = view.textContainerWidth(view.bounds().width());
    options.lineBreakMode = LineBreakMode::wordWrap;
    options.alignment = view.textAlignment();
    if (view.text().empty()) {
        TextAttributes typing;
        typing.font = view.font();
        typing.color = view.textColor();
        TextBox box = textMeasurer().layout(AttributedString(" ", typing), options);
        for (TextLine& line : box.lines) line.content = {}, line.end = 0, line.frame.size.width = 0;
        box.size.width = 0;
        return box;
    }
    return textMeasurer().layout(view.displayedText(), options);
}

}  // namespace

TEST(TextViewLayout, TheBoxAViewKeepsFollowsEachChangeAsLayingItOutAnewDoes) {
    Focused f;
    auto holder = View::make(Rect(0, 0, 300, 200));
    f.panel->addSubview(holder);
    auto view = std::make_shared<TextView>(Rect(0, 0, 240, 120));
    view->setEditable(false);
    holder->addSubview(view);
    const toolkit::FixedMetrics fixed;
    struct Case {
        const char* what;
        std::function<void(TextView&)> change;
    };
    const std::vector<Case> cases{
        {"a text", [](TextView& v) { v.setText("A text that wraps over a few lines, call 555-010-4477 today"); }},
        {"the same font again", [](TextView& v) { v.setFont(v.font()); }},
        {"another font", [](TextView& v) { v.setFont(Font::boldSystem(19)); }},
        {"the first font back", [](TextView& v) { v.setFont(Font::system(12)); }},
        {"another colour", [](TextView& v) { v.setTextColor(Color::systemRed()); }},
        {"aligned right", [](TextView& v) { v.setTextAlignment(TextAlignment::right); }},
        {"narrower", [](TextView& v) { v.setFrame(Rect(0, 0, 150, 120)); }},
        {"wider insets",
         [](TextView& v) {
             v.setTextContainerInset({8, 12, 8, 20});
         }},
        {"more padding", [](TextView& v) { v.setLineFragmentPadding(9); }},
        {"numbers found", [](TextView& v) { v.setDataDetectorTypes(kDataDetectorAll); }},
        {"the tint of a view above", [&](TextView&) { holder->setTintColor(Color::systemGreen()); }},
        {"a link look",
         [](TextView& v) {
             v.linkTextAttributes = TextAttributes{Font::system(12), Color::systemRed()};
         }},
        {"another link look",
         [](TextView& v) {
             v.linkTextAttributes = TextAttributes{Font::system(12), Color::systemOrange()};
         }},
        {"the tint's link look again", [](TextView& v) { v.linkTextAttributes.reset(); }},
        {"nothing found", [](TextView& v) { v.setDataDetectorTypes(kDataDetectorNone); }},
        {"an attributed text",
         [](TextView& v) {
             AttributedString text("Two ", TextAttributes{Font::system(14), Color::label()});
             text.append("runs of text", TextAttributes{Font::boldSystem(16), Color::systemBlue()});
             v.setAttributedText(text);
         }},
        {"the font of its end over all of it", [](TextView& v) { v.setFont(Font::boldSystem(16)); }},
        {"typed on",
         [](TextView& v) {
             v.setEditable(true);
             EXPECT_TRUE(v.becomeFirstResponder());
             v.setSelectedRange({v.endOfDocument().offset, 0});
             v.insertText(" and more typed after them");
         }},
        {"a letter taken back", [](TextView& v) { v.deleteBackward(); }},
        {"emptied", [](TextView& v) { v.setText({}); }},
        {"another font while empty", [](TextView& v) { v.setFont(Font::system(30)); }},
        {"another measurer",
         [&](TextView& v) {
             setTextMeasurer(&fixed);
             v.setText("Measured by fixed metrics now");
         }},
        {"the text again under the fonts' measurer", [&](TextView&) { setTextMeasurer(&FontTextMeasurer::shared()); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const TextBox before = view->textBox();
        c.change(*view);
        f.harness->settle();
        (void)f.pixels();
        const TextBox anew = laidOutAnew(*view);
        toolkit_text::expectSameBox(view->textBox(), anew);
        EXPECT_EQ(view->contentSize().height,
                  anew.size.height + view->textContainerInset().top + view->textContainerInset().bottom);
        // Every change but the same font again shows in the lines.
        const bool same =
            before.lines.size() == anew.lines.size() && before.size == anew.size &&
            std::equal(before.lines.begin(), before.lines.end(), anew.lines.begin(),
                       [](const TextLine& a, const TextLine& b) {
                           return a.frame == b.frame && a.content.string() == b.content.string() &&
                                  a.content.runs().size() == b.content.runs().size() &&
                                  std::equal(a.content.runs().begin(), a.content.runs().end(), b.content.runs().begin(),
                                             [](const auto& x, const auto& y) { return x.attributes == y.attributes; });
                       });
        EXPECT_EQ(same, std::string(c.what) == "the same font again");
    }
}

namespace {

// The fonts' measurer, counting the layouts asked of it.
struct CountedLayouts : TextMeasurer {
    mutable int layouts = 0;
    const TextMeasurer& fonts() const { return FontTextMeasurer::shared(); }
    double lineHeight(const Font& f) const override { return fonts().lineHeight(f); }
    double lineWidth(const std::string& text, const Font& f) const override { return fonts().lineWidth(text, f); }
    std::vector<std::string> lines(const std::string& text, const Font& f, double width, int maxLines,
                                   LineBreakMode mode) const override {
        return fonts().lines(text, f, width, maxLines, mode);
    }
    TextBox layout(const AttributedString& text, const TextLayoutOptions& options) const override {
        ++layouts;
        return fonts().layout(text, options);
    }
    double caretOffset(const AttributedString& line, size_t offset) const override {
        return fonts().caretOffset(line, offset);
    }
    size_t offsetAt(const AttributedString& line, double x) const override { return fonts().offsetAt(line, x); }
};

}  // namespace

// A label keeps the lines it was laid out in: drawn again unchanged (every frame) it asks the
// measurer nothing, and after each change of its text or of what lays it out its lines are those
// laid out anew. A text view handed the colour it has keeps its lines as well.
TEST(TextViewLayout, ALabelDrawnAgainUnchangedAsksTheMeasurerNothingAndFollowsEachChange) {
    Focused f;
    CountedLayouts counted;
    setTextMeasurer(&counted);
    auto label = std::make_shared<Label>(Rect(10, 10, 200, 60));
    label->setText("A label whose text runs past its width");
    f.panel->addSubview(label);
    (void)f.pixels();
    const int before = counted.layouts;
    for (int frame = 0; frame < 3; ++frame) {
        f.panel->setNeedsDisplay();
        (void)f.pixels();
    }
    EXPECT_EQ(counted.layouts, before) << "the label laid out again for frames that changed nothing in it";
    const toolkit::FixedMetrics fixed;
    struct Case {
        const char* what;
        std::function<void(Label&)> change;
    };
    const std::vector<Case> cases{
        {"another text", [](Label& l) { l.setText("Another text, a little longer than the first one was"); }},
        {"another font", [](Label& l) { l.setFont(Font::boldSystem(19)); }},
        {"another colour", [](Label& l) { l.setTextColor(Color::systemRed()); }},
        {"highlighted in a colour",
         [](Label& l) {
             l.setHighlightedTextColor(Color::systemGreen());
             l.setHighlighted(true);
         }},
        {"disabled", [](Label& l) { l.setEnabled(false); }},
        {"aligned right", [](Label& l) { l.setTextAlignment(TextAlignment::right); }},
        {"two lines", [](Label& l) { l.setNumberOfLines(2); }},
        {"cut in the middle", [](Label& l) { l.setLineBreakMode(LineBreakMode::truncateMiddle); }},
        {"one line shrunk to fit",
         [](Label& l) {
             l.setNumberOfLines(1);
             l.setAdjustsFontSizeToFitWidth(true);
             l.setMinimumScaleFactor(0.5);
         }},
        {"narrower", [](Label& l) { l.setFrame(Rect(10, 10, 120, 60)); }},
        {"an attributed text",
         [](Label& l) {
             AttributedString text("Two ", TextAttributes{Font::system(14), Color::label()});
             text.append("runs", TextAttributes{Font::boldSystem(16), Color::systemBlue()});
             l.setAttributedText(text);
         }},
        {"another measurer", [&](Label&) { setTextMeasurer(&fixed); }},
        {"emptied", [](Label& l) { l.setText({}); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.change(*label);
        (void)f.pixels();
        const double width = label->bounds().width();
        TextLayoutOptions options;
        options.width = width;
        options.maximumLines = label->numberOfLines();
        options.lineBreakMode = label->lineBreakMode();
        options.alignment = label->textAlignment();
        const TextBox anew =
            label->text().empty() ? TextBox{} : textMeasurer().layout(label->displayedText(width), options);
        toolkit_text::expectSameBox(label->textBox(width), anew);
    }
    // A text view handed the colour its text has lays nothing out again.
    setTextMeasurer(&counted);
    auto view = std::make_shared<TextView>(Rect(0, 80, 240, 100));
    view->setEditable(false);
    view->setText("A text view's text over a line or two of its width");
    view->setTextColor(Color::systemBlue());
    f.panel->addSubview(view);
    (void)f.pixels();
    const int viewBefore = counted.layouts;
    view->setTextColor(Color::systemBlue());
    (void)f.pixels();
    EXPECT_EQ(counted.layouts, viewBefore) << "the same colour laid the text out again";
    setTextMeasurer(&FontTextMeasurer::shared());
}
