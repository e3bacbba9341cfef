// The web sign-in panel: the provider's own sign-in page in a web view. The app never sees the
// password: it reads the account name from the page's form, waits until the sign-in sends the
// page to the service's web page, then takes the web view's cookies as the new account's jar and
// hands over to the ClientAuth step, which takes the session token out of that page.
#pragma once

#include <memory>
#include <string>

#include "app/roles/screen_roles.h"
#include "platform/toolkit/bar_items.h"
#include "platform/toolkit/view_controller.h"
#include "platform/web/web_view.h"

namespace toolkit {
class NavigationController;
}

class VC_LoginPanel : public toolkit::ViewController, public web::NavigationDelegate {
public:
    static constexpr double kWidth = 320;
    static constexpr double kHeight = 496;

    // init: the next form page with an "Email" field is filled with the current account's name
    // when there is one (a re-sign-in of that account).
    // The sign-in role hands over the finished sign-in; the routing role tells the device form.
    struct Roles {
        std::weak_ptr<HXSignInRole> signIn;
        std::weak_ptr<HXRoutingRole> routing;
        std::weak_ptr<HXAlertsRole> alerts;
    };
    explicit VC_LoginPanel(Roles roles);
    std::string className() const override { return "VC_LoginPanel"; }

    // Opened to add another account: the form is not filled.
    void isCreatingNewAccount();
    static bool reSignInPending() { return reSignIn_; }

    std::shared_ptr<toolkit::BarButtonItem> _cancelButton() const { return cancelButton_; }
    void set_cancelButton(std::shared_ptr<toolkit::BarButtonItem> button) { cancelButton_ = std::move(button); }
    const std::string& _username() const { return username_; }
    void set_username(std::string username) { username_ = std::move(username); }

    // The first page: the sign-in host's identify page that continues to the service page base.
    std::string startURL() const;
    web::WebView* webView() const { return webView_.get(); }

    void loadView() override;
    void viewWillAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;
    void viewWillTransitionToSize(toolkit::Size size, toolkit::TransitionCoordinator* coordinator) override;
    toolkit::StatusBarStyle preferredStatusBarStyle() const override { return toolkit::StatusBarStyle::Default; }

    // The Cancel action: the web view's cookies are removed, then the panel goes.
    void dismiss();

    // ---- the web view's navigation delegate
    void decidePolicyForNavigationAction(web::WebView& view, const web::NavigationAction& action,
                                         const std::function<void(web::NavigationPolicy)>& decisionHandler) override;
    void didFinishNavigation(web::WebView& view) override;

private:
    void completeSignIn(const std::string& url);
    void updateCancelButton(bool animated);
    bool shownInPopover() const;

    static bool reSignIn_;
    Roles roles_;
    std::shared_ptr<web::WebView> webView_;
    std::shared_ptr<toolkit::BarButtonItem> cancelButton_;
    std::string username_;
};

// True when presenter presents a navigation controller whose first screen is the sign-in panel,
// or the controller it presents presents one.
bool presentsLoginPanel(const toolkit::ViewController& presenter);

// The tablet form's presentation of a panel made by HXScreens::makeLoginPanel, from the master
// list's controller: wrapped in a navigation controller that is modal in its popover, shown over
// what the master list presents (in its current context) when it presents something, else as a
// popover anchored at anchor (the master list's right bar button), arrow up. Nothing happens when
// the master list already shows a sign-in panel. Answers the navigation controller presented.
std::shared_ptr<toolkit::NavigationController>
presentLoginPanelInPopover(const std::shared_ptr<toolkit::ViewController>& panel, toolkit::ViewController& master,
                           const std::shared_ptr<toolkit::BarButtonItem>& anchor);
