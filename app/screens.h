// The screens the shell presents but does not define. They live in the screen library above the
// shell (ui/), which the program hands to the application object before the launch; the shell's
// own tests run without it, and then each maker answers nullptr and the shell falls back to its
// recorded stand-in or a placeholder.
#pragma once

#include <memory>
#include <string>

namespace toolkit {
class BarButtonItem;
class ViewController;
}  // namespace toolkit

class HX_ConnectAppDelegate;
class HX_ConnectAppDelegate_iPad;
class HXSplitViewMaster;

class HXScreens {
public:
    virtual ~HXScreens() = default;

    // The web sign-in panel, for the phone (full screen) or the tablet (popover) form.
    virtual std::shared_ptr<toolkit::ViewController> makeLoginPanel(HX_ConnectAppDelegate& app) {
        (void)app;
        return nullptr;
    }
    // The tablet form's presentation of a panel made above: from the master list, over what it
    // presents or as a popover at anchor; false when nothing was presented.
    virtual bool presentLoginPanelInPopover(const std::shared_ptr<toolkit::ViewController>& panel,
                                            toolkit::ViewController& master,
                                            const std::shared_ptr<toolkit::BarButtonItem>& anchor) {
        (void)panel, (void)master, (void)anchor;
        return false;
    }
    // The tablet's master list (the split view's fixed column).
    virtual std::shared_ptr<HXSplitViewMaster> makeSplitViewMaster(HX_ConnectAppDelegate_iPad& app) {
        (void)app;
        return nullptr;
    }
    // The loading overlay with its status text.
    virtual std::shared_ptr<toolkit::ViewController> makeProgressScreen(const std::string& statusText) {
        (void)statusText;
        return nullptr;
    }
};
