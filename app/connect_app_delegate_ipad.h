// The tablet form of the application object: a split view whose fixed master column lists the
// views SMS, voicemail, history and settings, and whose detail column shows the chosen one. The
// dial pad, the sign-in panel and the other small screens open as popovers from the master list.
#pragma once

#include <array>
#include <memory>
#include <optional>

#include "app/connect_app_delegate.h"
#include "app/views.h"
#include "platform/foundation/value.h"

namespace toolkit {
class NavigationController;
class SplitViewController;
}  // namespace toolkit

// The note editor's unsaved text between its popovers, the tablet's own (the note draft the editor
// takes); dropped on a memory warning.
class HXPopoverNoteDraft final : public HXNoteDraftRole {
public:
    std::optional<foundation::Dictionary> popoverCache() const override { return draft_; }
    void setPopoverCache(const foundation::Dictionary& cache) override { draft_ = cache; }
    void drop() { draft_.reset(); }

private:
    std::optional<foundation::Dictionary> draft_;
};

// The tablet form routes through its split view itself, so it answers its master list's split-view
// questions itself too (HXSplitViewRole): no role stands between them.
class HX_ConnectAppDelegate_iPad : public HX_ConnectAppDelegate, public HXSplitViewRole {
public:
    HX_ConnectAppDelegate_iPad();
    ~HX_ConnectAppDelegate_iPad() override;

    static constexpr int kViewCount = kHXViewCount;
    static constexpr double kMasterColumnWidth = kHXMasterColumnWidth;

    const std::shared_ptr<toolkit::SplitViewController>& splitViewController() const { return splitViewController_; }
    // The master list; none when the program gave no screen library (the master column is then a
    // placeholder and routing shows the details directly).
    const std::shared_ptr<HXSplitViewMaster>& masterList() const { return masterList_; }
    void refreshMasterList() override {
        if (masterList_) masterList_->refreshTable();
    }
    // The detail navigation controller of a view type (0 to 4), made on first request; none
    // outside 0 to 4.
    std::shared_ptr<toolkit::NavigationController> viewControllerForViewType(int type) override;
    // Whether the detail column shows the view type's navigation controller now.
    bool isDetailShown(int type) const override;
    // Shows the view type's navigation controller as the detail unless it is shown already.
    void showDetailForViewType(int type) override;
    // The unread counts the master list's first two rows show.
    long long unreadSMSCount() const override { return unreadSMSCount_; }
    long long unreadVMCount() const override { return unreadVMCount_; }
    // Unsaved text the note editor keeps between its popovers.
    HXPopoverNoteDraft noteDraft;
    // The mail composer, as a form sheet over the split view.
    using HX_ConnectAppDelegate::presentMailController;
    void presentMailController(const std::shared_ptr<toolkit::ViewController>& composer) override;

    // The base form's roles, the split view's and the note draft.
    HXScreenRoles screenRoles() override;
    void setupInterface() override;
    int currentViewIndex() override;
    void selectViewForIndex(int index) override;
    std::shared_ptr<toolkit::ViewController> viewControllerForIndex(int index) override;
    void setUnreadCount(int64_t count, int forViewIndex) override;
    bool isSplitViewCollapsed() override;
    void setFirstResponder() override;
    void displayLogin() override;
    void closeLoginPanel() override;
    void applicationDidReceiveMemoryWarning() override;
    void dismissPopoverAnimated(bool animated) override;
    void showCallPopup() override;

protected:
    toolkit::ViewController* signInOverlayHost() override;

private:
    std::shared_ptr<toolkit::SplitViewController> splitViewController_;
    std::shared_ptr<HXSplitViewMaster> masterList_;
    std::array<std::shared_ptr<toolkit::NavigationController>, kViewCount> detailVCs_{};
    std::array<std::shared_ptr<toolkit::ViewController>, kViewCount> rootScreens_{};
    long long unreadSMSCount_ = 0;
    long long unreadVMCount_ = 0;
    // Without a sign-in panel to present, the request is recorded once while it would be up.
    bool loginStandInShown_ = false;
};
