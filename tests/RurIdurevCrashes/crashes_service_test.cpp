#include <csignal>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include "RurIdurev/RurIdurev/Internals/Util/rur_idurev_user_defaults.h"
#include "RurIdurev/RurIdurev/Internals/Util/utility.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Internals/Util/error_log_formatter.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Internals/crash_files.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Internals/crashes_util.h"
#include "RurIdurevCrashes/RurIdurevCrashes/crashes.h"
#include "crashreporter/crash_report.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/application.h"
#include "tests/RurIdurev/telemetry/log_capture.h"
#include "tests/RurIdurev/telemetry/telemetry_environment.h"
#include "tests/RurIdurevCrashes/crashes_service_fixture.h"
#include "tests/crashreporter/report_test_support.h"

namespace fs = std::filesystem;

using namespace crashestest;

namespace {

class RejectingDelegate : public ZIVOCrashesDelegate {
public:
    bool respondsToShouldProcessErrorReport() const override { return true; }
    bool crashesShouldProcessErrorReport(ZIVOCrashes&, const std::shared_ptr<ZIVOErrorReport>& report) override {
        asked.push_back(report->incidentIdentifier().value_or(""));
        return false;
    }
    std::vector<std::string> asked;
};

class AttachingDelegate : public ZIVOCrashesDelegate {
public:
    bool respondsToAttachmentsWithCrashes() const override { return true; }
    std::vector<std::shared_ptr<ZIVOErrorAttachmentLog>>
    attachmentsWithCrashes(ZIVOCrashes&, const std::shared_ptr<ZIVOErrorReport>&) override {
        auto text = std::make_shared<ZIVOErrorAttachmentLog>();
        text->setAttachmentId(std::string("att-1"));
        text->setContentType(std::string("text/plain"));
        text->setData(foundation::Data{'h', 'i'});
        auto huge = std::make_shared<ZIVOErrorAttachmentLog>();
        huge->setAttachmentId(std::string("att-2"));
        huge->setContentType(std::string("application/octet-stream"));
        huge->setFilename(std::string("big.bin"));
        huge->setData(foundation::Data(ZIVOCrashes::kMaxAttachmentSize + 1, 0));
        auto incomplete = std::make_shared<ZIVOErrorAttachmentLog>();
        incomplete->setAttachmentId(std::string("att-3"));
        return {text, nullptr, huge, incomplete};
    }
};

}  // namespace

TEST_F(CrashesServiceTest, ConstructionNamesTheServiceAndMakesItsDirectories) {
    auto crashes = makeService();
    EXPECT_EQ(crashes, ZIVOCrashes::sharedInstance());
    EXPECT_EQ(crashes->groupId(), "Crashes");
    EXPECT_EQ(crashes->serviceName(), "Crashes");
    EXPECT_EQ(crashes->logTag(), "RurIdurevCrashes");
    EXPECT_EQ(crashes->initializationPriority(), 999);
    auto config = crashes->channelUnitConfiguration();
    ASSERT_TRUE(config);
    EXPECT_EQ(config->groupId, "Crashes");
    EXPECT_EQ(config->priority, 2);
    EXPECT_EQ(config->flushInterval, 1);
    EXPECT_EQ(config->batchSizeLimit, 1u);
    EXPECT_EQ(config->pendingBatchesLimit, 3u);
    EXPECT_EQ(crashes->analyzerInProgressFilePathComponent(), "crashes/ZVCrashes.analyzer");
    EXPECT_TRUE(fs::is_directory(crashesDir()));
    EXPECT_TRUE(fs::is_directory(ZIVOUtility::rurIdurevDirectoryURL() / "crasheslogbuffer"));
    EXPECT_TRUE(crashes->isMachExceptionHandlerEnabled() == false);
    EXPECT_TRUE(crashes->automaticProcessingEnabled());
    EXPECT_FALSE(ZIVOCrashes::hasCrashedInLastSession());

    ZIVOCrashes::resetSharedInstance();
    auto fresh = ZIVOCrashes::sharedInstance();
    EXPECT_NE(fresh.get(), crashes.get());
    EXPECT_TRUE(fresh->isMachExceptionHandlerEnabled()) << "a new object starts with the defaults";
}

