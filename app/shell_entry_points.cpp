// What opens the app at a given place: the notification categories and their actions.
#include "app/connect_app_delegate.h"
#include "platform/services/device.h"

void HX_ConnectAppDelegate::registerForUserNotifications() {
    shell_->record("registerForUserNotifications");
    const services::NotificationAction markRead{"com.hxconnect.markRead", "Mark as read"};
    services::NotificationAction reply{"com.hxconnect.composeReply", "Reply"};
    reply.textInput = true;
    reply.textInputButtonTitle = "Send";
    reply.textInputPlaceholder = "Text Message";
    auto category = [](std::string identifier, std::vector<services::NotificationAction> actions) {
        services::NotificationCategory made;
        made.identifier = std::move(identifier);
        made.actions = std::move(actions);
        made.hiddenPreviewsBodyPlaceholder = "HIDDEN_BODY_SUMMARY";
        made.categorySummaryFormat = "NOTIFICATION_SUMMARY";
        return made;
    };
    services::NotificationSettings::shared().setNotificationCategories({
        category("com.hxconnect.markRead", {markRead}),
        category("com.hxconnect.composeReply", {reply, markRead}),
    });
}
