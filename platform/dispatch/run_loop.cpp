// The main run loop: main-queue blocks, next-turn blocks, timed sources (timers, delayed
// performs, display links) ordered by the process clock, and file-descriptor sources polled
// together with an eventfd that other threads write to wake the loop.
#include "platform/dispatch/run_loop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <limits>

#include "platform/dispatch/internal.h"

namespace dispatch {
namespace {

std::atomic<std::thread::id> gMainThread{std::this_thread::get_id()};
std::atomic<bool> gMainBound{false};

bool eligible(RunLoopMode source, RunLoopMode running) {
    if (running == RunLoopMode::Common) running = RunLoopMode::Default;
    return source == RunLoopMode::Common || source == running;
}

// The next fire of a periodic source after `when`, skipping the fires already missed at `now`.
Seconds nextPeriodic(Seconds when, Seconds interval, Seconds now) {
    Seconds next = when + interval;
    if (next <= now) {
        double missed = std::floor((now - when) / interval);
        next = when + (missed + 1) * interval;
        if (next <= now) next += interval;
    }
    return next;
}

}  // namespace

namespace detail {

// Something the run loop fires at a time, in a mode. Its fields are guarded by the loop's mutex.
struct RunLoopSource {
    virtual ~RunLoopSource() = default;
    // Under the loop's lock, after removal from the schedule and before fire(): a periodic
    // source schedules its next fire here.
    virtual void willFire(RunLoop::Impl& loop, Seconds now) = 0;
    // Without the lock.
    virtual void fire(RunLoop::Impl& loop, Seconds when) = 0;
    // Under the lock, when the process clock changes and the schedule is emptied: a delay to be
    // scheduled again after on the new clock, or nothing to be dropped; what the source lets go
    // of goes into released.
    virtual std::optional<Seconds> keepAcrossClockChange(std::vector<std::shared_ptr<void>>& /*released*/) {
        return std::nullopt;
    }

    Seconds when = 0;
    uint64_t sequence = 0;
    RunLoopMode mode = RunLoopMode::Default;
    bool scheduled = false;
};

}  // namespace detail

struct RunLoop::Impl {
    using Key = std::pair<Seconds, uint64_t>;
    struct Fd {
        int fd;
        int events;
        std::shared_ptr<FdHandler> handler;
    };

    std::mutex mutex;
    std::deque<Block> mainQueue;
    std::deque<Block> nextTurn;
    std::atomic<size_t> pending{0};
    std::atomic<bool> dueHint{false};
    std::atomic<uint64_t> served{0};
    std::map<Key, std::shared_ptr<detail::RunLoopSource>> timed;
    std::map<uint64_t, Fd> fds;
    uint64_t nextFdId = 1;
    std::atomic<size_t> fdCount{0};  // descriptors with work in flight (not standing watches)
    int wakeFd = -1;
    std::atomic<bool> sleeping{false};
    std::atomic<bool> stopRequested{false};
    RunLoopMode mode = RunLoopMode::Default;                // main thread only
    std::shared_ptr<std::function<void()>> servedObserver;  // main thread only
    uint64_t observedServed = 0;                            // main thread only

    Impl() {
        wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (wakeFd < 0) detail::fatal("the main run loop cannot create its wake-up descriptor");
        clocks::addClockObserver(detail::runLoopClockChanged);
    }

    static RunLoop& loop() {
        static RunLoop* instance = new RunLoop();  // never destroyed: other threads may post late
        return *instance;
    }
    static Impl& get() { return *loop().impl_; }

    void wake() {
        uint64_t one = 1;
        ssize_t r = ::write(wakeFd, &one, sizeof one);
        (void)r;  // a full counter already means "wake up"
    }
    void wakeIfSleeping() {
        if (sleeping.load()) wake();
    }

