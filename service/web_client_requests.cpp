// The web client slice of the application object, its request machinery: sending under a tag, the connection
// callbacks, the reply router and the failure handler.
#include <algorithm>
#include <cinttypes>
#include <utility>

#include "model/account.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/application.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/json.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/strings.h"
#include "platform/net/url_error.h"
#include "platform/net/url_parts.h"
#include "service/application_web_client.h"
#include "service/calls.h"
#include "service/custom_cookie_jar.h"
#include "service/http_extensions.h"
#include "service/media_operations.h"
#include "service/message_list_receiver.h"
#include "service/request_machinery.h"
#include "service/sms_sending.h"
#include "service/source_helpers.h"

using namespace hxservice;

namespace {

constexpr int64_t kNotConnectedToInternet = -1009;
constexpr int64_t kTimedOut = -1001;

}  // namespace

// ---- AsyncURLConnection

std::shared_ptr<AsyncURLConnection> AsyncURLConnection::create(const net::URLRequest& request,
                                                               std::weak_ptr<HXApplicationWebClient> delegate,
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
    bodyWriter_.discard();
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
    // What arrived of a failed reply (one over its bound too) leaves nothing behind.
    bodyWriter_.discard();
    if (auto app = delegate_.lock()) app->connectionDidFailWithError(*this, error);
}

// ---- the table

HXApplicationWebClient::HXApplicationWebClient() = default;
HXApplicationWebClient::~HXApplicationWebClient() = default;

std::weak_ptr<HXApplicationWebClient> HXApplicationWebClient::weakWebClient() {
    return std::static_pointer_cast<HXApplicationWebClient>(weak_from_this().lock());
}

HXWebClient& HXApplicationWebClient::webClient() {
    std::lock_guard lock(monitor());
    if (!webClient_) webClient_ = std::make_shared<HXWebClient>();
    return *webClient_;
}

const HXEndpoints& HXApplicationWebClient::endpoints() { return webClient().endpoints; }

HXWebClient& HXWebClientOf(HXApplicationWebClient& app) { return app.webClient(); }

// ---- the request table

bool HXRequestTable::contains(const std::string& tag) const {
    std::lock_guard lock(mutex_);
    return entries_.count(tag) > 0;
}

bool HXRequestTable::empty() const {
    std::lock_guard lock(mutex_);
    return entries_.empty();
}

size_t HXRequestTable::size() const {
    std::lock_guard lock(mutex_);
    return entries_.size();
}

std::vector<std::string> HXRequestTable::tags() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> tags;
    for (const auto& [tag, entry] : entries_) tags.push_back(tag);
    return tags;
}

bool HXRequestTable::anyWithPrefix(std::string_view prefix) const {
    std::lock_guard lock(mutex_);
    auto it = entries_.lower_bound(std::string(prefix));
    return it != entries_.end() && it->first.starts_with(prefix);
}

HXRequestTable::~HXRequestTable() {
    for (auto& connection : take([](const std::string&) { return true; })) connection->cancel();
}

void HXRequestTable::put(const std::string& tag, HXRequestEntry entry) {
    std::lock_guard lock(mutex_);
    std::erase_if(replaced_, [](const auto& weak) { return weak.expired(); });
    HXRequestEntry& slot = entries_[tag];
    if (slot.connection && slot.connection != entry.connection) replaced_.push_back(slot.connection);
    slot = std::move(entry);
}

bool HXRequestTable::erase(const std::string& tag) {
    std::lock_guard lock(mutex_);
    entries_.erase(tag);
    return entries_.empty();
}

bool HXRequestTable::isCurrent(const AsyncURLConnection& connection) const {
    std::lock_guard lock(mutex_);
    auto it = entries_.find(connection.tag());
    return it != entries_.end() && it->second.connection.get() == &connection;
}

std::shared_ptr<foundation::Data> HXRequestTable::dataFor(const AsyncURLConnection& connection) const {
    std::lock_guard lock(mutex_);
    auto it = entries_.find(connection.tag());
    if (it == entries_.end() || it->second.connection.get() != &connection) return nullptr;
    return it->second.data;
}

