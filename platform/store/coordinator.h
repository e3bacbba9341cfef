// The persistent-store coordinator: one SQLite file per coordinator, a real schema with one
// table per entity (column per attribute and per to-one relationship, indexes for what lists
// filter and sort on), additive migration, and the row traffic of the root contexts. The
// connection is the one thing every context of an account shares across threads, so it is the
// one place that locks; prepared statements are cached per coordinator.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/foundation/flat_map.h"
#include "platform/foundation/value.h"
#include "platform/store/managed_object.h"
#include "platform/store/model.h"
#include "platform/store/sql_plan.h"

struct sqlite3;
struct sqlite3_stmt;

namespace store {

struct StoreOptions {
    // Add missing tables and columns to a store written by an older model.
    bool migratePersistentStoresAutomatically = false;
    bool inferMappingModelAutomatically = false;
    // SQLite pragmas applied when the store opens, for example {"journal_mode": "DELETE"}.
    foundation::Dictionary sqlitePragmas;
    // How long an open or a save waits for another connection's lock before failing.
    double busyTimeoutSeconds = 5;
};

class PersistentStore {
public:
    const std::string& path() const { return path_; }
    const std::string& identifier() const { return *identifier_; }
    static constexpr const char* type() { return "SQLite"; }

private:
    friend class Coordinator;
    std::string path_;
    std::shared_ptr<const std::string> identifier_ = std::make_shared<const std::string>();
};

using PersistentStorePtr = std::shared_ptr<PersistentStore>;

class Coordinator : public std::enable_shared_from_this<Coordinator> {
public:
    static std::shared_ptr<Coordinator> create(ModelPtr model);
    ~Coordinator();

    const Model& model() const { return *model_; }
    const ModelPtr& modelPtr() const { return model_; }

    // Opens (creating when absent) the SQLite store at path. A file written by an incompatible
    // model gives kIncompatibleVersionHashError (134100); a damaged file or one that is not a
    // database kDamagedStoreError; another program's tables or metadata, or a directory,
    // kUnreadableStoreError; any other failure (busy, permissions, disk full) another code. A
    // table that lacks a column its metadata lists (the
    // file edited by hand) gets the column back, as a column added to the model does. One store
    // per coordinator.
    foundation::Result<PersistentStorePtr> addPersistentStore(const std::string& path,
                                                              const StoreOptions& options = {});
    foundation::Status removePersistentStore(const PersistentStorePtr& store);
    PersistentStorePtr persistentStoreForPath(const std::string& path) const;
    std::vector<PersistentStorePtr> persistentStores() const;

    // Deletes a store file with its journal companions ("-journal", "-wal", "-shm"), so that a
    // fresh store does not replay a stale journal. Absent files are not an error.
    static foundation::Status destroyPersistentStore(const std::string& path);

    // ---- Row traffic for the root contexts (any thread).

    // The identity of a stored row (one shared object per row while anyone holds it).
    ObjectID identityFor(const Entity& entity, int64_t primaryKey);
    // A new temporary identity for an object inserted into a context.
    ObjectID newTemporaryIdentity(const Entity& entity);
    // Bytes the table of identities by row holds.
    size_t identityTableBytes() const;

    foundation::Result<std::vector<Row>> fetchRows(const Entity& entity, const SqlPlan& plan, size_t limit,
                                                   size_t offset);
    foundation::Result<size_t> countRows(const Entity& entity, const SqlPlan& plan);
    // The stored row, or an error when it no longer exists.
    foundation::Result<Row> loadRow(const ObjectID& id);
    // The stored rows of ids, read a batch at a time rather than one query apiece; ids whose rows
    // no longer exist (or never did: temporary ones) are left out.
    foundation::Result<std::vector<Row>> loadRows(const std::vector<ObjectID>& ids);
    // The rows of relationship's destination whose inverse column names owner.
    foundation::Result<std::vector<ObjectID>> loadToMany(const ObjectID& owner, const Relationship& relationship);

