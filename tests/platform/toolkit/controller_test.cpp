// Responder chain, key commands, gestures on the virtual clock and the appearance callbacks of
// controllers, checked as whole sequences.
#include <gtest/gtest.h>

#include "platform/dispatch/dispatch.h"
#include "platform/toolkit/animation.h"
#include "platform/toolkit/gesture_recognizer.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/presentation.h"
#include "platform/toolkit/window.h"
#include "tests/platform/toolkit/logging_controller.h"

using namespace toolkit;

using namespace toolkit_test;

namespace {

class FocusView : public View {
public:
    bool canBecomeFirstResponder() const override { return true; }
    bool refuseResign = false;
    bool canResignFirstResponder() const override { return !refuseResign; }
    std::vector<KeyCommand> commands;
    std::vector<KeyCommand> keyCommands() const override { return commands; }
};

}  // namespace

TEST(ToolkitResponder, CurrentFirstResponderFollowsTheFocus) {
    Fixture f;
    auto a = std::make_shared<FocusView>();
    auto b = std::make_shared<FocusView>();
    f.window.addSubview(a);
    f.window.addSubview(b);
    EXPECT_EQ(Responder::currentFirstResponder(), nullptr);
    ASSERT_TRUE(a->becomeFirstResponder());
    EXPECT_EQ(Responder::currentFirstResponder(), a.get());
    a->refuseResign = true;
    EXPECT_FALSE(b->becomeFirstResponder()) << "the holder may refuse to give the focus up";
    EXPECT_EQ(Responder::currentFirstResponder(), a.get());
    a->refuseResign = false;
    EXPECT_TRUE(b->becomeFirstResponder());
    EXPECT_FALSE(a->isFirstResponder());
    // Leaving the window drops the focus.
    b->removeFromSuperview();
    EXPECT_EQ(Responder::currentFirstResponder(), nullptr);
    auto plain = std::make_shared<View>();
    EXPECT_FALSE(plain->becomeFirstResponder());
}

TEST(ToolkitResponder, ActionsAndKeyCommandsTravelUpTheChain) {
    Fixture f;
    auto root = std::make_shared<LoggingController>("root");
    f.window.setRootViewController(root);
    f.window.makeKeyAndVisible();
    auto field = std::make_shared<FocusView>();
    root->view()->addSubview(field);
    std::vector<std::string> seen;
    root->setActionHandler("copy:", [&](Responder*) { seen.push_back("root copy"); });
    root->setActionHandler("callViaHX:", [&](Responder*) { seen.push_back("root call"); });
    field->setActionHandler("copy:", [&](Responder*) { seen.push_back("field copy"); });
    ASSERT_TRUE(field->becomeFirstResponder());
    EXPECT_TRUE(sendAction("copy:", nullptr, nullptr));
    EXPECT_TRUE(sendAction("callViaHX:", nullptr, nullptr));
    EXPECT_FALSE(sendAction("paste:", nullptr, nullptr));
    EXPECT_EQ(seen, (std::vector<std::string>{"field copy", "root call"}));
    // The field's controller offers Cmd-R; the action is found above the field.
    field->commands = {{"r", kModifierCommand, "callViaHX:", "Call"}};
    seen.clear();
    EXPECT_TRUE(dispatchKeyCommand("r", kModifierCommand));
    EXPECT_FALSE(dispatchKeyCommand("r", kModifierNone));
    EXPECT_EQ(seen, (std::vector<std::string>{"root call"}));
    EXPECT_EQ(field->nextResponder(), root->view().get());
    EXPECT_EQ(root->view()->nextResponder(), root.get());
    EXPECT_EQ(root->nextResponder(), &f.window);
}

namespace {

// A view in the window with a single tap that waits for a double tap's failure, each noting its
// name in fired when it recognises. The window owns the view, the view its recognisers.
struct TwoTaps {
    std::weak_ptr<View> view;
    std::weak_ptr<GestureRecognizer> single, dbl;
};
TwoTaps addTwoTaps(Window& window, std::vector<std::string>& fired) {
    auto v = std::make_shared<View>(Rect(0, 0, 200, 200));
    window.addSubview(v);
    auto single = std::make_shared<TapGestureRecognizer>([&](GestureRecognizer&) { fired.push_back("single"); });
    auto dbl = std::make_shared<TapGestureRecognizer>([&](GestureRecognizer&) { fired.push_back("double"); });
    dbl->numberOfTapsRequired = 2;
    single->requireGestureRecognizerToFail(dbl);
    v->addGestureRecognizer(single);
    v->addGestureRecognizer(dbl);
    return TwoTaps{v, single, dbl};
}

}  // namespace

