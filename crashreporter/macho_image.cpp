#include "crashreporter/macho_image.h"

#include "crashreporter/async_reader.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

using namespace zvcrash::macho;

namespace {

// Byte-order conversion of whole records, field by field.
struct Swap {
    const zvcrash_async_byteorder* order;
    void operator()(uint16_t& v) const { v = order->swap16(v); }
    void operator()(uint32_t& v) const { v = order->swap32(v); }
    void operator()(int32_t& v) const { v = static_cast<int32_t>(order->swap32(static_cast<uint32_t>(v))); }
    void operator()(uint64_t& v) const { v = order->swap64(v); }
    void operator()(load_command& c) const {
        (*this)(c.cmd);
        (*this)(c.cmdsize);
    }
    void operator()(segment_command& c) const {
        for (uint32_t* f : {&c.cmd, &c.cmdsize, &c.vmaddr, &c.vmsize, &c.fileoff, &c.filesize, &c.nsects, &c.flags})
            (*this)(*f);
        (*this)(c.maxprot);
        (*this)(c.initprot);
    }
    void operator()(segment_command_64& c) const {
        for (uint32_t* f : {&c.cmd, &c.cmdsize, &c.nsects, &c.flags}) (*this)(*f);
        for (uint64_t* f : {&c.vmaddr, &c.vmsize, &c.fileoff, &c.filesize}) (*this)(*f);
        (*this)(c.maxprot);
        (*this)(c.initprot);
    }
    void operator()(section& c) const {
        for (uint32_t* f :
             {&c.addr, &c.size, &c.offset, &c.align, &c.reloff, &c.nreloc, &c.flags, &c.reserved1, &c.reserved2})
            (*this)(*f);
    }
    void operator()(section_64& c) const {
        (*this)(c.addr);
        (*this)(c.size);
        for (uint32_t* f :
             {&c.offset, &c.align, &c.reloff, &c.nreloc, &c.flags, &c.reserved1, &c.reserved2, &c.reserved3})
            (*this)(*f);
    }
    void operator()(symtab_command& c) const {
        for (uint32_t* f : {&c.cmd, &c.cmdsize, &c.symoff, &c.nsyms, &c.stroff, &c.strsize}) (*this)(*f);
    }
    void operator()(dysymtab_command& c) const {
        auto* words = reinterpret_cast<uint32_t*>(&c);
        for (size_t i = 0; i < sizeof c / 4; ++i) (*this)(words[i]);
    }
    void operator()(uuid_command& c) const {
        (*this)(c.cmd);
        (*this)(c.cmdsize);
    }
};

bool nameEquals(const char (&field)[16], const char* name) {
    size_t n = zvcrash_async_strlen(name);
    if (n > 16) return false;
    for (size_t i = 0; i < n; ++i)
        if (field[i] != name[i]) return false;
    return n == 16 || field[n] == '\0';
}

bool commandReadable(const zvcrash_async_macho_image* image, const void* cmd, size_t length) {
    return zvcrash_async_mobject_verify_local_pointer(&image->load_cmds, reinterpret_cast<uintptr_t>(cmd), 0, length);
}

// Reads the whole record T at `at` (a local pointer into the load-command window) and converts it
// from the image's byte order; a record that does not lie in the window is the image's fault.
template <typename T>
bool readRecord(zvcrash_async_macho_image* image, const void* at, T* out, const char* field) {
    const zvcrash_async_mobject* window = &image->load_cmds;
    zvcrash_async_reader r;
    zvcrash_async_reader_init_mobject(&r, window, image->byteorder);
    const uintptr_t local = reinterpret_cast<uintptr_t>(at);
    if (local < window->address) {
        zvcrash_async_fault_set(&image->fault, ZVCRASH_EINVAL, field, window->target);
        return false;
    }
    zvcrash_async_reader_seek(&r, window->target + (local - window->address), field);
    zvcrash_async_reader_copy(&r, out, sizeof(T), field);
    if (!zvcrash_async_reader_ok(&r)) {
        zvcrash_async_fault_set(&image->fault, r.fault.code, r.fault.field, r.fault.address);
        return false;
    }
    Swap{image->byteorder}(*out);
    return true;
}

const void* advance(const void* p, uint64_t by) {
    return reinterpret_cast<const void*>(reinterpret_cast<uintptr_t>(p) + static_cast<uintptr_t>(by));
}

// The segment named `segname` as a 64-bit record (a 32-bit image's record widened), with the
// local pointer to its command.
bool findSegment(zvcrash_async_macho_image* image, const char* segname, segment_command_64* out, const void** cmd_out) {
    const uint32_t type = image->m64 ? LC_SEGMENT_64 : LC_SEGMENT;
    for (const void* cmd = zvcrash_async_macho_next_command(image, nullptr); cmd;
         cmd = zvcrash_async_macho_next_command(image, cmd)) {
        load_command lc;
        if (!readRecord(image, cmd, &lc, "load command") || lc.cmd != type) continue;
        // A segment command shorter than its own structure is malformed, whatever follows it.
        if (image->m64) {
            if (lc.cmdsize < sizeof(segment_command_64) || !readRecord(image, cmd, out, "segment command")) continue;
        } else {
            segment_command seg;
            if (lc.cmdsize < sizeof seg || !readRecord(image, cmd, &seg, "segment command")) continue;
            *out = segment_command_64{seg.cmd,      seg.cmdsize, {},           seg.vmaddr, seg.vmsize, seg.fileoff,
                                      seg.filesize, seg.maxprot, seg.initprot, seg.nsects, seg.flags};
            zvcrash_async_memcpy(out->segname, seg.segname, sizeof seg.segname);
        }
        if (!nameEquals(out->segname, segname)) continue;
        if (cmd_out) *cmd_out = cmd;
        return true;
    }
    return false;
}

}  // namespace

