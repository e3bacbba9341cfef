#include "RurIdurev/RurIdurev/Internals/Storage/log_db_storage.h"

#include <sqlite3.h>

#include "RurIdurev/RurIdurev/Internals/Model/CommonSchema/common_schema_log.h"
#include "RurIdurev/RurIdurev/Internals/Util/archiver_util.h"
#include "RurIdurev/RurIdurev/Internals/Util/utility.h"
#include "RurIdurev/RurIdurev/logger.h"
#include "platform/foundation/base64.h"
#include "platform/foundation/uuid.h"

namespace {

std::string joinIds(const std::vector<int64_t>& ids) {
    std::string out;
    for (size_t i = 0; i < ids.size(); ++i) out += (i ? "','" : "") + std::to_string(ids[i]);
    return out;
}

}  // namespace

const ZIVODBSchema& ZIVOLogDBStorage::logsSchema() {
    static const ZIVODBSchema schema{{kTableName,
                                      {{"id", {"INTEGER", "PRIMARY KEY", "AUTOINCREMENT"}},
                                       {"groupId", {"TEXT", "NOT NULL"}},
                                       {"log", {"TEXT", "NOT NULL"}},
                                       {"targetToken", {"TEXT"}},
                                       {"targetKey", {"TEXT"}},
                                       {"priority", {"INTEGER"}}}}};
    return schema;
}

ZIVOLogDBStorage::ZIVOLogDBStorage() : ZIVODBStorage(logsSchema(), kSchemaVersion, kFileName, DeferConfiguration{}) {
    // Stored rows must be readable whoever created the store first.
    ZIVOArchiverUtil::registerRurIdurevModuleClasses();
    ZIVOCommonSchemaLog::registerArchiveClasses();
    ZIVOArchiverUtil::addAllowedRurIdurevModuleClasses();
    initializeDatabase();
}

std::string ZIVOLogDBStorage::buildKeyFormatWithCount(size_t count) {
    std::string out = "(";
    for (size_t i = 0; i < count; ++i) out += i ? ",?" : "?";
    return out + ")";
}

int ZIVOLogDBStorage::createPriorityIndex(sqlite3* db) {
    return executeNonSelectionQuery("CREATE INDEX \"ix_logs_priority\" ON \"logs\" (\"priority\")", db);
}

void ZIVOLogDBStorage::customizeDatabase(sqlite3* db) { createPriorityIndex(db); }

void ZIVOLogDBStorage::migrateDatabase(sqlite3* db, uint64_t fromVersion) {
    // Every older layout is discarded: its logs cannot be read back reliably.
    if (fromVersion < kSchemaVersion) {
        dropTable(kTableName);
        createTablesWithSchema(logsSchema(), db);
        createPriorityIndex(db);
    }
}

