#include <csignal>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "crashreporter/signal_handler.h"
#include "tests/crashreporter/report_test_support.h"

namespace {

using crashtest::runInChild;

// Each case runs in its own process: the handler and its lists are process-wide.
int exitCodeOf(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

volatile sig_atomic_t gOrder[4];
volatile sig_atomic_t gCount = 0;
volatile sig_atomic_t gPreviousArgs = 0;
volatile sig_atomic_t gOnAltStack = 0;

void record(void* context) {
    const int at = gCount;
    gOrder[at] = static_cast<int>(reinterpret_cast<intptr_t>(context));
    gCount = at + 1;
}

bool recordAndContinue(int signo, siginfo_t* info, ucontext_t* uap, void* context,
                       zvcrash_signal_handler_callback* next) {
    record(context);
    return next ? next->callback(signo, info, uap, next->context) : false;
}

bool handled(int, siginfo_t*, ucontext_t*, void* context, zvcrash_signal_handler_callback*) {
    record(context);
    return true;
}

bool declined(int, siginfo_t*, ucontext_t*, void* context, zvcrash_signal_handler_callback*) {
    record(context);
    return false;
}

TEST(SignalHandler, MostRecentCallbackRunsFirstAndTheChainCanBeCut) {
    int status = runInChild([] {
        auto* h = ZVCrashSignalHandler::sharedHandler();
        if (!h->registerHandlerForSignal(SIGUSR1, &handled, reinterpret_cast<void*>(1), nullptr)) _exit(1);
        if (!h->registerHandlerForSignal(SIGUSR1, &recordAndContinue, reinterpret_cast<void*>(2), nullptr)) _exit(2);
        raise(SIGUSR1);
        if (gCount != 2 || gOrder[0] != 2 || gOrder[1] != 1) _exit(3);
        _exit(0);
    });
    EXPECT_EQ(exitCodeOf(status), 0);

    // A callback that returns false ends the chain; the signal is raised again with the
    // action in force, here the default: the process dies by it.
    status = runInChild([] {
        auto* h = ZVCrashSignalHandler::sharedHandler();
        h->registerHandlerForSignal(SIGUSR2, &handled, reinterpret_cast<void*>(1), nullptr);
        h->registerHandlerForSignal(SIGUSR2, &declined, reinterpret_cast<void*>(2), nullptr);
        raise(SIGUSR2);
        _exit(0);
    });
    EXPECT_EQ(exitCodeOf(status), 100 + SIGUSR2);
}

void threeArgumentAction(int, siginfo_t* info, void* uap) {
    gPreviousArgs = (info != nullptr && uap != nullptr) ? 3 : -1;
}
void oneArgumentAction(int signo) { gPreviousArgs = signo == SIGUSR1 ? 1 : -1; }

TEST(SignalHandler, PreviousActionsAreCalledTheWayTheyWereInstalled) {
    int status = runInChild([] {
        struct sigaction old {};
        old.sa_sigaction = &threeArgumentAction;
        old.sa_flags = SA_SIGINFO;
        sigaction(SIGUSR1, &old, nullptr);
        auto* h = ZVCrashSignalHandler::sharedHandler();
        h->registerHandlerForSignal(SIGUSR1, &recordAndContinue, nullptr, nullptr);
        raise(SIGUSR1);
        _exit(gPreviousArgs == 3 ? 0 : 1);
    });
    EXPECT_EQ(exitCodeOf(status), 0);

    status = runInChild([] {
        signal(SIGUSR1, &oneArgumentAction);
        auto* h = ZVCrashSignalHandler::sharedHandler();
        h->registerHandlerForSignal(SIGUSR1, &recordAndContinue, nullptr, nullptr);
        // A second registration keeps the first saved action and installs nothing new.
        h->registerHandlerForSignal(SIGUSR1, &recordAndContinue, nullptr, nullptr);
        raise(SIGUSR1);
        _exit(gPreviousArgs == 1 && gCount == 2 ? 0 : 1);
    });
    EXPECT_EQ(exitCodeOf(status), 0);

    status = runInChild([] {
        signal(SIGUSR1, SIG_IGN);
        ZVCrashSignalHandler::sharedHandler()->registerHandlerForSignal(SIGUSR1, &recordAndContinue, nullptr, nullptr);
        raise(SIGUSR1);  // ignored before: counts as handled, the process lives
        _exit(gCount == 1 ? 0 : 1);
    });
    EXPECT_EQ(exitCodeOf(status), 0);

    status = runInChild([] {
        signal(SIGUSR1, SIG_DFL);
        ZVCrashSignalHandler::sharedHandler()->registerHandlerForSignal(SIGUSR1, &recordAndContinue, nullptr, nullptr);
        raise(SIGUSR1);
        _exit(0);
    });
    EXPECT_EQ(exitCodeOf(status), 100 + SIGUSR1);
}

TEST(SignalHandler, RegisteringOnlyTheSignalReRaisesIt) {
    int status = runInChild([] {
        if (!ZVCrashSignalHandler::sharedHandler()->registerHandlerWithSignal(SIGUSR2, nullptr)) _exit(1);
        raise(SIGUSR2);
        _exit(0);
    });
    EXPECT_EQ(exitCodeOf(status), 100 + SIGUSR2);
}

bool checkAltStack(int, siginfo_t*, ucontext_t*, void*, zvcrash_signal_handler_callback*) {
    int local = 0;
    const stack_t& stack = ZVCrashSignalHandler::sharedHandler()->sigstk();
    auto* base = static_cast<char*>(stack.ss_sp);
    gOnAltStack = reinterpret_cast<char*>(&local) >= base && reinterpret_cast<char*>(&local) < base + stack.ss_size;
    return true;
}

TEST(SignalHandler, CallbacksRunOnTheAlternateStack) {
    int status = runInChild([] {
        auto* h = ZVCrashSignalHandler::sharedHandler();
        if (h->sigstk().ss_size != 65536) _exit(2);
        h->registerHandlerForSignal(SIGUSR1, &checkAltStack, nullptr, nullptr);
        raise(SIGUSR1);
        _exit(gOnAltStack ? 0 : 1);
    });
    EXPECT_EQ(exitCodeOf(status), 0);
}

TEST(SignalHandler, AnInvalidSignalIsRefusedWithThePosixError) {
    int status = runInChild([] {
        foundation::Error error;
        if (ZVCrashSignalHandler::sharedHandler()->registerHandlerForSignal(SIGKILL, &handled, nullptr, &error))
            _exit(1);
        if (error.code != 1 || error.localizedDescription() != "Failed to register signal handler") _exit(2);
        _exit(0);
    });
    EXPECT_EQ(exitCodeOf(status), 0);
}

}  // namespace
