// The roles the application object plays for its screens (app/roles/screen_roles.h), each an
// object of its own. The application object owns them (HXShellRoles) and screenRoles() hands them
// out as pointers that share its lifetime: a screen that locks a role keeps the application object
// for that use, and finds nothing once it is gone. A role holds the slice it works on and the
// state that only it needs; the operations the application object's slices name stay theirs, and
// the role calls them.
#pragma once

#include <memory>

#include "app/roles/message_list_actions.h"
#include "app/roles/screen_roles.h"

class HXApplicationWebClient;
class HX_ConnectAppDelegate;
class HX_ConnectAppDelegate_iPad;
class HXContactPhonePicker;

// The web sign-in panel's: all of it the web client's.
class HXAppSignInRole final : public HXSignInRole {
public:
    explicit HXAppSignInRole(HXApplicationWebClient& client) : client_(client) {}
    std::shared_ptr<HX_Account> account() const override;
    const HXEndpoints& endpoints() override;
    void completeWebSignIn(const std::string& username, std::vector<net::Cookie> cookies,
                           const std::string& url) override;

private:
    HXApplicationWebClient& client_;
};

// The lists': a model on the web client, and a view's list found through the shell's views.
class HXAppListLoadingRole final : public HXListLoadingRole {
public:
    explicit HXAppListLoadingRole(HX_ConnectAppDelegate& app) : app_(app) {}
    std::shared_ptr<HXMessageListModel> makeMessageList(int viewType) override;
    void refreshMessageList(int view) override;
    void loadPhoneSettings() override;
    std::optional<bool> isLoadingMessages(toolkit::ViewController& root) override;

private:
    HX_ConnectAppDelegate& app_;
};

// A call or a new message to a number: the web client's operations.
class HXAppConversationActionsRole final : public HXConversationActionsRole {
public:
    explicit HXAppConversationActionsRole(HXApplicationWebClient& client) : client_(client) {}
    void placeCallTo(const std::string& number) override;
    void newMessageToNumber(const std::string& numbers, const std::string& text,
                            const std::string& conversationID) override;

private:
    HXApplicationWebClient& client_;
};

// The options popover: the shell's.
class HXAppConversationOptionsRole final : public HXConversationOptionsRole {
public:
    explicit HXAppConversationOptionsRole(HX_ConnectAppDelegate& app) : app_(app) {}
    void showOptionsForConversation(const std::string& conversationID, graphics::Point point,
                                    toolkit::View& view) override;

private:
    HX_ConnectAppDelegate& app_;
};

// The rating request and the store's page: the shell's.
class HXAppStoreRole final : public HXStoreRole {
public:
    explicit HXAppStoreRole(HX_ConnectAppDelegate& app) : app_(app) {}
    void requestReview() override;
    void openAppWithID(int64_t itemID, const std::string& tag) override;

private:
    HX_ConnectAppDelegate& app_;
};

// Routing and presentation: the shell's (the device form's).
class HXAppRoutingRole final : public HXRoutingRole {
public:
    explicit HXAppRoutingRole(HX_ConnectAppDelegate& app) : app_(app) {}
    bool iPad() const override;
    bool isSplitViewCollapsed() override;
    int currentViewIndex() override;
    void selectViewForIndex(int index) override;
    void dismissPopoverAnimated(bool animated) override;
    void presentMailController(const std::shared_ptr<toolkit::ViewController>& composer) override;
    void enterSearch(int view) override;
    void setFirstResponder() override;

private:
    HX_ConnectAppDelegate& app_;
};

// Settings and the account: the shell's.
class HXAppSettingsRole final : public HXSettingsRole {
public:
    explicit HXAppSettingsRole(HX_ConnectAppDelegate& app) : app_(app) {}
    std::shared_ptr<HX_Account> account() const override;
    const std::string& versionString() override;
    void updateAccountPrefs() override;

private:
    HX_ConnectAppDelegate& app_;
};

