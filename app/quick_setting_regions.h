// Region monitoring of the stored quick settings: the one rule by which the launch, the location
// awareness switch and the quick-settings list register the presets' regions, and the renewal of
// the monitored regions' exit notification when the account's default preset changes. Plain
// functions over a location manager, so the launch may run the rule on a background queue.
#pragma once

#include <functional>
#include <map>
#include <string>

#include "platform/foundation/value.h"
#include "platform/services/location_manager.h"

class HX_Account;

// For every stored preset that has a region: notify on exit exactly when hasDefault, then monitor
// it. stop, asked before each preset, ends the registration early (the app went to the
// background). Presets whose archive does not read are passed over.
void monitorQuickSettingRegions(services::LocationManager& manager,
                                const std::map<std::string, foundation::Data>& quickSettings, bool hasDefault,
                                const std::function<bool()>& stop = {});

// Every monitored region notifies on exit exactly when notifyOnExit; with awareness on the
// regions are monitored again so the change takes effect.
void renewExitNotifications(services::LocationManager& manager, bool notifyOnExit, bool awarenessOn);

// Whether the manager monitors a region whose identifier is not identifier (an empty manager
// pointer monitors none).
bool monitorsRegionOtherThan(const services::LocationManager* manager, const std::string& identifier);

// The account's default is kept only while another location than the default's own is
// monitored; otherwise it is cleared and the monitored regions stop notifying on exit. Answers
// whether the default was cleared.
bool dropDefaultWithoutOtherLocation(HX_Account& account, services::LocationManager* manager, bool awarenessOn);
