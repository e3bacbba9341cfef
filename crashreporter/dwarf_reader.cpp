// The frame-section window, its primitive reads (fixed widths, LEB128) and the DW_EH_PE pointer
// reader.
#include <type_traits>

#include "crashreporter/dwarf_format.h"
#include "crashreporter/dwarf_unwinder.h"

using namespace zvcrash::dwarf;

void zvcrash_async_dwarf_source_init(zvcrash_async_dwarf_source* src, const kernel::Task* task, uint64_t start,
                                     uint64_t end) {
    src->task = task;
    src->start = start;
    src->end = end < start ? start : end;
    src->in_place = false;
    zvcrash_async_line_cache_init(&src->cache);
    zvcrash_async_fault_clear(&src->fault);
}

zvcrash_async_reader zvcrash_async_dwarf_source_reader(zvcrash_async_dwarf_source* src, uint64_t address) {
    zvcrash_async_reader reader;
    zvcrash_async_reader_init_task(&reader, src->task, src->start, src->end, src->in_place ? nullptr : &src->cache,
                                   zvcrash_async_byteorder_direct());
    if (src->in_place) reader.local = reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(src->start));
    zvcrash_async_reader_seek(&reader, address, "position in the frame section");
    return reader;
}

zvcrash_error_t zvcrash_async_dwarf_source_failed(zvcrash_async_dwarf_source* src, const zvcrash_async_reader* reader) {
    src->fault = reader->fault;
    return reader->fault.code;
}

zvcrash_error_t zvcrash_async_dwarf_source_read(zvcrash_async_dwarf_source* src, uint64_t address, void* dest,
                                                size_t length) {
    zvcrash_async_reader r = zvcrash_async_dwarf_source_reader(src, address);
    if (!zvcrash_async_reader_copy(&r, dest, length, "bytes")) return zvcrash_async_dwarf_source_failed(src, &r);
    return ZVCRASH_ESUCCESS;
}

namespace {

// A reader at address + offset; a wrapping sum is a failed reader.
zvcrash_async_reader readerAt(zvcrash_async_dwarf_source* src, uint64_t address, int64_t offset) {
    uint64_t at;
    if (!zvcrash_async_address_apply_offset(address, offset, &at)) {
        zvcrash_async_reader r = zvcrash_async_dwarf_source_reader(src, src->start);
        zvcrash_async_fault_set(&r.fault, ZVCRASH_EINVAL, "address and offset", address);
        return r;
    }
    return zvcrash_async_dwarf_source_reader(src, at);
}

}  // namespace

zvcrash_error_t zvcrash_async_dwarf_read_uintmax(zvcrash_async_dwarf_source* src, uint64_t address, int64_t offset,
                                                 int width, uint64_t* out) {
    zvcrash_async_reader r = readerAt(src, address, offset);
    *out = zvcrash_async_reader_uint(&r, width, "fixed-width value");
    if (!zvcrash_async_reader_ok(&r)) return zvcrash_async_dwarf_source_failed(src, &r);
    return ZVCRASH_ESUCCESS;
}

namespace {

// One LEB128 value at address + offset and the bytes it took.
template <typename T>
zvcrash_error_t readLeb128At(zvcrash_async_dwarf_source* src, uint64_t address, int64_t offset, T* out,
                             uint64_t* consumed) {
    zvcrash_async_reader r = readerAt(src, address, offset);
    const uint64_t start = r.pos;
    if constexpr (std::is_signed_v<T>) {
        *out = zvcrash_async_reader_sleb128(&r, "SLEB128 value");
    } else {
        *out = zvcrash_async_reader_uleb128(&r, "ULEB128 value");
    }
    if (!zvcrash_async_reader_ok(&r)) return zvcrash_async_dwarf_source_failed(src, &r);
    *consumed = r.pos - start;
    return ZVCRASH_ESUCCESS;
}

}  // namespace

zvcrash_error_t zvcrash_async_dwarf_read_uleb128(zvcrash_async_dwarf_source* src, uint64_t address, int64_t offset,
                                                 uint64_t* out, uint64_t* consumed) {
    return readLeb128At(src, address, offset, out, consumed);
}

zvcrash_error_t zvcrash_async_dwarf_read_sleb128(zvcrash_async_dwarf_source* src, uint64_t address, int64_t offset,
                                                 int64_t* out, uint64_t* consumed) {
    return readLeb128At(src, address, offset, out, consumed);
}

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

