#include "platform/toolkit/renderer.h"

#include <gtest/gtest.h>

#include <numbers>
#include <optional>
#include <vector>

#include "platform/foundation/files.h"
#include "platform/graphics/codecs.h"
#include "platform/graphics/graphics_context.h"
#include "platform/graphics/resampled_pieces.h"
#include "platform/toolkit/controls.h"
#include "platform/toolkit/font_text_measurer.h"
#include "platform/toolkit/window.h"
#include "tests/platform/toolkit/snapshot_support.h"

using namespace toolkit;
using RGBA8 = std::array<uint8_t, 4>;

namespace {

const RGBA8 kRed{255, 0, 0, 255}, kBlue{0, 0, 255, 255}, kClear{0, 0, 0, 0};

using toolkit_snapshots::box;

RGBA8 pixelAt(const graphics::Bitmap& b, int x, int y) { return b.rgbaAt(x, y); }

using toolkit_snapshots::UsingFonts;

}  // namespace

TEST(Renderer, PlacesSubviewsByCenterTransformAndAnchor) {
    auto root = View::make(Rect(0, 0, 100, 100));
    auto bar = box(Rect(40, 45, 20, 10), Color::red());  // centre (50, 50)
    bar->setTransform(graphics::AffineTransform::rotation(std::numbers::pi / 2));
    root->addSubview(bar);
    auto pixels = snapshot(*root, 1);
    ASSERT_TRUE(pixels);
    EXPECT_EQ(pixelAt(*pixels, 50, 41), kRed) << "turned about its centre: now 10 wide and 20 tall";
    EXPECT_EQ(pixelAt(*pixels, 42, 50), kClear);
    // About the top left corner instead: the bar swings down and to the left of its corner.
    auto pinned = box(Rect(0, 0, 20, 10), Color::blue());
    pinned->setAnchorPoint({0, 0});
    pinned->setCenter({60, 20});
    pinned->setTransform(graphics::AffineTransform::rotation(std::numbers::pi / 2));
    root->addSubview(pinned);
    pixels = snapshot(*root, 1);
    EXPECT_EQ(pixelAt(*pixels, 55, 30), kBlue);
    EXPECT_EQ(pixelAt(*pixels, 65, 25), kClear);
    // A scrolled parent (bounds origin moved) shows its content moved up.
    auto scroller = View::make(Rect(0, 0, 50, 50));
    scroller->addSubview(box(Rect(0, 20, 50, 10), Color::red()));
    scroller->setBounds(Rect(0, 20, 50, 50));
    pixels = snapshot(*scroller, 1);
    EXPECT_EQ(pixelAt(*pixels, 5, 5), kRed);
    EXPECT_EQ(pixelAt(*pixels, 5, 25), kClear);
}

TEST(Renderer, ClipsToRoundedBoundsFadesGroupsAndDrawsBordersOnTop) {
    auto root = View::make(Rect(0, 0, 60, 60));
    auto card = box(Rect(0, 0, 60, 60), Color::whiteColor());
    card->layer().cornerRadius = 20;
    card->setClipsToBounds(true);
    card->addSubview(box(Rect(0, 0, 60, 60), Color::red()));
    card->layer().borderWidth = 2;
    card->layer().borderColor = Color::blue();
    root->addSubview(card);
    auto pixels = snapshot(*root, 1);
    EXPECT_EQ(pixelAt(*pixels, 1, 1)[3], 0) << "the child is cut at the rounded corner";
    EXPECT_EQ(pixelAt(*pixels, 30, 30), kRed);
    EXPECT_EQ(pixelAt(*pixels, 30, 0), kBlue) << "the border over the subview";

    // Group alpha: overlapping opaque children of a half-transparent parent stay even.
    auto faded = View::make(Rect(0, 0, 30, 10));
    faded->setAlpha(0.5);
    faded->addSubview(box(Rect(0, 0, 20, 10), Color::red()));
    faded->addSubview(box(Rect(10, 0, 20, 10), Color::red()));
    auto holder = View::make(Rect(0, 0, 30, 10));
    holder->addSubview(faded);
    pixels = snapshot(*holder, 1);
    EXPECT_EQ(pixelAt(*pixels, 5, 5)[3], pixelAt(*pixels, 15, 5)[3]);
    EXPECT_NEAR(pixelAt(*pixels, 15, 5)[3], 128, 1);
    // Hidden and fully transparent views are not drawn.
    faded->setHidden(true);
    EXPECT_EQ(pixelAt(*snapshot(*holder, 1), 5, 5), kClear);
    faded->setHidden(false);
    faded->setAlpha(0);
    EXPECT_EQ(pixelAt(*snapshot(*holder, 1), 5, 5), kClear);
}

