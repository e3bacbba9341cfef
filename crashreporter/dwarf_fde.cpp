// CIE and FDE parsing and FDE lookup: the linear scan of a frame section, an ELF image's
// .eh_frame_hdr search table.
#include <elf.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "crashreporter/dwarf_format.h"
#include "crashreporter/dwarf_unwinder.h"

using namespace zvcrash::dwarf;

namespace {

// An entry's header: its length (32-bit, or 64-bit after the extended-length mark), where its
// content starts and where the entry ends, and the width of its id field.
struct EntryHeader {
    uint64_t length;
    uint64_t content;
    uint64_t end;
    bool is64;
};

// Reads the header at the reader's position and leaves the reader at the content. A length that
// wraps the address space or exceeds 2^40 bytes is refused.
EntryHeader readEntryHeader(zvcrash_async_reader* r) {
    EntryHeader h{0, 0, 0, false};
    const uint32_t len32 = zvcrash_async_reader_u32(r, "entry length");
    if (len32 == kExtendedLength) {
        h.length = zvcrash_async_reader_u64(r, "extended entry length");
        h.is64 = true;
    } else {
        h.length = len32;
    }
    h.content = r->pos;
    if (!zvcrash_async_reader_ok(r)) return h;
    if (h.length > (1ULL << 40) ||
        !zvcrash_async_address_apply_offset(h.content, static_cast<int64_t>(h.length), &h.end))
        zvcrash_async_fault_set(&r->fault, ZVCRASH_EINVAL, "entry length", h.content);
    return h;
}

uint64_t idWidth(const EntryHeader& h) { return h.is64 ? 8 : 4; }

// The instructions run from the reader's position to the entry's end; a position past the end
// is a failure of `field`.
zvcrash_error_t instructionsToEnd(zvcrash_async_dwarf_source* src, zvcrash_async_reader* r, const EntryHeader& h,
                                  const char* field, uint64_t* offset, uint64_t* length) {
    if (r->pos > h.end) {
        zvcrash_async_fault_set(&r->fault, ZVCRASH_EINVAL, field, r->pos);
        return zvcrash_async_dwarf_source_failed(src, r);
    }
    *offset = r->pos;
    *length = h.end - r->pos;
    return ZVCRASH_ESUCCESS;
}

}  // namespace

