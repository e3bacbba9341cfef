// Measuring text. Views ask one process-wide measurer how big a text is in a font, wrapped or
// truncated, and how attributed text falls into lines; the renderer draws those very lines, so
// what is measured is what is drawn. The fixed-metrics measurer (an advance per UTF-16 unit and a
// line height, both in proportion to the font size) keeps layout arithmetic exact in tests, and
// the drawing layer installs a font-backed measurer behind the same interface.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/graphics/text_layout.h"
#include "platform/toolkit/geometry.h"
#include "platform/toolkit/graphics_types.h"

namespace toolkit {

using graphics::AttributedString;
using graphics::LineBreakMode;
using graphics::TextAlignment;
using graphics::TextAttributes;
using graphics::TextLayoutOptions;
using graphics::TextLine;
using graphics::TextShadow;

// Attributed text laid out in lines, with the size of those lines.
struct TextBox {
    std::vector<TextLine> lines;
    Size size;
    bool truncated = false;
};

class TextMeasurer {
public:
    virtual ~TextMeasurer() = default;
    virtual double lineHeight(const Font& font) const = 0;
    // The width of one line of text, unwrapped.
    virtual double lineWidth(const std::string& text, const Font& font) const = 0;
    // The lines text breaks into within width (<= 0: unlimited), at most maxLines (0: all);
    // truncating modes end the last line with "…" when text is cut.
    virtual std::vector<std::string> lines(const std::string& text, const Font& font, double width, int maxLines,
                                           LineBreakMode mode) const;
    // The bounding size of those lines (nothing for no text).
    Size measure(const std::string& text, const Font& font, double width, int maxLines, LineBreakMode mode) const;
    // Attributed text in lines: frames from the top left of the box, each line's bytes of the text.
    // Here the plain wrapping above in the font of the text's start, runs kept where lines show
    // the text as it is.
    virtual TextBox layout(const AttributedString& text, const TextLayoutOptions& options) const;
    // The same layout, shared: a measurer that keeps its layouts hands out the one it keeps
    // rather than a copy of its lines (a view keeps it as long as its text and room stay).
    virtual std::shared_ptr<const TextBox> sharedLayout(const AttributedString& text,
                                                        const TextLayoutOptions& options) const {
        return std::make_shared<const TextBox>(layout(text, options));
    }
    // Where the caret before a byte offset of a line's text sits, from the line's left edge, and
    // the byte offset nearest to an x.
    virtual double caretOffset(const AttributedString& line, size_t offset) const;
    virtual size_t offsetAt(const AttributedString& line, double x) const;
};

class FixedMetrics : public TextMeasurer {
public:
    // Defaults: half an em per UTF-16 unit, lines 1.2 em high.
    explicit FixedMetrics(double advanceEm = 0.5, double lineEm = 1.2) : advance_(advanceEm), line_(lineEm) {}
    double lineHeight(const Font& font) const override { return font.pointSize() * line_; }
    double lineWidth(const std::string& text, const Font& font) const override;

private:
    double advance_;
    double line_;
};

// The measurer views use (fixed metrics until another is installed); main thread.
const TextMeasurer& textMeasurer();
void setTextMeasurer(const TextMeasurer* measurer);

}  // namespace toolkit
