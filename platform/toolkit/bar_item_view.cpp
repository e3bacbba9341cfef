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

BarItemLook BarItemView::look() const { return source_ ? source_() : look_; }

std::string BarItemView::outlineText() const {
    if (!source_) return text_;
    const BarItemLook look = source_();
    if (look.title.empty() && look.image) return look.image->name();
    return look.title;
}

void BarItemView::setLookSource(std::function<BarItemLook()> source) {
    source_ = std::move(source);
    setNeedsDisplay();
}

void BarItemView::setItem(const std::shared_ptr<BarButtonItem>& item) {
    item_ = item;
    std::weak_ptr<BarButtonItem> weak = item;
    setLookSource([weak] {
        BarItemLook look;
        if (auto i = weak.lock()) {
            look.title = i->displayTitle();
            look.image = i->image;
            look.compactImage = i->landscapeImage;
            look.systemItem = i->systemItem;
            look.prominent = i->style == BarButtonStyle::Done;
            look.tintColor = i->tintColor;
            look.font = i->titleFont;
            look.baselineOffset = i->titleBaselineOffset;
        }
        return look;
    });
}

void BarItemView::setLook(BarItemLook look) {
    look_ = std::move(look);
    setNeedsDisplay();
}

double barItemWidth(const View& view) {
    auto* own = dynamic_cast<const BarItemView*>(&view);
    return own ? own->preferredWidth() : view.frame().width();
}

}  // namespace toolkit
