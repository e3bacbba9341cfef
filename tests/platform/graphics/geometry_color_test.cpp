#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "platform/graphics/color.h"
#include "platform/graphics/font.h"
#include "platform/graphics/geometry.h"
#include "platform/graphics/image.h"

using namespace graphics;

namespace {
void expectNear(Point a, Point b) {
    EXPECT_NEAR(a.x, b.x, 1e-9);
    EXPECT_NEAR(a.y, b.y, 1e-9);
}
}  // namespace

TEST(Geometry, RectangleOperations) {
    const Rect r{10, 20, 30, 40};
    const Rect negative{40, 60, -30, -40};
    EXPECT_EQ(negative.standardized(), r);
    EXPECT_EQ(negative.minX(), 10);
    EXPECT_EQ(negative.maxY(), 60);
    EXPECT_EQ(r.midX(), 25);
    struct Case {
        Rect a, b, intersection, unionRect;
        bool intersects;
    } cases[] = {
        {{0, 0, 10, 10}, {5, 5, 10, 10}, {5, 5, 5, 5}, {0, 0, 15, 15}, true},
        {{0, 0, 10, 10}, {10, 0, 5, 5}, {10, 0, 0, 5}, {0, 0, 15, 10}, false},  // touching edges
        {{0, 0, 10, 10}, {20, 20, 1, 1}, {}, {0, 0, 21, 21}, false},
        {{0, 0, 10, 10}, {2, 2, 2, 2}, {2, 2, 2, 2}, {0, 0, 10, 10}, true},
        {{0, 0, 0, 0}, {3, 3, 1, 1}, {}, {3, 3, 1, 1}, false},  // the empty rectangle adds nothing
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.a.intersection(c.b), c.intersection) << toString(c.a) << " " << toString(c.b);
        EXPECT_EQ(c.a.unionWith(c.b), c.unionRect) << toString(c.a) << " " << toString(c.b);
        EXPECT_EQ(c.a.intersects(c.b), c.intersects) << toString(c.a) << " " << toString(c.b);
    }
    EXPECT_TRUE(r.contains(Point{10, 20}));
    EXPECT_FALSE(r.contains(Point{40, 20})) << "the maximum edge is outside";
    EXPECT_EQ(Rect(0.5, 1.25, 2, 2).integral(), Rect(0, 1, 3, 3));
    EXPECT_EQ(r.insetBy(5, 10), Rect(15, 30, 20, 20));
    EXPECT_EQ(r.insetBy(20, 0), Rect()) << "insetting past empty gives the null-sized rectangle";
    EXPECT_EQ(r.inset(EdgeInsets{1, 2, 3, 4}), Rect(12, 21, 24, 36));
    EXPECT_EQ(toString(Rect(1.5, -2, 3, 4)), "{{1.5, -2}, {3, 4}}");
}

TEST(Geometry, TransformsComposeInDrawingOrder) {
    const double pi = std::numbers::pi;
    // Translating then rotating a context: the rotation acts on coordinates first.
    const AffineTransform t = AffineTransform::identity().translated(10, 0).rotated(pi / 2);
    expectNear(t.apply(Point{1, 0}), Point{10, 1});
    const AffineTransform s = AffineTransform::scale(2, 3);
    expectNear(s.concat(AffineTransform::translation(5, 5)).apply(Point{1, 1}), Point{7, 8});
    expectNear(AffineTransform::translation(5, 5).concat(s).apply(Point{1, 1}), Point{12, 18});
    for (const AffineTransform& m : {t, s, AffineTransform{1, 2, 3, 4, 5, 6}, AffineTransform::rotation(0.3)}) {
        ASSERT_TRUE(m.invertible());
        const AffineTransform back = m.concat(m.inverted());
        expectNear(back.apply(Point{3, -7}), Point{3, -7});
    }
    EXPECT_FALSE(AffineTransform::scale(0, 1).invertible());
    EXPECT_EQ(AffineTransform::scale(0, 1).inverted(), AffineTransform::scale(0, 1));
    const Rect box = AffineTransform::rotation(pi / 4).apply(Rect{0, 0, 2, 2});
    EXPECT_NEAR(box.width(), 2 * std::sqrt(2.0), 1e-9);
    EXPECT_NEAR(box.minX(), -std::sqrt(2.0), 1e-9);
}