// The passcode settings screen's: the pads' background, the settings view's root as the pads'
// delegate, and the lock's settings.
class HXAppPasscodeRole final : public HXPasscodeRole {
public:
    explicit HXAppPasscodeRole(HX_ConnectAppDelegate& app) : app_(app) {}
    HXCPasscodeLock& passcodeLock() override;
    std::shared_ptr<toolkit::View> passcodeBackgroundViewWithFrame(double x, double y, double width,
                                                                   double height) override;
    std::shared_ptr<toolkit::ViewController> passcodePadDelegateScreen() override;

private:
    HX_ConnectAppDelegate& app_;
};

// The dial pad's and the favourites': the account, contacts, the call request's state (the
// web client's) and alerts over a screen (the shell's).
class HXAppDialPadRole final : public HXDialPadRole {
public:
    explicit HXAppDialPadRole(HX_ConnectAppDelegate& app) : app_(app) {}
    std::shared_ptr<HX_Account> account() const override;
    std::function<std::string(const std::string& number)> contactNameLookup() override;
    bool isABAccessRestricted() override;
    bool connectionAvailable() const override;
    bool callRequestInFlight() override;
    bool canChangeCallback() override;
    bool canPlaceCalls() const override;
    std::string forwardingNumberControllerTitle() override;
    bool isNewForwardingPhoneID(int64_t phoneID) override;
    void presentAlert(const std::shared_ptr<toolkit::AlertController>& alert, toolkit::ViewController* from) override;

private:
    HX_ConnectAppDelegate& app_;
};

// The list screens' row operations: the web client's conversation operations, and the
// conversation screen a row opens (the screen library's, made with the roles).
class HXAppListActionsRole final : public HXListActionsRole {
public:
    explicit HXAppListActionsRole(HX_ConnectAppDelegate& app) : app_(app) {}
    bool connectionAvailable() const override;
    bool isInBackground() const override;
    bool passcodeLockShown() const override;
    bool isSignedIn() const override;
    void refreshContactName(const std::string& number) override;
    std::vector<int> messageOptionsForConversation(const std::shared_ptr<store::ManagedObject>& conversation) override;
    std::optional<std::string> titleForConversationAction(int code) override;
    std::optional<std::string> imageForConversationAction(int code) override;
    void deleteConversationWithID(const std::string& conversationID) override;
    void changeArchiveStateForConversationWithID(const std::string& conversationID) override;
    void changeReadStatusForConversationWithID(const std::string& conversationID) override;
    void markConversation(const std::string& conversationID, bool read) override;
    void blockContact(bool block, const std::string& conversationID) override;
    void createEmailForConversationWithID(const std::string& conversationID) override;
    void changeSpamStatusForConversationWithID(const std::string& conversationID) override;
    std::shared_ptr<toolkit::ViewController> makeConversationScreen(const HXConversationSetup& setup) override;

private:
    HX_ConnectAppDelegate& app_;
};

// The new-message screen's: sending and the overlay (the application object's), contacts (the
// data model's) and the recipient pickers, whose contact picker's delegate it keeps.
class HXAppComposeRole final : public HXComposeRole {
public:
    explicit HXAppComposeRole(HX_ConnectAppDelegate& app) : app_(app) {}
    std::shared_ptr<HX_Account> account() const override;
    void sendSMS(const std::string& text, const std::optional<std::string>& recipients,
                 const std::optional<std::string>& conversationID, HXSendCompletion completion) override;
    void sendMMS(const std::string& text, const std::vector<HXMMSImage>& images,
                 const std::optional<std::string>& recipients, const std::optional<std::string>& conversationID,
                 HXSendCompletion completion) override;
    void showLoadingOverlay(const std::string& statusText) override;
    void removeLoadingOverlay() override;
    bool loadingOverlayShown() const override;
    void presentAlert(const HXAlert& alert) override;
    std::string contactNameForNumber(std::string_view number) override;
    void searchContactsMatchingName(const std::string& query, std::function<void(ContactList)> found) override;
    void recordContactSelection(const ContactEntry& entry) override;
    bool isABAccessRestricted() override;
    void presentRecipientPicker(RecipientPicker picker, toolkit::ViewController& presenter,
                                RecipientPicked picked) override;

private:
    HX_ConnectAppDelegate& app_;
    // The adapter of the contact picker opened last (the picker holds it weakly); replaced at
    // each opening.
    std::shared_ptr<HXContactPhonePicker> recipientPicker_;
};

