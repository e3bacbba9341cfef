#include "ui/messages/vc_history.h"

#include "platform/foundation/bundle.h"
#include "service/message_list_model.h"

void VC_History::setUpList() {
    setTitle(foundation::localizedString("History"));
    searchBar()->setScopeButtonTitles({foundation::localizedString("Contact"), foundation::localizedString("Note")});
    // The model itself follows "kHistoryItemsSettingDidChangeNotification".
}

void VC_History::changeHistoryItems() {
    if (model()) model()->changeHistoryItems();
}
