// The main run loop: main-queue blocks, timers, delayed performs, file-descriptor sources and a
// display link, all on the main thread and all timed by the process clock.
//
// This header is the contract the rest of the system codes against; the implementation may
// add to it but keeps these declarations.
#pragma once

#include <any>
#include <functional>
#include <memory>
#include <string>

#include "platform/dispatch/dispatch.h"
#include "platform/foundation/value.h"

namespace dispatch {

class Timer;
using TimerPtr = std::shared_ptr<Timer>;

// Default: the idle loop. Tracking: a loop run while the user drags (scrolling); only sources in
// Tracking or Common mode fire there. Common: fires in every mode.
enum class RunLoopMode { Default, Common, Tracking };

class RunLoop {
public:
    // The process's main run loop (bound to the thread that first asks for it, the main thread).
    static RunLoop& main();

    // Runs the loop until stop() (the running app's event loop).
    void run();
    void stop();
    // Runs ready work once and waits at most timeout seconds for more; returns after one pass.
    void runOnce(Seconds timeout);
    // As runOnce, in a mode (Common is not a mode to run in and means Default).
    void runOnceInMode(RunLoopMode mode, Seconds timeout);
    RunLoopMode currentMode() const;
    // Work the loop has served so far: blocks run, timers, performs and display-link frames
    // fired, descriptor handlers called. Unchanged between two looks, nothing ran in between.
    uint64_t served() const;
    // Called on the main thread after each turn of the loop that served work, before the loop
    // next waits: a display link paused while nothing changes starts again from here. One
    // observer; an empty function removes it.
    void setServedObserver(std::function<void()> observer);

    // A block at the next turn of the loop (not the current one).
    void performAtNextTurn(Block block);

    // Delayed performs, cancellable by (target, selector, argument): the argument compares by
    // value (a freshly made equal string cancels). Target and argument are kept alive until the
    // perform fires or is cancelled, unless weakTarget is set.
    void perform(const std::shared_ptr<void>& target, const std::string& selector, const foundation::Value& argument,
                 Seconds delay, std::function<void(const foundation::Value&)> action, bool weakTarget = false);
    void cancelPerform(const void* target, const std::string& selector, const foundation::Value& argument);
    // Cancels every delayed perform of target.
    void cancelPerforms(const void* target);

    // File-descriptor sources (the network layer registers its sockets here). Handlers run on the
    // main thread in every mode; an error or hang-up is reported as the requested events so that
    // the handler's read or write sees it. A descriptor that is no longer open is removed after
    // its handler has been told. Watch marks a standing watch (a change listener that may report
    // at any time but on which nothing waits): it is served whenever the loop polls, but a
    // virtual clock does not hold time back for it as it does for a descriptor with work in flight.
    enum FdEvents : int { Readable = 1, Writable = 2, Watch = 4 };
    using FdHandler = std::function<void(int fd, int events)>;
    // Returns an id for removeFd.
    uint64_t addFd(int fd, int events, FdHandler handler);
    void updateFd(uint64_t id, int events);
    void removeFd(uint64_t id);

    struct Impl;

private:
    RunLoop();
    std::unique_ptr<Impl> impl_;
    friend class Timer;
    friend class DisplayLink;
};

// A one-shot or repeating timer on the main run loop. The run loop keeps a valid timer (and its
// closure) alive until it is invalidated; a one-shot timer invalidates itself after firing. A
// repeating timer that falls behind skips the missed fires. Dates are clock().now() seconds.
class Timer : public std::enable_shared_from_this<Timer> {
public:
    static TimerPtr scheduled(Seconds interval, bool repeats, std::function<void(Timer&)> fire,
                              RunLoopMode mode = RunLoopMode::Default);
    void invalidate();
    bool isValid() const;
    // Fires now (a one-shot timer is then invalid).
    void fire();
    Seconds fireDate() const;
    void setFireDate(Seconds when);
    Seconds interval() const;

    struct State;
    std::shared_ptr<State> state_;
};

// Calls back once per display frame at the preferred rate (<= 0 means 60), timestamped with the
// frame's clock().now() time. Runs until invalidated or destroyed.
class DisplayLink {
public:
    explicit DisplayLink(std::function<void(Seconds timestamp)> callback, int preferredFramesPerSecond = 60,
                         RunLoopMode mode = RunLoopMode::Common);
    ~DisplayLink();
    DisplayLink(const DisplayLink&) = delete;
    DisplayLink& operator=(const DisplayLink&) = delete;
    void setPaused(bool paused);
    bool isPaused() const;
    void setPreferredFramesPerSecond(int fps);
    int preferredFramesPerSecond() const;
    // The timestamp of the last frame delivered (0 before the first).
    Seconds timestamp() const;
    void invalidate();

private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace dispatch
