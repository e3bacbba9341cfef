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
      conversations(app),
      options(app),
      store(app),
      passcode(routing, HXCPasscodeLock::sharedLock()),
      dialPad(app),
      listActions(app, slices, HXCPasscodeLock::sharedLock()),
      compose(app),
      conversation(app, slices),
      quickSettings(app),
      playback(app, slices) {}

// What the application object hands its roles of itself: its own members, reached from here.
HXShellRoleSlices HX_ConnectAppDelegate::roleSlices() {
    return HXShellRoleSlices{
        .useSpeaker = [this] { return useSpeaker(); },
        .setUseSpeaker = [this](bool on) { setUseSpeaker(on); },
        .downloadRecordedCallForID = [this](const std::string& id) { downloadRecordedCallForID(id); },
        .passcodeLockShown = [this] { return lockShown; },
        .openAppURL = [this](const std::string& url) { return applicationOpenURL(url); }};
}

HXScreenRoles HXShellRoles::share(const std::shared_ptr<HXApplicationWebClient>& owner) {
    if (!owner) return {};
    return HXScreenRoles{.signIn = shared<HXSignInRole>(owner, *owner),
                         .lists = shared<HXListLoadingRole>(owner, lists),
                         .conversations = shared<HXConversationActionsRole>(owner, conversations),
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
                         .playback = shared<HXPlaybackRole>(owner, playback),
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

// ---- conversation actions and options

void HXAppConversationActionsRole::placeCallTo(const std::string& number) { client_.placeCallTo(number); }

void HXAppConversationActionsRole::newMessageToNumber(const std::string& numbers, const std::string& text,
                                                      const std::string& conversationID) {
    client_.newMessageToNumber(numbers, text, conversationID);
}

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

std::shared_ptr<HXCCache> HXAppConversationRole::mediaCache() { return HXMediaCache(client_); }

bool HXAppConversationRole::requestThumbnail(const std::string& mediaID) {
    return HXRequestThumbnail(client_, mediaID);
}

void HXAppConversationRole::whenMediaArrives(const std::string& mediaID, std::function<void()> arrived) {
    // The web client names the end of a medium's request by its id, after it has kept the bytes.
    struct Waiter {
        std::function<void()> arrived;
    };
    auto waiter = std::make_shared<Waiter>(Waiter{std::move(arrived)});
    foundation::NotificationCenter::defaultCenter().addObserver(
        waiter.get(), mediaID, [waiter, mediaID](const foundation::Notification&) {
            dispatch::Queue::main()->async([waiter, mediaID] {
                foundation::NotificationCenter::defaultCenter().removeObserver(waiter.get(), mediaID);
                if (auto arrived = std::exchange(waiter->arrived, nullptr)) arrived();
            });
        });
}

void HXAppConversationRole::downloadFullSizeImage(const std::string& mediaID, const std::string& mimeType) {
    HXDownloadFullSizeImage(client_, mediaID, mimeType);
}

void HXAppConversationRole::downloadMediaIfNeeded(const std::string& mediaID, const std::string& mimeType,
                                                  bool forPreview) {
    client_.downloadMediaIfNeeded(mediaID, mimeType, forPreview);
}

std::string HXAppConversationRole::localURLForMedia(const std::string& mediaID, const std::string& mimeType) {
    return client_.localURLForMedia(mediaID, mimeType);
}

std::optional<foundation::Dictionary> HXAppConversationRole::imageInfoForSize(const std::string& size,
                                                                              const foundation::Array& infoArray) {
    return client_.imageInfoForSize(size, infoArray);
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

// ---- the voicemail player

void HXAppPlaybackRole::downloadVMforID(const std::string& conversationID) { client_.downloadVMforID(conversationID); }

void HXAppPlaybackRole::downloadRecordedCallForID(const std::string& conversationID) {
    slices_.downloadRecordedCallForID(conversationID);
}

bool HXAppPlaybackRole::useSpeaker() const { return slices_.useSpeaker(); }

void HXAppPlaybackRole::setUseSpeaker(bool on) { slices_.setUseSpeaker(on); }
