#include "platform/store/coordinator.h"

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <random>
#include <unordered_map>
#include <unordered_set>

#include "platform/foundation/files.h"
#include "platform/foundation/flat_map.h"
#include "platform/store/store_error.h"
#include "platform/store/value_codec.h"

namespace store {

using foundation::Error;
using foundation::Status;
using foundation::Value;

namespace {

constexpr size_t kStatementCacheLimit = 256;

// Resets a cached statement when the caller is done with it.
struct StatementUse {
    sqlite3_stmt* stmt;
    ~StatementUse() {
        if (stmt) {
            sqlite3_reset(stmt);
            sqlite3_clear_bindings(stmt);
        }
    }
};

// Resets a statement that is stepped again for the next row, which binds every parameter anew:
// its bindings are cleared once, when the operation is done with it (StatementsUse).
struct RowUse {
    sqlite3_stmt* stmt;
    ~RowUse() { sqlite3_reset(stmt); }
};

// Clears the bindings of the statements an operation stepped row by row (RowUse), before the
// values they name go away.
struct StatementsUse {
    const std::vector<sqlite3_stmt*>& first;
    const std::vector<sqlite3_stmt*>& second;
    ~StatementsUse() {
        for (const auto* list : {&first, &second})
            for (sqlite3_stmt* stmt : *list)
                if (stmt) sqlite3_clear_bindings(stmt);
    }
};

const char* columnType(AttributeType type) {
    switch (type) {
        case AttributeType::String:
            return "TEXT";
        case AttributeType::Date:
        case AttributeType::Double:
            return "REAL";
        case AttributeType::Transformable:
            return "BLOB";
        default:
            return "INTEGER";
    }
}

// The integer attribute types widen freely; everything else must stay as it was.
bool compatibleTypes(const std::string& stored, const std::string& wanted) {
    if (stored == wanted) return true;
    auto rank = [](const std::string& t) {
        if (t == "Integer16") return 1;
        if (t == "Integer32") return 2;
        if (t == "Integer64") return 3;
        return 0;
    };
    return rank(stored) && rank(wanted) && rank(stored) <= rank(wanted);
}

std::string relationshipTypeName(const Relationship& r) { return "ToOne:" + r.destinationName; }

void stringFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (argc != 4 || sqlite3_value_type(argv[2]) != SQLITE_TEXT || sqlite3_value_type(argv[3]) != SQLITE_TEXT) {
        sqlite3_result_int(ctx, 0);
        return;
    }
    int op = sqlite3_value_int(argv[0]);
    int options = sqlite3_value_int(argv[1]);
    if (op < 0 || op > static_cast<int>(ComparisonOp::Like)) {
        sqlite3_result_int(ctx, 0);
        return;
    }
    auto text = [](sqlite3_value* v) {
        const unsigned char* p = sqlite3_value_text(v);
        return std::string_view(reinterpret_cast<const char*>(p ? p : reinterpret_cast<const unsigned char*>("")),
                                static_cast<size_t>(sqlite3_value_bytes(v)));
    };
    bool r = compareStrings(static_cast<ComparisonOp>(op), static_cast<uint8_t>(options), text(argv[2]), text(argv[3]));
    sqlite3_result_int(ctx, r ? 1 : 0);
}

std::string randomIdentifier() {
    std::random_device rd;
    char buf[40];
    std::snprintf(buf, sizeof buf, "%08X-%04X-%04X-%04X-%08X%04X", rd(), rd() & 0xffff, (rd() & 0x0fff) | 0x4000,
                  (rd() & 0x3fff) | 0x8000, rd(), rd() & 0xffff);
    return buf;
}

bool safePragmaWord(const std::string& s) {
    if (s.empty()) return false;
    for (char c : s)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-')) return false;
    return true;
}

// Puts each run of rows whose sort keys are equal in row-number order: what SQLite would have
// done with the row number as the last key. The rows are sorted by the keys, so equal ones are
// adjacent; SQL's equality of a column's values is the values' own (a column holds one type).
void orderTiesByRow(std::vector<Row>& rows, const std::vector<int>& keys) {
    auto sameKeys = [&](const Row& a, const Row& b) {
        for (const int k : keys)
            if (!(a.values[static_cast<size_t>(k)] == b.values[static_cast<size_t>(k)])) return false;
        return true;
    };
    for (size_t start = 0; start < rows.size();) {
        size_t end = start + 1;
        while (end < rows.size() && sameKeys(rows[start], rows[end])) ++end;
        if (end - start > 1)
            std::sort(rows.begin() + static_cast<long>(start), rows.begin() + static_cast<long>(end),
                      [](const Row& a, const Row& b) { return a.id->primaryKey() < b.id->primaryKey(); });
        start = end;
    }
}

}  // namespace

std::shared_ptr<Coordinator> Coordinator::create(ModelPtr model) {
    return std::shared_ptr<Coordinator>(new Coordinator(std::move(model)));
}

Coordinator::Coordinator(ModelPtr model) : model_(std::move(model)) {
    for (const auto& e : model_->entities()) {
        std::string cols = "t0.Z_PK", names, marks, sets;
        auto add = [&](const std::string& name) {
            cols += ", t0." + quoteIdentifier(name);
            names += (names.empty() ? "" : ", ") + quoteIdentifier(name);
            marks += marks.empty() ? "?" : ", ?";
            sets += (sets.empty() ? "" : ", ") + quoteIdentifier(name) + " = ?";
        };
        for (const auto& a : e->attributes()) add(a.name);
        for (const auto& r : e->relationships())
            if (!r.toMany) add(r.name);
        selectColumns_.push_back(std::move(cols));
        insertSql_.push_back("INSERT INTO " + quoteIdentifier(e->name()) + " (" + names + ") VALUES (" + marks + ")");
        updateSql_.push_back("UPDATE " + quoteIdentifier(e->name()) + " SET " + sets + " WHERE Z_PK = ?");
    }
}

Coordinator::~Coordinator() {
    std::lock_guard lock(mutex_);
    closeLocked();
}

