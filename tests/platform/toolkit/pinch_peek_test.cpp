// Two-finger gestures (pinch, rotation) and peek and pop, driven through the window's touches
// and the harness's firm press.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "platform/toolkit/gesture_recognizer.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/previewing.h"
#include "platform/toolkit/testing/harness.h"

using namespace toolkit;
using toolkit::testing::Harness;

namespace {

struct Surface {
    Harness h;
    std::shared_ptr<View> area = View::make(Rect(0, 64, 375, 500));
    Surface() {
        h.setRoot(std::make_shared<ViewController>());
        h.window().rootViewController()->view()->addSubview(area);
    }
};

}  // namespace

TEST(TwoFingers, APinchReportsTheScaleOfTheFingersDistanceSinceItBegan) {
    Surface s;
    std::vector<std::pair<GestureState, double>> seen;
    double velocity = 0;
    auto pinch = std::make_shared<PinchGestureRecognizer>([&](GestureRecognizer& g) {
        auto& p = static_cast<PinchGestureRecognizer&>(g);
        seen.push_back({p.state(), p.scale()});
        if (p.state() == GestureState::Changed) velocity = p.velocity();
    });
    s.area->addGestureRecognizer(pinch);
    s.h.pinch({187, 300}, 100, 200, 4);
    ASSERT_GE(seen.size(), 3u);
    EXPECT_EQ(seen.front().first, GestureState::Began);
    EXPECT_EQ(seen.back().first, GestureState::Ended);
    EXPECT_NEAR(seen.back().second, 2.0, 1e-9) << "twice as far apart";
    // 25 points of span each 10 ms: a quarter of the start span each step, 25 per second.
    EXPECT_NEAR(velocity, 25, 1e-6);
    // Together again, from a scale set in the middle: the reading carries on from it.
    seen.clear();
    auto keep = std::make_shared<PinchGestureRecognizer>([&](GestureRecognizer& g) {
        auto& p = static_cast<PinchGestureRecognizer&>(g);
        if (p.state() == GestureState::Began) p.setScale(3);
        seen.push_back({p.state(), p.scale()});
    });
    s.area->removeGestureRecognizer(pinch.get());
    s.area->addGestureRecognizer(keep);
    s.h.pinch({187, 300}, 200, 100, 4);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.front().second, 3);
    EXPECT_LT(seen.back().second, 3) << "moving together shrinks it from there";
    EXPECT_GT(seen.back().second, 1);
}

TEST(TwoFingers, SmallMovesOneFingerAndThreeFingersAreNoPinch) {
    Surface s;
    int actions = 0;
    auto pinch = std::make_shared<PinchGestureRecognizer>([&](GestureRecognizer&) { ++actions; });
    s.area->addGestureRecognizer(pinch);
    s.h.pinch({187, 300}, 100, 100 + PinchGestureRecognizer::kHysteresis - 1);
    s.h.swipe({100, 300}, {300, 300});
    s.h.swipe({100, 200}, {300, 200}, 3);
    EXPECT_EQ(actions, 0);
    EXPECT_EQ(pinch->state(), GestureState::Possible) << "ready for the next sequence";
}

TEST(TwoFingers, ARotationFollowsTheTurnOfTheLineBetweenTheFingers) {
    for (double turn : {std::numbers::pi / 4, -std::numbers::pi / 3, std::numbers::pi * 1.25}) {
        SCOPED_TRACE(turn);
        Surface s;
        double last = 0;
        GestureState lastState = GestureState::Possible;
        auto rotation = std::make_shared<RotationGestureRecognizer>([&](GestureRecognizer& g) {
            auto& r = static_cast<RotationGestureRecognizer&>(g);
            last = r.rotation(), lastState = r.state();
        });
        s.area->addGestureRecognizer(rotation);
        // Steps of at most a sixth of a turn, so that each reads unambiguously.
        s.h.twist({187, 300}, turn, 120, 8);
        EXPECT_EQ(lastState, GestureState::Ended);
        EXPECT_NEAR(last, turn, 1e-9) << "clockwise positive, past half a turn too";
    }
    // Under the threshold it never begins.
    Surface s;
    int actions = 0;
    auto rotation = std::make_shared<RotationGestureRecognizer>([&](GestureRecognizer&) { ++actions; });
    s.area->addGestureRecognizer(rotation);
    s.h.twist({187, 300}, RotationGestureRecognizer::kHysteresis * 0.9);
    EXPECT_EQ(actions, 0);
}

TEST(TwoFingers, PinchAndRotationTogetherWhenTheDelegateAllows) {
    struct Both : GestureRecognizerDelegate {
        bool shouldRecognizeSimultaneously(GestureRecognizer&, GestureRecognizer&) override { return true; }
    };
    Surface s;
    auto both = std::make_shared<Both>();
    int pinches = 0, turns = 0;
    auto pinch = std::make_shared<PinchGestureRecognizer>([&](GestureRecognizer&) { ++pinches; });
    auto rotation = std::make_shared<RotationGestureRecognizer>([&](GestureRecognizer&) { ++turns; });
    pinch->setDelegate(both);
    rotation->setDelegate(both);
    s.area->addGestureRecognizer(pinch);
    s.area->addGestureRecognizer(rotation);
    // Spreading while turning: both see it.
    auto ids = s.h.window().touchesDown({{137, 300}, {237, 300}});
    for (int i = 1; i <= 5; ++i) {
        const double a = 0.1 * i, r = 50 + 10 * i;
        s.h.clock().advance(0.01);
        s.h.window().touchesMove({{ids[0], {187 - r * std::cos(a), 300 - r * std::sin(a)}},
                                  {ids[1], {187 + r * std::cos(a), 300 + r * std::sin(a)}}});
    }
    s.h.window().touchesUp(ids);
    s.h.settle();
    EXPECT_GT(pinches, 0);
    EXPECT_GT(turns, 0);
}

