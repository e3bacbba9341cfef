// The location of a quick setting: its four sources, the default, removal, the map header with its
// radius drag and the beacon panel, on a signed-in phone with a placemark table for geocoding.
#include <gtest/gtest.h>

#include <random>

#include "app/connect_app_delegate_ipad.h"
#include "app/connect_app_delegate_iphone.h"
#include "model/account.h"
#include "model/quick_setting.h"
#include "platform/foundation/dates.h"
#include "platform/foundation/files.h"
#include "platform/foundation/format.h"
#include "platform/foundation/json.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/user_defaults.h"
#include "platform/graphics/codecs.h"
#include "platform/graphics/graphics_context.h"
#include "platform/services/contacts.h"
#include "platform/services/geocoder.h"
#include "platform/services/location_manager.h"
#include "platform/toolkit/alert_controller.h"
#include "platform/toolkit/controls.h"
#include "platform/toolkit/navigation_controller.h"
#include "tests/support/alert_caret.h"
#include "tests/support/screen_fixture.h"
#include "tests/support/shell_recorder.h"
#include "tests/ui/settings/standard_defaults.h"
#include "ui/settings/hx_resizable_circle_renderer.h"
#include "ui/settings/quick_setting_location.h"
#include "ui/settings/vc_location_details.h"
#include "ui/shell/ui_screens.h"

namespace {

using services::LocationAuthorization;
using services::LocationFeed;
using Phone = hxtest::RecordedApp<HX_ConnectAppDelegate_iPhone>;
using Tablet = hxtest::RecordedApp<HX_ConnectAppDelegate_iPad>;
using Renderer = HXResizableMKCircleRenderer;

constexpr services::Coordinate kHere{48.2082, 16.3738};
const char* kUUID = "E2C56DB5-DFFB-48D2-B060-D0F5A71096E0";
const char* kPlaces = R"({"placemarks": [
  {"name": "Stephansdom", "latitude": 48.2085, "longitude": 16.3731, "radius": 30,
   "address": {"Street": "Stephansplatz 1", "City": "Wien", "ZIP": "1010", "Country": "Austria", "countryCode": "AT"}},
  {"name": "Office Tower", "latitude": 48.2300, "longitude": 16.4100, "radius": 250,
   "address": {"Street": "Donau-City-Strasse 7", "City": "Wien", "ZIP": "1220", "countryCode": "AT"}}
]})";

using hxtest::defaults;

template <typename App, hxtest::DeviceForm Form>
class LocationDetailsOn : public hxtest::ScreenFixture<App> {
protected:
    LocationDetailsOn()
        : hxtest::ScreenFixture<App>(
              {.form = Form, .screens = std::make_shared<HXUIScreens>(), .signedIn = true, .fonts = true}) {}
    void SetUp() override {
        hxtest::ScreenFixture<App>::SetUp();
        services::LocationServices::shared().setAuthorizationStatus(LocationAuthorization::Always);
        const std::string places = kPlaces;
        ASSERT_TRUE(services::Geocoder::loadPlacemarks(foundation::Data(places.begin(), places.end())).ok());
        ASSERT_TRUE(this->launch());
        this->app->selectViewForIndex(4);
        this->harness.settle();
        nav = this->app->viewControllerForIndex(4)->navigationController();
        account = this->app->account();
        (void)defaults()->setBool(true, "useQSLocation");
        auto preset = this->app->screenRoles().quickSettings.lock()->currentSettings();
        ASSERT_TRUE(storeQuickSetting(*account, "Work", *preset));
    }
    void TearDown() override {
        hxtest::ScreenFixture<App>::TearDown();
        services::resetDeviceServices();
        services::Geocoder::reset();
        services::ContactStore::setAuthorizationStatus(services::AuthorizationStatus::NotDetermined);
        foundation::NotificationCenter::defaultCenter().removeObserver(this);
    }
    std::shared_ptr<VC_LocationDetails> open(const std::string& name = "Work") {
        auto screen = std::make_shared<VC_LocationDetails>(
            VC_LocationDetails::Roles{.quickSettings = this->app->screenRoles().quickSettings,
                                      .alerts = this->app->screenRoles().alerts,
                                      .store = this->app->screenRoles().store},
            name);
        nav->pushViewController(screen, false);
        this->harness.settle();
        return screen;
    }
    std::shared_ptr<HX_QuickSetting> stored(const std::string& name = "Work") {
        return storedQuickSetting(*account, name);
    }
    void answerGeocoder() {
        this->harness.advance(services::Geocoder::kAnswerDelay);
        this->harness.settle();
    }
    std::optional<std::string> alertMessage() {
        auto* alert = this->harness.visibleAlert();
        return alert ? alert->message() : std::nullopt;
    }
    void dismissAlert() {
        if (this->harness.visibleAlert()) {
            ASSERT_TRUE(this->harness.tapAlertAction("OK"));
        }
        this->harness.settle();
    }
    HXQuickSettingsRole& role() { return *this->app->screenRoles().quickSettings.lock(); }
    toolkit::NavigationController* nav = nullptr;
    std::shared_ptr<HX_Account> account;
};

