// The execution layer: clocks, the main run loop, dispatch queues, groups, semaphores and once.
// Everything timed reads the process clock, so tests swap in a VirtualClock and step time.
//
// This header is the contract the rest of the system codes against; the implementation may
// add to it but keeps these declarations.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace dispatch {

using Block = std::function<void()>;
// Seconds, as the platform's time intervals are.
using Seconds = double;

// ---- Clock

class Clock {
public:
    virtual ~Clock() = default;
    // Monotonic seconds since an arbitrary origin; drives timers and delays.
    virtual Seconds now() const = 0;
    // Wall-clock seconds since 1970 (what dates are made of).
    virtual Seconds wallNow() const = 0;
    virtual bool isVirtual() const { return false; }
};

// The clock every timer, delay and date in the process reads. Real by default.
Clock& clock();
// Seconds since 1970 from the process clock (what "now" means for dates).
inline Seconds wallNow() { return clock().wallNow(); }

// A clock that only moves when told. While installed, queues and run loops order their delayed
// work by it and nothing waits for real time.
class VirtualClock : public Clock {
public:
    explicit VirtualClock(Seconds wallStart = 1'700'000'000.0);
    ~VirtualClock() override;
    Seconds now() const override;
    Seconds wallNow() const override;
    bool isVirtual() const override { return true; }

    // Moves time forward by seconds, firing due timers and delayed work in time order on the
    // threads they belong to (the main run loop's work runs on the calling thread, which must be
    // the main thread), then drains what became ready.
    void advance(Seconds seconds);
    // Runs everything ready now (main queue, run-loop sources, background queues) until nothing
    // is left that can run without time passing.
    void runUntilIdle();
    // Runs ready work and advances time to the next due item until predicate() holds or timeout
    // seconds of virtual time have passed; returns predicate().
    bool runUntil(const std::function<bool()>& predicate, Seconds timeout);

private:
    struct State;
    std::unique_ptr<State> state_;
};

// Installs clock for the process (nullptr restores the real clock). Tests install a
// VirtualClock before creating the objects under test.
void setClock(Clock* clock);

// RAII installation of a virtual clock for a test's scope.
class ScopedVirtualClock {
public:
    explicit ScopedVirtualClock(Seconds wallStart = 1'700'000'000.0) { setClock(&clock_); }
    ~ScopedVirtualClock() { setClock(nullptr); }
    VirtualClock& operator*() { return clock_; }
    VirtualClock* operator->() { return &clock_; }

private:
    VirtualClock clock_;
};

// ---- Queues

enum class Priority { Background, Low, Utility, Default, High };

class Queue : public std::enable_shared_from_this<Queue> {
public:
    virtual ~Queue() = default;

    // A serial queue: one block at a time, in submission order.
    static std::shared_ptr<Queue> serial(std::string label, std::shared_ptr<Queue> target = nullptr);
    // A concurrent queue: blocks run in parallel on the pool; barriers run alone.
    static std::shared_ptr<Queue> concurrent(std::string label, std::shared_ptr<Queue> target = nullptr);
    // The main queue, drained by the main run loop.
    static std::shared_ptr<Queue> main();
    // The process-wide concurrent queue of a priority.
    static std::shared_ptr<Queue> global(Priority priority = Priority::Default);
    // The queue whose block is running on this thread, or nullptr.
    static std::shared_ptr<Queue> current();

    virtual const std::string& label() const = 0;
    virtual void async(Block block) = 0;
    // Runs block on the queue and waits for it. Calling it from the queue itself is a
    // programming error (asserted), not a silent deadlock.
    virtual void sync(const Block& block) = 0;
    virtual void after(Seconds delay, Block block) = 0;
    virtual void barrierAsync(Block block) = 0;
    virtual void barrierSync(const Block& block) = 0;
    // True while the calling thread runs a block of this queue (or of a queue targeting it).
    virtual bool isCurrent() const = 0;
};

using QueuePtr = std::shared_ptr<Queue>;

bool isMainThread();

// ---- Groups, semaphores, once

class Group {
public:
    Group();
    ~Group();
    void enter();
    void leave();
    void async(const QueuePtr& queue, Block block);
    // Runs block on queue once every entered piece of work has left (at once when none is out).
    void notify(const QueuePtr& queue, Block block);
    // Waits up to timeout seconds (negative: forever); true when all work finished.
    bool wait(Seconds timeout = -1);

private:
    struct State;
    std::shared_ptr<State> state_;
};

class Semaphore {
public:
    explicit Semaphore(long value = 0);
    ~Semaphore();
    void signal();
    // Waits up to timeout seconds (negative: forever); false on time-out.
    bool wait(Seconds timeout = -1);

private:
    struct State;
    std::unique_ptr<State> state_;
};

// Runs block exactly once per flag, even when several threads race to it.
class OnceFlag {
public:
    void call(const Block& block);
    // Re-arms the flag so that the next call runs again.
    void reset();

private:
    struct State;
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

}  // namespace dispatch
