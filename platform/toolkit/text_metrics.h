// Measuring text. Views ask one process-wide measurer how big a text is in a font, wrapped or
// truncated; the fixed-metrics measurer (an advance per UTF-16 unit and a line height, both in
// proportion to the font size) keeps layout arithmetic exact in tests, and the drawing layer
// installs a font-backed measurer behind the same interface.
#pragma once

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
    // The bounding size of those lines.
    Size measure(const std::string& text, const Font& font, double width, int maxLines, LineBreakMode mode) const;
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
