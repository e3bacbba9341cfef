// Animations in the desktop window under a virtual display (xvfb-run), stepped on the harness's
// virtual clock and read back from the window's own render target: a pushed screen is half-way in
// a frame taken half-way through its slide, and a spinning indicator's frames differ over a second.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/graphics/bitmap_compare.h"
#include "platform/toolkit/animation.h"
#include "platform/toolkit/controls.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/testing/harness.h"
#include "platform/window/front_end.h"

namespace {

using toolkit::Color;

class Plain : public toolkit::ViewController {
public:
    explicit Plain(Color colour) : colour_(colour) {}
    void viewDidLoad() override { view()->setBackgroundColor(colour_); }

private:
    Color colour_;
};

class WindowMotion : public ::testing::Test {
protected:
    void SetUp() override {
        const char* display = std::getenv("DISPLAY");
        if (!display || !*display) GTEST_SKIP() << "needs a display: ctest runs it under xvfb-run";
        // The display's own driver, not the offscreen one the other window tests use.
        unsetenv("SDL_VIDEODRIVER");
    }

    void open(std::shared_ptr<toolkit::ViewController> root) {
        harness = std::make_unique<toolkit::testing::Harness>(toolkit::ScreenProfile::iPhone8());
        harness->setRoot(std::move(root));
        harness->settle();
        windowing::FrontEndOptions options;
        options.timedAnimations = true;
        auto opened = windowing::FrontEnd::open(harness->window(), std::move(options));
        ASSERT_TRUE(opened.ok()) << opened.error().localizedDescription();
        frontEnd = std::move(*opened);
        ASSERT_TRUE(toolkit::Animations::timed());
    }

    void TearDown() override {
        frontEnd.reset();
        EXPECT_FALSE(toolkit::Animations::timed()) << "the window puts the switch back";
        harness.reset();
    }

    std::shared_ptr<graphics::Bitmap> shown() {
        EXPECT_TRUE(frontEnd->drawFrame().ok());
        auto pixels = frontEnd->readRenderTarget();
        EXPECT_TRUE(pixels.ok());
        return pixels.ok() ? *pixels : nullptr;
    }

    std::unique_ptr<toolkit::testing::Harness> harness;
    std::unique_ptr<windowing::FrontEnd> frontEnd;
};

// The first red column of a row, or -1.
int firstRed(const graphics::Bitmap& b, int y) {
    for (int x = 0; x < b.width(); ++x) {
        const auto p = b.rgbaAt(x, y);
        if (p[0] > 200 && p[1] < 60 && p[2] < 60) return x;
    }
    return -1;
}

TEST_F(WindowMotion, APushedScreenIsHalfWayInAFrameTakenHalfWayThroughItsSlide) {
    auto nav = std::make_shared<toolkit::NavigationController>(std::make_shared<Plain>(Color::whiteColor()));
    open(nav);
    if (HasFatalFailure()) return;
    const auto before = shown();
    ASSERT_TRUE(before);
    const int width = before->width();
    const int row = before->height() * 2 / 3;
    EXPECT_EQ(firstRed(*before, row), -1);
    nav->pushViewController(std::make_shared<Plain>(Color::red()), true);
    harness->advance(toolkit::NavigationController::kPushDuration / 2);
    const auto middle = shown();
    ASSERT_TRUE(middle);
    EXPECT_NEAR(firstRed(*middle, row), width / 2, 2) << "the new screen covers the right half";
    EXPECT_GT(middle->rgbaAt(width / 4, row)[1], 200) << "the old screen shows on the left";
    harness->advance(toolkit::NavigationController::kPushDuration);
    EXPECT_EQ(firstRed(*shown(), row), 0) << "all the way in";
}

TEST_F(WindowMotion, ASpinnersFramesDifferOverOneSecond) {
    auto screen = std::make_shared<Plain>(Color::whiteColor());
    open(screen);
    if (HasFatalFailure()) return;
    auto spinner = std::make_shared<toolkit::ActivityIndicatorView>(toolkit::ActivityIndicatorStyle::Large);
    spinner->setCenter({187.5, 333.5});
    screen->view()->addSubview(spinner);
    spinner->startAnimating();
    std::vector<std::shared_ptr<graphics::Bitmap>> frames;
    for (int i = 0; i < 8; ++i) {
        frames.push_back(shown());
        ASSERT_TRUE(frames.back());
        harness->advance(1.0 / 8);
    }
    int distinct = 0;
    for (size_t i = 0; i < frames.size(); ++i) {
        bool seen = false;
        for (size_t j = 0; j < i && !seen; ++j)
            seen = graphics::compareBitmaps(*frames[i], *frames[j]).differingPixels == 0;
        distinct += !seen;
    }
    EXPECT_EQ(distinct, 8) << "a new position every eighth of a second";
    spinner->stopAnimating();
    spinner->setHidden(false);
    const auto stopped = shown();
    harness->advance(0.5);
    EXPECT_EQ(graphics::compareBitmaps(*stopped, *shown()).differingPixels, 0) << "stopped, it holds still";
}

}  // namespace
