#include "ui/help/vc_help.h"

#include <cctype>

#include "platform/services/url_opener.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/traits.h"
#include "ui/help/help_pages.h"
#include "ui/widgets/device_hardware.h"

namespace {
constexpr const char* kPageHeightScript = "document.body.scrollHeight - document.body.style.marginBottom";

std::string schemeOf(const std::string& url) {
    size_t colon = url.find(':');
    if (colon == std::string::npos) return {};
    std::string scheme = url.substr(0, colon);
    for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return scheme;
}
}  // namespace

VC_Help::VC_Help(Roles roles, Makers makers) : roles_(std::move(roles)), makers_(std::move(makers)) {
    setPreferredContentSize({320.0, 588.0});
}

bool VC_Help::iPad() const {
    auto routing = roles_.routing.lock();
    return routing && routing->iPad();
}

bool VC_Help::isSplitViewCollapsed() const {
    auto routing = roles_.routing.lock();
    return !routing || routing->isSplitViewCollapsed();
}

std::string VC_Help::versionString() const {
    auto settings = roles_.settings.lock();
    return settings ? settings->versionString() : std::string();
}

VC_Help::~VC_Help() {
    if (webView_) webView_->navigationDelegate.reset();
}

void VC_Help::loadView() {
    const auto& device = toolkit::Device::current();
    webView_ = HXHelpPages::makePageView(weakSelf<VC_Help>().lock());
    webView_->setBackgroundColor(toolkit::Color::black());
    webView_->setContentMode(toolkit::ContentMode::ScaleToFill);
    // The page lays out no colours of its own: its paper is the scroll view's background, white in
    // light and black in dark under the label colour's text, so the black of the view shows only
    // where the page ends.
    webView_->scrollView().setBackgroundColor(toolkit::Color::systemBackground());
    setView(webView_);
    // Up before the page starts loading, whose end stops it.
    spinner_ = std::make_shared<toolkit::ActivityIndicatorView>(toolkit::ActivityIndicatorStyle::WhiteLarge);
    spinner_->setHidesWhenStopped(true);
    spinner_->setFrame({{0, 0}, {37, 37}});
    spinner_->setCenter({iPad() ? 160.0 : webView_->center().x, 170.0});
    webView_->addSubview(spinner_);
    spinner_->startAnimating();
    HXHelpPages::loadPage(*webView_, "index", [version = versionString(), &device](std::string page) {
        HXHelpPages::HelpValues values;
        values.iconBase64 = HXHelpPages::helpIconBase64();
        values.version = version;
        values.hardwareIdentifier = DeviceHardware::platform();
        values.systemVersion = HXHelpPages::systemVersionText(device.systemVersion());
        values.copyright = HXHelpPages::bundleCopyright();
        return HXHelpPages::fillHelpTemplate(std::move(page), values);
    });

    auto weak = weakSelf<VC_Help>();
    doneButton_ = toolkit::BarButtonItem::withSystemItem(toolkit::SystemItem::Done, [weak](toolkit::BarButtonItem&) {
        if (auto self = weak.lock()) self->dismiss();
    });
    if (isSplitViewCollapsed()) navigationItem().setRightBarButtonItem(doneButton_, true);

    edgesForExtendedLayout = 0;
    if (auto* nav = navigationController()) {
        auto& bar = nav->navigationBar();
        bar.setBarStyle(toolkit::BarStyle::Black);
        bar.setTintColor(toolkit::Color::whiteColor());
        if (device.systemVersionAtLeast(13)) bar.setBarTintColor(toolkit::Color::black());
    }
}

void VC_Help::viewWillAppear(bool animated) {
    ViewController::viewWillAppear(animated);
    if (auto* nav = navigationController()) {
        nav->view()->setBackgroundColor(toolkit::Color::black());
        auto& bar = nav->navigationBar();
        bar.setBarStyle(toolkit::BarStyle::Black);
        bar.setTintColor(toolkit::Color::whiteColor());
        bar.setBarTintColor(toolkit::Color::black());
        bar.setTranslucent(false);
        if (iPad()) nav->setPreferredContentSize(preferredContentSize());
    }
    setTitle("");
}

