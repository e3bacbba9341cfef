#include "platform/toolkit/window.h"

#include <algorithm>
#include <functional>

#include "platform/dispatch/dispatch.h"
#include "platform/foundation/application.h"
#include "platform/foundation/notification_center.h"
#include "platform/toolkit/gesture_recognizer.h"
#include "platform/toolkit/main_thread.h"
#include "platform/toolkit/menu_controller.h"
#include "platform/toolkit/menu_panel.h"
#include "platform/toolkit/responder.h"
#include "platform/toolkit/text_input.h"
#include "platform/toolkit/view_controller.h"

namespace toolkit {

namespace {
std::vector<Window*>& registry() {
    static std::vector<Window*> windows;
    return windows;
}
Window* gKeyWindow = nullptr;
}  // namespace

void Window::didAddSubview(View*) { Keyboard::shared().keepInFront(*this); }

const std::vector<Window*>& Window::allWindows() { return registry(); }
Window* Window::keyWindow() { return gKeyWindow; }

Window::Window(const ScreenProfile& profile) : View(profile.bounds()), profile_(profile) {
    TK_MAIN_THREAD("Window");
    window_ = this;
    registry().push_back(this);
}

Window::~Window() {
    MenuPanel::windowWillClose(*this);
    std::erase(registry(), this);
    if (gKeyWindow == this) gKeyWindow = nullptr;
    if (root_) root_->detachFromWindow();
    // Subviews outlive nothing here, but tell them they have no window any more.
    window_ = nullptr;
    for (auto& s : std::vector<ViewPtr>(subviews())) s->moveToWindow(nullptr);
}

void Window::makeKeyAndVisible() {
    gKeyWindow = this;
    setHidden(false);
    if (root_) root_->attachToWindow(this);
}

TraitCollection Window::deviceTraits() {
    const Device& d = Device::current();
    TraitCollection t = d.screen().traits();
    t.style = d.interfaceStyle();
    t.contentSize = d.contentSizeCategory();
    return t;
}

TraitCollection Window::windowTraits() const {
    const Device& d = Device::current();
    TraitCollection t = profile_.traits();
    t.style = style_.value_or(d.interfaceStyle());
    t.contentSize = contentSize_.value_or(d.contentSizeCategory());
    t.forceTouch = forceTouch_;
    return t;
}

void Window::applyTraits(const TraitCollection& before) {
    if (!(before == windowTraits())) propagateTraitChange(before);
}

void Window::setProfile(const ScreenProfile& profile) {
    TraitCollection before = windowTraits();
    Size old = bounds().size;
    profile_ = profile;
    Rect b = profile.bounds();
    TransitionCoordinator coordinator(false, 0);
    if (root_) root_->viewWillTransitionToSize(b.size, &coordinator);
    setFrame(b);
    (void)old;
    applyTraits(before);
    setNeedsLayout();
    for (auto& s : subviews()) s->setNeedsLayout();
    coordinator.finish();
}

void Window::setInterfaceStyle(InterfaceStyle style) {
    TraitCollection before = windowTraits();
    style_ = style;
    applyTraits(before);
}

void Window::setForceTouchAvailable(bool available) {
    TraitCollection before = windowTraits();
    forceTouch_ = available;
    applyTraits(before);
}

void Window::setContentSizeCategory(ContentSizeCategory category) {
    TraitCollection before = windowTraits();
    contentSize_ = category;
    applyTraits(before);
}

void Window::setRootViewController(std::shared_ptr<ViewController> controller) {
    if (root_ == controller) return;
    if (root_) root_->detachFromWindow();
    root_ = std::move(controller);
    if (root_ && gKeyWindow == this) root_->attachToWindow(this);
}

// ---- Touches

std::vector<int> Window::touchesDown(const std::vector<Point>& points) {
    TK_MAIN_THREAD("touchesDown");
    flushLayout();
    std::vector<int> ids;
    std::vector<std::shared_ptr<Touch>> began;
    for (Point p : points) {
        auto t = std::make_shared<Touch>();
        t->identifier = nextTouch_++;
        t->location = t->previousLocation = p;
        t->phase = TouchPhase::Began;
        t->timestamp = dispatch::clock().now();
        t->window = this;
        // While a menu shows, a new touch is the menu's: no view or recogniser sees it.
        MenuPanel* menu = MenuPanel::shown(this);
        // The edit menu's bar takes a touch that begins on it; one elsewhere hides it.
        const bool onEditMenu = !menu && MenuController::shared().touchBegan(*this, p);
        View* hit = menu || onEditMenu ? nullptr : hitTest(p, nullptr);
        if (menu) {
            menuTouches_.insert(t->identifier);
            menu->touchBegan(p);
        }
        if (onEditMenu) editMenuTouches_.insert(t->identifier);
        if (hit) {
            t->view = hit->self();
            for (View* v = hit; v; v = v->superview())
                for (auto& g : v->gestureRecognizers())
                    if (g->wantsTouch(*t)) t->recognizers.push_back(g);
        }
        active_[t->identifier] = t;
        ids.push_back(t->identifier);
        began.push_back(t);
    }
    deliver(TouchPhase::Began, began);
    return ids;
}

void Window::touchesMove(const std::map<int, Point>& moves) {
    TK_MAIN_THREAD("touchesMove");
    std::vector<std::shared_ptr<Touch>> moved;
    for (auto& [id, p] : moves) {
        auto it = active_.find(id);
        if (it == active_.end()) continue;
        auto& t = it->second;
        t->previousLocation = t->location;
        t->location = p;
        t->phase = TouchPhase::Moved;
        t->timestamp = dispatch::clock().now();
        if (menuTouches_.count(id)) {
            if (MenuPanel* menu = MenuPanel::shown(this)) menu->touchMoved(p);
            continue;
        }
        if (editMenuTouches_.count(id)) continue;
        moved.push_back(t);
    }
    deliver(TouchPhase::Moved, moved);
}

void Window::touchesUp(const std::vector<int>& ids) {
    TK_MAIN_THREAD("touchesUp");
    std::vector<std::shared_ptr<Touch>> ended;
    for (int id : ids) {
        auto it = active_.find(id);
        if (it == active_.end()) continue;
        it->second->phase = TouchPhase::Ended;
        it->second->timestamp = dispatch::clock().now();
        std::shared_ptr<Touch> touch = it->second;
        active_.erase(it);
        if (menuTouches_.erase(id)) {
            // The menu may close and run a handler that changes the window.
            if (MenuPanel* menu = MenuPanel::shown(this)) menu->touchEnded(touch->location);
            continue;
        }
        if (editMenuTouches_.erase(id)) {
            // Choosing sends the item's action, which may change the window.
            MenuController::shared().touchEnded(touch->location);
            continue;
        }
        ended.push_back(std::move(touch));
    }
    deliver(TouchPhase::Ended, ended);
}

void Window::cancelAllTouches() {
    if (!menuTouches_.empty())
        if (MenuPanel* menu = MenuPanel::shown(this)) menu->touchCancelled();
    menuTouches_.clear();
    editMenuTouches_.clear();
    std::vector<std::shared_ptr<Touch>> all;
    for (auto& [id, t] : active_) {
        t->phase = TouchPhase::Cancelled;
        all.push_back(t);
    }
    active_.clear();
    deliver(TouchPhase::Cancelled, all);
}

void Window::cancelTouchesForViews(const std::vector<std::shared_ptr<Touch>>& touches) {
    std::map<View*, TouchSet> byView;
    std::vector<ViewPtr> keep;
    for (auto& t : touches) {
        if (t->viewCancelled) continue;
        t->viewCancelled = true;
        if (auto v = t->view.lock()) {
            keep.push_back(v);
            byView[v.get()].push_back(t);
        }
    }
    Event e{touches, dispatch::clock().now()};
    for (auto& [v, set] : byView) v->touchesCancelled(set, &e);
}

void Window::deliver(TouchPhase phase, const std::vector<std::shared_ptr<Touch>>& touches) {
    if (touches.empty()) return;
    Event event{touches, dispatch::clock().now()};
    // Recognisers see touches first; a recognition cancels the touches in their views.
    std::vector<std::shared_ptr<GestureRecognizer>> order;
    std::map<GestureRecognizer*, TouchSet> byRecognizer;
    for (auto& t : touches)
        for (auto& w : t->recognizers) {
            auto g = w.lock();
            if (!g) continue;
            if (!byRecognizer.count(g.get())) order.push_back(g);
            byRecognizer[g.get()].push_back(t);
        }
    for (auto& g : order) {
        const TouchSet& set = byRecognizer[g.get()];
        switch (phase) {
            case TouchPhase::Began:
                g->deliverBegan(set);
                break;
            case TouchPhase::Moved:
            case TouchPhase::Stationary:
                g->deliverMoved(set);
                break;
            case TouchPhase::Ended:
                g->deliverEnded(set);
                break;
            case TouchPhase::Cancelled:
                g->deliverCancelled(set);
                break;
        }
    }
    std::vector<std::pair<ViewPtr, TouchSet>> byView;
    for (auto& t : touches) {
        if (t->viewCancelled) continue;
        auto v = t->view.lock();
        if (!v) continue;
        auto it = std::find_if(byView.begin(), byView.end(), [&](auto& p) { return p.first == v; });
        if (it == byView.end())
            byView.push_back({v, {t}});
        else
            it->second.push_back(t);
    }
    for (auto& [v, set] : byView) {
        switch (phase) {
            case TouchPhase::Began:
                v->touchesBegan(set, &event);
                break;
            case TouchPhase::Moved:
            case TouchPhase::Stationary:
                v->touchesMoved(set, &event);
                break;
            case TouchPhase::Ended:
                v->touchesEnded(set, &event);
                break;
            case TouchPhase::Cancelled:
                v->touchesCancelled(set, &event);
                break;
        }
    }
}

void deliverShake(Window& window) {
    Responder* responder = firstResponder();
    if (!responder) responder = window.rootViewController().get();
    if (!responder) return;
    responder->motionBegan();
    responder->motionEnded();
}

void deliverMemoryWarning(Window& window) {
    std::function<void(ViewController*)> tell = [&](ViewController* controller) {
        controller->didReceiveMemoryWarning();
        // A controller may drop children while it is told; walk a copy.
        for (auto& child : std::vector<ViewControllerPtr>(controller->children())) tell(child.get());
        if (controller->presentedViewController()) tell(controller->presentedViewController());
    };
    if (auto root = window.rootViewController()) tell(root.get());
    foundation::NotificationCenter::defaultCenter().post(foundation::kApplicationDidReceiveMemoryWarningNotification);
}

}  // namespace toolkit
