// The test executables' entry point. Every test process gets an app home of its own, so tests
// that run side by side (ctest -j) never share preferences, keychain, caches or trash folders,
// and nothing a test writes lands in the user's real home.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/foundation/sanitizer_suppressions.h"
#include "tests/support/test_support.h"

// Races and leaks inside prebuilt libraries are not ours to mend (the list, and why, is shared
// with the program).
#if defined(HX_SANITIZER_THREAD)
extern "C" const char* __tsan_default_suppressions() { return foundation::kThreadSanitizerSuppressions; }
#endif

#if defined(HX_SANITIZER_ADDRESS)
extern "C" const char* __lsan_default_suppressions() { return foundation::kLeakSanitizerSuppressions; }
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
