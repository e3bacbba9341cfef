#include "model/disk_cache.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <fstream>
#include <numeric>
#include <random>
#include <set>
#include <thread>

#include "platform/foundation/application.h"
#include "platform/foundation/dates.h"
#include "platform/foundation/files.h"
#include "platform/graphics/image.h"
#include "tests/support/test_support.h"

namespace {

namespace files = foundation::files;

HXCCacheObject bytes(size_t n, uint8_t fill) { return HXCCachedObject::withData(foundation::Data(n, fill)); }

// The allocated size and modification time as stat(2) reports them.
struct Stat {
    uint64_t allocated;
    double mtime;
};
Stat statOf(const std::filesystem::path& p) {
    struct stat st {};
    EXPECT_EQ(::stat(p.c_str(), &st), 0) << p;
    return {uint64_t(st.st_blocks) * 512, double(st.st_mtim.tv_sec) + st.st_mtim.tv_nsec / 1e9};
}

std::vector<std::string> keysInOrder(HXCDiskCache& cache) {
    std::vector<std::string> keys;
    cache.enumerateObjectsWithBlock(
        [&keys](HXCDiskCache&, const std::string& k, const HXCCacheObject& o, const HXCDiskCache::FileURL&) {
            EXPECT_EQ(o, nullptr);  // enumeration does not read objects
            keys.push_back(k);
        });
    return keys;
}

uint64_t sumOfSizes(HXCDiskCache& cache) {
    uint64_t sum = 0;
    for (const auto& [k, v] : cache.sizes()) sum += v;
    return sum;
}

TEST(HXCDiskCache, FileNamesAreEscapedAndInjective) {
    EXPECT_EQ(HXCDiskCache::encodedString("a.b:c/d"), "a%2Eb%3Ac%2Fd");
    EXPECT_EQ(HXCDiskCache::encodedString("with space \xC3\xA9t\xC3\xA9"), "with space \xC3\xA9t\xC3\xA9");
    EXPECT_EQ(HXCDiskCache::encodedString("+15551234567_ORIGINAL"), "+15551234567_ORIGINAL");
    // "%" is escaped too, so a key that spells an escape keeps a file of its own.
    EXPECT_EQ(HXCDiskCache::encodedString("a%2Eb"), "a%252Eb");
    EXPECT_NE(HXCDiskCache::encodedString("a%2Eb"), HXCDiskCache::encodedString("a.b"));
    for (const char* key : {"a.b:c/d", "a%2Eb", "100%", "%", "Fav-x", ""}) {
        EXPECT_EQ(HXCDiskCache::decodedString(HXCDiskCache::encodedString(key)), key) << key;
    }
    EXPECT_FALSE(HXCDiskCache::decodedString("bad%zz"));
    EXPECT_FALSE(HXCDiskCache::decodedString("end%"));
}

TEST(HXCDiskCache, WritesReadsAndOverwritesKeepTheByteCount) {
    hxtest::TempDir root;
    auto cache = HXCDiskCache::create(std::string("Test"), root.path());
    ASSERT_TRUE(cache);
    EXPECT_FALSE(HXCDiskCache::create(std::nullopt, root.path()));
    EXPECT_EQ(cache->cacheURL(), root.path() / "com.hxconnect.HXCDiskCache.Test");
    EXPECT_EQ(cache->description().rfind("com.hxconnect.HXCDiskCache.Test.0x", 0), 0u);

    HXCDiskCache::FileURL written;
    dispatch::Semaphore done(0);
    cache->setObject(bytes(20000, 1), "a.b:c/d",
                     [&](HXCDiskCache&, const std::string&, const HXCCacheObject&, const HXCDiskCache::FileURL& url) {
                         written = url;
                         done.signal();
                     });
    ASSERT_TRUE(done.wait(10));
    ASSERT_TRUE(written);
    EXPECT_EQ(written->filename(), "a%2Eb%3Ac%2Fd");
    auto back = cache->objectForKey("a.b:c/d");
    ASSERT_TRUE(back);
    EXPECT_EQ(back->value.asData(), foundation::Data(20000, 1));

    cache->setObject(bytes(3000, 2), "a.b:c/d");
    cache->setObject(bytes(9000, 3), "other");
    EXPECT_EQ(cache->objectForKey("a.b:c/d")->value.asData().size(), 3000u);
    EXPECT_EQ(cache->byteCount(), sumOfSizes(*cache));
    EXPECT_EQ(cache->sizes().at("a.b:c/d"), statOf(*written).allocated);
    EXPECT_EQ(cache->byteCount(), statOf(*written).allocated + statOf(cache->cacheURL() / "other").allocated);
    // Atomic writes leave nothing but the keys' files behind.
    auto listing = files::listDirectory(cache->cacheURL(), false);
    ASSERT_TRUE(listing.ok());
    EXPECT_EQ(listing->size(), 2u);

    // An empty key has no file: the write passes no URL, the lookup finds nothing.
    HXCDiskCache::FileURL emptyURL = std::filesystem::path("unset");
    cache->setObject(bytes(10, 0), "",
                     [&](HXCDiskCache&, const std::string&, const HXCCacheObject&, const HXCDiskCache::FileURL& url) {
                         emptyURL = url;
                         done.signal();
                     });
    ASSERT_TRUE(done.wait(10));
    EXPECT_FALSE(emptyURL);
    EXPECT_EQ(cache->objectForKey(""), nullptr);
    EXPECT_FALSE(cache->fileURLForKey("missing"));

    cache->removeObjectForKey("other");
    EXPECT_FALSE(files::exists(cache->cacheURL() / "other"));
    EXPECT_EQ(cache->byteCount(), sumOfSizes(*cache));
    EXPECT_EQ(cache->sizes().count("other"), 0u);
}

// A writer killed in an earlier run left a large temporary in the cache's folder. The cache skips
// hidden files when it counts, so the temporary must go when the cache opens: what the folder holds
// is what the cache counts.
TEST(HXCDiskCache, OpeningTheCacheSweepsAKilledWritersTemporary) {
    hxtest::TempDir root;
    const auto folder = root.path() / "com.hxconnect.HXCDiskCache.Test";
    ASSERT_TRUE(files::createDirectory(folder).ok());
    ASSERT_TRUE(files::writeAtomically(folder / "kept", std::string_view("object")).ok());
    const auto stale = folder / ".kept.0123456789abcdef";
    std::ofstream(stale) << std::string(1 << 20, 'x');
    auto cache = HXCDiskCache::create(std::string("Test"), root.path());
    ASSERT_TRUE(cache);
    EXPECT_EQ(cache->sizes().count("kept"), 1u);  // read on the cache's queue, after the opening
    EXPECT_FALSE(files::exists(stale));
    uint64_t onDisk = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) onDisk += statOf(entry.path()).allocated;
    EXPECT_EQ(cache->byteCount(), onDisk);
}

