// Timer sources on a queue (scheduled through the scheduler, so a virtual clock steps them) and
// the memory-pressure source.
#include <cmath>
#include <list>

#include "platform/dispatch/internal.h"

namespace dispatch {

// ---- TimerSource

struct TimerSource::State : std::enable_shared_from_this<TimerSource::State> {
    std::mutex mutex;
    QueuePtr queue;
    Block handler;
    Block cancelHandler;
    Seconds startDelay = -1;  // < 0: not set
    bool wallStart = false;
    Seconds interval = 0;
    Seconds leeway = 0;
    bool started = false;
    bool armed = false;
    std::atomic<bool> cancelled{false};
    bool firePending = false;  // a handler block is queued and has not run yet
    uint64_t generation = 0;   // bumped on every re-arm, so a stale scheduler item does nothing
    detail::Scheduler::Key key{};

    // Under the mutex.
    void arm(Seconds when) {
        if (armed) detail::Scheduler::shared().remove(key);
        ++generation;
        armed = true;
        uint64_t gen = generation;
        std::weak_ptr<State> weak = shared_from_this();
        key = detail::Scheduler::shared().add(when, [weak, gen, when] {
            if (auto self = weak.lock()) self->due(gen, when);
        });
    }

    void disarm() {
        if (armed) detail::Scheduler::shared().remove(key);
        armed = false;
        ++generation;
    }

    // On the scheduler's thread (or the thread stepping a virtual clock).
    void due(uint64_t gen, Seconds when) {
        bool post = false;
        {
            std::lock_guard lock(mutex);
            if (gen != generation || cancelled.load()) return;
            armed = false;
            if (interval > 0) {
                Seconds now = clock().now();
                Seconds next = when + interval;
                if (next <= now) next = when + (std::floor((now - when) / interval) + 1) * interval;
                arm(next);
            }
            if (!firePending) {
                firePending = true;
                post = true;
            }
        }
        if (!post) return;
        auto self = shared_from_this();
        queue->async([self] {
            {
                std::lock_guard lock(self->mutex);
                self->firePending = false;
            }
            if (self->cancelled.load()) return;
            if (self->handler) self->handler();
        });
    }
};

TimerSource::TimerSource(QueuePtr queue, Block handler) : state_(std::make_shared<State>()) {
    state_->queue = queue ? std::move(queue) : Queue::global(Priority::Default);
    state_->handler = std::move(handler);
}

TimerSource::~TimerSource() { cancel(); }

void TimerSource::setTimer(Seconds startDelay, Seconds interval, Seconds leeway) {
    auto& s = *state_;
    std::lock_guard lock(s.mutex);
    if (s.cancelled.load()) return;
    s.startDelay = startDelay > 0 ? startDelay : 0;
    s.wallStart = false;
    s.interval = interval > 0 ? interval : 0;
    s.leeway = leeway > 0 ? leeway : 0;
    if (s.started) s.arm(clock().now() + s.startDelay);
}

void TimerSource::setTimerAtWallTime(Seconds wallStart, Seconds interval, Seconds leeway) {
    auto& s = *state_;
    std::lock_guard lock(s.mutex);
    if (s.cancelled.load()) return;
    // Kept as a delay from now: the wall clock may be stepped, the monotonic one is not.
    Seconds delay = wallStart - clock().wallNow();
    s.startDelay = delay > 0 ? delay : 0;
    s.wallStart = true;
    s.interval = interval > 0 ? interval : 0;
    s.leeway = leeway > 0 ? leeway : 0;
    if (s.started) s.arm(clock().now() + s.startDelay);
}

void TimerSource::start() {
    auto& s = *state_;
    std::lock_guard lock(s.mutex);
    if (s.cancelled.load() || s.started) return;
    s.started = true;
    if (s.startDelay >= 0) s.arm(clock().now() + s.startDelay);
}

void TimerSource::cancel() {
    auto& s = *state_;
    Block cancelHandler;
    {
        std::lock_guard lock(s.mutex);
        if (s.cancelled.exchange(true)) return;
        s.disarm();
        cancelHandler = std::move(s.cancelHandler);
    }
    if (cancelHandler) s.queue->async(std::move(cancelHandler));
}

bool TimerSource::isCancelled() const { return state_->cancelled.load(); }

void TimerSource::setCancelHandler(Block handler) {
    std::lock_guard lock(state_->mutex);
    state_->cancelHandler = std::move(handler);
}

// ---- MemoryPressureSource

struct MemoryPressureSource::State {
    QueuePtr queue;
    std::function<void(MemoryPressure)> handler;
    std::atomic<bool> cancelled{false};
};

namespace {
std::mutex gPressureMutex;
std::list<std::weak_ptr<MemoryPressureSource::State>>& pressureSources() {
    static auto* sources = new std::list<std::weak_ptr<MemoryPressureSource::State>>();
    return *sources;
}
}  // namespace

MemoryPressureSource::MemoryPressureSource(QueuePtr queue, std::function<void(MemoryPressure)> handler)
    : state_(std::make_shared<State>()) {
    state_->queue = queue ? std::move(queue) : Queue::main();
    state_->handler = std::move(handler);
    std::lock_guard lock(gPressureMutex);
    pressureSources().push_back(state_);
}

MemoryPressureSource::~MemoryPressureSource() { cancel(); }

void MemoryPressureSource::cancel() {
    if (state_->cancelled.exchange(true)) return;
    std::lock_guard lock(gPressureMutex);
    pressureSources().remove_if([this](const std::weak_ptr<State>& w) {
        auto s = w.lock();
        return !s || s == state_;
    });
}

void MemoryPressureSource::fire(MemoryPressure level) {
    std::vector<std::shared_ptr<State>> live;
    {
        std::lock_guard lock(gPressureMutex);
        for (auto& w : pressureSources())
            if (auto s = w.lock()) live.push_back(std::move(s));
    }
    for (auto& s : live) {
        s->queue->async([s, level] {
            if (!s->cancelled.load() && s->handler) s->handler(level);
        });
    }
}

}  // namespace dispatch
