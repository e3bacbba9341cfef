// The dial pad and the favourites as drawn: outlines and pictures, light and dark, phone and
// tablet.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "app/connect_app_delegate_ipad.h"
#include "app/connect_app_delegate_iphone.h"
#include "model/account.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/user_defaults.h"
#include "platform/toolkit/navigation_controller.h"
#include "service/request_machinery.h"
#include "tests/support/screen_fixture.h"
#include "ui/dialer/vc_call.h"
#include "ui/dialer/vc_favorites.h"
#include "ui/shell/ui_screens.h"

namespace {

using foundation::Value;

template <typename App>
class DialerLooks : public hxtest::ScreenFixture<App> {
protected:
    explicit DialerLooks(hxtest::DeviceForm form)
        : hxtest::ScreenFixture<App>({.form = form,
                                      .screens = std::make_shared<HXUIScreens>(),
                                      .signedIn = true,
                                      .fonts = true,
                                      .sharedDelegate = true}) {}
    void SetUp() override {
        hxtest::ScreenFixture<App>::SetUp();
        ASSERT_TRUE(this->launch());
        this->app->account()->setBalance("$4.20");
        this->harness.settle();
    }
    std::shared_ptr<VC_Call> pad() { return std::dynamic_pointer_cast<VC_Call>(this->app->viewControllerForIndex(0)); }
    void fillNumber() {
        auto p = pad();
        p->insertPlus(nullptr);
        for (long tag : {4L, 4L, 2L, 0L, 7L, 9L, 4L, 6L, 0L, 0L, 0L, 0L})
            p->keyPressed(p->key(tag == 0 ? VC_Call::kTagZero : tag));
        this->harness.settle();
        p->contactLabel->setText("Ann Lee (mobile)");
        // The phone that rings: shown under "Call".
        this->app->account()->setForwardingPhoneID(-1);
        foundation::NotificationCenter::defaultCenter().post("kSettingsUpdateNotification");
        this->harness.settle();
    }
    void busy() {
        HXWebClientOf(*this->app)
            .requests.put(std::string(kHXApiPath) + "communication/startclicktocall?alt=protojson",
                          HXRequestEntry{std::make_shared<foundation::Data>(), nullptr});
        foundation::NotificationCenter::defaultCenter().post("kCallButtonUpdateNotification");
        this->harness.settle();
    }
    void storeFavorites(std::vector<std::string> lines) {
        foundation::Array a;
        for (auto& l : lines) a.push_back(Value(l));
        foundation::Dictionary all;
        all.set(this->app->account()->username(), Value(std::move(a)));
        (void)foundation::UserDefaults::standardUserDefaults()->setObject(Value(all), "favorites");
    }
    static constexpr hxtest::ScreenFixtureBase::Snapshot kBoth{0, true};
};

struct PhoneLooks : DialerLooks<HX_ConnectAppDelegate_iPhone> {
    PhoneLooks() : DialerLooks(hxtest::DeviceForm::phone) {}
};
struct TabletLooks : DialerLooks<HX_ConnectAppDelegate_iPad> {
    TabletLooks() : DialerLooks(hxtest::DeviceForm::tablet) {}
};

}  // namespace

TEST_F(PhoneLooks, DialPad) {
    app->selectViewForIndex(0);
    harness.settle();
    expectOutline("dial_pad_empty_phone");
    expectSnapshot("dial_pad_empty_phone", kBoth);
    fillNumber();
    expectOutline("dial_pad_number_phone");
    expectSnapshot("dial_pad_number_phone", kBoth);
    // A press flashes the call key and a digit grey; both then look as they did.
    for (long tag : {VC_Call::kTagCall, 5L}) {
        pad()->key(tag)->setHighlighted(true);
        pad()->key(tag)->setHighlighted(true);  // a finger moving on the key
        harness.settle();
        pad()->key(tag)->setHighlighted(false);
        harness.settle();
    }
    expectSnapshot("dial_pad_number_phone", kBoth);
    busy();
    expectOutline("dial_pad_busy_phone");
    expectSnapshot("dial_pad_busy_phone", kBoth);
    HXWebClientOf(*app).requests.erase(std::string(kHXApiPath) + "communication/startclicktocall?alt=protojson");
    foundation::NotificationCenter::defaultCenter().post("kCallButtonUpdateNotification");
    harness.rotate(toolkit::Orientation::LandscapeLeft);
    expectOutline("dial_pad_landscape_phone");
    expectSnapshot("dial_pad_landscape_phone", kBoth);
}

