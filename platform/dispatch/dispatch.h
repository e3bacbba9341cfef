// The execution layer: clocks, the main run loop, dispatch queues, groups, semaphores and once.
// Everything timed reads the process clock, so tests swap in a VirtualClock and step time.
//
// This header is the contract the rest of the system codes against; the implementation may
// add to it but keeps these declarations.
#pragma once

#include <any>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/clock/clock.h"

namespace dispatch {

using Block = std::function<void()>;
// Seconds, as the platform's time intervals are.
using Seconds = clocks::Seconds;

// ---- Clock (the process clock lives in platform/clock; these are its names here)

using clocks::Clock;
using clocks::clock;
using clocks::setClock;
using clocks::wallNow;

// A clock that only moves when told. While installed, queues and run loops order their delayed
// work by it and nothing waits for real time.
// Its monotonic time starts at 0; its wall time at wallStart and moves with it.
class VirtualClock : public clocks::ManualClock {
public:
    explicit VirtualClock(Seconds wallStart = 1'700'000'000.0) : ManualClock(wallStart) {}
    ~VirtualClock() override;

    // Moves time forward by seconds, firing due timers and delayed work in time order on the
    // threads they belong to (the main run loop's work runs on the calling thread, which must be
    // the main thread), then drains what became ready.
    void advance(Seconds seconds);
    // Runs everything ready now (main queue, run-loop sources, background queues) until nothing
    // is left that can run without time passing.
    void runUntilIdle();
    // Runs ready work and advances time to the next due item until predicate() holds or timeout
    // seconds of virtual time have passed; returns predicate(). While file-descriptor sources are
    // registered and nothing timed is due within the horizon, it also waits for real I/O, up to
    // timeout seconds of real time, so loopback network tests can use it too.
    bool runUntil(const std::function<bool()>& predicate, Seconds timeout);

    // Paced (off unless set): while real I/O is in flight (a socket the run loop waits on, a
    // request out to a server), advance() and runUntil() move time no faster than real time, so
    // that stepping from timer to timer cannot carry a request past its time-out before a late
    // reply could come. Once nothing is in flight, time steps as before. For a program driven on
    // the clock against real servers (the headless run); tests that want a request to time out at
    // once leave it off.
    void setPacedByRealIO(bool paced) { pacedByRealIO_ = paced; }
    bool pacedByRealIO() const { return pacedByRealIO_; }

private:
    // Paced and with real I/O in flight, waits for it, moving time along with real time towards
    // until; true when work ran on the way (what is due may have changed), false once until is
    // reached in real time or nothing is in flight (or unpaced) with the clock left where it was.
    bool keepPaceWithRealIO(Seconds until);

    bool pacedByRealIO_ = false;
};

// setClock installs a clock for the process (nullptr restores the real clock). Tests install a
// VirtualClock before creating the objects under test. Changing the clock discards the timed work
// scheduled under the previous one (delays, timers, delayed performs, timer sources), because
// their deadlines mean nothing on the new clock; queued untimed blocks are kept.

// RAII installation of a virtual clock for a test's scope.
class ScopedVirtualClock {
public:
    explicit ScopedVirtualClock(Seconds wallStart = 1'700'000'000.0) : clock_(wallStart) { setClock(&clock_); }
    ScopedVirtualClock(const ScopedVirtualClock&) = delete;
    ScopedVirtualClock& operator=(const ScopedVirtualClock&) = delete;
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
    // Runs block on the queue and waits for it. Calling it from a serial queue (or the main
    // queue) onto itself is a programming error: it aborts with a message instead of deadlocking.
    // On a concurrent queue a sync from one of its own blocks runs at once (it already holds a
    // reader's place); on a global queue sync always runs on the calling thread.
    virtual void sync(const Block& block) = 0;
    virtual void after(Seconds delay, Block block) = 0;
    // On a concurrent queue the block runs alone: after everything submitted before it and
    // before anything submitted after it. On serial and global queues these are async/sync.
    virtual void barrierAsync(Block block) = 0;
    virtual void barrierSync(const Block& block) = 0;
    // True while the calling thread runs a block of this queue (or of a queue targeting it).
    virtual bool isCurrent() const = 0;

    // sync() for a short read that neither waits on nor checks this queue: on a concurrent queue
    // with no barrier running or pending it runs on the calling thread beside the other readers at
    // the cost of two atomic steps, without a block object (inside, isCurrent() stays false);
    // otherwise it goes through sync().
    template <typename Read>
    void syncRead(Read&& read) {
        if (!tryEnterRead()) {
            sync(Block(std::ref(read)));
            return;
        }
        struct Leave {
            Queue* queue;
            ~Leave() { queue->leaveRead(); }
        } leave{this};
        read();
    }

protected:
    // A reader's place taken without waiting (true), to be given back with leaveRead().
    virtual bool tryEnterRead() { return false; }
    virtual void leaveRead() {}
};

using QueuePtr = std::shared_ptr<Queue>;

// True on the main thread: the thread that first called RunLoop::main() (before that, the thread
// that started the process).
bool isMainThread();

// Worker threads of the pool install an alternate signal stack of this size (0: none), so that a
// handler can still run when a block overflows its stack. Applies to existing workers before their
// next block and to every worker started later; the process's other threads take it through
// installThreadAltStack.
void setWorkerAltStackSize(size_t bytes);
// Gives the calling thread the alternate signal stack of the size above (or takes it away when the
// size went to 0); nothing to do when the thread's stack is already current. Every thread the
// process starts outside the pool (the timer thread, the crash reporter's image indexer) calls it
// before its work, so a stack overflow there is reported like one on a worker.
void installThreadAltStack();

// ---- Timer and memory-pressure sources

// A timer bound to a queue: the handler runs as a block of that queue. A cancel() made from a
// block of the same (serial) queue guarantees no later handler runs. Fires that fall due while
// an earlier handler is still queued are merged into it. Destroying the handle cancels.
class TimerSource {
public:
    TimerSource(QueuePtr queue, Block handler);
    ~TimerSource();
    TimerSource(const TimerSource&) = delete;
    TimerSource& operator=(const TimerSource&) = delete;

