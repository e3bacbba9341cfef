// The picture preview's present and dismiss animation: a snapshot of the preview grows out of the
// tapped bubble (the source point) to fill the screen, and shrinks back into it, on a 0.5 s spring.
// The status bar hides while the preview shows.
#pragma once

#include <mutex>

#include "platform/toolkit/geometry.h"
#include "platform/toolkit/presentation.h"

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
