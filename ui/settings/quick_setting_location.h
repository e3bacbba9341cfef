// What the quick-settings screens show of a preset's location and read and write of the account's
// stored presets.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include <functional>

class HX_Account;
class HX_QuickSetting;
class HXAlertsRole;
namespace toolkit {
class ViewController;
}

// The location label of a preset: its region's title (or subtitle), ", Default" after it for the
// account's default, "Default" alone for a default without region, else "No Location".
std::string locationLabelForSetting(const HX_QuickSetting& setting, bool isDefault);

// The stored preset of that name, unarchived; none when there is none or it does not read.
std::shared_ptr<HX_QuickSetting> storedQuickSetting(const HX_Account& account, const std::string& name);
// Archives setting and stores it under name (replacing what was there); false when it cannot be
// archived or its region is no place (a latitude, longitude or radius out of range), and then
// nothing is stored. A stored preset whose region does not read comes back without its region.
bool storeQuickSetting(HX_Account& account, const std::string& name, const HX_QuickSetting& setting);

// Whether region monitoring is available on this device.
bool regionMonitoringAvailable();

// An alert with one text field (focused), "Cancel" and "OK", presented from a screen through the
// alerts role; ok gets the field's text.
void presentTextFieldAlert(HXAlertsRole& alerts, toolkit::ViewController& from, const std::string& title,
                           const std::optional<std::string>& message, const std::string& placeholder,
                           std::function<void(const std::string& text)> ok);
