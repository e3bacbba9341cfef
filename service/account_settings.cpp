// The account's service settings: the "account/get" request and the mapping of its reply (and of
// the "account/update" replies, which have the same form) onto the current account; and the
// settings screen's own operations (HXAccountSettingsRole): the app's preferences and the caches.
#include <cmath>
#include <filesystem>

#include "model/account.h"
#include "model/cache.h"
#include "model/phone_extensions.h"
#include "platform/dispatch/run_loop.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/dates.h"
#include "platform/foundation/json.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/strings.h"
#include "platform/foundation/user_defaults.h"
#include "platform/services/device.h"
#include "platform/store/fetched_results_controller.h"
#include "service/application_web_client.h"
#include "service/custom_cookie_jar.h"
#include "service/request_machinery.h"

namespace {

using foundation::Dictionary;
using foundation::Value;

constexpr const char* kAccountGetTag = "/voice/v1/voiceclient/account/get?alt=json";

const Value& at(const Value& root, std::initializer_list<const char*> path) {
    static const Value none;
    const Value* v = &root;
    for (const char* key : path) {
        const auto* d = v->ifDictionary();
        if (!d) return none;
        v = &d->get(key);
    }
    return *v;
}

bool boolAt(const Value& root, std::initializer_list<const char*> path) {
    const bool* b = at(root, path).ifBool();
    return b && *b;
}

std::optional<std::string> stringAt(const Value& root, std::initializer_list<const char*> path) {
    const Value& v = at(root, path);
    if (const auto* s = v.ifString()) return *s;
    return std::nullopt;
}

const foundation::Array& arrayAt(const Value& root, std::initializer_list<const char*> path) {
    static const foundation::Array none;
    const Value& v = at(root, path);
    return v.isArray() ? v.asArray() : none;
}

int64_t clientTypeCode(const std::string& type) {
    if (type == "hxAndroid") return 1;
    if (type == "hxIos") return 2;
    if (type == "hxWeb") return 3;
    if (type == "sipAdapter") return 4;
    return 0;
}

// The number of the phone id names in phones, if it names one there.
std::optional<std::string> numberOfPhone(const HX_Account::PhoneMap& phones, int64_t id) {
    auto it = phones.find(id);
    if (it == phones.end() || !it->second) return std::nullopt;
    return it->second->number();
}

std::optional<int64_t> idOfNumber(const HX_Account::PhoneMap& phones, const std::optional<std::string>& number) {
    if (!number) return std::nullopt;
    for (const auto& [id, phone] : phones)
        if (phone && phone->number() == *number) return id;
    return std::nullopt;
}

}  // namespace

void HXApplicationWebClient::loadPhoneSettings() {
    if (settingsLoading_) return;
    settingsLoading_ = true;
    std::weak_ptr<HXApplicationWebClient> weakSelf = weakWebClient();
    dispatch::Queue::main()->async([weakSelf] {
        auto self = weakSelf.lock();
        if (!self) return;
        auto request = self->apiRequestWithDict(
            Dictionary{{"url", kAccountGetTag}, {"contentType", "application/json+protobuf"}, {"body", "[null,1]"}});
        if (request) {
            self->startAsyncLoadWithRequest(std::move(*request), kAccountGetTag);
        } else {
            self->settingsLoading_ = false;
            self->settingsLoadPending_ = true;
        }
    });
}

