// The application object over the app's life: alerts, refresh scheduling, background refresh,
// the cloud key-value mirror, termination and memory warnings.
#include "app/connect_app_delegate.h"
#include "app/hxc_passcode_lock.h"
#include "app/quick_setting_regions.h"
#include "app/shell_roles.h"
#include "model/account.h"
#include "model/message_store.h"
#include "platform/dispatch/dispatch.h"
#include "platform/dispatch/run_loop.h"
#include "platform/foundation/application.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/format.h"
#include "platform/foundation/user_defaults.h"
#include "platform/services/device.h"
#include "platform/toolkit/alert_controller.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/presentation.h"
#include "platform/toolkit/split_view_controller.h"
#include "platform/toolkit/window.h"
#include "service/custom_cookie_jar.h"
#include "service/request_machinery.h"

namespace {

toolkit::AlertActionStyle toolkitStyle(HXAlertAction::Style style) {
    switch (style) {
        case HXAlertAction::Style::Cancel:
            return toolkit::AlertActionStyle::Cancel;
        case HXAlertAction::Style::Destructive:
            return toolkit::AlertActionStyle::Destructive;
        case HXAlertAction::Style::Default:
            break;
    }
    return toolkit::AlertActionStyle::Default;
}

}  // namespace

std::shared_ptr<void> HX_ConnectAppDelegate::performTarget() {
    // Delayed performs keep their target alive; an application object that no shared pointer
    // owns (a test's local) is named without being owned, and cancels its performs when it goes.
    if (auto self = weak_from_this().lock()) return self;
    return std::shared_ptr<void>(static_cast<void*>(this), [](void*) {});
}

std::shared_ptr<toolkit::AlertController> HX_ConnectAppDelegate::makeAlertController(const HXAlert& alert) {
    auto controller = toolkit::AlertController::make(alert.title, alert.message,
                                                     alert.actionSheet ? toolkit::AlertControllerStyle::ActionSheet
                                                                       : toolkit::AlertControllerStyle::Alert);
    for (size_t i = 0; i < alert.actions.size(); ++i) {
        const auto& action = alert.actions[i];
        auto made = toolkit::AlertAction::make(action.title, toolkitStyle(action.style),
                                               [handler = action.handler](toolkit::AlertAction&) {
                                                   if (handler) handler();
                                               });
        (void)controller->addAction(made);
        if (alert.preferredAction == i) (void)controller->setPreferredAction(made);
    }
    return controller;
}

void HX_ConnectAppDelegate::presentAlert(const HXAlert& alert) {
    if (shellObserver_) shellObserver_->shellAlert(alert);
    if (window_) presentAlert(makeAlertController(alert), nullptr);
}

void HX_ConnectAppDelegate::presentAlert(const std::shared_ptr<toolkit::AlertController>& alert,
                                         toolkit::ViewController* from) {
    if (auto shown = shownAlert_.lock(); shown && shown->presentingViewController()) shown->dismiss(false);
    shownAlert_ = alert;
    if (from) {
        from->present(alert, true);
        return;
    }
    if (!window_ || !window_->rootViewController()) return;
    // A screen closing (one that closed on the same news) would take the alert with it: the alert
    // shows over what it uncovers, once it has gone.
    if (auto* closing = window_->rootViewController()->presentedViewController();
        closing && closing->isBeingDismissed() && !dynamic_cast<toolkit::AlertController*>(closing)) {
        dispatch::Queue::main()->after(0.05, [weak = weakSelf(), alert] {
            auto self = weak.lock();
            if (self && self->shownAlert_.lock() == alert) self->presentAlert(alert, nullptr);
        });
        return;
    }
    auto show = [&alert](toolkit::ViewController* target) {
        // A sheet that names no source (a popover on the tablet) stands in the middle of the
        // screen it covers, without an arrow.
        auto* popover = alert->popoverPresentationController();
        if (popover && !popover->sourceView.lock() && !popover->barButtonItem.lock()) {
            auto view = target->view();
            popover->sourceView = view;
            popover->sourceRect = toolkit::Rect(view->bounds().midX(), view->bounds().midY(), 0, 0);
            popover->permittedArrowDirections = 0;
        }
        target->present(alert, true);
    };
    auto* root = window_->rootViewController().get();
    if (auto* presented = root->presentedViewController()) {
        if (dynamic_cast<toolkit::AlertController*>(presented)) {
            root->dismiss(false);
        } else {
            auto* nav = dynamic_cast<toolkit::NavigationController*>(presented);
            return show(nav && nav->visibleViewController() ? nav->visibleViewController() : presented);
        }
    }
    if (auto* nav = dynamic_cast<toolkit::NavigationController*>(root); nav && nav->visibleViewController()) {
        show(nav->visibleViewController());
    } else if (auto* split = dynamic_cast<toolkit::SplitViewController*>(root);
               split && !split->viewControllers().empty()) {
        show(split->viewControllers().back().get());
    } else {
        show(root);
    }
}