zvcrash_error_t zvcrash_async_dwarf_cie_info_init(zvcrash_async_dwarf_cie_info* info, zvcrash_async_dwarf_source* src,
                                                  const gnu_ehptr_reader* reader, uint64_t address) {
    zvcrash_async_memset(info, 0, sizeof *info);
    zvcrash_async_reader r = zvcrash_async_dwarf_source_reader(src, address);
    const EntryHeader h = readEntryHeader(&r);
    if (!zvcrash_async_reader_ok(&r)) return zvcrash_async_dwarf_source_failed(src, &r);
    info->cie_entry = address;
    info->cie_offset = h.content;
    info->cie_length = h.length;
    info->cie_id = zvcrash_async_reader_uint(&r, static_cast<int>(idWidth(h)), "CIE id");
    if (zvcrash_async_reader_ok(&r) && info->cie_id != 0 &&
        info->cie_id != (h.is64 ? kDebugFrameCieId64 : kDebugFrameCieId32))
        zvcrash_async_fault_set(&r.fault, ZVCRASH_EINVAL, "CIE id", h.content);
    const uint64_t versionAt = r.pos;
    info->cie_version = zvcrash_async_reader_u8(&r, "CIE version");
    if (zvcrash_async_reader_ok(&r) && info->cie_version != 1 && info->cie_version != 3 && info->cie_version != 4)
        zvcrash_async_fault_set(&r.fault, ZVCRASH_EINVAL, "CIE version", versionAt);
    if (!zvcrash_async_reader_ok(&r)) return zvcrash_async_dwarf_source_failed(src, &r);

    // The augmentation string: only its first byte is checked here; its letters are read again
    // below, against the augmentation data.
    const uint64_t augmentation = r.pos;
    const uint8_t first = zvcrash_async_reader_u8(&r, "augmentation string");
    for (uint8_t c = first; c != 0 && zvcrash_async_reader_ok(&r);)
        c = zvcrash_async_reader_u8(&r, "augmentation string");
    if (!zvcrash_async_reader_ok(&r)) return zvcrash_async_dwarf_source_failed(src, &r);
    if (first != 0 && first != 'z') {
        zvcrash_async_fault_set(&r.fault, ZVCRASH_ENOTSUP, "augmentation string", augmentation);
        return zvcrash_async_dwarf_source_failed(src, &r);
    }
    info->has_z = first == 'z';

    if (info->cie_version == 4) {
        info->address_size = zvcrash_async_reader_u8(&r, "address size");
        info->segment_size = zvcrash_async_reader_u8(&r, "segment size");
    }
    info->code_alignment_factor = zvcrash_async_reader_uleb128(&r, "code alignment factor");
    info->data_alignment_factor = zvcrash_async_reader_sleb128(&r, "data alignment factor");
    info->return_address_register = zvcrash_async_reader_uleb128(&r, "return address register");
    if (!zvcrash_async_reader_ok(&r)) return zvcrash_async_dwarf_source_failed(src, &r);

    if (info->has_z) {
        const uint64_t augLength = zvcrash_async_reader_uleb128(&r, "augmentation data length");
        const uint64_t data = r.pos;
        uint64_t dataEnd = 0;
        if (zvcrash_async_reader_ok(&r) &&
            (augLength > h.length ||
             !zvcrash_async_address_apply_offset(data, static_cast<int64_t>(augLength), &dataEnd)))
            zvcrash_async_fault_set(&r.fault, ZVCRASH_EINVAL, "augmentation data length", data);
        if (!zvcrash_async_reader_ok(&r)) return zvcrash_async_dwarf_source_failed(src, &r);
        zvcrash_async_reader letters = zvcrash_async_dwarf_source_reader(src, augmentation + 1);
        for (bool more = true; more;) {
            switch (zvcrash_async_reader_u8(&letters, "augmentation string")) {
                case 'L':
                    info->lsda_encoding = zvcrash_async_reader_u8(&r, "LSDA encoding");
                    info->has_lsda_encoding = true;
                    break;
                case 'P': {
                    const uint8_t enc = zvcrash_async_reader_u8(&r, "personality encoding");
                    info->personality_address = reader->read(&r, enc, "personality pointer");
                    info->has_personality = true;
                    break;
                }
                case 'R':
                    info->pointer_encoding = zvcrash_async_reader_u8(&r, "pointer encoding");
                    info->has_pointer_encoding = true;
                    break;
                case 'S':
                    info->signal_frame = true;
                    break;
                default:
                    more = false;
                    break;
            }
            if (!zvcrash_async_reader_ok(&letters)) return zvcrash_async_dwarf_source_failed(src, &letters);
            if (!zvcrash_async_reader_ok(&r)) return zvcrash_async_dwarf_source_failed(src, &r);
        }
        // Whatever was interpreted, the instructions follow the whole augmentation data.
        r.pos = dataEnd;
    }
    return instructionsToEnd(src, &r, h, "initial instructions", &info->initial_instructions_offset,
                             &info->initial_instructions_length);
}

