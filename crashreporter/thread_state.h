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
bool zvcrash_async_thread_state_has_reg(const zvcrash_async_thread_state* state, int index);
void zvcrash_async_thread_state_clear_reg(zvcrash_async_thread_state* state, int index);
void zvcrash_async_thread_state_clear_all_regs(zvcrash_async_thread_state* state);
// An index beyond the table reads 0.
uint64_t zvcrash_async_thread_state_get_reg(const zvcrash_async_thread_state* state, int index);
// An index beyond the table is ignored.
void zvcrash_async_thread_state_set_reg(zvcrash_async_thread_state* state, int index, uint64_t value);
int zvcrash_async_thread_state_get_reg_count(const zvcrash_async_thread_state* state);
// An index beyond the table has no name (null).
const char* zvcrash_async_thread_state_get_reg_name(const zvcrash_async_thread_state* state, int index);
uint32_t zvcrash_async_thread_state_get_stack_direction(const zvcrash_async_thread_state* state);
uint64_t zvcrash_async_thread_state_get_greg_size(const zvcrash_async_thread_state* state);
void zvcrash_async_thread_state_clear_volatile_regs(zvcrash_async_thread_state* state);
bool zvcrash_async_thread_state_map_dwarf_to_reg(const zvcrash_async_thread_state* state, uint64_t dwarf, int* index);
// The inverse map, for unwinders that read a register by its DWARF number.
bool zvcrash_async_thread_state_map_reg_to_dwarf(const zvcrash_async_thread_state* state, int index, uint64_t* dwarf);
