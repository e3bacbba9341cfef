#include "tests/support/goldens.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>

#include "platform/graphics/graphics_context.h"
#include "platform/graphics/text_layout.h"

#include "platform/toolkit/font_text_measurer.h"
#include "platform/toolkit/renderer.h"
#include "platform/toolkit/text_metrics.h"
#include "tests/support/test_support.h"

namespace hxtest {

namespace {

// The running test's folder relative to the repository. The compiler may name the file relative
// to the build folder (a compiler cache rewrites paths below its base), so the path is matched
// from its end: the longest tail that names a folder under tests/ of this checkout.
std::filesystem::path testFolder() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    if (!info || !info->file()) return {};
    const std::filesystem::path file = std::filesystem::path(info->file()).lexically_normal();
    std::vector<std::filesystem::path> parts(file.begin(), file.end());
    for (size_t i = 0; i < parts.size(); ++i) {
        if (parts[i] != "tests") continue;
        std::filesystem::path relative;
        for (size_t j = i; j + 1 < parts.size(); ++j) relative /= parts[j];
        if (std::filesystem::is_directory(sourceDir() / relative)) return relative;
    }
    ADD_FAILURE() << "the test's file " << file << " is not under " << sourceDir() / "tests";
    return "tests";
}

// The contrast report (HX_CONTRAST_REPORT names the file it is added to): every run of text a
// snapshot draws below 4.5:1 against the colour behind it, one tab-separated line each: picture,
// its width in points, text, text colour, background colour, ratio. The background is the most
// common pixel under the run's line as it stands just before the text is drawn; the text colour
// is the run's, laid over it by its alpha. Text drawn into a piece with no opaque background
// (an icon, a kept picture) is left out.
double relativeLuminance(double r, double g, double b) {
    auto linear = [](double c) { return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); };
    return 0.2126 * linear(r) + 0.7152 * linear(g) + 0.0722 * linear(b);
}

std::string hexColour(double r, double g, double b) {
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", static_cast<int>(std::lround(r * 255)),
                  static_cast<int>(std::lround(g * 255)), static_cast<int>(std::lround(b * 255)));
    return text;
}

struct LowContrast {
    std::string text, foreground, background;
    double ratio = 0;
};

std::optional<LowContrast> measureContrast(graphics::GraphicsContext& c, const std::string& text,
                                           const graphics::Color& colour, const graphics::Rect& line) {
    if (text.find_first_not_of(" \t\n") == std::string::npos) return std::nullopt;
    const graphics::Rect shown = line.intersection(c.clipBoundingBox());
    if (shown.width() <= 0 || shown.height() <= 0) return std::nullopt;
    const graphics::AffineTransform m = c.ctm();
    const graphics::Bitmap& pixels = c.pixels();
    const int x0 = std::max(0, static_cast<int>(std::floor(m.a * shown.minX() + m.tx)));
    const int x1 = std::min(pixels.width(), static_cast<int>(std::ceil(m.a * shown.maxX() + m.tx)));
    const int y0 = std::max(0, static_cast<int>(std::floor(m.d * shown.minY() + m.ty)));
    const int y1 = std::min(pixels.height(), static_cast<int>(std::ceil(m.d * shown.maxY() + m.ty)));
    if (x1 <= x0 || y1 <= y0) return std::nullopt;
    std::map<uint32_t, int> counts;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) ++counts[pixels.row(y)[x]];
    const auto mode = std::max_element(counts.begin(), counts.end(),
                                       [](const auto& a, const auto& b) { return a.second < b.second; });
    const auto bg = graphics::Bitmap::unpremultiplied(mode->first);
    if (bg[3] < 250) return std::nullopt;
    const double br = bg[0] / 255.0, bgG = bg[1] / 255.0, bb = bg[2] / 255.0;
    const graphics::RGBA fg = colour.rgbaFor(c.userInterfaceStyle());
    const double a = std::clamp(fg.alpha, 0.0, 1.0);
    const double fr = fg.red * a + br * (1 - a), fgG = fg.green * a + bgG * (1 - a), fb = fg.blue * a + bb * (1 - a);
    const double l1 = relativeLuminance(fr, fgG, fb), l2 = relativeLuminance(br, bgG, bb);
    const double ratio = (std::max(l1, l2) + 0.05) / (std::min(l1, l2) + 0.05);
    if (ratio >= 4.5) return std::nullopt;
    return LowContrast{text, hexColour(fr, fgG, fb), hexColour(br, bgG, bb), ratio};
}

