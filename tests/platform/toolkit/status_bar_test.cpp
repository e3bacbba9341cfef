// The status bar and home indicator over a window's snapshot: goldens of the phone, the notched
// phone and the tablet in light and dark, and pixel checks that it shows the clock, carrier and
// battery of the device stand-ins, follows the visible controller and hides where it should.
#include "platform/toolkit/status_bar.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "platform/services/device.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/renderer.h"
#include "platform/toolkit/testing/harness.h"
#include "tests/support/goldens.h"

using namespace toolkit;

namespace {

class StatusScreen : public ViewController {
public:
    bool hidden = false;
    StatusBarStyle style = StatusBarStyle::Default;
    std::optional<Color> background = Color::systemBackground();
    void viewDidLoad() override { view()->setBackgroundColor(background); }
    bool prefersStatusBarHidden() const override { return hidden; }
    StatusBarStyle preferredStatusBarStyle() const override { return style; }
};

// Rows [top, top + height) of a picture, in pixels.
std::shared_ptr<graphics::Bitmap> rows(const graphics::Bitmap& b, int top, int height) {
    auto out = graphics::Bitmap::make(b.width(), height).value();
    for (int y = 0; y < height; ++y) std::copy_n(b.row(top + y), b.width(), out->row(y));
    return out;
}

struct Stage {
    explicit Stage(const ScreenProfile& profile) : harness(profile) {
        setenv("TZ", "UTC", 1);
        tzset();
        services::resetDeviceServices();
        harness.setRoot(screen);
        harness.settle();
    }
    ~Stage() { services::resetDeviceServices(); }
    // The status bar's strip (the top 50 points) as drawn now.
    std::shared_ptr<graphics::Bitmap> strip() {
        auto whole = snapshot(harness.window());
        const double scale = harness.window().profile().scale;
        return rows(*whole, 0, static_cast<int>(50 * scale));
    }
    int differing(const graphics::Bitmap& a, const graphics::Bitmap& b) {
        return graphics::compareBitmaps(a, b).differingPixels;
    }
    hxtest::UsingFonts fonts;
    toolkit::testing::Harness harness;
    std::shared_ptr<StatusScreen> screen = std::make_shared<StatusScreen>();
};

int countWhere(const graphics::Bitmap& b, const std::function<bool(std::array<uint8_t, 4>)>& test) {
    int n = 0;
    for (int y = 0; y < b.height(); ++y)
        for (int x = 0; x < b.width(); ++x) n += test(b.rgbaAt(x, y));
    return n;
}

}  // namespace

TEST(StatusBar, GoldensOfThePhoneTheNotchedPhoneAndTheTablet) {
    struct Case {
        const char* name;
        ScreenProfile profile;
    } cases[] = {{"status_bar_phone", ScreenProfile::iPhone8()},
                 {"status_bar_notched", ScreenProfile::iPhoneX()},
                 {"status_bar_tablet", ScreenProfile::iPad()}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Stage stage(c.profile);
        // 22:13 on the harness's clock; 52 % charged.
        services::Battery::shared().setLevel(0.52);
        for (auto style : {InterfaceStyle::light, InterfaceStyle::dark}) {
            stage.harness.setInterfaceStyle(style);
            auto whole = snapshot(stage.harness.window());
            ASSERT_TRUE(whole);
            const double scale = c.profile.scale;
            const int top = static_cast<int>(50 * scale);
            // The top strip and, for the notched phone, the bottom one with the home indicator.
            auto picture = graphics::Bitmap::make(whole->width(), top * 2).value();
            for (int y = 0; y < top; ++y) {
                std::copy_n(whole->row(y), whole->width(), picture->row(y));
                std::copy_n(whole->row(whole->height() - top + y), whole->width(), picture->row(top + y));
            }
            hxtest::expectSnapshot(*picture,
                                   std::string(c.name) + (style == InterfaceStyle::light ? "_light" : "_dark"));
        }
    }
}

TEST(StatusBar, ShowsTheClockTheCarrierAndTheBattery) {
    Stage stage(ScreenProfile::iPhone8());
    const StatusBarContent content = statusBarContent(stage.harness.window());
    // An independent reading of the harness's wall clock: 1,700,000,000 s is 22:13:20 UTC.
    EXPECT_EQ(content.time, "10:13 PM");
    EXPECT_EQ(content.carrier, std::optional<std::string>("HX Mobile"));
    EXPECT_EQ(content.batteryLevel, 1);
    const auto first = stage.strip();
    stage.harness.advance(30);
    EXPECT_EQ(stage.differing(*first, *stage.strip()), 0) << "the same minute";
    stage.harness.advance(30);
    EXPECT_EQ(statusBarContent(stage.harness.window()).time, "10:14 PM");
    const auto nextMinute = stage.strip();
    EXPECT_GT(stage.differing(*first, *nextMinute), 0);

    services::Telephony::shared().setCarrierName(std::nullopt);
    const auto noSim = stage.strip();
    EXPECT_GT(stage.differing(*nextMinute, *noSim), 0) << "\"No SIM\" in place of the carrier";

    // The battery: low is red, charging is green, the fill shrinks with the charge.
    auto red = [](std::array<uint8_t, 4> p) { return p[0] > 200 && p[1] < 90 && p[2] < 90; };
    auto green = [](std::array<uint8_t, 4> p) { return p[1] > 150 && p[0] < 120 && p[2] < 120; };
    auto dark = [](std::array<uint8_t, 4> p) { return p[0] < 60 && p[1] < 60 && p[2] < 60; };
    EXPECT_EQ(countWhere(*noSim, red), 0);
    const int fullInk = countWhere(*noSim, dark);
    services::Battery::shared().setLevel(0.5);
    EXPECT_LT(countWhere(*stage.strip(), dark), fullInk);
    services::Battery::shared().setLevel(0.1);
    EXPECT_GT(countWhere(*stage.strip(), red), 10);
    services::Battery::shared().setState(services::BatteryState::Charging);
    EXPECT_GT(countWhere(*stage.strip(), green), 10);
    EXPECT_EQ(countWhere(*stage.strip(), red), 0);
}

