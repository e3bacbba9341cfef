// The process clock: what "now" means for every timer, delay and date. A leaf below foundation
// and dispatch, so that both read the same time and neither needs the other for it.
// Tests install a clock that only moves when told (dispatch's VirtualClock builds on ManualClock).
#pragma once

#include <atomic>

namespace clocks {

// Seconds, as the platform's time intervals are.
using Seconds = double;

class Clock {
public:
    virtual ~Clock() = default;
    // Monotonic seconds since an arbitrary origin; drives timers and delays.
    virtual Seconds now() const = 0;
    // Wall-clock seconds since 1970 (what dates are made of).
    virtual Seconds wallNow() const = 0;
    // Wall-clock seconds for dating frequent events (a cache's reads): never later than wallNow()
    // at the same moment and never earlier than any wallNow() that happened before the call, but
    // cheaper, so readings a few milliseconds apart may be equal.
    virtual Seconds wallNowForDating() const { return wallNow(); }
    virtual bool isVirtual() const { return false; }
};

// The clock every timer, delay and date in the process reads. Real by default.
Clock& clock();
// Seconds since 1970 from the process clock (what "now" means for dates).
inline Seconds wallNow() { return clock().wallNow(); }
namespace detail {
extern std::atomic<Clock*> installedClock;
Seconds realWallNowForDating();
}  // namespace detail
// Inline: a cache dates every read with it.
inline Seconds wallNowForDating() {
    Clock* c = detail::installedClock.load(std::memory_order_acquire);
    return c ? c->wallNowForDating() : detail::realWallNowForDating();
}

// Installs clock for the process (nullptr restores the real clock) and, when that changes the
// clock, tells the observers: the timed work they hold was ordered by the previous clock.
void setClock(Clock* clock);

// Called after every change of the process clock, on the thread that changed it. Observers are
// added once (by the schedulers of timed work when they are first made) and never removed.
void addClockObserver(void (*observer)());

// A clock that only moves when told: monotonic time from 0, wall time from wallStart, moving
// together. Destroying an installed one restores the real clock.
class ManualClock : public Clock {
public:
    explicit ManualClock(Seconds wallStart = 1'700'000'000.0) : wallStart_(wallStart) {}
    ~ManualClock() override;
    ManualClock(const ManualClock&) = delete;
    ManualClock& operator=(const ManualClock&) = delete;

    Seconds now() const override { return now_.load(std::memory_order_acquire); }
    Seconds wallNow() const override { return wallStart_ + now(); }
    bool isVirtual() const override { return true; }

    // Whether this is the process clock now.
    bool isInstalled() const { return &clock() == this; }

protected:
    void setNow(Seconds now) { now_.store(now, std::memory_order_release); }

private:
    std::atomic<double> now_{0};
    Seconds wallStart_;
};

}  // namespace clocks
