// Input written down as a person would give it, for tests and demonstrations: one step per line.
// The window front end plays it as the window system's own events; the program's headless run
// plays it through the harness (playInputScript below).
//   click X Y        press and release at a point (screen points)
//   click-on LABEL   the same at the centre of the front-most visible view whose text,
//                    accessibility label or identifier is LABEL (the rest of the line); an item
//                    of a menu on screen (a menu panel's row, the edit menu's entry) goes first,
//                    a tab bar item's title and an empty text field's placeholder come last.
//                    Only a view a user could tap: one scrolled out of view or covered (by a bar,
//                    the keyboard, a menu) stops the script saying so, never tapping what covers it
//   press X Y        press (a hold is a long press); release X Y lets go there
//   scroll DX DY     turn the wheel, DY > 0 away from the user, at the point of the last click or press
//   press-key [MODS+]NAME  a key by its name ("F6", "Return", "a"), MODS from ctrl, cmd (the
//                    desktop's Super), alt, shift; a ctrl chord no key command takes is tried as cmd
//   type TEXT        type the text (the rest of the line)
//   wait-frames N    let N frames pass (at most 600)
//   wait-for LABEL   wait until such a view (or menu item, as click-on finds them) is visible,
//                    covered or not (isShown);
//                    wait-gone LABEL until none is
//   wait-idle        wait until the application says it is idle
//   text-arrives [new]  a text arrives at the service (the window's F9; "new": from a new number, F10)
//   close            end the run
//   drag X1 Y1 X2 Y2 [STEPS]   press at the first point, move through the way in STEPS moves
//                    (10 when not given, one a frame) and let go at the second point
//   swipe X1 Y1 X2 Y2 FINGERS  the same with 1 to 5 fingers side by side (fingerPoints), their
//                    middle going from the first point to the second in kSwipeSteps moves
// Waits are bounded: one that runs out stops the script with an error. Blank lines and lines
// starting with '#' are skipped.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/toolkit/geometry.h"
#include "platform/toolkit/window.h"

namespace toolkit::testing {

class Harness;

inline constexpr const char* kInputScriptErrorDomain = "HXInputScriptErrorDomain";
inline constexpr int64_t kInputScriptUnreadable = 1;   // a line that is not a step
inline constexpr int64_t kInputScriptNotPlayable = 2;  // a step that cannot be played here
inline constexpr int64_t kInputScriptWaitExpired = 3;  // a wait that ran out

struct InputStep {
    enum Kind {
        Click,
        Press,
        Release,
        Wheel,
        Key,
        Text,
        Frames,
        Close,
        ClickOn,
        WaitFor,
        WaitGone,
        WaitIdle,
        // Moves through a way, with one finger or several.
        Drag,
        Swipe,
    };
    Kind kind = Close;
    Point point;      // Click, Press, Release; Wheel: the amounts
    std::string key;  // Key: the key's name as written
    // Key: ctrl is the control key, cmd the command key, alt option (kModifier* flags).
    unsigned modifiers = 0;
    std::string text;  // Text: what is typed; ClickOn, WaitFor, WaitGone: the label
    int frames = 0;
    int line = 0;
    // Drag, Swipe: where the way ends (point is where it starts), in how many moves, with how
    // many fingers.
    Point to;
    int steps = 0;
    int fingers = 1;
};

inline constexpr int kDragSteps = 10;
inline constexpr int kMaxDragSteps = 600;
inline constexpr int kSwipeSteps = 6;
inline constexpr int kMaxFingers = 5;
// Fingers side by side across a way from from to to (kFingerSpacing apart: one above the other
// for a way more across than up or down, else side by side), their middle at centre.
inline constexpr double kFingerSpacing = 12;
std::vector<Point> fingerPoints(Point centre, int fingers, Point from, Point to);
// The point a move of a way reaches after step of steps.
Point pointAlong(Point from, Point to, int step, int steps);

// A line's error names its number ("line 3: ...").
foundation::Result<std::vector<InputStep>> parseInputScript(const std::string& text);

// The front-most visible view (not hidden, not transparent) whose text, accessibility label or
// identifier is label.
// When no view shows that, the tab bar item of that title or the empty text field whose
// placeholder it is.
View* findVisible(Window& window, const std::string& label);
// Whether wait-for LABEL sees it: a menu item of that title on screen, or a view findVisible finds.
bool isShown(Window& window, const std::string& label);
// Where click-on LABEL clicks: the middle of a menu item of that title on screen (a menu panel's
// row that can be chosen, an entry of the edit menu's bar), else of the front-most view showing
// the label (as findVisible finds them) that a finger reaches there: its middle inside every view
// that clips it (scroll views) and on the screen, and a touch there hit-tested to the view, a view
// inside it or one holding it (a view drawn behind a label that takes no touches gets them, as
// from a finger). Otherwise the error (kInputScriptNotPlayable) says why for the front-most one:
// "no visible view "LABEL"", ""LABEL" is scrolled out of view" (or "is off the screen"), or
// ""LABEL" is covered by NavigationBar": the covering view as the outline names it (its class,
// then its text if it has one).
foundation::Result<Point> findClickPoint(Window& window, const std::string& label);

// A desktop keyboard's Control chord that no key command takes is tried again as the Command
// chord (desktops often keep their own command key, Super, for themselves): the modifiers to try,
// or none when Control is not held. The window and the headless run play keys alike with it.
inline unsigned commandChordForControlChord(unsigned modifiers) {
    return (modifiers & kModifierControl) ? (modifiers & ~kModifierControl) | kModifierCommand : 0;
}

// One wheel notch moves the content about three lines of text.
inline constexpr double kPointsPerWheelNotch = 40;
// A wheel turn at a point: the innermost scroll view under it that can still move that way takes
// it, within its content. False when none could move.
bool turnWheel(Window& window, Point at, double dx, double dy);

// Plays steps through the harness: taps through hit-testing, text into the first responder, keys
// as the desktop window maps them (Return and Backspace edit while typing; arrows, Escape and
// chords are key commands; F1 to F3 shake, rotate and switch the appearance; F4 is a memory
// warning), frames as 1/60 s each; waits step the harness's clock until done or waitSeconds
// have passed. idle answers wait-idle (an app is idle when its work is done); it must hold for
// a few frames running. Stops at "close" or at the end; the first step that cannot be played or
// a wait that runs out is the error.
foundation::Status playInputScript(Harness& harness, const std::vector<InputStep>& steps,
                                   const std::function<bool()>& idle, double waitSeconds);

// ---- the device's keys past F4 (the run's own: texts arriving, the network, a crash)
// What playInputScript does with a function key it does not play itself ("F9", "F12"): the
// handler's error stops the script; without a handler, or when it answers false, the key is
// played only in a window. The program's headless run installs one; nullptr removes it.
using DeviceKeyHandler = std::function<foundation::Result<bool>(const std::string& keyName)>;
void setDeviceKeyHandler(DeviceKeyHandler handler);

}  // namespace toolkit::testing
