// Plane geometry in points: points, sizes, rectangles, edge insets and affine transforms, with the
// conventions drawing code expects (a rectangle may have a negative size and is standardised by
// the operations that need it; the y axis points down).
#pragma once

#include <string>

namespace graphics {

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

struct EdgeInsets {
    double top = 0;
    double left = 0;
    double bottom = 0;
    double right = 0;
    friend bool operator==(const EdgeInsets&, const EdgeInsets&) = default;
};

struct Rect {
    Point origin;
    Size size;

    Rect() = default;
    Rect(Point o, Size s) : origin(o), size(s) {}
    Rect(double x, double y, double w, double h) : origin{x, y}, size{w, h} {}

    // The same rectangle with a non-negative width and height.
    Rect standardized() const;
    double minX() const;
    double minY() const;
    double maxX() const;
    double maxY() const;
    double midX() const { return (minX() + maxX()) / 2; }
    double midY() const { return (minY() + maxY()) / 2; }
    double width() const { return size.width < 0 ? -size.width : size.width; }
    double height() const { return size.height < 0 ? -size.height : size.height; }
    bool isEmpty() const { return size.width == 0 || size.height == 0; }

    Rect insetBy(double dx, double dy) const;
    Rect inset(const EdgeInsets& insets) const;
    Rect offsetBy(double dx, double dy) const;
    // The smallest rectangle with whole-number coordinates that holds this one.
    Rect integral() const;
    // The common part; an empty rectangle at the origin when the two do not meet.
    Rect intersection(const Rect& other) const;
    Rect unionWith(const Rect& other) const;
    bool intersects(const Rect& other) const;
    // Half-open: a point on the maximum edges is outside.
    bool contains(Point p) const;
    bool contains(const Rect& other) const;

    friend bool operator==(const Rect&, const Rect&) = default;
};

// The matrix [a b 0; c d 0; tx ty 1] applied to row vectors: x' = a x + c y + tx, y' = b x + d y + ty.
struct AffineTransform {
    double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;

    static AffineTransform identity() { return {}; }
    static AffineTransform translation(double tx, double ty) { return {1, 0, 0, 1, tx, ty}; }
    static AffineTransform scale(double sx, double sy) { return {sx, 0, 0, sy, 0, 0}; }
    static AffineTransform rotation(double radians);

    bool isIdentity() const { return *this == AffineTransform{}; }
    // `then` applied after this one.
    AffineTransform concat(const AffineTransform& then) const;
    // These prepend the step, as drawing contexts do: the step acts first on coordinates.
    AffineTransform translated(double tx, double ty) const;
    AffineTransform scaled(double sx, double sy) const;
    AffineTransform rotated(double radians) const;
    // The inverse; the transform itself when it cannot be inverted.
    AffineTransform inverted() const;
    bool invertible() const;

    Point apply(Point p) const;
    Size apply(Size s) const;  // without the translation
    // The bounding box of the transformed rectangle.
    Rect apply(const Rect& r) const;

    friend bool operator==(const AffineTransform&, const AffineTransform&) = default;
};

std::string toString(Point p);
std::string toString(Size s);
std::string toString(const Rect& r);
std::string toString(const EdgeInsets& e);

}  // namespace graphics
