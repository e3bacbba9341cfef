#include "platform/graphics/text_layout.h"

#include <gtest/gtest.h>

#include <sstream>

#include "platform/graphics/bitmap_compare.h"
#include "platform/graphics/graphics_context.h"
#include "tests/platform/graphics/golden.h"
#include "tests/platform/graphics/pil.h"

using namespace graphics;

namespace {

TextAttributes in(const Font& font, const Color& color = Color::black()) {
    TextAttributes a;
    a.font = font;
    a.color = color;
    return a;
}

std::vector<std::string> lines(const std::string& text, double width, int maxLines, LineBreakMode mode,
                               double size = 17) {
    TextLayoutOptions o;
    o.width = width;
    o.maximumLines = maxLines;
    o.lineBreakMode = mode;
    return TextLayout(AttributedString(text, in(Font::system(size))), o).lineTexts();
}

}  // namespace

TEST(TextLayout, OnlyTheBundledFacesAreSeen) {
    const auto files = loadedFontFiles();
    // Six DejaVu faces and the two fallbacks (CJK, colour emoji).
    ASSERT_EQ(files.size(), 8u);
    for (const std::string& f : files) {
        EXPECT_EQ(std::filesystem::path(f).parent_path(), fontsDirectory()) << f;
    }
    // Each weight draws with a face of its own.
    const double regular = sizeOfText("Weights", Font::system(20)).width;
    const double bold = sizeOfText("Weights", Font::boldSystem(20)).width;
    const double thin = sizeOfText("Weights", *Font::named("HelveticaNeue-Thin", 20)).width;
    EXPECT_GT(bold, regular);
    EXPECT_NE(thin, regular);
    EXPECT_EQ(sizeOfText("0123456789", Font::system(20)).width, sizeOfText("1111111111", Font::system(20)).width)
        << "digits are all one width";
}

TEST(TextLayout, WidthsAgreeWithFreeTypeThroughPIL) {
    HX_REQUIRE_PIL();
    hxtest::TempDir dir;
    const std::vector<std::string> samples = {"Hello", "AVAV", "Token bubble 123", "Load older messages"};
    std::string list;
    for (const auto& s : samples) list += "'" + s + "',";
    const std::string out = hxtest::runPIL(dir, "from PIL import ImageFont\nf = ImageFont.truetype('" +
                                                    (fontsDirectory() / "DejaVuSans.ttf").string() +
                                                    "', 100)\nfor s in [" + list + "]:\n    print(f.getlength(s))\n");
    std::istringstream widths(out);
    for (const auto& s : samples) {
        double pil = 0;
        widths >> pil;
        EXPECT_NEAR(sizeOfText(s, Font::system(100)).width, pil, pil * 0.01) << s;
    }
    const FontMetrics m = fontMetrics(Font::system(100));
    EXPECT_GT(m.ascender, 80);
    EXPECT_LT(m.descender, -15);
    EXPECT_NEAR(m.lineHeight, m.ascender - m.descender + m.leading, 1e-9);
    EXPECT_GT(m.capHeight, m.xHeight);
}

