// What the sanitizers are told to leave alone in libraries we link but do not build, shared by
// the program and the test processes so a sanitizer run of either reports only our own code.
//  - thread: what the prebuilt test HTTP server itself calls (its own copies and allocations as
//    the sanitizer's interceptors see them; our emulator's handlers, which run on its threads,
//    are still checked); the text stack
//    (pango's fontconfig matching on a glib worker thread whose futex-based locks the sanitizer
//    cannot see; fontconfig, cairo's caches behind it); libcurl's resolver thread, started and
//    joined inside the library (its thread reports only: curl calls our header and body callbacks
//    from inside itself, so a race suppressed wherever libcurl is on the stack would hide ours in
//    them).
//  - leak: pango and fontconfig keep their answers for the life of the process, by design; the
//    message bus the desktop window's video start opens stays up until the process ends.
#pragma once

namespace foundation {

inline constexpr const char* kThreadSanitizerSuppressions = "called_from_lib:libcpp-httplib.so\n"
                                                            "race:libpangoft2-1.0.so\n"
                                                            "race:libfontconfig.so\n"
                                                            "race:libglib-2.0.so\n"
                                                            "race:libcairo.so\n"
                                                            "thread:libcurl.so\n";

inline constexpr const char* kLeakSanitizerSuppressions = "leak:libfontconfig.so\n"
                                                          "leak:libpangoft2-1.0.so\n"
                                                          "leak:libpango-1.0.so\n"
                                                          "leak:libdbus-1.so\n";

}  // namespace foundation

// HX_SANITIZER_SUPPRESSIONS(); at file scope in one source of an executable hands the lists above
// to the sanitizer its build runs under (the runtime looks its hooks up by name); nothing in a
// build without one.
#if defined(HX_SANITIZER_ADDRESS)
#define HX_LEAK_SANITIZER_HOOK                                                                                         \
    extern "C" const char* __lsan_default_suppressions() { return foundation::kLeakSanitizerSuppressions; }
#else
#define HX_LEAK_SANITIZER_HOOK
#endif
#if defined(HX_SANITIZER_THREAD)
#define HX_THREAD_SANITIZER_HOOK                                                                                       \
    extern "C" const char* __tsan_default_suppressions() { return foundation::kThreadSanitizerSuppressions; }
#else
#define HX_THREAD_SANITIZER_HOOK
#endif
#define HX_SANITIZER_SUPPRESSIONS() HX_LEAK_SANITIZER_HOOK HX_THREAD_SANITIZER_HOOK static_assert(true)
