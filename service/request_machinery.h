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
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/alert.h"
#include "platform/foundation/error.h"
#include "platform/foundation/value.h"
#include "platform/net/url_connection.h"
#include "platform/net/url_request.h"

class HXApplicationWebClient;

// The origins ("scheme://host[:port]") of the service's host roles. Configuration, so tests and
// the local run can point every role at the emulator.
struct HXEndpoints {
    std::string service = "https://voice.hx.example";
    std::string signIn = "https://accounts.hx.example";
    std::string api = "https://clients.hx.example";
    std::string protobufApi = "https://pb.hx.example";
    std::string webClient = "https://web.hx.example";
    std::string contacts = "https://contacts.hx.example";
    // The domain suffix of the OAuth web client's identifier.
    std::string clientIdDomain = ".apps.hxusercontent.example";

    // Every role served by one origin (the emulator answers for all of them).
    static HXEndpoints allAt(const std::string& origin) {
        HXEndpoints e;
        e.service = e.signIn = e.api = e.protobufApi = e.webClient = e.contacts = origin;
        return e;
    }
    std::string servicePageBase() const { return service + "/voice/"; }
    std::string mediaBase() const { return webClient + "/a/"; }
};

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
};

struct HXRequestEntry {
    std::shared_ptr<foundation::Data> data;
    std::shared_ptr<AsyncURLConnection> connection;
};

// A finished reply handed to a branch of the router.
struct HXRoutedReply {
    std::string tag;
    std::shared_ptr<foundation::Data> data;  // null when the tag had no buffer
    std::string text;                        // data as UTF-8, "" without data
    int statusCode = 0;
};

// Routing rows of the finished-reply handler, in the order they are tested.
enum class HXReplyRow : int {
    OAuthListSessions = 1,
    OAuthIssueToken,
    DirectCall,
    ClientAuth,
    Unread,
    ThreadingInfo,
    Api2Thread,
    SMSList,
    VoicemailList,
    Spam,
    Archive,
    History,
    Search,
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
    // The request table and its monitor (re-entered: a media check starts a request under it).
    std::recursive_mutex urlDataLock;
    std::map<std::string, HXRequestEntry> urlData;
    bool networkActivityIndicatorVisible = false;
    // The request URL (with its query) of an added contact, set by the contacts operations;
    // empty while none is known, so no tag is taken for one.
    std::string addContactURL;
    bool firstReachabilityHandled = false;
    // Where media files go; the platform's caches folder unless set.
    std::optional<std::string> cachesDirectory;
    // The object cache for pictures and previews; the shared one unless set.
    std::shared_ptr<class HXCCache> objectCache;
    // The operations that keep state of their own, made on first use.
    std::shared_ptr<class HXCalls> calls;
    std::shared_ptr<class HXMessageSender> sender;
};

// Scanners of reply texts (pure; used by the app object's operations and the fuzzers).
std::optional<std::string> HXParseAuthV2FromString(std::string_view text);
std::optional<std::string> HXSMSErrorCodeFromText(std::string_view text);
