// User activities as the platform keeps them: a screen publishes what the user is doing (its type,
// title, search keywords and the information another device needs to carry on), makes it the
// current one, and invalidates it when the user leaves. The system saves the current activity
// when it asks to be saved (the delegate may fill it in first), indexes the eligible ones for
// search and hands them to another device, which continues them. In memory and process-wide, as
// on the device; tests play the system's part (save, continue) and read what was published.
// Main thread only.
#pragma once

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/foundation/value.h"

namespace services {

class UserActivity;

class UserActivityDelegate {
public:
    virtual ~UserActivityDelegate() = default;
    // The system is about to save the activity: the last chance to bring it up to date.
    virtual void userActivityWillSave(UserActivity&) {}
    // Another device carried the activity on.
    virtual void userActivityWasContinued(UserActivity&) {}
};

class UserActivity : public std::enable_shared_from_this<UserActivity> {
public:
    // What the system kept at a save: the activity's state then.
    struct Saved {
        std::string activityType;
        std::string title;
        std::set<std::string> keywords;
        foundation::Dictionary userInfo;
        bool eligibleForSearch = false;
        bool eligibleForPublicIndexing = false;
        bool eligibleForHandoff = true;
    };

    explicit UserActivity(std::string activityType) : activityType_(std::move(activityType)) {}
    const std::string& activityType() const { return activityType_; }

    std::string title;
    std::set<std::string> keywords;
    foundation::Dictionary userInfo;
    std::set<std::string> requiredUserInfoKeys;
    bool eligibleForSearch = false;
    bool eligibleForPublicIndexing = false;
    bool eligibleForHandoff = true;
    std::weak_ptr<UserActivityDelegate> delegate;

    void addUserInfoEntries(const foundation::Dictionary& entries);
    bool needsSave() const { return needsSave_; }
    void setNeedsSave(bool needsSave) { needsSave_ = needsSave; }

    // Makes this the current activity (replacing the one before); an invalidated activity
    // cannot become current again.
    void becomeCurrent();
    void resignCurrent();
    void invalidate();
    bool isValid() const { return valid_; }
    bool isCurrent() const;

    // ---- the system's side (tests and the shell)

    static std::shared_ptr<UserActivity> current();
    // Saves the current activity: when it needs saving its delegate hears will-save first;
    // returns what was kept (nothing without a current activity or with required keys missing
    // from its user information).
    static std::optional<Saved> saveCurrent();
    // Everything saved so far, oldest first.
    static std::vector<Saved> savedActivities();
    // Another device continued this activity: its delegate hears it.
    void continued();
    // Forgets the current activity and what was saved (between tests).
    static void reset();

private:
    std::string activityType_;
    bool needsSave_ = false;
    bool valid_ = true;
};

}  // namespace services