TEST(ToolkitGesture, DoubleTapMakesTheSingleTapWaitForItsFailure) {
    Fixture f;
    std::vector<std::string> fired;
    (void)addTwoTaps(f.window, fired);
    auto tap = [&] { f.window.touchUp(f.window.touchDown({50, 50})); };
    tap();
    EXPECT_TRUE(fired.empty()) << "the single tap waits for the double tap to fail";
    f.clock->advance(0.2);
    EXPECT_TRUE(fired.empty());
    f.clock->advance(0.2);
    EXPECT_EQ(fired, (std::vector<std::string>{"single"}));
    fired.clear();
    tap();
    f.clock->advance(0.1);
    tap();
    EXPECT_EQ(fired, (std::vector<std::string>{"double"}));
    f.clock->advance(1);
    EXPECT_EQ(fired, (std::vector<std::string>{"double"}));
    // A tap that drifts more than the allowed movement is no tap.
    fired.clear();
    int id = f.window.touchDown({50, 50});
    f.window.touchMove(id, {80, 50});
    f.window.touchUp(id);
    f.clock->advance(1);
    EXPECT_TRUE(fired.empty());
}

// Recognisers go with their view, whatever the touches they watched are doing: one waiting for a
// second tap (and the single tap waiting for its failure) when the view is let go between the
// taps, and one whose view goes while the finger is still down, which must not recognise the
// lifted finger as a tap of a view that no longer exists.
TEST(ToolkitGesture, RecognisersGoWithTheirViewInTheMiddleOfASequence) {
    Fixture f;
    std::vector<std::string> fired;
    auto make = [&] { return addTwoTaps(f.window, fired); };
    auto letGo = [](const TwoTaps& w) {
        if (auto v = w.view.lock()) v->removeFromSuperview();
    };

    // Between the taps: the double tap's timer is running and the single tap holds its recognition.
    auto between = make();
    f.window.touchUp(f.window.touchDown({50, 50}));
    letGo(between);
    EXPECT_TRUE(between.view.expired());
    EXPECT_TRUE(between.dbl.expired()) << "the waiting double tap outlives its view";
    EXPECT_TRUE(between.single.expired()) << "the single tap waiting for it outlives its view";
    f.clock->advance(1);
    EXPECT_TRUE(fired.empty());

    // The finger is down when the view goes; lifting it finds no one.
    auto during = make();
    const int id = f.window.touchDown({50, 50});
    letGo(during);
    EXPECT_TRUE(during.single.expired());
    f.window.touchUp(id);
    f.clock->advance(1);
    EXPECT_TRUE(fired.empty()) << "a tap recognised for a view that has gone";

    // The same taps on a view that stays recognise as before.
    auto stays = make();
    f.window.touchUp(f.window.touchDown({50, 50}));
    f.clock->advance(1);
    EXPECT_EQ(fired, (std::vector<std::string>{"single"}));
    EXPECT_FALSE(stays.dbl.expired());
}

TEST(ToolkitGesture, LongPressBeginsAfterItsDurationAndCancelsTheViewsTouches) {
    Fixture f;
    struct Toucher : View {
        std::vector<std::string> seen;
        void touchesBegan(const TouchSet&, const Event*) override { seen.push_back("began"); }
        void touchesEnded(const TouchSet&, const Event*) override { seen.push_back("ended"); }
        void touchesCancelled(const TouchSet&, const Event*) override { seen.push_back("cancelled"); }
    };
    auto v = std::make_shared<Toucher>();
    v->setFrame(Rect(0, 0, 100, 100));
    f.window.addSubview(v);
    std::vector<std::string> states;
    auto lp = std::make_shared<LongPressGestureRecognizer>(
        [&](GestureRecognizer& g) { states.push_back(gestureStateName(g.state())); });
    lp->minimumPressDuration = 0.7;
    v->addGestureRecognizer(lp);
    int id = f.window.touchDown({10, 10});
    f.clock->advance(0.69);
    EXPECT_TRUE(states.empty());
    f.clock->advance(0.02);
    EXPECT_EQ(states, (std::vector<std::string>{"began"}));
    f.window.touchMove(id, {40, 10});
    f.window.touchUp(id);
    EXPECT_EQ(states, (std::vector<std::string>{"began", "changed", "ended"}));
    EXPECT_EQ(v->seen, (std::vector<std::string>{"began", "cancelled"}));
    // Released early: no long press, and the view sees the whole touch.
    states.clear();
    v->seen.clear();
    f.window.touchUp(f.window.touchDown({10, 10}));
    f.clock->advance(1);
    EXPECT_TRUE(states.empty());
    EXPECT_EQ(v->seen, (std::vector<std::string>{"began", "ended"}));
}

