// What the network layer sends and what it hands back: a mutable request value and the HTTP
// response of an exchange (status, final URL and every header line as received).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/value.h"
#include "platform/net/http_headers.h"

namespace net {

class URLRequest {
public:
    URLRequest() = default;
    explicit URLRequest(std::string url, double timeoutInterval = 60.0)
        : url_(std::move(url)), timeoutInterval_(timeoutInterval) {}

    const std::string& url() const { return url_; }
    void setURL(std::string url) { url_ = std::move(url); }

    const std::string& httpMethod() const { return method_; }
    void setHTTPMethod(std::string method) { method_ = std::move(method); }

    // Header fields in the order they were first set; names compare without case.
    const HeaderMap& allHTTPHeaderFields() const { return headers_; }
    std::optional<std::string> valueForHTTPHeaderField(std::string_view name) const { return headers_.get(name); }
    // Sets a field, replacing any value it had.
    void setValue(std::string_view value, std::string_view field) { headers_.set(field, value); }
    void removeValueForHTTPHeaderField(std::string_view field) { headers_.remove(field); }

    const foundation::Data& httpBody() const { return body_; }
    void setHTTPBody(foundation::Data body) { body_ = std::move(body); }
    void setHTTPBody(std::string_view body) { body_.assign(body.begin(), body.end()); }

    // Seconds without any progress after which the exchange fails as timed out.
    double timeoutInterval() const { return timeoutInterval_; }
    void setTimeoutInterval(double seconds) { timeoutInterval_ = seconds; }
    // Seconds from the first send after which the exchange fails as timed out however it
    // progresses (redirects included): a reply that trickles in keeps the idle timer quiet but
    // not this one. 0 (the default) sets no such limit.
    double deadlineInterval() const { return deadlineInterval_; }
    void setDeadlineInterval(double seconds) { deadlineInterval_ = seconds; }

    // The most bytes of body (after any content decoding) the reply may have; a larger one
    // fails while it arrives, like any failed request. API replies keep the default.
    static constexpr size_t kDefaultMaximumReplyBytes = 32u << 20;
    size_t maximumReplyBytes() const { return maximumReplyBytes_; }
    void setMaximumReplyBytes(size_t bytes) { maximumReplyBytes_ = bytes; }

    // Kept for callers that state it; the layer never reads or stores cookies either way.
    bool httpShouldHandleCookies() const { return shouldHandleCookies_; }
    void setHTTPShouldHandleCookies(bool handle) { shouldHandleCookies_ = handle; }

    friend bool operator==(const URLRequest&, const URLRequest&) = default;

private:
    std::string url_;
    std::string method_ = "GET";
    HeaderMap headers_;
    foundation::Data body_;
    double timeoutInterval_ = 60.0;
    double deadlineInterval_ = 0;
    size_t maximumReplyBytes_ = kDefaultMaximumReplyBytes;
    bool shouldHandleCookies_ = true;
};

struct HTTPURLResponse {
    std::string url;  // the URL this response answers (after the redirects followed so far)
    int statusCode = 0;
    HeaderMap headers;

    std::optional<std::string> valueForHTTPHeaderField(std::string_view name) const { return headers.get(name); }
    // The MIME type from Content-Type (lower case, without parameters), or "".
    std::string mimeType() const;
    // Content-Length, or -1 when unknown.
    long long expectedContentLength() const;
};

}  // namespace net
