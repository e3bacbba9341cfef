// The picture preview's present and dismiss animation: a snapshot of the preview grows out of the
// tapped bubble (the source point) to fill the screen, and shrinks back into it, on a 0.5 s spring.
// The status bar hides while the preview shows.
#pragma once

#include <functional>
#include <memory>
#include <mutex>

#include "platform/toolkit/geometry.h"
#include "platform/toolkit/presentation.h"

namespace toolkit {
class NavigationController;
class ViewController;
}  // namespace toolkit

class ImagePreview_AnimationController : public toolkit::AnimatedTransitioning {
public:
    static constexpr double kDuration = 0.5;
    static constexpr double kDamping = 0.8;
    static constexpr double kStartAlpha = 0.2;

    ImagePreview_AnimationController(bool presenting, toolkit::Point sourcePoint)
        : isPresenting(presenting), sourcePoint_(sourcePoint) {}
    bool isPresenting = true;
    // Any thread may read or move it.
    toolkit::Point sourcePoint() const {
        std::lock_guard lock(mutex_);
        return sourcePoint_;
    }
    void setSourcePoint(toolkit::Point p) {
        std::lock_guard lock(mutex_);
        sourcePoint_ = p;
    }

    double transitionDuration(toolkit::ContextTransitioning& context) override;
    void animateTransition(toolkit::ContextTransitioning& context) override;

private:
    mutable std::mutex mutex_;
    toolkit::Point sourcePoint_;
};

// Hands a preview its spring from and back into the point the source gives when it starts.
class ImagePreview_Transitions : public toolkit::TransitioningDelegate {
public:
    explicit ImagePreview_Transitions(std::function<toolkit::Point()> sourcePoint)
        : sourcePoint_(std::move(sourcePoint)) {}
    std::shared_ptr<toolkit::AnimatedTransitioning> animationControllerForPresented(toolkit::ViewController&,
                                                                                    toolkit::ViewController&,
                                                                                    toolkit::ViewController&) override;
    std::shared_ptr<toolkit::AnimatedTransitioning> animationControllerForDismissed(toolkit::ViewController&) override;

private:
    std::function<toolkit::Point()> sourcePoint_;
};

// The preview as the conversation shows it: in a navigation controller with a transparent,
// translucent bar and white tint, over the full screen, growing out of the source point with
// transitions (which the caller keeps: the controller holds its transitioning delegate weakly).
std::shared_ptr<toolkit::NavigationController>
hxImagePreviewNavigation(std::shared_ptr<toolkit::ViewController> preview,
                         const std::shared_ptr<toolkit::TransitioningDelegate>& transitions);
