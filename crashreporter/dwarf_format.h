// The numbers of the DWARF call-frame format that the unwinder reads: call-frame instructions,
// expression opcodes and the exception-handling pointer encodings, with the DWARF names.
#pragma once

#include <cstdint>

namespace zvcrash::dwarf {

// Call-frame instructions. The first three carry an operand in their low six bits.
inline constexpr uint8_t DW_CFA_high_mask = 0xC0;
inline constexpr uint8_t DW_CFA_low_mask = 0x3F;
inline constexpr uint8_t DW_CFA_advance_loc = 0x40;
inline constexpr uint8_t DW_CFA_offset = 0x80;
inline constexpr uint8_t DW_CFA_restore = 0xC0;
inline constexpr uint8_t DW_CFA_nop = 0x00;
inline constexpr uint8_t DW_CFA_set_loc = 0x01;
inline constexpr uint8_t DW_CFA_advance_loc1 = 0x02;
inline constexpr uint8_t DW_CFA_advance_loc2 = 0x03;
inline constexpr uint8_t DW_CFA_advance_loc4 = 0x04;
inline constexpr uint8_t DW_CFA_offset_extended = 0x05;
inline constexpr uint8_t DW_CFA_restore_extended = 0x06;
inline constexpr uint8_t DW_CFA_undefined = 0x07;
inline constexpr uint8_t DW_CFA_same_value = 0x08;
inline constexpr uint8_t DW_CFA_register = 0x09;
inline constexpr uint8_t DW_CFA_remember_state = 0x0A;
inline constexpr uint8_t DW_CFA_restore_state = 0x0B;
inline constexpr uint8_t DW_CFA_def_cfa = 0x0C;
inline constexpr uint8_t DW_CFA_def_cfa_register = 0x0D;
inline constexpr uint8_t DW_CFA_def_cfa_offset = 0x0E;
inline constexpr uint8_t DW_CFA_def_cfa_expression = 0x0F;
inline constexpr uint8_t DW_CFA_expression = 0x10;
inline constexpr uint8_t DW_CFA_offset_extended_sf = 0x11;
inline constexpr uint8_t DW_CFA_def_cfa_sf = 0x12;
inline constexpr uint8_t DW_CFA_def_cfa_offset_sf = 0x13;
inline constexpr uint8_t DW_CFA_val_offset = 0x14;
inline constexpr uint8_t DW_CFA_val_offset_sf = 0x15;
inline constexpr uint8_t DW_CFA_val_expression = 0x16;
inline constexpr uint8_t DW_CFA_GNU_args_size = 0x2E;

// Expression opcodes.
inline constexpr uint8_t DW_OP_deref = 0x06;
inline constexpr uint8_t DW_OP_const1u = 0x08;
inline constexpr uint8_t DW_OP_const1s = 0x09;
inline constexpr uint8_t DW_OP_const2u = 0x0A;
inline constexpr uint8_t DW_OP_const2s = 0x0B;
inline constexpr uint8_t DW_OP_const4u = 0x0C;
inline constexpr uint8_t DW_OP_const4s = 0x0D;
inline constexpr uint8_t DW_OP_const8u = 0x0E;
inline constexpr uint8_t DW_OP_const8s = 0x0F;
inline constexpr uint8_t DW_OP_constu = 0x10;
inline constexpr uint8_t DW_OP_consts = 0x11;
inline constexpr uint8_t DW_OP_dup = 0x12;
inline constexpr uint8_t DW_OP_drop = 0x13;
inline constexpr uint8_t DW_OP_over = 0x14;
inline constexpr uint8_t DW_OP_pick = 0x15;
inline constexpr uint8_t DW_OP_swap = 0x16;
inline constexpr uint8_t DW_OP_rot = 0x17;
inline constexpr uint8_t DW_OP_xderef = 0x18;
inline constexpr uint8_t DW_OP_abs = 0x19;
inline constexpr uint8_t DW_OP_and = 0x1A;
inline constexpr uint8_t DW_OP_div = 0x1B;
inline constexpr uint8_t DW_OP_minus = 0x1C;
inline constexpr uint8_t DW_OP_mod = 0x1D;
inline constexpr uint8_t DW_OP_mul = 0x1E;
inline constexpr uint8_t DW_OP_neg = 0x1F;
inline constexpr uint8_t DW_OP_not = 0x20;
inline constexpr uint8_t DW_OP_or = 0x21;
inline constexpr uint8_t DW_OP_plus = 0x22;
inline constexpr uint8_t DW_OP_plus_uconst = 0x23;
inline constexpr uint8_t DW_OP_shl = 0x24;
inline constexpr uint8_t DW_OP_shr = 0x25;
inline constexpr uint8_t DW_OP_shra = 0x26;
inline constexpr uint8_t DW_OP_xor = 0x27;
inline constexpr uint8_t DW_OP_bra = 0x28;
inline constexpr uint8_t DW_OP_eq = 0x29;
inline constexpr uint8_t DW_OP_ge = 0x2A;
inline constexpr uint8_t DW_OP_gt = 0x2B;
inline constexpr uint8_t DW_OP_le = 0x2C;
inline constexpr uint8_t DW_OP_lt = 0x2D;
inline constexpr uint8_t DW_OP_ne = 0x2E;
inline constexpr uint8_t DW_OP_skip = 0x2F;
inline constexpr uint8_t DW_OP_lit0 = 0x30;
inline constexpr uint8_t DW_OP_lit31 = 0x4F;
inline constexpr uint8_t DW_OP_breg0 = 0x70;
inline constexpr uint8_t DW_OP_breg31 = 0x8F;
inline constexpr uint8_t DW_OP_bregx = 0x92;
inline constexpr uint8_t DW_OP_deref_size = 0x94;
inline constexpr uint8_t DW_OP_xderef_size = 0x95;
inline constexpr uint8_t DW_OP_nop = 0x96;

// Exception-handling pointer encodings: an application (how the value is based) in bits 4-6, a
// value format in the low four bits, and an indirection flag.
inline constexpr uint8_t DW_EH_PE_omit = 0xFF;
inline constexpr uint8_t DW_EH_PE_indirect = 0x80;
inline constexpr uint8_t DW_EH_PE_application_mask = 0x70;
inline constexpr uint8_t DW_EH_PE_format_mask = 0x0F;
inline constexpr uint8_t DW_EH_PE_absptr = 0x00;
inline constexpr uint8_t DW_EH_PE_pcrel = 0x10;
inline constexpr uint8_t DW_EH_PE_textrel = 0x20;
inline constexpr uint8_t DW_EH_PE_datarel = 0x30;
inline constexpr uint8_t DW_EH_PE_funcrel = 0x40;
inline constexpr uint8_t DW_EH_PE_aligned = 0x50;
inline constexpr uint8_t DW_EH_PE_native = 0x00;  // format: a word of the target's width
inline constexpr uint8_t DW_EH_PE_uleb128 = 0x01;
inline constexpr uint8_t DW_EH_PE_udata2 = 0x02;
inline constexpr uint8_t DW_EH_PE_udata4 = 0x03;
inline constexpr uint8_t DW_EH_PE_udata8 = 0x04;
inline constexpr uint8_t DW_EH_PE_sleb128 = 0x09;
inline constexpr uint8_t DW_EH_PE_sdata2 = 0x0A;
inline constexpr uint8_t DW_EH_PE_sdata4 = 0x0B;
inline constexpr uint8_t DW_EH_PE_sdata8 = 0x0C;

// Entry headers of the frame sections.
inline constexpr uint32_t kExtendedLength = 0xFFFFFFFF;  // a 64-bit length follows
inline constexpr uint32_t kDebugFrameCieId32 = 0xFFFFFFFF;
inline constexpr uint64_t kDebugFrameCieId64 = ~0ULL;
inline constexpr uint32_t kEhFrameCieId = 0;

// The search table of .eh_frame_hdr.
inline constexpr uint8_t kEhFrameHdrVersion = 1;

}  // namespace zvcrash::dwarf
