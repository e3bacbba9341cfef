#include "platform/services/search_index.h"

#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string_view>
#include <unordered_set>
#include <utility>

#include "platform/foundation/log.h"
#include "platform/foundation/strings.h"

namespace services {

namespace {

std::atomic<bool> indexingAvailable{true};

constexpr const char* kDomain = "SearchIndex";

// The pages an index keeps on the heap: the rest of its file is read again from the disk (the
// system's cache) when needed.
constexpr int kCacheKiB = 1024;

// The items by unique id, in the order first indexed (seq). A domain's deletion reads the table
// through (once a call, for all its domains): it is rare (a conversation or an account removed),
// while an index on the domain would take a page of the file for every conversation a save feeds,
// about as much as the id's; a file that still has one drops it.
constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value TEXT NOT NULL) WITHOUT ROWID;"
    "CREATE TABLE IF NOT EXISTS item(seq INTEGER PRIMARY KEY, id TEXT NOT NULL UNIQUE, domain TEXT NOT NULL,"
    " contentType TEXT NOT NULL, account TEXT NOT NULL, title TEXT NOT NULL, description TEXT NOT NULL,"
    " phoneCall INTEGER NOT NULL);"
    "DROP INDEX IF EXISTS item_domain;";

constexpr const char* kColumns = "id, domain, contentType, account, title, description, phoneCall";

foundation::Error sqliteError(sqlite3* db, const std::string& what) {
    return foundation::Error::withDescription(kDomain, db ? sqlite3_extended_errcode(db) : SQLITE_CANTOPEN,
                                              what + ": " + (db ? sqlite3_errmsg(db) : "no file"));
}

std::string columnText(sqlite3_stmt* statement, int column) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    return text ? std::string(text, static_cast<size_t>(sqlite3_column_bytes(statement, column))) : std::string();
}

// The item of a row of kColumns, from column `first` on.
SearchableItem rowItem(sqlite3_stmt* statement, int first = 0) {
    return {columnText(statement, first),
            columnText(statement, first + 1),
            {columnText(statement, first + 2), columnText(statement, first + 3), columnText(statement, first + 4),
             columnText(statement, first + 5), sqlite3_column_int(statement, first + 6) != 0}};
}

void bindText(sqlite3_stmt* statement, int n, std::string_view text) {
    sqlite3_bind_text(statement, n, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
}

// Lowercase as the search compares: the plain letters directly, the rest through the full rules.
std::string searchLowercase(std::string_view text) {
    const bool ascii = std::all_of(text.begin(), text.end(), [](char c) { return (c & 0x80) == 0; });
    return ascii ? foundation::asciiLowercase(text) : foundation::lowercase(text);
}

}  // namespace

// The prepared statements of the open file, finalized before it is closed.
struct SearchableIndex::Statements {
    sqlite3_stmt* upsert = nullptr;
    sqlite3_stmt* deleteId = nullptr;
    sqlite3_stmt* deleteSeq = nullptr;

    ~Statements() {
        for (sqlite3_stmt* s : {upsert, deleteId, deleteSeq}) sqlite3_finalize(s);
    }
};

SearchableIndex::SearchableIndex() = default;

SearchableIndex::~SearchableIndex() {
    std::lock_guard lock(mutex_);
    closeLocked();
}

std::shared_ptr<SearchableIndex> SearchableIndex::defaultSearchableIndex() {
    static const auto index = std::make_shared<SearchableIndex>();
    return index;
}

bool SearchableIndex::isIndexingAvailable() { return indexingAvailable.load(); }
void SearchableIndex::setIndexingAvailable(bool available) { indexingAvailable.store(available); }

// ---- the file

void SearchableIndex::closeLocked() const {
    statements_.reset();
    if (db_) sqlite3_close_v2(db_);
    db_ = nullptr;
    keptPath_.clear();
    generation_.clear();
}

foundation::Status SearchableIndex::execLocked(const char* sql) const {
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) return sqliteError(db_, sql);
    return {};
}

