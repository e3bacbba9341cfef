#include <gtest/gtest.h>

#include "app/connect_app_delegate_iphone.h"
#include "model/account.h"
#include "model/cache.h"
#include "platform/foundation/user_defaults.h"
#include "platform/graphics/codecs.h"
#include "platform/services/device.h"
#include "platform/services/url_opener.h"
#include "platform/toolkit/renderer.h"
#include "tests/support/contacts.h"
#include "tests/support/pixels.h"
#include "tests/support/role_spies.h"
#include "tests/support/screen_fixture.h"
#include "tests/support/shell_recorder.h"
#include "ui/dialer/vc_call.h"
#include "ui/dialer/vc_favorites.h"
#include "ui/shell/ui_screens.h"

namespace {

using foundation::Array;
using foundation::Dictionary;
using foundation::UserDefaults;
using foundation::Value;

struct CallingPhoneApp : hxtest::RecordedApp<HX_ConnectAppDelegate_iPhone> {
    hxtest::CallsSpy calls;
    std::vector<std::string>& placed = calls.placed;
    HXScreenRoles screenRoles() override {
        auto roles = RecordedApp::screenRoles();
        roles.conversations = hxtest::spyOn(roles.conversations, calls);
        return roles;
    }
};

using hxtest::person;

class FavoritesList : public hxtest::ScreenFixture<CallingPhoneApp> {
protected:
    FavoritesList()
        : ScreenFixture(
              {.screens = std::make_shared<HXUIScreens>(), .signedIn = true, .fonts = true, .sharedDelegate = true}) {}
    void SetUp() override {
        ScreenFixture::SetUp();
        ASSERT_TRUE(launch());
        app->selectViewForIndex(0);
        harness.settle();
        // The pad's own story: a call it asks for is recorded, not placed (without a session
        // token the call operation sends nothing and asks nothing of the account's phones).
        app->account()->setAuthV2(std::nullopt);
        pad = std::dynamic_pointer_cast<VC_Call>(app->viewControllerForIndex(0));
        ASSERT_TRUE(pad);
        services::ContactStore::setAuthorizationStatus(services::AuthorizationStatus::Authorized);
        sources.contacts = std::make_shared<services::ContactStore>();
        sources.thumbnails = HXCCache::create("FavListTest", home.path());
        sources.contacts->addContact(
            person("Ann", "Lee", {{"mobile", "+1 555 0100", "ann-m"}, {"home", "+1 555 0101", "ann-h"}}, "ann"));
        sources.contacts->addContact(person("Bo", "Kim", {{"", "+44 20 7946 0000", "bo-1"}}, "bo"));
        services::KeyValueStore::shared().setAvailable(true);
    }
    void TearDown() override {
        services::ContactStore::setAuthorizationStatus(services::AuthorizationStatus::NotDetermined);
        ScreenFixture::TearDown();
    }
    void store(const Dictionary& favorites) {
        (void)UserDefaults::standardUserDefaults()->setObject(Value(favorites), "favorites");
    }
    Dictionary stored() {
        return UserDefaults::standardUserDefaults()->dictionaryForKey("favorites").value_or(Dictionary{});
    }
    std::vector<std::string> storedLines(const std::string& user) {
        std::vector<std::string> out;
        const Dictionary all = stored();
        if (const Array* a = all.get(user).ifArray())
            for (const auto& v : *a) out.push_back(v.stringValue());
        return out;
    }
    static Value lines(std::vector<std::string> l) {
        Array a;
        for (auto& s : l) a.push_back(Value(s));
        return Value(std::move(a));
    }
    // Opens a list over the dial pad with a recording hand-back.
    std::shared_ptr<VC_Favorites> open() {
        handedBack.clear();
        auto list = std::make_shared<VC_Favorites>(
            VC_Favorites::Roles{.alerts = app->screenRoles().alerts},
            [this](const std::string& n, const std::string& name, const std::string& label, VC_Favorites& l) {
                handedBack.push_back(n + "|" + name + "|" + label);
                l.dismiss(false);
                return true;
            },
            sources);
        pad->present(std::make_shared<toolkit::NavigationController>(list), false);
        harness.settle();
        return list;
    }
    std::string user() { return app->account()->username(); }

    std::shared_ptr<VC_Call> pad;
    Favorite::Sources sources;
    std::vector<std::string> handedBack;
};

}  // namespace

