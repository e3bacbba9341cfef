#include "crashreporter/compact_unwind.h"

#include "crashreporter/async_reader.h"
#include "crashreporter/compact_unwind_format.h"
#include "crashreporter/image_list.h"
#include "crashreporter/thread_state.h"

using namespace zvcrash::compact_unwind;

namespace {

bool supportedCpu(uint32_t cpu_type) {
    return cpu_type == static_cast<uint32_t>(kernel::CPU_TYPE_X86) ||
           cpu_type == static_cast<uint32_t>(kernel::CPU_TYPE_X86_64) ||
           cpu_type == static_cast<uint32_t>(kernel::CPU_TYPE_ARM64);
}

// Reads the whole record of type T at `offset` from the section's start; a failure stays in the
// reader's fault with `field`.
template <typename T>
bool readRecord(zvcrash_async_cfe_reader* reader, uint64_t offset, T* out, const char* field) {
    zvcrash_async_reader r;
    zvcrash_async_reader_init_mobject(&r, reader->mobj, reader->byteorder);
    uint64_t at;
    if (!zvcrash_async_address_apply_offset(r.start, static_cast<int64_t>(offset), &at) || offset > INT64_MAX) {
        zvcrash_async_fault_set(&reader->fault, ZVCRASH_EINVAL, field, r.start);
        return false;
    }
    zvcrash_async_reader_seek(&r, at, field);
    zvcrash_async_reader_copy(&r, out, sizeof(T), field);
    if (!zvcrash_async_reader_ok(&r)) {
        // Every unreadable table entry is an invalid table, whatever the window said.
        zvcrash_async_fault_set(&reader->fault, ZVCRASH_EINVAL, r.fault.field, r.fault.address);
        return false;
    }
    return true;
}

zvcrash_error_t failed(zvcrash_async_cfe_reader* reader, zvcrash_error_t code, const char* field, uint64_t offset) {
    zvcrash_async_fault_set(&reader->fault, code, field, reader->mobj->target + offset);
    return code;
}

// The last of `count` entries whose key (read by `key`) is at or below `target`.
template <typename Key>
zvcrash_error_t search(uint32_t count, uint32_t target, Key key, uint32_t* found) {
    if (count == 0) return ZVCRASH_ENOTFOUND;
    uint32_t lo = 0, hi = count;
    uint32_t first;
    if (!key(0, &first)) return ZVCRASH_EINVAL;
    if (first > target) return ZVCRASH_ENOTFOUND;
    while (hi - lo > 1) {
        const uint32_t mid = lo + (hi - lo) / 2;
        uint32_t v;
        if (!key(mid, &v)) return ZVCRASH_EINVAL;
        if (v <= target)
            lo = mid;
        else
            hi = mid;
    }
    *found = lo;
    return ZVCRASH_ESUCCESS;
}

}  // namespace

zvcrash_error_t zvcrash_async_cfe_reader_init(zvcrash_async_cfe_reader* reader, zvcrash_async_mobject* mobj,
                                              uint32_t cpu_type) {
    zvcrash_async_fault_clear(&reader->fault);
    reader->mobj = mobj;
    reader->cpu_type = cpu_type;
    reader->byteorder = zvcrash_async_byteorder_direct();
    if (!supportedCpu(cpu_type)) return failed(reader, ZVCRASH_ENOTSUP, "CPU type", 0);
    if (!readRecord(reader, 0, &reader->header, "section header")) return ZVCRASH_EINVAL;
    if (reader->header.version != UNWIND_SECTION_VERSION) return failed(reader, ZVCRASH_ENOTSUP, "section version", 0);
    return ZVCRASH_ESUCCESS;
}

