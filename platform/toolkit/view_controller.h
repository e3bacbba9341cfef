// View controllers: a lazily loaded root view, containment of children, modal presentation and
// the appearance callbacks in the platform's order. Transitions report will-callbacks when they
// start and did-callbacks when they end (at once without animation, when the animation completes
// otherwise): a container's outgoing child disappears before the incoming one appears; a modal
// presentation's incoming controller appears before the outgoing one disappears.
#pragma once

#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/toolkit/bar_items.h"
#include "platform/toolkit/geometry.h"
#include "platform/toolkit/previewing.h"
#include "platform/toolkit/responder.h"
#include "platform/toolkit/traits.h"

namespace toolkit {

class View;
class Window;
class NavigationController;
class TabBarController;
class PopoverPresentationController;
class TransitionCoordinator;
class TransitioningDelegate;
class ContextTransitioning;
class ViewController;
using ViewPtr = std::shared_ptr<View>;
using ViewControllerPtr = std::shared_ptr<ViewController>;

enum class ModalPresentationStyle {
    FullScreen,
    PageSheet,
    FormSheet,
    CurrentContext,
    OverFullScreen,
    OverCurrentContext,
    Popover,
    Custom,
    Automatic,
};
enum class ModalTransitionStyle { CoverVertical, FlipHorizontal, CrossDissolve, PartialCurl };
enum class StatusBarStyle { Default, LightContent, DarkContent };

enum class AppearanceState { Disappeared, Appearing, Appeared, Disappearing };

// Runs alongside-animations with a transition and their completions when it ends.
class TransitionCoordinator {
public:
    using Block = std::function<void(TransitionCoordinator&)>;
    bool isAnimated() const { return animated_; }
    double transitionDuration() const { return duration_; }
    bool isCancelled() const { return false; }
    // The animation runs at once (blocks give final values); the completion when the transition ends.
    bool animateAlongsideTransition(const Block& animation, Block completion);

    TransitionCoordinator(bool animated, double duration) : animated_(animated), duration_(duration) {}
    void finish();

private:
    bool animated_;
    double duration_;
    std::vector<Block> completions_;
};

class ViewController : public Responder {
public:
    ViewController();
    ~ViewController() override;
    virtual std::string className() const { return "ViewController"; }
    ViewControllerPtr selfPtr() { return std::static_pointer_cast<ViewController>(shared_from_this()); }
    // This controller as T (itself or a class it derives from) by weak pointer, for blocks that
    // may run after it is gone; empty when no shared pointer owns it.
    template <class T = ViewController>
    std::weak_ptr<T> weakSelf() {
        if (auto self = weak_from_this().lock()) return std::static_pointer_cast<T>(self);
        return {};
    }

    // ---- View
    ViewPtr view();
    bool isViewLoaded() const { return view_ != nullptr; }
    void setView(ViewPtr view);
    ViewPtr viewIfLoaded() const { return view_; }
    virtual void loadView();
    virtual void viewDidLoad() {}
    virtual void viewWillAppear(bool animated) { (void)animated; }
    virtual void viewDidAppear(bool animated) { (void)animated; }
    virtual void viewWillDisappear(bool animated) { (void)animated; }
    virtual void viewDidDisappear(bool animated) { (void)animated; }
    virtual void viewWillLayoutSubviews() {}
    virtual void viewDidLayoutSubviews() {}
    virtual void traitCollectionDidChange(const TraitCollection& previous) { (void)previous; }
    virtual void viewWillTransitionToSize(Size size, TransitionCoordinator* coordinator);
    virtual void didReceiveMemoryWarning() {}
    AppearanceState appearanceState() const { return appearance_; }
    bool isVisible() const { return appearance_ == AppearanceState::Appeared; }

    // Manual appearance transitions (containers that do not forward automatically).
    void beginAppearanceTransition(bool appearing, bool animated);
    void endAppearanceTransition();
    virtual bool shouldAutomaticallyForwardAppearanceMethods() const { return true; }

    // ---- Identity
    const std::string& title() const { return title_; }
    virtual void setTitle(const std::string& title);
    NavigationItem& navigationItem() { return navigationItem_; }
    TabBarItem& tabBarItem() { return tabBarItem_; }
    Size preferredContentSize() const { return preferredContentSize_; }
    // A popover showing this controller takes the new size at once.
    void setPreferredContentSize(Size s);
    bool hidesBottomBarWhenPushed = false;
    unsigned edgesForExtendedLayout = 15;
    bool extendedLayoutIncludesOpaqueBars = false;
    virtual StatusBarStyle preferredStatusBarStyle() const { return StatusBarStyle::Default; }
    virtual bool prefersStatusBarHidden() const { return false; }
    void setNeedsStatusBarAppearanceUpdate() { ++statusBarUpdates_; }
    int statusBarUpdateCount() const { return statusBarUpdates_; }