bool HXApplicationWebClient::getPhoneSettingsFromData(const foundation::Data& data) {
    const std::string_view bytes(reinterpret_cast<const char*>(data.data()), data.size());
    auto parsed = foundation::parseJSON(bytes);
    // A bad byte in a text the user set (a phone's name) must not cost the account: a reply that
    // is not well-formed UTF-8 is read again with each malformed byte as U+FFFD, as thread lists
    // are. A reply that is not the account even then (a sign-in page, a cut body) still fails.
    if (!parsed.ok() && !foundation::isValidUtf8(bytes))
        parsed = foundation::parseJSON(foundation::utf8Repaired(bytes));
    auto acct = account();
    const Value* accountValue =
        parsed.ok() && parsed->isDictionary() ? parsed->asDictionary().find("account") : nullptr;
    if (!acct || !accountValue || !accountValue->isDictionary()) {
        settingsLoading_ = false;
        if (!isInBackground() && !requestInFlight("ClientAuth")) login();
        return false;
    }
    const Value& a = *accountValue;

    acct->setHXnumber(stringAt(a, {"primaryDid"}));
    acct->setDndEnabled(boolAt(a, {"communication", "doNotDisturb", "enabled"}));
    acct->setUseHXasCID(boolAt(a, {"communication", "useDidAsCallerId"}));
    acct->setDirectConnect(stringAt(a, {"communication", "callScreening"}) == std::optional<std::string>("none"));
    acct->setVMtranscription(boolAt(a, {"communication", "transcription", "enableForVoicemail"}));
    acct->setCallOptions(boolAt(a, {"communication", "enableInCallCommands"}));
    // Assigned only on a change: the settings screen observes these switches.
    if (bool v = boolAt(a, {"communication", "enableGlobalSpamFiltering"}); v != acct->globalSpamFiltering())
        acct->setGlobalSpamFiltering(v);
    if (bool v = boolAt(a, {"communication", "emailForwardingModalities", "voicemails"});
        v != acct->emailNotificationVM())
        acct->setEmailNotificationVM(v);
    if (bool v = boolAt(a, {"communication", "emailForwardingModalities", "sms"}); v != acct->emailNotificationSMS())
        acct->setEmailNotificationSMS(v);
    if (bool v = boolAt(a, {"communication", "emailForwardingModalities", "missedCalls"});
        v != acct->emailNotificationMissedCalls())
        acct->setEmailNotificationMissedCalls(v);

    Dictionary greetings;
    for (const auto& item : arrayAt(a, {"communication", "voicemailGreeting", "item"})) {
        std::string name;
        if (auto custom = stringAt(item, {"customName"}))
            name = PhoneExtensions::stringByUnescapingEntities(*custom);
        else if (stringAt(item, {"predefinedName"}) == std::optional<std::string>("systemStandard"))
            name = foundation::localizedString("HX Voice Default");
        else
            continue;
        greetings.set(stringAt(item, {"greetingId"}).value_or(""), Value(name));
    }
    std::string active = stringAt(a, {"communication", "voicemailGreeting", "active", "defaultId"}).value_or("");
    if (!greetings.contains(active) && !greetings.empty()) active = greetings.keys().front().string();
    acct->setVmGreetings(std::move(greetings));
    acct->setCurrentVmGreetingId(active);

    const Value& credit = at(a, {"billing", "credit"});
    if (credit.isDictionary()) {
        foundation::NumberFormatter formatter;
        formatter.setStyle(foundation::NumberFormatter::Style::Currency);
        formatter.setCurrencyCode(stringAt(credit, {"currencyCode"}).value_or(""));
        const int32_t units = at(credit, {"units"}).int32Value();
        const float nanos = static_cast<float>(at(credit, {"nanos"}).doubleValue());
        acct->setBalance(formatter.string(static_cast<double>(units) + static_cast<double>(nanos) / 1e9));
    } else {
        acct->setBalance(std::nullopt);
    }

    // The ids are positions in the reply: remember which numbers the chosen phones had, so a
    // reordered reply does not make a choice name another phone.
    const auto forwardingNumber = numberOfPhone(acct->phones(), acct->forwardingPhoneID());
    const auto thisNumber = numberOfPhone(acct->phones(), acct->thisPhoneID());
    HX_Account::PhoneMap phones, unverified;
    int64_t nextId = 1;
    for (const auto& item : arrayAt(a, {"phones", "linkedPhone"})) {
        auto phone = std::make_shared<HX_Phone>();
        phone->setPhoneId(nextId);
        phone->setForwarded(boolAt(item, {"forwardingModalities", "calls"}));
        phone->setName(PhoneExtensions::stringByUnescapingEntities(stringAt(item, {"name"}).value_or("")));
        phone->setNumber(stringAt(item, {"phoneNumber", "e164"}).value_or(""));
        phone->setFormattedNumber(PhoneExtensions::formattedPhoneNumberFromString(phone->number()));
        phone->setVerified(boolAt(item, {"verificationState", "currentlyVerified"}));
        phone->setIsVOIP(false);
        (phone->verified() ? phones : unverified)[nextId] = phone;
        ++nextId;
    }
    for (const auto& item : arrayAt(a, {"phones", "linkedVoipDevice"})) {
        auto phone = std::make_shared<HX_Phone>();
        phone->setPhoneId(nextId);
        phone->setForwarded(boolAt(item, {"forwardingModalities", "calls"}));
        phone->setName(PhoneExtensions::stringByUnescapingEntities(stringAt(item, {"name"}).value_or("")));
        phone->setNumber(stringAt(item, {"sipDeviceId"}).value_or(""));
        phone->setFormattedNumber(foundation::localizedString("VOIP"));
        phone->setVerified(true);
        phone->setIsVOIP(true);
        phone->setClientType(clientTypeCode(stringAt(item, {"clientType"}).value_or("")));
        if (phone->clientType() != 0) phones[nextId] = phone;
        ++nextId;
    }
    acct->setPhones(phones);
    acct->setUnverifiedPhones(unverified);
    if (auto id = idOfNumber(phones, forwardingNumber)) acct->setForwardingPhoneID(*id);
    if (auto id = idOfNumber(phones, thisNumber)) acct->setThisPhoneID(*id);

    auto prefs = foundation::UserDefaults::standardUserDefaults();
    auto warn = [this](const std::string& message) {
        std::weak_ptr<HXApplicationWebClient> weakSelf = weakWebClient();
        const std::string website = webClient().endpoints.servicePageBase();
        HXAlert alert{foundation::localizedString("Incomplete Account Setup"), message, {}};
        alert.actions.push_back({foundation::localizedString("Dismiss"), HXAlertAction::Style::Cancel, {}});
        alert.actions.push_back(
            {foundation::localizedString("HX Website"), HXAlertAction::Style::Default, [weakSelf, website] {
                 if (auto self = weakSelf.lock()) self->openURL(website);
             }});
        presentAlert(alert);
    };
    auto shown = prefs->dictionaryForKey("displayedWarnings");
    if (phones.empty() && !(shown && shown->contains("MissingForwardingPhone"))) {
        warn(foundation::localizedString(
            "You need to have at least one verified phone number connected to your HX Voice account in order to use "
            "all the features of this application.\n\nPlease log into the HX Voice website and verify your phones."));
        Dictionary recorded{{"MissingForwardingPhone", true}};
        if (shown)
            for (const auto& [key, value] : *shown)
                if (!recorded.contains(key)) recorded.set(key, value);
        (void)prefs->setObject(Value(std::move(recorded)), "displayedWarnings");
    } else if (acct->HXnumber() == std::optional<std::string>("CLIENT_ONLY")) {
        warn(foundation::localizedString(
            "You currently use a 'HX Chat' only HX Voice account. You need to sign up for a HX phone number and have "
            "at least one verified real phone number connected to your account in order to make calls and use all "
            "the features of this application.\n\nPlease log into the HX Voice website and add at least one phone "
            "number to your account."));
    }

    const int64_t choice = acct->forwardingPhoneID();
    const bool kept = (choice < 0 && isPhone()) || (choice > 0 && phones.count(choice));
    if (!kept && !phones.empty()) acct->setForwardingPhoneID(phones.begin()->first);

    foundation::NotificationCenter::defaultCenter().post("kSettingsUpdateNotification", nullptr);
    settingsLoading_ = false;
    saveAccountEntry();
    return true;
}

