// Local user notifications: requests with content and a time trigger, kept by the current
// notification centre until delivered or removed. The centre is in memory: the app's code fills
// it, and the system's part (delivering a request once its trigger's time has come, and the
// user's response to a delivered one) is played by the window's banners, the run's options and
// tests. Responses reach the centre's delegate.
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

struct NotificationResponse;

// The application's side of the centre: what the user did with a delivered notification. The
// delegate calls completion once it has handled the response.
class UserNotificationCenterDelegate {
public:
    virtual ~UserNotificationCenterDelegate() = default;
    virtual void didReceiveNotificationResponse(const NotificationResponse& response,
                                                std::function<void()> completion) = 0;
};

// A request the system has shown, and when (the process clock).
struct DeliveredNotification {
    NotificationRequest request;
    double date = 0;
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

    // Held weakly, as the platform holds it.
    void setDelegate(std::weak_ptr<UserNotificationCenterDelegate> delegate);
    std::shared_ptr<UserNotificationCenterDelegate> delegate() const;

    // ---- the system's side

    // Delivers every pending request whose trigger's time has come by now (the process clock,
    // counted from when the request was added): each leaves the pending ones and is kept as
    // delivered. Returns those delivered by this call, in the order they were added.
    std::vector<DeliveredNotification> deliverDueRequests(double now);
    std::vector<DeliveredNotification> deliveredNotifications() const;
    void removeAllDeliveredNotifications();
    // The user answered a delivered notification: the delegate hears it on the calling thread
    // (the main one). False, and nothing done, without a delegate.
    bool respond(const NotificationResponse& response, std::function<void()> completion = {});

private:
    struct Pending {
        NotificationRequest request;
        double added = 0;
    };
    mutable std::mutex mutex_;
    std::vector<Pending> pending_;
    std::vector<DeliveredNotification> delivered_;
    std::weak_ptr<UserNotificationCenterDelegate> delegate_;
};

}  // namespace services
