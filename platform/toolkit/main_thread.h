// The toolkit's objects belong to the main thread. Outside release builds every entry point that
// changes the view tree checks it and stops the process with a message naming the operation,
// because a view touched from a worker corrupts state long before anything visibly fails.
#pragma once

namespace toolkit::detail {

void mainThreadViolation(const char* operation);
bool onMainThread();

}  // namespace toolkit::detail

#if defined(HX_TOOLKIT_CHECK_THREAD)
#define TK_MAIN_THREAD(op)                                                                                             \
    do {                                                                                                               \
        if (!::toolkit::detail::onMainThread()) ::toolkit::detail::mainThreadViolation(op);                            \
    } while (0)
#else
#define TK_MAIN_THREAD(op)                                                                                             \
    do {                                                                                                               \
    } while (0)
#endif
