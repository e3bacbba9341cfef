#include "crashreporter/dwarf_unwinder.h"

#include <elf.h>

#include <type_traits>

using namespace zvcrash::MS::async;

// ---------------------------------------------------------------------------------------------
// Source window

void zvcrash_async_dwarf_source_init(zvcrash_async_dwarf_source* src, const kernel::Task* task, uint64_t start,
                                     uint64_t end) {
    src->task = task;
    src->start = start;
    src->end = end < start ? start : end;
    src->in_place = false;
    for (int i = 0; i < zvcrash_async_dwarf_source::kLines; ++i) {
        src->line_base[i] = 0;
        src->line_len[i] = 0;
    }
    src->victim = 0;
}

zvcrash_error_t zvcrash_async_dwarf_source_read(zvcrash_async_dwarf_source* src, uint64_t address, void* dest,
                                                size_t length) {
    if (address < src->start || address > src->end || length > src->end - address) return ZVCRASH_EINVAL;
    if (length == 0) return ZVCRASH_ESUCCESS;
    if (src->in_place) {
        zvcrash_async_memcpy(dest, reinterpret_cast<const void*>(static_cast<uintptr_t>(address)), length);
        return ZVCRASH_ESUCCESS;
    }
    for (int i = 0; i < zvcrash_async_dwarf_source::kLines; ++i) {
        const uint64_t base = src->line_base[i];
        if (src->line_len[i] && address >= base && address - base <= src->line_len[i] &&
            length <= src->line_len[i] - (address - base)) {
            zvcrash_async_memcpy(dest, src->lines[i] + (address - base), length);
            return ZVCRASH_ESUCCESS;
        }
    }
    if (length > zvcrash_async_dwarf_source::kLineSize)
        return zvcrash_async_task_memcpy(src->task, address, 0, dest, length);
    const uint32_t slot = src->victim;
    src->victim = (src->victim + 1) % zvcrash_async_dwarf_source::kLines;
    uint64_t fill = src->end - address;
    if (fill > zvcrash_async_dwarf_source::kLineSize) fill = zvcrash_async_dwarf_source::kLineSize;
    // A line never crosses into the next page unless it must: the page after may be unmapped.
    const uint64_t page = kernel::vm_page_size();
    const uint64_t toPage = page - (address & (page - 1));
    if (fill > toPage && length <= toPage) fill = toPage;
    src->line_len[slot] = 0;
    if (zvcrash_async_task_memcpy(src->task, address, 0, src->lines[slot], fill) != ZVCRASH_ESUCCESS) {
        return zvcrash_async_task_memcpy(src->task, address, 0, dest, length);
    }
    src->line_base[slot] = address;
    src->line_len[slot] = static_cast<uint32_t>(fill);
    zvcrash_async_memcpy(dest, src->lines[slot], length);
    return ZVCRASH_ESUCCESS;
}

namespace {

bool addOffset(uint64_t address, int64_t offset, uint64_t* out) {
    return zvcrash_async_address_apply_offset(address, offset, out);
}

zvcrash_error_t readU8(zvcrash_async_dwarf_source* src, uint64_t address, uint8_t* out) {
    return zvcrash_async_dwarf_source_read(src, address, out, 1);
}

}  // namespace

zvcrash_error_t zvcrash_async_dwarf_read_uintmax(zvcrash_async_dwarf_source* src, uint64_t address, int64_t offset,
                                                 int width, uint64_t* out) {
    uint64_t at;
    if (!addOffset(address, offset, &at)) return ZVCRASH_EINVAL;
    zvcrash_error_t err;
    switch (width) {
        case 1: {
            uint8_t v;
            err = zvcrash_async_dwarf_source_read(src, at, &v, 1);
            *out = v;
            return err;
        }
        case 2: {
            uint16_t v;
            err = zvcrash_async_dwarf_source_read(src, at, &v, 2);
            *out = v;
            return err;
        }
        case 4: {
            uint32_t v;
            err = zvcrash_async_dwarf_source_read(src, at, &v, 4);
            *out = v;
            return err;
        }
        case 8: {
            uint64_t v;
            err = zvcrash_async_dwarf_source_read(src, at, &v, 8);
            *out = v;
            return err;
        }
        default:
            return ZVCRASH_EINVAL;
    }
}

// Both LEB128 forms: the low bits, how many bits were shifted in, and the last byte (whose 0x40
// bit carries the sign of the signed form). At most ten bytes, as a 64-bit value needs.
static zvcrash_error_t readLeb128(zvcrash_async_dwarf_source* src, uint64_t address, int64_t offset, uint64_t* bits,
                                  unsigned* shifted, uint8_t* last, uint64_t* consumed) {
    uint64_t at;
    if (!addOffset(address, offset, &at)) return ZVCRASH_EINVAL;
    uint64_t result = 0;
    unsigned shift = 0;
    for (int i = 0; i < 10; ++i) {
        uint8_t byte;
        if (readU8(src, at + i, &byte) != ZVCRASH_ESUCCESS) return ZVCRASH_EINVAL;
        if (shift < 64) result |= static_cast<uint64_t>(byte & 0x7F) << shift;
        shift += 7;
        if (!(byte & 0x80)) {
            *bits = result;
            *shifted = shift;
            *last = byte;
            *consumed = static_cast<uint64_t>(i) + 1;
            return ZVCRASH_ESUCCESS;
        }
    }
    return ZVCRASH_ENOTSUP;
}

zvcrash_error_t zvcrash_async_dwarf_read_uleb128(zvcrash_async_dwarf_source* src, uint64_t address, int64_t offset,
                                                 uint64_t* out, uint64_t* consumed) {
    unsigned shift;
    uint8_t last;
    return readLeb128(src, address, offset, out, &shift, &last, consumed);
}

zvcrash_error_t zvcrash_async_dwarf_read_sleb128(zvcrash_async_dwarf_source* src, uint64_t address, int64_t offset,
                                                 int64_t* out, uint64_t* consumed) {
    uint64_t result;
    unsigned shift;
    uint8_t last;
    zvcrash_error_t err = readLeb128(src, address, offset, &result, &shift, &last, consumed);
    if (err != ZVCRASH_ESUCCESS) return err;
    if (shift < 64 && (last & 0x40)) result |= ~0ULL << shift;
    *out = static_cast<int64_t>(result);
    return ZVCRASH_ESUCCESS;
}

