#include "platform/toolkit/bar_item_view.h"

#include "platform/toolkit/event.h"

namespace toolkit {

BarItemView::BarItemView(std::string cls, std::string text, std::function<void()> action, bool enabled)
    : cls_(std::move(cls)), text_(std::move(text)), action_(std::move(action)), enabled_(enabled) {
    accessibility().isElement = true;
    accessibility().traits = kTraitButton;
}

std::string BarItemView::accessibilityLabel() const {
    return accessibility().label.empty() ? text_ : accessibility().label;
}

void BarItemView::touchesEnded(const TouchSet& touches, const Event*) {
    if (!touches.empty() && bounds().contains(touches[0]->locationInView(this)) && action_) action_();
}

void BarItemView::setLook(BarItemLook look) {
    look_ = std::move(look);
    setNeedsDisplay();
}

}  // namespace toolkit
