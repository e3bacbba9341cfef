#include "app/views.h"

#include "app/passcode_settings_placeholder.h"
#include "app/roles/screen_roles.h"
#include "service/message_list_model.h"

std::shared_ptr<HXMessageListModel> HXMessageListPlaceholderScreen::messageList() {
    if (!list_) {
        auto lists = lists_.lock();
        if (!lists) return nullptr;
        list_ = lists->makeMessageList(viewType_);
        if (!list_) return nullptr;
        std::shared_ptr<HXMessageListView> view = std::dynamic_pointer_cast<HXMessageListPlaceholderScreen>(selfPtr());
        list_->setView(view);
    }
    return list_;
}

void HXMessageListPlaceholderScreen::viewWillAppear(bool animated) {
    HXPlaceholderScreen::viewWillAppear(animated);
    shown_ = true;
}

void HXMessageListPlaceholderScreen::viewDidDisappear(bool animated) {
    HXPlaceholderScreen::viewDidDisappear(animated);
    shown_ = false;
}

std::shared_ptr<HXPlaceholderScreen> hxMakeRootScreen(int index, std::weak_ptr<HXListLoadingRole> lists) {
    if (index < 0 || index >= kHXViewCount) return nullptr;
    const auto& spec = kHXViews[index];
    std::shared_ptr<HXPlaceholderScreen> root;
    if (index >= 1 && index <= 3)
        root = std::make_shared<HXMessageListPlaceholderScreen>(spec.screen, index, std::move(lists));
    else if (index == 4)
        root = std::make_shared<HXSettingsPlaceholderScreen>();
    else
        root = std::make_shared<HXPlaceholderScreen>(spec.screen);
    root->setTitle(spec.title);
    return root;
}
