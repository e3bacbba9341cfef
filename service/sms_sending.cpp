#include "service/sms_sending.h"

#include <algorithm>
#include <charconv>

#include "model/account.h"
#include "model/phone_extensions.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/application.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/user_defaults.h"
#include "platform/graphics/animated_image.h"
#include "platform/graphics/image_operations.h"
#include "platform/net/cookie.h"
#include "platform/net/url_session.h"
#include "service/application_web_client.h"
#include "service/calls.h"
#include "service/custom_cookie_jar.h"
#include "service/proto/hxcpb.h"
#include "service/protobuf_request.h"
#include "service/source_helpers.h"

using namespace hxservice;

namespace {

using foundation::Dictionary;
using foundation::Value;

constexpr const char* kQueue = "smsQueue";

// One target number per recipient of "a|b|c", each reduced to its dialable characters.
void addTargetNumbers(HXCPB_SendSMSRequest& message, std::string_view recipients) {
    size_t at = 0;
    while (at <= recipients.size()) {
        size_t bar = recipients.find('|', at);
        if (bar == std::string_view::npos) bar = recipients.size();
        message.add_targetnumber(HXKeepDialable(recipients.substr(at, bar - at)));
        at = bar + 1;
    }
}

// A decimal key's number; keys that are not numbers sort first.
uint64_t keyNumber(const std::string& key) {
    uint64_t n = 0;
    auto [p, ec] = std::from_chars(key.data(), key.data() + key.size(), n);
    return ec == std::errc() && p == key.data() + key.size() ? n : 0;
}

std::vector<std::string> keysInOrder(const Dictionary& queue) {
    std::vector<std::string> keys;
    for (const auto& k : queue.keys()) keys.push_back(k.string());
    std::stable_sort(keys.begin(), keys.end(),
                     [](const std::string& a, const std::string& b) { return keyNumber(a) < keyNumber(b); });
    return keys;
}

}  // namespace

std::shared_ptr<HXMessageSender> HXMessageSender::of(const std::shared_ptr<HXApplicationWebClient>& app) {
    return HXOperationsOf(app, &HXWebClient::sender);
}

std::string HXMessageSender::tagPrefix() const {
    auto a = app();
    return a ? HXWebClientOf(*a).endpoints.servicePageBase() + "sms/send/" : std::string();
}

std::string HXMessageSender::nextKey(const Dictionary& queue) {
    uint64_t largest = 0;
    for (const auto& k : queue.keys()) largest = std::max(largest, keyNumber(k.string()));
    return std::to_string(largest + 1);
}

std::optional<std::string> HXMessageSender::conversationIDFromReply(std::string_view bytes) {
    auto reply = hxcpb::parse<HXCPB_SendSMSResponse>(bytes);
    if (!reply) return std::nullopt;
    return reply->has_conversationid() ? reply->conversationid() : std::string();
}

Dictionary HXMessageSender::accountQueue() const {
    auto a = app();
    if (!a || !a->account() || a->account()->username().empty()) return {};
    auto all = foundation::UserDefaults::standardUserDefaults()->dictionaryForKey(kQueue);
    if (!all) return {};
    const Value& mine = all->get(a->account()->username());
    return mine.isDictionary() ? mine.asDictionary() : Dictionary();
}

void HXMessageSender::writeQueue(const Dictionary& queue) {
    auto a = app();
    if (!a || !a->account() || a->account()->username().empty()) return;
    auto defaults = foundation::UserDefaults::standardUserDefaults();
    Dictionary all = defaults->dictionaryForKey(kQueue).value_or(Dictionary());
    if (queue.empty())
        all.remove(a->account()->username());
    else
        all.set(a->account()->username(), queue);
    if (all.empty())
        defaults->removeObjectForKey(kQueue);
    else
        (void)defaults->setObject(all, kQueue);
    // The queue must outlive the process: a message the user sent is never only in memory. Where
    // the disk has no room for it, the user hears so (once), on the main queue.
    if (auto written = defaults->synchronize(); !written.ok()) {
        std::weak_ptr<HXApplicationWebClient> weak = a;
        dispatch::Queue::main()->async([weak, error = written.error()] {
            if (auto self = weak.lock()) (void)self->alertIfStorageFull(error);
        });
    }
}

