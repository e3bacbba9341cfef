// Form encoding of a dictionary ("application/x-www-form-urlencoded" bodies and queries).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/value.h"

enum class StringEncoding { ASCII, UTF8 };

// "k=v&k=v": keys and value texts percent-encoded (only ";:@&=/+%?" and non-ASCII bytes are
// escaped), a collection value giving one pair per element, keys in the dictionary's order or
// the ordering's. The encoding does not change the escaping.
std::string formatForHTTP(const foundation::Dictionary& dictionary);
std::string formatForHTTPUsingEncoding(const foundation::Dictionary& dictionary, StringEncoding encoding);
std::string formatForHTTPUsingEncoding(const foundation::Dictionary& dictionary, StringEncoding encoding,
                                       const std::optional<std::vector<foundation::Key>>& ordering);
