#include "crashreporter/macho_image.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t kSegment32Size = 56;
constexpr size_t kSegment64Size = 72;
constexpr size_t kSection32Size = 68;
constexpr size_t kSection64Size = 80;

uint32_t u32(const zvcrash_async_macho_image* image, const void* p, size_t offset) {
    uint32_t v;
    zvcrash_async_memcpy(&v, static_cast<const uint8_t*>(p) + offset, 4);
    return image->byteorder->swap32(v);
}

uint64_t u64(const zvcrash_async_macho_image* image, const void* p, size_t offset) {
    uint64_t v;
    zvcrash_async_memcpy(&v, static_cast<const uint8_t*>(p) + offset, 8);
    return image->byteorder->swap64(v);
}

bool nameEquals(const void* field16, const char* name) {
    const char* f = static_cast<const char*>(field16);
    size_t n = zvcrash_async_strlen(name);
    if (n > 16) return false;
    for (size_t i = 0; i < n; ++i)
        if (f[i] != name[i]) return false;
    return n == 16 || f[n] == '\0';
}

bool commandReadable(const zvcrash_async_macho_image* image, const void* cmd, size_t length) {
    return zvcrash_async_mobject_verify_local_pointer(&image->load_cmds, reinterpret_cast<uintptr_t>(cmd), 0, length);
}

}  // namespace

zvcrash_error_t zvcrash_async_macho_image_init(zvcrash_async_macho_image* image, const kernel::Task* task,
                                               const char* name, uint64_t header) {
    zvcrash_async_memset(image, 0, sizeof *image);
    image->name = ::strdup(name ? name : "");
    image->task = task;
    image->header_addr = header;
    zvcrash_error_t err = ZVCRASH_ESUCCESS;

    if (zvcrash_async_task_memcpy(task, header, 0, &image->header, sizeof image->header) != ZVCRASH_ESUCCESS) {
        err = ZVCRASH_EINTERNAL;
        goto fail;
    }
    switch (image->header.magic) {
        case ZVCRASH_MH_MAGIC:
            image->m64 = false;
            image->byteorder = zvcrash_async_byteorder_direct();
            break;
        case ZVCRASH_MH_MAGIC_64:
            image->m64 = true;
            image->byteorder = zvcrash_async_byteorder_direct();
            break;
        case ZVCRASH_MH_CIGAM:
            image->m64 = false;
            image->byteorder = zvcrash_async_byteorder_swapped();
            break;
        case ZVCRASH_MH_CIGAM_64:
            image->m64 = true;
            image->byteorder = zvcrash_async_byteorder_swapped();
            break;
        default:
            err = ZVCRASH_EINVAL;
            goto fail;
    }
    image->header_size = image->m64 ? 32 : 28;
    image->ncmds = image->byteorder->swap32(image->header.ncmds);
    {
        const uint32_t sizeofcmds = image->byteorder->swap32(image->header.sizeofcmds);
        if (sizeofcmds == 0) {
            err = ZVCRASH_EINVAL;
            goto fail;
        }
        err = zvcrash_async_mobject_init(&image->load_cmds, task, header + image->header_size, sizeofcmds, true);
        if (err != ZVCRASH_ESUCCESS) goto fail;
    }
    {
        const void* text = zvcrash_async_macho_find_segment_cmd(image, "__TEXT");
        const size_t need = image->m64 ? kSegment64Size : kSegment32Size;
        if (!text || !commandReadable(image, text, need)) {
            err = ZVCRASH_EINVAL;
            zvcrash_async_mobject_free(&image->load_cmds);
            goto fail;
        }
        if (image->m64) {
            image->text_vmaddr = u64(image, text, 24);
            image->text_size = u64(image, text, 32);
        } else {
            image->text_vmaddr = u32(image, text, 24);
            image->text_size = u32(image, text, 28);
        }
        image->vmaddr_slide = static_cast<int64_t>(header - image->text_vmaddr);
    }
    return ZVCRASH_ESUCCESS;

fail:
    std::free(image->name);
    image->name = nullptr;
    return err;
}

void zvcrash_async_macho_image_free(zvcrash_async_macho_image* image) {
    zvcrash_async_mobject_free(&image->load_cmds);
    std::free(image->name);
    image->name = nullptr;
}

bool zvcrash_async_macho_contains_address(const zvcrash_async_macho_image* image, uint64_t address) {
    return address >= image->header_addr && address - image->header_addr < image->text_size;
}

uint32_t zvcrash_async_macho_cpu_type(const zvcrash_async_macho_image* image) {
    return image->byteorder->swap32(image->header.cputype);
}

uint32_t zvcrash_async_macho_cpu_subtype(const zvcrash_async_macho_image* image) {
    return image->byteorder->swap32(image->header.cpusubtype);
}