void Coordinator::closeLocked() {
    for (auto& [sql, stmt] : statements_) sqlite3_finalize(stmt);
    statements_.clear();
    fetchedRows_.clear();
    if (db_) sqlite3_close_v2(db_);
    db_ = nullptr;
    store_.reset();
    identities_.clear();
    analyzedAt_.clear();
}

Error Coordinator::sqliteErrorLocked(int code, const std::string& what) const {
    int primary = code & 0xff;
    int64_t storeCode = kStoreOpenError;
    if (primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB)
        storeCode = kDamagedStoreError;
    else if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED)
        storeCode = kStoreTimeoutError;
    std::string message = what;
    if (db_)
        message += ": " + std::string(sqlite3_errmsg(db_));
    else
        message += ": " + std::string(sqlite3_errstr(code));
    Error e = makeError(storeCode, message);
    e.userInfo.set(kSQLiteErrorCodeKey, static_cast<int64_t>(code));
    // The system's own cause, so that callers can tell a full disk (which SQLite reports as an I/O
    // error when a write is refused outright) from other failures.
    if (const int cause = db_ ? sqlite3_system_errno(db_) : 0; cause != 0)
        e.userInfo.set(foundation::kUnderlyingErrorKey,
                       foundation::Dictionary{{"domain", foundation::kPOSIXErrorDomain}, {"code", cause}});
    if (store_) e.userInfo.set(kStorePathKey, store_->path());
    return e;
}

// Called as an operation begins, never inside one: an operation (a save above all) keeps the
// statements it took for its rows, so a cache emptied half-way would leave it holding finalized ones.
void Coordinator::trimStatementsLocked() {
    if (statements_.size() < kStatementCacheLimit) return;
    for (auto& [s, stmt] : statements_) sqlite3_finalize(stmt);
    statements_.clear();
    fetchedRows_.clear();
}

sqlite3_stmt* Coordinator::statementLocked(const std::string& sql, Error* error) {
    auto it = statements_.find(sql);
    if (it != statements_.end()) return it->second;
    sqlite3_stmt* stmt = nullptr;
    int rc =
        sqlite3_prepare_v3(db_, sql.c_str(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT, &stmt, nullptr);
    if (rc != SQLITE_OK) {
        if (error) *error = sqliteErrorLocked(rc, "Cannot prepare a statement");
        sqlite3_finalize(stmt);
        return nullptr;
    }
    statements_.emplace(sql, stmt);
    return stmt;
}

Status Coordinator::stepCachedLocked(const std::string& sql) {
    Error err;
    sqlite3_stmt* stmt = statementLocked(sql, &err);
    if (!stmt) return err;
    StatementUse use{stmt};
    if (int rc = sqlite3_step(stmt); rc != SQLITE_DONE && rc != SQLITE_ROW)
        return sqliteErrorLocked(rc, "Cannot run \"" + sql.substr(0, 60) + "\"");
    return {};
}

Status Coordinator::execLocked(const std::string& sql) {
    char* message = nullptr;
    int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message);
    sqlite3_free(message);
    if (rc != SQLITE_OK) return sqliteErrorLocked(rc, "Cannot run \"" + sql.substr(0, 60) + "\"");
    return {};
}

Status Coordinator::bindValue(sqlite3_stmt* stmt, int index, const Value& v) {
    int rc = SQLITE_OK;
    switch (v.type()) {
        case Value::Type::Null:
            rc = sqlite3_bind_null(stmt, index);
            break;
        case Value::Type::Bool:
            rc = sqlite3_bind_int64(stmt, index, *v.ifBool() ? 1 : 0);
            break;
        case Value::Type::Int:
            rc = sqlite3_bind_int64(stmt, index, *v.ifInt());
            break;
        case Value::Type::Double:
            rc = sqlite3_bind_double(stmt, index, *v.ifDouble());
            break;
        case Value::Type::Date:
            rc = sqlite3_bind_double(stmt, index, v.ifDate()->secondsSince1970);
            break;
        // Every statement is reset and its bindings cleared (StatementUse) before the values it
        // was given go away, so SQLite can read texts and blobs in place instead of copying them.
        case Value::Type::String:
            rc = sqlite3_bind_text64(stmt, index, v.ifString()->data(), v.ifString()->size(), SQLITE_STATIC,
                                     SQLITE_UTF8);
            break;
        case Value::Type::Data:
            rc = sqlite3_bind_blob64(stmt, index, v.ifData()->data(), v.ifData()->size(), SQLITE_STATIC);
            break;
        case Value::Type::Array:
        case Value::Type::Dictionary:
            return bindEncoded(stmt, index, v);
    }
    if (rc != SQLITE_OK) return sqliteErrorLocked(rc, "Cannot bind a value");
    return {};
}

Status Coordinator::bindEncoded(sqlite3_stmt* stmt, int index, const Value& v) {
    auto bytes = encodeValue(v);
    if (int rc = sqlite3_bind_blob64(stmt, index, bytes.data(), bytes.size(), SQLITE_TRANSIENT); rc != SQLITE_OK)
        return sqliteErrorLocked(rc, "Cannot bind a value");
    return {};
}

// The same for a value read in place from a packed row, bound as bindValue binds the value.
Status Coordinator::bindPacked(sqlite3_stmt* stmt, int index, const PackedValues::View& v) {
    int rc = SQLITE_OK;
    switch (v.type) {
        case Value::Type::Null:
            rc = sqlite3_bind_null(stmt, index);
            break;
        case Value::Type::Bool:
        case Value::Type::Int:
            rc = sqlite3_bind_int64(stmt, index, v.integer);
            break;
        case Value::Type::Double:
        case Value::Type::Date:
            rc = sqlite3_bind_double(stmt, index, v.real);
            break;
        case Value::Type::String:
            rc = sqlite3_bind_text64(stmt, index, v.bytes.data(), v.bytes.size(), SQLITE_STATIC, SQLITE_UTF8);
            break;
        // Data, and the byte form of an array or a dictionary (the row keeps it, as encodeValue makes it).
        case Value::Type::Data:
        case Value::Type::Array:
        case Value::Type::Dictionary:
            rc = sqlite3_bind_blob64(stmt, index, v.bytes.data(), v.bytes.size(), SQLITE_STATIC);
            break;
    }
    if (rc != SQLITE_OK) return sqliteErrorLocked(rc, "Cannot bind a value");
    return {};
}

