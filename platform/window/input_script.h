// Input played into the window as if a person gave it, for tests and demonstrations: one step per
// line, each turned into the window system's own events so that it takes the same path as a
// mouse, wheel or keyboard would.
//   click X Y        press and release the left button at a point (screen points)
//   click-on LABEL   the same at the centre of the front-most visible view whose text,
//                    accessibility label or identifier is LABEL (the rest of the line)
//   press X Y        press the left button (a hold is a long press); release X Y lets go
//   wheel DX DY      the wheel, DY > 0 away from the user, at the point of the last click or press
//   key [MODS+]NAME  a key by its name ("F6", "Return", "a"), MODS from ctrl, alt, shift
//   text TEXT        typed text (the rest of the line)
//   frames N         let N frames pass (at most 600)
//   wait-for LABEL   wait until such a view is visible; wait-gone LABEL until none is
//   wait-idle        wait until the application says it is idle (for a few frames running)
//   close            close the window
// Waits are bounded: one that runs out stops the script with an error. Blank lines and lines
// starting with '#' are skipped.
#pragma once

#include <string>
#include <vector>

#include <SDL2/SDL.h>

#include "platform/foundation/error.h"
#include "platform/toolkit/geometry.h"

namespace windowing {

struct InputStep {
    enum Kind { Click, Press, Release, Wheel, Key, Text, Frames, Close, ClickOn, WaitFor, WaitGone, WaitIdle };
    Kind kind = Close;
    toolkit::Point point;  // Click, Press, Release; Wheel: the amounts
    SDL_Keycode key = SDLK_UNKNOWN;
    Uint16 modifiers = KMOD_NONE;
    std::string text;  // Text: what is typed; ClickOn, WaitFor, WaitGone: the label
    int frames = 0;
    int line = 0;
};

// A line's error names its number ("line 3: ...").
foundation::Result<std::vector<InputStep>> parseInputScript(const std::string& text);

// The window-system events of one step; pointsToPixels scales points to window coordinates.
// Close is a quit event; ClickOn is played as a Click at the point the player found; the others
// make none (the player counts frames and waits).
std::vector<SDL_Event> eventsForStep(const InputStep& step, double pointsToPixels, Uint32 windowID,
                                     toolkit::Point& lastPoint);

}  // namespace windowing
