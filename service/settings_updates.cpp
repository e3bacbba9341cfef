#include "service/settings_updates.h"

#include <array>
#include <utility>

#include "model/account.h"
#include "model/phone.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/json.h"
#include "platform/foundation/strings.h"
#include "platform/net/url_session.h"
#include "service/application_web_client.h"
#include "service/request_machinery.h"

namespace {

using Setting = HXServiceSetting;

struct BodyFormat {
    Setting setting;
    // The value and the mask, each written around the one placeholder "%@" of the value.
    const char* format;
};

// The service's account-settings array S sits at index 3 of the value; the field's place in S
// holds the new value, and true at the same place in the mask.
constexpr std::array<BodyFormat, 9> kFormats{{
    {Setting::GlobalSpamFiltering, "[[null,null,null,[%@]],[null,null,null,[true]],null,1]"},
    {Setting::DND, "[[null,null,null,[null,[%@]]],[null,null,null,[null,[true]]],null,1]"},
    {Setting::VMtranscription, "[[null,null,null,[null,null,[%@]]],[null,null,null,[null,null,[true]]],null,1]"},
    {Setting::CallOptions, "[[null,null,null,[null,null,null,null,null,%@]],[null,null,null,[null,null,null,null,"
                           "null,true]],null,1]"},
    {Setting::SMSEmailNotification, "[[null,null,null,[null,null,null,null,null,null,null,[%@]]],[null,null,null,["
                                    "null,null,null,null,null,null,null,[true]]],null,1]"},
    {Setting::MissedCallsEmailNotification, "[[null,null,null,[null,null,null,null,null,null,null,[null,%@]]],[null,"
                                            "null,null,[null,null,null,null,null,null,null,[null,true]]],null,1]"},
    {Setting::VMEmailNotification, "[[null,null,null,[null,null,null,null,null,null,null,[null,null,%@]]],[null,null,"
                                   "null,[null,null,null,null,null,null,null,[null,null,true]]],null,1]"},
    {Setting::DirectConnect, "[[null,null,null,[null,null,null,null,null,null,null,null,%@]],[null,null,null,[null,"
                             "null,null,null,null,null,null,null,true]],null,1]"},
    {Setting::HXasCID, "[[null,null,null,[null,null,null,null,null,null,null,null,null,null,null,null,null,null,%@]],"
                       "[null,null,null,[null,null,null,null,null,null,null,null,null,null,null,null,null,null,true]],"
                       "null,1]"},
}};

constexpr const char* kGreetingFormat =
    "[[null,null,null,[null,null,null,null,null,null,null,null,null,null,[[],[\"%@\"]]]],[null,null,null,[null,null,"
    "null,null,null,null,null,null,null,null,[null,[true]]]],null,1]";

const std::array<HXServiceSettingInfo, 9> kInfos{{
    {Setting::GlobalSpamFiltering, 121, "_GLOBALSPAM", &HX_Account::globalSpamFiltering},
    {Setting::DND, 100, "_DND", &HX_Account::dndEnabled},
    {Setting::VMtranscription, 104, "_VMTRANSCRIPTION", &HX_Account::VMtranscription},
    {Setting::CallOptions, 122, "_CALLOPTIONS", &HX_Account::callOptions},
    {Setting::SMSEmailNotification, 111, "_SMSNOTIFICATION", &HX_Account::emailNotificationSMS},
    {Setting::MissedCallsEmailNotification, 112, "_CALLNOTIFICATION", &HX_Account::emailNotificationMissedCalls},
    {Setting::VMEmailNotification, 110, "_VMNOTIFICATION", &HX_Account::emailNotificationVM},
    {Setting::DirectConnect, 101, "_DIRECTCONNECT", &HX_Account::directConnect},
    {Setting::HXasCID, 102, "_CID", &HX_Account::useHXasCID},
}};

std::string formatWith(std::string_view format, std::string_view value) {
    const size_t at = format.find("%@");
    std::string out(format.substr(0, at));
    out += value;
    out += format.substr(at + 2);
    return out;
}

// Elements joined by ",", in brackets.
std::string array(std::initializer_list<std::string> elements) {
    std::string out = "[";
    bool first = true;
    for (const auto& e : elements) {
        if (!first) out += ',';
        out += e;
        first = false;
    }
    return out + "]";
}

// k nulls separated by ",", without brackets.
std::string nulls(int k) {
    std::string out;
    for (int i = 0; i < k; ++i) out += i ? ",null" : "null";
    return out;
}

// The completion waiting under tag in the web client's table of changes in flight, taken out of
// it. A change that replaces one in flight under the same tag answers the earlier one as failed
// (its reply will never be read).
HXSettingsCompletion takePending(HXApplicationWebClient& app, const std::string& tag) {
    auto& table = HXWebClientOf(app).pendingSettingsChanges;
    auto it = table.find(tag);
    if (it == table.end()) return {};
    auto completion = std::move(it->second);
    table.erase(it);
    return completion;
}

void answer(const HXSettingsCompletion& completion, HXSettingsEnd end) {
    if (!completion) return;
    dispatch::Queue::main()->async([completion, end] { completion(end); });
}

// Sends body under the update path followed by suffix; completion hears the end.
void send(HXApplicationWebClient& app, const std::string& body, const std::string& suffix,
          HXSettingsCompletion completion) {
    foundation::Dictionary description;
    description.set("url", foundation::Value(std::string("/voice/v1/voiceclient/account/update?alt=json")));
    description.set("contentType", foundation::Value(std::string("application/json+protobuf")));
    description.set("body", foundation::Value(body));
    auto request = app.apiRequestWithDict(description);
    if (!request) {
        // No valid token at the moment (a renewal has started): nothing goes out.
        answer(completion, HXSettingsEnd::NotSent);
        return;
    }
    const std::string tag = std::string(kHXSettingsUpdatePath) + suffix;
    if (auto replaced = takePending(app, tag)) answer(replaced, HXSettingsEnd::Failed);
    HXWebClientOf(app).pendingSettingsChanges[tag] = std::move(completion);
    std::weak_ptr<HXApplicationWebClient> weakApp = app.weakWebClient();
    app.startAsyncLoadWithRequest(std::move(*request), tag, [weakApp, tag](std::shared_ptr<foundation::Data> data) {
        auto self = weakApp.lock();
        // Without the web client its table is gone, and no completion is left to answer.
        if (!self) return;
        auto done = takePending(*self, tag);
        if (!data) {
            answer(done, HXSettingsEnd::Failed);
            return;
        }
        const bool applied = self->getPhoneSettingsFromData(*data);
        answer(done, applied ? HXSettingsEnd::Applied : HXSettingsEnd::Failed);
    });
    // Offline, the request machinery alerts and starts nothing.
    if (!app.requestInFlight(tag)) answer(takePending(app, tag), HXSettingsEnd::NotSent);
}

// The account when the web client is there and signed in; otherwise none, and completion has heard
// that nothing went out.
std::shared_ptr<HX_Account> signedInAccount(HXApplicationWebClient* app, const HXSettingsCompletion& completion) {
    auto account = app ? app->account() : nullptr;
    if (account && account->authV2()) return account;
    answer(completion, HXSettingsEnd::NotSent);
    return nullptr;
}

}  // namespace

