#include "platform/graphics/bitmap_compare.h"

#include <cstdlib>
#include <string>

#include "platform/foundation/files.h"
#include "platform/graphics/codecs.h"

namespace graphics {

BitmapComparison compareBitmaps(const Bitmap& actual, const Bitmap& expected, int tolerance) {
    BitmapComparison result;
    result.totalPixels = int64_t(expected.width()) * expected.height();
    result.sameSize = actual.width() == expected.width() && actual.height() == expected.height();
    if (!result.sameSize) return result;
    auto made = Bitmap::make(expected.width(), expected.height());
    if (made.ok()) result.difference = *made;
    for (int y = 0; y < expected.height(); ++y) {
        for (int x = 0; x < expected.width(); ++x) {
            const auto a = actual.rgbaAt(x, y), e = expected.rgbaAt(x, y);
            bool differs = false;
            for (int c = 0; c < 4; ++c) differs = differs || std::abs(int(a[c]) - int(e[c])) > tolerance;
            if (differs) ++result.differingPixels;
            if (result.difference) {
                if (differs) {
                    result.difference->setRGBA(x, y, 255, 0, 0, 255);
                } else {
                    const uint8_t grey = static_cast<uint8_t>((e[0] + e[1] + e[2]) / 3 / 4 + 191);
                    result.difference->setRGBA(x, y, grey, grey, grey, 255);
                }
            }
        }
    }
    return result;
}

bool updatingGoldens() {
    const char* update = std::getenv("HX_UPDATE_GOLDENS");
    return update && std::string(update) == "1";
}

GoldenComparison compareWithGolden(const graphics::Bitmap& actual, const std::filesystem::path& golden,
                                   const std::filesystem::path& failureDirectory) {
    auto png = graphics::encodePNG(actual);
    if (!png.ok()) return {false, "cannot encode the snapshot"};
    if (updatingGoldens()) {
        std::error_code ec;
        std::filesystem::create_directories(golden.parent_path(), ec);
        auto written = foundation::files::writeAtomically(golden, *png);
        return {written.ok(), written.ok() ? "golden rewritten" : "cannot write " + golden.string()};
    }
    auto bytes = foundation::files::readData(golden);
    if (!bytes.ok()) return {false, "no golden " + golden.string() + " (HX_UPDATE_GOLDENS=1 writes it)"};
    auto expected = graphics::decodePNG(bytes->data(), bytes->size());
    if (!expected.ok()) return {false, "unreadable golden " + golden.string()};
    const graphics::BitmapComparison c = graphics::compareBitmaps(actual, **expected);
    if (c.matches()) return {true, {}};
    std::error_code ec;
    std::filesystem::create_directories(failureDirectory, ec);
    const std::string stem = golden.stem().string();
    (void)foundation::files::writeAtomically(failureDirectory / (stem + ".actual.png"), *png);
    if (c.difference) {
        if (auto diff = graphics::encodePNG(*c.difference); diff.ok()) {
            (void)foundation::files::writeAtomically(failureDirectory / (stem + ".diff.png"), *diff);
        }
    }
    return {false, stem + ": " +
                       (c.sameSize ? std::to_string(c.differingPixels) + " of " + std::to_string(c.totalPixels) +
                                         " pixels differ"
                                   : std::string("sizes differ")) +
                       "; actual and difference written to " + failureDirectory.string()};
}

}  // namespace graphics