namespace {

// Reads the LEB128 operand at `at`, which must end before `end`, and moves `at` past it: the
// instruction streams of CFA programs and expressions are bounded by their own length.
template <typename T>
zvcrash_error_t readBoundedLeb128(zvcrash_async_dwarf_source* src, uint64_t& at, uint64_t end, T* out) {
    if (at >= end) return ZVCRASH_EINVAL;
    uint64_t n = 0;
    zvcrash_error_t err;
    if constexpr (std::is_signed_v<T>) {
        err = zvcrash_async_dwarf_read_sleb128(src, at, 0, out, &n);
    } else {
        err = zvcrash_async_dwarf_read_uleb128(src, at, 0, out, &n);
    }
    if (err != ZVCRASH_ESUCCESS) return err;
    if (n > end - at) return ZVCRASH_EINVAL;
    at += n;
    return ZVCRASH_ESUCCESS;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Pointer reader

gnu_ehptr_reader::gnu_ehptr_reader(bool is64)
    : m64(is64),
      has_frame_section_base(false),
      frame_section_base(0),
      has_text_base(false),
      text_base(0),
      has_data_base(false),
      data_base(0),
      has_func_base(false),
      func_base(0) {}

zvcrash_error_t gnu_ehptr_reader::read(zvcrash_async_dwarf_source* src, uint64_t address, int64_t offset,
                                       uint8_t encoding, uint64_t* value, uint64_t* consumed) const {
    if (encoding == ZVCRASH_DW_EH_PE_omit) return ZVCRASH_ENOTFOUND;
    uint64_t at;
    if (!addOffset(address, offset, &at)) return ZVCRASH_EINVAL;
    const uint64_t width = m64 ? 8 : 4;
    uint64_t base = 0;
    uint64_t skip = 0;
    switch (encoding & 0x70) {
        case 0x00:
            break;
        case 0x10:
            base = at;
            break;
        case 0x20:
            if (!has_text_base) return ZVCRASH_ENOTSUP;
            base = text_base;
            break;
        case 0x30:
            if (!has_data_base) return ZVCRASH_ENOTSUP;
            base = data_base;
            break;
        case 0x40:
            if (!has_func_base) return ZVCRASH_ENOTSUP;
            base = func_base;
            break;
        case 0x50: {
            if (!has_frame_section_base) return ZVCRASH_ENOTSUP;
            const uint64_t rel = at - frame_section_base;
            const uint64_t aligned = (rel + width - 1) & ~(width - 1);
            skip = aligned - rel;
            at += skip;
            break;
        }
        default:
            return ZVCRASH_ENOTSUP;
    }
    uint64_t raw = 0;
    uint64_t n = 0;
    zvcrash_error_t err = ZVCRASH_ESUCCESS;
    switch (encoding & 0x0F) {
        case 0x00:
            err = zvcrash_async_dwarf_read_uintmax(src, at, 0, static_cast<int>(width), &raw);
            n = width;
            break;
        case 0x01:
            err = zvcrash_async_dwarf_read_uleb128(src, at, 0, &raw, &n);
            break;
        case 0x02:
            err = zvcrash_async_dwarf_read_uintmax(src, at, 0, 2, &raw);
            n = 2;
            break;
        case 0x03:
            err = zvcrash_async_dwarf_read_uintmax(src, at, 0, 4, &raw);
            n = 4;
            break;
        case 0x04:
            err = zvcrash_async_dwarf_read_uintmax(src, at, 0, 8, &raw);
            n = 8;
            break;
        case 0x09: {
            int64_t s;
            err = zvcrash_async_dwarf_read_sleb128(src, at, 0, &s, &n);
            raw = static_cast<uint64_t>(s);
            break;
        }
        case 0x0A:
            err = zvcrash_async_dwarf_read_uintmax(src, at, 0, 2, &raw);
            raw = static_cast<uint64_t>(static_cast<int64_t>(static_cast<int16_t>(raw)));
            n = 2;
            break;
        case 0x0B:
            err = zvcrash_async_dwarf_read_uintmax(src, at, 0, 4, &raw);
            raw = static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(raw)));
            n = 4;
            break;
        case 0x0C:
            err = zvcrash_async_dwarf_read_uintmax(src, at, 0, 8, &raw);
            n = 8;
            break;
        default:
            return ZVCRASH_ENOTSUP;
    }
    if (err != ZVCRASH_ESUCCESS) return err;
    uint64_t result = base + raw;
    if (!m64) result &= 0xFFFFFFFFULL;
    if (encoding & ZVCRASH_DW_EH_PE_indirect) {
        if (m64) {
            uint64_t word;
            if (zvcrash_async_task_memcpy(src->task, result, 0, &word, 8) != ZVCRASH_ESUCCESS) return ZVCRASH_EINVAL;
            result = word;
        } else {
            uint32_t word;
            if (zvcrash_async_task_memcpy(src->task, result, 0, &word, 4) != ZVCRASH_ESUCCESS) return ZVCRASH_EINVAL;
            result = word;
        }
    }
    *value = result;
    *consumed = n + skip;
    return ZVCRASH_ESUCCESS;
}

// ---------------------------------------------------------------------------------------------
// CIE and FDE

namespace {

// Reads an entry's length; sets the content address, the address just past the entry and the id
// width. A length that wraps the address space or exceeds 2^40 bytes is refused.
zvcrash_error_t readEntryHeader(zvcrash_async_dwarf_source* src, uint64_t address, uint64_t* length, uint64_t* content,
                                uint64_t* end, bool* is64) {
    uint64_t len32;
    if (zvcrash_async_dwarf_read_uintmax(src, address, 0, 4, &len32) != ZVCRASH_ESUCCESS) return ZVCRASH_EINVAL;
    if (len32 == 0xFFFFFFFFULL) {
        if (zvcrash_async_dwarf_read_uintmax(src, address, 4, 8, length) != ZVCRASH_ESUCCESS) return ZVCRASH_EINVAL;
        *content = address + 12;
        *is64 = true;
    } else {
        *length = len32;
        *content = address + 4;
        *is64 = false;
    }
    if (*content < address) return ZVCRASH_EINVAL;
    if (!addOffset(*content, static_cast<int64_t>(*length), end) || *length > (1ULL << 40)) return ZVCRASH_EINVAL;
    return ZVCRASH_ESUCCESS;
}

}  // namespace

zvcrash_error_t zvcrash_async_dwarf_cie_info_init(zvcrash_async_dwarf_cie_info* info, zvcrash_async_dwarf_source* src,
                                                  const gnu_ehptr_reader* reader, uint64_t address) {
    zvcrash_async_memset(info, 0, sizeof *info);
    uint64_t length, content;
    bool is64;
    uint64_t end;
    zvcrash_error_t err = readEntryHeader(src, address, &length, &content, &end, &is64);
    if (err != ZVCRASH_ESUCCESS) return err;
    info->cie_offset = content;
    info->cie_length = length;
    uint64_t at = content;
    if (zvcrash_async_dwarf_read_uintmax(src, at, 0, is64 ? 8 : 4, &info->cie_id) != ZVCRASH_ESUCCESS)
        return ZVCRASH_EINVAL;
    if (info->cie_id != 0 && info->cie_id != (is64 ? ~0ULL : 0xFFFFFFFFULL)) return ZVCRASH_EINVAL;
    at += is64 ? 8 : 4;
    if (readU8(src, at++, &info->cie_version) != ZVCRASH_ESUCCESS) return ZVCRASH_EINVAL;
    if (info->cie_version != 1 && info->cie_version != 3 && info->cie_version != 4) return ZVCRASH_EINVAL;

    // The augmentation string: only its first bytes matter; its letters are read again below.
    const uint64_t augmentation = at;
    uint8_t c;
    for (;;) {
        if (readU8(src, at, &c) != ZVCRASH_ESUCCESS) return ZVCRASH_EINVAL;
        ++at;
        if (c == 0) break;
    }
    uint8_t first = 0;
    readU8(src, augmentation, &first);
    if (first != 0 && first != 'z') return ZVCRASH_ENOTSUP;
    info->has_z = first == 'z';

    if (info->cie_version == 4) {
        if (readU8(src, at++, &info->address_size) != ZVCRASH_ESUCCESS) return ZVCRASH_EINVAL;
        if (readU8(src, at++, &info->segment_size) != ZVCRASH_ESUCCESS) return ZVCRASH_EINVAL;
    }
    uint64_t n;
    if ((err = zvcrash_async_dwarf_read_uleb128(src, at, 0, &info->code_alignment_factor, &n)) != ZVCRASH_ESUCCESS)
        return err;
    at += n;
    if ((err = zvcrash_async_dwarf_read_sleb128(src, at, 0, &info->data_alignment_factor, &n)) != ZVCRASH_ESUCCESS)
        return err;
    at += n;
    if ((err = zvcrash_async_dwarf_read_uleb128(src, at, 0, &info->return_address_register, &n)) != ZVCRASH_ESUCCESS)
        return err;
    at += n;

    if (info->has_z) {
        uint64_t augLength;
        if ((err = zvcrash_async_dwarf_read_uleb128(src, at, 0, &augLength, &n)) != ZVCRASH_ESUCCESS) return err;
        at += n;
        uint64_t data = at;
        uint64_t dataEnd;
        if (!addOffset(at, static_cast<int64_t>(augLength), &dataEnd) || augLength > length) return ZVCRASH_EINVAL;
        for (uint64_t letter = augmentation + 1;; ++letter) {
            if (readU8(src, letter, &c) != ZVCRASH_ESUCCESS) return ZVCRASH_EINVAL;
            if (c == 'L') {
                if (readU8(src, data++, &info->lsda_encoding) != ZVCRASH_ESUCCESS) return ZVCRASH_EINVAL;
                info->has_lsda_encoding = true;
            } else if (c == 'P') {
                uint8_t enc;
                if (readU8(src, data++, &enc) != ZVCRASH_ESUCCESS) return ZVCRASH_EINVAL;
                if ((err = reader->read(src, data, 0, enc, &info->personality_address, &n)) != ZVCRASH_ESUCCESS)
                    return err;
                data += n;
                info->has_personality = true;
            } else if (c == 'R') {
                if (readU8(src, data++, &info->pointer_encoding) != ZVCRASH_ESUCCESS) return ZVCRASH_EINVAL;
                info->has_pointer_encoding = true;
            } else if (c == 'S') {
                info->signal_frame = true;
            } else {
                break;
            }
        }
        at = dataEnd;
    }
    if (at > end) return ZVCRASH_EINVAL;
    info->initial_instructions_offset = at;
    info->initial_instructions_length = end - at;
    return ZVCRASH_ESUCCESS;
}