namespace {

// An FDE at `address` and its CIE; `known(entry)` names a CIE parsed before whose entry lies at
// `entry` (or null), which is copied instead of being read again.
template <typename Known>
zvcrash_error_t initFde(zvcrash_async_dwarf_fde_info* info, zvcrash_async_dwarf_cie_info* cie,
                        zvcrash_async_dwarf_source* src, const gnu_ehptr_reader* reader, uint64_t address,
                        bool debug_frame, uint64_t section_start, Known known) {
    zvcrash_async_memset(info, 0, sizeof *info);
    zvcrash_async_reader r = zvcrash_async_dwarf_source_reader(src, address);
    const EntryHeader h = readEntryHeader(&r);
    if (!zvcrash_async_reader_ok(&r)) return zvcrash_async_dwarf_source_failed(src, &r);
    info->fde_offset = h.content;
    info->fde_length = h.length;
    const uint64_t ciePointer = zvcrash_async_reader_uint(&r, static_cast<int>(idWidth(h)), "CIE pointer");
    if (!zvcrash_async_reader_ok(&r)) return zvcrash_async_dwarf_source_failed(src, &r);
    if (debug_frame) {
        // Relative to the section's start.
        if (static_cast<int64_t>(ciePointer) < 0 ||
            !zvcrash_async_address_apply_offset(section_start, static_cast<int64_t>(ciePointer), &info->cie_offset))
            zvcrash_async_fault_set(&r.fault, ZVCRASH_EINVAL, "CIE pointer", h.content);
    } else {
        // Back from the pointer field itself.
        if (ciePointer > h.content) zvcrash_async_fault_set(&r.fault, ZVCRASH_EINVAL, "CIE pointer", h.content);
        info->cie_offset = h.content - ciePointer;
    }
    if (!zvcrash_async_reader_ok(&r)) return zvcrash_async_dwarf_source_failed(src, &r);
    // A CIE the caller parsed before (an index build meets each one for many FDEs) is not read again.
    if (const zvcrash_async_dwarf_cie_info* known_cie = known(info->cie_offset)) {
        if (cie != known_cie) *cie = *known_cie;
    } else {
        zvcrash_error_t err = zvcrash_async_dwarf_cie_info_init(cie, src, reader, info->cie_offset);
        if (err != ZVCRASH_ESUCCESS) return err;
    }
    const uint8_t encoding = (cie->has_z && cie->has_pointer_encoding) ? cie->pointer_encoding : DW_EH_PE_absptr;
    info->pc_start = reader->read(&r, encoding, "FDE pc start");
    const uint64_t rangeAt = r.pos;
    uint64_t range = reader->read(&r, encoding & DW_EH_PE_format_mask, "FDE pc range");
    if (!zvcrash_async_reader_ok(&r)) return zvcrash_async_dwarf_source_failed(src, &r);
    if (!reader->m64) range &= 0xFFFFFFFFULL;
    info->pc_end = info->pc_start + range;
    if (info->pc_end < info->pc_start) {
        zvcrash_async_fault_set(&r.fault, ZVCRASH_EINVAL, "FDE pc range", rangeAt);
        return zvcrash_async_dwarf_source_failed(src, &r);
    }
    if (cie->has_z) {
        const uint64_t augLength = zvcrash_async_reader_uleb128(&r, "FDE augmentation data length");
        if (zvcrash_async_reader_ok(&r) && augLength > h.length)
            zvcrash_async_reader_fail(&r, ZVCRASH_EINVAL, "FDE augmentation data length");
        zvcrash_async_reader_skip(&r, augLength, "FDE augmentation data");
        if (!zvcrash_async_reader_ok(&r)) return zvcrash_async_dwarf_source_failed(src, &r);
    }
    return instructionsToEnd(src, &r, h, "FDE instructions", &info->instructions_offset, &info->instructions_length);
}

}  // namespace

zvcrash_error_t zvcrash_async_dwarf_fde_info_init(zvcrash_async_dwarf_fde_info* info, zvcrash_async_dwarf_cie_info* cie,
                                                  zvcrash_async_dwarf_source* src, const gnu_ehptr_reader* reader,
                                                  uint64_t address, bool debug_frame, uint64_t section_start,
                                                  const zvcrash_async_dwarf_cie_info* known_cie) {
    return initFde(info, cie, src, reader, address, debug_frame, section_start,
                   [known_cie](uint64_t offset) -> const zvcrash_async_dwarf_cie_info* {
                       return known_cie && known_cie->cie_entry == offset ? known_cie : nullptr;
                   });
}

// One entry of a frame section walk: a CIE (skipped by lookups) or an FDE.
zvcrash_error_t zvcrash_async_dwarf_next_entry(zvcrash_async_dwarf_source* src, uint64_t address, bool debug_frame,
                                               uint64_t* next, bool* is_cie, bool* terminator) {
    zvcrash_async_reader r = zvcrash_async_dwarf_source_reader(src, address);
    const EntryHeader h = readEntryHeader(&r);
    if (!zvcrash_async_reader_ok(&r)) return zvcrash_async_dwarf_source_failed(src, &r);
    *terminator = h.length == 0;
    *next = h.end;
    if (*terminator) return ZVCRASH_ESUCCESS;
    const uint64_t id = zvcrash_async_reader_uint(&r, static_cast<int>(idWidth(h)), "CIE id");
    if (!zvcrash_async_reader_ok(&r)) return zvcrash_async_dwarf_source_failed(src, &r);
    *is_cie = debug_frame ? id == (h.is64 ? kDebugFrameCieId64 : kDebugFrameCieId32) : id == kEhFrameCieId;
    return ZVCRASH_ESUCCESS;
}

zvcrash_error_t zvcrash_async_dwarf_find_fde_linear(zvcrash_async_dwarf_source* src, const gnu_ehptr_reader* reader,
                                                    uint64_t address, bool debug_frame, uint64_t pc,
                                                    zvcrash_async_dwarf_fde_info* fde,
                                                    zvcrash_async_dwarf_cie_info* cie) {
    const uint64_t sectionStart = src->start;
    uint64_t at = address;
    while (at < src->end) {
        uint64_t next;
        bool isCie = false, terminator = false;
        if (zvcrash_async_dwarf_next_entry(src, at, debug_frame, &next, &isCie, &terminator) != ZVCRASH_ESUCCESS)
            return ZVCRASH_EINVAL;
        if (terminator) return ZVCRASH_ENOTFOUND;
        if (!isCie) {
            // An FDE that can't be parsed is passed over: a later one may still cover pc.
            zvcrash_error_t err =
                zvcrash_async_dwarf_fde_info_init(fde, cie, src, reader, at, debug_frame, sectionStart);
            if (err == ZVCRASH_ESUCCESS && fde->pc_start <= pc && pc < fde->pc_end) return ZVCRASH_ESUCCESS;
        }
        at = next;
    }
    return ZVCRASH_ENOTFOUND;
}