bool HXRequestTable::removeIfCurrent(const AsyncURLConnection& connection) {
    std::lock_guard lock(mutex_);
    auto it = entries_.find(connection.tag());
    if (it != entries_.end() && it->second.connection.get() == &connection) entries_.erase(it);
    return entries_.empty();
}

std::vector<std::shared_ptr<AsyncURLConnection>>
HXRequestTable::take(const std::function<bool(const std::string&)>& chosen) {
    std::vector<std::shared_ptr<AsyncURLConnection>> taken;
    std::lock_guard lock(mutex_);
    for (auto it = entries_.begin(); it != entries_.end();) {
        if (!chosen(it->first)) {
            ++it;
            continue;
        }
        if (it->second.connection) taken.push_back(it->second.connection);
        it = entries_.erase(it);
    }
    std::erase_if(replaced_, [&](const auto& weak) {
        auto connection = weak.lock();
        if (!connection) return true;
        if (!chosen(connection->tag())) return false;
        taken.push_back(std::move(connection));
        return true;
    });
    return taken;
}

bool HXRequestTable::startIfAbsent(const std::string& tag, const std::function<void()>& start) {
    std::lock_guard lock(mutex_);
    if (entries_.count(tag)) return false;
    start();
    return true;
}

namespace {

bool isCurrent(HXWebClient& web, const AsyncURLConnection& connection) { return web.requests.isCurrent(connection); }

bool removeEntry(HXWebClient& web, const AsyncURLConnection& connection) {
    return web.requests.removeIfCurrent(connection);
}

void hideIndicatorIfIdle(HXApplicationWebClient& app) {
    auto& web = HXWebClientOf(app);
    if (web.requests.empty() && web.networkActivityIndicatorVisible) {
        web.networkActivityIndicatorVisible = false;
        app.setNetworkActivityIndicatorVisible(false);
    }
}

void removeOverlay(HXApplicationWebClient& app) {
    if (app.loadingOverlayShown()) app.removeLoadingOverlay();
}

// Tells the one who sent the text message of key how its send ended.
void answerSMS(HXApplicationWebClient& app, const std::string& key, HXSendAnswer::Kind end) {
    if (auto self = app.weakWebClient().lock()) HXMessageSender::of(self)->answer(key, {end, {}});
}

}  // namespace

bool HXApplicationWebClient::requestInFlight(const std::string& tag) { return webClient().requests.contains(tag); }

bool HXApplicationWebClient::isIdle() { return webClient().requests.empty(); }

void HXApplicationWebClient::cancelRequests(const std::function<bool(const std::string&)>& chosen) {
    // Outside the table's monitor: a cancelled connection may call back into the machinery.
    for (auto& connection : webClient().requests.take(chosen)) {
        connection->cancel();
        // A completion that waited for the request is answered: the request has ended. So is the
        // one who asked for its reply (a page a screen waits for), with nothing.
        if (auto handler = takeCompletionHandler(connection->tag())) handler();
        if (auto answer = std::exchange(connection->answer_, {})) answer(nullptr);
    }
}

void HXApplicationWebClient::cancelRequests(const std::vector<std::string>& tags) {
    cancelRequests([&](const std::string& tag) { return std::find(tags.begin(), tags.end(), tag) != tags.end(); });
}

std::shared_ptr<HXMessageListReceiver> HXApplicationWebClient::currentMessageList() {
    return messageListForViewIndex(currentViewIndex());
}

std::shared_ptr<foundation::Data> HXApplicationWebClient::dataForConnection(const AsyncURLConnection& connection) {
    return webClient().requests.dataFor(connection);
}