    // Under the lock.
    void schedule(const std::shared_ptr<detail::RunLoopSource>& source, Seconds when) {
        if (source->scheduled) unschedule(*source);
        if (std::isnan(when)) when = clock().now();
        source->when = when;
        source->sequence = detail::nextSequence();
        source->scheduled = true;
        timed.emplace(Key{when, source->sequence}, source);
        if (when <= clock().now()) dueHint.store(true);
    }
    // Under the lock; returns the map's reference so the caller can release it outside the lock.
    std::shared_ptr<detail::RunLoopSource> unschedule(detail::RunLoopSource& source) {
        if (!source.scheduled) return nullptr;
        source.scheduled = false;
        auto it = timed.find(Key{source.when, source.sequence});
        if (it == timed.end()) return nullptr;
        auto ref = std::move(it->second);
        timed.erase(it);
        return ref;
    }
    // After scheduling from any thread: the loop may be asleep, or a virtual clock's drain may be
    // waiting for the pool and must look at the main thread again.
    void scheduled() {
        wakeIfSleeping();
        detail::Pool::shared().wakeQuiescenceWaiters();
    }

    bool fireDueSources(RunLoopMode running) {
        bool any = false;
        dueHint.store(false);
        Seconds now = clock().now();
        for (;;) {
            std::shared_ptr<detail::RunLoopSource> source;
            Seconds when;
            {
                std::lock_guard lock(mutex);
                auto it = timed.begin();
                while (it != timed.end() && it->first.first <= now && !eligible(it->second->mode, running)) ++it;
                if (it == timed.end() || it->first.first > now) break;
                source = std::move(it->second);
                when = it->first.first;
                timed.erase(it);
                source->scheduled = false;
                source->willFire(*this, now);
            }
            served.fetch_add(1, std::memory_order_relaxed);
            source->fire(*this, when);
            any = true;
        }
        return any;
    }

    bool runBlocks() {
        bool any = false;
        std::deque<Block> turn;
        size_t count;
        {
            std::lock_guard lock(mutex);
            turn.swap(nextTurn);
            pending.fetch_sub(turn.size());
            count = mainQueue.size();
        }
        for (auto& block : turn) {
            served.fetch_add(1, std::memory_order_relaxed);
            block();
            block = nullptr;
            any = true;
        }
        auto* mainQueueBase = static_cast<detail::QueueBase*>(Queue::main().get());
        // Only the blocks queued before this turn; a nested loop may take some of them.
        for (size_t i = 0; i < count; ++i) {
            Block block;
            {
                std::lock_guard lock(mutex);
                if (mainQueue.empty()) break;
                block = std::move(mainQueue.front());
                mainQueue.pop_front();
                pending.fetch_sub(1);
            }
            served.fetch_add(1, std::memory_order_relaxed);
            {
                detail::FrameScope scope(mainQueueBase);
                block();
            }
            any = true;
        }
        return any;
    }

    bool pollFds(Seconds wait) {
        std::vector<pollfd> pfds;
        std::vector<uint64_t> ids;
        {
            std::lock_guard lock(mutex);
            for (auto& [id, entry] : fds) {
                short events = 0;
                if (entry.events & Readable) events |= POLLIN;
                if (entry.events & Writable) events |= POLLOUT;
                if (!events) continue;
                pfds.push_back(pollfd{entry.fd, events, 0});
                ids.push_back(id);
            }
        }
        pfds.push_back(pollfd{wakeFd, POLLIN, 0});
        int timeoutMs = 0;
        if (wait > 0) {
            sleeping.store(true);
            if (pending.load() > 0 || stopRequested.load() || dueHint.load())
                timeoutMs = 0;
            else
                timeoutMs = wait >= 86400.0 ? 86400 * 1000 : static_cast<int>(std::ceil(wait * 1000.0));
        }
        int r = ::poll(pfds.data(), pfds.size(), timeoutMs);
        sleeping.store(false);
        if (r <= 0) return false;
        bool any = false;
        if (pfds.back().revents) {
            uint64_t value;
            while (::read(wakeFd, &value, sizeof value) > 0) {}
        }
        for (size_t i = 0; i + 1 < pfds.size(); ++i) {
            short re = pfds[i].revents;
            if (!re) continue;
            std::shared_ptr<FdHandler> handler;
            int requested = 0;
            {
                std::lock_guard lock(mutex);
                auto it = fds.find(ids[i]);
                if (it == fds.end() || it->second.fd != pfds[i].fd) continue;  // removed meanwhile
                handler = it->second.handler;
                requested = it->second.events;
                if (re & POLLNVAL) {
                    if (!(requested & Watch)) fdCount.fetch_sub(1);
                    fds.erase(it);
                }
            }
            int events = 0;
            if (re & (POLLIN | POLLPRI)) events |= Readable;
            if (re & POLLOUT) events |= Writable;
            if (re & (POLLERR | POLLHUP | POLLNVAL)) events |= requested & (Readable | Writable);
            served.fetch_add(1, std::memory_order_relaxed);
            if (events && handler && *handler) (*handler)(pfds[i].fd, events);
            any = true;
        }
        return any;
    }

