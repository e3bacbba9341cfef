#include "platform/toolkit/font_text_measurer.h"

#include <gtest/gtest.h>

#include "platform/graphics/text_layout.h"
#include "platform/toolkit/controls.h"

using namespace toolkit;

namespace {
// Installs the font-backed measurer for one test.
struct UsingFonts {
    UsingFonts() { setTextMeasurer(&FontTextMeasurer::shared()); }
    ~UsingFonts() { setTextMeasurer(nullptr); }
};
}  // namespace

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
    UsingFonts fonts;
    Label label;
    label.setFont(Font::boldSystem(16));
    label.setText("Unread");
    const Size size = label.sizeThatFits({1000, 1000});
    EXPECT_NEAR(size.width, graphics::sizeOfText("Unread", Font::boldSystem(16)).width, 1.0);
    EXPECT_NEAR(size.height, FontTextMeasurer::shared().lineHeight(Font::boldSystem(16)), 1.0);
}
