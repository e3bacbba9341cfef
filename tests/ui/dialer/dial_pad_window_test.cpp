// The dial pad worked through the window (SDL's offscreen driver) as a user meets it: the call
// key shows the phone that rings under its title, and a call the network cannot carry ends with
// the key back, not a spinner standing for good.
#include <gtest/gtest.h>

#include "app/run_device.h"
#include "model/account.h"
#include "model/phone.h"
#include "service/request_machinery.h"
#include "tests/support/window_fixture.h"
#include "ui/dialer/vc_call.h"

namespace {

struct DialPadWindow : hxtest::WindowFixture {
    void SetUp() override {
        WindowFixture::SetUp();
        hxrun::installConnection();
    }
    HX_PhonePtr phoneCalled(const std::string& number) {
        for (const auto& [id, p] : app->account()->phones())
            if (p->number() == number) return p;
        return nullptr;
    }
    // Dismisses the alert on screen with the window's click, when it has this button.
    bool dismiss(const std::string& title) {
        auto* alert = harness.visibleAlert();
        if (!alert) return false;
        auto* button = harness.find(title);
        if (!button) return false;
        click(*button);
        return true;
    }
};

}  // namespace

TEST_F(DialPadWindow, AnOfflineDirectCallEndsWithTheCallKeyAndItsMethodShown) {
    ASSERT_TRUE(launchAndLoad());
    openWindow();
    frames(2);
    ASSERT_TRUE(settleRequests());
    ASSERT_TRUE(phoneCalled("+15550122")) << "the account's phones have arrived";
    app->account()->setThisPhoneID(phoneCalled("+15550122")->phoneId());
    app->account()->setForwardingPhoneID(-1);
    // The network goes while the app is away; back in front, it has not yet heard whether there
    // is one, so the call's request goes out and fails as not connected.
    play("press-key F5");
    play("press-key F11");
    play("press-key F5");
    ASSERT_FALSE(hxrun::connectionOn());
    app->selectViewForIndex(0);
    harness.settle();
    auto pad = std::dynamic_pointer_cast<VC_Call>(app->viewControllerForIndex(0));
    ASSERT_TRUE(pad && pad->view()->window()) << harness.outline();
    for (long tag : {2L, 0L, 2L, 5L, 5L, 5L, 0L, 1L, 5L, 5L}) click(*pad->key(tag == 0 ? VC_Call::kTagZero : tag));
    auto* call = pad->key(VC_Call::kTagCall);
    ASSERT_EQ(pad->forwardingLabel->text(), "Direct Call");
    click(*call);
    frames(1);
    ASSERT_TRUE(settleRequests());
    (void)dismiss("Dismiss");
    frames(10);
    EXPECT_FALSE(HXWebClientOf(*app).requests.contains("DIRECT_CALL"));
    EXPECT_FALSE(call->isHidden()) << "the call key is back";
    EXPECT_FALSE(pad->callStarted->isAnimating()) << "no spinner stands for a call that ended";
    EXPECT_FALSE(pad->forwardingLabel->isHidden());
    EXPECT_EQ(pad->forwardingLabel->text(), "Direct Call");
    // The method reads on the key: a touch at its middle reaches the call key.
    auto& method = *pad->forwardingLabel;
    const toolkit::Point middle = hxtest::centre(method);
    toolkit::View* hit = app->window()->hitTest(middle, nullptr);
    bool onKey = false;
    for (toolkit::View* v = hit; v; v = v->superview()) onKey = onKey || v == call;
    EXPECT_TRUE(onKey) << "the method lies on the call key";
}
