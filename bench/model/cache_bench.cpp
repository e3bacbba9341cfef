// The object caches beside their plainest peers: the memory cache's get/set from 1 and 8 threads
// against a map under a reader-writer lock (one that lets readers in first, and one that orders
// them after a waiting writer as the cache's queue does), and the disk cache's write and read of
// 1,000 objects of 20 KB against writing and reading the same bytes as plain files.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <pthread.h>
#include <random>
#include <shared_mutex>
#include <string>
#include <unistd.h>
#include <unordered_map>
#include <vector>

#include "model/disk_cache.h"
#include "model/memory_cache.h"
#include "platform/foundation/files.h"

namespace {

constexpr int kKeys = 1024;

const std::vector<std::string>& keys() {
    static const std::vector<std::string> k = [] {
        std::vector<std::string> out;
        for (int i = 0; i < kKeys; ++i) out.push_back("+1555" + std::to_string(1000000 + i));
        return out;
    }();
    return k;
}

HXCCacheObject smallObject() {
    static const HXCCacheObject o = HXCCachedObject::withData(foundation::Data(64, 1));
    return o;
}

void BM_HXCMemoryCache_get_set(benchmark::State& state) {
    static std::shared_ptr<HXCMemoryCache> cache;
    if (state.thread_index() == 0) {
        cache = HXCMemoryCache::create();
        for (const auto& k : keys()) cache->setObject(smallObject(), k);
    }
    std::mt19937 rng(uint32_t(state.thread_index()) + 1);
    for (auto _ : state) {
        const auto& k = keys()[rng() % kKeys];
        if (rng() % 8 == 0) {
            cache->setObject(smallObject(), k);
        } else {
            benchmark::DoNotOptimize(cache->objectForKey(k));
        }
    }
    state.SetItemsProcessed(state.iterations());
    if (state.thread_index() == 0) cache.reset();
}
BENCHMARK(BM_HXCMemoryCache_get_set)->Threads(1)->Threads(8)->UseRealTime();

// A map under a reader-writer lock, with the cache's mix of one write in eight.
template <typename Lock>
void runLockedMapGetSet(benchmark::State& state) {
    static std::unordered_map<std::string, HXCCacheObject> map;
    static Lock mutex;
    if (state.thread_index() == 0) {
        std::unique_lock lock(mutex);
        for (const auto& k : keys()) map[k] = smallObject();
    }
    std::mt19937 rng(uint32_t(state.thread_index()) + 1);
    for (auto _ : state) {
        const auto& k = keys()[rng() % kKeys];
        if (rng() % 8 == 0) {
            std::unique_lock lock(mutex);
            map[k] = smallObject();
        } else {
            std::shared_lock lock(mutex);
            auto it = map.find(k);
            benchmark::DoNotOptimize(it == map.end() ? nullptr : it->second);
        }
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_shared_mutex_map_get_set(benchmark::State& state) { runLockedMapGetSet<std::shared_mutex>(state); }
BENCHMARK(BM_shared_mutex_map_get_set)->Threads(1)->Threads(8)->UseRealTime();

// A lock that, like the cache's queue, lets no reader overtake a writer that waits: the price of
// that order alone, beside the lock above that lets readers in first.
class WriterFirstLock {
public:
    WriterFirstLock() {
        pthread_rwlockattr_t attributes;
        pthread_rwlockattr_init(&attributes);
        pthread_rwlockattr_setkind_np(&attributes, PTHREAD_RWLOCK_PREFER_WRITER_NONRECURSIVE_NP);
        pthread_rwlock_init(&lock_, &attributes);
        pthread_rwlockattr_destroy(&attributes);
    }
    ~WriterFirstLock() { pthread_rwlock_destroy(&lock_); }
    WriterFirstLock(const WriterFirstLock&) = delete;
    WriterFirstLock& operator=(const WriterFirstLock&) = delete;
    void lock() { pthread_rwlock_wrlock(&lock_); }
    void unlock() { pthread_rwlock_unlock(&lock_); }
    void lock_shared() { pthread_rwlock_rdlock(&lock_); }
    void unlock_shared() { pthread_rwlock_unlock(&lock_); }

private:
    pthread_rwlock_t lock_;
};

void BM_writer_first_lock_map_get_set(benchmark::State& state) { runLockedMapGetSet<WriterFirstLock>(state); }
BENCHMARK(BM_writer_first_lock_map_get_set)->Threads(1)->Threads(8)->UseRealTime();

std::filesystem::path scratch(const std::string& name) {
    auto dir = std::filesystem::temp_directory_path() / ("hx-bench-" + name + "-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

void BM_HXCDiskCache_write_read_1000x20KB(benchmark::State& state) {
    const auto root = scratch("disk");
    const auto object = HXCCachedObject::withData(foundation::Data(20 * 1024, 7));
    for (auto _ : state) {
        auto cache = HXCDiskCache::create(std::string("Bench"), root);
        for (int i = 0; i < 1000; ++i) cache->setObject(object, keys()[size_t(i)]);
        for (int i = 0; i < 1000; ++i) benchmark::DoNotOptimize(cache->objectForKey(keys()[size_t(i)]));
        state.PauseTiming();
        cache->removeAllObjects();
        HXCDiskCache::sharedTrashQueue()->sync([] {});
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * 2000);
    std::filesystem::remove_all(root);
}
// The cache writes and trims on queues of its own: the CPU time is the whole process's, on both sides.
BENCHMARK(BM_HXCDiskCache_write_read_1000x20KB)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();

void BM_plain_files_write_read_1000x20KB(benchmark::State& state) {
    const auto root = scratch("files");
    const foundation::Data bytes(20 * 1024, 7);
    for (auto _ : state) {
        for (int i = 0; i < 1000; ++i) {
            (void)foundation::files::writeAtomically(root / keys()[size_t(i)], bytes);
        }
        for (int i = 0; i < 1000; ++i) benchmark::DoNotOptimize(foundation::files::readData(root / keys()[size_t(i)]));
        state.PauseTiming();
        for (int i = 0; i < 1000; ++i) std::filesystem::remove(root / keys()[size_t(i)]);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * 2000);
    std::filesystem::remove_all(root);
}
BENCHMARK(BM_plain_files_write_read_1000x20KB)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();

}  // namespace

BENCHMARK_MAIN();
