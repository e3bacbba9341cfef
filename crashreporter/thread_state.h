// The register state of one stack frame, addressed by a small index that every unwinder shares:
// index 0 is always the instruction pointer, 1 the frame pointer, 2 the stack pointer.
// x86-64: "rip" "rbp" "rsp" "rax" "rbx" "rcx" "rdx" "rdi" "rsi" "r8" ... "r15" (17 registers).
// arm64: "pc" "fp" "sp" "x0" ... "x28" "lr" "cpsr" (34). arm32: "pc" "r7" "sp" "r0" ... (17).
// Async-signal-safe.
#pragma once

#include <cstdint>
#include <ucontext.h>

#include "crashreporter/async_utils.h"
#include "platform/kernel/thread_state.h"

enum zvcrash_async_thread_arch : uint32_t {
    ZVCRASH_THREAD_ARCH_X86_64 = 1,
    ZVCRASH_THREAD_ARCH_ARM64 = 2,
    ZVCRASH_THREAD_ARCH_ARM32 = 3,
};

inline constexpr uint32_t ZVCRASH_STACK_DIRECTION_UP = 1;
inline constexpr uint32_t ZVCRASH_STACK_DIRECTION_DOWN = 2;
inline constexpr int ZVCRASH_REG_IP = 0;
inline constexpr int ZVCRASH_REG_FP = 1;
inline constexpr int ZVCRASH_REG_SP = 2;
inline constexpr int ZVCRASH_REG_ARM64_LR = 32;  // arm64 only
inline constexpr int ZVCRASH_MAX_REGS = 34;

struct zvcrash_async_thread_state {
    uint32_t stack_direction;
    uint64_t greg_size;
    uint64_t valid_regs;
    uint32_t arch;
    uint64_t regs[ZVCRASH_MAX_REGS];
};

// An empty state of an architecture (no register known).
void zvcrash_async_thread_state_init(zvcrash_async_thread_state* state, zvcrash_async_thread_arch arch);
// From a signal context of this host; every register valid.
void zvcrash_async_thread_state_mcontext_init(zvcrash_async_thread_state* state, const ucontext_t* context);
// From a kernel thread state (x86-64 or arm64 flavor); every register valid.
void zvcrash_async_thread_state_machine_init(zvcrash_async_thread_state* state,
                                             const kernel::machine_thread_state* machine);
// Reads a stopped thread's registers; "Internal error" when the thread is not stopped.
zvcrash_error_t zvcrash_async_thread_state_mach_thread_init(zvcrash_async_thread_state* state, kernel::thread_t thread);

void zvcrash_async_thread_state_copy(zvcrash_async_thread_state* dest, const zvcrash_async_thread_state* source);

// The registers of the function it is written in, at that point; every register valid. Unlike a
// signal context from getcontext() it reads no signal mask, so it costs no system call. Inline
// always: its frame and stack pointers must be the caller's.
__attribute__((always_inline)) inline void zvcrash_async_thread_state_capture(zvcrash_async_thread_state* state) {
#if defined(__x86_64__)
    zvcrash_async_thread_state_init(state, ZVCRASH_THREAD_ARCH_X86_64);
    // In the table's order: rip rbp rsp rax rbx rcx rdx rdi rsi r8 ... r15.
    asm volatile("movq %%rbp, 8(%0)\n\t"
                 "movq %%rsp, 16(%0)\n\t"
                 "movq %%rax, 24(%0)\n\t"
                 "movq %%rbx, 32(%0)\n\t"
                 "movq %%rcx, 40(%0)\n\t"
                 "movq %%rdx, 48(%0)\n\t"
                 "movq %%rdi, 56(%0)\n\t"
                 "movq %%rsi, 64(%0)\n\t"
                 "movq %%r8, 72(%0)\n\t"
                 "movq %%r9, 80(%0)\n\t"
                 "movq %%r10, 88(%0)\n\t"
                 "movq %%r11, 96(%0)\n\t"
                 "movq %%r12, 104(%0)\n\t"
                 "movq %%r13, 112(%0)\n\t"
                 "movq %%r14, 120(%0)\n\t"
                 "movq %%r15, 128(%0)\n\t"
                 "leaq 0(%%rip), %%rax\n\t"
                 "movq %%rax, 0(%0)"
                 :
                 : "r"(state->regs)
                 : "rax", "memory");
    state->valid_regs = (1ULL << 17) - 1;
#else
    ucontext_t context;
    ::getcontext(&context);
    zvcrash_async_thread_state_mcontext_init(state, &context);
#endif
}
// A state of the same architecture as `source` with no register known (the frame readers' start
// for the caller's state: only the header is copied, not the register file).
inline void zvcrash_async_thread_state_init_like(zvcrash_async_thread_state* state,
                                                 const zvcrash_async_thread_state* source) {
    state->stack_direction = source->stack_direction;
    state->greg_size = source->greg_size;
    state->valid_regs = 0;
    state->arch = source->arch;
}

