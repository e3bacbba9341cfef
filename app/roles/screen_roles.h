// The roles the application object plays for the screens. A screen sees only the roles its
// maker hands it (HXScreens, app/screens.h), never the application object itself: each role is a
// few operations of one concern, implemented by the application object (most of them its own
// Part-named members). A screen keeps its roles by weak pointer and locks one for each use, so a
// screen that outlives the application object (the window may keep it) finds nothing to call.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <functional>
#include <optional>
#include <string_view>

#include "model/alert.h"
#include "model/alerts_role.h"
#include "platform/foundation/user_defaults.h"
#include "platform/foundation/value.h"
#include "platform/graphics/geometry.h"
#include "platform/net/cookie.h"
#include "service/account_settings.h"
#include "service/call_choice.h"
#include "service/conversation_operations.h"
#include "service/conversation_pages.h"
#include "service/endpoints.h"
#include "service/loading_overlay.h"
#include "service/media_operations.h"
#include "service/number_actions.h"
#include "service/sending.h"
#include "service/session.h"
#include "service/settings_updates.h"
#include "service/sms_sending.h"
#include "service/store_rows.h"

class HXCPasscodeLock;
class HX_Account;
class HX_QuickSetting;
namespace services {
class LocationManager;
}
class HXListActionsRole;
class HXMessageListModel;
namespace toolkit {
class AlertController;
class NavigationController;
class View;
class ViewController;
}  // namespace toolkit

// The message lists': a list model for a view type (1 SMS, 2 voicemail, 3 history) on the web
// client the application object talks to and the refresh of a view's list from outside it.
class HXListLoadingRole {
public:
    virtual ~HXListLoadingRole() = default;
    virtual std::shared_ptr<HXMessageListModel> makeMessageList(int viewType) = 0;
    // The list of the view (1 to 3) reloads from its first page; nothing for another view.
    virtual void refreshMessageList(int view) = 0;
    // Whether the list the screen at the root of a navigation stack shows is still loading its
    // messages; none when that screen shows no list (or the role knows of no list).
    virtual std::optional<bool> isLoadingMessages(toolkit::ViewController& root) {
        (void)root;
        return std::nullopt;
    }
};

// A conversation's options, for the screens that list or show it: the popover of the actions the
// conversation offers (the codes of messageOptionsForConversation), at a point of a view, whose
// choice the application object carries out.
class HXConversationOptionsRole {
public:
    virtual ~HXConversationOptionsRole() = default;
    // Nothing when the conversation offers no action (or is gone).
    virtual void showOptionsForConversation(const std::string& conversationID, graphics::Point point,
                                            toolkit::View& view) = 0;
};

// The store: the rating request a screen makes after a completed action (the store decides
// whether a prompt shows), and the store's page of an item, shown inside the app.
class HXStoreRole {
public:
    virtual ~HXStoreRole() = default;
    virtual void requestReview() = 0;
    // The tag is the caller's and not used.
    virtual void openAppWithID(int64_t itemID, const std::string& tag) = 0;
};

// Routing and presentation: the device form, the views, popovers and the mail composer. The
// application object's device form routes, and implements this itself.
class HXRoutingRole {
public:
    virtual ~HXRoutingRole() = default;
    virtual bool iPad() const = 0;
    virtual bool isSplitViewCollapsed() = 0;
    virtual int currentViewIndex() = 0;
    virtual void selectViewForIndex(int index) = 0;
    virtual void dismissPopoverAnimated(bool animated) = 0;
    virtual void presentMailController(const std::shared_ptr<toolkit::ViewController>& composer) = 0;
    // Puts the search bar of a view's list (1 to 3) in focus.
    virtual void enterSearch(int view) = 0;
    // On the tablet the master list takes the keyboard's focus back (its key commands work).
    virtual void setFirstResponder() = 0;
    // A screen asked its maker for a screen (request names it) and got none: the shell notes it.
    virtual void screenNotBuilt(const std::string& request) = 0;
    // The root screen of a view (0 to 4), for the roles that reach a view's list or its screen;
    // none where there is no interface.
    virtual std::shared_ptr<toolkit::ViewController> viewControllerForIndex(int index) = 0;
};

