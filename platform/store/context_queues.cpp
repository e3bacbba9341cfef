// The context factory that makes its own queues (kept apart so that code which passes its own
// queue does not pull in the dispatch layer).
#include "platform/foundation/thread_annotations.h"
#include "platform/store/context.h"

namespace store {

std::shared_ptr<Context> Context::create(ConcurrencyType type) {
    return create(type, type == ConcurrencyType::MainQueue ? dispatch::Queue::main()
                                                           : dispatch::Queue::serial("store.context.private"));
}

}  // namespace store
