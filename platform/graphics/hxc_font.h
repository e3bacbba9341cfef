// The app's message-text fonts by font type (0-7), following the user's text size: each type is
// a text style with a trait and a size factor, built once and kept until the text size changes
// (clearFontCache). 15 % larger on iPad, rounded to whole points.
#pragma once

#include <cstdint>
#include <map>
#include <memory>

#include "platform/graphics/font.h"

namespace graphics {

class HXCFont {
public:
    using FontPtr = std::shared_ptr<const Font>;

    // The cached font of the type, or a new one (cached); none for types above 7.
    static FontPtr HXCFontForType(uint32_t type);
    static void clearFontCache();
    static std::map<uint32_t, FontPtr> fontCache();

    // What the fonts follow, set by the app shell (and tests): the user's text size and whether
    // the app runs on an iPad. Changing them does not clear the cache; the text-size notification
    // does, through clearFontCache.
    static void setContentSizeCategory(ContentSizeCategory category);
    static ContentSizeCategory contentSizeCategory();
    static void setIPad(bool iPad);
    static bool iPad();
};

}  // namespace graphics