// The snapshot of the account's and the app's current settings as a preset: the settings screen
// compares it with the stored presets, the quick-settings screens store it.
class HXSettingsSnapshotRole {
public:
    virtual ~HXSettingsSnapshotRole() = default;
    virtual std::shared_ptr<HX_QuickSetting> currentSettings() const = 0;
};

// The tablet form's split view, for its master list.
class HXSplitViewRole {
public:
    virtual ~HXSplitViewRole() = default;
    // The detail navigation controller of a view type (0 to 4); type 0 is the dial pad's popover.
    virtual std::shared_ptr<toolkit::NavigationController> viewControllerForViewType(int type) = 0;
    virtual bool isDetailShown(int type) const = 0;
    virtual void showDetailForViewType(int type) = 0;
    virtual long long unreadSMSCount() const = 0;
    virtual long long unreadVMCount() const = 0;
};

// The passcode settings screen's: the lock's settings and the screen that answers the pads it
// presents (the settings view's root screen); the pads' background is passcodeBackgroundViewWithFrame's.
class HXPasscodeRole {
public:
    virtual ~HXPasscodeRole() = default;
    // The lock's settings: whether a passcode is required, the PIN, the biometric and Spotlight
    // switches.
    virtual HXCPasscodeLock& passcodeLock() = 0;
    // The delegate of the unlock and setup pads the passcode settings screen presents.
    virtual std::shared_ptr<toolkit::ViewController> passcodePadDelegateScreen() = 0;
};

// The dial pad's and the favourites': a contact name lookup any thread may run.
class HXDialPadRole {
public:
    virtual ~HXDialPadRole() = default;
    // Matches numbers against the contacts as they are when it is made; it holds no screen and no
    // application object, so a background queue may run it.
    virtual std::function<std::string(const std::string& number)> contactNameLookup() = 0;
};

// The new-message screen's: the contacts behind the recipients and the system's contact picker
// that adds a recipient (the send is the sending role's, the progress overlay while it is under
// way the overlay's).
class HXComposeRole {
public:
    using ContactEntry = std::shared_ptr<const foundation::Dictionary>;
    using ContactList = std::vector<ContactEntry>;
    // A picked recipient: the number sent to and the token's title; false when the screen can no
    // longer take it (its view is gone).
    using RecipientPicked = std::function<bool(const std::string& number, const std::string& title)>;

    virtual ~HXComposeRole() = default;
    // The contact name of a number, or "".
    virtual std::string contactNameForNumber(std::string_view number) = 0;
    // The contacts matching a name, searched off the main thread; found runs on the main queue.
    virtual void searchContactsMatchingName(const std::string& query, std::function<void(ContactList)> found) = 0;
    // Remembers a pick (later searches list it first), off the main thread.
    virtual void recordContactSelection(const ContactEntry& entry) = 0;
    // Presents the device's contacts over presenter; picked runs for a choice, after the picker
    // has closed.
    virtual void presentContactPicker(toolkit::ViewController& presenter, RecipientPicked picked) = 0;
};

// The conversation screen's and the note editor's: the conversation and its messages in the store
// (its pages are the pages role's), one message's delete, the note, contacts (device and service)
// and the app's own URLs (the attachments' pictures and media are the media role's, sending is
// the sending role's, the tablet's note kept across popovers the note draft's).
class HXConversationRole {
public:
    virtual ~HXConversationRole() = default;
    // The conversation of the id in the main context; null when the store has none.
    virtual std::shared_ptr<store::ManagedObject> getConversationWithID(const std::string& conversationID) = 0;
    // The conversation's messages, oldest first; their row-level changes go to observer. None
    // without a store.
    virtual std::shared_ptr<HXStoreRows> messageRows(const std::string& conversationID,
                                                     std::weak_ptr<HXRowsObserver> observer) = 0;
    // False when no request went out (no access token yet).
    virtual bool deleteMessage(const std::string& conversationID, const std::string& messageID) = 0;
    // No note deletes it.
    virtual void setNote(const std::optional<std::string>& note, const std::string& conversationID) = 0;
    // A contact of the service's for number: type "MOBILE", "WORK" or "HOME".
    virtual void addContact(const std::string& name, const std::string& number, const std::string& type) = 0;

