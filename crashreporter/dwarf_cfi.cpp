// Call-frame programs: the register-rule state machine and the instructions that drive it.
#include <cstdint>

#include "crashreporter/dwarf_format.h"
#include "crashreporter/dwarf_unwinder.h"

using namespace zvcrash::dwarf;
using namespace zvcrash::ZV::async;

// A state is made for every frame unwound: only the first level is cleared here. Entries are
// handed out in order until all were used once (then from the released ones), and a level is
// cleared when it is pushed.
dwarf_cfa_state::dwarf_cfa_state() : free_(kNone), unused_(0), level_(0) {
    level_state& l = levels_[0];
    l.cfa = dwarf_cfa_rule{DWARF_CFA_RULE_UNDEFINED, 0, 0, 0, 0};
    l.count = 0;
    l.used = 0;
    for (auto& b : l.buckets) b = kNone;
}

uint8_t dwarf_cfa_state::alloc() {
    const uint8_t e = free_;
    if (e != kNone) {
        free_ = entries_[e].next;
        return e;
    }
    if (unused_ < kEntries) return unused_++;
    return kNone;
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
    l.used = 0;
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
    l.used = static_cast<uint16_t>(l.used | (1u << (reg % kBuckets)));
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
            if (l.buckets[reg % kBuckets] == kNone) l.used = static_cast<uint16_t>(l.used & ~(1u << (reg % kBuckets)));
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
    to.used = from.used;
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

namespace {

// operand x data alignment factor, refused when the product does not fit: hostile call-frame
// data must not overflow a signed multiplication.
bool scaled(int64_t operand, int64_t factor, int64_t* out) { return !__builtin_mul_overflow(operand, factor, out); }

bool scaledUnsigned(uint64_t operand, int64_t factor, int64_t* out) {
    if (operand > static_cast<uint64_t>(INT64_MAX)) return false;
    return scaled(static_cast<int64_t>(operand), factor, out);
}

}  // namespace

zvcrash_error_t dwarf_cfa_state::eval_program(zvcrash_async_dwarf_source* src, uint64_t pc, uint64_t pc_start,
                                              const zvcrash_async_dwarf_cie_info* cie, const gnu_ehptr_reader* reader,
                                              uint64_t address, uint64_t length) {
    // Every operand read stays inside the program: the reader's window ends with it.
    zvcrash_async_reader r = zvcrash_async_dwarf_source_reader(src, address);
    uint64_t end;
    if (!zvcrash_async_address_apply_offset(address, static_cast<int64_t>(length), &end) || end > src->end) {
        zvcrash_async_fault_set(&r.fault, ZVCRASH_EINVAL, "program length", address);
    }
    if (!zvcrash_async_reader_ok(&r)) return zvcrash_async_dwarf_source_failed(src, &r);
    r.end = end;

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
        uint32_t reg;
        dwarf_cfa_reg_rule_t k;
        int64_t v;
        while (initialCount < kEntries && it.next(&reg, &k, &v)) initial[initialCount++] = initial_rule{reg, k, v};
    }

    const int64_t daf = cie->data_alignment_factor;
    const uint64_t caf = cie->code_alignment_factor;
    uint64_t location = pc_start;
    // A failure of the instruction at `op_at`, kept as the reader's first fault.
    uint64_t opAt = address;
    auto fail = [&](zvcrash_error_t code, const char* field) { zvcrash_async_fault_set(&r.fault, code, field, opAt); };
    auto regnum = [&](const char* field) -> uint32_t {
        const uint64_t v = zvcrash_async_reader_uleb128(&r, field);
        if (v > 0xFFFFFFFFULL) fail(ZVCRASH_ENOTSUP, field);
        return static_cast<uint32_t>(v);
    };
    auto setReg = [&](uint32_t reg, dwarf_cfa_reg_rule_t rule, int64_t value) {
        if (zvcrash_async_reader_ok(&r) && !set_register(reg, rule, value)) fail(ZVCRASH_ENOMEM, "register rule");
    };
    auto setOffset = [&](uint32_t reg, dwarf_cfa_reg_rule_t rule, uint64_t operand) {
        int64_t v;
        if (!scaledUnsigned(operand, daf, &v)) return fail(ZVCRASH_EINVAL, "factored offset");
        setReg(reg, rule, v);
    };
    auto setOffsetSigned = [&](uint32_t reg, dwarf_cfa_reg_rule_t rule, int64_t operand) {
        int64_t v;
        if (!scaled(operand, daf, &v)) return fail(ZVCRASH_EINVAL, "factored offset");
        setReg(reg, rule, v);
    };
    auto restore = [&](uint32_t reg) {
        for (int i = 0; i < initialCount; ++i) {
            if (initial[i].reg == reg) return setReg(reg, initial[i].rule, initial[i].value);
        }
        remove_register(reg);
    };
    auto isRegisterCfa = [&] {
        const auto t = levels_[level_].cfa.type;
        return t == DWARF_CFA_RULE_REGISTER || t == DWARF_CFA_RULE_REGISTER_SIGNED;
    };
    // A block operand: its ULEB128 length, then that many bytes, which must lie in the program.
    auto block = [&](const char* field, uint64_t* at, uint64_t* len) {
        *len = zvcrash_async_reader_uleb128(&r, field);
        *at = r.pos;
        zvcrash_async_reader_skip(&r, *len, field);
    };

    while (r.pos < r.end && zvcrash_async_reader_ok(&r)) {
        opAt = r.pos;
        const uint8_t op = zvcrash_async_reader_u8(&r, "call-frame instruction");
        const uint8_t low = op & DW_CFA_low_mask;
        switch (op & DW_CFA_high_mask) {
            case DW_CFA_advance_loc:
                location += low * caf;
                break;
            case DW_CFA_offset:
                setOffset(low, DWARF_CFA_REG_RULE_OFFSET, zvcrash_async_reader_uleb128(&r, "DW_CFA_offset operand"));
                break;
            case DW_CFA_restore:
                restore(low);
                break;
            default:
                switch (op) {
                    case DW_CFA_nop:
                        break;
                    case DW_CFA_set_loc: {
                        if (cie->segment_size != 0) {
                            fail(ZVCRASH_ENOTSUP, "DW_CFA_set_loc with a segment");
                            break;
                        }
                        const uint8_t enc = cie->has_pointer_encoding ? cie->pointer_encoding : DW_EH_PE_absptr;
                        location = reader->read(&r, enc, "DW_CFA_set_loc address");
                        break;
                    }
                    case DW_CFA_advance_loc1:
                        location += zvcrash_async_reader_u8(&r, "DW_CFA_advance_loc1 delta") * caf;
                        break;
                    case DW_CFA_advance_loc2:
                        location += zvcrash_async_reader_u16(&r, "DW_CFA_advance_loc2 delta") * caf;
                        break;
                    case DW_CFA_advance_loc4:
                        location += zvcrash_async_reader_u32(&r, "DW_CFA_advance_loc4 delta") * caf;
                        break;
                    case DW_CFA_offset_extended: {
                        const uint32_t reg = regnum("DW_CFA_offset_extended register");
                        setOffset(reg, DWARF_CFA_REG_RULE_OFFSET,
                                  zvcrash_async_reader_uleb128(&r, "DW_CFA_offset_extended operand"));
                        break;
                    }
                    case DW_CFA_restore_extended: {
                        const uint32_t reg = regnum("DW_CFA_restore_extended register");
                        if (zvcrash_async_reader_ok(&r)) restore(reg);
                        break;
                    }
                    case DW_CFA_undefined:
                        setReg(regnum("DW_CFA_undefined register"), DWARF_CFA_REG_RULE_UNDEFINED, 0);
                        break;
                    case DW_CFA_same_value:
                        setReg(regnum("DW_CFA_same_value register"), DWARF_CFA_REG_RULE_SAME_VALUE, 0);
                        break;
                    case DW_CFA_register: {
                        const uint32_t reg = regnum("DW_CFA_register register");
                        const uint32_t other = regnum("DW_CFA_register other register");
                        setReg(reg, DWARF_CFA_REG_RULE_REGISTER, static_cast<int64_t>(other));
                        break;
                    }
                    case DW_CFA_remember_state:
                        if (!push_state()) fail(ZVCRASH_ENOMEM, "DW_CFA_remember_state");
                        break;
                    case DW_CFA_restore_state:
                        if (!pop_state()) fail(ZVCRASH_EINVAL, "DW_CFA_restore_state");
                        break;
                    case DW_CFA_def_cfa: {
                        const uint32_t reg = regnum("DW_CFA_def_cfa register");
                        const uint64_t offset = zvcrash_async_reader_uleb128(&r, "DW_CFA_def_cfa offset");
                        if (zvcrash_async_reader_ok(&r)) set_cfa_register(reg, offset);
                        break;
                    }
                    case DW_CFA_def_cfa_register: {
                        const uint32_t reg = regnum("DW_CFA_def_cfa_register register");
                        if (!zvcrash_async_reader_ok(&r)) break;
                        if (!isRegisterCfa()) {
                            fail(ZVCRASH_EINVAL, "DW_CFA_def_cfa_register without a register CFA");
                            break;
                        }
                        levels_[level_].cfa.reg = reg;
                        break;
                    }
                    case DW_CFA_def_cfa_offset: {
                        const uint64_t offset = zvcrash_async_reader_uleb128(&r, "DW_CFA_def_cfa_offset offset");
                        if (!zvcrash_async_reader_ok(&r)) break;
                        if (!isRegisterCfa()) {
                            fail(ZVCRASH_EINVAL, "DW_CFA_def_cfa_offset without a register CFA");
                            break;
                        }
                        set_cfa_register(levels_[level_].cfa.reg, offset);
                        break;
                    }
                    case DW_CFA_def_cfa_expression: {
                        uint64_t at, len;
                        block("DW_CFA_def_cfa_expression block", &at, &len);
                        if (zvcrash_async_reader_ok(&r)) set_cfa_expression(at, len);
                        break;
                    }
                    case DW_CFA_expression:
                    case DW_CFA_val_expression: {
                        const uint32_t reg = regnum("DW_CFA_expression register");
                        // The rule keeps the address of the block's length field.
                        const uint64_t lengthField = r.pos;
                        uint64_t at, len;
                        block("DW_CFA_expression block", &at, &len);
                        const auto rule =
                            op == DW_CFA_expression ? DWARF_CFA_REG_RULE_EXPRESSION : DWARF_CFA_REG_RULE_VAL_EXPRESSION;
                        setReg(reg, rule, static_cast<int64_t>(lengthField));
                        break;
                    }
                    case DW_CFA_offset_extended_sf: {
                        const uint32_t reg = regnum("DW_CFA_offset_extended_sf register");
                        setOffsetSigned(reg, DWARF_CFA_REG_RULE_OFFSET,
                                        zvcrash_async_reader_sleb128(&r, "DW_CFA_offset_extended_sf operand"));
                        break;
                    }
                    case DW_CFA_def_cfa_sf: {
                        const uint32_t reg = regnum("DW_CFA_def_cfa_sf register");
                        const int64_t operand = zvcrash_async_reader_sleb128(&r, "DW_CFA_def_cfa_sf offset");
                        int64_t offset;
                        if (!zvcrash_async_reader_ok(&r)) break;
                        if (!scaled(operand, daf, &offset)) {
                            fail(ZVCRASH_EINVAL, "factored offset");
                            break;
                        }
                        set_cfa_register_signed(reg, offset);
                        break;
                    }
                    case DW_CFA_def_cfa_offset_sf: {
                        const int64_t operand = zvcrash_async_reader_sleb128(&r, "DW_CFA_def_cfa_offset_sf offset");
                        int64_t offset;
                        if (!zvcrash_async_reader_ok(&r)) break;
                        if (!isRegisterCfa()) {
                            fail(ZVCRASH_EINVAL, "DW_CFA_def_cfa_offset_sf without a register CFA");
                            break;
                        }
                        if (!scaled(operand, daf, &offset)) {
                            fail(ZVCRASH_EINVAL, "factored offset");
                            break;
                        }
                        set_cfa_register_signed(levels_[level_].cfa.reg, offset);
                        break;
                    }
                    case DW_CFA_val_offset: {
                        const uint32_t reg = regnum("DW_CFA_val_offset register");
                        setOffset(reg, DWARF_CFA_REG_RULE_VAL_OFFSET,
                                  zvcrash_async_reader_uleb128(&r, "DW_CFA_val_offset operand"));
                        break;
                    }
                    case DW_CFA_val_offset_sf: {
                        const uint32_t reg = regnum("DW_CFA_val_offset_sf register");
                        setOffsetSigned(reg, DWARF_CFA_REG_RULE_VAL_OFFSET,
                                        zvcrash_async_reader_sleb128(&r, "DW_CFA_val_offset_sf operand"));
                        break;
                    }
                    case DW_CFA_GNU_args_size:
                        // The outgoing argument area's size; no rule changes.
                        zvcrash_async_reader_uleb128(&r, "DW_CFA_GNU_args_size operand");
                        break;
                    default:
                        fail(ZVCRASH_ENOTSUP, "call-frame instruction");
                        break;
                }
        }
        if (!zvcrash_async_reader_ok(&r)) break;
        if (location > pc) return ZVCRASH_ESUCCESS;
    }
    if (!zvcrash_async_reader_ok(&r)) return zvcrash_async_dwarf_source_failed(src, &r);
    return ZVCRASH_ESUCCESS;
}
