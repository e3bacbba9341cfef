#include "RurIdurevCrashes/RurIdurevCrashes/crashes.h"

#include <algorithm>
#include <map>
#include <utility>

#include "RurIdurev/RurIdurev/Internals/Context/Device/device_tracker.h"
#include "RurIdurev/RurIdurev/Internals/Context/Session/session_context.h"
#include "RurIdurev/RurIdurev/Internals/Context/UserId/user_id_context.h"
#include "RurIdurev/RurIdurev/Internals/Util/dispatcher_util.h"
#include "RurIdurev/RurIdurev/Internals/Util/rur_idurev_user_defaults.h"
#include "RurIdurev/RurIdurev/Internals/Util/utility.h"
#include "RurIdurev/RurIdurev/logger.h"
#include "RurIdurev/RurIdurev/rur_idurev.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Internals/Model/handled_error_log.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Internals/Util/crashes_archiver_util.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Internals/Util/error_log_formatter.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Internals/application_forwarder.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Internals/crash_files.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Internals/crashes_log_tag.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Internals/crashes_util.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Internals/cxx_exception_callback.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Internals/wrapper_exception_manager.h"
#include "RurIdurevCrashes/RurIdurevCrashes/wrapper_crashes_helper.h"
#include "crashreporter/crash_report.h"
#include "platform/foundation/application.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/uuid.h"

namespace fs = std::filesystem;

namespace {

// Never destroyed, as every process-wide object of the SDK: its queues may still run while the
// static destructors run at exit.
struct Shared {
    foundation::Mutex mutex;
    std::shared_ptr<ZIVOCrashes> instance HX_GUARDED_BY(mutex);
};
Shared& shared() {
    static auto* s = new Shared;
    return *s;
}
// Delayed processing runs once per process; only resetting the shared instance allows another.
foundation::Mutex gDelayedMutex;
bool gDelayedProcessingRan HX_GUARDED_BY(gDelayedMutex) = false;

// The record handed to the reporter lives for the whole process: the reporter keeps its address.
const ZVCrashReporterCallbacks kCrashCallbacks{0, nullptr, &crashesPostCrashCallback};

std::optional<std::vector<uint8_t>> readWholeFile(const fs::path& url) {
    std::error_code ec;
    auto size = fs::file_size(url, ec);
    if (ec) return std::nullopt;
    std::vector<uint8_t> bytes(size);
    FILE* file = std::fopen(url.c_str(), "rb");
    if (!file) return std::nullopt;
    size_t read = size ? std::fread(bytes.data(), 1, size, file) : 0;
    std::fclose(file);
    bytes.resize(read);
    return bytes;
}

}  // namespace

std::shared_ptr<ZIVOCrashes> ZIVOCrashes::sharedInstance() {
    auto& s = shared();
    std::lock_guard guard(s.mutex);
    if (!s.instance) s.instance = std::make_shared<ZIVOCrashes>();
    return s.instance;
}

void ZIVOCrashes::resetSharedInstance() {
    auto& s = shared();
    std::lock_guard guard(s.mutex);
    s.instance.reset();
    std::lock_guard delayed(gDelayedMutex);
    gDelayedProcessingRan = false;
}

void ZIVOCrashes::setDelegate(std::weak_ptr<ZIVOCrashesDelegate> delegate) {
    auto crashes = sharedInstance();
    std::lock_guard guard(crashes->stateMutex_);
    crashes->delegate_ = std::move(delegate);
}

std::shared_ptr<ZIVOCrashesDelegate> ZIVOCrashes::delegate() { return sharedInstance()->currentDelegate(); }

std::shared_ptr<ZIVOCrashesDelegate> ZIVOCrashes::currentDelegate() {
    std::lock_guard guard(stateMutex_);
    return delegate_.lock();
}

bool ZIVOCrashes::hasCrashedInLastSession() { return sharedInstance()->didCrashInLastSession(); }

bool ZIVOCrashes::hasReceivedMemoryWarningInLastSession() {
    return sharedInstance()->didReceiveMemoryWarningInLastSession();
}

std::shared_ptr<ZIVOErrorReport> ZIVOCrashes::lastSessionCrashReport() {
    auto crashes = sharedInstance();
    std::lock_guard guard(crashes->stateMutex_);
    return crashes->lastSessionCrashReport_;
}

ZIVOCrashes::ZIVOCrashes() {
    ZIVORurIdurevUserDefaults::shared()->migrateKeys(
        {{"ZVRurIdurevCrashesIsEnabled", std::string("kZVCrashesIsEnabledKey")},
         {"ZVRurIdurevAppDidReceiveMemoryWarning", std::string("ZVAppDidReceiveMemoryWarning")},
         {"ZVRurIdurevCrashesUserConfirmation", std::string("ZVUserConfirmation")}},
        "Crashes");
    ZIVOCrashesArchiverUtil::addMigrationClasses();
    ZIVOCrashesArchiverUtil::addAllowedCrashesModuleClasses();
    appStartTime_ = foundation::Date{ZIVOUtility::nowInMilliseconds() / 1000.0};
    crashesPathComponent_ = ZIVOCrashesUtil::crashesDir();
    logBufferPathComponent_ = ZIVOCrashesUtil::logBufferDir();
    analyzerInProgressFilePathComponent_ = ZIVOCrashesUtil::crashesDir() + "/ZVCrashes.analyzer";
    channelUnitConfiguration_.groupId = "Crashes";
    channelUnitConfiguration_.priority = 2;
    channelUnitConfiguration_.flushInterval = 1;
    channelUnitConfiguration_.batchSizeLimit = 1;
    channelUnitConfiguration_.pendingBatchesLimit = 3;
    logBuffer_ = std::make_unique<ZIVOCrashesLogBuffer>(logBufferPathComponent_);
    logBuffer_->setupLogBuffer();
}