zvcrash_error_t zvcrash_async_cfe_reader_find_pc(zvcrash_async_cfe_reader* reader, uint64_t pc, uint64_t* function_base,
                                                 uint32_t* encoding) {
    zvcrash_async_fault_clear(&reader->fault);
    if (pc > 0xFFFFFFFFULL) return ZVCRASH_ENOTFOUND;
    const uint32_t target = static_cast<uint32_t>(pc);
    const uint64_t indexOffset = reader->header.indexSectionOffset;
    const uint32_t indexCount = reader->header.indexCount;
    using IndexEntry = unwind_info_section_header_index_entry;
    // The last first-level entry is a sentinel that holds no page.
    if (indexCount < 2) return ZVCRASH_ENOTFOUND;
    IndexEntry index{};
    uint32_t first;
    zvcrash_error_t err = search(
        indexCount - 1, target,
        [&](uint32_t i, uint32_t* v) {
            const bool ok = readRecord(reader, indexOffset + sizeof(IndexEntry) * i, &index, "first-level index entry");
            *v = index.functionOffset;
            return ok;
        },
        &first);
    if (err != ZVCRASH_ESUCCESS) return err;
    if (!readRecord(reader, indexOffset + sizeof(IndexEntry) * first, &index, "first-level index entry"))
        return ZVCRASH_EINVAL;
    const uint64_t page = index.secondLevelPagesSectionOffset;
    uint32_t kind;
    if (!readRecord(reader, page, &kind, "second-level page kind")) return ZVCRASH_EINVAL;
    uint32_t at;
    if (kind == UNWIND_SECOND_LEVEL_REGULAR) {
        unwind_info_regular_second_level_page_header header;
        if (!readRecord(reader, page, &header, "regular page header")) return ZVCRASH_EINVAL;
        const uint64_t entries = page + header.entryPageOffset;
        unwind_info_regular_second_level_entry entry{};
        auto key = [&](uint32_t i, uint32_t* v) {
            const bool ok = readRecord(reader, entries + sizeof entry * i, &entry, "regular page entry");
            *v = entry.functionOffset;
            return ok;
        };
        if ((err = search(header.entryCount, target, key, &at)) != ZVCRASH_ESUCCESS) return err;
        uint32_t function;
        if (!key(at, &function)) return ZVCRASH_EINVAL;
        *encoding = entry.encoding;
        *function_base = entry.functionOffset;
        return ZVCRASH_ESUCCESS;
    }
    if (kind != UNWIND_SECOND_LEVEL_COMPRESSED) return failed(reader, ZVCRASH_EINVAL, "second-level page kind", page);
    unwind_info_compressed_second_level_page_header header;
    if (!readRecord(reader, page, &header, "compressed page header")) return ZVCRASH_EINVAL;
    const uint64_t entries = page + header.entryPageOffset;
    uint32_t entry = 0;
    auto key = [&](uint32_t i, uint32_t* v) {
        const bool ok = readRecord(reader, entries + sizeof entry * i, &entry, "compressed page entry");
        *v = index.functionOffset + (entry & UNWIND_INFO_COMPRESSED_ENTRY_FUNC_OFFSET_MASK);
        return ok;
    };
    if ((err = search(header.entryCount, target, key, &at)) != ZVCRASH_ESUCCESS) return err;
    uint32_t function;
    if (!key(at, &function)) return ZVCRASH_EINVAL;
    const uint32_t encodingIndex = entry >> UNWIND_INFO_COMPRESSED_ENTRY_ENCODING_INDEX_SHIFT;
    const uint32_t commonCount = reader->header.commonEncodingsArrayCount;
    if (encodingIndex < commonCount) {
        if (!readRecord(reader, reader->header.commonEncodingsArraySectionOffset + 4ULL * encodingIndex, encoding,
                        "common encoding"))
            return ZVCRASH_EINVAL;
    } else {
        if (encodingIndex - commonCount >= header.encodingsCount)
            return failed(reader, ZVCRASH_EINVAL, "page encoding index", entries + sizeof entry * at);
        if (!readRecord(reader, page + header.encodingsPageOffset + 4ULL * (encodingIndex - commonCount), encoding,
                        "page encoding"))
            return ZVCRASH_EINVAL;
    }
    *function_base = function;
    return ZVCRASH_ESUCCESS;
}