namespace {

// The header of an .eh_frame_hdr at `hdr`: where .eh_frame starts, and where its search table
// lies and how many entries it has. "Operation not supported" when there is no table of the
// searchable form, "Not found" when it is empty; *eh_frame is set whenever the header reads.
zvcrash_error_t readSearchHeader(zvcrash_async_dwarf_source* hdrsrc, bool m64, uint64_t hdr, uint64_t* eh_frame,
                                 uint64_t* table, uint64_t* count) {
    zvcrash_async_reader r = zvcrash_async_dwarf_source_reader(hdrsrc, hdr);
    const uint8_t version = zvcrash_async_reader_u8(&r, "search table version");
    const uint8_t frameEncoding = zvcrash_async_reader_u8(&r, "eh_frame pointer encoding");
    const uint8_t countEncoding = zvcrash_async_reader_u8(&r, "table count encoding");
    const uint8_t tableEncoding = zvcrash_async_reader_u8(&r, "table encoding");
    if (zvcrash_async_reader_ok(&r) && version != kEhFrameHdrVersion)
        zvcrash_async_fault_set(&r.fault, ZVCRASH_EINVAL, "search table version", hdr);
    if (!zvcrash_async_reader_ok(&r)) return zvcrash_async_dwarf_source_failed(hdrsrc, &r);
    gnu_ehptr_reader reader(m64);
    reader.has_data_base = true;
    reader.data_base = hdr;
    *eh_frame = reader.read(&r, frameEncoding, "eh_frame pointer");
    if (!zvcrash_async_reader_ok(&r)) return zvcrash_async_dwarf_source_failed(hdrsrc, &r);
    if (countEncoding == DW_EH_PE_omit || tableEncoding == DW_EH_PE_omit) return ZVCRASH_ENOTSUP;
    *count = reader.read(&r, countEncoding, "table count");
    if (!zvcrash_async_reader_ok(&r)) return zvcrash_async_dwarf_source_failed(hdrsrc, &r);
    // Only the fixed-size form (data-relative signed 32-bit pairs) can be binary-searched; every
    // linker writes that one.
    if (tableEncoding != (DW_EH_PE_datarel | DW_EH_PE_sdata4)) return ZVCRASH_ENOTSUP;
    if (*count == 0) return ZVCRASH_ENOTFOUND;
    *table = r.pos;
    if (*count > (hdrsrc->end - *table) / 8) {
        zvcrash_async_fault_set(&r.fault, ZVCRASH_EINVAL, "table count", *table);
        return zvcrash_async_dwarf_source_failed(hdrsrc, &r);
    }
    return ZVCRASH_ESUCCESS;
}

}  // namespace

zvcrash_error_t zvcrash_async_dwarf_eh_frame_hdr_lookup(zvcrash_async_dwarf_source* hdrsrc, bool m64, uint64_t hdr,
                                                        uint64_t pc, uint64_t* eh_frame, uint64_t* fde_address) {
    uint64_t table = 0, count = 0;
    const zvcrash_error_t err = readSearchHeader(hdrsrc, m64, hdr, eh_frame, &table, &count);
    if (err != ZVCRASH_ESUCCESS) return err;
    zvcrash_async_reader r = zvcrash_async_dwarf_source_reader(hdrsrc, table);
    auto startAt = [&](uint64_t i) {
        zvcrash_async_reader_seek(&r, table + i * 8, "table entry");
        return static_cast<int32_t>(zvcrash_async_reader_u32(&r, "table entry start"));
    };
    uint64_t lo = 0, hi = count;  // the answer is the last entry whose start is <= pc
    while (hi - lo > 1 && zvcrash_async_reader_ok(&r)) {
        const uint64_t mid = lo + (hi - lo) / 2;
        if (hdr + static_cast<int64_t>(startAt(mid)) <= pc)
            lo = mid;
        else
            hi = mid;
    }
    const int32_t start = startAt(lo);
    const int32_t fde = static_cast<int32_t>(zvcrash_async_reader_u32(&r, "table entry FDE"));
    if (!zvcrash_async_reader_ok(&r)) return zvcrash_async_dwarf_source_failed(hdrsrc, &r);
    if (hdr + static_cast<int64_t>(start) > pc) return ZVCRASH_ENOTFOUND;
    *fde_address = hdr + static_cast<int64_t>(fde);
    return ZVCRASH_ESUCCESS;
}

