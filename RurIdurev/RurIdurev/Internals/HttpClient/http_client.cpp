#include "RurIdurev/RurIdurev/Internals/HttpClient/http_client.h"

#include <atomic>
#include <random>

#include "RurIdurev/RurIdurev/Internals/HttpClient/compression.h"
#include "RurIdurev/RurIdurev/Internals/HttpClient/http_util.h"
#include "RurIdurev/RurIdurev/Internals/HttpClient/reachability.h"
#include "RurIdurev/RurIdurev/logger.h"
#include "platform/foundation/notification_center.h"

namespace {

uint32_t uniformBelow(uint32_t bound) {
    if (bound == 0) return 0;
    static std::mutex mutex;
    static std::mt19937 engine{std::random_device{}()};
    std::lock_guard lock(mutex);
    return std::uniform_int_distribution<uint32_t>(0, bound - 1)(engine);
}

bool hasHeader(const ZIVOHttpHeaders& headers, const std::string& name) {
    for (const auto& [key, value] : headers)
        if (key == name) return true;
    return false;
}

}  // namespace

// ---- Call

ZIVOHttpCall::ZIVOHttpCall(std::string url, std::string method, const ZIVOHttpHeaders& headers,
                           std::optional<foundation::Data> data, std::vector<double> retryIntervals,
                           bool compressionEnabled, ZIVOHttpRequestCompletionHandler completionHandler)
    : url_(std::move(url)),
      method_(std::move(method)),
      headers_(headers),
      data_(std::move(data)),
      retryIntervals_(std::move(retryIntervals)),
      completionHandler_(std::move(completionHandler)) {
    if (compressionEnabled && data_ && data_->size() >= kCompressionThreshold) {
        // A body that cannot be compressed goes out as it is, never as a gzip header over nothing.
        if (auto compressed = ZIVOCompression::compressData(*data_)) {
            data_ = std::move(compressed);
            headers_.emplace_back("Content-Encoding", "gzip");
        }
    }
    if (data_ && !hasHeader(headers_, "Content-Type")) headers_.emplace_back("Content-Type", "application/json");
}

ZIVOHttpCall::~ZIVOHttpCall() { resetRetry(); }

bool ZIVOHttpCall::hasReachedMaxRetries() const {
    std::lock_guard lock(mutex_);
    return static_cast<size_t>(retryCount_) >= retryIntervals_.size();
}

int ZIVOHttpCall::retryCount() const {
    std::lock_guard lock(mutex_);
    return retryCount_;
}

void ZIVOHttpCall::resetRetry() {
    std::unique_ptr<dispatch::TimerSource> timer;
    {
        std::lock_guard lock(mutex_);
        timer = std::move(timerSource_);
        retryCount_ = 0;
    }
    if (timer) timer->cancel();
}

uint32_t ZIVOHttpCall::delayForRetryCount(int count) const {
    if (count < 0 || static_cast<size_t>(count) >= retryIntervals_.size()) return 0;
    auto half = static_cast<uint32_t>(retryIntervals_[static_cast<size_t>(count)] * 1000000000.0 * 0.5 / 1000000.0);
    return half + uniformBelow(half);
}

void ZIVOHttpCall::startRetryTimerWithStatusCode(int statusCode, std::optional<uint32_t> retryAfter,
                                                 dispatch::Block event) {
    std::unique_ptr<dispatch::TimerSource> previous;
    std::lock_guard lock(mutex_);
    previous = std::move(timerSource_);
    timerSource_ = std::make_unique<dispatch::TimerSource>(dispatch::Queue::global(), std::move(event));
    uint32_t delay = retryAfter ? *retryAfter : delayForRetryCount(retryCount_);
    int attempt = retryCount_;
    ZIVOLogWarning(kZIVOLogTag, "Call attempt #" + std::to_string(attempt) +
                                    " failed with status code: " + std::to_string(statusCode) +
                                    ", it will be retried in " + std::to_string(delay) + " ms.");
    ++retryCount_;
    timerSource_->setTimerAtWallTime(dispatch::wallNow() + delay / 1000.0, 0, 1);
    timerSource_->start();
    if (previous) previous->cancel();
}

// ---- One exchange on the transport

struct ZIVOHttpClient::Exchange : net::TransportClient {
    std::weak_ptr<ZIVOHttpClient> client;
    std::shared_ptr<ZIVOHttpCall> call;
    std::unique_ptr<net::Exchange> exchange;
    std::optional<net::HTTPURLResponse> response;
    foundation::Data body;
    bool ended = false;
    std::atomic<bool> cancelled{false};