// ---------------------------------------------------------------- stores

foundation::Result<PersistentStorePtr> Coordinator::addPersistentStore(const std::string& path,
                                                                       const StoreOptions& options) {
    std::lock_guard lock(mutex_);
    if (store_) return makeError(kStoreOpenError, "The coordinator already has a store (" + store_->path() + ").");
    if (!model_->finished()) return makeError(kInvalidRequestError, "The model is not finished.");
    if (std::error_code ec; std::filesystem::is_directory(path, ec))
        return makeError(kUnreadableStoreError, "The store's path " + path + " is a directory.");
    int rc =
        sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        Error e = sqliteErrorLocked(rc, "Cannot open the store at " + path);
        closeLocked();
        return e;
    }
    sqlite3_extended_result_codes(db_, 1);
    busyTimeoutMs_ = static_cast<int>(std::max(0.0, options.busyTimeoutSeconds) * 1000);
    sqlite3_busy_timeout(db_, busyTimeoutMs_);
    sqlite3_create_function_v2(db_, kStringFunction, 4, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, stringFunction,
                               nullptr, nullptr, nullptr);
    auto store = std::make_shared<PersistentStore>();
    store->path_ = path;
    store_ = store;
    if (Status s = prepareSchemaLocked(options); !s) {
        Error e = s.error();
        e.userInfo.set(kStorePathKey, path);
        closeLocked();
        return e;
    }
    return store;
}

