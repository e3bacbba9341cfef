// Decoded pixels: premultiplied ARGB in one 32-bit word per pixel (alpha in the top byte, native
// byte order), rows packed without padding. This is the layout the drawing contexts draw into, so
// a bitmap is shared with them without copying.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/foundation/error.h"

namespace graphics {

// Decoders and contexts refuse to allocate more pixels than this (outside data may claim any size
// in a few header bytes). The default holds a 48-megapixel camera picture.
int64_t decodedPixelLimit();
// Tests and fuzzers lower it; 0 or less restores the default.
void setDecodedPixelLimit(int64_t pixels);

inline constexpr int64_t kImageCorruptError = 259;
inline constexpr int64_t kImageTooLargeError = 260;

class Bitmap {
public:
    // A transparent bitmap; an error for a size that is not positive or is past the pixel limit.
    static foundation::Result<std::shared_ptr<Bitmap>> make(int64_t width, int64_t height);

    int width() const { return width_; }
    int height() const { return height_; }
    int strideBytes() const { return width_ * 4; }
    // Pixels open to change, to be written before the bitmap is next drawn from: its generation
    // is new after them.
    uint32_t* row(int y) {
        opened();
        return pixels_.data() + static_cast<size_t>(y) * width_;
    }
    const uint32_t* row(int y) const { return pixels_.data() + static_cast<size_t>(y) * width_; }
    uint32_t* data() {
        opened();
        return pixels_.data();
    }
    const uint32_t* data() const { return pixels_.data(); }

    // Straight (not premultiplied) red, green, blue and alpha of one pixel.
    std::array<uint8_t, 4> rgbaAt(int x, int y) const;
    void setRGBA(int x, int y, uint8_t r, uint8_t g, uint8_t b, uint8_t a);
    static uint32_t premultiplied(uint8_t r, uint8_t g, uint8_t b, uint8_t a);
    static std::array<uint8_t, 4> unpremultiplied(uint32_t pixel);

    std::shared_ptr<Bitmap> copy() const;
    // A number for the pixels as they are: the same while nothing may have changed them, and none
    // that another bitmap, or this one's pixels before they were last opened to change, had.
    uint64_t generation() const;
    friend bool operator==(const Bitmap& a, const Bitmap& b) {
        return a.width_ == b.width_ && a.height_ == b.height_ && a.pixels_ == b.pixels_;
    }

private:
    Bitmap(int w, int h) : width_(w), height_(h), pixels_(static_cast<size_t>(w) * h) {}
    Bitmap(const Bitmap& other) : width_(other.width_), height_(other.height_), pixels_(other.pixels_) {}
    void opened() { generation_.store(0, std::memory_order_relaxed); }
    int width_;
    int height_;
    std::vector<uint32_t> pixels_;
    // None (0) until asked for after the pixels were made or opened to change.
    mutable std::atomic<uint64_t> generation_{0};
};

foundation::Error imageError(int64_t code, const std::string& why);

}  // namespace graphics
