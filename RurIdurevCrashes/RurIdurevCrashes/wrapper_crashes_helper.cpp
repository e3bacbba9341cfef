#include "RurIdurevCrashes/RurIdurevCrashes/wrapper_crashes_helper.h"

#include <mutex>

#include "RurIdurevCrashes/RurIdurevCrashes/crashes.h"

namespace {

// Never destroyed (see crashes.cpp).
struct Delegate {
    std::mutex mutex;
    std::weak_ptr<ZIVOCrashHandlerSetupDelegate> delegate;
};
Delegate& setupDelegate() {
    static auto* d = new Delegate;
    return *d;
}

}  // namespace

void ZIVOWrapperCrashesHelper::setCrashHandlerSetupDelegate(std::weak_ptr<ZIVOCrashHandlerSetupDelegate> delegate) {
    auto& d = setupDelegate();
    std::lock_guard guard(d.mutex);
    d.delegate = std::move(delegate);
}

std::shared_ptr<ZIVOCrashHandlerSetupDelegate> ZIVOWrapperCrashesHelper::crashHandlerSetupDelegate() {
    auto& d = setupDelegate();
    std::lock_guard guard(d.mutex);
    return d.delegate.lock();
}

void ZIVOWrapperCrashesHelper::setAutomaticProcessing(bool automaticProcessing) {
    ZIVOCrashes::sharedInstance()->setAutomaticProcessingEnabled(automaticProcessing);
}

bool ZIVOWrapperCrashesHelper::automaticProcessing() {
    return ZIVOCrashes::sharedInstance()->automaticProcessingEnabled();
}

std::vector<std::shared_ptr<ZIVOErrorReport>> ZIVOWrapperCrashesHelper::unprocessedCrashReports() {
    return ZIVOCrashes::sharedInstance()->unprocessedCrashReports();
}

bool ZIVOWrapperCrashesHelper::sendCrashReportsOrAwaitUserConfirmationForFilteredIds(
    const std::vector<std::string>& filteredIds) {
    return ZIVOCrashes::sharedInstance()->sendCrashReportsOrAwaitUserConfirmationForFilteredIds(filteredIds);
}

void ZIVOWrapperCrashesHelper::sendErrorAttachments(
    const std::vector<std::shared_ptr<ZIVOErrorAttachmentLog>>& attachments, const std::string& incidentIdentifier) {
    ZIVOCrashes::sharedInstance()->sendErrorAttachments(attachments, incidentIdentifier);
}

std::shared_ptr<ZIVOErrorReport>
ZIVOWrapperCrashesHelper::buildHandledErrorReportWithErrorID(const std::string& errorId) {
    return ZIVOCrashes::sharedInstance()->buildHandledErrorReportWithErrorID(errorId);
}
