#include "ui/widgets/caret_navigation.h"

#include <unicode/brkiter.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <memory>
#include <optional>

#include "platform/foundation/strings.h"
#include "platform/toolkit/gesture_recognizer.h"
#include "platform/toolkit/text_input.h"
#include "platform/toolkit/view.h"

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

// The user-perceived character boundary after (forward) or before `at`; none when ICU cannot
// segment the text.
static std::optional<size_t> graphemeBoundary(std::u16string_view text, size_t at, bool forward) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> it(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status) || !it) return std::nullopt;
    const icu::UnicodeString s(false, text.data(), static_cast<int32_t>(text.size()));
    it->setText(s);
    const int32_t next = forward ? it->following(static_cast<int32_t>(at)) : it->preceding(static_cast<int32_t>(at));
    if (next == icu::BreakIterator::DONE) return std::nullopt;
    return static_cast<size_t>(next);
}

size_t hxcCaretAdvancingOneLetter(std::u16string_view text, HXCTextRange selection) {
    const auto s = clamp(text, selection);
    if (s.length > 0) return s.location + s.length;
    if (s.location >= text.size()) return s.location;
    if (auto next = graphemeBoundary(text, s.location, true)) return *next;
    const bool pair = isLead(text[s.location]) && s.location + 1 < text.size() && isTrail(text[s.location + 1]);
    return s.location + (pair ? 2 : 1);
}

size_t hxcCaretBackOneLetter(std::u16string_view text, HXCTextRange selection) {
    const auto s = clamp(text, selection);
    if (s.length > 0 || s.location == 0) return s.location;
    if (auto previous = graphemeBoundary(text, s.location, false)) return *previous;
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

// ---- text inputs

namespace {

std::u16string textOf(const toolkit::TextInput& input) {
    return foundation::toUtf16(input.textInRange({input.beginningOfDocument(), input.endOfDocument()}));
}

void caretAt(toolkit::TextInput& input, size_t offset) { hxcSetSelectedRange({offset, 0}, input); }

}  // namespace

HXCTextRange hxcSelectedRange(const toolkit::TextInput& input) {
    const toolkit::TextRange r = input.selectedTextRange();
    const long location = input.offsetFromPosition(input.beginningOfDocument(), r.start);
    const long length = input.offsetFromPosition(r.start, r.end);
    return {static_cast<size_t>(std::max(location, 0L)), static_cast<size_t>(std::max(length, 0L))};
}

void hxcSetSelectedRange(HXCTextRange range, toolkit::TextInput& input) {
    const auto start = input.positionFromPosition(input.beginningOfDocument(), static_cast<long>(range.location));
    const auto end =
        input.positionFromPosition(input.beginningOfDocument(), static_cast<long>(range.location + range.length));
    if (!start || !end) return;
    if (auto r = input.textRangeFromPosition(*start, *end)) input.setSelectedTextRange(*r);
}

void hxcTextInputBeginningOfText(toolkit::TextInput& input) { caretAt(input, 0); }

void hxcTextInputEndOfText(toolkit::TextInput& input) {
    caretAt(input, static_cast<size_t>(input.offsetFromPosition(input.beginningOfDocument(), input.endOfDocument())));
}

void hxcTextInputAdvanceOneLetter(toolkit::TextInput& input) {
    caretAt(input, hxcCaretAdvancingOneLetter(textOf(input), hxcSelectedRange(input)));
}

void hxcTextInputBackOneLetter(toolkit::TextInput& input) {
    caretAt(input, hxcCaretBackOneLetter(textOf(input), hxcSelectedRange(input)));
}

void hxcTextInputAdvanceOneWord(toolkit::TextInput& input) {
    caretAt(input, hxcCaretAdvancingOneWord(textOf(input), hxcSelectedRange(input)));
}

void hxcTextInputBackOneWord(toolkit::TextInput& input) {
    caretAt(input, hxcCaretBackOneWord(textOf(input), hxcSelectedRange(input)));
}

bool hxcAddGestureNavigationToTextInput(toolkit::TextInput& input, toolkit::View& view) {
    auto* inputView = dynamic_cast<toolkit::View*>(&input);
    if (!inputView) return false;
    std::weak_ptr<toolkit::View> weak = inputView->self();
    struct Swipe {
        int touches;
        unsigned direction;
        void (*move)(toolkit::TextInput&);
    };
    constexpr Swipe swipes[] = {
        {1, toolkit::kSwipeLeft, hxcTextInputBackOneLetter},   {1, toolkit::kSwipeRight, hxcTextInputAdvanceOneLetter},
        {2, toolkit::kSwipeLeft, hxcTextInputBackOneWord},     {2, toolkit::kSwipeRight, hxcTextInputAdvanceOneWord},
        {3, toolkit::kSwipeLeft, hxcTextInputBeginningOfText}, {3, toolkit::kSwipeRight, hxcTextInputEndOfText},
    };
    for (const Swipe& s : swipes) {
        auto recognizer =
            std::make_shared<toolkit::SwipeGestureRecognizer>([weak, move = s.move](toolkit::GestureRecognizer&) {
                auto target = weak.lock();
                if (auto* text = dynamic_cast<toolkit::TextInput*>(target.get())) move(*text);
            });
        recognizer->numberOfTouchesRequired = s.touches;
        recognizer->direction = s.direction;
        view.addGestureRecognizer(recognizer);
    }
    return true;
}

bool hxcAddGestureNavigation(toolkit::TextInput& input) {
    auto* inputView = dynamic_cast<toolkit::View*>(&input);
    if (!inputView || !inputView->superview()) return false;
    return hxcAddGestureNavigationToTextInput(input, *inputView->superview());
}
