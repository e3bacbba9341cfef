// The split view controller: a primary (list) column beside a secondary (detail) one. At compact
// width it collapses to the primary alone; unless its delegate takes the secondary itself, the
// secondary is pushed onto a primary navigation controller, and popped back out when the width
// grows again.
#pragma once

#include <limits>
#include <memory>
#include <vector>

#include "platform/toolkit/view_controller.h"

namespace toolkit {

class SplitViewController;

enum class SplitDisplayMode { Automatic, PrimaryHidden, AllVisible, PrimaryOverlay };

class SplitViewControllerDelegate {
public:
    virtual ~SplitViewControllerDelegate() = default;
    // True: the delegate dealt with the secondary and the split does nothing more with it.
    virtual bool collapseSecondaryOntoPrimary(SplitViewController&, ViewController& secondary,
                                              ViewController& primary) {
        (void)secondary, (void)primary;
        return false;
    }
    // The controller to show as the secondary when expanding; none: the default.
    virtual ViewControllerPtr separateSecondaryFromPrimary(SplitViewController&, ViewController& primary) {
        (void)primary;
        return nullptr;
    }
};

class SplitViewController : public ViewController {
public:
    std::string className() const override { return "SplitViewController"; }

    // Primary first, then the secondary (if any).
    const std::vector<ViewControllerPtr>& viewControllers() const { return columns_; }
    void setViewControllers(std::vector<ViewControllerPtr> controllers);
    bool isCollapsed() const { return collapsed_; }
    // Shows a detail: replaces the secondary when expanded; pushed onto a primary navigation
    // controller (or presented) when collapsed.
    void showDetailViewController(const ViewControllerPtr& controller);

    SplitDisplayMode preferredDisplayMode = SplitDisplayMode::Automatic;
    // The mode in effect: all visible or primary hidden (automatic picks by orientation).
    SplitDisplayMode displayMode() const;
    double minimumPrimaryColumnWidth = 0;
    double maximumPrimaryColumnWidth = std::numeric_limits<double>::infinity();
    bool presentsWithGesture = true;
    std::weak_ptr<SplitViewControllerDelegate> delegate;
    double primaryColumnWidth() const;

    void viewDidLoad() override;
    void viewDidLayoutSubviews() override;
    void traitCollectionDidChange(const TraitCollection& previous) override;

    static constexpr double kDefaultPrimaryWidth = 320;

protected:
    std::vector<ViewController*> appearanceChildren() const override;

private:
    void updateCollapse();
    void collapse();
    void expand();
    void place(ViewController* child, const Rect& frame);
    std::vector<ViewControllerPtr> columns_;
    bool collapsed_ = false;
    bool configured_ = false;
    // The secondary the split pushed onto the primary navigation controller when collapsing.
    ViewControllerPtr merged_;
};

}  // namespace toolkit
