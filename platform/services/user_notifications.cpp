#include "platform/services/user_notifications.h"

#include <algorithm>

#include "platform/dispatch/dispatch.h"
#include "platform/foundation/files.h"
#include "platform/services/device.h"

namespace services {

foundation::Result<NotificationAttachment>
NotificationAttachment::create(std::string identifier, std::filesystem::path url, std::string typeHint) {
    auto data = foundation::files::readData(url);
    if (!data.ok()) return data.error();
    return NotificationAttachment{std::move(identifier), std::move(url), std::move(typeHint), std::move(data.value())};
}

std::shared_ptr<UserNotificationCenter> UserNotificationCenter::currentNotificationCenter() {
    static const auto center = std::make_shared<UserNotificationCenter>();
    return center;
}

void UserNotificationCenter::addNotificationRequest(NotificationRequest request,
                                                    std::function<void(std::optional<foundation::Error>)> completion) {
    std::optional<foundation::Error> error;
    if (request.identifier.empty()) {
        error = foundation::Error::withDescription("UNErrorDomain", 1, "a notification request needs an identifier");
    } else {
        const double now = dispatch::clock().now();
        std::lock_guard lock(mutex_);
        std::erase_if(pending_, [&](const Pending& p) { return p.request.identifier == request.identifier; });
        pending_.push_back({std::move(request), now});
    }
    if (completion) completion(error);
}

std::vector<NotificationRequest> UserNotificationCenter::pendingNotificationRequests() const {
    std::lock_guard lock(mutex_);
    std::vector<NotificationRequest> out;
    out.reserve(pending_.size());
    for (const auto& p : pending_) out.push_back(p.request);
    return out;
}

void UserNotificationCenter::removePendingNotificationRequests(const std::vector<std::string>& identifiers) {
    std::lock_guard lock(mutex_);
    std::erase_if(pending_, [&](const Pending& p) {
        return std::find(identifiers.begin(), identifiers.end(), p.request.identifier) != identifiers.end();
    });
}

void UserNotificationCenter::removeAllPendingNotificationRequests() {
    std::lock_guard lock(mutex_);
    pending_.clear();
}

void UserNotificationCenter::setDelegate(std::weak_ptr<UserNotificationCenterDelegate> delegate) {
    std::lock_guard lock(mutex_);
    delegate_ = std::move(delegate);
}

std::shared_ptr<UserNotificationCenterDelegate> UserNotificationCenter::delegate() const {
    std::lock_guard lock(mutex_);
    return delegate_.lock();
}

std::vector<DeliveredNotification> UserNotificationCenter::deliverDueRequests(double now) {
    std::lock_guard lock(mutex_);
    std::vector<DeliveredNotification> due;
    std::erase_if(pending_, [&](Pending& p) {
        if (p.added + p.request.trigger.timeInterval > now) return false;
        due.push_back({std::move(p.request), now});
        return true;
    });
    delivered_.insert(delivered_.end(), due.begin(), due.end());
    return due;
}

std::vector<DeliveredNotification> UserNotificationCenter::deliveredNotifications() const {
    std::lock_guard lock(mutex_);
    return delivered_;
}

void UserNotificationCenter::removeAllDeliveredNotifications() {
    std::lock_guard lock(mutex_);
    delivered_.clear();
}

bool UserNotificationCenter::respond(const NotificationResponse& response, std::function<void()> completion) {
    auto d = delegate();
    if (!d) return false;
    d->didReceiveNotificationResponse(response, std::move(completion));
    return true;
}

}  // namespace services
