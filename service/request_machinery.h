// The request machinery of the web client: every request the app sends goes out under a tag,
// its reply is collected per connection and, when the connection ends, routed by tag. The
// request table maps each tag to the connection that currently speaks for it; a connection
// superseded under its tag keeps its own buffer and still feeds the cookie jar, but its end
// is ignored, so two replies never mix and never remove each other's entry.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/alert.h"
#include "platform/foundation/error.h"
#include "platform/foundation/file_writer.h"
#include "platform/foundation/files.h"
#include "platform/foundation/thread_annotations.h"
#include "platform/foundation/value.h"
#include "platform/net/url_connection.h"
#include "platform/net/url_request.h"
#include "service/endpoints.h"

class HXApplicationWebClient;
enum class HXSettingsEnd;

inline constexpr std::string_view kHXApiPath = "/voice/v1/voiceclient/";

// One request in flight: the platform connection, its tag and its own reply buffer.
class AsyncURLConnection : public net::URLConnectionDelegate, public std::enable_shared_from_this<AsyncURLConnection> {
public:
    // Null when the connection cannot be made (no transport).
    static std::shared_ptr<AsyncURLConnection> create(const net::URLRequest& request,
                                                      std::weak_ptr<HXApplicationWebClient> delegate, std::string tag);
    const std::string& tag() const { return tag_; }
    const std::shared_ptr<foundation::Data>& buffer() const { return buffer_; }
    // Status of the last response, 0 before one arrived.
    int statusCode() const { return statusCode_; }
    void cancel();
    net::URLConnection* connection() const { return connection_.get(); }

    std::optional<net::URLRequest> willSendRequest(net::URLConnection&, net::URLRequest request,
                                                   const net::HTTPURLResponse* redirect) override;
    void didReceiveResponse(net::URLConnection&, const net::HTTPURLResponse& response) override;
    void didReceiveData(net::URLConnection&, const uint8_t* data, size_t size) override;
    void didFinishLoading(net::URLConnection&) override;
    void didFailWithError(net::URLConnection&, const foundation::Error& error) override;

private:
    friend class HXApplicationWebClient;
    std::weak_ptr<HXApplicationWebClient> delegate_;
    std::string tag_;
    std::shared_ptr<foundation::Data> buffer_ = std::make_shared<foundation::Data>();
    std::shared_ptr<net::URLConnection> connection_;
    int statusCode_ = 0;
    // Who asked for the reply, when someone did (HXReplyAnswer).
    std::function<void(std::shared_ptr<foundation::Data>)> answer_;
    // For a reply kept as a file: its path, and the writer its body goes to as it arrives (open
    // only for a successful response) in place of the buffer.
    std::string bodyFile_;
    foundation::files::AtomicFileWriter bodyWriter_;
};

struct HXRequestEntry {
    std::shared_ptr<foundation::Data> data;
    std::shared_ptr<AsyncURLConnection> connection;
};

// The request table: each tag in flight and the entry that speaks for it. Every read and change
// holds the table's own monitor (background parses look into it); the monitor is re-entered when
// a check-then-start runs under it (startIfAbsent). Connections taken out of the table are
// returned to be cancelled outside the monitor: a cancelled connection may call back into the
// machinery.
class HXRequestTable {
public:
    bool contains(const std::string& tag) const;
    bool empty() const;
    size_t size() const;
    // The tags in flight, in order.
    std::vector<std::string> tags() const;
    bool anyWithPrefix(std::string_view prefix) const;
    HXRequestTable() = default;
    HXRequestTable(const HXRequestTable&) = delete;
    HXRequestTable& operator=(const HXRequestTable&) = delete;
    // Cancels every connection still running, named or replaced: a running connection holds
    // itself, and would outlive the table.
    ~HXRequestTable();

