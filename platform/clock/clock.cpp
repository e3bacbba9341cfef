#include "platform/clock/clock.h"

#include <chrono>
#include <ctime>
#include <mutex>
#include <vector>

namespace clocks {
namespace {

// The latest wallNow() of the real clock.
std::atomic<Seconds> gLatestWall{0};
// Far more than the tick clock ever lags: a larger gap means the wall clock was set back since the
// latest reading, which then no longer bounds the dates.
constexpr Seconds kSetBack = 1.0;

class RealClock final : public Clock {
public:
    Seconds now() const override {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    }
    Seconds wallNow() const override {
        const Seconds t = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
        // Published, so that a dating read after this one is not dated before it.
        Seconds seen = gLatestWall.load(std::memory_order_relaxed);
        while (seen < t &&
               !gLatestWall.compare_exchange_weak(seen, t, std::memory_order_release, std::memory_order_relaxed)) {}
        return t;
    }
    Seconds wallNowForDating() const override { return detail::realWallNowForDating(); }
};

RealClock& realClock() {
    static RealClock* c = new RealClock();  // never destroyed: timer threads may outlive statics
    return *c;
}

struct Observers {
    std::mutex mutex;
    std::vector<void (*)()> list;
};

Observers& observers() {
    static Observers* o = new Observers();
    return *o;
}

}  // namespace

namespace detail {

std::atomic<Clock*> installedClock{nullptr};

// The kernel's tick clock costs a fraction of the exact one but lags it, by more than its
// resolution at times; raised to the latest exact reading, no date read before the call is later.
Seconds realWallNowForDating() {
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME_COARSE, &ts);
    const Seconds coarse = static_cast<Seconds>(ts.tv_sec) + static_cast<Seconds>(ts.tv_nsec) * 1e-9;
    const Seconds seen = gLatestWall.load(std::memory_order_acquire);
    return coarse < seen && seen - coarse <= kSetBack ? seen : coarse;
}

}  // namespace detail

Clock& clock() {
    Clock* c = detail::installedClock.load(std::memory_order_acquire);
    return c ? *c : realClock();
}

void setClock(Clock* c) {
    Clock* old = detail::installedClock.exchange(c, std::memory_order_acq_rel);
    if (old == c) return;
    std::vector<void (*)()> toCall;
    {
        auto& o = observers();
        std::lock_guard lock(o.mutex);
        toCall = o.list;
    }
    for (auto* observer : toCall) observer();
}

void addClockObserver(void (*observer)()) {
    auto& o = observers();
    std::lock_guard lock(o.mutex);
    o.list.push_back(observer);
}

ManualClock::~ManualClock() {
    if (detail::installedClock.load() == this) setClock(nullptr);
}

}  // namespace clocks
