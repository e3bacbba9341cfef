// A transport for unit tests: replies come from a script instead of the network, and every
// request is recorded as it would have gone out (method, URL, header fields in order, body).
// Replies can be plain, gzip-encoded by the caller, chunked, redirects, or failures with the
// connection error codes (-1009, -1001, -1005, ...); a reply can also hang so that the
// connection's own idle time-out decides.
#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/net/transport.h"

namespace net {

class ScriptedTransport : public Transport, public std::enable_shared_from_this<ScriptedTransport> {
public:
    struct Reply {
        int status = 200;
        HeaderMap headers;
        std::string body;
        // Deliver the body in pieces of this many bytes (0: one piece).
        size_t chunkSize = 0;
        // Seconds of the loop's clock between two pieces (a reply that drips).
        double pieceInterval = 0;
        // Seconds of the loop's clock before the response head arrives.
        double delay = 0;
        // Fail with this URL error code instead of replying (after the head when failAfterHead).
        std::optional<int64_t> failure;
        bool failAfterHead = false;
        // Never answer.
        bool hang = false;

        static Reply ok(std::string body, HeaderMap headers = {});
        static Reply withStatus(int code, std::string body = {});
        static Reply redirect(int code, std::string location);
        static Reply fail(int64_t code);
        static Reply never();
    };

    struct RecordedRequest {
        std::string method;
        std::string url;
        HeaderMap headers;
        foundation::Data body;
        std::string bodyText() const { return std::string(body.begin(), body.end()); }
    };

    static std::shared_ptr<ScriptedTransport> create(EventLoop& loop);

    // Replies are taken in order; when the queue is empty the handler answers, and without a
    // handler the reply is a 404.
    void enqueue(Reply reply);
    void setHandler(std::function<Reply(const URLRequest&)> handler);

    std::vector<RecordedRequest> requests() const;
    size_t requestCount() const;
    void clearRequests();

    std::unique_ptr<Exchange> start(const URLRequest& request, TransportClient& client) override;
    EventLoop& loop() override { return loop_; }

private:
    explicit ScriptedTransport(EventLoop& loop) : loop_(loop) {}
    Reply nextReply(const URLRequest& request);

    EventLoop& loop_;
    mutable std::mutex mutex_;
    std::deque<Reply> queue_;
    std::function<Reply(const URLRequest&)> handler_;
    std::vector<RecordedRequest> recorded_;
};

}  // namespace net
