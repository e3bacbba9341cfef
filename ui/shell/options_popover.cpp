#include "ui/shell/options_popover.h"

#include "ui/widgets/hxc_popover_view.h"

namespace {

// Kept by its popover for as long as the popover lives (the popover's delegate is weak, and the
// shell may let go of the handle): it goes with the popover, also when the popover's window goes
// without a dismissal.
class ShellPopover : public HXOptionsPopover,
                     public HXCPopoverViewDelegate,
                     public std::enable_shared_from_this<ShellPopover> {
public:
    explicit ShellPopover(std::weak_ptr<HXOptionsPopoverDelegate> delegate) : delegate_(std::move(delegate)) {}

    bool show(graphics::Point point, toolkit::View& view, const std::vector<std::string>& strings) {
        auto popover = HXCPopoverView::showPopoverWithStrings(point, view, strings, weak_from_this());
        if (!popover) return false;
        popover->keepWhileShown(shared_from_this());
        popover_ = popover;
        return true;
    }
    void dismiss(bool animated) override {
        if (auto p = popover_.lock()) p->dismiss(animated);
    }
    void popoverViewDidSelectItemAtIndex(HXCPopoverView&, long index) override {
        auto keep = shared_from_this();
        if (auto d = delegate_.lock()) d->popoverViewDidSelectItemAtIndex(*this, index);
    }
    bool respondsToLongPress() const override { return true; }
    void popoverViewLongPressForItemAtIndex(HXCPopoverView&, long index) override {
        auto keep = shared_from_this();
        if (auto d = delegate_.lock()) d->popoverViewLongPressForItemAtIndex(*this, index);
    }
    void popoverViewDidDismiss(HXCPopoverView&) override {
        if (auto d = delegate_.lock()) d->popoverViewDidDismiss(*this);
    }

private:
    std::weak_ptr<HXOptionsPopoverDelegate> delegate_;
    std::weak_ptr<HXCPopoverView> popover_;
};

}  // namespace

std::shared_ptr<HXOptionsPopover> showOptionsPopover(graphics::Point point, toolkit::View& view,
                                                     const std::vector<std::string>& strings,
                                                     std::weak_ptr<HXOptionsPopoverDelegate> delegate) {
    auto popover = std::make_shared<ShellPopover>(std::move(delegate));
    return popover->show(point, view, strings) ? popover : nullptr;
}
