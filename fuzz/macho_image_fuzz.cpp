// The Mach-O reader over a fake task whose whole memory is the input, mapped at a fixed base.
#include <cstddef>
#include <cstdint>

#include "crashreporter/image_list.h"
#include "crashreporter/macho_image.h"
#include "crashreporter/task_memory.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr uint64_t kBase = 0x100000;
    zvcrash_buffer_task task;
    zvcrash_buffer_task_init(&task, kBase, data, size);
    zvcrash_async_image image;
    if (zvcrash_async_image_init(&image, &task.task, "fuzz", kBase) != ZVCRASH_ESUCCESS) return 0;
    (void)zvcrash_async_image_contains_address(&image, kBase + 1);
    if (image.format == ZVCRASH_IMAGE_FORMAT_MACHO) {
        zvcrash_async_macho_image* macho = &image.macho;
        int commands = 0;
        for (const void* c = zvcrash_async_macho_next_command(macho, nullptr); c && commands < 100000;
             c = zvcrash_async_macho_next_command(macho, c)) {
            ++commands;
        }
        const char* sections[][2] = {{"__TEXT", "__text"},
                                     {"__TEXT", "__unwind_info"},
                                     {"__TEXT", "__eh_frame"},
                                     {"__DATA", "__data"},
                                     {"__DATA", "__objc_classlist"}};
        for (const auto& s : sections) {
            zvcrash_async_mobject mobj;
            if (zvcrash_async_macho_map_section(macho, s[0], s[1], &mobj) == ZVCRASH_ESUCCESS) {
                uint8_t byte;
                (void)zvcrash_async_mobject_read_uint8(&mobj, zvcrash_async_mobject_base_address(&mobj), 0, &byte);
                zvcrash_async_mobject_free(&mobj);
            }
        }
        zvcrash_async_macho_symtab_reader reader;
        if (zvcrash_async_macho_symtab_reader_init(&reader, macho) == ZVCRASH_ESUCCESS) {
            const void* tables[] = {reader.symtab, reader.symtab_global, reader.symtab_local};
            const uint32_t counts[] = {reader.nsyms, reader.nsyms_global, reader.nsyms_local};
            for (int t = 0; t < 3; ++t) {
                for (uint32_t i = 0; tables[t] && i < counts[t] && i < 4096; ++i) {
                    auto entry = zvcrash_async_macho_symtab_reader_read(&reader, tables[t], i);
                    const char* name = zvcrash_async_macho_symtab_reader_symbol_name(&reader, entry.n_strx);
                    if (name) (void)name[0];
                }
            }
            zvcrash_async_macho_symtab_reader_free(&reader);
        }
    }
    zvcrash_async_image_free(&image);
    return 0;
}