ZIVOCrashes::~ZIVOCrashes() {
    foundation::NotificationCenter::defaultCenter().removeObserver(this);
    if (memoryPressureSource_) memoryPressureSource_->cancel();
}

std::optional<ZIVOChannelUnitConfiguration> ZIVOCrashes::channelUnitConfiguration() const {
    return channelUnitConfiguration_;
}

void ZIVOCrashes::startWithChannelGroup(std::shared_ptr<ZIVOChannelGroupProtocol> channelGroup,
                                        std::optional<std::string> appSecret,
                                        std::optional<std::string> transmissionTargetToken, bool fromApplication) {
    ZIVOServiceAbstract::startWithChannelGroup(channelGroup, std::move(appSecret), std::move(transmissionTargetToken),
                                               fromApplication);
    if (channelGroup) channelGroup->addDelegate(shared_from_this());
    if (channelGroup) logBuffer_->processLogBufferAfterCrash(*channelGroup);
    processMemoryWarningInLastSession();
    ZIVOLogVerbose(kZIVOCrashesLogTag, std::string("Started crash service."));
}

void ZIVOCrashes::updateConfigurationWithAppSecret(std::optional<std::string> appSecret,
                                                   std::optional<std::string> transmissionTargetToken) {
    if (auto group = channelGroup()) logBuffer_->processLogBufferAfterCrash(*group);
    ZIVOServiceAbstract::updateConfigurationWithAppSecret(std::move(appSecret), std::move(transmissionTargetToken));
}

void ZIVOCrashes::channelDidPrepareLog(ZIVOChannel, const std::shared_ptr<ZIVOAbstractLog>& log,
                                       const std::string& internalId, uint32_t) {
    if (log) logBuffer_->channelDidPrepareLog(log, internalId, isEnabled());
}

void ZIVOCrashes::channelDidCompleteEnqueueingLog(ZIVOChannel, const std::shared_ptr<ZIVOAbstractLog>& log,
                                                  const std::string& internalId) {
    logBuffer_->channelDidCompleteEnqueueingLog(log, internalId);
}

void ZIVOCrashes::setCrashReporterBasePath(std::optional<std::string> basePath) {
    std::lock_guard guard(stateMutex_);
    reporterBasePath_ = std::move(basePath);
}

std::shared_ptr<ZVCrashReporter> ZIVOCrashes::crashReporter() {
    std::lock_guard guard(stateMutex_);
    return zvCrashReporter_;
}

void ZIVOCrashes::applyEnabledState(bool isEnabled) {
    ZIVOServiceAbstract::applyEnabledState(isEnabled);
    foundation::NotificationCenter::defaultCenter().removeObserver(this);
    if (isEnabled) {
        auto setupDelegate = ZIVOWrapperCrashesHelper::crashHandlerSetupDelegate();
        bool enableUncaughtExceptionHandler = true;
        if (setupDelegate) {
            if (auto answer = setupDelegate->shouldEnableUncaughtExceptionHandler())
                enableUncaughtExceptionHandler = *answer;
            setupDelegate->willSetUpCrashHandlers();
        }
        configureCrashReporterWithUncaughtExceptionHandlerEnabled(enableUncaughtExceptionHandler);
        if (setupDelegate) setupDelegate->didSetUpCrashHandlers();
        observeApplication();
        auto reporter = crashReporter();
        // A crash of the time when the service was off is never reported.
        if (reporter && !this->isEnabled()) reporter->purgePendingCrashReport();
        if (reporter && reporter->hasPendingCrashReport()) {
            didCrashInLastSession_ = true;
            ZIVOLogDebug(kZIVOCrashesLogTag, std::string("The application crashed in the last session."));
            auto report = ZIVOCrashFiles::handleLatestCrashReport(*reporter);
            {
                std::lock_guard guard(stateMutex_);
                lastSessionCrashReport_ = report;
            }
            if (report) ZIVOWrapperExceptionManager::correlateLastSavedWrapperExceptionToReport({report});
        }
        auto files = ZIVOCrashFiles::persistedCrashReports();
        setCrashFiles(files);
        if (!files.empty()) {
            startDelayedCrashProcessing();
        } else {
            delayedProcessingSemaphore_.signal();
            clearContextHistoryAndKeepCurrentSession();
        }
        if (ZIVORurIdurev::isDebuggerAttached())
            ZIVOLogInfo(kZIVOCrashesLogTag,
                        std::string("Crashes service has been enabled but the service cannot detect crashes due to "
                                    "running the application with a debugger attached."));
        else
            ZIVOLogInfo(kZIVOCrashesLogTag, std::string("Crashes service has been enabled."));
    } else {
        std::shared_ptr<dispatch::MemoryPressureSource> source;
        {
            std::lock_guard guard(stateMutex_);
            source = std::move(memoryPressureSource_);
        }
        if (source) source->cancel();
        ZIVOLogDebug(kZIVOCrashesLogTag, std::string("Cleaning up all crash files."));
        ZIVOWrapperExceptionManager::deleteAllWrapperExceptions();
        ZIVOCrashFiles::deleteAllFromCrashesDirectory();
        setCrashFiles({});
        logBuffer_->emptyLogBufferFiles();
        ZIVOCrashFiles::removeAnalyzerFile();
        if (auto reporter = crashReporter()) reporter->purgePendingCrashReport();
        clearUnprocessedReports();
        clearContextHistoryAndKeepCurrentSession();
        ZIVORurIdurevUserDefaults::shared()->removeObjectForKey("AppDidReceiveMemoryWarning");
        ZIVOLogInfo(kZIVOCrashesLogTag, std::string("Crashes service has been disabled."));
    }
}

