// Where the toolkit's snapshot tests keep their golden PNGs and write what failed, and the
// bundled fonts measuring text for the duration of a test.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "platform/toolkit/font_text_measurer.h"
#include "platform/toolkit/renderer.h"
#include "platform/toolkit/text_metrics.h"
#include "platform/toolkit/window.h"
#include "tests/support/test_support.h"

namespace toolkit_snapshots {

inline std::filesystem::path golden(const std::string& name) {
    return hxtest::sourceDir() / "tests" / "platform" / "toolkit" / "snapshots" / (name + ".png");
}

inline std::filesystem::path failures() {
    return std::filesystem::path(HX_BINARY_DIR) / "tests" / "platform" / "toolkit" / "snapshot-failures";
}

struct UsingFonts {
    UsingFonts() { toolkit::setTextMeasurer(&toolkit::FontTextMeasurer::shared()); }
    ~UsingFonts() { toolkit::setTextMeasurer(nullptr); }
};

// A panel made by make, placed in a phone window in light and then dark appearance and drawn at
// 2x, against the goldens "<prefix>_light_2x" and "<prefix>_dark_2x".
inline void expectGoldensInLightAndDarkAt2x(const std::function<std::shared_ptr<toolkit::View>()>& make,
                                            const std::string& prefix) {
    using toolkit::InterfaceStyle;
    UsingFonts fonts;
    for (InterfaceStyle style : {InterfaceStyle::light, InterfaceStyle::dark}) {
        toolkit::Window window(toolkit::ScreenProfile::iPhone8());
        window.setInterfaceStyle(style);
        auto panel = make();
        window.addSubview(panel);
        auto pixels = toolkit::snapshot(*panel, 2);
        ASSERT_TRUE(pixels);
        const std::string name = prefix + (style == InterfaceStyle::dark ? "_dark" : "_light") + "_2x";
        const toolkit::SnapshotComparison c = toolkit::compareWithGolden(*pixels, golden(name), failures());
        EXPECT_TRUE(c.matches) << c.message;
    }
}

}  // namespace toolkit_snapshots
