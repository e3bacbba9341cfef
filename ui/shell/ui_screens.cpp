#include "ui/shell/ui_screens.h"

#include "app/views.h"
#include "platform/foundation/bundle.h"
#include "platform/graphics/color.h"
#include "platform/toolkit/traits.h"
#include "ui/compose/image_preview_animation_controller.h"
#include "ui/compose/vc_group_details.h"
#include "ui/compose/vc_image_preview.h"
#include "ui/compose/vc_new_message.h"
#include "ui/compose/vc_vcard_multiple_selection.h"
#include "ui/conversation/vc_conversation.h"
#include "ui/conversation/vc_note_edit.h"
#include "ui/dialer/vc_call.h"
#include "ui/dialer/vc_favorites.h"
#include "ui/help/vc_help.h"
#include "ui/help/vc_legal.h"
#include "ui/help/vc_progress.h"
#include "ui/messages/vc_history.h"
#include "ui/messages/vc_messages.h"
#include "ui/messages/vc_sms.h"
#include "ui/messages/vc_vm.h"
#include "ui/passcode/hxc_pad_lock_screen_setup_view_controller.h"
#include "ui/passcode/hxc_pad_lock_screen_view.h"
#include "ui/passcode/hxc_pad_lock_screen_view_controller.h"
#include "ui/passcode/hxc_passcode_settings_view_controller.h"
#include "ui/settings/vc_accounts.h"
#include "ui/settings/vc_location_details.h"
#include "ui/settings/vc_notification_types.h"
#include "ui/settings/vc_qs_details.h"
#include "ui/settings/vc_qs_location.h"
#include "ui/settings/vc_quick_settings.h"
#include "ui/settings/vc_settings.h"
#include "ui/shell/options_popover.h"
#include "ui/shell/split_view_master.h"
#include "ui/signin/login_panel.h"
#include "ui/widgets/default_contact_image.h"

namespace {

// Each screen takes the roles it uses, picked here from the set the shell hands the makers.
VC_Messages::Roles listRoles(const HXScreenRoles& roles) {
    return {.lists = roles.lists,
            .listActions = roles.listActions,
            .conversationOperations = roles.conversationOperations,
            .conversations = roles.conversations,
            .options = roles.options,
            .routing = roles.routing,
            .alerts = roles.alerts};
}

// A row of any list opens its conversation through the library's conversation screen.
VC_Messages::Makers listMakers(const std::shared_ptr<HXUIScreens>& lib, const HXScreenRoles& roles) {
    return {.conversation = [lib, roles](const HXConversationSetup& setup) -> std::shared_ptr<toolkit::ViewController> {
        return lib->makeConversationScreen(roles, setup);
    }};
}

VC_Favorites::Roles favoritesRoles(const HXScreenRoles& roles) { return {.alerts = roles.alerts}; }

// The favourites list the dial pad and the new message open, with the opener's hand-back.
std::function<std::shared_ptr<toolkit::ViewController>(HXScreens::FavoritesHandBack)>
favoritesMaker(const std::shared_ptr<HXUIScreens>& lib, const HXScreenRoles& roles) {
    return
        [lib, roles](HXScreens::FavoritesHandBack handBack) { return lib->makeFavorites(roles, std::move(handBack)); };
}

// The lists the settings screens push: inset from system version 13 on.
toolkit::TableViewStyle listStyle() {
    return toolkit::Device::current().systemVersionAtLeast(13) ? toolkit::TableViewStyle::InsetGrouped
                                                               : toolkit::TableViewStyle::Grouped;
}

std::shared_ptr<VC_ImagePreview> imagePreview(const HXScreenRoles& roles, const std::string& mediaID) {
    return std::make_shared<VC_ImagePreview>(VC_ImagePreview::Roles{.store = roles.store}, mediaID);
}

VC_Conversation::Makers conversationMakers(const std::shared_ptr<HXUIScreens>& lib, const HXScreenRoles& roles);

// A pad the passcode settings present: a wrong PIN shakes it.
std::shared_ptr<HXPasscodePadScreen> shakingOnError(std::shared_ptr<HXPasscodePadScreen> pad) {
    if (auto* abstract = dynamic_cast<HXCPadLockScreenAbstractViewController*>(pad.get()))
        abstract->setErrorVibrateEnabled(true);
    return pad;
}

}  // namespace

