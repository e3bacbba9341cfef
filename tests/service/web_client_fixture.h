// The application object against the emulated service over loopback, in a home of its own and on
// the virtual clock: what the web client's tests start from.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "app/connect_app_delegate.h"
#include "emulator/emulator.h"
#include "model/account.h"
#include "platform/dispatch/dispatch.h"
#include "platform/dispatch/run_loop.h"
#include "platform/foundation/files.h"
#include "platform/foundation/user_defaults.h"
#include "platform/net/transport.h"
#include "platform/security/keychain.h"
#include "service/custom_cookie_jar.h"
#include "service/request_machinery.h"
#include "tests/support/shell_recorder.h"
#include "tests/support/test_support.h"

struct WebClientFixture : ::testing::Test {
    dispatch::ScopedVirtualClock clock{1'700'000'000.0};
    hxtest::TempDir home;
    emulator::Emulator service;
    std::shared_ptr<hxtest::RecordedApp<>> app = std::make_shared<hxtest::RecordedApp<>>();

    void SetUp() override {
        dispatch::RunLoop::main();
        foundation::setHomeDirectory(home.path());
        security::Keychain::setDefaultPath(home / "keychain.json");
        foundation::UserDefaults::resetStandardUserDefaults();
        ASSERT_TRUE(service.start().ok());
        auto& web = HXWebClientOf(*app);
        web.endpoints = HXEndpoints::allAt(service.origin());
        web.cachesDirectory = (home / "Caches").string();
        app->setConnectionAvailable(true);
        app->setAccount(std::make_shared<HX_Account>());
        app->setCookieJar(std::make_shared<CustomCookieJar>());
    }
    void TearDown() override {
        clock->runUntilIdle();
        // Closes the connections the transport keeps, so the emulator stops at once.
        net::Transport::setShared(nullptr);
        // Kept preferences are written while their home is still there, not into a removed one.
        foundation::UserDefaults::resetStandardUserDefaults();
        foundation::setHomeDirectory({});
    }
    bool runUntil(const std::function<bool()>& p, double seconds = 20) { return clock->runUntil(p, seconds); }
    // How often the web client asked the shell for call.
    size_t asked(const char* call) { return app->shell().count(call); }
    size_t inFlight() { return HXWebClientOf(*app).requests.size(); }
    std::string page() { return service.origin() + "/voice/"; }
    std::shared_ptr<foundation::UserDefaults> prefs() { return foundation::UserDefaults::standardUserDefaults(); }
};
