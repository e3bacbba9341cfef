#include "ui/widgets/caret_navigation.h"

#include <algorithm>

namespace {

bool isSeparator(char16_t c) { return c == u' ' || c == u'\t'; }
bool isTrail(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }
bool isLead(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }

// Keeps a selection inside the text and its ends off the middle of a surrogate pair.
HXCTextRange clamp(std::u16string_view text, HXCTextRange s) {
    auto boundary = [&](size_t at) {
        at = std::min(at, text.size());
        if (at > 0 && at < text.size() && isTrail(text[at]) && isLead(text[at - 1])) --at;
        return at;
    };
    const size_t start = boundary(s.location);
    const size_t end = boundary(std::max(start, s.location + std::min(s.length, text.size())));
    return {start, end - start};
}

bool isWordStart(std::u16string_view text, size_t at) {
    return at < text.size() && !isSeparator(text[at]) && (at == 0 || isSeparator(text[at - 1]));
}

}  // namespace

size_t hxcCaretAdvancingOneLetter(std::u16string_view text, HXCTextRange selection) {
    const auto s = clamp(text, selection);
    if (s.length > 0) return s.location + s.length;
    if (s.location >= text.size()) return s.location;
    const bool pair = isLead(text[s.location]) && s.location + 1 < text.size() && isTrail(text[s.location + 1]);
    return s.location + (pair ? 2 : 1);
}

size_t hxcCaretBackOneLetter(std::u16string_view text, HXCTextRange selection) {
    const auto s = clamp(text, selection);
    if (s.length > 0 || s.location == 0) return s.location;
    const bool pair = s.location >= 2 && isTrail(text[s.location - 1]) && isLead(text[s.location - 2]);
    return s.location - (pair ? 2 : 1);
}

size_t hxcCaretAdvancingOneWord(std::u16string_view text, HXCTextRange selection) {
    const auto s = clamp(text, selection);
    if (s.length > 0) return s.location + s.length;
    for (size_t at = s.location + 1; at < text.size(); ++at)
        if (isWordStart(text, at)) return at;
    return text.size();
}

size_t hxcCaretBackOneWord(std::u16string_view text, HXCTextRange selection) {
    const auto s = clamp(text, selection);
    if (s.length > 0) return s.location;
    for (size_t at = s.location; at-- > 0;)
        if (isWordStart(text, at)) return at;
    return 0;
}
