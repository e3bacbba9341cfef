// The call-frame reader over a fake task whose whole memory is the input: every entry is parsed as
// CIE or FDE, and the programs of each FDE found are run and applied to a fixed register state.
#include <cstddef>
#include <cstdint>

#include "crashreporter/dwarf_unwinder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr uint64_t kBase = 0x100000;
    if (size < 1) return 0;
    zvcrash_buffer_task task;
    zvcrash_buffer_task_init(&task, kBase, data, size);
    const bool debugFrame = data[0] & 1;
    zvcrash_async_dwarf_source src;
    zvcrash_async_dwarf_source_init(&src, &task.task, kBase, kBase + size);
    gnu_ehptr_reader reader(true);
    zvcrash_async_thread_state current;
    zvcrash_async_thread_state_init(&current, ZVCRASH_THREAD_ARCH_X86_64);
    for (int i = 0; i < 17; ++i) zvcrash_async_thread_state_set_reg(&current, i, kBase + 8 * static_cast<uint64_t>(i));
    // A handful of probe pcs over the range that FDEs in the input are likely to claim.
    const uint64_t pcs[] = {0, 0x1000, kBase, kBase + size / 2, kBase + 0x40, 0xFFFFFFFFFFFFFFF0ULL};
    for (uint64_t pc : pcs) {
        zvcrash_async_dwarf_fde_info fde;
        zvcrash_async_dwarf_cie_info cie;
        if (zvcrash_async_dwarf_find_fde_linear(&src, &reader, kBase + 1, debugFrame, pc, &fde, &cie) !=
            ZVCRASH_ESUCCESS)
            continue;
        zvcrash_async_thread_state next;
        (void)zvcrash_async_dwarf_unwind_with_fde(&task.task, &src, &reader, &cie, &fde, pc, &current, &next);
    }
    return 0;
}
