// Images: shared and immutable once made. An image is either encoded bytes (PNG, JPEG, GIF, BMP
// header-checked at creation and decoded on first use of its pixels) or a bitmap drawn by a
// context, shown at a scale (pixels per point) and an orientation, with a rendering mode, cap
// insets for stretching and, for named and symbol images, the name it was made from.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/foundation/error.h"
#include "platform/foundation/value.h"
#include "platform/graphics/bitmap.h"
#include "platform/graphics/color.h"
#include "platform/graphics/geometry.h"

namespace graphics {

struct ImageHeader {
    int64_t pixelWidth = 0;
    int64_t pixelHeight = 0;
    std::string format;  // "public.png", "public.jpeg", "com.compuserve.gif", "public.bmp"
    // The orientation recorded in a JPEG's Exif block (1-8), 1 when none.
    int exifOrientation = 1;
};

// The format and pixel size of PNG, JPEG, GIF and BMP data; an error for anything else, for
// truncated headers and for a zero size. Every read is bounds-checked.
foundation::Result<ImageHeader> readImageHeader(const uint8_t* bytes, size_t length);

// The codes are the order the stored pixels are turned to appear upright.
enum class ImageOrientation {
    up = 0,
    down = 1,
    left = 2,
    right = 3,
    upMirrored = 4,
    downMirrored = 5,
    leftMirrored = 6,
    rightMirrored = 7
};
// The orientation of a JPEG Exif orientation value; up for values outside 1-8.
ImageOrientation orientationFromExif(int exif);

enum class RenderingMode { automatic, alwaysOriginal, alwaysTemplate };
enum class ResizingMode { tile, stretch };

class Image;
using ImagePtr = std::shared_ptr<const Image>;

class Image {
public:
    // Header-checked encoded bytes; the pixels are decoded on first use. A JPEG's Exif
    // orientation becomes the image's orientation. Scale must be positive.
    static foundation::Result<ImagePtr> fromEncoded(foundation::Data bytes, double scale = 1);
    static ImagePtr fromBitmap(std::shared_ptr<const Bitmap> bitmap, double scale = 1,
                               ImageOrientation orientation = ImageOrientation::up);

    // Size in points, the orientation applied (left and right swap width and height).
    Size size() const;
    double width() const { return size().width; }
    double height() const { return size().height; }
    double scale() const { return scale_; }
    // The stored pixels' size, before orientation.
    int64_t pixelWidth() const;
    int64_t pixelHeight() const;
    ImageOrientation orientation() const { return orientation_; }
    RenderingMode renderingMode() const { return renderingMode_; }
    const EdgeInsets& capInsets() const { return capInsets_; }
    ResizingMode resizingMode() const { return resizingMode_; }
    bool isResizable() const { return capInsets_ != EdgeInsets{}; }
    const std::optional<Color>& tintColor() const { return tintColor_; }
    // "" for drawn images.
    const std::string& format() const;
    // The bytes it was made from; empty for drawn images.
    const foundation::Data& encoded() const;
    // The name a named or symbol image was made from; "" otherwise.
    const std::string& name() const { return name_; }
    bool isSymbol() const { return symbol_; }

    // The pixels, decoded once (safe from any thread); null when they cannot be decoded.
    std::shared_ptr<const Bitmap> bitmap() const;
    // The pixels as shown: bitmap() turned by the orientation (itself for up). Made once per
    // orientation and kept with the pixels, which every copy of the image shares.
    std::shared_ptr<const Bitmap> uprightBitmap() const;
    // Why bitmap() is null.
    std::optional<foundation::Error> decodeError() const;

    // Copies that share the pixels.
    ImagePtr withRenderingMode(RenderingMode mode) const;
    ImagePtr withTintColor(const Color& color) const;  // also template rendering
    ImagePtr resizableWithCapInsets(const EdgeInsets& insets, ResizingMode mode = ResizingMode::tile) const;
    ImagePtr stretchable(int leftCapWidth, int topCapHeight) const;
    ImagePtr withOrientation(ImageOrientation orientation) const;
    ImagePtr withScale(double scale) const;
    // The mirror image's orientation (up <-> upMirrored, left <-> rightMirrored, ...).
    ImagePtr withHorizontallyFlippedOrientation() const;
    ImagePtr withName(std::string name, bool symbol) const;
    // The same picture, the same size in points, from fewer pixels: for drawing it no larger than
    // `pixels` (upright). Encoded PNG and JPEG pictures at least twice as large each way are
    // decoded reduced for the copy, never whole (see decodePNGReduced); a GIF that large is drawn
    // from whole pixels only under kReducedWholePixelLimit. Others are themselves. Null when the
    // reduced pixels cannot be had.
    ImagePtr reducedFor(Size pixels) const;

    // Encoded bytes for archives: the original bytes, or PNG for drawn images.
    foundation::Result<foundation::Data> archivedData() const;
    // A dictionary of plain values ("pixelWidth", "pixelHeight", "scale", "format", "data" and,
    // when it differs from the bytes' own, "orientation"), and back. fromDictionary refuses missing or mistyped entries
    // and a size or format that does not match the bytes' header.
    foundation::Dictionary toDictionary() const;
    static foundation::Result<ImagePtr> fromDictionary(const foundation::Dictionary& dictionary);

    // Same pixel source (the same or equal encoded bytes, or the same bitmap) and the same
    // presentation.
    friend bool operator==(const Image& a, const Image& b);

    struct Source;

private:
    Image() = default;
    std::shared_ptr<Source> source_;
    double scale_ = 1;
    ImageOrientation orientation_ = ImageOrientation::up;
    RenderingMode renderingMode_ = RenderingMode::automatic;
    EdgeInsets capInsets_;
    ResizingMode resizingMode_ = ResizingMode::tile;
    std::optional<Color> tintColor_;
    std::string name_;
    bool symbol_ = false;
};

// The pixels of encoded data: PNG, JPEG, GIF (first frame) or BMP; see codecs.h.
foundation::Result<std::shared_ptr<Bitmap>> decodeImage(const uint8_t* bytes, size_t length);

}  // namespace graphics
