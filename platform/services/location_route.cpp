#include "platform/services/location_route.h"

#include <charconv>
#include <cmath>
#include <string>

#include "platform/clock/clock.h"
#include "platform/dispatch/dispatch.h"

namespace services {

namespace {

constexpr size_t kMaxRoutePoints = 1'000'000;

std::string_view trimmedView(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

foundation::Error routeError(size_t line, const std::string& what) {
    return foundation::Error::withDescription("LocationRoute", 1, "route line " + std::to_string(line) + ": " + what);
}

bool number(std::string_view field, double& out) {
    field = trimmedView(field);
    if (field.empty()) return false;
    const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), out);
    return error == std::errc() && end == field.data() + field.size() && std::isfinite(out);
}

}  // namespace

foundation::Result<std::vector<RoutePoint>> parseLocationRoute(std::string_view csv) {
    std::vector<RoutePoint> route;
    size_t lineNumber = 0;
    while (!csv.empty()) {
        const auto newline = csv.find('\n');
        std::string_view line = trimmedView(csv.substr(0, newline));
        csv = newline == std::string_view::npos ? std::string_view() : csv.substr(newline + 1);
        ++lineNumber;
        if (line.empty() || line.front() == '#') continue;
        std::vector<std::string_view> fields;
        while (true) {
            const auto comma = line.find(',');
            fields.push_back(line.substr(0, comma));
            if (comma == std::string_view::npos) break;
            line = line.substr(comma + 1);
        }
        if (fields.size() != 3 && fields.size() != 4)
            return routeError(lineNumber, "expected seconds,latitude,longitude[,accuracy]");
        RoutePoint point;
        static const char* const kNames[] = {"seconds", "latitude", "longitude", "accuracy"};
        double values[4] = {0, 0, 0, 5};
        for (size_t i = 0; i < fields.size(); ++i)
            if (!number(fields[i], values[i]))
                return routeError(lineNumber, std::string(kNames[i]) + " is not a number");
        if (values[0] < 0 || (!route.empty() && values[0] < route.back().seconds))
            return routeError(lineNumber, "seconds go back");
        if (std::fabs(values[1]) > 90) return routeError(lineNumber, "latitude out of range");
        if (std::fabs(values[2]) > 180) return routeError(lineNumber, "longitude out of range");
        if (values[3] < 0) return routeError(lineNumber, "accuracy is negative");
        if (route.size() == kMaxRoutePoints) return routeError(lineNumber, "too many points");
        point.seconds = values[0];
        point.location = {.coordinate = {values[1], values[2]}, .horizontalAccuracy = values[3]};
        route.push_back(point);
    }
    return route;
}

void replayLocationRoute(const std::vector<RoutePoint>& route) {
    const double start = clocks::wallNow();
    for (const auto& point : route) {
        auto location = point.location;
        location.timestamp = start + point.seconds;
        dispatch::Queue::main()->after(point.seconds, [location] { LocationFeed::fix(location); });
    }
}

}  // namespace services
