// The application object: the top of the chain data model -> web client -> shell. It inherits
// every operation of the lower slices (so callers reach them as its members) and implements what
// those slices ask of the shell. Until the shell's views exist, each of those requests is handed
// to a recorded stand-in (shell()), which tests script and read back. The device forms of the
// application object derive from this class.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "app/shell_stand_in.h"
#include "service/application_web_client.h"

class HX_ConnectAppDelegate : public HXApplicationWebClient {
public:
    HX_ConnectAppDelegate();
    ~HX_ConnectAppDelegate() override;

    // Where the requests to the shell go until it is built.
    HXShellStandIn& shell() { return *shell_; }

    // ---- the data model's requests
    void presentAlert(const HXAlert& alert) override;
    bool useSpotlight() const override;
    void showPasscodeLockIfNeeded() override;
    void openApplicationSettings() override;

    // ---- the web client's requests
    void setNetworkActivityIndicatorVisible(bool visible) override;
    void alertNoConnection() override;
    void alertSlowConnection() override;
    bool loadingOverlayShown() const override;
    void removeLoadingOverlay() override;
    void showLoadingOverlay(const std::string& statusText) override;
    void closeLoginPanel() override;
    void queueRefresh() override;
    void setFirstResponder() override;
    int currentViewIndex() override;
    std::shared_ptr<HXMessageListScreen> messageListForViewIndex(int index) override;
    void setUnreadCount(int64_t count, int forViewIndex) override;
    void updateAccountPrefs() override;
    void registerForUserNotifications() override;
    void requestNotificationAuthorization(int options) override;
    void stopMonitoringRegions() override;
    void setBackgroundFetchIntervalNever() override;
    void removeAccountObservers() override;
    void openURL(const std::string& url) override;
    void startDirectCall() override;
    void sendQueuedSMS() override;
    void playNewMessageAlertForMessageWithDate(double secondsSince1970) override;
    // The base form, then the sign-in panel (presented by the shell).
    void displayLogin() override;
    bool locationSwitchTaskRunning() const override;
    std::optional<std::string> pendingLocationSwitch() const override;
    void rescheduleSwitchToLocation(const std::string& name, double delay) override;
    std::optional<uint64_t> backgroundTaskIdentiferForSMS(const std::string& key) override;
    void addBackgroundTaskIdentifierForQueuedSMS(uint64_t task, const std::string& key) override;
    void removeBackgroundTaskIdentifierForQueuedSMS(const std::string& key) override;
    void removeSMSfromQueue(const std::string& key) override;
    QueueState smsQueueState(const std::string& key) override;
    void markSMSQueued(const std::string& key) override;

private:
    std::unique_ptr<HXShellStandIn> shell_;
};