const void* zvcrash_async_macho_next_command(zvcrash_async_macho_image* image, const void* previous) {
    const zvcrash_async_mobject* window = &image->load_cmds;
    if (!previous) {
        if (window->length < sizeof(zvcrash_macho_load_command)) return nullptr;
        const void* first = reinterpret_cast<const void*>(window->address);
        if (!commandReadable(image, first, sizeof(zvcrash_macho_load_command))) return nullptr;
        if (!commandReadable(image, first, u32(image, first, 4))) return nullptr;
        return first;
    }
    if (!commandReadable(image, previous, sizeof(zvcrash_macho_load_command))) return nullptr;
    const uint32_t size = u32(image, previous, 4);
    if (size < sizeof(zvcrash_macho_load_command)) return nullptr;
    uint64_t next;
    if (!zvcrash_async_address_apply_offset(reinterpret_cast<uintptr_t>(previous), size, &next)) return nullptr;
    const void* cmd = reinterpret_cast<const void*>(static_cast<uintptr_t>(next));
    if (!commandReadable(image, cmd, sizeof(zvcrash_macho_load_command))) return nullptr;
    if (!commandReadable(image, cmd, u32(image, cmd, 4))) return nullptr;
    return cmd;
}

const void* zvcrash_async_macho_find_command(zvcrash_async_macho_image* image, uint32_t type) {
    for (const void* cmd = zvcrash_async_macho_next_command(image, nullptr); cmd;
         cmd = zvcrash_async_macho_next_command(image, cmd)) {
        if (u32(image, cmd, 0) == type) return cmd;
    }
    return nullptr;
}

const void* zvcrash_async_macho_find_segment_cmd(zvcrash_async_macho_image* image, const char* segname) {
    const uint32_t type = image->m64 ? ZVCRASH_LC_SEGMENT_64 : ZVCRASH_LC_SEGMENT;
    const size_t need = image->m64 ? kSegment64Size : kSegment32Size;
    for (const void* cmd = zvcrash_async_macho_next_command(image, nullptr); cmd;
         cmd = zvcrash_async_macho_next_command(image, cmd)) {
        if (u32(image, cmd, 0) != type) continue;
        // A segment command shorter than its own structure is malformed, whatever follows it.
        if (u32(image, cmd, 4) < need || !commandReadable(image, cmd, need)) continue;
        if (nameEquals(static_cast<const uint8_t*>(cmd) + 8, segname)) return cmd;
    }
    return nullptr;
}

bool zvcrash_async_macho_get_uuid(zvcrash_async_macho_image* image, uint8_t uuid[16]) {
    const void* cmd = zvcrash_async_macho_find_command(image, ZVCRASH_LC_UUID);
    if (!cmd || !commandReadable(image, cmd, 24)) return false;
    zvcrash_async_memcpy(uuid, static_cast<const uint8_t*>(cmd) + 8, 16);
    return true;
}

zvcrash_error_t zvcrash_async_macho_map_segment(zvcrash_async_macho_image* image, const char* segname,
                                                zvcrash_async_macho_mapped_segment* segment) {
    zvcrash_async_memset(segment, 0, sizeof *segment);
    const void* cmd = zvcrash_async_macho_find_segment_cmd(image, segname);
    if (!cmd) return ZVCRASH_ENOTFOUND;
    uint64_t vmaddr, vmsize;
    if (image->m64) {
        vmaddr = u64(image, cmd, 24);
        vmsize = u64(image, cmd, 32);
        segment->fileoff = u64(image, cmd, 40);
        segment->filesize = u64(image, cmd, 48);
    } else {
        vmaddr = u32(image, cmd, 24);
        vmsize = u32(image, cmd, 28);
        segment->fileoff = u32(image, cmd, 32);
        segment->filesize = u32(image, cmd, 36);
    }
    uint64_t address;
    if (!zvcrash_async_address_apply_offset(vmaddr, image->vmaddr_slide, &address)) return ZVCRASH_EINVAL;
    return zvcrash_async_mobject_init(&segment->mobj, image->task, address, vmsize, false);
}

void zvcrash_async_macho_mapped_segment_free(zvcrash_async_macho_mapped_segment* segment) {
    zvcrash_async_mobject_free(&segment->mobj);
}

zvcrash_error_t zvcrash_async_macho_map_section(zvcrash_async_macho_image* image, const char* segname,
                                                const char* sectname, zvcrash_async_mobject* mobj) {
    const void* cmd = zvcrash_async_macho_find_segment_cmd(image, segname);
    if (!cmd) return ZVCRASH_ENOTFOUND;
    const size_t segSize = image->m64 ? kSegment64Size : kSegment32Size;
    const size_t sectSize = image->m64 ? kSection64Size : kSection32Size;
    const uint32_t nsects = u32(image, cmd, image->m64 ? 64 : 48);
    if (nsects == 0) return ZVCRASH_ENOTFOUND;
    const auto* cursor = static_cast<const uint8_t*>(cmd) + segSize;
    for (uint32_t i = 0; i < nsects; ++i, cursor += sectSize) {
        if (!commandReadable(image, cursor, sectSize)) return ZVCRASH_EINVAL;
        if (!nameEquals(cursor, sectname)) continue;
        uint64_t addr = image->m64 ? u64(image, cursor, 32) : u32(image, cursor, 32);
        uint64_t size = image->m64 ? u64(image, cursor, 40) : u32(image, cursor, 36);
        uint64_t address;
        if (!zvcrash_async_address_apply_offset(addr, image->vmaddr_slide, &address)) return ZVCRASH_EINVAL;
        return zvcrash_async_mobject_init(mobj, image->task, address, size, true);
    }
    return ZVCRASH_ENOTFOUND;
}

