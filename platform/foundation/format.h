// printf-style formatting over `Value` arguments, for the app's format strings ("%@", "%1$@ %2$@",
// "%ld", "%.2f", ...). Arguments are taken in order, or by position with "%n$"; a width or
// precision may be "*" (or "*n$"), read from the arguments as an integer.
//
// Conversions: %@ (the argument's text: strings as they are, numbers and booleans in their textual
// form, null as "(null)", others as their description), %s %S (text), %c %C (a code point),
// %d %i, %u, %x %X, %o (integers; without a length modifier they are 32 bits wide, as with
// C's int, and "h"/"hh" narrow further; "l", "ll", "q", "z", "t", "j" are 64 bits), %f %F %e %E
// %g %G %a %A (doubles), %p, and %%. Flags "-+ #0" and width/precision work as in C. A missing
// argument formats as an empty value (0, "" or "(null)" for %@) rather than reading garbage;
// an unknown conversion is copied as written.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/value.h"

namespace foundation {

std::string formatString(std::string_view format, const std::vector<Value>& arguments);

template <typename... Args>
std::string format(std::string_view fmt, Args&&... args) {
    return formatString(fmt, std::vector<Value>{Value(std::forward<Args>(args))...});
}

}  // namespace foundation
