// The cell accessories and the small system buttons, pinned by goldens in light and dark, plus
// pixel checks that need no golden: where each mark lies and what colour it takes.
#include <gtest/gtest.h>

#include "platform/toolkit/controls.h"
#include "platform/toolkit/renderer.h"
#include "platform/toolkit/renderer_cells.h"
#include "platform/toolkit/scroll_view.h"
#include "platform/toolkit/table_view.h"
#include "platform/toolkit/window.h"
#include "tests/platform/toolkit/snapshot_support.h"

using namespace toolkit;
using toolkit_snapshots::UsingFonts;

namespace {

constexpr double kWidth = 240, kRow = 44;

std::shared_ptr<TableViewCell> cell(const std::string& text, CellAccessoryType accessory, double y) {
    auto c = std::make_shared<TableViewCell>();
    c->setFrame(Rect(0, y, kWidth, kRow));
    c->setBackgroundColor(Color::systemBackground());
    c->textLabel().setText(text);
    c->textLabel().setTextColor(Color::label());
    c->setAccessoryType(accessory);
    return c;
}

std::shared_ptr<View> table() {
    auto panel = View::make(Rect(0, 0, kWidth, 5 * kRow + 1 + 30));
    panel->setBackgroundColor(Color::systemGroupedBackground());
    const std::pair<const char*, CellAccessoryType> rows[] = {
        {"None", CellAccessoryType::None},
        {"Checkmark", CellAccessoryType::Checkmark},
        {"Disclosure", CellAccessoryType::DisclosureIndicator},
        {"Detail", CellAccessoryType::DetailButton},
        {"Detail disclosure", CellAccessoryType::DetailDisclosureButton},
    };
    double y = 0;
    for (const auto& [text, accessory] : rows) {
        panel->addSubview(cell(text, accessory, y));
        y += kRow;
    }
    // A tinted checkmark follows the cell's own tint.
    std::static_pointer_cast<TableViewCell>(panel->subviews()[1])->setTintColor(Color::systemGreen());
    double x = 16;
    for (ButtonType type : {ButtonType::InfoLight, ButtonType::InfoDark, ButtonType::ContactAdd}) {
        auto b = std::make_shared<Button>(type);
        b->setFrame(Rect(x, y + 5, 22, 22));
        panel->addSubview(b);
        x += 40;
    }
    return panel;
}

// The bounding box of the pixels that differ from the background, in points at 1x.
struct InkBounds {
    int minX = 1 << 30, minY = 1 << 30, maxX = -1, maxY = -1, count = 0;
    std::array<int, 3> sum{};
};

InkBounds inkIn(const graphics::Bitmap& b, int x0, int y0, int x1, int y1) {
    InkBounds ink;
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) {
            const auto p = b.rgbaAt(x, y);
            if (p[0] > 235 && p[1] > 235 && p[2] > 235) continue;
            ink.minX = std::min(ink.minX, x), ink.maxX = std::max(ink.maxX, x);
            ink.minY = std::min(ink.minY, y), ink.maxY = std::max(ink.maxY, y);
            ++ink.count;
            for (int i = 0; i < 3; ++i) ink.sum[i] += p[i];
        }
    }
    return ink;
}

}  // namespace

TEST(CellAccessoriesRender, GoldensInLightAndDarkAt2x) {
    toolkit_snapshots::expectGoldensInLightAndDarkAt2x(table, "cell_accessories");
}

TEST(CellAccessoriesRender, MarksLieInTheAccessoryStripRightOfTheText) {
    UsingFonts fonts;
    struct Case {
        CellAccessoryType type;
        bool tinted;  // else system grey
    };
    for (const Case& k : {Case{CellAccessoryType::Checkmark, true}, Case{CellAccessoryType::DisclosureIndicator, false},
                          Case{CellAccessoryType::DetailDisclosureButton, false}}) {
        SCOPED_TRACE(static_cast<int>(k.type));
        Window window(ScreenProfile::iPhone8());
        auto c = cell("Row", k.type, 0);
        c->setBackgroundColor(Color::whiteColor());
        c->setTintColor(Color::rgb(1, 0, 0));
        window.addSubview(c);
        auto pixels = snapshot(*c, 1);
        ASSERT_TRUE(pixels);
        const Rect strip = cellAccessoryFrame(*c);
        ASSERT_GT(strip.width(), 0);
        const Rect text = c->textLabel().frame();
        const double textEnd = text.minX() + c->textLabel().sizeThatFits({}).width;
        EXPECT_GT(strip.minX(), textEnd);
        // The mark shows inside the strip, and nothing but it is drawn between the text and the edge.
        const InkBounds mark = inkIn(*pixels, int(strip.minX()), 0, int(strip.maxX()), int(kRow));
        ASSERT_GT(mark.count, 10);
        EXPECT_GE(mark.minY, 10);
        EXPECT_LE(mark.maxY, int(kRow) - 10);
        EXPECT_EQ(inkIn(*pixels, int(strip.maxX()), 0, int(kWidth), int(kRow)).count, 0);
        const int buttonEnd = k.type == CellAccessoryType::DetailDisclosureButton ? int(kWidth) - 26 : 0;
        EXPECT_EQ(inkIn(*pixels, std::max(int(textEnd) + 2, buttonEnd), 0, int(strip.minX()), int(kRow)).count, 0);
        // The checkmark takes the cell's tint; the chevron stays grey whatever the tint.
        const double r = mark.sum[0] / double(mark.count), g = mark.sum[1] / double(mark.count);
        if (k.tinted) {
            EXPECT_GT(r - g, 40);
        } else {
            EXPECT_LT(std::abs(r - g), 12);
        }
    }
    // A cell with its own accessory view or in editing draws no mark of its own.
    auto c = cell("Row", CellAccessoryType::Checkmark, 0);
    c->setAccessoryView(View::make(Rect(0, 0, 10, 10)));
    EXPECT_EQ(cellAccessoryFrame(*c).width(), 0);
}

