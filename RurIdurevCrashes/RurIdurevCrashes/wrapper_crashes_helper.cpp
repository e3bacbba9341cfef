#include "RurIdurevCrashes/RurIdurevCrashes/wrapper_crashes_helper.h"

#include <mutex>

#include "RurIdurevCrashes/RurIdurevCrashes/crashes.h"

namespace {

std::mutex gDelegateMutex;
std::weak_ptr<ZIVOCrashHandlerSetupDelegate> gDelegate;

}  // namespace

void ZIVOWrapperCrashesHelper::setCrashHandlerSetupDelegate(std::weak_ptr<ZIVOCrashHandlerSetupDelegate> delegate) {
    std::lock_guard guard(gDelegateMutex);
    gDelegate = std::move(delegate);
}

std::shared_ptr<ZIVOCrashHandlerSetupDelegate> ZIVOWrapperCrashesHelper::crashHandlerSetupDelegate() {
    std::lock_guard guard(gDelegateMutex);
    return gDelegate.lock();
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
