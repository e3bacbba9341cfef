#include "platform/graphics/bitmap.h"

#include <atomic>

namespace graphics {
namespace {
constexpr int64_t kDefaultPixelLimit = 48'000'000;
std::atomic<int64_t> pixelLimit{kDefaultPixelLimit};
std::atomic<uint64_t> lastGeneration{0};
}  // namespace

int64_t decodedPixelLimit() { return pixelLimit.load(std::memory_order_relaxed); }
void setDecodedPixelLimit(int64_t pixels) {
    pixelLimit.store(pixels > 0 ? pixels : kDefaultPixelLimit, std::memory_order_relaxed);
}

foundation::Error imageError(int64_t code, const std::string& why) {
    return foundation::Error::withDescription(foundation::kCocoaErrorDomain, code,
                                              "The image data is not usable: " + why + ".");
}

foundation::Result<std::shared_ptr<Bitmap>> Bitmap::make(int64_t width, int64_t height) {
    if (width <= 0 || height <= 0) return imageError(kImageCorruptError, "zero size");
    // Cairo addresses rows with an int stride.
    if (width > (1 << 28) / 4 || height > (1 << 28) || width * height > decodedPixelLimit()) {
        return imageError(kImageTooLargeError,
                          "too many pixels (" + std::to_string(width) + " x " + std::to_string(height) + ")");
    }
    return std::shared_ptr<Bitmap>(new Bitmap(static_cast<int>(width), static_cast<int>(height)));
}

uint32_t Bitmap::premultiplied(uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
    auto mul = [a](uint8_t c) -> uint32_t {
        const uint32_t t = uint32_t(c) * a + 0x80;
        return (t + (t >> 8)) >> 8;
    };
    return uint32_t(a) << 24 | mul(r) << 16 | mul(g) << 8 | mul(b);
}

std::array<uint8_t, 4> Bitmap::unpremultiplied(uint32_t p) {
    const uint32_t a = p >> 24;
    if (a == 0) return {0, 0, 0, 0};
    auto div = [a](uint32_t c) { return static_cast<uint8_t>((c * 255 + a / 2) / a); };
    return {div(p >> 16 & 0xFF), div(p >> 8 & 0xFF), div(p & 0xFF), static_cast<uint8_t>(a)};
}

std::array<uint8_t, 4> Bitmap::rgbaAt(int x, int y) const { return unpremultiplied(row(y)[x]); }

void Bitmap::setRGBA(int x, int y, uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
    row(y)[x] = premultiplied(r, g, b, a);
}

std::shared_ptr<Bitmap> Bitmap::copy() const { return std::shared_ptr<Bitmap>(new Bitmap(*this)); }

uint64_t Bitmap::generation() const {
    uint64_t now = generation_.load(std::memory_order_relaxed);
    if (now != 0) return now;
    const uint64_t fresh = lastGeneration.fetch_add(1, std::memory_order_relaxed) + 1;
    return generation_.compare_exchange_strong(now, fresh, std::memory_order_relaxed) ? fresh : now;
}

}  // namespace graphics
