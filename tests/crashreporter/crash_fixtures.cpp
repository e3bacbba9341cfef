#include "tests/crashreporter/crash_fixtures.h"

#include <cstdlib>

namespace {
volatile int* volatile gNull = nullptr;
volatile int gSink = 0;
}

extern "C" {

__attribute__((noinline)) void hx_fixture_null_write_inner() {
    *gNull = 42;
    gSink = gSink + 1;
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
    gSink = gSink + 1;
    __builtin_trap();
}

__attribute__((noinline)) void hx_fixture_abort() {
    std::abort();
}

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
