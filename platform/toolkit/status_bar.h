// The status bar the system draws across the top of the screen, above the app's views: the time
// from the process clock, the carrier and signal from the telephony stand-in and the charge from
// the battery stand-in. The notched phone puts the time in its left ear and the signal and battery
// in its right one; the other phones show signal and carrier, the time in the middle and the
// battery's percentage; the tablet shows the time and date and the battery. While the application
// shows its network activity indicator, a spinner stands beside the carrier (phones without the
// notch), beside the time (the notched phone) or beside the date (tablet). Its ink follows the
// visible controller's preferred style (the default is dark on light screens, light on dark
// ones); that controller can also hide it, and phones hide it in landscape. The notched phone also
// shows the home indicator along its bottom edge. Snapshots of a window and the desktop window
// draw both.
#pragma once

#include <optional>
#include <string>

#include "platform/graphics/graphics_context.h"
#include "platform/toolkit/geometry.h"

namespace toolkit {

class Window;
class ViewController;

struct StatusBarContent {
    std::string time;                    // "9:41" (notched phone), else "9:41 AM"
    std::string date;                    // tablet only: "Tue Nov 14"
    std::optional<std::string> carrier;  // none without a SIM ("No SIM" is shown)
    double batteryLevel = 1;             // 0 ... 1
    bool charging = false;
};

// What the status bar would show on this window now.
StatusBarContent statusBarContent(const Window& window);
// The controller whose preferences the status bar follows: the top of what covers the screen.
ViewController* statusBarController(const Window& window);
// Whether the window shows a card (a page or form sheet in a compact width) over what presented
// it: the presenter is then drawn pushed back on black, and the status bar over it in light ink.
bool showsCard(const Window& window);
// The status bar's frame in window coordinates; empty while it is hidden.
Rect statusBarFrame(const Window& window);
// The network activity indicator's frame in window coordinates; empty while it or the bar is hidden.
Rect networkActivityIndicatorFrame(const Window& window);
// The home indicator's frame (notched screens only, else empty).
Rect homeIndicatorFrame(const Window& window);
// Draws the status bar and the home indicator over what the context holds (window coordinates).
void drawStatusBar(const Window& window, graphics::GraphicsContext& context);

}  // namespace toolkit