foundation::Status SearchableIndex::openLocked(const std::filesystem::path& path) const {
    closeLocked();
    sqlite3* db = nullptr;
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
        auto error = sqliteError(db, path.string() + " does not open");
        sqlite3_close_v2(db);
        return error;
    }
    db_ = db;
    auto fail = [&](const std::string& why) HX_REQUIRES(mutex_) {
        auto error = sqliteError(db_, path.string() + " " + why);
        closeLocked();
        return error;
    };
    const std::string cache = "PRAGMA cache_size=-" + std::to_string(kCacheKiB);
    if (!execLocked(cache.c_str())) return fail("is not an index");
    if (!path.empty()) {
        // Each change is committed to the log before its call returns (a kill keeps it); the log
        // is folded into the file by the library as it grows, and cut back to a bound after.
        // The first read of the file tells a file that is not a database.
        sqlite3_busy_timeout(db_, 2000);
        if (!execLocked("PRAGMA journal_mode=WAL") || !execLocked("PRAGMA synchronous=NORMAL") ||
            !execLocked("PRAGMA journal_size_limit=4194304"))
            return fail("is not an index");
    }
    if (!execLocked(kSchema)) return fail("is not an index");
    // A table of the same name with other columns is another program's file.
    sqlite3_stmt* probe = nullptr;
    const std::string check = std::string("SELECT ") + kColumns + ", seq FROM item LIMIT 0";
    const bool ours = sqlite3_prepare_v2(db_, check.c_str(), -1, &probe, nullptr) == SQLITE_OK;
    sqlite3_finalize(probe);
    if (!ours) return fail("is not an index");
    auto statements = std::make_unique<Statements>();
    const std::string upsert = std::string("INSERT INTO item(") + kColumns +
                               ") VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7) ON CONFLICT(id) DO UPDATE SET"
                               " domain=?2, contentType=?3, account=?4, title=?5, description=?6, phoneCall=?7";
    if (sqlite3_prepare_v3(db_, upsert.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &statements->upsert, nullptr) !=
            SQLITE_OK ||
        sqlite3_prepare_v3(db_, "DELETE FROM item WHERE id=?1", -1, SQLITE_PREPARE_PERSISTENT, &statements->deleteId,
                           nullptr) != SQLITE_OK ||
        sqlite3_prepare_v3(db_, "DELETE FROM item WHERE seq=?1", -1, SQLITE_PREPARE_PERSISTENT, &statements->deleteSeq,
                           nullptr) != SQLITE_OK)
        return fail("is not an index");
    statements_ = std::move(statements);
    sqlite3_stmt* read = nullptr;
    if (sqlite3_prepare_v2(db_, "SELECT value FROM meta WHERE key='generation'", -1, &read, nullptr) == SQLITE_OK &&
        sqlite3_step(read) == SQLITE_ROW)
        generation_ = columnText(read, 0);
    sqlite3_finalize(read);
    return {};
}

void SearchableIndex::ensureOpenLocked() const {
    if (db_) return;
    if (auto opened = openLocked(""); !opened)
        foundation::logFaultOnce("search-index",
                                 "the search index has no file: " + opened.error().localizedDescription());
}

foundation::Status SearchableIndex::setGenerationLocked(const std::string& generation) {
    sqlite3_stmt* write = nullptr;
    if (sqlite3_prepare_v2(db_, "INSERT OR REPLACE INTO meta(key, value) VALUES('generation', ?1)", -1, &write,
                           nullptr) != SQLITE_OK)
        return sqliteError(db_, "the generation");
    bindText(write, 1, generation);
    const int done = sqlite3_step(write);
    sqlite3_finalize(write);
    if (done != SQLITE_DONE) return sqliteError(db_, "the generation");
    generation_ = generation;
    return {};
}

template <typename Change>
void SearchableIndex::changeLocked(const char* what, Change&& change) {
    ensureOpenLocked();
    if (!db_) return;
    foundation::Status done = execLocked("BEGIN IMMEDIATE");
    if (done) done = change();
    if (done) done = execLocked("COMMIT");
    if (!done) {
        (void)execLocked("ROLLBACK");
        foundation::logFaultOnce("search-index", std::string("the search index did not take a change (") + what +
                                                     "): " + done.error().localizedDescription());
        return;
    }
    foundation::faultCleared("search-index");
}

// ---- changes

void SearchableIndex::indexSearchableItems(std::vector<SearchableItem> items) {
    std::lock_guard lock(mutex_);
    changeLocked("index", [&]() HX_REQUIRES(mutex_) { return indexLocked(items); });
}

foundation::Status SearchableIndex::indexLocked(const std::vector<SearchableItem>& items) {
    sqlite3_stmt* upsert = statements_->upsert;
    for (const auto& item : items) {
        const auto& set = item.attributeSet;
        bindText(upsert, 1, item.uniqueIdentifier);
        bindText(upsert, 2, item.domainIdentifier);
        bindText(upsert, 3, set.contentType);
        bindText(upsert, 4, set.accountIdentifier);
        bindText(upsert, 5, set.title);
        bindText(upsert, 6, set.contentDescription);
        sqlite3_bind_int(upsert, 7, set.supportsPhoneCall ? 1 : 0);
        const int done = sqlite3_step(upsert);
        sqlite3_reset(upsert);
        if (done != SQLITE_DONE) return sqliteError(db_, "an item");
    }
    sqlite3_clear_bindings(upsert);
    return {};
}

void SearchableIndex::deleteSearchableItemsWithIdentifiers(const std::vector<std::string>& uniqueIdentifiers) {
    std::lock_guard lock(mutex_);
    changeLocked("delete", [&]() HX_REQUIRES(mutex_) { return deleteIdentifiersLocked(uniqueIdentifiers); });
}

foundation::Status SearchableIndex::deleteIdentifiersLocked(const std::vector<std::string>& uniqueIdentifiers) {
    for (const auto& id : uniqueIdentifiers) {
        bindText(statements_->deleteId, 1, id);
        const int done = sqlite3_step(statements_->deleteId);
        sqlite3_reset(statements_->deleteId);
        if (done != SQLITE_DONE) return sqliteError(db_, "a deletion");
    }
    return {};
}

