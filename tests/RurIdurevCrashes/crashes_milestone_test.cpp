// The crash reporting service across launches, each launch its own process under the virtual
// clock: a run crashes on a null write; the next run finds the report, asks the confirmation
// handler and, on the user's answer, sends the crash log and its attachment to the ingestion
// emulator or deletes the report; after "Always Send" a later run sends without asking.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <mutex>

#include "RurIdurev/RurIdurev/Internals/Context/Device/device_tracker.h"
#include "RurIdurev/RurIdurev/Internals/HttpClient/http_client.h"
#include "RurIdurev/RurIdurev/Internals/HttpClient/reachability.h"
#include "RurIdurev/RurIdurev/Internals/Util/network_requests_allowed.h"
#include "RurIdurev/RurIdurev/Internals/Util/platform_adapters.h"
#include "RurIdurev/RurIdurev/Internals/Util/rur_idurev_user_defaults.h"
#include "RurIdurev/RurIdurev/Internals/Util/utility.h"
#include "RurIdurev/RurIdurev/rur_idurev.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Internals/crash_files.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Internals/crashes_util.h"
#include "RurIdurevCrashes/RurIdurevCrashes/crashes.h"
#include "emulator/ingestion_service.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/files.h"
#include "platform/foundation/json.h"
#include "platform/foundation/property_list.h"
#include "platform/foundation/user_defaults.h"
#include "platform/security/keychain.h"
#include "tests/support/fault_signals.h"
#include "tests/support/test_support.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

constexpr const char* kSecret = "5b0e7c2a-9d41-4f63-8e2b-1c3a5d7f9b20";
constexpr const char* kAttachmentText = "last words of the crashed run";

// One launch's process-wide environment over a directory shared by all launches.
void prepareEnvironment(const fs::path& dir) {
    foundation::setHomeDirectory(dir / "home");
    zivo_platform::setStandardUserDefaults(std::make_shared<foundation::UserDefaults>(dir / "preferences.plist"));
    fs::create_directories(dir / "resources");
    (void)foundation::writePropertyListFile(foundation::Dictionary{{"CFBundleIdentifier", "com.hxconnect.test"},
                                                                   {"CFBundleShortVersionString", "1.2"},
                                                                   {"CFBundleVersion", "34"}},
                                            dir / "resources/Info.plist");
    foundation::Bundle::main().setResourcesDirectory(dir / "resources");
    security::Keychain::setDefaultPath(dir / "keychain.json");
    ZIVORurIdurevUserDefaults::resetSharedInstance();
    ZIVONetworkRequestsAllowed::reset();
    ZIVOUtility::resetRurIdurevDirectoryForTesting();
    ZIVOCrashesUtil::resetDirectory();
    ZIVODeviceTracker::resetSharedInstance();
}

using Launch = hxtest::ChildRun;

// Runs one launch as a fresh process of this test binary; its lines arrive on descriptor 3 and its
// own output goes to a file shown on failure.
Launch launch(const std::string& role, const fs::path& dir, const std::string& url) {
    // The reporter keeps its pending report in the app home's caches, under dir like the rest.
    return hxtest::runChild(
        "CrashesMilestoneLaunch.Run",
        {"HX_MILESTONE_ROLE=" + role, "HX_MILESTONE_DIR=" + dir.string(), "HX_MILESTONE_URL=" + url},
        (dir / ("output-" + role + ".txt")).string());
}

// The logs of one type among every request the emulator recorded, as JSON texts.
std::vector<std::string> logsOfType(const emulator::IngestionService& service, const std::string& type) {
    std::vector<std::string> out;
    for (const auto& log : service.logsOfType(type)) {
        auto text = foundation::toJSON(log);
        out.push_back(text.ok() ? text.value() : std::string());
    }
    return out;
}

size_t storedCrashReports(const fs::path& crashesDir) {
    size_t count = 0;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(crashesDir, ec))
        if (entry.is_regular_file() && entry.path().extension() != ".analyzer") ++count;
    return count;
}

