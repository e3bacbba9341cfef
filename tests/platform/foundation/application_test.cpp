#include "platform/foundation/application.h"

#include <gtest/gtest.h>

#include "platform/foundation/notification_center.h"

using namespace foundation;

namespace {

struct Recorder {
    Recorder() {
        for (const char* name :
             {kApplicationWillResignActiveNotification, kApplicationDidEnterBackgroundNotification,
              kApplicationWillEnterForegroundNotification, kApplicationDidBecomeActiveNotification}) {
            NotificationCenter::defaultCenter().addObserver(this, name, [this](const Notification& n) {
                log.push_back(n.name + "@" +
                              std::to_string(static_cast<int>(Application::shared().applicationState())));
            });
        }
    }
    ~Recorder() { NotificationCenter::defaultCenter().removeObserver(this); }
    std::vector<std::string> log;
};

}  // namespace

TEST(Application, StateChangesPostInThePlatformOrder) {
    Application::shared().setApplicationState(ApplicationState::Active);
    Recorder r;
    Application::shared().setApplicationState(ApplicationState::Background);
    EXPECT_TRUE(Application::shared().isInBackground());
    Application::shared().setApplicationState(ApplicationState::Background);  // no change, no post
    Application::shared().setApplicationState(ApplicationState::Active);
    Application::shared().setApplicationState(ApplicationState::Inactive);
    Application::shared().setApplicationState(ApplicationState::Active);
    EXPECT_EQ(r.log, (std::vector<std::string>{
                         "UIApplicationWillResignActiveNotification@0", "UIApplicationDidEnterBackgroundNotification@2",
                         "UIApplicationWillEnterForegroundNotification@2", "UIApplicationDidBecomeActiveNotification@0",
                         "UIApplicationWillResignActiveNotification@0", "UIApplicationDidBecomeActiveNotification@0"}));
}

TEST(Application, AnObserverMayChangeTheStateAgain) {
    Application::shared().setApplicationState(ApplicationState::Active);
    Recorder r;
    int owner = 0;
    NotificationCenter::defaultCenter().addObserver(
        &owner, kApplicationDidEnterBackgroundNotification, [](const Notification&) {
            Application::shared().setApplicationState(ApplicationState::Active);  // re-entrant: must not hang or loop
        });
    Application::shared().setApplicationState(ApplicationState::Background);
    NotificationCenter::defaultCenter().removeObserver(&owner);
    EXPECT_EQ(Application::shared().applicationState(), ApplicationState::Active);
    EXPECT_EQ(r.log.size(), 4u);
    EXPECT_EQ(r.log.back(), "UIApplicationDidBecomeActiveNotification@0");
}

TEST(Application, TerminationTellsTheDelegateThenPostsWillTerminate) {
    std::vector<std::string> log;
    struct Delegate : ApplicationDelegate {
        std::vector<std::string>* log;
        void applicationWillTerminate() override { log->push_back("delegate"); }
    };
    auto delegate = std::make_shared<Delegate>();
    delegate->log = &log;
    int owner = 0;
    NotificationCenter::defaultCenter().addObserver(&owner, kApplicationWillTerminateNotification,
                                                    [&](const Notification& n) { log.push_back(n.name); });
    Application::shared().setDelegate(delegate);
    Application::shared().terminate();
    delegate.reset();  // held weakly: a gone delegate is skipped, the post still made
    Application::shared().terminate();
    NotificationCenter::defaultCenter().removeObserver(&owner);
    EXPECT_EQ(log, (std::vector<std::string>{"delegate", "UIApplicationWillTerminateNotification",
                                             "UIApplicationWillTerminateNotification"}));
}

TEST(Application, BackgroundTasksExpireOnceAndEnd) {
    Application app;
    int expired = 0;
    BackgroundTaskIdentifier first = 0;
    first = app.beginBackgroundTask("upload", [&] {
        ++expired;
        app.endBackgroundTask(first);  // ending from the expiration handler must not deadlock
    });
    const auto second = app.beginBackgroundTask("trim", [&] { ++expired; });
    EXPECT_NE(first, kInvalidBackgroundTask);
    EXPECT_NE(first, second);
    EXPECT_EQ(app.activeBackgroundTaskNames(), (std::vector<std::string>{"upload", "trim"}));
    app.expireBackgroundTasks();
    EXPECT_EQ(expired, 2);
    EXPECT_EQ(app.activeBackgroundTaskCount(), 1u);
    app.expireBackgroundTasks();  // already expired: not called again
    EXPECT_EQ(expired, 2);
    app.endBackgroundTask(second);
    app.endBackgroundTask(second);
    app.endBackgroundTask(kInvalidBackgroundTask);
    EXPECT_EQ(app.activeBackgroundTaskCount(), 0u);
}
