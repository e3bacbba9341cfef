// The DWARF expression evaluator: the input is the expression block; memory reads land in the
// input itself (a fake task at a fixed base) or fail.
#include <cstddef>
#include <cstdint>

#include "crashreporter/dwarf_unwinder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr uint64_t kBase = 0x100000;
    zvcrash_buffer_task task;
    zvcrash_buffer_task_init(&task, kBase, data, size);
    zvcrash_async_dwarf_source src;
    zvcrash_async_dwarf_source_init(&src, &task.task, kBase, kBase + size);
    zvcrash_async_thread_state state;
    zvcrash_async_thread_state_init(&state, ZVCRASH_THREAD_ARCH_X86_64);
    for (int i = 0; i < 17; i += 2) zvcrash_async_thread_state_set_reg(&state, i, kBase + static_cast<uint64_t>(i));
    const uint64_t initial[1] = {kBase};
    uint64_t result = 0;
    (void)zvcrash_async_dwarf_expression_eval(&src, &task.task, &state, kBase, size, initial, 1, &result);
    zvcrash_async_thread_state_init(&state, ZVCRASH_THREAD_ARCH_ARM64);
    (void)zvcrash_async_dwarf_expression_eval(&src, &task.task, &state, kBase, size, nullptr, 0, &result);
    return 0;
}
