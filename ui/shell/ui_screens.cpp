#include "ui/shell/ui_screens.h"

#include "app/connect_app_delegate.h"
#include "ui/help/vc_progress.h"
#include "ui/shell/split_view_master.h"
#include "ui/signin/login_panel.h"

std::shared_ptr<toolkit::ViewController> HXUIScreens::makeLoginPanel(HX_ConnectAppDelegate& app) {
    return std::make_shared<VC_LoginPanel>(
        std::dynamic_pointer_cast<HX_ConnectAppDelegate>(app.weakWebClient().lock()));
}

bool HXUIScreens::presentLoginPanelInPopover(const std::shared_ptr<toolkit::ViewController>& panel,
                                             toolkit::ViewController& master,
                                             const std::shared_ptr<toolkit::BarButtonItem>& anchor) {
    return ::presentLoginPanelInPopover(panel, master, anchor) != nullptr;
}

std::shared_ptr<HXSplitViewMaster> HXUIScreens::makeSplitViewMaster(HX_ConnectAppDelegate_iPad& app) {
    return std::make_shared<VC_SplitView_Master>(app);
}

std::shared_ptr<toolkit::ViewController> HXUIScreens::makeProgressScreen(const std::string& statusText) {
    return std::make_shared<VC_Progress>(statusText);
}
