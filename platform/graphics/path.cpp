#include "platform/graphics/path.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <numbers>

#include "platform/graphics/cairo_support.h"

namespace graphics {

Path Path::rect(const Rect& r) {
    Path p;
    p.addRect(r);
    return p;
}

Path Path::ellipse(const Rect& in) {
    Path p;
    p.addEllipse(in);
    return p;
}

Path Path::roundedRect(const Rect& rect, double radius) {
    const Rect r = rect.standardized();
    const double k = std::clamp(radius, 0.0, std::min(r.width(), r.height()) / 2);
    Path p;
    if (k <= 0) {
        p.addRect(r);
        return p;
    }
    const double pi = std::numbers::pi;
    p.moveTo({r.minX() + k, r.minY()});
    p.addArc({r.maxX() - k, r.minY() + k}, k, -pi / 2, 0, true);
    p.addArc({r.maxX() - k, r.maxY() - k}, k, 0, pi / 2, true);
    p.addArc({r.minX() + k, r.maxY() - k}, k, pi / 2, pi, true);
    p.addArc({r.minX() + k, r.minY() + k}, k, pi, 3 * pi / 2, true);
    p.close();
    return p;
}

Path Path::roundedRect(const Rect& rect, unsigned corners, Size radii) {
    const Rect r = rect.standardized();
    const double rx = std::clamp(radii.width, 0.0, r.width() / 2);
    const double ry = std::clamp(radii.height, 0.0, r.height() / 2);
    Path p;
    if (rx <= 0 || ry <= 0 || (corners & kAllCorners) == 0) {
        p.addRect(r);
        return p;
    }
    // A cubic with control points this far along the tangents is within 0.03% of a quarter ellipse.
    const double k = 0.5522847498307936;
    const auto corner = [&](unsigned bit, Point square, Point from, Point to) {
        if (!(corners & bit)) {
            p.lineTo(square);
            return;
        }
        p.lineTo(from);
        p.curveTo({from.x + (square.x - from.x) * k, from.y + (square.y - from.y) * k},
                  {to.x + (square.x - to.x) * k, to.y + (square.y - to.y) * k}, to);
    };
    p.moveTo({r.minX() + ((corners & kCornerTopLeft) ? rx : 0), r.minY()});
    corner(kCornerTopRight, {r.maxX(), r.minY()}, {r.maxX() - rx, r.minY()}, {r.maxX(), r.minY() + ry});
    corner(kCornerBottomRight, {r.maxX(), r.maxY()}, {r.maxX(), r.maxY() - ry}, {r.maxX() - rx, r.maxY()});
    corner(kCornerBottomLeft, {r.minX(), r.maxY()}, {r.minX() + rx, r.maxY()}, {r.minX(), r.maxY() - ry});
    corner(kCornerTopLeft, {r.minX(), r.minY()}, {r.minX(), r.minY() + ry}, {r.minX() + rx, r.minY()});
    p.close();
    return p;
}

Path Path::polygon(const std::vector<Point>& points) {
    Path p;
    for (size_t i = 0; i < points.size(); ++i) {
        if (i == 0) {
            p.moveTo(points[i]);
        } else {
            p.lineTo(points[i]);
        }
    }
    if (!points.empty()) p.close();
    return p;
}

void Path::moveTo(Point p) {
    elements_.push_back({Kind::move, {p}});
    start_ = p;
}

void Path::lineTo(Point p) {
    if (!currentPoint()) {
        moveTo(p);
        return;
    }
    elements_.push_back({Kind::line, {p}});
}

void Path::curveTo(Point c1, Point c2, Point end) {
    if (!currentPoint()) moveTo(c1);
    elements_.push_back({Kind::curve, {c1, c2, end}});
}

void Path::quadCurveTo(Point c, Point end) {
    const Point start = currentPoint().value_or(c);
    curveTo({start.x + 2.0 / 3.0 * (c.x - start.x), start.y + 2.0 / 3.0 * (c.y - start.y)},
            {end.x + 2.0 / 3.0 * (c.x - end.x), end.y + 2.0 / 3.0 * (c.y - end.y)}, end);
}

void Path::addArc(Point c, double radius, double start, double end, bool clockwise) {
    if (!(radius > 0) || !std::isfinite(radius)) return;
    const double twoPi = 2 * std::numbers::pi;
    // The sweep follows the direction; a full turn or more draws a whole circle once.
    double sweep = end - start;
    if (clockwise) {
        if (sweep < 0) sweep = std::fmod(sweep, twoPi) + twoPi;
        if (end - start >= twoPi) sweep = twoPi;
    } else {
        if (sweep > 0) sweep = std::fmod(sweep, twoPi) - twoPi;
        if (start - end >= twoPi) sweep = -twoPi;
    }
    const Point first{c.x + radius * std::cos(start), c.y + radius * std::sin(start)};
    if (currentPoint()) {
        lineTo(first);
    } else {
        moveTo(first);
    }
    // Cubic pieces of at most a quarter turn each.
    const int pieces = std::max(1, static_cast<int>(std::ceil(std::abs(sweep) / (std::numbers::pi / 2) - 1e-9)));
    const double step = sweep / pieces;
    const double k = 4.0 / 3.0 * std::tan(step / 4);
    double a = start;
    for (int i = 0; i < pieces; ++i) {
        const double b = a + step;
        const double ca = std::cos(a), sa = std::sin(a), cb = std::cos(b), sb = std::sin(b);
        curveTo({c.x + radius * (ca - k * sa), c.y + radius * (sa + k * ca)},
                {c.x + radius * (cb + k * sb), c.y + radius * (sb - k * cb)}, {c.x + radius * cb, c.y + radius * sb});
        a = b;
    }
}

void Path::addRect(const Rect& rect) {
    const Rect r = rect.standardized();
    moveTo({r.minX(), r.minY()});
    lineTo({r.maxX(), r.minY()});
    lineTo({r.maxX(), r.maxY()});
    lineTo({r.minX(), r.maxY()});
    close();
}

void Path::addEllipse(const Rect& in) {
    const Rect r = in.standardized();
    if (r.isEmpty()) return;
    const double k = 0.5522847498307936;  // 4/3 (sqrt 2 - 1): a quarter circle as one cubic
    const double cx = r.midX(), cy = r.midY(), rx = r.width() / 2, ry = r.height() / 2;
    moveTo({cx + rx, cy});
    curveTo({cx + rx, cy + k * ry}, {cx + k * rx, cy + ry}, {cx, cy + ry});
    curveTo({cx - k * rx, cy + ry}, {cx - rx, cy + k * ry}, {cx - rx, cy});
    curveTo({cx - rx, cy - k * ry}, {cx - k * rx, cy - ry}, {cx, cy - ry});
    curveTo({cx + k * rx, cy - ry}, {cx + rx, cy - k * ry}, {cx + rx, cy});
    close();
}

void Path::addPath(const Path& other) {
    for (const Element& e : other.elements_) {
        if (e.kind == Kind::move) start_ = e.points[0];
        elements_.push_back(e);
    }
}

void Path::close() {
    if (!elements_.empty() && elements_.back().kind != Kind::close) elements_.push_back({Kind::close, {}});
}

std::optional<Point> Path::currentPoint() const {
    if (elements_.empty()) return std::nullopt;
    const Element& e = elements_.back();
    switch (e.kind) {
        case Kind::move:
        case Kind::line:
            return e.points[0];
        case Kind::curve:
            return e.points[2];
        case Kind::close:
            return start_;
    }
    return std::nullopt;
}

Path Path::transformed(const AffineTransform& t) const {
    Path p = *this;
    for (Element& e : p.elements_) {
        for (Point& q : e.points) q = t.apply(q);
    }
    p.start_ = t.apply(start_);
    return p;
}

Rect Path::boundingBox() const {
    if (elements_.empty()) return Rect{};
    ScratchCairo scratch;
    appendPath(scratch.cr, *this);
    double x0, y0, x1, y1;
    cairo_path_extents(scratch.cr, &x0, &y0, &x1, &y1);
    return Rect{x0, y0, x1 - x0, y1 - y0};
}

bool Path::contains(Point p, FillRule rule) const {
    if (elements_.empty()) return false;
    ScratchCairo scratch;
    appendPath(scratch.cr, *this);
    cairo_set_fill_rule(scratch.cr, rule == FillRule::evenOdd ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
    return cairo_in_fill(scratch.cr, p.x, p.y);
}

}  // namespace graphics