TEST(ToolkitGesture, SwipesCountTouchesAndDirection) {
    Fixture f;
    auto v = std::make_shared<View>(Rect(0, 0, 300, 300));
    f.window.addSubview(v);
    int lefts2 = 0, rights = 0;
    auto two = std::make_shared<SwipeGestureRecognizer>([&](GestureRecognizer&) { ++lefts2; });
    two->direction = kSwipeLeft;
    two->numberOfTouchesRequired = 2;
    auto one = std::make_shared<SwipeGestureRecognizer>([&](GestureRecognizer&) { ++rights; });
    v->addGestureRecognizer(two);
    v->addGestureRecognizer(one);
    auto ids = f.window.touchesDown({{200, 100}, {200, 140}});
    f.window.touchesMove({{ids[0], {150, 100}}, {ids[1], {150, 140}}});
    f.window.touchesUp(ids);
    EXPECT_EQ(lefts2, 1);
    EXPECT_EQ(rights, 0);
    int id = f.window.touchDown({100, 100});
    f.window.touchMove(id, {160, 104});
    f.window.touchUp(id);
    EXPECT_EQ(rights, 1);
    EXPECT_EQ(lefts2, 1);
}

TEST(ToolkitController, NavigationPushAndPopReportAppearanceInOrder) {
    Fixture f;
    auto a = std::make_shared<LoggingController>("A");
    auto nav = std::make_shared<NavigationController>(a);
    f.window.setRootViewController(nav);
    f.window.makeKeyAndVisible();
    EXPECT_EQ(f.take(), (Seq{"A.viewDidLoad", "A.willAppear", "A.didAppear"}));
    auto b = std::make_shared<LoggingController>("B");
    nav->pushViewController(b, true);
    EXPECT_EQ(f.take(), (Seq{"B.viewDidLoad", "A.willDisappear(a)", "B.willAppear(a)"}));
    EXPECT_EQ(b->navigationController(), nav.get());
    f.clock->runUntilIdle();
    EXPECT_EQ(f.take(), (Seq{"A.didDisappear(a)", "B.didAppear(a)"}));
    EXPECT_EQ(nav->navigationBar().backButtonTitle(), std::optional<std::string>("Back"));
    a->setTitle("Inbox");
    nav->navigationBar().update();
    EXPECT_EQ(nav->navigationBar().backButtonTitle(), std::optional<std::string>("Inbox"));
    auto popped = nav->popViewController(false);
    EXPECT_EQ(popped, b);
    EXPECT_EQ(f.take(), (Seq{"B.willDisappear", "A.willAppear", "B.didDisappear", "A.didAppear"}));
    EXPECT_EQ(b->parent(), nullptr);
    EXPECT_EQ(b->view()->superview(), nullptr);
    // The pushed controller's view sits below the bar with the bar in its safe area.
    nav->pushViewController(b, false);
    f.take();
    flushLayout();
    EXPECT_EQ(b->view()->safeAreaInsets().top, 20 + NavigationBar::kHeight);
    EXPECT_EQ(nav->navigationBar().frame(), Rect(0, 20, 375, 44));
    nav->popToRootViewController(false);
    EXPECT_EQ(f.take(), (Seq{"B.willDisappear", "A.willAppear", "B.didDisappear", "A.didAppear"}));
}

TEST(ToolkitController, ModalPresentationReportsTheIncomingSideFirst) {
    Fixture f;
    auto a = std::make_shared<LoggingController>("A");
    f.window.setRootViewController(a);
    f.window.makeKeyAndVisible();
    f.take();
    auto b = std::make_shared<LoggingController>("B");
    b->modalPresentationStyle = ModalPresentationStyle::FullScreen;
    bool done = false;
    a->present(b, true, [&] { done = true; });
    EXPECT_EQ(f.take(), (Seq{"B.viewDidLoad", "A.willDisappear(a)", "B.willAppear(a)"}));
    EXPECT_TRUE(b->isBeingPresented());
    f.clock->runUntilIdle();
    EXPECT_TRUE(done);
    EXPECT_EQ(f.take(), (Seq{"B.didAppear(a)", "A.didDisappear(a)"}));
    EXPECT_EQ(a->presentedViewController(), b.get());
    EXPECT_EQ(b->presentingViewController(), a.get());
    EXPECT_EQ(a->view()->window(), nullptr) << "a full-screen presentation takes the presenter out";
    // A second presentation from the same controller is refused.
    auto c = std::make_shared<LoggingController>("C");
    a->present(c, false);
    EXPECT_EQ(a->presentedViewController(), b.get());
    f.take();
    b->dismiss(false);
    EXPECT_EQ(f.take(), (Seq{"B.willDisappear", "A.willAppear", "A.didAppear", "B.didDisappear"}));
    EXPECT_EQ(a->view()->window(), &f.window);
    EXPECT_EQ(a->presentedViewController(), nullptr);
}

