// The crashes service's smaller duties: the application observers, memory warnings across
// launches, handled errors, the send callbacks handed to the delegate, the wrapper SDK's filtered
// sending and set-up delegate, the answers to the confirmation, and the test crash.
#include <gtest/gtest.h>

#include <fstream>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "RurIdurev/RurIdurev/Internals/Context/UserId/user_id_context.h"
#include "RurIdurev/RurIdurev/Internals/Util/rur_idurev_user_defaults.h"
#include "RurIdurev/RurIdurev/sdk_state.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Internals/Model/handled_error_log.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Internals/Util/error_log_formatter.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Internals/crash_files.h"
#include "RurIdurevCrashes/RurIdurevCrashes/wrapper_crashes_helper.h"
#include "crashreporter/crash_report.h"
#include "platform/foundation/application.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/property_list.h"
#include "tests/RurIdurev/telemetry/log_capture.h"
#include "tests/RurIdurevCrashes/crashes_service_fixture.h"

using namespace crashestest;

namespace {

const std::string kMemoryWarning = "The application received a low memory warning in the last session.";

// The facade as a started, enabled SDK: what canBeUsed asks.
class StartedSdk : public ZIVOSdkState {
public:
    bool isSdkConfigured() override { return true; }
    bool isEnabled() override { return true; }
    bool isEnabledStateUpdating() override { return false; }
};

class CrashesOperationsTest : public CrashesServiceTest {
protected:
    void TearDown() override {
        ZIVOSdkState::setCurrent(nullptr);
        foundation::Application::shared().setApplicationState(foundation::ApplicationState::Active);
        CrashesServiceTest::TearDown();
    }
    // The service started on a recording group, as the facade starts it.
    std::shared_ptr<ZIVOCrashes> startService() {
        ZIVOSdkState::setCurrent(sdk);
        auto crashes = makeService();
        crashes->startWithChannelGroup(group, std::string("secret"), std::nullopt, true);
        return crashes;
    }
    // A fresh process's service over the same files.
    std::shared_ptr<ZIVOCrashes> relaunch() {
        ZIVOCrashes::resetSharedInstance();
        ZIVOCrashesUtil::resetDirectory();
        group = std::make_shared<RecordingGroup>();
        return startService();
    }
    void setInfo(foundation::Dictionary info) {
        ASSERT_TRUE(foundation::writePropertyListFile(info, dir / "resources/Info.plist").ok());
        foundation::Bundle::main().setResourcesDirectory(dir / "resources");
    }
    size_t count(LogCapture& capture, const std::string& message) {
        size_t n = 0;
        for (const auto& line : capture.lines()) n += line.message == message;
        return n;
    }
    std::shared_ptr<ZIVOAppleErrorLog> crashLog(const std::string& uuid) {
        auto parsed = ZVCrashReport::initWithData(reportBytes(uuid));
        EXPECT_TRUE(parsed.ok());
        return ZIVOErrorLogFormatter::errorLogFromCrashReport(*parsed.value());
    }