void VC_Help::viewWillDisappear(bool animated) {
    ViewController::viewWillDisappear(animated);
    if (webView_) webView_->stopLoading();
    if (spinner_) spinner_->stopAnimating();
}

void VC_Help::viewWillTransitionToSize(toolkit::Size size, toolkit::TransitionCoordinator* coordinator) {
    ViewController::viewWillTransitionToSize(size, coordinator);
    if (!iPad()) return;
    auto weak = weakSelf<VC_Help>();
    auto update = [weak] {
        auto self = weak.lock();
        if (!self) return;
        self->navigationItem().setRightBarButtonItem(self->isSplitViewCollapsed() ? self->doneButton_ : nullptr, true);
    };
    if (coordinator)
        coordinator->animateAlongsideTransition([update](toolkit::TransitionCoordinator&) { update(); }, {});
    else
        update();
}

void VC_Help::dismiss() { ViewController::dismiss(true); }

void VC_Help::decidePolicyForNavigationAction(web::WebView&, const web::NavigationAction& action,
                                              const std::function<void(web::NavigationPolicy)>& decisionHandler) {
    if (action.type != web::NavigationType::LinkActivated) {
        decisionHandler(web::NavigationPolicy::Allow);
        return;
    }
    // A link never replaces the page: its effect is the app's, chosen by the scheme.
    decisionHandler(web::NavigationPolicy::Cancel);
    const std::string& url = action.request.url();
    const std::string scheme = schemeOf(url);
    if (scheme == "tel") {
        if (auto conversations = roles_.conversations.lock()) conversations->placeCallTo(url.substr(4));
    } else if (scheme == "mailto") {
        writeFeedback();
    } else if (scheme == "legal") {
        showLegal();
    } else {
        services::URLOpener::shared()->openURL(url);
        if (!iPad()) HXHelpPages::dismissFromPage(*this);
    }
}

void VC_Help::writeFeedback() {
    if (!mail::MailComposeViewController::canSendMail()) return;
    const auto& device = toolkit::Device::current();
    auto composer = std::make_shared<mail::MailComposeViewController>();
    composer->barTintColor = toolkit::Color::black();
    // The page's own address is not used: feedback always goes to the support address.
    composer->setToRecipients({HXHelpPages::kSupportAddress});
    composer->setSubject(HXHelpPages::kFeedbackSubject);
    const std::string line =
        HXHelpPages::deviceLine(device.model(), device.systemName(),
                                HXHelpPages::systemVersionText(device.systemVersion()), DeviceHardware::modelName());
    composer->setMessageBody(HXHelpPages::feedbackBody(versionString(), line), false);
    composing_ = weakSelf<VC_Help>().lock();
    composer->mailComposeDelegate = composing_;
    auto routing = roles_.routing.lock();
    if (routing && routing->iPad()) {
        routing->dismissPopoverAnimated(false);
        routing->presentMailController(composer);
    } else {
        present(composer, true);
    }
}

void VC_Help::showLegal() {
    auto legal = makers_.legal ? makers_.legal(iPad()) : nullptr;
    if (!legal) return;
    // The legal screen's back button reads "About".
    setTitle("About");
    if (auto* nav = navigationController()) nav->pushViewController(legal, true);
}

void VC_Help::didFinishNavigation(web::WebView& view) {
    if (spinner_) spinner_->stopAnimating();
    auto weak = weakSelf<VC_Help>();
    view.evaluateJavaScript(kPageHeightScript, [weak](foundation::Result<foundation::Value> result) {
        auto self = weak.lock();
        if (!self || !self->webView_) return;
        auto& page = *self->webView_;
        page.scrollView().setScrollEnabled(HXHelpPages::pageScrolls(
            page.frame().size.height, result.ok() ? result.value() : foundation::Value(), page.contentHeight()));
    });
}

void VC_Help::mailComposeControllerDidFinish(mail::MailComposeViewController& controller, mail::MailComposeResult,
                                             const std::optional<foundation::Error>&) {
    // Released when this returns, not before.
    auto keep = std::move(composing_);
    controller.dismiss(true);
}
