#include "platform/graphics/cairo_support.h"

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

}  // namespace graphics
