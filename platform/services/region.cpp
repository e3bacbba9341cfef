#include "platform/services/region.h"

#include <cctype>
#include <cmath>
#include <mutex>

namespace services {

namespace {
constexpr double kEarthRadius = 6371008.8;  // mean radius, metres

std::optional<uint16_t> readShort(foundation::Decoder& d, std::string_view key) {
    if (!d.containsValue(key)) return std::nullopt;
    int64_t v = d.decodeInt64(key, -1);
    if (v < 0 || v > 0xFFFF) return std::nullopt;
    return static_cast<uint16_t>(v);
}

// A circle archived with values that are no place (written before such regions were refused).
class UnreadableCircle : public foundation::Archivable {
public:
    std::string className() const override { return CircularRegion::kClassName; }
    void encode(foundation::Coder&) const override {}
};

}  // namespace

void Region::registerClasses() {
    static std::once_flag once;
    std::call_once(once, [] {
        auto& registry = foundation::ArchiveClassRegistry::shared();
        registry.registerClass(CircularRegion::kClassName,
                               [](foundation::Decoder& d) -> std::shared_ptr<foundation::Archivable> {
                                   if (auto region = CircularRegion::decode(d)) return region;
                                   // A broken archive stays an error; only values out of range
                                   // are set aside.
                                   if (d.failed() || !d.decodeString("identifier")) return nullptr;
                                   return std::make_shared<UnreadableCircle>();
                               });
        registry.registerClass<BeaconRegion>(BeaconRegion::kClassName);
    });
}

bool CircularRegion::isValid(Coordinate c, double radius) {
    return std::isfinite(c.latitude) && std::isfinite(c.longitude) && std::isfinite(radius) &&
           std::fabs(c.latitude) <= 90 && std::fabs(c.longitude) <= 180 && radius >= 0;
}

double distanceBetween(Coordinate p, Coordinate c) {
    constexpr double rad = M_PI / 180.0;
    const double dLat = (c.latitude - p.latitude) * rad;
    const double dLon = (c.longitude - p.longitude) * rad;
    const double a = std::sin(dLat / 2) * std::sin(dLat / 2) +
                     std::cos(p.latitude * rad) * std::cos(c.latitude * rad) * std::sin(dLon / 2) * std::sin(dLon / 2);
    return 2 * kEarthRadius * std::atan2(std::sqrt(a), std::sqrt(1 - a));
}

bool CircularRegion::containsCoordinate(Coordinate c) const { return distanceBetween(center_, c) <= radius_; }

bool BeaconRegion::matches(const std::string& uuid, uint16_t major, uint16_t minor) const {
    if (uuid.size() != uuid_.size()) return false;
    for (size_t i = 0; i < uuid.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(uuid[i])) != std::tolower(static_cast<unsigned char>(uuid_[i])))
            return false;
    return (!major_ || *major_ == major) && (!minor_ || *minor_ == minor);
}

void CircularRegion::encode(foundation::Coder& coder) const {
    coder.encodeString("identifier", identifier_);
    coder.encodeDouble("latitude", center_.latitude);
    coder.encodeDouble("longitude", center_.longitude);
    coder.encodeDouble("radius", radius_);
}

std::shared_ptr<CircularRegion> CircularRegion::decode(foundation::Decoder& d) {
    auto identifier = d.decodeString("identifier");
    const double lat = d.decodeDouble("latitude");
    const double lon = d.decodeDouble("longitude");
    const double radius = d.decodeDouble("radius");
    if (d.failed() || !identifier || !isValid(Coordinate{lat, lon}, radius)) return nullptr;
    return std::make_shared<CircularRegion>(Coordinate{lat, lon}, radius, *identifier);
}

void BeaconRegion::encode(foundation::Coder& coder) const {
    coder.encodeString("identifier", identifier_);
    coder.encodeString("uuid", uuid_);
    if (major_) coder.encodeInt64("major", *major_);
    if (minor_) coder.encodeInt64("minor", *minor_);
}

std::shared_ptr<BeaconRegion> BeaconRegion::decode(foundation::Decoder& d) {
    auto identifier = d.decodeString("identifier");
    auto uuid = d.decodeString("uuid");
    auto major = readShort(d, "major");
    auto minor = readShort(d, "minor");
    if (d.failed() || !identifier || !uuid) return nullptr;
    return std::make_shared<BeaconRegion>(*uuid, major, minor, *identifier);
}

}  // namespace services