    std::optional<Seconds> nextDeadline(RunLoopMode running) {
        std::lock_guard lock(mutex);
        for (auto& [key, source] : timed)
            if (eligible(source->mode, running)) return key.first;
        return std::nullopt;
    }

    // Tells the observer when work ran since it was last told (it may schedule more: a display link).
    void observeServed() {
        const uint64_t now = served.load(std::memory_order_relaxed);
        if (now == observedServed || !servedObserver) return;
        observedServed = now;
        auto observer = servedObserver;  // the observer may replace itself
        (*observer)();
    }

    // One turn; waits at most `wait` seconds of real time when nothing is ready.
    bool turn(RunLoopMode running, Seconds wait) {
        RunLoopMode saved = mode;
        mode = running;
        bool any = fireDueSources(running);
        any |= runBlocks();
        observeServed();
        if (any || pending.load() > 0) wait = 0;
        if (wait > 0 && !clock().isVirtual()) {
            // A virtual clock's sources come due only by advancing it, never by waiting.
            if (auto next = nextDeadline(running)) wait = std::min(wait, std::max(0.0, *next - clock().now()));
        }
        any |= pollFds(wait);
        if (wait > 0) any |= fireDueSources(running);
        observeServed();
        mode = saved;
        return any;
    }
};

namespace detail {

void mainQueuePush(Block block) {
    auto& loop = RunLoop::Impl::get();
    {
        std::lock_guard lock(loop.mutex);
        loop.mainQueue.push_back(std::move(block));
        loop.pending.fetch_add(1);
    }
    loop.scheduled();
}

bool mainHasReadyWork() {
    auto& loop = RunLoop::Impl::get();
    return loop.pending.load() > 0 || loop.dueHint.load();
}

bool runLoopDrainOnce() { return RunLoop::Impl::get().turn(RunLoopMode::Default, 0); }

std::optional<Seconds> runLoopNextDeadline() { return RunLoop::Impl::get().nextDeadline(RunLoopMode::Default); }

bool runLoopHasFdsInFlight() { return RunLoop::Impl::get().fdCount.load() > 0; }

bool runLoopPollFds(Seconds timeout) { return RunLoop::Impl::get().pollFds(timeout); }

}  // namespace detail

// ---- Timer

struct Timer::State : detail::RunLoopSource {
    Seconds interval = 0;
    bool repeats = false;
    bool valid = true;
    std::shared_ptr<std::function<void(Timer&)>> action;
    TimerPtr self;  // the loop's reference while valid

