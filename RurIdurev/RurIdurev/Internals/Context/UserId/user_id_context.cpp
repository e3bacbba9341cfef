#include "RurIdurev/RurIdurev/Internals/Context/UserId/user_id_context.h"

#include "RurIdurev/RurIdurev/Internals/Util/archiver_util.h"
#include "RurIdurev/RurIdurev/Internals/Util/rur_idurev_user_defaults.h"
#include "RurIdurev/RurIdurev/Internals/Util/utility.h"
#include "RurIdurev/RurIdurev/logger.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/strings.h"

namespace {

std::mutex& userIdMutex() {
    static auto* m = new std::mutex;
    return *m;
}

std::shared_ptr<ZIVOUserIdContext>& userIdSlot() {
    static auto* instance = new std::shared_ptr<ZIVOUserIdContext>;
    return *instance;
}

foundation::Date wallDate() { return foundation::Date{dispatch::wallNow()}; }

constexpr const char* kCommonSchemaPrefix = "c";
constexpr const char* kPrefixSeparator = ":";

}  // namespace

std::shared_ptr<ZIVOUserIdContext> ZIVOUserIdContext::sharedInstance() {
    std::lock_guard lock(userIdMutex());
    auto& slot = userIdSlot();
    if (!slot) slot = std::make_shared<ZIVOUserIdContext>();
    return slot;
}

void ZIVOUserIdContext::resetSharedInstance() {
    std::lock_guard lock(userIdMutex());
    userIdSlot().reset();
}

ZIVOUserIdContext::ZIVOUserIdContext() {
    ZIVOArchiverUtil::registerRurIdurevModuleClasses();
    auto stored = ZIVORurIdurevUserDefaults::shared()->objectForKey(kZIVOUserIdHistoryKey);
    if (const auto* data = stored.ifData()) {
        if (auto history = ZIVOUtility::unarchiveKeyedArray<ZIVOUserIdHistoryInfo>(*data))
            userIdHistory_ = std::move(*history);
    }
    const size_t count = userIdHistory_.size();
    ZIVOLogDebug(kZIVOLogTag, std::to_string(count) + " userId(s) in the history.");
    currentUserIdInfo_ = std::make_shared<ZIVOUserIdHistoryInfo>(wallDate(), std::nullopt);
    userIdHistory_.push_back(currentUserIdInfo_);
    store();
}

std::optional<std::string> ZIVOUserIdContext::userId() {
    std::lock_guard lock(mutex_);
    return currentUserIdInfo_->userId();
}

void ZIVOUserIdContext::setUserId(std::optional<std::string> userId) {
    std::vector<std::shared_ptr<ZIVOUserIdContextDelegate>> listeners;
    {
        std::lock_guard lock(mutex_);
        if (currentUserIdInfo_->userId() == userId) return;
        currentUserIdInfo_->setTimestamp(wallDate());
        currentUserIdInfo_->setUserId(userId);
        if (!userIdHistory_.empty()) userIdHistory_.pop_back();
        userIdHistory_.push_back(currentUserIdInfo_);
        store();
        auto id = userId.value_or("(null)");
        auto stamp = ZIVOUtility::dateToISO8601(*currentUserIdInfo_->timestamp());
        ZIVOLogVerbose(kZIVOLogTag, "Stored new userId:" + id + " and timestamp: " + stamp + ".");
        for (const auto& weak : delegates_)
            if (auto strong = weak.lock()) listeners.push_back(std::move(strong));
    }
    for (const auto& listener : listeners) listener->userIdContext(*this, userId);
}

std::optional<std::string> ZIVOUserIdContext::userIdAt(foundation::Date date) {
    std::lock_guard lock(mutex_);
    for (auto it = userIdHistory_.rbegin(); it != userIdHistory_.rend(); ++it) {
        const auto& stamp = (*it)->timestamp();
        if (stamp && stamp->secondsSince1970 < date.secondsSince1970) return (*it)->userId();
    }
    return std::nullopt;
}

void ZIVOUserIdContext::clearUserIdHistory() {
    std::lock_guard lock(mutex_);
    userIdHistory_.clear();
    userIdHistory_.push_back(currentUserIdInfo_);
    store();
    ZIVOLogVerbose(kZIVOLogTag, std::string("Cleared old userIds while keeping current userId."));
}

bool ZIVOUserIdContext::isUserIdValidForRurIdurev(const std::optional<std::string>& userId) {
    if (!userId) return true;
    if (foundation::utf16Length(*userId) > kMaxUserIdLength) {
        ZIVOLogError(kZIVOLogTag, "userId is limited to " + std::to_string(kMaxUserIdLength) + " characters.");
        return false;
    }
    return true;
}

bool ZIVOUserIdContext::isUserIdValidForZidAzaduzuri(const std::optional<std::string>& userId) {
    if (!userId) return true;
    if (userId->empty()) {
        ZIVOLogError(kZIVOLogTag, std::string("userId must not be empty."));
        return false;
    }
    const auto colon = userId->find(kPrefixSeparator);
    if (colon == std::string::npos) return true;
    const std::string prefix = userId->substr(0, colon);
    if (prefix != kCommonSchemaPrefix) {
        ZIVOLogError(kZIVOLogTag, std::string("userId prefix must be '") + kCommonSchemaPrefix + "', '" + prefix +
                                      "' is not supported.");
        return false;
    }
    if (colon == userId->size() - 1) {
        ZIVOLogError(kZIVOLogTag, std::string("userId must not be empty."));
        return false;
    }
    return true;
}

std::optional<std::string> ZIVOUserIdContext::prefixedUserIdFromUserId(const std::optional<std::string>& userId) {
    if (userId && userId->find(kPrefixSeparator) == std::string::npos)
        return std::string(kCommonSchemaPrefix) + kPrefixSeparator + *userId;
    return userId;
}

void ZIVOUserIdContext::addDelegate(const std::shared_ptr<ZIVOUserIdContextDelegate>& delegate) {
    std::lock_guard lock(mutex_);
    std::erase_if(delegates_, [](const auto& weak) { return weak.expired(); });
    if (delegate) delegates_.push_back(delegate);
}

void ZIVOUserIdContext::removeDelegate(const std::shared_ptr<ZIVOUserIdContextDelegate>& delegate) {
    std::lock_guard lock(mutex_);
    std::erase_if(delegates_, [&](const auto& weak) {
        auto strong = weak.lock();
        return !strong || strong == delegate;
    });
}

std::vector<std::shared_ptr<ZIVOUserIdHistoryInfo>> ZIVOUserIdContext::userIdHistory() {
    std::lock_guard lock(mutex_);
    return userIdHistory_;
}

void ZIVOUserIdContext::store() {
    std::vector<std::shared_ptr<const foundation::Archivable>> records(userIdHistory_.begin(), userIdHistory_.end());
    if (auto data = ZIVOUtility::archiveKeyedArray(records))
        ZIVORurIdurevUserDefaults::shared()->setObject(*data, kZIVOUserIdHistoryKey);
}
