// What a wrapper SDK (a layer offering crash reporting to another language runtime) may reach of
// the crashes service: the crash-handler set-up delegate, automatic processing, and the steps it
// takes over when automatic processing is off.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "RurIdurevCrashes/RurIdurevCrashes/Model/error_attachment_log.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Model/error_report.h"

// All optional; asked while the crashes service installs its crash handlers.
class ZIVOCrashHandlerSetupDelegate {
public:
    virtual ~ZIVOCrashHandlerSetupDelegate() = default;
    // None: not implemented (the handler is installed).
    virtual std::optional<bool> shouldEnableUncaughtExceptionHandler() { return std::nullopt; }
    virtual void willSetUpCrashHandlers() {}
    virtual void didSetUpCrashHandlers() {}
};

class ZIVOWrapperCrashesHelper {
public:
    ZIVOWrapperCrashesHelper() = delete;

    static void setCrashHandlerSetupDelegate(std::weak_ptr<ZIVOCrashHandlerSetupDelegate> delegate);
    static std::shared_ptr<ZIVOCrashHandlerSetupDelegate> crashHandlerSetupDelegate();
    static std::shared_ptr<ZIVOCrashHandlerSetupDelegate> getCrashHandlerSetupDelegate() {
        return crashHandlerSetupDelegate();
    }

    static void setAutomaticProcessing(bool automaticProcessing);
    static bool automaticProcessing();
    // Waits until the crashes service processed its stored reports at launch.
    static std::vector<std::shared_ptr<ZIVOErrorReport>> unprocessedCrashReports();
    static bool sendCrashReportsOrAwaitUserConfirmationForFilteredIds(const std::vector<std::string>& filteredIds);
    static void sendErrorAttachments(const std::vector<std::shared_ptr<ZIVOErrorAttachmentLog>>& attachments,
                                     const std::string& incidentIdentifier);
    static std::shared_ptr<ZIVOErrorReport> buildHandledErrorReportWithErrorID(const std::string& errorId);
};
