// The notification centre's system side: a request is delivered once its trigger's time has come
// (counted from when it was added), never before, and stays listed as delivered.
#include <gtest/gtest.h>

#include "platform/dispatch/dispatch.h"
#include "platform/services/user_notifications.h"

namespace {

services::NotificationRequest laterRequest(const std::string& id, double seconds) {
    services::NotificationRequest request;
    request.identifier = id;
    request.content.title = "Title " + id;
    request.trigger = {seconds, false};
    return request;
}

std::vector<std::string> identifiers(const std::vector<services::DeliveredNotification>& delivered) {
    std::vector<std::string> ids;
    for (const auto& d : delivered) ids.push_back(d.request.identifier);
    return ids;
}

}  // namespace

TEST(NotificationDelivery, ARequestForLaterIsDeliveredAtItsTimeAndListedAsDelivered) {
    dispatch::ScopedVirtualClock clock;
    auto center = services::UserNotificationCenter::currentNotificationCenter();
    center->removeAllPendingNotificationRequests();
    center->removeAllDeliveredNotifications();
    clock->advance(100);
    center->addNotificationRequest(laterRequest("now", 0));
    center->addNotificationRequest(laterRequest("in-five", 5));
    clock->advance(2);
    center->addNotificationRequest(laterRequest("in-one", 1));
    // (time since start, delivered by that call) in order.
    const std::pair<double, std::vector<std::string>> steps[] = {
        {102, {"now"}}, {102.9, {}}, {103, {"in-one"}}, {104.99, {}}, {105, {"in-five"}}, {200, {}},
    };
    for (const auto& [at, expected] : steps) {
        EXPECT_EQ(identifiers(center->deliverDueRequests(at)), expected) << "at " << at;
    }
    const auto delivered = center->deliveredNotifications();
    EXPECT_EQ(identifiers(delivered), (std::vector<std::string>{"now", "in-one", "in-five"}));
    ASSERT_EQ(delivered.size(), 3u);
    EXPECT_EQ(delivered[2].date, 105);
    EXPECT_EQ(delivered[2].request.content.title, "Title in-five");
    EXPECT_TRUE(center->pendingNotificationRequests().empty());
    center->removeAllDeliveredNotifications();
}
