// The settings screen's role (app/shell_roles.h): the application's preferences and the caches.
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

bool HXAppAccountSettingsRole::isIdle() { return client_.isIdle(); }

bool HXAppAccountSettingsRole::canMonitorRegions() {
    return services::LocationServices::shared().isRegionMonitoringAvailable();
}

bool HXAppAccountSettingsRole::preference(Preference preference) const { return slices_.preference(preference); }

void HXAppAccountSettingsRole::setPreference(Preference preference, bool on) {
    slices_.storePreference(preference, on);
    if (preference != Preference::AutoRefresh) return;
    if (on)
        client_.loadUnreadMessages();
    else
        dispatch::RunLoop::main().cancelPerform(&client_, "loadUnreadMessages", foundation::Value());
    slices_.setBackgroundRefreshStatus();
}

void HXAppAccountSettingsRole::updateUnreadCounts() { client_.updateUnreadCounts(); }

void HXAppAccountSettingsRole::updateAccountPrefs() { client_.updateAccountPrefs(); }

const std::string& HXAppAccountSettingsRole::versionString() { return slices_.versionString(); }

void HXAppAccountSettingsRole::clearMessageCache() {
    store::FetchedResultsController::deleteCacheWithName(std::nullopt);
    foundation::NotificationCenter::defaultCenter().post("kLogoutNotification");
    (void)client_.resetPersistentStore();
    auto account = alerts_.account();
    const std::string username = account ? account->username() : std::string();
    services::SearchableIndex::defaultSearchableIndex()->deleteSearchableItemsWithDomainIdentifiers(
        {PhoneExtensions::extractCharactersFromStringUsingCharset(username, foundation::CharacterSet::alphanumeric())});
}

void HXAppAccountSettingsRole::clearAudioCache() {
    auto account = alerts_.account();
    // Without a user name there is no folder of its own: the caches folder itself stays.
    if (account && !account->username().empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(client_.cachesFolderForUser(account->username()), ignored);
    }
    foundation::NotificationCenter::defaultCenter().post("kClearedAudioCacheNotification");
}

void HXAppAccountSettingsRole::clearCookieCache() {
    if (auto jar = client_.cookieJar()) jar->empty();
    (void)client_.retrieveOAuth();
}

void HXAppAccountSettingsRole::clearImageCache() { HXCCache::sharedCache()->removeAllObjects(); }

// ---- the account list

void HXAppAccountListRole::logout() { client_.logout(); }

void HXAppAccountListRole::selectAccountForUserName(const std::string& username) {
    client_.selectAccountForUserName(username);
}

void HXAppAccountListRole::loadInitialData() { client_.loadInitialData(); }

void HXAppAccountListRole::deleteAccountForUsername(const std::string& username) {
    client_.deleteAccountForUsername(username);
}

void HXAppAccountListRole::displayLogin() { client_.displayLogin(); }
