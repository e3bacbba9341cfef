#include "platform/toolkit/traits.h"

#include "platform/graphics/screen_scale.h"

#include <utility>

namespace toolkit {

std::string contentSizeCategoryName(ContentSizeCategory c) {
    static const char* const names[] = {
        "UICTContentSizeCategoryXS",
        "UICTContentSizeCategoryS",
        "UICTContentSizeCategoryM",
        "UICTContentSizeCategoryL",
        "UICTContentSizeCategoryXL",
        "UICTContentSizeCategoryXXL",
        "UICTContentSizeCategoryXXXL",
        "UICTContentSizeCategoryAccessibilityM",
        "UICTContentSizeCategoryAccessibilityL",
        "UICTContentSizeCategoryAccessibilityXL",
        "UICTContentSizeCategoryAccessibilityXXL",
        "UICTContentSizeCategoryAccessibilityXXXL",
    };
    return names[static_cast<int>(c)];
}

// Keyboard heights are those of the standard English layout without the suggestion bar; the
// notched phone's includes its home-indicator strip.
ScreenProfile ScreenProfile::iPhone4() {
    return {"iPhone 320x480", {320, 480}, 2, Idiom::Phone, {20, 0, 0, 0}, 20, 216, 162};
}
ScreenProfile ScreenProfile::iPhoneSE() {
    return {"iPhone 320x568", {320, 568}, 2, Idiom::Phone, {20, 0, 0, 0}, 20, 216, 162};
}
ScreenProfile ScreenProfile::iPhone8() {
    return {"iPhone 375x667", {375, 667}, 2, Idiom::Phone, {20, 0, 0, 0}, 20, 216, 162};
}
ScreenProfile ScreenProfile::iPhoneX() {
    return {"iPhone 375x812", {375, 812}, 3, Idiom::Phone, {44, 0, 34, 0}, 44, 291, 171};
}
ScreenProfile ScreenProfile::iPad() {
    return {"iPad 768x1024", {768, 1024}, 2, Idiom::Pad, {20, 0, 0, 0}, 20, 264, 352};
}
ScreenProfile ScreenProfile::iPadLandscape() { return ScreenProfile::iPad().rotatedTo(Orientation::LandscapeLeft); }

Rect ScreenProfile::bounds() const {
    return isLandscape() ? Rect(0, 0, size.height, size.width) : Rect(0, 0, size.width, size.height);
}

EdgeInsets ScreenProfile::currentSafeArea() const {
    if (!isLandscape()) return safeArea;
    // Phones hide the status bar in landscape; the notched phone keeps its sensor housing clear
    // on both sides and the home indicator below.
    if (idiom == Idiom::Pad) return {statusBarHeight, 0, 0, 0};
    if (safeArea.bottom > 0) return {0, safeArea.top, 21, safeArea.top};
    return {};
}

ScreenProfile ScreenProfile::rotatedTo(Orientation o) const {
    ScreenProfile p = *this;
    p.orientation = o;
    return p;
}

TraitCollection ScreenProfile::traits() const {
    TraitCollection t;
    t.idiom = idiom;
    t.displayScale = scale;
    if (idiom == Idiom::Pad) {
        t.horizontal = SizeClass::Regular;
        t.vertical = SizeClass::Regular;
    } else {
        t.horizontal = SizeClass::Compact;
        t.vertical = isLandscape() ? SizeClass::Compact : SizeClass::Regular;
    }
    return t;
}

Device& Device::current() {
    static Device device;
    return device;
}

void Device::reset() {
    *this = Device();
    graphics::setMainScreenScale(screen_.scale);
}

void Device::setScreen(const ScreenProfile& p) {
    screen_ = p;
    graphics::setMainScreenScale(p.scale);
}

}  // namespace toolkit
