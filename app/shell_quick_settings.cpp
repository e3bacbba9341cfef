// Applying a quick setting, and the location manager's events that switch to one.
#include <algorithm>

#include "app/connect_app_delegate.h"
#include "app/quick_setting_regions.h"
#include "app/settings_screen.h"
#include "app/shell_roles.h"
#include "model/account.h"
#include "model/quick_setting.h"
#include "platform/dispatch/run_loop.h"
#include "platform/foundation/user_defaults.h"
#include "platform/foundation/uuid.h"
#include "platform/services/user_notifications.h"
#include "platform/toolkit/table_view_controller.h"

namespace {

// A local notification shown at once, that opens the settings view when tapped.
void announceSwitch(const std::string& body) {
    if (!foundation::UserDefaults::standardUserDefaults()->boolForKey("sendQSLocationChangeNotifications")) return;
    services::NotificationRequest request;
    // Each switch is announced on its own.
    request.identifier = "quicksetting-" + foundation::UUID::random().string();
    request.content.title = "📍Location Awareness";
    request.content.body = body;
    request.content.userInfo = foundation::Dictionary{{"quicksetting", foundation::Value(int64_t{1})}};
    services::UserNotificationCenter::currentNotificationCenter()->addNotificationRequest(std::move(request));
}

std::string formatted(std::string text, const std::vector<std::string>& args) {
    for (const auto& arg : args) {
        const auto at = text.find("%@");
        if (at == std::string::npos) break;
        text.replace(at, 2, arg);
    }
    return text;
}

}  // namespace

// The location manager's delegate: it hands each event to the application object's operation.
class HXShellLocationDelegate final : public services::LocationManagerDelegate {
public:
    explicit HXShellLocationDelegate(HX_ConnectAppDelegate& app) : app_(app) {}
    void didChangeAuthorizationStatus(services::LocationManager&, services::LocationAuthorization status) override {
        app_.locationManagerDidChangeAuthorizationStatus(status);
    }
    void didFailWithError(services::LocationManager&, const foundation::Error& error) override {
        app_.locationManagerDidFailWithError(error);
    }
    void didEnterRegion(services::LocationManager&, const services::Region& region) override {
        app_.locationManagerDidEnterRegion(region);
    }
    void didExitRegion(services::LocationManager&, const services::Region& region) override {
        app_.locationManagerDidExitRegion(region);
    }
    void didRangeBeacons(services::LocationManager&, const std::vector<services::Beacon>& beacons,
                         const services::BeaconRegion&) override {
        app_.locationManagerDidRangeBeacons(beacons);
    }

private:
    HX_ConnectAppDelegate& app_;
};

void HX_ConnectAppDelegate::makeLocationManager() {
    // The delegate shares the application object's lifetime; one that no shared pointer owns
    // hears nothing.
    std::shared_ptr<services::LocationManagerDelegate> delegate;
    if (auto self = weakWebClient().lock()) {
        locationDelegate_ = std::make_shared<HXShellLocationDelegate>(*this);
        delegate = std::shared_ptr<services::LocationManagerDelegate>(self, locationDelegate_.get());
    }
    roles_->quickSettings.makeLocationManager(delegate);
}

void HX_ConnectAppDelegate::stopMonitoringRegions() { roles_->quickSettings.stopMonitoringRegions(); }

// ---- the presets' owner (the quick settings role, app/shell_roles.h)

void HXAppQuickSettingsRole::makeLocationManager(const std::shared_ptr<services::LocationManagerDelegate>& delegate) {
    if (!services::LocationServices::shared().isRegionMonitoringAvailable()) return;
    locationManager_ = services::LocationManager::make();
    locationManager_->setDistanceFilter(100);
    locationManager_->setDesiredAccuracy(-1);  // best
    if (delegate) locationManager_->setDelegate(delegate);
}

std::shared_ptr<services::LocationManager> HXAppQuickSettingsRole::locationManager() const { return locationManager_; }

void HXAppQuickSettingsRole::stopMonitoringRegions() {
    if (!locationManager_) return;
    for (const auto& region : locationManager_->monitoredRegions()) locationManager_->stopMonitoringForRegion(*region);
}

void HXAppQuickSettingsRole::monitorQuickSettingRegions() {
    auto a = app_.account();
    if (!locationManager_ || !a) return;
    ::monitorQuickSettingRegions(*locationManager_, a->quickSettings(), a->defaultQS().has_value());
}