std::optional<std::string> HXMessageSender::keptCopy(const std::string& text,
                                                     const std::optional<std::string>& recipients,
                                                     const std::optional<std::string>& conversationID) const {
    if (!recipients && !conversationID) return std::nullopt;
    for (const auto& [key, value] : accountQueue()) {
        const Dictionary* entry = value.ifDictionary();
        // An entry under way has its background task; one without waits for the next drain.
        if (!entry || entry->contains("backgroundTaskID") || entry->get("message").stringValue() != text) continue;
        const bool same = conversationID
                              ? entry->get("conversation").stringValue() == *conversationID
                              : !entry->contains("conversation") && entry->get("number").stringValue() == *recipients;
        if (same) return key.string();
    }
    return std::nullopt;
}

void HXMessageSender::sendSMS(const std::string& text, const std::optional<std::string>& recipients,
                              const std::optional<std::string>& conversationID, HXSendCompletion completion) {
    auto a = app();
    // An empty text is no message (a reply from a banner may come with an empty field).
    if (text.empty()) {
        if (completion) completion(HXSendAnswer{HXSendAnswer::Kind::Failed, {}});
        return;
    }
    if (auto kept = a ? keptCopy(text, recipients, conversationID) : std::nullopt) {
        followQueuedSMS(*kept, std::move(completion));
        a->sendQueuedSMS();
        return;
    }
    auto refuse = [&] {
        if (completion) completion(HXSendAnswer{HXSendAnswer::Kind::Failed, {}});
    };
    if (!a || !a->account() || !a->account()->authV2()) return refuse();
    if (!conversationID && !recipients) return refuse();
    Dictionary entry;
    entry.set("message", text);
    if (conversationID)
        entry.set("conversation", *conversationID);
    else
        entry.set("number", *recipients);
    // The message keeps its id through every attempt, so the service can tell a repeat.
    entry.set("randomID", static_cast<int64_t>(getRandomSMS_ID()));
    std::string key;
    // While the queue keeps entries that wait for a drain (kept after the service could not take
    // them, deferred, or left without a token), the new text goes behind them, so they arrive in
    // the order they were written and a refused token is renewed before anything goes out.
    bool behindOthers = false;
    if (!a->account()->username().empty()) {
        Dictionary queue = accountQueue();
        // While kept entries go one at a time, the one under way is ahead of the new text too.
        if (ordered_ && !queue.empty()) behindOthers = true;
        for (const auto& k : queue.keys())
            if (!a->requestInFlight(tagPrefix() + k.string())) behindOthers = true;
        key = nextKey(queue);
        queue.set(key, entry);
        writeQueue(queue);
    }
    if (key.empty()) key = nextKey({});
    // Without a token the entry waits for the next drain, and its completion with it.
    if (completion) completions_[key] = std::move(completion);
    if (behindOthers) return sendQueuedSMS();
    startEntry(key, entry);
}

void HXMessageSender::scheduleStart(const std::string& key, const Dictionary& entry) {
    starting_.insert(key);
    dispatch::Queue::main()->async([weak = weak_from_this(), key, entry] {
        auto self = weak.lock();
        if (!self) return;
        self->starting_.erase(key);
        self->startEntry(key, entry);
    });
}

void HXMessageSender::followQueuedSMS(const std::string& key, HXSendCompletion completion) {
    if (completion) completions_[key] = std::move(completion);
}

void HXMessageSender::answer(const std::string& key, HXSendAnswer answer) {
    auto it = completions_.find(key);
    if (it == completions_.end()) return;
    if (!answer.isEnd()) {
        auto completion = it->second;
        completion(answer);
        return;
    }
    auto completion = std::move(it->second);
    completions_.erase(it);
    completion(answer);
}

