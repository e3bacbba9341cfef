#include "platform/toolkit/animation.h"

#include <memory>

#include "platform/dispatch/run_loop.h"
#include "platform/toolkit/main_thread.h"

namespace toolkit {

namespace {
bool gTimed = false;
int gDisabled = 0;
int gRunning = 0;
std::vector<AnimationRecord>& records() {
    static std::vector<AnimationRecord> r;
    return r;
}
}  // namespace

void Animations::setTimed(bool timed) { gTimed = timed; }
bool Animations::timed() { return gTimed; }
void Animations::setEnabled(bool enabled) { gDisabled = enabled ? 0 : 1; }
bool Animations::enabled() { return gDisabled == 0; }
const std::vector<AnimationRecord>& Animations::log() { return records(); }
void Animations::clearLog() { records().clear(); }
int Animations::running() { return gRunning; }

void scheduleCompletion(double seconds, std::function<void()> completion) {
    ++gRunning;
    auto done = [completion = std::move(completion)] {
        --gRunning;
        if (completion) completion();
    };
    if (gTimed && seconds > 0)
        dispatch::Timer::scheduled(
            seconds, false, [done](dispatch::Timer&) { done(); }, dispatch::RunLoopMode::Common);
    else
        dispatch::RunLoop::main().performAtNextTurn(done);
}

namespace {
void run(const AnimationRecord& rec, const std::function<void()>& animations, Completion completion) {
    TK_MAIN_THREAD("animate");
    if (animations) animations();
    if (gDisabled) {
        if (completion) completion(true);
        return;
    }
    records().push_back(rec);
    scheduleCompletion(rec.delay + rec.duration, [completion = std::move(completion)] {
        if (completion) completion(true);
    });
}
}  // namespace

void animate(double duration, double delay, unsigned options, const std::function<void()>& animations,
             Completion completion) {
    run({duration, delay, options, false, 0, 0}, animations, std::move(completion));
}

void animateSpring(double duration, double delay, double damping, double velocity, unsigned options,
                   const std::function<void()>& animations, Completion completion) {
    run({duration, delay, options, true, damping, velocity}, animations, std::move(completion));
}

void performWithoutAnimation(const std::function<void()>& block) {
    ++gDisabled;
    block();
    --gDisabled;
}

}  // namespace toolkit