    void willFire(RunLoop::Impl& loop, Seconds now) override {
        if (repeats && valid) loop.schedule(selfState(), nextPeriodic(when, interval, now));
    }
    void fire(RunLoop::Impl& loop, Seconds) override {
        TimerPtr timer;
        std::shared_ptr<std::function<void(Timer&)>> act;
        {
            std::lock_guard lock(loop.mutex);
            if (!valid) return;
            timer = self;
            act = action;
        }
        if (act && *act) (*act)(*timer);
        if (!repeats) {
            TimerPtr released;
            std::shared_ptr<std::function<void(Timer&)>> releasedAction;
            {
                std::lock_guard lock(loop.mutex);
                if (scheduled || !valid) return;  // re-armed by setFireDate, or invalidated
                valid = false;
                released = std::move(self);
                releasedAction = std::move(action);
            }
        }
    }
    std::shared_ptr<State> selfState() { return self ? self->state_ : nullptr; }
    std::optional<Seconds> keepAcrossClockChange(std::vector<std::shared_ptr<void>>& released) override {
        valid = false;
        released.push_back(std::move(self));
        released.push_back(std::move(action));
        return std::nullopt;
    }
};

TimerPtr Timer::scheduled(Seconds interval, bool repeats, std::function<void(Timer&)> fire, RunLoopMode mode) {
    if (!(interval > 0)) interval = 0;
    if (repeats && interval < 0.0001) interval = 0.0001;  // a zero period would never let the loop turn
    auto timer = std::make_shared<Timer>();
    auto state = std::make_shared<State>();
    state->interval = interval;
    state->repeats = repeats;
    state->mode = mode;
    state->action = std::make_shared<std::function<void(Timer&)>>(std::move(fire));
    state->self = timer;
    timer->state_ = state;
    auto& loop = RunLoop::Impl::get();
    {
        std::lock_guard lock(loop.mutex);
        loop.schedule(state, clock().now() + interval);
    }
    loop.scheduled();
    return timer;
}

void Timer::invalidate() {
    auto state = state_;
    if (!state) return;
    auto& loop = RunLoop::Impl::get();
    TimerPtr released;
    std::shared_ptr<detail::RunLoopSource> ref;
    std::shared_ptr<std::function<void(Timer&)>> action;
    {
        std::lock_guard lock(loop.mutex);
        if (!state->valid) return;
        state->valid = false;
        ref = loop.unschedule(*state);
        released = std::move(state->self);
        action = std::move(state->action);
    }
    // The timer and its closure may go here; nothing of `this` is touched afterwards.
}

bool Timer::isValid() const {
    if (!state_) return false;
    std::lock_guard lock(RunLoop::Impl::get().mutex);
    return state_->valid;
}

void Timer::fire() {
    auto state = state_;
    if (!state) return;
    auto& loop = RunLoop::Impl::get();
    std::shared_ptr<std::function<void(Timer&)>> act;
    {
        std::lock_guard lock(loop.mutex);
        if (!state->valid) return;
        act = state->action;
    }
    TimerPtr keep = shared_from_this();
    if (act && *act) (*act)(*this);
    if (!state->repeats) invalidate();
}

Seconds Timer::fireDate() const {
    if (!state_) return 0;
    std::lock_guard lock(RunLoop::Impl::get().mutex);
    return state_->when;
}

void Timer::setFireDate(Seconds when) {
    auto state = state_;
    if (!state) return;
    auto& loop = RunLoop::Impl::get();
    {
        std::lock_guard lock(loop.mutex);
        if (!state->valid) return;
        loop.schedule(state, when);
    }
    loop.scheduled();
}

Seconds Timer::interval() const { return state_ ? state_->interval : 0; }

// ---- Delayed performs

namespace {

struct PerformSource : detail::RunLoopSource {
    std::shared_ptr<void> strongTarget;
    std::weak_ptr<void> weakTarget;
    bool isWeak = false;
    const void* target = nullptr;
    std::string selector;
    foundation::Value argument;
    std::function<void(const foundation::Value&)> action;

