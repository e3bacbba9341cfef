// The legal page: the bundle's legal notices, with the parts for the other device kind and for
// older system versions hidden. Links leave the app.
#pragma once

#include <memory>
#include <string>

#include "platform/toolkit/view_controller.h"
#include "platform/web/web_view.h"

class VC_Legal : public toolkit::ViewController, public web::NavigationDelegate {
public:
    VC_Legal();
    ~VC_Legal() override;
    std::string className() const override { return "VC_Legal"; }

    // Set by the help screen before it pushes this screen.
    bool iPad = false;
    std::shared_ptr<web::WebView> webView() const { return webView_; }

    void loadView() override;
    void viewWillAppear(bool animated) override;
    void viewWillTransitionToSize(toolkit::Size size, toolkit::TransitionCoordinator* coordinator) override;

    void decidePolicyForNavigationAction(web::WebView& view, const web::NavigationAction& action,
                                         const std::function<void(web::NavigationPolicy)>& decisionHandler) override;

private:
    // 320 points wide and as high as the window.
    void updatePreferredContentSize();
    std::shared_ptr<web::WebView> webView_;
};
