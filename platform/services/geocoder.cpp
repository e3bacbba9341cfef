#include "platform/services/geocoder.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <mutex>

#include "platform/dispatch/dispatch.h"
#include "platform/foundation/files.h"
#include "platform/foundation/json.h"
#include "platform/services/location_manager.h"

namespace services {

namespace {

struct Table {
    std::mutex mutex;
    std::vector<Placemark> placemarks;
    std::deque<int64_t> failures;
};

Table& table() {
    static Table* t = new Table;  // never destroyed: a late answer may still read it
    return *t;
}

constexpr double kReverseReach = 1000;
constexpr const char* kAddressKeys[] = {"Street", "City", "State", "ZIP", "Country", "countryCode"};

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

std::string searchText(const Placemark& p) {
    std::string text = p.name;
    for (const char* key : kAddressKeys)
        if (const auto* v = p.addressDictionary.find(key); v && v->isString()) text += "\n" + v->stringValue();
    return lower(text);
}

foundation::Error invalid(const std::string& why) {
    return foundation::Error::withDescription("Geocoder", 1, "placemark table: " + why);
}

foundation::Result<std::vector<Placemark>> parseTable(std::string_view json) {
    auto parsed = foundation::parseJSON(json);
    if (!parsed.ok()) return parsed.error();
    const auto& root = parsed.value();
    const auto* list = root.isDictionary() ? root.asDictionary().find("placemarks") : nullptr;
    if (!list || !list->isArray()) return invalid("no \"placemarks\" array");
    std::vector<Placemark> out;
    size_t index = 0;
    for (const auto& item : list->asArray()) {
        const std::string at = "placemark " + std::to_string(index++);
        if (!item.isDictionary()) return invalid(at + " is not an object");
        const auto& d = item.asDictionary();
        const auto* name = d.find("name");
        const auto* lat = d.find("latitude");
        const auto* lon = d.find("longitude");
        if (!name || !name->isString()) return invalid(at + ": \"name\" is not a string");
        if (!lat || !lat->isNumber() || !lon || !lon->isNumber())
            return invalid(at + ": no numeric latitude/longitude");
        Placemark p{.name = name->stringValue(), .coordinate = {lat->doubleValue(), lon->doubleValue()}};
        if (!std::isfinite(p.coordinate.latitude) || !std::isfinite(p.coordinate.longitude) ||
            std::fabs(p.coordinate.latitude) > 90 || std::fabs(p.coordinate.longitude) > 180)
            return invalid(at + ": coordinate out of range");
        if (const auto* r = d.find("radius")) {
            if (!r->isNumber() || !std::isfinite(r->doubleValue()) || r->doubleValue() < 0)
                return invalid(at + ": \"radius\" is not a length");
            p.radius = r->doubleValue();
        }
        if (const auto* address = d.find("address")) {
            if (!address->isDictionary()) return invalid(at + ": \"address\" is not an object");
            for (const char* key : kAddressKeys) {
                const auto* v = address->asDictionary().find(key);
                if (!v) continue;
                if (!v->isString()) return invalid(at + ": address \"" + key + "\" is not a string");
                p.addressDictionary.set(key, *v);
            }
        }
        out.push_back(std::move(p));
    }
    return out;
}

// The answer, on the main queue once the answer delay has passed.
void answer(Geocoder::Completion completion, std::vector<Placemark> found) {
    std::optional<foundation::Error> error;
    {
        auto& t = table();
        std::lock_guard lock(t.mutex);
        if (!t.failures.empty()) {
            error = foundation::Error(kLocationErrorDomain, t.failures.front());
            t.failures.pop_front();
            found.clear();
        }
    }
    if (!error && found.empty()) error = foundation::Error(kLocationErrorDomain, kLocationErrorGeocodeFoundNoResult);
    dispatch::Queue::main()->after(Geocoder::kAnswerDelay,
                                   [completion = std::move(completion), found = std::move(found), error] {
                                       if (completion) completion(found, error);
                                   });
}

}  // namespace

void Geocoder::geocodeAddressString(const std::string& text, Completion completion) {
    // Every word of the text (split at spaces, commas and line breaks) must be in the place's
    // name or address.
    std::vector<std::string> words;
    std::string word;
    for (char c : lower(text) + " ") {
        if (c == ' ' || c == ',' || c == '\n' || c == '\r' || c == '\t') {
            if (!word.empty()) words.push_back(std::move(word));
            word.clear();
        } else {
            word += c;
        }
    }
    std::vector<Placemark> found;
    if (!words.empty()) {
        for (const auto& p : placemarks()) {
            const std::string haystack = searchText(p);
            if (std::all_of(words.begin(), words.end(),
                            [&](const std::string& w) { return haystack.find(w) != std::string::npos; }))
                found.push_back(p);
        }
    }
    answer(std::move(completion), std::move(found));
}

void Geocoder::reverseGeocodeLocation(Coordinate coordinate, Completion completion) {
    std::optional<Placemark> nearest;
    double best = 0;
    for (const auto& p : placemarks()) {
        const double d = distanceBetween(p.coordinate, coordinate);
        if (d > std::max(kReverseReach, p.radius) || (nearest && d >= best)) continue;
        nearest = p;
        best = d;
    }
    std::vector<Placemark> found;
    if (nearest) found.push_back(*nearest);
    answer(std::move(completion), std::move(found));
}

foundation::Status Geocoder::loadPlacemarks(const foundation::Data& json) {
    auto parsed = parseTable(std::string_view(reinterpret_cast<const char*>(json.data()), json.size()));
    if (!parsed.ok()) return parsed.error();
    auto& t = table();
    std::lock_guard lock(t.mutex);
    t.placemarks = std::move(parsed.value());
    return foundation::Status::success();
}

foundation::Status Geocoder::loadPlacemarksFromFile(const std::string& path) {
    auto data = foundation::files::readData(path);
    if (!data.ok()) return data.error();
    return loadPlacemarks(data.value());
}

std::vector<Placemark> Geocoder::placemarks() {
    auto& t = table();
    std::lock_guard lock(t.mutex);
    return t.placemarks;
}

void Geocoder::failNextRequest(int64_t code) {
    auto& t = table();
    std::lock_guard lock(t.mutex);
    t.failures.push_back(code);
}

void Geocoder::reset() {
    auto& t = table();
    std::lock_guard lock(t.mutex);
    t.placemarks.clear();
    t.failures.clear();
}

}  // namespace services
