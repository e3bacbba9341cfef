#include "ui/settings/vc_qs_location.h"

#include "model/phone_extensions.h"
#include "platform/foundation/application.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/user_defaults.h"
#include "platform/services/location_manager.h"
#include "platform/toolkit/alert_controller.h"
#include "platform/toolkit/controls.h"
#include "ui/settings/settings_support.h"
#include "ui/widgets/table_row_changes.h"
#include "ui/widgets/toggle_cell.h"

using namespace hxsettings;

namespace {

using services::LocationAuthorization;

LocationAuthorization status() { return services::LocationManager::authorizationStatus(); }

}  // namespace

VC_QSLocation::VC_QSLocation(Roles roles, toolkit::TableViewStyle style)
    : toolkit::TableViewController(style), roles_(std::move(roles)) {
    setTitle(text("Locations"));
    hidesBottomBarWhenPushed = true;
}

VC_QSLocation::~VC_QSLocation() {
    auto& center = foundation::NotificationCenter::defaultCenter();
    center.removeObserver(this);
    center.removeObserver(&following_);
}

std::shared_ptr<services::LocationManager> VC_QSLocation::manager() const {
    auto role = roles_.quickSettings.lock();
    return role ? role->locationManager() : nullptr;
}

void VC_QSLocation::followForeground(bool follow) {
    auto& center = foundation::NotificationCenter::defaultCenter();
    center.removeObserver(&following_);
    following_ = follow;
    auto m = manager();
    if (!m) return;
    if (!follow) {
        m->stopUpdatingLocation();
        return;
    }
    m->startUpdatingLocation();
    std::weak_ptr<services::LocationManager> weak = m;
    center.addObserver(&following_, foundation::kApplicationDidEnterBackgroundNotification,
                       [weak](const foundation::Notification&) {
                           if (auto m = weak.lock()) m->stopUpdatingLocation();
                       });
    center.addObserver(&following_, foundation::kApplicationWillEnterForegroundNotification,
                       [weak](const foundation::Notification&) {
                           if (auto m = weak.lock()) m->startUpdatingLocation();
                       });
}

void VC_QSLocation::viewWillAppear(bool animated) {
    toolkit::TableViewController::viewWillAppear(animated);
    tableView()->bounces = false;
    auto& center = foundation::NotificationCenter::defaultCenter();
    center.removeObserver(this, "kLocationAuthorizationStatusChangedNotification");
    auto weak = weakSelf<VC_QSLocation>();
    center.addObserver(this, "kLocationAuthorizationStatusChangedNotification",
                       [weak](const foundation::Notification&) {
                           if (auto self = weak.lock()) self->locationAuthorizationUpdated(false);
                       });
    if (status() == LocationAuthorization::Always && awarenessOn()) followForeground(true);
    tableView()->reloadData();
    shown_ = shownNow();
}

std::vector<HXShownRow> VC_QSLocation::shownNow() {
    auto& table = *tableView();
    std::vector<HXShownRow> sections{
        {"awareness", (awarenessOn() ? "on\n" : "off\n") + titleForFooter(table, 0).value_or("")}};
    if (awarenessOn())
        sections.push_back({"notify", (defaults()->boolForKey("sendQSLocationChangeNotifications") ? "on\n" : "off\n") +
                                          titleForFooter(table, 1).value_or("")});
    return sections;
}

void VC_QSLocation::showChanges() {
    auto now = shownNow();
    if (isViewLoaded() && shown_) (void)hxShowSectionChanges(*tableView(), HXShownChanges(*shown_, now), false);
    shown_ = std::move(now);
}

void VC_QSLocation::viewDidDisappear(bool animated) {
    toolkit::TableViewController::viewDidDisappear(animated);
    if (status() == LocationAuthorization::Always && awarenessOn()) followForeground(false);
    foundation::NotificationCenter::defaultCenter().removeObserver(this,
                                                                   "kLocationAuthorizationStatusChangedNotification");
}