TEST(Renderer, DynamicColoursFollowTheWindowsAppearance) {
    Window window(ScreenProfile::iPhone8());
    auto v = box(Rect(0, 0, 10, 10), Color::systemBackground());
    window.addSubview(v);
    EXPECT_EQ(pixelAt(*snapshot(*v, 1), 5, 5), (RGBA8{255, 255, 255, 255}));
    window.setInterfaceStyle(InterfaceStyle::dark);
    EXPECT_EQ(pixelAt(*snapshot(*v, 1), 5, 5), (RGBA8{0, 0, 0, 255}));
    EXPECT_EQ(snapshot(*v)->width(), 20) << "the window's screen scale";
}

TEST(Renderer, GoldenComparisonWritesActualAndDifferenceOnAMismatch) {
    hxtest::TempDir dir;
    auto a = graphics::Bitmap::make(40, 30).value();
    auto b = a->copy();
    for (int x = 0; x < 10; ++x) b->setRGBA(x, 0, 255, 0, 0, 255);
    ASSERT_TRUE(foundation::files::writeAtomically(dir / "g.png", graphics::encodePNG(*a).value()).ok());
    EXPECT_TRUE(compareWithGolden(*a, dir / "g.png", dir / "out").matches);
    const SnapshotComparison c = compareWithGolden(*b, dir / "g.png", dir / "out");
    EXPECT_FALSE(c.matches);
    EXPECT_NE(c.message.find("10 of 1200 pixels differ"), std::string::npos) << c.message;
    EXPECT_TRUE(std::filesystem::exists(dir / "out" / "g.actual.png"));
    EXPECT_TRUE(std::filesystem::exists(dir / "out" / "g.diff.png"));
    EXPECT_FALSE(compareWithGolden(*b, dir / "missing.png", dir / "out").matches);
    setenv("HX_UPDATE_GOLDENS", "1", 1);
    EXPECT_TRUE(compareWithGolden(*b, dir / "g.png", dir / "out").matches);
    unsetenv("HX_UPDATE_GOLDENS");
    EXPECT_TRUE(compareWithGolden(*b, dir / "g.png", dir / "out").matches) << "rewritten";
}

namespace {

// Every control of the toolkit on one panel.
std::shared_ptr<View> gallery() {
    auto panel = View::make(Rect(0, 0, 220, 250));
    panel->setBackgroundColor(Color::systemGroupedBackground());
    auto title = std::make_shared<Label>(Rect(10, 8, 200, 22));
    title->setFont(Font::boldSystem(17));
    title->setTextColor(Color::label());
    title->setText("Settings");
    panel->addSubview(title);
    auto detail = std::make_shared<Label>(Rect(10, 30, 200, 34));
    detail->setFont(Font::system(13));
    detail->setTextColor(Color::secondaryLabel());
    detail->setNumberOfLines(2);
    detail->setText("Calls and messages are forwarded to the phones you choose below.");
    panel->addSubview(detail);
    auto on = std::make_shared<Switch>();
    on->setFrame(Rect(10, 70, 51, 31));
    on->setOn(true);
    panel->addSubview(on);
    auto off = std::make_shared<Switch>();
    off->setFrame(Rect(70, 70, 51, 31));
    panel->addSubview(off);
    auto spinner = std::make_shared<ActivityIndicatorView>(ActivityIndicatorStyle::Gray);
    spinner->setFrame(Rect(140, 75, 20, 20));
    spinner->startAnimating();
    panel->addSubview(spinner);
    auto slider = std::make_shared<Slider>();
    slider->setFrame(Rect(10, 110, 200, 30));
    slider->setValue(0.3);
    panel->addSubview(slider);
    auto progress = std::make_shared<ProgressView>();
    progress->setFrame(Rect(10, 148, 200, 4));
    progress->setProgress(0.6);
    panel->addSubview(progress);
    auto button = std::make_shared<Button>(ButtonType::System);
    button->setFrame(Rect(10, 160, 90, 30));
    button->setTitle("Send", 0);
    panel->addSubview(button);
    auto filled = std::make_shared<Button>(ButtonType::Custom);
    filled->setFrame(Rect(110, 160, 100, 30));
    filled->setTitle("Call", 0);
    filled->setTitleColor(Color::whiteColor(), 0);
    filled->setBackgroundColor(Color::systemBlue());
    filled->layer().cornerRadius = 8;
    panel->addSubview(filled);
    auto dot = graphics::Bitmap::make(16, 16).value();
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            if ((x - 7.5) * (x - 7.5) + (y - 7.5) * (y - 7.5) < 49) dot->setRGBA(x, y, 0, 0, 0, 255);
        }
    }
    auto icon =
        std::make_shared<ImageView>(Image::fromBitmap(dot, 1)->withRenderingMode(RenderingMode::alwaysTemplate));
    icon->setFrame(Rect(10, 200, 24, 24));
    icon->setContentMode(ContentMode::Center);
    panel->addSubview(icon);
    auto card = View::make(Rect(50, 198, 150, 40));
    card->setBackgroundColor(Color::secondarySystemGroupedBackground());
    card->layer().cornerRadius = 10;
    card->layer().borderWidth = 1;
    card->layer().borderColor = Color::separator();
    card->layer().shadowOpacity = 0.3;
    card->layer().shadowOffset = {0, 2};
    panel->addSubview(card);
    return panel;
}

}  // namespace