    std::shared_ptr<RecordingGroup> group = std::make_shared<RecordingGroup>();
    // The slot holds the state weakly, as the facade owns itself.
    std::shared_ptr<StartedSdk> sdk = std::make_shared<StartedSdk>();
};

// Records the send callbacks and the thread they arrive on.
class SendWatcher : public ZIVOCrashesDelegate {
public:
    bool respondsToWillSendErrorReport() const override { return true; }
    void crashesWillSendErrorReport(ZIVOCrashes&, const std::shared_ptr<ZIVOErrorReport>& r) override {
        record("will " + r->incidentIdentifier().value_or(""));
    }
    bool respondsToDidSucceedSendingErrorReport() const override { return true; }
    void crashesDidSucceedSendingErrorReport(ZIVOCrashes&, const std::shared_ptr<ZIVOErrorReport>& r) override {
        record("succeeded " + r->incidentIdentifier().value_or(""));
    }
    bool respondsToDidFailSendingErrorReport() const override { return true; }
    void crashesDidFailSendingErrorReport(ZIVOCrashes&, const std::shared_ptr<ZIVOErrorReport>& r,
                                          const std::optional<foundation::Error>& error) override {
        record("failed " + r->incidentIdentifier().value_or("") + " " + std::to_string(error ? error->code : -1));
    }
    void record(const std::string& event) {
        std::lock_guard guard(mutex);
        events.push_back(event);
        onMainThread = onMainThread && dispatch::isMainThread();
    }
    std::vector<std::string> snapshot() {
        std::lock_guard guard(mutex);
        return events;
    }
    std::mutex mutex;
    std::vector<std::string> events;
    bool onMainThread = true;
};

// The application's own delegate: attachments only.
class AttachmentsOnly : public ZIVOCrashesDelegate {
public:
    bool respondsToAttachmentsWithCrashes() const override { return true; }
};

class SetupRecorder : public ZIVOCrashHandlerSetupDelegate {
public:
    std::optional<bool> shouldEnableUncaughtExceptionHandler() override {
        calls.push_back("should");
        return false;
    }
    void willSetUpCrashHandlers() override {
        calls.push_back("will");
        installedBefore = kernel::getUncaughtExceptionHandler();
    }
    void didSetUpCrashHandlers() override { calls.push_back("did"); }
    std::vector<std::string> calls;
    kernel::UncaughtExceptionHandler installedBefore = nullptr;
};

}  // namespace

TEST_F(CrashesOperationsTest, MemoryWarningIsReportedByTheNextLaunchOnlyAndNotAfterDisabling) {
    HX_REQUIRE_FRESH_PROCESS();
    LogCapture capture;
    auto crashes = startService();
    // Enabling twice must not observe twice.
    crashes->applyEnabledState(true);
    foundation::NotificationCenter::defaultCenter().post(foundation::kApplicationDidReceiveMemoryWarningNotification);
    EXPECT_EQ(count(capture, kMemoryWarning), 1u);
    EXPECT_FALSE(ZIVOCrashes::hasReceivedMemoryWarningInLastSession()) << "this run's warning is the next run's news";

    capture.clear();
    crashes = relaunch();
    EXPECT_TRUE(ZIVOCrashes::hasReceivedMemoryWarningInLastSession());
    EXPECT_EQ(count(capture, kMemoryWarning), 1u);
    EXPECT_TRUE(ZIVORurIdurevUserDefaults::shared()->objectForKey("AppDidReceiveMemoryWarning").isNull());
    crashes = relaunch();
    EXPECT_FALSE(ZIVOCrashes::hasReceivedMemoryWarningInLastSession());

    // Disabled: the stored warning is gone and a later warning is no longer observed.
    foundation::NotificationCenter::defaultCenter().post(foundation::kApplicationDidReceiveMemoryWarningNotification);
    crashes->setEnabled(false);
    foundation::NotificationCenter::defaultCenter().post(foundation::kApplicationDidReceiveMemoryWarningNotification);
    EXPECT_TRUE(ZIVORurIdurevUserDefaults::shared()->objectForKey("AppDidReceiveMemoryWarning").isNull());
    EXPECT_FALSE(crashes->hasMemoryPressureSource()) << "an application, not an extension";
    crashes->setEnabled(true);
    crashes = relaunch();
    EXPECT_FALSE(ZIVOCrashes::hasReceivedMemoryWarningInLastSession());
}

