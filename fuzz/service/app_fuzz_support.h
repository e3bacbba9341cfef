// What the application-level fuzz targets share: one application object in a scratch home on a
// virtual clock, signed in, whose requests go to a transport that fails them as timed out
// (nothing leaves the process), and a way to let everything it started run to its end.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "app/connect_app_delegate.h"
#include "fuzz/scratch_dir.h"
#include "model/account.h"
#include "platform/dispatch/dispatch.h"
#include "platform/dispatch/run_loop.h"
#include "platform/foundation/files.h"
#include "platform/foundation/user_defaults.h"
#include "platform/net/event_loop.h"
#include "platform/net/scripted_transport.h"
#include "platform/security/keychain.h"
#include "service/message_list_receiver.h"
#include "service/request_machinery.h"

namespace fuzzsupport {

// The application object without an interface, whose views' message lists a target gives.
class FuzzedApp : public HX_ConnectAppDelegate {
public:
    std::map<int, std::shared_ptr<HXMessageListReceiver>> messageLists;
    std::shared_ptr<HXMessageListReceiver> messageListForViewIndex(int index) override {
        auto it = messageLists.find(index);
        return it == messageLists.end() ? HX_ConnectAppDelegate::messageListForViewIndex(index) : it->second;
    }
};

struct AppUnderFuzz {
    dispatch::ScopedVirtualClock clock{1'760'000'000.0};
    std::shared_ptr<net::ScriptedTransport> transport;
    std::shared_ptr<FuzzedApp> app;

    AppUnderFuzz() {
        dispatch::RunLoop::main();
        const auto home = scratchDirectory() / "home";
        foundation::setHomeDirectory(home);
        security::Keychain::setDefaultPath(scratchDirectory() / "keychain.json");
        foundation::UserDefaults::resetStandardUserDefaults();
        transport = net::ScriptedTransport::create(net::EventLoop::main());
        transport->setHandler([](const net::URLRequest&) { return net::ScriptedTransport::Reply::fail(-1001); });
        net::Transport::setShared(transport);
        app = std::make_shared<FuzzedApp>();
        HXWebClientOf(*app).endpoints = HXEndpoints::allAt("https://service.test");
        HXWebClientOf(*app).firstReachabilityHandled = true;
        app->setConnectionAvailable(true);
        auto account = std::make_shared<HX_Account>();
        account->setUsername("fuzz@example.test");
        account->setAuthV2(std::string("AUTH"));
        account->setOAuthDict(
            foundation::Dictionary{{"access_token", foundation::Value("TOKEN")},
                                   {"token_type", foundation::Value("Bearer")},
                                   {"expirationDate", foundation::Value(foundation::Date{clock->wallNow() + 1e9})}});
        app->setAccount(account);
    }
    // Runs what the input started to its end.
    void settle() {
        clock->runUntilIdle();
        app->cancelRequests([](const std::string&) { return true; });
        clock->runUntilIdle();
    }
};

}  // namespace fuzzsupport
