#include "RurIdurev/RurIdurev/Internals/Storage/db_storage.h"

#include <sqlite3.h>

#include <cstdio>
#include <mutex>

#include "RurIdurev/RurIdurev/Internals/Util/utility.h"
#include "RurIdurev/RurIdurev/logger.h"
#include "platform/foundation/file_writer.h"
#include "platform/foundation/files.h"
#include "platform/foundation/log.h"
#include "platform/foundation/url.h"

namespace {

// URI file names are asked for process-wide once; every connection also passes SQLITE_OPEN_URI,
// so a refusal (SQLite already initialised by another part of the process) is harmless.
int configureSQLite() {
    static const int result = sqlite3_config(SQLITE_CONFIG_URI, 1);
    return result;
}

std::string errmsg(sqlite3* db) { return db ? sqlite3_errmsg(db) : ""; }

}  // namespace

int ZIVOStorageBindableArray::bindAllValuesWithStatement(sqlite3_stmt* statement, sqlite3* db) const {
    int position = 0;
    for (const auto& value : array_) {
        ++position;
        int result;
        if (const auto* number = std::get_if<int64_t>(&value)) {
            result = sqlite3_bind_int64(statement, position, *number);
        } else {
            const auto& text = std::get<std::optional<std::string>>(value);
            result = text ? sqlite3_bind_text(statement, position, text->c_str(), -1, SQLITE_TRANSIENT)
                          : sqlite3_bind_null(statement, position);
        }
        if (result != SQLITE_OK) {
            std::string message = errmsg(db);
            ZIVOLogError(kZIVOLogTag, "Binding query parameter " + std::to_string(position) +
                                          " failed with error: " + std::to_string(result) + ". Message: " + message);
            return result;
        }
    }
    return SQLITE_OK;
}

ZIVODBStorage::ZIVODBStorage(std::optional<ZIVODBSchema> schema, uint64_t version, std::string filename)
    : ZIVODBStorage(std::move(schema), version, std::move(filename), DeferConfiguration{}) {
    initializeDatabase();
}

ZIVODBStorage::ZIVODBStorage(std::optional<ZIVODBSchema> schema, uint64_t version, std::string filename,
                             DeferConfiguration)
    : schema_(std::move(schema)), version_(version), filename_(std::move(filename)) {}

void ZIVODBStorage::initializeDatabase() {
    static std::once_flag once;
    std::call_once(once, [] {
        int result = configureSQLite();
        if (result == SQLITE_OK) {
            ZIVOLogDebug(kZIVOLogTag, std::string("SQLite global configuration successfully updated."));
        } else {
            std::string text = sqlite3_errstr(result);
            ZIVOLogError(kZIVOLogTag, "Failed to update SQLite global configuration. Error: " + text + ".");
        }
    });
    int result = configureDatabase();
    if ((result == SQLITE_CORRUPT || result == SQLITE_NOTADB) && setAsideDatabase(result)) result = configureDatabase();
    if (result != SQLITE_OK) ZIVOLogError(kZIVOLogTag, std::string("Failed to initialize database."));
}

// A damaged file is not deleted: the logs in it may still be read back by hand. It moves aside
// with its journal companions (never over one moved before), the move is said in one line, and a
// fresh file takes its place. When it cannot move, it stays, and the store fails its operations.
bool ZIVODBStorage::setAsideDatabase(int result) {
    static constexpr std::string_view kCompanions[] = {"-journal", "-wal", "-shm"};
    if (dbFilePath_.empty()) return false;
    auto aside = foundation::files::setAsideKeepingEarlier(dbFilePath_, kCompanions);
    if (!aside.ok()) {
        std::string reason = aside.error().localizedDescription();
        ZIVOLogError(kZIVOLogTag, "Failed to set aside the damaged database: " + reason);
        return false;
    }
    const std::string line = "the telemetry log store " + dbFilePath_ + " could not be read (" +
                             sqlite3_errstr(result) + "); it was moved to " + aside.value().string();
    ZIVOLogError(kZIVOLogTag, std::string(line));
    foundation::logFault(line);
    return true;
}

