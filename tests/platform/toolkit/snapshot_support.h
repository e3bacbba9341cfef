// Where the toolkit's snapshot tests keep their golden PNGs and write what failed, and the
// bundled fonts measuring text for the duration of a test.
#pragma once

#include <filesystem>
#include <string>

#include "platform/toolkit/font_text_measurer.h"
#include "platform/toolkit/text_metrics.h"
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

}  // namespace toolkit_snapshots
