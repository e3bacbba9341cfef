// Attributed text in the controls: runs measured and drawn with their own font, colour, kerning,
// underline, baseline offset, shadow and letterpress, through the one line breaker that both
// measuring and drawing use. Pixel checks need no golden; the goldens pin the look.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "platform/graphics/text_layout.h"
#include "platform/toolkit/controls.h"
#include "platform/toolkit/renderer.h"
#include "platform/toolkit/table_view.h"
#include "platform/toolkit/text_input.h"
#include "platform/toolkit/window.h"
#include "tests/platform/toolkit/snapshot_support.h"

using namespace toolkit;
using toolkit_snapshots::UsingFonts;

namespace {

TextAttributes in(const Font& font, const Color& color = Color::black()) {
    TextAttributes a;
    a.font = font;
    a.color = color;
    return a;
}

// A white panel the size of the view, holding it, in the window.
std::shared_ptr<View> onWhite(Window& window, const std::shared_ptr<View>& view) {
    auto panel = View::make(Rect(Point{}, view->frame().size));
    panel->setBackgroundColor(Color::whiteColor());
    view->setFrame(Rect(Point{}, view->frame().size));
    panel->addSubview(view);
    window.addSubview(panel);
    return panel;
}

using Pixel = std::array<uint8_t, 4>;
bool isRed(const Pixel& p) { return p[0] > 200 && p[1] < 70 && p[2] < 70; }
bool isInk(const Pixel& p) { return p[3] > 200 && p[0] < 160 && p[1] < 160 && p[2] < 160; }

int count(const graphics::Bitmap& b, const std::function<bool(const Pixel&)>& test, Rect area = {}) {
    if (area.isEmpty()) area = Rect(0, 0, b.width(), b.height());
    int n = 0;
    for (int y = std::max(0, static_cast<int>(area.minY())); y < std::min<int>(b.height(), area.maxY()); ++y) {
        for (int x = std::max(0, static_cast<int>(area.minX())); x < std::min<int>(b.width(), area.maxX()); ++x) {
            n += test(b.rgbaAt(x, y));
        }
    }
    return n;
}

// The rows of the bitmap that hold a pixel passing the test: first and last, or -1.
std::pair<int, int> inkRows(const graphics::Bitmap& b, const std::function<bool(const Pixel&)>& test) {
    int first = -1, last = -1;
    for (int y = 0; y < b.height(); ++y) {
        for (int x = 0; x < b.width(); ++x) {
            if (test(b.rgbaAt(x, y))) {
                if (first < 0) first = y;
                last = y;
                break;
            }
        }
    }
    return {first, last};
}

std::shared_ptr<graphics::Bitmap> drawLabel(Window& window, const AttributedString& text, Size size = {320, 60}) {
    auto label = std::make_shared<Label>(Rect(Point{}, size));
    label->setAttributedText(text);
    auto panel = onWhite(window, label);
    auto pixels = snapshot(*panel, 1);
    panel->removeFromSuperview();
    return pixels;
}

}  // namespace

TEST(AttributedText, ARedBoldRunDrawsRedAndMeasuresItsFontsWidth) {
    UsingFonts fonts;
    Window window(ScreenProfile::iPhone8());
    const std::string text = "Voicemail from Ada";
    const Font bold = Font::boldSystem(24);
    auto label = std::make_shared<Label>(Rect(0, 0, 320, 40));
    label->setAttributedText(AttributedString(text, in(bold, Color::red())));
    EXPECT_NEAR(label->sizeThatFits({}).width, graphics::sizeOfText(text, bold).width, 1.0);
    EXPECT_NEAR(label->intrinsicContentSize().height, graphics::sizeOfText(text, bold).height, 1.0);
    auto panel = onWhite(window, label);
    auto red = snapshot(*panel, 1);
    ASSERT_TRUE(red);
    EXPECT_GT(count(*red, isRed), 100);

    // Two runs: each keeps its own font, so the label is as wide as the two parts side by side.
    AttributedString mixed("Bold", in(bold));
    mixed.append(" and small", in(Font::system(11), Color::systemBlue()));
    label->setAttributedText(mixed);
    EXPECT_NEAR(label->sizeThatFits({}).width,
                graphics::sizeOfText("Bold", bold).width + graphics::sizeOfText(" and small", Font::system(11)).width,
                1.0);
    // The plain text of the same characters draws in the label's own font and colour: no red.
    label->setText(text);
    label->setFont(bold);
    auto plain = snapshot(*panel, 1);
    ASSERT_TRUE(plain);
    EXPECT_EQ(count(*plain, isRed), 0);
    EXPECT_GT(count(*plain, isInk), 100);
}

