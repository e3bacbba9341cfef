// The dial pad's key: a button with an optional border, square, rounded or circular corners, a
// grey flash while pressed (its own background back after it), and the small letters label under a digit (a sibling
// found by tag) that lights up with it.
#pragma once

#include <optional>

#include "platform/toolkit/controls.h"

class HXDialPadButton : public toolkit::Button {
public:
    HXDialPadButton();
    std::string className() const override { return "HXDialPadButton"; }

    double cornerRadius() const { return cornerRadius_; }
    void setCornerRadius(double radius);
    // Passed to the layer; the key keeps no copy. On a 1x screen the width is raised to whole
    // points; a negative one becomes 0.
    void setBorderColor(toolkit::Color color);
    void setBorderWidth(double width);

    // The letters label of a key: the sibling tagged tag + 100 for keys 0 to 9, 111 for the key
    // tagged 100 (the 0 key); none for other keys or when the sibling is missing or no label.
    toolkit::Label* lettersLabel() const;

    // The corner radius the layer gets for a size and wanted radius, and whether it clips.
    static double cornerRadiusFor(toolkit::Size size, double wanted);
    static double borderWidthFor(double width, double screenScale);

    void setHighlighted(bool highlighted) override;
    void layoutSubviews() override;

private:
    double cornerRadius_ = 0;
    // The background before the press began.
    std::optional<toolkit::Color> restingBackground_;
};
