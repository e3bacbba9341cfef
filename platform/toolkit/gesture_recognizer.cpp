#include "platform/toolkit/gesture_recognizer.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "platform/dispatch/dispatch.h"
#include "platform/toolkit/main_thread.h"
#include "platform/toolkit/view.h"
#include "platform/toolkit/window.h"

namespace toolkit {

const char* gestureStateName(GestureState s) {
    switch (s) {
        case GestureState::Possible:
            return "possible";
        case GestureState::Began:
            return "began";
        case GestureState::Changed:
            return "changed";
        case GestureState::Ended:
            return "ended";
        case GestureState::Cancelled:
            return "cancelled";
        case GestureState::Failed:
            return "failed";
    }
    return "?";
}

Point Touch::locationInView(const View* view) const {
    if (!view) return location;
    return view->convertPointFrom(location, nullptr);
}

Point Touch::previousLocationInView(const View* view) const {
    if (!view) return previousLocation;
    return view->convertPointFrom(previousLocation, nullptr);
}

GestureRecognizer::GestureRecognizer(Action action) {
    if (action) actions_.push_back(std::move(action));
}

GestureRecognizer::~GestureRecognizer() { cancelTimer(); }

void GestureRecognizer::setEnabled(bool enabled) {
    enabled_ = enabled;
    if (!enabled && state_ != GestureState::Possible) {
        if (hasRecognized()) setState(GestureState::Cancelled);
    }
}

void GestureRecognizer::requireGestureRecognizerToFail(const std::shared_ptr<GestureRecognizer>& other) {
    if (!other) return;
    requiredToFail_.push_back(other);
    other->dependents_.push_back(weak_from_this());
}

Point GestureRecognizer::centroid() const {
    if (touches_.empty()) return lastCentroid_;
    Point c;
    for (auto& t : touches_) c.x += t->location.x, c.y += t->location.y;
    c.x /= static_cast<double>(touches_.size());
    c.y /= static_cast<double>(touches_.size());
    return c;
}

Point GestureRecognizer::locationInView(const View* view) const {
    Point c = centroid();
    return view ? view->convertPointFrom(c, nullptr) : c;
}

bool GestureRecognizer::wantsTouch(const Touch& touch) {
    if (!enabled_ || !view_) return false;
    if (auto d = delegate_.lock())
        if (!d->shouldReceiveTouch(*this, touch)) return false;
    return true;
}

void GestureRecognizer::deliverBegan(const TouchSet& touches) {
    for (auto& t : touches) {
        touches_.push_back(t);
        sequence_.push_back(t);
    }
    lastCentroid_ = centroid();
    if (state_ == GestureState::Failed || state_ == GestureState::Cancelled) return;
    touchesBegan(touches);
}

void GestureRecognizer::deliverMoved(const TouchSet& touches) {
    lastCentroid_ = centroid();
    if (state_ == GestureState::Failed || state_ == GestureState::Cancelled || state_ == GestureState::Ended) return;
    touchesMoved(touches);
}

void GestureRecognizer::deliverEnded(const TouchSet& touches) {
    lastCentroid_ = centroid();
    for (auto& t : touches) std::erase(touches_, t);
    if (state_ == GestureState::Possible || state_ == GestureState::Began || state_ == GestureState::Changed)
        touchesEnded(touches);
    finishIfIdle();
}

void GestureRecognizer::deliverCancelled(const TouchSet& touches) {
    lastCentroid_ = centroid();
    for (auto& t : touches) std::erase(touches_, t);
    if (state_ == GestureState::Possible || state_ == GestureState::Began || state_ == GestureState::Changed)
        touchesCancelled(touches);
    finishIfIdle();
}

void GestureRecognizer::finishIfIdle() {
    if (!touches_.empty()) return;
    bool terminal =
        state_ == GestureState::Ended || state_ == GestureState::Failed || state_ == GestureState::Cancelled;
    // A recognition waiting for another recogniser's failure keeps the machine alive.
    if (terminal && pending_ == GestureState::Possible) resetAll();
}

void GestureRecognizer::resetAll() {
    cancelTimer();
    state_ = GestureState::Possible;
    pending_ = GestureState::Possible;
    sequence_.clear();
    reset();
}

bool GestureRecognizer::waitingForDependencies() const {
    for (auto& w : requiredToFail_)
        if (auto o = w.lock(); o && o->state_ == GestureState::Possible && !o->sequence_.empty()) return true;
    return false;
}

void GestureRecognizer::setState(GestureState s) {
    TK_MAIN_THREAD("gesture state");
    auto keep = shared_from_this();
    bool recognizing = state_ == GestureState::Possible && (s == GestureState::Began || s == GestureState::Ended);
    if (recognizing) {
        for (auto& w : requiredToFail_) {
            if (auto o = w.lock(); o && o->hasRecognized()) {
                setState(GestureState::Failed);
                return;
            }
        }
        if (waitingForDependencies()) {
            pending_ = s;
            return;
        }
        if (auto d = delegate_.lock(); d && s == GestureState::Began && !d->gestureRecognizerShouldBegin(*this)) {
            setState(GestureState::Failed);
            return;
        }
        if (s == GestureState::Ended)
            if (auto d = delegate_.lock(); d && !d->gestureRecognizerShouldBegin(*this)) {
                setState(GestureState::Failed);
                return;
            }
        // Competing recognisers of the same touches fail, unless either side allows both.
        std::vector<std::shared_ptr<GestureRecognizer>> others;
        for (auto& t : sequence_)
            for (auto& w : t->recognizers)
                if (auto g = w.lock();
                    g && g.get() != this && std::find(others.begin(), others.end(), g) == others.end())
                    others.push_back(g);
        for (auto& g : others) {
            if (g->state_ != GestureState::Possible) continue;
            bool dependsOnMe = false;
            for (auto& w : g->requiredToFail_)
                if (w.lock().get() == this) dependsOnMe = true;
            if (dependsOnMe) continue;  // told below
            auto d1 = delegate_.lock();
            auto d2 = g->delegate_.lock();
            bool together = (d1 && d1->shouldRecognizeSimultaneously(*this, *g)) ||
                            (d2 && d2->shouldRecognizeSimultaneously(*g, *this));
            if (!together) g->setState(GestureState::Failed);
        }
    }
    state_ = s;
    pending_ = GestureState::Possible;
    if (s == GestureState::Failed || s == GestureState::Cancelled || s == GestureState::Ended) cancelTimer();
    if (s == GestureState::Began || s == GestureState::Changed || s == GestureState::Ended ||
        (s == GestureState::Cancelled))
        fire();
    if (recognizing && cancelsTouches_ && view_ && view_->window()) view_->window()->cancelTouchesForViews(sequence_);
    if (recognizing)
        for (auto& w : std::vector<std::weak_ptr<GestureRecognizer>>(dependents_))
            if (auto d = w.lock()) d->dependencyRecognized();
    if (s == GestureState::Failed)
        for (auto& w : std::vector<std::weak_ptr<GestureRecognizer>>(dependents_))
            if (auto d = w.lock()) d->dependencyFailed();
    finishIfIdle();
}

void GestureRecognizer::dependencyFailed() {
    if (pending_ == GestureState::Possible || waitingForDependencies()) return;
    GestureState s = pending_;
    pending_ = GestureState::Possible;
    setState(s);
    // A discrete recognition that was held ends the sequence.
    finishIfIdle();
}

void GestureRecognizer::dependencyRecognized() {
    if (state_ == GestureState::Possible) {
        pending_ = GestureState::Possible;
        setState(GestureState::Failed);
    }
}

void GestureRecognizer::fire() {
    for (auto& a : std::vector<Action>(actions_)) a(*this);
}

void GestureRecognizer::startTimer(double seconds, std::function<void()> fireFn) {
    cancelTimer();
    std::weak_ptr<GestureRecognizer> weak = weak_from_this();
    timer_ = dispatch::Timer::scheduled(seconds, false, [weak, fireFn](dispatch::Timer&) {
        if (auto self = weak.lock()) {
            self->timer_.reset();
            fireFn();
        }
    });
}

void GestureRecognizer::cancelTimer() {
    if (timer_) timer_->invalidate();
    timer_.reset();
}

namespace {
double distance(Point a, Point b) { return std::hypot(a.x - b.x, a.y - b.y); }
}  // namespace

// ---- Tap

void TapGestureRecognizer::touchesBegan(const TouchSet&) {
    cancelTimer();
    if (maxTouches_ == 0 || touches().size() == 1) start_ = centroid();
    maxTouches_ = std::max(maxTouches_, touches().size());
    if (touches().size() > static_cast<size_t>(numberOfTouchesRequired)) fail();
}

void TapGestureRecognizer::touchesMoved(const TouchSet&) {
    if (distance(centroid(), start_) > kAllowableMovement) fail();
}

void TapGestureRecognizer::touchesEnded(const TouchSet&) {
    if (!touches().empty()) return;
    if (maxTouches_ != static_cast<size_t>(numberOfTouchesRequired)) {
        fail();
        return;
    }
    maxTouches_ = 0;
    if (++taps_ >= numberOfTapsRequired) {
        setState(GestureState::Ended);
        return;
    }
    startTimer(kTapInterval, [this] {
        if (state() == GestureState::Possible) fail();
    });
}

void TapGestureRecognizer::reset() {
    taps_ = 0;
    maxTouches_ = 0;
}

// ---- Long press

void LongPressGestureRecognizer::touchesBegan(const TouchSet&) {
    if (touches().size() > static_cast<size_t>(numberOfTouchesRequired)) {
        if (state() == GestureState::Possible) fail();
        return;
    }
    if (touches().size() == static_cast<size_t>(numberOfTouchesRequired) && !started_) {
        started_ = true;
        start_ = centroid();
        startTimer(minimumPressDuration, [this] {
            if (state() == GestureState::Possible) setState(GestureState::Began);
        });
    }
}

void LongPressGestureRecognizer::touchesMoved(const TouchSet&) {
    if (state() == GestureState::Possible) {
        if (distance(centroid(), start_) > allowableMovement) fail();
    } else {
        setState(GestureState::Changed);
    }
}

void LongPressGestureRecognizer::touchesEnded(const TouchSet&) {
    if (state() == GestureState::Possible)
        fail();
    else if (touches().empty())
        setState(GestureState::Ended);
}

// ---- Swipe

void SwipeGestureRecognizer::touchesBegan(const TouchSet&) {
    if (maxTouches_ == 0) start_ = centroid();
    maxTouches_ = std::max(maxTouches_, touches().size());
    if (maxTouches_ > static_cast<size_t>(numberOfTouchesRequired)) fail();
}

void SwipeGestureRecognizer::touchesMoved(const TouchSet&) {
    if (touches().size() != static_cast<size_t>(numberOfTouchesRequired)) return;
    Point c = centroid();
    double dx = c.x - start_.x, dy = c.y - start_.y;
    bool horizontal = std::fabs(dx) >= std::fabs(dy);
    unsigned dir = horizontal ? (dx > 0 ? kSwipeRight : kSwipeLeft) : (dy > 0 ? kSwipeDown : kSwipeUp);
    double along = horizontal ? std::fabs(dx) : std::fabs(dy);
    if (along < kMinimumDistance) return;
    if (direction & dir)
        setState(GestureState::Ended);
    else
        fail();
}

void SwipeGestureRecognizer::touchesEnded(const TouchSet&) {
    if (state() == GestureState::Possible) fail();
}

// ---- Pan

void PanGestureRecognizer::reset() {
    origin_ = {}, offset_ = {};
    last_ = previous_ = {};
    lastTime_ = previousTime_ = 0;
    endTime_ = -1;
}

void PanGestureRecognizer::touchesBegan(const TouchSet&) {
    if (state() == GestureState::Possible) {
        origin_ = centroid();
        last_ = previous_ = origin_;
        lastTime_ = previousTime_ = dispatch::clock().now();
        endTime_ = -1;
    }
    if (touches().size() > maximumNumberOfTouches) {
        if (state() == GestureState::Possible)
            fail();
        else
            setState(GestureState::Ended);
    }
}

void PanGestureRecognizer::touchesMoved(const TouchSet&) {
    previous_ = last_, previousTime_ = lastTime_;
    last_ = centroid(), lastTime_ = dispatch::clock().now();
    if (state() == GestureState::Possible) {
        if (touches().size() < minimumNumberOfTouches) return;
        if (distance(centroid(), origin_) > kHysteresis) setState(GestureState::Began);
    } else {
        setState(GestureState::Changed);
    }
}

void PanGestureRecognizer::touchesEnded(const TouchSet&) {
    if (!touches().empty() && touches().size() >= minimumNumberOfTouches) return;
    endTime_ = dispatch::clock().now();
    if (state() == GestureState::Possible)
        fail();
    else
        setState(GestureState::Ended);
}

Point PanGestureRecognizer::translationInView(const View* view) const {
    Point c = centroid();
    Point a = view ? view->convertPointFrom(origin_, nullptr) : origin_;
    Point b = view ? view->convertPointFrom(c, nullptr) : c;
    return {b.x - a.x + offset_.x, b.y - a.y + offset_.y};
}

Point PanGestureRecognizer::velocityInView(const View* view) const {
    double dt = lastTime_ - previousTime_;
    double at = endTime_ >= 0 ? endTime_ : dispatch::clock().now();
    if (dt <= 0 || at - lastTime_ > kVelocityWindow) return {0, 0};
    Point a = view ? view->convertPointFrom(previous_, nullptr) : previous_;
    Point b = view ? view->convertPointFrom(last_, nullptr) : last_;
    return {(b.x - a.x) / dt, (b.y - a.y) / dt};
}

void PanGestureRecognizer::setTranslation(Point t, const View* view) {
    origin_ = centroid();
    (void)view;
    offset_ = t;
}

// ---- Pinch and rotation: two touches

void TwoFingerGestureRecognizer::touchesBegan(const TouchSet&) {
    if (touches().size() > 2) {
        if (state() == GestureState::Possible)
            fail();
        else
            setState(GestureState::Cancelled);
        return;
    }
    if (touches().size() == 2 && state() == GestureState::Possible) {
        fingersDown();
        restartReading(reading(), dispatch::clock().now());
    }
}

void TwoFingerGestureRecognizer::touchesMoved(const TouchSet&) {
    if (touches().size() != 2 || !fingersMoved()) return;
    const double now = dispatch::clock().now();
    const double value = reading();
    if (state() == GestureState::Possible) {
        if (!pastHysteresis()) return;
        // Measured from where the fingers are when it begins.
        lastReading_ = value, lastTime_ = now;
        setState(GestureState::Began);
        return;
    }
    if (now > lastTime_) velocity_ = (value - lastReading_) / (now - lastTime_);
    lastReading_ = value, lastTime_ = now;
    setState(GestureState::Changed);
}

void TwoFingerGestureRecognizer::touchesEnded(const TouchSet&) {
    if (touches().size() >= 2) return;
    if (state() == GestureState::Possible) {
        if (touches().empty()) fail();
        return;
    }
    setState(GestureState::Ended);
}

double PinchGestureRecognizer::span() const {
    const auto& t = touches();
    if (t.size() < 2) return 0;
    return distance(t[0]->location, t[1]->location);
}

double PinchGestureRecognizer::scale() const {
    const double now = span();
    if (base_ <= 0 || now <= 0) return lastReading();
    return now / base_;
}

void PinchGestureRecognizer::setScale(double scale) {
    const double now = span();
    if (now > 0 && scale > 0) base_ = now / scale;
    setReading(scale);
}

void PinchGestureRecognizer::reset() {
    base_ = start_ = 0;
    restartReading(1, 0);
}

void PinchGestureRecognizer::fingersDown() { start_ = base_ = span(); }

bool PinchGestureRecognizer::pastHysteresis() const { return std::abs(span() - start_) > kHysteresis; }

double RotationGestureRecognizer::angle() const {
    const auto& t = touches();
    if (t.size() < 2) return lastAngle_;
    return std::atan2(t[1]->location.y - t[0]->location.y, t[1]->location.x - t[0]->location.x);
}

bool RotationGestureRecognizer::fingersMoved() {
    const double a = angle();
    double step = a - lastAngle_;
    while (step > std::numbers::pi) step -= 2 * std::numbers::pi;
    while (step < -std::numbers::pi) step += 2 * std::numbers::pi;
    turned_ += step;
    lastAngle_ = a;
    return true;
}

double RotationGestureRecognizer::rotation() const { return turned_ + offset_; }

void RotationGestureRecognizer::setRotation(double radians) {
    offset_ = radians - turned_;
    setReading(radians);
}

void RotationGestureRecognizer::reset() {
    lastAngle_ = turned_ = offset_ = 0;
    restartReading(0, 0);
}

void RotationGestureRecognizer::fingersDown() {
    lastAngle_ = angle();
    turned_ = offset_ = 0;
}

}  // namespace toolkit
