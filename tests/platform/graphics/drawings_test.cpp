// The app's own drawings in the build's bundle: every name the screens ask for loads at each
// scale with the size the screens lay out, the tinted ones are one ink so a tint keeps their whole
// shape, and a contact sheet of all of them is compared with its golden.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <optional>
#include <set>

#include "platform/foundation/bundle.h"
#include "platform/graphics/graphics_context.h"
#include "platform/graphics/image_operations.h"
#include "platform/graphics/named_images.h"
#include "tests/platform/graphics/golden.h"

using namespace graphics;

namespace {

enum class Ink { single, colours };

struct Drawing {
    const char* name;
    Size size;  // points: an image's own size; a symbol's box, drawn at the point size asked
    Ink ink;
};

// The named images the screens show, at the sizes they lay them out.
const Drawing kImages[] = {
    {"IconLarge", {120, 120}, Ink::colours},
    {"note", {32, 32}, Ink::colours},
    {"BalloonFlat", {48, 35}, Ink::single},
    {"Call", {30, 30}, Ink::single},
    {"Call_on", {30, 30}, Ink::single},
    {"SMS", {30, 30}, Ink::single},
    {"SMS_on", {30, 30}, Ink::single},
    {"VM", {30, 30}, Ink::single},
    {"VM_on", {30, 30}, Ink::single},
    {"Recents", {30, 30}, Ink::single},
    {"Recents_on", {30, 30}, Ink::single},
    {"Settings", {30, 30}, Ink::single},
    {"Settings_on", {30, 30}, Ink::single},
    {"defaultContactImage", {40, 40}, Ink::single},
    {"defaultGroupImage", {40, 40}, Ink::single},
    {"TouchID", {32, 32}, Ink::single},
    {"Face ID", {32, 32}, Ink::single},
    {"biometrics", {32, 32}, Ink::single},
    {"error", {40, 40}, Ink::colours},
    {"success", {40, 40}, Ink::colours},
    {"textbg", {13, 27}, Ink::colours},
    {"toolbarbg", {10, 40}, Ink::colours},
    {"SearchShadow", {4, 20}, Ink::single},
    {"camera", {28, 22}, Ink::single},
    {"menu_disclosure", {13, 8}, Ink::single},
    {"ra_Trash", {28, 28}, Ink::single},
    {"ra_Call", {28, 28}, Ink::single},
    {"ra_SMS", {28, 28}, Ink::single},
    {"ra_Archive", {28, 28}, Ink::single},
    {"ra_Inbox", {28, 28}, Ink::single},
    {"ra_MarkRead", {28, 28}, Ink::single},
    {"ra_MarkUnread", {28, 28}, Ink::single},
    {"star_on", {22, 22}, Ink::single},
    {"star_off", {22, 22}, Ink::single},
    {"More", {28, 28}, Ink::single},
    {"Knob", {28, 28}, Ink::colours},
    {"VM_play", {30, 30}, Ink::single},
    {"VM_stop", {30, 30}, Ink::single},
    {"Speaker", {30, 30}, Ink::single},
    {"Speaker_off", {30, 30}, Ink::single},
    {"VCard", {24, 24}, Ink::single},
    {"VCard_Company", {24, 24}, Ink::single},
    {"action_clipboard", {24, 24}, Ink::single},
    {"action_camera", {24, 24}, Ink::single},
    {"action_library", {24, 24}, Ink::single},
    {"Asterisk", {24, 24}, Ink::single},
    {"Numbersign", {24, 24}, Ink::single},
    {"Delete", {34, 24}, Ink::single},
    {"Favorites_Contacts", {44, 24}, Ink::single},
    {"Contacts_Favorites", {44, 24}, Ink::single},
    {"iBeacon", {60, 60}, Ink::single},
    {"call_missed", {20, 20}, Ink::single},
    {"call_received", {20, 20}, Ink::single},
    {"call_recorded", {20, 20}, Ink::colours},
    {"call_placed", {20, 20}, Ink::single},
    {"message_sms", {20, 20}, Ink::single},
    {"message_vm", {20, 20}, Ink::single},
};

// The symbols, by their box; all are template images.
const Drawing kSymbols[] = {
    {"trash", {24, 24}, Ink::single},
    {"phone", {24, 24}, Ink::single},
    {"message", {24, 24}, Ink::single},
    {"archivebox", {24, 24}, Ink::single},
    {"tray", {24, 24}, Ink::single},
    {"eye", {24, 24}, Ink::single},
    {"eye.slash", {24, 24}, Ink::single},
    {"square.and.pencil", {24, 24}, Ink::single},
    {"delete.left", {30, 24}, Ink::single},
    {"envelope", {24, 24}, Ink::single},
    {"hand.raised", {24, 24}, Ink::single},
    {"hand.raised.slash", {24, 24}, Ink::single},
    {"hand.thumbsup", {24, 24}, Ink::single},
    {"hand.thumbsdown", {24, 24}, Ink::single},
    {"camera", {24, 24}, Ink::single},
    {"camera.fill", {24, 24}, Ink::single},
    {"chevron.down", {24, 24}, Ink::single},
    {"eye.fill", {24, 24}, Ink::single},
    {"eye.slash.fill", {24, 24}, Ink::single},
    {"star", {24, 24}, Ink::single},
    {"star.fill", {24, 24}, Ink::single},
    {"play.circle", {24, 24}, Ink::single},
    {"pause.circle", {24, 24}, Ink::single},
    {"stop.circle", {24, 24}, Ink::single},
    {"speaker", {24, 24}, Ink::single},
    {"speaker.3", {24, 24}, Ink::single},
    {"doc.on.clipboard", {24, 24}, Ink::single},
    {"photo.on.rectangle", {24, 24}, Ink::single},
    {"ellipsis", {24, 24}, Ink::single},
    {"doc.on.doc", {24, 24}, Ink::single},
    {"square.and.arrow.down", {24, 24}, Ink::single},
    {"square.and.arrow.up", {24, 24}, Ink::single},
    {"arrow.counterclockwise", {24, 24}, Ink::single},
};

// The back button's unread count: one symbol per count from 1 to 50.
std::vector<std::string> numberedCircles() {
    std::vector<std::string> names;
    for (int n = 1; n <= 50; ++n) names.push_back(std::to_string(n) + ".circle.fill");
    return names;
}

class Drawings : public ::testing::Test {
protected:
    void SetUp() override {
        foundation::Bundle::main().setResourcesDirectory(std::filesystem::path(HX_BINARY_DIR) / "resources");
    }
    void TearDown() override { foundation::Bundle::main().setResourcesDirectory({}); }
};

struct Coverage {
    int64_t painted = 0;   // pixels with any alpha
    int64_t otherInk = 0;  // well-covered pixels whose colour is not the first such pixel's
};

Coverage coverage(const Bitmap& bitmap) {
    Coverage c;
    std::optional<std::array<uint8_t, 4>> ink;
    for (int y = 0; y < bitmap.height(); ++y) {
        for (int x = 0; x < bitmap.width(); ++x) {
            auto p = bitmap.rgbaAt(x, y);
            if (p[3] == 0) continue;
            ++c.painted;
            // Straight colours of faint edge pixels carry rounding; judge the ones mostly covered.
            if (p[3] < 64) continue;
            if (!ink) ink = p;
            for (int i = 0; i < 3; ++i) {
                if (std::abs(p[i] - (*ink)[i]) > 8) {
                    ++c.otherInk;
                    break;
                }
            }
        }
    }
    return c;
}

std::set<std::string> filesIn(const char* folder) {
    std::set<std::string> names;
    for (const auto& entry :
         std::filesystem::directory_iterator(std::filesystem::path(HX_BINARY_DIR) / "resources" / folder)) {
        if (entry.path().extension() == ".svg") names.insert(entry.path().stem().string());
    }
    return names;
}

}  // namespace