// The accessors below are inline: every unwinder step reads and writes registers.
inline int zvcrash_async_thread_state_get_reg_count(const zvcrash_async_thread_state* state) {
    return state->arch == ZVCRASH_THREAD_ARCH_ARM64 ? 34 : 17;
}

inline bool zvcrash_async_thread_state_has_reg(const zvcrash_async_thread_state* state, int index) {
    if (index < 0 || index >= ZVCRASH_MAX_REGS) return false;
    return (state->valid_regs >> index) & 1;
}

inline void zvcrash_async_thread_state_clear_reg(zvcrash_async_thread_state* state, int index) {
    if (index < 0 || index >= ZVCRASH_MAX_REGS) return;
    state->valid_regs &= ~(1ULL << index);
}

inline void zvcrash_async_thread_state_clear_all_regs(zvcrash_async_thread_state* state) { state->valid_regs = 0; }

// An index beyond the table reads 0.
inline uint64_t zvcrash_async_thread_state_get_reg(const zvcrash_async_thread_state* state, int index) {
    if (index < 0 || index >= zvcrash_async_thread_state_get_reg_count(state)) return 0;
    // The code and stack pointers of a 64-bit ARM state may carry pointer-authentication bits
    // above bit 35; the addresses are their low 36 bits.
    constexpr uint64_t kArm64AddressMask = 0xFFFFFFFFFULL;
    if (state->arch == ZVCRASH_THREAD_ARCH_ARM64 && (index == ZVCRASH_REG_IP || index == ZVCRASH_REG_FP ||
                                                     index == ZVCRASH_REG_SP || index == ZVCRASH_REG_ARM64_LR))
        return state->regs[index] & kArm64AddressMask;
    return state->regs[index];
}

// An index beyond the table is ignored.
inline void zvcrash_async_thread_state_set_reg(zvcrash_async_thread_state* state, int index, uint64_t value) {
    if (index < 0 || index >= zvcrash_async_thread_state_get_reg_count(state)) return;
    state->regs[index] = state->greg_size == 4 ? (value & 0xFFFFFFFFULL) : value;
    state->valid_regs |= 1ULL << index;
}

// An index beyond the table has no name (null).
const char* zvcrash_async_thread_state_get_reg_name(const zvcrash_async_thread_state* state, int index);

inline uint32_t zvcrash_async_thread_state_get_stack_direction(const zvcrash_async_thread_state* state) {
    return state->stack_direction;
}

inline uint64_t zvcrash_async_thread_state_get_greg_size(const zvcrash_async_thread_state* state) {
    return state->greg_size;
}
void zvcrash_async_thread_state_clear_volatile_regs(zvcrash_async_thread_state* state);
bool zvcrash_async_thread_state_map_dwarf_to_reg(const zvcrash_async_thread_state* state, uint64_t dwarf, int* index);
// The inverse map, for unwinders that read a register by its DWARF number.
bool zvcrash_async_thread_state_map_reg_to_dwarf(const zvcrash_async_thread_state* state, int index, uint64_t* dwarf);