bool ZIVOLogDBStorage::saveLog(const std::shared_ptr<ZIVOAbstractLog>& log, const std::string& groupId,
                               uint32_t flags) {
    if (!log) return false;
    auto archived = ZIVOUtility::archiveKeyedData(log);
    if (!archived) return false;
    std::string encoded = foundation::base64Encode(*archived);
    int64_t priority = flags & 0xFF;

    ZIVOStorageBindableArray values;
    values.addString(groupId);
    values.addString(encoded);
    std::string insert;
    auto tokens = log->transmissionTargetTokens();
    if (dynamic_cast<const ZIVOCommonSchemaLog*>(log.get()) && tokens && !tokens->empty()) {
        const std::string& token = *tokens->begin();
        auto encrypted = targetTokenEncrypter_.encryptString(token);
        auto key = ZIVOUtility::targetKeyFromTargetToken(token);
        if (key && key->empty()) key.reset();
        values.addString(encrypted);
        values.addString(key);
        insert = "INSERT INTO \"logs\" (\"groupId\", \"log\", \"targetToken\", \"targetKey\", \"priority\") VALUES "
                 "(?, ?, ?, ?, ?)";
    } else {
        insert = "INSERT INTO \"logs\" (\"groupId\", \"log\", \"priority\") VALUES (?, ?, ?)";
    }
    values.addNumber(priority);

    int64_t rowId = 0;
    int result = executeQueryUsingBlock([&](sqlite3* db) {
        int64_t maxPageCount = getMaxPageCountInOpenedDatabase(db);
        int64_t capacity = maxPageCount * pageSize();
        if (static_cast<int64_t>(encoded.size()) >= capacity) {
            size_t length = encoded.size();
            ZIVOLogError(kZIVOLogTag, "Log is too large (" + std::to_string(length) +
                                          " bytes) to store in database. Current maximum database size is " +
                                          std::to_string(capacity) + " bytes.");
            return SQLITE_ERROR;
        }
        int code = executeNonSelectionQuery(insert, db, &values);
        if (code == SQLITE_FULL) {
            ZIVOStorageBindableArray priorityValue;
            priorityValue.addNumber(priority);
            int selectResult = SQLITE_OK;
            auto candidates = executeSelectionQuery(
                "SELECT \"id\" FROM \"logs\" WHERE \"priority\" <= ? ORDER BY \"priority\" ASC, \"id\" ASC", db,
                &selectResult, &priorityValue);
            long deleted = 0;
            for (const auto& candidate : candidates) {
                if (candidate.empty()) continue;
                int deleteResult = deleteLogsFromDBWithColumnValues({candidate[0]}, "id", db);
                if (deleteResult != SQLITE_OK) {
                    code = deleteResult;
                    break;
                }
                ++deleted;
                std::string id = candidate[0].stringValue();
                ZIVOLogDebug(kZIVOLogTag, "Deleted a log with id " + id + " to store a new log.");
                code = executeNonSelectionQuery(insert, db, &values);
                if (code != SQLITE_FULL) break;
            }
            if (deleted > 0) {
                ZIVOLogDebug(kZIVOLogTag, "Log storage was over capacity, " + std::to_string(deleted) +
                                              " oldest log(s) with equal or lower priority deleted.");
            }
        }
        if (code == SQLITE_OK) rowId = sqlite3_last_insert_rowid(db);
        return code;
    });
    if (result == SQLITE_OK) {
        ZIVOLogVerbose(kZIVOLogTag, "Log is stored with id: '" + std::to_string(rowId) + "'");
        return true;
    }
    if (result == SQLITE_FULL) {
        ZIVOLogError(
            kZIVOLogTag,
            std::string("Storage is full and no logs with equal or lower priority exist; discarding the log."));
    }
    return false;
}

bool ZIVOLogDBStorage::loadLogsWithGroupId(const std::string& groupId, uint64_t limit,
                                           const std::optional<std::vector<std::string>>& excludedTargetKeys,
                                           const ZIVOLoadDataCompletionHandler& completionHandler) {
    std::vector<int64_t> pendingIds;
    for (const auto& [key, ids] : batches_) {
        if (key.first == groupId) pendingIds.insert(pendingIds.end(), ids.begin(), ids.end());
    }
    ZIVOStorageBindableArray values;
    std::string condition = "\"groupId\" = ?";
    values.addString(groupId);
    if (excludedTargetKeys && !excludedTargetKeys->empty()) {
        condition += " AND \"targetKey\" NOT IN " + buildKeyFormatWithCount(excludedTargetKeys->size());
        for (const auto& key : *excludedTargetKeys) values.addString(key);
    }
    if (!pendingIds.empty()) {
        condition += " AND \"id\" NOT IN " + buildKeyFormatWithCount(pendingIds.size());
        for (int64_t id : pendingIds) values.addNumber(id);
    }
    condition += " ORDER BY \"priority\" DESC, \"id\" ASC";
    // SQLite takes no unsigned 64-bit limit; the largest limit means "all".
    if (limit < static_cast<uint64_t>(INT64_MAX)) condition += " LIMIT " + std::to_string(limit + 1);

    auto rows = logsWithCondition(condition, &values);
    bool moreAvailable = false;
    if (rows.size() > limit) {
        rows.resize(static_cast<size_t>(limit));
        moreAvailable = true;
    }
    std::vector<std::shared_ptr<ZIVOAbstractLog>> logs;
    std::optional<std::string> batchId;
    if (!rows.empty()) {
        std::vector<int64_t> ids;
        for (auto& row : rows) {
            ids.push_back(row.id);
            logs.push_back(row.log);
        }
        batchId = foundation::UUID::random().string();
        batches_[{groupId, *batchId}] = ids;
        std::string joined = joinIds(ids);
        std::string batch = *batchId;
        ZIVOLogVerbose(kZIVOLogTag, "Load log(s) with id(s) '" + joined + "' as batch Id:" + batch);
    }
    if (completionHandler) completionHandler(logs, batchId);
    return moreAvailable;
}