TEST(TextLayout, WrappingAndTruncation) {
    const std::string text = "The quick brown fox jumps over the lazy dog";
    const double full = sizeOfText(text, Font::system(17)).width;
    EXPECT_EQ(lines(text, 0, 0, LineBreakMode::wordWrap), std::vector<std::string>{text}) << "no width: one line";
    const auto wrapped = lines(text, full * 0.55, 0, LineBreakMode::wordWrap);
    ASSERT_EQ(wrapped.size(), 2u);
    EXPECT_EQ(wrapped[0] + " " + wrapped[1], text) << "broken at a space, the space dropped";
    const auto chars = lines("abcdefghijklmnopqrstuvwxyz", sizeOfText("abcdefghij", Font::system(17)).width + 0.5, 0,
                             LineBreakMode::charWrap);
    ASSERT_GE(chars.size(), 3u);
    EXPECT_EQ(chars[0], "abcdefghij");
    std::string joined;
    for (const auto& l : chars) joined += l;
    EXPECT_EQ(joined, "abcdefghijklmnopqrstuvwxyz") << "broken between letters, none lost";

    const double width = full * 0.4;
    const auto tail = lines(text, width, 0, LineBreakMode::truncateTail);
    ASSERT_EQ(tail.size(), 1u);
    EXPECT_EQ(tail[0].rfind("The quick", 0), 0u);
    EXPECT_EQ(tail[0].substr(tail[0].size() - 3), "\xE2\x80\xA6");
    const auto head = lines(text, width, 0, LineBreakMode::truncateHead);
    EXPECT_EQ(head[0].rfind("\xE2\x80\xA6", 0), 0u);
    EXPECT_EQ(head[0].substr(head[0].size() - 8), "lazy dog");
    const auto middle = lines(text, width, 0, LineBreakMode::truncateMiddle);
    EXPECT_EQ(middle[0].rfind("The", 0), 0u);
    EXPECT_NE(middle[0].find("\xE2\x80\xA6"), std::string::npos);
    EXPECT_EQ(middle[0].substr(middle[0].size() - 3), "dog");
    for (const auto& l : {tail[0], head[0], middle[0]}) {
        EXPECT_LE(sizeOfText(l, Font::system(17)).width, width) << l;
        EXPECT_GT(sizeOfText(l, Font::system(17)).width, width * 0.75) << "as much kept as fits: " << l;
    }
    // Two lines, the second cut at its tail; text that fits is left alone.
    const auto two = lines(text, full * 0.35, 2, LineBreakMode::truncateTail);
    ASSERT_EQ(two.size(), 2u);
    EXPECT_EQ(text.rfind(two[0], 0), 0u);
    EXPECT_EQ(two[1].substr(two[1].size() - 3), "\xE2\x80\xA6");
    EXPECT_EQ(lines("short", 500, 0, LineBreakMode::truncateTail), std::vector<std::string>{"short"});
    // A clipped layout of two lines shows the first two lines unchanged.
    const auto clipped = lines(text, full * 0.35, 2, LineBreakMode::wordWrap);
    ASSERT_EQ(clipped.size(), 2u);
    EXPECT_EQ(clipped[1].find("\xE2\x80\xA6"), std::string::npos);
    // Newlines always break; an empty text is one empty line with the font's height.
    EXPECT_EQ(lines("one\ntwo", 0, 0, LineBreakMode::wordWrap), (std::vector<std::string>{"one", "two"}));
    TextLayout empty(AttributedString(), {});
    EXPECT_EQ(empty.lines().size(), 1u);
    EXPECT_GT(empty.size().height, 15);
    EXPECT_EQ(empty.size().width, 0);
}

TEST(TextLayout, AttributedRunsAndHeights) {
    AttributedString s("Big ", in(Font::system(30)));
    s.append("small", in(Font::system(10), Color::systemRed()));
    EXPECT_EQ(s.runs().size(), 2u);
    TextLayout layout(s, {});
    const double bigOnly = TextLayout(AttributedString("Big ", in(Font::system(30))), {}).size().height;
    EXPECT_NEAR(layout.size().height, bigOnly, 0.5) << "the tallest run sets the line";
    EXPECT_GT(layout.size().width, sizeOfText("Big ", Font::system(30)).width);
    TextAttributes spaced = in(Font::system(17));
    spaced.kern = 4;
    EXPECT_NEAR(TextLayout(AttributedString("abcd", spaced), {}).size().width,
                sizeOfText("abcd", Font::system(17)).width + 12, 0.01)
        << "the kern adds between each pair of the four characters";
    // Maximum height keeps only whole lines.
    TextLayoutOptions o;
    o.width = 60;
    o.maximumHeight = fontMetrics(Font::system(17)).lineHeight * 2.5;
    TextLayout tall(AttributedString("one two three four five six seven", in(Font::system(17))), o);
    EXPECT_EQ(tall.lines().size(), 2u);
    EXPECT_TRUE(tall.isTruncated());
    // Alignment places each line in the width.
    TextLayoutOptions right;
    right.width = 200;
    right.alignment = TextAlignment::right;
    TextLayout r(AttributedString("x", in(Font::system(17))), right);
    EXPECT_NEAR(r.lines()[0].frame.maxX(), 200, 1e-9);
}

