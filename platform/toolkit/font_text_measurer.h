// The font-backed text measurer: widths, line heights and lines from the drawing layer's text
// layout (the bundled faces, unhinted), so views measure text as the renderer draws it, broken
// into lines by the one line breaker the drawing uses. Recent layouts are kept, so a view measured
// and then drawn lays its text out once.
#pragma once

#include <string>
#include <unordered_map>

#include "platform/foundation/thread_annotations.h"
#include "platform/toolkit/text_metrics.h"

namespace toolkit {

class FontTextMeasurer : public TextMeasurer {
public:
    double lineHeight(const Font& font) const override;
    double lineWidth(const std::string& text, const Font& font) const override;
    std::vector<std::string> lines(const std::string& text, const Font& font, double width, int maxLines,
                                   LineBreakMode mode) const override;
    TextBox layout(const AttributedString& text, const TextLayoutOptions& options) const override;
    double caretOffset(const AttributedString& line, size_t offset) const override;
    size_t offsetAt(const AttributedString& line, double x) const override;
    // The process's instance, for setTextMeasurer.
    static const FontTextMeasurer& shared();

private:
    mutable foundation::Mutex mutex_;
    mutable std::unordered_map<std::string, double> widths_ HX_GUARDED_BY(mutex_);
    void keepLayout(std::string key, const TextBox& box) const HX_REQUIRES(mutex_);
    mutable std::unordered_map<std::string, TextBox> layouts_ HX_GUARDED_BY(mutex_);
    mutable std::unordered_map<std::string, TextBox> olderLayouts_ HX_GUARDED_BY(mutex_);
};

}  // namespace toolkit
