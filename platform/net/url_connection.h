// A URL connection with a delegate: one request, the redirects it leads to, and the reply
// delivered in order on the transport's loop (the main run loop): will-send (before the first
// send and before each redirect, able to change or stop it), response, body data with any
// gzip/deflate encoding removed, then finish or fail. cancel() silences it at once. The
// connection never reads or stores cookies: callers own that. A redirect to another scheme,
// host or port goes without Cookie, Authorization and Proxy-Authorization; a body larger than
// the request's maximumReplyBytes (counted after decoding, while it arrives) fails with -1103.
#pragma once

#include <memory>
#include <optional>

#include "platform/foundation/error.h"
#include "platform/net/transport.h"
#include "platform/net/url_request.h"

namespace net {

class URLConnection;

class URLConnectionDelegate {
public:
    virtual ~URLConnectionDelegate() = default;
    // Before the first send (no redirect response) and before following a redirect; the
    // request returned is sent, none stops: before the first send that ends the connection
    // silently; at a redirect the redirect response itself is delivered as the reply.
    virtual std::optional<URLRequest> willSendRequest(URLConnection&, URLRequest request,
                                                      const HTTPURLResponse* /*redirectResponse*/) {
        return request;
    }
    virtual void didReceiveResponse(URLConnection&, const HTTPURLResponse&) {}
    virtual void didReceiveData(URLConnection&, const uint8_t* /*data*/, size_t /*size*/) {}
    virtual void didFinishLoading(URLConnection&) {}
    virtual void didFailWithError(URLConnection&, const foundation::Error&) {}
};

class URLConnection : public std::enable_shared_from_this<URLConnection>, private TransportClient {
public:
    // The delegate is kept until the connection ends or is cancelled; the connection keeps
    // itself alive while it runs. With no transport, Transport::shared() is used.
    static std::shared_ptr<URLConnection> create(URLRequest request, std::shared_ptr<URLConnectionDelegate> delegate,
                                                 bool startImmediately = true,
                                                 std::shared_ptr<Transport> transport = nullptr);
    ~URLConnection() override;

    // Schedules the first send on the loop (at most once).
    void start();
    // Stops the exchange; no delegate callback follows, not even for work already queued.
    void cancel();

    const URLRequest& originalRequest() const { return original_; }
    // The request being sent now (after the delegate's changes and any redirects).
    const URLRequest& currentRequest() const { return current_; }
    bool isFinished() const { return ended_; }

    static constexpr int kMaximumRedirects = 16;

private:
    URLConnection(URLRequest request, std::shared_ptr<URLConnectionDelegate> delegate,
                  std::shared_ptr<Transport> transport);

    void send(URLRequest request, std::optional<HTTPURLResponse> redirectResponse);
    void exchangeDidReceiveResponse(const HTTPURLResponse& response) override;
    void exchangeDidReceiveData(const uint8_t* data, size_t size) override;
    void exchangeDidFinish() override;
    void exchangeDidFail(const foundation::Error& error) override;
    void exchangeDidMakeProgress() override;
    void armIdleTimer();
    void disarmIdleTimer();
    void onIdleTimer();
    double untilDeadline() const;
    void deliverRedirectAsReply();
    void fail(const foundation::Error& error);
    void end();
    std::optional<URLRequest> redirectRequest(const HTTPURLResponse& response) const;

    std::shared_ptr<Transport> transport_;
    std::shared_ptr<URLConnectionDelegate> delegate_;
    std::shared_ptr<URLConnection> self_;  // alive while running
    URLRequest original_;
    URLRequest current_;
    std::unique_ptr<Exchange> exchange_;
    struct Decoding;
    std::unique_ptr<Decoding> decoding_;
    std::optional<HTTPURLResponse> redirect_;  // a redirect response whose body is being read
    foundation::Data redirectBody_;
    int redirects_ = 0;
    bool started_ = false;
    bool ended_ = false;
    bool timerArmed_ = false;
    uint64_t timerId_ = 0;
    double lastActivity_ = 0;
    double startedAt_ = 0;  // the loop's time of the first send
};

}  // namespace net