TEST_F(FavoritesList, AStoredValueThatIsNoDictionaryIsRemovedAndTheListOpensEditing) {
    (void)UserDefaults::standardUserDefaults()->setObject(Value("garbage"), "favorites");
    auto list = open();
    EXPECT_TRUE(UserDefaults::standardUserDefaults()->objectForKey("favorites").isNull());
    EXPECT_TRUE(list->isEditing());
    EXPECT_EQ(list->tableView()->numberOfRows(0), 1);
    EXPECT_NE(harness.find("Add new favorite number…"), nullptr);
}

TEST_F(FavoritesList, ResolutionDropsLostPhonesKeepsUnresolvedLinesAndOtherAccounts) {
    Dictionary all;
    all.set(user(), lines({"ann,ann-h,Ann Lee,+1 555 0101,1600000000.000000",  // unchanged
                           "ann,gone,Ann Lee,+1 555 0100,1",                   // the phone is gone: dropped
                           "X1,X2,Cy Twin,+1 555 0300,1500000000.500000",      // found nowhere: kept as it is
                           "X3,X4,Bo Kim,+44 20 7946 0000,5"}));               // another device's ids
    all.set("someone@else.test", lines({"q,r,Q R,1,2"}));
    all.set("odd", Value(42));
    store(all);
    const int syncs = services::KeyValueStore::shared().synchronizeCount();
    auto list = open();
    ASSERT_EQ(list->theFavorites().size(), 3u);
    EXPECT_EQ(storedLines(user()), (std::vector<std::string>{"ann,ann-h,Ann Lee,+1 555 0101,1600000000.000000",
                                                             "X1,X2,Cy Twin,+1 555 0300,1500000000.500000",
                                                             "bo,bo-1,Bo Kim,+44 20 7946 0000,1700000000.000000"}));
    EXPECT_EQ(storedLines("someone@else.test"), std::vector<std::string>{"q,r,Q R,1,2"});
    EXPECT_EQ(stored().get("odd").int64Value(), 42);
    EXPECT_EQ(services::KeyValueStore::shared().synchronizeCount(), syncs + 1);
    EXPECT_EQ(services::KeyValueStore::shared().objectForKey("favorites"), Value(stored()));
    // The unresolved one shows what was stored.
    EXPECT_NE(harness.find("Cy Twin"), nullptr);
    EXPECT_NE(harness.find("+1 555 0300"), nullptr);
}

TEST_F(FavoritesList, DeleteAndReorderFollowTheRules) {
    Dictionary all;
    all.set(user(), lines({"ann,ann-m,Ann Lee,+1 555 0100,1.000000", "ann,ann-h,Ann Lee,+1 555 0101,1.000000",
                           "bo,bo-1,Bo Kim,+44 20 7946 0000,1.000000"}));
    store(all);
    auto list = open();
    auto table = list->tableView();
    list->setEditingMode(true, false);
    EXPECT_EQ(table->numberOfRows(0), 4);
    EXPECT_EQ(list->targetIndexPathForMove(*table, {0, 0}, {0, 3}), (toolkit::IndexPath{0, 2}));
    list->moveRow(*table, {0, 0}, {0, 2});
    EXPECT_EQ(storedLines(user())[2], "ann,ann-m,Ann Lee,+1 555 0100,1.000000");
    list->commitEditingStyle(*table, toolkit::CellEditingStyle::Delete, {0, 0});
    list->commitEditingStyle(*table, toolkit::CellEditingStyle::Delete, {0, 0});
    EXPECT_FALSE(list->canMoveRow(*table, {0, 0})) << "one favourite has nothing to reorder with";
    list->commitEditingStyle(*table, toolkit::CellEditingStyle::Delete, {0, 0});
    EXPECT_TRUE(storedLines(user()).empty());
    EXPECT_EQ(table->numberOfRows(0), 1) << "the add row alone";
    EXPECT_FALSE(list->navigationItem().leftBarButtonItem()->enabled);
}

