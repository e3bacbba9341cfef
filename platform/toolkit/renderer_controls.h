// The text controls' own look, for the renderer: the text field (its border style, its text or
// placeholder on one line, vertically centred, bullets for secure entry; no caret), the search
// bar's field (a rounded grey capsule with a magnifier) and the text view (wrapped text inside
// its container insets, scrolled by its bounds origin), and the frame a popover's view sits in.
#pragma once

#include <optional>

#include "platform/graphics/graphics_context.h"
#include "platform/toolkit/graphics_types.h"

namespace toolkit {

class TextField;
class TextView;

void drawTextField(const TextField& field, graphics::GraphicsContext& c);
void drawTextView(const TextView& view, graphics::GraphicsContext& c);

// The popover's rounded background under its view's frame, with a light shadow and the arrow on
// the side given (one of the presentation's arrow directions; none draws no arrow) pointing at
// the anchor. Both rectangles are in the context's coordinates.
// An arrow overlay is drawn over the arrow, as the popover's top bar is drawn over the body, so
// that an arrow next to a bar takes the bar's colour.
void drawPopoverFrame(const Rect& frame, unsigned arrow, const Rect& anchor, const std::optional<Color>& background,
                      graphics::GraphicsContext& c, const std::optional<Color>& arrowOverlay = std::nullopt);
// Its outline without the arrow, which the popover's view is clipped to.
graphics::Path popoverOutline(const Rect& frame);

}  // namespace toolkit
