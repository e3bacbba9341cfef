// What the device's own buttons and sensors do to a window and the application: the shake
// gesture, rotation, light and dark appearance, a memory warning, and moving to the background
// and back. The window front end runs them from keys; each reaches the window's controllers and
// the notification centre through the same paths a device takes.
#pragma once

#include <functional>
#include <string>

#include "platform/foundation/value.h"

#include "platform/toolkit/window.h"

namespace windowing {

// The application object's calls, made around the platform's notifications: its life cycle, a
// background fetch (answered through the completion with the platform's result), and what opens
// the app at a place (an address of its scheme, an activity to continue); then what the program's
// run does on the user's word (a text arriving at its service, the device's network off and on, a
// crash), each left out where nothing stands behind it.
struct ApplicationHooks {
    std::function<void()> didReceiveMemoryWarning;
    std::function<void()> didEnterBackground;
    std::function<void()> willEnterForeground;
    std::function<void(std::function<void(int)> completion)> performFetch;
    std::function<void(const std::string& url)> openURL;
    std::function<void(const std::string& activityType, const foundation::Dictionary& userInfo)> continueActivity;
    std::function<void(bool fromNewNumber)> textArrives;
    std::function<void()> toggleNetwork;
    std::function<void()> crash;
};

// Motion began and ended on the first responder, else on the root controller.
void shake(toolkit::Window& window);
// Portrait and landscape in turn: the window takes the rotated profile, so does the device.
void rotate(toolkit::Window& window);
// Light to dark and back.
void toggleAppearance(toolkit::Window& window);
// The application first, then every controller (children and presented ones), then the
// notification.
void memoryWarning(toolkit::Window& window, const ApplicationHooks& hooks);
// Active to background, or background (or inactive) to active, with the application's calls.
void toggleBackground(const ApplicationHooks& hooks);

}  // namespace windowing