TEST(CellAccessoriesRender, GlyphButtonsAreCentredRingsInTheirTint) {
    Window window(ScreenProfile::iPhone8());
    for (ButtonType type : {ButtonType::InfoDark, ButtonType::ContactAdd, ButtonType::DetailDisclosure}) {
        SCOPED_TRACE(static_cast<int>(type));
        auto panel = View::make(Rect(0, 0, 44, 44));
        panel->setBackgroundColor(Color::whiteColor());
        auto b = std::make_shared<Button>(type);
        b->setFrame(Rect(0, 0, 44, 44));
        b->setTintColor(Color::rgb(0, 0, 1));
        panel->addSubview(b);
        window.addSubview(panel);
        auto pixels = snapshot(*panel, 1);
        ASSERT_TRUE(pixels);
        const InkBounds ink = inkIn(*pixels, 0, 0, 44, 44);
        ASSERT_GT(ink.count, 40);
        // A ring of about 22 points, centred in the button.
        EXPECT_NEAR((ink.minX + ink.maxX) / 2.0, 21.5, 1.5);
        EXPECT_NEAR((ink.minY + ink.maxY) / 2.0, 21.5, 1.5);
        EXPECT_NEAR(ink.maxX - ink.minX, 21, 2);
        EXPECT_GT(ink.sum[2] / ink.count - ink.sum[0] / ink.count, 60);
        // The centre holds the glyph: the stem of the "i", the crossing of the "+".
        EXPECT_GT(inkIn(*pixels, 21, 21, 23, 25).count, 0);
        panel->removeFromSuperview();
    }
    // A plain button draws no ring.
    auto panel = View::make(Rect(0, 0, 44, 44));
    panel->setBackgroundColor(Color::whiteColor());
    auto plain = std::make_shared<Button>(ButtonType::Custom);
    plain->setFrame(Rect(0, 0, 44, 44));
    panel->addSubview(plain);
    window.addSubview(panel);
    auto pixels = snapshot(*panel, 1);
    ASSERT_TRUE(pixels);
    EXPECT_EQ(inkIn(*pixels, 0, 0, 44, 44).count, 0);
}

TEST(CellAccessoriesRender, RefreshControlShowsSpinnerOverItsTitleOnlyWhileRefreshing) {
    UsingFonts fonts;
    Window window(ScreenProfile::iPhone8());
    auto panel = View::make(Rect(0, 0, kWidth, RefreshControl::kHeight));
    panel->setBackgroundColor(Color::whiteColor());
    auto refresh = std::make_shared<RefreshControl>();
    refresh->setFrame(panel->bounds());
    refresh->attributedTitle = "Updating";
    panel->addSubview(refresh);
    window.addSubview(panel);
    auto idle = snapshot(*panel, 1);
    ASSERT_TRUE(idle);
    EXPECT_EQ(inkIn(*idle, 0, 0, int(kWidth), int(RefreshControl::kHeight)).count, 0);
    refresh->beginRefreshing();
    auto busy = snapshot(*panel, 1);
    ASSERT_TRUE(busy);
    const InkBounds all = inkIn(*busy, 0, 0, int(kWidth), int(RefreshControl::kHeight));
    ASSERT_GT(all.count, 30);
    EXPECT_NEAR((all.minX + all.maxX) / 2.0, kWidth / 2, 3);
    // The spinner's spokes, a 20-point wheel, stand above the title's line, both centred across.
    const InkBounds spinner = inkIn(*busy, 0, all.minY, int(kWidth), all.minY + 20);
    EXPECT_LE(spinner.maxX - spinner.minX, 21);
    EXPECT_NEAR((spinner.minX + spinner.maxX) / 2.0, kWidth / 2, 2);
    const InkBounds title = inkIn(*busy, 0, all.minY + 22, int(kWidth), int(RefreshControl::kHeight));
    EXPECT_GT(title.maxX - title.minX, 30);
    EXPECT_GT(title.minY, spinner.maxY);
    // Without a title the spinner alone is centred down the control.
    refresh->attributedTitle.clear();
    auto bare = snapshot(*panel, 1);
    ASSERT_TRUE(bare);
    const InkBounds alone = inkIn(*bare, 0, 0, int(kWidth), int(RefreshControl::kHeight));
    EXPECT_NEAR((alone.minY + alone.maxY) / 2.0, RefreshControl::kHeight / 2, 2);
}