TEST(AttributedText, EachEffectShowsInTheRunThatHasIt) {
    UsingFonts fonts;
    Window window(ScreenProfile::iPhone8());
    const Font font = Font::system(24);
    const std::string text = "xoxo mm";  // no ascenders or descenders: the ink is the x-height band
    const AttributedString plainText(text, in(font));
    auto plain = drawLabel(window, plainText);
    ASSERT_TRUE(plain);
    const int plainBottom = inkRows(*plain, isInk).second;
    ASSERT_GE(plainBottom, 0);

    {  // Kerning widens the run by about the spacing for each character.
        TextAttributes kerned = in(font);
        kerned.kern = 4;
        const double wide = graphics::TextLayout(AttributedString(text, kerned), {}).size().width;
        const double narrow = graphics::TextLayout(plainText, {}).size().width;
        EXPECT_NEAR(wide - narrow, 4.0 * static_cast<double>(text.size()), 4.0);
        auto label = std::make_shared<Label>(Rect(0, 0, 320, 40));
        label->setAttributedText(AttributedString(text, kerned));
        EXPECT_NEAR(label->sizeThatFits({}).width, wide, 1.0);
    }
    {  // An underline puts ink below the baseline, where the plain letters have none.
        TextAttributes underlined = in(font);
        underlined.underline = true;
        auto pixels = drawLabel(window, AttributedString(text, underlined));
        ASSERT_TRUE(pixels);
        EXPECT_GT(inkRows(*pixels, isInk).second, plainBottom + 1);
    }
    {  // A baseline offset raises the glyphs of its run against those beside it.
        TextAttributes raised = in(font);
        raised.baselineOffset = 8;
        AttributedString both("xoxo", in(font));
        both.append("xoxo", raised);
        auto pixels = drawLabel(window, both);
        ASSERT_TRUE(pixels);
        const double split = graphics::sizeOfText("xoxo", font).width;
        auto firstRow = [&](double x0, double x1) {
            for (int y = 0; y < pixels->height(); ++y) {
                if (count(*pixels, isInk, Rect(x0, y, x1 - x0, 1)) > 0) return y;
            }
            return -1;
        };
        EXPECT_NEAR(firstRow(0, split - 1) - firstRow(split + 1, 2 * split), 8, 1.5);
    }
    {  // A red shadow shows beside black glyphs; only the shadowed run casts it.
        TextAttributes shadowed = in(font);
        shadowed.shadow = TextShadow{{3, 3}, 0, Color::red()};
        AttributedString both("xoxo", shadowed);
        both.append(" mm", in(font));
        auto pixels = drawLabel(window, both);
        ASSERT_TRUE(pixels);
        const double split = graphics::sizeOfText("xoxo", font).width;
        EXPECT_GT(count(*pixels, isRed, Rect(0, 0, split + 4, 60)), 30);
        EXPECT_EQ(count(*pixels, isRed, Rect(split + 6, 0, 320, 60)), 0);
        // The glyphs themselves stay black and are drawn once.
        EXPECT_NEAR(count(*pixels, isInk), count(*plain, isInk), count(*plain, isInk) / 5);
    }
    {  // Letterpress: a light edge below dark glyphs on a grey ground.
        TextAttributes pressed = in(font, Color::darkGray());
        pressed.letterpress = true;
        auto label = std::make_shared<Label>(Rect(0, 0, 320, 60));
        label->setAttributedText(AttributedString(text, pressed));
        label->setBackgroundColor(Color::gray());
        auto panel = onWhite(window, label);
        auto pixels = snapshot(*panel, 1);
        panel->removeFromSuperview();
        ASSERT_TRUE(pixels);
        EXPECT_GT(count(*pixels, [](const Pixel& p) { return p[0] > 200 && p[1] > 200 && p[2] > 200; }), 20);
        label->setAttributedText(AttributedString(text, in(font, Color::darkGray())));
        panel = onWhite(window, label);
        pixels = snapshot(*panel, 1);
        EXPECT_EQ(count(*pixels, [](const Pixel& p) { return p[0] > 200 && p[1] > 200 && p[2] > 200; }), 0);
    }
}