    void willFire(RunLoop::Impl&, Seconds) override {}
    void fire(RunLoop::Impl&, Seconds) override {
        std::shared_ptr<void> keep = isWeak ? weakTarget.lock() : strongTarget;
        if (isWeak && !keep) return;  // the target is gone: nothing to perform on
        if (action) action(argument);
    }
};

}  // namespace

void RunLoop::perform(const std::shared_ptr<void>& target, const std::string& selector,
                      const foundation::Value& argument, Seconds delay,
                      std::function<void(const foundation::Value&)> action, bool weakTarget) {
    auto source = std::make_shared<PerformSource>();
    source->target = target.get();
    source->isWeak = weakTarget && target;
    if (source->isWeak)
        source->weakTarget = target;
    else
        source->strongTarget = target;
    source->selector = selector;
    source->argument = argument;
    source->action = std::move(action);
    source->mode = RunLoopMode::Default;
    if (!(delay > 0)) delay = 0;
    {
        std::lock_guard lock(impl_->mutex);
        impl_->schedule(source, clock().now() + delay);
    }
    impl_->scheduled();
}

void RunLoop::cancelPerform(const void* target, const std::string& selector, const foundation::Value& argument) {
    std::vector<std::shared_ptr<detail::RunLoopSource>> cancelled;  // released outside the lock
    std::lock_guard lock(impl_->mutex);
    for (auto it = impl_->timed.begin(); it != impl_->timed.end();) {
        auto* p = dynamic_cast<PerformSource*>(it->second.get());
        if (p && p->target == target && p->selector == selector && p->argument == argument) {
            p->scheduled = false;
            cancelled.push_back(std::move(it->second));
            it = impl_->timed.erase(it);
        } else {
            ++it;
        }
    }
    // `cancelled` is declared before the guard, so it is destroyed after the unlock.
}

void RunLoop::cancelPerforms(const void* target) {
    std::vector<std::shared_ptr<detail::RunLoopSource>> cancelled;
    std::lock_guard lock(impl_->mutex);
    for (auto it = impl_->timed.begin(); it != impl_->timed.end();) {
        auto* p = dynamic_cast<PerformSource*>(it->second.get());
        if (p && p->target == target) {
            p->scheduled = false;
            cancelled.push_back(std::move(it->second));
            it = impl_->timed.erase(it);
        } else {
            ++it;
        }
    }
}

// ---- The loop

RunLoop::RunLoop() : impl_(std::make_unique<Impl>()) {}

RunLoop& RunLoop::main() {
    RunLoop& loop = Impl::loop();
    bool expected = false;
    if (gMainBound.compare_exchange_strong(expected, true)) gMainThread.store(std::this_thread::get_id());
    return loop;
}

bool isMainThread() { return gMainThread.load() == std::this_thread::get_id(); }

namespace {
void requireMain(const char* what) {
    if (!isMainThread()) {
        std::string message = std::string("RunLoop::") + what + " must be called on the main thread";
        detail::fatal(message.c_str());
    }
}
}  // namespace

void RunLoop::run() {
    requireMain("run");
    while (!impl_->stopRequested.exchange(false)) impl_->turn(RunLoopMode::Default, 86400.0);
}

void RunLoop::stop() {
    impl_->stopRequested.store(true);
    impl_->wake();
}

void RunLoop::runOnce(Seconds timeout) { runOnceInMode(RunLoopMode::Default, timeout); }

void RunLoop::runOnceInMode(RunLoopMode mode, Seconds timeout) {
    requireMain("runOnce");
    if (!(timeout > 0)) timeout = 0;
    impl_->turn(mode, timeout);
}

RunLoopMode RunLoop::currentMode() const { return impl_->mode; }

uint64_t RunLoop::served() const { return impl_->served.load(std::memory_order_relaxed); }

void RunLoop::setServedObserver(std::function<void()> observer) {
    requireMain("setServedObserver");
    impl_->servedObserver = observer ? std::make_shared<std::function<void()>>(std::move(observer)) : nullptr;
    impl_->observedServed = impl_->served.load(std::memory_order_relaxed);
}

void RunLoop::performAtNextTurn(Block block) {
    {
        std::lock_guard lock(impl_->mutex);
        impl_->nextTurn.push_back(std::move(block));
        impl_->pending.fetch_add(1);
    }
    impl_->scheduled();
}

uint64_t RunLoop::addFd(int fd, int events, FdHandler handler) {
    uint64_t id;
    {
        std::lock_guard lock(impl_->mutex);
        id = impl_->nextFdId++;
        impl_->fds.emplace(id, Impl::Fd{fd, events, std::make_shared<FdHandler>(std::move(handler))});
        if (!(events & Watch)) impl_->fdCount.fetch_add(1);
    }
    impl_->wakeIfSleeping();
    return id;
}

void RunLoop::updateFd(uint64_t id, int events) {
    {
        std::lock_guard lock(impl_->mutex);
        auto it = impl_->fds.find(id);
        if (it == impl_->fds.end()) return;
        bool wasWatch = it->second.events & Watch, isWatch = events & Watch;
        if (wasWatch && !isWatch) impl_->fdCount.fetch_add(1);
        if (!wasWatch && isWatch) impl_->fdCount.fetch_sub(1);
        it->second.events = events;
    }
    impl_->wakeIfSleeping();
}

void RunLoop::removeFd(uint64_t id) {
    std::shared_ptr<FdHandler> handler;  // released outside the lock
    {
        std::lock_guard lock(impl_->mutex);
        auto it = impl_->fds.find(id);
        if (it == impl_->fds.end()) return;
        handler = std::move(it->second.handler);
        if (!(it->second.events & Watch)) impl_->fdCount.fetch_sub(1);
        impl_->fds.erase(it);
    }
    impl_->wakeIfSleeping();
}

// ---- DisplayLink

struct DisplayLink::State : detail::RunLoopSource {
    std::shared_ptr<std::function<void(Seconds)>> callback;
    int fps = 60;
    bool paused = false;
    bool valid = true;
    Seconds lastTimestamp = 0;
    std::weak_ptr<State> weakSelf;

