#include "app/run_device.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <tuple>

#include "app/connect_app_delegate.h"
#include "platform/dispatch/run_loop.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/files.h"
#include "platform/foundation/json.h"
#include "platform/foundation/log.h"
#include "platform/graphics/image_operations.h"
#include "platform/net/curl_transport.h"
#include "platform/net/reachability.h"
#include "platform/net/url_session.h"
#include "platform/services/device.h"
#include "platform/services/photos.h"
#include "platform/toolkit/alert_controller.h"
#include "platform/toolkit/window.h"
#include "service/request_machinery.h"

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
    // Away at 120 s, back at 240 s, away at 360 s, ... for an hour: a fix where the device moves
    // only, so that a device standing still wakes nobody.
    for (double t = 120; t <= 3600; t += 120) route.push_back(at(t, static_cast<int>(t / 120) % 2 ? 700 : 0));
    return route;
}

namespace {

// What the window shows in front: the root, or the last of what it presents.
toolkit::ViewController* frontController(toolkit::Window& window) {
    toolkit::ViewController* top = window.rootViewController().get();
    while (top && top->presentedViewController()) top = top->presentedViewController();
    return top;
}

}  // namespace

void installLocationPrompt(toolkit::Window& window) {
    services::LocationFeed::setAuthorizationPrompt([&window] {
        if (!services::LocationFeed::isAsking() || !window.rootViewController()) return;
        toolkit::ViewController* top = frontController(window);
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

// ---- the service, the network, the sensor and crashes

void askServiceForText(const std::string& serviceOrigin, bool fromNewNumber,
                       std::function<void(bool delivered, const std::string& line)> done) {
    if (serviceOrigin.empty()) {
        done(false, "no text can arrive: the run has no service (--service)");
        return;
    }
    // A transport of its own: the device's network being off does not stop the service's side.
    net::URLSessionConfiguration configuration;
    configuration.transport = net::CurlTransport::create(net::EventLoop::main());
    auto session = net::URLSession::sessionWithConfiguration(configuration, dispatch::Queue::main());
    // The emulator's route (emulator/incoming_texts.h).
    net::URLRequest request(serviceOrigin + "/emulator/deliver-text" + (fromNewNumber ? "?from=new" : ""), 10);
    request.setHTTPMethod("POST");
    auto task = session->dataTaskWithRequest(
        request, [session, done](const foundation::Data& data, const std::optional<net::HTTPURLResponse>& response,
                                 const std::optional<foundation::Error>& error) {
            session->finishTasksAndInvalidate();
            if (error || !response || response->statusCode != 200) {
                done(false, "no text arrived: " + (error ? error->localizedDescription()
                                                         : "the service answered " +
                                                               std::to_string(response ? response->statusCode : 0)));
                return;
            }
            const auto reply =
                foundation::parseJSON(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
            if (!reply.ok() || !reply->isDictionary()) {
                done(false, "no text arrived: the service's answer is not JSON");
                return;
            }
            const auto& d = reply->asDictionary();
            done(true, "a text arrived from " + d.get("fromNumber").stringValue() + ": \"" +
                           d.get("text").stringValue() + "\"");
        });
    task->resume();
}

foundation::Status waitInRealTime(dispatch::VirtualClock& clock, const std::function<bool()>& done, double seconds,
                                  const std::string& what) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(std::max(seconds, 0.0));
    for (;;) {
        clock.runUntilIdle();
        if (done()) return {};
        const double left = std::chrono::duration<double>(end - std::chrono::steady_clock::now()).count();
        if (left <= 0) {
            char within[32];
            std::snprintf(within, sizeof within, "%.1f", seconds);
            return foundation::Error::withDescription("hx_connect", 1, "no " + what + " within " + within + " s");
        }
        // Sleeps until a socket is ready or work is posted to the main queue (a short slice at
        // most, for background work that posts nothing); the clock's own timers stay where they are.
        dispatch::RunLoop::main().runOnce(std::min(left, 0.05));
    }
}

namespace {

std::shared_ptr<net::FakeReachabilityBackend>& connection() {
    static std::shared_ptr<net::FakeReachabilityBackend> backend;
    return backend;
}

}  // namespace

void installConnection() {
    connection() = std::make_shared<net::FakeReachabilityBackend>();
    connection()->setFlags(net::kReachabilityReachable | net::kReachabilityIsLocalAddress);
    net::ReachabilityBackend::setShared(connection());
}

bool applicationIdle(HX_ConnectAppDelegate& app) {
    const auto account = app.account();
    if (account && account->authV2() && !account->HXnumber()) return false;
    return HXWebClientOf(app).firstReachabilityHandled && app.isIdle() && !HXLoadingFirstData(app);
}

bool connectionOn() {
    const auto& backend = connection();
    if (!backend) return true;
    const auto flags = backend->flags(net::ReachabilityTargetSpec{});
    return !flags || (*flags & net::kReachabilityReachable);
}

void setConnectionOn(bool on) {
    if (!connection()) installConnection();
    connection()->setFlags(on ? net::kReachabilityReachable | net::kReachabilityIsLocalAddress : 0u);
}

std::optional<services::BiometryType> biometryNamed(const std::string& name) {
    if (name == "none") return services::BiometryType::None;
    if (name == "fingerprint") return services::BiometryType::TouchID;
    if (name == "face") return services::BiometryType::FaceID;
    return std::nullopt;
}

void installBiometrics(services::BiometryType type, toolkit::Window& window) {
    auto& device = services::Biometrics::shared();
    device.setBiometryType(type);
    if (type == services::BiometryType::None) {
        device.setCanEvaluate({});
        device.setPrompt({});
        return;
    }
    device.setCanEvaluate({services::kPolicyDeviceOwnerAuthenticationWithBiometrics,
                           services::kPolicyDeviceOwnerAuthenticationWithBiometricsOrCompanion});
    device.setPrompt([&window, type](const services::BiometricEvaluation& evaluation) {
        toolkit::ViewController* top = frontController(window);
        if (!top) {
            (void)services::Biometrics::shared().answerHeld(
                services::Biometrics::Answer::fail(services::kLAErrorSystemCancel));
            return;
        }
        const std::string name = foundation::Bundle::main().displayName();
        auto prompt = toolkit::AlertController::make(
            type == services::BiometryType::FaceID ? "Face ID" : "Touch ID for \u201c" + name + "\u201d",
            evaluation.reason, toolkit::AlertControllerStyle::Alert);
        using Answer = services::Biometrics::Answer;
        for (const auto& [title, answer, style] :
             {std::tuple{kBiometricSucceed, Answer::succeed(), toolkit::AlertActionStyle::Default},
              std::tuple{kBiometricFail, Answer::fail(services::kLAErrorAuthenticationFailed),
                         toolkit::AlertActionStyle::Default},
              std::tuple{kBiometricCancel, Answer::fail(services::kLAErrorUserCancel),
                         toolkit::AlertActionStyle::Cancel}})
            (void)prompt->addAction(toolkit::AlertAction::make(title, style, [answer = answer](toolkit::AlertAction&) {
                (void)services::Biometrics::shared().answerHeld(answer);
            }));
        top->present(prompt, true);
    });
}

namespace {

constexpr std::pair<CrashKind, const char*> kCrashKinds[] = {
    {CrashKind::NullWrite, "null-write"}, {CrashKind::Exception, "exception"}, {CrashKind::Abort, "abort"}};

// Called through a pointer the compiler cannot see through: the throw leaves a function that
// promises not to, and the runtime ends the process as for any exception nothing catches.
[[noreturn]] void throwUncaught() { throw std::runtime_error("an exception nothing catches (the run's crash key)"); }
void (*volatile gThrower)() = throwUncaught;
void leaveNoexcept() noexcept { gThrower(); }

}  // namespace

std::optional<CrashKind> crashKindNamed(const std::string& name) {
    for (const auto& [kind, text] : kCrashKinds)
        if (name == text) return kind;
    return std::nullopt;
}

const char* crashKindName(CrashKind kind) {
    for (const auto& [k, text] : kCrashKinds)
        if (k == kind) return text;
    return "?";
}

void crash(CrashKind kind) {
    switch (kind) {
        case CrashKind::NullWrite: {
            static int* volatile nowhere = nullptr;
            *nowhere = 1;
            break;
        }
        case CrashKind::Exception:
            leaveNoexcept();
            break;
        case CrashKind::Abort:
            break;
    }
    std::abort();
}

void showCrashPrompt(toolkit::Window& window) {
    toolkit::ViewController* top = frontController(window);
    if (!top) return;
    auto prompt = toolkit::AlertController::make(
        "Crash the App", "The app ends now; its next launch asks whether to send the crash report.",
        toolkit::AlertControllerStyle::Alert);
    for (const auto& [kind, title] :
         {std::pair{CrashKind::NullWrite, "Null Write"}, std::pair{CrashKind::Exception, "C++ Exception"},
          std::pair{CrashKind::Abort, "Abort"}})
        (void)prompt->addAction(toolkit::AlertAction::make(title, toolkit::AlertActionStyle::Destructive,
                                                           [kind = kind](toolkit::AlertAction&) { crash(kind); }));
    (void)prompt->addAction(toolkit::AlertAction::make("Cancel", toolkit::AlertActionStyle::Cancel));
    top->present(prompt, true);
}

}  // namespace hxrun
