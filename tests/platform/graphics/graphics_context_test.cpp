#include "platform/graphics/graphics_context.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>
#include <thread>
#include <utility>
#include <vector>

#include "platform/graphics/codecs.h"
#include "platform/graphics/resampled_pieces.h"
#include "platform/graphics/screen_scale.h"
#include "tests/platform/graphics/pil.h"
#include "tests/support/pixels.h"

using namespace graphics;
using RGBA8 = std::array<uint8_t, 4>;

namespace {

std::unique_ptr<GraphicsContext> context(double w, double h, double scale = 1) {
    return std::move(GraphicsContext::image({w, h}, false, scale).value());
}

RGBA8 at(const GraphicsContext& c, int x, int y) { return c.pixels().rgbaAt(x, y); }

const RGBA8 kClear{0, 0, 0, 0};
using hxtest::kBlue;
using hxtest::kRed;

// A small picture with a distinct colour in every pixel.
std::shared_ptr<Bitmap> distinct(int w, int h) {
    auto b = Bitmap::make(w, h).value();
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x)
            b->setRGBA(x, y, static_cast<uint8_t>(40 * x + 10), static_cast<uint8_t>(60 * y + 5), 99, 255);
    }
    return b;
}

// A picture drawn into a rectangle of a canvas, and how.
struct PictureDrawing {
    ImagePtr image;
    Size size{23, 11};
    double scale = 2;
    UserInterfaceStyle style = UserInterfaceStyle::light;
    double alpha = 1;
    // Through a clip of the rectangle with round ends.
    bool round = false;
};

}  // namespace

TEST(GraphicsContext, ImageContextsHaveTheirPixelSizeAndScale) {
    setMainScreenScale(3);
    struct Case {
        Size size;
        double scale;
        int pw, ph;
        double imageScale;
    } cases[] = {{{10.5, 3}, 2, 21, 6, 2}, {{10.5, 3}, 3, 32, 9, 3}, {{1, 1}, 0, 3, 3, 3}, {{0.1, 0.1}, 1, 1, 1, 1}};
    for (const Case& c : cases) {
        auto ctx = context(c.size.width, c.size.height, c.scale);
        EXPECT_EQ(ctx->pixelWidth(), c.pw);
        EXPECT_EQ(ctx->pixelHeight(), c.ph);
        auto image = ctx->makeImage();
        EXPECT_EQ(image->scale(), c.imageScale);
        EXPECT_EQ(image->pixelWidth(), c.pw);
    }
    setMainScreenScale(2);
    EXPECT_FALSE(GraphicsContext::image({0, 5}, false, 1).ok());
    auto opaque = GraphicsContext::image({2, 2}, true, 1);
    ASSERT_TRUE(opaque.ok());
    EXPECT_EQ(at(**opaque, 1, 1), (RGBA8{0, 0, 0, 255})) << "opaque contexts start black";
}

// A finished context hands its pixels over instead of copying them: the same buffer, with what
// was drawn last (a stroke cairo still held is flushed), at the context's scale.
TEST(GraphicsContext, AFinishedContextHandsItsPixelsOverWithoutACopy) {
    auto c = context(8, 6, 2);
    c->setFillColor(Color::red());
    c->fillRect({1, 1, 2, 2});
    c->setStrokeColor(Color::blue());
    c->setLineWidth(1);
    c->strokeRect({4.25, 0.25, 3.5, 5.5});
    const auto expected = c->copyBitmap();
    const uint32_t* drawnInto = c->pixels().row(0);
    auto bitmap = GraphicsContext::finishBitmap(std::move(c));
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(bitmap->row(0), drawnInto);
    ASSERT_EQ(bitmap->width(), 16);
    ASSERT_EQ(bitmap->height(), 12);
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 16; ++x) ASSERT_EQ(bitmap->rgbaAt(x, y), expected->rgbaAt(x, y)) << x << "," << y;
    EXPECT_EQ(bitmap->rgbaAt(3, 3), kRed);

    auto image = GraphicsContext::finishImage(context(3, 2, 3));
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->scale(), 3);
    EXPECT_EQ(image->pixelWidth(), 9);
    EXPECT_EQ(GraphicsContext::finishBitmap(nullptr), nullptr);
}

TEST(GraphicsContext, FillsClipsAndTransformsLandOnThePixelsExpected) {
    auto c = context(10, 10, 2);
    c->setFillColor(Color::red());
    c->fillRect({1, 1, 2, 2});  // pixels 2..5
    EXPECT_EQ(at(*c, 2, 2), kRed);
    EXPECT_EQ(at(*c, 5, 5), kRed);
    EXPECT_EQ(at(*c, 6, 6), kClear);
    EXPECT_EQ(at(*c, 1, 1), kClear);

    c->save();
    c->clipToRect({5, 0, 5, 10});
    c->setFillColor(Color::blue());
    c->fillRect({0, 8, 10, 2});
    c->restore();
    EXPECT_EQ(at(*c, 9, 17), kClear) << "clipped away";
    EXPECT_EQ(at(*c, 11, 17), kBlue);
    c->fillRect({0, 0, 1, 1});
    EXPECT_EQ(at(*c, 0, 0), kRed) << "restore brings back the fill colour and the clip";

    // Turn a quarter about the origin after moving right: (x, y) lands at (tx - y, x).
    auto t = context(10, 10);
    t->translate(10, 0);
    t->rotate(std::numbers::pi / 2);
    t->setFillColor(Color::blue());
    t->fillRect({0, 0, 4, 2});
    EXPECT_EQ(at(*t, 9, 0), kBlue);
    EXPECT_EQ(at(*t, 8, 3), kBlue);
    EXPECT_EQ(at(*t, 7, 3), kClear);
    EXPECT_EQ(at(*t, 8, 4), kClear);
    EXPECT_NEAR(t->ctm().apply(Point{1, 0}).y, 1, 1e-9);

    // Even-odd leaves the hole of a ring; winding fills it.
    for (FillRule rule : {FillRule::evenOdd, FillRule::winding}) {
        auto r = context(10, 10);
        r->addRect({0, 0, 10, 10});
        r->addRect({3, 3, 4, 4});
        r->fillPath(rule);
        EXPECT_EQ(at(*r, 5, 5)[3], rule == FillRule::evenOdd ? 0 : 255);
        EXPECT_EQ(at(*r, 1, 1)[3], 255);
    }
}

TEST(GraphicsContext, DashesAndCaps) {
    auto c = context(20, 4);
    c->setStrokeColor(Color::black());
    c->setLineWidth(2);
    c->setLineDash(1, {4, 2});  // starts one unit into the first dash
    c->moveTo({0, 2});
    c->lineTo({20, 2});
    c->strokePath();
    std::string pattern;
    for (int x = 0; x < 20; ++x) pattern += at(*c, x, 1)[3] == 255 ? '#' : at(*c, x, 1)[3] == 0 ? '.' : '?';
    EXPECT_EQ(pattern, "###..####..####..###");
    // A zero-length dash table draws a solid line rather than failing.
    auto solid = context(10, 4);
    solid->setLineWidth(2);
    solid->setLineDash(0, {0, 0});
    solid->moveTo({0, 2});
    solid->lineTo({10, 2});
    solid->strokePath();
    EXPECT_EQ(at(*solid, 5, 1)[3], 255);
    // Round caps reach half the width past the ends; butt caps do not.
    for (LineCap cap : {LineCap::butt, LineCap::round, LineCap::square}) {
        auto k = context(20, 10);
        k->setLineWidth(6);
        k->setLineCap(cap);
        k->moveTo({6, 5});
        k->lineTo({14, 5});
        k->strokePath();
        EXPECT_EQ(at(*k, 4, 5)[3] > 0, cap != LineCap::butt);
        EXPECT_EQ(at(*k, 3, 2)[3] > 128, cap == LineCap::square) << "the square cap fills the corner";
    }
}

