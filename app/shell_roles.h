// The roles the application object plays for its screens (app/roles/screen_roles.h), each an
// object of its own but routing and the tablet's split view, which the device form that routes
// implements itself. The application object owns them (HXShellRoles) and screenRoles() hands them
// out as pointers that share its lifetime: a screen that locks a role keeps the application object
// for that use, and finds nothing once it is gone. A role holds the slice it works on and the
// state that only it needs; the operations the application object's slices name stay theirs, and
// the role calls them. A need several screens share has one owner, which implements the interface
// those screens take: alerts, the account and the connection state (the data model's slice,
// HXAlertsRole), the session and the settings screen's operations (the web client's slice), the
// call choice (HXCalls), the quick settings and their regions (HXAppQuickSettingsRole), the rating
// request and the store's page (HXAppStoreRole); a role that needs one of them for its own work
// holds it.
#pragma once

#include <functional>
#include <memory>

#include "app/roles/message_list_actions.h"
#include "app/roles/screen_roles.h"
#include "platform/services/location_manager.h"
#include "platform/system_screens/store_product_view_controller.h"

class HXApplicationModel;
class HXApplicationWebClient;
class HX_ConnectAppDelegate;
class HXContactPhonePicker;

// What the application object hands the roles of its own (not its slices'), made once with them
// (app/shell_roles.cpp): the passcode lock's shown flag and the app's own URLs. Each holds the
// application object, which owns the roles.
struct HXShellRoleSlices {
    std::function<bool()> passcodeLockShown;
    std::function<bool(const std::string& url)> openAppURL;
};