void VC_QSLocation::toggleLocationAwareness() {
    // The tap moved the switch: its section is drawn again from the preference, whatever follows.
    if (shown_ && !shown_->empty()) shown_->front().content.clear();
    auto role = roles_.quickSettings.lock();
    const auto effective = awarenessOn() ? LocationAuthorization::Always : status();
    if (effective != LocationAuthorization::Always) {
        const auto now = status();
        if (now == LocationAuthorization::Restricted || now == LocationAuthorization::Denied) {
            auto alert = toolkit::AlertController::make(
                text("Location not Available"),
                text("Please make sure that location services are enabled and that HX Connect is allowed access to "
                     "your current location in the Settings application."),
                toolkit::AlertControllerStyle::Alert);
            (void)alert->addAction(
                toolkit::AlertAction::make(PhoneExtensions::localizedString("OK"), toolkit::AlertActionStyle::Cancel));
            std::weak_ptr<HXAlertsRole> weakAlerts = roles_.alerts;
            (void)alert->addAction(toolkit::AlertAction::make(text("Settings"), toolkit::AlertActionStyle::Default,
                                                              [weakAlerts](toolkit::AlertAction&) {
                                                                  if (auto r = weakAlerts.lock())
                                                                      r->openApplicationSettings();
                                                              }));
            if (auto alerts = roles_.alerts.lock(); role && alerts) alerts->presentAlert(alert, this);
        } else if (now == LocationAuthorization::NotDetermined) {
            auto& center = foundation::NotificationCenter::defaultCenter();
            center.removeObserver(this, "kLocationAuthorizationReceivedNotification");
            auto weak = weakSelf<VC_QSLocation>();
            center.addObserver(this, "kLocationAuthorizationReceivedNotification",
                               [weak](const foundation::Notification&) {
                                   if (auto self = weak.lock()) self->locationAuthorizationUpdated(true);
                               });
            if (auto m = manager()) {
                m->requestAlwaysAuthorization();
                m->startUpdatingLocation();
            }
        }
    } else {
        (void)defaults()->setBool(!awarenessOn(), "useQSLocation");
    }
    if (status() != LocationAuthorization::Always) {
        showChanges();
        return;
    }
    auto m = manager();
    if (!awarenessOn()) {
        followForeground(false);
        if (m)
            for (const auto& region : m->monitoredRegions()) m->stopMonitoringForRegion(*region);
    } else {
        followForeground(true);
        if (role) role->monitorQuickSettingRegions();
    }
    showChanges();
}

void VC_QSLocation::toggleLocationNotifications() {
    (void)defaults()->setBool(!defaults()->boolForKey("sendQSLocationChangeNotifications"),
                              "sendQSLocationChangeNotifications");
}

void VC_QSLocation::locationAuthorizationUpdated(bool requestAnswered) {
    if (requestAnswered) {
        foundation::NotificationCenter::defaultCenter().removeObserver(this,
                                                                       "kLocationAuthorizationReceivedNotification");
        if (status() == LocationAuthorization::Always) {
            (void)defaults()->setBool(true, "useQSLocation");
            // Granted from the prompt: the presets' regions are registered at once rather than at
            // the next launch.
            if (auto role = roles_.quickSettings.lock()) role->monitorQuickSettingRegions();
            followForeground(true);
        }
    }
    showChanges();
}

long VC_QSLocation::numberOfSections(toolkit::TableView&) { return awarenessOn() ? 2 : 1; }

toolkit::TableViewCellPtr VC_QSLocation::cellForRow(toolkit::TableView&, toolkit::IndexPath ip) {
    // A new cell for every display: its switch shows the preference as it is now.
    auto cell = std::make_shared<ToggleCell>(toolkit::TableViewCellStyle::Default, "ToggleCell");
    cell->setSelectionStyle(toolkit::CellSelectionStyle::None);
    auto weak = weakSelf<VC_QSLocation>();
    if (ip.section == 0) {
        cell->textLabel().setText(text("Location Awareness"));
        cell->onOff->setOn(awarenessOn());
        cell->onOff->addAction(
            [weak](toolkit::Control&, const toolkit::Event*) {
                if (auto self = weak.lock()) self->toggleLocationAwareness();
            },
            toolkit::kValueChanged);
    } else {
        cell->textLabel().setText(text("Notify on Changes"));
        cell->onOff->setOn(defaults()->boolForKey("sendQSLocationChangeNotifications"));
        cell->onOff->addAction(
            [weak](toolkit::Control&, const toolkit::Event*) {
                if (auto self = weak.lock()) self->toggleLocationNotifications();
            },
            toolkit::kValueChanged);
    }
    return cell;
}

std::optional<std::string> VC_QSLocation::titleForFooter(toolkit::TableView&, long section) {
    if (section == 1) return text("Display a notification every time an automatic settings change is triggered.");
    const auto now = status();
    if (now == LocationAuthorization::Restricted || now == LocationAuthorization::Denied ||
        now == LocationAuthorization::WhenInUse) {
        return text(
            "In order for Location Awareness to work, the application requires \"Always\" access to location services "
            "so it can be notified of location changes.\n\nThe application currently has limited or no access — "
            "please grant full access in the \"Privacy\" section of the \"Settings\" application.");
    }
    return text(
        "The application will automatically update settings (e.g., enable forwarding numbers) based on the current "
        "location.\n\nEach Quick Setting can have a location assigned to it — upon reaching that location the "
        "application automatically enables the settings associated with that Quick Setting.");
}