TEST(AttributedText, ButtonTitlesAndCellLabelsDrawTheirRuns) {
    UsingFonts fonts;
    Window window(ScreenProfile::iPhone8());
    auto button = std::make_shared<Button>(ButtonType::Custom);
    button->setFrame(Rect(0, 0, 200, 44));
    button->setAttributedTitle(AttributedString("Call", in(Font::boldSystem(20), Color::red())), kStateNormal);
    // The button sizes to the bold run, not to its title label's own font.
    EXPECT_NEAR(button->sizeThatFits({}).width, std::ceil(graphics::sizeOfText("Call", Font::boldSystem(20)).width),
                1.0);
    auto panel = onWhite(window, button);
    auto pixels = snapshot(*panel, 1);
    ASSERT_TRUE(pixels);
    EXPECT_GT(count(*pixels, isRed), 30);
    panel->removeFromSuperview();

    auto cell = std::make_shared<TableViewCell>(TableViewCellStyle::Default);
    cell->setFrame(Rect(0, 0, 320, 44));
    AttributedString title("Ada ", in(Font::boldSystem(17), Color::red()));
    title.append("Lovelace", in(Font::system(17)));
    cell->textLabel().setAttributedText(title);
    panel = onWhite(window, cell);
    panel->layoutIfNeeded();
    pixels = snapshot(*panel, 1);
    ASSERT_TRUE(pixels);
    const Rect label = cell->textLabel().frame();
    const double split = label.minX() + graphics::sizeOfText("Ada ", Font::boldSystem(17)).width;
    EXPECT_GT(count(*pixels, isRed, Rect(label.minX(), 0, split - label.minX(), 44)), 30);
    EXPECT_EQ(count(*pixels, isRed, Rect(split + 1, 0, 320, 44)), 0);
    EXPECT_GT(count(*pixels, isInk, Rect(split + 1, 0, 320, 44)), 30);
}

