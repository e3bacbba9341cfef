// Register state: applying a row of rules to the current frame to make the caller's.
#include "crashreporter/dwarf_unwinder.h"

using namespace zvcrash::ZV::async;

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
        // The walking thread's own stack is read where it is (see zvcrash_async_task_cache).
        if (const void* local = zvcrash_async_task_cache_in_place(task, address, static_cast<size_t>(width))) {
            __builtin_memcpy(&v, local, static_cast<size_t>(width));
            *out = v & mask;
            return ZVCRASH_ESUCCESS;
        }
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
