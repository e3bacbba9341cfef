// The crash prompt of the real application object across launches, each launch a process of its
// own under the virtual clock, sending to the ingestion emulator given as the telemetry log URL:
// a run crashes; the next shows "<name>\nQuit Unexpectedly" and the user taps "Send"; the crash
// log and its "AppInfo.txt" attachment arrive. That run crashes too, the next one's user taps
// "Always Send", and the run after that sends its crash without asking.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <vector>

#include "RurIdurev/RurIdurev/Internals/HttpClient/http_client.h"
#include "RurIdurev/RurIdurev/Internals/HttpClient/reachability.h"
#include "RurIdurev/RurIdurev/Internals/Util/utility.h"
#include "RurIdurev/RurIdurev/rur_idurev.h"
#include "RurIdurevCrashes/RurIdurevCrashes/crashes.h"
#include "app/connect_app_delegate_iphone.h"
#include "emulator/emulator.h"
#include "emulator/ingestion_service.h"
#include "platform/foundation/application.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/files.h"
#include "platform/foundation/json.h"
#include "platform/foundation/user_defaults.h"
#include "platform/security/keychain.h"
#include "platform/services/device.h"
#include "platform/toolkit/alert_controller.h"
#include "platform/toolkit/testing/harness.h"
#include "service/endpoints.h"
#include "service/request_machinery.h"
#include "tests/support/fault_signals.h"
#include "tests/support/screen_fixture.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kAppSecret = "5d1e7c40-2b9a-4f63-8e0d-93a6b1f2c7e4";

// Each launch has both origins on the loopback interface: the service's (the emulator) and the
// telemetry ingestion's. Nothing asks the machine's resolver.
hxtest::ChildRun launch(const std::string& role, const fs::path& dir, const std::string& ingestion,
                        const std::string& service) {
    return hxtest::runChild("AppCrashPromptLaunch.Run",
                            {"HX_CRASH_E2E_ROLE=" + role, "HX_CRASH_E2E_DIR=" + dir.string(),
                             "HX_CRASH_E2E_INGESTION=" + ingestion, "HX_CRASH_E2E_SERVICE=" + service},
                            (dir / ("output-" + role + ".txt")).string());
}

bool crashed(const hxtest::ChildRun& run) { return WIFSIGNALED(run.status) && WTERMSIG(run.status) == SIGSEGV; }

// python3 reads the attachment: tied to the crash, plain text named "AppInfo.txt", its base-64
// data the app's diagnostics of a fresh installation, line by line.
std::string checkAttachment(const fs::path& dir, const foundation::Value& crash, const foundation::Value& attachment) {
    auto crashText = foundation::toJSON(crash);
    auto attachmentText = foundation::toJSON(attachment);
    if (!crashText.ok() || !attachmentText.ok()) return "not JSON";
    std::ofstream(dir / "crash.json", std::ios::binary) << crashText.value();
    std::ofstream(dir / "attachment.json", std::ios::binary) << attachmentText.value();
    std::ofstream(dir / "check.py") << R"py(import base64, json, re, sys
crash = json.load(open(sys.argv[1], encoding="utf-8"))
att = json.load(open(sys.argv[2], encoding="utf-8"))
def need(cond, what):
    if not cond:
        print("bad: " + what)
        sys.exit(1)
need(crash["type"] == "appleError" and crash["fatal"] is True, "a fatal crash log")
need(crash.get("osExceptionType") == "SIGSEGV", "signal " + str(crash.get("osExceptionType")))
need(att["errorId"] == crash["id"], "attachment belongs to the crash")
need(att["contentType"] == "text/plain" and att["fileName"] == "AppInfo.txt", "name and type")
lines = base64.b64decode(att["data"]).decode("utf-8").split("\n")
need(len(lines) == 8, "eight lines: " + repr(lines))
need(re.fullmatch(r"CNContactStore authorizationStatus: \d+", lines[0]), lines[0])
need(re.fullmatch(r"cachedContacts: \d+", lines[1]) and re.fullmatch(r"allContacts: \d+", lines[2]), "contacts")
need(lines[3:7] == ["0 Account(s)", "0 Linked Numbers", "AuthV2: 0 chars", "0 Quick Settings"], repr(lines[3:7]))
need(re.fullmatch(r"\S+ \(\S+\)", lines[7]), "version " + lines[7])
print("ok")
)py";
    std::string out;
    const int status =
        hxtest::runCommand("/usr/bin/python3 '" + (dir / "check.py").string() + "' '" + (dir / "crash.json").string() +
                               "' '" + (dir / "attachment.json").string() + "' 2>&1",
                           &out);
    if (status != 0 && out.empty()) out = "python3 failed";
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

}  // namespace