    // ---- Containment
    ViewController* parent() const { return parent_; }
    const std::vector<ViewControllerPtr>& children() const { return children_; }
    void addChild(const ViewControllerPtr& child);
    void removeFromParent();
    virtual void willMoveToParent(ViewController* parent) { (void)parent; }
    virtual void didMoveToParent(ViewController* parent) { (void)parent; }
    NavigationController* navigationController() const;
    TabBarController* tabBarController() const;
    bool isMovingToParent() const { return movingTo_; }
    bool isMovingFromParent() const { return movingFrom_; }

    // ---- Presentation
    void present(const ViewControllerPtr& controller, bool animated, std::function<void()> completion = {});
    void dismiss(bool animated, std::function<void()> completion = {});
    ViewController* presentedViewController() const { return presented_.get(); }
    ViewController* presentingViewController() const;
    bool isBeingPresented() const { return beingPresented_; }
    bool isBeingDismissed() const { return beingDismissed_; }
    ModalPresentationStyle modalPresentationStyle = ModalPresentationStyle::Automatic;
    ModalTransitionStyle modalTransitionStyle = ModalTransitionStyle::CoverVertical;
    bool isModalInPresentation = false;
    bool definesPresentationContext = false;
    // The style the presentation used after adapting to the size class (popovers and sheets
    // become full screen in compact width).
    ModalPresentationStyle presentationStyleInUse() const { return styleInUse_; }
    PopoverPresentationController* popoverPresentationController();
    // Animators for presenting and dismissing this controller (weak).
    std::weak_ptr<TransitioningDelegate> transitioningDelegate;
    // The context of a running custom transition, if any.
    ContextTransitioning* transitionContext() const { return context_.get(); }
    // A tap outside the popover this controller is shown in is about to dismiss it.
    virtual void popoverWillDismissFromOutsideTap() {}
    TransitionCoordinator* transitionCoordinator() const;

    // Peek and pop from a source view (previewing.h); the controller keeps the registration.
    PreviewingContextPtr registerForPreviewing(std::weak_ptr<PreviewingDelegate> delegate, const ViewPtr& sourceView);
    void unregisterForPreviewing(const PreviewingContextPtr& context);
    const std::vector<PreviewingContextPtr>& previewingContexts() const { return previewing_; }
    // The actions offered under this controller while it is previewed.
    virtual std::vector<PreviewAction> previewActionItems() const { return {}; }

    Responder* nextResponder() const override;

    // Called by windows for their root controller.
    void attachToWindow(Window* window);
    void detachFromWindow();

    // Containers drive their children's appearance through these.
    void forwardWillAppear(bool animated);
    void forwardDidAppear(bool animated);
    void forwardWillDisappear(bool animated);
    void forwardDidDisappear(bool animated);

protected:
    // Children whose appearance follows this controller's (the visible ones).
    virtual std::vector<ViewController*> appearanceChildren() const;
    // Where presentations from this controller put their views.
    View* presentationContainer();

private:
    friend class NavigationController;
    friend class TabBarController;
    void appearanceStep(std::initializer_list<AppearanceState> from, AppearanceState to,
                        void (ViewController::*callback)(bool), void (ViewController::*forward)(bool), bool animated);
    ModalPresentationStyle adaptedStyle() const;
    Rect presentedFrame(ModalPresentationStyle style) const;

    ViewPtr view_;
    std::string title_;
    NavigationItem navigationItem_;
    TabBarItem tabBarItem_;
    Size preferredContentSize_;
    AppearanceState appearance_ = AppearanceState::Disappeared;
    bool loading_ = false;
    int statusBarUpdates_ = 0;
    ViewController* parent_ = nullptr;
    std::vector<ViewControllerPtr> children_;
    bool movingTo_ = false;
    bool movingFrom_ = false;
    ViewControllerPtr presented_;
    ViewController* presenting_ = nullptr;
    bool beingPresented_ = false;
    bool beingDismissed_ = false;
    ModalPresentationStyle styleInUse_ = ModalPresentationStyle::FullScreen;
    // The view a full-screen presentation took out of the window, and where it was.
    ViewPtr coveredView_;
    View* coveredParent_ = nullptr;
    size_t coveredIndex_ = 0;
    Rect coveredFrame_;
    // A dismissal asked for while this controller was still being presented: it starts once the
    // presentation has ended.
    struct PendingDismissal {
        bool animated = false;
        std::function<void()> completion;
    };
    std::optional<PendingDismissal> pendingDismissal_;
    std::shared_ptr<PopoverPresentationController> popover_;
    std::shared_ptr<TransitionCoordinator> coordinator_;
    std::shared_ptr<ContextTransitioning> context_;
    Window* window_ = nullptr;  // set on a window's root controller
    std::vector<PreviewingContextPtr> previewing_;
};

}  // namespace toolkit
