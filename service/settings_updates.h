// Changes of the account's service settings: one "account/update" request per change, whose body
// [value, mask, null, 1] names exactly the one field it changes (the mask holds true where the
// value holds the new state). The account itself changes only when the service's reply, which
// carries the whole account again, has been read (getPhoneSettingsFromData, which posts
// "kSettingsUpdateNotification"). Whoever asked hears how the change ended, on the main queue.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

class HX_Account;
class HX_Phone;
class HXApplicationWebClient;

// The on/off settings, in the order of the service's settings array.
enum class HXServiceSetting {
    GlobalSpamFiltering,
    DND,
    VMtranscription,
    CallOptions,
    SMSEmailNotification,
    MissedCallsEmailNotification,
    VMEmailNotification,
    DirectConnect,
    HXasCID,
};

// How a change ended: nothing to change (the account already has the value), not sent (signed
// out, no valid token yet, a phone position the account does not have), the service's reply was
// read onto the account, or the request failed (a refusal, a reply without an account, no
// connection, a time-out).
enum class HXSettingsEnd { Unchanged, NotSent, Applied, Failed };
using HXSettingsCompletion = std::function<void(HXSettingsEnd end)>;

// The update path, and the tag prefix of every change.
inline constexpr const char* kHXSettingsUpdatePath = "/voice/v1/voiceclient/account/update?alt=json";

struct HXServiceSettingInfo {
    HXServiceSetting setting;
    // The settings screen's row of the setting.
    int rowTag;
    // Appended to the update path to form the request's tag.
    const char* tagSuffix;
    // The account's value now.
    bool (HX_Account::*current)() const;
};
const HXServiceSettingInfo& HXServiceSettingInfoFor(HXServiceSetting setting);

// The bodies, byte for byte as the service takes them. Strings are JSON-escaped ("\"", "\\" and
// control characters); other text is kept as it is.
std::string HXServiceSettingBody(HXServiceSetting setting, bool value);
std::string HXGreetingBody(std::string_view greetingId);
std::string HXForwardingBody(const HX_Phone& phone, bool status);
// A phone name as the forwarding body carries it: each of ";:@&=/+%?" and every byte outside
// 7-bit ASCII as "%" and two upper-case hex digits.
std::string HXEscapePhoneName(std::string_view name);
// text as a JSON string, quotes included (a malformed UTF-8 sequence as U+FFFD).
std::string HXJSONString(std::string_view text);

// The changes, as the settings screen takes them. Each sends at most one request, under its own tag
// (a second change of the same setting replaces the first one in flight), and answers completion
// exactly once.
class HXServiceSettingsRole {
public:
    virtual ~HXServiceSettingsRole() = default;
    virtual void changeServiceSetting(HXServiceSetting setting, bool value, HXSettingsCompletion completion) = 0;
    virtual void changeVMGreeting(const std::string& greetingId, HXSettingsCompletion completion) = 0;
    // index: the phone's position in the account's sortedPhones; status: forwarding wanted. Always
    // sent when signed in and the position names a phone (there is no comparison with the phone's
    // forwarded flag).
    virtual void changeForwarding(long index, bool status, HXSettingsCompletion completion) = 0;
};

// The changes of the application's account (made on first use, kept by its web client, whose table
// holds the completions of the changes in flight). Without the web client a change is not sent.
class HXSettingsUpdates final : public HXServiceSettingsRole {
public:
    explicit HXSettingsUpdates(std::weak_ptr<HXApplicationWebClient> app) : app_(std::move(app)) {}
    static std::shared_ptr<HXSettingsUpdates> of(const std::shared_ptr<HXApplicationWebClient>& app);

    void changeServiceSetting(HXServiceSetting setting, bool value, HXSettingsCompletion completion) override;
    void changeVMGreeting(const std::string& greetingId, HXSettingsCompletion completion) override;
    void changeForwarding(long index, bool status, HXSettingsCompletion completion) override;

private:
    std::weak_ptr<HXApplicationWebClient> app_;
};