namespace {

// The end of the loaded segment that holds `address`, from the image's program headers.
bool segmentEnd(const kernel::Task* task, const zvcrash_async_image* image, uint64_t address, uint64_t* end) {
    // The header and program headers of a listed image of this process lie in its first segment.
    if (image->task == kernel::task_self()) {
        const auto* eh = reinterpret_cast<const Elf64_Ehdr*>(static_cast<uintptr_t>(image->header_addr));
        if (eh->e_phentsize != sizeof(Elf64_Phdr) || eh->e_phnum == 0) return false;
        const auto* ph = reinterpret_cast<const Elf64_Phdr*>(static_cast<uintptr_t>(image->header_addr + eh->e_phoff));
        for (int i = 0; i < eh->e_phnum && i < 256; ++i) {
            if (ph[i].p_type != PT_LOAD) continue;
            const uint64_t lo = image->elf.load_bias + ph[i].p_vaddr;
            const uint64_t hi = lo + ph[i].p_memsz;
            if (address >= lo && address < hi) {
                *end = hi;
                return true;
            }
        }
        return false;
    }
    Elf64_Ehdr eh;
    if (zvcrash_async_task_memcpy(task, image->header_addr, 0, &eh, sizeof eh) != ZVCRASH_ESUCCESS) return false;
    if (eh.e_phentsize != sizeof(Elf64_Phdr) || eh.e_phnum == 0) return false;
    // In batches, one copy each: most images have fewer program headers than one batch holds.
    constexpr int kBatch = 16;
    Elf64_Phdr phdrs[kBatch];
    for (int first = 0; first < eh.e_phnum && first < 256; first += kBatch) {
        const int n = eh.e_phnum - first < kBatch ? eh.e_phnum - first : kBatch;
        if (zvcrash_async_task_memcpy(task, image->header_addr,
                                      static_cast<int64_t>(eh.e_phoff + first * sizeof(Elf64_Phdr)), phdrs,
                                      n * sizeof(Elf64_Phdr)) != ZVCRASH_ESUCCESS) {
            return false;
        }
        for (int i = 0; i < n; ++i) {
            const Elf64_Phdr& ph = phdrs[i];
            if (ph.p_type != PT_LOAD) continue;
            const uint64_t lo = image->elf.load_bias + ph.p_vaddr;
            const uint64_t hi = lo + ph.p_memsz;
            if (address >= lo && address < hi) {
                *end = hi;
                return true;
            }
        }
    }
    return false;
}

// A source over the image's .eh_frame_hdr, read in place for an image of this process; false when
// the header does not lie inside a loaded segment of the image.
bool headerSource(const kernel::Task* task, const zvcrash_async_image* image, zvcrash_async_dwarf_source* src) {
    const uint64_t hdr = image->elf.eh_frame_hdr;
    zvcrash_async_dwarf_source_init(src, task, hdr, hdr + image->elf.eh_frame_hdr_size);
    const bool self = image->task == kernel::task_self();
    // Only what lies inside a loaded segment of the image is read in place.
    uint64_t hdrEnd;
    if (self && (!segmentEnd(task, image, hdr, &hdrEnd) || hdr + image->elf.eh_frame_hdr_size > hdrEnd)) return false;
    src->in_place = self;
    return true;
}

}  // namespace

