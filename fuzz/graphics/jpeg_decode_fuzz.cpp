// JPEG bytes from outside (picture messages): decoding fails cleanly or gives a bitmap of the
// size the frame header claims, within the pixel limit, opaque in every pixel.
#include <cstdint>
#include <cstdlib>

#include "platform/graphics/codecs.h"
#include "platform/graphics/image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    graphics::setDecodedPixelLimit(4'000'000);
    auto bitmap = graphics::decodeJPEG(data, size);
    if (!bitmap.ok()) return 0;
    const graphics::Bitmap& b = **bitmap;
    if (int64_t(b.width()) * b.height() > graphics::decodedPixelLimit()) std::abort();
    for (int y = 0; y < b.height(); ++y) {
        for (int x = 0; x < b.width(); ++x) {
            if ((b.row(y)[x] >> 24) != 0xFF) std::abort();
        }
    }
    // The image type reads the same header the decoder did.
    auto image = graphics::Image::fromEncoded(foundation::Data(data, data + size));
    if (image.ok() && ((*image)->pixelWidth() != b.width() || (*image)->pixelHeight() != b.height())) std::abort();
    return 0;
}
