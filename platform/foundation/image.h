// An encoded image as a plain value (for cached thumbnails and archives): its pixel size, its
// scale (pixels per point), its encoded bytes and their format as a type identifier. No pixels
// are decoded here; the pixel size is read from the file header, with every read bounds-checked.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/foundation/error.h"
#include "platform/foundation/value.h"

namespace foundation {

inline constexpr int64_t kImageCorruptError = 259;

struct ImageHeader {
    int64_t pixelWidth = 0;
    int64_t pixelHeight = 0;
    std::string format;  // "public.png", "public.jpeg", "com.compuserve.gif", "com.microsoft.bmp"
};

// The format and pixel size of PNG, JPEG, GIF and BMP data; an error for anything else, for
// truncated headers and for a zero size.
Result<ImageHeader> readImageHeader(const uint8_t* bytes, size_t length);

struct Image {
    int64_t pixelWidth = 0;
    int64_t pixelHeight = 0;
    double scale = 1;
    std::string format;
    Data encoded;

    // Reads the header of bytes; scale must be positive.
    static Result<Image> fromEncoded(Data bytes, double scale = 1);

    // The size in points.
    double width() const { return scale > 0 ? static_cast<double>(pixelWidth) / scale : 0; }
    double height() const { return scale > 0 ? static_cast<double>(pixelHeight) / scale : 0; }
    bool empty() const { return encoded.empty(); }

    // A dictionary of plain values ("pixelWidth", "pixelHeight", "scale", "format", "data"), for
    // archives, and back. fromDictionary refuses missing or mistyped entries and a size that does
    // not match the bytes' header.
    Dictionary toDictionary() const;
    static Result<Image> fromDictionary(const Dictionary& dictionary);

    friend bool operator==(const Image&, const Image&) = default;
};

}  // namespace foundation
