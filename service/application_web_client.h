// The web client's slice of the application object, above the data model's: the cookie jar of
// the current account, the request machinery (requests under tags, the request table, the reply
// router and the failure handler) and media. What it needs from the layers above it (the shell's
// alerts and overlay, the sign-in panel, the message lists, the quick-setting location switch,
// and, until they are built here, the token and the message queue) it declares as pure virtual
// members; the application object implements them. The message lists are reached through
// HXMessageListReceiver, an interface of this layer that the list screens implement. The slice is
// also the sign-in panel's, the account list's and the settings screen's role (service/session.h,
// service/account_settings.h): those operations are its own.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "model/application_model.h"
#include "service/account_settings.h"
#include "service/loading_overlay.h"
#include "service/number_actions.h"
#include "service/send_answer.h"
#include "service/session.h"

inline constexpr const char* kHXFormSubmissionURLKey = "hxc_FormSubmissionURL";

class CustomCookieJar;
class AsyncURLConnection;
class HXMessageListReceiver;
struct HXMMSImage;

// What an unread-list reply says, read without the application object (any queue): the session
// was refused (401), or the start (seconds) of the newest unread item, 0 for none.
struct HXUnreadScan {
    bool refused = false;
    double newest = 0;
};
HXUnreadScan HXScanUnreadReply(const foundation::Data* data);
struct HXMailDraft;
enum class HXReplyRow : int;
struct HXWebClient;
struct HXEndpoints;
struct HXRoutedReply;
namespace net {
struct Cookie;
class URLRequest;
struct HTTPURLResponse;
}  // namespace net

// What the one who asked for a request hears of its end, on the main thread: the reply's bytes, or
// null when the request failed. A request with an answer is told to it alone (its tag routes
// nothing); one cancelled is not answered.
using HXReplyAnswer = std::function<void(std::shared_ptr<foundation::Data> data)>;

