// Encoding and decoding of PNG (libpng), JPEG (libjpeg-turbo) and GIF (giflib) from and to bytes
// in memory. Decoders check the claimed size against the pixel limit before allocating and turn
// every library error into an error value; truncated JPEG data gives the rows that arrived.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/foundation/value.h"
#include "platform/graphics/bitmap.h"

namespace graphics {

foundation::Result<std::shared_ptr<Bitmap>> decodePNG(const uint8_t* bytes, size_t length);
foundation::Result<std::shared_ptr<Bitmap>> decodeJPEG(const uint8_t* bytes, size_t length);
// The same pixels reduced while they are decoded, to at least `minWidth` x `minHeight` where the
// picture has that many, never whole in memory: a PNG averages blocks of a whole number of
// pixels row by row, a JPEG takes the decoder's own reduced scale (eighths). An interlaced PNG or
// a progressive JPEG must be held whole while decoding: those are decoded whole under
// kReducedWholePixelLimit only.
foundation::Result<std::shared_ptr<Bitmap>> decodePNGReduced(const uint8_t* bytes, size_t length, int64_t minWidth,
                                                             int64_t minHeight);
foundation::Result<std::shared_ptr<Bitmap>> decodeJPEGReduced(const uint8_t* bytes, size_t length, int64_t minWidth,
                                                              int64_t minHeight);
inline constexpr int64_t kReducedWholePixelLimit = 12'000'000;
// The error for a picture that would have to be decoded whole, over that limit, to be reduced.
inline foundation::Error tooLargeToReduceError(int64_t width, int64_t height) {
    return imageError(kImageTooLargeError, "too many pixels to decode whole for a smaller picture (" +
                                               std::to_string(width) + " x " + std::to_string(height) + ")");
}
// The first frame of a GIF, on its full canvas.
foundation::Result<std::shared_ptr<Bitmap>> decodeGIF(const uint8_t* bytes, size_t length);

// How hard the PNG writer compresses: Compact is the library's default (smallest files), Fast the
// quickest deflate level with one simple row filter (pictures written on the way, not kept).
enum class PNGCompression { Compact, Fast };

// RGBA, 8 bits per channel, not interlaced.
foundation::Result<foundation::Data> encodePNG(const Bitmap& bitmap,
                                               PNGCompression compression = PNGCompression::Compact);
// Quality 0-1 (mapped to the library's 0-100 scale, at least 1); alpha is composed over black,
// as an opaque format must.
foundation::Result<foundation::Data> encodeJPEG(const Bitmap& bitmap, double quality);
// An animated GIF of the frames (all of one size), looping for ever, each shown for `delay`
// seconds (in hundredths, as the format keeps it). Colours are quantised to a fixed palette of
// 6 x 6 x 6 levels; pixels less than half opaque are transparent.
foundation::Result<foundation::Data> encodeGIF(const std::vector<std::shared_ptr<Bitmap>>& frames, double delay);

}  // namespace graphics
