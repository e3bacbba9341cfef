#include "platform/graphics/bitmap_compare.h"

#include <cstdlib>

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

}  // namespace graphics
