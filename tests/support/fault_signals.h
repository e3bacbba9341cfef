// For a child process that is to crash under the crash reporter as the program would.
//
// The address sanitizer's runtime puts its own handler on the fault signals when the process
// starts. A reporter enabled afterwards keeps that handler as the previous action and calls it once
// its report is written, as it would any handler that was there first; the sanitizer then prints
// its own report and ends the process with exit status 1 instead of by the signal. Such a child
// puts the default actions back before it enables the reporter, so it dies by the signal in every
// build. Other builds have nothing to undo.
#pragma once

#include <csignal>

namespace hxtest {

inline void restoreDefaultFaultActions() {
#if defined(HX_SANITIZER_ADDRESS)
    for (const int signo : {SIGSEGV, SIGBUS, SIGFPE}) std::signal(signo, SIG_DFL);
#endif
}

}  // namespace hxtest
