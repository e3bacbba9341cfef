// The crash reporting service: configures the in-process crash reporter once, moves the report of
// the previous run's crash into "crashes" at enabling, and turns stored reports into crash logs
// waiting in three parallel lists (log, error report, file) for sending.
#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "RurIdurev/RurIdurev/Internals/Channel/channel_delegate.h"
#include "RurIdurev/RurIdurev/service_abstract.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Internals/Model/apple_error_log.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Internals/crashes_log_buffer.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Model/error_attachment_log.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Model/error_report.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Model/exception_model.h"
#include "crashreporter/crash_reporter.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/thread_annotations.h"
#include "platform/foundation/value.h"

class ZIVOCrashes;

// All operations optional: an implementation overrides only what it needs.
class ZIVOCrashesDelegate {
public:
    virtual ~ZIVOCrashesDelegate() = default;
    virtual bool respondsToShouldProcessErrorReport() const { return false; }
    virtual bool crashesShouldProcessErrorReport(ZIVOCrashes&, const std::shared_ptr<ZIVOErrorReport>&) { return true; }
    virtual bool respondsToAttachmentsWithCrashes() const { return false; }
    virtual std::vector<std::shared_ptr<ZIVOErrorAttachmentLog>>
    attachmentsWithCrashes(ZIVOCrashes&, const std::shared_ptr<ZIVOErrorReport>&) {
        return {};
    }
    // The three sending callbacks arrive on the main thread, for crash logs only.
    virtual bool respondsToWillSendErrorReport() const { return false; }
    virtual void crashesWillSendErrorReport(ZIVOCrashes&, const std::shared_ptr<ZIVOErrorReport>&) {}
    virtual bool respondsToDidSucceedSendingErrorReport() const { return false; }
    virtual void crashesDidSucceedSendingErrorReport(ZIVOCrashes&, const std::shared_ptr<ZIVOErrorReport>&) {}
    virtual bool respondsToDidFailSendingErrorReport() const { return false; }
    virtual void crashesDidFailSendingErrorReport(ZIVOCrashes&, const std::shared_ptr<ZIVOErrorReport>&,
                                                  const std::optional<foundation::Error>&) {}
};

enum ZIVOUserConfirmation : unsigned {
    ZIVOUserConfirmationDontSend = 0,
    ZIVOUserConfirmationSend = 1,
    ZIVOUserConfirmationAlways = 2,
};

