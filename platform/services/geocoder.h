// Geocoding over a table of known places: a text finds the places whose name or address holds it,
// a coordinate finds the nearest place within its reach. There is no geocoding service here: the
// table is a JSON file the device's side loads (tests, the program's run), and completions come
// on the main queue a moment later on the process clock, as a network answer would.
//
// The table: {"placemarks": [{"name": "...", "latitude": 48.2, "longitude": 16.37, "radius": 70,
//   "address": {"Street": "...", "City": "...", "State": "...", "ZIP": "...", "Country": "...",
//   "countryCode": "..."}}, ...]}; "radius" (metres, default 50) and "address" may be left out.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/foundation/value.h"
#include "platform/services/region.h"

namespace services {

// One place as geocoding reports it.
struct Placemark {
    std::string name;
    Coordinate coordinate;
    // The place's extent: a circle around coordinate.
    double radius = 50;
    // "Street", "City", "State", "ZIP", "Country", "countryCode" (strings; any may be missing).
    foundation::Dictionary addressDictionary;
};

class Geocoder {
public:
    using Completion =
        std::function<void(const std::vector<Placemark>& placemarks, const std::optional<foundation::Error>& error)>;
    // How long an answer takes, in seconds of the process clock.
    static constexpr double kAnswerDelay = 0.25;

    // The places whose name or address holds every word of text (letter case ignored), in the
    // table's order; no match answers the error kLocationErrorGeocodeFoundNoResult (8).
    void geocodeAddressString(const std::string& text, Completion completion);
    // The nearest place whose extent (at least 1 km) holds the coordinate; none answers error 8.
    void reverseGeocodeLocation(Coordinate coordinate, Completion completion);

    // ---- the device's side

    // Replaces the table; a malformed table keeps the one before and says why.
    static foundation::Status loadPlacemarks(const foundation::Data& json);
    static foundation::Status loadPlacemarksFromFile(const std::string& path);
    static std::vector<Placemark> placemarks();
    // The next answers fail with this error (in the location error domain), one each, first in
    // first out: code 2 (network) or 9 (partial result), say.
    static void failNextRequest(int64_t code);
    // Empty table and no failures.
    static void reset();
};

}  // namespace services
