// The shell's ways into a message list: its search bar and the conversation screens over it.
#include "app/connect_app_delegate.h"
#include "app/roles/message_list_host.h"
#include "app/views.h"
#include "model/account.h"
#include "platform/toolkit/navigation_controller.h"

void HX_ConnectAppDelegate::enterSearch(int view) {
    if (view < 1 || view > 3) return;
    selectViewForIndex(view);
    auto root = viewControllerForIndex(view);
    if (!root) return;
    // The list comes back to the top of its view before its search bar takes the focus.
    if (auto* nav = root->navigationController()) nav->popToRootViewController(false);
    if (auto* host = dynamic_cast<HXMessageListHost*>(root.get())) host->enterSearch();
}

void HX_ConnectAppDelegate::popView(int index, bool toRoot) {
    auto root = viewControllerForIndex(index);
    auto* nav = root ? root->navigationController() : nullptr;
    if (!nav) return;
    if (toRoot)
        nav->popToRootViewController(true);
    else
        nav->popViewController(true);
}
