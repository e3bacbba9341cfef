// What the predicate's files share: the parser's entry and the pieces of it that substitution
// and formatting reuse. Not for other folders.
#pragma once

#include <string_view>

#include "platform/store/predicate.h"

namespace store::detail {

// Parses a format string with its positional arguments into a tree.
foundation::Result<PredicateNode> parsePredicate(std::string_view format, const foundation::Array& arguments);
// Turns an aggregate of constants into one array constant, as the parser does.
void foldConstantAggregate(Expression& e);
// Whether a key-path component reads as a reserved word (and must keep its '#' escape).
bool isReservedWord(std::string_view s);

}  // namespace store::detail