bool HXApplicationWebClient::startAsyncLoadWithRequest(net::URLRequest request, const std::string& tag,
                                                       HXReplyAnswer answer, std::string bodyFile) {
    auto& web = webClient();
    const std::string smsPrefix = web.endpoints.servicePageBase() + "sms/send/";
    const bool isSMS = foundation::hasPrefix(tag, smsPrefix);
    if (web.firstReachabilityHandled && !locationSwitchTaskRunning() && !connectionAvailable() && !isSMS) {
        alertNoConnection();
        removeOverlay(*this);
        return false;
    }
    std::weak_ptr<HXApplicationWebClient> weakSelf = weakWebClient();
    dispatch::Queue::main()->async([weakSelf] {
        auto self = weakSelf.lock();
        if (!self) return;
        auto& w = self->webClient();
        if (!w.networkActivityIndicatorVisible) {
            w.networkActivityIndicatorVisible = true;
            self->setNetworkActivityIndicatorVisible(true);
        }
    });

    request.setValue("gzip, deflate", "Accept-Encoding");
    request.setValue("Keep-Alive", "Connection");
    request.setHTTPShouldHandleCookies(false);
    request.setTimeoutInterval(isInBackground() ? 300 : 90);
    // However slowly a reply trickles in, the request ends (as timed out) within twice that.
    request.setDeadlineInterval(isInBackground() ? 600 : 180);
    if (auto jar = cookieJar()) jar->addCookiesToRequest(request);

    uint64_t task = 0;
    const std::string key = isSMS ? tag.substr(smsPrefix.size()) : std::string();
    if (isSMS) {
        post("kSMSReplySendingProgressNotification");
        auto taskBox = std::make_shared<uint64_t>(0);
        task = foundation::Application::shared().beginBackgroundTask("SMS " + key, [weakSelf, key, taskBox] {
            if (auto self = weakSelf.lock()) self->removeBackgroundTaskIdentifierForQueuedSMS(key);
            foundation::Application::shared().endBackgroundTask(*taskBox);
        });
        *taskBox = task;
        addBackgroundTaskIdentifierForQueuedSMS(task, key);
    }

    auto connection = AsyncURLConnection::create(request, weakSelf, tag);
    if (connection) {
        // Set before the loop's next turn, which sends the request.
        connection->answer_ = std::move(answer);
        connection->bodyFile_ = std::move(bodyFile);
    }
    if (!connection) {
        if (task) {
            foundation::Application::shared().endBackgroundTask(task);
            // Without this the queue keeps a task id for a send that never ran, and the message
            // would be dropped as one "under way" at the next start.
            removeBackgroundTaskIdentifierForQueuedSMS(key);
        }
        return false;
    }
    web.requests.put(tag, HXRequestEntry{connection->buffer(), connection});
    return true;
}

net::URLRequest HXApplicationWebClient::postRequestForURL(const std::string& url, const foundation::Data& data) {
    net::URLRequest request(url);
    request.setHTTPMethod("POST");
    request.setHTTPBody(data);
    request.setValue(std::to_string(data.size()), "Content-Length");
    request.setValue("application/x-www-form-urlencoded", "Content-Type");
    return request;
}

net::URLRequest HXApplicationWebClient::postRequestForURLWithDict(const std::string& url,
                                                                  const foundation::Dictionary& dict) {
    std::string body = formatForHTTPUsingEncoding(dict, StringEncoding::UTF8);
    return postRequestForURL(url, foundation::Data(body.begin(), body.end()));
}

