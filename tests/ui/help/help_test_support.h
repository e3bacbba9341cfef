// What the help area's screen tests share: their goldens, compared by outline and by pixels.
#pragma once

#include <filesystem>
#include <string>

#include "platform/toolkit/renderer.h"
#include "platform/toolkit/testing/harness.h"

namespace helptest {

inline const std::filesystem::path kHere = std::filesystem::path(HX_SOURCE_DIR) / "tests/ui/help";

// The window against golden/NAME.txt and snapshots/NAME.png: empty when both match, else what
// differs.
inline std::string compareWithGoldens(toolkit::testing::Harness& harness, const std::string& name) {
    std::string differences = harness.compareOutline(kHere / "golden" / (name + ".txt"));
    auto pixels = toolkit::snapshot(harness.window(), 1);
    if (!pixels) return differences + "\nthe window could not be drawn";
    auto result = toolkit::compareWithGolden(*pixels, kHere / "snapshots" / (name + ".png"),
                                             std::filesystem::path(HX_BINARY_DIR) / "tests/ui/help/failures");
    if (!result.matches) differences += "\n" + result.message;
    return differences;
}

}  // namespace helptest
