// A small poll(2) loop for driving the network layer in tests: sockets are real, and time is
// either the steady clock or a virtual clock that only moves when the test says so.
#pragma once

#include <poll.h>

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

#include "platform/net/event_loop.h"

namespace hxtest {

class PollLoop : public net::EventLoop {
public:
    explicit PollLoop(bool virtualTime = false) : virtual_(virtualTime) {}

    uint64_t addFd(int fd, int events, FdHandler handler) override {
        uint64_t id = ++nextId_;
        fds_[id] = {fd, events, std::move(handler)};
        return id;
    }
    void updateFd(uint64_t id, int events) override {
        if (auto it = fds_.find(id); it != fds_.end()) it->second.events = events;
    }
    void removeFd(uint64_t id) override { fds_.erase(id); }

    uint64_t scheduleTimer(double delay, std::function<void()> fire) override {
        uint64_t id = ++nextId_;
        timers_[id] = {now() + (delay < 0 ? 0 : delay), std::move(fire)};
        return id;
    }
    void cancelTimer(uint64_t id) override { timers_.erase(id); }

    void post(std::function<void()> block) override {
        std::lock_guard lock(postedMutex_);
        posted_.push_back(std::move(block));
    }
    double now() const override {
        if (virtual_) return virtualNow_;
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    }
    double wallNow() const override { return 1'700'000'000.0 + (virtual_ ? virtualNow_ : 0); }

    // One pass: posted blocks, due timers, then sockets (waiting at most waitSeconds).
    void runOnce(double waitSeconds) {
        std::vector<std::function<void()>> blocks;
        {
            std::lock_guard lock(postedMutex_);
            blocks.swap(posted_);
        }
        for (auto& b : blocks) b();
        bool didWork = !blocks.empty() || fireDueTimers();
        bool morePosted;
        {
            std::lock_guard lock(postedMutex_);
            morePosted = !posted_.empty();
        }
        std::vector<pollfd> pfds;
        std::vector<uint64_t> ids;
        for (auto& [id, s] : fds_) {
            short ev = 0;
            if (s.events & Readable) ev |= POLLIN;
            if (s.events & Writable) ev |= POLLOUT;
            pfds.push_back({s.fd, ev, 0});
            ids.push_back(id);
        }
        // Work done in this pass may have changed what the caller waits for: do not block.
        int waitMs = (morePosted || didWork) ? 0 : static_cast<int>(waitSeconds * 1000);
        if (!virtual_ && !timers_.empty()) {
            double next = timers_.begin()->second.due;
            for (auto& [id, t] : timers_) next = std::min(next, t.due);
            int untilTimer = static_cast<int>(std::max(0.0, (next - now()) * 1000));
            waitMs = std::min(waitMs, untilTimer);
        }
        int n = ::poll(pfds.data(), pfds.size(), waitMs);
        if (n <= 0) return;
        for (size_t i = 0; i < pfds.size(); ++i) {
            if (!pfds[i].revents) continue;
            auto it = fds_.find(ids[i]);
            if (it == fds_.end()) continue;
            int ready = 0;
            if (pfds[i].revents & (POLLIN | POLLHUP | POLLERR)) ready |= Readable;
            if (pfds[i].revents & (POLLOUT | POLLERR)) ready |= Writable;
            auto handler = it->second.handler;
            handler(pfds[i].fd, ready);
        }
    }

    // Runs until done() holds or realSeconds of real time pass; returns done().
    bool runUntil(const std::function<bool()>& done, double realSeconds = 10) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(realSeconds);
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            runOnce(0.01);
        }
        return true;
    }

    // Virtual time only: moves the clock forward and fires what became due.
    void advance(double seconds) {
        virtualNow_ += seconds;
        fireDueTimers();
    }

private:
    bool fireDueTimers() {
        bool fired = false;
        for (;;) {
            uint64_t dueId = 0;
            double dueAt = 0;
            for (auto& [id, t] : timers_)
                if (t.due <= now() && (dueId == 0 || t.due < dueAt)) {
                    dueId = id;
                    dueAt = t.due;
                }
            if (dueId == 0) return fired;
            auto fire = std::move(timers_[dueId].fire);
            timers_.erase(dueId);
            fire();
            fired = true;
        }
    }

    struct Source {
        int fd;
        int events;
        FdHandler handler;
    };
    struct PendingTimer {
        double due;
        std::function<void()> fire;
    };
    bool virtual_;
    double virtualNow_ = 1000;
    uint64_t nextId_ = 0;
    std::map<uint64_t, Source> fds_;
    std::map<uint64_t, PendingTimer> timers_;
    std::mutex postedMutex_;
    std::vector<std::function<void()>> posted_;
};

}  // namespace hxtest
