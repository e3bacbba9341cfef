#include "model/memory_cache.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "platform/clock/clock.h"
#include "platform/foundation/dates.h"
#include "platform/foundation/notification_center.h"

namespace {

HXCCacheObject object(int64_t n) { return HXCCachedObject::withValue(foundation::Value(n)); }

// Hook calls in order, recorded from the cache's queue.
struct Recorder {
    std::mutex mutex;
    std::vector<std::string> events;
    void add(std::string e) {
        std::lock_guard lock(mutex);
        events.push_back(std::move(e));
    }
    std::vector<std::string> take() {
        std::lock_guard lock(mutex);
        return std::exchange(events, {});
    }
};

void record(HXCMemoryCache& cache, Recorder& r) {
    cache.setWillAddObjectBlock([&r](HXCMemoryCache&, const std::string& k, const HXCCacheObject& o) {
        r.add("willAdd " + k + (o ? "" : " (none)"));
    });
    cache.setDidAddObjectBlock(
        [&r](HXCMemoryCache&, const std::string& k, const HXCCacheObject&) { r.add("didAdd " + k); });
    cache.setWillRemoveObjectBlock([&r](HXCMemoryCache&, const std::string& k, const HXCCacheObject& o) {
        r.add("willRemove " + k + (o ? "" : " (none)"));
    });
    cache.setDidRemoveObjectBlock([&r](HXCMemoryCache&, const std::string& k, const HXCCacheObject& o) {
        r.add("didRemove " + k + (o ? " (object!)" : ""));
    });
    cache.setWillRemoveAllObjectsBlock([&r](HXCMemoryCache&) { r.add("willRemoveAll"); });
    cache.setDidRemoveAllObjectsBlock([&r](HXCMemoryCache&) { r.add("didRemoveAll"); });
}

std::vector<std::string> keysInOrder(HXCMemoryCache& cache) {
    std::vector<std::string> keys;
    cache.enumerateObjectsWithBlock(
        [&keys](HXCMemoryCache&, const std::string& k, const HXCCacheObject&) { keys.push_back(k); });
    return keys;
}

TEST(HXCMemoryCache, SetReplaceAndRemoveKeepCostsAndHooksInStep) {
    auto cache = HXCMemoryCache::create();
    EXPECT_EQ(cache->ageLimit(), 0);
    EXPECT_EQ(cache->costLimit(), 0u);
    Recorder r;
    record(*cache, r);
    cache->setObject(object(1), "a", 10);
    cache->setObject(object(2), "b", 5);
    EXPECT_EQ(cache->totalCost(), 15u);
    cache->setObject(object(3), "a", 1);  // replaces object, date and cost
    EXPECT_EQ(cache->totalCost(), 6u);
    EXPECT_EQ(cache->objectForKey("a")->value, foundation::Value(3));
    EXPECT_EQ(cache->objectForKey("missing"), nullptr);
    cache->removeObjectForKey("a");
    cache->removeObjectForKey("never");  // hooks run for an absent key too
    EXPECT_EQ(cache->totalCost(), 5u);
    EXPECT_EQ(r.take(),
              (std::vector<std::string>{"willAdd a", "didAdd a", "willAdd b", "didAdd b", "willAdd a", "didAdd a",
                                        "willRemove a", "didRemove a", "willRemove never (none)", "didRemove never"}));
    // Nothing happens, and no completion comes, without an object or a callback.
    std::atomic<bool> called{false};
    cache->setObject(nullptr, "c", [&](HXCMemoryCache&, const std::string&, const HXCCacheObject&) { called = true; });
    cache->setObject(nullptr, "c");
    cache->objectForKey("b", HXCMemoryCache::ObjectBlock());
    EXPECT_EQ(cache->totalCost(), 5u);
    EXPECT_FALSE(called);
}

TEST(HXCMemoryCache, CostTrims) {
    auto cache = HXCMemoryCache::create();
    Recorder r;
    record(*cache, r);
    for (auto [k, c] : std::vector<std::pair<std::string, int>>{{"small", 1}, {"big", 30}, {"mid", 10}})
        cache->setObject(object(c), k, uint64_t(c));
    r.take();
    cache->trimToCost(41);  // at the total: nothing, no hooks
    cache->trimToCost(100);
    EXPECT_TRUE(r.take().empty());
    cache->trimToCost(12);  // most expensive first, until under the limit
    EXPECT_EQ(keysInOrder(*cache), (std::vector<std::string>{"small", "mid"}));
    EXPECT_EQ(cache->totalCost(), 11u);
    // Least recently used first: "mid" is read, so "small" goes.
    cache->objectForKey("mid");
    cache->setObject(object(5), "new", 5);
    cache->trimToCostByDate(15);
    auto keys = keysInOrder(*cache);
    EXPECT_EQ(std::set<std::string>(keys.begin(), keys.end()), (std::set<std::string>{"mid", "new"}));
    // A cost limit trims least recently used entries on every add.
    cache->setCostLimit(12);
    EXPECT_EQ(cache->costLimit(), 12u);
    cache->setObject(object(7), "last", 7);
    EXPECT_LE(cache->totalCost(), 12u);
    EXPECT_TRUE(cache->objectForKey("last"));
}

TEST(HXCMemoryCache, DateTrimsFollowTheLastAccess) {
    dispatch::ScopedVirtualClock clock(1'000'000.0);
    auto cache = HXCMemoryCache::create();
    cache->setObject(object(1), "a");
    clock->advance(10);
    cache->setObject(object(2), "b");
    clock->advance(10);
    cache->setObject(object(3), "c");
    clock->advance(10);
    ASSERT_TRUE(cache->objectForKey("a"));  // "a" is now the most recent
    cache->totalCost();                     // the date refresh is queued behind the read
    EXPECT_EQ(keysInOrder(*cache), (std::vector<std::string>{"b", "c", "a"}));
    // Entries dated exactly at the trim date stay.
    cache->trimToDate(foundation::Date{1'000'020.0});
    EXPECT_EQ(keysInOrder(*cache), (std::vector<std::string>{"c", "a"}));

    Recorder r;
    record(*cache, r);
    std::atomic<bool> called{false};
    cache->trimToDate(std::nullopt, [&](HXCMemoryCache&) { called = true; });
    cache->trimToDate(std::nullopt);  // returns at once
    cache->totalCost();
    EXPECT_FALSE(called);
    // The distant past empties the cache through the remove-all hooks only.
    cache->trimToDate(foundation::distantPast());
    EXPECT_EQ(r.take(), (std::vector<std::string>{"willRemoveAll", "didRemoveAll"}));
    EXPECT_TRUE(keysInOrder(*cache).empty());
}

TEST(HXCMemoryCache, OnTheRealClockAReadIsNeverDatedBeforeItHappened) {
    ASSERT_FALSE(clocks::clock().isVirtual());
    auto cache = HXCMemoryCache::create();
    cache->setObject(object(1), "kept");
    // Reads stamp their entries from a cheaper clock than the exact one: a trim to a date taken
    // just before a read must still keep the entry read.
    for (int round = 0; round < 200; ++round) {
        const foundation::Date before{clocks::wallNow()};
        ASSERT_TRUE(cache->objectForKey("kept"));
        cache->trimToDate(before);
        ASSERT_TRUE(cache->objectForKey("kept")) << "round " << round;
    }
    // A date a second ahead of every access removes it.
    cache->trimToDate(foundation::Date{clocks::wallNow() + 1});
    EXPECT_FALSE(cache->objectForKey("kept"));
}

TEST(HXCMemoryCache, AgeLimitTrimsAgainAndAgain) {
    dispatch::ScopedVirtualClock clock(2'000'000.0);
    auto cache = HXCMemoryCache::create();
    cache->setObject(object(1), "old");
    clock->advance(10);
    cache->setAgeLimit(60);
    EXPECT_EQ(cache->ageLimit(), 60);
    clock->advance(30);
    cache->setObject(object(2), "young");
    clock->advance(31);  // the first repeat trims what is older than 60 s: "old" (71 s), not "young"
    clock->runUntilIdle();
    EXPECT_EQ(keysInOrder(*cache), (std::vector<std::string>{"young"}));
    clock->advance(60);
    clock->runUntilIdle();
    EXPECT_TRUE(keysInOrder(*cache).empty());
    cache->setAgeLimit(0);  // ends the chain
    cache->setObject(object(3), "kept");
    clock->advance(500);
    clock->runUntilIdle();
    EXPECT_EQ(keysInOrder(*cache), (std::vector<std::string>{"kept"}));
}

TEST(HXCMemoryCache, ApplicationNotificationsEmptyItFirst) {
    auto cache = HXCMemoryCache::create();
    cache->setObject(object(1), "a", 3);
    Recorder r;
    dispatch::Semaphore hookRan(0);
    cache->setDidRemoveAllObjectsBlock([&](HXCMemoryCache&) { r.add("emptied"); });
    cache->setDidReceiveMemoryWarningBlock([&](HXCMemoryCache&) {
        r.add("memory warning");
        hookRan.signal();
    });
    cache->setDidEnterBackgroundBlock([&](HXCMemoryCache&) {
        r.add("background");
        hookRan.signal();
    });
    foundation::NotificationCenter::defaultCenter().post(foundation::kApplicationDidReceiveMemoryWarningNotification);
    ASSERT_TRUE(hookRan.wait(10));
    EXPECT_EQ(r.take(), (std::vector<std::string>{"emptied", "memory warning"}));
    EXPECT_EQ(cache->totalCost(), 0u);
    EXPECT_EQ(cache->objectForKey("a"), nullptr);

    // With the flag off, entering the background keeps the entries but still calls the hook.
    cache->setRemoveAllObjectsOnEnteringBackground(false);
    cache->setObject(object(2), "b");
    foundation::NotificationCenter::defaultCenter().post(foundation::kApplicationDidEnterBackgroundNotification);
    ASSERT_TRUE(hookRan.wait(10));
    EXPECT_EQ(r.take(), (std::vector<std::string>{"background"}));
    EXPECT_TRUE(cache->objectForKey("b"));
}

TEST(HXCMemoryCache, ConcurrentReadersAndWritersKeepTheTotals) {
    auto cache = HXCMemoryCache::create();
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([cache, t] {
            std::mt19937 rng{uint32_t(t)};
            for (int i = 0; i < 400; ++i) {
                const std::string key = "k" + std::to_string(rng() % 32);
                const int64_t cost = int64_t(rng() % 100);
                switch (rng() % 4) {
                    case 0:
                        cache->setObject(object(cost), key, uint64_t(cost));
                        break;
                    case 1:
                        cache->removeObjectForKey(key, nullptr);
                        break;
                    case 2:
                        cache->objectForKey(key, [](HXCMemoryCache&, const std::string&, const HXCCacheObject&) {});
                        break;
                    default:
                        cache->setObject(object(cost), key, uint64_t(cost), nullptr);
                        break;
                }
                if (i % 97 == 0) cache->setRemoveAllObjectsOnMemoryWarning(i % 2 == 0);
            }
        });
    }
    for (auto& th : threads) th.join();
    // The objects carry their cost: the total must be their sum.
    int64_t sum = 0;
    cache->enumerateObjectsWithBlock(
        [&sum](HXCMemoryCache&, const std::string&, const HXCCacheObject& o) { sum += o->value.int64Value(); });
    EXPECT_EQ(cache->totalCost(), uint64_t(sum));
}

}  // namespace