TEST_F(CrashesOperationsTest, LaunchInTheBackgroundProcessesOnceASecondAfterComingToTheForeground) {
    HX_REQUIRE_FRESH_PROCESS();
    storeFile("700000001", reportBytes("aaaaaaaaaaaaaaaa"));
    foundation::Application::shared().setApplicationState(foundation::ApplicationState::Background);
    std::atomic<int> asked{0};
    std::atomic<bool> askedOnMain{false};
    ZIVOCrashes::setUserConfirmationHandler([&](const auto& reports) {
        asked += static_cast<int>(reports.size());
        askedOnMain = dispatch::isMainThread();
        return true;
    });
    auto crashes = startService();
    clock.advance(5);
    EXPECT_EQ(asked.load(), 0);

    foundation::Application::shared().setApplicationState(foundation::ApplicationState::Active);
    clock.advance(0.5);
    EXPECT_EQ(asked.load(), 0) << "not before the second has passed";
    clock.advance(1);
    EXPECT_EQ(asked.load(), 1);
    EXPECT_TRUE(askedOnMain) << "the application's handler runs on the main thread";
    // Coming back again processes nothing more.
    foundation::Application::shared().setApplicationState(foundation::ApplicationState::Background);
    foundation::Application::shared().setApplicationState(foundation::ApplicationState::Active);
    clock.advance(3);
    EXPECT_EQ(asked.load(), 1);
    EXPECT_EQ(crashes->unprocessedCrashReports().size(), 1u);
}

TEST_F(CrashesOperationsTest, HandledErrorsCarryTheirIdToAttachmentsAndKeepTwentyProperties) {
    HX_REQUIRE_FRESH_PROCESS();
    LogCapture capture;
    EXPECT_FALSE(ZIVOCrashes::trackError(foundation::Error{"HXConnect", 3, {}}, {}, {})) << "the SDK was not started";
    EXPECT_TRUE(capture.contains("Crashes service hasn't been started. You need to call [ZIVORurIdurev "
                                 "start:YOUR_APP_SECRET withServices:LIST_OF_SERVICES] first."));

    auto crashes = startService();
    ZIVOUserIdContext::sharedInstance()->setUserId(std::string("alice"));
    foundation::Dictionary properties;
    for (int i = 0; i < 25; ++i) properties.set("key" + std::to_string(i), std::string(130, 'v'));
    auto attachment = ZIVOErrorAttachmentLog::attachmentWithText("context", std::string("context.txt"));
    auto id = ZIVOCrashes::trackError(foundation::Error{"HXConnect", 3, {}}, properties, {attachment});
    ASSERT_TRUE(id);
    ASSERT_EQ(group->unit->items.size(), 2u);
    auto log = std::dynamic_pointer_cast<ZIVOHandledErrorLog>(group->unit->items[0].first);
    ASSERT_TRUE(log);
    EXPECT_EQ(group->unit->items[0].second, 1u);
    EXPECT_EQ(log->errorId(), *id);
    EXPECT_EQ(log->userId(), "alice");
    ASSERT_TRUE(log->exception());
    EXPECT_EQ(log->exception()->type(), "HXConnect");
    ASSERT_TRUE(log->properties());
    EXPECT_EQ(log->properties()->size(), 20u);
    for (const auto& [key, value] : *log->properties()) EXPECT_EQ(value.stringValue().size(), 125u);
    EXPECT_EQ(group->unit->items[1].first, attachment);
    EXPECT_EQ(attachment->errorId(), *id);
    EXPECT_NE(ZIVOCrashes::trackException(log->exception(), {}, {}), id) << "every error gets its own id";

    crashes->setEnabled(false);
    const size_t before = group->unit->items.size();
    EXPECT_FALSE(ZIVOCrashes::trackException(log->exception(), {}, {}));
    EXPECT_EQ(group->unit->items.size(), before);

    auto report = crashes->buildHandledErrorReportWithErrorID(*id);
    EXPECT_EQ(report->incidentIdentifier(), *id);
    EXPECT_EQ(report->appStartTime(), crashes->appStartTime());
    EXPECT_FALSE(report->signal());
    EXPECT_TRUE(report->device());
}

