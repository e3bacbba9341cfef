// The device the program runs on (`hx_connect`, `./hx run`): what a phone would hold for the app
// to meet, so that every screen has something to show. Its home gets what it lacks (a home kept
// from an earlier run keeps what it has): a handful of contacts with phone numbers, pictures and
// postal addresses, and a photo library of a few pictures. Contacts, photos and the camera are
// granted; location access is asked of the user through the device's own prompt, an alert over
// the window. Without a route or placemark file the device walks a default route around the
// places of a small placemark table.
#pragma once

#include <string>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/services/contacts.h"
#include "platform/services/location_route.h"

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

}  // namespace hxrun