TEST(HXCDiskCache, WorkRunsInsideTasksOfThePlatformRegistryOnlyWhenOneIsSet) {
    hxtest::TempDir root;
    auto cache = HXCDiskCache::create(std::string("Tasks"), root.path());
    ASSERT_TRUE(cache);
    auto& platform = foundation::Application::shared();
    const size_t before = platform.activeBackgroundTaskCount();
    // Block the disk queue so the task of the queued write is seen while it waits.
    dispatch::Semaphore release(0), blocked(0);
    HXCDiskCache::sharedQueue()->async([&] {
        blocked.signal();
        release.wait(10);
    });
    ASSERT_TRUE(blocked.wait(10));
    cache->setObject(bytes(10, 1), "none", {});  // no manager: no task
    EXPECT_EQ(platform.activeBackgroundTaskCount(), before);
    HXCDiskCache::setBackgroundTaskManager(&platform);
    dispatch::Semaphore done(0);
    cache->setObject(
        bytes(10, 2), "k",
        [&](HXCDiskCache&, const std::string&, const HXCCacheObject&, const HXCDiskCache::FileURL&) { done.signal(); });
    EXPECT_EQ(platform.activeBackgroundTaskCount(), before + 1);
    EXPECT_EQ(platform.activeBackgroundTaskNames().back(), "com.hxconnect.HXCDiskCache");
    release.signal();
    ASSERT_TRUE(done.wait(10));
    cache->objectForKey("k");  // a synchronous step after the write: its task has ended
    HXCDiskCache::setBackgroundTaskManager(nullptr);
    EXPECT_EQ(platform.activeBackgroundTaskCount(), before);
}

