#include "platform/services/location_manager.h"

#include <gtest/gtest.h>

#include <cmath>

#include "platform/dispatch/dispatch.h"
#include "platform/dispatch/run_loop.h"

namespace {

using services::Beacon;
using services::LocationAuthorization;
using services::LocationFeed;
using services::LocationManager;

// Records what a manager tells, as lines.
struct Listener : services::LocationManagerDelegate {
    std::vector<std::string> heard;
    void didChangeAuthorizationStatus(LocationManager&, LocationAuthorization status) override {
        heard.push_back("status " + std::to_string(static_cast<int>(status)));
    }
    void didFailWithError(LocationManager&, const foundation::Error& error) override {
        heard.push_back("error " + error.domain + " " + std::to_string(error.code));
    }
    void didEnterRegion(LocationManager&, const services::Region& region) override {
        heard.push_back("enter " + region.identifier());
    }
    void didExitRegion(LocationManager&, const services::Region& region) override {
        heard.push_back("exit " + region.identifier());
    }
    void didUpdateLocations(LocationManager&, const std::vector<services::Location>& l) override {
        heard.push_back("update " + std::to_string(l.size()));
    }
    void didRangeBeacons(LocationManager&, const std::vector<Beacon>& beacons,
                         const services::BeaconRegion& r) override {
        std::string line = "range " + r.identifier();
        for (const auto& b : beacons) line += " " + std::to_string(b.major) + "." + std::to_string(b.minor);
        heard.push_back(line);
    }
};

constexpr services::Coordinate kCentre{48.2082, 16.3738};
// A point east of the centre at this distance in metres along the parallel.
services::Coordinate east(double metres) {
    const double perDegree = 2 * M_PI * 6371008.8 / 360 * std::cos(kCentre.latitude * M_PI / 180);
    return {kCentre.latitude, kCentre.longitude + metres / perDegree};
}
const char* kUUID = "E2C56DB5-DFFB-48D2-B060-D0F5A71096E0";

struct LocationManagerTest : ::testing::Test {
    dispatch::ScopedVirtualClock clock;
    std::shared_ptr<LocationManager> manager = LocationManager::make();
    std::shared_ptr<Listener> listener = std::make_shared<Listener>();
    void SetUp() override {
        dispatch::RunLoop::main();
        services::resetDeviceServices();
        LocationFeed::reset();
        services::LocationServices::shared().setAuthorizationStatus(LocationAuthorization::Always);
        manager->setDelegate(listener);
        settle();
        listener->heard.clear();
    }
    void TearDown() override { services::resetDeviceServices(); }
    void settle() { clock->runUntilIdle(); }
    std::vector<std::string> heard() {
        settle();
        return std::exchange(listener->heard, {});
    }
    void at(double metres) { LocationFeed::fix({.coordinate = east(metres)}); }
};

TEST(LocationDistance, GreatCircleDistancesOnTheMeanSphere) {
    // One degree of latitude, a quarter of the equator, and nothing between a point and itself.
    EXPECT_NEAR(services::distanceBetween({0, 0}, {1, 0}), 111195.08, 0.05);
    EXPECT_NEAR(services::distanceBetween({0, 0}, {0, 90}), 10007557.2, 0.5);
    EXPECT_DOUBLE_EQ(services::distanceBetween(kCentre, kCentre), 0);
    EXPECT_NEAR(services::distanceBetween(kCentre, east(1234)), 1234, 0.01);
}

TEST_F(LocationManagerTest, ARouteAcrossACircleEntersOnceAndLeavesOnlyBeyondTheMargin) {
    services::CircularRegion home(kCentre, 200, "Home");
    manager->startMonitoringForRegion(home);
    struct Step {
        double metres;
        std::vector<std::string> heard;
    } route[] = {
        {900, {}},              // outside to begin with: nothing to report
        {199, {"enter Home"}},  // inside the rim
        {150, {}},              // still inside
        {240, {}},              // past the rim, within the 50 m margin
        {180, {}},              // back in: no second entry
        {249, {}},              // margin still holds
        {251, {"exit Home"}},   // beyond rim and margin
        {240, {}},              // outside until inside the rim again
        {190, {"enter Home"}},  // inside again
    };
    for (const auto& step : route) {
        at(step.metres);
        EXPECT_EQ(heard(), step.heard) << step.metres << " m";
    }
}

TEST_F(LocationManagerTest, NotifyFlagsAccessAndStoppingDecideWhatIsTold) {
    services::CircularRegion quiet(kCentre, 100, "Quiet");
    quiet.setNotifyOnExit(false);
    services::CircularRegion entryless(kCentre, 100, "Entryless");
    entryless.setNotifyOnEntry(false);
    manager->startMonitoringForRegion(quiet);
    manager->startMonitoringForRegion(entryless);
    EXPECT_EQ(services::LocationServices::shared().monitoredRegions(), (std::set<std::string>{"Entryless", "Quiet"}));
    at(0);
    EXPECT_EQ(heard(), std::vector<std::string>{"enter Quiet"});
    at(1000);
    EXPECT_EQ(heard(), std::vector<std::string>{"exit Entryless"});
    // Without always access regions report nothing, while the last fix is still readable with
    // access while in use.
    LocationFeed::changeAuthorization(LocationAuthorization::WhenInUse);
    EXPECT_EQ(heard(), std::vector<std::string>{"status 4"});
    at(0);
    EXPECT_EQ(heard(), std::vector<std::string>{});
    ASSERT_TRUE(manager->location());
    LocationFeed::changeAuthorization(LocationAuthorization::Denied);
    EXPECT_FALSE(manager->location());
    LocationFeed::changeAuthorization(LocationAuthorization::Always);
    manager->stopMonitoringForRegion(quiet);
    manager->stopMonitoringForRegion(entryless);
    at(1000);
    at(0);
    EXPECT_EQ(heard(), (std::vector<std::string>{"status 2", "status 3"}));
    EXPECT_TRUE(manager->monitoredRegions().empty());
    EXPECT_TRUE(services::LocationServices::shared().monitoredRegions().empty());
}

TEST_F(LocationManagerTest, ARegionOfTheSameIdentifierReplacesTheEarlierOne) {
    manager->startMonitoringForRegion(services::CircularRegion(kCentre, 100, "Work"));
    manager->startMonitoringForRegion(services::CircularRegion(east(5000), 100, "Work"));
    ASSERT_EQ(manager->monitoredRegions().size(), 1u);
    at(0);
    at(5000);
    EXPECT_EQ(heard(), std::vector<std::string>{"enter Work"});
    // A region monitored where the device already is tells its entry at once.
    manager->startMonitoringForRegion(services::CircularRegion(east(5000), 100, "There"));
    EXPECT_EQ(heard(), std::vector<std::string>{"enter There"});
}

TEST_F(LocationManagerTest, AccessIsAskedOnceAndTheStatusIsToldToEveryNewDelegate) {
    services::LocationServices::shared().setAuthorizationStatus(LocationAuthorization::NotDetermined);
    manager->requestAlwaysAuthorization();
    manager->requestAlwaysAuthorization();
    EXPECT_EQ(LocationFeed::authorizationRequests(), 1);  // the user is asked once
    LocationFeed::changeAuthorization(LocationAuthorization::Always);
    manager->requestAlwaysAuthorization();
    EXPECT_EQ(LocationFeed::authorizationRequests(), 1);  // decided: no more asking
    EXPECT_EQ(heard(), std::vector<std::string>{"status 3"});
    auto second = LocationManager::make();
    auto other = std::make_shared<Listener>();
    second->setDelegate(other);
    settle();
    EXPECT_EQ(other->heard, std::vector<std::string>{"status 3"});
    // Errors reach every manager; a manager that has gone hears nothing and keeps nothing.
    second->startMonitoringForRegion(services::CircularRegion(kCentre, 100, "Gone"));
    second.reset();
    EXPECT_FALSE(services::LocationServices::shared().monitoredRegions().contains("Gone"));
    LocationFeed::fail(foundation::Error(services::kLocationErrorDomain, services::kLocationErrorDenied));
    EXPECT_EQ(heard(), std::vector<std::string>{"error kCLErrorDomain 1"});
}

TEST_F(LocationManagerTest, UpdatesRespectTheDistanceFilterAndStopWithUpdating) {
    manager->setDistanceFilter(100);
    at(0);
    EXPECT_EQ(heard(), std::vector<std::string>{});  // not updating
    manager->startUpdatingLocation();
    struct {
        double metres;
        bool told;
    } fixes[] = {{0, true}, {60, false}, {99, false}, {101, true}, {150, false}, {202, true}};
    for (const auto& f : fixes) {
        at(f.metres);
        EXPECT_EQ(heard().size(), f.told ? 1u : 0u) << f.metres;
    }
    manager->stopUpdatingLocation();
    at(5000);
    EXPECT_EQ(heard(), std::vector<std::string>{});
}

TEST_F(LocationManagerTest, BeaconRegionsMatchByUUIDMajorAndMinor) {
    struct {
        std::optional<uint16_t> major, minor;
        std::string uuid;
        uint16_t seenMajor, seenMinor;
        bool matches;
    } cases[] = {
        {std::nullopt, std::nullopt, kUUID, 1, 2, true},
        {std::nullopt, std::nullopt, "e2c56db5-dffb-48d2-b060-d0f5a71096e0", 1, 2, true},
        {std::nullopt, std::nullopt, "E2C56DB5-DFFB-48D2-B060-D0F5A71096E1", 1, 2, false},
        {7, std::nullopt, kUUID, 7, 65535, true},
        {7, std::nullopt, kUUID, 8, 0, false},
        {7, 9, kUUID, 7, 9, true},
        {7, 9, kUUID, 7, 10, false},
        {std::nullopt, 9, kUUID, 1, 1, true},  // a minor without a major is dropped
    };
    for (const auto& c : cases) {
        services::BeaconRegion region(kUUID, c.major, c.minor, "b");
        EXPECT_EQ(region.matches(c.uuid, c.seenMajor, c.seenMinor), c.matches)
            << c.uuid << " " << c.seenMajor << "." << c.seenMinor;
    }
}

TEST_F(LocationManagerTest, BeaconsAreRangedNearestFirstAndLeftAfterTheUnseenTime) {
    services::BeaconRegion desk(kUUID, 7, std::nullopt, "Desk");
    manager->startMonitoringForRegion(desk);
    manager->startRangingBeaconsInRegion(desk);
    LocationFeed::sightings({{kUUID, 7, 2, 3.5}, {kUUID, 8, 1, 0.5}, {kUUID, 7, 1, -1}, {kUUID, 7, 3, 1.25}});
    EXPECT_EQ(heard(), (std::vector<std::string>{"enter Desk", "range Desk 7.3 7.2 7.1"}));
    clock->advance(20);
    LocationFeed::sightings({{kUUID, 7, 2, 2}});
    EXPECT_EQ(heard(), (std::vector<std::string>{"range Desk 7.2"}));
    // 30 s after the last sighting the region is left, with no further sighting needed.
    clock->advance(29);
    EXPECT_EQ(heard(), std::vector<std::string>{});
    clock->advance(1);
    EXPECT_EQ(heard(), std::vector<std::string>{"exit Desk"});
    LocationFeed::sightings({});
    EXPECT_EQ(heard(), std::vector<std::string>{"range Desk"});
    manager->stopRangingBeaconsInRegion(desk);
    LocationFeed::sightings({});
    EXPECT_EQ(heard(), std::vector<std::string>{});
    EXPECT_TRUE(manager->rangedRegions().empty());
}

TEST_F(LocationManagerTest, NothingIsMonitoredWhereTheDeviceCannot) {
    services::LocationServices::shared().setRegionMonitoringAvailable(false);
    EXPECT_FALSE(LocationManager::isMonitoringAvailableForClass(services::BeaconRegion::kClassName));
    manager->startMonitoringForRegion(services::CircularRegion(kCentre, 100, "Home"));
    manager->startRangingBeaconsInRegion(services::BeaconRegion(kUUID, std::nullopt, std::nullopt, "B"));
    EXPECT_TRUE(manager->monitoredRegions().empty());
    EXPECT_TRUE(manager->rangedRegions().empty());
}

}  // namespace
