// Main-thread and bounded-wait helpers.
#pragma once

#include <functional>

#include "platform/dispatch/dispatch.h"

class ZIVODispatcherUtil {
public:
    ZIVODispatcherUtil() = delete;

    // Runs the block at once on the main thread, else queues it on the main queue.
    static void performBlockOnMainThread(dispatch::Block block);
    static void runBlock(const dispatch::Block& block);
    // Queues the block and waits until it ran or the timeout passed. The block may still run
    // after a time-out, so it must own everything it touches (it is moved onto the queue).
    static void dispatchSyncWithTimeout(double timeout, const dispatch::QueuePtr& onQueue, dispatch::Block withBlock);
};
