// The sign-in panel as the screen shows it, with real fonts: full screen in the phone form, and
// as the tablet form's popover from the master list, sized after the page.
#include <gtest/gtest.h>

#include "platform/toolkit/testing/input_script.h"

#include "platform/toolkit/presentation.h"
#include "platform/toolkit/renderer.h"
#include "tests/ui/signin/signin_fixture.h"

namespace {

using PhonePanel = hxtest::SignInFixture;

TEST_F(PhonePanel, ASheetOverTheTabBarWithTheFormAndWithoutTheSignUpOffers) {
    hxtest::UsingFonts fonts;
    ASSERT_TRUE(launch());
    ASSERT_TRUE(waitForPage());
    auto* nav = app->tabBarController()->presentedViewController();
    ASSERT_NE(nav, nullptr);
    // The platform's default modal style, a sheet from iOS 13 on.
    EXPECT_EQ(nav->presentationStyleInUse(), toolkit::ModalPresentationStyle::PageSheet);
    EXPECT_TRUE(nav->isModalInPresentation);
    EXPECT_EQ(panel()->view()->frame().size.width, 375);
    expectOutline("phone_panel");
    expectSnapshot("phone_panel");
    // In dark the page follows: light text on dark paper.
    harness.setInterfaceStyle(toolkit::InterfaceStyle::dark);
    harness.settle();
    expectSnapshot("phone_panel_dark");
}

struct TabletPanel : hxtest::SignInFixture {
    TabletPanel() : SignInFixture(hxtest::DeviceForm::tablet) {}
    std::shared_ptr<HX_ConnectAppDelegate> tablet = std::make_shared<HX_ConnectAppDelegate>();
    std::shared_ptr<toolkit::ViewController> master = std::make_shared<toolkit::ViewController>();
    std::shared_ptr<toolkit::BarButtonItem> anchor = toolkit::BarButtonItem::withTitle("Accounts");

    void SetUp() override {
        SignInFixture::SetUp();
        tablet->setIPad(true);
        HXWebClientOf(*tablet).endpoints = HXEndpoints::allAt(service->origin());
        master->setTitle("HX Voice");
        master->navigationItem().setRightBarButtonItem(anchor);
        harness.setRoot(std::make_shared<toolkit::NavigationController>(master));
    }
    VC_LoginPanel* tabletPanel(toolkit::ViewController* presented) {
        auto* nav = dynamic_cast<toolkit::NavigationController*>(presented);
        return nav ? dynamic_cast<VC_LoginPanel*>(nav->viewControllers().front().get()) : nullptr;
    }
    bool waitForTabletPage(VC_LoginPanel* p) {
        bool ok = harness.clock().runUntil(
            [&] { return p->webView() && p->webView()->document() && !p->webView()->isLoading(); }, 10);
        harness.settle();
        return ok;
    }
};

TEST_F(TabletPanel, APopoverAtTheMasterListsButtonSizedAfterThePage) {
    hxtest::UsingFonts fonts;
    HXUIScreens screens;
    auto made = screens.makeLoginPanel(tablet->screenRoles());
    ASSERT_TRUE(screens.presentLoginPanelInPopover(made, *master, anchor));
    auto* nav = master->navigationController()->presentedViewController();
    ASSERT_NE(nav, nullptr);
    VC_LoginPanel* p = tabletPanel(nav);
    ASSERT_EQ(p, made.get());
    // Until the page answers, the panel's own size.
    EXPECT_EQ(nav->preferredContentSize(), (toolkit::Size{320, 496}));
    ASSERT_TRUE(waitForTabletPage(p));
    EXPECT_EQ(nav->presentationStyleInUse(), toolkit::ModalPresentationStyle::Popover);
    EXPECT_EQ(nav->popoverPresentationController()->arrowDirection(), toolkit::kArrowUp);
    EXPECT_TRUE(nav->isModalInPresentation);
    // The bar and the whole page below it, at the panel's width: the page is not cut.
    const double height = p->webView()->contentHeight();
    ASSERT_GT(height, 0);
    EXPECT_EQ(nav->preferredContentSize(), (toolkit::Size{320, height + toolkit::NavigationBar::kHeight}));
    harness.settle();
    // The page's last line (its "Terms") shows inside the popover.
    const toolkit::Rect page = p->webView()->convertRectTo(p->webView()->bounds(), nullptr);
    auto* last = toolkit::testing::findVisible(harness.window(), "Terms");
    ASSERT_TRUE(last) << toolkit::outline(harness.window());
    EXPECT_LE(last->convertRectTo(last->bounds(), nullptr).maxY(), page.maxY() + 0.5) << "every line of the page shows";
    // A second request while the panel is up presents nothing.
    EXPECT_FALSE(screens.presentLoginPanelInPopover(screens.makeLoginPanel(tablet->screenRoles()), *master, anchor));
    EXPECT_EQ(master->navigationController()->presentedViewController(), nav);
    expectOutline("tablet_popover");
    expectSnapshot("tablet_popover");
}

TEST_F(TabletPanel, OverWhatTheMasterListPresentsInItsContextAndNotSizedAsAPopover) {
    auto shown = std::make_shared<toolkit::NavigationController>(std::make_shared<toolkit::ViewController>());
    master->present(shown, false);
    harness.settle();
    HXUIScreens screens;
    ASSERT_TRUE(screens.presentLoginPanelInPopover(screens.makeLoginPanel(tablet->screenRoles()), *master, anchor));
    auto* nav = shown->presentedViewController();
    ASSERT_NE(nav, nullptr);
    EXPECT_EQ(nav->presentationStyleInUse(), toolkit::ModalPresentationStyle::CurrentContext);
    VC_LoginPanel* p = tabletPanel(nav);
    ASSERT_NE(p, nullptr);
    ASSERT_TRUE(waitForTabletPage(p));
    EXPECT_EQ(nav->preferredContentSize(), (toolkit::Size{320, 496}));
    // The master list counts as showing the panel through what it presents.
    EXPECT_TRUE(presentsLoginPanel(*master->navigationController()));
    EXPECT_FALSE(screens.presentLoginPanelInPopover(screens.makeLoginPanel(tablet->screenRoles()), *master, anchor));
}

// The tablet's Cancel follows the split view: shown only while it is collapsed (and an account
// is stored to go back to), tested again at every size change.
struct SplitTablet : HX_ConnectAppDelegate {
    bool collapsed = false;
    bool isSplitViewCollapsed() override { return collapsed; }
};

TEST_F(TabletPanel, CancelFollowsTheSplitViewAcrossSizeChanges) {
    storeAccount("kept@example.test");
    auto split = std::make_shared<SplitTablet>();
    split->setIPad(true);
    HXWebClientOf(*split).endpoints = HXEndpoints::allAt(service->origin());
    HXUIScreens screens;
    auto made = screens.makeLoginPanel(split->screenRoles());
    ASSERT_TRUE(screens.presentLoginPanelInPopover(made, *master, anchor));
    harness.settle();
    EXPECT_EQ(made->navigationItem().rightBarButtonItem(), nullptr);
    split->collapsed = true;
    harness.rotate(toolkit::Orientation::LandscapeLeft);
    ASSERT_NE(made->navigationItem().rightBarButtonItem(), nullptr);
    EXPECT_EQ(made->navigationItem().rightBarButtonItem()->systemItem, toolkit::SystemItem::Cancel);
    split->collapsed = false;
    harness.rotate(toolkit::Orientation::Portrait);
    EXPECT_EQ(made->navigationItem().rightBarButtonItem(), nullptr);
}

}  // namespace