TEST(GraphicsContext, GradientsStopAtTheirEndsUnlessAsked) {
    auto c = context(4, 100);
    c->drawLinearGradient({{Color::red(), Color::blue()}, {}}, {0, 20}, {0, 80});
    EXPECT_EQ(at(*c, 1, 10), kClear);
    EXPECT_EQ(at(*c, 1, 90), kClear);
    const RGBA8 mid = at(*c, 1, 50);
    EXPECT_NEAR(mid[0], 128, 4);
    EXPECT_NEAR(mid[2], 128, 4);
    EXPECT_EQ(mid[3], 255);
    auto after = context(4, 100);
    after->drawLinearGradient({{Color::red(), Color::blue()}, {0, 1}}, {0, 20}, {0, 80}, false, true);
    EXPECT_EQ(at(*after, 1, 10), kClear);
    EXPECT_EQ(at(*after, 1, 90), kBlue);
    auto both = context(4, 100);
    both->drawLinearGradient({{Color::red(), Color::blue()}, {0, 1}}, {0, 20}, {0, 80}, true, true);
    EXPECT_EQ(at(*both, 1, 10), kRed);
    // Stops at 0 and 0.95: solid past 95 %.
    auto stops = context(4, 100);
    stops->drawLinearGradient({{Color::red(), Color::blue()}, {0, 0.95}}, {0, 0}, {0, 100});
    EXPECT_EQ(at(*stops, 1, 97), kBlue);
}

TEST(GraphicsContext, ShadowsAreOffsetAndBlurred) {
    auto hard = context(20, 20, 2);
    hard->setShadow({3, 2}, 0, Color::black());
    hard->setFillColor(Color::red());
    hard->fillRect({2, 2, 5, 5});
    EXPECT_EQ(at(*hard, 4, 4), kRed);
    EXPECT_EQ(at(*hard, 15, 12), (RGBA8{0, 0, 0, 255})) << "the shadow, 6 and 4 pixels off at scale 2";
    EXPECT_EQ(at(*hard, 20, 15), kClear);
    EXPECT_EQ(at(*hard, 19, 17), (RGBA8{0, 0, 0, 255}));

    auto soft = context(40, 40);
    soft->setShadow({0, 0}, 8, Color::black());
    soft->setFillColor(Color::clear());
    soft->fillRect({15, 15, 10, 10});
    // A clear shape casts no shadow; an opaque one casts a soft edge that falls off outwards.
    EXPECT_EQ(at(*soft, 20, 20)[3], 0);
    soft->setFillColor(Color::whiteColor());
    soft->fillRect({15, 15, 10, 10});
    int last = 256;
    for (int x = 15; x >= 5; --x) {
        const int a = at(*soft, x, 20)[3];
        EXPECT_LE(a, last) << x;
        last = a;
    }
    EXPECT_GT(at(*soft, 13, 20)[3], 20);
    EXPECT_LT(at(*soft, 13, 20)[3], 235);
    EXPECT_EQ(at(*soft, 20, 20), (RGBA8{255, 255, 255, 255}));
    EXPECT_EQ(at(*soft, 13, 20)[3], at(*soft, 26, 20)[3]) << "symmetric";
}

TEST(GraphicsContext, AShadowIsTheSameInAScreenAsInItsOwnSmallPicture) {
    // A shadowed shape drawn in a corner of a tablet-sized canvas, at its edges (the blur runs
    // off the canvas) and in the middle, against the same shape alone in a picture just big
    // enough for it and its blur: the pixels agree wherever both canvases reach.
    struct Case {
        double x, y;
    } cases[] = {{700, 500}, {0, 0}, {760, 1010}, {-6, 300}};
    for (const Case& c : cases) {
        auto screen = context(768, 1024, 2);
        auto alone = context(140, 140, 2);
        for (auto* ctx : {screen.get(), alone.get()}) {
            ctx->save();
            if (ctx == alone.get()) ctx->translate(60 - c.x, 60 - c.y);
            ctx->setShadow({0, 2}, 12, Color::white(0, 0.18));
            ctx->beginTransparencyLayer();
            ctx->setFillColor(Color::whiteColor());
            ctx->addPath(Path::roundedRect({c.x, c.y, 20, 14}, 6));
            ctx->fillPath();
            ctx->endTransparencyLayer();
            ctx->restore();
        }
        int compared = 0, differing = 0;
        for (int y = 0; y < 280; ++y) {
            for (int x = 0; x < 280; ++x) {
                // The small picture's pixel (x, y) is the screen's (x + 2(c.x - 60), ...).
                const int sx = x + static_cast<int>(2 * (c.x - 60)), sy = y + static_cast<int>(2 * (c.y - 60));
                if (sx < 0 || sy < 0 || sx >= 1536 || sy >= 2048) continue;
                // Where the small picture's own edge cut the blur off, it may differ.
                if (x < 40 || y < 40 || x >= 240 || y >= 240) continue;
                ++compared;
                differing += at(*screen, sx, sy) != at(*alone, x, y);
            }
        }
        EXPECT_GT(compared, 1000) << c.x << "," << c.y;
        if (c.x >= 60 && c.y >= 60 && c.x <= 768 - 80 && c.y <= 1024 - 80) {
            EXPECT_EQ(differing, 0) << c.x << "," << c.y;
        }
        // Off the canvas' edge the screen's blur is cut off there, as the small one is not: only
        // the part within reach of the edge may differ.
        EXPECT_LT(differing, compared / 2) << c.x << "," << c.y;
        EXPECT_GT(at(*screen, std::clamp(static_cast<int>(2 * c.x) + 20, 0, 1535),
                     std::clamp(static_cast<int>(2 * c.y) + 14, 0, 2047))[3],
                  200)
            << "the shape itself";
    }
}

TEST(GraphicsContext, AShadowDrawnAgainIsTheSameAndAChangedOneIsNew) {
    // Frames of a window draw the same shadows over and over; a shape that moves by a pixel or
    // changes its corner casts its own shadow, not the one before.
    auto draw = [](double x, double radius) {
        auto c = context(200, 120, 2);
        c->setShadow({0, 3}, 10, Color::black());
        c->setFillColor(Color::whiteColor());
        c->addPath(Path::roundedRect({x, 30, 80, 50}, radius));
        c->fillPath();
        return c->pixels().copy();
    };
    auto differing = [](const Bitmap& a, const Bitmap& b) {
        int n = 0;
        for (int y = 0; y < a.height(); ++y)
            for (int x = 0; x < a.width(); ++x) n += a.rgbaAt(x, y) != b.rgbaAt(x, y);
        return n;
    };
    const auto first = draw(40, 8);
    const auto moved = draw(40.5, 8);
    const auto rounder = draw(40, 20);
    const auto again = draw(40, 8);
    EXPECT_EQ(differing(*first, *again), 0);
    EXPECT_GT(differing(*first, *moved), 100);
    EXPECT_GT(differing(*first, *rounder), 100);
    // The moved one is the first one a pixel to the right (at scale 2), shadow and all.
    int shifted = 0;
    for (int y = 0; y < 240; ++y)
        for (int x = 0; x + 1 < 400; ++x) shifted += first->rgbaAt(x, y) != moved->rgbaAt(x + 1, y);
    EXPECT_EQ(shifted, 0);
}

