// Pictures of one colour and GIFs of an exact size to feed the screens, and reading drawn pixels as
// a person would look at them: the contrast between two colours (the ratio of their relative
// luminances, 1 to 21) and the ink inside a rectangle, meaning the pixels that stand out from a
// background colour.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

#include "platform/graphics/bitmap.h"
#include "platform/graphics/codecs.h"
#include "platform/graphics/geometry.h"

namespace hxtest {

using RGBA8 = std::array<uint8_t, 4>;

// Opaque primaries as Bitmap::rgbaAt reads them.
inline constexpr RGBA8 kRed{255, 0, 0, 255};
inline constexpr RGBA8 kBlue{0, 0, 255, 255};

// A PNG of one colour, given as 0xRRGGBBAA (the order of Bitmap::rgbaAt, not the bitmap's own
// premultiplied ARGB words). The one maker of such pictures for every test binary: two inline
// makers of the same name and signature would be one function to the linker, which keeps either
// body, so a test could draw with the other one's byte order depending on the build.
inline foundation::Data pngOf(int width, int height, uint32_t rgba) {
    auto bitmap = graphics::Bitmap::make(width, height).value();
    const auto byte = [rgba](int shift) { return static_cast<uint8_t>((rgba >> shift) & 0xff); };
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) bitmap->setRGBA(x, y, byte(24), byte(16), byte(8), byte(0));
    return graphics::encodePNG(*bitmap).value();
}

// A GIF of exactly `size` bytes (at least 64): one pixel, padded with a comment.
inline foundation::Data gifOfSize(size_t size) {
    const foundation::Data head = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0x80, 0, 0, 0, 0, 0, 255, 255, 255};
    const foundation::Data tail = {0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0, 0x02, 0x02, 0x44, 0x01, 0x00, 0x3B};
    foundation::Data gif;
    gif.reserve(size);
    gif.insert(gif.end(), head.begin(), head.end());
    const uint8_t comment[] = {0x21, 0xFE};
    gif.insert(gif.end(), std::begin(comment), std::end(comment));
    size_t room = size - head.size() - tail.size() - 3;  // the comment's blocks, each 1 + length
    while (room > 0) {
        size_t block = std::min<size_t>(255, room - 1);
        if (room - (block + 1) == 1) --block;  // never leave a block of nothing
        gif.push_back(static_cast<uint8_t>(block));
        gif.insert(gif.end(), block, 'x');
        room -= block + 1;
    }
    gif.push_back(0);
    gif.insert(gif.end(), tail.begin(), tail.end());
    return gif;
}

inline double relativeLuminance(const RGBA8& p) {
    auto linear = [](uint8_t v) {
        const double c = v / 255.0;
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(p[0]) + 0.7152 * linear(p[1]) + 0.0722 * linear(p[2]);
}

inline double contrastRatio(const RGBA8& a, const RGBA8& b) {
    const double la = relativeLuminance(a), lb = relativeLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The largest difference in one of the colour channels.
inline int channelDistance(const RGBA8& a, const RGBA8& b) {
    int d = 0;
    for (int i = 0; i < 3; ++i) d = std::max(d, std::abs(int(a[i]) - int(b[i])));
    return d;
}

// The pixel under a point (in points, at the picture's scale).
inline RGBA8 pixelAt(const graphics::Bitmap& b, graphics::Point p, double scale) {
    const int x = std::clamp(static_cast<int>(p.x * scale), 0, b.width() - 1);
    const int y = std::clamp(static_cast<int>(p.y * scale), 0, b.height() - 1);
    return b.rgbaAt(x, y);
}

struct Ink {
    int count = 0;        // pixels further than the threshold from the background
    int farthest = 0;     // the largest channel distance found
    double contrast = 1;  // the strongest contrast of a pixel against the background
    RGBA8 strongest{};    // that pixel
};

// The pixels of a rectangle in points (at the picture's scale) that differ from background by more
// than threshold levels in a channel.
inline Ink inkIn(const graphics::Bitmap& b, const graphics::Rect& r, double scale, const RGBA8& background,
                 int threshold = 40) {
    Ink ink;
    const int x0 = std::max(0, static_cast<int>(std::ceil(r.minX() * scale)));
    const int y0 = std::max(0, static_cast<int>(std::ceil(r.minY() * scale)));
    const int x1 = std::min(b.width(), static_cast<int>(std::floor(r.maxX() * scale)));
    const int y1 = std::min(b.height(), static_cast<int>(std::floor(r.maxY() * scale)));
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) {
            const RGBA8 p = b.rgbaAt(x, y);
            const int d = channelDistance(p, background);
            ink.farthest = std::max(ink.farthest, d);
            if (d <= threshold) continue;
            ++ink.count;
            const double c = contrastRatio(p, background);
            if (c > ink.contrast) ink.contrast = c, ink.strongest = p;
        }
    }
    return ink;
}

}  // namespace hxtest