uint64_t gnu_ehptr_reader::read(zvcrash_async_reader* r, uint8_t encoding, const char* field) const {
    if (!zvcrash_async_reader_ok(r)) return 0;
    if (encoding == DW_EH_PE_omit) {
        zvcrash_async_reader_fail(r, ZVCRASH_ENOTFOUND, field);
        return 0;
    }
    const uint64_t width = m64 ? 8 : 4;
    uint64_t base = 0;
    switch (encoding & DW_EH_PE_application_mask) {
        case DW_EH_PE_absptr:
            break;
        case DW_EH_PE_pcrel:
            base = r->pos;
            break;
        case DW_EH_PE_textrel:
            if (!has_text_base) return zvcrash_async_reader_fail(r, ZVCRASH_ENOTSUP, field), 0;
            base = text_base;
            break;
        case DW_EH_PE_datarel:
            if (!has_data_base) return zvcrash_async_reader_fail(r, ZVCRASH_ENOTSUP, field), 0;
            base = data_base;
            break;
        case DW_EH_PE_funcrel:
            if (!has_func_base) return zvcrash_async_reader_fail(r, ZVCRASH_ENOTSUP, field), 0;
            base = func_base;
            break;
        case DW_EH_PE_aligned: {
            if (!has_frame_section_base) return zvcrash_async_reader_fail(r, ZVCRASH_ENOTSUP, field), 0;
            const uint64_t rel = r->pos - frame_section_base;
            const uint64_t aligned = (rel + width - 1) & ~(width - 1);
            zvcrash_async_reader_skip(r, aligned - rel, field);
            break;
        }
        default:
            zvcrash_async_reader_fail(r, ZVCRASH_ENOTSUP, field);
            return 0;
    }
    uint64_t raw = 0;
    switch (encoding & DW_EH_PE_format_mask) {
        case DW_EH_PE_native:
            raw = zvcrash_async_reader_uint(r, static_cast<int>(width), field);
            break;
        case DW_EH_PE_uleb128:
            raw = zvcrash_async_reader_uleb128(r, field);
            break;
        case DW_EH_PE_udata2:
            raw = zvcrash_async_reader_u16(r, field);
            break;
        case DW_EH_PE_udata4:
            raw = zvcrash_async_reader_u32(r, field);
            break;
        case DW_EH_PE_udata8:
        case DW_EH_PE_sdata8:
            raw = zvcrash_async_reader_u64(r, field);
            break;
        case DW_EH_PE_sleb128:
            raw = static_cast<uint64_t>(zvcrash_async_reader_sleb128(r, field));
            break;
        case DW_EH_PE_sdata2:
            raw = static_cast<uint64_t>(static_cast<int64_t>(static_cast<int16_t>(zvcrash_async_reader_u16(r, field))));
            break;
        case DW_EH_PE_sdata4:
            raw = static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(zvcrash_async_reader_u32(r, field))));
            break;
        default:
            zvcrash_async_reader_fail(r, ZVCRASH_ENOTSUP, field);
            return 0;
    }
    if (!zvcrash_async_reader_ok(r)) return 0;
    uint64_t result = base + raw;
    if (!m64) result &= 0xFFFFFFFFULL;
    if (encoding & DW_EH_PE_indirect) {
        uint64_t word = 0;
        if (zvcrash_async_task_memcpy(r->task, result, 0, &word, static_cast<size_t>(width)) != ZVCRASH_ESUCCESS) {
            zvcrash_async_reader_fail(r, ZVCRASH_EINVAL, field);
            return 0;
        }
        result = word;
    }
    return result;
}

zvcrash_error_t gnu_ehptr_reader::read(zvcrash_async_dwarf_source* src, uint64_t address, int64_t offset,
                                       uint8_t encoding, uint64_t* value, uint64_t* consumed) const {
    zvcrash_async_reader r = readerAt(src, address, offset);
    const uint64_t start = r.pos;
    *value = read(&r, encoding, "encoded pointer");
    if (!zvcrash_async_reader_ok(&r)) return zvcrash_async_dwarf_source_failed(src, &r);
    *consumed = r.pos - start;
    return ZVCRASH_ESUCCESS;
}