void SearchableIndex::deleteSearchableItemsWithDomainIdentifiers(const std::vector<std::string>& domains) {
    std::lock_guard lock(mutex_);
    changeLocked("delete domains", [&]() HX_REQUIRES(mutex_) { return deleteDomainsLocked(domains); });
}

foundation::Status SearchableIndex::deleteDomainsLocked(const std::vector<std::string>& domains) {
    if (domains.empty()) return {};
    // Each domain itself and its sub-domains ("<domain>.<...>"): a row's domain is looked up whole
    // and by each of its beginnings before a dot, the domains of the call in a set.
    const std::unordered_set<std::string_view> wanted(domains.begin(), domains.end());
    std::vector<int64_t> doomed;
    sqlite3_stmt* scan = nullptr;
    if (sqlite3_prepare_v2(db_, "SELECT seq, domain FROM item", -1, &scan, nullptr) != SQLITE_OK)
        return sqliteError(db_, "a domain's deletion");
    int step;
    while ((step = sqlite3_step(scan)) == SQLITE_ROW) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(scan, 1));
        const std::string_view domain(text ? text : "", static_cast<size_t>(sqlite3_column_bytes(scan, 1)));
        bool match = wanted.count(domain) != 0;
        for (size_t dot = domain.find('.'); !match && dot != std::string_view::npos; dot = domain.find('.', dot + 1))
            match = wanted.count(domain.substr(0, dot)) != 0;
        if (match) doomed.push_back(sqlite3_column_int64(scan, 0));
    }
    sqlite3_finalize(scan);
    if (step != SQLITE_DONE) return sqliteError(db_, "a domain's deletion");
    sqlite3_stmt* remove = statements_->deleteSeq;
    for (const int64_t seq : doomed) {
        sqlite3_bind_int64(remove, 1, seq);
        const int done = sqlite3_step(remove);
        sqlite3_reset(remove);
        if (done != SQLITE_DONE) return sqliteError(db_, "a domain's deletion");
    }
    return {};
}

void SearchableIndex::deleteAllSearchableItems() {
    std::lock_guard lock(mutex_);
    changeLocked("delete all", [&]() HX_REQUIRES(mutex_) { return deleteAllLocked(); });
}

foundation::Status SearchableIndex::deleteAllLocked() { return execLocked("DELETE FROM item"); }

// ---- reading

std::vector<SearchableItem> SearchableIndex::items() const {
    std::lock_guard lock(mutex_);
    return itemsLocked();
}

std::vector<SearchableItem> SearchableIndex::itemsLocked() const {
    std::vector<SearchableItem> out;
    ensureOpenLocked();
    if (!db_) return out;
    sqlite3_stmt* all = nullptr;
    const std::string sql = std::string("SELECT ") + kColumns + " FROM item ORDER BY seq";
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &all, nullptr) == SQLITE_OK)
        while (sqlite3_step(all) == SQLITE_ROW) out.push_back(rowItem(all));
    sqlite3_finalize(all);
    return out;
}

std::vector<SearchableItem> SearchableIndex::search(std::string_view query, size_t limit) const {
    std::vector<std::string> words;
    for (auto& word : foundation::split(searchLowercase(query), " "))
        if (!word.empty()) words.push_back(std::move(word));
    std::vector<SearchableItem> found;
    if (words.empty() || limit == 0) return found;
    std::lock_guard lock(mutex_);
    ensureOpenLocked();
    if (!db_) return found;
    // The items are read in order, a page at a time, and each one's texts compared as they lie
    // in the page: only a hit becomes an item. The words are compared as text, never handed to
    // the library as a query.
    sqlite3_stmt* all = nullptr;
    const std::string sql = std::string("SELECT title, description, ") + kColumns + " FROM item ORDER BY seq";
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &all, nullptr) != SQLITE_OK) return found;
    std::string text;
    while (found.size() < limit && sqlite3_step(all) == SQLITE_ROW) {
        const auto* title = reinterpret_cast<const char*>(sqlite3_column_text(all, 0));
        const int titleBytes = sqlite3_column_bytes(all, 0);
        const auto* description = reinterpret_cast<const char*>(sqlite3_column_text(all, 1));
        const int descriptionBytes = sqlite3_column_bytes(all, 1);
        text.assign(title ? title : "", static_cast<size_t>(titleBytes));
        text += '\n';
        text.append(description ? description : "", static_cast<size_t>(descriptionBytes));
        const std::string lower = searchLowercase(text);
        if (std::all_of(words.begin(), words.end(),
                        [&](const std::string& word) { return lower.find(word) != std::string::npos; }))
            found.push_back(rowItem(all, 2));
    }
    sqlite3_finalize(all);
    return found;
}

std::string SearchableIndex::generation() const {
    std::lock_guard lock(mutex_);
    return generation_;
}

foundation::Status SearchableIndex::writeKeptFile() {
    std::lock_guard lock(mutex_);
    if (keptPath_.empty() || !db_) return {};
    if (sqlite3_wal_checkpoint_v2(db_, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr) != SQLITE_OK)
        return sqliteError(db_, keptPath_.string() + " was not written whole");
    return {};
}

}  // namespace services
