// The window's keyboard: the function keys that stand for the device's buttons and sensors, and
// how other key presses become the responder chain's key commands. Typing itself arrives as text
// (the window's text-input events) and goes to the first responder.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <SDL2/SDL.h>

namespace windowing {

enum class DeviceCommand {
    Shake,
    Rotate,
    ToggleAppearance,
    SendMemoryWarning,
    ToggleBackground,
    TakeScreenshot,
    OpenURL,  // the system's prompt for an address to open
    Search,   // the system's search of the on-device index
    // The run's own: what its service and device do on the user's word.
    TextArrives,               // a text arrives from the number of one of the account's threads
    TextArrivesFromNewNumber,  // a text arrives from a number the account has never met
    ToggleNetwork,             // the device's network off and on
    Crash,                     // the app crashes (a prompt names the ways)
};

struct DeviceKey {
    SDL_Keycode key;
    DeviceCommand command;
    const char* meaning;  // for the window's help line
};

// F1 to F12, whatever modifiers are held.
const std::vector<DeviceKey>& deviceKeys();
std::optional<DeviceCommand> deviceCommandForKey(SDL_Keycode key);

// The desktop's Ctrl is the device keyboard's control key, Super its command key and Alt its option
// key (a Control chord nothing takes is tried as the Command chord when dispatched).
unsigned toolkitModifiers(Uint16 sdlModifiers);

// What a key press means apart from the device keys.
struct KeyMeaning {
    enum Kind {
        None,        // nothing, or it types (its text comes as a text-input event)
        Return,      // ends a line in the text that has the focus
        Backspace,   // deletes backwards in the text that has the focus
        KeyCommand,  // input and modifiers for the responder chain's key commands
    };
    Kind kind = None;
    std::string input;
    unsigned modifiers = 0;
    friend bool operator==(const KeyMeaning&, const KeyMeaning&) = default;
};

// typing: a text input has the focus. Printable keys then type unless Ctrl, Super or Alt is held;
// without a text input they name key commands of their own. Arrows and Escape are always key
// commands; Return and Backspace edit while typing (Return is a key command otherwise).
KeyMeaning keyMeaning(SDL_Keycode key, Uint16 sdlModifiers, bool typing);

}  // namespace windowing