TEST(GraphicsContext, ALayerInKeptMemoryDrawsWhatTheLibrarysGroupDraws) {
    // Each case drawn over a striped background once through begin/end and once through
    // drawInLayer, one after another on this thread (so each kept layer follows a bigger or
    // different one): the pixels agree, shadow, alpha, blend mode and clip alike.
    struct Case {
        const char* name;
        std::vector<Rect> clips;  // intersected in turn; fractional ones are not whole pixels
        std::optional<double> blur;
        double alpha;
        BlendMode blend;
    } cases[] = {
        {"a wide layer, soft shadow", {{0, 0, 120, 60}}, 6, 1, BlendMode::normal},
        {"a small layer after it, hard shadow", {{20, 10, 30, 12}}, 0, 1, BlendMode::normal},
        {"no shadow, faded", {{10, 5, 90, 40}}, std::nullopt, 0.6, BlendMode::normal},
        {"a shadow, faded and multiplied", {{4, 4, 100, 50}}, 3, 0.7, BlendMode::multiply},
        {"two clips in turn", {{0, 0, 70, 60}, {30, 8, 80, 30}}, 2, 1, BlendMode::normal},
        {"a clip off whole pixels", {{10.25, 5.5, 60.3, 30.7}}, 2, 1, BlendMode::normal},
        {"nothing left of the clip", {{0, 0, 40, 40}, {60, 0, 20, 20}}, 2, 1, BlendMode::normal},
        {"the first again", {{0, 0, 120, 60}}, 6, 1, BlendMode::normal},
    };
    auto draw = [](GraphicsContext& c) {
        c.setFillColor(Color::rgb(0.9, 0.2, 0.1, 0.8));
        c.fillEllipse({15, 8, 70, 36});
        c.setStrokeColor(Color::systemBlue());
        c.setLineWidth(3);
        c.moveTo({5, 50});
        c.lineTo({110, 12});
        c.strokePath();
    };
    for (const Case& k : cases) {
        std::shared_ptr<Bitmap> pictures[2];
        for (int kept = 0; kept < 2; ++kept) {
            auto c = context(120, 60, 2);
            for (int stripe = 0; stripe < 6; ++stripe) {
                c->setFillColor(stripe % 2 ? Color::rgb(0.2, 0.6, 0.3) : Color::white(0.95));
                c->fillRect({stripe * 20.0, 0, 20, 60});
            }
            c->save();
            for (const Rect& clip : k.clips) c->clipToRect(clip);
            if (k.blur) c->setShadow({2, 3}, *k.blur, Color::white(0, 0.6));
            c->setAlpha(k.alpha);
            c->setBlendMode(k.blend);
            if (kept) {
                c->drawInLayer([&] { draw(*c); });
            } else {
                c->beginTransparencyLayer();
                draw(*c);
                c->endTransparencyLayer();
            }
            c->restore();
            pictures[kept] = c->pixels().copy();
        }
        int differing = 0;
        for (int y = 0; y < 120; ++y)
            for (int x = 0; x < 240; ++x) differing += pictures[0]->rgbaAt(x, y) != pictures[1]->rgbaAt(x, y);
        EXPECT_EQ(differing, 0) << k.name;
    }
    // What the thread keeps is bounded, however big the layers.
    auto big = context(1200, 1200, 2);
    big->setShadow({0, 2}, 4, Color::black());
    big->drawInLayer([&] { draw(*big); });
    EXPECT_GT(keptLayerBytes(), 0u);
    EXPECT_LE(keptLayerBytes(), size_t{8} << 20);
}

TEST(GraphicsContext, TransparencyLayersComposeBeforeTheirAlpha) {
    for (bool layered : {false, true}) {
        auto c = context(30, 10);
        c->setAlpha(0.5);
        if (layered) c->beginTransparencyLayer();
        c->setFillColor(Color::red());
        c->fillRect({0, 0, 20, 10});
        c->fillRect({10, 0, 20, 10});
        if (layered) c->endTransparencyLayer();
        const int single = at(*c, 5, 5)[3], overlap = at(*c, 15, 5)[3];
        EXPECT_NEAR(single, 128, 1);
        if (layered) {
            EXPECT_EQ(overlap, single) << "the layer is drawn once at half alpha";
        } else {
            EXPECT_NEAR(overlap, 191, 1) << "two half-alpha fills";
        }
    }
}

TEST(GraphicsContext, ImagesAreDrawnUprightByOrientationAsPILTransposesThem) {
    HX_REQUIRE_PIL();
    hxtest::TempDir dir;
    auto source = distinct(3, 2);
    ASSERT_TRUE(foundation::files::writeAtomically(dir / "s.png", encodePNG(*source).value()).ok());
    // PIL's transposes for the Exif values that correspond to each orientation.
    hxtest::runPIL(dir, R"(
im = Image.open('s.png')
ops = {'up': None, 'down': Image.ROTATE_180, 'left': Image.ROTATE_90, 'right': Image.ROTATE_270,
       'upMirrored': Image.FLIP_LEFT_RIGHT, 'downMirrored': Image.FLIP_TOP_BOTTOM,
       'leftMirrored': Image.TRANSPOSE, 'rightMirrored': Image.TRANSVERSE}
for name, op in ops.items():
    out = im if op is None else im.transpose(op)
    open(name + '.rgba', 'wb').write(out.convert('RGBA').tobytes())
)");
    const char* names[] = {"up",         "down",         "left",         "right",
                           "upMirrored", "downMirrored", "leftMirrored", "rightMirrored"};
    for (int o = 0; o < 8; ++o) {
        const ImagePtr image = Image::fromBitmap(source, 1, ImageOrientation(o));
        auto c = context(image->width(), image->height(), 1);
        c->drawImage(*image, Point{0, 0});
        EXPECT_EQ(hxtest::pixelsOf(c->pixels()),
                  hxtest::premultipliedRGBA(hxtest::readBytes(dir / (std::string(names[o]) + ".rgba"))))
            << names[o];
        // The pixels turned upright for cutting a stretchable picture are the same, and are made
        // once for every copy of the picture.
        EXPECT_EQ(hxtest::pixelsOf(*image->uprightBitmap()), hxtest::pixelsOf(c->pixels())) << names[o];
        EXPECT_EQ(image->withTintColor(Color::red())->uprightBitmap(), image->uprightBitmap()) << names[o];
        // At scale 2 an image of scale 2 fills the same points pixel for pixel.
        const ImagePtr retina = Image::fromBitmap(source, 2, ImageOrientation(o));
        auto r = context(retina->width(), retina->height(), 2);
        r->drawImage(*retina, Point{0, 0});
        EXPECT_EQ(hxtest::pixelsOf(r->pixels()), hxtest::pixelsOf(c->pixels())) << names[o];
    }
}

