// Goldens of screen tests: what a window shows (its outline) and how it looks (a PNG), kept in the
// folder "golden" beside the test's own source file and rewritten, not compared, when
// HX_UPDATE_GOLDENS=1. A failed picture leaves NAME.actual.png and NAME.diff.png in the same
// folder under the build tree.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "platform/graphics/bitmap.h"
#include "platform/toolkit/outline.h"
#include "platform/toolkit/testing/harness.h"
#include "platform/toolkit/view.h"

namespace hxtest {

// "golden" beside the source file of the test that runs now.
std::filesystem::path goldenFolder();
// Where a failed picture of the running test leaves what it drew.
std::filesystem::path failureFolder();

// Text measured with the bundled fonts (what pictures are drawn with) while it lives.
struct UsingFonts {
    UsingFonts();
    ~UsingFonts();
    UsingFonts(const UsingFonts&) = delete;
    UsingFonts& operator=(const UsingFonts&) = delete;
};

// The window's outline against golden/NAME.txt (a test failure naming the first differing line).
void expectOutline(toolkit::testing::Harness& harness, const std::string& name,
                   const toolkit::OutlineOptions& options = {});

// The view drawn at scale (0: the screen's) against golden/NAME.png.
void expectSnapshot(toolkit::View& view, const std::string& name, double scale = 0);

// Pixels already drawn (at whatever scale) against golden/NAME.png.
void expectSnapshot(const graphics::Bitmap& pixels, const std::string& name);

// For the light and then the dark appearance, the view show(style) puts on screen for it, against
// golden/NAME_light.png and golden/NAME_dark.png.
void expectSnapshotInLightAndDark(const std::string& name,
                                  const std::function<toolkit::View*(toolkit::InterfaceStyle)>& show, double scale = 0);

}  // namespace hxtest
