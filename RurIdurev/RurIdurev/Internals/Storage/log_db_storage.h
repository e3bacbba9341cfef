// The log store "Logs.sqlite": every log between acceptance by a channel unit and delivery, with
// priorities, eviction when full, and the in-memory book of batches on their way to the server.
// No lock of its own: every call comes from the channel group's serial queue.
#pragma once

#include <map>
#include <utility>

#include "RurIdurev/RurIdurev/Internals/Storage/db_storage.h"
#include "RurIdurev/RurIdurev/Internals/Storage/storage.h"
#include "RurIdurev/RurIdurev/Internals/Util/encrypter.h"

class ZIVOLogDBStorage : public ZIVODBStorage, public ZIVOStorage {
public:
    static constexpr uint64_t kSchemaVersion = 5;
    static constexpr const char* kFileName = "Logs.sqlite";
    static constexpr const char* kTableName = "logs";

    ZIVOLogDBStorage();

    bool saveLog(const std::shared_ptr<ZIVOAbstractLog>& log, const std::string& withGroupId, uint32_t flags) override;
    uint64_t countLogs() override;
    std::vector<std::shared_ptr<ZIVOAbstractLog>> deleteLogsWithGroupId(const std::string& groupId) override;
    void deleteLogsWithBatchId(const std::string& batchId, const std::string& groupId) override;
    bool loadLogsWithGroupId(const std::string& groupId, uint64_t limit,
                             const std::optional<std::vector<std::string>>& excludedTargetKeys,
                             const ZIVOLoadDataCompletionHandler& completionHandler) override;
    void setMaxStorageSize(int64_t sizeInBytes, const std::function<void(bool)>& completionHandler) override {
        ZIVODBStorage::setMaxStorageSize(sizeInBytes, completionHandler);
    }

    static const ZIVODBSchema& logsSchema();
    // "(?,?,?)" for 3.
    static std::string buildKeyFormatWithCount(size_t count);

    // A row of "logs" with the "log" entry decoded.
    struct Row {
        int64_t id = 0;
        std::string groupId;
        std::shared_ptr<ZIVOAbstractLog> log;
        foundation::Value targetToken;
        foundation::Value targetKey;
        int64_t priority = 0;
    };
    std::vector<Row> logsWithCondition(const std::string& condition, const ZIVOStorageBindableArray* values);
    std::vector<std::shared_ptr<ZIVOAbstractLog>> logsFromDBWithGroupId(const std::string& groupId);
    // Pending batches (group id, batch id) and their row ids; for inspection.
    size_t pendingBatchCount() const { return batches_.size(); }

protected:
    void customizeDatabase(sqlite3* db) override;
    void migrateDatabase(sqlite3* db, uint64_t fromVersion) override;

private:
    static int createPriorityIndex(sqlite3* db);
    static int deleteLogsFromDBWithColumnValues(const std::vector<foundation::Value>& values,
                                                const std::string& columnName, sqlite3* db);
    void deleteLogsFromDBWithColumnValues(const std::vector<foundation::Value>& values, const std::string& columnName);

    // Keyed by the exact (group id, batch id) pair: a group id that is a prefix of another must
    // never reach the other group's batches.
    std::map<std::pair<std::string, std::string>, std::vector<int64_t>> batches_;
    ZIVOEncrypter targetTokenEncrypter_;
};