Status Coordinator::prepareSchemaLocked(const StoreOptions& options) {
    // Reading the schema is the first touch of the file: this is where a damaged file or one
    // that is not a database shows, and where another connection's lock shows as busy.
    std::vector<std::string> tables;
    {
        Error err;
        sqlite3_stmt* stmt = statementLocked("SELECT name FROM sqlite_master WHERE type = 'table'", &err);
        if (!stmt) return err;
        StatementUse use{stmt};
        int rc;
        while ((rc = sqlite3_step(stmt)) == SQLITE_ROW)
            tables.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
        if (rc != SQLITE_DONE) return sqliteErrorLocked(rc, "Cannot read the store's schema");
    }
    for (const auto& [key, value] : options.sqlitePragmas) {
        std::string v = value.stringValue();
        if (!key.isString() || !safePragmaWord(key.string()) || !safePragmaWord(v))
            return makeError(kStoreOpenError, "Bad SQLite pragma " + key.description() + ".");
        Error err;
        sqlite3_stmt* stmt = statementLocked("PRAGMA " + key.string() + " = " + v, &err);
        if (!stmt) return err;
        StatementUse use{stmt};
        int rc;
        while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {}
        if (rc != SQLITE_DONE) return sqliteErrorLocked(rc, "Cannot apply the pragma " + key.string());
        statements_.erase("PRAGMA " + key.string() + " = " + v);
        sqlite3_finalize(use.stmt);
        use.stmt = nullptr;
    }

    bool ours = std::find(tables.begin(), tables.end(), "Z_METADATA") != tables.end();
    if (!ours && !tables.empty()) return makeError(kUnreadableStoreError, "The file holds tables of another program.");

    // What the file holds: entity -> attribute -> type name.
    std::unordered_map<std::string, std::unordered_map<std::string, std::string>> stored;
    std::string identifier;
    if (ours) {
        Error err;
        sqlite3_stmt* stmt = statementLocked("SELECT Z_ENTITY, Z_NAME, Z_TYPE FROM Z_METADATA", &err);
        // A Z_METADATA of another program's making (its columns are not these).
        if (!stmt && (err.userInfo.get(kSQLiteErrorCodeKey).int64Value() & 0xff) == SQLITE_ERROR)
            return makeError(kUnreadableStoreError, "The store's metadata is not this store's.");
        if (!stmt) return err;
        StatementUse use{stmt};
        int rc;
        while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
            auto col = [&](int i) {
                const unsigned char* t = sqlite3_column_text(stmt, i);
                return std::string(t ? reinterpret_cast<const char*>(t) : "");
            };
            if (col(0).empty() && col(1) == "UUID")
                identifier = col(2);
            else
                stored[col(0)][col(1)] = col(2);
        }
        if (rc != SQLITE_DONE) return sqliteErrorLocked(rc, "Cannot read the store's metadata");
    }

    bool migrate = options.migratePersistentStoresAutomatically && options.inferMappingModelAutomatically;
    std::vector<std::string> ddl;
    std::vector<std::array<std::string, 3>> metadata;
    for (const auto& e : model_->entities()) {
        auto found = stored.find(e->name());
        bool tableExists = std::find(tables.begin(), tables.end(), e->name()) != tables.end();
        if (found == stored.end() || !tableExists) {
            if (ours && !migrate)
                return makeError(kIncompatibleVersionHashError, "The store has no entity " + e->name() + ".");
            std::string create = "CREATE TABLE " + quoteIdentifier(e->name()) + " (Z_PK INTEGER PRIMARY KEY";
            for (const auto& a : e->attributes()) {
                create += ", " + quoteIdentifier(a.name) + " " + columnType(a.type);
                metadata.push_back({e->name(), a.name, attributeTypeName(a.type)});
            }
            for (const auto& r : e->relationships()) {
                if (r.toMany) continue;
                create += ", " + quoteIdentifier(r.name) + " INTEGER";
                metadata.push_back({e->name(), r.name, relationshipTypeName(r)});
            }
            ddl.push_back(create + ")");
            metadata.push_back({e->name(), "", "Entity"});
        } else {
            // The columns the table really has: the metadata says what was written, but a file
            // edited by hand may have lost one, and every save would then fail.
            std::unordered_set<std::string> columns;
            {
                Error err;
                sqlite3_stmt* stmt = statementLocked("SELECT name FROM pragma_table_info(?)", &err);
                if (!stmt) return err;
                StatementUse use{stmt};
                sqlite3_bind_text(stmt, 1, e->name().c_str(), -1, SQLITE_TRANSIENT);
                int rc;
                while ((rc = sqlite3_step(stmt)) == SQLITE_ROW)
                    if (const unsigned char* t = sqlite3_column_text(stmt, 0))
                        columns.emplace(reinterpret_cast<const char*>(t));
                if (rc != SQLITE_DONE) return sqliteErrorLocked(rc, "Cannot read the columns of " + e->name());
            }
            auto check = [&](const std::string& name, const std::string& type, const char* sqlType) -> Status {
                auto it = found->second.find(name);
                auto addColumn = [&] {
                    ddl.push_back("ALTER TABLE " + quoteIdentifier(e->name()) + " ADD COLUMN " + quoteIdentifier(name) +
                                  " " + sqlType);
                };
                if (it == found->second.end()) {
                    if (!migrate)
                        return makeError(kIncompatibleVersionHashError,
                                         "The store has no attribute " + e->name() + "." + name + ".");
                    if (!columns.count(name)) addColumn();
                    metadata.push_back({e->name(), name, type});
                } else if (!compatibleTypes(it->second, type)) {
                    return makeError(kIncompatibleVersionHashError, "The store keeps " + e->name() + "." + name +
                                                                        " as " + it->second + ", the model as " + type +
                                                                        ".");
                } else {
                    if (!columns.count(name)) addColumn();
                    if (it->second != type) metadata.push_back({e->name(), name, type});
                }
                return {};
            };
            for (const auto& a : e->attributes())
                if (Status s = check(a.name, attributeTypeName(a.type), columnType(a.type)); !s) return s;
            for (const auto& r : e->relationships())
                if (!r.toMany)
                    if (Status s = check(r.name, relationshipTypeName(r), "INTEGER"); !s) return s;
            if (!migrate) {
                // Without migration the file must hold exactly this model.
                for (const auto& [name, type] : found->second)
                    if (!name.empty() && e->attributeIndex(name) < 0 && !e->relationship(name))
                        return makeError(kIncompatibleVersionHashError,
                                         "The store has " + e->name() + "." + name + ", which the model lacks.");
            }
        }
        for (const auto& r : e->relationships())
            if (!r.toMany)
                ddl.push_back("CREATE INDEX IF NOT EXISTS " + quoteIdentifier(e->name() + "_" + r.name) + " ON " +
                              quoteIdentifier(e->name()) + " (" + quoteIdentifier(r.name) + ")");
        for (const auto& a : e->attributes())
            if (a.indexed)
                ddl.push_back("CREATE INDEX IF NOT EXISTS " + quoteIdentifier(e->name() + "_" + a.name) + " ON " +
                              quoteIdentifier(e->name()) + " (" + quoteIdentifier(a.name) + ")");
        for (const auto& index : e->compoundIndexes()) {
            std::string name = e->name(), cols;
            for (const auto& c : index) {
                name += "_" + c;
                cols += (cols.empty() ? "" : ", ") + quoteIdentifier(c);
            }
            ddl.push_back("CREATE INDEX IF NOT EXISTS " + quoteIdentifier(name) + " ON " + quoteIdentifier(e->name()) +
                          " (" + cols + ")");
        }
    }
    if (!ours) {
        ddl.insert(ddl.begin(), "CREATE TABLE Z_METADATA (Z_ENTITY TEXT NOT NULL, Z_NAME TEXT NOT NULL, Z_TYPE TEXT, "
                                "PRIMARY KEY (Z_ENTITY, Z_NAME))");
        identifier = randomIdentifier();
        metadata.push_back({"", "UUID", identifier});
    }
    if (!ddl.empty() || !metadata.empty()) {
        if (Status s = execLocked("BEGIN IMMEDIATE"); !s) return s;
        Status result;
        for (const auto& statement : ddl)
            if (result = execLocked(statement); !result) break;
        if (result) {
            Error err;
            sqlite3_stmt* stmt =
                statementLocked("INSERT OR REPLACE INTO Z_METADATA (Z_ENTITY, Z_NAME, Z_TYPE) VALUES (?, ?, ?)", &err);
            if (!stmt) result = err;
            for (const auto& row : metadata) {
                if (!result) break;
                StatementUse use{stmt};
                for (int i = 0; i < 3; ++i) sqlite3_bind_text(stmt, i + 1, row[i].c_str(), -1, SQLITE_TRANSIENT);
                int rc = sqlite3_step(stmt);
                if (rc != SQLITE_DONE) result = sqliteErrorLocked(rc, "Cannot write the store's metadata");
            }
        }
        if (result) result = execLocked("COMMIT");
        if (!result) {
            (void)execLocked("ROLLBACK");
            return result;
        }
    }
    store_->identifier_ = std::make_shared<const std::string>(identifier);
    return {};
}

Status Coordinator::removePersistentStore(const PersistentStorePtr& store) {
    std::lock_guard lock(mutex_);
    if (!store || store != store_) return makeError(kNoStoreError, "The store does not belong to this coordinator.");
    closeLocked();
    return {};
}

PersistentStorePtr Coordinator::persistentStoreForPath(const std::string& path) const {
    std::lock_guard lock(mutex_);
    if (!store_) return nullptr;
    std::error_code ec;
    if (store_->path() == path || std::filesystem::equivalent(store_->path(), path, ec)) return store_;
    return nullptr;
}

std::vector<PersistentStorePtr> Coordinator::persistentStores() const {
    std::lock_guard lock(mutex_);
    if (!store_) return {};
    return {store_};
}

Status Coordinator::destroyPersistentStore(const std::string& path) {
    for (const char* suffix : {"", "-journal", "-wal", "-shm"}) {
        std::error_code ec;
        std::filesystem::remove(path + suffix, ec);
        if (ec) return makeError(kStoreOpenError, "Cannot delete " + path + suffix + ": " + ec.message());
    }
    return {};
}

// ---------------------------------------------------------------- identities