TEST(Color, ComponentsByColourSpaceModel) {
    const Color grey = Color::white(0.25, 0.5);
    EXPECT_EQ(grey.model(), ColorSpaceModel::monochrome);
    EXPECT_EQ(grey.whiteComponents(), std::make_pair(0.25, 0.5));
    EXPECT_EQ(grey.rgbaComponents(), (RGBA{0.25, 0.25, 0.25, 0.5})) << "a grey spreads to red, green and blue";
    const Color blue = Color::rgb(0.216, 0.373, 0.965);
    EXPECT_EQ(blue.model(), ColorSpaceModel::rgb);
    EXPECT_FALSE(blue.whiteComponents());
    EXPECT_EQ(blue.rgbaComponents(), (RGBA{0.216, 0.373, 0.965, 1}));
    const auto tile = Image::fromBitmap(Bitmap::make(2, 2).value());
    const Color pattern = Color::pattern(tile);
    EXPECT_EQ(pattern.model(), ColorSpaceModel::pattern);
    EXPECT_FALSE(pattern.rgbaComponents()) << "a pattern has no components to read";
    EXPECT_EQ(pattern.rgbaFor(UserInterfaceStyle::light), (RGBA{1, 1, 1, 1}));
    EXPECT_EQ(pattern, Color::pattern(tile));
    EXPECT_NE(pattern, Color::pattern(Image::fromBitmap(Bitmap::make(2, 2).value())));
    EXPECT_EQ(Color::rgb(2, -1, 0.5, 7).rgbaComponents(), (RGBA{1, 0, 0.5, 1})) << "components are clamped";
    EXPECT_EQ(Color::rgb(1, 0, 0).withAlphaComponent(0.3).alpha(), 0.3);
}

TEST(Color, DynamicColoursResolveByAppearance) {
    const Color label = Color::label();
    ASSERT_TRUE(label.isDynamic());
    EXPECT_EQ(label.resolved(UserInterfaceStyle::light), Color::black());
    EXPECT_EQ(label.resolved(UserInterfaceStyle::dark), Color::whiteColor());
    EXPECT_EQ(label.resolved(UserInterfaceStyle::unspecified), Color::black());
    const Color faded = label.withAlphaComponent(0.5);
    EXPECT_EQ(faded.rgbaFor(UserInterfaceStyle::dark), (RGBA{1, 1, 1, 0.5}));
    // Nested dynamic colours resolve to the variant of the same appearance.
    const Color nested = Color::dynamic(Color::systemBackground(), Color::systemRed());
    EXPECT_EQ(nested.resolved(UserInterfaceStyle::light), Color::whiteColor());
    EXPECT_EQ(nested.resolved(UserInterfaceStyle::dark), Color::systemRed().resolved(UserInterfaceStyle::dark));
    // Every system colour reads in both appearances, and the backgrounds and labels keep contrast.
    for (const char* name : {"label", "secondaryLabel", "systemBackground", "systemGroupedBackground", "systemBlue",
                             "systemGray", "systemGray4", "groupTableViewBackground", "lightGray"}) {
        auto c = Color::named(name);
        ASSERT_TRUE(c) << name;
        EXPECT_TRUE(c->rgbaComponents()) << name;
    }
    EXPECT_FALSE(Color::named("systemPurpleish"));
    auto lum = [](const Color& c, UserInterfaceStyle s) {
        const RGBA v = c.rgbaFor(s);
        return 0.2126 * v.red + 0.7152 * v.green + 0.0722 * v.blue;
    };
    for (UserInterfaceStyle s : {UserInterfaceStyle::light, UserInterfaceStyle::dark}) {
        EXPECT_GT(std::abs(lum(Color::label(), s) - lum(Color::systemBackground(), s)), 0.9);
        EXPECT_GT(std::abs(lum(Color::label(), s) - lum(Color::systemGroupedBackground(), s)), 0.85);
    }
}

TEST(Font, PreferredSizesAndFaces) {
    // The size table at the default text size, and its order: every style grows with the category.
    EXPECT_EQ(Font::preferred(TextStyle::body, ContentSizeCategory::large).pointSize(), 17);
    EXPECT_EQ(Font::preferred(TextStyle::footnote, ContentSizeCategory::large).pointSize(), 13);
    EXPECT_EQ(Font::preferred(TextStyle::headline, ContentSizeCategory::large).weight(), FontWeight::semibold);
    for (int style = 0; style <= static_cast<int>(TextStyle::caption2); ++style) {
        for (int c = 1; c <= static_cast<int>(ContentSizeCategory::accessibilityExtraExtraExtraLarge); ++c) {
            EXPECT_LE(preferredPointSize(TextStyle(style), ContentSizeCategory(c - 1)),
                      preferredPointSize(TextStyle(style), ContentSizeCategory(c)));
        }
    }
    auto thin = Font::named("HelveticaNeue-Thin", 35);
    ASSERT_TRUE(thin);
    EXPECT_STREQ(thin->face(), "ExtraLight");
    EXPECT_STREQ(Font::named("HelveticaNeue-Bold", 18)->face(), "Bold");
    EXPECT_STREQ(Font::system(10, FontWeight::ultraLight).face(), "ExtraLight");
    EXPECT_STREQ(Font::italicSystem(10).face(), "Oblique");
    EXPECT_TRUE(Font::named("HelveticaNeue-Bold", 18)->traits().bold);
    EXPECT_FALSE(Font::named("Comic", 12));
    const Font italic = Font::system(13).withTraits({.italic = true});
    EXPECT_TRUE(italic.italic());
    EXPECT_FALSE(italic.traits().bold);
    EXPECT_EQ(Font::system(13).withTraits({.bold = true}).weight(), FontWeight::bold);
}
