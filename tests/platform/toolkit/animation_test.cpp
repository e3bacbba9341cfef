// Timed animations as the screen shows them, stepped on the virtual clock: what a block changes
// is drawn part of the way along its curve, pushes and presentations move their screens, the
// passcode shake, the progress bar and the spinner; instant animations (the harness's default)
// show the end at once.
#include "platform/toolkit/animation.h"

#include <gtest/gtest.h>

#include <cmath>

#include "platform/toolkit/alert_controller.h"
#include "platform/toolkit/controls.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/presentation.h"
#include "platform/toolkit/renderer.h"
#include "platform/toolkit/testing/harness.h"
#include "tests/platform/toolkit/snapshot_support.h"

using namespace toolkit;

namespace {

// Animations timed for the test's scope.
struct Timed {
    Timed() {
        Animations::setTimed(true);
        Animations::clearLog();
    }
    ~Timed() { Animations::setTimed(false); }
};

using toolkit_snapshots::box;

class Plain : public ViewController {
public:
    explicit Plain(Color colour) : colour_(colour) {}
    void viewDidLoad() override { view()->setBackgroundColor(colour_); }

private:
    Color colour_;
};

// The first column of x (at the middle row) whose pixel is red.
int firstRedColumn(const graphics::Bitmap& b, int y) {
    for (int x = 0; x < b.width(); ++x) {
        const auto p = b.rgbaAt(x, y);
        if (p[0] > 200 && p[1] < 60 && p[2] < 60) return x;
    }
    return -1;
}

}  // namespace

TEST(AnimationCurves, EndsAndShapesOfEachCurve) {
    struct Case {
        unsigned options;
        double quarter;  // the curve at t = 0.25, against an independent reading of the Bezier
    } cases[] = {
        {kAnimationCurveLinear, 0.25},
        {kAnimationCurveEaseInOut, 0.129},
        {kAnimationCurveEaseIn, 0.093},
        {kAnimationCurveEaseOut, 0.376},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(animationCurve(c.options, 0), 0) << c.options;
        EXPECT_EQ(animationCurve(c.options, 1), 1) << c.options;
        EXPECT_NEAR(animationCurve(c.options, 0.25), c.quarter, 0.01) << c.options;
        double last = 0;
        for (int i = 1; i <= 100; ++i) {
            const double v = animationCurve(c.options, i / 100.0);
            EXPECT_GE(v, last) << c.options << " at " << i;
            last = v;
        }
    }
    // Ease in and out is symmetric: half-way in time is half-way in space.
    EXPECT_NEAR(animationCurve(kAnimationCurveEaseInOut, 0.5), 0.5, 1e-6);
    // A critically damped spring never passes its rest; a loose one overshoots and settles.
    double peakFirm = 0, peakLoose = 0;
    for (int i = 0; i <= 200; ++i) {
        peakFirm = std::max(peakFirm, springCurve(1.0, 0, i / 200.0));
        peakLoose = std::max(peakLoose, springCurve(0.4, 0, i / 200.0));
    }
    EXPECT_LE(peakFirm, 1.0);
    EXPECT_GT(peakLoose, 1.05);
    EXPECT_EQ(springCurve(0.4, 0, 1), 1);
    EXPECT_NEAR(springCurve(0.4, 0, 0.95), 1, 0.01) << "settled by the end of its duration";
}

TEST(Animation, ATimedBlockIsDrawnAlongItsCurveWhileTheModelHoldsTheEnd) {
    toolkit::testing::Harness harness;
    Timed timed;
    auto square = box(Rect(0, 100, 40, 40), Color::red());
    harness.window().addSubview(square);
    bool done = false;
    animate(
        1.0, 0, kAnimationCurveLinear,
        [&] {
            square->setCenter({220, 120});
        },
        [&](bool) { done = true; });
    EXPECT_EQ(square->center(), (Point{220, 120})) << "the model is at the end at once";
    EXPECT_EQ(presentedCenter(*square), (Point{20, 120})) << "the screen is at the start";
    harness.advance(0.5);
    EXPECT_NEAR(presentedCenter(*square).x, 120, 1e-6);
    auto pixels = snapshot(harness.window(), 1);
    ASSERT_TRUE(pixels);
    EXPECT_EQ(firstRedColumn(*pixels, 120), 100) << "drawn where it is half-way";
    EXPECT_FALSE(done);
    harness.advance(0.5);
    EXPECT_TRUE(done);
    EXPECT_EQ(presentedCenter(*square), square->center());
    EXPECT_FALSE(presentationAnimating());
    pixels = snapshot(harness.window(), 1);
    EXPECT_EQ(firstRedColumn(*pixels, 120), 200);
}

