// The SDK from the facade down to the emulator: enqueue, SQLite, timer flush, POST, deletion;
// back-off, shut-down on 403, pause and the next launch; a second run in a child process; and
// durability of acknowledged saves when the process is killed.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <future>
#include <thread>

#include "RurIdurev/RurIdurev/Internals/Channel/channel_group_default.h"
#include "RurIdurev/RurIdurev/Internals/Context/Device/device_tracker.h"
#include "RurIdurev/RurIdurev/Internals/HttpClient/reachability.h"
#include "RurIdurev/RurIdurev/Internals/Model/start_service_log.h"
#include "RurIdurev/RurIdurev/Internals/Storage/log_db_storage.h"
#include "RurIdurev/RurIdurev/Internals/Util/utility.h"
#include "RurIdurev/RurIdurev/logger.h"
#include "RurIdurev/RurIdurev/rur_idurev.h"
#include "emulator/ingestion_service.h"
#include "platform/dispatch/dispatch.h"
#include "tests/RurIdurev/telemetry/telemetry_environment.h"
#include "tests/RurIdurev/telemetry_channel/start_service_logs.h"

extern char** environ;

namespace {

using emulator::IngestionService;
constexpr const char* kEndToEndSecret = "0d6a6b4e-3f1c-4a52-9c1e-7a2b5c8d9e01";

using hxtest::makeLog;

// Records what the unit tells its delegates.
struct Recorder : ZIVOChannelDelegate {
    std::mutex mutex;
    std::vector<std::string> succeeded;
    std::vector<int64_t> failedCodes;
    void channelDidSucceedSendingLog(ZIVOChannel, const std::shared_ptr<ZIVOAbstractLog>& log) override {
        std::lock_guard lock(mutex);
        succeeded.push_back(log->sid().value_or(""));
    }
    void channelDidFailSendingLog(ZIVOChannel, const std::shared_ptr<ZIVOAbstractLog>&,
                                  const std::optional<foundation::Error>& error) override {
        std::lock_guard lock(mutex);
        failedCodes.push_back(error ? error->code : 0);
    }
};

std::string sqlite(const std::filesystem::path& db, const std::string& statement) {
    std::string out;
    hxtest::runCommand("sqlite3 '" + db.string() + "' \"" + statement + "\"", &out);
    return out;
}

// An application bundle whose Info gives the versions every log's device carries.
void writeInfo(const std::filesystem::path& dir) {
    std::filesystem::create_directories(dir / "resources");
    (void)foundation::writePropertyListFile(foundation::Dictionary{{"CFBundleIdentifier", "com.hxconnect.test"},
                                                                   {"CFBundleShortVersionString", "1.2"},
                                                                   {"CFBundleVersion", "34"}},
                                            dir / "resources/Info.plist");
    foundation::Bundle::main().setResourcesDirectory(dir / "resources");
}

// The process-wide environment of an SDK run over one directory (the parent's or a child's).
void prepareEnvironment(const std::filesystem::path& dir) {
    foundation::setHomeDirectory(dir / "home");
    zivo_platform::setStandardUserDefaults(std::make_shared<foundation::UserDefaults>(dir / "preferences.plist"));
    std::filesystem::create_directories(dir / "resources");
    writeInfo(dir);
    foundation::Bundle::main().setResourcesDirectory(dir / "resources");
    security::Keychain::setDefaultPath(dir / "keychain.json");
    ZIVORurIdurevUserDefaults::resetSharedInstance();
    ZIVONetworkRequestsAllowed::reset();
    ZIVOUtility::resetRurIdurevDirectoryForTesting();
    ZIVODeviceTracker::resetSharedInstance();
}

class SdkEndToEndTest : public TelemetryTest {
protected:
    void SetUp() override {
        TelemetryTest::SetUp();
        writeInfo(dir.path());
        ZIVOUtility::resetRurIdurevDirectoryForTesting();
        ZIVODeviceTracker::resetSharedInstance();
        ZIVORurIdurev::resetSharedInstance();
    }
    void TearDown() override {
        ZIVODependencyConfiguration::setHttpClient(nullptr);
        ZIVORurIdurev::resetSharedInstance();
        clock->runUntilIdle();
        TelemetryTest::TearDown();
    }
    void startSdk() {
        reachability = ZIVO_Reachability::reachabilityWithFlagsSource([this] { return flags.load(); });
        client = ZIVOHttpClient::create(nullptr, reachability);
        ZIVODependencyConfiguration::setHttpClient(client);
        ZIVORurIdurev::setLogUrl(service.baseURL());
        ZIVORurIdurev::start(std::string(kEndToEndSecret), {});
        group = ZIVORurIdurev::sharedInstance()->channelGroup();
        unit = group->channelUnitForGroupId("RurIdurev");
        recorder = std::make_shared<Recorder>();
        group->addDelegate(recorder);
        clock->runUntilIdle();
    }
    std::filesystem::path dbPath() { return ZIVOUtility::rurIdurevDirectoryURL() / "Logs.sqlite"; }
    uint64_t stored() {
        clock->runUntilIdle();
        return std::stoull("0" + sqlite(dbPath(), "SELECT count(*) FROM logs"));
    }
    bool waitRequests(size_t n) {
        return clock->runUntil([&] { return service.requestCount() >= n; }, 20);
    }
    void setReachable(bool reachable) {
        flags = reachable ? ZIVO_Reachability::kFlagReachable : 0u;
        reachability->flagsChanged();
        clock->runUntilIdle();
    }

