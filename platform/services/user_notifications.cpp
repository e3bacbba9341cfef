#include "platform/services/user_notifications.h"

#include <algorithm>

#include "platform/foundation/files.h"

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
        std::lock_guard lock(mutex_);
        std::erase_if(pending_, [&](const NotificationRequest& r) { return r.identifier == request.identifier; });
        pending_.push_back(std::move(request));
    }
    if (completion) completion(error);
}

std::vector<NotificationRequest> UserNotificationCenter::pendingNotificationRequests() const {
    std::lock_guard lock(mutex_);
    return pending_;
}

void UserNotificationCenter::removePendingNotificationRequests(const std::vector<std::string>& identifiers) {
    std::lock_guard lock(mutex_);
    std::erase_if(pending_, [&](const NotificationRequest& r) {
        return std::find(identifiers.begin(), identifiers.end(), r.identifier) != identifiers.end();
    });
}

void UserNotificationCenter::removeAllPendingNotificationRequests() {
    std::lock_guard lock(mutex_);
    pending_.clear();
}

}  // namespace services
