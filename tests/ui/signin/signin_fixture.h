// The phone form of the application object with the screen library, every host role served by
// the loopback emulator (the screen fixture), and helpers to reach the sign-in panel and drive
// its page.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>
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
#include "tests/support/screen_fixture.h"
#include "tests/support/shell_recorder.h"
#include "tests/support/test_support.h"
#include "ui/shell/ui_screens.h"
#include "ui/signin/login_panel.h"

namespace hxtest {

struct SignInFixture : ScreenFixture<hxtest::RecordedApp<HX_ConnectAppDelegate_iPhone>> {
    explicit SignInFixture(DeviceForm form = DeviceForm::phone)
        : ScreenFixture(
              {.form = form, .screens = std::make_shared<HXUIScreens>(), .emulator = true, .sharedDelegate = true}) {}

    // Every notification's name in posting order. Some are posted from background queues (the
    // store's saves), so the list is locked.
    std::mutex notificationsMutex;
    std::vector<std::string> notifications;

    void SetUp() override {
        ScreenFixture::SetUp();
        foundation::NotificationCenter::defaultCenter().addObserver(this, "",
                                                                    [this](const foundation::Notification& n) {
                                                                        std::lock_guard lock(notificationsMutex);
                                                                        notifications.push_back(n.name);
                                                                    });
    }
    size_t notificationCount() {
        std::lock_guard lock(notificationsMutex);
        return notifications.size();
    }
    void TearDown() override {
        foundation::NotificationCenter::defaultCenter().removeObserver(this);
        ScreenFixture::TearDown();
    }
    std::string user() { return serviceUser(); }
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
        for (auto& r : service->requests())
            if (r.path == path) out.push_back(r);
        return out;
    }
    size_t requestsBelow(const std::string& prefix) {
        size_t n = 0;
        for (auto& r : service->requests()) n += r.path.starts_with(prefix);
        return n;
    }
    // What the service was asked and what the shell was asked, for a failure's message.
    std::string trace() {
        std::string t = "requests:\n";
        for (auto& r : service->requests())
            t += "  " + r.method + " " + r.target.substr(0, 80) + " [" + r.header("Cookie").value_or("") + "]\n";
        t += "virtual time " + std::to_string(harness.clock().now()) + "\n";
        if (app->account() && app->account()->oAuthDict())
            t += "oAuth " + foundation::toJSON(foundation::Value(*app->account()->oAuthDict())).valueOr("?") + "\n";
        t += "shell:\n";
        for (auto& c : app->shell().calls()) t += "  " + c + "\n";
        return t;
    }
    size_t index(const std::string& name, size_t from = 0) {
        std::lock_guard lock(notificationsMutex);
        for (size_t i = from; i < notifications.size(); ++i)
            if (notifications[i] == name) return i;
        return notifications.size();
    }
};

}  // namespace hxtest
