// The application's life-cycle state and its background-task registry. The toolkit drives the
// state (tests set it directly); each change posts the platform's notifications on the calling
// thread through the default notification centre, in the platform's order.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace foundation {

enum class ApplicationState : int { Active = 0, Inactive = 1, Background = 2 };

// The application's delegate: the program's application object derives from this and names itself
// with setDelegate before the launch.
class ApplicationDelegate {
public:
    virtual ~ApplicationDelegate() = default;
    // The process is about to end; called by Application::terminate.
    virtual void applicationWillTerminate() {}
};

using BackgroundTaskIdentifier = uint64_t;
inline constexpr BackgroundTaskIdentifier kInvalidBackgroundTask = 0;

class Application {
public:
    static Application& shared();

    ApplicationState applicationState() const;
    bool isInBackground() const { return applicationState() == ApplicationState::Background; }

    // Moves to state, passing through Inactive between Active and Background, and posts:
    //   Active -> Inactive:      will-resign-active (before the change)
    //   Inactive -> Background:  did-enter-background (after)
    //   Background -> Inactive:  will-enter-foreground (before)
    //   Inactive -> Active:      did-become-active (after)
    // Setting the current state posts nothing. An observer may set the state again; the newer
    // request then wins and the older one stops where it was.
    void setApplicationState(ApplicationState state);

    // The process is about to end: tells the delegate, then posts will-terminate, in the
    // platform's order (observers may still save; the delegate has saved already).
    void terminate();

    // Held weakly, as the platform holds it: the program keeps its application object alive, and
    // a dropped one reads as no delegate.
    void setDelegate(std::weak_ptr<ApplicationDelegate> delegate);
    std::shared_ptr<ApplicationDelegate> delegate() const;

    // Registers work that must finish while in the background. The expiration handler runs (once)
    // if the time granted runs out first; the task must still be ended. Returns a non-zero id.
    BackgroundTaskIdentifier beginBackgroundTask(std::string name, std::function<void()> expirationHandler = {});
    // Ends a task; unknown or already ended ids (and kInvalidBackgroundTask) are ignored.
    void endBackgroundTask(BackgroundTaskIdentifier identifier);
    size_t activeBackgroundTaskCount() const;
    std::vector<std::string> activeBackgroundTaskNames() const;
    // Background time is up: runs the expiration handler of every running task that has not
    // expired yet, in the order they began, on the calling thread.
    void expireBackgroundTasks();

    // The network activity indicator the status bar shows while it is visible.
    void setNetworkActivityIndicatorVisible(bool visible);
    bool isNetworkActivityIndicatorVisible() const;
    // How many times it went from hidden to visible (what tests count).
    uint64_t networkActivityIndicatorShowCount() const;

    Application();

private:
    struct Task {
        BackgroundTaskIdentifier id;
        std::string name;
        std::function<void()> expiration;
        bool expired = false;
    };

    mutable std::mutex mutex_;
    // One state change (and its notifications) at a time; an observer may change the state again.
    std::recursive_mutex transitionMutex_;
    ApplicationState state_ = ApplicationState::Active;
    std::weak_ptr<ApplicationDelegate> delegate_;
    uint64_t transitions_ = 0;  // bumped by each setApplicationState call
    BackgroundTaskIdentifier nextTask_ = 1;
    std::vector<Task> tasks_;
    bool networkActivity_ = false;
    uint64_t networkActivityShows_ = 0;
};

}  // namespace foundation
