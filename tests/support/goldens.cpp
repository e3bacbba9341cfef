#include "tests/support/goldens.h"

#include <gtest/gtest.h>

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
    auto pixels = toolkit::snapshot(view, scale);
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