TEST(GraphicsContext, ResizableImagesKeepTheirCaps) {
    auto b = distinct(6, 6);
    for (ResizingMode mode : {ResizingMode::stretch, ResizingMode::tile}) {
        const ImagePtr image = Image::fromBitmap(b)->resizableWithCapInsets({2, 2, 2, 2}, mode);
        auto c = context(20, 10);
        c->drawImage(*image, Rect{0, 0, 20, 10});
        for (int y : {0, 1}) {
            for (int x : {0, 1}) {
                EXPECT_EQ(at(*c, x, y), b->rgbaAt(x, y));
                EXPECT_EQ(at(*c, 18 + x, 8 + y), b->rgbaAt(4 + x, 4 + y)) << "bottom-right cap";
            }
        }
        // The top edge between the caps repeats or stretches the source's middle columns.
        if (mode == ResizingMode::tile) {
            EXPECT_EQ(at(*c, 2, 0), b->rgbaAt(2, 0));
            EXPECT_EQ(at(*c, 3, 0), b->rgbaAt(3, 0));
            EXPECT_EQ(at(*c, 4, 0), b->rgbaAt(2, 0)) << "tiles repeat";
        } else {
            EXPECT_EQ(at(*c, 2, 0), b->rgbaAt(2, 0));
            EXPECT_EQ(at(*c, 17, 0), b->rgbaAt(3, 0));
        }
    }
    // A mirrored image keeps its caps as it is shown: its left cap is the source's right edge
    // mirrored (an incoming bubble is the outgoing one flipped, its tail on the other side).
    const ImagePtr mirrored =
        Image::fromBitmap(b)->withHorizontallyFlippedOrientation()->resizableWithCapInsets({2, 2, 2, 2});
    auto m = context(20, 10);
    m->drawImage(*mirrored, Rect{0, 0, 20, 10});
    for (int y : {0, 1}) {
        for (int x : {0, 1}) {
            EXPECT_EQ(at(*m, x, y), b->rgbaAt(5 - x, y)) << "top-left cap, mirrored";
            EXPECT_EQ(at(*m, 18 + x, 8 + y), b->rgbaAt(1 - x, 4 + y)) << "bottom-right cap, mirrored";
        }
    }
    // Drawn lower than its caps, a picture shrinks them: its top rows and bottom rows meet halfway
    // (neither end covers the other).
    auto bands = Bitmap::make(6, 6).value();
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 6; ++x)
            bands->setRGBA(x, y, y < 2 ? 255 : 0, y >= 2 && y < 4 ? 255 : 0, y >= 4 ? 255 : 0, 255);
    auto low = context(20, 2);
    low->drawImage(*Image::fromBitmap(bands)->resizableWithCapInsets({2, 2, 2, 2}), Rect{0, 0, 20, 2});
    for (int x : {0, 10, 19}) {
        EXPECT_EQ(at(*low, x, 0), kRed) << "the top cap at " << x;
        EXPECT_EQ(at(*low, x, 1), kBlue) << "the bottom cap at " << x;
    }
    // A tinted image draws its shape in the tint.
    auto shape = Bitmap::make(2, 1).value();
    shape->setRGBA(0, 0, 10, 20, 30, 255);
    const ImagePtr tinted = Image::fromBitmap(shape)->withTintColor(Color::blue());
    auto c = context(2, 1);
    c->drawImage(*tinted, Point{0, 0});
    EXPECT_EQ(at(*c, 0, 0), kBlue);
    EXPECT_EQ(at(*c, 1, 0), kClear);
}

TEST(GraphicsContext, EachThreadHasItsOwnCurrentContext) {
    std::vector<std::thread> threads;
    std::vector<RGBA8> results(6);
    std::vector<char> ownContext(6);  // one byte each: the threads write their own
    for (int i = 0; i < 6; ++i) {
        threads.emplace_back([i, &results, &ownContext] {
            beginImageContext({8, 8}, false, 2);
            GraphicsContext* mine = currentContext();
            for (int round = 0; round < 50; ++round) {
                mine->setFillColor(Color::rgb(i / 10.0, 0, 0));
                mine->fillRect({0, 0, 8, 8});
            }
            ownContext[i] = currentContext() == mine;
            ImagePtr image = imageFromCurrentImageContext();
            endImageContext();
            results[i] = image->bitmap()->rgbaAt(15, 15);
            ownContext[i] = ownContext[i] && currentContext() == nullptr;
        });
    }
    for (auto& t : threads) t.join();
    for (int i = 0; i < 6; ++i) {
        EXPECT_TRUE(ownContext[i]);
        EXPECT_NEAR(results[i][0], std::lround(i / 10.0 * 255), 1);
    }
    EXPECT_EQ(currentContext(), nullptr);
}

TEST(Path, ShapesMeasureAndHitTest) {
    const Path rounded = Path::roundedRect({0, 0, 100, 40}, 30);  // radius capped at 20
    EXPECT_FALSE(rounded.contains({1, 1}));
    EXPECT_TRUE(rounded.contains({20, 1}));
    EXPECT_TRUE(rounded.contains({50, 20}));
    const Rect box = Path::ellipse({10, 20, 30, 40}).boundingBox();
    EXPECT_NEAR(box.minX(), 10, 1e-6);
    EXPECT_NEAR(box.maxY(), 60, 1e-6);
    Path arc;
    arc.addArc({50, 50}, 10, 3 * std::numbers::pi / 2, 0, true);  // a quarter, top to right
    const Rect q = arc.boundingBox();
    EXPECT_NEAR(q.minX(), 50, 1e-6);
    EXPECT_NEAR(q.maxX(), 60, 1e-6);
    EXPECT_NEAR(q.minY(), 40, 1e-6);
    EXPECT_NEAR(q.maxY(), 50, 1e-6);
    Path reverse;
    reverse.addArc({50, 50}, 10, 3 * std::numbers::pi / 2, 0, false);  // three quarters the other way
    EXPECT_NEAR(reverse.boundingBox().minX(), 40, 1e-6);
    const Path moved = Path::rect({0, 0, 2, 2}).transformed(AffineTransform::translation(5, 5));
    EXPECT_TRUE(moved.contains({6, 6}));
    EXPECT_FALSE(moved.contains({1, 1}));
}

namespace {

// The picture a context holds in a box of device pixels.
std::vector<RGBA8> pixelsIn(const GraphicsContext& c, int x0, int y0, int w, int h) {
    std::vector<RGBA8> out;
    for (int y = y0; y < y0 + h; ++y)
        for (int x = x0; x < x0 + w; ++x) out.push_back(at(c, x, y));
    return out;
}

// A 12x10 picture whose every piece has more than one colour and some see-through pixels.
std::shared_ptr<Bitmap> shaded() {
    auto b = Bitmap::make(12, 10).value();
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 12; ++x)
            b->setRGBA(x, y, static_cast<uint8_t>(20 * x), static_cast<uint8_t>(25 * y), 180,
                       static_cast<uint8_t>(255 - 9 * ((x * 7 + y * 3) % 13)));
    return b;
}

}  // namespace

