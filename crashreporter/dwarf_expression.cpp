// DWARF expressions: a bounded stack machine over the block's opcodes, evaluated at crash time.
#include "crashreporter/dwarf_format.h"
#include "crashreporter/dwarf_unwinder.h"

using namespace zvcrash::dwarf;

zvcrash_error_t zvcrash_async_dwarf_expression_eval(zvcrash_async_dwarf_source* src, const kernel::Task* task,
                                                    const zvcrash_async_thread_state* state, uint64_t address,
                                                    uint64_t length, const uint64_t* initial, int initial_count,
                                                    uint64_t* result) {
    constexpr int kStack = 100;
    uint64_t stack[kStack];
    int sp = 0;
    // Operands are read through a reader whose window is the block itself.
    zvcrash_async_reader r = zvcrash_async_dwarf_source_reader(src, address);
    uint64_t end;
    if (!zvcrash_async_address_apply_offset(address, static_cast<int64_t>(length), &end) || end > src->end)
        zvcrash_async_fault_set(&r.fault, ZVCRASH_EINVAL, "expression length", address);
    if (!zvcrash_async_reader_ok(&r)) return zvcrash_async_dwarf_source_failed(src, &r);
    r.end = end;
    uint64_t opAt = address;
#define FAIL(code, field)                                                                                              \
    do {                                                                                                               \
        zvcrash_async_fault_set(&r.fault, (code), (field), opAt);                                                      \
        return zvcrash_async_dwarf_source_failed(src, &r);                                                             \
    } while (0)
    if (initial_count < 0 || initial_count > kStack) FAIL(ZVCRASH_EINTERNAL, "initial stack values");
    for (int i = 0; i < initial_count; ++i) stack[sp++] = initial[i];
    const bool m64 = zvcrash_async_thread_state_get_greg_size(state) == 8;
    const uint64_t mask = m64 ? ~0ULL : 0xFFFFFFFFULL;
    auto sext = [&](uint64_t v) -> int64_t {
        return m64 ? static_cast<int64_t>(v) : static_cast<int64_t>(static_cast<int32_t>(v));
    };
    zvcrash_error_t err;
#define NEED(k)                                                                                                        \
    do {                                                                                                               \
        if (sp < (k)) FAIL(ZVCRASH_EINTERNAL, "expression stack underflow");                                           \
    } while (0)
#define PUSH(v)                                                                                                        \
    do {                                                                                                               \
        const uint64_t pushed_ = (v);                                                                                  \
        if (sp >= kStack) FAIL(ZVCRASH_EINTERNAL, "expression stack overflow");                                        \
        stack[sp] = pushed_ & mask;                                                                                    \
        ++sp;                                                                                                          \
    } while (0)
    // Operand reads: a failure stays in the reader and ends the evaluation.
    auto fixed = [&](int width, uint64_t* out) -> zvcrash_error_t {
        *out = zvcrash_async_reader_uint(&r, width, "expression operand");
        return zvcrash_async_reader_error(&r);
    };
    auto uleb = [&](uint64_t* out) -> zvcrash_error_t {
        *out = zvcrash_async_reader_uleb128(&r, "expression operand");
        return zvcrash_async_reader_error(&r);
    };
    auto sleb = [&](int64_t* out) -> zvcrash_error_t {
        *out = zvcrash_async_reader_sleb128(&r, "expression operand");
        return zvcrash_async_reader_error(&r);
    };
    auto deref = [&](uint64_t addr, int size, uint64_t* out) -> zvcrash_error_t {
        uint64_t v = 0;
        if (zvcrash_async_task_memcpy(task, addr, 0, &v, static_cast<size_t>(size)) != ZVCRASH_ESUCCESS) {
            zvcrash_async_fault_set(&r.fault, ZVCRASH_EINVAL, "dereferenced address", opAt);
            return ZVCRASH_EINVAL;
        }
        *out = v;
        return ZVCRASH_ESUCCESS;
    };
    auto breg = [&](uint64_t dwarf, int64_t offset, uint64_t* out) -> zvcrash_error_t {
        int index;
        if (!zvcrash_async_thread_state_map_dwarf_to_reg(state, dwarf, &index)) {
            zvcrash_async_fault_set(&r.fault, ZVCRASH_ENOTSUP, "base register", opAt);
            return ZVCRASH_ENOTSUP;
        }
        if (!zvcrash_async_thread_state_has_reg(state, index)) {
            zvcrash_async_fault_set(&r.fault, ZVCRASH_ENOTFOUND, "base register value", opAt);
            return ZVCRASH_ENOTFOUND;
        }
        *out = zvcrash_async_thread_state_get_reg(state, index) + static_cast<uint64_t>(offset);
        return ZVCRASH_ESUCCESS;
    };

    // Backward branches can loop forever; a crash-time walk must end, so the work is bounded.
    int budget = 10000;
    while (r.pos < r.end) {
        opAt = r.pos;
        if (--budget < 0) FAIL(ZVCRASH_EINVAL, "expression step budget");
        const uint8_t op = zvcrash_async_reader_u8(&r, "expression opcode");
        if (!zvcrash_async_reader_ok(&r)) return zvcrash_async_dwarf_source_failed(src, &r);
        uint64_t u, a, b;
        int64_t s;
        if (op >= DW_OP_lit0 && op <= DW_OP_lit31) {
            PUSH(static_cast<uint64_t>(op - DW_OP_lit0));
            continue;
        }
        if (op >= DW_OP_breg0 && op <= DW_OP_breg31) {
            if (sleb(&s) != ZVCRASH_ESUCCESS || breg(op - DW_OP_breg0, s, &u) != ZVCRASH_ESUCCESS)
                return zvcrash_async_dwarf_source_failed(src, &r);
            PUSH(u);
            continue;
        }
        switch (op) {
            case DW_OP_deref:
                if (sp < 1) FAIL(ZVCRASH_EINVAL, "DW_OP_deref on an empty stack");
                if ((err = deref(stack[sp - 1], m64 ? 8 : 4, &u)) != ZVCRASH_ESUCCESS)
                    return zvcrash_async_dwarf_source_failed(src, &r);
                stack[sp - 1] = u;
                break;
            case DW_OP_const1u:
                if ((err = fixed(1, &u)) != ZVCRASH_ESUCCESS) return zvcrash_async_dwarf_source_failed(src, &r);
                PUSH(u);
                break;
            case DW_OP_const1s:
                if ((err = fixed(1, &u)) != ZVCRASH_ESUCCESS) return zvcrash_async_dwarf_source_failed(src, &r);
                PUSH(static_cast<uint64_t>(static_cast<int64_t>(static_cast<int8_t>(u))));
                break;
            case DW_OP_const2u:
                if ((err = fixed(2, &u)) != ZVCRASH_ESUCCESS) return zvcrash_async_dwarf_source_failed(src, &r);
                PUSH(u);
                break;
            case DW_OP_const2s:
                if ((err = fixed(2, &u)) != ZVCRASH_ESUCCESS) return zvcrash_async_dwarf_source_failed(src, &r);
                PUSH(static_cast<uint64_t>(static_cast<int64_t>(static_cast<int16_t>(u))));
                break;
            case DW_OP_const4u:
                if ((err = fixed(4, &u)) != ZVCRASH_ESUCCESS) return zvcrash_async_dwarf_source_failed(src, &r);
                PUSH(u);
                break;
            case DW_OP_const4s:
                if ((err = fixed(4, &u)) != ZVCRASH_ESUCCESS) return zvcrash_async_dwarf_source_failed(src, &r);
                PUSH(static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(u))));
                break;
            case DW_OP_const8u:
            case DW_OP_const8s:
                if ((err = fixed(8, &u)) != ZVCRASH_ESUCCESS) return zvcrash_async_dwarf_source_failed(src, &r);
                PUSH(u);
                break;
            case DW_OP_constu:
                if ((err = uleb(&u)) != ZVCRASH_ESUCCESS) return zvcrash_async_dwarf_source_failed(src, &r);
                PUSH(u);
                break;
            case DW_OP_consts:
                if ((err = sleb(&s)) != ZVCRASH_ESUCCESS) return zvcrash_async_dwarf_source_failed(src, &r);
                PUSH(static_cast<uint64_t>(s));
                break;
            case DW_OP_dup:
                NEED(1);
                PUSH(stack[sp - 1]);
                break;
            case DW_OP_drop:
                NEED(1);
                --sp;
                break;
            case DW_OP_over:
                NEED(2);
                PUSH(stack[sp - 2]);
                break;
            case DW_OP_pick:
                if ((err = fixed(1, &u)) != ZVCRASH_ESUCCESS) return zvcrash_async_dwarf_source_failed(src, &r);
                NEED(static_cast<int>(u) + 1);
                PUSH(stack[sp - 1 - static_cast<int>(u)]);
                break;
            case DW_OP_swap:
                NEED(2);
                a = stack[sp - 1];
                stack[sp - 1] = stack[sp - 2];
                stack[sp - 2] = a;
                break;
            case DW_OP_rot:
                NEED(3);
                a = stack[sp - 1];
                stack[sp - 1] = stack[sp - 2];
                stack[sp - 2] = stack[sp - 3];
                stack[sp - 3] = a;
                break;
            case DW_OP_xderef:
                NEED(2);
                if ((err = deref(stack[sp - 1], m64 ? 8 : 4, &u)) != ZVCRASH_ESUCCESS)
                    return zvcrash_async_dwarf_source_failed(src, &r);
                --sp;
                stack[sp - 1] = u;
                break;
            case DW_OP_abs:
                NEED(1);
                if (sext(stack[sp - 1]) < 0) stack[sp - 1] = (0 - stack[sp - 1]) & mask;
                break;
            case DW_OP_and:
                NEED(2);
                b = stack[--sp];
                stack[sp - 1] &= b;
                break;
            case DW_OP_div:
                NEED(2);
                b = stack[--sp];
                if (b == 0) FAIL(ZVCRASH_EINVAL, "DW_OP_div by zero");
                if (sext(b) == -1)
                    stack[sp - 1] = (0 - stack[sp - 1]) & mask;  // avoids INT_MIN / -1
                else
                    stack[sp - 1] = static_cast<uint64_t>(sext(stack[sp - 1]) / sext(b)) & mask;
                break;
            case DW_OP_minus:
                NEED(2);
                b = stack[--sp];
                stack[sp - 1] = (stack[sp - 1] - b) & mask;
                break;
            case DW_OP_mod:
                NEED(2);
                b = stack[--sp];
                if (b == 0) FAIL(ZVCRASH_EINVAL, "DW_OP_mod by zero");
                stack[sp - 1] = stack[sp - 1] % b;
                break;
            case DW_OP_mul:
                NEED(2);
                b = stack[--sp];
                stack[sp - 1] = (stack[sp - 1] * b) & mask;
                break;
            case DW_OP_neg:
                NEED(1);
                stack[sp - 1] = (0 - stack[sp - 1]) & mask;
                break;
            case DW_OP_not:
                NEED(1);
                stack[sp - 1] = ~stack[sp - 1] & mask;
                break;
            case DW_OP_or:
                NEED(2);
                b = stack[--sp];
                stack[sp - 1] |= b;
                break;
            case DW_OP_plus:
                NEED(2);
                b = stack[--sp];
                stack[sp - 1] = (stack[sp - 1] + b) & mask;
                break;
            case DW_OP_plus_uconst:
                NEED(1);
                if ((err = uleb(&u)) != ZVCRASH_ESUCCESS) return zvcrash_async_dwarf_source_failed(src, &r);
                stack[sp - 1] = (stack[sp - 1] + u) & mask;
                break;
            case DW_OP_shl:
                NEED(2);
                b = stack[--sp];
                stack[sp - 1] = b >= 64 ? 0 : (stack[sp - 1] << b) & mask;
                break;
            case DW_OP_shr:
                NEED(2);
                b = stack[--sp];
                stack[sp - 1] = b >= 64 ? 0 : stack[sp - 1] >> b;
                break;
            case DW_OP_shra:
                NEED(2);
                b = stack[--sp];
                stack[sp - 1] = static_cast<uint64_t>(sext(stack[sp - 1]) >> (b >= 63 ? 63 : b)) & mask;
                break;
            case DW_OP_xor:
                NEED(2);
                b = stack[--sp];
                stack[sp - 1] ^= b;
                break;
            case DW_OP_bra:
            case DW_OP_skip: {
                if ((err = fixed(2, &u)) != ZVCRASH_ESUCCESS) return zvcrash_async_dwarf_source_failed(src, &r);
                const int16_t delta = static_cast<int16_t>(u);
                bool jump = true;
                if (op == DW_OP_bra) {
                    NEED(1);
                    jump = stack[--sp] != 0;
                }
                if (jump) {
                    uint64_t target;
                    if (!zvcrash_async_address_apply_offset(r.pos, delta, &target) || target < address || target > end)
                        FAIL(ZVCRASH_EINVAL, "branch target");
                    r.pos = target;
                }
                break;
            }
            case DW_OP_eq:
            case DW_OP_ge:
            case DW_OP_gt:
            case DW_OP_le:
            case DW_OP_lt:
            case DW_OP_ne: {
                NEED(2);
                const int64_t y = sext(stack[--sp]);
                const int64_t x = sext(stack[sp - 1]);
                bool r = false;
                switch (op) {
                    case DW_OP_eq:
                        r = x == y;
                        break;
                    case DW_OP_ge:
                        r = x >= y;
                        break;
                    case DW_OP_gt:
                        r = x > y;
                        break;
                    case DW_OP_le:
                        r = x <= y;
                        break;
                    case DW_OP_lt:
                        r = x < y;
                        break;
                    default:
                        r = x != y;
                        break;
                }
                stack[sp - 1] = r ? 1 : 0;
                break;
            }
            case DW_OP_bregx:
                if ((err = uleb(&u)) != ZVCRASH_ESUCCESS || (err = sleb(&s)) != ZVCRASH_ESUCCESS)
                    return zvcrash_async_dwarf_source_failed(src, &r);
                if ((err = breg(u, s, &a)) != ZVCRASH_ESUCCESS) return zvcrash_async_dwarf_source_failed(src, &r);
                PUSH(a);
                break;
            case DW_OP_deref_size:
            case DW_OP_xderef_size: {
                if ((err = fixed(1, &u)) != ZVCRASH_ESUCCESS) return zvcrash_async_dwarf_source_failed(src, &r);
                if (u != 1 && u != 2 && u != 4 && u != 8) FAIL(ZVCRASH_EINVAL, "DW_OP_deref_size size");
                NEED(op == DW_OP_xderef_size ? 2 : 1);
                if ((err = deref(stack[sp - 1], static_cast<int>(u), &a)) != ZVCRASH_ESUCCESS)
                    return zvcrash_async_dwarf_source_failed(src, &r);
                if (op == DW_OP_xderef_size) --sp;
                stack[sp - 1] = a & mask;
                break;
            }
            case DW_OP_nop:
                break;
            default:
                FAIL(ZVCRASH_ENOTSUP, "expression opcode");
        }
    }
    if (sp == 0) FAIL(ZVCRASH_EINVAL, "expression result on an empty stack");
#undef NEED
#undef PUSH
#undef FAIL
    *result = stack[sp - 1];
    return ZVCRASH_ESUCCESS;
}