void ZIVOCrashes::observeApplication() {
    auto& center = foundation::NotificationCenter::defaultCenter();
    std::weak_ptr<ZIVOCrashes> weak = weak_from_this();
    center.addObserver(this, foundation::kApplicationWillEnterForegroundNotification,
                       [weak](const foundation::Notification&) {
                           if (auto self = weak.lock()) self->applicationWillEnterForeground();
                       });
    // An application extension gets no memory-warning notification, only memory pressure.
    if (foundation::Bundle::executablePath().string().find(".appex/") != std::string::npos) {
        auto source = std::make_shared<dispatch::MemoryPressureSource>(
            dispatch::Queue::main(), [weak](dispatch::MemoryPressure level) {
                if (level == dispatch::MemoryPressure::Normal) return;
                if (auto self = weak.lock()) self->didReceiveMemoryWarning();
            });
        std::shared_ptr<dispatch::MemoryPressureSource> previous;
        {
            std::lock_guard guard(stateMutex_);
            previous = std::exchange(memoryPressureSource_, std::move(source));
        }
        // Enabling again must not leave an earlier source reporting twice.
        if (previous) previous->cancel();
    } else {
        center.addObserver(this, foundation::kApplicationDidReceiveMemoryWarningNotification,
                           [weak](const foundation::Notification&) {
                               if (auto self = weak.lock()) self->didReceiveMemoryWarning();
                           });
    }
}

bool ZIVOCrashes::hasMemoryPressureSource() {
    std::lock_guard guard(stateMutex_);
    return memoryPressureSource_ != nullptr;
}

void ZIVOCrashes::applicationWillEnterForeground() {
    if (!crashFiles().empty()) startDelayedCrashProcessing();
}

void ZIVOCrashes::clearContextHistoryAndKeepCurrentSession() {
    ZIVODeviceTracker::sharedInstance()->clearDevices();
    ZIVOSessionContext::sharedInstance()->clearSessionHistoryAndKeepCurrentSession(true);
    ZIVOUserIdContext::sharedInstance()->clearUserIdHistory();
}

