// The roles the application object hands its screens (app/shell_roles.h).
#include "app/shell_roles.h"

#include "app/connect_app_delegate.h"
#include "app/hxc_passcode_lock.h"
#include "app/roles/message_list_host.h"
#include "app/views.h"
#include "model/account.h"
#include "model/contacts.h"
#include "model/quick_setting.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/user_defaults.h"
#include "platform/services/contacts.h"
#include "service/calls.h"
#include "service/conversation_operations.h"
#include "service/conversation_pages.h"
#include "service/conversation_requests.h"
#include "service/endpoints.h"
#include "service/media_operations.h"
#include "service/message_list_model.h"
#include "service/request_machinery.h"
#include "service/settings_updates.h"
#include "service/sms_sending.h"

namespace {

// A role of the application object as a pointer that shares owner's lifetime.
template <typename Role>
std::shared_ptr<Role> shared(const std::shared_ptr<void>& owner, Role& role) {
    return owner ? std::shared_ptr<Role>(owner, &role) : nullptr;
}

}  // namespace

HXShellRoles::HXShellRoles(HX_ConnectAppDelegate& app, HXShellRoleSlices handed)
    : slices(std::move(handed)),
      routing(app),
      lists(app, routing),
      options(app),
      store(app),
      passcode(routing, HXCPasscodeLock::sharedLock()),
      dialPad(app),
      listActions(app, slices, HXCPasscodeLock::sharedLock()),
      compose(app),
      conversation(app, slices),
      quickSettings(app) {}

// What the application object hands its roles of itself: its own members, reached from here.
HXShellRoleSlices HX_ConnectAppDelegate::roleSlices() {
    return HXShellRoleSlices{.passcodeLockShown = [this] { return lockShown; },
                             .openAppURL = [this](const std::string& url) { return applicationOpenURL(url); }};
}

HXScreenRoles HXShellRoles::share(const std::shared_ptr<HXApplicationWebClient>& owner) {
    if (!owner) return {};
    return HXScreenRoles{.signIn = shared<HXSignInRole>(owner, *owner),
                         .lists = shared<HXListLoadingRole>(owner, lists),
                         .conversations = shared<HXConversationActionsRole>(owner, *owner),
                         .options = shared<HXConversationOptionsRole>(owner, options),
                         .store = shared<HXStoreRole>(owner, store),
                         .routing = shared<HXRoutingRole>(owner, routing),
                         .settings = shared<HXSettingsRole>(owner, *owner),
                         .splitView = {},
                         .passcode = shared<HXPasscodeRole>(owner, passcode),
                         .dialPad = shared<HXDialPadRole>(owner, dialPad),
                         .listActions = shared<HXListActionsRole>(owner, listActions),
                         .compose = shared<HXComposeRole>(owner, compose),
                         .conversation = shared<HXConversationRole>(owner, conversation),
                         .accountSettings = shared<HXAccountSettingsRole>(owner, *owner),
                         .accounts = shared<HXAccountListRole>(owner, *owner),
                         .quickSettings = shared<HXQuickSettingsRole>(owner, quickSettings),
                         .media = shared<HXMediaRole>(owner, *HXMediaOperations::of(owner)),
                         .alerts = shared<HXAlertsRole>(owner, *owner),
                         .callChoice = shared<HXCallChoiceRole>(owner, *HXCalls::of(owner)),
                         .sending = shared<HXSendingRole>(owner, *HXMessageSender::of(owner)),
                         .serviceSettings = shared<HXServiceSettingsRole>(owner, *HXSettingsUpdates::of(owner)),
                         .conversationOperations =
                             shared<HXConversationOperationsRole>(owner, *HXConversationOperations::of(owner)),
                         .overlay = shared<HXLoadingOverlayRole>(owner, *owner),
                         .pages = shared<HXConversationPagesRole>(owner, *HXConversationPagesOf(*owner))};
}

// ---- lists

std::shared_ptr<HXMessageListModel> HXAppListLoadingRole::makeMessageList(int viewType) {
    return std::make_shared<HXMessageListModel>(
        client_.weakWebClient(),
        HXMessageListModel::viewSettingsForType(viewType, client_.endpoints().servicePageBase()));
}

void HXAppListLoadingRole::refreshMessageList(int view) {
    if (view < 1 || view > 3) return;
    // The list reloads from its first page, as a refresh from outside it does.
    if (auto* root = dynamic_cast<HXMessageListHost*>(routing_.viewControllerForIndex(view).get()))
        if (auto list = root->messageList()) list->loadMessages(HXMessageListModel::Sender::None);
}

std::optional<bool> HXAppListLoadingRole::isLoadingMessages(toolkit::ViewController& root) {
    auto* host = dynamic_cast<HXMessageListHost*>(&root);
    auto list = host ? host->messageList() : nullptr;
    if (!list) return std::nullopt;
    return list->isLoadingMessages();
}

