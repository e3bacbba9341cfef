// The request machinery of the application object: sending under a tag, the connection
// callbacks, the reply router and the failure handler.
#include <cinttypes>

#include "app/connect_app_delegate.h"
#include "model/account.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/json.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/strings.h"
#include "platform/net/url_parts.h"
#include "service/custom_cookie_jar.h"
#include "service/http_extensions.h"
#include "service/request_machinery.h"

namespace {

constexpr int64_t kNotConnectedToInternet = -1009;
constexpr int64_t kTimedOut = -1001;

void post(const std::string& name, std::shared_ptr<void> object = nullptr) {
    foundation::NotificationCenter::defaultCenter().post(name, std::move(object));
}

template <typename F, typename... A>
void call(const F& f, A&&... a) {
    if (f) f(std::forward<A>(a)...);
}

std::string api(std::string_view endpoint) { return std::string(kHXApiPath) + std::string(endpoint); }

}  // namespace

// ---- AsyncURLConnection

std::shared_ptr<AsyncURLConnection> AsyncURLConnection::create(const net::URLRequest& request,
                                                               std::weak_ptr<HX_ConnectAppDelegate> delegate,
                                                               std::string tag) {
    // As the platform's connection, none is made for a request without a usable URL.
    if (!net::URLParts::parse(request.url())) return nullptr;
    auto c = std::shared_ptr<AsyncURLConnection>(new AsyncURLConnection());
    c->delegate_ = std::move(delegate);
    c->tag_ = std::move(tag);
    c->connection_ = net::URLConnection::create(request, c, true);
    if (!c->connection_) return nullptr;
    return c;
}

void AsyncURLConnection::cancel() {
    if (connection_) connection_->cancel();
}

std::optional<net::URLRequest> AsyncURLConnection::willSendRequest(net::URLConnection&, net::URLRequest request,
                                                                   const net::HTTPURLResponse* redirect) {
    auto app = delegate_.lock();
    if (!app) return request;
    return app->connectionWillSendRequest(*this, std::move(request), redirect);
}

void AsyncURLConnection::didReceiveResponse(net::URLConnection&, const net::HTTPURLResponse& response) {
    statusCode_ = response.statusCode;
    if (auto app = delegate_.lock()) app->connectionDidReceiveResponse(*this, response);
}

void AsyncURLConnection::didReceiveData(net::URLConnection&, const uint8_t* data, size_t size) {
    if (auto app = delegate_.lock()) app->connectionDidReceiveData(*this, data, size);
}

void AsyncURLConnection::didFinishLoading(net::URLConnection&) {
    auto self = shared_from_this();
    if (auto app = delegate_.lock()) app->connectionDidFinishLoading(*this);
}

void AsyncURLConnection::didFailWithError(net::URLConnection&, const foundation::Error& error) {
    auto self = shared_from_this();
    if (auto app = delegate_.lock()) app->connectionDidFailWithError(*this, error);
}

// ---- the table

HXWebClient& HX_ConnectAppDelegate::webClient() {
    std::lock_guard lock(monitor_);
    if (!webClient_) webClient_ = std::make_shared<HXWebClient>();
    return *webClient_;
}

namespace {

// True while the table names this connection for its tag.
bool isCurrent(HXWebClient& web, const AsyncURLConnection& connection) {
    std::lock_guard lock(web.urlDataLock);
    auto it = web.urlData.find(connection.tag());
    return it != web.urlData.end() && it->second.connection.get() == &connection;
}

// Removes the tag's entry when it names this connection; true when the table is then empty.
bool removeEntry(HXWebClient& web, const AsyncURLConnection& connection) {
    std::lock_guard lock(web.urlDataLock);
    auto it = web.urlData.find(connection.tag());
    if (it != web.urlData.end() && it->second.connection.get() == &connection) web.urlData.erase(it);
    return web.urlData.empty();
}

void hideIndicatorIfIdle(HXWebClient& web) {
    bool empty;
    {
        std::lock_guard lock(web.urlDataLock);
        empty = web.urlData.empty();
    }
    if (empty && web.networkActivityIndicatorVisible) {
        web.networkActivityIndicatorVisible = false;
        call(web.hooks.setNetworkActivityIndicatorVisible, false);
    }
}

void removeOverlay(HXWebClient& web) {
    if (web.hooks.loadingOverlayShown && web.hooks.loadingOverlayShown()) call(web.hooks.removeLoadingOverlay);
}

}  // namespace

