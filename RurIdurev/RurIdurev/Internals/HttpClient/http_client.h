// The SDK's HTTP transport: pending calls, retries with randomized back-off, pause while the
// network is away, and shut-down after the first non-recoverable answer.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/dispatch/dispatch.h"
#include "platform/foundation/error.h"
#include "platform/net/transport.h"

class ZIVO_Reachability;

using ZIVOHttpHeaders = std::vector<std::pair<std::string, std::string>>;
using ZIVOHttpRequestCompletionHandler = std::function<void(const std::optional<foundation::Data>& responseBody,
                                                            const std::optional<net::HTTPURLResponse>& response,
                                                            const std::optional<foundation::Error>& error)>;

inline const std::vector<double> kZIVODefaultRetryIntervals{10, 300, 1200};

class ZIVOHttpClientDelegate {
public:
    virtual ~ZIVOHttpClientDelegate() = default;
    virtual void willSendHTTPRequestToURL(const std::string&, const ZIVOHttpHeaders&) {}
};

// One request with its retry state.
class ZIVOHttpCall {
public:
    static constexpr size_t kCompressionThreshold = 1400;

    ZIVOHttpCall(std::string url, std::string method, const ZIVOHttpHeaders& headers,
                 std::optional<foundation::Data> data, std::vector<double> retryIntervals, bool compressionEnabled,
                 ZIVOHttpRequestCompletionHandler completionHandler);
    ~ZIVOHttpCall();

    bool hasReachedMaxRetries() const;
    void resetRetry();
    void startRetryTimerWithStatusCode(int statusCode, std::optional<uint32_t> retryAfter, dispatch::Block event);
    uint32_t delayForRetryCount(int count) const;
    int retryCount() const;

    const std::string& url() const { return url_; }
    const std::string& method() const { return method_; }
    const ZIVOHttpHeaders& headers() const { return headers_; }
    const std::optional<foundation::Data>& data() const { return data_; }
    const ZIVOHttpRequestCompletionHandler& completionHandler() const { return completionHandler_; }
    bool inProgress = false;

private:
    std::string url_;
    std::string method_;
    ZIVOHttpHeaders headers_;
    std::optional<foundation::Data> data_;
    std::vector<double> retryIntervals_;
    ZIVOHttpRequestCompletionHandler completionHandler_;
    mutable std::mutex mutex_;
    int retryCount_ = 0;
    std::unique_ptr<dispatch::TimerSource> timerSource_;
};

class ZIVOHttpClientProtocol {
public:
    virtual ~ZIVOHttpClientProtocol() = default;
    virtual void sendAsync(const std::string& url, const std::string& method, const ZIVOHttpHeaders& headers,
                           std::optional<foundation::Data> data, std::vector<double> retryIntervals,
                           bool compressionEnabled, ZIVOHttpRequestCompletionHandler completionHandler) = 0;
    virtual void pause() = 0;
    virtual void resume() = 0;
    virtual void setEnabled(bool enabled) = 0;
    virtual void setDelegate(std::weak_ptr<ZIVOHttpClientDelegate> delegate) = 0;
};

class ZIVOHttpClient : public ZIVOHttpClientProtocol, public std::enable_shared_from_this<ZIVOHttpClient> {
public:
    // transport: the platform transport when empty; reachability: the internet connection's.
    static std::shared_ptr<ZIVOHttpClient> create(std::shared_ptr<net::Transport> transport = nullptr,
                                                  std::shared_ptr<ZIVO_Reachability> reachability = nullptr);
    ~ZIVOHttpClient() override;

    void sendAsync(const std::string& url, const std::string& method, const ZIVOHttpHeaders& headers,
                   std::optional<foundation::Data> data, ZIVOHttpRequestCompletionHandler completionHandler) {
        sendAsync(url, method, headers, std::move(data), kZIVODefaultRetryIntervals, true,
                  std::move(completionHandler));
    }
    void sendAsync(const std::string& url, const std::string& method, const ZIVOHttpHeaders& headers,
                   std::optional<foundation::Data> data, std::vector<double> retryIntervals, bool compressionEnabled,
                   ZIVOHttpRequestCompletionHandler completionHandler) override;
    void pause() override;
    void resume() override;
    void setEnabled(bool enabled) override;
    void setEnabled(bool isEnabled, bool andDeleteDataOnDisabled);
    void setDelegate(std::weak_ptr<ZIVOHttpClientDelegate> delegate) override;

    bool isPaused() const;
    bool isEnabled() const;
    size_t pendingCallCount() const;
    void networkStateChanged();

private:
    ZIVOHttpClient(std::shared_ptr<net::Transport> transport, std::shared_ptr<ZIVO_Reachability> reachability);
    void start();
    void sendCallAsync(const std::shared_ptr<ZIVOHttpCall>& call);
    void requestCompleted(const std::shared_ptr<ZIVOHttpCall>& call, std::optional<foundation::Data> data,
                          std::optional<net::HTTPURLResponse> response, std::optional<foundation::Error> error);
    struct Exchange;

    mutable std::recursive_mutex mutex_;
    bool paused_ = false;
    bool enabled_ = true;
    std::weak_ptr<ZIVOHttpClientDelegate> delegate_;
    std::shared_ptr<net::Transport> transport_;
    std::shared_ptr<ZIVO_Reachability> reachability_;
    std::set<std::shared_ptr<ZIVOHttpCall>> pendingCalls_;
    std::set<std::shared_ptr<Exchange>> exchanges_;
};
