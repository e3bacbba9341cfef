#include "platform/toolkit/scroll_view.h"

#include <algorithm>
#include <cmath>

#include "platform/toolkit/animation.h"
#include "platform/toolkit/main_thread.h"

namespace toolkit {

namespace {
// The scroll view's pan begins only for movement along an axis it scrolls.
class ScrollPanDelegate : public GestureRecognizerDelegate {
public:
    explicit ScrollPanDelegate(ScrollView* owner) : owner_(owner) {}
    bool gestureRecognizerShouldBegin(GestureRecognizer& g) override {
        auto& pan = static_cast<PanGestureRecognizer&>(g);
        Point t = pan.translationInView(nullptr);
        bool vertical = std::fabs(t.y) >= std::fabs(t.x);
        Point lo = owner_->minimumContentOffset(), hi = owner_->maximumContentOffset();
        bool v = owner_->alwaysBounceVertical || hi.y > lo.y;
        bool h = owner_->alwaysBounceHorizontal || hi.x > lo.x;
        return vertical ? v : h;
    }
    // A finger landing on gliding content catches it at once, before any pan begins.
    bool shouldReceiveTouch(GestureRecognizer&, const Touch&) override {
        owner_->touchDown();
        return true;
    }

private:
    ScrollView* owner_;
};
}  // namespace

RefreshControl::RefreshControl() {
    setFrame(Rect(0, -kHeight, 320, kHeight));
    setAutoresizingMask(kFlexibleWidth);
}

void RefreshControl::beginRefreshing() { setRefreshing(true, false); }
void RefreshControl::endRefreshing() { setRefreshing(false, false); }

void RefreshControl::setRefreshing(bool on, bool fromUser) {
    if (on == refreshing_) return;
    refreshing_ = on;
    if (auto* sv = dynamic_cast<ScrollView*>(superview())) {
        EdgeInsets e = sv->contentInset();
        e.top += on ? kHeight : -kHeight;
        sv->setContentInset(e);
        if (!on && sv->contentOffset().y < sv->minimumContentOffset().y)
            sv->setContentOffset({sv->contentOffset().x, sv->minimumContentOffset().y}, true);
    }
    if (fromUser) sendActionsForControlEvents(kValueChanged);
}

ScrollView::ScrollView() { setup(); }
ScrollView::ScrollView(const Rect& frame) : View(frame) { setup(); }
ScrollView::~ScrollView() = default;

void ScrollView::setup() {
    setClipsToBounds(true);
    pan_ = std::make_shared<PanGestureRecognizer>([this](GestureRecognizer& g) { handlePan(g); });
    panDelegate_ = std::make_shared<ScrollPanDelegate>(this);
    pan_->setDelegate(panDelegate_);
    addGestureRecognizer(pan_);
}

void ScrollView::setScrollEnabled(bool enabled) {
    scrollEnabled_ = enabled;
    pan_->setEnabled(enabled);
}

void ScrollView::applyOffset(Point p) {
    if (p == contentOffset()) return;
    Rect b = bounds();
    b.origin = p;
    setBounds(b);
    if (auto d = delegate.lock()) d->scrollViewDidScroll(*this);
    contentOffsetDidChange();
}

void ScrollView::moveByUser(Point p) {
    bool was = movingByUser_;
    movingByUser_ = true;
    setContentOffset(p, false);
    movingByUser_ = was;
}

void ScrollView::interruptMotion() {
    ++settleGeneration_;
    if (auto t = glideTimer_.lock()) t->invalidate();
    glideTimer_.reset();
    // A glide cut short is over: left set, callers waiting for the end would wait forever.
    decelerating_ = false;
}

void ScrollView::setContentOffset(Point offset, bool animated) {
    TK_MAIN_THREAD("setContentOffset");
    if (!movingByUser_) interruptMotion();
    if (!animated || offset == contentOffset()) {
        applyOffset(offset);
        return;
    }
    std::weak_ptr<ScrollView> weak = std::static_pointer_cast<ScrollView>(self());
    animate(
        kSettleDuration, [&] { applyOffset(offset); },
        [weak](bool) {
            if (auto s = weak.lock())
                if (auto d = s->delegate.lock()) d->scrollViewDidEndScrollingAnimation(*s);
        });
}

void ScrollView::setContentSize(Size size) {
    if (size == contentSize_) return;
    contentSize_ = size;
    setNeedsLayout();
}

void ScrollView::setContentInset(const EdgeInsets& insets) {
    contentInset_ = insets;
    setNeedsLayout();
}

EdgeInsets ScrollView::adjustedContentInset() const {
    EdgeInsets e = contentInset_;
    bool add = false;
    switch (contentInsetAdjustmentBehavior) {
        case ContentInsetAdjustment::Never:
            break;
        case ContentInsetAdjustment::Always:
            add = true;
            break;
        case ContentInsetAdjustment::Automatic:
        case ContentInsetAdjustment::ScrollableAxes:
            add = true;
            break;
    }
    if (add && window()) {
        EdgeInsets safe = safeAreaInsets();
        e.top += safe.top;
        e.bottom += safe.bottom;
    }
    return e;
}

Point ScrollView::minimumContentOffset() const {
    EdgeInsets e = adjustedContentInset();
    return {-e.left, -e.top};
}

Point ScrollView::maximumContentOffset() const {
    EdgeInsets e = adjustedContentInset();
    Point lo = minimumContentOffset();
    return {std::max(lo.x, contentSize_.width + e.right - bounds().width()),
            std::max(lo.y, contentSize_.height + e.bottom - bounds().height())};
}

bool ScrollView::scrollsVertically() const {
    return alwaysBounceVertical || maximumContentOffset().y > minimumContentOffset().y;
}
bool ScrollView::scrollsHorizontally() const {
    return alwaysBounceHorizontal || maximumContentOffset().x > minimumContentOffset().x;
}

void ScrollView::scrollRectToVisible(const Rect& rect, bool animated) {
    Rect r = rect.standardized();
    Point o = contentOffset();
    EdgeInsets e = adjustedContentInset();
    double visibleH = bounds().height() - e.top - e.bottom, visibleW = bounds().width() - e.left - e.right;
    double top = o.y + e.top, left = o.x + e.left;
    if (r.minY() < top)
        o.y = r.minY() - e.top;
    else if (r.maxY() > top + visibleH)
        o.y = std::min(r.minY(), r.maxY() - visibleH) - e.top;
    if (r.minX() < left)
        o.x = r.minX() - e.left;
    else if (r.maxX() > left + visibleW)
        o.x = std::min(r.minX(), r.maxX() - visibleW) - e.left;
    Point lo = minimumContentOffset(), hi = maximumContentOffset();
    o = {std::clamp(o.x, lo.x, hi.x), std::clamp(o.y, lo.y, hi.y)};
    setContentOffset(o, animated);
}

void ScrollView::setZoomScale(double scale, bool animated) {
    double s = std::clamp(scale, minimumZoomScale, std::max(minimumZoomScale, maximumZoomScale));
    auto d = delegate.lock();
    View* v = d ? d->viewForZooming(*this) : nullptr;
    if (!v) return;
    auto apply = [&] {
        zoom_ = s;
        Point origin = v->frame().origin;
        v->setTransform(AffineTransform::scale(s, s));
        Rect f = v->frame();
        v->setCenter({v->center().x - (f.minX() - origin.x), v->center().y - (f.minY() - origin.y)});
        setContentSize(v->frame().size);
    };
    if (animated)
        animate(kSettleDuration, apply);
    else
        apply();
    if (d) d->scrollViewDidZoom(*this);
}

void ScrollView::layoutSubviews() {
    View::layoutSubviews();
    // Content resting at the top edge stays there when the insets change (bars, safe areas). Out
    // of a window (a context menu's preview, drawn by the menu panel) the view's own inset still
    // places its content; the safe area joins it with the window.
    EdgeInsets now = adjustedContentInset();
    if (!dragging_ && (!lastAdjusted_ || lastAdjusted_->top != now.top)) {
        double oldTop = lastAdjusted_ ? lastAdjusted_->top : 0;
        if (contentOffset().y == -oldTop) applyOffset({contentOffset().x, -now.top});
    }
    lastAdjusted_ = now;
}

void ScrollView::setRefreshControl(std::shared_ptr<RefreshControl> control) {
    if (refresh_) {
        if (refresh_->isRefreshing()) refresh_->endRefreshing();
        refresh_->removeFromSuperview();
    }
    refresh_ = std::move(control);
    if (refresh_) {
        insertSubview(refresh_, 0);
        refresh_->setFrame(Rect(0, -RefreshControl::kHeight, bounds().width(), RefreshControl::kHeight));
    }
}

bool ScrollView::scrollToTop() {
    if (!scrollsToTop || !window()) return false;
    auto d = delegate.lock();
    if (d && !d->scrollViewShouldScrollToTop(*this)) return false;
    std::weak_ptr<ScrollView> weak = std::static_pointer_cast<ScrollView>(self());
    interruptMotion();
    animate(
        kSettleDuration,
        [&] {
            moveByUser({contentOffset().x, minimumContentOffset().y});
        },
        [weak](bool) {
            if (auto s = weak.lock())
                if (auto d = s->delegate.lock()) d->scrollViewDidScrollToTop(*s);
        });
    return true;
}

void ScrollView::handlePan(GestureRecognizer& g) {
    auto& pan = static_cast<PanGestureRecognizer&>(g);
    auto d = delegate.lock();
    switch (g.state()) {
        case GestureState::Began:
            interruptMotion();
            dragging_ = true;
            dragStart_ = contentOffset();
            if (d) d->scrollViewWillBeginDragging(*this);
            [[fallthrough]];
        case GestureState::Changed: {
            // Window coordinates: the view's own move with its offset, so its translation would too.
            Point t = pan.translationInView(nullptr);
            Point p = dragStart_;
            Point lo = minimumContentOffset(), hi = maximumContentOffset();
            auto along = [&](double start, double delta, double min, double max) {
                double v = start - delta;
                if (v < min) return bounces ? min + (v - min) / 2 : min;
                if (v > max) return bounces ? max + (v - max) / 2 : max;
                return v;
            };
            if (scrollsVertically()) p.y = along(dragStart_.y, t.y, lo.y, hi.y);
            if (scrollsHorizontally()) p.x = along(dragStart_.x, t.x, lo.x, hi.x);
            moveByUser(p);
            break;
        }
        case GestureState::Ended:
        case GestureState::Cancelled: {
            Point lo = minimumContentOffset(), hi = maximumContentOffset();
            Point now = contentOffset();
            // Pulled down past the refresh control's height: it starts refreshing.
            if (refresh_ && refresh_->isEnabled() && !refresh_->isRefreshing() &&
                now.y <= lo.y - RefreshControl::kHeight) {
                refresh_->setRefreshing(true, true);
                lo = minimumContentOffset();
                hi = maximumContentOffset();
            }
            // The finger's velocity, turned into the content's along the axes that scroll.
            Point finger = g.state() == GestureState::Ended ? pan.velocityInView(nullptr) : Point{0, 0};
            Point velocity{scrollsHorizontally() ? -finger.x / 1000 : 0, scrollsVertically() ? -finger.y / 1000 : 0};
            Point rest = projectedRest(velocity);
            Point target{std::clamp(rest.x, lo.x, hi.x), std::clamp(rest.y, lo.y, hi.y)};
            if (d) d->scrollViewWillEndDragging(*this, velocity, &target);
            dragging_ = false;
            bool decelerate = !(target == now);
            if (d) d->scrollViewDidEndDragging(*this, decelerate);
            if (!decelerate) break;
            decelerating_ = true;
            if (d) d->scrollViewWillBeginDecelerating(*this);
            // Let go past an edge, it settles back whatever the finger's speed: a glide there
            // would creep over the last point for seconds, still counting itself as moving. Let
            // go slower than content at rest moves, there is no glide either (only the delegate's
            // move of the target to settle into).
            const bool outOfRange = now.x < lo.x || now.x > hi.x || now.y < lo.y || now.y > hi.y;
            if (std::hypot(velocity.x, velocity.y) > kRestingSpeed && !outOfRange) {
                glide(target, velocity);
                break;
            }
            uint64_t generation = ++settleGeneration_;
            std::weak_ptr<ScrollView> weak = std::static_pointer_cast<ScrollView>(self());
            animate(
                kSettleDuration, [&] { moveByUser(target); },
                [weak, generation](bool) {
                    auto s = weak.lock();
                    // A new drag or offset took over and ended this settle.
                    if (!s || s->settleGeneration_ != generation) return;
                    s->decelerating_ = false;
                    if (auto d = s->delegate.lock()) d->scrollViewDidEndDecelerating(*s);
                });
            break;
        }
        default:
            break;
    }
}

Point ScrollView::projectedRest(Point velocity) const {
    // Speed v shrinking by the rate r each millisecond covers v * r / (1 - r) points on its way to
    // nothing; the glide stops at the resting speed, short of that by the share the resting speed
    // is of v.
    double r = std::clamp(decelerationRate, 0.0, 0.9999);
    const double speed = std::hypot(velocity.x, velocity.y);
    double k = speed > kRestingSpeed ? r / (1 - r) * (1 - kRestingSpeed / speed) : 0;
    Point now = contentOffset();
    return {now.x + velocity.x * k, now.y + velocity.y * k};
}

void ScrollView::glide(Point target, Point velocity) {
    Point start = contentOffset();
    double r = std::clamp(decelerationRate, 0.0, 0.9999);
    // Along the axis the content moves fastest on.
    const bool vertical = std::fabs(velocity.y) >= std::fabs(velocity.x);
    // Until the speed falls to the resting speed (in milliseconds), where the projected rest
    // lies: the glide ends the moment it would look still, not seconds later while it creeps
    // under a point a frame. The curve is scaled to end exactly at the target the delegate and
    // the range allowed.
    double total = std::fabs(vertical ? velocity.y : velocity.x) * r / (1 - r);
    double ms = std::log(kRestingSpeed / std::hypot(velocity.x, velocity.y)) / std::log(r);
    double duration = std::max(1.0 / 60, ms / 1000);
    double end = 1 - std::pow(r, duration * 1000);
    // Content that meets an edge of its range on the way glides freely up to it and rests there:
    // the glide ends when it arrives (a finger landing then finds it at rest), not seconds later
    // while the rest of a slowed curve crawls over the last points.
    const double way = vertical ? target.y - start.y : target.x - start.x;
    const double edge[] = {vertical ? minimumContentOffset().y : minimumContentOffset().x,
                           vertical ? maximumContentOffset().y : maximumContentOffset().x};
    const double velocityAlong = vertical ? velocity.y : velocity.x;
    const double at = vertical ? target.y : target.x;
    if ((at == edge[0] || at == edge[1]) && way * velocityAlong > 0 && std::fabs(way) < total * end) {
        end = std::fabs(way) / total;
        duration = std::max(1.0 / 60, std::log(1 - end) / std::log(r) / 1000);
    }
    double began = dispatch::clock().now();
    uint64_t generation = ++settleGeneration_;
    std::weak_ptr<ScrollView> weak = std::static_pointer_cast<ScrollView>(self());
    glideTimer_ = dispatch::Timer::scheduled(
        1.0 / 60, true, [weak, generation, start, target, r, duration, end, began](dispatch::Timer& timer) {
            auto s = weak.lock();
            if (!s || s->settleGeneration_ != generation) {
                timer.invalidate();
                return;
            }
            double t = std::min(duration, dispatch::clock().now() - began);
            double f = t >= duration ? 1 : (1 - std::pow(r, t * 1000)) / end;
            s->moveByUser(f >= 1 ? target
                                 : Point{start.x + (target.x - start.x) * f, start.y + (target.y - start.y) * f});
            if (t < duration || s->settleGeneration_ != generation) return;
            timer.invalidate();
            s->decelerating_ = false;
            if (auto d = s->delegate.lock()) d->scrollViewDidEndDecelerating(*s);
        });
}

void ScrollView::zoomToRect(const Rect& rect, bool animated) {
    auto d = delegate.lock();
    View* v = d ? d->viewForZooming(*this) : nullptr;
    Rect r = rect.standardized();
    if (!v || r.width() <= 0 || r.height() <= 0) return;
    Rect b = bounds();
    setZoomScale(std::min(b.width() / r.width(), b.height() / r.height()), animated);
    double s = zoom_;
    Point origin = v->frame().origin;
    Point centre{origin.x + r.midX() * s, origin.y + r.midY() * s};
    Point lo = minimumContentOffset(), hi = maximumContentOffset();
    setContentOffset(
        {std::clamp(centre.x - b.width() / 2, lo.x, hi.x), std::clamp(centre.y - b.height() / 2, lo.y, hi.y)},
        animated);
}

}  // namespace toolkit
