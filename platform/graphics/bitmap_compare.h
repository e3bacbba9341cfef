// Comparing two pictures as a reviewer would: a pixel differs when any channel (straight RGBA)
// differs by more than a tolerance, and the pictures match while few enough pixels differ. Gives
// a difference picture for people to look at.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "platform/graphics/bitmap.h"

namespace graphics {

struct BitmapComparison {
    bool sameSize = false;
    int64_t differingPixels = 0;
    int64_t totalPixels = 0;
    // Differing pixels in red over a faded copy of the expected picture; null when sizes differ.
    std::shared_ptr<Bitmap> difference;
    bool matches(double maximumFraction = 0.001) const {
        return sameSize && static_cast<double>(differingPixels) <= maximumFraction * static_cast<double>(totalPixels);
    }
};

BitmapComparison compareBitmaps(const Bitmap& actual, const Bitmap& expected, int channelTolerance = 8);

// Compares pixels with a golden PNG by compareBitmaps' defaults. On a mismatch NAME.actual.png and
// NAME.diff.png are written into failureDirectory; while goldens are being updated the golden is
// rewritten instead.
struct GoldenComparison {
    bool matches = false;
    std::string message;
};
GoldenComparison compareWithGolden(const Bitmap& actual, const std::filesystem::path& golden,
                                   const std::filesystem::path& failureDirectory);

// The one switch for every golden, pictures and outlines alike: HX_UPDATE_GOLDENS=1 in the
// environment rewrites them instead of comparing.
bool updatingGoldens();

}  // namespace graphics
