#include "platform/foundation/thread_annotations.h"

#include <gtest/gtest.h>

#include <thread>
#include <type_traits>
#include <vector>

namespace {

// The analysis-aware lock guard stands in for the standard one, so it must lock like it.
TEST(AnnotatedMutex, LockGuardExcludesOtherThreads) {
    foundation::Mutex mutex;
    int64_t counter = 0;
    constexpr int kThreads = 4, kRounds = 20000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < kRounds; ++i) {
                std::lock_guard lock(mutex);
                // A read and a separate write: lost updates show when the guard does not exclude.
                int64_t seen = counter;
                counter = seen + 1;
            }
        });
    for (auto& t : threads) t.join();
    std::lock_guard lock(mutex);
    EXPECT_EQ(counter, int64_t{kThreads} * kRounds);
}

// Hands-on locking that the analysis cannot follow (a lock taken in one thread and tested in
// another, a recursive mutex taken twice) is the point of these two, so they are not analysed.
void releaseAtScopeEndAndAdopt() HX_NO_THREAD_SAFETY_ANALYSIS {
    foundation::Mutex mutex;
    {
        std::lock_guard lock(mutex);
        static_assert(std::is_same_v<decltype(lock), std::lock_guard<foundation::Mutex>>);
        std::thread([&] { EXPECT_FALSE(mutex.try_lock()); }).join();
    }
    ASSERT_TRUE(mutex.try_lock());
    { std::lock_guard adopted(mutex, std::adopt_lock); }
    std::thread([&] {
        if (mutex.try_lock())
            mutex.unlock();
        else
            ADD_FAILURE() << "the adopted lock was not released";
    }).join();
}

void reenterRecursiveMutex() HX_NO_THREAD_SAFETY_ANALYSIS {
    foundation::RecursiveMutex mutex;
    std::lock_guard outer(mutex);
    {
        std::lock_guard inner(mutex);
        std::thread([&] { EXPECT_FALSE(mutex.try_lock()); }).join();
    }
    // Still held once by this thread after the inner guard.
    std::thread([&] { EXPECT_FALSE(mutex.try_lock()); }).join();
}

TEST(AnnotatedMutex, GuardReleasesAtScopeEndAndAdoptsAHeldLock) { releaseAtScopeEndAndAdopt(); }

TEST(AnnotatedMutex, RecursiveMutexReenters) { reenterRecursiveMutex(); }

}  // namespace
