#include "platform/toolkit/navigation_controller.h"

#include "platform/toolkit/appearance.h"
#include "platform/toolkit/bars.h"

#include <algorithm>

#include "platform/toolkit/animation.h"
#include "platform/toolkit/bar_item_view.h"
#include "platform/toolkit/event.h"
#include "platform/toolkit/gesture_recognizer.h"
#include "platform/toolkit/main_thread.h"
#include "platform/toolkit/menu.h"
#include "platform/toolkit/window.h"

namespace toolkit {

namespace {

class MenuPressDelegate : public GestureRecognizerDelegate {
public:
    explicit MenuPressDelegate(std::weak_ptr<BarButtonItem> item) : item_(std::move(item)) {}
    // An item whose tap already shows its menu leaves a hold to the bar's own recognisers.
    bool gestureRecognizerShouldBegin(GestureRecognizer&) override {
        auto i = item_.lock();
        return i && i->enabled && i->menu && i->action;
    }

private:
    std::weak_ptr<BarButtonItem> item_;
};

// Whether a controller pushed onto the stack (not the root) asked for the bottom bar to go while
// it is on the stack.
bool pushedHidesBottomBar(const ViewController* selected) {
    const auto* nav = dynamic_cast<const NavigationController*>(selected);
    if (!nav) return false;
    const auto& stack = nav->viewControllers();
    return std::any_of(stack.begin() + std::min<size_t>(1, stack.size()), stack.end(),
                       [](const ViewControllerPtr& c) { return c->hidesBottomBarWhenPushed; });
}

// The tab bar shows unless the selected tab's stack holds a controller that hides it; the tab's
// view then reaches the bottom edge, its safe area no longer taking the bar's height.
void applyBottomBar(TabBarController& tabs) {
    ViewController* selected = tabs.selectedViewController();
    const bool hidden = pushedHidesBottomBar(selected);
    tabs.tabBar().setHidden(hidden);
    if (selected && selected->isViewLoaded())
        selected->view()->setAdditionalSafeAreaInsets({0, 0, hidden ? 0 : TabBar::kHeight, 0});
}

}  // namespace

ViewPtr makeBarItemView(const BarButtonItemPtr& item) {
    if (item->customView) return item->customView;
    std::weak_ptr<BarButtonItem> weak = item;
    std::string text = item->displayTitle();
    if (text.empty() && item->image) text = item->image->name();
    auto v = std::make_shared<BarItemView>(
        "BarButton", text,
        [weak] {
            if (auto i = weak.lock()) i->tap();
        },
        item->enabled);
    v->setItem(item);
    if (!item->accessibilityLabel.empty()) {
        v->accessibility().label = item->accessibilityLabel;
    } else if (item->systemItem != SystemItem::None) {
        v->accessibility().label = systemItemAccessibilityLabel(item->systemItem);
    }
    v->setTag(item->tag);
    v->setFrame(Rect(0, 0, item->width > 0 ? item->width : v->preferredWidth(), NavigationBar::kHeight));
    // A hold shows the item's menu; without one it stays a tap. Asked when the press begins, as
    // the menu may come or go while the button shows.
    auto menuPress = std::make_shared<MenuPressDelegate>(weak);
    auto press = std::make_shared<LongPressGestureRecognizer>([weak, menuPress](GestureRecognizer& g) {
        if (g.state() != GestureState::Began) return;
        if (auto i = weak.lock()) i->longPress();
    });
    press->setDelegate(menuPress);
    v->addGestureRecognizer(press);
    return v;
}

// ---- Navigation bar

NavigationItem* NavigationBar::topItem() const {
    auto* top = owner_->topViewController();
    return top ? &top->navigationItem() : nullptr;
}

NavigationItem* NavigationBar::backItem() const {
    const auto& s = owner_->viewControllers();
    return s.size() >= 2 ? &s[s.size() - 2]->navigationItem() : nullptr;
}

std::optional<std::string> NavigationBar::backButtonTitle() const {
    NavigationItem* top = topItem();
    NavigationItem* back = backItem();
    if (!back || !top || top->hidesBackButton) return std::nullopt;
    if (back->backBarButtonItem) return back->backBarButtonItem->displayTitle();
    if (back->backButtonDisplayMode == BackButtonDisplayMode::Minimal) return std::string();
    if (back->backButtonTitle) return *back->backButtonTitle;
    if (back->backButtonDisplayMode == BackButtonDisplayMode::Generic || back->title.empty())
        return std::string("Back");
    return back->title;
}

BarItemLook NavigationBar::backButtonLook() const {
    BarItemLook look;
    look.kind = BarItemLook::Kind::back;
    look.title = backButtonTitle().value_or("");
    if (NavigationItem* back = backItem(); back && back->backBarButtonItem) {
        const BarButtonItem& item = *back->backBarButtonItem;
        look.image = item.image;
        look.tintColor = item.tintColor;
        look.font = item.titleFont;
        look.baselineOffset = item.titleBaselineOffset;
        look.titleAdjustment = item.backButtonTitleAdjustment;
        look.compactTitleAdjustment = item.compactBackButtonTitleAdjustment;
    }
    return look;
}

void NavigationBar::update() {
    for (auto& v : itemViews_) v->removeFromSuperview();
    itemViews_.clear();
    if (titleView_) titleView_->removeFromSuperview();
    titleView_.reset();
    NavigationItem* top = topItem();
    if (!top) return;
    if (auto back = backButtonTitle(); back && top->leftBarButtonItems.empty()) {
        NavigationController* nav = owner_;
        auto v = std::make_shared<BarItemView>("BackButton", *back, [nav] { nav->popViewController(true); });
        v->accessibility().label = back->empty() ? "Back" : *back;
        std::weak_ptr<View> bar = self();
        v->setLookSource([bar] {
            auto b = bar.lock();
            return b ? static_cast<NavigationBar&>(*b).backButtonLook() : BarItemLook{};
        });
        v->setFrame(Rect(0, 0, v->preferredWidth(), kHeight));
        itemViews_.push_back(v);
    }
    for (auto& item : top->leftBarButtonItems)
        itemViews_.push_back(makeBarItemView(item)), item->setView(itemViews_.back());
    size_t firstRight = itemViews_.size();
    for (auto& item : top->rightBarButtonItems)
        itemViews_.push_back(makeBarItemView(item)), item->setView(itemViews_.back());
    for (auto& v : itemViews_) addSubview(v);
    if (top->titleView) {
        titleView_ = top->titleView;
        addSubview(titleView_);
    }
    (void)firstRight;
    setNeedsLayout();
}

void NavigationBar::applyAppearance() {
    View::applyAppearance();
    if (!barTint_)
        if (auto c = Appearance::get<Color>(*this, "barTintColor")) setBarTintColor(*c);
    if (barStyle_ == BarStyle::Default && Appearance::get<bool>(*this, "blackStyle").value_or(false))
        setBarStyle(BarStyle::Black);
}

void NavigationBar::layoutSubviews() {
    NavigationItem* top = topItem();
    if (!top) return;
    double h = bounds().height();
    // Items keep clear of the rounded corners and the sensor housing in landscape.
    const EdgeInsets safe = safeAreaInsets();
    // The bar's own items take touches over its whole height (compact bars too) and are sized
    // anew from what they show now; custom views keep their size.
    auto place = [&](const ViewPtr& v, double x, double w) {
        const double height = dynamic_cast<BarItemView*>(v.get()) ? h : v->frame().height();
        v->setFrame(Rect(x, (h - height) / 2, w, height));
    };
    double x = safe.left + 8;
    size_t lefts = itemViews_.size() - top->rightBarButtonItems.size();
    for (size_t i = 0; i < lefts; ++i) {
        const double w = barItemWidth(*itemViews_[i]);
        place(itemViews_[i], x, w);
        x += w + 8;
    }
    double right = bounds().width() - safe.right - 8;
    for (size_t i = lefts; i < itemViews_.size(); ++i) {
        const double w = barItemWidth(*itemViews_[i]);
        right -= w;
        place(itemViews_[i], right, w);
        right -= 8;
    }
    if (titleView_) {
        // Centred where the items leave room, else as near the centre as they allow, and never
        // wider than the room, so that it covers no item.
        const Rect area = titleArea();
        const Rect f = titleView_->frame();
        const double w = std::min(f.width(), area.width());
        const double left = std::clamp(bounds().midX() - w / 2, area.minX(), area.maxX() - w);
        titleView_->setFrame(Rect(left, (h - f.height()) / 2, w, f.height()));
    }
}

Rect NavigationBar::titleArea() const {
    const Rect b = bounds();
    const EdgeInsets safe = safeAreaInsets();
    double left = b.minX() + safe.left + 8, right = b.maxX() - safe.right - 8;
    const NavigationItem* top = topItem();
    const size_t rights = top ? std::min(top->rightBarButtonItems.size(), itemViews_.size()) : 0;
    for (size_t i = 0; i < itemViews_.size(); ++i) {
        if (itemViews_[i]->isHidden()) continue;
        const Rect f = itemViews_[i]->frame();
        if (i < itemViews_.size() - rights)
            left = std::max(left, f.maxX() + 8);
        else
            right = std::min(right, f.minX() - 8);
    }
    return Rect(left, b.minY(), std::max(0.0, right - left), b.height());
}

std::string NavigationBar::outlineText() const {
    NavigationItem* top = topItem();
    if (!top || top->titleView) return {};
    return top->title;
}

// ---- Navigation controller

NavigationController::NavigationController(ViewControllerPtr root) {
    if (root) {
        addChild(root);
        stack_.push_back(root);
    }
}

NavigationBar& NavigationController::navigationBar() {
    if (!bar_) bar_ = std::make_shared<NavigationBar>(this);
    return *bar_;
}

void NavigationController::loadView() {
    ViewController::loadView();
    navigationBar();
    view()->addSubview(bar_);
    if (auto* top = topViewController()) placeChild(top);
    bar_->update();
}

void NavigationController::placeChild(ViewController* child) {
    ViewPtr v = child->view();
    ViewPtr root = view();
    v->setFrame(root->bounds());
    v->setAutoresizingMask(kFlexibleWidth | kFlexibleHeight);
    if (v->superview() != root.get()) root->insertSubviewBelow(v, bar_.get());
    v->setAdditionalSafeAreaInsets({barHidden_ ? 0 : NavigationBar::kHeight, 0, 0, 0});
    std::weak_ptr<NavigationBar> bar = bar_;
    child->navigationItem().onChange = [bar] {
        if (auto b = bar.lock()) b->update();
    };
}

void NavigationController::viewDidLayoutSubviews() {
    if (!bar_) return;
    ViewPtr root = view();
    EdgeInsets safe = root->safeAreaInsets();
    double h = NavigationBar::kHeight;
    if (auto* w = root->window(); w && w->profile().idiom == Idiom::Phone && w->profile().isLandscape())
        h = NavigationBar::kCompactHeight;
    // The bar's own inset is not part of the safe area it reads: subtract the top child's share.
    bar_->setFrame(Rect(0, std::max(0.0, safe.top - root->additionalSafeAreaInsets().top), root->bounds().width(), h));
    bar_->setHidden(barHidden_);
    if (auto* top = topViewController(); top && top->isViewLoaded()) {
        top->view()->setFrame(root->bounds());
        top->view()->setAdditionalSafeAreaInsets({barHidden_ ? 0 : h, 0, 0, 0});
    }
}

std::vector<ViewController*> NavigationController::appearanceChildren() const {
    if (stack_.empty()) return {};
    return {stack_.back().get()};
}

ViewController* NavigationController::visibleViewController() const {
    ViewController* v = topViewController();
    if (presentedViewController()) return presentedViewController();
    return v;
}

void NavigationController::setNavigationBarHidden(bool hidden, bool) {
    barHidden_ = hidden;
    if (isViewLoaded()) view()->setNeedsLayout();
}

void NavigationController::transition(ViewControllerPtr from, ViewControllerPtr to, bool animated,
                                      std::vector<ViewControllerPtr> removed) {
    if (!isViewLoaded()) {
        for (auto& r : removed) r->removeFromParent();
        if (bar_) bar_->update();
        return;
    }
    bool visible = appearanceState() == AppearanceState::Appeared || appearanceState() == AppearanceState::Appearing;
    bool anim = animated && visible && view()->window();
    if (auto* tabs = tabBarController(); tabs && tabs->isViewLoaded()) applyBottomBar(*tabs);
    transitioning_ = anim;
    coordinator_ = std::make_shared<TransitionCoordinator>(anim, anim ? kPushDuration : 0);
    if (from && visible) from->forwardWillDisappear(anim);
    if (to) {
        placeChild(to.get());
        if (visible) to->forwardWillAppear(anim);
    }
    bar_->update();
    view()->setNeedsLayout();
    if (anim && Animations::timed()) showSlide(from.get(), to.get(), !removed.empty() && removed.back() == from);
    auto finish = [this, from, to, anim, visible, removed, keep = selfPtr()] {
        if (from && from != to && from->isViewLoaded()) {
            from->view()->removeFromSuperview();
            removePresentationAnimations(*from->view());
        }
        if (from && visible) from->forwardDidDisappear(anim);
        if (to && visible) to->forwardDidAppear(anim);
        for (auto& r : removed) {
            r->movingFrom_ = false;
            r->removeFromParent();
        }
        if (to) {
            to->movingTo_ = false;
            to->didMoveToParent(this);
        }
        transitioning_ = false;
        auto c = coordinator_;
        coordinator_.reset();
        if (c) c->finish();
    };
    if (anim)
        scheduleCompletion(kPushDuration, finish);
    else
        finish();
}

void NavigationController::showSlide(ViewController* from, ViewController* to, bool popping) {
    // The screen slides: a pushed one comes in from the right over the old one, which drifts a
    // third of the way left; a pop does the reverse, the leaving screen on top.
    if (!to || from == to) return;
    view()->layoutIfNeeded();
    const double w = view()->bounds().width();
    View& in = *to->view();
    if (popping && from && from->isViewLoaded()) {
        view()->insertSubviewBelow(to->view(), from->view().get());
        slideFrom(in, -w / 3, 0, kPushDuration);
        slideTo(*from->view(), w, 0, kPushDuration);
    } else {
        slideFrom(in, w, 0, kPushDuration);
        if (from && from->isViewLoaded()) slideTo(*from->view(), -w / 3, 0, kPushDuration);
    }
}

void NavigationController::pushViewController(const ViewControllerPtr& vc, bool animated) {
    TK_MAIN_THREAD("pushViewController");
    if (!vc || std::find(stack_.begin(), stack_.end(), vc) != stack_.end()) return;
    ViewControllerPtr from = stack_.empty() ? nullptr : stack_.back();
    addChild(vc);
    vc->movingTo_ = true;
    stack_.push_back(vc);
    // The bottom bar goes (or stays) before the new screen loads, so it lays out in its final room.
    if (auto* tabs = tabBarController(); tabs && tabs->isViewLoaded()) applyBottomBar(*tabs);
    vc->view();  // loads before the outgoing controller hears anything
    transition(from, vc, animated, {});
}

ViewControllerPtr NavigationController::popViewController(bool animated) {
    TK_MAIN_THREAD("popViewController");
    if (stack_.size() < 2) return nullptr;
    ViewControllerPtr from = stack_.back();
    stack_.pop_back();
    from->movingFrom_ = true;
    from->willMoveToParent(nullptr);
    transition(from, stack_.back(), animated, {from});
    return from;
}

std::vector<ViewControllerPtr> NavigationController::popToViewController(const ViewController* target, bool animated) {
    auto it = std::find_if(stack_.begin(), stack_.end(), [&](auto& c) { return c.get() == target; });
    if (it == stack_.end() || it + 1 == stack_.end()) return {};
    std::vector<ViewControllerPtr> removed(it + 1, stack_.end());
    stack_.erase(it + 1, stack_.end());
    for (auto& r : removed) r->movingFrom_ = true, r->willMoveToParent(nullptr);
    transition(removed.back(), stack_.back(), animated, removed);
    return removed;
}

std::vector<ViewControllerPtr> NavigationController::popToRootViewController(bool animated) {
    if (stack_.empty()) return {};
    return popToViewController(stack_.front().get(), animated);
}

void NavigationController::setViewControllers(std::vector<ViewControllerPtr> list, bool animated) {
    ViewControllerPtr from = stack_.empty() ? nullptr : stack_.back();
    std::vector<ViewControllerPtr> removed;
    for (auto& c : stack_)
        if (std::find(list.begin(), list.end(), c) == list.end()) removed.push_back(c);
    for (auto& c : list) addChild(c);
    stack_ = std::move(list);
    ViewControllerPtr to = stack_.empty() ? nullptr : stack_.back();
    if (from == to) {
        for (auto& r : removed) r->removeFromParent();
        if (bar_) bar_->update();
        return;
    }
    transition(from, to, animated, removed);
}

// ---- Tab bar

void TabBar::update() {
    for (auto& b : buttons_) b->removeFromSuperview();
    buttons_.clear();
    const auto& tabs = owner_->viewControllers();
    for (size_t i = 0; i < tabs.size(); ++i) {
        TabBarItem& item = tabs[i]->tabBarItem();
        std::string text = item.title.empty() ? tabs[i]->title() : item.title;
        if (item.badgeValue) text += " [" + *item.badgeValue + "]";
        if (i == owner_->selectedIndex()) text = "*" + text;
        TabBarController* owner = owner_;
        auto b = std::make_shared<BarItemView>("TabBarButton", text, [owner, i] { owner->userSelect(i); });
        BarItemLook look;
        look.kind = BarItemLook::Kind::tab;
        look.title = item.title.empty() ? tabs[i]->title() : item.title;
        look.image = item.image;
        look.selectedImage = item.selectedImage;
        look.selected = i == owner_->selectedIndex();
        look.badge = item.badgeValue;
        b->setLook(std::move(look));
        buttons_.push_back(b);
        addSubview(b);
    }
    setNeedsLayout();
}

void TabBar::layoutSubviews() {
    if (buttons_.empty()) return;
    const EdgeInsets safe = safeAreaInsets();
    double w = std::max(0.0, bounds().width() - safe.left - safe.right) / static_cast<double>(buttons_.size());
    for (size_t i = 0; i < buttons_.size(); ++i)
        buttons_[i]->setFrame(Rect(safe.left + w * static_cast<double>(i), 0, w, kHeight));
}

std::string TabBar::outlineText() const { return {}; }

TabBarController::TabBarController() {}

TabBar& TabBarController::tabBar() {
    if (!bar_) bar_ = std::make_shared<TabBar>(this);
    return *bar_;
}

void TabBarController::loadView() {
    ViewController::loadView();
    tabBar();
    view()->addSubview(bar_);
    if (selected_ < tabs_.size()) {
        ViewPtr v = tabs_[selected_]->view();
        view()->insertSubviewBelow(v, bar_.get());
    }
    bar_->update();
}

void TabBarController::viewDidLayoutSubviews() {
    ViewPtr root = view();
    double bottom = 0;
    if (auto* w = root->window()) bottom = w->profile().currentSafeArea().bottom;
    double h = TabBar::kHeight + bottom;
    bar_->setFrame(Rect(0, root->bounds().height() - h, root->bounds().width(), h));
    if (auto* sel = selectedViewController(); sel && sel->isViewLoaded()) sel->view()->setFrame(root->bounds());
    applyBottomBar(*this);
}

std::vector<ViewController*> TabBarController::appearanceChildren() const {
    if (auto* s = selectedViewController()) return {s};
    return {};
}

void TabBarController::setViewControllers(std::vector<ViewControllerPtr> list) {
    ViewController* old = selectedViewController();
    bool visible = appearanceState() == AppearanceState::Appeared;
    if (old && visible) old->forwardWillDisappear(false);
    if (old && old->isViewLoaded()) old->view()->removeFromSuperview();
    if (old && visible) old->forwardDidDisappear(false);
    for (auto& t : tabs_) t->removeFromParent();
    tabs_ = std::move(list);
    for (auto& t : tabs_) addChild(t);
    selected_ = 0;
    if (isViewLoaded()) show(selected_);
}

void TabBarController::show(size_t index) {
    if (index >= tabs_.size()) return;
    ViewController* vc = tabs_[index].get();
    ViewPtr v = vc->view();
    v->setFrame(view()->bounds());
    v->setAutoresizingMask(kFlexibleWidth | kFlexibleHeight);
    applyBottomBar(*this);
    bool visible = appearanceState() == AppearanceState::Appeared;
    if (visible) vc->forwardWillAppear(false);
    view()->insertSubviewBelow(v, bar_.get());
    if (visible) vc->forwardDidAppear(false);
    bar_->update();
    view()->setNeedsLayout();
}

void TabBarController::setSelectedIndex(size_t index) {
    TK_MAIN_THREAD("setSelectedIndex");
    if (index >= tabs_.size() || index == selected_) return;
    ViewController* old = selectedViewController();
    bool visible = isViewLoaded() && appearanceState() == AppearanceState::Appeared;
    if (old && visible) old->forwardWillDisappear(false);
    selected_ = index;
    if (!isViewLoaded()) return;
    ViewController* now = tabs_[index].get();
    ViewPtr v = now->view();
    v->setFrame(view()->bounds());
    applyBottomBar(*this);
    if (visible) now->forwardWillAppear(false);
    view()->insertSubviewBelow(v, bar_.get());
    if (old && old->isViewLoaded()) old->view()->removeFromSuperview();
    if (old && visible) old->forwardDidDisappear(false);
    if (visible) now->forwardDidAppear(false);
    bar_->update();
}

void TabBarController::userSelect(size_t index) {
    if (index >= tabs_.size()) return;
    auto d = delegate.lock();
    if (d && !d->shouldSelectViewController(*this, *tabs_[index])) return;
    setSelectedIndex(index);
    if (d) d->didSelectViewController(*this, *tabs_[index]);
}

// ---- Bar items

std::string systemItemTitle(SystemItem item) {
    switch (item) {
        case SystemItem::Done:
            return "Done";
        case SystemItem::Cancel:
            return "Cancel";
        case SystemItem::Edit:
            return "Edit";
        case SystemItem::Save:
            return "Save";
        default:
            return {};
    }
}

std::string systemItemAccessibilityLabel(SystemItem item) {
    switch (item) {
        case SystemItem::Add:
            return "Add";
        case SystemItem::Compose:
            return "Compose";
        case SystemItem::Reply:
            return "Reply";
        case SystemItem::Action:
            return "Share";
        case SystemItem::Organize:
            return "Organize";
        case SystemItem::Bookmarks:
            return "Bookmarks";
        case SystemItem::Search:
            return "Search";
        case SystemItem::Refresh:
            return "Refresh";
        case SystemItem::Stop:
            return "Stop";
        case SystemItem::Camera:
            return "Camera";
        case SystemItem::Trash:
            return "Delete";
        case SystemItem::Play:
            return "Play";
        case SystemItem::Pause:
            return "Pause";
        default:
            return systemItemTitle(item);
    }
}

std::shared_ptr<BarButtonItem> BarButtonItem::withTitle(std::string title, BarButtonStyle style, Action action) {
    auto i = std::make_shared<BarButtonItem>();
    i->title = std::move(title);
    i->style = style;
    i->action = std::move(action);
    return i;
}

std::shared_ptr<BarButtonItem> BarButtonItem::withImage(ImagePtr image, BarButtonStyle style, Action action) {
    auto i = std::make_shared<BarButtonItem>();
    i->image = std::move(image);
    i->style = style;
    i->action = std::move(action);
    return i;
}

std::shared_ptr<BarButtonItem> BarButtonItem::withSystemItem(SystemItem item, Action action) {
    auto i = std::make_shared<BarButtonItem>();
    i->systemItem = item;
    i->action = std::move(action);
    if (item == SystemItem::Done) i->style = BarButtonStyle::Done;
    return i;
}

std::shared_ptr<BarButtonItem> BarButtonItem::withCustomView(std::shared_ptr<View> view) {
    auto i = std::make_shared<BarButtonItem>();
    i->customView = std::move(view);
    return i;
}

std::string BarButtonItem::displayTitle() const { return title.empty() ? systemItemTitle(systemItem) : title; }

bool BarButtonItem::tap() {
    if (!enabled) return false;
    if (!action) return longPress();
    auto keep = shared_from_this();
    action(*this);
    return true;
}

bool BarButtonItem::longPress() {
    if (!enabled || !menu) return false;
    PresentedMenu::shared().show(menu, view());
    return true;
}

void NavigationItem::setLeftBarButtonItem(BarButtonItemPtr item, bool) {
    leftBarButtonItems.clear();
    if (item) leftBarButtonItems.push_back(std::move(item));
    changed();
}
void NavigationItem::setRightBarButtonItem(BarButtonItemPtr item, bool) {
    rightBarButtonItems.clear();
    if (item) rightBarButtonItems.push_back(std::move(item));
    changed();
}
void NavigationItem::setLeftBarButtonItems(std::vector<BarButtonItemPtr> items, bool) {
    leftBarButtonItems = std::move(items);
    changed();
}
void NavigationItem::setRightBarButtonItems(std::vector<BarButtonItemPtr> items, bool) {
    rightBarButtonItems = std::move(items);
    changed();
}
void NavigationItem::setBackBarButtonItem(BarButtonItemPtr item) {
    backBarButtonItem = std::move(item);
    changed();
}
void NavigationItem::setBackButtonTitle(std::optional<std::string> title) {
    backButtonTitle = std::move(title);
    changed();
}

Responder* visibleKeyResponder(Window& window) {
    ViewController* top = window.rootViewController().get();
    if (!top) return &window;
    for (;;) {
        if (ViewController* shown = top->presentedViewController()) {
            top = shown;
        } else if (auto* tabs = dynamic_cast<TabBarController*>(top); tabs && tabs->selectedViewController()) {
            top = tabs->selectedViewController();
        } else if (auto* nav = dynamic_cast<NavigationController*>(top); nav && nav->topViewController()) {
            top = nav->topViewController();
        } else {
            return top;
        }
    }
}

}  // namespace toolkit
