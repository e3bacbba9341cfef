// A path of lines, arcs and curves in points, kept as a list of elements so it can be replayed on
// any context, transformed, measured and hit-tested. Angles are in radians; with y pointing down,
// a clockwise arc runs towards increasing angles.
#pragma once

#include <optional>
#include <vector>

#include "platform/graphics/geometry.h"

namespace graphics {

enum class FillRule { winding, evenOdd };

// Corners of a rectangle, for rounding some of them.
enum RectCorner : unsigned {
    kCornerTopLeft = 1,
    kCornerTopRight = 2,
    kCornerBottomLeft = 4,
    kCornerBottomRight = 8,
    kAllCorners = 15,
};

class Path {
public:
    enum class Kind { move, line, curve, close };
    struct Element {
        Kind kind;
        Point points[3];  // move/line: [0]; curve: two control points then the end point
    };

    static Path rect(const Rect& r);
    static Path ellipse(const Rect& in);
    // Corners of the given radius, at most half the shorter side.
    static Path roundedRect(const Rect& r, double radius);
    // Only the corners in the mask rounded, each a quarter ellipse of the radii (width across,
    // height down), at most half the rectangle's width and height.
    static Path roundedRect(const Rect& r, unsigned corners, Size radii);
    // A closed polygon through the points.
    static Path polygon(const std::vector<Point>& points);

    void moveTo(Point p);
    void lineTo(Point p);
    void curveTo(Point control1, Point control2, Point end);
    void quadCurveTo(Point control, Point end);
    // An arc about `center`; a line joins it to the current point, if any.
    void addArc(Point center, double radius, double startAngle, double endAngle, bool clockwise);
    void addRect(const Rect& r);
    void addEllipse(const Rect& in);
    void addPath(const Path& other);
    void close();

    bool isEmpty() const { return elements_.empty(); }
    const std::vector<Element>& elements() const { return elements_; }
    std::optional<Point> currentPoint() const;
    Path transformed(const AffineTransform& t) const;
    // The smallest rectangle holding every point of the path (curves measured, not their controls).
    Rect boundingBox() const;
    bool contains(Point p, FillRule rule = FillRule::winding) const;

private:
    std::vector<Element> elements_;
    Point start_;
};

}  // namespace graphics
