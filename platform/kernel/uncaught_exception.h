// The platform's uncaught-exception handler slot and the exception value it carries: one handler
// per process, set with replace semantics (a new handler replaces the old one, nothing chains).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kernel {

struct PlatformException {
    std::string name;
    std::string reason;
    std::vector<uint64_t> callStackReturnAddresses;
};

using UncaughtExceptionHandler = void (*)(const PlatformException& exception);

void setUncaughtExceptionHandler(UncaughtExceptionHandler handler);
UncaughtExceptionHandler getUncaughtExceptionHandler();

}  // namespace kernel
