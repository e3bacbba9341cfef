// The records and numbers of the linker's compact unwind table (__TEXT,__unwind_info): a header,
// a first-level index of pages, regular and compressed second-level pages, and the 32-bit
// encodings with their per-architecture modes. The table is in the image's (the host's) order.
#pragma once

#include <cstdint>

namespace zvcrash::compact_unwind {

inline constexpr uint32_t UNWIND_SECTION_VERSION = 1;

struct unwind_info_section_header {
    uint32_t version;
    uint32_t commonEncodingsArraySectionOffset;
    uint32_t commonEncodingsArrayCount;
    uint32_t personalityArraySectionOffset;
    uint32_t personalityArrayCount;
    uint32_t indexSectionOffset;
    uint32_t indexCount;
};
static_assert(sizeof(unwind_info_section_header) == 28);

struct unwind_info_section_header_index_entry {
    uint32_t functionOffset;
    uint32_t secondLevelPagesSectionOffset;
    uint32_t lsdaIndexArraySectionOffset;
};
static_assert(sizeof(unwind_info_section_header_index_entry) == 12);

inline constexpr uint32_t UNWIND_SECOND_LEVEL_REGULAR = 2;
inline constexpr uint32_t UNWIND_SECOND_LEVEL_COMPRESSED = 3;

struct unwind_info_regular_second_level_page_header {
    uint32_t kind;
    uint16_t entryPageOffset;
    uint16_t entryCount;
};
static_assert(sizeof(unwind_info_regular_second_level_page_header) == 8);

struct unwind_info_regular_second_level_entry {
    uint32_t functionOffset;
    uint32_t encoding;
};
static_assert(sizeof(unwind_info_regular_second_level_entry) == 8);

struct unwind_info_compressed_second_level_page_header {
    uint32_t kind;
    uint16_t entryPageOffset;
    uint16_t entryCount;
    uint16_t encodingsPageOffset;
    uint16_t encodingsCount;
};
static_assert(sizeof(unwind_info_compressed_second_level_page_header) == 12);

// A compressed entry: the function's offset from its first-level entry's, and its encoding index.
inline constexpr uint32_t UNWIND_INFO_COMPRESSED_ENTRY_FUNC_OFFSET_MASK = 0x00FFFFFF;
inline constexpr uint32_t UNWIND_INFO_COMPRESSED_ENTRY_ENCODING_INDEX_SHIFT = 24;

// Encodings: the mode in bits 24-27 for every architecture.
inline constexpr uint32_t UNWIND_MODE_SHIFT = 24;
inline constexpr uint32_t UNWIND_MODE_MASK = 0xF;
inline constexpr uint32_t UNWIND_DWARF_SECTION_OFFSET_MASK = 0x00FFFFFF;

// arm64 modes and fields.
inline constexpr uint32_t UNWIND_ARM64_MODE_NONE = 0;
inline constexpr uint32_t UNWIND_ARM64_MODE_FRAMELESS = 2;
inline constexpr uint32_t UNWIND_ARM64_MODE_DWARF = 3;
inline constexpr uint32_t UNWIND_ARM64_MODE_FRAME = 4;
inline constexpr uint32_t UNWIND_ARM64_FRAMELESS_STACK_SIZE_SHIFT = 12;
inline constexpr uint32_t UNWIND_ARM64_FRAMELESS_STACK_SIZE_MASK = 0xFFF;
inline constexpr uint32_t UNWIND_ARM64_FRAMELESS_STACK_SIZE_UNIT = 16;
inline constexpr uint32_t UNWIND_ARM64_FRAME_X19_X20_PAIR = 0x01;
inline constexpr uint32_t UNWIND_ARM64_FRAME_X21_X22_PAIR = 0x02;
inline constexpr uint32_t UNWIND_ARM64_FRAME_X23_X24_PAIR = 0x04;
inline constexpr uint32_t UNWIND_ARM64_FRAME_X25_X26_PAIR = 0x08;
inline constexpr uint32_t UNWIND_ARM64_FRAME_X27_X28_PAIR = 0x10;

// x86 and x86-64 modes and fields.
inline constexpr uint32_t UNWIND_X86_MODE_NONE = 0;
inline constexpr uint32_t UNWIND_X86_MODE_BP_FRAME = 1;
inline constexpr uint32_t UNWIND_X86_MODE_STACK_IMMD = 2;
inline constexpr uint32_t UNWIND_X86_MODE_STACK_IND = 3;
inline constexpr uint32_t UNWIND_X86_MODE_DWARF = 4;
inline constexpr uint32_t UNWIND_X86_BP_FRAME_OFFSET_SHIFT = 16;
inline constexpr uint32_t UNWIND_X86_BP_FRAME_OFFSET_MASK = 0xFF;
inline constexpr uint32_t UNWIND_X86_BP_FRAME_REGISTERS_MASK = 0x7FFF;
inline constexpr uint32_t UNWIND_X86_BP_FRAME_REGISTER_BITS = 3;
inline constexpr uint32_t UNWIND_X86_FRAMELESS_STACK_SIZE_SHIFT = 16;
inline constexpr uint32_t UNWIND_X86_FRAMELESS_STACK_SIZE_MASK = 0xFF;
inline constexpr uint32_t UNWIND_X86_FRAMELESS_STACK_ADJUST_SHIFT = 13;
inline constexpr uint32_t UNWIND_X86_FRAMELESS_STACK_ADJUST_MASK = 0x7;
inline constexpr uint32_t UNWIND_X86_FRAMELESS_STACK_REG_COUNT_SHIFT = 10;
inline constexpr uint32_t UNWIND_X86_FRAMELESS_STACK_REG_COUNT_MASK = 0x7;
inline constexpr uint32_t UNWIND_X86_FRAMELESS_STACK_REG_PERMUTATION_MASK = 0x3FF;

}  // namespace zvcrash::compact_unwind