std::optional<net::URLRequest> HXApplicationWebClient::apiRequestWithDict(const foundation::Dictionary& description) {
    auto& web = webClient();
    std::optional<std::string> authorization = retrieveOAuth();
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

std::optional<foundation::Value> HXApplicationWebClient::parseObjectFromApiResponse(std::string_view text) const {
    auto parsed = foundation::parseJSON(text);
    if (!parsed.ok()) return std::nullopt;
    return std::move(parsed).value();
}

std::optional<foundation::Dictionary> HXApplicationWebClient::imageInfoForSize(const std::string& size,
                                                                               const foundation::Array& infoArray) {
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

void HXApplicationWebClient::showSMSErrorFromData(const foundation::Data& data) {
    std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
    std::string message = "Failed to send the message - please verify the target number.";
    if (auto code = HXSMSErrorCodeFromText(text)) message += "\n\nHX Voice returned an error:\n" + *code;
    presentAlert(HXAlert{"Sending Message Failed", message, {{"Dismiss", HXAlertAction::Style::Default, {}}}});
    post("kSMSSendingFailureNotification");
}

std::optional<std::string> HXApplicationWebClient::parseAuthV2FromString(std::string_view text) const {
    return HXParseAuthV2FromString(text);
}

// ---- callbacks before the end

std::optional<net::URLRequest> HXApplicationWebClient::connectionWillSendRequest(AsyncURLConnection& connection,
                                                                                 net::URLRequest request,
                                                                                 const net::HTTPURLResponse* redirect) {
    auto& web = webClient();
    if (foundation::hasPrefix(request.url(), web.endpoints.service + "/accounts/AccountLogin")) {
        const bool clientAuthInFlight = requestInFlight("ClientAuth");
        const bool isClientAuth = connection.tag() == "ClientAuth" && isCurrent(web, connection);
        connection.cancel();
        removeEntry(web, connection);
        post("kCookiesExpiredNotification");
        if (isClientAuth) {
            // The sign-in's own page sent us back to sign in: nothing else will take the overlay
            // down, so the panel starts over instead of waiting under it for good.
            removeOverlay(*this);
            if (!isInBackground()) displayLogin();
        } else if (!isInBackground() && !clientAuthInFlight) {
            login();
        }
        hideIndicatorIfIdle(*this);
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

void HXApplicationWebClient::connectionDidReceiveResponse(AsyncURLConnection& connection,
                                                          const net::HTTPURLResponse& response) {
    auto& web = webClient();
    ++web.responsesReceived;
    if (auto jar = cookieJar()) jar->updateFromResponse(response);
    const bool current = isCurrent(web, connection);
    if (current && foundation::hasPrefix(connection.tag(), web.endpoints.servicePageBase() + "sms/send/"))
        post("kSMSReplySendingProgressNotification");
    const std::string voicemail = web.endpoints.mediaBase() + "v/";
    if (current && response.statusCode == 500 && foundation::hasPrefix(connection.tag(), voicemail)) {
        connection.cancel();
        removeEntry(web, connection);
        // Not a voicemail: the same id is asked for as a recorded call.
        if (auto self = weakWebClient().lock())
            HXMediaOperations::of(self)->downloadRecordedCallForID(
                connection.tag().size() > voicemail.size() ? connection.tag().substr(voicemail.size() + 1) : "");
        hideIndicatorIfIdle(*this);
        return;
    }
    connection.buffer()->clear();
    if (!connection.bodyFile_.empty()) {
        connection.bodyWriter_.discard();
        // Only the item itself goes to its file; an error page's body is let go as it comes (the
        // router stores nothing for it).
        if (response.statusCode >= 200 && response.statusCode < 300) {
            const std::filesystem::path file = connection.bodyFile_;
            (void)foundation::files::createDirectory(file.parent_path());
            (void)connection.bodyWriter_.open(file);
        }
    }
}

void HXApplicationWebClient::connectionDidReceiveData(AsyncURLConnection& connection, const uint8_t* data,
                                                      size_t size) {
    auto& web = webClient();
    if (!connection.bodyFile_.empty()) {
        // A failed write is kept by the writer, which then stores nothing.
        if (connection.bodyWriter_.isOpen()) (void)connection.bodyWriter_.write(data, size);
    } else {
        connection.buffer()->insert(connection.buffer()->end(), data, data + size);
    }
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

void HXApplicationWebClient::connectionDidFinishLoading(AsyncURLConnection& connection) {
    auto& web = webClient();
    // A connection superseded under its tag has nothing to route: the table speaks for the new one.
    if (!isCurrent(web, connection)) return;
    // A refusal of a token the account no longer holds says nothing of its session now: it fails
    // as a reply nothing can be taken from, instead of asking for a sign-in that has just been
    // made. (Calls and sends keep their own answers to a refused token.)
    const HXReplyRow row = rowForTag(web, connection.tag());
    if (row != HXReplyRow::DirectCall && row != HXReplyRow::SMSSend && connection.statusCode() == 401 &&
        !refusalOfCurrentSession(connection)) {
        connectionDidFailWithError(connection, net::urlError(net::kURLErrorBadServerResponse, connection.tag(),
                                                             "a token the account no longer holds was refused"));
        return;
    }
    HXRoutedReply reply;
    reply.tag = connection.tag();
    reply.data = dataForConnection(connection);
    // A reply someone asked for goes to them alone, once.
    if (auto answer = std::exchange(connection.answer_, {})) {
        answer(reply.data);
        removeEntry(web, connection);
        hideIndicatorIfIdle(*this);
        return;
    }
    if (reply.data) reply.text.assign(reply.data->begin(), reply.data->end());
    reply.statusCode = connection.statusCode();
    if (!connection.bodyFile_.empty()) reply.bodyFile = &connection.bodyWriter_;
    bool tail = true;
    std::shared_ptr<const foundation::Data> bytes = reply.data;
    std::weak_ptr<HXApplicationWebClient> weakSelf = weakWebClient();
    using R = HXReplyRow;
    switch (row) {
        case R::OAuthListSessions:
        case R::OAuthIssueToken:
            if (!(row == R::OAuthListSessions ? listSessionsReply(reply) : issueTokenReply(reply))) {
                // A token reply nothing can be taken from fails like the request itself would.
                connectionDidFailWithError(connection, net::urlError(net::kURLErrorBadServerResponse, reply.tag,
                                                                     "the token reply cannot be read"));
                tail = false;
            }
            break;
        case R::ClientAuth:
            removeEntry(web, connection);
            clientAuthReply(reply);
            // Its entry went first, so the tail is skipped, but not the indicator.
            hideIndicatorIfIdle(*this);
            tail = false;
            break;
        case R::SMSSend:
            if (auto self = weakSelf.lock()) HXMessageSender::of(self)->smsReply(reply);
            tail = false;
            break;
        case R::DirectCall:
            if (auto self = weakSelf.lock()) tail = HXCalls::of(self)->directCallReply(reply);
            break;
        case R::ThreadItemDelete:
        case R::DeleteForever:
        case R::ArchiveMessages:
        case R::Mark:
        case R::MarkSpam:
        case R::Block:
        case R::AddContact:
            conversationReply(row, reply);
            break;
        case R::Unread:
            if (reply.text.empty()) {
                if (!isInBackground() && autoRefresh()) {
                    dispatch::Queue::main()->async([weakSelf] {
                        if (auto self = weakSelf.lock()) self->queueRefresh();
                        post("kUnreadItemsProcessedNotification");
                    });
                }
            } else {
                // Parsed for the account it came for: one made current meanwhile (a new sign-in)
                // has loads of its own, and a refusal of the old session is not its. The reply is
                // read off the main queue; what it says is acted on there.
                std::weak_ptr<HX_Account> cameFor = account();
                dispatch::Queue::global(dispatch::Priority::Background)->async([weakSelf, bytes, cameFor] {
                    auto scan = HXScanUnreadReply(bytes.get());
                    dispatch::Queue::main()->async([weakSelf, bytes, cameFor, scan] {
                        auto self = weakSelf.lock();
                        if (self && self->account() == cameFor.lock()) self->getUnreadMessagesFromData(bytes, {}, scan);
                    });
                });
            }
            break;
        case R::ThreadingInfo:
            threadingInfoReply(reply);
            break;
        case R::AccountGet:
        case R::AccountUpdate:
            if (reply.data) getPhoneSettingsFromData(*reply.data);
            break;
        case R::MediaAudio:
        case R::MediaFile:
        case R::MediaImage:
            storeMediaReply(reply);
            break;
        case R::None:
            break;
    }
    if (!tail) return;
    removeEntry(web, connection);
    hideIndicatorIfIdle(*this);
}

// ---- failure

void HXApplicationWebClient::connectionDidFailWithError(AsyncURLConnection& connection,
                                                        const foundation::Error& error) {
    auto& web = webClient();
    web.lastFailure = error.localizedDescription();
    if (!isCurrent(web, connection)) return;
    const std::string tag = connection.tag();
    removeEntry(web, connection);
    const std::string page = web.endpoints.servicePageBase();
    const std::string smsPrefix = page + "sms/send/";
    const bool isSMS = foundation::hasPrefix(tag, smsPrefix);

    if (tag == api("account/get?alt=json")) {
        setSettingsLoading(false);
        if (auto name = pendingLocationSwitch()) rescheduleSwitchToLocation(*name, 60.0);
    }
    if (isSMS) post("kRemoveSMSReplySendingProgressNotification");
    hideIndicatorIfIdle(*this);

    if (isSMS) {
        const std::string key = tag.substr(smsPrefix.size());
        if (auto task = backgroundTaskIdentiferForSMS(key)) {
            foundation::Application::shared().endBackgroundTask(*task);
            removeBackgroundTaskIdentifierForQueuedSMS(key);
        }
        using Kind = HXSendAnswer::Kind;
        if (error.code != kNotConnectedToInternet) {
            answerSMS(*this, key, Kind::Failed);
            // The entry stays queued: it is tried again after the retry delay.
            if (auto self = weakWebClient().lock(); self && smsQueueState(key) != QueueState::Absent)
                HXMessageSender::of(self)->scheduleRetry();
        } else if (smsQueueState(key) == QueueState::Queued) {
            answerSMS(*this, key, Kind::Kept);
        } else {
            std::weak_ptr<HXApplicationWebClient> weakSelf = weakWebClient();
            HXAlert alert{foundation::localizedString("No Network Connection"),
                          foundation::localizedString(
                              "The SMS cannot be sent at the moment - do you want to queue it for sending later?\n"
                              "It will be sent automatically the next time data access is available while the HX "
                              "Connect is running."),
                          {}};
            alert.actions.push_back(
                {foundation::localizedString("Cancel"), HXAlertAction::Style::Cancel, [weakSelf, key] {
                     auto self = weakSelf.lock();
                     if (!self) return;
                     self->removeSMSfromQueue(key);
                     answerSMS(*self, key, Kind::Failed);
                     if (self->iPad()) self->setFirstResponder();
                 }});
            alert.actions.push_back(
                {foundation::localizedString("Send Later"), HXAlertAction::Style::Default, [weakSelf, key] {
                     auto self = weakSelf.lock();
                     if (!self) return;
                     if (self->smsQueueState(key) != QueueState::Absent) {
                         self->markSMSQueued(key);
                         post("kSMSReplySentNotification");
                         answerSMS(*self, key, Kind::Kept);
                     } else {
                         answerSMS(*self, key, Kind::Failed);
                     }
                     if (self->iPad()) self->setFirstResponder();
                 }});
            presentAlert(alert);
        }
    } else if (error.code == kNotConnectedToInternet) {
        if (tag != page + "inbox/recent/unread/" && tag != api("threadinginfo/get?alt=json") &&
            tag != api("account/get?alt=json") && tag != "OAuth_issueToken") {
            alertNoConnection();
            if (auto list = currentMessageList()) list->abortLoading();
        }
    } else if (error.code == kTimedOut) {
        if (tag != api("threadinginfo/get?alt=json") && tag != page + "inbox/recent/unread/" &&
            tag != "OAuth_issueToken")
            alertSlowConnection();
    } else if ((tag == "OAuth_issueToken" || tag == "OAuth_listSessions") && account() &&
               !account()->username().empty() && account()->authV2()) {
        // A signed-in account's token request that failed otherwise (a reply nothing can be taken
        // from, an error status, a cut connection) leaves every request that waited for it unsent, and
        // nothing asks again: the list shown ends its load and the user hears that the data could
        // not be had, with the no-connection alert. The connection itself answered, so it still
        // counts as available: the next load asks for a token again.
        const bool available = connectionAvailable();
        alertNoConnection();
        setConnectionAvailable(available);
        if (auto list = currentMessageList()) list->abortLoading();
    }

    // The call key shows a spinner while a direct call's request is out: it comes back now.
    if (tag == "DIRECT_CALL")
        if (auto self = weakWebClient().lock()) HXCalls::of(self)->directCallFailed();
    removeOverlay(*this);
    // The one who asked (a waiting list) hears of the end.
    if (auto answer = std::exchange(connection.answer_, {}))
        answer(nullptr);
    else if (tag == page + "inbox/recent/unread/" && !isInBackground()) {
        std::weak_ptr<HXApplicationWebClient> weakSelf = weakWebClient();
        dispatch::Queue::main()->async([weakSelf] {
            if (auto self = weakSelf.lock()) self->queueRefresh();
        });
    }
    if (auto handler = takeCompletionHandler(tag)) handler();
}
