#include "platform/toolkit/font_text_measurer.h"

#include "platform/graphics/text_layout.h"

namespace toolkit {

double FontTextMeasurer::lineHeight(const Font& font) const {
    graphics::TextAttributes attributes;
    attributes.font = font;
    // An empty line in the font: the height every line of that font takes.
    return graphics::TextLayout(graphics::AttributedString("", attributes), {}).size().height;
}

double FontTextMeasurer::lineWidth(const std::string& text, const Font& font) const {
    return graphics::sizeOfText(text, font).width;
}

const FontTextMeasurer& FontTextMeasurer::shared() {
    static const FontTextMeasurer measurer;
    return measurer;
}

}  // namespace toolkit