TEST_F(FavoritesList, WithoutASignedInAccountNothingIsSaved) {
    Dictionary all;
    all.set(user(), lines({"ann,gone,Ann Lee,+1 555 0100,1", "bo,bo-1,Bo Kim,+44 20 7946 0000,1.000000",
                           "ann,ann-m,Ann Lee,+1 555 0100,1.000000"}));
    all.set("", lines({"keep,me,,,"}));
    store(all);
    const Dictionary before = stored();
    auto account = app->account();
    // No account, and an account without a user name (signed out): no entry is written.
    auto nameless = std::make_shared<HX_Account>();
    for (const auto& signedOut : {std::shared_ptr<HX_Account>(), nameless}) {
        app->setAccount(signedOut);
        auto list = open();
        list->updateFavorites();
        auto table = list->tableView();
        list->setEditingMode(true, false);
        ASSERT_FALSE(list->theFavorites().empty()) << "the entry of the empty name shows";
        list->commitEditingStyle(*table, toolkit::CellEditingStyle::Delete, {0, 0});
        EXPECT_EQ(stored(), before) << (signedOut ? "no user name" : "no account");
        list->dismiss(false);
        harness.settle();
    }
    app->setAccount(account);
}

TEST_F(FavoritesList, APickedFavoriteGoesToTheDialPadThatOpenedIt) {
    Dictionary all;
    all.set(user(), lines({"ann,ann-h,Ann Lee,+1 555 0101,1.000000", "bo,bo-1,Bo Kim,+44 20 7946 0000,1.000000"}));
    store(all);
    for (bool skip : {false, true}) {
        SCOPED_TRACE(skip);
        UserDefaults::standardUserDefaults()->setBool(skip, "skipDialpad");
        app->placed.clear();
        pad->clearNumber();
        pad->openFavorites();
        harness.advance(0.5);
        auto* nav = dynamic_cast<toolkit::NavigationController*>(harness.topPresented());
        ASSERT_NE(nav, nullptr);
        auto* list = dynamic_cast<VC_Favorites*>(nav->topViewController());
        ASSERT_NE(list, nullptr);
        // The list was made with the shared contacts: resolve against ours.
        list->theFavorites().clear();
        list->theFavorites().emplace_back("ann,ann-h,Ann Lee,+1 555 0101,1.000000", sources);
        list->theFavorites().emplace_back("bo,bo-1,Bo Kim,+44 20 7946 0000,1.000000", sources);
        list->tableView()->reloadData();
        harness.settle();
        list->didSelectRow(*list->tableView(), {0, skip ? 1 : 0});
        harness.advance(0.05);
        EXPECT_EQ(pad->contactLabel->text(), skip ? "Bo Kim" : "Ann Lee (home)");
        EXPECT_TRUE(app->placed.empty());
        harness.advance(0.1);
        EXPECT_EQ(app->placed.size(), skip ? 1u : 0u);
        harness.advance(0.5);
        EXPECT_EQ(harness.topPresented(), app->window()->rootViewController().get()) << "the list closed";
    }
}

TEST_F(FavoritesList, TheOpenersHandBackDecidesWhereTheNumberGoes) {
    // A list opened by another screen while view 0 is current hands its number to that screen,
    // not to the dial pad.
    Dictionary all;
    all.set(user(), lines({"bo,bo-1,Bo Kim,+44 20 7946 0000,1.000000"}));
    store(all);
    ASSERT_EQ(app->currentViewIndex(), 0);
    auto list = open();
    ASSERT_EQ(list->theFavorites().size(), 1u);
    ASSERT_TRUE(harness.selectRow(*list->tableView(), {0, 0}));
    harness.settle();
    EXPECT_EQ(handedBack, std::vector<std::string>{"+44 20 7946 0000|Bo Kim|"});
    EXPECT_EQ(pad->phoneNumber->text(), "");
    // An opener that cannot take it leaves the list open.
    auto stubborn = std::make_shared<VC_Favorites>(
        VC_Favorites::Roles{.alerts = app->screenRoles().alerts},
        [](const std::string&, const std::string&, const std::string&, VC_Favorites&) { return false; }, sources);
    pad->present(std::make_shared<toolkit::NavigationController>(stubborn), false);
    harness.settle();
    stubborn->dismissWithCallerNumber("1", "x", "");
    harness.settle();
    EXPECT_EQ(harness.topPresented()->className(), "NavigationController");
}