// Draws the view as the snapshot does, adding its low-contrast texts to the report when one is asked for.
std::shared_ptr<graphics::Bitmap> snapshotWithContrastReport(toolkit::View& view, const std::string& name,
                                                             double scale) {
    const char* report = std::getenv("HX_CONTRAST_REPORT");
    if (!report || !*report) return toolkit::snapshot(view, scale);
    std::vector<LowContrast> found;
    graphics::setTextRunWatcher([&](graphics::GraphicsContext& c, const std::string& text,
                                    const graphics::Color& colour, const graphics::Rect& line) {
        if (auto low = measureContrast(c, text, colour, line)) {
            for (const auto& f : found)
                if (f.text == low->text && f.foreground == low->foreground && f.background == low->background) return;
            found.push_back(std::move(*low));
        }
    });
    auto pixels = toolkit::snapshot(view, scale);
    graphics::setTextRunWatcher(nullptr);
    std::ofstream out(report, std::ios::app);
    for (const auto& f : found) {
        char ratio[16];
        std::snprintf(ratio, sizeof ratio, "%.2f", f.ratio);
        out << name << '\t' << view.bounds().width() << '\t' << f.text << '\t' << f.foreground << '\t' << f.background
            << '\t' << ratio << '\n';
    }
    return pixels;
}

}  // namespace

std::filesystem::path goldenFolder() { return sourceDir() / testFolder() / "golden"; }

std::filesystem::path failureFolder() { return std::filesystem::path(HX_BINARY_DIR) / testFolder() / "failures"; }

UsingFonts::UsingFonts() { toolkit::setTextMeasurer(&toolkit::FontTextMeasurer::shared()); }
UsingFonts::~UsingFonts() { toolkit::setTextMeasurer(nullptr); }

void expectOutline(toolkit::testing::Harness& harness, const std::string& name,
                   const toolkit::OutlineOptions& options) {
    const std::string difference = harness.compareOutline(goldenFolder() / (name + ".txt"), options);
    EXPECT_EQ(difference, "") << name;
}

void expectSnapshot(const graphics::Bitmap& pixels, const std::string& name) {
    const toolkit::SnapshotComparison c =
        toolkit::compareWithGolden(pixels, goldenFolder() / (name + ".png"), failureFolder());
    EXPECT_TRUE(c.matches) << name << ": " << c.message;
}

void expectSnapshot(toolkit::View& view, const std::string& name, double scale) {
    toolkit::flushLayout();
    auto pixels = snapshotWithContrastReport(view, name, scale);
    ASSERT_TRUE(pixels) << name << ": the view cannot be drawn";
    expectSnapshot(*pixels, name);
}

void expectSnapshotInLightAndDark(const std::string& name,
                                  const std::function<toolkit::View*(toolkit::InterfaceStyle)>& show, double scale) {
    for (toolkit::InterfaceStyle style : {toolkit::InterfaceStyle::light, toolkit::InterfaceStyle::dark}) {
        const std::string named = name + (style == toolkit::InterfaceStyle::dark ? "_dark" : "_light");
        SCOPED_TRACE(named);
        toolkit::View* view = show(style);
        ASSERT_NE(view, nullptr);
        expectSnapshot(*view, named, scale);
    }
}

}  // namespace hxtest
