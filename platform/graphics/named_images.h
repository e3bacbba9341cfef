// Images by name from the main bundle's resources: the app's own drawings, kept as SVG (drawn at
// the size and scale asked for) or PNG (NAME.png, NAME@2x.png, NAME@3x.png, the best for the
// scale). Named images live in "images", symbol images in "symbols"; both keep the name they were
// asked by, so tests compare identities rather than pixels.
#pragma once

#include <optional>
#include <string>

#include "platform/foundation/value.h"
#include "platform/graphics/geometry.h"
#include "platform/graphics/image.h"

namespace graphics {

// The named image at its own size (an SVG's width and height in points) and the scale (0: the
// main screen's); none when no file has the name or it cannot be read.
ImagePtr imageNamed(const std::string& name, double scale = 0);
// A symbol drawn pointSize points high (its width in proportion), a template image; none when
// the bundle has no such symbol.
ImagePtr systemImageNamed(const std::string& name, double pointSize = 17, double scale = 0);
// SVG bytes drawn into a size in points at a scale; none for bytes that are not SVG.
ImagePtr imageFromSVG(const foundation::Data& svg, std::optional<Size> size, double scale);

}  // namespace graphics