TEST_F(CrashesServiceTest, EnablingWithoutPendingReportConfiguresTheReporterOnce) {
    HX_REQUIRE_FRESH_PROCESS();
    LogCapture capture;
    auto crashes = makeService();
    crashes->applyEnabledState(true);
    auto reporter = crashes->crashReporter();
    ASSERT_TRUE(reporter);
    EXPECT_TRUE(reporter->isEnabled());
    EXPECT_FALSE(ZIVOCrashes::hasCrashedInLastSession());
    EXPECT_TRUE(crashes->crashFiles().empty());
    crashes->configureCrashReporterWithUncaughtExceptionHandlerEnabled(true);
    EXPECT_EQ(crashes->crashReporter(), reporter);
    ZIVOLogger::flush();
    EXPECT_TRUE(capture.contains("Already configured ZVCrashReporter."));
    EXPECT_TRUE(capture.contains("Crashes service has been enabled."));
}

TEST_F(CrashesServiceTest, PendingReportBecomesAStoredCrashAndAnUnprocessedLog) {
    HX_REQUIRE_FRESH_PROCESS();
    auto bytes = reportBytes("0123456789abcdef");
    writePending(bytes);
    auto crashes = makeService();
    crashes->applyEnabledState(true);
    EXPECT_TRUE(ZIVOCrashes::hasCrashedInLastSession());
    auto last = ZIVOCrashes::lastSessionCrashReport();
    ASSERT_TRUE(last);
    EXPECT_EQ(last->incidentIdentifier(), "30313233-3435-3637-3839-616263646566");
    EXPECT_FALSE(crashes->crashReporter()->hasPendingCrashReport());
    auto files = crashes->crashFiles();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(crashtest::readFile(files[0]), bytes);
    EXPECT_FALSE(fs::exists(crashesDir() / "ZVCrashes.analyzer"));

    // Side files, empty files and unparsable reports are not offered.
    storeFile("1.plist", bytes);
    storeFile("2", {});
    storeFile("3", {1, 2, 3});
    crashes->setCrashFiles(ZIVOCrashFiles::persistedCrashReports());
    // The application asks its user: the crashes wait in the lists.
    int asked = 0;
    ZIVOCrashes::setUserConfirmationHandler([&](const std::vector<std::shared_ptr<ZIVOErrorReport>>& reports) {
        asked += static_cast<int>(reports.size());
        return true;
    });
    crashes->processCrashReports();
    EXPECT_EQ(asked, 1);
    auto logs = crashes->unprocessedLogs();
    auto reports = crashes->unprocessedReports();
    auto paths = crashes->unprocessedFilePaths();
    ASSERT_EQ(logs.size(), 1u);
    ASSERT_EQ(reports.size(), 1u);
    ASSERT_EQ(paths.size(), 1u);
    EXPECT_EQ(paths[0], files[0]);
    EXPECT_EQ(reports[0]->incidentIdentifier(), last->incidentIdentifier());
    EXPECT_EQ(logs[0]->errorId(), reports[0]->incidentIdentifier());
}

