// Operations that make new images from an image: upright redraw, resizing, JPEG under a byte
// limit, tinting, fitting to a box (crop or scale) and rounded corners. Each returns a new image
// (or, where noted, the image itself) and leaves its argument unchanged; null in, null out.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/foundation/value.h"
#include "platform/graphics/color.h"
#include "platform/graphics/geometry.h"
#include "platform/graphics/image.h"

namespace graphics {

// Encodings of the image's stored pixels (its orientation is not applied).
std::optional<foundation::Data> jpegRepresentation(const ImagePtr& image, double quality);
std::optional<foundation::Data> pngRepresentation(const ImagePtr& image);

// The image redrawn with orientation up into a bitmap of its point size (truncated to whole
// pixels) at scale 1; the image itself when it is already up.
ImagePtr imageWithFixedOrientationOfImage(const ImagePtr& image);

// The image drawn at its size times the factor, at its own scale.
ImagePtr resizedWithPercentage(const ImagePtr& image, double percentage);

// JPEG data at the quality, shrinking the picture by a tenth per round until the data is no
// longer than maxSize bytes; none when encoding fails or when the picture cannot shrink further
// (a limit below what a one-pixel JPEG needs would otherwise never be met).
std::optional<foundation::Data> UIImageJPEGRepresentationWithMaxSize(const ImagePtr& image, double maxSize,
                                                                     double compressionQuality);

// The image's shape filled with the colour, the image laid over it at `fraction` alpha when above
// 0; the image itself without a colour. Drawn at the main screen's scale.
ImagePtr imageTintedWithColor(const ImagePtr& image, const std::optional<Color>& color, double fraction = 0);

// Methods of fitting: 0 crop centred, 1 crop from the start, 2 crop from the end, 3 scale to fit
// (other values crop from the top left). The result is drawn at the main screen's scale; none for
// an empty box.
ImagePtr imageToFitSize(const ImagePtr& image, Size size, int method);
ImagePtr imageCroppedToFitSize(const ImagePtr& image, Size size);
ImagePtr imageScaledToFitSize(const ImagePtr& image, Size size);

// The image clipped to a rounded rectangle of its size, at its scale.
ImagePtr makeRoundedImageWithRadius(const ImagePtr& image, float radius);
// Rounded with the largest whole radius that fits: half the shorter side, rounded down.
ImagePtr makeRoundImage(const ImagePtr& image);

}  // namespace graphics