ObjectID Coordinator::identityForLocked(const Entity& entity, int64_t primaryKey) {
    auto [slot, added] = identities_.emplace(std::make_pair(entity.number(), primaryKey), {});
    if (!added)
        if (auto id = slot->lock()) return id;
    // One allocation with its count: a fetch makes one for every row it reads. (The weak entry of
    // an identity nobody holds keeps its 64 bytes until the entry is reused or swept.)
    ObjectID id = std::make_shared<ObjectIdentity>(
        &entity, primaryKey, 0, store_ ? store_->identifier_ : std::make_shared<const std::string>());
    *slot = id;
    if (identities_.size() >= identitiesSweepAt_) sweepIdentitiesLocked();
    return id;
}

void Coordinator::sweepIdentitiesLocked() {
    // The entries whose identities are gone go, now and then: the live ones move to a table of
    // their size.
    size_t alive = 0;
    identities_.forEach([&](const auto&, const std::weak_ptr<ObjectIdentity>& weak) { alive += !weak.expired(); });
    decltype(identities_) fresh;
    fresh.reserve(alive);
    identities_.forEach([&](const auto& key, const std::weak_ptr<ObjectIdentity>& weak) {
        if (!weak.expired()) fresh.emplace(key, weak);
    });
    identities_ = std::move(fresh);
    identitiesSweepAt_ = std::max<size_t>(4096, 2 * identities_.size());
}

ObjectID Coordinator::identityFor(const Entity& entity, int64_t primaryKey) {
    std::lock_guard lock(mutex_);
    return identityForLocked(entity, primaryKey);
}

size_t Coordinator::identityTableBytes() const {
    std::lock_guard lock(mutex_);
    return identities_.bytes();
}

ObjectID Coordinator::newTemporaryIdentity(const Entity& entity) {
    std::shared_ptr<const std::string> storeId;
    {
        std::lock_guard lock(mutex_);
        storeId = store_ ? store_->identifier_ : std::make_shared<const std::string>();
    }
    // One allocation with its count, as a stored row's identity (identityForLocked): an insert
    // makes one per object, and the commit then reads the count beside the identity.
    return std::make_shared<ObjectIdentity>(&entity, 0, nextTemporary_++, std::move(storeId));
}

// ---------------------------------------------------------------- reading

Row Coordinator::readRowLocked(const Entity& entity, sqlite3_stmt* stmt, int first) {
    Row row;
    row.id = identityForLocked(entity, sqlite3_column_int64(stmt, first));
    const auto& attrs = entity.attributes();
    // Each value is made in its place: a list's fetch reads thousands of rows. Each column is
    // read through its value once (the connection has no mutex of its own, so the value needs no
    // protecting), rather than asking the statement for its type and then for its content.
    row.values.reserve(attrs.size());
    int col = first + 1;
    for (size_t i = 0; i < attrs.size(); ++i, ++col) {
        sqlite3_value* v = sqlite3_column_value(stmt, col);
        const int t = sqlite3_value_type(v);
        if (t == SQLITE_NULL) {
            row.values.emplace_back();
            continue;
        }
        switch (attrs[i].type) {
            case AttributeType::String: {
                const unsigned char* p = sqlite3_value_text(v);
                row.values.emplace_back(
                    std::string(reinterpret_cast<const char*>(p), static_cast<size_t>(sqlite3_value_bytes(v))));
                break;
            }
            case AttributeType::Boolean:
                row.values.emplace_back(sqlite3_value_int64(v) != 0);
                break;
            case AttributeType::Date:
                row.values.emplace_back(foundation::Date{sqlite3_value_double(v)});
                break;
            case AttributeType::Double:
                row.values.emplace_back(sqlite3_value_double(v));
                break;
            case AttributeType::Transformable: {
                auto& value = row.values.emplace_back();
                // Every value is written in its byte form; a file written before texts and
                // numbers were holds them as plain columns, read as what they are.
                if (t == SQLITE_TEXT) {
                    value = std::string(reinterpret_cast<const char*>(sqlite3_value_text(v)),
                                        static_cast<size_t>(sqlite3_value_bytes(v)));
                } else if (t == SQLITE_INTEGER) {
                    value = static_cast<int64_t>(sqlite3_value_int64(v));
                } else if (t == SQLITE_FLOAT) {
                    value = sqlite3_value_double(v);
                } else {
                    auto p = static_cast<const uint8_t*>(sqlite3_value_blob(v));
                    auto decoded = decodeValue({p, static_cast<size_t>(sqlite3_value_bytes(v))});
                    if (decoded) value = std::move(decoded.value());
                }
                break;
            }
            default:
                row.values.emplace_back(static_cast<int64_t>(sqlite3_value_int64(v)));
                break;
        }
    }
    const auto& rels = entity.relationships();
    // Slots only when there is a to-one to fill: to-many relationships have no column.
    if (std::none_of(rels.begin(), rels.end(), [](const Relationship& r) { return !r.toMany; })) return row;
    row.toOne.resize(rels.size());
    for (size_t i = 0; i < rels.size(); ++i) {
        if (rels[i].toMany) continue;
        sqlite3_value* v = sqlite3_column_value(stmt, col);
        if (sqlite3_value_type(v) != SQLITE_NULL)
            row.toOne[i] = identityForLocked(*rels[i].destination, sqlite3_value_int64(v));
        ++col;
    }
    return row;
}

Status Coordinator::bindPlanParameters(sqlite3_stmt* stmt, const SqlPlan& plan) {
    const int count = sqlite3_bind_parameter_count(stmt);
    for (int i = 0; i < count && i < static_cast<int>(plan.params.size()); ++i)
        if (Status s = bindValue(stmt, i + 1, plan.params[i]); !s) return s;
    return {};
}

