// The network layer on the process's main run loop. Kept in its own file so that code which
// drives a loop of its own does not pull in the run loop.
#include <map>
#include <mutex>

#include "platform/dispatch/dispatch.h"
#include "platform/dispatch/run_loop.h"
#include "platform/net/event_loop.h"

namespace net {

namespace {

class MainRunLoopAdapter : public EventLoop {
public:
    uint64_t addFd(int fd, int events, FdHandler handler) override {
        return dispatch::RunLoop::main().addFd(fd, events, std::move(handler));
    }
    void updateFd(uint64_t id, int events) override { dispatch::RunLoop::main().updateFd(id, events); }
    void removeFd(uint64_t id) override { dispatch::RunLoop::main().removeFd(id); }

    uint64_t scheduleTimer(double delay, std::function<void()> fire) override {
        std::lock_guard lock(mutex_);
        uint64_t id = ++nextId_;
        auto timer = dispatch::Timer::scheduled(delay, false, [this, id, fire = std::move(fire)](dispatch::Timer&) {
            {
                std::lock_guard lock(mutex_);
                if (timers_.erase(id) == 0) return;
            }
            fire();
        });
        timers_[id] = timer;
        return id;
    }
    void cancelTimer(uint64_t id) override {
        dispatch::TimerPtr timer;
        {
            std::lock_guard lock(mutex_);
            auto it = timers_.find(id);
            if (it == timers_.end()) return;
            timer = it->second;
            timers_.erase(it);
        }
        timer->invalidate();
    }
    void post(std::function<void()> block) override { dispatch::Queue::main()->async(std::move(block)); }
    double now() const override { return dispatch::clock().now(); }
    double wallNow() const override { return dispatch::clock().wallNow(); }

private:
    std::mutex mutex_;
    uint64_t nextId_ = 0;
    std::map<uint64_t, dispatch::TimerPtr> timers_;
};

}  // namespace

EventLoop& EventLoop::main() {
    static MainRunLoopAdapter* adapter = new MainRunLoopAdapter;
    return *adapter;
}

}  // namespace net