void ZIVOCrashes::configureCrashReporterWithUncaughtExceptionHandlerEnabled(bool enable) {
    std::optional<std::string> basePath;
    {
        std::lock_guard guard(stateMutex_);
        if (zvCrashReporter_) {
            ZIVOLogDebug(kZIVOCrashesLogTag, std::string("Already configured ZVCrashReporter."));
            return;
        }
        basePath = reporterBasePath_;
    }
    if (enable)
        ZIVOLogDebug(kZIVOCrashesLogTag, std::string("EnableUncaughtExceptionHandler is set to YES"));
    else
        ZIVOLogDebug(kZIVOCrashesLogTag,
                     std::string("EnableUncaughtExceptionHandler is set to NO, we're running in a Xamarin runtime."));
    uint32_t type = ZVCrashSignalHandlerTypeBSD;
    if (isMachExceptionHandlerEnabled()) {
        type = ZVCrashSignalHandlerTypeMach;
        ZIVOLogVerbose(kZIVOCrashesLogTag, std::string("Enabled Mach exception handler."));
    }
    auto config = ZVCrashReporterConfig::initWithSignalHandlerType(type, 0, enable, basePath);
    // The reporter names the application after the main bundle: identifier and both versions, which
    // become the crash log's device fields.
    auto made = ZVCrashReporter::initWithConfiguration(config);
    if (!made.ok()) {
        std::string text = made.error().localizedDescription();
        ZIVOLogError(kZIVOCrashesLogTag, "Could not enable crash reporter: " + text);
        return;
    }
    auto reporter = made.value();
    {
        std::lock_guard guard(stateMutex_);
        zvCrashReporter_ = reporter;
    }
    ZIVOWrapperExceptionManager::setCrashReporter(reporter);
    if (ZIVORurIdurev::isDebuggerAttached()) {
        ZIVOLogWarning(
            kZIVOCrashesLogTag,
            std::string("Detecting crashes is NOT enabled due to running the app with a debugger attached."));
        return;
    }
    auto before = kernel::getUncaughtExceptionHandler();
    if (auto status = reporter->setCrashCallbacks(&kCrashCallbacks); !status.ok())
        ZIVOLogError(kZIVOCrashesLogTag, "Could not set the crash callbacks: " + status.error().localizedDescription());
    foundation::Error error;
    if (!reporter->enableCrashReporterAndReturnError(&error)) {
        std::string text = error.localizedDescription();
        ZIVOLogError(kZIVOCrashesLogTag, "Could not enable crash reporter: " + text);
    }
    auto after = kernel::getUncaughtExceptionHandler();
    if (after && after != before) {
        {
            std::lock_guard guard(stateMutex_);
            exceptionHandler_ = after;
        }
        ZIVOLogDebug(kZIVOCrashesLogTag, std::string("Exception handler successfully initialized."));
    } else if (after && !enable) {
        {
            std::lock_guard guard(stateMutex_);
            exceptionHandler_ = after;
        }
        ZIVOLogDebug(kZIVOCrashesLogTag,
                     std::string("Exception handler successfully initialized but it has not been registered due to "
                                 "the wrapper SDK."));
    } else {
        ZIVOLogError(kZIVOCrashesLogTag,
                     std::string("Exception handler could not be set. Make sure there is no other exception handler "
                                 "set up!"));
    }
    ZIVOCrashesUncaughtCXXExceptionHandlerManager::addCXXExceptionHandler(&zivoCrashesUncaughtCXXExceptionCallback);
    ZIVOApplicationForwarder::registerForwarding();
}

std::vector<fs::path> ZIVOCrashes::crashFiles() {
    std::lock_guard guard(stateMutex_);
    return crashFiles_;
}

void ZIVOCrashes::setCrashFiles(std::vector<fs::path> files) {
    std::lock_guard guard(stateMutex_);
    crashFiles_ = std::move(files);
}

std::vector<std::shared_ptr<ZIVOAppleErrorLog>> ZIVOCrashes::unprocessedLogs() {
    std::lock_guard guard(stateMutex_);
    return unprocessedLogs_;
}

std::vector<std::shared_ptr<ZIVOErrorReport>> ZIVOCrashes::unprocessedReports() {
    std::lock_guard guard(stateMutex_);
    return unprocessedReports_;
}

std::vector<fs::path> ZIVOCrashes::unprocessedFilePaths() {
    std::lock_guard guard(stateMutex_);
    return unprocessedFilePaths_;
}

void ZIVOCrashes::clearUnprocessedReports() {
    std::lock_guard guard(stateMutex_);
    unprocessedLogs_.clear();
    unprocessedReports_.clear();
    unprocessedFilePaths_.clear();
}

void ZIVOCrashes::startDelayedCrashProcessing() {
    auto self = shared_from_this();
    dispatch::Queue::global()->after(1.0, [self] {
        if (self->automaticProcessingEnabled() && ZIVOUtility::applicationState() == ZIVOApplicationStateBackground) {
            ZIVOLogWarning(kZIVOCrashesLogTag,
                           std::string("Crashes will not be processed because the application is in the background."));
            return;
        }
        {
            std::lock_guard guard(gDelayedMutex);
            if (gDelayedProcessingRan) return;
            gDelayedProcessingRan = true;
        }
        self->startCrashProcessing();
        self->delayedProcessingSemaphore_.signal();
    });
}

void ZIVOCrashes::startCrashProcessing() {
    ZIVOLogDebug(kZIVOCrashesLogTag, std::string("Start delayed CrashManager processing"));
    kernel::UncaughtExceptionHandler remembered;
    {
        std::lock_guard guard(stateMutex_);
        remembered = exceptionHandler_;
    }
    if (remembered && kernel::getUncaughtExceptionHandler() != remembered)
        ZIVOLogWarning(kZIVOCrashesLogTag,
                       std::string("Another exception handler was added. If this invokes any kind of exit() after "
                                   "processing the exception, which causes any subsequent error handler not to be "
                                   "invoked, these crashes will NOT be reported to Rur Idurev!"));
    processCrashReports();
}

std::vector<std::shared_ptr<ZIVOErrorReport>> ZIVOCrashes::unprocessedCrashReports() {
    delayedProcessingSemaphore_.wait();
    // Passed on at once so that every caller gets through.
    delayedProcessingSemaphore_.signal();
    return unprocessedReports();
}

bool ZIVOCrashes::shouldProcessErrorReport(const std::shared_ptr<ZIVOErrorReport>& report) {
    std::shared_ptr<ZIVOCrashesDelegate> delegate;
    {
        std::lock_guard guard(stateMutex_);
        delegate = delegate_.lock();
    }
    if (delegate && delegate->respondsToShouldProcessErrorReport())
        return delegate->crashesShouldProcessErrorReport(*this, report);
    return true;
}

