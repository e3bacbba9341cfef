// Captures an uncaught C++ exception on the runtime's terminate path: its type, text and the
// frames of the throw that raised it, handed to every registered handler.
#pragma once

#include <cstdint>

#include "platform/kernel/uncaught_exception.h"

struct CXXExceptionInfo {
    const void* exception;          // the terminate hook's handle of the current exception
    const char* exceptionTypeName;  // mangled
    const char* exceptionMessage;   // may be null
    uint32_t exceptionFramesCount;
    const uint64_t* exceptionFrames;  // throw-site return addresses, innermost first
};

using ZIVOCrashesUncaughtCXXExceptionHandler = void (*)(const CXXExceptionInfo* info);

class ZIVOCrashesUncaughtCXXExceptionHandlerManager {
public:
    // Appends a handler (duplicates allowed) and installs the terminate hook if needed.
    static void addCXXExceptionHandler(ZIVOCrashesUncaughtCXXExceptionHandler handler);
    // Removes one registration; the hook goes when none remain and nothing was stacked on it.
    static void removeCXXExceptionHandler(ZIVOCrashesUncaughtCXXExceptionHandler handler);
    static uint64_t countCXXExceptionHandler();
};

// The platform exception made from a captured record: demangled type name, the message, and the
// throw-site frames as its return addresses. The record is only valid during the handler call.
struct ZIVOCrashesCXXExceptionWrapperException : kernel::PlatformException {
    explicit ZIVOCrashesCXXExceptionWrapperException(const CXXExceptionInfo* info);
    const CXXExceptionInfo* info = nullptr;
};

// Shared with the throw hook's translation unit (which must hold no throw expression).
namespace zivo_cxx_capture {

inline constexpr int kMaxThrowFrames = 128;

struct ThrowRecord {
    uint64_t frames[kMaxThrowFrames];
    uint32_t count;
    // The thrown object: a record describes the current exception only when this matches it.
    const void* thrownObject;
};

// Read by the throw hook without the lock.
bool hookInstalled();
// The calling thread's record, made on first use; null when it cannot be made.
ThrowRecord* threadRecord(bool create);
// Makes sure the throw hook is linked into the program wherever the manager is.
void linkThrowHook();

}  // namespace zivo_cxx_capture
