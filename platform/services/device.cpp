#include "platform/services/device.h"

#include <algorithm>
#include <cmath>

#include "platform/foundation/notification_center.h"
#include "platform/services/audio_session.h"
#include "platform/services/location_manager.h"

namespace services {

ShortcutItems& ShortcutItems::shared() {
    static ShortcutItems instance;
    return instance;
}
void ShortcutItems::setShortcutItems(std::vector<ShortcutItem> items) {
    std::lock_guard lock(mutex_);
    items_ = std::move(items);
}
std::vector<ShortcutItem> ShortcutItems::shortcutItems() const {
    std::lock_guard lock(mutex_);
    return items_;
}

AppBadge& AppBadge::shared() {
    static AppBadge instance;
    return instance;
}
void AppBadge::setBadgeNumber(long number) {
    std::lock_guard lock(mutex_);
    number_ = number < 0 ? 0 : number;
    ++updates_;
}
long AppBadge::badgeNumber() const {
    std::lock_guard lock(mutex_);
    return number_;
}
int AppBadge::updates() const {
    std::lock_guard lock(mutex_);
    return updates_;
}

BackgroundFetch& BackgroundFetch::shared() {
    static BackgroundFetch instance;
    return instance;
}
BackgroundRefreshStatus BackgroundFetch::backgroundRefreshStatus() const {
    std::lock_guard lock(mutex_);
    return status_;
}
void BackgroundFetch::setBackgroundRefreshStatus(BackgroundRefreshStatus status) {
    {
        std::lock_guard lock(mutex_);
        if (status_ == status) return;
        status_ = status;
    }
    // Posted outside the lock: observers read the status back.
    foundation::NotificationCenter::defaultCenter().post(kBackgroundRefreshStatusDidChangeNotification);
}
void BackgroundFetch::setMinimumBackgroundFetchInterval(double seconds) {
    std::lock_guard lock(mutex_);
    interval_ = seconds;
}
double BackgroundFetch::minimumBackgroundFetchInterval() const {
    std::lock_guard lock(mutex_);
    return interval_;
}
void BackgroundFetch::setSystemMinimumInterval(double seconds) {
    std::lock_guard lock(mutex_);
    systemMinimum_ = std::max(0.0, seconds);
}
double BackgroundFetch::systemMinimumInterval() const {
    std::lock_guard lock(mutex_);
    return systemMinimum_;
}
bool BackgroundFetch::isFetchDue(double now, double since) const {
    std::lock_guard lock(mutex_);
    if (status_ != BackgroundRefreshStatus::Available || interval_ == kBackgroundFetchIntervalNever || running_)
        return false;
    const double wait = std::max(interval_, systemMinimum_);
    const double from = lastBegan_ ? std::max(*lastBegan_, since) : since;
    return now - from >= wait;
}
void BackgroundFetch::fetchBegan(double now) {
    std::lock_guard lock(mutex_);
    lastBegan_ = now;
    running_ = true;
    ++begun_;
}
void BackgroundFetch::fetchEnded() {
    std::lock_guard lock(mutex_);
    running_ = false;
}
int BackgroundFetch::fetchesBegun() const {
    std::lock_guard lock(mutex_);
    return begun_;
}

KeyValueStore& KeyValueStore::shared() {
    static KeyValueStore instance;
    return instance;
}
bool KeyValueStore::isAvailable() const {
    std::lock_guard lock(mutex_);
    return available_;
}
void KeyValueStore::setAvailable(bool available) {
    std::lock_guard lock(mutex_);
    available_ = available;
}
std::optional<foundation::Value> KeyValueStore::objectForKey(const std::string& key) const {
    std::lock_guard lock(mutex_);
    const auto* value = values_.find(key);
    if (!value) return std::nullopt;
    return *value;
}
void KeyValueStore::setObject(const std::string& key, foundation::Value value) {
    std::lock_guard lock(mutex_);
    values_.set(key, std::move(value));
}
void KeyValueStore::synchronize() {
    std::lock_guard lock(mutex_);
    ++synchronizations_;
}
int KeyValueStore::synchronizeCount() const {
    std::lock_guard lock(mutex_);
    return synchronizations_;
}
void KeyValueStore::receiveExternalChange(int reason, const foundation::Dictionary& values) {
    foundation::Array keys;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [key, value] : values) {
            values_.set(key, value);
            keys.emplace_back(key.string());
        }
    }
    foundation::NotificationCenter::defaultCenter().post(
        kKeyValueStoreDidChangeExternallyNotification, nullptr,
        foundation::Dictionary{{kKeyValueStoreChangeReasonKey, reason}, {kKeyValueStoreChangedKeysKey, keys}});
}

PowerState& PowerState::shared() {
    static PowerState instance;
    return instance;
}
bool PowerState::isLowPowerModeEnabled() const {
    std::lock_guard lock(mutex_);
    return lowPower_;
}
void PowerState::setLowPowerModeEnabled(bool enabled) {
    std::lock_guard lock(mutex_);
    lowPower_ = enabled;
}

Battery& Battery::shared() {
    static Battery instance;
    return instance;
}
double Battery::level() const {
    std::lock_guard lock(mutex_);
    return level_;
}
void Battery::setLevel(double level) {
    std::lock_guard lock(mutex_);
    level_ = std::isfinite(level) ? std::clamp(level, 0.0, 1.0) : 1.0;
}
BatteryState Battery::state() const {
    std::lock_guard lock(mutex_);
    return state_;
}
void Battery::setState(BatteryState state) {
    std::lock_guard lock(mutex_);
    state_ = state;
}