TEST(GraphicsContext, AStretchedPictureOnWholePixelsIsTheSameWhereverAndWheneverItIsDrawn) {
    // Bubbles of one size are drawn again and again at other places; what is kept of one must
    // draw what drawing it anew does, for every kind of picture and fill. Caps and sizes in whole
    // points: every piece lands on whole pixels at every scale.
    auto b = shaded();
    const EdgeInsets caps{2, 2, 1, 3};
    struct Case {
        const char* name;
        ImagePtr image;
        double alpha;
    };
    const ImagePtr base = Image::fromBitmap(b, 2);
    const Case cases[] = {
        {"stretched", base->resizableWithCapInsets(caps, ResizingMode::stretch), 1},
        {"tiled", base->resizableWithCapInsets(caps, ResizingMode::tile), 1},
        {"mirrored", base->withHorizontallyFlippedOrientation()->resizableWithCapInsets(caps), 1},
        {"tinted", base->resizableWithCapInsets(caps)->withTintColor(Color::blue().withAlphaComponent(0.7)), 1},
        {"faded", base->resizableWithCapInsets(caps, ResizingMode::stretch), 0.6},
        {"tinted and faded", base->resizableWithCapInsets(caps)->withTintColor(Color::red()), 0.5},
    };
    const Size sizes[] = {{23, 11}, {40, 17}, {9, 30}, {5, 4}};
    for (double scale : {1.0, 2.0, 3.0}) {
        for (const Case& k : cases) {
            for (Size size : sizes) {
                SCOPED_TRACE(::testing::Message()
                             << k.name << " " << size.width << "x" << size.height << " @" << scale);
                const int w = static_cast<int>(size.width * scale), h = static_cast<int>(size.height * scale);
                auto draw = [&](Point at) {
                    auto c = context(80, 60, scale);
                    c->setFillColor(Color::whiteColor());
                    c->fillRect({0, 0, 80, 60});
                    c->drawImage(*k.image, Rect{at, size}, BlendMode::normal, k.alpha);
                    return c;
                };
                forgetResampledPieces();
                const auto first = pixelsIn(*draw({0, 0}), 0, 0, w, h);
                // Whole pixels away, with what the first drawing kept.
                for (Point at : {Point{4, 3}, Point{17, 21}, Point{1 / scale, 2 / scale}}) {
                    const auto again = pixelsIn(*draw(at), static_cast<int>(std::lround(at.x * scale)),
                                                static_cast<int>(std::lround(at.y * scale)), w, h);
                    const auto differing = std::mismatch(again.begin(), again.end(), first.begin());
                    EXPECT_TRUE(differing.first == again.end())
                        << "at " << at.x << "," << at.y << ": pixel " << (differing.first - again.begin());
                }
            }
        }
    }
}

TEST(GraphicsContext, AStretchedPictureIsItsPiecesEachDrawnAloneAndWhatIsKeptFollowsItsPixels) {
    auto b = shaded();
    const EdgeInsets caps{2, 2, 1.5, 2.5};
    const double scale = 2;
    auto c = context(30, 20, scale);
    c->drawImage(*Image::fromBitmap(b, scale)->resizableWithCapInsets(caps, ResizingMode::stretch), Rect{3, 2, 21, 13});
    // The oracle: each of the nine pieces cut out as a picture of its own and drawn stretched
    // into its place.
    auto o = context(30, 20, scale);
    const double sx[4] = {0, 4, 7, 12}, sy[4] = {0, 4, 7, 10};
    const double dx[4] = {3, 5, 21.5, 24}, dy[4] = {2, 4, 13.5, 15};
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) {
            auto piece =
                Bitmap::make(static_cast<int>(sx[col + 1] - sx[col]), static_cast<int>(sy[row + 1] - sy[row])).value();
            for (int y = 0; y < piece->height(); ++y)
                for (int x = 0; x < piece->width(); ++x)
                    piece->row(y)[x] = b->row(static_cast<int>(sy[row]) + y)[static_cast<int>(sx[col]) + x];
            o->drawImage(*Image::fromBitmap(piece, scale),
                         Rect{dx[col], dy[row], dx[col + 1] - dx[col], dy[row + 1] - dy[row]});
        }
    }
    int off = 0;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 60; ++x)
            for (int ch = 0; ch < 4; ++ch) {
                if (std::abs(at(*c, x, y)[ch] - at(*o, x, y)[ch]) > 2 && off++ < 10)
                    ADD_FAILURE() << x << "," << y << " ch " << ch << ": " << int(at(*c, x, y)[ch]) << " vs "
                                  << int(at(*o, x, y)[ch]);
            }
    EXPECT_EQ(off, 0);

    // Drawn again elsewhere it is not resampled; at a new size, or once its pixels change, it is.
    auto image = Image::fromBitmap(b, scale)->resizableWithCapInsets(caps);
    auto d = context(60, 40, scale);
    d->drawImage(*image, Rect{3, 2, 21, 13});
    const uint64_t before = piecesResampled();
    d->drawImage(*image, Rect{30, 20, 21, 13});
    EXPECT_EQ(piecesResampled(), before);
    d->drawImage(*image, Rect{30, 20, 22, 13});
    EXPECT_GT(piecesResampled(), before);
    b->setRGBA(0, 0, 255, 0, 0, 255);
    auto changed = context(30, 20, scale);
    changed->drawImage(*image, Rect{3, 2, 21, 13});
    EXPECT_EQ(at(*changed, 6, 4), kRed);

    // Rows of one value are painted as that colour: a half-clear tint over blue where its picture
    // is solid, half of that where it is half covered, nothing where it is clear. As a copy the
    // tint takes the place of what was under it, as far as the picture covers it.
    auto rows = Bitmap::make(6, 6).value();
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 6; ++x) rows->setRGBA(x, y, 0, 0, 0, y == 0 ? 128 : y == 5 ? 0 : 255);
    const ImagePtr bar = Image::fromBitmap(rows)
                             ->resizableWithCapInsets({2, 2, 2, 2})
                             ->withTintColor(Color::red().withAlphaComponent(0.5));
    auto near = [](RGBA8 a, RGBA8 b) {
        for (int ch = 0; ch < 4; ++ch)
            if (std::abs(a[ch] - b[ch]) > 2) return false;
        return true;
    };
    for (BlendMode mode : {BlendMode::normal, BlendMode::copy}) {
        const bool copy = mode == BlendMode::copy;
        auto r = context(30, 12, 1);
        r->setFillColor(Color::blue());
        r->fillRect({0, 0, 30, 12});
        r->drawImage(*bar, Rect{2, 1, 24, 9}, mode, 1);
        const RGBA8 half = copy ? RGBA8{85, 0, 171, 191} : RGBA8{64, 0, 191, 255};
        const RGBA8 solid = copy ? RGBA8{255, 0, 0, 128} : RGBA8{128, 0, 128, 255};
        for (int x : {2, 10, 25}) {
            EXPECT_PRED2(near, at(*r, x, 1), half) << x;
            EXPECT_PRED2(near, at(*r, x, 5), solid) << x;
            EXPECT_EQ(at(*r, x, 9), kBlue) << x;
        }
    }

    // Half a pixel off the grid, the edge pixel it straddles is half covered.
    auto solid = Bitmap::make(6, 6).value();
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 6; ++x) solid->setRGBA(x, y, 255, 0, 0, 255);
    auto half = context(20, 20, 1);
    half->drawImage(*Image::fromBitmap(solid)->resizableWithCapInsets({2, 2, 2, 2}), Rect{0.5, 0, 10, 10});
    EXPECT_NEAR(at(*half, 0, 5)[3], 128, 2);
    EXPECT_EQ(at(*half, 1, 5)[3], 255);
}

