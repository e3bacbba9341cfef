// Alerts and action sheets, the split view's collapse and expansion, custom transitions and
// popover passthrough, driven through the harness's real touch path.
#include <gtest/gtest.h>

#include "platform/toolkit/alert_controller.h"
#include "platform/toolkit/animation.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/presentation.h"
#include "platform/toolkit/split_view_controller.h"
#include "platform/toolkit/testing/harness.h"
#include "tests/platform/toolkit/logging_controller.h"
#include "tests/support/goldens.h"

using namespace toolkit;
using namespace toolkit_test;

namespace {

struct LogScope {
    std::vector<std::string> log;
    LogScope() { gLog = &log; }
    ~LogScope() { gLog = nullptr; }
    Seq take() {
        auto out = log;
        log.clear();
        return out;
    }
};

std::vector<std::string> buttonTitles(AlertController& alert) {
    std::vector<std::string> out;
    for (auto& b : alert.actionButtons()) out.push_back(b->action()->title());
    return out;
}

}  // namespace

TEST(ToolkitAlert, ActionsRunTheirHandlerAfterTheAlertHasGone) {
    toolkit::testing::Harness h(ScreenProfile::iPhone8(), 15);
    LogScope logs;
    auto a = std::make_shared<LoggingController>("A");
    h.setRoot(a);
    logs.take();

    auto alert = AlertController::make("Delete voicemail?", "This cannot be undone.", AlertControllerStyle::Alert);
    std::vector<std::string> handled;
    bool stillPresentedInHandler = true;
    auto del = AlertAction::make("Delete", AlertActionStyle::Destructive, [&](AlertAction& x) {
        handled.push_back(x.title());
        stillPresentedInHandler = a->presentedViewController() != nullptr;
    });
    auto cancel =
        AlertAction::make("Cancel", AlertActionStyle::Cancel, [&](AlertAction& x) { handled.push_back(x.title()); });
    ASSERT_TRUE(alert->addAction(del).ok());
    ASSERT_TRUE(alert->addAction(cancel).ok());
    EXPECT_FALSE(alert->addAction(AlertAction::make("Never mind", AlertActionStyle::Cancel)).ok())
        << "one cancel action at most";
    EXPECT_FALSE(alert->addAction(del).ok()) << "an action joins once";
    EXPECT_FALSE(alert->setPreferredAction(AlertAction::make("Elsewhere", AlertActionStyle::Default)).ok());
    EXPECT_EQ(alert->preferredAction(), nullptr);
    ASSERT_TRUE(alert->setPreferredAction(del).ok());
    EXPECT_EQ(alert->actions().size(), 2u);

    a->present(alert, true);
    h.settle();
    EXPECT_EQ(logs.take(), Seq{}) << "an alert lays itself over the presenter, which stays";
    ASSERT_EQ(h.visibleAlert(), alert.get());
    // Two actions sit side by side, cancel on the left.
    EXPECT_EQ(buttonTitles(*alert), (std::vector<std::string>{"Cancel", "Delete"}));
    auto buttons = alert->actionButtons();
    EXPECT_EQ(buttons[0]->frame().origin.y, buttons[1]->frame().origin.y);
    EXPECT_LT(buttons[0]->frame().origin.x, buttons[1]->frame().origin.x);
    hxtest::expectOutline(h, "alert_two_actions");

    // A disabled action's button takes no tap; enabling it while shown works at once.
    del->setEnabled(false);
    EXPECT_FALSE(h.tapAlertAction("Delete"));
    EXPECT_TRUE(handled.empty());
    EXPECT_EQ(h.visibleAlert(), alert.get());
    del->setEnabled(true);
    EXPECT_TRUE(h.tapAlertAction("Delete"));
    EXPECT_EQ(handled, (std::vector<std::string>{"Delete"}));
    EXPECT_FALSE(stillPresentedInHandler) << "the handler runs once the alert is dismissed";
    EXPECT_EQ(h.visibleAlert(), nullptr);
    EXPECT_FALSE(h.tapAlertAction("Cancel"));
    EXPECT_EQ(logs.take(), Seq{});
}

