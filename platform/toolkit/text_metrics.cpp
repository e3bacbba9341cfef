#include "platform/toolkit/text_metrics.h"

#include <algorithm>
#include <cmath>

#include "platform/foundation/strings.h"
#include "platform/toolkit/window.h"

namespace toolkit {

namespace {
const FixedMetrics gFixed;
const TextMeasurer* gMeasurer = &gFixed;
const char* const kEllipsis = "\u2026";

std::vector<std::string> splitParagraphs(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        size_t nl = text.find('\n', start);
        out.push_back(text.substr(start, nl == std::string::npos ? std::string::npos : nl - start));
        if (nl == std::string::npos) break;
        start = nl + 1;
    }
    return out;
}

// The longest prefix (in whole code points) that fits width.
size_t fittingUnits(const TextMeasurer& m, const std::string& s, const Font& f, double width) {
    size_t n = foundation::utf16Length(s), lo = 0, hi = n;
    while (lo < hi) {
        size_t mid = (lo + hi + 1) / 2;
        if (m.lineWidth(foundation::truncateUtf16(s, mid), f) <= width)
            lo = mid;
        else
            hi = mid - 1;
    }
    return lo;
}

std::string truncate(const TextMeasurer& m, const std::string& s, const Font& f, double width, LineBreakMode mode) {
    if (width <= 0 || m.lineWidth(s, f) <= width) return s;
    double room = width - m.lineWidth(kEllipsis, f);
    size_t n = foundation::utf16Length(s);
    auto sub = [&](size_t from, size_t len) { return foundation::substringUtf16(s, {from, len}); };
    switch (mode) {
        case LineBreakMode::truncateHead: {
            size_t keep = 0;
            while (keep < n && m.lineWidth(sub(n - keep - 1, keep + 1), f) <= room) ++keep;
            return kEllipsis + sub(n - keep, keep);
        }
        case LineBreakMode::truncateMiddle: {
            size_t head = 0, tail = 0;
            for (bool front = true;; front = !front) {
                size_t h = head + (front ? 1 : 0), t = tail + (front ? 0 : 1);
                if (h + t > n || m.lineWidth(sub(0, h) + sub(n - t, t), f) > room) break;
                head = h, tail = t;
            }
            return sub(0, head) + kEllipsis + sub(n - tail, tail);
        }
        case LineBreakMode::clip:
            return foundation::truncateUtf16(s, fittingUnits(m, s, f, width));
        default: {
            std::string kept = foundation::truncateUtf16(s, fittingUnits(m, s, f, std::max(0.0, room)));
            while (!kept.empty() && kept.back() == ' ') kept.pop_back();
            return kept + kEllipsis;
        }
    }
}

void markSubtreeForLayout(View& view) {
    view.setNeedsLayout();
    for (const ViewPtr& sub : view.subviews())
        if (sub) markSubtreeForLayout(*sub);
}

}  // namespace

const TextMeasurer& textMeasurer() { return *gMeasurer; }
void setTextMeasurer(const TextMeasurer* m) {
    const TextMeasurer* next = m ? m : &gFixed;
    if (next == gMeasurer) return;
    gMeasurer = next;
    // Sizes measured with the old measurer (bar items, labels, cells) are measured again.
    for (Window* window : Window::allWindows()) markSubtreeForLayout(*window);
}

double FixedMetrics::lineWidth(const std::string& text, const Font& font) const {
    return static_cast<double>(foundation::utf16Length(text)) * advance_ * font.pointSize();
}

std::vector<std::string> TextMeasurer::lines(const std::string& text, const Font& font, double width, int maxLines,
                                             LineBreakMode mode) const {
    std::vector<std::string> out;
    bool singleLineMode = maxLines == 1;
    for (const std::string& para : splitParagraphs(text)) {
        if (width <= 0 || singleLineMode) {
            out.push_back(para);
            continue;
        }
        std::string line;
        auto flushWord = [&](std::string word) {
            std::string candidate = line.empty() ? word : line + " " + word;
            if (lineWidth(candidate, font) <= width) {
                line = candidate;
                return;
            }
            if (!line.empty()) out.push_back(line), line.clear();
            // A word wider than the line breaks between characters.
            while (lineWidth(word, font) > width) {
                size_t k = std::max<size_t>(1, fittingUnits(*this, word, font, width));
                std::string head = foundation::truncateUtf16(word, k);
                out.push_back(head);
                word = word.substr(head.size());
            }
            line = word;
        };
        if (mode == LineBreakMode::charWrap) {
            std::string rest = para;
            while (lineWidth(rest, font) > width) {
                size_t k = std::max<size_t>(1, fittingUnits(*this, rest, font, width));
                std::string head = foundation::truncateUtf16(rest, k);
                out.push_back(head);
                rest = rest.substr(head.size());
            }
            out.push_back(rest);
            continue;
        }
        size_t start = 0;
        for (;;) {
            size_t sp = para.find(' ', start);
            flushWord(para.substr(start, sp == std::string::npos ? std::string::npos : sp - start));
            if (sp == std::string::npos) break;
            start = sp + 1;
        }
        out.push_back(line);
    }
    bool truncating = mode == LineBreakMode::truncateTail || mode == LineBreakMode::truncateHead ||
                      mode == LineBreakMode::truncateMiddle || mode == LineBreakMode::clip;
    if (maxLines > 0 && out.size() > static_cast<size_t>(maxLines)) {
        // The last visible line carries the rest of the text, cut to fit.
        std::string rest;
        for (size_t i = static_cast<size_t>(maxLines) - 1; i < out.size(); ++i)
            rest += (rest.empty() ? "" : " ") + out[i];
        out.resize(static_cast<size_t>(maxLines));
        out.back() = truncating ? truncate(*this, rest, font, width, mode) : out.back();
    } else if (truncating && width > 0) {
        for (auto& l : out) l = truncate(*this, l, font, width, mode);
    }
    return out;
}

