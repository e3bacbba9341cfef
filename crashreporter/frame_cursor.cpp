#include "crashreporter/frame_cursor.h"

#include "crashreporter/compact_unwind.h"
#include "crashreporter/dwarf_unwinder.h"
#include "crashreporter/task_memory.h"

namespace {
const zvcrash_frame_reader_t kDefaultReaders[] = {&zvcrash_frame_compact_unwind_reader, &zvcrash_frame_dwarf_reader,
                                                  &zvcrash_frame_fp_reader};
}

const zvcrash_frame_reader_t* zvcrash_frame_default_readers(int* count) {
    *count = static_cast<int>(sizeof kDefaultReaders / sizeof kDefaultReaders[0]);
    return kDefaultReaders;
}

const zvcrash_frame_reader_t* zvcrash_frame_default_readers_for(const zvcrash_async_image_list* image_list,
                                                                int* count) {
    if (!image_list) {  // only the frame-pointer walk reads no image
        *count = 1;
        return &kDefaultReaders[2];
    }
    if (zvcrash_async_image_list_macho_count(image_list) == 0) {
        *count = 2;
        return &kDefaultReaders[1];
    }
    return zvcrash_frame_default_readers(count);
}

zvcrash_error_t zvcrash_frame_cursor_init(zvcrash_frame_cursor* cursor, const kernel::Task* task,
                                          const zvcrash_async_thread_state* state,
                                          zvcrash_async_image_list* image_list) {
    // Field by field: clearing the whole cursor would write its page-sized cache for every walk.
    zvcrash_async_task_cache_init(&cursor->cache, task);
    cursor->task = &cursor->cache.task;
    cursor->image_list = image_list;
    cursor->depth = 0;
    cursor->current = 0;
    cursor->previous = 1;
    zvcrash_async_thread_state_copy(&cursor->states[0], state);
    return ZVCRASH_ESUCCESS;
}

namespace {

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

}  // namespace

zvcrash_frame_error_t zvcrash_frame_cursor_next(zvcrash_frame_cursor* cursor) {
    if (!cursor->image_list) {
        // Without images only frame records can be followed: read them here, not through the
        // reader table.
        const kernel::Task* task = cursor->task;
        return step(cursor,
                    [task](const zvcrash_async_thread_state* frame, const zvcrash_async_thread_state* previous,
                           zvcrash_async_thread_state* next) { return readFrameRecord(task, frame, previous, next); });
    }
    int count = 0;
    const zvcrash_frame_reader_t* readers = zvcrash_frame_default_readers_for(cursor->image_list, &count);
    return zvcrash_frame_cursor_next_with_readers(cursor, readers, count);
}

zvcrash_frame_error_t zvcrash_frame_cursor_next_with_readers(zvcrash_frame_cursor* cursor,
                                                             const zvcrash_frame_reader_t* readers, int count) {
    if (cursor->depth != 0 && (count <= 0 || !readers)) return ZVCRASH_FRAME_EINVAL;
    return step(cursor,
                [cursor, readers, count](const zvcrash_async_thread_state* frame,
                                         const zvcrash_async_thread_state* previous, zvcrash_async_thread_state* next) {
                    zvcrash_frame_error_t err = ZVCRASH_FRAME_EINVAL;
                    for (int i = 0; i < count; ++i) {
                        err = readers[i](cursor->task, cursor->image_list, frame, previous, next);
                        if (err == ZVCRASH_FRAME_ESUCCESS) break;
                    }
                    return err;
                });
}

zvcrash_frame_error_t zvcrash_frame_cursor_get_reg(const zvcrash_frame_cursor* cursor, int index, uint64_t* value) {
    const zvcrash_async_thread_state* frame = &cursor->states[cursor->current];
    if (!zvcrash_async_thread_state_has_reg(frame, index)) return ZVCRASH_FRAME_ENOTSUP;
    *value = zvcrash_async_thread_state_get_reg(frame, index);
    return ZVCRASH_FRAME_ESUCCESS;
}

const char* zvcrash_frame_cursor_get_regname(const zvcrash_frame_cursor* cursor, int index) {
    return zvcrash_async_thread_state_get_reg_name(&cursor->states[cursor->current], index);
}

int zvcrash_frame_cursor_get_regcount(const zvcrash_frame_cursor* cursor) {
    return zvcrash_async_thread_state_get_reg_count(&cursor->states[cursor->current]);
}

void zvcrash_frame_cursor_free(zvcrash_frame_cursor* cursor) { cursor->task = nullptr; }

zvcrash_frame_error_t zvcrash_frame_fp_reader(const kernel::Task* task, zvcrash_async_image_list*,
                                              const zvcrash_async_thread_state* current,
                                              const zvcrash_async_thread_state* previous,
                                              zvcrash_async_thread_state* next) {
    return readFrameRecord(task, current, previous, next);
}