void HXMessageSender::startEntry(const std::string& key, const Dictionary& entry) {
    auto a = app();
    if (!a) return;
    auto& web = HXWebClientOf(*a);
    HXCPB_SendSMSRequest message;
    if (entry.contains("conversation")) {
        message.set_conversationid(entry.get("conversation").stringValue());
    } else {
        addTargetNumbers(message, entry.get("number").stringValue());
    }
    message.set_messagetext(entry.get("message").stringValue());
    message.set_randomid(static_cast<uint64_t>(entry.get("randomID").int64Value()));
    auto request = HXProtobufRequest(web.endpoints.protobufApi + "/voice/v1/voiceclient/api2thread/sendsms", message);
    std::optional<std::string> authorization = a->retrieveOAuth();
    // Without a token the entry waits in the queue for the next drain.
    if (!authorization) return;
    request.setValue(*authorization, "Authorization");
    a->startAsyncLoadWithRequest(std::move(request), tagPrefix() + key);
}

void HXMessageSender::sendQueuedSMS() {
    auto a = app();
    if (!a) return;
    auto& web = HXWebClientOf(*a);
    const std::string prefix = tagPrefix();
    // A drain's starts still to run are under way too: a second drain would send them twice.
    if (web.requests.anyWithPrefix(prefix) || !starting_.empty()) return;
    Dictionary queue = accountQueue();
    if (queue.empty()) {
        ordered_ = false;
        return;
    }
    if (renewTokenBeforeDrain_) {
        // The service refused the token of the last send although it has not run out here:
        // nothing goes out with it again. It is dropped (the sign-in's hint kept), a new one is
        // asked for, and its arrival drains the queue.
        renewTokenBeforeDrain_ = false;
        if (auto dict = a->account() ? a->account()->oAuthDict() : std::nullopt) {
            dict->remove("access_token");
            dict->remove("expirationDate");
            a->account()->setOAuthDict(std::move(dict));
        }
        web.sendQueueAfterToken = true;
        (void)a->retrieveOAuth();
        return;
    }
    // Every entry is taken in key order, moves to a new key in this same write and is sent from
    // there. One that was under way when the app last ran may have reached the service: it goes
    // again with the id it kept, which the service answers as it answered the first (so a kill
    // neither loses the message nor sends it twice).
    // While the queue keeps a message the service could not take, the entries go one at a time:
    // the next starts when the reply of the one before has come (sent or refused), so a message
    // kept again holds back those written after it and they arrive in the order written. Entries
    // left under way by a kill, with none kept, all start at once.
    for (const auto& k : queue.keys())
        if (queue.get(k.string())["queued"].boolValue()) ordered_ = true;
    std::vector<std::pair<std::string, Dictionary>> moved;
    Dictionary next;
    for (const auto& key : keysInOrder(queue)) {
        const Value& v = queue.get(key);
        if (!v.isDictionary()) continue;
        Dictionary entry = v.asDictionary();
        entry.remove("queued");
        entry.remove("backgroundTaskID");
        if (!entry.get("randomID").isInt()) entry.set("randomID", static_cast<int64_t>(getRandomSMS_ID()));
        moved.emplace_back(key, std::move(entry));
    }
    uint64_t counter = 0;
    for (const auto& k : queue.keys()) counter = std::max(counter, keyNumber(k.string()));
    std::vector<std::pair<std::string, Dictionary>> starts;
    for (auto& [oldKey, entry] : moved) {
        std::string key = std::to_string(++counter);
        next.set(key, entry);
        starts.emplace_back(key, std::move(entry));
        // A completion waiting on the entry follows it to its new key.
        if (auto waiting = completions_.extract(oldKey)) {
            waiting.key() = key;
            completions_.insert(std::move(waiting));
        }
    }
    writeQueue(next);
    if (ordered_ && !starts.empty()) starts.resize(1);
    for (auto& [key, entry] : starts) scheduleStart(key, entry);
}

void HXMessageSender::removeSMSfromQueue(const std::string& key) {
    Dictionary queue = accountQueue();
    if (!queue.contains(key)) return;
    queue.remove(key);
    writeQueue(queue);
    sendQueuedSMS();
}

void HXMessageSender::addBackgroundTaskIdentifier(uint64_t task, const std::string& key) {
    tasks_[key] = task;
    editEntry(key, [task](Dictionary& entry) {
        entry.set("backgroundTaskID", static_cast<int64_t>(task));
        return true;
    });
}

void HXMessageSender::removeBackgroundTaskIdentifierForQueuedSMS(const std::string& key) {
    tasks_.erase(key);
    editEntry(key, [](Dictionary& entry) {
        if (!entry.contains("backgroundTaskID")) return false;
        entry.remove("backgroundTaskID");
        return true;
    });
}

