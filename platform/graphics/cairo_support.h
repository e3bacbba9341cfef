// Shared pieces of the cairo-backed code (not part of the library's interface).
#pragma once

#include <cairo.h>

#include "platform/graphics/bitmap.h"
#include "platform/graphics/color.h"
#include "platform/graphics/geometry.h"
#include "platform/graphics/path.h"

namespace graphics {

// A 1x1 surface and its context for measuring and hit-testing paths.
struct ScratchCairo {
    cairo_surface_t* surface;
    cairo_t* cr;
    ScratchCairo();
    ~ScratchCairo();
    ScratchCairo(const ScratchCairo&) = delete;
    ScratchCairo& operator=(const ScratchCairo&) = delete;
};

void appendPath(cairo_t* cr, const Path& path);
cairo_matrix_t toCairo(const AffineTransform& t);
// A surface over a bitmap's pixels (which must outlive it and stay unmoved).
cairo_surface_t* surfaceOver(const Bitmap& bitmap);
// Narrows the clip to the whole device pixels that the rectangle (user space) touches: drawing
// inside the rectangle keeps every pixel it had, antialiased edges too.
void clipToPixelsOf(cairo_t* cr, const Rect& r);

}  // namespace graphics
