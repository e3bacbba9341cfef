#include "ui/dialer/hx_dial_pad_button.h"

#include <gtest/gtest.h>

#include "platform/graphics/screen_scale.h"
#include "platform/toolkit/testing/harness.h"

namespace {

using toolkit::Color;

}  // namespace

TEST(DialPadButton, CornersAreSquareClampedOrCircular) {
    struct Case {
        toolkit::Size size;
        double wanted, radius;
        bool clips;
    };
    for (const Case& c : {Case{{75, 75}, 10, 38, true}, Case{{75, 75.9}, 10, 38, true}, Case{{120, 60}, 10, 10, true},
                          Case{{120, 60}, 40, 30, true}, Case{{121, 61}, 40, 30, true}, Case{{75, 75}, 0, 0, false},
                          Case{{75, 75}, -3, 0, false}}) {
        toolkit::testing::Harness h;
        auto key = std::make_shared<HXDialPadButton>();
        key->setFrame({0, 0, c.size.width, c.size.height});
        key->setCornerRadius(c.wanted);
        key->layoutSubviews();
        EXPECT_EQ(key->layer().cornerRadius, c.radius) << c.size.width << "x" << c.size.height << " r" << c.wanted;
        EXPECT_EQ(key->clipsToBounds(), c.clips);
    }
}

TEST(DialPadButton, BorderWidthsAreWholePointsOnlyOnAOneTimesScreen) {
    struct Case {
        double width, scale, result;
    };
    for (const Case& c : {Case{0.4, 1, 1}, Case{0.4, 2, 0.4}, Case{0.4, 3, 0.4}, Case{-2, 1, 0}, Case{-2, 2, 0},
                          Case{1.0, 1, 1}, Case{1.01, 1, 2}})
        EXPECT_DOUBLE_EQ(HXDialPadButton::borderWidthFor(c.width, c.scale), c.result) << c.width << " @" << c.scale;
    toolkit::testing::Harness h;
    HXDialPadButton key;
    EXPECT_EQ(key.layer().borderWidth, 0);
    EXPECT_EQ(key.layer().borderColor, Color::systemGray());
    key.setBorderColor(Color::red());
    EXPECT_EQ(key.layer().borderColor, Color::red());
}

TEST(DialPadButton, PressingLightsItsOwnLettersLabelOnly) {
    toolkit::testing::Harness h;
    auto pad = std::make_shared<toolkit::View>();
    auto addLabel = [&](long tag) {
        auto l = std::make_shared<toolkit::Label>();
        l->setTag(tag);
        l->setTextColor(Color::tertiaryLabel());
        pad->addSubview(l);
        return l;
    };
    auto five = std::make_shared<HXDialPadButton>();
    five->setTag(5);
    auto zero = std::make_shared<HXDialPadButton>();
    zero->setTag(100);
    auto star = std::make_shared<HXDialPadButton>();
    star->setTag(10);
    pad->addSubview(five);
    pad->addSubview(zero);
    pad->addSubview(star);
    auto l105 = addLabel(105), l111 = addLabel(111), l106 = addLabel(106), l110 = addLabel(110);
    EXPECT_EQ(five->lettersLabel(), l105.get());
    EXPECT_EQ(zero->lettersLabel(), l111.get());
    EXPECT_EQ(star->lettersLabel(), nullptr) << "no letters under the star";
    five->setHighlighted(true);
    EXPECT_EQ(l105->textColor(), Color::whiteColor());
    EXPECT_EQ(l106->textColor(), Color::tertiaryLabel());
    EXPECT_EQ(five->backgroundColor(), Color::systemGray());
    five->setHighlighted(false);
    EXPECT_EQ(l105->textColor(), Color::tertiaryLabel());
    EXPECT_EQ(five->backgroundColor(), Color::clear());
    zero->setHighlighted(true);
    EXPECT_EQ(l111->textColor(), Color::whiteColor());
    star->setHighlighted(true);
    EXPECT_EQ(l110->textColor(), Color::tertiaryLabel());
    // A key tagged 0 would find the 0 key (tagged 100), which is no label: nothing is lit.
    auto odd = std::make_shared<HXDialPadButton>();
    odd->setTag(0);
    pad->addSubview(odd);
    EXPECT_EQ(odd->lettersLabel(), nullptr);
}
