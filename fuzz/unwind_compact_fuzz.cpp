// The compact unwind reader over an input taken as an __unwind_info section: every lookup either
// finds an entry or fails cleanly, and every found encoding decodes or is refused.
#include <cstddef>
#include <cstdint>

#include "crashreporter/compact_unwind.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr uint64_t kBase = 0x100000;
    if (size == 0) return 0;
    zvcrash_buffer_task task;
    zvcrash_buffer_task_init(&task, kBase, data, size);
    zvcrash_async_mobject mobj;
    if (zvcrash_async_mobject_init(&mobj, &task.task, kBase, size, true) != ZVCRASH_ESUCCESS) return 0;
    const uint32_t cpus[] = {static_cast<uint32_t>(kernel::CPU_TYPE_X86),
                             static_cast<uint32_t>(kernel::CPU_TYPE_X86_64),
                             static_cast<uint32_t>(kernel::CPU_TYPE_ARM64)};
    for (uint32_t cpu : cpus) {
        zvcrash_async_cfe_reader reader;
        if (zvcrash_async_cfe_reader_init(&reader, &mobj, cpu) != ZVCRASH_ESUCCESS) continue;
        const uint64_t pcs[] = {0, 0x4000, 0x4008, 0x40f0, 0xFFFFFFFF, size};
        for (uint64_t pc : pcs) {
            uint64_t base;
            uint32_t encoding;
            if (zvcrash_async_cfe_reader_find_pc(&reader, pc, &base, &encoding) != ZVCRASH_ESUCCESS) continue;
            zvcrash_async_cfe_entry entry;
            (void)zvcrash_async_cfe_entry_init(&entry, cpu, encoding);
        }
    }
    zvcrash_async_mobject_free(&mobj);
    return 0;
}