// python3's reading of a crash log and its attachment: the fields the back end needs, with their
// JSON types, and the attachment tied to the crash.
std::string checkWithPython(const fs::path& dir, const std::string& crashLog, const std::string& attachment,
                            const std::string& askedId) {
    std::ofstream(dir / "crash.json", std::ios::binary) << crashLog;
    std::ofstream(dir / "attachment.json", std::ios::binary) << attachment;
    std::ofstream(dir / "check.py") << R"(import base64, json, re, sys
crash = json.load(open(sys.argv[1], encoding="utf-8"))
att = json.load(open(sys.argv[2], encoding="utf-8"))
uuid = re.compile(r"^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$")
stamp = re.compile(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z$")
def need(cond, what):
    if not cond:
        print("bad: " + what)
        sys.exit(1)
need(crash["type"] == "appleError", "type")
need(uuid.match(crash["id"]), "id " + crash["id"])
need(crash["id"] == sys.argv[3], "id is the one the handler was shown")
need(stamp.match(crash["timestamp"]) and stamp.match(crash["appLaunchTimestamp"]), "timestamps")
need(crash["timestamp"] >= crash["appLaunchTimestamp"], "crash after launch")
need(crash["fatal"] is True, "fatal")
need(type(crash["processId"]) is int and crash["processId"] > 0, "processId")
need(isinstance(crash["processName"], str) and crash["processName"], "processName")
need("sid" not in crash or isinstance(crash["sid"], str), "sid")
need(type(crash["primaryArchitectureId"]) is int, "primaryArchitectureId")
need(isinstance(crash["applicationPath"], str) and crash["applicationPath"].startswith("/"), "applicationPath")
need(crash["osExceptionType"] == "SIGSEGV", "osExceptionType " + str(crash.get("osExceptionType")))
need(crash["osExceptionCode"] == "SEGV_MAPERR", "osExceptionCode")
need(crash["osExceptionAddress"] == "0x0", "osExceptionAddress")
dev = crash["device"]
need(dev["sdkName"] == "ruridurev.ios" and dev["appVersion"] == "1.2" and dev["appBuild"] == "34", "device " + json.dumps(dev))
need(isinstance(crash["threads"], list) and crash["threads"], "threads")
crashed = [t for t in crash["threads"] if t.get("frames")]
need(crashed, "frames")
for t in crash["threads"]:
    need(type(t["id"]) is int, "thread id")
    for f in t.get("frames", []):
        need(re.match(r"^0x[0-9a-f]{16}$", f["address"]), "frame address " + f["address"])
need(isinstance(crash["binaries"], list) and crash["binaries"], "binaries")
for b in crash["binaries"]:
    need(isinstance(b["path"], str) and re.match(r"^0x[0-9a-f]+$", b["startAddress"]), "binary")
need(att["type"] == "errorAttachment", "attachment type")
need(uuid.match(att["id"]), "attachment id")
need(att["errorId"] == crash["id"], "attachment errorId")
need(att["contentType"] == "text/plain" and att["fileName"] == "log.txt", "attachment content type and name")
need(base64.b64decode(att["data"]) == sys.argv[4].encode(), "attachment data")
need(att["device"] == dev, "attachment carries the crash's device")
print("ok")
)";
    std::string out;
    int status = hxtest::runCommand("/usr/bin/python3 '" + (dir / "check.py").string() + "' '" +
                                        (dir / "crash.json").string() + "' '" + (dir / "attachment.json").string() +
                                        "' '" + askedId + "' '" + kAttachmentText + "' 2>&1",
                                    &out);
    if (status != 0 && out.empty()) out = "python3 failed";
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

// The preferences file as python3's plistlib reads it.
std::string storedAlwaysAnswer(const fs::path& dir) {
    std::string out;
    hxtest::runCommand("/usr/bin/python3 -c 'import plistlib,sys; "
                       "print(plistlib.load(open(sys.argv[1],\"rb\")).get(\"ZVRurIdurevCrashesUserConfirmation\"))' '" +
                           (dir / "preferences.plist").string() + "'",
                       &out);
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

}  // namespace

TEST(CrashesMilestone, ACrashIsOfferedAtTheNextLaunchAndSentOrDroppedAsTheUserAnswers) {
    hxtest::TempDir dir;
    emulator::IngestionService service;
    prepareEnvironment(dir.path());
    const fs::path crashesDir = ZIVOUtility::rurIdurevDirectoryURL() / "crashes";
    auto expectCrashed = [](const Launch& run) {
        EXPECT_TRUE(WIFSIGNALED(run.status) && WTERMSIG(run.status) == SIGSEGV) << run.output;
        EXPECT_TRUE(run.said("started")) << run.output;
    };
    auto expectClean = [](const Launch& run) {
        EXPECT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0) << run.output;
    };

    // 1. A crash, then "Don't Send": the report is deleted and nothing is sent.
    expectCrashed(launch("crash", dir.path(), service.baseURL()));
    auto dontSend = launch("dont-send", dir.path(), service.baseURL());
    expectClean(dontSend);
    EXPECT_TRUE(dontSend.said("crashed-last-session 1")) << dontSend.output;
    EXPECT_TRUE(dontSend.saidPrefix("asked 1 ")) << dontSend.output;
    EXPECT_EQ(storedCrashReports(crashesDir), 0u);
    EXPECT_TRUE(logsOfType(service, "appleError").empty());
    EXPECT_TRUE(logsOfType(service, "errorAttachment").empty());
    EXPECT_FALSE(logsOfType(service, "startService").empty()) << "the launches' own logs do arrive";

    // 2. A crash, then "Always Send": the crash log and its attachment go out as two requests.
    expectCrashed(launch("crash", dir.path(), service.baseURL()));
    auto always = launch("always", dir.path(), service.baseURL());
    expectClean(always);
    std::string askedId;
    for (const auto& line : always.lines)
        if (line.rfind("asked 1 ", 0) == 0) askedId = line.substr(8);
    ASSERT_FALSE(askedId.empty()) << always.output;
    EXPECT_TRUE(always.said("willSend " + askedId)) << always.output;
    EXPECT_TRUE(always.said("didSucceed " + askedId)) << always.output;
    EXPECT_EQ(storedCrashReports(crashesDir), 0u);
    auto crashLogs = logsOfType(service, "appleError");
    auto attachments = logsOfType(service, "errorAttachment");
    ASSERT_EQ(crashLogs.size(), 1u);
    ASSERT_EQ(attachments.size(), 1u);
    EXPECT_EQ(checkWithPython(dir.path(), crashLogs[0], attachments[0], askedId), "ok");
    for (const auto& request : service.requests()) {
        EXPECT_EQ(request.target, "/logs?api-version=1.0.0");
        EXPECT_EQ(request.header("app-secret"), kSecret);
    }
    EXPECT_EQ(storedAlwaysAnswer(dir.path()), "True");

    // 3. A crash, then a launch that sends without asking.
    expectCrashed(launch("crash", dir.path(), service.baseURL()));
    auto remembered = launch("remembered", dir.path(), service.baseURL());
    expectClean(remembered);
    EXPECT_FALSE(remembered.saidPrefix("asked")) << remembered.output;
    EXPECT_TRUE(remembered.saidPrefix("didSucceed ")) << remembered.output;
    EXPECT_EQ(logsOfType(service, "appleError").size(), 2u);
    EXPECT_EQ(logsOfType(service, "errorAttachment").size(), 2u);
    EXPECT_EQ(storedCrashReports(crashesDir), 0u);
}