std::shared_ptr<foundation::Data> HX_ConnectAppDelegate::dataForConnection(const AsyncURLConnection& connection) {
    auto& web = webClient();
    std::lock_guard lock(web.urlDataLock);
    auto it = web.urlData.find(connection.tag());
    if (it == web.urlData.end() || it->second.connection.get() != &connection) return nullptr;
    return it->second.data;
}

void HX_ConnectAppDelegate::startAsyncLoadWithRequest(net::URLRequest request, const std::string& tag) {
    auto& web = webClient();
    const std::string smsPrefix = web.endpoints.servicePageBase() + "sms/send/";
    const bool isSMS = foundation::hasPrefix(tag, smsPrefix);
    const bool locationSwitch = web.hooks.locationSwitchTaskRunning && web.hooks.locationSwitchTaskRunning();
    if (web.firstReachabilityHandled && !locationSwitch && !connectionAvailable() && !isSMS) {
        call(web.hooks.alertNoConnection);
        removeOverlay(web);
        return;
    }
    std::weak_ptr<HX_ConnectAppDelegate> weakSelf = weak_from_this();
    dispatch::Queue::main()->async([weakSelf] {
        auto self = weakSelf.lock();
        if (!self) return;
        auto& w = self->webClient();
        if (!w.networkActivityIndicatorVisible) {
            w.networkActivityIndicatorVisible = true;
            call(w.hooks.setNetworkActivityIndicatorVisible, true);
        }
    });

    request.setValue("gzip, deflate", "Accept-Encoding");
    request.setValue("Keep-Alive", "Connection");
    request.setHTTPShouldHandleCookies(false);
    request.setTimeoutInterval(isInBackground() ? 300 : 90);
    if (auto jar = cookieJar()) jar->addCookiesToRequest(request);

    uint64_t task = 0;
    const std::string key = isSMS ? tag.substr(smsPrefix.size()) : std::string();
    if (isSMS) {
        post("kSMSReplySendingProgressNotification");
        if (web.hooks.beginBackgroundTask) {
            auto taskBox = std::make_shared<uint64_t>(0);
            task = web.hooks.beginBackgroundTask([weakSelf, key, taskBox] {
                auto self = weakSelf.lock();
                if (!self) return;
                auto& w = self->webClient();
                call(w.hooks.removeBackgroundTaskIdentifierForQueuedSMS, key);
                call(w.hooks.endBackgroundTask, *taskBox);
            });
            *taskBox = task;
            call(web.hooks.addBackgroundTaskIdentifierForQueuedSMS, task, key);
        }
    }

    auto connection = AsyncURLConnection::create(request, weakSelf, tag);
    if (!connection) {
        if (task) {
            call(web.hooks.endBackgroundTask, task);
            // Without this the queue keeps a task id for a send that never ran, and the message
            // would be dropped as one "under way" at the next start.
            call(web.hooks.removeBackgroundTaskIdentifierForQueuedSMS, key);
        }
        return;
    }
    std::lock_guard lock(web.urlDataLock);
    web.urlData[tag] = HXRequestEntry{connection->buffer(), connection};
}

net::URLRequest HX_ConnectAppDelegate::postRequestForURL(const std::string& url, const foundation::Data& data) {
    net::URLRequest request(url);
    request.setHTTPMethod("POST");
    request.setHTTPBody(data);
    request.setValue(std::to_string(data.size()), "Content-Length");
    request.setValue("application/x-www-form-urlencoded", "Content-Type");
    return request;
}

net::URLRequest HX_ConnectAppDelegate::postRequestForURLWithDict(const std::string& url,
                                                                 const foundation::Dictionary& dict) {
    std::string body = formatForHTTPUsingEncoding(dict, StringEncoding::UTF8);
    return postRequestForURL(url, foundation::Data(body.begin(), body.end()));
}

std::optional<net::URLRequest> HX_ConnectAppDelegate::apiRequestWithDict(const foundation::Dictionary& description) {
    auto& web = webClient();
    std::optional<std::string> authorization = web.hooks.retrieveOAuth ? web.hooks.retrieveOAuth() : std::nullopt;
    if (!authorization) return std::nullopt;
    const std::string origin = web.endpoints.api;
    net::URLRequest request(origin + description.get("url").stringValue());
    request.setValue(*authorization, "Authorization");
    request.setValue(web.endpoints.webClient, "X-Origin");
    request.setValue(origin, "Origin");
    request.setValue(description.get("contentType").stringValue(), "Content-Type");
    request.setValue("XMLHttpRequest", "X-Requested-With");
    request.setHTTPMethod("POST");
    std::string body = description.get("body").stringValue();
    request.setHTTPBody(std::string_view(body));
    request.setValue(std::to_string(body.size()), "Content-Length");
    return request;
}

