#include "ui/settings/quick_setting_location.h"

#include "model/account.h"
#include "model/quick_setting.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/format.h"
#include "platform/services/location_manager.h"

std::string locationLabelForSetting(const HX_QuickSetting& setting, bool isDefault) {
    std::optional<std::string> place;
    if (setting.region()) {
        place = setting.regionTitle() ? setting.regionTitle() : setting.regionSubtitle();
        if (!place) place = std::string();
    }
    const std::string defaultText = foundation::localizedString("Default");
    if (isDefault)
        return place ? foundation::format(foundation::localizedString("%@, %@"), *place, defaultText) : defaultText;
    return place ? *place : foundation::localizedString("No Location");
}

std::shared_ptr<HX_QuickSetting> storedQuickSetting(const HX_Account& account, const std::string& name) {
    const auto entry = account.quickSettings().find(name);
    if (entry == account.quickSettings().end()) return nullptr;
    auto read = HX_QuickSetting::unarchived(entry->second);
    return read.ok() ? read.value() : nullptr;
}

bool storeQuickSetting(HX_Account& account, const std::string& name, const HX_QuickSetting& setting) {
    auto archive = setting.archived();
    if (!archive.ok()) return false;
    account.quickSettings()[name] = std::move(archive.value());
    return true;
}

bool regionMonitoringAvailable() {
    return services::LocationManager::isMonitoringAvailableForClass(services::CircularRegion::kClassName);
}
