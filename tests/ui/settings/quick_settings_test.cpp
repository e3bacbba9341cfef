// The quick-settings list, its editor and the location awareness screen, as the user meets them
// from the settings view on a signed-in phone.
#include <gtest/gtest.h>

#include <limits>

#include "app/connect_app_delegate_ipad.h"
#include "app/connect_app_delegate_iphone.h"
#include "model/account.h"
#include "model/phone.h"
#include "model/quick_setting.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/user_defaults.h"
#include "platform/services/location_manager.h"
#include "platform/toolkit/alert_controller.h"
#include "platform/toolkit/navigation_controller.h"
#include "tests/support/alert_caret.h"
#include "tests/support/screen_fixture.h"
#include "tests/support/shell_recorder.h"
#include "tests/ui/settings/standard_defaults.h"
#include "ui/settings/quick_setting_location.h"
#include "ui/settings/settings_rows.h"
#include "ui/settings/vc_qs_details.h"
#include "ui/settings/vc_qs_location.h"
#include "ui/settings/vc_quick_settings.h"
#include "ui/shell/ui_screens.h"
#include "ui/widgets/toggle_cell.h"

namespace {

using services::LocationAuthorization;
using Phone = hxtest::RecordedApp<HX_ConnectAppDelegate_iPhone>;
using Tablet = hxtest::RecordedApp<HX_ConnectAppDelegate_iPad>;

using hxtest::defaults;

template <typename App, hxtest::DeviceForm Form>
class QuickSettingsScreensOn : public hxtest::ScreenFixture<App> {
protected:
    QuickSettingsScreensOn()
        : hxtest::ScreenFixture<App>(
              {.form = Form, .screens = std::make_shared<HXUIScreens>(), .signedIn = true, .fonts = true}) {}
    void SetUp() override {
        hxtest::ScreenFixture<App>::SetUp();
        services::LocationServices::shared().setAuthorizationStatus(LocationAuthorization::Always);
        ASSERT_TRUE(this->launch());
        this->app->selectViewForIndex(4);
        this->harness.settle();
        nav = this->app->viewControllerForIndex(4)->navigationController();
        ASSERT_NE(nav, nullptr);
        account = this->app->account();
        // Two linked phones, the office one forwarded.
        int64_t id = 11;
        for (const auto* name : {"Mobile", "Office"}) {
            auto phone = std::make_shared<HX_Phone>();
            phone->setPhoneId(id);
            phone->setName(name);
            phone->setNumber("+1555010" + std::to_string(id));
            phone->setFormattedNumber("(555) 010-" + std::to_string(id));
            phone->setForwarded(id == 12);
            account->phones()[id++] = phone;
        }
    }
    void TearDown() override {
        hxtest::ScreenFixture<App>::TearDown();
        services::resetDeviceServices();
        foundation::NotificationCenter::defaultCenter().removeObserver(this);
    }
    HXQuickSettingsRole& role() { return *this->app->screenRoles().quickSettings.lock(); }
    // A preset of the current settings, changed by change, stored under name.
    void store(const std::string& name, const std::function<void(HX_QuickSetting&)>& change = {}) {
        auto preset = role().currentSettings();
        if (change) change(*preset);
        ASSERT_TRUE(storeQuickSetting(*account, name, *preset));
    }
    // The editor of the preset name, as the list opens it.
    std::shared_ptr<VC_QSDetails> presetEditor(const std::string& name) {
        return std::dynamic_pointer_cast<VC_QSDetails>(
            std::make_shared<HXUIScreens>()->makeQuickSettingEditor(this->app->screenRoles(), name));
    }
    // The list as the settings screen's "Quick Settings" row opens it.
    std::shared_ptr<VC_QuickSettings> openList() {
        auto list = std::dynamic_pointer_cast<VC_QuickSettings>(
            this->app->screens().makeQuickSettingsScreen(this->app->screenRoles()));
        nav->pushViewController(list, false);
        this->harness.settle();
        return list;
    }
    std::vector<std::string> rowTexts(toolkit::TableView& table, long section) {
        std::vector<std::string> texts;
        for (long row = 0; row < table.numberOfRows(section); ++row) {
            auto cell = table.dataSource()->cellForRow(table, {section, row});
            std::string text = cell->textLabel().text();
            if (auto* detail = cell->detailTextLabel(); detail && !detail->text().empty())
                text += " | " + detail->text();
            if (cell->accessoryType() == toolkit::CellAccessoryType::Checkmark) text += " ✓";
            texts.push_back(text);
        }
        return texts;
    }
    toolkit::NavigationController* nav = nullptr;
    std::shared_ptr<HX_Account> account;
};

class QuickSettingsScreens : public QuickSettingsScreensOn<Phone, hxtest::DeviceForm::phone> {};
class TabletQuickSettings : public QuickSettingsScreensOn<Tablet, hxtest::DeviceForm::tablet> {};

TEST(QuickSettingLocationLabel, DefaultAndRegionDecideTheLabel) {
    struct Case {
        bool isDefault;
        std::optional<std::string> title, subtitle;
        bool region;
        std::string label;
    } cases[] = {
        {false, std::nullopt, std::nullopt, false, "No Location"},
        {true, std::nullopt, std::nullopt, false, "Default"},
        {false, "Office", "1 Main St", true, "Office"},
        {false, std::nullopt, "1 Main St", true, "1 Main St"},
        {true, "Office", "1 Main St", true, "Office, Default"},
        {true, std::nullopt, "1 Main St", true, "1 Main St, Default"},
        {true, "Office", std::nullopt, false, "Default"},  // labels without a region count for nothing
    };
    for (const auto& c : cases) {
        HX_QuickSetting q;
        q.setRegionTitle(c.title);
        q.setRegionSubtitle(c.subtitle);
        if (c.region) q.setRegion(std::make_shared<services::CircularRegion>(services::Coordinate{1, 2}, 100, "x"));
        EXPECT_EQ(locationLabelForSetting(q, c.isDefault), c.label) << c.label;
    }
}

// A region that is no place (a latitude or longitude out of range, a radius below 0, anything
// not finite) is refused when the preset is stored, the preset stored before kept. One stored
// earlier (a home may hold one) reads back without its region, the rest of the preset with its
// service settings kept, by every reader of presets.
TEST(QuickSettingRegion, ARegionThatIsNoPlaceIsRefusedAndAStoredOneDropsOnlyTheRegion) {
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    struct Case {
        const char* what;
        services::Coordinate centre;
        double radius;
    } cases[] = {
        {"latitude NaN", {nan, 2}, 100},  {"latitude 91", {91, 2}, 100}, {"latitude inf", {inf, 2}, 100},
        {"longitude 181", {1, 181}, 100}, {"radius NaN", {1, 2}, nan},   {"radius -1", {1, 2}, -1},
    };
    auto preset = [](std::shared_ptr<services::Region> region) {
        HX_QuickSetting q;
        q.setDndEnabled(true);
        q.setForwardingPhoneID(-2);
        q.setAutoRefresh(2);
        q.setRegion(std::move(region));
        q.setRegionTitle("Office");
        return q;
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        HX_Account account;
        ASSERT_TRUE(storeQuickSetting(account, "Work", preset(nullptr)));
        const auto before = account.quickSettings().at("Work");
        auto bad = std::make_shared<services::CircularRegion>(c.centre, c.radius, "Work");
        EXPECT_FALSE(bad->isValid());
        EXPECT_FALSE(storeQuickSetting(account, "Work", preset(bad)));
        EXPECT_EQ(account.quickSettings().at("Work"), before);

        // As an earlier version stored it.
        auto archive = preset(bad).archived();
        ASSERT_TRUE(archive.ok());
        account.quickSettings()["Home"] = archive.value();
        auto read = storedQuickSetting(account, "Home");
        ASSERT_TRUE(read);
        EXPECT_FALSE(read->region());
        EXPECT_TRUE(read->dndEnabled());
        EXPECT_EQ(read->forwardingPhoneID(), -2);
        EXPECT_EQ(read->autoRefresh(), 2);
        auto again = HX_QuickSetting::unarchived(archive.value());
        ASSERT_TRUE(again.ok()) << again.error().description();
        EXPECT_FALSE(again.value()->region());
        // A reader that asks for a region as such still finds none.
        auto alone = foundation::archivedData(*bad);
        ASSERT_TRUE(alone.ok());
        EXPECT_FALSE(foundation::unarchivedObject<services::CircularRegion>(alone.value()).ok());
    }
    // A region in range, at the edges, is stored and read back.
    HX_Account account;
    auto edge = std::make_shared<services::CircularRegion>(services::Coordinate{-90, 180}, 0, "Pole");
    ASSERT_TRUE(storeQuickSetting(account, "Pole", preset(edge)));
    auto read = storedQuickSetting(account, "Pole");
    ASSERT_TRUE(read);
    auto circle = std::dynamic_pointer_cast<services::CircularRegion>(read->region());
    ASSERT_TRUE(circle);
    EXPECT_EQ(circle->center(), (services::Coordinate{-90, 180}));
}

TEST_F(QuickSettingsScreens, WithoutPresetsTheListOpensInEditingModeWithTheCreateRow) {
    auto list = openList();
    auto& table = *list->tableView();
    EXPECT_TRUE(list->isEditing());
    EXPECT_FALSE(list->editButton()->enabled);
    ASSERT_EQ(table.numberOfSections(), 2);
    EXPECT_EQ(rowTexts(table, 0), std::vector<std::string>{"Location Awareness | Off"});
    EXPECT_EQ(rowTexts(table, 1),
              std::vector<std::string>{"Create Setting… | New Quick Setting from current Settings"});
    expectOutline("quick_settings_empty");
    expectSnapshot("quick_settings_editing", {.scale = 1, .lightAndDark = true});
}

TEST_F(QuickSettingsScreens, PresetsAreCreatedRenamedAndDeletedThroughAlertsAndSwipes) {
    auto list = openList();
    auto& table = *list->tableView();
    // Create from the current settings: the row shows a check mark.
    ASSERT_TRUE(harness.tapRowShowing("Create Setting…"));
    harness.settle();
    ASSERT_NE(harness.visibleAlert(), nullptr);
    EXPECT_EQ(harness.visibleAlert()->alertTitle(), "Save Current Settings");
    hxtest::expectAlertCaretSwipes(harness);
    // Typed as the user types it: each word begins with a capital.
    ASSERT_TRUE(harness.fillAlertField(0, "work day"));
    ASSERT_TRUE(harness.tapAlertAction("OK"));
    harness.settle();
    EXPECT_TRUE(account->quickSettings().contains("Work Day"));
    EXPECT_TRUE(list->editButton()->enabled);
    // An empty name makes nothing.
    list->createQuickSetting("");
    store("Home", [](HX_QuickSetting& q) { q.setDndEnabled(!q.dndEnabled()); });
    list->updateHashDict("Home");
    list->setEditingMode(false, false);
    harness.settle();
    EXPECT_EQ(list->sortedSettings(), (std::vector<std::string>{"Work Day"}));  // "Home" was stored past the list
    list->createQuickSetting("Home");                                           // overwrites with the current settings
    harness.settle();
    EXPECT_EQ(rowTexts(table, 1), (std::vector<std::string>{"Home | No Location ✓", "Work Day | No Location ✓"}));
    expectOutline("quick_settings_two");

    // Rename: an empty name or one in the list is refused; otherwise the default and the
    // region move with the name.
    auto preset = storedQuickSetting(*account, "Home");
    preset->setRegion(std::make_shared<services::CircularRegion>(services::Coordinate{48.2, 16.37}, 150, "Home"));
    ASSERT_TRUE(storeQuickSetting(*account, "Home", *preset));
    account->setDefaultQS(std::string("Home"));
    role().locationManager()->startMonitoringForRegion(*preset->region());
    EXPECT_EQ(harness.swipeRow(table, {1, 0}, toolkit::SwipeEdge::Trailing),
              (std::vector<std::string>{"Delete", "Rename"}));
    ASSERT_TRUE(harness.tapSwipeAction("Rename"));
    harness.settle();
    ASSERT_NE(harness.visibleAlert(), nullptr);
    EXPECT_EQ(harness.visibleAlert()->alertTitle(), "Rename 'Home'");
    hxtest::expectAlertCaretSwipes(harness);
    ASSERT_TRUE(harness.fillAlertField(0, "Work Day"));
    ASSERT_TRUE(harness.tapAlertAction("OK"));
    harness.settle();
    EXPECT_TRUE(account->quickSettings().contains("Home"));
    list->renameQuickSetting("Home", "");
    list->renameQuickSetting("Home", "Evening");
    harness.settle();
    EXPECT_FALSE(account->quickSettings().contains("Home"));
    auto renamed = storedQuickSetting(*account, "Evening");
    ASSERT_TRUE(renamed && renamed->region());
    EXPECT_EQ(renamed->region()->identifier(), "Evening");
    EXPECT_EQ(account->defaultQS(), "Evening");
    const auto monitored = role().locationManager()->monitoredRegions();
    ASSERT_EQ(monitored.size(), 1u);
    EXPECT_EQ(monitored[0]->identifier(), "Evening");
    EXPECT_EQ(list->sortedSettings(), (std::vector<std::string>{"Evening", "Work Day"}));

    // Deleting the default clears it and stops its region.
    list->deleteQuickSetting("Evening");
    harness.settle();
    EXPECT_FALSE(account->defaultQS());
    EXPECT_TRUE(role().locationManager()->monitoredRegions().empty());
    EXPECT_EQ(rowTexts(table, 1), (std::vector<std::string>{"Work Day | No Location ✓"}));
}

TEST_F(QuickSettingsScreens, ADefaultWithoutAnotherLocationIsClearedWhenAPresetGoes) {
    defaults()->setBool(true, "useQSLocation");
    auto manager = role().locationManager();
    for (const auto* name : {"A", "B", "C"}) {
        store(name, [&](HX_QuickSetting& q) {
            if (std::string(name) != "C")
                q.setRegion(std::make_shared<services::CircularRegion>(services::Coordinate{10, 10}, 100, name));
        });
    }
    account->setDefaultQS(std::string("A"));
    role().monitorQuickSettingRegions();
    ASSERT_EQ(manager->monitoredRegions().size(), 2u);
    for (const auto& r : manager->monitoredRegions()) EXPECT_TRUE(r->notifyOnExit());
    auto list = openList();
    list->deleteQuickSetting("C");  // B's location remains: the default stays
    EXPECT_EQ(account->defaultQS(), "A");
    list->deleteQuickSetting("B");  // only the default's own location is left
    EXPECT_FALSE(account->defaultQS());
    for (const auto& r : manager->monitoredRegions()) EXPECT_FALSE(r->notifyOnExit());
}

TEST_F(QuickSettingsScreens, ATapAppliesThePresetAndGoesBack) {
    app->setNewMessageAlert(false);
    store("Loud", [](HX_QuickSetting& q) { q.setMessageSounds(2); });
    store("Same");
    auto list = openList();
    EXPECT_FALSE(list->isEditing());
    EXPECT_EQ(rowTexts(*list->tableView(), 1),
              (std::vector<std::string>{"Loud | No Location", "Same | No Location ✓"}));
    ASSERT_TRUE(harness.tapRowShowing("Loud"));
    harness.settle();
    EXPECT_TRUE(app->newMessageAlert());
    EXPECT_NE(nav->topViewController(), list.get());
}

TEST_F(QuickSettingsScreens, WithoutRegionMonitoringThereIsOneSectionAndNoLocations) {
    services::LocationServices::shared().setRegionMonitoringAvailable(false);
    store("Work");
    auto list = openList();
    auto& table = *list->tableView();
    ASSERT_EQ(table.numberOfSections(), 1);
    EXPECT_EQ(rowTexts(table, 0), std::vector<std::string>{"Work ✓"});
    EXPECT_TRUE(table.dataSource()->titleForFooter(table, 0)->starts_with("A \"✓\" next to an entry"));
}

// ---- the editor

struct EditorCase {
    bool monitoring;
    bool phones;
    std::map<int, int> sections;  // tag -> section
};

TEST_F(QuickSettingsScreens, TheEditorsSectionsFollowLocationAndPhones) {
    const EditorCase cases[] = {
        {true, true, {{125, 0}, {100, 1}, {103, 2}, {114, 3}, {110, 4}, {116, 5}, {99, -1}}},
        {true, false, {{125, 0}, {100, 1}, {103, -1}, {114, -1}, {110, 2}, {116, 3}}},
        {false, true, {{125, -1}, {100, 0}, {103, 1}, {114, 2}, {110, 3}, {116, 4}}},
        {false, false, {{125, -1}, {100, 0}, {103, -1}, {114, -1}, {110, 1}, {116, 2}}},
    };
    ASSERT_FALSE(account->phones().empty());
    for (const auto& c : cases) {
        services::LocationServices::shared().setRegionMonitoringAvailable(c.monitoring);
        store("P", [&](HX_QuickSetting& q) {
            if (!c.phones) q.setPhones({});
        });
        auto editor = presetEditor("P");
        nav->pushViewController(editor, false);
        harness.settle();
        for (const auto& [tag, section] : c.sections) EXPECT_EQ(editor->sectionForTag(tag), section) << tag;
        EXPECT_EQ(editor->tableView()->numberOfSections(), 3 + c.monitoring + 2 * c.phones);
        EXPECT_EQ(editor->indexPathForTag(105), (toolkit::IndexPath{-1, -1}));
        EXPECT_FALSE(editor->indexPathForTag(140));
        nav->popViewController(false);
        harness.settle();
    }
}

TEST_F(QuickSettingsScreens, TheEditorSavesOnlyAChangedPresetAndFlipsTriStatesToOn) {
    int posted = 0;
    foundation::NotificationCenter::defaultCenter().addObserver(this, "kQuickSettingUpdatedNotification",
                                                                [&](const foundation::Notification&) { ++posted; });
    store("P", [](HX_QuickSetting& q) {
        q.setAutoRefresh(0);
        q.setForwardingPhoneID(11);
    });
    const auto before = account->quickSettings().at("P");
    auto editor = presetEditor("P");
    nav->pushViewController(editor, false);
    harness.settle();
    expectOutline("quick_setting_editor");
    nav->popViewController(false);
    harness.settle();
    EXPECT_EQ(posted, 0);
    EXPECT_EQ(account->quickSettings().at("P"), before);
    nav->pushViewController(editor, false);
    harness.settle();
    editor->toggleOnOff(106);  // a tri-state 0 shows off; one tap makes it on
    editor->toggleOnOff(101);
    editor->toggleOnOff(999);  // no such switch
    nav->popViewController(false);
    harness.settle();
    EXPECT_EQ(posted, 1);
    auto saved = storedQuickSetting(*account, "P");
    EXPECT_EQ(saved->autoRefresh(), 2);
    EXPECT_EQ(saved->directConnect(), !role().currentSettings()->directConnect());
}

// The one row table read for a preset: every row of the editor that a preset keeps reads, from a
// snapshot of the account, what the settings screen reads from the account itself, and a flip of
// the row changes that row alone. Each pattern turns one of the settings on.
TEST_F(QuickSettingsScreens, ThePresetsRowsReadAsTheAccountsAndFlipAlone) {
    auto settingsRole = app->screenRoles().accountSettings.lock();
    ASSERT_TRUE(settingsRole);
    using Set = std::function<void(bool)>;
    const std::vector<Set> settings{
        [&](bool v) { account->setDndEnabled(v); },
        [&](bool v) { account->setDirectConnect(v); },
        [&](bool v) { account->setVMtranscription(v); },
        [&](bool v) { account->setUseHXasCID(v); },
        [&](bool v) { account->setCallOptions(v); },
        [&](bool v) { account->setEmailNotificationVM(v); },
        [&](bool v) { account->setEmailNotificationSMS(v); },
        [&](bool v) { account->setEmailNotificationMissedCalls(v); },
        [&](bool v) { app->setAutoRefresh(v); },
        [&](bool v) { app->setNewMessageAlert(v); },
        [&](bool v) { (void)defaults()->setBool(v, "VMprefetch"); },
    };
    // The rows a preset keeps, as the editor lays them out.
    std::vector<const HXSettingsRow*> rows;
    for (const auto& section : HXPresetLayout({.location = true, .phones = 2}))
        for (int tag : section.tags) {
            const auto* row = HXSettingsRowForTag(tag);
            ASSERT_TRUE(row) << tag;
            if (row->source == HXSettingsSource::Own) continue;
            EXPECT_TRUE(row->presetFlag || row->presetTriState) << tag << " is kept by a preset";
            rows.push_back(row);
        }
    ASSERT_EQ(rows.size(), 11u);
    auto reads = [&](const HXSettingsRow& row, const HX_QuickSetting& preset) {
        return row.kind == HXSettingsRowKind::Switch ? HXSettingsSwitchValue(row, preset)
                                                     : HXSettingsChoiceIndex(row, preset) == 1;
    };
    for (size_t on = 0; on <= settings.size(); ++on) {
        for (size_t i = 0; i < settings.size(); ++i) settings[i](i == on);
        const auto preset = role().currentSettings();
        std::vector<bool> before;
        for (const auto* row : rows) {
            const bool shown = row->kind == HXSettingsRowKind::Switch
                                   ? HXSettingsSwitchValue(*row, account.get(), settingsRole.get())
                                   : HXSettingsChoiceIndex(*row, account.get()) == 1;
            EXPECT_EQ(reads(*row, *preset), shown) << "row " << row->tag << ", setting " << on << " on";
            before.push_back(reads(*row, *preset));
        }
        for (size_t r = 0; r < rows.size(); ++r) {
            HX_QuickSetting flipped = *preset;
            ASSERT_TRUE(HXFlipPresetValue(*rows[r], flipped));
            EXPECT_NE(flipped.hash(), preset->hash()) << rows[r]->tag;
            for (size_t k = 0; k < rows.size(); ++k)
                EXPECT_EQ(reads(*rows[k], flipped), k == r ? !before[k] : before[k])
                    << "flipping " << rows[r]->tag << " shows in " << rows[k]->tag;
        }
    }
}

// The editor keeps a preset's callback as stored unless its phone is gone: a gone phone becomes the
// account's first call method (never a VoIP client), while Direct Call and the phone's dialer
// are no phones and stay.
TEST_F(QuickSettingsScreens, TheEditorReplacesOnlyAGoneCallbackPhoneNeverByAVoIPClient) {
    // A VoIP client sorts first by id among the phones, after the real phones among the call
    // methods.
    auto voip = std::make_shared<HX_Phone>();
    voip->setPhoneId(0);
    voip->setName("AAA Softphone");
    voip->setIsVOIP(true);
    account->phones()[0] = voip;
    const auto methods = account->callMethods();
    ASSERT_FALSE(methods.empty());
    ASSERT_NE(methods.front()->phoneId(), 0);
    struct Case {
        int64_t stored, kept;
    };
    for (const Case& c : {Case{987654, methods.front()->phoneId()}, Case{-1, -1}, Case{-2, -2}}) {
        store("P", [&](HX_QuickSetting& q) { q.setForwardingPhoneID(c.stored); });
        auto editor = presetEditor("P");
        nav->pushViewController(editor, false);
        harness.settle();
        EXPECT_EQ(editor->quickSetting()->forwardingPhoneID(), c.kept) << c.stored;
        if (c.kept == methods.front()->phoneId()) {
            EXPECT_NE(harness.find(methods.front()->name()), nullptr);
        }
        nav->popViewController(false);
        harness.settle();
        EXPECT_EQ(storedQuickSetting(*account, "P")->forwardingPhoneID(), c.kept) << c.stored;
    }
}

// ---- location awareness

TEST_F(QuickSettingsScreens, AwarenessAsksForAlwaysAccessOnceAndRegistersTheRegionsWhenGranted) {
    services::LocationServices::shared().setAuthorizationStatus(LocationAuthorization::NotDetermined);
    defaults()->setBool(false, "useQSLocation");
    store("Home", [](HX_QuickSetting& q) {
        q.setRegion(std::make_shared<services::CircularRegion>(services::Coordinate{48.2, 16.37}, 150, "Home"));
    });
    auto screen = std::make_shared<VC_QSLocation>(
        VC_QSLocation::Roles{.quickSettings = app->screenRoles().quickSettings, .alerts = app->screenRoles().alerts},
        toolkit::TableViewStyle::InsetGrouped);
    nav->pushViewController(screen, false);
    harness.settle();
    auto& table = *screen->tableView();
    EXPECT_EQ(table.numberOfSections(), 1);
    screen->toggleLocationAwareness();
    screen->toggleLocationAwareness();
    EXPECT_EQ(services::LocationFeed::authorizationRequests(), 1);
    services::LocationFeed::changeAuthorization(LocationAuthorization::Always);
    harness.settle();
    EXPECT_TRUE(defaults()->boolForKey("useQSLocation"));
    EXPECT_EQ(table.numberOfSections(), 2);
    ASSERT_EQ(role().locationManager()->monitoredRegions().size(), 1u);
    EXPECT_TRUE(role().locationManager()->isUpdatingLocation());
    expectOutline("locations_on");
    // Off again: every region stops, beacon regions too.
    role().locationManager()->startMonitoringForRegion(
        services::BeaconRegion("E2C56DB5-DFFB-48D2-B060-D0F5A71096E0", std::nullopt, std::nullopt, "Desk"));
    screen->toggleLocationAwareness();
    EXPECT_FALSE(defaults()->boolForKey("useQSLocation"));
    EXPECT_TRUE(role().locationManager()->monitoredRegions().empty());
    EXPECT_FALSE(role().locationManager()->isUpdatingLocation());
    EXPECT_EQ(table.numberOfSections(), 1);
}

TEST_F(QuickSettingsScreens, AwarenessStaysOffWithoutAlwaysAccess) {
    struct Case {
        LocationAuthorization status;
        bool alert;
        bool footerAsksForAlways;
    } cases[] = {
        {LocationAuthorization::Denied, true, true},
        {LocationAuthorization::Restricted, true, true},
        {LocationAuthorization::WhenInUse, false, true},
    };
    auto screen = std::make_shared<VC_QSLocation>(
        VC_QSLocation::Roles{.quickSettings = app->screenRoles().quickSettings, .alerts = app->screenRoles().alerts},
        toolkit::TableViewStyle::InsetGrouped);
    nav->pushViewController(screen, false);
    harness.settle();
    for (const auto& c : cases) {
        defaults()->setBool(false, "useQSLocation");
        services::LocationServices::shared().setAuthorizationStatus(c.status);
        screen->toggleLocationAwareness();
        harness.settle();
        EXPECT_FALSE(defaults()->boolForKey("useQSLocation"));
        auto* alert = harness.visibleAlert();
        EXPECT_EQ(alert != nullptr, c.alert);
        if (alert) {
            EXPECT_EQ(alert->alertTitle(), "Location not Available");
            if (c.status == LocationAuthorization::Denied) expectOutline("alert_location_not_available");
            ASSERT_TRUE(harness.tapAlertAction("OK"));
            harness.settle();
        }
        auto& table = *screen->tableView();
        EXPECT_EQ(table.dataSource()->titleForFooter(table, 0)->starts_with("In order for Location Awareness"),
                  c.footerAsksForAlways);
    }
}

// The list's alerts as they open: a new preset's name, and another name for one.
TEST_F(QuickSettingsScreens, ItsAlertsAsTheyOpen) {
    store("Home");
    auto list = openList();
    auto& table = *list->tableView();
    list->setEditingMode(true, false);
    harness.settle();
    ASSERT_TRUE(harness.tapRowShowing("Create Setting…"));
    harness.settle();
    ASSERT_NE(harness.visibleAlert(), nullptr);
    expectOutline("alert_create_preset");
    ASSERT_TRUE(harness.tapAlertAction("Cancel"));
    harness.advance(1);
    list->setEditingMode(false, false);
    harness.settle();
    EXPECT_EQ(harness.swipeRow(table, {1, 0}, toolkit::SwipeEdge::Trailing),
              (std::vector<std::string>{"Delete", "Rename"}));
    ASSERT_TRUE(harness.tapSwipeAction("Rename"));
    harness.settle();
    ASSERT_NE(harness.visibleAlert(), nullptr);
    expectOutline("alert_rename_preset");
    ASSERT_TRUE(harness.tapAlertAction("Cancel"));
    harness.advance(1);
    harness.settle();
    EXPECT_EQ(list->sortedSettings(), std::vector<std::string>{"Home"});
}

// The editor's sheets as they open over it, each closed by its current choice, which changes
// nothing.
TEST_F(QuickSettingsScreens, TheEditorsSheets) {
    store("P", [](HX_QuickSetting& q) { q.setForwardingPhoneID(11); });
    const auto before = account->quickSettings().at("P");
    auto editor = presetEditor("P");
    nav->pushViewController(editor, false);
    harness.settle();
    struct Case {
        int tag;
        const char* golden;
    };
    for (const auto& c : {Case{102, "editor_sheet_caller_id"}, Case{103, "editor_sheet_callback"}}) {
        SCOPED_TRACE(c.golden);
        const auto path = editor->indexPathForTag(c.tag);
        ASSERT_TRUE(path);
        ASSERT_TRUE(harness.selectRow(*editor->tableView(), *path));
        harness.settle();
        auto* sheet = harness.visibleAlert();
        ASSERT_TRUE(sheet);
        expectOutline(c.golden);
        std::string current;
        for (const auto& action : sheet->actions())
            if (action->style() == toolkit::AlertActionStyle::Destructive) current = action->title();
        ASSERT_FALSE(current.empty()) << "the current choice is marked";
        ASSERT_TRUE(harness.tapAlertAction(current));
        harness.advance(1);
        harness.settle();
        EXPECT_FALSE(harness.visibleAlert());
    }
    nav->popViewController(false);
    harness.settle();
    EXPECT_EQ(account->quickSettings().at("P"), before) << "nothing changed, nothing saved";
}

// Opening the list brings each stored preset's phones in line with the account's linked phones:
// a phone no longer linked goes, a new one comes; the names and their order stay.
TEST_F(QuickSettingsScreens, TheListStoresPresetsWithTheAccountsPhones) {
    store("Home");
    store("Work", [](HX_QuickSetting& q) {
        auto phones = q.phones();
        auto gone = std::make_shared<HX_Phone>();
        gone->setPhoneId(99);
        phones[99] = gone;
        phones.erase(11);
        q.setPhones(phones);
    });
    store("Away");
    auto list = openList();
    EXPECT_EQ(list->sortedSettings(), (std::vector<std::string>{"Away", "Home", "Work"}));
    for (const auto* name : {"Away", "Home", "Work"}) {
        auto stored = storedQuickSetting(*account, name);
        ASSERT_TRUE(stored) << name;
        std::vector<int64_t> ids;
        for (const auto& [id, phone] : stored->phones()) ids.push_back(id);
        EXPECT_EQ(ids, (std::vector<int64_t>{11, 12})) << name;
    }
}

// The tablet's list in editing mode: a delete control before each preset, the create row last.
TEST_F(TabletQuickSettings, TheListInEditingMode) {
    store("Home");
    store("Work", [](HX_QuickSetting& q) { q.setDndEnabled(!q.dndEnabled()); });
    auto list = openList();
    list->setEditingMode(true, false);
    harness.settle();
    EXPECT_EQ(rowTexts(*list->tableView(), 1).size(), 3u);
    expectOutline("quick_settings_editing_tablet");
    expectSnapshot("quick_settings_editing_tablet", {.scale = 1, .lightAndDark = true});
}

}  // namespace

