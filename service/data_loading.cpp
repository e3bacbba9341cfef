// Loading the account's data: the start sequence after a sign-in or an account switch, the
// unread list with its counts, the spam and archive lists, single conversations, and where
// their replies go.
#include <algorithm>

#include "model/account.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/json.h"
#include "platform/foundation/notification_center.h"
#include "service/application_web_client.h"
#include "service/message_list_receiver.h"
#include "service/request_machinery.h"
#include "service/source_helpers.h"
#include "service/thread_list_reply.h"

using namespace hxservice;

namespace {

using foundation::Dictionary;
using foundation::Value;

constexpr int kHistoryViewIndex = 3;

bool signedIn(const std::shared_ptr<HX_Account>& account) { return account && account->authV2().has_value(); }

Dictionary apiDescription(const std::string& url, std::string body) {
    return Dictionary{{"url", url}, {"contentType", "application/json+protobuf"}, {"body", std::move(body)}};
}

}  // namespace

std::optional<net::URLRequest> HXApplicationWebClient::listRequest(int listCode) {
    return apiRequestWithDict(apiDescription(
        api("api2thread/list?alt=json"), "[" + std::to_string(listCode) + "," + std::to_string(kHXListPageThreads) +
                                             "," + std::to_string(kHXListPageItems) + ",null,null,[null,true,true]]"));
}

void HXApplicationWebClient::loadInitialData() {
    std::weak_ptr<HXApplicationWebClient> weakSelf = weakWebClient();
    dispatch::Queue::main()->after(0.2, [weakSelf] {
        if (auto self = weakSelf.lock()) self->indexMessages();
    });
    if (!connectionAvailable() || !initialDataArmed_ || webClient().heldUntilUnlock) return;
    initialDataArmed_ = false;
    (void)retrieveOAuth();
    settingsLoading_ = false;
    post("kLoginNotification");
    loadPhoneSettings();
    webClient().initialListsScheduled = true;
    dispatch::Queue::main()->after(1.0, [weakSelf] {
        auto self = weakSelf.lock();
        if (!self) return;
        self->webClient().initialListsScheduled = false;
        self->loadUnreadMessages();
        self->loadSpam();
        self->loadArchive();
        dispatch::Queue::main()->async([weakSelf] {
            if (auto self = weakSelf.lock()) self->sendQueuedSMS();
        });
    });
}

bool HXApplicationWebClient::loadConversationWithID(const std::optional<std::string>& threadID,
                                                    const std::optional<std::string>& paginationToken,
                                                    HXReplyAnswer answer) {
    if (!threadID || !signedIn(account())) return false;
    // Ids and tokens go into the body as JSON strings, whatever characters they hold.
    auto quoted = [this](const std::string& s) { return "\"" + JSONStringFromString(s) + "\""; };
    const std::string body = "[" + quoted(*threadID) + "," + std::to_string(kHXConversationPageItems) + "," +
                             (paginationToken ? quoted(*paginationToken) : "null") + ",[null,true,true]]";
    auto request = apiRequestWithDict(apiDescription(api("api2thread/get?alt=json"), body));
    if (!request) return false;
    // Offline (or without a connection) nothing starts and the answer never comes: the caller
    // hears so from the result.
    return startAsyncLoadWithRequest(std::move(*request), api("api2thread/get?alt=json") + paginationToken.value_or(""),
                                     std::move(answer));
}

void HXApplicationWebClient::loadMessagesForURL(const std::string& url) {
    auto& web = webClient();
    if (!connectionAvailable() || requestInFlight(url) || !signedIn(account())) return;
    const std::string page = web.endpoints.servicePageBase();
    const bool unread = url == page + "inbox/recent/unread/";
    if (!retrieveOAuth() && unread) unreadLoadPending_ = true;
    std::vector<std::pair<net::URLRequest, std::string>> requests;
    std::optional<net::URLRequest> list = listRequest(unread ? 1 : url == page + "inbox/recent/archive/" ? 6 : 5);
    if (list) requests.emplace_back(std::move(*list), url);
    if (unread) {
        if (auto counts = apiRequestWithDict(apiDescription(api("threadinginfo/get?alt=json"), "[]")))
            requests.emplace_back(std::move(*counts), api("threadinginfo/get?alt=json"));
    }
    if (!list) post("kCookiesExpiredNotification");
    for (auto& [request, tag] : requests)
        startAsyncLoadWithRequest(std::move(request), tag,
                                  unread || tag != url
                                      ? HXReplyAnswer()
                                      : HXHistoryListParses(weakWebClient(), url == page + "inbox/recent/archive/"
                                                                                 ? HXMessageListReceiver::ArchiveList
                                                                                 : HXMessageListReceiver::SpamList));
}

