#include "app/connect_app_delegate.h"

#include <utility>

#include "app/roles/message_list_host.h"
#include "app/shell_roles.h"
#include "app/views.h"
#include "service/message_list_model.h"

#include "model/account.h"
#include "model/contacts.h"
#include "platform/dispatch/dispatch.h"
#include "platform/dispatch/run_loop.h"
#include "platform/foundation/application.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/strings.h"
#include "platform/foundation/user_defaults.h"
#include "platform/graphics/color.h"
#include "platform/mail/mail_compose_controller.h"
#include "platform/services/device.h"
#include "platform/services/url_opener.h"
#include "platform/toolkit/alert_controller.h"
#include "platform/toolkit/feedback.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/view_controller.h"
#include "platform/toolkit/window.h"
#include "service/conversation_email.h"
#include "service/custom_cookie_jar.h"

namespace {

// The composer's delegate: a finished composer is dismissed and forgotten.
class MailDelegate : public mail::MailComposeDelegate {
public:
    explicit MailDelegate(std::function<void(mail::MailComposeViewController&)> finished)
        : finished_(std::move(finished)) {}
    void mailComposeControllerDidFinish(mail::MailComposeViewController& controller, mail::MailComposeResult,
                                        const std::optional<foundation::Error>&) override {
        finished_(controller);
    }

private:
    std::function<void(mail::MailComposeViewController&)> finished_;
};

}  // namespace

HX_ConnectAppDelegate::HX_ConnectAppDelegate() : roles_(std::make_shared<HXShellRoles>(*this, roleSlices())) {}
HX_ConnectAppDelegate::~HX_ConnectAppDelegate() {
    foundation::NotificationCenter::defaultCenter().removeObserver(this);
    dispatch::RunLoop::main().cancelPerforms(this);
    foundation::Application::shared().endBackgroundTask(takeLocationSwitchTask());
}

void HX_ConnectAppDelegate::openApplicationSettings() {
    record("openApplicationSettings");
    services::URLOpener::shared()->openURL(services::kOpenSettingsURLString);
}

void HX_ConnectAppDelegate::setNetworkActivityIndicatorVisible(bool visible) {
    foundation::Application::shared().setNetworkActivityIndicatorVisible(visible);
    // The applied switch's requests have all ended: its task lets the alerts come again.
    if (!visible && endSwitchTaskWhenIdle_) {
        endSwitchTaskWhenIdle_ = false;
        foundation::Application::shared().endBackgroundTask(takeLocationSwitchTask());
    }
}

bool HX_ConnectAppDelegate::loadingOverlayShown() const { return overlayShown_; }

void HX_ConnectAppDelegate::removeLoadingOverlay() {
    record("removeLoadingOverlay");
    overlayShown_ = false;
    onMainForOverlay(false, [this] {
        if (!loadingController_) return;
        if (auto view = loadingController_->viewIfLoaded()) view->removeFromSuperview();
        // Dropped with its view: an overlay kept while hidden could only go stale (the next one
        // is made with its own text).
        loadingController_.reset();
    });
}

void HX_ConnectAppDelegate::showLoadingOverlay(const std::string& statusText) {
    showLoadingOverlayOver(statusText, [this] { return topPresentedController(); });
}

void HX_ConnectAppDelegate::showSignInOverlay(const std::string& statusText) {
    showLoadingOverlayOver(statusText, [this] { return signInOverlayHost(); });
}

void HX_ConnectAppDelegate::showLoadingOverlayOver(const std::string& statusText,
                                                   std::function<toolkit::ViewController*()> host) {
    record("showLoadingOverlay " + statusText);
    overlayShown_ = true;
    onMainForOverlay(true, [this, statusText, host = std::move(host)] {
        auto* top = host();
        if (!top) return;
        auto overlay = screens().makeProgressScreen(statusText);
        if (!overlay) return;
        // A second request replaces the overlay shown rather than stacking another one over it.
        if (loadingController_)
            if (auto old = loadingController_->viewIfLoaded()) old->removeFromSuperview();
        loadingController_ = overlay;
        auto covered = top->view();
        auto view = overlay->view();
        // The host's bounds, not its frame: a screen below a bar has a frame that does not start
        // at its own origin, and the overlay would be shifted by it.
        view->setFrame(covered->bounds());
        view->setAutoresizingMask(toolkit::kFlexibleWidth | toolkit::kFlexibleHeight);
        covered->addSubview(view);
    });
}