zvcrash_error_t zvcrash_async_cfe_register_decode(uint32_t p, uint32_t count, uint32_t registers[]) {
    if (count > 6) return ZVCRASH_EINVAL;
    uint32_t digits[6] = {0, 0, 0, 0, 0, 0};
    switch (count) {
        case 0:
            return ZVCRASH_ESUCCESS;
        case 1:
            digits[0] = p;
            break;
        case 2:
            digits[0] = p / 5;
            digits[1] = p % 5;
            break;
        case 3:
            digits[0] = p / 20;
            digits[1] = (p % 20) / 4;
            digits[2] = p % 4;
            break;
        case 4:
            digits[0] = p / 60;
            digits[1] = (p % 60) / 12;
            digits[2] = (p % 60 % 12) / 3;
            digits[3] = p % 60 % 12 % 3;
            break;
        default:
            digits[0] = p / 120;
            digits[1] = (p % 120) / 24;
            digits[2] = (p % 120 % 24) / 6;
            digits[3] = (p % 120 % 24 % 6) / 2;
            digits[4] = p & 1;
            digits[5] = 0;
            break;
    }
    bool used[7] = {false, false, false, false, false, false, false};
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t seen = 0;
        uint32_t chosen = 0;
        for (uint32_t r = 1; r <= 6; ++r) {
            if (used[r]) continue;
            if (seen == digits[i]) {
                chosen = r;
                break;
            }
            ++seen;
        }
        if (chosen == 0) return ZVCRASH_EINVAL;
        used[chosen] = true;
        registers[i] = chosen;
    }
    return ZVCRASH_ESUCCESS;
}

namespace {

// Compact register numbers 1-6 of the x86 family, as register-state indexes of x86-64.
uint32_t x86Register(uint32_t number, bool* ok) {
    // rbx, r12, r13, r14, r15, rbp in this host's x86-64 index table.
    static const uint32_t kIndex[] = {ZVCRASH_ASYNC_CFE_REG_NONE, 4, 13, 14, 15, 16, 1};
    if (number > 6) {
        *ok = false;
        return 0;
    }
    return kIndex[number];
}

}  // namespace

