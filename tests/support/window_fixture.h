// The app in its window on SDL's offscreen driver, signed in against the loopback service, with the
// window's hooks into the application object and the run wired as the program wires them
// (app/main.cpp): the window tests' one fixture.
//
//   struct Banners : hxtest::WindowFixture {};
//   TEST_F(Banners, ...) {
//       ASSERT_TRUE(launchAndLoad());
//       openWindow();
//       play("press-key F5");
//       ...
//   }
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/connect_app_delegate_iphone.h"
#include "app/run_device.h"
#include "platform/foundation/application.h"
#include "platform/services/user_notifications.h"
#include "platform/toolkit/controls.h"
#include "platform/window/front_end.h"
#include "tests/platform/window/window_play.h"
#include "tests/support/screen_fixture.h"
#include "ui/shell/ui_screens.h"

namespace hxtest {

inline toolkit::Point centre(toolkit::View& view) {
    return view.convertPointTo({view.bounds().midX(), view.bounds().midY()}, nullptr);
}

struct WindowFixture : ScreenFixture<HX_ConnectAppDelegate_iPhone> {
    WindowFixture()
        : ScreenFixture({.screens = std::make_shared<HXUIScreens>(),
                         .emulator = true,
                         .signedIn = true,
                         .sharedDelegate = true}) {}
    void SetUp() override {
        setenv("SDL_VIDEODRIVER", "offscreen", 1);
        ScreenFixture::SetUp();
        services::UserNotificationCenter::currentNotificationCenter()->removeAllPendingNotificationRequests();
        services::UserNotificationCenter::currentNotificationCenter()->removeAllDeliveredNotifications();
    }
    void TearDown() override {
        frontEnd.reset();
        foundation::Application::shared().setApplicationState(foundation::ApplicationState::Active);
        ScreenFixture::TearDown();
    }
    // The window over the launched app (launchAndLoad()). Its hooks: the life cycle, background fetches (each result
    // kept in fetchResults), addresses and activities, and the run's keys: a text arriving at the
    // service (the route's line kept in arrivals; one that brought none fails the test), the
    // device's network off and on, the crash prompt.
    void openWindow() {
        auto opened = windowing::FrontEnd::open(harness.window(), windowOptions());
        ASSERT_TRUE(opened.ok()) << opened.error().localizedDescription();
        frontEnd = std::move(*opened);
    }
    // A script played by the window frame by frame, as `./hx run --input` plays it (a frame is
    // 1/60 s of the clock; wait-idle asks what the program asks, hxrun::applicationIdle): its
    // failure, if any.
    std::string runScript(const std::string& lines) {
        frontEnd.reset();
        auto steps = windowing::parseInputScript(lines);
        if (!steps.ok()) return steps.error().localizedDescription();
        windowing::FrontEndOptions options = windowOptions();
        options.script = *steps;
        options.waitTimeout = 30;
        options.idle = [this] { return hxrun::applicationIdle(*app); };
        auto opened = windowing::FrontEnd::open(harness.window(), std::move(options));
        if (!opened.ok()) return opened.error().localizedDescription();
        frontEnd = std::move(*opened);
        for (int frame = 0; frame < 20000 && !frontEnd->scriptFinished() && !frontEnd->isClosed(); ++frame) {
            frontEnd->frame();
            harness.clock().runUntilIdle();
            harness.advance(1.0 / 60);
        }
        harness.settle();
        if (frontEnd->failure()) return frontEnd->failure()->localizedDescription();
        return frontEnd->scriptFinished() ? "" : "the script did not end: " + harness.outline();
    }
    windowing::FrontEndOptions windowOptions() {
        windowing::FrontEndOptions options;
        options.hooks = {[this] { app->applicationDidReceiveMemoryWarning(); },
                         [this] { app->applicationDidEnterBackground(); },
                         [this] { app->applicationWillEnterForeground(); },
                         [this](std::function<void(int)> completion) {
                             app->applicationPerformFetchWithCompletionHandler([this, completion](int result) {
                                 fetchResults.push_back(result);
                                 completion(result);
                             });
                         },
                         [this](const std::string& url) { (void)app->applicationOpenURL(url); },
                         [this](const std::string& type, const foundation::Dictionary& info) {
                             (void)app->continueUserActivity(type, info);
                         },
                         [this](bool fromNewNumber) {
                             hxrun::askServiceForText(service->origin(), fromNewNumber,
                                                      [this](bool delivered, const std::string& line) {
                                                          arrivals.push_back(line);
                                                          if (!delivered) ADD_FAILURE() << line;
                                                      });
                         },
                         [] { hxrun::setConnectionOn(!hxrun::connectionOn()); },
                         [this] { hxrun::showCrashPrompt(harness.window()); }};
        return options;
    }
    // A script's lines as the window's events, handled at once.
    void play(const std::string& lines) {
        playInWindow(*frontEnd, lines, last);
        harness.settle();
    }
    static std::string at(toolkit::Point p) { return std::to_string(p.x) + " " + std::to_string(p.y); }
    void click(toolkit::View& view) { play("click " + at(centre(view))); }
    // Display frames over `seconds` of the virtual clock, with the run loop's work between them.
    void frames(double seconds) {
        for (double t = 0; t < seconds; t += 0.25) {
            harness.advance(0.25);
            frontEnd->frame();
        }
        harness.settle();
    }
    // Real time for what goes over sockets under the clock's time-outs (the service's route, a
    // fetch's own session): the clock stands still meanwhile.
    ::testing::AssertionResult untilReal(const std::function<bool()>& done, double seconds = 30) {
        if (auto waited = hxrun::waitInRealTime(harness.clock(), done, seconds, "answer over the sockets"); !waited)
            return ::testing::AssertionFailure() << waited.error().localizedDescription();
        return ::testing::AssertionSuccess();
    }
    // The shown banner's button with this title.
    toolkit::View* bannerButton(const std::string& title) {
        auto* banner = frontEnd->banners().banner();
        if (!banner) return nullptr;
        for (const auto& view : banner->subviews())
            if (auto* b = dynamic_cast<toolkit::Button*>(view.get()); b && b->currentTitle() == title) return b;
        return nullptr;
    }

    std::unique_ptr<windowing::FrontEnd> frontEnd;
    std::vector<int> fetchResults;
    std::vector<std::string> arrivals;
    toolkit::Point last;
};

}  // namespace hxtest
