#include "model/account.h"

#include <algorithm>
#include <mutex>

#include "model/application_model.h"
#include "model/archive_read.h"
#include "model/quick_setting.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/files.h"
#include "platform/foundation/user_defaults.h"

namespace {

void encodePhones(foundation::Coder& coder, std::string_view key, const HX_Account::PhoneMap& phones) {
    hx_archive::encodeObjectsById(coder, key, phones);
}

}  // namespace

std::string HX_Account::usernamePathComponent() const { return pathComponentForUsername(username_); }

std::string HX_Account::pathComponentForUsername(std::string_view username, size_t affixBytes) {
    auto component = foundation::boundedPathComponent(username, affixBytes);
    // Only affixes that leave no room for a hashed name fail; "%~" is no escaped name's prefix.
    return component.ok() ? std::move(component).value() : std::string("%~");
}

void HX_Account::encode(foundation::Coder& coder) const {
    auto optionalString = [&](std::string_view key, const std::optional<std::string>& s) {
        if (s)
            coder.encodeString(key, *s);
        else
            coder.encodeValue(key, foundation::Value());
    };
    coder.encodeString("username", username_);
    optionalString("balance", balance_);
    optionalString("HXnumber", HXnumber_);
    encodePhones(coder, "phones", phones_);
    if (!unverifiedPhones_.empty()) encodePhones(coder, "unverifiedPhones", unverifiedPhones_);
    coder.encodeValue("vmGreetings", foundation::Value(vmGreetings_));
    coder.encodeInt64("forwardingPhoneID", forwardingPhoneID_);
    coder.encodeInt64("thisPhoneID", thisPhoneID_);
    coder.encodeString("currentVmGreetingId", currentVmGreetingId_);
    coder.encodeBool("VMtranscription", VMtranscription_);
    coder.encodeBool("dndEnabled", dndEnabled_);
    coder.encodeBool("useHXasCID", useHXasCID_);
    coder.encodeBool("directConnect", directConnect_);
    coder.encodeBool("emailNotificationVM", emailNotificationVM_);
    coder.encodeBool("emailNotificationSMS", emailNotificationSMS_);
    coder.encodeBool("emailNotificationMissedCalls", emailNotificationMissedCalls_);
    coder.encodeBool("globalSpamFiltering", globalSpamFiltering_);
    coder.encodeBool("callOptions", callOptions_);
    coder.encodeValue("refreshDates", foundation::Value(refreshDates_));
    foundation::Dictionary presets;
    for (const auto& [name, data] : quickSettings_) presets.set(name, foundation::Value(data));
    coder.encodeValue("quickSettings", foundation::Value(std::move(presets)));
    optionalString("defaultQS", defaultQS_);
}

std::shared_ptr<HX_Account> HX_Account::decode(foundation::Decoder& d) {
    using namespace hx_archive;
    auto a = std::make_shared<HX_Account>();
    a->balance_ = readString(d, "balance");
    a->HXnumber_ = readString(d, "HXnumber");
    a->phones_ = readObjectsById<HX_Phone>(d, "phones").value_or(PhoneMap{});
    a->forwardingPhoneID_ = readInt32(d, "forwardingPhoneID", 0);
    a->VMtranscription_ = readBool(d, "VMtranscription", false);
    a->dndEnabled_ = readBool(d, "dndEnabled", false);
    a->useHXasCID_ = readBool(d, "useHXasCID", false);
    a->directConnect_ = readBool(d, "directConnect", false);
    a->unverifiedPhones_ = readObjectsById<HX_Phone>(d, "unverifiedPhones").value_or(PhoneMap{});
    a->username_ = readString(d, "username").value_or("");
    a->emailNotificationVM_ = readBool(d, "emailNotificationVM", false);
    a->emailNotificationSMS_ = readBool(d, "emailNotificationSMS", false);
    a->emailNotificationMissedCalls_ = readBool(d, "emailNotificationMissedCalls", false);
    a->globalSpamFiltering_ = readBool(d, "globalSpamFiltering", false);
    a->thisPhoneID_ = readInt32(d, "thisPhoneID", -1);
    a->vmGreetings_ = readDictionary(d, "vmGreetings").value_or(foundation::Dictionary{});
    a->currentVmGreetingId_ = readString(d, "currentVmGreetingId").value_or("");
    // Only dates are refresh dates; anything else under a tag would be read as one later.
    if (auto dates = readDictionary(d, "refreshDates")) {
        for (const auto& [tag, when] : *dates) {
            if (tag.isString() && when.isDate()) a->refreshDates_.set(tag, when);
        }
    }
    if (auto presets = readDictionary(d, "quickSettings")) {
        for (const auto& [name, data] : *presets) {
            if (name.isString() && data.isData()) a->quickSettings_[name.string()] = data.asData();
        }
    }
    // Archives from before the in-call options switch existed had it on.
    a->callOptions_ = readBool(d, "callOptions", true);
    a->defaultQS_ = readString(d, "defaultQS");
    if (d.failed()) return nullptr;
    return a;
}