foundation::Result<std::vector<Row>> Coordinator::fetchRows(const Entity& entity, const SqlPlan& plan, size_t limit,
                                                            size_t offset) {
    std::string sql = "SELECT " + selectColumns_[entity.number()] + " FROM " + quoteIdentifier(entity.name()) + " t0";
    if (!plan.where.empty()) sql += " WHERE " + plan.where;
    // Every matching row is read: rows of equal keys are put in row order here (see below).
    const bool orderTiesHere = !limit && !offset && !plan.sortInMemory && !plan.sortAttributes.empty();
    if (orderTiesHere)
        sql += " ORDER BY " + plan.orderByKeys;
    else if (!plan.orderBy.empty() && !plan.sortInMemory)
        sql += " ORDER BY " + plan.orderBy;
    if (limit) sql += " LIMIT " + std::to_string(limit);
    if (offset) sql += (limit ? " OFFSET " : " LIMIT -1 OFFSET ") + std::to_string(offset);
    std::lock_guard lock(mutex_);
    if (!db_) return makeError(kNoStoreError, "The coordinator has no store.");
    trimStatementsLocked();
    Error err;
    sqlite3_stmt* stmt = statementLocked(sql, &err);
    if (!stmt) return err;
    StatementUse use{stmt};
    if (Status s = bindPlanParameters(stmt, plan); !s) return s.error();
    // As many rows as the statement read last time, else (the first time) the limit, up to a
    // page of a list: growing the vector would move every row read so far, again and again.
    size_t& expected = fetchedRows_[stmt];
    constexpr size_t kFirstReserve = 1024;
    std::vector<Row> rows;
    rows.reserve(expected ? expected : std::min(limit, kFirstReserve));
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) rows.push_back(readRowLocked(entity, stmt, 0));
    if (rc != SQLITE_DONE) return sqliteErrorLocked(rc, "Cannot fetch " + entity.name());
    if (sqlite3_stmt_status(stmt, SQLITE_STMTSTATUS_SORT, 1) > 0) {
        sqlite3_reset(stmt);
        noteSortedReadLocked(entity, rows.size());
    }
    if (orderTiesHere) orderTiesByRow(rows, plan.sortAttributes);
    expected = rows.size();
    // A statement whose parameters now match far fewer rows gives back the room it guessed.
    if (rows.capacity() / 2 > rows.size()) rows.shrink_to_fit();
    return rows;
}

// Without statistics SQLite takes any index that narrows the rows over one that gives their
// order, so a list of most of a table (a type filter, a date order) is read through the type's
// index and every row's columns sorted in a temporary tree. With them it knows how little the
// type narrows and walks the date's index in order instead. They are gathered once a read of many
// rows needed a sort (a small read sorts cheaply), again when the table has grown well past them,
// and never inside a transaction or while another connection writes (statistics are worth no
// wait: a read that finds the file busy tries again next time). The cost is bounded: SQLite looks
// at a sample of each index.
void Coordinator::noteSortedReadLocked(const Entity& entity, size_t rows) {
    constexpr size_t kRowsWorthStatistics = 256, kGrowth = 4;
    if (rows < kRowsWorthStatistics || !sqlite3_get_autocommit(db_)) return;
    const auto number = static_cast<size_t>(entity.number());
    if (analyzedAt_.size() <= number) analyzedAt_.resize(number + 1, 0);
    size_t& at = analyzedAt_[number];
    if (at && rows < at * kGrowth) return;
    sqlite3_busy_timeout(db_, 0);
    if (execLocked("PRAGMA analysis_limit = 1000") && execLocked("ANALYZE " + quoteIdentifier(entity.name())))
        at = rows;
    sqlite3_busy_timeout(db_, busyTimeoutMs_);
}

foundation::Result<size_t> Coordinator::countRows(const Entity& entity, const SqlPlan& plan) {
    std::string sql = "SELECT COUNT(*) FROM " + quoteIdentifier(entity.name()) + " t0";
    if (!plan.where.empty()) sql += " WHERE " + plan.where;
    std::lock_guard lock(mutex_);
    if (!db_) return makeError(kNoStoreError, "The coordinator has no store.");
    trimStatementsLocked();
    Error err;
    sqlite3_stmt* stmt = statementLocked(sql, &err);
    if (!stmt) return err;
    StatementUse use{stmt};
    if (Status s = bindPlanParameters(stmt, plan); !s) return s.error();
    int rc = sqlite3_step(stmt);
    if (rc != SQLITE_ROW) return sqliteErrorLocked(rc, "Cannot count " + entity.name());
    return static_cast<size_t>(sqlite3_column_int64(stmt, 0));
}

foundation::Result<Row> Coordinator::loadRow(const ObjectID& id) {
    const Entity& entity = id->entity();
    std::lock_guard lock(mutex_);
    if (!db_) return makeError(kNoStoreError, "The coordinator has no store.");
    trimStatementsLocked();
    if (id->isTemporary() || (store_ && id->storeIdentifier() != store_->identifier()))
        return makeError(kInvalidRequestError, "The object is not in the store.");
    Error err;
    sqlite3_stmt* stmt = statementLocked("SELECT " + selectColumns_[entity.number()] + " FROM " +
                                             quoteIdentifier(entity.name()) + " t0 WHERE t0.Z_PK = ?",
                                         &err);
    if (!stmt) return err;
    StatementUse use{stmt};
    sqlite3_bind_int64(stmt, 1, id->primaryKey());
    int rc = sqlite3_step(stmt);
    if (rc == SQLITE_DONE) return makeError(kInvalidRequestError, "The object's row no longer exists.");
    if (rc != SQLITE_ROW) return sqliteErrorLocked(rc, "Cannot read " + entity.name());
    Row row = readRowLocked(entity, stmt, 0);
    row.id = id;
    return row;
}