TEST_F(CrashesServiceTest, ReportsTheDelegateRejectsAreDeletedOthersKeptParallel) {
    HX_REQUIRE_FRESH_PROCESS();
    storeFile("700000001", reportBytes("aaaaaaaaaaaaaaaa"));
    storeFile("700000002", reportBytes("bbbbbbbbbbbbbbbb"));
    auto crashes = makeService();
    crashes->applyEnabledState(true);
    ASSERT_EQ(crashes->crashFiles().size(), 2u);

    auto rejecting = std::make_shared<RejectingDelegate>();
    ZIVOCrashes::setDelegate(rejecting);
    crashes->processCrashReports();
    EXPECT_EQ(rejecting->asked.size(), 2u);
    EXPECT_TRUE(crashes->unprocessedReports().empty());
    EXPECT_TRUE(crashes->crashFiles().empty());
    EXPECT_TRUE(ZIVOCrashFiles::persistedCrashReports().empty());

    // With automatic processing off the delegate is not asked and both wait.
    storeFile("700000003", reportBytes("cccccccccccccccc"));
    storeFile("700000004", reportBytes("dddddddddddddddd"));
    crashes->setCrashFiles(ZIVOCrashFiles::persistedCrashReports());
    crashes->setAutomaticProcessingEnabled(false);
    rejecting->asked.clear();
    crashes->processCrashReports();
    EXPECT_TRUE(rejecting->asked.empty());
    auto reports = crashes->unprocessedReports();
    auto paths = crashes->unprocessedFilePaths();
    ASSERT_EQ(reports.size(), 2u);
    ASSERT_EQ(paths.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        auto parsed = ZVCrashReport::initWithData(crashtest::readFile(paths[i]));
        ASSERT_TRUE(parsed.ok());
        auto fromFile = ZIVOErrorLogFormatter::errorReportFromCrashReport(parsed.value().get());
        EXPECT_EQ(reports[i]->incidentIdentifier(), fromFile->incidentIdentifier()) << "lists stay parallel";
    }
}

TEST_F(CrashesServiceTest, DisablingDeletesStoredCrashesAndPendingReport) {
    HX_REQUIRE_FRESH_PROCESS();
    storeFile("700000001", reportBytes("aaaaaaaaaaaaaaaa"));
    auto crashes = makeService();
    crashes->applyEnabledState(true);
    ZIVOCrashes::setUserConfirmationHandler([](const auto&) { return true; });
    crashes->processCrashReports();
    ASSERT_EQ(crashes->unprocessedReports().size(), 1u);
    writePending(reportBytes("bbbbbbbbbbbbbbbb"));
    ZIVORurIdurevUserDefaults::shared()->setObject(true, "AppDidReceiveMemoryWarning");

    crashes->setEnabled(false);
    EXPECT_FALSE(fs::exists(crashesDir()));
    EXPECT_TRUE(crashes->crashFiles().empty());
    EXPECT_TRUE(crashes->unprocessedReports().empty());
    EXPECT_TRUE(crashes->unprocessedLogs().empty());
    EXPECT_FALSE(probe->hasPendingCrashReport());
    EXPECT_TRUE(ZIVORurIdurevUserDefaults::shared()->objectForKey("AppDidReceiveMemoryWarning").isNull());

    // Processing while disabled discards whatever is stored.
    storeFile("700000005", reportBytes("eeeeeeeeeeeeeeee"));
    crashes->setCrashFiles(ZIVOCrashFiles::persistedCrashReports());
    crashes->processCrashReports();
    EXPECT_TRUE(crashes->unprocessedReports().empty());
    EXPECT_FALSE(fs::exists(crashesDir() / "700000005"));
}

TEST_F(CrashesServiceTest, SwitchingOnFromOffNeverReportsACrashOfTheOffTime) {
    HX_REQUIRE_FRESH_PROCESS();
    auto crashes = makeService();
    crashes->setEnabled(false);
    writePending(reportBytes("0123456789abcdef"));
    crashes->setEnabled(true);
    EXPECT_FALSE(ZIVOCrashes::hasCrashedInLastSession());
    EXPECT_FALSE(probe->hasPendingCrashReport());
    EXPECT_TRUE(ZIVOCrashFiles::persistedCrashReports().empty());
}

