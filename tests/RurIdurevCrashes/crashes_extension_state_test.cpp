// Whether stored crashes wait for the foreground is asked of the SDK's application state, which an
// app extension reads as unknown: an extension processes them whatever the platform says.
#include "RurIdurev/RurIdurev/Internals/Util/platform_adapters.h"
#include "platform/foundation/application.h"
#include "tests/RurIdurevCrashes/crashes_service_fixture.h"

using namespace crashestest;

namespace {

class CrashesExtensionState : public CrashesServiceTest {
protected:
    void TearDown() override {
        zivo_platform::setExecutablePathForTesting({});
        foundation::Application::shared().setApplicationState(foundation::ApplicationState::Active);
        CrashesServiceTest::TearDown();
    }
    // Stores one report, enables the service in the background and lets the delayed step come due.
    size_t processedInBackground(const std::string& executable) {
        zivo_platform::setExecutablePathForTesting(executable);
        storeFile("700000002", reportBytes("bbbbbbbbbbbbbbbb"));
        ZIVOCrashes::setUserConfirmationHandler([](const auto&) { return true; });
        foundation::Application::shared().setApplicationState(foundation::ApplicationState::Background);
        auto crashes = makeService();
        crashes->applyEnabledState(true);
        clock.advance(1.5);
        clock.runUntilIdle();
        return crashes->unprocessedReports().size();
    }
};

TEST_F(CrashesExtensionState, AnApplicationInTheBackgroundWaits) {
    HX_REQUIRE_FRESH_PROCESS();
    EXPECT_EQ(processedInBackground("/apps/HX Connect.app/HXConnect"), 0u);
}

TEST_F(CrashesExtensionState, AnExtensionProcessesWhateverThePlatformStateSays) {
    HX_REQUIRE_FRESH_PROCESS();
    EXPECT_EQ(processedInBackground("/apps/HX Connect.app/PlugIns/Share.appex/Share"), 1u);
}

}  // namespace