std::optional<uint64_t> HXMessageSender::backgroundTaskIdentiferForSMS(const std::string& key) const {
    const Dictionary queue = accountQueue();
    const Value& v = queue.get(key);
    if (v.isDictionary() && v["backgroundTaskID"].isInt())
        return static_cast<uint64_t>(v["backgroundTaskID"].int64Value());
    if (auto it = tasks_.find(key); it != tasks_.end()) return it->second;
    return std::nullopt;
}

HXApplicationWebClient::QueueState HXMessageSender::queueState(const std::string& key) const {
    const Dictionary queue = accountQueue();
    const Value& v = queue.get(key);
    if (!v.isDictionary()) return HXApplicationWebClient::QueueState::Absent;
    return v["queued"].boolValue() ? HXApplicationWebClient::QueueState::Queued
                                   : HXApplicationWebClient::QueueState::Present;
}

void HXMessageSender::markQueued(const std::string& key) {
    editEntry(key, [](Dictionary& entry) {
        entry.set("queued", true);
        return true;
    });
}

void HXMessageSender::editEntry(const std::string& key, const std::function<bool(Dictionary&)>& edit) {
    Dictionary queue = accountQueue();
    Value* v = queue.find(key);
    if (!v || !v->isDictionary()) return;
    Dictionary entry = v->asDictionary();
    if (!edit(entry)) return;
    queue.set(key, entry);
    writeQueue(queue);
}

bool HXMessageSender::keptForLater(int statusCode) {
    return statusCode == 401 || statusCode == 408 || statusCode == 429 || (statusCode >= 500 && statusCode < 600);
}

void HXMessageSender::keepForLater(const std::string& key) {
    editEntry(key, [](Dictionary& entry) {
        entry.remove("backgroundTaskID");
        entry.set("queued", true);
        return true;
    });
}

void HXMessageSender::endTask(const std::string& key) {
    auto a = app();
    if (!a) return;
    auto task = backgroundTaskIdentiferForSMS(key);
    tasks_.erase(key);
    if (task && *task) foundation::Application::shared().endBackgroundTask(*task);
}

void HXMessageSender::smsReply(const HXRoutedReply& reply) {
    auto a = app();
    if (!a) return;
    auto& web = HXWebClientOf(*a);
    const std::string key = reply.tag.substr(std::min(reply.tag.size(), tagPrefix().size()));
    auto finish = [&] {
        if (web.requests.erase(reply.tag) && web.networkActivityIndicatorVisible) {
            web.networkActivityIndicatorVisible = false;
            a->setNetworkActivityIndicatorVisible(false);
        }
    };
    auto removeOverlay = [&] {
        if (a->loadingOverlayShown()) a->removeLoadingOverlay();
    };
    using Kind = HXSendAnswer::Kind;
    if (!a->account() || !a->account()->authV2()) {
        // Signed out meanwhile: the send is over all the same; nothing may keep it alive.
        endTask(key);
        finish();
        answer(key, {Kind::Failed, {}});
        return;
    }
    if (keptForLater(reply.statusCode)) {
        // The service could not take the message now (it failed, timed out, was asked too often,
        // or refused a token the app can renew): the message stays queued, no longer under way,
        // as when the user chooses to send it later, and goes again at the next drain with the
        // same id. After a refused token that drain first asks for a new one.
        removeOverlay();
        endTask(key);
        if (reply.statusCode == 401) renewTokenBeforeDrain_ = true;
        ordered_ = true;
        keepForLater(key);
        post("kRemoveSMSReplySendingProgressNotification");
        post("kSMSReplySentNotification");
        finish();
        answer(key, {Kind::Kept, {}});
        tellKept(key);
        scheduleRetry();
        return;
    }
    std::string_view bytes =
        reply.data ? std::string_view(reinterpret_cast<const char*>(reply.data->data()), reply.data->size())
                   : std::string_view();
    // An error status or an empty body is a refusal, never a send (an empty body reads as a
    // reply with no fields).
    std::optional<std::string> conversation;
    if (!bytes.empty() && reply.statusCode < 400) conversation = conversationIDFromReply(bytes);
    if (!conversation) {
        removeOverlay();
        a->showSMSErrorFromData(reply.data ? *reply.data : foundation::Data());
    }
    const auto task = backgroundTaskIdentiferForSMS(key);
    post("kSMSReplySendingProgressNotification");
    answer(key, {Kind::Progress, {}});
    told_.erase(accountQueue().get(key)["randomID"].int64Value());
    removeSMSfromQueue(key);
    if (!conversation || conversation->empty()) {
        post("kRemoveSMSReplySendingProgressNotification");
        answer(key, {Kind::Failed, {}});
    } else {
        removeOverlay();
        // The service takes messages again: a later keep waits the shortest time.
        retryDelay_ = kFirstRetryDelay;
        post("kSMSReplySentNotification", std::make_shared<std::string>(*conversation));
        answer(key, {Kind::Sent, *conversation});
        auto all = foundation::UserDefaults::standardUserDefaults()->dictionaryForKey(kQueue);
        if (a->newMessageAlert() && (!all || all->size() <= 1)) a->playSound("Message Sent");
        if (a->isInBackground()) (void)foundation::UserDefaults::standardUserDefaults()->synchronize();
    }
    finish();
    tasks_.erase(key);
    if (task && *task) foundation::Application::shared().endBackgroundTask(*task);
    if (!a->isInBackground()) {
        std::weak_ptr<HXMessageSender> weak = weak_from_this();
        dispatch::Queue::main()->async([weak] {
            if (auto self = weak.lock()) self->sendQueuedSMS();
        });
    }
}

