// The frame cursor walks a thread from its current register state to its callers, asking a table
// of frame readers (unwinders) for each step and taking the first that succeeds. The frame-pointer
// walk is the last reader of the default table. Async-signal-safe.
#pragma once

#include <cstdint>

#include "crashreporter/image_list.h"
#include "crashreporter/task_memory.h"
#include "crashreporter/thread_state.h"

enum zvcrash_frame_error_t : int {
    ZVCRASH_FRAME_ESUCCESS = 0,
    ZVCRASH_FRAME_ENOFRAME = 2,   // end of stack, or this reader can't unwind this frame
    ZVCRASH_FRAME_EBADFRAME = 3,  // a needed register is unknown, or the frame can't be read
    ZVCRASH_FRAME_ENOTSUP = 4,    // no unwind data / register not available
    ZVCRASH_FRAME_EINVAL = 5,
};

struct zvcrash_frame_cursor {
    const kernel::Task* task;  // the readers' view: `cache` in front of the walked task
    zvcrash_async_image_list* image_list;
    uint32_t depth;
    // Three states in rotation, so that a step copies none: the current frame, the one before it
    // and the readers' output, each an index into `states`.
    uint32_t current;
    uint32_t previous;
    zvcrash_async_thread_state states[3];
    zvcrash_async_task_cache cache;
};

// A frame reader: from the current state (and the previous one, from depth 2 on, else null) to
// the caller's state.
using zvcrash_frame_reader_t = zvcrash_frame_error_t (*)(const kernel::Task* task, zvcrash_async_image_list* image_list,
                                                         const zvcrash_async_thread_state* current,
                                                         const zvcrash_async_thread_state* previous,
                                                         zvcrash_async_thread_state* next);

zvcrash_error_t zvcrash_frame_cursor_init(zvcrash_frame_cursor* cursor, const kernel::Task* task,
                                          const zvcrash_async_thread_state* state,
                                          zvcrash_async_image_list* image_list);
zvcrash_frame_error_t zvcrash_frame_cursor_next_with_readers(zvcrash_frame_cursor* cursor,
                                                             const zvcrash_frame_reader_t* readers, int count);
// The next frame through the default readers for the cursor's images (frame records only without
// images). Inline: without images, a walk is mostly this step.
inline zvcrash_frame_error_t zvcrash_frame_cursor_next(zvcrash_frame_cursor* cursor);
// The step through the reader table (a cursor with images).
zvcrash_frame_error_t zvcrash_frame_cursor_next_with_tables(zvcrash_frame_cursor* cursor);
zvcrash_frame_error_t zvcrash_frame_cursor_get_reg(const zvcrash_frame_cursor* cursor, int index, uint64_t* value);
const char* zvcrash_frame_cursor_get_regname(const zvcrash_frame_cursor* cursor, int index);
int zvcrash_frame_cursor_get_regcount(const zvcrash_frame_cursor* cursor);
void zvcrash_frame_cursor_free(zvcrash_frame_cursor* cursor);

// The default reader table, in the order tried. Unwinders that read image tables are inserted
// ahead of the frame-pointer walk.
const zvcrash_frame_reader_t* zvcrash_frame_default_readers(int* count);
// The part of the default table that can succeed with this image list: the table readers need a
// list, and the compact-unwind reader only reads Mach-O images.
const zvcrash_frame_reader_t* zvcrash_frame_default_readers_for(const zvcrash_async_image_list* image_list, int* count);

zvcrash_frame_error_t zvcrash_frame_fp_reader(const kernel::Task* task, zvcrash_async_image_list* image_list,
                                              const zvcrash_async_thread_state* current,
                                              const zvcrash_async_thread_state* previous,
                                              zvcrash_async_thread_state* next);

