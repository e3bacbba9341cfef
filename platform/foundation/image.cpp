#include "platform/foundation/image.h"

#include <cmath>
#include <cstring>

namespace foundation {
namespace {

Error corrupt(const std::string& why) {
    return Error::withDescription(kCocoaErrorDomain, kImageCorruptError, "The image data is not usable: " + why + ".");
}

uint32_t be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }
uint16_t be16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[1] << 8 | p[0]); }
int32_t le32(const uint8_t* p) {
    return static_cast<int32_t>(uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0]);
}

Result<ImageHeader> sized(std::string format, int64_t w, int64_t h) {
    if (w <= 0 || h <= 0) return corrupt("zero size");
    return ImageHeader{w, h, std::move(format)};
}

Result<ImageHeader> readJPEG(const uint8_t* p, size_t n) {
    size_t i = 2;
    while (true) {
        // Markers may be preceded by any number of 0xFF fill bytes.
        if (i >= n || p[i] != 0xFF) return corrupt("truncated JPEG");
        while (i < n && p[i] == 0xFF) ++i;
        if (i >= n) return corrupt("truncated JPEG");
        const uint8_t marker = p[i++];
        if (marker == 0xD8 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) continue;
        if (marker == 0xD9 || marker == 0xDA) return corrupt("JPEG without a frame header");
        if (n - i < 2) return corrupt("truncated JPEG");
        const uint16_t len = be16(p + i);
        if (len < 2 || n - i < len) return corrupt("truncated JPEG segment");
        const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) {
            if (len < 7) return corrupt("short JPEG frame header");
            return sized("public.jpeg", be16(p + i + 5), be16(p + i + 3));
        }
        i += len;
    }
}

}  // namespace

Result<ImageHeader> readImageHeader(const uint8_t* p, size_t n) {
    if (!p || n == 0) return corrupt("no data");
    static const uint8_t pngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    if (n >= 8 && std::memcmp(p, pngSignature, 8) == 0) {
        if (n < 24 || std::memcmp(p + 12, "IHDR", 4) != 0) return corrupt("PNG without a header chunk");
        return sized("public.png", be32(p + 16), be32(p + 20));
    }
    if (n >= 6 && (std::memcmp(p, "GIF87a", 6) == 0 || std::memcmp(p, "GIF89a", 6) == 0)) {
        if (n < 10) return corrupt("truncated GIF");
        return sized("com.compuserve.gif", le16(p + 6), le16(p + 8));
    }
    if (n >= 3 && p[0] == 0xFF && p[1] == 0xD8 && p[2] == 0xFF) return readJPEG(p, n);
    if (n >= 2 && p[0] == 'B' && p[1] == 'M') {
        if (n < 26) return corrupt("truncated BMP");
        const int32_t headerSize = le32(p + 14);
        if (headerSize == 12) return sized("com.microsoft.bmp", le16(p + 18), le16(p + 20));
        if (headerSize < 40) return corrupt("unknown BMP header");
        // A negative height means the rows are stored top-down.
        const int64_t h = le32(p + 22);
        return sized("com.microsoft.bmp", le32(p + 18), h < 0 ? -h : h);
    }
    return corrupt("unknown format");
}

Result<Image> Image::fromEncoded(Data bytes, double scale) {
    if (!(scale > 0) || !std::isfinite(scale)) return corrupt("scale must be positive");
    auto header = readImageHeader(bytes.data(), bytes.size());
    if (!header.ok()) return header.error();
    Image image;
    image.pixelWidth = header->pixelWidth;
    image.pixelHeight = header->pixelHeight;
    image.scale = scale;
    image.format = header->format;
    image.encoded = std::move(bytes);
    return image;
}

Dictionary Image::toDictionary() const {
    return Dictionary{{"pixelWidth", pixelWidth},
                      {"pixelHeight", pixelHeight},
                      {"scale", scale},
                      {"format", format},
                      {"data", encoded}};
}

Result<Image> Image::fromDictionary(const Dictionary& d) {
    const Value& data = d.get("data");
    const Value& scale = d.get("scale");
    const Value& w = d.get("pixelWidth");
    const Value& h = d.get("pixelHeight");
    const Value& format = d.get("format");
    if (!data.isData() || !scale.isNumber() || !w.isInt() || !h.isInt() || !format.isString()) {
        return corrupt("missing or mistyped image fields");
    }
    auto image = fromEncoded(data.asData(), scale.doubleValue());
    if (!image.ok()) return image.error();
    if (image->pixelWidth != *w.ifInt() || image->pixelHeight != *h.ifInt() || image->format != format.asString()) {
        return corrupt("the recorded size or format does not match the data");
    }
    return image;
}

}  // namespace foundation
