#include "app/connect_app_delegate.h"

#include "platform/foundation/notification_center.h"

HX_ConnectAppDelegate::HX_ConnectAppDelegate() : shell_(std::make_unique<HXShellStandIn>()) {}
HX_ConnectAppDelegate::~HX_ConnectAppDelegate() = default;

void HX_ConnectAppDelegate::presentAlert(const HXAlert& alert) { shell_->recordAlert(alert); }

bool HX_ConnectAppDelegate::useSpotlight() const {
    shell_->record("useSpotlight");
    return shell_->script().useSpotlight;
}

// The passcode lock never locks until it is built.
void HX_ConnectAppDelegate::showPasscodeLockIfNeeded() { shell_->record("showPasscodeLockIfNeeded"); }

void HX_ConnectAppDelegate::openApplicationSettings() { shell_->record("openApplicationSettings"); }

void HX_ConnectAppDelegate::setNetworkActivityIndicatorVisible(bool visible) {
    shell_->record(std::string("setNetworkActivityIndicatorVisible ") + (visible ? "1" : "0"));
}

void HX_ConnectAppDelegate::alertNoConnection() {
    shell_->record("alertNoConnection");
    foundation::NotificationCenter::defaultCenter().post("kNetworkConnectionFailedNotification", nullptr);
}

void HX_ConnectAppDelegate::alertSlowConnection() {
    shell_->record("alertSlowConnection");
    foundation::NotificationCenter::defaultCenter().post("kNetworkConnectionFailedNotification", nullptr);
}

bool HX_ConnectAppDelegate::loadingOverlayShown() const { return shell_->script().loadingOverlayShown; }

void HX_ConnectAppDelegate::removeLoadingOverlay() {
    shell_->record("removeLoadingOverlay");
    shell_->changeScript([](HXShellStandIn::Script& s) { s.loadingOverlayShown = false; });
}

void HX_ConnectAppDelegate::queueRefresh() { shell_->record("queueRefresh"); }

void HX_ConnectAppDelegate::login() { shell_->record("login"); }

void HX_ConnectAppDelegate::setFirstResponder() { shell_->record("setFirstResponder"); }

std::shared_ptr<HXMessageListScreen> HX_ConnectAppDelegate::currentMessageList() {
    return shell_->script().currentMessageList;
}

bool HX_ConnectAppDelegate::locationSwitchTaskRunning() const { return shell_->script().locationSwitchTaskRunning; }

std::optional<std::string> HX_ConnectAppDelegate::pendingLocationSwitch() const {
    return shell_->script().pendingLocationSwitch;
}

void HX_ConnectAppDelegate::rescheduleSwitchToLocation(const std::string& name, double delay) {
    shell_->record("rescheduleSwitchToLocation " + name + " " + std::to_string(static_cast<int64_t>(delay)));
}

std::optional<std::string> HX_ConnectAppDelegate::retrieveOAuth() {
    auto authorization = shell_->script().authorization;
    if (!authorization) shell_->record("retrieveOAuth renewal");
    return authorization;
}

std::shared_ptr<VC_Messages> HX_ConnectAppDelegate::messageListForViewIndex(int viewIndex) {
    auto lists = shell_->script().messageLists;
    auto it = lists.find(viewIndex);
    return it == lists.end() ? nullptr : it->second;
}

int HX_ConnectAppDelegate::currentViewIndex() const { return shell_->script().currentViewIndex; }

void HX_ConnectAppDelegate::setUnreadCountForViewIndex(uint64_t count, int viewIndex) {
    shell_->record("setUnreadCount " + std::to_string(count) + " " + std::to_string(viewIndex));
}

void HX_ConnectAppDelegate::playSound(const std::string& name) { shell_->record("playSound " + name); }

bool HX_ConnectAppDelegate::messageListIsShowing() const { return shell_->script().messageListIsShowing; }

bool HX_ConnectAppDelegate::canSendMail() const { return shell_->script().canSendMail; }
