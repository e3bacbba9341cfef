#include "platform/graphics/geometry.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace graphics {

Rect Rect::standardized() const {
    Rect r = *this;
    if (r.size.width < 0) {
        r.origin.x += r.size.width;
        r.size.width = -r.size.width;
    }
    if (r.size.height < 0) {
        r.origin.y += r.size.height;
        r.size.height = -r.size.height;
    }
    return r;
}

double Rect::minX() const { return std::min(origin.x, origin.x + size.width); }
double Rect::minY() const { return std::min(origin.y, origin.y + size.height); }
double Rect::maxX() const { return std::max(origin.x, origin.x + size.width); }
double Rect::maxY() const { return std::max(origin.y, origin.y + size.height); }

Rect Rect::insetBy(double dx, double dy) const {
    Rect r = standardized();
    r.origin.x += dx;
    r.origin.y += dy;
    r.size.width -= 2 * dx;
    r.size.height -= 2 * dy;
    if (r.size.width < 0 || r.size.height < 0) return Rect{};
    return r;
}

Rect Rect::inset(const EdgeInsets& e) const {
    Rect r = standardized();
    return Rect{r.origin.x + e.left, r.origin.y + e.top, r.size.width - e.left - e.right,
                r.size.height - e.top - e.bottom};
}

Rect Rect::offsetBy(double dx, double dy) const { return Rect{origin.x + dx, origin.y + dy, size.width, size.height}; }

Rect Rect::integral() const {
    if (isEmpty()) return standardized();
    const double x0 = std::floor(minX()), y0 = std::floor(minY());
    return Rect{x0, y0, std::ceil(maxX()) - x0, std::ceil(maxY()) - y0};
}

Rect Rect::intersection(const Rect& o) const {
    const double x0 = std::max(minX(), o.minX()), y0 = std::max(minY(), o.minY());
    const double x1 = std::min(maxX(), o.maxX()), y1 = std::min(maxY(), o.maxY());
    if (x1 < x0 || y1 < y0) return Rect{};
    return Rect{x0, y0, x1 - x0, y1 - y0};
}

Rect Rect::unionWith(const Rect& o) const {
    if (isEmpty()) return o.standardized();
    if (o.isEmpty()) return standardized();
    const double x0 = std::min(minX(), o.minX()), y0 = std::min(minY(), o.minY());
    return Rect{x0, y0, std::max(maxX(), o.maxX()) - x0, std::max(maxY(), o.maxY()) - y0};
}

bool Rect::intersects(const Rect& o) const {
    return std::max(minX(), o.minX()) < std::min(maxX(), o.maxX()) &&
           std::max(minY(), o.minY()) < std::min(maxY(), o.maxY());
}

bool Rect::contains(Point p) const { return p.x >= minX() && p.x < maxX() && p.y >= minY() && p.y < maxY(); }

bool Rect::contains(const Rect& o) const {
    return o.minX() >= minX() && o.maxX() <= maxX() && o.minY() >= minY() && o.maxY() <= maxY();
}

AffineTransform AffineTransform::rotation(double radians) {
    const double c = std::cos(radians), s = std::sin(radians);
    return {c, s, -s, c, 0, 0};
}

AffineTransform AffineTransform::concat(const AffineTransform& t) const {
    return {a * t.a + b * t.c, a * t.b + b * t.d,          c * t.a + d * t.c,
            c * t.b + d * t.d, tx * t.a + ty * t.c + t.tx, tx * t.b + ty * t.d + t.ty};
}

AffineTransform AffineTransform::translated(double x, double y) const { return translation(x, y).concat(*this); }
AffineTransform AffineTransform::scaled(double sx, double sy) const { return scale(sx, sy).concat(*this); }
AffineTransform AffineTransform::rotated(double radians) const { return rotation(radians).concat(*this); }

bool AffineTransform::invertible() const {
    const double det = a * d - b * c;
    return det != 0 && std::isfinite(det);
}

AffineTransform AffineTransform::inverted() const {
    if (!invertible()) return *this;
    const double det = a * d - b * c;
    return {d / det, -b / det, -c / det, a / det, (c * ty - d * tx) / det, (b * tx - a * ty) / det};
}

Point AffineTransform::apply(Point p) const { return {a * p.x + c * p.y + tx, b * p.x + d * p.y + ty}; }

Size AffineTransform::apply(Size s) const { return {a * s.width + c * s.height, b * s.width + d * s.height}; }

Rect AffineTransform::apply(const Rect& r) const {
    const Point corners[4] = {apply(Point{r.minX(), r.minY()}), apply(Point{r.maxX(), r.minY()}),
                              apply(Point{r.minX(), r.maxY()}), apply(Point{r.maxX(), r.maxY()})};
    double x0 = corners[0].x, x1 = x0, y0 = corners[0].y, y1 = y0;
    for (const Point& p : corners) {
        x0 = std::min(x0, p.x);
        x1 = std::max(x1, p.x);
        y0 = std::min(y0, p.y);
        y1 = std::max(y1, p.y);
    }
    return Rect{x0, y0, x1 - x0, y1 - y0};
}

namespace {
std::string number(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", v == 0 ? 0.0 : v);
    return buf;
}
}  // namespace

std::string toString(Point p) { return "{" + number(p.x) + ", " + number(p.y) + "}"; }
std::string toString(Size s) { return "{" + number(s.width) + ", " + number(s.height) + "}"; }
std::string toString(const Rect& r) { return "{" + toString(r.origin) + ", " + toString(r.size) + "}"; }
std::string toString(const EdgeInsets& e) {
    return "{" + number(e.top) + ", " + number(e.left) + ", " + number(e.bottom) + ", " + number(e.right) + "}";
}

}  // namespace graphics