TEST_F(CrashesOperationsTest, SendCallbacksReachTheDelegateOnTheMainThreadForCrashLogsOnly) {
    HX_REQUIRE_FRESH_PROCESS();
    auto crashes = startService();
    auto watcher = std::make_shared<SendWatcher>();
    ZIVOCrashes::setDelegate(watcher);
    auto log = crashLog("aaaaaaaaaaaaaaaa");
    const std::string id = *log->errorId();
    auto attachment = ZIVOErrorAttachmentLog::attachmentWithText("x", std::string("x.txt"));
    std::thread channelQueue([&] {
        crashes->channelWillSendLog(nullptr, log);
        crashes->channelWillSendLog(nullptr, attachment);
        crashes->channelDidSucceedSendingLog(nullptr, log);
        crashes->channelDidFailSendingLog(nullptr, log,
                                          foundation::Error{"com.Dorazadav.RurIdurev.ErrorDomain", 3, {}});
        crashes->channelDidFailSendingLog(nullptr, std::make_shared<ZIVOHandledErrorLog>(), std::nullopt);
    });
    channelQueue.join();
    EXPECT_TRUE(watcher->snapshot().empty()) << "nothing before the main loop runs";
    clock.runUntilIdle();
    EXPECT_EQ(watcher->snapshot(), (std::vector<std::string>{"will " + id, "succeeded " + id, "failed " + id + " 3"}));
    EXPECT_TRUE(watcher->onMainThread);

    // The application's delegate implements attachments only: nothing to call, nothing breaks.
    auto plain = std::make_shared<AttachmentsOnly>();
    ZIVOCrashes::setDelegate(plain);
    crashes->channelWillSendLog(nullptr, log);
    crashes->channelDidSucceedSendingLog(nullptr, log);
    clock.runUntilIdle();
    EXPECT_EQ(watcher->snapshot().size(), 3u);
}

TEST_F(CrashesOperationsTest, WrapperFilterSendsTheChosenCrashesAndDeletesTheOthers) {
    HX_REQUIRE_FRESH_PROCESS();
    for (const char* name : {"700000001", "700000002", "700000003"})
        storeFile(name, reportBytes(std::string(16, name[8] == '1' ? 'a' : name[8] == '2' ? 'b' : 'c')));
    ZIVOWrapperCrashesHelper::setAutomaticProcessing(false);
    auto crashes = startService();
    clock.advance(2);
    auto reports = ZIVOWrapperCrashesHelper::unprocessedCrashReports();
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_TRUE(group->unit->items.empty()) << "without automatic processing nothing is sent by itself";
    const std::string keep = *reports[1]->incidentIdentifier();
    auto keptFile = crashes->unprocessedFilePaths()[1];

    EXPECT_FALSE(ZIVOWrapperCrashesHelper::sendCrashReportsOrAwaitUserConfirmationForFilteredIds({keep}));
    // Automatic processing is off and Always is not stored: the kept crash waits for an answer.
    EXPECT_TRUE(group->unit->items.empty());
    ASSERT_EQ(crashes->unprocessedReports().size(), 1u);
    EXPECT_EQ(crashes->unprocessedReports()[0]->incidentIdentifier(), keep);
    EXPECT_EQ(crashes->unprocessedFilePaths(), std::vector<fs::path>{keptFile});
    EXPECT_EQ(ZIVOCrashFiles::persistedCrashReports(), std::vector<fs::path>{keptFile});
    EXPECT_EQ(crashes->crashFiles(), std::vector<fs::path>{keptFile});

    crashes->notifyWithUserConfirmation(ZIVOUserConfirmationSend);
    ASSERT_EQ(group->unit->items.size(), 1u);
    auto sent = std::dynamic_pointer_cast<ZIVOAppleErrorLog>(group->unit->items[0].first);
    ASSERT_TRUE(sent);
    EXPECT_EQ(sent->errorId(), keep);
    EXPECT_TRUE(ZIVOCrashFiles::persistedCrashReports().empty());
}