std::shared_ptr<toolkit::ViewController> HXUIScreens::makeLoginPanel(const HXScreenRoles& roles) {
    return std::make_shared<VC_LoginPanel>(
        VC_LoginPanel::Roles{.signIn = roles.signIn, .routing = roles.routing, .alerts = roles.alerts});
}

bool HXUIScreens::presentLoginPanelInPopover(const std::shared_ptr<toolkit::ViewController>& panel,
                                             toolkit::ViewController& master,
                                             const std::shared_ptr<toolkit::BarButtonItem>& anchor) {
    return ::presentLoginPanelInPopover(panel, master, anchor) != nullptr;
}

std::shared_ptr<HXUIScreens> HXUIScreens::library() {
    if (auto owned = weak_from_this().lock()) return owned;
    return std::make_shared<HXUIScreens>();
}

std::shared_ptr<HXSplitViewMaster> HXUIScreens::makeSplitViewMaster(const HXScreenRoles& roles) {
    const auto lib = library();
    return std::make_shared<VC_SplitView_Master>(
        VC_SplitView_Master::Roles{.splitView = roles.splitView,
                                   .routing = roles.routing,
                                   .lists = roles.lists,
                                   .settings = roles.settings,
                                   .conversations = roles.conversations,
                                   .alerts = roles.alerts},
        VC_SplitView_Master::Makers{.help = [lib, roles] { return lib->makeHelp(roles); },
                                    .accountList = [lib, roles] { return lib->makeAccountList(roles); }});
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
    // The dial pad stands at view 0, the message lists at views 1 to 3, the settings at view 4.
    switch (index) {
        case 0:
            return std::make_shared<VC_Call>(VC_Call::Roles{.dialPad = roles.dialPad,
                                                            .routing = roles.routing,
                                                            .conversations = roles.conversations,
                                                            .alerts = roles.alerts,
                                                            .callChoice = roles.callChoice},
                                             VC_Call::Makers{.favorites = favoritesMaker(library(), roles)});
        case 1:
            return std::make_shared<VC_SMS>(listRoles(roles), listMakers(library(), roles), 1);
        case 2:
            return std::make_shared<VC_VM>(listRoles(roles), listMakers(library(), roles), 2);
        case 3:
            return std::make_shared<VC_History>(listRoles(roles), listMakers(library(), roles), 3);
        case 4: {
            const auto lib = library();
            return std::make_shared<VC_Settings>(
                VC_Settings::Roles{.accountSettings = roles.accountSettings,
                                   .routing = roles.routing,
                                   .passcode = roles.passcode,
                                   .alerts = roles.alerts,
                                   .callChoice = roles.callChoice,
                                   .snapshot = roles.quickSettings,
                                   .serviceSettings = roles.serviceSettings,
                                   .overlay = roles.overlay},
                VC_Settings::Makers{.accountList = [lib, roles] { return lib->makeAccountList(roles); },
                                    .help = [lib, roles] { return lib->makeHelp(roles); },
                                    .quickSettings = [lib, roles] { return lib->makeQuickSettingsScreen(roles); },
                                    .notifications = [lib] { return lib->makeNotificationTypes(); },
                                    .passcode = [lib, roles] { return lib->makePasscodeSettingsScreen(roles); }});
        }
        default:
            return nullptr;
    }
}

std::shared_ptr<HXConversationScreen> HXUIScreens::makeConversationScreen(const HXScreenRoles& roles,
                                                                          const HXConversationSetup& setup) {
    auto screen =
        std::make_shared<VC_Conversation>(VC_Conversation::Roles{.conversation = roles.conversation,
                                                                 .conversations = roles.conversations,
                                                                 .options = roles.options,
                                                                 .conversationOperations = roles.conversationOperations,
                                                                 .routing = roles.routing,
                                                                 .store = roles.store,
                                                                 .media = roles.media,
                                                                 .lists = roles.lists,
                                                                 .alerts = roles.alerts,
                                                                 .sending = roles.sending,
                                                                 .pages = roles.pages},
                                          conversationMakers(library(), roles), setup);
    return screen;
}