zvcrash_error_t zvcrash_async_cfe_entry_init(zvcrash_async_cfe_entry* entry, uint32_t cpu_type, uint32_t encoding) {
    zvcrash_async_memset(entry, 0, sizeof *entry);
    entry->cpu_type = cpu_type;
    entry->return_address_register = ZVCRASH_ASYNC_CFE_REG_NONE;
    for (auto& r : entry->register_list) r = ZVCRASH_ASYNC_CFE_REG_NONE;
    const uint32_t mode = (encoding >> UNWIND_MODE_SHIFT) & UNWIND_MODE_MASK;
    if (cpu_type == static_cast<uint32_t>(kernel::CPU_TYPE_ARM64)) {
        switch (mode) {
            case UNWIND_ARM64_MODE_NONE:
                entry->type = ZVCRASH_ASYNC_CFE_TYPE_NONE;
                return ZVCRASH_ESUCCESS;
            case UNWIND_ARM64_MODE_DWARF:
                entry->type = ZVCRASH_ASYNC_CFE_TYPE_DWARF;
                entry->stack_offset = encoding & UNWIND_DWARF_SECTION_OFFSET_MASK;
                return ZVCRASH_ESUCCESS;
            case UNWIND_ARM64_MODE_FRAMELESS:
            case UNWIND_ARM64_MODE_FRAME: {
                const bool frameless = mode == UNWIND_ARM64_MODE_FRAMELESS;
                entry->type = frameless ? ZVCRASH_ASYNC_CFE_TYPE_FRAMELESS_IMMD : ZVCRASH_ASYNC_CFE_TYPE_FRAME_PTR;
                if (frameless) {
                    entry->stack_offset = static_cast<int64_t>(((encoding >> UNWIND_ARM64_FRAMELESS_STACK_SIZE_SHIFT) &
                                                                UNWIND_ARM64_FRAMELESS_STACK_SIZE_MASK) *
                                                               UNWIND_ARM64_FRAMELESS_STACK_SIZE_UNIT);
                    entry->return_address_register = ZVCRASH_REG_ARM64_LR;
                }
                // Register indexes: xn is 3 + n.
                const struct {
                    uint32_t flag;
                    uint32_t hi, lo;
                } pairs[] = {{UNWIND_ARM64_FRAME_X27_X28_PAIR, 3 + 28, 3 + 27},
                             {UNWIND_ARM64_FRAME_X25_X26_PAIR, 3 + 26, 3 + 25},
                             {UNWIND_ARM64_FRAME_X23_X24_PAIR, 3 + 24, 3 + 23},
                             {UNWIND_ARM64_FRAME_X21_X22_PAIR, 3 + 22, 3 + 21},
                             {UNWIND_ARM64_FRAME_X19_X20_PAIR, 3 + 20, 3 + 19}};
                uint32_t n = 0;
                for (const auto& p : pairs) {
                    if (!(encoding & p.flag)) continue;
                    entry->register_list[n++] = p.hi;
                    entry->register_list[n++] = p.lo;
                }
                entry->register_count = n;
                if (!frameless) entry->stack_offset = -8 * static_cast<int64_t>(n);
                return ZVCRASH_ESUCCESS;
            }
            default:
                return ZVCRASH_ENOTSUP;
        }
    }
    if (cpu_type != static_cast<uint32_t>(kernel::CPU_TYPE_X86) &&
        cpu_type != static_cast<uint32_t>(kernel::CPU_TYPE_X86_64))
        return ZVCRASH_ENOTSUP;
    const uint32_t word = cpu_type == static_cast<uint32_t>(kernel::CPU_TYPE_X86_64) ? 8 : 4;
    bool ok = true;
    switch (mode) {
        case UNWIND_X86_MODE_NONE:
            entry->type = ZVCRASH_ASYNC_CFE_TYPE_NONE;
            return ZVCRASH_ESUCCESS;
        case UNWIND_X86_MODE_DWARF:
            entry->type = ZVCRASH_ASYNC_CFE_TYPE_DWARF;
            entry->stack_offset = encoding & UNWIND_DWARF_SECTION_OFFSET_MASK;
            return ZVCRASH_ESUCCESS;
        case UNWIND_X86_MODE_BP_FRAME: {
            entry->type = ZVCRASH_ASYNC_CFE_TYPE_FRAME_PTR;
            entry->stack_offset = -static_cast<int64_t>(
                ((encoding >> UNWIND_X86_BP_FRAME_OFFSET_SHIFT) & UNWIND_X86_BP_FRAME_OFFSET_MASK) * word);
            const uint32_t regs = encoding & UNWIND_X86_BP_FRAME_REGISTERS_MASK;
            const uint32_t fieldMask = (1u << UNWIND_X86_BP_FRAME_REGISTER_BITS) - 1;
            uint32_t n = 0;
            for (uint32_t shift = 0; shift < 15 && (regs >> shift) != 0; shift += UNWIND_X86_BP_FRAME_REGISTER_BITS) {
                const uint32_t r = (regs >> shift) & fieldMask;
                entry->register_list[n++] = r == 0 ? ZVCRASH_ASYNC_CFE_REG_NONE : x86Register(r, &ok);
            }
            entry->register_count = n;
            return ok ? ZVCRASH_ESUCCESS : ZVCRASH_EINVAL;
        }
        case UNWIND_X86_MODE_STACK_IMMD:
        case UNWIND_X86_MODE_STACK_IND: {
            const uint32_t size =
                (encoding >> UNWIND_X86_FRAMELESS_STACK_SIZE_SHIFT) & UNWIND_X86_FRAMELESS_STACK_SIZE_MASK;
            if (mode == UNWIND_X86_MODE_STACK_IMMD) {
                entry->type = ZVCRASH_ASYNC_CFE_TYPE_FRAMELESS_IMMD;
                entry->stack_offset = static_cast<int64_t>(size * word);
            } else {
                // The size is a 32-bit word in the function's code at this offset.
                entry->type = ZVCRASH_ASYNC_CFE_TYPE_FRAMELESS_INDIRECT;
                entry->stack_offset = static_cast<int64_t>(size);
                entry->stack_adjust =
                    ((encoding >> UNWIND_X86_FRAMELESS_STACK_ADJUST_SHIFT) & UNWIND_X86_FRAMELESS_STACK_ADJUST_MASK) *
                    word;
            }
            const uint32_t count =
                (encoding >> UNWIND_X86_FRAMELESS_STACK_REG_COUNT_SHIFT) & UNWIND_X86_FRAMELESS_STACK_REG_COUNT_MASK;
            uint32_t numbers[6];
            zvcrash_error_t err = zvcrash_async_cfe_register_decode(
                encoding & UNWIND_X86_FRAMELESS_STACK_REG_PERMUTATION_MASK, count, numbers);
            if (err != ZVCRASH_ESUCCESS) return err;
            for (uint32_t i = 0; i < count; ++i) entry->register_list[i] = x86Register(numbers[i], &ok);
            entry->register_count = count;
            return ok ? ZVCRASH_ESUCCESS : ZVCRASH_EINVAL;
        }
        default:
            return ZVCRASH_ENOTSUP;
    }
}

