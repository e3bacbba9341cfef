// The toolkit's geometry: points, sizes, rectangles, insets and affine transforms in points, plus
// the index paths of tables. Rectangles follow the platform's rules: a negative width or height
// is standardised before any test or union, and the null rectangle is what an empty intersection
// gives.
#pragma once

#include <cmath>
#include <cstddef>
#include <limits>
#include <string>
#include <vector>

namespace toolkit {

struct Point {
    double x = 0;
    double y = 0;
    friend bool operator==(const Point&, const Point&) = default;
};

struct Size {
    double width = 0;
    double height = 0;
    friend bool operator==(const Size&, const Size&) = default;
};

struct Rect {
    Point origin;
    Size size;

    Rect() = default;
    Rect(Point o, Size s) : origin(o), size(s) {}
    Rect(double x, double y, double w, double h) : origin{x, y}, size{w, h} {}

    static Rect null() {
        double inf = std::numeric_limits<double>::infinity();
        return Rect(inf, inf, 0, 0);
    }
    bool isNull() const { return std::isinf(origin.x) || std::isinf(origin.y); }
    bool isEmpty() const { return isNull() || size.width == 0 || size.height == 0; }

    Rect standardized() const {
        Rect r = *this;
        if (r.size.width < 0) r.origin.x += r.size.width, r.size.width = -r.size.width;
        if (r.size.height < 0) r.origin.y += r.size.height, r.size.height = -r.size.height;
        return r;
    }
    double minX() const { return standardized().origin.x; }
    double minY() const { return standardized().origin.y; }
    double maxX() const { return minX() + std::fabs(size.width); }
    double maxY() const { return minY() + std::fabs(size.height); }
    double midX() const { return minX() + std::fabs(size.width) / 2; }
    double midY() const { return minY() + std::fabs(size.height) / 2; }
    double width() const { return std::fabs(size.width); }
    double height() const { return std::fabs(size.height); }

    // Half-open on the far edges, as the platform's containment test.
    bool contains(Point p) const { return !isNull() && p.x >= minX() && p.x < maxX() && p.y >= minY() && p.y < maxY(); }
    bool intersects(const Rect& o) const { return !intersection(o).isNull(); }
    Rect intersection(const Rect& o) const {
        if (isNull() || o.isNull()) return null();
        double x0 = std::max(minX(), o.minX()), y0 = std::max(minY(), o.minY());
        double x1 = std::min(maxX(), o.maxX()), y1 = std::min(maxY(), o.maxY());
        if (x1 < x0 || y1 < y0) return null();
        return Rect(x0, y0, x1 - x0, y1 - y0);
    }
    Rect unionWith(const Rect& o) const {
        if (isNull()) return o.standardized();
        if (o.isNull()) return standardized();
        double x0 = std::min(minX(), o.minX()), y0 = std::min(minY(), o.minY());
        double x1 = std::max(maxX(), o.maxX()), y1 = std::max(maxY(), o.maxY());
        return Rect(x0, y0, x1 - x0, y1 - y0);
    }
    Rect offsetBy(double dx, double dy) const { return Rect(origin.x + dx, origin.y + dy, size.width, size.height); }
    Rect insetBy(double dx, double dy) const {
        Rect r = standardized();
        r.origin.x += dx, r.origin.y += dy, r.size.width -= 2 * dx, r.size.height -= 2 * dy;
        if (r.size.width < 0 || r.size.height < 0) return null();
        return r;
    }
    friend bool operator==(const Rect& a, const Rect& b) { return a.origin == b.origin && a.size == b.size; }
};

struct EdgeInsets {
    double top = 0;
    double left = 0;
    double bottom = 0;
    double right = 0;
    friend bool operator==(const EdgeInsets&, const EdgeInsets&) = default;
};

inline Rect insetRect(const Rect& r, const EdgeInsets& in) {
    return Rect(r.origin.x + in.left, r.origin.y + in.top, r.size.width - in.left - in.right,
                r.size.height - in.top - in.bottom);
}

// x' = a*x + c*y + tx, y' = b*x + d*y + ty.
struct AffineTransform {
    double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;

    static AffineTransform identity() { return {}; }
    static AffineTransform translation(double x, double y) { return {1, 0, 0, 1, x, y}; }
    static AffineTransform scale(double sx, double sy) { return {sx, 0, 0, sy, 0, 0}; }
    static AffineTransform rotation(double radians) {
        double c = std::cos(radians), s = std::sin(radians);
        return {c, s, -s, c, 0, 0};
    }
    bool isIdentity() const { return *this == AffineTransform{}; }
    // this followed by t.
    AffineTransform concat(const AffineTransform& t) const {
        return {a * t.a + b * t.c, a * t.b + b * t.d,          c * t.a + d * t.c,
                c * t.b + d * t.d, tx * t.a + ty * t.c + t.tx, tx * t.b + ty * t.d + t.ty};
    }
    // The platform's "translate/scale/rotate the transform": the new step applies first.
    AffineTransform translated(double x, double y) const { return translation(x, y).concat(*this); }
    AffineTransform scaled(double sx, double sy) const { return scale(sx, sy).concat(*this); }
    AffineTransform rotated(double radians) const { return rotation(radians).concat(*this); }
    AffineTransform inverted() const {
        double det = a * d - b * c;
        if (det == 0) return *this;
        return {d / det, -b / det, -c / det, a / det, (c * ty - d * tx) / det, (b * tx - a * ty) / det};
    }
    Point apply(Point p) const { return {a * p.x + c * p.y + tx, b * p.x + d * p.y + ty}; }
    Rect apply(const Rect& r) const {
        Rect s = r.standardized();
        Point p[4] = {apply(s.origin), apply(Point{s.maxX(), s.minY()}), apply(Point{s.minX(), s.maxY()}),
                      apply(Point{s.maxX(), s.maxY()})};
        double x0 = p[0].x, x1 = p[0].x, y0 = p[0].y, y1 = p[0].y;
        for (auto& q : p)
            x0 = std::min(x0, q.x), x1 = std::max(x1, q.x), y0 = std::min(y0, q.y), y1 = std::max(y1, q.y);
        return Rect(x0, y0, x1 - x0, y1 - y0);
    }
    friend bool operator==(const AffineTransform&, const AffineTransform&) = default;
};

// A path of indexes; tables use (section, row).
struct IndexPath {
    long section = 0;
    long row = 0;
    friend bool operator==(const IndexPath&, const IndexPath&) = default;
    friend auto operator<=>(const IndexPath&, const IndexPath&) = default;
};

// The platform's "not found" for signed indexes: the largest signed integer.
inline constexpr long kNotFoundIndex = std::numeric_limits<long>::max();

std::string describe(const Rect& r);
std::string describe(const Point& p);

}  // namespace toolkit