void HX_ConnectAppDelegate::onMainForOverlay(bool shown, std::function<void()> work) {
    // The web client asks from its reply queues too, and views belong to the main thread. Work
    // sent there runs only if the overlay is still wanted that way: a removal asked on the main
    // thread meanwhile must not be undone by the showing that was on its way (nor the reverse).
    if (dispatch::isMainThread()) {
        work();
        return;
    }
    dispatch::Queue::main()->async([weak = weakSelf(), shown, work = std::move(work)] {
        auto self = weak.lock();
        if (self && self->loadingOverlayShown() == shown) work();
    });
}

toolkit::ViewController* HX_ConnectAppDelegate::topPresentedController() const {
    if (!window_ || !window_->rootViewController()) return nullptr;
    toolkit::ViewController* top = window_->rootViewController().get();
    while (auto* presented = top->presentedViewController()) {
        // An alert is never the host of a screen: what it covers is.
        if (dynamic_cast<toolkit::AlertController*>(presented)) break;
        top = presented;
    }
    return top;
}

void HX_ConnectAppDelegate::dismissPopoverAnimated(bool animated) {
    record(std::string("dismissPopoverAnimated ") + (animated ? "1" : "0"));
}

void HX_ConnectAppDelegate::presentMailController(const std::shared_ptr<toolkit::ViewController>& composer) {
    record("presentMailController");
    if (auto* top = topPresentedController(); top && composer) top->present(composer, true);
}

std::shared_ptr<toolkit::ViewController> HX_ConnectAppDelegate::makeRootScreen(int index) {
    if (index < 0 || index >= kHXViewCount) return nullptr;
    auto roles = screenRoles();
    auto root = screens().makeRootScreen(index, roles);
    if (!root) return hxMakeRootScreen(index, roles.lists);
    root->setTitle(kHXViews[index].title);
    return root;
}

HXScreenRoles HX_ConnectAppDelegate::screenRoles() { return roles_->share(weakWebClient().lock()); }

void HX_ConnectAppDelegate::closeLoginPanel() { record("closeLoginPanel"); }

void HX_ConnectAppDelegate::setFirstResponder() { record("setFirstResponder"); }

void HX_ConnectAppDelegate::showCallPopup() { record("showCallPopup"); }

// The base form has no interface: its view is the settings view, as the tablet's is by default.
int HX_ConnectAppDelegate::currentViewIndex() { return 4; }

std::shared_ptr<HXMessageListReceiver> HX_ConnectAppDelegate::messageListForViewIndex(int index) {
    if (auto* root = dynamic_cast<HXMessageListHost*>(viewControllerForIndex(index).get())) return root->messageList();
    return nullptr;
}

void HX_ConnectAppDelegate::setUnreadCount(int64_t count, int forViewIndex) {
    record("setUnreadCount " + std::to_string(count) + " " + std::to_string(forViewIndex));
}

void HX_ConnectAppDelegate::updateAccountPrefs() {
    record("updateAccountPrefs");
    const auto acct = account();
    if (!acct || acct->username().empty()) return;
    const std::string user = acct->username();
    auto prefs = foundation::UserDefaults::standardUserDefaults();
    // Each preference keeps one entry per account; an entry that cannot be archived keeps the
    // value stored before rather than losing it.
    auto store = [&](const char* key, foundation::Value value) {
        auto entries = prefs->dictionaryForKey(key).value_or(foundation::Dictionary{});
        entries.set(user, std::move(value));
        (void)prefs->setObject(foundation::Value(std::move(entries)), key);
    };
    if (const auto jar = cookieJar())
        if (auto archive = jar->archivedCookies(); archive.ok()) store("cookies", foundation::Value(archive.value()));
    if (auto archive = acct->archived(); archive.ok()) store("accountInfo", foundation::Value(archive.value()));
    store("lastNotification", foundation::Value(static_cast<int64_t>(lastNotification())));
}

