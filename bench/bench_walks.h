// Stack walks set side by side frame by frame: each side of a pair is timed over the frames every
// side walks alike (up to where the shortest stops, as frame records end where code without frame
// pointers begins), and a side that goes astray inside the stack the bench built fails the run.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>

namespace hxbench {

inline constexpr size_t kMaxWalkFrames = 64;

// One walk: the address each frame is at, the walking function's own first.
struct Walk {
    uintptr_t pcs[kMaxWalkFrames];
    size_t frames = 0;
};

// How many frames, from the first, every walk takes alike. The first frame is the walking
// function itself, where each side stops at a point of its own; the callers' return addresses
// must be the same.
inline size_t framesAlike(std::initializer_list<const Walk*> walks) {
    size_t n = kMaxWalkFrames;
    for (const Walk* w : walks) n = std::min(n, w->frames);
    const Walk& first = **walks.begin();
    for (size_t i = 1; i < n; ++i)
        for (const Walk* w : walks)
            if (w->pcs[i] != first.pcs[i]) return i;
    return n;
}

inline bool& walksDisagreed() {
    static bool disagreed = false;
    return disagreed;
}

// True when the walks agree over at least `needed` frames (the stack the bench built and its
// caller); else the benchmark is skipped saying so, and the run fails.
inline bool walksAgree(benchmark::State& state, size_t alike, size_t needed) {
    if (alike >= needed) return true;
    walksDisagreed() = true;
    state.SkipWithError(("the walks agree over " + std::to_string(alike) + " frames, fewer than the " +
                         std::to_string(needed) + " of the stack built")
                            .c_str());
    return false;
}

inline int runWalkBenchmarks(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return walksDisagreed() ? 1 : 0;
}

}  // namespace hxbench
