#include "platform/toolkit/font_text_measurer.h"

#include <gtest/gtest.h>

#include <functional>

#include "platform/graphics/text_layout.h"
#include "platform/toolkit/controls.h"
#include "tests/platform/toolkit/text_box_support.h"
#include "tests/support/goldens.h"

using namespace toolkit;

TEST(FontTextMeasurer, MeasuresAsTheDrawingLayerLaysOut) {
    const FontTextMeasurer& m = FontTextMeasurer::shared();
    const Font font = Font::system(17);
    EXPECT_EQ(m.lineWidth("Hello, world", font), graphics::sizeOfText("Hello, world", font).width);
    EXPECT_EQ(m.lineHeight(font), graphics::sizeOfText("Hg", font).height);
    EXPECT_GT(m.lineWidth("WWWW", font), 2 * m.lineWidth("iiii", font)) << "real glyph widths, not fixed advances";
    // The interface's wrapping uses those widths: a width that holds "iiii iiii" holds no "WWWW WWWW".
    const double width = m.lineWidth("iiii iiii", font) + 0.5;
    EXPECT_EQ(m.lines("iiii iiii", font, width, 0, LineBreakMode::wordWrap).size(), 1u);
    EXPECT_GE(m.lines("WWWW WWWW", font, width, 0, LineBreakMode::wordWrap).size(), 2u);
    // Truncated lines fit the width they were cut for.
    const auto cut = m.lines("A long title for a token bubble", font, 100, 1, LineBreakMode::truncateTail);
    ASSERT_EQ(cut.size(), 1u);
    EXPECT_LE(m.lineWidth(cut[0], font), 100);
    EXPECT_EQ(cut[0].substr(cut[0].size() - 3), "\xE2\x80\xA6");
}

TEST(FontTextMeasurer, LineHeightFollowsTheFontItIsAskedFor) {
    const FontTextMeasurer& m = FontTextMeasurer::shared();
    // The default attributes' font is the 17-point system font, so every other font must tell.
    const Font fonts[] = {Font::system(12), Font::system(16), Font::system(32), Font::boldSystem(32)};
    double previous = 0;
    for (const Font& font : fonts) {
        SCOPED_TRACE(font.description());
        EXPECT_EQ(m.lineHeight(font), graphics::sizeOfText("Hg", font).height);
        EXPECT_GE(m.lineHeight(font), previous);
        previous = m.lineHeight(font);
    }
    EXPECT_GT(m.lineHeight(Font::system(32)), 1.5 * m.lineHeight(Font::system(16)));
}

TEST(FontTextMeasurer, LabelsSizeThemselvesWithIt) {
    hxtest::UsingFonts fonts;
    Label label;
    label.setFont(Font::boldSystem(16));
    label.setText("Unread");
    const Size size = label.sizeThatFits({1000, 1000});
    EXPECT_NEAR(size.width, graphics::sizeOfText("Unread", Font::boldSystem(16)).width, 1.0);
    EXPECT_NEAR(size.height, FontTextMeasurer::shared().lineHeight(Font::boldSystem(16)), 1.0);
}