void HX_ConnectAppDelegate::alertNoConnection() {
    record("alertNoConnection");
    if (isInBackground()) return;
    setConnectionAvailable(false);
    if (connectionAlertState_ == 3) return;
    connectionAlertState_ = 3;
    HXAlert alert{foundation::localizedString("No Network Connection"),
                  foundation::localizedString(
                      "Your request could not be completed as there currently is no internet connection available.\n"
                      "Please try again after making sure you have a working connection."),
                  {{foundation::localizedString("Dismiss"), HXAlertAction::Style::Default,
                    [weak = weakSelf()] {
                        foundation::NotificationCenter::defaultCenter().post("kNetworkConnectionFailedNotification");
                        auto self = weak.lock();
                        if (!self) return;
                        self->connectionAlertState_ = -1;
                        if (self->iPad()) self->setFirstResponder();
                    }}},
                  std::nullopt};
    presentAlert(alert);
}

void HX_ConnectAppDelegate::alertSlowConnection() {
    record("alertSlowConnection");
    if (isInBackground() || connectionAlertState_ == 4) return;
    connectionAlertState_ = 4;
    HXAlert alert{
        foundation::localizedString("Slow Network Connection"),
        foundation::localizedString("Your request could not be completed as the internet connection timed "
                                    "out.\nPlease try again after making sure you have a reliable connection."),
        {{foundation::localizedString("Dismiss"), HXAlertAction::Style::Cancel,
          [weak = weakSelf()] {
              foundation::NotificationCenter::defaultCenter().post("kNetworkConnectionFailedNotification");
              if (auto self = weak.lock()) self->connectionAlertState_ = -1;
          }}},
        std::nullopt};
    presentAlert(alert);
}

void HX_ConnectAppDelegate::queueRefresh() {
    record("queueRefresh");
    auto& loop = dispatch::RunLoop::main();
    loop.cancelPerform(this, "loadUnreadMessages", foundation::Value());
    const double delay = services::PowerState::shared().isLowPowerModeEnabled() ? 300.0 : 60.0;
    loop.perform(performTarget(), "loadUnreadMessages", foundation::Value(), delay,
                 [this](const foundation::Value&) { loadUnreadMessages(); });
}

void HX_ConnectAppDelegate::setBackgroundRefreshStatus() {
    auto& fetch = services::BackgroundFetch::shared();
    const bool refresh =
        autoRefresh() && fetch.backgroundRefreshStatus() == services::BackgroundRefreshStatus::Available;
    fetch.setMinimumBackgroundFetchInterval(refresh ? services::kBackgroundFetchIntervalMinimum
                                                    : services::kBackgroundFetchIntervalNever);
}

void HX_ConnectAppDelegate::setBackgroundFetchIntervalNever() {
    record("setBackgroundFetchIntervalNever");
    services::BackgroundFetch::shared().setMinimumBackgroundFetchInterval(services::kBackgroundFetchIntervalNever);
}

void HX_ConnectAppDelegate::updateKVStoreItems(const foundation::Notification& notification) {
    const auto reason = notification.userInfo.get(services::kKeyValueStoreChangeReasonKey).int64Value(-1);
    if (reason != services::KeyValueStoreServerChange && reason != services::KeyValueStoreInitialSyncChange) return;
    auto defaults = foundation::UserDefaults::standardUserDefaults();
    auto& store = services::KeyValueStore::shared();
    for (const auto& key : notification.userInfo.get(services::kKeyValueStoreChangedKeysKey).asArray()) {
        if (auto value = store.objectForKey(key.stringValue())) (void)defaults->setObject(*value, key.stringValue());
    }
}

