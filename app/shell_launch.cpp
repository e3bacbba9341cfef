// The application object's launch sequence and the small services it keeps for every screen.
#include <filesystem>
#include <functional>
#include <utility>

#include "app/connect_app_delegate.h"
#include "app/hxc_passcode_lock.h"
#include "app/review_request.h"
#include "model/account.h"
#include "platform/dispatch/dispatch.h"
#include "platform/dispatch/run_loop.h"
#include "platform/foundation/application.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/files.h"
#include "platform/foundation/user_defaults.h"
#include "platform/graphics/hxc_font.h"
#include "platform/services/device.h"
#include "platform/services/search_index.h"
#include "platform/toolkit/appearance.h"
#include "platform/toolkit/bars.h"
#include "platform/toolkit/controls.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/traits.h"
#include "service/custom_cookie_jar.h"
#include "service/request_machinery.h"

namespace {

foundation::Dictionary registeredDefaults(double now) {
    return foundation::Dictionary{
        {"username", ""},
        {"forwardingID", 0},
        {"tabBarIndex", 4},
        {"graphicalEmoticons", true},
        {"autoRefresh", true},
        {"newMessageAlert", false},
        {"skipDialpad", false},
        {"VMprefetch", false},
        {"useSpeaker", false},
        {"showNotesInMessageLists", false},
        {"shakeRefresh", false},
        {"OpenToFavorites", false},
        {"smsReturnKeySend", false},
        {"useTE", true},
        {"useQSLocation", false},
        {"badgeType", 2},
        {"showFullHistory", false},
        {"sendQSLocationChangeNotifications", false},
        {"showMessageCounts", true},
        {"useNativeDialerActions", false},
        {"firstLaunchDate", now},
        {"launchCount", 0},
        {"notificationTypes", 7},
    };
}

// Deletes the caches folder's entries whose names begin with "+", once per installation.
void cleanCachesOnce() {
    auto defaults = foundation::UserDefaults::standardUserDefaults();
    std::error_code ec;
    const auto caches = foundation::cachesDirectory();
    for (std::filesystem::directory_iterator it(caches, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->path().filename().string().starts_with("+")) {
            std::error_code ignored;
            std::filesystem::remove_all(it->path(), ignored);
        }
    }
    defaults->setBool(true, "CIcleaned");
}

dispatch::QueuePtr makeMessageParsingQueue() {
    return dispatch::Queue::serial("com.hxconnect.messageparser.queue",
                                   dispatch::Queue::global(dispatch::Priority::Utility));
}

// Whether the device can place phone calls: it opens "tel:" and has a carrier.
bool canPlaceCalls() {
    auto& phone = services::Telephony::shared();
    if (!phone.canOpenURL("tel:")) return false;
    auto carrier = phone.carrierName();
    return carrier && !carrier->empty();
}

void registerDefaultPreferences() {
    // Kept from the first launch on (registered alone it would be now at every launch).
    HXReviewRequest::noteFirstLaunch(dispatch::wallNow());
    foundation::UserDefaults::standardUserDefaults()->registerDefaults(registeredDefaults(dispatch::wallNow()));
}

void startCacheCleanUps() {
    if (!foundation::UserDefaults::standardUserDefaults()->boolForKey("CIcleaned"))
        dispatch::Queue::global(dispatch::Priority::Background)->async(cleanCachesOnce);
    // Temporaries of writers killed in an earlier run, in every folder of the home, not only in
    // those this run happens to write into.
    dispatch::Queue::global(dispatch::Priority::Background)->async([home = foundation::homeDirectory()] {
        foundation::files::removeStaleTemporariesBelow(home);
    });
}

// The app's look over the platform's defaults: taken by each view when it first comes into a window.
void applyLaunchAppearance() {
    using namespace toolkit;
    Appearance::of<NavigationBar>().set("tintColor", Color::systemBlue());
    if (Device::current().systemVersionAtLeast(13))
        Appearance::of<TextField, SearchBar>().set("backgroundColor", Color::systemGray5());
    Appearance::of<Switch>().set("onTintColor", Color::systemBlue().withAlphaComponent(0.8));
}

// The device form's interface; the tablet has no dial-pad view to come back to.
void setUpInterface(HX_ConnectAppDelegate& app) {
    app.setupInterface();
    auto defaults = foundation::UserDefaults::standardUserDefaults();
    if (app.iPad() && defaults->integerForKey("tabBarIndex") == 0) defaults->setInteger(4, "tabBarIndex");
}

// The stored view when an account is stored; otherwise settings, with the passcode off.
int chooseFirstView() {
    auto defaults = foundation::UserDefaults::standardUserDefaults();
    auto accounts = defaults->dictionaryForKey("accountInfo");
    if (accounts && !accounts->empty()) return static_cast<int>(defaults->integerForKey("tabBarIndex"));
    HXCPasscodeLock::sharedLock().setPasscodeRequired(false);
    return 4;
}

// Drops an entry of no name, forgets a stored user name that names no account, and picks the
// first account when none is named.
void repairAccountChoice() {
    auto defaults = foundation::UserDefaults::standardUserDefaults();
    auto accounts = defaults->dictionaryForKey("accountInfo").value_or(foundation::Dictionary{});
    if (accounts.remove(std::string())) (void)defaults->setObject(accounts, "accountInfo");
    auto username = defaults->stringForKey("username");
    if (username && !accounts.contains(*username)) {
        defaults->removeObjectForKey("username");
        username.reset();
    }
    if ((!username || username->empty()) && !accounts.empty())
        (void)defaults->setObject(accounts.keys().front().string(), "username");
}

void installShortcuts() {
    services::ShortcutItems::shared().setShortcutItems({
        {"com.hxconnect.shortcut_call", "Place Call", "phone"},
        {"com.hxconnect.shortcut_sms", "New SMS", "compose"},
    });
}

// A notification that only sets the badge to 0 makes the app appear in the system's notification
// settings; it goes once per installation.
void registerWithNotificationCenterOnce() {
    auto defaults = foundation::UserDefaults::standardUserDefaults();
    if (defaults->boolForKey("notificationCenterRegistration")) return;
    services::AppBadge::shared().setBadgeNumber(0);
    defaults->setBool(true, "notificationCenterRegistration");
}

// The message fonts follow the user's text size: a change empties their cache, so the next
// request builds them at the new size.
void observeContentSizeCategory(const void* owner) {
    auto& center = foundation::NotificationCenter::defaultCenter();
    center.removeObserver(owner, "UIContentSizeCategoryDidChangeNotification");
    graphics::HXCFont::setContentSizeCategory(toolkit::Device::current().contentSizeCategory());
    center.addObserver(owner, "UIContentSizeCategoryDidChangeNotification", [](const foundation::Notification&) {
        graphics::HXCFont::setContentSizeCategory(toolkit::Device::current().contentSizeCategory());
        graphics::HXCFont::clearFontCache();
    });
}

void followBackgroundRefreshStatus(HX_ConnectAppDelegate& app) {
    app.setBackgroundRefreshStatus();
    auto& center = foundation::NotificationCenter::defaultCenter();
    center.removeObserver(&app, services::kBackgroundRefreshStatusDidChangeNotification);
    center.addObserver(&app, services::kBackgroundRefreshStatusDidChangeNotification,
                       [&app](const foundation::Notification&) { app.setBackgroundRefreshStatus(); });
}

}  // namespace

