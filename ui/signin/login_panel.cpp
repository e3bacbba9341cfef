#include "ui/signin/login_panel.h"

#include <cmath>

#include "model/account.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/user_defaults.h"
#include "platform/graphics/color.h"
#include "platform/net/url_request.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/presentation.h"
#include "platform/toolkit/traits.h"
#include "service/endpoints.h"
#include "service/http_extensions.h"
#include "ui/signin/login_scripts.h"

bool VC_LoginPanel::reSignIn_ = false;

namespace {

bool isLoginNavigation(const toolkit::ViewController* controller) {
    auto* nav = dynamic_cast<const toolkit::NavigationController*>(controller);
    return nav && !nav->viewControllers().empty() && nav->viewControllers().front()->className() == "VC_LoginPanel";
}

size_t storedAccounts() {
    auto infos = foundation::UserDefaults::standardUserDefaults()->dictionaryForKey("accountInfo");
    return infos ? infos->size() : 0;
}

}  // namespace

VC_LoginPanel::VC_LoginPanel(Roles roles) : roles_(std::move(roles)) {
    auto alerts = roles_.alerts.lock();
    reSignIn_ = alerts && alerts->account() && !alerts->account()->username().empty();
    setPreferredContentSize({kWidth, kHeight});
}

void VC_LoginPanel::isCreatingNewAccount() { reSignIn_ = false; }

std::string VC_LoginPanel::startURL() const {
    auto signIn = roles_.signIn.lock();
    HXEndpoints endpoints = signIn ? signIn->endpoints() : HXEndpoints{};
    const std::string w = endpoints.servicePageBase();
    foundation::Dictionary pairs{{"service", foundation::Value("grandcentral")},
                                 {"continue", foundation::Value(w)},
                                 {"followup", foundation::Value(w)},
                                 {"rip", foundation::Value("1")},
                                 {"ltmpl", foundation::Value("open")}};
    return endpoints.signIn + "/signin/identify?" +
           formatForHTTPUsingEncoding(pairs, StringEncoding::UTF8,
                                      std::vector<foundation::Key>{"service", "continue", "followup", "rip", "ltmpl"});
}

void VC_LoginPanel::loadView() {
    webView_ = std::make_shared<web::WebView>(toolkit::Device::current().screen().bounds());
    webView_->setContentMode(toolkit::ContentMode::ScaleToFill);
    webView_->navigationDelegate = std::static_pointer_cast<web::NavigationDelegate>(weakSelf<VC_LoginPanel>().lock());
    webView_->setOpaque(false);
    // White paper in light and black in dark, under the page's text in the label colour.
    webView_->setBackgroundColor(graphics::Color::systemBackground());
    webView_->setAutoresizingMask(toolkit::kFlexibleWidth | toolkit::kFlexibleHeight);
    setView(webView_);
    webView_->load(net::URLRequest(startURL()));

    auto weak = weakSelf<VC_LoginPanel>();
    cancelButton_ =
        toolkit::BarButtonItem::withSystemItem(toolkit::SystemItem::Cancel, [weak](toolkit::BarButtonItem&) {
            if (auto s = weak.lock()) s->dismiss();
        });
    updateCancelButton(false);
    edgesForExtendedLayout = 0;
}

void VC_LoginPanel::updateCancelButton(bool animated) {
    auto routing = roles_.routing.lock();
    const bool collapsed = !routing || !routing->iPad() || routing->isSplitViewCollapsed();
    if (collapsed && storedAccounts() >= 1)
        navigationItem().setRightBarButtonItem(cancelButton_, animated);
    else
        navigationItem().setRightBarButtonItem(nullptr, animated);
}

void VC_LoginPanel::viewWillAppear(bool animated) {
    ViewController::viewWillAppear(animated);
    if (auto* nav = navigationController()) {
        auto& bar = nav->navigationBar();
        bar.setBarStyle(toolkit::BarStyle::Default);
        bar.setTintColor(graphics::Color::systemBlue());
        bar.setTranslucent(false);
        auto routing = roles_.routing.lock();
        if (routing && routing->iPad()) nav->setPreferredContentSize(preferredContentSize());
    }
    setTitle(foundation::localizedString("HX Voice Login"));
}

void VC_LoginPanel::viewWillDisappear(bool animated) {
    if (webView_) {
        webView_->stopLoading();
        webView_->navigationDelegate.reset();
    }
    ViewController::viewWillDisappear(animated);
}

void VC_LoginPanel::viewWillTransitionToSize(toolkit::Size size, toolkit::TransitionCoordinator* coordinator) {
    ViewController::viewWillTransitionToSize(size, coordinator);
    auto routing = roles_.routing.lock();
    if (!routing || !routing->iPad()) return;
    auto weak = weakSelf<VC_LoginPanel>();
    auto update = [weak](toolkit::TransitionCoordinator&) {
        if (auto s = weak.lock()) s->updateCancelButton(true);
    };
    if (coordinator)
        coordinator->animateAlongsideTransition(update, nullptr);
    else
        updateCancelButton(true);
}

bool VC_LoginPanel::shownInPopover() const {
    const toolkit::ViewController* shown = navigationController();
    if (!shown) shown = this;
    return shown->presentingViewController() &&
           shown->presentationStyleInUse() == toolkit::ModalPresentationStyle::Popover;
}