    dispatch::ScopedVirtualClock clock;
    IngestionService service;
    std::atomic<uint32_t> flags{ZIVO_Reachability::kFlagReachable};
    std::shared_ptr<ZIVO_Reachability> reachability;
    std::shared_ptr<ZIVOHttpClient> client;
    std::shared_ptr<ZIVOChannelGroupDefault> group;
    std::shared_ptr<ZIVOChannelUnitDefault> unit;
    std::shared_ptr<Recorder> recorder;
};

TEST_F(SdkEndToEndTest, TimerFlushPostsThenDeletesAndCountFlushGoesOutGzipped) {
    startSdk();
    for (int i = 0; i < 3; ++i) unit->enqueueItem(makeLog("small" + std::to_string(i)), 1);
    EXPECT_EQ(stored(), 3u);
    clock->advance(5);
    EXPECT_EQ(service.requestCount(), 0u);  // every save pushed the 6-second timer back
    clock->advance(1.5);
    ASSERT_TRUE(waitRequests(1));
    ASSERT_TRUE(clock->runUntil([&] { return stored() == 0; }, 10));
    auto first = service.requests()[0];
    EXPECT_EQ(first.target, "/logs?api-version=1.0.0");
    EXPECT_EQ(first.header("app-secret"), kEndToEndSecret);
    EXPECT_EQ(first.header("install-id"), ZIVORurIdurev::installId());
    EXPECT_EQ(first.header("content-encoding"), "");
    EXPECT_EQ(first.json["logs"].size(), 3u);
    EXPECT_EQ(first.json["logs"].at(0)["device"]["sdkName"].stringValue(), "ruridurev.ios");

    // The 50th saved log flushes at once, without waiting for the timer.
    for (int i = 0; i < 50; ++i) unit->enqueueItem(makeLog("big" + std::to_string(i), 40), 1);
    ASSERT_TRUE(waitRequests(2));
    auto second = service.requests()[1];
    EXPECT_EQ(second.header("content-encoding"), "gzip");
    EXPECT_EQ(second.json["logs"].size(), 50u);
    ASSERT_TRUE(clock->runUntil([&] { return stored() == 0; }, 10));
    std::lock_guard lock(recorder->mutex);
    EXPECT_EQ(recorder->succeeded.size(), 53u);
}

TEST_F(SdkEndToEndTest, ForbiddenDisablesTheUnitAndDeletesItsLogs) {
    service.script({{403}});
    startSdk();
    unit->enqueueItem(makeLog("a"), 1);
    clock->advance(7);
    ASSERT_TRUE(waitRequests(1));
    ASSERT_TRUE(clock->runUntil([&] { return !unit->isEnabled(); }, 10));
    EXPECT_EQ(stored(), 0u);
    unit->enqueueItem(makeLog("late"), 1);  // discarded at once with code 100
    clock->runUntilIdle();
    EXPECT_EQ(stored(), 0u);
    std::lock_guard lock(recorder->mutex);
    ASSERT_FALSE(recorder->failedCodes.empty());
    EXPECT_EQ(recorder->failedCodes.back(), 100);
}

TEST_F(SdkEndToEndTest, ExhaustedRetriesKeepTheBatchForTheNextLaunch) {
    service.script({{503}, {503}, {429, std::string("10")}, {503}});
    startSdk();
    unit->enqueueItem(makeLog("old"), 1);
    clock->advance(7);
    ASSERT_TRUE(waitRequests(1));
    for (size_t n = 2; n <= 4; ++n) {
        clock->advance(1200);
        ASSERT_TRUE(waitRequests(n));
    }
    ASSERT_TRUE(clock->runUntil([&] { return client->isPaused(); }, 10));
    EXPECT_EQ(stored(), 1u);
    // After reachability returns, a new log goes out; the failed batch waits for the next launch.
    setReachable(false);
    setReachable(true);
    unit->enqueueItem(makeLog("new"), 1);
    clock->advance(7);
    ASSERT_TRUE(waitRequests(5));
    auto fifth = service.requests()[4];
    ASSERT_EQ(fifth.json["logs"].size(), 1u);
    EXPECT_EQ(fifth.json["logs"].at(0)["sid"].stringValue(), "new");
    ASSERT_TRUE(clock->runUntil([&] { return stored() == 1; }, 10));

    // Next launch: a fresh SDK over the same files sends the old batch.
    ZIVODependencyConfiguration::setHttpClient(nullptr);
    ZIVORurIdurev::resetSharedInstance();
    clock->runUntilIdle();
    startSdk();
    clock->advance(7);
    ASSERT_TRUE(waitRequests(6));
    EXPECT_EQ(service.requests()[5].json["logs"].at(0)["sid"].stringValue(), "old");
    ASSERT_TRUE(clock->runUntil([&] { return stored() == 0; }, 10));
}

TEST_F(SdkEndToEndTest, LogsSurviveARestartAndAChildRunSendsThem) {
    startSdk();
    ZIVORurIdurev::setNetworkRequestsAllowed(false);
    for (int i = 0; i < 4; ++i) unit->enqueueItem(makeLog("kept" + std::to_string(i)), 1);
    clock->advance(10);
    EXPECT_EQ(stored(), 4u);
    EXPECT_EQ(service.requestCount(), 0u);
    ZIVORurIdurev::setNetworkRequestsAllowed(true);  // persisted for the child's run
    ZIVORurIdurev::resetSharedInstance();
    clock->runUntilIdle();

    int fd = -1;
    pid_t pid = hxtest::spawnSelf("ChildSdk.SendsStoredLogs",
                                  {"HX_CHILD_DIR=" + dir.path().string(), "HX_CHILD_URL=" + service.baseURL()}, &fd);
    ASSERT_GT(pid, 0);
    std::string out;
    char buffer[512];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0) out.append(buffer, static_cast<size_t>(n));
    close(fd);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << out;
    ASSERT_EQ(service.requestCount(), 1u) << out;
    auto request = service.requests()[0];
    EXPECT_EQ(request.json["logs"].size(), 4u);
    EXPECT_EQ(stored(), 0u);
}