TEST(HXCDiskCache, TrimsBySizeDateAndEverything) {
    dispatch::ScopedVirtualClock clock(1'600'000'000.0);
    hxtest::TempDir root;
    auto cache = HXCDiskCache::create(std::string("Trim"), root.path());
    cache->setObject(bytes(40000, 1), "big");
    clock->advance(10);
    cache->setObject(bytes(10, 2), "small");
    clock->advance(10);
    cache->setObject(bytes(9000, 3), "mid");
    clock->advance(10);
    ASSERT_TRUE(cache->objectForKey("big"));  // now the most recently used
    EXPECT_EQ(keysInOrder(*cache), (std::vector<std::string>{"small", "mid", "big"}));
    EXPECT_DOUBLE_EQ(statOf(cache->cacheURL() / "big").mtime, 1'600'000'030.0);

    // Largest first by size; least recently used first by date.
    cache->trimToSize(cache->byteCount() - 1);
    EXPECT_EQ(keysInOrder(*cache), (std::vector<std::string>{"small", "mid"}));
    cache->setObject(bytes(9000, 4), "late");
    cache->trimToSizeByDate(cache->byteCount() - 1);
    EXPECT_EQ(keysInOrder(*cache), (std::vector<std::string>{"mid", "late"}));
    cache->trimToDate(foundation::Date{1'600'000'020.0});  // "mid" is dated exactly then: it stays
    EXPECT_EQ(keysInOrder(*cache), (std::vector<std::string>{"mid", "late"}));
    cache->trimToDate(foundation::Date{1'600'000'020.5});
    EXPECT_EQ(keysInOrder(*cache), (std::vector<std::string>{"late"}));

    std::atomic<bool> called{false};
    cache->trimToDate(std::nullopt, [&](HXCDiskCache&) { called = true; });
    cache->trimToDate(std::nullopt);
    // 0 empties everything: the folder goes to the trash and comes back empty.
    std::vector<std::string> hooks;
    cache->setWillRemoveAllObjectsBlock([&](HXCDiskCache&) { hooks.push_back("willRemoveAll"); });
    cache->setDidRemoveObjectBlock([&](HXCDiskCache&, const std::string& k, const HXCCacheObject&,
                                       const HXCDiskCache::FileURL&) { hooks.push_back("didRemove " + k); });
    cache->setDidRemoveAllObjectsBlock([&](HXCDiskCache&) { hooks.push_back("didRemoveAll"); });
    cache->trimToSize(0);
    EXPECT_FALSE(called);
    EXPECT_EQ(hooks, (std::vector<std::string>{"willRemoveAll", "didRemoveAll"}));
    EXPECT_EQ(cache->byteCount(), 0u);
    EXPECT_TRUE(files::isDirectory(cache->cacheURL()));
    EXPECT_TRUE(files::listDirectory(cache->cacheURL(), false)->empty());
    // The trash is emptied on its own queue, off the disk queue.
    HXCDiskCache::sharedTrashQueue()->sync([] {});
    EXPECT_TRUE(files::listDirectory(HXCDiskCache::sharedTrashURL(), false)->empty());
}

TEST(HXCDiskCache, AgeAndByteLimits) {
    dispatch::ScopedVirtualClock clock(1'700'000'000.0);
    hxtest::TempDir root;
    auto cache = HXCDiskCache::create(std::string("Limits"), root.path());
    cache->setObject(bytes(5000, 1), "first");
    cache->setObject(bytes(5000, 2), "second");
    const uint64_t one = cache->sizes().at("first");
    cache->setByteLimit(one);  // least recently used first until under the limit
    EXPECT_EQ(cache->byteLimit(), one);
    EXPECT_EQ(keysInOrder(*cache).size(), 1u);
    cache->setByteLimit(0);
    cache->setAgeLimit(100);
    clock->advance(10);
    cache->setObject(bytes(10, 3), "fresh");
    clock->advance(250);  // trims at +100 (nothing older yet) and at +200 (everything)
    clock->runUntilIdle();
    EXPECT_TRUE(keysInOrder(*cache).empty());
    cache->setAgeLimit(0);
}

TEST(HXCDiskCache, RestartRebuildsTheMapsFromTheDirectory) {
    dispatch::ScopedVirtualClock clock(1'650'000'000.0);
    hxtest::TempDir root;
    {
        auto cache = HXCDiskCache::create(std::string("Restart"), root.path());
        cache->setObject(bytes(30000, 1), "one.jpg");
        clock->advance(5);
        cache->setObject(bytes(100, 2), "two");
        clock->advance(5);
        cache->setObject(bytes(7000, 3), "100% three");
        clock->advance(5);
        ASSERT_TRUE(cache->objectForKey("one.jpg"));  // read last: trimmed last after the restart too
    }
    // A file from elsewhere whose name is no key, and a hidden one: neither is counted.
    { std::ofstream(root / "com.hxconnect.HXCDiskCache.Restart/bad%zz") << "x"; }
    { std::ofstream(root / "com.hxconnect.HXCDiskCache.Restart/.hidden") << "x"; }

    auto cache = HXCDiskCache::create(std::string("Restart"), root.path());
    const auto dir = cache->cacheURL();
    const uint64_t expected =
        statOf(dir / "one%2Ejpg").allocated + statOf(dir / "two").allocated + statOf(dir / "100%25 three").allocated;
    EXPECT_EQ(cache->byteLimit(), 0u);  // queued after the start-up step
    EXPECT_EQ(cache->byteCount(), expected);
    EXPECT_EQ(sumOfSizes(*cache), expected);
    EXPECT_EQ(keysInOrder(*cache), (std::vector<std::string>{"two", "100% three", "one.jpg"}));
    EXPECT_DOUBLE_EQ(cache->dates().at("one.jpg").secondsSince1970, statOf(dir / "one%2Ejpg").mtime);
    if (hxtest::haveProgram("stat")) {
        std::string out;
        ASSERT_EQ(hxtest::runCommand("stat -c '%b %B' '" + (dir / "two").string() + "'", &out), 0);
        uint64_t blocks = 0, unit = 0;
        ASSERT_EQ(std::sscanf(out.c_str(), "%lu %lu", &blocks, &unit), 2);
        EXPECT_EQ(cache->sizes().at("two"), blocks * unit);
    }
}

// A 1x1 PNG: signature, header chunk, one data chunk, end chunk.
const foundation::Data kPNG = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48,
                               0x44, 0x52, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x06, 0x00, 0x00,
                               0x00, 0x1F, 0x15, 0xC4, 0x89, 0x00, 0x00, 0x00, 0x0A, 0x49, 0x44, 0x41, 0x54, 0x78,
                               0x9C, 0x63, 0x00, 0x01, 0x00, 0x00, 0x05, 0x00, 0x01, 0x0D, 0x0A, 0x2D, 0xB4, 0x00,
                               0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};

TEST(HXCDiskCache, ImagesComeBackAsImages) {
    hxtest::TempDir root;
    auto image = graphics::Image::fromEncoded(kPNG, 2);
    ASSERT_TRUE(image.ok());
    {
        auto cache = HXCDiskCache::create(std::string("Images"), root.path());
        cache->setObject(HXCCachedObject::withImage(*image), "+15551234567");
        cache->setObject(HXCCachedObject::withData(kPNG), "att_ORIGINAL");
    }
    auto cache = HXCDiskCache::create(std::string("Images"), root.path());
    auto thumb = cache->objectForKey("+15551234567");
    ASSERT_TRUE(thumb);
    ASSERT_TRUE(thumb->image());
    EXPECT_EQ(*thumb->image(), **image);
    EXPECT_EQ(thumb->image()->scale(), 2);
    auto original = cache->objectForKey("att_ORIGINAL");
    ASSERT_TRUE(original);
    EXPECT_FALSE(original->image());
    EXPECT_EQ(original->value.asData(), kPNG);
    // The archive is a binary property list that an independent reader opens.
    if (!hxtest::haveProgram("/usr/bin/python3")) return;
    std::string out;
    ASSERT_EQ(hxtest::runCommand("/usr/bin/python3 -c \"import plistlib,sys; d=plistlib.load(open(sys.argv[1],'rb')); "
                                 "print(sorted(k for o in d['\\$objects'] if isinstance(o, dict) for k in o))\" '" +
                                     (cache->cacheURL() / "+15551234567").string() + "'",
                                 &out),
              0);
    EXPECT_NE(out.find("pixelWidth"), std::string::npos) << out;
}

TEST(HXCDiskCache, AnUnreadableArchiveLeavesThroughTheRemovePath) {
    hxtest::TempDir root;
    {
        auto cache = HXCDiskCache::create(std::string("Broken"), root.path());
        cache->setObject(bytes(8000, 1), "ok");
        cache->setObject(bytes(8000, 2), "bad");
    }
    { std::ofstream(root / "com.hxconnect.HXCDiskCache.Broken/bad", std::ios::trunc) << std::string(8000, 'x'); }
    auto cache = HXCDiskCache::create(std::string("Broken"), root.path());
    std::vector<std::string> removed;
    cache->setDidRemoveObjectBlock([&](HXCDiskCache&, const std::string& k, const HXCCacheObject&,
                                       const HXCDiskCache::FileURL&) { removed.push_back(k); });
    EXPECT_EQ(cache->objectForKey("bad"), nullptr);
    EXPECT_EQ(removed, (std::vector<std::string>{"bad"}));
    EXPECT_FALSE(files::exists(cache->cacheURL() / "bad"));
    EXPECT_EQ(cache->sizes().count("bad"), 0u);
    EXPECT_EQ(cache->byteCount(), sumOfSizes(*cache));
    EXPECT_EQ(cache->byteCount(), statOf(cache->cacheURL() / "ok").allocated);
}

TEST(HXCDiskCache, ConcurrentWritersAndReadersKeepTheByteCount) {
    hxtest::TempDir root;
    auto cache = HXCDiskCache::create(std::string("Stress"), root.path());
    std::vector<std::thread> threads;
    std::atomic<int> mismatches{0};
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            std::mt19937 rng(uint32_t(t) + 100);
            for (int i = 0; i < 60; ++i) {
                const std::string key = "key:" + std::to_string(rng() % 12);
                const uint8_t fill = uint8_t(rng());
                switch (rng() % 3) {
                    case 0:
                        cache->setObject(bytes(1000 + rng() % 9000, fill), key, nullptr);
                        break;
                    case 1:
                        cache->removeObjectForKey(key, nullptr);
                        break;
                    default:
                        cache->objectForKey(key, [&](HXCDiskCache&, const std::string&, const HXCCacheObject& o,
                                                     const HXCDiskCache::FileURL&) {
                            if (o && o->value.asData().empty()) ++mismatches;
                        });
                        break;
                }
                (void)cache->byteCount();
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(cache->byteCount(), sumOfSizes(*cache));
    uint64_t onDisk = 0;
    auto listing = files::listDirectory(cache->cacheURL(), true);
    ASSERT_TRUE(listing.ok());
    for (const auto& e : *listing) onDisk += statOf(e.path).allocated;
    EXPECT_EQ(cache->byteCount(), onDisk);
}

}  // namespace

TEST(HXCDiskCache, KeysWithNulOrPastTheNameLimitAreStoredApart) {
    dispatch::ScopedVirtualClock clock(1'650'000'000.0);
    hxtest::TempDir root;
    const std::string nul("alias\0b", 7);
    std::vector<std::string> keys = {"alias",
                                     nul,
                                     std::string("\0", 1),
                                     std::string(237, 'k'),
                                     std::string(238, 'k'),
                                     std::string(255, 'k'),
                                     std::string(1000, 'k'),
                                     std::string(1000, 'k') + "2",
                                     std::string(120, '.'),
                                     std::string(400, '.')};
    {
        auto cache = HXCDiskCache::create(std::string("Long"), root.path());
        for (size_t i = 0; i < keys.size(); ++i) cache->setObject(bytes(10 + i, uint8_t(i)), keys[i]);
        for (size_t i = 0; i < keys.size(); ++i) {
            auto back = cache->objectForKey(keys[i]);
            ASSERT_TRUE(back) << i;
            EXPECT_EQ(back->value.asData(), foundation::Data(10 + i, uint8_t(i))) << i;
            auto url = cache->fileURLForKey(keys[i]);
            ASSERT_TRUE(url) << i;
            EXPECT_LE(url->filename().string().size() + foundation::kAtomicWriteAffixBytes, 255u) << i;
        }
        EXPECT_EQ(cache->dates().size(), keys.size());
        EXPECT_EQ(cache->sizes().size(), keys.size());
        // Keys that always fit keep the names they were stored under.
        EXPECT_EQ(cache->fileURLForKey(std::string(237, 'k'))->filename(), std::string(237, 'k'));
        EXPECT_EQ(cache->fileURLForKey(nul)->filename(), "alias%00b");
    }
    // After a reopen "alias" is still its own object, not the one stored under "alias\0b".
    auto cache = HXCDiskCache::create(std::string("Long"), root.path());
    EXPECT_EQ(cache->objectForKey("alias")->value.asData(), foundation::Data(10, 0));
    EXPECT_EQ(cache->objectForKey(nul)->value.asData(), foundation::Data(11, 1));
    EXPECT_EQ(cache->objectForKey(std::string(1000, 'k'))->value.asData(), foundation::Data(16, 6));
    EXPECT_TRUE(cache->dates().count(nul));
}
