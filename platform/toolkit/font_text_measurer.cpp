#include "platform/toolkit/font_text_measurer.h"

#include "platform/graphics/text_layout.h"

#include <cstdint>
#include <type_traits>

namespace {
constexpr size_t kMaxCachedWidths = 20000;
constexpr size_t kMaxCachedLayouts = 4000;

// The layout cache's key is built for every label on every layout pass: its parts go in as raw
// bytes (fixed sizes, so that no two keys run together), without formatting any number.
template <typename T>
void appendRaw(std::string& key, const T& value) {
    static_assert(std::is_trivially_copyable_v<T>);
    key.append(reinterpret_cast<const char*>(&value), sizeof value);
}

void appendText(std::string& key, const std::string& text) {
    appendRaw(key, text.size());
    key += text;
}

void appendFont(std::string& key, const graphics::Font& font) {
    appendText(key, font.name());
    appendRaw(key, font.pointSize());
    appendRaw(key, static_cast<uint8_t>(font.weight()));
    appendRaw(key, static_cast<uint8_t>(font.italic() | (font.monospacedDigits() << 1)));
}

void appendColor(std::string& key, const graphics::Color& color) {
    using Style = graphics::UserInterfaceStyle;
    appendRaw(key, static_cast<uint8_t>(color.isDynamic() | (color.isPattern() << 1)));
    for (Style style : {Style::light, Style::dark}) {
        appendRaw(key, static_cast<uint8_t>(color.resolved(style).model()));
        appendRaw(key, color.rgbaFor(style));
        if (!color.isDynamic()) break;  // the same in both
    }
    if (color.isPattern()) appendRaw(key, color.patternImage().get());
}

// Everything a layout depends on, as one string.
std::string layoutKey(const graphics::AttributedString& text, const graphics::TextLayoutOptions& o) {
    std::string key;
    key.reserve(64 + text.runs().size() * 96 + text.string().size());
    appendRaw(key, o.width);
    appendRaw(key, o.maximumHeight);
    appendRaw(key, o.maximumLines);
    appendRaw(key, static_cast<uint8_t>(o.lineBreakMode));
    appendRaw(key, static_cast<uint8_t>(o.alignment));
    appendRaw(key, text.runs().size());
    for (const auto& run : text.runs()) {
        const auto& a = run.attributes;
        appendRaw(key, run.length);
        appendFont(key, a.font);
        appendColor(key, a.color);
        appendRaw(key, a.kern);
        appendRaw(key, a.baselineOffset);
        appendRaw(key, static_cast<uint8_t>(a.underline | (a.letterpress << 1) | (a.shadow.has_value() << 2)));
        if (a.shadow) {
            appendRaw(key, a.shadow->offset.width);
            appendRaw(key, a.shadow->offset.height);
            appendRaw(key, a.shadow->blur);
            appendColor(key, a.shadow->color);
        }
    }
    key += text.string();
    return key;
}
}  // namespace

namespace toolkit {

double FontTextMeasurer::lineHeight(const Font& font) const {
    // Every label asks on every redraw: kept with the widths, under a key of its own (the font's
    // parts as raw bytes: describing it formats its size, which cost more than the lookup).
    std::string key = "\x01line height\n";
    appendFont(key, font);
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
        // A layout of the previous generation still in use moves to the current one.
        if (auto it = olderLayouts_.find(key); it != olderLayouts_.end()) {
            TextBox box = it->second;
            keepLayout(std::move(key), box);
            return box;
        }
    }
    const graphics::TextLayout laidOut(text, options);
    TextBox box{laidOut.lines(), laidOut.size(), laidOut.isTruncated()};
    std::lock_guard lock(mutex_);
    keepLayout(std::move(key), box);
    return box;
}

void FontTextMeasurer::keepLayout(std::string key, const TextBox& box) const {
    // Two generations: a full one becomes the older and the older is let go, so what was laid out
    // lately stays (a table's rows scrolled through again are not all laid out anew).
    if (layouts_.size() >= kMaxCachedLayouts) {
        olderLayouts_ = std::move(layouts_);
        layouts_.clear();
    }
    layouts_.insert_or_assign(std::move(key), box);
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
