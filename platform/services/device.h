// The phone's smaller system services as the application shell meets them: home-screen shortcuts,
// user activities, the app-icon badge, background fetch and its refresh status, the cloud
// key-value store, Low Power Mode, telephony (which URL schemes open and the carrier), location
// monitoring, the proximity sensor and the notification categories with their authorisation. Each is in memory and
// process-wide, as on the device; tests and the emulator set what the system would report and
// read back what the app asked for. All of them may be used from any thread.
#pragma once

#include <limits>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/foundation/value.h"

namespace services {

// ---- home-screen shortcuts

struct ShortcutItem {
    std::string type;
    std::string title;
    std::string iconName;  // a system image name or an image of the app's package
    bool operator==(const ShortcutItem&) const = default;
};

class ShortcutItems {
public:
    static ShortcutItems& shared();
    void setShortcutItems(std::vector<ShortcutItem> items);
    std::vector<ShortcutItem> shortcutItems() const;

private:
    friend void resetDeviceServices();
    mutable std::mutex mutex_;
    std::vector<ShortcutItem> items_;
};

// ---- user activities (handed on by the system, also for search results)

inline constexpr const char* kSearchableItemActionType = "platform.searchable-item";
inline constexpr const char* kSearchableItemActivityIdentifier = "kCSSearchableItemActivityIdentifier";

// The activities themselves, which screens publish, are in user_activity.h.

// ---- app-icon badge

class AppBadge {
public:
    static AppBadge& shared();
    void setBadgeNumber(long number);
    long badgeNumber() const;
    // How many times the number was set (a badge set to its own value still counts).
    int updates() const;

private:
    friend void resetDeviceServices();
    mutable std::mutex mutex_;
    long number_ = 0;
    int updates_ = 0;
};

// ---- background fetch

enum class BackgroundRefreshStatus { Restricted = 0, Denied = 1, Available = 2 };
inline constexpr const char* kBackgroundRefreshStatusDidChangeNotification =
    "UIApplicationBackgroundRefreshStatusDidChangeNotification";
inline constexpr double kBackgroundFetchIntervalMinimum = 0.0;
inline constexpr double kBackgroundFetchIntervalNever = std::numeric_limits<double>::max();

class BackgroundFetch {
public:
    static BackgroundFetch& shared();
    BackgroundRefreshStatus backgroundRefreshStatus() const;
    // The user changed the setting: posts the change notification (on the calling thread) when
    // the status differs.
    void setBackgroundRefreshStatus(BackgroundRefreshStatus status);
    void setMinimumBackgroundFetchInterval(double seconds);
    // Never until the app asks for another interval.
    double minimumBackgroundFetchInterval() const;

    // ---- the system's side (the window's background, the run's option)

