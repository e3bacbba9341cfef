#include "platform/toolkit/status_bar.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <numbers>

#include "platform/clock/clock.h"
#include "platform/foundation/application.h"
#include "platform/graphics/text_layout.h"
#include "platform/services/device.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/view_controller.h"
#include "platform/toolkit/window.h"

namespace toolkit {
namespace {

using graphics::GraphicsContext;

bool notched(const ScreenProfile& p) { return p.idiom == Idiom::Phone && p.safeArea.bottom > 0; }

std::string format(const std::tm& t, const char* pattern) {
    char buf[64];
    const size_t n = std::strftime(buf, sizeof buf, pattern, &t);
    std::string s(buf, n);
    // Hours and days without their leading zero.
    if (s.size() > 1 && s[0] == '0') s.erase(0, 1);
    return s;
}

// Signal strength: four bars rising to the right (notched) or five dots.
void drawSignal(GraphicsContext& c, Point origin, bool bars, const Color& ink) {
    c.setFillColor(ink);
    if (bars) {
        for (int i = 0; i < 4; ++i) {
            const double h = 3.5 + i * 2.2;
            c.addPath(graphics::Path::roundedRect({origin.x + i * 4.5, origin.y + 10.5 - h, 3, h}, 1));
            c.fillPath();
        }
        return;
    }
    for (int i = 0; i < 5; ++i) c.fillEllipse({origin.x + i * 6.5, origin.y + 3, 5.5, 5.5});
}

// The battery: an outline with a nub and a fill as long as the charge (green while charging, red
// when low).
void drawBattery(GraphicsContext& c, Point origin, Size size, double level, bool charging, const Color& ink) {
    const double radius = size.height * 0.3;
    c.setStrokeColor(ink.withAlphaComponent(0.4));
    c.setLineWidth(1);
    c.addPath(graphics::Path::roundedRect({origin.x + 0.5, origin.y + 0.5, size.width - 1, size.height - 1}, radius));
    c.strokePath();
    c.setFillColor(ink.withAlphaComponent(0.4));
    c.addPath(graphics::Path::roundedRect(
        {origin.x + size.width + 1, origin.y + size.height * 0.32, 1.5, size.height * 0.36}, 0.75));
    c.fillPath();
    const double inner = size.width - 4;
    const double w = inner * std::clamp(level, 0.0, 1.0);
    if (w <= 0) return;
    const Color fill = charging ? Color::systemGreen() : level <= 0.2 ? Color::systemRed() : ink;
    c.setFillColor(fill);
    c.addPath(graphics::Path::roundedRect({origin.x + 2, origin.y + 2, w, size.height - 4}, std::max(0.5, radius - 2)));
    c.fillPath();
}

void drawLabel(GraphicsContext& c, const std::string& text, double x, double midY, const graphics::Font& font,
               const Color& ink) {
    graphics::TextAttributes a;
    a.font = font;
    a.color = ink;
    const Size s = graphics::sizeOfText(text, font);
    graphics::drawText(c, text, {x, midY - s.height / 2}, a);
}

double widthOf(const std::string& text, const graphics::Font& font) { return graphics::sizeOfText(text, font).width; }

// The bar's fonts: the notched phone's time, and the other screens' bold and plain text.
graphics::Font notchedFont() { return graphics::Font::system(15, graphics::FontWeight::semibold); }
graphics::Font boldFont() { return graphics::Font::system(12, graphics::FontWeight::semibold); }
graphics::Font plainFont() { return graphics::Font::system(12); }
// The notched phone's ears either side of the sensor housing, and the middle of their text.
double earWidth(const Rect& bar) { return (bar.width() - 209) / 2; }
double notchedMidY(const Rect& bar) { return bar.minY() + 24; }
constexpr double kSignalDotsWidth = 5 * 6.5 + 4;
constexpr double kActivitySide = 10;

std::string tabletLeftText(const StatusBarContent& content) { return content.time + "  " + content.date; }
std::string carrierText(const StatusBarContent& content) { return content.carrier.value_or("No SIM"); }

// Where the spinner goes: after the text it stands beside, centred on the bar's text.
Rect activityFrame(const ScreenProfile& p, const Rect& bar, const StatusBarContent& content) {
    double right = 0, midY = bar.midY();
    if (notched(p)) {
        midY = notchedMidY(bar);
        const double timeWidth = widthOf(content.time, notchedFont());
        right = (earWidth(bar) - timeWidth) / 2 + 6 + timeWidth;
    } else if (p.idiom == Idiom::Pad) {
        right = 6 + widthOf(tabletLeftText(content), boldFont());
    } else {
        right = 6 + kSignalDotsWidth + widthOf(carrierText(content), plainFont());
    }
    return {std::round(right + 5), std::round(midY - kActivitySide / 2), kActivitySide, kActivitySide};
}

// An activity spinner: twelve spokes fading round the circle.
void drawActivity(GraphicsContext& c, const Rect& frame, const Color& ink) {
    const double cx = frame.midX(), cy = frame.midY(), outer = frame.width() / 2, inner = outer * 0.45;
    c.setLineWidth(std::max(1.0, frame.width() / 10));
    for (int i = 0; i < 12; ++i) {
        const double angle = i * std::numbers::pi / 6;
        c.setStrokeColor(ink.withAlphaComponent(0.25 + 0.75 * (12 - i) / 12.0));
        graphics::Path spoke;
        spoke.moveTo({cx + inner * std::sin(angle), cy - inner * std::cos(angle)});
        spoke.lineTo({cx + outer * std::sin(angle), cy - outer * std::cos(angle)});
        c.addPath(spoke);
        c.strokePath();
    }
}

}  // namespace

ViewController* statusBarController(const Window& window) {
    ViewController* vc = window.rootViewController().get();
    while (vc) {
        // A presentation that covers the screen takes over; sheets and popovers leave it alone.
        ViewController* presented = vc->presentedViewController();
        if (presented && (presented->presentationStyleInUse() == ModalPresentationStyle::FullScreen ||
                          presented->presentationStyleInUse() == ModalPresentationStyle::OverFullScreen)) {
            vc = presented;
            continue;
        }
        if (auto* nav = dynamic_cast<NavigationController*>(vc); nav && nav->topViewController()) {
            vc = nav->topViewController();
            continue;
        }
        if (auto* tabs = dynamic_cast<TabBarController*>(vc); tabs && tabs->selectedViewController()) {
            vc = tabs->selectedViewController();
            continue;
        }
        break;
    }
    return vc;
}

StatusBarContent statusBarContent(const Window& window) {
    StatusBarContent content;
    const std::time_t seconds = static_cast<std::time_t>(std::floor(clocks::wallNow()));
    std::tm local{};
    localtime_r(&seconds, &local);
    const ScreenProfile& p = window.profile();
    content.time = format(local, notched(p) ? "%I:%M" : "%I:%M %p");
    if (p.idiom == Idiom::Pad) {
        content.date = format(local, "%a %b ");
        content.date += std::to_string(local.tm_mday);
    }
    content.carrier = services::Telephony::shared().carrierName();
    content.batteryLevel = services::Battery::shared().level();
    content.charging = services::Battery::shared().state() == services::BatteryState::Charging;
    return content;
}

bool showsCard(const Window& window) {
    if (window.windowTraits().horizontal != SizeClass::Compact) return false;
    for (ViewController* vc = window.rootViewController().get(); vc; vc = vc->presentedViewController()) {
        const ModalPresentationStyle style = vc->presentationStyleInUse();
        if (vc->presentingViewController() &&
            (style == ModalPresentationStyle::PageSheet || style == ModalPresentationStyle::FormSheet))
            return true;
    }
    return false;
}

Rect statusBarFrame(const Window& window) {
    const ScreenProfile& p = window.profile();
    if (p.idiom == Idiom::Phone && p.isLandscape()) return {};
    if (ViewController* vc = statusBarController(window); vc && vc->prefersStatusBarHidden()) return {};
    return {0, 0, window.bounds().width(), p.statusBarHeight};
}

Rect networkActivityIndicatorFrame(const Window& window) {
    const Rect bar = statusBarFrame(window);
    if (bar.isEmpty() || !foundation::Application::shared().isNetworkActivityIndicatorVisible()) return {};
    return activityFrame(window.profile(), bar, statusBarContent(window));
}

Rect homeIndicatorFrame(const Window& window) {
    if (!notched(window.profile())) return {};
    const Rect b = window.bounds();
    const double width = window.profile().isLandscape() ? 209 : 134;
    return {b.midX() - width / 2, b.maxY() - 13, width, 5};
}

void drawStatusBar(const Window& window, GraphicsContext& c) {
    const bool dark = window.traitCollection().style == InterfaceStyle::dark;
    if (Rect home = homeIndicatorFrame(window); !home.isEmpty()) {
        c.setFillColor(dark ? Color::whiteColor() : Color::black());
        c.addPath(graphics::Path::roundedRect(home, home.height() / 2));
        c.fillPath();
    }
    const Rect bar = statusBarFrame(window);
    if (bar.isEmpty()) return;
    StatusBarStyle style = StatusBarStyle::Default;
    if (ViewController* vc = statusBarController(window)) style = vc->preferredStatusBarStyle();
    const bool lightInk =
        showsCard(window) || style == StatusBarStyle::LightContent || (style == StatusBarStyle::Default && dark);
    const Color ink = lightInk ? Color::whiteColor() : Color::black();
    const StatusBarContent content = statusBarContent(window);
    const ScreenProfile& p = window.profile();
    const std::string carrier = carrierText(content);
    if (foundation::Application::shared().isNetworkActivityIndicatorVisible())
        drawActivity(c, activityFrame(p, bar, content), ink);

    if (notched(p)) {
        // The ears either side of the sensor housing: the time centred in the left one.
        const double ear = earWidth(bar);
        const graphics::Font font = notchedFont();
        const double midY = notchedMidY(bar);
        drawLabel(c, content.time, (ear - widthOf(content.time, font)) / 2 + 6, midY, font, ink);
        const double right = bar.maxX() - ear / 2 + 28;
        drawBattery(c, {right - 27, midY - 6}, {25, 12}, content.batteryLevel, content.charging, ink);
        drawSignal(c, {right - 52, midY - 5.5}, true, ink);
        return;
    }
    const graphics::Font font = boldFont();
    const graphics::Font small = plainFont();
    const double midY = bar.midY();
    double x = 6;
    if (p.idiom == Idiom::Pad) {
        drawLabel(c, tabletLeftText(content), x, midY, font, ink);
    } else {
        drawSignal(c, {x, midY - 5.5}, false, ink);
        x += kSignalDotsWidth;
        drawLabel(c, carrier, x, midY, small, ink);
        drawLabel(c, content.time, bar.midX() - widthOf(content.time, font) / 2, midY, font, ink);
    }
    const double batteryX = bar.maxX() - 6 - 2.5 - 22;
    drawBattery(c, {batteryX, midY - 5.25}, {22, 10.5}, content.batteryLevel, content.charging, ink);
    const std::string percent = std::to_string(static_cast<int>(std::lround(content.batteryLevel * 100))) + "%";
    drawLabel(c, percent, batteryX - 4 - widthOf(percent, small), midY, small, ink);
    if (p.idiom == Idiom::Pad) {
        drawLabel(c, carrier, batteryX - 4 - widthOf(percent, small) - 10 - widthOf(carrier, small), midY, small, ink);
    }
}

}  // namespace toolkit