TEST(TextLayout, DrawnTextIsTheSameEverywhere) {
    auto c = GraphicsContext::image({180, 60}, false, 2).value();
    c->setFillColor(Color::whiteColor());
    c->fillRect({0, 0, 180, 60});
    AttributedString s("Badge 12 ", in(Font::boldSystem(16), Color::systemBlue()));
    s.append("thin", in(*Font::named("HelveticaNeue-Thin", 16)));
    TextAttributes under = in(Font::italicSystem(13), Color::label());
    under.underline = true;
    under.baselineOffset = -1.5;
    s.append(" link", under);
    TextLayout(s, {}).draw(*c, {4, 4});
    drawText(*c, "The quick brown fox", {4, 30}, in(Font::system(14), Color::darkGray()));
    hxtest::expectMatchesGolden(c->pixels(), "text_sample");
    // Dark appearance resolves the dynamic label colour to white.
    auto dark = GraphicsContext::image({40, 20}, false, 1).value();
    dark->setUserInterfaceStyle(UserInterfaceStyle::dark);
    drawText(*dark, "HH", {2, 2}, in(Font::boldSystem(14), Color::label()));
    bool white = false;
    for (int y = 0; y < 20; ++y) {
        for (int x = 0; x < 40; ++x)
            white = white || dark->pixels().rgbaAt(x, y) == std::array<uint8_t, 4>{255, 255, 255, 255};
    }
    EXPECT_TRUE(white);
}

namespace {

// How many pixels of the context are close to the colour (any alpha above half).
int pixelsNear(const GraphicsContext& c, std::array<int, 3> rgb) {
    int n = 0;
    for (int y = 0; y < c.pixels().height(); ++y) {
        for (int x = 0; x < c.pixels().width(); ++x) {
            const auto p = c.pixels().rgbaAt(x, y);
            if (p[3] > 128 && std::abs(p[0] - rgb[0]) < 40 && std::abs(p[1] - rgb[1]) < 40 &&
                std::abs(p[2] - rgb[2]) < 40)
                ++n;
        }
    }
    return n;
}

std::shared_ptr<GraphicsContext> drawnAlone(const std::string& text, const TextAttributes& a,
                                            UserInterfaceStyle style) {
    auto c = GraphicsContext::image({60, 24}, false, 1).value();
    c->setUserInterfaceStyle(style);
    drawText(*c, text, {2, 2}, a);
    return c;
}

}  // namespace