zvcrash_error_t zvcrash_async_dwarf_elf_find_fde(const kernel::Task* task, const zvcrash_async_image* image,
                                                 uint64_t pc, bool use_table, zvcrash_async_dwarf_source* src,
                                                 zvcrash_async_dwarf_fde_info* fde, zvcrash_async_dwarf_cie_info* cie) {
    if (image->format != ZVCRASH_IMAGE_FORMAT_ELF || image->elf.eh_frame_hdr == 0) return ZVCRASH_ENOTFOUND;
    const uint64_t hdr = image->elf.eh_frame_hdr;
    if (!headerSource(task, image, src)) return ZVCRASH_EINVAL;
    const bool self = src->in_place;
    uint64_t ehFrame = 0, fdeAddress = 0;
    zvcrash_error_t tableErr = zvcrash_async_dwarf_eh_frame_hdr_lookup(src, true, hdr, pc, &ehFrame, &fdeAddress);
    if (tableErr != ZVCRASH_ESUCCESS && tableErr != ZVCRASH_ENOTSUP && tableErr != ZVCRASH_ENOTFOUND) return tableErr;
    if (ehFrame == 0) return ZVCRASH_ENOTFOUND;
    uint64_t end;
    if (!segmentEnd(task, image, ehFrame, &end)) return ZVCRASH_EINVAL;

    // The header's lines stay: the FDE and its CIE get the remaining ones.
    src->start = (self || ehFrame < hdr) ? ehFrame : hdr;
    src->end = end;
    gnu_ehptr_reader reader(true);
    if (use_table && tableErr == ZVCRASH_ENOTFOUND) return ZVCRASH_ENOTFOUND;
    if (use_table && tableErr == ZVCRASH_ESUCCESS) {
        if (fdeAddress < ehFrame) return ZVCRASH_EINVAL;
        zvcrash_error_t err = zvcrash_async_dwarf_fde_info_init(fde, cie, src, &reader, fdeAddress, false, ehFrame);
        if (err != ZVCRASH_ESUCCESS) return err;
        // The table names the last FDE starting at or below pc; pc may still lie past its end.
        return (fde->pc_start <= pc && pc < fde->pc_end) ? ZVCRASH_ESUCCESS : ZVCRASH_ENOTFOUND;
    }
    src->start = ehFrame;
    return zvcrash_async_dwarf_find_fde_linear(src, &reader, ehFrame, false, pc, fde, cie);
}

bool zvcrash_async_dwarf_elf_has_search_table(const kernel::Task* task, const zvcrash_async_image* image) {
    if (image->format != ZVCRASH_IMAGE_FORMAT_ELF || image->elf.eh_frame_hdr == 0) return false;
    zvcrash_async_dwarf_source src;
    if (!headerSource(task, image, &src)) return false;
    uint64_t ehFrame = 0, fdeAddress = 0;
    const zvcrash_error_t err = zvcrash_async_dwarf_eh_frame_hdr_lookup(&src, true, image->elf.eh_frame_hdr,
                                                                        image->header_addr, &ehFrame, &fdeAddress);
    return ehFrame != 0 && (err == ZVCRASH_ESUCCESS || err == ZVCRASH_ENOTFOUND);
}

// ---------------------------------------------------------------------------------------------
// An image's own search table, read in place

struct zvcrash_async_search_table {
    const int32_t* entries;  // [start, FDE] pairs, each relative to hdr
    uint64_t hdr;
    uint64_t count;
    zvcrash_async_dwarf_section section;  // .eh_frame to the end of its segment
    // The CIEs met so far, filled as lookups parse them: a slot goes from empty to being written
    // (claimed by one compare-and-swap) to ready, and never changes again, so a crash-time lookup
    // reads or fills one without a lock or an allocation.
    struct CieSlot {
        std::atomic<uint32_t> state;  // kEmpty, kWriting, kReady
        zvcrash_async_dwarf_cie_info cie;
    };
    static constexpr uint32_t kEmpty = 0, kWriting = 1, kReady = 2;
    static constexpr int kCies = 6;
    CieSlot cies[kCies];

    // The FDEs of the last pcs looked up, by pc: a walk meets the same return addresses again (a
    // recursion, the threads parked in the same calls). Each slot is guarded by a sequence count,
    // odd while a lookup writes it; a reader that sees it change takes the slot as a miss. The pc
    // and the words are stored with release and loaded with acquire, with no separate fence (the
    // thread sanitizer does not model fences): a reader that loads one a writer stored after
    // making the count odd then sees that count, or a later one, on its second look.
    struct PcSlot {
        std::atomic<uint32_t> seq;
        std::atomic<uint64_t> pc;
        // pc_start, pc_end, instructions offset and length, the FDE's offset and length, CIE slot
        std::atomic<uint64_t> words[7];
    };
    static constexpr int kPcs = 8;
    PcSlot pcs[kPcs];

    static PcSlot& pcSlot(PcSlot* slots, uint64_t pc) { return slots[(pc ^ (pc >> 7)) & (kPcs - 1)]; }

    bool recall(uint64_t pc, zvcrash_async_dwarf_fde_info* fde, zvcrash_async_dwarf_cie_info* cie) {
        PcSlot& slot = pcSlot(pcs, pc);
        const uint32_t before = slot.seq.load(std::memory_order_acquire);
        if ((before & 1) || slot.pc.load(std::memory_order_acquire) != pc) return false;
        uint64_t w[7];
        for (int i = 0; i < 7; ++i) w[i] = slot.words[i].load(std::memory_order_acquire);
        if (slot.seq.load(std::memory_order_relaxed) != before || w[6] >= kCies) return false;
        const CieSlot& c = cies[w[6]];
        if (c.state.load(std::memory_order_acquire) != kReady) return false;
        zvcrash_async_memset(fde, 0, sizeof *fde);
        fde->pc_start = w[0];
        fde->pc_end = w[1];
        fde->instructions_offset = w[2];
        fde->instructions_length = w[3];
        fde->fde_offset = w[4];
        fde->fde_length = w[5];
        fde->cie_offset = c.cie.cie_entry;
        *cie = c.cie;
        return true;
    }

