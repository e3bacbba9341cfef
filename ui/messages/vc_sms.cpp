#include "ui/messages/vc_sms.h"

#include "platform/foundation/bundle.h"
#include "platform/toolkit/bar_items.h"
#include "service/message_list_model.h"

void VC_SMS::setUpList() {
    setTitle(foundation::localizedString("SMS"));
    searchBar()->setScopeButtonTitles({foundation::localizedString("Contact"), foundation::localizedString("Message"),
                                       foundation::localizedString("Note")});
    observe("kSMSNotification", [](VC_Messages& list, const foundation::Notification& n) { list.storeHasNewRows(n); });
    observe("kUnreadSMSCountChangedNotification", [](VC_Messages& list, const foundation::Notification&) {
        if (list.model()) list.model()->updateBadgeValue();
    });
    observe("kSMSReplySentNotification", [](VC_Messages& list, const foundation::Notification& n) {
        auto model = list.model();
        if (!model) return;
        model->setReloadPage(1);
        auto actions = list.roles().listActions.lock();
        if (!actions || !actions->isSignedIn()) return;
        foundation::NotificationCenter::defaultCenter().post("kSMSReplySendingProgressNotification");
        if (auto id = std::static_pointer_cast<std::string>(n.object); id && !id->empty()) model->loadConversation(*id);
    });
    observe("kSMSActiveConversationMessageReceived", [](VC_Messages& list, const foundation::Notification& n) {
        auto id = std::static_pointer_cast<std::string>(n.object);
        if (list.model() && id) list.model()->markConversationRead(*id);
    });
    if (!iPad()) {
        auto weak = weakSelf<VC_SMS>();
        navigationItem().setRightBarButtonItem(
            toolkit::BarButtonItem::withSystemItem(toolkit::SystemItem::Compose, [weak](toolkit::BarButtonItem&) {
                if (auto self = weak.lock()) self->newMessage();
            }));
    }
}

void VC_SMS::newMessage() {
    if (auto conversations = roles().conversations.lock()) conversations->newMessageToNumber("", "", "");
}
