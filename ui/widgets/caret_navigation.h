// Where the caret goes when a gesture moves it by a letter, a word or to either end of a text, in
// UTF-16 units as text inputs count them. A selection (location, length) collapses to its end
// going forward and to its start going back. A letter is a code point: a move never stops inside
// a surrogate pair (an emoji stays whole); combining marks count on their own, as the text
// inputs' positions do. Words are runs of anything but spaces and tabs (line ends join words).
#pragma once

#include <cstddef>
#include <string_view>

struct HXCTextRange {
    size_t location = 0;
    size_t length = 0;
    bool operator==(const HXCTextRange&) const = default;
};

// Each gives the caret's new offset in text for the current selection; a selection outside the
// text is first brought inside it.
size_t hxcCaretAdvancingOneLetter(std::u16string_view text, HXCTextRange selection);
size_t hxcCaretBackOneLetter(std::u16string_view text, HXCTextRange selection);
// To the start of the next word after the caret, else the end of the text.
size_t hxcCaretAdvancingOneWord(std::u16string_view text, HXCTextRange selection);
// To the start of the last word that begins before the caret, else the beginning.
size_t hxcCaretBackOneWord(std::u16string_view text, HXCTextRange selection);
