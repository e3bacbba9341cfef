// Presents and dismisses the dropdown menu's content view inside a presenting view: from the
// menu's bottom edge down, squeezed and lifted into place with a spring when animated, and,
// in a presenting scroll view, with the bottom inset grown (and the content scrolled, when the
// menu asks) so the whole list can be seen; the inset is put back on dismissal.
#pragma once

#include <functional>
#include <limits>
#include <memory>
#include <optional>

#include "platform/toolkit/view.h"

class HXCDropdownMenu;
class HXCDropdownMenuContentViewController;

class HXCDropdownMenuTransition : public std::enable_shared_from_this<HXCDropdownMenuTransition> {
public:
    HXCDropdownMenuTransition(std::weak_ptr<HXCDropdownMenu> menu,
                              std::weak_ptr<HXCDropdownMenuContentViewController> controller);

    std::shared_ptr<HXCDropdownMenu> menu() const { return menu_.lock(); }
    std::shared_ptr<HXCDropdownMenuContentViewController> controller() const { return controller_.lock(); }
    std::shared_ptr<toolkit::View> containerView() const { return containerView_.lock(); }
    double duration = 0.25;
    bool isAnimating() const { return animating_; }
    // The presenting scroll view's bottom inset before the dropdown grew it; none when not grown.
    std::optional<double> savedBottomInset() const;

    void presentDropdownInContainerView(const std::shared_ptr<toolkit::View>& container, bool animated,
                                        std::function<void()> completion);
    void dismissDropdownAnimated(bool animated, std::function<void()> completion);

private:
    toolkit::AffineTransform squeezed() const;
    std::weak_ptr<HXCDropdownMenu> menu_;
    std::weak_ptr<HXCDropdownMenuContentViewController> controller_;
    std::weak_ptr<toolkit::View> containerView_;
    bool animating_ = false;
    double previousBottomInset_ = std::numeric_limits<double>::max();
};
