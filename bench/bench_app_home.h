// An app home in a benchmark's scratch folder with a signed-in account and an empty store of its
// own, removed with the benchmark.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

#include "app/connect_app_delegate.h"
#include "model/account.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/files.h"

namespace hxbench {

struct SignedInHome {
    std::filesystem::path home;
    std::shared_ptr<HX_ConnectAppDelegate> app;
    SignedInHome(const std::filesystem::path& folder, const std::string& user) : home(folder / "home") {
        std::filesystem::create_directories(home);
        foundation::setHomeDirectory(home);
        app = std::make_shared<HX_ConnectAppDelegate>();
        auto account = std::make_shared<HX_Account>();
        account->setUsername(user);
        account->setAuthV2(std::string("AuthV2"));
        app->setAccount(account);
        app->setMessageParsingQueue(dispatch::Queue::serial("com.hxconnect.messageparser.queue"));
        (void)app->resetPersistentStore();
    }
    ~SignedInHome() {
        app.reset();
        std::error_code ec;
        std::filesystem::remove_all(home, ec);
    }
    SignedInHome(const SignedInHome&) = delete;
    SignedInHome& operator=(const SignedInHome&) = delete;
};

}  // namespace hxbench
