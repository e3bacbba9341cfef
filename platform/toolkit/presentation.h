// Popover presentation: where a popover sits (next to its source rectangle or bar item, with its
// arrow on the side that has room among the permitted ones) and which views stay touchable
// around it. At compact width a popover is shown full screen instead.
#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "platform/toolkit/bar_items.h"
#include "platform/toolkit/geometry.h"
#include "platform/toolkit/graphics_types.h"

namespace toolkit {

class View;
class ViewController;

enum ArrowDirection : unsigned {
    kArrowUp = 1,
    kArrowDown = 2,
    kArrowLeft = 4,
    kArrowRight = 8,
    kArrowAny = 15,
    kArrowUnknown = 0,
};

class PopoverPresentationController {
public:
    std::weak_ptr<View> sourceView;
    Rect sourceRect;
    std::weak_ptr<BarButtonItem> barButtonItem;
    unsigned permittedArrowDirections = kArrowAny;
    std::optional<Color> backgroundColor;
    std::vector<std::weak_ptr<View>> passthroughViews;

    // The side the arrow ended up on (unknown until shown, and when shown full screen).
    unsigned arrowDirection() const { return arrow_; }
    // The anchor in window coordinates.
    Rect anchorInWindow() const;
    // Places a popover of content size in a window of bounds with safe insets; sets the arrow.
    Rect layout(Size content, const Rect& windowBounds, const EdgeInsets& safe);

    static constexpr double kArrowHeight = 13;
    static constexpr double kMargin = 10;

private:
    unsigned arrow_ = kArrowUnknown;
};

}  // namespace toolkit
