#include "model/quick_setting.h"

#include <gtest/gtest.h>

#include <functional>

#include "app/connect_app_delegate.h"
#include "model/account.h"
#include "platform/foundation/strings.h"
#include "platform/foundation/user_defaults.h"
#include "tests/model/raw_archive.h"
#include "tests/support/test_support.h"

namespace {

using hxtest::RawObject;

HX_PhonePtr phone(int64_t id, bool forwarded, std::string name = "P") {
    auto p = std::make_shared<HX_Phone>();
    p->setPhoneId(id);
    p->setForwarded(forwarded);
    p->setName(std::move(name));
    p->setNumber("+1555000000" + std::to_string(id));
    return p;
}

std::shared_ptr<HX_QuickSetting> roundTrip(const HX_QuickSetting& q) {
    auto data = q.archived();
    EXPECT_TRUE(data.ok());
    auto back = HX_QuickSetting::unarchived(*data);
    EXPECT_TRUE(back.ok()) << (back.ok() ? "" : back.error().description());
    return back.ok() ? *back : nullptr;
}

TEST(HX_QuickSettingTest, RoundTripWithEitherKindOfRegion) {
    HX_QuickSetting q;
    q.setPhones({{1, phone(1, true, "Home")}, {2, phone(2, false)}});
    q.setForwardingPhoneID(-2);
    q.setCurrentVmGreetingId("g7");
    q.setDndEnabled(true);
    q.setCallOptions(false);
    q.setEmailNotificationSMS(true);
    q.setRegion(std::make_shared<services::CircularRegion>(services::Coordinate{51.5, -0.12}, 150, "Office"));
    q.setRegionTitle("Office");
    q.setAutoRefresh(2);
    q.setMessageSounds(1);
    q.setPrefetchVM(0);

    auto b = roundTrip(q);
    ASSERT_TRUE(b);
    EXPECT_EQ(b->forwardingPhoneID(), -2);
    EXPECT_EQ(b->currentVmGreetingId(), "g7");
    EXPECT_TRUE(b->dndEnabled());
    EXPECT_FALSE(b->callOptions());
    EXPECT_TRUE(b->emailNotificationSMS());
    EXPECT_EQ(b->regionTitle(), "Office");
    EXPECT_FALSE(b->regionSubtitle());
    auto circle = std::dynamic_pointer_cast<services::CircularRegion>(b->region());
    ASSERT_TRUE(circle);
    EXPECT_EQ(circle->identifier(), "Office");
    EXPECT_EQ(circle->center(), (services::Coordinate{51.5, -0.12}));
    EXPECT_EQ(circle->radius(), 150);
    EXPECT_EQ(b->phones().size(), 2u);
    EXPECT_EQ(b->phones().at(1)->name(), "Home");
    EXPECT_EQ(b->hash(), q.hash());

    q.setForwardingPhoneID(-1);
    q.setRegion(
        std::make_shared<services::BeaconRegion>("E2C56DB5-DFFB-48D2-B060-D0F5A71096E0", 7, std::nullopt, "Desk"));
    b = roundTrip(q);
    ASSERT_TRUE(b);
    EXPECT_EQ(b->forwardingPhoneID(), -1);
    auto beacon = std::dynamic_pointer_cast<services::BeaconRegion>(b->region());
    ASSERT_TRUE(beacon);
    EXPECT_EQ(beacon->proximityUUID(), "E2C56DB5-DFFB-48D2-B060-D0F5A71096E0");
    EXPECT_EQ(beacon->major(), 7);
    EXPECT_FALSE(beacon->minor());
    EXPECT_EQ(beacon->identifier(), "Desk");
}

TEST(HX_QuickSettingTest, OldArchivesTakeTheDefaults) {
    HX_QuickSetting::registerClass();
    auto data = foundation::archivedData(RawObject("HX_QuickSetting", [](foundation::Coder& c) {
        c.encodeBool("dndEnabled", true);
        c.encodeString("autoRefresh", "two");  // wrong kind: not part of the preset
    }));
    ASSERT_TRUE(data.ok());
    auto q = HX_QuickSetting::unarchived(*data);
    ASSERT_TRUE(q.ok()) << q.error().description();
    EXPECT_TRUE((*q)->callOptions());
    EXPECT_EQ((*q)->currentVmGreetingId(), "");
    EXPECT_EQ((*q)->autoRefresh(), 0);
    EXPECT_EQ((*q)->messageSounds(), 0);
    EXPECT_EQ((*q)->prefetchVM(), 0);
    EXPECT_EQ((*q)->forwardingPhoneID(), 0);
    EXPECT_TRUE((*q)->phones().empty());
    EXPECT_FALSE((*q)->region());
    EXPECT_TRUE((*q)->dndEnabled());
}

TEST(HX_QuickSettingTest, HashTextFollowsTheFieldOrder) {
    HX_QuickSetting q;
    q.setForwardingPhoneID(2);
    q.setVMtranscription(true);
    q.setCallOptions(true);
    q.setAutoRefresh(2);
    q.setMessageSounds(1);
    q.setPrefetchVM(1);
    q.setCurrentVmGreetingId("greeting");
    q.setPhones({{2, phone(2, false)}, {1, phone(1, true)}});
    const std::string h = std::to_string(foundation::stableHash64("greeting"));
    EXPECT_EQ(q.hashText(), "210001000211" + h + "1120");
    EXPECT_EQ(q.hash(), foundation::stableHash64(q.hashText()));

    // Location, names and numbers do not count; forwarding does.
    HX_QuickSetting other = q;
    other.setRegion(std::make_shared<services::CircularRegion>(services::Coordinate{1, 2}, 3, "x"));
    other.setRegionTitle("Somewhere");
    other.setPhones({{1, phone(1, true, "Renamed")}, {2, phone(2, false, "Other")}});
    EXPECT_EQ(other.hash(), q.hash());
    other.setPhones({{1, phone(1, false)}, {2, phone(2, false)}});
    EXPECT_NE(other.hash(), q.hash());

    q.setForwardingPhoneID(-1);
    EXPECT_EQ(q.hashText().rfind("-1100010002", 0), 0u);
}

TEST(HX_QuickSettingTest, SnapshotNeverMatchesAPresetWithATriStateLeftOut) {
    HX_ConnectAppDelegate app;
    app.setAutoRefresh(true);
    HX_Account account;
    account.phones()[1] = phone(1, true);
    hxtest::TempDir dir;
    foundation::UserDefaults defaults(dir.path() / "prefs.plist");
    auto snapshot = account.quickSetting(app, defaults);
    auto preset = std::make_shared<HX_QuickSetting>(*snapshot);
    EXPECT_EQ(preset->hash(), snapshot->hash());
    preset->setPrefetchVM(0);
    EXPECT_NE(preset->hash(), snapshot->hash());
}

TEST(HX_QuickSettingTest, ReconcilesPhonesWithTheAccountById) {
    HX_Account account;
    account.phones()[1] = phone(1, true);
    account.phones()[2] = phone(2, false);

    HX_QuickSetting same;
    auto own1 = phone(1, false);
    same.setPhones({{1, own1}, {2, phone(2, true)}});
    EXPECT_FALSE(same.quickSettingUpdated(account));
    EXPECT_EQ(same.phones().at(1), own1) << "the preset keeps its own entries";

    HX_QuickSetting stale;
    stale.setPhones({{1, own1}, {2, phone(2, true)}, {9, phone(9, true)}});
    EXPECT_TRUE(stale.quickSettingUpdated(account));
    EXPECT_EQ(stale.phones().size(), 2u);
    EXPECT_FALSE(stale.phones().count(9));

    HX_QuickSetting missing;
    missing.setPhones({{2, phone(2, true)}});
    EXPECT_TRUE(missing.quickSettingUpdated(account));
    ASSERT_EQ(missing.phones().size(), 2u);
    EXPECT_TRUE(missing.phones().at(1)->forwarded()) << "a new phone takes the account's forwarding state";

    // Through the application object's current account.
    auto app = std::make_shared<HX_ConnectAppDelegate>();
    app->setAccount(std::make_shared<HX_Account>(account));
    HX_ConnectAppDelegate::setSharedDelegate(app);
    HX_QuickSetting viaApp;
    EXPECT_TRUE(viaApp.quickSettingUpdated());
    EXPECT_EQ(viaApp.phones().size(), 2u);
    HX_ConnectAppDelegate::setSharedDelegate(nullptr);
}

TEST(RegionTest, CircleContainsAndBadValuesAreRefused) {
    services::CircularRegion r({48.8566, 2.3522}, 1000, "Paris");
    EXPECT_TRUE(r.containsCoordinate({48.86, 2.35}));
    EXPECT_FALSE(r.containsCoordinate({48.95, 2.35}));

    services::Region::registerClasses();
    auto data = foundation::archivedData(RawObject("CLCircularRegion", [](foundation::Coder& c) {
        c.encodeString("identifier", "bad");
        c.encodeDouble("latitude", 123);
    }));
    ASSERT_TRUE(data.ok());
    EXPECT_FALSE(foundation::unarchivedObject<services::CircularRegion>(*data).ok());
}

}  // namespace