// ---- the settings screen's operations

bool HXApplicationWebClient::canMonitorRegions() {
    return services::LocationServices::shared().isRegionMonitoringAvailable();
}

bool HXApplicationWebClient::preference(Preference preference) const {
    switch (preference) {
        case Preference::NewMessageAlert:
            return newMessageAlert();
        case Preference::GraphicalEmoticons:
            return graphicalEmoticons();
        case Preference::ShowNotesInMessageLists:
            return showNotesInMessageLists();
        case Preference::AutoRefresh:
            break;
    }
    return autoRefresh();
}

void HXApplicationWebClient::setPreference(Preference preference, bool on) {
    switch (preference) {
        case Preference::NewMessageAlert:
            setNewMessageAlert(on);
            return;
        case Preference::GraphicalEmoticons:
            setGraphicalEmoticons(on);
            return;
        case Preference::ShowNotesInMessageLists:
            setShowNotesInMessageLists(on);
            return;
        case Preference::AutoRefresh:
            break;
    }
    setAutoRefresh(on);
    if (on)
        loadUnreadMessages();
    else
        dispatch::RunLoop::main().cancelPerform(this, "loadUnreadMessages", foundation::Value());
    setBackgroundRefreshStatus();
}

void HXApplicationWebClient::clearMessageCache() {
    store::FetchedResultsController::deleteCacheWithName(std::nullopt);
    foundation::NotificationCenter::defaultCenter().post("kLogoutNotification");
    (void)resetPersistentStore();
    auto acct = account();
    HXDeleteSearchItemsOfUser(acct ? acct->username() : std::string());
}

void HXApplicationWebClient::clearAudioCache() {
    auto acct = account();
    // Without a user name there is no folder of its own: the caches folder itself stays.
    if (acct && !acct->username().empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(cachesFolderForUser(acct->username()), ignored);
    }
    foundation::NotificationCenter::defaultCenter().post("kClearedAudioCacheNotification");
}

void HXApplicationWebClient::clearCookieCache() {
    if (auto jar = cookieJar()) jar->empty();
    (void)retrieveOAuth();
}

void HXApplicationWebClient::clearImageCache() { HXCCache::sharedCache()->removeAllObjects(); }
