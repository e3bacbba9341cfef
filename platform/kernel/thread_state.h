// Machine thread states in the kernel's layout, and the stand-in for reading another thread's
// registers: threads are stopped by a reserved real-time signal whose handler parks a copy of the
// interrupted context in a pre-allocated slot until the stopper lets it go.
#pragma once

#include <cstdint>
#include <ucontext.h>

#include "platform/kernel/mach.h"

namespace kernel {

inline constexpr int x86_THREAD_STATE64 = 4;
inline constexpr int ARM_THREAD_STATE64 = 6;

struct x86_thread_state64_t {
    uint64_t rax, rbx, rcx, rdx, rdi, rsi, rbp, rsp;
    uint64_t r8, r9, r10, r11, r12, r13, r14, r15;
    uint64_t rip, rflags, cs, fs, gs;
};

struct arm_thread_state64_t {
    uint64_t x[29];
    uint64_t fp, lr, sp, pc;
    uint32_t cpsr, pad;
};

struct machine_thread_state {
    int flavor = 0;
    union {
        x86_thread_state64_t x86_64;
        arm_thread_state64_t arm64;
    };
    machine_thread_state() : x86_64{} {}
};

// Copies the general registers of a signal context (this host's layout). Async-signal-safe.
void thread_state_from_ucontext(const ucontext_t* context, machine_thread_state* out);

// --- Other threads ---------------------------------------------------------------------------

inline constexpr int kMaxThreads = 1024;

// The real-time signal reserved for stopping threads.
int thread_stop_signal();

// Installs the stop signal's handler (normal context; idempotent). Must run before any stop.
bool thread_stop_install();

// Lists this process's threads from /proc/self/task with raw system calls. Async-signal-safe.
// Returns the number written (at most `max`), or -1 when the list can't be read.
int task_threads(thread_t* out, int max);

// Stops every listed thread except the caller and waits at most `timeoutMs` for all of them to
// park. Async-signal-safe. Returns the number of threads that parked.
int threads_stop(const thread_t* threads, int count, int timeoutMs);

// Lets every parked thread go. Async-signal-safe.
void threads_resume_all();

// The registers of a parked thread (the stand-in for thread_get_state). KERN_FAILURE when the
// thread is not parked. Async-signal-safe.
kern_return_t thread_get_state(thread_t thread, machine_thread_state* out);

}  // namespace kernel