class ZIVOCrashes : public ZIVOServiceAbstract,
                    public ZIVOChannelDelegate,
                    public std::enable_shared_from_this<ZIVOCrashes> {
public:
    static std::shared_ptr<ZIVOCrashes> sharedInstance();
    static void resetSharedInstance();
    static std::string staticServiceName() { return "Crashes"; }
    static std::string staticLogTag() { return "RurIdurevCrashes"; }

    // ---- Public class operations
    static void setDelegate(std::weak_ptr<ZIVOCrashesDelegate> delegate);
    static std::shared_ptr<ZIVOCrashesDelegate> delegate();
    // This instance's delegate (the class operation asks the shared instance).
    std::shared_ptr<ZIVOCrashesDelegate> currentDelegate();
    static bool hasCrashedInLastSession();
    static bool hasReceivedMemoryWarningInLastSession();
    static std::shared_ptr<ZIVOErrorReport> lastSessionCrashReport();
    // A trap the crash reporter captures as a crash; only a warning in the App Store environment.
    static void generateTestCrash();
    // Effective only before the service is first enabled: the reporter is configured once.
    static void disableMachExceptionHandler();
    // Hands an exception the application considers fatal to the reporter's handler.
    static void applicationDidReportException(const kernel::PlatformException& exception);
    // Handled errors: the new error id, or none when the service cannot be used or is disabled.
    static std::optional<std::string>
    trackError(const foundation::Error& error, const foundation::Dictionary& properties,
               const std::vector<std::shared_ptr<ZIVOErrorAttachmentLog>>& attachments);
    static std::optional<std::string>
    trackException(const std::shared_ptr<ZIVOExceptionModel>& exception, const foundation::Dictionary& properties,
                   const std::vector<std::shared_ptr<ZIVOErrorAttachmentLog>>& attachments);
    static void classSendErrorAttachments(const std::vector<std::shared_ptr<ZIVOErrorAttachmentLog>>& attachments,
                                          const std::string& incidentIdentifier);

    // ---- The service interface
    std::string className() const override { return "ZIVOCrashes"; }
    std::string serviceName() const override { return staticServiceName(); }
    std::string logTag() const override { return staticLogTag(); }
    std::string groupId() const override { return "Crashes"; }
    int initializationPriority() const override { return 999; }
    std::optional<ZIVOChannelUnitConfiguration> channelUnitConfiguration() const override;
    void startWithChannelGroup(std::shared_ptr<ZIVOChannelGroupProtocol> channelGroup,
                               std::optional<std::string> appSecret, std::optional<std::string> transmissionTargetToken,
                               bool fromApplication) override;
    void applyEnabledState(bool isEnabled) override;
    void updateConfigurationWithAppSecret(std::optional<std::string> appSecret,
                                          std::optional<std::string> transmissionTargetToken) override;

    // ---- The crash-time log buffer
    void channelDidPrepareLog(ZIVOChannel, const std::shared_ptr<ZIVOAbstractLog>& log, const std::string& internalId,
                              uint32_t flags) override;
    void channelDidCompleteEnqueueingLog(ZIVOChannel, const std::shared_ptr<ZIVOAbstractLog>& log,
                                         const std::string& internalId) override;
    ZIVOCrashesLogBuffer& logBuffer() { return *logBuffer_; }

    // ---- Channel callbacks, passed on to the delegate for crash logs
    void channelWillSendLog(ZIVOChannel, const std::shared_ptr<ZIVOAbstractLog>& log) override;
    void channelDidSucceedSendingLog(ZIVOChannel, const std::shared_ptr<ZIVOAbstractLog>& log) override;
    void channelDidFailSendingLog(ZIVOChannel, const std::shared_ptr<ZIVOAbstractLog>& log,
                                  const std::optional<foundation::Error>& error) override;

    // ---- Observers
    void applicationWillEnterForeground();
    void didReceiveMemoryWarning();
    void processMemoryWarningInLastSession();
    // The memory-pressure source exists only in an application extension while enabled.
    bool hasMemoryPressureSource();

    // ---- Handled errors
    std::optional<std::string> trackError(const std::shared_ptr<ZIVOExceptionModel>& exception,
                                          const foundation::Dictionary& properties,
                                          const std::vector<std::shared_ptr<ZIVOErrorAttachmentLog>>& attachments);
    std::shared_ptr<ZIVOErrorReport> buildHandledErrorReportWithErrorID(const std::string& errorId);

    // ---- Crash reporter set-up
    void configureCrashReporterWithUncaughtExceptionHandlerEnabled(bool enableUncaughtExceptionHandler);
    std::shared_ptr<ZVCrashReporter> crashReporter();
    // Where the reporter keeps its pending report; none means the reporter's default place.
    void setCrashReporterBasePath(std::optional<std::string> basePath);
    bool isMachExceptionHandlerEnabled() const { return enableMachExceptionHandler_; }
    void setMachExceptionHandlerEnabled(bool enabled) { enableMachExceptionHandler_ = enabled; }
    void clearContextHistoryAndKeepCurrentSession();

    // ---- Stored reports
    // One second later on a global queue, once per process unless the application is in the
    // background then (a later foreground start tries again).
    void startDelayedCrashProcessing();
    void startCrashProcessing();
    // Blocks until delayed processing finished (or there was nothing to process).
    std::vector<std::shared_ptr<ZIVOErrorReport>> unprocessedCrashReports();
    void processCrashReports();
    bool shouldProcessErrorReport(const std::shared_ptr<ZIVOErrorReport>& report);
    std::vector<std::filesystem::path> crashFiles();
    void setCrashFiles(std::vector<std::filesystem::path> files);
    std::vector<std::shared_ptr<ZIVOAppleErrorLog>> unprocessedLogs();
    std::vector<std::shared_ptr<ZIVOErrorReport>> unprocessedReports();
    std::vector<std::filesystem::path> unprocessedFilePaths();
    void clearUnprocessedReports();
    // ---- Confirmation and sending
    // Answers whether the user's Always answer was stored.
    bool sendCrashReportsOrAwaitUserConfirmation();
    // Keeps only the waiting crashes whose incident identifiers are listed; the others are deleted.
    bool sendCrashReportsOrAwaitUserConfirmationForFilteredIds(const std::vector<std::string>& filteredIds);
    bool shouldAlwaysSend();
    bool userPromptedForConfirmation();
    void notifyWithUserConfirmation(unsigned userConfirmation);
    void handleUserConfirmation(unsigned userConfirmation);
    void sendErrorAttachments(const std::vector<std::shared_ptr<ZIVOErrorAttachmentLog>>& attachments,
                              const std::string& incidentIdentifier);
    static bool validatePropertiesForAttachment(const ZIVOErrorAttachmentLog& attachment);
    static constexpr size_t kMaxAttachmentSize = 7340032;
    using UserConfirmationHandler = std::function<bool(const std::vector<std::shared_ptr<ZIVOErrorReport>>&)>;
    static void setUserConfirmationHandler(UserConfirmationHandler handler);
    static UserConfirmationHandler userConfirmationHandler();
    static void classNotifyWithUserConfirmation(unsigned userConfirmation);

    bool automaticProcessingEnabled() const { return automaticProcessingEnabled_; }
    void setAutomaticProcessingEnabled(bool enabled) { automaticProcessingEnabled_ = enabled; }

    bool didCrashInLastSession() const { return didCrashInLastSession_; }
    bool didReceiveMemoryWarningInLastSession() const { return didReceiveMemoryWarningInLastSession_; }
    foundation::Date appStartTime() const { return appStartTime_; }
    const std::string& crashesPathComponent() const { return crashesPathComponent_; }
    const std::string& logBufferPathComponent() const { return logBufferPathComponent_; }
    const std::string& analyzerInProgressFilePathComponent() const { return analyzerInProgressFilePathComponent_; }

    ZIVOCrashes();
    ~ZIVOCrashes() override;

private:
    // Foreground and memory-warning observers (or the memory-pressure source of an extension).
    void observeApplication();

    std::atomic<bool> didCrashInLastSession_{false};
    std::atomic<bool> didReceiveMemoryWarningInLastSession_{false};
    std::atomic<bool> enableMachExceptionHandler_{true};
    std::atomic<bool> automaticProcessingEnabled_{true};
    ZIVOChannelUnitConfiguration channelUnitConfiguration_;
    dispatch::Semaphore delayedProcessingSemaphore_{0};

    mutable foundation::Mutex stateMutex_;
    std::shared_ptr<ZIVOErrorReport> lastSessionCrashReport_ HX_GUARDED_BY(stateMutex_);
    std::vector<std::filesystem::path> crashFiles_ HX_GUARDED_BY(stateMutex_);
    std::vector<std::shared_ptr<ZIVOAppleErrorLog>> unprocessedLogs_ HX_GUARDED_BY(stateMutex_);
    std::vector<std::shared_ptr<ZIVOErrorReport>> unprocessedReports_ HX_GUARDED_BY(stateMutex_);
    std::vector<std::filesystem::path> unprocessedFilePaths_ HX_GUARDED_BY(stateMutex_);
    std::weak_ptr<ZIVOCrashesDelegate> delegate_ HX_GUARDED_BY(stateMutex_);
    UserConfirmationHandler userConfirmationHandler_ HX_GUARDED_BY(stateMutex_);
    // Set once processing made the lists in this process (even when they came out empty).
    bool processedReports_ HX_GUARDED_BY(stateMutex_) = false;
    std::shared_ptr<ZVCrashReporter> zvCrashReporter_ HX_GUARDED_BY(stateMutex_);
    std::optional<std::string> reporterBasePath_ HX_GUARDED_BY(stateMutex_);
    kernel::UncaughtExceptionHandler exceptionHandler_ HX_GUARDED_BY(stateMutex_) = nullptr;
    std::shared_ptr<dispatch::MemoryPressureSource> memoryPressureSource_ HX_GUARDED_BY(stateMutex_);

    std::string crashesPathComponent_;
    std::string logBufferPathComponent_;
    std::string analyzerInProgressFilePathComponent_;
    foundation::Date appStartTime_;
    std::unique_ptr<ZIVOCrashesLogBuffer> logBuffer_;
};