TEST(TextLayout, ShapedLinesKeptForRedrawsFollowColourAppearanceAndEveryAttribute) {
    // The same text drawn again and again is shaped once and kept: what is kept must be told apart
    // by everything that changes the ink, in whichever order the draws come.
    const TextAttributes red = in(Font::boldSystem(16), Color::rgb(1, 0, 0));
    const TextAttributes blue = in(Font::boldSystem(16), Color::rgb(0, 0, 1));
    for (int round = 0; round < 2; ++round) {
        EXPECT_GT(pixelsNear(*drawnAlone("MW", red, UserInterfaceStyle::light), {255, 0, 0}), 10);
        EXPECT_EQ(pixelsNear(*drawnAlone("MW", blue, UserInterfaceStyle::light), {255, 0, 0}), 0);
        EXPECT_GT(pixelsNear(*drawnAlone("MW", blue, UserInterfaceStyle::light), {0, 0, 255}), 10);
        // A dynamic colour: dark ink in light, light ink in dark, the same text and attributes.
        const TextAttributes label = in(Font::boldSystem(16), Color::label());
        EXPECT_GT(pixelsNear(*drawnAlone("MW", label, UserInterfaceStyle::light), {0, 0, 0}), 10);
        EXPECT_EQ(pixelsNear(*drawnAlone("MW", label, UserInterfaceStyle::dark), {0, 0, 0}), 0);
        EXPECT_GT(pixelsNear(*drawnAlone("MW", label, UserInterfaceStyle::dark), {255, 255, 255}), 10);
    }
    // Measures too: the same characters in another size, kern or run split measure their own.
    const double plain = sizeOfText("Kept text", Font::system(15)).width;
    TextAttributes kerned = in(Font::system(15));
    kerned.kern = 2;
    EXPECT_NEAR(TextLayout(AttributedString("Kept text", kerned), {}).size().width, plain + 2 * 8, 0.01);
    EXPECT_GT(sizeOfText("Kept text", Font::system(30)).width, plain * 1.9);
    AttributedString split("Kept ", in(Font::system(15)));
    split.append("text", in(Font::boldSystem(15)));
    EXPECT_GT(TextLayout(split, {}).size().width, plain);
    // Thousands of other lines later the first measures and draws the same: taken from the older of
    // the kept generations (and drawn there in another colour and appearance first), and again once
    // more lines than both generations keep have passed.
    for (int lines : {5000, 9000}) {
        for (int i = 0; i < lines; ++i)
            sizeOfText("line " + std::to_string(lines) + " " + std::to_string(i), Font::system(15));
        EXPECT_EQ(sizeOfText("Kept text", Font::system(15)).width, plain);
        EXPECT_GT(pixelsNear(*drawnAlone("MW", blue, UserInterfaceStyle::light), {0, 0, 255}), 10);
        EXPECT_EQ(pixelsNear(*drawnAlone("MW", red, UserInterfaceStyle::light), {0, 0, 255}), 0);
        EXPECT_GT(pixelsNear(*drawnAlone("MW", red, UserInterfaceStyle::light), {255, 0, 0}), 10);
        const TextAttributes label = in(Font::boldSystem(16), Color::label());
        EXPECT_GT(pixelsNear(*drawnAlone("MW", label, UserInterfaceStyle::dark), {255, 255, 255}), 10);
        EXPECT_GT(pixelsNear(*drawnAlone("MW", label, UserInterfaceStyle::light), {0, 0, 0}), 10);
    }
}

TEST(BitmapCompare, TolerancePerChannelAndShareOfPixels) {
    auto a = Bitmap::make(100, 20).value();
    auto b = a->copy();
    b->setRGBA(0, 0, 8, 0, 0, 8);
    EXPECT_EQ(compareBitmaps(*a, *b).differingPixels, 0) << "8 levels is within tolerance";
    b->setRGBA(1, 0, 9, 0, 0, 9);
    b->setRGBA(2, 0, 0, 0, 0, 200);
    const BitmapComparison two = compareBitmaps(*a, *b);
    EXPECT_EQ(two.differingPixels, 2);
    EXPECT_TRUE(two.matches()) << "2 of 2000 is 0.1 %";
    b->setRGBA(3, 0, 0, 0, 0, 200);
    EXPECT_FALSE(compareBitmaps(*a, *b).matches());
    EXPECT_EQ(compareBitmaps(*a, *b).difference->rgbaAt(3, 0), (std::array<uint8_t, 4>{255, 0, 0, 255}));
    EXPECT_FALSE(compareBitmaps(*Bitmap::make(3, 3).value(), *a).matches());
}

TEST(TextLayout, PixelsDoNotDependOnTheUsersFontSetup) {
    // The same drawing in a process with no environment but a hostile font configuration.
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    hxtest::TempDir home;
    const std::string command = "env -i HOME='" + home.path().string() +
                                "' FONTCONFIG_FILE=/dev/null "
                                "FONTCONFIG_PATH=/nonexistent XDG_CONFIG_HOME=/nonexistent HX_SOURCE_DIR='" +
                                hxtest::sourceDir().string() + "' '" + self +
                                "' --gtest_filter=TextLayout.DrawnTextIsTheSameEverywhere >/dev/null 2>&1";
    EXPECT_EQ(hxtest::runCommand(command), 0);
}

