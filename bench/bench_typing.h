// Keys typed into a text view one at a time, as the keyboard sends them.
#pragma once

#include <string>

#include "platform/toolkit/text_input.h"

namespace hxbench {

// keys characters of text (repeated as needed), each inserted on its own.
inline void typeKeys(toolkit::TextView& view, int keys, const std::string& text) {
    for (int i = 0; i < keys; ++i) view.insertText(std::string(1, text[static_cast<size_t>(i) % text.size()]));
}

}  // namespace hxbench
