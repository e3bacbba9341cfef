// One reply body read the way each reply of the settings and token hosts is: the account
// settings mapping, the listSessions and issueToken replies, the unread counts. No request leaves
// the process (the application object reports no connection). The mapping keeps every phone
// under its own id, and a reply that holds no account changes no phone.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "app/connect_app_delegate.h"
#include "model/account.h"
#include "platform/foundation/files.h"
#include "platform/foundation/user_defaults.h"
#include "platform/security/keychain.h"
#include "service/request_machinery.h"

namespace {

// The scratch folder goes when the process ends (a replay in the normal build leaves nothing).
char gScratch[64];

void prepareScratchHome() {
    char pattern[] = "/tmp/hx_fuzz_account_replies.XXXXXX";
    const char* home = ::mkdtemp(pattern);
    if (!home) std::abort();
    std::snprintf(gScratch, sizeof gScratch, "%s", home);
    std::atexit([] {
        std::error_code ec;
        std::filesystem::remove_all(gScratch, ec);
    });
    foundation::setHomeDirectory(std::filesystem::path(home) / "home");
    security::Keychain::setDefaultPath(std::filesystem::path(home) / "keychain.json");
    foundation::UserDefaults::resetStandardUserDefaults();
}

}  // namespace

// Counts the account-preference writes the application object tells its shell observer of.
class PrefsWrites : public HXShellObserver {
public:
    void shellCall(const std::string& call) override { writes += call == "updateAccountPrefs"; }
    void shellAlert(const HXAlert&) override {}
    int writes = 0;
};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = (prepareScratchHome(), true);
    (void)ready;
    auto app = std::make_shared<HX_ConnectAppDelegate>();
    auto prefsWrites = std::make_shared<PrefsWrites>();
    app->setShellObserver(prefsWrites);
    HXWebClientOf(*app).firstReachabilityHandled = true;
    app->setConnectionAvailable(false);
    auto account = std::make_shared<HX_Account>();
    account->setUsername("fuzz@example.test");
    account->setAuthV2(std::string("AUTH"));
    app->setAccount(account);

    const foundation::Data bytes(data, data + size);
    HXRoutedReply reply;
    reply.text.assign(reinterpret_cast<const char*>(data), size);
    reply.data = std::make_shared<foundation::Data>(bytes);
    const size_t before = account->phones().size();
    app->getPhoneSettingsFromData(bytes);
    const bool mapped = prefsWrites->writes == 1;
    if (!mapped && account->phones().size() != before) std::abort();
    for (const auto& [id, phone] : account->phones())
        if (!phone || phone->phoneId() != id) std::abort();
    app->listSessionsReply(reply);
    app->issueTokenReply(reply);
    app->threadingInfoReply(reply);
    if (const auto& dict = account->oAuthDict()) {
        // A kept token has a date, never the reply's own lifetime.
        if (dict->contains("expires_in")) std::abort();
    }
    return 0;
}
