// The SDK's small base over SQLite: one file in the SDK folder, a declarative schema, a schema
// version in user_version with a migration hook, auto_vacuum FULL and a size limit applied as a
// page limit on every connection. Each operation opens its own connection and closes it.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "platform/foundation/value.h"

struct sqlite3;
struct sqlite3_stmt;

// Values bound to a statement's parameters 1, 2, ... in order; nothing is ever pasted into SQL.
class ZIVOStorageBindableArray {
public:
    void addString(std::optional<std::string> value) { array_.emplace_back(std::move(value)); }
    void addNumber(int64_t value) { array_.emplace_back(value); }
    size_t count() const { return array_.size(); }
    bool empty() const { return array_.empty(); }
    int bindAllValuesWithStatement(sqlite3_stmt* statement, sqlite3* db) const;

private:
    std::vector<std::variant<std::optional<std::string>, int64_t>> array_;
};

// One column: name and SQL words ("INTEGER", "PRIMARY KEY", ...).
using ZIVOColumnSchema = std::pair<std::string, std::vector<std::string>>;
// Tables in creation order, each with its columns in order.
using ZIVODBSchema = std::vector<std::pair<std::string, std::vector<ZIVOColumnSchema>>>;
// A row: null, int64 or string per column.
using ZIVODBRow = std::vector<foundation::Value>;

class ZIVODBStorage {
public:
    static constexpr int64_t kDefaultMaxSizeInBytes = 10 * 1024 * 1024;

    // Configures at once (no subclass hooks can run from here; subclasses use the protected form).
    ZIVODBStorage(std::optional<ZIVODBSchema> schema, uint64_t version, std::string filename);
    virtual ~ZIVODBStorage() = default;
    ZIVODBStorage(const ZIVODBStorage&) = delete;
    ZIVODBStorage& operator=(const ZIVODBStorage&) = delete;

    const std::string& dbFileURL() const { return dbFileURL_; }
    const std::string& dbFilePath() const { return dbFilePath_; }
    int64_t maxSizeInBytes() const { return maxSizeInBytes_; }
    int64_t pageSize() const { return pageSize_; }

    int executeQueryUsingBlock(const std::function<int(sqlite3*)>& block);
    int executeNonSelectionQuery(const std::string& query, const ZIVOStorageBindableArray* values = nullptr);
    std::vector<ZIVODBRow> executeSelectionQuery(const std::string& query,
                                                 const ZIVOStorageBindableArray* values = nullptr);
    uint64_t countEntriesForTable(const std::string& table, const std::optional<std::string>& condition,
                                  const ZIVOStorageBindableArray* values = nullptr);
    bool createTable(const std::string& table, const std::vector<ZIVOColumnSchema>& columnsSchema);
    bool dropTable(const std::string& table);
    void dropDatabase();
    void setMaxStorageSize(int64_t sizeInBytes, const std::function<void(bool)>& completionHandler);

    // ---- Helpers on an open connection
    static int createTablesWithSchema(const ZIVODBSchema& schema, sqlite3* db);
    static std::string columnsQueryFromColumnsSchema(const std::vector<ZIVOColumnSchema>& columns);
    static std::map<std::string, std::map<std::string, size_t>> columnsIndexes(const ZIVODBSchema& schema);
    static bool tableExists(const std::string& table, sqlite3* db, int* result = nullptr);
    static uint64_t versionInOpenedDatabase(sqlite3* db, int* result);
    static int setVersion(uint64_t version, sqlite3* db);
    static void enableAutoVacuumInOpenedDatabase(sqlite3* db);
    static int executeNonSelectionQuery(const std::string& query, sqlite3* db,
                                        const ZIVOStorageBindableArray* values = nullptr);
    static int executeQuery(const std::string& query, sqlite3* db, const ZIVOStorageBindableArray* values,
                            const std::function<int(sqlite3_stmt*)>& block);
    static std::vector<ZIVODBRow> executeSelectionQuery(const std::string& query, sqlite3* db, int* result,
                                                        const ZIVOStorageBindableArray* values = nullptr);
    static foundation::Value columnValueFromStatement(sqlite3_stmt* statement, int index);
    static sqlite3* openDatabaseAtFileURL(const std::string& fileURL, int* result);
    static int64_t getPageSizeInOpenedDatabase(sqlite3* db);
    static int64_t getPageCountInOpenedDatabase(sqlite3* db);
    static int64_t getMaxPageCountInOpenedDatabase(sqlite3* db);
    static int64_t querySingleValue(const std::string& query, sqlite3* db);
    static int setMaxPageCount(int64_t pageCount, sqlite3* db);
    // "file:" URI of an absolute path, every byte outside the unreserved set and "/" escaped.
    static std::string fileURIForPath(const std::string& path);

protected:
    struct DeferConfiguration {};
    ZIVODBStorage(std::optional<ZIVODBSchema> schema, uint64_t version, std::string filename, DeferConfiguration);
    // Runs the configuration (a damaged file is set aside and a fresh one made, once); subclasses
    // call it from their constructor so that their hooks are in place.
    void initializeDatabase();

    virtual void customizeDatabase(sqlite3*) {}
    virtual void migrateDatabase(sqlite3*, uint64_t) {}

private:
    int configureDatabase();
    bool setAsideDatabase(int result);

    std::optional<ZIVODBSchema> schema_;
    uint64_t version_;
    std::string filename_;
    std::string dbFilePath_;
    std::string dbFileURL_;
    int64_t maxSizeInBytes_ = kDefaultMaxSizeInBytes;
    int64_t pageSize_ = 0;
};