zvcrash_error_t zvcrash_async_macho_symtab_reader_init(zvcrash_async_macho_symtab_reader* reader,
                                                       zvcrash_async_macho_image* image) {
    zvcrash_async_memset(reader, 0, sizeof *reader);
    reader->image = image;
    const void* symtab = zvcrash_async_macho_find_command(image, ZVCRASH_LC_SYMTAB);
    if (!symtab || !commandReadable(image, symtab, 24)) return ZVCRASH_ENOTFOUND;
    const void* dysymtab = zvcrash_async_macho_find_command(image, ZVCRASH_LC_DYSYMTAB);
    if (dysymtab && !commandReadable(image, dysymtab, 24)) dysymtab = nullptr;

    if (zvcrash_async_macho_map_segment(image, "__LINKEDIT", &reader->linkedit) != ZVCRASH_ESUCCESS)
        return ZVCRASH_EINTERNAL;
    const uint32_t symoff = u32(image, symtab, 8);
    const uint32_t nsyms = u32(image, symtab, 12);
    const uint32_t stroff = u32(image, symtab, 16);
    const uint32_t strsize = u32(image, symtab, 20);
    const size_t entrySize = image->m64 ? 16 : 12;
    const uint64_t base = zvcrash_async_mobject_base_address(&reader->linkedit.mobj);
    const uint64_t fileoff = reader->linkedit.fileoff;
    const void* table = nullptr;
    const void* strings = nullptr;
    if (symoff >= fileoff && stroff >= fileoff) {
        table =
            zvcrash_async_mobject_remap_address(&reader->linkedit.mobj, base, static_cast<int64_t>(symoff - fileoff),
                                                static_cast<size_t>(nsyms) * entrySize);
        strings = zvcrash_async_mobject_remap_address(&reader->linkedit.mobj, base,
                                                      static_cast<int64_t>(stroff - fileoff), strsize);
    }
    if (!table || !strings) {
        zvcrash_async_macho_mapped_segment_free(&reader->linkedit);
        return ZVCRASH_EINTERNAL;
    }
    reader->symtab = table;
    reader->nsyms = nsyms;
    reader->string_table = static_cast<const char*>(strings);
    reader->string_table_size = strsize;
    if (dysymtab) {
        const uint64_t ilocal = u32(image, dysymtab, 8), nlocal = u32(image, dysymtab, 12);
        const uint64_t iext = u32(image, dysymtab, 16), next = u32(image, dysymtab, 20);
        if (iext + next > nsyms || ilocal + nlocal > nsyms) {
            zvcrash_async_macho_mapped_segment_free(&reader->linkedit);
            return ZVCRASH_EINVAL;
        }
        reader->symtab_global = static_cast<const uint8_t*>(table) + iext * entrySize;
        reader->nsyms_global = static_cast<uint32_t>(next);
        reader->symtab_local = static_cast<const uint8_t*>(table) + ilocal * entrySize;
        reader->nsyms_local = static_cast<uint32_t>(nlocal);
    }
    return ZVCRASH_ESUCCESS;
}

zvcrash_async_macho_symtab_entry zvcrash_async_macho_symtab_reader_read(zvcrash_async_macho_symtab_reader* reader,
                                                                        const void* table, uint32_t index) {
    zvcrash_async_macho_symtab_entry entry{};
    const zvcrash_async_macho_image* image = reader->image;
    const size_t entrySize = image->m64 ? 16 : 12;
    const auto* p = static_cast<const uint8_t*>(table) + static_cast<size_t>(index) * entrySize;
    if (!zvcrash_async_mobject_verify_local_pointer(&reader->linkedit.mobj, reinterpret_cast<uintptr_t>(p), 0,
                                                    entrySize))
        return entry;
    entry.n_strx = u32(image, p, 0);
    entry.n_type = p[4];
    entry.n_sect = p[5];
    uint16_t desc;
    zvcrash_async_memcpy(&desc, p + 6, 2);
    entry.n_desc = image->byteorder->swap16(desc);
    entry.n_value = image->m64 ? u64(image, p, 8) : u32(image, p, 8);
    entry.normalized_value = entry.n_value;
    if (entry.n_desc & ZVCRASH_N_ARM_THUMB_DEF) entry.normalized_value |= 1;
    return entry;
}

const char* zvcrash_async_macho_symtab_reader_symbol_name(zvcrash_async_macho_symtab_reader* reader, uint32_t n_strx) {
    if (n_strx >= reader->string_table_size) return nullptr;
    for (size_t i = n_strx; i < reader->string_table_size; ++i)
        if (reader->string_table[i] == '\0') return reader->string_table + n_strx;
    return nullptr;
}

void zvcrash_async_macho_symtab_reader_free(zvcrash_async_macho_symtab_reader* reader) {
    zvcrash_async_macho_mapped_segment_free(&reader->linkedit);
}