    // First fire after startDelay seconds, then every interval seconds (<= 0: fires once).
    // The leeway is the slack the caller tolerates; fires are never early and, with a virtual
    // clock, exactly on time. Re-setting re-arms a started timer.
    void setTimer(Seconds startDelay, Seconds interval, Seconds leeway = 0);
    // As setTimer, with the first fire at a wall-clock time (seconds since 1970).
    void setTimerAtWallTime(Seconds wallStart, Seconds interval, Seconds leeway = 0);
    // Sources are created stopped; start() arms the timer set so far.
    void start();
    void cancel();
    bool isCancelled() const;
    // Runs on the queue once, after cancel().
    void setCancelHandler(Block handler);

    struct State;

private:
    std::shared_ptr<State> state_;
};

enum class MemoryPressure { Normal, Warning, Critical };

// Calls handler on queue each time the process is told of memory pressure. The shell's memory
// warning and tests call MemoryPressureSource::fire.
class MemoryPressureSource {
public:
    MemoryPressureSource(QueuePtr queue, std::function<void(MemoryPressure)> handler);
    ~MemoryPressureSource();
    MemoryPressureSource(const MemoryPressureSource&) = delete;
    MemoryPressureSource& operator=(const MemoryPressureSource&) = delete;
    void cancel();

    // Delivers level to every live source (asynchronously, on their queues).
    static void fire(MemoryPressure level);

    struct State;

private:
    std::shared_ptr<State> state_;
};

// ---- The thread-local dictionary

// Per-thread values by key. Blocks run on the pool start with an empty dictionary: whatever a
// block leaves behind is cleared before the worker's next block.
std::any threadValue(const std::string& key);
// An empty value removes the key.
void setThreadValue(const std::string& key, std::any value);
template <typename T>
std::optional<T> threadValueAs(const std::string& key) {
    std::any v = threadValue(key);
    if (auto* p = std::any_cast<T>(&v)) return *p;
    return std::nullopt;
}

// Sets a thread value for a scope and restores the previous one (or removes the key) on exit,
// so nested scopes and pooled threads never see a value of a scope that has ended.
class ScopedThreadValue {
public:
    ScopedThreadValue(std::string key, std::any value);
    ~ScopedThreadValue();
    ScopedThreadValue(const ScopedThreadValue&) = delete;
    ScopedThreadValue& operator=(const ScopedThreadValue&) = delete;

private:
    std::string key_;
    std::any previous_;
};

// ---- Groups, semaphores, once

// Copies share one group (a block may capture it by value).
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

// Copies share one semaphore, so a block that may outlive its waiter (a wait that timed out)
// captures it by value and stays safe. Waits use real time, also under a virtual clock.
class Semaphore {
public:
    explicit Semaphore(long value = 0);
    ~Semaphore();
    void signal();
    // Waits up to timeout seconds (negative: forever); false on time-out.
    bool wait(Seconds timeout = -1);

private:
    struct State;
    std::shared_ptr<State> state_;
};

// Runs block exactly once per flag, even when several threads race to it.
class OnceFlag {
public:
    OnceFlag();
    ~OnceFlag();
    void call(const Block& block);
    // Re-arms the flag so that the next call runs again.
    void reset();

private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace dispatch