std::vector<ZIVOLogDBStorage::Row> ZIVOLogDBStorage::logsWithCondition(const std::string& condition,
                                                                       const ZIVOStorageBindableArray* values) {
    std::string query = "SELECT * FROM \"logs\"";
    if (!condition.empty()) query += " WHERE " + condition;
    auto rows = executeSelectionQuery(query, values);
    std::vector<Row> out;
    for (auto& raw : rows) {
        if (raw.size() < 6) continue;
        Row row;
        row.id = raw[0].int64Value();
        row.groupId = raw[1].stringValue();
        auto data = foundation::base64Decode(raw[2].stringValue(), foundation::Base64Decoding::IgnoreUnknownCharacters);
        if (data) row.log = ZIVOUtility::unarchiveKeyedObject<ZIVOAbstractLog>(data);
        if (!row.log) {
            std::string id = std::to_string(row.id);
            ZIVOLogError(kZIVOLogTag, "Deserialization failed for log with Id " + id);
            // One damaged row must not block its group for ever.
            deleteLogsFromDBWithColumnValues({raw[0]}, "id");
            continue;
        }
        row.targetToken = raw[3];
        row.targetKey = raw[4];
        row.priority = raw[5].int64Value();
        if (const auto* token = row.targetToken.ifString()) {
            std::string id = std::to_string(row.id);
            if (!token->empty()) {
                auto decrypted = targetTokenEncrypter_.decryptString(*token);
                if (decrypted) {
                    row.log->addTransmissionTargetToken(*decrypted);
                } else {
                    ZIVOLogError(kZIVOLogTag, "Failed to decrypt the target token for log with Id " + id + ".");
                }
            } else {
                ZIVOLogError(kZIVOLogTag, "Unexpected empty target token for log with Id " + id + ".");
            }
        }
        out.push_back(std::move(row));
    }
    return out;
}

std::vector<std::shared_ptr<ZIVOAbstractLog>> ZIVOLogDBStorage::logsFromDBWithGroupId(const std::string& groupId) {
    ZIVOStorageBindableArray values;
    values.addString(groupId);
    std::vector<std::shared_ptr<ZIVOAbstractLog>> logs;
    for (auto& row : logsWithCondition("\"groupId\" = ?", &values)) logs.push_back(row.log);
    return logs;
}

void ZIVOLogDBStorage::deleteLogsWithBatchId(const std::string& batchId, const std::string& groupId) {
    auto it = batches_.find({groupId, batchId});
    if (it == batches_.end()) return;
    if (!it->second.empty()) {
        std::vector<foundation::Value> ids(it->second.begin(), it->second.end());
        deleteLogsFromDBWithColumnValues(ids, "id");
    }
    batches_.erase(it);
}

std::vector<std::shared_ptr<ZIVOAbstractLog>> ZIVOLogDBStorage::deleteLogsWithGroupId(const std::string& groupId) {
    auto logs = logsFromDBWithGroupId(groupId);
    deleteLogsFromDBWithColumnValues({foundation::Value(groupId)}, "groupId");
    for (auto it = batches_.begin(); it != batches_.end();) {
        it = it->first.first == groupId ? batches_.erase(it) : std::next(it);
    }
    return logs;
}

uint64_t ZIVOLogDBStorage::countLogs() { return countEntriesForTable(kTableName, std::nullopt); }

void ZIVOLogDBStorage::deleteLogsFromDBWithColumnValues(const std::vector<foundation::Value>& values,
                                                        const std::string& columnName) {
    executeQueryUsingBlock([&](sqlite3* db) { return deleteLogsFromDBWithColumnValues(values, columnName, db); });
}

int ZIVOLogDBStorage::deleteLogsFromDBWithColumnValues(const std::vector<foundation::Value>& values,
                                                       const std::string& columnName, sqlite3* db) {
    // Values are bound, never pasted: a group id with a quote in it must not change the statement.
    ZIVOStorageBindableArray bound;
    std::string joined;
    for (const auto& value : values) {
        if (value.isString()) {
            bound.addString(value.asString());
        } else {
            bound.addNumber(value.int64Value());
        }
        joined += (joined.empty() ? "" : "','") + value.stringValue();
    }
    std::string query =
        "DELETE FROM \"logs\" WHERE \"" + columnName + "\" IN " + buildKeyFormatWithCount(values.size());
    int result = executeNonSelectionQuery(query, db, &bound);
    std::string trace = "Deletion of log(s) by " + columnName + " with value(s) '" + joined + "'";
    if (result == SQLITE_OK) {
        ZIVOLogVerbose(kZIVOLogTag, trace + " succeeded.");
    } else {
        ZIVOLogError(kZIVOLogTag, trace + " failed.");
    }
    return result;
}