zvcrash_error_t zvcrash_async_macho_image_init(zvcrash_async_macho_image* image, const kernel::Task* task,
                                               const char* name, uint64_t header) {
    zvcrash_async_memset(image, 0, sizeof *image);
    zvcrash_async_fault_clear(&image->fault);
    image->name = ::strdup(name ? name : "");
    image->task = task;
    image->header_addr = header;
    zvcrash_error_t err = ZVCRASH_ESUCCESS;

    if (zvcrash_async_task_memcpy(task, header, 0, &image->header, sizeof image->header) != ZVCRASH_ESUCCESS) {
        zvcrash_async_fault_set(&image->fault, ZVCRASH_EINTERNAL, "Mach-O header", header);
        err = ZVCRASH_EINTERNAL;
        goto fail;
    }
    switch (image->header.magic) {
        case MH_MAGIC:
            image->m64 = false;
            image->byteorder = zvcrash_async_byteorder_direct();
            break;
        case MH_MAGIC_64:
            image->m64 = true;
            image->byteorder = zvcrash_async_byteorder_direct();
            break;
        case MH_CIGAM:
            image->m64 = false;
            image->byteorder = zvcrash_async_byteorder_swapped();
            break;
        case MH_CIGAM_64:
            image->m64 = true;
            image->byteorder = zvcrash_async_byteorder_swapped();
            break;
        default:
            zvcrash_async_fault_set(&image->fault, ZVCRASH_EINVAL, "Mach-O magic", header);
            err = ZVCRASH_EINVAL;
            goto fail;
    }
    image->header_size = image->m64 ? sizeof(mach_header_64) : sizeof(mach_header);
    image->ncmds = image->byteorder->swap32(image->header.ncmds);
    {
        const uint32_t sizeofcmds = image->byteorder->swap32(image->header.sizeofcmds);
        if (sizeofcmds == 0) {
            zvcrash_async_fault_set(&image->fault, ZVCRASH_EINVAL, "sizeofcmds",
                                    header + offsetof(mach_header, sizeofcmds));
            err = ZVCRASH_EINVAL;
            goto fail;
        }
        err = zvcrash_async_mobject_init(&image->load_cmds, task, header + image->header_size, sizeofcmds, true);
        if (err != ZVCRASH_ESUCCESS) {
            zvcrash_async_fault_set(&image->fault, err, "load commands", header + image->header_size);
            goto fail;
        }
    }
    {
        segment_command_64 text;
        if (!findSegment(image, "__TEXT", &text, nullptr)) {
            zvcrash_async_fault_set(&image->fault, ZVCRASH_EINVAL, "__TEXT segment", header + image->header_size);
            err = ZVCRASH_EINVAL;
            zvcrash_async_mobject_free(&image->load_cmds);
            goto fail;
        }
        image->text_vmaddr = text.vmaddr;
        image->text_size = text.vmsize;
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
    const void* cmd = reinterpret_cast<const void*>(window->address);
    if (previous) {
        load_command lc;
        if (!readRecord(image, previous, &lc, "load command")) return nullptr;
        if (lc.cmdsize < sizeof lc) return nullptr;
        uint64_t next;
        if (!zvcrash_async_address_apply_offset(reinterpret_cast<uintptr_t>(previous), lc.cmdsize, &next))
            return nullptr;
        cmd = reinterpret_cast<const void*>(static_cast<uintptr_t>(next));
    }
    // The end of the window ends the walk quietly; a command that overruns it is malformed.
    if (!commandReadable(image, cmd, sizeof(load_command))) return nullptr;
    load_command lc;
    if (!readRecord(image, cmd, &lc, "load command")) return nullptr;
    if (!commandReadable(image, cmd, lc.cmdsize)) {
        zvcrash_async_fault_set(&image->fault, ZVCRASH_EINVAL, "load command size",
                                window->target + (reinterpret_cast<uintptr_t>(cmd) - window->address));
        return nullptr;
    }
    return cmd;
}

const void* zvcrash_async_macho_find_command(zvcrash_async_macho_image* image, uint32_t type) {
    for (const void* cmd = zvcrash_async_macho_next_command(image, nullptr); cmd;
         cmd = zvcrash_async_macho_next_command(image, cmd)) {
        load_command lc;
        if (readRecord(image, cmd, &lc, "load command") && lc.cmd == type) return cmd;
    }
    return nullptr;
}

const void* zvcrash_async_macho_find_segment_cmd(zvcrash_async_macho_image* image, const char* segname) {
    segment_command_64 segment;
    const void* cmd = nullptr;
    return findSegment(image, segname, &segment, &cmd) ? cmd : nullptr;
}

bool zvcrash_async_macho_get_uuid(zvcrash_async_macho_image* image, uint8_t uuid[16]) {
    const void* cmd = zvcrash_async_macho_find_command(image, LC_UUID);
    uuid_command command;
    if (!cmd || !readRecord(image, cmd, &command, "LC_UUID command")) return false;
    zvcrash_async_memcpy(uuid, command.uuid, sizeof command.uuid);
    return true;
}

zvcrash_error_t zvcrash_async_macho_map_segment(zvcrash_async_macho_image* image, const char* segname,
                                                zvcrash_async_macho_mapped_segment* segment) {
    zvcrash_async_memset(segment, 0, sizeof *segment);
    segment_command_64 cmd;
    if (!findSegment(image, segname, &cmd, nullptr)) return ZVCRASH_ENOTFOUND;
    segment->fileoff = cmd.fileoff;
    segment->filesize = cmd.filesize;
    uint64_t address;
    if (!zvcrash_async_address_apply_offset(cmd.vmaddr, image->vmaddr_slide, &address)) return ZVCRASH_EINVAL;
    return zvcrash_async_mobject_init(&segment->mobj, image->task, address, cmd.vmsize, false);
}

void zvcrash_async_macho_mapped_segment_free(zvcrash_async_macho_mapped_segment* segment) {
    zvcrash_async_mobject_free(&segment->mobj);
}

zvcrash_error_t zvcrash_async_macho_find_section(zvcrash_async_macho_image* image, const char* segname,
                                                 const char* sectname, uint64_t* address, uint64_t* size) {
    segment_command_64 segment;
    const void* cmd = nullptr;
    if (!findSegment(image, segname, &segment, &cmd)) return ZVCRASH_ENOTFOUND;
    if (segment.nsects == 0) return ZVCRASH_ENOTFOUND;
    const void* cursor = advance(cmd, image->m64 ? sizeof(segment_command_64) : sizeof(segment_command));
    for (uint32_t i = 0; i < segment.nsects; ++i) {
        uint64_t addr, length;
        if (image->m64) {
            section_64 sect;
            if (!readRecord(image, cursor, &sect, "section")) return ZVCRASH_EINVAL;
            cursor = advance(cursor, sizeof sect);
            if (!nameEquals(sect.sectname, sectname)) continue;
            addr = sect.addr;
            length = sect.size;
        } else {
            section sect;
            if (!readRecord(image, cursor, &sect, "section")) return ZVCRASH_EINVAL;
            cursor = advance(cursor, sizeof sect);
            if (!nameEquals(sect.sectname, sectname)) continue;
            addr = sect.addr;
            length = sect.size;
        }
        if (!zvcrash_async_address_apply_offset(addr, image->vmaddr_slide, address)) return ZVCRASH_EINVAL;
        *size = length;
        return ZVCRASH_ESUCCESS;
    }
    return ZVCRASH_ENOTFOUND;
}

zvcrash_error_t zvcrash_async_macho_map_section(zvcrash_async_macho_image* image, const char* segname,
                                                const char* sectname, zvcrash_async_mobject* mobj) {
    uint64_t address, size;
    zvcrash_error_t err = zvcrash_async_macho_find_section(image, segname, sectname, &address, &size);
    if (err != ZVCRASH_ESUCCESS) return err;
    return zvcrash_async_mobject_init(mobj, image->task, address, size, true);
}

zvcrash_error_t zvcrash_async_macho_symtab_reader_init(zvcrash_async_macho_symtab_reader* reader,
                                                       zvcrash_async_macho_image* image) {
    zvcrash_async_memset(reader, 0, sizeof *reader);
    reader->image = image;
    const void* symtabCmd = zvcrash_async_macho_find_command(image, LC_SYMTAB);
    symtab_command symtab;
    if (!symtabCmd || !readRecord(image, symtabCmd, &symtab, "LC_SYMTAB command")) return ZVCRASH_ENOTFOUND;
    const void* dysymtabCmd = zvcrash_async_macho_find_command(image, LC_DYSYMTAB);
    dysymtab_command dysymtab;
    // An LC_DYSYMTAB shorter than its record is ignored: the whole table is searched instead.
    const bool hasDysymtab = dysymtabCmd && readRecord(image, dysymtabCmd, &dysymtab, "LC_DYSYMTAB command");

    if (zvcrash_async_macho_map_segment(image, "__LINKEDIT", &reader->linkedit) != ZVCRASH_ESUCCESS)
        return ZVCRASH_EINTERNAL;
    const size_t entrySize = image->m64 ? sizeof(nlist_64) : sizeof(nlist);
    const uint64_t base = zvcrash_async_mobject_base_address(&reader->linkedit.mobj);
    const uint64_t fileoff = reader->linkedit.fileoff;
    const void* table = nullptr;
    const void* strings = nullptr;
    if (symtab.symoff >= fileoff && symtab.stroff >= fileoff) {
        table = zvcrash_async_mobject_remap_address(&reader->linkedit.mobj, base,
                                                    static_cast<int64_t>(symtab.symoff - fileoff),
                                                    static_cast<size_t>(symtab.nsyms) * entrySize);
        strings = zvcrash_async_mobject_remap_address(&reader->linkedit.mobj, base,
                                                      static_cast<int64_t>(symtab.stroff - fileoff), symtab.strsize);
    }
    if (!table || !strings) {
        zvcrash_async_fault_set(&image->fault, ZVCRASH_EINTERNAL, table ? "string table" : "symbol table",
                                base + (table ? symtab.stroff : symtab.symoff) - fileoff);
        zvcrash_async_macho_mapped_segment_free(&reader->linkedit);
        return ZVCRASH_EINTERNAL;
    }
    reader->symtab = table;
    reader->nsyms = symtab.nsyms;
    reader->string_table = static_cast<const char*>(strings);
    reader->string_table_size = symtab.strsize;
    if (hasDysymtab) {
        const uint64_t nsyms = symtab.nsyms;
        if (uint64_t(dysymtab.iextdefsym) + dysymtab.nextdefsym > nsyms ||
            uint64_t(dysymtab.ilocalsym) + dysymtab.nlocalsym > nsyms) {
            zvcrash_async_fault_set(&image->fault, ZVCRASH_EINVAL, "LC_DYSYMTAB symbol ranges", 0);
            zvcrash_async_macho_mapped_segment_free(&reader->linkedit);
            return ZVCRASH_EINVAL;
        }
        reader->symtab_global = static_cast<const uint8_t*>(table) + dysymtab.iextdefsym * entrySize;
        reader->nsyms_global = dysymtab.nextdefsym;
        reader->symtab_local = static_cast<const uint8_t*>(table) + dysymtab.ilocalsym * entrySize;
        reader->nsyms_local = dysymtab.nlocalsym;
    }
    return ZVCRASH_ESUCCESS;
}

zvcrash_async_macho_symtab_entry zvcrash_async_macho_symtab_reader_read(zvcrash_async_macho_symtab_reader* reader,
                                                                        const void* table, uint32_t index) {
    zvcrash_async_macho_symtab_entry entry{};
    const zvcrash_async_macho_image* image = reader->image;
    const size_t entrySize = image->m64 ? sizeof(nlist_64) : sizeof(nlist);
    const auto* p = static_cast<const uint8_t*>(table) + static_cast<size_t>(index) * entrySize;
    if (!zvcrash_async_mobject_verify_local_pointer(&reader->linkedit.mobj, reinterpret_cast<uintptr_t>(p), 0,
                                                    entrySize))
        return entry;
    const Swap swap{image->byteorder};
    if (image->m64) {
        nlist_64 n;
        zvcrash_async_memcpy(&n, p, sizeof n);
        entry = {n.n_strx, n.n_type, n.n_sect, n.n_desc, n.n_value, 0};
    } else {
        nlist n;
        zvcrash_async_memcpy(&n, p, sizeof n);
        entry = {n.n_strx, n.n_type, n.n_sect, n.n_desc, n.n_value, 0};
    }
    swap(entry.n_strx);
    swap(entry.n_desc);
    if (image->m64) {
        swap(entry.n_value);
    } else {
        uint32_t v = static_cast<uint32_t>(entry.n_value);
        swap(v);
        entry.n_value = v;
    }
    entry.normalized_value = entry.n_value;
    if (entry.n_desc & N_ARM_THUMB_DEF) entry.normalized_value |= 1;
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
