#include "ui/messages/hxc_dropdown_menu_transition.h"

#include <algorithm>

#include "platform/toolkit/animation.h"
#include "platform/toolkit/scroll_view.h"
#include "ui/messages/hxc_dropdown_menu.h"
#include "ui/messages/hxc_dropdown_menu_content_view_controller.h"

using namespace toolkit;

namespace {
constexpr double kNoSavedInset = std::numeric_limits<double>::max();
constexpr double kSpareBelowList = 5.0;
constexpr double kDamping = 1.0;
}  // namespace

HXCDropdownMenuTransition::HXCDropdownMenuTransition(std::weak_ptr<HXCDropdownMenu> menu,
                                                     std::weak_ptr<HXCDropdownMenuContentViewController> controller)
    : menu_(std::move(menu)), controller_(std::move(controller)) {}

std::optional<double> HXCDropdownMenuTransition::savedBottomInset() const {
    if (previousBottomInset_ == kNoSavedInset) return std::nullopt;
    return previousBottomInset_;
}

AffineTransform HXCDropdownMenuTransition::squeezed() const {
    auto c = controller();
    double h = c ? c->containerView()->bounds().height() : 0;
    // Half height, lifted by twice its height in the squeezed coordinates.
    return AffineTransform::scale(1, 0.5).translated(0, -2 * h);
}

void HXCDropdownMenuTransition::presentDropdownInContainerView(const std::shared_ptr<View>& container, bool animated,
                                                               std::function<void()> completion) {
    auto c = controller();
    auto m = menu();
    if (!c || !m || !container) {
        if (completion) completion();
        return;
    }
    containerView_ = container;
    c->beginAppearanceTransition(true, animated);
    double B = m->convertRectTo(m->bounds(), container.get()).maxY();
    double H = container->bounds().height();
    std::function<void()> scrollStep = [] {};
    if (auto* sv = dynamic_cast<ScrollView*>(container.get())) {
        double R = B + c->contentHeight() + kSpareBelowList;
        EdgeInsets inset = sv->contentInset();
        double D = R - sv->contentSize().height - inset.bottom;
        double O = R - sv->bounds().height();
        H = std::max(sv->bounds().height() - inset.top, sv->contentSize().height + inset.bottom);
        bool adjustInset = m->adjustsContentInset;
        bool adjustOffset = m->adjustsContentOffset;
        if (adjustInset && H < R) H = R;
        std::weak_ptr<View> weak = container;
        std::weak_ptr<HXCDropdownMenuTransition> self = weak_from_this();
        scrollStep = [self, weak, D, O, adjustInset, adjustOffset] {
            auto strong = std::dynamic_pointer_cast<ScrollView>(weak.lock());
            auto me = self.lock();
            if (!strong || !me) return;
            if (adjustInset && D > 0) {
                EdgeInsets e = strong->contentInset();
                me->previousBottomInset_ = e.bottom;
                e.bottom += D;
                strong->setContentInset(e);
            }
            if (adjustOffset && strong->contentOffset().y < O) strong->setContentOffset({strong->contentOffset().x, O});
        };
    }
    ViewPtr v = c->view();
    Rect cb = container->bounds();
    v->setFrame(Rect(cb.minX(), B, cb.width(), H - B));
    container->addSubview(v);
    v->layoutIfNeeded();
    if (!animated) {
        scrollStep();
        c->endAppearanceTransition();
        if (completion) completion();
        return;
    }
    c->containerView()->setTransform(squeezed());
    v->setAlpha(0);
    animating_ = true;
    std::weak_ptr<HXCDropdownMenuContentViewController> weakC = c;
    animateSpring(
        duration, 0, kDamping, 0, kAnimationNone,
        [&] {
            v->setAlpha(1);
            c->containerView()->setTransform(AffineTransform::identity());
            scrollStep();
        },
        [self = weak_from_this(), weakC, completion = std::move(completion)](bool) {
            if (auto strong = weakC.lock()) strong->endAppearanceTransition();
            if (auto me = self.lock()) me->animating_ = false;
            if (completion) completion();
        });
}

void HXCDropdownMenuTransition::dismissDropdownAnimated(bool animated, std::function<void()> completion) {
    auto c = controller();
    if (!c) {
        if (completion) completion();
        return;
    }
    c->beginAppearanceTransition(false, animated);
    std::weak_ptr<View> weakContainer = containerView_;
    auto restoreStep = [self = weak_from_this(), weakContainer] {
        auto sv = std::dynamic_pointer_cast<ScrollView>(weakContainer.lock());
        auto me = self.lock();
        if (!sv || !me || me->previousBottomInset_ == kNoSavedInset) return;
        EdgeInsets e = sv->contentInset();
        e.bottom = me->previousBottomInset_;
        sv->setContentInset(e);
        me->previousBottomInset_ = kNoSavedInset;
    };
    ViewPtr v = c->view();
    if (!animated) {
        restoreStep();
        v->removeFromSuperview();
        c->endAppearanceTransition();
        if (completion) completion();
        return;
    }
    animating_ = true;
    containerView_.reset();
    AffineTransform target = squeezed();
    std::weak_ptr<HXCDropdownMenuContentViewController> weakC = c;
    animateSpring(
        duration, 0, kDamping, 0, kAnimationNone,
        [&] {
            v->setAlpha(0);
            c->containerView()->setTransform(target);
            restoreStep();
        },
        [self = weak_from_this(), weakC, completion = std::move(completion)](bool) {
            if (auto strong = weakC.lock()) {
                strong->view()->removeFromSuperview();
                strong->view()->setAlpha(1);
                strong->containerView()->setTransform(AffineTransform::identity());
                strong->endAppearanceTransition();
            }
            if (auto me = self.lock()) me->animating_ = false;
            if (completion) completion();
        });
}