void VC_LoginPanel::dismiss() {
    if (webView_) webView_->cookieStore().removeDataModifiedSince(0);
    auto weak = weakSelf<VC_LoginPanel>();
    dispatch::Queue::main()->async([weak] {
        auto s = weak.lock();
        if (!s) return;
        toolkit::ViewController* shown = s->navigationController();
        if (!shown) shown = s.get();
        if (shown->presentingViewController()) shown->presentingViewController()->dismiss(true);
    });
}

void VC_LoginPanel::decidePolicyForNavigationAction(web::WebView& view, const web::NavigationAction& action,
                                                    const std::function<void(web::NavigationPolicy)>& decisionHandler) {
    auto signIn = roles_.signIn.lock();
    const std::string w = signIn ? signIn->endpoints().servicePageBase() : std::string();
    const std::string url = action.request.url();
    auto weak = weakSelf<VC_LoginPanel>();
    // The decision waits for the form's fields: the name typed there is the new account's.
    view.evaluateJavaScript(signin::kFormReaderScript,
                            [weak, w, url, decisionHandler](foundation::Result<foundation::Value> fields) {
                                auto s = weak.lock();
                                if (!s) {
                                    decisionHandler(web::NavigationPolicy::Cancel);
                                    return;
                                }
                                if (fields.ok() && fields->isDictionary()) {
                                    const auto& dict = fields->asDictionary();
                                    if (const auto* email = dict.find(signin::kEmailField))
                                        s->set_username(email->stringValue());
                                    else if (const auto* identifier = dict.find(signin::kIdentifierField))
                                        s->set_username(identifier->stringValue());
                                }
                                if (!w.empty() && url.starts_with(w)) {
                                    decisionHandler(web::NavigationPolicy::Cancel);
                                    if (!s->_username().empty()) s->completeSignIn(url);
                                    return;
                                }
                                decisionHandler(web::NavigationPolicy::Allow);
                            });
}

void VC_LoginPanel::completeSignIn(const std::string& url) {
    auto signIn = roles_.signIn.lock();
    if (!signIn) return;
    signIn->completeWebSignIn(username_, webView_->cookieStore().allCookies(), url);
    // The session now lives in the account's jar; the web view keeps no copy of it.
    webView_->cookieStore().removeDataModifiedSince(0);
}

void VC_LoginPanel::didFinishNavigation(web::WebView& view) {
    view.evaluateJavaScript(signin::hideScript(signin::elementByIdScript(signin::kSignUpLinkId)), nullptr);
    view.evaluateJavaScript(signin::kHideCreateAccountScript, nullptr);
    auto weak = weakSelf<VC_LoginPanel>();
    view.evaluateJavaScript(signin::kFormReaderScript, [weak](foundation::Result<foundation::Value> fields) {
        auto s = weak.lock();
        if (!s || !s->webView_ || !fields.ok() || !fields->isDictionary()) return;
        if (!fields->asDictionary().find(signin::kEmailField) || !reSignIn_) return;
        auto alerts = s->roles_.alerts.lock();
        const std::string name = alerts && alerts->account() ? alerts->account()->username() : std::string();
        s->webView_->evaluateJavaScript(signin::fillScript(signin::elementByIdScript(signin::kEmailField), name),
                                        nullptr);
        reSignIn_ = false;
    });
    if (!shownInPopover()) return;
    view.evaluateJavaScript(signin::kPageHeightScript, [weak](foundation::Result<foundation::Value> height) {
        auto s = weak.lock();
        if (!s || !height.ok() || !height->isNumber()) return;
        // The popover holds the bar and, below it, the whole page (to its last line); a height
        // that is not a number keeps the size the popover has.
        const double page = height->doubleValue();
        if (!std::isfinite(page) || page <= 0) return;
        toolkit::NavigationController* nav = s->navigationController();
        const double bar = nav && !nav->isNavigationBarHidden() ? toolkit::NavigationBar::kHeight : 0;
        toolkit::ViewController* shown = nav ? static_cast<toolkit::ViewController*>(nav) : s.get();
        shown->setPreferredContentSize({kWidth, page + bar});
    });
}

namespace {
// Presentations are made by the root of a containment, so that is where they are found.
const toolkit::ViewController& containmentRoot(const toolkit::ViewController& controller) {
    const toolkit::ViewController* root = &controller;
    while (root->parent()) root = root->parent();
    return *root;
}
}  // namespace

bool presentsLoginPanel(const toolkit::ViewController& presenter) {
    const toolkit::ViewController* presented = containmentRoot(presenter).presentedViewController();
    if (!presented) return false;
    return isLoginNavigation(presented) || isLoginNavigation(presented->presentedViewController());
}

std::shared_ptr<toolkit::NavigationController>
presentLoginPanelInPopover(const std::shared_ptr<toolkit::ViewController>& panel, toolkit::ViewController& master,
                           const std::shared_ptr<toolkit::BarButtonItem>& anchor) {
    if (!panel || presentsLoginPanel(master)) return nullptr;
    auto nav = std::make_shared<toolkit::NavigationController>(panel);
    nav->isModalInPresentation = true;
    if (toolkit::ViewController* shown = containmentRoot(master).presentedViewController()) {
        nav->modalPresentationStyle = toolkit::ModalPresentationStyle::CurrentContext;
        shown->present(nav, true);
    } else {
        nav->modalPresentationStyle = toolkit::ModalPresentationStyle::Popover;
        if (auto* popover = nav->popoverPresentationController()) {
            popover->barButtonItem = anchor;
            popover->permittedArrowDirections = toolkit::kArrowUp;
        }
        master.present(nav, true);
    }
    return nav->presentingViewController() ? nav : nullptr;
}
