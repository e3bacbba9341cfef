// The SDK at the end of the process: a block its queues run while the main thread runs the static
// destructors must still find every process-wide object of the SDK alive.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>

#include "RurIdurev/RurIdurev/Internals/Context/Device/device_tracker.h"
#include "RurIdurev/RurIdurev/Internals/Context/Session/session_context.h"
#include "RurIdurev/RurIdurev/Internals/Context/UserId/user_id_context.h"
#include "RurIdurev/RurIdurev/Internals/DelegateForwarder/app_delegate_forwarder.h"
#include "RurIdurev/RurIdurev/rur_idurev.h"
#include "tests/RurIdurev/telemetry/telemetry_environment.h"

namespace {

// What the exit handler looks at, itself never destroyed.
struct Watched {
    std::weak_ptr<ZIVORurIdurev> sdk;
    std::weak_ptr<ZIVOSessionContext> session;
    std::weak_ptr<ZIVOUserIdContext> userId;
    std::weak_ptr<ZIVOAppDelegateForwarder> forwarder;
    std::weak_ptr<ZIVODeviceTracker> device;
};
Watched* watched = nullptr;

// Registered before the SDK makes its objects, so it runs after the destructors of any object
// made later that is destroyed at exit: status 0 only if none of them was.
void checkAtExit() {
    const Watched& w = *watched;
    int gone = 0;
    for (bool expired :
         {w.sdk.expired(), w.session.expired(), w.userId.expired(), w.forwarder.expired(), w.device.expired()})
        gone = gone * 2 + expired;
    ::_exit(gone == 0 ? 0 : 10 + gone);
}

using SdkAtExit = TelemetryTest;

TEST_F(SdkAtExit, EveryProcessWideObjectOutlivesTheStaticDestructors) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        watched = new Watched;
        std::atexit(checkAtExit);
        watched->sdk = ZIVORurIdurev::sharedInstance();
        watched->session = ZIVOSessionContext::sharedInstance();
        watched->userId = ZIVOUserIdContext::sharedInstance();
        watched->forwarder = ZIVOAppDelegateForwarder::sharedInstance();
        watched->device = ZIVODeviceTracker::sharedInstance();
        ZIVOSessionContext::sharedInstance()->setSessionId(std::string("at-exit"));
        std::exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    // Otherwise 10 + the expired ones as bits: SDK, session, user id, forwarder, device tracker.
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