void HXMessageSender::tellKept(const std::string& key) {
    auto a = app();
    const Value entry = accountQueue().get(key);  // the queue is read as a copy
    if (!a || !entry.isDictionary()) return;
    // Once per message: its id stays with it through every drain.
    if (!told_.insert(entry["randomID"].int64Value()).second) return;
    // The field was emptied and the message waits out of sight: the user hears where it went,
    // after the screen that sent it has heard (and closed, when it closes on a kept message).
    HXAlert told{foundation::localizedString("Sending Message Failed"),
                 foundation::localizedString(
                     "It will be sent automatically the next time data access is available while the HX Connect "
                     "is running."),
                 {{foundation::localizedString("Dismiss"), HXAlertAction::Style::Default, {}}}};
    dispatch::Queue::main()->async([weak = app_, told] {
        if (auto a = weak.lock()) a->presentAlert(told);
    });
}

void HXMessageSender::scheduleRetry() {
    if (retryArmed_) return;
    const double delay = retryDelay_;
    retryDelay_ = std::min(retryDelay_ * 2, kLastRetryDelay);
    const uint64_t armed = retryArmed_ = ++retries_;
    dispatch::Queue::main()->after(delay, [weak = weak_from_this(), armed] {
        auto self = weak.lock();
        if (!self || self->retryArmed_ != armed) return;
        self->retryArmed_ = 0;
        auto a = self->app();
        // In the background nothing is retried: the return to the foreground drains the queue.
        if (!a || a->isInBackground()) return;
        self->sendQueuedSMS();
    });
}

void HXMessageSender::playNewMessageAlertForMessageWithDate(double seconds) {
    auto a = app();
    if (!a) return;
    if (a->newMessageAlert() && a->lastNotification() < seconds) {
        a->playSound("4095");
        a->playSound("NewMessage");
    }
    a->setLastNotification(dispatch::wallNow());
}

