// The desktop window of the app: an SDL window as big as the toolkit window's screen profile at
// its scale, redrawn from the snapshot renderer on a display link. The mouse is one finger (held
// still, it is a long press; dragged with Alt held two fingers side by side, with Alt and Shift
// three), a touch screen's fingers are fingers, the wheel scrolls the scroll view under the pointer, the keyboard
// types into the first responder and sends key commands, and F1-F8 stand for the device: shake,
// rotate, light/dark, memory warning, background/foreground, a screenshot of what the window
// shows (read back from its render target), the system's prompt for an address to open and its
// search; F9-F12 for what the program's run does (ApplicationHooks: a text arrives, from a new
// number, the network off/on, a crash). The window also plays the system's part in what reaches
// the app from outside: each notification the centre delivers shows as a banner (sheets.h), and
// while the app is in the background the background fetches come at the interval it asked for.
// What the app hands the system (a number to call, a page) shows as a notice; files dropped on the
// window are dropped on the view under the pointer, and a held press that moves drags what a drag
// interaction offers.
#pragma once

#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <SDL2/SDL.h>

#include "platform/dispatch/run_loop.h"
#include "platform/foundation/error.h"
#include "platform/graphics/bitmap.h"
#include "platform/graphics/graphics_context.h"
#include "platform/toolkit/drag_drop.h"
#include "platform/toolkit/window.h"
#include "platform/window/device_commands.h"
#include "platform/window/input_script.h"
#include "platform/window/keys.h"
#include "platform/window/sdl_library.h"
#include "platform/window/sheets.h"

namespace windowing {

// The window's help line for the mouse and the edit keys.
inline constexpr const char* kPointerHelp =
    "hold the mouse for a long press, drag with Alt for two fingers and Alt+Shift for three; "
    "Ctrl or Super with C, V, X copy, paste and cut; Left, Right, Return and Escape work an edit menu";

struct FrontEndOptions {
    std::string title;
    // Screenshots are written here as screenshot-1.png, screenshot-2.png, ...
    std::filesystem::path screenshotDirectory;
    ApplicationHooks hooks;
    std::function<void(const std::filesystem::path&)> screenshotSaved;
    // Input played one step per frame (see input_script.h). Each of its waits gives up after
    // waitTimeout seconds of the process clock; idle answers wait-idle (without it the
    // application counts as idle).
    std::vector<InputStep> script;
    std::function<bool()> idle;
    double waitTimeout = 10;
    int framesPerSecond = 60;
    // Animations play out over their durations while the window is open (pushes slide, spinners
    // turn); off, they finish at once as in the headless runs. Put back when the window closes.
    bool timedAnimations = false;
};

class FrontEnd {
public:
    // Starts the video subsystem and opens the window; an error when there is no display.
    static foundation::Result<std::unique_ptr<FrontEnd>> open(toolkit::Window& window, FrontEndOptions options);
    ~FrontEnd();
    FrontEnd(const FrontEnd&) = delete;
    FrontEnd& operator=(const FrontEnd&) = delete;

    // Handles every queued event, the window system's and pushed ones alike.
    void pumpEvents();
    void handleEvent(const SDL_Event& event);
    // Draws the view tree into the render target and shows it; a requested screenshot is read
    // back from the target first.
    foundation::Status drawFrame();
    // What the render target holds now (alpha 255: the screen is opaque).
    foundation::Result<std::shared_ptr<graphics::Bitmap>> readRenderTarget();
    // One display frame: the next script step, the queued events, and the drawing when something
    // asked for it (see frameWanted); a frame of an idle window draws nothing.
    void frame();
    // Frames drawn so far by frame().
    uint64_t framesDrawn() const { return framesDrawn_; }
    // Runs the main run loop, a display link calling frame(), until the window is closed. An
    // error when a played script could not finish (a step or a screenshot failed).
    foundation::Status run();
    // The display link run() keeps: it ticks while a frame is wanted (something changed, moves or
    // a script plays) and is paused otherwise, so an idle window costs the loop no wake-ups; input
    // wakes the loop through the window system's connection. stopTicking ends both.
    void startTicking();
    void stopTicking();
    // Display-link frames so far.
    uint64_t ticks() const { return ticks_; }

    bool isClosed() const { return closed_; }
    // Closes the window as its close button does: run() returns at its loop's next turn.
    void close();
    // Why a played script stopped short (it then closes the window).
    const std::optional<foundation::Error>& failure() const { return failure_; }
    // The front-most visible view whose text, accessibility label or identifier is label.
    toolkit::View* findVisible(const std::string& label);
    bool scriptFinished() const {
        return nextStep_ >= options_.script.size() && waitFrames_ == 0 && pendingFrames_.empty();
    }
    Uint32 windowID() const;
    // Window coordinates per screen point.
    double pointsToPixels() const;
    SDL_Window* sdlWindow() const { return window_; }
    const std::vector<std::filesystem::path>& screenshots() const { return screenshots_; }
    NotificationBanners& banners() { return banners_; }
    // The open prompt (an address, a search), nullptr when none.
    Prompt* prompt() const { return prompt_ && prompt_->isOpen() ? prompt_.get() : nullptr; }
    // The system's own work of this moment: due notifications as banners, a due background fetch.
    void serveSystem();

