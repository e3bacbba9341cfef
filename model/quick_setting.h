// A named preset of the account's service settings and three app preferences, optionally tied
// to a location at which it is switched on.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "model/phone.h"
#include "platform/foundation/keyed_archiver.h"
#include "platform/services/region.h"

class HX_Account;

class HX_QuickSetting : public foundation::Archivable {
public:
    static constexpr const char* kClassName = "HX_QuickSetting";
    using PhoneMap = std::map<int64_t, HX_PhonePtr>;

    // Of each phone only `forwarded` is applied and hashed.
    const PhoneMap& phones() const { return phones_; }
    void setPhones(PhoneMap v) { phones_ = std::move(v); }
    int64_t forwardingPhoneID() const { return forwardingPhoneID_; }
    void setForwardingPhoneID(int64_t v) { forwardingPhoneID_ = v; }
    const std::string& currentVmGreetingId() const { return currentVmGreetingId_; }
    void setCurrentVmGreetingId(std::string v) { currentVmGreetingId_ = std::move(v); }
    bool VMtranscription() const { return VMtranscription_; }
    void setVMtranscription(bool v) { VMtranscription_ = v; }
    bool dndEnabled() const { return dndEnabled_; }
    void setDndEnabled(bool v) { dndEnabled_ = v; }
    bool useHXasCID() const { return useHXasCID_; }
    void setUseHXasCID(bool v) { useHXasCID_ = v; }
    bool directConnect() const { return directConnect_; }
    void setDirectConnect(bool v) { directConnect_ = v; }
    bool callOptions() const { return callOptions_; }
    void setCallOptions(bool v) { callOptions_ = v; }
    bool emailNotificationVM() const { return emailNotificationVM_; }
    void setEmailNotificationVM(bool v) { emailNotificationVM_ = v; }
    bool emailNotificationSMS() const { return emailNotificationSMS_; }
    void setEmailNotificationSMS(bool v) { emailNotificationSMS_ = v; }
    bool emailNotificationMissedCalls() const { return emailNotificationMissedCalls_; }
    void setEmailNotificationMissedCalls(bool v) { emailNotificationMissedCalls_ = v; }
    const std::shared_ptr<services::Region>& region() const { return region_; }
    void setRegion(std::shared_ptr<services::Region> v) { region_ = std::move(v); }
    const std::optional<std::string>& regionTitle() const { return regionTitle_; }
    void setRegionTitle(std::optional<std::string> v) { regionTitle_ = std::move(v); }
    const std::optional<std::string>& regionSubtitle() const { return regionSubtitle_; }
    void setRegionSubtitle(std::optional<std::string> v) { regionSubtitle_ = std::move(v); }
    // Tri-states: 0 not part of the preset, 1 off, 2 on.
    int64_t autoRefresh() const { return autoRefresh_; }
    void setAutoRefresh(int64_t v) { autoRefresh_ = v; }
    int64_t messageSounds() const { return messageSounds_; }
    void setMessageSounds(int64_t v) { messageSounds_ = v; }
    int64_t prefetchVM() const { return prefetchVM_; }
    void setPrefetchVM(int64_t v) { prefetchVM_ = v; }

    // The text the content hash is taken of (location, names and numbers are left out).
    std::string hashText() const;
    // Equal settings give equal values within one process; never stored.
    uint64_t hash() const;

    // Reconciles `phones` with the linked phones of `account` by id; true when anything changed.
    bool quickSettingUpdated(const HX_Account& account);
    // The same against the application object's current account (no account: no phones).
    bool quickSettingUpdated();

    std::string className() const override { return kClassName; }
    void encode(foundation::Coder& coder) const override;
    static std::shared_ptr<HX_QuickSetting> decode(foundation::Decoder& decoder);
    static void registerClass();

    // The archive of one preset as the account's quickSettings dictionary stores it, and back.
    foundation::Result<foundation::Data> archived() const;
    static foundation::Result<std::shared_ptr<HX_QuickSetting>> unarchived(const foundation::Data& data);

private:
    PhoneMap phones_;
    int64_t forwardingPhoneID_ = 0;
    std::string currentVmGreetingId_;
    bool VMtranscription_ = false;
    bool dndEnabled_ = false;
    bool useHXasCID_ = false;
    bool directConnect_ = false;
    bool callOptions_ = false;
    bool emailNotificationVM_ = false;
    bool emailNotificationSMS_ = false;
    bool emailNotificationMissedCalls_ = false;
    std::shared_ptr<services::Region> region_;
    std::optional<std::string> regionTitle_;
    std::optional<std::string> regionSubtitle_;
    int64_t autoRefresh_ = 0;
    int64_t messageSounds_ = 0;
    int64_t prefetchVM_ = 0;
};