class LocationDetails : public LocationDetailsOn<Phone, hxtest::DeviceForm::phone> {};
class TabletLocationDetails : public LocationDetailsOn<Tablet, hxtest::DeviceForm::tablet> {};

TEST_F(LocationDetails, TheLocationRowsFollowContactsAccessAndBeaconMonitoring) {
    struct Case {
        bool contacts, beacons;
        long rows;
        toolkit::IndexPath paths[4];
    } cases[] = {
        {true, true, 4, {{1, 0}, {1, 1}, {1, 2}, {1, 3}}},
        {false, true, 3, {{1, 0}, {-1, -1}, {1, 1}, {1, 2}}},
        {true, false, 3, {{1, 0}, {1, 1}, {1, 2}, {-1, -1}}},
        {false, false, 2, {{1, 0}, {-1, -1}, {1, 1}, {-1, -1}}},
    };
    auto screen = open();
    for (const auto& c : cases) {
        services::ContactStore::setAuthorizationStatus(c.contacts ? services::AuthorizationStatus::Authorized
                                                                  : services::AuthorizationStatus::Denied);
        services::LocationServices::shared().setRegionMonitoringAvailable(c.beacons);
        auto& table = *screen->tableView();
        table.reloadData();
        EXPECT_EQ(table.numberOfSections(), 2) << "no region, no remove row";
        EXPECT_EQ(table.numberOfRows(1), c.rows);
        for (int row = 0; row < 4; ++row) EXPECT_EQ(screen->indexPathForHXIndexPath(row), c.paths[row]) << row;
    }
}

TEST_F(LocationDetails, CurrentLocationWithoutAFixStoresAndAppliesNothing) {
    app->setNewMessageAlert(false);
    auto preset = stored();
    preset->setMessageSounds(2);
    ASSERT_TRUE(storeQuickSetting(*account, "Work", *preset));
    auto screen = open();
    ASSERT_TRUE(harness.tapRowShowing("Current Location"));
    harness.settle();
    ASSERT_NE(harness.visibleAlert(), nullptr);
    EXPECT_EQ(harness.visibleAlert()->alertTitle(), "Location Request Failed");
    dismissAlert();
    EXPECT_FALSE(stored()->region());
    EXPECT_FALSE(app->newMessageAlert()) << "nothing applied";
    EXPECT_TRUE(role().locationManager()->monitoredRegions().empty());
}

TEST_F(LocationDetails, CurrentLocationStoresAHundredMetreCircleAppliesItAndNamesThePlace) {
    app->setNewMessageAlert(false);
    auto preset = stored();
    preset->setMessageSounds(2);
    ASSERT_TRUE(storeQuickSetting(*account, "Work", *preset));
    LocationFeed::fix({.coordinate = kHere});
    app->setConnectionAvailable(true);
    auto screen = open();
    int announced = 0;
    foundation::NotificationCenter::defaultCenter().addObserver(this, "kQuickSettingUpdatedNotification",
                                                                [&](const foundation::Notification&) { ++announced; });
    ASSERT_TRUE(harness.tapRowShowing("Current Location"));
    harness.settle();
    auto circle = std::dynamic_pointer_cast<services::CircularRegion>(stored()->region());
    ASSERT_TRUE(circle);
    EXPECT_EQ(circle->center(), kHere);
    EXPECT_EQ(circle->radius(), 100);
    EXPECT_EQ(circle->identifier(), "Work");
    EXPECT_TRUE(app->newMessageAlert()) << "applied at once";
    EXPECT_EQ(role().locationManager()->monitoredRegions().size(), 1u);
    EXPECT_EQ(screen->tableView()->numberOfSections(), 3);
    EXPECT_EQ(screen->tableView()->tableHeaderView()->frame().size.height,
              VC_LocationDetails::kMapHeight + VC_LocationDetails::kShadowHeight);
    answerGeocoder();
    EXPECT_EQ(stored()->regionTitle(), "Stephansdom");
    EXPECT_EQ(stored()->regionSubtitle(), "Stephansplatz 1\n1010 Wien\nAustria");
    EXPECT_EQ(announced, 2);
    expectOutline("location_map");
    expectSnapshot("location_map", {.scale = 1, .lightAndDark = true});
    // Its pin on the map (inside its own views) does not keep the screen once the stack lets it go.
    std::weak_ptr<VC_LocationDetails> gone = screen;
    screen.reset();
    nav->popViewController(false);
    harness.settle();
    EXPECT_TRUE(gone.expired());
}