int ZIVODBStorage::configureDatabase() {
    bool existed = ZIVOUtility::fileExistsForPathComponent(filename_);
    auto path = ZIVOUtility::createFileAtPathComponent(filename_, std::nullopt, false, false);
    if (!path) path = ZIVOUtility::fullURLForPathComponent(filename_);
    dbFilePath_ = path ? path->string() : std::string();
    dbFileURL_ = fileURIForPath(dbFilePath_);
    maxSizeInBytes_ = kDefaultMaxSizeInBytes;

    int result = SQLITE_OK;
    sqlite3* db = openDatabaseAtFileURL(dbFileURL_, &result);
    if (!db) return result;
    pageSize_ = getPageSizeInOpenedDatabase(db);
    if (pageSize_ == 0) {
        ZIVOLogError(kZIVOLogTag, std::string("Failed to get storage page size."));
        sqlite3_close(db);
        // A file that is not a database fails here first; let the caller recreate it.
        int probe = SQLITE_OK;
        sqlite3* check = openDatabaseAtFileURL(dbFileURL_, &probe);
        if (check) {
            executeSelectionQuery("PRAGMA schema_version", check, &probe);
            sqlite3_close(check);
        }
        return (probe == SQLITE_NOTADB || probe == SQLITE_CORRUPT) ? probe : SQLITE_ERROR;
    }
    int versionResult = SQLITE_OK;
    uint64_t version = versionInOpenedDatabase(db, &versionResult);
    if (versionResult != SQLITE_OK) {
        sqlite3_close(db);
        return versionResult;
    }
    if (schema_) {
        result = createTablesWithSchema(*schema_, db);
        if (result != SQLITE_OK) {
            ZIVOLogError(kZIVOLogTag,
                         "Failed to create tables with schema with error \"" + std::to_string(result) + "\".");
            sqlite3_close(db);
            return result;
        }
    }
    std::string name = filename_;
    uint64_t requested = version_;
    if (!existed) {
        ZIVOLogInfo(kZIVOLogTag, "Created \"" + name + "\" database with " + std::to_string(requested) + " version.");
        customizeDatabase(db);
    } else if (version < version_) {
        ZIVOLogInfo(kZIVOLogTag, "Migrating \"" + name + "\" database from version " + std::to_string(version) +
                                     " to " + std::to_string(requested) + ".");
        migrateDatabase(db, version);
    }
    enableAutoVacuumInOpenedDatabase(db);
    setVersion(version_, db);
    sqlite3_close(db);
    return SQLITE_OK;
}

std::string ZIVODBStorage::fileURIForPath(const std::string& path) {
    static const foundation::CharacterSet kAllowed =
        foundation::CharacterSet::fromCharacters("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~/");
    return "file:" + foundation::percentEncode(path, kAllowed);
}

sqlite3* ZIVODBStorage::openDatabaseAtFileURL(const std::string& fileURL, int* result) {
    configureSQLite();
    sqlite3* db = nullptr;
    int code =
        sqlite3_open_v2(fileURL.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_URI, nullptr);
    if (result) *result = code;
    if (code != SQLITE_OK) {
        ZIVOLogError(kZIVOLogTag, "Failed to open database with result: " + std::to_string(code) + ".");
        sqlite3_close(db);
        return nullptr;
    }
    return db;
}

int ZIVODBStorage::executeQueryUsingBlock(const std::function<int(sqlite3*)>& block) {
    int result = SQLITE_OK;
    sqlite3* db = openDatabaseAtFileURL(dbFileURL_, &result);
    if (!db) return result;
    if (pageSize_ == 0) {
        ZIVOLogError(
            kZIVOLogTag,
            std::string("The database was not configured correctly. The page size is expected to be non zero."));
        sqlite3_close(db);
        return SQLITE_ERROR;
    }
    result = setMaxPageCount(maxSizeInBytes_ / pageSize_, db);
    if (result == SQLITE_CORRUPT || result == SQLITE_NOTADB) {
        sqlite3_close(db);
        return result;
    }
    if (result != SQLITE_OK) {
        ZIVOLogError(kZIVOLogTag, std::string("Failed to open database with specified maximum size constraint."));
    }
    result = block(db);
    sqlite3_close(db);
    return result;
}

int ZIVODBStorage::executeNonSelectionQuery(const std::string& query, const ZIVOStorageBindableArray* values) {
    return executeQueryUsingBlock([&](sqlite3* db) { return executeNonSelectionQuery(query, db, values); });
}

