#include "RurIdurev/RurIdurev/Internals/Model/log_container.h"

#include "RurIdurev/RurIdurev/logger.h"
#include "platform/foundation/json.h"

std::optional<std::string> ZIVOLogContainer::serializeLogWithPrettyPrinting(bool prettyPrint) const {
    foundation::Array logs;
    for (const auto& log : logs_)
        if (log) logs.emplace_back(log->serializeToDictionary());
    foundation::Dictionary container;
    container.set("logs", std::move(logs));
    auto json = foundation::toJSON(container, foundation::JSONWriteOptions{.pretty = prettyPrint});
    if (!json.ok()) {
        std::string reason = json.error().localizedDescription();
        ZIVOLogError(kZIVOLogTag, "Couldn't serialize log container to json: " + reason);
        return std::nullopt;
    }
    return std::move(json).value();
}

bool ZIVOLogContainer::isValid() const {
    if (logs_.empty()) {
        std::string name = className();
        ZIVOLogVerbose(kZIVOLogTag, name + ": there are no logs in container.");
        return false;
    }
    for (const auto& log : logs_)
        if (!log || !log->isValid()) return false;
    return true;
}
