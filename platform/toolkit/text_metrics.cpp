#include "platform/toolkit/text_metrics.h"

#include <algorithm>

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
    auto ls = lines(text, font, width, maxLines, mode);
    double w = 0;
    for (auto& l : ls) w = std::max(w, lineWidth(l, font));
    return {w, lineHeight(font) * static_cast<double>(ls.size())};
}

}  // namespace toolkit
