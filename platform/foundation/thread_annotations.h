// Clang's thread-safety attributes, and mutexes that carry them.
//
// A member declared HX_GUARDED_BY(mutex_) may be touched only while mutex_ is held; a function
// declared HX_REQUIRES(mutex_) may be called only with it held. tools/thread_safety_check.py
// compiles the sources that include this header with clang's -Wthread-safety as errors (syntax
// only), so a forgotten lock fails CI. Other compilers see empty macros.
//
// libstdc++'s std::mutex carries no attributes, so guarded state uses foundation::Mutex or
// foundation::RecursiveMutex. Both are the standard mutexes underneath and satisfy Lockable, and
// std::lock_guard is specialised for them below, so `std::lock_guard lock(mutex_)` both locks and
// tells the analysis that the lock is held until the end of the scope.
//
// The analysis sees one function at a time: it does not follow a recursive mutex taken again
// further down the call chain, so functions that may run under their own recursive lock are not
// declared HX_EXCLUDES.
#pragma once

#include <mutex>

#if defined(__clang__)
#define HX_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define HX_THREAD_ANNOTATION(x)
#endif

#define HX_CAPABILITY(name) HX_THREAD_ANNOTATION(capability(name))
#define HX_SCOPED_CAPABILITY HX_THREAD_ANNOTATION(scoped_lockable)
#define HX_GUARDED_BY(x) HX_THREAD_ANNOTATION(guarded_by(x))
#define HX_PT_GUARDED_BY(x) HX_THREAD_ANNOTATION(pt_guarded_by(x))
#define HX_ACQUIRED_BEFORE(...) HX_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
#define HX_ACQUIRED_AFTER(...) HX_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))
#define HX_REQUIRES(...) HX_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define HX_ACQUIRE(...) HX_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define HX_RELEASE(...) HX_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define HX_TRY_ACQUIRE(...) HX_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define HX_EXCLUDES(...) HX_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define HX_ASSERT_CAPABILITY(x) HX_THREAD_ANNOTATION(assert_capability(x))
#define HX_RETURN_CAPABILITY(x) HX_THREAD_ANNOTATION(lock_returned(x))
#define HX_NO_THREAD_SAFETY_ANALYSIS HX_THREAD_ANNOTATION(no_thread_safety_analysis)

namespace foundation {

template <typename Base>
class HX_CAPABILITY("mutex") AnnotatedMutex {
public:
    AnnotatedMutex() = default;
    AnnotatedMutex(const AnnotatedMutex&) = delete;
    AnnotatedMutex& operator=(const AnnotatedMutex&) = delete;

    void lock() HX_ACQUIRE() { m_.lock(); }
    void unlock() HX_RELEASE() { m_.unlock(); }
    bool try_lock() HX_TRY_ACQUIRE(true) { return m_.try_lock(); }

private:
    Base m_;
};

using Mutex = AnnotatedMutex<std::mutex>;
using RecursiveMutex = AnnotatedMutex<std::recursive_mutex>;

}  // namespace foundation

namespace std {

// A lock guard that the analysis understands; otherwise what std::lock_guard promises.
template <typename Base>
class HX_SCOPED_CAPABILITY lock_guard<foundation::AnnotatedMutex<Base>> {
public:
    using mutex_type = foundation::AnnotatedMutex<Base>;
    explicit lock_guard(mutex_type& m) HX_ACQUIRE(m) : m_(m) { m_.lock(); }
    lock_guard(mutex_type& m, adopt_lock_t) HX_REQUIRES(m) : m_(m) {}
    ~lock_guard() HX_RELEASE() { m_.unlock(); }
    lock_guard(const lock_guard&) = delete;
    lock_guard& operator=(const lock_guard&) = delete;

private:
    mutex_type& m_;
};

}  // namespace std
