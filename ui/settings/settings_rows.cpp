#include "ui/settings/settings_rows.h"

#include <array>

#include "model/account.h"
#include "model/quick_setting.h"
#include "ui/settings/settings_support.h"

namespace {

using Kind = HXSettingsRowKind;
using Source = HXSettingsSource;
using Setting = HXServiceSetting;
using Pref = HXAccountSettingsRole::Preference;
using Q = HX_QuickSetting;

// How a preset keeps a row's value.
struct PresetField {
    bool (Q::*flag)() const = nullptr;
    void (Q::*setFlag)(bool) = nullptr;
    int64_t (Q::*triState)() const = nullptr;
    void (Q::*setTriState)(int64_t) = nullptr;
};
constexpr PresetField flag(bool (Q::*get)() const, void (Q::*set)(bool)) { return {get, set}; }
constexpr PresetField triState(int64_t (Q::*get)() const, void (Q::*set)(int64_t)) {
    return {nullptr, nullptr, get, set};
}

HXSettingsRow kept(HXSettingsRow row, PresetField preset) {
    row.presetFlag = preset.flag;
    row.setPresetFlag = preset.setFlag;
    row.presetTriState = preset.triState;
    row.setPresetTriState = preset.setTriState;
    return row;
}

HXSettingsRow service(int tag, const char* title, Setting setting, PresetField preset = {}, bool inverted = false) {
    return kept({.tag = tag,
                 .title = title,
                 .kind = Kind::Switch,
                 .source = Source::Service,
                 .setting = setting,
                 .inverted = inverted},
                preset);
}
HXSettingsRow application(int tag, const char* title, Pref preference, bool changesQuickSetting = false,
                          PresetField preset = {}) {
    return kept({.tag = tag,
                 .title = title,
                 .kind = Kind::Switch,
                 .source = Source::Application,
                 .preference = preference,
                 .changesQuickSetting = changesQuickSetting},
                preset);
}
// The key a preference the screens follow is stored under.
constexpr const char* keyOf(HXPreference preference) { return HXPreferenceKeyOf(preference).key; }

HXSettingsRow stored(int tag, const char* title, const char* key, bool changesQuickSetting = false,
                     const char* notification = nullptr, PresetField preset = {}) {
    return kept({.tag = tag,
                 .title = title,
                 .kind = Kind::Switch,
                 .source = Source::Default,
                 .key = key,
                 .changesQuickSetting = changesQuickSetting,
                 .notification = notification},
                preset);
}
HXSettingsRow storedChoice(int tag, const char* title, const char* key) {
    return {.tag = tag, .title = title, .kind = Kind::Value, .source = Source::Default, .key = key};
}
HXSettingsRow own(int tag, const char* title) {
    return {.tag = tag, .title = title, .kind = Kind::Value, .source = Source::Own};
}

const std::vector<HXSettingsRow>& rows() {
    static const std::vector<HXSettingsRow> table{
        service(100, "Do not Disturb", Setting::DND, flag(&Q::dndEnabled, &Q::setDndEnabled)),
        service(101, "Call Screening", Setting::DirectConnect, flag(&Q::directConnect, &Q::setDirectConnect), true),
        kept({.tag = 102,
              .title = "Incoming Caller ID",
              .kind = Kind::Value,
              .source = Source::Service,
              .setting = Setting::HXasCID},
             flag(&Q::useHXasCID, &Q::setUseHXasCID)),
        own(103, ""),
        service(104, "Transcribe Voicemails", Setting::VMtranscription,
                flag(&Q::VMtranscription, &Q::setVMtranscription)),
        application(105, "Graphical Emoticons", Pref::GraphicalEmoticons),
        application(106, "Automatic Refresh", Pref::AutoRefresh, true, triState(&Q::autoRefresh, &Q::setAutoRefresh)),
        application(107, "Message Sounds", Pref::NewMessageAlert, true,
                    triState(&Q::messageSounds, &Q::setMessageSounds)),
        stored(108, "Call from Contact", keyOf(HXPreference::SkipDialpad)),
        own(109, "Clear Caches\u2026"),
        service(110, "Forward Voicemails", Setting::VMEmailNotification,
                flag(&Q::emailNotificationVM, &Q::setEmailNotificationVM)),
        service(111, "Forward SMS", Setting::SMSEmailNotification,
                flag(&Q::emailNotificationSMS, &Q::setEmailNotificationSMS)),
        service(112, "Missed Calls", Setting::MissedCallsEmailNotification,
                flag(&Q::emailNotificationMissedCalls, &Q::setEmailNotificationMissedCalls)),
        own(113, "Credit Balance"),
        own(114, ""),
        own(115, "VM Greeting"),
        stored(116, "Prefetch VM Audio", keyOf(HXPreference::PrefetchVoicemail), true, nullptr,
               triState(&Q::prefetchVM, &Q::setPrefetchVM)),
        own(117, "Quick Settings"),
        stored(118, "Shake to Refresh", keyOf(HXPreference::ShakeRefresh)),
        storedChoice(119, "Contacts Button", keyOf(HXPreference::OpenToFavorites)),
        storedChoice(120, "SMS Return Key", keyOf(HXPreference::SMSReturnKeySend)),
        service(121, "Global SPAM Filter", Setting::GlobalSpamFiltering),
        service(122, "Call Options", Setting::CallOptions, flag(&Q::callOptions, &Q::setCallOptions)),
        application(123, "Notes in Message Lists", Pref::ShowNotesInMessageLists),
        own(124, "Passcode Lock"),
        // The preset editor's location row.
        own(125, ""),
        storedChoice(126, "App Icon Badge", "badgeType"),
        stored(127, "Show SMS & VM in History", "showFullHistory", false, "kHistoryItemsSettingDidChangeNotification"),
        stored(128, "Show SMS Counts", keyOf(HXPreference::ShowMessageCounts)),
        stored(131, "Native Actions in Contacts", keyOf(HXPreference::NativeDialerActions)),
        own(132, "Notification Types"),
    };
    return table;
}

const std::vector<HXSettingsChoice>& choices() {
    static const std::vector<HXSettingsChoice> table{
        {102, "Number to show as Caller ID for incoming calls", {"Caller's number", "My HX number"}},
        {119,
         "Select the primary action when pressing the contacts button (the secondary action can be accessed by "
         "holding down the button)",
         {"Contacts", "Favorites"}},
        {120,
         "The return key on the keyboard when composing a new SMS can enter a new line (return) or send the message.",
         {"Return", "Send"}},
        {126,
         "The application badge icon will show the number of unread items for the selected category. You can "
         "completely disable the application badge icon in the 'Notification Center' settings in the Settings "
         "application.",
         {"SMS", "Voicemail", "All"}},
    };
    return table;
}

}  // namespace

