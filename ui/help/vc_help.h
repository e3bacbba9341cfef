// The help and about page: the bundle's help page filled in with the app icon, version, device
// and copyright, in a web view. Its links place a call, write a feedback mail, open the legal
// page or leave the app.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/roles/screen_roles.h"
#include "platform/mail/mail_compose_controller.h"
#include "platform/toolkit/bar_items.h"
#include "platform/toolkit/controls.h"
#include "platform/toolkit/view_controller.h"
#include "platform/web/web_view.h"

class VC_Help : public toolkit::ViewController, public web::NavigationDelegate, public mail::MailComposeDelegate {
public:
    // The routing role presents the composer on the tablet and tells the form; the settings role
    // gives the version; the conversation actions place the page's calls.
    struct Roles {
        std::weak_ptr<HXRoutingRole> routing;
        std::weak_ptr<HXSettingsRole> settings;
        std::weak_ptr<HXConversationActionsRole> conversations;
    };
    // The screens it opens, made by the screen library (ui/shell): the legal page, for the tablet
    // or the phone; an empty maker opens nothing.
    struct Makers {
        std::function<std::shared_ptr<toolkit::ViewController>(bool iPad)> legal;
    };
    VC_Help(Roles roles, Makers makers);
    ~VC_Help() override;
    std::string className() const override { return "VC_Help"; }

    std::shared_ptr<web::WebView> webView() const { return webView_; }
    std::shared_ptr<toolkit::ActivityIndicatorView> spinner() const { return spinner_; }
    const toolkit::BarButtonItemPtr& doneButton() const { return doneButton_; }

    void loadView() override;
    toolkit::StatusBarStyle preferredStatusBarStyle() const override { return toolkit::StatusBarStyle::LightContent; }
    void viewWillAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;
    void viewWillTransitionToSize(toolkit::Size size, toolkit::TransitionCoordinator* coordinator) override;

    // The Done button's action: the help goes (animated).
    using ViewController::dismiss;
    void dismiss();

    void decidePolicyForNavigationAction(web::WebView& view, const web::NavigationAction& action,
                                         const std::function<void(web::NavigationPolicy)>& decisionHandler) override;
    void didFinishNavigation(web::WebView& view) override;
    void mailComposeControllerDidFinish(mail::MailComposeViewController& controller, mail::MailComposeResult result,
                                        const std::optional<foundation::Error>& error) override;

private:
    void writeFeedback();
    void showLegal();
    bool iPad() const;
    bool isSplitViewCollapsed() const;
    std::string versionString() const;
    Roles roles_;
    Makers makers_;
    std::shared_ptr<web::WebView> webView_;
    std::shared_ptr<toolkit::ActivityIndicatorView> spinner_;
    toolkit::BarButtonItemPtr doneButton_;
    // The composer's delegate is this screen, which the tablet dismisses before the composer is
    // shown: it keeps itself until the composer has finished, or the composer would stay up.
    std::shared_ptr<VC_Help> composing_;
};