    void remember(uint64_t pc, const zvcrash_async_dwarf_fde_info& fde, const zvcrash_async_dwarf_cie_info& cie) {
        const uint64_t cieSlot = static_cast<uint64_t>(slotOf(cie.cie_entry));
        if (cieSlot == kCies) return;
        PcSlot& slot = pcSlot(pcs, pc);
        uint32_t seq = slot.seq.load(std::memory_order_relaxed);
        // Another lookup writing it: leave the slot to that one.
        if ((seq & 1) || !slot.seq.compare_exchange_strong(seq, seq + 1, std::memory_order_acquire)) return;
        slot.pc.store(pc, std::memory_order_release);
        const uint64_t w[7] = {
            fde.pc_start,   fde.pc_end, fde.instructions_offset, fde.instructions_length, fde.fde_offset,
            fde.fde_length, cieSlot};
        for (int i = 0; i < 7; ++i) slot.words[i].store(w[i], std::memory_order_release);
        slot.seq.store(seq + 2, std::memory_order_release);
    }

    // The ready slot of the CIE whose entry lies at entry; kCies when there is none.
    int slotOf(uint64_t entry) const {
        for (int i = 0; i < kCies; ++i)
            if (cies[i].state.load(std::memory_order_acquire) == kReady && cies[i].cie.cie_entry == entry) return i;
        return kCies;
    }
    const zvcrash_async_dwarf_cie_info* known(uint64_t entry) const {
        const int i = slotOf(entry);
        return i < kCies ? &cies[i].cie : nullptr;
    }
    void keep(const zvcrash_async_dwarf_cie_info& cie) {
        for (CieSlot& slot : cies) {
            uint32_t state = slot.state.load(std::memory_order_acquire);
            if (state == kReady && slot.cie.cie_entry == cie.cie_entry) return;
            if (state == kEmpty && slot.state.compare_exchange_strong(state, kWriting, std::memory_order_acquire)) {
                slot.cie = cie;
                slot.state.store(kReady, std::memory_order_release);
                return;
            }
        }
        // Every slot taken: this CIE is parsed at each lookup.
    }
};

zvcrash_async_search_table* zvcrash_dwarf_search_table_build(const zvcrash_async_image* image) {
    // In place only: the table of an image of another task would have to be copied at every probe.
    if (image->format != ZVCRASH_IMAGE_FORMAT_ELF || image->elf.eh_frame_hdr == 0 || image->task != kernel::task_self())
        return nullptr;
    zvcrash_async_dwarf_source src;
    if (!headerSource(image->task, image, &src) || !src.in_place) return nullptr;
    const uint64_t hdr = image->elf.eh_frame_hdr;
    uint64_t ehFrame = 0, table = 0, count = 0, end = 0;
    if (readSearchHeader(&src, true, hdr, &ehFrame, &table, &count) != ZVCRASH_ESUCCESS) return nullptr;
    if (ehFrame == 0 || !segmentEnd(image->task, image, ehFrame, &end) || count > UINT32_MAX || (table & 3) != 0)
        return nullptr;
    auto* t = static_cast<zvcrash_async_search_table*>(std::calloc(1, sizeof(zvcrash_async_search_table)));
    if (!t) return nullptr;
    new (t) zvcrash_async_search_table();
    t->entries = reinterpret_cast<const int32_t*>(static_cast<uintptr_t>(table));
    t->hdr = hdr;
    t->count = count;
    t->section = zvcrash_async_dwarf_section{ehFrame, end, false, true, true};
    return t;
}

void zvcrash_dwarf_search_table_free(zvcrash_async_search_table* table) {
    if (!table) return;
    table->~zvcrash_async_search_table();
    std::free(table);
}

size_t zvcrash_dwarf_search_table_bytes(const zvcrash_async_search_table* table) { return table ? sizeof *table : 0; }

