#include "platform/window/keys.h"

#include "platform/toolkit/responder.h"

namespace windowing {

namespace {
// Held with a printable key, these make it a key command rather than typing.
constexpr unsigned kChordModifiers =
    toolkit::kModifierCommand | toolkit::kModifierControl | toolkit::kModifierAlternate;
}  // namespace

const std::vector<DeviceKey>& deviceKeys() {
    static const std::vector<DeviceKey> keys{
        {SDLK_F1, DeviceCommand::Shake, "shake"},
        {SDLK_F2, DeviceCommand::Rotate, "rotate"},
        {SDLK_F3, DeviceCommand::ToggleAppearance, "light/dark"},
        {SDLK_F4, DeviceCommand::SendMemoryWarning, "memory warning"},
        {SDLK_F5, DeviceCommand::ToggleBackground, "background/foreground"},
        {SDLK_F6, DeviceCommand::TakeScreenshot, "screenshot"},
        {SDLK_F7, DeviceCommand::OpenURL, "open a URL"},
        {SDLK_F8, DeviceCommand::Search, "search"},
        {SDLK_F9, DeviceCommand::TextArrives, "a text arrives"},
        {SDLK_F10, DeviceCommand::TextArrivesFromNewNumber, "a text from a new number"},
        {SDLK_F11, DeviceCommand::ToggleNetwork, "network off/on"},
        {SDLK_F12, DeviceCommand::Crash, "crash"},
    };
    return keys;
}

std::optional<DeviceCommand> deviceCommandForKey(SDL_Keycode key) {
    for (const auto& k : deviceKeys())
        if (k.key == key) return k.command;
    return std::nullopt;
}

unsigned toolkitModifiers(Uint16 m) {
    unsigned out = toolkit::kModifierNone;
    if (m & KMOD_SHIFT) out |= toolkit::kModifierShift;
    if (m & KMOD_CTRL) out |= toolkit::kModifierControl;
    if (m & KMOD_GUI) out |= toolkit::kModifierCommand;
    if (m & KMOD_ALT) out |= toolkit::kModifierAlternate;
    return out;
}

KeyMeaning keyMeaning(SDL_Keycode key, Uint16 sdlModifiers, bool typing) {
    const unsigned modifiers = toolkitModifiers(sdlModifiers);
    auto command = [&](std::string input) { return KeyMeaning{KeyMeaning::KeyCommand, std::move(input), modifiers}; };
    switch (key) {
        case SDLK_UP:
            return command(toolkit::kInputUpArrow);
        case SDLK_DOWN:
            return command(toolkit::kInputDownArrow);
        case SDLK_LEFT:
            return command(toolkit::kInputLeftArrow);
        case SDLK_RIGHT:
            return command(toolkit::kInputRightArrow);
        case SDLK_ESCAPE:
            return command(toolkit::kInputEscape);
        case SDLK_RETURN:
        case SDLK_KP_ENTER:
            if (typing && !(modifiers & kChordModifiers)) return {KeyMeaning::Return, {}, 0};
            return command("\r");
        case SDLK_BACKSPACE:
            return typing ? KeyMeaning{KeyMeaning::Backspace, {}, 0} : KeyMeaning{};
        default:
            break;
    }
    // Printable keys are their own (unshifted) character in SDL's key codes.
    if (key < SDLK_SPACE || key >= SDLK_DELETE) return {};
    const bool chord = modifiers & kChordModifiers;
    if (typing && !chord) return {};
    return command(std::string(1, static_cast<char>(key)));
}

}  // namespace windowing
