#include "tests/support/screen_fixture.h"

#include <atomic>
#include <chrono>
#include <thread>

#include "app/hxc_passcode_lock.h"
#include "platform/services/local_authentication.h"

#include "model/account.h"
#include "model/application_model.h"
#include "model/cache.h"
#include "model/keychain_utils.h"
#include "platform/foundation/files.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/user_defaults.h"
#include "platform/net/cookie_storage.h"
#include "platform/net/transport.h"
#include "platform/security/keychain.h"
#include "platform/services/contacts.h"
#include "platform/services/device.h"
#include "platform/toolkit/renderer.h"
#include "service/custom_cookie_jar.h"
#include "service/request_machinery.h"
#include "tests/support/phone_fonts.h"

namespace hxtest {

void useAppHome(const std::filesystem::path& home) {
    foundation::setHomeDirectory(home);
    security::Keychain::setDefaultPath(home / "keychain.json");
    foundation::UserDefaults::resetStandardUserDefaults();
    services::resetDeviceServices();
    // The contacts are the home's: a new home starts with its own file's, not those an earlier
    // test added to the process's store, and with the user's answers to the contacts prompt
    // still to come.
    services::ContactStore::setAuthorizationStatus(services::AuthorizationStatus::NotDetermined);
    services::ContactStore::setAnswerToAccessRequest(true);
    services::ContactStore::setDefaultSortOrder(services::ContactSortOrder::GivenName);
    auto contacts = services::ContactStore::shared();
    contacts->removeAllContacts();
    if (foundation::files::exists(services::ContactStore::contactsFilePath()))
        (void)contacts->loadVCardFile(services::ContactStore::contactsFilePath());
    // The process's picture cache (the one a web client without a cache of its own uses) keeps
    // nothing an earlier test stored under a medium's id.
    HXCCache::sharedCache()->removeAllObjects();
    // The passcode settings are kept per process after the first read: a new home reads them anew.
    HXCPasscodeLock::sharedLock().forgetKeptValues();
    services::Biometrics::shared().reset();
    // The message fonts are the process's: a tablet's launch leaves them larger, and a test's text
    // size stays with them. A new home starts with a phone's at the standard size, as the launch
    // of a phone sets them (a screen made without a launch would otherwise take the last test's).
    resetToPhoneMessageFonts();
}

void leaveAppHome() {
    // Kept preferences are written now, while their home is still there: written at the next
    // home's start, or at the process's end, they would make the removed folder again.
    foundation::UserDefaults::resetStandardUserDefaults();
    foundation::setHomeDirectory({});
}

void postFromAnotherThread(const std::string& name, const std::function<void()>& meanwhile) {
    // Relaxed on purpose: neither flag may order the main thread's reads and the poster's work.
    std::atomic<bool> read{false}, posted{false};
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::thread poster([&] {
        while (!read.load(std::memory_order_relaxed) && std::chrono::steady_clock::now() < giveUp)
            std::this_thread::yield();
        foundation::NotificationCenter::defaultCenter().post(name);
        posted.store(true, std::memory_order_relaxed);
    });
    do {
        meanwhile();
        read.store(true, std::memory_order_relaxed);
    } while (!posted.load(std::memory_order_relaxed) && std::chrono::steady_clock::now() < giveUp);
    for (int i = 0; i < 3; ++i) meanwhile();
    poster.join();
}

namespace {
// A device whose network no one asks about: a monitor that starts hears nothing until a test
// changes the flags.
class UnannouncedReachability : public net::FakeReachabilityBackend {
public:
    bool reportsWhenWatched() const override { return false; }
};
}  // namespace

toolkit::ScreenProfile profileOf(DeviceForm form) {
    switch (form) {
        case DeviceForm::phoneX:
            return toolkit::ScreenProfile::iPhoneX();
        case DeviceForm::tablet:
            return toolkit::ScreenProfile::iPad();
        case DeviceForm::phone4:
            return toolkit::ScreenProfile::iPhone4();
        case DeviceForm::phoneSE:
            return toolkit::ScreenProfile::iPhoneSE();
        case DeviceForm::phone:
            break;
    }
    return toolkit::ScreenProfile::iPhone8();
}

ScreenFixtureBase::ScreenFixtureBase(const ScreenSetup& s)
    : setup(s),
      service(s.emulator ? std::make_unique<emulator::Emulator>(emulator::sampleAccount()) : nullptr),
      harness(profileOf(s.form), s.systemVersion) {}

ScreenFixtureBase::~ScreenFixtureBase() {
    // The service's handlers read the process clock, which is the harness's until the harness
    // goes: its threads are joined first, whatever the test left running.
    if (service) service->stop();
}

void ScreenFixtureBase::SetUp() {
    if (setup.fonts) fonts = std::make_unique<UsingFonts>();
    useAppHome(home.path());
    // The host's own network, and its changes, must not reach the app: every host is reachable
    // unless the test says otherwise, on a machine with only loopback as well. With the service the
    // app hears so as its monitor starts, as from the platform; without one, only of the changes a
    // test makes (a first report would start loads that nothing answers).
    reachability =
        service ? std::make_shared<net::FakeReachabilityBackend>() : std::make_shared<UnannouncedReachability>();
    net::ReachabilityBackend::setShared(reachability);
    if (service) {
        net::HTTPCookieStorage::sharedHTTPCookieStorage().removeAllCookies();
        ASSERT_TRUE(service->start().ok());
    } else {
        // The service's real host names must never be resolved or reached from a test.
        transport = net::ScriptedTransport::create(net::EventLoop::main());
        transport->setHandler([](const net::URLRequest&) { return net::ScriptedTransport::Reply::never(); });
        net::Transport::setShared(transport);
    }
    if (setup.signedIn) {
        const std::string user = service ? serviceUser() : kSignedInUser;
        storeAccount(user, kSignedInNumber);
        ASSERT_TRUE(
            foundation::UserDefaults::standardUserDefaults()->setObject(foundation::Value(user), "username").ok());
        // What a sign-in leaves: the session token in the keychain (an account without one is
        // asked to sign in again) and the session cookie in the account's jar (the service's
        // own, or one that no service is asked about).
        const std::string session = service ? service->sessionValue() : "no-service-" + user;
        ASSERT_TRUE(
            HXCKeychainUtils::storeUsername(user, "AuthV2-" + session, std::string("HXC_AuthV2"), true, nullptr));
        CustomCookieJar jar({net::Cookie{.name = "SID", .value = session, .domain = "127.0.0.1"}});
        auto archive = jar.archivedCookies();
        ASSERT_TRUE(archive.ok());
        ASSERT_TRUE(foundation::UserDefaults::standardUserDefaults()
                        ->setObject(foundation::Dictionary{{user, foundation::Value(archive.value())}}, "cookies")
                        .ok());
    }
    application_ = makeApplication();
    if (setup.sharedDelegate) HXApplicationModel::setSharedDelegate(application_);
    if (service) {
        HXWebClientOf(*application_).endpoints = HXEndpoints::allAt(service->origin());
    }
    application_->setWindow(&harness.window());
    if (setup.screens) application_->setScreens(setup.screens);
}

void ScreenFixtureBase::TearDown() {
    harness.clock().runUntilIdle();
    if (setup.sharedDelegate) HXApplicationModel::setSharedDelegate(nullptr);
    // A request the scripted transport never answers keeps its connection, and through it the
    // application object, alive: end them with the test.
    application_->cancelRequests([](const std::string&) { return true; });
    harness.clock().runUntilIdle();
    application_.reset();
    dropApplication();
    if (service) {
        std::weak_ptr<net::Transport> transport = net::Transport::shared();
        net::HTTPCookieStorage::sharedHTTPCookieStorage().removeAllCookies();
        net::Transport::setShared(nullptr);
        // A load the app started last lets go of the transport when it ends; its connections
        // must close before the service stops, or the service waits for them to time out.
        harness.clock().runUntil([&] { return transport.expired(); }, 2);
        service->stop();
    } else {
        net::Transport::setShared(nullptr);
        transport.reset();
    }
    net::ReachabilityBackend::setShared(nullptr);
    toolkit::Device::current().reset();
    leaveAppHome();
}

bool ScreenFixtureBase::launch() {
    if (!application_->applicationDidFinishLaunchingWithOptions()) return false;
    // The service host's monitor reports as it starts, at the loop's next turn (with the service:
    // without it, only the changes a test makes reach the app).
    return true;
}

void ScreenFixtureBase::storeAccount(const std::string& user, const std::string& number) {
    HX_Account account;
    account.setUsername(user);
    if (!number.empty()) account.setHXnumber(number);
    auto archive = account.archived();
    ASSERT_TRUE(archive.ok());
    auto prefs = foundation::UserDefaults::standardUserDefaults();
    ASSERT_TRUE(prefs->setObject(foundation::Dictionary{{user, archive.value()}}, "accountInfo").ok());
}

std::string ScreenFixtureBase::serviceUser() {
    return service ? service->withAccount([](emulator::Account& a) { return a.username; }) : std::string();
}

void ScreenFixtureBase::expectOutline(const std::string& name, const toolkit::OutlineOptions& options) {
    hxtest::expectOutline(harness, name, options);
}

void ScreenFixtureBase::expectSnapshot(const std::string& name, const Snapshot& options) {
    if (!options.lightAndDark) {
        hxtest::expectSnapshot(harness.window(), name, options.scale);
        return;
    }
    const toolkit::InterfaceStyle before = harness.window().windowTraits().style;
    expectSnapshotInLightAndDark(
        name,
        [&](toolkit::InterfaceStyle style) -> toolkit::View* {
            harness.setInterfaceStyle(style);
            harness.settle();
            return &harness.window();
        },
        options.scale);
    harness.setInterfaceStyle(before);
    harness.settle();
}

}  // namespace hxtest
