// More of alerts, split views and custom transitions: a second alert while one shows, long
// action titles, messages changed while shown, sheets anchored at bar items, split delegates that
// take the secondary themselves, and a presentation the animator cancels.
#include <gtest/gtest.h>

#include "platform/toolkit/alert_controller.h"
#include "platform/toolkit/animation.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/presentation.h"
#include "platform/toolkit/split_view_controller.h"
#include "platform/toolkit/testing/harness.h"
#include "tests/toolkit/logging_controller.h"

using namespace toolkit;
using namespace toolkit_test;
using Harness = toolkit::testing::Harness;

namespace {
std::shared_ptr<AlertController> twoActionAlert(const std::string& a, const std::string& b) {
    auto alert = AlertController::make("Title", "Message", AlertControllerStyle::Alert);
    EXPECT_TRUE(alert->addAction(AlertAction::make(a, AlertActionStyle::Default)).ok());
    EXPECT_TRUE(alert->addAction(AlertAction::make(b, AlertActionStyle::Cancel)).ok());
    return alert;
}
}  // namespace

TEST(ToolkitAlertMore, OneAlertAtATimeLongTitlesStackAndMessagesRelayout) {
    Harness h(ScreenProfile::iPhone8(), 15);
    auto root = std::make_shared<ViewController>();
    h.setRoot(root);
    auto first = twoActionAlert("OK", "Cancel");
    root->present(first, false);
    auto second = twoActionAlert("Retry", "Cancel");
    root->present(second, false);
    h.settle();
    EXPECT_EQ(h.visibleAlert(), first.get()) << "a second presentation from the same controller is refused";
    EXPECT_EQ(second->presentingViewController(), nullptr);
    double before = first->actionButtons()[0]->superview()->frame().height();
    first->setMessage("A much longer message that takes several lines of text in the alert's narrow panel");
    h.settle();
    EXPECT_GT(first->actionButtons()[0]->superview()->frame().height(), before);
    first->setMessage(std::nullopt);
    h.settle();
    EXPECT_LT(first->actionButtons()[0]->superview()->frame().height(), before);
    EXPECT_TRUE(h.tapAlertAction("Cancel"));
    EXPECT_EQ(h.visibleAlert(), nullptr);

    // Titles too long for half the width stack even with two actions.
    auto wordy = twoActionAlert("Send the report with the call log", "Not now");
    root->present(wordy, false);
    h.settle();
    auto buttons = wordy->actionButtons();
    ASSERT_EQ(buttons.size(), 2u);
    EXPECT_EQ(buttons[0]->frame().width(), AlertController::kAlertWidth);
    EXPECT_EQ(buttons[1]->frame().minY(), buttons[0]->frame().maxY());
    EXPECT_EQ(buttons[0]->action()->title(), "Not now") << "cancel still comes first with two actions";
    // An image on an action shows on its button.
    wordy->dismiss(false);
    auto withImage = AlertController::make(std::nullopt, std::nullopt, AlertControllerStyle::ActionSheet);
    auto call = AlertAction::make("Call", AlertActionStyle::Default);
    call->image = makeImage("phone", {20, 20}, true);
    ASSERT_TRUE(withImage->addAction(call).ok());
    root->present(withImage, false);
    h.settle();
    EXPECT_EQ(withImage->actionButtons()[0]->currentImage()->name(), "phone");
    EXPECT_EQ(withImage->actionButtons()[0]->currentTitle(), "Call");
}

TEST(ToolkitAlertMore, SheetsOnAPadAnchorAtBarItems) {
    Harness h(ScreenProfile::iPad(), 15);
    auto top = std::make_shared<ViewController>();
    auto nav = std::make_shared<NavigationController>(top);
    h.setRoot(nav);
    auto item = BarButtonItem::withSystemItem(SystemItem::Action);
    item->accessibilityLabel = "Share";
    top->navigationItem().setRightBarButtonItem(item);
    h.settle();
    auto sheet = AlertController::make("Share", std::nullopt, AlertControllerStyle::ActionSheet);
    ASSERT_TRUE(sheet->addAction(AlertAction::make("Copy", AlertActionStyle::Default)).ok());
    sheet->popoverPresentationController()->barButtonItem = item;
    sheet->popoverPresentationController()->permittedArrowDirections = kArrowUp;
    top->present(sheet, false);
    h.settle();
    Rect anchor = item->view()->convertRectTo(item->view()->bounds(), nullptr);
    EXPECT_EQ(sheet->popoverPresentationController()->anchorInWindow(), anchor);
    EXPECT_EQ(sheet->popoverPresentationController()->arrowDirection(), kArrowUp);
    EXPECT_EQ(sheet->view()->frame().minY(), anchor.maxY() + PopoverPresentationController::kArrowHeight);
    EXPECT_EQ(sheet->view()->frame().width(), 270) << "the sheet asks for its own size in the popover";
    EXPECT_TRUE(h.tapAlertAction("Copy"));
    EXPECT_EQ(top->presentedViewController(), nullptr);
}

