#include "platform/toolkit/font_text_measurer.h"

#include "platform/graphics/text_layout.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <type_traits>

namespace {
constexpr size_t kMaxCachedWidths = 20000;
constexpr size_t kMaxCachedLayouts = 4000;
// Texts longer than this are not kept with the short ones, whose widths and layouts are kept in
// generations of at most these many bytes.
constexpr size_t kKeptTextBytes = 4096;
constexpr size_t kWidthBytes = 2 << 20;
constexpr size_t kLayoutGenerationBytes = 4 << 20;
// Texts wrapped whole longer than this are laid out from the closest long one kept (of which
// there are a few, in so many bytes).
constexpr size_t kLongTextBytes = 1024;
constexpr size_t kLongTexts = 4;
constexpr size_t kLongBytes = 8 << 20;

// About the bytes a laid-out box holds.
size_t boxBytes(const toolkit::TextBox& box) {
    size_t bytes = sizeof box;
    for (const graphics::TextLine& line : box.lines) {
        bytes += sizeof line + line.content.string().capacity() +
                 line.content.runs().capacity() * sizeof(graphics::AttributedString::Run);
    }
    return bytes;
}

bool sameText(const graphics::AttributedString& a, const graphics::AttributedString& b) {
    if (a.string() != b.string() || a.runs().size() != b.runs().size()) return false;
    for (size_t i = 0; i < a.runs().size(); ++i) {
        const auto &x = a.runs()[i], &y = b.runs()[i];
        if (x.start != y.start || x.length != y.length || !(x.attributes == y.attributes)) return false;
    }
    return true;
}

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

// Whether lines wrapped by words, with no limit of lines or height, all start at the left edge
// whatever the room (centred and right-aligned lines move with it).
bool wrapsFromTheLeft(const graphics::TextLayoutOptions& o) {
    return o.lineBreakMode == graphics::LineBreakMode::wordWrap && o.maximumLines == 0 && o.maximumHeight <= 0 &&
           o.width > 0 && std::isfinite(o.width) && o.alignment != graphics::TextAlignment::center &&
           o.alignment != graphics::TextAlignment::right;
}

// The text and its runs, each with all that shapes or places its glyphs and, when asked, the
// colours and underlines they are painted with.
void appendRuns(std::string& key, const graphics::AttributedString& text, bool paint) {
    appendRaw(key, text.runs().size());
    for (const auto& run : text.runs()) {
        const auto& a = run.attributes;
        appendRaw(key, run.length);
        appendFont(key, a.font);
        if (paint) appendColor(key, a.color);
        appendRaw(key, a.kern);
        appendRaw(key, a.baselineOffset);
        appendRaw(key,
                  static_cast<uint8_t>((paint && a.underline) | (a.letterpress << 1) | (a.shadow.has_value() << 2)));
        if (a.shadow) {
            appendRaw(key, a.shadow->offset.width);
            appendRaw(key, a.shadow->offset.height);
            appendRaw(key, a.shadow->blur);
            if (paint) appendColor(key, a.shadow->color);
        }
    }
    key += text.string();
}

// What a wrapped text's lines and their sizes depend on (not how they are painted).
std::string sizingKey(const graphics::AttributedString& text) {
    std::string key;
    key.reserve(16 + text.runs().size() * 64 + text.string().size());
    appendRuns(key, text, false);
    return key;
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
    appendRuns(key, text, true);
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
    keepWidth(std::move(key), height);
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
    if (text.size() > kKeptTextBytes) return width;
    std::lock_guard lock(mutex_);
    keepWidth(std::move(key), width);
    return width;
}

void FontTextMeasurer::keepWidth(std::string key, double width) const {
    if (widths_.size() >= kMaxCachedWidths || widthBytes_ >= kWidthBytes) widths_.clear(), widthBytes_ = 0;
    widthBytes_ += key.size() + 32;
    widths_.emplace(std::move(key), width);
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

TextBox FontTextMeasurer::layout(const AttributedString& text, const TextLayoutOptions& options) const {
    return *sharedLayout(text, options);
}

std::shared_ptr<const TextBox> FontTextMeasurer::sharedLayout(const AttributedString& text,
                                                              const TextLayoutOptions& given) const {
    TextLayoutOptions options = given;
    // Any number of lines in a truncating mode wraps by words: only a limit of lines truncates.
    const bool truncating = options.lineBreakMode == LineBreakMode::truncateHead ||
                            options.lineBreakMode == LineBreakMode::truncateMiddle ||
                            options.lineBreakMode == LineBreakMode::truncateTail;
    if (truncating && options.maximumLines == 0 && options.maximumHeight <= 0 && options.width > 0) {
        options.lineBreakMode = LineBreakMode::wordWrap;
    }
    const bool wrapsAll =
        options.maximumLines == 0 && options.maximumHeight <= 0 &&
        (options.lineBreakMode == LineBreakMode::wordWrap || options.lineBreakMode == LineBreakMode::charWrap ||
         options.lineBreakMode == LineBreakMode::clip);
    const bool kept = text.string().size() <= kKeptTextBytes;
    if (!kept && wrapsAll) return std::make_shared<const TextBox>(layoutLong(text, options));
    std::string key = kept ? layoutKey(text, options) : std::string();
    if (kept) {
        std::lock_guard lock(mutex_);
        if (auto it = layouts_.find(key); it != layouts_.end()) return it->second;
        // A layout of the previous generation still in use moves to the current one.
        if (auto it = olderLayouts_.find(key); it != olderLayouts_.end()) {
            std::shared_ptr<const TextBox> box = it->second;
            keepLayout(std::move(key), box);
            return box;
        }
    }
    const bool fromTheLeft = kept && wrapsFromTheLeft(options);
    std::string sizing = fromTheLeft ? sizingKey(text) : std::string();
    if (fromTheLeft) {
        std::lock_guard lock(mutex_);
        if (auto box = narrowerWrap(sizing, text, options.width)) {
            auto shared = std::make_shared<const TextBox>(*std::move(box));
            keepLayout(std::move(key), shared);
            return shared;
        }
    }
    TextBox box = wrapsAll && text.string().size() > kLongTextBytes ? layoutLong(text, options) : TextBox{};
    if (box.lines.empty()) {
        const graphics::TextLayout laidOut(text, options);
        box = TextBox{laidOut.lines(), laidOut.size(), laidOut.isTruncated()};
        std::lock_guard lock(mutex_);
        ++layoutsMade_;
    }
    auto shared = std::make_shared<const TextBox>(std::move(box));
    if (!kept) return shared;
    std::lock_guard lock(mutex_);
    keepLayout(std::move(key), shared);
    if (fromTheLeft && !shared->truncated) keepWrapped(std::move(sizing), options.width, *shared);
    return shared;
}

TextBox FontTextMeasurer::layoutLong(const AttributedString& text, const TextLayoutOptions& options) const {
    std::string optionsKey;
    appendRaw(optionsKey, options.width);
    appendRaw(optionsKey, static_cast<uint8_t>(options.lineBreakMode));
    appendRaw(optionsKey, static_cast<uint8_t>(options.alignment));
    // Lines wrapped from the left by words break where what sizes the text says, whatever its
    // colours: a row measured in its room and the bubble showing it in that room (or a narrower
    // one its lines still fit) take one layout.
    const bool fromTheLeft = wrapsFromTheLeft(options);
    std::string sizing = fromTheLeft ? sizingKey(text) : std::string();
    // The latest text laid out with these options is taken out while this one is laid out from it.
    std::optional<Long> earlier;
    {
        std::lock_guard lock(mutex_);
        if (fromTheLeft) {
            for (auto it = long_.begin(); it != long_.end(); ++it) {
                if (it->sizing != sizing || !servesWidth(*it, options)) continue;
                std::rotate(long_.begin(), it, it + 1);
                if (sameText(long_.front().text, text)) return long_.front().box;
                if (auto box = recoloured(long_.front().box, text)) return *std::move(box);
                break;
            }
        }
        for (auto it = long_.begin(); it != long_.end(); ++it) {
            if (it->options != optionsKey) continue;
            if (sameText(it->text, text)) {
                std::rotate(long_.begin(), it, it + 1);
                return long_.front().box;
            }
            earlier = std::move(*it);
            long_.erase(it);
            break;
        }
    }
    Long laid{std::move(optionsKey), text, {}, 0, std::move(sizing), options.width};
    {
        const graphics::TextLayout laidOut =
            earlier ? graphics::TextLayout(text, options, earlier->text, earlier->box.lines)
                    : graphics::TextLayout(text, options);
        laid.box = TextBox{laidOut.lines(), laidOut.size(), laidOut.isTruncated()};
    }
    laid.bytes = 2 * text.string().size() + boxBytes(laid.box);
    TextBox box = laid.box;
    std::lock_guard lock(mutex_);
    ++layoutsMade_;
    if (laid.bytes > kLongBytes) return box;
    long_.insert(long_.begin(), std::move(laid));
    size_t bytes = 0, count = 0;
    auto it = long_.begin();
    for (; it != long_.end() && count < kLongTexts && bytes + it->bytes <= kLongBytes; ++it)
        bytes += it->bytes, ++count;
    long_.erase(it, long_.end());
    return box;
}

bool FontTextMeasurer::servesWidth(const Long& kept, const TextLayoutOptions& options) {
    // The same room, or a narrower one every line still fits with a point to spare (as
    // narrowerWrap), and the same mode and alignment.
    if (kept.sizing.empty() || kept.box.truncated) return false;
    std::string rest;
    appendRaw(rest, static_cast<uint8_t>(options.lineBreakMode));
    appendRaw(rest, static_cast<uint8_t>(options.alignment));
    if (kept.options.compare(sizeof(double), std::string::npos, rest) != 0) return false;
    return kept.width == options.width || (kept.width >= options.width && kept.box.size.width + 1 <= options.width);
}

std::optional<TextBox> FontTextMeasurer::recoloured(const TextBox& kept, const AttributedString& text) {
    // The same lines, their text taken with this text's colours.
    TextBox box = kept;
    for (TextLine& line : box.lines) {
        const size_t length = line.content.string().size();
        if (line.cut || line.start + length > text.string().size()) return std::nullopt;
        line.content = text.substring(line.start, line.start + length);
    }
    return box;
}

std::optional<TextBox> FontTextMeasurer::narrowerWrap(const std::string& sizing, const AttributedString& text,
                                                      double width) const {
    // Lines broken greedily in a room break the same in any narrower room that each of them still
    // fits: what did not fit on a line before does not fit now. A point to spare keeps clear of
    // any difference between a line measured alone and the same line inside its paragraph.
    constexpr double kSpare = 1;
    const Wrapped* found = nullptr;
    for (const auto* kept : {&wrapped_, &olderWrapped_}) {
        const auto it = kept->find(sizing);
        if (it == kept->end()) continue;
        // The same room breaks the same lines, whatever they measure.
        for (const Wrapped& w : it->second)
            if (w.width == width || (w.width >= width && w.box.size.width + kSpare <= width)) found = &w;
        if (found) break;
    }
    if (!found) return std::nullopt;
    return recoloured(found->box, text);
}

void FontTextMeasurer::keepWrapped(std::string sizing, double width, const TextBox& box) const {
    if (wrapped_.size() >= kMaxCachedLayouts || wrappedBytes_ >= kLayoutGenerationBytes) {
        olderWrapped_ = std::move(wrapped_);
        wrapped_.clear();
        wrappedBytes_ = 0;
    }
    wrappedBytes_ += sizing.size() + boxBytes(box);
    auto& widths = wrapped_[std::move(sizing)];
    // A text is shown in few rooms; the widest ones serve the most.
    if (widths.size() >= 4) widths.erase(widths.begin());
    widths.push_back({width, box});
}

size_t FontTextMeasurer::layoutsMade() const {
    std::lock_guard lock(mutex_);
    return layoutsMade_;
}

size_t FontTextMeasurer::keptBytes() const {
    std::lock_guard lock(mutex_);
    size_t bytes = widthBytes_ + layoutBytes_ + wrappedBytes_;
    for (const auto& [key, box] : olderLayouts_) bytes += key.size() + boxBytes(*box);
    for (const auto& [key, widths] : olderWrapped_) {
        for (const Wrapped& w : widths) bytes += key.size() + boxBytes(w.box);
    }
    for (const Long& l : long_) bytes += l.bytes;
    return bytes;
}

void FontTextMeasurer::keepLayout(std::string key, std::shared_ptr<const TextBox> box) const {
    // Two generations: a full one becomes the older and the older is let go, so what was laid out
    // lately stays (a table's rows scrolled through again are not all laid out anew).
    if (layouts_.size() >= kMaxCachedLayouts || layoutBytes_ >= kLayoutGenerationBytes) {
        olderLayouts_ = std::move(layouts_);
        layouts_.clear();
        layoutBytes_ = 0;
    }
    layoutBytes_ += key.size() + boxBytes(*box);
    layouts_.insert_or_assign(std::move(key), std::move(box));
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