TEST(ToolkitAlert, TextFieldsStackedActionsAndSheetRefusals) {
    toolkit::testing::Harness h(ScreenProfile::iPhone8(), 15);
    auto a = std::make_shared<ViewController>();
    h.setRoot(a);
    auto alert = AlertController::make("New favorite", std::nullopt, AlertControllerStyle::Alert);
    std::string typed;
    for (const char* t : {"Save", "Save and call", "Cancel"})
        ASSERT_TRUE(alert
                        ->addAction(AlertAction::make(
                            t, std::string(t) == "Cancel" ? AlertActionStyle::Cancel : AlertActionStyle::Default,
                            [&](AlertAction&) { typed = alert->textFields()[0]->text(); }))
                        .ok());
    ASSERT_TRUE(alert->addTextField([](TextField& f) { f.setPlaceholder("Name"); }).ok());
    ASSERT_TRUE(alert->addTextField([](TextField& f) { f.setPlaceholder("Number"); }).ok());
    a->present(alert, false);
    h.settle();
    EXPECT_TRUE(alert->textFields()[0]->isFirstResponder()) << "the first field takes the focus on appearing";
    // Three actions stack, cancel last.
    EXPECT_EQ(buttonTitles(*alert), (std::vector<std::string>{"Save", "Save and call", "Cancel"}));
    auto buttons = alert->actionButtons();
    for (size_t i = 1; i < buttons.size(); ++i) EXPECT_EQ(buttons[i]->frame().origin.y, buttons[i - 1]->frame().maxY());
    EXPECT_TRUE(h.fillAlertField(1, "+1 201 555 0101"));
    EXPECT_TRUE(h.fillAlertField(0, "Ann"));
    EXPECT_EQ(alert->textFields()[1]->text(), "+1 201 555 0101");
    EXPECT_FALSE(h.fillAlertField(2, "x"));
    EXPECT_TRUE(h.tapAlertAction("Save and call"));
    EXPECT_EQ(typed, "Ann");

    auto sheet = AlertController::make(std::nullopt, "Ring back on", AlertControllerStyle::ActionSheet);
    EXPECT_FALSE(sheet->addTextField().ok()) << "action sheets take no text fields";
    EXPECT_TRUE(sheet->textFields().empty());
}

TEST(ToolkitAlert, ActionSheetsRiseFromTheBottomOrBecomePopoversWithoutCancel) {
    {
        toolkit::testing::Harness h(ScreenProfile::iPhone8(), 15);
        auto a = std::make_shared<ViewController>();
        h.setRoot(a);
        auto sheet = AlertController::make(std::nullopt, "Ring back on", AlertControllerStyle::ActionSheet);
        for (const char* t : {"Cancel", "Home", "Work"})
            ASSERT_TRUE(sheet
                            ->addAction(AlertAction::make(t, std::string(t) == "Cancel" ? AlertActionStyle::Cancel
                                                                                        : AlertActionStyle::Default))
                            .ok());
        a->present(sheet, false);
        h.settle();
        EXPECT_EQ(sheet->presentationStyleInUse(), ModalPresentationStyle::OverFullScreen);
        EXPECT_EQ(buttonTitles(*sheet), (std::vector<std::string>{"Home", "Work", "Cancel"}));
        auto buttons = sheet->actionButtons();
        // 304 points wide, centred, cancel 8 points above the bottom with an 8-point gap.
        EXPECT_EQ(buttons[2]->convertRectTo(buttons[2]->bounds(), nullptr), Rect(35.5, 615, 304, 44));
        EXPECT_EQ(buttons[1]->convertRectTo(buttons[1]->bounds(), nullptr).maxY(), 607);
    }
    {
        toolkit::testing::Harness h(ScreenProfile::iPad(), 15);
        auto a = std::make_shared<ViewController>();
        h.setRoot(a);
        auto sheet = AlertController::make(std::nullopt, "Ring back on", AlertControllerStyle::ActionSheet);
        int cancels = 0;
        ASSERT_TRUE(sheet->addAction(AlertAction::make("Home", AlertActionStyle::Default)).ok());
        ASSERT_TRUE(
            sheet->addAction(AlertAction::make("Cancel", AlertActionStyle::Cancel, [&](AlertAction&) { ++cancels; }))
                .ok());
        auto* pop = sheet->popoverPresentationController();
        ASSERT_NE(pop, nullptr);
        pop->sourceView = a->view();
        pop->sourceRect = Rect(100, 100, 40, 40);
        a->present(sheet, false);
        h.settle();
        EXPECT_EQ(sheet->presentationStyleInUse(), ModalPresentationStyle::Popover);
        EXPECT_EQ(buttonTitles(*sheet), (std::vector<std::string>{"Home"})) << "a popover sheet shows no cancel";
        EXPECT_FALSE(h.tapAlertAction("Cancel"));
        h.tap(Point{700, 900});
        EXPECT_EQ(a->presentedViewController(), nullptr);
        EXPECT_EQ(cancels, 1) << "a tap outside the popover is the cancel action";
    }
}

