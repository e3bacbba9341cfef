// The toolkit's geometry is the drawing layer's (points, sizes, rectangles, insets, transforms);
// it adds the index paths of tables and the platform's "not found" index.
#pragma once

#include <compare>
#include <limits>
#include <string>

#include "platform/graphics/geometry.h"

namespace toolkit {

using graphics::AffineTransform;
using graphics::EdgeInsets;
using graphics::Point;
using graphics::Rect;
using graphics::Size;

// A path of indexes; tables use (section, row).
struct IndexPath {
    long section = 0;
    long row = 0;
    friend bool operator==(const IndexPath&, const IndexPath&) = default;
    friend auto operator<=>(const IndexPath&, const IndexPath&) = default;
};

// The platform's "not found" for signed indexes: the largest signed integer.
inline constexpr long kNotFoundIndex = std::numeric_limits<long>::max();

// The outline's spellings: "(x, y, w, h)" and "(x, y)".
std::string describe(const Rect& r);
std::string describe(const Point& p);
std::string describe(const IndexPath& p);

}  // namespace toolkit