std::vector<ZIVODBRow> ZIVODBStorage::executeSelectionQuery(const std::string& query,
                                                            const ZIVOStorageBindableArray* values) {
    std::vector<ZIVODBRow> rows;
    executeQueryUsingBlock([&](sqlite3* db) {
        int result = SQLITE_OK;
        rows = executeSelectionQuery(query, db, &result, values);
        return result;
    });
    return rows;
}

uint64_t ZIVODBStorage::countEntriesForTable(const std::string& table, const std::optional<std::string>& condition,
                                             const ZIVOStorageBindableArray* values) {
    std::string query = "SELECT COUNT(*) FROM \"" + table + "\" ";
    if (condition && !condition->empty()) query += "WHERE " + *condition;
    auto rows = executeSelectionQuery(query, values);
    if (rows.empty() || rows[0].empty()) return 0;
    return static_cast<uint64_t>(rows[0][0].int64Value());
}

bool ZIVODBStorage::createTable(const std::string& table, const std::vector<ZIVOColumnSchema>& columnsSchema) {
    int result = executeQueryUsingBlock([&](sqlite3* db) {
        if (tableExists(table, db)) return SQLITE_OK;
        return executeNonSelectionQuery(
            "CREATE TABLE \"" + table + "\" (" + columnsQueryFromColumnsSchema(columnsSchema) + ");", db);
    });
    if (result == SQLITE_OK) {
        ZIVOLogVerbose(kZIVOLogTag, "Table " + table + " has been created");
    } else {
        ZIVOLogError(kZIVOLogTag, "Failed to create table " + table);
    }
    return result == SQLITE_OK;
}

bool ZIVODBStorage::dropTable(const std::string& table) {
    int result = executeQueryUsingBlock([&](sqlite3* db) {
        if (!tableExists(table, db)) return SQLITE_OK;
        return executeNonSelectionQuery("DROP TABLE \"" + table + "\";", db);
    });
    if (result == SQLITE_OK) {
        ZIVOLogVerbose(kZIVOLogTag, "Table " + table + " has been deleted");
    } else {
        ZIVOLogError(kZIVOLogTag, "Failed to delete table " + table);
    }
    return result == SQLITE_OK;
}

void ZIVODBStorage::dropDatabase() {
    std::string url = dbFileURL_;
    if (!dbFilePath_.empty() && ZIVOUtility::deleteFileAtURL(std::filesystem::path(dbFilePath_))) {
        ZIVOLogVerbose(kZIVOLogTag, "Database " + url + " has been deleted.");
    } else {
        ZIVOLogError(kZIVOLogTag, std::string("Failed to delete database."));
    }
}

void ZIVODBStorage::setMaxStorageSize(int64_t sizeInBytes, const std::function<void(bool)>& completionHandler) {
    int openResult = SQLITE_OK;
    sqlite3* db = openDatabaseAtFileURL(dbFileURL_, &openResult);
    if (!db) {
        if (completionHandler) completionHandler(false);
        return;
    }
    if (pageSize_ == 0) {
        ZIVOLogError(
            kZIVOLogTag,
            std::string("The database was not configured correctly. The page size is expected to be non zero."));
        sqlite3_close(db);
        if (completionHandler) completionHandler(false);
        return;
    }
    bool answer = false;
    int64_t pages = getPageCountInOpenedDatabase(db);
    ZIVOLogDebug(kZIVOLogTag, "Found " + std::to_string(pages) + " pages in the database.");
    int64_t requested = sizeInBytes / pageSize_ + (sizeInBytes % pageSize_ ? 1 : 0);
    if (pages > requested) {
        ZIVOLogWarning(kZIVOLogTag,
                       "Cannot change database size to " + std::to_string(sizeInBytes) +
                           " bytes as it would cause a loss of data. Maximum database size will not be changed.");
    } else {
        int result = setMaxPageCount(requested, db);
        if (result != SQLITE_OK) {
            ZIVOLogError(kZIVOLogTag, "Could not change maximum database size to " + std::to_string(sizeInBytes) +
                                          " bytes. SQLite error code: " + std::to_string(result));
        } else {
            int64_t limit = getMaxPageCountInOpenedDatabase(db);
            int64_t newSize = limit * pageSize_;
            if (limit == requested) {
                if (newSize == sizeInBytes) {
                    ZIVOLogInfo(kZIVOLogTag,
                                "Changed maximum database size to " + std::to_string(sizeInBytes) + " bytes.");
                } else {
                    ZIVOLogInfo(kZIVOLogTag, "Changed maximum database size to " + std::to_string(newSize) +
                                                 " bytes (next multiple of 4KiB).");
                }
                maxSizeInBytes_ = newSize;
                answer = true;
            } else {
                ZIVOLogError(kZIVOLogTag, "Could not change maximum database size to " + std::to_string(sizeInBytes) +
                                              " bytes, current maximum size is " + std::to_string(newSize) + " bytes.");
            }
        }
    }
    sqlite3_close(db);
    if (completionHandler) completionHandler(answer);
}