foundation::Result<std::vector<Row>> Coordinator::loadRows(const std::vector<ObjectID>& ids) {
    std::vector<Row> rows;
    std::lock_guard lock(mutex_);
    if (!db_) return makeError(kNoStoreError, "The coordinator has no store.");
    trimStatementsLocked();
    // The stored ids by entity; a temporary id or another store's has no row here.
    std::vector<std::vector<const ObjectID*>> byEntity(model_->entities().size());
    for (const auto& id : ids)
        if (id && !id->isTemporary() && (!store_ || id->storeIdentifier() == store_->identifier()))
            byEntity[id->entity().number()].push_back(&id);
    // One statement per entity, kLoadRowsBatch ids at a time; a short last batch repeats its
    // last id, which IN ignores, so that the statement stays the one cached.
    constexpr int kLoadRowsBatch = 256;
    for (size_t e = 0; e < byEntity.size(); ++e) {
        const auto& wanted = byEntity[e];
        if (wanted.empty()) continue;
        const Entity& entity = *model_->entities()[e];
        std::string sql =
            "SELECT " + selectColumns_[e] + " FROM " + quoteIdentifier(entity.name()) + " t0 WHERE t0.Z_PK IN (?";
        for (int i = 1; i < kLoadRowsBatch; ++i) sql += ", ?";
        sql += ")";
        Error err;
        sqlite3_stmt* stmt = statementLocked(sql, &err);
        if (!stmt) return err;
        std::unordered_map<int64_t, const ObjectID*> byKey;
        for (size_t start = 0; start < wanted.size(); start += kLoadRowsBatch) {
            const size_t end = std::min(wanted.size(), start + kLoadRowsBatch);
            byKey.clear();
            StatementUse use{stmt};
            for (int i = 0; i < kLoadRowsBatch; ++i) {
                const ObjectID& id = *wanted[std::min(end - 1, start + static_cast<size_t>(i))];
                byKey.emplace(id->primaryKey(), &id);
                sqlite3_bind_int64(stmt, i + 1, id->primaryKey());
            }
            int rc;
            while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
                Row row = readRowLocked(entity, stmt, 0);
                // The row keeps the identity it was asked for (the same one while anyone holds it).
                if (auto it = byKey.find(row.id->primaryKey()); it != byKey.end()) row.id = *it->second;
                rows.push_back(std::move(row));
            }
            if (rc != SQLITE_DONE) return sqliteErrorLocked(rc, "Cannot read " + entity.name());
        }
    }
    return rows;
}

foundation::Result<std::vector<ObjectID>> Coordinator::loadToMany(const ObjectID& owner, const Relationship& rel) {
    std::vector<ObjectID> out;
    if (owner->isTemporary()) return out;
    std::lock_guard lock(mutex_);
    if (!db_) return makeError(kNoStoreError, "The coordinator has no store.");
    trimStatementsLocked();
    Error err;
    sqlite3_stmt* stmt = statementLocked("SELECT Z_PK FROM " + quoteIdentifier(rel.destination->name()) + " WHERE " +
                                             quoteIdentifier(rel.inverse->name) + " = ? ORDER BY Z_PK",
                                         &err);
    if (!stmt) return err;
    StatementUse use{stmt};
    sqlite3_bind_int64(stmt, 1, owner->primaryKey());
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW)
        out.push_back(identityForLocked(*rel.destination, sqlite3_column_int64(stmt, 0)));
    if (rc != SQLITE_DONE) return sqliteErrorLocked(rc, "Cannot read " + rel.name);
    return out;
}

// ---------------------------------------------------------------- writing