TEST(GraphicsContext, AStretchedPictureKeptWholeIsDrawnAgainForEverythingItIsDrawnFrom) {
    // A bubble is drawn whole once at its size and kept. Drawn right after one that differs in a
    // single thing it is drawn from, it must show its own picture: the pixels its pieces painted
    // one by one give, exactly, over a coloured canvas.
    auto b = shaded();
    const EdgeInsets caps{2, 2, 1, 3};
    const Color tint = Color::dynamic(Color::rgb(0.1, 0.4, 0.9, 0.8), Color::rgb(0.9, 0.5, 0.2));
    using Drawing = PictureDrawing;
    const ImagePtr base = Image::fromBitmap(b, 2);
    const Drawing first{base->resizableWithCapInsets(caps)->withTintColor(tint)};
    auto with = [&](auto edit) {
        Drawing d = first;
        edit(d);
        return d;
    };
    auto other = b->copy();
    other->setRGBA(1, 1, 250, 250, 0, 255);
    const struct {
        const char* name;
        Drawing then;
    } cases[] = {
        {"the same", first},
        {"wider", with([](Drawing& d) { d.size.width = 24; })},
        {"higher", with([](Drawing& d) { d.size.height = 12; })},
        {"at another scale", with([](Drawing& d) { d.scale = 3; })},
        {"in another tint",
         with([&](Drawing& d) { d.image = base->resizableWithCapInsets(caps)->withTintColor(Color::red()); })},
        {"in the dark", with([](Drawing& d) { d.style = UserInterfaceStyle::dark; })},
        {"faded", with([](Drawing& d) { d.alpha = 0.5; })},
        {"in its own colours", with([&](Drawing& d) { d.image = base->resizableWithCapInsets(caps); })},
        {"stretched", with([&](Drawing& d) {
             d.image = base->resizableWithCapInsets(caps, ResizingMode::stretch)->withTintColor(tint);
         })},
        {"with other caps", with([&](Drawing& d) {
             d.image = base->resizableWithCapInsets({1, 2, 1, 3})->withTintColor(tint);
         })},
        {"mirrored", with([&](Drawing& d) {
             d.image = base->withHorizontallyFlippedOrientation()->resizableWithCapInsets(caps)->withTintColor(tint);
         })},
        {"from other pixels", with([&](Drawing& d) {
             d.image = Image::fromBitmap(other, 2)->resizableWithCapInsets(caps)->withTintColor(tint);
         })},
    };
    // The drawing at a place on whole pixels of a canvas, and the canvas's pixels it covers.
    auto draw = [](const Drawing& d, Point at) {
        auto c = context(80, 60, d.scale);
        c->setUserInterfaceStyle(d.style);
        c->setFillColor(Color::rgb(0.3, 0.6, 0.2, 0.9));
        c->fillRect({0, 0, 80, 60});
        c->drawImage(*d.image, Rect{at, d.size}, BlendMode::normal, d.alpha);
        const int w = static_cast<int>(d.size.width * d.scale), h = static_cast<int>(d.size.height * d.scale);
        return pixelsIn(*c, static_cast<int>(at.x * d.scale), static_cast<int>(at.y * d.scale), w, h);
    };
    auto byPieces = [&](const Drawing& d, Point at) {
        setDrawsWholePictures(false);
        auto pixels = draw(d, at);
        setDrawsWholePictures(true);
        return pixels;
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        forgetWholePictures();
        draw(first, {4, 3});
        const uint64_t before = wholePicturesDrawn();
        const auto shown = draw(k.then, {10, 20});
        EXPECT_EQ(wholePicturesDrawn() - before, &k == &cases[0] ? 0u : 1u) << "kept ones drawn again, others anew";
        const auto oracle = byPieces(k.then, {10, 20});
        const auto differing = std::mismatch(shown.begin(), shown.end(), oracle.begin());
        EXPECT_TRUE(differing.first == shown.end()) << "pixel " << (differing.first - shown.begin());
    }

    // Its source's pixels changed in place, a kept picture is drawn anew.
    forgetWholePictures();
    draw(first, {4, 3});
    b->setRGBA(0, 0, 255, 255, 255, 255);
    EXPECT_TRUE(draw(first, {10, 20}) == byPieces(first, {10, 20}));
    // Under a clip that is not whole pixels, or composed otherwise than over what is there, it is
    // drawn by its pieces.
    const uint64_t before = wholePicturesDrawn();
    auto c = context(80, 60, 2);
    c->save();
    c->clipToRect({0.25, 0, 50, 50});
    c->drawImage(*first.image, Rect{4, 3, 30, 20});
    c->restore();
    c->drawImage(*first.image, Rect{4, 3, 30, 20}, BlendMode::copy, 1);
    EXPECT_EQ(wholePicturesDrawn(), before);
}

namespace {

// A 12x10 bubble: clear corners, see-through edges and a middle of one colour.
std::shared_ptr<Bitmap> balloon() {
    auto b = Bitmap::make(12, 10).value();
    for (int y = 0; y < 10; ++y) {
        for (int x = 0; x < 12; ++x) {
            const int edge = std::min({x, y, 11 - x, 9 - y});
            const bool corner = (x < 2 || x > 9) && (y < 2 || y > 7) && edge == 0;
            const uint8_t alpha = corner ? 0 : edge == 0 ? 90 : edge == 1 ? 200 : 255;
            b->setRGBA(x, y, 30, static_cast<uint8_t>(100 + 10 * edge), 220, alpha);
        }
    }
    return b;
}

}  // namespace

