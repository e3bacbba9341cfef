// The drawing layer's colour, image and font values, as the views hold them.
#pragma once

#include <memory>
#include <string>

#include "platform/graphics/color.h"
#include "platform/graphics/font.h"
#include "platform/graphics/image.h"
#include "platform/graphics/path.h"
#include "platform/toolkit/geometry.h"

namespace toolkit {

using graphics::Color;
using graphics::Font;
using graphics::FontWeight;
using graphics::Image;
using graphics::ImagePtr;
using graphics::Path;
using graphics::RenderingMode;

// The outline's spelling of a colour, "rgba(r, g, b, a)" of its light appearance.
std::string describe(const Color& c);

// A named image of a size in points: transparent pixels at scale 1, shown by its name in
// outlines. Views and tests use it where only an image's size and identity matter.
ImagePtr makeImage(const std::string& name, Size size, bool isTemplate = false);

}  // namespace toolkit
