// Internals shared by the dispatch layer's files: the worker pool, the scheduler of delayed work,
// the per-thread stack of running queues and the main run loop's hooks. Not for other folders.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/dispatch/dispatch.h"

namespace dispatch::detail {

[[noreturn]] void fatal(const char* message);

// A process-wide order for everything timed, so that items due at the same instant keep the
// order in which they were scheduled, across the run loop and the scheduler.
uint64_t nextSequence();

class QueueBase;

// The queues whose blocks run on this thread, innermost first (a queue targeting another runs
// inside a block of its target).
struct Frame {
    const QueueBase* queue;
    Frame* previous;
};
Frame*& currentFrame();

class FrameScope {
public:
    explicit FrameScope(const QueueBase* queue) : frame_{queue, currentFrame()} { currentFrame() = &frame_; }
    ~FrameScope() { currentFrame() = frame_.previous; }
    FrameScope(const FrameScope&) = delete;
    FrameScope& operator=(const FrameScope&) = delete;

private:
    Frame frame_;
};

bool onQueue(const QueueBase* queue);
// True where the process may run on one processor only (looked up once): spinning there only
// holds off the thread being waited for.
bool oneProcessor();
// Clears what a block left in the thread-local dictionary (pool workers, between blocks).
void clearThreadValues();

class QueueBase : public Queue {
public:
    // The queue whose threads run this one's blocks; nullptr for the roots (main and global).
    virtual QueueBase* target() const { return nullptr; }
    // True where one block at a time runs (serial and main): waiting on such a queue from one of
    // its own blocks can never end.
    virtual bool exclusive() const { return false; }
    // The pool priority of a global queue; nothing for the others.
    virtual std::optional<Priority> rootPriority() const { return std::nullopt; }
    const std::string& label() const override { return label_; }
    bool isCurrent() const override;
    // Called by the pool for the jobs this queue submitted.
    virtual void drain() {}
    virtual void itemDone(bool /*barrier*/) {}
    // How many times a drain of this queue looked for blocks its producers published (serial
    // queues; for tests).
    virtual uint64_t drainLooks() const { return 0; }

protected:
    explicit QueueBase(std::string label) : label_(std::move(label)) {}
    // Aborts when a sync onto this queue from the current thread could never start.
    void checkSyncAllowed(const char* what) const;

private:
    std::string label_;
};

// A unit of work for the pool.
struct Job {
    enum Kind : uint8_t { Run, Drain, Item, BarrierItem };
    Block block;
    std::shared_ptr<QueueBase> keep;  // keeps a non-global queue alive while its job waits
    QueueBase* queue = nullptr;
    Kind kind = Run;
};

// The worker threads behind every queue but the main one. Ready jobs wait in one FIFO per
// priority; workers take the highest priority first.
// A FIFO over one growing ring buffer: no allocation once warm, unlike a deque's chunks, which
// are allocated by the producing thread and freed by the consuming one for every few blocks.
template <typename T>
class Ring {
public:
    bool empty() const { return count_ == 0; }
    size_t size() const { return count_; }
    T& front() { return buffer_[head_]; }
    void push_back(T value) {
        if (count_ == buffer_.size()) grow();
        buffer_[(head_ + count_) & (buffer_.size() - 1)] = std::move(value);
        ++count_;
    }
    void push_front(T value) {
        if (count_ == buffer_.size()) grow();
        head_ = (head_ + buffer_.size() - 1) & (buffer_.size() - 1);
        buffer_[head_] = std::move(value);
        ++count_;
    }
    // Exchanges the contents (and the buffers) of two rings: no block is moved.
    void swap(Ring& other) noexcept {
        buffer_.swap(other.buffer_);
        std::swap(head_, other.head_);
        std::swap(count_, other.count_);
    }
    T pop_front() {
        T value = std::move(buffer_[head_]);
        buffer_[head_] = T();
        head_ = (head_ + 1) & (buffer_.size() - 1);
        --count_;
        return value;
    }

private:
    void grow() {
        std::vector<T> bigger(buffer_.empty() ? 16 : buffer_.size() * 2);
        for (size_t i = 0; i < count_; ++i) bigger[i] = std::move(buffer_[(head_ + i) & (buffer_.size() - 1)]);
        buffer_.swap(bigger);
        head_ = 0;
    }
    std::vector<T> buffer_;
    size_t head_ = 0;
    size_t count_ = 0;
};

inline void cpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

// Spins for condition() until it holds or about `limit` has passed; true if it came to hold.
template <typename Condition>
bool spinUntil(Condition condition, std::chrono::nanoseconds limit) {
    auto until = std::chrono::steady_clock::now() + limit;
    for (int i = 1;; ++i) {
        if (condition()) return true;
        cpuRelax();
        if (i % 16 == 0 && std::chrono::steady_clock::now() > until) return condition();
    }
}

// The same, testing condition() only about every `every`: where it reads what another processor
// is writing, each test takes the cache line away from the writer.
template <typename Condition>
bool spinUntil(Condition condition, std::chrono::nanoseconds limit, std::chrono::nanoseconds every) {
    const auto start = std::chrono::steady_clock::now();
    for (auto now = start, next = start;;) {
        if (now >= next) {
            if (condition()) return true;
            if (now - start > limit) return false;
            next = now + every;
        }
        cpuRelax();
        now = std::chrono::steady_clock::now();
    }
}

// How long an idle thread looks for more work before it sleeps. Looking pays while work comes in
// bursts of small blocks (a producer that finds a thread looking needs no wake-up call, and the
// thread no sleep); it is waste where work comes now and then, as in an app that sits idle, which
// must not keep a processor busy. So each look that finds nothing halves the next one, down to a
// couple of microseconds, and each one that finds work doubles it again, up to 50.
class SpinBudget {
public:
    template <typename Condition>
    bool spin(Condition condition) {
        const int64_t limit = limitNs_.load(std::memory_order_relaxed);
        const bool found = spinUntil(condition, std::chrono::nanoseconds(limit));
        limitNs_.store(found ? std::min(limit * 2, kMaxNs) : std::max(limit / 2, kMinNs), std::memory_order_relaxed);
        return found;
    }
    int64_t limitNs() const { return limitNs_.load(std::memory_order_relaxed); }
    static constexpr int64_t kMinNs = 2'000;
    static constexpr int64_t kMaxNs = 50'000;

private:
    std::atomic<int64_t> limitNs_{kMaxNs};
};

class Pool {
public:
    static Pool& shared();
    void submit(Priority priority, Job job);