zvcrash_error_t zvcrash_async_dwarf_search_table_lookup(zvcrash_async_search_table* table,
                                                        zvcrash_async_dwarf_source* src, uint64_t pc,
                                                        zvcrash_async_dwarf_fde_info* fde,
                                                        zvcrash_async_dwarf_cie_info* cie) {
    if (table->recall(pc, fde, cie)) {
        zvcrash_async_dwarf_section_source(&table->section, kernel::task_self(), src);
        return ZVCRASH_ESUCCESS;
    }
    const int32_t* e = table->entries;
    const uint64_t hdr = table->hdr;
    uint64_t lo = 0, hi = table->count;  // the last entry whose start is <= pc
    while (hi - lo > 1) {
        const uint64_t mid = lo + (hi - lo) / 2;
        if (hdr + static_cast<int64_t>(e[2 * mid]) <= pc)
            lo = mid;
        else
            hi = mid;
    }
    if (hdr + static_cast<int64_t>(e[2 * lo]) > pc) return ZVCRASH_ENOTFOUND;
    const uint64_t fdeAddress = hdr + static_cast<int64_t>(e[2 * lo + 1]);
    const zvcrash_async_dwarf_section& section = table->section;
    zvcrash_async_dwarf_section_source(&section, kernel::task_self(), src);
    if (fdeAddress < section.start) return ZVCRASH_EINVAL;
    gnu_ehptr_reader reader(true);
    bool cached = false;
    const zvcrash_error_t err = initFde(fde, cie, src, &reader, fdeAddress, false, section.start, [&](uint64_t entry) {
        const zvcrash_async_dwarf_cie_info* known = table->known(entry);
        cached = known != nullptr;
        return known;
    });
    if (err != ZVCRASH_ESUCCESS) return err;
    if (!cached) table->keep(*cie);
    // The table names the last FDE starting at or below pc; pc may still lie past its end.
    if (pc < fde->pc_start || pc >= fde->pc_end) return ZVCRASH_ENOTFOUND;
    table->remember(pc, *fde, *cie);
    return ZVCRASH_ESUCCESS;
}

zvcrash_error_t zvcrash_async_dwarf_find_section(const kernel::Task* task, const zvcrash_async_image* image,
                                                 zvcrash_async_dwarf_section* section) {
    zvcrash_async_memset(section, 0, sizeof *section);
    if (image->format == ZVCRASH_IMAGE_FORMAT_ELF) {
        if (image->elf.eh_frame_hdr == 0) return ZVCRASH_ENOTFOUND;
        const uint64_t hdr = image->elf.eh_frame_hdr;
        zvcrash_async_dwarf_source src;
        if (!headerSource(task, image, &src)) return ZVCRASH_EINVAL;
        const bool self = src.in_place;
        uint64_t ehFrame = 0, unused;
        const zvcrash_error_t err = zvcrash_async_dwarf_eh_frame_hdr_lookup(&src, true, hdr, 0, &ehFrame, &unused);
        if (err != ZVCRASH_ESUCCESS && err != ZVCRASH_ENOTSUP && err != ZVCRASH_ENOTFOUND) return err;
        if (ehFrame == 0) return ZVCRASH_ENOTFOUND;
        uint64_t end;
        if (!segmentEnd(task, image, ehFrame, &end)) return ZVCRASH_EINVAL;
        *section = zvcrash_async_dwarf_section{ehFrame, end, false, self, true};
        return ZVCRASH_ESUCCESS;
    }
    if (image->format != ZVCRASH_IMAGE_FORMAT_MACHO) return ZVCRASH_ENOTFOUND;
    // Only reads: the image's own record is not changed beyond its fault note.
    auto* macho = const_cast<zvcrash_async_macho_image*>(&image->macho);
    uint64_t address = 0, size = 0;
    bool debugFrame = false;
    zvcrash_error_t err = zvcrash_async_macho_find_section(macho, "__TEXT", "__eh_frame", &address, &size);
    if (err == ZVCRASH_ENOTFOUND) {
        debugFrame = true;
        err = zvcrash_async_macho_find_section(macho, "__DWARF", "__debug_frame", &address, &size);
    }
    if (err != ZVCRASH_ESUCCESS) return err;
    uint64_t end;
    if (size == 0 || !zvcrash_async_address_apply_offset(address, static_cast<int64_t>(size), &end))
        return ZVCRASH_ENOTFOUND;
    *section = zvcrash_async_dwarf_section{address, end, debugFrame, false, macho->m64};
    return ZVCRASH_ESUCCESS;
}

void zvcrash_async_dwarf_section_source(const zvcrash_async_dwarf_section* section, const kernel::Task* task,
                                        zvcrash_async_dwarf_source* src) {
    zvcrash_async_dwarf_source_init(src, task, section->start, section->end);
    src->in_place = section->in_place;
}