TEST(ToolkitPopover, PassthroughViewsTakeTouchesWhileThePopoverStays) {
    toolkit::testing::Harness h(ScreenProfile::iPad(), 15);
    auto a = std::make_shared<ViewController>();
    h.setRoot(a);
    auto star = std::make_shared<Button>(ButtonType::System);
    star->setTitle("Star", kStateNormal);
    star->setFrame(Rect(600, 600, 100, 44));
    int stars = 0;
    star->addAction([&](Control&, const Event*) { ++stars; }, kTouchUpInside);
    a->view()->addSubview(star);
    auto other = std::make_shared<Button>(ButtonType::System);
    other->setTitle("Other", kStateNormal);
    other->setFrame(Rect(600, 800, 100, 44));
    int others = 0;
    other->addAction([&](Control&, const Event*) { ++others; }, kTouchUpInside);
    a->view()->addSubview(other);

    auto b = std::make_shared<ViewController>();
    b->modalPresentationStyle = ModalPresentationStyle::Popover;
    b->popoverPresentationController()->sourceView = a->view();
    b->popoverPresentationController()->sourceRect = Rect(100, 100, 40, 40);
    b->popoverPresentationController()->passthroughViews = {star};
    a->present(b, false);
    h.settle();
    EXPECT_TRUE(h.tap(*star));
    EXPECT_EQ(stars, 1);
    EXPECT_EQ(a->presentedViewController(), b.get()) << "a passthrough view's touch leaves the popover up";
    EXPECT_FALSE(h.tap(*other)) << "other views are behind the popover's dimming view";
    EXPECT_EQ(others, 0);
    EXPECT_EQ(a->presentedViewController(), nullptr) << "and a touch there dismisses it";
}

TEST(ToolkitSplit, CollapsesOntoThePrimaryNavigationAtCompactWidth) {
    toolkit::testing::Harness h(ScreenProfile::iPadLandscape(), 15);
    LogScope logs;
    auto list = std::make_shared<LoggingController>("L");
    auto nav = std::make_shared<NavigationController>(list);
    auto detail = std::make_shared<LoggingController>("D");
    auto split = std::make_shared<SplitViewController>();
    split->preferredDisplayMode = SplitDisplayMode::AllVisible;
    split->minimumPrimaryColumnWidth = 258;
    split->maximumPrimaryColumnWidth = 258;
    split->setViewControllers({nav, detail});
    h.setRoot(split);
    EXPECT_FALSE(split->isCollapsed());
    EXPECT_EQ(nav->view()->frame(), Rect(0, 0, 258, 768));
    EXPECT_EQ(detail->view()->frame(), Rect(258, 0, 1024 - 258, 768));
    EXPECT_TRUE(list->isVisible());
    EXPECT_TRUE(detail->isVisible());

    // Compact width: the detail moves onto the list's navigation stack.
    h.window().setProfile(ScreenProfile::iPhone8());
    h.settle();
    EXPECT_TRUE(split->isCollapsed());
    ASSERT_EQ(nav->viewControllers().size(), 2u);
    EXPECT_EQ(nav->topViewController(), detail.get());
    EXPECT_EQ(nav->view()->frame(), Rect(0, 0, 375, 667));
    EXPECT_TRUE(detail->isVisible());
    EXPECT_FALSE(list->isVisible());

    // Regular again: the detail returns to its column, with whatever was pushed on it.
    auto deeper = std::make_shared<LoggingController>("X");
    nav->pushViewController(deeper, false);
    h.window().setProfile(ScreenProfile::iPadLandscape());
    h.settle();
    EXPECT_FALSE(split->isCollapsed());
    EXPECT_EQ(nav->viewControllers().size(), 1u);
    EXPECT_EQ(split->viewControllers()[1].get(), detail.get());
    EXPECT_EQ(detail->view()->frame(), Rect(258, 0, 1024 - 258, 768));
    EXPECT_TRUE(list->isVisible());
    EXPECT_TRUE(detail->isVisible());
    EXPECT_FALSE(deeper->isVisible());

    // Showing a detail replaces the secondary when expanded, pushes when collapsed.
    logs.take();
    auto other = std::make_shared<LoggingController>("E");
    split->showDetailViewController(other);
    EXPECT_EQ(logs.take(), (Seq{"D.willDisappear", "D.didDisappear", "E.viewDidLoad", "E.willAppear", "E.didAppear"}));
    h.window().setProfile(ScreenProfile::iPhone8());
    h.settle();
    auto third = std::make_shared<LoggingController>("F");
    split->showDetailViewController(third);
    h.settle();
    EXPECT_EQ(nav->topViewController(), third.get());
}

TEST(ToolkitSplit, StartsCollapsedOnAPhone) {
    toolkit::testing::Harness h(ScreenProfile::iPhone8(), 15);
    LogScope logs;
    auto nav = std::make_shared<NavigationController>(std::make_shared<LoggingController>("L"));
    auto detail = std::make_shared<LoggingController>("D");
    auto split = std::make_shared<SplitViewController>();
    split->setViewControllers({nav, detail});
    h.setRoot(split);
    EXPECT_TRUE(split->isCollapsed());
    EXPECT_EQ(nav->topViewController(), detail.get());
    EXPECT_EQ(logs.take(), (Seq{"D.viewDidLoad", "D.willAppear", "D.didAppear"})) << "only the detail appears";
}