int ZIVODBStorage::createTablesWithSchema(const ZIVODBSchema& schema, sqlite3* db) {
    std::vector<std::string> statements;
    for (const auto& [table, columns] : schema) {
        if (!tableExists(table, db)) {
            statements.push_back("CREATE TABLE \"" + table + "\" (" + columnsQueryFromColumnsSchema(columns) + ");");
        }
    }
    for (const auto& statement : statements) {
        int result = executeNonSelectionQuery(statement, db);
        if (result != SQLITE_OK) return result;
    }
    return SQLITE_OK;
}

std::string ZIVODBStorage::columnsQueryFromColumnsSchema(const std::vector<ZIVOColumnSchema>& columns) {
    std::string out;
    for (const auto& [name, words] : columns) {
        if (!out.empty()) out += ", ";
        out += "\"" + name + "\"";
        std::string joined;
        for (const auto& word : words) joined += (joined.empty() ? "" : " ") + word;
        out += " " + joined;
    }
    return out;
}

std::map<std::string, std::map<std::string, size_t>> ZIVODBStorage::columnsIndexes(const ZIVODBSchema& schema) {
    std::map<std::string, std::map<std::string, size_t>> out;
    for (const auto& [table, columns] : schema) {
        for (size_t i = 0; i < columns.size(); ++i) out[table][columns[i].first] = i;
    }
    return out;
}

bool ZIVODBStorage::tableExists(const std::string& table, sqlite3* db, int* result) {
    ZIVOStorageBindableArray values;
    values.addString(table);
    int code = SQLITE_OK;
    auto rows = executeSelectionQuery("SELECT COUNT(*) FROM \"sqlite_master\" WHERE \"type\"='table' AND \"name\"=?;",
                                      db, &code, &values);
    if (result) *result = code;
    return !rows.empty() && !rows[0].empty() && rows[0][0].int64Value() != 0;
}

uint64_t ZIVODBStorage::versionInOpenedDatabase(sqlite3* db, int* result) {
    auto rows = executeSelectionQuery("PRAGMA user_version", db, result);
    if (rows.empty() || rows[0].empty()) return 0;
    return static_cast<uint64_t>(rows[0][0].int64Value());
}

int ZIVODBStorage::setVersion(uint64_t version, sqlite3* db) {
    int result = SQLITE_OK;
    executeSelectionQuery("PRAGMA user_version = " + std::to_string(version), db, &result);
    return result;
}

void ZIVODBStorage::enableAutoVacuumInOpenedDatabase(sqlite3* db) {
    if (querySingleValue("PRAGMA auto_vacuum", db) == 1) return;
    ZIVOLogDebug(kZIVOLogTag, std::string("Vacuuming database and enabling auto_vacuum"));
    int result = SQLITE_OK;
    executeSelectionQuery("PRAGMA auto_vacuum = FULL;", db, &result);
    executeSelectionQuery("VACUUM;", db, &result);
}

int ZIVODBStorage::executeQuery(const std::string& query, sqlite3* db, const ZIVOStorageBindableArray* values,
                                const std::function<int(sqlite3_stmt*)>& block) {
    sqlite3_stmt* statement = nullptr;
    int result = sqlite3_prepare_v2(db, query.c_str(), static_cast<int>(query.size()), &statement, nullptr);
    if (result != SQLITE_OK) {
        std::string message = errmsg(db);
        ZIVOLogError(kZIVOLogTag,
                     "Failed to prepare SQLite statement, result=" + std::to_string(result) + "\n\t" + message);
        return result;
    }
    if (values) result = values->bindAllValuesWithStatement(statement, db);
    if (result == SQLITE_OK) result = block(statement);
    int finalized = sqlite3_finalize(statement);
    if (finalized != SQLITE_OK) {
        std::string message = errmsg(db);
        ZIVOLogError(kZIVOLogTag,
                     "Failed to finalize SQLite statement, result=" + std::to_string(finalized) + "\n\t" + message);
    }
    return result;
}

