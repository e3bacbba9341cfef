// The facade's pass-through switches: user id rules, device-descriptor fields, logger settings,
// the forwarder flag and the questions asked of the process environment.
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <mutex>
#include <vector>

#include "RurIdurev/RurIdurev/Internals/Context/Device/device_tracker.h"
#include "RurIdurev/RurIdurev/Internals/Context/UserId/user_id_context.h"
#include "RurIdurev/RurIdurev/Internals/DelegateForwarder/app_delegate_forwarder.h"
#include "RurIdurev/RurIdurev/Internals/Util/utility.h"
#include "RurIdurev/RurIdurev/Model/wrapper_sdk.h"
#include "RurIdurev/RurIdurev/logger.h"
#include "RurIdurev/RurIdurev/rur_idurev.h"
#include "tests/RurIdurev/telemetry/telemetry_environment.h"

namespace {

constexpr const char* kSwitchesSecret = "0dbca56b-b9ae-4d53-856a-7c2856137d85";

class FacadeSwitchesTest : public TelemetryTest {
protected:
    void SetUp() override {
        TelemetryTest::SetUp();
        resetAll();
        ZIVOLogger::setLogHandler([this](const ZIVOLogMessageProvider& provider, ZIVOLogLevel level,
                                         const std::string& tag, const char*, const char*, uint32_t) {
            std::lock_guard lock(linesMutex);
            lines.push_back({level, tag, provider()});
        });
    }
    void TearDown() override {
        ZIVOLogger::flush();
        resetAll();
        TelemetryTest::TearDown();
    }
    static void resetAll() {
        ZIVORurIdurev::resetSharedInstance();
        ZIVOUserIdContext::resetSharedInstance();
        ZIVODeviceTracker::resetSharedInstance();
        ZIVOAppDelegateForwarder::resetSharedInstance();
        ZIVODelegateForwarder::resetTraceBufferForTesting();
        ZIVOLogger::resetForTesting();
    }
    bool logged(ZIVOLogLevel level, const std::string& text) {
        ZIVOLogger::flush();
        std::lock_guard lock(linesMutex);
        for (const auto& line : lines)
            if (line.level == level && line.tag == "RurIdurev" && line.text == text) return true;
        return false;
    }
    struct Line {
        ZIVOLogLevel level;
        std::string tag;
        std::string text;
    };
    std::mutex linesMutex;
    std::vector<Line> lines;
};

TEST_F(FacadeSwitchesTest, UserIdIsRefusedUntilTheApplicationConfiguredWithASecretOrToken) {
    ZIVORurIdurev::setUserId(std::string("alice"));
    EXPECT_TRUE(
        logged(ZIVOLogLevelError, "RurIdurev must be configured from application, libraries cannot call setUserId."));
    EXPECT_FALSE(ZIVORurIdurev::userId());

    // A library's configuration does not count.
    ZIVORurIdurev::startFromLibraryWithServices({});
    ZIVORurIdurev::setUserId(std::string("alice"));
    EXPECT_FALSE(ZIVORurIdurev::userId());

    // The application configured, but with neither a secret nor a token.
    ZIVORurIdurev::configure();
    ASSERT_TRUE(ZIVORurIdurev::isConfigured());
    ZIVORurIdurev::setUserId(std::string("alice"));
    EXPECT_TRUE(
        logged(ZIVOLogLevelError, "RurIdurev must be configured with a secret from application to call setUserId."));
    EXPECT_FALSE(ZIVORurIdurev::userId());
}

TEST_F(FacadeSwitchesTest, UserIdWithSecretTakesValidIdsDropsTooLongOnesAndClears) {
    ZIVORurIdurev::configureWithAppSecret(std::string(kSwitchesSecret));
    ZIVORurIdurev::setUserId(std::string("alice"));
    EXPECT_EQ(ZIVORurIdurev::userId(), "alice");
    EXPECT_EQ(ZIVOUserIdContext::sharedInstance()->userId(), "alice");

    ZIVORurIdurev::setUserId(std::string(257, 'x'));
    EXPECT_EQ(ZIVORurIdurev::userId(), "alice");
    ZIVORurIdurev::setUserId(std::string(256, 'x'));
    EXPECT_EQ(ZIVORurIdurev::userId(), std::string(256, 'x'));

    ZIVORurIdurev::setUserId(std::nullopt);
    EXPECT_FALSE(ZIVORurIdurev::userId());
}

TEST_F(FacadeSwitchesTest, UserIdWithOnlyATokenFollowsTheTargetRules) {
    ZIVORurIdurev::configureWithAppSecret(std::string("target=tok123"));
    ASSERT_FALSE(ZIVORurIdurev::sharedInstance()->appSecret());
    ZIVORurIdurev::setUserId(std::string(""));
    EXPECT_FALSE(ZIVORurIdurev::userId());
    // No secret: the 256-character limit of the secret's back end does not apply.
    ZIVORurIdurev::setUserId(std::string(300, 'y'));
    EXPECT_EQ(ZIVORurIdurev::userId(), std::string(300, 'y'));
}

TEST_F(FacadeSwitchesTest, CountryCodeAndWrapperSdkReachTheDeviceDescriptor) {
    ZIVORurIdurev::setCountryCode(std::string("de"));
    auto wrapper = std::make_shared<ZIVOWrapperSdk>(std::string("2.1.0"), std::string("ruridurev.react"), std::nullopt,
                                                    std::nullopt, std::nullopt, std::nullopt);
    ZIVORurIdurev::setWrapperSdk(wrapper);

    EXPECT_EQ(ZIVORurIdurev::countryCode(), "de");
    ASSERT_TRUE(ZIVORurIdurev::wrapperSdk());
    EXPECT_EQ(ZIVORurIdurev::wrapperSdk()->wrapperSdkName(), "ruridurev.react");
    auto device = ZIVODeviceTracker::sharedInstance()->device();
    ASSERT_TRUE(device);
    EXPECT_EQ(device->carrierCountry(), "de");
    EXPECT_EQ(device->wrapperSdkName(), "ruridurev.react");
    EXPECT_EQ(device->wrapperSdkVersion(), "2.1.0");
}

TEST_F(FacadeSwitchesTest, LogLevelAndHandlerGoToTheLoggerAndTheLevelReleasesHeldTraces) {
    bool traced = false;
    ZIVODelegateForwarder::addTraceBlock([&traced] { traced = true; });
    EXPECT_FALSE(traced);
    EXPECT_EQ(ZIVORurIdurev::logLevel(), ZIVOLogLevelAssert);

    ZIVORurIdurev::setLogLevel(ZIVOLogLevelDebug);
    EXPECT_TRUE(traced);
    EXPECT_EQ(ZIVOLogger::currentLogLevel(), ZIVOLogLevelDebug);
    EXPECT_EQ(ZIVORurIdurev::logLevel(), ZIVOLogLevelDebug);
    EXPECT_TRUE(ZIVOLogger::isUserDefinedLogLevel());

    ZIVOLogger::flush();  // the forwarder's released lines go to the earlier handler
    std::vector<std::string> seen;
    ZIVORurIdurev::setLogHandler([&seen](const ZIVOLogMessageProvider& provider, ZIVOLogLevel, const std::string&,
                                         const char*, const char*, uint32_t) { seen.push_back(provider()); });
    ASSERT_TRUE(ZIVORurIdurev::logHandler());
    ZIVORurIdurev::setEnabled(true);  // not configured: one error line
    ZIVOLogger::flush();
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(),
              "Rur Idurev SDK hasn't been configured. You need to call [ZIVORurIdurev start:YOUR_APP_SECRET "
              "withServices:LIST_OF_SERVICES] first.");
}

