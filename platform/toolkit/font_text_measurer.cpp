#include "platform/toolkit/font_text_measurer.h"

#include "platform/graphics/text_layout.h"

namespace {
constexpr size_t kMaxCachedWidths = 20000;
}

namespace toolkit {

double FontTextMeasurer::lineHeight(const Font& font) const {
    // Every label asks on every redraw: kept with the widths, under a key of its own.
    std::string key = font.description();
    key += "\n\x01line height";
    {
        std::lock_guard lock(mutex_);
        if (auto it = widths_.find(key); it != widths_.end()) return it->second;
    }
    graphics::TextAttributes attributes;
    attributes.font = font;
    // One line set in the font: the height every line of that font takes. (An empty or blank
    // string keeps no run to carry the font, so it would measure the default font instead.)
    const double height = graphics::TextLayout(graphics::AttributedString("Hg", attributes), {}).size().height;
    std::lock_guard lock(mutex_);
    if (widths_.size() >= kMaxCachedWidths) widths_.clear();
    widths_.emplace(std::move(key), height);
    return height;
}

double FontTextMeasurer::lineWidth(const std::string& text, const Font& font) const {
    // Layout measures the same strings again and again (truncation searches, every redraw).
    std::string key = font.description();
    key += '\n';
    key += text;
    {
        std::lock_guard lock(mutex_);
        if (auto it = widths_.find(key); it != widths_.end()) return it->second;
    }
    const double width = graphics::sizeOfText(text, font).width;
    std::lock_guard lock(mutex_);
    if (widths_.size() >= kMaxCachedWidths) widths_.clear();
    widths_.emplace(std::move(key), width);
    return width;
}

const FontTextMeasurer& FontTextMeasurer::shared() {
    static const FontTextMeasurer measurer;
    return measurer;
}

}  // namespace toolkit
