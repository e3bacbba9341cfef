// A signed-in application object whose every host role is the loopback emulator, with the
// shell's side recorded: alerts asked for, sign-ins, unread counts. Shared by the web client's
// loopback tests.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/connect_app_delegate.h"
#include "emulator/emulator.h"
#include "model/account.h"
#include "model/phone.h"
#include "platform/dispatch/dispatch.h"
#include "platform/dispatch/run_loop.h"
#include "platform/foundation/application.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/user_defaults.h"
#include "platform/net/cookie.h"
#include "platform/net/transport.h"
#include "platform/services/url_opener.h"
#include "service/custom_cookie_jar.h"
#include "service/request_machinery.h"
#include "tests/support/shell_recorder.h"
#include "tests/support/signed_in_account.h"
#include "tests/support/test_support.h"

namespace hxtest {

// protoc --decode of bytes against the checked-in schema ("" when protoc is missing).
inline std::string protocDecode(const std::string& type, const std::string& bytes) {
    TempDir dir;
    auto path = dir / "msg.bin";
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    std::string out;
    runCommand("protoc --decode=HXConnect." + type + " -I " + (sourceDir() / "service/proto").string() +
                   " hxconnect.proto < " + path.string() + " 2>/dev/null",
               &out);
    return out;
}

// How often each notification was posted; notifications come from any thread.
class NotificationCounts {
public:
    void add(const std::string& name) {
        std::lock_guard lock(mutex_);
        ++counts_[name];
    }
    int operator[](const std::string& name) const {
        std::lock_guard lock(mutex_);
        auto it = counts_.find(name);
        return it == counts_.end() ? 0 : it->second;
    }

private:
    mutable std::mutex mutex_;
    std::map<std::string, int> counts_;
};

struct WebFixture : ::testing::Test {
    dispatch::ScopedVirtualClock clock{1'760'000'100.0};
    std::unique_ptr<emulator::Emulator> service;
    std::shared_ptr<hxtest::RecordedApp<>> app = std::make_shared<hxtest::RecordedApp<>>();
    std::string token;
    NotificationCounts posted;
    size_t alertMark = 0;  // alerts before this index are an earlier step's

    void startService(emulator::Account account = emulator::sampleAccount()) {
        dispatch::RunLoop::main();
        services::URLOpener::setShared(nullptr);
        service = std::make_unique<emulator::Emulator>(std::move(account));
        ASSERT_TRUE(service->start().ok());
        token = service->issueAccessToken();
        auto& web = HXWebClientOf(*app);
        web.endpoints = HXEndpoints::allAt(service->origin());
        auto a = std::make_shared<HX_Account>();
        a->setUsername("web-" + std::to_string(::getpid()) + "@example.test");
        a->setAuthV2(std::string("AuthV2"));
        app->setAccount(a);
        setTokenAvailable(true);
        app->setConnectionAvailable(true);
        auto cookie = net::Cookie::parseSetCookie("SID=" + service->sessionValue() + "; Path=/",
                                                  service->origin() + "/", dispatch::wallNow());
        ASSERT_TRUE(cookie.ok());
        app->setCookieJar(std::make_shared<CustomCookieJar>(std::vector<net::Cookie>{cookie.value()}));
        foundation::NotificationCenter::defaultCenter().addObserver(
            this, "", [this](const foundation::Notification& n) { posted.add(n.name); });
    }
    std::vector<HXAlert> alerts() { return app->shell().alerts(); }
    // A valid access token in the account, or none, with every request for a new one left
    // unanswered (so nothing waiting for a token goes out).
    void setTokenAvailable(bool available) {
        if (available) {
            // A token request left waiting may answer now.
            service->clearScripts();
            service->releaseHeld();
            app->account()->setOAuthDict(hxtest::bearerToken(token, dispatch::wallNow() + 3600));
        } else {
            app->account()->setOAuthDict(std::nullopt);
            service->inject(emulator::Fault::Slow, "/o/oauth2/tokenrpc", -1);
        }
    }
    // Requests the client made for a token.
    size_t tokenRequests() { return requestsTo("/o/oauth2/tokenrpc").size(); }
    // Sign-ins asked for (the panel shown).
    size_t logins() { return app->shell().count("displayLogin"); }
    void TearDown() override {
        foundation::NotificationCenter::defaultCenter().removeObserver(this);
        clock->runUntilIdle();
        net::Transport::setShared(nullptr);
        services::URLOpener::setShared(nullptr);
    }
    // Adds a linked phone (verified unless said) to the app's account.
    HX_PhonePtr addPhone(int64_t id, const std::string& number, bool voip = false) {
        auto p = std::make_shared<HX_Phone>();
        p->setPhoneId(id);
        p->setNumber(number);
        p->setFormattedNumber(voip ? "VOIP" : number);
        p->setName(voip ? "Tablet" : "Phone " + std::to_string(id));
        p->setVerified(true);
        p->setIsVOIP(voip);
        app->account()->phones()[id] = p;
        return p;
    }
    size_t inFlight() { return HXWebClientOf(*app).requests.size(); }
    bool inTable(const std::string& tag) { return app->requestInFlight(tag); }
    bool runUntil(const std::function<bool()>& p, double seconds = 30) { return clock->runUntil(p, seconds); }
    std::vector<emulator::RecordedRequest> requestsTo(const std::string& path) {
        std::vector<emulator::RecordedRequest> out;
        for (auto& r : service->requests())
            if (r.path == path) out.push_back(r);
        return out;
    }
    // Presses the button of this title of the last alert presented.
    void press(const std::string& title) { EXPECT_TRUE(app->shell().tap(title)) << "no button " << title; }
};

}  // namespace hxtest
