// A text of a language written right to left as a bubble or a list row shows it. Each line is
// put in a right-to-left isolate, so its words run from the right whatever the paragraph around
// it, and each number in it in a left-to-right isolate, so the digits and groups of "10", "3:10"
// or "+44 20 7946 0958" read as they were written (a forced right-to-left run would reverse them,
// and a user would dial another number). What is copied or sent from such a text is the text as
// written: the isolates are taken out again.
#pragma once

#include <string>
#include <string_view>

inline constexpr std::string_view kHXRightToLeftIsolate = "\xE2\x81\xA7";  // U+2067
inline constexpr std::string_view kHXLeftToRightIsolate = "\xE2\x81\xA6";  // U+2066
inline constexpr std::string_view kHXPopIsolate = "\xE2\x81\xA9";          // U+2069

// Every line (split at "\n", which stays between the lines) in a right-to-left isolate, every
// number (digits with the separators of times, amounts and phone numbers between them, a leading
// "+" or "(", and the parentheses it opens closed) in a left-to-right one.
std::string hxRightToLeftLines(std::string_view text);
// The text without the isolates hxRightToLeftLines puts in (U+2066 to U+2069).
std::string hxWithoutIsolates(std::string_view text);
