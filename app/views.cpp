#include "app/views.h"

#include "service/application_web_client.h"
#include "service/request_machinery.h"
#include "service/vc_messages.h"

std::shared_ptr<VC_Messages> HXMessageListPlaceholderScreen::messageList(HXApplicationWebClient& app) {
    if (!list_) {
        list_ = std::make_shared<VC_Messages>(
            app.weakWebClient(),
            VC_Messages::viewSettingsForType(viewType_, app.webClient().endpoints.servicePageBase()));
        list_->setShownScreen(shown_);
    }
    return list_;
}

void HXMessageListPlaceholderScreen::viewWillAppear(bool animated) {
    HXPlaceholderScreen::viewWillAppear(animated);
    shown_ = true;
    if (list_) list_->setShownScreen(true);
}

void HXMessageListPlaceholderScreen::viewDidDisappear(bool animated) {
    HXPlaceholderScreen::viewDidDisappear(animated);
    shown_ = false;
    if (list_) list_->setShownScreen(false);
}

std::shared_ptr<HXPlaceholderScreen> hxMakeRootScreen(int index) {
    if (index < 0 || index >= kHXViewCount) return nullptr;
    const auto& spec = kHXViews[index];
    std::shared_ptr<HXPlaceholderScreen> root;
    if (index >= 1 && index <= 3)
        root = std::make_shared<HXMessageListPlaceholderScreen>(spec.screen, index);
    else
        root = std::make_shared<HXPlaceholderScreen>(spec.screen);
    root->setTitle(spec.title);
    return root;
}
