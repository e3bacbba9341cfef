#include "platform/graphics/cairo_support.h"

#include <algorithm>
#include <cmath>

namespace graphics {

ScratchCairo::ScratchCairo() {
    surface = cairo_image_surface_create(CAIRO_FORMAT_A8, 1, 1);
    cr = cairo_create(surface);
}

ScratchCairo::~ScratchCairo() {
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
}

void appendPath(cairo_t* cr, const Path& path) {
    for (const Path::Element& e : path.elements()) {
        switch (e.kind) {
            case Path::Kind::move:
                cairo_move_to(cr, e.points[0].x, e.points[0].y);
                break;
            case Path::Kind::line:
                cairo_line_to(cr, e.points[0].x, e.points[0].y);
                break;
            case Path::Kind::curve:
                cairo_curve_to(cr, e.points[0].x, e.points[0].y, e.points[1].x, e.points[1].y, e.points[2].x,
                               e.points[2].y);
                break;
            case Path::Kind::close:
                cairo_close_path(cr);
                break;
        }
    }
}

cairo_matrix_t toCairo(const AffineTransform& t) {
    cairo_matrix_t m;
    cairo_matrix_init(&m, t.a, t.b, t.c, t.d, t.tx, t.ty);
    return m;
}

cairo_surface_t* surfaceOver(const Bitmap& bitmap) {
    // Cairo only reads a source surface; the cast does not let it write.
    return cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(const_cast<uint32_t*>(bitmap.data())),
                                               CAIRO_FORMAT_ARGB32, bitmap.width(), bitmap.height(),
                                               bitmap.strideBytes());
}

void clipToPixelsOf(cairo_t* cr, const Rect& r) {
    double xs[4] = {r.minX(), r.maxX(), r.minX(), r.maxX()};
    double ys[4] = {r.minY(), r.minY(), r.maxY(), r.maxY()};
    for (int i = 0; i < 4; ++i) cairo_user_to_device(cr, &xs[i], &ys[i]);
    const double x0 = std::floor(*std::min_element(xs, xs + 4)), x1 = std::ceil(*std::max_element(xs, xs + 4));
    const double y0 = std::floor(*std::min_element(ys, ys + 4)), y1 = std::ceil(*std::max_element(ys, ys + 4));
    cairo_save(cr);
    cairo_identity_matrix(cr);
    cairo_new_path(cr);
    cairo_rectangle(cr, x0, y0, std::max(0.0, x1 - x0), std::max(0.0, y1 - y0));
    cairo_restore(cr);
    cairo_clip(cr);
}

}  // namespace graphics
