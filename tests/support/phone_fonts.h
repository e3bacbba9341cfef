// The message fonts as a phone's launch leaves them: a phone's, at the standard text size, built
// anew. The fonts are the process's, so a test that changes them gives them back with this.
#pragma once

#include "platform/graphics/hxc_font.h"

namespace hxtest {

inline void resetToPhoneMessageFonts() {
    graphics::HXCFont::setIPad(false);
    graphics::HXCFont::setContentSizeCategory(graphics::ContentSizeCategory::large);
    graphics::HXCFont::clearFontCache();
}

}  // namespace hxtest
