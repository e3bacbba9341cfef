#include "RurIdurev/RurIdurev/Internals/Util/dispatcher_util.h"

#include <memory>

void ZIVODispatcherUtil::performBlockOnMainThread(dispatch::Block block) {
    if (!block) return;
    if (dispatch::isMainThread()) {
        block();
        return;
    }
    dispatch::Queue::main()->async(std::move(block));
}

void ZIVODispatcherUtil::runBlock(const dispatch::Block& block) {
    if (block) block();
}

void ZIVODispatcherUtil::dispatchSyncWithTimeout(double timeout, const dispatch::QueuePtr& onQueue,
                                                 dispatch::Block withBlock) {
    if (!onQueue || !withBlock) return;
    // The semaphore is shared with the queued block, which may outlive this call.
    auto done = std::make_shared<dispatch::Semaphore>(0);
    onQueue->async([done, block = std::move(withBlock)] {
        block();
        done->signal();
    });
    (void)done->wait(timeout);
}