void HXMessageSender::sendMMS(const std::string& text, const std::vector<HXMMSImage>& images,
                              const std::optional<std::string>& recipients,
                              const std::optional<std::string>& conversationID, HXSendCompletion completion) {
    using Kind = HXSendAnswer::Kind;
    auto a = app();
    auto refuse = [&] {
        if (completion) completion(HXSendAnswer{Kind::Failed, {}});
    };
    if (!a || images.empty()) return refuse();
    // Callers give one of the two; with neither nothing is started (no progress, no task).
    if (!conversationID && !recipients) return refuse();
    // Without an access token at hand (one is then fetched) no upload can start: the send ends
    // unconfirmed at once, its progress taken down, so the screen lets the user send again
    // rather than wait for nothing.
    auto authorization = a->retrieveOAuth();
    if (!authorization) {
        post("kRemoveSMSReplySendingProgressNotification");
        return refuse();
    }
    auto& web = HXWebClientOf(*a);
    std::optional<std::string> cookie;
    if (auto jar = a->cookieJar()) {
        std::lock_guard lock(jar->lock());
        if (auto cookies = jar->cookiesForURL(web.endpoints.servicePageBase() + "inbox/recent/unread/"))
            cookie = net::Cookie::requestHeaderValue(*cookies);
    }
    net::URLSessionConfiguration configuration = net::URLSessionConfiguration::defaultSessionConfiguration();
    configuration.httpAdditionalHeaders.set("Accept-Encoding", "gzip");
    if (cookie) configuration.httpAdditionalHeaders.set("Cookie", *cookie);
    configuration.httpAdditionalHeaders.set("Content-Type", "application/x-protobuf");
    configuration.httpAdditionalHeaders.set("Authorization", *authorization);
    configuration.httpAdditionalHeaders.set("Connection", "Keep-Alive");
    auto session = net::URLSession::sessionWithConfiguration(std::move(configuration));
    auto& platform = foundation::Application::shared();
    auto task = std::make_shared<foundation::BackgroundTaskIdentifier>(0);
    *task = platform.beginBackgroundTask("MMS", [task] { foundation::Application::shared().endBackgroundTask(*task); });
    // The steps taken here, on the main queue, are told to the completion too; an upload's end,
    // on the session's queue, is only posted (the completion stays on the main queue).
    auto progress = [&completion] {
        post("kSMSReplySendingProgressNotification");
        if (completion) completion(HXSendAnswer{Kind::Progress, {}});
    };
    progress();

    // The results of the uploads, shared by their completions on the session's queue.
    struct Shared {
        std::mutex mutex;
        std::optional<std::string> conversation;
        bool allSent = true;
        std::optional<foundation::Data> failedReply;
    };
    auto shared = std::make_shared<Shared>();
    shared->conversation = conversationID;
    auto group = std::make_shared<dispatch::Group>();
    for (size_t i = 0; i < images.size(); ++i) {
        HXCPB_SendSMSRequest message;
        if (conversationID) {
            message.set_conversationid(*conversationID);
        } else {
            addTargetNumbers(message, *recipients);
        }
        message.set_randomid(getRandomSMS_ID());
        message.set_messagetext(i == 0 ? text : std::string());
        auto* attachment = message.mutable_attachment();
        if (images[i].animated) {
            const auto& gif = images[i].animated->data();
            attachment->set_imagetype(4);
            attachment->set_data(std::string(gif.begin(), gif.end()));
        } else {
            auto jpeg = graphics::UIImageJPEGRepresentationWithMaxSize(
                graphics::imageWithFixedOrientationOfImage(images[i].still), 2000000, 0.7);
            // A picture that cannot be encoded is not sent, and the message does not count as sent.
            if (!jpeg) {
                shared->allSent = false;
                continue;
            }
            attachment->set_imagetype(1);
            attachment->set_data(std::string(jpeg->begin(), jpeg->end()));
        }
        auto request =
            HXProtobufRequest(web.endpoints.protobufApi + "/voice/v1/voiceclient/api2thread/sendsms", message);
        group->enter();
        auto upload = session->dataTaskWithRequest(
            std::move(request),
            [shared, group](const foundation::Data& data, const std::optional<net::HTTPURLResponse>& response,
                            const std::optional<foundation::Error>& error) {
                {
                    std::lock_guard lock(shared->mutex);
                    if (!error) {
                        post("kSMSReplySendingProgressNotification");
                        std::string_view bytes(reinterpret_cast<const char*>(data.data()), data.size());
                        const bool refused = bytes.empty() || (response && response->statusCode >= 400);
                        auto conversation = refused ? std::nullopt : conversationIDFromReply(bytes);
                        if (!conversation && !shared->failedReply) shared->failedReply = data;
                        if (conversation && !conversation->empty() && !shared->conversation)
                            shared->conversation = conversation;
                        shared->allSent = shared->allSent && conversation && !conversation->empty();
                    } else {
                        shared->allSent = false;
                    }
                }
                group->leave();
            });
        a->setNetworkActivityIndicatorVisible(true);
        upload->resume();
        progress();
    }
    std::weak_ptr<HXApplicationWebClient> weak = a;
    group->notify(dispatch::Queue::main(), [weak, session, shared, task, group, completion] {
        session->finishTasksAndInvalidate();
        post("kRemoveSMSReplySendingProgressNotification");
        auto a = weak.lock();
        // Every upload has ended (and no completion of theirs writes any more).
        const bool sent = a && shared->allSent;
        if (a) {
            if (shared->allSent) {
                if (a->loadingOverlayShown()) a->removeLoadingOverlay();
                post("kSMSReplySentNotification",
                     shared->conversation ? std::make_shared<std::string>(*shared->conversation) : nullptr);
                if (a->newMessageAlert()) a->playSound("Message Sent");
                if (a->isInBackground()) (void)foundation::UserDefaults::standardUserDefaults()->synchronize();
            } else {
                // A failure is told, whether the service refused or the upload never got through.
                if (a->loadingOverlayShown()) a->removeLoadingOverlay();
                a->showSMSErrorFromData(shared->failedReply.value_or(foundation::Data()));
            }
        }
        foundation::Application::shared().endBackgroundTask(*task);
        if (completion)
            completion(sent ? HXSendAnswer{Kind::Sent, shared->conversation.value_or(std::string())}
                            : HXSendAnswer{Kind::Failed, {}});
        if (!a) return;
        if (a->isIdle()) a->setNetworkActivityIndicatorVisible(false);
    });
}

