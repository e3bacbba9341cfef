// One digit key of a passcode pad: a round button with its digit and telephone letters that
// fills while pressed.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/toolkit/controls.h"

class HXCPadButton : public toolkit::Button {
public:
    HXCPadButton(const toolkit::Rect& frame, int number, std::optional<std::string> letters);
    std::string className() const override { return "HXCPadButton"; }

    int number() const { return number_; }
    const std::shared_ptr<toolkit::Label>& numberLabel() const { return numberLabel_; }
    const std::shared_ptr<toolkit::Label>& lettersLabel() const { return lettersLabel_; }
    const std::shared_ptr<toolkit::View>& selectedView() const { return selectedView_; }

    // Styles: set here, else the class's appearance, else the defaults.
    toolkit::Color borderColor() const { return borderColor_.value_or(toolkit::Color::whiteColor()); }
    void setBorderColor(toolkit::Color c) { borderColor_ = c, prepareApperance(); }
    toolkit::Color selectedColor() const { return selectedColor_.value_or(toolkit::Color::lightGray()); }
    void setSelectedColor(toolkit::Color c) { selectedColor_ = c, prepareApperance(); }
    toolkit::Color textColor() const { return textColor_.value_or(toolkit::Color::whiteColor()); }
    void setTextColor(toolkit::Color c) { textColor_ = c, prepareApperance(); }
    toolkit::Color hightlightedTextColor() const {
        return hightlightedTextColor_.value_or(toolkit::Color::whiteColor());
    }
    void setHightlightedTextColor(toolkit::Color c) { hightlightedTextColor_ = c, prepareApperance(); }
    toolkit::Font numberLabelFont() const;
    void setNumberLabelFont(toolkit::Font f) { numberLabelFont_ = f, prepareApperance(); }
    toolkit::Font letterLabelFont() const;
    void setLetterLabelFont(toolkit::Font f) { letterLabelFont_ = f, prepareApperance(); }

    // Pressing fills the key and highlights its labels (0.15 s, ease in); letting go undoes it.
    void setHighlighted(bool highlighted) override;
    void layoutSubviews() override;
    void applyAppearance() override;
    std::string outlineText() const override;

private:
    void prepareApperance();

    int number_;
    std::string letters_;
    std::shared_ptr<toolkit::Label> numberLabel_;
    std::shared_ptr<toolkit::Label> lettersLabel_;
    std::shared_ptr<toolkit::View> selectedView_;
    std::optional<toolkit::Color> borderColor_, selectedColor_, textColor_, hightlightedTextColor_;
    std::optional<toolkit::Font> numberLabelFont_, letterLabelFont_;
};
