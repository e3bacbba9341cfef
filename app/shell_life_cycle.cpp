// The application object over the app's life: alerts, refresh scheduling, background refresh,
// the cloud key-value mirror, termination and memory warnings.
#include "app/connect_app_delegate.h"
#include "platform/dispatch/dispatch.h"
#include "platform/dispatch/run_loop.h"
#include "platform/foundation/user_defaults.h"
#include "platform/services/device.h"
#include "platform/toolkit/alert_controller.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/split_view_controller.h"
#include "platform/toolkit/window.h"

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
    auto controller = toolkit::AlertController::make(alert.title, alert.message, toolkit::AlertControllerStyle::Alert);
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
    shell_->recordAlert(alert);
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
    auto* root = window_->rootViewController().get();
    if (auto* presented = root->presentedViewController()) {
        if (dynamic_cast<toolkit::AlertController*>(presented)) {
            root->dismiss(false);
        } else {
            auto* nav = dynamic_cast<toolkit::NavigationController*>(presented);
            auto* target = nav && nav->visibleViewController() ? nav->visibleViewController() : presented;
            target->present(alert, true);
            return;
        }
    }
    if (auto* nav = dynamic_cast<toolkit::NavigationController*>(root); nav && nav->visibleViewController()) {
        nav->visibleViewController()->present(alert, true);
    } else if (auto* split = dynamic_cast<toolkit::SplitViewController*>(root);
               split && !split->viewControllers().empty()) {
        split->viewControllers().back()->present(alert, true);
    } else {
        root->present(alert, true);
    }
}

void HX_ConnectAppDelegate::alertNoConnection() {
    shell_->record("alertNoConnection");
    if (isInBackground()) return;
    setConnectionAvailable(false);
    if (connectionAlertState_ == 3) return;
    connectionAlertState_ = 3;
    HXAlert alert{"No Network Connection",
                  "Your request could not be completed as there currently is no internet connection available.\n"
                  "Please try again after making sure you have a working connection.",
                  {{"Dismiss", HXAlertAction::Style::Default,
                    [this] {
                        foundation::NotificationCenter::defaultCenter().post("kNetworkConnectionFailedNotification");
                        connectionAlertState_ = -1;
                        if (iPad()) setFirstResponder();
                    }}},
                  std::nullopt};
    presentAlert(alert);
}

void HX_ConnectAppDelegate::alertSlowConnection() {
    shell_->record("alertSlowConnection");
    if (isInBackground() || connectionAlertState_ == 4) return;
    connectionAlertState_ = 4;
    HXAlert alert{"Slow Network Connection",
                  "Your request could not be completed as the internet connection timed out.\n"
                  "Please try again after making sure you have a reliable connection.",
                  {{"Dismiss", HXAlertAction::Style::Cancel,
                    [this] {
                        foundation::NotificationCenter::defaultCenter().post("kNetworkConnectionFailedNotification");
                        connectionAlertState_ = -1;
                    }}},
                  std::nullopt};
    presentAlert(alert);
}

void HX_ConnectAppDelegate::queueRefresh() {
    shell_->record("queueRefresh");
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
    shell_->record("setBackgroundFetchIntervalNever");
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
    shell_->record("stopReachabilityNotifier");
}

void HX_ConnectAppDelegate::applicationDidReceiveMemoryWarning() {
    shell_->record("releaseLoadingController");
    versionString_.reset();
    releasePhoneFormatterIfUnused();
    (void)foundation::UserDefaults::standardUserDefaults()->synchronize();
}
