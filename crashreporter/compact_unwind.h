// The compact unwind reader: looks a pc up in an image's __TEXT,__unwind_info section (the
// linker's two-level table of 32-bit encodings) and decodes the encoding for x86, x86-64 and arm64.
// Every table access goes through the section's memory object; async-signal-safe.
#pragma once

#include <cstdint>

#include "crashreporter/async_reader.h"
#include "crashreporter/compact_unwind_format.h"
#include "crashreporter/task_memory.h"

struct zvcrash_async_cfe_reader {
    zvcrash_async_mobject* mobj;
    uint32_t cpu_type;
    zvcrash::compact_unwind::unwind_info_section_header header;
    const zvcrash_async_byteorder* byteorder;
    // Why the last failing call failed: code, field and the task address it was read at.
    zvcrash_async_fault fault;
};

enum zvcrash_async_cfe_type : uint32_t {
    ZVCRASH_ASYNC_CFE_TYPE_FRAME_PTR = 1,
    ZVCRASH_ASYNC_CFE_TYPE_FRAMELESS_IMMD = 2,
    ZVCRASH_ASYNC_CFE_TYPE_FRAMELESS_INDIRECT = 3,
    ZVCRASH_ASYNC_CFE_TYPE_DWARF = 4,
    ZVCRASH_ASYNC_CFE_TYPE_NONE = 5,
};

inline constexpr uint32_t ZVCRASH_ASYNC_CFE_REG_NONE = 0x7FFFFFFF;
inline constexpr int ZVCRASH_ASYNC_CFE_MAX_REGS = 10;

struct zvcrash_async_cfe_entry {
    uint32_t cpu_type;
    zvcrash_async_cfe_type type;
    int64_t stack_offset;   // frame: offset of the saved registers from fp; frameless: stack size
                            // (indirect: offset of the size word in the function); DWARF: section offset
    uint32_t stack_adjust;  // x86 family, indirect
    uint32_t return_address_register;
    uint32_t register_count;
    uint32_t register_list[ZVCRASH_ASYNC_CFE_MAX_REGS];  // lowest address first
};

zvcrash_error_t zvcrash_async_cfe_reader_init(zvcrash_async_cfe_reader* reader, zvcrash_async_mobject* mobj,
                                              uint32_t cpu_type);
zvcrash_error_t zvcrash_async_cfe_reader_find_pc(zvcrash_async_cfe_reader* reader, uint64_t pc, uint64_t* function_base,
                                                 uint32_t* encoding);
zvcrash_error_t zvcrash_async_cfe_entry_init(zvcrash_async_cfe_entry* entry, uint32_t cpu_type, uint32_t encoding);
zvcrash_error_t zvcrash_async_cfe_register_decode(uint32_t permutation, uint32_t count, uint32_t registers[]);

#include "crashreporter/frame_cursor.h"

// Applies a decoded entry to `current` (whose function starts at `function_address`) to make the
// caller's state. DWARF and none entries are not applied ("Operation not supported").
zvcrash_error_t zvcrash_async_cfe_entry_apply(const kernel::Task* task, uint64_t function_address,
                                              const zvcrash_async_thread_state* current,
                                              const zvcrash_async_cfe_entry* entry, zvcrash_async_thread_state* next);

// The frame reader of the cursor's table, over the __TEXT,__unwind_info of the image holding pc.
zvcrash_frame_error_t zvcrash_frame_compact_unwind_reader(const kernel::Task* task,
                                                          zvcrash_async_image_list* image_list,
                                                          const zvcrash_async_thread_state* current,
                                                          const zvcrash_async_thread_state* previous,
                                                          zvcrash_async_thread_state* next);
