// The settings screen's rows as data: each row tag with its title, what it shows (a switch or a
// value) and where its value lives (the account's service settings, the application's
// preferences, a stored preference, or a choice among named options); and the sections, which
// rows they hold and when the account has them. The table controller (VC_Settings) reads these
// tables; the layout is a pure function of the account's shape.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/roles/screen_roles.h"
#include "platform/toolkit/geometry.h"
#include "service/settings_updates.h"

enum class HXSettingsRowKind { Switch, Value };

// Where a row's value lives.
enum class HXSettingsSource {
    // A service setting of the account (changed through a request).
    Service,
    // A preference of the application object.
    Application,
    // A stored preference (boolean, or the index of a choice).
    Default,
    // Worked out by the screen from the account (name of the callback phone, greeting, balance...).
    Own,
};

struct HXSettingsRow {
    int tag;
    // Empty where the title comes from the account (the callback phone, a linked phone).
    const char* title;
    HXSettingsRowKind kind;
    HXSettingsSource source;
    HXServiceSetting setting = HXServiceSetting::DND;
    HXAccountSettingsRole::Preference preference = HXAccountSettingsRole::Preference::AutoRefresh;
    // The stored preference's key.
    const char* key = nullptr;
    // The switch shows the inverse of the value ("Call Screening" is on while directConnect is off).
    bool inverted = false;
    // A change makes the quick-setting row look for its match again.
    bool changesQuickSetting = false;
    // Posted (without an object) after a change.
    const char* notification = nullptr;
};

// A row whose value is one of several named options, chosen in an action sheet.
struct HXSettingsChoice {
    int tag;
    const char* sheetTitle;
    std::vector<const char*> options;
};

// The row of a tag; none for a tag the screen never shows.
const HXSettingsRow* HXSettingsRowForTag(int tag);
// The choice of a tag's row; none for rows that offer none.
const HXSettingsChoice* HXSettingsChoiceForTag(int tag);

enum class HXSettingsSectionID { QuickSettings, Service, StartCallsFrom, CallForwarding, Email, App };

struct HXSettingsSection {
    HXSettingsSectionID id;
    // The header shown (none for the first two sections, whose header the screen makes).
    const char* header;
    // The tag of each row; the call-forwarding section repeats 114 once per linked phone.
    std::vector<int> tags;
};

// What the layout depends on.
struct HXSettingsShape {
    bool hasNumber = false;
    size_t realPhones = 0;
    size_t phones = 0;
};

// The sections present, in order; none without a service number.
std::vector<HXSettingsSection> HXSettingsLayout(const HXSettingsShape& shape);
// The section of a tag in layout: -1 for 99 and 125 and a tag whose section is absent; 0 for a
// tag outside 99-132.
long HXSettingsSectionForTag(const std::vector<HXSettingsSection>& layout, int tag);
// (-1, -1) for 99 and 125; a tag outside 99-132 gives none.
std::optional<toolkit::IndexPath> HXSettingsIndexPathForTag(const std::vector<HXSettingsSection>& layout, int tag);

// The text of the "notificationTypes" bits (1 SMS, 2 voicemail, 4 missed calls).
std::string HXNotificationTypesText(long long mask);
