// One process-wide handler for the fatal signals the crash reporter asks for, run on an alternate
// stack, walking a list of crash callbacks (most recent first). Behind the callbacks stands a
// dispatcher that passes the signal on to the action installed before.
#pragma once

#include <csignal>
#include <memory>

#include "platform/foundation/error.h"

struct zvcrash_signal_handler_callback {
    // Calls the later entries of the chain; returns what they return.
    bool (*callback)(int signo, siginfo_t* info, ucontext_t* uap, void* context);
    void* context;
};

// A crash callback: returns true when it handled the signal. It may call `next` (null when no
// entry follows) to let the later entries try.
using ZVCrashSignalHandlerCallbackFunc = bool (*)(int signo, siginfo_t* info, ucontext_t* uap, void* context,
                                                  zvcrash_signal_handler_callback* next);

class ZVCrashSignalHandler {
public:
    static ZVCrashSignalHandler* sharedHandler();

    // Installs the handler for the signal (once) and prepends {callback, context} to the chain.
    bool registerHandlerForSignal(int signo, ZVCrashSignalHandlerCallbackFunc callback, void* context,
                                  foundation::Error* error);
    // Installs the handler for the signal unless it already is; keeps the previous action.
    bool registerHandlerWithSignal(int signo, foundation::Error* error);

    const stack_t& sigstk() const { return sigstk_; }

private:
    ZVCrashSignalHandler();
    stack_t sigstk_{};
};
