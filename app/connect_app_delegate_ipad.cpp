#include "app/connect_app_delegate_ipad.h"

#include "app/shell_roles.h"

#include "platform/dispatch/dispatch.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/user_defaults.h"
#include "platform/graphics/color.h"
#include "platform/graphics/hxc_font.h"
#include "platform/services/device.h"
#include "platform/toolkit/alert_controller.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/split_view_controller.h"
#include "platform/toolkit/window.h"

namespace {

bool isLoginPanelNavigation(const toolkit::ViewController* vc) {
    auto* nav = dynamic_cast<const toolkit::NavigationController*>(vc);
    return nav && !nav->viewControllers().empty() && nav->viewControllers().front()->className() == "VC_LoginPanel";
}

bool validViewType(int type) { return type >= 0 && type < HX_ConnectAppDelegate_iPad::kViewCount; }

}  // namespace

HX_ConnectAppDelegate_iPad::HX_ConnectAppDelegate_iPad()
    : splitViewController_(std::make_shared<toolkit::SplitViewController>()) {
    setIPad(true);
}

HX_ConnectAppDelegate_iPad::~HX_ConnectAppDelegate_iPad() {
    // The window may outlive the application object and keep the list: it stops listening here.
    if (masterList_) foundation::NotificationCenter::defaultCenter().removeObserver(masterList_.get());
}

void HX_ConnectAppDelegate_iPad::setupInterface() {
    // The message fonts are larger on the tablet.
    graphics::HXCFont::setIPad(true);
    graphics::HXCFont::clearFontCache();
    auto& split = *splitViewController_;
    split.preferredDisplayMode = toolkit::SplitDisplayMode::AllVisible;
    split.minimumPrimaryColumnWidth = kMasterColumnWidth;
    split.maximumPrimaryColumnWidth = kMasterColumnWidth;
    split.presentsWithGesture = false;
    masterList_ = screens().makeSplitViewMaster(screenRoles());
    toolkit::ViewControllerPtr master = masterList_;
    if (!master) master = std::make_shared<HXPlaceholderScreen>("VC_SplitView_Master");
    split.setViewControllers({std::make_shared<toolkit::NavigationController>(master)});
    if (auto* w = window()) {
        w->setBackgroundColor(graphics::Color::black());
        w->setRootViewController(splitViewController_);
        w->makeKeyAndVisible();
    }
    for (int type = 0; type < kViewCount; ++type) {
        auto nav = viewControllerForViewType(type);
        rootScreens_[type] = nav->viewControllers().front();
    }
    // The master list holds the keyboard from the start, so its key commands work before any
    // screen has handed it back.
    if (!toolkit::firstResponder()) setFirstResponder();
}

HXScreenRoles HX_ConnectAppDelegate_iPad::screenRoles() {
    auto roles = HX_ConnectAppDelegate::screenRoles();
    if (auto self = weakWebClient().lock()) {
        roles.splitView = std::shared_ptr<HXSplitViewRole>(self, static_cast<HXSplitViewRole*>(this));
        roles.noteDraft = std::shared_ptr<HXNoteDraftRole>(self, &noteDraft);
    }
    return roles;
}

std::shared_ptr<toolkit::NavigationController> HX_ConnectAppDelegate_iPad::viewControllerForViewType(int type) {
    if (!validViewType(type)) return nullptr;
    auto& nav = detailVCs_[type];
    if (nav) return nav;
    nav = std::make_shared<toolkit::NavigationController>(makeRootScreen(type));
    if (type == 0) {
        // The dial pad is only ever a popover of its own size.
        nav->setPreferredContentSize({320, 411});
        nav->navigationBar().setTranslucent(true);
    }
    return nav;
}

std::shared_ptr<toolkit::ViewController> HX_ConnectAppDelegate_iPad::viewControllerForIndex(int index) {
    return validViewType(index) ? rootScreens_[index] : nullptr;
}

bool HX_ConnectAppDelegate_iPad::isDetailShown(int type) const {
    if (!validViewType(type) || !detailVCs_[type]) return false;
    const auto& columns = splitViewController_->viewControllers();
    return !columns.empty() && columns.back() == detailVCs_[type];
}

void HX_ConnectAppDelegate_iPad::showDetailForViewType(int type) {
    if (type < 1 || type >= kViewCount || isDetailShown(type)) return;
    splitViewController_->showDetailViewController(viewControllerForViewType(type));
}

int HX_ConnectAppDelegate_iPad::currentViewIndex() {
    const auto stored = foundation::UserDefaults::standardUserDefaults()->integerForKey("tabBarIndex");
    return stored >= 1 && stored <= 4 ? static_cast<int>(stored) : 4;
}