void ZIVOCrashes::processCrashReports() {
    if (!isEnabled()) {
        ZIVOLogDebug(kZIVOCrashesLogTag, std::string("Crashes service is disabled; discard all crash reports"));
        ZIVOCrashFiles::deleteAllFromCrashesDirectory();
        setCrashFiles({});
        ZIVOWrapperExceptionManager::deleteAllWrapperExceptions();
        return;
    }
    clearUnprocessedReports();
    {
        std::lock_guard guard(stateMutex_);
        processedReports_ = true;
    }
    // Kept in the order of crashFiles so that the three lists line up with the stored files.
    struct Parsed {
        fs::path url;
        std::shared_ptr<const ZVCrashReport> report;
        std::shared_ptr<ZIVOErrorReport> errorReport;
    };
    std::vector<Parsed> parsedReports;
    for (const auto& url : crashFiles()) {
        auto bytes = readWholeFile(url);
        if (!bytes || bytes->empty()) continue;
        auto parsed = ZVCrashReport::initWithData(*bytes);
        if (!parsed.ok()) {
            std::string text = parsed.error().localizedDescription();
            ZIVOLogWarning(kZIVOCrashesLogTag,
                           "Crash report found but couldn't parse it, discard the crash report: " + text);
            continue;
        }
        parsedReports.push_back(
            {url, parsed.value(), ZIVOErrorLogFormatter::errorReportFromCrashReport(parsed.value().get())});
    }
    std::vector<std::shared_ptr<ZIVOErrorReport>> errorReports;
    for (const auto& p : parsedReports)
        if (p.errorReport) errorReports.push_back(p.errorReport);
    ZIVOWrapperExceptionManager::correlateLastSavedWrapperExceptionToReport(errorReports);

    for (const auto& p : parsedReports) {
        ZIVOLogVerbose(kZIVOCrashesLogTag, std::string("Crash reports found"));
        auto log = ZIVOErrorLogFormatter::errorLogFromCrashReport(*p.report);
        const bool automatic = automaticProcessingEnabled();
        if (automatic && p.errorReport && !shouldProcessErrorReport(p.errorReport)) {
            ZIVOLogDebug(kZIVOCrashesLogTag, "shouldProcessErrorReport returned NO, discard the crash report: " +
                                                 p.url.filename().string());
            if (p.errorReport->incidentIdentifier())
                ZIVOWrapperExceptionManager::deleteWrapperExceptionWithUUIDString(*p.errorReport->incidentIdentifier());
            ZIVOCrashFiles::deleteCrashReportWithFileURL(p.url);
            std::lock_guard guard(stateMutex_);
            crashFiles_.erase(std::remove(crashFiles_.begin(), crashFiles_.end(), p.url), crashFiles_.end());
            continue;
        }
        if (automatic)
            ZIVOLogDebug(kZIVOCrashesLogTag,
                         "shouldProcessErrorReport is not implemented or returned YES, processing the crash report: " +
                             p.url.filename().string());
        else
            ZIVOLogDebug(kZIVOCrashesLogTag,
                         "Automatic crash processing is disabled, storing the crash report for later processing: " +
                             p.url.filename().string());
        std::lock_guard guard(stateMutex_);
        unprocessedLogs_.push_back(log);
        unprocessedReports_.push_back(p.errorReport);
        unprocessedFilePaths_.push_back(p.url);
    }
    if (automaticProcessingEnabled()) sendCrashReportsOrAwaitUserConfirmation();
}

void ZIVOCrashes::setUserConfirmationHandler(UserConfirmationHandler handler) {
    auto crashes = sharedInstance();
    std::lock_guard guard(crashes->stateMutex_);
    crashes->userConfirmationHandler_ = std::move(handler);
}

ZIVOCrashes::UserConfirmationHandler ZIVOCrashes::userConfirmationHandler() {
    auto crashes = sharedInstance();
    std::lock_guard guard(crashes->stateMutex_);
    return crashes->userConfirmationHandler_;
}

void ZIVOCrashes::classNotifyWithUserConfirmation(unsigned userConfirmation) {
    sharedInstance()->notifyWithUserConfirmation(userConfirmation);
}

bool ZIVOCrashes::shouldAlwaysSend() {
    return ZIVORurIdurevUserDefaults::shared()->objectForKey("CrashesUserConfirmation").boolValue();
}

bool ZIVOCrashes::userPromptedForConfirmation() {
    UserConfirmationHandler handler;
    {
        std::lock_guard guard(stateMutex_);
        handler = userConfirmationHandler_;
    }
    if (!handler) return false;
    auto reports = unprocessedReports();
    if (dispatch::isMainThread()) return handler(reports);
    // The application shows its alert from the main thread; processing waits for the answer.
    bool answer = false;
    dispatch::Queue::main()->sync([&] { answer = handler(reports); });
    return answer;
}