TEST(GraphicsContext, AnOpaqueStretchedPictureKeptWholeGivesWhatBlendingItsPiecesGives) {
    // A bar's background: a stretched picture with no see-through pixel, kept whole and copied
    // rather than composed. Over a canvas of many colours, within a clip of whole pixels, it must
    // give what blending its pieces gives (the oracle: no picture kept whole); a picture with one
    // pixel short of full alpha must still be blended.
    auto opaque = [](bool plainMiddle, uint8_t lastAlpha) {
        auto b = Bitmap::make(12, 10).value();
        for (int y = 0; y < 10; ++y)
            for (int x = 0; x < 12; ++x) {
                const bool middle = plainMiddle && x >= 3 && x < 9 && y >= 2 && y < 8;
                b->setRGBA(x, y, middle ? 200 : static_cast<uint8_t>(20 * x),
                           middle ? 210 : static_cast<uint8_t>(25 * y), 180, 255);
            }
        b->setRGBA(11, 9, 40, 40, 40, lastAlpha);
        return Image::fromBitmap(b, 2);
    };
    const EdgeInsets caps{1, 2, 1, 2};
    const struct {
        const char* name;
        ImagePtr image;
        double alpha;
    } cases[] = {
        {"a plain middle", opaque(true, 255)->resizableWithCapInsets(caps), 1},
        {"a middle of many colours", opaque(false, 255)->resizableWithCapInsets(caps), 1},
        {"tinted", opaque(false, 255)->resizableWithCapInsets(caps)->withTintColor(Color::systemGray6()), 1},
        {"one pixel see-through", opaque(true, 254)->resizableWithCapInsets(caps), 1},
        {"faded", opaque(true, 255)->resizableWithCapInsets(caps), 0.8},
    };
    for (const double scale : {1.0, 2.0, 3.0}) {
        for (const auto& k : cases) {
            SCOPED_TRACE(::testing::Message() << k.name << " at " << scale);
            auto draw = [&](bool whole) {
                forgetWholePictures();
                setDrawsWholePictures(whole);
                auto c = context(80, 60, scale);
                for (int i = 0; i < 8; ++i) {
                    c->setFillColor(Color::rgb(0.1 * i, 0.9 - 0.1 * i, 0.5, i % 3 ? 1 : 0.6));
                    c->fillRect({10.0 * i, 0, 10, 60});
                }
                c->save();
                c->clipToRect({5, 7, 60, 40});
                c->drawImage(*k.image, Rect{3, 4, 41, 23}, BlendMode::normal, k.alpha);
                c->restore();
                setDrawsWholePictures(true);
                return pixelsIn(*c, 0, 0, c->pixelWidth(), c->pixelHeight());
            };
            const auto oracle = draw(false);
            const uint64_t made = wholePicturesDrawn();
            const auto shown = draw(true);
            EXPECT_EQ(wholePicturesDrawn() - made, 1u) << "kept whole";
            const auto differing = std::mismatch(shown.begin(), shown.end(), oracle.begin());
            EXPECT_TRUE(differing.first == shown.end()) << "pixel " << (differing.first - shown.begin());
        }
    }
}

TEST(GraphicsContext, AStretchedPictureOverAKnownPlainColourIsCopiedAsBlendingItThereGives) {
    // A sent bubble is see-through and lies on its row's plain colour. Composed over that colour
    // once at its size and copied from there, it must give exactly what blending its pieces one by
    // one over the colour gives (the oracle: no picture kept whole), and be made once per size,
    // scale, tint and colour under it.
    const EdgeInsets caps{2, 3, 2, 3};
    const ImagePtr bubble = Image::fromBitmap(balloon(), 2);
    const ImagePtr mottled = Image::fromBitmap(shaded(), 2);
    const Color under = Color::dynamic(Color::rgb(0.95, 0.95, 0.97), Color::rgb(0.1, 0.1, 0.12));
    struct Drawing {
        const char* name;
        ImagePtr image;
        double alpha = 1;
        UserInterfaceStyle style = UserInterfaceStyle::light;
        Size size{23, 11};
        double scale = 2;
        bool copied = true;
    };
    const Drawing cases[] = {
        {"sent: tinted, faded", bubble->resizableWithCapInsets(caps)->withTintColor(Color::systemBlue()), 0.7},
        {"received: tinted", bubble->withHorizontallyFlippedOrientation()->resizableWithCapInsets(caps)->withTintColor(
                                 Color::systemGray4())},
        {"in the dark", bubble->resizableWithCapInsets(caps)->withTintColor(Color::systemBlue()), 0.7,
         UserInterfaceStyle::dark},
        {"in its own colours", bubble->resizableWithCapInsets(caps), 0.8},
        {"at three pixels a point",
         bubble->resizableWithCapInsets(caps)->withTintColor(Color::systemBlue()),
         1,
         UserInterfaceStyle::light,
         {23, 11},
         3},
        {"a middle of many colours",
         mottled->resizableWithCapInsets(caps)->withTintColor(Color::rgb(0.2, 0.5, 0.9, 0.8))},
        {"lower than its caps (pieces overlap: blended)",
         bubble->resizableWithCapInsets(caps),
         1,
         UserInterfaceStyle::light,
         {23, 3.5},
         2,
         false},
    };
    auto draw = [&](const Drawing& d, bool known, Rect backdrop = {0, 0, 80, 60}) {
        auto c = context(80, 60, d.scale);
        c->setUserInterfaceStyle(d.style);
        c->setFillColor(under);
        c->fillRect({0, 0, 80, 60});
        c->save();
        if (known) c->setKnownBackdrop(under, backdrop);
        c->drawImage(*d.image, Rect{{10, 20}, d.size}, BlendMode::normal, d.alpha);
        c->restore();
        return pixelsIn(*c, 0, 0, c->pixelWidth(), c->pixelHeight());
    };
    for (const Drawing& d : cases) {
        SCOPED_TRACE(d.name);
        forgetWholePictures();
        setDrawsWholePictures(false);
        const auto oracle = draw(d, false);
        setDrawsWholePictures(true);
        const uint64_t copies = opaqueCopiesDrawn(), made = wholePicturesDrawn();
        const auto shown = draw(d, true);
        EXPECT_EQ(opaqueCopiesDrawn() - copies, d.copied ? 1u : 0u);
        const auto differing = std::mismatch(shown.begin(), shown.end(), oracle.begin());
        EXPECT_TRUE(differing.first == shown.end()) << "pixel " << (differing.first - shown.begin());
        // Made once (the picture and its copy over the colour), then found.
        EXPECT_EQ(wholePicturesDrawn() - made, d.copied ? 2u : 0u);
        EXPECT_TRUE(draw(d, true) == oracle);
        EXPECT_EQ(wholePicturesDrawn() - made, d.copied ? 2u : 0u);
    }
    // Another colour under it is another copy; the picture itself is kept.
    const Drawing& sent = cases[0];
    forgetWholePictures();
    draw(sent, true);
    const uint64_t made = wholePicturesDrawn();
    auto c = context(80, 60, 2);
    c->setFillColor(Color::red());
    c->fillRect({0, 0, 80, 60});
    c->setKnownBackdrop(Color::red(), {0, 0, 80, 60});
    c->drawImage(*sent.image, Rect{{10, 20}, sent.size}, BlendMode::normal, sent.alpha);
    EXPECT_EQ(wholePicturesDrawn() - made, 1u);
    // Where the colour is not known under all of it, in a layer (which starts clear) or casting a
    // shadow, it is blended as ever.
    setDrawsWholePictures(false);
    const auto oracle = draw(sent, false);
    setDrawsWholePictures(true);
    const uint64_t copies = opaqueCopiesDrawn();
    EXPECT_TRUE(draw(sent, true, {0, 0, 80, 30}) == oracle) << "a colour known over part of it";
    for (const bool layer : {true, false}) {
        SCOPED_TRACE(layer ? "in a layer" : "with a shadow");
        auto pixels = [&](bool known) {
            auto c = context(80, 60, 2);
            c->setFillColor(under);
            c->fillRect({0, 0, 80, 60});
            if (known) c->setKnownBackdrop(under, {0, 0, 80, 60});
            if (layer) {
                c->setAlpha(0.9);
                c->beginTransparencyLayer();
            } else {
                c->setShadow({0, 2}, 0, Color::black());
            }
            c->drawImage(*sent.image, Rect{{10, 20}, sent.size}, BlendMode::normal, sent.alpha);
            if (layer) c->endTransparencyLayer();
            return pixelsIn(*c, 0, 0, c->pixelWidth(), c->pixelHeight());
        };
        EXPECT_TRUE(pixels(true) == pixels(false));
    }
    EXPECT_EQ(opaqueCopiesDrawn(), copies);
}

