#include "platform/toolkit/font_text_measurer.h"

#include "platform/graphics/text_layout.h"

#include <cstdio>

namespace {
constexpr size_t kMaxCachedWidths = 20000;
constexpr size_t kMaxCachedLayouts = 4000;

void appendNumber(std::string& key, double v) {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%a|", v);
    key += buffer;
}

// Everything a layout depends on, as one string.
std::string layoutKey(const graphics::AttributedString& text, const graphics::TextLayoutOptions& o) {
    std::string key;
    appendNumber(key, o.width);
    appendNumber(key, o.maximumHeight);
    key += std::to_string(o.maximumLines) + "|" + std::to_string(static_cast<int>(o.lineBreakMode)) + "|" +
           std::to_string(static_cast<int>(o.alignment)) + "|";
    for (const auto& run : text.runs()) {
        const auto& a = run.attributes;
        key += std::to_string(run.length) + "|" + a.font.description() + "|" + a.color.description() + "|";
        appendNumber(key, a.kern);
        appendNumber(key, a.baselineOffset);
        key += a.underline ? "u|" : "-|";
        key += a.letterpress ? "l|" : "-|";
        if (a.shadow) {
            appendNumber(key, a.shadow->offset.width);
            appendNumber(key, a.shadow->offset.height);
            appendNumber(key, a.shadow->blur);
            key += a.shadow->color.description() + "|";
        }
    }
    key += '\n';
    key += text.string();
    return key;
}
}  // namespace

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

std::vector<std::string> FontTextMeasurer::lines(const std::string& text, const Font& font, double width, int maxLines,
                                                 LineBreakMode mode) const {
    graphics::TextAttributes attributes;
    attributes.font = font;
    TextLayoutOptions options;
    options.width = width;
    options.maximumLines = maxLines;
    options.lineBreakMode = mode;
    std::vector<std::string> out;
    for (const TextLine& line : layout(AttributedString(text, attributes), options).lines) {
        out.push_back(line.content.string());
    }
    return out;
}

TextBox FontTextMeasurer::layout(const AttributedString& text, const TextLayoutOptions& given) const {
    TextLayoutOptions options = given;
    // Any number of lines in a truncating mode wraps by words: only a limit of lines truncates.
    const bool truncating = options.lineBreakMode == LineBreakMode::truncateHead ||
                            options.lineBreakMode == LineBreakMode::truncateMiddle ||
                            options.lineBreakMode == LineBreakMode::truncateTail;
    if (truncating && options.maximumLines == 0 && options.maximumHeight <= 0 && options.width > 0) {
        options.lineBreakMode = LineBreakMode::wordWrap;
    }
    std::string key = layoutKey(text, options);
    {
        std::lock_guard lock(mutex_);
        if (auto it = layouts_.find(key); it != layouts_.end()) return it->second;
    }
    const graphics::TextLayout laidOut(text, options);
    TextBox box{laidOut.lines(), laidOut.size(), laidOut.isTruncated()};
    std::lock_guard lock(mutex_);
    if (layouts_.size() >= kMaxCachedLayouts) layouts_.clear();
    layouts_.emplace(std::move(key), box);
    return box;
}

double FontTextMeasurer::caretOffset(const AttributedString& line, size_t offset) const {
    return graphics::caretOffsetInLine(line, offset);
}

size_t FontTextMeasurer::offsetAt(const AttributedString& line, double x) const {
    return graphics::offsetInLineAt(line, x);
}

const FontTextMeasurer& FontTextMeasurer::shared() {
    static const FontTextMeasurer measurer;
    return measurer;
}

}  // namespace toolkit