// ---- the application's queue operations, for the request machinery and the shell

namespace {

std::shared_ptr<HXMessageSender> senderOf(HXApplicationWebClient& app) {
    auto self = app.weakWebClient().lock();
    return self ? HXMessageSender::of(self) : nullptr;
}

}  // namespace

std::optional<uint64_t> HXApplicationWebClient::backgroundTaskIdentiferForSMS(const std::string& key) {
    auto sender = senderOf(*this);
    return sender ? sender->backgroundTaskIdentiferForSMS(key) : std::nullopt;
}

void HXApplicationWebClient::addBackgroundTaskIdentifierForQueuedSMS(uint64_t task, const std::string& key) {
    if (auto sender = senderOf(*this)) sender->addBackgroundTaskIdentifier(task, key);
}

void HXApplicationWebClient::removeBackgroundTaskIdentifierForQueuedSMS(const std::string& key) {
    if (auto sender = senderOf(*this)) sender->removeBackgroundTaskIdentifierForQueuedSMS(key);
}

void HXApplicationWebClient::removeSMSfromQueue(const std::string& key) {
    if (auto sender = senderOf(*this)) sender->removeSMSfromQueue(key);
}

HXApplicationWebClient::QueueState HXApplicationWebClient::smsQueueState(const std::string& key) {
    auto sender = senderOf(*this);
    return sender ? sender->queueState(key) : QueueState::Absent;
}

void HXApplicationWebClient::markSMSQueued(const std::string& key) {
    if (auto sender = senderOf(*this)) sender->markQueued(key);
}

void HXApplicationWebClient::sendSMS(const std::string& text, const std::optional<std::string>& recipients,
                                     const std::optional<std::string>& conversationID, HXSendCompletion completion) {
    if (auto sender = senderOf(*this)) sender->sendSMS(text, recipients, conversationID, std::move(completion));
}

void HXApplicationWebClient::sendQueuedSMS() {
    if (auto sender = senderOf(*this)) sender->sendQueuedSMS();
}

void HXApplicationWebClient::sendMMS(const std::string& text, const std::vector<HXMMSImage>& images,
                                     const std::optional<std::string>& recipients,
                                     const std::optional<std::string>& conversationID, HXSendCompletion completion) {
    if (auto sender = senderOf(*this)) sender->sendMMS(text, images, recipients, conversationID, std::move(completion));
}

void HXApplicationWebClient::playNewMessageAlertForMessageWithDate(double secondsSince1970) {
    if (auto sender = senderOf(*this)) sender->playNewMessageAlertForMessageWithDate(secondsSince1970);
}
