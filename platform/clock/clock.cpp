#include "platform/clock/clock.h"

#include <chrono>
#include <mutex>
#include <vector>

namespace clocks {
namespace {

class RealClock final : public Clock {
public:
    Seconds now() const override {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    }
    Seconds wallNow() const override {
        return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    }
};

RealClock& realClock() {
    static RealClock* c = new RealClock();  // never destroyed: timer threads may outlive statics
    return *c;
}

std::atomic<Clock*> gClock{nullptr};

struct Observers {
    std::mutex mutex;
    std::vector<void (*)()> list;
};

Observers& observers() {
    static Observers* o = new Observers();
    return *o;
}

}  // namespace

Clock& clock() {
    Clock* c = gClock.load(std::memory_order_acquire);
    return c ? *c : realClock();
}

void setClock(Clock* c) {
    Clock* old = gClock.exchange(c, std::memory_order_acq_rel);
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
    if (gClock.load() == this) setClock(nullptr);
}

}  // namespace clocks
