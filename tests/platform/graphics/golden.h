// Golden pictures for the graphics tests: compare a bitmap with tests/platform/graphics/snapshots/NAME.png;
// on a mismatch write NAME.actual.png and NAME.diff.png beside the test's output; with
// HX_UPDATE_SNAPSHOTS=1 rewrite the golden instead.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "platform/foundation/files.h"
#include "platform/graphics/bitmap_compare.h"
#include "platform/graphics/codecs.h"
#include "tests/support/test_support.h"

namespace hxtest {

inline void expectMatchesGolden(const graphics::Bitmap& actual, const std::string& name) {
    const auto golden = sourceDir() / "tests" / "platform" / "graphics" / "snapshots" / (name + ".png");
    const char* update = std::getenv("HX_UPDATE_SNAPSHOTS");
    if (update && std::string(update) == "1") {
        std::filesystem::create_directories(golden.parent_path());
        ASSERT_TRUE(foundation::files::writeAtomically(golden, graphics::encodePNG(actual).value()).ok());
        return;
    }
    auto bytes = foundation::files::readData(golden);
    ASSERT_TRUE(bytes.ok()) << "no golden " << golden << " (run with HX_UPDATE_SNAPSHOTS=1 to write it)";
    auto expected = graphics::decodePNG(bytes->data(), bytes->size());
    ASSERT_TRUE(expected.ok()) << golden;
    const graphics::BitmapComparison c = graphics::compareBitmaps(actual, **expected);
    if (c.matches()) return;
    const auto out = std::filesystem::path(HX_BINARY_DIR) / "tests" / "platform" / "graphics" / "snapshot-failures";
    std::filesystem::create_directories(out);
    (void)foundation::files::writeAtomically(out / (name + ".actual.png"), graphics::encodePNG(actual).value());
    if (c.difference) {
        (void)foundation::files::writeAtomically(out / (name + ".diff.png"),
                                                 graphics::encodePNG(*c.difference).value());
    }
    ADD_FAILURE() << name << ": "
                  << (c.sameSize ? std::to_string(c.differingPixels) + " of " + std::to_string(c.totalPixels) +
                                       " pixels differ"
                                 : std::string("sizes differ"))
                  << "; actual and difference in " << out;
}

}  // namespace hxtest
