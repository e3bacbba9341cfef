// One thread's 50-frame stack, built without frame pointers, walked to its end by the DWARF reader
// of the frame cursor and by libunwind with its cache on and off, each over the frames both walk
// alike (checked frame by frame); the counter is frames per second.
#include <benchmark/benchmark.h>
#include <ucontext.h>

#define UNW_LOCAL_ONLY
#include <libunwind.h>

#include "bench/bench_images.h"
#include "bench/bench_walks.h"
#include "crashreporter/dwarf_unwinder.h"
#include "crashreporter/frame_cursor.h"
#include "platform/kernel/loaded_images.h"

extern "C" {
typedef void (*hx_unwind_cb)(void*);
int hx_unwind_recurse(int depth, hx_unwind_cb cb, void* ctx);
}

namespace {

enum class Walker { Dwarf, LibunwindCached, LibunwindUncached };

constexpr int kDepth = 50;  // hx_unwind_recurse's frames are one more

struct Job {
    benchmark::State* state;
    Walker walker;
    zvcrash_async_image_list* images;
    size_t frames = 0;
};

// One walk of at most `limit` frames from the registers in uc, each frame's address kept.
void walkFrom(Walker walker, const unw_context_t& uc, zvcrash_async_image_list* images, hxbench::Walk& walk,
              size_t limit) {
    size_t frames = 0;
    if (walker == Walker::Dwarf) {
        const zvcrash_frame_reader_t readers[] = {&zvcrash_frame_dwarf_reader};
        zvcrash_async_thread_state state;
        zvcrash_async_thread_state_mcontext_init(&state, reinterpret_cast<const ucontext_t*>(&uc));
        zvcrash_frame_cursor cursor;
        zvcrash_frame_cursor_init(&cursor, kernel::task_self(), &state, images);
        while (frames < limit && zvcrash_frame_cursor_next_with_readers(&cursor, readers, 1) == ZVCRASH_FRAME_ESUCCESS)
            walk.pcs[frames++] = zvcrash_async_thread_state_get_reg(&cursor.states[cursor.current], ZVCRASH_REG_IP);
        zvcrash_frame_cursor_free(&cursor);
    } else {
        unw_cursor_t c;
        unw_init_local(&c, const_cast<unw_context_t*>(&uc));
        unw_word_t ip = 0;
        do {
            unw_get_reg(&c, UNW_REG_IP, &ip);
            walk.pcs[frames++] = ip;
        } while (frames < limit && unw_step(&c) > 0);
    }
    walk.frames = frames;
}

void walk(void* context) {
    auto* job = static_cast<Job*>(context);
    unw_context_t uc;
    unw_getcontext(&uc);
    // Both sides walk the frames they both walk alike: the recursion, its caller and on.
    hxbench::Walk mine, dwarf, libunwind;
    walkFrom(Walker::Dwarf, uc, job->images, dwarf, hxbench::kMaxWalkFrames);
    walkFrom(Walker::LibunwindCached, uc, job->images, libunwind, hxbench::kMaxWalkFrames);
    const size_t limit = hxbench::framesAlike({&dwarf, &libunwind});
    if (!hxbench::walksAgree(*job->state, limit, 1 + (kDepth + 1) + 1)) return;
    if (job->walker == Walker::LibunwindUncached)
        unw_set_caching_policy(unw_local_addr_space, UNW_CACHE_NONE);
    else
        unw_set_caching_policy(unw_local_addr_space, UNW_CACHE_GLOBAL);
    for (auto _ : *job->state) {
        walkFrom(job->walker, uc, job->images, mine, limit);
        benchmark::DoNotOptimize(mine.frames);
    }
    job->frames = mine.frames;
    unw_set_caching_policy(unw_local_addr_space, UNW_CACHE_GLOBAL);
}

void BM_Walk(benchmark::State& state, Walker walker) {
    Job job{&state, walker, hxbench::imageList()};
    hx_unwind_recurse(kDepth, &walk, &job);
    state.counters["frames"] = static_cast<double>(job.frames);
    if (walker == Walker::Dwarf) {
        // What the walk's lookups keep per image: FDE indexes and search-table records.
        size_t bytes = 0;
        for (auto* image = zvcrash_async_image_list_next(job.images, nullptr); image;
             image = zvcrash_async_image_list_next(job.images, image))
            bytes += zvcrash_dwarf_fde_index_bytes(image->fde_index.load()) +
                     zvcrash_dwarf_search_table_bytes(image->search_table);
        state.counters["index_bytes"] = static_cast<double>(bytes);
    }
    state.counters["frames_per_s"] = benchmark::Counter(
        static_cast<double>(job.frames) * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

BENCHMARK_CAPTURE(BM_Walk, dwarf, Walker::Dwarf)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Walk, libunwind_cached, Walker::LibunwindCached)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Walk, libunwind_uncached, Walker::LibunwindUncached)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) { return hxbench::runWalkBenchmarks(argc, argv); }