TEST_F(FavoritesList, AddingFromThePickerAppendsSavesAndKeepsTheListOpen) {
    auto list = open();
    ASSERT_TRUE(list->isEditing());
    ASSERT_TRUE(harness.tapRowShowing("Add new favorite number…"));
    harness.advance(0.5);
    ASSERT_TRUE(harness.pickContact("Ann Lee", "+1 555 0101"));
    harness.advance(0.5);
    const auto saved = storedLines(user());
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_EQ(saved[0].substr(0, 31), "ann,ann-h,Ann Lee,+1 555 0101,1");
    EXPECT_EQ(list->theFavorites().size(), 1u);
    EXPECT_TRUE(list->isEditing());
    EXPECT_EQ(harness.topPresented()->className(), "NavigationController") << "the list stays open";
    EXPECT_TRUE(list->navigationItem().leftBarButtonItem()->enabled);
    // The same phone may be added twice.
    ASSERT_TRUE(harness.tapRowShowing("Add new favorite number…"));
    harness.advance(0.5);
    ASSERT_TRUE(harness.pickContact("Bo Kim"));
    harness.advance(0.5);
    EXPECT_EQ(storedLines(user()).size(), 2u);
}

TEST_F(FavoritesList, TheCardHandsATappedNumberBackUnlessTheSystemDials) {
    Dictionary all;
    all.set(user(), lines({"ann,ann-m,Ann Lee,+1 555 0100,1.000000"}));
    store(all);
    for (bool native : {false, true}) {
        SCOPED_TRACE(native);
        UserDefaults::standardUserDefaults()->setBool(native, "useNativeDialerActions");
        services::URLOpener::shared()->clear();
        auto list = open();
        list->showContactCard(0);
        harness.advance(0.5);
        ASSERT_TRUE(harness.tapRowShowing("+1 555 0101"));
        harness.settle();
        if (native) {
            EXPECT_TRUE(handedBack.empty());
            EXPECT_EQ(services::URLOpener::shared()->openedURLs(), std::vector<std::string>{"tel:+15550101"});
            pad->dismiss(false);
            harness.settle();
        } else {
            EXPECT_EQ(handedBack, std::vector<std::string>{"+1 555 0101|Ann Lee|home"});
        }
    }
}

// A favourite's contact picture shows in a circle: its corners are the row's, its middle the picture.
TEST_F(FavoritesList, AFavoritesPictureIsRound) {
    auto square = graphics::Bitmap::make(80, 80).value();
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 80; ++x) square->setRGBA(x, y, 220, 30, 30, 255);
    auto contact = person("Dee", "Roe", {{"mobile", "+1 555 0400", "dee-m"}}, "dee");
    contact.thumbnailImageData = graphics::encodePNG(*square).value();
    sources.contacts->addContact(contact);
    Dictionary all;
    all.set(user(), lines({"dee,dee-m,Dee Roe,+1 555 0400,1"}));
    store(all);
    open();
    auto* name = harness.find("Dee Roe");
    ASSERT_NE(name, nullptr);
    auto* cell = dynamic_cast<toolkit::TableViewCell*>(name->superview()->superview());
    ASSERT_NE(cell, nullptr);
    auto image = cell->imageView().image();
    ASSERT_TRUE(image);
    auto bits = image->bitmap();
    ASSERT_TRUE(bits);
    const int w = bits->width(), h = bits->height();
    ASSERT_GT(w, 10);
    const auto middle = bits->rgbaAt(w / 2, h / 2);
    EXPECT_EQ(middle[3], 255);
    EXPECT_GT(middle[0], 180) << "the picture shows";
    for (const auto& [x, y] : {std::pair{0, 0}, std::pair{w - 1, 0}, std::pair{0, h - 1}, std::pair{w - 1, h - 1}})
        EXPECT_EQ(bits->rgbaAt(x, y)[3], 0) << "corner " << x << "," << y << " is cut away";
    // And as drawn: the row's own colour at the corner of the picture's frame.
    const toolkit::Rect picture = cell->imageView().convertRectTo(cell->imageView().bounds(), nullptr);
    auto pixels = toolkit::snapshot(harness.window(), 2);
    const auto corner = hxtest::pixelAt(*pixels, {picture.minX() + 1, picture.minY() + 1}, 2);
    EXPECT_GT(corner[1], 150) << int(corner[0]) << "," << int(corner[1]) << "," << int(corner[2]);
    // Kept as drawn, light and dark, for the picture checks.
    expectOutline("favorites_picture_phone");
    expectSnapshot("favorites_picture_phone", {.lightAndDark = true});
}
