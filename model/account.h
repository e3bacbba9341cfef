// Everything the app knows about one signed-in account, archived into the preference
// "accountInfo" (user name -> archive) and restored when the account is selected.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/phone.h"
#include "platform/foundation/keyed_archiver.h"
#include "platform/foundation/value.h"

class HX_QuickSetting;
class HXApplicationModel;
namespace foundation {
class UserDefaults;
}

class HX_Account : public foundation::Archivable {
public:
    static constexpr const char* kClassName = "HX_Account";
    using PhoneMap = std::map<int64_t, HX_PhonePtr>;

    HX_Account() = default;

    // Held in the keychain, never archived.
    const std::optional<std::string>& authV2() const { return authV2_; }
    void setAuthV2(std::optional<std::string> v) { authV2_ = std::move(v); }
    const std::optional<foundation::Dictionary>& oAuthDict() const { return oAuthDict_; }
    void setOAuthDict(std::optional<foundation::Dictionary> v) { oAuthDict_ = std::move(v); }

    const std::optional<std::string>& balance() const { return balance_; }
    void setBalance(std::optional<std::string> v) { balance_ = std::move(v); }
    const std::optional<std::string>& HXnumber() const { return HXnumber_; }
    void setHXnumber(std::optional<std::string> v) { HXnumber_ = std::move(v); }
    // Verified linked phones by phone id.
    PhoneMap& phones() { return phones_; }
    const PhoneMap& phones() const { return phones_; }
    void setPhones(PhoneMap v) { phones_ = std::move(v); }
    PhoneMap& unverifiedPhones() { return unverifiedPhones_; }
    const PhoneMap& unverifiedPhones() const { return unverifiedPhones_; }
    void setUnverifiedPhones(PhoneMap v) { unverifiedPhones_ = std::move(v); }
    foundation::Dictionary& vmGreetings() { return vmGreetings_; }
    const foundation::Dictionary& vmGreetings() const { return vmGreetings_; }
    void setVmGreetings(foundation::Dictionary v) { vmGreetings_ = std::move(v); }
    // List screen tag -> date of its last refresh.
    foundation::Dictionary& refreshDates() { return refreshDates_; }
    const foundation::Dictionary& refreshDates() const { return refreshDates_; }
    void setRefreshDates(foundation::Dictionary v) { refreshDates_ = std::move(v); }
    // Preset name -> keyed archive of an HX_QuickSetting.
    std::map<std::string, foundation::Data>& quickSettings() { return quickSettings_; }
    const std::map<std::string, foundation::Data>& quickSettings() const { return quickSettings_; }
    void setQuickSettings(std::map<std::string, foundation::Data> v) { quickSettings_ = std::move(v); }
    const std::string& username() const { return username_; }
    void setUsername(std::string v) { username_ = std::move(v); }
    // The user name as one file-system path component (store file, media folder): whatever
    // the name holds, it can never reach outside the folder it is put in.
    std::string usernamePathComponent() const;
    // The one mapping from a user name to a file name: whatever the name holds, it stays one
    // component within the file-name limit with affixBytes more put around it (a prefix, an
    // extension, the side files of its writers).
    static std::string pathComponentForUsername(std::string_view username, size_t affixBytes = 0);
    const std::string& currentVmGreetingId() const { return currentVmGreetingId_; }
    void setCurrentVmGreetingId(std::string v) { currentVmGreetingId_ = std::move(v); }
    // -1 direct call, -2 the device's own dialer, else the id of the phone rung back.
    int64_t forwardingPhoneID() const { return forwardingPhoneID_; }
    void setForwardingPhoneID(int64_t v) { forwardingPhoneID_ = v; }
    int64_t thisPhoneID() const { return thisPhoneID_; }
    void setThisPhoneID(int64_t v) { thisPhoneID_ = v; }
    bool VMtranscription() const { return VMtranscription_; }
    void setVMtranscription(bool v) { VMtranscription_ = v; }
    bool dndEnabled() const { return dndEnabled_; }
    void setDndEnabled(bool v) { dndEnabled_ = v; }
    bool useHXasCID() const { return useHXasCID_; }
    void setUseHXasCID(bool v) { useHXasCID_ = v; }
    bool directConnect() const { return directConnect_; }
    void setDirectConnect(bool v) { directConnect_ = v; }
    bool emailNotificationVM() const { return emailNotificationVM_; }
    void setEmailNotificationVM(bool v) { emailNotificationVM_ = v; }
    bool emailNotificationSMS() const { return emailNotificationSMS_; }
    void setEmailNotificationSMS(bool v) { emailNotificationSMS_ = v; }
    bool emailNotificationMissedCalls() const { return emailNotificationMissedCalls_; }
    void setEmailNotificationMissedCalls(bool v) { emailNotificationMissedCalls_ = v; }
    bool globalSpamFiltering() const { return globalSpamFiltering_; }
    void setGlobalSpamFiltering(bool v) { globalSpamFiltering_ = v; }
    bool callOptions() const { return callOptions_; }
    void setCallOptions(bool v) { callOptions_ = v; }
    const std::optional<std::string>& defaultQS() const { return defaultQS_; }
    void setDefaultQS(std::optional<std::string> v) { defaultQS_ = std::move(v); }

    // Phones before VoIP clients, then by name, then by number.
    std::vector<HX_PhonePtr> sortedPhones() const;
    // sortedPhones without the VoIP clients.
    std::vector<HX_PhonePtr> realPhones() const;
    // realPhones, then, when the device places calls, the pseudo phones -1 "Direct Call" and
    // -2 "iPhone Dialer" (localised names, no number).
    std::vector<HX_PhonePtr> callMethods(bool canPlaceCalls) const;
    std::vector<HX_PhonePtr> callMethods() const;

    // A snapshot of the current settings as a preset; the app settings come from `app` and the
    // preference "VMprefetch" in `defaults`.
    std::shared_ptr<HX_QuickSetting> quickSetting(const HXApplicationModel& app,
                                                  const foundation::UserDefaults& defaults) const;
    std::shared_ptr<HX_QuickSetting> quickSetting(bool autoRefresh, bool newMessageAlert,
                                                  const foundation::UserDefaults& defaults) const;
    // The same with the shared application object and the standard preferences.
    std::shared_ptr<HX_QuickSetting> quickSetting() const;

    std::string className() const override { return kClassName; }
    void encode(foundation::Coder& coder) const override;
    static std::shared_ptr<HX_Account> decode(foundation::Decoder& decoder);
    static void registerClass();

    foundation::Result<foundation::Data> archived() const;
    static foundation::Result<std::shared_ptr<HX_Account>> unarchived(const foundation::Data& data);

private:
    std::optional<std::string> authV2_;
    std::optional<foundation::Dictionary> oAuthDict_;
    std::optional<std::string> balance_;
    std::optional<std::string> HXnumber_;
    PhoneMap phones_;
    PhoneMap unverifiedPhones_;
    foundation::Dictionary vmGreetings_;
    foundation::Dictionary refreshDates_;
    std::map<std::string, foundation::Data> quickSettings_;
    std::string username_;
    std::string currentVmGreetingId_;
    int64_t forwardingPhoneID_ = 0;
    int64_t thisPhoneID_ = 0;
    bool VMtranscription_ = false;
    bool dndEnabled_ = false;
    bool useHXasCID_ = false;
    bool directConnect_ = false;
    bool emailNotificationVM_ = false;
    bool emailNotificationSMS_ = false;
    bool emailNotificationMissedCalls_ = false;
    bool globalSpamFiltering_ = false;
    bool callOptions_ = false;
    std::optional<std::string> defaultQS_;
};
