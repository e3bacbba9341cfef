#include "RurIdurev/RurIdurev/Internals/Context/Session/session_context.h"

#include "RurIdurev/RurIdurev/Internals/Util/archiver_util.h"
#include "RurIdurev/RurIdurev/Internals/Util/rur_idurev_user_defaults.h"
#include "RurIdurev/RurIdurev/Internals/Util/utility.h"
#include "RurIdurev/RurIdurev/logger.h"
#include "platform/dispatch/dispatch.h"

namespace {

std::mutex& sharedMutex() {
    static auto* m = new std::mutex;
    return *m;
}

std::shared_ptr<ZIVOSessionContext>& sharedSlot() {
    static auto* instance = new std::shared_ptr<ZIVOSessionContext>;
    return *instance;
}

foundation::Date now() { return foundation::Date{dispatch::wallNow()}; }

}  // namespace

std::shared_ptr<ZIVOSessionContext> ZIVOSessionContext::sharedInstance() {
    std::lock_guard lock(sharedMutex());
    auto& slot = sharedSlot();
    if (!slot) slot = std::make_shared<ZIVOSessionContext>();
    return slot;
}

void ZIVOSessionContext::resetSharedInstance() {
    std::lock_guard lock(sharedMutex());
    sharedSlot().reset();
}

ZIVOSessionContext::ZIVOSessionContext() {
    ZIVOArchiverUtil::registerRurIdurevModuleClasses();
    auto stored = ZIVORurIdurevUserDefaults::shared()->objectForKey(kZIVOSessionIdHistoryKey);
    if (const auto* data = stored.ifData()) {
        if (auto history = ZIVOUtility::unarchiveKeyedArray<ZIVOSessionHistoryInfo>(*data))
            sessionHistory_ = std::move(*history);
    }
    const size_t count = sessionHistory_.size();
    ZIVOLogDebug(kZIVOLogTag, std::to_string(count) + " session(s) in the history.");
    currentSessionInfo_ = std::make_shared<ZIVOSessionHistoryInfo>(now(), std::nullopt);
    sessionHistory_.push_back(currentSessionInfo_);
}

std::optional<std::string> ZIVOSessionContext::sessionId() {
    std::lock_guard lock(mutex_);
    return currentSessionInfo_->sessionId();
}

void ZIVOSessionContext::setSessionId(std::optional<std::string> sessionId) {
    std::lock_guard lock(mutex_);
    if (!sessionHistory_.empty()) sessionHistory_.pop_back();
    currentSessionInfo_->setSessionId(std::move(sessionId));
    currentSessionInfo_->setTimestamp(now());
    sessionHistory_.push_back(currentSessionInfo_);
    store();
    auto id = currentSessionInfo_->sessionId().value_or("(null)");
    auto stamp = ZIVOUtility::dateToISO8601(*currentSessionInfo_->timestamp());
    ZIVOLogVerbose(kZIVOLogTag, "Stored new session with id:" + id + " and timestamp: " + stamp + ".");
}

std::optional<std::string> ZIVOSessionContext::sessionIdAt(foundation::Date date) {
    std::lock_guard lock(mutex_);
    for (auto it = sessionHistory_.rbegin(); it != sessionHistory_.rend(); ++it) {
        const auto& stamp = (*it)->timestamp();
        if (stamp && stamp->secondsSince1970 < date.secondsSince1970) return (*it)->sessionId();
    }
    return std::nullopt;
}

void ZIVOSessionContext::clearSessionHistoryAndKeepCurrentSession(bool keepCurrentSession) {
    std::lock_guard lock(mutex_);
    sessionHistory_.clear();
    if (keepCurrentSession) sessionHistory_.push_back(currentSessionInfo_);
    store();
    ZIVOLogVerbose(kZIVOLogTag, std::string("Cleared old sessions."));
}

std::vector<std::shared_ptr<ZIVOSessionHistoryInfo>> ZIVOSessionContext::sessionHistory() {
    std::lock_guard lock(mutex_);
    return sessionHistory_;
}

std::shared_ptr<ZIVOSessionHistoryInfo> ZIVOSessionContext::currentSessionInfo() {
    std::lock_guard lock(mutex_);
    return currentSessionInfo_;
}

void ZIVOSessionContext::store() {
    std::vector<std::shared_ptr<const foundation::Archivable>> records(sessionHistory_.begin(), sessionHistory_.end());
    if (auto data = ZIVOUtility::archiveKeyedArray(records))
        ZIVORurIdurevUserDefaults::shared()->setObject(*data, kZIVOSessionIdHistoryKey);
}