void HX_ConnectAppDelegate::applicationWillTerminate() {
    if (auto context = managedObjectContext()) saveMOC2Parent(context);
    updateAccountPrefs();
    auto defaults = foundation::UserDefaults::standardUserDefaults();
    defaults->setBool(graphicalEmoticons(), "graphicalEmoticons");
    defaults->setBool(showNotesInMessageLists(), "showNotesInMessageLists");
    defaults->setBool(autoRefresh(), "autoRefresh");
    defaults->setBool(newMessageAlert(), "newMessageAlert");
    (void)defaults->synchronize();
    if (serviceReach_) serviceReach_->stopNotifier();
}

void HX_ConnectAppDelegate::applicationDidReceiveMemoryWarning() {
    record("releaseLoadingController");
    // The overlay's controller goes with its view when it is taken away; one still on screen
    // stays, or nothing could take it away again.
    versionString_.reset();
    screens().releaseSharedPictures();
    releasePhoneFormatterIfUnused();
    releaseCachedContacts();
    (void)foundation::UserDefaults::standardUserDefaults()->synchronize();
}

void HX_ConnectAppDelegate::resignActive() {
    auto& center = foundation::NotificationCenter::defaultCenter();
    center.removeObserver(this, "kNetworkReachabilityChangedNotification");
    center.removeObserver(this, foundation::kApplicationWillResignActiveNotification);
    if (serviceReach_) serviceReach_->stopNotifier();
    auto& loop = dispatch::RunLoop::main();
    if (autoRefresh()) loop.cancelPerform(this, "loadUnreadMessages", foundation::Value());
    loop.cancelPerform(this, "loadPhoneSettings", foundation::Value());
    center.removeObserver(this, foundation::kApplicationDidBecomeActiveNotification);
    center.addObserver(this, foundation::kApplicationDidBecomeActiveNotification,
                       [this](const foundation::Notification&) { resumeActive(); });
    // With a passcode the lock comes 30 s later, unless the app resigned for the dialer.
    if (auto lock = passcodeLockControl()) lock->resignActive();
}

void HX_ConnectAppDelegate::resumeActive() {
    auto& center = foundation::NotificationCenter::defaultCenter();
    center.removeObserver(this, foundation::kApplicationDidBecomeActiveNotification);
    if (lockShown) {
        // The pad held back while the app was away comes now; the rest waits for the unlock.
        showPasscodeLockIfNeeded();
        return;
    }
    // Back within 30 s: the scheduled lock does not come.
    if (auto lock = passcodeLockControl()) lock->becomeActive();
    observeWhileActive();
    if (autoRefresh() && account() && !account()->username().empty() && !account()->authV2().value_or("").empty())
        loadUnreadMessages();
    auto defaults = foundation::UserDefaults::standardUserDefaults();
    defaults->setInteger(defaults->integerForKey("launchCount") + 1, "launchCount");
}

void HX_ConnectAppDelegate::observeWhileActive() {
    auto& center = foundation::NotificationCenter::defaultCenter();
    center.removeObserver(this, foundation::kApplicationWillResignActiveNotification);
    center.addObserver(this, foundation::kApplicationWillResignActiveNotification,
                       [this](const foundation::Notification&) { resignActive(); });
    center.removeObserver(this, "kNetworkReachabilityChangedNotification");
    center.addObserver(this, "kNetworkReachabilityChangedNotification", [this](const foundation::Notification& n) {
        auto reach = std::static_pointer_cast<Reachability>(n.object);
        reachabilityChanged(reach ? reach->currentReachabilityStatus() : 0);
    });
    if (serviceReach_) serviceReach_->startNotifier();
}

void HX_ConnectAppDelegate::applicationDidEnterBackground() {
    setIsInBackground(true);
    if (foundation::Application::shared().isInBackground()) showPasscodeLockIfNeeded();
    // Alerts that carry a non-zero tag stay; the ones shown through presentAlert have none.
    if (auto shown = shownAlert_.lock()) {
        if (shown->presentingViewController() && shown->view()->tag() == 0) shown->dismiss(false);
        shownAlert_.reset();
    }
    if (callPlaced()) foundation::NotificationCenter::defaultCenter().post("kClearDialpadNumberNotification");
    setSettingsLoading(false);
    {
        // Message sends finish in the background; every other request is cancelled and forgotten.
        const std::string sends = endpoints().servicePageBase() + "sms/send/";
        cancelRequests([&](const std::string& tag) { return !tag.starts_with(sends); });
    }
    removeLoadingOverlay();
    applicationWillTerminate();
    applicationDidReceiveMemoryWarning();
    resetContacts();
    webClient().firstReachabilityHandled = false;
    rearmInitialData();
    setBackgroundRefreshStatus();
}