// Scripts DejaVu lacks come from the fallback faces, never as boxes; Latin stays DejaVu.
TEST(TextLayout, FallbackFacesDrawCjkAndColourEmoji) {
    struct Case {
        std::string text;
        std::string face;
    } cases[] = {
        {"Hello", "DejaVu Sans"},
        {"你好世界", "WenQuanYi Micro Hei"},
        {"こんにちは", "WenQuanYi Micro Hei"},
        {"안녕하세요", "WenQuanYi Micro Hei"},
        {"😀", "Noto Color Emoji"},
        {"👍🏽", "Noto Color Emoji"},
        {"🇫🇷", "Noto Color Emoji"},
        {"👨‍👩‍👧", "Noto Color Emoji"},
        {"مرحبا", "DejaVu Sans"},
    };
    for (const Case& c : cases) {
        const AttributedString text(c.text, in(Font::system(17)));
        EXPECT_EQ(missingGlyphCount(text), 0) << c.text;
        const auto faces = facesUsed(text);
        ASSERT_FALSE(faces.empty()) << c.text;
        EXPECT_EQ(faces.front(), c.face) << c.text;
    }
    // A character no face has is counted as missing (the check can fail).
    EXPECT_EQ(missingGlyphCount(AttributedString("󰀀", in(Font::system(17)))), 1);
    // Mixed text switches faces run by run and back.
    const auto mixed = facesUsed(AttributedString("Hi 你好 😀 ok", in(Font::system(17))));
    EXPECT_EQ(mixed.front(), "DejaVu Sans");
    EXPECT_EQ(mixed.back(), "DejaVu Sans");
    EXPECT_NE(std::find(mixed.begin(), mixed.end(), "WenQuanYi Micro Hei"), mixed.end());
    EXPECT_NE(std::find(mixed.begin(), mixed.end(), "Noto Color Emoji"), mixed.end());

    // The emoji draws in colour (a saturated pixel), whatever colour the text asks for.
    auto c = GraphicsContext::image({40, 40}, false, 1).value();
    drawText(*c, "😀", {4, 4}, in(Font::system(28), Color::black()));
    int saturated = 0;
    for (int y = 0; y < 40; ++y) {
        for (int x = 0; x < 40; ++x) {
            const auto p = c->pixels().rgbaAt(x, y);
            saturated += p[3] > 200 && std::max({p[0], p[1], p[2]}) - std::min({p[0], p[1], p[2]}) > 100;
        }
    }
    EXPECT_GT(saturated, 100);
    // A CJK character is one em wide, as its face draws it.
    EXPECT_NEAR(sizeOfText("你", Font::system(20)).width, 20, 0.5);
}

