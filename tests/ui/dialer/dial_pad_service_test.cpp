// The dial pad against the loopback service, on the phone and on the tablet: typed digits become
// the callback the service records (the spinner stands in for the call key while it is slow), the
// chooser's "Direct Call" reserves an access number and dials it, the phone's own dialer gets a
// "tel:" URL, the last dialled number comes back on an empty pad, and a local seven-digit number
// takes the own number's area code.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/connect_app_delegate_ipad.h"
#include "app/connect_app_delegate_iphone.h"
#include "model/account.h"
#include "model/phone.h"
#include "platform/foundation/user_defaults.h"
#include "platform/services/url_opener.h"
#include "tests/support/screen_fixture.h"
#include "tests/support/shell_recorder.h"
#include "ui/dialer/vc_call.h"
#include "ui/shell/ui_screens.h"

namespace {

const std::string kClickToCall = "/voice/v1/voiceclient/communication/startclicktocall";

template <typename Form>
class PadOnService : public hxtest::ScreenFixture<hxtest::RecordedApp<Form>> {
protected:
    using Base = hxtest::ScreenFixture<hxtest::RecordedApp<Form>>;
    explicit PadOnService(hxtest::DeviceForm form)
        : Base({.form = form,
                .screens = std::make_shared<HXUIScreens>(),
                .emulator = true,
                .signedIn = true,
                .sharedDelegate = true}) {}

    void SetUp() override {
        Base::SetUp();
        ASSERT_TRUE(this->launch());
        ASSERT_TRUE(runUntil([&] { return this->app->account() && this->app->account()->authV2(); }));
        // The account's settings (own number, linked phones) have arrived.
        ASSERT_TRUE(runUntil([&] {
            return this->app->account()->HXnumber().has_value() && this->app->account()->phones().size() >= 2 &&
                   this->app->isIdle();
        }));
        ASSERT_EQ(this->app->account()->HXnumber().value_or(""), "+15550100");
        if (this->app->iPad())
            this->app->showCallPopup();
        else
            this->app->selectViewForIndex(0);
        this->harness.advance(1);
        pad = std::dynamic_pointer_cast<VC_Call>(this->app->viewControllerForIndex(0));
        ASSERT_TRUE(pad);
        ASSERT_NE(pad->view()->window(), nullptr) << "the pad is on screen";
        // Ring back the service's verified mobile.
        ASSERT_TRUE(phoneCalled("+15550111"));
        this->app->account()->setForwardingPhoneID(phoneCalled("+15550111")->phoneId());
        services::URLOpener::shared()->clear();
        (void)foundation::UserDefaults::standardUserDefaults()->removeObjectForKey("lastDialedNumber");
    }
    bool runUntil(const std::function<bool()>& done, double seconds = 10) {
        const bool ok = this->harness.clock().runUntil(done, seconds);
        this->harness.settle();
        return ok;
    }
    HX_PhonePtr phoneCalled(const std::string& number) {
        for (const auto& [id, p] : this->app->account()->phones())
            if (p->number() == number) return p;
        return nullptr;
    }
    void type(const std::string& keys) {
        for (char c : keys) {
            const long tag = c == '*'   ? VC_Call::kTagStar
                             : c == '#' ? VC_Call::kTagHash
                             : c == '0' ? VC_Call::kTagZero
                                        : c - '0';
            ASSERT_TRUE(this->harness.tap(*pad->key(tag))) << c;
        }
        this->harness.settle();
    }
    bool pressCall() {
        const bool tapped = this->harness.tap(*pad->key(VC_Call::kTagCall));
        this->harness.settle();
        return tapped;
    }
    std::vector<emulator::Callback> callbacks() {
        return this->service->withAccount([](emulator::Account& a) { return a.callbacks; });
    }
    size_t requestsTo(const std::string& path) {
        auto all = this->service->requests();
        return static_cast<size_t>(
            std::count_if(all.begin(), all.end(), [&](const emulator::RecordedRequest& r) { return r.path == path; }));
    }
    bool busy() const {
        return pad->key(VC_Call::kTagCall)->isHidden() && pad->forwardingLabel->isHidden() &&
               pad->callStarted->isAnimating();
    }
    bool idle() const {
        return !pad->key(VC_Call::kTagCall)->isHidden() && !pad->forwardingLabel->isHidden() &&
               !pad->callStarted->isAnimating();
    }
    std::vector<std::string> chooserTitles() {
        std::vector<std::string> titles;
        if (auto* sheet = this->harness.visibleAlert())
            for (const auto& a : sheet->actions()) titles.push_back(a->title());
        return titles;
    }