class HXApplicationWebClient : public HXApplicationModel,
                               public HXLoadingOverlayRole,
                               public HXSignInRole,
                               public HXAccountListRole,
                               public HXAccountSettingsRole,
                               public HXConversationActionsRole {
public:
    HXApplicationWebClient();
    ~HXApplicationWebClient() override;

    // ---- what the web client asks of the layers above (implemented by the application object)

    // The platform's network activity indicator in the status bar.
    virtual void setNetworkActivityIndicatorVisible(bool visible) = 0;
    // The "No Network Connection" and "Slow Network Connection" alerts of the shell.
    virtual void alertNoConnection() = 0;
    virtual void alertSlowConnection() = 0;
    // The shell's loading overlay is the HXLoadingOverlayRole it implements.
    // A sign-in completed: closes the sign-in panel and, where the shell's rules say, covers the
    // shown screen with the overlay "Loading settings…".
    virtual void closeLoginPanel() = 0;
    // Schedules the next automatic refresh of the unread messages.
    virtual void queueRefresh() = 0;
    // On the iPad the master list becomes first responder again.
    virtual void setFirstResponder() = 0;
    // The view shown now (0 dial pad, 1 SMS, 2 voicemail, 3 history, 4 settings), the list
    // screen of a view (null for a view that is no message list), and a view's unread badge.
    virtual int currentViewIndex() = 0;
    virtual std::shared_ptr<HXMessageListReceiver> messageListForViewIndex(int index) = 0;
    virtual void setUnreadCount(int64_t count, int forViewIndex) = 0;
    // Archives the current account, its cookies and its last-notification time into the
    // preferences.
    void updateAccountPrefs() override = 0;
    // The user-notification registration, and the authorisation request with these options.
    virtual void registerForUserNotifications() = 0;
    // Opens url in the browser.
    virtual void openURL(const std::string& url) = 0;
    // Plays a sound of the bundle ("Message Sent", "NewMessage") or a system sound ("4095").
    virtual void playSound(const std::string& name) = 0;
    // Whether the current view shows a message list (its navigation controller's visible
    // screen), and whether the device can send mail.
    virtual bool messageListIsShowing() const = 0;
    virtual bool canSendMail() const = 0;
    // Counts the unread text and voicemail conversations of the store into the views' badges.
    void updateUnreadCounts() override = 0;
    // The version text of the settings screen and the help page (HXSettingsRole::versionString)
    // is the shell's too.
    // Presents the mail composer filled with the draft; the application object is its delegate.
    virtual void presentMailController(const HXMailDraft& draft) = 0;
    // The quick settings' location switch: whether its background task runs, the name of the
    // switch that waits, and scheduling that switch again (an earlier schedule is cancelled).
    virtual bool locationSwitchTaskRunning() const = 0;
    virtual std::optional<std::string> pendingLocationSwitch() const = 0;
    virtual void rescheduleSwitchToLocation(const std::string& name, double delay) = 0;

    // ---- the queue of unsent messages and sending (service/sms_sending.cpp), by message key:
    // the background task of a send under way, removal, and whether an entry waits deferred.
    enum class QueueState { Absent, Present, Queued };
    std::optional<uint64_t> backgroundTaskIdentiferForSMS(const std::string& key);
    void removeBackgroundTaskIdentifierForQueuedSMS(const std::string& key);
    void removeSMSfromQueue(const std::string& key);
    QueueState smsQueueState(const std::string& key);
    void markSMSQueued(const std::string& key);
    // The completion hears how this send goes (the notifications still tell everyone).
    void sendSMS(const std::string& text, const std::optional<std::string>& recipients,
                 const std::optional<std::string>& conversationID, HXSendCompletion completion = {});
    // Virtual so that the application object can also note the calls (its stand-in records them).
    virtual void sendQueuedSMS();
    void sendMMS(const std::string& text, const std::vector<HXMMSImage>& images,
                 const std::optional<std::string>& recipients, const std::optional<std::string>& conversationID,
                 HXSendCompletion completion = {});
    virtual void playNewMessageAlertForMessageWithDate(double secondsSince1970);

    // ---- conversation operations (service/conversation_operations.cpp; the actions a list row
    // offers on a conversation, and its e-mail, are HXConversationOperations')
    std::shared_ptr<store::ManagedObject> getConversationWithID(const std::string& conversationID);
    void setNote(const std::optional<std::string>& note, const std::string& conversationID);
    void addContact(const std::string& name, const std::string& number, const std::string& type);
    // The replies of those operations (the router's rows 16 to 22).
    void conversationReply(HXReplyRow row, const HXRoutedReply& reply);
    // Opens the new-message screen: numbers separated by ",", the text, and the conversation to
    // reply into ("" for a new conversation).
    void newMessageToNumber(const std::string& numbers, const std::string& text,
                            const std::string& conversationID = "") override;

    // ---- calls (service/calls.cpp)
    void placeCallTo(const std::string& number) override;
    virtual void startDirectCall();

    // ---- shared state

    // The cookie jar of the current account.
    std::shared_ptr<CustomCookieJar> cookieJar() const { return cookieJar_; }
    void setCookieJar(std::shared_ptr<CustomCookieJar> jar) { cookieJar_ = std::move(jar); }
    // The account-settings reload in progress mark (cleared when the "account/get" request ends).
    bool settingsLoading() const { return settingsLoading_; }
    void setSettingsLoading(bool loading) { settingsLoading_ = loading; }

    // ---- session (service/session.cpp)

    // Makes the stored account of username current, with its cookies and keychain items, and
    // loads its data (or asks for a sign-in).
    void selectAccountForUserName(const std::string& username) override;
    // The session needs renewing: with a session token, the overlay and the sign-in panel;
    // without, the keychain is read again and the panel shown only when that fails.
    void login();
    // Copies the account's cookies into the shared cookie storage; the shell's forms extend it
    // to present the sign-in panel.
    void displayLogin() override;
    // Ends the session: saves the account, cancels every request, leaves an empty account.
    void logout() override;
    // The web sign-in of username completed on the service page url with these cookies: the
    // previous session ends (logout notification), a new account of that name becomes current
    // with the cookies as its jar and its name as the "username" preference, token requests of
    // the previous account are dropped, and then, on the main queue, the token flow starts, the
    // page is fetched again under "ClientAuth" and the overlay "Loading settings…" is shown.
    void completeWebSignIn(const std::string& username, std::vector<net::Cookie> cookies,
                           const std::string& url) override;
    // Removes everything kept for username: keychain items, preference entries, store file,
    // media folder and search items.
    void deleteAccountForUsername(const std::string& username) override;
    // The folder of username's media inside the caches folder.
    std::string cachesFolderForUser(const std::string& username);
    // Archives the account's entries (updateAccountPrefs) and writes the preferences at once, so
    // that a kill moments after a sign-in or a change of the account keeps it. A write that
    // fails for want of room shows the "Storage Full" alert (once per run).
    void saveAccountEntry();
    // What a write that failed for want of room loses: the account's own entries (the
    // preferences, the keychain, the queue of unsent messages), or the account's message store.
    enum class StorageLoss { Account, Messages };
    // The "Storage Full" alert for a write that failed for want of room (a full disk or quota),
    // telling what is lost, shown at most once per run for each; other errors show nothing.
    // Answers whether error was one.
    bool alertIfStorageFull(const foundation::Error& error, StorageLoss loss = StorageLoss::Account);
    // The once marker of loadInitialData: armed means the next call loads.
    bool initialDataArmed() const { return initialDataArmed_; }
    void rearmInitialData() { initialDataArmed_ = true; }

    // ---- tokens and the completion of a sign-in (service/oauth.cpp)

    // The Authorization value while the access token is valid; otherwise none (and a renewal
    // starts).
    std::optional<std::string> retrieveOAuth();
    // False for a reply that cannot be read as one (malformed, truncated, wrong types, an error
    // the flow has no answer for): the router fails the request instead.
    bool listSessionsReply(const HXRoutedReply& reply);
    bool issueTokenReply(const HXRoutedReply& reply);
    // The form of an HTML page: the form with id "challenge" when there is one and no partialURL
    // is given, else the first form whose action contains partialURL (the first form without
    // one). The result maps each input name to its value; an empty value is taken from fieldDict
    // under the input's lower-case name, or left out. The action is stored under
    // kHXFormSubmissionURLKey. None when the page has no such form or the form has no named input.
    static std::optional<foundation::Dictionary> parseFormFromData(std::string_view html,
                                                                   const std::optional<std::string>& partialURL,
                                                                   const foundation::Dictionary& fieldDict);
    bool settingsLoadPending() const { return settingsLoadPending_; }
    void setSettingsLoadPending(bool v) { settingsLoadPending_ = v; }
    bool directCallPending() const { return directCallPending_; }
    void setDirectCallPending(bool v) { directCallPending_ = v; }
    // A call was placed from the app, and the app itself handed a call to the phone's dialer
    // (which makes it resign): set by the call operations, read and cleared by the life cycle.
    bool callPlaced() const { return callPlaced_; }
    void setCallPlaced(bool v) { callPlaced_ = v; }
    bool callHandOver() const { return callHandOver_; }
    void setCallHandOver(bool v) { callHandOver_ = v; }
    bool unreadLoadPending() const { return unreadLoadPending_; }
    void setUnreadLoadPending(bool v) { unreadLoadPending_ = v; }

    // ---- account settings (service/account_settings.cpp)

    void loadPhoneSettings() override;
    // The stored preferences the screens follow (the alerts role's) beside the settings screen's
    // own (below).
    using HXAlertsRole::preference;
    // Reads a reply that carries the account onto the current account and posts
    // "kSettingsUpdateNotification"; true when it did. A reply without one (or no current
    // account) changes nothing and leads to a new sign-in.
    bool getPhoneSettingsFromData(const foundation::Data& data);

    // ---- data loading (service/data_loading.cpp)

    void loadInitialData() override;
    // A conversation's newest page (no token) or an older one, answered to the one who asked;
    // false when no request went out (signed out, no access token yet, offline): answer is then never called.
    bool loadConversationWithID(const std::optional<std::string>& threadID,
                                const std::optional<std::string>& paginationToken, HXReplyAnswer answer = {});
    void loadUnreadMessages();
    void loadSpam();
    void loadArchive();
    // An unread-list reply, on the main queue; completion is a background fetch's (1 no data,
    // 2 failed). scanned is the reply's scan when another queue has made it (HXScanUnreadReply).
    void getUnreadMessagesFromData(std::shared_ptr<const foundation::Data> data,
                                   BackgroundFetchCompletion completion = {},
                                   std::optional<HXUnreadScan> scanned = std::nullopt);
    void threadingInfoReply(const HXRoutedReply& reply);

    // ---- request machinery (service/web_client_requests.cpp)

    // Where the service is.
    const HXEndpoints& endpoints() override;

    // Sends request under tag (on the main thread); with an answer, its end goes there alone. False
    // when nothing started (offline, or no connection could be made): the answer is then never
    // called. With a bodyFile (a medium kept as a file) a successful reply's body goes to a
    // temporary beside that path as it arrives, never whole in memory, and moves into place when
    // the router stores the reply; an error reply's body, a failed or cancelled request leave
    // nothing there.
    bool startAsyncLoadWithRequest(net::URLRequest request, const std::string& tag, HXReplyAnswer answer = {},
                                   std::string bodyFile = {});
    // True while the request table holds an entry under tag.
    bool requestInFlight(const std::string& tag);
    // True while no request is in flight.
    bool isIdle() override;
    // Removes the requests of these tags (or those chosen) from the table and cancels them.
    void cancelRequests(const std::vector<std::string>& tags);
    void cancelRequests(const std::function<bool(const std::string&)>& chosen);
    // Null when there is no valid token (one is being fetched): nothing is to be sent.
    std::optional<net::URLRequest> apiRequestWithDict(const foundation::Dictionary& description);
    static std::optional<foundation::Dictionary> imageInfoForSize(const std::string& size,
                                                                  const foundation::Array& infoArray);
    void showSMSErrorFromData(const foundation::Data& data);

    std::optional<net::URLRequest> connectionWillSendRequest(AsyncURLConnection& connection, net::URLRequest request,
                                                             const net::HTTPURLResponse* redirectResponse);
    void connectionDidReceiveResponse(AsyncURLConnection& connection, const net::HTTPURLResponse& response);
    void connectionDidReceiveData(AsyncURLConnection& connection, const uint8_t* data, size_t size);
    void connectionDidFinishLoading(AsyncURLConnection& connection);
    void connectionDidFailWithError(AsyncURLConnection& connection, const foundation::Error& error);

    // ---- media (service/web_client_media.cpp): local files below the caches folder and their
    // removal (the downloads are HXMediaOperations', service/media_operations.h).
    std::string localURLForMedia(const std::string& mediaID, const std::string& mimeType);
    // A media id as one segment of a request path (escaped; "." and ".." too), so that no id
    // names another path of the service.
    static std::string mediaPathSegment(const std::string& mediaID);
    void removeMediaForAttachment(const std::string& mediaID, const std::string& mimeType);

    // This object as the web client, held weakly (empty when no shared pointer owns it).
    std::weak_ptr<HXApplicationWebClient> weakWebClient();

    // The web client's own state, for the service layer's operation objects through
    // service/request_machinery.h (HXWebClientOf).
    friend HXWebClient& HXWebClientOf(HXApplicationWebClient& app);

private:
    // ---- the settings screen's role (HXAccountSettingsRole, service/account_settings.cpp): the
    // app's preferences, which the data model keeps, and the caches; reached through the role.
    bool canMonitorRegions() override;
    bool preference(Preference preference) const override;
    void setPreference(Preference preference, bool on) override;
    void clearMessageCache() override;
    void clearAudioCache() override;
    void clearCookieCache() override;
    void clearImageCache() override;

protected:
    // What follows a change of the automatic refresh: the platform's background-fetch interval.
    virtual void setBackgroundRefreshStatus() = 0;
    // The loading overlay for a sign-in about to start, over the screen the shell's form keeps
    // for it (none on the tablet while the master list presents nothing).
    virtual void showSignInOverlay(const std::string& statusText) = 0;

    // What the slices use among themselves; no other object calls it.
    // Endpoints, the request table and the web client's other state.
    HXWebClient& webClient();
    virtual void requestNotificationAuthorization(int options) = 0;
    // Stops monitoring every region of the location manager (the account's quick settings).
    virtual void stopMonitoringRegions() = 0;
    // Sets the platform's background-fetch interval to "never".
    virtual void setBackgroundFetchIntervalNever() = 0;
    // The list screen of the current view, when that view is a message list; null otherwise.
    std::shared_ptr<HXMessageListReceiver> currentMessageList();
    // Presents the new-message screen with one recipient token per title, the conversation to
    // reply into ("" for a new one) and the text to start from.
    virtual void presentNewMessage(const std::vector<std::string>& recipients, const std::string& conversationID,
                                   const std::string& messageText) = 0;
    void addBackgroundTaskIdentifierForQueuedSMS(uint64_t task, const std::string& key);
    std::vector<std::shared_ptr<store::ManagedObject>>
    sortedMessagesForConversation(const std::shared_ptr<store::ManagedObject>& conversation);
    void updateLastMessagePropertiesForConversation(const std::shared_ptr<store::ManagedObject>& conversation);
    // The common check of a JSON reply: false (and the service's message shown) for a refusal.
    bool checkResponse(std::string_view text);
    // Loads authV2 and oAuthDict of the current account from the keychain; the read error, if any.
    std::optional<foundation::Error> retrieveKeychainItems();
    // Whether a refusal (HTTP 401) of this request speaks for the session now current: not when
    // the request carried an access token the account no longer holds (it signed in again, or
    // took a new token, while the request was on its way).
    bool refusalOfCurrentSession(const AsyncURLConnection& connection);
    // The Authorization header value ("<type> <token>") of a token dictionary, when it names a
    // string token and type.
    static std::optional<std::string> authorizationOf(const foundation::Dictionary& oAuthDict);
    // The token requests (GET to the sign-in host).
    net::URLRequest oAuthRequest(const std::string& action, const std::optional<std::string>& loginHint);
    void clientAuthReply(const HXRoutedReply& reply);
    // Work that waits for a token and is replayed by the next token: the direct call and the
    // unread load (and, when a token arrives, the settings load first).
    void replayWorkWaitingForToken(bool includingSettings);
    void loadMessagesForURL(const std::string& url);
    // The unread SMS and voicemail thread counts of a "threadinginfo/get" reply (missing views
    // count 0); none when the reply is not an object.
    std::optional<std::pair<int64_t, int64_t>> unreadCountsFromReply(std::string_view text) const;
    // The reply buffer of the connection while the table names it for its tag; null otherwise.
    std::shared_ptr<foundation::Data> dataForConnection(const AsyncURLConnection& connection);
    net::URLRequest postRequestForURL(const std::string& url, const foundation::Data& data);
    net::URLRequest postRequestForURLWithDict(const std::string& url, const foundation::Dictionary& dict);
    std::optional<foundation::Value> parseObjectFromApiResponse(std::string_view text) const;
    std::optional<std::string> parseAuthV2FromString(std::string_view text) const;
    // The media branches of the reply router.
    void storeMediaReply(const HXRoutedReply& reply);
    // A message store that cannot be created or opened alerts as the failed writes do.
    void messageStoreCannotOpen(const foundation::Error& error) override;

private:
    bool isSignedIn() const;
    // Runs work in a new private child context (published as the thread's context) and saves it
    // up the chain; completion runs when the save reached the main context.
    void inChildContext(std::function<void(const std::shared_ptr<store::Context>&)> work,
                        std::function<void()> completion);
    void removeMediaOfMessage(const std::shared_ptr<store::ManagedObject>& message);
    // The API request of a list code (1 unread, 5 spam, 6 archive) or the unread counts.
    std::optional<net::URLRequest> listRequest(int listCode);

    std::shared_ptr<CustomCookieJar> cookieJar_;
    std::shared_ptr<HXWebClient> webClient_;
    // Main-thread state of the session and the data loads.
    bool settingsLoading_ = false;
    bool initialDataArmed_ = true;
    bool settingsLoadPending_ = false;
    bool directCallPending_ = false;
    bool callPlaced_ = false;
    bool callHandOver_ = false;
    bool unreadLoadPending_ = false;
    // "invalid_grant" restarts since the last token; a second one in a row asks for a sign-in.
    int tokenRestarts_ = 0;
    // Consent pages answered since the sign-in's last ClientAuth page.
    int consentPosts_ = 0;
    // The "Storage Full" alert was shown in this run, for the account and for its messages.
    bool storageFullAlerted_ = false;
    bool messagesFullAlerted_ = false;
};

// The answer of a spam or archive page (flags: HXMessageListReceiver's SpamList or ArchiveList),
// whoever asked: the history list of app, whose types cover every list, parses it.
HXReplyAnswer HXHistoryListParses(std::weak_ptr<HXApplicationWebClient> app, int flags);
