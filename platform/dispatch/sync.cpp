// Groups, semaphores and once-flags. Waits go through detail::Waiter so that a pool worker that
// blocks hands its place to a spare thread and does not hold up a virtual clock's drain.
#include <list>

#include "platform/dispatch/internal.h"

namespace dispatch {

// ---- Semaphore

struct Semaphore::State {
    std::mutex mutex;
    std::condition_variable cv;
    long value = 0;
    std::list<detail::Waiter*> waiters;
};

Semaphore::Semaphore(long value) : state_(std::make_shared<State>()) { state_->value = value; }
Semaphore::~Semaphore() = default;

void Semaphore::signal() {
    // The waiter it wakes may return and destroy the semaphore before the notify below: the state
    // lives on until this call is done with it.
    const auto state = state_;
    auto& s = *state;
    {
        std::lock_guard lock(s.mutex);
        if (s.waiters.empty()) {
            ++s.value;
            return;
        }
        // Hand the count straight to the oldest waiter, so a late waiter cannot take it first.
        detail::Waiter* w = s.waiters.front();
        s.waiters.pop_front();
        w->release();
    }
    s.cv.notify_all();
}

bool Semaphore::wait(Seconds timeout) {
    auto& s = *state_;
    std::unique_lock lock(s.mutex);
    if (s.value > 0) {
        --s.value;
        return true;
    }
    if (timeout == 0) return false;
    detail::Waiter waiter;
    auto it = s.waiters.insert(s.waiters.end(), &waiter);
    bool got = waiter.wait(lock, s.cv, timeout);
    if (!got) s.waiters.erase(it);
    return got;
}

// ---- Group

struct Group::State {
    std::mutex mutex;
    std::condition_variable cv;
    long outstanding = 0;
    std::vector<std::pair<QueuePtr, Block>> notifications;
    std::list<detail::Waiter*> waiters;
};

Group::Group() : state_(std::make_shared<State>()) {}
Group::~Group() = default;

void Group::enter() {
    std::lock_guard lock(state_->mutex);
    ++state_->outstanding;
}

void Group::leave() {
    const auto state = state_;  // as in Semaphore::signal: a released waiter may destroy the group
    auto& s = *state;
    std::vector<std::pair<QueuePtr, Block>> due;
    {
        std::lock_guard lock(s.mutex);
        if (s.outstanding <= 0) detail::fatal("Group::leave without a matching enter");
        if (--s.outstanding > 0) return;
        due.swap(s.notifications);
        for (auto* w : s.waiters) w->release();
        s.waiters.clear();
    }
    s.cv.notify_all();
    for (auto& [queue, block] : due) queue->async(std::move(block));
}

void Group::async(const QueuePtr& queue, Block block) {
    enter();
    Group group = *this;
    queue->async([group, block = std::move(block)]() mutable {
        block();
        block = nullptr;  // its captures go before the group may report completion
        group.leave();
    });
}

void Group::notify(const QueuePtr& queue, Block block) {
    {
        std::lock_guard lock(state_->mutex);
        if (state_->outstanding > 0) {
            state_->notifications.emplace_back(queue, std::move(block));
            return;
        }
    }
    queue->async(std::move(block));
}

bool Group::wait(Seconds timeout) {
    auto& s = *state_;
    std::unique_lock lock(s.mutex);
    if (s.outstanding == 0) return true;
    if (timeout == 0) return false;
    detail::Waiter waiter;
    auto it = s.waiters.insert(s.waiters.end(), &waiter);
    bool done = waiter.wait(lock, s.cv, timeout);
    if (!done) s.waiters.erase(it);
    return done;
}

// ---- OnceFlag

struct OnceFlag::State {
    std::mutex mutex;
    std::atomic<bool> done{false};
    std::atomic<std::thread::id> runner{};
};

OnceFlag::OnceFlag() : state_(std::make_shared<State>()) {}
OnceFlag::~OnceFlag() = default;

void OnceFlag::call(const Block& block) {
    auto& s = *state_;
    if (s.done.load(std::memory_order_acquire)) return;
    if (s.runner.load() == std::this_thread::get_id()) detail::fatal("OnceFlag::call re-entered from its own block");
    std::lock_guard lock(s.mutex);
    if (s.done.load(std::memory_order_relaxed)) return;
    s.runner.store(std::this_thread::get_id());
    block();
    s.runner.store(std::thread::id());
    s.done.store(true, std::memory_order_release);
}

void OnceFlag::reset() {
    auto& s = *state_;
    if (s.runner.load() == std::this_thread::get_id()) {
        // Re-armed from inside its own block: the block that runs now still counts as the once.
        return;
    }
    std::lock_guard lock(s.mutex);
    s.done.store(false, std::memory_order_release);
}

}  // namespace dispatch
