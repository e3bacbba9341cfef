// Enqueue and run 1,000,000 small blocks on a serial queue and on the concurrent pool, against a
// plain mutex + condition-variable worker queue (one worker, and one per processor) in the same run.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "bench/bench_ratio.h"
#include "platform/dispatch/dispatch.h"
#include "platform/dispatch/internal.h"

namespace {

constexpr int kBlocks = 1'000'000;

// The peer: the textbook worker queue.
class PlainWorkerQueue {
public:
    explicit PlainWorkerQueue(unsigned threads) {
        for (unsigned i = 0; i < threads; ++i)
            workers_.emplace_back([this] {
                for (;;) {
                    std::unique_lock lock(mutex_);
                    cv_.wait(lock, [&] { return stop_ || !items_.empty(); });
                    if (items_.empty()) return;
                    auto block = std::move(items_.front());
                    items_.pop_front();
                    lock.unlock();
                    block();
                }
            });
    }
    ~PlainWorkerQueue() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        cv_.notify_all();
        for (auto& t : workers_) t.join();
    }
    void async(std::function<void()> block) {
        {
            std::lock_guard lock(mutex_);
            items_.push_back(std::move(block));
        }
        cv_.notify_one();
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::function<void()>> items_;
    std::vector<std::thread> workers_;
    bool stop_ = false;
};

// Counts blocks down and wakes the producer after the last one (std primitives, for both sides).
// It lies on a cache line of its own, away from the producer's stack, so that neither side pays
// for the bench's own writes.
struct alignas(64) Countdown {
    std::atomic<int> left{kBlocks};
    std::atomic<int> ran{0};
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
    void hit() {
        ran.fetch_add(1, std::memory_order_relaxed);
        if (left.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            std::lock_guard lock(mutex);
            done = true;
            cv.notify_all();
        }
    }
    void wait() {
        std::unique_lock lock(mutex);
        cv.wait(lock, [&] { return done; });
    }
};

template <typename Submit>
int burst(Submit& submit) {
    auto countdown = std::make_unique<Countdown>();
    Countdown* c = countdown.get();
    for (int i = 0; i < kBlocks; ++i) submit([c] { c->hit(); });
    c->wait();
    return c->ran.load();
}

// The process's page faults and context switches (every thread's) since a start.
struct Usage {
    rusage start{};
    Usage() { getrusage(RUSAGE_SELF, &start); }
    void report(benchmark::State& state) const {
        rusage now{};
        getrusage(RUSAGE_SELF, &now);
        const auto per = static_cast<double>(state.iterations());
        state.counters["page_faults"] = static_cast<double>(now.ru_minflt - start.ru_minflt) / per;
        state.counters["switches"] =
            static_cast<double>(now.ru_nvcsw + now.ru_nivcsw - start.ru_nvcsw - start.ru_nivcsw) / per;
    }
};

// Each side's count of the blocks that ran (checked equal across a pair), its page faults and
// context switches per burst, and the pool's threads afterwards (it must not grow past its target
// for small blocks that never block). One burst first, untimed, on either side: the peer's thread
// is started before the timing, and the first burst of a process would otherwise also pay for the
// pool's threads starting and for the first touch of the memory the blocks wait in.
template <typename Submit>
void runMillion(benchmark::State& state, Submit submit) {
    if (burst(submit) != kBlocks) state.SkipWithError("the warm-up burst lost blocks");
    double ran = 0;
    Usage usage;
    for (auto _ : state) ran += burst(submit);
    usage.report(state);
    state.SetItemsProcessed(state.iterations() * kBlocks);
    state.counters["blocks_run"] = ran / static_cast<double>(state.iterations());
    auto pool = dispatch::detail::Pool::shared().counts();
    state.counters["pool_threads"] = static_cast<double>(pool.threads);
    state.counters["pool_target"] = static_cast<double>(pool.target);
}

void BM_SerialQueue(benchmark::State& state) {
    auto queue = dispatch::Queue::serial("bench.serial");
    runMillion(state, [&](std::function<void()> b) { queue->async(std::move(b)); });
}

void BM_PlainSingleWorker(benchmark::State& state) {
    PlainWorkerQueue queue(1);
    runMillion(state, [&](std::function<void()> b) { queue.async(std::move(b)); });
}

void BM_GlobalConcurrentPool(benchmark::State& state) {
    auto queue = dispatch::Queue::global(dispatch::Priority::Default);
    runMillion(state, [&](std::function<void()> b) { queue->async(std::move(b)); });
}

void BM_ConcurrentQueue(benchmark::State& state) {
    auto queue = dispatch::Queue::concurrent("bench.concurrent");
    runMillion(state, [&](std::function<void()> b) { queue->async(std::move(b)); });
}

void BM_PlainWorkerPool(benchmark::State& state) {
    unsigned n = std::thread::hardware_concurrency();
    PlainWorkerQueue queue(n < 2 ? 2 : n);
    runMillion(state, [&](std::function<void()> b) { queue.async(std::move(b)); });
}

}  // namespace

BENCHMARK(BM_SerialQueue)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime()->Iterations(5);
BENCHMARK(BM_PlainSingleWorker)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime()->Iterations(5);
BENCHMARK(BM_GlobalConcurrentPool)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->Iterations(5);
BENCHMARK(BM_ConcurrentQueue)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime()->Iterations(5);
BENCHMARK(BM_PlainWorkerPool)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime()->Iterations(5);

// The serial queue's goal is to beat the single worker in wall time. The CPU times are the whole
// process's (the producer's alone say little of a queue whose cost is partly on other threads);
// on a processor shared with other programs they tell the queue's own cost apart from the time
// the process waited for the processor.
HX_BENCH_MAIN_WITH_RATIOS({
    {"BM_SerialQueue", "BM_PlainSingleWorker", 0.999, false, {"blocks_run"}, {"page_faults", "switches"}},
    {"BM_GlobalConcurrentPool", "BM_PlainWorkerPool", 0, false, {"blocks_run"}, {"page_faults", "switches"}},
    {"BM_ConcurrentQueue", "BM_PlainWorkerPool", 0, false, {"blocks_run"}, {"page_faults", "switches"}},
})