// The conversation screen's and the note editor's: the web client's conversation operations and
// media, the data model's contacts, the shell's sending, alerts and URLs, the tablet's note cache.
class HXAppConversationRole final : public HXConversationRole {
public:
    explicit HXAppConversationRole(HX_ConnectAppDelegate& app) : app_(app) {}
    std::shared_ptr<HX_Account> account() const override;
    std::shared_ptr<store::ManagedObject> getConversationWithID(const std::string& conversationID) override;
    std::shared_ptr<HXStoreRows> messageRows(const std::string& conversationID,
                                             std::weak_ptr<HXRowsObserver> observer) override;
    void loadOlderMessages(const std::string& conversationID, const std::string& paginationToken,
                           HXPageCompletion done) override;
    void loadNewestMessages(const std::string& conversationID, HXPageCompletion done) override;
    bool deleteMessage(const std::string& conversationID, const std::string& messageID) override;
    void setNote(const std::optional<std::string>& note, const std::string& conversationID) override;
    void addContact(const std::string& name, const std::string& number, const std::string& type) override;
    std::shared_ptr<HXCCache> mediaCache() override;
    bool requestThumbnail(const std::string& mediaID) override;
    void whenMediaArrives(const std::string& mediaID, std::function<void()> arrived) override;
    void downloadFullSizeImage(const std::string& mediaID, const std::string& mimeType) override;
    void downloadMediaIfNeeded(const std::string& mediaID, const std::string& mimeType, bool forPreview) override;
    std::string localURLForMedia(const std::string& mediaID, const std::string& mimeType) override;
    std::optional<foundation::Dictionary> imageInfoForSize(const std::string& size,
                                                           const foundation::Array& infoArray) override;
    std::string recordIDForNumber(const std::string& number) override;
    void setContactName(const std::string& conversationID, const std::string& name) override;
    void resetContacts() override;
    void lookupPhone(const std::string& number) override;
    bool isABAccessRestricted() override;
    void sendSMS(const std::string& text, const std::string& number, const std::string& conversationID,
                 HXSendCompletion completion) override;
    void sendMMS(const std::string& text, const std::vector<HXMMSImage>& images, const std::string& number,
                 const std::string& conversationID, HXSendCompletion completion) override;
    void presentAlert(const HXAlert& alert) override;
    bool openAppURL(const std::string& url) override;
    std::optional<foundation::Dictionary> popoverCache() const override;
    void setPopoverCache(const foundation::Dictionary& cache) override;

private:
    HX_ConnectAppDelegate& app_;
};

// The settings screen's: the service settings' changes (service/settings_updates.h, on the web
// client), the callback choice (the calls'), the application's preferences and caches (the
// shell's).
class HXAppAccountSettingsRole final : public HXAccountSettingsRole {
public:
    explicit HXAppAccountSettingsRole(HX_ConnectAppDelegate& app) : app_(app) {}
    std::shared_ptr<HX_Account> account() const override;
    bool connectionAvailable() const override;
    bool isIdle() override;
    bool canChangeCallback() override;
    bool canPlaceCalls() const override;
    std::string forwardingNumberControllerTitle() override;
    bool isNewForwardingPhoneID(int64_t phoneID) override;
    std::shared_ptr<HX_QuickSetting> currentQuickSetting() override;
    bool canMonitorRegions() override;
    void presentAlert(const std::shared_ptr<toolkit::AlertController>& alert, toolkit::ViewController* from) override;
    void removeLoadingOverlay() override;
    void changeServiceSetting(HXServiceSetting setting, bool value, HXSettingsCompletion completion) override;
    void changeVMGreeting(const std::string& greetingId, HXSettingsCompletion completion) override;
    void changeForwarding(long index, bool status, HXSettingsCompletion completion) override;
    bool preference(Preference preference) const override;
    void setPreference(Preference preference, bool on) override;
    void updateUnreadCounts() override;
    void updateAccountPrefs() override;
    void clearMessageCache() override;
    void clearAudioCache() override;
    void clearCookieCache() override;
    void clearImageCache() override;

private:
    HX_ConnectAppDelegate& app_;
};