zvcrash_error_t zvcrash_async_dwarf_fde_info_init(zvcrash_async_dwarf_fde_info* info, zvcrash_async_dwarf_cie_info* cie,
                                                  zvcrash_async_dwarf_source* src, const gnu_ehptr_reader* reader,
                                                  uint64_t address, bool debug_frame, uint64_t section_start) {
    zvcrash_async_memset(info, 0, sizeof *info);
    uint64_t length, content;
    bool is64;
    uint64_t end;
    zvcrash_error_t err = readEntryHeader(src, address, &length, &content, &end, &is64);
    if (err != ZVCRASH_ESUCCESS) return err;
    info->fde_offset = content;
    info->fde_length = length;
    uint64_t ciePointer;
    const int idWidth = is64 ? 8 : 4;
    if (zvcrash_async_dwarf_read_uintmax(src, content, 0, idWidth, &ciePointer) != ZVCRASH_ESUCCESS)
        return ZVCRASH_EINVAL;
    if (debug_frame) {
        if (!addOffset(section_start, static_cast<int64_t>(ciePointer), &info->cie_offset) ||
            static_cast<int64_t>(ciePointer) < 0) {
            return ZVCRASH_EINVAL;
        }
    } else {
        if (ciePointer > content) return ZVCRASH_EINVAL;
        info->cie_offset = content - ciePointer;
    }
    if ((err = zvcrash_async_dwarf_cie_info_init(cie, src, reader, info->cie_offset)) != ZVCRASH_ESUCCESS) return err;
    const uint8_t encoding = (cie->has_z && cie->has_pointer_encoding) ? cie->pointer_encoding : 0;
    uint64_t at = content + idWidth;
    uint64_t n;
    if ((err = reader->read(src, at, 0, encoding, &info->pc_start, &n)) != ZVCRASH_ESUCCESS) return err;
    at += n;
    uint64_t range;
    if ((err = reader->read(src, at, 0, encoding & 0x0F, &range, &n)) != ZVCRASH_ESUCCESS) return err;
    at += n;
    if (!reader->m64) range &= 0xFFFFFFFFULL;
    info->pc_end = info->pc_start + range;
    if (info->pc_end < info->pc_start) return ZVCRASH_EINVAL;
    if (cie->has_z) {
        uint64_t augLength;
        if ((err = zvcrash_async_dwarf_read_uleb128(src, at, 0, &augLength, &n)) != ZVCRASH_ESUCCESS) return err;
        at += n;
        if (augLength > length || at + augLength < at) return ZVCRASH_EINVAL;
        at += augLength;
    }
    if (at > end) return ZVCRASH_EINVAL;
    info->instructions_offset = at;
    info->instructions_length = end - at;
    return ZVCRASH_ESUCCESS;
}

zvcrash_error_t zvcrash_async_dwarf_find_fde_linear(zvcrash_async_dwarf_source* src, const gnu_ehptr_reader* reader,
                                                    uint64_t address, bool debug_frame, uint64_t pc,
                                                    zvcrash_async_dwarf_fde_info* fde,
                                                    zvcrash_async_dwarf_cie_info* cie) {
    const uint64_t sectionStart = src->start;
    uint64_t at = address;
    while (at < src->end) {
        uint64_t length, content;
        bool is64;
        uint64_t next;
        if (readEntryHeader(src, at, &length, &content, &next, &is64) != ZVCRASH_ESUCCESS) return ZVCRASH_EINVAL;
        if (length == 0) return ZVCRASH_ENOTFOUND;
        uint64_t id;
        if (zvcrash_async_dwarf_read_uintmax(src, content, 0, is64 ? 8 : 4, &id) != ZVCRASH_ESUCCESS)
            return ZVCRASH_EINVAL;
        const bool isCie = debug_frame ? id == (is64 ? ~0ULL : 0xFFFFFFFFULL) : id == 0;
        if (!isCie) {
            zvcrash_error_t err =
                zvcrash_async_dwarf_fde_info_init(fde, cie, src, reader, at, debug_frame, sectionStart);
            if (err == ZVCRASH_ESUCCESS && fde->pc_start <= pc && pc < fde->pc_end) return ZVCRASH_ESUCCESS;
        }
        at = next;
    }
    return ZVCRASH_ENOTFOUND;
}

zvcrash_error_t zvcrash_async_dwarf_eh_frame_hdr_lookup(zvcrash_async_dwarf_source* hdrsrc, bool m64, uint64_t hdr,
                                                        uint64_t pc, uint64_t* eh_frame, uint64_t* fde_address) {
    uint8_t head[4];
    if (zvcrash_async_dwarf_source_read(hdrsrc, hdr, head, 4) != ZVCRASH_ESUCCESS) return ZVCRASH_EINVAL;
    if (head[0] != 1) return ZVCRASH_EINVAL;
    gnu_ehptr_reader reader(m64);
    reader.has_data_base = true;
    reader.data_base = hdr;
    uint64_t at = hdr + 4, n;
    zvcrash_error_t err = reader.read(hdrsrc, at, 0, head[1], eh_frame, &n);
    if (err != ZVCRASH_ESUCCESS) return err;
    at += n;
    uint64_t count = 0;
    if (head[2] == ZVCRASH_DW_EH_PE_omit || head[3] == ZVCRASH_DW_EH_PE_omit) return ZVCRASH_ENOTSUP;
    if ((err = reader.read(hdrsrc, at, 0, head[2], &count, &n)) != ZVCRASH_ESUCCESS) return err;
    at += n;
    // Only the fixed-size form (data-relative signed 32-bit pairs) can be binary-searched; every
    // linker writes that one.
    if (head[3] != 0x3B) return ZVCRASH_ENOTSUP;
    if (count == 0) return ZVCRASH_ENOTFOUND;
    if (count > (hdrsrc->end - at) / 8) return ZVCRASH_EINVAL;
    uint64_t lo = 0, hi = count;  // the answer is the last entry whose start is <= pc
    int32_t pair[2];
    while (hi - lo > 1) {
        const uint64_t mid = lo + (hi - lo) / 2;
        if (zvcrash_async_dwarf_source_read(hdrsrc, at + mid * 8, pair, 4) != ZVCRASH_ESUCCESS) return ZVCRASH_EINVAL;
        if (hdr + static_cast<int64_t>(pair[0]) <= pc)
            lo = mid;
        else
            hi = mid;
    }
    if (zvcrash_async_dwarf_source_read(hdrsrc, at + lo * 8, pair, 8) != ZVCRASH_ESUCCESS) return ZVCRASH_EINVAL;
    if (hdr + static_cast<int64_t>(pair[0]) > pc) return ZVCRASH_ENOTFOUND;
    *fde_address = hdr + static_cast<int64_t>(pair[1]);
    return ZVCRASH_ESUCCESS;
}

