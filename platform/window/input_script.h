// An input script (platform/toolkit/testing/input_script.h) played into the window as the window
// system's own events, so that it takes the same path as a mouse, wheel or keyboard would.
#pragma once

#include <string>
#include <vector>

#include <SDL2/SDL.h>

#include "platform/foundation/error.h"
#include "platform/toolkit/geometry.h"
#include "platform/toolkit/testing/input_script.h"

namespace windowing {

struct InputStep {
    using Kind = toolkit::testing::InputStep::Kind;
    static constexpr Kind Click = Kind::Click, Press = Kind::Press, Release = Kind::Release, Wheel = Kind::Wheel,
                          Key = Kind::Key, Text = Kind::Text, Frames = Kind::Frames, Close = Kind::Close,
                          ClickOn = Kind::ClickOn, WaitFor = Kind::WaitFor, WaitGone = Kind::WaitGone,
                          WaitIdle = Kind::WaitIdle;
    static constexpr Kind Drag = Kind::Drag, Swipe = Kind::Swipe;
    Kind kind = Close;
    toolkit::Point point;  // Click, Press, Release; Wheel: the amounts
    SDL_Keycode key = SDLK_UNKNOWN;
    Uint16 modifiers = KMOD_NONE;
    std::string text;  // Text: what is typed; ClickOn, WaitFor, WaitGone: the label
    int frames = 0;
    int line = 0;
    // Drag, Swipe: the way's end, its moves and fingers (as the toolkit's step).
    toolkit::Point to;
    int steps = 0;
    int fingers = 1;
};

// The script with its keys as the window system's; a line's error names its number ("line 3: ...").
foundation::Result<std::vector<InputStep>> parseInputScript(const std::string& text);

// The window-system events of one step; pointsToPixels scales points to window coordinates.
// Close is a quit event; ClickOn is played as a Click at the point the player found; the others
// make none (the player counts frames and waits).
std::vector<SDL_Event> eventsForStep(const InputStep& step, double pointsToPixels, Uint32 windowID,
                                     toolkit::Point& lastPoint);

// The same events frame by frame: a drag or a swipe gives its press, each move and its release a
// frame of their own (a drag as the mouse's button and motion, a swipe as the touch screen's
// fingers, at positions relative to the window, of windowSize points); other steps one frame.
std::vector<std::vector<SDL_Event>> eventFramesForStep(const InputStep& step, double pointsToPixels, Uint32 windowID,
                                                       toolkit::Point& lastPoint, toolkit::Size windowSize);

// The touch device the played swipes come from (none real has this id).
inline constexpr SDL_TouchID kScriptTouchDevice = 0x6878;

}  // namespace windowing
