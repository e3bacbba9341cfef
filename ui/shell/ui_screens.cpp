#include "ui/shell/ui_screens.h"

#include "platform/graphics/color.h"
#include "platform/toolkit/traits.h"
#include "ui/compose/vc_new_message.h"
#include "ui/dialer/vc_call.h"
#include "ui/help/vc_progress.h"
#include "ui/messages/vc_messages.h"
#include "ui/passcode/hxc_pad_lock_screen_setup_view_controller.h"
#include "ui/passcode/hxc_pad_lock_screen_view.h"
#include "ui/passcode/hxc_pad_lock_screen_view_controller.h"
#include "ui/passcode/hxc_passcode_settings_view_controller.h"
#include "ui/shell/options_popover.h"
#include "ui/shell/split_view_master.h"
#include "ui/signin/login_panel.h"

std::shared_ptr<toolkit::ViewController> HXUIScreens::makeLoginPanel(const HXScreenRoles& roles) {
    return std::make_shared<VC_LoginPanel>(roles);
}

bool HXUIScreens::presentLoginPanelInPopover(const std::shared_ptr<toolkit::ViewController>& panel,
                                             toolkit::ViewController& master,
                                             const std::shared_ptr<toolkit::BarButtonItem>& anchor) {
    return ::presentLoginPanelInPopover(panel, master, anchor) != nullptr;
}

std::shared_ptr<HXSplitViewMaster> HXUIScreens::makeSplitViewMaster(const HXScreenRoles& roles) {
    return std::make_shared<VC_SplitView_Master>(roles);
}

std::shared_ptr<toolkit::ViewController> HXUIScreens::makeProgressScreen(const std::string& statusText) {
    return std::make_shared<VC_Progress>(statusText);
}

std::shared_ptr<HXOptionsPopover> HXUIScreens::showPopover(graphics::Point point, toolkit::View& view,
                                                           const std::vector<std::string>& strings,
                                                           std::weak_ptr<HXOptionsPopoverDelegate> delegate) {
    return showOptionsPopover(point, view, strings, std::move(delegate));
}

std::shared_ptr<toolkit::ViewController> HXUIScreens::makeRootScreen(int index, const HXScreenRoles& roles) {
    // View 0 is the dial pad. The lists' common screen (VC_Messages, made with the lists' role)
    // does not stand at the list views yet: a refresh of a model made on first use sends nothing
    // until the list screens set up their model as they appear. Until then the shell keeps its
    // placeholders there.
    if (index == 0) return std::make_shared<VC_Call>(roles);
    return nullptr;
}

std::shared_ptr<HXPasscodePadScreen>
HXUIScreens::makePadLockScreen(std::weak_ptr<HXCPadLockScreenViewControllerDelegate> delegate, bool complexPin) {
    return std::make_shared<HXCPadLockScreenViewController>(std::move(delegate), complexPin);
}

std::shared_ptr<HXPasscodePadScreen>
HXUIScreens::makePadLockSetupScreen(std::weak_ptr<HXCPadLockScreenSetupViewControllerDelegate> delegate,
                                    bool complexPin) {
    return std::make_shared<HXCPadLockScreenSetupViewController>(std::move(delegate), complexPin);
}

std::shared_ptr<toolkit::ViewController> HXUIScreens::makePasscodeSettingsScreen(const HXScreenRoles& roles) {
    const auto style = toolkit::Device::current().systemVersionAtLeast(13) ? toolkit::TableViewStyle::InsetGrouped
                                                                           : toolkit::TableViewStyle::Grouped;
    return std::make_shared<HXCPasscodeSettingsViewController>(roles, style);
}

void HXUIScreens::applyPasscodePadAppearance() { HXCPadLockScreenView::applyAppTheme(); }

std::shared_ptr<toolkit::ViewController> HXUIScreens::makeNewMessage(const HXScreenRoles& roles,
                                                                     const std::vector<std::string>& recipients,
                                                                     const std::string& conversationID,
                                                                     const std::string& messageText) {
    auto screen = std::make_shared<VC_NewMessage>(roles);
    std::vector<std::shared_ptr<HXCToken>> tokens;
    for (const auto& recipient : recipients) {
        auto token = std::make_shared<HXCToken>(recipient);
        token->setTintColor(graphics::Color::systemBlue());
        token->setTextColor(graphics::Color::whiteColor());
        token->setHighlightedTextColor(graphics::Color::whiteColor());
        tokens.push_back(std::move(token));
    }
    screen->setTokens(std::move(tokens));
    screen->setConversationID(conversationID);
    screen->setMessageText(messageText);
    return screen;
}
