// The test executables' entry point. Every test process gets an app home of its own, so tests
// that run side by side (ctest -j) never share preferences, keychain, caches or trash folders,
// and nothing a test writes lands in the user's real home.
#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/support/test_support.h"

#if defined(HX_SANITIZER_THREAD)
// The emulator's HTTP server is a prebuilt library without the thread sanitizer's
// instrumentation: races reported from inside it cannot be told from its missing annotations
// and are not ours to mend. The same holds for the text stack: pango matches fonts on a glib
// worker thread whose futex-based locks the sanitizer cannot see.
extern "C" const char* __tsan_default_suppressions() {
    return "race:libcpp-httplib.so\nrace:libpangoft2-1.0.so\nrace:libpango-1.0.so\nrace:libfontconfig.so\n"
           "race:libglib-2.0.so\n";
}
#endif

#if defined(HX_SANITIZER_ADDRESS)
// Pango matches fonts on a glib worker thread and keeps fontconfig's answers in caches the leak
// checker cannot follow; they live as long as the process, by design of those libraries.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\nleak:libpangoft2-1.0.so\nleak:libpango-1.0.so\n";
}
#endif

namespace {

int testsStarted = 0;

struct StartCounter : ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override { ++testsStarted; }
};

}  // namespace

bool hxtest::firstTestInProcess() { return testsStarted <= 1; }

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new StartCounter);
    std::optional<hxtest::TempDir> home;
    if (const char* keep = std::getenv("HX_TEST_KEEP_HOME"); !keep || !*keep) {
        home.emplace();
        ::setenv("HXCONNECT_HOME", (home->path() / "home").c_str(), 1);
    }
    return RUN_ALL_TESTS();
}
