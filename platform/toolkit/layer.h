// The styling and geometry fields a view's layer carries for the renderer: corners, border,
// shadow, anchor point and a shape mask. The toolkit keeps them; drawing them is the renderer's.
#pragma once

#include <optional>
#include <vector>

#include "platform/toolkit/geometry.h"
#include "platform/toolkit/shim.h"

namespace toolkit {

enum RectCorner : unsigned {
    kCornerTopLeft = 1,
    kCornerTopRight = 2,
    kCornerBottomLeft = 4,
    kCornerBottomRight = 8,
    kAllCorners = 15,
};

// A path as its construction steps, so tests and the renderer read the same description.
struct BezierPath {
    enum class Op { Move, Line, Close, RoundedRect };
    struct Element {
        Op op;
        Point point;  // Move, Line
        Rect rect;    // RoundedRect
        unsigned corners = 0;
        Size radii;
        friend bool operator==(const Element&, const Element&) = default;
    };
    std::vector<Element> elements;

    void moveTo(Point p) { elements.push_back({Op::Move, p, {}, 0, {}}); }
    void lineTo(Point p) { elements.push_back({Op::Line, p, {}, 0, {}}); }
    void close() { elements.push_back({Op::Close, {}, {}, 0, {}}); }
    static BezierPath roundedRect(const Rect& r, unsigned corners, Size radii) {
        BezierPath p;
        p.elements.push_back({Op::RoundedRect, {}, r, corners, radii});
        return p;
    }
    bool empty() const { return elements.empty(); }
    friend bool operator==(const BezierPath&, const BezierPath&) = default;
};

// A shape layer used as a mask or a border: its path, fill and stroke.
struct ShapeLayer {
    BezierPath path;
    std::optional<Color> fillColor = Color::black();
    std::optional<Color> strokeColor;
    double lineWidth = 1;
};

struct Layer {
    double cornerRadius = 0;
    double borderWidth = 0;
    Color borderColor = Color::black();
    std::optional<Color> shadowColor = Color::black();
    double shadowOpacity = 0;
    double shadowRadius = 3;
    Size shadowOffset{0, -3};
    std::optional<BezierPath> shadowPath;
    Point anchorPoint{0.5, 0.5};
    std::shared_ptr<ShapeLayer> mask;
    // Shape sublayers drawn above the background (a border drawn as a path).
    std::vector<std::shared_ptr<ShapeLayer>> shapeSublayers;
};

}  // namespace toolkit