// Random texts of words, addresses, tabs, hyphens, emoji, CJK and Arabic at widths from 60 to
// 400 points: the lines the text view measures are the lines it draws. The pixels are the
// independent witness: the last measured line has ink, and nothing is drawn below it.
TEST(TextViewLines, MeasuredLineCountIsTheDrawnOneForRandomTexts) {
    UsingFonts fonts;
    Window window(ScreenProfile::iPhone8());
    const std::vector<std::string> pieces = {"hello",
                                             "conversation",
                                             "voicemail",
                                             "the",
                                             "a",
                                             "transcription",
                                             "https://example.com/messages/archive/2026/12/07?thread=42&view=full",
                                             "www.example.org/help",
                                             "\t",
                                             "well-known",
                                             "self-sizing-row",
                                             "re-sent",
                                             "😀",
                                             "👍🏽",
                                             "🇫🇷",
                                             "你好世界",
                                             "こんにちは",
                                             "안녕하세요",
                                             "مرحبا",
                                             "بالعالم",
                                             "\n",
                                             "Ünïcödé",
                                             "12:45",
                                             "(555) 010-4477"};
    std::mt19937 random(20261207);
    int checked = 0;
    for (int round = 0; round < 200; ++round) {
        std::string text;
        const int words = 1 + static_cast<int>(random() % 24);
        for (int i = 0; i < words; ++i) {
            const std::string& piece = pieces[random() % pieces.size()];
            if (!text.empty() && piece != "\t" && piece != "\n" && text.back() != '\n' && text.back() != '\t')
                text += ' ';
            text += piece;
        }
        // The last line must carry ink.
        while (!text.empty() && (text.back() == ' ' || text.back() == '\n' || text.back() == '\t')) text.pop_back();
        if (text.empty()) text = "a";
        const double width = 60 + static_cast<double>(random() % 341);
        auto view = std::make_shared<TextView>();
        view->setFont(Font::system(13));
        view->setText(text);
        const Size fit = view->sizeThatFits({width, 0});
        view->setFrame(Rect(0, 0, width, std::ceil(fit.height) + 40));
        const TextBox box = view->textBox();
        ASSERT_FALSE(box.lines.empty());
        const double top = view->textContainerInset().top;
        const TextLine last = box.lines.back();
        // The measured height holds exactly the lines laid out.
        EXPECT_NEAR(fit.height, box.size.height + top + view->textContainerInset().bottom, 1e-9);
        auto panel = onWhite(window, view);
        auto pixels = snapshot(*panel, 1);
        panel->removeFromSuperview();
        ASSERT_TRUE(pixels);
        const auto anyInk = [](const Pixel& p) { return p[3] > 200 && (p[0] < 200 || p[1] < 200 || p[2] < 200); };
        const auto [first, bottom] = inkRows(*pixels, anyInk);
        ASSERT_GE(first, 0) << text;
        const double lastTop = top + last.frame.minY(), lastBottom = top + last.frame.maxY();
        // Ink in the last measured line's band, and none past it (a descender may reach 2 pt).
        EXPECT_GE(bottom, lastTop - 1) << "drawn fewer lines than measured at " << width << ": " << text;
        EXPECT_LE(bottom, lastBottom + 2) << "drawn more lines than measured at " << width << ": " << text;
        ++checked;
    }
    EXPECT_EQ(checked, 200);
}

TEST(TextViewLines, EmptyLinesKeepTheHeightOfTheFont) {
    UsingFonts fonts;
    auto view = std::make_shared<TextView>(Rect(0, 0, 200, 100));
    view->setFont(Font::system(12));
    view->setText("one\n\nthree");
    const TextBox box = view->textBox();
    ASSERT_EQ(box.lines.size(), 3u);
    EXPECT_NEAR(box.lines[1].frame.height(), box.lines[0].frame.height(), 1e-6);
    // A text ending in a line break has the line the caret stands on.
    view->setText("one\n");
    EXPECT_EQ(view->textBox().lines.size(), 2u);
    EXPECT_NEAR(view->caretRectForPosition(view->endOfDocument()).minY(),
                view->textOrigin().y + view->textBox().lines[1].frame.minY(), 1e-6);
}