// An app preference a preset keeps as on and that the editor turns off is kept as off (1), not as
// "not kept" (0): applying the preset then turns the preference off.
TEST_F(QuickSettingsScreens, AKeptPreferenceTurnedOffInTheEditorIsTurnedOffByThePreset) {
    struct Case {
        int tag;
        const char* name;
        std::function<bool()> value;
        std::function<void(bool)> set;
        int64_t (HX_QuickSetting::*kept)() const;
    };
    const Case cases[] = {
        {106, "Refresh", [&] { return app->autoRefresh(); }, [&](bool v) { app->setAutoRefresh(v); },
         &HX_QuickSetting::autoRefresh},
        {107, "Sounds", [&] { return app->newMessageAlert(); }, [&](bool v) { app->setNewMessageAlert(v); },
         &HX_QuickSetting::messageSounds},
        {116, "Prefetch", [] { return defaults()->boolForKey("VMprefetch"); },
         [](bool v) { (void)defaults()->setBool(v, "VMprefetch"); }, &HX_QuickSetting::prefetchVM},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.set(true);
        store(c.name);
        ASSERT_EQ((*storedQuickSetting(*account, c.name).*c.kept)(), 2) << "kept as on";
        auto editor = presetEditor(c.name);
        nav->pushViewController(editor, false);
        harness.settle();
        editor->toggleOnOff(c.tag);
        nav->popViewController(false);
        harness.settle();
        EXPECT_EQ((*storedQuickSetting(*account, c.name).*c.kept)(), 1) << "kept as off";
        role().selectQuickSettingWithName(c.name);
        harness.settle();
        EXPECT_FALSE(c.value()) << "the preset turned it off";
        c.set(true);
    }
}