    // The least time the system leaves between fetches however short the interval asked (the
    // minimum interval means this much).
    void setSystemMinimumInterval(double seconds);
    double systemMinimumInterval() const;
    // Whether a fetch is due at now (the process clock) for an app in the background since
    // `since`: refresh is available, an interval is asked for, no fetch is running, and that
    // interval (at least the system's) has passed since then and since the last fetch began.
    bool isFetchDue(double now, double since) const;
    // A fetch starts; it runs until the app answers it.
    void fetchBegan(double now);
    void fetchEnded();
    int fetchesBegun() const;

private:
    friend void resetDeviceServices();
    mutable std::mutex mutex_;
    BackgroundRefreshStatus status_ = BackgroundRefreshStatus::Available;
    double interval_ = kBackgroundFetchIntervalNever;
    double systemMinimum_ = 30;
    std::optional<double> lastBegan_;
    bool running_ = false;
    int begun_ = 0;
};

// ---- the cloud key-value store

inline constexpr const char* kKeyValueStoreDidChangeExternallyNotification =
    "NSUbiquitousKeyValueStoreDidChangeExternallyNotification";
inline constexpr const char* kKeyValueStoreChangeReasonKey = "NSUbiquitousKeyValueStoreChangeReasonKey";
inline constexpr const char* kKeyValueStoreChangedKeysKey = "NSUbiquitousKeyValueStoreChangedKeysKey";
enum KeyValueStoreChangeReason : int {
    KeyValueStoreServerChange = 0,
    KeyValueStoreInitialSyncChange = 1,
    KeyValueStoreQuotaViolationChange = 2,
    KeyValueStoreAccountChange = 3
};

class KeyValueStore {
public:
    static KeyValueStore& shared();
    // Whether the user is signed in to the cloud (the store is usable at all).
    bool isAvailable() const;
    void setAvailable(bool available);
    std::optional<foundation::Value> objectForKey(const std::string& key) const;
    void setObject(const std::string& key, foundation::Value value);
    // Counts the app's requests to synchronise.
    void synchronize();
    int synchronizeCount() const;
    // Another device changed values: stores them and posts the external-change notification
    // with the reason and the changed keys (on the calling thread).
    void receiveExternalChange(int reason, const foundation::Dictionary& values);

private:
    friend void resetDeviceServices();
    mutable std::mutex mutex_;
    bool available_ = true;
    foundation::Dictionary values_;
    int synchronizations_ = 0;
};

// ---- power and telephony

class PowerState {
public:
    static PowerState& shared();
    bool isLowPowerModeEnabled() const;
    void setLowPowerModeEnabled(bool enabled);

private:
    friend void resetDeviceServices();
    mutable std::mutex mutex_;
    bool lowPower_ = false;
};

// The battery the status bar shows: its charge (0 to 1) and whether it is being charged.
enum class BatteryState { Unplugged, Charging, Full };
class Battery {
public:
    static Battery& shared();
    double level() const;
    // Clamped to 0 ... 1.
    void setLevel(double level);
    BatteryState state() const;
    void setState(BatteryState state);

private:
    friend void resetDeviceServices();
    mutable std::mutex mutex_;
    double level_ = 1.0;
    BatteryState state_ = BatteryState::Unplugged;
};

class Telephony {
public:
    static Telephony& shared();
    // Whether a URL of this scheme ("tel", "https", ...) can be opened on this device.
    bool canOpenURL(const std::string& url) const;
    void setSchemeOpens(const std::string& scheme, bool opens);
    // The cellular provider's carrier name; none without a SIM.
    std::optional<std::string> carrierName() const;
    void setCarrierName(std::optional<std::string> name);

private:
    friend void resetDeviceServices();
    mutable std::mutex mutex_;
    std::set<std::string> schemes_{"http", "https", "mailto", "tel"};
    std::optional<std::string> carrier_ = std::string("HX Mobile");
};

// ---- the proximity sensor

// Whether the app asked the device to blank the screen while it is held to the ear. A device
// without the sensor (a tablet) keeps monitoring off whatever the app asks.
class ProximitySensor {
public:
    static ProximitySensor& shared();
    bool isProximityMonitoringEnabled() const;
    void setProximityMonitoringEnabled(bool enabled);
    bool isSensorAvailable() const;
    // Tests and the emulator's tablet: taking the sensor away also ends monitoring.
    void setSensorAvailable(bool available);

private:
    friend void resetDeviceServices();
    mutable std::mutex mutex_;
    bool available_ = true;
    bool enabled_ = false;
};

// ---- location monitoring

enum class LocationAuthorization { NotDetermined = 0, Restricted = 1, Denied = 2, Always = 3, WhenInUse = 4 };

class LocationServices {
public:
    static LocationServices& shared();
    bool isRegionMonitoringAvailable() const;
    void setRegionMonitoringAvailable(bool available);
    LocationAuthorization authorizationStatus() const;
    void setAuthorizationStatus(LocationAuthorization status);
    void startMonitoring(const std::string& regionIdentifier);
    void stopMonitoring(const std::string& regionIdentifier);
    std::set<std::string> monitoredRegions() const;

private:
    friend void resetDeviceServices();
    mutable std::mutex mutex_;
    bool available_ = true;
    LocationAuthorization status_ = LocationAuthorization::NotDetermined;
    std::set<std::string> monitored_;
};

// ---- notification categories, responses and authorisation

struct NotificationAction {
    std::string identifier;
    std::string title;
    int options = 0;
    // A text-input action has a button title and a placeholder.
    bool textInput = false;
    std::string textInputButtonTitle;
    std::string textInputPlaceholder;
};

struct NotificationCategory {
    std::string identifier;
    std::vector<NotificationAction> actions;
    std::vector<std::string> intentIdentifiers;
    std::string hiddenPreviewsBodyPlaceholder;
    std::string categorySummaryFormat;
    int options = 0;
};

inline constexpr const char* kNotificationDefaultActionIdentifier = "platform.notification.default-action";
inline constexpr const char* kNotificationDismissActionIdentifier = "platform.notification.dismiss-action";

// What the user did with a delivered notification.
struct NotificationResponse {
    std::string actionIdentifier;
    foundation::Dictionary userInfo;
    // Only for a text-input action: what the user typed.
    std::optional<std::string> userText;
};

enum NotificationAuthorizationOptions : int {
    NotificationAuthorizationBadge = 1,
    NotificationAuthorizationSound = 2,
    NotificationAuthorizationAlert = 4
};

class NotificationSettings {
public:
    static NotificationSettings& shared();
    // The set given replaces every category registered before.
    void setNotificationCategories(std::vector<NotificationCategory> categories);
    std::vector<NotificationCategory> notificationCategories() const;
    // What the user answers to the first request; later requests get the same answer.
    void setAnswerToAuthorizationRequest(bool grant);
    // The options granted, 0 before a request or when refused.
    int requestAuthorization(int options);
    int grantedOptions() const;

private:
    friend void resetDeviceServices();
    mutable std::mutex mutex_;
    std::vector<NotificationCategory> categories_;
    bool answer_ = true;
    std::optional<bool> decided_;
    int granted_ = 0;
};

// Puts every service above, and the audio session, back to its state on a fresh device (tests).
void resetDeviceServices();

}  // namespace services
