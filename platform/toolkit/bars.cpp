#include "platform/toolkit/bars.h"

#include <algorithm>

#include "platform/toolkit/bar_item_view.h"
#include "platform/toolkit/main_thread.h"

namespace toolkit {

// ---- Toolbar

void Toolbar::setItems(std::vector<BarButtonItemPtr> items, bool animated) {
    TK_MAIN_THREAD("Toolbar::setItems");
    (void)animated;
    for (auto& v : views_)
        if (v) v->removeFromSuperview();
    views_.clear();
    items_ = std::move(items);
    for (auto& item : items_) {
        if (item->systemItem == SystemItem::FlexibleSpace || item->systemItem == SystemItem::FixedSpace) {
            views_.push_back(nullptr);
            continue;
        }
        ViewPtr v = makeBarItemView(item);
        item->setView(v);
        addSubview(v);
        views_.push_back(v);
    }
    setNeedsLayout();
}

std::vector<ViewPtr> Toolbar::itemViews() const {
    std::vector<ViewPtr> out;
    for (auto& v : views_)
        if (v) out.push_back(v);
    return out;
}

void Toolbar::layoutSubviews() {
    View::layoutSubviews();
    Rect b = bounds();
    double fixed = 0;
    int flexible = 0;
    for (size_t i = 0; i < items_.size(); ++i) {
        if (items_[i]->systemItem == SystemItem::FlexibleSpace)
            ++flexible;
        else if (items_[i]->systemItem == SystemItem::FixedSpace)
            fixed += items_[i]->width;
        else
            fixed += barItemWidth(*views_[i]);
    }
    size_t gaps = items_.empty() ? 0 : items_.size() - 1;
    // Items keep clear of the rounded corners and the sensor housing in landscape.
    const EdgeInsets safe = safeAreaInsets();
    double room = b.width() - safe.left - safe.right - 2 * kEdgeMargin - fixed - kItemGap * static_cast<double>(gaps);
    double share = flexible > 0 ? std::max(0.0, room / flexible) : 0;
    double x = safe.left + kEdgeMargin;
    for (size_t i = 0; i < items_.size(); ++i) {
        const auto& item = items_[i];
        if (item->systemItem == SystemItem::FlexibleSpace) {
            x += share;
        } else if (item->systemItem == SystemItem::FixedSpace) {
            x += item->width;
        } else {
            const Rect f = views_[i]->frame();
            const double w = barItemWidth(*views_[i]);
            views_[i]->setFrame(Rect(x, (b.height() - f.height()) / 2, w, f.height()));
            x += w;
        }
        x += kItemGap;
    }
}

// ---- Search bar

class SearchBar::FieldDelegate : public TextFieldDelegate {
public:
    explicit FieldDelegate(SearchBar* bar) : bar_(bar) {}
    bool textFieldShouldBeginEditing(TextField&) override {
        auto d = bar_->delegate.lock();
        return !d || d->searchBarShouldBeginEditing(*bar_);
    }
    void textFieldDidBeginEditing(TextField&) override {
        if (auto d = bar_->delegate.lock()) d->searchBarTextDidBeginEditing(*bar_);
    }
    void textFieldDidEndEditing(TextField&) override {
        if (auto d = bar_->delegate.lock()) d->searchBarTextDidEndEditing(*bar_);
    }
    bool textFieldShouldReturn(TextField&) override {
        if (auto d = bar_->delegate.lock()) d->searchBarSearchButtonClicked(*bar_);
        return true;
    }

private:
    SearchBar* bar_;
};

SearchBar::SearchBar() {
    setFrame(Rect(0, 0, 320, kHeight));
    field_ = std::make_shared<TextField>();
    field_->returnKeyType = ReturnKeyType::Search;
    field_->setPlaceholder("Search");
    // A background given to the field (a class-level appearance) fills the same rounded capsule.
    field_->layer().cornerRadius = 10;
    fieldDelegate_ = std::make_shared<FieldDelegate>(this);
    field_->delegate = fieldDelegate_;
    field_->addAction(
        [this](Control&, const Event*) {
            if (auto d = delegate.lock()) d->textDidChange(*this, field_->text());
        },
        kEditingChanged);
    addSubview(field_);
    cancel_ = std::make_shared<Button>(ButtonType::System);
    cancel_->setTitle("Cancel", kStateNormal);
    cancel_->setHidden(true);
    cancel_->addAction(
        [this](Control&, const Event*) {
            if (auto d = delegate.lock()) d->searchBarCancelButtonClicked(*this);
        },
        kTouchUpInside);
    addSubview(cancel_);
}

void SearchBar::setScopeButtonTitles(std::vector<std::string> titles) {
    scopes_ = std::move(titles);
    rebuildScopes();
}

void SearchBar::rebuildScopes() {
    for (auto& b : scopeButtons_) b->removeFromSuperview();
    scopeButtons_.clear();
    for (size_t i = 0; i < scopes_.size(); ++i) {
        auto b = std::make_shared<Button>(ButtonType::System);
        b->setTitle(scopes_[i], kStateNormal);
        b->setSelected(static_cast<long>(i) == scope_);
        b->setHidden(!showsScope_);
        long index = static_cast<long>(i);
        b->addAction(
            [this, index](Control&, const Event*) {
                if (index == scope_) return;
                setSelectedScopeButtonIndex(index);
                if (auto d = delegate.lock()) d->selectedScopeButtonIndexDidChange(*this, index);
            },
            kTouchUpInside);
        addSubview(b);
        scopeButtons_.push_back(b);
    }
    setNeedsLayout();
}

void SearchBar::setSelectedScopeButtonIndex(long index) {
    if (index < 0 || index >= static_cast<long>(scopes_.size())) return;
    scope_ = index;
    for (size_t i = 0; i < scopeButtons_.size(); ++i) scopeButtons_[i]->setSelected(static_cast<long>(i) == scope_);
}

void SearchBar::setShowsScopeBar(bool shows) {
    showsScope_ = shows;
    for (auto& b : scopeButtons_) b->setHidden(!shows);
    setNeedsLayout();
}

void SearchBar::setShowsCancelButton(bool shows, bool animated) {
    (void)animated;
    showsCancel_ = shows;
    cancel_->setHidden(!shows);
    setNeedsLayout();
}

Size SearchBar::sizeThatFits(Size size) const {
    double w = size.width > 0 ? size.width : bounds().width();
    return {w, kHeight + (showsScope_ && !scopes_.empty() ? kScopeBarHeight : 0)};
}

void SearchBar::layoutSubviews() {
    View::layoutSubviews();
    Rect b = bounds();
    double right = b.width() - 8;
    if (showsCancel_) {
        Size s = cancel_->sizeThatFits({});
        cancel_->setFrame(Rect(right - s.width, (kHeight - s.height) / 2, s.width, s.height));
        right -= s.width + 8;
    }
    field_->setFrame(Rect(8, 10, std::max(0.0, right - 8), 36));
    if (!showsScope_ || scopeButtons_.empty()) return;
    double w = (b.width() - 16) / static_cast<double>(scopeButtons_.size());
    for (size_t i = 0; i < scopeButtons_.size(); ++i)
        scopeButtons_[i]->setFrame(Rect(8 + w * static_cast<double>(i), kHeight + 6, w, 32));
}

// ---- Visual effect view

VisualEffectView::VisualEffectView(std::optional<BlurEffectStyle> effect) : effect_(effect) {
    content_ = std::make_shared<View>(bounds());
    content_->setAutoresizingMask(kFlexibleWidth | kFlexibleHeight);
    addSubview(content_);
}

std::string VisualEffectView::outlineText() const {
    if (!effect_) return {};
    static const char* names[] = {"extra-light", "light", "dark", "regular", "prominent", "material", "thin-material"};
    return std::string("blur:") + names[static_cast<int>(*effect_)];
}

}  // namespace toolkit