    // A slow service: the callback is typed, asked for, held (spinner) and then recorded.
    void typedDigitsBecomeTheServicesCallback() {
        this->service->script(kClickToCall, emulator::ScriptedReply{.hold = true, .passThrough = true});
        type("2025550188");
        ASSERT_EQ(pad->phoneNumber->text(), "(202) 555-0188");
        ASSERT_TRUE(idle());
        ASSERT_TRUE(pressCall());
        ASSERT_TRUE(runUntil([&] { return requestsTo(kClickToCall) == 1; }));
        EXPECT_TRUE(busy()) << "the spinner stands in for the call key while the service is slow";
        EXPECT_TRUE(callbacks().empty());
        this->service->releaseHeld();
        ASSERT_TRUE(runUntil([&] { return !callbacks().empty() && idle(); }));
        ASSERT_EQ(callbacks().size(), 1u);
        EXPECT_EQ(callbacks()[0].target, "+12025550188");
        EXPECT_EQ(callbacks()[0].callbackNumber, "+15550111");
        EXPECT_EQ(pad->phoneNumber->text(), "(202) 555-0188") << "the number stays for another try";
    }

    // The last number comes back on an empty pad; the second press calls it.
    void anEmptyPadRecallsTheLastNumber() {
        type("2025550177");
        ASSERT_TRUE(pressCall());
        ASSERT_TRUE(runUntil([&] { return callbacks().size() == 1 && idle(); }));
        EXPECT_EQ(foundation::UserDefaults::standardUserDefaults()->stringForKey("lastDialedNumber"), "+12025550177");
        pad->clearNumber();
        ASSERT_TRUE(pressCall());
        EXPECT_EQ(pad->phoneNumber->text(), "+1 (202) 555-0177");
        EXPECT_TRUE(foundation::UserDefaults::standardUserDefaults()->objectForKey("lastDialedNumber").isNull());
        runUntil([] { return false; }, 1);
        EXPECT_EQ(callbacks().size(), 1u) << "the recall places no call";
        ASSERT_TRUE(pressCall());
        ASSERT_TRUE(runUntil([&] { return callbacks().size() == 2 && idle(); }));
        EXPECT_EQ(callbacks()[1].target, "+12025550177");
    }

    // A local seven-digit number takes the area code of the own number; anything else goes as is.
    void aLocalNumberTakesTheOwnAreaCode() {
        struct Case {
            const char* typed;
            const char* shown;
            const char* target;
        };
        const Case cases[] = {
            {"5550123", "555-0123", "+15555550123"},     // the own number "+15550100": "+1555" before it
            {"555012", "555-012", "+1555012"},           // six digits: as typed
            {"55501234", "(555) 012-34", "+155501234"},  // eight digits: as typed
        };
        size_t n = 0;
        for (const auto& c : cases) {
            SCOPED_TRACE(c.typed);
            pad->clearNumber();
            type(c.typed);
            EXPECT_EQ(pad->phoneNumber->text(), c.shown);
            ASSERT_TRUE(pressCall());
            ASSERT_TRUE(runUntil([&] { return callbacks().size() == n + 1 && idle(); }));
            EXPECT_EQ(callbacks()[n].target, c.target);
            ++n;
        }
    }

