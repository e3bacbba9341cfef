// Text pressed into the page (the platform's letterpress text effect), in a font and colour.
#pragma once

#include <string>

#include "platform/graphics/text_layout.h"
#include "platform/toolkit/controls.h"

inline graphics::AttributedString hxLetterpressed(const std::string& text, const toolkit::Font& font,
                                                  const toolkit::Color& colour) {
    graphics::TextAttributes attributes;
    attributes.font = font;
    attributes.color = colour;
    attributes.letterpress = true;
    return {text, attributes};
}

// A label's text, letterpressed in the label's own font and colour.
inline void hxSetLetterpressedText(toolkit::Label& label, const std::string& text) {
    label.setAttributedText(hxLetterpressed(text, label.font(), label.textColor()));
}