// The lists': a model on the web client, and a view's list found through the routing's views.
class HXAppListLoadingRole final : public HXListLoadingRole {
public:
    HXAppListLoadingRole(HXApplicationWebClient& client, HXRoutingRole& routing) : client_(client), routing_(routing) {}
    std::shared_ptr<HXMessageListModel> makeMessageList(int viewType) override;
    void refreshMessageList(int view) override;
    std::optional<bool> isLoadingMessages(toolkit::ViewController& root) override;

private:
    HXApplicationWebClient& client_;
    HXRoutingRole& routing_;
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

// The store: the rating request (HXReviewRequest decides whether the store is asked) and the
// store's page of an item, which this object loads under the loading overlay, presents over the
// window's root and, as the page's delegate, dismisses when the user is done (it holds the
// application object for the overlay and the window).
class HXAppStoreRole final : public HXStoreRole, public system_screens::StoreProductViewControllerDelegate {
public:
    explicit HXAppStoreRole(HX_ConnectAppDelegate& app) : app_(app) {}
    void requestReview() override;
    void openAppWithID(int64_t itemID, const std::string& tag) override;
    void productViewControllerDidFinish(system_screens::StoreProductViewController& controller) override;

private:
    HX_ConnectAppDelegate& app_;
    // The page asked for last: the answer of one asked for before it is dropped.
    std::shared_ptr<system_screens::StoreProductViewController> productPage_;
};

// The passcode settings screen's: the settings view's root as the pads' delegate (the routing's)
// and the lock it is handed.
class HXAppPasscodeRole final : public HXPasscodeRole {
public:
    HXAppPasscodeRole(HXRoutingRole& routing, HXCPasscodeLock& lock) : routing_(routing), lock_(lock) {}
    HXCPasscodeLock& passcodeLock() override;
    std::shared_ptr<toolkit::ViewController> passcodePadDelegateScreen() override;

private:
    HXRoutingRole& routing_;
    HXCPasscodeLock& lock_;
};

// The dial pad's and the favourites': contacts (the data model's).
class HXAppDialPadRole final : public HXDialPadRole {
public:
    explicit HXAppDialPadRole(HXApplicationModel& model) : model_(model) {}
    std::function<std::string(const std::string& number)> contactNameLookup() override;

private:
    HXApplicationModel& model_;
};

// The list screens' device state: the data model's background flag, contacts and account, and the
// passcode lock's state (its shown flag handed by the application object). The rows' conversation operations are
// HXConversationOperations'.
class HXAppListActionsRole final : public HXListActionsRole {
public:
    HXAppListActionsRole(HXApplicationModel& model, const HXShellRoleSlices& slices, HXCPasscodeLock& lock)
        : model_(model), slices_(slices), lock_(lock) {}
    bool isInBackground() const override;
    bool passcodeLockShown() const override;
    bool passcodeRequired() const override;
    bool isSignedIn() const override;
    void refreshContactName(const std::string& number) override;

private:
    HXApplicationModel& model_;
    const HXShellRoleSlices& slices_;
    HXCPasscodeLock& lock_;
};

// The new-message screen's: contacts (the web client's), and the system's contact picker, whose
// delegate it keeps.
class HXAppComposeRole final : public HXComposeRole {
public:
    explicit HXAppComposeRole(HXApplicationWebClient& client) : client_(client) {}
    std::string contactNameForNumber(std::string_view number) override;
    void searchContactsMatchingName(const std::string& query, std::function<void(ContactList)> found) override;
    void recordContactSelection(const ContactEntry& entry) override;
    void presentContactPicker(toolkit::ViewController& presenter, RecipientPicked picked) override;

private:
    HXApplicationWebClient& client_;
    // The adapter of the contact picker opened last (the picker holds it weakly); replaced at
    // each opening.
    std::shared_ptr<HXContactPhonePicker> recipientPicker_;
};

// The conversation screen's and the note editor's: the web client's conversation operations and
// contacts, and the app's own URLs (handed by the application object).
class HXAppConversationRole final : public HXConversationRole {
public:
    HXAppConversationRole(HXApplicationWebClient& client, const HXShellRoleSlices& slices)
        : client_(client), slices_(slices) {}
    std::shared_ptr<store::ManagedObject> getConversationWithID(const std::string& conversationID) override;
    std::shared_ptr<HXStoreRows> messageRows(const std::string& conversationID,
                                             std::weak_ptr<HXRowsObserver> observer) override;
    bool deleteMessage(const std::string& conversationID, const std::string& messageID) override;
    void setNote(const std::optional<std::string>& note, const std::string& conversationID) override;
    void addContact(const std::string& name, const std::string& number, const std::string& type) override;
    std::string recordIDForNumber(const std::string& number) override;
    void setContactName(const std::string& conversationID, const std::string& name) override;
    void resetContacts() override;
    void lookupPhone(const std::string& number) override;
    bool openAppURL(const std::string& url) override;

private:
    HXApplicationWebClient& client_;
    const HXShellRoleSlices& slices_;
};

// The quick-settings screens' and the presets' owner: the snapshot of the current settings (of the
// current account and the application's preferences), the location manager (made at
// the launch's step where the device monitors regions; its events go to the application object)
// with the presets' regions it monitors, and the application of a stored preset, whether a screen,
// an app URL or a location switch asks for it.
class HXAppQuickSettingsRole final : public HXQuickSettingsRole {
public:
    explicit HXAppQuickSettingsRole(HX_ConnectAppDelegate& app) : app_(app) {}
    std::shared_ptr<HX_QuickSetting> currentSettings() const override;
    // Applies the stored quick setting of that name: the app preferences it holds, then, online,
    // the service settings that differ through the settings screen's setters, in a fixed order;
    // nothing when no such preset is stored or it equals the current settings.
    void selectQuickSettingWithName(const std::string& name) override;
    // None before the launch and where the device monitors no regions.
    std::shared_ptr<services::LocationManager> locationManager() const override;
    // The regions of the stored quick settings, registered by the one rule
    // (app/quick_setting_regions.h).
    void monitorQuickSettingRegions() override;
    // Makes the location manager where the device monitors regions; delegate (when there is one)
    // hears its events.
    void makeLocationManager(const std::shared_ptr<services::LocationManagerDelegate>& delegate);
    // Stops monitoring every region (a sign-out).
    void stopMonitoringRegions();

private:
    HX_ConnectAppDelegate& app_;
    std::shared_ptr<services::LocationManager> locationManager_;
};

// The roles of one application object, made with it and with what it hands them of itself.
struct HXShellRoles {
    HXShellRoles(HX_ConnectAppDelegate& app, HXShellRoleSlices handed);
    HXShellRoleSlices slices;
    // The device form, which routes itself.
    HXRoutingRole& routing;
    HXAppListLoadingRole lists;
    HXAppConversationOptionsRole options;
    HXAppStoreRole store;
    HXAppPasscodeRole passcode;
    HXAppDialPadRole dialPad;
    HXAppListActionsRole listActions;
    HXAppComposeRole compose;
    HXAppConversationRole conversation;
    HXAppQuickSettingsRole quickSettings;
    // The set handed to a screen's maker, each role sharing owner's lifetime (the tablet adds its
    // split view's). The call choice, the sending, the service settings' changes and the media are
    // owner's own operation objects (its calls, its sender, its settings updates and its media
    // operations), handed as they are; the alerts, the sign-in panel's, the account list's and the
    // settings screen's roles and a call or a message to a number are owner itself.
    HXScreenRoles share(const std::shared_ptr<HXApplicationWebClient>& owner);
};
