#include <gtest/gtest.h>

#include "platform/graphics/graphics_context.h"
#include "platform/toolkit/font_text_measurer.h"
#include "platform/toolkit/renderer.h"
#include "tests/support/goldens.h"
#include "tests/support/test_support.h"
#include "ui/widgets/hxc_badge_view.h"
#include "ui/widgets/hxc_token.h"

using toolkit::Color;
using toolkit::Rect;
using toolkit::Size;

namespace {

using hxtest::UsingFonts;

void expectGolden(toolkit::View& view, const std::string& name) { hxtest::expectSnapshot(view, name, 2); }

}  // namespace

TEST(HXCBadgeView, SizeFollowsTheTextWithAMinimumOfTheZeroWidth) {
    // Fixed metrics at 16 points: 8 points per character, lines 19.2 high.
    HXCBadgeView badge;
    badge.setText("5");
    EXPECT_EQ(badge.sizeThatFits({}), (Size{30, 29.2})) << "one digit: the \"0\" width + 22";
    badge.setText("123");
    EXPECT_EQ(badge.sizeThatFits({}), (Size{44, 29.2})) << "text width + 20";
    badge.setText("");
    EXPECT_EQ(badge.sizeThatFits({}).width, 30);
    badge.setFont(toolkit::Font::system(10));
    EXPECT_EQ(badge.sizeThatFits({}), (Size{27, 22}));
    EXPECT_EQ(badge.intrinsicContentSize(), badge.sizeThatFits({}));
    const uint64_t before = badge.displayGeneration();
    badge.setTextColor(Color::black());
    EXPECT_GT(badge.displayGeneration(), before) << "a colour change redraws";
}

TEST(HXCBadgeView, DrawsARoundedFillOfTheTintWithItsCount) {
    UsingFonts fonts;
    auto holder = toolkit::View::make(Rect(0, 0, 90, 40));
    auto one = std::make_shared<HXCBadgeView>();
    one->setText("7");
    one->setTintColor(Color::systemRed());
    one->setFrame(Rect({4, 4}, one->sizeThatFits({})));
    auto many = std::make_shared<HXCBadgeView>();
    many->setText("128");
    many->setFrame(Rect({40, 4}, many->sizeThatFits({})));
    holder->setTintColor(Color::systemBlue());  // inherited by the second badge
    holder->addSubview(one);
    holder->addSubview(many);
    auto pixels = toolkit::snapshot(*holder, 2);
    const auto red = Color::systemRed().rgbaFor(graphics::UserInterfaceStyle::light);
    const auto fill = pixels->rgbaAt(2 * (4 + 15), 2 * (4 + 3.5));  // in the top edge, above the digit
    EXPECT_NEAR(fill[0], red.red * 255, 1);
    EXPECT_NEAR(fill[1], red.green * 255, 1);
    EXPECT_EQ(pixels->rgbaAt(2 * 4 + 1, 2 * 4 + 1)[3], 0) << "outside the rounded corner";
    expectGolden(*holder, "badges");
}

TEST(HXCToken, DefaultsColoursAndComponents) {
    HXCToken token("Ann", foundation::Value("+15551234567"));
    EXPECT_EQ(token.tintColor(), HXCToken::blueTintColor());
    EXPECT_EQ(token.textColor(), Color::black());
    EXPECT_EQ(token.highlightedTextColor(), Color::whiteColor());
    EXPECT_EQ(token.maxWidth(), 200);
    EXPECT_EQ(token.font(), toolkit::Font::system(14));
    EXPECT_EQ(token.accessoryType(), 0);
    double r = 0, g = 0, b = 0, a = 0;
    EXPECT_TRUE(token.getTintColorRed(&r, &g, &b, &a));
    EXPECT_DOUBLE_EQ(r, 0.216);
    EXPECT_DOUBLE_EQ(b, 0.965);
    token.setTintColor(Color::white(0.4, 0.5));
    EXPECT_TRUE(token.getTintColorRed(&r, nullptr, &b, &a));
    EXPECT_DOUBLE_EQ(r, 0.4);
    EXPECT_DOUBLE_EQ(b, 0.4);
    EXPECT_DOUBLE_EQ(a, 0.5);
    token.setTintColor(Color::pattern(graphics::Image::fromBitmap(graphics::Bitmap::make(1, 1).value())));
    r = -1;
    EXPECT_FALSE(token.getTintColorRed(&r, &g, &b, &a));
    EXPECT_EQ(r, -1) << "nothing written for a pattern";
    token.setTintColor(std::nullopt);
    EXPECT_EQ(token.tintColor(), HXCToken::blueTintColor());
    EXPECT_EQ(HXCToken::redTintColor(), Color::rgb(1.0, 0.15, 0.15));
    token.setTitle(std::nullopt);
    EXPECT_EQ(token.title(), "Ann");
    EXPECT_NE(token.description().find("; title = \"Ann\"; representedObject = \"+15551234567\">"), std::string::npos);
    EXPECT_EQ(token.description().rfind("<HXCToken 0x", 0), 0u);
}

