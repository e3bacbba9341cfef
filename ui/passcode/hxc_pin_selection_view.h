// One PIN dot of a passcode pad: a ring that fills while its digit is entered.
#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "platform/toolkit/view.h"

class HXCPinSelectionView : public toolkit::View {
public:
    explicit HXCPinSelectionView(const toolkit::Rect& frame = {});
    std::string className() const override { return "HXCPinSelectionView"; }

    // The ring and the fill (white unless set here or by the class's appearance).
    toolkit::Color selectedColor() const { return selectedColor_.value_or(toolkit::Color::whiteColor()); }
    void setSelectedColor(toolkit::Color color);
    const std::shared_ptr<toolkit::View>& selectedView() const { return selectedView_; }

    bool isSelected() const { return selected_; }
    // Fills (or empties) the dot in a 0.15 s ease-in animation, then completion.
    void setSelected(bool selected, bool animated, std::function<void()> completion = {});

    void layoutSubviews() override;
    void applyAppearance() override;
    std::string outlineState() const override { return selected_ ? "filled" : ""; }

private:
    void prepareApperance();
    std::optional<toolkit::Color> selectedColor_;
    std::shared_ptr<toolkit::View> selectedView_;
    bool selected_ = false;
};