TEST(ChildSdk, SendsStoredLogs) {
    const char* dirText = std::getenv("HX_CHILD_DIR");
    if (!dirText) GTEST_SKIP() << "runs as the child of LogsSurviveARestartAndAChildRunSendsThem";
    prepareEnvironment(dirText);
    dispatch::ScopedVirtualClock clock;
    auto reachability =
        ZIVO_Reachability::reachabilityWithFlagsSource([] { return ZIVO_Reachability::kFlagReachable; });
    ZIVODependencyConfiguration::setHttpClient(ZIVOHttpClient::create(nullptr, reachability));
    ZIVORurIdurev::setLogUrl(std::getenv("HX_CHILD_URL"));
    ZIVORurIdurev::start(std::string(kEndToEndSecret), {});
    auto db = ZIVOUtility::rurIdurevDirectoryURL() / "Logs.sqlite";
    EXPECT_TRUE(clock->runUntil(
        [&] {
            clock->advance(1);
            return sqlite(db, "SELECT count(*) FROM logs") == "0\n";
        },
        60));
    ZIVODependencyConfiguration::setHttpClient(nullptr);
    ZIVORurIdurev::resetSharedInstance();
    clock->runUntilIdle();
}

// A child saves logs and reports each save that answered success; it is killed without warning
// after k reports. Every reported log must be in an intact file.
TEST_F(SdkEndToEndTest, AcknowledgedSavesSurviveSigkill) {
    for (int k : {1, 7, 40, 150}) {
        hxtest::TempDir childDir;
        int fd = -1;
        pid_t pid = hxtest::spawnSelf("ChildStore.SavesUntilKilled", {"HX_CHILD_DIR=" + childDir.path().string()}, &fd);
        ASSERT_GT(pid, 0);
        std::string reported;
        int lines = 0;
        char c;
        while (lines < k && read(fd, &c, 1) == 1) {
            if (c == '\n') ++lines;
            reported += c;
        }
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
        close(fd);
        ASSERT_EQ(lines, k);
        prepareEnvironment(childDir.path());
        auto db = ZIVOUtility::rurIdurevDirectoryURL() / "Logs.sqlite";
        EXPECT_EQ(sqlite(db, "PRAGMA integrity_check"), "ok\n");
        ZIVOLogDBStorage store;
        std::set<std::string> present;
        store.loadLogsWithGroupId("G", UINT64_MAX, std::nullopt, [&](const auto& logs, const auto&) {
            for (const auto& log : logs) present.insert(log->sid().value_or(""));
        });
        std::istringstream in(reported);
        std::string sid;
        while (std::getline(in, sid)) EXPECT_TRUE(present.count(sid)) << "k=" << k << " lost " << sid;
    }
    prepareEnvironment(dir.path());
}