void HX_Account::registerClass() {
    static std::once_flag once;
    std::call_once(once, [] {
        HX_Phone::registerClass();
        foundation::ArchiveClassRegistry::shared().registerClass<HX_Account>(kClassName);
    });
}

foundation::Result<foundation::Data> HX_Account::archived() const { return foundation::archivedData(*this); }

foundation::Result<std::shared_ptr<HX_Account>> HX_Account::unarchived(const foundation::Data& data) {
    registerClass();
    return foundation::unarchivedObject<HX_Account>(data);
}

std::vector<HX_PhonePtr> HX_Account::sortedPhones() const {
    std::vector<HX_PhonePtr> list;
    for (const auto& [id, phone] : phones_) {
        if (phone) list.push_back(phone);
    }
    if (list.size() < 2) return list;
    std::stable_sort(list.begin(), list.end(), [](const HX_PhonePtr& a, const HX_PhonePtr& b) {
        if (a->isVOIP() != b->isVOIP()) return !a->isVOIP();
        if (a->name() != b->name()) return a->name() < b->name();
        return a->number() < b->number();
    });
    return list;
}

std::vector<HX_PhonePtr> HX_Account::realPhones() const {
    std::vector<HX_PhonePtr> list = sortedPhones();
    std::erase_if(list, [](const HX_PhonePtr& p) { return p->isVOIP(); });
    return list;
}

std::vector<HX_PhonePtr> HX_Account::callMethods(bool canPlaceCalls) const {
    std::vector<HX_PhonePtr> list = realPhones();
    if (canPlaceCalls) {
        auto direct = std::make_shared<HX_Phone>();
        direct->setPhoneId(-1);
        direct->setName(foundation::localizedString("Direct Call"));
        auto dialer = std::make_shared<HX_Phone>();
        dialer->setPhoneId(-2);
        dialer->setName(foundation::localizedString("iPhone Dialer"));
        list.push_back(std::move(direct));
        list.push_back(std::move(dialer));
    }
    return list;
}

std::vector<HX_PhonePtr> HX_Account::callMethods() const {
    auto app = HXApplicationModel::sharedDelegate();
    return callMethods(app && app->isPhone());
}

std::shared_ptr<HX_QuickSetting> HX_Account::quickSetting(const HXApplicationModel& app,
                                                          const foundation::UserDefaults& defaults) const {
    return quickSetting(app.autoRefresh(), app.newMessageAlert(), defaults);
}

std::shared_ptr<HX_QuickSetting> HX_Account::quickSetting(bool autoRefresh, bool newMessageAlert,
                                                          const foundation::UserDefaults& defaults) const {
    auto qs = std::make_shared<HX_QuickSetting>();
    qs->setCurrentVmGreetingId(currentVmGreetingId_);
    qs->setDirectConnect(directConnect_);
    qs->setDndEnabled(dndEnabled_);
    qs->setEmailNotificationMissedCalls(emailNotificationMissedCalls_);
    qs->setEmailNotificationSMS(emailNotificationSMS_);
    qs->setEmailNotificationVM(emailNotificationVM_);
    qs->setForwardingPhoneID(forwardingPhoneID_);
    qs->setPhones(phones_);
    qs->setUseHXasCID(useHXasCID_);
    qs->setCallOptions(callOptions_);
    qs->setVMtranscription(VMtranscription_);
    qs->setAutoRefresh(autoRefresh ? 2 : 1);
    qs->setMessageSounds(newMessageAlert ? 2 : 1);
    qs->setPrefetchVM(defaults.boolForKey("VMprefetch") ? 2 : 1);
    return qs;
}

std::shared_ptr<HX_QuickSetting> HX_Account::quickSetting() const {
    auto app = HXApplicationModel::sharedDelegate();
    auto& defaults = *foundation::UserDefaults::standardUserDefaults();
    if (app) return quickSetting(*app, defaults);
    // Without an application object, its preferences' launch values: refresh on, sounds off.
    return quickSetting(true, false, defaults);
}
