// Gesture recognisers as state machines over the touches the window delivers, timed by the
// process clock (so tests step long presses and double-tap windows on the virtual clock).
// Only one recogniser of a touch sequence recognises unless the delegates allow both, and a
// recogniser told to wait for another's failure holds its recognition until the other fails.
#pragma once

#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/dispatch/run_loop.h"
#include "platform/toolkit/event.h"
#include "platform/toolkit/geometry.h"

namespace toolkit {

class View;
class GestureRecognizer;
using TouchSet = std::vector<std::shared_ptr<Touch>>;

enum class GestureState { Possible, Began, Changed, Ended, Cancelled, Failed };
const char* gestureStateName(GestureState s);

class GestureRecognizerDelegate {
public:
    virtual ~GestureRecognizerDelegate() = default;
    virtual bool gestureRecognizerShouldBegin(GestureRecognizer&) { return true; }
    virtual bool shouldReceiveTouch(GestureRecognizer&, const Touch&) { return true; }
    virtual bool shouldRecognizeSimultaneously(GestureRecognizer&, GestureRecognizer&) { return false; }
};

class GestureRecognizer : public std::enable_shared_from_this<GestureRecognizer> {
public:
    using Action = std::function<void(GestureRecognizer&)>;

    explicit GestureRecognizer(Action action = {});
    virtual ~GestureRecognizer();
    virtual std::string className() const { return "GestureRecognizer"; }

    void addTarget(Action action) { actions_.push_back(std::move(action)); }
    GestureState state() const { return state_; }
    View* view() const { return view_; }
    bool isEnabled() const { return enabled_; }
    void setEnabled(bool enabled);
    bool cancelsTouchesInView() const { return cancelsTouches_; }
    void setCancelsTouchesInView(bool on) { cancelsTouches_ = on; }
    void setDelegate(std::weak_ptr<GestureRecognizerDelegate> d) { delegate_ = std::move(d); }
    std::shared_ptr<GestureRecognizerDelegate> delegate() const { return delegate_.lock(); }
    // This recogniser recognises only after other has failed.
    void requireGestureRecognizerToFail(const std::shared_ptr<GestureRecognizer>& other);

    // The centroid of the touches (the last ones, after they ended), in view's coordinates.
    Point locationInView(const View* view) const;
    size_t numberOfTouches() const { return touches_.size(); }

    // Driven by the window.
    bool wantsTouch(const Touch& touch);
    void deliverBegan(const TouchSet& touches);
    void deliverMoved(const TouchSet& touches);
    void deliverEnded(const TouchSet& touches);
    void deliverCancelled(const TouchSet& touches);
    bool hasRecognized() const {
        return state_ == GestureState::Began || state_ == GestureState::Changed || state_ == GestureState::Ended;
    }
    void attachTo(View* view) { view_ = view; }

protected:
    virtual void touchesBegan(const TouchSet& touches) = 0;
    virtual void touchesMoved(const TouchSet& touches) = 0;
    virtual void touchesEnded(const TouchSet& touches) = 0;
    virtual void touchesCancelled(const TouchSet&) { setState(GestureState::Cancelled); }
    virtual void reset() {}

    // Moves the state machine, honouring failure requirements and exclusivity.
    void setState(GestureState s);
    void fail() { setState(GestureState::Failed); }
    // A one-shot timer on the main run loop, cancelled by the next call or by reset.
    void startTimer(double seconds, std::function<void()> fire);
    void cancelTimer();
    const TouchSet& touches() const { return touches_; }
    Point centroid() const;

private:
    void fire();
    void finishIfIdle();
    void dependencyFailed();
    void dependencyRecognized();
    bool waitingForDependencies() const;
    void resetAll();

    std::vector<Action> actions_;
    GestureState state_ = GestureState::Possible;
    GestureState pending_ = GestureState::Possible;
    View* view_ = nullptr;
    bool enabled_ = true;
    bool cancelsTouches_ = true;
    std::weak_ptr<GestureRecognizerDelegate> delegate_;
    std::vector<std::weak_ptr<GestureRecognizer>> requiredToFail_;
    std::vector<std::weak_ptr<GestureRecognizer>> dependents_;
    TouchSet touches_;
    Point lastCentroid_;
    dispatch::TimerPtr timer_;
    // Touches of the sequence this recogniser competes in (for exclusivity).
    TouchSet sequence_;
};

class TapGestureRecognizer : public GestureRecognizer {
public:
    using GestureRecognizer::GestureRecognizer;
    std::string className() const override { return "TapGestureRecognizer"; }
    int numberOfTapsRequired = 1;
    int numberOfTouchesRequired = 1;
    // Time allowed between taps and movement allowed within one.
    static constexpr double kTapInterval = 0.35;
    static constexpr double kAllowableMovement = 10;

protected:
    void touchesBegan(const TouchSet& touches) override;
    void touchesMoved(const TouchSet& touches) override;
    void touchesEnded(const TouchSet& touches) override;
    void reset() override;

private:
    int taps_ = 0;
    size_t maxTouches_ = 0;
    Point start_;
};

class LongPressGestureRecognizer : public GestureRecognizer {
public:
    using GestureRecognizer::GestureRecognizer;
    std::string className() const override { return "LongPressGestureRecognizer"; }
    double minimumPressDuration = 0.5;
    double allowableMovement = 10;
    int numberOfTouchesRequired = 1;

protected:
    void touchesBegan(const TouchSet& touches) override;
    void touchesMoved(const TouchSet& touches) override;
    void touchesEnded(const TouchSet& touches) override;
    void reset() override { started_ = false; }

private:
    Point start_;
    bool started_ = false;
};

enum SwipeDirection : unsigned { kSwipeRight = 1, kSwipeLeft = 2, kSwipeUp = 4, kSwipeDown = 8 };

class SwipeGestureRecognizer : public GestureRecognizer {
public:
    using GestureRecognizer::GestureRecognizer;
    std::string className() const override { return "SwipeGestureRecognizer"; }
    unsigned direction = kSwipeRight;
    int numberOfTouchesRequired = 1;
    static constexpr double kMinimumDistance = 30;

protected:
    void touchesBegan(const TouchSet& touches) override;
    void touchesMoved(const TouchSet& touches) override;
    void touchesEnded(const TouchSet& touches) override;
    void reset() override { maxTouches_ = 0; }

private:
    Point start_;
    size_t maxTouches_ = 0;
};

class PanGestureRecognizer : public GestureRecognizer {
public:
    using GestureRecognizer::GestureRecognizer;
    std::string className() const override { return "PanGestureRecognizer"; }
    size_t minimumNumberOfTouches = 1;
    size_t maximumNumberOfTouches = static_cast<size_t>(-1);
    static constexpr double kHysteresis = 10;

