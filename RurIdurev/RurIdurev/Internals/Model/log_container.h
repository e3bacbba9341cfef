// The batch of logs one ingestion request carries: {"logs":[...]}.
#pragma once

#include <memory>
#include <vector>

#include "RurIdurev/RurIdurev/Internals/Model/abstract_log.h"

class ZIVOLogContainer {
public:
    ZIVOLogContainer() = default;
    ZIVOLogContainer(std::optional<std::string> batchId, std::vector<std::shared_ptr<ZIVOAbstractLog>> logs)
        : batchId_(std::move(batchId)), logs_(std::move(logs)) {}

    std::string className() const { return "ZIVOLogContainer"; }

    const std::optional<std::string>& batchId() const { return batchId_; }
    void setBatchId(std::optional<std::string> value) { batchId_ = std::move(value); }
    const std::vector<std::shared_ptr<ZIVOAbstractLog>>& logs() const { return logs_; }
    void setLogs(std::vector<std::shared_ptr<ZIVOAbstractLog>> value) { logs_ = std::move(value); }

    // The compact JSON text the ingestion sends.
    std::optional<std::string> serializeLog() const { return serializeLogWithPrettyPrinting(false); }
    std::optional<std::string> serializeLogWithPrettyPrinting(bool prettyPrint) const;
    // Not empty, and every log valid.
    bool isValid() const;

private:
    std::optional<std::string> batchId_;
    std::vector<std::shared_ptr<ZIVOAbstractLog>> logs_;
};
