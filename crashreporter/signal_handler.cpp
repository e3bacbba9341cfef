#include "crashreporter/signal_handler.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <mutex>

#include "crashreporter/host_info.h"

namespace {

// A list that writers grow under a lock while a signal handler reads it without one: nodes are
// completely written before one compare-and-swap publishes them, and nothing is ever removed.
// That compare-and-swap is sequentially consistent, so it releases every write before it to the
// reader's acquiring load (and keeps the compiler from moving them past it, for a handler on the
// writer's own thread): no separate fence is needed.
template <typename T>
class SignalSafeList {
public:
    struct Node {
        T value;
        Node* prev = nullptr;
        std::atomic<Node*> next{nullptr};
    };

    void append(const T& value) {
        std::lock_guard guard(lock_);
        auto* node = new Node{value};
        if (!head_.load()) {
            tail_ = node;
            Node* expected = nullptr;
            head_.compare_exchange_strong(expected, node);
        } else {
            Node* expected = nullptr;
            tail_->next.compare_exchange_strong(expected, node);
            node->prev = tail_;
            tail_ = node;
        }
    }

    void prepend(const T& value) {
        std::lock_guard guard(lock_);
        auto* node = new Node{value};
        Node* head = head_.load();
        if (!head) {
            tail_ = node;
            Node* expected = nullptr;
            head_.compare_exchange_strong(expected, node);
        } else {
            node->next.store(head);
            head->prev = node;
            head_.compare_exchange_strong(head, node);
        }
    }

    void setReading(bool on) {
        if (on)
            readers_.fetch_add(1);
        else
            readers_.fetch_sub(1);
    }

    Node* next(Node* current) const {
        return current ? current->next.load(std::memory_order_acquire) : head_.load(std::memory_order_acquire);
    }

private:
    std::mutex lock_;
    std::atomic<Node*> head_{nullptr};
    Node* tail_ = nullptr;
    std::atomic<int32_t> readers_{0};
};

struct CallbackEntry {
    ZVCrashSignalHandlerCallbackFunc callback;
    void* context;
};

struct PreviousAction {
    int signo;
    struct sigaction action;
};

// Process-wide and never destroyed: a signal may arrive while static destructors run.
SignalSafeList<CallbackEntry>& callbacks() {
    static auto* list = new SignalSafeList<CallbackEntry>();
    return *list;
}

SignalSafeList<PreviousAction>& previousActions() {
    static auto* list = new SignalSafeList<PreviousAction>();
    return *list;
}

using CallbackNode = SignalSafeList<CallbackEntry>::Node;

bool chainStep(int signo, siginfo_t* info, ucontext_t* uap, void* context);

bool runFrom(CallbackNode* after, int signo, siginfo_t* info, ucontext_t* uap) {
    auto& list = callbacks();
    list.setReading(true);
    bool result = false;
    CallbackNode* node = list.next(after);
    if (node) {
        zvcrash_signal_handler_callback continuation{&chainStep, node};
        zvcrash_signal_handler_callback* next = list.next(node) ? &continuation : nullptr;
        result = node->value.callback(signo, info, uap, node->value.context, next);
    }
    list.setReading(false);
    return result;
}

bool chainStep(int signo, siginfo_t* info, ucontext_t* uap, void* context) {
    return runFrom(static_cast<CallbackNode*>(context), signo, info, uap);
}

bool previousActionDispatcher(int signo, siginfo_t* info, ucontext_t* uap, void*,
                              zvcrash_signal_handler_callback* next) {
    if (next && next->callback(signo, info, uap, next->context)) return true;
    auto& list = previousActions();
    list.setReading(true);
    bool found = false;
    struct sigaction action {};
    for (auto* node = list.next(nullptr); node; node = list.next(node)) {
        if (node->value.signo == signo) {
            action = node->value.action;
            found = true;
            break;
        }
    }
    list.setReading(false);
    if (!found) return false;
    if (action.sa_flags & SA_SIGINFO) {
        action.sa_sigaction(signo, info, uap);
        return true;
    }
    if (action.sa_handler == SIG_IGN) return true;
    if (action.sa_handler == SIG_DFL) return false;
    action.sa_handler(signo);
    return true;
}

void signalHandler(int signo, siginfo_t* info, void* uap) {
    if (runFrom(nullptr, signo, info, static_cast<ucontext_t*>(uap))) return;
    // The signal is blocked while this handler runs; it is delivered again right after the return.
    // Unless a callback already put another action in place, that would be this handler again,
    // forever: the default action takes over, so the process ends by the signal.
    struct sigaction current {};
    if (::sigaction(signo, nullptr, &current) == 0 && (current.sa_flags & SA_SIGINFO) &&
        current.sa_sigaction == &signalHandler) {
        struct sigaction dfl {};
        dfl.sa_handler = SIG_DFL;
        sigemptyset(&dfl.sa_mask);
        ::sigaction(signo, &dfl, nullptr);
    }
    ::raise(signo);
}

std::mutex& registrationLock() {
    static auto* lock = new std::mutex();
    return *lock;
}

bool gDispatcherAdded = false;  // guarded by the registration lock

}  // namespace

ZVCrashSignalHandler* ZVCrashSignalHandler::sharedHandler() {
    static ZVCrashSignalHandler* shared = new ZVCrashSignalHandler();
    return shared;
}

ZVCrashSignalHandler::ZVCrashSignalHandler() {
    sigstk_.ss_size = 65536;
    sigstk_.ss_sp = std::malloc(sigstk_.ss_size);
    sigstk_.ss_flags = 0;
}

bool ZVCrashSignalHandler::registerHandlerForSignal(int signo, ZVCrashSignalHandlerCallbackFunc callback, void* context,
                                                    foundation::Error* error) {
    if (!registerHandlerWithSignal(signo, error)) return false;
    callbacks().prepend(CallbackEntry{callback, context});
    return true;
}

bool ZVCrashSignalHandler::registerHandlerWithSignal(int signo, foundation::Error* error) {
    std::lock_guard guard(registrationLock());
    if (!sigstk_.ss_sp || ::sigaltstack(&sigstk_, nullptr) != 0) {
        zvcrash_populate_posix_error(error, sigstk_.ss_sp ? errno : ENOMEM,
                                     "Could not initialize alternative signal stack");
        return false;
    }
    if (!gDispatcherAdded) {
        callbacks().append(CallbackEntry{&previousActionDispatcher, nullptr});
        gDispatcherAdded = true;
    }
    auto& previous = previousActions();
    previous.setReading(true);
    bool known = false;
    for (auto* node = previous.next(nullptr); node; node = previous.next(node)) {
        if (node->value.signo == signo) {
            known = true;
            break;
        }
    }
    previous.setReading(false);
    if (known) return true;

    struct sigaction action {};
    action.sa_sigaction = &signalHandler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_ONSTACK | SA_SIGINFO;
    struct sigaction old {};
    if (::sigaction(signo, &action, &old) != 0) {
        zvcrash_populate_posix_error(error, errno, "Failed to register signal handler");
        return false;
    }
    previous.append(PreviousAction{signo, old});
    return true;
}