    // What the system shows of a URL the app opened (a number called, a page), at the bottom.
    Notice& notice() { return notice_; }
    // Drag and drop. A file dropped on the window (the window system's drop) is a drop of its
    // picture at the pointer: the view there that takes drops gets it as a picture item. A press
    // held kDragLiftDelay s that then moves kDragLiftDistance points on a view with a drag
    // interaction lifts a drag of what it gives (the touch is cancelled, a preview follows the
    // pointer); letting go drops it there.
    static constexpr double kDragLiftDelay = 0.35;
    static constexpr double kDragLiftDistance = 8;
    // Larger files are not read for a drop.
    static constexpr uintmax_t kMaxDroppedFileBytes = 32u << 20;
    bool isDragging() const { return dragSession_ != nullptr; }
    // Drops the picture in the file at a window point, as a drop from the window system does; an
    // error (also printed and shown as a notice) for a file that is not a picture.
    foundation::Status dropFile(const std::filesystem::path& path, toolkit::Point at);

private:
    FrontEnd(toolkit::Window& window, FrontEndOptions options);
    foundation::Status create();
    void fitWindowToProfile();
    toolkit::Point pointFor(Sint32 x, Sint32 y) const;
    void runCommand(DeviceCommand command);
    void handleKey(const SDL_KeyboardEvent& key);
    void handleWheel(const SDL_MouseWheelEvent& wheel);
    void handleFinger(const SDL_TouchFingerEvent& finger);
    void liftMouseTouches();
    void openPrompt(DeviceCommand command);
    void playScript();
    void stopScript(const InputStep& step, const std::string& why);
    foundation::Status saveScreenshot();
    bool frameWanted(bool scripted) const;
    static int64_t wallMinute();
    void tick();
    void pollInput();
    void startLinkIfWanted();

    // Drags and drops, apart from the touches' own handling: true when the event was the drag's.
    bool followDrag(const SDL_Event& event);
    bool liftDrag();
    void endDrag(std::optional<toolkit::Point> dropAt);
    // URLs the app opened, shown as notices.
    struct OpenedURLs;
    void watchOpenedURLs();
    void serveNotices(double now);

    toolkit::Window& toolkitWindow_;
    FrontEndOptions options_;
    const SdlLibrary* sdl_ = nullptr;  // set once create() has loaded the library
    SDL_Window* window_ = nullptr;
    SDL_Renderer* renderer_ = nullptr;
    SDL_Texture* texture_ = nullptr;
    // What each frame is drawn into, kept from frame to frame.
    std::unique_ptr<graphics::GraphicsContext> canvas_;
    double canvasScale_ = 0;
    toolkit::Size canvasSize_;
    int textureWidth_ = 0;
    int textureHeight_ = 0;
    bool videoStarted_ = false;
    bool closed_ = false;
    std::optional<int> touch_;
    toolkit::Point lastPoint_;
    // A modifier drag's other fingers, beside the first (touch_), and the modifiers last seen.
    std::vector<int> extraTouches_;
    Uint16 keyModifiers_ = KMOD_NONE;
    // The touch screen's fingers down now, by device and finger.
    std::map<std::pair<SDL_TouchID, SDL_FingerID>, int> fingers_;
    // The frames a played drag or swipe still has to give, one a frame.
    std::deque<std::vector<SDL_Event>> pendingFrames_;
    bool screenshotRequested_ = false;
    std::vector<std::filesystem::path> screenshots_;
    size_t nextStep_ = 0;
    int waitFrames_ = 0;
    double waitStart_ = -1;
    int idleFrames_ = 0;
    toolkit::Point scriptPoint_;
    std::optional<foundation::Error> failure_;
    bool previousTimedAnimations_ = false;
    // What the last drawn frame saw: events handled, views' redraw requests.
    uint64_t framesDrawn_ = 0;
    uint64_t eventsHandled_ = 0;
    uint64_t drawnEvents_ = 0;
    uint64_t drawnRedrawRequests_ = 0;
    // The wall-clock minute the last drawn frame's status bar showed, and the wake-up at the turn
    // of the next one while the link is paused.
    int64_t drawnMinute_ = 0;
    dispatch::TimerPtr minuteTurn_;
    NotificationBanners banners_;
    Notice notice_;
    std::shared_ptr<OpenedURLs> opened_;
    // The pointer over the window (where a dropped file lands), the press a drag may lift from,
    // the drag under way with its preview, and the last drop (kept while it loads).
    toolkit::Point pointer_;
    std::optional<double> pressedAt_;
    toolkit::Point pressedPoint_;
    std::shared_ptr<toolkit::DragSession> dragSession_;
    std::shared_ptr<toolkit::View> dragPreview_;
    std::shared_ptr<toolkit::DragSession> lastDrop_;
    std::unique_ptr<Prompt> prompt_;
    std::optional<double> backgroundSince_;
    // The display link and how input reaches the loop while it is paused.
    std::unique_ptr<dispatch::DisplayLink> link_;
    bool linkPaused_ = false;
    uint64_t ticks_ = 0;
    uint64_t inputWatch_ = 0;
    dispatch::TimerPtr inputPoll_;
};

}  // namespace windowing