TEST(Animation, AlphaBoundsAndTransformFollowTooAndDelaysWait) {
    toolkit::testing::Harness harness;
    Timed timed;
    auto v = box(Rect(0, 0, 100, 100), Color::red());
    harness.window().addSubview(v);
    animate(0.4, 0.2, kAnimationCurveLinear, [&] {
        v->setAlpha(0);
        v->setBounds(Rect(0, 0, 200, 50));
        v->setTransform(AffineTransform::scale(3, 3));
    });
    harness.advance(0.1);
    EXPECT_EQ(presentedAlpha(*v), 1) << "still waiting for its delay";
    EXPECT_TRUE(hasPresentationAnimation(*v));
    harness.advance(0.2);  // a quarter of the way
    EXPECT_NEAR(presentedAlpha(*v), 0.75, 1e-9);
    EXPECT_NEAR(presentedBounds(*v).width(), 125, 1e-9);
    EXPECT_NEAR(presentedBounds(*v).height(), 87.5, 1e-9);
    EXPECT_NEAR(presentedTransform(*v).a, 1.5, 1e-9);
    harness.advance(0.3);
    EXPECT_EQ(presentedAlpha(*v), 0);
    EXPECT_EQ(presentedTransform(*v), AffineTransform::scale(3, 3));
}

TEST(Animation, InstantAnimationsShowTheEndAtOnceAndKeepNothing) {
    toolkit::testing::Harness harness;
    ASSERT_FALSE(Animations::timed()) << "the harness's default";
    auto v = box(Rect(0, 0, 40, 40), Color::red());
    harness.window().addSubview(v);
    animate(1.0, [&] { v->setCenter({200, 200}); });
    EXPECT_FALSE(hasPresentationAnimation(*v));
    EXPECT_EQ(presentedCenter(*v), (Point{200, 200}));
    auto nav = std::make_shared<NavigationController>(std::make_shared<Plain>(Color::whiteColor()));
    harness.setRoot(nav);
    auto next = std::make_shared<Plain>(Color::red());
    nav->pushViewController(next, true);
    EXPECT_FALSE(hasPresentationAnimation(*next->view()));
    harness.settle();
    EXPECT_EQ(nav->topViewController(), next.get());
}

TEST(Animation, APushSlidesTheNewScreenInOverTheOldAndAPopSlidesItBackOut) {
    toolkit::testing::Harness harness;
    auto first = std::make_shared<Plain>(Color::whiteColor());
    auto nav = std::make_shared<NavigationController>(first);
    harness.setRoot(nav);
    harness.settle();
    Timed timed;
    auto second = std::make_shared<Plain>(Color::red());
    nav->pushViewController(second, true);
    const double w = harness.window().bounds().width();
    const Point rest = second->view()->center();
    EXPECT_NEAR(presentedCenter(*second->view()).x, rest.x + w, 1e-9) << "starts off the right edge";
    harness.advance(NavigationController::kPushDuration / 2);
    EXPECT_NEAR(presentedCenter(*second->view()).x, rest.x + w / 2, 1e-6) << "half-way at half time";
    EXPECT_NEAR(presentedCenter(*first->view()).x, first->view()->center().x - w / 6, 1e-6);
    auto pixels = snapshot(harness.window(), 1);
    EXPECT_NEAR(firstRedColumn(*pixels, 400), w / 2, 1);
    harness.advance(NavigationController::kPushDuration / 2 + 0.01);
    EXPECT_EQ(presentedCenter(*second->view()), rest);
    EXPECT_FALSE(first->view()->superview());
    EXPECT_FALSE(hasPresentationAnimation(*first->view())) << "the drift is dropped with the view";
    // Back: the leaving screen stays on top and slides right.
    nav->popViewController(true);
    const auto& subs = nav->view()->subviews();
    const auto at = [&](const View* v) {
        return std::find_if(subs.begin(), subs.end(), [&](auto& s) { return s.get() == v; });
    };
    EXPECT_LT(at(first->view().get()), at(second->view().get()));
    harness.advance(NavigationController::kPushDuration / 2);
    EXPECT_NEAR(presentedCenter(*second->view()).x, rest.x + w / 2, 1e-6);
    pixels = snapshot(harness.window(), 1);
    EXPECT_NEAR(firstRedColumn(*pixels, 400), w / 2, 1);
    harness.advance(NavigationController::kPushDuration);
    EXPECT_EQ(nav->topViewController(), first.get());
    EXPECT_FALSE(presentationAnimating());
}

