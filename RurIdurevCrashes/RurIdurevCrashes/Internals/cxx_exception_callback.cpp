#include "RurIdurevCrashes/RurIdurevCrashes/Internals/cxx_exception_callback.h"

#include <cstdlib>

void zivoCrashesUncaughtCXXExceptionCallback(const CXXExceptionInfo* info) {
    kernel::UncaughtExceptionHandler handler = kernel::getUncaughtExceptionHandler();
    // With no handler installed (a wrapper SDK kept its own out) there is nobody to call: end the
    // process the way an uncaught exception would, instead of calling through a null pointer.
    if (handler) {
        ZIVOCrashesCXXExceptionWrapperException exception(info);
        handler(exception);
    }
    abort();
}