    void exchangeDidReceiveResponse(const net::HTTPURLResponse& r) override { response = r; }
    void exchangeDidReceiveData(const uint8_t* data, size_t size) override {
        body.insert(body.end(), data, data + size);
    }
    void exchangeDidFinish() override { end(std::nullopt); }
    void exchangeDidFail(const foundation::Error& error) override { end(error); }
    void end(std::optional<foundation::Error> error) {
        if (ended) return;
        ended = true;
        auto self = client.lock();
        if (!self) return;
        std::shared_ptr<Exchange> keep;
        {
            std::lock_guard lock(self->mutex_);
            for (const auto& e : self->exchanges_)
                if (e.get() == this) keep = e;
            if (keep) self->exchanges_.erase(keep);
        }
        self->requestCompleted(call, error ? std::nullopt : std::optional<foundation::Data>(body), response, error);
        // The transport is still inside this callback: let the exchange go at the loop's next turn.
        if (keep) self->transport_->loop().post([keep] {});
    }
};

// ---- Client

std::shared_ptr<ZIVOHttpClient> ZIVOHttpClient::create(std::shared_ptr<net::Transport> transport,
                                                       std::shared_ptr<ZIVO_Reachability> reachability) {
    std::shared_ptr<ZIVOHttpClient> client(new ZIVOHttpClient(
        transport ? std::move(transport) : net::Transport::shared(),
        reachability ? std::move(reachability) : ZIVO_Reachability::reachabilityForInternetConnection()));
    client->start();
    return client;
}

ZIVOHttpClient::ZIVOHttpClient(std::shared_ptr<net::Transport> transport,
                               std::shared_ptr<ZIVO_Reachability> reachability)
    : transport_(std::move(transport)), reachability_(std::move(reachability)) {}

void ZIVOHttpClient::start() {
    std::weak_ptr<ZIVOHttpClient> weak = weak_from_this();
    foundation::NotificationCenter::defaultCenter().addObserver(
        this, kZVNetworkReachabilityChangedNotification,
        [weak](const foundation::Notification&) {
            if (auto self = weak.lock()) self->networkStateChanged();
        },
        reachability_.get());
    reachability_->startNotifier();
}

ZIVOHttpClient::~ZIVOHttpClient() {
    reachability_->stopNotifier();
    foundation::NotificationCenter::defaultCenter().removeObserver(this);
    for (const auto& e : exchanges_) {
        e->cancelled = true;
    }
}

void ZIVOHttpClient::sendAsync(const std::string& url, const std::string& method, const ZIVOHttpHeaders& headers,
                               std::optional<foundation::Data> data, std::vector<double> retryIntervals,
                               bool compressionEnabled, ZIVOHttpRequestCompletionHandler completionHandler) {
    std::lock_guard lock(mutex_);
    if (!enabled_) {
        if (completionHandler)
            completionHandler(std::nullopt, std::nullopt, ZIVOHttpUtil::sdkError(kZIVODisabledErrorCode));
        return;
    }
    auto call = std::make_shared<ZIVOHttpCall>(url, method, headers, std::move(data), std::move(retryIntervals),
                                               compressionEnabled, std::move(completionHandler));
    sendCallAsync(call);
}

void ZIVOHttpClient::sendCallAsync(const std::shared_ptr<ZIVOHttpCall>& call) {
    std::lock_guard lock(mutex_);
    pendingCalls_.insert(call);
    if (paused_) return;
    if (auto delegate = delegate_.lock()) delegate->willSendHTTPRequestToURL(call->url(), call->headers());
    net::URLRequest request(call->url(), 0);
    request.setHTTPMethod(call->method());
    for (const auto& [name, value] : call->headers()) request.setValue(value, name);
    if (call->data()) request.setHTTPBody(*call->data());
    request.setHTTPShouldHandleCookies(false);
    call->inProgress = true;
    auto exchange = std::make_shared<Exchange>();
    exchange->client = weak_from_this();
    exchange->call = call;
    exchanges_.insert(exchange);
    // Retry timers fire on a global queue; the transport is only ever touched on its own loop.
    auto transport = transport_;
    transport_->loop().post([exchange, request, transport] {
        if (exchange->cancelled) return;
        exchange->exchange = transport->start(request, *exchange);
    });
}