Telephony& Telephony::shared() {
    static Telephony instance;
    return instance;
}
bool Telephony::canOpenURL(const std::string& url) const {
    const auto colon = url.find(':');
    if (colon == std::string::npos || colon == 0) return false;
    std::lock_guard lock(mutex_);
    return schemes_.contains(url.substr(0, colon));
}
void Telephony::setSchemeOpens(const std::string& scheme, bool opens) {
    std::lock_guard lock(mutex_);
    if (opens)
        schemes_.insert(scheme);
    else
        schemes_.erase(scheme);
}
std::optional<std::string> Telephony::carrierName() const {
    std::lock_guard lock(mutex_);
    return carrier_;
}
void Telephony::setCarrierName(std::optional<std::string> name) {
    std::lock_guard lock(mutex_);
    carrier_ = std::move(name);
}

LocationServices& LocationServices::shared() {
    static LocationServices instance;
    return instance;
}
bool LocationServices::isRegionMonitoringAvailable() const {
    std::lock_guard lock(mutex_);
    return available_;
}
void LocationServices::setRegionMonitoringAvailable(bool available) {
    std::lock_guard lock(mutex_);
    available_ = available;
}
LocationAuthorization LocationServices::authorizationStatus() const {
    std::lock_guard lock(mutex_);
    return status_;
}
void LocationServices::setAuthorizationStatus(LocationAuthorization status) {
    std::lock_guard lock(mutex_);
    status_ = status;
}
void LocationServices::startMonitoring(const std::string& regionIdentifier) {
    std::lock_guard lock(mutex_);
    if (available_) monitored_.insert(regionIdentifier);
}
void LocationServices::stopMonitoring(const std::string& regionIdentifier) {
    std::lock_guard lock(mutex_);
    monitored_.erase(regionIdentifier);
}
std::set<std::string> LocationServices::monitoredRegions() const {
    std::lock_guard lock(mutex_);
    return monitored_;
}

NotificationSettings& NotificationSettings::shared() {
    static NotificationSettings instance;
    return instance;
}
void NotificationSettings::setNotificationCategories(std::vector<NotificationCategory> categories) {
    std::lock_guard lock(mutex_);
    categories_ = std::move(categories);
}
std::vector<NotificationCategory> NotificationSettings::notificationCategories() const {
    std::lock_guard lock(mutex_);
    return categories_;
}
void NotificationSettings::setAnswerToAuthorizationRequest(bool grant) {
    std::lock_guard lock(mutex_);
    answer_ = grant;
}
int NotificationSettings::requestAuthorization(int options) {
    std::lock_guard lock(mutex_);
    // The user is asked once; a later request with more options gets them only if allowed.
    if (!decided_) decided_ = answer_;
    if (*decided_) granted_ |= options;
    return *decided_ ? granted_ : 0;
}
int NotificationSettings::grantedOptions() const {
    std::lock_guard lock(mutex_);
    return granted_;
}

ProximitySensor& ProximitySensor::shared() {
    static ProximitySensor sensor;
    return sensor;
}

bool ProximitySensor::isProximityMonitoringEnabled() const {
    std::lock_guard lock(mutex_);
    return enabled_;
}

void ProximitySensor::setProximityMonitoringEnabled(bool enabled) {
    std::lock_guard lock(mutex_);
    enabled_ = enabled && available_;
}

bool ProximitySensor::isSensorAvailable() const {
    std::lock_guard lock(mutex_);
    return available_;
}

void ProximitySensor::setSensorAvailable(bool available) {
    std::lock_guard lock(mutex_);
    available_ = available;
    if (!available) enabled_ = false;
}

void resetDeviceServices() {
    ShortcutItems::shared().setShortcutItems({});
    {
        auto& badge = AppBadge::shared();
        std::lock_guard lock(badge.mutex_);
        badge.number_ = 0;
        badge.updates_ = 0;
    }
    {
        auto& fetch = BackgroundFetch::shared();
        std::lock_guard lock(fetch.mutex_);
        fetch.status_ = BackgroundRefreshStatus::Available;
        fetch.interval_ = kBackgroundFetchIntervalNever;
        fetch.systemMinimum_ = 30;
        fetch.lastBegan_.reset();
        fetch.running_ = false;
        fetch.begun_ = 0;
    }
    {
        auto& kv = KeyValueStore::shared();
        std::lock_guard lock(kv.mutex_);
        kv.available_ = true;
        kv.values_.clear();
        kv.synchronizations_ = 0;
    }
    PowerState::shared().setLowPowerModeEnabled(false);
    Battery::shared().setLevel(1.0);
    Battery::shared().setState(BatteryState::Unplugged);
    {
        auto& phone = Telephony::shared();
        std::lock_guard lock(phone.mutex_);
        phone.schemes_ = {"http", "https", "mailto", "tel"};
        phone.carrier_ = std::string("HX Mobile");
    }
    {
        auto& sensor = ProximitySensor::shared();
        std::lock_guard lock(sensor.mutex_);
        sensor.available_ = true;
        sensor.enabled_ = false;
    }
    AudioSession::shared().reset();
    {
        auto& location = LocationServices::shared();
        std::lock_guard lock(location.mutex_);
        location.available_ = true;
        location.status_ = LocationAuthorization::NotDetermined;
        location.monitored_.clear();
    }
    LocationFeed::reset();
    {
        auto& settings = NotificationSettings::shared();
        std::lock_guard lock(settings.mutex_);
        settings.categories_.clear();
        settings.answer_ = true;
        settings.decided_.reset();
        settings.granted_ = 0;
    }
}

}  // namespace services