std::optional<foundation::Value> HX_ConnectAppDelegate::parseObjectFromApiResponse(std::string_view text) const {
    auto parsed = foundation::parseJSON(text);
    if (!parsed.ok()) return std::nullopt;
    return std::move(parsed).value();
}

std::optional<foundation::Dictionary>
HX_ConnectAppDelegate::imageInfoForSize(const std::string& size, const foundation::Array& infoArray) const {
    for (size_t i = 0; i < infoArray.size(); ++i) {
        if (!infoArray[i].isDictionary()) continue;
        const auto& d = infoArray[i].asDictionary();
        auto matches = [&](const char* key) {
            const auto* v = d.find(key);
            return v && v->isString() && v->asString() == size;
        };
        if (matches("sizeSpec") || matches("size_spec")) {
            foundation::Dictionary copy = d;
            copy.set("index", foundation::Value(static_cast<int64_t>(i)));
            return copy;
        }
    }
    return std::nullopt;
}

void HX_ConnectAppDelegate::showSMSErrorFromData(const foundation::Data& data) {
    auto& web = webClient();
    std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
    std::string message = "Failed to send the message - please verify the target number.";
    if (auto code = HXSMSErrorCodeFromText(text)) message += "\n\nHX Voice returned an error:\n" + *code;
    call(web.hooks.presentAlert,
         HXAlert{"Sending Message Failed", message, {{"Dismiss", HXAlertAction::Style::Default, {}}}});
    post("kSMSSendingFailureNotification");
}

std::optional<std::string> HX_ConnectAppDelegate::parseAuthV2FromString(std::string_view text) const {
    return HXParseAuthV2FromString(text);
}

// ---- callbacks before the end

std::optional<net::URLRequest> HX_ConnectAppDelegate::connectionWillSendRequest(AsyncURLConnection& connection,
                                                                                net::URLRequest request,
                                                                                const net::HTTPURLResponse* redirect) {
    auto& web = webClient();
    if (foundation::hasPrefix(request.url(), web.endpoints.service + "/accounts/AccountLogin")) {
        bool clientAuthInFlight;
        {
            std::lock_guard lock(web.urlDataLock);
            clientAuthInFlight = web.urlData.count("ClientAuth") > 0;
        }
        connection.cancel();
        removeEntry(web, connection);
        post("kCookiesExpiredNotification");
        if (!isInBackground() && !clientAuthInFlight) call(web.hooks.login);
        hideIndicatorIfIdle(web);
        return std::nullopt;
    }
    if (foundation::hasPrefix(connection.tag(), web.endpoints.servicePageBase() + "sms/send/") &&
        isCurrent(web, connection))
        post("kSMSReplySendingProgressNotification");
    auto jar = cookieJar();
    if (redirect && jar) jar->updateFromResponse(*redirect);
    if (jar) jar->addCookiesToRequest(request);
    return request;
}

void HX_ConnectAppDelegate::connectionDidReceiveResponse(AsyncURLConnection& connection,
                                                         const net::HTTPURLResponse& response) {
    auto& web = webClient();
    if (auto jar = cookieJar()) jar->updateFromResponse(response);
    const bool current = isCurrent(web, connection);
    if (current && foundation::hasPrefix(connection.tag(), web.endpoints.servicePageBase() + "sms/send/"))
        post("kSMSReplySendingProgressNotification");
    const std::string voicemail = web.endpoints.mediaBase() + "v/";
    if (current && response.statusCode == 500 && foundation::hasPrefix(connection.tag(), voicemail)) {
        connection.cancel();
        removeEntry(web, connection);
        downloadRecordedCallForID(
            connection.tag().size() > voicemail.size() ? connection.tag().substr(voicemail.size() + 1) : "");
        hideIndicatorIfIdle(web);
        return;
    }
    connection.buffer()->clear();
}

void HX_ConnectAppDelegate::connectionDidReceiveData(AsyncURLConnection& connection, const uint8_t* data, size_t size) {
    auto& web = webClient();
    connection.buffer()->insert(connection.buffer()->end(), data, data + size);
    if (foundation::hasPrefix(connection.tag(), web.endpoints.servicePageBase() + "sms/send/") &&
        isCurrent(web, connection))
        post("kSMSReplySendingProgressNotification");
}

// ---- routing