bool ZIVOCrashes::sendCrashReportsOrAwaitUserConfirmationForFilteredIds(const std::vector<std::string>& filteredIds) {
    std::vector<fs::path> dropped;
    {
        std::lock_guard guard(stateMutex_);
        std::vector<std::shared_ptr<ZIVOAppleErrorLog>> logs;
        std::vector<std::shared_ptr<ZIVOErrorReport>> reports;
        std::vector<fs::path> paths;
        const size_t count =
            std::min({unprocessedLogs_.size(), unprocessedReports_.size(), unprocessedFilePaths_.size()});
        for (size_t i = 0; i < count; ++i) {
            const auto& report = unprocessedReports_[i];
            const auto id = report ? report->incidentIdentifier() : std::nullopt;
            if (id && std::find(filteredIds.begin(), filteredIds.end(), *id) != filteredIds.end()) {
                logs.push_back(unprocessedLogs_[i]);
                reports.push_back(report);
                paths.push_back(unprocessedFilePaths_[i]);
                continue;
            }
            if (id) ZIVOWrapperExceptionManager::deleteWrapperExceptionWithUUIDString(*id);
            dropped.push_back(unprocessedFilePaths_[i]);
        }
        unprocessedLogs_ = std::move(logs);
        unprocessedReports_ = std::move(reports);
        unprocessedFilePaths_ = std::move(paths);
        for (const auto& url : dropped)
            crashFiles_.erase(std::remove(crashFiles_.begin(), crashFiles_.end(), url), crashFiles_.end());
    }
    for (const auto& url : dropped) ZIVOCrashFiles::deleteCrashReportWithFileURL(url);
    return sendCrashReportsOrAwaitUserConfirmation();
}

bool ZIVOCrashes::sendCrashReportsOrAwaitUserConfirmation() {
    const bool alwaysSend = shouldAlwaysSend();
    if (unprocessedReports().empty()) return alwaysSend;
    if (alwaysSend) {
        ZIVOLogDebug(kZIVOCrashesLogTag,
                     std::string("The flag for user confirmation is set to ZIVOUserConfirmationAlways, continue "
                                 "sending logs"));
        handleUserConfirmation(ZIVOUserConfirmationSend);
        return true;
    }
    if (automaticProcessingEnabled()) {
        if (!userPromptedForConfirmation()) {
            ZIVOLogDebug(kZIVOCrashesLogTag,
                         std::string("The user confirmation handler is not implemented or returned NO, continue "
                                     "sending logs"));
            handleUserConfirmation(ZIVOUserConfirmationSend);
        }
        return false;
    }
    ZIVOLogDebug(kZIVOCrashesLogTag, std::string("Automatic crash processing is disabled and \"AlwaysSend\" is "
                                                 "false. Awaiting user confirmation."));
    return false;
}

void ZIVOCrashes::notifyWithUserConfirmation(unsigned userConfirmation) {
    bool usable;
    {
        std::lock_guard guard(stateMutex_);
        usable = static_cast<bool>(userConfirmationHandler_) || processedReports_;
    }
    if (!usable) {
        ZIVOLogError(kZIVOCrashesLogTag,
                     std::string("Incorrect usage of notifyWithUserConfirmation: it should only be called from "
                                 "userConfirmationHandler. For more information refer to the documentation."));
        return;
    }
    handleUserConfirmation(userConfirmation);
}

void ZIVOCrashes::handleUserConfirmation(unsigned userConfirmation) {
    auto logs = unprocessedLogs();
    auto reports = unprocessedReports();
    auto paths = unprocessedFilePaths();
    // Deletes a report's file and its wrapper exception.
    auto deleteFiles = [](const std::string& path, std::optional<std::string> incident) {
        ZIVOCrashFiles::deleteCrashReportWithFileURL(path);
        if (incident) ZIVOWrapperExceptionManager::deleteWrapperExceptionWithUUIDString(*incident);
    };
    auto incidentOf = [&](size_t i) -> std::optional<std::string> {
        if (i < reports.size() && reports[i]) return reports[i]->incidentIdentifier();
        return std::nullopt;
    };
    auto handled = [&](size_t i) {
        std::lock_guard guard(stateMutex_);
        crashFiles_.erase(std::remove(crashFiles_.begin(), crashFiles_.end(), paths[i]), crashFiles_.end());
    };
    auto forget = [&](size_t i) {
        deleteFiles(paths[i], incidentOf(i));
        handled(i);
    };
    if (userConfirmation == ZIVOUserConfirmationDontSend) {
        for (size_t i = 0; i < paths.size(); ++i) forget(i);
    } else {
        if (userConfirmation == ZIVOUserConfirmationAlways)
            ZIVORurIdurevUserDefaults::shared()->setObject(true, "CrashesUserConfirmation");
        std::shared_ptr<ZIVOCrashesDelegate> delegate;
        {
            std::lock_guard guard(stateMutex_);
            delegate = delegate_.lock();
        }
        auto unit = channelUnit();
        const size_t count = std::min({logs.size(), reports.size(), paths.size()});
        for (size_t i = 0; i < count; ++i) {
            const auto& log = logs[i];
            const auto& report = reports[i];
            std::vector<std::shared_ptr<ZIVOErrorAttachmentLog>> attachments;
            if (delegate && delegate->respondsToAttachmentsWithCrashes()) {
                for (auto& attachment : delegate->attachmentsWithCrashes(*this, report)) {
                    if (!attachment) continue;
                    if (!attachment->device()) attachment->setDevice(log->device());
                    attachments.push_back(attachment);
                }
            } else {
                ZIVOLogDebug(kZIVOCrashesLogTag, std::string("attachmentsWithCrashes is not implemented"));
            }
            // The session and user in force when the crash happened, not those of this launch.
            if (log->timestamp()) {
                log->setSid(ZIVOSessionContext::sharedInstance()->sessionIdAt(*log->timestamp()));
                log->setUserId(ZIVOUserIdContext::sharedInstance()->userIdAt(*log->timestamp()));
            }
            // The report's file goes only once the log store holds its log: a log that is
            // filtered, refused or not saved keeps the file for the next launch. (A process killed
            // between the save and the deletion sends the crash again then: twice, never zero times.)
            if (unit) {
                unit->enqueueItem(log, 2, [deleteFiles, path = paths[i], incident = incidentOf(i)](bool saved) {
                    if (saved) deleteFiles(path, incident);
                });
            }
            sendErrorAttachments(attachments, report ? report->incidentIdentifier().value_or("") : std::string());
            handled(i);
        }
    }
    clearUnprocessedReports();
    clearContextHistoryAndKeepCurrentSession();
}

