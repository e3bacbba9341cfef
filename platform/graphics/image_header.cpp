#include <cstring>

#include "platform/graphics/image.h"

namespace graphics {
namespace {

foundation::Error corruptHeader(const std::string& why) { return imageError(kImageCorruptError, why); }

uint32_t be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }
uint16_t be16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[1] << 8 | p[0]); }
int32_t le32(const uint8_t* p) {
    return static_cast<int32_t>(uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0]);
}

foundation::Result<ImageHeader> sized(std::string format, int64_t w, int64_t h) {
    if (w <= 0 || h <= 0) return corruptHeader("zero size");
    return ImageHeader{w, h, std::move(format)};
}

// The orientation tag (0x0112) of IFD0 in an APP1 "Exif" segment; 1 when absent or unreadable.
int exifOrientation(const uint8_t* p, size_t n) {
    if (n < 6 + 8 || std::memcmp(p, "Exif\0\0", 6) != 0) return 1;
    const uint8_t* tiff = p + 6;
    const size_t size = n - 6;
    const bool little = tiff[0] == 'I' && tiff[1] == 'I';
    if (!little && !(tiff[0] == 'M' && tiff[1] == 'M')) return 1;
    auto u16 = [&](size_t at) -> uint32_t { return little ? le16(tiff + at) : be16(tiff + at); };
    auto u32 = [&](size_t at) -> uint32_t { return little ? static_cast<uint32_t>(le32(tiff + at)) : be32(tiff + at); };
    const uint32_t ifd = u32(4);
    if (ifd > size || size - ifd < 2) return 1;
    const uint32_t count = u16(ifd);
    for (uint32_t i = 0; i < count; ++i) {
        const size_t entry = ifd + 2 + size_t(i) * 12;
        if (entry > size || size - entry < 12) return 1;
        if (u16(entry) == 0x0112 && u16(entry + 2) == 3) {
            const uint32_t v = u16(entry + 8);
            return v >= 1 && v <= 8 ? static_cast<int>(v) : 1;
        }
    }
    return 1;
}

foundation::Result<ImageHeader> readJPEG(const uint8_t* p, size_t n) {
    size_t i = 2;
    int orientation = 1;
    while (true) {
        // As the decoder does: bytes that are not a marker are skipped, markers may be preceded by
        // any number of 0xFF fill bytes, and 0xFF 0x00 is a stuffed byte, not a marker.
        while (i < n && p[i] != 0xFF) ++i;
        if (i >= n) return corruptHeader("truncated JPEG");
        while (i < n && p[i] == 0xFF) ++i;
        if (i >= n) return corruptHeader("truncated JPEG");
        const uint8_t marker = p[i++];
        if (marker == 0x00) continue;
        if (marker == 0xD8 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) continue;
        if (marker == 0xD9 || marker == 0xDA) return corruptHeader("JPEG without a frame header");
        if (n - i < 2) return corruptHeader("truncated JPEG");
        const uint16_t len = be16(p + i);
        if (len < 2 || n - i < len) return corruptHeader("truncated JPEG segment");
        if (marker == 0xE1) orientation = exifOrientation(p + i + 2, len - 2u);
        const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) {
            if (len < 7) return corruptHeader("short JPEG frame header");
            auto header = sized("public.jpeg", be16(p + i + 5), be16(p + i + 3));
            if (header.ok()) header->exifOrientation = orientation;
            return header;
        }
        i += len;
    }
}

}  // namespace

foundation::Result<ImageHeader> readImageHeader(const uint8_t* p, size_t n) {
    if (!p || n == 0) return corruptHeader("no data");
    static const uint8_t pngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    if (n >= 8 && std::memcmp(p, pngSignature, 8) == 0) {
        if (n < 24 || std::memcmp(p + 12, "IHDR", 4) != 0) return corruptHeader("PNG without a header chunk");
        return sized("public.png", be32(p + 16), be32(p + 20));
    }
    if (n >= 6 && (std::memcmp(p, "GIF87a", 6) == 0 || std::memcmp(p, "GIF89a", 6) == 0)) {
        if (n < 10) return corruptHeader("truncated GIF");
        return sized("com.compuserve.gif", le16(p + 6), le16(p + 8));
    }
    if (n >= 3 && p[0] == 0xFF && p[1] == 0xD8 && p[2] == 0xFF) return readJPEG(p, n);
    if (n >= 2 && p[0] == 'B' && p[1] == 'M') {
        if (n < 26) return corruptHeader("truncated BMP");
        const int32_t headerSize = le32(p + 14);
        if (headerSize == 12) return sized("public.bmp", le16(p + 18), le16(p + 20));
        if (headerSize < 40) return corruptHeader("unknown BMP header");
        // A negative height means the rows are stored top-down.
        const int64_t h = le32(p + 22);
        return sized("public.bmp", le32(p + 18), h < 0 ? -h : h);
    }
    return corruptHeader("unknown format");
}

ImageOrientation orientationFromExif(int exif) {
    switch (exif) {
        case 2:
            return ImageOrientation::upMirrored;
        case 3:
            return ImageOrientation::down;
        case 4:
            return ImageOrientation::downMirrored;
        case 5:
            return ImageOrientation::leftMirrored;
        case 6:
            return ImageOrientation::right;
        case 7:
            return ImageOrientation::rightMirrored;
        case 8:
            return ImageOrientation::left;
        default:
            return ImageOrientation::up;
    }
}

}  // namespace graphics
