// The loading overlay: a spinner over the screen with a line of status text, shown by the
// application object while a longer request runs.
#pragma once

#include <memory>
#include <string>

#include "platform/toolkit/controls.h"
#include "platform/toolkit/view_controller.h"

class VC_Progress : public toolkit::ViewController {
public:
    explicit VC_Progress(std::string statusText = {});
    std::string className() const override { return "VC_Progress"; }

    // Both live in the view (held weakly, as the view owns them).
    std::shared_ptr<toolkit::ActivityIndicatorView> activityView() const { return activityView_.lock(); }
    std::shared_ptr<toolkit::Label> statusText() const { return statusText_.lock(); }

    void loadView() override;
    void viewDidLoad() override;
    void viewDidDisappear(bool animated) override;

private:
    std::string initialText_;
    std::weak_ptr<toolkit::ActivityIndicatorView> activityView_;
    std::weak_ptr<toolkit::Label> statusText_;
};
