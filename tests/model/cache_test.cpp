#include "model/cache.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "platform/foundation/dates.h"
#include "platform/foundation/files.h"
#include "platform/foundation/notification_center.h"
#include "tests/support/test_support.h"

namespace {

namespace files = foundation::files;

HXCCacheObject picture(uint8_t fill) { return HXCCachedObject::withData(foundation::Data(4096, fill)); }

double mtimeOf(const std::filesystem::path& p) {
    struct stat st {};
    EXPECT_EQ(::stat(p.c_str(), &st), 0) << p;
    return double(st.st_mtim.tv_sec) + st.st_mtim.tv_nsec / 1e9;
}

TEST(HXCCache, BothLevelsAndTheirCompletion) {
    hxtest::TempDir root;
    auto cache = HXCCache::create(std::string("Pics"), root.path());
    ASSERT_TRUE(cache);
    EXPECT_FALSE(HXCCache::create(std::nullopt, root.path()));
    EXPECT_EQ(cache->description().rfind("com.hxconnect.HXCCache.Pics.0x", 0), 0u);
    EXPECT_EQ(cache->diskCache()->cacheURL(), root.path() / "com.hxconnect.HXCDiskCache.Pics");

    // The completion runs on the cache's queue once both levels have the object.
    dispatch::Semaphore done(0);
    std::atomic<bool> onQueue{false};
    cache->setObject(picture(1), "+15551234567", [&](HXCCache& c, const std::string& key, const HXCCacheObject& o) {
        onQueue = c.queue()->isCurrent() && key == "+15551234567" && o != nullptr;
        done.signal();
    });
    ASSERT_TRUE(done.wait(10));
    EXPECT_TRUE(onQueue);
    EXPECT_TRUE(cache->memoryCache()->objectForKey("+15551234567"));
    EXPECT_TRUE(cache->diskCache()->fileURLForKey("+15551234567"));
    EXPECT_GT(cache->diskByteCount(), 0u);

    cache->setObject(picture(2), "Fav-7");
    cache->removeObjectForKey("Fav-7");
    EXPECT_FALSE(cache->memoryCache()->objectForKey("Fav-7"));
    EXPECT_FALSE(cache->diskCache()->fileURLForKey("Fav-7"));
    EXPECT_EQ(cache->objectForKey("Fav-7"), nullptr);

    // Nothing, and no completion, without an object, a callback or a date.
    std::atomic<bool> called{false};
    cache->setObject(nullptr, "x", [&](HXCCache&, const std::string&, const HXCCacheObject&) { called = true; });
    cache->trimToDate(std::nullopt, [&](HXCCache&) { called = true; });
    cache->trimToDate(std::nullopt);
    cache->objectForKey("x", HXCCache::ObjectBlock());
    (void)cache->diskByteCount();
    EXPECT_FALSE(called);

    cache->removeAllObjects();
    EXPECT_EQ(cache->diskByteCount(), 0u);
    EXPECT_EQ(cache->objectForKey("+15551234567"), nullptr);
}

TEST(HXCCache, AfterARestartDiskFeedsMemory) {
    hxtest::TempDir root;
    {
        auto first = HXCCache::create(std::string("Restart"), root.path());
        first->setObject(picture(7), "att-1_ORIGINAL");
    }
    auto cache = HXCCache::create(std::string("Restart"), root.path());
    EXPECT_EQ(cache->memoryCache()->objectForKey("att-1_ORIGINAL"), nullptr);
    auto found = cache->objectForKey("att-1_ORIGINAL");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->value.asData(), foundation::Data(4096, 7));
    // The copy into memory is queued before the completion: it is there for the next lookup.
    EXPECT_TRUE(cache->memoryCache()->objectForKey("att-1_ORIGINAL"));
    // A memory warning empties only the memory level.
    foundation::NotificationCenter::defaultCenter().post(foundation::kApplicationDidReceiveMemoryWarningNotification);
    EXPECT_EQ(cache->memoryCache()->totalCost(), 0u);
    EXPECT_EQ(cache->memoryCache()->objectForKey("att-1_ORIGINAL"), nullptr);
    EXPECT_TRUE(cache->objectForKey("att-1_ORIGINAL"));
}

TEST(HXCCache, AMemoryHitStillTouchesTheFile) {
    dispatch::ScopedVirtualClock clock(1'600'000'000.0);
    hxtest::TempDir root;
    auto cache = HXCCache::create(std::string("Touch"), root.path());
    cache->setObject(picture(3), "thumb");
    const auto file = *cache->diskCache()->fileURLForKey("thumb");
    clock->advance(3600);
    ASSERT_TRUE(cache->objectForKey("thumb"));  // served from memory
    (void)cache->diskByteCount();               // the touch is queued before this read
    EXPECT_DOUBLE_EQ(mtimeOf(file), 1'600'003'600.0);
    // So a date trim of both levels keeps it.
    cache->trimToDate(foundation::Date{1'600'000'001.0});
    EXPECT_TRUE(cache->objectForKey("thumb"));
    cache->trimToDate(foundation::distantPast());
    EXPECT_EQ(cache->objectForKey("thumb"), nullptr);
    EXPECT_EQ(cache->diskByteCount(), 0u);
}

// The shared cache is made once per process, in the home the process has then: the test looks at
// it in a process of its own (another test of this binary may have made it in its own home).
TEST(HXCCache, SharedCacheLivesInTheCachesFolder) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    hxtest::TempDir home;
    EXPECT_EXIT(
        {
            foundation::setHomeDirectory(home.path());
            auto shared = HXCCache::sharedCache();
            const bool ok = shared && shared == HXCCache::sharedCache() && shared->name() == "HXCCacheShared" &&
                            shared->diskCache()->cacheURL() ==
                                foundation::cachesDirectory() / "com.hxconnect.HXCDiskCache.HXCCacheShared";
            if (ok) shared->setObject(picture(9), "k");
            const bool written = ok && files::exists(shared->diskCache()->cacheURL() / "k");
            std::fprintf(stderr, "%s\n", written ? "kept in the caches folder" : "elsewhere");
            std::_Exit(written ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "kept in the caches folder");
}

TEST(HXCCache, ConcurrentUseFromManyThreads) {
    hxtest::TempDir root;
    auto cache = HXCCache::create(std::string("Stress"), root.path());
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 40; ++i) {
                const std::string key = "k" + std::to_string((i + t) % 10);
                if (i % 3 == 0) {
                    cache->setObject(picture(uint8_t(t)), key);
                } else if (i % 7 == 0) {
                    cache->removeObjectForKey(key, nullptr);
                } else if (auto o = cache->objectForKey(key)) {
                    if (o->value.asData().size() != 4096) ++wrong;
                }
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(wrong, 0);
    auto disk = cache->diskCache();
    uint64_t sum = 0;
    for (const auto& [k, v] : disk->sizes()) sum += v;
    EXPECT_EQ(cache->diskByteCount(), sum);
}

}  // namespace
