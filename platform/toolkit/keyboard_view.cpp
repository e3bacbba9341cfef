#include <algorithm>

#include "platform/graphics/graphics_context.h"
#include "platform/graphics/text_layout.h"
#include "platform/toolkit/text_input.h"
#include "platform/toolkit/window.h"

namespace toolkit {
namespace {

// The panel and its keys follow the appearance.
Color panelColor() {
    return Color::dynamic(Color::rgb(209 / 255.0, 212 / 255.0, 217 / 255.0),
                          Color::rgb(43 / 255.0, 43 / 255.0, 43 / 255.0));
}
Color keyColor() { return Color::dynamic(Color::whiteColor(), Color::rgb(107 / 255.0, 107 / 255.0, 107 / 255.0)); }
Color functionKeyColor() {
    return Color::dynamic(Color::rgb(171 / 255.0, 177 / 255.0, 186 / 255.0),
                          Color::rgb(70 / 255.0, 70 / 255.0, 70 / 255.0));
}

constexpr double kKeyGap = 6, kRowGap = 11, kKeyRadius = 5;
// Keys per row of the letter layout; the last row is the function keys and the space bar.
constexpr int kRowKeys[] = {10, 9, 7};

}  // namespace

KeyboardView::KeyboardView() {
    setBackgroundColor(panelColor());
    setAutoresizingMask(kFlexibleWidth | kFlexibleTopMargin);
}

void KeyboardView::setAccessoryView(std::shared_ptr<View> accessory) {
    if (accessory_ == accessory) return;
    if (accessory_ && accessory_->superview() == this) accessory_->removeFromSuperview();
    accessory_ = std::move(accessory);
    if (accessory_) addSubview(accessory_);
    setNeedsLayout();
}

double KeyboardView::accessoryHeight() const {
    if (!accessory_) return 0;
    const double h = accessory_->frame().height();
    if (h > 0) return h;
    return std::max(0.0, accessory_->sizeThatFits({bounds().width(), 0}).height);
}

void KeyboardView::layoutSubviews() {
    View::layoutSubviews();
    if (accessory_) accessory_->setFrame(Rect(0, 0, bounds().width(), accessoryHeight()));
}

std::vector<KeyboardView::KeyCap> KeyboardView::keyCaps() const {
    std::vector<KeyCap> caps;
    const Rect b = bounds();
    const double top = b.minY() + accessoryHeight();
    const double keysHeight = b.maxY() - top;
    const double rowHeight = (keysHeight - kRowGap * 5) / 4;
    if (keysHeight <= 0 || rowHeight <= 0) return caps;
    const double keyWidth = (b.width() - kKeyGap * 11) / 10;
    static const char* const kLetters[] = {"qwertyuiop", "asdfghjkl", "zxcvbnm"};
    double y = top + kRowGap;
    for (int row = 0; row < 3; ++row) {
        const int n = kRowKeys[row];
        double x = b.minX() + (b.width() - n * keyWidth - (n - 1) * kKeyGap) / 2;
        if (row == 2) {
            const double w = keyWidth * 1.3;
            caps.push_back({{b.minX() + kKeyGap / 2 + 2, y, w, rowHeight}, kShiftLabel, true});
            caps.push_back({{b.maxX() - kKeyGap / 2 - 2 - w, y, w, rowHeight}, kDeleteLabel, true});
        }
        for (int i = 0; i < n; ++i, x += keyWidth + kKeyGap)
            caps.push_back({{x, y, keyWidth, rowHeight}, std::string(1, kLetters[row][i]), false});
        y += rowHeight + kRowGap;
    }
    const double side = keyWidth * 2.5;
    caps.push_back({{b.minX() + kKeyGap / 2 + 2, y, side, rowHeight}, kNumbersLabel, true});
    caps.push_back({{b.minX() + side + kKeyGap * 1.5 + 2, y, b.width() - 2 * side - kKeyGap * 3 - 4, rowHeight},
                    kSpaceLabel,
                    false});
    caps.push_back({{b.maxX() - kKeyGap / 2 - 2 - side, y, side, rowHeight}, kReturnLabel, true});
    return caps;
}

void KeyboardView::draw(graphics::GraphicsContext& c, const Rect&) {
    for (const KeyCap& cap : keyCaps()) {
        c.setFillColor(cap.function ? functionKeyColor() : keyColor());
        c.addPath(graphics::Path::roundedRect(cap.frame, kKeyRadius));
        c.fillPath();
        // Letters at the size of the key's height, the words of the wide keys smaller.
        const bool letter = cap.label.size() == 1;
        graphics::TextAttributes a;
        a.font = Font::system(std::clamp(cap.frame.height() * (letter ? 0.52 : 0.36), 8.0, letter ? 24.0 : 17.0));
        a.color = Color::label();
        graphics::TextLayoutOptions o;
        o.width = cap.frame.width();
        o.maximumLines = 1;
        o.lineBreakMode = LineBreakMode::clip;
        o.alignment = TextAlignment::center;
        const graphics::TextLayout label(graphics::AttributedString(cap.label, a), o);
        label.draw(c, {cap.frame.minX(), cap.frame.midY() - label.size().height / 2});
    }
}

Rect Keyboard::frameFor(const Window& window, double accessoryHeight) const {
    const Rect screen = window.profile().bounds();
    if (floating_)
        return Rect(screen.width() / 2 - 160, screen.height() / 2 - accessoryHeight, 320, 260 + accessoryHeight);
    const double h = window.profile().currentKeyboardHeight() + accessoryHeight;
    return Rect(0, screen.height() - h, screen.width(), h);
}

void Keyboard::reloadInputViews(const Responder& input) {
    if (!visible_ || !view_) return;
    auto* w = dynamic_cast<Window*>(view_->superview());
    if (!w) return;
    view_->setAccessoryView(input.inputAccessoryView());
    const Rect to = frameFor(*w, view_->accessoryHeight());
    view_->setFrame(to);
    view_->setNeedsLayout();
    if (to == frame_) return;
    const Rect from = frame_;
    frame_ = to;
    post(kKeyboardWillChangeFrameNotification, kKeyboardDidChangeFrameNotification, from, to);
}

void Keyboard::keepInFront(Window& window) {
    if (visible_ && view_ && view_->superview() == &window && window.subviews().back() != view_)
        window.bringSubviewToFront(view_.get());
}

}  // namespace toolkit