TEST(Animation, APopoverFadesInAndAFullScreenPresentationRises) {
    toolkit::testing::Harness harness(ScreenProfile::iPad());
    auto root = std::make_shared<Plain>(Color::whiteColor());
    harness.setRoot(root);
    harness.settle();
    Timed timed;
    auto popover = std::make_shared<Plain>(Color::red());
    popover->modalPresentationStyle = ModalPresentationStyle::Popover;
    popover->setPreferredContentSize({200, 200});
    popover->popoverPresentationController()->sourceView = root->view();
    popover->popoverPresentationController()->sourceRect = Rect(300, 300, 10, 10);
    root->present(popover, true);
    EXPECT_EQ(presentedAlpha(*popover->view()), 0);
    harness.advance(0.15);
    EXPECT_NEAR(presentedAlpha(*popover->view()), 0.5, 1e-6);
    harness.advance(0.2);
    EXPECT_EQ(presentedAlpha(*popover->view()), 1);
    popover->dismiss(false);
    harness.settle();

    auto sheet = std::make_shared<Plain>(Color::red());
    sheet->modalPresentationStyle = ModalPresentationStyle::FullScreen;
    root->present(sheet, true);
    const double h = harness.window().bounds().height();
    EXPECT_NEAR(presentedCenter(*sheet->view()).y, sheet->view()->center().y + h, 1e-9);
    harness.advance(0.15);
    EXPECT_NEAR(presentedCenter(*sheet->view()).y, sheet->view()->center().y + h / 2, 1e-6);
    harness.advance(0.2);
    EXPECT_EQ(presentedCenter(*sheet->view()), sheet->view()->center());
    sheet->dismiss(false);
    harness.settle();

    // An alert fades in where it stands.
    auto alert = AlertController::make("Title", "Message", AlertControllerStyle::Alert);
    ASSERT_TRUE(alert->addAction(AlertAction::make("OK", AlertActionStyle::Default)).ok());
    root->present(alert, true);
    EXPECT_EQ(presentedAlpha(*alert->view()), 0);
    EXPECT_EQ(presentedCenter(*alert->view()), alert->view()->center());
    harness.advance(0.35);
    EXPECT_EQ(presentedAlpha(*alert->view()), 1);
}

TEST(Animation, TheShakeHalvesAndTurnsEachStepThenComesHome) {
    toolkit::testing::Harness harness;
    Timed timed;
    std::vector<std::shared_ptr<View>> dots;
    for (int i = 0; i < 4; ++i) {
        dots.push_back(box(Rect(100 + 35 * i, 100, 15, 15), Color::black()));
        harness.window().addSubview(dots.back());
    }
    int completions = 0;
    shakeHorizontally(dots, [&] { ++completions; });
    const double expected[] = {-35, 17.5, -8.75, 4.375, -2.1875, 1.09375, -0.546875};
    const double start = harness.clock().now();
    double previous = 0;
    for (size_t k = 0; k < std::size(expected); ++k) {
        // Half-way through each 0.08 s step (ease in and out: half-way in space) the dots stand
        // between the last offset and this one.
        harness.advance(start + 0.08 * k + 0.04 - harness.clock().now());
        EXPECT_EQ(dots[0]->transform().tx, expected[k]) << k;
        EXPECT_NEAR(presentedTransform(*dots[3]).tx, (previous + expected[k]) / 2, 1e-6) << k;
        EXPECT_EQ(completions, 0);
        previous = expected[k];
    }
    harness.advance(0.05);
    harness.settle();
    EXPECT_EQ(completions, 1);
    for (const auto& dot : dots) {
        EXPECT_EQ(dot->transform(), AffineTransform::identity());
        EXPECT_EQ(presentedTransform(*dot), AffineTransform::identity());
    }
    // Instant, it goes through the same steps without time passing on screen.
    Animations::setTimed(false);
    shakeHorizontally(dots, [&] { ++completions; });
    harness.settle();
    EXPECT_EQ(completions, 2);
    EXPECT_EQ(dots[0]->transform(), AffineTransform::identity());
}

TEST(Animation, AProgressBarGlidesToItsValueFromWhatItShows) {
    toolkit::testing::Harness harness;
    Timed timed;
    auto bar = std::make_shared<ProgressView>();
    bar->setFrame(Rect(0, 0, 200, 4));
    harness.window().addSubview(bar);
    bar->setProgress(0.8, true);
    EXPECT_EQ(bar->progress(), 0.8);
    EXPECT_EQ(presentedValue(*bar, AnimatedProperty::Progress, bar->progress()), 0);
    harness.advance(0.125);
    const double half = presentedValue(*bar, AnimatedProperty::Progress, bar->progress());
    EXPECT_NEAR(half, 0.4, 1e-6);
    // A new value while gliding starts from what is shown, not from the old model value.
    bar->setProgress(0.2, true);
    EXPECT_NEAR(presentedValue(*bar, AnimatedProperty::Progress, bar->progress()), half, 1e-6);
    harness.advance(0.3);
    EXPECT_NEAR(presentedValue(*bar, AnimatedProperty::Progress, bar->progress()), 0.2, 1e-9);
    bar->setProgress(0.5, false);
    EXPECT_EQ(presentedValue(*bar, AnimatedProperty::Progress, bar->progress()), 0.5);
}

