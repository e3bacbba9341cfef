#include "ui/passcode/hxc_pin_selection_view.h"

#include "platform/toolkit/animation.h"
#include "platform/toolkit/appearance.h"

HXCPinSelectionView::HXCPinSelectionView(const toolkit::Rect& frame) : toolkit::View(frame) {
    layer().borderWidth = 1.5;
    setOpaque(false);
    selectedView_ = std::make_shared<toolkit::View>();
    selectedView_->setAlpha(0);
    selectedView_->setUserInteractionEnabled(false);
    addSubview(selectedView_);
    prepareApperance();
}

void HXCPinSelectionView::setSelectedColor(toolkit::Color color) {
    selectedColor_ = color;
    prepareApperance();
}

void HXCPinSelectionView::applyAppearance() {
    toolkit::View::applyAppearance();
    if (!selectedColor_)
        if (auto c = toolkit::Appearance::get<toolkit::Color>(*this, "selectedColor")) selectedColor_ = *c;
    prepareApperance();
}

void HXCPinSelectionView::prepareApperance() {
    selectedView_->setBackgroundColor(selectedColor());
    layer().borderColor = selectedColor();
    setBackgroundColor(toolkit::Color::clear());
    setNeedsDisplay();
}

void HXCPinSelectionView::layoutSubviews() {
    toolkit::View::layoutSubviews();
    selectedView_->setFrame(bounds());
    prepareApperance();
}

void HXCPinSelectionView::setSelected(bool selected, bool animated, std::function<void()> completion) {
    selected_ = selected;
    auto fill = selectedView_;
    toolkit::animate(
        animated ? 0.15 : 0, 0, toolkit::kAnimationCurveEaseIn, [fill, selected] { fill->setAlpha(selected ? 1 : 0); },
        [completion = std::move(completion)](bool) {
            if (completion) completion();
        });
}