namespace {

HXReplyRow rowForTag(const HXWebClient& web, const std::string& tag) {
    const std::string page = web.endpoints.servicePageBase();
    const std::string media = web.endpoints.mediaBase();
    auto eq = [&](const std::string& s) { return tag == s; };
    auto begins = [&](const std::string& s) { return foundation::hasPrefix(tag, s); };
    using R = HXReplyRow;
    if (eq("OAuth_listSessions")) return R::OAuthListSessions;
    if (eq("OAuth_issueToken")) return R::OAuthIssueToken;
    if (eq("DIRECT_CALL")) return R::DirectCall;
    if (eq("ClientAuth")) return R::ClientAuth;
    if (eq(page + "inbox/recent/unread/")) return R::Unread;
    if (eq(api("threadinginfo/get?alt=json"))) return R::ThreadingInfo;
    if (begins(api("api2thread/get?alt=json"))) return R::Api2Thread;
    if (begins(page + "inbox/recent/sms/")) return R::SMSList;
    if (begins(page + "inbox/recent/voicemail/")) return R::VoicemailList;
    if (begins(page + "inbox/recent/spam/")) return R::Spam;
    if (begins(page + "inbox/recent/archive/")) return R::Archive;
    if (begins(page + "inbox/recent/all/")) return R::History;
    if (begins(page + "inbox/search/?q=")) return R::Search;
    if (eq(api("account/get?alt=json"))) return R::AccountGet;
    if (begins(api("account/update?alt=json"))) return R::AccountUpdate;
    if (begins(api("threaditem/delete?alt=json"))) return R::ThreadItemDelete;
    if (begins(page + "inbox/deleteForeverMessages/")) return R::DeleteForever;
    if (begins(page + "inbox/archiveMessages/")) return R::ArchiveMessages;
    if (begins(page + "inbox/mark/")) return R::Mark;
    if (begins("markSpamStatus")) return R::MarkSpam;
    if (begins(page + "inbox/block/")) return R::Block;
    // The tag of an added contact is the whole request URL followed by "_number_name".
    if (!web.addContactURL.empty() && begins(web.addContactURL)) return R::AddContact;
    if (begins(page + "sms/send/")) return R::SMSSend;
    if (begins(media + "v/") || begins(media + "cr/cra:")) return R::MediaAudio;
    if (begins(media + "vi/") || begins(media + "au/") || begins(media + "vc/")) return R::MediaFile;
    if (begins(media + "i/")) return R::MediaImage;
    return R::None;
}

}  // namespace

void HX_ConnectAppDelegate::connectionDidFinishLoading(AsyncURLConnection& connection) {
    auto& web = webClient();
    // A connection superseded under its tag has nothing to route: the table speaks for the new one.
    if (!isCurrent(web, connection)) return;
    HXRoutedReply reply;
    reply.tag = connection.tag();
    reply.data = dataForConnection(connection);
    if (reply.data) reply.text.assign(reply.data->begin(), reply.data->end());
    reply.statusCode = connection.statusCode();
    const HXReplyRow row = rowForTag(web, reply.tag);
    bool tail = true;
    auto branch = [&](HXReplyRow r) -> bool {
        const auto& slot = web.hooks.branches[static_cast<int>(r)];
        return slot ? slot(reply) : true;
    };
    using R = HXReplyRow;
    switch (row) {
        case R::ClientAuth:
            removeEntry(web, connection);
            branch(row);
            tail = false;
            break;
        case R::SMSSend:
            branch(row);
            tail = false;
            break;
        case R::Unread:
            if (reply.text.empty()) {
                if (!isInBackground() && autoRefresh()) {
                    std::weak_ptr<HX_ConnectAppDelegate> weakSelf = weak_from_this();
                    dispatch::Queue::main()->async([weakSelf] {
                        if (auto self = weakSelf.lock()) call(self->webClient().hooks.queueRefresh);
                        post("kUnreadItemsProcessedNotification");
                    });
                }
            } else if (const auto& slot = web.hooks.branches[static_cast<int>(row)]) {
                dispatch::Queue::global(dispatch::Priority::Background)->async([slot, reply] { slot(reply); });
            }
            break;
        case R::SMSList:
            post("kSMSNotification", reply.data);
            break;
        case R::VoicemailList:
            post("kVMNotification", reply.data);
            break;
        case R::History:
            post("kHistoryNotification", reply.data);
            break;
        case R::Search:
            post("kSearchResultsNotification", reply.data);
            break;
        case R::Api2Thread:
        case R::Spam:
        case R::Archive:
            if (!reply.text.empty()) tail = branch(row);
            break;
        case R::AccountGet:
        case R::AccountUpdate:
            if (reply.data) tail = branch(row);
            break;
        case R::MediaAudio:
        case R::MediaFile:
        case R::MediaImage:
            storeMediaReply(reply);
            break;
        case R::None:
            break;
        default:
            tail = branch(row);
            break;
    }
    if (!tail) return;
    removeEntry(web, connection);
    hideIndicatorIfIdle(web);
}

