#include "ui/shell/ui_screens.h"

#include "ui/help/vc_progress.h"

std::shared_ptr<toolkit::ViewController> HXUIScreens::makeProgressScreen(const std::string& statusText) {
    return std::make_shared<VC_Progress>(statusText);
}
