// Where the caret goes when a gesture moves it by a letter, a word or to either end of a text, in
// UTF-16 units as text inputs count them, and the swipes that move it in a text input: one finger
// by a letter, two by a word, three to either end; left goes back. A selection (location, length)
// collapses to its end going forward and to its start going back. A letter is what the reader
// sees as one character (an extended grapheme cluster): a base letter with its combining marks,
// an emoji with its modifiers or joined parts, a flag; a move never stops inside one. Words are
// runs of anything but spaces and tabs (line ends join words).
#pragma once

#include <cstddef>
#include <string_view>

namespace toolkit {
class TextInput;
class View;
}  // namespace toolkit

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

// ---- over a text input (a text field or a text view), with its own positions

// The selection as (offset of its start, its length).
HXCTextRange hxcSelectedRange(const toolkit::TextInput& input);
void hxcSetSelectedRange(HXCTextRange range, toolkit::TextInput& input);
void hxcTextInputBeginningOfText(toolkit::TextInput& input);
void hxcTextInputEndOfText(toolkit::TextInput& input);
void hxcTextInputAdvanceOneLetter(toolkit::TextInput& input);
void hxcTextInputBackOneLetter(toolkit::TextInput& input);
void hxcTextInputAdvanceOneWord(toolkit::TextInput& input);
void hxcTextInputBackOneWord(toolkit::TextInput& input);

// Adds the six swipes to view, each moving the caret of input (a text field or text view, held
// weakly); false when input is not a view.
bool hxcAddGestureNavigationToTextInput(toolkit::TextInput& input, toolkit::View& view);
// The same on the input's superview; false without one.
bool hxcAddGestureNavigation(toolkit::TextInput& input);
