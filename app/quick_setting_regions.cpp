#include "app/quick_setting_regions.h"

#include "model/account.h"
#include "model/quick_setting.h"

void monitorQuickSettingRegions(services::LocationManager& manager,
                                const std::map<std::string, foundation::Data>& quickSettings, bool hasDefault,
                                const std::function<bool()>& stop) {
    for (const auto& [name, archive] : quickSettings) {
        if (stop && stop()) return;
        auto preset = HX_QuickSetting::unarchived(archive);
        if (!preset.ok() || !preset.value() || !preset.value()->region()) continue;
        auto region = preset.value()->region()->copy();
        region->setNotifyOnExit(hasDefault);
        manager.startMonitoringForRegion(*region);
    }
}

void renewExitNotifications(services::LocationManager& manager, bool notifyOnExit, bool awarenessOn) {
    for (const auto& region : manager.monitoredRegions()) {
        region->setNotifyOnExit(notifyOnExit);
        if (awarenessOn) manager.startMonitoringForRegion(*region);
    }
}

bool monitorsRegionOtherThan(const services::LocationManager* manager, const std::string& identifier) {
    if (!manager) return false;
    for (const auto& region : manager->monitoredRegions())
        if (region->identifier() != identifier) return true;
    return false;
}

bool dropDefaultWithoutOtherLocation(HX_Account& account, services::LocationManager* manager, bool awarenessOn) {
    const auto& name = account.defaultQS();
    if (!name || monitorsRegionOtherThan(manager, *name)) return false;
    account.setDefaultQS(std::nullopt);
    if (manager) renewExitNotifications(*manager, false, awarenessOn);
    return true;
}