void HXAppQuickSettingsRole::selectQuickSettingWithName(const std::string& name) {
    auto a = app_.account();
    if (!a) return;
    const auto entry = a->quickSettings().find(name);
    if (entry == a->quickSettings().end()) return;
    auto read = HX_QuickSetting::unarchived(entry->second);
    if (!read.ok() || !read.value()) return;
    const auto preset = read.value();
    auto defaults = foundation::UserDefaults::standardUserDefaults();
    if (a->quickSetting(app_, *defaults)->hash() == preset->hash()) return;

    if (preset->autoRefresh() != 0) {
        app_.setAutoRefresh(preset->autoRefresh() == 2);
        if (!app_.isInBackground()) {
            if (app_.autoRefresh())
                app_.loadUnreadMessages();
            else
                dispatch::RunLoop::main().cancelPerform(&app_, "loadUnreadMessages", foundation::Value());
        }
        app_.setBackgroundRefreshStatus();
    }
    if (preset->messageSounds() != 0) app_.setNewMessageAlert(preset->messageSounds() == 2);
    if (preset->prefetchVM() != 0) {
        (void)defaults->setBool(preset->prefetchVM() == 2, "VMprefetch");
        (void)defaults->synchronize();
    }
    if (!app_.connectionAvailable()) {
        app_.alertNoConnection();
        return;
    }

    auto root = app_.viewControllerForIndex(4);
    auto* screen = dynamic_cast<HXSettingsScreen*>(root.get());
    // Marks the row of tag busy (row from the tag's own index path, or the one given) and sets.
    auto apply = [&](int tag, const std::function<void(HXSettingsScreen&)>& set, std::optional<long> row = {}) {
        if (!screen) return;
        if (row) {
            screen->markRowBusy(toolkit::IndexPath{screen->sectionForTag(tag), *row});
        } else if (const auto path = screen->indexPathForTag(tag); path.section >= 0 && path.row >= 0) {
            screen->markRowBusy(path);
        }
        set(*screen);
    };
    const auto sorted = a->sortedPhones();
    for (const auto& entry : preset->phones()) {
        const int64_t id = entry.first;
        const auto& phone = entry.second;
        const auto mine = a->phones().find(id);
        if (!phone || mine == a->phones().end() || !mine->second || mine->second->forwarded() == phone->forwarded())
            continue;
        const auto at = std::find_if(sorted.begin(), sorted.end(),
                                     [id = id](const HX_PhonePtr& p) { return p && p->phoneId() == id; });
        if (at == sorted.end()) continue;
        const auto position = static_cast<size_t>(at - sorted.begin());
        apply(
            114,
            [&](HXSettingsScreen& s) { s.enableForwardingForNumber(static_cast<long>(position), phone->forwarded()); },
            static_cast<long>(position));
    }
    if (preset->emailNotificationMissedCalls() != a->emailNotificationMissedCalls())
        apply(112, [&](auto& s) { s.setMissedCallsEmailNotification(preset->emailNotificationMissedCalls()); });
    if (preset->emailNotificationSMS() != a->emailNotificationSMS())
        apply(111, [&](auto& s) { s.setSMSEmailNotification(preset->emailNotificationSMS()); });
    if (preset->emailNotificationVM() != a->emailNotificationVM())
        apply(110, [&](auto& s) { s.setVMEmailNotification(preset->emailNotificationVM()); });
    if (preset->callOptions() != a->callOptions())
        apply(122, [&](auto& s) { s.setCallOptions(preset->callOptions()); });
    if (preset->directConnect() != a->directConnect())
        apply(101, [&](auto& s) { s.setDirectConnect(preset->directConnect()); });
    if (preset->VMtranscription() != a->VMtranscription())
        apply(104, [&](auto& s) { s.setVMtranscription(preset->VMtranscription()); });
    if (preset->useHXasCID() != a->useHXasCID()) apply(102, [&](auto& s) { s.setHXasCID(preset->useHXasCID()); });
    // A greeting that no longer exists leaves the greeting as it is.
    const auto& greeting = preset->currentVmGreetingId();
    if (a->vmGreetings().contains(greeting) && greeting != a->currentVmGreetingId())
        apply(115, [&](auto& s) { s.setVMGreeting(greeting); });
    // The callback choice is the app's own: a linked phone that still exists, the direct call or
    // the phone's dialer.
    const int64_t callback = preset->forwardingPhoneID();
    if ((callback < 0 || a->phones().contains(callback)) && callback != a->forwardingPhoneID()) {
        a->setForwardingPhoneID(callback);
        if (screen) {
            if (const long section = screen->sectionForTag(103); section >= 0) screen->reloadSection(section);
        }
        app_.updateAccountPrefs();
        (void)defaults->synchronize();
    }
    if (preset->dndEnabled() != a->dndEnabled()) apply(100, [&](auto& s) { s.setDND(preset->dndEnabled()); });
}

// ---- the location manager's events

void HX_ConnectAppDelegate::locationManagerDidChangeAuthorizationStatus(services::LocationAuthorization status) {
    auto& center = foundation::NotificationCenter::defaultCenter();
    if (status == services::LocationAuthorization::Always) {
        center.post("kLocationAuthorizationReceivedNotification");
    } else {
        (void)foundation::UserDefaults::standardUserDefaults()->setBool(false, "useQSLocation");
        stopMonitoringRegions();
        if (auto manager = roles_->quickSettings.locationManager()) manager->stopUpdatingLocation();
    }
    center.post("kLocationAuthorizationStatusChangedNotification");
}

void HX_ConnectAppDelegate::locationManagerDidFailWithError(const foundation::Error& error) {
    auto manager = roles_->quickSettings.locationManager();
    if (error.domain == services::kLocationErrorDomain && error.code == services::kLocationErrorDenied && manager)
        manager->stopUpdatingLocation();
}

void HX_ConnectAppDelegate::locationManagerDidEnterRegion(const services::Region& region) {
    const auto& name = region.identifier();
    if (pendingLocationSwitch() == name) return;
    switchToLocation(name);
    announceSwitch(formatted("Changing to QuickSetting '%@'", {name}));
}

void HX_ConnectAppDelegate::locationManagerDidExitRegion(const services::Region& region) {
    auto a = account();
    if (!a || !a->defaultQS() || a->defaultQS() == pendingLocationSwitch()) return;
    const std::string fallback = *a->defaultQS();
    switchToLocation(fallback);
    announceSwitch(
        formatted("Leaving region '%@' and changing to default QuickSetting '%@'", {region.identifier(), fallback}));
}

void HX_ConnectAppDelegate::locationManagerDidRangeBeacons(const std::vector<services::Beacon>& beacons) {
    if (beacons.empty()) return;
    foundation::NotificationCenter::defaultCenter().post("kBeaconRangingInformationReceivedNotification",
                                                         std::make_shared<services::Beacon>(beacons.front()));
}
