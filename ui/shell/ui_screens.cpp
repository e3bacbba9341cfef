#include "ui/shell/ui_screens.h"

#include "ui/help/vc_progress.h"
#include "ui/shell/split_view_master.h"

std::shared_ptr<HXSplitViewMaster> HXUIScreens::makeSplitViewMaster(HX_ConnectAppDelegate_iPad& app) {
    return std::make_shared<VC_SplitView_Master>(app);
}

std::shared_ptr<toolkit::ViewController> HXUIScreens::makeProgressScreen(const std::string& statusText) {
    return std::make_shared<VC_Progress>(statusText);
}