    // Stores entry under tag. An entry already there is replaced: its connection keeps running to
    // its end, unrouted, and is still cancelled with its tag (take) or with the table.
    void put(const std::string& tag, HXRequestEntry entry);
    // Removes the tag's entry; true when the table is then empty.
    bool erase(const std::string& tag);
    // True while the table names this connection for its tag.
    bool isCurrent(const AsyncURLConnection& connection) const;
    // The reply buffer of the connection while the table names it; null otherwise.
    std::shared_ptr<foundation::Data> dataFor(const AsyncURLConnection& connection) const;
    // Removes the tag's entry when it names this connection; true when the table is then empty.
    bool removeIfCurrent(const AsyncURLConnection& connection);
    // Removes the entries whose tags are chosen; their connections, and the replaced ones still
    // running under those tags, to be cancelled.
    std::vector<std::shared_ptr<AsyncURLConnection>> take(const std::function<bool(const std::string&)>& chosen);
    // Runs start with the monitor held when no entry is under tag; true when it ran.
    bool startIfAbsent(const std::string& tag, const std::function<void()>& start);

private:
    mutable foundation::RecursiveMutex mutex_;
    std::map<std::string, HXRequestEntry> entries_ HX_GUARDED_BY(mutex_);
    // Connections replaced under their tag while running; they let go of themselves when they end.
    std::vector<std::weak_ptr<AsyncURLConnection>> replaced_ HX_GUARDED_BY(mutex_);
};

// A finished reply handed to a branch of the router.
struct HXRoutedReply {
    std::string tag;
    std::shared_ptr<foundation::Data> data;  // null when the tag had no buffer
    std::string text;                        // data as UTF-8, "" without data
    int statusCode = 0;
    // A body that went to its file as it arrived (data is then empty): not in place until the
    // router commits it. Null for a buffered reply.
    foundation::files::AtomicFileWriter* bodyFile = nullptr;
};

// Routing rows of the finished-reply handler, in the order they are tested.
enum class HXReplyRow : int {
    OAuthListSessions = 1,
    OAuthIssueToken,
    DirectCall,
    ClientAuth,
    Unread,
    ThreadingInfo,
    AccountGet,
    AccountUpdate,
    ThreadItemDelete,
    DeleteForever,
    ArchiveMessages,
    Mark,
    MarkSpam,
    Block,
    AddContact,
    SMSSend,
    MediaAudio,
    MediaFile,
    MediaImage,
    None
};

