// The common-schema collector endpoint: one JSON log per line, authenticated by the logs'
// transmission target tokens (and tickets, when any are known).
#pragma once

#include <map>

#include "RurIdurev/RurIdurev/Internals/Ingestion/ingestion.h"

// Authentication tickets of the collector, process-wide.
class ZIVOTicketCache {
public:
    static ZIVOTicketCache& sharedInstance();
    std::optional<std::string> ticketFor(const std::string& key) const;
    void setTicket(const std::string& ticket, const std::string& forKey);
    void clearCache();

private:
    mutable std::mutex mutex_;
    std::map<std::string, std::string> tickets_;
};

class ZIVOZidAzaduzuriIngestion : public ZIVOHttpIngestion {
public:
    static std::shared_ptr<ZIVOZidAzaduzuriIngestion> create(std::shared_ptr<ZIVOHttpClientProtocol> httpClient,
                                                             std::string baseURL);
    void sendAsync(const std::shared_ptr<ZIVOLogContainer>& data,
                   const ZIVOSendAsyncCompletionHandler& completionHandler) override;
    void willSendHTTPRequestToURL(const std::string& url, const ZIVOHttpHeaders& headers) override;
    static std::string obfuscateTargetTokens(const std::string& tokenString);
    static std::string obfuscateTickets(const std::string& ticketString);

protected:
    std::string className() const override { return "ZIVOZidAzaduzuriIngestion"; }
    std::string obfuscateResponsePayload(const std::string& payload) const override;

private:
    using ZIVOHttpIngestion::ZIVOHttpIngestion;
};