// ---- failure

void HX_ConnectAppDelegate::connectionDidFailWithError(AsyncURLConnection& connection, const foundation::Error& error) {
    auto& web = webClient();
    if (!isCurrent(web, connection)) return;
    const std::string tag = connection.tag();
    removeEntry(web, connection);
    const std::string page = web.endpoints.servicePageBase();
    const std::string smsPrefix = page + "sms/send/";
    const bool isSMS = foundation::hasPrefix(tag, smsPrefix);

    if (tag == api("account/get?alt=json")) {
        call(web.hooks.clearSettingsLoading);
        if (web.hooks.pendingLocationSwitch) {
            if (auto name = web.hooks.pendingLocationSwitch()) call(web.hooks.rescheduleSwitchToLocation, *name, 60.0);
        }
    }
    if (isSMS) post("kRemoveSMSReplySendingProgressNotification");
    hideIndicatorIfIdle(web);

    if (isSMS) {
        const std::string key = tag.substr(smsPrefix.size());
        if (web.hooks.backgroundTaskIdentiferForSMS) {
            if (auto task = web.hooks.backgroundTaskIdentiferForSMS(key)) {
                call(web.hooks.endBackgroundTask, *task);
                call(web.hooks.removeBackgroundTaskIdentifierForQueuedSMS, key);
            }
        }
        if (error.code == kNotConnectedToInternet) {
            auto state = web.hooks.smsQueueState ? web.hooks.smsQueueState(key) : HXWebClientHooks::QueueState::Absent;
            if (state != HXWebClientHooks::QueueState::Queued) {
                std::weak_ptr<HX_ConnectAppDelegate> weakSelf = weak_from_this();
                HXAlert alert{"No Network Connection",
                              "The SMS cannot be sent at the moment - do you want to queue it for sending later?\n"
                              "It will be sent automatically the next time data access is available while the HX "
                              "Connect is running.",
                              {}};
                alert.actions.push_back({"Cancel", HXAlertAction::Style::Cancel, [weakSelf, key] {
                                             auto self = weakSelf.lock();
                                             if (!self) return;
                                             call(self->webClient().hooks.removeSMSfromQueue, key);
                                             if (self->iPad()) call(self->webClient().hooks.setFirstResponder);
                                         }});
                alert.actions.push_back({"Send Later", HXAlertAction::Style::Default, [weakSelf, key] {
                                             auto self = weakSelf.lock();
                                             if (!self) return;
                                             auto& h = self->webClient().hooks;
                                             if (h.smsQueueState &&
                                                 h.smsQueueState(key) != HXWebClientHooks::QueueState::Absent) {
                                                 call(h.markSMSQueued, key);
                                                 post("kSMSReplySentNotification");
                                             }
                                             if (self->iPad()) call(h.setFirstResponder);
                                         }});
                call(web.hooks.presentAlert, alert);
            }
        }
    } else if (error.code == kNotConnectedToInternet) {
        if (tag != page + "inbox/recent/unread/" && tag != api("threadinginfo/get?alt=json") &&
            tag != api("account/get?alt=json") && tag != "OAuth_issueToken") {
            call(web.hooks.alertNoConnection);
            call(web.hooks.abortLoadingOfCurrentList);
        }
    } else if (error.code == kTimedOut) {
        if (tag != api("threadinginfo/get?alt=json") && tag != page + "inbox/recent/unread/" &&
            tag != "OAuth_issueToken")
            call(web.hooks.alertSlowConnection);
    }

    removeOverlay(web);
    if (foundation::hasPrefix(tag, page + "inbox/recent/sms/"))
        post("kSMSNotification");
    else if (foundation::hasPrefix(tag, page + "inbox/recent/voicemail/"))
        post("kVMNotification");
    else if (foundation::hasPrefix(tag, page + "inbox/recent/all/"))
        post("kHistoryNotification");
    else if (foundation::hasPrefix(tag, page + "inbox/search/?q="))
        post("kSearchResultsNotification");
    else if (tag == page + "inbox/recent/unread/" && !isInBackground()) {
        std::weak_ptr<HX_ConnectAppDelegate> weakSelf = weak_from_this();
        dispatch::Queue::main()->async([weakSelf] {
            if (auto self = weakSelf.lock()) call(self->webClient().hooks.queueRefresh);
        });
    }
    if (completionHandler()) {
        auto handler = completionHandler();
        setCompletionHandler(nullptr);
        handler();
    }
}