std::shared_ptr<toolkit::ViewController> HXUIScreens::makeGroupDetails(const HXScreenRoles& roles,
                                                                       const std::string& numberString) {
    auto details = std::make_shared<VC_GroupDetails>(VC_GroupDetails::Roles{.conversation = roles.conversation,
                                                                            .compose = roles.compose,
                                                                            .media = roles.media,
                                                                            .conversations = roles.conversations,
                                                                            .store = roles.store,
                                                                            .alerts = roles.alerts});
    details->setNumberString(numberString);
    // Shown in a navigation controller of its own, as a popover (full screen on the phone).
    auto nav = std::make_shared<toolkit::NavigationController>(details);
    nav->modalPresentationStyle = toolkit::ModalPresentationStyle::Popover;
    return nav;
}

namespace {

VC_Conversation::Makers conversationMakers(const std::shared_ptr<HXUIScreens>& lib, const HXScreenRoles& roles) {
    return {
        .groupDetails = [lib, roles](const std::string& numbers) { return lib->makeGroupDetails(roles, numbers); },
        .imagePreview = [roles](const std::string& mediaID, graphics::ImagePtr still,
                                std::shared_ptr<graphics::HXCAnimatedImage> animated,
                                const std::shared_ptr<toolkit::TransitioningDelegate>& transitions)
            -> std::shared_ptr<toolkit::ViewController> {
            auto preview = imagePreview(roles, mediaID);
            preview->setImage(std::move(still));
            preview->setAnimatedImage(std::move(animated));
            return hxImagePreviewNavigation(preview, transitions);
        },
        .previewTransition = [](bool presenting,
                                toolkit::Point sourcePoint) -> std::shared_ptr<toolkit::AnimatedTransitioning> {
            return std::make_shared<ImagePreview_AnimationController>(presenting, sourcePoint);
        },
        .vCardPicker =
            [lib, roles](const foundation::Data& vCard,
                         std::weak_ptr<system_screens::ContactViewControllerDelegate> delegate) {
                return lib->makeVCardPicker(roles, vCard, std::move(delegate));
            },
        .noteEdit =
            [lib, roles](const std::string& conversationID) { return lib->makeNoteEditScreen(roles, conversationID); }};
}

}  // namespace

std::shared_ptr<toolkit::ViewController>
HXUIScreens::makeImagePreview(const HXScreenRoles& roles, const std::string& mediaID, const foundation::Data& picture) {
    auto preview = imagePreview(roles, mediaID);
    if (!picture.empty()) preview->setPictureData(picture);
    return preview;
}

std::shared_ptr<toolkit::ViewController>
HXUIScreens::makeVCardPicker(const HXScreenRoles& roles, const foundation::Data& vCard,
                             std::weak_ptr<system_screens::ContactViewControllerDelegate> contactDelegate) {
    auto picker = std::make_shared<VC_VCardMultipleSelection>(
        VC_VCardMultipleSelection::Roles{.routing = roles.routing}, toolkit::TableViewStyle::Grouped);
    picker->setVCardDetails(vCard);
    picker->setContactDelegate(std::move(contactDelegate));
    return picker;
}

std::shared_ptr<toolkit::ViewController> HXUIScreens::makeNoteEditScreen(const HXScreenRoles& roles,
                                                                         const std::string& conversationID) {
    return std::make_shared<VC_NoteEdit>(
        VC_NoteEdit::Roles{.conversation = roles.conversation, .routing = roles.routing, .noteDraft = roles.noteDraft},
        conversationID);
}

std::shared_ptr<toolkit::ViewController> HXUIScreens::makeAccountList(const HXScreenRoles& roles) {
    return std::make_shared<VC_Accounts>(
        VC_Accounts::Roles{
            .accounts = roles.accounts, .routing = roles.routing, .passcode = roles.passcode, .alerts = roles.alerts},
        VC_Accounts::Makers{.newAccountSignIn =
                                [lib = library(), roles] {
                                    auto panel = lib->makeLoginPanel(roles);
                                    if (auto* login = dynamic_cast<VC_LoginPanel*>(panel.get()))
                                        login->isCreatingNewAccount();
                                    return panel;
                                }},
        listStyle());
}

std::shared_ptr<toolkit::ViewController> HXUIScreens::makeQuickSettingsScreen(const HXScreenRoles& roles) {
    const auto lib = library();
    return std::make_shared<VC_QuickSettings>(
        VC_QuickSettings::Roles{.quickSettings = roles.quickSettings, .alerts = roles.alerts},
        VC_QuickSettings::Makers{.locations = [lib, roles] { return lib->makeQuickSettingLocations(roles); },
                                 .editor =
                                     [lib, roles](const std::string& settingName) {
                                         return lib->makeQuickSettingEditor(roles, settingName);
                                     }},
        toolkit::TableViewStyle::Grouped);
}

