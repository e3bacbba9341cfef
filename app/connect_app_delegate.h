// The application object: the top of the chain data model -> web client -> shell. It inherits
// every operation of the lower slices (so callers reach them as its members) and implements what
// those slices ask of the shell from its own state. Operations of screens and components that are
// not built yet are told to the shell observer that a test installs (app/shell_observer.h). The
// device forms of the application object derive from this class.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "app/passcode_lock_control.h"
#include "app/passcode_pin_entry.h"
#include "app/roles/message_list_actions.h"
#include "app/roles/screen_roles.h"
#include "app/screens.h"
#include "app/shell_observer.h"
#include "platform/foundation/application.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/thread_annotations.h"
#include "platform/services/location_manager.h"
#include "platform/services/user_notifications.h"
#include "platform/system_screens/contact_picker.h"
#include "service/application_web_client.h"
#include "service/reachability.h"

namespace mail {
class MailComposeViewController;
class MailComposeDelegate;
}  // namespace mail
namespace toolkit {
class AlertController;
class ViewController;
class Window;
}  // namespace toolkit

class HXShellPasscodeHost;
struct HXShellRoles;
struct HXShellRoleSlices;

class HX_ConnectAppDelegate : public HXApplicationWebClient,
                              public foundation::ApplicationDelegate,
                              public HXOptionsPopoverDelegate,
                              public HXCPadLockScreenViewControllerDelegate,
                              public HXRoutingRole {
public:
    HX_ConnectAppDelegate();
    ~HX_ConnectAppDelegate() override;

    // The observer told of the operations not built yet and of the alerts asked for; installed by
    // a test before the application object is used (none in the program).
    void setShellObserver(std::shared_ptr<HXShellObserver> observer) { shellObserver_ = std::move(observer); }
    const std::shared_ptr<HXShellObserver>& shellObserver() const { return shellObserver_; }

    // ---- the data model's requests
    void presentAlert(const HXAlert& alert) override;
    bool useSpotlight() const override;
    void showPasscodeLockIfNeeded() override;
    void openApplicationSettings() override;

    // ---- the web client's requests
    void setNetworkActivityIndicatorVisible(bool visible) override;
    void alertNoConnection() override;
    void alertSlowConnection() override;
    bool loadingOverlayShown() const override;
    void removeLoadingOverlay() override;
    void showLoadingOverlay(const std::string& statusText) override;
    void closeLoginPanel() override;
    void queueRefresh() override;
    void setFirstResponder() override;
    int currentViewIndex() override;
    std::shared_ptr<HXMessageListReceiver> messageListForViewIndex(int index) override;
    void setUnreadCount(int64_t count, int forViewIndex) override;
    void updateAccountPrefs() override;
    void registerForUserNotifications() override;
    void openURL(const std::string& url) override;
    void playSound(const std::string& name) override;
    // The web client's own operations, told to the shell observer as they run.
    void startDirectCall() override;
    void sendQueuedSMS() override;
    void playNewMessageAlertForMessageWithDate(double secondsSince1970) override;
    bool messageListIsShowing() const override;
    bool canSendMail() const override;
    // The mail composer: presented over the window's root (and kept by mailComposer() until the
    // user sends or cancels); the application object is its delegate and dismisses it.
    void presentMailController(const HXMailDraft& draft) override;
    std::shared_ptr<mail::MailComposeViewController> mailComposer() const { return mailComposer_; }
    // The base form, then the sign-in panel (presented by the shell).
    void displayLogin() override;
    // The location-triggered switch to a quick setting: a background task of the platform's
    // registry runs from the switch's start until it expires or the next switch replaces it; the
    // quick setting waits as the pending switch until fresh account settings arrive.
    void switchToLocation(const std::string& name);
    bool locationSwitchTaskRunning() const override;
    std::optional<std::string> pendingLocationSwitch() const override;
    void rescheduleSwitchToLocation(const std::string& name, double delay) override;

    // ---- the screens' roles (app/roles/screen_roles.h)

    // What this form hands a screen's maker; empty roles when no shared pointer owns the
    // application object.
    virtual HXScreenRoles screenRoles();
    // A screen the screen library does not make (yet): the shell observer hears what was asked.
    void screenNotBuilt(const std::string& request) override;

    // ---- the shell (app/shell_launch.cpp, app/shell_life_cycle.cpp)

    // The window the interface is built in; the application main (or a test) gives it before
    // the launch. Without one, alerts and views exist only as the stand-in's records.
    void setWindow(toolkit::Window* window) { window_ = window; }
    toolkit::Window* window() const { return window_; }
    // The screen library; the program sets it before the launch (never null).
    void setScreens(std::shared_ptr<HXScreens> screens) {
        screens_ = screens ? std::move(screens) : std::make_shared<HXScreens>();
    }
    HXScreens& screens() const { return *screens_; }

    // The launch sequence; answers YES. launchSteps() names each step as it ran, in order.
    bool applicationDidFinishLaunchingWithOptions(const foundation::Dictionary& options = {});
    const std::vector<std::string>& launchSteps() const { return launchSteps_; }

    // The routing the device forms implement (base: no interface); the screens take it as their
    // routing role (HXRoutingRole), which this object is.
    virtual void setupInterface() {}
    bool iPad() const override;
    void selectViewForIndex(int index) override { (void)index; }
    std::shared_ptr<toolkit::ViewController> viewControllerForIndex(int index) override {
        (void)index;
        return nullptr;
    }
    bool isSplitViewCollapsed() override { return true; }
    // Shows the list of a view (1 to 3) at the top of its view, its search bar in focus.
    void enterSearch(int view) override;
    // The tablet asks its master list to read its rows again (the phone has none).
    virtual void refreshMasterList() {}
    // The tablet's popovers from its master list: closes whatever the list presents, and opens
    // the dial pad from its call button. The phone has no popovers; its forms are recorded.
    void dismissPopoverAnimated(bool animated) override;
    virtual void showCallPopup();
    // Presents a mail composer; the base form records the request and presents it over the top of
    // the window's presentations, the tablet as a form sheet over its split view.
    void presentMailController(const std::shared_ptr<toolkit::ViewController>& composer) override;

    // Life cycle.
    void resignActive();
    void resumeActive();
    void applicationDidEnterBackground();
    void applicationWillEnterForeground();
    void applicationWillTerminate() override;
    virtual void applicationDidReceiveMemoryWarning();
    // The minimum background-fetch interval from autoRefresh and the platform's refresh status.
    void setBackgroundRefreshStatus() override;
    // Mirrors the cloud key-value store's changed keys into the preferences.
    void updateKVStoreItems(const foundation::Notification& notification);
    // The host of the service's origin: the target of the reachability monitor.
    std::string serviceHost();
    // A reachability report of the service host (0: not reachable).
    void reachabilityChanged(int status);
    // The platform's background fetch: completion gets 0 new data, 1 no data or 2 failed, exactly
    // once; a path that never answers is answered as failed when it lets go of the completion.
    void applicationPerformFetchWithCompletionHandler(BackgroundFetchCompletion completion);

    // ---- entry points (app/shell_entry_points.cpp)

    // A URL of the app's scheme ("hxconnect://host?query"); answers whether it was handled.
    bool applicationOpenURL(const std::string& url);
    // Replays the pending URL, if any.
    void reprocessURL();
    const std::optional<std::string>& pendingURL() const { return pendingURL_; }
    // Answers whether the shortcut's type is one of the app's two.
    bool performActionForShortcutItem(const std::string& type);
    bool continueUserActivity(const std::string& activityType, const foundation::Dictionary& userInfo);
    // completion runs at once unless an operation kept it as completionHandler().
    void didReceiveNotificationResponse(const std::string& actionIdentifier, const foundation::Dictionary& userInfo,
                                        const std::optional<std::string>& userText, std::function<void()> completion);
    void showDialPad();
    bool focusReply() const { return focusReply_; }
    void setFocusReply(bool focus) { focusReply_ = focus; }
    // The passcode lock's shown flag (the lock sets it).
    bool lockShown = false;

    // ---- the passcode lock (app/shell_passcode.cpp)

    // Puts the lock up when a passcode is required or the lock is up (startup: the launch's call).
    void showPasscodeLockIfNeededForStartup(bool startup);
    // The unlock pad's delegate: the PIN against the stored one; a success takes the lock down.
    bool validatePin(const std::string& pin, HXCPinUnlock& pad) override;
    void unlockWasSuccessful(HXCPinUnlock& pad) override;

    // After the launch: the unread counts, region monitoring and the key-value store's mirror.
    virtual void preload();
    // Counts the unread text and voicemail conversations of the store into the badges.
    void updateUnreadCounts() override;

    // The bit positions set in mask, ascending.
    static std::vector<int> typesForMask(uint64_t mask);

    // The one way alerts are shown: dismisses the alert shown last through here if it is still
    // up, then presents alert from the given controller, or from the top of the window's root.
    void presentAlert(const std::shared_ptr<toolkit::AlertController>& alert, toolkit::ViewController* from) override;
    // -1, or 3 while the no-connection alert is up or scheduled, 4 while the slow one is up.
    int connectionAlertState() const { return connectionAlertState_; }

    // ---- conversation options (app/shell_options.cpp)

    // The titles of the conversation's actions in a popover at point of view; the application
    // object is its delegate and carries out the chosen code.
    void showOptionsForConversation(const std::string& conversationID, graphics::Point point, toolkit::View& view);
    // The conversation whose options popover is up (set when it is shown, cleared after a choice)
    // and the codes it shows, in order.
    const std::optional<std::string>& optionsConversationID() const { return optionsConversationID_; }
    void popoverViewDidSelectItemAtIndex(HXOptionsPopover& popover, long index) override;
    void popoverViewLongPressForItemAtIndex(HXOptionsPopover& popover, long index) override;
    void popoverViewDidDismiss(HXOptionsPopover& popover) override;
    // The publisher's campaign code sent with every store page request (the store role's,
    // app/shell_roles.h, which asks for the rating and opens the store's page).
    static constexpr const char* kStoreAffiliateToken = "hxcapp";

    // ---- the crash service's side (app/shell_crash_prompt.cpp)

    // The text of the "AppInfo.txt" attachment of a crash report. Callable from any thread: the
    // account and the contacts are read on the main thread.
    std::string appInfoText();
    // Launch step 1 starts the telemetry SDK with its crash service only when this was asked for
    // before the launch: the program always asks, and so do tests that want the real SDK, so
    // that no other test process installs crash handlers or talks to the telemetry service.
    // With logUrl (a local ingestion origin for runs and tests) the SDK's log URL is set first.
    void startTelemetryAtLaunch(std::optional<std::string> logUrl);

    // The loading overlay while it is shown over the window (none otherwise, and none without a
    // window or when the screen library makes no overlay).
    std::shared_ptr<toolkit::ViewController> loadingController() const { return loadingController_; }

    // The version text shown to the user, built on first use and dropped on a memory warning.
    const std::string& versionString() override;
    bool hasVersionString() const { return versionString_.has_value(); }

protected:
    // What the slices use among themselves; no other object calls it.
    void requestNotificationAuthorization(int options) override;
    void stopMonitoringRegions() override;
    void setBackgroundFetchIntervalNever() override;
    void presentNewMessage(const std::vector<std::string>& recipients, const std::string& conversationID,
                           const std::string& messageText) override;
    void switchToQSLocation();
    // The location manager's events (its delegate hands them on, on the main queue).
    void locationManagerDidChangeAuthorizationStatus(services::LocationAuthorization status);
    void locationManagerDidFailWithError(const foundation::Error& error);
    void locationManagerDidEnterRegion(const services::Region& region);
    void locationManagerDidExitRegion(const services::Region& region);
    void locationManagerDidRangeBeacons(const std::vector<services::Beacon>& beacons);
    // The navigation controller of a view pops one level, or to its root (animated).
    void popView(int index, bool toRoot);
    void openConversationWithID(const std::string& conversationID, const std::optional<std::string>& reply = {},
                                long messageNumber = -1);
    // Whether the app can act on an entry point now: a window, and the passcode lock not up.
    bool canActNow() const;
    // The lock's decisions: when it comes up and down (none while no shared pointer owns the
    // application object).
    std::shared_ptr<HXPasscodeLockControl> passcodeLockControl();
    const std::vector<int>& optionsCodes() const { return optionsCodes_; }
    // Makes the application object the crash service's delegate and installs the confirmation
    // handler that asks the user whether to send the crash reports.
    void installCrashConfirmation();
    std::string appInfoTextOnMain();

protected:
    void showSignInOverlay(const std::string& statusText) override;
    toolkit::ViewController* topPresentedController() const;
    // Shows the overlay with this label over the screen host gives once on the main thread (not
    // at all when it gives none).
    void showLoadingOverlayOver(const std::string& statusText, std::function<toolkit::ViewController*()> host);
    // The screen a sign-in's overlay covers: the front-most one unless the form says otherwise.
    virtual toolkit::ViewController* signInOverlayHost() { return topPresentedController(); }

protected:
    // The root screen of a view (0 to 4) from the screen library, titled as the view; the
    // placeholder where the library makes none.
    std::shared_ptr<toolkit::ViewController> makeRootScreen(int index);
    // Tells the shell observer of an operation of a screen or component not built yet.
    void record(const std::string& call) const { record(shellObserver_, call); }
    // The same for work off the main thread, which holds the observer rather than this object.
    static void record(const std::shared_ptr<HXShellObserver>& observer, const std::string& call) {
        if (observer) observer->shellCall(call);
    }
    std::vector<std::string> launchSteps_;
    // This object as its form Form (itself or a class it derives from) by weak pointer, for a
    // block that may run after it has gone: the block captures it instead of this and locks it
    // first, on the main queue. Empty when no shared pointer owns the application object (a
    // test's local), whose later blocks then do nothing.
    template <class Form = HX_ConnectAppDelegate>
    std::weak_ptr<Form> weakSelf() {
        return std::static_pointer_cast<Form>(weakWebClient().lock());
    }

private:
    // The store's unread counts, shown where the service has not counted (see shell_life_cycle.cpp).
    void showStoredUnreadCounts(int64_t texts, int64_t voicemails, int polls);
    bool launchCountsWait_ = false;
    // The bundle sounds played so far, by name (main thread).
    std::map<std::string, unsigned> soundHandles_;
    void launchStep(std::string name) { launchSteps_.push_back(std::move(name)); }
    // The launch's steps that work on this object's own state (app/shell_launch.cpp).
    void readPreferenceMirrors();
    void observeServiceReachability();
    void selectStoredAccount();
    void observeLifeCycle();
    void observeWhileActive();
    std::string deviceModelName() const;
    std::shared_ptr<toolkit::AlertController> makeAlertController(const HXAlert& alert);
    std::shared_ptr<void> performTarget();

    std::shared_ptr<HXShellObserver> shellObserver_;
    // Whether the loading overlay is wanted on screen; asked from the reply queues too.
    std::atomic<bool> overlayShown_{false};
    void locationSwitchTaskExpired();
    foundation::BackgroundTaskIdentifier takeLocationSwitchTask();
    // Set once a location switch has applied its quick setting while requests run (main thread).
    bool endSwitchTaskWhenIdle_ = false;
    // The launch's step that has the quick settings' owner (the quick settings role) make the
    // location manager, its events told to this object.
    void makeLocationManager();
    friend class HXShellLocationDelegate;
    std::shared_ptr<class HXShellLocationDelegate> locationDelegate_;
    mutable foundation::Mutex locationMutex_;
    std::optional<std::string> pendingLocationSwitch_ HX_GUARDED_BY(locationMutex_);
    foundation::BackgroundTaskIdentifier
        locationSwitchTask_ HX_GUARDED_BY(locationMutex_) = foundation::kInvalidBackgroundTask;
    toolkit::Window* window_ = nullptr;
    std::shared_ptr<HXScreens> screens_ = std::make_shared<HXScreens>();
    std::weak_ptr<toolkit::AlertController> shownAlert_;
    std::shared_ptr<toolkit::ViewController> loadingController_;
    void onMainForOverlay(bool shown, std::function<void()> work);
    int connectionAlertState_ = -1;
    std::optional<std::string> versionString_;
    std::shared_ptr<Reachability> serviceReach_;
    std::shared_ptr<class HXCrashesDelegate> crashesDelegate_;
    // What the notification centre holds weakly as its delegate: it hands responses on to
    // didReceiveNotificationResponse.
    std::shared_ptr<services::UserNotificationCenterDelegate> notificationDelegate_;
    bool startsTelemetry_ = false;
    std::optional<std::string> telemetryLogUrl_;
    void startTelemetry();
    std::shared_ptr<mail::MailComposeViewController> mailComposer_;
    std::shared_ptr<mail::MailComposeDelegate> mailDelegate_;
    // The screens' roles (app/shell_roles.h), and what this object hands them of itself.
    std::shared_ptr<HXShellRoles> roles_;
    HXShellRoleSlices roleSlices();
    std::optional<std::string> pendingURL_;
    bool focusReply_ = false;
    std::shared_ptr<HXPasscodeLockControl> passcodeControl_;
    // What the lock control asks of the shell (app/shell_passcode.cpp).
    friend class HXShellPasscodeHost;
    std::shared_ptr<HXShellPasscodeHost> passcodeHost_;
    std::optional<std::string> optionsConversationID_;
    std::vector<int> optionsCodes_;
    std::shared_ptr<HXOptionsPopover> optionsPopover_;
    void performConversationAction(int code, const std::string& conversationID);
    void offerCallbackChoice();
    void switchAccountIfNeeded(const std::string& username, bool evenIfCurrent);
    bool openSMSURL(const std::string& url, const std::optional<std::string>& query);
    bool openCallURL(const std::string& url, const std::optional<std::string>& query,
                     const std::map<std::string, std::string>& values);
};
