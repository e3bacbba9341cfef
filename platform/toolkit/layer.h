// The styling and geometry fields a view's layer carries for the renderer: corners, border,
// shadow, anchor point and a shape mask. The toolkit keeps them; drawing them is the renderer's.
#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "platform/toolkit/geometry.h"
#include "platform/toolkit/graphics_types.h"

namespace toolkit {

using graphics::kAllCorners;
using graphics::kCornerBottomLeft;
using graphics::kCornerBottomRight;
using graphics::kCornerTopLeft;
using graphics::kCornerTopRight;
using graphics::RectCorner;

// A shape layer used as a mask or a border: its path, fill and stroke.
struct ShapeLayer {
    Path path;
    std::optional<Color> fillColor = Color::black();
    std::optional<Color> strokeColor;
    double lineWidth = 1;
};

// A gradient sublayer: its colours spread from the start point to the end point, both in unit
// coordinates of the rectangle it fills (the layer's bounds unless it has a frame of its own).
struct GradientLayer {
    std::vector<Color> colors;
    // 0-1, one per colour; empty spreads the colours evenly.
    std::vector<double> locations;
    Point startPoint{0.5, 0};
    Point endPoint{0.5, 1};
    std::optional<Rect> frame;
};

struct Layer {
    // First: every conversion between views reads it.
    Point anchorPoint{0.5, 0.5};
    double cornerRadius = 0;
    double borderWidth = 0;
    Color borderColor = Color::black();
    std::optional<Color> shadowColor = Color::black();
    double shadowOpacity = 0;
    double shadowRadius = 3;
    Size shadowOffset{0, -3};
    std::optional<Path> shadowPath;
    // Clips the layer's drawing to its path (only the path's shape counts, not its colours).
    std::shared_ptr<ShapeLayer> mask;
    // Gradients drawn above the background and below the shape sublayers, first one lowest.
    std::vector<std::shared_ptr<GradientLayer>> gradientSublayers;
    // Shape sublayers drawn above the background (a border drawn as a path).
    std::vector<std::shared_ptr<ShapeLayer>> shapeSublayers;
};

}  // namespace toolkit
