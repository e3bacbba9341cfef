// Golden pictures for the graphics tests: a bitmap against tests/platform/graphics/golden/NAME.png
// (graphics::compareWithGolden: rewritten instead with HX_UPDATE_GOLDENS=1; on a mismatch the
// actual and difference pictures go beside the test's output).
#pragma once

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/graphics/bitmap_compare.h"
#include "tests/support/test_support.h"

namespace hxtest {

inline void expectMatchesGolden(const graphics::Bitmap& actual, const std::string& name) {
    const graphics::GoldenComparison c = graphics::compareWithGolden(
        actual, sourceDir() / "tests" / "platform" / "graphics" / "golden" / (name + ".png"),
        std::filesystem::path(HX_BINARY_DIR) / "tests" / "platform" / "graphics" / "failures");
    EXPECT_TRUE(c.matches) << c.message;
}

}  // namespace hxtest
