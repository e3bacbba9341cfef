// One HTTP exchange at a time, below the connection: send a request, report the response
// head, the raw (still encoded) body and the end. Redirects, decoding, time-outs and the
// delegate protocol live in the connection above, so every transport behaves alike.
#pragma once

#include <memory>

#include "platform/foundation/error.h"
#include "platform/net/event_loop.h"
#include "platform/net/url_request.h"

namespace net {

// Receives the events of one exchange on the transport's loop, never from inside start().
class TransportClient {
public:
    virtual ~TransportClient() = default;
    virtual void exchangeDidReceiveResponse(const HTTPURLResponse& response) = 0;
    virtual void exchangeDidReceiveData(const uint8_t* data, size_t size) = 0;
    virtual void exchangeDidFinish() = 0;
    virtual void exchangeDidFail(const foundation::Error& error) = 0;
    // Bytes moved in either direction (keeps an idle time-out from firing).
    virtual void exchangeDidMakeProgress() {}
};

// A running exchange. After cancel() (or destruction) its client hears nothing more.
class Exchange {
public:
    virtual ~Exchange() = default;
    virtual void cancel() = 0;
};

class Transport {
public:
    virtual ~Transport() = default;
    // Starts sending request; the client must outlive the exchange or cancel it first.
    virtual std::unique_ptr<Exchange> start(const URLRequest& request, TransportClient& client) = 0;
    virtual EventLoop& loop() = 0;

    // The transport connections use when none is given: libcurl on the main run loop, unless a
    // test installed another.
    static std::shared_ptr<Transport> shared();
    static void setShared(std::shared_ptr<Transport> transport);
};

}  // namespace net
