// Input played into the window as if a person gave it, for tests and demonstrations: one step per
// line, each turned into the window system's own events so that it takes the same path as a
// mouse, wheel or keyboard would.
//   click X Y        press and release the left button at a point (screen points)
//   press X Y        press the left button (a hold is a long press); release X Y lets go
//   wheel DX DY      the wheel, DY > 0 away from the user, at the point of the last click or press
//   key [MODS+]NAME  a key by its name ("F6", "Return", "a"), MODS from ctrl, alt, shift
//   text TEXT        typed text (the rest of the line)
//   frames N         let N frames pass (at most 600)
//   close            close the window
// Blank lines and lines starting with '#' are skipped.
#pragma once

#include <string>
#include <vector>

#include <SDL2/SDL.h>

#include "platform/foundation/error.h"
#include "platform/toolkit/geometry.h"

namespace windowing {

struct InputStep {
    enum Kind { Click, Press, Release, Wheel, Key, Text, Frames, Close };
    Kind kind = Close;
    toolkit::Point point;  // Click, Press, Release; Wheel: the amounts
    SDL_Keycode key = SDLK_UNKNOWN;
    Uint16 modifiers = KMOD_NONE;
    std::string text;
    int frames = 0;
};

// A line's error names its number ("line 3: ...").
foundation::Result<std::vector<InputStep>> parseInputScript(const std::string& text);

// The window-system events of one step; pointsToPixels scales points to window coordinates.
// Frames makes none (the player counts frames); Close is a quit event.
std::vector<SDL_Event> eventsForStep(const InputStep& step, double pointsToPixels, Uint32 windowID,
                                     toolkit::Point& lastPoint);

}  // namespace windowing
