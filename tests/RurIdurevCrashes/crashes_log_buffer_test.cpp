#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <thread>

#include "RurIdurev/RurIdurev/Internals/Channel/channel_group_default.h"
#include "RurIdurev/RurIdurev/Internals/HttpClient/http_client.h"
#include "RurIdurev/RurIdurev/Internals/HttpClient/reachability.h"
#include "RurIdurev/RurIdurev/Internals/Model/start_service_log.h"
#include "RurIdurev/RurIdurev/Internals/Util/archiver_util.h"
#include "RurIdurev/RurIdurev/Internals/Util/encrypter.h"
#include "RurIdurev/RurIdurev/Internals/Util/rur_idurev_user_defaults.h"
#include "RurIdurev/RurIdurev/Internals/Util/utility.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Internals/Model/handled_error_log.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Internals/crashes_log_buffer.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Internals/crashes_util.h"
#include "RurIdurevCrashes/RurIdurevCrashes/crashes.h"
#include "tests/RurIdurev/telemetry/log_capture.h"
#include "tests/RurIdurev/telemetry/telemetry_environment.h"
#include "tests/RurIdurevCrashes/crashes_service_fixture.h"
#include "tests/RurIdurevCrashes/crashes_test_support.h"
#include "tests/crashreporter/report_test_support.h"
#include "tests/support/fault_signals.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace {

using crashestest::RecordingUnit;

// Each group id gets its own unit, so a test sees what went to "CrashesBuffer" alone.
class RecordingGroupPerId : public ZIVOChannelGroupProtocol {
public:
    std::shared_ptr<ZIVOChannelUnitProtocol>
    addChannelUnitWithConfiguration(const ZIVOChannelUnitConfiguration& configuration) override {
        configurations.push_back(configuration);
        auto unit = std::make_shared<RecordingUnit>();
        units[configuration.groupId] = unit;
        return unit;
    }
    std::vector<ZIVOChannelUnitConfiguration> configurations;
    std::map<std::string, std::shared_ptr<RecordingUnit>> units;
};

