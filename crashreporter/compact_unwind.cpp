#include "crashreporter/compact_unwind.h"

#include "crashreporter/image_list.h"
#include "crashreporter/thread_state.h"

namespace {

constexpr uint32_t kX86 = 7, kX86_64 = 0x1000007, kArm64 = 0x100000C;

zvcrash_error_t read32(zvcrash_async_cfe_reader* r, uint64_t offset, uint32_t* out) {
    if (zvcrash_async_mobject_read_uint32(r->mobj, r->byteorder, zvcrash_async_mobject_base_address(r->mobj),
                                          static_cast<int64_t>(offset), out) != ZVCRASH_ESUCCESS) {
        return ZVCRASH_EINVAL;
    }
    return ZVCRASH_ESUCCESS;
}

zvcrash_error_t read16(zvcrash_async_cfe_reader* r, uint64_t offset, uint16_t* out) {
    if (zvcrash_async_mobject_read_uint16(r->mobj, r->byteorder, zvcrash_async_mobject_base_address(r->mobj),
                                          static_cast<int64_t>(offset), out) != ZVCRASH_ESUCCESS) {
        return ZVCRASH_EINVAL;
    }
    return ZVCRASH_ESUCCESS;
}

// The last of `count` entries whose key (read by `key`) is at or below `target`.
template <typename Key>
zvcrash_error_t search(uint32_t count, uint32_t target, Key key, uint32_t* found) {
    if (count == 0) return ZVCRASH_ENOTFOUND;
    uint32_t lo = 0, hi = count;
    uint32_t first;
    zvcrash_error_t err = key(0, &first);
    if (err != ZVCRASH_ESUCCESS) return err;
    if (first > target) return ZVCRASH_ENOTFOUND;
    while (hi - lo > 1) {
        const uint32_t mid = lo + (hi - lo) / 2;
        uint32_t v;
        if ((err = key(mid, &v)) != ZVCRASH_ESUCCESS) return err;
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
    if (cpu_type != kX86 && cpu_type != kX86_64 && cpu_type != kArm64) return ZVCRASH_ENOTSUP;
    reader->mobj = mobj;
    reader->cpu_type = cpu_type;
    reader->byteorder = zvcrash_async_byteorder_direct();
    for (int i = 0; i < 7; ++i) {
        if (read32(reader, 4 * static_cast<uint64_t>(i), &reader->header[i]) != ZVCRASH_ESUCCESS) return ZVCRASH_EINVAL;
    }
    if (reader->header[0] != 1) return ZVCRASH_ENOTSUP;
    return ZVCRASH_ESUCCESS;
}

zvcrash_error_t zvcrash_async_cfe_reader_find_pc(zvcrash_async_cfe_reader* reader, uint64_t pc, uint64_t* function_base,
                                                 uint32_t* encoding) {
    if (pc > 0xFFFFFFFFULL) return ZVCRASH_ENOTFOUND;
    const uint32_t target = static_cast<uint32_t>(pc);
    const uint32_t indexOffset = reader->header[5], indexCount = reader->header[6];
    // The last first-level entry is a sentinel that holds no page.
    if (indexCount < 2) return ZVCRASH_ENOTFOUND;
    uint32_t first;
    zvcrash_error_t err = search(
        indexCount - 1, target, [&](uint32_t i, uint32_t* v) { return read32(reader, indexOffset + 12ULL * i, v); },
        &first);
    if (err != ZVCRASH_ESUCCESS) return err;
    uint32_t firstFunction, page;
    if ((err = read32(reader, indexOffset + 12ULL * first, &firstFunction)) != ZVCRASH_ESUCCESS) return err;
    if ((err = read32(reader, indexOffset + 12ULL * first + 4, &page)) != ZVCRASH_ESUCCESS) return err;
    uint32_t kind;
    if ((err = read32(reader, page, &kind)) != ZVCRASH_ESUCCESS) return err;
    uint16_t entriesOffset, entryCount;
    if ((err = read16(reader, page + 4ULL, &entriesOffset)) != ZVCRASH_ESUCCESS) return err;
    if ((err = read16(reader, page + 6ULL, &entryCount)) != ZVCRASH_ESUCCESS) return err;
    const uint64_t entries = page + static_cast<uint64_t>(entriesOffset);
    uint32_t at;
    if (kind == 2) {
        if ((err = search(
                 entryCount, target, [&](uint32_t i, uint32_t* v) { return read32(reader, entries + 8ULL * i, v); },
                 &at)) != ZVCRASH_ESUCCESS) {
            return err;
        }
        uint32_t fn;
        if ((err = read32(reader, entries + 8ULL * at, &fn)) != ZVCRASH_ESUCCESS) return err;
        if ((err = read32(reader, entries + 8ULL * at + 4, encoding)) != ZVCRASH_ESUCCESS) return err;
        *function_base = fn;
        return ZVCRASH_ESUCCESS;
    }
    if (kind != 3) return ZVCRASH_EINVAL;
    uint16_t encodingsOffset, encodingsCount;
    if ((err = read16(reader, page + 8ULL, &encodingsOffset)) != ZVCRASH_ESUCCESS) return err;
    if ((err = read16(reader, page + 10ULL, &encodingsCount)) != ZVCRASH_ESUCCESS) return err;
    auto key = [&](uint32_t i, uint32_t* v) {
        uint32_t e;
        zvcrash_error_t r = read32(reader, entries + 4ULL * i, &e);
        *v = firstFunction + (e & 0xFFFFFF);
        return r;
    };
    if ((err = search(entryCount, target, key, &at)) != ZVCRASH_ESUCCESS) return err;
    uint32_t e;
    if ((err = read32(reader, entries + 4ULL * at, &e)) != ZVCRASH_ESUCCESS) return err;
    const uint32_t index = e >> 24;
    const uint32_t commonCount = reader->header[2];
    if (index < commonCount) {
        if ((err = read32(reader, reader->header[1] + 4ULL * index, encoding)) != ZVCRASH_ESUCCESS) return err;
    } else {
        if (index - commonCount >= encodingsCount) return ZVCRASH_EINVAL;
        if ((err = read32(reader, page + encodingsOffset + 4ULL * (index - commonCount), encoding)) != ZVCRASH_ESUCCESS)
            return err;
    }
    *function_base = firstFunction + (e & 0xFFFFFF);
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
    const uint32_t mode = (encoding >> 24) & 0xF;
    if (cpu_type == kArm64) {
        switch (mode) {
            case 0:
                entry->type = ZVCRASH_ASYNC_CFE_TYPE_NONE;
                return ZVCRASH_ESUCCESS;
            case 3:
                entry->type = ZVCRASH_ASYNC_CFE_TYPE_DWARF;
                entry->stack_offset = encoding & 0xFFFFFF;
                return ZVCRASH_ESUCCESS;
            case 2:
            case 4: {
                entry->type = mode == 2 ? ZVCRASH_ASYNC_CFE_TYPE_FRAMELESS_IMMD : ZVCRASH_ASYNC_CFE_TYPE_FRAME_PTR;
                if (mode == 2) {
                    entry->stack_offset = static_cast<int64_t>(((encoding >> 12) & 0xFFF) * 16);
                    entry->return_address_register = 32;  // lr
                }
                // x19 is index 22: xn = 3 + n.
                const struct {
                    uint32_t flag;
                    uint32_t hi, lo;
                } pairs[] = {{0x10, 3 + 28, 3 + 27},
                             {0x08, 3 + 26, 3 + 25},
                             {0x04, 3 + 24, 3 + 23},
                             {0x02, 3 + 22, 3 + 21},
                             {0x01, 3 + 20, 3 + 19}};
                uint32_t n = 0;
                for (const auto& p : pairs) {
                    if (!(encoding & p.flag)) continue;
                    entry->register_list[n++] = p.hi;
                    entry->register_list[n++] = p.lo;
                }
                entry->register_count = n;
                if (mode == 4) entry->stack_offset = -8 * static_cast<int64_t>(n);
                return ZVCRASH_ESUCCESS;
            }
            default:
                return ZVCRASH_ENOTSUP;
        }
    }
    if (cpu_type != kX86 && cpu_type != kX86_64) return ZVCRASH_ENOTSUP;
    const uint32_t word = cpu_type == kX86_64 ? 8 : 4;
    bool ok = true;
    switch (mode) {
        case 0:
            entry->type = ZVCRASH_ASYNC_CFE_TYPE_NONE;
            return ZVCRASH_ESUCCESS;
        case 4:
            entry->type = ZVCRASH_ASYNC_CFE_TYPE_DWARF;
            entry->stack_offset = encoding & 0xFFFFFF;
            return ZVCRASH_ESUCCESS;
        case 1: {
            entry->type = ZVCRASH_ASYNC_CFE_TYPE_FRAME_PTR;
            entry->stack_offset = -static_cast<int64_t>(((encoding >> 16) & 0xFF) * word);
            const uint32_t regs = encoding & 0x7FFF;
            uint32_t n = 0;
            for (uint32_t shift = 0; shift < 15 && (regs >> shift) != 0; shift += 3) {
                const uint32_t r = (regs >> shift) & 7;
                entry->register_list[n++] = r == 0 ? ZVCRASH_ASYNC_CFE_REG_NONE : x86Register(r, &ok);
            }
            entry->register_count = n;
            return ok ? ZVCRASH_ESUCCESS : ZVCRASH_EINVAL;
        }
        case 2:
        case 3: {
            entry->type = mode == 2 ? ZVCRASH_ASYNC_CFE_TYPE_FRAMELESS_IMMD : ZVCRASH_ASYNC_CFE_TYPE_FRAMELESS_INDIRECT;
            if (mode == 2) {
                entry->stack_offset = static_cast<int64_t>(((encoding >> 16) & 0xFF) * word);
            } else {
                entry->stack_offset = static_cast<int64_t>((encoding >> 16) & 0xFF);
                entry->stack_adjust = ((encoding >> 13) & 7) * word;
            }
            const uint32_t count = (encoding >> 10) & 7;
            uint32_t numbers[6];
            zvcrash_error_t err = zvcrash_async_cfe_register_decode(encoding & 0x3FF, count, numbers);
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