// ---------------------------------------------------------------------------------------------
// Rule state

dwarf_cfa_state::dwarf_cfa_state() : level_(0) {
    for (int i = 0; i < kEntries; ++i) entries_[i].next = static_cast<uint8_t>(i + 1 < kEntries ? i + 1 : kNone);
    free_ = 0;
    for (auto& l : levels_) {
        l.cfa = dwarf_cfa_rule{DWARF_CFA_RULE_UNDEFINED, 0, 0, 0, 0};
        l.count = 0;
        for (auto& b : l.buckets) b = kNone;
    }
}

uint8_t dwarf_cfa_state::alloc() {
    const uint8_t e = free_;
    if (e != kNone) free_ = entries_[e].next;
    return e;
}

void dwarf_cfa_state::release_level(int level) {
    level_state& l = levels_[level];
    for (auto& b : l.buckets) {
        while (b != kNone) {
            const uint8_t e = b;
            b = entries_[e].next;
            entries_[e].next = free_;
            free_ = e;
        }
    }
    l.count = 0;
}

bool dwarf_cfa_state::set_register(uint32_t reg, dwarf_cfa_reg_rule_t rule, int64_t value) {
    level_state& l = levels_[level_];
    uint8_t* link = &l.buckets[reg % kBuckets];
    while (*link != kNone) {
        entry& e = entries_[*link];
        if (e.reg == reg) {
            e.rule = rule;
            e.value = value;
            return true;
        }
        link = &e.next;
    }
    const uint8_t e = alloc();
    if (e == kNone) return false;
    entries_[e] = entry{value, reg, rule, kNone};
    *link = e;
    ++l.count;
    return true;
}

bool dwarf_cfa_state::get_register_rule(uint32_t reg, dwarf_cfa_reg_rule_t* rule, int64_t* value) const {
    for (uint8_t e = levels_[level_].buckets[reg % kBuckets]; e != kNone; e = entries_[e].next) {
        if (entries_[e].reg == reg) {
            *rule = entries_[e].rule;
            *value = entries_[e].value;
            return true;
        }
    }
    return false;
}

void dwarf_cfa_state::remove_register(uint32_t reg) {
    level_state& l = levels_[level_];
    uint8_t* link = &l.buckets[reg % kBuckets];
    while (*link != kNone) {
        const uint8_t e = *link;
        if (entries_[e].reg == reg) {
            *link = entries_[e].next;
            entries_[e].next = free_;
            free_ = e;
            --l.count;
            return;
        }
        link = &entries_[e].next;
    }
}

void dwarf_cfa_state::set_cfa_register(uint32_t reg, uint64_t offset) {
    levels_[level_].cfa = dwarf_cfa_rule{DWARF_CFA_RULE_REGISTER, reg, static_cast<int64_t>(offset), 0, 0};
}

void dwarf_cfa_state::set_cfa_register_signed(uint32_t reg, int64_t offset) {
    levels_[level_].cfa = dwarf_cfa_rule{DWARF_CFA_RULE_REGISTER_SIGNED, reg, offset, 0, 0};
}

void dwarf_cfa_state::set_cfa_expression(uint64_t address, uint64_t length) {
    levels_[level_].cfa = dwarf_cfa_rule{DWARF_CFA_RULE_EXPRESSION, 0, 0, address, length};
}

bool dwarf_cfa_state::push_state() {
    if (level_ + 1 >= kLevels) return false;
    level_state& from = levels_[level_];
    level_state& to = levels_[level_ + 1];
    to.cfa = from.cfa;
    to.count = 0;
    for (auto& b : to.buckets) b = kNone;
    for (int b = 0; b < kBuckets; ++b) {
        uint8_t* link = &to.buckets[b];
        for (uint8_t e = from.buckets[b]; e != kNone; e = entries_[e].next) {
            const uint8_t copy = alloc();
            if (copy == kNone) {
                release_level(level_ + 1);
                return false;
            }
            entries_[copy] = entry{entries_[e].value, entries_[e].reg, entries_[e].rule, kNone};
            *link = copy;
            link = &entries_[copy].next;
            ++to.count;
        }
    }
    ++level_;
    return true;
}

bool dwarf_cfa_state::pop_state() {
    if (level_ == 0) return false;
    release_level(level_);
    --level_;
    return true;
}

bool dwarf_cfa_state::iterator::next(uint32_t* reg, dwarf_cfa_reg_rule_t* rule, int64_t* value) {
    const level_state& l = state->levels_[state->level_];
    if (entry != kNone) entry = state->entries_[entry].next;
    while (entry == kNone) {
        if (++bucket >= kBuckets) return false;
        entry = l.buckets[bucket];
    }
    const auto& e = state->entries_[entry];
    *reg = e.reg;
    *rule = e.rule;
    *value = e.value;
    return true;
}