TEST_F(Drawings, EveryNamedImageLoadsAtEachScaleWithItsSize) {
    for (const Drawing& d : kImages) {
        for (double scale : {1.0, 2.0, 3.0}) {
            SCOPED_TRACE(std::string(d.name) + " @" + std::to_string(int(scale)) + "x");
            ImagePtr image = imageNamed(d.name, scale);
            ASSERT_TRUE(image);
            EXPECT_EQ(image->name(), d.name);
            EXPECT_FALSE(image->isSymbol());
            EXPECT_EQ(image->size(), d.size);
            EXPECT_EQ(image->scale(), scale);
            EXPECT_EQ(image->pixelWidth(), int64_t(d.size.width * scale));
            EXPECT_EQ(image->pixelHeight(), int64_t(d.size.height * scale));
            ASSERT_TRUE(image->bitmap());
            EXPECT_GT(coverage(*image->bitmap()).painted, 0) << "draws nothing";
        }
    }
}

TEST_F(Drawings, EverySymbolIsATemplateAtThePointSizeAsked) {
    std::vector<Drawing> all(std::begin(kSymbols), std::end(kSymbols));
    const auto numbers = numberedCircles();
    for (const auto& n : numbers) all.push_back({n.c_str(), {24, 24}, Ink::single});
    // 17 points in bars, 25 for the back button's count, 30 for the player's buttons.
    for (const Drawing& d : all) {
        for (double pointSize : {17.0, 25.0, 30.0}) {
            for (double scale : {1.0, 2.0, 3.0}) {
                SCOPED_TRACE(std::string(d.name) + " " + std::to_string(pointSize) + "pt @" +
                             std::to_string(int(scale)) + "x");
                ImagePtr symbol = systemImageNamed(d.name, pointSize, scale);
                ASSERT_TRUE(symbol);
                EXPECT_TRUE(symbol->isSymbol());
                EXPECT_EQ(symbol->name(), d.name);
                EXPECT_EQ(symbol->renderingMode(), RenderingMode::alwaysTemplate);
                EXPECT_DOUBLE_EQ(symbol->size().height, pointSize);
                // Drawn into whole pixels: the width in proportion, rounded up to a pixel.
                const double width = pointSize * d.size.width / d.size.height;
                EXPECT_EQ(symbol->pixelWidth(), int64_t(std::ceil(width * scale - 1e-9)));
                EXPECT_EQ(symbol->pixelHeight(), int64_t(std::ceil(pointSize * scale - 1e-9)));
            }
        }
    }
}

