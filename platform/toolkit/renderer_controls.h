// The text controls' own look, for the renderer: the text field (its border style, its text or
// placeholder on one line, vertically centred, bullets for secure entry; no caret), the search
// bar's field (a rounded grey capsule with a magnifier) and the text view (wrapped text inside
// its container insets, scrolled by its bounds origin).
#pragma once

#include "platform/graphics/graphics_context.h"

namespace toolkit {

class TextField;
class TextView;

void drawTextField(const TextField& field, graphics::GraphicsContext& c);
void drawTextView(const TextView& view, graphics::GraphicsContext& c);

}  // namespace toolkit
