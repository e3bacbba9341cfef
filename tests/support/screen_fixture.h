// The one fixture of screen tests: the application object in a device's form on its screen
// profile, in a fresh app home, optionally against the loopback emulator and signed in, with the
// harness to drive it and the goldens to check it against (tests/support/goldens.h).
//
//   struct HelpScreen : hxtest::ScreenFixture<HX_ConnectAppDelegate_iPhone> {
//       HelpScreen() : ScreenFixture({.screens = std::make_shared<HXUIScreens>(), .fonts = true}) {}
//   };
//   TEST_F(HelpScreen, ShowsThePage) {
//       ASSERT_TRUE(launch());
//       ...
//       expectOutline("help_page");   // tests/ui/help/golden/help_page.txt
//       expectSnapshot("help_page");  // tests/ui/help/golden/help_page.png
//   }
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "app/connect_app_delegate.h"
#include "emulator/emulator.h"
#include "platform/net/reachability.h"
#include "platform/net/scripted_transport.h"
#include "platform/toolkit/testing/harness.h"
#include "service/request_machinery.h"
#include "tests/support/goldens.h"
#include "tests/support/test_support.h"

namespace hxtest {

// Points the process at a fresh app home: its files, the keychain's file inside it, preferences
// read anew, the device's services back to their defaults and the message fonts a phone's at the
// standard text size.
void useAppHome(const std::filesystem::path& home);
// Gives the home back before its folder is removed (the process's own home serves again).
void leaveAppHome();

// phone4 and phoneSE: the 320-point phones (480 and 568 points high).
enum class DeviceForm { phone, phoneX, tablet, phone4, phoneSE };

toolkit::ScreenProfile profileOf(DeviceForm form);

// Posts a notification from a thread of its own, as the app's background queues post theirs,
// while the calling (main) thread goes on doing `meanwhile` (reading what a screen holds, without
// locks of its own) before, during and after the post. An observer that acts on the posting
// thread instead of the main one then touches the screen beside the main thread's reads with
// nothing ordering them, which the thread sanitizer reports. Bounded: ten seconds at most.
void postFromAnotherThread(const std::string& name, const std::function<void()>& meanwhile);

struct ScreenSetup {
    DeviceForm form = DeviceForm::phone;
    // The screen library's makers (ui/); without them the shell keeps its placeholders, as in
    // the shell's own tests.
    std::shared_ptr<HXScreens> screens;
    // The loopback service (127.0.0.1, an ephemeral port) with its sample account, every host
    // role of the app pointed at it, and the host's network changes kept from the app. Without
    // it the app's requests go to `transport`, a scripted one, and never leave the machine.
    bool emulator = false;
    // An account stored as the current one (the service's account, else kSignedInUser) with a
    // number, so a launch opens the lists instead of the sign-in panel; with the service, its
    // session is in the keychain as a sign-in leaves it, so the launch loads the account.
    bool signedIn = false;
    // Text measured with the bundled fonts, as pictures are drawn.
    bool fonts = false;
    // The application object answers as the process's shared delegate.
    bool sharedDelegate = false;
    int systemVersion = 15;
};

inline constexpr const char* kSignedInUser = "ann@example.test";
inline constexpr const char* kSignedInNumber = "2025550123";

class ScreenFixtureBase : public ::testing::Test {
public:
    explicit ScreenFixtureBase(const ScreenSetup& setup);
    ~ScreenFixtureBase() override;

    // The launch, then (with the service) the host's first report, reachable, as the platform gives
    // it; what they start runs when the test next lets the clock run.
    bool launch();
    // Stores an account by name (with a number, when given) as the only one.
    void storeAccount(const std::string& user, const std::string& number = {});
    // The emulator's account name.
    std::string serviceUser();

    // The window against golden/NAME.txt beside the test's source.
    void expectOutline(const std::string& name, const toolkit::OutlineOptions& options = {});
    // The window at scale (0: the screen's) against golden/NAME.png; with lightAndDark the window
    // is switched to each appearance in turn (NAME_light, NAME_dark) and back.
    struct Snapshot {
        double scale = 0;
        bool lightAndDark = false;
    };
    void expectSnapshot(const std::string& name, const Snapshot& options);
    void expectSnapshot(const std::string& name) { expectSnapshot(name, Snapshot{}); }

protected:
    void SetUp() override;
    void TearDown() override;
    virtual std::shared_ptr<HX_ConnectAppDelegate> makeApplication() = 0;
    virtual void dropApplication() = 0;

    ScreenSetup setup;
    // The service outlives the window: connections the app left open close first.
    std::unique_ptr<emulator::Emulator> service;
    std::unique_ptr<UsingFonts> fonts;

public:
    toolkit::testing::Harness harness;
    TempDir home;
    std::shared_ptr<net::FakeReachabilityBackend> reachability;
    // Without the service: every request the app makes, recorded; none is answered unless the
    // test scripts a reply.
    std::shared_ptr<net::ScriptedTransport> transport;

private:
    std::shared_ptr<HX_ConnectAppDelegate> application_;
};

// App is the application object's form: HX_ConnectAppDelegate_iPhone for the phones,
// HX_ConnectAppDelegate_iPad for the tablet (or a test's subclass of either).
template <typename App>
class ScreenFixture : public ScreenFixtureBase {
public:
    explicit ScreenFixture(const ScreenSetup& setup = {}) : ScreenFixtureBase(setup) {}
    std::shared_ptr<App> app;

    // Until the app has no request in flight, for up to `seconds` of real time, then settled. The
    // replies come over real sockets, so the virtual clock stands still meanwhile: stepping it to
    // the app's periodic timers would use up a virtual time-out before a loaded machine answered.
    bool settleRequests(double seconds = 30) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (!HXWebClientOf(*app).requests.empty()) {
            if (std::chrono::steady_clock::now() >= until) return false;
            harness.clock().runUntilIdle();
            std::this_thread::yield();
        }
        harness.settle();
        return true;
    }

    // For loads the app starts in timed steps a moment apart, which settleRequests does not wait
    // for: the virtual clock runs until the app is idle and then quietSeconds more, until those
    // pass with no request sent to the service (at most `rounds` times), then settled. False when
    // the app stays busy or keeps sending.
    bool settleQuietly(double quietSeconds = 2, int rounds = 10) {
        for (int round = 0; round < rounds; ++round) {
            const bool idle = harness.clock().runUntil([&] { return app->isIdle(); }, 20);
            harness.settle();
            if (!idle) return false;
            const size_t sent = service->requestCount();
            harness.advance(quietSeconds);
            if (app->isIdle() && service->requestCount() == sent) {
                harness.settle();
                return true;
            }
        }
        return false;
    }

    // The launch, then what it asked of the service answered.
    bool launchAndLoad() {
        if (!launch()) return false;
        harness.settle();
        return settleRequests();
    }

protected:
    std::shared_ptr<HX_ConnectAppDelegate> makeApplication() override {
        app = std::make_shared<App>();
        return app;
    }
    void dropApplication() override { app.reset(); }
};

}  // namespace hxtest