Size TextMeasurer::measure(const std::string& text, const Font& font, double width, int maxLines,
                           LineBreakMode mode) const {
    if (text.empty()) return {0, 0};
    TextAttributes attributes;
    attributes.font = font;
    TextLayoutOptions options;
    options.width = width;
    options.maximumLines = maxLines;
    options.lineBreakMode = mode;
    return layout(AttributedString(text, attributes), options).size;
}

TextBox TextMeasurer::layout(const AttributedString& text, const TextLayoutOptions& options) const {
    const std::string& str = text.string();
    const Font font = text.attributesAt(0).font;
    const double lh = lineHeight(font);
    TextBox box;
    std::vector<std::string> texts = lines(str, font, options.width, options.maximumLines, options.lineBreakMode);
    if (texts.empty()) texts.emplace_back();
    size_t cursor = 0;
    double widest = 0;
    for (const std::string& line : texts) {
        if (options.maximumHeight > 0 && !box.lines.empty() && box.size.height + lh > options.maximumHeight + 1e-9) {
            box.truncated = true;
            break;
        }
        TextLine out;
        // A line that shows the text as it is keeps its runs; a cut one takes the attributes of
        // where it starts.
        const size_t at = line.empty() ? std::string::npos : str.find(line, cursor);
        const bool blankBefore = at != std::string::npos && std::all_of(str.begin() + static_cast<long>(cursor),
                                                                        str.begin() + static_cast<long>(at),
                                                                        [](char c) { return c == ' ' || c == '\n'; });
        if (blankBefore) {
            out.content = text.substring(at, at + line.size());
            out.start = at;
            out.end = at + line.size();
        } else {
            out.content = AttributedString(line, text.attributesAt(cursor));
            out.start = cursor;
            out.cut = !line.empty();
            out.end = out.cut ? str.size() : cursor;
        }
        cursor = std::max(cursor, out.end);
        // Past the break (a space or a line end) the next line starts.
        if (cursor < str.size() && (str[cursor] == ' ' || str[cursor] == '\n')) ++cursor;
        const double w = line.empty() ? 0 : lineWidth(line, font);
        out.frame = Rect{0, box.size.height, w, lh};
        out.baseline = box.size.height + lh * 0.8;
        widest = std::max(widest, w);
        box.size.height += lh;
        box.truncated = box.truncated || out.cut;
        box.lines.push_back(std::move(out));
    }
    box.size.width = widest;
    const double room = options.width > 0 ? options.width : widest;
    for (TextLine& line : box.lines) {
        if (options.alignment == TextAlignment::center) line.frame.origin.x = (room - line.frame.width()) / 2;
        if (options.alignment == TextAlignment::right) line.frame.origin.x = room - line.frame.width();
    }
    return box;
}

double TextMeasurer::caretOffset(const AttributedString& line, size_t offset) const {
    return lineWidth(line.string().substr(0, std::min(offset, line.string().size())), line.attributesAt(0).font);
}

size_t TextMeasurer::offsetAt(const AttributedString& line, double x) const {
    const std::string& str = line.string();
    const Font font = line.attributesAt(0).font;
    size_t best = 0;
    double bestDistance = std::abs(x);
    for (size_t i = 1; i <= str.size(); ++i) {
        if (i < str.size() && (static_cast<unsigned char>(str[i]) & 0xC0) == 0x80) continue;
        const double d = std::abs(lineWidth(str.substr(0, i), font) - x);
        if (d < bestDistance) best = i, bestDistance = d;
    }
    return best;
}

}  // namespace toolkit