TEST(ToolkitController, SheetsAndPopoversAdaptToTheSizeClass) {
    struct Case {
        ScreenProfile screen;
        int version;
        ModalPresentationStyle style;
        ModalPresentationStyle used;
        bool presenterDisappears;
    };
    Case cases[] = {
        {ScreenProfile::iPhone8(), 15, ModalPresentationStyle::Popover, ModalPresentationStyle::FullScreen, true},
        {ScreenProfile::iPad(), 15, ModalPresentationStyle::Popover, ModalPresentationStyle::Popover, false},
        {ScreenProfile::iPhone8(), 12, ModalPresentationStyle::FormSheet, ModalPresentationStyle::FullScreen, true},
        {ScreenProfile::iPhone8(), 13, ModalPresentationStyle::FormSheet, ModalPresentationStyle::PageSheet, false},
        {ScreenProfile::iPad(), 15, ModalPresentationStyle::FormSheet, ModalPresentationStyle::FormSheet, false},
        {ScreenProfile::iPhone8(), 15, ModalPresentationStyle::OverFullScreen, ModalPresentationStyle::OverFullScreen,
         false},
    };
    for (auto& c : cases) {
        Fixture f;
        Device::current().setSystemVersion(c.version);
        f.window.setProfile(c.screen);
        auto a = std::make_shared<LoggingController>("A");
        f.window.setRootViewController(a);
        f.window.makeKeyAndVisible();
        f.take();
        auto b = std::make_shared<LoggingController>("B");
        b->modalPresentationStyle = c.style;
        if (auto* pop = b->popoverPresentationController()) {
            pop->sourceView = a->view();
            pop->sourceRect = Rect(100, 100, 40, 40);
            pop->permittedArrowDirections = kArrowUp;
        }
        a->present(b, false);
        SCOPED_TRACE(c.screen.name + " v" + std::to_string(c.version));
        EXPECT_EQ(b->presentationStyleInUse(), c.used);
        auto seq = f.take();
        bool disappeared = std::find(seq.begin(), seq.end(), "A.willDisappear") != seq.end();
        EXPECT_EQ(disappeared, c.presenterDisappears);
        if (c.used == ModalPresentationStyle::Popover) {
            // Centred under the source, then kept 10 points inside the screen.
            EXPECT_EQ(b->view()->frame(), Rect(10, 140 + 13, 320, 480));
            EXPECT_EQ(b->popoverPresentationController()->arrowDirection(), kArrowUp);
            // A tap outside the popover dismisses it.
            f.window.touchUp(f.window.touchDown({700, 50}));
            f.clock->runUntilIdle();
            EXPECT_EQ(a->presentedViewController(), nullptr);
        }
        if (c.used == ModalPresentationStyle::FullScreen) {
            EXPECT_EQ(b->view()->frame(), f.window.bounds());
        }
    }
}

TEST(ToolkitController, TabSwitchAndManualTransitions) {
    Fixture f;
    auto a = std::make_shared<LoggingController>("A");
    auto b = std::make_shared<LoggingController>("B");
    auto tabs = std::make_shared<TabBarController>();
    tabs->setViewControllers({a, b});
    f.window.setRootViewController(tabs);
    f.window.makeKeyAndVisible();
    EXPECT_EQ(f.take(), (Seq{"A.viewDidLoad", "A.willAppear", "A.didAppear"}));
    struct Delegate : TabBarControllerDelegate {
        std::vector<std::string> calls;
        bool allow = true;
        bool shouldSelectViewController(TabBarController&, ViewController&) override {
            calls.push_back("should");
            return allow;
        }
        void didSelectViewController(TabBarController&, ViewController&) override { calls.push_back("did"); }
    };
    auto d = std::make_shared<Delegate>();
    tabs->delegate = d;
    tabs->setSelectedIndex(1);
    EXPECT_EQ(f.take(), (Seq{"A.willDisappear", "B.viewDidLoad", "B.willAppear", "A.didDisappear", "B.didAppear"}));
    EXPECT_TRUE(d->calls.empty()) << "selecting in code does not involve the delegate";
    d->allow = false;
    tabs->userSelect(0);
    EXPECT_EQ(tabs->selectedIndex(), 1u);
    d->allow = true;
    tabs->userSelect(0);
    EXPECT_EQ(d->calls, (std::vector<std::string>{"should", "should", "did"}));
    f.take();
    // Manual transitions report exactly what they are asked.
    a->beginAppearanceTransition(false, true);
    a->endAppearanceTransition();
    a->beginAppearanceTransition(true, false);
    a->endAppearanceTransition();
    EXPECT_EQ(f.take(), (Seq{"A.willDisappear(a)", "A.didDisappear(a)", "A.willAppear", "A.didAppear"}));
    a->setTitle("Calls");
    tabs->viewControllers()[0]->tabBarItem().badgeValue = "3";
    tabs->tabBar().update();
    EXPECT_EQ(tabs->tabBar().buttons()[0]->outlineText(), "*Calls [3]");
}