TEST_F(LocationDetails, ATypedAddressIsGeocodedToAtLeastAHundredMetresAndErrorsAreNamed) {
    auto screen = open();
    screen->geocodeAddress("stephansplatz");
    answerGeocoder();  // forward
    auto circle = std::dynamic_pointer_cast<services::CircularRegion>(stored()->region());
    ASSERT_TRUE(circle);
    EXPECT_EQ(circle->radius(), 100);  // the place's 30 m raised
    EXPECT_EQ(stored()->regionTitle(), "Stephansdom");
    answerGeocoder();  // reverse: the place's name and address
    EXPECT_EQ(stored()->regionSubtitle(), "Stephansplatz 1\n1010 Wien\nAustria");
    struct Case {
        int64_t code;
        std::optional<std::string> message;
    } cases[] = {
        {2, "Unable to connect to the server — please check your internet connection and try again"},
        {8, "No results found for the requested address — please add additional details and try again"},
        {9, "Could not determine an address for the requested location — using GPS coordinates"},
        {5, std::nullopt},
    };
    for (const auto& c : cases) {
        services::Geocoder::failNextRequest(c.code);
        screen->geocodeAddress("Office Tower");
        answerGeocoder();
        ASSERT_NE(harness.visibleAlert(), nullptr) << c.code;
        EXPECT_EQ(alertMessage(), c.message) << c.code;
        dismissAlert();
        EXPECT_EQ(stored()->regionTitle(), "Stephansdom") << "no region after a failed geocoding";
    }
    // An empty address does nothing at all.
    screen->geocodeAddress("");
    answerGeocoder();
    EXPECT_EQ(harness.visibleAlert(), nullptr);
}

TEST_F(LocationDetails, AContactsAddressGeocodesIntoThePresetAsStoredThenOrFallsBackToItsLabels) {
    auto screen = open();
    const services::PostalAddress address{"Donau-City-Strasse 7", "Wien", "", "1220", "", "AT"};
    screen->didSelectAddress(address, "work", "Ann Lee");
    EXPECT_EQ(stored()->regionTitle(), "Ann Lee (work)");
    EXPECT_EQ(stored()->regionSubtitle(), "Donau-City-Strasse 7\n1220 Wien");
    // Meanwhile the editor saves another field of the preset: the answer keeps it.
    auto edited = stored();
    edited->setDndEnabled(!edited->dndEnabled());
    ASSERT_TRUE(storeQuickSetting(*account, "Work", *edited));
    answerGeocoder();
    auto after = stored();
    EXPECT_EQ(after->dndEnabled(), edited->dndEnabled());
    auto circle = std::dynamic_pointer_cast<services::CircularRegion>(after->region());
    ASSERT_TRUE(circle);
    EXPECT_EQ(circle->radius(), 250);
    EXPECT_EQ(after->regionTitle(), "Ann Lee (work)");
    // An address that names no place: the labels of the place still stored come back.
    screen->didSelectAddress({"Nowhere 1", "Atlantis", "", "", "", ""}, "", "Bo Kim");
    EXPECT_EQ(stored()->regionTitle(), "Bo Kim");
    answerGeocoder();
    ASSERT_NE(harness.visibleAlert(), nullptr);
    dismissAlert();
    EXPECT_EQ(stored()->regionTitle(), "Ann Lee (work)");
    EXPECT_EQ(stored()->regionSubtitle(), "Donau-City-Strasse 7\n1220 Wien");
    EXPECT_EQ(screen->title(), "Ann Lee (work)");
}

