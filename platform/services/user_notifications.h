// Local user notifications: requests with content and a time trigger, kept by the current
// notification centre until delivered or removed. There is no system to deliver them on this
// machine, so the centre is an in-memory store that the app's code fills and tests inspect.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/foundation/value.h"

namespace services {

// A file shown with a notification. The centre takes a copy of the file's bytes when the
// attachment is made, so the caller may delete the file afterwards.
struct NotificationAttachment {
    std::string identifier;
    std::filesystem::path url;
    std::string typeHint;
    foundation::Data data;

    // Fails when the file cannot be read.
    static foundation::Result<NotificationAttachment> create(std::string identifier, std::filesystem::path url,
                                                             std::string typeHint);
};

struct NotificationContent {
    std::string title;
    std::string body;
    foundation::Dictionary userInfo;
    std::string categoryIdentifier;  // empty: none
    std::string sound;               // a sound file of the app's package; empty: none
    std::string threadIdentifier;
    std::string summaryArgument;
    std::vector<NotificationAttachment> attachments;
};

struct TimeIntervalNotificationTrigger {
    double timeInterval = 0;
    bool repeats = false;
};

struct NotificationRequest {
    std::string identifier;
    NotificationContent content;
    TimeIntervalNotificationTrigger trigger;
};

class UserNotificationCenter {
public:
    static std::shared_ptr<UserNotificationCenter> currentNotificationCenter();

    // A request with the identifier of a pending one replaces it. completion (may be empty) gets
    // nothing on success, an error for a request without identifier.
    void addNotificationRequest(NotificationRequest request,
                                std::function<void(std::optional<foundation::Error>)> completion = {});
    std::vector<NotificationRequest> pendingNotificationRequests() const;
    void removePendingNotificationRequests(const std::vector<std::string>& identifiers);
    void removeAllPendingNotificationRequests();

private:
    mutable std::mutex mutex_;
    std::vector<NotificationRequest> pending_;
};

}  // namespace services