zvcrash_error_t dwarf_cfa_state::eval_program(zvcrash_async_dwarf_source* src, uint64_t pc, uint64_t pc_start,
                                              const zvcrash_async_dwarf_cie_info* cie, const gnu_ehptr_reader* reader,
                                              uint64_t address, uint64_t length) {
    uint64_t end;
    if (!addOffset(address, static_cast<int64_t>(length), &end) || end > src->end || address < src->start)
        return ZVCRASH_EINVAL;
    // The restore instructions go back to the rules in force when the program began. Kept as a
    // small list on the stack: an initial rule set never holds more than the pool does.
    struct initial_rule {
        uint32_t reg;
        dwarf_cfa_reg_rule_t rule;
        int64_t value;
    };
    initial_rule initial[kEntries];
    int initialCount = 0;
    {
        iterator it = iterate();
        uint32_t r;
        dwarf_cfa_reg_rule_t k;
        int64_t v;
        while (initialCount < kEntries && it.next(&r, &k, &v)) initial[initialCount++] = initial_rule{r, k, v};
    }
    auto restore = [&](uint64_t reg) -> zvcrash_error_t {
        for (int i = 0; i < initialCount; ++i) {
            if (initial[i].reg == reg)
                return set_register(static_cast<uint32_t>(reg), initial[i].rule, initial[i].value) ? ZVCRASH_ESUCCESS
                                                                                                   : ZVCRASH_ENOMEM;
        }
        remove_register(static_cast<uint32_t>(reg));
        return ZVCRASH_ESUCCESS;
    };

    uint64_t location = pc_start;
    uint64_t at = address;
    uint64_t n;
    zvcrash_error_t err;
    auto uleb = [&](uint64_t* out) { return readBoundedLeb128(src, at, end, out); };
    auto sleb = [&](int64_t* out) { return readBoundedLeb128(src, at, end, out); };
    auto regnum = [&](uint64_t* out) -> zvcrash_error_t {
        zvcrash_error_t e = uleb(out);
        if (e != ZVCRASH_ESUCCESS) return e;
        return *out > 0xFFFFFFFFULL ? ZVCRASH_ENOTSUP : ZVCRASH_ESUCCESS;
    };
    auto setReg = [&](uint64_t reg, dwarf_cfa_reg_rule_t rule, int64_t value) -> zvcrash_error_t {
        return set_register(static_cast<uint32_t>(reg), rule, value) ? ZVCRASH_ESUCCESS : ZVCRASH_ENOMEM;
    };
    auto isRegisterCfa = [&] {
        const auto t = levels_[level_].cfa.type;
        return t == DWARF_CFA_RULE_REGISTER || t == DWARF_CFA_RULE_REGISTER_SIGNED;
    };
    const int64_t daf = cie->data_alignment_factor;
    const uint64_t caf = cie->code_alignment_factor;

    while (at < end) {
        uint8_t op;
        if (readU8(src, at++, &op) != ZVCRASH_ESUCCESS) return ZVCRASH_EINVAL;
        const uint8_t low = op & 0x3F;
        uint64_t r, r2, u;
        int64_t s;
        switch (op & 0xC0) {
            case 0x40:
                location += low * caf;
                break;
            case 0x80:
                if ((err = uleb(&u)) != ZVCRASH_ESUCCESS) return err;
                if ((err = setReg(low, DWARF_CFA_REG_RULE_OFFSET, static_cast<int64_t>(u) * daf)) != ZVCRASH_ESUCCESS)
                    return err;
                break;
            case 0xC0:
                if ((err = restore(low)) != ZVCRASH_ESUCCESS) return err;
                break;
            default:
                switch (op) {
                    case 0x00:
                        break;
                    case 0x01: {
                        if (cie->segment_size != 0) return ZVCRASH_ENOTSUP;
                        const uint8_t enc = cie->has_pointer_encoding ? cie->pointer_encoding : 0;
                        if ((err = reader->read(src, at, 0, enc, &location, &n)) != ZVCRASH_ESUCCESS) return err;
                        if (at + n > end) return ZVCRASH_EINVAL;
                        at += n;
                        break;
                    }
                    case 0x02:
                    case 0x03:
                    case 0x04: {
                        const int width = op == 0x02 ? 1 : op == 0x03 ? 2 : 4;
                        if (at + width > end) return ZVCRASH_EINVAL;
                        if (zvcrash_async_dwarf_read_uintmax(src, at, 0, width, &u) != ZVCRASH_ESUCCESS)
                            return ZVCRASH_EINVAL;
                        at += width;
                        location += u * caf;
                        break;
                    }
                    case 0x05:
                        if ((err = regnum(&r)) != ZVCRASH_ESUCCESS || (err = uleb(&u)) != ZVCRASH_ESUCCESS) return err;
                        if ((err = setReg(r, DWARF_CFA_REG_RULE_OFFSET, static_cast<int64_t>(u) * daf)) !=
                            ZVCRASH_ESUCCESS)
                            return err;
                        break;
                    case 0x06:
                        if ((err = regnum(&r)) != ZVCRASH_ESUCCESS) return err;
                        if ((err = restore(r)) != ZVCRASH_ESUCCESS) return err;
                        break;
                    case 0x07:
                        if ((err = regnum(&r)) != ZVCRASH_ESUCCESS) return err;
                        if ((err = setReg(r, DWARF_CFA_REG_RULE_UNDEFINED, 0)) != ZVCRASH_ESUCCESS) return err;
                        break;
                    case 0x08:
                        if ((err = regnum(&r)) != ZVCRASH_ESUCCESS) return err;
                        if ((err = setReg(r, DWARF_CFA_REG_RULE_SAME_VALUE, 0)) != ZVCRASH_ESUCCESS) return err;
                        break;
                    case 0x09:
                        if ((err = regnum(&r)) != ZVCRASH_ESUCCESS || (err = regnum(&r2)) != ZVCRASH_ESUCCESS)
                            return err;
                        if ((err = setReg(r, DWARF_CFA_REG_RULE_REGISTER, static_cast<int64_t>(r2))) !=
                            ZVCRASH_ESUCCESS)
                            return err;
                        break;
                    case 0x0A:
                        if (!push_state()) return ZVCRASH_ENOMEM;
                        break;
                    case 0x0B:
                        if (!pop_state()) return ZVCRASH_EINVAL;
                        break;
                    case 0x0C:
                        if ((err = regnum(&r)) != ZVCRASH_ESUCCESS || (err = uleb(&u)) != ZVCRASH_ESUCCESS) return err;
                        set_cfa_register(static_cast<uint32_t>(r), u);
                        break;
                    case 0x0D:
                        if ((err = regnum(&r)) != ZVCRASH_ESUCCESS) return err;
                        if (!isRegisterCfa()) return ZVCRASH_EINVAL;
                        levels_[level_].cfa.reg = static_cast<uint32_t>(r);
                        break;
                    case 0x0E:
                        if ((err = uleb(&u)) != ZVCRASH_ESUCCESS) return err;
                        if (!isRegisterCfa()) return ZVCRASH_EINVAL;
                        set_cfa_register(levels_[level_].cfa.reg, u);
                        break;
                    case 0x0F:
                        if ((err = uleb(&u)) != ZVCRASH_ESUCCESS) return err;
                        if (u > end - at) return ZVCRASH_EINVAL;
                        set_cfa_expression(at, u);
                        at += u;
                        break;
                    case 0x10:
                    case 0x16: {
                        if ((err = regnum(&r)) != ZVCRASH_ESUCCESS) return err;
                        const uint64_t block = at;
                        if ((err = uleb(&u)) != ZVCRASH_ESUCCESS) return err;
                        if (u > end - at) return ZVCRASH_EINVAL;
                        at += u;
                        const auto rule =
                            op == 0x10 ? DWARF_CFA_REG_RULE_EXPRESSION : DWARF_CFA_REG_RULE_VAL_EXPRESSION;
                        if ((err = setReg(r, rule, static_cast<int64_t>(block))) != ZVCRASH_ESUCCESS) return err;
                        break;
                    }
                    case 0x11:
                        if ((err = regnum(&r)) != ZVCRASH_ESUCCESS || (err = sleb(&s)) != ZVCRASH_ESUCCESS) return err;
                        if ((err = setReg(r, DWARF_CFA_REG_RULE_OFFSET, s * daf)) != ZVCRASH_ESUCCESS) return err;
                        break;
                    case 0x12:
                        if ((err = regnum(&r)) != ZVCRASH_ESUCCESS || (err = sleb(&s)) != ZVCRASH_ESUCCESS) return err;
                        set_cfa_register_signed(static_cast<uint32_t>(r), s * daf);
                        break;
                    case 0x13:
                        if ((err = sleb(&s)) != ZVCRASH_ESUCCESS) return err;
                        if (!isRegisterCfa()) return ZVCRASH_EINVAL;
                        set_cfa_register_signed(levels_[level_].cfa.reg, s * daf);
                        break;
                    case 0x14:
                        if ((err = regnum(&r)) != ZVCRASH_ESUCCESS || (err = uleb(&u)) != ZVCRASH_ESUCCESS) return err;
                        if ((err = setReg(r, DWARF_CFA_REG_RULE_VAL_OFFSET, static_cast<int64_t>(u) * daf)) !=
                            ZVCRASH_ESUCCESS)
                            return err;
                        break;
                    case 0x15:
                        if ((err = regnum(&r)) != ZVCRASH_ESUCCESS || (err = sleb(&s)) != ZVCRASH_ESUCCESS) return err;
                        if ((err = setReg(r, DWARF_CFA_REG_RULE_VAL_OFFSET, s * daf)) != ZVCRASH_ESUCCESS) return err;
                        break;
                    case 0x2E:
                        // DW_CFA_GNU_args_size: the outgoing argument area's size; no rule changes.
                        if ((err = uleb(&u)) != ZVCRASH_ESUCCESS) return err;
                        break;
                    default:
                        return ZVCRASH_ENOTSUP;
                }
        }
        if (location > pc) return ZVCRASH_ESUCCESS;
    }
    return ZVCRASH_ESUCCESS;
}