TEST(ChildStore, SavesUntilKilled) {
    const char* dirText = std::getenv("HX_CHILD_DIR");
    if (!dirText) GTEST_SKIP() << "runs as the child of AcknowledgedSavesSurviveSigkill";
    prepareEnvironment(dirText);
    ZIVOLogDBStorage store;
    for (int i = 0; i < 100000; ++i) {
        std::string sid = "s" + std::to_string(i);
        if (store.saveLog(makeLog(sid), "G", 1)) {
            std::string line = sid + "\n";
            if (write(3, line.data(), line.size()) < 0) return;
        }
    }
}

// The facade's lock and the ingestion's never wait for each other: one thread flips the SDK's
// switches (facade lock, then the group) while another sends through the ingestion.
TEST_F(SdkEndToEndTest, FacadeSwitchesAndIngestionSendsFromTwoThreads) {
    startSdk();
    auto ingestion = group->ingestion();
    auto flipper = std::async(std::launch::async, [] {
        for (int i = 0; i < 300; ++i) {
            ZIVORurIdurev::setNetworkRequestsAllowed(i % 2 == 0);
            (void)ZIVORurIdurev::isEnabledClass();
        }
    });
    auto sender = std::async(std::launch::async, [&] {
        for (int i = 0; i < 300; ++i) (void)ingestion->isEnabled();
    });
    EXPECT_EQ(sender.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_EQ(flipper.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    ZIVORurIdurev::setNetworkRequestsAllowed(true);
}

}  // namespace
