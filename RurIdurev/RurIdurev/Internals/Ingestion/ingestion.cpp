#include "RurIdurev/RurIdurev/Internals/Ingestion/ingestion.h"

#include "RurIdurev/RurIdurev/Internals/HttpClient/http_util.h"
#include "RurIdurev/RurIdurev/Internals/Model/log_container.h"
#include "RurIdurev/RurIdurev/Internals/Util/network_requests_allowed.h"
#include "RurIdurev/RurIdurev/Internals/Util/utility.h"
#include "RurIdurev/RurIdurev/logger.h"
#include "platform/foundation/url.h"
#include "platform/foundation/uuid.h"

namespace {

// scheme://authority of a URL with its path (no query), or nothing when it is not a URL.
std::optional<std::string> urlWithoutQuery(const std::string& text) {
    auto scheme = text.find("://");
    if (scheme == std::string::npos || scheme == 0) return std::nullopt;
    for (size_t i = 0; i < scheme; ++i)
        if (!isalpha(static_cast<unsigned char>(text[i])) && text[i] != '+' && text[i] != '-' && text[i] != '.')
            return std::nullopt;
    if (text.size() == scheme + 3 || text.find_first_of(" \t\n") != std::string::npos) return std::nullopt;
    return text.substr(0, text.find_first_of("?#"));
}

}  // namespace

ZIVOHttpIngestion::ZIVOHttpIngestion(std::shared_ptr<ZIVOHttpClientProtocol> httpClient, std::string baseURL,
                                     std::string apiPath, ZIVOHttpHeaders headers,
                                     std::vector<std::pair<std::string, std::string>> queryStrings,
                                     std::vector<double> retryIntervals)
    : httpHeaders_(std::move(headers)),
      baseURL_(std::move(baseURL)),
      apiPath_(std::move(apiPath)),
      httpClient_(std::move(httpClient)),
      callsRetryIntervals_(std::move(retryIntervals)) {
    sendURL_ = buildURL(baseURL_, apiPath_, queryStrings);
    auto q = sendURL_.find('?');
    if (q != std::string::npos) query_ = sendURL_.substr(q);
}

void ZIVOHttpIngestion::attach() {
    if (httpClient_) httpClient_->setDelegate(std::static_pointer_cast<ZIVOHttpClientDelegate>(shared_from_this()));
}

std::string ZIVOHttpIngestion::buildURL(const std::string& baseURL, const std::string& apiPath,
                                        const std::vector<std::pair<std::string, std::string>>& queryStrings) {
    std::string url = baseURL + apiPath;
    std::string query;
    for (const auto& [key, value] : queryStrings) query += (query.empty() ? "" : "&") + key + "=" + value;
    if (!query.empty()) url += "?" + foundation::percentEncode(query, foundation::CharacterSet::urlQueryAllowed());
    return url;
}

std::optional<std::string> ZIVOHttpIngestion::eTagFromResponse(const net::HTTPURLResponse& response) {
    return response.valueForHTTPHeaderField("etag");
}

bool ZIVOHttpIngestion::isEnabled() {
    bool enabled;
    {
        std::lock_guard lock(mutex_);
        enabled = enabled_;
    }
    return enabled && ZIVONetworkRequestsAllowed::isAllowed();
}

void ZIVOHttpIngestion::setEnabled(bool isEnabled, bool) {
    std::lock_guard lock(mutex_);
    enabled_ = isEnabled;
}

std::string ZIVOHttpIngestion::sendURL() const {
    std::lock_guard lock(mutex_);
    return sendURL_;
}

void ZIVOHttpIngestion::setBaseURL(const std::string& baseURL) {
    std::lock_guard lock(mutex_);
    baseURL_ = baseURL;
    auto parsed = urlWithoutQuery(baseURL + apiPath_);
    if (!parsed) {
        std::string current = sendURL_;
        ZIVOLogInfo(kZIVOLogTag, "Failed to update HTTP URL " + current + " with " + baseURL);
        return;
    }
    sendURL_ = *parsed + query_;
}

void ZIVOHttpIngestion::sendAsync(const foundation::Data& payload, const ZIVOHttpHeaders& headers,
                                  const std::string& callId, const ZIVOSendAsyncCompletionHandler& completionHandler) {
    std::lock_guard lock(mutex_);
    if (!isEnabled()) {
        std::string name = className();
        ZIVOLogWarning(kZIVOLogTag, name + " is disabled.");
        if (completionHandler)
            completionHandler(callId, std::nullopt, std::nullopt, ZIVOHttpUtil::sdkError(kZIVODisabledErrorCode));
        return;
    }
    std::weak_ptr<ZIVOHttpIngestion> weak = weak_from_this();
    httpClient_->sendAsync(sendURL_, "POST", headers, payload, callsRetryIntervals_, true,
                           [weak, callId, completionHandler](const std::optional<foundation::Data>& body,
                                                             const std::optional<net::HTTPURLResponse>& response,
                                                             const std::optional<foundation::Error>& error) {
                               if (auto self = weak.lock()) self->printResponse(response, body, error);
                               if (completionHandler) completionHandler(callId, response, body, error);
                           });
}