TEST_F(LocationDetails, BeaconFieldsMakeARegionOnlyWithinSixteenBits) {
    struct Case {
        std::string uuid, major, minor;
        bool valid;
    } cases[] = {
        {kUUID, "", "", true},       {kUUID, "7", "", true},        {kUUID, "0", "65535", true},
        {kUUID, " 12 ", "3", true},  {kUUID, "70000", "", false},  // would monitor 4464
        {kUUID, "-1", "", false},    {kUUID, "7", "65536", false},  {kUUID, "7.5", "", false},
        {kUUID, "seven", "", false}, {"not-a-uuid", "", "", false}, {"", "", "", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(VC_LocationDetails::beaconFieldsValid(c.uuid, c.major, c.minor), c.valid)
            << c.uuid << "|" << c.major << "|" << c.minor;
}

TEST_F(LocationDetails, ABeaconIsStoredWithItsSubtitleAndShownWithItsDistance) {
    struct Case {
        std::string description, uuid, major, minor;
        std::string title, subtitle;
        std::optional<uint16_t> regionMajor, regionMinor;
    } cases[] = {
        {"", "e2c56db5-dffb-48d2-b060-d0f5a71096e0", "7", "", "iBeacon", std::string(kUUID) + "|7|", 7, std::nullopt},
        {"Desk", kUUID, "", "9", "Desk", std::string(kUUID) + "||", std::nullopt, std::nullopt},
        {"Desk", kUUID, "1", "2", "Desk", std::string(kUUID) + "|1|2", 1, 2},
    };
    auto screen = open();
    for (const auto& c : cases) {
        screen->commitBeacon(c.description, c.uuid, c.major, c.minor);
        auto preset = stored();
        EXPECT_EQ(preset->regionTitle(), c.title);
        EXPECT_EQ(preset->regionSubtitle(), c.subtitle);
        auto beacon = std::dynamic_pointer_cast<services::BeaconRegion>(preset->region());
        ASSERT_TRUE(beacon);
        EXPECT_EQ(beacon->major(), c.regionMajor);
        EXPECT_EQ(beacon->minor(), c.regionMinor);
    }
    // Out of range the preset is left as it was.
    screen->commitBeacon("Far", kUUID, "70000", "");
    EXPECT_EQ(stored()->regionTitle(), "Desk");
    harness.settle();
    EXPECT_EQ(screen->tableView()->tableHeaderView()->frame().size.height,
              VC_LocationDetails::kBeaconHeight + VC_LocationDetails::kShadowHeight);
    EXPECT_EQ(role().locationManager()->rangedRegions().size(), 1u);
    ASSERT_NE(harness.find("Approximate Distance: Out of range"), nullptr);
    // The nearest beacon's distance, in the locale's units, a no-break space before the unit.
    struct Distance {
        const char* locale;
        double accuracy;
        const char* text;
    } distances[] = {
        {"en_GB", 2.46, "Approximate distance: 2.5\u00a0m"},
        {"en_US", 2.46, "Approximate distance: 8.1\u00a0feet"},
        {"de_DE", 12.0, "Approximate distance: 12.0\u00a0m"},
    };
    for (const auto& d : distances) {
        harness.changeLocale(d.locale);
        LocationFeed::sightings({{kUUID, 1, 2, d.accuracy}});
        harness.settle();
        EXPECT_NE(harness.find(d.text), nullptr) << d.text;
    }
    harness.changeLocale("en_US");
    screen->updateBeaconRange(0);
    harness.settle();
    EXPECT_NE(harness.find("Approximate distance: Out of Range"), nullptr);
    expectOutline("location_beacon");
    expectSnapshot("location_beacon", {.scale = 1, .lightAndDark = true});
    nav->popViewController(false);
    harness.settle();
    EXPECT_TRUE(role().locationManager()->rangedRegions().empty()) << "ranging ends with the screen";
}

TEST_F(LocationDetails, TheDefaultNeedsAnotherLocationAndGoesWithTheLastOne) {
    auto other = stored();
    other->setRegion(std::make_shared<services::CircularRegion>(services::Coordinate{1, 1}, 100, "Home"));
    ASSERT_TRUE(storeQuickSetting(*account, "Home", *other));
    LocationFeed::fix({.coordinate = kHere});
    auto screen = open();
    auto& table = *screen->tableView();
    // No other location is monitored: "Default" takes no taps.
    EXPECT_FALSE(screen->willSelectRow(table, {0, 0}));
    role().locationManager()->startMonitoringForRegion(*other->region());
    table.reloadData();
    ASSERT_TRUE(screen->willSelectRow(table, {0, 0}));
    screen->toggleDefault();
    EXPECT_EQ(account->defaultQS(), "Work");
    for (const auto& r : role().locationManager()->monitoredRegions()) EXPECT_TRUE(r->notifyOnExit());
    screen->toggleDefault();
    EXPECT_FALSE(account->defaultQS());
    screen->toggleDefault();
    screen->useCurrentLocation();
    harness.settle();
    ASSERT_TRUE(stored()->region());
    // Home goes: only the default's own location is left, so the default goes too.
    role().locationManager()->stopMonitoringForRegion(*other->region());
    screen->removeLocation();
    EXPECT_FALSE(stored()->region());
    EXPECT_FALSE(stored()->regionTitle());
    EXPECT_FALSE(account->defaultQS());
    EXPECT_EQ(table.numberOfSections(), 2);
}

// The screen's alerts as they open: the address to look up, the beacon's fields, and a current
// location that cannot be had.
TEST_F(LocationDetails, ItsAlertsAsTheyOpen) {
    auto screen = open();
    struct Case {
        const char* row;
        const char* golden;
        const char* close;
    };
    const Case cases[] = {
        {"Enter Address…", "alert_address", "Cancel"},
        {"Near iBeacon…", "alert_beacon", "Cancel"},
        {"Current Location", "alert_location_failed", "OK"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.golden);
        ASSERT_TRUE(harness.tapRowShowing(c.row));
        harness.settle();
        ASSERT_NE(harness.visibleAlert(), nullptr);
        expectOutline(c.golden);
        if (c.golden == std::string("alert_address")) hxtest::expectAlertCaretSwipes(harness);
        // The beacon's alert is taller than the room above the keyboard, which covers its buttons.
        for (const auto& field : harness.visibleAlert()->textFields()) field->resignFirstResponder();
        harness.settle();
        ASSERT_TRUE(harness.tapAlertAction(c.close));
        harness.advance(1);
        harness.settle();
        EXPECT_EQ(harness.visibleAlert(), nullptr);
    }
    EXPECT_FALSE(stored()->region()) << "nothing stored";
}

// The footnote under "Default" is long: it wraps onto lines of its own, none cut or clipped.
TEST_F(LocationDetails, TheDefaultsFootnoteIsShownWhole) {
    auto screen = open();
    auto& table = *screen->tableView();
    auto* footer = dynamic_cast<toolkit::TableViewHeaderFooterView*>(table.footerView(0).get());
    ASSERT_TRUE(footer);
    auto& label = footer->textLabel();
    EXPECT_EQ(label.text(), *screen->titleForFooter(table, 0));
    const auto box = label.textBox(label.bounds().width());
    EXPECT_GE(box.lines.size(), 2u);
    EXPECT_FALSE(box.truncated);
    EXPECT_GE(label.frame().height(), box.size.height);
    EXPECT_GE(label.frame().minY(), 0);
    EXPECT_LE(label.frame().maxY(), footer->bounds().height());
    EXPECT_EQ(table.rectForHeader(1).minY(), table.rectForFooter(0).maxY()) << "the next section starts below it";
}

TEST_F(LocationDetails, TheRadiusIsDraggedAtTheRimOnlyAndNeverBelowAHundredMetres) {
    auto preset = stored();
    preset->setRegion(std::make_shared<services::CircularRegion>(kHere, 400, "Work"));
    ASSERT_TRUE(storeQuickSetting(*account, "Work", *preset));
    auto screen = open();
    auto* map = dynamic_cast<system_screens::MapView*>(harness.findByTag(1));
    ASSERT_NE(map, nullptr);
    const auto size = map->bounds().size;
    const double cx = size.width / 2, cy = size.height / 2;
    const double rim =
        map
            ->convertCoordinateToPoint(services::coordinateForMapPoint(
                {services::mapPointForCoordinate(kHere).x + 400 * services::mapPointsPerMeterAtLatitude(kHere.latitude),
                 services::mapPointForCoordinate(kHere).y}))
            .x;
    using toolkit::GestureState;
    struct Grab {
        toolkit::Point at;
        bool grabs;
    } grabs[] = {
        {{rim, cy}, true},
        {{rim, cy + 39}, true},
        {{rim, cy + 41}, false},                // too far above or below
        {{cx - (rim - cx), cy}, false},         // left of the centre
        {{cx + (rim - cx) * 1.35, cy}, false},  // beyond 30 % of the radius
        {{cx + (rim - cx) * 0.75, cy}, true},
    };
    for (const auto& g : grabs) {
        Renderer::dragStartOffset.store(-1);
        screen->resizeRegion(GestureState::Began, g.at);
        EXPECT_EQ(Renderer::dragStartOffset.load() >= 0, g.grabs) << g.at.x << ", " << g.at.y;
    }
    // A drag from the rim: small moves do not replace the circle; the end stores the radius.
    Renderer::dragStartOffset.store(-1);
    screen->resizeRegion(GestureState::Began, {rim, cy});
    const auto first = screen->circle();
    screen->resizeRegion(GestureState::Changed, {cx + (rim - cx) * 1.04, cy});
    EXPECT_EQ(screen->circle(), first) << "under 5 %";
    screen->resizeRegion(GestureState::Changed, {cx + (rim - cx) * 1.5, cy});
    EXPECT_NE(screen->circle(), first);
    EXPECT_NEAR(Renderer::drawnRadius.load(), 600, 1);
    auto renderer = std::dynamic_pointer_cast<Renderer>(map->rendererForOverlay(map->overlays().front()));
    ASSERT_TRUE(renderer);
    EXPECT_TRUE(renderer->showRadius());
    expectOutline("location_drag");
    screen->resizeRegion(GestureState::Ended, {cx + (rim - cx) * 0.01, cy});
    EXPECT_EQ(std::dynamic_pointer_cast<services::CircularRegion>(stored()->region())->radius(), 100);
    renderer = std::dynamic_pointer_cast<Renderer>(map->rendererForOverlay(map->overlays().front()));
    ASSERT_TRUE(renderer);
    EXPECT_EQ(Renderer::dragStartOffset.load(), -1);
    harness.advance(1.4);
    EXPECT_TRUE(renderer->showRadius());
    harness.advance(0.2);
    EXPECT_FALSE(renderer->showRadius()) << "the label goes 1.5 s after the drag";
}

TEST(RadiusLabel, MetresUpToAKilometreFeetUpToAMile) {
    struct Case {
        double metres;
        bool metric;
        const char* text;
    } cases[] = {
        {100, true, "100 m"},      {999.9, true, "999 m"},   {1000, true, "1,000 m"},
        {1000.1, true, "1.0 km"},  {12345, true, "12.3 km"}, {1609.344, false, "5,280 ft"},
        {1609.4, false, "1.0 mi"}, {100, false, "328 ft"},   {16093.44, false, "10.0 mi"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Renderer::radiusText(c.metres, c.metric, c.metric ? "en_GB" : "en_US"), c.text) << c.metres;
}

TEST(RadiusRenderer, TheWidthIsFixedOnceAndTheLabelDrawnOnlyWhenAsked) {
    auto circle = std::make_shared<system_screens::MapCircle>(kHere, 400);
    auto renderer = std::make_shared<Renderer>(circle);
    renderer->setRadius(400);
    const auto bounds = circle->boundingMapRect();
    auto draw = [&](bool label) {
        renderer->setShowRadius(label);
        auto context = graphics::GraphicsContext::image({200, 200}, false, 1).value();
        const double zoom = 200 / bounds.width;
        context->scaleBy(zoom, zoom);
        renderer->drawMapRect(bounds, zoom, *context);
        return context;
    };
    Renderer::setLineWidthBasis(-375);
    auto plain = draw(false);
    const double w = Renderer::lineWidthBasis();
    EXPECT_NEAR(w, 4 * bounds.width / 375, 1e-9);
    auto labelled = draw(true);
    EXPECT_EQ(Renderer::lineWidthBasis(), w) << "a later renderer keeps the width";
    // The handle at the right rim is blue; the label adds pixels above the radius line only.
    const auto handle = plain->pixels().rgbaAt(196, 100);
    EXPECT_GT(handle[2], handle[0]);
    int differing = 0;
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 200; ++x) differing += plain->pixels().rgbaAt(x, y) != labelled->pixels().rgbaAt(x, y);
    EXPECT_GT(differing, 20);
}

// Runs script (written into dir) with the file of dir named input as its argument: true when it
// ends well; what it printed in out.
bool runPython(const hxtest::TempDir& dir, const std::string& script, const std::string& input, std::string& out) {
    if (!foundation::files::writeAtomically(dir.path() / "script.py", script).ok()) return false;
    return hxtest::runCommand("/usr/bin/python3 '" + (dir.path() / "script.py").string() + "' '" +
                                  (dir.path() / input).string() + "' 2>&1",
                              &out) == 0;
}

// The radius labels against python's own locale data (babel): the grouped numbers of metres and
// feet in the locale's decimal style, kilometres and miles with one decimal.
TEST(RadiusLabel, AgreesWithBabelsLocaleData) {
    if (hxtest::runCommand("/usr/bin/python3 -c 'import babel' 2>/dev/null") != 0) GTEST_SKIP() << "no python3-babel";
    std::mt19937 random(113);
    std::vector<double> radii = {100, 999.9, 1000, 1000.1, 1609.344, 1609.4, 12345, 16093.44, 100000};
    for (int i = 0; i < 200; ++i) radii.push_back(100 + static_cast<double>(random() % 5000000) / 100);
    std::string lines;
    for (const char* locale : {"en_US", "en_GB", "de_DE", "de_CH", "it_IT"})
        for (bool metric : {true, false})
            for (double r : radii)
                lines += std::string(locale) + "\t" + (metric ? "1" : "0") + "\t" + foundation::format("%.17g", r) +
                         "\t" + Renderer::radiusText(r, metric, locale) + "\n";
    hxtest::TempDir dir;
    ASSERT_TRUE(foundation::files::writeAtomically(dir.path() / "labels.txt", lines).ok());
    const std::string script = R"(import math, sys
from babel.numbers import format_decimal
n = 0
for line in open(sys.argv[1], encoding='utf-8'):
    locale, metric, r, label = line.rstrip('\n').split('\t')
    r = float(r)
    if metric == '1':
        want = format_decimal(math.trunc(r), locale=locale) + ' m' if r <= 1000 else '%.1f km' % (r / 1000)
    else:
        want = (format_decimal(math.trunc(r * 3.28084), locale=locale) + ' ft' if r <= 1609.344
                else '%.1f mi' % (r / 1609.344))
    assert label == want, (locale, metric, r, label, want)
    n += 1
print(n)
)";
    std::string out;
    ASSERT_TRUE(runPython(dir, script, "labels.txt", out)) << out;
    EXPECT_EQ(std::stoul(out), 5 * 2 * radii.size());
    // The named examples, as an English user reads them.
    EXPECT_EQ(Renderer::radiusText(1000, true, "en_GB"), "1,000 m");
    EXPECT_EQ(Renderer::radiusText(1000.1, true, "en_GB"), "1.0 km");
    EXPECT_EQ(Renderer::radiusText(1609.344, false, "en_US"), "5,280 ft");
    EXPECT_EQ(Renderer::radiusText(1609.4, false, "en_US"), "1.0 mi");
}

// The archive of a preset the screen stored is a keyed archive that python's plist reader takes,
// with the preset's values and its circle in it.
TEST_F(LocationDetails, TheStoredPresetIsAKeyedArchivePythonReads) {
    LocationFeed::fix({.coordinate = kHere});
    auto screen = open();
    screen->useCurrentLocation();
    answerGeocoder();
    dismissAlert();
    auto preset = stored();
    ASSERT_TRUE(preset && preset->region());
    auto circle = std::dynamic_pointer_cast<services::CircularRegion>(preset->region());
    ASSERT_TRUE(circle);
    const auto archive = account->quickSettings().at("Work");
    hxtest::TempDir dir;
    ASSERT_TRUE(
        foundation::files::writeAtomically(dir.path() / "work.plist", std::string(archive.begin(), archive.end()))
            .ok());
    const std::string script = R"(import json, plistlib, sys
p = plistlib.load(open(sys.argv[1], 'rb'))
assert p['$archiver'] == 'HXKeyedArchive' and p['$version'] == 1, (p.get('$archiver'), p.get('$version'))
objects = p['$objects']
def at(v):
    return objects[v.data] if isinstance(v, plistlib.UID) else v
def plain(o):
    o = at(o)
    if isinstance(o, dict):
        d = {k: plain(v) for k, v in o.items() if k != '$class'}
        if '$class' in o:
            d['$classname'] = at(o['$class'])['$classname']
        return d
    if isinstance(o, list):
        return [plain(x) for x in o]
    return o
root = plain(p['$top']['root'])
r = root['region']
print(json.dumps({'class': root['$classname'], 'dnd': root['dndEnabled'], 'title': root.get('regionTitle', ''),
                  'regionClass': r['$classname'], 'identifier': r['identifier'], 'latitude': r['latitude'],
                  'longitude': r['longitude'], 'radius': r['radius']}))
)";
    std::string out;
    ASSERT_TRUE(runPython(dir, script, "work.plist", out)) << out;
    auto read = foundation::parseJSON(out);
    ASSERT_TRUE(read.ok() && read->isDictionary()) << out;
    const auto& d = read->asDictionary();
    EXPECT_EQ(d.get("class").stringValue(), "HX_QuickSetting") << out;
    EXPECT_EQ(d.get("dnd").boolValue(), preset->dndEnabled());
    EXPECT_EQ(d.get("title").stringValue(), preset->regionTitle().value_or(""));
    EXPECT_FALSE(d.get("title").stringValue().empty()) << "the place is named";
    EXPECT_FALSE(d.get("regionClass").stringValue().empty());
    EXPECT_EQ(d.get("identifier").stringValue(), circle->identifier());
    EXPECT_DOUBLE_EQ(d.get("latitude").doubleValue(), circle->center().latitude);
    EXPECT_DOUBLE_EQ(d.get("longitude").doubleValue(), circle->center().longitude);
    EXPECT_DOUBLE_EQ(d.get("radius").doubleValue(), circle->radius());
    EXPECT_GE(d.get("radius").doubleValue(), 100);
}