TEST(AppCrashPrompt, TheNextLaunchAsksAndSendsTheCrashWithTheAppInfoAttachment) {
    if (!hxtest::haveProgram("python3") || !hxtest::haveProgram("sqlite3")) GTEST_SKIP() << "needs python3, sqlite3";
    hxtest::TempDir dir;
    emulator::IngestionService ingestion;
    ASSERT_NE(ingestion.port(), 0);
    emulator::Emulator service;
    ASSERT_TRUE(service.start().ok());
    auto launch = [&](const std::string& role, const fs::path& dir, const std::string& logUrl) {
        return ::launch(role, dir, logUrl, service.origin());
    };
    const std::string name = foundation::Bundle::main().displayName();
    ASSERT_FALSE(name.empty());

    const hxtest::ChildRun first = launch("crash", dir.path(), ingestion.baseURL());
    ASSERT_TRUE(crashed(first)) << first.output;
    EXPECT_TRUE(ingestion.logsOfType("appleError").empty());

    // The user taps "Send": the crash and its attachment arrive; then this run crashes as well.
    const hxtest::ChildRun send = launch("send", dir.path(), ingestion.baseURL());
    EXPECT_TRUE(send.said("asked " + name + "|Quit Unexpectedly|Don't Send|Send|Always Send")) << send.output;
    EXPECT_TRUE(send.said("sent")) << send.output;
    EXPECT_TRUE(crashed(send)) << send.output;
    auto crashes = ingestion.logsOfType("appleError");
    auto attachments = ingestion.logsOfType("errorAttachment");
    ASSERT_EQ(crashes.size(), 1u);
    ASSERT_EQ(attachments.size(), 1u);
    EXPECT_EQ(checkAttachment(dir.path(), crashes[0], attachments[0]), "ok");

    // "Don't Send" drops this crash: nothing more arrives; this run crashes too.
    const hxtest::ChildRun dontSend = launch("dont-send", dir.path(), ingestion.baseURL());
    EXPECT_TRUE(dontSend.said("asked " + name + "|Quit Unexpectedly|Don't Send|Send|Always Send")) << dontSend.output;
    EXPECT_TRUE(crashed(dontSend)) << dontSend.output;
    EXPECT_EQ(ingestion.logsOfType("appleError").size(), 1u) << "\"Don't Send\" sent the crash";
    EXPECT_EQ(ingestion.logsOfType("errorAttachment").size(), 1u);

    // "Always Send" sends this crash and is stored; the run after the next crash does not ask.
    const hxtest::ChildRun always = launch("always", dir.path(), ingestion.baseURL());
    EXPECT_TRUE(always.said("asked " + name + "|Quit Unexpectedly|Don't Send|Send|Always Send")) << always.output;
    EXPECT_TRUE(always.said("sent")) << always.output;
    EXPECT_TRUE(crashed(always)) << always.output;
    const hxtest::ChildRun remembered = launch("remembered", dir.path(), ingestion.baseURL());
    EXPECT_TRUE(WIFEXITED(remembered.status) && WEXITSTATUS(remembered.status) == 0) << remembered.output;
    EXPECT_TRUE(remembered.said("sent")) << remembered.output;
    EXPECT_FALSE(remembered.said("asked")) << remembered.output;
    crashes = ingestion.logsOfType("appleError");
    attachments = ingestion.logsOfType("errorAttachment");
    ASSERT_EQ(crashes.size(), 3u);
    ASSERT_EQ(attachments.size(), 3u);
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(checkAttachment(dir.path(), crashes[i], attachments[i]), "ok");

    // Everything went to the log URL the launches were given, with the app's secret, and each
    // launch's start-service log names the crash service.
    const auto started = ingestion.logsOfType("startService");
    EXPECT_GE(started.size(), 3u) << remembered.output;
    // The device descriptor names the launch's screen in pixels, height first (375 x 667 at 2x).
    for (const auto& log : started) {
        EXPECT_EQ(log["services"].at(0).stringValue(), "Crashes");
        EXPECT_EQ(log["device"]["screenSize"].stringValue(), "1334x750");
    }
    for (const auto& request : ingestion.requests()) {
        EXPECT_EQ(request.target, "/logs?api-version=1.0.0");
        EXPECT_EQ(request.header("app-secret"), kAppSecret);
    }
}