bool ZIVOCrashes::validatePropertiesForAttachment(const ZIVOErrorAttachmentLog& attachment) {
    auto present = [](const std::optional<std::string>& text) { return text && !text->empty(); };
    return present(attachment.errorId()) && present(attachment.attachmentId()) && attachment.data() &&
           !attachment.data()->empty() && present(attachment.contentType());
}

void ZIVOCrashes::sendErrorAttachments(const std::vector<std::shared_ptr<ZIVOErrorAttachmentLog>>& attachments,
                                       const std::string& incidentIdentifier) {
    auto unit = channelUnit();
    for (const auto& attachment : attachments) {
        if (!attachment) continue;
        attachment->setErrorId(incidentIdentifier);
        if (!validatePropertiesForAttachment(*attachment)) {
            ZIVOLogError(kZIVOCrashesLogTag,
                         std::string("Not all required fields are present in ZIVOErrorAttachmentLog."));
            continue;
        }
        const size_t size = attachment->data()->size();
        if (size > kMaxAttachmentSize) {
            std::string name = attachment->filename().value_or("(null)");
            ZIVOLogError(kZIVOCrashesLogTag, "Discarding attachment with size above " +
                                                 std::to_string(kMaxAttachmentSize) +
                                                 " bytes: size=" + std::to_string(size) + ", fileName=" + name + ".");
            continue;
        }
        if (unit) unit->enqueueItem(attachment, 1);
    }
}

void ZIVOCrashes::classSendErrorAttachments(const std::vector<std::shared_ptr<ZIVOErrorAttachmentLog>>& attachments,
                                            const std::string& incidentIdentifier) {
    sharedInstance()->sendErrorAttachments(attachments, incidentIdentifier);
}

namespace {

// Hands a crash log's report to the delegate on the main thread; other logs cause no call.
void notifyDelegateAboutCrashLog(
    ZIVOCrashes& crashes, const std::shared_ptr<ZIVOAbstractLog>& log, bool (ZIVOCrashesDelegate::*responds)() const,
    std::function<void(ZIVOCrashesDelegate&, ZIVOCrashes&, const std::shared_ptr<ZIVOErrorReport>&)> call) {
    auto delegate = crashes.currentDelegate();
    if (!delegate || !((*delegate).*responds)()) return;
    auto crashLog = std::dynamic_pointer_cast<ZIVOAppleErrorLog>(log);
    if (!crashLog) return;
    auto report = ZIVOErrorLogFormatter::errorReportFromLog(*crashLog);
    auto self = crashes.shared_from_this();
    ZIVODispatcherUtil::performBlockOnMainThread([self, delegate, report, call] { call(*delegate, *self, report); });
}

}  // namespace

void ZIVOCrashes::channelWillSendLog(ZIVOChannel, const std::shared_ptr<ZIVOAbstractLog>& log) {
    notifyDelegateAboutCrashLog(*this, log, &ZIVOCrashesDelegate::respondsToWillSendErrorReport,
                                [](ZIVOCrashesDelegate& delegate, ZIVOCrashes& crashes, const auto& report) {
                                    delegate.crashesWillSendErrorReport(crashes, report);
                                });
}

void ZIVOCrashes::channelDidSucceedSendingLog(ZIVOChannel, const std::shared_ptr<ZIVOAbstractLog>& log) {
    notifyDelegateAboutCrashLog(*this, log, &ZIVOCrashesDelegate::respondsToDidSucceedSendingErrorReport,
                                [](ZIVOCrashesDelegate& delegate, ZIVOCrashes& crashes, const auto& report) {
                                    delegate.crashesDidSucceedSendingErrorReport(crashes, report);
                                });
}

