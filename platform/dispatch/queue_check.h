// Debug checks for objects whose state belongs to a queue: HX_ASSERT_ON_QUEUE(queue) at the top of
// a function that touches that state, HX_ASSERT_OFF_QUEUE(queue) in one that waits on the queue
// (which could never end from inside it). A failed check aborts with the function, its file and
// line and the queue's label. `queue` is a QueuePtr (or any pointer to a Queue); a null one passes.
//
// Active where HX_QUEUE_CHECKS is set (every build type but Release); elsewhere the checks and
// their argument compile to nothing.
#pragma once

#include "platform/dispatch/dispatch.h"

namespace dispatch::detail {

// Reports a failed queue check and aborts. onExpected tells which check failed.
[[noreturn]] void queueCheckFailed(const Queue& queue, bool onExpected, const char* function, const char* file,
                                   int line);

}  // namespace dispatch::detail

#if defined(HX_QUEUE_CHECKS) && HX_QUEUE_CHECKS
#define HX_QUEUE_CHECK_(queue, on)                                                                                     \
    do {                                                                                                               \
        const auto& hxCheckedQueue_ = (queue);                                                                         \
        if (hxCheckedQueue_ && hxCheckedQueue_->isCurrent() != (on))                                                   \
            ::dispatch::detail::queueCheckFailed(*hxCheckedQueue_, (on), __func__, __FILE__, __LINE__);                \
    } while (0)
#else
#define HX_QUEUE_CHECK_(queue, on)                                                                                     \
    do {                                                                                                               \
    } while (0)
#endif

#define HX_ASSERT_ON_QUEUE(queue) HX_QUEUE_CHECK_(queue, true)
#define HX_ASSERT_OFF_QUEUE(queue) HX_QUEUE_CHECK_(queue, false)
