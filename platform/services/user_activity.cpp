#include "platform/services/user_activity.h"

#include <optional>

namespace services {

namespace {

// Main thread only, as the platform's activities are.
std::weak_ptr<UserActivity> gCurrent;
std::vector<UserActivity::Saved> gSaved;

}  // namespace

void UserActivity::addUserInfoEntries(const foundation::Dictionary& entries) {
    for (const auto& [key, value] : entries) userInfo.set(key, value);
    needsSave_ = true;
}

void UserActivity::becomeCurrent() {
    if (!valid_) return;
    gCurrent = weak_from_this();
}

void UserActivity::resignCurrent() {
    if (isCurrent()) gCurrent.reset();
}

void UserActivity::invalidate() {
    resignCurrent();
    valid_ = false;
}

bool UserActivity::isCurrent() const {
    auto current = gCurrent.lock();
    return current && current.get() == this;
}

std::shared_ptr<UserActivity> UserActivity::current() { return gCurrent.lock(); }

std::optional<UserActivity::Saved> UserActivity::saveCurrent() {
    auto activity = gCurrent.lock();
    if (!activity || !activity->valid_) return std::nullopt;
    if (activity->needsSave_) {
        if (auto d = activity->delegate.lock()) d->userActivityWillSave(*activity);
        activity->needsSave_ = false;
    }
    for (const std::string& key : activity->requiredUserInfoKeys)
        if (!activity->userInfo.contains(key)) return std::nullopt;
    Saved saved{activity->activityType_,     activity->title,
                activity->keywords,          activity->userInfo,
                activity->eligibleForSearch, activity->eligibleForPublicIndexing,
                activity->eligibleForHandoff};
    gSaved.push_back(saved);
    return saved;
}

std::vector<UserActivity::Saved> UserActivity::savedActivities() { return gSaved; }

void UserActivity::continued() {
    if (auto d = delegate.lock()) d->userActivityWasContinued(*this);
}

void UserActivity::reset() {
    gCurrent.reset();
    gSaved.clear();
}

}  // namespace services
