// View animations. Blocks run at once, so every property holds its final value when animate()
// returns; completions run later on the main run loop: at its next turn while animations are
// instant (the default), or after delay + duration on the process clock when animations are timed
// (the window, or a test that steps them on the virtual clock). Every request is recorded for tests.
//
// Timed animations also show on screen: the centre, bounds, alpha and transform a block changes
// are kept as presentation animations, each the difference between the old and the new value
// fading out along its curve (ease in/out, linear or a damped spring), added to the view's model
// value; the renderer draws the presented values, so a view half-way through a push is drawn
// half-way. A display link steps them (dropping the finished ones) while any runs, and sleeps
// otherwise.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/toolkit/geometry.h"

namespace toolkit {

class View;

enum AnimationOption : unsigned {
    kAnimationNone = 0,
    kAnimationAllowUserInteraction = 1u << 1,
    kAnimationBeginFromCurrentState = 1u << 2,
    kAnimationCurveEaseInOut = 0,
    kAnimationCurveEaseIn = 1u << 16,
    kAnimationCurveEaseOut = 2u << 16,
    kAnimationCurveLinear = 3u << 16,
    kAnimationTransitionCrossDissolve = 5u << 20,
    kAnimationTransitionFlipFromLeft = 1u << 20,
};

struct AnimationRecord {
    double duration = 0;
    double delay = 0;
    unsigned options = 0;
    bool spring = false;
    double damping = 0;
    double velocity = 0;
};

class Animations {
public:
    // Instant (completion at the next run-loop turn) or timed (after delay + duration).
    static void setTimed(bool timed);
    static bool timed();
    // Animations are off: blocks run at once and completions run at once too (the platform's
    // "perform without animation").
    static void setEnabled(bool enabled);
    static bool enabled();
    static const std::vector<AnimationRecord>& log();
    static void clearLog();
    // Animations whose completion has not run yet.
    static int running();
};

using Completion = std::function<void(bool finished)>;

void animate(double duration, double delay, unsigned options, const std::function<void()>& animations,
             Completion completion = {});
inline void animate(double duration, const std::function<void()>& animations, Completion completion = {}) {
    animate(duration, 0, kAnimationNone, animations, std::move(completion));
}
void animateSpring(double duration, double delay, double damping, double velocity, unsigned options,
                   const std::function<void()>& animations, Completion completion = {});
// Runs the block with animations off (nested animate calls complete at once).
void performWithoutAnimation(const std::function<void()>& block);

// Schedules completion the way an animation of this length would finish (used by transitions).
void scheduleCompletion(double seconds, std::function<void()> completion);

// ---- Presentation

enum class AnimatedProperty { Center, Bounds, Alpha, Transform, Progress };

// The curve's progress (0 to 1) at a fraction t of the duration: the options' curve, or a spring
// of this damping ratio (1 or more: no overshoot) that comes to rest at the end.
double animationCurve(unsigned options, double t);
double springCurve(double damping, double velocity, double t);

// An animation of a presented value that leaves the model alone: the screen shows the model value
// plus an offset going from `from` to `to` along the curve (centre: x, y; bounds: x, y, width,
// height; transform: a, b, c, d, tx, ty; alpha and progress: [0]). One ending at a zero offset
// is done at its end; one ending elsewhere holds there until removed. It replaces the view's
// earlier ones of the same property (callers start it from what is shown). Nothing happens while
// animations are instant or off.
struct PresentationAnimation {
    AnimatedProperty property = AnimatedProperty::Center;
    std::array<double, 6> from{};
    std::array<double, 6> to{};
    double duration = 0;
    double delay = 0;
    unsigned options = 0;
    bool spring = false;
    double damping = 1;
    double velocity = 0;
};
void addPresentationAnimation(View& view, const PresentationAnimation& animation);
void removePresentationAnimations(const View& view);
// The common ones: a view shown moved by (dx, dy) at first (slideFrom) or at the end (slideTo,
// held until removed) of the duration, and a view faded in from an alpha; ease in and out.
void slideFrom(View& view, double dx, double dy, double duration);
void slideTo(View& view, double dx, double dy, double duration);
void fadeFrom(View& view, double alpha, double duration);

// Whether any presentation animation is running now (false while animations are instant).
bool presentationAnimating();
// Whether this view's presentation differs from its model now.
bool hasPresentationAnimation(const View& view);
// What the screen shows of a view now (its model values when nothing animates it).
Point presentedCenter(const View& view);
Rect presentedBounds(const View& view);
double presentedAlpha(const View& view);
AffineTransform presentedTransform(const View& view);
double presentedValue(const View& view, AnimatedProperty property, double model);

// Display-link steps taken so far: one a frame while presentation animations run.
uint64_t animationFrames();

// The shake of a refused passcode: each view's transform moves it horizontally by -35, 17.5,
// -8.75, ... (halving and turning each 0.08 s step) until the move is under a point, then back to
// identity, then completion.
void shakeHorizontally(const std::vector<std::shared_ptr<View>>& views, std::function<void()> completion = {});

// The activity indicator's turn: which of its eight spokes leads now (one turn a second while
// animations are timed, 0 otherwise so pictures stay the same).
int spinnerPhase();

namespace detail {
extern int gCaptureDepth;
void captureBeforeChange(View& view);
}  // namespace detail
// Views call this before changing an animatable property.
inline void noteAnimatableChange(View& view) {
    if (detail::gCaptureDepth > 0) detail::captureBeforeChange(view);
}

}  // namespace toolkit