void HX_ConnectAppDelegate::requestNotificationAuthorization(int options) {
    // The user is asked once; what was granted is the platform's to keep.
    (void)services::NotificationSettings::shared().requestAuthorization(options);
}

void HX_ConnectAppDelegate::openURL(const std::string& url) {
    record("openURL " + url);
    services::URLOpener::shared()->openURL(url);
}

void HX_ConnectAppDelegate::playSound(const std::string& name) {
    auto& sounds = toolkit::SystemSounds::shared();
    if (name == "4095") {
        sounds.play(toolkit::kSystemSoundVibrate);
        return;
    }
    // One sound per bundle file, made on first use and kept; a missing or unreadable file is
    // looked up again next time.
    auto& id = soundHandles_[name];
    if (!id) {
        auto path = foundation::Bundle::main().pathForResource(name, "caf");
        if (!path) return;
        id = sounds.create(*path);
        if (!id) return;
        sounds.setUISound(id, true);
    }
    sounds.play(id);
}

void HX_ConnectAppDelegate::startDirectCall() {
    record("startDirectCall");
    HXApplicationWebClient::startDirectCall();
}

void HX_ConnectAppDelegate::sendQueuedSMS() {
    record("sendQueuedSMS");
    HXApplicationWebClient::sendQueuedSMS();
}

void HX_ConnectAppDelegate::playNewMessageAlertForMessageWithDate(double secondsSince1970) {
    record("playNewMessageAlertForMessageWithDate " + std::to_string(static_cast<int64_t>(secondsSince1970)));
    HXApplicationWebClient::playNewMessageAlertForMessageWithDate(secondsSince1970);
}

bool HX_ConnectAppDelegate::messageListIsShowing() const {
    // The list shows when the current view's navigation controller has a list on top.
    auto* self = const_cast<HX_ConnectAppDelegate*>(this);
    auto root = self->viewControllerForIndex(self->currentViewIndex());
    auto* nav = root ? root->navigationController() : nullptr;
    auto* visible = nav ? nav->visibleViewController() : nullptr;
    return dynamic_cast<HXMessageListHost*>(visible) != nullptr;
}

bool HX_ConnectAppDelegate::canSendMail() const { return mail::MailComposeViewController::canSendMail(); }

void HX_ConnectAppDelegate::presentNewMessage(const std::vector<std::string>& recipients,
                                              const std::string& conversationID, const std::string& messageText) {
    auto screen = screens().makeNewMessage(screenRoles(), recipients, conversationID, messageText);
    auto* root = window() ? window()->rootViewController().get() : nullptr;
    if (!screen || !root) {
        screenNotBuilt("presentNewMessage " + foundation::join(recipients, ";") + "|" + messageText + "|" +
                       conversationID);
        return;
    }
    auto navigation = std::make_shared<toolkit::NavigationController>(screen);
    if (iPad()) navigation->modalPresentationStyle = toolkit::ModalPresentationStyle::FormSheet;
    navigation->modalTransitionStyle = toolkit::ModalTransitionStyle::CoverVertical;
    root->present(navigation, true);
}

void HX_ConnectAppDelegate::screenNotBuilt(const std::string& request) { record(request); }

bool HX_ConnectAppDelegate::iPad() const { return HXApplicationModel::iPad(); }

