#include "platform/net/scripted_transport.h"

#include "platform/net/url_error.h"

namespace net {

ScriptedTransport::Reply ScriptedTransport::Reply::ok(std::string body, HeaderMap headers) {
    Reply r;
    r.body = std::move(body);
    r.headers = std::move(headers);
    return r;
}

ScriptedTransport::Reply ScriptedTransport::Reply::withStatus(int code, std::string body) {
    Reply r;
    r.status = code;
    r.body = std::move(body);
    return r;
}

ScriptedTransport::Reply ScriptedTransport::Reply::redirect(int code, std::string location) {
    Reply r;
    r.status = code;
    r.headers.set("Location", location);
    return r;
}

ScriptedTransport::Reply ScriptedTransport::Reply::fail(int64_t code) {
    Reply r;
    r.failure = code;
    return r;
}

ScriptedTransport::Reply ScriptedTransport::Reply::never() {
    Reply r;
    r.hang = true;
    return r;
}

std::shared_ptr<ScriptedTransport> ScriptedTransport::create(EventLoop& loop) {
    return std::shared_ptr<ScriptedTransport>(new ScriptedTransport(loop));
}

void ScriptedTransport::enqueue(Reply reply) {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(reply));
}

void ScriptedTransport::setHandler(std::function<Reply(const URLRequest&)> handler) {
    std::lock_guard lock(mutex_);
    handler_ = std::move(handler);
}

std::vector<ScriptedTransport::RecordedRequest> ScriptedTransport::requests() const {
    std::lock_guard lock(mutex_);
    return recorded_;
}

size_t ScriptedTransport::requestCount() const {
    std::lock_guard lock(mutex_);
    return recorded_.size();
}

void ScriptedTransport::clearRequests() {
    std::lock_guard lock(mutex_);
    recorded_.clear();
}

ScriptedTransport::Reply ScriptedTransport::nextReply(const URLRequest& request) {
    std::function<Reply(const URLRequest&)> handler;
    {
        std::lock_guard lock(mutex_);
        recorded_.push_back({request.httpMethod(), request.url(), request.allHTTPHeaderFields(), request.httpBody()});
        if (!queue_.empty()) {
            Reply r = std::move(queue_.front());
            queue_.pop_front();
            return r;
        }
        handler = handler_;
    }
    if (handler) return handler(request);
    return Reply::withStatus(404, "not found");
}

namespace {

using SharedReply = std::shared_ptr<const ScriptedTransport::Reply>;

// The body from `at` on, piece by piece: at once, or one piece per pieceInterval of the loop's clock.
void deliverBody(EventLoop& loop, const std::weak_ptr<bool>& alive, TransportClient* target, const SharedReply& reply,
                 size_t at) {
    auto live = [&] {
        auto a = alive.lock();
        return a && *a;
    };
    const std::string& body = reply->body;
    const size_t chunk = reply->chunkSize ? reply->chunkSize : body.size();
    for (; at < body.size(); at += chunk) {
        const size_t n = std::min(chunk, body.size() - at);
        target->exchangeDidReceiveData(reinterpret_cast<const uint8_t*>(body.data() + at), n);
        if (!live()) return;
        if (reply->pieceInterval > 0 && at + n < body.size()) {
            (void)loop.scheduleTimer(reply->pieceInterval, [&loop, alive, target, reply, next = at + n] {
                auto a = alive.lock();
                if (a && *a) deliverBody(loop, alive, target, reply, next);
            });
            return;
        }
    }
    *alive.lock() = false;
    target->exchangeDidFinish();
}

// Plays one reply to its client through the loop; each step checks that it was not cancelled.
class ScriptedExchange : public Exchange {
public:
    ScriptedExchange(EventLoop& loop, TransportClient& client, ScriptedTransport::Reply reply, std::string url)
        : loop_(loop), alive_(std::make_shared<bool>(true)) {
        if (reply.hang) return;
        std::weak_ptr<bool> alive = alive_;
        TransportClient* target = &client;
        const double delay = reply.delay;
        auto play = [alive, target, reply = std::make_shared<const ScriptedTransport::Reply>(std::move(reply)), url,
                     &loop]() {
            auto live = [&] {
                auto a = alive.lock();
                return a && *a;
            };
            if (!live()) return;
            if (reply->failure && !reply->failAfterHead) {
                *alive.lock() = false;
                target->exchangeDidFail(urlError(*reply->failure, url));
                return;
            }
            HTTPURLResponse response;
            response.url = url;
            response.statusCode = reply->status;
            response.headers = reply->headers;
            target->exchangeDidReceiveResponse(response);
            if (!live()) return;
            if (reply->failure) {
                if (!reply->body.empty()) {
                    target->exchangeDidReceiveData(reinterpret_cast<const uint8_t*>(reply->body.data()),
                                                   reply->body.size() / 2);
                    if (!live()) return;
                }
                *alive.lock() = false;
                target->exchangeDidFail(urlError(*reply->failure, url));
                return;
            }
            deliverBody(loop, alive, target, reply, 0);
        };
        if (delay > 0)
            timer_ = loop.scheduleTimer(delay, std::move(play)), hasTimer_ = true;
        else
            loop.post(std::move(play));
    }
    ~ScriptedExchange() override { cancel(); }
    void cancel() override {
        *alive_ = false;
        if (hasTimer_) loop_.cancelTimer(timer_);
        hasTimer_ = false;
    }

private:
    EventLoop& loop_;
    std::shared_ptr<bool> alive_;
    uint64_t timer_ = 0;
    bool hasTimer_ = false;
};

}  // namespace

std::unique_ptr<Exchange> ScriptedTransport::start(const URLRequest& request, TransportClient& client) {
    Reply reply = nextReply(request);
    return std::make_unique<ScriptedExchange>(loop_, client, std::move(reply), request.url());
}

}  // namespace net