namespace {

size_t storedCrashReports() {
    size_t count = 0;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(ZIVOUtility::rurIdurevDirectoryURL() / "crashes", ec))
        if (entry.is_regular_file() && entry.path().extension() != ".analyzer") ++count;
    return count;
}

std::string storedLogs() {
    std::string out;
    hxtest::runCommand("sqlite3 '" + (ZIVOUtility::rurIdurevDirectoryURL() / "Logs.sqlite").string() +
                           "' 'SELECT count(*) FROM logs' 2>&1",
                       &out);
    return out;
}

}  // namespace

// One launch of the application object, as the program makes it, run as a child of the test above.
TEST(AppCrashPromptLaunch, Run) {
    const char* role = std::getenv("HX_CRASH_E2E_ROLE");
    if (!role) GTEST_SKIP() << "one launch of AppCrashPrompt, run as its child";
    alarm(60);  // a launch that hangs fails instead of holding the parent
    hxtest::restoreDefaultFaultActions();
    const std::string r = role;
    const fs::path dir = std::getenv("HX_CRASH_E2E_DIR");
    // The keychain beside the home, shared by the launches.
    hxtest::useAppHome(dir / "home");
    security::Keychain::setDefaultPath(dir / "keychain.json");
    toolkit::testing::Harness harness;
    // The SDK's own reachability watches the machine's default route, which a test machine may not
    // have; the ingestion endpoint is on the loopback interface.
    ZIVODependencyConfiguration::setHttpClient(ZIVOHttpClient::create(
        nullptr, ZIVO_Reachability::reachabilityWithFlagsSource([] { return ZIVO_Reachability::kFlagReachable; })));

    auto app = std::make_shared<HX_ConnectAppDelegate_iPhone>();
    HXApplicationModel::setSharedDelegate(app);
    foundation::Application::shared().setDelegate(app);
    app->setWindow(&harness.window());
    HXWebClientOf(*app).endpoints = HXEndpoints::allAt(std::getenv("HX_CRASH_E2E_SERVICE"));
    app->startTelemetryAtLaunch(std::string(std::getenv("HX_CRASH_E2E_INGESTION")));
    ASSERT_TRUE(app->applicationDidFinishLaunchingWithOptions());
    harness.settle();
    if (r == "crash") hxtest::nullWrite();

    auto& clock = harness.clock();
    bool asked = false;
    auto lookForPrompt = [&] {
        auto* alert = harness.visibleAlert();
        if (!alert || asked) return;
        asked = true;
        std::string line = "asked " + alert->alertTitle().value_or("");
        std::replace(line.begin(), line.end(), '\n', '|');
        for (const auto& action : alert->actions()) line += "|" + action->title();
        hxtest::tellParent(line);
        EXPECT_TRUE(harness.tapAlertAction(r == "always" ? "Always Send" : r == "dont-send" ? "Don't Send" : "Send"));
    };
    // Sent (or, after "Don't Send", dropped): the report is gone from the crashes folder and the
    // log store is empty.
    const bool sent = clock.runUntil(
        [&] {
            clock.advance(0.5);
            lookForPrompt();
            return storedCrashReports() == 0 && storedLogs() == "0\n";
        },
        60);
    if (sent) hxtest::tellParent("sent");
    EXPECT_TRUE(sent) << "role " << r;
    EXPECT_EQ(asked, r != "remembered");
    if (r != "remembered") hxtest::nullWrite();

    app->applicationWillTerminate();
    HXApplicationModel::setSharedDelegate(nullptr);
    ZIVODependencyConfiguration::setHttpClient(nullptr);
    ZIVORurIdurev::resetSharedInstance();
    ZIVOCrashes::resetSharedInstance();
    clock.runUntilIdle();
}

namespace {

// The application object as the program launches it, in this process, with or without asking
// for the telemetry start.
// The service's origin is the emulator's; the SDK's HTTP client keeps what it is asked to send
// instead of sending it, so a launch that keeps the SDK's own log URL reaches no other host.
struct TelemetryLaunch : ::testing::Test {
    // Where each request would have gone; none goes out.
    class UnsentHttpClient : public ZIVOHttpClientProtocol {
    public:
        void sendAsync(const std::string& url, const std::string&, const ZIVOHttpHeaders&,
                       std::optional<foundation::Data>, std::vector<double>, bool,
                       ZIVOHttpRequestCompletionHandler) override {
            std::lock_guard lock(mutex_);
            urls_.push_back(url);
        }
        void pause() override {}
        void resume() override {}
        void setEnabled(bool) override {}
        void setDelegate(std::weak_ptr<ZIVOHttpClientDelegate>) override {}
        std::vector<std::string> urls() const {
            std::lock_guard lock(mutex_);
            return urls_;
        }

