// PNG bytes from outside (picture messages): decoding fails cleanly or gives a bitmap within the
// pixel limit, of the size the header reader claims when it accepts the data (libpng also reads
// files whose first chunk is not the header, which the header reader refuses); what decodes
// encodes again and decodes to the same pixels.
#include <cstdint>
#include <cstdlib>

#include "platform/graphics/codecs.h"
#include "platform/graphics/image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    graphics::setDecodedPixelLimit(4'000'000);
    auto header = graphics::readImageHeader(data, size);
    auto bitmap = graphics::decodePNG(data, size);
    if (!bitmap.ok()) return 0;
    if (header.ok() && (header->pixelWidth != (*bitmap)->width() || header->pixelHeight != (*bitmap)->height())) {
        std::abort();
    }
    if ((*bitmap)->width() * int64_t((*bitmap)->height()) > graphics::decodedPixelLimit()) std::abort();
    auto png = graphics::encodePNG(**bitmap);
    if (!png.ok()) std::abort();
    auto again = graphics::decodePNG(png->data(), png->size());
    if (!again.ok() || !(**again == **bitmap)) std::abort();
    return 0;
}
