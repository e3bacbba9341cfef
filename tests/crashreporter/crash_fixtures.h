// Functions compiled with frame pointers whose frames the crash tests look for in reports.
#pragma once

#include <atomic>

extern "C" {
void hx_fixture_null_write_outer();  // -> middle -> inner, which writes through a null pointer
void hx_fixture_null_write_middle();
void hx_fixture_null_write_inner();
void hx_fixture_trap();              // executes a trap instruction
void hx_fixture_abort();             // calls abort()
int hx_fixture_overflow(int depth);  // recurses until the stack runs out
// Recurses `depth` frames, then calls `park(context)`.
int hx_fixture_recurse(int depth, void (*park)(void*), void* context);
}