TEST_F(Drawings, TheBundleHoldsExactlyTheInventory) {
    std::set<std::string> images, symbols;
    for (const Drawing& d : kImages) images.insert(d.name);
    for (const Drawing& d : kSymbols) symbols.insert(d.name);
    for (const auto& n : numberedCircles()) symbols.insert(n);
    EXPECT_EQ(filesIn("images"), images);
    EXPECT_EQ(filesIn("symbols"), symbols);
}

TEST_F(Drawings, TintedDrawingsAreOneInkSoATintKeepsTheirShape) {
    std::vector<std::pair<ImagePtr, Ink>> drawings;
    for (const Drawing& d : kImages) drawings.emplace_back(imageNamed(d.name, 2), d.ink);
    for (const Drawing& d : kSymbols) drawings.emplace_back(systemImageNamed(d.name, 24, 2), d.ink);
    for (const auto& n : numberedCircles()) drawings.emplace_back(systemImageNamed(n, 24, 2), Ink::single);
    const Color tint = Color::rgb(0, 122 / 255.0, 1);
    for (const auto& [image, ink] : drawings) {
        ASSERT_TRUE(image);
        SCOPED_TRACE(image->name());
        const Coverage original = coverage(*image->bitmap());
        if (ink == Ink::single) {
            EXPECT_EQ(original.otherInk, 0) << "a second colour would be lost to the tint";
        }
        // Drawn with the tint, the shape keeps its coverage and takes the tint's colour.
        auto context = GraphicsContext::image(image->size(), false, 2).value();
        context->drawImage(*image->withTintColor(tint), Rect{{0, 0}, image->size()});
        auto tinted = context->makeImage()->bitmap();
        int64_t painted = 0, offTint = 0;
        for (int y = 0; y < tinted->height(); ++y) {
            for (int x = 0; x < tinted->width(); ++x) {
                auto p = tinted->rgbaAt(x, y);
                if (p[3] == 0) continue;
                ++painted;
                if (p[3] > 64 && (p[0] > 8 || std::abs(p[1] - 122) > 8 || p[2] < 247)) ++offTint;
            }
        }
        EXPECT_EQ(painted, original.painted);
        EXPECT_EQ(offTint, 0);
    }
}

TEST_F(Drawings, SwipeIconsTintedWhiteKeepTheirHoles) {
    // The read marker's pupil is cut out of the eye: after the white tint used on the swipe
    // buttons the cut stays clear, so the button's colour shows through it.
    ImagePtr white = imageTintedWithColor(imageNamed("ra_MarkRead", 2), Color::whiteColor());
    ASSERT_TRUE(white);
    auto bitmap = white->bitmap();
    // The eye's centre is the pupil (filled), the ring around it is the cut.
    EXPECT_EQ(bitmap->rgbaAt(28, 28), (std::array<uint8_t, 4>{255, 255, 255, 255}));
    EXPECT_EQ(bitmap->rgbaAt(28 + 6, 28)[3], 0);
    EXPECT_EQ(bitmap->rgbaAt(28 + 15, 28), (std::array<uint8_t, 4>{255, 255, 255, 255}));
}