    // Blocks until no job is ready or running (blocked workers do not count), or until
    // interrupted() holds; woken by wakeQuiescenceWaiters().
    void waitQuiescent(const std::function<bool()>& interrupted);
    void wakeQuiescenceWaiters();
    bool isQuiescent();

    // Accounting for a worker that blocks in a wait: it stops counting as running (so a waiter
    // for quiescence is not held up), and a spare thread starts when ready work would otherwise
    // find no thread. reactivate() is called by whoever releases the waiter, before the waiter
    // runs again, so the worker counts as running without a gap.
    void deactivate();
    void reactivate();
    static bool onWorkerThread();
    bool hasReadyWork() const { return readyHint_.load(std::memory_order_relaxed) > 0; }

    void setAltStackSize(size_t bytes);

    // What the pool holds now (for its tests and benchmarks).
    struct Counts {
        size_t threads = 0;   // started and not yet gone, whatever they do
        size_t starting = 0;  // started but not yet looking for work
        size_t idle = 0;
        size_t blocked = 0;
        size_t target = 0;
        size_t looking = 0;  // idle but looking for work before they sleep (a processor each)
        uint64_t looks = 0;  // times an idle worker looked for work, since the pool began
    };
    Counts counts();
    // How long a worker beyond the target may sleep without work before it leaves.
    void setIdleLimit(std::chrono::nanoseconds limit);
    // Runs on every new worker before it looks for work (tests hold workers there, as a busy
    // processor would); an empty function removes it.
    void setWorkerStartHookForTesting(std::function<void()> hook);

private:
    Pool();
    void startThread();
    void workerLoop();
    void spinForWork();
    void run(Job& job);

    std::mutex mutex_;
    std::condition_variable workAvailable_;
    std::condition_variable quiescent_;
    Ring<Job> ready_[5];
    size_t readyCount_ = 0;
    size_t running_ = 0;
    size_t idle_ = 0;
    size_t pendingWakes_ = 0;  // notified sleepers that have not woken yet
    size_t spinners_ = 0;      // idle workers still looking for work before they sleep
    uint64_t looks_ = 0;       // times a worker did (for tests)
    static constexpr size_t kMaxSpinners = 2;
    // The processors the process may run on: workers running or looking for work leave one of
    // them to the thread that makes the work.
    size_t processors_ = 1;
    bool mayLookForWorkLocked() const;
    SpinBudget spin_;
    std::atomic<size_t> readyHint_{0};  // readyCount_, readable without the lock
    size_t threads_ = 0;
    size_t starting_ = 0;  // counted in threads_, not yet in the worker loop: each will take work
    size_t blocked_ = 0;
    std::chrono::nanoseconds idleLimit_ = std::chrono::seconds(10);
    std::function<void()> startHook_;
    size_t targetThreads_;
    size_t maxThreads_;
    std::atomic<int> quiescenceWaiters_{0};
};

// A waiter record that lets blocked pool workers hand their "running" count over to whoever
// wakes them (semaphores, groups and sync all wait through it).
class Waiter {
public:
    Waiter();
    // Waits until released or timeout seconds of real time (negative: forever); true if released.
    bool wait(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, Seconds timeout);
    // Called with the owner's lock held.
    void release();
    bool released() const { return released_; }

private:
    bool released_ = false;
    bool deactivated_ = false;
    bool onWorker_;
};

// Delayed work off the main run loop: queue `after` and timer sources. With the real clock a
// timer thread posts items when due; with a virtual clock VirtualClock::advance posts them.
class Scheduler {
public:
    using Key = std::pair<Seconds, uint64_t>;
    static Scheduler& shared();
    // post runs on the timer thread (or the thread advancing a virtual clock): it must only hand
    // work to a queue.
    Key add(Seconds when, Block post);
    bool remove(const Key& key);
    std::optional<Seconds> nextDeadline();
    // Posts every item due at or before now, in time order; returns how many.
    size_t fireDue(Seconds now);
    void clockChanged();

private:
    Scheduler();
    void timerLoop();
    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<Key, Block> items_;
    bool threadStarted_ = false;
};

// The main run loop's side of the clock and the main queue.
void mainQueuePush(Block block);
bool mainHasReadyWork();
// One pass over ready main-thread work without waiting; true if anything ran.
bool runLoopDrainOnce();
std::optional<Seconds> runLoopNextDeadline();
// True while a descriptor other than a standing watch is registered (work in flight).
bool runLoopHasFdsInFlight();
// Waits up to timeout real seconds for file-descriptor events and handles them; true if any.
bool runLoopPollFds(Seconds timeout);
void runLoopClockChanged();

}  // namespace dispatch::detail