TEST_F(PhoneLooks, Favorites) {
    app->selectViewForIndex(0);
    harness.settle();
    pad()->openFavorites();
    harness.advance(1);
    expectOutline("favorites_empty_phone");
    expectSnapshot("favorites_empty_phone", kBoth);
    harness.tapBarButton("Cancel");
    harness.advance(1);
    // Lines from another device whose contacts are not here: shown as stored.
    storeFavorites(
        {"A1,P1,Ann Lee,+1 202-555-0142,1700000000.000000", "B1,P2,Bo Kim,+44 20 7946 0000,1700000000.000000"});
    pad()->openFavorites();
    harness.advance(1);
    expectOutline("favorites_browse_phone");
    expectSnapshot("favorites_browse_phone", kBoth);
    harness.tapBarButton("Edit");
    harness.advance(1);
    expectOutline("favorites_editing_phone");
    expectSnapshot("favorites_editing_phone", kBoth);
}

TEST_F(TabletLooks, DialPadPopoverAndFavorites) {
    app->showCallPopup();
    harness.advance(1);
    expectOutline("dial_pad_empty_tablet");
    expectSnapshot("dial_pad_empty_tablet", kBoth);
    fillNumber();
    expectOutline("dial_pad_number_tablet");
    expectSnapshot("dial_pad_number_tablet", kBoth);
    busy();
    expectOutline("dial_pad_busy_tablet");
    expectSnapshot("dial_pad_busy_tablet", kBoth);
    HXWebClientOf(*app).requests.erase(std::string(kHXApiPath) + "communication/startclicktocall?alt=protojson");
    foundation::NotificationCenter::defaultCenter().post("kCallButtonUpdateNotification");
    harness.settle();
    pad()->openFavorites();
    harness.advance(1);
    expectOutline("favorites_empty_tablet");
    expectSnapshot("favorites_empty_tablet", kBoth);
    harness.tapBarButton("Cancel");
    harness.advance(1);
    // A long name beside a stored number, as a line from another device shows.
    storeFavorites({"A1,P1,Ann Lee,+1 202-555-0142,1700000000.000000",
                    "B1,P2,Maximilian Oberhauser-Lindqvist,+44 20 7946 0000,1700000000.000000"});
    pad()->openFavorites();
    harness.advance(1);
    expectOutline("favorites_browse_tablet");
    expectSnapshot("favorites_browse_tablet", kBoth);
    // Every name that fits beside a readable detail is shown whole.
    auto* nav = dynamic_cast<toolkit::NavigationController*>(harness.topPresented());
    ASSERT_NE(nav, nullptr);
    auto* list = dynamic_cast<VC_Favorites*>(nav->topViewController());
    ASSERT_NE(list, nullptr);
    auto first = list->tableView()->cellForRow({0, 0});
    ASSERT_TRUE(first);
    EXPECT_GE(first->textLabel().frame().width(), first->textLabel().sizeThatFits({}).width) << "Ann Lee";
    auto second = list->tableView()->cellForRow({0, 1});
    ASSERT_TRUE(second && second->detailTextLabel());
    EXPECT_GT(second->detailTextLabel()->frame().minX(), second->textLabel().frame().maxX())
        << "name and number do not overlap";
    harness.tapBarButton("Edit");
    harness.advance(1);
    expectOutline("favorites_editing_tablet");
    expectSnapshot("favorites_editing_tablet", kBoth);
}

TEST_F(TabletLooks, DialPadPopoverInLandscape) {
    harness.rotate(toolkit::Orientation::LandscapeLeft);
    harness.advance(1);
    app->showCallPopup();
    harness.advance(1);
    fillNumber();
    expectOutline("dial_pad_landscape_tablet");
    expectSnapshot("dial_pad_landscape_tablet", kBoth);
}

namespace {

// Every phone, upright and on its side: each key is whole, inside the safe area, reached by a
// touch at its middle (nothing covers it), clear of the other keys and large enough to hit.
class PadGeometry : public hxtest::ScreenFixture<HX_ConnectAppDelegate_iPhone>,
                    public ::testing::WithParamInterface<hxtest::DeviceForm> {
protected:
    PadGeometry()
        : ScreenFixture({.form = GetParam(),
                         .screens = std::make_shared<HXUIScreens>(),
                         .signedIn = true,
                         .fonts = true,
                         .sharedDelegate = true}) {}
};

}  // namespace

