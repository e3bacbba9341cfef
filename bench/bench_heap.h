// The heap a benchmark's work holds at its peak, counted at every allocation and free of the
// process (every thread, every library: SQLite's page cache, the C++ objects, the shaper's
// buffers alike), while a window is open. A benchmark and its peer opened and closed around the
// same work are measured the same way, down to the byte: unlike the resident size, which moves by
// whole pages and by what the allocator keeps for later, this does not hide a small working set
// under the allocator's granularity.
//
// Linking bench/bench_heap.cpp into a benchmark program puts this count in front of the program's
// allocator (jemalloc, which it forwards to); outside a window it costs one flag read.
#pragma once

#include <cstdint>

namespace hxbench {

// Starts counting from zero: each allocation adds its usable size, each free takes it off.
void openHeapWindow();
// Stops counting; returns the highest count the window reached (bytes above its start).
int64_t closeHeapWindow();
// Whether allocations go through the count (false in a program that does not link it).
bool heapCounted();

// A size line of /proc/self/status ("VmRSS:", "VmHWM:"), in MiB; 0 when it has none.
double statusMiB(const char* field);

}  // namespace hxbench
