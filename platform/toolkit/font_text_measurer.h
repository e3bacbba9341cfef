// The font-backed text measurer: widths and line heights from the drawing layer's text layout
// (the bundled faces, unhinted), so views measure text as the renderer draws it. The wrapping and
// truncation rules are the measurer interface's own.
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
    // The process's instance, for setTextMeasurer.
    static const FontTextMeasurer& shared();

private:
    mutable foundation::Mutex mutex_;
    mutable std::unordered_map<std::string, double> widths_ HX_GUARDED_BY(mutex_);
};

}  // namespace toolkit