zvcrash_error_t zvcrash_async_cfe_entry_apply(const kernel::Task* task, uint64_t function_address,
                                              const zvcrash_async_thread_state* current,
                                              const zvcrash_async_cfe_entry* entry, zvcrash_async_thread_state* next) {
    zvcrash_async_thread_state_copy(next, current);
    zvcrash_async_thread_state_clear_volatile_regs(next);
    const uint64_t w = zvcrash_async_thread_state_get_greg_size(current);
    auto readWord = [&](uint64_t address, uint64_t* out) -> zvcrash_error_t {
        uint64_t v = 0;
        zvcrash_error_t err = zvcrash_async_task_memcpy(task, address, 0, &v, static_cast<size_t>(w));
        *out = w == 4 ? (v & 0xFFFFFFFFULL) : v;
        return err;
    };
    uint64_t savedStart = 0;
    zvcrash_error_t err;
    switch (entry->type) {
        case ZVCRASH_ASYNC_CFE_TYPE_FRAME_PTR: {
            if (!zvcrash_async_thread_state_has_reg(current, ZVCRASH_REG_FP)) return ZVCRASH_ENOTFOUND;
            const uint64_t fp = zvcrash_async_thread_state_get_reg(current, ZVCRASH_REG_FP);
            uint64_t callerFp, ra;
            if ((err = readWord(fp, &callerFp)) != ZVCRASH_ESUCCESS) return err;
            if ((err = readWord(fp + w, &ra)) != ZVCRASH_ESUCCESS) return err;
            zvcrash_async_thread_state_set_reg(next, ZVCRASH_REG_SP, fp + 2 * w);
            zvcrash_async_thread_state_set_reg(next, ZVCRASH_REG_FP, callerFp);
            zvcrash_async_thread_state_set_reg(next, ZVCRASH_REG_IP, ra);
            savedStart = fp + static_cast<uint64_t>(entry->stack_offset);
            break;
        }
        case ZVCRASH_ASYNC_CFE_TYPE_FRAMELESS_IMMD:
        case ZVCRASH_ASYNC_CFE_TYPE_FRAMELESS_INDIRECT: {
            if (!zvcrash_async_thread_state_has_reg(current, ZVCRASH_REG_SP)) return ZVCRASH_ENOTFOUND;
            uint64_t size = static_cast<uint64_t>(entry->stack_offset);
            if (entry->type == ZVCRASH_ASYNC_CFE_TYPE_FRAMELESS_INDIRECT) {
                uint32_t word;
                if ((err = zvcrash_async_task_memcpy(task, function_address, entry->stack_offset, &word, 4)) !=
                    ZVCRASH_ESUCCESS)
                    return err;
                size = static_cast<uint64_t>(word) + entry->stack_adjust;
            }
            const uint64_t sp = zvcrash_async_thread_state_get_reg(current, ZVCRASH_REG_SP) + size;
            zvcrash_async_thread_state_set_reg(next, ZVCRASH_REG_SP, sp);
            const uint64_t regsSize = w * entry->register_count;
            if (entry->return_address_register != ZVCRASH_ASYNC_CFE_REG_NONE) {
                const int ra = static_cast<int>(entry->return_address_register);
                if (!zvcrash_async_thread_state_has_reg(current, ra)) return ZVCRASH_ENOTFOUND;
                zvcrash_async_thread_state_set_reg(next, ZVCRASH_REG_IP,
                                                   zvcrash_async_thread_state_get_reg(current, ra));
                savedStart = sp - regsSize;
            } else {
                uint64_t ra;
                if ((err = readWord(sp - w, &ra)) != ZVCRASH_ESUCCESS) return err;
                zvcrash_async_thread_state_set_reg(next, ZVCRASH_REG_IP, ra);
                savedStart = sp - w - regsSize;
            }
            break;
        }
        default:
            return ZVCRASH_ENOTSUP;
    }
    for (uint32_t i = 0; i < entry->register_count && i < ZVCRASH_ASYNC_CFE_MAX_REGS; ++i) {
        if (entry->register_list[i] == ZVCRASH_ASYNC_CFE_REG_NONE) continue;
        uint64_t v;
        if ((err = readWord(savedStart + i * w, &v)) != ZVCRASH_ESUCCESS) return err;
        zvcrash_async_thread_state_set_reg(next, static_cast<int>(entry->register_list[i]), v);
    }
    return ZVCRASH_ESUCCESS;
}

