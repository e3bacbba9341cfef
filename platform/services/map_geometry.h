// Web-Mercator map points: the globe's square projection, 2^28 map points wide, y growing to the
// south, as maps lay out their tiles. A map point is a position on that square; a map rectangle
// is an area of it.
#pragma once

#include "platform/services/region.h"

namespace services {

struct MapPoint {
    double x = 0;
    double y = 0;
};

struct MapRect {
    MapPoint origin;
    double width = 0;
    double height = 0;
    double minX() const { return origin.x; }
    double minY() const { return origin.y; }
    double maxX() const { return origin.x + width; }
    double maxY() const { return origin.y + height; }
    double midX() const { return origin.x + width / 2; }
    double midY() const { return origin.y + height / 2; }
    bool intersects(const MapRect& other) const {
        return minX() < other.maxX() && other.minX() < maxX() && minY() < other.maxY() && other.minY() < maxY();
    }
};

inline constexpr double kMapWorldSize = 268435456.0;  // 2^28
// The latitude beyond which the projection is cut off (a square world).
inline constexpr double kMapMaxLatitude = 85.0511287798066;

MapPoint mapPointForCoordinate(Coordinate coordinate);
Coordinate coordinateForMapPoint(MapPoint point);
// Map points per metre along a parallel at this latitude.
double mapPointsPerMeterAtLatitude(double latitude);
// The square of map points holding a circle of radius metres about centre.
MapRect boundingMapRectForCircle(Coordinate centre, double radius);

}  // namespace services