TEST(StatusBar, FollowsTheVisibleControllersStyleAndHides) {
    {
        Stage stage(ScreenProfile::iPhone8());
        auto white = [](std::array<uint8_t, 4> p) { return p[0] > 230 && p[1] > 230 && p[2] > 230; };
        auto black = [](std::array<uint8_t, 4> p) { return p[0] < 30 && p[1] < 30 && p[2] < 30; };
        // Dark ink on the light screen by default.
        EXPECT_GT(countWhere(*stage.strip(), black), 100);
        // A black screen that asks for light content gets white ink.
        stage.screen->background = Color::black();
        stage.screen->view()->setBackgroundColor(Color::black());
        stage.screen->style = StatusBarStyle::LightContent;
        EXPECT_GT(countWhere(*stage.strip(), white), 100);
        // In the dark appearance the default ink is light too.
        stage.screen->style = StatusBarStyle::Default;
        stage.harness.setInterfaceStyle(InterfaceStyle::dark);
        EXPECT_GT(countWhere(*stage.strip(), white), 100);
        // Hidden: only the screen's own black.
        stage.screen->hidden = true;
        EXPECT_TRUE(statusBarFrame(stage.harness.window()).isEmpty());
        const auto strip = stage.strip();
        EXPECT_EQ(countWhere(*strip, black), strip->width() * strip->height());
        stage.screen->hidden = false;
        EXPECT_EQ(statusBarFrame(stage.harness.window()), Rect(0, 0, 375, 20));
        // Phones hide it in landscape; the tablet keeps it.
        stage.harness.rotate(Orientation::LandscapeLeft);
        EXPECT_TRUE(statusBarFrame(stage.harness.window()).isEmpty());
    }
    Stage tablet(ScreenProfile::iPadLandscape());
    EXPECT_EQ(statusBarFrame(tablet.harness.window()), Rect(0, 0, 1024, 20));
}

TEST(StatusBar, TheControllerItFollowsIsTheTopOfWhatCoversTheScreen) {
    Stage stage(ScreenProfile::iPhone8());
    auto top = std::make_shared<StatusScreen>();
    auto nav = std::make_shared<NavigationController>(std::make_shared<StatusScreen>());
    stage.harness.setRoot(nav);
    nav->pushViewController(top, false);
    stage.harness.settle();
    EXPECT_EQ(statusBarController(stage.harness.window()), top.get());
    top->hidden = true;
    EXPECT_TRUE(statusBarFrame(stage.harness.window()).isEmpty());
    // A full-screen presentation takes over; a sheet over it would not.
    auto cover = std::make_shared<StatusScreen>();
    cover->modalPresentationStyle = ModalPresentationStyle::FullScreen;
    nav->present(cover, false);
    stage.harness.settle();
    EXPECT_EQ(statusBarController(stage.harness.window()), cover.get());
    EXPECT_FALSE(statusBarFrame(stage.harness.window()).isEmpty());
    auto sheet = std::make_shared<StatusScreen>();
    sheet->modalPresentationStyle = ModalPresentationStyle::FormSheet;
    cover->present(sheet, false);
    stage.harness.settle();
    EXPECT_EQ(statusBarController(stage.harness.window()), cover.get());
}

TEST(StatusBar, OnlyTheNotchedPhoneHasAHomeIndicator) {
    {
        Stage notched(ScreenProfile::iPhoneX());
        const Rect home = homeIndicatorFrame(notched.harness.window());
        EXPECT_EQ(home, Rect(120.5, 799, 134, 5));
        auto pixels = snapshot(notched.harness.window());
        const auto middle = pixels->rgbaAt(static_cast<int>(187.5 * 3), static_cast<int>(801.5 * 3));
        EXPECT_LT(middle[0], 30) << "black on the light screen";
        const auto beside = pixels->rgbaAt(static_cast<int>(100 * 3), static_cast<int>(801.5 * 3));
        EXPECT_GT(beside[0], 230);
    }
    for (const auto& profile : {ScreenProfile::iPhone8(), ScreenProfile::iPad()}) {
        Stage other(profile);
        EXPECT_TRUE(homeIndicatorFrame(other.harness.window()).isEmpty()) << profile.name;
    }
}
