#include "model/quick_setting.h"

#include <cinttypes>
#include <cstdio>
#include <mutex>

#include "model/account.h"
#include "model/application_model.h"
#include "model/archive_read.h"
#include "platform/foundation/strings.h"

std::string HX_QuickSetting::hashText() const {
    char head[256];
    std::snprintf(head, sizeof head, "%" PRId64 "%d%d%d%d%d%d%d%d%" PRId64 "%" PRId64 "%" PRId64 "%" PRIu64,
                  forwardingPhoneID_, VMtranscription_, dndEnabled_, useHXasCID_, directConnect_, callOptions_,
                  emailNotificationVM_, emailNotificationSMS_, emailNotificationMissedCalls_, autoRefresh_,
                  messageSounds_, prefetchVM_, foundation::stableHash64(currentVmGreetingId_));
    std::string text = head;
    // std::map keeps the ids in ascending order.
    for (const auto& [id, phone] : phones_) {
        char part[32];
        std::snprintf(part, sizeof part, "%d%d", static_cast<int32_t>(id), phone && phone->forwarded() ? 1 : 0);
        text += part;
    }
    return text;
}

uint64_t HX_QuickSetting::hash() const { return foundation::stableHash64(hashText()); }

bool HX_QuickSetting::quickSettingUpdated(const HX_Account& account) {
    const auto& current = account.phones();
    PhoneMap kept;
    bool changed = false;
    for (const auto& [id, phone] : phones_) {
        if (current.count(id))
            kept[id] = phone;
        else
            changed = true;
    }
    if (kept.size() < current.size()) {
        for (const auto& [id, phone] : current) {
            if (kept.emplace(id, phone).second) changed = true;
        }
    }
    if (changed) phones_ = std::move(kept);
    return changed;
}

bool HX_QuickSetting::quickSettingUpdated() {
    auto app = HXApplicationModel::sharedDelegate();
    std::shared_ptr<HX_Account> account = app ? app->account() : nullptr;
    HX_Account none;
    return quickSettingUpdated(account ? *account : none);
}

void HX_QuickSetting::encode(foundation::Coder& coder) const {
    hx_archive::encodeObjectsById(coder, "phones", phones_);
    coder.encodeInt64("forwardingPhoneID", forwardingPhoneID_);
    coder.encodeString("currentVmGreetingId", currentVmGreetingId_);
    coder.encodeBool("VMtranscription", VMtranscription_);
    coder.encodeBool("dndEnabled", dndEnabled_);
    coder.encodeBool("useHXasCID", useHXasCID_);
    coder.encodeBool("directConnect", directConnect_);
    coder.encodeBool("callOptions", callOptions_);
    coder.encodeBool("emailNotificationVM", emailNotificationVM_);
    coder.encodeBool("emailNotificationSMS", emailNotificationSMS_);
    coder.encodeBool("emailNotificationMissedCalls", emailNotificationMissedCalls_);
    coder.encodeObject("region", std::shared_ptr<const foundation::Archivable>(region_));
    if (regionTitle_)
        coder.encodeString("regionTitle", *regionTitle_);
    else
        coder.encodeValue("regionTitle", foundation::Value());
    if (regionSubtitle_)
        coder.encodeString("regionSubtitle", *regionSubtitle_);
    else
        coder.encodeValue("regionSubtitle", foundation::Value());
    coder.encodeInt64("autoRefresh", autoRefresh_);
    coder.encodeInt64("messageSounds", messageSounds_);
    coder.encodeInt64("prefetchVM", prefetchVM_);
}

std::shared_ptr<HX_QuickSetting> HX_QuickSetting::decode(foundation::Decoder& d) {
    using namespace hx_archive;
    auto q = std::make_shared<HX_QuickSetting>();
    q->phones_ = readObjectsById<HX_Phone>(d, "phones").value_or(PhoneMap{});
    q->forwardingPhoneID_ = readInt32(d, "forwardingPhoneID", 0);
    q->currentVmGreetingId_ = readString(d, "currentVmGreetingId").value_or("");
    q->VMtranscription_ = readBool(d, "VMtranscription", false);
    q->dndEnabled_ = readBool(d, "dndEnabled", false);
    q->useHXasCID_ = readBool(d, "useHXasCID", false);
    q->directConnect_ = readBool(d, "directConnect", false);
    q->callOptions_ = readBool(d, "callOptions", true);
    q->emailNotificationVM_ = readBool(d, "emailNotificationVM", false);
    q->emailNotificationSMS_ = readBool(d, "emailNotificationSMS", false);
    q->emailNotificationMissedCalls_ = readBool(d, "emailNotificationMissedCalls", false);
    if (d.containsValue("region")) {
        auto any = d.decodeAny("region");
        q->region_ = std::dynamic_pointer_cast<services::Region>(any.object);
    }
    q->regionTitle_ = readString(d, "regionTitle");
    q->regionSubtitle_ = readString(d, "regionSubtitle");
    // A tri-state outside 0..2 cannot be applied; it means "not part of the preset".
    auto triState = [&](std::string_view key) {
        int64_t v = readInt32(d, key, 0);
        return v >= 0 && v <= 2 ? v : 0;
    };
    q->autoRefresh_ = triState("autoRefresh");
    q->messageSounds_ = triState("messageSounds");
    q->prefetchVM_ = triState("prefetchVM");
    if (d.failed()) return nullptr;
    return q;
}

void HX_QuickSetting::registerClass() {
    static std::once_flag once;
    std::call_once(once, [] {
        HX_Phone::registerClass();
        services::Region::registerClasses();
        foundation::ArchiveClassRegistry::shared().registerClass<HX_QuickSetting>(kClassName);
    });
}

foundation::Result<foundation::Data> HX_QuickSetting::archived() const { return foundation::archivedData(*this); }

foundation::Result<std::shared_ptr<HX_QuickSetting>> HX_QuickSetting::unarchived(const foundation::Data& data) {
    registerClass();
    return foundation::unarchivedObject<HX_QuickSetting>(data);
}