void ZIVOHttpIngestion::printResponse(const std::optional<net::HTTPURLResponse>& response,
                                      const std::optional<foundation::Data>& body,
                                      const std::optional<foundation::Error>& error) const {
    if (error) {
        auto e = *error;
        ZIVOLogDebug(kZIVOLogTag, "HTTP request error with code: " + std::to_string(e.code) + ", domain: " + e.domain +
                                      ", description: " + e.localizedDescription());
        return;
    }
    if (ZIVOLogger::currentLogLevel() > ZIVOLogLevelVerbose) return;
    std::string payload = "(null)";
    if (body && !body->empty()) {
        std::string contentType = response ? response->valueForHTTPHeaderField("Content-Type").value_or("") : "";
        if (contentType.rfind("application/json", 0) == 0) {
            payload = obfuscateResponsePayload(ZIVOUtility::prettyPrintJson(body).value_or(""));
        } else if (!contentType.empty() && contentType.rfind("text/", 0) != 0 &&
                   contentType.rfind("application/", 0) != 0) {
            payload = "<binary>";
        } else {
            payload = obfuscateResponsePayload(std::string(body->begin(), body->end()));
        }
    }
    int status = response ? response->statusCode : 0;
    ZIVOLogVerbose(kZIVOLogTag,
                   "HTTP response received with status code: " + std::to_string(status) + ", payload:\n" + payload);
}

// ---- Main endpoint

std::shared_ptr<ZIVORurIdurevIngestion>
ZIVORurIdurevIngestion::create(std::shared_ptr<ZIVOHttpClientProtocol> httpClient, std::string baseURL,
                               std::string installId, std::vector<double> retryIntervals) {
    std::shared_ptr<ZIVORurIdurevIngestion> ingestion(new ZIVORurIdurevIngestion(
        std::move(httpClient), std::move(baseURL), "/logs",
        ZIVOHttpHeaders{{"Content-Type", "application/json"}, {"Install-ID", std::move(installId)}},
        {{"api-version", "1.0.0"}}, std::move(retryIntervals)));
    ingestion->attach();
    return ingestion;
}

bool ZIVOHttpIngestion::rejectInvalidContainer(const std::shared_ptr<ZIVOLogContainer>& container,
                                               const std::string& batchId,
                                               const ZIVOSendAsyncCompletionHandler& completionHandler) {
    if (container && container->isValid()) return false;
    auto error = ZIVOHttpUtil::sdkError(kZIVOLogInvalidContainerErrorCode);
    ZIVOLogError(kZIVOLogTag, error.localizedDescription());
    if (completionHandler) completionHandler(batchId, std::nullopt, std::nullopt, error);
    return true;
}

void ZIVORurIdurevIngestion::setAppSecret(std::optional<std::string> secret) {
    std::lock_guard lock(secretMutex_);
    appSecret_ = std::move(secret);
}

std::optional<std::string> ZIVORurIdurevIngestion::appSecret() const {
    std::lock_guard lock(secretMutex_);
    return appSecret_;
}

void ZIVORurIdurevIngestion::sendAsync(const std::shared_ptr<ZIVOLogContainer>& container,
                                       const ZIVOSendAsyncCompletionHandler& completionHandler) {
    std::string batchId = container && container->batchId() ? *container->batchId() : std::string();
    if (rejectInvalidContainer(container, batchId, completionHandler)) return;
    auto secret = appSecret();
    if (!secret) {
        ZIVOLogError(kZIVOLogTag, std::string("RurIdurev ingestion is used without app secret."));
        return;
    }
    auto json = container->serializeLog().value_or("");
    ZIVOHttpHeaders headers = httpHeaders_;
    headers.emplace_back("App-Secret", *secret);
    ZIVOHttpIngestion::sendAsync(foundation::Data(json.begin(), json.end()), headers, batchId, completionHandler);
}

void ZIVORurIdurevIngestion::willSendHTTPRequestToURL(const std::string& url, const ZIVOHttpHeaders& headers) {
    if (ZIVOLogger::currentLogLevel() >= ZIVOLogLevelDebug) return;
    std::string text;
    for (const auto& [name, value] : headers) {
        text += (text.empty() ? "" : ", ") + name + " = " +
                (name == "App-Secret" ? ZIVOHttpUtil::hideSecret(value) : value);
    }
    ZIVOLogVerbose(kZIVOLogTag, "URL: " + url);
    ZIVOLogVerbose(kZIVOLogTag, "Headers: " + text);
}
