#include "platform/toolkit/main_thread.h"

#include <cstdio>
#include <cstdlib>

#include "platform/dispatch/dispatch.h"

namespace toolkit::detail {

bool onMainThread() { return dispatch::isMainThread(); }

void mainThreadViolation(const char* operation) {
    std::fprintf(stderr, "toolkit: %s called off the main thread\n", operation);
    std::abort();
}

}  // namespace toolkit::detail
