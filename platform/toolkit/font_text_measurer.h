// The font-backed text measurer: widths, line heights and lines from the drawing layer's text
// layout (the bundled faces, unhinted), so views measure text as the renderer draws it, broken
// into lines by the one line breaker the drawing uses. Recent layouts are kept, so a view measured
// and then drawn lays its text out once: short texts in generations bounded by their bytes, the
// last few long ones apart, where a long text typed into or changed in a few places is laid out
// again only around its changes.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

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
    std::shared_ptr<const TextBox> sharedLayout(const AttributedString& text,
                                                const TextLayoutOptions& options) const override;
    double caretOffset(const AttributedString& line, size_t offset) const override;
    size_t offsetAt(const AttributedString& line, double x) const override;
    // The process's instance, for setTextMeasurer.
    static const FontTextMeasurer& shared();
    // How many texts this measurer has laid out itself (not taken from what it kept).
    size_t layoutsMade() const;
    // About how many bytes what it keeps takes.
    size_t keptBytes() const;

private:
    mutable foundation::Mutex mutex_;
    void keepWidth(std::string key, double width) const HX_REQUIRES(mutex_);
    mutable std::unordered_map<std::string, double> widths_ HX_GUARDED_BY(mutex_);
    mutable size_t widthBytes_ HX_GUARDED_BY(mutex_) = 0;
    void keepLayout(std::string key, std::shared_ptr<const TextBox> box) const HX_REQUIRES(mutex_);
    mutable std::unordered_map<std::string, std::shared_ptr<const TextBox>> layouts_ HX_GUARDED_BY(mutex_);
    mutable std::unordered_map<std::string, std::shared_ptr<const TextBox>> olderLayouts_ HX_GUARDED_BY(mutex_);
    mutable size_t layoutBytes_ HX_GUARDED_BY(mutex_) = 0;
    // Long texts wrapped whole, the latest first: a text of the same options is laid out from the
    // closest one's lines.
    struct Long {
        std::string options;
        AttributedString text;
        TextBox box;
        size_t bytes = 0;
        // What sizes its lines (empty unless wrapped from the left by words), and its room.
        std::string sizing;
        double width = 0;
    };
    // Whether a kept long layout's lines are those of the text (of the same sizing) in these options.
    static bool servesWidth(const Long& kept, const TextLayoutOptions& options);
    // A kept layout's lines with the text's own runs, or nothing if a line was cut.
    static std::optional<TextBox> recoloured(const TextBox& kept, const AttributedString& text);
    TextBox layoutLong(const AttributedString& text, const TextLayoutOptions& options) const;
    mutable std::vector<Long> long_ HX_GUARDED_BY(mutex_);
    // Texts wrapped by words with no limit, by their text and what sizes it (not its colours): a
    // text measured in the widest room a view may give it is shown in a narrower one, where the
    // same lines fit.
    struct Wrapped {
        double width = 0;
        TextBox box;
    };
    std::optional<TextBox> narrowerWrap(const std::string& sizingKey, const AttributedString& text, double width) const
        HX_REQUIRES(mutex_);
    void keepWrapped(std::string sizingKey, double width, const TextBox& box) const HX_REQUIRES(mutex_);
    mutable std::unordered_map<std::string, std::vector<Wrapped>> wrapped_ HX_GUARDED_BY(mutex_);
    mutable std::unordered_map<std::string, std::vector<Wrapped>> olderWrapped_ HX_GUARDED_BY(mutex_);
    mutable size_t wrappedBytes_ HX_GUARDED_BY(mutex_) = 0;
    mutable size_t layoutsMade_ HX_GUARDED_BY(mutex_) = 0;
};

}  // namespace toolkit
