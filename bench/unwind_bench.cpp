// One thread's 50-frame stack, built without frame pointers, walked to its end by the DWARF reader
// of the frame cursor and by libunwind with its cache on and off; the counter is frames per second.
#include <benchmark/benchmark.h>
#include <ucontext.h>

#define UNW_LOCAL_ONLY
#include <libunwind.h>

#include "bench/bench_images.h"
#include "crashreporter/dwarf_unwinder.h"
#include "crashreporter/frame_cursor.h"
#include "platform/kernel/loaded_images.h"

extern "C" {
typedef void (*hx_unwind_cb)(void*);
int hx_unwind_recurse(int depth, hx_unwind_cb cb, void* ctx);
}

namespace {

enum class Walker { Dwarf, LibunwindCached, LibunwindUncached };

struct Job {
    benchmark::State* state;
    Walker walker;
    zvcrash_async_image_list* images;
    size_t frames = 0;
};

void walk(void* context) {
    auto* job = static_cast<Job*>(context);
    unw_context_t uc;
    unw_getcontext(&uc);
    if (job->walker == Walker::LibunwindUncached)
        unw_set_caching_policy(unw_local_addr_space, UNW_CACHE_NONE);
    else
        unw_set_caching_policy(unw_local_addr_space, UNW_CACHE_GLOBAL);
    const zvcrash_frame_reader_t readers[] = {&zvcrash_frame_dwarf_reader};
    for (auto _ : *job->state) {
        size_t frames = 0;
        if (job->walker == Walker::Dwarf) {
            zvcrash_async_thread_state state;
            zvcrash_async_thread_state_mcontext_init(&state, reinterpret_cast<const ucontext_t*>(&uc));
            zvcrash_frame_cursor cursor;
            zvcrash_frame_cursor_init(&cursor, kernel::task_self(), &state, job->images);
            while (frames < 512 &&
                   zvcrash_frame_cursor_next_with_readers(&cursor, readers, 1) == ZVCRASH_FRAME_ESUCCESS)
                ++frames;
            zvcrash_frame_cursor_free(&cursor);
        } else {
            unw_cursor_t c;
            unw_init_local(&c, &uc);
            frames = 1;
            while (frames < 512 && unw_step(&c) > 0) ++frames;
        }
        job->frames = frames;
        benchmark::DoNotOptimize(frames);
    }
    unw_set_caching_policy(unw_local_addr_space, UNW_CACHE_GLOBAL);
}

void BM_Walk(benchmark::State& state, Walker walker) {
    Job job{&state, walker, hxbench::imageList()};
    hx_unwind_recurse(50, &walk, &job);
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

BENCHMARK_MAIN();