TEST(Renderer, GalleryOfControlsInLightAndDarkAtEachScale) {
    UsingFonts fonts;
    for (InterfaceStyle style : {InterfaceStyle::light, InterfaceStyle::dark}) {
        Window window(ScreenProfile::iPhone8());
        window.setInterfaceStyle(style);
        auto panel = gallery();
        window.addSubview(panel);
        for (double scale : {1.0, 2.0, 3.0}) {
            auto pixels = snapshot(*panel, scale);
            ASSERT_TRUE(pixels);
            EXPECT_EQ(pixels->width(), static_cast<int>(220 * scale));
            hxtest::expectSnapshot(*pixels, "gallery_" + std::to_string(static_cast<int>(scale)) + "x_" +
                                                (style == InterfaceStyle::dark ? "dark" : "light"));
        }
    }
}

// A background under opaque subviews is not painted when they hide every pixel of it; wherever
// any of it would show (an edge off the pixel grid, a gap, a fade, a round corner, a tilt, a
// rounded clip around it) the picture must be the one it makes when painted. The oracle paints
// the same background as a separate view below the subviews, which nothing hides from itself.
TEST(Renderer, BackgroundsHiddenByOpaqueSubviewsLeaveThePictureAsPainted) {
    struct Sub {
        Rect frame;
        double alpha = 1, radius = 0, turn = 0;
        std::optional<Color> colour = std::nullopt;
        bool clips = false;
    };
    struct Case {
        const char* name;
        double scale;
        std::vector<Sub> subs;
        double clipRadius = 0;
        // A pixel where the background must show through (blended in), or none.
        std::optional<std::pair<int, int>> showsAt;
    };
    const std::vector<Case> cases{
        {"rows meeting on whole pixels", 2, {{Rect(0, 0, 100, 30.5)}, {Rect(0, 30.5, 100, 29.5)}}},
        {"rows meeting within a pixel", 1, {{Rect(0, 0, 100, 30.5)}, {Rect(0, 30.5, 100, 29.5)}}, 0, {{5, 30}}},
        {"columns and a row", 1, {{Rect(0, 0, 50, 40)}, {Rect(50, 0, 50, 40)}, {Rect(-5, 40, 110, 25)}}},
        {"a gap between rows", 1, {{Rect(0, 0, 100, 29)}, {Rect(0, 30, 100, 30)}}, 0, {{5, 29}}},
        {"a half-transparent cover", 1, {{Rect(0, 0, 100, 60), 0.5}}, 0, {{50, 30}}},
        {"a cover with round corners", 1, {{Rect(0, 0, 100, 60), 1, 8}}, 0, {{0, 0}}},
        {"a tilted cover", 1, {{Rect(0, 0, 100, 60), 1, 0, 0.3}}, 0, {{0, 0}}},
        {"a cover inside a rounded clip", 2, {{Rect(0, 0, 100, 60)}}, 12, {{2, 12}}},
        // Partly covered: the background shows below the cover and under a see-through one.
        {"a cover over the top", 2, {{Rect(0, 0, 100, 40.5)}}, 0, {{5, 100}}},
        {"a cover of the background's colour", 2, {{Rect(0, 0, 100, 40), 1, 0, 0, Color::red(), true}}, 0, {{5, 100}}},
        {"a see-through bar under a cover", 2, {{Rect(0, 0, 60, 60)}, {Rect(0, 40, 100, 20), 0.5}}, 0, {{150, 100}}},
    };
    const Color under = Color::red();
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        auto picture = [&](bool backed) {
            auto root = View::make(Rect(0, 0, 100, 60));
            if (backed)
                root->addSubview(box(root->bounds(), under));
            else
                root->setBackgroundColor(under);
            int n = 0;
            for (const Sub& s : k.subs) {
                auto v = box(s.frame, s.colour.value_or(++n % 2 ? Color::blue() : Color::green()));
                v->setAlpha(s.alpha);
                v->setClipsToBounds(s.clips);
                v->layer().cornerRadius = s.radius;
                if (s.turn != 0) v->setTransform(graphics::AffineTransform::rotation(s.turn));
                root->addSubview(v);
            }
            auto frame = View::make(Rect(0, 0, 100, 60));
            frame->layer().cornerRadius = k.clipRadius;
            frame->setClipsToBounds(k.clipRadius > 0);
            frame->addSubview(root);
            return snapshot(*frame, k.scale);
        };
        const auto painted = picture(true), drawn = picture(false);
        ASSERT_TRUE(painted && drawn);
        const graphics::BitmapComparison same = graphics::compareBitmaps(*drawn, *painted, 0);
        EXPECT_TRUE(same.sameSize);
        EXPECT_EQ(same.differingPixels, 0);
        if (k.showsAt) {
            EXPECT_GT(pixelAt(*drawn, k.showsAt->first, k.showsAt->second)[0], 0) << "the background shows";
        }
    }
}

