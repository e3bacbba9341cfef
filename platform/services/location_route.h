// A route of position fixes read from a CSV file, and its replay into the device's location feed.
// Each line: seconds from the start, latitude, longitude and optionally the accuracy in metres;
// blank lines and lines starting with "#" are skipped, times never go back.
//   0,48.2082,16.3738
//   30,48.2166,16.3738,10
#pragma once

#include <string_view>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/services/location_manager.h"

namespace services {

struct RoutePoint {
    double seconds = 0;
    Location location;
};

// The route, or an error naming the line and field that is wrong.
foundation::Result<std::vector<RoutePoint>> parseLocationRoute(std::string_view csv);

// Feeds each fix to LocationFeed at its time from now, on the main queue (the process clock).
void replayLocationRoute(const std::vector<RoutePoint>& route);

}  // namespace services
