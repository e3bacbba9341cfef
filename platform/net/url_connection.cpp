#include "platform/net/url_connection.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "platform/net/content_decoder.h"
#include "platform/net/url_error.h"
#include "platform/net/url_parts.h"

namespace net {

struct URLConnection::Decoding {
    std::unique_ptr<ContentDecoder> decoder;
    bool fed = false;
    size_t delivered = 0;  // plain bytes handed to the delegate
};

namespace {

foundation::Error tooLarge(const URLRequest& request) {
    return urlError(kURLErrorDataLengthExceedsMaximum, request.url(),
                    "the reply is larger than " + std::to_string(request.maximumReplyBytes()) + " bytes");
}

bool isTooLarge(const foundation::Error& error) {
    return error.domain == kURLErrorDomain && error.code == kURLErrorDataLengthExceedsMaximum;
}

}  // namespace

URLConnection::URLConnection(URLRequest request, std::shared_ptr<URLConnectionDelegate> delegate,
                             std::shared_ptr<Transport> transport)
    : transport_(std::move(transport)),
      delegate_(std::move(delegate)),
      original_(request),
      current_(std::move(request)) {}

URLConnection::~URLConnection() {
    ended_ = true;
    exchange_.reset();
    disarmIdleTimer();
}

std::shared_ptr<URLConnection> URLConnection::create(URLRequest request,
                                                     std::shared_ptr<URLConnectionDelegate> delegate,
                                                     bool startImmediately, std::shared_ptr<Transport> transport) {
    if (!transport) transport = Transport::shared();
    auto connection = std::shared_ptr<URLConnection>(
        new URLConnection(std::move(request), std::move(delegate), std::move(transport)));
    if (startImmediately) connection->start();
    return connection;
}

void URLConnection::start() {
    if (started_ || ended_) return;
    started_ = true;
    self_ = shared_from_this();
    std::weak_ptr<URLConnection> weak = self_;
    transport_->loop().post([weak] {
        auto self = weak.lock();
        if (!self || self->ended_) return;
        self->startedAt_ = self->transport_->loop().now();
        self->send(self->original_, std::nullopt);
    });
}

void URLConnection::cancel() {
    if (ended_) return;
    end();
}

void URLConnection::end() {
    ended_ = true;
    if (exchange_) exchange_->cancel();
    exchange_.reset();
    disarmIdleTimer();
    delegate_.reset();
    // Released last: the caller may hold the only other reference.
    auto keep = std::move(self_);
}

void URLConnection::send(URLRequest request, std::optional<HTTPURLResponse> redirectResponse) {
    auto keep = shared_from_this();
    auto delegate = delegate_;
    std::optional<URLRequest> next =
        delegate ? delegate->willSendRequest(*this, std::move(request), redirectResponse ? &*redirectResponse : nullptr)
                 : std::optional<URLRequest>(std::move(request));
    if (ended_) return;
    if (!next) {
        if (redirectResponse) {
            deliverRedirectAsReply();
        } else {
            end();
        }
        return;
    }
    redirect_.reset();
    redirectBody_.clear();
    current_ = std::move(*next);
    if (!URLParts::parse(current_.url())) {
        fail(urlError(kURLErrorBadURL, current_.url()));
        return;
    }
    // Checked here, after the delegate's last word, so redirects and rewritten requests too.
    if (auto unsafe = unsafeRequestField(current_.allHTTPHeaderFields())) {
        fail(urlError(kURLErrorUnknown, current_.url(), "request not sent: " + *unsafe));
        return;
    }
    decoding_.reset();
    lastActivity_ = transport_->loop().now();
    armIdleTimer();
    exchange_ = transport_->start(current_, *this);
}

std::optional<URLRequest> URLConnection::redirectRequest(const HTTPURLResponse& response) const {
    int status = response.statusCode;
    if (status != 301 && status != 302 && status != 303 && status != 307 && status != 308) return std::nullopt;
    auto location = response.headers.get("Location");
    if (!location) return std::nullopt;
    auto target = resolveURL(current_.url(), *location);
    if (!target) return std::nullopt;
    URLRequest next = current_;
    next.setURL(*target);
    const std::string& method = current_.httpMethod();
    bool toGet = (status == 303 && method != "HEAD") || ((status == 301 || status == 302) && method == "POST");
    if (toGet) {
        next.setHTTPMethod("GET");
        next.setHTTPBody(foundation::Data{});
        next.removeValueForHTTPHeaderField("Content-Type");
        next.removeValueForHTTPHeaderField("Content-Length");
    }
    auto from = URLParts::parse(current_.url());
    auto to = URLParts::parse(*target);
    // Credentials and the session cookie stay with the origin they were meant for; whoever
    // keeps cookies for the new origin adds its own in willSendRequest.
    bool sameOrigin = from && to && from->scheme == to->scheme && from->host == to->host &&
                      from->effectivePort() == to->effectivePort();
    if (!sameOrigin)
        for (const char* field : {"Authorization", "Proxy-Authorization", "Cookie"})
            next.removeValueForHTTPHeaderField(field);
    return next;
}

void URLConnection::exchangeDidReceiveResponse(const HTTPURLResponse& response) {
    if (ended_) return;
    lastActivity_ = transport_->loop().now();
    if (redirectRequest(response)) {
        redirect_ = response;
        return;
    }
    decoding_ = std::make_unique<Decoding>();
    if (auto encoding = response.headers.get("Content-Encoding"))
        decoding_->decoder = ContentDecoder::forEncoding(*encoding);
    auto keep = shared_from_this();
    if (auto delegate = delegate_) delegate->didReceiveResponse(*this, response);
}

void URLConnection::exchangeDidReceiveData(const uint8_t* data, size_t size) {
    if (ended_) return;
    lastActivity_ = transport_->loop().now();
    const size_t limit = current_.maximumReplyBytes();
    auto keep = shared_from_this();
    if (redirect_) {
        if (size > limit - std::min(limit, redirectBody_.size())) {
            fail(tooLarge(current_));
            return;
        }
        redirectBody_.insert(redirectBody_.end(), data, data + size);
        return;
    }
    if (!decoding_) decoding_ = std::make_unique<Decoding>();
    if (decoding_->decoder) {
        decoding_->fed = decoding_->fed || size > 0;
        foundation::Data plain;
        auto status = decoding_->decoder->decode(data, size, plain, limit);
        if (!status) {
            fail(isTooLarge(status.error()) ? tooLarge(current_)
                                            : urlError(kURLErrorCannotDecodeContentData, current_.url()));
            return;
        }
        decoding_->delivered += plain.size();
        if (!plain.empty())
            if (auto delegate = delegate_) delegate->didReceiveData(*this, plain.data(), plain.size());
        return;
    }
    if (size > limit - std::min(limit, decoding_->delivered)) {
        fail(tooLarge(current_));
        return;
    }
    decoding_->delivered += size;
    if (size > 0)
        if (auto delegate = delegate_) delegate->didReceiveData(*this, data, size);
}

void URLConnection::exchangeDidFinish() {
    if (ended_) return;
    auto keep = shared_from_this();
    exchange_.reset();
    if (redirect_) {
        HTTPURLResponse response = *redirect_;
        if (++redirects_ > kMaximumRedirects) {
            fail(urlError(kURLErrorHTTPTooManyRedirects, current_.url()));
            return;
        }
        auto next = redirectRequest(response);
        disarmIdleTimer();
        send(std::move(*next), response);
        return;
    }
    if (decoding_ && decoding_->decoder && decoding_->fed && !decoding_->decoder->finished()) {
        fail(urlError(kURLErrorCannotDecodeContentData, current_.url(), "truncated encoded body"));
        return;
    }
    auto delegate = delegate_;
    end();
    if (delegate) delegate->didFinishLoading(*this);
}

void URLConnection::deliverRedirectAsReply() {
    HTTPURLResponse response = *redirect_;
    foundation::Data body = std::move(redirectBody_);
    redirect_.reset();
    auto keep = shared_from_this();
    // The redirect's body was held back still encoded; it is delivered like any other.
    if (auto encoding = response.headers.get("Content-Encoding"); encoding && !body.empty()) {
        if (auto decoder = ContentDecoder::forEncoding(*encoding)) {
            foundation::Data plain;
            auto status = decoder->decode(body.data(), body.size(), plain, current_.maximumReplyBytes());
            if (!status || !decoder->finished()) {
                fail(!status && isTooLarge(status.error())
                         ? tooLarge(current_)
                         : urlError(kURLErrorCannotDecodeContentData, current_.url()));
                return;
            }
            body = std::move(plain);
        }
    }
    if (auto delegate = delegate_) delegate->didReceiveResponse(*this, response);
    if (ended_) return;
    if (!body.empty())
        if (auto delegate = delegate_) delegate->didReceiveData(*this, body.data(), body.size());
    if (ended_) return;
    auto delegate = delegate_;
    end();
    if (delegate) delegate->didFinishLoading(*this);
}

void URLConnection::exchangeDidFail(const foundation::Error& error) {
    if (ended_) return;
    exchange_.reset();
    fail(error);
}

void URLConnection::fail(const foundation::Error& error) {
    auto keep = shared_from_this();
    auto delegate = delegate_;
    end();
    if (delegate) delegate->didFailWithError(*this, error);
}

void URLConnection::exchangeDidMakeProgress() { lastActivity_ = transport_->loop().now(); }

// The time left before the deadline (infinite without one).
double URLConnection::untilDeadline() const {
    const double deadline = current_.deadlineInterval();
    if (deadline <= 0) return std::numeric_limits<double>::infinity();
    return startedAt_ + deadline - transport_->loop().now();
}

// One timer serves both limits: it fires at whichever comes first, the idle interval after the
// last progress or the deadline.
void URLConnection::armIdleTimer() {
    disarmIdleTimer();
    const double interval = current_.timeoutInterval();
    double remaining =
        interval > 0 ? lastActivity_ + interval - transport_->loop().now() : std::numeric_limits<double>::infinity();
    remaining = std::min(remaining, untilDeadline());
    if (std::isinf(remaining)) return;
    if (remaining < 0) remaining = 0;
    std::weak_ptr<URLConnection> weak = weak_from_this();
    timerArmed_ = true;
    timerId_ = transport_->loop().scheduleTimer(remaining, [weak] {
        if (auto self = weak.lock()) {
            self->timerArmed_ = false;
            self->onIdleTimer();
        }
    });
}

void URLConnection::disarmIdleTimer() {
    if (!timerArmed_) return;
    timerArmed_ = false;
    transport_->loop().cancelTimer(timerId_);
}

void URLConnection::onIdleTimer() {
    if (ended_) return;
    // Rearming on every chunk would churn the timer; instead check how long it has been quiet.
    const double interval = current_.timeoutInterval();
    const bool quietTooLong = interval > 0 && transport_->loop().now() - lastActivity_ >= interval;
    if (untilDeadline() <= 0) {
        fail(urlError(kURLErrorTimedOut, current_.url(),
                      "no complete reply within " + std::to_string(static_cast<long>(current_.deadlineInterval())) +
                          " seconds"));
        return;
    }
    if (!quietTooLong) {
        armIdleTimer();
        return;
    }
    fail(urlError(kURLErrorTimedOut, current_.url()));
}

}  // namespace net
