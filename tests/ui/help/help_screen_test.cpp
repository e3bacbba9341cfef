// The help and legal screens end to end: presented as the settings screen presents them, their
// pages filled from a bundle, links tapped through hit-testing and routed by scheme, the feedback
// mail written through the composer, and what the pages look like.
#include <gtest/gtest.h>

#include <fstream>

#include "app/connect_app_delegate.h"
#include "model/account.h"
#include "model/phone.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/files.h"
#include "platform/foundation/property_list.h"
#include "platform/foundation/user_defaults.h"
#include "platform/graphics/text_layout.h"
#include "platform/mail/mail_compose_controller.h"
#include "platform/security/keychain.h"
#include "platform/services/device.h"
#include "platform/services/url_opener.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/testing/harness.h"
#include "tests/support/screen_fixture.h"
#include "tests/support/shell_recorder.h"
#include "tests/support/signed_in_account.h"
#include "tests/support/test_support.h"
#include "ui/help/help_pages.h"
#include "ui/help/vc_help.h"
#include "ui/help/vc_legal.h"
#include "ui/shell/ui_screens.h"
#include "ui/widgets/device_hardware.h"

namespace {

namespace fs = std::filesystem;

// An application object whose split view state a test sets (the tablet form's question).
class App : public hxtest::RecordedApp<> {
public:
    bool collapsed = true;
    bool isSplitViewCollapsed() override { return collapsed; }
    // What the tablet's popover is: dismissed here as the tablet form does.
    toolkit::ViewController* popover = nullptr;
    void dismissPopoverAnimated(bool animated) override {
        HX_ConnectAppDelegate::dismissPopoverAnimated(animated);
        if (popover) popover->dismiss(animated);
        popover = nullptr;
    }
};

// A bundle of the build's resources with an Info file of its own, so that the version and the
// copyright the page shows are known; a test may replace a page.
class TestBundle {
public:
    TestBundle() {
        // Fonts are found once per process: keep them at the build's bundle, which outlives this one.
        graphics::setFontsDirectory(fs::path(HX_RESOURCES_DIR) / "fonts");
        for (const auto& entry : fs::directory_iterator(HX_RESOURCES_DIR))
            if (entry.path().filename() != "Info.plist")
                fs::create_symlink(entry.path(), dir_.path() / entry.path().filename());
        foundation::Dictionary info;
        info.set("CFBundleShortVersionString", "3.1 beta");
        info.set("CFBundleVersion", "311");
        info.set("NSHumanReadableCopyright", "Copyright © 2026 HX Connect & friends");
        EXPECT_TRUE(foundation::writePropertyListFile(info, dir_.path() / "Info.plist").ok());
        foundation::Bundle::main().setResourcesDirectory(dir_.path());
    }
    ~TestBundle() { foundation::Bundle::main().setResourcesDirectory({}); }
    void replacePage(const std::string& name, const std::string& html) {
        fs::remove(dir_.path() / name);
        std::ofstream(dir_.path() / name) << html;
    }

private:
    hxtest::TempDir dir_;
};

class HelpScreen : public hxtest::ScreenFixture<App> {
protected:
    explicit HelpScreen(hxtest::DeviceForm form = hxtest::DeviceForm::phone, int system = 15)
        : ScreenFixture({.form = form, .fonts = true, .systemVersion = system}) {}

    TestBundle bundle;
    std::shared_ptr<toolkit::ViewController> settings = std::make_shared<toolkit::ViewController>();
    std::shared_ptr<VC_Help> help;
    std::shared_ptr<toolkit::NavigationController> nav;