namespace {
struct Keeper : SplitViewControllerDelegate {
    bool take = true;
    ViewControllerPtr replacement;
    std::vector<std::string> calls;
    bool collapseSecondaryOntoPrimary(SplitViewController&, ViewController&, ViewController&) override {
        calls.push_back("collapse");
        return take;
    }
    ViewControllerPtr separateSecondaryFromPrimary(SplitViewController&, ViewController&) override {
        calls.push_back("separate");
        return replacement;
    }
};
}  // namespace

TEST(ToolkitSplitMore, DelegatesCanKeepOrReplaceTheSecondary) {
    Harness h(ScreenProfile::iPadLandscape(), 15);
    auto list = std::make_shared<ViewController>();
    auto nav = std::make_shared<NavigationController>(list);
    auto detail = std::make_shared<ViewController>();
    auto split = std::make_shared<SplitViewController>();
    auto keeper = std::make_shared<Keeper>();
    split->delegate = keeper;
    split->preferredDisplayMode = SplitDisplayMode::AllVisible;
    split->setViewControllers({nav, detail});
    h.setRoot(split);
    EXPECT_EQ(split->primaryColumnWidth(), SplitViewController::kDefaultPrimaryWidth);
    h.window().setProfile(ScreenProfile::iPhone8());
    h.settle();
    EXPECT_TRUE(split->isCollapsed());
    EXPECT_EQ(nav->viewControllers().size(), 1u) << "the delegate took the secondary";
    EXPECT_EQ(detail->view()->window(), nullptr);
    auto fresh = std::make_shared<ViewController>();
    keeper->replacement = fresh;
    h.window().setProfile(ScreenProfile::iPadLandscape());
    h.settle();
    EXPECT_EQ(keeper->calls, (std::vector<std::string>{"collapse", "separate"}));
    EXPECT_EQ(split->viewControllers()[1], fresh);
    EXPECT_TRUE(fresh->isVisible());
    EXPECT_EQ(fresh->view()->frame().minX(), SplitViewController::kDefaultPrimaryWidth);
    // Portrait pads hide the primary unless all columns are asked for.
    split->preferredDisplayMode = SplitDisplayMode::Automatic;
    h.window().setProfile(ScreenProfile::iPad());
    h.settle();
    EXPECT_EQ(split->displayMode(), SplitDisplayMode::PrimaryHidden);
    EXPECT_EQ(fresh->view()->frame(), Rect(0, 0, 768, 1024));
    EXPECT_EQ(nav->view()->window(), nullptr);
}

namespace {
struct Refuser : AnimatedTransitioning {
    double transitionDuration(ContextTransitioning&) override { return 0.3; }
    void animateTransition(ContextTransitioning& c) override {
        c.containerView()->addSubview(c.viewForKey(TransitionKey::To));
        ContextTransitioning* ctx = &c;
        animate(
            0.3, [] {}, [ctx](bool) { ctx->completeTransition(false); });
    }
    bool ended = true;
    void animationEnded(bool completed) override { ended = completed; }
};
struct RefusingDelegate : TransitioningDelegate {
    std::shared_ptr<Refuser> animator = std::make_shared<Refuser>();
    std::shared_ptr<AnimatedTransitioning> animationControllerForPresented(ViewController&, ViewController&,
                                                                           ViewController&) override {
        return animator;
    }
};
}  // namespace

TEST(ToolkitTransitionMore, ACancelledPresentationLeavesThePresenterAsItWas) {
    Harness h(ScreenProfile::iPhone8(), 15);
    std::vector<std::string> log;
    gLog = &log;
    auto a = std::make_shared<LoggingController>("A");
    h.setRoot(a);
    log.clear();
    auto b = std::make_shared<LoggingController>("B");
    b->modalPresentationStyle = ModalPresentationStyle::FullScreen;
    auto d = std::make_shared<RefusingDelegate>();
    b->transitioningDelegate = d;
    bool completed = false;
    a->present(b, true, [&] { completed = true; });
    h.settle();
    EXPECT_EQ(log, (Seq{"B.viewDidLoad", "A.willDisappear(a)", "B.willAppear(a)", "B.willDisappear(a)",
                        "B.didDisappear(a)", "A.willAppear(a)", "A.didAppear(a)"}));
    EXPECT_FALSE(completed) << "a cancelled presentation does not complete";
    EXPECT_FALSE(d->animator->ended);
    EXPECT_EQ(a->presentedViewController(), nullptr);
    EXPECT_EQ(b->presentingViewController(), nullptr);
    EXPECT_EQ(b->view()->window(), nullptr);
    EXPECT_EQ(a->view()->window(), &h.window());
    EXPECT_TRUE(a->isVisible());
    // Without animation the delegate is not asked: the standard presentation runs.
    log.clear();
    a->present(b, false);
    EXPECT_EQ(a->presentedViewController(), b.get());
    EXPECT_TRUE(b->isVisible());
    gLog = nullptr;
}
