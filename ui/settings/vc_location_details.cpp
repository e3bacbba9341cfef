#include "ui/settings/vc_location_details.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "app/quick_setting_regions.h"
#include "app/views.h"
#include "model/account.h"
#include "model/phone_extensions.h"
#include "model/quick_setting.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/dates.h"
#include "platform/foundation/format.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/strings.h"
#include "platform/foundation/user_defaults.h"
#include "platform/foundation/uuid.h"
#include "platform/graphics/font.h"
#include "platform/services/contacts.h"
#include "platform/services/location_manager.h"
#include "platform/system_screens/contact_picker.h"
#include "platform/toolkit/alert_controller.h"
#include "platform/toolkit/controls.h"
#include "platform/toolkit/gesture_recognizer.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/pasteboard.h"
#include "platform/toolkit/text_input.h"
#include "ui/settings/hx_resizable_circle_renderer.h"
#include "ui/settings/quick_setting_location.h"
#include "ui/settings/settings_support.h"
#include "ui/widgets/table_row_changes.h"

using namespace hxsettings;

namespace {

using services::BeaconRegion;
using services::CircularRegion;
using Renderer = HXResizableMKCircleRenderer;

constexpr double kMinimumRadius = 100.0;
constexpr int kMapTag = 1, kDistanceTag = 2;

std::string coordinatesText(services::Coordinate c) {
    return foundation::format(text("Latitude: %.4F, Longitude: %.4F"), c.latitude, c.longitude);
}

std::string trimmed(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

// A beacon's major or minor as typed: false unless the field is empty (out stays none) or a
// whole number from 0 to 65535 (out holds it).
bool parseBeaconNumber(const std::string& typed, std::optional<uint16_t>& out) {
    out.reset();
    const std::string t = trimmed(typed);
    if (t.empty()) return true;
    unsigned value = 0;
    const auto [end, error] = std::from_chars(t.data(), t.data() + t.size(), value);
    if (error != std::errc() || end != t.data() + t.size() || value > 65535) return false;
    out = static_cast<uint16_t>(value);
    return true;
}

bool sameRegion(const services::Region& a, const services::Region& b) {
    if (a.identifier() != b.identifier() || a.className() != b.className()) return false;
    if (auto* ca = dynamic_cast<const CircularRegion*>(&a)) {
        auto* cb = dynamic_cast<const CircularRegion*>(&b);
        return ca->center() == cb->center() && ca->radius() == cb->radius();
    }
    auto* ba = dynamic_cast<const BeaconRegion*>(&a);
    auto* bb = dynamic_cast<const BeaconRegion*>(&b);
    return ba->proximityUUID() == bb->proximityUUID() && ba->major() == bb->major() && ba->minor() == bb->minor();
}

}  // namespace

// The contact picker's answers, handed to the screen while it lives.
class HXLocationContactPickerDelegate final : public system_screens::ContactPickerDelegate {
public:
    explicit HXLocationContactPickerDelegate(std::weak_ptr<VC_LocationDetails> screen) : screen_(std::move(screen)) {}
    bool takesContactProperties() const override { return true; }
    void contactPickerDidSelectContact(system_screens::ContactPickerViewController&,
                                       const services::Contact& c) override {
        auto screen = screen_.lock();
        if (!screen || c.postalAddresses.empty()) return;
        const auto& first = c.postalAddresses.front();
        screen->didSelectAddress(first.value, services::localizedStringForLabel(first.label),
                                 services::ContactFormatter::fullName(c).value_or(""));
    }
    void contactPickerDidSelectContactProperty(system_screens::ContactPickerViewController&,
                                               const system_screens::ContactProperty& property) override {
        auto screen = screen_.lock();
        if (!screen || property.key != services::kContactPostalAddressesKey) return;
        screen->didSelectAddress(property.address.value, services::localizedStringForLabel(property.address.label),
                                 services::ContactFormatter::fullName(property.contact).value_or(""));
    }

private:
    std::weak_ptr<VC_LocationDetails> screen_;
};

VC_LocationDetails::VC_LocationDetails(Roles roles, std::string settingName)
    : toolkit::TableViewController(toolkit::TableViewStyle::Grouped),
      roles_(std::move(roles)),
      QSettingName_(std::move(settingName)) {
    setTitle(QSettingName_);
    hidesBottomBarWhenPushed = true;
}

VC_LocationDetails::~VC_LocationDetails() { foundation::NotificationCenter::defaultCenter().removeObserver(this); }

std::shared_ptr<services::LocationManager> VC_LocationDetails::manager() const {
    auto role = roles_.quickSettings.lock();
    return role ? role->locationManager() : nullptr;
}

std::shared_ptr<HX_Account> VC_LocationDetails::account() const {
    auto role = roles_.quickSettings.lock();
    auto alerts = roles_.alerts.lock();
    return role && alerts ? alerts->account() : nullptr;
}

bool VC_LocationDetails::contactsAuthorized() const {
    return services::ContactStore::authorizationStatus() == services::AuthorizationStatus::Authorized;
}

bool VC_LocationDetails::canUseBeacons() {
    return services::LocationManager::isMonitoringAvailableForClass(BeaconRegion::kClassName);
}

toolkit::IndexPath VC_LocationDetails::indexPathForHXIndexPath(int row) const {
    const long contacts = contactsAuthorized() ? 1 : 0;
    switch (row) {
        case 0:
            return {1, 0};
        case 1:
            return contacts ? toolkit::IndexPath{1, 1} : toolkit::IndexPath{-1, -1};
        case 2:
            return {1, 1 + contacts};
        case 3:
            return canUseBeacons() ? toolkit::IndexPath{1, 2 + contacts} : toolkit::IndexPath{-1, -1};
        default:
            return {-1, -1};
    }
}

void VC_LocationDetails::viewWillAppear(bool animated) {
    toolkit::TableViewController::viewWillAppear(animated);
    Renderer::dragStartOffset.store(-1);
    auto a = account();
    QSetting_ = a ? storedQuickSetting(*a, QSettingName_) : nullptr;
    if (!QSetting_) QSetting_ = std::make_shared<HX_QuickSetting>();
    setTitle(QSettingName_);
    resetMapHeader();
    tableView()->reloadData();
    shown_ = shownNow();
}

void VC_LocationDetails::viewWillDisappear(bool animated) {
    toolkit::TableViewController::viewWillDisappear(animated);
    if (auto m = manager())
        for (const auto& region : m->rangedRegions()) m->stopRangingBeaconsInRegion(*region);
    foundation::NotificationCenter::defaultCenter().removeObserver(this);
    if (auto store = roles_.store.lock()) store->requestReview();
}

// ---- storing

void VC_LocationDetails::store() {
    if (auto a = account(); a && QSetting_) storeQuickSetting(*a, QSettingName_, *QSetting_);
}

void VC_LocationDetails::announce() {
    foundation::NotificationCenter::defaultCenter().post("kQuickSettingUpdatedNotification",
                                                         std::make_shared<std::string>(QSettingName_));
}

void VC_LocationDetails::commitRegion(const std::shared_ptr<services::Region>& region,
                                      const std::optional<std::string>& titleBeforeStoring) {
    auto a = account();
    if (!a || !QSetting_) return;
    QSetting_->setRegion(region);
    if (!a->defaultQS()) region->setNotifyOnExit(false);
    if (auto m = manager(); m && awarenessOn()) m->startMonitoringForRegion(*region);
    if (titleBeforeStoring) QSetting_->setRegionTitle(titleBeforeStoring);
    store();
    announce();
    resetMapHeader();
    showChanges();
}

void VC_LocationDetails::relabel(const services::Region& region, const std::optional<std::optional<std::string>>& title,
                                 const std::optional<std::optional<std::string>>& subtitle) {
    auto a = account();
    if (!a) return;
    // The stored preset is the one to change: the editor may have saved other fields since, and
    // the user may have given it another place meanwhile.
    auto stored = storedQuickSetting(*a, QSettingName_);
    if (!stored || !stored->region() || !sameRegion(*stored->region(), region)) return;
    if (title) stored->setRegionTitle(*title);
    if (subtitle) stored->setRegionSubtitle(*subtitle);
    storeQuickSetting(*a, QSettingName_, *stored);
    if (QSetting_ && QSetting_->region() && sameRegion(*QSetting_->region(), region)) {
        if (title) QSetting_->setRegionTitle(*title);
        if (subtitle) QSetting_->setRegionSubtitle(*subtitle);
        addMapAnnotation();
    }
    announce();
}

void VC_LocationDetails::reverseGeocodeLabels(services::Coordinate centre, bool titleFromCoordinates) {
    if (!QSetting_ || !QSetting_->region()) return;
    auto region = QSetting_->region()->copy();
    auto weak = weakSelf<VC_LocationDetails>();
    geocoder_.reverseGeocodeLocation(
        centre, [weak, region, centre, titleFromCoordinates](const std::vector<services::Placemark>& found,
                                                             const std::optional<foundation::Error>& error) {
            auto self = weak.lock();
            if (!self) return;
            if (error || found.empty()) {
                if (error) self->handleGeocodeError(*error);
                if (titleFromCoordinates)
                    self->relabel(*region, std::optional<std::string>(coordinatesText(centre)), std::nullopt);
                else
                    self->relabel(*region, std::nullopt, std::optional<std::string>(coordinatesText(centre)));
                return;
            }
            const auto& place = found.front();
            std::string subtitle =
                services::mailingAddressString(postalAddressFromAddressDictionary(place.addressDictionary));
            if (!titleFromCoordinates && !place.name.empty() && subtitle.starts_with(place.name)) {
                subtitle = subtitle.substr(place.name.size());
                subtitle.erase(0, subtitle.find_first_not_of("\r\n"));
            }
            if (trimmed(subtitle).empty()) subtitle = coordinatesText(centre);
            self->relabel(*region, std::optional<std::string>(place.name), std::optional<std::string>(subtitle));
        });
}

// ---- the sources

void VC_LocationDetails::presentNoLocationAlert() {
    auto alert = toolkit::AlertController::make(text("Location Request Failed"),
                                                text("The current location is not known yet — please try again in a "
                                                     "moment."),
                                                toolkit::AlertControllerStyle::Alert);
    (void)alert->addAction(
        toolkit::AlertAction::make(PhoneExtensions::localizedString("OK"), toolkit::AlertActionStyle::Default));
    if (auto alerts = roles_.alerts.lock()) alerts->presentAlert(alert, this);
}

void VC_LocationDetails::useCurrentLocation() {
    auto m = manager();
    const auto fix = m ? m->location() : std::nullopt;
    // Without a fix there is no place to store: a circle at 0°, 0° would be applied elsewhere.
    if (!fix) {
        presentNoLocationAlert();
        return;
    }
    auto a = account();
    if (!a || !QSetting_) return;
    auto region = std::make_shared<CircularRegion>(fix->coordinate, kMinimumRadius, QSettingName_);
    QSetting_->setRegion(region);
    QSetting_->setRegionSubtitle(std::string());
    if (!a->defaultQS()) region->setNotifyOnExit(false);
    if (m && awarenessOn()) m->startMonitoringForRegion(*region);
    store();
    reverseGeocodeLabels(fix->coordinate, true);
    announce();
    if (auto role = roles_.quickSettings.lock()) role->selectQuickSettingWithName(QSettingName_);
    resetMapHeader();
    showChanges();
}

void VC_LocationDetails::geocodeAddress(const std::string& typed) {
    if (typed.empty()) return;
    auto weak = weakSelf<VC_LocationDetails>();
    geocoder_.geocodeAddressString(
        typed, [weak](const std::vector<services::Placemark>& found, const std::optional<foundation::Error>& error) {
            auto self = weak.lock();
            if (!self) return;
            if (error || found.empty()) {
                if (error) self->handleGeocodeError(*error);
                return;
            }
            const auto& place = found.front();
            auto region = std::make_shared<CircularRegion>(place.coordinate, std::max(place.radius, kMinimumRadius),
                                                           self->QSettingName_);
            self->commitRegion(region, place.name);
            self->reverseGeocodeLabels(place.coordinate, false);
        });
}

void VC_LocationDetails::didSelectAddress(const services::PostalAddress& address, const std::string& label,
                                          const std::string& contactName) {
    auto a = account();
    if (!a || !QSetting_) return;
    const auto previousTitle = QSetting_->regionTitle();
    const auto previousSubtitle = QSetting_->regionSubtitle();
    const std::string subtitle = services::mailingAddressString(address);
    std::string title = contactName;
    if (!label.empty()) title += foundation::format(" (%@)", label);
    QSetting_->setRegionSubtitle(subtitle);
    QSetting_->setRegionTitle(title);
    addMapAnnotation();
    store();
    announce();
    const auto regionBefore = QSetting_->region() ? QSetting_->region()->copy() : nullptr;
    auto weak = weakSelf<VC_LocationDetails>();
    geocoder_.geocodeAddressString(subtitle, [weak, previousTitle, previousSubtitle, title, subtitle,
                                              regionBefore](const std::vector<services::Placemark>& found,
                                                            const std::optional<foundation::Error>& error) {
        auto self = weak.lock();
        if (!self) return;
        auto a = self->account();
        auto stored = a ? storedQuickSetting(*a, self->QSettingName_) : nullptr;
        // Only while the labels are still this address's (nothing else was chosen meanwhile).
        const bool ours = stored && stored->regionTitle() == title && stored->regionSubtitle() == subtitle;
        if (error || found.empty()) {
            if (error) self->handleGeocodeError(*error);
            // The address names no place: the labels go back to those of the place still stored.
            if (ours) {
                stored->setRegionTitle(previousTitle);
                stored->setRegionSubtitle(previousSubtitle);
                storeQuickSetting(*a, self->QSettingName_, *stored);
                self->QSetting_ = stored;
                self->addMapAnnotation();
                self->announce();
            }
            return;
        }
        if (!ours) return;
        self->QSetting_ = stored;
        const auto& place = found.front();
        self->commitRegion(std::make_shared<CircularRegion>(place.coordinate, std::max(place.radius, kMinimumRadius),
                                                            self->QSettingName_));
    });
}

bool VC_LocationDetails::beaconFieldsValid(const std::string& uuid, const std::string& major,
                                           const std::string& minor) {
    std::optional<uint16_t> number;
    return foundation::UUID::parse(trimmed(uuid)).has_value() && parseBeaconNumber(major, number) &&
           parseBeaconNumber(minor, number);
}

void VC_LocationDetails::commitBeacon(const std::string& description, const std::string& uuidText,
                                      const std::string& majorText, const std::string& minorText) {
    if (!QSetting_) return;
    const auto uuid = foundation::UUID::parse(trimmed(uuidText));
    std::optional<uint16_t> major, minor;
    // A number out of range would monitor another beacon than the one shown: nothing is kept.
    if (!uuid || !parseBeaconNumber(majorText, major) || !parseBeaconNumber(minorText, minor)) return;
    const std::string uuidString = foundation::uppercase(uuid->string());
    QSetting_->setRegionTitle(description.empty() ? text("iBeacon") : description);
    const std::optional<uint16_t> minorKept = major ? minor : std::nullopt;
    QSetting_->setRegionSubtitle(foundation::format("%@|%@|%@", uuidString,
                                                    major ? std::to_string(*major) : std::string(),
                                                    minorKept ? std::to_string(*minorKept) : std::string()));
    commitRegion(std::make_shared<BeaconRegion>(uuidString, major, minorKept, QSettingName_));
}

void VC_LocationDetails::toggleDefault() {
    auto a = account();
    if (!a) return;
    a->setDefaultQS(a->defaultQS() == QSettingName_ ? std::nullopt : std::optional(QSettingName_));
    tableView()->reloadRows({{0, 0}}, toolkit::RowAnimation::Automatic);
    if (shown_ && !shown_->empty()) shown_->front() = shownNow().front();
    if (auto m = manager()) renewExitNotifications(*m, a->defaultQS().has_value(), awarenessOn());
    announce();
}

void VC_LocationDetails::removeLocation() {
    auto a = account();
    if (!a || !QSetting_) return;
    auto m = manager();
    if (m && QSetting_->region()) m->stopMonitoringForRegion(*QSetting_->region());
    QSetting_->setRegion(nullptr);
    QSetting_->setRegionTitle(std::nullopt);
    QSetting_->setRegionSubtitle(std::nullopt);
    store();
    dropDefaultWithoutOtherLocation(*a, m.get(), awarenessOn());
    resetMapHeader();
    showChanges();
    announce();
}

services::PostalAddress VC_LocationDetails::postalAddressFromAddressDictionary(const foundation::Dictionary& d) {
    const auto get = [&](const char* key) {
        const auto* v = d.find(key);
        return v && v->isString() ? v->stringValue() : std::string();
    };
    return {.street = get("Street"),
            .city = get("City"),
            .state = get("State"),
            .postalCode = get("ZIP"),
            .country = get("Country"),
            .isoCountryCode = get("countryCode")};
}

void VC_LocationDetails::handleGeocodeError(const foundation::Error& error) {
    std::optional<std::string> message;
    if (error.domain == services::kLocationErrorDomain) {
        switch (error.code) {
            case services::kLocationErrorNetwork:
                message = text("Unable to connect to the server — please check your internet connection and try again");
                break;
            case services::kLocationErrorGeocodeFoundNoResult:
                message = text("No results found for the requested address — please add additional details and try "
                               "again");
                break;
            case services::kLocationErrorGeocodeFoundPartialResult:
                message = text("Could not determine an address for the requested location — using GPS coordinates");
                break;
            default:
                break;
        }
    }
    auto alert =
        toolkit::AlertController::make(text("Location Request Failed"), message, toolkit::AlertControllerStyle::Alert);
    (void)alert->addAction(
        toolkit::AlertAction::make(PhoneExtensions::localizedString("OK"), toolkit::AlertActionStyle::Default));
    if (auto alerts = roles_.alerts.lock()) alerts->presentAlert(alert, this);
}

std::vector<std::string> VC_LocationDetails::beaconParts(const std::optional<std::string>& subtitle) {
    std::vector<std::string> parts;
    const std::string s = subtitle.value_or("");
    size_t start = 0;
    while (true) {
        const auto bar = s.find('|', start);
        parts.push_back(s.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
        if (bar == std::string::npos) break;
        start = bar + 1;
    }
    parts.resize(std::max<size_t>(parts.size(), 3));
    return parts;
}

std::string VC_LocationDetails::beaconDescription(const std::optional<std::string>& subtitle) {
    const auto parts = beaconParts(subtitle);
    return foundation::format(text("UUID: %@\n%@%@"), parts[0],
                              parts[1].empty() ? std::string() : foundation::format(text("Major: %@"), parts[1]),
                              !parts[1].empty() && !parts[2].empty() ? foundation::format(text(", Minor: %@"), parts[2])
                                                                     : std::string());
}

// ---- alerts and the picker

void VC_LocationDetails::presentAddressAlert() {
    auto alerts = roles_.alerts.lock();
    if (!alerts) return;
    auto weak = weakSelf<VC_LocationDetails>();
    presentTextFieldAlert(*alerts, *this, text("Enter Address"), std::nullopt, text("1 Market Street, Springfield"),
                          [weak](const std::string& typed) {
                              if (auto self = weak.lock()) self->geocodeAddress(typed);
                          });
}

void VC_LocationDetails::presentBeaconAlert() {
    auto role = roles_.quickSettings.lock();
    if (!role || !QSetting_) return;
    const bool beacon = dynamic_cast<const BeaconRegion*>(QSetting_->region().get()) != nullptr;
    const auto parts = beaconParts(QSetting_->regionSubtitle());
    std::optional<std::string> initial;
    if (beacon && !QSetting_->regionSubtitle().value_or("").empty())
        initial = parts[0];
    else
        initial = toolkit::Pasteboard::general().string();
    std::optional<foundation::UUID> uuid = initial ? foundation::UUID::parse(*initial) : std::nullopt;
    auto alert = toolkit::AlertController::make(text("Enter iBeacon Info"),
                                                text("Without a 'Minor' ID, all iBeacons with the specified UUID and "
                                                     "'Major' ID match. Without a 'Major' ID, all "
                                                     "iBeacons with the given UUID match."),
                                                toolkit::AlertControllerStyle::Alert);
    const std::string title = QSetting_->regionTitle().value_or("");
    const bool keepTitle = beacon && !title.empty() && title != text("iBeacon");
    std::weak_ptr<toolkit::AlertController> weakAlert = alert;
    // OK (the last action) is enabled while the fields make a region.
    auto validate = [weakAlert](toolkit::Control&, const toolkit::Event*) {
        auto shown = weakAlert.lock();
        if (!shown || shown->textFields().size() < 4 || shown->actions().empty()) return;
        const auto& f = shown->textFields();
        shown->actions().back()->setEnabled(beaconFieldsValid(f[1]->text(), f[2]->text(), f[3]->text()));
    };
    (void)alert->addTextField([&](toolkit::TextField& f) {
        f.setPlaceholder(text("Description (optional)"));
        f.autocapitalizationType = toolkit::AutocapitalizationType::Words;
        if (keepTitle) f.setText(title);
    });
    (void)alert->addTextField([&](toolkit::TextField& f) {
        f.setPlaceholder("UUID (required)");
        f.autocapitalizationType = toolkit::AutocapitalizationType::AllCharacters;
        if (uuid) f.setText(foundation::uppercase(uuid->string()));
        f.addAction(validate, toolkit::kEditingChanged);
    });
    (void)alert->addTextField([&](toolkit::TextField& f) {
        f.setPlaceholder(text("Major (optional)"));
        if (beacon) f.setText(parts[1]);
        f.addAction(validate, toolkit::kEditingChanged);
    });
    (void)alert->addTextField([&](toolkit::TextField& f) {
        f.setPlaceholder(text("Minor (optional)"));
        if (beacon) f.setText(parts[2]);
        f.addAction(validate, toolkit::kEditingChanged);
    });
    (void)alert->addAction(
        toolkit::AlertAction::make(PhoneExtensions::localizedString("Cancel"), toolkit::AlertActionStyle::Cancel));
    auto weak = weakSelf<VC_LocationDetails>();
    auto ok = toolkit::AlertAction::make(PhoneExtensions::localizedString("OK"), toolkit::AlertActionStyle::Default,
                                         [weak, weakAlert](toolkit::AlertAction&) {
                                             auto self = weak.lock();
                                             auto shown = weakAlert.lock();
                                             if (!self || !shown || shown->textFields().size() < 4) return;
                                             const auto& f = shown->textFields();
                                             self->commitBeacon(f[0]->text(), f[1]->text(), f[2]->text(), f[3]->text());
                                         });
    (void)alert->addAction(ok);
    ok->setEnabled(uuid.has_value() && beaconFieldsValid(alert->textFields()[1]->text(), alert->textFields()[2]->text(),
                                                         alert->textFields()[3]->text()));
    beaconAlert_ = alert;
    if (auto alerts = roles_.alerts.lock()) alerts->presentAlert(alert, this);
}

void VC_LocationDetails::presentContactPicker() {
    auto role = roles_.quickSettings.lock();
    auto* navigation = navigationController();
    auto alerts = roles_.alerts.lock();
    if (!role || !alerts || alerts->isABAccessRestricted() || !navigation) return;
    auto picker = std::make_shared<system_screens::ContactPickerViewController>();
    picker->displayedPropertyKeys = {services::kContactPostalAddressesKey};
    (void)picker->setPredicateForEnablingContact("postalAddresses.@count > 0");
    (void)picker->setPredicateForSelectionOfContact("postalAddresses.@count = 1");
    pickerDelegate_ = std::make_shared<HXLocationContactPickerDelegate>(weakSelf<VC_LocationDetails>());
    picker->delegate = pickerDelegate_;
    picker->modalPresentationStyle = toolkit::ModalPresentationStyle::FormSheet;
    navigation->present(picker, true);
}

// ---- the table

std::vector<HXShownRow> VC_LocationDetails::shownNow() {
    auto a = account();
    const bool isDefault = a && a->defaultQS() == QSettingName_;
    const bool other = monitorsRegionOtherThan(manager().get(), QSettingName_);
    std::vector<HXShownRow> sections{
        {"default", std::string(isDefault ? "checked" : "") + (other ? " touch" : "")},
        {"choose", std::string(contactsAuthorized() ? "contacts" : "") + (canUseBeacons() ? " beacons" : "")}};
    if (QSetting_ && QSetting_->region()) sections.push_back({"remove", ""});
    return sections;
}

void VC_LocationDetails::showChanges() {
    auto now = shownNow();
    if (isViewLoaded() && shown_) (void)hxShowSectionChanges(*tableView(), HXShownChanges(*shown_, now), false);
    shown_ = std::move(now);
}

long VC_LocationDetails::numberOfSections(toolkit::TableView&) { return QSetting_ && QSetting_->region() ? 3 : 2; }

long VC_LocationDetails::numberOfRows(toolkit::TableView&, long section) {
    if (section == 1) return 2 + (contactsAuthorized() ? 1 : 0) + (canUseBeacons() ? 1 : 0);
    return 1;
}

toolkit::TableViewCellPtr VC_LocationDetails::cellForRow(toolkit::TableView& table, toolkit::IndexPath ip) {
    auto cell = table.dequeueReusableCell("Cell");
    if (!cell) cell = std::make_shared<toolkit::TableViewCell>(toolkit::TableViewCellStyle::Default, "Cell");
    cell->textLabel().setTextColor(toolkit::Device::current().systemVersionAtLeast(13) ? toolkit::Color::label()
                                                                                       : toolkit::Color::black());
    cell->setAccessoryType(toolkit::CellAccessoryType::None);
    cell->setUserInteractionEnabled(true);
    if (ip.section == 0) {
        auto a = account();
        cell->textLabel().setText(text("Default"));
        if (a && a->defaultQS() == QSettingName_) cell->setAccessoryType(toolkit::CellAccessoryType::Checkmark);
        const bool other = monitorsRegionOtherThan(manager().get(), QSettingName_);
        cell->setUserInteractionEnabled(other);
        if (!other) cell->textLabel().setTextColor(toolkit::Color::systemGray());
    } else if (ip.section == 1) {
        for (int row = 0; row < 4; ++row) {
            if (indexPathForHXIndexPath(row) != ip) continue;
            static const char* const kTitles[] = {"Current Location", "Select from Contacts…", "Enter Address…",
                                                  "Near iBeacon…"};
            cell->textLabel().setText(text(kTitles[row]));
            if (row > 0) cell->setAccessoryType(toolkit::CellAccessoryType::DisclosureIndicator);
        }
    } else {
        cell->textLabel().setText(text("Remove Location"));
    }
    return cell;
}

std::optional<std::string> VC_LocationDetails::titleForFooter(toolkit::TableView&, long section) {
    if (section != 0) return std::nullopt;
    return text(
        "The setting marked as default will be selected when leaving any of the selected locations — this requires "
        "at least one other location to be defined.");
}

std::optional<toolkit::IndexPath> VC_LocationDetails::willSelectRow(toolkit::TableView&, toolkit::IndexPath ip) {
    if (ip.section == 0 && !monitorsRegionOtherThan(manager().get(), QSettingName_)) return std::nullopt;
    return ip;
}

void VC_LocationDetails::didSelectRow(toolkit::TableView& table, toolkit::IndexPath ip) {
    table.deselectRow(ip, true);
    if (ip.section == 0) {
        toggleDefault();
    } else if (ip.section == 2) {
        removeLocation();
    } else if (ip == indexPathForHXIndexPath(0)) {
        useCurrentLocation();
    } else if (ip == indexPathForHXIndexPath(1)) {
        presentContactPicker();
    } else if (ip == indexPathForHXIndexPath(2)) {
        presentAddressAlert();
    } else if (ip == indexPathForHXIndexPath(3)) {
        presentBeaconAlert();
    }
}

// ---- the header

services::Coordinate VC_LocationDetails::coordinate() const {
    auto* circle = QSetting_ ? dynamic_cast<const CircularRegion*>(QSetting_->region().get()) : nullptr;
    return circle ? circle->center() : services::Coordinate{};
}

std::optional<std::string> VC_LocationDetails::title() const {
    if (!QSetting_) return std::nullopt;
    return QSetting_->regionTitle() ? QSetting_->regionTitle() : QSetting_->regionSubtitle();
}

std::optional<std::string> VC_LocationDetails::subtitle() const {
    if (!QSetting_ || !QSetting_->regionTitle()) return std::nullopt;
    return QSetting_->regionSubtitle();
}

system_screens::MapView* VC_LocationDetails::map() const { return map_.lock().get(); }

std::shared_ptr<toolkit::View> VC_LocationDetails::buildBeaconHeader(double width) {
    const bool ranging = canUseBeacons();
    auto header =
        std::make_shared<toolkit::View>(toolkit::Rect{0, 0, width, ranging ? kBeaconHeight : kBeaconHeightNoRanging});
    header->setAutoresizingMask(toolkit::kFlexibleWidth);
    auto image = std::make_shared<toolkit::ImageView>(hxBarImageNamed("iBeacon"));
    image->setFrame({15, 15, 60, 60});
    header->addSubview(image);
    auto titleLabel = std::make_shared<toolkit::Label>(toolkit::Rect{90, 10, width - 100, 20});
    titleLabel->setText(QSetting_->regionTitle().value_or(""));
    header->addSubview(titleLabel);
    const std::string detail = beaconDescription(QSetting_->regionSubtitle());
    auto detailLabel = std::make_shared<toolkit::Label>(toolkit::Rect{90, 35, width - 100, 60});
    detailLabel->setFont(
        toolkit::Font::preferred(graphics::TextStyle::footnote, toolkit::Device::current().contentSizeCategory()));
    detailLabel->setNumberOfLines(3);
    detailLabel->setLineBreakMode(graphics::LineBreakMode::charWrap);
    detailLabel->setText(detail);
    header->addSubview(detailLabel);
    if (ranging) {
        auto region = std::dynamic_pointer_cast<BeaconRegion>(QSetting_->region());
        if (auto m = manager(); m && region) m->startRangingBeaconsInRegion(*region);
        auto distance = std::make_shared<toolkit::Label>(toolkit::Rect{90, 95, width - 100, 20});
        distance->setTag(kDistanceTag);
        distance->setFont(
            toolkit::Font::preferred(graphics::TextStyle::footnote, toolkit::Device::current().contentSizeCategory()));
        distance->setText(foundation::format(text("Approximate Distance: %@"), text("Out of range")));
        header->addSubview(distance);
        auto& center = foundation::NotificationCenter::defaultCenter();
        center.removeObserver(this, "kBeaconRangingInformationReceivedNotification");
        auto weak = weakSelf<VC_LocationDetails>();
        center.addObserver(this, "kBeaconRangingInformationReceivedNotification",
                           [weak](const foundation::Notification& n) {
                               auto beacon = std::static_pointer_cast<services::Beacon>(n.object);
                               auto self = weak.lock();
                               if (self && beacon) self->updateBeaconRange(beacon->accuracy);
                           });
    }
    return header;
}

std::shared_ptr<toolkit::View> VC_LocationDetails::buildMapHeader(double width) {
    auto* circle = dynamic_cast<const CircularRegion*>(QSetting_->region().get());
    Renderer::drawnRadius.store(circle->radius());
    auto map = std::make_shared<system_screens::MapView>(toolkit::Rect{0, 0, width, kMapHeight});
    map->setTag(kMapTag);
    map->mapType = system_screens::MapType::Standard;
    map->scrollEnabled = map->zoomEnabled = map->rotateEnabled = map->pitchEnabled = false;
    map->setShowsUserLocation(true);
    if (auto m = manager())
        if (auto fix = m->location()) map->setUserLocation(fix->coordinate);
    map->setAutoresizingMask(toolkit::kFlexibleWidth);
    map->setDelegate(std::shared_ptr<system_screens::MapViewDelegate>(shared_from_this(), this));
    auto weak = weakSelf<VC_LocationDetails>();
    auto pan = std::make_shared<toolkit::PanGestureRecognizer>([weak](toolkit::GestureRecognizer& g) {
        auto self = weak.lock();
        if (self && g.view()) self->resizeRegion(g.state(), g.locationInView(g.view()));
    });
    pan->minimumNumberOfTouches = 1;
    pan->maximumNumberOfTouches = 1;
    map->addGestureRecognizer(pan);
    const double span = 2.5 * Renderer::drawnRadius.load();
    map->setRegion(circle->center(), span, span, true);
    map_ = map;
    return map;
}

std::shared_ptr<toolkit::View> VC_LocationDetails::mapHeaderView() {
    if (!mapHeaderView_ && QSetting_ && QSetting_->region()) {
        const double width = view()->bounds().size.width;
        const bool beacon = dynamic_cast<const BeaconRegion*>(QSetting_->region().get()) != nullptr;
        auto header = beacon ? buildBeaconHeader(width) : buildMapHeader(width);
        const double height = header->frame().size.height;
        auto shadow = std::make_shared<toolkit::ImageView>(hxBarImageNamed("SearchShadow"));
        shadow->setFrame({0, height, width, kShadowHeight});
        shadow->setAutoresizingMask(toolkit::kFlexibleWidth);
        auto container = std::make_shared<toolkit::View>(toolkit::Rect{0, 0, width, height + kShadowHeight});
        container->addSubview(header);
        container->addSubview(shadow);
        Renderer::setLineWidthBasis(-width);
        mapHeaderView_ = container;
    }
    return mapHeaderView_;
}

void VC_LocationDetails::resetMapHeader() {
    mapHeaderView_.reset();
    map_.reset();
    circle_.reset();
    tableView()->setTableHeaderView(mapHeaderView());
    addMapAnnotation();
}

void VC_LocationDetails::addMapAnnotation() {
    auto* map = this->map();
    auto* region = QSetting_ ? dynamic_cast<const CircularRegion*>(QSetting_->region().get()) : nullptr;
    if (!map || !region) return;
    if (circle_) map->removeOverlay(circle_);
    map->removeAnnotation(pin().get());
    circle_ = std::make_shared<system_screens::MapCircle>(region->center(), Renderer::drawnRadius.load());
    map->addOverlay(circle_);
    map->addAnnotation(pin());
    map->selectAnnotation(pin(), true);
}

// The pin the map keeps: this screen's place and labels, read through a weak link (the screen
// owns the map through its views).
struct VC_LocationDetails::Pin : system_screens::MapAnnotation {
    explicit Pin(std::weak_ptr<const VC_LocationDetails> screen) : screen_(std::move(screen)) {}
    services::Coordinate coordinate() const override {
        auto s = screen_.lock();
        return s ? s->coordinate() : services::Coordinate{};
    }
    std::optional<std::string> title() const override {
        auto s = screen_.lock();
        return s ? s->title() : std::nullopt;
    }
    std::optional<std::string> subtitle() const override {
        auto s = screen_.lock();
        return s ? s->subtitle() : std::nullopt;
    }

private:
    std::weak_ptr<const VC_LocationDetails> screen_;
};

std::shared_ptr<system_screens::MapAnnotation> VC_LocationDetails::pin() {
    if (!pin_) pin_ = std::make_shared<Pin>(weakSelf<VC_LocationDetails>());
    return pin_;
}

std::shared_ptr<system_screens::OverlayRenderer>
VC_LocationDetails::rendererForOverlay(system_screens::MapView&,
                                       const std::shared_ptr<system_screens::MapOverlay>& overlay) {
    auto circle = std::dynamic_pointer_cast<system_screens::MapCircle>(overlay);
    if (!circle) return nullptr;
    auto renderer = std::make_shared<Renderer>(circle);
    renderer->setStrokeColor(toolkit::Color::systemBlue().withAlphaComponent(0.7));
    renderer->setLineWidth(4.0);
    renderer->setFillColor(toolkit::Color::systemBlue().withAlphaComponent(0.2));
    renderer->setRadius(Renderer::drawnRadius.load());
    return renderer;
}

std::optional<system_screens::PinStyle> VC_LocationDetails::viewForAnnotation(system_screens::MapView&,
                                                                              const system_screens::MapAnnotation& a) {
    if (&a != pin_.get()) return std::nullopt;
    return system_screens::PinStyle{.tint = toolkit::Color::systemBlue(), .showsCallout = true};
}

void VC_LocationDetails::resizeRegion(toolkit::GestureState state, toolkit::Point p) {
    auto* map = this->map();
    auto* region = QSetting_ ? dynamic_cast<const CircularRegion*>(QSetting_->region().get()) : nullptr;
    if (!map || !region) return;
    const auto size = map->bounds().size;
    const double cx = size.width / 2, cy = size.height / 2;
    const double r = region->radius();
    const auto centre = region->center();
    if (state == toolkit::GestureState::Began && std::fabs(p.y - cy) < 40.0 && p.x > cx) {
        const auto touch = map->mapPointForPoint(p);
        const auto middle = services::mapPointForCoordinate(centre);
        const double d = (touch.x - middle.x) / services::mapPointsPerMeterAtLatitude(centre.latitude);
        if (std::fabs(d / Renderer::drawnRadius.load() - 1) < 0.3) Renderer::dragStartOffset.store(p.x - cx);
    }
    const double start = Renderer::dragStartOffset.load();
    if (start < 0) return;
    const bool ended = state == toolkit::GestureState::Ended || state == toolkit::GestureState::Cancelled;
    const double radius = std::max(kMinimumRadius, r * (p.x - cx) / start);
    if (ended || std::fabs(radius / Renderer::drawnRadius.load() - 1) >= 0.05) {
        Renderer::drawnRadius.store(radius);
        if (circle_) map->removeOverlay(circle_);
        circle_ = std::make_shared<system_screens::MapCircle>(centre, radius);
        map->addOverlay(circle_);
        if (auto renderer = std::dynamic_pointer_cast<Renderer>(map->rendererForOverlay(map->overlays().front())))
            renderer->setShowRadius(true);
    }
    if (!ended) return;
    Renderer::setLineWidthBasis(-(mapHeaderView_ ? mapHeaderView_->bounds().size.width : size.width));
    hideRadiusLater();
    Renderer::dragStartOffset.store(-1);
    const double span = 2.5 * Renderer::drawnRadius.load();
    map->setRegion(centre, span, span, true);
    auto resized = std::make_shared<CircularRegion>(centre, Renderer::drawnRadius.load(), QSettingName_);
    if (auto a = account(); a && !a->defaultQS()) resized->setNotifyOnExit(false);
    QSetting_->setRegion(resized);
    if (auto m = manager(); m && awarenessOn()) m->startMonitoringForRegion(*resized);
    store();
}

void VC_LocationDetails::hideRadiusLater() {
    auto* map = this->map();
    if (!map || map->overlays().empty()) return;
    // The renderer is held until then, whatever the map does meanwhile.
    auto renderer = std::dynamic_pointer_cast<Renderer>(map->rendererForOverlay(map->overlays().front()));
    if (!renderer) return;
    dispatch::Queue::main()->after(1.5, [renderer] {
        renderer->setShowRadius(false);
        renderer->setNeedsDisplay();
    });
}

void VC_LocationDetails::updateBeaconRange(double accuracy) {
    std::string distance = text("Out of Range");
    if (accuracy > 0) {
        const bool metric = foundation::usesMetricSystem(foundation::currentLocaleIdentifier());
        distance = metric ? foundation::format("%0.1f\u00a0m", accuracy)
                          : foundation::format("%0.1f\u00a0feet", accuracy * 3.2808);
    }
    auto weak = weakSelf<VC_LocationDetails>();
    dispatch::Queue::main()->async([weak, distance] {
        auto self = weak.lock();
        auto header = self ? self->mapHeaderView_ : nullptr;
        auto* label = header ? dynamic_cast<toolkit::Label*>(header->viewWithTag(kDistanceTag)) : nullptr;
        if (label) label->setText(foundation::format(text("Approximate distance: %@"), distance));
    });
}
