#include "platform/foundation/application.h"

#include <algorithm>

#include "platform/foundation/notification_center.h"

namespace foundation {

Application::Application() = default;

Application& Application::shared() {
    static Application* app = new Application();
    return *app;
}

ApplicationState Application::applicationState() const {
    std::lock_guard lock(mutex_);
    return state_;
}

void Application::setDelegate(std::weak_ptr<ApplicationDelegate> delegate) {
    std::lock_guard lock(mutex_);
    delegate_ = std::move(delegate);
}

std::shared_ptr<ApplicationDelegate> Application::delegate() const {
    std::lock_guard lock(mutex_);
    return delegate_.lock();
}

void Application::setApplicationState(ApplicationState target) {
    std::lock_guard transition(transitionMutex_);
    const uint64_t mine = ++transitions_;
    auto& center = NotificationCenter::defaultCenter();
    auto set = [&](ApplicationState s) {
        std::lock_guard lock(mutex_);
        state_ = s;
    };
    // After each notification, a newer request made by an observer takes over.
    auto post = [&](const char* name) {
        center.post(name);
        return transitions_ == mine;
    };
    while (applicationState() != target) {
        switch (applicationState()) {
            case ApplicationState::Active:
                if (!post(kApplicationWillResignActiveNotification)) return;
                set(ApplicationState::Inactive);
                break;
            case ApplicationState::Inactive:
                if (target == ApplicationState::Background) {
                    set(ApplicationState::Background);
                    if (!post(kApplicationDidEnterBackgroundNotification)) return;
                } else {
                    set(ApplicationState::Active);
                    if (!post(kApplicationDidBecomeActiveNotification)) return;
                }
                break;
            case ApplicationState::Background:
                if (!post(kApplicationWillEnterForegroundNotification)) return;
                set(ApplicationState::Inactive);
                break;
        }
    }
}

void Application::terminate() {
    if (auto d = delegate()) d->applicationWillTerminate();
    NotificationCenter::defaultCenter().post(kApplicationWillTerminateNotification);
}

BackgroundTaskIdentifier Application::beginBackgroundTask(std::string name, std::function<void()> expirationHandler) {
    std::lock_guard lock(mutex_);
    const BackgroundTaskIdentifier id = nextTask_++;
    tasks_.push_back(Task{id, std::move(name), std::move(expirationHandler)});
    return id;
}

void Application::endBackgroundTask(BackgroundTaskIdentifier identifier) {
    std::lock_guard lock(mutex_);
    std::erase_if(tasks_, [&](const Task& t) { return t.id == identifier; });
}

size_t Application::activeBackgroundTaskCount() const {
    std::lock_guard lock(mutex_);
    return tasks_.size();
}

std::vector<std::string> Application::activeBackgroundTaskNames() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> names;
    for (const auto& t : tasks_) names.push_back(t.name);
    return names;
}

void Application::expireBackgroundTasks() {
    std::vector<std::function<void()>> handlers;
    {
        std::lock_guard lock(mutex_);
        for (auto& t : tasks_) {
            if (t.expired) continue;
            t.expired = true;
            if (t.expiration) handlers.push_back(t.expiration);
        }
    }
    // Outside the lock: a handler normally ends its own task.
    for (auto& h : handlers) h();
}

void Application::setNetworkActivityIndicatorVisible(bool visible) {
    std::lock_guard lock(mutex_);
    if (visible && !networkActivity_) ++networkActivityShows_;
    networkActivity_ = visible;
}

bool Application::isNetworkActivityIndicatorVisible() const {
    std::lock_guard lock(mutex_);
    return networkActivity_;
}

uint64_t Application::networkActivityIndicatorShowCount() const {
    std::lock_guard lock(mutex_);
    return networkActivityShows_;
}

}  // namespace foundation