TEST_F(CrashesOperationsTest, AnswersOutsideTheThreeActAsSendAndALateAlwaysIsStillStored) {
    HX_REQUIRE_FRESH_PROCESS();
    storeFile("700000001", reportBytes("aaaaaaaaaaaaaaaa"));
    auto crashes = startService();
    ZIVOCrashes::setUserConfirmationHandler([](const auto&) { return true; });
    crashes->processCrashReports();
    crashes->notifyWithUserConfirmation(5);
    EXPECT_EQ(group->unit->items.size(), 1u);
    EXPECT_FALSE(crashes->shouldAlwaysSend());

    // A handler answering NO means "send without asking"; later answers find nothing to do.
    storeFile("700000002", reportBytes("bbbbbbbbbbbbbbbb"));
    crashes->setCrashFiles(ZIVOCrashFiles::persistedCrashReports());
    ZIVOCrashes::setUserConfirmationHandler([](const auto&) { return false; });
    crashes->processCrashReports();
    EXPECT_EQ(group->unit->items.size(), 2u);
    crashes->notifyWithUserConfirmation(ZIVOUserConfirmationDontSend);
    crashes->notifyWithUserConfirmation(ZIVOUserConfirmationSend);
    EXPECT_EQ(group->unit->items.size(), 2u);
    crashes->notifyWithUserConfirmation(ZIVOUserConfirmationAlways);
    EXPECT_TRUE(crashes->shouldAlwaysSend());
}

TEST_F(CrashesOperationsTest, SetupDelegateCanKeepTheUncaughtExceptionHandlerOut) {
    HX_REQUIRE_FRESH_PROCESS();
    LogCapture capture;
    auto setup = std::make_shared<SetupRecorder>();
    ZIVOWrapperCrashesHelper::setCrashHandlerSetupDelegate(setup);
    setInfo({{"CFBundleIdentifier", "com.hxconnect.test"}, {"RurIdurevApplicationForwarderEnabled", false}});
    kernel::setUncaughtExceptionHandler(nullptr);
    auto crashes = startService();
    ZIVOWrapperCrashesHelper::setCrashHandlerSetupDelegate({});
    EXPECT_EQ(setup->calls, (std::vector<std::string>{"should", "will", "did"}));
    EXPECT_EQ(setup->installedBefore, nullptr) << "asked before the reporter was configured";
    ASSERT_TRUE(crashes->crashReporter());
    EXPECT_FALSE(crashes->crashReporter()->config()->shouldRegisterUncaughtExceptionHandler());
    EXPECT_EQ(kernel::getUncaughtExceptionHandler(), nullptr);
    EXPECT_TRUE(capture.contains("EnableUncaughtExceptionHandler is set to NO, we're running in a Xamarin runtime."));
    EXPECT_TRUE(capture.contains("Exception handler could not be set. Make sure there is no other exception handler "
                                 "set up!"));
    EXPECT_TRUE(capture.contains(
        "Application forwarder for info.plist key 'RurIdurevApplicationForwarderEnabled' disabled. It won't use "
        "swizzling."));

    // Once configured, switching to Mach exceptions off changes nothing in this process.
    ZIVOCrashes::resetSharedInstance();
    auto fresh = ZIVOCrashes::sharedInstance();
    fresh->setCrashReporterBasePath(basePath);
    fresh->applyEnabledState(true);
    auto type = fresh->crashReporter()->config()->signalHandlerType();
    ZIVOCrashes::disableMachExceptionHandler();
    fresh->applyEnabledState(true);
    EXPECT_EQ(fresh->crashReporter()->config()->signalHandlerType(), type);
    EXPECT_EQ(type, static_cast<uint32_t>(ZVCrashSignalHandlerTypeMach));
}