bool HX_ConnectAppDelegate::applicationDidFinishLaunchingWithOptions(const foundation::Dictionary& options) {
    (void)options;
    launchSteps_.clear();
    // The steps in their order, each under the name launchSteps() reports. The telemetry SDK and
    // its crash service come first, so that a crash during the rest of the launch is caught.
    const std::pair<const char*, std::function<void()>> steps[] = {
        {"startTelemetry", [this] { startTelemetry(); }},
        {"messageParsingQueue",
         [this] {
             setMessageParsingQueue(makeMessageParsingQueue());
             setMocAccessCount(0);
         }},
        {"isPhone", [this] { setIsPhone(canPlaceCalls()); }},
        {"passcodeDefaults", [] { HXCPasscodeLock::sharedLock().setDefaultSettings(); }},
        {"registerDefaults", registerDefaultPreferences},
        {"cacheCleanUp", startCacheCleanUps},
        {"readMirrors", [this] { readPreferenceMirrors(); }},
        {"requestTable", [] {}},  // the request table and the per-account stores start empty
        {"appearance", applyLaunchAppearance},
        {"setupInterface", [this] { setUpInterface(*this); }},
        {"selectFirstView", [this] { selectViewForIndex(chooseFirstView()); }},
        {"lookupNumbers", [] {}},  // the number cache starts empty
        {"observeReachability", [this] { observeServiceReachability(); }},
        {"selectAccount", [this] { selectStoredAccount(); }},
        {"shortcuts", installShortcuts},
        {"notificationCenterRegistration", registerWithNotificationCenterOnce},
        {"observeLifeCycle", [this] { observeLifeCycle(); }},
        {"postDidFinishLaunching",
         [] { foundation::NotificationCenter::defaultCenter().post("kDidFinishLaunchingNotification"); }},
        {"isInBackground", [this] { setIsInBackground(foundation::Application::shared().isInBackground()); }},
        {"passcodeAppearance", [this] { screens().applyPasscodePadAppearance(); }},
        {"showPasscodeLockIfNeededForStartup", [this] { showPasscodeLockIfNeededForStartup(true); }},
        {"locationManager", [this] { makeLocationManager(); }},
        {"observeContentSize", [this] { observeContentSizeCategory(this); }},
        {"backgroundRefreshStatus", [this] { followBackgroundRefreshStatus(*this); }},
    };
    for (const auto& [name, run] : steps) {
        launchStep(name);
        run();
    }
    return true;
}

