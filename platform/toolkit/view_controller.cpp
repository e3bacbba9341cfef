#include "platform/toolkit/view_controller.h"

#include <algorithm>
#include <utility>

#include "platform/toolkit/alert_controller.h"
#include "platform/toolkit/animation.h"
#include "platform/toolkit/main_thread.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/presentation.h"
#include "platform/toolkit/view.h"
#include "platform/toolkit/window.h"

namespace toolkit {

namespace {
constexpr double kPresentDuration = 0.3;

// A clear view behind a popover: touches outside the popover dismiss it, except over the
// passthrough views, which it lets through.
class PopoverDimmingView : public View {
public:
    PopoverDimmingView(ViewController* presenter, PopoverPresentationController* popover)
        : presenter_(presenter), popover_(popover) {}
    std::string className() const override { return "PopoverDimmingView"; }
    View* hitTest(Point p, const Event* e) override {
        for (auto& w : popover_->passthroughViews) {
            auto v = w.lock();
            if (v && v->window() && v->convertRectTo(v->bounds(), nullptr).contains(convertPointTo(p, nullptr)))
                return nullptr;
        }
        return View::hitTest(p, e);
    }
    void touchesEnded(const TouchSet&, const Event*) override {
        ViewController* shown = presenter_->presentedViewController();
        if (!shown || shown->isModalInPresentation || shown->isBeingDismissed()) return;
        shown->popoverWillDismissFromOutsideTap();
        presenter_->dismiss(true);
    }

private:
    ViewController* presenter_;
    PopoverPresentationController* popover_;
};

// The dimmed presenter behind a card.
class SheetDimmingView : public View {
public:
    using View::View;
    std::string className() const override { return "DimmingView"; }
};
}  // namespace

bool TransitionCoordinator::animateAlongsideTransition(const Block& animation, Block completion) {
    if (animation) animation(*this);
    if (completion) completions_.push_back(std::move(completion));
    return true;
}

void TransitionCoordinator::finish() {
    auto list = std::move(completions_);
    completions_.clear();
    for (auto& c : list) c(*this);
}

ContextTransitioning::ContextTransitioning(View* container, ViewController* from, ViewController* to, bool animated,
                                           std::function<void(bool)> done)
    : container_(container), from_(from), to_(to), animated_(animated), done_(std::move(done)) {}

std::shared_ptr<View> ContextTransitioning::viewForKey(TransitionKey key) const {
    ViewController* vc = viewControllerForKey(key);
    return vc ? vc->viewIfLoaded() : nullptr;
}

Rect ContextTransitioning::initialFrameForViewController(const ViewController* vc) const {
    return vc == from_ ? fromInitial : vc == to_ ? toInitial : Rect{};
}

Rect ContextTransitioning::finalFrameForViewController(const ViewController* vc) const {
    return vc == from_ ? fromFinal : vc == to_ ? toFinal : Rect{};
}

void ContextTransitioning::completeTransition(bool didComplete) {
    // A second call would run the bookkeeping twice on controllers that have moved on.
    if (completed_) return;
    completed_ = true;
    // The bookkeeping below lets go of the presentation's hold on this context.
    auto keep = shared_from_this();
    cancelled_ = !didComplete;
    if (auto done = std::move(done_)) done(didComplete);
}

ViewController::ViewController() {}

ViewController::~ViewController() {
    if (view_ && view_->controller_ == this) view_->controller_ = nullptr;
    for (auto& c : children_) c->parent_ = nullptr;
    for (auto& p : previewing_) unregisterPreviewing(p.get());
}

PreviewingContextPtr ViewController::registerForPreviewing(std::weak_ptr<PreviewingDelegate> delegate,
                                                           const ViewPtr& sourceView) {
    if (!sourceView) return nullptr;
    auto context = registerPreviewing(std::move(delegate), sourceView);
    previewing_.push_back(context);
    return context;
}

void ViewController::unregisterForPreviewing(const PreviewingContextPtr& context) {
    if (!context) return;
    unregisterPreviewing(context.get());
    std::erase(previewing_, context);
}

// ---- View

ViewPtr ViewController::view() {
    TK_MAIN_THREAD("ViewController::view");
    if (!view_ && !loading_) {
        loading_ = true;
        loadView();
        if (!view_) setView(std::make_shared<View>(Device::current().screen().bounds()));
        loading_ = false;
        viewDidLoad();
    }
    return view_;
}

void ViewController::setView(ViewPtr view) {
    if (view_ && view_->controller_ == this) view_->controller_ = nullptr;
    view_ = std::move(view);
    if (view_) view_->controller_ = this;
}

void ViewController::loadView() {
    auto v = std::make_shared<View>(Device::current().screen().bounds());
    v->setAutoresizingMask(kFlexibleWidth | kFlexibleHeight);
    setView(v);
}

void ViewController::setPreferredContentSize(Size s) {
    if (s == preferredContentSize_) return;
    preferredContentSize_ = s;
    if (styleInUse_ == ModalPresentationStyle::Popover && presenting_ && view_ && view_->window())
        view_->setFrame(presentedFrame(ModalPresentationStyle::Popover));
}

void ViewController::setTitle(const std::string& title) {
    title_ = title;
    navigationItem_.title = title;
    if (navigationItem_.onChange) navigationItem_.onChange();
}

void ViewController::viewWillTransitionToSize(Size size, TransitionCoordinator* coordinator) {
    for (auto& c : std::vector<ViewControllerPtr>(children_)) c->viewWillTransitionToSize(size, coordinator);
    if (presented_) presented_->viewWillTransitionToSize(size, coordinator);
}

// ---- Appearance

std::vector<ViewController*> ViewController::appearanceChildren() const {
    std::vector<ViewController*> out;
    for (auto& c : children_) out.push_back(c.get());
    return out;
}

// One step of the appearance state machine: taken only from the states listed, it reports the
// callback and passes the step to the visible children.
void ViewController::appearanceStep(std::initializer_list<AppearanceState> from, AppearanceState to,
                                    void (ViewController::*callback)(bool), void (ViewController::*forward)(bool),
                                    bool animated) {
    if (std::find(from.begin(), from.end(), appearance_) == from.end()) return;
    if (to == AppearanceState::Appearing) view();
    appearance_ = to;
    (this->*callback)(animated);
    if (shouldAutomaticallyForwardAppearanceMethods())
        for (auto* c : appearanceChildren()) (c->*forward)(animated);
}

void ViewController::forwardWillAppear(bool animated) {
    appearanceStep({AppearanceState::Disappeared, AppearanceState::Disappearing}, AppearanceState::Appearing,
                   &ViewController::viewWillAppear, &ViewController::forwardWillAppear, animated);
}

void ViewController::forwardDidAppear(bool animated) {
    appearanceStep({AppearanceState::Appearing}, AppearanceState::Appeared, &ViewController::viewDidAppear,
                   &ViewController::forwardDidAppear, animated);
}

void ViewController::forwardWillDisappear(bool animated) {
    appearanceStep({AppearanceState::Appeared, AppearanceState::Appearing}, AppearanceState::Disappearing,
                   &ViewController::viewWillDisappear, &ViewController::forwardWillDisappear, animated);
}

void ViewController::forwardDidDisappear(bool animated) {
    appearanceStep({AppearanceState::Disappearing}, AppearanceState::Disappeared, &ViewController::viewDidDisappear,
                   &ViewController::forwardDidDisappear, animated);
}

namespace {
bool lastAppearingAnimated = false;
}

void ViewController::beginAppearanceTransition(bool appearing, bool animated) {
    lastAppearingAnimated = animated;
    // A manual transition is reported as asked, even when it repeats the current state.
    if (appearing) {
        view();
        appearance_ = AppearanceState::Appearing;
        viewWillAppear(animated);
    } else {
        appearance_ = AppearanceState::Disappearing;
        viewWillDisappear(animated);
    }
}

void ViewController::endAppearanceTransition() {
    if (appearance_ == AppearanceState::Appearing) {
        appearance_ = AppearanceState::Appeared;
        viewDidAppear(lastAppearingAnimated);
    } else if (appearance_ == AppearanceState::Disappearing) {
        appearance_ = AppearanceState::Disappeared;
        viewDidDisappear(lastAppearingAnimated);
    }
}

// ---- Containment

void ViewController::addChild(const ViewControllerPtr& child) {
    if (!child || child.get() == this) return;
    if (child->parent_ == this) return;
    if (child->parent_) child->removeFromParent();
    child->willMoveToParent(this);
    children_.push_back(child);
    child->parent_ = this;
}

void ViewController::removeFromParent() {
    if (!parent_) return;
    ViewControllerPtr keep = selfPtr();
    ViewController* p = parent_;
    parent_ = nullptr;
    std::erase_if(p->children_, [&](auto& c) { return c.get() == this; });
    didMoveToParent(nullptr);
}

NavigationController* ViewController::navigationController() const {
    for (const ViewController* c = parent_; c; c = c->parent_)
        if (auto* n = dynamic_cast<NavigationController*>(const_cast<ViewController*>(c))) return n;
    return nullptr;
}

TabBarController* ViewController::tabBarController() const {
    for (const ViewController* c = parent_; c; c = c->parent_)
        if (auto* n = dynamic_cast<TabBarController*>(const_cast<ViewController*>(c))) return n;
    return nullptr;
}

Responder* ViewController::nextResponder() const {
    if (view_ && view_->superview()) return view_->superview();
    if (parent_) return parent_;
    if (presenting_) return presenting_;
    return nullptr;
}

// ---- Window

void ViewController::attachToWindow(Window* window) {
    window_ = window;
    ViewPtr v = view();
    v->setFrame(window->bounds());
    v->setAutoresizingMask(kFlexibleWidth | kFlexibleHeight);
    forwardWillAppear(false);
    window->insertSubview(v, 0);
    v->layoutIfNeeded();
    forwardDidAppear(false);
}

void ViewController::detachFromWindow() {
    if (!window_) return;
    forwardWillDisappear(false);
    if (view_) view_->removeFromSuperview();
    forwardDidDisappear(false);
    window_ = nullptr;
}

// ---- Presentation

ViewController* ViewController::presentingViewController() const {
    if (presenting_) return presenting_;
    for (const ViewController* c = parent_; c; c = c->parent_)
        if (c->presenting_) return c->presenting_;
    return nullptr;
}

TransitionCoordinator* ViewController::transitionCoordinator() const {
    for (const ViewController* c = this; c; c = c->parent_)
        if (c->coordinator_) return c->coordinator_.get();
    return nullptr;
}

PopoverPresentationController* ViewController::popoverPresentationController() {
    if (modalPresentationStyle != ModalPresentationStyle::Popover) return nullptr;
    if (!popover_) popover_ = std::make_shared<PopoverPresentationController>();
    return popover_.get();
}

ModalPresentationStyle ViewController::adaptedStyle() const {
    ModalPresentationStyle s = modalPresentationStyle;
    int version = Device::current().systemVersion();
    if (s == ModalPresentationStyle::Automatic)
        s = version >= 13 ? ModalPresentationStyle::PageSheet : ModalPresentationStyle::FullScreen;
    const ViewController* p = presenting_;
    TraitCollection t = p && p->view_ ? p->view_->traitCollection() : Device::current().screen().traits();
    if (t.horizontal == SizeClass::Compact) {
        if (s == ModalPresentationStyle::Popover) return ModalPresentationStyle::FullScreen;
        if (s == ModalPresentationStyle::FormSheet || s == ModalPresentationStyle::PageSheet)
            return version >= 13 ? ModalPresentationStyle::PageSheet : ModalPresentationStyle::FullScreen;
    }
    return s;
}

Rect ViewController::presentedFrame(ModalPresentationStyle style) const {
    Window* w = presenting_ && presenting_->view_ ? presenting_->view_->window() : nullptr;
    Rect b = w ? w->bounds() : Device::current().screen().bounds();
    EdgeInsets safe = w ? w->profile().currentSafeArea() : EdgeInsets{};
    bool compact = w && w->windowTraits().horizontal == SizeClass::Compact;
    switch (style) {
        case ModalPresentationStyle::FormSheet:
        case ModalPresentationStyle::PageSheet: {
            if (compact) {
                // The card leaves the status bar and a strip of the presenter showing.
                double top = safe.top + 10;
                return Rect(0, top, b.width(), b.height() - top);
            }
            Size s = preferredContentSize_.width > 0 ? preferredContentSize_ : Size{540, 620};
            if (style == ModalPresentationStyle::PageSheet && preferredContentSize_.width <= 0)
                s = {704, b.height() - 40};
            return Rect((b.width() - s.width) / 2, (b.height() - s.height) / 2, s.width, s.height);
        }
        case ModalPresentationStyle::Popover: {
            Size s = preferredContentSize_.width > 0 ? preferredContentSize_ : Size{320, 480};
            return popover_ ? popover_->layout(s, b, safe) : Rect(b.origin, s);
        }
        case ModalPresentationStyle::CurrentContext:
        case ModalPresentationStyle::OverCurrentContext: {
            if (presenting_ && presenting_->view_ && presenting_->view_->window())
                return presenting_->view_->convertRectTo(presenting_->view_->bounds(), nullptr);
            return b;
        }
        default:
            return b;
    }
}

void ViewController::present(const ViewControllerPtr& vc, bool animated, std::function<void()> completion) {
    TK_MAIN_THREAD("present");
    if (!vc || vc.get() == this || vc->presenting_) return;
    // Full-screen presentations come from the root of the containment; a controller that defines
    // the context keeps current-context presentations to itself.
    ViewController* presenter = this;
    bool contextStyle = vc->modalPresentationStyle == ModalPresentationStyle::CurrentContext ||
                        vc->modalPresentationStyle == ModalPresentationStyle::OverCurrentContext;
    while (presenter->parent_ && !(contextStyle && presenter->definesPresentationContext))
        presenter = presenter->parent_;
    // The platform refuses a second presentation from the same controller, and one from a
    // controller whose view is not in a window.
    if (presenter->presented_) return;
    if (!presenter->view_ || !presenter->view_->window()) return;
    Window* window = presenter->view_->window();

    presenter->presented_ = vc;
    vc->presenting_ = presenter;
    ModalPresentationStyle style = vc->adaptedStyle();
    vc->styleInUse_ = style;
    vc->beingPresented_ = true;
    ViewPtr v = vc->view();
    v->setFrame(vc->presentedFrame(style));
    v->setAutoresizingMask(kFlexibleWidth | kFlexibleHeight);
    bool covers = style == ModalPresentationStyle::FullScreen || style == ModalPresentationStyle::CurrentContext;
    vc->coordinator_ = std::make_shared<TransitionCoordinator>(animated, animated ? kPresentDuration : 0);
    if (covers) presenter->forwardWillDisappear(animated);
    vc->forwardWillAppear(animated);
    std::shared_ptr<AnimatedTransitioning> animator;
    if (auto d = vc->transitioningDelegate.lock(); d && animated)
        animator = d->animationControllerForPresented(*vc, *presenter, *this);
    if (!animator && style == ModalPresentationStyle::Popover) {
        auto dim = std::make_shared<PopoverDimmingView>(presenter, vc->popover_.get());
        dim->setFrame(window->bounds());
        dim->setOpaque(false);
        window->addSubview(dim);
        vc->coveredView_ = dim;  // removed with the popover
    }
    const bool sheet = style == ModalPresentationStyle::PageSheet || style == ModalPresentationStyle::FormSheet;
    if (!animator && sheet) {
        // Everything behind a sheet is dimmed: the strip of the presenter above a card, the whole
        // screen around a form sheet.
        auto dim = std::make_shared<SheetDimmingView>(window->bounds());
        dim->setBackgroundColor(Color::white(0, 0.4));
        dim->setOpaque(false);
        dim->setAutoresizingMask(kFlexibleWidth | kFlexibleHeight);
        window->addSubview(dim);
        vc->coveredView_ = dim;  // removed with the card
    }
    ViewControllerPtr keepVc = vc;
    auto finish = [presenter, keepVc, covers, animated, completion = std::move(completion)] {
        if (covers && presenter->view_ && presenter->view_->superview()) {
            keepVc->coveredParent_ = presenter->view_->superview();
            const auto& subs = keepVc->coveredParent_->subviews();
            keepVc->coveredIndex_ =
                static_cast<size_t>(std::find(subs.begin(), subs.end(), presenter->view_) - subs.begin());
            keepVc->coveredView_ = presenter->view_;
            keepVc->coveredFrame_ = presenter->view_->frame();
            presenter->view_->removeFromSuperview();
        }
        keepVc->forwardDidAppear(animated);
        if (covers) presenter->forwardDidDisappear(animated);
        keepVc->beingPresented_ = false;
        auto coordinator = keepVc->coordinator_;
        keepVc->coordinator_.reset();
        if (coordinator) coordinator->finish();
        if (completion) completion();
        if (auto pending = std::exchange(keepVc->pendingDismissal_, std::nullopt); pending && keepVc->presenting_)
            keepVc->presenting_->dismiss(pending->animated, std::move(pending->completion));
    };
    if (animator) {
        // The animator puts the view in; a cancelled presentation is undone in reverse.
        auto cancel = [presenter, keepVc, covers, animated] {
            if (keepVc->view_) keepVc->view_->removeFromSuperview();
            keepVc->forwardWillDisappear(animated);
            keepVc->forwardDidDisappear(animated);
            if (covers) {
                presenter->forwardWillAppear(animated);
                presenter->forwardDidAppear(animated);
            }
            presenter->presented_.reset();
            keepVc->presenting_ = nullptr;
            keepVc->beingPresented_ = false;
            auto coordinator = keepVc->coordinator_;
            keepVc->coordinator_.reset();
            if (coordinator) coordinator->finish();
            // Nothing is left to dismiss.
            if (auto pending = std::exchange(keepVc->pendingDismissal_, std::nullopt); pending && pending->completion)
                pending->completion();
        };
        Rect target = v->frame();
        keepVc->context_ = std::make_shared<ContextTransitioning>(
            window, presenter, vc.get(), animated,
            [keepVc, animator, finish = std::move(finish), cancel = std::move(cancel)](bool done) mutable {
                auto context = std::move(keepVc->context_);
                if (done)
                    finish();
                else
                    cancel();
                animator->animationEnded(done);
            });
        Rect pb = presenter->view_->convertRectTo(presenter->view_->bounds(), nullptr);
        keepVc->context_->fromInitial = pb;
        keepVc->context_->fromFinal = pb;
        keepVc->context_->toFinal = target;
        auto context = keepVc->context_;
        animator->animateTransition(*context);
        return;
    }
    window->addSubview(v);
    v->layoutIfNeeded();
    if (animated && Animations::timed()) {
        // A popover or an alert fades in (with its dimming); other styles rise from the bottom
        // of the screen.
        auto* alert = dynamic_cast<AlertController*>(vc.get());
        if (style == ModalPresentationStyle::Popover ||
            (alert && alert->preferredStyle() == AlertControllerStyle::Alert)) {
            fadeFrom(*v, 0, kPresentDuration);
            if (vc->coveredView_) fadeFrom(*vc->coveredView_, 0, kPresentDuration);
        } else {
            slideFrom(*v, 0, window->bounds().height() - v->frame().minY(), kPresentDuration);
        }
    }
    if (animated)
        scheduleCompletion(kPresentDuration, finish);
    else
        finish();
}

void ViewController::dismiss(bool animated, std::function<void()> completion) {
    TK_MAIN_THREAD("dismiss");
    ViewController* presenter = presented_ ? this : presentingViewController();
    if (!presenter || !presenter->presented_) {
        if (completion) completion();
        return;
    }
    ViewControllerPtr vc = presenter->presented_;
    if (vc->beingDismissed_) return;
    // A dismissal asked for while the presentation still runs waits for it to end: the view it
    // covers is taken out of the window only then, and put back by the dismissal.
    if (vc->beingPresented_) {
        vc->pendingDismissal_ = PendingDismissal{animated, std::move(completion)};
        return;
    }
    // Everything presented above goes first, without its own animation.
    if (vc->presented_) vc->dismiss(false);
    ModalPresentationStyle style = vc->styleInUse_;
    bool covers = style == ModalPresentationStyle::FullScreen || style == ModalPresentationStyle::CurrentContext;
    vc->beingDismissed_ = true;
    vc->coordinator_ = std::make_shared<TransitionCoordinator>(animated, animated ? kPresentDuration : 0);
    vc->forwardWillDisappear(animated);
    if (covers && vc->coveredView_ && vc->coveredParent_) {
        vc->coveredParent_->insertSubview(vc->coveredView_, vc->coveredIndex_);
        // A full-screen presentation's presenter fills the window again (which may have turned
        // meanwhile); a context's view goes back to its own place (a sheet's card, a popover).
        vc->coveredView_->setFrame(style == ModalPresentationStyle::FullScreen ? vc->coveredParent_->bounds()
                                                                               : vc->coveredFrame_);
    }
    if (covers) presenter->forwardWillAppear(animated);
    auto finish = [presenter, vc, covers, animated, completion = std::move(completion)] {
        if (vc->view_) {
            removePresentationAnimations(*vc->view_);
            vc->view_->removeFromSuperview();
        }
        if (!covers && vc->coveredView_) vc->coveredView_->removeFromSuperview();
        vc->coveredView_.reset();
        vc->coveredParent_ = nullptr;
        if (covers) presenter->forwardDidAppear(animated);
        vc->forwardDidDisappear(animated);
        presenter->presented_.reset();
        vc->presenting_ = nullptr;
        vc->beingDismissed_ = false;
        auto coordinator = vc->coordinator_;
        vc->coordinator_.reset();
        if (coordinator) coordinator->finish();
        if (completion) completion();
    };
    std::shared_ptr<AnimatedTransitioning> animator;
    if (auto d = vc->transitioningDelegate.lock(); d && animated) animator = d->animationControllerForDismissed(*vc);
    if (animator) {
        // A cancelled dismissal leaves the presented controller where it was.
        auto cancel = [presenter, vc, covers, animated] {
            if (covers && presenter->view_ && presenter->view_->superview()) presenter->view_->removeFromSuperview();
            if (covers) {
                presenter->forwardWillDisappear(animated);
                presenter->forwardDidDisappear(animated);
            }
            vc->forwardWillAppear(animated);
            vc->forwardDidAppear(animated);
            vc->beingDismissed_ = false;
            auto coordinator = vc->coordinator_;
            vc->coordinator_.reset();
            if (coordinator) coordinator->finish();
        };
        Window* window = presenter->view_ ? presenter->view_->window() : nullptr;
        if (!window && vc->view_) window = vc->view_->window();
        vc->context_ = std::make_shared<ContextTransitioning>(
            window, vc.get(), presenter, animated,
            [vc, animator, finish = std::move(finish), cancel = std::move(cancel)](bool done) mutable {
                auto context = std::move(vc->context_);
                if (done)
                    finish();
                else
                    cancel();
                animator->animationEnded(done);
            });
        if (vc->view_) {
            Rect f = vc->view_->convertRectTo(vc->view_->bounds(), nullptr);
            vc->context_->fromInitial = f;
        }
        if (presenter->view_ && presenter->view_->window()) {
            Rect pf = presenter->view_->convertRectTo(presenter->view_->bounds(), nullptr);
            vc->context_->toInitial = pf;
            vc->context_->toFinal = pf;
        }
        auto context = vc->context_;
        animator->animateTransition(*context);
        return;
    }
    // What rose from the bottom of the screen slides back down, in front of the screen it covered.
    // (Popovers and alerts, which faded in, go at the end.)
    auto* alert = dynamic_cast<AlertController*>(vc.get());
    const bool rose =
        style != ModalPresentationStyle::Popover && !(alert && alert->preferredStyle() == AlertControllerStyle::Alert);
    if (animated && rose && Animations::timed() && vc->view_ && vc->view_->window()) {
        Window* window = vc->view_->window();
        if (vc->view_->superview() == window) window->bringSubviewToFront(vc->view_.get());
        slideTo(*vc->view_, 0, window->bounds().height() - vc->view_->frame().minY(), kPresentDuration);
    }
    if (animated)
        scheduleCompletion(kPresentDuration, finish);
    else
        finish();
}

View* ViewController::presentationContainer() { return view_ ? view_->window() : nullptr; }

// ---- Popover placement

Rect PopoverPresentationController::anchorInWindow() const {
    if (auto item = barButtonItem.lock())
        if (auto v = item->view()) return v->convertRectTo(v->bounds(), nullptr);
    if (auto v = sourceView.lock()) {
        Rect r = sourceRect.isEmpty() && sourceRect.origin == Point{} ? v->bounds() : sourceRect;
        return v->convertRectTo(r, nullptr);
    }
    return Rect(0, 0, 0, 0);
}

Rect PopoverPresentationController::layout(Size content, const Rect& wb, const EdgeInsets& safe) {
    Rect a = anchorInWindow();
    Rect area = wb.inset(safe).insetBy(kMargin, kMargin);
    double below = area.maxY() - a.maxY() - kArrowHeight;
    double above = a.minY() - area.minY() - kArrowHeight;
    double right = area.maxX() - a.maxX() - kArrowHeight;
    double left = a.minX() - area.minX() - kArrowHeight;
    auto clampX = [&](double x) {
        return std::clamp(x, area.minX(), std::max(area.minX(), area.maxX() - content.width));
    };
    auto clampY = [&](double y) {
        return std::clamp(y, area.minY(), std::max(area.minY(), area.maxY() - content.height));
    };
    struct Choice {
        unsigned dir;
        double room;
        double need;
    };
    // The platform prefers the arrow pointing up (popover below), then down, left, right.
    Choice order[] = {{kArrowUp, below, content.height},
                      {kArrowDown, above, content.height},
                      {kArrowLeft, right, content.width},
                      {kArrowRight, left, content.width}};
    const Choice* pick = nullptr;
    for (auto& c : order)
        if ((permittedArrowDirections & c.dir) && c.room >= c.need) {
            pick = &c;
            break;
        }
    if (!pick)  // nothing fits whole: the permitted side with the most room, content shrunk
        for (auto& c : order)
            if ((permittedArrowDirections & c.dir) && (!pick || c.room > pick->room)) pick = &c;
    if (!pick) {
        arrow_ = kArrowUnknown;
        return Rect(clampX(a.midX() - content.width / 2), clampY(a.midY() - content.height / 2), content.width,
                    content.height);
    }
    arrow_ = pick->dir;
    Size s = content;
    switch (pick->dir) {
        case kArrowUp:
            s.height = std::min(s.height, std::max(0.0, below));
            return Rect(clampX(a.midX() - s.width / 2), a.maxY() + kArrowHeight, s.width, s.height);
        case kArrowDown:
            s.height = std::min(s.height, std::max(0.0, above));
            return Rect(clampX(a.midX() - s.width / 2), a.minY() - kArrowHeight - s.height, s.width, s.height);
        case kArrowLeft:
            s.width = std::min(s.width, std::max(0.0, right));
            return Rect(a.maxX() + kArrowHeight, clampY(a.midY() - s.height / 2), s.width, s.height);
        default:
            s.width = std::min(s.width, std::max(0.0, left));
            return Rect(a.minX() - kArrowHeight - s.width, clampY(a.midY() - s.height / 2), s.width, s.height);
    }
}

}  // namespace toolkit
