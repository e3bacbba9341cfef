// The device the program runs on (`hx_connect`, `./hx run`): what a phone would hold for the app
// to meet, so that every screen has something to show. Its home gets what it lacks (a home kept
// from an earlier run keeps what it has): a handful of contacts with phone numbers, pictures and
// postal addresses, and a photo library of a few pictures. Contacts, photos and the camera are
// granted; location access is asked of the user through the device's own prompt, an alert over
// the window. Without a route or placemark file the device walks a default route around the
// places of a small placemark table.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/dispatch/dispatch.h"
#include "platform/foundation/error.h"
#include "platform/services/contacts.h"
#include "platform/services/local_authentication.h"
#include "platform/services/location_route.h"

class HX_ConnectAppDelegate;

namespace toolkit {
class Window;
}

namespace hxrun {

// The contacts the device starts with. One of them (Rosa Delgado's mobile) has the number of a
// text thread the run's service generates (seed 1), one the service names nobody for.
std::vector<services::Contact> demoContacts();
inline constexpr const char* kDemoThreadNumber = "+15551071271";
inline constexpr int kDemoPictures = 6;

// Writes the contacts file when the home has none and adds the demo pictures to a library that
// holds none; grants contacts, photo library and camera access. An error names what could not be
// written (the run goes on without it).
foundation::Status furnishHome();

// The default placemark table (geocoder.h's JSON) and a route that starts at its first place,
// stays there two minutes, then goes 700 m away and comes back every two minutes for an hour, so
// that a region set at the first place is left and entered again.
std::string demoPlacemarks();
std::vector<services::RoutePoint> demoRoute();

// The device's location prompt, shown over whatever the window presents: "Allow While Using App",
// "Always Allow" and "Don't Allow" answer the request (when in use, always, denied). The answer is
// kept in the home (Library/Device/location-access) and given again by the next furnishHome.
void installLocationPrompt(toolkit::Window& window);
inline constexpr const char* kAllowWhileUsing = "Allow While Using App";
inline constexpr const char* kAlwaysAllow = "Always Allow";
inline constexpr const char* kDontAllow = "Don't Allow";

// ---- what the user does to the device and its service (run options, window keys, script steps)

// A text arrives at the run's service (the emulator's route, emulator/incoming_texts.h): from the
// number of one of the account's threads, or from a new number. The request goes out even while
// the device is offline (it is the service's side); done gets a line saying what arrived, or why
// nothing did. Runs on the main run loop.
void askServiceForText(const std::string& serviceOrigin, bool fromNewNumber,
                       std::function<void(bool delivered, const std::string& line)> done);

// Waits up to `seconds` of real time until done() holds, running the main queue's and the run
// loop's work as it comes (replies on sockets, blocks posted from other threads) while the
// virtual clock stands still: for what goes over real sockets under time-outs of the clock (the
// service's route above, a background fetch on a session of its own), which stepping the clock to
// its next timer would time out however quickly the reply came. On time-out the error reads
// "no WHAT within N s" (`what`: "answer from the service", say).
foundation::Status waitInRealTime(dispatch::VirtualClock& clock, const std::function<bool()>& done, double seconds,
                                  const std::string& what);

// What the run's waits wait for (wait-idle, the headless run's steps): the app has heard the
// service's first reachability report and no request is under way, a signed-in account is
// settled once its own number has arrived, and the shown list is not waiting for its first page
// (nor the initial load to ask for it).
bool applicationIdle(HX_ConnectAppDelegate& app);

// The device's network: installConnection() puts the reachability stand-in in place before the
// app launches (reachable); setConnectionOn(false) makes every host unreachable, so the app hears a
// reachability change and its requests fail as not connected (-1009), until it is on again.
void installConnection();
bool connectionOn();
void setConnectionOn(bool on);

// The device's biometry: "none", "fingerprint" or "face" (none for another name). With one, the
// passcode lock's biometric policies can be evaluated, and each evaluation shows the sensor's
// prompt over the window, whose buttons succeed, fail or cancel.
std::optional<services::BiometryType> biometryNamed(const std::string& name);
void installBiometrics(services::BiometryType type, toolkit::Window& window);
inline constexpr const char* kBiometricSucceed = "Succeed";
inline constexpr const char* kBiometricFail = "Fail";
inline constexpr const char* kBiometricCancel = "Cancel";

// The ways the app can be made to crash, for the crash prompt of the next launch: a write through
// a null pointer, a C++ exception nothing catches, abort(). Named "null-write", "exception",
// "abort".
enum class CrashKind { NullWrite, Exception, Abort };
std::optional<CrashKind> crashKindNamed(const std::string& name);
const char* crashKindName(CrashKind kind);
[[noreturn]] void crash(CrashKind kind);
// The prompt of the window's crash key: one button per kind, and Cancel.
void showCrashPrompt(toolkit::Window& window);

}  // namespace hxrun