    Seconds period() const { return 1.0 / fps; }
    // A display link belongs to a view, not to the test that ran before the clock changed.
    std::optional<Seconds> keepAcrossClockChange(std::vector<std::shared_ptr<void>>&) override {
        if (valid && !paused) return period();
        return std::nullopt;
    }
    void willFire(RunLoop::Impl& loop, Seconds now) override {
        if (valid && !paused) loop.schedule(weakSelf.lock(), nextPeriodic(when, period(), now));
    }
    void fire(RunLoop::Impl& loop, Seconds frameTime) override {
        std::shared_ptr<std::function<void(Seconds)>> cb;
        {
            std::lock_guard lock(loop.mutex);
            if (!valid || paused) return;
            lastTimestamp = frameTime;
            cb = callback;
        }
        if (cb && *cb) (*cb)(frameTime);
    }
};

DisplayLink::DisplayLink(std::function<void(Seconds)> callback, int preferredFramesPerSecond, RunLoopMode mode)
    : state_(std::make_shared<State>()) {
    state_->callback = std::make_shared<std::function<void(Seconds)>>(std::move(callback));
    state_->fps = preferredFramesPerSecond > 0 ? preferredFramesPerSecond : 60;
    state_->mode = mode;
    state_->weakSelf = state_;
    auto& loop = RunLoop::Impl::get();
    {
        std::lock_guard lock(loop.mutex);
        loop.schedule(state_, clock().now() + state_->period());
    }
    loop.scheduled();
}

DisplayLink::~DisplayLink() { invalidate(); }

void DisplayLink::setPaused(bool paused) {
    auto& loop = RunLoop::Impl::get();
    std::shared_ptr<detail::RunLoopSource> ref;
    {
        std::lock_guard lock(loop.mutex);
        if (!state_->valid || state_->paused == paused) return;
        state_->paused = paused;
        if (paused)
            ref = loop.unschedule(*state_);
        else
            loop.schedule(state_, clock().now() + state_->period());
    }
    loop.scheduled();
}

bool DisplayLink::isPaused() const {
    std::lock_guard lock(RunLoop::Impl::get().mutex);
    return state_->paused;
}

void DisplayLink::setPreferredFramesPerSecond(int fps) {
    auto& loop = RunLoop::Impl::get();
    {
        std::lock_guard lock(loop.mutex);
        state_->fps = fps > 0 ? fps : 60;
        if (state_->scheduled) loop.schedule(state_, clock().now() + state_->period());
    }
    loop.scheduled();
}

int DisplayLink::preferredFramesPerSecond() const {
    std::lock_guard lock(RunLoop::Impl::get().mutex);
    return state_->fps;
}

Seconds DisplayLink::timestamp() const {
    std::lock_guard lock(RunLoop::Impl::get().mutex);
    return state_->lastTimestamp;
}

void DisplayLink::invalidate() {
    auto& loop = RunLoop::Impl::get();
    std::shared_ptr<detail::RunLoopSource> ref;
    std::shared_ptr<std::function<void(Seconds)>> callback;
    std::lock_guard lock(loop.mutex);
    if (!state_->valid) return;
    state_->valid = false;
    ref = loop.unschedule(*state_);
    callback = std::move(state_->callback);
    // ref and callback are released after the guard (declared before it).
}

namespace detail {

void runLoopClockChanged() {
    auto& loop = RunLoop::Impl::get();
    std::vector<std::shared_ptr<RunLoopSource>> dropped;
    std::vector<std::shared_ptr<void>> released;
    {
        std::lock_guard lock(loop.mutex);
        std::map<RunLoop::Impl::Key, std::shared_ptr<RunLoopSource>> old;
        old.swap(loop.timed);
        for (auto& [key, source] : old) {
            source->scheduled = false;
            if (auto delay = source->keepAcrossClockChange(released)) {
                loop.schedule(source, clock().now() + *delay);
                continue;
            }
            dropped.push_back(std::move(source));
        }
    }
    loop.scheduled();
}

}  // namespace detail
}  // namespace dispatch