TEST(Animation, ASpinnerTurnsOncePerSecondOnlyWhileTimedAndSpinning) {
    toolkit::testing::Harness harness;
    auto spinner = std::make_shared<ActivityIndicatorView>(ActivityIndicatorStyle::Gray);
    harness.window().addSubview(spinner);
    spinner->startAnimating();
    const auto still = snapshot(*spinner, 2);
    harness.advance(0.3);
    EXPECT_EQ(graphics::compareBitmaps(*still, *snapshot(*spinner, 2)).differingPixels, 0)
        << "instant animations draw the same spinner every time";
    Timed timed;
    std::vector<std::shared_ptr<graphics::Bitmap>> frames;
    for (int i = 0; i < 8; ++i) {
        frames.push_back(snapshot(*spinner, 2));
        harness.advance(0.125);
    }
    for (int i = 1; i < 8; ++i) EXPECT_GT(graphics::compareBitmaps(*frames[0], *frames[i]).differingPixels, 0) << i;
    EXPECT_EQ(graphics::compareBitmaps(*frames[0], *snapshot(*spinner, 2)).differingPixels, 0) << "a whole turn";
    spinner->setHidesWhenStopped(false);
    spinner->stopAnimating();
    const auto stopped = snapshot(*spinner, 2);
    harness.advance(0.125);
    EXPECT_EQ(graphics::compareBitmaps(*stopped, *snapshot(*spinner, 2)).differingPixels, 0);
}

TEST(Animation, TheDisplayLinkStepsOnlyWhileSomethingMovesAndForgetsGoneViews) {
    toolkit::testing::Harness harness;
    Timed timed;
    const uint64_t start = animationFrames();
    auto seen = [&] { return static_cast<int>(animationFrames() - start); };
    auto v = box(Rect(0, 0, 10, 10), Color::red());
    harness.window().addSubview(v);
    animate(0.5, [&] { v->setCenter({100, 100}); });
    harness.advance(0.5);
    EXPECT_NEAR(seen(), 30, 2) << "sixty frames a second";
    const int afterwards = seen();
    harness.advance(2);
    EXPECT_LE(seen(), afterwards + 1) << "the link sleeps once nothing moves";
    // A view let go half-way is dropped, not kept alive or drawn.
    animate(1, [&] { v->setAlpha(0); });
    std::weak_ptr<View> weak = v;
    v->removeFromSuperview();
    v.reset();
    EXPECT_TRUE(weak.expired());
    EXPECT_FALSE(presentationAnimating());
    harness.advance(1);
}

TEST(Animation, ASpringBlockOvershootsWithLittleDampingAndSettlesOnTime) {
    toolkit::testing::Harness harness;
    Timed timed;
    auto loose = box(Rect(0, 0, 10, 10), Color::red());
    auto firm = box(Rect(0, 0, 10, 10), Color::red());
    harness.window().addSubview(loose);
    harness.window().addSubview(firm);
    // Squeezed to nothing, then sprung open, as the dropdown's list is.
    loose->setTransform(AffineTransform::scale(1, 0.01));
    firm->setTransform(AffineTransform::scale(1, 0.01));
    animateSpring(0.5, 0, 0.4, 0, kAnimationNone, [&] { loose->setTransform(AffineTransform::identity()); });
    animateSpring(0.5, 0, 1.0, 0, kAnimationNone, [&] { firm->setTransform(AffineTransform::identity()); });
    double peakLoose = 0, peakFirm = 0;
    for (int i = 0; i < 30; ++i) {
        harness.advance(0.5 / 30);
        peakLoose = std::max(peakLoose, presentedTransform(*loose).d);
        peakFirm = std::max(peakFirm, presentedTransform(*firm).d);
    }
    EXPECT_GT(peakLoose, 1.05) << "past its rest";
    EXPECT_LE(peakFirm, 1.0);
    harness.advance(0.01);
    EXPECT_EQ(presentedTransform(*loose), AffineTransform::identity());
    EXPECT_EQ(presentedTransform(*firm), AffineTransform::identity());
}