// ---------------------------------------------------------------------------------------------
// Expressions

zvcrash_error_t zvcrash_async_dwarf_expression_eval(zvcrash_async_dwarf_source* src, const kernel::Task* task,
                                                    const zvcrash_async_thread_state* state, uint64_t address,
                                                    uint64_t length, const uint64_t* initial, int initial_count,
                                                    uint64_t* result) {
    constexpr int kStack = 100;
    uint64_t stack[kStack];
    int sp = 0;
    uint64_t end;
    if (!addOffset(address, static_cast<int64_t>(length), &end) || end > src->end || address < src->start)
        return ZVCRASH_EINVAL;
    if (initial_count < 0 || initial_count > kStack) return ZVCRASH_EINTERNAL;
    for (int i = 0; i < initial_count; ++i) stack[sp++] = initial[i];
    const bool m64 = zvcrash_async_thread_state_get_greg_size(state) == 8;
    const uint64_t mask = m64 ? ~0ULL : 0xFFFFFFFFULL;
    auto sext = [&](uint64_t v) -> int64_t {
        return m64 ? static_cast<int64_t>(v) : static_cast<int64_t>(static_cast<int32_t>(v));
    };
    uint64_t at = address;
    zvcrash_error_t err;
#define NEED(k)                                                                                                        \
    do {                                                                                                               \
        if (sp < (k)) return ZVCRASH_EINTERNAL;                                                                        \
    } while (0)
#define PUSH(v)                                                                                                        \
    do {                                                                                                               \
        const uint64_t pushed_ = (v);                                                                                  \
        if (sp >= kStack) return ZVCRASH_EINTERNAL;                                                                    \
        stack[sp] = pushed_ & mask;                                                                                    \
        ++sp;                                                                                                          \
    } while (0)
    auto fixed = [&](int width, uint64_t* out) -> zvcrash_error_t {
        if (static_cast<uint64_t>(width) > end - at) return ZVCRASH_EINVAL;
        if (zvcrash_async_dwarf_read_uintmax(src, at, 0, width, out) != ZVCRASH_ESUCCESS) return ZVCRASH_EINVAL;
        at += width;
        return ZVCRASH_ESUCCESS;
    };
    auto uleb = [&](uint64_t* out) { return readBoundedLeb128(src, at, end, out); };
    auto sleb = [&](int64_t* out) { return readBoundedLeb128(src, at, end, out); };
    auto deref = [&](uint64_t addr, int size, uint64_t* out) -> zvcrash_error_t {
        uint64_t v = 0;
        if (zvcrash_async_task_memcpy(task, addr, 0, &v, static_cast<size_t>(size)) != ZVCRASH_ESUCCESS)
            return ZVCRASH_EINVAL;
        *out = v;
        return ZVCRASH_ESUCCESS;
    };
    auto breg = [&](uint64_t dwarf, int64_t offset) -> zvcrash_error_t {
        int index;
        if (!zvcrash_async_thread_state_map_dwarf_to_reg(state, dwarf, &index)) return ZVCRASH_ENOTSUP;
        if (!zvcrash_async_thread_state_has_reg(state, index)) return ZVCRASH_ENOTFOUND;
        PUSH(zvcrash_async_thread_state_get_reg(state, index) + static_cast<uint64_t>(offset));
        return ZVCRASH_ESUCCESS;
    };

    // Backward branches can loop forever; a crash-time walk must end, so the work is bounded.
    int budget = 10000;
    while (at < end) {
        if (--budget < 0) return ZVCRASH_EINVAL;
        uint8_t op;
        if (zvcrash_async_dwarf_source_read(src, at++, &op, 1) != ZVCRASH_ESUCCESS) return ZVCRASH_EINVAL;
        uint64_t u, a, b;
        int64_t s;
        if (op >= 0x30 && op <= 0x4F) {
            PUSH(static_cast<uint64_t>(op - 0x30));
            continue;
        }
        if (op >= 0x70 && op <= 0x8F) {
            if ((err = sleb(&s)) != ZVCRASH_ESUCCESS) return err;
            if ((err = breg(op - 0x70, s)) != ZVCRASH_ESUCCESS) return err;
            continue;
        }
        switch (op) {
            case 0x06:
                if (sp < 1) return ZVCRASH_EINVAL;
                if ((err = deref(stack[sp - 1], m64 ? 8 : 4, &u)) != ZVCRASH_ESUCCESS) return err;
                stack[sp - 1] = u;
                break;
            case 0x08:
                if ((err = fixed(1, &u)) != ZVCRASH_ESUCCESS) return err;
                PUSH(u);
                break;
            case 0x09:
                if ((err = fixed(1, &u)) != ZVCRASH_ESUCCESS) return err;
                PUSH(static_cast<uint64_t>(static_cast<int64_t>(static_cast<int8_t>(u))));
                break;
            case 0x0A:
                if ((err = fixed(2, &u)) != ZVCRASH_ESUCCESS) return err;
                PUSH(u);
                break;
            case 0x0B:
                if ((err = fixed(2, &u)) != ZVCRASH_ESUCCESS) return err;
                PUSH(static_cast<uint64_t>(static_cast<int64_t>(static_cast<int16_t>(u))));
                break;
            case 0x0C:
                if ((err = fixed(4, &u)) != ZVCRASH_ESUCCESS) return err;
                PUSH(u);
                break;
            case 0x0D:
                if ((err = fixed(4, &u)) != ZVCRASH_ESUCCESS) return err;
                PUSH(static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(u))));
                break;
            case 0x0E:
            case 0x0F:
                if ((err = fixed(8, &u)) != ZVCRASH_ESUCCESS) return err;
                PUSH(u);
                break;
            case 0x10:
                if ((err = uleb(&u)) != ZVCRASH_ESUCCESS) return err;
                PUSH(u);
                break;
            case 0x11:
                if ((err = sleb(&s)) != ZVCRASH_ESUCCESS) return err;
                PUSH(static_cast<uint64_t>(s));
                break;
            case 0x12:
                NEED(1);
                PUSH(stack[sp - 1]);
                break;
            case 0x13:
                NEED(1);
                --sp;
                break;
            case 0x14:
                NEED(2);
                PUSH(stack[sp - 2]);
                break;
            case 0x15:
                if ((err = fixed(1, &u)) != ZVCRASH_ESUCCESS) return err;
                NEED(static_cast<int>(u) + 1);
                PUSH(stack[sp - 1 - static_cast<int>(u)]);
                break;
            case 0x16:
                NEED(2);
                a = stack[sp - 1];
                stack[sp - 1] = stack[sp - 2];
                stack[sp - 2] = a;
                break;
            case 0x17:
                NEED(3);
                a = stack[sp - 1];
                stack[sp - 1] = stack[sp - 2];
                stack[sp - 2] = stack[sp - 3];
                stack[sp - 3] = a;
                break;
            case 0x18:
                NEED(2);
                if ((err = deref(stack[sp - 1], m64 ? 8 : 4, &u)) != ZVCRASH_ESUCCESS) return err;
                --sp;
                stack[sp - 1] = u;
                break;
            case 0x19:
                NEED(1);
                if (sext(stack[sp - 1]) < 0) stack[sp - 1] = (0 - stack[sp - 1]) & mask;
                break;
            case 0x1A:
                NEED(2);
                b = stack[--sp];
                stack[sp - 1] &= b;
                break;
            case 0x1B:
                NEED(2);
                b = stack[--sp];
                if (b == 0) return ZVCRASH_EINVAL;
                if (sext(b) == -1)
                    stack[sp - 1] = (0 - stack[sp - 1]) & mask;  // avoids INT_MIN / -1
                else
                    stack[sp - 1] = static_cast<uint64_t>(sext(stack[sp - 1]) / sext(b)) & mask;
                break;
            case 0x1C:
                NEED(2);
                b = stack[--sp];
                stack[sp - 1] = (stack[sp - 1] - b) & mask;
                break;
            case 0x1D:
                NEED(2);
                b = stack[--sp];
                if (b == 0) return ZVCRASH_EINVAL;
                stack[sp - 1] = stack[sp - 1] % b;
                break;
            case 0x1E:
                NEED(2);
                b = stack[--sp];
                stack[sp - 1] = (stack[sp - 1] * b) & mask;
                break;
            case 0x1F:
                NEED(1);
                stack[sp - 1] = (0 - stack[sp - 1]) & mask;
                break;
            case 0x20:
                NEED(1);
                stack[sp - 1] = ~stack[sp - 1] & mask;
                break;
            case 0x21:
                NEED(2);
                b = stack[--sp];
                stack[sp - 1] |= b;
                break;
            case 0x22:
                NEED(2);
                b = stack[--sp];
                stack[sp - 1] = (stack[sp - 1] + b) & mask;
                break;
            case 0x23:
                NEED(1);
                if ((err = uleb(&u)) != ZVCRASH_ESUCCESS) return err;
                stack[sp - 1] = (stack[sp - 1] + u) & mask;
                break;
            case 0x24:
                NEED(2);
                b = stack[--sp];
                stack[sp - 1] = b >= 64 ? 0 : (stack[sp - 1] << b) & mask;
                break;
            case 0x25:
                NEED(2);
                b = stack[--sp];
                stack[sp - 1] = b >= 64 ? 0 : stack[sp - 1] >> b;
                break;
            case 0x26:
                NEED(2);
                b = stack[--sp];
                stack[sp - 1] = static_cast<uint64_t>(sext(stack[sp - 1]) >> (b >= 63 ? 63 : b)) & mask;
                break;
            case 0x27:
                NEED(2);
                b = stack[--sp];
                stack[sp - 1] ^= b;
                break;
            case 0x28:
            case 0x2F: {
                if ((err = fixed(2, &u)) != ZVCRASH_ESUCCESS) return err;
                const int16_t delta = static_cast<int16_t>(u);
                bool jump = true;
                if (op == 0x28) {
                    NEED(1);
                    jump = stack[--sp] != 0;
                }
                if (jump) {
                    uint64_t target;
                    if (!addOffset(at, delta, &target) || target < address || target > end) return ZVCRASH_EINVAL;
                    at = target;
                }
                break;
            }
            case 0x29:
            case 0x2A:
            case 0x2B:
            case 0x2C:
            case 0x2D:
            case 0x2E: {
                NEED(2);
                const int64_t y = sext(stack[--sp]);
                const int64_t x = sext(stack[sp - 1]);
                bool r = false;
                switch (op) {
                    case 0x29:
                        r = x == y;
                        break;
                    case 0x2A:
                        r = x >= y;
                        break;
                    case 0x2B:
                        r = x > y;
                        break;
                    case 0x2C:
                        r = x <= y;
                        break;
                    case 0x2D:
                        r = x < y;
                        break;
                    default:
                        r = x != y;
                        break;
                }
                stack[sp - 1] = r ? 1 : 0;
                break;
            }
            case 0x92:
                if ((err = uleb(&u)) != ZVCRASH_ESUCCESS || (err = sleb(&s)) != ZVCRASH_ESUCCESS) return err;
                if ((err = breg(u, s)) != ZVCRASH_ESUCCESS) return err;
                break;
            case 0x94:
            case 0x95: {
                if ((err = fixed(1, &u)) != ZVCRASH_ESUCCESS) return err;
                if (u != 1 && u != 2 && u != 4 && u != 8) return ZVCRASH_EINVAL;
                NEED(op == 0x95 ? 2 : 1);
                if ((err = deref(stack[sp - 1], static_cast<int>(u), &a)) != ZVCRASH_ESUCCESS) return err;
                if (op == 0x95) --sp;
                stack[sp - 1] = a & mask;
                break;
            }
            case 0x96:
                break;
            default:
                return ZVCRASH_ENOTSUP;
        }
    }