TEST(FontTextMeasurer, ACachedLayoutAnswersOnlyForTheTextAndAttributesItWasMadeFor) {
    // Each case differs from the one before in one thing the layout or its lines carry; each is
    // asked for after the others, so a key that left the difference out would hand back another
    // case's lines.
    using graphics::Color;
    const FontTextMeasurer& m = FontTextMeasurer::shared();
    const std::string text = "Meet me at the station at nine, platform four";
    struct Case {
        const char* what;
        std::function<void(graphics::TextAttributes&, TextLayoutOptions&, std::string&)> change;
    };
    const Case cases[] = {
        {"the base", [](auto&, auto&, auto&) {}},
        {"width", [](auto&, auto& o, auto&) { o.width = 120; }},
        {"a quarter point of width", [](auto&, auto& o, auto&) { o.width = 120.25; }},
        {"lines", [](auto&, auto& o, auto&) { o.maximumLines = 2; }},
        {"height", [](auto&, auto& o, auto&) { o.maximumHeight = 30; }},
        {"break mode", [](auto&, auto& o, auto&) { o.lineBreakMode = LineBreakMode::truncateMiddle; }},
        {"alignment", [](auto&, auto& o, auto&) { o.alignment = TextAlignment::center; }},
        {"font size", [](auto& a, auto&, auto&) { a.font = Font::system(13); }},
        {"weight", [](auto& a, auto&, auto&) { a.font = Font::boldSystem(13); }},
        {"italic", [](auto& a, auto&, auto&) { a.font = Font::italicSystem(13); }},
        {"colour", [](auto& a, auto&, auto&) { a.color = Color::rgb(1, 1, 1); }},
        {"grey of the same components", [](auto& a, auto&, auto&) { a.color = Color::white(1, 1); }},
        {"dark variant", [](auto& a, auto&, auto&) { a.color = Color::dynamic(Color::white(1), Color::red()); }},
        {"kern", [](auto& a, auto&, auto&) { a.kern = 0.5; }},
        {"baseline", [](auto& a, auto&, auto&) { a.baselineOffset = 1; }},
        {"underline", [](auto& a, auto&, auto&) { a.underline = true; }},
        {"letterpress", [](auto& a, auto&, auto&) { a.letterpress = true; }},
        {"shadow", [](auto& a, auto&, auto&) { a.shadow = graphics::TextShadow{}; }},
        {"shadow colour", [](auto& a, auto&, auto&) { a.shadow->color = Color::blue(); }},
        {"text", [](auto&, auto&, auto& t) { t += "!"; }},
    };
    graphics::TextAttributes attributes;
    TextLayoutOptions options;
    options.width = 200;
    std::string string = text;
    for (const auto& c : cases) {
        c.change(attributes, options, string);
        const AttributedString asked(string, attributes);
        for (int pass = 0; pass < 2; ++pass) {  // laid out, then from the cache
            const TextBox box = m.layout(asked, options);
            const graphics::TextLayout direct(asked, options);
            ASSERT_EQ(box.lines.size(), direct.lines().size()) << c.what;
            EXPECT_EQ(box.size, direct.size()) << c.what;
            for (size_t i = 0; i < box.lines.size(); ++i) {
                EXPECT_EQ(box.lines[i].content.string(), direct.lines()[i].content.string()) << c.what;
                EXPECT_EQ(box.lines[i].content.attributesAt(0), attributes) << c.what;
            }
        }
        // A view keeps the very layout the measurer keeps (no copy of its lines), the same one
        // for as long as it is kept.
        const auto shared = m.sharedLayout(asked, options);
        EXPECT_EQ(shared, m.sharedLayout(asked, options)) << c.what;
        toolkit_text::expectSameBox(*shared, m.layout(asked, options));
    }
    // Two runs that split the same text differently are different texts.
    AttributedString split("Meet me", attributes);
    split.append(" at nine", graphics::TextAttributes{});
    AttributedString splitLater("Meet me at", attributes);
    splitLater.append(" nine", graphics::TextAttributes{});
    EXPECT_EQ(m.layout(split, options).lines.at(0).content.attributesAt(8), graphics::TextAttributes{});
    EXPECT_EQ(m.layout(splitLater, options).lines.at(0).content.attributesAt(8), attributes);
}

namespace {

// Every part of two layouts that a view measures or draws.
void expectSameLayout(const TextBox& box, const graphics::TextLayout& direct) {
    toolkit_text::expectSameBox(box, TextBox{direct.lines(), direct.size(), direct.isTruncated()});
}

}  // namespace