TEST_F(CrashesServiceTest, StartingSendsStoredCrashesWithTheirAttachments) {
    HX_REQUIRE_FRESH_PROCESS();
    LogCapture capture;
    storeFile("700000001", reportBytes("aaaaaaaaaaaaaaaa"));
    auto crashes = makeService();
    auto attaching = std::make_shared<AttachingDelegate>();
    ZIVOCrashes::setDelegate(attaching);
    auto group = std::make_shared<RecordingGroup>();
    crashes->startWithChannelGroup(group, std::string("secret"), std::nullopt, true);
    EXPECT_EQ(group->groupIds, (std::vector<std::string>{"Crashes", "CrashesBuffer"}));
    ASSERT_EQ(group->delegates.size(), 1u) << "the service watches its logs through any group";
    EXPECT_EQ(group->delegates[0], static_cast<ZIVOChannelDelegate*>(crashes.get()));
    ASSERT_EQ(crashes->crashFiles().size(), 1u);
    crashes->processCrashReports();

    ASSERT_EQ(group->unit->items.size(), 2u) << "the crash log and the one valid attachment";
    auto log = std::dynamic_pointer_cast<ZIVOAppleErrorLog>(group->unit->items[0].first);
    ASSERT_TRUE(log);
    EXPECT_EQ(group->unit->items[0].second, 2u);
    auto attachment = std::dynamic_pointer_cast<ZIVOErrorAttachmentLog>(group->unit->items[1].first);
    ASSERT_TRUE(attachment);
    EXPECT_EQ(group->unit->items[1].second, 1u);
    EXPECT_EQ(attachment->attachmentId(), "att-1");
    EXPECT_EQ(attachment->errorId(), log->errorId());
    EXPECT_EQ(attachment->device(), log->device()) << "an attachment without device gets the crash's device";
    EXPECT_TRUE(ZIVOCrashFiles::persistedCrashReports().empty()) << "a sent crash's file is deleted";
    EXPECT_TRUE(crashes->unprocessedReports().empty());
    ZIVOLogger::flush();
    EXPECT_TRUE(
        capture.contains("Discarding attachment with size above 7340032 bytes: size=7340033, fileName=big.bin."));
    EXPECT_TRUE(capture.contains("Not all required fields are present in ZIVOErrorAttachmentLog."));
}

TEST_F(CrashesServiceTest, AStoredCrashIsDeletedOnlyOnceItsLogIsSaved) {
    HX_REQUIRE_FRESH_PROCESS();
    for (const bool saved : {false, true}) {
        SCOPED_TRACE(saved ? "saved" : "not saved");
        storeFile("700000001", reportBytes("aaaaaaaaaaaaaaaa"));
        auto crashes = makeService();
        auto group = std::make_shared<RecordingGroup>();
        group->unit->holdSaves = true;
        crashes->startWithChannelGroup(group, std::string("secret"), std::nullopt, true);
        crashes->processCrashReports();
        ASSERT_EQ(group->unit->items.size(), 1u);
        EXPECT_EQ(ZIVOCrashFiles::persistedCrashReports().size(), 1u) << "enqueued, not yet saved: the file stays";
        group->unit->answerSaves(saved);
        EXPECT_EQ(ZIVOCrashFiles::persistedCrashReports().size(), saved ? 0u : 1u);
        ZIVOCrashes::resetSharedInstance();
    }
}

TEST_F(CrashesServiceTest, AProcessKilledBetweenEnqueueAndSaveKeepsTheCrashForTheNextLaunch) {
    HX_REQUIRE_FRESH_PROCESS();
    storeFile("700000001", reportBytes("aaaaaaaaaaaaaaaa"));
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        alarm(20);  // never outlive a stuck child
        auto crashes = makeService();
        auto group = std::make_shared<RecordingGroup>();
        group->unit->holdSaves = true;  // the save is still queued...
        crashes->startWithChannelGroup(group, std::string("secret"), std::nullopt, true);
        crashes->processCrashReports();
        if (group->unit->items.size() != 1) _exit(3);
        ::kill(getpid(), SIGKILL);  // ...when the process dies
        _exit(4);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status);
    EXPECT_EQ(WTERMSIG(status), SIGKILL);
    // The next launch finds the crash and sends it.
    ASSERT_EQ(ZIVOCrashFiles::persistedCrashReports().size(), 1u);
    auto crashes = makeService();
    auto group = std::make_shared<RecordingGroup>();
    crashes->startWithChannelGroup(group, std::string("secret"), std::nullopt, true);
    crashes->processCrashReports();
    EXPECT_EQ(group->unit->items.size(), 1u);
    EXPECT_TRUE(ZIVOCrashFiles::persistedCrashReports().empty());
}

