// The window's keyboard: which keys stand for the device, and what other key presses mean to the
// text that has the focus and to the responder chain's key commands.
#include <gtest/gtest.h>

#include "platform/toolkit/responder.h"
#include "platform/window/keys.h"

namespace {

using windowing::DeviceCommand;
using windowing::KeyMeaning;

TEST(WindowKeys, FunctionKeysStandForTheDeviceWhateverIsHeld) {
    const std::vector<std::pair<SDL_Keycode, DeviceCommand>> table{
        {SDLK_F1, DeviceCommand::Shake},
        {SDLK_F2, DeviceCommand::Rotate},
        {SDLK_F3, DeviceCommand::ToggleAppearance},
        {SDLK_F4, DeviceCommand::SendMemoryWarning},
        {SDLK_F5, DeviceCommand::ToggleBackground},
        {SDLK_F6, DeviceCommand::TakeScreenshot},
        {SDLK_F7, DeviceCommand::OpenURL},
        {SDLK_F8, DeviceCommand::Search},
        {SDLK_F9, DeviceCommand::TextArrives},
        {SDLK_F10, DeviceCommand::TextArrivesFromNewNumber},
        {SDLK_F11, DeviceCommand::ToggleNetwork},
        {SDLK_F12, DeviceCommand::Crash},
    };
    for (const auto& [key, command] : table) {
        auto found = windowing::deviceCommandForKey(key);
        ASSERT_TRUE(found) << "key " << key;
        EXPECT_EQ(*found, command) << "key " << key;
    }
    EXPECT_EQ(windowing::deviceKeys().size(), table.size());
    for (SDL_Keycode other : {SDLK_F13, SDLK_a, SDLK_RETURN, SDLK_ESCAPE})
        EXPECT_FALSE(windowing::deviceCommandForKey(other)) << "key " << other;
}

TEST(WindowKeys, ModifiersMapToTheDeviceKeyboards) {
    using namespace toolkit;
    EXPECT_EQ(windowing::toolkitModifiers(KMOD_NONE), kModifierNone);
    EXPECT_EQ(windowing::toolkitModifiers(KMOD_LCTRL), kModifierControl);
    EXPECT_EQ(windowing::toolkitModifiers(KMOD_RCTRL), kModifierControl);
    EXPECT_EQ(windowing::toolkitModifiers(KMOD_LGUI), kModifierCommand);
    EXPECT_EQ(windowing::toolkitModifiers(KMOD_RGUI), kModifierCommand);
    EXPECT_EQ(windowing::toolkitModifiers(KMOD_RALT), kModifierAlternate);
    EXPECT_EQ(windowing::toolkitModifiers(KMOD_LSHIFT | KMOD_LCTRL), kModifierShift | kModifierControl);
    EXPECT_EQ(windowing::toolkitModifiers(KMOD_LGUI | KMOD_LCTRL), kModifierCommand | kModifierControl);
    // Lock keys are no modifiers of a command.
    EXPECT_EQ(windowing::toolkitModifiers(KMOD_NUM | KMOD_CAPS), kModifierNone);
}

TEST(WindowKeys, KeyPressesTypeEditOrNameKeyCommands) {
    using namespace toolkit;
    struct Case {
        SDL_Keycode key;
        Uint16 mod;
        bool typing;
        KeyMeaning expected;
    };
    const KeyMeaning none{};
    const std::vector<Case> cases{
        // Typing: printable keys arrive as text, Return and Backspace edit.
        {SDLK_a, KMOD_NONE, true, none},
        {SDLK_a, KMOD_LSHIFT, true, none},
        {SDLK_SPACE, KMOD_NONE, true, none},
        {SDLK_RETURN, KMOD_NONE, true, {KeyMeaning::Return, "", 0}},
        {SDLK_KP_ENTER, KMOD_NONE, true, {KeyMeaning::Return, "", 0}},
        {SDLK_BACKSPACE, KMOD_NONE, true, {KeyMeaning::Backspace, "", 0}},
        // Chords are commands even while typing.
        {SDLK_a, KMOD_LCTRL, true, {KeyMeaning::KeyCommand, "a", kModifierControl}},
        {SDLK_a, KMOD_LGUI, true, {KeyMeaning::KeyCommand, "a", kModifierCommand}},
        {SDLK_RETURN, KMOD_LCTRL, true, {KeyMeaning::KeyCommand, "\r", kModifierControl}},
        {SDLK_n, KMOD_LALT | KMOD_LSHIFT, true, {KeyMeaning::KeyCommand, "n", kModifierAlternate | kModifierShift}},
        {SDLK_UP, KMOD_NONE, true, {KeyMeaning::KeyCommand, kInputUpArrow, 0}},
        {SDLK_ESCAPE, KMOD_NONE, true, {KeyMeaning::KeyCommand, kInputEscape, 0}},
        // Without a text input every printable key names a command of its own.
        {SDLK_a, KMOD_NONE, false, {KeyMeaning::KeyCommand, "a", 0}},
        {SDL_Keycode('~'), KMOD_NONE, false, {KeyMeaning::KeyCommand, "~", 0}},
        {SDLK_f, KMOD_LGUI, false, {KeyMeaning::KeyCommand, "f", kModifierCommand}},
        {SDLK_c, KMOD_LCTRL, false, {KeyMeaning::KeyCommand, "c", kModifierControl}},
        {SDLK_DOWN, KMOD_LSHIFT, false, {KeyMeaning::KeyCommand, kInputDownArrow, kModifierShift}},
        {SDLK_LEFT, KMOD_NONE, false, {KeyMeaning::KeyCommand, kInputLeftArrow, 0}},
        {SDLK_RIGHT, KMOD_NONE, false, {KeyMeaning::KeyCommand, kInputRightArrow, 0}},
        {SDLK_RETURN, KMOD_NONE, false, {KeyMeaning::KeyCommand, "\r", 0}},
        // Nothing to delete, and keys that name nothing.
        {SDLK_BACKSPACE, KMOD_NONE, false, none},
        {SDLK_DELETE, KMOD_NONE, false, none},
        {SDLK_TAB, KMOD_NONE, false, none},
        {SDLK_LSHIFT, KMOD_LSHIFT, false, none},
        {SDLK_F9, KMOD_NONE, false, none},
        {SDLK_HOME, KMOD_NONE, true, none},
    };
    for (const auto& c : cases) {
        const KeyMeaning got = windowing::keyMeaning(c.key, c.mod, c.typing);
        EXPECT_EQ(got, c.expected) << "key " << c.key << " mod " << c.mod << " typing " << c.typing << ": kind "
                                   << got.kind << " input \"" << got.input << "\" modifiers " << got.modifiers;
    }
}

}  // namespace