void ZIVOCrashes::channelDidFailSendingLog(ZIVOChannel, const std::shared_ptr<ZIVOAbstractLog>& log,
                                           const std::optional<foundation::Error>& error) {
    notifyDelegateAboutCrashLog(*this, log, &ZIVOCrashesDelegate::respondsToDidFailSendingErrorReport,
                                [error](ZIVOCrashesDelegate& delegate, ZIVOCrashes& crashes, const auto& report) {
                                    delegate.crashesDidFailSendingErrorReport(crashes, report, error);
                                });
}

// ---- Memory warnings

namespace {
const char* const kMemoryWarningKey = "AppDidReceiveMemoryWarning";
const char* const kMemoryWarningMessage = "The application received a low memory warning in the last session.";
}  // namespace

void ZIVOCrashes::didReceiveMemoryWarning() {
    ZIVOLogDebug(kZIVOCrashesLogTag, std::string(kMemoryWarningMessage));
    ZIVORurIdurevUserDefaults::shared()->setObject(true, kMemoryWarningKey);
}

void ZIVOCrashes::processMemoryWarningInLastSession() {
    if (!isEnabled()) return;
    auto defaults = ZIVORurIdurevUserDefaults::shared();
    const bool received = defaults->objectForKey(kMemoryWarningKey).boolValue();
    didReceiveMemoryWarningInLastSession_ = received;
    if (received) ZIVOLogDebug(kZIVOCrashesLogTag, std::string(kMemoryWarningMessage));
    defaults->removeObjectForKey(kMemoryWarningKey);
}

// ---- Handled errors

std::optional<std::string>
ZIVOCrashes::trackError(const foundation::Error& error, const foundation::Dictionary& properties,
                        const std::vector<std::shared_ptr<ZIVOErrorAttachmentLog>>& attachments) {
    return sharedInstance()->trackError(ZIVOExceptionModel::initWithError(error), properties, attachments);
}

std::optional<std::string>
ZIVOCrashes::trackException(const std::shared_ptr<ZIVOExceptionModel>& exception,
                            const foundation::Dictionary& properties,
                            const std::vector<std::shared_ptr<ZIVOErrorAttachmentLog>>& attachments) {
    return sharedInstance()->trackError(exception, properties, attachments);
}

std::optional<std::string>
ZIVOCrashes::trackError(const std::shared_ptr<ZIVOExceptionModel>& exception, const foundation::Dictionary& properties,
                        const std::vector<std::shared_ptr<ZIVOErrorAttachmentLog>>& attachments) {
    std::lock_guard guard(lock());
    if (!canBeUsed() || !isEnabled()) return std::nullopt;
    auto log = std::make_shared<ZIVOHandledErrorLog>();
    log->setUserId(ZIVOUserIdContext::sharedInstance()->userId());
    const std::string errorId = foundation::UUID::random().string();
    log->setErrorId(errorId);
    log->setException(exception);
    if (!properties.empty())
        log->setProperties(
            ZIVOUtility::validateProperties(properties, "ErrorLog: " + errorId, log->type().value_or("")));
    if (auto unit = channelUnit()) unit->enqueueItem(log, 1);
    if (!attachments.empty()) sendErrorAttachments(attachments, errorId);
    return errorId;
}

std::shared_ptr<ZIVOErrorReport> ZIVOCrashes::buildHandledErrorReportWithErrorID(const std::string& errorId) {
    return std::make_shared<ZIVOErrorReport>(errorId, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                                             appStartTime_, foundation::Date{ZIVOUtility::nowInMilliseconds() / 1000.0},
                                             std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                                             ZIVODeviceTracker::sharedInstance()->device(), 0);
}

// ---- The remaining public operations

void ZIVOCrashes::generateTestCrash() {
    auto crashes = sharedInstance();
    std::lock_guard guard(crashes->lock());
    if (!crashes->canBeUsed()) return;
    if (ZIVOUtility::currentAppEnvironment() == ZIVOEnvironmentAppStore) {
        ZIVOLogWarning(kZIVOCrashesLogTag, std::string("GenerateTestCrash was just called in an App Store environment. "
                                                       "The call will be ignored."));
        return;
    }
    if (ZIVORurIdurev::isDebuggerAttached()) {
        ZIVOLogWarning(kZIVOCrashesLogTag,
                       std::string("The debugger is attached. The following crash cannot be detected by the SDK!"));
        // The process ends below: the line must be out before it does.
        ZIVOLogger::flush();
    }
    __builtin_trap();
}

void ZIVOCrashes::disableMachExceptionHandler() { sharedInstance()->setMachExceptionHandlerEnabled(false); }

void ZIVOCrashes::applicationDidReportException(const kernel::PlatformException& exception) {
    auto crashes = sharedInstance();
    kernel::UncaughtExceptionHandler handler;
    {
        std::lock_guard guard(crashes->stateMutex_);
        handler = crashes->exceptionHandler_;
    }
    if (!ZIVORurIdurev::isDebuggerAttached() && handler) handler(exception);
}
