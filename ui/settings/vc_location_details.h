// Gives one quick setting a place: a circle from the current location, a contact's address or a
// typed address, shown on a map whose radius the user drags; or a beacon region. It also makes
// the preset the account's default (applied on leaving any location) and removes the location.
// Every change is stored at once and announced with "kQuickSettingUpdatedNotification".
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/roles/screen_roles.h"
#include "platform/services/geocoder.h"
#include "platform/services/postal_address.h"
#include "platform/system_screens/map_view.h"
#include "platform/toolkit/table_view_controller.h"
#include "ui/settings/shown_rows.h"

class HX_QuickSetting;
namespace system_screens {
class ContactPickerDelegate;
}
namespace toolkit {
class AlertController;
class PanGestureRecognizer;
}  // namespace toolkit

class VC_LocationDetails : public toolkit::TableViewController,
                           public system_screens::MapAnnotation,
                           public system_screens::MapViewDelegate {
public:
    struct Roles {
        std::weak_ptr<HXQuickSettingsRole> quickSettings;
        std::weak_ptr<HXAlertsRole> alerts;
        std::weak_ptr<HXStoreRole> store;
    };
    VC_LocationDetails(Roles roles, std::string settingName);
    ~VC_LocationDetails() override;
    std::string className() const override { return "VC_LocationDetails"; }

    const std::string& QSettingName() const { return QSettingName_; }
    const std::shared_ptr<HX_QuickSetting>& QSetting() const { return QSetting_; }
    const std::shared_ptr<system_screens::MapCircle>& circle() const { return circle_; }

    // Logical rows of the location section: 0 current location, 1 contacts, 2 address, 3 beacon.
    toolkit::IndexPath indexPathForHXIndexPath(int row) const;
    static bool canUseBeacons();

    void viewWillAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;

    // ---- the header (map or beacon panel)
    std::shared_ptr<toolkit::View> mapHeaderView();
    void resetMapHeader();
    void addMapAnnotation();
    // The radius drag: the pan's state and where the finger is, in the map.
    void resizeRegion(toolkit::GestureState state, toolkit::Point location);
    // The distance of the nearest ranged beacon (metres; 0 or less: out of range).
    void updateBeaconRange(double accuracy);

    // ---- the sources of a place
    void useCurrentLocation();
    void geocodeAddress(const std::string& text);
    // A contact's address (its label as shown; "" for none) chosen in the picker.
    void didSelectAddress(const services::PostalAddress& address, const std::string& label,
                          const std::string& contactName);
    // The beacon alert's OK: the four fields as typed.
    void commitBeacon(const std::string& description, const std::string& uuid, const std::string& major,
                      const std::string& minor);
    // Whether the beacon alert's fields make a region: a UUID, and a major and minor each empty or
    // a whole number from 0 to 65535.
    static bool beaconFieldsValid(const std::string& uuid, const std::string& major, const std::string& minor);
    // A beacon's stored subtitle "UUID|major|minor" in its parts (at least three, missing ones
    // empty), and as the beacon panel describes it.
    static std::vector<std::string> beaconParts(const std::optional<std::string>& subtitle);
    static std::string beaconDescription(const std::optional<std::string>& subtitle);
    void toggleDefault();
    void removeLocation();
    static services::PostalAddress postalAddressFromAddressDictionary(const foundation::Dictionary& address);
    void handleGeocodeError(const foundation::Error& error);

    // The annotation (this screen is the map's pin: the map holds a stand-in that reads these, as
    // the map is inside this screen's views and holds its pins strongly).
    services::Coordinate coordinate() const override;
    std::optional<std::string> title() const override;
    std::optional<std::string> subtitle() const override;
    // The map's delegate.
    std::shared_ptr<system_screens::OverlayRenderer>
    rendererForOverlay(system_screens::MapView& map,
                       const std::shared_ptr<system_screens::MapOverlay>& overlay) override;
    std::optional<system_screens::PinStyle> viewForAnnotation(system_screens::MapView& map,
                                                              const system_screens::MapAnnotation& annotation) override;

    long numberOfSections(toolkit::TableView&) override;
    long numberOfRows(toolkit::TableView&, long section) override;
    toolkit::TableViewCellPtr cellForRow(toolkit::TableView& table, toolkit::IndexPath indexPath) override;
    std::optional<std::string> titleForFooter(toolkit::TableView&, long section) override;
    std::optional<toolkit::IndexPath> willSelectRow(toolkit::TableView&, toolkit::IndexPath indexPath) override;
    void didSelectRow(toolkit::TableView& table, toolkit::IndexPath indexPath) override;

    // The header's heights (points): map, beacon panel with and without ranging, shadow strip.
    static constexpr double kMapHeight = 190, kBeaconHeight = 120, kBeaconHeightNoRanging = 100, kShadowHeight = 19;

private:
    struct Pin;
    std::shared_ptr<system_screens::MapAnnotation> pin();
    std::shared_ptr<services::LocationManager> manager() const;
    std::shared_ptr<HX_Account> account() const;
    bool contactsAuthorized() const;
    system_screens::MapView* map() const;
    // The common tail after a new region: stored, monitored and shown.
    void commitRegion(const std::shared_ptr<services::Region>& region,
                      const std::optional<std::string>& titleBeforeStoring = std::nullopt);
    void store();
    void announce();
    // The reverse geocoding of a committed circle: the labels of the preset as stored then, only
    // while its region is still that circle (the user may have moved on meanwhile).
    void reverseGeocodeLabels(services::Coordinate centre, bool titleFromCoordinates);
    // Rewrites the stored preset's labels (and this screen's copy) when its region still is region.
    void relabel(const services::Region& region, const std::optional<std::optional<std::string>>& title,
                 const std::optional<std::optional<std::string>>& subtitle);
    std::shared_ptr<toolkit::View> buildBeaconHeader(double width);
    std::shared_ptr<toolkit::View> buildMapHeader(double width);
    void presentAddressAlert();
    void presentBeaconAlert();
    void presentContactPicker();
    void presentNoLocationAlert();
    void hideRadiusLater();
    // What each section shows (the default's check mark and whether it takes taps, the ways to
    // choose a place, the remove row), keyed by the section.
    std::vector<HXShownRow> shownNow();
    // Shows the sections that came, went or changed since they were last drawn.
    void showChanges();

    Roles roles_;
    std::string QSettingName_;
    std::shared_ptr<HX_QuickSetting> QSetting_;
    std::shared_ptr<toolkit::View> mapHeaderView_;
    std::shared_ptr<system_screens::MapCircle> circle_;
    std::weak_ptr<system_screens::MapView> map_;
    std::shared_ptr<system_screens::MapAnnotation> pin_;
    std::weak_ptr<toolkit::AlertController> beaconAlert_;
    services::Geocoder geocoder_;
    std::shared_ptr<system_screens::ContactPickerDelegate> pickerDelegate_;
    std::optional<std::vector<HXShownRow>> shown_;
};