Status Coordinator::commit(SaveBatch& batch) {
    std::lock_guard lock(mutex_);
    if (!db_) return makeError(kNoStoreError, "The coordinator has no store.");
    trimStatementsLocked();
    // Inserted rows by position: their identity, the row number each gets, and the DFS state.
    const size_t n = batch.inserted.size();
    if (n >= UINT32_MAX) return makeError(kStoreSaveError, "Too many rows for one save.");
    // One array: a save can insert hundreds of thousands, and every to-one link looks its target up.
    foundation::FlatMap<const ObjectIdentity*, uint32_t> pending;
    pending.reserve(n);
    for (size_t i = 0; i < n; ++i) pending.emplace(batch.inserted[i].id.get(), static_cast<uint32_t>(i));
    // A row's targets are looked up to order the inserts and again to bind the row: the one
    // looked up last (a message's conversation) is kept, since each lookup is a miss in a table
    // as large as the save.
    const ObjectIdentity* lastTarget = nullptr;
    const uint32_t* lastSlot = nullptr;
    auto pendingSlot = [&](const ObjectIdentity* target) {
        if (target != lastTarget) {
            lastTarget = target;
            lastSlot = pending.find(target);
        }
        return lastSlot;
    };
    std::vector<int64_t> assigned(n, 0);
    std::vector<uint8_t> visiting(n, 0);
    struct Fixup {
        size_t row;
        size_t relationship;
        size_t target;
    };
    std::vector<Fixup> fixups;

    auto fail = [&](Error e) -> Status {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        if (e.code == kStoreOpenError) e.code = kStoreSaveError;
        return e;
    };
    auto step = [&](sqlite3_stmt* stmt, const char* what) -> Status {
        int rc = sqlite3_step(stmt);
        if (rc != SQLITE_DONE) return sqliteErrorLocked(rc, what);
        return {};
    };
    // Binds a row's values and to-one columns; insertIndex names the inserted row being bound
    // (SIZE_MAX for an update), so that a target not yet inserted is linked after the inserts.
    auto bindRow = [&](sqlite3_stmt* stmt, const Row& row, size_t insertIndex) -> Status {
        const Entity& e = row.id->entity();
        int index = 1;
        // Both branches name a living value: SQLite reads the texts in place until the reset.
        static const Value kNull;
        for (size_t i = 0; i < e.attributes().size(); ++i) {
            const Value::Type type = row.packed              ? row.packed.view(i).type
                                     : i < row.values.size() ? row.values[i].type()
                                                             : Value::Type::Null;
            // A transformable value reads back only from its byte form, which an array or a
            // dictionary already has: a text, a number, a date or a flag is given it here.
            const bool encode = e.attributes()[i].type == AttributeType::Transformable && type != Value::Type::Null &&
                                type != Value::Type::Array && type != Value::Type::Dictionary;
            Status s = encode       ? bindEncoded(stmt, index, row.packed ? row.packed.at(i) : row.values[i])
                             : row.packed ? bindPacked(stmt, index, row.packed.view(i))
                                    : bindValue(stmt, index, i < row.values.size() ? row.values[i] : kNull);
            ++index;
            if (!s) return s;
        }
        for (size_t i = 0; i < e.relationships().size(); ++i) {
            if (e.relationships()[i].toMany) continue;
            int64_t pk = 0;
            if (i < row.toOne.size() && row.toOne[i]) {
                const ObjectID& target = row.toOne[i];
                if (!target->isTemporary()) {
                    pk = target->primaryKey();
                } else if (const uint32_t* p = pendingSlot(target.get())) {
                    pk = assigned[*p];
                    if (!pk && insertIndex != SIZE_MAX) fixups.push_back({insertIndex, i, *p});
                }
            }
            if (pk)
                sqlite3_bind_int64(stmt, index++, pk);
            else
                sqlite3_bind_null(stmt, index++);
        }
        return {};
    };
    // One statement per entity and kind for the whole save.
    std::vector<sqlite3_stmt*> inserts(model_->entities().size()), updates(model_->entities().size());
    const StatementsUse statementsUse{inserts, updates};
    auto cached = [&](std::vector<sqlite3_stmt*>& slot, const std::vector<std::string>& sql,
                      const Entity& e) -> foundation::Result<sqlite3_stmt*> {
        auto& stmt = slot[e.number()];
        if (!stmt) {
            Error err;
            stmt = statementLocked(sql[e.number()], &err);
            if (!stmt) return err;
        }
        return stmt;
    };

    // A save's transaction brackets are prepared once, like its inserts: every save runs them.
    if (Status s = stepCachedLocked("BEGIN IMMEDIATE"); !s) return s;

    for (const auto& id : batch.deleted) {
        if (id->isTemporary()) continue;
        Error err;
        sqlite3_stmt* stmt =
            statementLocked("DELETE FROM " + quoteIdentifier(id->entity().name()) + " WHERE Z_PK = ?", &err);
        if (!stmt) return fail(err);
        StatementUse use{stmt};
        sqlite3_bind_int64(stmt, 1, id->primaryKey());
        if (Status s = step(stmt, "Cannot delete a row"); !s) return fail(s.error());
    }

    // Inserts go targets first, so that a row's to-one columns can name rows of the same save;
    // a cycle is closed by an update after all the inserts.
    auto insert = [&](auto& self, size_t index) -> Status {
        if (assigned[index] || visiting[index]) return {};
        visiting[index] = 1;
        const Row& row = batch.inserted[index];
        for (const auto& target : row.toOne)
            if (target && target->isTemporary())
                if (const uint32_t* p = pendingSlot(target.get()); p && !assigned[*p])
                    if (Status s = self(self, *p); !s) return s;
        auto statement = cached(inserts, insertSql_, row.id->entity());
        if (!statement) return statement.error();
        sqlite3_stmt* stmt = *statement;
        const RowUse use{stmt};
        if (Status s = bindRow(stmt, row, index); !s) return s;
        if (Status s = step(stmt, "Cannot insert a row"); !s) return s;
        assigned[index] = sqlite3_last_insert_rowid(db_);
        return {};
    };
    for (size_t i = 0; i < n; ++i)
        if (Status s = insert(insert, i); !s) return fail(s.error());
    for (const auto& f : fixups) {
        const Row& row = batch.inserted[f.row];
        const Relationship& r = row.id->entity().relationships()[f.relationship];
        Error err;
        sqlite3_stmt* stmt = statementLocked("UPDATE " + quoteIdentifier(row.id->entity().name()) + " SET " +
                                                 quoteIdentifier(r.name) + " = ? WHERE Z_PK = ?",
                                             &err);
        if (!stmt) return fail(err);
        StatementUse use{stmt};
        sqlite3_bind_int64(stmt, 1, assigned[f.target]);
        sqlite3_bind_int64(stmt, 2, assigned[f.row]);
        if (Status s = step(stmt, "Cannot link a row"); !s) return fail(s.error());
    }

    for (const auto& row : batch.updated) {
        if (row.id->isTemporary()) continue;
        const Entity& e = row.id->entity();
        auto statement = cached(updates, updateSql_, e);
        if (!statement) return fail(statement.error());
        sqlite3_stmt* stmt = *statement;
        const RowUse use{stmt};
        if (Status s = bindRow(stmt, row, SIZE_MAX); !s) return fail(s.error());
        int last = static_cast<int>(e.attributes().size()) + 1;
        for (const auto& r : e.relationships())
            if (!r.toMany) ++last;
        sqlite3_bind_int64(stmt, last, row.id->primaryKey());
        if (Status s = step(stmt, "Cannot update a row"); !s) return fail(s.error());
    }

    if (Status s = stepCachedLocked("COMMIT"); !s) return fail(s.error());

    // An identity that only the batch holds can never be met again: a later read of its row makes
    // a new one. Only those someone else holds (an object, a to-many set, a caller) are registered,
    // so that a read of their row finds them; a large import's rows then cost the table nothing.
    // The rows nobody takes back first free what only the write needed, their to-ones with it: a
    // message's row holding its conversation is no holder, or every conversation a list imports
    // would stay in the table (and its identity's room with it, held by the weak entry) for good.
    // The table is then made room for the identities still held, counted first.
    pending.clear();
    KeptCursor keptRows{batch.kept};
    for (size_t i = 0; i < n; ++i) {
        Row& row = batch.inserted[i];
        row.id->setPrimaryKey(assigned[i]);
        if (keptRows.at(i)) continue;
        std::vector<Value>().swap(row.values);
        row.packed = {};
        std::vector<ObjectID>().swap(row.toOne);
    }
    size_t held = 0;
    for (const Row& row : batch.inserted) held += row.id.use_count() > 1;
    if (held == 0) return {};
    if (identities_.size() + held >= identitiesSweepAt_) sweepIdentitiesLocked();
    identities_.reserve(identities_.size() + held);
    for (size_t i = 0; i < n; ++i) {
        const ObjectID& id = batch.inserted[i].id;
        if (id.use_count() > 1) identities_[std::make_pair(id->entity().number(), assigned[i])] = id;
    }
    return {};
}

}  // namespace store
