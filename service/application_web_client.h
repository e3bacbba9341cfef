// The web client's slice of the application object, above the data model's: the cookie jar of
// the current account, the request machinery (requests under tags, the request table, the reply
// router and the failure handler) and media. What it needs from the layers above it (the shell's
// alerts and overlay, the sign-in panel, the message lists, the quick-setting location switch,
// and, until they are built here, the token and the message queue) it declares as pure virtual
// members; the application object implements them. The message lists are reached through
// HXMessageListScreen, an interface of this layer that the list screens implement.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "model/application_model.h"

class CustomCookieJar;
class AsyncURLConnection;
class HXMessageListScreen;
struct HXWebClient;
struct HXRoutedReply;
namespace net {
class URLRequest;
struct HTTPURLResponse;
}  // namespace net

class HXApplicationWebClient : public HXApplicationModel {
public:
    HXApplicationWebClient();
    ~HXApplicationWebClient() override;

    // ---- what the web client asks of the layers above (implemented by the application object)

    // The platform's network activity indicator in the status bar.
    virtual void setNetworkActivityIndicatorVisible(bool visible) = 0;
    // The "No Network Connection" and "Slow Network Connection" alerts of the shell.
    virtual void alertNoConnection() = 0;
    virtual void alertSlowConnection() = 0;
    // The shell's loading overlay.
    virtual bool loadingOverlayShown() const = 0;
    virtual void removeLoadingOverlay() = 0;
    // Schedules the next automatic refresh of the unread messages.
    virtual void queueRefresh() = 0;
    // Starts the sign-in (shows the sign-in panel).
    virtual void login() = 0;
    // On the iPad the master list becomes first responder again.
    virtual void setFirstResponder() = 0;
    // The list screen of the current view, when that view is a message list; null otherwise.
    virtual std::shared_ptr<HXMessageListScreen> currentMessageList() = 0;
    // The quick settings' location switch: whether its background task runs, the name of the
    // switch that waits, and scheduling that switch again (an earlier schedule is cancelled).
    virtual bool locationSwitchTaskRunning() const = 0;
    virtual std::optional<std::string> pendingLocationSwitch() const = 0;
    virtual void rescheduleSwitchToLocation(const std::string& name, double delay) = 0;
    // The Authorization value while the access token is valid; otherwise none (and a renewal
    // starts).
    virtual std::optional<std::string> retrieveOAuth() = 0;
    // The queue of unsent messages of the current account, by message key: the background task
    // of a send under way, removal, and whether an entry waits deferred ("Send Later").
    enum class QueueState { Absent, Present, Queued };
    virtual std::optional<uint64_t> backgroundTaskIdentiferForSMS(const std::string& key) = 0;
    virtual void addBackgroundTaskIdentifierForQueuedSMS(uint64_t task, const std::string& key) = 0;
    virtual void removeBackgroundTaskIdentifierForQueuedSMS(const std::string& key) = 0;
    virtual void removeSMSfromQueue(const std::string& key) = 0;
    virtual QueueState smsQueueState(const std::string& key) = 0;
    virtual void markSMSQueued(const std::string& key) = 0;

    // ---- shared state

    // The cookie jar of the current account.
    std::shared_ptr<CustomCookieJar> cookieJar() const { return cookieJar_; }
    void setCookieJar(std::shared_ptr<CustomCookieJar> jar) { cookieJar_ = std::move(jar); }
    // The account-settings reload in progress mark (cleared when the "account/get" request ends).
    bool settingsLoading() const { return settingsLoading_; }
    void setSettingsLoading(bool loading) { settingsLoading_ = loading; }

    // ---- request machinery (service/web_client_requests.cpp)

    // Endpoints, the reply router's remaining branch table, the request table (`urlData`) and
    // its lock.
    HXWebClient& webClient();

    // Sends request under tag (on the main thread).
    void startAsyncLoadWithRequest(net::URLRequest request, const std::string& tag);
    // The reply buffer of the connection while the table names it for its tag; null otherwise.
    std::shared_ptr<foundation::Data> dataForConnection(const AsyncURLConnection& connection);
    net::URLRequest postRequestForURL(const std::string& url, const foundation::Data& data);
    net::URLRequest postRequestForURLWithDict(const std::string& url, const foundation::Dictionary& dict);
    // Null when there is no valid token (one is being fetched): nothing is to be sent.
    std::optional<net::URLRequest> apiRequestWithDict(const foundation::Dictionary& description);
    std::optional<foundation::Value> parseObjectFromApiResponse(std::string_view text) const;
    std::optional<foundation::Dictionary> imageInfoForSize(const std::string& size,
                                                           const foundation::Array& infoArray) const;
    void showSMSErrorFromData(const foundation::Data& data);
    std::optional<std::string> parseAuthV2FromString(std::string_view text) const;

    std::optional<net::URLRequest> connectionWillSendRequest(AsyncURLConnection& connection, net::URLRequest request,
                                                             const net::HTTPURLResponse* redirectResponse);
    void connectionDidReceiveResponse(AsyncURLConnection& connection, const net::HTTPURLResponse& response);
    void connectionDidReceiveData(AsyncURLConnection& connection, const uint8_t* data, size_t size);
    void connectionDidFinishLoading(AsyncURLConnection& connection);
    void connectionDidFailWithError(AsyncURLConnection& connection, const foundation::Error& error);

    // ---- media (service/web_client_media.cpp): local files below the caches folder, downloads
    // and their removal.
    std::string localURLForMedia(const std::string& mediaID, const std::string& mimeType);
    void downloadMediaIfNeeded(const std::string& mediaID, const std::string& mimeType, bool forPreview = false);
    void downloadVMforID(const std::string& mediaID);
    void downloadRecordedCallForID(const std::string& mediaID);
    void downloadAudioForID(const std::string& mediaID, bool usingNewCRAUrl);
    void removeMediaForAttachment(const std::string& mediaID, const std::string& mimeType);
    // The media branches of the reply router.
    void storeMediaReply(const HXRoutedReply& reply);

protected:
    // This object as the web client, held weakly (empty when no shared pointer owns it).
    std::weak_ptr<HXApplicationWebClient> weakWebClient();

private:
    std::shared_ptr<CustomCookieJar> cookieJar_;
    std::shared_ptr<HXWebClient> webClient_;
    bool settingsLoading_ = false;
};