    struct SaveBatch {
        std::vector<Row> inserted;
        std::vector<Row> updated;
        std::vector<ObjectID> deleted;
        // The positions of the inserted rows (ascending) whose values and to-ones the caller takes
        // back; the others are wanted by nobody once written, and a successful commit frees them
        // (their ids stay).
        std::vector<uint32_t> kept;
    };
    // Asked for the rows' positions in order, says whether each is kept, with its place in kept.
    struct KeptCursor {
        const std::vector<uint32_t>& kept;
        size_t next = 0;
        std::optional<size_t> at(size_t position) {
            if (next < kept.size() && kept[next] == position) return next++;
            return std::nullopt;
        }
    };
    // Writes the batch in one SQLite transaction; on success the inserted identities become
    // permanent. On failure nothing is written and nothing changes.
    foundation::Status commit(SaveBatch& batch);

private:
    explicit Coordinator(ModelPtr model);

    struct Statement;
    sqlite3_stmt* statementLocked(const std::string& sql, foundation::Error* error);
    void trimStatementsLocked();
    foundation::Error sqliteErrorLocked(int code, const std::string& what) const;
    foundation::Status execLocked(const std::string& sql);
    // Runs one statement without results through the statement cache (prepared once).
    foundation::Status stepCachedLocked(const std::string& sql);
    foundation::Status prepareSchemaLocked(const StoreOptions& options);
    void closeLocked();
    Row readRowLocked(const Entity& entity, sqlite3_stmt* stmt, int firstColumn);
    foundation::Status bindValue(sqlite3_stmt* stmt, int index, const foundation::Value& value);
    foundation::Status bindPacked(sqlite3_stmt* stmt, int index, const PackedValues::View& value);
    // The value in a transformable attribute's byte form (SQLite keeps its own copy).
    foundation::Status bindEncoded(sqlite3_stmt* stmt, int index, const foundation::Value& value);
    // The plan's values, in order, into the statement's parameters.
    foundation::Status bindPlanParameters(sqlite3_stmt* stmt, const SqlPlan& plan);
    ObjectID identityForLocked(const Entity& entity, int64_t primaryKey);
    // Drops the entries of identities that are gone: what is left moves to a table of its size.
    void sweepIdentitiesLocked();
    // After a read of `rows` rows that SQLite had to sort: gathers the planner's statistics of
    // the entity's table, when it has none from this connection or the table has grown well past
    // them, so that the next read can take the rows in the order of an index instead.
    void noteSortedReadLocked(const Entity& entity, size_t rows);

    ModelPtr model_;
    mutable std::mutex mutex_;
    sqlite3* db_ = nullptr;
    PersistentStorePtr store_;
    std::unordered_map<std::string, sqlite3_stmt*> statements_;
    // How many rows each cached fetch statement read the last time: the next fetch's vector is
    // made that size at once (a list fetches the same rows again and again), rather than grown.
    std::unordered_map<sqlite3_stmt*, size_t> fetchedRows_;
    struct KeyHash {
        size_t operator()(const std::pair<int, int64_t>& k) const {
            return std::hash<int64_t>()(k.second * 31 + k.first);
        }
    };
    // In one open-addressing table: a fetch looks up or adds an entry for every row it reads.
    foundation::FlatMap<std::pair<int, int64_t>, std::weak_ptr<ObjectIdentity>, KeyHash> identities_;
    // The size at which entries of identities that are gone are swept out next (twice the size
    // left by the last sweep: a constant cost per identity).
    size_t identitiesSweepAt_ = 4096;
    // Per entity number: the rows of the sorted read after which its statistics were last
    // gathered (0: not on this connection).
    std::vector<size_t> analyzedAt_;
    int busyTimeoutMs_ = 0;
    std::atomic<uint64_t> nextTemporary_{1};
    // Per entity number: the column list of a full row, and the insert and update statements.
    std::vector<std::string> selectColumns_, insertSql_, updateSql_;
};

using CoordinatorPtr = std::shared_ptr<Coordinator>;

}  // namespace store