TEST_F(FacadeSwitchesTest, ConfigurationOutsideTheStoresLowersTheLevelThroughTheFacade) {
    std::ofstream(dir / "resources/embedded.mobileprovision") << "profile";  // a development build
    ASSERT_EQ(ZIVOUtility::currentAppEnvironment(), ZIVOEnvironmentOther);
    bool traced = false;
    ZIVODelegateForwarder::addTraceBlock([&traced] { traced = true; });
    ZIVOLogger::resetForTesting();
    ZIVORurIdurev::start(std::string(kSwitchesSecret), {});
    EXPECT_EQ(ZIVOLogger::currentLogLevel(), ZIVOLogLevelWarning);
    EXPECT_TRUE(traced);
}

TEST_F(FacadeSwitchesTest, ConfigurationInTheStoresKeepsTheLevel) {
    ASSERT_EQ(ZIVOUtility::currentAppEnvironment(), ZIVOEnvironmentAppStore);
    ZIVOLogger::resetForTesting();
    ZIVORurIdurev::start(std::string(kSwitchesSecret), {});
    EXPECT_EQ(ZIVOLogger::currentLogLevel(), ZIVOLogLevelAssert);
}

TEST_F(FacadeSwitchesTest, AppDelegateForwarderFlagFollowsTheInfoSwitch) {
    EXPECT_TRUE(ZIVORurIdurev::isAppDelegateForwarderEnabled());
    ZIVOAppDelegateForwarder::resetSharedInstance();
    ASSERT_TRUE(
        foundation::writePropertyListFile(foundation::Dictionary{{"CFBundleIdentifier", "com.hxconnect.test"},
                                                                 {"RurIdurevAppDelegateForwarderEnabled", false}},
                                          dir / "resources/Info.plist")
            .ok());
    foundation::Bundle::main().setResourcesDirectory(dir / "resources");
    EXPECT_FALSE(ZIVORurIdurev::isAppDelegateForwarderEnabled());
}