zvcrash_frame_error_t zvcrash_frame_compact_unwind_reader(const kernel::Task* task,
                                                          zvcrash_async_image_list* image_list,
                                                          const zvcrash_async_thread_state* current,
                                                          const zvcrash_async_thread_state* previous,
                                                          zvcrash_async_thread_state* next) {
    if (!zvcrash_async_thread_state_has_reg(current, ZVCRASH_REG_IP)) return ZVCRASH_FRAME_EBADFRAME;
    const uint64_t pc = zvcrash_async_thread_state_get_reg(current, ZVCRASH_REG_IP);
    if (pc == 0 || !image_list) return ZVCRASH_FRAME_ENOTSUP;
    // Above the first frame the pc is a return address; the call before it is what is looked up.
    const uint64_t lookup = previous ? pc - 1 : pc;
    zvcrash_frame_error_t result = ZVCRASH_FRAME_ENOTSUP;
    zvcrash_async_image_list_set_reading(image_list, true);
    zvcrash_async_image* image = zvcrash_async_image_list_image_containing_address(image_list, lookup);
    zvcrash_async_mobject section;
    if (image && image->format == ZVCRASH_IMAGE_FORMAT_MACHO &&
        zvcrash_async_macho_map_section(&image->macho, "__TEXT", "__unwind_info", &section) == ZVCRASH_ESUCCESS) {
        zvcrash_async_cfe_reader reader;
        const uint32_t cpu = zvcrash_async_macho_cpu_type(&image->macho);
        if (zvcrash_async_cfe_reader_init(&reader, &section, cpu) != ZVCRASH_ESUCCESS) {
            result = ZVCRASH_FRAME_EINVAL;
        } else {
            uint64_t base;
            uint32_t encoding;
            zvcrash_async_cfe_entry entry;
            if (zvcrash_async_cfe_reader_find_pc(&reader, lookup - image->header_addr, &base, &encoding) ==
                    ZVCRASH_ESUCCESS &&
                zvcrash_async_cfe_entry_init(&entry, cpu, encoding) == ZVCRASH_ESUCCESS) {
                uint64_t function;
                if (entry.type == ZVCRASH_ASYNC_CFE_TYPE_NONE) {
                    result = ZVCRASH_FRAME_ENOFRAME;
                } else if (!zvcrash_async_address_apply_offset(image->header_addr, static_cast<int64_t>(base),
                                                               &function)) {
                    result = ZVCRASH_FRAME_EINVAL;
                } else {
                    result = zvcrash_async_cfe_entry_apply(task, function, current, &entry, next) == ZVCRASH_ESUCCESS
                                 ? ZVCRASH_FRAME_ESUCCESS
                                 : ZVCRASH_FRAME_ENOFRAME;
                }
            }
        }
        zvcrash_async_mobject_free(&section);
    }
    zvcrash_async_image_list_set_reading(image_list, false);
    return result;
}