void HX_ConnectAppDelegate_iPad::selectViewForIndex(int index) {
    // The dial pad is a popover here and has no row: an index outside the four rows would select
    // a row that does not exist.
    if (index < 1 || index >= kViewCount) return;
    if (splitViewController_->viewControllers().empty()) return;
    // The stored index is the current view, so the list's selection and key commands follow a
    // view chosen by an entry point too, not only one tapped in the list.
    foundation::UserDefaults::standardUserDefaults()->setInteger(index, "tabBarIndex");
    if (masterList_)
        masterList_->selectRow(index);
    else
        showDetailForViewType(index);
}

void HX_ConnectAppDelegate_iPad::setUnreadCount(int64_t count, int forViewIndex) {
    if (forViewIndex != 1 && forViewIndex != 2) return;
    // Callers may be on any thread; the list belongs to the main thread.
    dispatch::Queue::main()->async([weak = weakSelf<HX_ConnectAppDelegate_iPad>(), count, forViewIndex] {
        auto self = weak.lock();
        if (!self) return;
        (forViewIndex == 1 ? self->unreadSMSCount_ : self->unreadVMCount_) = count > 0 ? count : 0;
        if (self->masterList_) self->masterList_->refreshTable();
        const auto type = foundation::UserDefaults::standardUserDefaults()->integerForKey("badgeType");
        services::AppBadge::shared().setBadgeNumber(hxAppIconBadge(self->unreadSMSCount_, self->unreadVMCount_, type));
    });
}

bool HX_ConnectAppDelegate_iPad::isSplitViewCollapsed() { return splitViewController_->isCollapsed(); }

void HX_ConnectAppDelegate_iPad::setFirstResponder() {
    if (masterList_)
        masterList_->becomeFirstResponder();
    else
        HX_ConnectAppDelegate::setFirstResponder();
}

toolkit::ViewController* HX_ConnectAppDelegate_iPad::signInOverlayHost() {
    // Over what the master list's presentation presents, else over that presentation; with
    // nothing presented there is no overlay (the split view, collapsed or not, stays free). The
    // list's presentations are the split view's, which presents for its columns.
    auto* presented = splitViewController_ ? splitViewController_->presentedViewController() : nullptr;
    if (!presented) return nullptr;
    auto* inner = presented->presentedViewController();
    return inner && !dynamic_cast<toolkit::AlertController*>(inner) ? inner : presented;
}

void HX_ConnectAppDelegate_iPad::displayLogin() {
    auto panel = screens().makeLoginPanel(screenRoles());
    auto* presented = splitViewController_->presentedViewController();
    if (presented) removeLoadingOverlay();
    if (!panel || !masterList_) {
        // The sign-in panel is its own screen; until it exists the base form records that it
        // was asked for, once while it would be up.
        if (loginStandInShown_) return;
        HX_ConnectAppDelegate::displayLogin();
        loginStandInShown_ = true;
        return;
    }
    if (isLoginPanelNavigation(presented) ||
        (presented && isLoginPanelNavigation(presented->presentedViewController())))
        return;
    HX_ConnectAppDelegate::displayLogin();
    // The panel's screen library presents it: over what the list presents, in its context, or as
    // a popover from the list's right bar button.
    screens().presentLoginPanelInPopover(panel, *masterList_, masterList_->navigationItem().rightBarButtonItem());
}

void HX_ConnectAppDelegate_iPad::closeLoginPanel() {
    HX_ConnectAppDelegate::closeLoginPanel();
    loginStandInShown_ = false;
    removeLoadingOverlay();
    // The panel is what the master list presents, or what that presents in its context: the
    // inner one goes at once, then the outer one, animated.
    auto* presented = splitViewController_->presentedViewController();
    if (!presented) return;
    if (presented->presentedViewController()) presented->dismiss(false);
    splitViewController_->dismiss(true);
    // The panel's fields took the keyboard with them.
    setFirstResponder();
}

void HX_ConnectAppDelegate_iPad::presentMailController(const std::shared_ptr<toolkit::ViewController>& composer) {
    if (!composer) return;
    composer->modalPresentationStyle = toolkit::ModalPresentationStyle::FormSheet;
    splitViewController_->present(composer, true);
}

void HX_ConnectAppDelegate_iPad::applicationDidReceiveMemoryWarning() {
    noteDraft.drop();
    HX_ConnectAppDelegate::applicationDidReceiveMemoryWarning();
}

void HX_ConnectAppDelegate_iPad::dismissPopoverAnimated(bool animated) {
    // What the master list presents is presented by the window's root, the split view.
    if (splitViewController_->presentedViewController()) splitViewController_->dismiss(animated);
}

void HX_ConnectAppDelegate_iPad::showCallPopup() {
    if (masterList_)
        masterList_->showCallPopup();
    else
        HX_ConnectAppDelegate::showCallPopup();
}
