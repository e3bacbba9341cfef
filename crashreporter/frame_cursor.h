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
zvcrash_frame_error_t zvcrash_frame_cursor_next(zvcrash_frame_cursor* cursor);
zvcrash_frame_error_t zvcrash_frame_cursor_next_with_readers(zvcrash_frame_cursor* cursor,
                                                             const zvcrash_frame_reader_t* readers, int count);
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