namespace {

// The application's side of a launch: a text attachment per crash and the send callbacks.
class LaunchDelegate : public ZIVOCrashesDelegate {
public:
    bool respondsToAttachmentsWithCrashes() const override { return true; }
    std::vector<std::shared_ptr<ZIVOErrorAttachmentLog>>
    attachmentsWithCrashes(ZIVOCrashes&, const std::shared_ptr<ZIVOErrorReport>&) override {
        return {ZIVOErrorAttachmentLog::attachmentWithText(kAttachmentText, std::string("log.txt"))};
    }
    bool respondsToWillSendErrorReport() const override { return true; }
    void crashesWillSendErrorReport(ZIVOCrashes&, const std::shared_ptr<ZIVOErrorReport>& r) override {
        hxtest::tellParent("willSend " + r->incidentIdentifier().value_or(""));
    }
    bool respondsToDidSucceedSendingErrorReport() const override { return true; }
    void crashesDidSucceedSendingErrorReport(ZIVOCrashes&, const std::shared_ptr<ZIVOErrorReport>& r) override {
        hxtest::tellParent("didSucceed " + r->incidentIdentifier().value_or(""));
        sent = true;
    }
    std::atomic<bool> sent{false};
};

}  // namespace

TEST(CrashesMilestoneLaunch, Run) {
    const char* role = std::getenv("HX_MILESTONE_ROLE");
    if (!role) GTEST_SKIP() << "one launch of CrashesMilestone, run as its child";
    alarm(60);  // a launch that hangs fails instead of holding the parent
    hxtest::restoreDefaultFaultActions();
    const std::string r = role;
    const fs::path dir = std::getenv("HX_MILESTONE_DIR");
    prepareEnvironment(dir);
    dispatch::ScopedVirtualClock clock;
    auto reachability =
        ZIVO_Reachability::reachabilityWithFlagsSource([] { return ZIVO_Reachability::kFlagReachable; });
    ZIVODependencyConfiguration::setHttpClient(ZIVOHttpClient::create(nullptr, reachability));
    ZIVORurIdurev::setLogUrl(std::getenv("HX_MILESTONE_URL"));
    ZIVORurIdurev::start(std::string(kSecret), {ZIVOCrashes::sharedInstance()});

    // As the application does right after the start.
    auto delegate = std::make_shared<LaunchDelegate>();
    ZIVOCrashes::setDelegate(delegate);
    std::atomic<bool> answered{false};
    const unsigned answer = r == "dont-send" ? ZIVOUserConfirmationDontSend : ZIVOUserConfirmationAlways;
    ZIVOCrashes::setUserConfirmationHandler([&](const std::vector<std::shared_ptr<ZIVOErrorReport>>& reports) {
        hxtest::tellParent("asked " + std::to_string(reports.size()) + " " +
                           (reports.empty() ? std::string() : reports[0]->incidentIdentifier().value_or("")));
        // The alert's button answers later, from the main loop.
        dispatch::Queue::main()->async([&, answer] {
            ZIVOCrashes::classNotifyWithUserConfirmation(answer);
            answered = true;
        });
        return true;
    });
    clock->runUntilIdle();
    hxtest::tellParent("crashed-last-session " + std::to_string(ZIVOCrashes::hasCrashedInLastSession() ? 1 : 0));

    if (r == "crash") {
        hxtest::tellParent("started");
        hxtest::nullWrite();
        hxtest::tellParent("survived");
        _exit(1);
    }
    const fs::path crashesDir = ZIVOUtility::rurIdurevDirectoryURL() / "crashes";
    const fs::path db = ZIVOUtility::rurIdurevDirectoryURL() / "Logs.sqlite";
    auto storedLogs = [&] {
        std::string out;
        hxtest::runCommand("sqlite3 '" + db.string() + "' 'SELECT count(*) FROM logs'", &out);
        return out;
    };
    bool done = clock->runUntil(
        [&] {
            clock->advance(1);
            const bool handled = r == "dont-send" ? answered.load() : delegate->sent.load();
            return handled && storedCrashReports(crashesDir) == 0 && storedLogs() == "0\n";
        },
        60);
    EXPECT_TRUE(done) << "role " << r;
    ZIVODependencyConfiguration::setHttpClient(nullptr);
    ZIVORurIdurev::resetSharedInstance();
    ZIVOCrashes::resetSharedInstance();
    clock->runUntilIdle();
}
