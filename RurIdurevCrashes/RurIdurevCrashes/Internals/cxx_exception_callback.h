// The crashes service's handler of uncaught C++ exceptions: hands the exception to the process's
// uncaught-exception handler (the crash reporter's, which writes the report), then aborts.
#pragma once

#include "RurIdurevCrashes/RurIdurevCrashes/Internals/uncaught_cxx_exception_handler_manager.h"

void zivoCrashesUncaughtCXXExceptionCallback(const CXXExceptionInfo* info);
