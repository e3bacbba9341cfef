// The device's location manager as the app meets it: access requests, the last fix, region
// monitoring with entry and exit events, beacon ranging and errors, all told to a delegate on the
// main queue. There is no positioning hardware here: the device's side (LocationFeed) is driven by
// tests and by the program's route replay, which hand it fixes, beacon sightings, errors and the
// user's answers; every manager alive hears them. The access status and region availability are
// the device-wide LocationServices (device.h), whose set of monitored identifiers the managers keep
// up to date.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/foundation/thread_annotations.h"
#include "platform/services/device.h"
#include "platform/services/region.h"

namespace services {

inline constexpr const char* kLocationErrorDomain = "kCLErrorDomain";
// The error codes the app tells apart.
enum LocationErrorCode : int64_t {
    kLocationErrorLocationUnknown = 0,
    kLocationErrorDenied = 1,
    kLocationErrorNetwork = 2,
    kLocationErrorGeocodeFoundNoResult = 8,
    kLocationErrorGeocodeFoundPartialResult = 9,
};

// One position fix.
struct Location {
    Coordinate coordinate;
    // Metres; a negative value marks a fix that is not valid.
    double horizontalAccuracy = 5;
    // Seconds since 1970.
    double timestamp = 0;
};

// One beacon as ranging reports it.
struct Beacon {
    std::string proximityUUID;
    uint16_t major = 0;
    uint16_t minor = 0;
    // Metres; 0 or less when the distance cannot be told.
    double accuracy = -1;
};

class LocationManager;

// What a manager tells; every call comes on the main queue.
class LocationManagerDelegate {
public:
    virtual ~LocationManagerDelegate() = default;
    virtual void didChangeAuthorizationStatus(LocationManager& manager, LocationAuthorization status) {
        (void)manager, (void)status;
    }
    virtual void didFailWithError(LocationManager& manager, const foundation::Error& error) {
        (void)manager, (void)error;
    }
    virtual void didUpdateLocations(LocationManager& manager, const std::vector<Location>& locations) {
        (void)manager, (void)locations;
    }
    virtual void didEnterRegion(LocationManager& manager, const Region& region) { (void)manager, (void)region; }
    virtual void didExitRegion(LocationManager& manager, const Region& region) { (void)manager, (void)region; }
    virtual void didRangeBeacons(LocationManager& manager, const std::vector<Beacon>& beacons,
                                 const BeaconRegion& region) {
        (void)manager, (void)beacons, (void)region;
    }
};

class LocationManager : public std::enable_shared_from_this<LocationManager> {
public:
    // A circle is left only once a fix lies this far beyond its rim, so fixes that wander about
    // the rim report one entry and no exit.
    static constexpr double kRegionExitMargin = 50.0;
    // A beacon region is left when none of its beacons was seen for this long.
    static constexpr double kBeaconUnseenTime = 30.0;

    // A manager the device's feed reaches for as long as it lives.
    static std::shared_ptr<LocationManager> make();
    LocationManager(const LocationManager&) = delete;
    LocationManager& operator=(const LocationManager&) = delete;
    ~LocationManager();

    // Setting a delegate makes the manager report the current access status to it once, as the
    // device does for a new manager.
    void setDelegate(std::weak_ptr<LocationManagerDelegate> delegate);
    void setDistanceFilter(double metres);
    double distanceFilter() const;
    void setDesiredAccuracy(double metres);
    double desiredAccuracy() const;

    static LocationAuthorization authorizationStatus();
    // Whether regions of this class (CircularRegion::kClassName, BeaconRegion::kClassName) can be
    // monitored on this device; beacon ranging goes with beacon monitoring.
    static bool isMonitoringAvailableForClass(const std::string& className);
    // Asks the user for access at any time, once while the status is undecided; the answer comes
    // as a status change (LocationFeed::answerAuthorizationRequest).
    void requestAlwaysAuthorization();

    void startUpdatingLocation();
    void stopUpdatingLocation();
    bool isUpdatingLocation() const;
    // The last fix the device had while the app may read it.
    std::optional<Location> location() const;

    // Monitors a copy of region; one of the same identifier is replaced (its state starts over).
    void startMonitoringForRegion(const Region& region);
    void stopMonitoringForRegion(const Region& region);
    // Copies of the monitored regions, by identifier.
    std::vector<std::shared_ptr<Region>> monitoredRegions() const;
    void startRangingBeaconsInRegion(const BeaconRegion& region);
    void stopRangingBeaconsInRegion(const BeaconRegion& region);
    std::vector<std::shared_ptr<BeaconRegion>> rangedRegions() const;

private:
    friend class LocationFeed;
    LocationManager() = default;
    enum class Presence { Unknown, Inside, Outside };
    struct Monitored {
        std::shared_ptr<Region> region;
        Presence presence = Presence::Unknown;
        double lastSeen = 0;  // a beacon region's last matching sighting
    };
    // The device's side, from LocationFeed.
    void deliverFix(const Location& fix);
    void deliverSightings(const std::vector<Beacon>& beacons);
    void checkUnseenBeacons();
    void deliverError(const foundation::Error& error);
    void deliverStatus(LocationAuthorization status);
    // Runs tell on the main queue with the delegate, while both manager and delegate live.
    void tell(std::function<void(LocationManager&, LocationManagerDelegate&)> tell);

    mutable foundation::Mutex mutex_;
    std::weak_ptr<LocationManagerDelegate> delegate_ HX_GUARDED_BY(mutex_);
    double distanceFilter_ HX_GUARDED_BY(mutex_) = -1;
    double desiredAccuracy_ HX_GUARDED_BY(mutex_) = -1;
    bool updating_ HX_GUARDED_BY(mutex_) = false;
    std::optional<Location> lastDelivered_ HX_GUARDED_BY(mutex_);
    std::map<std::string, Monitored> monitored_ HX_GUARDED_BY(mutex_);
    std::map<std::string, std::shared_ptr<BeaconRegion>> ranged_ HX_GUARDED_BY(mutex_);
};

// The device's side of location: what the hardware and the user would report. Any thread.
class LocationFeed {
public:
    // A new fix: the last location of every manager, region entries and exits, and an update to
    // managers that are updating (farther than their distance filter from the last one told).
    // Nothing reaches the app without access (undecided, restricted or denied).
    static void fix(const Location& location);
    // The beacons in reach now: monitoring of beacon regions and the ranging lists.
    static void sightings(const std::vector<Beacon>& beacons);
    // An error told to every manager.
    static void fail(const foundation::Error& error);
    // The user's answer to the outstanding request for access (or a change in the system's
    // settings): the status changes and every manager tells its delegate.
    static void changeAuthorization(LocationAuthorization status);
    // Requests for access asked of the user so far.
    static int authorizationRequests();
    // The device's own question to the user: called on the main queue each time a request asks
    // (the program shows it and answers with changeAuthorization). Without one, nothing is shown
    // and tests answer.
    static void setAuthorizationPrompt(std::function<void()> prompt);
    // Whether a request waits for the user's answer.
    static bool isAsking();
    // The last fix the device has (none before the first).
    static std::optional<Location> lastFix();
    // Forgets the last fix and the requests (tests).
    static void reset();
};

}  // namespace services