// The account list's: the session's operations (the web client's).
class HXAppAccountListRole final : public HXAccountListRole {
public:
    explicit HXAppAccountListRole(HX_ConnectAppDelegate& app) : app_(app) {}
    std::shared_ptr<HX_Account> account() const override;
    void logout() override;
    void selectAccountForUserName(const std::string& username) override;
    void loadInitialData() override;
    void deleteAccountForUsername(const std::string& username) override;
    void displayLogin() override;
    void presentAlert(const HXAlert& alert) override;

private:
    HX_ConnectAppDelegate& app_;
};

// The tablet's master list's: the split view's detail column and the unread counts (the tablet
// form's).
class HXAppSplitViewRole final : public HXSplitViewRole {
public:
    explicit HXAppSplitViewRole(HX_ConnectAppDelegate_iPad& app) : app_(app) {}
    std::shared_ptr<toolkit::NavigationController> viewControllerForViewType(int type) override;
    bool isDetailShown(int type) const override;
    void showDetailForViewType(int type) override;
    long long unreadSMSCount() const override;
    long long unreadVMCount() const override;

private:
    HX_ConnectAppDelegate_iPad& app_;
};

// The quick-settings screens': the presets, their application and region monitoring (the shell's).
class HXAppQuickSettingsRole final : public HXQuickSettingsRole {
public:
    explicit HXAppQuickSettingsRole(HX_ConnectAppDelegate& app) : app_(app) {}
    std::shared_ptr<HX_Account> account() const override;
    std::shared_ptr<HX_QuickSetting> currentSettings() const override;
    void selectQuickSettingWithName(const std::string& name) override;
    std::shared_ptr<services::LocationManager> locationManager() const override;
    void monitorQuickSettingRegions() override;
    bool canChangeCallback() override;
    bool isABAccessRestricted() override;
    void presentAlert(const std::shared_ptr<toolkit::AlertController>& alert, toolkit::ViewController* from) override;
    void openApplicationSettings() override;
    void requestReview() override;

private:
    HX_ConnectAppDelegate& app_;
};

// The voicemail player's: the web client's audio downloads, the connection and the speaker
// setting (the shell's).
class HXAppPlaybackRole final : public HXPlaybackRole {
public:
    explicit HXAppPlaybackRole(HX_ConnectAppDelegate& app) : app_(app) {}
    void downloadVMforID(const std::string& conversationID) override;
    void downloadRecordedCallForID(const std::string& conversationID) override;
    bool connectionAvailable() const override;
    bool useSpeaker() const override;
    void setUseSpeaker(bool on) override;

private:
    HX_ConnectAppDelegate& app_;
};

// The roles of one application object, made with it.
struct HXShellRoles {
    explicit HXShellRoles(HX_ConnectAppDelegate& app);
    HXAppSignInRole signIn;
    HXAppListLoadingRole lists;
    HXAppConversationActionsRole conversations;
    HXAppConversationOptionsRole options;
    HXAppStoreRole store;
    HXAppRoutingRole routing;
    HXAppSettingsRole settings;
    HXAppPasscodeRole passcode;
    HXAppDialPadRole dialPad;
    HXAppListActionsRole listActions;
    HXAppComposeRole compose;
    HXAppConversationRole conversation;
    HXAppAccountSettingsRole accountSettings;
    HXAppAccountListRole accounts;
    HXAppQuickSettingsRole quickSettings;
    HXAppPlaybackRole playback;
    // The set handed to a screen's maker, each role sharing owner's lifetime (the tablet adds its
    // split view's).
    HXScreenRoles share(const std::shared_ptr<void>& owner);
};
