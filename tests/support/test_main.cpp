// The test executables' entry point. Every test process gets an app home of its own, so tests
// that run side by side (ctest -j) never share preferences, keychain, caches or trash folders,
// and nothing a test writes lands in the user's real home.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include <sys/wait.h>

#include "platform/foundation/sanitizer_suppressions.h"
#include "tests/support/test_support.h"

// Races and leaks inside prebuilt libraries are not ours to mend (one list for the app, the
// emulator and the test processes).
HX_SANITIZER_SUPPRESSIONS();

bool hxtest::runsInFreshProcess() {
    auto* unit = ::testing::UnitTest::GetInstance();
    if (unit->test_to_run_count() == 1) return true;
    const auto* info = unit->current_test_info();
    const std::string name = std::string(info->test_suite_name()) + "." + info->name();
    hxtest::TempDir scratch;
    const auto child = hxtest::runChild(name, {}, (scratch / "output.txt").string());
    EXPECT_TRUE(WIFEXITED(child.status) && WEXITSTATUS(child.status) == 0)
        << name << " in a process of its own, status " << child.status << ":\n"
        << child.output;
    EXPECT_NE(child.output.find("[  PASSED  ] 1 test."), std::string::npos) << child.output;
    EXPECT_EQ(child.output.find("[  SKIPPED ]"), std::string::npos) << child.output;
    return false;
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    std::optional<hxtest::TempDir> home;
    if (const char* keep = std::getenv("HX_TEST_KEEP_HOME"); !keep || !*keep) {
        home.emplace();
        ::setenv("HXCONNECT_HOME", (home->path() / "home").c_str(), 1);
    }
    return RUN_ALL_TESTS();
}
