#pragma once

#include <cmath>

#include "platform/graphics/graphics_context.h"

namespace graphics {

// Whether a coordinate in device pixels lies on a pixel's edge (within rounding).
inline bool onWholePixel(double v) { return std::abs(v - std::round(v)) < 1e-6; }

// Whether the context's clip is whole pixels only (no antialiased edge or curve): paint laid wholly
// opaque over a pixel inside it then leaves nothing of what was there.
bool clipIsWholePixels(const GraphicsContext& c);

// Puts the pixels on the context as they are, their top left corner on its pixel (x, y), each
// replacing the pixel under it, within the clip.
void copyPixels(GraphicsContext& c, const Bitmap& pixels, int x, int y);

}  // namespace graphics