TEST(Renderer, ASeeThroughBubbleOnItsRowsPlainColourIsCopiedAsBlendingItGives) {
    // A conversation row: a cell of a plain colour, its background view holding the bubble, a
    // stretched picture in a tint, faded as a whole. The bubble is drawn from a copy composed over
    // the row's colour where that colour is known to lie under all of it: the pixels must be those
    // blending its pieces there gives (the oracle: no picture kept whole), in every case.
    auto bits = graphics::Bitmap::make(12, 10).value();
    for (int y = 0; y < 10; ++y) {
        for (int x = 0; x < 12; ++x) {
            const int edge = std::min({x, y, 11 - x, 9 - y});
            bits->setRGBA(x, y, 0, 0, 0, static_cast<uint8_t>(edge == 0 ? 60 : edge == 1 ? 180 : 255));
        }
    }
    const ImagePtr bubble = graphics::Image::fromBitmap(bits, 2)
                                ->resizableWithCapInsets({2, 3, 2, 3})
                                ->withRenderingMode(graphics::RenderingMode::alwaysTemplate);
    const Color row = Color::dynamic(Color::rgb(0.94, 0.94, 0.96), Color::rgb(0.08, 0.08, 0.1));
    struct Case {
        const char* name;
        bool dark = false;
        bool selected = false;
        bool coveredFirst = false;
        std::optional<Color> rowColour = std::nullopt;
        bool copied = true;
    };
    const Case cases[] = {
        {"light"},
        {"dark", true},
        {"a selected row (its grey lies under the bubble)", false, true, false, std::nullopt, false},
        {"a view drawn over the row's colour first", false, false, true, std::nullopt, false},
        {"a see-through row", false, false, false, Color::rgb(0.9, 0.9, 0.9, 0.5), false},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        auto picture = [&](bool whole) {
            graphics::forgetWholePictures();
            graphics::setDrawsWholePictures(whole);
            auto cell = std::make_shared<TableViewCell>(TableViewCellStyle::Default, "row");
            cell->setFrame({0, 0, 120, 50});
            cell->setBackgroundColor(k.rowColour.value_or(row));
            cell->setSelectionStyle(CellSelectionStyle::Default);
            cell->setSelected(k.selected);
            auto holder = View::make(Rect(0, 0, 120, 50));
            if (k.coveredFirst) holder->addSubview(box(Rect(20, 10, 30, 20), Color::green()));
            auto view = std::make_shared<ImageView>(bubble);
            view->setFrame({10.5, 6, 71, 31});
            view->setTintColor(Color::systemBlue());
            view->setAlpha(0.7);
            holder->addSubview(view);
            cell->setBackgroundView(holder);
            cell->layoutIfNeeded();
            auto window = View::make(Rect(0, 0, 120, 50));
            window->addSubview(cell);
            auto c = graphics::GraphicsContext::image({120, 50}, false, 2).value();
            c->setUserInterfaceStyle(k.dark ? graphics::UserInterfaceStyle::dark : graphics::UserInterfaceStyle::light);
            renderView(*window, *c);
            graphics::setDrawsWholePictures(true);
            return graphics::GraphicsContext::finishBitmap(std::move(c));
        };
        const auto oracle = picture(false);
        const uint64_t copies = graphics::opaqueCopiesDrawn();
        const auto shown = picture(true);
        ASSERT_TRUE(oracle && shown);
        EXPECT_EQ(graphics::opaqueCopiesDrawn() - copies, k.copied ? 1u : 0u);
        EXPECT_EQ(graphics::compareBitmaps(*shown, *oracle, 0).differingPixels, 0);
    }
}