void HX_ConnectAppDelegate::readPreferenceMirrors() {
    auto defaults = foundation::UserDefaults::standardUserDefaults();
    setGraphicalEmoticons(defaults->boolForKey("graphicalEmoticons"));
    setAutoRefresh(defaults->boolForKey("autoRefresh"));
    setNewMessageAlert(defaults->boolForKey("newMessageAlert"));
    setShowNotesInMessageLists(defaults->boolForKey("showNotesInMessageLists"));
}

void HX_ConnectAppDelegate::observeServiceReachability() {
    serviceReach_ = Reachability::reachabilityWithHostName(serviceHost());
    // Without a passcode the notifier starts now; with one, when the unlocked app becomes active, so
    // nothing is loaded before the unlock.
    if (!HXCPasscodeLock::sharedLock().passcodeRequired()) return observeWhileActive();
    auto& center = foundation::NotificationCenter::defaultCenter();
    center.removeObserver(this, "kNetworkReachabilityChangedNotification");
    center.addObserver(this, "kNetworkReachabilityChangedNotification", [this](const foundation::Notification& n) {
        auto reach = std::static_pointer_cast<Reachability>(n.object);
        reachabilityChanged(reach ? reach->currentReachabilityStatus() : 0);
    });
}

void HX_ConnectAppDelegate::selectStoredAccount() {
    repairAccountChoice();
    // Behind the lock nothing of the account goes out before the PIN, whether its token is still
    // valid (the lists and settings would go at once) or must be asked for: the unlock lets the
    // first load go.
    webClient().heldUntilUnlock = HXCPasscodeLock::sharedLock().passcodeRequired();
    selectAccountForUserName(foundation::UserDefaults::standardUserDefaults()->stringForKey("username").value_or(""));
}

void HX_ConnectAppDelegate::observeLifeCycle() {
    auto& center = foundation::NotificationCenter::defaultCenter();
    center.removeObserver(this, foundation::kApplicationWillResignActiveNotification);
    center.addObserver(this, foundation::kApplicationWillResignActiveNotification,
                       [this](const foundation::Notification&) { resignActive(); });
    center.removeObserver(this, "kDidFinishLaunchingNotification");
    center.addObserver(this, "kDidFinishLaunchingNotification", [this](const foundation::Notification&) {
        foundation::NotificationCenter::defaultCenter().removeObserver(this, "kDidFinishLaunchingNotification");
        // The contacts: the cache file at once, the full load shortly after start-up. The step is
        // queued weakly: it keeps no application object alive until it runs.
        dispatch::Queue::main()->async([weak = weakSelf()] {
            if (auto self = weak.lock()) HXLoadContactsAtLaunch(*self);
        });
        if (!account() || account()->username().empty()) return;
        dispatch::RunLoop::main().perform(performTarget(), "preload", foundation::Value(), 0,
                                          [this](const foundation::Value&) { preload(); });
    });
    if (services::SearchableIndex::isIndexingAvailable()) {
        center.removeObserver(this, "HXCPasscodeLockSpotlightPrefeChangedNotification");
        center.addObserver(this, "HXCPasscodeLockSpotlightPrefeChangedNotification",
                           [this](const foundation::Notification&) { indexMessages(); });
    }
}

const std::string& HX_ConnectAppDelegate::versionString() {
    if (!versionString_) {
        const auto& bundle = foundation::Bundle::main();
        versionString_ = bundle.objectForInfoDictionaryKey("CFBundleShortVersionString").stringValue() + " (" +
                         bundle.objectForInfoDictionaryKey("CFBundleVersion").stringValue() + ")";
    }
    return *versionString_;
}

std::vector<int> HX_ConnectAppDelegate::typesForMask(uint64_t mask) {
    std::vector<int> types;
    for (int bit = 0; bit < 64; ++bit)
        if (mask & (uint64_t{1} << bit)) types.push_back(bit);
    return types;
}

std::string HX_ConnectAppDelegate::serviceHost() {
    // The origin is "scheme://host[:port]".
    std::string host = webClient().endpoints.service;
    if (auto scheme = host.find("://"); scheme != std::string::npos) host.erase(0, scheme + 3);
    return host.substr(0, host.find_first_of(":/"));
}