    Point translationInView(const View* view) const;
    void setTranslation(Point translation, const View* view);
    // Points per second over the last movement; zero when the touches have rested longer than
    // kVelocityWindow before now or before they lifted.
    Point velocityInView(const View* view) const;
    static constexpr double kVelocityWindow = 0.1;

protected:
    void touchesBegan(const TouchSet& touches) override;
    void touchesMoved(const TouchSet& touches) override;
    void touchesEnded(const TouchSet& touches) override;
    void reset() override;

private:
    Point origin_;  // window coordinates where the pan started
    Point offset_;  // translation set by the client
    // The last two centroids (window coordinates) with their times, and when the touches lifted.
    Point last_, previous_;
    double lastTime_ = 0, previousTime_ = 0, endTime_ = -1;
};

// Two touches read as one value (a scale, an angle): the gesture fails or is cancelled when a
// third finger comes, begins once the value has moved past the subclass's hysteresis, reports
// its change per second as it goes, and ends when fewer than two fingers are left.
class TwoFingerGestureRecognizer : public GestureRecognizer {
public:
    using GestureRecognizer::GestureRecognizer;
    double velocity() const { return velocity_; }

protected:
    void touchesBegan(const TouchSet& touches) override;
    void touchesMoved(const TouchSet& touches) override;
    void touchesEnded(const TouchSet& touches) override;

    // The reading now.
    virtual double reading() const = 0;
    // Two fingers are down and the gesture is still possible: take their starting position.
    virtual void fingersDown() = 0;
    // Two fingers moved: bring what the reading depends on up to date; false when it can't be
    // read yet.
    virtual bool fingersMoved() { return true; }
    virtual bool pastHysteresis() const = 0;
    // What velocity is measured from: the reading when the fingers came down or at reset...
    void restartReading(double value, double time) { lastReading_ = value, lastTime_ = time, velocity_ = 0; }
    // ...or a value set by hand, from the same moment.
    void setReading(double value) { lastReading_ = value, velocity_ = 0; }
    // The last value read (or set): what reads while the fingers can't be measured.
    double lastReading() const { return lastReading_; }

private:
    double lastReading_ = 0, lastTime_ = 0, velocity_ = 0;
};

// Two fingers moving apart or together: the scale is their distance now over their distance
// when the pinch began (times the scale set since), the velocity in scale per second.
class PinchGestureRecognizer : public TwoFingerGestureRecognizer {
public:
    using TwoFingerGestureRecognizer::TwoFingerGestureRecognizer;
    std::string className() const override { return "PinchGestureRecognizer"; }
    // How far (points) the fingers' distance must change before the pinch begins.
    static constexpr double kHysteresis = 8;

    double scale() const;
    // Makes the current reading this scale (1 to measure on from here).
    void setScale(double scale);

protected:
    double reading() const override { return scale(); }
    void fingersDown() override;
    bool fingersMoved() override { return base_ > 0; }
    bool pastHysteresis() const override;
    void reset() override;

private:
    double span() const;
    double base_ = 0;  // the fingers' distance that reads as scale 1
    double start_ = 0;
};

// Two fingers turning about each other: the rotation (radians, clockwise positive on the
// screen) since the gesture began plus what was set since, the velocity in radians per second.
class RotationGestureRecognizer : public TwoFingerGestureRecognizer {
public:
    using TwoFingerGestureRecognizer::TwoFingerGestureRecognizer;
    std::string className() const override { return "RotationGestureRecognizer"; }
    // How far (radians) the fingers must turn before the rotation begins.
    static constexpr double kHysteresis = 0.07;

    double rotation() const;
    void setRotation(double radians);

protected:
    double reading() const override { return rotation(); }
    void fingersDown() override;
    // The turn since the start, kept continuous past half a turn.
    bool fingersMoved() override;
    bool pastHysteresis() const override { return std::abs(turned_) > kHysteresis; }
    void reset() override;

private:
    double angle() const;
    double lastAngle_ = 0, turned_ = 0, offset_ = 0;
};

}  // namespace toolkit