void HX_ConnectAppDelegate::applicationWillEnterForeground() {
    const std::string username = account() ? account()->username() : std::string();
    if (!username.empty()) (void)retrieveKeychainItems();
    setSettingsLoading(false);
    setIsInBackground(false);
    if (auto name = pendingLocationSwitch()) switchToLocation(*name);
    setCallPlaced(false);
    setCallHandOver(false);
    setSettingsLoadPending(false);
    setUnreadLoadPending(false);
    // A missing user name asks for a sign-in; an empty one (an account being set up) does not.
    if (!foundation::UserDefaults::standardUserDefaults()->stringForKey("username")) {
        displayLogin();
    } else if (!lockShown && connectionAvailable() && !username.empty() && !account()->authV2().value_or("").empty()) {
        loadInitialData();
    }
    (void)allContacts();
}

void HX_ConnectAppDelegate::reachabilityChanged(int status) {
    setConnectionAvailable(status != 0);
    auto& web = webClient();
    const bool signedIn = account() && !account()->authV2().value_or("").empty();
    const auto jar = cookieJar();
    auto jarHasCookies = [&] {
        if (!jar) return false;
        std::lock_guard lock(jar->lock());
        return !jar->_cookies().empty();
    };
    if (!web.firstReachabilityHandled) {
        if (status != 0) {
            if (signedIn && jarHasCookies()) {
                loadInitialData();
            } else if (retrieveKeychainItems()) {
                displayLogin();
            } else if (!requestInFlight("ClientAuth")) {
                login();
            }
            web.firstReachabilityHandled = true;
            // A URL that came before the first report runs now, later with a passcode.
            const auto* root = window_ ? window_->rootViewController().get() : nullptr;
            if (pendingURL_ && root && !root->presentedViewController()) {
                const double delay = HXCPasscodeLock::sharedLock().passcodeRequired() ? 0.85 : 0.0;
                dispatch::RunLoop::main().perform(performTarget(), "reprocessURL", foundation::Value(), delay,
                                                  [this](const foundation::Value&) { reprocessURL(); });
            }
        } else {
            std::string message;
            bool show = true;
            if (signedIn) {
                if (connectionAlertState_ == 3) {
                    show = false;
                } else {
                    connectionAlertState_ = 3;
                    message = foundation::format(
                        foundation::localizedString("Usage of the application will be limited to read-only access of "
                                                    "previous data already downloaded to this %@ until an active "
                                                    "internet connection is detected."),
                        deviceModelName());
                }
            } else {
                message = foundation::localizedString(
                    "An internet connection is required for initial setup of this application.\nPlease make sure "
                    "that there is an active internet connection and then start the application again.");
            }
            if (show) {
                dispatch::Queue::main()->after(1.0, [weak = weakSelf(), message] {
                    auto self = weak.lock();
                    if (!self || self->connectionAvailable()) return;
                    self->presentAlert(HXAlert{foundation::localizedString("No Network Connection"),
                                               message,
                                               {{foundation::localizedString("Dismiss"), HXAlertAction::Style::Default,
                                                 [weak] {
                                                     foundation::NotificationCenter::defaultCenter().post(
                                                         "kNetworkConnectionFailedNotification");
                                                     auto app = weak.lock();
                                                     if (!app) return;
                                                     app->connectionAlertState_ = -1;
                                                     if (app->iPad()) app->setFirstResponder();
                                                 }}},
                                               std::nullopt});
                });
            }
        }
    }
    if (status != 0 && signedIn && jarHasCookies()) {
        dispatch::Queue::main()->async([weak = weakSelf()] {
            auto self = weak.lock();
            if (!self) return;
            if (self->autoRefresh()) self->queueRefresh();
            self->sendQueuedSMS();
        });
    } else if (status == 0) {
        dispatch::RunLoop::main().cancelPerform(this, "loadUnreadMessages", foundation::Value());
    }
}

std::string HX_ConnectAppDelegate::deviceModelName() const {
    // The device's model name comes from the device-names component; the form factor is what
    // the sentence needs until then.
    return iPad() ? "iPad" : "iPhone";
}

