#include "platform/services/location_manager.h"

#include <algorithm>
#include <mutex>

#include "platform/clock/clock.h"
#include "platform/dispatch/dispatch.h"

namespace services {

namespace {

struct Device {
    std::mutex mutex;
    std::vector<std::weak_ptr<LocationManager>> managers;
    std::optional<Location> lastFix;
    int requests = 0;
    bool asking = false;  // a request waits for the user's answer
    // The device's prompt: shows the question on the main queue (none: tests answer through the feed).
    std::function<void()> prompt;
};

Device& device() {
    static Device* d = new Device;  // never destroyed: a queue's block at exit may still reach it
    return *d;
}

std::vector<std::shared_ptr<LocationManager>> liveManagers() {
    auto& d = device();
    std::lock_guard lock(d.mutex);
    std::vector<std::shared_ptr<LocationManager>> live;
    std::erase_if(d.managers, [&](const std::weak_ptr<LocationManager>& weak) {
        auto m = weak.lock();
        if (!m) return true;
        live.push_back(std::move(m));
        return false;
    });
    return live;
}

bool mayLocate(LocationAuthorization status) {
    return status == LocationAuthorization::Always || status == LocationAuthorization::WhenInUse;
}

}  // namespace

std::shared_ptr<LocationManager> LocationManager::make() {
    std::shared_ptr<LocationManager> manager(new LocationManager);
    auto& d = device();
    std::lock_guard lock(d.mutex);
    d.managers.push_back(manager);
    return manager;
}

LocationManager::~LocationManager() {
    auto& shared = LocationServices::shared();
    for (const auto& [identifier, entry] : monitored_) shared.stopMonitoring(identifier);
}

void LocationManager::setDelegate(std::weak_ptr<LocationManagerDelegate> delegate) {
    {
        std::lock_guard lock(mutex_);
        delegate_ = std::move(delegate);
    }
    const auto status = authorizationStatus();
    tell([status](LocationManager& m, LocationManagerDelegate& d) { d.didChangeAuthorizationStatus(m, status); });
}

void LocationManager::setDistanceFilter(double metres) {
    std::lock_guard lock(mutex_);
    distanceFilter_ = metres;
}
double LocationManager::distanceFilter() const {
    std::lock_guard lock(mutex_);
    return distanceFilter_;
}
void LocationManager::setDesiredAccuracy(double metres) {
    std::lock_guard lock(mutex_);
    desiredAccuracy_ = metres;
}
double LocationManager::desiredAccuracy() const {
    std::lock_guard lock(mutex_);
    return desiredAccuracy_;
}

LocationAuthorization LocationManager::authorizationStatus() {
    return LocationServices::shared().authorizationStatus();
}

bool LocationManager::isMonitoringAvailableForClass(const std::string& className) {
    return LocationServices::shared().isRegionMonitoringAvailable() &&
           (className == CircularRegion::kClassName || className == BeaconRegion::kClassName);
}

void LocationManager::requestAlwaysAuthorization() {
    if (authorizationStatus() != LocationAuthorization::NotDetermined) return;
    auto& d = device();
    std::lock_guard lock(d.mutex);
    if (d.asking) return;
    d.asking = true;
    ++d.requests;
    if (d.prompt) dispatch::Queue::main()->async(d.prompt);
}

void LocationManager::startUpdatingLocation() {
    std::lock_guard lock(mutex_);
    updating_ = true;
}
void LocationManager::stopUpdatingLocation() {
    std::lock_guard lock(mutex_);
    updating_ = false;
    lastDelivered_.reset();
}
bool LocationManager::isUpdatingLocation() const {
    std::lock_guard lock(mutex_);
    return updating_;
}

std::optional<Location> LocationManager::location() const {
    if (!mayLocate(authorizationStatus())) return std::nullopt;
    return LocationFeed::lastFix();
}

void LocationManager::startMonitoringForRegion(const Region& region) {
    if (!isMonitoringAvailableForClass(region.className())) return;
    {
        std::lock_guard lock(mutex_);
        monitored_[region.identifier()] = Monitored{.region = region.copy()};
    }
    LocationServices::shared().startMonitoring(region.identifier());
    // A fix the device already has tells at once where the new region stands.
    if (auto fix = LocationFeed::lastFix(); fix && authorizationStatus() == LocationAuthorization::Always &&
                                            region.className() == CircularRegion::kClassName) {
        deliverFix(*fix);
    }
}

void LocationManager::stopMonitoringForRegion(const Region& region) {
    {
        std::lock_guard lock(mutex_);
        if (!monitored_.erase(region.identifier())) return;
    }
    LocationServices::shared().stopMonitoring(region.identifier());
}

std::vector<std::shared_ptr<Region>> LocationManager::monitoredRegions() const {
    std::lock_guard lock(mutex_);
    std::vector<std::shared_ptr<Region>> regions;
    for (const auto& [identifier, entry] : monitored_) regions.push_back(entry.region->copy());
    return regions;
}

void LocationManager::startRangingBeaconsInRegion(const BeaconRegion& region) {
    if (!isMonitoringAvailableForClass(BeaconRegion::kClassName)) return;
    std::lock_guard lock(mutex_);
    ranged_[region.identifier()] = std::static_pointer_cast<BeaconRegion>(region.copy());
}

void LocationManager::stopRangingBeaconsInRegion(const BeaconRegion& region) {
    std::lock_guard lock(mutex_);
    ranged_.erase(region.identifier());
}

std::vector<std::shared_ptr<BeaconRegion>> LocationManager::rangedRegions() const {
    std::lock_guard lock(mutex_);
    std::vector<std::shared_ptr<BeaconRegion>> regions;
    for (const auto& [identifier, region] : ranged_)
        regions.push_back(std::static_pointer_cast<BeaconRegion>(region->copy()));
    return regions;
}

void LocationManager::tell(std::function<void(LocationManager&, LocationManagerDelegate&)> tell) {
    dispatch::Queue::main()->async([weak = weak_from_this(), tell = std::move(tell)] {
        auto self = weak.lock();
        if (!self) return;
        std::shared_ptr<LocationManagerDelegate> delegate;
        {
            std::lock_guard lock(self->mutex_);
            delegate = self->delegate_.lock();
        }
        if (delegate) tell(*self, *delegate);
    });
}

void LocationManager::deliverFix(const Location& fix) {
    const auto status = authorizationStatus();
    if (!mayLocate(status)) return;
    std::vector<std::pair<std::shared_ptr<Region>, bool>> crossings;  // region, entered
    bool update = false;
    {
        std::lock_guard lock(mutex_);
        if (status == LocationAuthorization::Always) {
            for (auto& [identifier, entry] : monitored_) {
                auto* circle = dynamic_cast<const CircularRegion*>(entry.region.get());
                if (!circle) continue;
                const double distance = distanceBetween(circle->center(), fix.coordinate);
                if (distance <= circle->radius()) {
                    if (entry.presence != Presence::Inside && entry.region->notifyOnEntry())
                        crossings.emplace_back(entry.region->copy(), true);
                    entry.presence = Presence::Inside;
                } else if (entry.presence == Presence::Unknown) {
                    entry.presence = Presence::Outside;
                } else if (entry.presence == Presence::Inside && distance > circle->radius() + kRegionExitMargin) {
                    entry.presence = Presence::Outside;
                    if (entry.region->notifyOnExit()) crossings.emplace_back(entry.region->copy(), false);
                }
            }
        }
        if (updating_ && (!lastDelivered_ || distanceFilter_ <= 0 ||
                          distanceBetween(lastDelivered_->coordinate, fix.coordinate) >= distanceFilter_)) {
            lastDelivered_ = fix;
            update = true;
        }
    }
    for (auto& [region, entered] : crossings) {
        tell([region = region, entered = entered](LocationManager& m, LocationManagerDelegate& d) {
            entered ? d.didEnterRegion(m, *region) : d.didExitRegion(m, *region);
        });
    }
    if (update) {
        tell([fix](LocationManager& m, LocationManagerDelegate& d) { d.didUpdateLocations(m, {fix}); });
    }
}

void LocationManager::deliverSightings(const std::vector<Beacon>& beacons) {
    const auto status = authorizationStatus();
    if (!mayLocate(status)) return;
    const double now = clocks::clock().now();
    std::vector<std::pair<std::shared_ptr<Region>, bool>> crossings;
    std::vector<std::pair<std::shared_ptr<BeaconRegion>, std::vector<Beacon>>> ranges;
    bool watch = false;
    {
        std::lock_guard lock(mutex_);
        for (auto& [identifier, entry] : monitored_) {
            auto* region = dynamic_cast<const BeaconRegion*>(entry.region.get());
            if (!region || status != LocationAuthorization::Always) continue;
            const bool seen = std::any_of(beacons.begin(), beacons.end(), [&](const Beacon& b) {
                return region->matches(b.proximityUUID, b.major, b.minor);
            });
            if (seen) {
                entry.lastSeen = now;
                watch = true;
                if (entry.presence != Presence::Inside && entry.region->notifyOnEntry())
                    crossings.emplace_back(entry.region->copy(), true);
                entry.presence = Presence::Inside;
            }
        }
        for (const auto& [identifier, region] : ranged_) {
            std::vector<Beacon> matching;
            for (const auto& b : beacons)
                if (region->matches(b.proximityUUID, b.major, b.minor)) matching.push_back(b);
            // Nearest first; beacons whose distance is unknown last.
            std::stable_sort(matching.begin(), matching.end(), [](const Beacon& a, const Beacon& b) {
                if ((a.accuracy > 0) != (b.accuracy > 0)) return a.accuracy > 0;
                return a.accuracy < b.accuracy;
            });
            ranges.emplace_back(std::static_pointer_cast<BeaconRegion>(region->copy()), std::move(matching));
        }
    }
    for (auto& crossing : crossings) {
        tell([region = crossing.first](LocationManager& m, LocationManagerDelegate& d) {
            d.didEnterRegion(m, *region);
        });
    }
    for (auto& range : ranges) {
        tell([region = range.first, list = range.second](LocationManager& m, LocationManagerDelegate& d) {
            d.didRangeBeacons(m, list, *region);
        });
    }
    checkUnseenBeacons();
    if (watch) {
        // Left when nothing more is seen: checked once the unseen time has passed.
        dispatch::Queue::main()->after(kBeaconUnseenTime, [weak = weak_from_this()] {
            if (auto self = weak.lock()) self->checkUnseenBeacons();
        });
    }
}

void LocationManager::checkUnseenBeacons() {
    const double now = clocks::clock().now();
    std::vector<std::shared_ptr<Region>> left;
    {
        std::lock_guard lock(mutex_);
        for (auto& [identifier, entry] : monitored_) {
            if (entry.presence != Presence::Inside || !dynamic_cast<const BeaconRegion*>(entry.region.get())) continue;
            if (now - entry.lastSeen < kBeaconUnseenTime) continue;
            entry.presence = Presence::Outside;
            if (entry.region->notifyOnExit()) left.push_back(entry.region->copy());
        }
    }
    for (auto& region : left) {
        tell([region](LocationManager& m, LocationManagerDelegate& d) { d.didExitRegion(m, *region); });
    }
}

void LocationManager::deliverError(const foundation::Error& error) {
    tell([error](LocationManager& m, LocationManagerDelegate& d) { d.didFailWithError(m, error); });
}

void LocationManager::deliverStatus(LocationAuthorization status) {
    tell([status](LocationManager& m, LocationManagerDelegate& d) { d.didChangeAuthorizationStatus(m, status); });
}

// ---- the device's side

void LocationFeed::fix(const Location& location) {
    {
        auto& d = device();
        std::lock_guard lock(d.mutex);
        d.lastFix = location;
    }
    for (auto& m : liveManagers()) m->deliverFix(location);
}

void LocationFeed::sightings(const std::vector<Beacon>& beacons) {
    for (auto& m : liveManagers()) m->deliverSightings(beacons);
}

void LocationFeed::fail(const foundation::Error& error) {
    for (auto& m : liveManagers()) m->deliverError(error);
}

void LocationFeed::changeAuthorization(LocationAuthorization status) {
    {
        auto& d = device();
        std::lock_guard lock(d.mutex);
        d.asking = false;
    }
    LocationServices::shared().setAuthorizationStatus(status);
    for (auto& m : liveManagers()) m->deliverStatus(status);
}

void LocationFeed::setAuthorizationPrompt(std::function<void()> prompt) {
    auto& d = device();
    std::lock_guard lock(d.mutex);
    d.prompt = std::move(prompt);
}

bool LocationFeed::isAsking() {
    auto& d = device();
    std::lock_guard lock(d.mutex);
    return d.asking;
}

int LocationFeed::authorizationRequests() {
    auto& d = device();
    std::lock_guard lock(d.mutex);
    return d.requests;
}

std::optional<Location> LocationFeed::lastFix() {
    auto& d = device();
    std::lock_guard lock(d.mutex);
    return d.lastFix;
}

void LocationFeed::reset() {
    auto& d = device();
    std::lock_guard lock(d.mutex);
    d.lastFix.reset();
    d.requests = 0;
    d.asking = false;
}

}  // namespace services
