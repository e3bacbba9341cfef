#include "platform/toolkit/split_view_controller.h"

#include <algorithm>

#include "platform/toolkit/main_thread.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/view.h"
#include "platform/toolkit/window.h"

namespace toolkit {

void SplitViewController::setViewControllers(std::vector<ViewControllerPtr> controllers) {
    TK_MAIN_THREAD("SplitViewController::setViewControllers");
    bool visible = appearanceState() == AppearanceState::Appeared;
    for (auto& c : columns_) {
        if (visible) c->forwardWillDisappear(false);
        if (c->isViewLoaded()) c->view()->removeFromSuperview();
        if (visible) c->forwardDidDisappear(false);
        c->removeFromParent();
    }
    columns_.clear();
    merged_.reset();
    configured_ = false;
    for (auto& c : controllers)
        if (c && columns_.size() < 2) {
            addChild(c);
            columns_.push_back(c);
        }
    if (isViewLoaded()) {
        updateCollapse();
        for (auto* c : appearanceChildren()) {
            if (visible) c->forwardWillAppear(false);
            place(c, view()->bounds());
            if (visible) c->forwardDidAppear(false);
        }
        view()->setNeedsLayout();
    }
}

SplitDisplayMode SplitViewController::displayMode() const {
    if (preferredDisplayMode == SplitDisplayMode::AllVisible || preferredDisplayMode == SplitDisplayMode::PrimaryHidden)
        return preferredDisplayMode;
    Size s = isViewLoaded() ? viewIfLoaded()->bounds().size : Device::current().screen().bounds().size;
    return s.width > s.height ? SplitDisplayMode::AllVisible : SplitDisplayMode::PrimaryHidden;
}

double SplitViewController::primaryColumnWidth() const {
    return std::clamp(kDefaultPrimaryWidth, minimumPrimaryColumnWidth,
                      std::max(minimumPrimaryColumnWidth, maximumPrimaryColumnWidth));
}

std::vector<ViewController*> SplitViewController::appearanceChildren() const {
    std::vector<ViewController*> out;
    if (columns_.empty()) return out;
    if (collapsed_) return {columns_[0].get()};
    if (displayMode() == SplitDisplayMode::AllVisible || columns_.size() < 2) out.push_back(columns_[0].get());
    if (columns_.size() > 1) out.push_back(columns_[1].get());
    return out;
}

void SplitViewController::place(ViewController* child, const Rect& frame) {
    ViewPtr v = child->view();
    if (v->superview() != view().get()) view()->addSubview(v);
    v->setFrame(frame);
}

void SplitViewController::updateCollapse() {
    ViewPtr v = viewIfLoaded();
    TraitCollection t = v && v->window() ? v->traitCollection() : Device::current().screen().traits();
    bool compact = t.horizontal == SizeClass::Compact;
    if (configured_ && compact == collapsed_) return;
    configured_ = true;
    if (compact)
        collapse();
    else if (collapsed_)
        expand();
}

void SplitViewController::collapse() {
    collapsed_ = true;
    if (columns_.size() < 2) return;
    ViewControllerPtr primary = columns_[0], secondary = columns_[1];
    bool visible = appearanceState() == AppearanceState::Appeared;
    if (secondary->isViewLoaded() && secondary->view()->superview() == view().get()) {
        if (visible) secondary->forwardWillDisappear(false);
        secondary->view()->removeFromSuperview();
        if (visible) secondary->forwardDidDisappear(false);
    }
    if (auto d = delegate.lock(); d && d->collapseSecondaryOntoPrimary(*this, *secondary, *primary)) return;
    if (auto* nav = dynamic_cast<NavigationController*>(primary.get())) {
        secondary->removeFromParent();
        nav->pushViewController(secondary, false);
        merged_ = secondary;
    }
}

void SplitViewController::expand() {
    collapsed_ = false;
    if (columns_.empty()) return;
    ViewControllerPtr primary = columns_[0];
    ViewControllerPtr secondary;
    if (auto d = delegate.lock()) secondary = d->separateSecondaryFromPrimary(*this, *primary);
    auto* nav = dynamic_cast<NavigationController*>(primary.get());
    if (!secondary && merged_ && nav) {
        const auto& stack = nav->viewControllers();
        auto it = std::find(stack.begin(), stack.end(), merged_);
        if (it != stack.end() && it != stack.begin()) {
            // Everything the user pushed on top of the detail goes with it.
            nav->popToViewController((it - 1)->get(), false);
            secondary = merged_;
        }
    }
    merged_.reset();
    if (!secondary && columns_.size() > 1) secondary = columns_[1];
    if (!secondary) return;
    if (columns_.size() > 1 && columns_[1] != secondary) columns_[1]->removeFromParent();
    if (columns_.size() > 1)
        columns_[1] = secondary;
    else
        columns_.push_back(secondary);
    addChild(secondary);
    bool visible = appearanceState() == AppearanceState::Appeared;
    if (visible) secondary->forwardWillAppear(false);
    place(secondary.get(), view()->bounds());
    if (visible) secondary->forwardDidAppear(false);
}

void SplitViewController::showDetailViewController(const ViewControllerPtr& controller) {
    TK_MAIN_THREAD("showDetailViewController");
    if (!controller) return;
    if (collapsed_) {
        if (auto* nav = columns_.empty() ? nullptr : dynamic_cast<NavigationController*>(columns_[0].get())) {
            nav->pushViewController(controller, true);
            merged_ = controller;
        } else {
            present(controller, true);
        }
        return;
    }
    std::vector<ViewControllerPtr> next = columns_;
    if (next.size() > 1)
        next[1] = controller;
    else
        next.push_back(controller);
    bool visible = appearanceState() == AppearanceState::Appeared;
    if (columns_.size() > 1) {
        ViewControllerPtr old = columns_[1];
        if (visible) old->forwardWillDisappear(false);
        if (old->isViewLoaded()) old->view()->removeFromSuperview();
        if (visible) old->forwardDidDisappear(false);
        old->removeFromParent();
        columns_[1] = controller;
    } else {
        columns_.push_back(controller);
    }
    addChild(controller);
    if (visible) controller->forwardWillAppear(false);
    place(controller.get(), view()->bounds());
    view()->setNeedsLayout();
    if (visible) controller->forwardDidAppear(false);
}

void SplitViewController::viewDidLoad() {
    ViewController::viewDidLoad();
    updateCollapse();
    for (auto* c : appearanceChildren()) place(c, view()->bounds());
}

void SplitViewController::viewDidLayoutSubviews() {
    updateCollapse();
    Rect b = view()->bounds();
    if (columns_.empty()) return;
    if (collapsed_) {
        place(columns_[0].get(), b);
        return;
    }
    double pw = primaryColumnWidth();
    bool allVisible = displayMode() == SplitDisplayMode::AllVisible || columns_.size() < 2;
    if (allVisible) {
        place(columns_[0].get(), Rect(0, 0, columns_.size() < 2 ? b.width() : pw, b.height()));
    } else if (columns_[0]->isViewLoaded()) {
        columns_[0]->view()->removeFromSuperview();
    }
    if (columns_.size() > 1) {
        double x = allVisible ? pw : 0;
        place(columns_[1].get(), Rect(x, 0, b.width() - x, b.height()));
    }
}

void SplitViewController::traitCollectionDidChange(const TraitCollection& previous) {
    ViewController::traitCollectionDidChange(previous);
    if (isViewLoaded()) {
        updateCollapse();
        view()->setNeedsLayout();
    }
}

}  // namespace toolkit
