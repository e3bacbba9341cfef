#include "app/run_device.h"

#include <cstdlib>

#include "platform/foundation/bundle.h"
#include "platform/foundation/files.h"
#include "platform/foundation/json.h"
#include "platform/foundation/log.h"
#include "platform/graphics/image_operations.h"
#include "platform/services/device.h"
#include "platform/services/photos.h"
#include "platform/toolkit/alert_controller.h"
#include "platform/toolkit/window.h"

namespace hxrun {

namespace {

struct Place {
    const char* name;
    double latitude, longitude, radius;
    services::PostalAddress address;
};

// Made-up places a few hundred metres apart; the first is where the route begins.
const std::vector<Place>& places() {
    static const std::vector<Place> all = {
        {"HX Office", 47.6062, -122.3321, 60, {"100 Harbor Way", "Bayview", "WA", "98101", "United States", "US"}},
        {"Harbor Cafe", 47.6081, -122.3352, 30, {"12 Pier Street", "Bayview", "WA", "98101", "United States", "US"}},
        {"Lindqvist Home", 47.6010, -122.3250, 40, {"8 Juniper Lane", "Bayview", "WA", "98104", "United States", "US"}},
        {"Okafor Studio", 47.6120, -122.3410, 50, {"310 Loom Avenue", "Bayview", "WA", "98121", "United States", "US"}},
    };
    return all;
}

// Where the device keeps the user's answer to the location prompt, as a device keeps it between
// launches of the app.
std::filesystem::path locationAnswerFile() { return foundation::libraryDirectory() / "Device" / "location-access"; }

foundation::Data picture(uint64_t variant, int width, int height) {
    auto jpeg = graphics::jpegRepresentation(services::paintedLandscape(variant, width, height), 0.85);
    return jpeg ? *jpeg : foundation::Data{};
}

services::Contact person(const char* given, const char* family, std::vector<services::LabeledPhoneNumber> phones,
                         uint64_t pictureVariant) {
    services::Contact c;
    c.givenName = given;
    c.familyName = family;
    c.phoneNumbers = std::move(phones);
    c.imageData = picture(pictureVariant, 240, 240);
    return c;
}

}  // namespace

std::vector<services::Contact> demoContacts() {
    auto maya = person("Maya", "Lindqvist", {{services::kLabelPhoneNumberMobile, "(555) 010-2233", {}}}, 11);
    maya.postalAddresses = {{services::kLabelHome, places()[2].address}};
    auto tunde = person(
        "Tunde", "Okafor",
        {{services::kLabelPhoneNumberMobile, "(555) 010-4411", {}}, {services::kLabelWork, "(555) 010-4400", {}}}, 12);
    tunde.postalAddresses = {{services::kLabelWork, places()[3].address}};
    // Rosa's mobile is the number of one of the service's text threads (kDemoThreadNumber), so a
    // conversation of the run names a contact of the device and opens its card.
    auto rosa = person("Rosa", "Delgado",
                       {{services::kLabelPhoneNumberiPhone, "+1 555 010 7788", {}},
                        {services::kLabelPhoneNumberMobile, "(555) 107-1271", {}}},
                       13);
    auto kenji = person("Kenji", "Mori", {{services::kLabelHome, "(555) 010-9090", {}}}, 14);
    services::Contact cafe;
    cafe.contactType = services::ContactType::Organization;
    cafe.organizationName = "Harbor Cafe";
    cafe.phoneNumbers = {{services::kLabelPhoneNumberMain, "(555) 010-5000", {}}};
    cafe.postalAddresses = {{services::kLabelWork, places()[1].address}};
    cafe.imageData = picture(15, 240, 240);
    return {maya, tunde, rosa, kenji, cafe};
}

foundation::Status furnishHome() {
    services::ContactStore::setAuthorizationStatus(services::AuthorizationStatus::Authorized);
    services::PhotoLibrary::setAuthorizationStatus(services::PhotoAuthorizationStatus::Authorized);
    services::CaptureDevice::setAuthorizationStatus(services::CaptureAuthorizationStatus::Authorized);
    if (auto kept = foundation::files::readString(locationAnswerFile()); kept.ok()) {
        const int answer = std::atoi(kept->c_str());
        if (answer >= 1 && answer <= 4)
            services::LocationServices::shared().setAuthorizationStatus(
                static_cast<services::LocationAuthorization>(answer));
    }
    const auto contacts = services::ContactStore::contactsFilePath();
    if (!foundation::files::exists(contacts)) {
        std::error_code ec;
        std::filesystem::create_directories(contacts.parent_path(), ec);
        const std::string cards = services::writeVCards(demoContacts());
        if (auto written = foundation::files::writeAtomically(contacts, foundation::Data(cards.begin(), cards.end()));
            !written.ok())
            return written.error();
    }
    // The device's store lives in that file: what the user saves is there at the next run.
    const auto kept = services::ContactStore::shared()->keepInFile(contacts);
    if (services::PhotoLibrary::assetURLs().empty())
        for (int i = 0; i < kDemoPictures; ++i)
            if (auto added =
                    services::PhotoLibrary::addAsset(picture(static_cast<uint64_t>(i), 1024, 768), "public.jpeg");
                !added.ok())
                return added.error();
    return kept;
}

std::string demoPlacemarks() {
    foundation::Array list;
    for (const auto& p : places()) {
        foundation::Dictionary address;
        address.set("Street", p.address.street);
        address.set("City", p.address.city);
        address.set("State", p.address.state);
        address.set("ZIP", p.address.postalCode);
        address.set("Country", p.address.country);
        address.set("countryCode", p.address.isoCountryCode);
        foundation::Dictionary place;
        place.set("name", p.name);
        place.set("latitude", p.latitude);
        place.set("longitude", p.longitude);
        place.set("radius", p.radius);
        place.set("address", std::move(address));
        list.emplace_back(std::move(place));
    }
    foundation::Dictionary table;
    table.set("placemarks", std::move(list));
    return foundation::toJSON(foundation::Value(std::move(table))).valueOr("{}");
}

std::vector<services::RoutePoint> demoRoute() {
    const auto& office = places().front();
    // About 75 km to a degree of longitude at this latitude.
    auto at = [&](double seconds, double eastMetres) {
        services::RoutePoint p;
        p.seconds = seconds;
        p.location.coordinate = {office.latitude, office.longitude + eastMetres / 75'000.0};
        return p;
    };
    std::vector<services::RoutePoint> route{at(0, 0)};
    // Away at 120 s, back at 240 s, away at 360 s, ... for an hour; a fix every 30 s between.
    for (double t = 30; t <= 3600; t += 30) route.push_back(at(t, static_cast<int>(t / 120) % 2 ? 700 : 0));
    return route;
}

void installLocationPrompt(toolkit::Window& window) {
    services::LocationFeed::setAuthorizationPrompt([&window] {
        if (!services::LocationFeed::isAsking() || !window.rootViewController()) return;
        toolkit::ViewController* top = window.rootViewController().get();
        while (auto* presented = top->presentedViewController()) top = presented;
        const std::string name = foundation::Bundle::main().displayName();
        auto prompt = toolkit::AlertController::make(
            "Allow \u201c" + name + "\u201d to use your location?",
            "Your location lets quick settings switch as you arrive at places and leave them.",
            toolkit::AlertControllerStyle::Alert);
        for (const auto& [title, status] : {std::pair{kAllowWhileUsing, services::LocationAuthorization::WhenInUse},
                                            std::pair{kAlwaysAllow, services::LocationAuthorization::Always},
                                            std::pair{kDontAllow, services::LocationAuthorization::Denied}})
            (void)prompt->addAction(toolkit::AlertAction::make(
                title, toolkit::AlertActionStyle::Default, [status = status](toolkit::AlertAction&) {
                    services::LocationFeed::changeAuthorization(status);
                    std::error_code ec;
                    std::filesystem::create_directories(locationAnswerFile().parent_path(), ec);
                    const std::string text = std::to_string(static_cast<int>(status));
                    if (auto kept = foundation::files::writeAtomically(locationAnswerFile(),
                                                                       foundation::Data(text.begin(), text.end()));
                        !kept.ok())
                        foundation::logFault("the device could not keep the location answer: " +
                                             kept.error().localizedDescription());
                }));
        top->present(prompt, true);
    });
}

}  // namespace hxrun