// A text measured wrapped in a wide room and then shown in a narrower one (a bubble measured in the
// widest room it may take, then shown in its own width) takes the measured lines where they fit the
// narrower room, with the shown text's colours; in any other case it is laid out anew. Each case is
// checked against the same text laid out directly in the room it is shown in.
TEST(FontTextMeasurer, ATextShownNarrowerThanItWasMeasuredIsLaidOutAsIfNothingWereKept) {
    using graphics::Color;
    const std::string text = "Can you call the office before five? They asked about the invoice from last week";
    struct Case {
        const char* what;
        // What is shown, changed from what was measured.
        std::function<void(graphics::AttributedString&, TextLayoutOptions&, double widest)> change;
        bool reused;
    };
    const auto plain = [](const std::string& s, graphics::TextAttributes a = {}) {
        a.font = Font::system(16);
        return graphics::AttributedString(s, a);
    };
    const auto recoloured = [&](graphics::AttributedString& t, const graphics::TextAttributes& a) {
        t = plain(t.string(), a);
    };
    graphics::TextAttributes white;
    white.color = Color::whiteColor();
    graphics::TextAttributes underlined = white;
    underlined.underline = true;
    graphics::TextAttributes kerned;
    kerned.kern = 0.5;
    const std::vector<Case> cases{
        {"the same text a few points wider than its lines", [](auto&, auto& o, double w) { o.width = w + 6; }, true},
        {"in another colour", [&](auto& t, auto& o, double w) { recoloured(t, white), o.width = w + 6; }, true},
        {"underlined", [&](auto& t, auto& o, double w) { recoloured(t, underlined), o.width = w + 6; }, true},
        {"aligned left", [](auto&, auto& o, double w) { o.alignment = TextAlignment::left, o.width = w + 6; }, true},
        {"aligned right", [](auto&, auto& o, double w) { o.alignment = TextAlignment::right, o.width = w + 6; }, false},
        {"centred", [](auto&, auto& o, double w) { o.alignment = TextAlignment::center, o.width = w + 6; }, false},
        {"narrower than its widest line", [](auto&, auto& o, double w) { o.width = w - 4; }, false},
        {"within a point of its widest line", [](auto&, auto& o, double w) { o.width = w + 0.5; }, false},
        {"wider than it was measured", [](auto&, auto& o, double) { o.width = 400; }, false},
        {"spaced wider", [&](auto& t, auto& o, double w) { recoloured(t, kerned), o.width = w + 6; }, false},
        {"in a bigger font",
         [](auto& t, auto& o, double w) {
             graphics::TextAttributes a;
             a.font = Font::system(17);
             t = graphics::AttributedString(t.string(), a), o.width = w + 6;
         },
         false},
        {"with a link coloured in it",
         [&](auto& t, auto& o, double w) {
             const std::string s = t.string();
             t = plain(s.substr(0, 12));
             t.append(plain(s.substr(12, 10), underlined));
             t.append(plain(s.substr(22)));
             o.width = w + 6;
         },
         false},
        {"limited to two lines", [](auto&, auto& o, double w) { o.maximumLines = 2, o.width = w + 6; }, false},
        {"cut at the tail after a line",
         [](auto&, auto& o, double w) {
             o.lineBreakMode = LineBreakMode::truncateTail, o.maximumLines = 1, o.width = w + 6;
         },
         false},
        {"another text", [&](auto& t, auto& o, double w) { t = plain(t.string() + "?"), o.width = w + 6; }, false},
    };
    for (const std::string& measuredText : {text, std::string("First line\n\nThird line, after an empty one")}) {
        for (const Case& k : cases) {
            SCOPED_TRACE(std::string(k.what) + " / " + measuredText);
            FontTextMeasurer m;
            TextLayoutOptions measured;
            measured.width = 260;
            const TextBox first = m.layout(plain(measuredText), measured);
            ASSERT_GE(first.lines.size(), 2u);
            graphics::AttributedString shown = plain(measuredText);
            TextLayoutOptions options = measured;
            k.change(shown, options, first.size.width);
            const size_t made = m.layoutsMade();
            const TextBox box = m.layout(shown, options);
            EXPECT_EQ(m.layoutsMade() == made, k.reused) << "the measured lines were taken";
            expectSameLayout(box, graphics::TextLayout(shown, options));
            // Kept under its own key, it is the same the next time.
            expectSameLayout(m.layout(shown, options), graphics::TextLayout(shown, options));
        }
    }
}

namespace {

// What the shaping engine is handed while `work` runs.
graphics::TextWork workOf(const std::function<void()>& work) {
    graphics::resetTextWork();
    work();
    return graphics::textWork();
}

}  // namespace

