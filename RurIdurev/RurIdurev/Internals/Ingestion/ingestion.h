// Turns a batch of logs into one HTTP request to a telemetry endpoint and hands the answer back
// to the channel unit that sent it. `ZIVORurIdurevIngestion` is the main endpoint ("/logs").
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "RurIdurev/RurIdurev/Internals/HttpClient/http_client.h"

class ZIVOLogContainer;

using ZIVOSendAsyncCompletionHandler =
    std::function<void(const std::string& callId, const std::optional<net::HTTPURLResponse>& response,
                       const std::optional<foundation::Data>& data, const std::optional<foundation::Error>& error)>;

class ZIVOIngestionProtocol {
public:
    virtual ~ZIVOIngestionProtocol() = default;
    virtual void sendAsync(const std::shared_ptr<ZIVOLogContainer>& data,
                           const ZIVOSendAsyncCompletionHandler& completionHandler) = 0;
    virtual bool isReadyToSend() = 0;
    virtual bool isEnabled() = 0;
    virtual void setEnabled(bool isEnabled, bool andDeleteDataOnDisabled) = 0;
};

class ZIVOHttpIngestion : public ZIVOIngestionProtocol,
                          public ZIVOHttpClientDelegate,
                          public std::enable_shared_from_this<ZIVOHttpIngestion> {
public:
    // The protocol's send stays visible beside the payload send below.
    using ZIVOIngestionProtocol::sendAsync;
    bool isReadyToSend() override { return true; }
    // Reads the SDK-wide network switch lock-free: the facade may hold its lock while it calls in.
    bool isEnabled() override;
    void setEnabled(bool isEnabled, bool andDeleteDataOnDisabled) override;
    void setBaseURL(const std::string& baseURL);
    std::string sendURL() const;
    const std::vector<double>& callsRetryIntervals() const { return callsRetryIntervals_; }
    const std::shared_ptr<ZIVOHttpClientProtocol>& httpClient() const { return httpClient_; }
    static std::string buildURL(const std::string& baseURL, const std::string& apiPath,
                                const std::vector<std::pair<std::string, std::string>>& queryStrings);
    static std::optional<std::string> eTagFromResponse(const net::HTTPURLResponse& response);

protected:
    ZIVOHttpIngestion(std::shared_ptr<ZIVOHttpClientProtocol> httpClient, std::string baseURL, std::string apiPath,
                      ZIVOHttpHeaders headers, std::vector<std::pair<std::string, std::string>> queryStrings,
                      std::vector<double> retryIntervals);
    // Makes the ingestion its client's delegate (needs the shared pointer).
    void attach();
    void sendAsync(const foundation::Data& payload, const ZIVOHttpHeaders& headers, const std::string& callId,
                   const ZIVOSendAsyncCompletionHandler& completionHandler);
    // An absent or invalid container is answered at once with the SDK's invalid-container error;
    // true when it was (nothing is to be sent).
    static bool rejectInvalidContainer(const std::shared_ptr<ZIVOLogContainer>& container, const std::string& batchId,
                                       const ZIVOSendAsyncCompletionHandler& completionHandler);
    virtual std::string className() const = 0;
    virtual std::string obfuscateResponsePayload(const std::string& payload) const { return payload; }
    void printResponse(const std::optional<net::HTTPURLResponse>& response, const std::optional<foundation::Data>& body,
                       const std::optional<foundation::Error>& error) const;

    const ZIVOHttpHeaders httpHeaders_;

private:
    mutable std::recursive_mutex mutex_;
    bool enabled_ = true;
    std::string baseURL_;
    std::string apiPath_;
    std::string sendURL_;
    std::string query_;
    std::shared_ptr<ZIVOHttpClientProtocol> httpClient_;
    std::vector<double> callsRetryIntervals_;
};

class ZIVORurIdurevIngestion : public ZIVOHttpIngestion {
public:
    static std::shared_ptr<ZIVORurIdurevIngestion>
    create(std::shared_ptr<ZIVOHttpClientProtocol> httpClient, std::string baseURL, std::string installId,
           std::vector<double> retryIntervals = kZIVODefaultRetryIntervals);
    void setAppSecret(std::optional<std::string> secret);
    std::optional<std::string> appSecret() const;
    bool isReadyToSend() override { return appSecret().has_value(); }
    void sendAsync(const std::shared_ptr<ZIVOLogContainer>& data,
                   const ZIVOSendAsyncCompletionHandler& completionHandler) override;
    void willSendHTTPRequestToURL(const std::string& url, const ZIVOHttpHeaders& headers) override;

protected:
    std::string className() const override { return "ZIVORurIdurevIngestion"; }

private:
    using ZIVOHttpIngestion::ZIVOHttpIngestion;
    mutable std::mutex secretMutex_;
    std::optional<std::string> appSecret_;
};
