// The scheduler of delayed work off the main thread, and the virtual clock's stepping of time
// through the run loop, the scheduler and the pool. The process clock itself is platform/clock.
#include <algorithm>
#include <cmath>

#include "platform/dispatch/internal.h"

namespace dispatch {
namespace {

void notifyScheduler() { detail::Scheduler::shared().clockChanged(); }

}  // namespace

namespace detail {

// ---- Scheduler

Scheduler& Scheduler::shared() {
    static Scheduler* s = new Scheduler();  // never destroyed: its thread may outlive statics
    return *s;
}

Scheduler::Scheduler() { clocks::addClockObserver(notifyScheduler); }

Scheduler::Key Scheduler::add(Seconds when, Block post) {
    Key key{when, nextSequence()};
    bool notify;
    {
        std::lock_guard lock(mutex_);
        items_.emplace(key, std::move(post));
        if (!threadStarted_) {
            threadStarted_ = true;
            std::thread([this] { timerLoop(); }).detach();
        }
        notify = items_.begin()->first == key;
    }
    if (notify) changed_.notify_all();
    return key;
}

bool Scheduler::remove(const Key& key) {
    Block victim;
    {
        std::lock_guard lock(mutex_);
        auto it = items_.find(key);
        if (it == items_.end()) return false;
        victim = std::move(it->second);
        items_.erase(it);
    }
    return true;  // victim's captures are released outside the lock
}

std::optional<Seconds> Scheduler::nextDeadline() {
    std::lock_guard lock(mutex_);
    if (items_.empty()) return std::nullopt;
    return items_.begin()->first.first;
}

size_t Scheduler::fireDue(Seconds now) {
    std::vector<Block> due;
    {
        std::lock_guard lock(mutex_);
        while (!items_.empty() && items_.begin()->first.first <= now) {
            due.push_back(std::move(items_.begin()->second));
            items_.erase(items_.begin());
        }
    }
    for (auto& post : due) post();
    return due.size();
}

void Scheduler::clockChanged() {
    std::map<Key, Block> dropped;
    {
        std::lock_guard lock(mutex_);
        dropped.swap(items_);
    }
    changed_.notify_all();
}

void Scheduler::timerLoop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        Clock& c = clock();
        if (items_.empty() || c.isVirtual()) {
            changed_.wait(lock);
            continue;
        }
        Seconds now = c.now();
        Seconds when = items_.begin()->first.first;
        if (when > now) {
            auto wait = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                std::chrono::duration<double>(when - now));
            changed_.wait_until(lock, std::chrono::steady_clock::now() + wait);
            continue;
        }
        std::vector<Block> due;
        while (!items_.empty() && items_.begin()->first.first <= now) {
            due.push_back(std::move(items_.begin()->second));
            items_.erase(items_.begin());
        }
        lock.unlock();
        installThreadAltStack();  // the size may have been set since the thread last ran posts
        for (auto& post : due) post();
        due.clear();
        lock.lock();
    }
}

}  // namespace detail

// ---- VirtualClock

VirtualClock::~VirtualClock() {
    if (isInstalled()) setClock(nullptr);
}

namespace {

std::optional<Seconds> earliestDeadline() {
    auto a = detail::runLoopNextDeadline();
    auto b = detail::Scheduler::shared().nextDeadline();
    if (!a) return b;
    if (!b) return a;
    return std::min(*a, *b);
}

void requireMainThread(const char* what) {
    if (!isMainThread()) {
        std::string message = std::string("VirtualClock::") + what + " must be called on the main thread";
        detail::fatal(message.c_str());
    }
}

}  // namespace

void VirtualClock::runUntilIdle() {
    if (!isInstalled()) return;
    requireMainThread("runUntilIdle");
    for (;;) {
        bool progress = false;
        if (detail::Scheduler::shared().fireDue(now()) > 0) progress = true;
        while (detail::runLoopDrainOnce()) progress = true;
        auto& pool = detail::Pool::shared();
        if (!pool.isQuiescent()) {
            pool.waitQuiescent([] { return detail::mainHasReadyWork(); });
            progress = true;
        } else if (detail::mainHasReadyWork()) {
            progress = true;  // posted by a block that finished after the drain above looked
        } else if (auto due = detail::Scheduler::shared().nextDeadline(); due && *due <= now()) {
            progress = true;  // armed at "now" by a block that has finished
        }
        if (!progress) return;
    }
}

void VirtualClock::advance(Seconds seconds) {
    if (!(seconds > 0)) seconds = 0;  // also NaN
    Seconds target = now() + seconds;
    if (!isInstalled()) {
        setNow(target);
        return;
    }
    requireMainThread("advance");
    runUntilIdle();
    for (;;) {
        auto next = earliestDeadline();
        const bool beyond = !next || *next > target;
        if (keepPaceWithRealIO(beyond ? target : *next)) continue;
        if (beyond) break;
        if (*next > now()) setNow(*next);
        runUntilIdle();
    }
    setNow(target);
    runUntilIdle();
}

bool VirtualClock::keepPaceWithRealIO(Seconds until) {
    if (!pacedByRealIO_ || !(until > now())) return false;
    const auto realStart = std::chrono::steady_clock::now();
    const Seconds from = now();
    const auto reached = [&] {
        const double real = std::chrono::duration<double>(std::chrono::steady_clock::now() - realStart).count();
        return std::min(until, from + real);
    };
    while (detail::runLoopHasFdsInFlight()) {
        const Seconds at = reached();
        if (at >= until) return false;
        if (detail::runLoopPollFds(std::min(until - at, 0.05)) || detail::mainHasReadyWork()) {
            // Time has passed while the reply was out: the clock has gone that far too.
            if (const Seconds later = reached(); later > now()) setNow(later);
            runUntilIdle();
            return true;
        }
    }
    return false;
}

bool VirtualClock::runUntil(const std::function<bool()>& predicate, Seconds timeout) {
    if (!(timeout > 0)) timeout = 0;
    Seconds deadline = now() + timeout;
    if (!isInstalled()) return predicate();
    requireMainThread("runUntil");
    auto realStart = std::chrono::steady_clock::now();
    auto realElapsed = [&] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - realStart).count();
    };
    runUntilIdle();
    for (;;) {
        if (predicate()) return true;
        if (detail::runLoopHasFdsInFlight() && realElapsed() < timeout) {
            // Real I/O in flight first: stepping virtual time past it would fire its time-outs early.
            // Standing watches (the network-change listener) hold nothing back. Work posted to the
            // main queue meanwhile (from another thread, say) runs as it comes: the poll does not
            // wait while it is pending, so skipping it here would spin until the time-out.
            if (detail::runLoopPollFds(0.05) || detail::mainHasReadyWork()) {
                runUntilIdle();
                continue;
            }
        }
        auto next = earliestDeadline();
        if (next && *next <= deadline) {
            if (keepPaceWithRealIO(*next)) continue;
            if (*next > now()) setNow(*next);
            runUntilIdle();
            continue;
        }
        if (detail::runLoopHasFdsInFlight() && realElapsed() < timeout) continue;
        break;
    }
    if (now() < deadline) setNow(deadline);
    runUntilIdle();
    return predicate();
}

}  // namespace dispatch