#undef NEED
#undef PUSH
    if (sp == 0) return ZVCRASH_EINVAL;
    *result = stack[sp - 1];
    return ZVCRASH_ESUCCESS;
}

// ---------------------------------------------------------------------------------------------
// Applying the rules

zvcrash_error_t dwarf_cfa_state::apply_state(const kernel::Task* task, zvcrash_async_dwarf_source* src,
                                             const zvcrash_async_dwarf_cie_info* cie,
                                             const zvcrash_async_thread_state* current,
                                             zvcrash_async_thread_state* next) const {
    zvcrash_async_thread_state_copy(next, current);
    zvcrash_async_thread_state_clear_volatile_regs(next);
    const uint64_t width = zvcrash_async_thread_state_get_greg_size(current);
    const uint64_t mask = width == 8 ? ~0ULL : 0xFFFFFFFFULL;
    zvcrash_error_t err;

    const dwarf_cfa_rule cfaRule = levels_[level_].cfa;
    uint64_t cfa = 0;
    switch (cfaRule.type) {
        case DWARF_CFA_RULE_REGISTER:
        case DWARF_CFA_RULE_REGISTER_SIGNED: {
            int index;
            if (!zvcrash_async_thread_state_map_dwarf_to_reg(current, cfaRule.reg, &index)) return ZVCRASH_ENOTSUP;
            if (!zvcrash_async_thread_state_has_reg(current, index)) return ZVCRASH_ENOTFOUND;
            cfa = (zvcrash_async_thread_state_get_reg(current, index) + static_cast<uint64_t>(cfaRule.offset)) & mask;
            break;
        }
        case DWARF_CFA_RULE_EXPRESSION:
            if ((err = zvcrash_async_dwarf_expression_eval(src, task, current, cfaRule.expression,
                                                           cfaRule.expression_len, nullptr, 0, &cfa)) !=
                ZVCRASH_ESUCCESS) {
                return err;
            }
            break;
        default:
            return ZVCRASH_EINVAL;
    }
    zvcrash_async_thread_state_set_reg(next, ZVCRASH_REG_SP, cfa);

    auto readWord = [&](uint64_t address, uint64_t* out) -> zvcrash_error_t {
        uint64_t v = 0;
        zvcrash_error_t e = zvcrash_async_task_memcpy(task, address, 0, &v, static_cast<size_t>(width));
        *out = v & mask;
        return e;
    };

    iterator it = iterate();
    uint32_t reg;
    dwarf_cfa_reg_rule_t rule;
    int64_t value;
    bool returnUndefined = false;
    while (it.next(&reg, &rule, &value)) {
        int index = -1;
        const bool mapped = zvcrash_async_thread_state_map_dwarf_to_reg(current, reg, &index);
        const bool isReturn = reg == cie->return_address_register;
        if (!mapped && !isReturn) return ZVCRASH_EINVAL;
        uint64_t v = 0;
        switch (rule) {
            case DWARF_CFA_REG_RULE_UNDEFINED:
                if (isReturn) returnUndefined = true;
                if (mapped) zvcrash_async_thread_state_clear_reg(next, index);
                continue;
            case DWARF_CFA_REG_RULE_OFFSET:
                if ((err = readWord(cfa + static_cast<uint64_t>(value), &v)) != ZVCRASH_ESUCCESS) return err;
                break;
            case DWARF_CFA_REG_RULE_VAL_OFFSET:
                v = (cfa + static_cast<uint64_t>(value)) & mask;
                break;
            case DWARF_CFA_REG_RULE_REGISTER: {
                int other;
                if (!zvcrash_async_thread_state_map_dwarf_to_reg(current, static_cast<uint64_t>(value), &other))
                    return ZVCRASH_EINVAL;
                if (!zvcrash_async_thread_state_has_reg(current, other)) return ZVCRASH_ENOTFOUND;
                v = zvcrash_async_thread_state_get_reg(current, other);
                break;
            }
            case DWARF_CFA_REG_RULE_EXPRESSION:
            case DWARF_CFA_REG_RULE_VAL_EXPRESSION: {
                uint64_t len, n;
                const uint64_t block = static_cast<uint64_t>(value);
                if ((err = zvcrash_async_dwarf_read_uleb128(src, block, 0, &len, &n)) != ZVCRASH_ESUCCESS) return err;
                uint64_t r;
                if ((err = zvcrash_async_dwarf_expression_eval(src, task, current, block + n, len, &cfa, 1, &r)) !=
                    ZVCRASH_ESUCCESS)
                    return err;
                if (rule == DWARF_CFA_REG_RULE_EXPRESSION) {
                    if ((err = readWord(r, &v)) != ZVCRASH_ESUCCESS) return err;
                } else {
                    v = r;
                }
                break;
            }
            case DWARF_CFA_REG_RULE_SAME_VALUE:
                if (!mapped || !zvcrash_async_thread_state_has_reg(current, index)) return ZVCRASH_ENOTFOUND;
                v = zvcrash_async_thread_state_get_reg(current, index);
                break;
        }
        if (mapped) {
            zvcrash_async_thread_state_set_reg(next, index, v);
            if (isReturn) zvcrash_async_thread_state_set_reg(next, ZVCRASH_REG_IP, v);
        } else if (isReturn) {
            zvcrash_async_thread_state_set_reg(next, ZVCRASH_REG_IP, v);
        }
    }
    // An explicitly undefined return address marks the outermost frame: the new frame has no pc,
    // and the cursor ends the walk there rather than guessing.
    if (returnUndefined) {
        zvcrash_async_thread_state_clear_reg(next, ZVCRASH_REG_IP);
        return ZVCRASH_ESUCCESS;
    }
    if (!zvcrash_async_thread_state_has_reg(next, ZVCRASH_REG_IP)) {
        int index;
        if (!zvcrash_async_thread_state_map_dwarf_to_reg(current, cie->return_address_register, &index) ||
            !zvcrash_async_thread_state_has_reg(current, index)) {
            return ZVCRASH_EINVAL;
        }
        zvcrash_async_thread_state_set_reg(next, ZVCRASH_REG_IP, zvcrash_async_thread_state_get_reg(current, index));
    }
    return ZVCRASH_ESUCCESS;
}

