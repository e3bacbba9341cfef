// What the channel group and its units ask of the log store.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class ZIVOAbstractLog;

using ZIVOLoadDataCompletionHandler = std::function<void(const std::vector<std::shared_ptr<ZIVOAbstractLog>>& logArray,
                                                         const std::optional<std::string>& batchId)>;

class ZIVOStorage {
public:
    virtual ~ZIVOStorage() = default;
    // The low eight bits of the flags are the log's persistence priority.
    virtual bool saveLog(const std::shared_ptr<ZIVOAbstractLog>& log, const std::string& withGroupId,
                         uint32_t flags) = 0;
    virtual uint64_t countLogs() = 0;
    virtual std::vector<std::shared_ptr<ZIVOAbstractLog>> deleteLogsWithGroupId(const std::string& groupId) = 0;
    virtual void deleteLogsWithBatchId(const std::string& batchId, const std::string& groupId) = 0;
    // Answers whether more logs wait beyond the limit; the completion runs before returning.
    virtual bool loadLogsWithGroupId(const std::string& groupId, uint64_t limit,
                                     const std::optional<std::vector<std::string>>& excludedTargetKeys,
                                     const ZIVOLoadDataCompletionHandler& completionHandler) = 0;
    virtual void setMaxStorageSize(int64_t sizeInBytes, const std::function<void(bool)>& completionHandler) = 0;
};
