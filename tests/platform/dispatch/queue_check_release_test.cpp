// The queue checks as a Release build sees them: nothing runs, not even their argument.
#undef HX_QUEUE_CHECKS
#include "platform/dispatch/queue_check.h"

#include <gtest/gtest.h>

namespace {

TEST(QueueCheckRelease, CompilesToNothing) {
    auto queue = dispatch::Queue::serial("cache");
    int evaluated = 0;
    HX_ASSERT_ON_QUEUE((++evaluated, queue));
    HX_ASSERT_OFF_QUEUE((++evaluated, queue));
    queue->sync([&] { HX_ASSERT_OFF_QUEUE((++evaluated, queue)); });
    EXPECT_EQ(evaluated, 0);
}

}  // namespace