// ---------------------------------------------------------------------------------------------
// The reader

zvcrash_error_t zvcrash_async_dwarf_unwind_with_fde(const kernel::Task* task, zvcrash_async_dwarf_source* src,
                                                    const gnu_ehptr_reader* reader,
                                                    const zvcrash_async_dwarf_cie_info* cie,
                                                    const zvcrash_async_dwarf_fde_info* fde, uint64_t pc,
                                                    const zvcrash_async_thread_state* current,
                                                    zvcrash_async_thread_state* next) {
    dwarf_cfa_state state;
    zvcrash_error_t err = state.eval_program(src, pc, fde->pc_start, cie, reader, cie->initial_instructions_offset,
                                             cie->initial_instructions_length);
    if (err != ZVCRASH_ESUCCESS) return err;
    err = state.eval_program(src, pc, fde->pc_start, cie, reader, fde->instructions_offset, fde->instructions_length);
    if (err != ZVCRASH_ESUCCESS) return err;
    return state.apply_state(task, src, cie, current, next);
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

}  // namespace

zvcrash_error_t zvcrash_async_dwarf_elf_find_fde(const kernel::Task* task, const zvcrash_async_image* image,
                                                 uint64_t pc, bool use_table, zvcrash_async_dwarf_source* src,
                                                 zvcrash_async_dwarf_fde_info* fde, zvcrash_async_dwarf_cie_info* cie) {
    if (image->format != ZVCRASH_IMAGE_FORMAT_ELF || image->elf.eh_frame_hdr == 0) return ZVCRASH_ENOTFOUND;
    const uint64_t hdr = image->elf.eh_frame_hdr;
    zvcrash_async_dwarf_source_init(src, task, hdr, hdr + image->elf.eh_frame_hdr_size);
    const bool self = image->task == kernel::task_self();
    // Only what lies inside a loaded segment of the image is read in place.
    uint64_t hdrEnd;
    if (self && (!segmentEnd(task, image, hdr, &hdrEnd) || hdr + image->elf.eh_frame_hdr_size > hdrEnd))
        return ZVCRASH_EINVAL;
    src->in_place = self;
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

zvcrash_frame_error_t zvcrash_frame_dwarf_reader(const kernel::Task* task, zvcrash_async_image_list* image_list,
                                                 const zvcrash_async_thread_state* current,
                                                 const zvcrash_async_thread_state* previous,
                                                 zvcrash_async_thread_state* next) {
    if (!zvcrash_async_thread_state_has_reg(current, ZVCRASH_REG_IP)) return ZVCRASH_FRAME_EBADFRAME;
    const uint64_t pc = zvcrash_async_thread_state_get_reg(current, ZVCRASH_REG_IP);
    if (pc == 0) return ZVCRASH_FRAME_ENOTSUP;
    if (!image_list) return ZVCRASH_FRAME_ENOTSUP;
    // Above the first frame the pc is a return address: it may lie just past the end of a
    // function whose last instruction is a call that never returns, so the call itself is looked up.
    const uint64_t lookup = previous ? pc - 1 : pc;
    zvcrash_frame_error_t result = ZVCRASH_FRAME_ENOTSUP;
    zvcrash_async_image_list_set_reading(image_list, true);
    zvcrash_async_image* image = zvcrash_async_image_list_image_containing_address(image_list, lookup);
    if (image && image->format == ZVCRASH_IMAGE_FORMAT_ELF) {
        if (image->elf.eh_frame_hdr == 0) {
            result = ZVCRASH_FRAME_ENOFRAME;
        } else {
            zvcrash_async_dwarf_source src;
            zvcrash_async_dwarf_fde_info fde;
            zvcrash_async_dwarf_cie_info cie;
            gnu_ehptr_reader reader(true);
            if (zvcrash_async_dwarf_elf_find_fde(task, image, lookup, true, &src, &fde, &cie) == ZVCRASH_ESUCCESS) {
                // A signal frame's pc is where execution resumes, not a return address.
                const uint64_t target = cie.signal_frame ? pc : lookup;
                dwarf_cfa_state state;
                zvcrash_error_t err =
                    state.eval_program(&src, target, fde.pc_start, &cie, &reader, cie.initial_instructions_offset,
                                       cie.initial_instructions_length);
                if (err == ZVCRASH_ESUCCESS) {
                    err = state.eval_program(&src, target, fde.pc_start, &cie, &reader, fde.instructions_offset,
                                             fde.instructions_length);
                }
                if (err != ZVCRASH_ESUCCESS) {
                    result = ZVCRASH_FRAME_ENOTSUP;
                } else {
                    result = state.apply_state(task, &src, &cie, current, next) == ZVCRASH_ESUCCESS
                                 ? ZVCRASH_FRAME_ESUCCESS
                                 : ZVCRASH_FRAME_ENOFRAME;
                }
            }
        }
    }
    zvcrash_async_image_list_set_reading(image_list, false);
    return result;
}
