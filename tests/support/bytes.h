// Bytes of a text, for the tests that feed readers, codecs and stores with literal content.
#pragma once

#include <string_view>

#include "platform/foundation/value.h"

namespace hxtest {

inline foundation::Data bytes(std::string_view text) { return foundation::Data(text.begin(), text.end()); }

}  // namespace hxtest