int ZIVODBStorage::executeNonSelectionQuery(const std::string& query, sqlite3* db,
                                            const ZIVOStorageBindableArray* values) {
    return executeQuery(query, db, values, [db](sqlite3_stmt* statement) {
        int result = sqlite3_step(statement);
        if (result == SQLITE_DONE) return SQLITE_OK;
        std::string message = errmsg(db);
        std::string code = std::to_string(result);
        if (result == SQLITE_CORRUPT || result == SQLITE_NOTADB) {
            ZIVOLogError(kZIVOLogTag, "A database file is corrupted, result=" + code + "\n\t" + message);
        } else if (result == SQLITE_FULL) {
            ZIVOLogDebug(kZIVOLogTag, "Query failed with error: " + code + "\n\t" + message);
        } else {
            ZIVOLogError(kZIVOLogTag, "Could not execute the statement, result=" + code + "\n\t" + message);
        }
        return result;
    });
}

std::vector<ZIVODBRow> ZIVODBStorage::executeSelectionQuery(const std::string& query, sqlite3* db, int* result,
                                                            const ZIVOStorageBindableArray* values) {
    std::vector<ZIVODBRow> rows;
    if (!db) {
        if (result) *result = SQLITE_MISUSE;
        return rows;
    }
    int code = executeQuery(query, db, values, [&](sqlite3_stmt* statement) {
        int step;
        while ((step = sqlite3_step(statement)) == SQLITE_ROW) {
            int count = sqlite3_column_count(statement);
            if (count == 0) continue;
            ZIVODBRow row;
            row.reserve(static_cast<size_t>(count));
            for (int i = 0; i < count; ++i) row.push_back(columnValueFromStatement(statement, i));
            rows.push_back(std::move(row));
        }
        if (step == SQLITE_DONE) return SQLITE_OK;
        std::string message = errmsg(db);
        ZIVOLogError(kZIVOLogTag, "Query failed with error: " + std::to_string(step) + "\n\t" + message);
        return step;
    });
    if (result) *result = code;
    return rows;
}

foundation::Value ZIVODBStorage::columnValueFromStatement(sqlite3_stmt* statement, int index) {
    int type = sqlite3_column_type(statement, index);
    switch (type) {
        case SQLITE_NULL:
            return foundation::Value();
        case SQLITE_TEXT: {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, index));
            int length = sqlite3_column_bytes(statement, index);
            return foundation::Value(std::string(text ? text : "", static_cast<size_t>(length)));
        }
        case SQLITE_INTEGER:
            // Row ids are 64-bit; a 32-bit read would delete or exclude the wrong rows.
            return foundation::Value(static_cast<int64_t>(sqlite3_column_int64(statement, index)));
        default:
            ZIVOLogError(kZIVOLogTag, "Could not retrieve column value at index " + std::to_string(index) +
                                          " from statement: unknown type " + std::to_string(type) + ".");
            return foundation::Value();
    }
}

int64_t ZIVODBStorage::querySingleValue(const std::string& query, sqlite3* db) {
    int result = SQLITE_OK;
    auto rows = executeSelectionQuery(query, db, &result);
    if (rows.empty() || rows[0].empty()) return 0;
    return rows[0][0].int64Value();
}

int64_t ZIVODBStorage::getPageSizeInOpenedDatabase(sqlite3* db) { return querySingleValue("PRAGMA page_size;", db); }
int64_t ZIVODBStorage::getPageCountInOpenedDatabase(sqlite3* db) { return querySingleValue("PRAGMA page_count;", db); }
int64_t ZIVODBStorage::getMaxPageCountInOpenedDatabase(sqlite3* db) {
    return querySingleValue("PRAGMA max_page_count;", db);
}

int ZIVODBStorage::setMaxPageCount(int64_t pageCount, sqlite3* db) {
    int result = SQLITE_OK;
    executeSelectionQuery("PRAGMA max_page_count = " + std::to_string(pageCount), db, &result);
    return result;
}
