#include "ui/dialer/hx_dial_pad_button.h"

#include <algorithm>
#include <cmath>

#include "platform/graphics/screen_scale.h"
#include "platform/toolkit/animation.h"
#include "platform/toolkit/traits.h"

HXDialPadButton::HXDialPadButton() {
    setBorderColor(toolkit::Color::systemGray());
    setBorderWidth(0);
    setCornerRadius(0);
}

void HXDialPadButton::setCornerRadius(double radius) {
    cornerRadius_ = radius;
    setNeedsLayout();
}

void HXDialPadButton::setBorderColor(toolkit::Color color) {
    layer().borderColor = color;
    setNeedsDisplay();
}

double HXDialPadButton::borderWidthFor(double width, double screenScale) {
    double w = width;
    if (screenScale == 1.0) w = std::ceil(static_cast<float>(width));
    return std::max(0.0, w);
}

void HXDialPadButton::setBorderWidth(double width) {
    layer().borderWidth = borderWidthFor(width, graphics::mainScreenScale());
    setNeedsDisplay();
}

double HXDialPadButton::cornerRadiusFor(toolkit::Size size, double wanted) {
    if (wanted <= 0) return 0;
    if (std::abs(size.width - size.height) <= 1.0) return std::ceil(size.width / 2);
    return std::min(wanted, std::floor(std::min(size.width, size.height) / 2));
}

void HXDialPadButton::layoutSubviews() {
    Button::layoutSubviews();
    layer().cornerRadius = cornerRadiusFor(bounds().size, cornerRadius_);
    setClipsToBounds(cornerRadius_ > 0);
}

toolkit::Label* HXDialPadButton::lettersLabel() const {
    const long t = tag();
    long sibling = 0;
    if (t >= 0 && t <= 9)
        sibling = t + 100;
    else if (t == 100)
        sibling = 111;
    else
        return nullptr;
    toolkit::View* parent = superview();
    if (!parent) return nullptr;
    for (const auto& v : parent->subviews())
        if (v->tag() == sibling) return dynamic_cast<toolkit::Label*>(v.get());
    return nullptr;
}

void HXDialPadButton::setHighlighted(bool highlighted) {
    // The grey flash lasts as long as the press; then the key gets back the background it had
    // (clear for the digits, green for the call key).
    if (highlighted && !isHighlighted()) restingBackground_ = backgroundColor();
    Button::setHighlighted(highlighted);
    toolkit::animate(0.1, [this, highlighted] {
        setBackgroundColor(highlighted ? toolkit::Color::systemGray()
                                       : restingBackground_.value_or(toolkit::Color::clear()));
        if (toolkit::Label* letters = lettersLabel()) {
            if (highlighted)
                letters->setTextColor(toolkit::Color::whiteColor());
            else
                letters->setTextColor(toolkit::Device::current().systemVersionAtLeast(13)
                                          ? toolkit::Color::tertiaryLabel()
                                          : toolkit::Color::lightGray());
        }
    });
}