// The list and the locations follow their data row by row, as the other tables do: a settings
// update (as at sign-in and logout) redraws the presets whose check mark changed, a preset created
// or renamed is a row inserted (and removed), and location awareness brings its second section and
// takes it away; none reads the table whole, and each shows what reading it whole shows.
TEST_F(QuickSettingsScreens, TheListAndTheLocationsFollowTheirDataRowByRow) {
    store("Home");
    store("Away", [](HX_QuickSetting& q) { q.setDndEnabled(!q.dndEnabled()); });
    auto list = openList();
    auto& table = *list->tableView();
    ASSERT_EQ(rowTexts(table, 1), (std::vector<std::string>{"Away | No Location", "Home | No Location ✓"}));
    const size_t whole = table.wholeReloads();
    struct Case {
        const char* what;
        std::function<void()> change;
        size_t rowsDrawn;
        std::vector<std::string> rows;
    };
    const Case cases[] = {
        {"a settings update",
         [&] {
             account->setDndEnabled(!account->dndEnabled());
             foundation::NotificationCenter::defaultCenter().post("kSettingsUpdateNotification");
         },
         2,
         {"Away | No Location ✓", "Home | No Location"}},
        {"a preset created",
         [&] { list->createQuickSetting("Evening"); },
         1,
         {"Away | No Location ✓", "Evening | No Location ✓", "Home | No Location"}},
        {"a preset renamed",
         [&] { list->renameQuickSetting("Evening", "Night"); },
         1,
         {"Away | No Location ✓", "Home | No Location", "Night | No Location ✓"}},
        {"an update that changes nothing",
         [&] { foundation::NotificationCenter::defaultCenter().post("kSettingsUpdateNotification"); },
         0,
         {"Away | No Location ✓", "Home | No Location", "Night | No Location ✓"}},
    };
    for (const auto& c : cases) {
        const size_t shown = table.cellsShown(1);
        c.change();
        harness.settle();
        EXPECT_EQ(table.wholeReloads(), whole) << c.what;
        EXPECT_EQ(table.cellsShown(1) - shown, c.rowsDrawn) << c.what;
        EXPECT_EQ(rowTexts(table, 1), c.rows) << c.what;
        EXPECT_EQ(table.numberOfRows(1), static_cast<long>(c.rows.size())) << c.what;
    }

    defaults()->setBool(true, "useQSLocation");
    auto locations = std::make_shared<VC_QSLocation>(
        VC_QSLocation::Roles{.quickSettings = app->screenRoles().quickSettings}, toolkit::TableViewStyle::InsetGrouped);
    nav->pushViewController(locations, false);
    harness.settle();
    auto& switches = *locations->tableView();
    const size_t read = switches.wholeReloads();
    for (bool on : {false, true}) {
        locations->toggleLocationAwareness();
        harness.settle();
        EXPECT_EQ(defaults()->boolForKey("useQSLocation"), on);
        EXPECT_EQ(switches.numberOfSections(), on ? 2 : 1);
        auto* toggle = dynamic_cast<ToggleCell*>(switches.cellForRow({0, 0}).get());
        ASSERT_TRUE(toggle);
        EXPECT_EQ(toggle->onOff->isOn(), on);
        EXPECT_EQ(switches.wholeReloads(), read) << on;
    }
}