namespace {

class Detail : public ViewController {
public:
    explicit Detail(std::string name) : name_(std::move(name)) {}
    std::vector<PreviewAction> previewActionItems() const override {
        return {{"Mark as Read", PreviewActionStyle::Default,
                 [](const PreviewAction& a, ViewController& c) { static_cast<Detail&>(c).chosen = a.title; }},
                {"Delete", PreviewActionStyle::Destructive, {}}};
    }
    void viewDidAppear(bool animated) override {
        ViewController::viewDidAppear(animated);
        ++appeared;
    }
    void viewDidDisappear(bool animated) override {
        ViewController::viewDidDisappear(animated);
        ++disappeared;
    }
    std::string name_;
    std::string chosen;
    int appeared = 0, disappeared = 0;
};

class Lister : public ViewController, public PreviewingDelegate {
public:
    ViewControllerPtr previewingViewControllerForLocation(PreviewingContext& context, Point location) override {
        asked.push_back(location);
        if (location.y > 200) return nullptr;  // nothing below the first rows
        context.sourceRect = Rect(0, 0, 375, 44);
        return std::make_shared<Detail>("row");
    }
    void previewingCommitViewController(PreviewingContext&, const ViewControllerPtr& controller) override {
        navigationController()->pushViewController(controller, false);
    }
    std::vector<Point> asked;
};

struct PeekScreen {
    Harness h;
    std::shared_ptr<Lister> list = std::make_shared<Lister>();
    std::shared_ptr<View> rows = View::make(Rect(0, 64, 375, 400));
    PreviewingContextPtr context;
    PeekScreen() {
        h.setRoot(std::make_shared<NavigationController>(list));
        list->view()->addSubview(rows);
        h.setForceTouchAvailable(true);
        context = list->registerForPreviewing(list, rows);
    }
};

}  // namespace

TEST(PeekAndPop, AFirmPressPreviewsAndPressingOnPushes) {
    PeekScreen s;
    auto peek = s.h.forcePress({100, 100});
    ASSERT_TRUE(peek);
    ASSERT_EQ(s.list->asked.size(), 1u);
    EXPECT_EQ(s.list->asked[0], (Point{100, 36})) << "in the source view's coordinates";
    EXPECT_EQ(peek->context().sourceRect, Rect(0, 0, 375, 44));
    auto& detail = static_cast<Detail&>(peek->controller());
    EXPECT_EQ(detail.appeared, 1);
    EXPECT_FALSE(s.h.findAll("PeekView").empty());
    std::vector<std::string> titles;
    for (const auto& a : peek->actions()) titles.push_back(a.title);
    EXPECT_EQ(titles, (std::vector<std::string>{"Mark as Read", "Delete"}));
    peek->pop();
    s.h.settle();
    EXPECT_TRUE(s.h.findAll("PeekView").empty());
    EXPECT_EQ(s.list->navigationController()->topViewController(), &detail);
    EXPECT_EQ(detail.disappeared, 1) << "the preview went before the push";
    EXPECT_EQ(detail.appeared, 2);
}

TEST(PeekAndPop, LiftingOrChoosingAnActionLetsThePreviewGo) {
    PeekScreen s;
    auto peek = s.h.forcePress({100, 100});
    ASSERT_TRUE(peek);
    auto& detail = static_cast<Detail&>(peek->controller());
    EXPECT_FALSE(peek->chooseAction("Nothing such"));
    EXPECT_TRUE(peek->isShowing());
    EXPECT_TRUE(peek->chooseAction("Mark as Read"));
    EXPECT_EQ(detail.chosen, "Mark as Read");
    EXPECT_FALSE(peek->isShowing());
    EXPECT_EQ(s.list->navigationController()->topViewController(), s.list.get()) << "nothing pushed";
    auto again = s.h.forcePress({100, 100});
    ASSERT_TRUE(again);
    again->dismiss();
    EXPECT_TRUE(s.h.findAll("PeekView").empty());
}

TEST(PeekAndPop, NoPreviewWithoutForceTouchOutsideTheSourceOrWhenTheDelegateOffersNone) {
    PeekScreen s;
    EXPECT_FALSE(s.h.forcePress({100, 300})) << "the delegate offers none there";
    EXPECT_FALSE(s.h.forcePress({100, 600})) << "outside the source";
    s.h.setForceTouchAvailable(false);
    EXPECT_FALSE(s.h.forcePress({100, 100}));
    s.h.setForceTouchAvailable(true);
    s.list->unregisterForPreviewing(s.context);
    EXPECT_TRUE(s.list->previewingContexts().empty());
    EXPECT_FALSE(s.h.forcePress({100, 100}));
    EXPECT_EQ(s.list->asked.size(), 1u) << "asked only for the press below the rows";
}

TEST(PeekAndPop, TheTraitTellsScreensWhenForceTouchComesAndGoes) {
    Harness h;
    struct Watcher : ViewController {
        std::vector<bool> seen;
        void traitCollectionDidChange(const TraitCollection& previous) override {
            ViewController::traitCollectionDidChange(previous);
            seen.push_back(view()->traitCollection().forceTouch);
        }
    };
    auto w = std::make_shared<Watcher>();
    h.setRoot(w);
    h.setForceTouchAvailable(true);
    h.setForceTouchAvailable(false);
    EXPECT_EQ(w->seen, (std::vector<bool>{true, false}));
}
