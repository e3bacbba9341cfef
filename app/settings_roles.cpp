// The settings screen's role (app/shell_roles.h): the service settings' changes, the application's
// preferences and the caches.
#include <filesystem>

#include "app/connect_app_delegate.h"
#include "app/screens.h"
#include "app/shell_roles.h"
#include "model/account.h"
#include "model/cache.h"
#include "model/phone_extensions.h"
#include "model/quick_setting.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/user_defaults.h"
#include "platform/services/device.h"
#include "platform/services/search_index.h"
#include "platform/store/fetched_results_controller.h"
#include "service/calls.h"
#include "service/custom_cookie_jar.h"

namespace {

std::shared_ptr<HXCalls> callsOf(HX_ConnectAppDelegate& app) {
    auto self = app.weakWebClient().lock();
    return self ? HXCalls::of(self) : nullptr;
}

}  // namespace

std::shared_ptr<HX_Account> HXAppAccountSettingsRole::account() const { return app_.account(); }

bool HXAppAccountSettingsRole::connectionAvailable() const { return app_.connectionAvailable(); }

bool HXAppAccountSettingsRole::isIdle() { return app_.isIdle(); }

bool HXAppAccountSettingsRole::canChangeCallback() {
    auto calls = callsOf(app_);
    return calls && calls->canChangeCallback();
}

bool HXAppAccountSettingsRole::canPlaceCalls() const { return app_.isPhone(); }

std::string HXAppAccountSettingsRole::forwardingNumberControllerTitle() {
    auto calls = callsOf(app_);
    return calls ? calls->forwardingNumberControllerTitle() : std::string();
}

bool HXAppAccountSettingsRole::isNewForwardingPhoneID(int64_t phoneID) {
    auto calls = callsOf(app_);
    return calls && calls->isNewForwardingPhoneID(phoneID);
}

std::shared_ptr<HX_QuickSetting> HXAppAccountSettingsRole::currentQuickSetting() {
    auto account = app_.account();
    if (!account) return nullptr;
    return account->quickSetting(app_, *foundation::UserDefaults::standardUserDefaults());
}

bool HXAppAccountSettingsRole::canMonitorRegions() {
    return services::LocationServices::shared().isRegionMonitoringAvailable();
}

void HXAppAccountSettingsRole::presentAlert(const std::shared_ptr<toolkit::AlertController>& alert,
                                            toolkit::ViewController* from) {
    app_.presentAlert(alert, from);
}

void HXAppAccountSettingsRole::removeLoadingOverlay() {
    if (app_.loadingOverlayShown()) app_.removeLoadingOverlay();
}

void HXAppAccountSettingsRole::changeServiceSetting(HXServiceSetting setting, bool value,
                                                    HXSettingsCompletion completion) {
    HXChangeServiceSetting(app_, setting, value, std::move(completion));
}

void HXAppAccountSettingsRole::changeVMGreeting(const std::string& greetingId, HXSettingsCompletion completion) {
    HXChangeVMGreeting(app_, greetingId, std::move(completion));
}

void HXAppAccountSettingsRole::changeForwarding(long index, bool status, HXSettingsCompletion completion) {
    HXChangeForwarding(app_, index, status, std::move(completion));
}

bool HXAppAccountSettingsRole::preference(Preference preference) const {
    switch (preference) {
        case Preference::AutoRefresh:
            return app_.autoRefresh();
        case Preference::NewMessageAlert:
            return app_.newMessageAlert();
        case Preference::GraphicalEmoticons:
            return app_.graphicalEmoticons();
        case Preference::ShowNotesInMessageLists:
            return app_.showNotesInMessageLists();
    }
    return false;
}

void HXAppAccountSettingsRole::setPreference(Preference preference, bool on) {
    switch (preference) {
        case Preference::AutoRefresh:
            app_.setAutoRefresh(on);
            if (on)
                app_.loadUnreadMessages();
            else
                dispatch::RunLoop::main().cancelPerform(&app_, "loadUnreadMessages", foundation::Value());
            app_.setBackgroundRefreshStatus();
            break;
        case Preference::NewMessageAlert:
            app_.setNewMessageAlert(on);
            break;
        case Preference::GraphicalEmoticons:
            app_.setGraphicalEmoticons(on);
            break;
        case Preference::ShowNotesInMessageLists:
            app_.setShowNotesInMessageLists(on);
            break;
    }
}

void HXAppAccountSettingsRole::updateUnreadCounts() { app_.updateUnreadCounts(); }

void HXAppAccountSettingsRole::updateAccountPrefs() { app_.updateAccountPrefs(); }

void HXAppAccountSettingsRole::clearMessageCache() {
    store::FetchedResultsController::deleteCacheWithName(std::nullopt);
    foundation::NotificationCenter::defaultCenter().post("kLogoutNotification");
    (void)app_.resetPersistentStore();
    auto account = app_.account();
    const std::string username = account ? account->username() : std::string();
    services::SearchableIndex::defaultSearchableIndex()->deleteSearchableItemsWithDomainIdentifiers(
        {PhoneExtensions::extractCharactersFromStringUsingCharset(username, foundation::CharacterSet::alphanumeric())});
}

void HXAppAccountSettingsRole::clearAudioCache() {
    auto account = app_.account();
    // Without a user name there is no folder of its own: the caches folder itself stays.
    if (account && !account->username().empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(app_.cachesFolderForUser(account->username()), ignored);
    }
    foundation::NotificationCenter::defaultCenter().post("kClearedAudioCacheNotification");
}

void HXAppAccountSettingsRole::clearCookieCache() {
    if (auto jar = app_.cookieJar()) jar->empty();
    (void)app_.retrieveOAuth();
}

void HXAppAccountSettingsRole::clearImageCache() { HXCCache::sharedCache()->removeAllObjects(); }

// ---- the account list

std::shared_ptr<HX_Account> HXAppAccountListRole::account() const { return app_.account(); }

void HXAppAccountListRole::logout() { app_.logout(); }

void HXAppAccountListRole::selectAccountForUserName(const std::string& username) {
    app_.selectAccountForUserName(username);
}

void HXAppAccountListRole::loadInitialData() { app_.loadInitialData(); }

void HXAppAccountListRole::deleteAccountForUsername(const std::string& username) {
    app_.deleteAccountForUsername(username);
}

void HXAppAccountListRole::displayLogin() { app_.displayLogin(); }

void HXAppAccountListRole::presentAlert(const HXAlert& alert) { app_.presentAlert(alert); }