void HX_ConnectAppDelegate::preload() {
    // The launch's stored counts, and the lists' badges, wait for the service's
    // (showStoredUnreadCounts, HXAwaitsServiceUnreadCount).
    launchCountsWait_ = true;
    HXAwaitServiceUnreadCounts(*this);
    updateUnreadCounts();
    // The regions of the stored quick settings, with always access and awareness on.
    std::shared_ptr<services::LocationManager> manager;
    std::map<std::string, foundation::Data> presets;
    bool hasDefault = false;
    if (auto a = account();
        a && roles_->quickSettings.locationManager() &&
        services::LocationManager::authorizationStatus() == services::LocationAuthorization::Always &&
        foundation::UserDefaults::standardUserDefaults()->boolForKey("useQSLocation")) {
        manager = roles_->quickSettings.locationManager();
        presets = a->quickSettings();
        hasDefault = a->defaultQS().has_value();
    }
    // The background part holds what it needs, never the application object, which may go while
    // it runs; the observing is locked in on the main thread.
    dispatch::Queue::global(dispatch::Priority::Background)
        ->async([weak = weakWebClient(), manager, presets = std::move(presets), hasDefault] {
            if (manager) {
                ::monitorQuickSettingRegions(*manager, presets, hasDefault,
                                             [] { return foundation::Application::shared().isInBackground(); });
            }
            auto& store = services::KeyValueStore::shared();
            if (!store.isAvailable()) return;
            dispatch::Queue::main()->async([weak] {
                auto self = std::dynamic_pointer_cast<HX_ConnectAppDelegate>(weak.lock());
                if (!self) return;
                auto& center = foundation::NotificationCenter::defaultCenter();
                auto* app = self.get();
                // Removed with the application object's other observers in its destructor.
                center.removeObserver(app, services::kKeyValueStoreDidChangeExternallyNotification);
                center.addObserver(app, services::kKeyValueStoreDidChangeExternallyNotification,
                                   [app](const foundation::Notification& n) { app->updateKVStoreItems(n); });
            });
            store.synchronize();
        });
}

// The store may hold only the first page of a list: its counts stand in for the service's only
// where the service has not counted. With a connection the service's counts are on their way (the
// unread refresh asks for them), so the stored ones wait for them a little (polls every 0.5 s),
// by the rule the lists' badges follow (HXAwaitsServiceUnreadCount), rather than show a count the
// service's would replace.
void HX_ConnectAppDelegate::showStoredUnreadCounts(int64_t texts, int64_t voicemails, int polls) {
    if ((HXAwaitsServiceUnreadCount(*this, 1) || HXAwaitsServiceUnreadCount(*this, 2)) && polls > 0) {
        dispatch::Queue::main()->after(0.5, [weak = weakSelf(), texts, voicemails, polls] {
            if (auto app = weak.lock()) app->showStoredUnreadCounts(texts, voicemails, polls - 1);
        });
        return;
    }
    const auto& web = webClient();
    if (web.serviceUnreadCount(1).count < 0) setUnreadCount(texts, 1);
    if (web.serviceUnreadCount(2).count < 0) setUnreadCount(voicemails, 2);
}

void HX_ConnectAppDelegate::updateUnreadCounts() {
    auto child = newChildContext();
    if (!child) return;
    // The counting runs on the child's queue and touches only the child. The counts go to the main
    // queue, where the application object lives and dies; the weak pointer is carried there and
    // locked only there.
    HXMessageStore::performWithThreadContext(child, [child, weak = weakSelf()] {
        auto model = HXMessageStore::managedObjectModel();
        auto count = [&](uint64_t mask) -> int64_t {
            foundation::Array types;
            for (int type : typesForMask(mask)) types.emplace_back(type);
            auto request = model->fetchRequestFromTemplate("cv_unread", foundation::Dictionary{{"TYPELIST", types}});
            if (!request.ok()) return 0;
            auto n = child->count(request.value());
            return n.ok() ? static_cast<int64_t>(n.value()) : 0;
        };
        const int64_t texts = count(3072), voicemails = count(4);
        dispatch::Queue::main()->async([weak, texts, voicemails] {
            auto app = weak.lock();
            if (!app) return;
            app->decreaseMocAccessCount();
            // Only the launch's counts wait: later ones (after a deletion) are the store's news.
            app->showStoredUnreadCounts(texts, voicemails, std::exchange(app->launchCountsWait_, false) ? 10 : 0);
        });
    });
}