// The renderer's picture as python's image library reads it: a dashed radius line whose dashes
// and gaps are 6w and 5w (the round caps lengthen each dash by w), and the handle, a disc of 8w
// at the rim.
TEST(RadiusRenderer, PythonMeasuresTheDashesAndTheHandleInItsPicture) {
    if (hxtest::runCommand("/usr/bin/python3 -c 'import PIL' 2>/dev/null") != 0) GTEST_SKIP() << "no python3-pil";
    auto circle = std::make_shared<system_screens::MapCircle>(kHere, 400);
    auto renderer = std::make_shared<Renderer>(circle);
    const auto bounds = circle->boundingMapRect();
    // The circle 600 pixels across in an 800-pixel picture; a header of 300 points makes w 8 pixels.
    Renderer::setLineWidthBasis(-300);
    auto context = graphics::GraphicsContext::image({800, 800}, false, 1).value();
    const double zoom = 600 / bounds.width;
    context->translate(100, 100);
    context->scaleBy(zoom, zoom);
    renderer->drawMapRect(bounds, zoom, *context);
    const double w = Renderer::lineWidthBasis() * zoom;
    ASSERT_NEAR(w, 8, 1e-6);
    auto png = graphics::encodePNG(context->pixels());
    ASSERT_TRUE(png.ok());
    hxtest::TempDir dir;
    ASSERT_TRUE(
        foundation::files::writeAtomically(dir.path() / "radius.png", std::string(png->begin(), png->end())).ok());
    const std::string script = R"(import json, sys
from PIL import Image
im = Image.open(sys.argv[1]).convert('RGBA')
W, H = im.size
px = im.load()
def blue(x, y):
    r, g, b, a = px[x, y]
    return a > 200 and b > 200 and r < 80
y = 400
runs, x = [], 400
while x < 700 - 40:
    start = x
    state = blue(x, y)
    while x < 700 - 40 and blue(x, y) == state:
        x += 1
    runs.append((state, start, x - start))
dashes = [n for s, st, n in runs[1:-1] if s]
gaps = [n for s, st, n in runs[1:-1] if not s]
handle = all(blue(700 + dx, 400 + dy) for dx in range(-28, 1) for dy in range(-20, 21) if dx * dx + dy * dy <= 28 * 28)
above = any(blue(x, 400 - 12) for x in range(400, 640))
print(json.dumps({'dashes': dashes, 'gaps': gaps, 'first': runs[0][2] if runs[0][0] else -1,
                  'handle': handle, 'above': above}))
)";
    std::string out;
    ASSERT_TRUE(runPython(dir, script, "radius.png", out)) << out;
    auto read = foundation::parseJSON(out);
    ASSERT_TRUE(read.ok() && read->isDictionary()) << out;
    const auto& d = read->asDictionary();
    const auto& dashes = d.get("dashes").asArray();
    const auto& gaps = d.get("gaps").asArray();
    ASSERT_GE(dashes.size(), 1u) << out;
    ASSERT_GE(gaps.size(), 2u) << out;
    for (const auto& n : dashes) EXPECT_NEAR(n.doubleValue(), 7 * w, 2) << out;
    for (const auto& n : gaps) EXPECT_NEAR(n.doubleValue(), 4 * w, 2) << out;
    EXPECT_NEAR(d.get("first").doubleValue(), 6 * w + w / 2, 2) << "the first dash starts at the centre: " << out;
    EXPECT_TRUE(d.get("handle").boolValue()) << "a filled handle at the rim: " << out;
    EXPECT_FALSE(d.get("above").boolValue()) << "a line w thick, and no label unless asked: " << out;
}

// The tablet's map and beacon headers, as wide as the detail view.
TEST_F(TabletLocationDetails, TheMapAndBeaconHeaders) {
    LocationFeed::fix({.coordinate = kHere});
    auto screen = open();
    ASSERT_TRUE(harness.tapRowShowing("Current Location"));
    harness.settle();
    answerGeocoder();
    auto header = screen->tableView()->tableHeaderView();
    ASSERT_TRUE(header);
    EXPECT_EQ(header->frame().size.width, screen->tableView()->bounds().width());
    expectOutline("location_map_tablet");
    expectSnapshot("location_map_tablet", {.scale = 1, .lightAndDark = true});
    screen->commitBeacon("Desk", kUUID, "1", "2");
    harness.settle();
    expectOutline("location_beacon_tablet");
    expectSnapshot("location_beacon_tablet", {.scale = 1, .lightAndDark = true});
}

}  // namespace