HXReplyAnswer HXHistoryListParses(std::weak_ptr<HXApplicationWebClient> app, int flags) {
    return [app, flags](std::shared_ptr<foundation::Data> data) {
        if (!data || data->empty()) return;
        auto self = app.lock();
        auto list = self ? self->messageListForViewIndex(kHistoryViewIndex) : nullptr;
        if (list) list->parseMessagesFromData(std::move(data), flags, {});
    };
}

void HXApplicationWebClient::loadUnreadMessages() {
    loadMessagesForURL(webClient().endpoints.servicePageBase() + "inbox/recent/unread/");
}

void HXApplicationWebClient::loadSpam() {
    loadMessagesForURL(webClient().endpoints.servicePageBase() + "inbox/recent/spam/");
}

void HXApplicationWebClient::loadArchive() {
    loadMessagesForURL(webClient().endpoints.servicePageBase() + "inbox/recent/archive/");
}

std::optional<std::pair<int64_t, int64_t>> HXApplicationWebClient::unreadCountsFromReply(std::string_view text) const {
    auto parsed = parseObjectFromApiResponse(text);
    if (!parsed || !parsed->isDictionary()) return std::nullopt;
    int64_t sms = 0, voicemail = 0;
    const Value& info = parsed->asDictionary().get("info");
    const Value& views = info.isDictionary() ? info.asDictionary().get("viewInfo") : Value();
    if (views.isArray()) {
        for (const auto& view : views.asArray()) {
            if (!view.isDictionary()) continue;
            const auto& d = view.asDictionary();
            const std::string name = d.get("view").stringValue();
            if (name == "textThreads") sms = d.get("unreadThreadCount").int64Value();
            if (name == "voicemailAndRecordingThreads") voicemail = d.get("unreadThreadCount").int64Value();
        }
    }
    return std::pair{sms, voicemail};
}

void HXApplicationWebClient::threadingInfoReply(const HXRoutedReply& reply) {
    auto counts = unreadCountsFromReply(reply.text);
    if (!counts) return;
    auto& web = webClient();
    web.serviceUnread[0] = counts->first;
    web.serviceUnread[1] = counts->second;
    ++web.serviceUnreadAnswers;
    ++web.serviceUnreadReplies;
    setUnreadCount(counts->first, 1);
    setUnreadCount(counts->second, 2);
}

bool HXAwaitsServiceUnreadCount(HXApplicationWebClient& app, int viewIndex) {
    auto& web = HXWebClientOf(app);
    if (web.serviceUnreadCount(viewIndex).count >= 0 || !app.connectionAvailable() || !signedIn(app.account()))
        return false;
    return app.requestInFlight(std::string(kHXApiPath) + "threadinginfo/get?alt=json") ||
           clocks::clock().now() < web.serviceUnreadAwaitedUntil;
}

void HXAwaitServiceUnreadCounts(HXApplicationWebClient& app) {
    HXWebClientOf(app).serviceUnreadAwaitedUntil = clocks::clock().now() + HXWebClient::kServiceUnreadWait;
}

void HXCountConfirmedReadChange(HXApplicationWebClient& app, const HXWebClient::ReadChange& change, bool read) {
    auto& web = HXWebClientOf(app);
    if (change.viewIndex < 1 || change.viewIndex > 2 || (change.delta < 0) != read) return;
    int64_t& count = web.serviceUnread[change.viewIndex - 1];
    if (count < 0 || web.serviceUnreadReplies != change.replies) return;
    count = std::max<int64_t>(0, count + change.delta);
    ++web.serviceUnreadAnswers;
    app.setUnreadCount(count, change.viewIndex);
}