void ZIVOHttpClient::requestCompleted(const std::shared_ptr<ZIVOHttpCall>& call, std::optional<foundation::Data> data,
                                      std::optional<net::HTTPURLResponse> response,
                                      std::optional<foundation::Error> error) {
    ZIVOHttpRequestCompletionHandler completeAfterUnlock;
    {
        std::lock_guard lock(mutex_);
        call->inProgress = false;
        if (!pendingCalls_.count(call)) {
            ZIVOLogDebug(kZIVOLogTag, std::string("HTTP call was canceled; do not process further."));
            return;
        }
        const bool connectivity =
            ZIVOHttpUtil::isNoInternetConnectionError(error) || ZIVOHttpUtil::isSSLConnectionError(error);
        if (connectivity) {
            std::string why = ZIVOHttpUtil::isNoInternetConnectionError(error)
                                  ? "Internet connection is down."
                                  : "Could not establish secure connection.";
            ZIVOLogInfo(kZIVOLogTag, "HTTP call failed with error: " + why);
            // Held until the network comes back, which the reachability will announce. While it
            // reports the network as there, no change may ever come to end the hold: such a call
            // goes through the retries of status 0 below instead.
            if (reachability_->currentReachabilityStatus() == ZIVONotReachable) {
                call->resetRetry();
                return;
            }
        }
        if (error && !connectivity) {
            auto e = *error;
            ZIVOLogError(kZIVOLogTag, "HTTP request error with code: " + std::to_string(e.code) +
                                          ", domain: " + e.domain + ", description: " + e.localizedDescription());
            pendingCalls_.erase(call);
            completeAfterUnlock = call->completionHandler();
        } else {
            int status = response && !error ? response->statusCode : 0;
            if (ZIVOHttpUtil::isRecoverableError(status) && !call->hasReachedMaxRetries()) {
                auto retryAfter = ZIVOHttpUtil::parseRetryAfterMs(
                    response && !error ? response->valueForHTTPHeaderField("x-zv-retry-after-ms") : std::nullopt);
                std::weak_ptr<ZIVOHttpClient> weak = weak_from_this();
                std::weak_ptr<ZIVOHttpCall> weakCall = call;
                call->startRetryTimerWithStatusCode(status, retryAfter, [weak, weakCall] {
                    auto self = weak.lock();
                    auto c = weakCall.lock();
                    if (!self || !c) return;
                    std::lock_guard relock(self->mutex_);
                    if (self->pendingCalls_.count(c)) self->sendCallAsync(c);
                });
                return;
            }
            if (ZIVOHttpUtil::isRecoverableError(status)) {
                pause();
                pendingCalls_.erase(call);
                completeAfterUnlock = call->completionHandler();
            } else if (ZIVOHttpUtil::isSuccessStatusCode(status)) {
                pendingCalls_.erase(call);
                completeAfterUnlock = call->completionHandler();
            } else {
                pendingCalls_.erase(call);
                if (call->completionHandler()) call->completionHandler()(data, response, std::nullopt);
                setEnabled(false, true);
                return;
            }
        }
    }
    if (completeAfterUnlock) completeAfterUnlock(error ? std::nullopt : data, error ? std::nullopt : response, error);
}

void ZIVOHttpClient::networkStateChanged() {
    if (reachability_->currentReachabilityStatus() != ZIVONotReachable) {
        ZIVOLogInfo(kZIVOLogTag, std::string("Internet connection is up."));
        resume();
    } else {
        ZIVOLogInfo(kZIVOLogTag, std::string("Internet connection is down."));
        pause();
    }
}

void ZIVOHttpClient::pause() {
    std::lock_guard lock(mutex_);
    if (paused_) return;
    ZIVOLogInfo(kZIVOLogTag, std::string("Pause HTTP client."));
    paused_ = true;
    for (const auto& call : pendingCalls_) call->resetRetry();
}

void ZIVOHttpClient::resume() {
    std::lock_guard lock(mutex_);
    if (!paused_ || !enabled_) return;
    ZIVOLogInfo(kZIVOLogTag, std::string("Resume HTTP client."));
    paused_ = false;
    auto calls = pendingCalls_;
    for (const auto& call : calls)
        if (!call->inProgress) sendCallAsync(call);
}

void ZIVOHttpClient::setEnabled(bool enabled) {
    std::lock_guard lock(mutex_);
    enabled_ = enabled;
}

void ZIVOHttpClient::setEnabled(bool isEnabled, bool andDeleteDataOnDisabled) {
    std::lock_guard lock(mutex_);
    if (enabled_ == isEnabled) return;
    enabled_ = isEnabled;
    if (isEnabled) {
        reachability_->startNotifier();
        resume();
        return;
    }
    reachability_->stopNotifier();
    pause();
    if (andDeleteDataOnDisabled) {
        for (const auto& e : exchanges_) {
            e->cancelled = true;
            transport_->loop().post([e] {
                if (e->exchange) e->exchange->cancel();
            });
        }
        exchanges_.clear();
        auto calls = std::move(pendingCalls_);
        pendingCalls_.clear();
        for (const auto& call : calls) {
            call->resetRetry();
            if (call->completionHandler())
                call->completionHandler()(std::nullopt, std::nullopt, ZIVOHttpUtil::sdkError(kZIVOCanceledErrorCode));
        }
    }
}

void ZIVOHttpClient::setDelegate(std::weak_ptr<ZIVOHttpClientDelegate> delegate) {
    std::lock_guard lock(mutex_);
    delegate_ = std::move(delegate);
}

bool ZIVOHttpClient::isPaused() const {
    std::lock_guard lock(mutex_);
    return paused_;
}
bool ZIVOHttpClient::isEnabled() const {
    std::lock_guard lock(mutex_);
    return enabled_;
}
size_t ZIVOHttpClient::pendingCallCount() const {
    std::lock_guard lock(mutex_);
    return pendingCalls_.size();
}