TEST_P(PadGeometry, EveryKeyIsWholeReachableAndApart) {
    ASSERT_TRUE(launch());
    app->account()->setForwardingPhoneID(-1);
    app->selectViewForIndex(0);
    harness.settle();
    auto pad = std::dynamic_pointer_cast<VC_Call>(app->viewControllerForIndex(0));
    ASSERT_TRUE(pad);
    ASSERT_EQ(pad->forwardingLabel->text(), "Direct Call");
    const long tags[] = {1,
                         2,
                         3,
                         4,
                         5,
                         6,
                         7,
                         8,
                         9,
                         VC_Call::kTagStar,
                         VC_Call::kTagZero,
                         VC_Call::kTagHash,
                         VC_Call::kTagContacts,
                         VC_Call::kTagCall,
                         VC_Call::kTagDelete};
    for (auto orientation : {toolkit::Orientation::Portrait, toolkit::Orientation::LandscapeLeft}) {
        SCOPED_TRACE(orientation == toolkit::Orientation::Portrait ? "portrait" : "landscape");
        harness.rotate(orientation);
        harness.advance(1);
        toolkit::View* root = pad->view().get();
        toolkit::Window* window = app->window();
        const toolkit::Rect safe = root->safeAreaLayoutFrame();
        std::vector<toolkit::Rect> frames;
        for (long tag : tags) {
            SCOPED_TRACE(tag);
            auto* k = pad->key(tag);
            ASSERT_NE(k, nullptr);
            const toolkit::Rect r = k->convertRectTo(k->bounds(), root);
            EXPECT_GE(r.width(), 36.0);
            EXPECT_GE(r.minX(), safe.minX());
            EXPECT_GE(r.minY(), safe.minY());
            EXPECT_LE(r.maxX(), safe.maxX() + 0.01);
            EXPECT_LE(r.maxY(), safe.maxY() + 0.01);
            for (const auto& other : frames)
                EXPECT_TRUE(r.minX() >= other.maxX() || r.maxX() <= other.minX() || r.minY() >= other.maxY() ||
                            r.maxY() <= other.minY());
            frames.push_back(r);
            const toolkit::Rect w = k->convertRectTo(k->bounds(), window);
            toolkit::View* hit = window->hitTest({w.midX(), w.midY()}, nullptr);
            bool onKey = false;
            for (toolkit::View* v = hit; v; v = v->superview()) onKey = onKey || v == k;
            EXPECT_TRUE(onKey) << "covered";
        }
        // The call method is drawn on the call key, in front of it and inside its round face, where
        // nothing else is drawn over it.
        {
            auto* call = pad->key(VC_Call::kTagCall);
            auto& method = *pad->forwardingLabel;
            ASSERT_FALSE(method.isHidden());
            const toolkit::Rect m = method.convertRectTo(method.bounds(), root);
            const toolkit::Rect k = call->convertRectTo(call->bounds(), root);
            const double r = k.width() / 2;
            for (double y : {m.minY(), m.maxY()}) {
                const double half = std::sqrt(std::max(0.0, r * r - (y - k.midY()) * (y - k.midY())));
                EXPECT_GE(m.minX(), k.midX() - half - 0.5) << "the method leaves the key's face at y " << y;
                EXPECT_LE(m.maxX(), k.midX() + half + 0.5) << "the method leaves the key's face at y " << y;
            }
            EXPECT_GT(m.width(), 0.5 * k.width());
            const auto& siblings = method.superview()->subviews();
            auto index = [&](const toolkit::View* v) {
                return std::find_if(siblings.begin(), siblings.end(), [&](const auto& s) { return s.get() == v; }) -
                       siblings.begin();
            };
            ASSERT_EQ(method.superview(), call->superview());
            EXPECT_GT(index(&method), index(call)) << "the key would hide its method";
            // Nothing but the spinner (hidden while no call starts) comes after it.
            for (auto i = static_cast<size_t>(index(&method)) + 1; i < siblings.size(); ++i)
                EXPECT_TRUE(siblings[i]->isHidden() || !siblings[i]->frame().intersects(method.frame()))
                    << siblings[i]->className();
        }
        // The number, its contact and local time stay clear of the keys.
        const toolkit::Rect number = pad->phoneNumber->convertRectTo(pad->phoneNumber->bounds(), root);
        EXPECT_GE(number.minX(), safe.minX());
        for (const auto& k : frames)
            EXPECT_TRUE(number.maxY() <= k.minY() || number.maxX() <= k.minX()) << "the number overlaps a key";
    }
}

INSTANTIATE_TEST_SUITE_P(Phones, PadGeometry,
                         ::testing::Values(hxtest::DeviceForm::phone, hxtest::DeviceForm::phoneX,
                                           hxtest::DeviceForm::phoneSE, hxtest::DeviceForm::phone4));
