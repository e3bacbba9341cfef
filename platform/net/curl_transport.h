// The real transport: libcurl's multi interface driven by the loop's socket sources and one
// timer (no polling thread, no thread per request). Connections to a host are kept alive and
// reused across exchanges; TLS peers are verified against the system's certificate store.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/net/transport.h"

namespace net {

// The text of a verbose trace with the values of credential-bearing header lines
// (Authorization, Proxy-Authorization, Cookie, Set-Cookie) replaced by "***", line by line.
std::string maskCredentialHeaderLines(std::string_view text);

class CurlTransport : public Transport, public std::enable_shared_from_this<CurlTransport> {
public:
    static std::shared_ptr<CurlTransport> create(EventLoop& loop);
    ~CurlTransport() override;

    std::unique_ptr<Exchange> start(const URLRequest& request, TransportClient& client) override;
    EventLoop& loop() override { return loop_; }

    // When set and answering false for a request's URL, the exchange fails at once with "not
    // connected" instead of trying (the platform's behaviour while the device has no network).
    void setNetworkAvailable(std::function<bool(const std::string& url)> available);

    struct Impl;

private:
    explicit CurlTransport(EventLoop& loop);
    EventLoop& loop_;
    std::shared_ptr<Impl> impl_;
};

}  // namespace net