std::shared_ptr<ZIVOAbstractLog> startLog(const std::string& sid, std::optional<std::string> token = std::nullopt) {
    auto log = std::make_shared<ZIVOStartServiceLog>();
    log->setServices(std::vector<std::string>{"Crashes"});
    log->setSid(sid);
    log->setTimestamp(foundation::Date{1'700'000'000.0});
    log->setDevice(crashestest::validDevice());
    if (token) log->addTransmissionTargetToken(*token);
    return log;
}

std::string decrypted(const std::string& encrypted) { return ZIVOEncrypter().decryptString(encrypted).value_or("?"); }

// python3's own reading of a buffer file: the root object's class name and its "sid".
std::string plistRootClassAndSid(const fs::path& file) {
    std::string out;
    int status = hxtest::runCommand("/usr/bin/python3 -c 'import plistlib,sys\n"
                                    "p=plistlib.load(open(sys.argv[1],\"rb\"))\n"
                                    "o=p[\"$objects\"]; r=o[p[\"$top\"][\"root\"].data]\n"
                                    "v=lambda x: o[x.data] if isinstance(x, plistlib.UID) else x\n"
                                    "print(v(r[\"$class\"])[\"$classname\"], v(r[\"sid\"]))' '" +
                                        file.string() + "'",
                                    &out);
    if (status != 0) return "python3 rejected " + file.string();
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

std::string contents(const fs::path& file) {
    auto bytes = crashtest::readFile(file);
    return std::string(bytes.begin(), bytes.end());
}

// The crashes service's fixture with the log buffer's slots made anew for each test.
class CrashesLogBufferTest : public crashestest::CrashesServiceTest {
protected:
    void SetUp() override {
        CrashesServiceTest::SetUp();
        ZIVOCrashesLogBuffer::resetForTesting();
        // What the facade does at start, before any service reads a stored log.
        ZIVOArchiverUtil::addAllowedRurIdurevModuleClasses();
    }
    void TearDown() override {
        ZIVOCrashesLogBuffer::resetForTesting();
        CrashesServiceTest::TearDown();
    }
    // A service as a new process would make it; set-up's file creation has finished.
    std::shared_ptr<ZIVOCrashes> makeService() {
        auto crashes = CrashesServiceTest::makeService();
        crashes->logBuffer().bufferFileQueue()->barrierSync([] {});
        return crashes;
    }
    // What a fresh launch sees: new slots, a new service over the same files.
    std::shared_ptr<ZIVOCrashes> nextLaunch() {
        ZIVOCrashes::resetSharedInstance();
        ZIVOCrashesLogBuffer::resetForTesting();
        ZIVOCrashesUtil::resetDirectory();
        return makeService();
    }
    void prepare(ZIVOCrashes& crashes, const std::shared_ptr<ZIVOAbstractLog>& log, const std::string& id) {
        crashes.channelDidPrepareLog(nullptr, log, id, 1);
        clock.advance(1);
    }
    fs::path bufferDir() { return ZIVOUtility::rurIdurevDirectoryURL() / "crasheslogbuffer"; }
    fs::path bufferFile(int i) { return bufferDir() / (std::to_string(i) + ".zvcrasheslogbuffer"); }
    fs::path tokenFile(int i) { return bufferDir() / (std::to_string(i) + ".targettoken"); }
};

}  // namespace

TEST_F(CrashesLogBufferTest, SetUpGivesEverySlotItsFilesAndAFullBufferReplacesTheOldestLog) {
    auto crashes = makeService();
    for (int i = 0; i < 60; ++i) {
        EXPECT_TRUE(fs::exists(bufferFile(i))) << i;
        EXPECT_EQ(fs::file_size(bufferFile(i)), 0u) << i;
        EXPECT_EQ(ZIVOCrashesLogBuffer::slot(i).bufferPath, bufferFile(i).string());
        EXPECT_EQ(ZIVOCrashesLogBuffer::slot(i).targetTokenPath, tokenFile(i).string());
    }
    EXPECT_FALSE(fs::exists(bufferFile(60)));

    prepare(*crashes, startLog("sid-0", std::string("token-of-the-first")), "id-0");
    for (int i = 1; i < 60; ++i) prepare(*crashes, startLog("sid-" + std::to_string(i)), "id-" + std::to_string(i));
    auto first = ZIVOCrashesLogBuffer::slot(0);
    EXPECT_EQ(first.internalId, "id-0");
    EXPECT_NE(first.targetToken, "token-of-the-first") << "kept encrypted";
    EXPECT_EQ(decrypted(first.targetToken), "token-of-the-first");
    EXPECT_EQ(ZIVOCrashesLogBuffer::slot(59).internalId, "id-59");

    // The 61st takes the first one's slot, token and all.
    prepare(*crashes, startLog("sid-60"), "id-60");
    auto replaced = ZIVOCrashesLogBuffer::slot(0);
    EXPECT_EQ(replaced.internalId, "id-60");
    EXPECT_TRUE(replaced.targetToken.empty());
    auto log = ZIVOUtility::unarchiveKeyedObject<ZIVOAbstractLog>(
        foundation::Data(replaced.buffer.begin(), replaced.buffer.end()));
    ASSERT_TRUE(log);
    EXPECT_EQ(log->sid(), "sid-60");
    EXPECT_EQ(replaced.bufferPath, bufferFile(0).string());
    EXPECT_EQ(ZIVOCrashesLogBuffer::slot(1).internalId, "id-1");

    // A stored log frees its slot, which the next log takes; after that the oldest is chosen by
    // time, not by position.
    crashes->channelDidCompleteEnqueueingLog(nullptr, nullptr, "id-5");
    EXPECT_TRUE(ZIVOCrashesLogBuffer::slot(5).buffer.empty());
    EXPECT_TRUE(ZIVOCrashesLogBuffer::slot(5).internalId.empty());
    EXPECT_EQ(ZIVOCrashesLogBuffer::slot(5).timestamp, 0);
    prepare(*crashes, startLog("sid-61"), "id-61");
    EXPECT_EQ(ZIVOCrashesLogBuffer::slot(5).internalId, "id-61");
    prepare(*crashes, startLog("sid-62"), "id-62");
    EXPECT_EQ(ZIVOCrashesLogBuffer::slot(1).internalId, "id-62");
    EXPECT_EQ(ZIVOCrashesLogBuffer::slot(0).internalId, "id-60");
    // An id that is in no slot, or none at all, frees nothing.
    crashes->channelDidCompleteEnqueueingLog(nullptr, nullptr, "id-1");
    crashes->channelDidCompleteEnqueueingLog(nullptr, nullptr, "");
    for (int i = 0; i < 60; ++i) EXPECT_FALSE(ZIVOCrashesLogBuffer::slot(i).buffer.empty()) << i;
}

// Through a real channel group: the slot is taken while the log is on its way and is free once
// the unit has stored it.
TEST_F(CrashesLogBufferTest, ALogThatReachesTheStoreLeavesTheBufferThroughTheChannelGroup) {
    LogCapture capture;
    auto crashes = makeService();
    auto reachability =
        ZIVO_Reachability::reachabilityWithFlagsSource([] { return ZIVO_Reachability::kFlagReachable; });
    // Nothing is sent: the clock never reaches a flush.
    auto ingestion = ZIVORurIdurevIngestion::create(ZIVOHttpClient::create(nullptr, reachability), "http://127.0.0.1:9",
                                                    "7B0F4F4E-2C43-4F4A-9A7D-6B1E2F3A4C5D");
    ingestion->setAppSecret(std::string("0d6a6b4e-3f1c-4a52-9c1e-7a2b5c8d9e01"));
    auto group = ZIVOChannelGroupDefault::create(ingestion);
    group->addDelegate(crashes);
    auto unit = group->addChannelUnitWithConfiguration(ZIVOChannelUnitConfiguration::defaultConfiguration("Test"));
    // The unit takes the group as its delegate on the channel queue.
    group->logsDispatchQueue()->sync([] {});
    unit->enqueueItem(startLog("sid-stored"), 1);
    clock.runUntilIdle();
    group->logsDispatchQueue()->sync([] {});
    EXPECT_TRUE(ZIVOCrashesLogBuffer::slot(0).buffer.empty());
    EXPECT_TRUE(ZIVOCrashesLogBuffer::slot(0).internalId.empty());
    EXPECT_TRUE(capture.contains("Storing a log to Crashes Buffer: (sid: sid-stored, type: startService)"));
    bool deleted = false;
    for (const auto& message : capture.messages(ZIVOLogLevelVerbose))
        deleted = deleted || message.rfind("Deleting a log from buffer with id ", 0) == 0;
    EXPECT_TRUE(deleted);
    EXPECT_EQ(group->storage()->countLogs(), 1u);
}

TEST_F(CrashesLogBufferTest, OnlyLogsWithoutTheirOwnWayBackAreBufferedWhileTheServiceIsEnabled) {
    LogCapture capture;
    auto crashes = makeService();
    prepare(*crashes, nullptr, "id-null");
    prepare(*crashes, std::make_shared<ZIVOAppleErrorLog>(), "id-crash");
    auto attachment = std::make_shared<ZIVOErrorAttachmentLog>();
    attachment->setData(foundation::Data{'h', 'i'});
    prepare(*crashes, attachment, "id-attachment");
    EXPECT_TRUE(ZIVOCrashesLogBuffer::slot(0).buffer.empty());

    auto handled = std::make_shared<ZIVOHandledErrorLog>();
    handled->setSid(std::string("sid-handled"));
    prepare(*crashes, handled, "id-handled");
    EXPECT_EQ(ZIVOCrashesLogBuffer::slot(0).internalId, "id-handled");
    EXPECT_TRUE(capture.contains("Storing a log to Crashes Buffer: (sid: sid-handled, type: handledError)"));
    EXPECT_TRUE(capture.contains("Found an empty buffer position."));

    ZIVORurIdurevUserDefaults::shared()->setObject(false, "CrashesIsEnabled");
    prepare(*crashes, startLog("sid-off"), "id-off");
    EXPECT_TRUE(ZIVOCrashesLogBuffer::slot(1).buffer.empty());
}

TEST_F(CrashesLogBufferTest, CrashTimeWriterWritesUsedSlotsTruncatesTheRestAndWritesTokensOnlyWhereThereAreSome) {
    auto crashes = makeService();
    prepare(*crashes, startLog("sid-a", std::string("token-a")), "id-a");
    prepare(*crashes, startLog("sid-b"), "id-b");
    prepare(*crashes, startLog("sid-c", std::string("token-c")), "id-c");
    prepare(*crashes, startLog("sid-d"), "id-d");
    crashes->channelDidCompleteEnqueueingLog(nullptr, startLog("sid-b"), "id-b");
    // Whatever an earlier crash left must not outlive this one.
    crashtest::writeFile(bufferFile(1), {'o', 'l', 'd'});
    crashtest::writeFile(bufferFile(59), {'o', 'l', 'd'});
    EXPECT_FALSE(ZIVOCrashesLogBuffer::crashTimeFlag());

    crashesPostCrashCallback(nullptr, nullptr, nullptr);

    EXPECT_TRUE(ZIVOCrashesLogBuffer::crashTimeFlag());
    for (int i : {0, 2, 3}) EXPECT_EQ(contents(bufferFile(i)), ZIVOCrashesLogBuffer::slot(i).buffer) << i;
    EXPECT_EQ(plistRootClassAndSid(bufferFile(0)), "ZIVOStartServiceLog sid-a");
    EXPECT_EQ(plistRootClassAndSid(bufferFile(2)), "ZIVOStartServiceLog sid-c");
    EXPECT_EQ(plistRootClassAndSid(bufferFile(3)), "ZIVOStartServiceLog sid-d");
    EXPECT_EQ(fs::file_size(bufferFile(1)), 0u) << "the slot of the stored log is written empty";
    for (int i = 4; i < 60; ++i) EXPECT_EQ(fs::file_size(bufferFile(i)), 0u) << i;
    EXPECT_EQ(decrypted(contents(tokenFile(0))), "token-a");
    EXPECT_EQ(decrypted(contents(tokenFile(2))), "token-c");
    for (int i = 0; i < 60; ++i) EXPECT_EQ(fs::exists(tokenFile(i)), i == 0 || i == 2) << i;

    // The process lived on: a log stored now must not come back at the next launch.
    LogCapture capture;
    crashes->channelDidCompleteEnqueueingLog(nullptr, startLog("sid-c"), "id-c");
    EXPECT_FALSE(fs::exists(bufferFile(2)));
    EXPECT_TRUE(fs::exists(bufferFile(3)));
    EXPECT_TRUE(ZIVOCrashesLogBuffer::slot(2).buffer.empty());
    EXPECT_TRUE(capture.contains("Deleted a log from Crashes Buffer (sid: sid-c, type: startService)"));
    EXPECT_TRUE(capture.contains("Deleted crash buffer file: " + bufferFile(2).string() + "."));
    // Slots keep working after the writer ran (the replaced records are kept, not freed).
    prepare(*crashes, startLog("sid-e"), "id-e");
    EXPECT_EQ(ZIVOCrashesLogBuffer::slot(1).internalId, "id-e");
}

// The crash-time writer takes no lock, and a thread it could not stop may still be logging: the
// writer must only ever see whole records (the sanitizer builds report a torn or freed one).
TEST_F(CrashesLogBufferTest, CrashTimeWriterRacingALoggingThreadWritesOnlyWholeLogs) {
    auto crashes = makeService();
    ZIVOLogger::setCurrentLogLevel(ZIVOLogLevelNone);
    std::atomic<bool> stop{false};
    std::thread logging([&] {
        for (int n = 0; !stop.load() || n < 100; ++n) {
            crashes->channelDidPrepareLog(nullptr, startLog("sid-" + std::to_string(n)), "id-" + std::to_string(n), 1);
            crashes->channelDidCompleteEnqueueingLog(nullptr, nullptr, "id-" + std::to_string(n - 30));
        }
    });
    for (int i = 0; i < 100; ++i) crashesPostCrashCallback(nullptr, nullptr, nullptr);
    stop = true;
    logging.join();
    crashesPostCrashCallback(nullptr, nullptr, nullptr);
    int written = 0;
    for (int i = 0; i < 60; ++i) {
        const std::string bytes = contents(bufferFile(i));
        if (bytes.empty()) continue;
        ++written;
        EXPECT_TRUE(ZIVOUtility::unarchiveKeyedObject<ZIVOAbstractLog>(foundation::Data(bytes.begin(), bytes.end())))
            << i;
    }
    EXPECT_EQ(written, 30);
}

TEST_F(CrashesLogBufferTest, NextLaunchReEnqueuesEachWrittenLogOnItsOwnUnitAndEmptiesTheFiles) {
    {
        auto crashes = makeService();
        prepare(*crashes, startLog("sid-a", std::string("token-a")), "id-a");
        prepare(*crashes, startLog("sid-b"), "id-b");
        crashesPostCrashCallback(nullptr, nullptr, nullptr);
    }
    const auto writtenA = contents(bufferFile(0));
    // A file that does not decode, a token nobody can decrypt, and a file that is not the buffer's.
    crashtest::writeFile(bufferFile(7), {'n', 'o', 't', ' ', 'a', 'n', ' ', 'a', 'r', 'c', 'h', 'i', 'v', 'e'});
    crashtest::writeFile(tokenFile(7), {'s', 't', 'a', 'y', 's'});
    crashtest::writeFile(tokenFile(1), {'g', 'a', 'r', 'b', 'l', 'e', 'd'});
    crashtest::writeFile(bufferDir() / "notes.txt", {'x'});

    LogCapture capture;
    auto crashes = nextLaunch();
    // Set-up never overwrites what the crash wrote.
    EXPECT_EQ(contents(bufferFile(0)), writtenA);
    // (Called here as start calls it, without start's enabling of the crash reporter, which a
    // process allows only once.)
    auto group = std::make_shared<RecordingGroupPerId>();
    crashes->logBuffer().processLogBufferAfterCrash(*group);

    ASSERT_EQ(group->configurations.size(), 1u);
    const auto& config = group->configurations[0];
    EXPECT_EQ(config.groupId, "CrashesBuffer");
    EXPECT_EQ(config.priority, 2);
    EXPECT_EQ(config.flushInterval, 1);
    EXPECT_EQ(config.batchSizeLimit, 50u);
    EXPECT_EQ(config.pendingBatchesLimit, 1u);
    EXPECT_EQ(crashes->logBuffer().bufferChannelUnit(), group->units["CrashesBuffer"]);
    auto& items = group->units["CrashesBuffer"]->items;
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].second, 1u);
    EXPECT_EQ(items[1].second, 1u);
    EXPECT_EQ(items[0].first->sid(), "sid-a");
    EXPECT_EQ(items[0].first->transmissionTargetTokens(), (std::set<std::string>{"token-a"}));
    EXPECT_EQ(items[1].first->sid(), "sid-b");
    EXPECT_FALSE(items[1].first->transmissionTargetTokens().has_value() &&
                 !items[1].first->transmissionTargetTokens()->empty());
    // The logs keep the time they had when first prepared.
    EXPECT_EQ(items[0].first->timestamp()->secondsSince1970, 1'700'000'000.0);

    for (int i = 0; i < 60; ++i) EXPECT_EQ(fs::file_size(bufferFile(i)) == 0, i != 7) << i;
    EXPECT_FALSE(fs::exists(tokenFile(0)));
    EXPECT_FALSE(fs::exists(tokenFile(1)));
    EXPECT_EQ(contents(bufferFile(7)), "not an archive");
    EXPECT_TRUE(fs::exists(tokenFile(7)));
    EXPECT_EQ(contents(bufferDir() / "notes.txt"), "x");
    EXPECT_TRUE(capture.contains("Failed to decrypt the target token."));
    bool sawDeserialization = false;
    for (const auto& line : capture.lines())
        if (line.message == "Deserialization failed for log: The log deserialized to NULL.") {
            sawDeserialization = true;
            EXPECT_EQ(line.tag, "RurIdurev");
        }
    EXPECT_TRUE(sawDeserialization);

    // The undecodable file stays for the next launch, which reads the same and adds nothing.
    auto again = std::make_shared<RecordingGroupPerId>();
    nextLaunch()->logBuffer().processLogBufferAfterCrash(*again);
    EXPECT_TRUE(again->units["CrashesBuffer"]->items.empty());
    EXPECT_EQ(contents(bufferFile(7)), "not an archive");
}

TEST_F(CrashesLogBufferTest, DisablingEmptiesTheFilesButKeepsSlotsAndTokens) {
    auto crashes = makeService();
    prepare(*crashes, startLog("sid-a"), "id-a");
    crashtest::writeFile(bufferFile(0), {'a', 'b'});
    crashtest::writeFile(bufferFile(42), {'c'});
    crashtest::writeFile(tokenFile(42), {'t'});
    crashes->applyEnabledState(false);
    for (int i = 0; i < 60; ++i) EXPECT_EQ(fs::file_size(bufferFile(i)), 0u) << i;
    EXPECT_EQ(contents(tokenFile(42)), "t");
    EXPECT_EQ(ZIVOCrashesLogBuffer::slot(0).internalId, "id-a");
    EXPECT_FALSE(ZIVOCrashesLogBuffer::slot(0).buffer.empty());

    LogCapture capture;
    fs::remove_all(bufferDir());
    crashes->logBuffer().emptyLogBufferFiles();
    EXPECT_TRUE(capture.contains("Couldn't get files in the directory \"crasheslogbuffer\""));
}

// The whole way: a child process buffers two logs, really crashes under the installed reporter,
// and this process, as the next launch over the same directory, sends them again.
TEST_F(CrashesLogBufferTest, LogsOfAChildThatCrashedComeBackAtTheNextLaunch) {
    HX_REQUIRE_FRESH_PROCESS();
#if defined(HX_SANITIZER_THREAD)
    // The child starts the reporter's threads, which the thread sanitizer refuses in a child
    // forked from a process with threads (it ends the child instead).
    GTEST_SKIP() << "the thread sanitizer starts no thread in a child forked from a process with threads";
#endif
    auto crashes = makeService();
    prepare(*crashes, startLog("sid-a", std::string("token-a")), "id-a");
    prepare(*crashes, startLog("sid-b"), "id-b");
    ZIVOLogger::flush();
    pid_t pid = fork();
    if (pid == 0) {
        alarm(20);  // a child stuck on a lock taken at fork time dies instead of hanging the test
        hxtest::restoreDefaultFaultActions();
        crashes->configureCrashReporterWithUncaughtExceptionHandlerEnabled(true);
        auto reporter = crashes->crashReporter();
        if (!reporter || !reporter->isEnabled()) _exit(3);
        hxtest::nullWrite();
        _exit(4);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status)) << "exit " << WEXITSTATUS(status);
    EXPECT_EQ(WTERMSIG(status), SIGSEGV);
    EXPECT_GT(fs::file_size(bufferFile(0)), 0u);
    EXPECT_GT(fs::file_size(bufferFile(1)), 0u);
    EXPECT_EQ(fs::file_size(bufferFile(2)), 0u);
    EXPECT_TRUE(fs::exists(tokenFile(0)));
    EXPECT_FALSE(fs::exists(tokenFile(1)));
    EXPECT_FALSE(ZIVOCrashesLogBuffer::crashTimeFlag()) << "the flag belonged to the child";

    auto group = std::make_shared<RecordingGroupPerId>();
    nextLaunch()->logBuffer().processLogBufferAfterCrash(*group);
    auto& items = group->units["CrashesBuffer"]->items;
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].first->sid(), "sid-a");
    EXPECT_EQ(items[0].first->transmissionTargetTokens(), (std::set<std::string>{"token-a"}));
    EXPECT_EQ(items[0].second, 1u);
    EXPECT_EQ(items[1].first->sid(), "sid-b");
    EXPECT_EQ(items[1].second, 1u);
    for (int i = 0; i < 60; ++i) EXPECT_EQ(fs::file_size(bufferFile(i)), 0u) << i;
    EXPECT_FALSE(fs::exists(tokenFile(0)));
}
