#include "RurIdurev/RurIdurev/Internals/Ingestion/zid_azaduzuri_ingestion.h"

#include <set>

#include "RurIdurev/RurIdurev/Internals/HttpClient/http_util.h"
#include "RurIdurev/RurIdurev/Internals/Model/CommonSchema/common_schema_log.h"
#include "RurIdurev/RurIdurev/Internals/Model/log_container.h"
#include "RurIdurev/RurIdurev/Internals/Util/utility.h"
#include "RurIdurev/RurIdurev/logger.h"
#include "platform/foundation/json.h"
#include "platform/foundation/uuid.h"

ZIVOTicketCache& ZIVOTicketCache::sharedInstance() {
    static auto* cache = new ZIVOTicketCache;
    return *cache;
}
std::optional<std::string> ZIVOTicketCache::ticketFor(const std::string& key) const {
    std::lock_guard lock(mutex_);
    auto it = tickets_.find(key);
    return it == tickets_.end() ? std::nullopt : std::optional<std::string>(it->second);
}
void ZIVOTicketCache::setTicket(const std::string& ticket, const std::string& forKey) {
    std::lock_guard lock(mutex_);
    tickets_[forKey] = ticket;
}
void ZIVOTicketCache::clearCache() {
    std::lock_guard lock(mutex_);
    tickets_.clear();
}

std::shared_ptr<ZIVOZidAzaduzuriIngestion>
ZIVOZidAzaduzuriIngestion::create(std::shared_ptr<ZIVOHttpClientProtocol> httpClient, std::string baseURL) {
    std::shared_ptr<ZIVOZidAzaduzuriIngestion> ingestion(new ZIVOZidAzaduzuriIngestion(
        std::move(httpClient), std::move(baseURL), "/ZidAzaduzuri/1.0",
        ZIVOHttpHeaders{{"Content-Type", "application/x-json-stream; charset=utf-8"},
                        {"Client-Version", "ZAC-iOS-ObjectiveC-no-" + ZIVOUtility::sdkVersion() + "-no"}},
        {}, kZIVODefaultRetryIntervals));
    ingestion->attach();
    return ingestion;
}

void ZIVOZidAzaduzuriIngestion::sendAsync(const std::shared_ptr<ZIVOLogContainer>& container,
                                          const ZIVOSendAsyncCompletionHandler& completionHandler) {
    std::string batchId = container && container->batchId() ? *container->batchId() : std::string();
    if (rejectInvalidContainer(container, batchId, completionHandler)) return;
    std::set<std::string> tokens;
    foundation::Dictionary tickets;
    std::string body;
    for (const auto& log : container->logs()) {
        if (auto t = log->transmissionTargetTokens()) tokens.insert(t->begin(), t->end());
        if (const auto* cs = dynamic_cast<const ZIVOCommonSchemaLog*>(log.get());
            cs && cs->ext && cs->ext->protocolExt && cs->ext->protocolExt->ticketKeys()) {
            for (const auto& key : *cs->ext->protocolExt->ticketKeys())
                if (auto ticket = ZIVOTicketCache::sharedInstance().ticketFor(key)) tickets.set(key, *ticket);
        }
        body += log->serializeLogWithPrettyPrinting(false).value_or("") + "\n";
    }
    std::string apikey;
    for (const auto& token : tokens) apikey += (apikey.empty() ? "" : ",") + token;
    ZIVOHttpHeaders headers = httpHeaders_;
    headers.emplace_back("apikey", apikey);
    headers.emplace_back("Upload-Time", std::to_string(static_cast<long long>(ZIVOUtility::nowInMilliseconds())));
    if (!tickets.empty()) {
        if (auto text = foundation::toJSON(foundation::Value(tickets)); text.ok())
            headers.emplace_back("Tickets", text.value());
    }
    ZIVOHttpIngestion::sendAsync(foundation::Data(body.begin(), body.end()), headers, batchId, completionHandler);
}

std::string ZIVOZidAzaduzuriIngestion::obfuscateResponsePayload(const std::string& payload) const {
    return ZIVOUtility::obfuscateString(payload, "\"token\"\\s*:\\s*\"[^\"]+\"", "\"token\" : \"***\"")
        .value_or(payload);
}

std::string ZIVOZidAzaduzuriIngestion::obfuscateTargetTokens(const std::string& tokenString) {
    std::string out;
    size_t from = 0;
    while (true) {
        size_t comma = tokenString.find(',', from);
        std::string token = tokenString.substr(from, comma == std::string::npos ? std::string::npos : comma - from);
        out += (from ? "," : "") + ZIVOHttpUtil::hideSecret(token);
        if (comma == std::string::npos) break;
        from = comma + 1;
    }
    return out;
}

// The header is a JSON object from ticket key to ticket. A pattern over the text misses values
// as soon as the spacing differs from what it expects (the header is written compact), so the
// object is read and every value replaced; the keys stay readable. Text that is not such an
// object is hidden whole.
std::string ZIVOZidAzaduzuriIngestion::obfuscateTickets(const std::string& ticketString) {
    auto parsed = foundation::parseJSON(ticketString);
    if (!parsed.ok() || !parsed.value().isDictionary()) return "***";
    foundation::Dictionary masked;
    for (const auto& [key, value] : parsed.value().asDictionary()) masked.set(key, foundation::Value("***"));
    auto text = foundation::toJSON(foundation::Value(std::move(masked)));
    return text.ok() ? text.value() : "***";
}

void ZIVOZidAzaduzuriIngestion::willSendHTTPRequestToURL(const std::string& url, const ZIVOHttpHeaders& headers) {
    if (ZIVOLogger::currentLogLevel() >= ZIVOLogLevelDebug) return;
    std::string text;
    for (const auto& [name, value] : headers) {
        std::string shown = name == "apikey"    ? obfuscateTargetTokens(value)
                            : name == "Tickets" ? obfuscateTickets(value)
                                                : value;
        text += (text.empty() ? "" : ", ") + name + " = " + shown;
    }
    ZIVOLogVerbose(kZIVOLogTag, "URL: " + url);
    ZIVOLogVerbose(kZIVOLogTag, "Headers: " + text);
}