bool HXLoadingFirstData(HXApplicationWebClient& app) {
    if (HXWebClientOf(app).initialListsScheduled) return true;
    auto shown = app.messageListForViewIndex(app.currentViewIndex());
    return shown && shown->loadingFirstPage();
}

HXUnreadScan HXScanUnreadReply(const foundation::Data* data) {
    HXUnreadScan scan;
    if (!data) return scan;
    auto parsed = foundation::parseJSON(std::string_view(reinterpret_cast<const char*>(data->data()), data->size()));
    const Dictionary* reply = parsed.ok() ? parsed->ifDictionary() : nullptr;
    if (!reply) return scan;
    const Value& error = reply->get("error");
    if (error.isDictionary() && error.asDictionary().get("code").int64Value() == 401) {
        scan.refused = true;
        return scan;
    }
    std::vector<const Dictionary*> items;
    const Value& threads = reply->get("thread");
    if (threads.isArray()) {
        for (const auto& thread : threads.asArray()) {
            const auto* t = thread.ifDictionary();
            if (!t || HXThreadIsRead(t->get("read"))) continue;
            const Value& list = t->get("item");
            if (!list.isArray()) continue;
            for (const auto& item : list.asArray())
                if (const auto* i = item.ifDictionary()) items.push_back(i);
        }
    }
    auto start = [](const Dictionary* d) { return d->get("startTime").int64Value(); };
    std::stable_sort(items.begin(), items.end(),
                     [&](const Dictionary* a, const Dictionary* b) { return start(a) < start(b); });
    if (!items.empty()) scan.newest = static_cast<double>(start(items.back()) / 1000);
    return scan;
}

void HXApplicationWebClient::getUnreadMessagesFromData(std::shared_ptr<const foundation::Data> data,
                                                       BackgroundFetchCompletion completion,
                                                       std::optional<HXUnreadScan> scanned) {
    std::weak_ptr<HXApplicationWebClient> weakSelf = weakWebClient();
    double newest = 0;
    if (signedIn(account()) && data) {
        const HXUnreadScan scan = scanned ? *scanned : HXScanUnreadReply(data.get());
        if (scan.refused) {
            dispatch::Queue::main()->async([weakSelf] {
                if (auto self = weakSelf.lock()) self->displayLogin();
            });
            return;
        }
        newest = scan.newest;
    }
    // Hands the reply to the history list (taken on the main queue) for a parse off it; a fetch
    // without a list to parse is answered as failed rather than never.
    auto parseOnHistoryList = [weakSelf, data](BackgroundFetchCompletion c) {
        dispatch::Queue::main()->async([weakSelf, data, c] {
            auto self = weakSelf.lock();
            auto list = self ? self->messageListForViewIndex(kHistoryViewIndex) : nullptr;
            if (!list) {
                if (c) c(BackgroundFetchFailed);
                return;
            }
            list->parseMessagesFromData(data, c);
        });
    };
    if (newest > lastNotification()) {
        if (completion && !contactsLoaded()) (void)cachedContacts();
        parseOnHistoryList(completion);
        const bool background = isInBackground();
        // The time is the main thread's to change: readers of it run there.
        dispatch::Queue::main()->async([weakSelf, background, newest] {
            auto self = weakSelf.lock();
            if (!self) return;
            if (background)
                self->setLastNotification(dispatch::wallNow());
            else
                self->playNewMessageAlertForMessageWithDate(newest);
        });
    } else if (completion) {
        dispatch::Queue::main()->async([weakSelf, completion] {
            if (auto self = weakSelf.lock()) self->showPasscodeLockIfNeeded();
            completion(BackgroundFetchNoData);
        });
    } else {
        parseOnHistoryList({});
    }
    if (!isInBackground() && autoRefresh()) {
        dispatch::Queue::main()->async([weakSelf] {
            if (auto self = weakSelf.lock()) self->queueRefresh();
            post("kUnreadItemsProcessedNotification");
        });
    }
}
