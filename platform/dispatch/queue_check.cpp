#include "platform/dispatch/queue_check.h"

#include <string>

#include "platform/dispatch/internal.h"

namespace dispatch::detail {

void queueCheckFailed(const Queue& queue, bool onExpected, const char* function, const char* file, int line) {
    std::string message = std::string(function) + " (" + file + ":" + std::to_string(line) + ") " +
                          (onExpected ? "ran off its queue \"" : "would wait on its own queue \"") + queue.label() +
                          "\"";
    fatal(message.c_str());
}

}  // namespace dispatch::detail
