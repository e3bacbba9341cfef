// The phone form of the application object with the screen library, every host role served by
// the loopback emulator, and helpers to reach the sign-in panel and drive its page.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/connect_app_delegate_iphone.h"
#include "emulator/emulator.h"
#include "model/account.h"
#include "platform/foundation/files.h"
#include "platform/foundation/json.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/user_defaults.h"
#include "platform/net/cookie_storage.h"
#include "platform/net/reachability.h"
#include "platform/net/transport.h"
#include "platform/security/keychain.h"
#include "platform/services/device.h"
#include "platform/toolkit/controls.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/testing/harness.h"
#include "service/custom_cookie_jar.h"
#include "service/request_machinery.h"
#include "tests/support/test_support.h"
#include "ui/shell/ui_screens.h"
#include "ui/signin/login_panel.h"

namespace hxtest {

struct SignInFixture : ::testing::Test {
    explicit SignInFixture(const toolkit::ScreenProfile& profile = toolkit::ScreenProfile::iPhone8())
        : harness(profile) {}

    // The service outlives the window: connections the page's loads left open close first.
    emulator::Emulator service{emulator::sampleAccount()};
    toolkit::testing::Harness harness;
    hxtest::TempDir home;
    std::shared_ptr<HX_ConnectAppDelegate_iPhone> app;
    std::vector<std::string> notifications;
    std::shared_ptr<net::FakeReachabilityBackend> reachability = std::make_shared<net::FakeReachabilityBackend>();

    void SetUp() override {
        foundation::setHomeDirectory(home.path());
        security::Keychain::setDefaultPath(home / "keychain.json");
        foundation::UserDefaults::resetStandardUserDefaults();
        services::resetDeviceServices();
        net::HTTPCookieStorage::sharedHTTPCookieStorage().removeAllCookies();
        // The host's own network changes must not reach the app in the middle of a sign-in.
        net::ReachabilityBackend::setShared(reachability);
        ASSERT_TRUE(service.start().ok());
        app = std::make_shared<HX_ConnectAppDelegate_iPhone>();
        HXApplicationModel::setSharedDelegate(app);
        app->webClient().endpoints = HXEndpoints::allAt(service.origin());
        app->setWindow(&harness.window());
        app->setScreens(std::make_shared<HXUIScreens>());
        foundation::NotificationCenter::defaultCenter().addObserver(
            this, "", [this](const foundation::Notification& n) { notifications.push_back(n.name); });
    }
    void TearDown() override {
        foundation::NotificationCenter::defaultCenter().removeObserver(this);
        harness.clock().runUntilIdle();
        HXApplicationModel::setSharedDelegate(nullptr);
        app.reset();
        std::weak_ptr<net::Transport> transport = net::Transport::shared();
        net::HTTPCookieStorage::sharedHTTPCookieStorage().removeAllCookies();
        net::Transport::setShared(nullptr);
        net::ReachabilityBackend::setShared(nullptr);
        // A load the app started last lets go of the transport when it ends; its connections
        // must close before the service stops, or the service waits for them to time out.
        harness.clock().runUntil([&] { return transport.expired(); }, 2);
    }

    // The launch, then the service host's first report (reachable), as the platform gives it.
    bool launch() {
        if (!app->applicationDidFinishLaunchingWithOptions()) return false;
        app->reachabilityChanged(1);
        return true;
    }
    std::string user() {
        return service.withAccount([](emulator::Account& a) { return a.username; });
    }
    VC_LoginPanel* panel() {
        auto* presented = app->tabBarController()->presentedViewController();
        auto* nav = dynamic_cast<toolkit::NavigationController*>(presented);
        if (!nav || nav->viewControllers().empty()) return nullptr;
        return dynamic_cast<VC_LoginPanel*>(nav->viewControllers().front().get());
    }
    // The panel is up and shows a page whose after-load scripts have run.
    bool waitForPage(const std::string& path = "/signin/identify") {
        const bool ok = harness.clock().runUntil(
            [&] {
                auto* p = panel();
                return p && p->webView() && p->webView()->document() && !p->webView()->isLoading() &&
                       p->webView()->url().find(path) != std::string::npos;
            },
            10);
        harness.settle();
        return ok;
    }
    toolkit::TextField* field(const std::string& identifier) {
        for (auto* v : harness.findAll("TextField"))
            if (v->accessibility().identifier == identifier) return static_cast<toolkit::TextField*>(v);
        return nullptr;
    }
    // Types name into the page's account field and taps the page's submit button.
    void typeAndSubmit(const std::string& fieldId, const std::string& name) {
        auto* f = field(fieldId);
        ASSERT_NE(f, nullptr) << harness.outline();
        ASSERT_TRUE(harness.tap(*f));
        ASSERT_TRUE(harness.typeText(name));
        auto* next = harness.find("Next");
        ASSERT_NE(next, nullptr) << harness.outline();
        ASSERT_TRUE(harness.tap(*next));
    }
    std::vector<emulator::RecordedRequest> requestsTo(const std::string& path) {
        std::vector<emulator::RecordedRequest> out;
        for (auto& r : service.requests())
            if (r.path == path) out.push_back(r);
        return out;
    }
    size_t requestsBelow(const std::string& prefix) {
        size_t n = 0;
        for (auto& r : service.requests()) n += r.path.starts_with(prefix);
        return n;
    }
    // What the service was asked and what the shell was asked, for a failure's message.
    std::string trace() {
        std::string t = "requests:\n";
        for (auto& r : service.requests())
            t += "  " + r.method + " " + r.target.substr(0, 80) + " [" + r.header("Cookie").value_or("") + "]\n";
        t += "virtual time " + std::to_string(harness.clock().now()) + "\n";
        if (app->account() && app->account()->oAuthDict())
            t += "oAuth " + foundation::toJSON(foundation::Value(*app->account()->oAuthDict())).valueOr("?") + "\n";
        t += "shell:\n";
        for (auto& c : app->shell().calls()) t += "  " + c + "\n";
        return t;
    }
    void storeAccount(const std::string& name) {
        HX_Account account;
        account.setUsername(name);
        auto archive = account.archived();
        ASSERT_TRUE(archive.ok());
        ASSERT_TRUE(foundation::UserDefaults::standardUserDefaults()
                        ->setObject(foundation::Dictionary{{name, archive.value()}}, "accountInfo")
                        .ok());
    }
    size_t index(const std::string& name, size_t from = 0) {
        for (size_t i = from; i < notifications.size(); ++i)
            if (notifications[i] == name) return i;
        return notifications.size();
    }
};

}  // namespace hxtest
