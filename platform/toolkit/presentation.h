// Popover presentation: where a popover sits (next to its source rectangle or bar item, with its
// arrow on the side that has room among the permitted ones) and which views stay touchable
// around it. At compact width a popover is shown full screen instead.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/toolkit/bar_items.h"
#include "platform/toolkit/geometry.h"
#include "platform/toolkit/graphics_types.h"

namespace toolkit {

class View;
class ViewController;

enum ArrowDirection : unsigned {
    kArrowUp = 1,
    kArrowDown = 2,
    kArrowLeft = 4,
    kArrowRight = 8,
    kArrowAny = 15,
    kArrowUnknown = 0,
};

class PopoverPresentationController {
public:
    std::weak_ptr<View> sourceView;
    Rect sourceRect;
    std::weak_ptr<BarButtonItem> barButtonItem;
    unsigned permittedArrowDirections = kArrowAny;
    std::optional<Color> backgroundColor;
    std::vector<std::weak_ptr<View>> passthroughViews;

    // The side the arrow ended up on (unknown until shown, and when shown full screen).
    unsigned arrowDirection() const { return arrow_; }
    // The anchor in window coordinates.
    Rect anchorInWindow() const;
    // Places a popover of content size in a window of bounds with safe insets; sets the arrow.
    Rect layout(Size content, const Rect& windowBounds, const EdgeInsets& safe);

    static constexpr double kArrowHeight = 13;
    static constexpr double kMargin = 10;

private:
    unsigned arrow_ = kArrowUnknown;
};

enum class TransitionKey { From, To };

// What a custom transition's animator sees: the container the views animate in, the two
// controllers and their views, and the frames they start and end at. The animator adds the
// incoming view to the container and calls completeTransition when it is done; false cancels
// the transition and puts everything back.
class ContextTransitioning : public std::enable_shared_from_this<ContextTransitioning> {
public:
    ContextTransitioning(View* container, ViewController* from, ViewController* to, bool animated,
                         std::function<void(bool)> done);
    View* containerView() const { return container_; }
    ViewController* viewControllerForKey(TransitionKey key) const { return key == TransitionKey::From ? from_ : to_; }
    std::shared_ptr<View> viewForKey(TransitionKey key) const;
    Rect initialFrameForViewController(const ViewController* vc) const;
    Rect finalFrameForViewController(const ViewController* vc) const;
    bool isAnimated() const { return animated_; }
    bool transitionWasCancelled() const { return cancelled_; }
    bool isCompleted() const { return completed_; }
    void completeTransition(bool didComplete);

    // Set by the presentation: where the controllers' views start and end.
    Rect fromInitial, fromFinal, toInitial, toFinal;

private:
    View* container_;
    ViewController* from_;
    ViewController* to_;
    bool animated_;
    bool cancelled_ = false;
    bool completed_ = false;
    std::function<void(bool)> done_;
};

class AnimatedTransitioning {
public:
    virtual ~AnimatedTransitioning() = default;
    virtual double transitionDuration(ContextTransitioning& context) = 0;
    virtual void animateTransition(ContextTransitioning& context) = 0;
    virtual void animationEnded(bool transitionCompleted) { (void)transitionCompleted; }
};

// Gives presentations their own animators; none means the standard transition.
class TransitioningDelegate {
public:
    virtual ~TransitioningDelegate() = default;
    virtual std::shared_ptr<AnimatedTransitioning>
    animationControllerForPresented(ViewController& presented, ViewController& presenting, ViewController& source) {
        (void)presented, (void)presenting, (void)source;
        return nullptr;
    }
    virtual std::shared_ptr<AnimatedTransitioning> animationControllerForDismissed(ViewController& dismissed) {
        (void)dismissed;
        return nullptr;
    }
};

}  // namespace toolkit