namespace {

struct Animator : AnimatedTransitioning {
    std::vector<std::string>* log;
    bool presenting = true;
    bool completeAs = true;
    ContextTransitioning* context = nullptr;
    double transitionDuration(ContextTransitioning&) override { return 0.5; }
    void animateTransition(ContextTransitioning& c) override {
        context = &c;
        log->push_back(presenting ? "animate-in" : "animate-out");
        auto to = c.viewForKey(TransitionKey::To);
        if (presenting) {
            c.containerView()->addSubview(to);
            to->setFrame(c.finalFrameForViewController(c.viewControllerForKey(TransitionKey::To)));
        }
        bool ok = completeAs;
        ContextTransitioning* ctx = &c;
        animateSpring(
            0.5, 0, 0.8, 0, 0, [] {}, [ctx, ok](bool) { ctx->completeTransition(ok); });
    }
    void animationEnded(bool completed) override { log->push_back(completed ? "ended" : "ended-cancelled"); }
};

struct TransitionDelegate : TransitioningDelegate {
    std::shared_ptr<Animator> in, out;
    std::shared_ptr<AnimatedTransitioning> animationControllerForPresented(ViewController&, ViewController&,
                                                                           ViewController&) override {
        return in;
    }
    std::shared_ptr<AnimatedTransitioning> animationControllerForDismissed(ViewController&) override { return out; }
};

}  // namespace

TEST(ToolkitTransition, CustomAnimatorsDriveAppearanceAndCanCancel) {
    toolkit::testing::Harness h(ScreenProfile::iPhone8(), 15);
    Animations::setTimed(true);
    LogScope logs;
    auto a = std::make_shared<LoggingController>("A");
    h.setRoot(a);
    logs.take();
    auto b = std::make_shared<LoggingController>("B");
    b->modalPresentationStyle = ModalPresentationStyle::FullScreen;
    auto d = std::make_shared<TransitionDelegate>();
    d->in = std::make_shared<Animator>();
    d->in->log = &logs.log;
    d->out = std::make_shared<Animator>();
    d->out->log = &logs.log;
    d->out->presenting = false;
    b->transitioningDelegate = d;

    bool presented = false;
    a->present(b, true, [&] { presented = true; });
    EXPECT_EQ(logs.take(), (Seq{"B.viewDidLoad", "A.willDisappear(a)", "B.willAppear(a)", "animate-in"}));
    ASSERT_NE(b->transitionContext(), nullptr);
    EXPECT_EQ(d->in->context->viewControllerForKey(TransitionKey::From), a.get());
    EXPECT_EQ(d->in->context->containerView(), &h.window());
    EXPECT_EQ(b->view()->window(), &h.window()) << "the animator put the view in";
    EXPECT_TRUE(b->isBeingPresented());
    h.advance(0.4);
    EXPECT_FALSE(presented) << "nothing ends before the animator says so";
    h.advance(0.2);
    EXPECT_TRUE(presented);
    EXPECT_EQ(logs.take(), (Seq{"B.didAppear(a)", "A.didDisappear(a)", "ended"}));
    EXPECT_EQ(b->transitionContext(), nullptr);
    EXPECT_EQ(a->view()->window(), nullptr);

    // A cancelled dismissal puts both sides back.
    d->out->completeAs = false;
    b->dismiss(true);
    EXPECT_EQ(logs.take(), (Seq{"B.willDisappear(a)", "A.willAppear(a)", "animate-out"}));
    h.advance(0.6);
    EXPECT_EQ(logs.take(),
              (Seq{"A.willDisappear(a)", "A.didDisappear(a)", "B.willAppear(a)", "B.didAppear(a)", "ended-cancelled"}));
    EXPECT_EQ(a->presentedViewController(), b.get());
    EXPECT_FALSE(b->isBeingDismissed());
    EXPECT_EQ(a->view()->window(), nullptr);

    // The next dismissal completes.
    d->out->context = nullptr;
    d->out->completeAs = true;
    b->dismiss(true);
    ContextTransitioning* ctx = d->out->context;
    ASSERT_NE(ctx, nullptr);
    h.advance(0.6);
    EXPECT_EQ(a->presentedViewController(), nullptr);
    EXPECT_EQ(a->view()->window(), &h.window());
    EXPECT_EQ(logs.take(), (Seq{"B.willDisappear(a)", "A.willAppear(a)", "animate-out", "A.didAppear(a)",
                                "B.didDisappear(a)", "ended"}));
    Animations::setTimed(false);
}