const HXServiceSettingInfo& HXServiceSettingInfoFor(HXServiceSetting setting) {
    return kInfos[static_cast<size_t>(setting)];
}

std::string HXJSONString(std::string_view text) {
    std::string valid(text);
    if (!foundation::isValidUtf8(valid)) valid = foundation::fromUtf16(foundation::toUtf16(valid));
    auto json = foundation::toJSON(foundation::Value(valid));
    return json.ok() ? json.value() : std::string("\"\"");
}

std::string HXEscapePhoneName(std::string_view name) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    static constexpr std::string_view kReserved = ";:@&=/+%?";
    std::string out;
    for (unsigned char c : name) {
        if (c >= 0x80 || kReserved.find(static_cast<char>(c)) != std::string_view::npos) {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0xf];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string HXServiceSettingBody(HXServiceSetting setting, bool value) {
    const char* literal = value ? "true" : "false";
    if (setting == Setting::DirectConnect) literal = value ? "1" : "2";
    return formatWith(kFormats[static_cast<size_t>(setting)].format, literal);
}

std::string HXGreetingBody(std::string_view greetingId) {
    // The format has the quotes already.
    const std::string quoted = HXJSONString(greetingId);
    return formatWith(kGreetingFormat, std::string_view(quoted).substr(1, quoted.size() - 2));
}

std::string HXForwardingBody(const HX_Phone& phone, bool status) {
    const std::string literal = status ? "true" : "false";
    const std::string name = HXJSONString(HXEscapePhoneName(phone.name()));
    const std::string number = HXJSONString(phone.number());
    std::string value, mask;
    if (!phone.isVOIP()) {
        const std::string f = array({literal, "0", nulls(198), "[1,5,5]"});
        const std::string e = array({array({"\"phnnmbr\"", number}), name, "[1,101]", "2", f});
        value = array({"null", "null", array({"[]", array({e}), "[]", "null", "[]", "null", "[]"})});
        const std::string r = array({nulls(4), "[true]", nulls(94), "2"});
        mask = array({"null", "null", array({"null", r, "null", "null", "null"})});
    } else {
        const std::string f = array({literal, "0", "0", nulls(197), "[1,3,3]"});
        const std::string e = array({number, std::to_string(phone.clientType()), name, "null", f, "1", "1", nulls(193),
                                     "[null,null,2,2,null,1,1]", "null", "null", "[2]"});
        value = array({"null", "null", array({"[]", "[]", "[]", "null", array({e}), "null", "[]"})});
        const std::string r = array({nulls(4), "[true]", "true", nulls(93), "2"});
        mask = array({"null", "null", array({nulls(4), r})});
    }
    return array({value, mask, "null", "1"});
}

std::shared_ptr<HXSettingsUpdates> HXSettingsUpdates::of(const std::shared_ptr<HXApplicationWebClient>& app) {
    return HXOperationsOf(app, &HXWebClient::settingsUpdates);
}

void HXSettingsUpdates::changeServiceSetting(HXServiceSetting setting, bool value, HXSettingsCompletion completion) {
    auto app = app_.lock();
    auto account = signedInAccount(app.get(), completion);
    if (!account) return;
    const auto& info = HXServiceSettingInfoFor(setting);
    if (((*account).*info.current)() == value) return answer(completion, HXSettingsEnd::Unchanged);
    send(*app, HXServiceSettingBody(setting, value), info.tagSuffix, std::move(completion));
}

void HXSettingsUpdates::changeVMGreeting(const std::string& greetingId, HXSettingsCompletion completion) {
    auto app = app_.lock();
    auto account = signedInAccount(app.get(), completion);
    if (!account) return;
    if (account->currentVmGreetingId() == greetingId) return answer(completion, HXSettingsEnd::Unchanged);
    send(*app, HXGreetingBody(greetingId), "_VMGREETING", std::move(completion));
}

void HXSettingsUpdates::changeForwarding(long index, bool status, HXSettingsCompletion completion) {
    auto app = app_.lock();
    auto account = signedInAccount(app.get(), completion);
    if (!account) return;
    const auto phones = account->sortedPhones();
    // The list may have changed since the row was drawn (or a preset names a stale position).
    if (index < 0 || static_cast<size_t>(index) >= phones.size()) return answer(completion, HXSettingsEnd::NotSent);
    send(*app, HXForwardingBody(*phones[index], status), std::to_string(index), std::move(completion));
}