const HXSettingsRow* HXSettingsRowForTag(int tag) {
    for (const auto& row : rows())
        if (row.tag == tag) return &row;
    return nullptr;
}

const HXSettingsChoice* HXSettingsChoiceForTag(int tag) {
    for (const auto& choice : choices())
        if (choice.tag == tag) return &choice;
    return nullptr;
}

std::vector<HXSettingsSection> HXSettingsLayout(const HXSettingsShape& shape) {
    using ID = HXSettingsSectionID;
    std::vector<HXSettingsSection> layout;
    if (!shape.hasNumber) return layout;
    layout.push_back({ID::QuickSettings, nullptr, {117}});
    layout.push_back({ID::Service, nullptr, {113, 100, 101, 104, 102, 115, 122, 121}});
    if (shape.realPhones > 0) layout.push_back({ID::StartCallsFrom, "Start Calls From", {103}});
    if (shape.phones > 0)
        layout.push_back({ID::CallForwarding, "Call Forwarding", std::vector<int>(shape.phones, 114)});
    layout.push_back({ID::Email, "Email Notifications", {110, 111, 112}});
    layout.push_back({ID::App,
                      "HX Connect Settings",
                      {106, 107, 105, 108, 131, 116, 118, 123, 127, 128, 119, 120, 126, 132, 124, 109}});
    return layout;
}

std::vector<HXSettingsSection> HXPresetLayout(const HXPresetShape& shape) {
    using ID = HXSettingsSectionID;
    std::vector<HXSettingsSection> layout;
    if (shape.location) layout.push_back({ID::Location, "Location Awareness", {125}});
    layout.push_back({ID::Service, "Account Settings", {100, 101, 104, 102, 115, 122}});
    if (shape.phones > 0) {
        layout.push_back({ID::StartCallsFrom, "Start Calls From", {103}});
        layout.push_back({ID::CallForwarding, "Call Forwarding", std::vector<int>(shape.phones, 114)});
    }
    layout.push_back({ID::Email, "Email Notifications", {110, 111, 112}});
    layout.push_back({ID::App, "HX Connect Settings", {106, 107, 116}});
    return layout;
}

