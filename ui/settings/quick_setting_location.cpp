#include "ui/settings/quick_setting_location.h"

#include "app/roles/screen_roles.h"
#include "model/account.h"
#include "model/phone_extensions.h"
#include "model/quick_setting.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/format.h"
#include "platform/services/location_manager.h"
#include "platform/toolkit/alert_controller.h"
#include "platform/toolkit/text_input.h"
#include "ui/widgets/caret_navigation.h"

std::string locationLabelForSetting(const HX_QuickSetting& setting, bool isDefault) {
    using foundation::localizedString;
    std::optional<std::string> place;
    if (setting.region()) {
        place = setting.regionTitle() ? setting.regionTitle() : setting.regionSubtitle();
        if (!place) place = std::string();
    }
    if (isDefault)
        return place ? foundation::format(localizedString("%@, %@"), *place, localizedString("Default"))
                     : localizedString("Default");
    return place ? *place : localizedString("No Location");
}

std::shared_ptr<HX_QuickSetting> storedQuickSetting(const HX_Account& account, const std::string& name) {
    const auto entry = account.quickSettings().find(name);
    if (entry == account.quickSettings().end()) return nullptr;
    auto read = HX_QuickSetting::unarchived(entry->second);
    return read.ok() ? read.value() : nullptr;
}

bool storeQuickSetting(HX_Account& account, const std::string& name, const HX_QuickSetting& setting) {
    // A region that is no place would be stored but never read back.
    if (setting.region() && !setting.region()->isValid()) return false;
    auto archive = setting.archived();
    if (!archive.ok()) return false;
    account.quickSettings()[name] = std::move(archive.value());
    return true;
}

bool regionMonitoringAvailable() {
    return services::LocationManager::isMonitoringAvailableForClass(services::CircularRegion::kClassName);
}

void presentTextFieldAlert(HXAlertsRole& alerts, toolkit::ViewController& from, const std::string& title,
                           const std::optional<std::string>& message, const std::string& placeholder,
                           std::function<void(const std::string& text)> ok) {
    auto alert = toolkit::AlertController::make(title, message, toolkit::AlertControllerStyle::Alert);
    (void)alert->addTextField([&](toolkit::TextField& field) {
        field.setPlaceholder(placeholder);
        field.autocapitalizationType = toolkit::AutocapitalizationType::Words;
    });
    (void)alert->addAction(
        toolkit::AlertAction::make(PhoneExtensions::localizedString("Cancel"), toolkit::AlertActionStyle::Cancel));
    std::weak_ptr<toolkit::AlertController> weakAlert = alert;
    (void)alert->addAction(toolkit::AlertAction::make(PhoneExtensions::localizedString("OK"),
                                                      toolkit::AlertActionStyle::Default,
                                                      [weakAlert, ok = std::move(ok)](toolkit::AlertAction&) {
                                                          auto shown = weakAlert.lock();
                                                          if (shown && !shown->textFields().empty() && ok)
                                                              ok(shown->textFields()[0]->text());
                                                      }));
    // Swipes over the alert move the field's caret.
    if (!alert->textFields().empty()) (void)hxcAddGestureNavigationToTextInput(*alert->textFields()[0], *alert->view());
    alerts.presentAlert(alert, &from);
    if (!alert->textFields().empty()) alert->textFields()[0]->becomeFirstResponder();
}
