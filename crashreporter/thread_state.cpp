#include "crashreporter/thread_state.h"

namespace {

const char* const kX86_64Names[] = {"rip", "rbp", "rsp", "rax", "rbx", "rcx", "rdx", "rdi", "rsi",
                                    "r8",  "r9",  "r10", "r11", "r12", "r13", "r14", "r15"};
const char* const kArm64Names[] = {"pc",  "fp",  "sp",  "x0",  "x1",  "x2",  "x3",  "x4",  "x5",  "x6",  "x7",  "x8",
                                   "x9",  "x10", "x11", "x12", "x13", "x14", "x15", "x16", "x17", "x18", "x19", "x20",
                                   "x21", "x22", "x23", "x24", "x25", "x26", "x27", "x28", "lr",  "cpsr"};
const char* const kArm32Names[] = {"pc", "r7", "sp", "r0",  "r1",  "r2",  "r3", "r4",  "r5",
                                   "r6", "r8", "r9", "r10", "r11", "r12", "lr", "cpsr"};

const int kX86_64CalleeSaved[] = {4, 1, 13, 14, 15, 16};
const int kArm64CalleeSaved[] = {22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 1};
const int kArm32CalleeSaved[] = {7, 8, 9, 1, 10, 12, 13};

// DWARF number -> index.
const int kX86_64Dwarf[] = {3, 6, 5, 4, 8, 7, 1, 2, 9, 10, 11, 12, 13, 14, 15, 16, 0};
const int kArm64Dwarf[] = {3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16, 17, 18,
                           19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 1,  32, 2};
const int kArm32Dwarf[] = {3, 4, 5, 6, 7, 8, 9, 1, 10, 11, 12, 13, 14, 2, 15, 0};

struct ArchTable {
    const char* const* names;
    int count;
    const int* calleeSaved;
    int calleeCount;
    const int* dwarf;
    int dwarfCount;
};

template <typename T, int N>
constexpr int countOf(T (&)[N]) {
    return N;
}

ArchTable table(const zvcrash_async_thread_state* state) {
    switch (state->arch) {
        case ZVCRASH_THREAD_ARCH_ARM64:
            return {kArm64Names, countOf(kArm64Names), kArm64CalleeSaved, countOf(kArm64CalleeSaved),
                    kArm64Dwarf, countOf(kArm64Dwarf)};
        case ZVCRASH_THREAD_ARCH_ARM32:
            return {kArm32Names, countOf(kArm32Names), kArm32CalleeSaved, countOf(kArm32CalleeSaved),
                    kArm32Dwarf, countOf(kArm32Dwarf)};
        default:
            return {kX86_64Names, countOf(kX86_64Names), kX86_64CalleeSaved, countOf(kX86_64CalleeSaved),
                    kX86_64Dwarf, countOf(kX86_64Dwarf)};
    }
}

}  // namespace

void zvcrash_async_thread_state_init(zvcrash_async_thread_state* state, zvcrash_async_thread_arch arch) {
    zvcrash_async_memset(state, 0, sizeof *state);
    state->arch = arch;
    state->stack_direction = ZVCRASH_STACK_DIRECTION_DOWN;
    state->greg_size = arch == ZVCRASH_THREAD_ARCH_ARM32 ? 4 : 8;
}

void zvcrash_async_thread_state_machine_init(zvcrash_async_thread_state* state, const kernel::machine_thread_state* m) {
    if (m->flavor == kernel::ARM_THREAD_STATE64) {
        zvcrash_async_thread_state_init(state, ZVCRASH_THREAD_ARCH_ARM64);
        const auto& s = m->arm64;
        state->regs[0] = s.pc;
        state->regs[1] = s.fp;
        state->regs[2] = s.sp;
        for (int i = 0; i < 29; ++i) state->regs[3 + i] = s.x[i];
        state->regs[32] = s.lr;
        state->regs[33] = s.cpsr;
        state->valid_regs = (1ULL << 34) - 1;
        return;
    }
    zvcrash_async_thread_state_init(state, ZVCRASH_THREAD_ARCH_X86_64);
    const auto& s = m->x86_64;
    const uint64_t values[] = {s.rip, s.rbp, s.rsp, s.rax, s.rbx, s.rcx, s.rdx, s.rdi, s.rsi,
                               s.r8,  s.r9,  s.r10, s.r11, s.r12, s.r13, s.r14, s.r15};
    for (int i = 0; i < 17; ++i) state->regs[i] = values[i];
    state->valid_regs = (1ULL << 17) - 1;
}

void zvcrash_async_thread_state_mcontext_init(zvcrash_async_thread_state* state, const ucontext_t* context) {
    kernel::machine_thread_state machine;
    kernel::thread_state_from_ucontext(context, &machine);
    zvcrash_async_thread_state_machine_init(state, &machine);
}

zvcrash_error_t zvcrash_async_thread_state_mach_thread_init(zvcrash_async_thread_state* state,
                                                            kernel::thread_t thread) {
    kernel::machine_thread_state machine;
    if (kernel::thread_get_state(thread, &machine) != kernel::KERN_SUCCESS) return ZVCRASH_EINTERNAL;
    zvcrash_async_thread_state_machine_init(state, &machine);
    return ZVCRASH_ESUCCESS;
}

void zvcrash_async_thread_state_copy(zvcrash_async_thread_state* dest, const zvcrash_async_thread_state* source) {
    zvcrash_async_memcpy(dest, source, sizeof *dest);
}

const char* zvcrash_async_thread_state_get_reg_name(const zvcrash_async_thread_state* state, int index) {
    ArchTable t = table(state);
    if (index < 0 || index >= t.count) return nullptr;
    return t.names[index];
}

void zvcrash_async_thread_state_clear_volatile_regs(zvcrash_async_thread_state* state) {
    ArchTable t = table(state);
    uint64_t keep = 0;
    for (int i = 0; i < t.calleeCount; ++i) keep |= 1ULL << t.calleeSaved[i];
    state->valid_regs &= keep;
}

bool zvcrash_async_thread_state_map_dwarf_to_reg(const zvcrash_async_thread_state* state, uint64_t dwarf, int* index) {
    ArchTable t = table(state);
    if (dwarf >= static_cast<uint64_t>(t.dwarfCount)) return false;
    *index = t.dwarf[dwarf];
    return true;
}

bool zvcrash_async_thread_state_map_reg_to_dwarf(const zvcrash_async_thread_state* state, int index, uint64_t* dwarf) {
    ArchTable t = table(state);
    for (int i = 0; i < t.dwarfCount; ++i) {
        if (t.dwarf[i] == index) {
            *dwarf = static_cast<uint64_t>(i);
            return true;
        }
    }
    return false;
}