long HXSettingsSectionForTag(const std::vector<HXSettingsSection>& layout, int tag) {
    if (tag < 99 || tag > 132) return 0;
    for (size_t s = 0; s < layout.size(); ++s)
        for (int t : layout[s].tags)
            if (t == tag) return static_cast<long>(s);
    return -1;
}

std::optional<toolkit::IndexPath> HXSettingsIndexPathForTag(const std::vector<HXSettingsSection>& layout, int tag) {
    if (tag < 99 || tag > 132) return std::nullopt;
    const long section = HXSettingsSectionForTag(layout, tag);
    if (section < 0) return toolkit::IndexPath{-1, -1};
    const auto& tags = layout[static_cast<size_t>(section)].tags;
    for (size_t r = 0; r < tags.size(); ++r)
        if (tags[r] == tag) return toolkit::IndexPath{section, static_cast<long>(r)};
    return toolkit::IndexPath{-1, -1};
}

std::optional<int> HXSettingsTagAt(const std::vector<HXSettingsSection>& layout, const toolkit::IndexPath& path) {
    if (path.section < 0 || path.row < 0 || static_cast<size_t>(path.section) >= layout.size()) return std::nullopt;
    const auto& tags = layout[static_cast<size_t>(path.section)].tags;
    if (static_cast<size_t>(path.row) >= tags.size()) return std::nullopt;
    return tags[static_cast<size_t>(path.row)];
}

bool HXSettingsSwitchValue(const HXSettingsRow& row, const HX_Account* account, const HXAccountSettingsRole* role) {
    bool value = false;
    switch (row.source) {
        case Source::Service:
            value = account && (account->*HXServiceSettingInfoFor(row.setting).current)();
            break;
        case Source::Application:
            value = role && role->preference(row.preference);
            break;
        case Source::Default:
            value = hxsettings::defaults()->boolForKey(row.key);
            break;
        case Source::Own:
            break;
    }
    return row.inverted ? !value : value;
}

bool HXSettingsSwitchValue(const HXSettingsRow& row, const HX_QuickSetting& preset) {
    bool value = false;
    if (row.presetFlag)
        value = (preset.*row.presetFlag)();
    else if (row.presetTriState)
        value = (preset.*row.presetTriState)() == 2;
    return row.inverted ? !value : value;
}

long HXSettingsChoiceIndex(const HXSettingsRow& row, const HX_Account* account) {
    if (row.source == Source::Service)
        return account && (account->*HXServiceSettingInfoFor(row.setting).current)() ? 1 : 0;
    return row.key ? static_cast<long>(hxsettings::defaults()->integerForKey(row.key)) : 0;
}

long HXSettingsChoiceIndex(const HXSettingsRow& row, const HX_QuickSetting& preset) {
    return row.presetFlag && (preset.*row.presetFlag)() ? 1 : 0;
}

std::string HXSettingsChoiceText(const HXSettingsChoice& choice, long index) {
    if (index < 0 || static_cast<size_t>(index) >= choice.options.size()) return {};
    return hxsettings::text(choice.options[static_cast<size_t>(index)]);
}

bool HXFlipPresetValue(const HXSettingsRow& row, HX_QuickSetting& preset) {
    if (row.presetFlag && row.setPresetFlag) {
        (preset.*row.setPresetFlag)(!(preset.*row.presetFlag)());
        return true;
    }
    if (row.presetTriState && row.setPresetTriState) {
        (preset.*row.setPresetTriState)((preset.*row.presetTriState)() == 2 ? 1 : 2);
        return true;
    }
    return false;
}

std::string HXNotificationTypesText(long long mask) {
    const long long bits = mask & 7;
    if (bits == 0) return "None";
    if (bits == 7) return "All";
    static constexpr std::array<const char*, 3> kNames{"SMS", "VM", "Missed Calls"};
    std::string text;
    for (size_t i = 0; i < kNames.size(); ++i) {
        if (!(bits & (1LL << i))) continue;
        text += text.empty() ? "" : ", ";
        text += kNames[i];
    }
    return text;
}
