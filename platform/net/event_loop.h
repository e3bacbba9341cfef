// The seam between the network layer and the loop that runs it: socket sources, one-shot
// timers and posted blocks. In the app this is the main run loop (`EventLoop::main()`), so
// every callback of a connection runs on the main thread; tests may drive a loop of their own.
#pragma once

#include <cstdint>
#include <functional>

namespace net {

class EventLoop {
public:
    // Watch: a standing listener on which nothing waits (see dispatch::RunLoop::Watch).
    enum Events : int { Readable = 1, Writable = 2, Watch = 4 };
    using FdHandler = std::function<void(int fd, int events)>;

    virtual ~EventLoop() = default;

    virtual uint64_t addFd(int fd, int events, FdHandler handler) = 0;
    virtual void updateFd(uint64_t id, int events) = 0;
    virtual void removeFd(uint64_t id) = 0;

    // A one-shot timer after delay seconds of the loop's clock; returns an id for cancelTimer.
    virtual uint64_t scheduleTimer(double delay, std::function<void()> fire) = 0;
    virtual void cancelTimer(uint64_t id) = 0;

    // Runs block on the loop at its next turn. Callable from any thread.
    virtual void post(std::function<void()> block) = 0;
    // Monotonic seconds of the loop's clock.
    virtual double now() const = 0;
    // Wall-clock seconds since 1970 of the loop's clock (cookie expiry).
    virtual double wallNow() const = 0;

    // The main run loop of the process.
    static EventLoop& main();
};

}  // namespace net