    // The chooser's "Direct Call" reserves an access number and dials it; the phone's own dialer
    // gets the number itself.
    void directCallAndTheDialer() {
        this->app->account()->setThisPhoneID(phoneCalled("+15550122")->phoneId());
        type("2025550166");
        pad->changeForwardingNumber(nullptr);
        EXPECT_EQ(chooserTitles(), (std::vector<std::string>{"Mobile", "Office", "Direct Call", "iPhone Dialer"}));
        ASSERT_TRUE(this->harness.tapAlertAction("Direct Call"));
        this->harness.settle();
        EXPECT_EQ(this->app->account()->forwardingPhoneID(), -1);
        EXPECT_EQ(pad->forwardingLabel->text(), "Direct Call");
        // Choosing the method places the call: an access number is reserved and dialled.
        ASSERT_TRUE(runUntil([&] { return !services::URLOpener::shared()->openedURLs().empty() && idle(); }));
        EXPECT_EQ(services::URLOpener::shared()->openedURLs(), std::vector<std::string>{"tel:+15550199"});
        auto reservations = this->service->withAccount([](emulator::Account& a) { return a.reservations; });
        ASSERT_EQ(reservations.size(), 1u);
        EXPECT_EQ(reservations[0].target, "+12025550166");
        EXPECT_EQ(reservations[0].source, "+15550122");
        EXPECT_TRUE(callbacks().empty());

        // The phone's own dialer: the number itself, no request to the service.
        services::URLOpener::shared()->clear();
        this->service->clearRequests();
        pad->changeForwardingNumber(nullptr);
        ASSERT_TRUE(this->harness.tapAlertAction("iPhone Dialer"));
        this->harness.settle();
        EXPECT_EQ(this->app->account()->forwardingPhoneID(), -2);
        ASSERT_TRUE(runUntil([&] { return !services::URLOpener::shared()->openedURLs().empty(); }));
        EXPECT_EQ(services::URLOpener::shared()->openedURLs(), std::vector<std::string>{"tel:+12025550166"});
        EXPECT_TRUE(idle()) << "the call key is back once the dialer has the number";
        EXPECT_EQ(requestsTo("/voice/v1/proxynumbers/reserve"), 0u);
        EXPECT_EQ(requestsTo(kClickToCall), 0u);
    }

    // A "call" URL from outside the app (any page can open one) fills the pad with the number
    // and shows the method it names as chosen; nothing is called and the account keeps its method
    // until the user presses Call, which calls with that method and keeps it. The same for a URL
    // kept while the passcode lock was up and replayed after the unlock. The URL used to place a
    // paid call at once and change the account's method for good.
    void anOutsideCallURLWaitsForTheCallKey() {
        const int64_t mobile = this->app->account()->forwardingPhoneID();
        const int64_t office = phoneCalled("+15550122")->phoneId();
        size_t n = 0;
        for (const bool locked : {false, true}) {
            this->app->lockShown = locked;
            EXPECT_TRUE(this->app->applicationOpenURL("hxconnect://call?number=2025550177&callmethod=Office"));
            if (locked) {
                this->harness.advance(3);
                this->app->lockShown = false;
                this->app->reprocessURL();
            }
            this->harness.advance(3);
            ASSERT_FALSE(runUntil([&] { return callbacks().size() > n; }, 2)) << "called without asking";
            EXPECT_EQ(requestsTo(kClickToCall), n);
            EXPECT_EQ(this->app->account()->forwardingPhoneID(), mobile);
            EXPECT_EQ(pad->phoneNumber->text(), "(202) 555-0177");
            EXPECT_EQ(pad->forwardingLabel->text(), "Office");

            ASSERT_TRUE(pressCall());
            ASSERT_TRUE(runUntil([&] { return callbacks().size() == n + 1 && idle(); }));
            EXPECT_EQ(callbacks()[n].target, "+12025550177");
            EXPECT_EQ(callbacks()[n].callbackNumber, "+15550122");
            EXPECT_EQ(this->app->account()->forwardingPhoneID(), office);
            EXPECT_EQ(foundation::UserDefaults::standardUserDefaults()->integerForKey("forwardingID"), office);
            ++n;
            this->app->account()->setForwardingPhoneID(mobile);
        }
    }

