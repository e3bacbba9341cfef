// The preview's spring from and back into the tapped bubble, on a snapshot of the preview.
#include "ui/compose/image_preview_animation_controller.h"

#include "platform/graphics/color.h"
#include "platform/toolkit/animation.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/renderer.h"
#include "platform/toolkit/view_controller.h"
#include "ui/compose/vc_image_preview.h"

double ImagePreview_AnimationController::transitionDuration(toolkit::ContextTransitioning&) { return kDuration; }

void ImagePreview_AnimationController::animateTransition(toolkit::ContextTransitioning& context) {
    toolkit::View* container = context.containerView();
    toolkit::ViewController* to = context.viewControllerForKey(toolkit::TransitionKey::To);
    toolkit::ViewController* from = context.viewControllerForKey(toolkit::TransitionKey::From);
    if (!container || !to || !from) {
        context.completeTransition(!context.transitionWasCancelled());
        return;
    }
    const toolkit::Point p = sourcePoint();
    const bool presenting = isPresenting;
    toolkit::ViewController* moving = presenting ? to : from;
    auto movingView = moving->view();
    if (presenting) {
        movingView->setFrame(context.finalFrameForViewController(to));
        container->addSubview(movingView);
    }
    auto snapshot = toolkit::snapshotView(*movingView, presenting);
    if (presenting) {
        snapshot->setFrame({p.x, p.y, 0, 0});
        snapshot->setAlpha(kStartAlpha);
    } else {
        snapshot->setFrame(movingView->frame());
    }
    movingView->setHidden(true);
    container->addSubview(snapshot);
    const toolkit::Rect full = container->bounds();
    auto shared = context.shared_from_this();
    toolkit::animateSpring(
        kDuration, 0, kDamping, 0, toolkit::kAnimationBeginFromCurrentState,
        [&] {
            if (presenting) {
                snapshot->setFrame(full);
                snapshot->setAlpha(1.0);
                VC_ImagePreview::setStatusBarHidden(true);
                to->setNeedsStatusBarAppearanceUpdate();
            } else {
                snapshot->setFrame({p.x, p.y, 0, 0});
                snapshot->setAlpha(0.0);
                VC_ImagePreview::setStatusBarHidden(false);
                from->setNeedsStatusBarAppearanceUpdate();
            }
        },
        [shared, snapshot, movingView, presenting](bool) {
            if (presenting)
                movingView->setHidden(false);
            else
                movingView->removeFromSuperview();
            snapshot->removeFromSuperview();
            shared->completeTransition(!shared->transitionWasCancelled());
        });
}

std::shared_ptr<toolkit::AnimatedTransitioning>
ImagePreview_Transitions::animationControllerForPresented(toolkit::ViewController&, toolkit::ViewController&,
                                                          toolkit::ViewController&) {
    return std::make_shared<ImagePreview_AnimationController>(true, sourcePoint_ ? sourcePoint_() : toolkit::Point{});
}

std::shared_ptr<toolkit::AnimatedTransitioning>
ImagePreview_Transitions::animationControllerForDismissed(toolkit::ViewController&) {
    return std::make_shared<ImagePreview_AnimationController>(false, sourcePoint_ ? sourcePoint_() : toolkit::Point{});
}

std::shared_ptr<toolkit::NavigationController>
hxImagePreviewNavigation(std::shared_ptr<toolkit::ViewController> preview,
                         const std::shared_ptr<toolkit::TransitioningDelegate>& transitions) {
    auto nav = std::make_shared<toolkit::NavigationController>(std::move(preview));
    auto& bar = nav->navigationBar();
    bar.setTranslucent(true);
    bar.setBarTintColor(graphics::Color::clear());
    bar.setTintColor(graphics::Color::whiteColor());
    nav->modalPresentationStyle = toolkit::ModalPresentationStyle::OverFullScreen;
    nav->transitioningDelegate = transitions;
    return nav;
}