TEST_F(CrashesServiceTest, UserAnswersDropSendOrAlwaysSend) {
    HX_REQUIRE_FRESH_PROCESS();
    LogCapture capture;
    auto crashes = makeService();
    crashes->notifyWithUserConfirmation(ZIVOUserConfirmationSend);
    ZIVOLogger::flush();
    EXPECT_TRUE(capture.contains("Incorrect usage of notifyWithUserConfirmation: it should only be called from "
                                 "userConfirmationHandler. For more information refer to the documentation."));

    auto group = std::make_shared<RecordingGroup>();
    crashes->startWithChannelGroup(group, std::string("secret"), std::nullopt, true);
    int asked = 0;
    ZIVOCrashes::setUserConfirmationHandler([&](const auto&) {
        ++asked;
        return true;
    });
    for (const char* name : {"700000001", "700000002", "700000003"})
        storeFile(name, reportBytes(std::string(16, name[8])));
    crashes->setCrashFiles(ZIVOCrashFiles::persistedCrashReports());
    crashes->processCrashReports();
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(crashes->unprocessedReports().size(), 3u);
    ZIVOCrashes::classNotifyWithUserConfirmation(ZIVOUserConfirmationDontSend);
    EXPECT_TRUE(group->unit->items.empty());
    EXPECT_TRUE(ZIVOCrashFiles::persistedCrashReports().empty());
    EXPECT_TRUE(crashes->crashFiles().empty());

    storeFile("700000004", reportBytes("dddddddddddddddd"));
    crashes->setCrashFiles(ZIVOCrashFiles::persistedCrashReports());
    crashes->processCrashReports();
    ZIVOCrashes::classNotifyWithUserConfirmation(ZIVOUserConfirmationAlways);
    EXPECT_EQ(group->unit->items.size(), 1u);
    EXPECT_TRUE(ZIVORurIdurevUserDefaults::shared()->objectForKey("CrashesUserConfirmation").boolValue());

    // After Always the handler is not asked again.
    storeFile("700000005", reportBytes("eeeeeeeeeeeeeeee"));
    crashes->setCrashFiles(ZIVOCrashFiles::persistedCrashReports());
    asked = 0;
    crashes->processCrashReports();
    EXPECT_EQ(asked, 0);
    EXPECT_EQ(group->unit->items.size(), 2u);
    ZIVOLogger::flush();
    EXPECT_TRUE(
        capture.contains("The flag for user confirmation is set to ZIVOUserConfirmationAlways, continue sending logs"));
}

TEST_F(CrashesServiceTest, DelayedProcessingRunsOnceASecondAfterEnablingAndNotInBackground) {
    HX_REQUIRE_FRESH_PROCESS();
    auto crashes = makeService();
    crashes->applyEnabledState(true);
    // Nothing stored: the semaphore was signalled, so asking does not block.
    EXPECT_TRUE(crashes->unprocessedCrashReports().empty());
    ZIVOCrashes::resetSharedInstance();

    storeFile("700000001", reportBytes("aaaaaaaaaaaaaaaa"));
    crashes = makeService();
    std::atomic<int> asked{0};
    ZIVOCrashes::setUserConfirmationHandler([&](const auto&) {
        ++asked;
        return true;
    });
    foundation::Application::shared().setApplicationState(foundation::ApplicationState::Background);
    crashes->applyEnabledState(true);
    clock.advance(1.5);
    clock.runUntilIdle();
    EXPECT_TRUE(crashes->unprocessedReports().empty()) << "not processed while in the background";

    foundation::Application::shared().setApplicationState(foundation::ApplicationState::Active);
    crashes->startDelayedCrashProcessing();
    crashes->startDelayedCrashProcessing();
    clock.advance(0.5);
    clock.runUntilIdle();
    EXPECT_TRUE(crashes->unprocessedReports().empty()) << "not before the second has passed";
    EXPECT_TRUE(clock.runUntil([&] { return crashes->unprocessedReports().size() == 1u; }, 2.0));
    clock.runUntilIdle();
    clock.advance(3);
    clock.runUntilIdle();
    EXPECT_EQ(crashes->unprocessedCrashReports().size(), 1u);
    EXPECT_EQ(asked.load(), 1) << "processed once although started three times";
}