TEST_F(Drawings, TwoDigitCirclesKeepInkBetweenTheirDigits) {
    // The digits are cut out of the filled circle: between the two a column of ink must stand
    // from the top of the digits to their bottom, or they read as one blot at 24 points.
    for (const auto& name : numberedCircles()) {
        if (name.find('.') < 2) continue;
        SCOPED_TRACE(name);
        ImagePtr symbol = systemImageNamed(name, 24, 2);
        ASSERT_TRUE(symbol);
        auto b = symbol->bitmap();
        // The digits' band: rows 9 to 15 points, within the cut-outs' height of 7.5.
        const int top = 9 * 2, bottom = 15 * 2;
        bool solidColumn = false;
        for (int x = 10 * 2; x <= 14 * 2 && !solidColumn; ++x) {
            bool solid = true;
            for (int y = top; y <= bottom && solid; ++y) solid = b->rgbaAt(x, y)[3] > 200;
            solidColumn = solid;
        }
        EXPECT_TRUE(solidColumn) << "the two digits touch";
        // And each digit is cut: the band holds clear pixels on both sides of the middle.
        int clearLeft = 0, clearRight = 0;
        for (int y = top; y <= bottom; ++y)
            for (int x = 4 * 2; x < 20 * 2; ++x)
                if (b->rgbaAt(x, y)[3] < 50) (x < 12 * 2 ? clearLeft : clearRight)++;
        EXPECT_GT(clearLeft, 20);
        EXPECT_GT(clearRight, 20);
    }
}

TEST_F(Drawings, ContactSheetMatchesItsGolden) {
    // Every drawing in a 40-point cell, images scaled to fit 32 points, symbols at 24, on a light
    // grey ground so that white drawings show.
    std::vector<ImagePtr> sheet;
    for (const Drawing& d : kImages) sheet.push_back(imageNamed(d.name, 2));
    for (const Drawing& d : kSymbols) sheet.push_back(systemImageNamed(d.name, 24, 2));
    for (const auto& n : numberedCircles()) sheet.push_back(systemImageNamed(n, 24, 2));
    const int columns = 12, cell = 40;
    const int rows = (static_cast<int>(sheet.size()) + columns - 1) / columns;
    auto context = GraphicsContext::image(Size{double(columns * cell), double(rows * cell)}, true, 2).value();
    context->setFillColor(Color::white(0.93));
    context->fillRect(Rect{{0, 0}, context->size()});
    for (size_t i = 0; i < sheet.size(); ++i) {
        ASSERT_TRUE(sheet[i]);
        const Size s = sheet[i]->size();
        const double k = std::min({1.0, 32 / s.width, 32 / s.height});
        const Size drawn{s.width * k, s.height * k};
        const double x = double(i % columns) * cell + (cell - drawn.width) / 2;
        const double y = double(i / columns) * cell + (cell - drawn.height) / 2;
        context->drawImage(*sheet[i], Rect{{x, y}, drawn});
    }
    hxtest::expectMatchesGolden(*context->makeImage()->bitmap(), "drawings_contact_sheet");
}

TEST_F(Drawings, StretchedDrawingsAreUniformWhereTheirCapsLetThemStretch) {
    // The caps the screens give each stretched drawing (points: top, left, bottom, right); the
    // rows and columns between them are repeated when stretched, so each must be one profile.
    struct Stretch {
        const char* name;
        EdgeInsets caps;
    };
    const Stretch stretches[] = {
        {"BalloonFlat", {17, 20, 17, 27}},
        {"textbg", {13, 6, 27 - 13 - 1, 13 - 6 - 1}},
        {"SearchShadow", {19, 0, 0, 4 - 1}},
        {"toolbarbg", {20, 5, 40 - 20 - 2, 10 - 5 - 2}},
    };
    const int k = 2;
    for (const Stretch& s : stretches) {
        SCOPED_TRACE(s.name);
        ImagePtr image = imageNamed(s.name, k);
        ASSERT_TRUE(image);
        auto b = image->bitmap();
        const int left = int(s.caps.left) * k, right = b->width() - int(s.caps.right) * k;
        const int top = int(s.caps.top) * k, bottom = b->height() - int(s.caps.bottom) * k;
        ASSERT_LT(left, right) << "no column left to stretch";
        ASSERT_LT(top, bottom) << "no row left to stretch";
        int64_t unevenColumns = 0, unevenRows = 0;
        for (int y = 0; y < b->height(); ++y) {
            for (int x = left + 1; x < right; ++x) unevenColumns += b->rgbaAt(x, y) != b->rgbaAt(left, y);
        }
        for (int x = 0; x < b->width(); ++x) {
            for (int y = top + 1; y < bottom; ++y) unevenRows += b->rgbaAt(x, y) != b->rgbaAt(x, top);
        }
        EXPECT_EQ(unevenColumns, 0);
        EXPECT_EQ(unevenRows, 0);
    }
}