std::shared_ptr<toolkit::ViewController> HXUIScreens::makeQuickSettingLocations(const HXScreenRoles& roles) {
    return std::make_shared<VC_QSLocation>(
        VC_QSLocation::Roles{.quickSettings = roles.quickSettings, .alerts = roles.alerts}, listStyle());
}

std::shared_ptr<toolkit::ViewController> HXUIScreens::makeQuickSettingEditor(const HXScreenRoles& roles,
                                                                             const std::string& settingName) {
    return std::make_shared<VC_QSDetails>(
        VC_QSDetails::Roles{
            .quickSettings = roles.quickSettings, .alerts = roles.alerts, .callChoice = roles.callChoice},
        VC_QSDetails::Makers{
            .location = [lib = library(),
                         roles](const std::string& name) { return lib->makeQuickSettingLocation(roles, name); }},
        settingName);
}

std::shared_ptr<toolkit::ViewController> HXUIScreens::makeQuickSettingLocation(const HXScreenRoles& roles,
                                                                               const std::string& settingName) {
    return std::make_shared<VC_LocationDetails>(
        VC_LocationDetails::Roles{.quickSettings = roles.quickSettings, .alerts = roles.alerts, .store = roles.store},
        settingName);
}

std::shared_ptr<toolkit::ViewController> HXUIScreens::makeHelp(const HXScreenRoles& roles) {
    return std::make_shared<VC_Help>(
        VC_Help::Roles{.routing = roles.routing, .settings = roles.settings, .conversations = roles.conversations},
        VC_Help::Makers{.legal = [lib = library()](bool iPad) { return lib->makeLegal(iPad); }});
}

std::shared_ptr<toolkit::ViewController> HXUIScreens::makeLegal(bool iPad) {
    auto legal = std::make_shared<VC_Legal>();
    legal->iPad = iPad;
    return legal;
}

std::shared_ptr<toolkit::ViewController> HXUIScreens::makeNotificationTypes() {
    return std::make_shared<VC_NotificationTypes>(listStyle());
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
    const auto lib = library();
    return std::make_shared<HXCPasscodeSettingsViewController>(
        HXCPasscodeSettingsViewController::Roles{.passcode = roles.passcode},
        HXCPasscodeSettingsViewController::Makers{
            .unlockPad =
                [lib](std::weak_ptr<HXCPadLockScreenViewControllerDelegate> delegate) {
                    return shakingOnError(lib->makePadLockScreen(std::move(delegate), false));
                },
            .setupPad =
                [lib](std::weak_ptr<HXCPadLockScreenSetupViewControllerDelegate> delegate) {
                    return shakingOnError(lib->makePadLockSetupScreen(std::move(delegate), false));
                }},
        listStyle());
}

void HXUIScreens::applyPasscodePadAppearance() { HXCPadLockScreenView::applyAppTheme(); }

std::shared_ptr<toolkit::ViewController> HXUIScreens::makeNewMessage(const HXScreenRoles& roles,
                                                                     const std::vector<std::string>& recipients,
                                                                     const std::string& conversationID,
                                                                     const std::string& messageText) {
    auto screen = std::make_shared<VC_NewMessage>(VC_NewMessage::Roles{.compose = roles.compose,
                                                                       .routing = roles.routing,
                                                                       .alerts = roles.alerts,
                                                                       .sending = roles.sending,
                                                                       .overlay = roles.overlay},
                                                  VC_NewMessage::Makers{.favorites = favoritesMaker(library(), roles)});
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

std::shared_ptr<toolkit::ViewController> HXUIScreens::makeFavorites(const HXScreenRoles& roles,
                                                                    FavoritesHandBack handBack) {
    if (!handBack) return nullptr;
    return std::make_shared<VC_Favorites>(
        favoritesRoles(roles),
        [handBack = std::move(handBack)](const std::string& number, const std::string& name, const std::string& label,
                                         VC_Favorites& list) { return handBack(number, name, label, list); });
}

void HXUIScreens::releaseSharedPictures() { releaseDefaultContactImage(); }