namespace {

// A label of attributed runs in a column of the panel.
void addLabel(View& panel, double& y, AttributedString text, double height = 30, int lines = 1) {
    auto label = std::make_shared<Label>(Rect(10, y, 300, height));
    label->setNumberOfLines(lines);
    label->setAttributedText(std::move(text));
    panel.addSubview(label);
    y += height + 4;
}

std::shared_ptr<View> attributedSample() {
    auto panel = View::make(Rect(0, 0, 320, 300));
    panel->setBackgroundColor(Color::systemBackground());
    double y = 8;
    AttributedString runs("Bold red ", in(Font::boldSystem(20), Color::systemRed()));
    runs.append("regular ", in(Font::system(15), Color::label()));
    runs.append("italic", in(Font::italicSystem(15), Color::secondaryLabel()));
    addLabel(*panel, y, runs);
    TextAttributes kerned = in(Font::system(18), Color::label());
    kerned.kern = 6;
    addLabel(*panel, y, AttributedString("KERNED 4 2", kerned));
    TextAttributes link = in(Font::system(17), Color::systemBlue());
    link.underline = true;
    AttributedString mixed("See ", in(Font::system(17), Color::label()));
    mixed.append("the help page", link);
    TextAttributes up = in(Font::system(11), Color::label());
    up.baselineOffset = 7;
    mixed.append(" 2nd", up);
    addLabel(*panel, y, mixed);
    TextAttributes shadowed = in(Font::boldSystem(22), Color::label());
    shadowed.shadow = TextShadow{{2, 2}, 3, Color::systemBlue().withAlphaComponent(0.6)};
    addLabel(*panel, y, AttributedString("Shadowed title", shadowed), 34);
    TextAttributes pressed = in(Font::system(17), Color::systemGray());
    pressed.letterpress = true;
    auto pressedLabel = std::make_shared<Label>(Rect(10, y, 300, 30));
    pressedLabel->setAttributedText(AttributedString("Letterpress 0:42 / 1:30", pressed));
    pressedLabel->setBackgroundColor(Color::systemGray5());
    panel->addSubview(pressedLabel);
    y += 34;
    auto button = std::make_shared<Button>(ButtonType::System);
    button->setFrame(Rect(10, y, 300, 36));
    AttributedString call("Call ", in(Font::boldSystem(18), Color::systemGreen()));
    call.append("(555) 010-4477", in(Font::system(14), Color::secondaryLabel()));
    button->setAttributedTitle(call, kStateNormal);
    panel->addSubview(button);
    y += 40;
    AttributedString wrapped("A wrapped label keeps each run's own font across ", in(Font::system(14), Color::label()));
    wrapped.append("its lines", in(Font::boldSystem(16), Color::systemOrange()));
    wrapped.append(", breaking where the drawing breaks.", in(Font::system(14), Color::label()));
    addLabel(*panel, y, wrapped, 60, 0);
    return panel;
}

std::shared_ptr<View> scriptsSample() {
    auto panel = View::make(Rect(0, 0, 320, 250));
    panel->setBackgroundColor(Color::systemBackground());
    double y = 8;
    const Color label = Color::label();
    addLabel(*panel, y, AttributedString("Chinese: 你好，世界", in(Font::system(17), label)));
    addLabel(*panel, y, AttributedString("Japanese: こんにちは、カタカナ", in(Font::system(17), label)));
    addLabel(*panel, y, AttributedString("Korean: 안녕하세요", in(Font::system(17), label)));
    addLabel(*panel, y,
             AttributedString("Emoji: 😀 👍🏽 🇫🇷 ❤️ 👨‍👩‍👧", in(Font::system(20), label)));
    addLabel(*panel, y, AttributedString("Arabic: مرحبا بالعالم", in(Font::system(17), label)));
    auto text = std::make_shared<TextView>(Rect(10, y, 300, 70));
    text->setFont(Font::system(15));
    text->setTextColor(label);
    text->setText("Mixed 你好 and 😀 wrap in a text view with one line breaker: カタカナ 안녕 🎉");
    text->layer().borderWidth = 1;
    text->layer().borderColor = Color::separator();
    panel->addSubview(text);
    return panel;
}

}  // namespace

TEST(AttributedText, GoldensInLightAndDarkAt2x) {
    toolkit_snapshots::expectGoldensInLightAndDarkAt2x(attributedSample, "attributed_text");
}

TEST(FallbackFonts, CjkAndEmojiGoldensInLightAndDarkAt2x) {
    toolkit_snapshots::expectGoldensInLightAndDarkAt2x(scriptsSample, "cjk_emoji_text");
}
