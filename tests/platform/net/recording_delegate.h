// A connection delegate that writes down every callback, for checking order and content.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/net/url_connection.h"

namespace hxtest {

class RecordingDelegate : public net::URLConnectionDelegate {
public:
    std::vector<std::string> events;
    std::vector<net::HTTPURLResponse> responses;
    std::string body;
    std::optional<foundation::Error> error;
    bool done = false;
    // Optional hooks: change or stop a send, act inside a callback.
    std::function<std::optional<net::URLRequest>(net::URLRequest, const net::HTTPURLResponse*)> onWillSend;
    std::function<void(net::URLConnection&)> onResponse;

    std::optional<net::URLRequest> willSendRequest(net::URLConnection&, net::URLRequest request,
                                                   const net::HTTPURLResponse* redirect) override {
        events.push_back(redirect ? "redirect " + std::to_string(redirect->statusCode) + " " + request.url()
                                  : "willSend " + request.url());
        if (onWillSend) return onWillSend(std::move(request), redirect);
        return request;
    }
    void didReceiveResponse(net::URLConnection& c, const net::HTTPURLResponse& r) override {
        events.push_back("response " + std::to_string(r.statusCode));
        responses.push_back(r);
        if (onResponse) onResponse(c);
    }
    void didReceiveData(net::URLConnection&, const uint8_t* data, size_t size) override {
        if (events.empty() || events.back() != "data") events.push_back("data");
        body.append(reinterpret_cast<const char*>(data), size);
    }
    void didFinishLoading(net::URLConnection&) override {
        events.push_back("finish");
        done = true;
    }
    void didFailWithError(net::URLConnection&, const foundation::Error& e) override {
        events.push_back("fail " + std::to_string(e.code));
        error = e;
        done = true;
    }
};

}  // namespace hxtest
