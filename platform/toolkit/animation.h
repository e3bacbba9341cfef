// View animations. Blocks run at once, so every property holds its final value when animate()
// returns; completions run later on the main run loop: at its next turn while animations are
// instant (the default), or after delay + duration on the process clock when a test asks for
// timed animations to watch what happens in between. Every request is recorded for tests.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace toolkit {

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

}  // namespace toolkit