TEST_F(FacadeSwitchesTest, TestCloudIsOnlyTheExactValueOne) {
    const char* old = std::getenv("RUNNING_IN_RUR_IDUREV");
    std::optional<std::string> saved = old ? std::optional<std::string>(old) : std::nullopt;
    ::unsetenv("RUNNING_IN_RUR_IDUREV");
    EXPECT_FALSE(ZIVORurIdurev::isRunningInRurIdurevTestCloud());
    for (const char* no : {"", "0", "11", "true", " 1"}) {
        ::setenv("RUNNING_IN_RUR_IDUREV", no, 1);
        EXPECT_FALSE(ZIVORurIdurev::isRunningInRurIdurevTestCloud()) << '"' << no << '"';
    }
    ::setenv("RUNNING_IN_RUR_IDUREV", "1", 1);
    EXPECT_TRUE(ZIVORurIdurev::isRunningInRurIdurevTestCloud());
    if (saved) {
        ::setenv("RUNNING_IN_RUR_IDUREV", saved->c_str(), 1);
    } else {
        ::unsetenv("RUNNING_IN_RUR_IDUREV");
    }
}

// The kernel's own view of this process, read here without the code under test.
bool tracedByProcStatus() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("TracerPid:", 0) == 0) return std::atoi(line.c_str() + 10) != 0;
    return false;
}

TEST_F(FacadeSwitchesTest, DebuggerIsSeenInATracedChildAndNotInAnUntracedOne) {
    // Children first: the answer is kept once asked, and a child inherits it.
    auto childAnswer = [](bool traceMe) -> int {
        pid_t pid = ::fork();
        if (pid == 0) {
            if (traceMe && ::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) ::_exit(3);
            ::_exit(ZIVORurIdurev::isDebuggerAttached() ? 1 : 0);
        }
        int status = 0;
        // A traced child only stops for signals; it sends none, so it runs to its exit.
        if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
        return WEXITSTATUS(status);
    };
    int traced = childAnswer(true);
    if (traced == 3) GTEST_SKIP() << "tracing is not permitted here";
    EXPECT_EQ(traced, 1);
    EXPECT_EQ(childAnswer(false), tracedByProcStatus() ? 1 : 0);
    EXPECT_EQ(ZIVORurIdurev::isDebuggerAttached(), tracedByProcStatus());
}

}  // namespace

namespace {

TEST_F(FacadeSwitchesTest, StartWithoutSecretConfiguresAsTheApplicationOnlyOnce) {
    ZIVORurIdurev::startWithServices({});
    EXPECT_TRUE(ZIVORurIdurev::isConfigured());
    EXPECT_FALSE(ZIVORurIdurev::sharedInstance()->appSecret());
    ZIVORurIdurev::configure();
    EXPECT_TRUE(logged(ZIVOLogLevelAssert, "Rur Idurev SDK has already been configured."));
    EXPECT_TRUE(logged(ZIVOLogLevelAssert, "Rur Idurev SDK configuration failed."));
}

}  // namespace