TEST(GraphicsContext, ABitmapsGenerationIsNewOnceItsPixelsAreOpenedToChangeAndACopysIsItsOwn) {
    // What a kept whole picture is keyed by: reading the pixels keeps it, any way of writing them
    // (a pixel set, a row or all of them handed out) renews it, and no two bitmaps share one.
    auto b = Bitmap::make(4, 3).value();
    const Bitmap& read = *b;
    const uint64_t first = read.generation();
    EXPECT_NE(first, 0u);
    (void)read.data();
    (void)read.row(1);
    (void)read.rgbaAt(0, 0);
    EXPECT_EQ(read.generation(), first) << "reads keep it";
    uint64_t last = first;
    for (const auto& open :
         std::vector<std::function<void()>>{[&] { b->setRGBA(1, 1, 9, 9, 9, 255); },
                                            [&] { b->row(2)[3] = 0xFF0000FFu; }, [&] { b->data()[0] = 0xFFFFFFFFu; }}) {
        open();
        const uint64_t now = read.generation();
        EXPECT_NE(now, last);
        EXPECT_EQ(read.generation(), now) << "the same until opened again";
        last = now;
    }
    auto copy = b->copy();
    EXPECT_TRUE(*copy == *b);
    EXPECT_NE(std::as_const(*copy).generation(), last) << "a copy's is its own";
    EXPECT_NE(Bitmap::make(4, 3).value()->generation(), last);
}

namespace {

// A picture of many colours and alphas (a photo with a see-through corner), not a multiple of
// the sizes it is drawn at.
std::shared_ptr<Bitmap> portrait() {
    auto b = Bitmap::make(37, 29).value();
    for (int y = 0; y < 29; ++y)
        for (int x = 0; x < 37; ++x)
            b->setRGBA(x, y, static_cast<uint8_t>(7 * x), static_cast<uint8_t>(255 - 9 * y),
                       static_cast<uint8_t>((x * y * 13) & 0xff), x + y < 6 ? 0 : static_cast<uint8_t>(150 + 3 * x));
    return b;
}

}  // namespace

TEST(GraphicsContext, AScaledPictureIsKeptAtItsPixelsUntilItsSizeScaleTintOrSourceChanges) {
    // A picture scaled into a rectangle on whole pixels (a contact's round picture, a template icon)
    // is resampled once and then composed from what was kept, wherever it lies. It must give what
    // drawing it fresh gives (the oracle: nothing kept), through a round clip and over a canvas of
    // many colours; and after a change of its size, the canvas's scale, its tint (or the style it
    // resolves in) or its source's pixels it must show the change, never the picture kept before.
    auto photoPixels = portrait();
    auto shapePixels = portrait();
    const ImagePtr photo = Image::fromBitmap(photoPixels, 2);
    const Color tint = Color::dynamic(Color::rgb(0.1, 0.4, 0.9), Color::rgb(0.9, 0.7, 0.1));
    const ImagePtr icon = Image::fromBitmap(shapePixels, 2)->withTintColor(tint);
    using Drawing = PictureDrawing;
    const Size size{23, 17};
    auto draw = [](const Drawing& d, Point at, bool kept) {
        if (!kept) forgetResampledPieces();
        auto c = context(90, 70, d.scale);
        c->setUserInterfaceStyle(d.style);
        for (int i = 0; i < 9; ++i) {
            c->setFillColor(Color::rgb(0.1 * i, 0.9 - 0.1 * i, 0.5, i % 3 ? 1 : 0.6));
            c->fillRect({0, 7.5 * i, 90, 7.5});
        }
        const Rect rect{at, d.size};
        c->save();
        if (d.round) {
            c->addPath(Path::roundedRect(rect, d.size.height / 2));
            c->clip();
        }
        c->drawImage(*d.image, rect, BlendMode::normal, d.alpha);
        c->restore();
        return pixelsIn(*c, 0, 0, c->pixelWidth(), c->pixelHeight());
    };
    for (const ImagePtr& image : {photo, icon}) {
        const bool tinted = image == icon;
        SCOPED_TRACE(tinted ? "a template icon" : "a photo");
        const Drawing first{image, size};
        auto with = [&](auto edit) {
            Drawing d = first;
            edit(d);
            return d;
        };
        // A tint is laid over the shape's kept coverage: a photo tinted is its coverage, made anew.
        const struct {
            const char* name;
            Drawing then;
            bool anew;
        } cases[] = {
            {"the same elsewhere", first, false},
            {"through a round clip", with([](Drawing& d) { d.round = true; }), false},
            {"wider", with([](Drawing& d) { d.size.width = 24; }), true},
            {"higher", with([](Drawing& d) { d.size.height = 16.5; }), true},
            {"at another scale", with([](Drawing& d) { d.scale = 3; }), true},
            {"in the dark", with([](Drawing& d) { d.style = UserInterfaceStyle::dark; }), false},
            {"faded", with([](Drawing& d) { d.alpha = 0.55; }), false},
            {"in another tint", with([&](Drawing& d) { d.image = image->withTintColor(Color::red()); }), !tinted},
        };
        for (const auto& k : cases) {
            SCOPED_TRACE(k.name);
            forgetResampledPieces();
            draw(first, {4, 3}, true);
            for (const Point at : {Point{10, 20}, Point{31.5, 40}, Point{0.5, 0}, Point{57, 1.5}}) {
                const uint64_t before = piecesResampled();
                const auto shown = draw(k.then, at, true);
                const bool whole = k.then.scale == 2 || (at.x == std::round(at.x) && at.y == std::round(at.y));
                // Made once, at the first place; elsewhere found.
                const uint64_t made = k.anew && at.x == 10 ? 1 : 0;
                if (whole) {
                    EXPECT_EQ(piecesResampled() - before, made) << "at " << at.x << "," << at.y;
                }
                const auto oracle = draw(k.then, at, false);
                const auto differing = std::mismatch(shown.begin(), shown.end(), oracle.begin());
                EXPECT_TRUE(differing.first == shown.end())
                    << "at " << at.x << "," << at.y << " pixel " << (differing.first - shown.begin());
            }
        }
    }
    // The source's pixels changed where they lie (the same image): drawn anew from them.
    for (const ImagePtr& image : {photo, icon}) {
        const Drawing d{image, size};
        const auto before = draw(d, {10, 20}, true);
        auto& pixels = image == photo ? photoPixels : shapePixels;
        for (int y = 0; y < 29; ++y) pixels->row(y)[y] = Bitmap::premultiplied(255, 0, 255, y % 2 ? 255 : 0);
        const auto shown = draw(d, {10, 20}, true);
        EXPECT_TRUE(shown == draw(d, {10, 20}, false));
        EXPECT_FALSE(shown == before);
    }
    // A picture drawn at its own pixels, on none whole, or too large to keep, keeps nothing.
    const uint64_t before = piecesResampled();
    draw({photo, {18.5, 14.5}}, {4, 3}, true);
    draw({photo, {23, 17}}, {4.25, 3}, true);
    const Drawing large{Image::fromBitmap(Bitmap::make(400, 400).value(), 2), {40, 30}};
    draw(large, {4, 3}, true);
    draw(large, {4, 3}, true);
    EXPECT_EQ(piecesResampled(), before);
}