TEST(HXCToken, SizesToItsTitleWithinTheMaximumWidth) {
    // Fixed metrics at 14 points: 7 points per character, lines 16.8 high.
    HXCToken token("Al");
    EXPECT_EQ(token.frame().size, (Size{28, 24})) << "14 + 14 = 28 wide, floor(16.8 + 8) high";
    token.setTitle("A");
    EXPECT_EQ(token.frame().size, (Size{21, 24})) << "never narrower than height - 3";
    token.setTitle(std::string(60, 'x'));
    EXPECT_LE(token.frame().size.width, 200) << "the title is cut at maxWidth - 14";
    EXPECT_GE(token.frame().size.width, 193);
    token.setMaxWidth(100);
    EXPECT_LE(token.frame().size.width, 100);
    EXPECT_GE(token.frame().size.width, 93);
    token.setTitle("Bob");
    token.setAccessoryType(1);
    // Chevron width 7 + 2.5 = 9.5 (+ 7): floor(16.5 + 21 + 14).
    EXPECT_EQ(token.frame().size.width, 51);
    EXPECT_NEAR(HXCToken::chevronWidth(14, 2.5), 9.5, 1e-6);
    const graphics::Rect chevron = HXCToken::chevronPath({20, 10}, 14, 2.5).boundingBox();
    EXPECT_NEAR(chevron.maxX(), 20, 1e-6);
    EXPECT_NEAR(chevron.width(), 9.5, 1e-5);
    EXPECT_NEAR(chevron.height(), 14, 1e-6);
}

TEST(HXCToken, SelectedIsFlatAndNormalIsAGradient) {
    UsingFonts fonts;
    auto holder = toolkit::View::make(Rect(0, 0, 220, 70));
    auto normal = std::make_shared<HXCToken>("Ann Smith");
    normal->setFrame(Rect({4, 4}, normal->frame().size));
    auto selected = std::make_shared<HXCToken>("Bob");
    selected->setSelected(true);
    selected->setTextColor(Color::whiteColor());
    selected->setFrame(Rect({120, 4}, selected->frame().size));
    auto chevron = std::make_shared<HXCToken>("A very long recipient name that is cut");
    chevron->setAccessoryType(1);
    chevron->setTintColor(HXCToken::greenTintColor());
    chevron->setFrame(Rect({4, 36}, chevron->frame().size));
    for (const auto& t : {normal, selected, chevron}) holder->addSubview(t);
    auto pixels = toolkit::snapshot(*holder, 2);
    // The normal look is 0.2 lighter at the top than at the bottom; the selected one is flat.
    // Sampled above the glyphs and below the baseline.
    const auto top = pixels->rgbaAt(2 * 34, 2 * 6.5), low = pixels->rgbaAt(2 * 34, 2 * 24);
    EXPECT_GT(top[0], low[0] + 25);
    const auto stop = pixels->rgbaAt(2 * 140, 2 * 6.5), slow = pixels->rgbaAt(2 * 140, 2 * 24);
    EXPECT_EQ(stop, slow);
    EXPECT_NEAR(stop[2], 0.965 * 255, 1);
    EXPECT_LE(chevron->frame().size.width, 200);
    EXPECT_GE(chevron->frame().size.width, 180);
    expectGolden(*holder, "tokens");
}
