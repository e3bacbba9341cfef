#include "ui/messages/vc_vm.h"

#include "platform/foundation/bundle.h"
#include "service/message_list_model.h"

void VC_VM::setUpList() {
    setTitle(foundation::localizedString("Voicemail"));
    searchBar()->setScopeButtonTitles({foundation::localizedString("Contact"), foundation::localizedString("Message"),
                                       foundation::localizedString("Note")});
    observe("kVMNotification", [](VC_Messages& list, const foundation::Notification& n) { list.storeHasNewRows(n); });
    observe("kUnreadVMCountChangedNotification", [](VC_Messages& list, const foundation::Notification&) {
        if (list.model()) list.model()->updateBadgeValue();
    });
    observe("kClearedAudioCacheNotification", [](VC_Messages& list, const foundation::Notification&) {
        if (list.model()) list.model()->clearVMPrefetchList();
    });
}

// The list of ids is the model's, behind its own lock: rows ask from a background queue at once.
void VC_VM::prefetchVM(const std::string& conversationID) {
    if (model()) model()->prefetchVM(conversationID);
}

void VC_VM::clearVMPrefetchList() {
    if (model()) model()->clearVMPrefetchList();
}

std::vector<std::string> VC_VM::vmPrefetchList() const {
    return model() ? model()->vmPrefetchList() : std::vector<std::string>{};
}
