#include "ui/help/vc_legal.h"

#include "platform/services/url_opener.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/traits.h"
#include "platform/toolkit/window.h"
#include "ui/help/help_pages.h"

VC_Legal::VC_Legal() = default;

VC_Legal::~VC_Legal() {
    if (webView_) webView_->navigationDelegate.reset();
}

void VC_Legal::loadView() {
    const auto& device = toolkit::Device::current();
    webView_ = HXHelpPages::makePageView(std::dynamic_pointer_cast<VC_Legal>(selfPtr()));
    setTitle("Legal");
    const auto paper = toolkit::Color::rgb(0.855, 0.851, 0.875, 1.0);
    webView_->setBackgroundColor(
        device.systemVersionAtLeast(13) ? toolkit::Color::dynamic(paper, toolkit::Color::black()) : paper);
    setView(webView_);
    const bool pad = iPad;
    const int system = device.systemVersion();
    HXHelpPages::loadPage(*webView_, "legal", [pad, system](std::string page) {
        return HXHelpPages::fillLegalTemplate(std::move(page), pad, system);
    });
}

void VC_Legal::updatePreferredContentSize() {
    double height = toolkit::Device::current().screen().bounds().size.height;
    if (auto* window = view()->window()) height = window->frame().size.height;
    setPreferredContentSize({320.0, height});
    if (auto* nav = navigationController(); nav && iPad) nav->setPreferredContentSize(preferredContentSize());
}

void VC_Legal::viewWillAppear(bool animated) {
    ViewController::viewWillAppear(animated);
    // The platform's own bar look again after the help screen's opaque black one.
    if (auto* nav = navigationController()) {
        auto& bar = nav->navigationBar();
        bar.setTranslucent(true);
        bar.setBarStyle(toolkit::BarStyle::Default);
        bar.setBarTintColor(std::nullopt);
    }
    updatePreferredContentSize();
}

void VC_Legal::viewWillTransitionToSize(toolkit::Size size, toolkit::TransitionCoordinator* coordinator) {
    ViewController::viewWillTransitionToSize(size, coordinator);
    if (!iPad) return;
    std::weak_ptr<VC_Legal> weak = std::dynamic_pointer_cast<VC_Legal>(selfPtr());
    auto update = [weak](toolkit::TransitionCoordinator&) {
        if (auto self = weak.lock()) self->updatePreferredContentSize();
    };
    if (coordinator)
        coordinator->animateAlongsideTransition(update, {});
    else
        updatePreferredContentSize();
}

void VC_Legal::decidePolicyForNavigationAction(web::WebView&, const web::NavigationAction& action,
                                               const std::function<void(web::NavigationPolicy)>& decisionHandler) {
    if (action.type != web::NavigationType::LinkActivated) {
        decisionHandler(web::NavigationPolicy::Allow);
        return;
    }
    decisionHandler(web::NavigationPolicy::Cancel);
    services::URLOpener::shared()->openURL(action.request.url());
    // On the phone the app is left, and the help it was reached from goes with it.
    if (!toolkit::Device::current().isPad()) HXHelpPages::dismissFromPage(*this);
}