// The web client's state on the application object.
struct HXWebClient {
    HXEndpoints endpoints;
    HXRequestTable requests;
    bool networkActivityIndicatorVisible = false;
    // The request URL (with its query) of an added contact, set by the contacts operations;
    // empty while none is known, so no tag is taken for one.
    std::string addContactURL;
    bool firstReachabilityHandled = false;
    // Set while the initial load's lists wait to be asked for (loadInitialData's short delay).
    bool initialListsScheduled = false;
    // Responses heard from any host and the description of the last request that failed (empty
    // before one): whether the service answered at all, for the program's headless run.
    uint64_t responsesReceived = 0;
    std::string lastFailure;
    // Set while the passcode lock that came up at launch waits for its PIN: nothing of the account
    // goes to the service before it, so no token is handed out or asked for (and with none, no API
    // request is built), and the initial load waits, still armed.
    bool heldUntilUnlock = false;
    // Where media files go; the platform's caches folder unless set.
    std::optional<std::string> cachesDirectory;
    // The object cache for pictures and previews; the shared one unless set.
    std::shared_ptr<class HXCCache> objectCache;
    // The operations that keep state of their own, made on first use.
    std::shared_ptr<class HXCalls> calls;
    std::shared_ptr<class HXMessageSender> sender;
    std::shared_ptr<class HXSettingsUpdates> settingsUpdates;
    std::shared_ptr<class HXConversationOperations> conversationOperations;
    std::shared_ptr<class HXMediaOperations> mediaOperations;
    // The queue of unsent messages waits for a token being renewed: the next token drains it.
    bool sendQueueAfterToken = false;
    std::shared_ptr<class HXConversationPages> pages;
    // The service's last unread counts of the texts (view 1) and voicemail (view 2), -1 before it
    // counted (or after an account change); the answers heard tell a new answer from the last.
    int64_t serviceUnread[2] = {-1, -1};
    uint64_t serviceUnreadAnswers = 0;
    // The service's own answers (the answers above also count the changes made here to them).
    uint64_t serviceUnreadReplies = 0;
    // A read or unread change sent for a conversation the counts hold as it was (by request tag):
    // the view whose count it moves, by how much, and the service's answers heard when it went out.
    struct ReadChange {
        int viewIndex = 0;
        int delta = 0;
        uint64_t replies = 0;
    };
    std::map<std::string, ReadChange> readChanges;
    // Until this time of the clock (a launch, an account change) the service's counts are on
    // their way even before their request goes out: the store's counts wait for them.
    double serviceUnreadAwaitedUntil = 0;
    struct UnreadCount {
        int64_t count = -1;
        uint64_t answers = 0;
    };
    UnreadCount serviceUnreadCount(int viewIndex) const {
        return {viewIndex == 1 ? serviceUnread[0] : viewIndex == 2 ? serviceUnread[1] : -1, serviceUnreadAnswers};
    }
    void forgetServiceUnread() {
        serviceUnread[0] = serviceUnread[1] = -1;
        ++serviceUnreadAnswers;
    }
    // The stored counts wait for the service's for a few seconds from now.
    static constexpr double kServiceUnreadWait = 5.0;
    // The completions of the settings changes in flight, by request tag (service/settings_updates.cpp;
    // main thread only).
    std::map<std::string, std::function<void(HXSettingsEnd)>> pendingSettingsChanges;
};

// The web client's state of an application object. Not public on the object itself: only the
// service layer's operation objects (calls, sending, list models), the program's entry point and
// tests reach it, through this header, which ui/ may not include.
HXWebClient& HXWebClientOf(HXApplicationWebClient& app);

// Whether a badge of view 1 or 2 is to wait for the service's count rather than show the store's:
// the service has not counted since the launch or the account change, there is a connection, and
// its count is asked for or about to be (a few seconds after those).
bool HXAwaitsServiceUnreadCount(HXApplicationWebClient& app, int viewIndex);
// The store's counts wait for the service's from now (a launch, an account change).
void HXAwaitServiceUnreadCounts(HXApplicationWebClient& app);
// A read change the service confirmed moves its last count by what the change made of it, when
// that count is an answer from before the change went out (a later answer has counted it).
void HXCountConfirmedReadChange(HXApplicationWebClient& app, const HXWebClient::ReadChange& change, bool read);
// While the initial load's lists are still to be asked for, or the shown list waits for its first
// page: the app is not idle for what waits for it (the run's wait-idle).
bool HXLoadingFirstData(HXApplicationWebClient& app);

// Takes every item of username's account out of the on-device search index (a cleared message
// cache, a deleted account).
void HXDeleteSearchItemsOfUser(const std::string& username);

// The operation object app's web client keeps in slot (its calls, sender, settings updates,
// conversation or media operations), made on first use; one for the object's life.
// (App is the web client, complete where this is used.)
template <class Owner, class App>
std::shared_ptr<Owner> HXOperationsOf(const std::shared_ptr<App>& app, std::shared_ptr<Owner> HXWebClient::*slot) {
    std::lock_guard lock(app->monitor());
    auto& kept = HXWebClientOf(*app).*slot;
    if (!kept) kept = std::make_shared<Owner>(app);
    return kept;
}

// Scanners of reply texts (pure; used by the app object's operations and the fuzzers).
std::optional<std::string> HXParseAuthV2FromString(std::string_view text);
std::optional<std::string> HXSMSErrorCodeFromText(std::string_view text);
