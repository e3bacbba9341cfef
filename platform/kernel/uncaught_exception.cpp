#include "platform/kernel/uncaught_exception.h"

#include <atomic>

namespace kernel {
namespace {
std::atomic<UncaughtExceptionHandler> gHandler{nullptr};
}

void setUncaughtExceptionHandler(UncaughtExceptionHandler handler) { gHandler.store(handler); }
UncaughtExceptionHandler getUncaughtExceptionHandler() { return gHandler.load(); }

}  // namespace kernel
