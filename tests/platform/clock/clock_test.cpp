#include "platform/clock/clock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <ctime>
#include <thread>
#include <vector>

namespace {

using clocks::Clock;
using clocks::ManualClock;

// A manual clock the test can move.
class SteppedClock : public ManualClock {
public:
    using ManualClock::ManualClock;
    void moveTo(double t) { setNow(t); }
};

std::atomic<int> gChanges{0};
std::atomic<bool> gSawVirtualOnChange{false};

void countChange() {
    gChanges.fetch_add(1);
    gSawVirtualOnChange.store(clocks::clock().isVirtual());
}

struct ObserverOnce {
    ObserverOnce() { clocks::addClockObserver(countChange); }
};

class ClockTest : public ::testing::Test {
protected:
    void SetUp() override {
        static ObserverOnce once;
        clocks::setClock(nullptr);
        gChanges = 0;
    }
    void TearDown() override { clocks::setClock(nullptr); }
};

TEST_F(ClockTest, TheRealClockIsTheDefaultAndReadsTheSystemTime) {
    Clock& c = clocks::clock();
    EXPECT_FALSE(c.isVirtual());
    double before = static_cast<double>(::time(nullptr));
    double wall = clocks::wallNow();
    double after = static_cast<double>(::time(nullptr));
    // time() reads the kernel's coarse clock, which can turn to the next second a tick before the
    // precise one: allow a second either side.
    EXPECT_GE(wall, before - 1.0);
    EXPECT_LE(wall, after + 1.0);
    double a = c.now();
    double b = c.now();
    EXPECT_LE(a, b);
}

TEST_F(ClockTest, AManualClockMovesMonotonicAndWallTimeTogether) {
    SteppedClock manual(1'000.0);
    EXPECT_FALSE(manual.isInstalled());
    clocks::setClock(&manual);
    ASSERT_TRUE(manual.isInstalled());
    EXPECT_EQ(&clocks::clock(), &manual);
    EXPECT_TRUE(clocks::clock().isVirtual());
    EXPECT_DOUBLE_EQ(clocks::clock().now(), 0.0);
    EXPECT_DOUBLE_EQ(clocks::wallNow(), 1'000.0);
    manual.moveTo(12.5);
    EXPECT_DOUBLE_EQ(clocks::clock().now(), 12.5);
    EXPECT_DOUBLE_EQ(clocks::wallNow(), 1'012.5);
}

TEST_F(ClockTest, ObserversHearEachChangeOnceAndAfterItTookEffect) {
    SteppedClock first;
    SteppedClock second;
    clocks::setClock(&first);
    EXPECT_EQ(gChanges.load(), 1);
    EXPECT_TRUE(gSawVirtualOnChange.load());
    clocks::setClock(&first);  // the same clock again changes nothing
    EXPECT_EQ(gChanges.load(), 1);
    clocks::setClock(&second);
    EXPECT_EQ(gChanges.load(), 2);
    clocks::setClock(nullptr);
    EXPECT_EQ(gChanges.load(), 3);
    EXPECT_FALSE(gSawVirtualOnChange.load());
    clocks::setClock(nullptr);
    EXPECT_EQ(gChanges.load(), 3);
}

TEST_F(ClockTest, DestroyingTheInstalledClockRestoresTheRealOneAndOnlyThat) {
    auto installed = std::make_unique<SteppedClock>();
    {
        SteppedClock bystander;
        clocks::setClock(installed.get());
    }  // a clock that is not installed leaves the process clock alone
    EXPECT_EQ(&clocks::clock(), installed.get());
    int changes = gChanges.load();
    installed.reset();
    EXPECT_FALSE(clocks::clock().isVirtual());
    EXPECT_EQ(gChanges.load(), changes + 1);
}

TEST_F(ClockTest, ReadersOnOtherThreadsSeeOneClockOrTheOther) {
    SteppedClock manual(5.0);
    manual.moveTo(3.0);
    std::atomic<bool> stop{false};
    std::atomic<int> bad{0};
    std::vector<std::thread> readers;
    for (int i = 0; i < 3; ++i) {
        readers.emplace_back([&] {
            while (!stop.load()) {
                Clock& c = clocks::clock();
                if (c.isVirtual() && c.now() != 3.0) bad.fetch_add(1);
            }
        });
    }
    for (int i = 0; i < 2000; ++i) clocks::setClock(i % 2 ? nullptr : &manual);
    stop = true;
    for (auto& t : readers) t.join();
    clocks::setClock(nullptr);
    EXPECT_EQ(bad.load(), 0);
}

// The clock for dating is cheaper than the exact one, but must never date an event before a time
// read from the exact clock earlier (on this thread or one that handed its reading over), nor after
// one read later: a cache read dated before the trim date it followed would be trimmed. The tick
// clock alone fails this within a few rounds, as it lags the exact clock by up to a tick.
TEST_F(ClockTest, TheDatingClockLiesBetweenTheExactReadingsAroundIt) {
    int early = 0, late = 0;
    for (int i = 0; i < 20000; ++i) {
        const double before = clocks::wallNow();
        const double dated = clocks::wallNowForDating();
        const double after = clocks::wallNow();
        if (dated < before) ++early;
        if (dated > after) ++late;
    }
    EXPECT_EQ(early, 0);
    EXPECT_EQ(late, 0);

    // A reading handed from another thread bounds the dates read after it arrived.
    std::atomic<double> handed{0};
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        while (!stop.load()) handed.store(clocks::wallNow(), std::memory_order_release);
    });
    int beforeHanded = 0;
    for (int i = 0; i < 20000; ++i) {
        const double seen = handed.load(std::memory_order_acquire);
        if (clocks::wallNowForDating() < seen) ++beforeHanded;
    }
    stop = true;
    reader.join();
    EXPECT_EQ(beforeHanded, 0);
}

TEST_F(ClockTest, AManualClockDatesWithItsOwnWallTime) {
    SteppedClock manual(2'000.0);
    clocks::setClock(&manual);
    manual.moveTo(0.25);
    EXPECT_DOUBLE_EQ(clocks::wallNowForDating(), 2'000.25);
}

}  // namespace