    private:
        mutable std::mutex mutex_;
        std::vector<std::string> urls_;
    };

    hxtest::TempDir home;
    emulator::Emulator service;
    std::shared_ptr<UnsentHttpClient> sdkClient = std::make_shared<UnsentHttpClient>();
    std::unique_ptr<toolkit::testing::Harness> harness;
    std::shared_ptr<HX_ConnectAppDelegate_iPhone> app;

    void launch(bool startTelemetry, std::optional<std::string> logUrl) {
        hxtest::useAppHome(home.path());
        ASSERT_TRUE(service.start().ok());
        ZIVODependencyConfiguration::setHttpClient(sdkClient);
        harness = std::make_unique<toolkit::testing::Harness>();
        app = std::make_shared<HX_ConnectAppDelegate_iPhone>();
        app->setWindow(&harness->window());
        HXWebClientOf(*app).endpoints = HXEndpoints::allAt(service.origin());
        if (startTelemetry) app->startTelemetryAtLaunch(std::move(logUrl));
        ASSERT_TRUE(app->applicationDidFinishLaunchingWithOptions());
        harness->settle();
    }
    void TearDown() override {
        app.reset();
        ZIVORurIdurev::resetSharedInstance();
        ZIVOCrashes::resetSharedInstance();
        ZIVODependencyConfiguration::setHttpClient(nullptr);
        if (harness) harness->clock().runUntilIdle();
        // Its handlers read the process clock, the harness's until the harness goes.
        service.stop();
    }
};

}  // namespace

TEST_F(TelemetryLaunch, UnaskedTheLaunchStartsNoSdk) {
    HX_REQUIRE_FRESH_PROCESS();
    launch(false, std::nullopt);
    EXPECT_FALSE(ZIVORurIdurev::isConfigured());
    EXPECT_EQ(ZIVORurIdurev::logUrl(), std::nullopt);
    // The prompt is installed all the same, for a service started some other way.
    EXPECT_TRUE(ZIVOCrashes::userConfirmationHandler());
}

TEST_F(TelemetryLaunch, WithoutAnIngestionOriginTheSdkKeepsItsOwnLogUrl) {
    HX_REQUIRE_FRESH_PROCESS();
    launch(true, std::nullopt);
    EXPECT_TRUE(ZIVORurIdurev::isConfigured());
    EXPECT_TRUE(ZIVOCrashes::sharedInstance()->isAvailable());
    EXPECT_EQ(ZIVORurIdurev::logUrl(), std::nullopt);
    // The start-service log is addressed to the SDK's own host.
    auto& clock = harness->clock();
    ASSERT_TRUE(clock.runUntil(
        [&] {
            clock.advance(0.5);
            return !sdkClient->urls().empty();
        },
        60));
    for (const auto& url : sdkClient->urls())
        EXPECT_TRUE(url.starts_with(std::string(ZIVORurIdurev::kDefaultLogUrl) + "/")) << url;
}

// Writers killed in an earlier run left temporaries in folders this run may never write into
// again: the launch sweeps the whole home, and keeps what is not a writer's temporary.
TEST_F(TelemetryLaunch, TheLaunchSweepsKilledWritersTemporariesFromEveryFolder) {
    HX_REQUIRE_FRESH_PROCESS();
    hxtest::useAppHome(home.path());
    const std::vector<fs::path> stale = {home / "Library/Keychains/.keychain.json.0123456789abcdef",
                                         home / "Documents/user%40example.test/.v1.mp3.fedcba9876543210"};
    const fs::path kept = home / "Documents/user%40example.test/.notes";
    for (const auto& path : stale) {
        fs::create_directories(path.parent_path());
        std::ofstream(path) << "partial";
    }
    std::ofstream(kept) << "kept";
    launch(false, std::nullopt);
    harness->clock().runUntilIdle();
    for (const auto& path : stale) EXPECT_FALSE(fs::exists(path)) << path;
    EXPECT_TRUE(fs::exists(kept));
}