namespace {

// The lines of a layout as bytes of its text, with their measures.
void expectSameLines(const TextLayout& got, const TextLayout& expected) {
    EXPECT_EQ(got.size(), expected.size());
    ASSERT_EQ(got.lines().size(), expected.lines().size());
    for (size_t i = 0; i < got.lines().size(); ++i) {
        const TextLine &a = got.lines()[i], &b = expected.lines()[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(a.start, b.start);
        EXPECT_EQ(a.end, b.end);
        EXPECT_EQ(a.content.string(), b.content.string());
        ASSERT_EQ(a.content.runs().size(), b.content.runs().size());
        for (size_t r = 0; r < a.content.runs().size(); ++r) {
            EXPECT_EQ(a.content.runs()[r].length, b.content.runs()[r].length);
            EXPECT_EQ(a.content.runs()[r].attributes, b.content.runs()[r].attributes);
        }
        EXPECT_EQ(a.frame, b.frame);
        EXPECT_EQ(a.baseline, b.baseline);
    }
}

// Words of one to twelve letters, a few paragraphs, as long as asked.
std::string prose(size_t bytes, unsigned seed) {
    std::string out;
    while (out.size() < bytes) {
        seed = seed * 1103515245 + 12345;
        const size_t letters = 1 + (seed >> 16) % 12;
        for (size_t i = 0; i < letters; ++i) out += static_cast<char>('a' + (seed >> (i % 16)) % 26);
        out += (seed >> 8) % 97 == 0 ? "\n" : " ";
    }
    return out;
}

}  // namespace

// Long paragraphs are wrapped a piece at a time; the lines must be those the whole paragraph
// breaks into. Checked against what greedy breaking means: the lines put back together are the
// text, each fits, and none could have taken the next line's first word (or, in a word longer
// than a line, its next character).
TEST(TextLayout, LongParagraphsBreakAsAWholeWouldAcrossPieces) {
    const TextAttributes a = in(Font::system(15));
    const double width = 200;
    for (const std::string& text : {prose(30'000, 7), std::string(12'000, 'x') + " tail words here"}) {
        TextLayoutOptions o;
        o.width = width;
        const TextLayout layout(AttributedString(text, a), o);
        std::string joined;
        for (size_t i = 0; i < layout.lines().size(); ++i) {
            const TextLine& line = layout.lines()[i];
            joined += text.substr(
                line.start, (i + 1 < layout.lines().size() ? layout.lines()[i + 1].start : text.size()) - line.start);
            ASSERT_LE(line.frame.width(), width) << line.content.string();
            if (i + 1 == layout.lines().size() || text[layout.lines()[i + 1].start - 1] == '\n') continue;
            const std::string next = text.substr(layout.lines()[i + 1].start, 64);
            const bool brokeAWord = text[layout.lines()[i + 1].start - 1] != ' ';
            const std::string more = brokeAWord ? next.substr(0, 1) : next.substr(0, next.find_first_of(" \n"));
            const std::string longer = text.substr(line.start, layout.lines()[i + 1].start - line.start) + more;
            EXPECT_GT(sizeOfText(longer, a.font).width, width) << "line " << i << " could have held \"" << more << "\"";
        }
        EXPECT_EQ(joined, text);
    }
}

// A word longer than a line breaks between characters; the engine is handed break opportunities
// only near where its lines end (a handful a line, not one before every character), and the
// lines are still those greedy breaking gives: each fits, none could have taken the next line's
// first character, and they put back together are the text. In several rooms and sizes, with
// letters of unlike widths, two-byte letters, a right-to-left word, and a word after and before
// words.
TEST(TextLayout, ALongWordGetsBreakOpportunitiesOnlyNearItsLineEnds) {
    auto cycled = [](const std::string& letters, size_t count) {
        std::vector<std::string> chars;
        for (size_t i = 0; i < letters.size(); i += (static_cast<unsigned char>(letters[i]) < 0x80 ? 1 : 2))
            chars.push_back(letters.substr(i, static_cast<unsigned char>(letters[i]) < 0x80 ? 1 : 2));
        std::string out;
        for (size_t i = 0; i < count; ++i) out += chars[(i * 7 + i / chars.size()) % chars.size()];
        return out;
    };
    const std::string latin = cycled("iWmjlMfw.abcdefghijklmnopqrstuvwxyz", 3'000);
    const std::string cyrillic = cycled("\u0430\u0431\u0432\u0433\u0434\u0435\u0436\u0437\u0438\u0448\u0449", 2'000);
    const std::string hebrew = cycled("\u05d0\u05d1\u05d2\u05d3\u05d4\u05d5\u05d6\u05e9", 2'000);
    struct Case {
        std::string text;
        double width, size;
    };
    const Case cases[] = {
        {latin, 265, 17},    {latin, 100, 17},
        {latin, 317.25, 15}, {latin, 700, 17},
        {latin, 37.3, 17},   {cyrillic, 200.5, 17},
        {hebrew, 250, 17},   {"Here it comes: " + latin + " and the end", 250, 17},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 24) + " in " + std::to_string(c.width));
        const TextAttributes a = in(Font::system(c.size));
        TextLayoutOptions o;
        o.width = c.width;
        resetTextWork();
        const TextLayout layout(AttributedString(c.text, a), o);
        const TextWork work = textWork();
        const auto& lines = layout.lines();
        ASSERT_GT(lines.size(), 3u);
        std::string joined;
        for (size_t i = 0; i < lines.size(); ++i) {
            const size_t end = i + 1 < lines.size() ? lines[i + 1].start : c.text.size();
            joined += c.text.substr(lines[i].start, end - lines[i].start);
            EXPECT_LE(lines[i].frame.width(), c.width) << "line " << i;
            if (i + 1 == lines.size() || c.text[end - 1] == ' ') continue;
            size_t next = end + 1;
            while (next < c.text.size() && (static_cast<unsigned char>(c.text[next]) & 0xC0) == 0x80) ++next;
            EXPECT_GT(sizeOfText(c.text.substr(lines[i].start, next - lines[i].start), a.font).width, c.width)
                << "line " << i << " could have held one more character";
        }
        EXPECT_EQ(joined, c.text);
        EXPECT_LE(work.breakMarkBytes, 3 * 8 * lines.size()) << lines.size() << " lines";
    }
}

// A long word after other text on its line goes to a line of its own, as the engine lays the
// text out without the break opportunities put into the word: the oracle is that rule measured
// by hand, the first line "See " and then each line of the word as many characters as fit the
// room (one line measured whole per guess). In a narrow and a wide room.
TEST(TextLayout, ALongWordAfterOtherTextStartsItsOwnLine) {
    std::string word;
    for (size_t i = 0; i < 2'000; ++i) word += "iWmjlMfwabcdefgh"[(i * 7 + i / 16) % 16];
    const std::string text = "See " + word;
    const TextAttributes a = in(Font::system(17));
    for (const double width : {250.0, 120.5}) {
        SCOPED_TRACE(width);
        TextLayoutOptions o;
        o.width = width;
        const TextLayout layout(AttributedString(text, a), o);
        std::vector<size_t> expected{0};
        for (size_t at = 4; at < text.size();) {
            expected.push_back(at);
            size_t lo = at + 1, hi = text.size();  // the last end that fits, at least one character
            while (lo < hi) {
                const size_t mid = (lo + hi + 1) / 2;
                if (sizeOfText(text.substr(at, mid - at), a.font).width <= width)
                    lo = mid;
                else
                    hi = mid - 1;
            }
            at = lo;
        }
        std::vector<size_t> starts;
        for (const TextLine& line : layout.lines()) starts.push_back(line.start);
        EXPECT_EQ(starts, expected);
    }
}

// A text changed in a few places and laid out from its earlier layout gets the lines it would
// get laid out afresh, whatever the change: typed at the end, in the middle, a word shortened at
// a line's start (it may move up a line), a newline, a paste, a run of another colour, a removal.
TEST(TextLayout, LayingOutFromAnEarlierLayoutGivesTheLinesOfAFreshOne) {
    const TextAttributes a = in(Font::system(15));
    const std::string base = prose(9'000, 3);
    TextLayoutOptions o;
    o.width = 230;
    const AttributedString before(base, a);
    const TextLayout earlier(before, o);
    const size_t lineStart = earlier.lines()[40].start;
    struct Edit {
        const char* what;
        AttributedString after;
    };
    auto replaced = [&](size_t at, size_t length, const std::string& with, const TextAttributes& attributes) {
        AttributedString out = before.substring(0, at);
        out.append(with, attributes);
        out.append(before.substring(at + length, base.size()));
        return out;
    };
    const std::vector<Edit> edits = {
        {"typed at the end", replaced(base.size(), 0, "k", a)},
        {"typed in the middle", replaced(4'000, 0, "k", a)},
        {"deleted at a line's start", replaced(lineStart, 1, "", a)},
        {"a space at a line's start", replaced(lineStart + 1, 0, " ", a)},
        {"a newline", replaced(5'000, 0, "\n", a)},
        {"pasted", replaced(2'500, 0, prose(700, 11), a)},
        {"recoloured", replaced(3'000, 40, base.substr(3'000, 40), in(Font::system(15), Color::systemBlue()))},
        {"removed", replaced(1'000, 3'000, "", a)},
        {"unchanged", before},
    };
    for (const Edit& edit : edits) {
        SCOPED_TRACE(edit.what);
        expectSameLines(TextLayout(edit.after, o, before, earlier.lines()), TextLayout(edit.after, o));
    }
}
