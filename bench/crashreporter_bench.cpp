// Live report of a process with 20 threads parked 50 frames deep, one thread's 50-frame walk by the
// frame-pointer cursor (and by the whole cursor, its table readers first) against libunwind and glibc's backtrace()
// over the same frames (checked frame by frame), and the listing of this process's images with and without building
// their FDE indexes on the spot.
#include <atomic>
#include <benchmark/benchmark.h>
#include <execinfo.h>
#include <linux/futex.h>
#include <sys/syscall.h>
#include <thread>
#include <ucontext.h>
#include <unistd.h>
#include <vector>

#define UNW_LOCAL_ONLY
#include <libunwind.h>

#include "bench/bench_images.h"
#include "bench/bench_walks.h"
#include "crashreporter/crash_reporter.h"
#include "crashreporter/frame_cursor.h"
#include "crashreporter/image_list.h"
#include "platform/kernel/loaded_images.h"
#include "tests/crashreporter/crash_fixtures.h"

namespace {

std::atomic<int> gParked{0};
std::atomic<int> gRelease{0};

void park(void*) {
    gParked.fetch_add(1);
    while (gRelease.load() == 0)
        syscall(SYS_futex, reinterpret_cast<int*>(&gRelease), FUTEX_WAIT, 0, nullptr, nullptr, 0);
}

void BM_LiveReport20Threads(benchmark::State& state) {
    auto config = ZVCrashReporterConfig::initWithSignalHandlerType(0, 0, false, std::string("/tmp"));
    auto reporter = ZVCrashReporter::initWithApplicationIdentifier("bench", "1", std::nullopt, config);
    gParked.store(0);
    gRelease.store(0);
    std::vector<std::thread> threads;
    for (int i = 0; i < 20; ++i) threads.emplace_back([] { hx_fixture_recurse(50, &park, nullptr); });
    while (gParked.load() < 20) std::this_thread::yield();
    size_t bytes = 0;
    for (auto _ : state) {
        auto report = reporter->generateLiveReport();
        if (!report.ok())
            state.SkipWithError("live report failed");
        else
            bytes = report.value().size();
    }
    gRelease.store(1);
    syscall(SYS_futex, reinterpret_cast<int*>(&gRelease), FUTEX_WAKE, INT32_MAX, nullptr, nullptr, 0);
    for (auto& t : threads) t.join();
    state.counters["report_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_LiveReport20Threads)->Unit(benchmark::kMillisecond);

enum class Walker { FramePointer, WholeCursor, Libunwind, Backtrace };

constexpr size_t kDepth = 50;  // the recursion's frames

struct WalkJob {
    benchmark::State* state;
    Walker walker;
    size_t frames = 0;
};

// One walk of at most `limit` frames from the function it is inlined in (whose frame comes first on
// every side), each frame's address kept.
__attribute__((always_inline)) inline void walkFrom(Walker walker, hxbench::Walk& walk, size_t limit) {
    size_t n = 0;
    if (walker == Walker::FramePointer || walker == Walker::WholeCursor) {
        // The whole cursor: the table readers first (DWARF here), frame records last.
        zvcrash_async_thread_state s;
        zvcrash_async_thread_state_capture(&s);
        zvcrash_frame_cursor cursor;
        zvcrash_frame_cursor_init(&cursor, kernel::task_self(), &s,
                                  walker == Walker::WholeCursor ? hxbench::imageList() : nullptr);
        while (n < limit && zvcrash_frame_cursor_next(&cursor) == ZVCRASH_FRAME_ESUCCESS)
            walk.pcs[n++] = zvcrash_async_thread_state_get_reg(&cursor.states[cursor.current], ZVCRASH_REG_IP);
    } else {
        void* frames[hxbench::kMaxWalkFrames];
        const int size = static_cast<int>(limit);
        n = static_cast<size_t>(walker == Walker::Libunwind ? unw_backtrace(frames, size) : backtrace(frames, size));
        for (size_t i = 0; i < n; ++i) walk.pcs[i] = reinterpret_cast<uintptr_t>(frames[i]);
    }
    walk.frames = n;
}

void walkHere(void* context) {
    auto* job = static_cast<WalkJob*>(context);
    // Every side walks the frames the frame records and libunwind both walk alike: the recursion,
    // its caller, and on up to where the frame records end.
    hxbench::Walk mine, records, libunwind;
    walkFrom(job->walker, mine, hxbench::kMaxWalkFrames);
    walkFrom(Walker::FramePointer, records, hxbench::kMaxWalkFrames);
    walkFrom(Walker::Libunwind, libunwind, hxbench::kMaxWalkFrames);
    const size_t limit = hxbench::framesAlike({&mine, &records, &libunwind});
    if (!hxbench::walksAgree(*job->state, limit, 1 + kDepth + 1)) return;
    for (auto _ : *job->state) {
        walkFrom(job->walker, mine, limit);
        benchmark::DoNotOptimize(mine.frames);
    }
    job->frames = mine.frames;
}

void runWalk(benchmark::State& state, Walker walker) {
    WalkJob job{&state, walker};
    hx_fixture_recurse(kDepth, &walkHere, &job);
    state.counters["frames"] = static_cast<double>(job.frames);
}

void BM_Walk50_FramePointerCursor(benchmark::State& state) { runWalk(state, Walker::FramePointer); }
void BM_Walk50_WholeCursor(benchmark::State& state) { runWalk(state, Walker::WholeCursor); }
void BM_Walk50_Libunwind(benchmark::State& state) { runWalk(state, Walker::Libunwind); }
void BM_Walk50_GlibcBacktrace(benchmark::State& state) { runWalk(state, Walker::Backtrace); }
BENCHMARK(BM_Walk50_FramePointerCursor);
BENCHMARK(BM_Walk50_WholeCursor);
BENCHMARK(BM_Walk50_Libunwind);
BENCHMARK(BM_Walk50_GlibcBacktrace);

// What listing this process's images costs the thread that lists them (the launch's main thread):
// with the FDE indexes left to the indexing thread, and with them built on the spot; then what
// that indexing pass costs wherever it runs.
void appendLoadedImages(zvcrash_async_image_list* list) {
    for (const auto& image : kernel::dyld_images())
        zvcrash_async_image_list_append(list, image.header, image.path.c_str());
}

void listImages(benchmark::State& state, bool deferred, bool thenIndex) {
    int images = 0;
    for (auto _ : state) {
        zvcrash_async_image_list list;
        zvcrash_async_image_list_init(&list, kernel::task_self());
        if (deferred) zvcrash_async_image_list_defer_indexing(&list);
        appendLoadedImages(&list);
        if (thenIndex) zvcrash_async_image_list_build_indexes(&list);
        state.PauseTiming();
        images = 0;
        for (auto* image = zvcrash_async_image_list_next(&list, nullptr); image;
             image = zvcrash_async_image_list_next(&list, image))
            ++images;
        zvcrash_async_image_list_free(&list);
        state.ResumeTiming();
    }
    state.counters["images"] = images;
}

void BM_ListImages_IndexDeferred(benchmark::State& state) { listImages(state, true, false); }
void BM_ListImages_IndexedOnAdd(benchmark::State& state) { listImages(state, false, false); }
void BM_ListImages_DeferredThenIndexPass(benchmark::State& state) { listImages(state, true, true); }
BENCHMARK(BM_ListImages_IndexDeferred)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListImages_IndexedOnAdd)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListImages_DeferredThenIndexPass)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return hxbench::runWalkBenchmarks(argc, argv); }
