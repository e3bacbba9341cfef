// Trait collections, screen profiles and the device: what a view may ask about the environment
// it runs in. Profiles list the screens the app is laid out for, with their safe areas, bar
// heights and keyboard heights, so that every layout test names the screen it assumes.
#pragma once

#include <string>

#include "platform/graphics/color.h"
#include "platform/graphics/font.h"
#include "platform/toolkit/geometry.h"

namespace toolkit {

enum class Idiom { Phone, Pad };
// Light and dark, and the user's text size, as the drawing layer resolves colours and fonts.
using InterfaceStyle = graphics::UserInterfaceStyle;
using graphics::ContentSizeCategory;
enum class SizeClass { Unspecified, Compact, Regular };
enum class Orientation { Portrait, PortraitUpsideDown, LandscapeLeft, LandscapeRight };

// The platform's names ("UICTContentSizeCategoryL").
std::string contentSizeCategoryName(ContentSizeCategory c);
// Posted when the user's text size changes.
inline constexpr const char* kContentSizeCategoryDidChangeNotification = "UIContentSizeCategoryDidChangeNotification";

struct TraitCollection {
    Idiom idiom = Idiom::Phone;
    InterfaceStyle style = InterfaceStyle::light;
    ContentSizeCategory contentSize = ContentSizeCategory::large;
    SizeClass horizontal = SizeClass::Compact;
    SizeClass vertical = SizeClass::Regular;
    double displayScale = 2;
    bool forceTouch = false;
    friend bool operator==(const TraitCollection&, const TraitCollection&) = default;
};

struct ScreenProfile {
    std::string name;
    Size size;  // portrait points
    double scale = 2;
    Idiom idiom = Idiom::Phone;
    EdgeInsets safeArea;  // portrait, status bar included
    double statusBarHeight = 20;
    double keyboardHeight = 216;  // portrait
    double keyboardHeightLandscape = 162;
    Orientation orientation = Orientation::Portrait;

    static ScreenProfile iPhone4();        // 320 x 480 @2x
    static ScreenProfile iPhoneSE();       // 320 x 568 @2x
    static ScreenProfile iPhone8();        // 375 x 667 @2x
    static ScreenProfile iPhoneX();        // 375 x 812 @3x, safe area 44 / 34
    static ScreenProfile iPad();           // 768 x 1024 @2x
    static ScreenProfile iPadLandscape();  // 1024 x 768 @2x

    bool isLandscape() const {
        return orientation == Orientation::LandscapeLeft || orientation == Orientation::LandscapeRight;
    }
    // The screen's bounds in the current orientation.
    Rect bounds() const;
    EdgeInsets currentSafeArea() const;
    double currentKeyboardHeight() const { return isLandscape() ? keyboardHeightLandscape : keyboardHeight; }
    ScreenProfile rotatedTo(Orientation o) const;
    TraitCollection traits() const;
};

// The device the process runs as: its screen profile, system version and appearance. Set by the
// application at start and by the test harness; main thread.
class Device {
public:
    static Device& current();
    const ScreenProfile& screen() const { return screen_; }
    // Also the drawing layer's main-screen scale.
    void setScreen(const ScreenProfile& p);
    // Major system version (12 ... 18); code paths compare against it.
    int systemVersion() const { return systemVersion_; }
    void setSystemVersion(int v) { systemVersion_ = v; }
    bool systemVersionAtLeast(int v) const { return systemVersion_ >= v; }
    InterfaceStyle interfaceStyle() const { return style_; }
    void setInterfaceStyle(InterfaceStyle s) { style_ = s; }
    ContentSizeCategory contentSizeCategory() const { return contentSize_; }
    void setContentSizeCategory(ContentSizeCategory c) { contentSize_ = c; }
    // A tablet's screen (the screens that lay out differently for the larger form ask this).
    bool isPad() const { return screen_.idiom == Idiom::Pad; }
    std::string model() const { return isPad() ? "iPad" : "iPhone"; }
    std::string systemName() const { return "iOS"; }
    void reset();

private:
    ScreenProfile screen_ = ScreenProfile::iPhone8();
    int systemVersion_ = 15;
    InterfaceStyle style_ = InterfaceStyle::light;
    ContentSizeCategory contentSize_ = ContentSizeCategory::large;
};

}  // namespace toolkit
