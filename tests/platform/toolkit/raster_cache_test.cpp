#include "platform/toolkit/raster_cache.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/graphics/bitmap_compare.h"
#include "platform/graphics/graphics_context.h"
#include "platform/toolkit/controls.h"
#include "platform/toolkit/renderer.h"
#include "platform/toolkit/text_input.h"
#include "tests/platform/toolkit/snapshot_support.h"
#include "tests/support/goldens.h"

using namespace toolkit;
using graphics::UserInterfaceStyle;

namespace {

using toolkit_snapshots::box;

// A small opaque square shown in its view's tint.
ImagePtr templateSquare() {
    auto bitmap = graphics::Bitmap::make(12, 12).value();
    for (int y = 2; y < 10; ++y)
        for (int x = 2; x < 10; ++x) bitmap->setRGBA(x, y, 0, 0, 0, 255);
    return Image::fromBitmap(bitmap, 2)->withRenderingMode(RenderingMode::alwaysTemplate);
}

// A list with one row kept as pixels: a label, a text view, a tinted picture and a coloured chip
// with a box inside it, on the row's own background, over the list's.
struct CachedScene {
    std::shared_ptr<View> list = box(Rect(0, 0, 160, 130), Color::systemBackground());
    std::shared_ptr<View> row = box(Rect(0, 20, 160, 70), Color::secondarySystemBackground());
    std::shared_ptr<Label> label = View::make<Label>(Rect(8, 4, 110, 20));
    std::shared_ptr<TextView> text = View::make<TextView>();
    std::shared_ptr<ImageView> icon = View::make<ImageView>(templateSquare());
    std::shared_ptr<View> chip = box(Rect(120, 30, 30, 30), Color::systemBlue());
    std::shared_ptr<View> inner = box(Rect(8, 8, 14, 14), Color::systemGray5());

    CachedScene() {
        row->setClipsToBounds(true);
        label->setText("Kept as pixels");
        text->setFrame(Rect(4, 24, 110, 40));
        text->setEditable(false);
        text->setBackgroundColor(Color::clear());
        text->setText("Two words");
        icon->setFrame(Rect(128, 6, 12, 12));
        list->setTintColor(Color::systemRed());
        for (const auto& v : std::vector<ViewPtr>{label, text, icon, chip}) row->addSubview(v);
        chip->addSubview(inner);
        list->addSubview(row);
        setShouldRasterize(row, true);
    }
};

std::shared_ptr<graphics::Bitmap> draw(View& root, double scale, UserInterfaceStyle style) {
    root.layoutIfNeeded();
    auto c = graphics::GraphicsContext::image({root.bounds().width(), root.bounds().height()}, false, scale).value();
    c->setUserInterfaceStyle(style);
    renderView(root, *c);
    return graphics::GraphicsContext::finishBitmap(std::move(c));
}

int differing(const graphics::Bitmap& a, const graphics::Bitmap& b) {
    const auto compared = graphics::compareBitmaps(a, b, 0);
    return compared.sameSize ? static_cast<int>(compared.differingPixels) : -1;
}

}  // namespace

// A row kept as pixels shows every change made in it, or to what it depends on, on the next frame,
// as the same row drawn anew does; when only its place changed by whole pixels, the next frame
// copies its pixels. Each change shows (the picture differs from the one before it).
TEST(RasterCache, AChangeInAKeptRowShowsOnTheNextFrameAsDrawingItAnewShowsIt) {
    hxtest::UsingFonts fonts;
    using S = CachedScene;
    struct Case {
        const char* name;
        std::function<void(S&)> change;
        // Whether the frame after the change copies the kept pixels.
        bool copies = false;
        double scale = 2;
        UserInterfaceStyle style = UserInterfaceStyle::light;
    };
    const std::vector<Case> cases{
        {"moved down by a whole pixel", [](S& s) { s.row->setFrame(Rect(0, 20.5, 160, 70)); }, true},
        {"moved by a quarter of a pixel", [](S& s) { s.row->setFrame(Rect(0, 20.125, 160, 70)); }},
        {"the list scrolled by whole pixels", [](S& s) { s.list->setBounds(Rect(0, 7, 160, 130)); }, true},
        {"a label's text", [](S& s) { s.label->setText("Drawn again"); }},
        {"a label's colour", [](S& s) { s.label->setTextColor(Color::systemGreen()); }},
        {"a text view's text", [](S& s) { s.text->setText("Three more words"); }},
        {"a text view scrolled", [](S& s) { s.text->setBounds(Rect(0, 6, 110, 40)); }},
        {"the row's background", [](S& s) { s.row->setBackgroundColor(Color::systemGray4()); }},
        {"a background below a subview", [](S& s) { s.inner->setBackgroundColor(Color::systemOrange()); }},
        {"a subview added", [](S& s) { s.row->addSubview(box(Rect(60, 4, 20, 10), Color::systemRed())); }},
        {"a subview removed", [](S& s) { s.chip->removeFromSuperview(); }},
        {"a subview hidden", [](S& s) { s.inner->setHidden(true); }},
        {"a subview's alpha", [](S& s) { s.chip->setAlpha(0.4); }},
        {"a subview turned", [](S& s) { s.chip->setTransform(graphics::AffineTransform::rotation(0.4)); }},
        {"a subview moved in the row", [](S& s) { s.inner->setFrame(Rect(2, 10, 14, 14)); }},
        {"the row's size", [](S& s) { s.row->setFrame(Rect(0, 20, 160, 40)); }},
        {"a layer's corners set on it", [](S& s) { s.chip->layer().cornerRadius = 9; }},
        {"a layer's border set on it", [](S& s) { s.chip->layer().borderWidth = 3; }},
        {"the tint of the list", [](S& s) { s.list->setTintColor(Color::systemGreen()); }},
        {"the row faded", [](S& s) { s.row->setAlpha(0.5); }},
        {"dark appearance", [](S&) {}, false, 2, UserInterfaceStyle::dark},
        {"another scale", [](S&) {}, false, 3},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        CachedScene scene;
        const auto first = draw(*scene.list, 2, UserInterfaceStyle::light);
        // The second frame keeps the pixels, the third copies them: both as the first.
        const uint64_t before = rasterCopies();
        const auto second = draw(*scene.list, 2, UserInterfaceStyle::light);
        const auto third = draw(*scene.list, 2, UserInterfaceStyle::light);
        ASSERT_EQ(rasterCopies(), before + 2) << "the row is copied from its pixels";
        EXPECT_EQ(differing(*first, *second), 0);
        EXPECT_EQ(differing(*first, *third), 0);

        k.change(scene);
        const uint64_t copiesBefore = rasterCopies();
        const auto changed = draw(*scene.list, k.scale, k.style);
        EXPECT_EQ(rasterCopies() - copiesBefore, k.copies ? 1u : 0u);
        setShouldRasterize(scene.row, false);
        const auto anew = draw(*scene.list, k.scale, k.style);
        EXPECT_EQ(differing(*changed, *anew), 0) << "as the row drawn anew";
        if (k.scale == 2) {
            EXPECT_GT(differing(*anew, *first), 0) << "the change shows";
        }
    }
}
