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

zvcrash_frame_error_t zvcrash_frame_cursor_next_with_tables(zvcrash_frame_cursor* cursor) {
    int count = 0;
    const zvcrash_frame_reader_t* readers = zvcrash_frame_default_readers_for(cursor->image_list, &count);
    return zvcrash_frame_cursor_next_with_readers(cursor, readers, count);
}

zvcrash_frame_error_t zvcrash_frame_cursor_next_with_readers(zvcrash_frame_cursor* cursor,
                                                             const zvcrash_frame_reader_t* readers, int count) {
    if (cursor->depth != 0 && (count <= 0 || !readers)) return ZVCRASH_FRAME_EINVAL;
    return zvcrash_frame_detail::step(cursor, [cursor, readers, count](const zvcrash_async_thread_state* frame,
                                                                       const zvcrash_async_thread_state* previous,
                                                                       zvcrash_async_thread_state* next) {
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
    return zvcrash_frame_detail::readFrameRecord(task, current, previous, next);
}