// A preset swiped with the drag a user makes across most of the row: the row slides aside by the
// width of its two actions and no further, both titles inside their buttons with room beside
// them ("Rename" once touched the screen's edge); in editing mode, right after a new preset's
// "OK", the same drag shows the row's Delete instead of opening the preset, and a drag never
// selects the row it ends on.
TEST_F(QuickSettingsScreens, ASwipeSlidesThePresetByItsActionsWidthAndShowsItsActionsWhileEditing) {
    store("Weekend Office");
    auto list = openList();
    auto& table = *list->tableView();
    const auto initial = nav->viewControllers().size();
    auto cell = table.cellForRow({1, 0});
    ASSERT_TRUE(cell);
    const double y = cell->convertRectTo(cell->bounds(), nullptr).midY();
    harness.swipe({300, y}, {60, y}, 1, 20);
    harness.settle();
    ASSERT_EQ(table.swipedRow(), (toolkit::IndexPath{1, 0}));
    auto panels = harness.findAll("SwipeActionsView");
    ASSERT_EQ(panels.size(), 1u);
    const toolkit::Rect panel = panels[0]->convertRectTo(panels[0]->bounds(), nullptr);
    EXPECT_DOUBLE_EQ(panel.maxX(), harness.window().bounds().width()) << "the actions end at the row's edge";
    EXPECT_DOUBLE_EQ(cell->bounds().minX(), panel.width()) << "the row slid by the actions' width";
    for (const auto& button : panels[0]->subviews()) {
        auto* b = dynamic_cast<toolkit::Button*>(button.get());
        ASSERT_NE(b, nullptr);
        const double room = b->bounds().width() - b->titleLabel()->sizeThatFits({}).width;
        EXPECT_GE(room, 24) << b->currentTitle().value_or("") << ": its title has room on both sides";
    }
    expectOutline("quick_settings_swiped");
    expectSnapshot("quick_settings_swiped", {.scale = 1, .lightAndDark = true});
    table.hideSwipeActions();
    harness.settle();

    // Editing: a new preset, then the drag across it.
    list->setEditingMode(true, false);
    harness.settle();
    ASSERT_TRUE(harness.tapRowShowing("Create Setting…"));
    harness.settle();
    ASSERT_TRUE(harness.fillAlertField(0, "Home"));
    ASSERT_TRUE(harness.tapAlertAction("OK"));
    harness.settle();
    ASSERT_EQ(list->sortedSettings(), (std::vector<std::string>{"Home", "Weekend Office"}));
    harness.swipe({300, y}, {60, y}, 1, 20);
    harness.settle();
    EXPECT_EQ(nav->viewControllers().size(), initial) << "the drag opened nothing\n" << harness.outline();
    EXPECT_EQ(table.swipedRow(), (toolkit::IndexPath{1, 0}));
    std::vector<std::string> titles;
    for (auto* p : harness.findAll("SwipeActionsView"))
        for (const auto& b : p->subviews()) titles.push_back(b->outlineText());
    EXPECT_EQ(titles, std::vector<std::string>{"Delete"}) << "while editing, only Delete";
    // A short drag down the row, lifted on it, is no tap either.
    table.hideSwipeActions();
    harness.settle();
    harness.swipe({200, y}, {200, y + 15}, 1, 4);
    harness.settle();
    EXPECT_EQ(nav->viewControllers().size(), initial) << harness.outline();
}
