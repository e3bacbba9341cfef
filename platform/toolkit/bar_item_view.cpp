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

bool BarItemView::isEnabled() const {
    if (auto item = item_.lock()) return item->enabled;
    return enabled_;
}

BarItemLook BarItemView::look() const {
    auto item = item_.lock();
    if (!item) return look_;
    BarItemLook look;
    look.title = item->displayTitle();
    look.image = item->image;
    look.compactImage = item->landscapeImage;
    look.systemItem = item->systemItem;
    look.prominent = item->style == BarButtonStyle::Done;
    look.tintColor = item->tintColor;
    return look;
}

void BarItemView::setItem(const std::shared_ptr<BarButtonItem>& item) {
    item_ = item;
    setNeedsDisplay();
}

void BarItemView::setLook(BarItemLook look) {
    look_ = std::move(look);
    setNeedsDisplay();
}

}  // namespace toolkit