    void SetUp() override {
        ScreenFixture::SetUp();
        services::URLOpener::setShared(nullptr);
        mail::MailComposeViewController::setCanSendMail(true);
        harness.setRoot(std::make_shared<toolkit::NavigationController>(settings));
    }
    void TearDown() override {
        harness.clock().runUntilIdle();
        help.reset();
        nav.reset();
        ScreenFixture::TearDown();
    }
    // As the settings screen's information button does it: from the screen library's maker, in a
    // navigation controller of its own.
    void presentHelp() {
        help = std::dynamic_pointer_cast<VC_Help>(std::make_shared<HXUIScreens>()->makeHelp(app->screenRoles()));
        ASSERT_TRUE(help);
        nav = std::make_shared<toolkit::NavigationController>(help);
        settings->present(nav, false);
        harness.settle();
    }
    void closeHelp() {
        nav->dismiss(false);
        harness.settle();
        ASSERT_FALSE(helpShown());
    }
    bool helpShown() { return nav && nav->presentingViewController() != nullptr; }
    bool tapLink(const std::string& title) {
        toolkit::View* link = harness.find(title);
        if (!link) return false;
        const bool reached = harness.tap(*link);
        harness.settle();
        return reached;
    }
    std::vector<std::string> opened() { return services::URLOpener::shared()->openedURLs(); }
};

TEST_F(HelpScreen, ThePageIsFilledFromTheBundleAndDrawnUnderABlackBar) {
    presentHelp();
    ASSERT_TRUE(helpShown());
    auto* document = help->webView()->document();
    ASSERT_NE(document, nullptr);
    const std::string page = document->innerHTML(*document->documentElement());
    EXPECT_EQ(page.find("%%"), std::string::npos);
    EXPECT_NE(harness.find("Version 3.1 beta (311)"), nullptr);
    EXPECT_NE(harness.find("Copyright © 2026 HX Connect & friends"), nullptr);
    // The FAQ link carries the version (blanks as underscores), the hardware and the system.
    auto links = document->getElementsByTagName("a");
    ASSERT_FALSE(links.empty());
    EXPECT_EQ(links[0]->attribute("href"), "https://help.hxconnect.example/faq?version=3.1_beta_(311)&device=" +
                                               HXHelpPages::queryEncoded(DeviceHardware::platform()) + "&os=15.0");
    // The icon is the app's drawing, fitted and rounded, as a PNG inside the page.
    std::vector<toolkit::View*> images;
    for (auto& v : help->webView()->scrollView().subviews())
        if (v->className() == "ImageView") images.push_back(v.get());
    ASSERT_EQ(images.size(), 1u);
    auto* icon = static_cast<toolkit::ImageView*>(images[0]);
    ASSERT_NE(icon->image(), nullptr);
    EXPECT_EQ(icon->frame().size, (toolkit::Size{57, 57}));
    // Drawn at the screen's scale, so the PNG holds twice the points in pixels.
    EXPECT_EQ(icon->image()->size(), (toolkit::Size{114, 114}));
    // Loaded: the spinner has stopped and hides; Done closes the screen.
    EXPECT_FALSE(help->spinner()->isAnimating());
    EXPECT_TRUE(help->spinner()->isHidden());
    EXPECT_EQ(help->preferredContentSize(), (toolkit::Size{320, 588}));
    EXPECT_EQ(help->preferredStatusBarStyle(), toolkit::StatusBarStyle::LightContent);
    EXPECT_EQ(nav->navigationBar().barStyle(), toolkit::BarStyle::Black);
    EXPECT_FALSE(nav->navigationBar().isTranslucent());

    expectOutline("help_page");
    expectSnapshot("help_page", {.scale = 1});
    // In dark the page follows: light text on dark paper.
    harness.setInterfaceStyle(toolkit::InterfaceStyle::dark);
    harness.settle();
    expectSnapshot("help_page_dark", {.scale = 1});
    harness.setInterfaceStyle(toolkit::InterfaceStyle::light);
    harness.settle();

    ASSERT_TRUE(harness.tapBarButton("Done"));
    harness.settle();
    EXPECT_FALSE(helpShown());
    EXPECT_FALSE(help->webView()->isLoading());
}

TEST_F(HelpScreen, ACallLinkPlacesTheCallThroughTheAccountAndTheHelpStays) {
    // A phone whose calls go out through its own dialer: the call ends in the dialer with the
    // number reduced by the call operation, not the link's text.
    app->setIsPhone(true);
    auto account = hxtest::signedInAccount("ann@example.test");
    auto phone = std::make_shared<HX_Phone>();
    phone->setPhoneId(1);
    phone->setNumber("+15550111");
    phone->setFormattedNumber("+15550111");
    account->phones()[1] = phone;
    account->setForwardingPhoneID(-2);
    app->setAccount(account);
    presentHelp();

    ASSERT_TRUE(tapLink("Call support"));
    EXPECT_EQ(services::URLOpener::shared()->dialer()->dialedNumbers(), std::vector<std::string>{"+15550100100"});
    EXPECT_EQ(opened(), std::vector<std::string>{"tel:+15550100100"});
    EXPECT_EQ(foundation::UserDefaults::standardUserDefaults()->stringForKey("lastDialedNumber"), "+15550100100");
    EXPECT_TRUE(helpShown());
    EXPECT_NE(harness.find("Call support"), nullptr);
}

TEST_F(HelpScreen, AWebLinkLeavesTheAppThroughTheURLServiceAndClosesTheHelp) {
    presentHelp();
    ASSERT_TRUE(tapLink("Frequently asked questions"));
    ASSERT_EQ(opened().size(), 1u);
    EXPECT_TRUE(opened()[0].starts_with("https://help.hxconnect.example/faq?version=3.1_beta_(311)&device="));
    EXPECT_FALSE(helpShown());
}

TEST_F(HelpScreen, LeavingTheAppReleasesTheHelpOnlyAfterItsLinkHandlingReturns) {
    // Held by nothing but the presentation, as the settings screen leaves it.
    presentHelp();
    std::weak_ptr<VC_Help> weakHelp = help;
    std::weak_ptr<web::WebView> weakPage = help->webView();
    help.reset();
    nav.reset();
    ASSERT_FALSE(weakHelp.expired());
    ASSERT_TRUE(tapLink("Frequently asked questions"));
    EXPECT_EQ(opened().size(), 1u);
    harness.clock().runUntilIdle();
    EXPECT_TRUE(weakHelp.expired());
    EXPECT_TRUE(weakPage.expired());
}

TEST_F(HelpScreen, FeedbackIsWrittenToTheSupportAddressAndSentAsAMessageFile) {
    presentHelp();
    ASSERT_TRUE(tapLink("Send feedback"));
    auto* shown = dynamic_cast<mail::MailComposeViewController*>(harness.topPresented());
    ASSERT_NE(shown, nullptr);
    // Kept beyond its dismissal, to read what it sent.
    auto composer = std::static_pointer_cast<mail::MailComposeViewController>(shown->selfPtr());
    EXPECT_EQ(composer->presentingViewController(), nav.get());
    const auto& message = composer->message();
    EXPECT_EQ(message.to, std::vector<std::string>{"support@hxconnect.example"});  // not the page's address
    EXPECT_EQ(message.subject, "HX Connect");
    EXPECT_FALSE(message.bodyIsHTML);
    const std::string device = "iPhone (iOS 15.0, " + DeviceHardware::modelName() + ")";
    EXPECT_EQ(message.body, "\n\n\n\n\n\n--\nHX Connect 3.1 beta (311)\n" + device);
    EXPECT_EQ(composer->barTintColor, toolkit::Color::black());
    EXPECT_TRUE(opened().empty());

    ASSERT_TRUE(harness.tapBarButton("Send"));
    harness.settle();
    ASSERT_TRUE(composer->sentFile());
    // The composer is gone, the help stays.
    EXPECT_EQ(harness.topPresented(), nav.get());
    // An independent reader of the message file.
    if (!hxtest::haveProgram("python3")) GTEST_SKIP() << "python3 is not installed";
    std::string out;
    ASSERT_EQ(
        hxtest::runCommand("python3 -c \"import email,sys;m=email.message_from_binary_file(open(sys.argv[1],'rb'));"
                           "print(m['To']);print(m['Subject']);print(repr(m.get_payload(decode=True).decode()))\" '" +
                               composer->sentFile()->string() + "'",
                           &out),
        0);
    std::string body = "\\n\\n\\n\\n\\n\\n--\\nHX Connect 3.1 beta (311)\\n" + device;
    EXPECT_EQ(out, "support@hxconnect.example\nHX Connect\n'" + body + "'\n");
}

TEST_F(HelpScreen, WithoutMailTheFeedbackLinkDoesNothing) {
    mail::MailComposeViewController::setCanSendMail(false);
    presentHelp();
    ASSERT_TRUE(tapLink("Send feedback"));
    EXPECT_EQ(harness.topPresented(), nav.get());
    EXPECT_TRUE(helpShown());
    EXPECT_TRUE(opened().empty());
    EXPECT_FALSE(fs::exists(mail::MailComposeViewController::outboxDirectory()));
    EXPECT_NE(help->webView()->document(), nullptr);
}

TEST_F(HelpScreen, TheLegalLinkPushesTheLegalPageForThePhone) {
    presentHelp();
    ASSERT_TRUE(tapLink("Legal notices"));
    harness.advance(1);
    ASSERT_EQ(nav->viewControllers().size(), 2u);
    auto legal = std::dynamic_pointer_cast<VC_Legal>(nav->viewControllers().back());
    ASSERT_NE(legal, nullptr);
    EXPECT_FALSE(legal->iPad);
    EXPECT_EQ(legal->title(), "Legal");
    EXPECT_EQ(nav->navigationBar().backButtonTitle(), "About");
    EXPECT_TRUE(nav->navigationBar().isTranslucent());
    EXPECT_EQ(legal->preferredContentSize(), (toolkit::Size{320, 667}));
    // The phone's part shows; the tablet's and the old systems' do not (system 15).
    EXPECT_NE(harness.find("On the iPhone, calls can also be handed to the phone's own dialer; the carrier's charges "
                           "for those calls apply."),
              nullptr);
    EXPECT_EQ(harness.find("On the iPad, the conversation list and the open conversation are shown side by side; "
                           "nothing about your account differs between the two devices."),
              nullptr);
    EXPECT_EQ(harness.find("On system versions before 14, contact pictures and some symbols are drawn by the app "
                           "itself."),
              nullptr);
    // A link there leaves the app and, on the phone, takes the help along.
    ASSERT_TRUE(tapLink("Privacy policy"));
    EXPECT_EQ(opened(), std::vector<std::string>{"https://legal.hxconnect.example/privacy"});
    EXPECT_FALSE(helpShown());
}

// The page's height against the view: the layout's answer through the page script.
TEST_F(HelpScreen, AShortPageDoesNotScrollAndALongOneDoes) {
    bundle.replacePage("index.html", "<html><body><h2>HX Connect</h2><p>%%VERSION%%</p></body></html>");
    presentHelp();
    EXPECT_FALSE(help->webView()->scrollView().isScrollEnabled());
    closeHelp();

    std::string longPage = "<html><body>";
    for (int i = 0; i < 40; ++i) longPage += "<p>Line " + std::to_string(i) + "</p>";
    bundle.replacePage("index.html", longPage + "</body></html>");
    presentHelp();
    ASSERT_TRUE(helpShown());
    EXPECT_GT(help->webView()->contentHeight(), help->webView()->frame().size.height);
    EXPECT_TRUE(help->webView()->scrollView().isScrollEnabled());
    closeHelp();

    // A bottom margin with a unit turns the page's answer into NaN: the long page still scrolls.
    bundle.replacePage("index.html",
                       "<html><body style='margin-bottom:10px'>" + longPage.substr(12) + "</body></html>");
    presentHelp();
    EXPECT_TRUE(help->webView()->scrollView().isScrollEnabled());
}

TEST_F(HelpScreen, AMissingPageSaysSoInsteadOfStayingBlank) {
    fs::remove(foundation::Bundle::main().resourcesDirectory() / "index.html");
    presentHelp();
    ASSERT_NE(help->webView()->document(), nullptr);
    EXPECT_NE(harness.find("This page is not available: the bundle has no page \"index.html\""), nullptr);
    EXPECT_FALSE(help->spinner()->isAnimating());
}

class TabletHelpScreen : public HelpScreen {
protected:
    TabletHelpScreen() : HelpScreen(hxtest::DeviceForm::tablet, 13) {}
    void SetUp() override {
        HelpScreen::SetUp();
        app->setIPad(true);
    }
};

TEST_F(TabletHelpScreen, FeedbackGoesThroughTheApplicationAndDoneFollowsTheSplitView) {
    app->collapsed = false;
    presentHelp();
    EXPECT_EQ(help->navigationItem().rightBarButtonItem(), nullptr);
    EXPECT_EQ(nav->preferredContentSize(), (toolkit::Size{320, 588}));
    EXPECT_EQ(help->spinner()->center(), (toolkit::Point{160, 170}));
    // The split view collapses: Done appears alongside the size change, and goes again.
    app->collapsed = true;
    harness.rotate(toolkit::Orientation::LandscapeLeft);
    harness.settle();
    EXPECT_EQ(help->navigationItem().rightBarButtonItem(), help->doneButton());
    app->collapsed = false;
    harness.rotate(toolkit::Orientation::Portrait);
    harness.settle();
    EXPECT_EQ(help->navigationItem().rightBarButtonItem(), nullptr);

    app->shell().clear();
    ASSERT_TRUE(tapLink("Send feedback"));
    EXPECT_EQ(app->shell().calls(), (std::vector<std::string>{"dismissPopoverAnimated 0", "presentMailController"}));
    auto* composer = dynamic_cast<mail::MailComposeViewController*>(harness.topPresented());
    ASSERT_NE(composer, nullptr);
    EXPECT_EQ(composer->message().body,
              "\n\n\n\n\n\n--\nHX Connect 3.1 beta (311)\niPad (iOS 13.0, " + DeviceHardware::modelName() + ")");
    ASSERT_TRUE(harness.tapBarButton("Cancel"));
    harness.settle();
    EXPECT_EQ(harness.topPresented(), nav.get());

    // A web link leaves the app but the tablet keeps the help open.
    ASSERT_TRUE(tapLink("Frequently asked questions"));
    EXPECT_EQ(opened().size(), 1u);
    EXPECT_TRUE(helpShown());
}

TEST_F(TabletHelpScreen, TheComposerIsAnsweredAfterTheHelpPopoverHasGone) {
    presentHelp();
    app->popover = nav.get();
    std::weak_ptr<VC_Help> weakHelp = help;
    help.reset();
    nav.reset();
    ASSERT_TRUE(tapLink("Send feedback"));
    // The popover went first; the composer stands alone over the settings.
    auto* shown = dynamic_cast<mail::MailComposeViewController*>(harness.topPresented());
    ASSERT_NE(shown, nullptr);
    auto composer = std::static_pointer_cast<mail::MailComposeViewController>(shown->selfPtr());
    ASSERT_TRUE(harness.tapBarButton("Send"));
    harness.clock().runUntilIdle();
    harness.settle();
    ASSERT_TRUE(composer->sentFile());
    EXPECT_TRUE(fs::exists(*composer->sentFile()));
    EXPECT_EQ(harness.topPresented(), harness.window().rootViewController().get());
    EXPECT_TRUE(weakHelp.expired());
}

TEST_F(TabletHelpScreen, TheLegalPageShowsTheTabletAndOldSystemPartsAndKeepsTheHelpOnLinks) {
    presentHelp();
    ASSERT_TRUE(tapLink("Legal notices"));
    harness.advance(1);
    auto legal = std::dynamic_pointer_cast<VC_Legal>(nav->viewControllers().back());
    ASSERT_NE(legal, nullptr);
    EXPECT_TRUE(legal->iPad);
    EXPECT_EQ(nav->preferredContentSize(), (toolkit::Size{320, 1024}));
    // From system 13 the paper follows the appearance: black in the dark style.
    auto paper = legal->webView()->backgroundColor();
    ASSERT_TRUE(paper);
    EXPECT_EQ(paper->resolved(toolkit::InterfaceStyle::dark), toolkit::Color::black());
    EXPECT_EQ(paper->resolved(toolkit::InterfaceStyle::light), toolkit::Color::rgb(0.855, 0.851, 0.875));
    EXPECT_NE(harness.find("On system versions before 14, contact pictures and some symbols are drawn by the app "
                           "itself."),
              nullptr);
    EXPECT_EQ(harness.find("On the iPhone, calls can also be handed to the phone's own dialer; the carrier's charges "
                           "for those calls apply."),
              nullptr);
    ASSERT_TRUE(tapLink("Third-party notices"));
    EXPECT_EQ(opened(), std::vector<std::string>{"https://legal.hxconnect.example/notices"});
    EXPECT_TRUE(helpShown());
}

}  // namespace
