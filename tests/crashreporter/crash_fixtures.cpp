#include "tests/crashreporter/crash_fixtures.h"

#include <cstdlib>

namespace {
volatile int* volatile gNull = nullptr;
volatile int gSink = 0;

// Keeps the faulting functions from being leaves: the compiler sets up no frame record in a leaf
// even when told to keep frame pointers.
__attribute__((noinline)) void touch() { asm volatile("" ::: "memory"); }
}  // namespace

extern "C" {

// The fault is the point: the sanitizer build's null check would end the process before it.
__attribute__((noinline, no_sanitize("null", "thread"))) void hx_fixture_null_write_inner() {
    *gNull = 42;
    touch();
}

__attribute__((noinline)) void hx_fixture_null_write_middle() {
    hx_fixture_null_write_inner();
    gSink = gSink + 1;
}

__attribute__((noinline)) void hx_fixture_null_write_outer() {
    hx_fixture_null_write_middle();
    gSink = gSink + 1;
}

__attribute__((noinline)) void hx_fixture_trap() {
    touch();
    __builtin_trap();
}

__attribute__((noinline)) void hx_fixture_abort() { std::abort(); }

// Recurses until the stack runs out: the overflow is the point.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winfinite-recursion"
__attribute__((noinline)) int hx_fixture_overflow(int depth) {
    volatile char pad[512];
    pad[0] = static_cast<char>(depth);
    return hx_fixture_overflow(depth + 1) + pad[0];
}
#pragma GCC diagnostic pop

__attribute__((noinline)) int hx_fixture_recurse(int depth, void (*park)(void*), void* context) {
    if (depth <= 1) {
        park(context);
        return gSink;
    }
    int result = hx_fixture_recurse(depth - 1, park, context);
    gSink = gSink + 1;
    return result + 1;
}
}