// A conversation row's date line: a label of the row's colour in the row's content view, after
// the background view that holds the bubble. Where the label shares no pixel with the bubble it
// lies on the row's colour and its background changes nothing; where an antialiased edge of the
// bubble reaches one of its pixels it must still be painted there. The oracle holds the bubble in
// a view of a class of its own, which tells the renderer nothing of where it draws.
TEST(Renderer, ALabelBesideTheBubbleHeldInItsRowIsDrawnAsOverItsOwnBackground) {
    class OpaqueHolder : public View {
    public:
        using View::View;
    };
    auto bits = graphics::Bitmap::make(12, 10).value();
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 12; ++x) bits->setRGBA(x, y, 0, 0, 0, static_cast<uint8_t>(x == 0 || y == 0 ? 90 : 255));
    const ImagePtr bubble = graphics::Image::fromBitmap(bits, 2)
                                ->resizableWithCapInsets({2, 3, 2, 3})
                                ->withRenderingMode(graphics::RenderingMode::alwaysTemplate);
    const Color row = Color::rgb(0.94, 0.94, 0.96);
    // How far below the label's bottom edge the bubble starts (negative: they overlap).
    const double gaps[] = {-0.5, 0, 0.2, 1.0 / 3, 0.5, 1, 2};
    for (double scale : {1.0, 2.0, 3.0}) {
        for (double gap : gaps) {
            SCOPED_TRACE(::testing::Message() << "scale " << scale << ", gap " << gap);
            auto picture = [&](bool told) {
                auto cell = std::make_shared<TableViewCell>(TableViewCellStyle::Default, "row");
                cell->setFrame({0, 0, 120, 60});
                cell->setBackgroundColor(row);
                cell->setSelectionStyle(CellSelectionStyle::None);
                auto holder =
                    told ? View::make(Rect(0, 0, 120, 60)) : std::make_shared<OpaqueHolder>(Rect(0, 0, 120, 60));
                auto view = std::make_shared<ImageView>(bubble);
                view->setFrame({10.25, 17.3 + gap, 71, 31});
                view->setTintColor(Color::systemBlue());
                view->setAlpha(0.7);
                holder->addSubview(view);
                cell->setBackgroundView(holder);
                auto label = std::make_shared<Label>();
                label->setText("Today, 2:48 PM");
                label->setTextColor(Color::secondaryLabel());
                label->setBackgroundColor(row);
                cell->contentView().addSubview(label);
                cell->layoutIfNeeded();
                label->setFrame({6.5, 3.1, 100, 14.2});
                auto window = View::make(Rect(0, 0, 120, 60));
                window->addSubview(cell);
                auto c = graphics::GraphicsContext::image({120, 60}, false, scale).value();
                renderView(*window, *c);
                return graphics::GraphicsContext::finishBitmap(std::move(c));
            };
            const auto oracle = picture(false), shown = picture(true);
            ASSERT_TRUE(oracle && shown);
            EXPECT_EQ(graphics::compareBitmaps(*shown, *oracle, 0).differingPixels, 0);
        }
    }
}
