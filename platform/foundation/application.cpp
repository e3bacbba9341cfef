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

void Application::setApplicationState(ApplicationState target) {
    std::lock_guard transition(transitionMutex_);
    auto& center = NotificationCenter::defaultCenter();
    auto set = [&](ApplicationState s) {
        std::lock_guard lock(mutex_);
        state_ = s;
    };
    while (applicationState() != target) {
        switch (applicationState()) {
        case ApplicationState::Active:
            center.post(kApplicationWillResignActiveNotification);
            set(ApplicationState::Inactive);
            break;
        case ApplicationState::Inactive:
            if (target == ApplicationState::Background) {
                set(ApplicationState::Background);
                center.post(kApplicationDidEnterBackgroundNotification);
            } else {
                set(ApplicationState::Active);
                center.post(kApplicationDidBecomeActiveNotification);
            }
            break;
        case ApplicationState::Background:
            center.post(kApplicationWillEnterForegroundNotification);
            set(ApplicationState::Inactive);
            break;
        }
    }
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

}  // namespace foundation