void HX_ConnectAppDelegate::presentMailController(const HXMailDraft& draft) {
    auto composer = std::make_shared<mail::MailComposeViewController>();
    composer->barTintColor = graphics::Color::systemBlue();
    composer->setSubject(draft.subject);
    composer->setMessageBody(draft.htmlBody, true);
    for (const auto& a : draft.attachments) composer->addAttachmentData(a.data, a.mimeType, a.fileName);
    if (!mailDelegate_) {
        mailDelegate_ = std::make_shared<MailDelegate>([weak = weakSelf()](mail::MailComposeViewController& finished) {
            auto self = weak.lock();
            if (!self) return;
            if (finished.presentingViewController()) finished.presentingViewController()->dismiss(true);
            if (self->mailComposer_.get() == &finished) self->mailComposer_.reset();
        });
    }
    composer->mailComposeDelegate = mailDelegate_;
    mailComposer_ = composer;
    presentMailController(std::static_pointer_cast<toolkit::ViewController>(composer));
}

void HX_ConnectAppDelegate::displayLogin() {
    HXApplicationWebClient::displayLogin();
    record("displayLogin");
}

bool HX_ConnectAppDelegate::locationSwitchTaskRunning() const {
    std::lock_guard lock(locationMutex_);
    return locationSwitchTask_ != foundation::kInvalidBackgroundTask;
}

std::optional<std::string> HX_ConnectAppDelegate::pendingLocationSwitch() const {
    std::lock_guard lock(locationMutex_);
    return pendingLocationSwitch_;
}

void HX_ConnectAppDelegate::switchToLocation(const std::string& name) {
    endSwitchTaskWhenIdle_ = false;
    auto& platform = foundation::Application::shared();
    platform.endBackgroundTask(takeLocationSwitchTask());
    // The expiration handler may outlive the application object: it ends its task only while the
    // object lives.
    auto task = platform.beginBackgroundTask("switchToLocation", [weak = weakSelf()] {
        if (auto self = weak.lock()) self->locationSwitchTaskExpired();
    });
    {
        std::lock_guard lock(locationMutex_);
        locationSwitchTask_ = task;
        pendingLocationSwitch_ = name;
    }
    auto& center = foundation::NotificationCenter::defaultCenter();
    center.removeObserver(this, "kSettingsUpdateNotification");
    center.addObserver(this, "kSettingsUpdateNotification",
                       [this](const foundation::Notification&) { switchToQSLocation(); });
    setSettingsLoading(false);
    loadPhoneSettings();
}

void HX_ConnectAppDelegate::switchToQSLocation() {
    foundation::NotificationCenter::defaultCenter().removeObserver(this, "kSettingsUpdateNotification");
    std::optional<std::string> name;
    {
        std::lock_guard lock(locationMutex_);
        name.swap(pendingLocationSwitch_);
    }
    if (!name) return;
    roles_->quickSettings.selectQuickSettingWithName(*name);
    // The switch's task keeps the no-connection alert back only while its requests run: it ends
    // once they have all ended (at once when the switch sent none).
    if (isIdle()) {
        foundation::Application::shared().endBackgroundTask(takeLocationSwitchTask());
    } else {
        endSwitchTaskWhenIdle_ = true;
    }
}

foundation::BackgroundTaskIdentifier HX_ConnectAppDelegate::takeLocationSwitchTask() {
    // The platform's registry is called outside this lock: it runs expiration handlers, which
    // take it.
    std::lock_guard lock(locationMutex_);
    return std::exchange(locationSwitchTask_, foundation::kInvalidBackgroundTask);
}

void HX_ConnectAppDelegate::locationSwitchTaskExpired() {
    foundation::Application::shared().endBackgroundTask(takeLocationSwitchTask());
}

void HX_ConnectAppDelegate::rescheduleSwitchToLocation(const std::string& name, double delay) {
    auto& loop = dispatch::RunLoop::main();
    loop.cancelPerform(this, "switchToLocation:", foundation::Value(name));
    loop.perform(performTarget(), "switchToLocation:", foundation::Value(name), delay,
                 [this](const foundation::Value& n) { switchToLocation(n.stringValue()); });
}