namespace zvcrash_frame_detail {

// The caller's frame from the frame record the frame pointer points at: [caller's frame pointer,
// return address]. Only reads memory through the task (or in place within its window).
__attribute__((always_inline)) inline zvcrash_frame_error_t readFrameRecord(const kernel::Task* task,
                                                                            const zvcrash_async_thread_state* current,
                                                                            const zvcrash_async_thread_state* previous,
                                                                            zvcrash_async_thread_state* next) {
    if (!zvcrash_async_thread_state_has_reg(current, ZVCRASH_REG_FP)) return ZVCRASH_FRAME_EBADFRAME;
    const uint64_t fp = zvcrash_async_thread_state_get_reg(current, ZVCRASH_REG_FP);
    if (fp == 0) return ZVCRASH_FRAME_ENOFRAME;
    if (previous && zvcrash_async_thread_state_has_reg(previous, ZVCRASH_REG_FP)) {
        const uint64_t prevFp = zvcrash_async_thread_state_get_reg(previous, ZVCRASH_REG_FP);
        // A frame record must move strictly towards the stack's base; one equal to the previous
        // would repeat the same frame until the walk's cap.
        if (zvcrash_async_thread_state_get_stack_direction(current) == ZVCRASH_STACK_DIRECTION_DOWN) {
            if (fp <= prevFp) return ZVCRASH_FRAME_EBADFRAME;
        } else {
            if (fp >= prevFp) return ZVCRASH_FRAME_EBADFRAME;
        }
    }
    const uint64_t width = zvcrash_async_thread_state_get_greg_size(current);
    uint64_t words[2] = {0, 0};
    if (width == 8) {
        // The walking thread's own stack: the record is read where it is, without a copy call.
        if (const void* record = zvcrash_async_task_cache_in_place(task, fp, sizeof words)) {
            __builtin_memcpy(words, record, sizeof words);
            zvcrash_async_thread_state_init_like(next, current);
            zvcrash_async_thread_state_set_reg(next, ZVCRASH_REG_FP, words[0]);
            zvcrash_async_thread_state_set_reg(next, ZVCRASH_REG_IP, words[1]);
            return ZVCRASH_FRAME_ESUCCESS;
        }
    }
    if (width == 4) {
        uint32_t small[2];
        if (zvcrash_async_task_memcpy(task, fp, 0, small, sizeof small) != ZVCRASH_ESUCCESS)
            return ZVCRASH_FRAME_EBADFRAME;
        words[0] = small[0];
        words[1] = small[1];
    } else {
        if (zvcrash_async_task_memcpy(task, fp, 0, words, sizeof words) != ZVCRASH_ESUCCESS)
            return ZVCRASH_FRAME_EBADFRAME;
    }
    zvcrash_async_thread_state_init_like(next, current);
    zvcrash_async_thread_state_set_reg(next, ZVCRASH_REG_FP, words[0]);
    zvcrash_async_thread_state_set_reg(next, ZVCRASH_REG_IP, words[1]);
    return ZVCRASH_FRAME_ESUCCESS;
}

// One step of the cursor: `read` gives the caller's state (frame, previous or null, out).
template <typename Read>
__attribute__((always_inline)) inline zvcrash_frame_error_t step(zvcrash_frame_cursor* cursor, Read read) {
    if (cursor->depth == 0) {
        cursor->depth = 1;
        return ZVCRASH_FRAME_ESUCCESS;
    }
    const zvcrash_async_thread_state* frame = &cursor->states[cursor->current];
    const zvcrash_async_thread_state* previous = cursor->depth >= 2 ? &cursor->states[cursor->previous] : nullptr;
    const uint32_t out = 3 - cursor->current - cursor->previous;  // the slot that is neither
    zvcrash_async_thread_state* next = &cursor->states[out];
    const zvcrash_frame_error_t err = read(frame, previous, next);
    if (err != ZVCRASH_FRAME_ESUCCESS) return err;
    // A garbage return address of 0 or inside the first page ends the walk, whoever produced it.
    if (!zvcrash_async_thread_state_has_reg(next, ZVCRASH_REG_IP)) return ZVCRASH_FRAME_ENOFRAME;
    const uint64_t pc = zvcrash_async_thread_state_get_reg(next, ZVCRASH_REG_IP);
    if (pc <= kernel::vm_page_size()) return ZVCRASH_FRAME_ENOFRAME;
    cursor->previous = cursor->current;
    cursor->current = out;
    cursor->depth += 1;
    return ZVCRASH_FRAME_ESUCCESS;
}

}  // namespace zvcrash_frame_detail

inline zvcrash_frame_error_t zvcrash_frame_cursor_next(zvcrash_frame_cursor* cursor) {
    if (cursor->image_list) return zvcrash_frame_cursor_next_with_tables(cursor);
    // Without images only frame records can be followed: read them here, not through the reader
    // table.
    const kernel::Task* task = cursor->task;
    return zvcrash_frame_detail::step(cursor, [task](const zvcrash_async_thread_state* frame,
                                                     const zvcrash_async_thread_state* previous,
                                                     zvcrash_async_thread_state* next) {
        return zvcrash_frame_detail::readFrameRecord(task, frame, previous, next);
    });
}
