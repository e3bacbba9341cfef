#include "platform/dispatch/queue_check.h"

#include <gtest/gtest.h>

#include <atomic>

#include "platform/dispatch/run_loop.h"

using namespace dispatch;

#if defined(HX_QUEUE_CHECKS) && HX_QUEUE_CHECKS

namespace {

class QueueCheckTest : public ::testing::Test {
protected:
    QueueCheckTest() { RunLoop::main(); }
    ScopedVirtualClock clock;
};

TEST_F(QueueCheckTest, PassesWhereTheQueueRunsTheCaller) {
    auto serial = Queue::serial("cache");
    auto readers = Queue::concurrent("readers");
    auto inner = Queue::serial("inner", serial);
    std::atomic<int> checked{0};
    // sync runs the block on the caller's thread, still as a block of the queue.
    serial->sync([&] {
        HX_ASSERT_ON_QUEUE(serial);
        ++checked;
    });
    serial->async([&] {
        HX_ASSERT_ON_QUEUE(serial);
        HX_ASSERT_OFF_QUEUE(readers);
        ++checked;
    });
    readers->async([&] {
        HX_ASSERT_ON_QUEUE(readers);
        ++checked;
    });
    readers->barrierAsync([&] {
        HX_ASSERT_ON_QUEUE(readers);
        ++checked;
    });
    // A queue runs inside its target's blocks, so both own the work.
    inner->async([&] {
        HX_ASSERT_ON_QUEUE(inner);
        HX_ASSERT_ON_QUEUE(serial);
        ++checked;
    });
    TimerSource timer(serial, [&] {
        HX_ASSERT_ON_QUEUE(serial);
        ++checked;
    });
    timer.setTimer(1, 0);
    timer.start();
    clock->advance(1);
    clock->runUntilIdle();
    EXPECT_EQ(checked.load(), 6);
    // Off every queue: the waiting side's check holds, and a null queue is nobody's.
    HX_ASSERT_OFF_QUEUE(serial);
    QueuePtr none;
    HX_ASSERT_ON_QUEUE(none);
    HX_ASSERT_OFF_QUEUE(none);
}

TEST_F(QueueCheckTest, AbortsNamingTheFunctionAndTheQueue) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto serial = Queue::serial("cache");
    auto other = Queue::serial("other");
    auto inner = Queue::serial("inner", serial);
    EXPECT_DEATH(HX_ASSERT_ON_QUEUE(serial),
                 "TestBody \\(.*queue_check_test.cpp:[0-9]+\\) ran off its queue \"cache\"");
    EXPECT_DEATH(other->sync([&] { HX_ASSERT_ON_QUEUE(serial); }), "ran off its queue \"cache\"");
    EXPECT_DEATH(serial->sync([&] { HX_ASSERT_OFF_QUEUE(serial); }), "would wait on its own queue \"cache\"");
    // The target's own block is not a block of the queue that targets it.
    EXPECT_DEATH(serial->sync([&] { HX_ASSERT_ON_QUEUE(inner); }), "ran off its queue \"inner\"");
}

}  // namespace

#else

// A release build compiles the checks out, so there is nothing to test there.
TEST(QueueCheck, CompiledOutInRelease) { GTEST_SKIP() << "queue checks are off in release builds"; }

#endif
