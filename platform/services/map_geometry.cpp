#include "platform/services/map_geometry.h"

#include <algorithm>
#include <cmath>

namespace services {

namespace {
// The equator's length on the sphere the projection is drawn from, metres.
constexpr double kEquator = 2 * M_PI * 6378137.0;
constexpr double kRadians = M_PI / 180.0;
}  // namespace

MapPoint mapPointForCoordinate(Coordinate c) {
    const double lat = std::clamp(c.latitude, -kMapMaxLatitude, kMapMaxLatitude) * kRadians;
    const double x = (c.longitude + 180.0) / 360.0 * kMapWorldSize;
    const double y = (1.0 - std::log(std::tan(lat) + 1.0 / std::cos(lat)) / M_PI) / 2.0 * kMapWorldSize;
    return {x, y};
}

Coordinate coordinateForMapPoint(MapPoint p) {
    const double longitude = p.x / kMapWorldSize * 360.0 - 180.0;
    const double n = M_PI * (1.0 - 2.0 * p.y / kMapWorldSize);
    const double latitude = std::atan(std::sinh(n)) / kRadians;
    return {latitude, longitude};
}

double mapPointsPerMeterAtLatitude(double latitude) {
    const double lat = std::clamp(latitude, -kMapMaxLatitude, kMapMaxLatitude) * kRadians;
    return kMapWorldSize / (kEquator * std::cos(lat));
}

MapRect boundingMapRectForCircle(Coordinate centre, double radius) {
    const MapPoint c = mapPointForCoordinate(centre);
    const double half = radius * mapPointsPerMeterAtLatitude(centre.latitude);
    return {{c.x - half, c.y - half}, 2 * half, 2 * half};
}

}  // namespace services
