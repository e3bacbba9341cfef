// Location regions that presets and region monitoring archive: a circle on the globe or a
// beacon region. Values only; no monitoring happens here.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/keyed_archiver.h"

namespace services {

struct Coordinate {
    double latitude = 0;
    double longitude = 0;
    friend bool operator==(const Coordinate&, const Coordinate&) = default;
};

// The great-circle distance in metres between two coordinates, on the mean Earth sphere.
double distanceBetween(Coordinate a, Coordinate b);

class Region : public foundation::Archivable {
public:
    explicit Region(std::string identifier) : identifier_(std::move(identifier)) {}
    const std::string& identifier() const { return identifier_; }
    // Whether crossing into or out of the region is reported (both on for a new region). They
    // belong to the region as it is handed to a location manager and are not archived.
    bool notifyOnEntry() const { return notifyOnEntry_; }
    void setNotifyOnEntry(bool v) { notifyOnEntry_ = v; }
    bool notifyOnExit() const { return notifyOnExit_; }
    void setNotifyOnExit(bool v) { notifyOnExit_ = v; }
    // A copy with the same identifier and flags (a location manager keeps its own).
    virtual std::shared_ptr<Region> copy() const = 0;
    // Whether the region's values are in range, so that it reads back once archived.
    virtual bool isValid() const { return true; }
    // The same place under another identifier.
    std::shared_ptr<Region> copyWithIdentifier(std::string identifier) const {
        auto region = copy();
        region->identifier_ = std::move(identifier);
        return region;
    }
    // Makes both region classes known to the archive readers (once; thread-safe). A circle stored
    // with values out of range reads as an object that is no region: a reader that asks for a
    // region fails on it, one that takes whatever it finds (a preset) is left without a region.
    static void registerClasses();

protected:
    std::string identifier_;
    bool notifyOnEntry_ = true;
    bool notifyOnExit_ = true;
};

class CircularRegion : public Region {
public:
    static constexpr const char* kClassName = "CLCircularRegion";
    CircularRegion(Coordinate center, double radius, std::string identifier)
        : Region(std::move(identifier)), center_(center), radius_(radius) {}
    Coordinate center() const { return center_; }
    // Metres.
    double radius() const { return radius_; }
    bool containsCoordinate(Coordinate c) const;
    std::shared_ptr<Region> copy() const override { return std::make_shared<CircularRegion>(*this); }
    // A centre on the globe (latitude within +-90, longitude within +-180) and a radius of 0 or
    // more, all finite.
    static bool isValid(Coordinate center, double radius);
    bool isValid() const override { return isValid(center_, radius_); }

    std::string className() const override { return kClassName; }
    void encode(foundation::Coder& coder) const override;
    static std::shared_ptr<CircularRegion> decode(foundation::Decoder& decoder);

private:
    Coordinate center_;
    double radius_;
};

class BeaconRegion : public Region {
public:
    static constexpr const char* kClassName = "CLBeaconRegion";
    // major and minor narrow the region when given (a minor only together with a major).
    BeaconRegion(std::string proximityUUID, std::optional<uint16_t> major, std::optional<uint16_t> minor,
                 std::string identifier)
        : Region(std::move(identifier)),
          uuid_(std::move(proximityUUID)),
          major_(major),
          minor_(major ? minor : std::nullopt) {}
    const std::string& proximityUUID() const { return uuid_; }
    std::optional<uint16_t> major() const { return major_; }
    std::optional<uint16_t> minor() const { return minor_; }
    // Whether a beacon of this UUID (any letter case), major and minor belongs to the region.
    bool matches(const std::string& uuid, uint16_t major, uint16_t minor) const;
    std::shared_ptr<Region> copy() const override { return std::make_shared<BeaconRegion>(*this); }

    std::string className() const override { return kClassName; }
    void encode(foundation::Coder& coder) const override;
    static std::shared_ptr<BeaconRegion> decode(foundation::Decoder& decoder);

private:
    std::string uuid_;
    std::optional<uint16_t> major_;
    std::optional<uint16_t> minor_;
};

}  // namespace services