// ---- conversation options

void HXAppConversationOptionsRole::showOptionsForConversation(const std::string& conversationID, graphics::Point point,
                                                              toolkit::View& view) {
    app_.showOptionsForConversation(conversationID, point, view);
}

// ---- passcode

HXCPasscodeLock& HXAppPasscodeRole::passcodeLock() { return lock_; }

std::shared_ptr<toolkit::ViewController> HXAppPasscodeRole::passcodePadDelegateScreen() {
    return routing_.viewControllerForIndex(4);
}

// ---- dial pad

std::function<std::string(const std::string&)> HXAppDialPadRole::contactNameLookup() {
    const hxcontacts::ContactList list = model_.allContacts();
    const bool familyFirst = services::ContactStore::defaultSortOrder() == services::ContactSortOrder::FamilyName;
    return [list, familyFirst](const std::string& number) -> std::string {
        if (number.empty()) return {};
        return hxcontacts::displayName(hxcontacts::matchingPhone(list, number), familyFirst);
    };
}

// ---- a list's rows

bool HXAppListActionsRole::isInBackground() const { return model_.isInBackground(); }

bool HXAppListActionsRole::passcodeLockShown() const { return slices_.passcodeLockShown(); }

bool HXAppListActionsRole::passcodeRequired() const { return lock_.passcodeRequired(); }

bool HXAppListActionsRole::isSignedIn() const {
    auto acct = model_.account();
    return acct && acct->authV2().has_value();
}

void HXAppListActionsRole::refreshContactName(const std::string& number) { model_.lookupPhone(number); }

// ---- compose (the recipient pickers in app/shell_recipient_pickers.cpp)

std::string HXAppComposeRole::contactNameForNumber(std::string_view number) {
    return client_.contactNameForNumber(number);
}

void HXAppComposeRole::searchContactsMatchingName(const std::string& query, std::function<void(ContactList)> found) {
    // The search takes a copy of the list along, never the application object; the answer goes
    // back on the main queue.
    dispatch::Queue::global(dispatch::Priority::Background)
        ->async([list = client_.allContacts(), query, found = std::move(found)]() mutable {
            auto hits = hxcontacts::matchingName(list, query);
            dispatch::Queue::main()->async(
                [hits = std::move(hits), found = std::move(found)]() mutable { found(std::move(hits)); });
        });
}

void HXAppComposeRole::recordContactSelection(const ContactEntry& entry) {
    // The pick changes the application object's list and preferences: it is recorded on the main
    // queue, where the object lives, after the selection has been handled.
    dispatch::Queue::main()->async([weak = client_.weakWebClient(), entry] {
        if (auto self = weak.lock()) self->updateLastSelectionForContact(entry);
    });
}

// ---- the conversation screen

std::shared_ptr<store::ManagedObject> HXAppConversationRole::getConversationWithID(const std::string& conversationID) {
    return client_.getConversationWithID(conversationID);
}

std::shared_ptr<HXStoreRows> HXAppConversationRole::messageRows(const std::string& conversationID,
                                                                std::weak_ptr<HXRowsObserver> observer) {
    return HXConversationMessageRows(client_, conversationID, std::move(observer));
}

bool HXAppConversationRole::deleteMessage(const std::string& conversationID, const std::string& messageID) {
    return HXDeleteMessage(client_, conversationID, messageID);
}

void HXAppConversationRole::setNote(const std::optional<std::string>& note, const std::string& conversationID) {
    client_.setNote(note, conversationID);
}

void HXAppConversationRole::addContact(const std::string& name, const std::string& number, const std::string& type) {
    client_.addContact(name, number, type);
}

std::string HXAppConversationRole::recordIDForNumber(const std::string& number) {
    return client_.recordIDForNumber(number);
}

void HXAppConversationRole::setContactName(const std::string& conversationID, const std::string& name) {
    if (auto conversation = client_.getConversationWithID(conversationID))
        (void)conversation->setValue("ABName", foundation::Value(name));
}

void HXAppConversationRole::resetContacts() { client_.resetContacts(); }

void HXAppConversationRole::lookupPhone(const std::string& number) { client_.lookupPhone(number); }

bool HXAppConversationRole::openAppURL(const std::string& url) { return slices_.openAppURL(url); }

// ---- quick settings

std::shared_ptr<HX_QuickSetting> HXAppQuickSettingsRole::currentSettings() const {
    auto account = app_.account();
    return account ? account->quickSetting(app_, *foundation::UserDefaults::standardUserDefaults()) : nullptr;
}

// (the presets' application and regions in app/shell_quick_settings.cpp)