// A message of one unbroken word costs what shows of it: the list's two-line preview lays out a
// prefix that holds its lines, and a bubble (all lines) hands the engine pieces of a bounded
// size, its work growing with the text's length, not its square. Each is checked against a word
// of 100 characters in the same run, each with a measurer that keeps nothing yet.
TEST(FontTextMeasurer, AnUnbrokenWordCostsWhatShowsOfIt) {
    hxtest::UsingFonts fonts;
    auto inCell = [](const std::string& text) {
        return workOf([&] {
            FontTextMeasurer measurer;
            setTextMeasurer(&measurer);
            Label label;
            label.setFont(Font::system(15));
            label.setNumberOfLines(2);
            label.setLineBreakMode(LineBreakMode::truncateTail);
            label.setText(text);
            const TextBox box = label.textBox(label.sizeThatFits({280, 0}).width);
            EXPECT_EQ(box.lines.size(), 2u);
            EXPECT_TRUE(box.truncated);
            setTextMeasurer(&FontTextMeasurer::shared());
        });
    };
    auto inBubble = [](const std::string& text) {
        return workOf([&] {
            FontTextMeasurer measurer;
            setTextMeasurer(&measurer);
            auto bubble = std::make_shared<TextView>(Rect(0, 0, 250, 40));
            bubble->setFont(Font::system(17));
            bubble->setText(text);
            bubble->setFrame(Rect({0, 0}, bubble->sizeThatFits({250, 0})));
            // The lines drawn are the word, each as much of it as fits.
            std::string joined;
            const TextBox& box = bubble->textBox();
            for (const TextLine& line : box.lines) {
                joined += line.content.string();
                EXPECT_LE(line.frame.width(), bubble->textContainerWidth(250));
            }
            EXPECT_EQ(joined, text);
            setTextMeasurer(&FontTextMeasurer::shared());
        });
    };
    const std::string shortWord(100, 'w'), longWord(100'000, 'w');
    const graphics::TextWork cellShort = inCell(shortWord), cellLong = inCell(longWord);
    EXPECT_LE(cellLong.bytes, 20 * cellShort.bytes) << cellShort.bytes;
    EXPECT_LE(cellLong.largestPiece, 8192u);
    const graphics::TextWork bubbleShort = inBubble(shortWord), bubbleLong = inBubble(longWord);
    EXPECT_LE(bubbleLong.bytes, 3 * 1000 * bubbleShort.bytes) << bubbleShort.bytes;
    EXPECT_LE(bubbleLong.largestPiece, 8192u) << "handed to the engine in one piece";
}

// Typing into a long text: each key lays out the lines around it, not the whole text, and what
// the measurer keeps stays within a bound of bytes however long the text grows.
TEST(FontTextMeasurer, AKeyCostsTheLinesItChangesAndTheKeptLayoutsStayBounded) {
    hxtest::UsingFonts fonts;
    FontTextMeasurer measurer;
    setTextMeasurer(&measurer);
    auto view = std::make_shared<TextView>(Rect(0, 0, 229, 26));
    view->setFont(Font::system(16));
    const std::string typed = "The quick brown fox jumps over the lazy dog, 0123456789. ";
    std::string text;
    auto typeUpTo = [&](size_t length) {
        while (text.size() < length) {
            text += typed[text.size() % typed.size()];
            view->setText(text);
            (void)view->textBox();
        }
    };
    auto tenKeys = [&] { return workOf([&] { typeUpTo(text.size() + 10); }).bytes; };
    typeUpTo(1'000);
    const uint64_t atAThousand = tenKeys();
    typeUpTo(6'000);
    const uint64_t atSixThousand = tenKeys();
    EXPECT_LE(atSixThousand, 2 * atAThousand) << "bytes laid out for ten keys at 1,000 characters: " << atAThousand;
    EXPECT_LT(measurer.keptBytes(), size_t{40} << 20);
    // Each key's lines are those a fresh layout of its text gives.
    FontTextMeasurer fresh;
    toolkit_text::expectSameBox(view->textBox(),
                                fresh.layout(view->displayedText(), {.width = view->textContainerWidth(229)}));
    setTextMeasurer(&FontTextMeasurer::shared());
}
