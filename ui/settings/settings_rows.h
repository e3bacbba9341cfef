// The settings rows as data: each row tag with its title, what it shows (a switch or a value),
// where its value lives (the account's service settings, the application's preferences, a stored
// preference, or a choice among named options) and how a preset keeps it; and the sections,
// which rows they hold and when they are present. One table serves both screens that show the
// rows: the settings screen (VC_Settings) reads the account's values, the preset editor
// (VC_QSDetails) a preset's; each layout is a pure function of a shape.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/roles/screen_roles.h"
#include "platform/toolkit/geometry.h"
#include "service/settings_updates.h"

class HX_Account;
class HX_QuickSetting;

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
    // How a preset keeps the value: a flag (a service setting), or a tri-state (0 not kept, 1 off,
    // 2 on: the app preferences a preset holds); neither where a preset keeps none.
    bool (HX_QuickSetting::*presetFlag)() const = nullptr;
    void (HX_QuickSetting::*setPresetFlag)(bool) = nullptr;
    int64_t (HX_QuickSetting::*presetTriState)() const = nullptr;
    void (HX_QuickSetting::*setPresetTriState)(int64_t) = nullptr;
};

// A row whose value is one of several named options, chosen in an action sheet.
struct HXSettingsChoice {
    int tag;
    const char* sheetTitle;
    std::vector<const char*> options;
};

// The row of a tag; none for a tag neither screen shows.
const HXSettingsRow* HXSettingsRowForTag(int tag);
// The choice of a tag's row; none for rows that offer none.
const HXSettingsChoice* HXSettingsChoiceForTag(int tag);

enum class HXSettingsSectionID { QuickSettings, Location, Service, StartCallsFrom, CallForwarding, Email, App };

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
// What the preset editor's layout depends on: whether regions can be monitored, and the preset's
// phones.
struct HXPresetShape {
    bool location = false;
    size_t phones = 0;
};
// The editor's sections, in order: the location, the account settings, the callback choice and
// the forwarding per phone (with phones), the e-mail forwarding and the app preferences a preset
// keeps.
std::vector<HXSettingsSection> HXPresetLayout(const HXPresetShape& shape);

// The section of a tag in layout: -1 for 99 and 125 and a tag whose section is absent; 0 for a
// tag outside 99-132.
long HXSettingsSectionForTag(const std::vector<HXSettingsSection>& layout, int tag);
// (-1, -1) for 99 and 125; a tag outside 99-132 gives none.
std::optional<toolkit::IndexPath> HXSettingsIndexPathForTag(const std::vector<HXSettingsSection>& layout, int tag);
// The tag of the row at path in layout; none for a path outside it.
std::optional<int> HXSettingsTagAt(const std::vector<HXSettingsSection>& layout, const toolkit::IndexPath& path);

// ---- a row's value, read for the account or for a preset

// A switch row as shown (the inverse for an inverted row), from the account's service settings,
// the application's preferences or the stored preferences.
bool HXSettingsSwitchValue(const HXSettingsRow& row, const HX_Account* account, const HXAccountSettingsRole* role);
// The same from a preset: a flag as it stands, a tri-state on only at 2; off where the preset
// keeps no value of the row.
bool HXSettingsSwitchValue(const HXSettingsRow& row, const HX_QuickSetting& preset);
// The index of a choice row's current option: a service setting's flag, or the stored index.
long HXSettingsChoiceIndex(const HXSettingsRow& row, const HX_Account* account);
// The same from a preset (0 where it keeps no value of the row).
long HXSettingsChoiceIndex(const HXSettingsRow& row, const HX_QuickSetting& preset);
// The localized text of a choice's option; "" for an index it does not offer.
std::string HXSettingsChoiceText(const HXSettingsChoice& choice, long index);
// Flips a preset's value of row: a flag inverted, a tri-state 1 when it was 2 and 2 otherwise.
// False where the preset keeps no value of the row.
bool HXFlipPresetValue(const HXSettingsRow& row, HX_QuickSetting& preset);

// The text of the "notificationTypes" bits (1 SMS, 2 voicemail, 4 missed calls).
std::string HXNotificationTypesText(long long mask);