    std::shared_ptr<VC_Call> pad;
};

struct PhonePad : PadOnService<HX_ConnectAppDelegate_iPhone> {
    PhonePad() : PadOnService(hxtest::DeviceForm::phone) {}
};
struct TabletPad : PadOnService<HX_ConnectAppDelegate_iPad> {
    TabletPad() : PadOnService(hxtest::DeviceForm::tablet) {}
};

}  // namespace

TEST_F(PhonePad, TypedDigitsBecomeTheServicesCallback) { typedDigitsBecomeTheServicesCallback(); }
TEST_F(TabletPad, TypedDigitsBecomeTheServicesCallback) { typedDigitsBecomeTheServicesCallback(); }
TEST_F(PhonePad, AnEmptyPadRecallsTheLastNumber) { anEmptyPadRecallsTheLastNumber(); }
TEST_F(TabletPad, AnEmptyPadRecallsTheLastNumber) { anEmptyPadRecallsTheLastNumber(); }
TEST_F(PhonePad, ALocalNumberTakesTheOwnAreaCode) { aLocalNumberTakesTheOwnAreaCode(); }
TEST_F(TabletPad, ALocalNumberTakesTheOwnAreaCode) { aLocalNumberTakesTheOwnAreaCode(); }
TEST_F(PhonePad, DirectCallAndTheDialer) { directCallAndTheDialer(); }
TEST_F(PhonePad, AnOutsideCallURLWaitsForTheCallKey) { anOutsideCallURLWaitsForTheCallKey(); }
TEST_F(TabletPad, AnOutsideCallURLWaitsForTheCallKey) { anOutsideCallURLWaitsForTheCallKey(); }
TEST_F(TabletPad, DirectCallAndTheDialer) { directCallAndTheDialer(); }

TEST_F(TabletPad, ChoosingAnotherPhoneRingsItBack) {
    type("2025550155");
    pad->changeForwardingNumber(nullptr);
    auto titles = chooserTitles();
    ASSERT_GE(titles.size(), 2u);
    EXPECT_EQ(std::vector<std::string>(titles.begin(), titles.begin() + 2),
              (std::vector<std::string>{"Mobile", "Office"}));
    ASSERT_TRUE(harness.tapAlertAction("Office"));
    harness.settle();
    ASSERT_TRUE(runUntil([&] { return !callbacks().empty() && idle(); }));
    EXPECT_EQ(callbacks()[0].target, "+12025550155");
    EXPECT_EQ(callbacks()[0].callbackNumber, "+15550122");
    EXPECT_EQ(pad->forwardingLabel->text(), "Office");
}

// While a direct call's access number is being reserved ("DIRECT_CALL" out), the spinner stands
// in for the call key as it does for a callback; the key is back once the number is dialled.
TEST_F(PhonePad, TheSpinnerStandsInForTheCallKeyWhileADirectCallIsReserved) {
    const std::string reserve = "/voice/v1/proxynumbers/reserve";
    this->app->account()->setThisPhoneID(phoneCalled("+15550122")->phoneId());
    this->service->script(reserve, emulator::ScriptedReply{.hold = true, .passThrough = true});
    type("2025550155");
    pad->changeForwardingNumber(nullptr);
    ASSERT_TRUE(this->harness.tapAlertAction("Direct Call"));
    this->harness.settle();
    ASSERT_TRUE(runUntil([&] { return requestsTo(reserve) == 1; }));
    EXPECT_TRUE(busy()) << "the spinner stands in for the call key while the number is reserved";
    EXPECT_TRUE(services::URLOpener::shared()->openedURLs().empty());
    this->service->releaseHeld();
    ASSERT_TRUE(runUntil([&] { return !services::URLOpener::shared()->openedURLs().empty() && idle(); }));
    EXPECT_EQ(services::URLOpener::shared()->openedURLs(), std::vector<std::string>{"tel:+15550199"});
}