    // ---- contacts
    virtual std::string recordIDForNumber(const std::string& number) = 0;
    // The device's name of the conversation's contact, kept with the conversation.
    virtual void setContactName(const std::string& conversationID, const std::string& name) = 0;
    virtual void resetContacts() = 0;
    // Looks the number up in the contacts again (its conversations' contact names follow).
    virtual void lookupPhone(const std::string& number) = 0;

    // ---- the app's own URLs
    // The app's own handler of "hxconnect://" URLs.
    virtual bool openAppURL(const std::string& url) = 0;
};

// The tablet's unsaved note between the note editor's popovers, kept by the tablet form (the phone
// keeps none and hands no such role).
class HXNoteDraftRole {
public:
    virtual ~HXNoteDraftRole() = default;
    virtual std::optional<foundation::Dictionary> popoverCache() const = 0;
    virtual void setPopoverCache(const foundation::Dictionary& cache) = 0;
};

// The quick-settings screens': the current settings as a preset (the snapshot), applying one, the
// location manager (none where the device monitors no regions) and the registration of the
// presets' regions (the system's settings page is the alerts role's).
class HXQuickSettingsRole : public HXSettingsSnapshotRole {
public:
    virtual void selectQuickSettingWithName(const std::string& name) = 0;
    virtual std::shared_ptr<services::LocationManager> locationManager() const = 0;
    // Monitors the region of every stored preset (exit notified while the account has a default).
    virtual void monitorQuickSettingRegions() = 0;
};

// A screen's read of a preference through its alerts role: the unset value once the role is gone.
inline bool HXPreferenceOf(const std::weak_ptr<HXAlertsRole>& alerts, HXPreference preference) {
    const auto role = alerts.lock();
    return role ? role->preference(preference) : HXPreferenceKeyOf(preference).unset;
}

// What a maker hands a screen; a role that the form does not play is empty.
struct HXScreenRoles {
    std::weak_ptr<HXSignInRole> signIn;
    std::weak_ptr<HXListLoadingRole> lists;
    std::weak_ptr<HXConversationActionsRole> conversations;
    std::weak_ptr<HXConversationOptionsRole> options;
    std::weak_ptr<HXStoreRole> store;
    std::weak_ptr<HXRoutingRole> routing;
    std::weak_ptr<HXSettingsRole> settings;
    std::weak_ptr<HXSplitViewRole> splitView;
    std::weak_ptr<HXPasscodeRole> passcode;
    std::weak_ptr<HXDialPadRole> dialPad;
    std::weak_ptr<HXListActionsRole> listActions;
    std::weak_ptr<HXComposeRole> compose;
    std::weak_ptr<HXConversationRole> conversation;
    std::weak_ptr<HXAccountSettingsRole> accountSettings;
    std::weak_ptr<HXAccountListRole> accounts;
    std::weak_ptr<HXQuickSettingsRole> quickSettings;
    std::weak_ptr<HXMediaRole> media;
    std::weak_ptr<HXAlertsRole> alerts;
    std::weak_ptr<HXCallChoiceRole> callChoice;
    std::weak_ptr<HXSendingRole> sending;
    std::weak_ptr<HXServiceSettingsRole> serviceSettings;
    std::weak_ptr<HXConversationOperationsRole> conversationOperations;
    std::weak_ptr<HXLoadingOverlayRole> overlay;
    std::weak_ptr<HXConversationPagesRole> pages;
    // The tablet's only.
    std::weak_ptr<HXNoteDraftRole> noteDraft;
};