TEST_F(CrashesOperationsTest, TestCrashOnlyWarnsInTheAppStoreAndOtherwiseIsCapturedAsATrap) {
    HX_REQUIRE_FRESH_PROCESS();
    LogCapture capture;
    ZIVOCrashes::generateTestCrash();                         // not started: nothing happens
    setInfo({{"CFBundleIdentifier", "com.hxconnect.test"}});  // no provisioning profile: the App Store
    auto crashes = startService();
    ZIVOCrashes::generateTestCrash();
    EXPECT_TRUE(
        capture.contains("GenerateTestCrash was just called in an App Store environment. The call will be ignored."));

    std::ofstream(dir / "resources/embedded.mobileprovision") << "profile";  // a development build
    int status = crashtest::runInChild([] {
        alarm(20);
        ZIVOCrashes::generateTestCrash();
        _exit(3);
    });
    ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status);
    ASSERT_TRUE(probe->hasPendingCrashReport());
    auto report = ZVCrashReport::initWithData(crashtest::readFile(probe->crashReportPath()));
    ASSERT_TRUE(report.ok());
#if defined(__x86_64__)
    EXPECT_EQ(report.value()->signalInfo().name, "SIGILL");
#else
    EXPECT_EQ(report.value()->signalInfo().name, "SIGTRAP");
#endif
    probe->purgePendingCrashReport();

    // An exception the application reports goes to the reporter's handler, which records it.
    status = crashtest::runInChild([] {
        alarm(20);
        ZIVOCrashes::applicationDidReportException({"HXStoreCorrupted", "the message store cannot be opened", {}});
        _exit(3);
    });
    ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status);
    report = ZVCrashReport::initWithData(crashtest::readFile(probe->crashReportPath()));
    ASSERT_TRUE(report.ok());
    ASSERT_TRUE(report.value()->exceptionInfo());
    EXPECT_EQ(report.value()->exceptionInfo()->exceptionName, "HXStoreCorrupted");
    EXPECT_EQ(report.value()->exceptionInfo()->exceptionReason, "the message store cannot be opened");
}

// An application extension has no memory-warning notification: the service watches memory
// pressure instead. The executable's path decides, so this test runs a copy of itself from
// inside an ".appex" folder.
TEST_F(CrashesOperationsTest, AnExtensionWatchesMemoryPressureWhileEnabled) {
    const fs::path appex = dir / "Widget.appex";
    fs::create_directories(appex);
    fs::copy_file(fs::read_symlink("/proc/self/exe"), appex / "widget");
    const std::string command = "HX_EXTENSION_CHILD=1 '" + (appex / "widget").string() +
                                "' --gtest_filter=CrashesOperationsTest.ExtensionChild 2>&1";
    std::string out;
    int status = hxtest::runCommand(command, &out);
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("[  PASSED  ] 1 test"), std::string::npos) << out;
    EXPECT_EQ(out.find("SKIPPED"), std::string::npos) << out;
}

TEST_F(CrashesOperationsTest, ExtensionChild) {
    if (!std::getenv("HX_EXTENSION_CHILD")) GTEST_SKIP() << "runs inside AnExtensionWatchesMemoryPressureWhileEnabled";
    auto defaults = ZIVORurIdurevUserDefaults::shared();
    auto crashes = startService();
    ASSERT_TRUE(crashes->hasMemoryPressureSource());
    foundation::NotificationCenter::defaultCenter().post(foundation::kApplicationDidReceiveMemoryWarningNotification);
    dispatch::MemoryPressureSource::fire(dispatch::MemoryPressure::Normal);
    clock.runUntilIdle();
    EXPECT_TRUE(defaults->objectForKey("AppDidReceiveMemoryWarning").isNull()) << "no notification, no normal level";
    dispatch::MemoryPressureSource::fire(dispatch::MemoryPressure::Critical);
    clock.runUntilIdle();
    EXPECT_TRUE(defaults->objectForKey("AppDidReceiveMemoryWarning").boolValue());

    crashes->setEnabled(false);
    EXPECT_FALSE(crashes->hasMemoryPressureSource());
    dispatch::MemoryPressureSource::fire(dispatch::MemoryPressure::Warning);
    clock.runUntilIdle();
    EXPECT_TRUE(defaults->objectForKey("AppDidReceiveMemoryWarning").isNull());
}
